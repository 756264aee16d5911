// The engine's own length-preserving byte cipher keyed by a 32-bit value (the fast method,
// and the two classic methods of old tables), and the 32-bit text hash that turns a key text
// into such a key. Three passes over the block, each feeding the enciphered bytes back into
// two 16-bit registers, so every byte depends on the key and on the bytes before it in each
// direction. Blocks are independent: every call starts from the key alone.
//
// Threads: the cipher holds only its key; any number of threads may use one object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "storage/VdbEncryption.h"

namespace vdb {

// The 32-bit key of a text (fast: the whole key text; classic 5: its numeric part).
std::uint32_t VdbTextHash(std::u16string_view text) noexcept;

class TVdbFastEncryption final : public TVdbEncryption {
 public:
  explicit TVdbFastEncryption(std::uint32_t key) noexcept : FKey(key) {}
  ~TVdbFastEncryption() override;

  void EncryptBlock(std::uint8_t* data, std::size_t size) override;
  void DecryptBlock(std::uint8_t* data, std::size_t size) override;

 private:
  std::uint32_t FKey;
};

}  // namespace vdb
