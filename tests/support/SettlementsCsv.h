// The settlement data set as tests read it: the shared CSV beside the repository, parsed as
// RFC 4180 (quoted fields may hold commas and doubled quotes), texts in UTF-16.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/VdbFormat.h"

namespace testsupport {

// Column order of the data set: IRSZ,TELEP,TELK,RANG,REGIO,MEGYE,KISTERS,TERULET,NEPESS,LAKAS,EGYEB.
enum TSettlementColumn { scIRSZ, scTELEP, scTELK, scRANG, scREGIO, scMEGYE, scKISTERS, scTERULET, scNEPESS, scLAKAS, scEGYEB };

inline std::filesystem::path SettlementsCsv() {
  // The shared folder beside the repository, named by the build: a path taken from __FILE__
  // is relative when a compiler cache rewrites paths, and would depend on the working directory.
  return std::filesystem::path(VIDORA_SHARED_DIR) / "data/settlements.csv";
}

// Fields of one line; CR is dropped.
inline std::vector<std::string> SplitCsvLine(const std::string& line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '"') {
      if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
        fields.back() += '"';
        ++i;
      } else {
        quoted = !quoted;
      }
    } else if (c == ',' && !quoted) {
      fields.emplace_back();
    } else if (c != '\r') {
      fields.back() += c;
    }
  }
  return fields;
}

// Every data row (the header line skipped); empty when the file cannot be read.
inline std::vector<std::vector<std::u16string>> ReadSettlements() {
  std::ifstream in(SettlementsCsv());
  std::vector<std::vector<std::u16string>> rows;
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    if (line.empty() || line == "\r") continue;
    std::vector<std::u16string> row;
    for (const auto& f : SplitCsvLine(line)) row.push_back(vdb::VdbUtf8ToUtf16(f));
    rows.push_back(std::move(row));
  }
  return rows;
}

// A whole number of the data set (area, population, dwellings); 0 for an empty field.
inline std::int64_t ToInt(const std::u16string& s) {
  std::int64_t v = 0;
  for (char16_t c : s) v = v * 10 + (c - u'0');
  return v;
}

}  // namespace testsupport
