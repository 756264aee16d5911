// Column and index definitions; see VdbDefinitions.h.
//
// Index specification text (what CalcSpecification writes and FromSpecification reads):
//   expression index  "(" expression ")"      (a VidoraPL expression starts with "@")
//   column index      part { ", " part }
//   part              ["-"] column [":" length]
//   column            name | "${" name "}" | "$" number | number
// Parts are split at commas outside round, square and curly brackets and outside single and
// double quotes. A minus marks a part whose direction differs from the normal one. A length is
// accepted and ignored: every part gets the column's full size as its key length.
//
// Binary form of old headers (stored on disk: never renumber):
//   expression index: offset 0 i16 -1, 2 u16 key length, 4 u8 result type, 5 short string
//                     (1 length byte + up to 44 bytes)
//   column index:     up to 10 entries of 5 bytes: 0 u16 column number (bit 15: descending),
//                     2 u16 key length, 4 u8 type code; with fewer than 10 parts an entry with
//                     column number 0 follows whose byte 4 is 0xFF for a unique index.
#include "types/VdbDefinitions.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>

#include "base/VdbErrorCodes.h"
#include "base/VdbErrors.h"
#include "base/vuLittleEndian.h"
#include "types/VdbCollation.h"
#include "types/vuCodePage.h"

namespace vdb {

namespace {

constexpr std::size_t kVectorEntrySize = 5;
constexpr std::size_t kVectorKeyLengthOffset = 2;
constexpr std::size_t kVectorTypeOffset = 4;
constexpr std::size_t kVectorExpressionOffset = 5;
constexpr std::size_t kVectorExpressionMax = 44;
constexpr std::uint16_t kVectorDescendingBit = 0x8000;
constexpr std::uint8_t kVectorUniqueMark = 0xFF;
constexpr std::uint16_t kOldCodePage = 1252;

bool IsMemoOrBlob(TVdbColumnType t) { return t == vctMemo || t == vctWideMemo || t == vctBlob; }

std::u16string_view Trim(std::u16string_view s) {
  while (!s.empty() && (s.front() == u' ' || s.front() == u'\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == u' ' || s.back() == u'\t')) s.remove_suffix(1);
  return s;
}

// A decimal number made only of digits, or -1.
std::int64_t ParseDigits(std::u16string_view s) {
  if (s.empty() || s.size() > 9) return -1;
  std::int64_t v = 0;
  for (char16_t c : s) {
    if (c < u'0' || c > u'9') return -1;
    v = v * 10 + (c - u'0');
  }
  return v;
}

std::u16string Number(std::int64_t v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::u16string(buf, r.ptr);
}

// Splits at commas outside brackets and quotes.
std::vector<std::u16string_view> SplitSpec(std::u16string_view text) {
  std::vector<std::u16string_view> parts;
  int depth = 0;
  char16_t quote = 0;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == u'\'' || c == u'"') {
      quote = c;
    } else if (c == u'(' || c == u'[' || c == u'{') {
      ++depth;
    } else if ((c == u')' || c == u']' || c == u'}') && depth > 0) {
      --depth;
    } else if (c == u',' && depth == 0) {
      parts.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  parts.push_back(text.substr(start));
  return parts;
}

[[noreturn]] void InvalidSpec(std::u16string_view text) {
  RaiseEngineError(errInvalidIndexSpec, {std::u16string(text)});
}

bool IsIdentifierChar(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_';
}

bool IsValidIdentifier(std::u16string_view name, int level) {
  if (name.empty() || name.size() > static_cast<std::size_t>(VDB_MAX_NAME_LENGTH)) return false;
  for (char16_t c : name) {
    if (c < 0x20) return false;
    if (level < 4 && !IsIdentifierChar(c)) return false;
  }
  return true;
}

TVdbRuleResult Refuse(std::int16_t code, TVdbFmtArgs args) {
  return {code, EVdbEngine(code, std::move(args)).Message()};
}

TVdbRuleResult NotAtLevel(std::u16string_view column, std::u16string_view feature) {
  return Refuse(errFeatureNotAtLevel, {std::u16string(column), std::u16string(feature)});
}

bool IsStringCode(TVdbColumnType t) {
  return t == vctString || t == vctMemo || t == vctWideString || t == vctWideMemo;
}

}  // namespace

bool VdbMayBeNullable(TVdbColumnType columnType, int tableLevel) noexcept {
  if (columnType == vctRecordId) return false;
  if (tableLevel >= 4) return true;
  return columnType != vctChar && columnType != vctString && columnType != vctWideString;
}

// ---- TVdbColumnDef

TVdbColumnDef::TVdbColumnDef(std::u16string name, const TVdbDataType* dataType, std::uint32_t options)
    : FName(std::move(name)), FDataType(dataType), FOptions(options) {
  SetDataType(dataType);
}

void TVdbColumnDef::SetDataType(const TVdbDataType* dataType) {
  FDataType = dataType;
  FSize = IsMemoOrBlob(dataType->ColumnType()) ? 4 : static_cast<std::uint16_t>(dataType->DataSize());
  FOptions &= ~coHasNullByte;
  if (dataType->HasNullByte() && !IsMemoOrBlob(dataType->ColumnType())) FOptions |= coHasNullByte;
}

std::unique_ptr<TVdbColumnDef> TVdbColumnDef::CreateColumnDef(std::u16string name, const TVdbDataType* dataType,
                                                              std::uint32_t options) {
  if (!dataType) RaiseEngineError(errUnknownType, {name});
  switch (dataType->ColumnType()) {
    case vctChar:
    case vctString:
    case vctMemo:
    case vctWideString:
    case vctWideMemo:
      return std::unique_ptr<TVdbColumnDef>(new TVdbTextColumnDef(std::move(name), dataType, options));
    case vctFloat:
      return std::unique_ptr<TVdbColumnDef>(new TVdbNumberColumnDef(std::move(name), dataType, options));
    case vctEnum:
      return std::unique_ptr<TVdbColumnDef>(new TVdbEnumColumnDef(std::move(name), dataType, options));
    case vctRecordId:
      return std::unique_ptr<TVdbColumnDef>(new TVdbRecordIdColumnDef(std::move(name), dataType, options));
    case vctLink:
    case vctRelation:
      return std::unique_ptr<TVdbColumnDef>(new TVdbAdlColumnDef(std::move(name), dataType, options));
    case vctTime:
      return std::unique_ptr<TVdbColumnDef>(new TVdbTimeColumnDef(std::move(name), dataType, options));
    case vctNull:
    case 14:
    case 15: RaiseEngineError(errUnknownType, {name});
    default:
      return std::unique_ptr<TVdbColumnDef>(new TVdbColumnDef(std::move(name), dataType, options));
  }
}

std::unique_ptr<TVdbColumnDef> TVdbColumnDef::Clone() const {
  return std::unique_ptr<TVdbColumnDef>(new TVdbColumnDef(*this));
}

void TVdbColumnDef::SetTableLevel(int level) {
  const std::uint32_t hadNullByte = FOptions & coHasNullByte;
  SetDataType(FDataType->GetLevelType(level));
  const TVdbColumnType t = ColumnType();
  // Date and timestamp keep a null byte they had only below level 6.
  if ((t == vctDate || t == vctTimeStamp) && level < 6) FOptions |= hadNullByte;
}

void TVdbColumnDef::SetNullable(bool value, int tableLevel) {
  const TVdbDataType* type = FDataType->GetNullableType(value && VdbMayBeNullable(ColumnType(), tableLevel));
  SetDataType(type);
  FOptions &= ~(coHasNullByte | coNullable);
  if (value && type->Nullable()) {
    FOptions |= coNullable;
    if (type->HasNullByte() && !IsMemoOrBlob(ColumnType())) FOptions |= coHasNullByte;
  }
}

TVdbCalculationPurposes TVdbColumnDef::CalculationPurposes() const noexcept {
  if (!HasCalculation()) return 0;
  if (!(FOptions & coComputed)) return clpInitialization;
  return (FOptions & coAppendOnly) ? clpAppending : clpUpdating;
}

std::u16string TVdbColumnDef::Collation() const {
  const auto* s = dynamic_cast<const TVdbStringType*>(FDataType);
  return s ? s->CollationName() : std::u16string();
}

std::uint32_t TVdbColumnDef::LocaleId() const noexcept {
  const auto* s = dynamic_cast<const TVdbStringType*>(FDataType);
  return s ? s->LocaleId() : 0;
}

TStrCmpOptions TVdbColumnDef::StrCmpOptions() const noexcept {
  const auto* s = dynamic_cast<const TVdbStringType*>(FDataType);
  return s ? s->StrCmpOptions() : 0;
}

namespace {

void PutI32(std::vector<std::uint8_t>& out, std::int32_t v) {
  std::uint8_t b[4];
  vuPutU32(b, static_cast<std::uint32_t>(v));
  out.insert(out.end(), b, b + 4);
}

void PutText(std::vector<std::uint8_t>& out, std::u16string_view s) {
  PutI32(out, static_cast<std::int32_t>(s.size()));
  for (char16_t c : s) {
    out.push_back(static_cast<std::uint8_t>(c));
    out.push_back(static_cast<std::uint8_t>(c >> 8));
  }
}

// Bounded reading of a transferred definition.
class TTransferReader {
 public:
  explicit TTransferReader(std::span<const std::uint8_t> in) : FIn(in) {}
  const std::uint8_t* Take(std::size_t n) {
    if (n > FIn.size() - FPos) RaiseEngineError(errInvalidParameterValue, {u"column definition"});
    const std::uint8_t* p = FIn.data() + FPos;
    FPos += n;
    return p;
  }
  std::int32_t I32() { return static_cast<std::int32_t>(vuGetU32(Take(4))); }
  std::uint16_t U16() { return vuGetU16(Take(2)); }
  std::u16string Text() {
    const std::int32_t count = I32();
    if (count < 0) RaiseEngineError(errInvalidParameterValue, {u"column definition"});
    const std::uint8_t* p = Take(static_cast<std::size_t>(count) * 2);
    std::u16string s(static_cast<std::size_t>(count), u'\0');
    for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<char16_t>(vuGetU16(p + 2 * i));
    return s;
  }
  std::size_t Position() const noexcept { return FPos; }

 private:
  std::span<const std::uint8_t> FIn;
  std::size_t FPos = 0;
};

}  // namespace

void TVdbColumnDef::SaveToStream(std::vector<std::uint8_t>& out) const {
  PutI32(out, ColumnType());
  PutText(out, FName);
  PutI32(out, static_cast<std::int32_t>(FOptions));
  out.push_back(static_cast<std::uint8_t>(FSize));
  out.push_back(static_cast<std::uint8_t>(FSize >> 8));
  if (const auto* n = dynamic_cast<const TVdbNumberColumnDef*>(this)) {
    PutI32(out, n->Precision());
    PutI32(out, n->Scale());
  } else if (const auto* e = dynamic_cast<const TVdbEnumColumnDef*>(this)) {
    PutI32(out, static_cast<std::int32_t>(e->Items().size()));
    for (const auto& item : e->Items()) PutText(out, item.Name);
  } else if (const auto* r = dynamic_cast<const TVdbRecordIdColumnDef*>(this)) {
    PutI32(out, r->StartValue());
    PutText(out, r->IndexSpec());
  } else if (const auto* a = dynamic_cast<const TVdbAdlColumnDef*>(this)) {
    PutText(out, a->LinkedTable());
  } else if (const auto* t = dynamic_cast<const TVdbTimeColumnDef*>(this)) {
    PutI32(out, t->Precision());
  }
}

std::size_t TVdbColumnDef::LoadFromStream(std::span<const std::uint8_t> in) {
  TTransferReader r(in);
  r.I32();  // the type reference: the receiver chose the type already
  std::u16string name = r.Text();
  const auto options = static_cast<std::uint32_t>(r.I32());
  const std::uint16_t size = r.U16();
  if (dynamic_cast<TVdbNumberColumnDef*>(this)) {
    r.I32();
    r.I32();
  } else if (dynamic_cast<TVdbEnumColumnDef*>(this)) {
    const std::int32_t count = r.I32();
    if (count < 0) RaiseEngineError(errInvalidParameterValue, {u"column definition"});
    for (std::int32_t i = 0; i < count; ++i) r.Text();
  } else if (auto* rid = dynamic_cast<TVdbRecordIdColumnDef*>(this)) {
    rid->SetStartValue(r.I32());
    rid->SetIndexSpec(r.Text());
  } else if (auto* adl = dynamic_cast<TVdbAdlColumnDef*>(this)) {
    adl->SetLinkedTable(r.Text());
  } else if (dynamic_cast<TVdbTimeColumnDef*>(this)) {
    r.I32();
  }
  FName = std::move(name);
  FOptions = options;
  FSize = size;
  return r.Position();
}

std::unique_ptr<TVdbColumnDef> TVdbTextColumnDef::Clone() const {
  return std::unique_ptr<TVdbColumnDef>(new TVdbTextColumnDef(*this));
}
std::unique_ptr<TVdbColumnDef> TVdbNumberColumnDef::Clone() const {
  return std::unique_ptr<TVdbColumnDef>(new TVdbNumberColumnDef(*this));
}
int TVdbNumberColumnDef::Precision() const noexcept {
  const auto* f = dynamic_cast<const TVdbFloatType*>(DataType());
  return f ? f->Precision() : 0;
}
int TVdbNumberColumnDef::Scale() const noexcept {
  const auto* f = dynamic_cast<const TVdbFloatType*>(DataType());
  return f ? f->Scale() : 0;
}
std::unique_ptr<TVdbColumnDef> TVdbEnumColumnDef::Clone() const {
  return std::unique_ptr<TVdbColumnDef>(new TVdbEnumColumnDef(*this));
}
const std::vector<TVdbEnumItem>& TVdbEnumColumnDef::Items() const {
  static const std::vector<TVdbEnumItem> kNone;
  const auto* e = dynamic_cast<const TVdbEnumType*>(DataType());
  return e ? e->Items() : kNone;
}
std::unique_ptr<TVdbColumnDef> TVdbRecordIdColumnDef::Clone() const {
  return std::unique_ptr<TVdbColumnDef>(new TVdbRecordIdColumnDef(*this));
}
std::unique_ptr<TVdbColumnDef> TVdbAdlColumnDef::Clone() const {
  return std::unique_ptr<TVdbColumnDef>(new TVdbAdlColumnDef(*this));
}
std::unique_ptr<TVdbColumnDef> TVdbTimeColumnDef::Clone() const {
  return std::unique_ptr<TVdbColumnDef>(new TVdbTimeColumnDef(*this));
}
int TVdbTimeColumnDef::Precision() const noexcept {
  const auto* t = dynamic_cast<const TVdbDateTimeType*>(DataType());
  return t ? t->Precision() : 0;
}

// ---- TVdbColumnDefs

TVdbColumnDefs::TVdbColumnDefs(const TVdbColumnDefs& other) { *this = other; }

TVdbColumnDefs& TVdbColumnDefs::operator=(const TVdbColumnDefs& other) {
  if (this == &other) return *this;
  FColumns.clear();
  for (const auto& c : other.FColumns) FColumns.push_back(c->Clone());
  return *this;
}

TVdbColumnDef& TVdbColumnDefs::Add(std::unique_ptr<TVdbColumnDef> def) {
  FColumns.push_back(std::move(def));
  Reposition(FColumns.size() - 1);
  return *FColumns.back();
}

void TVdbColumnDefs::Replace(int index, std::unique_ptr<TVdbColumnDef> def) {
  FColumns.at(static_cast<std::size_t>(index)) = std::move(def);
  Reposition(static_cast<std::size_t>(index));
}

void TVdbColumnDefs::Delete(int index) {
  if (index < 0 || index >= GetCount()) throw std::out_of_range("column index");
  FColumns.erase(FColumns.begin() + index);
  Reposition(static_cast<std::size_t>(index));
}

void TVdbColumnDefs::Reposition(std::size_t from) {
  for (std::size_t i = from; i < FColumns.size(); ++i) {
    FColumns[i]->FPosition = i == 0 ? 0 : FColumns[i - 1]->FPosition + FColumns[i - 1]->FSize;
  }
}

int TVdbColumnDefs::Find(std::u16string_view name) const {
  for (std::size_t i = 0; i < FColumns.size(); ++i) {
    if (VdbSameName(FColumns[i]->Name(), name)) return static_cast<int>(i);
  }
  return -1;
}

int TVdbColumnDefs::FindFirst(TVdbColumnType columnType) const {
  for (std::size_t i = 0; i < FColumns.size(); ++i) {
    if (FColumns[i]->ColumnType() == columnType) return static_cast<int>(i);
  }
  return -1;
}

std::int32_t TVdbColumnDefs::GetRecordSize() const noexcept {
  return FColumns.empty() ? 0 : FColumns.back()->Position() + FColumns.back()->Size();
}

// ---- Rules for new columns

int VdbNormalizeTimePrecision(int precision, int tableLevel) noexcept {
  if (precision <= 0) return tableLevel >= 4 ? 3 : 2;
  if (precision <= 2) return 2;
  if (precision == 3) return 3;
  return 4;
}

namespace {

std::vector<std::u16string> SplitEnumNames(std::u16string_view names) {
  std::vector<std::u16string> out;
  for (auto part : SplitSpec(names)) {
    auto t = Trim(part);
    if (t.size() >= 2 && t.front() == u'"' && t.back() == u'"') t = t.substr(1, t.size() - 2);
    out.emplace_back(t);
  }
  if (names.empty()) out.clear();
  return out;
}

// Field size of the new column as the type layer will make it (for the record-size rule).
std::int64_t NewFieldSize(const TVdbNewColumn& c, int level) {
  const TVdbColumnType t = c.ColumnType;
  const bool nullByte = c.Nullable && VdbMayBeNullable(t, level);
  switch (t) {
    case vctString: return c.Length + (c.Length > 255 ? 2 : 1) + (nullByte ? 1 : 0);
    case vctWideString: return 2LL * c.Length + 2 + (nullByte ? 1 : 0);
    case vctFixedBinary: return 4LL + c.Length + (nullByte ? 1 : 0);
    default: return 0;  // fixed-size types: small; measured after the type exists
  }
}

}  // namespace

TVdbRuleResult VdbCheckNewColumn(const TVdbColumnDefs& columns, const TVdbNewColumn& c, int level) {
  const TVdbColumnType t = c.ColumnType;
  // 1. Column count (record-id columns do not count) and record size.
  int counted = 0;
  for (int i = 0; i < columns.GetCount(); ++i) {
    if (columns.GetColumnDef(i).ColumnType() != vctRecordId) ++counted;
  }
  if (t != vctRecordId && counted >= VDB_MAX_COLUMNS) return Refuse(errTooManyColumns, {});
  // 2. Identifier.
  if (!IsValidIdentifier(c.Name, level)) return Refuse(errInvalidIdentifier, {c.Name});
  // 3. Unique name.
  if (columns.Find(c.Name) >= 0) return Refuse(errDuplicateIdentifier, {c.Name});
  // 4. Nullability.
  if (c.Nullable && !VdbMayBeNullable(t, level)) return NotAtLevel(c.Name, u"Nullable");
  // 5. Collation.
  if (!c.CollationName.empty()) {
    if (!IsStringCode(t)) return Refuse(errInvalidParameterValue, {c.CollationName});
    if (level < 6) return NotAtLevel(c.Name, u"Collation");
    try {
      TVdbCollation::Resolve(c.CollationName);
    } catch (const EVdbEngine& e) {
      return {e.Code(), e.Message()};
    }
  }
  // 6. Types of level 3.
  if (t >= vctInteger && t <= vctGuid && level < 3) return NotAtLevel(c.Name, u"Data type");
  // 7. Computations.
  const bool hasText = !c.Calculation.empty() && !(c.Options & coRangeConstraint);
  if (hasText && (t == vctMemo || t == vctBlob || t == vctRelation || t == vctWideMemo)) {
    return NotAtLevel(c.Name, u"Default value");
  }
  if (hasText && !(c.Options & coComputed) && level < 4) return NotAtLevel(c.Name, u"Default value");
  // 8. String lengths.
  if (t == vctString) {
    if (c.Length <= 0) return Refuse(errZeroFieldSize, {c.Name});
    if (c.Length > (level >= 4 ? VDB_MAX_ANSI_LENGTH : 255)) return NotAtLevel(c.Name, u"String length");
  }
  if (t == vctWideString && (c.Length < 1 || c.Length > VDB_MAX_WIDE_LENGTH)) {
    return NotAtLevel(c.Name, u"String length");
  }
  // 9. Enum items.
  if (t == vctEnum) {
    const auto items = SplitEnumNames(c.EnumNames);
    const std::size_t maxItems = level >= 6 ? 255 : 15;
    if (items.empty() || items.size() > maxItems) return NotAtLevel(c.Name, u"Enum value count");
    for (const auto& item : items) {
      if (level >= 6) {
        if (!IsValidIdentifier(item, level)) return Refuse(errInvalidIdentifier, {item});
      } else if (item.empty() || item.size() > 20) {
        return NotAtLevel(c.Name, u"Enum value length");
      }
    }
  }
  // 10. Time precision.
  if (t == vctTime && level < 4 && VdbNormalizeTimePrecision(c.Precision, level) != 2) {
    return NotAtLevel(c.Name, u"Time precision");
  }
  // 11. Record id.
  if (t == vctRecordId && c.StartValue < 1) return NotAtLevel(c.Name, u"Start value");
  // 12. Links.
  if (t == vctLink || t == vctRelation) {
    if (Trim(c.LinkedTable).empty()) return Refuse(errLinkTableNotFound, {});
    if (t == vctLink && !(c.Options & coNoIndex)) {
      int indexed = 0;
      for (int i = 0; i < columns.GetCount(); ++i) {
        const auto& d = columns.GetColumnDef(i);
        if (d.ColumnType() == vctLink && !(d.Options() & coNoIndex)) ++indexed;
      }
      if (indexed >= VDB_MAX_INDEXED_LINKS) return Refuse(errTooManyLinkFields, {});
    }
  }
  // The record size, once the parameters are known to be in range.
  if (columns.GetRecordSize() + NewFieldSize(c, level) > VDB_MAX_RECORD_SIZE) return Refuse(errTooManyColumns, {});
  // Types the factories refuse, and the exact record size.
  try {
    auto def = VdbMakeColumnDef(c, level, u"");
    if (columns.GetRecordSize() + def->Size() > VDB_MAX_RECORD_SIZE) return Refuse(errTooManyColumns, {});
  } catch (const EVdbEngine& e) {
    return {e.Code(), e.Message()};
  }
  return {};
}

std::unique_ptr<TVdbColumnDef> VdbMakeColumnDef(const TVdbNewColumn& c, int level,
                                                std::u16string_view tableCollation) {
  const TVdbColumnType t = c.ColumnType;
  const bool nullable = c.Nullable && VdbMayBeNullable(t, level);
  const std::u16string_view collation = c.CollationName.empty() ? tableCollation : c.CollationName;
  const TVdbDataType* type = nullptr;
  switch (t) {
    case vctString:
    case vctWideString:
    case vctMemo:
    case vctWideMemo: type = TVdbDataType::GetStringType(t, nullable, c.Length, collation, level); break;
    case vctFloat: type = TVdbDataType::GetFloatType(t, nullable, c.Scale, level); break;
    case vctEnum: {
      std::u16string joined;
      for (const auto& item : SplitEnumNames(c.EnumNames)) {
        if (!joined.empty()) joined += u'\n';
        joined += item;
      }
      type = TVdbDataType::GetEnumType(nullable, false, joined, u'\n', u'\0', level);
      break;
    }
    case vctTime:
      type = TVdbDataType::GetDateTimeType(t, nullable, VdbNormalizeTimePrecision(c.Precision, level), level);
      break;
    case vctDate:
    case vctTimeStamp:
      type = TVdbDataType::GetDateTimeType(t, nullable, 4, (c.Options & coHasNullByte) != 0, level);
      break;
    case vctFixedBinary: type = TVdbDataType::GetBinaryType(t, nullable, c.Length, level); break;
    default: type = TVdbDataType::GetDataType(t, nullable, level); break;
  }
  if (!type) RaiseEngineError(errUnknownType, {c.Name});
  std::uint32_t options = c.Options & (coComputed | coRangeConstraint | coAppendOnly | coNoIndex);
  if (type->Nullable()) options |= coNullable;
  auto def = TVdbColumnDef::CreateColumnDef(c.Name, type, options);
  def->SetCalculationSource(c.Calculation);
  if (auto* text = dynamic_cast<TVdbTextColumnDef*>(def.get())) text->SetCollationName(c.CollationName);
  if (auto* rid = dynamic_cast<TVdbRecordIdColumnDef*>(def.get())) {
    rid->SetStartValue(c.StartValue);
    rid->SetIndexSpec(c.IndexSpec);
    rid->SetUniqueIdInfo(c.UniqueIdInfo);
  }
  if (auto* adl = dynamic_cast<TVdbAdlColumnDef*>(def.get())) adl->SetLinkedTable(c.LinkedTable);
  return def;
}

// ---- TVdbSortDef

namespace {

bool IsVarSizeKeyType(std::uint8_t t) { return t == vctString || t == vctWideString; }

bool IsIndexableColumn(TVdbColumnType t) {
  return t != vctMemo && t != vctWideMemo && t != vctBlob && t != vctRelation;
}

int MaxIndexLevels(int level) { return level <= 4 ? VDB_MAX_OLD_INDEX_LEVELS : VDB_MAX_INDEX_LEVELS; }

}  // namespace

void TVdbSortDef::Clear() {
  IsUnique = IsVarSize = IsCalculated = false;
  Items.clear();
  FSize = 0;
  FSource.clear();
  FCalculation.clear();
}

void TVdbSortDef::SetCalculation(std::u16string expression, const TVdbDataType& resultType, int tableLevel) {
  Items.clear();
  IsCalculated = true;
  FCalculation = std::move(expression);
  const std::uint32_t size = tableLevel >= 6 ? resultType.DataSize() : 256u;
  Items.push_back({static_cast<std::uint8_t>(resultType.ColumnType()), 0, static_cast<std::uint16_t>(size), false});
  IsVarSize = tableLevel >= 6 && resultType.IsString();
  FSize = static_cast<std::int32_t>(4 + size);
}

TVdbSortDef TVdbSortDef::FromSpecification(std::u16string_view text, const TVdbColumnDefs& columns,
                                           int tableLevel, bool caseSensitive,
                                           const TVdbIndexExpressionTyper& typer) {
  TVdbSortDef def;
  def.FSource = std::u16string(text);
  const std::u16string_view whole = Trim(text);
  if (!whole.empty() && whole.front() == u'(') {
    if (whole.size() < 3 || whole.back() != u')') InvalidSpec(text);
    const std::u16string_view expression = Trim(whole.substr(1, whole.size() - 2));
    const TVdbDataType* result = typer && !expression.empty() ? typer(expression, tableLevel) : nullptr;
    if (!result) InvalidSpec(text);
    def.SetCalculation(std::u16string(expression), *result, tableLevel);
    return def;
  }
  const auto parts = SplitSpec(text);
  if (static_cast<int>(parts.size()) > MaxIndexLevels(tableLevel)) RaiseEngineError(errTooManyIndexLevels, {});
  std::int32_t size = 4;
  for (auto rawPart : parts) {
    std::u16string_view part = Trim(rawPart);
    bool descending = false;
    if (!part.empty() && part.front() == u'-') {
      descending = true;
      part = Trim(part.substr(1));
    }
    // A trailing ":length" is accepted and ignored.
    if (const auto colon = part.rfind(u':'); colon != std::u16string_view::npos &&
                                             ParseDigits(Trim(part.substr(colon + 1))) >= 0) {
      part = Trim(part.substr(0, colon));
    }
    bool numbered = false;
    if (!part.empty() && part.front() == u'$') {
      part.remove_prefix(1);
      if (part.size() >= 2 && part.front() == u'{' && part.back() == u'}') {
        part = part.substr(1, part.size() - 2);
      } else {
        numbered = true;
      }
    } else if (part.size() >= 2 && ((part.front() == u'[' && part.back() == u']') ||
                                    (part.front() == u'"' && part.back() == u'"'))) {
      part = part.substr(1, part.size() - 2);
    }
    if (part.empty()) InvalidSpec(text);
    int index = -1;
    const std::int64_t number = ParseDigits(part);
    if (number >= 1 && number <= columns.GetCount()) {
      index = static_cast<int>(number - 1);
    } else if (!numbered) {
      for (int i = 0; i < columns.GetCount() && index < 0; ++i) {
        const auto& name = columns.GetColumnDef(i).Name();
        if (caseSensitive ? name == part : VdbSameName(name, part)) index = i;
      }
    }
    if (index < 0) InvalidSpec(text);
    const TVdbColumnDef& col = columns.GetColumnDef(index);
    if (!IsIndexableColumn(col.ColumnType())) InvalidSpec(text);
    TVdbSortItem item;
    item.ColumnType = static_cast<std::uint8_t>(col.ColumnType());
    item.ColumnNo = static_cast<std::uint16_t>(index + 1);
    item.KeyLength = col.Size();
    item.Descending = descending;
    size += item.KeyLength;
    if (tableLevel >= 6 && IsVarSizeKeyType(item.ColumnType)) def.IsVarSize = true;
    def.Items.push_back(item);
  }
  def.FSize = size;
  return def;
}

std::u16string TVdbSortDef::CalcSpecification(const TVdbColumnDefs& columns, bool readable, bool reverse,
                                              int withSize, bool fieldNumbers) const {
  if (IsCalculated) return u"(" + FCalculation + u")";
  std::u16string out;
  for (const auto& item : Items) {
    if (!out.empty()) out += u", ";
    if (item.Descending != reverse) out += u'-';
    const bool known = item.ColumnNo >= 1 && item.ColumnNo <= columns.GetCount();
    if (!known) {
      out += u'?';
      continue;
    }
    const TVdbColumnDef& col = columns.GetColumnDef(item.ColumnNo - 1);
    if (fieldNumbers) {
      out += (readable ? u"" : u"$") + Number(item.ColumnNo);
    } else {
      out += readable ? col.Name() : u"${" + col.Name() + u"}";
    }
    if (withSize == 2 || (withSize == 1 && item.KeyLength != col.Size())) {
      std::int64_t chars = item.KeyLength;
      if (item.ColumnType == vctString) chars = item.KeyLength - 1;
      else if (item.ColumnType == vctWideString) chars = item.KeyLength / 2 - 1;
      out += u":" + Number(chars);
    }
  }
  return out;
}

void TVdbSortDef::GetVectorData(std::span<std::uint8_t, VDB_SORT_VECTOR_SIZE> out) const {
  std::fill(out.begin(), out.end(), std::uint8_t{0});
  if (IsCalculated) {
    vuPutU16(out.data(), 0xFFFF);
    const TVdbSortItem item = Items.empty() ? TVdbSortItem{} : Items.front();
    vuPutU16(out.data() + kVectorKeyLengthOffset, item.KeyLength);
    out[kVectorTypeOffset] = item.ColumnType;
    std::string bytes = TvuCodePage::FromUnicode(kOldCodePage, FCalculation);
    if (bytes.size() > kVectorExpressionMax) bytes.resize(kVectorExpressionMax);
    out[kVectorExpressionOffset] = static_cast<std::uint8_t>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), out.begin() + kVectorExpressionOffset + 1);
    return;
  }
  const std::size_t count = std::min<std::size_t>(Items.size(), VDB_MAX_OLD_INDEX_LEVELS);
  for (std::size_t i = 0; i < count; ++i) {
    std::uint8_t* e = out.data() + i * kVectorEntrySize;
    vuPutU16(e, static_cast<std::uint16_t>(Items[i].ColumnNo | (Items[i].Descending ? kVectorDescendingBit : 0)));
    vuPutU16(e + kVectorKeyLengthOffset, Items[i].KeyLength);
    e[kVectorTypeOffset] = Items[i].ColumnType;
  }
  if (count < VDB_MAX_OLD_INDEX_LEVELS) {
    out[count * kVectorEntrySize + kVectorTypeOffset] = IsUnique ? kVectorUniqueMark : 0;
  }
}

void TVdbSortDef::SetVectorData(std::span<const std::uint8_t, VDB_SORT_VECTOR_SIZE> data, int tableLevel,
                                const TVdbColumnDefs* columns) {
  Clear();
  if (vuGetU16(data.data()) == 0xFFFF) {
    IsCalculated = true;
    TVdbSortItem item;
    item.KeyLength = vuGetU16(data.data() + kVectorKeyLengthOffset);
    item.ColumnType = data[kVectorTypeOffset];
    const std::size_t length = std::min<std::size_t>(data[kVectorExpressionOffset], kVectorExpressionMax);
    const auto* chars = reinterpret_cast<const char*>(data.data() + kVectorExpressionOffset + 1);
    FCalculation = TvuCodePage::ToUnicode(kOldCodePage, std::string_view(chars, length));
    Items.push_back(item);
    FSize = 4 + item.KeyLength;
    FSource = u"(" + FCalculation + u")";
    return;
  }
  std::int32_t size = 4;
  for (std::size_t i = 0; i < VDB_MAX_OLD_INDEX_LEVELS; ++i) {
    const std::uint8_t* e = data.data() + i * kVectorEntrySize;
    const std::uint16_t raw = vuGetU16(e);
    const std::uint16_t columnNo = raw & static_cast<std::uint16_t>(~kVectorDescendingBit);
    if (columnNo == 0) {
      IsUnique = e[kVectorTypeOffset] == kVectorUniqueMark;
      break;
    }
    if (columns && columnNo > columns->GetCount()) {
      RaiseEngineError(errInvalidIndexSpec, {u"$" + Number(columnNo)});
    }
    TVdbSortItem item{e[kVectorTypeOffset], columnNo, vuGetU16(e + kVectorKeyLengthOffset),
                      (raw & kVectorDescendingBit) != 0};
    size += item.KeyLength;
    if (tableLevel >= 6 && IsVarSizeKeyType(item.ColumnType)) IsVarSize = true;
    Items.push_back(item);
  }
  if (Items.empty()) RaiseEngineError(errInvalidIndexSpec, {u""});
  FSize = size;
  if (columns) FSource = CalcSpecification(*columns, true, false, 0, false);
}

bool TVdbSortDef::Covers(const TVdbSortDef& other, bool allowReverse, bool& reverse) const {
  reverse = false;
  if (IsCalculated || other.IsCalculated) {
    return IsCalculated && other.IsCalculated && FCalculation == other.FCalculation;
  }
  if (other.Items.empty() || other.Items.size() > Items.size()) return false;
  if (Items[0].ColumnNo != other.Items[0].ColumnNo) return false;
  const bool flipped = Items[0].Descending != other.Items[0].Descending;
  if (flipped && !allowReverse) return false;
  for (std::size_t i = 1; i < other.Items.size(); ++i) {
    if (Items[i].ColumnNo != other.Items[i].ColumnNo) return false;
    if ((Items[i].Descending != other.Items[i].Descending) != flipped) return false;
  }
  reverse = flipped;
  return true;
}

bool TVdbSortDef::Equals(const TVdbSortDef& other) const {
  return IsUnique == other.IsUnique && IsVarSize == other.IsVarSize && IsCalculated == other.IsCalculated &&
         Items == other.Items && FCalculation == other.FCalculation;
}

// ---- Constraints

std::vector<std::u16string> VdbSplitColumnList(std::u16string_view text) {
  std::vector<std::u16string> out;
  for (auto part : SplitSpec(text)) {
    const auto t = Trim(part);
    if (!t.empty()) out.emplace_back(t);
  }
  return out;
}

std::u16string VdbJoinColumnList(const std::vector<std::u16string>& names) {
  std::u16string out;
  for (const auto& n : names) {
    if (!out.empty()) out += u", ";
    out += n;
  }
  return out;
}

std::u16string TVdbCandidateKeyDef::JoinedColumnNames() const {
  std::vector<std::u16string> names;
  for (const auto& n : FColumnNames) names.push_back(!n.empty() && n.front() == u'$' ? n.substr(1) : n);
  return VdbJoinColumnList(names);
}

}  // namespace vdb
