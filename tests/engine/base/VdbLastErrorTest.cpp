#include "base/VdbLastError.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/VdbErrorCodes.h"

namespace vdb {
namespace {

class FakeErrorLog : public IVdbErrorLog {
 public:
  struct Line {
    std::int16_t Level;
    std::u16string Subsystem;
    std::u16string Message;
  };
  void Write(std::int16_t level, std::u16string_view subsystem,
             std::u16string_view message) noexcept override {
    Lines.push_back({level, std::u16string(subsystem), std::u16string(message)});
  }
  std::vector<Line> Lines;
};

class VdbLastErrorTest : public ::testing::Test {
 protected:
  FakeErrorLog Log;
  TVdbLastError Last{&Log};
};

TEST_F(VdbLastErrorTest, StartsCleared) {
  const TVdbLastError fresh;
  EXPECT_EQ(fresh.Code(), 0);
  EXPECT_TRUE(fresh.Msg().empty());
  EXPECT_FALSE(fresh.CreateLastErrorExc().has_value());
}

TEST_F(VdbLastErrorTest, RecordsTableTextFilledWithDescription) {
  EXPECT_EQ(Last.SetLastError(88, u"Irsz"), -88);
  EXPECT_EQ(Last.Code(), 88);
  EXPECT_EQ(Last.Msg(), u"Table \"Irsz\" not found");

  EXPECT_EQ(Last.SetLastError(189, {40000, 1, 32764}), -189);
  EXPECT_EQ(Last.Msg(),
            u"String type has a length of 40000, which is outside the allowed range of 1 to 32764");

  EXPECT_EQ(Last.SetLastError(114, TVdbFmtArgs{}), -114);
  EXPECT_EQ(Last.Msg(), u"Operation canceled");
}

TEST_F(VdbLastErrorTest, TemplateThatDoesNotFitIsMarkedInvalid) {
  struct Case {
    std::int16_t Code;
    TVdbFmtArgs Args;
    std::u16string_view Msg;
  };
  const Case cases[] = {
      {189, {u"abc"},
       u"Invalid error message: String type has a length of %d, which is outside the allowed "
       u"range of %d to %d"},
      {88, {}, u"Invalid error message: Table \"%s\" not found"},
      {88, {5}, u"Invalid error message: Table \"%s\" not found"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Last.SetLastError(c.Code, c.Args), -c.Code);
    EXPECT_EQ(Last.Code(), c.Code);
    EXPECT_EQ(Last.Msg(), c.Msg);
  }
  // The one-description form takes the same way.
  Last.SetLastError(189, u"abc");
  EXPECT_EQ(Last.Msg(), cases[0].Msg);
}

TEST_F(VdbLastErrorTest, RecordsCaughtExceptionWithItsMessage) {
  EXPECT_EQ(Last.SetLastError(EVdbEngine::CreateMsg(35, u"ready text")), -35);
  EXPECT_EQ(Last.Code(), 35);
  EXPECT_EQ(Last.Msg(), u"ready text");
}

TEST_F(VdbLastErrorTest, LogsEveryRecordedErrorButRecordNotFound) {
  struct Case {
    std::int16_t Code;
    bool Logged;
    std::u16string_view Subsystem;
  };
  const Case cases[] = {
      {19, false, u""},
      {30, true, u"Error 30"},
      {1, true, u"Error 1"},
      {190, true, u"Error 190"},
  };
  for (const Case& c : cases) {
    Log.Lines.clear();
    Last.SetLastError(c.Code, u"Irsz");
    EXPECT_EQ(Last.Code(), c.Code) << "recorded even when not logged";
    if (!c.Logged) {
      EXPECT_TRUE(Log.Lines.empty()) << c.Code;
      continue;
    }
    ASSERT_EQ(Log.Lines.size(), 1u) << c.Code;
    EXPECT_EQ(Log.Lines[0].Level, 2);
    EXPECT_EQ(Log.Lines[0].Subsystem, c.Subsystem);
    EXPECT_EQ(Log.Lines[0].Message, Last.Msg());
  }
}

TEST_F(VdbLastErrorTest, WorksWithoutLog) {
  TVdbLastError noLog;
  EXPECT_EQ(noLog.SetLastError(30, u"sys_Id"), -30);
  EXPECT_EQ(noLog.Msg(), u"Records must be unique with respect to \"sys_Id\"");
}

TEST_F(VdbLastErrorTest, UnwindingKeepsTheRecordedError) {
  Last.SetLastError(104, TVdbFmtArgs{});
  const auto generation = Last.Generation();
  Log.Lines.clear();
  EXPECT_EQ(Last.SetLastError(EVdbEngine(VDB_INTERNAL_UNWIND)), -104);
  EXPECT_EQ(Last.Code(), 104);
  EXPECT_EQ(Last.Msg(), u"Table is locked by another session");
  EXPECT_EQ(Last.Generation(), generation);
  EXPECT_TRUE(Log.Lines.empty()) << "an unwinding is not a new error";
}

// An unwinding with nothing recorded at all would otherwise answer 0, i.e. success.
TEST_F(VdbLastErrorTest, UnwindingWithoutRecordedErrorIsStillAFailure) {
  EXPECT_EQ(Last.RecordError(VDB_INTERNAL_UNWIND, u""), -52);
  EXPECT_EQ(Last.Code(), 52);
  EXPECT_EQ(Last.Msg(), u"Unknown error: internal failure without a recorded error");

  Last.ClearLastError();
  EXPECT_EQ(Last.SetLastError(EVdbEngine(VDB_INTERNAL_UNWIND)), -52);
}

TEST_F(VdbLastErrorTest, UnwindingSinceKeepsOnlyErrorsOfThisOperation) {
  Last.SetLastError(30, u"sys_Id");  // an earlier, unrelated operation
  const auto start = Last.Generation();

  // Nothing recorded since the operation started: the old error 30 must not be reported.
  EXPECT_EQ(Last.SetLastErrorSince(EVdbEngine(VDB_INTERNAL_UNWIND), start), -52);
  EXPECT_EQ(Last.Code(), 52);

  // Recorded since the start: kept.
  const auto start2 = Last.Generation();
  Last.SetLastError(104, TVdbFmtArgs{});
  EXPECT_EQ(Last.SetLastErrorSince(EVdbEngine(VDB_INTERNAL_UNWIND), start2), -104);
  EXPECT_EQ(Last.Code(), 104);

  // Recorded, then cleared again by an operation that starts afresh: no cause left.
  const auto start3 = Last.Generation();
  Last.SetLastError(104, TVdbFmtArgs{});
  Last.ClearLastError();
  EXPECT_EQ(Last.SetLastErrorSince(EVdbEngine(VDB_INTERNAL_UNWIND), start3), -52);

  // A real error is recorded whatever the generation.
  EXPECT_EQ(Last.SetLastErrorSince(EVdbEngine(88, u"Irsz"), Last.Generation()), -88);
}

TEST_F(VdbLastErrorTest, CodesOutsideTheTableStayFailures) {
  struct Case {
    std::int16_t Code;
    std::u16string_view Text;
    std::u16string_view Msg;
  };
  const Case cases[] = {
      {0, u"oops", u"Unknown error: invalid engine error code 0: oops"},
      {-5, u"", u"Unknown error: invalid engine error code -5"},
      {191, u"x", u"Unknown error: invalid engine error code 191: x"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Last.RecordError(c.Code, c.Text), -52) << c.Code;
    EXPECT_EQ(Last.Code(), 52);
    EXPECT_EQ(Last.Msg(), c.Msg);
  }
  EXPECT_EQ(Last.SetLastError(EVdbEngine::CreateMsg(0, u"zero")), -52);
}

TEST_F(VdbLastErrorTest, CompilerErrorRecordsPosition) {
  const EVdbCompilerError e(25, u"Module1", u"a\tb\t= 1", 12, 4, {u"a b"});
  EXPECT_EQ(Last.SetLastError(e), -25);  // dispatched by the exception's kind
  EXPECT_EQ(Last.Code(), 25);
  EXPECT_EQ(Last.Msg(), u"Syntax error in expression \"a b\"");
  EXPECT_EQ(Last.UnitName(), u"Module1");
  EXPECT_EQ(Last.Line(), u"a b = 1");
  EXPECT_EQ(Last.LineNo(), 12);
  EXPECT_EQ(Last.Pos(), 4);
}

TEST_F(VdbLastErrorTest, CompilerErrorPositionIsCutToSixteenBits) {
  struct Case {
    std::int32_t CharNo;
    std::uint16_t Pos;
  };
  for (const Case c : {Case{70000, 65535}, Case{-3, 0}, Case{65535, 65535}}) {
    Last.SetLastCompilerError(EVdbCompilerError(25, u"M", u"l", 1, c.CharNo, {u"l"}));
    EXPECT_EQ(Last.Pos(), c.Pos) << c.CharNo;
  }
}

TEST_F(VdbLastErrorTest, UnwindingCompilerErrorKeepsRecordedPosition) {
  Last.SetLastErrorPos(25, u"x", 3, u"x y");
  Last.SetLastError(EVdbCompilerError(VDB_INTERNAL_UNWIND, u"M", u"other", 9, 9));
  EXPECT_EQ(Last.Code(), 25);
  EXPECT_EQ(Last.Line(), u"x y");
  EXPECT_EQ(Last.Pos(), 3);
  EXPECT_EQ(Last.LineNo(), 0);
}

TEST_F(VdbLastErrorTest, ErrorWithPosition) {
  EXPECT_EQ(Last.SetLastErrorPos(50, u"NEPESS", 0, u"NEPESS-1\t> 0"), -50);
  EXPECT_EQ(Last.Msg(), u"Unknown identifier \"NEPESS\"");
  EXPECT_EQ(Last.Line(), u"NEPESS-1 > 0");
  EXPECT_EQ(Last.Pos(), 0);

  EXPECT_EQ(Last.SetLastErrorMsgPos(7, u"ready", 6, u"a\t=\t1"), -7);
  EXPECT_EQ(Last.Code(), 7);
  EXPECT_EQ(Last.Msg(), u"ready");
  EXPECT_EQ(Last.Line(), u"a = 1");
  EXPECT_EQ(Last.Pos(), 6);
}

TEST_F(VdbLastErrorTest, ClearAndRaiseAgain) {
  Last.SetLastCompilerError(EVdbCompilerError(25, u"M", u"line", 2, 3, {u"x"}));
  const auto exc = Last.CreateLastErrorExc();
  ASSERT_TRUE(exc.has_value());
  EXPECT_EQ(exc->Code(), 25);
  EXPECT_EQ(exc->Message(), u"Syntax error in expression \"x\"");

  Last.ClearLastError();
  EXPECT_EQ(Last.Code(), 0);
  EXPECT_TRUE(Last.Msg().empty());
  EXPECT_TRUE(Last.UnitName().empty());
  EXPECT_TRUE(Last.Line().empty());
  EXPECT_EQ(Last.LineNo(), 0);
  EXPECT_EQ(Last.Pos(), 0);
  EXPECT_FALSE(Last.CreateLastErrorExc().has_value());
}

}  // namespace
}  // namespace vdb
