// Values of one column inside the engine's record image, as the dataset components read and
// write them: numbers little-endian, packed dates, times in minutes or milliseconds, strings
// with a length prefix, the null byte first (table level 6) or last (older levels) when the
// column has one, and the zero value as null for the kinds without one.
// Values travel as the framework's field values (see tk::TFieldValue). Pure functions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "VdbCodePage.h"
#include "db/TField.h"

namespace vdbds {

// Engine column type codes the components tell apart.
enum TVdbColumnType : std::int16_t {
  ctChar = 0, ctString = 1, ctSmallInt = 2, ctFloat = 3, ctByte = 4, ctBoolean = 5, ctDate = 6, ctMemo = 7,
  ctEnum = 8, ctRecordId = 9, ctLink = 10, ctBlob = 11, ctRelation = 12, ctTime = 13, ctInteger = 16,
  ctTimeStamp = 17, ctWideString = 18, ctWideMemo = 19, ctBigInt = 20, ctGuid = 21, ctFixedBinary = 22
};

// Column option bits as the engine reports them.
constexpr std::uint8_t kColumnComputed = 0x01;
constexpr std::uint8_t kColumnHasNullByte = 0x08;
constexpr std::uint8_t kColumnNullable = 0x20;
constexpr std::uint8_t kColumnNoIndex = 0x40;

// Where and how one column lies in the record image.
struct TVdbColumnLayout {
  std::int16_t ColumnType = 0;  // low byte of the engine's type word
  std::uint16_t Position = 0;
  std::uint16_t Size = 0;
  std::uint8_t Options = 0;
  std::int16_t TableLevel = 6;
  std::int32_t MaxLength = 0;   // characters of strings, bytes of fixed binaries
  std::int32_t Precision = 0;   // of times
  bool HasNullByte() const noexcept { return (Options & kColumnHasNullByte) != 0; }
  // First byte of the value proper.
  std::uint16_t DataOffset() const noexcept {
    return static_cast<std::uint16_t>(Position + (HasNullByte() && TableLevel >= 6 ? 1 : 0));
  }
  std::uint16_t NullByteOffset() const noexcept {
    return static_cast<std::uint16_t>(TableLevel >= 6 ? Position : Position + Size - 1);
  }
  // Characters of a string kind, derived from the stored size when the engine gave none.
  std::int32_t StringLength() const noexcept;
};

constexpr std::int64_t kMsPerDay = 86'400'000;

// Packed stored date (year * 512 + month * 32 + day) <-> framework day number.
std::int64_t PackedDateToDayNumber(std::int32_t packed);
std::int32_t DayNumberToPackedDate(std::int64_t dayNumber);

// GUID bytes (native order) <-> braced text of 38 characters; false for a malformed text.
std::u16string GuidToText(const std::uint8_t* bytes);
bool TextToGuid(std::u16string_view text, std::uint8_t* bytes);

// Reads a column; false when it holds no value. Enum columns give their stored ordinal
// (std::int64_t), memo and blob kinds only tell whether a reference is stored, a fixed
// binary its bytes. codePage converts 8-bit text.
bool ReadColumn(const TVdbColumnLayout& column, const std::uint8_t* image, const TVdbCodePage& codePage,
                tk::TFieldValue& value);
// Writes a column; monostate writes null (the null byte 0, or the zero value of kinds
// without one). Enum columns take the ordinal; memo and blob kinds are written elsewhere.
// Raises EDatabaseError for a time precision the engine cannot store.
void WriteColumn(const TVdbColumnLayout& column, std::uint8_t* image, const TVdbCodePage& codePage,
                 const tk::TFieldValue& value);

}  // namespace vdbds
