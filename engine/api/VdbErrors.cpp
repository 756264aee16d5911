// Forming engine exception messages from the engine message table.
#include "api/VdbErrors.h"

namespace vdb {

namespace {
std::string ToUtf8(const std::u16string& s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    char32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}
}  // namespace

TVdbFmtArg::TVdbFmtArg(std::string_view ascii) : FValue(std::u16string(ascii.begin(), ascii.end())) {}

EVdbEngine::EVdbEngine(std::int16_t code, std::u16string_view description)
    : EVdbEngine(code, TVdbFmtArgs{TVdbFmtArg(description)}) {}

// Placeholder until the message table exists: the code alone.
EVdbEngine::EVdbEngine(std::int16_t code, TVdbFmtArgs)
    : EVdbEngine(ReadyMessage{}, code, u"Error " + [code] {
        std::string s = std::to_string(code);
        return std::u16string(s.begin(), s.end());
      }()) {}

EVdbEngine EVdbEngine::CreateMsg(std::int16_t code, std::u16string message) {
  return EVdbEngine(ReadyMessage{}, code, std::move(message));
}

EVdbEngine::EVdbEngine(ReadyMessage, std::int16_t code, std::u16string message)
    : FCode(code), FMessage(std::move(message)), FWhat(ToUtf8(FMessage)) {}

}  // namespace vdb
