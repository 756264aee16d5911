// vidora_mkdb: creates the settlement tables Irsz and Irsz_tmp in a directory from the
// settlement CSV, or (with --generate N) an Irsz of N synthetic records for measurements.
// Prints one summary line and exits 0, or prints the reason on stderr and exits 1.
#include <charconv>
#include <chrono>
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>
#include <string_view>

#include "SettlementImport.h"

namespace {

constexpr const char* kUsage =
    "usage: vidora_mkdb <csv> <directory>\n"
    "       vidora_mkdb --generate <records> <csv> <directory>\n";

int Fail(const std::string& message) {
  std::cerr << "vidora_mkdb: " << message << "\n";
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace vidora::tools;
  std::int64_t generate = 0;
  int first = 1;
  if (argc == 5 && std::string_view(argv[1]) == "--generate") {
    const std::string_view n(argv[2]);
    const auto [end, ec] = std::from_chars(n.data(), n.data() + n.size(), generate);
    if (ec != std::errc() || end != n.data() + n.size() || generate < 1) {
      return Fail("the number of records must be a positive whole number, not \"" + std::string(n) + "\"");
    }
    first = 3;
  } else if (argc != 3 || std::string_view(argv[1]).starts_with("-")) {
    std::cerr << kUsage;
    return 1;
  }
  const std::filesystem::path csv = argv[first];
  const std::filesystem::path directory = argv[first + 1];
  try {
    const auto start = std::chrono::steady_clock::now();
    const TSettlementImportSummary summary =
        generate > 0 ? GenerateSettlements(generate, csv, directory) : ImportSettlements(csv, directory);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", took.count());
    std::cout << "vidora_mkdb: created Irsz (" << summary.Totals.Records << " records; TERULET "
              << summary.Totals.Terulet << ", NEPESS " << summary.Totals.Nepess << ", LAKAS " << summary.Totals.Lakas
              << ") and Irsz_tmp in " << directory.string() << " in " << seconds << " s\n";
    return 0;
  } catch (const ESettlementImport& e) {
    // A message about a row names the file it is in.
    return Fail(e.Line() > 0 ? csv.string() + ", " + e.what() : std::string(e.what()));
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
}
