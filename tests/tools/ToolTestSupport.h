// Helpers of the tool tests: a scratch directory per test on the operating system's file
// system, and a settlement table opened from such a directory through the engine, read by
// column name. Test thread only.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/VdbFormat.h"
#include "base/VdbLastError.h"
#include "storage/VdbPageMan.h"
#include "storage/vuOSFileSystem.h"
#include "base/vuServices.h"
#include "tables/VdbBaseTable.h"
#include "types/VdbData.h"
#include "types/vuCodePage.h"
#include "sql/VdbSqlCompiler.h"
#include "WalkBound.h"

namespace vidora::tools::test {

// A fresh directory named after the running test, removed afterwards.
class TScratchDir {
 public:
  explicit TScratchDir(const std::string& tag = {}) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : std::string("suite");
    for (auto& c : name) {
      if (c == '/') c = '_';
    }
    Path = std::filesystem::temp_directory_path() /
           ("vidora-tools-" + std::to_string(::getpid()) + "-" + name + (tag.empty() ? "" : "-" + tag));
    std::filesystem::remove_all(Path);
    std::filesystem::create_directories(Path);
  }
  ~TScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(Path, ec);
  }
  TScratchDir(const TScratchDir&) = delete;
  TScratchDir& operator=(const TScratchDir&) = delete;

  // Writes `text` into file `name` of the directory and returns its path.
  std::filesystem::path Write(const std::string& name, const std::string& text) const {
    std::ofstream(Path / name, std::ios::binary) << text;
    return Path / name;
  }
  // Names of the directory's entries (hidden ones included), sorted.
  std::vector<std::string> Entries(const std::filesystem::path& sub = {}) const {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(Path / sub)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }

  std::filesystem::path Path;
};

// A table of a directory opened exclusively through the engine (no lock file is made).
class TOpenTable {
 public:
  explicit TOpenTable(const std::filesystem::path& dataFile) {
    PageManager.RegisterClient(1, 8192);
    Table = std::make_unique<vdb::TVdbBaseTable>(Env);
    Table->SetRights(0x010F);
    Table->SetFileName(vdb::VdbUtf8ToUtf16(dataFile.string()));
    Opened = Table->Open(false) == 0 && Table->Setup(false) == 0;
    if (!Opened) ADD_FAILURE() << "cannot open " << dataFile << ": " << vdb::VdbUtf16ToUtf8(LastError.Msg());
    Record.assign(static_cast<std::size_t>(Table->GetRecordSize()), 0);
  }
  ~TOpenTable() {
    Table->Close();
    Table.reset();
    PageManager.UnregisterClient(1, 8192);
  }
  TOpenTable(const TOpenTable&) = delete;
  TOpenTable& operator=(const TOpenTable&) = delete;

  const vdb::TVdbColumnDef& Column(const char* name) const {
    return Table->ColumnDefs().GetColumnDef(Table->ColumnDefs().Find(vdb::VdbUtf8ToUtf16(name)));
  }
  void Read(std::int32_t recNo) { ASSERT_EQ(Table->ReadRecord(recNo, Record), 0); }
  // Values of the record last read; nullopt for null.
  std::optional<std::u16string> Text(const char* column) {
    const vdb::TVdbColumnDef& c = Column(column);
    vdb::TVdbDataValue v;
    c.DataType()->SetReference(v, Record, static_cast<std::size_t>(c.Position()));
    if (c.DataType()->IsNull(v)) return std::nullopt;
    if (c.DataType()->ColumnType() == vdb::vctMemo) {
      const auto& type = *static_cast<const vdb::TVdbStringType*>(c.DataType());
      const std::int32_t block = static_cast<std::int32_t>(c.DataType()->GetInteger(v));
      return vdb::TvuCodePage::ToUnicode(type.CodePage(), Table->MemoFile()->ReadMemo(block));
    }
    return c.DataType()->GetWideString(v);
  }
  std::optional<std::int64_t> Number(const char* column) {
    const vdb::TVdbColumnDef& c = Column(column);
    vdb::TVdbDataValue v;
    c.DataType()->SetReference(v, Record, static_cast<std::size_t>(c.Position()));
    if (c.DataType()->IsNull(v)) return std::nullopt;
    return c.DataType()->GetInteger(v);
  }
  // Record numbers in the order of index `name`.
  std::vector<std::int32_t> IndexWalk(const char* name) {
    std::vector<std::int32_t> out;
    const vdb::TVdbIndexNo no = Table->GetIndexNo(vdb::VdbUtf8ToUtf16(name));
    if (no < 0) {
      ADD_FAILURE() << "no index " << name;
      return out;
    }
    vdb::TVdbIndexFile& index = Table->GetIndexFile(no);
    std::vector<std::uint8_t> entry;
    testsupport::TWalkBound bound(static_cast<std::size_t>(Table->GetRecordCount()), "the walk over an index");
    for (auto r = index.Erster_Index(entry); r == 0 && bound.Step(); r = index.Naechster_Index(entry)) {
      out.push_back(vdb::VdbEntryRecNo(entry));
    }
    return out;
  }

  vdb::TvuOSFileSystem Fs;
  vdb::TVdbPageManager PageManager;
  vdb::TVdbLastError LastError;
  vdb::TvuFakeClock Clock;
  vdb::TvuFakeSleeper Sleeper{Clock};
  vdb::TvuFakeRandom Random{7};
  vdb::TVdbTableEnvironment Env{PageManager, Fs, 1, LastError, vdb::TvuServices{Clock, Sleeper, Random},
                                vdb::tilNone, vdb::kVdbDefaultBlockSize, &vdb::VdbSqlCompiler()};
  std::unique_ptr<vdb::TVdbBaseTable> Table;
  bool Opened = false;
  std::vector<std::uint8_t> Record;
};

}  // namespace vidora::tools::test
