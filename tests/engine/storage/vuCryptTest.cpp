// The cryptor: header codes, the password part, the scramble and which keys make a cipher.
#include "storage/vuCrypt.h"

#include <gtest/gtest.h>

#include "base/VdbErrorCodes.h"
#include "base/VdbErrors.h"
#include "base/VdbFormat.h"

namespace vdb {
namespace {

TEST(vuCryptTest, HeaderCodesBothWays) {
  const std::pair<TvuEncryptionMethod, std::uint8_t> methods[] = {
      {emNone, 1}, {emProtection, 2}, {emClassic1, 3}, {emClassic5, 3}, {emFast, 4}, {emBlowfish, 5}, {emRijndael, 6}};
  for (auto [m, code] : methods) EXPECT_EQ(VdbEncryptionCode(m), code);
  const std::pair<std::uint8_t, TvuEncryptionMethod> codes[] = {
      {0, emNone}, {1, emNone}, {2, emProtection}, {3, emClassic5}, {4, emFast}, {5, emBlowfish}, {6, emRijndael}, {7, emNone}, {255, emNone}};
  for (auto [code, m] : codes) EXPECT_EQ(VdbEncryptionMethodOfCode(code), m) << int(code);
}

TEST(vuCryptTest, PasswordPartPerMethod) {
  struct TCase {
    TvuEncryptionMethod Method;
    const char16_t* Key;
    const char16_t* Password;
  };
  const TCase cases[] = {
      {emProtection, u"Titkos jelszo 123", u"Titkos jel"}, {emProtection, u"abc", u"abc"},
      {emClassic1, u"jelszo;42", u"JELSZO"},               {emClassic1, u"nokey", u"Invalid Key"},
      {emClassic1, u"hosszujelszo12;1", u"HOSSZUJELS"},    {emFast, u"anything", u""},
      {emNone, u"x", u""},
  };
  for (const auto& c : cases) EXPECT_EQ(TvuCryptor(c.Method, c.Key).GetPassword(), c.Password);
}

TEST(vuCryptTest, ScrambleIsItsOwnInverse) {
  const std::u16string text = u"Jelsz\u00f3\u0151";
  const std::u16string once = VdbScramblePassword(text);
  EXPECT_EQ(once.front(), static_cast<char16_t>(~u'\u0151'));
  EXPECT_EQ(VdbScramblePassword(once), text);
  EXPECT_EQ(VdbScramblePassword8(VdbScramblePassword8("abc")), "abc");
  EXPECT_EQ(VdbScramblePassword8("ab"), std::string({static_cast<char>(~'b'), static_cast<char>(~'a')}));
}

TEST(vuCryptTest, InitializeNeedsAWellFormedKey) {
  TvuCryptor none;
  EXPECT_TRUE(none.Initialize());
  EXPECT_EQ(none.Encryption(), nullptr);
  TvuCryptor protection(emProtection, u"");
  EXPECT_FALSE(protection.Initialize());
  protection.SetKey(u"pw");
  EXPECT_TRUE(protection.Initialize());
  EXPECT_EQ(protection.Encryption(), nullptr) << "protection enciphers nothing";
  struct TCase {
    TvuEncryptionMethod Method;
    const char16_t* Key;
    bool Ok;
  };
  const TCase cases[] = {
      {emClassic1, u"no numeric part", false}, {emClassic1, u"pw;", false},  {emClassic1, u"pw;12x", false},
      {emClassic1, u"pw;99999999999", false},  {emClassic1, u"pw;-42", true}, {emClassic1, u"pw;42", true},
      {emClassic5, u"pw", false},              {emClassic5, u"pw;", false},   {emClassic5, u"pw;7", true},
      {emFast, u"", false},                    {emFast, u"k", true},          {emBlowfish, u"", false},
      {emBlowfish, u"k", true},                {emRijndael, u"", false},      {emRijndael, u"k", true},
  };
  for (const auto& c : cases) {
    TvuCryptor cryptor(c.Method, c.Key);
    EXPECT_EQ(cryptor.Initialize(), c.Ok) << int(c.Method) << " " << VdbUtf16ToUtf8(c.Key);
    EXPECT_EQ(cryptor.Encryption() != nullptr, c.Ok);
  }
  TVdbNoEncryption plain;
  EXPECT_TRUE(none.IsCorrectEncryption(plain));
  // A cipher that changes bytes does not decipher what "none" left plain.
  class TXor final : public TVdbEncryption {
   public:
    void EncryptBlock(std::uint8_t* d, std::size_t n) override { for (std::size_t i = 0; i < n; ++i) d[i] ^= 0x5A; }
    void DecryptBlock(std::uint8_t* d, std::size_t n) override { EncryptBlock(d, n); }
  } other;
  EXPECT_FALSE(none.IsCorrectEncryption(other));
}

}  // namespace
}  // namespace vdb
