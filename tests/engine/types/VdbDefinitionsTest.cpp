// Column and index definitions: positions, name rules, the rules for new columns, index
// specification texts in both directions, the 50-byte form, Covers and Equals.
#include "types/VdbDefinitions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "base/VdbErrorCodes.h"
#include "base/VdbErrors.h"

namespace vdb {
namespace {

std::unique_ptr<TVdbColumnDef> Column(std::u16string name, TVdbColumnType type, bool nullable = false,
                                      std::int32_t length = 0, int level = 6) {
  TVdbNewColumn c;
  c.Name = std::move(name);
  c.ColumnType = type;
  c.Nullable = nullable;
  c.Length = length;
  return VdbMakeColumnDef(c, level, u"");
}

// IRSZ integer (4), TELEP string of 20 (21), TERULET nullable float (9), NOTE memo (4).
TVdbColumnDefs SettlementColumns(int level = 6) {
  TVdbColumnDefs cols;
  cols.Add(Column(u"IRSZ", vctInteger, false, 0, level));
  cols.Add(Column(u"TELEP", vctString, false, 20, level));
  cols.Add(Column(u"TERULET", vctFloat, true, 0, level));
  cols.Add(Column(u"NOTE", vctMemo, false, 0, level));
  return cols;
}

TEST(VdbColumnDefsTest, PositionsFollowSizesAndRecomputeAfterChanges) {
  TVdbColumnDefs cols = SettlementColumns();
  ASSERT_EQ(cols.GetColumnDef(0).Size(), 4);
  ASSERT_EQ(cols.GetColumnDef(1).Size(), 21);
  ASSERT_EQ(cols.GetColumnDef(2).Size(), 9);
  EXPECT_EQ(cols.GetColumnDef(0).Position(), 0);
  EXPECT_EQ(cols.GetColumnDef(1).Position(), 4);
  EXPECT_EQ(cols.GetColumnDef(2).Position(), 25);
  EXPECT_EQ(cols.GetColumnDef(3).Position(), 34);
  EXPECT_EQ(cols.GetRecordSize(), 38);
  cols.Delete(1);
  EXPECT_EQ(cols.GetColumnDef(1).Position(), 4);
  EXPECT_EQ(cols.GetRecordSize(), 17);
  cols.Replace(0, Column(u"IRSZ", vctBigInt));
  EXPECT_EQ(cols.GetColumnDef(1).Position(), 8);
  TVdbColumnDefs copy = cols;
  EXPECT_EQ(copy.GetRecordSize(), cols.GetRecordSize());
  EXPECT_NE(&copy.GetColumnDef(0), &cols.GetColumnDef(0));
}

TEST(VdbColumnDefsTest, NamesIgnoreCaseAndAccentsAndSharpS) {
  TVdbColumnDefs cols;
  cols.Add(Column(u"Strasse", vctInteger));
  cols.Add(Column(u"TERÜLET", vctInteger));
  EXPECT_EQ(cols.Find(u"STRAßE"), 0);
  EXPECT_EQ(cols.Find(u"terulet"), 1);
  EXPECT_EQ(cols.Find(u"TERULETE"), -1);
  EXPECT_EQ(cols.FindFirst(vctInteger), 0);
  EXPECT_EQ(cols.FindFirst(vctMemo), -1);
}

TEST(VdbColumnDefTest, NullByteOptionFollowsTheTypeWhateverTheCallerPassed) {
  struct TCase {
    TVdbColumnType Type;
    bool Nullable;
    int Level;
    bool NullByte;
  };
  const TCase cases[] = {
      {vctInteger, true, 6, true},   {vctInteger, false, 6, false}, {vctMemo, true, 6, false},
      {vctBlob, true, 6, false},     {vctDate, true, 6, false},     {vctString, true, 4, true},
      {vctString, true, 3, false},  // not nullable below level 4
  };
  for (const auto& c : cases) {
    const auto* type = c.Type == vctString ? TVdbDataType::GetStringType(c.Type, c.Nullable, 10, u"", c.Level)
                                           : TVdbDataType::GetDataType(c.Type, c.Nullable, c.Level);
    auto def = TVdbColumnDef::CreateColumnDef(u"C", type, c.NullByte ? 0 : coHasNullByte);
    EXPECT_EQ(def->HasNullByte(), c.NullByte) << c.Type << " level " << c.Level;
  }
  EXPECT_EQ(TVdbColumnDef::CreateColumnDef(u"M", TVdbDataType::GetDataType(vctMemo, false, 6), 0)->Size(), 4);
  EXPECT_EQ(TVdbColumnDef::CreateColumnDef(u"B", TVdbDataType::GetDataType(vctBlob, true, 6), 0)->Size(), 4);
}

TEST(VdbColumnDefTest, SetNullableAndLevelSwapTheTypeAndOptions) {
  auto def = Column(u"N", vctInteger);
  def->SetNullable(true, 6);
  EXPECT_TRUE(def->DataType()->Nullable());
  EXPECT_EQ(def->Options() & (coNullable | coHasNullByte), coNullable | coHasNullByte);
  EXPECT_EQ(def->Size(), 5);
  def->SetNullable(false, 6);
  EXPECT_EQ(def->Options() & (coNullable | coHasNullByte), 0u);
  EXPECT_EQ(def->Size(), 4);
  def->SetTableLevel(4);
  EXPECT_EQ(def->DataType()->Level(), 4);

  TVdbNewColumn date;
  date.Name = u"D";
  date.ColumnType = vctDate;
  date.Nullable = true;
  date.Options = coHasNullByte;
  auto d = VdbMakeColumnDef(date, 5, u"");
  EXPECT_TRUE(d->HasNullByte());
  d->SetTableLevel(6);
  EXPECT_FALSE(d->HasNullByte());
}

TEST(VdbColumnDefTest, CalculationPurposesFromOptionBits) {
  auto def = Column(u"C", vctInteger);
  EXPECT_EQ(def->CalculationPurposes(), 0);
  def->SetCalculationSource(u"1");
  EXPECT_EQ(def->CalculationPurposes(), clpInitialization);
  def->SetOptions(coComputed);
  EXPECT_EQ(def->CalculationPurposes(), clpUpdating);
  def->SetOptions(coComputed | coAppendOnly);
  EXPECT_EQ(def->CalculationPurposes(), clpAppending);
  def->SetOptions(coRangeConstraint);
  EXPECT_EQ(def->CalculationPurposes(), 0);
}

TEST(VdbColumnDefTest, CreateColumnDefPicksTheClassByTypeCode) {
  EXPECT_NE(dynamic_cast<TVdbTextColumnDef*>(Column(u"S", vctString, false, 5).get()), nullptr);
  EXPECT_NE(dynamic_cast<TVdbNumberColumnDef*>(Column(u"F", vctFloat).get()), nullptr);
  EXPECT_NE(dynamic_cast<TVdbRecordIdColumnDef*>(Column(u"R", vctRecordId).get()), nullptr);
  EXPECT_NE(dynamic_cast<TVdbTimeColumnDef*>(Column(u"T", vctTime).get()), nullptr);
  try {
    TVdbColumnDef::CreateColumnDef(u"X", nullptr, 0);
    FAIL();
  } catch (const EVdbEngine& e) {
    EXPECT_EQ(e.Code(), errUnknownType);
  }
}

TEST(VdbColumnDefTest, TransferFormRoundTripsPerClass) {
  TVdbNewColumn rid;
  rid.Name = u"ID";
  rid.ColumnType = vctRecordId;
  rid.StartValue = 42;
  rid.IndexSpec = u"ID";
  TVdbNewColumn link;
  link.Name = u"L";
  link.ColumnType = vctLink;
  link.LinkedTable = u"Megye";
  TVdbNewColumn e;
  e.Name = u"E";
  e.ColumnType = vctEnum;
  e.EnumNames = u"Falu,Varos";
  std::vector<std::unique_ptr<TVdbColumnDef>> defs;
  defs.push_back(VdbMakeColumnDef(rid, 6, u""));
  defs.push_back(VdbMakeColumnDef(link, 6, u""));
  defs.push_back(VdbMakeColumnDef(e, 6, u""));
  defs.push_back(Column(u"TELEP", vctString, true, 20));
  defs.push_back(Column(u"F", vctFloat, true));
  defs.push_back(Column(u"T", vctTime));
  for (const auto& def : defs) {
    std::vector<std::uint8_t> bytes;
    def->SaveToStream(bytes);
    EXPECT_EQ(bytes[0], def->ColumnType());
    auto back = TVdbColumnDef::CreateColumnDef(u"", def->DataType(), 0);
    EXPECT_EQ(back->LoadFromStream(bytes), bytes.size());
    EXPECT_EQ(back->Name(), def->Name());
    EXPECT_EQ(back->Options(), def->Options());
    EXPECT_EQ(back->Size(), def->Size());
    for (std::size_t cut = 0; cut < bytes.size(); cut += 3) {
      EXPECT_THROW(back->LoadFromStream(std::span(bytes).first(cut)), EVdbEngine);
    }
  }
  auto back = TVdbColumnDef::CreateColumnDef(u"", defs[0]->DataType(), 0);
  std::vector<std::uint8_t> bytes;
  defs[0]->SaveToStream(bytes);
  back->LoadFromStream(bytes);
  EXPECT_EQ(static_cast<TVdbRecordIdColumnDef&>(*back).StartValue(), 42);
  EXPECT_EQ(static_cast<TVdbRecordIdColumnDef&>(*back).IndexSpec(), u"ID");
  back = TVdbColumnDef::CreateColumnDef(u"", defs[1]->DataType(), 0);
  bytes.clear();
  defs[1]->SaveToStream(bytes);
  back->LoadFromStream(bytes);
  EXPECT_EQ(static_cast<TVdbAdlColumnDef&>(*back).LinkedTable(), u"Megye");
}

// ---- Rules for a new column

struct TRuleCase {
  const char* What;
  int Level;
  TVdbNewColumn Column;
  std::int16_t Code;
  const char16_t* Feature;  // for code 117
};

TVdbNewColumn NC(std::u16string name, TVdbColumnType type) {
  TVdbNewColumn c;
  c.Name = std::move(name);
  c.ColumnType = type;
  return c;
}

template <class F>
TVdbNewColumn With(TVdbNewColumn c, F f) {
  f(c);
  return c;
}

std::u16string Items(int n) {
  std::u16string s;
  for (int i = 0; i < n; ++i) {
    if (i) s += u",";
    s += u"I" + std::u16string(1, static_cast<char16_t>(u'A' + i % 26)) + std::u16string(1, static_cast<char16_t>(u'a' + i / 26));
  }
  return s;
}

TEST(VdbNewColumnRulesTest, TableOfCases) {
  const std::vector<TRuleCase> cases = {
      {"plain integer", 6, NC(u"A", vctInteger), 0, nullptr},
      {"duplicate name, other case", 6, NC(u"irsz", vctInteger), errDuplicateIdentifier, nullptr},
      {"name too long", 6, NC(std::u16string(41, u'x'), vctInteger), errInvalidIdentifier, nullptr},
      {"40 characters", 6, NC(std::u16string(40, u'x'), vctInteger), 0, nullptr},
      {"blank below level 4", 3, NC(u"A B", vctSmallInt), errInvalidIdentifier, nullptr},
      {"blank at level 4", 4, NC(u"A B", vctSmallInt), 0, nullptr},
      {"nullable record id, level 6", 6, With(NC(u"R", vctRecordId), [](auto& c) { c.Nullable = true; }),
       errFeatureNotAtLevel, u"Nullable"},
      {"nullable record id, level 4", 4, With(NC(u"R", vctRecordId), [](auto& c) { c.Nullable = true; }),
       errFeatureNotAtLevel, u"Nullable"},
      {"nullable record id, level 1", 1, With(NC(u"R", vctRecordId), [](auto& c) { c.Nullable = true; }),
       errFeatureNotAtLevel, u"Nullable"},
      {"nullable string, level 3", 3, With(NC(u"S", vctString), [](auto& c) { c.Nullable = true; c.Length = 5; }),
       errFeatureNotAtLevel, u"Nullable"},
      {"collation at level 5", 5, With(NC(u"S", vctString), [](auto& c) { c.Length = 5; c.CollationName = u"Hungarian"; }),
       errFeatureNotAtLevel, u"Collation"},
      {"unknown collation", 6, With(NC(u"S", vctString), [](auto& c) { c.Length = 5; c.CollationName = u"Klingon"; }),
       errUnknownCollation, nullptr},
      {"collation on memo", 6, With(NC(u"M", vctMemo), [](auto& c) { c.CollationName = u"Hungarian"; }), 0, nullptr},
      {"integer below level 3", 2, NC(u"I", vctInteger), errFeatureNotAtLevel, u"Data type"},
      {"guid at level 3", 3, NC(u"G", vctGuid), 0, nullptr},
      {"default below level 4", 3, With(NC(u"I", vctSmallInt), [](auto& c) { c.Calculation = u"1"; }),
       errFeatureNotAtLevel, u"Default value"},
      {"computed below level 4", 3,
       With(NC(u"I", vctSmallInt), [](auto& c) { c.Calculation = u"1"; c.Options = coComputed; }), 0, nullptr},
      {"default on memo", 6, With(NC(u"M", vctMemo), [](auto& c) { c.Calculation = u"'x'"; }), errFeatureNotAtLevel,
       u"Default value"},
      {"computed blob", 6, With(NC(u"B", vctBlob), [](auto& c) { c.Calculation = u"x"; c.Options = coComputed; }),
       errFeatureNotAtLevel, u"Default value"},
      {"range text on memo", 6,
       With(NC(u"M", vctMemo), [](auto& c) { c.Calculation = u"x"; c.Options = coRangeConstraint; }), 0, nullptr},
      {"string length 0", 6, NC(u"S", vctString), errZeroFieldSize, nullptr},
      {"string 32764 beside an integer", 6, With(NC(u"S", vctString), [](auto& c) { c.Length = 32764; }),
       errTooManyColumns, nullptr},
      {"string 32761 beside an integer", 6, With(NC(u"S", vctString), [](auto& c) { c.Length = 32761; }), 0, nullptr},
      {"string 32765", 6, With(NC(u"S", vctString), [](auto& c) { c.Length = 32765; }), errFeatureNotAtLevel,
       u"String length"},
      {"string 256 below level 4", 3, With(NC(u"S", vctString), [](auto& c) { c.Length = 256; }),
       errFeatureNotAtLevel, u"String length"},
      {"wide string 16383", 6, With(NC(u"W", vctWideString), [](auto& c) { c.Length = 16383; }),
       errFeatureNotAtLevel, u"String length"},
      {"enum 16 items, level 5", 5, With(NC(u"E", vctEnum), [](auto& c) { c.EnumNames = Items(16); }),
       errFeatureNotAtLevel, u"Enum value count"},
      {"enum 16 items, level 6", 6, With(NC(u"E", vctEnum), [](auto& c) { c.EnumNames = Items(16); }), 0, nullptr},
      {"enum item of 21 characters, level 5", 5,
       With(NC(u"E", vctEnum), [](auto& c) { c.EnumNames = u"a," + std::u16string(21, u'b'); }),
       errFeatureNotAtLevel, u"Enum value length"},
      {"enum item of 41 characters, level 6", 6,
       With(NC(u"E", vctEnum), [](auto& c) { c.EnumNames = u"a," + std::u16string(41, u'b'); }),
       errInvalidIdentifier, nullptr},
      {"time precision 3 below level 4", 3, With(NC(u"T", vctTime), [](auto& c) { c.Precision = 3; }),
       errFeatureNotAtLevel, u"Time precision"},
      {"time precision 0 below level 4", 3, NC(u"T", vctTime), 0, nullptr},
      {"record id start 0", 6, With(NC(u"R", vctRecordId), [](auto& c) { c.StartValue = 0; }),
       errFeatureNotAtLevel, u"Start value"},
      {"link without table", 6, NC(u"L", vctLink), errLinkTableNotFound, nullptr},
      {"relation without table", 6, NC(u"L", vctRelation), errLinkTableNotFound, nullptr},
  };
  TVdbColumnDefs cols;
  cols.Add(Column(u"IRSZ", vctInteger));
  for (const auto& c : cases) {
    const TVdbRuleResult r = VdbCheckNewColumn(cols, c.Column, c.Level);
    EXPECT_EQ(r.Code, c.Code) << c.What << ": " << std::string(r.Message.begin(), r.Message.end());
    if (c.Feature) {
      EXPECT_NE(r.Message.find(c.Feature), std::u16string::npos) << c.What;
      EXPECT_NE(r.Message.find(c.Column.Name), std::u16string::npos) << c.What;
    }
  }
  EXPECT_EQ(cols.GetCount(), 1);
}

TEST(VdbNewColumnRulesTest, TenthIndexedLinkAndLimitsOfTheTable) {
  TVdbColumnDefs cols;
  for (int i = 0; i < 9; ++i) {
    auto c = NC(u"L" + std::u16string(1, static_cast<char16_t>(u'0' + i)), vctLink);
    c.LinkedTable = u"@";
    ASSERT_TRUE(VdbCheckNewColumn(cols, c, 6).Ok());
    cols.Add(VdbMakeColumnDef(c, 6, u""));
  }
  auto tenth = With(NC(u"LX", vctLink), [](auto& c) { c.LinkedTable = u"T"; });
  EXPECT_EQ(VdbCheckNewColumn(cols, tenth, 6).Code, errTooManyLinkFields);
  tenth.Options = coNoIndex;
  EXPECT_TRUE(VdbCheckNewColumn(cols, tenth, 6).Ok());

  TVdbColumnDefs many;
  for (int i = 0; i < VDB_MAX_COLUMNS; ++i) many.Add(Column(u"B", vctByte));
  EXPECT_EQ(VdbCheckNewColumn(many, NC(u"X", vctByte), 6).Code, errTooManyColumns);
  // Record-id columns do not count.
  EXPECT_NE(VdbCheckNewColumn(many, NC(u"R", vctRecordId), 6).Code, errTooManyColumns);

  TVdbColumnDefs wide;
  wide.Add(Column(u"S", vctString, false, 32764));
  EXPECT_EQ(wide.GetRecordSize(), 32766);
  EXPECT_TRUE(VdbCheckNewColumn(wide, NC(u"B", vctByte), 6).Ok());
  EXPECT_EQ(VdbCheckNewColumn(wide, NC(u"I", vctSmallInt), 6).Code, errTooManyColumns);
}

TEST(VdbNewColumnRulesTest, TimePrecisionNormalisation) {
  const int cases[][3] = {{0, 4, 3}, {0, 3, 2}, {1, 6, 2}, {2, 6, 2}, {3, 6, 3}, {4, 6, 4}, {9, 6, 4}};
  for (const auto& c : cases) EXPECT_EQ(VdbNormalizeTimePrecision(c[0], c[1]), c[2]) << c[0] << "/" << c[1];
}

// ---- Index specifications

TEST(VdbSortDefTest, SpecificationReadsBothDirections) {
  const TVdbColumnDefs cols = SettlementColumns();
  const TVdbSortDef def = TVdbSortDef::FromSpecification(u"IRSZ, -TELEP", cols, 6);
  ASSERT_EQ(def.LevelCount(), 2);
  EXPECT_EQ(def.Items[0], (TVdbSortItem{vctInteger, 1, 4, false}));
  EXPECT_EQ(def.Items[1], (TVdbSortItem{vctString, 2, 21, true}));
  EXPECT_EQ(def.FSize, 4 + 4 + 21);
  EXPECT_TRUE(def.IsVarSize);

  struct TOut {
    bool Readable, Reverse;
    int WithSize;
    bool Numbers;
    const char16_t* Text;
  };
  const TOut outs[] = {
      {true, false, 0, false, u"IRSZ, -TELEP"},   {false, false, 0, false, u"${IRSZ}, -${TELEP}"},
      {true, true, 0, false, u"-IRSZ, TELEP"},     {true, false, 0, true, u"1, -2"},
      {false, false, 0, true, u"$1, -$2"},         {true, false, 2, false, u"IRSZ:4, -TELEP:20"},
      {true, false, 1, false, u"IRSZ, -TELEP"},
  };
  for (const auto& o : outs) {
    const std::u16string text = def.CalcSpecification(cols, o.Readable, o.Reverse, o.WithSize, o.Numbers);
    EXPECT_EQ(text, o.Text);
    if (!o.Reverse) {
      // Every written form reads back as the same definition.
      EXPECT_TRUE(TVdbSortDef::FromSpecification(text, cols, 6).Equals(def)) << std::string(text.begin(), text.end());
    }
  }
}

TEST(VdbSortDefTest, SpecificationTextForms) {
  const TVdbColumnDefs cols = SettlementColumns();
  struct TCase {
    const char16_t* Text;
    std::vector<std::uint16_t> Columns;
    std::vector<bool> Descending;
  };
  const TCase cases[] = {
      {u"irsz", {1}, {false}},
      {u" - TELEP ,IRSZ", {2, 1}, {true, false}},
      {u"$2", {2}, {false}},
      {u"${TERULET}:8", {3}, {false}},
      {u"3, 1", {3, 1}, {false, false}},
      {u"[TELEP], \"IRSZ\"", {2, 1}, {false, false}},
  };
  for (const auto& c : cases) {
    const auto def = TVdbSortDef::FromSpecification(c.Text, cols, 6);
    ASSERT_EQ(def.LevelCount(), static_cast<int>(c.Columns.size())) << std::string(c.Text, c.Text + 3);
    for (std::size_t i = 0; i < c.Columns.size(); ++i) {
      EXPECT_EQ(def.Items[i].ColumnNo, c.Columns[i]);
      EXPECT_EQ(def.Items[i].Descending, c.Descending[i]);
      EXPECT_EQ(def.Items[i].KeyLength, cols.GetColumnDef(c.Columns[i] - 1).Size());
    }
  }
  const char16_t* invalid[] = {u"", u"IRSZ,", u", IRSZ", u"NOPE", u"$9", u"-", u"NOTE", u"(IRSZ + 1)", u"()"};
  for (const auto* text : invalid) {
    try {
      TVdbSortDef::FromSpecification(text, cols, 6);
      ADD_FAILURE() << "accepted";
    } catch (const EVdbEngine& e) {
      EXPECT_EQ(e.Code(), errInvalidIndexSpec);
      EXPECT_NE(e.Message().find(text), std::u16string::npos);
    }
  }
  // Case-sensitive sessions.
  EXPECT_THROW(TVdbSortDef::FromSpecification(u"irsz", cols, 6, true), EVdbEngine);
}

TEST(VdbSortDefTest, CommasInsideBracketsAndQuotesDoNotSplit) {
  TVdbColumnDefs cols;
  cols.Add(Column(u"A", vctInteger));
  const auto typer = [](std::u16string_view expression, int) -> const TVdbDataType* {
    return expression == u"Copy(A, 1, 2) + ','" ? TVdbDataType::GetStringType(vctString, false, 10, u"", 6) : nullptr;
  };
  const auto def = TVdbSortDef::FromSpecification(u"(Copy(A, 1, 2) + ',')", cols, 6, false, typer);
  EXPECT_TRUE(def.IsCalculated);
  EXPECT_TRUE(def.IsVarSize);
  EXPECT_EQ(def.LevelCount(), 1);
  EXPECT_EQ(def.Items[0].ColumnNo, 0);
  EXPECT_EQ(def.FSize, 4 + 11);
  EXPECT_EQ(def.CalcSpecification(cols, true, false, 0, false), u"(Copy(A, 1, 2) + ',')");
  const auto old = TVdbSortDef::FromSpecification(u"(Copy(A, 1, 2) + ',')", cols, 5, false, typer);
  EXPECT_EQ(old.FSize, 4 + 256);
  EXPECT_FALSE(old.IsVarSize);
}

TEST(VdbSortDefTest, LevelLimitsPerTableLevel) {
  TVdbColumnDefs cols;
  for (int i = 1; i <= 257; ++i) cols.Add(Column(u"C", vctByte));
  auto list = [](int n) {
    std::u16string s;
    for (int i = 1; i <= n; ++i) {
      if (i > 1) s += u",";
      const std::string num = std::to_string(i);
      s += std::u16string(num.begin(), num.end());
    }
    return s;
  };
  EXPECT_EQ(TVdbSortDef::FromSpecification(list(10), cols, 4).LevelCount(), 10);
  for (auto [n, level] : {std::pair{11, 4}, std::pair{257, 6}}) {
    try {
      TVdbSortDef::FromSpecification(list(n), cols, level);
      ADD_FAILURE() << n;
    } catch (const EVdbEngine& e) {
      EXPECT_EQ(e.Code(), errTooManyIndexLevels);
    }
  }
  EXPECT_EQ(TVdbSortDef::FromSpecification(list(256), cols, 5).LevelCount(), 256);
}

TEST(VdbSortDefTest, VectorFormRoundTripsAndMarksUniqueness) {
  const TVdbColumnDefs cols = SettlementColumns(4);
  TVdbSortDef def = TVdbSortDef::FromSpecification(u"IRSZ, -TELEP", cols, 4);
  def.IsUnique = true;
  std::array<std::uint8_t, VDB_SORT_VECTOR_SIZE> bytes{};
  def.GetVectorData(bytes);
  const std::uint8_t head[] = {1, 0, 4, 0, vctInteger, 2, 0x80, 21, 0, vctString, 0, 0, 0, 0, 0xFF};
  EXPECT_TRUE(std::equal(std::begin(head), std::end(head), bytes.begin()));
  EXPECT_TRUE(std::all_of(bytes.begin() + 15, bytes.end(), [](auto b) { return b == 0; }));
  TVdbSortDef back;
  back.SetVectorData(bytes, 4, &cols);
  EXPECT_TRUE(back.Equals(def));
  EXPECT_EQ(back.GetSource(), u"IRSZ, -TELEP");

  // Ten parts fill the vector: there is no terminator, so uniqueness is not recorded.
  TVdbColumnDefs ten;
  for (int i = 0; i < 10; ++i) ten.Add(Column(u"C", vctByte, false, 0, 4));
  TVdbSortDef full = TVdbSortDef::FromSpecification(u"1,2,3,4,5,6,7,8,9,-10", ten, 4);
  full.IsUnique = true;
  full.GetVectorData(bytes);
  EXPECT_EQ(bytes[45], 10);
  EXPECT_EQ(bytes[46], 0x80);
  EXPECT_EQ(bytes[49], vctByte);
  back.SetVectorData(bytes, 4, &ten);
  EXPECT_EQ(back.LevelCount(), 10);
  EXPECT_FALSE(back.IsUnique);
  EXPECT_TRUE(back.Items[9].Descending);

  // Expression form.
  TVdbSortDef expression;
  expression.SetCalculation(u"Upper(TELEP)", *TVdbDataType::GetStringType(vctString, false, 20, u"", 4), 4);
  expression.GetVectorData(bytes);
  EXPECT_EQ(bytes[0], 0xFF);
  EXPECT_EQ(bytes[1], 0xFF);
  EXPECT_EQ(bytes[2] | (bytes[3] << 8), 256);
  EXPECT_EQ(bytes[4], vctString);
  EXPECT_EQ(bytes[5], 12);
  back.SetVectorData(bytes, 4);
  EXPECT_TRUE(back.IsCalculated);
  EXPECT_EQ(back.Calculation(), u"Upper(TELEP)");

  // A column number beyond the table.
  bytes.fill(0);
  bytes[0] = 11;
  EXPECT_THROW(back.SetVectorData(bytes, 4, &ten), EVdbEngine);
}

TEST(VdbSortDefTest, CoversTable) {
  TVdbColumnDefs cols;
  for (auto n : {u"A", u"B", u"C"}) cols.Add(Column(n, vctInteger));
  const auto abc = TVdbSortDef::FromSpecification(u"A, B, C", cols, 6);
  struct TCase {
    const char16_t* Other;
    bool AllowReverse;
    bool Covers;
    bool Reverse;
  };
  const TCase cases[] = {
      {u"A, B", false, true, false},   {u"A, B, C", false, true, false}, {u"-A, -B", true, true, true},
      {u"-A, -B", false, false, false}, {u"A, -B", true, false, false},   {u"B", true, false, false},
      {u"A, C", false, false, false},   {u"-A, -B, -C", true, true, true},
  };
  for (const auto& c : cases) {
    bool reverse = !c.Reverse;
    EXPECT_EQ(abc.Covers(TVdbSortDef::FromSpecification(c.Other, cols, 6), c.AllowReverse, reverse), c.Covers)
        << std::string(c.Other, c.Other + 2);
    if (c.Covers) {
      EXPECT_EQ(reverse, c.Reverse);
    }
  }
  const auto ab = TVdbSortDef::FromSpecification(u"A, B", cols, 6);
  bool reverse = false;
  EXPECT_FALSE(ab.Covers(abc, true, reverse));
  EXPECT_FALSE(ab.Equals(abc));
  auto unique = ab;
  unique.IsUnique = true;
  EXPECT_FALSE(unique.Equals(ab));
}

TEST(VdbNamedDefsTest, FindDeleteAndCopy) {
  TVdbCandidateKeyDefs keys;
  keys.Add(std::make_unique<TVdbCandidateKeyDef>(u"Primary", true, std::vector<std::u16string>{u"$IRSZ", u"TELEP"}));
  EXPECT_EQ(keys.GetNamedDef(0).JoinedColumnNames(), u"IRSZ, TELEP");
  EXPECT_EQ(keys.FindByName(u"PRIMARY"), 0);
  TVdbCandidateKeyDefs copy = keys;
  EXPECT_TRUE(keys.DeleteByName(u"primary"));
  EXPECT_EQ(keys.GetCount(), 0);
  EXPECT_EQ(copy.GetCount(), 1);
  EXPECT_EQ(VdbSplitColumnList(u" A,B , ,C"), (std::vector<std::u16string>{u"A", u"B", u"C"}));
}

}  // namespace
}  // namespace vdb
