// The table cryptor; see vuCrypt.h.
#include "storage/vuCrypt.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <optional>
#include <vector>

#include "base/vuLittleEndian.h"
#include "storage/VdbDCPEncryption.h"
#include "storage/VdbFastEncryption.h"

namespace vdb {

namespace {

constexpr std::size_t kPasswordLength = 10;
constexpr int kProbeIntegers = 1000;

bool IsEnciphering(TvuEncryptionMethod m) {
  return m != emNone && m != emProtection;
}

// The numeric key part of a classic key: the text after the first ";"; empty when there is
// none.
std::u16string_view NumericPart(std::u16string_view key) {
  const auto semi = key.find(u';');
  return semi == std::u16string_view::npos ? std::u16string_view() : key.substr(semi + 1);
}

// The numeric key part read as a decimal 32-bit integer (an optional sign, then digits);
// nothing when it is not one.
std::optional<std::uint32_t> DecimalKey(std::u16string_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == u'-' || text.front() == u'+')) {
    negative = text.front() == u'-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  std::int64_t value = 0;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') return std::nullopt;
    value = value * 10 + (c - u'0');
    if (value > std::int64_t{1} << 31) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > INT32_MAX || value < INT32_MIN) return std::nullopt;
  return static_cast<std::uint32_t>(static_cast<std::int32_t>(value));
}

}  // namespace

std::uint8_t VdbEncryptionCode(TvuEncryptionMethod method) noexcept {
  switch (method) {
    case emProtection: return kVdbEncCodeProtection;
    case emClassic1:
    case emClassic5: return kVdbEncCodeClassic;
    case emFast: return kVdbEncCodeFast;
    case emBlowfish: return kVdbEncCodeBlowfish;
    case emRijndael: return kVdbEncCodeRijndael;
    default: return kVdbEncCodeNone;
  }
}

TvuEncryptionMethod VdbEncryptionMethodOfCode(std::uint8_t code) noexcept {
  switch (code) {
    case kVdbEncCodeProtection: return emProtection;
    case kVdbEncCodeClassic: return emClassic5;
    case kVdbEncCodeFast: return emFast;
    case kVdbEncCodeBlowfish: return emBlowfish;
    case kVdbEncCodeRijndael: return emRijndael;
    default: return emNone;
  }
}

std::u16string VdbScramblePassword(std::u16string_view text) {
  std::u16string out(text.rbegin(), text.rend());
  for (auto& c : out) c = static_cast<char16_t>(~c);
  return out;
}

std::string VdbScramblePassword8(std::string_view bytes) {
  std::string out(bytes.rbegin(), bytes.rend());
  for (auto& c : out) c = static_cast<char>(~static_cast<unsigned char>(c));
  return out;
}

void TvuCryptor::SetEncryptionMethod(TvuEncryptionMethod method) {
  if (method != FEncryptionMethod) FEncryption.reset();
  FEncryptionMethod = method;
}

TvuCryptor::~TvuCryptor() { VdbWipe(FKey.data(), FKey.size() * sizeof(char16_t)); }

void TvuCryptor::SetKey(std::u16string_view key) {
  if (key == FKey) return;
  FEncryption.reset();
  VdbWipe(FKey.data(), FKey.size() * sizeof(char16_t));
  FKey.assign(key);
}

bool TvuCryptor::Initialize() {
  FEncryption.reset();
  if (FEncryptionMethod != emNone && FKey.empty()) return false;
  if ((FEncryptionMethod == emClassic1 || FEncryptionMethod == emClassic5) && !CanBeClassic()) return false;
  FEncryption = CreateEncryption();
  return FEncryption != nullptr || !IsEnciphering(FEncryptionMethod);
}

std::unique_ptr<TVdbEncryption> TvuCryptor::CreateEncryption() const {
  switch (FEncryptionMethod) {
    case emClassic1: {
      const auto key = DecimalKey(NumericPart(FKey));
      if (!key) return nullptr;
      return std::make_unique<TVdbFastEncryption>(*key);
    }
    case emClassic5: {
      const std::u16string_view part = NumericPart(FKey);
      if (part.empty()) return nullptr;
      return std::make_unique<TVdbFastEncryption>(VdbTextHash(part));
    }
    case emFast: return std::make_unique<TVdbFastEncryption>(VdbTextHash(FKey));
    case emBlowfish: return std::make_unique<TVdbBlowfishEncryption>(FKey);
    case emRijndael: return std::make_unique<TVdbRijndaelEncryption>(FKey);
    default: return nullptr;
  }
}

bool TvuCryptor::IsCorrectEncryption(TVdbEncryption& other) const {
  std::vector<std::uint8_t> buffer(kProbeIntegers * 4);
  for (int i = 0; i < kProbeIntegers; ++i) vuPutU32(buffer.data() + 4 * i, static_cast<std::uint32_t>(i));
  if (FEncryption) {
    FEncryption->EncryptBlock(buffer.data(), buffer.size());
  } else {
    TVdbNoEncryption().EncryptBlock(buffer.data(), buffer.size());
  }
  other.DecryptBlock(buffer.data(), buffer.size());
  for (int i = 0; i < kProbeIntegers; ++i) {
    if (vuGetU32(buffer.data() + 4 * i) != static_cast<std::uint32_t>(i)) return false;
  }
  return true;
}

std::u16string TvuCryptor::GetPassword() const {
  switch (FEncryptionMethod) {
    case emClassic1: {
      const auto semi = FKey.find(u';');
      if (semi == std::u16string::npos) return u"Invalid Key";
      std::u16string part = FKey.substr(0, std::min(semi, kPasswordLength));
      for (auto& c : part) {
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
      }
      return part;
    }
    case emProtection: return FKey.substr(0, std::min(FKey.size(), kPasswordLength));
    default: return {};
  }
}

}  // namespace vdb
