// The settlement table for the cursor tests: built once per test program in an in-memory
// database directory (created from definitions with the indexes TELEP, IRSZ and the two-item
// MEGYE_IRSZ, filled from the settlement data set, indexes rebuilt, reopened), and a model
// of it read back record by record: record numbers with their postal codes, names, counties
// and the entries of each index, so that expected orders come from the index entries'
// own order and never from the order of the CSV file. Test thread only.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "../tables/TableTestSupport.h"

namespace vdb::test {

enum TSettlementCol { cIrsz, cTelep, cTelk, cRang, cRegio, cMegye, cKisters, cTerulet, cNepess, cLakas, cEgyeb, cCount };

inline TVdbNewTable SettlementDefinition() {
  TVdbNewTable t;
  t.Path = u"/db/Irsz";
  t.Level = 6;
  t.Capacity = 5000;
  t.CollationName = u"Hungarian";
  t.Columns = {Column(u"IRSZ", vctInteger),           Column(u"TELEP", vctString, 40),
               Column(u"TELK", vctSmallInt, 0, true), Column(u"RANG", vctString, 30, true),
               Column(u"REGIO", vctString, 30, true), Column(u"MEGYE", vctString, 30, true),
               Column(u"KISTERS", vctString, 30, true), Column(u"TERULET", vctFloat, 0, true),
               Column(u"NEPESS", vctInteger, 0, true), Column(u"LAKAS", vctInteger, 0, true),
               Column(u"EGYEB", vctMemo, 0, true)};
  t.Indexes = {{u"TELEP", u"TELEP", false}, {u"IRSZ", u"IRSZ", false}, {u"MEGYE_IRSZ", u"MEGYE, IRSZ", false}};
  return t;
}

struct TSettlementRow {
  std::int32_t RecNo = 0;
  std::int64_t Irsz = 0;
  std::u16string Telep;
  std::u16string Megye;
};

class TSettlementWorld {
 public:
  TSettlementWorld() {
    const auto rows = ReadSettlements();
    auto creator = World.NewTableObject();
    if (creator->NewTable(SettlementDefinition()) != 0) ADD_FAILURE() << VdbUtf16ToUtf8(World.LastError.Msg());
    {
      auto t = World.OpenTable(u"/db/Irsz.vdbt");
      std::vector<std::uint8_t> record(static_cast<std::size_t>(t->GetRecordSize()));
      for (const auto& row : rows) {
        std::fill(record.begin(), record.end(), std::uint8_t{0});
        for (int c = 0; c < cCount; ++c) {
          const std::u16string& text = row[static_cast<std::size_t>(c)];
          const TVdbColumnDef& col = t->ColumnDefs().GetColumnDef(c);
          if (c == cEgyeb) continue;
          if (text.empty()) {
            SetNullField(*t, record, c);
          } else if (c == cTerulet) {
            TVdbDataValue v;
            col.DataType()->SetReference(v, record, static_cast<std::size_t>(col.Position()));
            col.DataType()->SetDouble(v, static_cast<double>(ToInt(text)));
          } else if (col.DataType()->IsString()) {
            SetText(*t, record, c, text);
          } else {
            SetInt(*t, record, c, ToInt(text));
          }
        }
        AppendRaw(*t, record);
      }
      if (t->RegenIndex() != 0) ADD_FAILURE() << VdbUtf16ToUtf8(World.LastError.Msg());
      t->Close();
    }
    Table = World.OpenTable(u"/db/Irsz.vdbt", 0x010F);
    std::vector<std::uint8_t> record(static_cast<std::size_t>(Table->GetRecordSize()));
    for (std::int32_t r = 1; r <= Table->GetRecordCount(); ++r) {
      Table->ReadRecord(r, record);
      TSettlementRow row;
      row.RecNo = r;
      row.Irsz = GetInt(*Table, record, cIrsz);
      row.Telep = GetText(*Table, record, cTelep);
      row.Megye = IsNullField(*Table, record, cMegye) ? std::u16string() : GetText(*Table, record, cMegye);
      Rows.push_back(row);
    }
  }
  ~TSettlementWorld() {
    if (Table) Table->Close();
  }

  // Record numbers of `rows` in the order of index `indexNo` (by the index entries' order).
  std::vector<std::int32_t> IndexOrder(TVdbIndexNo indexNo, const std::vector<TSettlementRow>& rows) {
    std::vector<std::uint8_t> record(static_cast<std::size_t>(Table->GetRecordSize()));
    std::vector<std::pair<std::vector<std::uint8_t>, std::int32_t>> entries;
    for (const auto& row : rows) {
      Table->ReadRecord(row.RecNo, record);
      std::vector<std::uint8_t> e;
      Table->CalcIndexInfo(record, indexNo, row.RecNo, e);
      entries.emplace_back(std::move(e), row.RecNo);
    }
    const TVdbIndexOrder& order = Table->GetIndexKeys(indexNo).Order();
    std::sort(entries.begin(), entries.end(), [&](const auto& a, const auto& b) { return order.Compare(a.first, b.first) < 0; });
    std::vector<std::int32_t> out;
    for (const auto& e : entries) out.push_back(e.second);
    return out;
  }
  std::vector<std::int32_t> IndexOrder(TVdbIndexNo indexNo) { return IndexOrder(indexNo, Rows); }
  template <class P>
  std::vector<TSettlementRow> Where(P pred) const {
    std::vector<TSettlementRow> out;
    std::copy_if(Rows.begin(), Rows.end(), std::back_inserter(out), pred);
    return out;
  }
  std::vector<std::uint8_t> EmptyRecord() const { return std::vector<std::uint8_t>(static_cast<std::size_t>(Table->GetRecordSize()), 0); }

  TTableWorld World;
  std::unique_ptr<TVdbBaseTable> Table;
  std::vector<TSettlementRow> Rows;
};

}  // namespace vdb::test
