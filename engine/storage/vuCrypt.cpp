// The table cryptor; see vuCrypt.h.
#include "storage/vuCrypt.h"

#include <algorithm>
#include <vector>

#include "base/VdbErrorCodes.h"
#include "base/VdbErrors.h"
#include "base/vuLittleEndian.h"

namespace vdb {

namespace {

constexpr std::size_t kPasswordLength = 10;
constexpr int kProbeIntegers = 1000;

bool IsEnciphering(TvuEncryptionMethod m) {
  return m != emNone && m != emProtection;
}

[[noreturn]] void NoCipher(TvuEncryptionMethod m) {
  static constexpr const char16_t* kNames[] = {u"", u"", u"Classic encryption", u"Classic encryption",
                                               u"Fast encryption", u"Blowfish encryption",
                                               u"Rijndael encryption"};
  RaiseEngineError(errNotSupported, {std::u16string(kNames[m <= emRijndael ? m : 0])});
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

void TvuCryptor::SetKey(std::u16string_view key) {
  if (key == FKey) return;
  FKey = std::u16string(key);
  FEncryption.reset();
}

bool TvuCryptor::Initialize() {
  FEncryption.reset();
  if (FEncryptionMethod != emNone && FKey.empty()) return false;
  if ((FEncryptionMethod == emClassic1 || FEncryptionMethod == emClassic5) && !CanBeClassic()) return false;
  FEncryption = CreateEncryption();
  return true;
}

std::unique_ptr<TVdbEncryption> TvuCryptor::CreateEncryption() const {
  if (IsEnciphering(FEncryptionMethod)) NoCipher(FEncryptionMethod);
  return nullptr;
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
