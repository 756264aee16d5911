// The block ciphers of the strong methods: Blowfish and Rijndael (AES) with a 128-bit key,
// the MD5 digest of the key text's UTF-16LE bytes. Every call restarts the chaining at the
// initial vector (the cipher's encryption of an all-zero block) and runs CBC over the whole
// block, so each record, memo block or tile is enciphered on its own and any of them can be
// read alone. A tail shorter than the cipher block is XOR-ed with the encryption of the
// current chaining value, so the length never changes. The key schedule is wiped when the
// object goes.
//
// Threads: the chaining value lives on the caller's stack and the key schedule is only read,
// so one object may serve several threads; each storage still gets its own.
#pragma once

#include <nettle/aes.h>
#include <nettle/blowfish.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "storage/VdbEncryption.h"

namespace vdb {

// MD5 of the UTF-16LE bytes of `key`: the 128-bit key of both block ciphers.
std::array<std::uint8_t, 16> VdbKeyDigest(std::u16string_view key);

class TVdbDCPEncryption : public TVdbEncryption {
 public:
  void EncryptBlock(std::uint8_t* data, std::size_t size) final;
  void DecryptBlock(std::uint8_t* data, std::size_t size) final;

  // The cipher block size: 8 (Blowfish) or 16 (Rijndael).
  std::size_t CipherBlockSize() const noexcept { return FBlockSize; }
  // One cipher block in ECB form (the primitive under the chaining); dst may equal src.
  virtual void EncipherRaw(std::uint8_t* dst, const std::uint8_t* src) const = 0;
  virtual void DecipherRaw(std::uint8_t* dst, const std::uint8_t* src) const = 0;
  // The encryption of an all-zero block: where the chaining of every block starts.
  const std::uint8_t* InitialVector() const noexcept { return FInitVector.data(); }

 protected:
  static constexpr std::size_t kMaxBlock = 16;
  explicit TVdbDCPEncryption(std::size_t blockSize) noexcept : FBlockSize(blockSize) {}
  ~TVdbDCPEncryption() override;
  // Sets the initial vector once the key is in place.
  void InitVector();

 private:
  std::size_t FBlockSize;
  std::array<std::uint8_t, kMaxBlock> FInitVector{};
};

class TVdbBlowfishEncryption final : public TVdbDCPEncryption {
 public:
  explicit TVdbBlowfishEncryption(std::u16string_view key);
  // Keyed with raw bytes (8..56 of them), as the published test vectors are.
  TVdbBlowfishEncryption(const std::uint8_t* key, std::size_t size);
  ~TVdbBlowfishEncryption() override;

  void EncipherRaw(std::uint8_t* dst, const std::uint8_t* src) const override;
  void DecipherRaw(std::uint8_t* dst, const std::uint8_t* src) const override;

 private:
  void SetKey(const std::uint8_t* key, std::size_t size);
  blowfish_ctx FCipher{};
};

class TVdbRijndaelEncryption final : public TVdbDCPEncryption {
 public:
  explicit TVdbRijndaelEncryption(std::u16string_view key);
  // Keyed with 16 raw bytes, as the published test vectors are.
  explicit TVdbRijndaelEncryption(const std::uint8_t* key16);
  ~TVdbRijndaelEncryption() override;

  void EncipherRaw(std::uint8_t* dst, const std::uint8_t* src) const override;
  void DecipherRaw(std::uint8_t* dst, const std::uint8_t* src) const override;

 private:
  void SetKey(const std::uint8_t* key16);
  aes128_ctx FCipher{};
  aes128_ctx FDecipher{};
};

}  // namespace vdb
