#include "db/DbErrors.h"

#include <charconv>

#include "base/VdbFormat.h"

namespace tk {

void Abort() { throw EAbort(); }

EDatabaseError::EDatabaseError(const std::u16string& message)
    : std::runtime_error(NarrowForDiagnostics(message)), FMessage(message) {}

std::u16string FormatText(std::u16string_view pattern, std::initializer_list<std::u16string_view> args) {
  // Every argument here is text already, so "%d" takes one as "%s" does; a placeholder left
  // without an argument and any other '%' stay as written. The template is rewritten for the
  // engine's formatter accordingly, which then cannot refuse it.
  std::u16string typed;
  typed.reserve(pattern.size() + 8);
  vdb::TVdbFmtArgs values;
  values.reserve(args.size());
  auto next = args.begin();
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char16_t c = pattern[i];
    if (c != u'%') {
      typed += c;
      continue;
    }
    const char16_t kind = i + 1 < pattern.size() ? pattern[i + 1] : u'\0';
    if (kind == u'%') {
      typed += u"%%";
      ++i;
    } else if ((kind == u's' || kind == u'd') && next != args.end()) {
      typed += u"%s";
      values.emplace_back(*next++);
      ++i;
    } else {
      typed += u"%%";
    }
  }
  return vdb::VdbFormat(typed, values).value();
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
