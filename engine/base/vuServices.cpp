// The real clock, sleeper and random numbers, and their fakes for tests.
#include "base/vuServices.h"

#include <chrono>
#include <ctime>
#include <thread>

namespace vdb {

namespace {

std::uint32_t Draw(std::mt19937& engine, std::uint32_t bound) {
  if (bound == 0) return 0;
  return std::uniform_int_distribution<std::uint32_t>(0, bound - 1)(engine);
}

}  // namespace

std::uint32_t TvuMonotonicClock::NowMs() const noexcept {
  timespec ts{};
  // CLOCK_MONOTONIC cannot fail on Linux with a valid pointer.
  clock_gettime(CLOCK_MONOTONIC, &ts);
  const auto ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
                  static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<std::uint32_t>(ms);
}

void TvuSystemSleeper::SleepMs(std::uint32_t ms) {
  if (ms == 0) {
    std::this_thread::yield();
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

TvuSystemRandom::TvuSystemRandom() {
  std::random_device device;
  std::seed_seq seed{device(), device(), device(), device()};
  FEngine.seed(seed);
}

std::uint32_t TvuSystemRandom::NextBelow(std::uint32_t bound) {
  const std::lock_guard guard(FLock);
  return Draw(FEngine, bound);
}

TvuServices vuDefaultServices() {
  static TvuMonotonicClock clock;
  static TvuSystemSleeper sleeper;
  static TvuSystemRandom random;
  return TvuServices{clock, sleeper, random};
}

void TvuFakeSleeper::SleepMs(std::uint32_t ms) {
  FClock.AdvanceMs(ms);
  FCalls.fetch_add(1);
  FTotalMs.fetch_add(ms);
  if (FOnSleep) FOnSleep(ms);
}

void TvuFakeRandom::Queue(std::uint32_t value) {
  const std::lock_guard guard(FLock);
  FQueued.push_back(value);
}

std::uint32_t TvuFakeRandom::NextBelow(std::uint32_t bound) {
  const std::lock_guard guard(FLock);
  if (!FQueued.empty()) {
    const std::uint32_t value = FQueued.front();
    FQueued.pop_front();
    return bound == 0 ? 0 : value % bound;
  }
  return Draw(FEngine, bound);
}

}  // namespace vdb
