#include "base/vuServices.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <vector>

namespace vdb {
namespace {

TEST(vuServicesTest, TickArithmeticAcrossTheWrap) {
  struct Case {
    const char* Name;
    std::uint32_t Earlier;
    std::uint32_t Later;
    std::uint32_t Elapsed;
  };
  const Case cases[] = {
      {"plain", 1000, 1500, 500},
      {"equal", 7, 7, 0},
      {"across the wrap", 0xFFFFFFF0u, 0x10u, 0x20u},
      {"just before the wrap", 0xFFFFFFFFu, 0u, 1u},
      {"longest comparable distance", 0xC0000000u, 0x3FFFFFFFu, 0x7FFFFFFFu},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(vuElapsedMs(c.Earlier, c.Later), c.Elapsed) << c.Name;
    EXPECT_EQ(vuTickBefore(c.Earlier, c.Later), c.Elapsed != 0) << c.Name;
    EXPECT_FALSE(vuTickBefore(c.Later, c.Earlier)) << c.Name;
    EXPECT_TRUE(vuDeadlineReached(c.Later, c.Earlier)) << c.Name;
  }
}

TEST(vuServicesTest, DeadlineAcrossTheWrap) {
  const std::uint32_t now = 0xFFFFFFF6u;  // 10 ms before the wrap
  const std::uint32_t deadline = vuDeadline(now, 25);
  EXPECT_EQ(deadline, 15u);
  struct Case {
    std::uint32_t Now;
    bool Reached;
    std::uint32_t Remaining;
  };
  const Case cases[] = {
      {now, false, 25},
      {0xFFFFFFFFu, false, 16},
      {0u, false, 15},
      {14u, false, 1},
      {15u, true, 0},
      {1000u, true, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(vuDeadlineReached(c.Now, deadline), c.Reached) << c.Now;
    EXPECT_EQ(vuRemainingMs(c.Now, deadline), c.Remaining) << c.Now;
  }
}

// A wait loop as lock code writes it: poll, pause, give up at the deadline. With the fake
// services it runs instantly and must end after the time-out, also across the wrap.
TEST(vuServicesTest, FakeSleepMovesFakeClock) {
  for (const std::uint32_t start : {0u, 0xFFFFFFF0u, 0xFFFFFFFEu}) {
    TvuFakeClock clock(start);
    TvuFakeSleeper sleeper(clock);
    const std::uint32_t deadline = vuDeadline(clock.NowMs(), 20);
    int polls = 0;
    while (!vuDeadlineReached(clock.NowMs(), deadline)) {
      ++polls;
      ASSERT_LT(polls, 100) << "wait loop does not end for start " << start;
      sleeper.SleepMs(5);
    }
    EXPECT_EQ(polls, 4) << start;
    EXPECT_EQ(vuElapsedMs(start, clock.NowMs()), 20u) << start;
    EXPECT_EQ(sleeper.Calls(), 4u);
    EXPECT_EQ(sleeper.TotalMs(), 20u);
  }
}

TEST(vuServicesTest, FakeSleepHookSeesTheMovedClock) {
  TvuFakeClock clock(100);
  TvuFakeSleeper sleeper(clock);
  std::vector<std::uint32_t> seen;
  sleeper.SetOnSleep([&](std::uint32_t ms) { seen.push_back(clock.NowMs() + ms * 1000); });
  sleeper.SleepMs(5);
  sleeper.SleepMs(10);
  EXPECT_EQ(seen, (std::vector<std::uint32_t>{105 + 5000, 115 + 10000}));
  clock.SetMs(3);
  EXPECT_EQ(clock.NowMs(), 3u);
}

TEST(vuServicesTest, RealClockAndSleep) {
  TvuMonotonicClock clock;
  TvuSystemSleeper sleeper;
  const std::uint32_t start = clock.NowMs();
  sleeper.SleepMs(20);
  const std::uint32_t end = clock.NowMs();
  EXPECT_FALSE(vuTickBefore(end, start));
  EXPECT_GE(vuElapsedMs(start, end), 20u);
  EXPECT_LT(vuElapsedMs(start, end), 10000u);
  sleeper.SleepMs(0);  // returns at once
}

TEST(vuServicesTest, FakeRandomIsScriptedThenRepeatable) {
  TvuFakeRandom random(7);
  random.Queue(5);
  random.Queue(12);
  random.Queue(9);
  EXPECT_EQ(random.NextBelow(100), 5u);
  EXPECT_EQ(random.NextBelow(10), 2u);  // 12 reduced below the bound
  EXPECT_EQ(random.NextBelow(0), 0u);   // the queued 9 is used up by a bound of 0

  TvuFakeRandom a(42);
  TvuFakeRandom b(42);
  for (int i = 0; i < 50; ++i) {
    const std::uint32_t x = a.NextBelow(0x7FFFFFFFu);
    EXPECT_EQ(x, b.NextBelow(0x7FFFFFFFu));
    EXPECT_LT(x, 0x7FFFFFFFu);
  }
}

TEST(vuServicesTest, SystemRandomStaysBelowBound) {
  TvuSystemRandom random;
  std::set<std::uint32_t> seen;
  for (int i = 0; i < 1000; ++i) {
    const std::uint32_t x = random.NextBelow(6);
    ASSERT_LT(x, 6u);
    seen.insert(x);
  }
  EXPECT_EQ(seen.size(), 6u);  // 1000 draws miss one of six values with probability ~1e-79
  EXPECT_EQ(random.NextBelow(1), 0u);
  EXPECT_EQ(random.NextBelow(0), 0u);
}

TEST(vuServicesTest, DefaultServicesAreShared) {
  const TvuServices a = vuDefaultServices();
  const TvuServices b = vuDefaultServices();
  EXPECT_EQ(&a.Clock, &b.Clock);
  EXPECT_EQ(&a.Sleeper, &b.Sleeper);
  EXPECT_EQ(&a.Random, &b.Random);
}

}  // namespace
}  // namespace vdb
