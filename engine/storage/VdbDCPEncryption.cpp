// Blowfish and Rijndael over Nettle; see VdbDCPEncryption.h.
#include "storage/VdbDCPEncryption.h"

#include <nettle/md5.h>
#include <nettle/memxor.h>

#include <algorithm>
#include <vector>

namespace vdb {

std::array<std::uint8_t, 16> VdbKeyDigest(std::u16string_view key) {
  std::vector<std::uint8_t> bytes(key.size() * 2);
  for (std::size_t i = 0; i < key.size(); ++i) {
    bytes[2 * i] = static_cast<std::uint8_t>(key[i]);
    bytes[2 * i + 1] = static_cast<std::uint8_t>(key[i] >> 8);
  }
  md5_ctx md5;
  md5_init(&md5);
  md5_update(&md5, bytes.size(), bytes.data());
  std::array<std::uint8_t, 16> digest{};
  md5_digest(&md5, digest.size(), digest.data());
  VdbWipe(bytes.data(), bytes.size());
  VdbWipe(&md5, sizeof md5);
  return digest;
}

TVdbDCPEncryption::~TVdbDCPEncryption() { VdbWipe(FInitVector.data(), FInitVector.size()); }

void TVdbDCPEncryption::InitVector() {
  const std::array<std::uint8_t, kMaxBlock> zero{};
  EncipherRaw(FInitVector.data(), zero.data());
}

void TVdbDCPEncryption::EncryptBlock(std::uint8_t* data, std::size_t size) {
  const std::size_t n = FBlockSize;
  const std::uint8_t* chain = FInitVector.data();
  std::size_t pos = 0;
  for (; pos + n <= size; pos += n) {
    memxor(data + pos, chain, n);
    EncipherRaw(data + pos, data + pos);
    chain = data + pos;
  }
  if (pos < size) {
    std::array<std::uint8_t, kMaxBlock> pad{};
    EncipherRaw(pad.data(), chain);
    memxor(data + pos, pad.data(), size - pos);
    VdbWipe(pad.data(), pad.size());
  }
}

void TVdbDCPEncryption::DecryptBlock(std::uint8_t* data, std::size_t size) {
  const std::size_t n = FBlockSize;
  std::array<std::uint8_t, kMaxBlock> chain{}, next{};
  std::copy_n(FInitVector.data(), n, chain.data());
  std::size_t pos = 0;
  for (; pos + n <= size; pos += n) {
    std::copy_n(data + pos, n, next.data());
    DecipherRaw(data + pos, data + pos);
    memxor(data + pos, chain.data(), n);
    std::swap(chain, next);
  }
  if (pos < size) {
    // The tail was XOR-ed with the encryption of the last enciphered block (or of the vector).
    std::array<std::uint8_t, kMaxBlock> pad{};
    EncipherRaw(pad.data(), chain.data());
    memxor(data + pos, pad.data(), size - pos);
    VdbWipe(pad.data(), pad.size());
  }
  VdbWipe(next.data(), next.size());
}

// ---- Blowfish

TVdbBlowfishEncryption::TVdbBlowfishEncryption(std::u16string_view key) : TVdbDCPEncryption(BLOWFISH_BLOCK_SIZE) {
  auto digest = VdbKeyDigest(key);
  SetKey(digest.data(), digest.size());
  VdbWipe(digest.data(), digest.size());
}

TVdbBlowfishEncryption::TVdbBlowfishEncryption(const std::uint8_t* key, std::size_t size)
    : TVdbDCPEncryption(BLOWFISH_BLOCK_SIZE) {
  SetKey(key, size);
}

TVdbBlowfishEncryption::~TVdbBlowfishEncryption() { VdbWipe(&FCipher, sizeof FCipher); }

void TVdbBlowfishEncryption::SetKey(const std::uint8_t* key, std::size_t size) {
  // A weak key (a repeated S-box entry) is still a key: the schedule is complete either way.
  static_cast<void>(blowfish_set_key(&FCipher, size, key));
  InitVector();
}

void TVdbBlowfishEncryption::EncipherRaw(std::uint8_t* dst, const std::uint8_t* src) const {
  blowfish_encrypt(&FCipher, BLOWFISH_BLOCK_SIZE, dst, src);
}

void TVdbBlowfishEncryption::DecipherRaw(std::uint8_t* dst, const std::uint8_t* src) const {
  blowfish_decrypt(&FCipher, BLOWFISH_BLOCK_SIZE, dst, src);
}

// ---- Rijndael

TVdbRijndaelEncryption::TVdbRijndaelEncryption(std::u16string_view key) : TVdbDCPEncryption(AES_BLOCK_SIZE) {
  auto digest = VdbKeyDigest(key);
  SetKey(digest.data());
  VdbWipe(digest.data(), digest.size());
}

TVdbRijndaelEncryption::TVdbRijndaelEncryption(const std::uint8_t* key16) : TVdbDCPEncryption(AES_BLOCK_SIZE) {
  SetKey(key16);
}

TVdbRijndaelEncryption::~TVdbRijndaelEncryption() {
  VdbWipe(&FCipher, sizeof FCipher);
  VdbWipe(&FDecipher, sizeof FDecipher);
}

void TVdbRijndaelEncryption::SetKey(const std::uint8_t* key16) {
  aes128_set_encrypt_key(&FCipher, key16);
  aes128_invert_key(&FDecipher, &FCipher);
  InitVector();
}

void TVdbRijndaelEncryption::EncipherRaw(std::uint8_t* dst, const std::uint8_t* src) const {
  aes128_encrypt(&FCipher, AES_BLOCK_SIZE, dst, src);
}

void TVdbRijndaelEncryption::DecipherRaw(std::uint8_t* dst, const std::uint8_t* src) const {
  aes128_decrypt(&FDecipher, AES_BLOCK_SIZE, dst, src);
}

}  // namespace vdb
