// Helpers of the write-path tests: the "Towns" table (record id, name, unique code and a memo
// note; indexes on the name and the unique code), records built from values, and the table's
// state read back as values (memo notes included) so that two states compare exactly.
// Test thread only.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "TableTestSupport.h"
#include "WalkBound.h"
#include "storage/VdbTreeBase.h"

namespace vdb::test {

enum TTownCol { tcId, tcName, tcCode, tcNote };

inline TVdbNewTable TownsDefinition(const std::u16string& path) {
  TVdbNewTable t;
  t.Path = path;
  t.Capacity = 1000;
  t.Columns = {Column(u"ID", vctRecordId), Column(u"NAME", vctString, 20), Column(u"CODE", vctInteger),
               Column(u"NOTE", vctMemo, 0, true)};
  t.Indexes = {{u"ByName", u"NAME", false}, {u"ByCode", u"CODE", true}};
  return t;
}

struct TTown {
  std::int64_t Id = 0;
  std::u16string Name;
  std::int64_t Code = 0;
  std::string Note;
  friend bool operator==(const TTown&, const TTown&) = default;
};

inline std::ostream& operator<<(std::ostream& os, const TTown& t) {
  return os << "{" << t.Id << ", " << VdbUtf16ToUtf8(t.Name) << ", " << t.Code << ", \"" << t.Note << "\"}";
}

// A new record of `t` (no record id drawn) with name and code.
inline std::vector<std::uint8_t> TownRecord(const TVdbBaseTable& t, std::u16string_view name, std::int64_t code) {
  std::vector<std::uint8_t> record(static_cast<std::size_t>(t.GetRecordSize()), 0);
  SetText(t, record, tcName, name);
  SetInt(t, record, tcCode, code);
  SetNullField(t, record, tcNote);
  return record;
}

inline TVdbBlobDataList NoteBlob(std::string_view note) {
  return {TVdbBlobData{tcNote + 1, std::vector<std::uint8_t>(note.begin(), note.end()), false}};
}

// Appends a town with a drawn id; the record number, or the failure.
inline std::int32_t AppendTown(TVdbBaseTable& t, std::u16string_view name, std::int64_t code,
                               std::string_view note = {}) {
  std::vector<std::uint8_t> record = TownRecord(t, name, code);
  if (t.SetAutoNum(record) != 0) return -1;
  return t.AppendRecord(record, note.empty() ? TVdbBlobDataList{} : NoteBlob(note));
}

inline std::vector<TTown> TownsState(TVdbBaseTable& t) {
  std::vector<TTown> towns;
  std::vector<std::uint8_t> record(static_cast<std::size_t>(t.GetRecordSize()));
  for (std::int32_t r = 1; r <= t.GetRecordCount(); ++r) {
    EXPECT_EQ(t.ReadRecord(r, record), 0);
    const std::vector<std::uint8_t> note = t.ReadBlobValue(record, tcNote + 1);
    towns.push_back(TTown{GetInt(t, record, tcId), GetText(t, record, tcName), GetInt(t, record, tcCode),
                          std::string(note.begin(), note.end())});
  }
  return towns;
}

// The record numbers index `indexNo` lists, in its order.
inline std::vector<std::int32_t> IndexRecNos(TVdbBaseTable& t, TVdbIndexNo indexNo) {
  std::vector<std::int32_t> recNos;
  TVdbIndexFile& file = t.GetIndexFile(indexNo);
  std::vector<std::uint8_t> key(static_cast<std::size_t>(file.GetIndSize()) + 64, 0);
  // An index lists each record at most once.
  testsupport::TWalkBound bound(static_cast<std::size_t>(t.GetRecordCount()), "the walk over an index");
  for (std::int16_t r = file.Erster_Index(key); r == 0 && bound.Step(); r = file.Naechster_Index(key))
    recNos.push_back(VdbEntryRecNo(key));
  return recNos;
}

// Copies the files of "/db" as they are on `disk` (cached changes not written) to `to`: what
// a crash at this moment would leave.
inline void Snapshot(TvuMemoryFileSystem& disk, TvuMemoryFileSystem& to) {
  TvuFindFileRec rec;
  for (bool more = disk.FindFirstFile(u"/db/*", 0, rec); more; more = disk.FindNextFile(rec)) {
    const std::u16string path = u"/db/" + rec.Name;
    const std::vector<std::uint8_t> bytes = disk.Contents(path);
    const TvuFileHandle h = to.CreateFile(path);
    ASSERT_TRUE(TvuFileSystem::IsValidHandle(h));
    to.FileWrite(h, 0, bytes.data(), static_cast<std::int64_t>(bytes.size()));
    to.CloseFile(h);
  }
  disk.FindFileClose(rec);
}

inline std::string Problems(const std::vector<std::u16string>& problems) {
  std::string text;
  for (const auto& p : problems) text += VdbUtf16ToUtf8(p) + "\n";
  return text;
}

}  // namespace vdb::test
