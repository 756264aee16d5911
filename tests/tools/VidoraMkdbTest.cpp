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

TEST(VidoraMkdbTest, GeneratesSyntheticRecords) {
  test::TScratchDir dir;
  const TRun run = RunTool("--generate 4000 " + Quote(testsupport::SettlementsCsv()) + " " + Quote(dir.Path / "db"), dir);
  EXPECT_EQ(run.ExitCode, 0) << run.Err;
  EXPECT_NE(run.Out.find("4000 records"), std::string::npos) << run.Out;
}

}  // namespace
}  // namespace vidora::tools
