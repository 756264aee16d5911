// Damaged table files, a table of cases per file: single-byte flips over the header and the
// first pages, 4-byte fields set to 0, -1 and the largest value, truncation at block
// boundaries, for the data file, each index file, the note file and a redo log left by a
// crash. The table is then opened and every order walked with a cursor, each record and note
// read, and the table checked: each step gives an error code or valid data, never a crash and
// never a walk that does not end (a walk is cut off after more steps than the table has
// records and fails the case).
#include <gtest/gtest.h>

#include <functional>
#include <iostream>
#include <map>

#include "TownStepsSupport.h"
#include "session/VdbAccessor.h"

namespace vdb {
namespace {

using TFiles = std::map<std::u16string, std::vector<std::uint8_t>>;

constexpr int kTowns = 40;

// The files of a towns table, and those a crash in the middle of a transaction leaves.
struct TTableFiles {
  TFiles Closed;
  TFiles WithLog;
};

TFiles FilesOf(test::TTableWorld& world) {
  TFiles files;
  TvuFindFileRec rec;
  for (bool more = world.Fs.FindFirstFile(u"/db/*", 0, rec); more; more = world.Fs.FindNextFile(rec)) {
    files[u"/db/" + rec.Name] = world.Fs.Contents(u"/db/" + rec.Name);
  }
  world.Fs.FindFileClose(rec);
  return files;
}

const TTableFiles& Originals() {
  static const TTableFiles files = [] {
    TTableFiles f;
    test::TTableWorld world;
    EXPECT_EQ(world.NewTableObject()->NewTable(test::TownsDefinition(u"/db/Towns")), 0);
    auto t = world.OpenTable(u"/db/Towns.vdbt");
    std::vector<test::TModelTown> model = test::InitialTowns(kTowns);
    for (const auto& town : model) EXPECT_GT(test::AppendTown(*t, town.Name, town.Code, town.Note), 0);
    t.reset();
    f.Closed = FilesOf(world);
    // A transaction whose process died: changes and log on the files.
    t = world.OpenTable(u"/db/Towns.vdbt");
    world.Env.IsolationLevel = tilReadCommited;
    for (std::int32_t k = 1; k <= 6; ++k) {
      const test::TStep step = test::DrawStep(5, k, model, 0);
      EXPECT_GE(test::ApplyStepOp(*t, step.Ops.front()), 0);
    }
    t->Flush(true);
    test::TTableWorld crashed;
    test::Snapshot(world.Fs, crashed.Fs);
    f.WithLog = FilesOf(crashed);
    world.Env.IsolationLevel = tilNone;
    static_cast<void>(t->UndoModifications());
    return f;
  }();
  return files;
}

// Opens the table over `files`, walks every order and reads everything. Empty, or the reason
// the case failed (a walk that does not end).
std::string Exercise(const TFiles& files) {
  test::TTableWorld world;
  for (const auto& [path, bytes] : files) {
    const TvuFileHandle h = world.Fs.CreateFile(path);
    if (!bytes.empty()) world.Fs.FileWrite(h, 0, bytes.data(), static_cast<std::int64_t>(bytes.size()));
    world.Fs.CloseFile(h);
  }
  auto t = world.NewTableObject();
  t->SetRights(0x010F);
  t->SetFileName(u"/db/Towns.vdbt");
  if (t->Open(false) < 0) return {};
  if (t->Setup(false) < 0) return {};
  const std::int32_t count = t->GetRecordCount();
  TVdbAccessor cursor(*t, u"walk");
  std::vector<std::uint8_t> record(static_cast<std::size_t>(t->GetRecordSize()));
  for (TVdbSortNo order = -1; order <= t->GetLastIndexNo(); ++order) {
    if (cursor.SetAccess(order < 0 ? kVdbNaturalOrder : order) < 0) continue;
    for (const bool forward : {true, false}) {
      std::int16_t r = forward ? cursor.First() : cursor.Last();
      std::int32_t steps = 0;
      while (r >= 0) {
        if (++steps > count + 2) return "a walk over order " + std::to_string(order) + " does not end";
        static_cast<void>(cursor.GetRecord(record));
        std::uint16_t type = 0;
        static_cast<void>(cursor.InitGetBlob(test::tcNote + 1, -1, type));
        r = forward ? cursor.Next() : cursor.Prior();
      }
    }
  }
  static_cast<void>(t->VerifyTable());
  return {};
}

enum class TDamage { dFlip, dZero32, dOnes32, dMax32, dCut };

std::vector<std::uint8_t> Damaged(std::vector<std::uint8_t> bytes, std::size_t offset, TDamage kind) {
  const auto put32 = [&](std::uint32_t v) {
    for (std::size_t i = 0; i < 4 && offset + i < bytes.size(); ++i) bytes[offset + i] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  switch (kind) {
    case TDamage::dFlip:
      if (offset < bytes.size()) bytes[offset] ^= 0xFF;
      break;
    case TDamage::dZero32: put32(0); break;
    case TDamage::dOnes32: put32(0xFFFFFFFFu); break;
    case TDamage::dMax32: put32(0x7FFFFFFFu); break;
    case TDamage::dCut:
      if (offset < bytes.size()) bytes.resize(offset);
      break;
  }
  return bytes;
}

struct TFileCase {
  const char* Name;
  std::u16string Extension;  // of the damaged file
  bool WithLog;
  std::size_t FlipBytes, FlipStride;  // flips over [0, FlipBytes) every FlipStride bytes
  std::size_t FieldBytes;             // 4-byte fields over [0, FieldBytes)
  std::size_t CutStride;              // cuts every CutStride bytes
};

class DamagedTableTest : public ::testing::TestWithParam<TFileCase> {};

TEST_P(DamagedTableTest, EveryDamageGivesAnErrorOrValidDataAndNoEndlessWalk) {
  const TFileCase& c = GetParam();
  const TFiles& originals = c.WithLog ? Originals().WithLog : Originals().Closed;
  std::vector<std::u16string> targets;
  for (const auto& [path, bytes] : originals) {
    if (path.size() >= c.Extension.size() && path.compare(path.size() - c.Extension.size(), c.Extension.size(), c.Extension) == 0) {
      targets.push_back(path);
    }
  }
  ASSERT_FALSE(targets.empty());
  int cases = 0;
  for (const std::u16string& target : targets) {
    const std::vector<std::uint8_t>& bytes = originals.at(target);
    const auto run = [&](std::size_t offset, TDamage kind) {
      TFiles files = originals;
      files[target] = Damaged(bytes, offset, kind);
      ++cases;
      const std::string failure = Exercise(files);
      EXPECT_EQ(failure, "") << VdbUtf16ToUtf8(target) << " damaged at " << offset << " (kind "
                             << static_cast<int>(kind) << ")";
    };
    for (std::size_t o = 0; o < std::min(c.FlipBytes, bytes.size()); o += c.FlipStride) run(o, TDamage::dFlip);
    for (std::size_t o = 0; o + 4 <= std::min(c.FieldBytes, bytes.size()); o += 4) {
      for (const TDamage kind : {TDamage::dZero32, TDamage::dOnes32, TDamage::dMax32}) run(o, kind);
    }
    for (std::size_t o = 0; o < bytes.size(); o += c.CutStride) run(o, TDamage::dCut);
    if (HasFailure()) break;
  }
  std::cout << c.Name << ": " << cases << " damaged copies\n";
}

INSTANTIATE_TEST_SUITE_P(
    Files, DamagedTableTest,
    ::testing::Values(TFileCase{"data file", u".vdbt", false, 1024, 3, 96, 2048},
                      TFileCase{"index files", u".vdbi", false, 1200, 7, 64, 4096},
                      TFileCase{"note file", u".vdbm", false, 1024, 5, 32, 512},
                      TFileCase{"redo log", u".vdbr", true, 100000, 5, 64, 11}),
    [](const ::testing::TestParamInfo<TFileCase>& info) {
      std::string name = info.param.Name;
      for (char& ch : name) {
        if (ch == ' ') ch = '_';
      }
      return name;
    });

}  // namespace
}  // namespace vdb
