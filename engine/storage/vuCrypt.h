// The table's cryptor: the encryption method and key text of a table, the cipher made from
// them, the password part that headers store (scrambled), and the method codes of the data
// file header. The cipher contract itself (TVdbEncryption, IvuCryptor) is the storage seam in
// VdbEncryption.h; this unit implements it for the methods that encipher nothing (none and
// protection by password). The enciphering methods are recognised, stored and refused with
// engine error 187 until their ciphers exist, so no table is ever written in plain bytes
// under a method that promises encryption.
//
// Threads: a cryptor belongs to one table object and is used by one thread at a time; the
// free functions may be called from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "storage/VdbEncryption.h"

namespace vdb {

enum TvuEncryptionMethod : std::uint8_t {
  emNone = 0,
  emProtection = 1,
  emClassic1 = 2,
  emClassic5 = 3,
  emFast = 4,
  emBlowfish = 5,
  emRijndael = 6
};

// Encryption codes of the data file header (stored on disk: never renumber).
inline constexpr std::uint8_t kVdbEncCodeNone = 1;
inline constexpr std::uint8_t kVdbEncCodeProtection = 2;
inline constexpr std::uint8_t kVdbEncCodeClassic = 3;
inline constexpr std::uint8_t kVdbEncCodeFast = 4;
inline constexpr std::uint8_t kVdbEncCodeBlowfish = 5;
inline constexpr std::uint8_t kVdbEncCodeRijndael = 6;

// The header code of a method (both classic methods store 3).
std::uint8_t VdbEncryptionCode(TvuEncryptionMethod method) noexcept;
// The method of a header code: 0 and unknown codes read as none, 3 as classic 5.
TvuEncryptionMethod VdbEncryptionMethodOfCode(std::uint8_t code) noexcept;

// The password scramble of table headers: characters in reverse order, each complemented
// bitwise. Its own inverse. The 8-bit form works on bytes.
std::u16string VdbScramblePassword(std::u16string_view text);
std::string VdbScramblePassword8(std::string_view bytes);

// The cipher of none and protection: leaves every byte as it is.
class TVdbNoEncryption final : public TVdbEncryption {
 public:
  void EncryptBlock(std::uint8_t*, std::size_t) override {}
  void DecryptBlock(std::uint8_t*, std::size_t) override {}
};

class TvuCryptor final : public IvuCryptor {
 public:
  TvuCryptor() = default;
  TvuCryptor(TvuEncryptionMethod method, std::u16string key) : FEncryptionMethod(method), FKey(std::move(key)) {}

  TvuEncryptionMethod EncryptionMethod() const noexcept { return FEncryptionMethod; }
  // Changing the method drops the cipher.
  void SetEncryptionMethod(TvuEncryptionMethod method);
  const std::u16string& Key() const noexcept { return FKey; }
  // Replaces the key text when different (and drops the cipher).
  void SetKey(std::u16string_view key);

  // Prepares the cipher. False when a method other than none needs a key and the key text is
  // empty, or the key is malformed (a classic key without ";"). Raises EVdbEngine 187 for a
  // method whose cipher this build does not have.
  bool Initialize();
  // The cipher made by Initialize; null for none and protection (nothing is enciphered).
  TVdbEncryption* Encryption() const noexcept { return FEncryption.get(); }
  // A new cipher for the method and key; null for none and protection. Raises 187 as
  // Initialize for the enciphering methods.
  std::unique_ptr<TVdbEncryption> CreateEncryption() const override;
  // Whether `other` deciphers what this cryptor's cipher enciphers: a 4000-byte buffer of the
  // integers 0..999 goes through both.
  bool IsCorrectEncryption(TVdbEncryption& other) const override;
  // The password part headers store: classic 1: the text before ";" upper-cased and cut to
  // 10 characters ("Invalid Key" without ";"); protection: the first 10 characters of the
  // key; other methods: empty.
  std::u16string GetPassword() const;
  // True when the key text contains ";" (a numeric key part).
  bool CanBeClassic() const noexcept { return FKey.find(u';') != std::u16string::npos; }
  // Drops the cipher.
  void Reset() noexcept { FEncryption.reset(); }

 private:
  TvuEncryptionMethod FEncryptionMethod = emNone;
  std::u16string FKey;
  std::unique_ptr<TVdbEncryption> FEncryption;
};

}  // namespace vdb
