// Helpers of the table tests: an in-memory database directory with its page manager, session
// error recorder and fake clock, column descriptions for new tables, record fields set and
// read by value, and the settlement data set read from its CSV file. Test thread only.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "SettlementsCsv.h"
#include "storage/vuMemoryFileSystem.h"
#include "tables/VdbBaseTable.h"
#include "types/vuCodePage.h"
#include "sql/VdbSqlCompiler.h"

namespace vdb::test {

class TTableWorld {
 public:
  TTableWorld() {
    Fs.ForcePath(u"/db");
    PageManager.RegisterClient(1, 65536);
  }
  ~TTableWorld() { PageManager.UnregisterClient(1, 65536); }
  TTableWorld(const TTableWorld&) = delete;
  TTableWorld& operator=(const TTableWorld&) = delete;

  std::unique_ptr<TVdbBaseTable> NewTableObject() { return std::make_unique<TVdbBaseTable>(Env); }
  // A table object opened (and set up) on `path` with `rights`; fails the test otherwise.
  std::unique_ptr<TVdbBaseTable> OpenTable(const std::u16string& path, std::uint16_t rights = 0x010F) {
    auto t = NewTableObject();
    t->SetRights(rights);
    t->SetFileName(path);
    if (t->Open(false) != 0 || t->Setup(false) != 0) {
      ADD_FAILURE() << "open failed: " << VdbUtf16ToUtf8(LastError.Msg());
    }
    return t;
  }

  TvuMemoryFileSystem Fs{8192};
  TVdbPageManager PageManager;
  TVdbLastError LastError;
  TvuFakeClock Clock;
  TvuFakeSleeper Sleeper{Clock};
  TvuFakeRandom Random{7};
  TVdbTableEnvironment Env{PageManager, Fs, 1, LastError, TvuServices{Clock, Sleeper, Random},
                           tilNone, kVdbDefaultBlockSize, &VdbSqlCompiler()};
};

inline TVdbNewColumn Column(std::u16string name, TVdbColumnType type, std::int32_t length = 0, bool nullable = false) {
  TVdbNewColumn c;
  c.Name = std::move(name);
  c.ColumnType = type;
  c.Length = length;
  c.Nullable = nullable;
  return c;
}

// Field access by column number (0-based) in a record image.
inline void SetText(const TVdbBaseTable& t, std::vector<std::uint8_t>& record, int col, std::u16string_view text) {
  const TVdbColumnDef& c = t.ColumnDefs().GetColumnDef(col);
  TVdbDataValue v;
  c.DataType()->SetReference(v, record, static_cast<std::size_t>(c.Position()));
  c.DataType()->SetWideString(v, text);
}
inline void SetInt(const TVdbBaseTable& t, std::vector<std::uint8_t>& record, int col, std::int64_t value) {
  const TVdbColumnDef& c = t.ColumnDefs().GetColumnDef(col);
  TVdbDataValue v;
  c.DataType()->SetReference(v, record, static_cast<std::size_t>(c.Position()));
  c.DataType()->SetInteger(v, value);
}
inline void SetNullField(const TVdbBaseTable& t, std::vector<std::uint8_t>& record, int col) {
  const TVdbColumnDef& c = t.ColumnDefs().GetColumnDef(col);
  TVdbDataValue v;
  c.DataType()->SetReference(v, record, static_cast<std::size_t>(c.Position()));
  c.DataType()->SetNull(v);
}
inline std::u16string GetText(const TVdbBaseTable& t, std::vector<std::uint8_t>& record, int col) {
  const TVdbColumnDef& c = t.ColumnDefs().GetColumnDef(col);
  TVdbDataValue v;
  c.DataType()->SetReference(v, record, static_cast<std::size_t>(c.Position()));
  return c.DataType()->GetWideString(v);
}
inline std::int64_t GetInt(const TVdbBaseTable& t, std::vector<std::uint8_t>& record, int col) {
  const TVdbColumnDef& c = t.ColumnDefs().GetColumnDef(col);
  TVdbDataValue v;
  c.DataType()->SetReference(v, record, static_cast<std::size_t>(c.Position()));
  return c.DataType()->GetInteger(v);
}
inline bool IsNullField(const TVdbBaseTable& t, std::vector<std::uint8_t>& record, int col) {
  const TVdbColumnDef& c = t.ColumnDefs().GetColumnDef(col);
  TVdbDataValue v;
  c.DataType()->SetReference(v, record, static_cast<std::size_t>(c.Position()));
  return c.DataType()->IsNull(v);
}

// Appends a record straight to the data file (the write path with index maintenance is not
// this unit's); callers rebuild the indexes afterwards.
inline std::int32_t AppendRaw(TVdbBaseTable& t, const std::vector<std::uint8_t>& record) {
  return t.DataFile()->InsertRecord(record);
}

// ---- the settlement data set

using testsupport::ReadSettlements;
using testsupport::SettlementsCsv;
using testsupport::ToInt;

}  // namespace vdb::test
