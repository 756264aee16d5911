// Stored layouts of the value types, record readers and writers, bounds checks and the type
// registry.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <random>
#include <thread>
#include <vector>

#include "base/VdbErrorCodes.h"
#include "base/VdbErrors.h"
#include "types/VdbData.h"

using namespace vdb;

namespace {

int CodeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const EVdbEngine& e) {
    return e.Code();
  }
  return 0;
}

const TVdbDataType& Type(TVdbColumnType code, bool nullable, int level) {
  const TVdbDataType* t = TVdbDataType::GetDataType(code, nullable, level);
  EXPECT_NE(t, nullptr) << code;
  return *t;
}

const TVdbDataType& Str(TVdbColumnType code, bool nullable, std::int32_t maxLength, int level,
                        std::u16string_view collation = u"") {
  return *TVdbDataType::GetStringType(code, nullable, maxLength, collation, level);
}

struct LayoutCase {
  const char* Name;
  const TVdbDataType* Type;
  std::uint32_t Size;
  int NullByteOffset;  // -1: no null byte
};

}  // namespace

TEST(VdbLayout, FieldSizesAndNullBytePositionsPerLevel) {
  const LayoutCase cases[] = {
      {"nullable Integer, level 6", &Type(vctInteger, true, 6), 5, 0},
      {"nullable Integer, level 5", &Type(vctInteger, true, 5), 5, 4},
      {"nullable Integer, level 4", &Type(vctInteger, true, 4), 5, 4},
      {"Integer NOT NULL", &Type(vctInteger, false, 6), 4, -1},
      {"nullable SmallInt, level 6", &Type(vctSmallInt, true, 6), 3, 0},
      {"nullable BigInt, level 5", &Type(vctBigInt, true, 5), 9, 8},
      {"nullable Byte, level 6", &Type(vctByte, true, 6), 2, 0},
      {"nullable Boolean, level 5", &Type(vctBoolean, true, 5), 2, 1},
      {"RecordId is never nullable", &Type(vctRecordId, true, 6), 4, -1},
      {"nullable Link uses the value 0", &Type(vctLink, true, 6), 4, -1},
      {"nullable Float, level 5", &Type(vctFloat, true, 5), 9, 8},
      {"nullable Date, level 6", &Type(vctDate, true, 6), 4, -1},
      {"nullable Date with null byte, level 5", TVdbDataType::GetDateTimeType(vctDate, true, 0, true, 5), 5, 4},
      {"Date with null byte flag, level 6: none", TVdbDataType::GetDateTimeType(vctDate, true, 0, true, 6), 4, -1},
      {"nullable TimeStamp with null byte, level 4", TVdbDataType::GetDateTimeType(vctTimeStamp, true, 4, true, 4), 9, 8},
      {"nullable Time precision 2, level 6", TVdbDataType::GetDateTimeType(vctTime, true, 2, 6), 3, 0},
      {"nullable Time precision 4, level 5", TVdbDataType::GetDateTimeType(vctTime, true, 4, 5), 5, 4},
      {"nullable Guid, level 6", &Type(vctGuid, true, 6), 17, 0},
      {"nullable Char, level 4", &Type(vctChar, true, 4), 2, 1},
      {"Char cannot be nullable below level 4", &Type(vctChar, true, 3), 1, -1},
      {"VARCHAR(255) NOT NULL", &Str(vctString, false, 255, 6), 256, -1},
      {"nullable VARCHAR(255), level 6", &Str(vctString, true, 255, 6), 257, 0},
      {"nullable VARCHAR(255), level 5", &Str(vctString, true, 255, 5), 257, 256},
      {"VARCHAR(256) gets a 2-byte prefix", &Str(vctString, false, 256, 6), 258, -1},
      {"VARCHAR(257)", &Str(vctString, true, 257, 6), 260, 0},
      {"String cannot be nullable below level 4", &Str(vctString, true, 10, 3), 11, -1},
      {"nullable VARWCHAR(10), level 6", &Str(vctWideString, true, 10, 6), 23, 0},
      {"VARWCHAR(300)", &Str(vctWideString, false, 300, 6), 602, -1},
      {"nullable memo", &Type(vctMemo, true, 6), 4, -1},
      {"nullable wide memo", &Type(vctWideMemo, true, 6), 4, -1},
      {"nullable blob", &Type(vctBlob, true, 6), 4, -1},
      {"nullable fixed binary 8, level 6", TVdbDataType::GetBinaryType(vctFixedBinary, true, 8, 6), 13, 0},
      {"nullable fixed binary 8, level 5", TVdbDataType::GetBinaryType(vctFixedBinary, true, 8, 5), 13, 12},
      {"enumeration", TVdbDataType::GetEnumType(true, false, {{u"a", 1}}, 6), 1, -1},
      {"relation", &Type(vctRelation, true, 6), 0, -1},
      {"null type", TVdbDataType::GetNullType(6), 0, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(c.Type->DataSize(), c.Size);
    EXPECT_EQ(c.Type->HasNullByte(), c.NullByteOffset >= 0);
    if (c.NullByteOffset >= 0) {
      EXPECT_EQ(c.Type->NullByteOffset(), static_cast<std::uint32_t>(c.NullByteOffset));
    }
  }
}

TEST(VdbLayout, MaxLengthDerivedFromStoredFieldSize) {
  struct Case {
    TVdbColumnType Code;
    bool Nullable;
    std::uint32_t Size;
    std::int32_t MaxLength;
  } cases[] = {
      {vctString, true, 257, 255}, {vctString, false, 256, 255}, {vctString, false, 258, 256},
      {vctString, true, 259, 256}, {vctString, false, 2, 1},     {vctWideString, true, 23, 10},
      {vctWideString, false, 602, 300},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Size);
    const auto* t = TVdbDataType::GetDataType(c.Code, c.Nullable, c.Size, 6);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(static_cast<const TVdbStringType*>(t)->MaxLength(), c.MaxLength);
    EXPECT_EQ(t->DataSize(), c.Size);
  }
  EXPECT_EQ(static_cast<const TVdbBinaryType*>(TVdbDataType::GetDataType(vctFixedBinary, true, 13, 6))->MaxLength(), 8);
  EXPECT_EQ(CodeOf([] { TVdbDataType::GetDataType(vctString, true, 2, 6); }), errZeroFieldSize);
}

TEST(VdbLayout, NullableIntegerWritesDataAndNullByteAtTheLevelsPositions) {
  for (int level : {5, 6}) {
    SCOPED_TRACE(level);
    const auto& t = Type(vctInteger, true, level);
    std::vector<std::uint8_t> record(12, 0xEE);
    TVdbDataValue v;
    t.SetReference(v, record, 3);
    t.SetInteger(v, 0x01020304);
    const std::size_t nb = level == 6 ? 3 : 7;
    const std::size_t data = level == 6 ? 4 : 3;
    EXPECT_EQ(record[nb], 1);
    EXPECT_EQ(record[data], 0x04);
    EXPECT_EQ(record[data + 3], 0x01);
    EXPECT_EQ(record[2], 0xEE);
    EXPECT_EQ(record[8], 0xEE);
    EXPECT_EQ(t.GetInteger(v), 0x01020304);
    // Null clears only the null byte; the data bytes stay.
    t.SetNull(v);
    EXPECT_TRUE(t.IsNull(v));
    EXPECT_EQ(record[nb], 0);
    EXPECT_EQ(record[data], 0x04);
  }
}

TEST(VdbLayout, NegativeNumbersAreLittleEndianTwosComplement) {
  const auto& t = Type(vctSmallInt, false, 6);
  std::vector<std::uint8_t> record(2);
  TVdbDataValue v;
  t.SetReference(v, record, 0);
  t.SetInteger(v, -2);
  EXPECT_EQ(record, (std::vector<std::uint8_t>{0xFE, 0xFF}));
  EXPECT_EQ(t.GetInteger(v), -2);
}

TEST(VdbLayout, StringFieldHoldsPrefixAndCharacters) {
  const auto& t = Str(vctString, true, 300, 6);
  std::vector<std::uint8_t> record(t.DataSize(), 0);
  TVdbDataValue v;
  t.SetReference(v, record, 0);
  t.SetAnsiString(v, "abc");
  EXPECT_EQ(record[0], 1);  // null byte first at level 6
  EXPECT_EQ(record[1], 3);  // 2-byte count
  EXPECT_EQ(record[2], 0);
  EXPECT_EQ(record[3], 'a');
  EXPECT_EQ(t.GetAnsiString(v), "abc");
}

TEST(VdbLayout, TextsAroundThePrefixLimitsAreKeptOrCutToMaxLength) {
  for (std::int32_t maxLength : {255, 256}) {
    const auto& t = Str(vctString, true, maxLength, 6);
    for (std::size_t len : {255u, 256u, 257u}) {
      SCOPED_TRACE(testing::Message() << "max " << maxLength << ", text " << len);
      std::vector<std::uint8_t> record(t.DataSize() + 2, 0xAB);
      TVdbDataValue v;
      t.SetReference(v, record, 1);
      const std::string text(len, 'x');
      t.SetAnsiString(v, text);
      const std::size_t kept = std::min<std::size_t>(len, static_cast<std::size_t>(maxLength));
      EXPECT_EQ(static_cast<std::size_t>(static_cast<const TVdbStringType&>(t).GetLength(v)), kept);
      EXPECT_EQ(t.GetAnsiString(v), std::string(kept, 'x'));
      // Nothing written outside the field.
      EXPECT_EQ(record.front(), 0xAB);
      EXPECT_EQ(record.back(), 0xAB);
    }
  }
}

TEST(VdbLayout, WideStringsAreUtf16LittleEndianAndNeverSplitASurrogatePair) {
  const auto& t = Str(vctWideString, false, 3, 6);
  std::vector<std::uint8_t> record(t.DataSize());
  TVdbDataValue v;
  t.SetReference(v, record, 0);
  t.SetWideString(v, u"ő");
  EXPECT_EQ(record[0], 1);
  EXPECT_EQ(record[2], 0x51);
  EXPECT_EQ(record[3], 0x01);
  t.SetWideString(v, u"ab\U0001F600");  // the pair would need units 3 and 4
  EXPECT_EQ(t.GetWideString(v), u"ab");
}

TEST(VdbLayout, FieldOutsideTheRecordIsRejectedWithoutTouchingTheValue) {
  const auto& t = Type(vctInteger, true, 6);
  std::vector<std::uint8_t> record(8);
  TVdbDataValue v;
  t.SetReference(v, record, 3);  // bytes 3..7: exactly fits
  EXPECT_EQ(CodeOf([&] { t.SetReference(v, record, 4); }), errText);
  EXPECT_EQ(CodeOf([&] { t.SetReference(v, record, SIZE_MAX); }), errText);
  EXPECT_EQ(CodeOf([&] { t.CopyTo(v, std::span<std::uint8_t>(record).first(4), 0); }), errText);
  // The value still refers to bytes 3..7.
  t.SetInteger(v, 7);
  EXPECT_EQ(record[3], 1);
  EXPECT_EQ(record[4], 7);
}

TEST(VdbLayout, DamagedLengthPrefixRaisesInsteadOfReadingPastTheField) {
  struct Case {
    const TVdbDataType* Type;
    std::size_t PrefixOffset;
    std::uint8_t Prefix[2];
  } cases[] = {
      {&Str(vctString, false, 10, 6), 0, {200, 0}},
      {&Str(vctString, false, 300, 6), 0, {0xFF, 0xFF}},
      {&Str(vctWideString, true, 4, 6), 1, {5, 0}},
      {TVdbDataType::GetBinaryType(vctFixedBinary, false, 4, 6), 0, {9, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    std::vector<std::uint8_t> record(c.Type->DataSize(), 0);
    if (c.Type->HasNullByte()) record[c.Type->NullByteOffset()] = 1;
    record[c.PrefixOffset] = c.Prefix[0];
    record[c.PrefixOffset + 1] = c.Prefix[1];
    TVdbDataValue v;
    c.Type->SetReference(v, record, 0);
    if (c.Type->ColumnType() == vctFixedBinary) {
      EXPECT_EQ(CodeOf([&] { c.Type->GetBytes(v); }), errText);
    } else {
      EXPECT_EQ(CodeOf([&] { c.Type->GetWideString(v); }), errText);
    }
  }
}

TEST(VdbLayout, DateAndTimeStampWithoutNullByteUseZeroAsNull) {
  const auto& ts = Type(vctTimeStamp, true, 6);
  std::vector<std::uint8_t> record(8, 0);
  TVdbDataValue v;
  ts.SetReference(v, record, 0);
  EXPECT_TRUE(ts.IsNull(v));
  ts.SetTimeStamp(v, {VdbEncodeDate(2014, 3, 1), 1000});
  EXPECT_FALSE(ts.IsNull(v));
  EXPECT_EQ(record[0] | (record[1] << 8) | (record[2] << 16), VdbEncodeDate(2014, 3, 1));
  EXPECT_EQ(record[4], 0xE8);  // 1000 ms
  ts.SetNull(v);
  EXPECT_EQ(record, std::vector<std::uint8_t>(8, 0));
}

TEST(VdbLayout, TimeKeepsWholeMinutesOrMillisecondsByPrecision) {
  const std::int64_t ticks = 10 * VDB_TICKS_PER_MINUTE * 60 + 30 * VDB_TICKS_PER_MINUTE + 15 * 10000000LL + 5 * VDB_TICKS_PER_MS + 7;
  const auto* minutes = TVdbDataType::GetDateTimeType(vctTime, false, 2, 6);
  const auto* millis = TVdbDataType::GetDateTimeType(vctTime, false, 4, 6);
  TVdbDataValue a, b;
  minutes->SetTime(a, ticks);
  millis->SetTime(b, ticks);
  EXPECT_EQ(minutes->GetTime(a), (10 * 60 + 30) * VDB_TICKS_PER_MINUTE);
  EXPECT_EQ(millis->GetTime(b), ((10 * 60 + 30) * 60 + 15) * 1000 * VDB_TICKS_PER_MS + 5 * VDB_TICKS_PER_MS);
}

TEST(VdbLayout, MemoFieldHoldsTheBlockReference) {
  const auto& memo = Type(vctMemo, true, 6);
  std::vector<std::uint8_t> record(4, 0);
  TVdbDataValue v;
  memo.SetReference(v, record, 0);
  EXPECT_TRUE(memo.IsNull(v));
  memo.SetInteger(v, 0x0A0B0C0D);
  EXPECT_EQ(record, (std::vector<std::uint8_t>{0x0D, 0x0C, 0x0B, 0x0A}));
  EXPECT_FALSE(memo.IsNull(v));
  // The text itself is not in the record.
  EXPECT_EQ(CodeOf([&] { memo.GetWideString(v); }), errTypeMismatch);
  // An owned memo value holds text of any length.
  TVdbDataValue owned;
  const std::u16string text(40000, u'z');
  memo.SetWideString(owned, text);
  EXPECT_EQ(memo.GetWideString(owned), text);
}

TEST(VdbLayout, GuidBytesAreInNativeOrder) {
  const auto& t = Type(vctGuid, false, 6);
  std::vector<std::uint8_t> record(16);
  TVdbDataValue v;
  t.SetReference(v, record, 0);
  TVdbGuid g{0x11223344, 0x5566, 0x7788, {1, 2, 3, 4, 5, 6, 7, 8}};
  t.SetGuid(v, g);
  EXPECT_EQ(record, (std::vector<std::uint8_t>{0x44, 0x33, 0x22, 0x11, 0x66, 0x55, 0x88, 0x77, 1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(t.GetGuid(v), g);
}

TEST(VdbLayout, RangeAndNullabilityErrors) {
  TVdbDataValue v;
  EXPECT_EQ(CodeOf([&] { Type(vctSmallInt, false, 6).SetInteger(v, 32768); }), errValueExceedsTypeRange);
  EXPECT_EQ(CodeOf([&] { Type(vctByte, false, 6).SetInteger(v, -1); }), errValueExceedsTypeRange);
  EXPECT_EQ(CodeOf([&] { Type(vctBoolean, false, 6).SetInteger(v, 2); }), errValueExceedsTypeRange);
  EXPECT_EQ(CodeOf([&] { Type(vctInteger, false, 6).SetNull(v); }), errNullNotAllowed);
  EXPECT_EQ(CodeOf([&] { Type(vctDate, false, 6).SetDate(v, VdbEncodeDate(2014, 4, 31)); }), errInvalidDate);
  EXPECT_EQ(CodeOf([&] { Type(vctInteger, false, 6).SetWideString(v, u"1"); }), errTypeMismatch);
  EXPECT_EQ(CodeOf([&] { TVdbDataType::GetNullType(0)->SetReference(v, {}, 0); }), errText);
  try {
    Type(vctSmallInt, false, 6).SetInteger(v, 40000);
  } catch (const EVdbEngine& e) {
    EXPECT_EQ(e.Message(), u"Value 40000 of type SmallInt exceeds the allowed range from -32768 to 32767");
  }
  try {
    Type(vctInteger, false, 6).SetNull(v);
  } catch (const EVdbEngine& e) {
    EXPECT_EQ(e.Message(), u"\"Integer\" does not accept NULL values");
  }
}

TEST(VdbLayout, StringLengthLimits) {
  struct Case {
    TVdbColumnType Code;
    std::int32_t MaxLength;
    bool Ok;
  } cases[] = {
      {vctString, 1, true},          {vctString, 32764, true},      {vctString, 32765, false},
      {vctString, 0, false},         {vctWideString, 16382, true},  {vctWideString, 16383, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.MaxLength);
    const int code = CodeOf([&] { TVdbDataType::GetStringType(c.Code, false, c.MaxLength, u"", 6); });
    EXPECT_EQ(code, c.Ok ? 0 : errStringLengthRange);
  }
  try {
    TVdbDataType::GetStringType(vctWideString, false, 16383, u"", 6);
  } catch (const EVdbEngine& e) {
    EXPECT_EQ(e.Message(), u"String type has a length of 16383, which is outside the allowed range of 1 to 16382");
  }
}

TEST(VdbLayout, DefaultsAndRangeEnds) {
  struct Case {
    const TVdbDataType* Type;
    std::u16string Default, Max, Min;
  } cases[] = {
      {&Type(vctSmallInt, false, 6), u"0", u"32767", u"-32768"},
      {&Type(vctSmallInt, true, 6), u"0", u"32767", u""},  // null is the minimum: sorts first
      {&Type(vctByte, false, 6), u"0", u"255", u"0"},
      {&Type(vctBoolean, false, 6), u"False", u"True", u"False"},
      {&Type(vctInteger, false, 3), u"0", u"2147483647", u"-2147483648"},
      {&Type(vctBigInt, false, 6), u"0", u"9223372036854775807", u"-9223372036854775808"},
      {&Type(vctLink, false, 6), u"0", u"2147483647", u"0"},
      {&Type(vctDate, false, 6), u"01.01.0001", u"31.12.9999", u"01.01.0001"},
      {&Type(vctTimeStamp, false, 6), u"01.01.0001_00:00:00.000", u"31.12.9999_23:59:59.999",
       u"01.01.0001_00:00:00.000"},
      {TVdbDataType::GetDateTimeType(vctTime, false, 3, 6), u"00:00:00", u"23:59:59", u"00:00:00"},
      {&Str(vctString, false, 5, 6), u"", u"", u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    TVdbDataValue d, mx, mn;
    c.Type->GetDefault(d);
    c.Type->GetMaximum(mx);
    c.Type->GetMinimum(mn);
    EXPECT_EQ(c.Type->ConvertToString(d, TvuFormats::Invariant()), c.Default);
    EXPECT_EQ(c.Type->ConvertToString(mx, TvuFormats::Invariant()), c.Max);
    EXPECT_EQ(c.Type->ConvertToString(mn, TvuFormats::Invariant()), c.Min);
  }
  TVdbDataValue d;
  Type(vctDate, false, 6).GetDefault(d);
  EXPECT_EQ(Type(vctDate, false, 6).GetDate(d), 545);
  Type(vctChar, true, 6).GetDefault(d);
  EXPECT_TRUE(Type(vctChar, true, 6).IsNull(d));
}

TEST(VdbLayout, SqlNames) {
  EXPECT_EQ(Type(vctChar, false, 6).SqlName(), u"CHAR(1) NOT NULL");
  EXPECT_EQ(Type(vctChar, true, 6).SqlName(), u"CHAR(1)");
  EXPECT_EQ(Str(vctString, true, 40, 6).SqlName(), u"VARCHAR(40)");
  EXPECT_EQ(Str(vctString, true, 40, 6, u"Hungarian").SqlName(), u"VARCHAR(40) COLLATE Hungarian");
  EXPECT_EQ(Str(vctWideString, true, 40, 6).SqlName(), u"VARWCHAR(40)");
  EXPECT_EQ(Type(vctMemo, true, 6).SqlName(), u"LONGVARCHAR");
  EXPECT_EQ(Type(vctTimeStamp, true, 6).VplName(), u"DateTime");
  EXPECT_EQ(Type(vctFloat, true, 6).SqlName(), u"DOUBLE");
}

TEST(VdbRegistry, EqualParametersGiveTheSameObject) {
  EXPECT_EQ(&Type(vctInteger, true, 6), &Type(vctInteger, true, 6));
  EXPECT_NE(&Type(vctInteger, true, 6), &Type(vctInteger, false, 6));
  EXPECT_NE(&Type(vctInteger, true, 6), &Type(vctInteger, true, 5));
  EXPECT_EQ(&Str(vctString, true, 40, 6, u"Hungarian"), &Str(vctString, true, 40, 6, u"HUNGARIAN"));
  EXPECT_NE(&Str(vctString, true, 40, 6, u"Hungarian"), &Str(vctString, true, 40, 6, u""));
  EXPECT_NE(&Str(vctString, true, 40, 6), &Str(vctString, true, 41, 6));
  EXPECT_NE(TVdbDataType::GetFloatType(vctFloat, true, 2, 6), TVdbDataType::GetFloatType(vctFloat, true, 3, 6));
  EXPECT_NE(TVdbDataType::GetEnumType(true, false, {{u"a", 1}}, 6), TVdbDataType::GetEnumType(true, false, {{u"b", 1}}, 6));
  EXPECT_EQ(Type(vctInteger, true, 6).GetNullableType(false), &Type(vctInteger, false, 6));
  EXPECT_EQ(Type(vctInteger, true, 6).GetLevelType(4), &Type(vctInteger, true, 4));
  // Changing the level keeps every other parameter.
  const auto* s = Str(vctString, true, 40, 6, u"Hungarian").GetLevelType(5);
  EXPECT_EQ(s, &Str(vctString, true, 40, 5, u"Hungarian"));
  EXPECT_EQ(CodeOf([] { TVdbDataType::GetDataType(vctInteger, true, 7); }), errUnknownTableVersion);
}

TEST(VdbRegistry, ConcurrentCreationYieldsOneObjectPerType) {
  constexpr int kThreads = 8;
  std::vector<std::vector<const TVdbDataType*>> seen(kThreads);
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      while (!go) std::this_thread::yield();
      for (int len = 1; len <= 200; ++len)
        seen[t].push_back(TVdbDataType::GetStringType(vctString, true, 5000 + len, u"Hungarian_CS", 6));
    });
  go = true;
  for (auto& th : threads) th.join();
  for (int t = 1; t < kThreads; ++t) EXPECT_EQ(seen[t], seen[0]);
}

namespace {

std::vector<const TVdbDataType*> AllKindsOfTypes() {
  std::vector<const TVdbDataType*> types;
  for (int level : {4, 5, 6})
    for (bool nullable : {false, true}) {
      for (TVdbColumnType code : {vctChar, vctSmallInt, vctFloat, vctByte, vctBoolean, vctDate, vctMemo, vctRecordId,
                                  vctLink, vctBlob, vctTime, vctInteger, vctTimeStamp, vctWideMemo, vctBigInt, vctGuid})
        types.push_back(TVdbDataType::GetDataType(code, nullable, level));
      types.push_back(TVdbDataType::GetStringType(vctString, nullable, 20, u"", level));
      types.push_back(TVdbDataType::GetStringType(vctString, nullable, 300, u"Hungarian", level));
      types.push_back(TVdbDataType::GetStringType(vctWideString, nullable, 7, u"", level));
      types.push_back(TVdbDataType::GetDateTimeType(vctTime, nullable, 1, level));
      types.push_back(TVdbDataType::GetDateTimeType(vctDate, nullable, 0, true, level));
      types.push_back(TVdbDataType::GetBinaryType(vctFixedBinary, nullable, 6, level));
      types.push_back(TVdbDataType::GetEnumType(nullable, false, {{u"a", 1}, {u"b", 5}}, level));
    }
  return types;
}

// Exercises the readers of a value; engine errors are fine, anything else is not.
void ReadEverything(const TVdbDataType& type, const TVdbDataValue& value, const TVdbDataType& other,
                    const TVdbDataValue& otherValue) {
  auto guarded = [](const std::function<void()>& f) {
    try {
      f();
    } catch (const EVdbEngine&) {
    }
  };
  guarded([&] { type.IsNull(value); });
  guarded([&] { type.ConvertToString(value, TvuFormats::Invariant()); });
  guarded([&] { type.GetWideString(value); });
  guarded([&] { type.GetBytes(value); });
  guarded([&] { type.GetInteger(value); });
  guarded([&] { TVdbDataType::Compare(value, otherValue, type, other, 0, vcmExpression); });
  guarded([&] { TVdbDataType::Compare(value, otherValue, type, other, 0, vcmIndex); });
}

}  // namespace

// Damaged records: whatever the bytes, reading stays inside the field (the sanitizers watch).
TEST(VdbLayout, ArbitraryFieldBytesAreReadWithoutLeavingTheField) {
  std::mt19937 rng(6151);
  for (const TVdbDataType* t : AllKindsOfTypes()) {
    for (int round = 0; round < 30; ++round) {
      std::vector<std::uint8_t> record(t->DataSize());  // exactly the field: no slack to hide overreads
      for (auto& b : record) b = static_cast<std::uint8_t>(rng());
      if (round % 3 == 0 && !record.empty()) record[0] = static_cast<std::uint8_t>(rng() % 4);
      TVdbDataValue v;
      t->SetReference(v, record, 0);
      ReadEverything(*t, v, *t, v);
    }
  }
}

// A value made by one type and read by another must raise or work, never read out of bounds.
TEST(VdbLayout, ValuesOfOtherTypesAreNeverMisreadOutOfBounds) {
  const auto types = AllKindsOfTypes();
  std::vector<TVdbDataValue> values(types.size());
  for (std::size_t i = 0; i < types.size(); ++i) {
    try {
      types[i]->GetMaximum(values[i]);
    } catch (const EVdbEngine&) {
      types[i]->InitValue(values[i]);
    }
  }
  for (std::size_t i = 0; i < types.size(); ++i)
    for (std::size_t j = 0; j < types.size(); j += 3) ReadEverything(*types[i], values[j], *types[j], values[j]);
}

TEST(VdbLayout, SizeOfValues) {
  TVdbDataValue v;
  const auto& s = Str(vctString, true, 40, 6);
  s.SetWideString(v, u"abcd");
  EXPECT_EQ(s.GetSize(v), 4u);
  const auto& w = Str(vctWideString, true, 40, 6);
  w.SetWideString(v, u"abcd");
  EXPECT_EQ(w.GetSize(v), 8u);
  w.SetNull(v);
  EXPECT_EQ(w.GetSize(v), 0u);
  Type(vctBigInt, false, 6).SetInteger(v, 1);
  EXPECT_EQ(Type(vctBigInt, false, 6).GetSize(v), 8u);
  const auto& blob = Type(vctBlob, true, 6);
  const std::uint8_t bytes[] = {1, 2, 3};
  blob.SetBytes(v, bytes);
  EXPECT_EQ(blob.GetSize(v), 3u);
}

TEST(VdbLayout, CharIsOneUnsignedByteWithoutCollation) {
  const auto& c = Type(vctChar, false, 6);
  TVdbDataValue a, b;
  c.SetWideString(a, u"é");  // 0xE9 in the 8-bit code page
  c.SetWideString(b, u"z");
  EXPECT_EQ(c.GetInteger(a), 0xE9);
  EXPECT_EQ(TVdbDataType::Compare(a, b, c, c), vcrGreater);
  c.SetWideString(b, u"É");
  EXPECT_EQ(TVdbDataType::Compare(a, b, c, c), vcrGreater);  // no case folding
  EXPECT_EQ(c.GetWideString(a), u"é");
}

TEST(VdbLayout, TextTakenFromTheValueItselfIsStoredIntact) {
  std::string text;
  for (int i = 0; i < 100; ++i) text += static_cast<char>('a' + i % 26);
  for (std::int32_t maxLength : {60, VDB_UNBOUNDED_LENGTH}) {
    const auto& t = static_cast<const TVdbAnsiStringType&>(Str(vctString, true, maxLength, 0));
    TVdbDataValue v;
    t.SetAnsiString(v, text);
    t.SetAnsiString(v, t.GetAnsiView(v).substr(2, 50));
    EXPECT_EQ(t.GetAnsiString(v), text.substr(2, 50));
  }
  // Into a value another type made (it is re-owned first).
  const auto& wide = static_cast<const TVdbAnsiStringType&>(Str(vctString, true, 200, 0));
  const auto& narrow = Str(vctString, true, 60, 0);
  TVdbDataValue v;
  wide.SetAnsiString(v, text);
  narrow.SetAnsiString(v, wide.GetAnsiView(v).substr(10, 40));
  EXPECT_EQ(narrow.GetAnsiString(v), text.substr(10, 40));
}
