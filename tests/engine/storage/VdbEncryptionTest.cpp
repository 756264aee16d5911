// The ciphers of table encryption: published known answers for Blowfish and AES through our
// classes, the chaining with its tail rule, and for every method a 4096-byte block that comes
// back as it was, blocks that decipher alone, and keys that tell ciphers apart.
#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "storage/VdbDCPEncryption.h"
#include "storage/VdbFastEncryption.h"
#include "storage/vuCrypt.h"

namespace vdb {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Hex(std::string_view text) {
  Bytes out;
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
    out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(text.substr(i, 2)), nullptr, 16)));
  }
  return out;
}

std::uint32_t Seed() {
  const char* text = std::getenv("VIDORA_SEED");
  const std::uint32_t seed = text ? static_cast<std::uint32_t>(std::strtoul(text, nullptr, 10)) : std::random_device{}();
  std::cout << "[ seed     ] VIDORA_SEED=" << seed << std::endl;
  return seed;
}

Bytes RandomBytes(std::mt19937& rng, std::size_t n) {
  Bytes b(n);
  for (auto& x : b) x = static_cast<std::uint8_t>(rng());
  return b;
}

TEST(VdbEncryptionTest, BlowfishKnownAnswers) {
  struct TVector {
    const char* Key;
    const char* Plain;
    const char* Cipher;
  };
  // Published Blowfish test vectors (64-bit keys).
  const TVector vectors[] = {
      {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
      {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
      {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
      {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
      {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
      {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
  };
  for (const auto& v : vectors) {
    const Bytes key = Hex(v.Key), plain = Hex(v.Plain), cipher = Hex(v.Cipher);
    TVdbBlowfishEncryption bf(key.data(), key.size());
    ASSERT_EQ(bf.CipherBlockSize(), 8u);
    Bytes out(8);
    bf.EncipherRaw(out.data(), plain.data());
    EXPECT_EQ(out, cipher) << v.Key;
    bf.DecipherRaw(out.data(), out.data());
    EXPECT_EQ(out, plain) << v.Key;
  }
}

TEST(VdbEncryptionTest, RijndaelKnownAnswers) {
  struct TVector {
    const char* Key;
    const char* Plain;
    const char* Cipher;
  };
  // The AES-128 examples of the standard's appendices.
  const TVector vectors[] = {
      {"000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff", "69c4e0d86a7b0430d8cdb78070b4c55a"},
      {"2b7e151628aed2a6abf7158809cf4f3c", "3243f6a8885a308d313198a2e0370734", "3925841d02dc09fbdc118597196a0b32"},
  };
  for (const auto& v : vectors) {
    const Bytes key = Hex(v.Key), plain = Hex(v.Plain), cipher = Hex(v.Cipher);
    TVdbRijndaelEncryption aes(key.data());
    ASSERT_EQ(aes.CipherBlockSize(), 16u);
    Bytes out(16);
    aes.EncipherRaw(out.data(), plain.data());
    EXPECT_EQ(out, cipher) << v.Key;
    aes.DecipherRaw(out.data(), out.data());
    EXPECT_EQ(out, plain) << v.Key;
  }
}

// The published CBC example (AES-128) through EncryptBlock: our chaining starts at the
// encryption of a zero block, so the first plaintext block is shifted by the difference of
// the two initial vectors; from then on the published ciphertext must come out unchanged.
TEST(VdbEncryptionTest, RijndaelChainingMatchesThePublishedCbcExample) {
  const Bytes key = Hex("2b7e151628aed2a6abf7158809cf4f3c");
  const Bytes iv = Hex("000102030405060708090a0b0c0d0e0f");
  const Bytes plain = Hex(
      "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
      "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
  const Bytes cipher = Hex(
      "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
      "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7");
  TVdbRijndaelEncryption aes(key.data());
  Bytes zero(16, 0), ownIv(16);
  aes.EncipherRaw(ownIv.data(), zero.data());
  EXPECT_TRUE(std::equal(ownIv.begin(), ownIv.end(), aes.InitialVector()));
  Bytes data = plain;
  for (std::size_t i = 0; i < 16; ++i) data[i] ^= static_cast<std::uint8_t>(iv[i] ^ ownIv[i]);
  Bytes shifted = data;
  aes.EncryptBlock(data.data(), data.size());
  EXPECT_EQ(data, cipher);
  aes.DecryptBlock(data.data(), data.size());
  EXPECT_EQ(data, shifted);
}

// A tail shorter than a cipher block is XOR-ed with the encryption of the last enciphered
// block; a block shorter than the cipher's with the encryption of the initial vector.
TEST(VdbEncryptionTest, TheTailIsXoredWithTheEncryptionOfTheChainingValue) {
  const Bytes key = Hex("0123456789ABCDEF");
  TVdbBlowfishEncryption bf(key.data(), key.size());
  Bytes data(8 + 5);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 1);
  const Bytes plain = data;
  bf.EncryptBlock(data.data(), data.size());
  Bytes first(8), pad(8);
  for (std::size_t i = 0; i < 8; ++i) first[i] = plain[i] ^ bf.InitialVector()[i];
  bf.EncipherRaw(first.data(), first.data());
  EXPECT_TRUE(std::equal(first.begin(), first.end(), data.begin()));
  bf.EncipherRaw(pad.data(), first.data());
  for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(data[8 + i], plain[8 + i] ^ pad[i]) << i;

  Bytes shortBlock = {1, 2, 3};
  bf.EncryptBlock(shortBlock.data(), shortBlock.size());
  bf.EncipherRaw(pad.data(), bf.InitialVector());
  EXPECT_EQ(shortBlock, (Bytes{static_cast<std::uint8_t>(1 ^ pad[0]), static_cast<std::uint8_t>(2 ^ pad[1]),
                               static_cast<std::uint8_t>(3 ^ pad[2])}));
}

TEST(VdbEncryptionTest, KeysComeFromTheMd5OfTheKeyTextAndTheTextHash) {
  // MD5 of the UTF-16LE bytes of "abc" (61 00 62 00 63 00).
  const auto digest = VdbKeyDigest(u"abc");
  EXPECT_EQ(Bytes(digest.begin(), digest.end()), Hex("ce1473cf80c6b3fda8e3dfc006adc315"));
  TVdbBlowfishEncryption fromText(u"abc");
  TVdbBlowfishEncryption fromDigest(digest.data(), digest.size());
  EXPECT_TRUE(std::equal(fromText.InitialVector(), fromText.InitialVector() + 8, fromDigest.InitialVector()));
  TVdbRijndaelEncryption aesText(u"abc");
  TVdbRijndaelEncryption aesDigest(digest.data());
  EXPECT_TRUE(std::equal(aesText.InitialVector(), aesText.InitialVector() + 16, aesDigest.InitialVector()));

  EXPECT_EQ(VdbTextHash(u""), 0x5B2E91D4u);
  // "A" at position 1 goes to the high half: 0x5B2E91D4 + 0x00410000, rotated right by 8.
  EXPECT_EQ(VdbTextHash(u"A"), 0xD45B6F91u);
  EXPECT_NE(VdbTextHash(u"AB"), VdbTextHash(u"BA"));
}

struct TMethodCase {
  TvuEncryptionMethod Method;
  const char16_t* Key;
  const char* Name;
};
const TMethodCase kMethods[] = {
    {emClassic1, u"jelszo;4711", "Classic1"}, {emClassic5, u"jelszo;4711", "Classic5"},
    {emFast, u"Titkos jelsz\u00f3", "Fast"},  {emBlowfish, u"Titkos jelsz\u00f3", "Blowfish"},
    {emRijndael, u"Titkos jelsz\u00f3", "Rijndael"},
};

class VdbEncryptionMethod : public ::testing::TestWithParam<TMethodCase> {};

TEST_P(VdbEncryptionMethod, ABlockComesBackAndEveryBlockDeciphersAlone) {
  const TMethodCase m = GetParam();
  std::mt19937 rng(Seed());
  TvuCryptor cryptor(m.Method, m.Key);
  ASSERT_TRUE(cryptor.Initialize());
  TVdbEncryption& cipher = *cryptor.Encryption();

  const Bytes plain = RandomBytes(rng, 4096);
  Bytes block = plain;
  cipher.EncryptBlock(block.data(), block.size());
  EXPECT_NE(block, plain);
  cipher.DecryptBlock(block.data(), block.size());
  EXPECT_EQ(block, plain);

  // Eight blocks enciphered one after another; block 5 deciphers alone with a fresh cipher.
  std::vector<Bytes> blocks;
  for (int i = 0; i < 8; ++i) blocks.push_back(RandomBytes(rng, 4096));
  std::vector<Bytes> stored = blocks;
  for (auto& b : stored) cipher.EncryptBlock(b.data(), b.size());
  auto fresh = cryptor.CreateEncryption();
  Bytes fifth = stored[5];
  fresh->DecryptBlock(fifth.data(), fifth.size());
  EXPECT_EQ(fifth, blocks[5]);
  // The same bytes encipher the same way wherever they stand.
  Bytes again = blocks[5];
  fresh->EncryptBlock(again.data(), again.size());
  EXPECT_EQ(again, stored[5]);

  // Lengths that are no multiple of any cipher block: records, short strings, one byte.
  for (std::size_t n : {1u, 3u, 7u, 8u, 9u, 15u, 16u, 17u, 80u, 523u, 4095u}) {
    const Bytes p = RandomBytes(rng, n);
    Bytes b = p;
    cipher.EncryptBlock(b.data(), b.size());
    EXPECT_EQ(b.size(), n);
    cipher.DecryptBlock(b.data(), b.size());
    EXPECT_EQ(b, p) << n;
  }
}

TEST_P(VdbEncryptionMethod, OnlyTheSameMethodAndKeyDecipher) {
  const TMethodCase m = GetParam();
  TvuCryptor cryptor(m.Method, m.Key);
  ASSERT_TRUE(cryptor.Initialize());
  auto same = cryptor.CreateEncryption();
  EXPECT_TRUE(cryptor.IsCorrectEncryption(*same));
  const std::u16string wrongKey = std::u16string(m.Key) + u"1";
  TvuCryptor wrong(m.Method, wrongKey);
  ASSERT_TRUE(wrong.Initialize());
  EXPECT_FALSE(cryptor.IsCorrectEncryption(*wrong.Encryption()));
  for (const TMethodCase& other : kMethods) {
    if (other.Method == m.Method) continue;
    TvuCryptor o(other.Method, m.Key);
    if (!o.Initialize()) continue;
    EXPECT_FALSE(cryptor.IsCorrectEncryption(*o.Encryption())) << other.Name;
  }
  TVdbNoEncryption none;
  EXPECT_FALSE(cryptor.IsCorrectEncryption(none));
}

INSTANTIATE_TEST_SUITE_P(AllMethods, VdbEncryptionMethod, ::testing::ValuesIn(kMethods),
                         [](const auto& info) { return std::string(info.param.Name); });

// The classic methods are the fast cipher under the numeric key part: read as a number
// (classic 1) or hashed as text (classic 5); the fast method hashes the whole key text.
TEST(VdbEncryptionTest, ClassicAndFastKeys) {
  const Bytes plain(100, 0x41);
  auto run = [&](TVdbEncryption& c) {
    Bytes b = plain;
    c.EncryptBlock(b.data(), b.size());
    return b;
  };
  TvuCryptor classic1(emClassic1, u"jelszo;4711"), classic5(emClassic5, u"jelszo;4711"), fast(emFast, u"jelszo;4711");
  ASSERT_TRUE(classic1.Initialize() && classic5.Initialize() && fast.Initialize());
  TVdbFastEncryption k4711(4711), hashed(VdbTextHash(u"4711")), whole(VdbTextHash(u"jelszo;4711"));
  EXPECT_EQ(run(*classic1.Encryption()), run(k4711));
  EXPECT_EQ(run(*classic5.Encryption()), run(hashed));
  EXPECT_EQ(run(*fast.Encryption()), run(whole));
  // The password part does not enter the classic key: only the number does.
  TvuCryptor otherPassword(emClassic1, u"masik;4711");
  ASSERT_TRUE(otherPassword.Initialize());
  EXPECT_EQ(run(*otherPassword.Encryption()), run(k4711));
}

// Known answers of the fast cipher and the text hash, worked out by a separate model of the
// three passes written apart from the engine.
TEST(VdbEncryptionTest, FastCipherKnownAnswers) {
  const std::string text = "Vidora fast cipher";
  const Bytes plain(text.begin(), text.end());
  const std::pair<std::uint32_t, const char*> vectors[] = {
      {0x12345678u, "e95ccdacbedf63abc2b5d6045f7183987845"},
      {0u, "5f1b155288eedb1d6cd35f4e3ee3b58f2403"},
  };
  for (const auto& [key, cipher] : vectors) {
    TVdbFastEncryption fast(key);
    Bytes b = plain;
    fast.EncryptBlock(b.data(), b.size());
    EXPECT_EQ(b, Hex(cipher)) << key;
    fast.DecryptBlock(b.data(), b.size());
    EXPECT_EQ(b, plain);
  }
  EXPECT_EQ(VdbTextHash(u"jelszo;4711"), 0x4a97ad03u);
  EXPECT_EQ(VdbTextHash(u"4711"), 0x8c62c905u);
}

// Changing one byte in the middle changes bytes before and after it: the backward pass
// carries it to the front, the forward passes to the end.
TEST(VdbEncryptionTest, TheFastCipherSpreadsAChangeBothWays) {
  TVdbFastEncryption cipher(0x12345678);
  Bytes a(64, 0), b(64, 0);
  b[32] = 1;
  cipher.EncryptBlock(a.data(), a.size());
  cipher.EncryptBlock(b.data(), b.size());
  EXPECT_NE(a[0], b[0]);
  EXPECT_NE(a[63], b[63]);
  EXPECT_NE(a, Bytes(64, 0));
}

}  // namespace
}  // namespace vdb
