// Names of a stored table's files and indexes. A table's level (1..6) decides how its data,
// index, memo, blob, lock, record-move and redo files are named, which index names the engine
// reserves for its own indexes and what kind an index is from its name alone. Every function
// here is a pure function of a level and names, so each rule is one row of a table.
//
// Threads: pure functions; any thread may call them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "storage/VdbIndexFile.h"  // TVdbIndexKind

namespace vdb {

// Highest table level, and the level of new tables.
inline constexpr int VDB_NEW_TABLE_LEVEL = 6;
// Index slots per table: 50 from level 4 on, 15 below.
int VdbIndexSlotCount(int level) noexcept;
// True when the level uses the new file names (.vdbt and company).
constexpr bool VdbIsNewLevel(int level) noexcept { return level >= 6; }

// Pieces of a path ('/' separates directories).
std::u16string_view VdbExtractDir(std::u16string_view path);        // with the trailing '/'
std::u16string_view VdbExtractFileName(std::u16string_view path);   // without directory
std::u16string_view VdbExtractExt(std::u16string_view path);        // ".ext" or empty
// The path without its extension.
std::u16string VdbChangeExt(std::u16string_view path, std::u16string_view ext);
bool VdbSameTextNoCase(std::u16string_view a, std::u16string_view b) noexcept;

// The file set of one table, computed from its data file's path and level. `dataFile` is the
// data file's path ("dir/name.vdbt"); relation tables of level 1..5 end in ".rel".
class TVdbTableFileNames {
 public:
  TVdbTableFileNames(std::u16string dataFile, int level);

  const std::u16string& DataFile() const noexcept { return FDataFile; }
  int Level() const noexcept { return FLevel; }
  // Directory with the trailing '/', or empty.
  std::u16string Directory() const { return std::u16string(VdbExtractDir(FDataFile)); }
  // The data file name without directory and extension.
  std::u16string BaseName() const;
  // True for a relation table (".rel" at levels 1..5, "!rel_" in the name at level 6).
  bool IsRelTable() const;

  std::u16string MemoFile() const;
  std::u16string BlobFile() const;
  // The index file of index `indexName` (in the data file's directory).
  std::u16string IndexFile(std::u16string_view indexName) const;
  // The relation table of relation column `column`.
  std::u16string RelationTableFile(std::u16string_view column) const;
  // Lock, record-move and redo files; the first two follow the data file's extension, the
  // redo log the level.
  std::u16string LockFile() const;
  std::u16string MoveFile() const;
  std::u16string RedoLogFile() const;
  // Extension of full-text index files.
  std::u16string_view FullTextExt() const;

 private:
  std::u16string FDataFile;
  int FLevel;
};

// The data file path for a table path given without or with an extension: level 6 gets
// ".vdbt", levels 1..5 ".dat" (or keep ".rel" for a relation table).
std::u16string VdbDataFileNameFor(std::u16string_view path, int level);
// Whether `path`'s extension fits the level when a table is created (".vdbt" for level 6,
// ".dat" or ".rel" for 1..5, or none).
bool VdbExtensionFitsLevel(std::u16string_view path, int level);

// The standard table name: the file name without directory; ".dat" and ".vdbt" are removed
// (compared without case), other extensions kept.
std::u16string VdbCalcStdTableName(std::u16string_view tableName);

// What an index is for, from its name (see the file comment).
TVdbIndexKind VdbGetIndexKind(std::u16string_view indexName, int level);
// True for the names the engine keeps for itself ("sys…", "tmpIdx…").
bool VdbIsReservedIndexName(std::u16string_view indexName);

// Names of the engine's own indexes. `tableFullName` is used below level 4 only.
std::u16string VdbRecordIdIndexName(int level, std::u16string_view tableFullName);
std::u16string VdbIdIndexName(int level, std::u16string_view tableFullName);
std::u16string VdbLinkIndexName(int level, std::u16string_view tableFullName, int n);  // n 1..9
inline constexpr std::u16string_view kVdbPrimaryIndexName = u"sys_Primary";
std::u16string VdbUniqueIndexName(int keyPosition);           // "sys_Unique" + position
std::u16string VdbForeignKeyIndexName(std::u16string_view fk);  // "sys_FK" + name
std::u16string VdbReferentialIndexName(std::u16string_view rule);  // "IR_" + name
// Temporary index number n (1..99): "tmp%.3d", or "<std name>.$%.2d" below level 4.
std::u16string VdbTempIndexName(int level, std::u16string_view stdName, int n);

}  // namespace vdb
