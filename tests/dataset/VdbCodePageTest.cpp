// The dataset and the engine read 8-bit text in one code page: the dataset takes it from the
// engine for every column. For every language the engine maps to a code page other than the
// built-in one (and two that fall back to it), a table under that collation is written
// through the dataset and searched by the engine: if the two disagreed, the text the dataset
// stored would not be the text the engine finds.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "DataSetTestSupport.h"
#include "VdbTable.h"
#include "vidoradb/vdbapi.h"

namespace {

using namespace vdbds;

using dstest::Put;

const VdbChar* W(const std::u16string& text) { return reinterpret_cast<const VdbChar*>(text.c_str()); }

// A text each code page holds and the built-in one (1252) does not, except 1252's own.
std::u16string SampleOf(int codePage) {
  switch (codePage) {
    case 1250: return u"Árvíztűrő";
    case 1251: return u"Жёлтый";
    case 1253: return u"Ωμέγα";
    case 1254: return u"Iğdır şişe";
    case 1255: return u"שלום";
    case 1256: return u"سلام";
    case 1257: return u"Ąžuolas";
    case 1258: return u"Phương";
    default: return u"Æble Øre";
  }
}

struct TCase {
  const char16_t* Collation;
  int CodePage;
};

// Every language of the engine's table, by the English name a collation is given by.
constexpr TCase kCases[] = {
    {u"Hungarian", 1250},  {u"Polish", 1250},      {u"Czech", 1250},      {u"Slovak", 1250},
    {u"Slovenian", 1250},  {u"Croatian", 1250},    {u"Romanian", 1250},   {u"Albanian", 1250},
    {u"Bosnian", 1250},    {u"Russian", 1251},     {u"Ukrainian", 1251},  {u"Belarusian", 1251},
    {u"Bulgarian", 1251},  {u"Macedonian", 1251},  {u"Serbian", 1251},    {u"Kazakh", 1251},
    {u"Kyrgyz", 1251},     {u"Mongolian", 1251},   {u"Tatar", 1251},      {u"Greek", 1253},
    {u"Turkish", 1254},    {u"Azerbaijani", 1254}, {u"Uzbek", 1254},      {u"Hebrew", 1255},
    {u"Yiddish", 1255},    {u"Arabic", 1256},      {u"Persian", 1256},    {u"Urdu", 1256},
    {u"Estonian", 1257},   {u"Latvian", 1257},     {u"Lithuanian", 1257}, {u"Vietnamese", 1258},
    {u"German_CS_AI", 1252}, {u"VidoraDB", 1252},
};

class CodePageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Session = VdbCreateSession(W(Dir.Location()));
    ASSERT_GT(Session, 0);
    ASSERT_EQ(VdbSessOpenDb(Session, W(Dir.Location()), nullptr, nullptr, 4096, 0), 0);
  }
  void TearDown() override { VdbSessDelete(Session); }

  // A table "T<n>" under `collation` with a string, a memo, a char and an integer column.
  std::u16string CreateTable(int n, std::u16string_view collation) {
    const std::string digits = std::to_string(n);
    const std::u16string name = u"T" + std::u16string(digits.begin(), digits.end());
    TVdbTableInfo info{};
    Put(info.FileName, name);
    Put(info.Language, collation);
    const struct {
      const char16_t* Name;
      std::int16_t Type;
      std::int32_t Param;
      const char16_t* Collation;
    } columns[] = {{u"S", VDB_TYPE_STRING, 30, u""},
                   {u"M", VDB_TYPE_MEMO, 0, u""},
                   {u"I", VDB_TYPE_INTEGER, 0, u""},
                   {u"R", VDB_TYPE_STRING, 30, u"Russian"}};
    std::vector<TVdbFieldSpec> specs(std::size(columns));
    for (std::size_t i = 0; i < specs.size(); ++i) {
      specs[i] = TVdbFieldSpec{};
      specs[i].No = static_cast<std::int16_t>(i + 1);
      Put(specs[i].Name, columns[i].Name);
      specs[i].FldType = columns[i].Type;
      specs[i].Param = columns[i].Param;
      specs[i].Options = 0x20;  // nullable
      Put(specs[i].SelectOrLink, columns[i].Collation);
    }
    EXPECT_EQ(VdbSessCreateTable(Session, &info, nullptr, static_cast<std::int32_t>(specs.size()), specs.data(), 0,
                                 nullptr, 0, nullptr, 0, nullptr),
              0);
    return name;
  }

  std::int32_t Execute(const std::u16string& sql) {
    const std::int16_t st = VdbSessCreateStatement(Session);
    EXPECT_GT(st, 0);
    EXPECT_EQ(VdbStmtSetSqlText(st, W(sql)), 0);
    EXPECT_EQ(VdbStmtPrepare(st, 0), 0);
    const std::int32_t result = VdbStmtExecute(st);
    VdbStmtDelete(st);
    return result;
  }

  dstest::TTempDir Dir;
  std::int16_t Session = 0;
};

TEST_F(CodePageTest, TheDatasetWritesTextInTheCodePageTheEngineReads) {
  TVdbDatabase database;
  database.SetName(u"CodePages");
  database.SetLocation(Dir.Location());
  int n = 0;
  for (const TCase& c : kCases) {
    SCOPED_TRACE(tk::NarrowForDiagnostics(c.Collation));
    const std::u16string name = CreateTable(++n, c.Collation);
    const std::u16string sample = SampleOf(c.CodePage);
    {
      TVdbTable table;
      table.SetDatabaseName(u"CodePages");
      table.SetTableName(name);
      table.Open();
      const TVdbFieldDefs& defs = table.FieldDefsVdb();
      EXPECT_EQ(defs.FieldByName(u"S").CodePage, c.CodePage);
      EXPECT_EQ(defs.FieldByName(u"M").CodePage, c.CodePage) << "a memo column follows the table's collation";
      EXPECT_EQ(defs.FieldByName(u"I").CodePage, c.CodePage) << "a column without text: the table's";
      EXPECT_EQ(defs.FieldByName(u"R").CodePage, 1251) << "a column of its own collation";
      table.Append();
      table.FieldByName(u"S").SetAsString(sample);
      table.FieldByName(u"R").SetAsString(SampleOf(1251));
      table.FieldByName(u"M").SetAsString(sample);
      table.Post();
      table.Close();
      table.Open();
      EXPECT_EQ(table.FieldByName(u"S").AsString(), sample);
      EXPECT_EQ(table.FieldByName(u"M").AsString(), sample);
      table.Close();
    }
    // The engine finds the dataset's text under its own code page.
    EXPECT_EQ(Execute(u"UPDATE " + name + u" SET I = 1 WHERE S = '" + sample + u"' AND R = '" + SampleOf(1251) + u"'"),
              1);
  }
}

TEST_F(CodePageTest, TheEngineReportsAColumnsCodePageAndRefusesUnknownColumns) {
  const std::u16string name = CreateTable(1, u"Kazakh");
  const std::int16_t rltn = VdbSessOpenTable(Session, W(name), W(u""), VDB_RIGHTS_WRITE, false, false);
  ASSERT_GT(rltn, 0);
  const std::int16_t table = VdbTableCreate(rltn, W(name));
  ASSERT_GT(table, 0);
  EXPECT_EQ(VdbTableGetFieldCodePage(table, 1), 1251);
  EXPECT_EQ(VdbTableGetFieldCodePage(table, 3), 1251);
  EXPECT_EQ(VdbTableGetFieldCodePage(table, 0), -10);
  EXPECT_EQ(VdbTableGetFieldCodePage(table, 4), 1251);
  EXPECT_EQ(VdbTableGetFieldCodePage(table, 5), -10);
  EXPECT_EQ(VdbTableGetFieldCodePage(0, 1), -101);
  VdbTableDelete(table);
  VdbRltnClose(rltn);
}

}  // namespace
