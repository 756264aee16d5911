#include "base/VdbErrors.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace vdb {
namespace {

TEST(EVdbEngineTest, CarriesCodeAndReadyMessage) {
  const EVdbEngine e = EVdbEngine::CreateMsg(88, u"Table \"Irsz\" not found");
  EXPECT_EQ(e.Code(), 88);
  EXPECT_EQ(e.Message(), u"Table \"Irsz\" not found");
  EXPECT_STREQ(e.what(), "Table \"Irsz\" not found");
}

}  // namespace
}  // namespace vdb

namespace vdb {
namespace {

TEST(EVdbEngineTest, FormsMessageFromTable) {
  struct Case {
    const char* Name;
    EVdbEngine Exc;
    std::int16_t Code;
    std::u16string_view Message;
  };
  const Case cases[] = {
      {"one description", EVdbEngine(88, u"Irsz"), 88, u"Table \"Irsz\" not found"},
      {"argument list", EVdbEngine(88, {u"Irsz"}), 88, u"Table \"Irsz\" not found"},
      {"8-bit argument", EVdbEngine(88, {"Irsz"}), 88, u"Table \"Irsz\" not found"},
      {"numbers", EVdbEngine(189, {40000, 1, 32764}), 189,
       u"String type has a length of 40000, which is outside the allowed range of 1 to 32764"},
      {"surplus ignored", EVdbEngine(19, {u"Irsz"}), 19, u"Record not found"},
      {"too few: raw text", EVdbEngine(88), 88, u"Table \"%s\" not found"},
      {"wrong kind: raw text", EVdbEngine(189, u"abc"), 189,
       u"String type has a length of %d, which is outside the allowed range of %d to %d"},
      {"ready message", EVdbEngine::CreateMsg(52, u"anything"), 52, u"anything"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.Exc.Code(), c.Code) << c.Name;
    EXPECT_EQ(c.Exc.Message(), c.Message) << c.Name;
    EXPECT_FALSE(c.Exc.IsInternalUnwind()) << c.Name;
  }
}

TEST(EVdbEngineTest, InternalUnwindHasFixedText) {
  const EVdbEngine withArgs(VDB_INTERNAL_UNWIND, {u"ignored"});
  const EVdbEngine plain(VDB_INTERNAL_UNWIND);
  EXPECT_TRUE(plain.IsInternalUnwind());
  EXPECT_EQ(plain.Code(), 9999);
  EXPECT_NE(plain.Message().find(u"internal exception"), std::u16string::npos);
  EXPECT_EQ(withArgs.Message(), plain.Message());
}

TEST(EVdbEngineTest, WhatIsUtf8) {
  EXPECT_STREQ(EVdbEngine(190).what(), "Ung\xC3\xBCltige Relationstabelle");
}

TEST(EVdbEngineTest, CompilerErrorsCarryTheirPosition) {
  const EVdbSqlUnexpectedToken e(56, u"IRSZ > '2000' Xor TELEP = 'x'", 1, 15, u"unexpected token",
                                 u"Xor", {u"end of statement", u"Xor"});
  const EVdbEngine& base = e;
  EXPECT_EQ(base.Code(), 56);
  EXPECT_EQ(base.Message(), u"\"end of statement\" expected but \"Xor\" found");
  EXPECT_EQ(e.UnitName(), u"SQL command");
  EXPECT_EQ(e.Line(), u"IRSZ > '2000' Xor TELEP = 'x'");
  EXPECT_EQ(e.LineNo(), 1);
  EXPECT_EQ(e.CharNo(), 15);
  EXPECT_EQ(e.Desc(), u"unexpected token");
  EXPECT_EQ(e.TokenFound(), u"Xor");

  const EVplMemberExpected m(50, u"Module1", u"x.y", 7, 3, true, 12, 16, {u"y"});
  EXPECT_EQ(m.Message(), u"Unknown identifier \"y\"");
  EXPECT_EQ(m.UnitName(), u"Module1");
  EXPECT_TRUE(m.IsStatic());
  EXPECT_EQ(m.ClassId(), 12);
  EXPECT_EQ(m.ExpectedDataType(), 16);
}

TEST(EVdbEngineTest, DerivedClassesAreCaughtAsEngineErrors) {
  auto codeOf = [](auto raise) -> int {
    try {
      raise();
    } catch (const EVdbEngine& e) {
      return e.Code();
    }
    return 0;
  };
  EXPECT_EQ(codeOf([] { throw ESqlCommand(122); }), 122);
  EXPECT_EQ(codeOf([] { throw ESqlCommand::CreateMsg(122, u"x"); }), 122);
  EXPECT_EQ(codeOf([] { throw EVplSyntaxError(25, u"M", u"l", 1, 1, {u"l"}); }), 25);
  EXPECT_EQ(codeOf([] { throw ESqlParser(45, u"l", 1, 1, u"d", {u"#"}); }), 45);
  EXPECT_EQ(codeOf([] { RaiseEngineError(88, u"Irsz"); }), 88);
  EXPECT_EQ(codeOf([] { RaiseEngineError(88, {u"Irsz"}); }), 88);
}

TEST(EVdbEngineTest, CheckEngineCode) {
  EXPECT_EQ(CheckEngineCode(std::int16_t{0}), 0);
  EXPECT_EQ(CheckEngineCode(std::int16_t{17}), 17);
  EXPECT_EQ(CheckEngineCode(std::int32_t{100000}), 100000);

  struct Case {
    std::int32_t Status;
    std::int16_t Code;
    std::u16string_view Message;
  };
  const Case cases[] = {
      {-88, 88, u"Table \"Irsz\" not found"},
      {-19, 19, u"Record not found"},
      // Statuses that are no negated engine error keep a message instead of an empty text.
      {-201, 52, u"Unknown error: status -201"},
      {-32768, 52, u"Unknown error: status -32768"},
      {std::numeric_limits<std::int32_t>::min(), 52, u"Unknown error: status -2147483648"},
  };
  for (const Case& c : cases) {
    try {
      CheckEngineCode(c.Status, {u"Irsz"});
      ADD_FAILURE() << "no exception for " << c.Status;
    } catch (const EVdbEngine& e) {
      EXPECT_EQ(e.Code(), c.Code) << c.Status;
      EXPECT_EQ(e.Message(), c.Message) << c.Status;
    }
  }
  try {
    CheckEngineCode(std::int16_t{-32768});
    ADD_FAILURE() << "no exception";
  } catch (const EVdbEngine& e) {
    EXPECT_EQ(e.Code(), 52);
  }
}

TEST(EVdbEngineTest, CheckInternal) {
  EXPECT_EQ(CheckInternal(std::int16_t{3}), 3);
  EXPECT_EQ(CheckInternal(std::int32_t{0}), 0);
  for (std::int32_t status : {-1, -104, -32768}) {
    try {
      CheckInternal(status);
      ADD_FAILURE() << "no exception for " << status;
    } catch (const EVdbEngine& e) {
      EXPECT_TRUE(e.IsInternalUnwind()) << status;
    }
  }
}

}  // namespace
}  // namespace vdb
