// Errors of the dataset framework and the small text helpers its messages need: the silent
// abort, the database error, and "%s"/"%d" message templates filled with UTF-16 arguments.
// Any thread; the framework itself is used from the GUI thread only.
#pragma once

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tk {

// The silent abort: an operation abandoned on purpose; shown to nobody.
class EAbort : public std::exception {
 public:
  const char* what() const noexcept override { return "Operation aborted"; }
};

// Raises the silent abort.
[[noreturn]] void Abort();

// A database error of the framework; the dataset components derive their own from it.
class EDatabaseError : public std::runtime_error {
 public:
  explicit EDatabaseError(const std::u16string& message);
  const std::u16string& Message() const noexcept { return FMessage; }

 private:
  std::u16string FMessage;
};

// Fills a message template: each "%s" or "%d" takes the next argument (already text), "%%"
// is a per-cent sign. Missing arguments leave the placeholder as it is.
std::u16string FormatText(std::u16string_view pattern, std::initializer_list<std::u16string_view> args);

// Raises EDatabaseError with a filled template.
[[noreturn]] void DatabaseError(std::u16string_view pattern, std::initializer_list<std::u16string_view> args = {});

// Invariant decimal text of an integer.
std::u16string IntToText(std::int64_t value);

// Text for diagnostics (what()): ASCII kept, everything else '?'.
std::string NarrowForDiagnostics(std::u16string_view text);

}  // namespace tk
