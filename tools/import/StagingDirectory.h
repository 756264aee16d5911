// Building tables beside their final place: a fresh hidden directory inside the target
// directory (so that moving a file out of it is a rename on the same file system) that is
// removed with whatever it holds unless its files have been moved into the target.
//
// Threads: one thread.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace vidora::tools {

// Files of `directory` that belong to one of the tables `tableNames`: their name up to the
// first '.' or '!' equals a table name, ignoring case (the engine resolves table names to
// files without regard to case). Sorted; empty when the directory does not exist.
std::vector<std::filesystem::path> TableFilesIn(const std::filesystem::path& directory,
                                                const std::vector<std::string>& tableNames);

class TStagingDirectory {
 public:
  // Makes `target` when missing and a new staging directory inside it. Raises
  // ESettlementImport when either cannot be made.
  explicit TStagingDirectory(std::filesystem::path target);
  // Removes the staging directory and every file left in it, and the target too when this
  // object made it and nothing was moved into it.
  ~TStagingDirectory();
  TStagingDirectory(const TStagingDirectory&) = delete;
  TStagingDirectory& operator=(const TStagingDirectory&) = delete;

  const std::filesystem::path& Path() const noexcept { return FPath; }
  const std::filesystem::path& Target() const noexcept { return FTarget; }

  // Moves every file of the staging directory into the target, never replacing a file there,
  // the files ending in `lastExtension` (the data files, by which a table is found) after all
  // others. When a move fails, the files already moved go back and ESettlementImport is raised:
  // the target then holds none of them. Returns the files now in the target.
  std::vector<std::filesystem::path> Commit(const std::string& lastExtension);

 private:
  std::filesystem::path FTarget;
  std::filesystem::path FPath;
  bool FMadeTarget = false;
  bool FCommitted = false;
};

}  // namespace vidora::tools
