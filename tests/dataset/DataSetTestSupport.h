// Helpers of the dataset tests: a settlement database built once per test binary by the
// project's tool, fresh copies of it for tests that change data, and a temporary directory.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <fstream>
#include <vector>

#include "VdbDataSet.h"
#include "db/TField.h"

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

// Column order of the data set: IRSZ,TELEP,TELK,RANG,REGIO,MEGYE,KISTERS,TERULET,NEPESS,LAKAS,EGYEB.
enum TSettlementColumn { scIRSZ, scTELEP, scTELK, scRANG, scREGIO, scMEGYE, scKISTERS, scTERULET, scNEPESS, scLAKAS, scEGYEB };

// Every data row of the settlement data set (RFC 4180 fields, texts in UTF-16).
inline std::vector<std::vector<std::u16string>> ReadSettlements() {
  std::ifstream in(VIDORA_SETTLEMENTS_CSV, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::vector<std::u16string>> rows;
  std::vector<std::u16string> row;
  std::string field;
  bool quoted = false, header = true;
  auto endField = [&] {
    row.push_back(tk::Utf8ToUtf16(field));
    field.clear();
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') field += text[++i];
      else if (c == '"') quoted = false;
      else field += c;
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      endField();
    } else if (c == '\n') {
      endField();
      if (!header && row.size() > 1) rows.push_back(row);
      header = false;
      row.clear();
    } else if (c != '\r') {
      field += c;
    }
  }
  return rows;
}

// A whole number of the data set; 0 for an empty field.
inline std::int64_t ToInt(const std::u16string& s) {
  std::int64_t v = 0;
  for (char16_t c : s) v = v * 10 + (c - u'0');
  return v;
}

// Copies `text` into a fixed text field of the call interface's records, cut to fit, with its NUL.
template <std::size_t N, class TChar>
void Put(TChar (&target)[N], std::u16string_view text) {
  static_assert(sizeof(TChar) == sizeof(char16_t));
  const std::size_t n = std::min(text.size(), N - 1);
  std::memcpy(target, text.data(), n * sizeof(TChar));
  target[n] = 0;
}

}  // namespace dstest
