// Helpers of the storage tests: a temporary directory and a helper child process that opens
// and locks files on command, so that share modes and byte locks can be checked between two
// real processes. Test thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vdb::test {

// A fresh directory under TMPDIR (else /tmp), removed with everything in it at the end.
class TTempDir {
 public:
  TTempDir();
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  const std::string& Path() const { return FPath; }
  std::u16string Path16() const;
  // Path of `name` inside the directory.
  std::u16string File(const std::string& name) const;

 private:
  std::string FPath;
};

// The test binary re-run as a helper: it serves one command per line over two pipes, on its
// own TvuOSFileSystem. Commands and answers (handles are the child's):
//   create <path>                         -> "ok <h>" | "err <code>"
//   open <mode> <path>                    -> "ok <h>" | "err <code>"
//   lock|unlock <h> <start> <end>         -> "ok" | "err <code>"
//   test <h> <start> <end>                -> "free" | "held" | "failed"
//   close <h>                             -> "ok" | "err <code>"
// Every answer comes after the command took effect, so the pipes are the synchronisation.
class TChildProcess {
 public:
  TChildProcess();
  // Ends the child (closing its command pipe) and reaps it.
  ~TChildProcess();
  TChildProcess(const TChildProcess&) = delete;
  TChildProcess& operator=(const TChildProcess&) = delete;
  // Sends one command and returns the answer line.
  std::string Call(const std::string& command);
  // Ends the child without it releasing anything (its locks vanish with the process).
  void Kill();

 private:
  int FPid = -1;
  int FToChild = -1;
  int FFromChild = -1;
};

// Name of the environment variable that turns the helper test into the command server.
inline constexpr const char* kHelperEnv = "VIDORA_STORAGE_TEST_HELPER";

}  // namespace vdb::test
