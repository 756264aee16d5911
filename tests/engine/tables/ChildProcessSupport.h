// Scaffolding of the tests that run a writer in a forked child on the real file system: the
// table environment over a directory, the "Towns" table created there before the fork, and
// the progress number the child leaves in a side file. Test thread only.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <memory>

#include "WriteTestSupport.h"
#include "storage/vuOSFileSystem.h"
#include "sql/VdbSqlCompiler.h"

namespace vdb::test {

// A table environment over the operating system's files of `dir`; the child and the parent
// each build their own, so nothing is shared across the fork.
struct TOsWorld {
  explicit TOsWorld(const std::filesystem::path& dir) : Fs(VdbUtf8ToUtf16(dir.string())) {
    PageManager.RegisterClient(1, 65536);
  }
  ~TOsWorld() { PageManager.UnregisterClient(1, 65536); }
  std::unique_ptr<TVdbBaseTable> Open() {
    auto t = std::make_unique<TVdbBaseTable>(Env);
    t->SetRights(0x010F);
    t->SetFileName(u"Towns.vdbt");
    if (t->Open(false) != 0 || t->Setup(false) != 0) return nullptr;
    return t;
  }
  TvuOSFileSystem Fs;
  TVdbPageManager PageManager;
  TVdbLastError LastError;
  TvuFakeClock Clock;
  TvuFakeSleeper Sleeper{Clock};
  TvuFakeRandom Random{5};
  TVdbTableEnvironment Env{PageManager, Fs, 1, LastError, TvuServices{Clock, Sleeper, Random},
                           tilNone, kVdbDefaultBlockSize, &VdbSqlCompiler()};
};

// Creates "Towns" in `dir` holding `towns` (anything with Name, Code and Note), closed again
// before the child forks. Call through ASSERT_NO_FATAL_FAILURE.
template <class TTowns>
void CreateTownsOnDisk(const std::filesystem::path& dir, const TTowns& towns) {
  TOsWorld world(dir);
  TVdbBaseTable creator(world.Env);
  ASSERT_EQ(creator.NewTable(TownsDefinition(u"Towns")), 0) << VdbUtf16ToUtf8(world.LastError.Msg());
  auto t = world.Open();
  ASSERT_NE(t, nullptr);
  for (const auto& town : towns) ASSERT_GT(AppendTown(*t, town.Name, town.Code, town.Note), 0);
}

// The last number the child confirmed in its "progress" file; 0 when it wrote none.
inline std::int32_t ReadProgress(const std::filesystem::path& dir) {
  std::int32_t n = 0;
  if (const int f = ::open((dir / "progress").c_str(), O_RDONLY | O_CLOEXEC); f >= 0) {
    if (::pread(f, &n, sizeof n, 0) != static_cast<ssize_t>(sizeof n)) n = 0;
    ::close(f);
  }
  return n;
}

}  // namespace vdb::test
