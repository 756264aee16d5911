// Integrity rules through the call interface: a child table created with a rule over an open
// parent reports the rule back, refuses a record without parent row and loses its records
// with the parent's under a cascade rule.
#include <gtest/gtest.h>

#include <cstring>

#include "VdbApiTestSupport.h"

namespace vdbapi_test {
namespace {

template <std::size_t N>
void Put(VdbChar (&to)[N], std::u16string_view text) {
  std::copy(text.begin(), text.end(), to);
}

class ApiIntegrityRulesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Sess = OpenSession(EmptyDatabaseDir("integrity"));
    ASSERT_EQ(CreateTable(u"Megye", u"CODE", nullptr), 0) << vdb::VdbUtf16ToUtf8(LastError(Sess).Msg);
  }
  void TearDown() override { EXPECT_EQ(VdbSessDelete(Sess), 0); }

  // A table of NAME (string 20, the primary key for "Varos") and CODE (integer), with `rule`.
  int16_t CreateTable(const char16_t* name, const char16_t* key, const TVdbIntegrityRuleSpec* rule) {
    const TVdbFieldSpec fields[] = {FieldSpec(1, u"NAME", VDB_TYPE_STRING, 20), FieldSpec(2, u"CODE", VDB_TYPE_INTEGER)};
    TVdbKeySpec pk{};
    pk.IsPrimaryKey = true;
    Put(pk.Name, u"PK");
    Put(pk.Fields, key);
    TVdbTableInfo info{};
    Put(info.FileName, name);
    return VdbSessCreateTable(Sess, &info, W(u""), 2, fields, 1, &pk, 0, nullptr, rule ? 1 : 0, rule);
  }
  int16_t OpenCursor(const char16_t* name) {
    const int16_t rltn = VdbSessOpenTable(Sess, W(name), W(u""), VDB_RIGHTS_WRITE, false, false);
    EXPECT_GT(rltn, 0) << vdb::VdbUtf16ToUtf8(LastError(Sess).Msg);
    return VdbTableCreate(rltn, W(name));
  }
  // Appends (name, code) through the cursor; the confirmation's result.
  static int16_t Add(int16_t table, const std::string& name, int32_t code) {
    TVdbFieldSpec nameSpec{}, codeSpec{};
    EXPECT_EQ(VdbTableGetFieldSpec(table, 1, &nameSpec), 0);
    EXPECT_EQ(VdbTableGetFieldSpec(table, 2, &codeSpec), 0);
    std::vector<uint8_t> record(static_cast<std::size_t>(VdbTableGetRecordSize(table)), 0);
    EXPECT_EQ(VdbTableAppend(table), 0);
    EXPECT_EQ(VdbTableGetRecord(table, record.data(), static_cast<int32_t>(record.size())), 0);
    SetAnsiField(record, nameSpec, name);
    uint8_t* field = record.data() + codeSpec.InternalPosition;
    if (codeSpec.InternalSize == 5) *field++ = 1;
    std::memcpy(field, &code, sizeof code);
    EXPECT_EQ(VdbTableSetRecord(table, record.data(), static_cast<int32_t>(record.size())), 0);
    const int16_t r = VdbTableAppendConfirm(table);
    if (r < 0) {
      EXPECT_EQ(VdbTableAppendCancel(table), 0);
    }
    return r;
  }

  int16_t Sess = 0;
};

TEST_F(ApiIntegrityRulesTest, AChildTableKeepsItsRuleAgainstTheParent) {
  TVdbIntegrityRuleSpec rule{};
  Put(rule.Name, u"VAROS_MEGYE");
  Put(rule.MasterTable, u"Megye");
  Put(rule.MasterIndexSpec, u"CODE");
  Put(rule.IndexSpec, u"CODE");
  rule.DeleteAction = 3;
  EXPECT_EQ(CreateTable(u"Varos", u"NAME", &rule), VDB_ERR_CREATE_TABLE) << "the parent must be open";
  EXPECT_EQ(LastError(Sess).Code, -88);

  const int16_t counties = OpenCursor(u"Megye");
  ASSERT_GT(counties, 0);
  ASSERT_EQ(CreateTable(u"Varos", u"NAME", &rule), 0) << vdb::VdbUtf16ToUtf8(LastError(Sess).Msg);
  const int16_t towns = OpenCursor(u"Varos");
  ASSERT_GT(towns, 0);
  const int16_t townsRltn = VdbSessFindRltnHdl(Sess, W(u"Varos"));
  ASSERT_EQ(VdbRltnGetIntegrityRuleCount(townsRltn), 1);
  TVdbIntegrityRuleSpec back{};
  ASSERT_EQ(VdbRltnGetIntegrityRuleSpec(townsRltn, 1, &back), 0);
  EXPECT_EQ(FromBuffer(std::vector<VdbChar>(back.Name, back.Name + VDB_NAME_CHARS)), u"VAROS_MEGYE");
  EXPECT_EQ(FromBuffer(std::vector<VdbChar>(back.MasterTable, back.MasterTable + VDB_LONG_NAME_CHARS)), u"Megye");
  EXPECT_EQ(back.DeleteAction, 3);

  ASSERT_EQ(Add(counties, "Baranya", 2), 0) << vdb::VdbUtf16ToUtf8(LastError(Sess).Msg);
  EXPECT_EQ(Add(towns, "Pecs", 2), 0) << vdb::VdbUtf16ToUtf8(LastError(Sess).Msg);
  EXPECT_EQ(Add(towns, "Mohacs", 2), 0);
  EXPECT_LT(Add(towns, "Sehol", 9), 0);
  EXPECT_EQ(LastError(Sess).Code, -179);
  EXPECT_EQ(VdbTableGetRecordCount(towns), 2);

  ASSERT_GE(VdbTableFirst(counties), 0);
  ASSERT_EQ(VdbTableDeleteRecord(counties), 0) << vdb::VdbUtf16ToUtf8(LastError(Sess).Msg);
  EXPECT_EQ(VdbTableGetRecordCount(counties), 0);
  EXPECT_EQ(VdbTableGetRecordCount(towns), 0) << "the cascade took the towns";
}

}  // namespace
}  // namespace vdbapi_test
