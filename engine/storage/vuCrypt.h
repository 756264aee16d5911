// The table's cryptor: the encryption method and key text of a table, the cipher made from
// them, the password part that headers store (scrambled), and the method codes of the data
// file header. The cipher contract itself (TVdbEncryption, IvuCryptor) is the storage seam in
// VdbEncryption.h; the ciphers are TVdbFastEncryption (fast and the two classic methods of
// old tables) and the block ciphers of VdbDCPEncryption.h (Blowfish, Rijndael).
//
// Protection (emProtection) is access control, not secrecy: the table will not open without
// its password, but its records, memos and indexes are stored in plain bytes that anyone who
// can read the files can read. Only the enciphering methods keep the contents secret.
//
// The key text is wiped when it is replaced and when the cryptor goes; ciphers wipe their key
// schedules when they are dropped (Reset, a new method or key, the table's close).
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

  ~TvuCryptor() override;
  TvuCryptor(const TvuCryptor&) = delete;
  TvuCryptor& operator=(const TvuCryptor&) = delete;

  // Prepares the cipher. False when a method other than none needs a key and the key text is
  // empty, or the key is malformed (a classic key without a decimal numeric part after ";").
  bool Initialize();
  // The cipher made by Initialize; null for none and protection (nothing is enciphered).
  TVdbEncryption* Encryption() const noexcept { return FEncryption.get(); }
  // A new cipher for the method and key; null for none and protection, and for a malformed
  // classic key.
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
