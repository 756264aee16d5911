// Fields of the dataset framework: the value carrier, field definitions (what a dataset
// reports about its columns), field objects with their conversions, display attributes and
// checks, and the stream through which blob and memo fields are read and written.
// A field reads and writes its value through its dataset, from the record buffer that the
// dataset's state selects (see TDataSet). GUI thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "db/DbErrors.h"

namespace tk {

class TDataSet;

using TBytes = std::vector<std::uint8_t>;

// A field value as it travels between field objects and datasets. Each field type keeps
// exactly one alternative (see TFieldType); monostate is null.
using TFieldValue = std::variant<std::monostate, bool, std::int64_t, double, std::u16string, TBytes>;

// Field kinds of the dataset components, one per engine value type. The value alternative:
//   dtString, dtWideString, dtEnum, dtLink, dtRelation, dtGuid  -> std::u16string
//   dtInteger, dtSmallInt, dtByte, dtAutoInc, dtLargeInt        -> std::int64_t (range checked)
//   dtFloat -> double;  dtBoolean -> bool
//   dtDate -> day number (day 1 = 0001-01-01), dtTime -> milliseconds since midnight,
//   dtDateTime -> milliseconds since 0001-01-01 00:00                  -> std::int64_t
//   dtMemo, dtWideMemo, dtBlob -> no value through Get/SetFieldData; content through a blob
//   stream; memo text is decoded by the dataset (TDataSet::MemoBytesToText).
enum class TFieldType : std::uint8_t {
  dtUnknown, dtString, dtInteger, dtSmallInt, dtFloat, dtByte, dtBoolean, dtDate, dtMemo, dtEnum,
  dtAutoInc, dtLink, dtBlob, dtTime, dtRelation, dtDateTime, dtWideString, dtWideMemo, dtLargeInt, dtGuid
};

// Where a field's value comes from: a column of the dataset, or the OnCalcFields handler.
enum class TFieldKind : std::uint8_t { fkData, fkCalculated };

enum class TAlignment : std::uint8_t { taLeftJustify, taRightJustify, taCenter };

// The user's number and date formats for display and edit texts (invariant by default).
struct TFormatSettings {
  char16_t DecimalSeparator = u'.';
  char16_t DateSeparator = u'-';  // dates read year, month, day
  char16_t TimeSeparator = u':';
};

// What a dataset reports about one of its columns (filled by InternalInitFieldDefs).
struct TFieldDef {
  std::u16string Name;
  TFieldType DataType = TFieldType::dtUnknown;
  int Size = 0;       // characters of string kinds; 0 elsewhere
  int Precision = 0;  // significant digits of floats (0 = 15)
  bool Required = false;
  bool ReadOnly = false;
  int FieldNo = 0;    // 1-based column number; assigned by Add when 0
};

class TFieldDefs {
 public:
  TFieldDef& Add(const std::u16string& name, TFieldType type, int size = 0, bool required = false);
  void Clear() noexcept { FItems.clear(); }
  int Count() const noexcept { return static_cast<int>(FItems.size()); }
  const TFieldDef& operator[](int index) const { return FItems.at(static_cast<std::size_t>(index)); }
  TFieldDef& operator[](int index) { return FItems.at(static_cast<std::size_t>(index)); }
  // Case-insensitive (ASCII) lookup; nullptr when missing.
  const TFieldDef* Find(std::u16string_view name) const noexcept;

 private:
  std::vector<TFieldDef> FItems;
};

enum class TBlobStreamMode : std::uint8_t { bmRead, bmWrite, bmReadWrite };
enum class TSeekOrigin : std::uint8_t { soBeginning, soCurrent, soEnd };

// A byte stream over one blob field of one record buffer. Positions count data bytes only.
class TStream {
 public:
  virtual ~TStream() = default;
  // Copies up to count bytes from the position; returns the number copied (0 at the end).
  virtual std::size_t Read(void* buffer, std::size_t count) = 0;
  // Stores count bytes at the position, growing the content; returns count or raises.
  virtual std::size_t Write(const void* buffer, std::size_t count) = 0;
  // Moves the position and returns it; never before 0.
  virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;
  TBytes ReadAll();
};

class TField {
 public:
  TField(TFieldType dataType, int size);
  TField(const TField&) = delete;
  TField& operator=(const TField&) = delete;
  virtual ~TField() = default;

  const std::u16string& FieldName() const noexcept { return FFieldName; }
  void SetFieldName(std::u16string value) { FFieldName = std::move(value); }
  // Column title; the field name unless set.
  const std::u16string& DisplayLabel() const noexcept { return FDisplayLabel.empty() ? FFieldName : FDisplayLabel; }
  void SetDisplayLabel(std::u16string value) { FDisplayLabel = std::move(value); }
  TFieldType DataType() const noexcept { return FDataType; }
  TFieldKind FieldKind() const noexcept { return FFieldKind; }
  void SetFieldKind(TFieldKind value) noexcept { FFieldKind = value; }
  int Size() const noexcept { return FSize; }
  int Precision() const noexcept { return FPrecision; }
  void SetPrecision(int value) noexcept { FPrecision = value; }
  // 1-based column number while the dataset is open; 0 for calculated fields.
  int FieldNo() const noexcept { return FFieldNo; }
  TDataSet* DataSet() const noexcept { return FDataSet; }
  bool IsBlob() const noexcept;

  bool Required() const noexcept { return FRequired; }
  void SetRequired(bool value) noexcept { FRequired = value; }
  bool ReadOnly() const noexcept { return FReadOnly; }
  void SetReadOnly(bool value) noexcept { FReadOnly = value; }
  bool Visible() const noexcept { return FVisible; }
  void SetVisible(bool value) noexcept { FVisible = value; }
  // Characters a grid column needs; derived from the type and size unless set.
  int DisplayWidth() const noexcept;
  void SetDisplayWidth(int value) noexcept { FDisplayWidth = value; }
  // Right for numbers, left for everything else, unless set.
  TAlignment Alignment() const noexcept;
  void SetAlignment(TAlignment value) noexcept { FAlignment = value; FAlignmentSet = true; }
  // The value may be written now by a user: not read-only, dataset open and modifiable.
  bool CanModify() const;

  // Reading gives null/0/empty outside a record (closed or empty dataset).
  bool IsNull() const;
  TFieldValue Value() const;
  virtual std::u16string AsString() const;
  virtual std::int32_t AsInteger() const;
  virtual std::int64_t AsLargeInt() const;
  virtual double AsFloat() const;
  virtual bool AsBoolean() const;
  // Text for display (grid cells, labels) and for editing.
  virtual std::u16string DisplayText() const;
  virtual std::u16string Text() const { return AsString(); }

  // Writing requires an edit mode of the dataset (see TDataSet::SetFieldValue for the checks).
  // A value that does not fit the field raises EDatabaseError and leaves the field unchanged.
  void SetValue(const TFieldValue& value);
  virtual void SetAsString(const std::u16string& value);
  virtual void SetAsInteger(std::int32_t value) { SetValue(TFieldValue(std::int64_t{value})); }
  virtual void SetAsLargeInt(std::int64_t value) { SetValue(TFieldValue(value)); }
  virtual void SetAsFloat(double value) { SetValue(TFieldValue(value)); }
  virtual void SetAsBoolean(bool value) { SetValue(TFieldValue(value)); }
  virtual void SetText(const std::u16string& value) { SetAsString(value); }
  void Clear() { SetValue(TFieldValue()); }

  // Runs before a value is stored; may raise to refuse it.
  std::function<void(TField&, const TFieldValue&)> OnValidate;
  // Runs after a value was stored.
  std::function<void(TField&)> OnChange;

  // Converts an assigned value into this field's stored alternative; raises when impossible.
  virtual TFieldValue Coerce(const TFieldValue& value) const;

 protected:
  // Text of a stored (non-null) value; display selects the display form.
  virtual std::u16string ValueToText(const TFieldValue& value, bool display) const;
  [[noreturn]] void ConversionError(std::u16string_view text, std::u16string_view kind) const;
  const TFormatSettings& Formats() const;

 private:
  friend class TDataSet;
  std::u16string FFieldName;
  std::u16string FDisplayLabel;
  TFieldType FDataType;
  TFieldKind FFieldKind = TFieldKind::fkData;
  int FSize;
  int FPrecision = 0;
  int FFieldNo = 0;
  int FCalcIndex = -1;  // slot among the calculated values of a record buffer
  bool FRequired = false;
  bool FReadOnly = false;
  bool FVisible = true;
  bool FDefault = false;  // created from the field definitions at opening
  int FDisplayWidth = 0;
  TAlignment FAlignment = TAlignment::taLeftJustify;
  bool FAlignmentSet = false;
  TDataSet* FDataSet = nullptr;
};

class TStringField : public TField {
 public:
  TStringField(TFieldType dataType, int size) : TField(dataType, size) {}
  TFieldValue Coerce(const TFieldValue& value) const override;
};

// dtInteger, dtSmallInt, dtByte, dtAutoInc, dtLargeInt with the range of their type.
class TIntegerField : public TField {
 public:
  explicit TIntegerField(TFieldType dataType);
  TFieldValue Coerce(const TFieldValue& value) const override;
  std::int64_t MinValue() const noexcept { return FMin; }
  std::int64_t MaxValue() const noexcept { return FMax; }

 private:
  std::int64_t FMin;
  std::int64_t FMax;
};

class TFloatField : public TField {
 public:
  TFloatField() : TField(TFieldType::dtFloat, 0) {}
  TFieldValue Coerce(const TFieldValue& value) const override;

 protected:
  std::u16string ValueToText(const TFieldValue& value, bool display) const override;
};

class TBooleanField : public TField {
 public:
  TBooleanField() : TField(TFieldType::dtBoolean, 0) {}
  TFieldValue Coerce(const TFieldValue& value) const override;

 protected:
  std::u16string ValueToText(const TFieldValue& value, bool display) const override;
};

// dtDate, dtTime, dtDateTime.
class TDateTimeField : public TField {
 public:
  explicit TDateTimeField(TFieldType dataType) : TField(dataType, 0) {}
  TFieldValue Coerce(const TFieldValue& value) const override;

 protected:
  std::u16string ValueToText(const TFieldValue& value, bool display) const override;
};

// dtBlob, dtMemo, dtWideMemo: content through the dataset's blob stream.
class TBlobField : public TField {
 public:
  explicit TBlobField(TFieldType dataType) : TField(dataType, 0) {}
  // The whole content as text (memo kinds decode it; a plain blob gives one char per byte).
  std::u16string AsString() const override;
  void SetAsString(const std::u16string& value) override;
  std::u16string DisplayText() const override;
  TBytes AsBytes() const;
  void SetAsBytes(const TBytes& value);
  TFieldValue Coerce(const TFieldValue& value) const override;
};

// Creates the standard field object for a type.
std::unique_ptr<TField> CreateField(TFieldType dataType, int size = 0);

// Calendar helpers of the day numbers (proleptic Gregorian).
std::int64_t EncodeDate(int year, int month, int day);
void DecodeDate(std::int64_t dayNumber, int& year, int& month, int& day);

// UTF-8 <-> UTF-16 (invalid input becomes U+FFFD).
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace tk
