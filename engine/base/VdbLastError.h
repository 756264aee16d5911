// The last error of a session: the engine error number and message of the most recent
// failure, with the source position it refers to, as the call interface hands them out.
// One recorder per session; calls of one session come from one thread at a time, so the
// recorder has no lock. A recorded error stays until another error replaces it; successful
// operations do not clear it.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "base/VdbErrors.h"

namespace vdb {

// Where recorded errors are logged. The session's engine log implements it.
class IVdbErrorLog {
 public:
  virtual ~IVdbErrorLog() = default;
  // Writes one line at `level` (1..4) with the `subsystem` and `message` texts. Must not
  // throw: a log that cannot write drops the line, because recording an error must never
  // fail or lose the error because of its log.
  virtual void Write(std::int16_t level, std::u16string_view subsystem,
                     std::u16string_view message) noexcept = 0;
};

// Log level of recorded errors.
inline constexpr std::int16_t kErrorLogLevel = 2;

class TVdbLastError {
 public:
  // Counts recorded errors. A boundary takes the value when its operation starts; when the
  // value is unchanged later, nothing has been recorded since.
  using TGeneration = std::uint64_t;

  // Starts cleared. `log` (not owned, may be null) must outlive the recorder or be replaced.
  explicit TVdbLastError(IVdbErrorLog* log = nullptr) noexcept : FLog(log) {}
  void SetLog(IVdbErrorLog* log) noexcept { FLog = log; }

  // Every recording form below returns the negated engine error number that is recorded
  // afterwards, as a 16-bit status (always negative).

  // Records `code` with its table text filled with `description`. When the template does not
  // fit, the text is "Invalid error message: " followed by the unformatted template.
  std::int16_t SetLastError(std::int16_t code, std::u16string_view description);
  // The same with an argument list; an empty list is allowed.
  std::int16_t SetLastError(std::int16_t code, const TVdbFmtArgs& args);
  std::int16_t SetLastError(std::int16_t code, std::initializer_list<TVdbFmtArg> args);
  // Records a caught exception: a compiler error with its position (SetLastCompilerError),
  // any other with its code and message. For the internal unwinding exception (9999) see
  // RecordError.
  std::int16_t SetLastError(const EVdbEngine& exc);
  // As SetLastError(exc), for a boundary whose operation started at generation `start`:
  // the internal unwinding exception keeps only an error recorded since `start`. When
  // nothing was recorded since, an older error must not be reported for this operation, so
  // the generic error of RecordUnexplainedUnwind is recorded instead.
  std::int16_t SetLastErrorSince(const EVdbEngine& exc, TGeneration start);
  // Records code and message, then unit name, source line (tabs as blanks), line number and
  // character position (cut to 0..65535).
  std::int16_t SetLastCompilerError(const EVdbCompilerError& exc);
  // SetLastError(code, {description}), then the erroneous `expression` (tabs as blanks) and
  // the error's `position` in it.
  std::int16_t SetLastErrorPos(std::int16_t code, std::u16string_view description,
                               std::uint16_t position, std::u16string_view expression);
  // Records `code` with the ready message `msg`, then expression and position as above.
  std::int16_t SetLastErrorMsgPos(std::int16_t code, std::u16string_view msg,
                                  std::uint16_t position, std::u16string_view expression);

  // Code 0, empty texts, line number and position 0. For operations that start afresh.
  void ClearLastError() noexcept;

  // The recorded error as a new exception (code and ready message) when an error is
  // recorded, none after ClearLastError. For raising a recorded error again.
  std::optional<EVdbEngine> CreateLastErrorExc() const;

  // Where every recording form ends.
  // - 9999 (internal unwinding) records nothing and returns the negated recorded code: the
  //   error that caused the unwinding was recorded before. When no error is recorded at all
  //   (code 0), returning 0 would report the failure as success, so the generic error of
  //   RecordUnexplainedUnwind is recorded.
  // - A code outside 1..190 names no engine error; it is recorded as error 52 ("Unknown
  //   error: %s") naming the code and the text, so that the status stays a failure.
  // - Otherwise the code and text become the last error, and the error is written to the
  //   log at level 2 with the subsystem "Error <code>", except code 19 ("Record not
  //   found"), an everyday outcome. Source position fields are left as they are.
  std::int16_t RecordError(std::int16_t code, std::u16string_view text);

  // Records error 52 "Unknown error: internal failure without a recorded error": the
  // result of an internal unwinding that has no recorded cause.
  std::int16_t RecordUnexplainedUnwind();

  std::int16_t Code() const noexcept { return FLastErrorCode; }
  const std::u16string& Msg() const noexcept { return FLastErrorMsg; }
  const std::u16string& UnitName() const noexcept { return FLastErrorUnitName; }
  const std::u16string& Line() const noexcept { return FLastErrorLine; }
  std::int32_t LineNo() const noexcept { return FLastErrorLineNo; }
  std::uint16_t Pos() const noexcept { return FLastErrorPos; }
  // Changes with every error recorded (not with ClearLastError).
  TGeneration Generation() const noexcept { return FGeneration; }

 private:
  void SetPosition(std::u16string_view line, std::uint16_t position);

  IVdbErrorLog* FLog;
  std::int16_t FLastErrorCode = 0;
  std::u16string FLastErrorMsg;
  std::u16string FLastErrorUnitName;
  std::u16string FLastErrorLine;
  std::int32_t FLastErrorLineNo = 0;
  std::uint16_t FLastErrorPos = 0;
  TGeneration FGeneration = 0;
};

}  // namespace vdb
