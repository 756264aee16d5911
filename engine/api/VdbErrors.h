// Engine errors: the exception every engine layer raises, and its format arguments.
// An EVdbEngine carries an engine error number (1..190, or 9999 for the internal unwinding
// exception) and the message formed from the engine message table. Immutable once built;
// any thread may create and read one.
#pragma once

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <string>
#include <string_view>
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
  // 7-bit ASCII only (engine-internal names, file paths are converted by the caller).
  TVdbFmtArg(std::string_view ascii);
  TVdbFmtArg(const char* ascii) : TVdbFmtArg(std::string_view(ascii)) {}

  const Value& value() const noexcept { return FValue; }

 private:
  Value FValue;
};

using TVdbFmtArgs = std::vector<TVdbFmtArg>;

// Engine error number of the internal unwinding exception: the real error was recorded before.
inline constexpr std::int16_t VDB_INTERNAL_UNWIND = 9999;

class EVdbEngine : public std::exception {
 public:
  // Create(ACode, ADescription): the table text for ACode filled with one text argument.
  EVdbEngine(std::int16_t code, std::u16string_view description);
  // Create(ACode, Args): the table text for ACode filled with Args. When formatting fails,
  // the message is the unformatted table text; surplus arguments are ignored.
  explicit EVdbEngine(std::int16_t code, TVdbFmtArgs args = {});
  EVdbEngine(std::int16_t code, std::initializer_list<TVdbFmtArg> args)
      : EVdbEngine(code, TVdbFmtArgs(args)) {}
  // CreateMsg(ACode, AMessage): a ready message.
  static EVdbEngine CreateMsg(std::int16_t code, std::u16string message);

  std::int16_t Code() const noexcept { return FCode; }
  const std::u16string& Message() const noexcept { return FMessage; }
  // UTF-8 form of Message(), for diagnostics only.
  const char* what() const noexcept override { return FWhat.c_str(); }

 protected:
  struct ReadyMessage {};
  EVdbEngine(ReadyMessage, std::int16_t code, std::u16string message);

 private:
  std::int16_t FCode;
  std::u16string FMessage;
  std::string FWhat;
};

}  // namespace vdb
