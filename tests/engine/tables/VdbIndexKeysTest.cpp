// Keys of an index over record images: shortened text parts, null markers per level, keys put
// back into records, partial keys completed into range bounds, equal leading items and range
// tests.
#include <gtest/gtest.h>

#include "base/VdbErrorCodes.h"
#include "tables/VdbIndexKeys.h"
#include "types/vuCodePage.h"

namespace vdb {
namespace {

TVdbColumnDefs Columns(int level, const std::vector<TVdbNewColumn>& columns, std::u16string collation = u"Hungarian") {
  TVdbColumnDefs defs;
  for (const auto& c : columns) defs.Add(VdbMakeColumnDef(c, level, collation));
  return defs;
}

TVdbNewColumn Col(std::u16string name, TVdbColumnType type, std::int32_t length = 0, bool nullable = false) {
  TVdbNewColumn c;
  c.Name = std::move(name);
  c.ColumnType = type;
  c.Length = length;
  c.Nullable = nullable;
  return c;
}

class TRecord {
 public:
  explicit TRecord(const TVdbColumnDefs& cols) : FCols(cols), Bytes(static_cast<std::size_t>(cols.GetRecordSize()), 0) {}
  TVdbDataValue Field(int col) {
    const TVdbColumnDef& c = FCols.GetColumnDef(col);
    TVdbDataValue v;
    c.DataType()->SetReference(v, Bytes, static_cast<std::size_t>(c.Position()));
    return v;
  }
  const TVdbDataType& Type(int col) const { return *FCols.GetColumnDef(col).DataType(); }
  TRecord& Text(int col, std::u16string_view s) {
    auto v = Field(col);
    Type(col).SetWideString(v, s);
    return *this;
  }
  TRecord& Int(int col, std::int64_t i) {
    auto v = Field(col);
    Type(col).SetInteger(v, i);
    return *this;
  }
  TRecord& Null(int col) {
    auto v = Field(col);
    Type(col).SetNull(v);
    return *this;
  }
  std::u16string GetText(int col) {
    auto v = Field(col);
    return Type(col).GetWideString(v);
  }
  std::int64_t GetInt(int col) {
    auto v = Field(col);
    return Type(col).GetInteger(v);
  }
  bool IsNull(int col) {
    auto v = Field(col);
    return Type(col).IsNull(v);
  }

 private:
  const TVdbColumnDefs& FCols;

 public:
  std::vector<std::uint8_t> Bytes;
};

TVdbIndexKeys Keys(const TVdbColumnDefs& cols, int level, std::u16string_view specification) {
  const TVdbSortDef def = TVdbSortDef::FromSpecification(specification, cols, level);
  return TVdbIndexKeys(VdbKeyDescOf(def, cols, level, u"ix"), u"ix", cols.GetRecordSize());
}

// A definition whose first item keeps only `keyLength` bytes of its text field, as old index
// files may define it.
TVdbIndexKeys ShortenedKeys(const TVdbColumnDefs& cols, int level, std::uint16_t keyLength) {
  TVdbSortDef def = TVdbSortDef::FromSpecification(u"NAME", cols, level);
  def.Items[0].KeyLength = keyLength;
  def.IsVarSize = false;
  def.FSize = 4 + keyLength;
  return TVdbIndexKeys(VdbKeyDescOf(def, cols, level, u"ix"), u"ix", cols.GetRecordSize());
}

TEST(VdbIndexKeysTest, ShortenedTextPartKeepsItsPrefixAtEveryLevel) {
  for (int level : {3, 5, 6}) {
    SCOPED_TRACE(level);
    const bool nullable = level >= 4;
    const TVdbColumnDefs cols = Columns(level, {Col(u"NAME", vctString, 20, nullable)});
    // Room for 6 characters: 1 length byte, 6 characters, and the null byte where there is one.
    TVdbIndexKeys keys = ShortenedKeys(cols, level, static_cast<std::uint16_t>(nullable ? 8 : 7));
    TRecord a(cols), b(cols), c(cols);
    a.Text(0, u"Budapest");
    b.Text(0, u"Budapesti");
    c.Text(0, u"Budakeszi");
    std::vector<std::uint8_t> ka, kb, kc;
    keys.BuildEntry(a.Bytes, 1, ka);
    keys.BuildEntry(b.Bytes, 2, kb);
    keys.BuildEntry(c.Bytes, 3, kc);
    EXPECT_EQ(ka.size(), static_cast<std::size_t>(4 + (nullable ? 8 : 7)));
    EXPECT_TRUE(keys.IsSameKey(ka, kb));  // both "Budape"
    EXPECT_FALSE(keys.IsSameEntry(ka, kb));
    EXPECT_FALSE(keys.IsSameKey(ka, kc));
    EXPECT_GT(keys.Order().Compare(ka, kc), 0);
    TRecord back(cols);
    keys.KeyToRecord(ka, back.Bytes);
    EXPECT_EQ(back.GetText(0), u"Budape");
    if (nullable) {
      EXPECT_FALSE(back.IsNull(0));
      TRecord n(cols);
      n.Null(0);
      std::vector<std::uint8_t> kn;
      keys.BuildEntry(n.Bytes, 4, kn);
      EXPECT_LT(keys.Order().Compare(kn, kc), 0);  // null sorts first
      TRecord nb(cols);
      nb.Text(0, u"x");
      keys.KeyToRecord(kn, nb.Bytes);
      EXPECT_TRUE(nb.IsNull(0));
    }
  }
}

TEST(VdbIndexKeysTest, VariableSizeKeysAndNullsRoundTrip) {
  const TVdbColumnDefs cols = Columns(6, {Col(u"NAME", vctString, 40, true), Col(u"N", vctInteger, 0, true)});
  TVdbIndexKeys keys = Keys(cols, 6, u"NAME, N");
  ASSERT_TRUE(keys.Desc().VarSize);
  TRecord r(cols);
  r.Text(0, u"Őr").Int(1, 42);
  std::vector<std::uint8_t> entry;
  keys.BuildEntry(r.Bytes, 9, entry);
  EXPECT_LT(entry.size(), static_cast<std::size_t>(keys.EntrySize()));  // only the used bytes
  TRecord back(cols);
  keys.KeyToRecord(entry, back.Bytes);
  EXPECT_EQ(back.GetText(0), u"Őr");
  EXPECT_EQ(back.GetInt(1), 42);
  r.Null(0).Null(1);
  keys.BuildEntry(r.Bytes, 9, entry);
  keys.KeyToRecord(entry, back.Bytes);
  EXPECT_TRUE(back.IsNull(0));
  EXPECT_TRUE(back.IsNull(1));
}

TEST(VdbIndexKeysTest, PartialKeysCompleteIntoBoundsByDirection) {
  // (NAME, -AGE): the lower bound of "A" takes the largest AGE (a descending item), the upper
  // bound the smallest.
  const TVdbColumnDefs cols = Columns(6, {Col(u"NAME", vctString, 20), Col(u"AGE", vctInteger)});
  TVdbIndexKeys keys = Keys(cols, 6, u"NAME, -AGE");
  TRecord r(cols);
  r.Text(0, u"A").Int(1, 30);
  std::vector<std::uint8_t> lower, upper;
  keys.BuildEntry(r.Bytes, kVdbLowerBoundRecNo, lower);
  keys.BuildEntry(r.Bytes, kVdbUpperBoundRecNo, upper);
  keys.Complete(lower, 1, false);
  keys.Complete(upper, 1, true);
  EXPECT_EQ(VdbEntryRecNo(lower), kVdbLowerBoundRecNo);
  EXPECT_EQ(VdbEntryRecNo(upper), kVdbUpperBoundRecNo);
  TRecord lb(cols), ub(cols);
  keys.KeyToRecord(lower, lb.Bytes);
  keys.KeyToRecord(upper, ub.Bytes);
  EXPECT_EQ(lb.GetText(0), u"A");
  EXPECT_EQ(lb.GetInt(1), 2147483647);
  EXPECT_EQ(ub.GetText(0), u"A");
  EXPECT_EQ(ub.GetInt(1), -2147483647 - 1);
  // Every record named A lies inside, whatever its age; B and the empty name do not.
  for (std::int64_t age : {-5, 0, 30, 2147483647}) {
    TRecord t(cols);
    t.Text(0, u"A").Int(1, age);
    std::vector<std::uint8_t> e;
    keys.BuildEntry(t.Bytes, 77, e);
    EXPECT_EQ(keys.TestRange(lower, upper, e), 0) << age;
  }
  for (std::u16string name : {u"B", u"", u"Á"}) {
    TRecord t(cols);
    t.Text(0, name).Int(1, 1);
    std::vector<std::uint8_t> e;
    keys.BuildEntry(t.Bytes, 77, e);
    EXPECT_EQ(keys.TestRange(lower, upper, e), 1) << VdbUtf16ToUtf8(name);
  }
  // Completing nothing (all items given) changes nothing.
  std::vector<std::uint8_t> same = lower;
  keys.Complete(same, 2, true);
  EXPECT_EQ(same, lower);
}

TEST(VdbIndexKeysTest, KeysFromTextFillMissingItemsByBoundDirection) {
  const TVdbColumnDefs cols = Columns(6, {Col(u"NAME", vctString, 20), Col(u"AGE", vctInteger)});
  TVdbIndexKeys keys = Keys(cols, 6, u"NAME, -AGE");
  struct TCase {
    std::vector<std::u16string> Parts;
    std::int32_t RecNo;
    std::int64_t Age;
  };
  const std::vector<TCase> cases = {
      {{u"A"}, kVdbLowerBoundRecNo, 2147483647},        // descending item of a lower bound
      {{u"A"}, kVdbUpperBoundRecNo, -2147483647 - 1},   // descending item of an upper bound
      {{u"A"}, 0, -2147483647 - 1},                     // a search key takes the smallest
      {{u"A", u"42"}, kVdbLowerBoundRecNo, 42},
  };
  for (const auto& c : cases) {
    std::vector<std::uint8_t> entry;
    keys.FromText(c.Parts, c.RecNo, entry);
    EXPECT_EQ(VdbEntryRecNo(entry), c.RecNo);
    TRecord r(cols);
    keys.KeyToRecord(entry, r.Bytes);
    EXPECT_EQ(r.GetText(0), u"A");
    EXPECT_EQ(r.GetInt(1), c.Age) << c.Parts.size() << " " << c.RecNo;
  }
  std::vector<std::uint8_t> entry;
  EXPECT_THROW(keys.FromText({u"A", u"forty"}, 1, entry), EVdbEngine);
}

TEST(VdbIndexKeysTest, CompletedTextItemsBracketEveryText) {
  // A range over the first item only: the second (text) item is completed with the smallest
  // and the largest text, which must bracket every name under the Hungarian collation,
  // including those after "z" such as "zs" and the accented letters.
  for (bool nullable : {false, true}) {
    for (TVdbColumnType type : {vctString, vctWideString}) {
      SCOPED_TRACE(std::to_string(type) + (nullable ? " nullable" : ""));
      const TVdbColumnDefs cols = Columns(6, {Col(u"K", vctInteger), Col(u"NAME", type, 12, nullable)});
      TVdbIndexKeys keys = Keys(cols, 6, u"K, NAME");
      TRecord r(cols);
      r.Int(0, 5);
      std::vector<std::uint8_t> lower, upper;
      keys.BuildEntry(r.Bytes, kVdbLowerBoundRecNo, lower);
      keys.BuildEntry(r.Bytes, kVdbUpperBoundRecNo, upper);
      keys.Complete(lower, 1, false);
      keys.Complete(upper, 1, true);
      for (std::u16string name : {u"", u"a", u"Zsámbék", u"zsz", u"Zsűr", u"űű", u"ŰŰŰŰŰŰŰŰŰŰŰŰ", u"zzzzzzzzzzzz",
                                  u"ÿÿÿÿÿÿÿÿÿÿÿÿ", u"zszszszszszs", u"~~~~"}) {
        TRecord t(cols);
        t.Int(0, 5).Text(1, name);
        std::vector<std::uint8_t> e;
        keys.BuildEntry(t.Bytes, 3, e);
        EXPECT_EQ(keys.TestRange(lower, upper, e), 0) << VdbUtf16ToUtf8(name);
      }
      TRecord out(cols);
      out.Int(0, 6).Text(1, u"");
      std::vector<std::uint8_t> e;
      keys.BuildEntry(out.Bytes, 3, e);
      EXPECT_EQ(keys.TestRange(lower, upper, e), 1);
    }
  }
}

TEST(VdbIndexKeysTest, LeadingEqualItems) {
  const TVdbColumnDefs cols = Columns(6, {Col(u"A", vctInteger), Col(u"B", vctString, 10), Col(u"C", vctSmallInt)});
  TVdbIndexKeys keys = Keys(cols, 6, u"A, B, C");
  auto entry = [&](std::int64_t a, std::u16string_view b, std::int64_t c) {
    TRecord r(cols);
    r.Int(0, a).Text(1, b).Int(2, c);
    std::vector<std::uint8_t> e;
    keys.BuildEntry(r.Bytes, 1, e);
    return e;
  };
  EXPECT_EQ(keys.LeadingEqualItems(entry(1, u"x", 1), entry(1, u"x", 1)), 3);
  EXPECT_EQ(keys.LeadingEqualItems(entry(1, u"x", 1), entry(1, u"x", 2)), 2);
  EXPECT_EQ(keys.LeadingEqualItems(entry(1, u"X", 1), entry(1, u"x", 2)), 2);  // case-insensitive collation
  EXPECT_EQ(keys.LeadingEqualItems(entry(1, u"x", 1), entry(1, u"y", 1)), 1);
  EXPECT_EQ(keys.LeadingEqualItems(entry(1, u"x", 1), entry(2, u"x", 1)), 0);
}

TEST(VdbIndexKeysTest, DefinitionsThatDoNotFitTheTable) {
  const TVdbColumnDefs cols = Columns(6, {Col(u"A", vctInteger), Col(u"B", vctString, 10)});
  TVdbSortDef def = TVdbSortDef::FromSpecification(u"A", cols, 6);
  auto code = [&](const TVdbSortDef& d) {
    try {
      VdbKeyDescOf(d, cols, 6, u"ix");
    } catch (const EVdbEngine& e) {
      return static_cast<int>(e.Code());
    }
    return 0;
  };
  EXPECT_EQ(code(def), 0);
  TVdbSortDef wrongType = def;
  wrongType.Items[0].ColumnType = vctSmallInt;
  EXPECT_EQ(code(wrongType), errInconsistentIndexDefinition);
  TVdbSortDef noColumn = def;
  noColumn.Items[0].ColumnNo = 3;
  EXPECT_EQ(code(noColumn), errInconsistentIndexDefinition);
  TVdbSortDef tooLong = TVdbSortDef::FromSpecification(u"B", cols, 6);
  tooLong.Items[0].KeyLength = 200;
  EXPECT_EQ(code(tooLong), errInconsistentIndexDefinition);
  TVdbSortDef expression;
  expression.IsCalculated = true;
  EXPECT_EQ(code(expression), errNotSupported);
  // The stored form and back.
  const TVdbSortDef twoParts = TVdbSortDef::FromSpecification(u"-B, A", cols, 6);
  const TVdbSortDef back = VdbSortDefOf(VdbFileDefinitionOf(twoParts), cols, 6, u"ix");
  EXPECT_EQ(back.Items, twoParts.Items);
  EXPECT_EQ(back.IsVarSize, twoParts.IsVarSize);
  EXPECT_EQ(back.FSize, twoParts.FSize);
}

}  // namespace
}  // namespace vdb
