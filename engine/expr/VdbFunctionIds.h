// The names a function call of an expression tree is known by: the built-in SQL functions and
// their special forms, the EXTRACT fields, the SQL data types a CAST or a column definition
// names, and the data functions shared with VidoraPL. The parser fills these in; the function
// library (expr/VdbSqlFunctions.h) evaluates them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vdb {

// In this order; the three TRIM directions and the EXTRACT fields are ids of their own.
enum TFunctionId : std::uint8_t {
  sftNone, sftMax, sftMin, sftMaxN, sftMinN, sftFirst, sftLast, sftAvg, sftSum, sftCeiling, sftCount, sftPick,
  sftUpper, sftLower, sftExtract, sftExtractYear, sftExtractMonth, sftExtractDay, sftExtractWeekDay,
  sftExtractWeekDayName, sftExtractHour, sftExtractMillisecond, sftExtractMinute, sftExtractSecond,
  sftExtractWeek, sftFloor, sftFullTextRank, sftLog, sftSubString, sftTrim, sftTrimBoth, sftTrimLeading,
  sftTrimTrailing, sftCast, sftRealVal, sftChr, sftLen, sftAbs, sftExp, sftFrac, sftInt, sftRound, sftSqrt,
  sftRandom, sftLikeLower, sftLikeUpper, sftChar_Length, sftExchange, sftFillStr, sftStr, sftDigitStr, sftNTimes,
  sftCurrent_Date, sftCurrent_Time, sftCurrent_Timestamp, sftCurrentRecordId,
  // Not an SQL function: a data function (TVdbDataFuncId) called from SQL text.
  sftDataFunction
};

// Aggregates accumulate over the rows of a group instead of computing per row.
constexpr bool VdbIsAggregateFunction(TFunctionId id) noexcept {
  switch (id) {
    case sftMax: case sftMin: case sftMaxN: case sftMinN: case sftFirst: case sftLast: case sftAvg: case sftSum:
    case sftCount: case sftPick: return true;
    default: return false;
  }
}

enum TVdbDataFuncId : std::uint8_t {
  dfiSin, dfiCos, dfiAtan, dfiAscii, dfiPos, dfiScan, dfiLeftStr, dfiRightStr, dfiFillStr, dfiHexStr, dfiYear,
  dfiMonth, dfiWeek, dfiDayOfWeek, dfiWeekDayNo, dfiDay, dfiHour, dfiMinute, dfiSecond, dfiMillisecond,
  dfiCombineDateTime, dfiMakeTime, dfiMakeDate, dfiMakeTimeStamp, dfiTimeStr, dfiDateStr, dfiDateTimeStr,
  dfiNewGuid
};

enum TVdbSqlType : std::uint8_t {
  sqlNone, sqlInteger, sqlSmallInt, sqlByte, sqlDouble, sqlChar, sqlVarChar, sqlTime, sqlDate, sqlTimeStamp,
  sqlBoolean, sqlAutoInc, sqlLongVarChar, sqlLongVarBinary, sqlWChar, sqlVarWChar, sqlLongVarWChar, sqlBigInt,
  sqlLink, sqlRelation, sqlEnum, sqlGuid
};

// A data type as SQL writes it: DOUBLE PRECISION(4), VARCHAR(20) COLLATE x, TIME(2),
// AUTOINC('ind', 5), LINK(table), ENUM(a, b) ...
struct TVdbSqlTypeSpec {
  TVdbSqlType SqlType = sqlNone;
  std::int32_t Size = 0;       // characters of CHAR/VARCHAR/WCHAR/VARWCHAR
  std::int32_t Precision = 0;  // DOUBLE digits, TIME precision, AUTOINC step
  // Collation (text types), linked table (LINK, RELATION), items joined by commas (ENUM) or the
  // AutoInc indication.
  std::u16string StringParam;
  bool operator==(const TVdbSqlTypeSpec&) const = default;
};

// A row of the data function table: the name SQL calls it by, the group it is listed under,
// and its minimum and maximum argument count.
struct TVdbDataFuncName {
  std::u16string_view Name;
  TVdbDataFuncId Id;
  std::u16string_view ClassName;
  int MinParameters;
  int MaxParameters;
};
// By name without regard to case; null when none.
const TVdbDataFuncName* VdbFindDataFuncName(std::u16string_view name);
const TVdbDataFuncName& VdbDataFuncName(TVdbDataFuncId id);

// The SQL type named by a data type word (AUTOINC, VARCHAR, FLOAT ...), sqlNone when none.
TVdbSqlType VdbSqlTypeByName(std::u16string_view name);
std::u16string VdbSqlTypeName(TVdbSqlType type);
// The data type as SQL writes it, parameters included: "VARCHAR(20) COLLATE [hu]".
std::u16string VdbSqlTypeText(const TVdbSqlTypeSpec& type);
// A name as SQL text that reads back as the same name: [Lakó népesség], or "a]b" when the name
// holds a right bracket.
std::u16string VdbSqlName(std::u16string_view name);

}  // namespace vdb
