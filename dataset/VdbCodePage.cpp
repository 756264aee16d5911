#include "VdbCodePage.h"

#include <unicode/ucnv.h>

#include <algorithm>
#include <stdexcept>

#include "db/DbErrors.h"

namespace vdbds {

namespace {

std::u16string Upper(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
  return out;
}

bool EndsWith(const std::u16string& text, std::u16string_view suffix) {
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

int CodePageOfCollation(std::u16string_view collation) {
  std::u16string name = Upper(collation);
  // Option suffixes do not change the language.
  for (int i = 0; i < 2; ++i)
    for (std::u16string_view suffix : {u"_AS", u"_AI", u"_CS", u"_CI"})
      if (EndsWith(name, suffix)) name.resize(name.size() - suffix.size());
  struct TEntry {
    std::u16string_view Language;
    int CodePage;
  };
  static constexpr TEntry kTable[] = {
      {u"HUNGARIAN", 1250}, {u"POLISH", 1250},   {u"CZECH", 1250},     {u"SLOVAK", 1250},
      {u"SLOVENIAN", 1250}, {u"CROATIAN", 1250}, {u"ROMANIAN", 1250},  {u"ALBANIAN", 1250},
      {u"RUSSIAN", 1251},   {u"UKRAINIAN", 1251}, {u"BULGARIAN", 1251}, {u"BELARUSIAN", 1251},
      {u"SERBIAN", 1251},   {u"MACEDONIAN", 1251}, {u"GREEK", 1253},    {u"TURKISH", 1254},
      {u"HEBREW", 1255},    {u"ARABIC", 1256},   {u"ESTONIAN", 1257},  {u"LATVIAN", 1257},
      {u"LITHUANIAN", 1257}, {u"VIETNAMESE", 1258},
  };
  for (const TEntry& entry : kTable)
    if (name == entry.Language) return entry.CodePage;
  return 1252;
}

struct TVdbCodePage::TImpl {
  UConverter* Converter = nullptr;
};

TVdbCodePage::TVdbCodePage(int codePage) : FCodePage(codePage), FImpl(std::make_unique<TImpl>()) {
  const std::string name = "windows-" + std::to_string(codePage);
  UErrorCode status = U_ZERO_ERROR;
  FImpl->Converter = ucnv_open(name.c_str(), &status);
  if (U_FAILURE(status)) {
    status = U_ZERO_ERROR;
    FCodePage = 1252;
    FImpl->Converter = ucnv_open("windows-1252", &status);
  }
  if (U_FAILURE(status) || !FImpl->Converter)
    tk::DatabaseError(u"Code page %d is not supported", {tk::IntToText(codePage)});
  status = U_ZERO_ERROR;
  ucnv_setSubstChars(FImpl->Converter, "?", 1, &status);
}

TVdbCodePage::~TVdbCodePage() {
  if (FImpl->Converter) ucnv_close(FImpl->Converter);
}

std::u16string TVdbCodePage::Decode(const std::uint8_t* bytes, std::size_t size) const {
  if (size == 0) return {};
  std::u16string out(size * 2 + 1, u'\0');
  UErrorCode status = U_ZERO_ERROR;
  ucnv_reset(FImpl->Converter);
  const int32_t n = ucnv_toUChars(FImpl->Converter, reinterpret_cast<UChar*>(out.data()),
                                  static_cast<int32_t>(out.size()), reinterpret_cast<const char*>(bytes),
                                  static_cast<int32_t>(size), &status);
  if (U_FAILURE(status)) return std::u16string(size, u'?');
  out.resize(static_cast<std::size_t>(n));
  return out;
}

std::vector<std::uint8_t> TVdbCodePage::Encode(std::u16string_view text) const {
  if (text.empty()) return {};
  std::vector<std::uint8_t> out(text.size() * 2 + 1);
  UErrorCode status = U_ZERO_ERROR;
  ucnv_reset(FImpl->Converter);
  const int32_t n = ucnv_fromUChars(FImpl->Converter, reinterpret_cast<char*>(out.data()),
                                    static_cast<int32_t>(out.size()), reinterpret_cast<const UChar*>(text.data()),
                                    static_cast<int32_t>(text.size()), &status);
  if (U_FAILURE(status)) return std::vector<std::uint8_t>(text.size(), '?');
  out.resize(static_cast<std::size_t>(n));
  return out;
}

}  // namespace vdbds
