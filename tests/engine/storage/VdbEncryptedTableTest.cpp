// Enciphered and password-protected tables as a whole: the settlement table with its notes
// and three indexes made under each method, closed, reopened with the right key and read back
// identically; refused with 38 under a wrong or missing key before any record is read; plain
// bytes on disk under protection and none of the plain texts under a cipher; and a write
// whose flush fails halfway through leaves cache and files readable with the right key.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "../support/FaultFileSystem.h"
#include "../support/SettlementWorld.h"
#include "base/VdbErrorCodes.h"
#include "storage/vuCrypt.h"

namespace vdb {
namespace {

using test::cCount;
using test::cEgyeb;
using test::cTelep;
using test::cTerulet;

using Row = std::vector<std::u16string>;

const std::vector<Row>& Rows() {
  static const std::vector<Row> rows = test::ReadSettlements();
  return rows;
}

// A database directory in memory behind a file system that can fail one write.
struct TEncryptedWorld {
  TEncryptedWorld() {
    Mem.ForcePath(u"/db");
    PageManager.RegisterClient(1, 65536);
  }
  ~TEncryptedWorld() { PageManager.UnregisterClient(1, 65536); }

  // Opens /db/Irsz with `key`: the status and the table object (closed on failure).
  std::pair<std::int16_t, std::unique_ptr<TVdbBaseTable>> Open(const std::u16string& key) {
    auto t = std::make_unique<TVdbBaseTable>(Env);
    t->SetRights(0x010F);
    t->SetFileName(u"/db/Irsz.vdbt");
    t->SetKey(key);
    std::int16_t r = t->Open(false);
    if (r == 0) r = t->Setup(false);
    return {r, std::move(t)};
  }

  TvuMemoryFileSystem Mem{8192};
  test::TFaultFileSystem Fs{Mem};
  TVdbPageManager PageManager;
  TVdbLastError LastError;
  TvuFakeClock Clock;
  TvuFakeSleeper Sleeper{Clock};
  TvuFakeRandom Random{7};
  TVdbTableEnvironment Env{PageManager, Fs, 1, LastError, TvuServices{Clock, Sleeper, Random}};
};

std::string CodePageBytes(const std::u16string& text) {
  const auto bytes = TvuCodePage::FromUnicode(1250, text);
  return std::string(bytes.begin(), bytes.end());
}

// Fills `record` from `row`; the note goes straight into the memo file, or into `blobs` for
// the write path to store.
void FillRecord(TVdbBaseTable& t, std::vector<std::uint8_t>& record, const Row& row,
                TVdbBlobDataList* blobs = nullptr) {
  std::fill(record.begin(), record.end(), std::uint8_t{0});
  for (int c = 0; c < cCount; ++c) {
    const std::u16string& text = row[static_cast<std::size_t>(c)];
    const TVdbColumnDef& col = t.ColumnDefs().GetColumnDef(c);
    if (c == cEgyeb && blobs != nullptr) {
      const std::string bytes = CodePageBytes(text);
      blobs->push_back(TVdbBlobData{c + 1, std::vector<std::uint8_t>(bytes.begin(), bytes.end()), false});
    } else if (c == cEgyeb) {
      t.WriteMemoString(record, c + 1, CodePageBytes(text));
    } else if (text.empty()) {
      test::SetNullField(t, record, c);
    } else if (c == cTerulet) {
      TVdbDataValue v;
      col.DataType()->SetReference(v, record, static_cast<std::size_t>(col.Position()));
      col.DataType()->SetDouble(v, static_cast<double>(test::ToInt(text)));
    } else if (col.DataType()->IsString()) {
      test::SetText(t, record, c, text);
    } else {
      test::SetInt(t, record, c, test::ToInt(text));
    }
  }
}

// Every field of record `recNo` as text, the note read from the memo file.
Row ReadRow(TVdbBaseTable& t, std::int32_t recNo) {
  std::vector<std::uint8_t> record(static_cast<std::size_t>(t.GetRecordSize()));
  t.ReadRecord(recNo, record);
  Row row(cCount);
  for (int c = 0; c < cCount; ++c) {
    if (c == cEgyeb) {
      const auto bytes = t.ReadBlobValue(record, c + 1);
      row[c] = TvuCodePage::ToUnicode(1250, std::string(bytes.begin(), bytes.end()));
    } else if (test::IsNullField(t, record, c)) {
      row[c].clear();
    } else if (t.ColumnDefs().GetColumnDef(c).DataType()->IsString()) {
      row[c] = test::GetText(t, record, c);
    } else {
      const std::string digits = std::to_string(test::GetInt(t, record, c));
      row[c] = std::u16string(digits.begin(), digits.end());
    }
  }
  return row;
}

void CreateFilled(TEncryptedWorld& w, TvuEncryptionMethod method, const std::u16string& key, std::size_t count) {
  TVdbNewTable def = test::SettlementDefinition();
  def.EncryptionMethod = method;
  def.Key = key;
  {
    TVdbBaseTable creator(w.Env);
    ASSERT_EQ(creator.NewTable(def), 0) << VdbUtf16ToUtf8(w.LastError.Msg());
  }
  auto [r, t] = w.Open(key);
  ASSERT_EQ(r, 0) << VdbUtf16ToUtf8(w.LastError.Msg());
  std::vector<std::uint8_t> record(static_cast<std::size_t>(t->GetRecordSize()));
  for (std::size_t i = 0; i < count; ++i) {
    FillRecord(*t, record, Rows()[i]);
    test::AppendRaw(*t, record);
  }
  ASSERT_EQ(t->RegenIndex(), 0) << VdbUtf16ToUtf8(w.LastError.Msg());
  t->Close();
}

bool Contains(const std::vector<std::uint8_t>& file, const std::string& text) {
  return std::search(file.begin(), file.end(), text.begin(), text.end()) != file.end();
}

struct TMethodCase {
  TvuEncryptionMethod Method;
  const char* Name;
};

class VdbEncryptedTable : public ::testing::TestWithParam<TMethodCase> {};

TEST_P(VdbEncryptedTable, SettlementsComeBackWithTheRightKeyOnly) {
  const TvuEncryptionMethod method = GetParam().Method;
  const std::u16string key = u"Titkos jelsz\u00f3 2024";
  ASSERT_EQ(Rows().size(), 3155u) << test::SettlementsCsv();
  TEncryptedWorld w;
  CreateFilled(w, method, key, Rows().size());
  if (HasFatalFailure()) return;

  // What the files hold: under protection the plain texts, under a cipher none of them.
  const std::u16string name = Rows()[0][cTelep];
  // A run of plain ASCII from a note (the memo's own code page aside).
  std::string note;
  for (const Row& r : Rows()) {
    std::string run;
    for (char16_t c : r[cEgyeb]) {
      run = c >= 0x20 && c < 0x7F ? run + static_cast<char>(c) : std::string();
      if (run.size() >= 8) break;
    }
    if (run.size() >= 8) {
      note = run;
      break;
    }
  }
  ASSERT_FALSE(note.empty());
  const auto data = w.Mem.Contents(u"/db/Irsz.vdbt");
  const auto memo = w.Mem.Contents(u"/db/Irsz.vdbm");
  const auto index = w.Mem.Contents(TVdbTableFileNames(u"/db/Irsz.vdbt", 6).IndexFile(u"TELEP"));
  ASSERT_FALSE(index.empty());
  const bool plain = method == emNone || method == emProtection;
  EXPECT_EQ(Contains(data, CodePageBytes(name)), plain);
  EXPECT_EQ(Contains(memo, note), plain) << note;
  EXPECT_EQ(Contains(index, CodePageBytes(name)), plain);

  // A wrong key, a missing one and near misses are refused before any record is read.
  if (method != emNone) {
    for (const std::u16string& wrong : {std::u16string(u"titkos jelsz\u00f3 2024"), std::u16string(),
                                        std::u16string(u"Titkos Jelsz\u00f3 2024"), std::u16string(u"Titkos")}) {
      auto [r, t] = w.Open(wrong);
      EXPECT_EQ(r, -errInvalidCredentials) << VdbUtf16ToUtf8(wrong);
      EXPECT_FALSE(t->GetActive());
    }
    // The ciphers take the whole key; protection stores and compares its first ten
    // characters only.
    auto [r, t] = w.Open(key + u"x");
    EXPECT_EQ(r, method == emProtection ? 0 : -errInvalidCredentials);
  }

  auto [r, t] = w.Open(key);
  ASSERT_EQ(r, 0) << VdbUtf16ToUtf8(w.LastError.Msg());
  ASSERT_EQ(t->GetRecordCount(), 3155);
  for (std::int32_t recNo = 1; recNo <= 3155; ++recNo) {
    ASSERT_EQ(ReadRow(*t, recNo), Rows()[static_cast<std::size_t>(recNo - 1)]) << "record " << recNo;
  }
  // The indexes read back through the same key: every record's entry is where it belongs.
  const auto problems = t->VerifyTable();
  EXPECT_TRUE(problems.empty()) << VdbUtf16ToUtf8(problems.empty() ? u"" : problems.front());
  t->Close();
}

INSTANTIATE_TEST_SUITE_P(Methods, VdbEncryptedTable,
                         ::testing::Values(TMethodCase{emNone, "None"}, TMethodCase{emProtection, "Protection"},
                                           TMethodCase{emFast, "Fast"}, TMethodCase{emBlowfish, "Blowfish"},
                                           TMethodCase{emRijndael, "Rijndael"}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(VdbEncryptedTableTest, NewTablesRefuseClassicMethodsAndMissingKeys) {
  TEncryptedWorld w;
  TVdbNewTable def = test::SettlementDefinition();
  def.EncryptionMethod = emClassic1;
  def.Key = u"jelszo;42";
  TVdbBaseTable creator(w.Env);
  EXPECT_EQ(creator.NewTable(def), -errFeatureNotAtLevel);
  def.EncryptionMethod = emBlowfish;
  def.Key.clear();
  TVdbBaseTable second(w.Env);
  EXPECT_EQ(second.NewTable(def), -errInvalidPassword);
  EXPECT_FALSE(w.Mem.FileExists(u"/db/Irsz.vdbt"));
}

// The n-th write of an append's flush fails, for n = 1, 2, ...: the append is refused or
// kept, and either way every record the table reports reads back as written, the indexes
// agree with the records, and after closing the table reopens with the right key.
TEST(VdbEncryptedTableTest, AFailedWriteInAFlushLeavesCacheAndFilesReadable) {
  const std::u16string key = u"kulcs";
  TEncryptedWorld w;
  CreateFilled(w, emBlowfish, key, 100);
  if (HasFatalFailure()) return;
  std::vector<Row> model(Rows().begin(), Rows().begin() + 100);
  auto [r, t] = w.Open(key);
  ASSERT_EQ(r, 0);
  std::vector<std::uint8_t> record(static_cast<std::size_t>(t->GetRecordSize()));
  int failures = 0;
  for (int failAt = 1; failAt <= 12; ++failAt) {
    SCOPED_TRACE("failing write " + std::to_string(failAt));
    const Row& row = Rows()[100 + static_cast<std::size_t>(failAt)];
    w.Fs.Arm(failAt);
    std::int32_t got = -1;
    try {
      TVdbBlobDataList blobs;
      FillRecord(*t, record, row, &blobs);
      got = t->AppendRecord(record, blobs);
    } catch (const EVdbEngine&) {
      got = -1;
    }
    const bool fired = w.Fs.Fired();
    w.Fs.Arm(0);
    if (fired) ++failures;
    if (got > 0) model.push_back(row);
    EXPECT_TRUE(got > 0 || fired) << "only the failed write may refuse the append";
    ASSERT_EQ(t->GetRecordCount(), static_cast<std::int32_t>(model.size()));
    for (std::int32_t recNo = 1; recNo <= t->GetRecordCount(); ++recNo) {
      ASSERT_EQ(ReadRow(*t, recNo), model[static_cast<std::size_t>(recNo - 1)]) << "record " << recNo;
    }
    const auto problems = t->VerifyTable();
    ASSERT_TRUE(problems.empty()) << VdbUtf16ToUtf8(problems.front());
  }
  EXPECT_GT(failures, 3) << "the failures must reach the flush";
  t->Close();
  auto [r2, again] = w.Open(key);
  ASSERT_EQ(r2, 0) << VdbUtf16ToUtf8(w.LastError.Msg());
  ASSERT_EQ(again->GetRecordCount(), static_cast<std::int32_t>(model.size()));
  for (std::int32_t recNo = 1; recNo <= again->GetRecordCount(); ++recNo) {
    ASSERT_EQ(ReadRow(*again, recNo), model[static_cast<std::size_t>(recNo - 1)]) << "record " << recNo;
  }
  const auto problems = again->VerifyTable();
  EXPECT_TRUE(problems.empty()) << VdbUtf16ToUtf8(problems.empty() ? u"" : problems.front());
}

}  // namespace
}  // namespace vdb
