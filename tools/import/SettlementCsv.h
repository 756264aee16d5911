// Reading the settlement data set: a UTF-8 CSV file (RFC 4180 quoting, CRLF or LF line ends,
// an optional byte-order mark) whose header names the settlement columns. Fields may be
// quoted, contain commas, doubled quotes and line breaks. Every row keeps the line number
// it starts on, so that errors found later can name it.
//
// Threads: a reader belongs to one thread.
#pragma once

#include <array>
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "SettlementImportError.h"

namespace vidora::tools {

// The settlement columns, in the order of the data set and of the tables.
enum TSettlementColumn : std::size_t {
  scIrsz, scTelep, scTelk, scRang, scRegio, scMegye, scKisters, scTerulet, scNepess, scLakas, scEgyeb
};
inline constexpr std::size_t kSettlementColumnCount = 11;
inline constexpr std::array<std::string_view, kSettlementColumnCount> kSettlementColumnNames = {
    "IRSZ", "TELEP", "TELK", "RANG", "REGIO", "MEGYE", "KISTERS", "TERULET", "NEPESS", "LAKAS", "EGYEB"};

// One record of a CSV text: its fields (bytes as written, quotes removed) and the line it
// starts on (1-based).
struct TCsvRecord {
  int Line = 0;
  std::vector<std::string> Fields;
};

// Splits a whole CSV text into records. A line without any character is skipped.
class TCsvReader {
 public:
  explicit TCsvReader(std::string_view text);
  // The next record; false at the end of the text. Raises ESettlementImport for a quote
  // that is never closed or text after a closing quote.
  bool Next(TCsvRecord& record);

 private:
  std::string_view FText;
  std::size_t FPos = 0;
  int FLine = 1;
};

// One settlement row: its values in UTF-16, in column order, and its line in the file.
struct TSettlementRow {
  int Line = 0;
  std::array<std::u16string, kSettlementColumnCount> Values;
};

// Reads the settlement CSV at `path`: the header must name each settlement column once and
// nothing else (in any order); every row must have as many fields as the header and be valid
// UTF-8. Raises ESettlementImport naming the file, the line and, where one is at fault, the
// column.
std::vector<TSettlementRow> ReadSettlementCsv(const std::filesystem::path& path);
// The same for a CSV text already in memory.
std::vector<TSettlementRow> ParseSettlementCsv(std::string_view text);

}  // namespace vidora::tools
