#include "StagingDirectory.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "SettlementImportError.h"

namespace vidora::tools {

namespace fs = std::filesystem;

namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

std::string ErrnoText(int error) { return std::error_code(error, std::generic_category()).message(); }

// Renames `from` to `to` unless `to` exists; false with errno set otherwise.
bool RenameNoReplace(const fs::path& from, const fs::path& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without the flag: a hard link is refused just the same when `to` exists.
  if (::link(from.c_str(), to.c_str()) != 0) return false;
  ::unlink(from.c_str());
  return true;
}

void SyncDirectory(const fs::path& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

std::vector<fs::path> TableFilesIn(const fs::path& directory, const std::vector<std::string>& tableNames) {
  std::vector<fs::path> found;
  std::error_code ec;
  if (!fs::is_directory(directory, ec)) return found;
  for (const auto& entry : fs::directory_iterator(directory, ec)) {
    const std::string name = entry.path().filename().string();
    const std::string table = Lower(name.substr(0, name.find_first_of(".!")));
    for (const auto& t : tableNames) {
      if (table == Lower(t)) found.push_back(entry.path());
    }
  }
  std::sort(found.begin(), found.end());
  return found;
}

TStagingDirectory::TStagingDirectory(fs::path target) : FTarget(std::move(target)) {
  std::error_code ec;
  FMadeTarget = fs::create_directories(FTarget, ec);
  if (ec || !fs::is_directory(FTarget)) {
    throw ESettlementImport("cannot make the directory " + FTarget.string() + ": " +
                            (ec ? ec.message() : std::string("not a directory")));
  }
  std::string pattern = (FTarget / ".vidora_mkdb-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw ESettlementImport("cannot make a working directory in " + FTarget.string() + ": " + ErrnoText(errno));
  }
  FPath = pattern;
}

TStagingDirectory::~TStagingDirectory() {
  std::error_code ec;
  fs::remove_all(FPath, ec);
  if (FMadeTarget && !FCommitted) fs::remove(FTarget, ec);  // only when empty
}

std::vector<fs::path> TStagingDirectory::Commit(const std::string& lastExtension) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(FPath)) files.push_back(entry.path().filename());
  std::sort(files.begin(), files.end());
  std::stable_partition(files.begin(), files.end(),
                        [&](const fs::path& f) { return f.extension().string() != lastExtension; });
  std::vector<fs::path> moved;
  for (const auto& f : files) {
    if (RenameNoReplace(FPath / f, FTarget / f)) {
      moved.push_back(FTarget / f);
      continue;
    }
    const int error = errno;
    for (auto it = moved.rbegin(); it != moved.rend(); ++it) {
      std::error_code ec;
      fs::rename(*it, FPath / it->filename(), ec);
    }
    throw ESettlementImport("cannot move " + f.string() + " into " + FTarget.string() + ": " +
                            (error == EEXIST ? std::string("a file of that name is already there") : ErrnoText(error)));
  }
  FCommitted = true;
  SyncDirectory(FTarget);
  return moved;
}

}  // namespace vidora::tools
