#include "SettlementImport.h"

#include <algorithm>
#include <functional>
#include <string>

#include "StagingDirectory.h"
#include "base/VdbErrors.h"
#include "base/VdbFormat.h"
#include "base/VdbLastError.h"
#include "storage/VdbPageMan.h"
#include "storage/vuOSFileSystem.h"
#include "base/vuServices.h"
#include "sql/VdbSqlCompiler.h"

namespace vidora::tools {

namespace fs = std::filesystem;
using namespace vdb;

namespace {

// Rights of a table being built: exclusive (no lock file) with every write right.
constexpr std::uint16_t kBuildRights = 0x010F;
constexpr std::int32_t kCacheKB = 64 * 1024;
constexpr std::int32_t kMinCapacity = 10000;
constexpr std::int64_t kMaxGenerated = 100000000;
const std::string kDataFileExtension = ".vdbt";

// The engine objects a table needs, for the files of one directory.
class TEngineSite {
 public:
  TEngineSite() { PageManager.RegisterClient(1, kCacheKB); }
  ~TEngineSite() { PageManager.UnregisterClient(1, kCacheKB); }
  TEngineSite(const TEngineSite&) = delete;
  TEngineSite& operator=(const TEngineSite&) = delete;

  // Raises ESettlementImport with `what` and the engine's last message for a failed status.
  void Check(std::int16_t status, const std::string& what) const {
    if (status < 0) throw ESettlementImport(what + ": " + VdbUtf16ToUtf8(LastError.Msg()));
  }

  TvuOSFileSystem FileSystem;
  TVdbPageManager PageManager;
  TVdbLastError LastError;
  TVdbTableEnvironment Env{PageManager, FileSystem, 1, LastError, vuDefaultServices(),
                           tilNone, kVdbDefaultBlockSize, &VdbSqlCompiler()};
};

using TFill = std::function<void(TVdbBaseTable&)>;

// Creates the settlement table `name` in `dir`, lets `fill` append its records straight to
// the data file, then builds the indexes from them and closes the table.
void BuildTable(TEngineSite& site, const fs::path& dir, const std::u16string& name, std::int32_t capacity,
                bool withIndexes, std::int32_t noteBlockSize, const TSettlementEncryption& encryption,
                const TFill& fill) {
  const std::u16string base = VdbUtf8ToUtf16((dir / VdbUtf16ToUtf8(name)).string());
  const std::string label = "table " + VdbUtf16ToUtf8(name);
  {
    TVdbBaseTable creator(site.Env);
    TVdbNewTable def = SettlementTableDefinition(base, capacity, withIndexes);
    def.EncryptionMethod = encryption.Method;
    def.Key = encryption.Key;
    def.MemoBlockSize = noteBlockSize;
    site.Check(creator.NewTable(def), "creating " + label);
  }
  TVdbBaseTable table(site.Env);
  table.SetRights(kBuildRights);
  table.SetFileName(base + VdbUtf8ToUtf16(kDataFileExtension));
  table.SetKey(encryption.Key);
  site.Check(table.Open(false), "opening " + label);
  site.Check(table.Setup(false), "setting up " + label);
  if (fill) fill(table);
  site.Check(table.RegenIndex(), "building the indexes of " + label);
  site.Check(table.Close(), "closing " + label);
}

std::int32_t CapacityFor(std::int64_t records) {
  return static_cast<std::int32_t>(std::max<std::int64_t>(kMinCapacity, records));
}

// Builds both tables in a staging directory of `directory`, Irsz filled by `fill`, and moves
// them into place.
TSettlementImportSummary BuildDatabase(const fs::path& directory, std::int64_t records, std::int32_t noteBlockSize,
                                       const TSettlementEncryption& encryption, const TFill& fill) {
  const std::vector<std::string> tables = {VdbUtf16ToUtf8(kSettlementTable), VdbUtf16ToUtf8(kScratchTable)};
  auto refuseExisting = [&] {
    const auto existing = TableFilesIn(directory, tables);
    if (existing.empty()) return;
    std::string list;
    for (const auto& f : existing) list += (list.empty() ? "" : ", ") + f.filename().string();
    throw ESettlementImport("the directory " + directory.string() +
                            " already holds settlement tables, which are never overwritten: " + list);
  };
  refuseExisting();
  TStagingDirectory staging(directory);
  TSettlementImportSummary summary;
  try {
    TEngineSite site;
    BuildTable(site, staging.Path(), kSettlementTable, CapacityFor(records), true, noteBlockSize, encryption, fill);
    BuildTable(site, staging.Path(), kScratchTable, kMinCapacity, false, noteBlockSize, encryption, {});
  } catch (const EVdbEngine& e) {
    throw ESettlementImport(std::string("engine error: ") + e.what());
  }
  refuseExisting();
  summary.Files = staging.Commit(kDataFileExtension);
  return summary;
}

}  // namespace

TSettlementImportSummary ImportSettlements(const fs::path& csvPath, const fs::path& directory,
                                           const TSettlementEncryption& encryption) {
  const std::vector<TSettlementRow> rows = ReadSettlementCsv(csvPath);
  TSettlementTotals totals;
  TSettlementImportSummary summary =
      BuildDatabase(directory, static_cast<std::int64_t>(rows.size()), SettlementNoteBlockSize(rows), encryption,
                    [&](TVdbBaseTable& table) {
        TSettlementRecordEncoder encoder(table);
        std::vector<std::uint8_t> record;
        for (const auto& row : rows) {
          encoder.Encode(row, record);
          table.DataFile()->InsertRecord(record);
        }
        totals = encoder.Totals();
      });
  summary.Totals = totals;
  return summary;
}

TSettlementImportSummary GenerateSettlements(std::int64_t count, const fs::path& csvPath, const fs::path& directory,
                                             const TSettlementEncryption& encryption) {
  if (count < 1 || count > kMaxGenerated) {
    throw ESettlementImport("the number of records to generate must be 1.." + std::to_string(kMaxGenerated));
  }
  const std::vector<TSettlementRow> rows = ReadSettlementCsv(csvPath);
  if (rows.empty()) throw ESettlementImport("the CSV has no rows to derive records from");
  TSettlementTotals totals;
  // Generated records carry the notes of the first len(rows) records only: the same notes.
  TSettlementImportSummary summary =
      BuildDatabase(directory, count, SettlementNoteBlockSize(rows), encryption, [&](TVdbBaseTable& table) {
    TSettlementRecordEncoder encoder(table);
    std::vector<std::uint8_t> record;
    TSettlementRow row;
    for (std::int64_t i = 0; i < count; ++i) {
      const TSettlementRow& source = rows[static_cast<std::size_t>(i % static_cast<std::int64_t>(rows.size()))];
      row = source;
      row.Values[scTelep] += u" " + VdbUtf8ToUtf16(std::to_string(i + 1));
      if (i >= static_cast<std::int64_t>(rows.size())) row.Values[scEgyeb].clear();
      encoder.Encode(row, record);
      table.DataFile()->InsertRecord(record);
    }
    totals = encoder.Totals();
  });
  summary.Totals = totals;
  return summary;
}

}  // namespace vidora::tools
