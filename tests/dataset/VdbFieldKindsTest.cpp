// Every column kind through the table dataset and the engine: a table with one column of each
// kind is made through the call interface, a record is written through the fields and read
// back after reopening; calculated fields live beside the record image.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "DataSetTestSupport.h"
#include "VdbTable.h"
#include "WalkBound.h"
#include "vidoradb/vdbapi.h"

namespace {

using namespace vdbds;

using dstest::Put;

struct TColumn {
  std::u16string Name;
  std::int16_t Type;
  std::int32_t Param;
  std::u16string Select;
};

const std::vector<TColumn>& Columns() {
  static const std::vector<TColumn> columns = {
      {u"S", VDB_TYPE_STRING, 12, u""},        {u"C", VDB_TYPE_CHAR, 0, u""},
      {u"I", VDB_TYPE_INTEGER, 0, u""},        {u"SI", VDB_TYPE_SMALLINT, 0, u""},
      {u"B", VDB_TYPE_BYTE, 0, u""},           {u"BO", VDB_TYPE_BOOLEAN, 0, u""},
      {u"F", VDB_TYPE_FLOAT, 0, u""},          {u"D", VDB_TYPE_DATE, 0, u""},
      {u"T", VDB_TYPE_TIME, 4, u""},           {u"TS", VDB_TYPE_TIMESTAMP, 0, u""},
      {u"L", VDB_TYPE_BIGINT, 0, u""},         {u"G", VDB_TYPE_GUID, 0, u""},
      {u"W", VDB_TYPE_WIDESTRING, 10, u""},    {u"E", VDB_TYPE_ENUM, 0, u"piros,zöld,kék"},
      {u"M", VDB_TYPE_MEMO, 0, u""},           {u"WM", VDB_TYPE_WIDEMEMO, 0, u""},
      {u"BL", VDB_TYPE_BLOB, 0, u""},
  };
  return columns;
}

class FieldKindsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::int16_t session = VdbCreateSession(reinterpret_cast<const VdbChar*>(Dir.Location().c_str()));
    ASSERT_GT(session, 0);
    ASSERT_EQ(VdbSessOpenDb(session, reinterpret_cast<const VdbChar*>(Dir.Location().c_str()), nullptr, nullptr,
                            4096, 0),
              0);
    TVdbTableInfo info{};
    Put(info.FileName, u"Kinds");
    Put(info.Language, u"Hungarian");
    std::vector<TVdbFieldSpec> specs(Columns().size());
    for (std::size_t i = 0; i < specs.size(); ++i) {
      specs[i] = TVdbFieldSpec{};
      specs[i].No = static_cast<std::int16_t>(i + 1);
      Put(specs[i].Name, Columns()[i].Name);
      specs[i].FldType = Columns()[i].Type;
      specs[i].Param = Columns()[i].Param;
      specs[i].Options = 0x20;  // nullable
      Put(specs[i].SelectOrLink, Columns()[i].Select);
    }
    const std::int16_t created = VdbSessCreateTable(session, &info, nullptr, static_cast<std::int32_t>(specs.size()),
                                                    specs.data(), 0, nullptr, 0, nullptr, 0, nullptr);
    VdbSessDelete(session);
    ASSERT_EQ(created, 0);
    Database.SetName(u"Kinds");
    Database.SetLocation(Dir.Location());
    Table.SetDatabaseName(u"Kinds");
    Table.SetTableName(u"Kinds");
  }
  tk::TField& F(const char16_t* name) { return Table.FieldByName(name); }

  dstest::TTempDir Dir;
  TVdbDatabase Database;
  TVdbTable Table;
};

TEST_F(FieldKindsTest, EveryKindIsWrittenAndReadBack) {
  Table.Open();
  const TVdbFieldDefs& defs = Table.FieldDefsVdb();
  const struct {
    const char16_t* Name;
    TVdbDataType Kind;
    int Size;
  } kinds[] = {{u"S", TVdbDataType::dtString, 12},  {u"C", TVdbDataType::dtString, 1},
               {u"I", TVdbDataType::dtInteger, 0},  {u"SI", TVdbDataType::dtSmallInt, 0},
               {u"B", TVdbDataType::dtByte, 0},     {u"BO", TVdbDataType::dtBoolean, 0},
               {u"F", TVdbDataType::dtFloat, 0},    {u"D", TVdbDataType::dtDate, 0},
               {u"T", TVdbDataType::dtTime, 0},     {u"TS", TVdbDataType::dtDateTime, 0},
               {u"L", TVdbDataType::dtLargeInt, 0}, {u"G", TVdbDataType::dtGuid, 38},
               {u"W", TVdbDataType::dtWideString, 10}, {u"E", TVdbDataType::dtEnum, 40},
               {u"M", TVdbDataType::dtMemo, 0},     {u"WM", TVdbDataType::dtWideMemo, 0},
               {u"BL", TVdbDataType::dtBlob, 0}};
  for (const auto& k : kinds) {
    SCOPED_TRACE(tk::NarrowForDiagnostics(k.Name));
    EXPECT_EQ(defs.FieldByName(k.Name).DataTypeVdb, k.Kind);
    EXPECT_EQ(defs.FieldByName(k.Name).Size, k.Size);
    EXPECT_FALSE(defs.FieldByName(k.Name).Required);
  }

  const std::int64_t day = tk::EncodeDate(2024, 2, 29);
  const std::int64_t ms = (8 * 3600 + 30 * 60) * 1000 + 250;
  Table.Append();
  F(u"S").SetAsString(u"Hódmezővásár");
  F(u"C").SetAsString(u"ő");
  F(u"I").SetAsInteger(-2000000000);
  F(u"SI").SetAsInteger(-32000);
  F(u"B").SetAsInteger(255);
  F(u"BO").SetAsBoolean(true);
  F(u"F").SetAsFloat(3.25);
  F(u"D").SetValue(tk::TFieldValue(day));
  F(u"T").SetValue(tk::TFieldValue(ms));
  F(u"TS").SetValue(tk::TFieldValue((day - 1) * kMsPerDay + ms));
  F(u"L").SetAsLargeInt(-9000000000000LL);
  F(u"G").SetAsString(u"{01234567-89AB-CDEF-0123-456789ABCDEF}");
  F(u"W").SetAsString(u"Ωμέγα");
  F(u"E").SetAsString(u"zöld");
  F(u"M").SetAsString(u"Első sor\r\nMásodik sor");
  F(u"WM").SetAsString(u"Ωμέγα ő ű");
  static_cast<tk::TBlobField&>(F(u"BL")).SetAsBytes({0, 1, 2, 254, 255});
  EXPECT_THROW(F(u"E").SetAsString(u"lila"), tk::EDatabaseError);
  Table.Post();
  Table.Close();
  Table.Open();
  ASSERT_EQ(Table.RecordCount(), 1);
  EXPECT_EQ(F(u"S").AsString(), u"Hódmezővásár");
  EXPECT_EQ(F(u"C").AsString(), u"ő");
  EXPECT_EQ(F(u"I").AsInteger(), -2000000000);
  EXPECT_EQ(F(u"SI").AsInteger(), -32000);
  EXPECT_EQ(F(u"B").AsInteger(), 255);
  EXPECT_TRUE(F(u"BO").AsBoolean());
  EXPECT_EQ(F(u"F").AsFloat(), 3.25);
  EXPECT_EQ(std::get<std::int64_t>(F(u"D").Value()), day);
  EXPECT_EQ(std::get<std::int64_t>(F(u"T").Value()), ms);
  EXPECT_EQ(std::get<std::int64_t>(F(u"TS").Value()), (day - 1) * kMsPerDay + ms);
  EXPECT_EQ(F(u"L").AsLargeInt(), -9000000000000LL);
  EXPECT_EQ(F(u"G").AsString(), u"{01234567-89AB-CDEF-0123-456789ABCDEF}");
  EXPECT_EQ(F(u"W").AsString(), u"Ωμέγα");
  EXPECT_EQ(F(u"E").AsString(), u"zöld");
  EXPECT_EQ(F(u"M").AsString(), u"Első sor\r\nMásodik sor");
  EXPECT_EQ(F(u"WM").AsString(), u"Ωμέγα ő ű");
  EXPECT_EQ(static_cast<tk::TBlobField&>(F(u"BL")).AsBytes(), (tk::TBytes{0, 1, 2, 254, 255}));

  // Null in every kind.
  Table.Edit();
  for (const auto& k : kinds) F(k.Name).Clear();
  Table.Post();
  Table.Refresh();
  for (const auto& k : kinds) EXPECT_TRUE(F(k.Name).IsNull()) << tk::NarrowForDiagnostics(k.Name);
}

TEST_F(FieldKindsTest, WideMemoOfAnOddByteCountIsRefusedAtPosting) {
  Table.Open();
  Table.Append();
  static_cast<tk::TBlobField&>(F(u"WM")).SetAsBytes({0x41, 0x00, 0x42});
  try {
    Table.Post();
    FAIL() << "no error";
  } catch (const tk::EDatabaseError& e) {
    EXPECT_EQ(e.Message(), u"Wide memo \"WM\" is invalid, must have even number of bytes.");
  }
  EXPECT_EQ(Table.State(), tk::TDataSetState::dsInsert);
  Table.Cancel();
  EXPECT_EQ(Table.RecordCount(), 0);
}

TEST_F(FieldKindsTest, BlobStreamPositionsCountDataBytesOnly) {
  Table.Open();
  Table.Append();
  {
    auto stream = Table.OpenBlobStream(F(u"BL"), tk::TBlobStreamMode::bmWrite);
    const std::uint8_t bytes[] = {10, 20, 30, 40};
    EXPECT_EQ(stream->Write(bytes, 4), 4u);
    EXPECT_EQ(stream->Seek(0, tk::TSeekOrigin::soCurrent), 4);
    EXPECT_EQ(stream->Seek(1, tk::TSeekOrigin::soBeginning), 1);
    const std::uint8_t more[] = {99};
    stream->Write(more, 1);
    EXPECT_EQ(stream->Seek(0, tk::TSeekOrigin::soEnd), 4);
  }
  Table.Post();
  auto reader = Table.OpenBlobStream(F(u"BL"), tk::TBlobStreamMode::bmRead);
  EXPECT_EQ(reader->ReadAll(), (tk::TBytes{10, 99, 30, 40}));
  EXPECT_EQ(reader->Seek(-1, tk::TSeekOrigin::soEnd), 3);
  std::uint8_t last = 0;
  EXPECT_EQ(reader->Read(&last, 1), 1u);
  EXPECT_EQ(last, 40);
  EXPECT_THROW(Table.OpenBlobStream(F(u"BL"), tk::TBlobStreamMode::bmWrite), tk::EDatabaseError)
      << "writing needs edit or insert state";
}

TEST_F(FieldKindsTest, WriteErrorHandlerRaisesAbortsOrIgnores) {
  Table.Open();
  Table.Append();
  std::vector<std::u16string> seen;
  TVdbWriteFieldAction answer = TVdbWriteFieldAction::wfaRaise;
  Table.OnWriteFieldError = [&](TVdbDataSet&, const tk::TField& field, const tk::EDatabaseError& e,
                                TVdbWriteFieldAction& action) {
    seen.push_back(field.FieldName() + u": " + e.Message());
    action = answer;
  };
  EXPECT_THROW(F(u"E").SetAsString(u"lila"), tk::EDatabaseError);
  answer = TVdbWriteFieldAction::wfaAbort;
  EXPECT_THROW(F(u"E").SetAsString(u"lila"), tk::EAbort);
  answer = TVdbWriteFieldAction::wfaIgnore;
  EXPECT_NO_THROW(F(u"E").SetAsString(u"lila"));
  EXPECT_TRUE(F(u"E").IsNull());
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0], u"E: 'lila' is not a valid enumeration value for this field");
  Table.Cancel();
}

TEST_F(FieldKindsTest, CalculatedFieldsAreComputedForEveryRecord) {
  Table.AddField(std::make_unique<tk::TStringField>(tk::TFieldType::dtString, 20), u"S", tk::TFieldKind::fkData);
  Table.AddField(std::make_unique<tk::TIntegerField>(tk::TFieldType::dtInteger), u"I", tk::TFieldKind::fkData);
  Table.AddField(std::make_unique<tk::TIntegerField>(tk::TFieldType::dtInteger), u"Twice",
                 tk::TFieldKind::fkCalculated);
  Table.OnCalcFields = [](tk::TDataSet& ds) {
    ds.FieldByName(u"Twice").SetAsInteger(ds.FieldByName(u"I").AsInteger() * 2);
  };
  Table.Open();
  for (int i = 1; i <= 3; ++i) {
    Table.Append();
    Table.FieldByName(u"I").SetAsInteger(i);
    EXPECT_EQ(Table.FieldByName(u"Twice").AsInteger(), 2 * i) << "recomputed while editing";
    Table.Post();
  }
  int sum = 0;
  testsupport::TWalkBound bound(3, "the walk over the calculated records");
  for (Table.First(); !Table.Eof() && bound.Step(); Table.Next()) sum += Table.FieldByName(u"Twice").AsInteger();
  EXPECT_EQ(sum, 12);
  EXPECT_EQ(Table.FieldCount(), 3) << "persistent fields only";
}

}  // namespace

// A string column may carry a collation of its own: its text is stored in that collation's
// code page, not in the table's.
class ColumnCollationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Session = VdbCreateSession(Vdb(Dir.Location()));
    ASSERT_GT(Session, 0);
    ASSERT_EQ(VdbSessOpenDb(Session, Vdb(Dir.Location()), nullptr, nullptr, 4096, 0), 0);
    TVdbTableInfo info{};
    Put(info.FileName, u"Cities");
    Put(info.Language, u"Hungarian");
    const struct {
      const char16_t* Name;
      const char16_t* Collation;
    } columns[] = {{u"NAME", u"Russian"}, {u"HUNGARIAN_NAME", u""}};
    std::vector<TVdbFieldSpec> specs(2);
    for (std::size_t i = 0; i < specs.size(); ++i) {
      specs[i] = TVdbFieldSpec{};
      specs[i].No = static_cast<std::int16_t>(i + 1);
      Put(specs[i].Name, columns[i].Name);
      specs[i].FldType = VDB_TYPE_STRING;
      specs[i].Param = 20;
      specs[i].Options = 0x20;
      Put(specs[i].SelectOrLink, columns[i].Collation);
    }
    ASSERT_EQ(VdbSessCreateTable(Session, &info, nullptr, 2, specs.data(), 0, nullptr, 0, nullptr, 0, nullptr), 0);
    Database.SetName(u"Cities");
    Database.SetLocation(Dir.Location());
    Table.SetDatabaseName(u"Cities");
    Table.SetTableName(u"Cities");
  }
  void TearDown() override {
    if (Session > 0) VdbSessDelete(Session);
  }
  static const VdbChar* Vdb(const std::u16string& text) { return reinterpret_cast<const VdbChar*>(text.c_str()); }

  // The bytes column `fieldNo` holds in the first record, as the engine stores them: a null
  // byte (set), a length byte, then the text.
  std::vector<std::uint8_t> StoredText(std::int16_t fieldNo) {
    const std::int16_t rltn = VdbSessOpenTable(Session, Vdb(u"Cities"), nullptr, 0, false, false);
    EXPECT_GT(rltn, 0);
    const std::int16_t cursor = VdbTableCreate(rltn, Vdb(u"bytes"));
    EXPECT_GT(cursor, 0);
    std::vector<std::uint8_t> text;
    TVdbFieldSpec spec{};
    const std::int32_t size = VdbTableGetRecordSize(cursor);
    std::vector<std::uint8_t> record(static_cast<std::size_t>(std::max(size, 1)));
    if (VdbTableFirst(cursor) == 1 && VdbTableGetRecord(cursor, record.data(), size) == 0 &&
        VdbTableGetFieldSpec(cursor, fieldNo, &spec) == 0) {
      const std::uint8_t* p = record.data() + spec.InternalPosition;
      EXPECT_NE(p[0], 0) << "the column is not null";
      text.assign(p + 2, p + 2 + p[1]);
    } else {
      ADD_FAILURE() << "the record could not be read through the call interface";
    }
    VdbTableDelete(cursor);
    VdbRltnClose(rltn);
    return text;
  }

  dstest::TTempDir Dir;
  std::int16_t Session = 0;
  TVdbDatabase Database;
  TVdbTable Table;
};

TEST_F(ColumnCollationTest, TextIsStoredInTheCodePageOfTheColumnsOwnCollation) {
  Table.Open();
  EXPECT_EQ(Table.FieldDefsVdb().FieldByName(u"NAME").Specification, u"Russian");
  Table.Append();
  Table.FieldByName(u"NAME").SetAsString(u"Москва");
  Table.FieldByName(u"HUNGARIAN_NAME").SetAsString(u"Győr");
  Table.Post();
  Table.Close();

  // Cyrillic in code page 1251, the other column in the table's 1250.
  EXPECT_EQ(StoredText(1), (std::vector<std::uint8_t>{0xCC, 0xEE, 0xF1, 0xEA, 0xE2, 0xE0}));
  EXPECT_EQ(StoredText(2), (std::vector<std::uint8_t>{'G', 'y', 0xF5, 'r'}));

  Table.Open();
  ASSERT_EQ(Table.RecordCount(), 1);
  EXPECT_EQ(Table.FieldByName(u"NAME").AsString(), u"Москва");
  EXPECT_EQ(Table.FieldByName(u"HUNGARIAN_NAME").AsString(), u"Győr");
}
