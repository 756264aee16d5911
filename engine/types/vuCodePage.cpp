// Code-page conversion through per-thread converters of the converter library.
#include "types/vuCodePage.h"

#include <memory>
#include <unordered_map>

#include <unicode/ucnv.h>

#include "base/VdbErrorCodes.h"
#include "base/VdbErrors.h"

namespace vdb {

namespace {

struct TConverterCloser {
  void operator()(UConverter* c) const noexcept { ucnv_close(c); }
};
using TConverterPtr = std::unique_ptr<UConverter, TConverterCloser>;

// Opens the converter of a Windows code page with '?' as its substitution byte.
TConverterPtr OpenConverter(std::uint16_t codePage) {
  const std::string name = "windows-" + std::to_string(codePage);
  UErrorCode err = U_ZERO_ERROR;
  TConverterPtr conv(ucnv_open(name.c_str(), &err));
  if (U_FAILURE(err) || !conv) {
    // "LanguageDriver \"%s\" not supported by operating system"
    throw EVdbEngine(errLanguageDriverUnsupported, {TVdbFmtArg(std::string_view(name))});
  }
  err = U_ZERO_ERROR;
  ucnv_setSubstChars(conv.get(), "?", 1, &err);
  if (U_FAILURE(err)) throw EVdbEngine(errLanguageDriverUnsupported, {TVdbFmtArg(std::string_view(name))});
  // Exact mappings only: a best-fit replacement would silently change letters (ő → o).
  ucnv_setFallback(conv.get(), false);
  return conv;
}

UConverter* ConverterFor(std::uint16_t codePage) {
  thread_local std::unordered_map<std::uint16_t, TConverterPtr> converters;
  auto it = converters.find(codePage);
  if (it == converters.end()) it = converters.emplace(codePage, OpenConverter(codePage)).first;
  ucnv_reset(it->second.get());
  return it->second.get();
}

}  // namespace

std::u16string TvuCodePage::ToUnicode(std::uint16_t codePage, std::string_view bytes) {
  std::u16string out;
  ToUnicode(codePage, bytes, out);
  return out;
}

void TvuCodePage::ToUnicode(std::uint16_t codePage, std::string_view bytes, std::u16string& out) {
  out.clear();
  if (bytes.empty()) return;
  UConverter* conv = ConverterFor(codePage);
  // Single-byte code pages give one UTF-16 unit per byte; others are retried with the size
  // the converter asks for.
  out.resize(bytes.size() + 1);
  UErrorCode err = U_ZERO_ERROR;
  int32_t n = ucnv_toUChars(conv, reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()),
                            bytes.data(), static_cast<int32_t>(bytes.size()), &err);
  if (err == U_BUFFER_OVERFLOW_ERROR) {
    out.assign(static_cast<std::size_t>(n) + 1, u'\0');
    err = U_ZERO_ERROR;
    ucnv_reset(conv);
    n = ucnv_toUChars(conv, reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()), bytes.data(),
                      static_cast<int32_t>(bytes.size()), &err);
  }
  if (U_FAILURE(err) && err != U_STRING_NOT_TERMINATED_WARNING)
    throw EVdbEngine(errText, {TVdbFmtArg("Code page conversion failed")});
  out.resize(static_cast<std::size_t>(n));
}

std::string TvuCodePage::FromUnicode(std::uint16_t codePage, std::u16string_view text) {
  if (text.empty()) return {};
  UConverter* conv = ConverterFor(codePage);
  std::string out(text.size() * 2 + 4, '\0');
  UErrorCode err = U_ZERO_ERROR;
  int32_t n = ucnv_fromUChars(conv, out.data(), static_cast<int32_t>(out.size()),
                              reinterpret_cast<const UChar*>(text.data()),
                              static_cast<int32_t>(text.size()), &err);
  if (err == U_BUFFER_OVERFLOW_ERROR) {
    out.assign(static_cast<std::size_t>(n) + 1, '\0');
    err = U_ZERO_ERROR;
    ucnv_reset(conv);
    n = ucnv_fromUChars(conv, out.data(), static_cast<int32_t>(out.size()), reinterpret_cast<const UChar*>(text.data()),
                        static_cast<int32_t>(text.size()), &err);
  }
  if (U_FAILURE(err) && err != U_STRING_NOT_TERMINATED_WARNING)
    throw EVdbEngine(errText, {TVdbFmtArg("Code page conversion failed")});
  out.resize(static_cast<std::size_t>(n));
  return out;
}

bool TvuCodePage::CanEncode(std::uint16_t codePage, std::u16string_view text) {
  const std::string bytes = FromUnicode(codePage, text);
  return ToUnicode(codePage, bytes) == text;
}

}  // namespace vdb
