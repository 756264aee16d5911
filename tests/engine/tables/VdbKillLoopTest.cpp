// Kill loop without transactions: a child process (fork) appends, changes and deletes towns
// with notes on a table in a temporary directory of the real file system, one call at a
// time, and writes the number of each confirmed call to a side file right after the call
// returned; the parent kills it with SIGKILL at a random moment. Opening the table again
// must show every confirmed change (and at most the one call in flight on top), and the
// table must pass its check: data file, indexes and notes agree.
//
// The seed comes from VIDORA_SEED (printed); VDB_KILL_TRIALS sets the number of trials (the
// soak script raises it) and makes the test print its figures.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <thread>

#include "ChildProcessSupport.h"
#include "TestSeed.h"
#include "TownStepsSupport.h"

namespace vdb {
namespace {

using test::TModelTown;
using test::TOsWorld;

constexpr int kInitialTowns = 8;

[[noreturn]] void RunChild(const std::filesystem::path& dir, std::uint32_t seed) {
  const int progress = ::open((dir / "progress").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  TOsWorld world(dir);
  auto t = world.Open();
  if (!t || progress < 0) ::_exit(2);
  // Opened: the parent starts its clock now, so that the kill falls among the writes.
  const int ready = ::open((dir / "ready").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (ready < 0) ::_exit(2);
  ::close(ready);
  std::vector<TModelTown> model = test::InitialTowns(kInitialTowns);
  for (std::int32_t k = 1;; ++k) {
    const test::TStep step = test::DrawStep(seed, k, model, 0);
    if (test::ApplyStep(*t, world.Env, step) < 0) ::_exit(4);
    if (::pwrite(progress, &k, sizeof k, 0) != static_cast<ssize_t>(sizeof k)) ::_exit(6);
  }
}

std::uint32_t RunSeed() { return vidora_test::Seed("KillLoopTest"); }

TEST(KillLoopTest, KilledWriterWithoutTransactionsLosesNothingConfirmed) {
  const char* env = std::getenv("VDB_KILL_TRIALS");
  const int trials = env != nullptr ? std::max(1, std::atoi(env)) : 200;
  const std::uint32_t runSeed = RunSeed();
  std::mt19937 rng(runSeed);
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("vidora-kill-" + std::to_string(::getpid()));
  std::int64_t confirmedTotal = 0;
  int inFlightSeen = 0, logsLeft = 0;
  for (int trial = 0; trial < trials && !HasFatalFailure(); ++trial) {
    const std::uint32_t seed = runSeed + static_cast<std::uint32_t>(trial);
    SCOPED_TRACE("trial seed " + std::to_string(seed));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    ASSERT_NO_FATAL_FAILURE(test::CreateTownsOnDisk(dir, test::InitialTowns(kInitialTowns)));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) RunChild(dir, seed);
    for (int wait = 0; wait < 20000 && !std::filesystem::exists(dir / "ready"); ++wait) {
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    ASSERT_TRUE(std::filesystem::exists(dir / "ready")) << "the child did not open the table";
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % 100000));
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the child ended by itself with " << WEXITSTATUS(status);

    const std::int32_t confirmed = test::ReadProgress(dir);
    logsLeft += std::filesystem::exists(dir / "Towns.vdbr") ? 1 : 0;
    TOsWorld world(dir);
    auto t = world.Open();
    ASSERT_NE(t, nullptr) << VdbUtf16ToUtf8(world.LastError.Msg());
    EXPECT_FALSE(std::filesystem::exists(dir / "Towns.vdbr"));
    const auto state = test::ModelState(*t);
    if (state != test::ModelAfterSteps(seed, confirmed, kInitialTowns, 0) &&
        state == test::ModelAfterSteps(seed, confirmed + 1, kInitialTowns, 0)) {
      ++inFlightSeen;
    } else {
      ASSERT_EQ(state, test::ModelAfterSteps(seed, confirmed, kInitialTowns, 0)) << "confirmed calls " << confirmed;
    }
    ASSERT_EQ(test::Problems(t->VerifyTable()), "");
    confirmedTotal += confirmed;
  }
  std::filesystem::remove_all(dir);
  if (env != nullptr) {
    std::cout << "kill loop: " << trials << " trials, " << confirmedTotal << " confirmed calls found, " << inFlightSeen
              << " calls in flight found complete, " << logsLeft << " redo logs left by the kill\n";
  }
}

}  // namespace
}  // namespace vdb
