// The settlement CSV reader: quoting, line ends and line numbers, the header, field counts
// and UTF-8, each refusal naming the line (and the column where one is at fault).
#include <gtest/gtest.h>

#include "SettlementCsv.h"

namespace vidora::tools {
namespace {

const std::string kHeader = "IRSZ,TELEP,TELK,RANG,REGIO,MEGYE,KISTERS,TERULET,NEPESS,LAKAS,EGYEB\r\n";

std::vector<std::string> Records(std::string_view text) {
  TCsvReader reader(text);
  TCsvRecord r;
  std::vector<std::string> out;
  while (reader.Next(r)) {
    std::string joined = std::to_string(r.Line) + ":";
    for (std::size_t i = 0; i < r.Fields.size(); ++i) joined += (i ? "|" : "") + r.Fields[i];
    out.push_back(joined);
  }
  return out;
}

TEST(CsvReaderTest, SplitsQuotedFieldsAndCountsLines) {
  struct TCase {
    const char* Name;
    std::string Text;
    std::vector<std::string> Expected;
  };
  const std::vector<TCase> cases = {
      {"crlf", "a,b\r\nc,d\r\n", {"1:a|b", "2:c|d"}},
      {"lf and no final line end", "a,b\nc,d", {"1:a|b", "2:c|d"}},
      {"quoted comma", "\"x, y\",z\n", {"1:x, y|z"}},
      {"doubled quote", "\"say \"\"hi\"\"\",2\n", {"1:say \"hi\"|2"}},
      {"empty fields", ",,\n", {"1:||"}},
      {"empty quoted field", "\"\",a\n", {"1:|a"}},
      {"line break inside quotes", "\"one\r\ntwo\",x\r\nnext\r\n", {"1:one\r\ntwo|x", "3:next"}},
      {"blank lines skipped", "a\r\n\r\n\nb\r\n", {"1:a", "4:b"}},
      {"byte-order mark", "\xEF\xBB\xBF" "a,b\n", {"1:a|b"}},
      {"quote inside an unquoted field", "a\"b,c\n", {"1:a\"b|c"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(Records(c.Text), c.Expected);
  }
}

TEST(CsvReaderTest, RefusesBrokenQuoting) {
  struct TCase {
    std::string Text;
    int Line;
  };
  for (const TCase& c : {TCase{"a\n\"open,b\nc\n", 2}, TCase{"a\nb\n\"x\"y,z\n", 3}}) {
    TCsvReader reader(c.Text);
    TCsvRecord r;
    try {
      while (reader.Next(r)) {
      }
      ADD_FAILURE() << "no error for " << c.Text;
    } catch (const ESettlementImport& e) {
      EXPECT_EQ(e.Line(), c.Line) << e.what();
    }
  }
}

TEST(SettlementCsvTest, MapsColumnsByHeaderName) {
  const std::string text =
      "EGYEB,LAKAS,NEPESS,TERULET,KISTERS,MEGYE,REGIO,RANG,TELK,TELEP,IRSZ\n"
      "\"Note, with comma\",10,20,30,Ks,Mg,Rg,község,62,Ősi,8161\n";
  const auto rows = ParseSettlementCsv(text);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].Line, 2);
  EXPECT_EQ(rows[0].Values[scIrsz], u"8161");
  EXPECT_EQ(rows[0].Values[scTelep], u"Ősi");
  EXPECT_EQ(rows[0].Values[scRang], u"község");
  EXPECT_EQ(rows[0].Values[scLakas], u"10");
  EXPECT_EQ(rows[0].Values[scEgyeb], u"Note, with comma");
}

TEST(SettlementCsvTest, RefusalsNameLineAndColumn) {
  struct TCase {
    const char* Name;
    std::string Text;
    int Line;
    std::string Column;
    std::string MessagePart;
  };
  const std::string good = "1011,Budapest,1,főváros,Budapest,Budapest,Budapest,52511,1,2,\r\n";
  const std::vector<TCase> cases = {
      {"empty file", "", 0, "", "empty"},
      {"unknown column", "IRSZ,TELEP,FOO\n", 1, "", "unknown column \"FOO\""},
      {"duplicate column", "IRSZ,IRSZ\n", 1, "", "IRSZ twice"},
      {"missing column", "IRSZ,TELEP,TELK,RANG,REGIO,MEGYE,KISTERS,TERULET,NEPESS,LAKAS\n", 1, "", "lacks column EGYEB"},
      {"too few fields", kHeader + good + "1011,Budapest\r\n", 3, "", "expected 11 fields, found 2"},
      {"too many fields", kHeader + good + good.substr(0, good.size() - 2) + ",x\r\n", 3, "", "found 12"},
      {"invalid UTF-8", kHeader + good + "1011,Buda\xC3pest,1,,,,,,,,\r\n", 3, "TELEP", "not valid UTF-8"},
      {"overlong UTF-8", kHeader + "1011,x,1,,,,,,,,\xC0\xAF\r\n", 2, "EGYEB", "not valid UTF-8"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    try {
      ParseSettlementCsv(c.Text);
      ADD_FAILURE() << "no error";
    } catch (const ESettlementImport& e) {
      EXPECT_EQ(e.Line(), c.Line) << e.what();
      EXPECT_EQ(e.Column(), c.Column) << e.what();
      EXPECT_NE(std::string(e.what()).find(c.MessagePart), std::string::npos) << e.what();
      if (c.Line > 0) {
        EXPECT_TRUE(std::string(e.what()).starts_with("line " + std::to_string(c.Line))) << e.what();
      }
    }
  }
}

TEST(SettlementCsvTest, MissingFileIsReported) {
  try {
    ReadSettlementCsv("/nonexistent/settlements.csv");
    FAIL();
  } catch (const ESettlementImport& e) {
    EXPECT_NE(std::string(e.what()).find("cannot open /nonexistent/settlements.csv"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace vidora::tools
