// Value types of the engine: how each column type lays a value out inside a record image,
// how values are read, written, compared, converted to and from text and to other types, and
// which type an operator yields.
//
// Type objects (TVdbDataType and its subclasses) are shared and immutable: the factories return
// objects from one process-wide registry and nothing frees them before the process ends, so
// plain pointers to them stay valid everywhere. Values (TVdbDataValue) are small tagged records
// that either own their bytes or refer to a field inside a record buffer; a type object
// interprets them.
//
// Threads: the factories and every const operation of a type may be called from any thread at
// once (the registry has its own lock). A TVdbDataValue belongs to one thread at a time, as does
// the record buffer it refers to.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "types/VdbCollation.h"
#include "types/vuFormats.h"

namespace vdb {

// Column type codes: stored in table files (never renumber).
using TVdbColumnType = std::int16_t;
inline constexpr TVdbColumnType vctNull = -1;
inline constexpr TVdbColumnType vctChar = 0;
inline constexpr TVdbColumnType vctString = 1;
inline constexpr TVdbColumnType vctSmallInt = 2;
inline constexpr TVdbColumnType vctFloat = 3;
inline constexpr TVdbColumnType vctByte = 4;
inline constexpr TVdbColumnType vctBoolean = 5;
inline constexpr TVdbColumnType vctDate = 6;
inline constexpr TVdbColumnType vctMemo = 7;
inline constexpr TVdbColumnType vctEnum = 8;
inline constexpr TVdbColumnType vctRecordId = 9;
inline constexpr TVdbColumnType vctLink = 10;
inline constexpr TVdbColumnType vctBlob = 11;
inline constexpr TVdbColumnType vctRelation = 12;
inline constexpr TVdbColumnType vctTime = 13;
inline constexpr TVdbColumnType vctInteger = 16;
inline constexpr TVdbColumnType vctTimeStamp = 17;
inline constexpr TVdbColumnType vctWideString = 18;
inline constexpr TVdbColumnType vctWideMemo = 19;
inline constexpr TVdbColumnType vctBigInt = 20;
inline constexpr TVdbColumnType vctGuid = 21;
inline constexpr TVdbColumnType vctFixedBinary = 22;

// MaxLength of a string without a bound (computed values only).
inline constexpr std::int32_t VDB_UNBOUNDED_LENGTH = 2147483647;
inline constexpr std::int32_t VDB_MAX_ANSI_LENGTH = 32764;
inline constexpr std::int32_t VDB_MAX_WIDE_LENGTH = 16382;

enum TVdbDataBinaryOperator : std::uint8_t {
  dboPlus, dboMinus, dboMultiply, dboDivide, dboDiv, dboMod, dboAnd, dboOr
};
enum TVdbDataUnaryOperator : std::uint8_t { duoMinus, duoNot, duoInc, duoStringUpper, duoStringLower };

// Results of CompareTo / Compare.
inline constexpr int vcrUndefined = 0;  // a side is null (expression comparisons only)
inline constexpr int vcrLess = 1;
inline constexpr int vcrEqual = 2;
inline constexpr int vcrGreater = 3;

// How values are compared. Expressions treat floats that differ by a relative 1e-15 as equal and
// a null side as undefined; that relation is not transitive, so ordered structures (indexes,
// sorting) use vcmIndex: an exact total order in which null sorts first, -0.0 equals +0.0 and
// every NaN is equal to every other NaN and greater than all numbers.
enum TVdbCompareMode : std::uint8_t { vcmExpression, vcmIndex };

struct TVdbGuid {
  std::uint32_t Data1 = 0;
  std::uint16_t Data2 = 0;
  std::uint16_t Data3 = 0;
  std::uint8_t Data4[8] = {};
  friend bool operator==(const TVdbGuid&, const TVdbGuid&) = default;
};

// Packed date: year * 512 + month * 32 + day; 0 is the empty date.
using TVdbPackedDate = std::int32_t;

struct TVdbTimeStamp {
  TVdbPackedDate Date = 0;
  std::int32_t Time = 0;  // milliseconds since midnight
  friend bool operator==(const TVdbTimeStamp&, const TVdbTimeStamp&) = default;
};

inline constexpr std::int64_t VDB_TICKS_PER_MS = 10000;
inline constexpr std::int64_t VDB_TICKS_PER_MINUTE = 600000000;
inline constexpr std::int64_t VDB_TICKS_PER_DAY = 864000000000;
inline constexpr std::int64_t VDB_MS_PER_DAY = 86400000;

// Date helpers. VdbEncodeDate/VdbDayNumber raise nothing; callers check VdbIsValidDate first.
bool VdbIsValidDate(int year, int month, int day) noexcept;
TVdbPackedDate VdbEncodeDate(int year, int month, int day) noexcept;
void VdbDecodeDate(TVdbPackedDate date, int& year, int& month, int& day) noexcept;
// Days since 1 January of year 1 (that day is 1); proleptic Gregorian calendar.
std::int64_t VdbDayNumber(TVdbPackedDate date) noexcept;
// Inverse of VdbDayNumber; raises EVdbEngine 81 when the day lies outside years 1..9999.
TVdbPackedDate VdbDateFromDayNumber(std::int64_t dayNumber);

class TVdbDataType;

// A value: the stored bytes of one field in the layout of its type, either owned or referring
// to a field inside a record buffer. An empty value (fresh or after Clear) is treated as null;
// the first Set... call of a type stamps it with that type's code and layout.
class TVdbDataValue {
 public:
  TVdbDataValue() = default;
  // Copies own bytes; a copy of a reference refers to the same record bytes.
  TVdbDataValue(const TVdbDataValue& other);
  TVdbDataValue& operator=(const TVdbDataValue& other);
  TVdbDataValue(TVdbDataValue&& other) noexcept;
  TVdbDataValue& operator=(TVdbDataValue&& other) noexcept;

  bool IsEmpty() const noexcept { return FEmpty; }
  TVdbColumnType Code() const noexcept { return FCode; }
  // True when the value refers into a record buffer; the buffer must outlive such a value.
  bool IsReference() const noexcept { return FIsRef; }
  // The field bytes (owned or referred to).
  std::span<std::uint8_t> Field() noexcept;
  std::span<const std::uint8_t> Field() const noexcept;
  // Back to empty, releasing owned bytes (DoneValue).
  void Clear() noexcept;

 private:
  friend class TVdbDataType;
  void MakeOwned(TVdbColumnType code, std::size_t size);
  void MakeReference(TVdbColumnType code, std::span<std::uint8_t> field) noexcept;

  static constexpr std::size_t kInline = 24;
  TVdbColumnType FCode = 0;
  bool FEmpty = true;
  bool FIsRef = false;
  std::uint32_t FSize = 0;
  std::uint8_t FInline[kInline] = {};
  std::vector<std::uint8_t> FHeap;
  std::span<std::uint8_t> FRef;
};

struct TVdbEnumItem {
  std::u16string Name;
  std::int32_t Value = 0;
  friend bool operator==(const TVdbEnumItem&, const TVdbEnumItem&) = default;
};

// The abstract value type. Accessors a type does not support raise EVdbEngine 44
// ("Type mismatch: %s"). Setters write the data and then mark the field present; a value that
// refers into a record therefore writes the record. Getters on a null value return 0 / empty.
class TVdbDataType {
 public:
  virtual ~TVdbDataType() = default;
  TVdbDataType(const TVdbDataType&) = delete;
  TVdbDataType& operator=(const TVdbDataType&) = delete;

  // ---- Factories: shared objects from the registry; Level 0 means a computed value. A level
  // above 6 raises EVdbEngine 134. Nullability a level does not allow is dropped (RecordId is
  // never nullable; below level 4 neither are Char, String and WideString).

  // Types without parameters and default-parameter date/time, memo and blob types; nullptr for
  // String, Enum, WideString and fixed binary, which need parameters, and for unknown codes.
  static const TVdbDataType* GetDataType(TVdbColumnType columnType, bool nullable, int level);
  // As above, but String, WideString and fixed binary derive their maximum length from the
  // stored field size (null byte included). Raises EVdbEngine 143 when the size leaves no room.
  static const TVdbDataType* GetDataType(TVdbColumnType columnType, bool nullable, std::uint32_t size, int level);
  // String (1), Memo (7), WideString (18), WideMemo (19). Raises 189 when MaxLength is outside
  // 1..32764 (ANSI) or 1..16382 (wide) for 1 and 18, and 138 for an unknown collation.
  static const TVdbDataType* GetStringType(TVdbColumnType columnType, bool nullable, std::int32_t maxLength,
                                           std::u16string_view collationName, int level);
  // For computed values: like GetStringType, but a length above the maximum gives the largest
  // allowed length and VDB_UNBOUNDED_LENGTH gives an unbounded string.
  static const TVdbDataType* GetApproxStringType(TVdbColumnType columnType, bool nullable, std::int32_t maxLength,
                                                 std::u16string_view collationName, int level);
  static const TVdbDataType* GetFloatType(TVdbColumnType columnType, bool nullable, int scale, int level);
  // Date (6), Time (13) or TimeStamp (17). Precision of a time is 1..4 (raises 49 otherwise).
  static const TVdbDataType* GetDateTimeType(TVdbColumnType columnType, bool nullable, int precision,
                                             bool hasNullByte, int level);
  static const TVdbDataType* GetDateTimeType(TVdbColumnType columnType, bool nullable, int precision, int level);
  // Blob (11) or fixed binary (22, MaxSize 1..32764, raises 189 otherwise).
  static const TVdbDataType* GetBinaryType(TVdbColumnType columnType, bool nullable, std::int32_t maxSize, int level);
  // Item values must be 1..127 and distinct (raises 49 otherwise).
  static const TVdbDataType* GetEnumType(bool nullable, bool flags, const std::vector<TVdbEnumItem>& items,
                                         int level, std::u16string_view name = {});
  // Splits ANames at ASeparator (text between AQuote characters is kept whole, a doubled quote
  // stands for one) and numbers the items 1, 2, 3 ...
  static const TVdbDataType* GetEnumType(bool nullable, bool flags, std::u16string_view names, char16_t separator,
                                         char16_t quote, int level);
  static const TVdbDataType* GetNullType(int level);
  // The type a variable holding values of AType gets: level 0, nullable, strings and memos
  // unbounded (same collation).
  static const TVdbDataType* GetVariableType(const TVdbDataType& type);

  // ---- Type-level operations over two types.
  static bool CanConvert(const TVdbDataType& from, const TVdbDataType& to, bool explicitly);
  // Converts AFromValue into AToValue (of AToType). Raises 44 when the conversion is not
  // allowed and the target type's errors when the value does not fit.
  static void Convert(const TVdbDataValue& fromValue, TVdbDataValue& toValue, const TVdbDataType& fromType,
                      const TVdbDataType& toType, bool explicitly);
  static bool CanCompare(const TVdbDataType& type1, const TVdbDataType& type2);
  // vcrUndefined/vcrLess/vcrEqual/vcrGreater; raises 44 when the types cannot be compared.
  static int Compare(const TVdbDataValue& value1, const TVdbDataValue& value2, const TVdbDataType& type1,
                     const TVdbDataType& type2, TStrCmpOptions options = 0, TVdbCompareMode mode = vcmExpression);
  // The type both types convert to implicitly (nullable when either is, level 0), or nullptr:
  // the wider integer, the float of an integer and a float, the wide and longer of two texts
  // (a memo when either is one), the other type for the null type.
  static const TVdbDataType* GetSuperType(const TVdbDataType& type1, const TVdbDataType& type2);
  // Result type of a binary operator; nullptr when the operator is not allowed.
  static const TVdbDataType* GetResultDataType(TVdbDataBinaryOperator op, const TVdbDataType& type1,
                                               const TVdbDataType& type2);
  // Computes AValue1 op AValue2 into AResult of AResultType (which GetResultDataType gave).
  // A null operand gives null. Raises 135 "Cannot perform this operation on these data types."
  // when no type yields a result, 178 on division by zero and 81 when the result does not fit.
  static void Calculate(TVdbDataBinaryOperator op, const TVdbDataValue& value1, const TVdbDataValue& value2,
                        TVdbDataValue& result, const TVdbDataType& type1, const TVdbDataType& type2,
                        const TVdbDataType& resultType);
  static void Calculate(TVdbDataUnaryOperator op, const TVdbDataValue& value, TVdbDataValue& result,
                        const TVdbDataType& type, const TVdbDataType& resultType);

  // ---- Attributes
  TVdbColumnType ColumnType() const noexcept { return FColumnType; }
  bool Nullable() const noexcept { return FNullable; }
  int Level() const noexcept { return FLevel; }
  // Stored width of a field, null byte included.
  std::uint32_t DataSize() const noexcept { return DataWidth() + (HasNullByte() ? 1u : 0u); }
  virtual bool HasNullByte() const noexcept;
  // Offset of the null byte in the field (only meaningful when HasNullByte()).
  std::uint32_t NullByteOffset() const noexcept;
  // Offset of the data bytes in the field.
  std::uint32_t DataOffset() const noexcept;
  virtual std::u16string SqlName() const = 0;
  virtual std::u16string VplName() const = 0;
  // The registered type differing only in nullability / level.
  const TVdbDataType* GetNullableType(bool nullable) const;
  const TVdbDataType* GetLevelType(int level) const;
  bool IsInteger() const noexcept;
  bool IsNumeric() const noexcept { return IsInteger() || FColumnType == vctFloat; }
  bool IsString() const noexcept;
  bool IsDateTime() const noexcept;

  // ---- Values
  // Makes AValue an owned null value of this type (a non-nullable type gets its default).
  void InitValue(TVdbDataValue& value) const;
  // Makes AValue refer to the field at AOffset of ARecord; the record must outlive the use of
  // the value. Raises 135 when the field does not lie inside ARecord (nothing is touched).
  virtual void SetReference(TVdbDataValue& value, std::span<std::uint8_t> record, std::size_t offset) const;
  // Copies a value of this type into the field at AOffset of ARecord (bounds as SetReference).
  void CopyTo(const TVdbDataValue& value, std::span<std::uint8_t> record, std::size_t offset) const;
  virtual bool IsNull(const TVdbDataValue& value) const;
  // Raises 47 "\"%s\" does not accept NULL values" when the type is not nullable.
  virtual void SetNull(TVdbDataValue& value) const;
  void SetNullOrDefault(TVdbDataValue& value) const;
  virtual void GetDefault(TVdbDataValue& value) const;
  virtual void GetMaximum(TVdbDataValue& value) const;
  virtual void GetMinimum(TVdbDataValue& value) const;
  // Bytes of data a value holds: the stored width for fixed-size types, the characters of a
  // text (times 2 for wide texts), the bytes of binary data; 0 for null.
  virtual std::size_t GetSize(const TVdbDataValue& value) const;
  // Copies (and converts explicitly when AOtherType differs) AOther into AValue.
  void Assign(TVdbDataValue& value, const TVdbDataValue& other, const TVdbDataType& otherType) const;

  virtual void SetInteger(TVdbDataValue& value, std::int64_t v) const;
  virtual std::int64_t GetInteger(const TVdbDataValue& value) const;
  virtual void SetDouble(TVdbDataValue& value, double v) const;
  virtual double GetDouble(const TVdbDataValue& value) const;
  virtual void SetGuid(TVdbDataValue& value, const TVdbGuid& v) const;
  virtual TVdbGuid GetGuid(const TVdbDataValue& value) const;
  // Time of day in 100-ns ticks.
  virtual void SetTime(TVdbDataValue& value, std::int64_t ticks) const;
  virtual std::int64_t GetTime(const TVdbDataValue& value) const;
  virtual void SetDate(TVdbDataValue& value, TVdbPackedDate v) const;
  virtual TVdbPackedDate GetDate(const TVdbDataValue& value) const;
  virtual void SetTimeStamp(TVdbDataValue& value, const TVdbTimeStamp& v) const;
  virtual TVdbTimeStamp GetTimeStamp(const TVdbDataValue& value) const;
  // 8-bit text in the type's code page.
  virtual void SetAnsiString(TVdbDataValue& value, std::string_view bytes) const;
  virtual std::string GetAnsiString(const TVdbDataValue& value) const;
  virtual void SetWideString(TVdbDataValue& value, std::u16string_view text) const;
  virtual std::u16string GetWideString(const TVdbDataValue& value) const;
  virtual void SetBytes(TVdbDataValue& value, std::span<const std::uint8_t> bytes) const;
  virtual std::vector<std::uint8_t> GetBytes(const TVdbDataValue& value) const;

  virtual bool CanCompareTo(const TVdbDataType& other) const;
  // Compares AValue (of this type) with AOther (of AOtherType); see TVdbCompareMode.
  virtual int CompareTo(const TVdbDataValue& value, const TVdbDataValue& other, const TVdbDataType& otherType,
                        TStrCmpOptions options, TVdbCompareMode mode) const;
  // Whether values of AFrom convert into this type (implicitly or only explicitly).
  virtual bool CanConvertFrom(const TVdbDataType& from, bool explicitly) const;
  virtual void ConvertFrom(TVdbDataValue& value, const TVdbDataValue& from, const TVdbDataType& fromType,
                           bool explicitly) const;
  // Text of a value (empty for null).
  virtual std::u16string ConvertToString(const TVdbDataValue& value, const TvuFormats& formats) const = 0;
  // Parses AText into AValue; an empty text gives null. Raises the type's conversion error.
  virtual void ConvertFromString(TVdbDataValue& value, std::u16string_view text, const TvuFormats& formats) const = 0;

  virtual const TVdbDataType* GetResultDataType(TVdbDataUnaryOperator op) const;
  // This type's answer for AType1 op AType2 (this is one of them); nullptr when it has none.
  virtual const TVdbDataType* GetResultDataTypeWith(TVdbDataBinaryOperator op, const TVdbDataType& type1,
                                                    const TVdbDataType& type2) const;
  // Computes the operation whose result type this type produced; operands are not null.
  virtual void CalculateWith(TVdbDataBinaryOperator op, const TVdbDataValue& value1, const TVdbDataValue& value2,
                             TVdbDataValue& result, const TVdbDataType& type1, const TVdbDataType& type2,
                             const TVdbDataType& resultType) const;
  virtual void CalculateWith(TVdbDataUnaryOperator op, const TVdbDataValue& value, TVdbDataValue& result,
                             const TVdbDataType& resultType) const;

 protected:
  TVdbDataType(TVdbColumnType columnType, bool nullable, int level)
      : FColumnType(columnType), FNullable(nullable), FLevel(static_cast<std::int16_t>(level)) {}

  // Width of the data bytes without null byte.
  virtual std::uint32_t DataWidth() const noexcept = 0;
  // Whether the null byte comes first in the field.
  virtual bool NullByteFirst() const noexcept { return FLevel >= 6; }
  // A copy of this type with another nullability/level, for the registry.
  virtual std::unique_ptr<TVdbDataType> CloneWith(bool nullable, int level) const = 0;
  // Registry key of the type parameters beyond code, nullability and level.
  virtual std::u16string ParamKey() const { return {}; }
  // Name used in error messages (SQL name; an enum's name).
  virtual std::u16string DisplayName() const { return SqlName(); }
  [[noreturn]] void Mismatch() const;
  // Makes AValue an owned, zero-filled value of ACode with ASize bytes.
  static void OwnValue(TVdbDataValue& value, TVdbColumnType code, std::size_t size) { value.MakeOwned(code, size); }

  // Field access: prepares AValue for writing (stamping an empty/foreign owned value) and
  // returns the data bytes; MarkPresent sets the null byte to 1.
  std::span<std::uint8_t> WritableData(TVdbDataValue& value) const;
  std::span<const std::uint8_t> ReadableData(const TVdbDataValue& value) const;
  void MarkPresent(TVdbDataValue& value) const;
  // Checks the null byte; raises 44 when AValue is smaller than a field of this type.
  bool NullByteIsZero(const TVdbDataValue& value) const;
  // Raises 44 unless AValue carries this type's code and at least AMinimum bytes, so that no
  // accessor reads outside a value made by another type.
  void CheckField(const TVdbDataValue& value, std::size_t minimum) const;
  // Size an owned value of this type gets.
  virtual std::size_t OwnedSize() const { return DataSize(); }

 public:
  // Registry identity: code, nullability, level and parameters.
  std::u16string RegistryKey() const;

 private:
  TVdbColumnType FColumnType;
  bool FNullable;
  std::int16_t FLevel;
};

// Registers ANew (or finds its equal) and returns the shared object.
const TVdbDataType* VdbRegisterType(std::unique_ptr<TVdbDataType> type);

// ---------------------------------------------------------------------------------------------
// The concrete types. Create them only through the factories of TVdbDataType.

class TVdbNullType final : public TVdbDataType {
 public:
  TVdbNullType(int level) : TVdbDataType(vctNull, true, level) {}
  std::u16string SqlName() const override { return u"<null type>"; }
  std::u16string VplName() const override { return u"<null type>"; }
  bool HasNullByte() const noexcept override { return false; }
  bool IsNull(const TVdbDataValue&) const override { return true; }
  void SetNull(TVdbDataValue& value) const override;
  void GetDefault(TVdbDataValue& value) const override { SetNull(value); }
  // Raises 135 "Null type cannot be a reference."
  void SetReference(TVdbDataValue& value, std::span<std::uint8_t> record, std::size_t offset) const override;
  bool CanCompareTo(const TVdbDataType&) const override { return true; }
  int CompareTo(const TVdbDataValue&, const TVdbDataValue& other, const TVdbDataType& otherType, TStrCmpOptions,
                TVdbCompareMode mode) const override;
  bool CanConvertFrom(const TVdbDataType& from, bool) const override { return from.ColumnType() == vctNull; }
  std::u16string ConvertToString(const TVdbDataValue&, const TvuFormats&) const override { return {}; }
  void ConvertFromString(TVdbDataValue& value, std::u16string_view, const TvuFormats&) const override { SetNull(value); }
  const TVdbDataType* GetResultDataType(TVdbDataUnaryOperator) const override { return this; }
  const TVdbDataType* GetResultDataTypeWith(TVdbDataBinaryOperator, const TVdbDataType&,
                                            const TVdbDataType&) const override { return this; }

 protected:
  std::uint32_t DataWidth() const noexcept override { return 0; }
  std::unique_ptr<TVdbDataType> CloneWith(bool, int level) const override {
    return std::make_unique<TVdbNullType>(level);
  }
};

class TVdbNumericType : public TVdbDataType {
 public:
  bool CanCompareTo(const TVdbDataType& other) const override;
  int CompareTo(const TVdbDataValue& value, const TVdbDataValue& other, const TVdbDataType& otherType,
                TStrCmpOptions options, TVdbCompareMode mode) const override;

 protected:
  using TVdbDataType::TVdbDataType;
};

// SmallInt, Byte, Boolean, RecordId, Link, Integer, BigInt.
class TVdbIntegerType final : public TVdbNumericType {
 public:
  TVdbIntegerType(TVdbColumnType columnType, bool nullable, int level) : TVdbNumericType(columnType, nullable, level) {}
  std::u16string SqlName() const override;
  std::u16string VplName() const override { return u"Integer"; }
  bool HasNullByte() const noexcept override;
  bool IsNull(const TVdbDataValue& value) const override;
  void SetNull(TVdbDataValue& value) const override;
  void GetDefault(TVdbDataValue& value) const override { SetInteger(value, 0); }
  void GetMaximum(TVdbDataValue& value) const override { SetInteger(value, MaxValue()); }
  void GetMinimum(TVdbDataValue& value) const override;
  std::int64_t MinValue() const noexcept;
  std::int64_t MaxValue() const noexcept;
  // Raises 81 "Value %s of type %s exceeds the allowed range from %s to %s" when out of range.
  void SetInteger(TVdbDataValue& value, std::int64_t v) const override;
  std::int64_t GetInteger(const TVdbDataValue& value) const override;
  // Rounds to the nearest integer; range as SetInteger.
  void SetDouble(TVdbDataValue& value, double v) const override;
  double GetDouble(const TVdbDataValue& value) const override;
  bool CanConvertFrom(const TVdbDataType& from, bool explicitly) const override;
  void ConvertFrom(TVdbDataValue& value, const TVdbDataValue& from, const TVdbDataType& fromType,
                   bool explicitly) const override;
  std::u16string ConvertToString(const TVdbDataValue& value, const TvuFormats& formats) const override;
  void ConvertFromString(TVdbDataValue& value, std::u16string_view text, const TvuFormats& formats) const override;
  const TVdbDataType* GetResultDataType(TVdbDataUnaryOperator op) const override;
  const TVdbDataType* GetResultDataTypeWith(TVdbDataBinaryOperator op, const TVdbDataType& type1,
                                            const TVdbDataType& type2) const override;
  void CalculateWith(TVdbDataBinaryOperator op, const TVdbDataValue& value1, const TVdbDataValue& value2,
                     TVdbDataValue& result, const TVdbDataType& type1, const TVdbDataType& type2,
                     const TVdbDataType& resultType) const override;
  void CalculateWith(TVdbDataUnaryOperator op, const TVdbDataValue& value, TVdbDataValue& result,
                     const TVdbDataType& resultType) const override;

 protected:
  std::uint32_t DataWidth() const noexcept override;
  std::unique_ptr<TVdbDataType> CloneWith(bool nullable, int level) const override {
    return std::make_unique<TVdbIntegerType>(ColumnType(), nullable, level);
  }
};

class TVdbFloatType final : public TVdbNumericType {
 public:
  TVdbFloatType(bool nullable, int scale, int level)
      : TVdbNumericType(vctFloat, nullable, level), FScale(static_cast<std::int16_t>(scale)) {}
  std::u16string SqlName() const override { return u"DOUBLE"; }
  std::u16string VplName() const override { return u"Real"; }
  int Precision() const noexcept { return FPrecision; }
  int Scale() const noexcept { return FScale; }
  void GetDefault(TVdbDataValue& value) const override { SetDouble(value, 0); }
  void GetMaximum(TVdbDataValue& value) const override;
  void GetMinimum(TVdbDataValue& value) const override;
  void SetInteger(TVdbDataValue& value, std::int64_t v) const override { SetDouble(value, static_cast<double>(v)); }
  // Raises 81 when the double is outside the 64-bit integer range.
  std::int64_t GetInteger(const TVdbDataValue& value) const override;
  void SetDouble(TVdbDataValue& value, double v) const override;
  double GetDouble(const TVdbDataValue& value) const override;
  bool CanConvertFrom(const TVdbDataType& from, bool explicitly) const override;
  void ConvertFrom(TVdbDataValue& value, const TVdbDataValue& from, const TVdbDataType& fromType,
                   bool explicitly) const override;
  std::u16string ConvertToString(const TVdbDataValue& value, const TvuFormats& formats) const override;
  // Raises 46 with "Invalid double: \"%s\"".
  void ConvertFromString(TVdbDataValue& value, std::u16string_view text, const TvuFormats& formats) const override;
  const TVdbDataType* GetResultDataType(TVdbDataUnaryOperator) const override { return nullptr; }
  const TVdbDataType* GetResultDataTypeWith(TVdbDataBinaryOperator op, const TVdbDataType& type1,
                                            const TVdbDataType& type2) const override;
  void CalculateWith(TVdbDataBinaryOperator op, const TVdbDataValue& value1, const TVdbDataValue& value2,
                     TVdbDataValue& result, const TVdbDataType& type1, const TVdbDataType& type2,
                     const TVdbDataType& resultType) const override;

 protected:
  std::uint32_t DataWidth() const noexcept override { return 8; }
  std::u16string ParamKey() const override;
  std::unique_ptr<TVdbDataType> CloneWith(bool nullable, int level) const override {
    return std::make_unique<TVdbFloatType>(nullable, FScale, level);
  }

 private:
  std::int16_t FPrecision = 15;
  std::int16_t FScale;
};

// Compares two doubles: expression mode with the relative tolerance 1e-15, index mode as an
// exact total order (NaN greatest, -0.0 == +0.0). Returns vcrLess/vcrEqual/vcrGreater.
int VdbCompareFloat(double a, double b, TVdbCompareMode mode) noexcept;

class TVdbEnumType final : public TVdbDataType {
 public:
  TVdbEnumType(bool nullable, bool flags, std::vector<TVdbEnumItem> items, std::u16string name, int level)
      : TVdbDataType(vctEnum, nullable, level), FName(std::move(name)), FFlags(flags), FEnumItems(std::move(items)) {}
  std::u16string SqlName() const override { return u"<enumeration>"; }
  std::u16string VplName() const override { return u"<enumeration>"; }
  const std::u16string& Name() const noexcept { return FName; }
  bool Flags() const noexcept { return FFlags; }
  const std::vector<TVdbEnumItem>& Items() const noexcept { return FEnumItems; }
  bool HasNullByte() const noexcept override { return false; }
  bool IsNull(const TVdbDataValue& value) const override;
  void SetNull(TVdbDataValue& value) const override;
  void GetDefault(TVdbDataValue& value) const override;
  // The item value; raises 135 "\"%d\" is not a valid enumeration value for %s." when no item
  // has it.
  void SetInteger(TVdbDataValue& value, std::int64_t v) const override;
  std::int64_t GetInteger(const TVdbDataValue& value) const override;
  void SetWideString(TVdbDataValue& value, std::u16string_view text) const override { ConvertFromString(value, text, TvuFormats::Invariant()); }
  std::u16string GetWideString(const TVdbDataValue& value) const override { return ConvertToString(value, TvuFormats::Invariant()); }
  bool CanCompareTo(const TVdbDataType& other) const override;
  int CompareTo(const TVdbDataValue& value, const TVdbDataValue& other, const TVdbDataType& otherType,
                TStrCmpOptions options, TVdbCompareMode mode) const override;
  bool CanConvertFrom(const TVdbDataType& from, bool explicitly) const override;
  void ConvertFrom(TVdbDataValue& value, const TVdbDataValue& from, const TVdbDataType& fromType,
                   bool explicitly) const override;
  std::u16string ConvertToString(const TVdbDataValue& value, const TvuFormats& formats) const override;
  // By item name (case-insensitive); raises 135 "\"%s\" is not a valid enumeration value for %s.".
  void ConvertFromString(TVdbDataValue& value, std::u16string_view text, const TvuFormats& formats) const override;

 protected:
  std::uint32_t DataWidth() const noexcept override { return 1; }
  std::u16string ParamKey() const override;
  std::u16string DisplayName() const override { return FName.empty() ? SqlName() : FName; }
  std::unique_ptr<TVdbDataType> CloneWith(bool nullable, int level) const override {
    return std::make_unique<TVdbEnumType>(nullable, FFlags, FEnumItems, FName, level);
  }

 private:
  [[noreturn]] void BadValue(std::u16string_view shown) const;
  std::u16string FName;
  bool FFlags;
  std::vector<TVdbEnumItem> FEnumItems;
};

class TVdbGuidType final : public TVdbDataType {
 public:
  TVdbGuidType(bool nullable, int level) : TVdbDataType(vctGuid, nullable, level) {}
  std::u16string SqlName() const override { return u"Guid"; }
  std::u16string VplName() const override { return u"Guid"; }
  void GetDefault(TVdbDataValue& value) const override { SetGuid(value, TVdbGuid{}); }
  void SetGuid(TVdbDataValue& value, const TVdbGuid& v) const override;
  TVdbGuid GetGuid(const TVdbDataValue& value) const override;
  bool CanCompareTo(const TVdbDataType& other) const override { return other.ColumnType() == vctGuid; }
  int CompareTo(const TVdbDataValue& value, const TVdbDataValue& other, const TVdbDataType& otherType,
                TStrCmpOptions options, TVdbCompareMode mode) const override;
  bool CanConvertFrom(const TVdbDataType& from, bool explicitly) const override;
  // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case.
  std::u16string ConvertToString(const TVdbDataValue& value, const TvuFormats& formats) const override;
  // Braced form only; raises 44 "Type mismatch: String->Guid".
  void ConvertFromString(TVdbDataValue& value, std::u16string_view text, const TvuFormats& formats) const override;

 protected:
  std::uint32_t DataWidth() const noexcept override { return 16; }
  std::unique_ptr<TVdbDataType> CloneWith(bool nullable, int level) const override {
    return std::make_unique<TVdbGuidType>(nullable, level);
  }
};

// Date (6), Time (13), TimeStamp (17).
class TVdbDateTimeType final : public TVdbDataType {
 public:
  TVdbDateTimeType(TVdbColumnType columnType, bool nullable, int precision, bool hasNullByte, int level)
      : TVdbDataType(columnType, nullable, level), FPrecision(static_cast<std::int16_t>(precision)),
        FHasNullByte(hasNullByte) {}
  std::u16string SqlName() const override;
  std::u16string VplName() const override;
  int Precision() const noexcept { return FPrecision; }
  bool HasNullByte() const noexcept override;
  bool IsNull(const TVdbDataValue& value) const override;
  void SetNull(TVdbDataValue& value) const override;
  void GetDefault(TVdbDataValue& value) const override;
  void GetMaximum(TVdbDataValue& value) const override;
  void GetMinimum(TVdbDataValue& value) const override;
  // Time of day in ticks, 0 .. VDB_TICKS_PER_DAY (the end of the day is allowed); raises 140
  // outside. A 2-byte time keeps whole minutes, a 4-byte one whole milliseconds.
  void SetTime(TVdbDataValue& value, std::int64_t ticks) const override;
  std::int64_t GetTime(const TVdbDataValue& value) const override;
  // Raises 137 for a packed date that is not a valid date of the years 1..9999.
  void SetDate(TVdbDataValue& value, TVdbPackedDate v) const override;
  TVdbPackedDate GetDate(const TVdbDataValue& value) const override;
  void SetTimeStamp(TVdbDataValue& value, const TVdbTimeStamp& v) const override;
  TVdbTimeStamp GetTimeStamp(const TVdbDataValue& value) const override;
  bool CanCompareTo(const TVdbDataType& other) const override;
  int CompareTo(const TVdbDataValue& value, const TVdbDataValue& other, const TVdbDataType& otherType,
                TStrCmpOptions options, TVdbCompareMode mode) const override;
  // Date accepts dates, explicitly also Float, Integer and BigInt (a day number, 1 January of
  // year 1 being day 1); Time accepts times, explicitly also SmallInt, Integer and Float (minutes
  // since midnight, as in time arithmetic); TimeStamp accepts timestamps, dates, times and Float
  // (a day number whose fraction is the time of day). All accept text explicitly.
  bool CanConvertFrom(const TVdbDataType& from, bool explicitly) const override;
  void ConvertFrom(TVdbDataValue& value, const TVdbDataValue& from, const TVdbDataType& fromType,
                   bool explicitly) const override;
  // "dd.mm.yyyy"; "hh", "hh:nn", "hh:nn:ss" or "hh:nn:ss.zzz" by precision; a timestamp joins
  // both with "_" (time with milliseconds). AFormats is not used: these forms are fixed.
  std::u16string ConvertToString(const TVdbDataValue& value, const TvuFormats& formats) const override;
  // Date: d.m.y, m/d/y or y-m-d (two-digit years: below 30 → 20yy, else 19yy); time:
  // h[:m[:s[.f]]] with optional " AM"/" PM", f counting milliseconds; timestamp: date and time
  // separated by "_" or a blank, either part alone. Empty text gives null.
  // Raises 137 (date), 140 (time) or 158 (timestamp).
  void ConvertFromString(TVdbDataValue& value, std::u16string_view text, const TvuFormats& formats) const override;
  const TVdbDataType* GetResultDataType(TVdbDataUnaryOperator) const override { return nullptr; }
  const TVdbDataType* GetResultDataTypeWith(TVdbDataBinaryOperator op, const TVdbDataType& type1,
                                            const TVdbDataType& type2) const override;
  void CalculateWith(TVdbDataBinaryOperator op, const TVdbDataValue& value1, const TVdbDataValue& value2,
                     TVdbDataValue& result, const TVdbDataType& type1, const TVdbDataType& type2,
                     const TVdbDataType& resultType) const override;

 protected:
  std::uint32_t DataWidth() const noexcept override;
  std::u16string ParamKey() const override;
  std::unique_ptr<TVdbDataType> CloneWith(bool nullable, int level) const override {
    return std::make_unique<TVdbDateTimeType>(ColumnType(), nullable, FPrecision, FHasNullByte, level);
  }

 private:
  // Milliseconds since 1 January of year 1 for dates and timestamps.
  std::int64_t AbsoluteMs(const TVdbDataValue& value) const;
  std::int16_t FPrecision;
  bool FHasNullByte;
};

// Char (0): one 8-bit character (code page 1252), compared as an unsigned number.
class TVdbCharType final : public TVdbDataType {
 public:
  TVdbCharType(bool nullable, int level) : TVdbDataType(vctChar, nullable, level) {}
  std::u16string SqlName() const override { return Nullable() ? u"CHAR(1)" : u"CHAR(1) NOT NULL"; }
  std::u16string VplName() const override { return u"String"; }
  void GetDefault(TVdbDataValue& value) const override;
  // The first byte of ABytes (an empty text stores the character 0).
  void SetAnsiString(TVdbDataValue& value, std::string_view bytes) const override;
  std::string GetAnsiString(const TVdbDataValue& value) const override;
  void SetWideString(TVdbDataValue& value, std::u16string_view text) const override;
  std::u16string GetWideString(const TVdbDataValue& value) const override;
  void SetInteger(TVdbDataValue& value, std::int64_t v) const override;
  std::int64_t GetInteger(const TVdbDataValue& value) const override;
  bool CanCompareTo(const TVdbDataType& other) const override { return other.ColumnType() == vctChar; }
  int CompareTo(const TVdbDataValue& value, const TVdbDataValue& other, const TVdbDataType& otherType,
                TStrCmpOptions options, TVdbCompareMode mode) const override;
  bool CanConvertFrom(const TVdbDataType& from, bool explicitly) const override;
  std::u16string ConvertToString(const TVdbDataValue& value, const TvuFormats& formats) const override;
  void ConvertFromString(TVdbDataValue& value, std::u16string_view text, const TvuFormats& formats) const override;

 protected:
  std::uint32_t DataWidth() const noexcept override { return 1; }
  std::unique_ptr<TVdbDataType> CloneWith(bool nullable, int level) const override {
    return std::make_unique<TVdbCharType>(nullable, level);
  }
};

// Strings with a length prefix and a collation. Memo and wide memo fields hold a 4-byte
// reference into the memo file: a value referring to such a field offers the reference through
// GetInteger/SetInteger, while owned memo values (computed, or loaded by the storage layer)
// hold the text like an unbounded string.
class TVdbStringType : public TVdbDataType {
 public:
  std::u16string VplName() const override { return u"String"; }
  std::int32_t MaxLength() const noexcept { return FMaxLength; }
  const std::u16string& CollationName() const noexcept { return FCollation->Name(); }
  const TVdbCollation& Collation() const noexcept { return *FCollation; }
  std::uint32_t LocaleId() const noexcept { return FCollation->LocaleId(); }
  TStrCmpOptions StrCmpOptions() const noexcept { return FCollation->Options(); }
  std::uint16_t CodePage() const noexcept { return FCollation->CodePage(); }
  bool IsMemo() const noexcept { return ColumnType() == vctMemo || ColumnType() == vctWideMemo; }
  bool IsUnbounded() const noexcept { return FMaxLength == VDB_UNBOUNDED_LENGTH; }
  // Width of the length prefix: 1 below 256, 2 up to 65535, else 4.
  std::uint32_t SizeByteCount() const noexcept;
  bool HasNullByte() const noexcept override;
  bool IsNull(const TVdbDataValue& value) const override;
  void SetNull(TVdbDataValue& value) const override;
  void GetDefault(TVdbDataValue& value) const override { SetWideString(value, u""); }
  // Memo block reference of a value referring to a memo field.
  void SetInteger(TVdbDataValue& value, std::int64_t v) const override;
  std::int64_t GetInteger(const TVdbDataValue& value) const override;
  // Number of characters of a value (0 for null).
  virtual std::int32_t GetLength(const TVdbDataValue& value) const = 0;
  std::size_t GetSize(const TVdbDataValue& value) const override;
  bool CanCompareTo(const TVdbDataType& other) const override;
  int CompareTo(const TVdbDataValue& value, const TVdbDataValue& other, const TVdbDataType& otherType,
                TStrCmpOptions options, TVdbCompareMode mode) const override;
  bool CanConvertFrom(const TVdbDataType& from, bool explicitly) const override;
  void ConvertFrom(TVdbDataValue& value, const TVdbDataValue& from, const TVdbDataType& fromType,
                   bool explicitly) const override;
  std::u16string ConvertToString(const TVdbDataValue& value, const TvuFormats&) const override {
    return GetWideString(value);
  }
  void ConvertFromString(TVdbDataValue& value, std::u16string_view text, const TvuFormats&) const override {
    SetWideString(value, text);
  }
  // LIKE: whether AValue matches APattern (a value of the string type APatternType) with the
  // given joker and escape characters. Null value or pattern never match.
  bool Matches(const TVdbDataValue& value, const TVdbDataValue& pattern, const TVdbDataType& patternType,
               char16_t multiJoker, char16_t singleJoker, char16_t escape) const;
  const TVdbDataType* GetResultDataType(TVdbDataUnaryOperator op) const override;
  const TVdbDataType* GetResultDataTypeWith(TVdbDataBinaryOperator op, const TVdbDataType& type1,
                                            const TVdbDataType& type2) const override;
  void CalculateWith(TVdbDataBinaryOperator op, const TVdbDataValue& value1, const TVdbDataValue& value2,
                     TVdbDataValue& result, const TVdbDataType& type1, const TVdbDataType& type2,
                     const TVdbDataType& resultType) const override;
  void CalculateWith(TVdbDataUnaryOperator op, const TVdbDataValue& value, TVdbDataValue& result,
                     const TVdbDataType& resultType) const override;

 protected:
  TVdbStringType(TVdbColumnType columnType, bool nullable, std::int32_t maxLength, const TVdbCollation& collation,
                 int level)
      : TVdbDataType(columnType, nullable, level), FMaxLength(maxLength), FCollation(&collation) {}
  bool NullByteFirst() const noexcept override { return IsUnbounded() || IsMemo() || Level() >= 6; }
  std::u16string ParamKey() const override;
  // Whether the value holds text (owned, or referring to a non-memo field).
  bool HoldsText(const TVdbDataValue& value) const;
  // Bytes per character.
  virtual std::uint32_t CharSize() const noexcept = 0;
  // Stored character count; raises 135 when a stored count exceeds the field (a damaged record).
  std::uint32_t StoredCount(const TVdbDataValue& value) const;
  // Writes ACount characters of AChars (ACount * CharSize() bytes), growing owned unbounded
  // values; ACount is already limited to MaxLength.
  void StoreChars(TVdbDataValue& value, const std::uint8_t* chars, std::uint32_t count) const;
  std::span<const std::uint8_t> StoredChars(const TVdbDataValue& value) const;
  std::size_t OwnedSize() const override;

 private:
  std::int32_t FMaxLength;
  const TVdbCollation* FCollation;
};

class TVdbAnsiStringType final : public TVdbStringType {
 public:
  TVdbAnsiStringType(TVdbColumnType columnType, bool nullable, std::int32_t maxLength, const TVdbCollation& collation,
                     int level)
      : TVdbStringType(columnType, nullable, maxLength, collation, level) {}
  std::u16string SqlName() const override;
  // Bytes in CodePage(); longer texts are cut to MaxLength silently.
  void SetAnsiString(TVdbDataValue& value, std::string_view bytes) const override;
  std::string GetAnsiString(const TVdbDataValue& value) const override;
  // The stored bytes without a copy; valid while AValue (and the record it refers to) is
  // unchanged.
  std::string_view GetAnsiView(const TVdbDataValue& value) const;
  // Converted to CodePage() (unrepresentable characters become '?').
  void SetWideString(TVdbDataValue& value, std::u16string_view text) const override;
  std::u16string GetWideString(const TVdbDataValue& value) const override;
  std::int32_t GetLength(const TVdbDataValue& value) const override;

 protected:
  std::uint32_t DataWidth() const noexcept override;
  std::uint32_t CharSize() const noexcept override { return 1; }
  std::unique_ptr<TVdbDataType> CloneWith(bool nullable, int level) const override {
    return std::make_unique<TVdbAnsiStringType>(ColumnType(), nullable, MaxLength(), Collation(), level);
  }
};

class TVdbWideStringType final : public TVdbStringType {
 public:
  TVdbWideStringType(TVdbColumnType columnType, bool nullable, std::int32_t maxLength, const TVdbCollation& collation,
                     int level)
      : TVdbStringType(columnType, nullable, maxLength, collation, level) {}
  std::u16string SqlName() const override;
  void SetAnsiString(TVdbDataValue& value, std::string_view bytes) const override;
  std::string GetAnsiString(const TVdbDataValue& value) const override;
  // Longer texts are cut to MaxLength code units (never inside a surrogate pair).
  void SetWideString(TVdbDataValue& value, std::u16string_view text) const override;
  std::u16string GetWideString(const TVdbDataValue& value) const override;
  std::int32_t GetLength(const TVdbDataValue& value) const override;

 protected:
  std::uint32_t DataWidth() const noexcept override;
  std::uint32_t CharSize() const noexcept override { return 2; }
  std::unique_ptr<TVdbDataType> CloneWith(bool nullable, int level) const override {
    return std::make_unique<TVdbWideStringType>(ColumnType(), nullable, MaxLength(), Collation(), level);
  }
};

// Blob (11): a 4-byte reference into the blob file in a record; owned values hold bytes.
// Fixed binary (22): a 4-byte length and MaxLength bytes.
class TVdbBinaryType final : public TVdbDataType {
 public:
  TVdbBinaryType(TVdbColumnType columnType, bool nullable, std::int32_t maxLength, int level)
      : TVdbDataType(columnType, nullable, level), FMaxLength(maxLength) {}
  std::u16string SqlName() const override { return u"LONGVARBINARY"; }
  std::u16string VplName() const override { return u"Blob"; }
  std::int32_t MaxLength() const noexcept { return FMaxLength; }
  bool IsBlob() const noexcept { return ColumnType() == vctBlob; }
  bool HasNullByte() const noexcept override;
  bool IsNull(const TVdbDataValue& value) const override;
  void SetNull(TVdbDataValue& value) const override;
  // Empty data (a blob field in a record gets the reference 0).
  void GetDefault(TVdbDataValue& value) const override;
  // Blob block reference of a value referring to a blob field.
  void SetInteger(TVdbDataValue& value, std::int64_t v) const override;
  std::int64_t GetInteger(const TVdbDataValue& value) const override;
  // Longer data is cut to MaxLength for fixed binary.
  void SetBytes(TVdbDataValue& value, std::span<const std::uint8_t> bytes) const override;
  std::vector<std::uint8_t> GetBytes(const TVdbDataValue& value) const override;
  std::size_t GetSize(const TVdbDataValue& value) const override;
  bool CanCompareTo(const TVdbDataType& other) const override;
  int CompareTo(const TVdbDataValue& value, const TVdbDataValue& other, const TVdbDataType& otherType,
                TStrCmpOptions options, TVdbCompareMode mode) const override;
  bool CanConvertFrom(const TVdbDataType& from, bool explicitly) const override;
  // From the other binary kind (cut to MaxLength) or, explicitly, from hexadecimal text.
  void ConvertFrom(TVdbDataValue& value, const TVdbDataValue& from, const TVdbDataType& fromType,
                   bool explicitly) const override;
  // Hexadecimal digits.
  std::u16string ConvertToString(const TVdbDataValue& value, const TvuFormats& formats) const override;
  void ConvertFromString(TVdbDataValue& value, std::u16string_view text, const TvuFormats& formats) const override;

 protected:
  std::uint32_t DataWidth() const noexcept override { return IsBlob() ? 4u : 4u + static_cast<std::uint32_t>(FMaxLength); }
  bool NullByteFirst() const noexcept override { return IsBlob() || Level() >= 6; }
  std::u16string ParamKey() const override;
  std::size_t OwnedSize() const override;
  std::unique_ptr<TVdbDataType> CloneWith(bool nullable, int level) const override {
    return std::make_unique<TVdbBinaryType>(ColumnType(), nullable, FMaxLength, level);
  }

 private:
  bool HoldsBytes(const TVdbDataValue& value) const;
  std::int32_t FMaxLength;
};

// Relation (12): a placeholder column without stored bytes.
class TVdbRelationType final : public TVdbDataType {
 public:
  TVdbRelationType(int level) : TVdbDataType(vctRelation, false, level) {}
  std::u16string SqlName() const override { return u"Relation"; }
  std::u16string VplName() const override { return u"Relation"; }
  bool HasNullByte() const noexcept override { return false; }
  bool IsNull(const TVdbDataValue&) const override { return false; }
  void GetDefault(TVdbDataValue&) const override {}
  std::u16string ConvertToString(const TVdbDataValue&, const TvuFormats&) const override { return {}; }
  void ConvertFromString(TVdbDataValue&, std::u16string_view, const TvuFormats&) const override { Mismatch(); }

 protected:
  std::uint32_t DataWidth() const noexcept override { return 0; }
  std::unique_ptr<TVdbDataType> CloneWith(bool, int level) const override {
    return std::make_unique<TVdbRelationType>(level);
  }
};

}  // namespace vdb
