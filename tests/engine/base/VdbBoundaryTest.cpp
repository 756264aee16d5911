#include "base/VdbBoundary.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <stdexcept>

namespace vdb {
namespace {

class VdbBoundaryTest : public ::testing::Test {
 protected:
  TVdbLastError Last;
};

TEST_F(VdbBoundaryTest, EngineBoundaryPassesResults) {
  EXPECT_EQ(GuardEngineCall(Last, [] { return std::int16_t{7}; }), 7);
  EXPECT_EQ(GuardEngineCall(Last, [] { return std::int32_t{-11}; }), -11);  // a status as is
  const auto voidResult = GuardEngineCall(Last, [] {});
  static_assert(std::is_same_v<decltype(voidResult), const std::int16_t>);
  EXPECT_EQ(voidResult, 0);
  EXPECT_EQ(Last.Code(), 0);
}

TEST_F(VdbBoundaryTest, EngineBoundaryRecordsAndNegates) {
  const std::int16_t status = GuardEngineCall(Last, []() -> std::int16_t {
    RaiseEngineError(88, u"Irsz");
  });
  EXPECT_EQ(status, -88);
  EXPECT_EQ(Last.Code(), 88);
  EXPECT_EQ(Last.Msg(), u"Table \"Irsz\" not found");

  const std::int32_t count = GuardEngineCall(Last, []() -> std::int32_t {
    throw EVdbCompilerError(25, u"SQL command", u"a\tb", 1, 2, {u"a b"});
  });
  EXPECT_EQ(count, -25);
  EXPECT_EQ(Last.Line(), u"a b");
  EXPECT_EQ(Last.Pos(), 2);
}

// An operation records 104 and returns its status; the caller unwinds with the internal
// exception, and the boundary answers with the recorded error.
TEST_F(VdbBoundaryTest, UnwindingKeepsRecordedErrorAcrossBoundaries) {
  auto lockTable = [this] { return Last.SetLastError(104, TVdbFmtArgs{}); };
  const std::int16_t status = GuardEngineCall(Last, [&] { return CheckInternal(lockTable()); });
  EXPECT_EQ(status, -104);
  EXPECT_EQ(Last.Code(), 104);
  EXPECT_EQ(Last.Msg(), u"Table is locked by another session");

  // The same through two boundaries: the inner one records, the outer one unwinds.
  Last.ClearLastError();
  const std::int16_t outer = GuardEngineCall(Last, [&] {
    const std::int16_t inner =
        GuardEngineCall(Last, []() -> std::int16_t { RaiseEngineError(104, TVdbFmtArgs{}); });
    return CheckInternal(inner);
  });
  EXPECT_EQ(outer, -104);
  EXPECT_EQ(Last.Code(), 104);
}

// An unwinding whose cause was never recorded (e.g. a comparison that failed without
// recording) must neither report success nor an error left over from an earlier call.
TEST_F(VdbBoundaryTest, UnwindingWithoutCauseRecordsGenericError) {
  struct Case {
    const char* Name;
    bool EarlierError;
  };
  for (const Case c : {Case{"nothing recorded before", false}, Case{"stale error before", true}}) {
    Last.ClearLastError();
    if (c.EarlierError) Last.SetLastError(30, u"sys_Id");
    const std::int16_t status =
        GuardEngineCall(Last, [] { return CheckInternal(std::int16_t{-1}); });
    EXPECT_EQ(status, -52) << c.Name;
    EXPECT_EQ(Last.Code(), 52) << c.Name;
    EXPECT_EQ(Last.Msg(), u"Unknown error: internal failure without a recorded error") << c.Name;
  }
}

TEST_F(VdbBoundaryTest, EngineBoundaryLetsOtherExceptionsPass) {
  EXPECT_THROW(GuardEngineCall(Last, []() -> std::int16_t { throw std::runtime_error("x"); }),
               std::runtime_error);
  EXPECT_EQ(Last.Code(), 0);
}

TEST_F(VdbBoundaryTest, ApiBoundaryConvertsEveryFailure) {
  struct Case {
    const char* Name;
    void (*Op)();
    TVdbApiFailure Failure;
    std::int16_t Status;
    std::int16_t Code;
    std::u16string_view Msg;
  };
  const Case cases[] = {
      {"engine error", [] { RaiseEngineError(88, u"Irsz"); }, {}, -100, 88,
       u"Table \"Irsz\" not found"},
      {"engine error, specific status", [] { RaiseEngineError(104, TVdbFmtArgs{}); },
       {.EngineStatus = stsTableLocked}, -47, 104, u"Table is locked by another session"},
      {"standard exception", [] { throw std::runtime_error("disk on fire"); }, {}, -102, 123,
       u"Exception: disk on fire"},
      {"standard exception, record reading", [] { throw std::out_of_range("index 7"); },
       {.OtherStatus = stsEngineError}, -100, 123, u"Exception: index 7"},
      {"out of memory", [] { throw std::bad_alloc(); }, {}, -102, 123,
       u"Exception: std::bad_alloc"},
      {"not a standard exception", [] { throw 42; }, {}, -102, 123,
       u"Exception: unknown exception"},
      {"unwinding without cause", [] { CheckInternal(std::int16_t{-1}); }, {}, -100, 52,
       u"Unknown error: internal failure without a recorded error"},
  };
  for (const Case& c : cases) {
    Last.ClearLastError();
    EXPECT_EQ(GuardApiCall(Last, c.Op, c.Failure), c.Status) << c.Name;
    EXPECT_EQ(Last.Code(), c.Code) << c.Name;
    EXPECT_EQ(Last.Msg(), c.Msg) << c.Name;
  }
}

TEST_F(VdbBoundaryTest, ApiBoundaryMapsEngineCodes) {
  // The table-opening function's mapping: too many tables, bad credentials, anything else.
  const TVdbApiFailure openTable{.MapEngineCode = [](std::int16_t code) -> std::int16_t {
    if (code == errTooManyTables) return stsOutOfMemory;
    if (code == errInvalidCredentials) return stsWrongPassword;
    return stsCannotOpenTable;
  }};
  struct Case {
    std::int16_t Code;
    std::int16_t Status;
  };
  for (const Case c : {Case{94, -2}, Case{38, -12}, Case{35, -1}}) {
    const std::int16_t status = GuardApiCall(
        Last, [&]() -> std::int16_t { RaiseEngineError(c.Code, {u"Irsz"}); }, openTable);
    EXPECT_EQ(status, c.Status) << c.Code;
    EXPECT_EQ(Last.Code(), c.Code);
  }
}

TEST_F(VdbBoundaryTest, ApiBoundaryPassesResultsAndNeverThrows) {
  EXPECT_EQ(GuardApiCall(Last, [] { return std::int16_t{3}; }), 3);
  EXPECT_EQ(GuardApiCall(Last, [] { return std::int32_t{123456}; }), 123456);
  EXPECT_EQ(GuardApiCall(Last, [] {}), 0);
  static_assert(noexcept(GuardApiCall(std::declval<TVdbLastError&>(), [] { return 1; })));
  EXPECT_EQ(Last.Code(), 0);
}

}  // namespace
}  // namespace vdb
