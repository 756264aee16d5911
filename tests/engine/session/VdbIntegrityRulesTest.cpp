// Referential integrity between tables of one catalog: a county table ("Megye", primary key
// REGION, CODE) and a town table ("Varos") whose foreign key lists the parent's columns in the
// other order (C_CODE → CODE, C_REGION → REGION), so that keys must be built in the parent
// index's order. Child checks on append and replace, restrict and cascade rules on the
// parent's delete and key update, rules the engine does not carry out, a parent that is not
// open, creation and setup of a child, and a cascade rolled back with its transaction.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "../tables/WriteTestSupport.h"
#include "session/VdbCatalog.h"
#include "base/VdbErrorCodes.h"
#include "sql/VdbSqlCompiler.h"

namespace vdb {
namespace {

enum TParentCol { pcRegion, pcCode, pcName };
enum TChildCol { ccName, ccCode, ccRegion };

constexpr const char16_t* kRule = u"VAROS_MEGYE";

struct TKey {
  std::optional<std::int64_t> Code;
  std::optional<std::u16string> Region;
};

class IntegrityRulesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TVdbNewTable parent;
    parent.Path = u"/db/Megye";
    parent.Capacity = 100;
    parent.Columns = {test::Column(u"REGION", vctString, 10), test::Column(u"CODE", vctInteger),
                      test::Column(u"NAME", vctString, 20)};
    parent.KeyDefs.Add(std::make_unique<TVdbCandidateKeyDef>(u"", true, std::vector<std::u16string>{u"REGION", u"CODE"}));
    ASSERT_EQ(World.NewTableObject()->NewTable(parent), 0) << VdbUtf16ToUtf8(World.LastError.Msg());
    Catalog.SetLocation(u"/db/");
    ASSERT_EQ(Catalog.Open(World.Fs), 0);
    ParentSlot = Catalog.OpenTable(u"Megye", u"", 0x000F);
    ASSERT_GT(ParentSlot, 0) << VdbUtf16ToUtf8(World.LastError.Msg());
    Parent = dynamic_cast<TVdbBaseTable*>(Catalog.GetRelation(ParentSlot));
    for (const auto& [region, code, name] : {std::tuple{u"A", 1, u"Baranya"}, std::tuple{u"A", 2, u"Somogy"},
                                             std::tuple{u"B", 1, u"Pest"}}) {
      ASSERT_GT(AppendParent(region, code, name), 0) << VdbUtf16ToUtf8(World.LastError.Msg());
    }
  }
  void TearDown() override { EXPECT_EQ(Catalog.Close(), 0); }

  static TVdbNewTable ChildDefinition(TVdbReferentialAction update, TVdbReferentialAction del) {
    TVdbNewTable child;
    child.Path = u"/db/Varos";
    child.Capacity = 100;
    child.Columns = {test::Column(u"NAME", vctString, 20), test::Column(u"C_CODE", vctInteger, 0, true),
                     test::Column(u"C_REGION", vctString, 10, true)};
    auto fk = std::make_unique<TVdbForeignKeyDef>(kRule);
    fk->ColumnNames = {u"C_CODE", u"C_REGION"};
    fk->ParentTableName = u"Megye";
    fk->ParentColumnNames = {u"CODE", u"REGION"};
    fk->UpdateAction = update;
    fk->DeleteAction = del;
    child.ForeignKeyDefs.Add(std::move(fk));
    child.KeyDefs.Add(std::make_unique<TVdbCandidateKeyDef>(u"", true, std::vector<std::u16string>{u"NAME"}));
    return child;
  }

  // Creates the town table for this catalog and opens it; fails the test otherwise.
  void OpenChild(TVdbReferentialAction update, TVdbReferentialAction del) {
    auto creator = World.NewTableObject();
    creator->SetIntegrityRules(&Catalog.IntegrityRules());
    ASSERT_EQ(creator->NewTable(ChildDefinition(update, del)), 0) << VdbUtf16ToUtf8(World.LastError.Msg());
    ChildSlot = Catalog.OpenTable(u"Varos", u"", 0x000F);
    ASSERT_GT(ChildSlot, 0) << VdbUtf16ToUtf8(World.LastError.Msg());
    Child = dynamic_cast<TVdbBaseTable*>(Catalog.GetRelation(ChildSlot));
  }

  std::vector<std::uint8_t> ParentRecord(std::u16string_view region, std::int64_t code, std::u16string_view name) const {
    std::vector<std::uint8_t> r(static_cast<std::size_t>(Parent->GetRecordSize()), 0);
    test::SetText(*Parent, r, pcRegion, region);
    test::SetInt(*Parent, r, pcCode, code);
    test::SetText(*Parent, r, pcName, name);
    return r;
  }
  std::int32_t AppendParent(std::u16string_view region, std::int64_t code, std::u16string_view name) {
    std::vector<std::uint8_t> r = ParentRecord(region, code, name);
    return Parent->AppendRecord(r, {});
  }
  std::vector<std::uint8_t> ChildRecord(std::u16string_view name, const TKey& key) const {
    std::vector<std::uint8_t> r(static_cast<std::size_t>(Child->GetRecordSize()), 0);
    test::SetText(*Child, r, ccName, name);
    if (key.Code) {
      test::SetInt(*Child, r, ccCode, *key.Code);
    } else {
      test::SetNullField(*Child, r, ccCode);
    }
    if (key.Region) {
      test::SetText(*Child, r, ccRegion, *key.Region);
    } else {
      test::SetNullField(*Child, r, ccRegion);
    }
    return r;
  }
  std::int32_t AppendChild(std::u16string_view name, const TKey& key) {
    std::vector<std::uint8_t> r = ChildRecord(name, key);
    return Child->AppendRecord(r, {});
  }
  void AppendChildren() {
    for (const auto& [name, code, region] : {std::tuple{u"Pecs", 1, u"A"}, std::tuple{u"Mohacs", 1, u"A"},
                                             std::tuple{u"Siklos", 1, u"A"}, std::tuple{u"Kaposvar", 2, u"A"},
                                             std::tuple{u"Vac", 1, u"B"}}) {
      ASSERT_GT(AppendChild(name, {code, region}), 0) << VdbUtf16ToUtf8(World.LastError.Msg());
    }
  }

  static std::vector<std::uint8_t> Read(TVdbBaseTable& t, std::int32_t recNo) {
    std::vector<std::uint8_t> r(static_cast<std::size_t>(t.GetRecordSize()), 0);
    EXPECT_EQ(t.ReadRecord(recNo, r), 0);
    return r;
  }
  // The record number of the county (region, code); 0 when none.
  std::int32_t FindParent(std::u16string_view region, std::int64_t code) {
    for (std::int32_t n = 1; n <= Parent->GetRecordCount(); ++n) {
      std::vector<std::uint8_t> r = Read(*Parent, n);
      if (test::GetText(*Parent, r, pcRegion) == region && test::GetInt(*Parent, r, pcCode) == code) return n;
    }
    return 0;
  }
  // "region/code name" of every county, sorted.
  std::vector<std::string> Counties() {
    std::vector<std::string> rows;
    for (std::int32_t n = 1; n <= Parent->GetRecordCount(); ++n) {
      std::vector<std::uint8_t> r = Read(*Parent, n);
      rows.push_back(VdbUtf16ToUtf8(test::GetText(*Parent, r, pcRegion)) + "/" +
                     std::to_string(test::GetInt(*Parent, r, pcCode)) + " " +
                     VdbUtf16ToUtf8(test::GetText(*Parent, r, pcName)));
    }
    std::sort(rows.begin(), rows.end());
    return rows;
  }
  // "name region/code" of every town (null parts as "-"), sorted.
  std::vector<std::string> Towns() {
    std::vector<std::string> rows;
    for (std::int32_t n = 1; n <= Child->GetRecordCount(); ++n) {
      std::vector<std::uint8_t> r = Read(*Child, n);
      const std::string region =
          test::IsNullField(*Child, r, ccRegion) ? "-" : VdbUtf16ToUtf8(test::GetText(*Child, r, ccRegion));
      const std::string code =
          test::IsNullField(*Child, r, ccCode) ? "-" : std::to_string(test::GetInt(*Child, r, ccCode));
      rows.push_back(VdbUtf16ToUtf8(test::GetText(*Child, r, ccName)) + " " + region + "/" + code);
    }
    std::sort(rows.begin(), rows.end());
    return rows;
  }
  void ExpectClean() {
    EXPECT_EQ(test::Problems(Parent->VerifyTable()), "");
    EXPECT_EQ(test::Problems(Child->VerifyTable()), "");
  }
  std::string Message() const { return VdbUtf16ToUtf8(World.LastError.Msg()); }

  test::TTableWorld World;
  TVdbCatalog Catalog{World.PageManager, World.LastError, TvuServices{World.Clock, World.Sleeper, World.Random}, 2,
                      &VdbSqlCompiler()};
  TVdbRltnIdx ParentSlot = 0, ChildSlot = 0;
  TVdbBaseTable* Parent = nullptr;
  TVdbBaseTable* Child = nullptr;
};

const std::vector<std::string> kAllTowns = {"Kaposvar A/2", "Mohacs A/1", "Pecs A/1", "Siklos A/1", "Vac B/1"};
const std::vector<std::string> kAllCounties = {"A/1 Baranya", "A/2 Somogy", "B/1 Pest"};

// ---- child side

TEST_F(IntegrityRulesTest, AChildIsStoredOnlyWhenItsWholeKeyFindsAParentRow) {
  ASSERT_NO_FATAL_FAILURE(OpenChild(traNone, traNone));
  struct TCase {
    const char* What;
    TKey Key;
    std::int32_t Result;  // record number, or the negated code
  };
  const TCase cases[] = {
      {"parent A/1", {1, u"A"}, 1},
      {"parent B/1", {1, u"B"}, 2},
      {"code of A, region of B: no such pair", {2, u"B"}, -errParentRowMissing},
      {"no parent at all", {9, u"C"}, -errParentRowMissing},
      {"all foreign-key columns null: no parent needed", {std::nullopt, std::nullopt}, 3},
      {"one column null: the key is not complete", {1, std::nullopt}, -errParentRowMissing},
  };
  for (const TCase& c : cases) {
    const std::int32_t count = Child->GetRecordCount();
    EXPECT_EQ(AppendChild(u"T" + VdbUtf8ToUtf16(std::to_string(count + 1)), c.Key), c.Result) << c.What;
    if (c.Result < 0) {
      EXPECT_EQ(Child->GetRecordCount(), count) << c.What;
      EXPECT_NE(World.LastError.Msg().find(kRule), std::u16string::npos) << Message();
    }
  }
  EXPECT_EQ(test::Problems(Child->VerifyTable()), "") << "a refused append leaves no index entries";
}

TEST_F(IntegrityRulesTest, AChildMovedToAMissingParentIsRefusedAndKeepsItsRecord) {
  ASSERT_NO_FATAL_FAILURE(OpenChild(traNone, traNone));
  ASSERT_NO_FATAL_FAILURE(AppendChildren());
  const std::vector<std::uint8_t> before = Read(*Child, 1);
  std::vector<std::uint8_t> after = ChildRecord(u"Pecs", {3, u"A"});
  EXPECT_EQ(Child->ReplaceRecord(after, before, {}, 1), -errParentRowMissing);
  EXPECT_EQ(Read(*Child, 1), before);
  after = ChildRecord(u"Pecs", {2, u"A"});
  EXPECT_EQ(Child->ReplaceRecord(after, before, {}, 1), 0) << Message();
  ExpectClean();
}

TEST_F(IntegrityRulesTest, AChildWhoseParentIsNotOpenGetsTheOpenError) {
  ASSERT_NO_FATAL_FAILURE(OpenChild(traNone, traNone));
  ASSERT_EQ(Catalog.CloseRelation(ParentSlot), 0);
  EXPECT_EQ(AppendChild(u"Pecs", {1, u"A"}), -errParentTableNotFound);
  EXPECT_NE(World.LastError.Msg().find(u"Megye"), std::u16string::npos) << Message();
  EXPECT_EQ(Child->GetRecordCount(), 0);
}

// ---- parent side

TEST_F(IntegrityRulesTest, RestrictRulesRefuseToOrphanChildrenAndChangeNothing) {
  ASSERT_NO_FATAL_FAILURE(OpenChild(traNone, traNone));
  ASSERT_NO_FATAL_FAILURE(AppendChildren());
  const std::int32_t baranya = FindParent(u"A", 1);
  const std::vector<std::uint8_t> old = Read(*Parent, baranya);
  EXPECT_EQ(Parent->DeleteRecord(old, baranya), -errIntegrityViolated);
  EXPECT_NE(World.LastError.Msg().find(kRule), std::u16string::npos) << Message();
  std::vector<std::uint8_t> moved = ParentRecord(u"A", 7, u"Baranya");
  EXPECT_EQ(Parent->ReplaceRecord(moved, old, {}, baranya), -errIntegrityViolated);
  EXPECT_EQ(Counties(), kAllCounties);
  EXPECT_EQ(Towns(), kAllTowns);
  // A change that keeps the key, and a county without towns, are free.
  std::vector<std::uint8_t> renamed = ParentRecord(u"A", 1, u"Baranya megye");
  EXPECT_EQ(Parent->ReplaceRecord(renamed, old, {}, baranya), 0) << Message();
  ASSERT_GT(AppendParent(u"C", 5, u"Ures"), 0);
  const std::int32_t empty = FindParent(u"C", 5);
  EXPECT_EQ(Parent->DeleteRecord(Read(*Parent, empty), empty), 0) << Message();
  EXPECT_EQ(Towns(), kAllTowns);
  ExpectClean();
}

TEST_F(IntegrityRulesTest, CascadeDeleteRemovesEveryChildOfTheKeyAndTheirIndexEntries) {
  ASSERT_NO_FATAL_FAILURE(OpenChild(traNone, traCascade));
  ASSERT_NO_FATAL_FAILURE(AppendChildren());
  ASSERT_GT(AppendChild(u"Tanya", {std::nullopt, std::nullopt}), 0);
  const std::int32_t baranya = FindParent(u"A", 1);
  EXPECT_EQ(Parent->DeleteRecord(Read(*Parent, baranya), baranya), 0) << Message();
  EXPECT_EQ(Counties(), (std::vector<std::string>{"A/2 Somogy", "B/1 Pest"}));
  EXPECT_EQ(Towns(), (std::vector<std::string>{"Kaposvar A/2", "Tanya -/-", "Vac B/1"}));
  ExpectClean();
}

TEST_F(IntegrityRulesTest, CascadeUpdateMovesTheChildrenToTheNewKey) {
  ASSERT_NO_FATAL_FAILURE(OpenChild(traCascade, traNone));
  ASSERT_NO_FATAL_FAILURE(AppendChildren());
  const std::int32_t baranya = FindParent(u"A", 1);
  const std::vector<std::uint8_t> old = Read(*Parent, baranya);
  std::vector<std::uint8_t> moved = ParentRecord(u"D", 4, u"Baranya");
  EXPECT_EQ(Parent->ReplaceRecord(moved, old, {}, baranya), 0) << Message();
  EXPECT_EQ(Towns(), (std::vector<std::string>{"Kaposvar A/2", "Mohacs D/4", "Pecs D/4", "Siklos D/4", "Vac B/1"}));
  // The children now hold the new key: the restrict rule on delete sees them there.
  EXPECT_EQ(Parent->DeleteRecord(Read(*Parent, baranya), baranya), -errIntegrityViolated);
  ExpectClean();
}

TEST_F(IntegrityRulesTest, RulesTheEngineDoesNotCarryOutAreRefusedBeforeTheChange) {
  ASSERT_NO_FATAL_FAILURE(OpenChild(traSetNull, traSetDefault));
  ASSERT_NO_FATAL_FAILURE(AppendChildren());
  const std::int32_t baranya = FindParent(u"A", 1);
  const std::vector<std::uint8_t> old = Read(*Parent, baranya);
  EXPECT_EQ(Parent->DeleteRecord(old, baranya), -errUnknown);
  EXPECT_NE(World.LastError.Msg().find(kRule), std::u16string::npos) << Message();
  std::vector<std::uint8_t> moved = ParentRecord(u"A", 7, u"Baranya");
  EXPECT_EQ(Parent->ReplaceRecord(moved, old, {}, baranya), -errUnknown);
  EXPECT_EQ(Counties(), kAllCounties);
  EXPECT_EQ(Towns(), kAllTowns);
  // Without children there is nothing to carry out.
  ASSERT_GT(AppendParent(u"C", 5, u"Ures"), 0);
  const std::int32_t empty = FindParent(u"C", 5);
  EXPECT_EQ(Parent->DeleteRecord(Read(*Parent, empty), empty), 0) << Message();
}

TEST_F(IntegrityRulesTest, ACascadeRolledBackWithItsTransactionRestoresParentAndChildren) {
  ASSERT_NO_FATAL_FAILURE(OpenChild(traCascade, traCascade));
  ASSERT_NO_FATAL_FAILURE(AppendChildren());
  ASSERT_EQ(Catalog.BeginTransaction(), 0);
  const std::int32_t baranya = FindParent(u"A", 1);
  EXPECT_EQ(Parent->DeleteRecord(Read(*Parent, baranya), baranya), 0) << Message();
  const std::int32_t somogy = FindParent(u"A", 2);
  std::vector<std::uint8_t> moved = ParentRecord(u"E", 2, u"Somogy");
  EXPECT_EQ(Parent->ReplaceRecord(moved, Read(*Parent, somogy), {}, somogy), 0) << Message();
  EXPECT_EQ(Towns(), (std::vector<std::string>{"Kaposvar E/2", "Vac B/1"}));
  ASSERT_EQ(Catalog.EndTransaction(false), 0) << Message();
  EXPECT_EQ(Counties(), kAllCounties);
  EXPECT_EQ(Towns(), kAllTowns);
  ExpectClean();
}

TEST_F(IntegrityRulesTest, AFailedCascadeIsReportedAfterTheParentChangedAndRollsBackWithTheTransaction) {
  ASSERT_NO_FATAL_FAILURE(OpenChild(traNone, traCascade));
  ASSERT_NO_FATAL_FAILURE(AppendChildren());
  // Streets refer to towns under a restrict rule: the cascade cannot delete Mohacs.
  TVdbNewTable streets;
  streets.Path = u"/db/Utca";
  streets.Capacity = 100;
  streets.Columns = {test::Column(u"NAME", vctString, 20), test::Column(u"TOWN", vctString, 20, true)};
  auto fk = std::make_unique<TVdbForeignKeyDef>(u"UTCA_VAROS");
  fk->ColumnNames = {u"TOWN"};
  fk->ParentTableName = u"Varos";
  fk->ParentColumnNames = {u"NAME"};
  streets.ForeignKeyDefs.Add(std::move(fk));
  auto creator = World.NewTableObject();
  creator->SetIntegrityRules(&Catalog.IntegrityRules());
  ASSERT_EQ(creator->NewTable(streets), 0) << Message();
  const TVdbRltnIdx streetSlot = Catalog.OpenTable(u"Utca", u"", 0x000F);
  ASSERT_GT(streetSlot, 0) << Message();
  auto* street = dynamic_cast<TVdbBaseTable*>(Catalog.GetRelation(streetSlot));
  std::vector<std::uint8_t> row(static_cast<std::size_t>(street->GetRecordSize()), 0);
  test::SetText(*street, row, 0, u"Fo utca");
  test::SetText(*street, row, 1, u"Mohacs");
  ASSERT_EQ(street->AppendRecord(row, {}), 1) << Message();

  ASSERT_EQ(Catalog.BeginTransaction(), 0);
  const std::int32_t baranya = FindParent(u"A", 1);
  EXPECT_EQ(Parent->DeleteRecord(Read(*Parent, baranya), baranya), -errIntegrityViolated);
  EXPECT_NE(World.LastError.Msg().find(u"UTCA_VAROS"), std::u16string::npos) << Message();
  EXPECT_EQ(FindParent(u"A", 1), 0) << "the parent's change stays";
  const std::vector<std::string> left = Towns();
  EXPECT_NE(std::find(left.begin(), left.end(), "Mohacs A/1"), left.end()) << "the child that could not go stays";
  ASSERT_EQ(Catalog.EndTransaction(false), 0) << Message();
  EXPECT_EQ(Counties(), kAllCounties);
  EXPECT_EQ(Towns(), kAllTowns);
  ExpectClean();
  EXPECT_EQ(test::Problems(street->VerifyTable()), "");
}

// ---- creating and opening a child

TEST_F(IntegrityRulesTest, AChildIsCreatedOnlyOverAnOpenParentsUniqueKey) {
  struct TCase {
    const char* What;
    std::u16string ParentTable;
    std::vector<std::u16string> ParentColumns;
    std::int16_t Result;
  };
  const TCase cases[] = {
      {"parent not open", u"Nincs", {u"CODE", u"REGION"}, -errTableNotFound},
      {"no unique index over the columns", u"Megye", {u"CODE", u"NAME"}, -errNoSuitableIndex},
      {"part of the key only", u"Megye", {u"CODE"}, -errNoSuitableIndex},
      {"a date cannot be a region", u"Megye", {u"CODE", u"REGION"}, -errTypeMismatch},
  };
  for (const TCase& c : cases) {
    TVdbNewTable child = ChildDefinition(traNone, traNone);
    TVdbForeignKeyDef& fk = child.ForeignKeyDefs.GetNamedDef(0);
    fk.ParentTableName = c.ParentTable;
    fk.ParentColumnNames = c.ParentColumns;
    if (fk.ParentColumnNames.size() == 1) fk.ColumnNames = {u"C_CODE"};
    if (c.Result == -errTypeMismatch) child.Columns[ccRegion] = test::Column(u"C_REGION", vctDate, 0, true);
    auto creator = World.NewTableObject();
    creator->SetIntegrityRules(&Catalog.IntegrityRules());
    EXPECT_EQ(creator->NewTable(child), c.Result) << c.What;
    EXPECT_FALSE(World.Fs.FileExists(u"/db/Varos.vdbt")) << c.What;
  }
  // Without a catalog's rules no parent can be found.
  EXPECT_EQ(World.NewTableObject()->NewTable(ChildDefinition(traNone, traNone)), -errTableNotFound);
}

TEST_F(IntegrityRulesTest, OpeningAChildOpensItsParent) {
  ASSERT_NO_FATAL_FAILURE(OpenChild(traNone, traNone));
  ASSERT_EQ(Catalog.CloseRelation(ChildSlot), 0);
  ASSERT_EQ(Catalog.CloseRelation(ParentSlot), 0);
  ASSERT_EQ(Catalog.FindRltnIdx(u"Megye"), 0);
  ChildSlot = Catalog.OpenTable(u"Varos", u"", 0x000F);
  ASSERT_GT(ChildSlot, 0) << Message();
  ParentSlot = Catalog.FindRltnIdx(u"Megye");
  ASSERT_GT(ParentSlot, 0);
  Parent = dynamic_cast<TVdbBaseTable*>(Catalog.GetRelation(ParentSlot));
  Child = dynamic_cast<TVdbBaseTable*>(Catalog.GetRelation(ChildSlot));
  EXPECT_EQ(AppendChild(u"Pecs", {1, u"A"}), 1) << Message();
  EXPECT_EQ(AppendChild(u"Sehol", {5, u"A"}), -errParentRowMissing);
}

TEST_F(IntegrityRulesTest, ARollbackRestoresChildrenBeforeTheirParentWithoutCheckingThem) {
  ASSERT_NO_FATAL_FAILURE(OpenChild(traCascade, traCascade));
  ASSERT_NO_FATAL_FAILURE(AppendChildren());
  ASSERT_EQ(Catalog.CloseRelation(ChildSlot), 0);
  ASSERT_EQ(Catalog.CloseRelation(ParentSlot), 0);
  // Reopened through the child: the child's slot comes first, so the rollback replays the
  // children's log while their parent rows are still missing.
  ChildSlot = Catalog.OpenTable(u"Varos", u"", 0x000F);
  ASSERT_GT(ChildSlot, 0) << Message();
  ParentSlot = Catalog.FindRltnIdx(u"Megye");
  ASSERT_GT(ParentSlot, ChildSlot);
  Parent = dynamic_cast<TVdbBaseTable*>(Catalog.GetRelation(ParentSlot));
  Child = dynamic_cast<TVdbBaseTable*>(Catalog.GetRelation(ChildSlot));
  ASSERT_EQ(Catalog.BeginTransaction(), 0);
  for (const auto& [region, code] : {std::pair{u"A", 1}, std::pair{u"B", 1}}) {
    const std::int32_t n = FindParent(region, code);
    ASSERT_EQ(Parent->DeleteRecord(Read(*Parent, n), n), 0) << Message();
  }
  EXPECT_EQ(Towns(), (std::vector<std::string>{"Kaposvar A/2"}));
  ASSERT_EQ(Catalog.EndTransaction(false), 0) << Message();
  EXPECT_EQ(Counties(), kAllCounties);
  EXPECT_EQ(Towns(), kAllTowns);
  ExpectClean();
}

TEST_F(IntegrityRulesTest, AChildOutsideACatalogIsNeverWrittenUnchecked) {
  ASSERT_NO_FATAL_FAILURE(OpenChild(traNone, traNone));
  ASSERT_EQ(Catalog.CloseRelation(ChildSlot), 0);
  Child = nullptr;
  auto alone = World.NewTableObject();
  alone->SetRights(0x000F);
  alone->SetFileName(u"/db/Varos.vdbt");
  ASSERT_EQ(alone->Open(false), 0);
  EXPECT_EQ(alone->Setup(false), -errParentTableNotFound);
  ASSERT_EQ(alone->Setup(true), 0) << Message();
  Child = alone.get();
  EXPECT_EQ(AppendChild(u"Pecs", {1, u"A"}), -errNotSupported);
  EXPECT_EQ(alone->GetRecordCount(), 0);
  Child = nullptr;
  EXPECT_EQ(alone->Close(), 0);
}

}  // namespace
}  // namespace vdb
