// The engine's two message tables and the copying of texts into call-interface buffers.
// The engine message table holds the template of every engine error number (1..190); the
// call-interface status table holds the text of every status an exported function returns.
// Both tables are constant data: any thread may read them at any time.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/VdbFormat.h"

namespace vdb {

// One entry of the call-interface status table.
struct TVdbStatusText {
  std::int16_t Status;
  std::u16string_view Text;
};

// The template of engine error `code`: empty for a number without an entry and for any
// number outside 1..190. The view refers to static data and stays valid for the process.
std::u16string_view EngineMessageText(std::int32_t code) noexcept;

// True for 1..190, the numbers the engine may raise and record (whether or not they have text).
bool IsEngineErrorCode(std::int32_t code) noexcept;

// The template of `code` filled with `args` (see VdbFormat); no result when the arguments do
// not fit the template. A code without text gives an empty text.
std::optional<std::u16string> FormatEngineMessage(std::int32_t code, const TVdbFmtArgs& args);

// The fixed message of the internal unwinding exception (code 9999).
std::u16string_view InternalUnwindText() noexcept;

// All 67 entries of the call-interface status table, in table order (status 1 first).
std::span<const TVdbStatusText> StatusTable() noexcept;

// The text of call-interface status `status`, searched from the top of the table; the text of
// status 1 ("Unknown error") for a status not in the table. Stays valid for the process.
std::u16string_view StatusText(std::int32_t status) noexcept;

// Copies `text` into a caller's UTF-16 buffer of `capacity` code units, terminating NUL
// included: at most capacity - 1 units of text, then a NUL. A text that does not fit is cut,
// and never between the two halves of a surrogate pair. A capacity of 0 or less, or a null
// buffer, writes nothing. Returns the number of text units written (without the NUL).
// Every call-interface function that hands out a text uses this convention, with its MaxLen
// parameter as the capacity, so that a buffer is never overrun.
std::int32_t CopyToCallerBuffer(std::u16string_view text, std::uint16_t* buffer,
                                std::int32_t capacity) noexcept;

}  // namespace vdb
