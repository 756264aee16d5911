#include "sql/VdbSqlVariables.h"

#include <algorithm>

#include "base/VdbErrorCodes.h"
#include "base/VdbErrors.h"
#include "types/VdbCommon.h"

namespace vdb {

namespace {

constexpr int kLevel = 6;
constexpr std::int16_t kOpenTypeMarker = 157;

const TVdbDataType* TypeOf(std::int16_t columnType, std::int32_t spec) {
  switch (columnType) {
    case vctChar:
    case vctString:
      if (spec > VDB_MAX_ANSI_LENGTH) return TVdbDataType::GetDataType(vctMemo, true, kLevel);
      return TVdbDataType::GetStringType(vctString, true, spec <= 0 ? 255 : spec, u"", kLevel);
    case vctWideString:
      if (spec > VDB_MAX_WIDE_LENGTH) return TVdbDataType::GetDataType(vctWideMemo, true, kLevel);
      return TVdbDataType::GetStringType(vctWideString, true, spec <= 0 ? 255 : spec, u"", kLevel);
    case vctFixedBinary:
    case vctBlob: return TVdbDataType::GetDataType(vctBlob, true, kLevel);
    case vctFloat: return TVdbDataType::GetFloatType(vctFloat, true, 0, kLevel);
    case vctRecordId: return TVdbDataType::GetDataType(vctInteger, true, kLevel);
    default: {
      const TVdbDataType* t = TVdbDataType::GetDataType(columnType, true, kLevel);
      if (t == nullptr) throw EVdbEngine(errTypeMismatch, {u"parameter type " + vuIntToStr(columnType)});
      return t;
    }
  }
}

// The type an open variable takes from a literal text: integer, float, date, time or
// timestamp when the text reads as one, else a wide string.
const TVdbDataType* GuessType(std::u16string_view text, TVdbDataValue& value) {
  const TvuFormats& f = TvuFormats::Invariant();
  const TVdbColumnType tries[] = {vctBigInt, vctFloat, vctTimeStamp, vctDate, vctTime};
  for (TVdbColumnType code : tries) {
    const TVdbDataType* t = code == vctFloat ? TVdbDataType::GetFloatType(vctFloat, true, 0, kLevel)
                                             : TVdbDataType::GetDataType(code, true, kLevel);
    if (t == nullptr) continue;
    try {
      TVdbDataValue v;
      t->ConvertFromString(v, text, f);
      value = v;
      return t;
    } catch (const EVdbEngine&) {
    }
  }
  const std::int32_t n = std::max<std::int32_t>(1, static_cast<std::int32_t>(text.size()));
  const TVdbDataType* t = n > VDB_MAX_WIDE_LENGTH ? TVdbDataType::GetDataType(vctWideMemo, true, kLevel)
                                                  : TVdbDataType::GetStringType(vctWideString, true, n, u"", kLevel);
  t->SetWideString(value, text);
  return t;
}

}  // namespace

TVdbSqlVariable* TVdbSqlVariableList::Find(std::u16string_view name) {
  const int i = IndexOf(name);
  return i < 0 ? nullptr : &FItems[static_cast<std::size_t>(i)];
}

const TVdbSqlVariable* TVdbSqlVariableList::Find(std::u16string_view name) const {
  const int i = IndexOf(name);
  return i < 0 ? nullptr : &FItems[static_cast<std::size_t>(i)];
}

int TVdbSqlVariableList::IndexOf(std::u16string_view name) const {
  for (std::size_t i = 0; i < FItems.size(); ++i)
    if (VdbSameName(FItems[i].Name, name)) return static_cast<int>(i);
  return -1;
}

TVdbSqlVariable& TVdbSqlVariableList::Add(std::u16string name, std::int16_t columnType, std::int32_t spec) {
  if (IndexOf(name) >= 0) throw EVdbEngine(errDuplicateIdentifier, {name});
  TVdbSqlVariable v;
  v.Name = std::move(name);
  if (columnType != 0 && columnType != kOpenTypeMarker) v.Type = TypeOf(columnType, spec);
  FItems.push_back(std::move(v));
  return FItems.back();
}

void TVdbSqlVariableList::Clear() {
  for (auto& v : FItems) {
    v.Value.Clear();
    v.IsSet = false;
  }
}

void TVdbSqlVariableList::SetFromText(std::u16string_view name, std::u16string_view text, std::int32_t size) {
  TVdbSqlVariable* v = Find(name);
  if (v == nullptr) throw EVdbEngine(errUnknownIdentifier, {std::u16string(name)});
  if (size == -1) {
    if (v->Type == nullptr) v->Type = TVdbDataType::GetNullType(kLevel);
    v->Value.Clear();
    v->Type->SetNull(v->Value);
    v->IsSet = true;
    return;
  }
  if (v->Type == nullptr) {
    TVdbDataValue value;
    v->Type = GuessType(text, value);
    v->Value = value;
    v->IsSet = true;
    return;
  }
  const TVdbColumnType code = v->Type->ColumnType();
  TVdbDataValue value;
  if (code == vctBlob || code == vctFixedBinary) {
    // One zero character, then the raw bytes; `size` counts the bytes (0 or less: NULL).
    if (size <= 0) {
      v->Type->SetNull(value);
    } else {
      const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
      const std::size_t available = text.size() * 2;
      const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(size), available);
      v->Type->SetBytes(value, std::span<const std::uint8_t>(bytes, n));
    }
  } else {
    try {
      v->Type->ConvertFromString(value, text, TvuFormats::Invariant());
    } catch (const EVdbEngine&) {
      throw;
    } catch (const std::exception&) {
      throw EVdbEngine(errTypeMismatch, {u"\"" + std::u16string(text) + u"\"->" + v->Type->SqlName()});
    }
  }
  v->Value = value;
  v->IsSet = true;
}

void TVdbSqlVariableList::SetValue(std::u16string_view name, const TVdbDataValue& value, const TVdbDataType& type) {
  TVdbSqlVariable* v = Find(name);
  if (v == nullptr) throw EVdbEngine(errUnknownIdentifier, {std::u16string(name)});
  if (v->Type == nullptr) v->Type = &type;
  TVdbDataValue converted;
  if (type.IsNull(value)) {
    v->Type->SetNull(converted);
  } else {
    v->Type->Assign(converted, value, type);
  }
  v->Value = converted;
  v->IsSet = true;
}

}  // namespace vdb
