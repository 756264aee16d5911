// The table dataset over the settlement database: opening, order, key searches, the edit
// cycle, deletes seen from another cursor, emptying and the memo note.
#include <gtest/gtest.h>

#include "DataSetTestSupport.h"
#include "VdbDataSet.h"

namespace {

using namespace vdbds;

class SettlementTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Database.SetName(u"VdbDatabase1");
    Database.SetLocation(dstest::SettlementDatabase().u16string());
    Table.Name = u"Table1";
    Table.SetDatabaseName(u"VdbDatabase1");
    Table.SetTableName(u"Irsz");
    Table.SetIndexName(u"TELEP");
  }
  std::u16string Telep() { return Table.FieldByName(u"TELEP").AsString(); }

  TVdbDatabase Database;
  TVdbTable Table;
};

TEST_F(SettlementTableTest, OpensInNameOrder) {
  Table.Open();
  EXPECT_EQ(Table.RecordCount(), 3155);
  EXPECT_EQ(Telep(), u"Aba");
  Table.Next();
  EXPECT_EQ(Telep(), u"Abádszalók");
  Table.Last();
  EXPECT_FALSE(Telep().empty());
}

}  // namespace
