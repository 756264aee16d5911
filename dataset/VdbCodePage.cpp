#include "VdbCodePage.h"

#include <unicode/ucnv.h>

#include <algorithm>
#include <stdexcept>

#include "db/DbErrors.h"

namespace vdbds {

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
