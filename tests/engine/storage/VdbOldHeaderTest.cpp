// Heap data files of levels 1 to 4, built byte by byte from their layouts: the header is read
// into definitions, records are read, names are repaired, passwords and check strings are
// verified, and damaged old headers give engine errors.
#include <gtest/gtest.h>

#include "DataFileTestSupport.h"
#include "base/VdbErrorCodes.h"
#include "base/vuLittleEndian.h"

namespace vdb {
namespace {

using test::EngineCode;
using test::TStorageWorld;

class TBytes {
 public:
  TBytes& U8(std::uint8_t v) {
    B.push_back(v);
    return *this;
  }
  TBytes& U16(std::uint16_t v) { return U8(static_cast<std::uint8_t>(v)).U8(static_cast<std::uint8_t>(v >> 8)); }
  TBytes& U32(std::uint32_t v) { return U16(static_cast<std::uint16_t>(v)).U16(static_cast<std::uint16_t>(v >> 16)); }
  TBytes& Zero(std::size_t n) {
    B.insert(B.end(), n, 0);
    return *this;
  }
  TBytes& Raw(std::string_view s) {
    B.insert(B.end(), s.begin(), s.end());
    return *this;
  }
  TBytes& Str16A(std::string_view s) { return U16(static_cast<std::uint16_t>(s.size())).Raw(s); }
  TBytes& Str16(std::u16string_view s) {
    U16(static_cast<std::uint16_t>(s.size()));
    for (char16_t c : s) U16(c);
    return *this;
  }
  // 1 length byte + `capacity` bytes.
  TBytes& Short(std::string_view s, std::size_t capacity) { return U8(static_cast<std::uint8_t>(s.size())).Raw(s).Zero(capacity - s.size()); }
  std::size_t Size() const { return B.size(); }
  std::vector<std::uint8_t> B;
};

std::string Scrambled(std::string_view password) {
  std::string out(password.rbegin(), password.rend());
  for (auto& c : out) c = static_cast<char>(~static_cast<unsigned char>(c));
  return out;
}

// Level 4: IRSZ integer, TELEP string(20), TERULET nullable float (scale 2), ID record id.
// With `cipher` the password field holds `marker`, and the check string and every record are
// enciphered.
std::vector<std::uint8_t> Level4File(std::uint32_t count = 2, std::uint16_t checkRecordSize = 38,
                                     std::u16string computation = u"1.5", std::string_view marker = {},
                                     TVdbEncryption* cipher = nullptr) {
  TBytes b;
  b.U32(kVdbHeapMagic).U16(4).Short("ANS", 3).U32(count).U16(38).U16(4).U32(5000);
  const std::size_t area = b.Size();
  b.U16(1).Short("IRSZ", 44).Zero(2252 - 2 - 45);
  EXPECT_EQ(area, 22u);
  EXPECT_EQ(b.Size(), 2274u);
  b.Str16A("IRSZ").U16(3).U8(vctInteger).U32(0x80);
  b.Str16A("TELEP").U16(20).U8(vctString).U32(0x80);
  b.Str16A("TERULET").U16(8).U8(vctFloat).U32(0x80 | coNullable | coHasNullByte).U16(2);
  b.Str16A("ID").U16(3).U8(vctRecordId).U32(0x80);
  b.Short(Scrambled(marker), 10);
  std::u16string check(40, u'q');
  check[7] = static_cast<char16_t>(checkRecordSize);
  check[31] = 4;
  b.Str16(check);
  if (cipher) cipher->EncryptBlock(b.B.data() + b.Size() - 80, 80);
  b.U16(1).U16(3).Str16(computation);       // computations
  b.U16(1).U8(1).Str16A("PK").Str16A("IRSZ");  // keys
  b.U16(1).Str16A("CHK").Str16(u"IRSZ > 0");   // checks
  b.U16(1).Str16A("FK").Str16A("Parent").Str16(u"PID").Str16(u"IRSZ").U8(3).U8(3).U8(1);
  b.U16(4 | 0).U16(4).U8(vctRecordId).Zero(4).U8(0xFF).Zero(40);  // record-id index, unique
  b.U32(7);                                                        // next record id
  for (std::uint8_t r = 1; r <= 2; ++r) {
    b.U32(1000u * r);                           // IRSZ
    b.U8(3).Raw("Aba").Zero(17);                // TELEP: count + 20 bytes
    b.Zero(8).U8(r == 1 ? 1 : 0);               // TERULET 0.0, null byte last (level 4)
    b.U32(r);                                   // ID
    if (cipher) cipher->EncryptBlock(b.B.data() + b.Size() - 38, 38);
  }
  return b.B;
}

// Level 3: IRSZ smallint, TELEP string(20), LINK to Other (no index), TELEP again, an unnamed
// byte column, IDO time (4 bytes); protected by "Abc".
std::vector<std::uint8_t> Level3File() {
  TBytes b;
  b.U32(kVdbHeapMagic).U16(3).Short("ANS", 3).U32(1).U16(2 + 21 + 4 + 21 + 1 + 4).U16(6);
  b.U16(0).Zero(675);
  EXPECT_EQ(b.Size(), 695u);
  auto column = [&](std::string_view name, std::uint16_t size, std::uint8_t param, std::uint8_t type,
                    std::uint8_t nibble) {
    b.Zero(2).Short(name, 40).U16(static_cast<std::uint16_t>(size - 1)).U8(param).U8(0).U8(type).U8(nibble).Zero(5);
  };
  column("IRSZ", 2, 0, vctSmallInt, 0);
  column("TELEP_", 21, 0, vctString, 0);
  column("LINK(Other)", 4, 0, vctLink, 8);
  column("TELEP", 21, 0, vctString, 0);
  column("?", 1, 0, vctByte, 0);
  column("IDO", 4, 5, vctTime, 0);
  b.Short(Scrambled("ABC"), 10);
  b.U16(7).U8(1).Raw("Aba").Zero(17).U32(0).U8(0).Raw(std::string(20, '\0')).U8(9).U32(60000);
  return b.B;
}

// Level 2: A byte, F float (scale 2, computed "A*2"), E enum (Egy, Ketto), D date.
std::vector<std::uint8_t> Level2File(bool levelOne = false) {
  TBytes b;
  b.U32(kVdbHeapMagic).U16(levelOne ? 1 : 2).U32(1).U16(1 + 8 + 1 + 4).U16(4);
  b.U16(0).Zero(levelOne ? 65 : 675);
  auto column = [&](std::string_view name, std::uint8_t size, std::uint8_t param, std::uint8_t type,
                    std::uint8_t nibble) {
    b.Zero(2).Short(name, 40).U8(static_cast<std::uint8_t>(size - 1)).U8(param).U8(static_cast<std::uint8_t>(nibble << 4 | type));
  };
  column("A", 1, 0, vctByte, 0);
  column("F", 8, 0xF2, vctFloat, 1);
  column("E", 1, 2, vctEnum, 0);
  column("D", 4, 0, vctDate, 0);
  b.Short("", 10);
  b.Short("Egy", 20).Short("Ketto", 20);
  b.Short("A*2", 255);
  b.U8(21).Zero(8).U8(2).U32(0);
  return b.B;
}

class VdbOldHeaderTest : public ::testing::Test {
 protected:
  std::unique_ptr<TVdbHeapDataFile> Open(const std::vector<std::uint8_t>& bytes, const char16_t* key = u"") {
    World.Store(u"/Old.dat", bytes);
    auto file = World.HeapFile(u"/Old.dat");
    Cryptor.SetKey(key);
    file->Open(true, false, Cryptor, Def);
    return file;
  }
  TStorageWorld World;
  TvuCryptor Cryptor;
  TVdbTableDefinition Def;
};

TEST_F(VdbOldHeaderTest, Level4HeaderAndRecords) {
  auto file = Open(Level4File());
  EXPECT_EQ(file->Level(), 4);
  EXPECT_EQ(file->GetRecordCount(), 2);
  EXPECT_EQ(file->RecordSize(), 38);
  EXPECT_EQ(Def.Capacity, 5000);
  EXPECT_EQ(Def.OldCollationCode, "ANS");
  EXPECT_EQ(file->IndexNames(), std::vector<std::u16string>{u"IRSZ"});
  ASSERT_EQ(Def.ColumnDefs.GetCount(), 4);
  const auto& terulet = Def.ColumnDefs.GetColumnDef(2);
  EXPECT_EQ(terulet.Name(), u"TERULET");
  EXPECT_TRUE(terulet.Nullable());
  EXPECT_EQ(static_cast<const TVdbNumberColumnDef&>(terulet).Scale(), 2);
  EXPECT_EQ(terulet.CalculationSource(), u"1.5");
  EXPECT_EQ(Def.KeyDefs.GetNamedDef(0).Name(), u"PK");
  EXPECT_TRUE(Def.KeyDefs.GetNamedDef(0).IsPrimary());
  EXPECT_EQ(Def.CheckDefs.GetNamedDef(0).ConditionText(), u"IRSZ > 0");
  const auto& fk = Def.ForeignKeyDefs.GetNamedDef(0);
  EXPECT_EQ(fk.ParentTableName, u"Parent");
  EXPECT_EQ(fk.ColumnNames, std::vector<std::u16string>{u"IRSZ"});
  EXPECT_EQ(fk.UpdateAction, traCascade);
  EXPECT_EQ(fk.DeleteAction, traSetNull);
  EXPECT_EQ(static_cast<const TVdbRecordIdColumnDef&>(Def.ColumnDefs.GetColumnDef(3)).IndexSpec(), u"ID");
  EXPECT_EQ(file->RecordIdPosition(), 34);
  EXPECT_EQ(file->ReadNextRecordId(), 7);
  EXPECT_EQ(file->RecordAreaStart(), static_cast<std::int64_t>(Level4File().size()) - 2 * 38);

  std::vector<std::uint8_t> record(38);
  TVdbDataValue v;
  for (std::int32_t r = 1; r <= 2; ++r) {
    file->ReadRecord(r, record);
    const auto& cols = Def.ColumnDefs;
    cols.GetColumnDef(0).DataType()->SetReference(v, record, 0);
    EXPECT_EQ(cols.GetColumnDef(0).DataType()->GetInteger(v), 1000 * r);
    cols.GetColumnDef(1).DataType()->SetReference(v, record, 4);
    EXPECT_EQ(cols.GetColumnDef(1).DataType()->GetWideString(v), u"Aba");
    cols.GetColumnDef(2).DataType()->SetReference(v, record, 25);
    EXPECT_EQ(cols.GetColumnDef(2).DataType()->IsNull(v), r == 2);
  }
}

// Level 4 names its cipher by a marker in the password field; the enciphered check string
// proves the key before any record is read.
TEST_F(VdbOldHeaderTest, Level4EncipheredTablesOpenWithTheirKeyOnly) {
  const struct {
    const char* Marker;
    TvuEncryptionMethod Method;
  } cases[] = {{"_en:td_", emFast}, {"_en:bf_", emBlowfish}, {"_en:rj_", emRijndael}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Marker);
    TvuCryptor maker(c.Method, u"Kulcs 4");
    ASSERT_TRUE(maker.Initialize());
    const auto bytes = Level4File(2, 38, u"1.5", c.Marker, maker.Encryption());
    {
      auto file = Open(bytes, u"Kulcs 4");
      EXPECT_EQ(Cryptor.EncryptionMethod(), c.Method);
      std::vector<std::uint8_t> record(38);
      file->ReadRecord(2, record);
      EXPECT_EQ(vuGetU32(record.data()), 2000u);
      EXPECT_EQ(std::string(record.begin() + 5, record.begin() + 8), "Aba");
      file->Close();
    }
    EXPECT_EQ(EngineCode([&] { Open(bytes, u"kulcs 4"); }), errInvalidCredentials);
    EXPECT_EQ(EngineCode([&] { Open(bytes, u""); }), errInvalidCredentials);
  }
  EXPECT_EQ(World.PageManager.OpenStorageCount(), 0u);
}

TEST_F(VdbOldHeaderTest, HeaderLongerThanTheFirstReadWindow) {
  const std::u16string longText(50000, u'x');  // 100,000 bytes of header
  auto file = Open(Level4File(2, 38, longText));
  EXPECT_EQ(Def.ColumnDefs.GetColumnDef(2).CalculationSource(), longText);
  EXPECT_EQ(file->GetRecordCount(), 2);
  file->Close();
  auto bytes = Level4File(2, 38, longText);
  bytes.resize(90000);  // cut inside the long text
  EXPECT_EQ(EngineCode([&] { Open(bytes); }), errUnknownTableVersion);
}

TEST_F(VdbOldHeaderTest, Level3NamesLinksAndPassword) {
  EXPECT_EQ(EngineCode([&] { Open(Level3File(), u""); }), errInvalidCredentials);
  EXPECT_EQ(EngineCode([&] { Open(Level3File(), u"abd"); }), errInvalidCredentials);
  auto file = Open(Level3File(), u"abc");  // compared upper-cased below level 4
  EXPECT_EQ(Cryptor.EncryptionMethod(), emProtection);
  const std::vector<std::u16string> names = {u"IRSZ", u"TELEP", u"LINK", u"TELEP_2", u"Column_5", u"IDO"};
  ASSERT_EQ(Def.ColumnDefs.GetCount(), 6);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(Def.ColumnDefs.GetColumnDef(i).Name(), names[static_cast<std::size_t>(i)]);
  const auto& link = static_cast<const TVdbAdlColumnDef&>(Def.ColumnDefs.GetColumnDef(2));
  EXPECT_EQ(link.LinkedTable(), u"Other");
  EXPECT_TRUE(link.Options() & coNoIndex);
  EXPECT_FALSE(link.HasNullByte());
  EXPECT_EQ(static_cast<const TVdbTimeColumnDef&>(Def.ColumnDefs.GetColumnDef(5)).Precision(), 3);
  std::vector<std::uint8_t> record(file->RecordSize());
  file->ReadRecord(1, record);
  TVdbDataValue v;
  const auto* time = Def.ColumnDefs.GetColumnDef(5).DataType();
  time->SetReference(v, record, static_cast<std::size_t>(Def.ColumnDefs.GetColumnDef(5).Position()));
  EXPECT_EQ(time->GetTime(v), 60000 * VDB_TICKS_PER_MS);
}

TEST_F(VdbOldHeaderTest, Level2And1EnumsScaleAndComputations) {
  for (bool levelOne : {false, true}) {
    auto file = Open(Level2File(levelOne));
    EXPECT_EQ(file->Level(), levelOne ? 1 : 2);
    EXPECT_EQ(Def.Capacity, 10000000);
    ASSERT_EQ(Def.ColumnDefs.GetCount(), 4);
    const auto& f = Def.ColumnDefs.GetColumnDef(1);
    EXPECT_EQ(static_cast<const TVdbNumberColumnDef&>(f).Scale(), 2);
    EXPECT_EQ(f.CalculationSource(), u"A*2");
    EXPECT_EQ(f.CalculationPurposes(), clpUpdating);
    const auto& items = static_cast<const TVdbEnumColumnDef&>(Def.ColumnDefs.GetColumnDef(2)).Items();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[1].Name, u"Ketto");
    EXPECT_TRUE(Def.ColumnDefs.GetColumnDef(3).Nullable());  // a date uses 0 as null
    std::vector<std::uint8_t> record(file->RecordSize());
    file->ReadRecord(1, record);
    EXPECT_EQ(record[0], 21);
    EXPECT_EQ(record[9], 2);
    file->Close();
  }
}

TEST_F(VdbOldHeaderTest, CountBeyondTheFileAndDamagedOldHeaders) {
  auto file = Open(Level4File(1000));
  EXPECT_TRUE(file->RecordCountWasCorrected());
  EXPECT_LT(file->GetRecordCount(), 1000);
  file->Close();
  EXPECT_EQ(vuGetU32(World.Bytes(u"/Old.dat").data() + 10), 1000u);  // read-only: not written back

  struct TCase {
    const char* What;
    std::function<void(std::vector<std::uint8_t>&)> Damage;
    int Code;
  };
  const TCase cases[] = {
      {"check string", [](auto& b) { b = Level4File(2, 37); }, errInvalidCredentials},
      {"column count 0", [](auto& b) { vuPutU16(b.data() + 16, 0); }, errUnknownTableVersion},
      {"column count 1001", [](auto& b) { vuPutU16(b.data() + 16, 1001); }, errUnknownTableVersion},
      {"column count beyond the bytes", [](auto& b) { vuPutU16(b.data() + 16, 900); }, errUnknownTableVersion},
      {"record size differs", [](auto& b) { vuPutU16(b.data() + 14, 39); }, errUnknownTableVersion},
      {"record size 0", [](auto& b) { vuPutU16(b.data() + 14, 0); }, errUnknownTableVersion},
      {"capacity 0", [](auto& b) { vuPutU32(b.data() + 18, 0); }, errUnknownTableVersion},
      {"name longer than the file", [](auto& b) { vuPutU16(b.data() + 2274, 0xFFFF); }, errUnknownTableVersion},
      {"field size does not fit the type", [](auto& b) { vuPutU16(b.data() + 2274 + 6, 9); }, errUnknownTableVersion},
      {"index-name count 51", [](auto& b) { vuPutU16(b.data() + 22, 51); }, errUnknownTableVersion},
      {"cut after the columns", [](auto& b) { b.resize(2330); }, errUnknownTableVersion},
      {"record-id index names column 9", [](auto& b) { b[b.size() - 2 * 38 - 4 - 50] = 9; }, errUnknownTableVersion},
      {"record-id index is empty", [](auto& b) { b[b.size() - 2 * 38 - 4 - 50] = 0; }, errUnknownTableVersion},
  };
  for (const auto& c : cases) {
    auto bytes = Level4File();
    c.Damage(bytes);
    EXPECT_EQ(EngineCode([&] { Open(bytes); }), c.Code) << c.What;
  }
  EXPECT_EQ(World.PageManager.OpenStorageCount(), 0u);
}

}  // namespace
}  // namespace vdb
