#include "db/DbErrors.h"

#include <charconv>

namespace tk {

void Abort() { throw EAbort(); }

EDatabaseError::EDatabaseError(const std::u16string& message)
    : std::runtime_error(NarrowForDiagnostics(message)), FMessage(message) {}

std::u16string FormatText(std::u16string_view pattern, std::initializer_list<std::u16string_view> args) {
  std::u16string out;
  out.reserve(pattern.size() + 16);
  auto next = args.begin();
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char16_t c = pattern[i];
    if (c == u'%' && i + 1 < pattern.size()) {
      const char16_t kind = pattern[i + 1];
      if (kind == u'%') {
        out += u'%';
        ++i;
        continue;
      }
      if ((kind == u's' || kind == u'd') && next != args.end()) {
        out += *next++;
        ++i;
        continue;
      }
    }
    out += c;
  }
  return out;
}

void DatabaseError(std::u16string_view pattern, std::initializer_list<std::u16string_view> args) {
  throw EDatabaseError(FormatText(pattern, args));
}

std::u16string IntToText(std::int64_t value) {
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::u16string(buffer, result.ptr);
}

std::string NarrowForDiagnostics(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char16_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

}  // namespace tk
