// Built-in collation and named collations through the collation library.
#include "types/VdbCollation.h"

#include <array>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/uloc.h>
#include <unicode/unistr.h>
#include <unicode/ustring.h>
#include <unicode/uversion.h>

#include "base/VdbErrorCodes.h"
#include "base/VdbErrors.h"
#include "types/vuCodePage.h"

namespace vdb {

namespace {

// ---------------------------------------------------------------------------------------------
// Built-in collation

// Fold table for 0x80..0xFF (Windows-1252 code points); 0 = maps to itself.
constexpr std::array<std::uint8_t, 128> MakeFoldTable() {
  std::array<std::uint8_t, 128> t{};
  auto set = [&t](unsigned from, unsigned to, char target) {
    for (unsigned c = from; c <= to; ++c) t[c - 0x80] = static_cast<std::uint8_t>(target);
  };
  set(0x8A, 0x8A, 'S');
  set(0x8C, 0x8C, 'O');
  set(0x9A, 0x9A, 's');
  set(0x9C, 0x9C, 'o');
  set(0x9F, 0x9F, 'Y');
  set(0xC0, 0xC6, 'A');
  set(0xC7, 0xC7, 'C');
  set(0xC8, 0xCB, 'E');
  set(0xCC, 0xCF, 'I');
  set(0xD0, 0xD0, 'D');
  set(0xD1, 0xD1, 'N');
  set(0xD2, 0xD6, 'O');
  set(0xD8, 0xD8, 'O');
  set(0xD9, 0xDC, 'U');
  set(0xDD, 0xDD, 'Y');
  set(0xDF, 0xDF, 's');
  set(0xE0, 0xE6, 'a');
  set(0xE7, 0xE7, 'c');
  set(0xE8, 0xEB, 'e');
  set(0xEC, 0xEF, 'i');
  set(0xF0, 0xF0, 'd');
  set(0xF1, 0xF1, 'n');
  set(0xF2, 0xF6, 'o');
  set(0xF8, 0xF8, 'o');
  set(0xF9, 0xFC, 'u');
  set(0xFD, 0xFD, 'y');
  set(0xFF, 0xFF, 'y');
  return t;
}
constexpr std::array<std::uint8_t, 128> kFold = MakeFoldTable();

// Walks a text and yields its mapped characters; an unligated ß yields two.
template <class Ch>
class TFoldReader {
 public:
  TFoldReader(std::basic_string_view<Ch> s, TStrCmpOptions options) : FText(s), FOptions(options) {}

  // False at the end. AFolded is true for a character the fold table changed (an accent).
  bool Next(std::uint32_t& value, bool& folded) {
    folded = false;
    if (FPendingS) {
      FPendingS = false;
      value = Upper('s');
      return true;
    }
    if (FPos >= FText.size()) return false;
    std::uint32_t c = static_cast<std::make_unsigned_t<Ch>>(FText[FPos++]);
    if (c == 0x5E) {
      value = ' ';
      return true;
    }
    if (c == 0x7F) {
      value = sizeof(Ch) == 1 ? 0xFFu : 0xFFFFu;
      return true;
    }
    if (c == 0xDF && !(FOptions & scoLigatureSensitive)) {
      FPendingS = true;
      value = Upper('s');
      return true;
    }
    if (c >= 0x80 && c <= 0xFF && kFold[c - 0x80] != 0) {
      c = kFold[c - 0x80];
      folded = true;
    }
    value = Upper(c);
    return true;
  }

 private:
  std::uint32_t Upper(std::uint32_t c) const {
    if (!(FOptions & scoCaseSensitive) && c >= 'a' && c <= 'z') return c - 32;
    return c;
  }

  std::basic_string_view<Ch> FText;
  TStrCmpOptions FOptions;
  std::size_t FPos = 0;
  bool FPendingS = false;
};

template <class Ch>
std::basic_string_view<Ch> CutAtNul(std::basic_string_view<Ch> s) {
  if (!s.empty() && s.back() == 0) s = s.substr(0, s.find(Ch(0)));
  return s;
}

template <class Ch>
int BuiltInCompare(std::basic_string_view<Ch> a, std::basic_string_view<Ch> b, TStrCmpOptions options) {
  TFoldReader<Ch> ra(CutAtNul(a), options);
  TFoldReader<Ch> rb(CutAtNul(b), options);
  // Accent tie-break: the first position where exactly one side has a folded character.
  int accentVerdict = 0;
  for (;;) {
    std::uint32_t ca = 0, cb = 0;
    bool fa = false, fb = false;
    const bool ha = ra.Next(ca, fa);
    const bool hb = rb.Next(cb, fb);
    if (!ha || !hb) {
      if (ha != hb) return ha ? 1 : -1;
      break;
    }
    if (ca != cb) return ca < cb ? -1 : 1;
    // The side whose first unmatched accent comes earlier is greater.
    if (accentVerdict == 0 && fa != fb) accentVerdict = fa ? 1 : -1;
  }
  return (options & scoAccentSensitive) ? accentVerdict : 0;
}

// ---------------------------------------------------------------------------------------------
// Named collations

bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
  UErrorCode err = U_ZERO_ERROR;
  const int r = u_strCaseCompare(reinterpret_cast<const UChar*>(a.data()), static_cast<int32_t>(a.size()),
                                 reinterpret_cast<const UChar*>(b.data()), static_cast<int32_t>(b.size()),
                                 U_FOLD_CASE_DEFAULT, &err);
  return U_SUCCESS(err) && r == 0;
}

bool EndsWithNoCase(std::u16string_view s, std::u16string_view suffix) {
  return s.size() >= suffix.size() && EqualsNoCase(s.substr(s.size() - suffix.size()), suffix);
}

// Windows locale id of a locale in its language_COUNTRY form (hu → hu_HU → 0x040E).
std::uint32_t LocaleIdOf(const char* locale) {
  UErrorCode err = U_ZERO_ERROR;
  char full[ULOC_FULLNAME_CAPACITY] = {};
  uloc_addLikelySubtags(locale, full, sizeof full, &err);
  if (U_FAILURE(err)) return uloc_getLCID(locale);
  char lang[ULOC_LANG_CAPACITY] = {};
  char country[ULOC_COUNTRY_CAPACITY] = {};
  err = U_ZERO_ERROR;
  uloc_getLanguage(full, lang, sizeof lang, &err);
  uloc_getCountry(full, country, sizeof country, &err);
  if (U_FAILURE(err)) return uloc_getLCID(locale);
  const std::string form = std::string(lang) + "_" + country;
  const std::uint32_t id = uloc_getLCID(form.c_str());
  return id != 0 ? id : uloc_getLCID(locale);
}

// First available locale whose English language name is ALanguage; empty when none.
std::string FindLocaleByLanguage(std::u16string_view language) {
  const int32_t count = uloc_countAvailable();
  for (int32_t i = 0; i < count; ++i) {
    const char* loc = uloc_getAvailable(i);
    UChar buf[128];
    UErrorCode err = U_ZERO_ERROR;
    const int32_t n = uloc_getDisplayLanguage(loc, "en", buf, 128, &err);
    if (U_FAILURE(err) || n <= 0 || n >= 128) continue;
    if (EqualsNoCase(std::u16string_view(reinterpret_cast<const char16_t*>(buf), static_cast<std::size_t>(n)),
                     language))
      return loc;
  }
  return {};
}

std::u16string UpperAscii(std::u16string_view s) {
  std::u16string out(s);
  for (auto& c : out)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
  return out;
}

std::u16string ToU16(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

// Resolved collations by upper-cased name.
class TCollationCache {
 public:
  const TVdbCollation& Get(std::u16string_view name) {
    const std::u16string key = UpperAscii(name);
    {
      std::lock_guard lock(FMutex);
      auto it = FByName.find(key);
      if (it != FByName.end()) return *it->second;
    }
    auto made = Make(name);  // outside the lock: enumerating locales is slow
    std::lock_guard lock(FMutex);
    auto [it, inserted] = FByName.emplace(key, std::move(made));
    return *it->second;
  }

 private:
  static std::unique_ptr<TVdbCollation> Make(std::u16string_view name) {
    if (name.empty() || EqualsNoCase(name, u"VidoraDB"))
      return std::make_unique<TVdbCollation>(std::u16string(name), VDB_BUILTIN_LOCALE_ID, std::string(),
                                             scoLigatureSensitive | scoAccentSensitive, VDB_BUILTIN_CODE_PAGE);
    std::u16string_view rest = name;
    TStrCmpOptions options = scoAccentSensitive;
    if (EndsWithNoCase(rest, u"_AS")) {
      rest.remove_suffix(3);
    } else if (EndsWithNoCase(rest, u"_AI")) {
      options = 0;
      rest.remove_suffix(3);
    }
    if (EndsWithNoCase(rest, u"_CS")) {
      options |= scoCaseSensitive;
      rest.remove_suffix(3);
    } else if (EndsWithNoCase(rest, u"_CI")) {
      rest.remove_suffix(3);
    }
    const std::string locale = rest.empty() ? std::string() : FindLocaleByLanguage(rest);
    // "Collation \"%s\" does not exist"
    if (locale.empty()) throw EVdbEngine(errUnknownCollation, {std::u16string(name)});
    char lang[ULOC_LANG_CAPACITY] = {};
    UErrorCode err = U_ZERO_ERROR;
    uloc_getLanguage(locale.c_str(), lang, sizeof lang, &err);
    return std::make_unique<TVdbCollation>(std::u16string(name), LocaleIdOf(locale.c_str()), locale, options,
                                           VdbCodePageOfLanguage(lang));
  }

  std::mutex FMutex;
  std::unordered_map<std::u16string, std::unique_ptr<TVdbCollation>> FByName;
};

TCollationCache& CollationCache() {
  static TCollationCache cache;
  return cache;
}

// Collators per (locale, case/accent options). Collators are used only through const compare
// calls, which the collation library allows from several threads at once.
class TCollatorCache {
 public:
  const icu::Collator& Get(const std::string& locale, std::uint32_t localeId, TStrCmpOptions options) {
    const int key = options & (scoCaseSensitive | scoAccentSensitive);
    std::lock_guard lock(FMutex);
    auto it = FCollators.find({locale, key});
    if (it != FCollators.end()) return *it->second;
    UErrorCode err = U_ZERO_ERROR;
    std::unique_ptr<icu::Collator> coll(icu::Collator::createInstance(icu::Locale(locale.c_str()), err));
    if (U_FAILURE(err) || !coll) Unsupported(locale, localeId);
    const bool cs = options & scoCaseSensitive;
    const bool as = options & scoAccentSensitive;
    coll->setStrength(!cs && !as   ? icu::Collator::PRIMARY
                      : !cs && as ? icu::Collator::SECONDARY
                      : cs && !as ? icu::Collator::PRIMARY
                                  : icu::Collator::TERTIARY);
    coll->setAttribute(UCOL_CASE_LEVEL, (cs && !as) ? UCOL_ON : UCOL_OFF, err);
    if (U_FAILURE(err)) Unsupported(locale, localeId);
    auto [pos, inserted] = FCollators.emplace(std::make_pair(locale, key), std::move(coll));
    return *pos->second;
  }

 private:
  [[noreturn]] static void Unsupported(const std::string& locale, std::uint32_t localeId) {
    // Not a table text: the message names the locale id and the locale.
    throw EVdbEngine::CreateMsg(errLanguageDriverUnsupported, u"Locale " + ToU16(std::to_string(localeId)) + u" (" +
                                         ToU16(locale) + u") is not supported on this computer.");
  }

  std::mutex FMutex;
  std::map<std::pair<std::string, int>, std::unique_ptr<icu::Collator>> FCollators;
};

TCollatorCache& CollatorCache() {
  static TCollatorCache cache;
  return cache;
}

int IcuCompare(const icu::Collator& coll, std::u16string_view a, std::u16string_view b) {
  UErrorCode err = U_ZERO_ERROR;
  const UCollationResult r =
      coll.compare(reinterpret_cast<const UChar*>(a.data()), static_cast<int32_t>(a.size()),
                   reinterpret_cast<const UChar*>(b.data()), static_cast<int32_t>(b.size()), err);
  if (U_FAILURE(err)) throw EVdbEngine(errText, {TVdbFmtArg("String comparison failed")});
  return r == UCOL_LESS ? -1 : r == UCOL_EQUAL ? 0 : 1;
}

// The UTF-16 unit of each byte of a single-byte code page, made once per code page through
// the converter itself (so that the two never differ); null when a byte does not give
// exactly one unit (multi-byte code pages).
const char16_t* SingleByteTable(std::uint16_t codePage) {
  static std::mutex mutex;
  static std::map<std::uint16_t, std::unique_ptr<std::array<char16_t, 256>>> tables;
  std::lock_guard lock(mutex);
  auto it = tables.find(codePage);
  if (it == tables.end()) {
    auto table = std::make_unique<std::array<char16_t, 256>>();
    std::u16string wide;
    for (int b = 0; b < 256 && table; ++b) {
      try {
        TvuCodePage::ToUnicode(codePage, std::string(1, static_cast<char>(b)), wide);
      } catch (const EVdbEngine&) {
        wide.clear();  // a lead byte alone: a multi-byte code page
      }
      if (wide.size() == 1) {
        (*table)[static_cast<std::size_t>(b)] = wide[0];
      } else {
        table.reset();
      }
    }
    it = tables.emplace(codePage, std::move(table)).first;
  }
  return it->second ? it->second->data() : nullptr;
}

void Widen(const char16_t* table, std::string_view bytes, std::u16string& out) {
  out.resize(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) out[i] = table[static_cast<std::uint8_t>(bytes[i])];
}

std::u16string CaseMap(std::u16string_view s, const std::string& locale, bool upper) {
  icu::UnicodeString u(reinterpret_cast<const UChar*>(s.data()), static_cast<int32_t>(s.size()));
  const icu::Locale loc(locale.empty() ? "en" : locale.c_str());
  if (upper) u.toUpper(loc);
  else u.toLower(loc);
  return std::u16string(reinterpret_cast<const char16_t*>(u.getBuffer()), static_cast<std::size_t>(u.length()));
}

}  // namespace

TVdbCollation::TVdbCollation(std::u16string name, std::uint32_t localeId, std::string icuLocale,
                             TStrCmpOptions options, std::uint16_t codePage)
    : FName(std::move(name)), FLocaleId(localeId), FIcuLocale(std::move(icuLocale)), FOptions(options),
      FCodePage(codePage) {}

const TVdbCollation& TVdbCollation::Resolve(std::u16string_view name) { return CollationCache().Get(name); }

const TVdbCollation& TVdbCollation::BuiltIn() {
  static const TVdbCollation& builtIn = Resolve(u"");
  return builtIn;
}

int TVdbCollation::CompareAnsi(std::string_view a, std::string_view b, TStrCmpOptions extra) const {
  const TStrCmpOptions options = FOptions | extra;
  if (IsBuiltIn()) return VdbBuiltInCompareAnsi(a, b, options);
  // Index searches compare constantly: convert into per-thread buffers instead of new strings.
  thread_local std::u16string wideA, wideB;
  if (const char16_t* table = ByteTable()) {
    Widen(table, CutAtNul(a), wideA);
    Widen(table, CutAtNul(b), wideB);
  } else {
    TvuCodePage::ToUnicode(FCodePage, CutAtNul(a), wideA);
    TvuCodePage::ToUnicode(FCodePage, CutAtNul(b), wideB);
  }
  return IcuCompare(*static_cast<const icu::Collator*>(CollatorFor(options)), wideA, wideB);
}

int TVdbCollation::CompareWide(std::u16string_view a, std::u16string_view b, TStrCmpOptions extra) const {
  const TStrCmpOptions options = FOptions | extra;
  if (IsBuiltIn()) return VdbBuiltInCompareWide(a, b, options);
  return IcuCompare(*static_cast<const icu::Collator*>(CollatorFor(options)), CutAtNul(a), CutAtNul(b));
}

const void* TVdbCollation::CollatorFor(TStrCmpOptions options) const {
  const int slot = ((options & scoCaseSensitive) ? 1 : 0) | ((options & scoAccentSensitive) ? 2 : 0);
  const void* coll = FCollators[slot].load(std::memory_order_acquire);
  if (!coll) {
    coll = &CollatorCache().Get(FIcuLocale, FLocaleId, options);
    FCollators[slot].store(coll, std::memory_order_release);
  }
  return coll;
}

const char16_t* TVdbCollation::ByteTable() const {
  if (FByteTableKnown.load(std::memory_order_acquire)) return FByteTable.load(std::memory_order_acquire);
  const char16_t* table = SingleByteTable(FCodePage);
  FByteTable.store(table, std::memory_order_release);
  FByteTableKnown.store(true, std::memory_order_release);
  return table;
}

std::string TVdbCollation::CollatorVersion() const {
  if (IsBuiltIn()) return {};
  UVersionInfo version;
  static_cast<const icu::Collator*>(CollatorFor(FOptions))->getVersion(version);
  char text[U_MAX_VERSION_STRING_LENGTH] = {};
  u_versionToString(version, text);
  return text;
}

std::u16string TVdbCollation::ToUpper(std::u16string_view s) const { return CaseMap(s, FIcuLocale, true); }
std::u16string TVdbCollation::ToLower(std::u16string_view s) const { return CaseMap(s, FIcuLocale, false); }

int VdbBuiltInCompareAnsi(std::string_view a, std::string_view b, TStrCmpOptions options) {
  return BuiltInCompare<char>(a, b, options);
}

int VdbBuiltInCompareWide(std::u16string_view a, std::u16string_view b, TStrCmpOptions options) {
  return BuiltInCompare<char16_t>(a, b, options);
}

std::uint16_t VdbCodePageOfLanguage(std::string_view language) {
  static const std::map<std::string_view, std::uint16_t> table = {
      // Central European
      {"hu", 1250}, {"pl", 1250}, {"cs", 1250}, {"sk", 1250}, {"sl", 1250}, {"hr", 1250},
      {"ro", 1250}, {"sq", 1250}, {"bs", 1250},
      // Cyrillic
      {"ru", 1251}, {"uk", 1251}, {"be", 1251}, {"bg", 1251}, {"mk", 1251}, {"sr", 1251},
      {"kk", 1251}, {"ky", 1251}, {"mn", 1251}, {"tt", 1251},
      {"el", 1253},
      {"tr", 1254}, {"az", 1254}, {"uz", 1254},
      {"he", 1255}, {"yi", 1255},
      {"ar", 1256}, {"fa", 1256}, {"ur", 1256},
      {"et", 1257}, {"lv", 1257}, {"lt", 1257},
      {"vi", 1258},
  };
  auto it = table.find(language);
  return it == table.end() ? std::uint16_t{1252} : it->second;
}

}  // namespace vdb
