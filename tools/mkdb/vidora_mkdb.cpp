// vidora_mkdb: creates the settlement tables Irsz and Irsz_tmp in a directory from the
// settlement CSV, or (with --generate N) an Irsz of N synthetic records for measurements.
// With --password the tables are enciphered with that key (Blowfish, or the method named by
// --encryption; "protection" only asks for the password and leaves the bytes plain).
// Prints one summary line and exits 0, or prints the reason on stderr and exits 1.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "SettlementImport.h"
#include "base/VdbFormat.h"

namespace {

constexpr const char* kUsage =
    "usage: vidora_mkdb [--generate <records>] [--password <key> [--encryption <method>]] <csv> <directory>\n"
    "       <method>: blowfish (the default), rijndael, fast or protection\n";

struct TMethodName {
  std::string_view Name;
  vdb::TvuEncryptionMethod Method;
};
constexpr TMethodName kMethods[] = {{"blowfish", vdb::emBlowfish},
                                    {"rijndael", vdb::emRijndael},
                                    {"fast", vdb::emFast},
                                    {"protection", vdb::emProtection}};

std::string_view MethodLabel(vdb::TvuEncryptionMethod m) {
  for (const auto& x : kMethods) {
    if (x.Method == m) return x.Name;
  }
  return "none";
}

int Fail(const std::string& message) {
  std::cerr << "vidora_mkdb: " << message << "\n";
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace vidora::tools;
  std::int64_t generate = 0;
  TSettlementEncryption encryption;
  std::string_view method;
  bool hasPassword = false;
  std::vector<std::string_view> operands;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg(argv[i]);
    const bool takesValue = arg == "--generate" || arg == "--password" || arg == "--encryption";
    if (takesValue && i + 1 >= argc) {
      std::cerr << kUsage;
      return 1;
    }
    if (arg == "--generate") {
      const std::string_view n(argv[++i]);
      const auto [end, ec] = std::from_chars(n.data(), n.data() + n.size(), generate);
      if (ec != std::errc() || end != n.data() + n.size() || generate < 1) {
        return Fail("the number of records must be a positive whole number, not \"" + std::string(n) + "\"");
      }
    } else if (arg == "--password") {
      hasPassword = true;
      encryption.Key = vdb::VdbUtf8ToUtf16(argv[++i]);
    } else if (arg == "--encryption") {
      method = argv[++i];
    } else if (arg.starts_with("-")) {
      std::cerr << kUsage;
      return 1;
    } else {
      operands.push_back(arg);
    }
  }
  if (operands.size() != 2) {
    std::cerr << kUsage;
    return 1;
  }
  if (!method.empty() && !hasPassword) return Fail("--encryption needs a --password");
  if (hasPassword) {
    if (encryption.Key.empty()) return Fail("the password may not be empty");
    encryption.Method = vdb::emBlowfish;
    if (!method.empty()) {
      const auto* m = std::find_if(std::begin(kMethods), std::end(kMethods),
                                   [&](const TMethodName& x) { return x.Name == method; });
      if (m == std::end(kMethods)) return Fail("unknown encryption method \"" + std::string(method) + "\"");
      encryption.Method = m->Method;
    }
  }
  const std::filesystem::path csv = operands[0];
  const std::filesystem::path directory = operands[1];
  try {
    const auto start = std::chrono::steady_clock::now();
    const TSettlementImportSummary summary =
        generate > 0 ? GenerateSettlements(generate, csv, directory, encryption)
                     : ImportSettlements(csv, directory, encryption);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", took.count());
    std::cout << "vidora_mkdb: created Irsz (" << summary.Totals.Records << " records; TERULET "
              << summary.Totals.Terulet << ", NEPESS " << summary.Totals.Nepess << ", LAKAS " << summary.Totals.Lakas
              << ") and Irsz_tmp in " << directory.string() << " in " << seconds << " s"
              << (hasPassword ? ", protected by the password (" + std::string(MethodLabel(encryption.Method)) + ")" : "")
              << "\n";
    return 0;
  } catch (const ESettlementImport& e) {
    // A message about a row names the file it is in.
    return Fail(e.Line() > 0 ? csv.string() + ", " + e.what() : std::string(e.what()));
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
}
