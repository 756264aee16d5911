// Helpers of the dataset tests: a settlement database built once per test binary by the
// project's tool, fresh copies of it for tests that change data, and a temporary directory.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "VdbDataSet.h"

namespace dstest {

namespace fs = std::filesystem;

// A directory removed with everything in it.
class TTempDir {
 public:
  TTempDir() {
    static std::atomic<int> counter{0};
    FPath = fs::temp_directory_path() /
            ("vidora-dataset-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    fs::remove_all(FPath);
    fs::create_directories(FPath);
  }
  ~TTempDir() {
    std::error_code ec;
    fs::remove_all(FPath, ec);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  const fs::path& Path() const noexcept { return FPath; }
  std::u16string Location() const { return FPath.u16string(); }

 private:
  fs::path FPath;
};

#ifdef VIDORA_MKDB
// The settlement tables Irsz and Irsz_tmp, built once from the data set.
inline const fs::path& SettlementDatabase() {
  static TTempDir dir;
  static const bool built = [] {
    const std::string command = std::string("\"") + VIDORA_MKDB + "\" \"" + VIDORA_SETTLEMENTS_CSV + "\" \"" +
                                dir.Path().string() + "\" > /dev/null";
    return std::system(command.c_str()) == 0;
  }();
  EXPECT_TRUE(built) << "the settlement tables could not be built";
  return dir.Path();
}

// Copies the settlement tables into target (for tests that change them).
inline void CopySettlementDatabase(const fs::path& target) {
  for (const auto& entry : fs::directory_iterator(SettlementDatabase()))
    if (entry.is_regular_file()) fs::copy_file(entry.path(), target / entry.path().filename());
}
#endif

}  // namespace dstest
