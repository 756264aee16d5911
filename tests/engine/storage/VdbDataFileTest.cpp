// The heap data file of levels 5 and 6: header layout of new files, records, index names,
// record ids, passwords, the record-count correction and the errors of damaged headers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "DataFileTestSupport.h"
#include "base/VdbErrorCodes.h"
#include "storage/VdbBPlusDataFile.h"

namespace vdb {
namespace {

using test::EngineCode;
using test::MakeDefinition;
using test::TStorageWorld;

const std::u16string kFile = u"/T.vdbt";

TVdbTableDefinition SmallTable(int level = 6) {
  return MakeDefinition({{u"IRSZ", vctInteger}, {u"TELEP", vctString, false, 20}, {u"NOTE", vctMemo}}, level);
}

std::vector<std::uint8_t> Record(const TVdbHeapDataFile& file, std::uint8_t fill) {
  return std::vector<std::uint8_t>(file.RecordSize(), fill);
}

class VdbDataFileTest : public ::testing::Test {
 protected:
  // Creates a table with `records` records whose bytes are all 1, 2, 3, ... and closes it.
  void CreateTable(int records = 0, int level = 6, TvuCryptor cryptor = {}) {
    auto file = World.HeapFile();
    file->NewFile(level, cryptor, SmallTable(level), false);
    for (int i = 1; i <= records; ++i) file->InsertRecord(Record(*file, static_cast<std::uint8_t>(i)));
    file->Flush();
    file->Close();
  }
  std::unique_ptr<TVdbHeapDataFile> OpenTable(bool readOnly = false, TvuCryptor* cryptor = nullptr) {
    auto file = World.HeapFile();
    file->Open(readOnly, false, cryptor ? *cryptor : Cryptor, Def);
    return file;
  }

  TStorageWorld World;
  TvuCryptor Cryptor;
  TVdbTableDefinition Def;
};

TEST_F(VdbDataFileTest, NewLevel6FileHeaderAndFirstRecordPosition) {
  CreateTable();
  const auto bytes = World.Bytes(kFile);
  ASSERT_EQ(bytes.size(), 16384u);
  const std::uint8_t magic[] = {0x64, 0xAA, 0x57, 0xFF};
  EXPECT_TRUE(std::equal(std::begin(magic), std::end(magic), bytes.begin()));
  EXPECT_EQ(vuGetU16(bytes.data() + 4), 6);
  EXPECT_EQ(bytes[6], 1);                             // no encryption
  EXPECT_EQ(vuGetU32(bytes.data() + 7), 0u);          // record count
  EXPECT_EQ(vuGetU32(bytes.data() + 15), 1u);         // next record id
  EXPECT_EQ(vuGetU32(bytes.data() + 4525), 16384u - 4529u);
  // The check string leads the definition block: 40 letters with t, d and b in place.
  EXPECT_EQ(vuGetU16(bytes.data() + 4529), 40);
  EXPECT_EQ(bytes[4531 + 2 * 7], 't');
  EXPECT_EQ(bytes[4531 + 2 * 24], 'd');
  EXPECT_EQ(bytes[4531 + 2 * 37], 'b');

  auto file = OpenTable();
  EXPECT_EQ(file->RecordAreaStart(), 16384);
  EXPECT_EQ(file->Level(), 6);
  EXPECT_EQ(file->GetRecordCount(), 0);
  ASSERT_EQ(Def.ColumnDefs.GetCount(), 3);
  EXPECT_EQ(Def.ColumnDefs.GetColumnDef(1).Name(), u"TELEP");
  EXPECT_EQ(Def.ColumnDefs.GetColumnDef(1).Position(), 4);
  EXPECT_EQ(Def.ColumnDefs.GetColumnDef(2).ColumnType(), vctMemo);
  EXPECT_EQ(Def.ColumnDefs.GetRecordSize(), file->RecordSize());
  EXPECT_EQ(Def.Capacity, 10000000);
}

TEST_F(VdbDataFileTest, DefinitionSizeDecidesWhereTheRecordAreaStarts) {
  struct TCase {
    int Columns;
    std::int64_t Start;
  };
  // Up to 3662 bytes of definition the records start at 16384; more moves them on by 8192.
  for (const TCase c : {TCase{1, 16384}, TCase{30, 16384}, TCase{60, 24576}, TCase{150, 32768}}) {
    TStorageWorld world;
    std::vector<test::TColumnSpec> specs;
    for (int i = 0; i < c.Columns; ++i) {
      std::u16string name(40, u'N');
      name[0] = static_cast<char16_t>(u'A' + i % 26);
      name[1] = static_cast<char16_t>(u'A' + i / 26);
      specs.push_back({name, vctInteger});
    }
    auto file = world.HeapFile();
    TvuCryptor none;
    file->NewFile(6, none, MakeDefinition(specs), false);
    EXPECT_EQ(file->RecordAreaStart(), c.Start) << c.Columns;
    EXPECT_GT(c.Start - 4529 - (c.Columns * 91 + 140), 8192) << "room for later changes";
  }
}

TEST_F(VdbDataFileTest, RecordsRoundTripAndTheLastMovesIntoAGap) {
  CreateTable(5);
  auto file = OpenTable();
  ASSERT_EQ(file->GetRecordCount(), 5);
  EXPECT_EQ(file->GetStorageSize(), 16384 + 5 * file->RecordSize());
  // Delete record 3 of 5 as the table does it: move the last record into the gap.
  auto buffer = Record(*file, 0);
  file->ReadRecord(5, buffer);
  file->WriteRecord(3, buffer);
  file->DeleteRecord(5);
  EXPECT_EQ(file->GetRecordCount(), 4);
  const std::uint8_t expected[] = {1, 2, 5, 4};
  for (int r = 1; r <= 4; ++r) {
    file->ReadRecord(r, buffer);
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [&](auto b) { return b == expected[r - 1]; })) << r;
  }
  EXPECT_EQ(EngineCode([&] { file->ReadRecord(5, buffer); }), errRecordNotFound);
  EXPECT_EQ(EngineCode([&] { file->DeleteRecord(2); }), errNotSupported);
  file->Flush();
  file->Close();
  EXPECT_EQ(vuGetU32(World.Bytes(kFile).data() + 7), 4u);
}

TEST_F(VdbDataFileTest, NavigationAndRecordNumberErrors) {
  CreateTable(0);
  auto file = OpenTable();
  EXPECT_EQ(file->GetFirstRecordNo(), -19);
  EXPECT_EQ(file->GetLastRecordNo(), -19);
  EXPECT_EQ(file->GetNextRecordNo(0), -19);
  file->InsertRecord(Record(*file, 7));
  file->InsertRecord(Record(*file, 8));
  EXPECT_EQ(file->GetFirstRecordNo(), 1);
  EXPECT_EQ(file->GetLastRecordNo(), 2);
  EXPECT_EQ(file->GetNextRecordNo(1), 2);
  EXPECT_EQ(file->GetNextRecordNo(2), -19);
  EXPECT_EQ(file->GetPrevRecordNo(2), 1);
  EXPECT_EQ(file->GetPrevRecordNo(1), -19);
  EXPECT_EQ(EngineCode([&] { file->WriteRecord(0, Record(*file, 1)); }), errFileWrite);
  EXPECT_EQ(EngineCode([&] { file->WriteRecord(3, Record(*file, 1)); }), errRecordNotFound);
  std::vector<std::uint8_t> small(3);
  EXPECT_EQ(EngineCode([&] { file->ReadRecord(1, small); }), errInvalidParameterValue);
  file->Clear();
  EXPECT_EQ(file->GetRecordCount(), 0);
  file->Flush();
  file->Close();
  EXPECT_EQ(World.Bytes(kFile).size(), 16384u);
}

TEST_F(VdbDataFileTest, RecordIdsComeFromTheHeader) {
  TVdbTableDefinition def = SmallTable();
  TVdbNewColumn id;
  id.Name = u"ID";
  id.ColumnType = vctRecordId;
  id.StartValue = 100;
  id.IndexSpec = u"ID";
  id.UniqueIdInfo = 7;
  def.ColumnDefs.Add(VdbMakeColumnDef(id, 6, u""));
  {
    auto file = World.HeapFile();
    file->NewFile(6, Cryptor, def, false);
    EXPECT_EQ(file->RecordIdPosition(), def.ColumnDefs.GetColumnDef(3).Position());
    EXPECT_EQ(file->ObtainNewRecordId(), 100);
    EXPECT_EQ(file->ObtainNewRecordId(), 101);
    file->RevokeRecordId(50);  // not the last one handed out: ignored
    EXPECT_EQ(file->ReadNextRecordId(), 102);
    file->RevokeRecordId(101);
    EXPECT_EQ(file->ReadNextRecordId(), 101);
    file->Flush();
  }
  auto file = OpenTable();
  EXPECT_EQ(file->ReadNextRecordId(), 101);
  const auto& rid = dynamic_cast<const TVdbRecordIdColumnDef&>(Def.ColumnDefs.GetColumnDef(3));
  EXPECT_EQ(rid.IndexSpec(), u"ID");
  EXPECT_EQ(rid.UniqueIdInfo(), 7);
}

TEST_F(VdbDataFileTest, IndexNameAreaHoldsFiftyNames) {
  CreateTable();
  std::vector<std::u16string> names;
  for (int i = 0; i < 50; ++i) names.push_back(u"IDX" + std::u16string(41, static_cast<char16_t>(u'A' + i % 26)));
  {
    auto file = OpenTable();
    file->SetIndexNames(names);
    file->WriteIndexNames();
    names.push_back(u"ONE_TOO_MANY");
    file->SetIndexNames(names);
    EXPECT_EQ(EngineCode([&] { file->WriteIndexNames(); }), errTooManyIndexes);
    names.pop_back();
    file->SetIndexNames({u"X", std::u16string(45, u'L')});
    EXPECT_EQ(EngineCode([&] { file->WriteIndexNames(); }), errInvalidIndexName);
    file->Flush();
  }
  {
    auto file = OpenTable();
    EXPECT_EQ(file->IndexNames(), names);
    file->DeleteIndexName(1);
    EXPECT_EQ(file->IndexNames().size(), 49u);
    EXPECT_EQ(EngineCode([&] { file->DeleteIndexName(50); }), errIndexNotFound);
    file->Flush();
  }
  auto file = OpenTable();
  EXPECT_EQ(file->IndexNames().front(), names[1]);
  const auto bytes = World.Bytes(kFile);
  EXPECT_EQ(vuGetU16(bytes.data() + 23), 49);
  EXPECT_EQ(vuGetU16(bytes.data() + 25), 44);  // first slot: character count
}

TEST_F(VdbDataFileTest, HeaderErrorsGiveTheirCodes) {
  CreateTable(2);
  const auto good = World.Bytes(kFile);
  struct TCase {
    const char* What;
    std::function<void(std::vector<std::uint8_t>&)> Damage;
    int Code;
  };
  const TCase cases[] = {
      {"bad magic", [](auto& b) { b[0] = 0x65; }, errOldTableVersion},
      {"B+ magic", [](auto& b) { vuPutU32(b.data(), kVdbBPlusMagic); }, errNotSupported},
      {"level 7", [](auto& b) { vuPutU16(b.data() + 4, 7); }, errUnknownTableVersion},
      {"level 0", [](auto& b) { vuPutU16(b.data() + 4, 0); }, errUnknownTableVersion},
      {"level -1", [](auto& b) { vuPutU16(b.data() + 4, 0xFFFF); }, errUnknownTableVersion},
      {"empty file", [](auto& b) { b.clear(); }, errOldTableVersion},
      {"three bytes", [](auto& b) { b.resize(3); }, errOldTableVersion},
      {"cut inside the fixed header", [](auto& b) { b.resize(4000); }, errUnknownTableVersion},
      {"block length beyond the file", [](auto& b) { vuPutU32(b.data() + 4525, 0x7FFFFFF0); },
       errUnknownTableVersion},
      {"negative block length", [](auto& b) { vuPutU32(b.data() + 4525, 0xFFFFFFFF); }, errUnknownTableVersion},
      {"short block", [](auto& b) { vuPutU32(b.data() + 4525, 100); }, errUnknownTableVersion},
      {"check string", [](auto& b) { b[4531 + 2 * 24] = 'x'; }, errInvalidCredentials},
      {"column count 0", [](auto& b) { vuPutU16(b.data() + 4529 + 82 + 82 + 2 + 8 + 4 + 2 + 2, 0); },
       errUnknownTableVersion},
      {"negative index-name count", [](auto& b) { vuPutU16(b.data() + 23, 0xFFFF); }, errUnknownTableVersion},
      {"51 index names", [](auto& b) { vuPutU16(b.data() + 23, 51); }, errUnknownTableVersion},
      {"negative record count", [](auto& b) { vuPutU32(b.data() + 7, 0x80000000); }, errUnknownTableVersion},
  };
  for (const auto& c : cases) {
    auto bytes = good;
    c.Damage(bytes);
    World.Store(kFile, bytes);
    auto file = World.HeapFile();
    TVdbTableDefinition def;
    EXPECT_EQ(EngineCode([&] {
                auto opened = VdbOpenDataFile(World.PageManager, World.Fs, kFile, 1, true, false, Cryptor, def);
              }),
              c.Code)
        << c.What;
    EXPECT_EQ(EngineCode([&] { file->Open(true, false, Cryptor, def); }),
              c.Code == errNotSupported ? errOldTableVersion : c.Code)
        << c.What;
    EXPECT_FALSE(file->IsOpen()) << c.What;
    EXPECT_EQ(def.ColumnDefs.GetCount(), 0) << c.What;
  }
  EXPECT_EQ(World.PageManager.OpenStorageCount(), 0u);
}

TEST_F(VdbDataFileTest, CountLargerThanTheFileIsCorrectedOnlyInMemoryWhenReadOnly) {
  CreateTable(3);
  World.Patch32(kFile, 7, 1000000);
  {
    auto file = OpenTable(true);
    EXPECT_TRUE(file->RecordCountWasCorrected());
    EXPECT_GE(file->GetRecordCount(), 3);
    EXPECT_LE(file->RecordAreaStart() + std::int64_t{file->GetRecordCount()} * file->RecordSize(),
              std::int64_t{24576});
    auto buffer = Record(*file, 0);
    file->ReadRecord(file->GetLastRecordNo(), buffer);  // inside the storage
    EXPECT_EQ(EngineCode([&] { file->StoreRecordCount(); }), errNoWriteAccess);
    file->Close();
  }
  EXPECT_EQ(vuGetU32(World.Bytes(kFile).data() + 7), 1000000u);
  {
    auto file = OpenTable(false);
    ASSERT_TRUE(file->RecordCountWasCorrected());
    const std::int32_t corrected = file->GetRecordCount();
    file->StoreRecordCount();
    EXPECT_FALSE(file->RecordCountWasCorrected());
    file->Flush();
    file->Close();
    EXPECT_EQ(vuGetU32(World.Bytes(kFile).data() + 7), static_cast<std::uint32_t>(corrected));
  }
}

TEST_F(VdbDataFileTest, ReadOnlyFilesRefuseWrites) {
  CreateTable(1);
  auto file = OpenTable(true);
  EXPECT_EQ(EngineCode([&] { file->InsertRecord(Record(*file, 1)); }), errNoWriteAccess);
  EXPECT_EQ(EngineCode([&] { file->WriteRecord(1, Record(*file, 1)); }), errNoWriteAccess);
  EXPECT_EQ(EngineCode([&] { file->ObtainNewRecordId(); }), errNoWriteAccess);
  EXPECT_EQ(EngineCode([&] { file->WriteIndexNames(); }), errNoWriteAccess);
}

TEST_F(VdbDataFileTest, NewFileRefusals) {
  CreateTable();
  struct TCase {
    const char* What;
    TvuEncryptionMethod Method;
    const char16_t* Key;
    int Level;
    int Code;
  };
  const TCase cases[] = {
      {"file exists", emNone, u"", 6, errFileExists},
      {"classic at level 6", emClassic1, u"pw;12", 6, errFeatureNotAtLevel},
      {"protection without a key", emProtection, u"", 6, errInvalidPassword},
      {"cipher without a key", emBlowfish, u"", 6, errInvalidPassword},
      {"level 4", emNone, u"", 4, errNotSupported},
  };
  for (const auto& c : cases) {
    auto file = World.HeapFile(std::string_view(c.What) == "file exists" ? kFile : u"/New.vdbt");
    TvuCryptor cryptor(c.Method, c.Key);
    EXPECT_EQ(EngineCode([&] { file->NewFile(c.Level, cryptor, SmallTable(), false); }), c.Code) << c.What;
    EXPECT_FALSE(World.Fs.FileExists(u"/New.vdbt")) << c.What;
  }
  TVdbTableDefinition empty;
  auto file = World.HeapFile(u"/New.vdbt");
  EXPECT_EQ(EngineCode([&] { file->NewFile(6, Cryptor, empty, false); }), errUnknownTableVersion);
}

// Fails every write.
class TFailingWrites : public TvuFileSystemWrapper {
 public:
  using TvuFileSystemWrapper::TvuFileSystemWrapper;
  std::int64_t FileWrite(TvuFileHandle, std::int64_t, const void*, std::int64_t) override {
    SetLastError(oseDiskFull);
    return 0;
  }
};

TEST_F(VdbDataFileTest, FailedHeaderWriteRemovesTheNewFile) {
  TFailingWrites failing(World.Fs);
  TVdbHeapDataFile file(World.PageManager, failing, kFile, 1);
  EXPECT_EQ(EngineCode([&] { file.NewFile(6, Cryptor, SmallTable(), false); }), errFileWrite);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_FALSE(World.Fs.FileExists(kFile));
}

TEST_F(VdbDataFileTest, ProtectedTableStoresPlainRecordsButNeedsThePassword) {
  CreateTable(1, 6, TvuCryptor(emProtection, u"Titok123"));
  const auto bytes = World.Bytes(kFile);
  EXPECT_EQ(bytes[6], 2);
  EXPECT_EQ(bytes[16384], 1);  // record bytes are plain
  for (const char16_t* key : {u"", u"titok123", u"Titok1234"}) {
    TvuCryptor wrong(emNone, key);
    EXPECT_EQ(EngineCode([&] { OpenTable(false, &wrong); }), errInvalidCredentials);
  }
  TvuCryptor right(emNone, u"Titok123");
  auto file = OpenTable(false, &right);
  EXPECT_EQ(right.EncryptionMethod(), emProtection);
  EXPECT_EQ(file->GetRecordCount(), 1);
}

TEST_F(VdbDataFileTest, Level5FilesReadAndWrite) {
  CreateTable(2, 5, TvuCryptor(emProtection, u"pw\u00e9"));
  TvuCryptor key(emNone, u"pw\u00e9");
  auto file = OpenTable(false, &key);
  EXPECT_EQ(file->Level(), 5);
  EXPECT_EQ(Def.ColumnDefs.GetColumnDef(0).DataType()->Level(), 5);
  file->InsertRecord(Record(*file, 9));
  auto buffer = Record(*file, 0);
  file->ReadRecord(3, buffer);
  EXPECT_EQ(buffer[0], 9);
  // Level 5 scrambles the password as bytes: the stored characters stay below 256.
  const auto bytes = World.Bytes(kFile);
  EXPECT_EQ(vuGetU16(bytes.data() + 4529 + 82), 3);
  EXPECT_EQ(vuGetU16(bytes.data() + 4529 + 84), 0xFF - 0xE9);
}

TEST_F(VdbDataFileTest, NewTablesGetAHeapFileUnlessTheyAskForTheTree) {
  struct TCase {
    const char16_t* FirstName;
    TVdbColumnType FirstType;
    int Level;
    int Code;
  };
  const TCase cases[] = {
      {u"_XXX", vctRecordId, 6, errNotSupported},  // B+ data file: not available yet
      {u"_XXX", vctRecordId, 5, 0},
      {u"ID", vctRecordId, 6, 0},
      {u"_XXX", vctInteger, 6, 0},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::u16string name = u"/N" + std::u16string(1, static_cast<char16_t>(u'0' + n++)) + u".vdbt";
    TVdbTableDefinition def = MakeDefinition({{c.FirstName, c.FirstType}, {u"A", vctInteger}}, c.Level);
    int code = EngineCode([&] {
      auto file = VdbNewDataFile(World.PageManager, World.Fs, name, 1, c.Level, Cryptor, def, false);
      EXPECT_NE(dynamic_cast<TVdbHeapDataFile*>(file.get()), nullptr);
    });
    EXPECT_EQ(code, c.Code) << n;
  }
}

}  // namespace
}  // namespace vdb
