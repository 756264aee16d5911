// The command-line tool: one summary line and exit 0 on success; a message on stderr naming
// the line and column, and exit 1, on failure.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "SettlementsCsv.h"
#include "ToolTestSupport.h"

namespace vidora::tools {
namespace {

struct TRun {
  int ExitCode = -1;
  std::string Out;
  std::string Err;
};

TRun RunTool(const std::string& args, const test::TScratchDir& dir) {
  const std::string errFile = (dir.Path / "stderr.txt").string();
  const std::string command = std::string(VIDORA_MKDB_PATH) + " " + args + " 2>'" + errFile + "'";
  TRun run;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) run.Out += buffer;
  const int status = ::pclose(pipe);
  run.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream in(errFile);
  run.Err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  std::filesystem::remove(errFile);
  return run;
}

std::string Quote(const std::filesystem::path& p) { return "'" + p.string() + "'"; }

TEST(VidoraMkdbTest, BuildsTheDatabaseWithOneSummaryLine) {
  test::TScratchDir dir;
  const TRun run = RunTool(Quote(testsupport::SettlementsCsv()) + " " + Quote(dir.Path / "db"), dir);
  EXPECT_EQ(run.ExitCode, 0) << run.Err;
  EXPECT_TRUE(run.Err.empty()) << run.Err;
  EXPECT_EQ(std::count(run.Out.begin(), run.Out.end(), '\n'), 1) << run.Out;
  EXPECT_NE(run.Out.find("3155 records"), std::string::npos) << run.Out;
  EXPECT_NE(run.Out.find("NEPESS 9584627"), std::string::npos) << run.Out;
  EXPECT_TRUE(std::filesystem::exists(dir.Path / "db" / "Irsz.vdbt"));

  // A second run refuses to replace the tables.
  const TRun again = RunTool(Quote(testsupport::SettlementsCsv()) + " " + Quote(dir.Path / "db"), dir);
  EXPECT_EQ(again.ExitCode, 1);
  EXPECT_TRUE(again.Out.empty()) << again.Out;
  EXPECT_NE(again.Err.find("never overwritten"), std::string::npos) << again.Err;
}

TEST(VidoraMkdbTest, FailuresGoToStderrWithExitCodeOne) {
  test::TScratchDir dir;
  const auto csv = dir.Write("bad.csv", "IRSZ,TELEP,TELK,RANG,REGIO,MEGYE,KISTERS,TERULET,NEPESS,LAKAS,EGYEB\n"
                                        "1000,A,,község,R,M,K,1,2,3,\n"
                                        "1001,B,,község,R,M,K,1,két,3,\n");
  struct TCase {
    std::string Args;
    std::string ErrPart;
  };
  const std::vector<TCase> cases = {
      {Quote(csv) + " " + Quote(dir.Path / "db"), "bad.csv, line 3, column NEPESS: \"két\" is not a whole number"},
      {"", "usage:"},
      {"only-one-argument", "usage:"},
      {"--generate many " + Quote(csv) + " " + Quote(dir.Path / "db"), "positive whole number"},
      {Quote(dir.Path / "missing.csv") + " " + Quote(dir.Path / "db"), "cannot open"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Args);
    const TRun run = RunTool(c.Args, dir);
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_TRUE(run.Out.empty()) << run.Out;
    EXPECT_NE(run.Err.find(c.ErrPart), std::string::npos) << run.Err;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.Path / "db" / "Irsz.vdbt"));
}

TEST(VidoraMkdbTest, MakesAnEncipheredDatabaseWithAPassword) {
  test::TScratchDir dir;
  const TRun run = RunTool("--password 'Titok 1' --encryption rijndael " + Quote(testsupport::SettlementsCsv()) + " " +
                               Quote(dir.Path / "db"),
                           dir);
  ASSERT_EQ(run.ExitCode, 0) << run.Err;
  EXPECT_NE(run.Out.find("rijndael"), std::string::npos) << run.Out;
  {
    test::TOpenTable irsz(dir.Path / "db" / "Irsz.vdbt", u"Titok 1");
    ASSERT_TRUE(irsz.Opened);
    EXPECT_EQ(irsz.Table->EncryptionMethod(), vdb::emRijndael);
    EXPECT_EQ(irsz.Table->GetRecordCount(), 3155);
    EXPECT_EQ(irsz.IndexWalk("TELEP").size(), 3155u);
    irsz.Read(1);
    EXPECT_TRUE(irsz.Text("TELEP").has_value());
  }
  test::TOpenTable scratch(dir.Path / "db" / "Irsz_tmp.vdbt", u"Titok 1");
  EXPECT_EQ(scratch.Table->EncryptionMethod(), vdb::emRijndael);
  for (const std::u16string& wrong : {std::u16string(u"titok 1"), std::u16string()}) {
    test::TOpenTable refused(dir.Path / "db" / "Irsz.vdbt", wrong, false);
    EXPECT_EQ(refused.Status, -38);
  }

  // Blowfish unless another method is named; the refusals of the options.
  const TRun defaulted =
      RunTool("--password titok " + Quote(testsupport::SettlementsCsv()) + " " + Quote(dir.Path / "db2"), dir);
  ASSERT_EQ(defaulted.ExitCode, 0) << defaulted.Err;
  EXPECT_NE(defaulted.Out.find("blowfish"), std::string::npos) << defaulted.Out;
  struct TCase {
    std::string Args;
    std::string ErrPart;
  };
  const std::string files = " " + Quote(testsupport::SettlementsCsv()) + " " + Quote(dir.Path / "db3");
  const std::vector<TCase> cases = {
      {"--encryption fast" + files, "--encryption needs a --password"},
      {"--password x --encryption zip" + files, "unknown encryption method \"zip\""},
      {"--password ''" + files, "the password may not be empty"},
      {Quote(testsupport::SettlementsCsv()) + " " + Quote(dir.Path / "db3") + " --password", "usage:"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Args);
    const TRun refused = RunTool(c.Args, dir);
    EXPECT_EQ(refused.ExitCode, 1);
    EXPECT_NE(refused.Err.find(c.ErrPart), std::string::npos) << refused.Err;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.Path / "db3"));
}

TEST(VidoraMkdbTest, GeneratesSyntheticRecords) {
  test::TScratchDir dir;
  const TRun run = RunTool("--generate 4000 " + Quote(testsupport::SettlementsCsv()) + " " + Quote(dir.Path / "db"), dir);
  EXPECT_EQ(run.ExitCode, 0) << run.Err;
  EXPECT_NE(run.Out.find("4000 records"), std::string::npos) << run.Out;
}

}  // namespace
}  // namespace vidora::tools
