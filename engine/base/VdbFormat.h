// Message templates of the engine: a type-checked formatter and the format arguments.
// Templates ("Table \"%s\" not found", "VdbLog%d_%.2d.txt") are filled with a list of typed
// arguments; a template and arguments that do not fit give no result instead of undefined
// behaviour, so a wrong argument list can never crash an error report. Numbers are written
// locale-independently (the process locale is Hungarian once the application runs).
// Pure functions: any thread may call them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

namespace vdb {

// One argument of a message template: a whole number ("%d", "%x"), a floating number ("%f")
// or a text ("%s"). Built implicitly so that callers write EVdbEngine(88, {name}).
class TVdbFmtArg {
 public:
  using Value = std::variant<std::int64_t, double, std::u16string>;

  template <class T>
    requires std::is_integral_v<T> && (!std::is_same_v<T, bool>) && (!std::is_same_v<T, char16_t>)
  TVdbFmtArg(T v) : FValue(static_cast<std::int64_t>(v)) {}
  TVdbFmtArg(bool v) : FValue(static_cast<std::int64_t>(v ? 1 : 0)) {}
  TVdbFmtArg(double v) : FValue(v) {}
  TVdbFmtArg(std::u16string v) : FValue(std::move(v)) {}
  TVdbFmtArg(std::u16string_view v) : FValue(std::u16string(v)) {}
  TVdbFmtArg(const char16_t* v) : FValue(std::u16string(v)) {}
  // 8-bit text is read as UTF-8 (engine-internal names are 7-bit ASCII, which is the same);
  // an invalid byte sequence becomes U+FFFD. File paths are converted by the caller.
  TVdbFmtArg(std::string_view ascii);
  TVdbFmtArg(const char* ascii) : TVdbFmtArg(std::string_view(ascii)) {}

  const Value& value() const noexcept { return FValue; }

 private:
  Value FValue;
};

using TVdbFmtArgs = std::vector<TVdbFmtArg>;

// Fills `pattern` with `args`, left to right. Placeholders:
//   %s  a text argument; "%.Ns" takes at most N code units of it;
//   %d  a whole number in decimal; "%.Nd" writes at least N digits, with leading zeros;
//   %x  a whole number in upper-case hexadecimal (a negative number as its 64-bit two's
//       complement); "%.Nx" writes at least N digits;
//   %f  a floating number in fixed notation with N decimals ("%.Nf"), 2 when N is not given;
//   %%  one per-cent sign.
// Every placeholder may carry a width ("%5d" right-aligns in 5 units, "%-20s" left-aligns);
// conversion letters may also be upper case. Returns no result when an argument is missing,
// an argument is of the wrong kind (a text for %d, a number for %s, a whole number for %f)
// or the template is malformed (a lone "%" at the end, an unknown letter, a width or
// precision above 4096). Arguments beyond those the template uses are ignored.
std::optional<std::u16string> VdbFormat(std::u16string_view pattern, const TVdbFmtArgs& args);

// UTF-8 → UTF-16; invalid or truncated sequences become U+FFFD. Never fails.
std::u16string VdbUtf8ToUtf16(std::string_view utf8);
// UTF-16 → UTF-8; an unpaired surrogate becomes U+FFFD. Never fails.
std::string VdbUtf16ToUtf8(std::u16string_view utf16);

}  // namespace vdb
