// The fast cipher; see VdbFastEncryption.h.
#include "storage/VdbFastEncryption.h"

#include <bit>

namespace vdb {

namespace {

// Pass constants C1..C4 (part of the stored format: never change).
struct TFastPass {
  std::uint16_t C1, C2, C3, C4;
  bool Backward;
};
constexpr TFastPass kPasses[3] = {
    {0x99AB, 0xBE0F, 0x3496, 0xE538, false},
    {0x2347, 0xCD15, 0x27BE, 0x83AD, true},
    {0x1D21, 0x46F8, 0x733F, 0x87B7, false},
};

constexpr std::uint32_t kTextHashSeed = 0x5B2E91D4;

// One pass over the block. B and D are the two 16-bit registers (bl, bh, dl, dh their bytes);
// steps 1-5 advance them for every byte, step 6 transforms the byte and feeds the enciphered
// byte back. Written as one loop over plain integers: the cipher runs over every tile.
template <bool Decipher>
void RunPass(std::uint32_t key, const TFastPass& p, std::uint8_t* data, std::size_t size) {
  std::uint32_t b = key & 0xFFFFu;
  std::uint32_t d = key >> 16;
  for (std::size_t i = 0; i < size; ++i) {
    std::uint8_t* const byte = data + (p.Backward ? size - 1 - i : i);
    d += p.C1;                                // 1: keep the carry
    b = (b + p.C2 + (d >> 16)) & 0xFFFFu;
    d &= 0xFFFFu;
    const std::uint32_t c2 = b >> 15;         // 2
    b = (b << 1) & 0xFFFFu;
    const std::uint32_t c3 = d & 1u;          // 3
    d = (c2 << 15) | (d >> 1);
    b = (b & 0xFF00u) | ((b + c3) & 0xFFu);   // 4: no carry into bh
    // 5, without a branch: the parity of bl is as good as random, so a jump would be
    // mispredicted half of the time. `m` is all ones when bl has an even number of 1 bits.
    std::uint32_t parity = b & 0xFFu;
    parity ^= parity >> 4;
    parity ^= parity >> 2;
    parity ^= parity >> 1;
    const std::uint32_t m = 0u - (~parity & 1u);
    b ^= p.C3 & m;
    d ^= p.C4 & m;
    const std::uint32_t swap = ((d & 0xFFu) ^ (b >> 8)) & m;  // exchange dl and bh
    d ^= swap;
    b ^= swap << 8;
    const std::uint32_t rotated = ((d >> 1) | (d << 15)) & 0xFFFFu;
    d = (d & ~m) | (rotated & m);
    const std::uint32_t dh = d >> 8;           // 6
    std::uint8_t enciphered;
    if constexpr (Decipher) {
      enciphered = *byte;
      *byte = static_cast<std::uint8_t>(enciphered - dh);
    } else {
      enciphered = static_cast<std::uint8_t>(*byte + dh);
      *byte = enciphered;
    }
    b ^= enciphered;                            // bl ^= c
    d ^= (b & 0xFFu) << 8;                      // dh ^= bl
  }
}

}  // namespace

std::uint32_t VdbTextHash(std::u16string_view text) noexcept {
  std::uint32_t h = kTextHashSeed;
  for (std::size_t i = 0; i < text.size(); ++i) {
    // Positions count from 1: odd positions go to the high half.
    h += i % 2 == 0 ? std::uint32_t{text[i]} << 16 : std::uint32_t{text[i]};
    h = std::rotr(h, 8);
  }
  return h;
}

TVdbFastEncryption::~TVdbFastEncryption() { VdbWipe(&FKey, sizeof FKey); }

void TVdbFastEncryption::EncryptBlock(std::uint8_t* data, std::size_t size) {
  if (size == 0) return;
  for (const TFastPass& p : kPasses) RunPass<false>(FKey, p, data, size);
}

void TVdbFastEncryption::DecryptBlock(std::uint8_t* data, std::size_t size) {
  if (size == 0) return;
  for (int pass = 2; pass >= 0; --pass) RunPass<true>(FKey, kPasses[pass], data, size);
}

}  // namespace vdb
