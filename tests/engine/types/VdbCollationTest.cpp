// Collations: the built-in fold-table collation, named collations and their options, Hungarian
// order of real settlement names, and code-page conversion.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <thread>

#include "SettlementsCsv.h"
#include "base/VdbFormat.h"
#include "base/VdbErrorCodes.h"
#include "base/VdbErrors.h"
#include "types/VdbCollation.h"
#include "types/VdbData.h"
#include "types/vuCodePage.h"

using namespace vdb;

namespace {

constexpr TStrCmpOptions kBuiltInDefault = scoLigatureSensitive | scoAccentSensitive;

int Sign(int v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

std::string Cp1252(std::u16string_view s) { return TvuCodePage::FromUnicode(1252, s); }



bool HasDoubledDigraph(std::u16string name) {
  for (auto& c : name)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
  for (std::u16string_view d : {u"ccs", u"ddz", u"ggy", u"lly", u"nny", u"ssz", u"tty", u"zzs"})
    if (name.find(d) != std::u16string::npos) return true;
  return false;
}

}  // namespace

TEST(VdbBuiltInCollation, FoldsCaseAccentsAndLigaturesByOption) {
  struct Case {
    std::u16string A, B;
    TStrCmpOptions Options;
    int Expected;
  } cases[] = {
      {u"Müller", u"MULLER", 0, 0},                               // case and accent ignored
      {u"Müller", u"Muller", kBuiltInDefault, 1},                 // accent tie-break
      {u"Müller", u"Mullerx", kBuiltInDefault, -1},               // length decides before accents
      {u"Müller", u"Mullex", kBuiltInDefault, -1},                // folded letters decide before accents
      {u"Straße", u"STRASSE", scoAccentSensitive, 0},             // ß expands to ss without ligatures
      {u"Straße", u"Strase", kBuiltInDefault, 1},                 // ß folds to an accented s
      {u"Straße", u"Strase", scoLigatureSensitive, 0},
      {u"Straße", u"STRASSE", kBuiltInDefault, -1},
      {u"abc", u"ABC", scoCaseSensitive, 1},                      // 'a' > 'A' by code
      {u"a^b", u"a b", kBuiltInDefault, 0},                       // '^' compares as a space
      {u"a\x7F", u"az", kBuiltInDefault, 1},                      // 0x7F sorts last
      {u"a\x7F", u"a\u00FF", kBuiltInDefault, 1},
      {u"Äbé", u"Äbe", kBuiltInDefault, 1},                       // shared accents cancel
      {u"Äbe", u"Abé", kBuiltInDefault, 1},                       // the earlier accent wins
      {u"Abé", u"Äbe", kBuiltInDefault, -1},
      {u"ab", u"abc", kBuiltInDefault, -1},                       // a prefix is less
      {u"\u00D7", u"X", 0, 1},                                    // 0xD7 stays itself
      {u"Ærø", u"AERO", 0, 1},                                    // Æ folds to a single A
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "options " << int(c.Options) << " case " << (&c - cases));
    EXPECT_EQ(Sign(VdbBuiltInCompareAnsi(Cp1252(c.A), Cp1252(c.B), c.Options)), c.Expected);
    EXPECT_EQ(Sign(VdbBuiltInCompareAnsi(Cp1252(c.B), Cp1252(c.A), c.Options)), -c.Expected);
    // Wide texts fold the same code points below 0x100.
    if (c.A.find(u'\x7F') == std::u16string::npos) {
      EXPECT_EQ(Sign(VdbBuiltInCompareWide(c.A, c.B, c.Options)), c.Expected);
    }
  }
}

TEST(VdbBuiltInCollation, TextEndingInNulComparesAsNulTerminated) {
  EXPECT_EQ(VdbBuiltInCompareAnsi(std::string("abc\0\0", 5), "abc", kBuiltInDefault), 0);
  EXPECT_EQ(VdbBuiltInCompareWide(std::u16string(u"abc\0x\0", 6), u"abc", kBuiltInDefault), 0);
  // A NUL inside the text (not last) is an ordinary character.
  EXPECT_LT(VdbBuiltInCompareAnsi(std::string("ab\0c", 4), "abc", kBuiltInDefault), 0);
}

TEST(VdbBuiltInCollation, StringTypesWithoutCollationNameUseIt) {
  const auto* t = TVdbDataType::GetStringType(vctString, true, 20, u"", 6);
  const auto& s = static_cast<const TVdbStringType&>(*t);
  EXPECT_EQ(s.LocaleId(), VDB_BUILTIN_LOCALE_ID);
  EXPECT_EQ(s.CodePage(), 1252);
  EXPECT_EQ(s.StrCmpOptions(), kBuiltInDefault);
  TVdbDataValue a, b;
  t->SetWideString(a, u"Müller");
  t->SetWideString(b, u"MULLER");
  EXPECT_EQ(TVdbDataType::Compare(a, b, *t, *t), vcrGreater);  // accent-sensitive by default
  t->SetWideString(b, u"Mullerx");
  EXPECT_EQ(TVdbDataType::Compare(a, b, *t, *t), vcrLess);
}

TEST(VdbCollationNames, SuffixesSelectCaseAndAccentSensitivity) {
  struct Case {
    std::u16string Name;
    std::uint32_t LocaleId;
    TStrCmpOptions Options;
    std::uint16_t CodePage;
  } cases[] = {
      {u"", VDB_BUILTIN_LOCALE_ID, kBuiltInDefault, 1252},
      {u"VidoraDB", VDB_BUILTIN_LOCALE_ID, kBuiltInDefault, 1252},
      {u"Hungarian", 0x040E, scoAccentSensitive, 1250},
      {u"hungarian", 0x040E, scoAccentSensitive, 1250},
      {u"Hungarian_CS", 0x040E, scoCaseSensitive | scoAccentSensitive, 1250},
      {u"Hungarian_CI_AI", 0x040E, 0, 1250},
      {u"Hungarian_ai", 0x040E, 0, 1250},
      {u"German_CS_AI", 0x0407, scoCaseSensitive, 1252},
      {u"German_CI_AS", 0x0407, scoAccentSensitive, 1252},
      {u"Russian", 0x0419, scoAccentSensitive, 1251},
      {u"Polish_CS_AS", 0x0415, scoCaseSensitive | scoAccentSensitive, 1250},
      {u"Greek", 0x0408, scoAccentSensitive, 1253},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Name.begin(), c.Name.end()));
    const TVdbCollation& col = TVdbCollation::Resolve(c.Name);
    EXPECT_EQ(col.LocaleId(), c.LocaleId);
    EXPECT_EQ(col.Options(), c.Options);
    EXPECT_EQ(col.CodePage(), c.CodePage);
  }
}

TEST(VdbCollationNames, UnknownNameRaises138WithItsMessage) {
  for (std::u16string name : {u"Klingon", u"Hungarian_XX", u"_CS", u"Hungarian_CS_CS", u"VidoraDB_CS"}) {
    SCOPED_TRACE(std::string(name.begin(), name.end()));
    try {
      TVdbCollation::Resolve(name);
      ADD_FAILURE() << "no error";
    } catch (const EVdbEngine& e) {
      EXPECT_EQ(e.Code(), errUnknownCollation);
      EXPECT_EQ(e.Message(), u"Collation \"" + name + u"\" does not exist");
    }
  }
  EXPECT_THROW(TVdbDataType::GetStringType(vctString, true, 10, u"Klingon", 6), EVdbEngine);
}

TEST(VdbHungarianCollation, OrdersRealSettlementNames) {
  // Pairs in Hungarian alphabetical order: cs after c, ö/ő after o/ó, double consonants as two.
  const std::pair<std::u16string, std::u16string> ordered[] = {
      {u"Cukor", u"Csákvár"},        {u"Czupy", u"Csabacsűd"},   {u"Ózd", u"Öcsöd"},
      {u"Öcsöd", u"Őriszentpéter"},  {u"Ózd", u"Őriszentpéter"}, {u"kaszás", u"kassza"},
      {u"megy", u"meggy"},           {u"Gyula", u"Hajdúnánás"}, {u"Nagykanizsa", u"Nyíregyháza"},
      {u"Zalaegerszeg", u"Zsámbék"}, {u"Tab", u"Tyukod"},        {u"Lovasberény", u"Lyukóbánya"},
      {u"Szolnok", u"Szőny"},        {u"Uzsa", u"Üllő"},           {u"Dunaújváros", u"Dzsida"},
  };
  for (TVdbColumnType code : {vctString, vctWideString}) {
    const auto* t = TVdbDataType::GetStringType(code, true, 60, u"Hungarian", 6);
    for (const auto& [a, b] : ordered) {
      SCOPED_TRACE(testing::Message() << "type " << code << ", pair " << (&a - &ordered[0].first));
      TVdbDataValue va, vb;
      t->SetWideString(va, a);
      t->SetWideString(vb, b);
      EXPECT_EQ(t->GetWideString(va), a);  // nothing lost in code page 1250
      EXPECT_EQ(TVdbDataType::Compare(va, vb, *t, *t), vcrLess);
      EXPECT_EQ(TVdbDataType::Compare(vb, va, *t, *t), vcrGreater);
      EXPECT_EQ(TVdbDataType::Compare(va, vb, *t, *t, 0, vcmIndex), vcrLess);
    }
  }
}

TEST(VdbHungarianCollation, CaseAndAccentOptions) {
  struct Case {
    std::u16string Collation, A, B;
    int Expected;
  } cases[] = {
      {u"Hungarian", u"budapest", u"Budapest", vcrEqual},
      {u"Hungarian_CS", u"budapest", u"Budapest", vcrLess},
      {u"Hungarian", u"Ozd", u"Ózd", vcrLess},
      {u"Hungarian_AI", u"Ozd", u"Ózd", vcrEqual},
      {u"Hungarian_AI", u"Ozd", u"Özd", vcrLess},  // ö is a letter of its own, not an accent
      {u"Hungarian_CS_AI", u"ozd", u"Ózd", vcrLess},
      {u"Hungarian_CS_AI", u"Ozd", u"Ózd", vcrEqual},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    const auto* t = TVdbDataType::GetStringType(vctString, true, 40, c.Collation, 6);
    TVdbDataValue a, b;
    t->SetWideString(a, c.A);
    t->SetWideString(b, c.B);
    EXPECT_EQ(TVdbDataType::Compare(a, b, *t, *t), c.Expected);
  }
}

TEST(VdbHungarianCollation, SettlementListIsInCollationOrderAndSurvivesCodePage1250) {
  std::vector<std::u16string> names;
  for (const auto& row : testsupport::ReadSettlements()) names.push_back(row[testsupport::scTELEP]);
  ASSERT_GT(names.size(), 3000u);
  const auto* t = TVdbDataType::GetStringType(vctString, false, 60, u"Hungarian", 6);
  std::vector<TVdbDataValue> values(names.size());
  int lost = 0;
  for (std::size_t i = 0; i < names.size(); ++i) {
    t->SetWideString(values[i], names[i]);
    if (t->GetWideString(values[i]) != names[i]) ++lost;
  }
  EXPECT_EQ(lost, 0);
  // The list sorts a doubled digraph letter by letter (Bonnya before Bonyhád, Kaposszerdahely
  // before Kaposújlak), while the collation follows the dictionary rule that it is two digraphs
  // (megy < meggy). Only pairs with such a name may differ.
  int outOfOrder = 0;
  int doubledDigraphPairs = 0;
  for (std::size_t i = 1; i < names.size(); ++i) {
    if (TVdbDataType::Compare(values[i - 1], values[i], *t, *t, 0, vcmIndex) != vcrGreater) continue;
    if (HasDoubledDigraph(names[i - 1]) || HasDoubledDigraph(names[i])) {
      ++doubledDigraphPairs;
    } else if (++outOfOrder <= 5) {
      ADD_FAILURE() << "out of order at name " << i + 1;
    }
  }
  EXPECT_LT(doubledDigraphPairs, 30);
  EXPECT_EQ(outOfOrder, 0);
}

TEST(VdbCollation, ConcurrentComparisonsAgree) {
  const auto* t = TVdbDataType::GetStringType(vctWideString, true, 40, u"Hungarian_CI_AS", 6);
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int k = 0; k < 4; ++k)
    threads.emplace_back([&] {
      TVdbDataValue a, b;
      t->SetWideString(a, u"Cukor");
      t->SetWideString(b, u"Csákvár");
      for (int i = 0; i < 2000; ++i)
        if (TVdbDataType::Compare(a, b, *t, *t) != vcrLess) ++wrong;
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong, 0);
}

TEST(VdbCodePage, RoundTripsAndSubstitutesWithQuestionMark) {
  struct Case {
    std::uint16_t CodePage;
    std::u16string Text;
    std::string Bytes;
  } cases[] = {
      {1250, u"Őriszentpéter", "\xD5riszentp\xE9ter"},
      {1250, u"Csabacsűd", "Csabacs\xFB""d"},
      {1252, u"Müller", "M\xFCller"},
      {1252, u"ő", "?"},            // not in 1252
      {1250, u"Ж€", "?\x80"},       // Cyrillic is not in 1250; the euro sign is
      {1251, u"Жук", "\xC6\xF3\xEA"},
      {1252, u"a\U0001F600b", "a?b"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    const std::string bytes = TvuCodePage::FromUnicode(c.CodePage, c.Text);
    EXPECT_EQ(bytes, c.Bytes);
    EXPECT_EQ(bytes.find('\x1A'), std::string::npos);
    if (c.Bytes.find('?') == std::string::npos) {
      EXPECT_EQ(TvuCodePage::ToUnicode(c.CodePage, bytes), c.Text);
      EXPECT_TRUE(TvuCodePage::CanEncode(c.CodePage, c.Text));
    } else {
      EXPECT_FALSE(TvuCodePage::CanEncode(c.CodePage, c.Text));
    }
  }
  // A long text (beyond any fixed buffer guess).
  const std::u16string longText(100000, u'ű');
  EXPECT_EQ(TvuCodePage::ToUnicode(1250, TvuCodePage::FromUnicode(1250, longText)), longText);
  EXPECT_EQ(TvuCodePage::FromUnicode(1250, u""), "");
}

TEST(VdbCodePage, ConvertersArePerThread) {
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int k = 0; k < 4; ++k)
    threads.emplace_back([&, k] {
      const std::uint16_t cp = k % 2 ? 1250 : 1252;
      for (int i = 0; i < 500; ++i)
        if (TvuCodePage::ToUnicode(cp, TvuCodePage::FromUnicode(cp, u"Müller Péter")) != u"Müller Péter") ++wrong;
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong, 0);
}

TEST(VdbCollationNames, NamedCollationsReportTheirRulesVersion) {
  EXPECT_EQ(TVdbCollation::BuiltIn().CollatorVersion(), "");
  const std::string v = TVdbCollation::Resolve(u"Hungarian").CollatorVersion();
  EXPECT_FALSE(v.empty());
  EXPECT_EQ(TVdbCollation::Resolve(u"Hungarian_CS").CollatorVersion(), v);
}

// Index files keep keys in collation order: the built-in collation, accent tie-break included,
// must be a total order under every option set.
TEST(VdbBuiltInCollation, IsATotalOrderUnderEveryOptionSet) {
  const std::string alphabet = std::string("aAsS^ e") + "\xE4\xC4\xDF\xE9\x7F";  // ä Ä ß é DEL
  std::mt19937 rng(777);
  std::vector<std::string> texts = {""};
  for (int i = 0; i < 70; ++i) {
    std::string t;
    const int len = static_cast<int>(rng() % 5);
    for (int k = 0; k < len; ++k) t += alphabet[rng() % alphabet.size()];
    texts.push_back(t);
  }
  for (TStrCmpOptions options : {TStrCmpOptions{0}, kBuiltInDefault, TStrCmpOptions{scoAccentSensitive},
                                 TStrCmpOptions{scoCaseSensitive | scoAccentSensitive}, TStrCmpOptions{7}}) {
    SCOPED_TRACE(int(options));
    const std::size_t n = texts.size();
    std::vector<int> cmp(n * n);
    for (std::size_t i = 0; i < n; ++i)
      for (std::size_t j = 0; j < n; ++j) cmp[i * n + j] = Sign(VdbBuiltInCompareAnsi(texts[i], texts[j], options));
    int violations = 0;
    for (std::size_t i = 0; i < n; ++i)
      for (std::size_t j = 0; j < n; ++j) {
        if (cmp[i * n + j] != -cmp[j * n + i]) ++violations;
        for (std::size_t k = 0; k < n; ++k)
          if (cmp[i * n + j] <= 0 && cmp[j * n + k] <= 0 && cmp[i * n + k] > 0) ++violations;
      }
    EXPECT_EQ(violations, 0);
  }
}

// 8-bit text is widened through a table of its code page; every byte, the undefined ones
// included, must compare as the converter's UTF-16 of it does.
TEST(VdbCollation, EightBitComparisonsAgreeWithConvertedText) {
  for (const char16_t* name : {u"Hungarian", u"Russian", u"Greek"}) {
    const TVdbCollation& c = TVdbCollation::Resolve(name);
    SCOPED_TRACE(VdbUtf16ToUtf8(name));
    auto wide = [&](const std::string& s) { return TvuCodePage::ToUnicode(c.CodePage(), s); };
    std::vector<std::string> texts;
    for (int b = 1; b < 256; ++b) {
      texts.push_back(std::string(1, static_cast<char>(b)));
      texts.push_back("Sz" + std::string(1, static_cast<char>(b)) + "a");
    }
    int disagreements = 0;
    for (std::size_t i = 0; i < texts.size(); i += 3) {
      for (std::size_t j = 0; j < texts.size(); j += 7) {
        const int expected = c.CompareWide(wide(texts[i]), wide(texts[j]));
        const int got = c.CompareAnsi(texts[i], texts[j]);
        if ((expected < 0) != (got < 0) || (expected > 0) != (got > 0)) ++disagreements;
      }
    }
    EXPECT_EQ(disagreements, 0);
  }
}
