// The dataset's field kinds: the kind of each engine column type, the framework's field type of
// each kind, and the list of field definitions.
#include "VdbDataSet.h"

#include "VdbText.h"

namespace vdbds {

// ---------------------------------------------------------------- type mapping

TVdbDataType DataTypeOfColumn(std::int16_t columnType) noexcept {
  switch (columnType & 0xFF) {
    case ctChar:
    case ctString: return TVdbDataType::dtString;
    case ctInteger: return TVdbDataType::dtInteger;
    case ctSmallInt: return TVdbDataType::dtSmallInt;
    case ctFloat: return TVdbDataType::dtFloat;
    case ctByte: return TVdbDataType::dtByte;
    case ctBoolean: return TVdbDataType::dtBoolean;
    case ctDate: return TVdbDataType::dtDate;
    case ctMemo: return TVdbDataType::dtMemo;
    case ctEnum: return TVdbDataType::dtEnum;
    case ctRecordId: return TVdbDataType::dtAutoInc;
    case ctLink: return TVdbDataType::dtLink;
    case ctBlob: return TVdbDataType::dtBlob;
    case ctTime: return TVdbDataType::dtTime;
    case ctRelation: return TVdbDataType::dtRelation;
    case ctTimeStamp: return TVdbDataType::dtDateTime;
    case ctWideString: return TVdbDataType::dtWideString;
    case ctWideMemo: return TVdbDataType::dtWideMemo;
    case ctBigInt: return TVdbDataType::dtLargeInt;
    case ctGuid: return TVdbDataType::dtGuid;
    case ctFixedBinary: return TVdbDataType::dtBytes;
    default: return TVdbDataType::dtUnknown;
  }
}

tk::TFieldType FrameworkType(TVdbDataType type) noexcept {
  using tk::TFieldType;
  switch (type) {
    case TVdbDataType::dtString: return TFieldType::dtString;
    case TVdbDataType::dtInteger: return TFieldType::dtInteger;
    case TVdbDataType::dtSmallInt: return TFieldType::dtSmallInt;
    case TVdbDataType::dtFloat: return TFieldType::dtFloat;
    case TVdbDataType::dtByte: return TFieldType::dtByte;
    case TVdbDataType::dtBoolean: return TFieldType::dtBoolean;
    case TVdbDataType::dtDate: return TFieldType::dtDate;
    case TVdbDataType::dtMemo: return TFieldType::dtMemo;
    case TVdbDataType::dtEnum: return TFieldType::dtEnum;
    case TVdbDataType::dtAutoInc: return TFieldType::dtAutoInc;
    case TVdbDataType::dtLink: return TFieldType::dtLink;
    case TVdbDataType::dtBlob: return TFieldType::dtBlob;
    case TVdbDataType::dtTime: return TFieldType::dtTime;
    case TVdbDataType::dtRelation: return TFieldType::dtRelation;
    case TVdbDataType::dtDateTime: return TFieldType::dtDateTime;
    case TVdbDataType::dtWideString: return TFieldType::dtWideString;
    case TVdbDataType::dtWideMemo: return TFieldType::dtWideMemo;
    case TVdbDataType::dtLargeInt: return TFieldType::dtLargeInt;
    case TVdbDataType::dtGuid: return TFieldType::dtGuid;
    case TVdbDataType::dtBytes: return TFieldType::dtBlob;
    case TVdbDataType::dtUnknown: break;
  }
  return TFieldType::dtUnknown;
}

TVdbFieldDef& TVdbFieldDefs::Add(TVdbFieldDef def) {
  FItems.push_back(std::move(def));
  return FItems.back();
}

const TVdbFieldDef* TVdbFieldDefs::Find(std::u16string_view name) const noexcept {
  for (const TVdbFieldDef& def : FItems)
    if (EqualsIgnoringCase(def.Name, name)) return &def;
  return nullptr;
}

const TVdbFieldDef& TVdbFieldDefs::FieldByName(std::u16string_view name) const {
  const TVdbFieldDef* def = Find(name);
  if (!def) tk::DatabaseError(u"Field %s not found", {name});
  return *def;
}

}  // namespace vdbds
