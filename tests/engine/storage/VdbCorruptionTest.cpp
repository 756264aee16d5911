// Damaged files: bytes of data, memo and blob files are flipped or cut at a table of offsets
// (and at seeded random ones); opening and reading everything must either work or raise an
// engine error, never crash, hang or trip a sanitizer.
#include <gtest/gtest.h>

#include <random>

#include "DataFileTestSupport.h"
#include "base/VdbErrorCodes.h"
#include "storage/VdbBlobFile.h"

namespace vdb {
namespace {

using test::TStorageWorld;

const std::u16string kData = u"/T.vdbt";
const std::u16string kMemo = u"/T.vdbm";
const std::u16string kBlob = u"/T.vdbb";
constexpr int kRecords = 12;

enum class TDamage { dFlip, dSetFF, dZero, dCut };

struct TDamageCase {
  std::size_t Offset;
  TDamage Kind;
};

std::vector<std::uint8_t> Damaged(std::vector<std::uint8_t> bytes, const TDamageCase& c) {
  if (c.Offset >= bytes.size()) return bytes;
  switch (c.Kind) {
    case TDamage::dFlip: bytes[c.Offset] ^= 0xFF; break;
    case TDamage::dSetFF: bytes[c.Offset] = 0xFF; break;
    case TDamage::dZero: bytes[c.Offset] = 0; break;
    case TDamage::dCut: bytes.resize(c.Offset); break;
  }
  return bytes;
}

class VdbCorruptionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TvuCryptor none;
    TVdbTableDefinition def = test::MakeDefinition({{u"IRSZ", vctInteger},
                                                    {u"TELEP", vctString, true, 20, u"Hungarian"},
                                                    {u"E", vctEnum},
                                                    {u"NOTE", vctMemo},
                                                    {u"PIC", vctBlob, true}},
                                                   6);
    TVdbNewColumn e;
    e.Name = u"E";
    e.ColumnType = vctEnum;
    e.EnumNames = u"Falu,Varos";
    def.ColumnDefs.Replace(2, VdbMakeColumnDef(e, 6, u""));
    auto data = World.HeapFile(kData);
    data->NewFile(6, none, def, false);
    TVdbMemoFile memo(World.PageManager, World.Fs, kMemo, 1, 6, u"T");
    memo.SetBlockSize(512);
    memo.NewFile(false);
    TVdbBlobFile blob(World.PageManager, World.Fs, kBlob, 1, 6, u"T");
    blob.SetBlockSize(512);
    blob.NewFile(false);
    std::vector<std::uint8_t> record(data->RecordSize());
    TVdbDataValue v;
    for (int r = 1; r <= kRecords; ++r) {
      std::fill(record.begin(), record.end(), std::uint8_t{0});
      for (int c = 0; c < def.ColumnDefs.GetCount(); ++c) {
        const auto& col = def.ColumnDefs.GetColumnDef(c);
        col.DataType()->SetReference(v, record, static_cast<std::size_t>(col.Position()));
        switch (c) {
          case 0: col.DataType()->SetInteger(v, r); break;
          case 1: col.DataType()->SetWideString(v, u"Település"); break;
          case 2: col.DataType()->SetInteger(v, 1 + r % 2); break;
          case 3: col.DataType()->SetInteger(v, memo.WriteString(0, std::string(100 + 97 * r, 'n'))); break;
          case 4:
            col.DataType()->SetInteger(v, blob.WriteData(0, std::vector<std::uint8_t>(50 + 101 * r, 7)));
            break;
        }
      }
      data->InsertRecord(record);
    }
    data->Flush();
    memo.Flush();
    blob.Flush();
    data->Close();
    Good[0] = World.Bytes(kData);
    Good[1] = World.Bytes(kMemo);
    Good[2] = World.Bytes(kBlob);
  }

  // Opens all three files and reads every record, memo and blob. Returns the engine code of
  // the first failure (0: all read). Any other exception fails the test.
  int ReadEverything() {
    try {
      TvuCryptor none;
      TVdbTableDefinition def;
      auto data = World.HeapFile(kData);
      data->Open(true, false, none, def);
      TVdbMemoFile memo(World.PageManager, World.Fs, kMemo, 1, 6, u"T");
      memo.Open(true, false);
      TVdbBlobFile blob(World.PageManager, World.Fs, kBlob, 1, 6, u"T");
      blob.Open(true, false);
      std::vector<std::uint8_t> record(data->RecordSize());
      TVdbDataValue v;
      int failure = 0;
      for (std::int32_t r = 1; r <= data->GetRecordCount(); ++r) {
        data->ReadRecord(r, record);
        for (int c = 0; c < def.ColumnDefs.GetCount(); ++c) {
          const auto& col = def.ColumnDefs.GetColumnDef(c);
          const auto* type = col.DataType();
          try {
            type->SetReference(v, record, static_cast<std::size_t>(col.Position()));
            if (type->IsNull(v)) continue;
            if (col.ColumnType() == vctMemo) {
              memo.ReadMemo(static_cast<std::int32_t>(type->GetInteger(v)));
            } else if (col.ColumnType() == vctBlob) {
              blob.ReadData(static_cast<std::int32_t>(type->GetInteger(v)));
            } else {
              type->ConvertToString(v, TvuFormats::Invariant());
            }
          } catch (const EVdbEngine& e) {
            if (!failure) failure = e.Code();
          }
        }
      }
      return failure;
    } catch (const EVdbEngine& e) {
      return e.Code();
    } catch (const std::exception& e) {
      ADD_FAILURE() << "not an engine error: " << e.what();
      return -1;
    }
  }

  void Sweep(int file, const std::vector<TDamageCase>& cases) {
    const std::u16string names[] = {kData, kMemo, kBlob};
    for (const auto& c : cases) {
      World.Store(names[file], Damaged(Good[file], c));
      const int code = ReadEverything();
      EXPECT_GE(code, 0) << "offset " << c.Offset << " kind " << static_cast<int>(c.Kind);
      ++Runs;
      if (code > 0) ++Errors;
      EXPECT_EQ(World.PageManager.OpenStorageCount(), 0u);
    }
    World.Store(names[file], Good[file]);
  }

  TStorageWorld World;
  std::vector<std::uint8_t> Good[3];
  int Runs = 0;
  int Errors = 0;
};

std::vector<TDamageCase> Cases(const std::vector<std::size_t>& offsets) {
  std::vector<TDamageCase> out;
  for (std::size_t o : offsets) {
    for (TDamage k : {TDamage::dFlip, TDamage::dSetFF, TDamage::dZero, TDamage::dCut}) out.push_back({o, k});
  }
  return out;
}

TEST_F(VdbCorruptionTest, UndamagedFilesReadCompletely) { EXPECT_EQ(ReadEverything(), 0); }

TEST_F(VdbCorruptionTest, DataFileHeaderFields) {
  // Magic, level, encryption code, count and its high half, next id, index names, block
  // length, check string, password, collation, capacity, record size, column entries.
  std::vector<std::size_t> offsets = {0, 1, 3, 4, 5, 6, 7, 9, 10, 11, 14, 15, 18, 19, 23, 24, 25, 26,
                                      4524, 4525, 4526, 4527, 4528, 4529, 4530, 4545, 4611, 4612, 4693,
                                      4694, 4695, 4696, 4699, 4702, 4703, 4705, 4707, 4709, 4711, 4712};
  for (std::size_t o = 4713; o < 4713 + 420; o += 5) offsets.push_back(o);
  Sweep(0, Cases(offsets));
  EXPECT_GT(Errors, Runs / 3);
}

TEST_F(VdbCorruptionTest, DataFileRecordsAndRandomBytes) {
  std::vector<std::size_t> offsets;
  for (std::size_t o = 16384; o < Good[0].size(); o += 31) offsets.push_back(o);
  std::mt19937 random(20260105);  // fixed seed: runs repeat exactly
  std::uniform_int_distribution<std::size_t> anywhere(0, 16384 + 200);
  for (int i = 0; i < 30; ++i) offsets.push_back(anywhere(random));
  Sweep(0, Cases(offsets));
}

TEST_F(VdbCorruptionTest, MemoAndBlobBlocks) {
  for (int file : {1, 2}) {
    std::vector<std::size_t> offsets = {0, 1, 3, 4, 5, 7, 8, 9, 10, 11};
    // Next pointers and first payload bytes (blob lengths) of the first blocks, and the end.
    for (std::size_t block = 1; block < 12; ++block) {
      for (std::size_t k : {0u, 1u, 3u, 4u, 5u, 7u, 100u}) offsets.push_back(block * 512 + k);
    }
    offsets.push_back(Good[file].size() - 1);
    offsets.push_back(Good[file].size() / 2);
    Sweep(file, Cases(offsets));
  }
  EXPECT_GT(Errors, 0);
}

}  // namespace
}  // namespace vdb
