// A full disk through a real file size limit: a child process (fork) lowers RLIMIT_FSIZE
// (with SIGXFSZ ignored, so a write beyond it fails with EFBIG) and appends towns with long
// notes until an append fails. The failing append must report a write error, leave the
// table as it was (checked in the child, which also tries further appends and closes), and
// after reopening without the limit every confirmed town is there and the table passes its
// check.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "ChildProcessSupport.h"
#include "TownStepsSupport.h"
#include "base/VdbErrorCodes.h"

namespace vdb {
namespace {

using test::TModelTown;
using test::TOsWorld;

TModelTown TownNo(int i) {
  return {u"F" + VdbUtf8ToUtf16(std::to_string(i)), 5000 + i, std::string(900 + i % 300, static_cast<char>('a' + i % 26))};
}

// What the child reports through its side file.
struct TChildReport {
  std::int32_t Confirmed = 0;
  std::int32_t FailedWith = 0;
  std::int32_t LaterResult = 0;
  std::int32_t CloseResult = 0;
};

// Exit codes: 0 all as expected, 2 setup, 3 no append failed, 4 state changed by the failure,
// 5 check problems after the failure.
[[noreturn]] void RunChild(const std::filesystem::path& dir, rlim_t limit) {
  ::signal(SIGXFSZ, SIG_IGN);
  const int side = ::open((dir / "report").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  const rlimit rl{limit, limit};
  if (side < 0 || ::setrlimit(RLIMIT_FSIZE, &rl) != 0) ::_exit(2);
  TChildReport report;
  int exitCode = 0;
  {
    TOsWorld world(dir);
    auto t = world.Open();
    if (!t) ::_exit(2);
    std::vector<TModelTown> model = test::ModelState(*t);
    for (int i = 1; i <= 5000; ++i) {
      const TModelTown town = TownNo(i);
      const std::int32_t r = test::AppendTown(*t, town.Name, town.Code, town.Note);
      if (r < 0) {
        report.FailedWith = r;
        break;
      }
      model.push_back(town);
      report.Confirmed = i;
    }
    if (report.FailedWith == 0) exitCode = 3;
    if (exitCode == 0 && test::ModelState(*t) != model) exitCode = 4;
    if (exitCode == 0 && !t->VerifyTable().empty()) exitCode = 5;
    const TModelTown more = TownNo(9999);
    report.LaterResult = test::AppendTown(*t, more.Name, more.Code, more.Note);
    if (report.LaterResult > 0) model.push_back(more);
    if (exitCode == 0 && test::ModelState(*t) != model) exitCode = 4;
    report.CloseResult = t->Close();
  }
  if (::pwrite(side, &report, sizeof report, 0) != static_cast<ssize_t>(sizeof report)) ::_exit(2);
  ::_exit(exitCode);
}

TEST(DiskFullTest, AFileSizeLimitFailsTheAppendThatNeedsRoomAndLosesNothingConfirmed) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("vidora-full-" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  std::vector<TModelTown> initial = test::InitialTowns(5);
  ASSERT_NO_FATAL_FAILURE(test::CreateTownsOnDisk(dir, initial));
  // Every file may grow to this size; the note file reaches it first.
  const rlim_t limit = 256 * 1024;
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) RunChild(dir, limit);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "the child died with signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0) << "2 setup, 3 no append failed, 4 the failure changed the table, 5 check problems";
  TChildReport report;
  {
    const int f = ::open((dir / "report").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(f, 0);
    ASSERT_EQ(::pread(f, &report, sizeof report, 0), static_cast<ssize_t>(sizeof report));
    ::close(f);
  }
  EXPECT_GT(report.Confirmed, 50);
  EXPECT_TRUE(report.FailedWith == -errFileWrite || report.FailedWith == -errIndexWrite)
      << "the failing append returned " << report.FailedWith;
  EXPECT_LT(report.LaterResult, 0) << "a later append of the same size finds no more room";
  EXPECT_EQ(report.CloseResult, 0);

  TOsWorld world(dir);
  auto t = world.Open();
  ASSERT_NE(t, nullptr) << VdbUtf16ToUtf8(world.LastError.Msg());
  std::vector<TModelTown> expected = initial;
  for (int i = 1; i <= report.Confirmed; ++i) expected.push_back(TownNo(i));
  EXPECT_EQ(test::ModelState(*t), expected);
  EXPECT_EQ(test::Problems(t->VerifyTable()), "");
  EXPECT_FALSE(std::filesystem::exists(dir / "Towns.vdbr"));
  t.reset();
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace vdb
