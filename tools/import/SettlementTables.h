// The settlement tables as files of the engine: their definition (level 6, Hungarian
// collation, the settlement columns) and the encoding of one settlement row into a record
// image of such a table, with every value checked against its column first.
//
// Column choices: IRSZ holds the 4 characters of a postal code (the search box takes at most
// 4); TELEP holds 30 characters, the length of the name search box, which leaves room beyond
// the longest name of the data set (20) for the numbered names of generated tables; TELK,
// RANG, REGIO, MEGYE and KISTERS are the 20-character texts the statistics group by;
// TERULET, NEPESS and LAKAS are 32-bit integers (whole hectares, persons, dwellings); EGYEB is
// a memo. Every settlement has a postal code and a name, so those two may not be empty.
//
// Threads: an encoder belongs to the thread that uses its table.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "SettlementCsv.h"
#include "tables/VdbBaseTable.h"

namespace vidora::tools {

inline constexpr std::int32_t kIrszLength = 4;
inline constexpr std::int32_t kTelepLength = 30;
inline constexpr std::int32_t kGroupTextLength = 20;
inline constexpr int kSettlementTableLevel = 6;
inline constexpr char16_t kSettlementCollation[] = u"Hungarian";
inline constexpr char16_t kSettlementTable[] = u"Irsz";
inline constexpr char16_t kScratchTable[] = u"Irsz_tmp";

// The definition of a settlement table at `path` (without extension). `withIndexes`: the
// user indexes TELEP (by name) and IRSZ (by postal code).
vdb::TVdbNewTable SettlementTableDefinition(std::u16string path, std::int32_t capacity, bool withIndexes);

// The note block size for `rows`: the smallest power of two from 64 to 4096 bytes whose block
// holds the longest note whole (the notes are short: a 4096-byte block each would leave most
// of the note file empty).
std::int32_t SettlementNoteBlockSize(const std::vector<TSettlementRow>& rows);

// Running totals of the numeric columns of the rows encoded so far (empty values count 0).
struct TSettlementTotals {
  std::int32_t Records = 0;
  std::int64_t Terulet = 0;
  std::int64_t Nepess = 0;
  std::int64_t Lakas = 0;
};

class TSettlementRecordEncoder {
 public:
  // `table` is open and set up with the settlement columns; it must outlive the encoder.
  // Raises ESettlementImport when a settlement column is missing or of another kind.
  explicit TSettlementRecordEncoder(vdb::TVdbBaseTable& table);

  // Checks every value of `row` and fills `record` (resized to the record size). Texts must
  // fit their column in characters and be representable in the table's code page; numbers
  // are whole numbers 0..2147483647; IRSZ and TELEP may not be empty; other empty values are
  // stored as null. The note goes into the memo file only after every check has passed.
  // Raises ESettlementImport naming the row's line and the column.
  void Encode(const TSettlementRow& row, std::vector<std::uint8_t>& record);
  const TSettlementTotals& Totals() const noexcept { return FTotals; }

 private:
  enum TKind { ckText, ckNumber, ckMemo };
  struct TColumn {
    const vdb::TVdbColumnDef* Def = nullptr;
    TKind Kind = ckText;
    bool Required = false;
  };
  std::string CheckedText(const TSettlementRow& row, std::size_t col) const;
  std::int64_t CheckedNumber(const TSettlementRow& row, std::size_t col) const;

  vdb::TVdbBaseTable& FTable;
  std::array<TColumn, kSettlementColumnCount> FColumns;
  TSettlementTotals FTotals;
};

}  // namespace vidora::tools
