// The shell run as a process on a copy of the settlement database, as its users run it: its
// output, its files and its exit status.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "SettlementsCsv.h"
#include "ToolTestSupport.h"

namespace vidora::tools {
namespace {

namespace fs = std::filesystem;

struct TRun {
  int ExitCode = -1;
  std::string Out;
  std::string Err;
};

std::string Quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The settlement database made once per test program by the project's tool, copied into a
// fresh directory for each test.
class TSettlementDb {
 public:
  explicit TSettlementDb(const test::TScratchDir& dir) : Path(dir.Path / "db") {
    fs::copy(Template(), Path, fs::copy_options::recursive);
  }
  fs::path Path;

 private:
  static fs::path Template() {
    static const fs::path dir = fs::temp_directory_path() / ("vidora-vdbsql-template-" + std::to_string(::getpid()));
    static const bool built = [] {
      fs::remove_all(dir);
      const std::string command = Quote(VIDORA_MKDB_PATH) + " " + Quote(testsupport::SettlementsCsv().string()) + " " +
                                  Quote(dir.string()) + " > /dev/null";
      return std::system(command.c_str()) == 0;
    }();
    EXPECT_TRUE(built) << "the settlement database could not be built";
    static const struct TCleanup {
      ~TCleanup() {
        std::error_code ec;
        fs::remove_all(dir, ec);
      }
    } cleanup;
    return dir;
  }
};

// Runs vdbsql with the arguments (each quoted for the shell) and optional standard input.
TRun Vdbsql(const test::TScratchDir& dir, const std::vector<std::string>& args, const std::string& input = {}) {
  std::string command = Quote(VDBSQL_PATH);
  for (const auto& a : args) command += " " + Quote(a);
  const fs::path in = dir.Path / "stdin.txt", out = dir.Path / "stdout.txt", err = dir.Path / "stderr.txt";
  std::ofstream(in, std::ios::binary) << input;
  command += " < " + Quote(in.string()) + " > " + Quote(out.string()) + " 2> " + Quote(err.string());
  TRun run;
  const int status = std::system(command.c_str());
  run.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.Out = ReadAll(out);
  run.Err = ReadAll(err);
  return run;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::size_t CodePoints(const std::string& utf8) {
  std::size_t n = 0;
  for (unsigned char c : utf8)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

std::int64_t Number(const std::u16string& text) { return text.empty() ? 0 : std::stoll(vdb::VdbUtf16ToUtf8(text)); }

TEST(VdbsqlTest, StatisticsStatementsPrintTheFiguresOfTheRegistersWindows) {
  test::TScratchDir dir;
  TSettlementDb db(dir);
  const auto rows = testsupport::ReadSettlements();
  ASSERT_EQ(rows.size(), 3155u);
  // Group column, the window's filter (TELK's window has none: settlements without an area
  // code form one group of their own).
  const std::vector<std::tuple<std::string, int, bool>> windows = {
      {"RANG", testsupport::scRANG, true},     {"REGIO", testsupport::scREGIO, true},
      {"MEGYE", testsupport::scMEGYE, true},   {"KISTERS", testsupport::scKISTERS, true},
      {"TELK", testsupport::scTELK, false}};
  for (const auto& [column, index, filtered] : windows) {
    SCOPED_TRACE(column);
    struct TSums {
      std::int64_t Count = 0, Terulet = 0, Nepess = 0, Lakas = 0;
    };
    std::map<std::string, TSums> expected;
    for (const auto& row : rows) {
      const std::string key = vdb::VdbUtf16ToUtf8(row[static_cast<std::size_t>(index)]);
      if (filtered && key.empty()) continue;
      TSums& s = expected[key];
      // COUNT(column) counts the values that are there.
      if (!key.empty()) ++s.Count;
      s.Terulet += Number(row[testsupport::scTERULET]);
      s.Nepess += Number(row[testsupport::scNEPESS]);
      s.Lakas += Number(row[testsupport::scLAKAS]);
    }
    // The statement as the window runs it, over several lines of standard input.
    const std::string statement = "SELECT " + column + ",  COUNT(" + column +
                                  "), SUM(TERULET), SUM(NEPESS), SUM(LAKAS)\nFROM Irsz\n" +
                                  (filtered ? "WHERE " + column + " <> ''\n" : std::string()) + "GROUP BY " + column +
                                  ";\n";
    const TRun run = Vdbsql(dir, {"--mode", "csv", "--headers", "off", db.Path.string()}, statement);
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Err, "");
    std::map<std::string, TSums> shown;
    for (const std::string& line : Lines(run.Out)) {
      const auto fields = testsupport::SplitCsvLine(line);
      ASSERT_EQ(fields.size(), 5u) << line;
      shown[fields[0]] = {std::stoll(fields[1]), std::stoll(fields[2]), std::stoll(fields[3]), std::stoll(fields[4])};
    }
    ASSERT_EQ(shown.size(), expected.size());
    for (const auto& [key, s] : expected) {
      SCOPED_TRACE(key);
      ASSERT_EQ(shown.count(key), 1u);
      EXPECT_EQ(shown[key].Count, s.Count);
      EXPECT_EQ(shown[key].Terulet, s.Terulet);
      EXPECT_EQ(shown[key].Nepess, s.Nepess);
      EXPECT_EQ(shown[key].Lakas, s.Lakas);
    }
  }
}

TEST(VdbsqlTest, SchemaTablesIndexesAndCount) {
  test::TScratchDir dir;
  TSettlementDb db(dir);
  const TRun run = Vdbsql(dir, {db.Path.string(), ".schema Irsz", ".tables", ".indexes Irsz", ".count Irsz"});
  ASSERT_EQ(run.ExitCode, 0) << run.Err;
  const auto lines = Lines(run.Out);
  const std::vector<std::string> expected = {
      "Table Irsz: level 6, collation Hungarian, encryption none, 3155 records",
      "  IRSZ     STRING(4)   NOT NULL  size 5  collation Hungarian",
      "  TELEP    STRING(30)  NOT NULL  size 31  collation Hungarian",
      "  TELK     STRING(20)  NULL      size 22  collation Hungarian",
      "  RANG     STRING(20)  NULL      size 22  collation Hungarian",
      "  REGIO    STRING(20)  NULL      size 22  collation Hungarian",
      "  MEGYE    STRING(20)  NULL      size 22  collation Hungarian",
      "  KISTERS  STRING(20)  NULL      size 22  collation Hungarian",
      "  TERULET  INTEGER     NULL      size 5",
      "  NEPESS   INTEGER     NULL      size 5",
      "  LAKAS    INTEGER     NULL      size 5",
      "  EGYEB    MEMO        NULL      size 4  collation Hungarian",
      "  index TELEP ON TELEP:30",
      "  index IRSZ ON IRSZ:4",
      "Irsz",
      "Irsz_tmp",
      "TELEP  TELEP:30",
      "IRSZ   IRSZ:4",
      "3155"};
  EXPECT_EQ(lines, expected) << run.Out;
}

TEST(VdbsqlTest, ImportOfTheDataSetIntoANewTableGivesItsRowsAndSums) {
  test::TScratchDir dir;
  TSettlementDb db(dir);
  const TRun run = Vdbsql(dir, {"--mode", "csv", db.Path.string(), ".import " + testsupport::SettlementsCsv().string() + " Uj",
                                "SELECT COUNT(*) AS N, SUM(TERULET) AS T, SUM(NEPESS) AS P, SUM(LAKAS) AS L FROM Uj",
                                "SELECT COUNT(*) AS N, SUM(TERULET) AS T, SUM(NEPESS) AS P, SUM(LAKAS) AS L FROM Irsz"});
  ASSERT_EQ(run.ExitCode, 0) << run.Err;
  const auto lines = Lines(run.Out);
  const std::vector<std::string> expected = {"3155 rows imported into Uj", "N,T,P,L", "3155,9302400,9584627,4603906",
                                             "N,T,P,L", "3155,9302400,9584627,4603906"};
  EXPECT_EQ(lines, expected);
  // The texts came through their code page unchanged.
  const TRun names = Vdbsql(dir, {"--mode", "csv", "--headers", "off", db.Path.string(),
                                  "SELECT TELEP, MEGYE FROM Uj WHERE IRSZ = 9000"});
  ASSERT_EQ(names.ExitCode, 0) << names.Err;
  EXPECT_EQ(Lines(names.Out), std::vector<std::string>{"Győr,Győr-Moson-Sopron"});
}

TEST(VdbsqlTest, ExportThenImportIsLossless) {
  test::TScratchDir dir;
  TSettlementDb db(dir);
  const std::string a = (dir.Path / "a.csv").string(), b = (dir.Path / "b.csv").string();
  const TRun run = Vdbsql(dir, {db.Path.string(), ".export Irsz " + a, ".import " + a + " Irsz_tmp",
                                ".export Irsz_tmp " + b, ".import " + a + " Masolat", ".export Masolat " + dir.Path.string() + "/c.csv"});
  ASSERT_EQ(run.ExitCode, 0) << run.Err;
  const std::string exported = ReadAll(a);
  EXPECT_EQ(ReadAll(b), exported);
  EXPECT_EQ(ReadAll(dir.Path / "c.csv"), exported);
  // The export is the data set itself: same header, rows, values and line ends.
  EXPECT_EQ(exported, ReadAll(testsupport::SettlementsCsv()));
}

TEST(VdbsqlTest, ASyntaxErrorTellsItsRowAndColumnAndTheExitStatusIsNonZero) {
  test::TScratchDir dir;
  TSettlementDb db(dir);
  const TRun run = Vdbsql(dir, {"--mode", "csv", "--headers", "off", db.Path.string()},
                          "SELECT COUNT(*) FROM Irsz;\n"
                          "SELECT TELEP\n"
                          "  FROM Irsz WHERE TELEP = ;\n"
                          "SELECT COUNT(*) FROM Irsz WHERE MEGYE = 'Fejér'; SELECT FROM;\n");
  EXPECT_EQ(run.ExitCode, 1);
  // The statements around the failing ones still ran.
  EXPECT_EQ(Lines(run.Out), (std::vector<std::string>{"3155", "108"}));
  const auto errors = Lines(run.Err);
  ASSERT_EQ(errors.size(), 2u) << run.Err;
  EXPECT_EQ(errors[0].rfind("Error: row 3, column 27: ", 0), 0u) << errors[0];
  EXPECT_EQ(errors[1].rfind("Error: row 4, column 57: ", 0), 0u) << errors[1];

  // A failing argument statement: message on stderr, status 1; an unknown table likewise.
  const TRun missing = Vdbsql(dir, {db.Path.string(), "SELECT * FROM Nincs"});
  EXPECT_EQ(missing.ExitCode, 1);
  EXPECT_NE(missing.Err.find("Error: "), std::string::npos);
  EXPECT_EQ(missing.Out, "");
}

TEST(VdbsqlTest, AValueOutsideTheCodePageIsRefusedWithItsPlaceAndNothingIsImported) {
  test::TScratchDir dir;
  TSettlementDb db(dir);
  const fs::path csv = dir.Write("bad.csv",
                                 "IRSZ,TELEP,EGYEB\r\n"
                                 "1111,Jóhely,első\r\n"
                                 "2222,Mосква,második\r\n");
  const TRun run = Vdbsql(dir, {db.Path.string(), ".import " + csv.string() + " Irsz", ".count Irsz",
                                ".import " + csv.string() + " Uj", ".tables"});
  EXPECT_EQ(run.ExitCode, 1);
  EXPECT_EQ(Lines(run.Out), (std::vector<std::string>{"3155", "Irsz", "Irsz_tmp"}));
  const auto errors = Lines(run.Err);
  ASSERT_EQ(errors.size(), 2u) << run.Err;
  for (const auto& e : errors) {
    EXPECT_NE(e.find("bad.csv: line 3, column 6: "), std::string::npos) << e;
    EXPECT_NE(e.find("code page 1250"), std::string::npos) << e;
    EXPECT_NE(e.find("nothing was imported"), std::string::npos) << e;
  }
  // Too long a text and a wrong number name their places as well.
  const fs::path bad2 = dir.Write("bad2.csv", "IRSZ,TELEP,TERULET\r\n1111,A,12\r\n2222,B,\"1,5\"\r\n33333,C,1\r\n");
  const TRun second = Vdbsql(dir, {db.Path.string(), ".import " + bad2.string() + " Irsz", ".count Irsz"});
  EXPECT_EQ(second.ExitCode, 1);
  EXPECT_EQ(Lines(second.Out), std::vector<std::string>{"3155"});
  EXPECT_NE(second.Err.find("line 3, column 8: \"1,5\" is not a whole number of column TERULET"), std::string::npos)
      << second.Err;
}

TEST(VdbsqlTest, OutputModesAlignByDisplayWidthAndShowNullDistinctly) {
  test::TScratchDir dir;
  TSettlementDb db(dir);
  const std::string query = "SELECT TELEP, TELK, TERULET FROM Irsz WHERE IRSZ = '9000' OR IRSZ = '3552' OR IRSZ = '8127'";
  const TRun column = Vdbsql(dir, {db.Path.string(), query});
  ASSERT_EQ(column.ExitCode, 0) << column.Err;
  const auto lines = Lines(column.Out);
  ASSERT_EQ(lines.size(), 5u) << column.Out;
  EXPECT_EQ(lines[0], "TELEP  TELK  TERULET");
  EXPECT_EQ(lines[1], "-----  ----  -------");
  // Numbers end in the same terminal column whatever the accents before them.
  for (std::size_t i = 2; i < lines.size(); ++i) EXPECT_EQ(CodePoints(lines[i]), CodePoints(lines[0])) << lines[i];
  EXPECT_NE(column.Out.find("Győr   96      17462"), std::string::npos) << column.Out;
  EXPECT_NE(column.Out.find("Aba    NULL     8805"), std::string::npos) << column.Out;

  const TRun json = Vdbsql(dir, {"--mode", "json", db.Path.string(), query + " ORDER BY TERULET"});
  ASSERT_EQ(json.ExitCode, 0) << json.Err;
  EXPECT_NE(json.Out.find("{\"TELEP\":\"Aba\",\"TELK\":null,\"TERULET\":8805}"), std::string::npos) << json.Out;
  EXPECT_EQ(json.Out.front(), '[');

  const TRun csv = Vdbsql(dir, {db.Path.string(), ".mode csv", ".headers off", query + " ORDER BY TERULET"});
  ASSERT_EQ(csv.ExitCode, 0) << csv.Err;
  EXPECT_NE(csv.Out.find("Aba,,8805\r\n"), std::string::npos) << csv.Out;

  const TRun line = Vdbsql(dir, {db.Path.string(), ".mode line", "SELECT TELEP, TELK FROM Irsz WHERE IRSZ = '8127'"});
  ASSERT_EQ(line.ExitCode, 0) << line.Err;
  EXPECT_EQ(line.Out, "TELEP = Aba\n TELK = NULL\n");
}

TEST(VdbsqlTest, EncipheredTablesOpenWithTheKeyGivenByOptionOrCommand) {
  test::TScratchDir dir;
  const fs::path csv = dir.Write("two.csv",
                                 "IRSZ,TELEP,TELK,RANG,REGIO,MEGYE,KISTERS,TERULET,NEPESS,LAKAS,EGYEB\r\n"
                                 "8127,Aba,,város,Közép-Dunántúl,Fejér,Székesfehérvári,8805,4396,1562,\r\n"
                                 "3552,Muhi,,község,Észak-Magyarország,Borsod-Abaúj-Zemplén,Tiszaújvárosi,962,452,210,\r\n");
  const fs::path db = dir.Path / "db";
  const std::string command = Quote(VIDORA_MKDB_PATH) + " --password titok " + Quote(csv.string()) + " " +
                              Quote(db.string()) + " > /dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const std::string count = "SELECT COUNT(*) AS N FROM Irsz";
  const TRun without = Vdbsql(dir, {db.string(), ".count Irsz", count});
  EXPECT_EQ(without.ExitCode, 1);
  EXPECT_EQ(without.Out, "");
  EXPECT_EQ(Lines(without.Err).size(), 2u) << without.Err;
  const TRun option = Vdbsql(dir, {"-p", "titok", db.string(), ".count Irsz", count});
  EXPECT_EQ(option.ExitCode, 0) << option.Err;
  EXPECT_EQ(Lines(option.Out), (std::vector<std::string>{"2", "N", "-", "2"}));
  const TRun command2 = Vdbsql(dir, {db.string()}, ".password titok\n.import " + csv.string() + " Irsz_tmp\n" +
                                                       ".schema Irsz_tmp\n");
  EXPECT_EQ(command2.ExitCode, 0) << command2.Err;
  EXPECT_NE(command2.Out.find("2 rows imported into Irsz_tmp"), std::string::npos) << command2.Out;
  EXPECT_NE(command2.Out.find("encryption Blowfish, 2 records"), std::string::npos) << command2.Out;
}

TEST(VdbsqlTest, CheckReportsASoundTableAndTheFindingsOfADamagedOne) {
  test::TScratchDir dir;
  TSettlementDb db(dir);
  const TRun sound = Vdbsql(dir, {db.Path.string(), ".check Irsz", ".check Irsz_tmp", ".tables"});
  EXPECT_EQ(sound.ExitCode, 0) << sound.Err;
  // The findings' temporary table is gone once read.
  EXPECT_EQ(Lines(sound.Out),
            (std::vector<std::string>{"Irsz: no problems found", "Irsz_tmp: no problems found", "Irsz", "Irsz_tmp"}));

  // The postal-code index of a one-settlement table put in place of the real one.
  const fs::path csv = dir.Write("one.csv", "IRSZ,TELEP,TELK,RANG,REGIO,MEGYE,KISTERS,TERULET,NEPESS,LAKAS,EGYEB\r\n"
                                            "8127,Aba,,város,R,M,K,1,2,3,\r\n");
  const std::string command = Quote(VIDORA_MKDB_PATH) + " " + Quote(csv.string()) + " " +
                              Quote((dir.Path / "one").string()) + " > /dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  fs::copy_file(dir.Path / "one" / "Irsz!IRSZ.vdbi", db.Path / "Irsz!IRSZ.vdbi", fs::copy_options::overwrite_existing);
  const TRun damaged = Vdbsql(dir, {db.Path.string(), ".check Irsz"});
  EXPECT_EQ(damaged.ExitCode, 1);
  const auto lines = Lines(damaged.Out);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], "Irsz: Index IRSZ: 1 entries for 3155 records");
  EXPECT_EQ(lines.back(), "Irsz: Index IRSZ: no entry for record 3155");
  EXPECT_EQ(damaged.Err, "Error: " + std::to_string(lines.size()) + " problems found in Irsz\n");
}

TEST(VdbsqlTest, CommandLineHelpAndRefusals) {
  test::TScratchDir dir;
  const TRun help = Vdbsql(dir, {"--help"});
  EXPECT_EQ(help.ExitCode, 0);
  for (const char* section : {"NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "EXIT STATUS", "EXAMPLES"})
    EXPECT_NE(("\n" + help.Out).find(std::string("\n") + section + "\n"), std::string::npos) << section;
  EXPECT_EQ(Vdbsql(dir, {"--mode", "xml", "db"}).ExitCode, 2);
  EXPECT_EQ(Vdbsql(dir, {}).ExitCode, 2);
  const TRun missing = Vdbsql(dir, {(dir.Path / "nothing").string(), ".tables"});
  EXPECT_EQ(missing.ExitCode, 2);
  EXPECT_NE(missing.Err.find("cannot open the database"), std::string::npos) << missing.Err;

  TSettlementDb db(dir);
  const TRun bad = Vdbsql(dir, {db.Path.string()}, ".nonsense\n.mode xml\n.count\n.help\n.quit\nSELECT COUNT(*) FROM Irsz;\n");
  EXPECT_EQ(bad.ExitCode, 1);
  EXPECT_EQ(Lines(bad.Err).size(), 3u) << bad.Err;
  EXPECT_NE(bad.Out.find(".import FILE TABLE"), std::string::npos);
  // Nothing runs after .quit.
  EXPECT_EQ(bad.Out.find("3155"), std::string::npos) << bad.Out;
}

}  // namespace
}  // namespace vidora::tools
