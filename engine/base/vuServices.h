// Clock, sleep and random numbers as small injectable services.
// Lock waits, pauses, time-outs and station ids go through these interfaces so that tests can
// replace them with fakes and run time-dependent behaviour deterministically and instantly.
//
// Ticks are milliseconds of CLOCK_MONOTONIC as uint32_t: they wrap around after about 49.7
// days, so ticks are never compared with < or >; use the helpers below, which are correct
// across the wrap as long as the two ticks lie less than 2^31 ms (about 24.8 days) apart.
//
// Threads: the real services and the fakes may be used from any thread at the same time.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <random>

namespace vdb {

// Milliseconds from `start` to `now`, correct across the wrap.
constexpr std::uint32_t vuElapsedMs(std::uint32_t start, std::uint32_t now) noexcept {
  return now - start;
}

// True when tick `a` lies before tick `b`.
constexpr bool vuTickBefore(std::uint32_t a, std::uint32_t b) noexcept {
  return static_cast<std::int32_t>(a - b) < 0;
}

// The tick `timeoutMs` after `now` (timeoutMs below 2^31).
constexpr std::uint32_t vuDeadline(std::uint32_t now, std::uint32_t timeoutMs) noexcept {
  return now + timeoutMs;
}

// True when `deadline` has come at tick `now`.
constexpr bool vuDeadlineReached(std::uint32_t now, std::uint32_t deadline) noexcept {
  return !vuTickBefore(now, deadline);
}

// Milliseconds left until `deadline`; 0 once it has come.
constexpr std::uint32_t vuRemainingMs(std::uint32_t now, std::uint32_t deadline) noexcept {
  return vuDeadlineReached(now, deadline) ? 0 : deadline - now;
}

class IvuClock {
 public:
  virtual ~IvuClock() = default;
  // The current tick in milliseconds. Never fails.
  virtual std::uint32_t NowMs() const noexcept = 0;
};

class IvuSleeper {
 public:
  virtual ~IvuSleeper() = default;
  // Blocks the calling thread for at least `ms` milliseconds (0: gives up the time slice).
  virtual void SleepMs(std::uint32_t ms) = 0;
};

class IvuRandom {
 public:
  virtual ~IvuRandom() = default;
  // A uniformly distributed number in 0..bound - 1; 0 when `bound` is 0.
  virtual std::uint32_t NextBelow(std::uint32_t bound) = 0;
};

// CLOCK_MONOTONIC in milliseconds, cut to 32 bits.
class TvuMonotonicClock final : public IvuClock {
 public:
  std::uint32_t NowMs() const noexcept override;
};

// Sleeps on the real clock.
class TvuSystemSleeper final : public IvuSleeper {
 public:
  void SleepMs(std::uint32_t ms) override;
};

// A generator seeded once from the operating system's entropy source.
class TvuSystemRandom final : public IvuRandom {
 public:
  TvuSystemRandom();
  std::uint32_t NextBelow(std::uint32_t bound) override;

 private:
  std::mutex FLock;
  std::mt19937 FEngine;
};

// The services in use, all three in one place for handing down to the engine's objects.
// Not owned; the referenced services must outlive every user.
struct TvuServices {
  IvuClock& Clock;
  IvuSleeper& Sleeper;
  IvuRandom& Random;
};

// The real services of the process; valid for the life of the process.
TvuServices vuDefaultServices();

// A clock that stands still until a test (or TvuFakeSleeper) moves it.
class TvuFakeClock final : public IvuClock {
 public:
  explicit TvuFakeClock(std::uint32_t startMs = 0) noexcept : FNow(startMs) {}
  std::uint32_t NowMs() const noexcept override { return FNow.load(); }
  void SetMs(std::uint32_t ms) noexcept { FNow.store(ms); }
  // Moves the clock on by `ms`, wrapping around like the real tick.
  void AdvanceMs(std::uint32_t ms) noexcept { FNow.fetch_add(ms); }

 private:
  std::atomic<std::uint32_t> FNow;
};

// A sleeper that returns at once after moving its fake clock on by the time asked for.
// Counts the calls and the total time; an optional hook runs after each sleep, so a test can
// change the world while the code under test waits (e.g. release a lock after 3 pauses).
class TvuFakeSleeper final : public IvuSleeper {
 public:
  explicit TvuFakeSleeper(TvuFakeClock& clock) noexcept : FClock(clock) {}
  void SleepMs(std::uint32_t ms) override;

  std::uint64_t Calls() const noexcept { return FCalls.load(); }
  std::uint64_t TotalMs() const noexcept { return FTotalMs.load(); }
  // Called with the duration after the clock has moved. Set before the code under test runs.
  void SetOnSleep(std::function<void(std::uint32_t ms)> hook) { FOnSleep = std::move(hook); }

 private:
  TvuFakeClock& FClock;
  std::atomic<std::uint64_t> FCalls{0};
  std::atomic<std::uint64_t> FTotalMs{0};
  std::function<void(std::uint32_t)> FOnSleep;
};

// Random numbers from a script: queued values come out first (a value not below the bound is
// reduced modulo the bound), then a fixed-seed generator takes over, so runs repeat exactly.
class TvuFakeRandom final : public IvuRandom {
 public:
  explicit TvuFakeRandom(std::uint32_t seed = 1) : FEngine(seed) {}
  void Queue(std::uint32_t value);
  std::uint32_t NextBelow(std::uint32_t bound) override;

 private:
  std::mutex FLock;
  std::deque<std::uint32_t> FQueued;
  std::mt19937 FEngine;
};

}  // namespace vdb
