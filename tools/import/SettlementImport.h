// Creating the settlement database: the tables Irsz (the settlements, with the indexes TELEP
// and IRSZ) and Irsz_tmp (the empty scratch table of the same columns, without indexes: it
// holds one record at a time and is read in record order) in a directory, from the settlement
// CSV. The tables are built in a staging directory inside the target and moved into place
// only when complete, so a failed import leaves no file of either table behind, and existing
// tables are never replaced.
//
// Threads: one call at a time per target directory; the functions share nothing.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "SettlementImportError.h"
#include "SettlementTables.h"

namespace vidora::tools {

// How the tables are protected: no method and no key (the default), or a method of the
// engine with its key (password). Protection only asks for the password; fast, Blowfish and
// Rijndael encipher the records, notes and indexes.
struct TSettlementEncryption {
  vdb::TvuEncryptionMethod Method = vdb::emNone;
  std::u16string Key;
};

struct TSettlementImportSummary {
  // Records of Irsz and the totals of its numeric columns.
  TSettlementTotals Totals;
  // The files placed in the directory.
  std::vector<std::filesystem::path> Files;
};

// Creates Irsz from every row of the CSV at `csvPath` and an empty Irsz_tmp in `directory`
// (made when missing). Raises ESettlementImport when the CSV cannot be read, a value does not
// fit its column (naming line and column), a table file is already in the directory, or the
// engine fails; the directory then holds no file of either table.
// With `encryption`, both tables are made with its method and key.
TSettlementImportSummary ImportSettlements(const std::filesystem::path& csvPath, const std::filesystem::path& directory,
                                           const TSettlementEncryption& encryption = {});

// As ImportSettlements, but Irsz gets `count` synthetic records derived from the CSV's rows
// for measurements: record i (0-based) copies row i mod n and its name gets the suffix
// " <i + 1>", so that every name is distinct and the names spread through the alphabet as
// the settlement names do. Only the first copy of each row keeps its note (a note takes a
// whole memo block). `count` is 1..100000000.
TSettlementImportSummary GenerateSettlements(std::int64_t count, const std::filesystem::path& csvPath,
                                             const std::filesystem::path& directory,
                                             const TSettlementEncryption& encryption = {});

}  // namespace vidora::tools
