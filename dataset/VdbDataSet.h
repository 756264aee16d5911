// Dataset components of VidoraDB: the dataset over one engine cursor (TVdbDataSet), its field
// definitions, field classes and the blob stream. The table dataset is in VdbTable.h.
// They implement the record-level side of the toolkit's dataset framework (tk::TDataSet)
// with calls of the engine's call interface, made through the database's TVdbCalls.
//
// Record buffer (one contiguous byte block per buffer, FRecBufSize bytes):
//   [0, RecordSize)          the engine's record image
//   BlobCacheOfs   4 bytes   index of the buffer's blob cache in the dataset's list, -1 none
//   RelationsOfs   4 bytes   relation cache of the buffer: always -1 (relation columns are
//                            not read by this engine)
//   RecInfoOfs    16 bytes   record information: sequence number (int32, 0 unknown, -1
//                            cleared), bookmark flag (byte), record number (int32, the
//                            bookmark; 0 the engine's new record, -1 cleared), deleted mark
//                            (byte, 1 when another cursor deleted the record), record a new
//                            record was inserted before (int32)
// Calculated fields keep their values in the framework's part of the buffer (CalcValues).
// GUI thread only.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "VdbCodePage.h"
#include "VdbDatabase.h"
#include "VdbRecordCodec.h"
#include "db/TDataSet.h"

namespace vdbds {

// Field kinds of the components, one per engine column type. dtBytes stands for fixed
// binary columns (shown to the framework as a blob of the column's size).
enum class TVdbDataType {
  dtUnknown, dtString, dtInteger, dtSmallInt, dtFloat, dtByte, dtBoolean, dtDate, dtMemo, dtEnum,
  dtAutoInc, dtLink, dtBlob, dtTime, dtRelation, dtDateTime, dtWideString, dtWideMemo, dtLargeInt, dtGuid, dtBytes
};

// The kind of an engine column type code (low byte of the type word).
TVdbDataType DataTypeOfColumn(std::int16_t columnType) noexcept;
// The framework's field type a kind is shown as.
tk::TFieldType FrameworkType(TVdbDataType type) noexcept;

// One engine column as the dataset describes it.
struct TVdbFieldDef {
  std::u16string Name;
  int Size = 0;
  int Precision = 0;
  bool Required = false;
  TVdbDataType DataTypeVdb = TVdbDataType::dtUnknown;
  bool IsSpecial = false;
  std::u16string CalcExpression;
  std::u16string Specification;
  tk::TFieldType DataType = tk::TFieldType::dtUnknown;
  int FieldNo = 0;
  bool Nullable = true;
  int InitialFieldNo = 0;
  bool ReadOnly = false;
  bool InternalCalcField = false;
  std::int16_t TypeWord = 0;  // the engine's type word (its high byte kept)
  int CodePage = 1252;        // of the column's 8-bit text, as the engine reports it
  TVdbColumnLayout Layout;
};

class TVdbFieldDefs {
 public:
  void Clear() noexcept { FItems.clear(); }
  TVdbFieldDef& Add(TVdbFieldDef def);
  int Count() const noexcept { return static_cast<int>(FItems.size()); }
  const TVdbFieldDef& operator[](int index) const { return FItems.at(static_cast<std::size_t>(index)); }
  const TVdbFieldDef* Find(std::u16string_view name) const noexcept;
  // Raises "Field %s not found".
  const TVdbFieldDef& FieldByName(std::u16string_view name) const;

 private:
  std::vector<TVdbFieldDef> FItems;
};

// Field classes the dataset creates for its columns.
class TVdbStringField : public tk::TStringField {
 public:
  using tk::TStringField::TStringField;
};
class TVdbWideStringField : public tk::TStringField {
 public:
  using tk::TStringField::TStringField;
};
class TVdbLargeIntField : public tk::TIntegerField {
 public:
  TVdbLargeIntField() : tk::TIntegerField(tk::TFieldType::dtLargeInt) {}
};
class TVdbBlobField : public tk::TBlobField {
 public:
  using tk::TBlobField::TBlobField;
};

enum class TOutOfTableState { ootNone, ootBOT, ootEOT };
enum class TVdbFilterMethod { tfeDefault, tfeAuto, tfeStatic, tfeIncremental };
enum TFilterOption : unsigned { foCaseInsensitive = 1, foNoPartialCompare = 2 };
using TFilterOptions = unsigned;
enum class TKeyIndex { kiLookup, kiRangeStart, kiRangeEnd };
enum class TVdbTableOpenMode { tomDefault, tomForce };

// Values of a key search or range, as text, one per index column in index order.
using TVdbKeyValues = std::vector<std::u16string>;

class TVdbBlobStream;
class TVdbDataSet;

// What happens to a value the dataset could not write into a record: raise the error, abandon
// the assignment silently, or go on as if it had been written.
enum class TVdbWriteFieldAction { wfaRaise, wfaAbort, wfaIgnore };
using TVdbWriteFieldErrorEvent =
    std::function<void(TVdbDataSet&, const tk::TField&, const tk::EDatabaseError&, TVdbWriteFieldAction&)>;

class TVdbDataSet : public tk::TDataSet {
 public:
  TVdbDataSet();
  ~TVdbDataSet() override;

  // Component name (used in some error texts).
  std::u16string Name;
  // Decides about a value the dataset cannot write (an unknown enumeration name, a bad GUID).
  TVdbWriteFieldErrorEvent OnWriteFieldError;

  // Name of the database component, or a directory for an automatic one. A real change
  // closes an open dataset, forgets its database and reopens it.
  const std::u16string& DatabaseName() const noexcept { return FDatabaseName; }
  void SetDatabaseName(const std::u16string& value);
  // The bound database; found (and connected) on demand.
  TVdbDatabase& Database();
  std::int16_t Handle() const noexcept { return FTableHdl; }
  TVdbCalls& Calls() const;
  const TVdbFieldDefs& FieldDefsVdb() const noexcept { return FFieldDefsVdb; }
  int TableLevel() const noexcept { return FTableLevel; }
  static std::u16string Version();

  // Record number of the active record (0 for a new one).
  std::int32_t RecordNo();

  // --- filter text given to the engine
  void SetFilter(const std::u16string& value) override;
  void SetFiltered(bool value) override;
  const std::u16string& FilterW() const noexcept { return Filter(); }
  void SetFilterW(const std::u16string& value) { SetFilter(value); }
  TFilterOptions FilterOptions() const noexcept { return FFilterOptions; }
  void SetFilterOptions(TFilterOptions value);
  TVdbFilterMethod FilterMethod() const noexcept { return FFilterMethod; }
  void SetFilterMethod(TVdbFilterMethod value);
  bool FilterGiven() const noexcept { return FFilterUpdated; }

  bool IsSequenced() override;
  // Whether blob contents are kept per buffer (reading them twice reads the engine once).
  bool CacheBlobs() const noexcept { return FCacheBlobs; }

  // Layout of the record buffers (valid while open).
  std::uint16_t RecordSize() const noexcept { return FRecordSize; }
  std::uint16_t RecBufSize() const noexcept { return FRecBufSize; }

  // Told by the database that record deleted was deleted and record moved now carries its
  // number (0: none moved).
  void RecordDeleted(std::int32_t deleted, std::int32_t moved) noexcept;
  // Re-reads the buffers when the engine reports that the cursor's view changed, by this
  // program or (checked in the table's lock file) by another one.
  void RefreshIfChanged();

  std::u16string MemoBytesToText(const tk::TField& field, const tk::TBytes& bytes) override;
  tk::TBytes MemoTextToBytes(const tk::TField& field, std::u16string_view text) override;

 protected:
  friend class TVdbBlobStream;
  struct TBlobEntry {
    tk::TBytes Data;
    bool Loaded = false;
    bool Modified = false;
  };
  using TBlobCache = std::vector<TBlobEntry>;

  // --- record-level interface
  std::unique_ptr<tk::TRecordBuffer> AllocRecordBuffer() override;
  void FreeRecordBuffer(tk::TRecordBuffer& buffer) noexcept override;
  void InternalInitFieldDefs() override;
  std::unique_ptr<tk::TField> CreateFieldObject(const tk::TFieldDef& def) override;
  tk::TGetResult GetRecord(tk::TRecordBuffer& buffer, tk::TGetMode mode, bool doCheck) override;
  void InternalFirst() override;
  void InternalLast() override;
  void InternalSetToRecord(tk::TRecordBuffer& buffer) override;
  tk::TBookmarkFlag GetBookmarkFlag(const tk::TRecordBuffer& buffer) override;
  void SetBookmarkFlag(tk::TRecordBuffer& buffer, tk::TBookmarkFlag flag) override;
  tk::TBookmark GetBookmarkData(const tk::TRecordBuffer& buffer) override;
  void SetBookmarkData(tk::TRecordBuffer& buffer, const tk::TBookmark& bookmark) override;
  void InternalGotoBookmark(const tk::TBookmark& bookmark) override;
  void InternalInitRecord(tk::TRecordBuffer& buffer) override;
  void InternalEdit() override;
  void InternalInsert() override;
  void InternalPost() override;
  void InternalCancel() override;
  void InternalDelete() override;
  void InternalRefresh() override;
  // The window shows what other programs posted meanwhile once the user moves.
  void InternalScrolled() override;
  bool GetFieldData(const tk::TField& field, const tk::TRecordBuffer& buffer, tk::TFieldValue& value) override;
  void SetFieldData(const tk::TField& field, tk::TRecordBuffer& buffer, const tk::TFieldValue& value) override;
  std::unique_ptr<tk::TStream> CreateBlobStream(const tk::TField& field, tk::TRecordBuffer& buffer,
                                                tk::TBlobStreamMode mode) override;
  int GetRecordCount() override;
  int GetRecNo() override;
  bool GetCanModify() override { return FCanModify; }

  // --- for descendants
  // Binds the opened cursor: rights, notifications, registration, layout, filter.
  void BindCursor(std::int16_t tableHdl);
  // Releases the cursor and everything bound to it (copes with a half-opened one).
  // Returns the engine's answer to deleting the cursor.
  std::int16_t ReleaseCursor() noexcept;
  std::int16_t SessionHandle() const noexcept;
  [[noreturn]] void RaiseError(std::u16string_view context, std::int32_t result);
  std::int32_t Check(std::u16string_view context, std::int32_t result);
  void ClearKeyBuffer(TKeyIndex index);
  std::vector<std::uint8_t>& KeyImage(TKeyIndex index);
  // Fills a key buffer from values: value i into the column fieldNos[i].
  void FillKey(TKeyIndex index, const std::vector<int>& fieldNos, const TVdbKeyValues& values);
  void GiveFilterToEngine(const std::u16string& text);
  void SetOutOfTableState(TOutOfTableState value) noexcept { FOutOfTableState = value; }
  // Moves the engine cursor to record `recNo` (-1: before the first record).
  void SetEngineToRecord(std::int32_t recNo);
  tk::TRecordBuffer* KeyRecordBuffer(TKeyIndex index) const noexcept {
    return FKeyBuffers[static_cast<int>(index)].get();
  }
  TOutOfTableState OutOfTableState() const noexcept { return FOutOfTableState; }
  TKeyIndex FCurrentKeyIndex = TKeyIndex::kiLookup;
  bool FReadOnly = false;

 private:
  struct TBuffer;
  TBuffer& Buf(tk::TRecordBuffer& buffer) const;
  const TBuffer& Buf(const tk::TRecordBuffer& buffer) const;
  std::uint8_t* Image(tk::TRecordBuffer& buffer) const;
  std::int32_t ReadInt32(const tk::TRecordBuffer& buffer, std::size_t offset) const;
  void WriteInt32(tk::TRecordBuffer& buffer, std::size_t offset, std::int32_t value) const;
  std::int32_t RecNoOf(const tk::TRecordBuffer& buffer) const { return ReadInt32(buffer, FRecInfoOfs + 5); }
  void SetRecNoOf(tk::TRecordBuffer& buffer, std::int32_t value) const { WriteInt32(buffer, FRecInfoOfs + 5, value); }
  std::int32_t SeqNoOf(const tk::TRecordBuffer& buffer) const { return ReadInt32(buffer, FRecInfoOfs); }
  void SetSeqNoOf(tk::TRecordBuffer& buffer, std::int32_t value) const { WriteInt32(buffer, FRecInfoOfs, value); }
  bool DeletedOf(const tk::TRecordBuffer& buffer) const;
  void SetDeletedOf(tk::TRecordBuffer& buffer, bool value) const;
  std::int32_t InsertedBeforeOf(const tk::TRecordBuffer& buffer) const { return ReadInt32(buffer, FRecInfoOfs + 10); }
  void SetInsertedBeforeOf(tk::TRecordBuffer& buffer, std::int32_t value) const {
    WriteInt32(buffer, FRecInfoOfs + 10, value);
  }
  void ClearBuffer(tk::TRecordBuffer& buffer) noexcept;
  void ReadRecordInto(tk::TRecordBuffer& buffer);
  // Lets the engine catch up with other sessions before the active record is written or
  // deleted: a record they deleted is then marked so, one they moved carries its new number.
  // Raises "This record has been deleted" for a record marked deleted.
  void CatchUpBeforeChange(std::u16string_view context);
  // Moves the engine cursor to the active buffer's record, following a renumbering the move
  // itself delivers; raises "This record has been deleted" when the record went meanwhile.
  void PositionOnActive(std::u16string_view context);
  tk::TGetResult FetchFromEngine(tk::TRecordBuffer& buffer, tk::TGetMode mode);
  void WriteRecord(tk::TRecordBuffer& buffer);
  const TVdbFieldDef& DefOf(const tk::TField& field) const;
  const TVdbCodePage& CodePageOf(const TVdbFieldDef& def) const;
  void WriteFieldValue(const tk::TField& field, tk::TRecordBuffer& buffer, const tk::TFieldValue& value);

  // Blob caches.
  int BlobIndexOf(const tk::TField& field) const;
  TBlobCache& CacheOf(tk::TRecordBuffer& buffer);
  TBlobCache* FindCache(const tk::TRecordBuffer& buffer) const;
  void ReleaseBlobCache(tk::TRecordBuffer& buffer) noexcept;
  TBlobEntry& LoadedEntry(const tk::TField& field, tk::TRecordBuffer& buffer);

  std::uint16_t FRecordSize = 0;
  std::uint16_t FBlobCacheOfs = 0;
  std::uint16_t FRelationsOfs = 0;
  std::uint16_t FRecInfoOfs = 0;
  std::uint16_t FRecBufSize = 0;
  bool FCacheBlobs = true;
  // Blob cache slots, grown by kCacheSlotsStep when every slot is taken.
  static constexpr std::size_t kCacheSlotsStep = 100;
  std::vector<std::unique_ptr<TBlobCache>> FBlobInfoList;
  int FFilteredRecordCount = -1;
  TVdbFieldDefs FFieldDefsVdb;
  std::vector<int> FBlobFieldIndex;  // per column: position among the blob columns, -1 none
  int FBlobFieldCount = 0;
  std::map<int, std::unique_ptr<TVdbCodePage>> FCodePages;
  TVdbFilterMethod FFilterMethod = TVdbFilterMethod::tfeDefault;
  TFilterOptions FFilterOptions = 0;
  int FTableLevel = 0;
  bool FCanModify = false;
  std::int16_t FTableHdl = 0;
  std::u16string FDatabaseName;
  TVdbDatabase* FDatabase = nullptr;
  TOutOfTableState FOutOfTableState = TOutOfTableState::ootBOT;
  bool FFilterUpdated = false;
  bool FEngineSequenced = true;
  std::int32_t FLastFetchError = 0;
  std::unique_ptr<tk::TRecordBuffer> FKeyBuffers[3];
};

// A stream over the cached content of one blob field in one record buffer.
class TVdbBlobStream : public tk::TStream {
 public:
  TVdbBlobStream(TVdbDataSet& dataSet, const tk::TField& field, tk::TRecordBuffer& buffer, tk::TBlobStreamMode mode);
  ~TVdbBlobStream() override;
  std::size_t Read(void* buffer, std::size_t count) override;
  std::size_t Write(const void* buffer, std::size_t count) override;
  std::int64_t Seek(std::int64_t offset, tk::TSeekOrigin origin) override;

 private:
  TVdbDataSet& FDataSet;
  const tk::TField& FField;
  TVdbDataSet::TBlobEntry& FEntry;
  std::size_t FPosition = 0;
  std::size_t FDataStart = 0;
  bool FWriting = false;
  bool FModified = false;
};

}  // namespace vdbds
