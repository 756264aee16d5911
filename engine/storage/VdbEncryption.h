// The cipher seam of the storage classes: a cipher object that enciphers and deciphers blocks
// in place without changing their length, and the cryptor that makes ciphers for a table's
// key. The page manager and the streams only need these two contracts; the methods
// themselves (fast, Blowfish, Rijndael) live with the table encryption.
//
// Threads: a cipher object keeps chaining state while it works on a block and is used by one
// storage or stream at a time; a cryptor may make ciphers from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace vdb {

// Overwrites key material and plaintext with zeros in a way the compiler may not drop.
inline void VdbWipe(void* data, std::size_t size) noexcept {
  if (size > 0) ::explicit_bzero(data, size);
}

class TVdbEncryption {
 public:
  virtual ~TVdbEncryption() = default;
  // Each call works on the whole block independently of every other block, so blocks can be
  // read at random. The length never changes.
  virtual void EncryptBlock(std::uint8_t* data, std::size_t size) = 0;
  virtual void DecryptBlock(std::uint8_t* data, std::size_t size) = 0;
};

class IvuCryptor {
 public:
  virtual ~IvuCryptor() = default;
  // A new cipher for the cryptor's method and key; null when the cryptor enciphers nothing
  // (no method, or protection by password only).
  virtual std::unique_ptr<TVdbEncryption> CreateEncryption() const = 0;
  // True when `other` deciphers what this cryptor's cipher enciphers (same method and key).
  virtual bool IsCorrectEncryption(TVdbEncryption& other) const = 0;
};

}  // namespace vdb
