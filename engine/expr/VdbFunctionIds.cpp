#include "expr/VdbFunctionIds.h"

#include <array>
#include <vector>

#include "base/VdbAscii.h"
#include "expr/VdbExpression.h"

namespace vdb {

namespace {

std::u16string Number(std::int64_t v) {
  std::u16string r;
  const bool neg = v < 0;
  std::uint64_t u = neg ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
  do {
    r.insert(r.begin(), static_cast<char16_t>(u'0' + u % 10));
    u /= 10;
  } while (u);
  return neg ? u"-" + r : r;
}

std::u16string Names(const std::vector<std::u16string>& names) {
  std::u16string r;
  for (std::size_t i = 0; i < names.size(); ++i) r += (i ? u", " : u"") + VdbSqlName(names[i]);
  return r;
}

struct TTypeName {
  std::u16string_view Name;
  TVdbSqlType Type;
};

constexpr std::array<TTypeName, 24> kTypeNames{{
    {u"AUTOINC", sqlAutoInc}, {u"BIGINT", sqlBigInt}, {u"BOOLEAN", sqlBoolean}, {u"BYTE", sqlByte},
    {u"CHAR", sqlChar}, {u"DATE", sqlDate}, {u"DECIMAL", sqlDouble}, {u"DOUBLE", sqlDouble},
    {u"ENUM", sqlEnum}, {u"FLOAT", sqlDouble}, {u"GUID", sqlGuid}, {u"INTEGER", sqlInteger},
    {u"LINK", sqlLink}, {u"LONGVARBINARY", sqlLongVarBinary}, {u"LONGVARCHAR", sqlLongVarChar},
    {u"LONGVARWCHAR", sqlLongVarWChar}, {u"REAL", sqlDouble}, {u"RELATION", sqlRelation},
    {u"SMALLINT", sqlSmallInt}, {u"TIME", sqlTime}, {u"TIMESTAMP", sqlTimeStamp}, {u"VARCHAR", sqlVarChar},
    {u"VARWCHAR", sqlVarWChar}, {u"WCHAR", sqlWChar},
}};

constexpr std::array<TVdbDataFuncName, 28> kDataFuncs{{
    {u"Sin", dfiSin, u"Math", 1, 1}, {u"Cos", dfiCos, u"Math", 1, 1}, {u"ArcTan", dfiAtan, u"Math", 1, 1},
    {u"Ascii", dfiAscii, u"String", 1, 1}, {u"Pos", dfiPos, u"String", 2, 2}, {u"Scan", dfiScan, u"String", 2, 2},
    {u"LeftStr", dfiLeftStr, u"String", 2, 2}, {u"RightStr", dfiRightStr, u"String", 2, 2},
    {u"FillStr", dfiFillStr, u"String", 2, 2}, {u"HexStr", dfiHexStr, u"String", 1, 2},
    {u"Year", dfiYear, u"DateTime", 1, 1}, {u"Month", dfiMonth, u"DateTime", 1, 1},
    {u"Week", dfiWeek, u"DateTime", 1, 1}, {u"DayOfWeek", dfiDayOfWeek, u"DateTime", 1, 1},
    {u"WeekDayNo", dfiWeekDayNo, u"DateTime", 1, 1}, {u"Day", dfiDay, u"DateTime", 1, 1},
    {u"Hour", dfiHour, u"DateTime", 1, 1}, {u"Minute", dfiMinute, u"DateTime", 1, 1},
    {u"Second", dfiSecond, u"DateTime", 1, 1}, {u"Millisecond", dfiMillisecond, u"DateTime", 1, 1},
    {u"CombineDateTime", dfiCombineDateTime, u"DateTime", 2, 2}, {u"MakeTime", dfiMakeTime, u"DateTime", 2, 4},
    {u"MakeDate", dfiMakeDate, u"DateTime", 3, 3}, {u"MakeDateTime", dfiMakeTimeStamp, u"DateTime", 5, 7},
    {u"TimeStr", dfiTimeStr, u"DateTime", 1, 2}, {u"DateStr", dfiDateStr, u"DateTime", 1, 1},
    {u"DateTimeStr", dfiDateTimeStr, u"DateTime", 1, 2}, {u"NewGuid", dfiNewGuid, u"", 0, 0},
}};

}  // namespace

const TVdbDataFuncName* VdbFindDataFuncName(std::u16string_view name) {
  const std::u16string upper = VdbUpperAscii(name);
  for (const auto& f : kDataFuncs)
    if (VdbUpperAscii(f.Name) == upper) return &f;
  return nullptr;
}

const TVdbDataFuncName& VdbDataFuncName(TVdbDataFuncId id) {
  for (const auto& f : kDataFuncs)
    if (f.Id == id) return f;
  return kDataFuncs[0];
}

TVdbSqlType VdbSqlTypeByName(std::u16string_view name) {
  const std::u16string upper = VdbUpperAscii(name);
  for (const auto& t : kTypeNames)
    if (t.Name == upper) return t.Type;
  return sqlNone;
}

std::u16string VdbSqlTypeName(TVdbSqlType type) {
  if (type == sqlDouble) return u"DOUBLE";
  for (const auto& t : kTypeNames)
    if (t.Type == type) return std::u16string(t.Name);
  return {};
}

std::u16string VdbSqlTypeText(const TVdbSqlTypeSpec& type) {
  std::u16string r = VdbSqlTypeName(type.SqlType);
  switch (type.SqlType) {
    case sqlDouble: return r + u"(" + Number(type.Precision) + u")";
    case sqlChar:
    case sqlVarChar:
    case sqlWChar:
    case sqlVarWChar:
      r += u"(" + Number(type.Size) + u")";
      if (!type.StringParam.empty()) r += u" COLLATE " + VdbSqlName(type.StringParam);
      return r;
    case sqlTime: return r + u"(" + Number(type.Precision) + u")";
    case sqlAutoInc:
      r += u"(";
      if (!type.StringParam.empty()) r += VdbQuoteSqlString(type.StringParam) + u", ";
      return r + Number(type.Precision) + u")";
    case sqlLink:
    case sqlRelation: return r + u"(" + VdbSqlName(type.StringParam) + u")";
    case sqlEnum: {
      std::vector<std::u16string> items;
      std::size_t start = 0;
      for (;;) {
        const std::size_t comma = type.StringParam.find(u',', start);
        items.push_back(type.StringParam.substr(start, comma == std::u16string::npos ? comma : comma - start));
        if (comma == std::u16string::npos) break;
        start = comma + 1;
      }
      return r + u"(" + Names(items) + u")";
    }
    default: return r;
  }
}

std::u16string VdbSqlName(std::u16string_view name) {
  if (name.find(u']') == std::u16string_view::npos) return u"[" + std::u16string(name) + u"]";
  std::u16string r = u"\"";
  for (char16_t c : name) {
    r += c;
    if (c == u'"') r += c;
  }
  return r + u"\"";
}

}  // namespace vdb
