// Storage test support, and the helper "test" that the child process runs: it is skipped in
// a normal run and serves commands when the helper variable names its pipes.
#include "StorageTestSupport.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>

#include <gtest/gtest.h>

#include "base/VdbFormat.h"
#include "storage/vuOSFileSystem.h"

extern char** environ;

namespace vdb::test {

namespace {

bool WriteAll(int fd, const std::string& s) {
  std::size_t done = 0;
  while (done < s.size()) {
    const ssize_t r = ::write(fd, s.data() + done, s.size() - done);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    done += static_cast<std::size_t>(r);
  }
  return true;
}

// Reads one line (without its '\n'); false at end of input.
bool ReadLine(int fd, std::string& line) {
  line.clear();
  char c;
  for (;;) {
    const ssize_t r = ::read(fd, &c, 1);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    if (c == '\n') return true;
    line += c;
  }
}

std::string Serve(TvuOSFileSystem& fs, const std::string& line) {
  std::istringstream in(line);
  std::string cmd;
  in >> cmd;
  auto result = [&](bool ok) {
    return ok ? std::string("ok") : "err " + std::to_string(fs.GetLastError());
  };
  if (cmd == "create" || cmd == "open") {
    std::uint32_t mode = 0;
    if (cmd == "open") in >> mode;
    std::string path;
    in >> path;
    const TvuFileHandle h = cmd == "create" ? fs.CreateFile(VdbUtf8ToUtf16(path))
                                            : fs.OpenFile(VdbUtf8ToUtf16(path), mode);
    return TvuFileSystem::IsValidHandle(h) ? "ok " + std::to_string(h) : result(false);
  }
  TvuFileHandle h = -1;
  std::int64_t start = 0, end = 0;
  in >> h >> start >> end;
  if (cmd == "lock") return result(fs.LockFile(h, start, end, true));
  if (cmd == "unlock") return result(fs.UnlockFile(h, start, end, true));
  if (cmd == "close") return result(fs.CloseFile(h));
  if (cmd == "test") {
    switch (fs.TestLock(h, start, end)) {
      case TvuLockProbe::lpFree: return "free";
      case TvuLockProbe::lpHeld: return "held";
      default: return "failed";
    }
  }
  return "unknown";
}

}  // namespace

TTempDir::TTempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/vidora-storage-XXXXXX";
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  FPath = tmpl;
}

TTempDir::~TTempDir() {
  std::error_code ec;
  std::filesystem::remove_all(FPath, ec);
}

std::u16string TTempDir::Path16() const { return VdbUtf8ToUtf16(FPath); }

std::u16string TTempDir::File(const std::string& name) const {
  return VdbUtf8ToUtf16(FPath + "/" + name);
}

TChildProcess::TChildProcess() {
  int toChild[2], fromChild[2];
  if (::pipe2(toChild, O_CLOEXEC) != 0 || ::pipe2(fromChild, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  // Everything the child needs is prepared before fork: after it only async-signal-safe calls.
  constexpr int kChildIn = 100, kChildOut = 101;
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  env.push_back(std::string(kHelperEnv) + "=" + std::to_string(kChildIn) + "," +
                std::to_string(kChildOut));
  std::vector<char*> envp;
  for (auto& s : env) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::string exe = "/proc/self/exe";
  std::string filter = "--gtest_filter=StorageChildHelper.Serve";
  char* argv[] = {exe.data(), filter.data(), nullptr};
  const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);

  FPid = ::fork();
  if (FPid == 0) {
    ::dup2(toChild[0], kChildIn);  // dup2 clears close-on-exec on the copies
    ::dup2(fromChild[1], kChildOut);
    if (devNull >= 0) ::dup2(devNull, 1);
    ::execve(exe.c_str(), argv, envp.data());
    ::_exit(127);
  }
  if (devNull >= 0) ::close(devNull);
  ::close(toChild[0]);
  ::close(fromChild[1]);
  FToChild = toChild[1];
  FFromChild = fromChild[0];
  if (FPid < 0) throw std::runtime_error("fork failed");
}

TChildProcess::~TChildProcess() {
  if (FToChild >= 0) ::close(FToChild);
  if (FFromChild >= 0) ::close(FFromChild);
  if (FPid > 0) {
    int status;
    while (::waitpid(FPid, &status, 0) < 0 && errno == EINTR) {
    }
  }
}

std::string TChildProcess::Call(const std::string& command) {
  std::string answer;
  if (!WriteAll(FToChild, command + "\n") || !ReadLine(FFromChild, answer)) {
    return "child gone";
  }
  return answer;
}

void TChildProcess::Kill() {
  if (FPid <= 0) return;
  ::kill(FPid, SIGKILL);
  int status;
  while (::waitpid(FPid, &status, 0) < 0 && errno == EINTR) {
  }
  FPid = -1;
}

}  // namespace vdb::test

// The child's side: serves commands until its command pipe closes.
TEST(StorageChildHelper, Serve) {
  const char* fds = std::getenv(vdb::test::kHelperEnv);
  if (!fds) GTEST_SKIP() << "runs only as the helper child of the storage tests";
  int in = -1, out = -1;
  ASSERT_EQ(std::sscanf(fds, "%d,%d", &in, &out), 2);
  vdb::TvuOSFileSystem fs;
  std::string line;
  while (vdb::test::ReadLine(in, line)) {
    if (!vdb::test::WriteAll(out, vdb::test::Serve(fs, line) + "\n")) break;
  }
}
