// The dataset framework's core. TDataSet runs the states, the before/after events, the
// window of record buffers that controls show, the fields and the notifications of data
// sources and links. Derived datasets (the in-memory dataset, the engine's table and query
// datasets) implement the record-level operations of the "record-level interface" below.
// GUI thread only.
//
// Buffer window: FBufferCount buffers (the largest BufferCount of the attached links, at
// least 1) plus one scratch buffer at index FBufferCount. FRecordCount of them hold records,
// in dataset order; FActiveRecord is the current record; FCurrentRecord is the buffer the
// derived dataset's cursor stands on (-1 when unknown). Every navigation keeps the window
// filled around the active record; Resync re-reads it from the cursor.
//
// States: dsInactive (closed), dsBrowse, dsEdit and dsInsert (the active buffer holds the
// record being edited), dsSetKey (fields read and write the key buffer of the derived
// dataset), and the temporary states dsCalcFields and dsFilter, entered without notifying
// controls while OnCalcFields or OnFilterRecord runs; fields then read the record under
// calculation or filtering.
//
// Errors: failures are EDatabaseError (or a derived class) and leave the dataset in a
// consistent state; EAbort raised by a Before... handler abandons the operation silently:
// state and record stay as they were.
//
// When the framework calls the record-level interface (protected section below):
//   Open      InternalOpen, InternalInitFieldDefs, AllocRecordBuffer (window + 1), then
//             GetRecord(gmNext) until the window is full.
//   Close     FreeRecordBuffer for each buffer, InternalClose.
//   First     InternalFirst, GetRecord(gmNext)...     Last  InternalLast, GetRecord(gmPrior)...
//   MoveBy    InternalSetToRecord/InternalFirst/InternalLast on the edge buffer (by its
//             bookmark flag), then GetRecord(gmNext or gmPrior) beyond the window.
//   Resync    GetRecord(gmCurrent) into the scratch buffer (then gmNext, gmPrior when not
//             exact), then the window around it.
//   Edit      InternalSetToRecord(active), InternalEdit.          Post    InternalPost.
//   Insert    InternalInitRecord, bookmark of the record it goes before and bfInserted (bfBOF
//             in an empty dataset), InternalSetToRecord, InternalInsert.
//   Append    InternalInitRecord, bfEOF, InternalLast, InternalInsert.
//   Cancel    InternalSetToRecord(active) (InternalFirst/InternalLast for bfBOF/bfEOF),
//             InternalCancel, then Resync.
//   Delete    InternalSetToRecord(active), InternalDelete, then Resync.
//   GotoBookmark InternalGotoBookmark, then an exact, centred Resync.
//   RecordCount GetRecordCount; RecNo GetRecNo; SetRecNo InternalSetRecNo.
//   Scrolled  InternalScrolled after First, Last, MoveBy and moves to the cursor's record.
//   Fields    GetFieldData/SetFieldData on the buffer the state selects; CreateBlobStream.
//   Filter    SetFilter/SetFiltered are virtual: a dataset that filters by text applies it in
//             its cursor and calls the base, which stores it and re-reads from the first
//             record. OnFilterRecord is applied by the framework (FetchRecord); a dataset
//             counts records under it with FilterRecord.
//   Set-key   BeginSetKey enters dsSetKey; fields then use KeyBuffer(); Post/Cancel there
//             call InternalPostKey(apply).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "db/DbErrors.h"
#include "db/TDataSource.h"
#include "db/TField.h"

namespace tk {

enum class TDataSetState : unsigned char { dsInactive, dsBrowse, dsEdit, dsInsert, dsSetKey, dsCalcFields, dsFilter };

enum class TGetMode : unsigned char { gmCurrent, gmNext, gmPrior };
enum class TGetResult : unsigned char { grOK, grBOF, grEOF, grError };
// Where a buffer's record stands: a record, before the first, after the last, or a new one.
enum class TBookmarkFlag : unsigned char { bfCurrent, bfBOF, bfEOF, bfInserted };
enum class TDataAction : unsigned char { daFail, daAbort, daRetry };

// Opaque position of a record, BookmarkSize bytes; empty = none.
using TBookmark = std::vector<std::uint8_t>;

// A record buffer. Derived datasets derive their buffer from it and keep their record
// image and record information (bookmark, bookmark flag, sequence number) in it; the
// framework keeps the values of calculated fields.
class TRecordBuffer {
 public:
  virtual ~TRecordBuffer() = default;
  std::vector<TFieldValue> CalcValues;
};

struct TResyncMode {
  bool Exact = false;   // the cursor's record must still exist ("Record not found" otherwise)
  bool Center = false;  // put the record in the middle of the window, else keep its row
};

class TDataSet;
using TDataSetNotifyEvent = std::function<void(TDataSet&)>;
using TFilterRecordEvent = std::function<void(TDataSet&, bool& accept)>;
using TDataSetErrorEvent = std::function<void(TDataSet&, const EDatabaseError&, TDataAction&)>;

class TDataSet {
 public:
  TDataSet() = default;
  TDataSet(const TDataSet&) = delete;
  TDataSet& operator=(const TDataSet&) = delete;
  // Derived classes close in their own destructor (CloseForDestruction): closing needs them.
  virtual ~TDataSet();

  // --- opening and state
  // Opens: BeforeOpen, field definitions, fields, cursor, first records, AfterOpen,
  // AfterScroll (when not empty). A failure leaves the dataset closed.
  void Open();
  // Closes: pending edits are cancelled (never posted, never left in the cursor), then
  // BeforeClose, controls deactivated, cursor closed, default fields freed, AfterClose.
  void Close();
  bool Active() const noexcept { return FState != TDataSetState::dsInactive; }
  void SetActive(bool value) { value ? Open() : Close(); }
  TDataSetState State() const noexcept { return FState; }
  bool Modified() const noexcept { return FModified; }
  // The derived dataset allows changes (and the dataset is open).
  bool CanModify() const;

  // --- navigation (each leaves edit modes first, see CheckBrowseMode)
  void First();
  void Last();
  void Next() { MoveBy(1); }
  void Prior() { MoveBy(-1); }
  // Moves up to distance records; returns how far it moved.
  int MoveBy(int distance);
  bool Bof() const noexcept { return FBOF; }
  bool Eof() const noexcept { return FEOF; }
  bool IsEmpty() const noexcept { return FRecordCount == 0 && FState != TDataSetState::dsInsert; }
  // Records as the dataset sees them (filters applied). Raises on a closed dataset.
  int RecordCount();
  // 1-based sequence number of the active record; 0 when unknown (new record, not sequenced).
  int RecNo();
  // Makes the record with this sequence number current.
  void SetRecNo(int value);
  // Sequence numbers are exact: a scroll bar may use RecNo and RecordCount as positions.
  virtual bool IsSequenced() { return true; }
  // Re-reads the records around the current one from the derived dataset.
  void Refresh();

  // --- edit cycle
  void Edit();
  void Insert();
  void Append();
  void Post();
  void Cancel();
  // Deletes the current record. In insert or set-key state it cancels instead.
  void Delete();
  // Leaves edit modes: pending control edits are written, then a modified record is
  // posted and an unmodified one cancelled; set-key state is left. Raises when closed.
  void CheckBrowseMode();
  // Makes controls write their pending edits into the fields (edit modes only).
  void UpdateRecord();

  // --- bookmarks
  int BookmarkSize() const noexcept { return FBookmarkSize; }
  // Bookmark of the active record; empty when there is none (closed, empty, new record).
  TBookmark GetBookmark();
  void GotoBookmark(const TBookmark& bookmark);
  virtual bool BookmarkValid(const TBookmark& bookmark);
  // <0, 0, >0 by dataset order; an empty bookmark sorts first.
  virtual int CompareBookmarks(const TBookmark& a, const TBookmark& b);

  // --- fields
  TFieldDefs& FieldDefs() noexcept { return FFieldDefs; }
  int FieldCount() const noexcept { return static_cast<int>(FFields.size()); }
  TField& Fields(int index) const { return *FFields.at(static_cast<std::size_t>(index)); }
  TField* FindField(std::u16string_view name) const noexcept;
  // Raises "Field '%s' not found".
  TField& FieldByName(std::u16string_view name) const;
  // Adds a persistent field (closed dataset only). Data fields bind to the column of their
  // name at opening; calculated fields get their values from OnCalcFields. With persistent
  // fields present, no default fields are created.
  TField& AddField(std::unique_ptr<TField> field, const std::u16string& name,
                   TFieldKind kind = TFieldKind::fkData);
  const TFormatSettings& FormatSettings() const noexcept { return FFormats; }
  void SetFormatSettings(const TFormatSettings& value) noexcept { FFormats = value; }
  // Recompute calculated fields whenever a data field of the record changes in edit modes.
  bool AutoCalcFields = true;

  // --- filter
  const std::u16string& Filter() const noexcept { return FFilter; }
  virtual void SetFilter(const std::u16string& value);
  bool Filtered() const noexcept { return FFiltered; }
  virtual void SetFiltered(bool value);
  const TFilterRecordEvent& OnFilterRecord() const noexcept { return FOnFilterRecord; }
  void SetOnFilterRecord(TFilterRecordEvent handler);

  // --- controls
  // Suspends notifications of data links; nests. EnableControls at the outermost level
  // sends what was missed: a state change and a full refresh of the window.
  void DisableControls() noexcept;
  void EnableControls();
  bool ControlsDisabled() const noexcept { return FDisableCount > 0; }

  // --- events
  TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
  TDataSetNotifyEvent BeforeInsert, AfterInsert, BeforeEdit, AfterEdit;
  TDataSetNotifyEvent BeforePost, AfterPost, BeforeCancel, AfterCancel;
  TDataSetNotifyEvent BeforeDelete, AfterDelete, BeforeScroll, AfterScroll;
  TDataSetNotifyEvent BeforeRefresh, AfterRefresh;
  TDataSetNotifyEvent OnNewRecord;   // after a new record is initialised (insert state)
  TDataSetNotifyEvent OnCalcFields;  // set the calculated fields of the record (calc state)
  // A failing InternalEdit/Post/Delete: the handler chooses to fail, abort silently or retry.
  TDataSetErrorEvent OnEditError, OnPostError, OnDeleteError;

  // --- used by fields and links
  // Reads a field of the buffer the state selects; false (value null) when there is none.
  bool GetFieldValue(const TField& field, TFieldValue& value);
  // Checks and stores a field value: the state must be an edit mode (dsEdit, dsInsert,
  // dsSetKey, dsCalcFields for calculated fields, dsFilter); read-only fields refuse outside
  // dsSetKey and dsFilter; required fields refuse null in edit and insert; OnValidate runs;
  // then links hear deFieldChange (not in dsCalcFields and dsFilter).
  void SetFieldValue(TField& field, const TFieldValue& value);
  // Blob stream of a field on the state's buffer; writing requires an edit mode and a
  // modifiable field. BlobWritten tells the links once the writing is done.
  std::unique_ptr<TStream> OpenBlobStream(TField& field, TBlobStreamMode mode);
  void BlobWritten(TField& field);
  // Text of a memo field's bytes and back. Defaults: dtMemo holds UTF-8, dtWideMemo UTF-16LE;
  // a dataset storing memos in a code page converts here.
  virtual std::u16string MemoBytesToText(const TField& field, const TBytes& bytes);
  virtual TBytes MemoTextToBytes(const TField& field, std::u16string_view text);
  int ActiveRecordIndex() const noexcept { return FActiveRecord; }
  int BufferRecordCount() const noexcept { return FRecordCount; }
  int BufferCount() const noexcept { return FBufferCount; }

 protected:
  // ===== Record-level interface, implemented by derived datasets =====
  // Buffers: a fresh buffer with an empty record; FreeRecordBuffer releases what a buffer
  // caches (blob contents) before it is dropped.
  virtual std::unique_ptr<TRecordBuffer> AllocRecordBuffer() = 0;
  virtual void FreeRecordBuffer(TRecordBuffer& /*buffer*/) noexcept {}
  // Cursor lifetime. InternalOpen positions before the first record; on failure the
  // framework calls InternalClose, which must cope with a half-opened cursor.
  virtual void InternalOpen() = 0;
  virtual void InternalClose() = 0;
  // Fills FieldDefs() from the cursor's columns (called at opening, cursor open).
  virtual void InternalInitFieldDefs() = 0;
  // The field object for a definition when default fields are created; the standard
  // classes unless a dataset has its own.
  virtual std::unique_ptr<TField> CreateFieldObject(const TFieldDef& def) { return CreateField(def.DataType, def.Size); }
  // Fetches the record at (gmCurrent), after (gmNext) or before (gmPrior) the cursor into
  // the buffer with its bookmark and bookmark flag, moving the cursor. grBOF/grEOF: no
  // such record (the cursor is then before the first / after the last record); grError:
  // the record is gone, or a failure when doCheck is false (with doCheck it raises).
  virtual TGetResult GetRecord(TRecordBuffer& buffer, TGetMode mode, bool doCheck) = 0;
  virtual void InternalFirst() = 0;  // cursor before the first record
  virtual void InternalLast() = 0;   // cursor after the last record
  // Cursor onto the buffer's record (bookmark); for a new record, onto the record it was
  // inserted before.
  virtual void InternalSetToRecord(TRecordBuffer& buffer) = 0;
  virtual TBookmarkFlag GetBookmarkFlag(const TRecordBuffer& buffer) = 0;
  virtual void SetBookmarkFlag(TRecordBuffer& buffer, TBookmarkFlag flag) = 0;
  virtual TBookmark GetBookmarkData(const TRecordBuffer& buffer) = 0;
  virtual void SetBookmarkData(TRecordBuffer& buffer, const TBookmark& bookmark) = 0;
  // Cursor onto the bookmarked record; raises when it is gone.
  virtual void InternalGotoBookmark(const TBookmark& bookmark) = 0;
  // Clears the buffer to a new, empty record (default values allowed).
  virtual void InternalInitRecord(TRecordBuffer& buffer) = 0;
  // Edit cycle. InternalEdit/InternalInsert run with the active buffer set up and may
  // re-read it (ActiveBuffer()); InternalPost stores the active buffer (edit: the record
  // under the cursor; insert: a new record before the one in its bookmark, or at the end
  // for bfEOF/bfBOF) and leaves the cursor on the stored record; InternalCancel undoes
  // what InternalEdit/InternalInsert started; InternalDelete deletes the record under the
  // cursor, leaving the cursor on the following record.
  virtual void InternalEdit() {}
  virtual void InternalInsert() {}
  virtual void InternalPost() = 0;
  virtual void InternalCancel() {}
  virtual void InternalDelete() = 0;
  virtual void InternalRefresh() {}
  // After First, Last, MoveBy and a move to the cursor's record, before AfterScroll: a
  // dataset shared with other programs may re-read its window here (a Resync, which scrolls
  // no further).
  virtual void InternalScrolled() {}
  // Field values of data fields (FieldNo > 0) in a buffer. GetFieldData returns false for
  // null; for blob kinds it only tells whether there is content (the value is not used).
  // SetFieldData stores a value already coerced by the field (monostate = null; for blob
  // kinds it empties the content).
  virtual bool GetFieldData(const TField& field, const TRecordBuffer& buffer, TFieldValue& value) = 0;
  virtual void SetFieldData(const TField& field, TRecordBuffer& buffer, const TFieldValue& value) = 0;
  virtual std::unique_ptr<TStream> CreateBlobStream(const TField& field, TRecordBuffer& buffer,
                                                    TBlobStreamMode mode) = 0;
  virtual int GetRecordCount() = 0;
  // Sequence number of the active record (see RecNo); default 0.
  virtual int GetRecNo() { return 0; }
  // Default: MoveBy the difference to RecNo(), or from the first record when RecNo() is 0.
  virtual void InternalSetRecNo(int value);
  virtual bool GetCanModify() { return true; }
  // Buffer that fields use in dsSetKey; nullptr when the dataset has no key buffers.
  virtual TRecordBuffer* KeyBuffer() { return nullptr; }
  // Post and Cancel in dsSetKey call this before returning to browse state.
  virtual void InternalPostKey(bool /*apply*/) {}

  // ===== Helpers for derived datasets =====
  TRecordBuffer* ActiveBuffer() const noexcept;
  // Buffer of the window by index (0..BufferCount(), the last one being the scratch buffer),
  // e.g. to mark the buffers of a record another cursor deleted; nullptr outside.
  TRecordBuffer* Buffer(int index) const noexcept;
  // The buffer the cursor stands on, -1 when unknown (see the buffer window above).
  int CurrentRecordIndex() const noexcept { return FCurrentRecord; }
  // Runs OnCalcFields for the buffer (calc state); clears calculated values first.
  void GetCalcFields(TRecordBuffer& buffer);
  // OnFilterRecord is set and Filtered is on.
  bool HasRecordFilter() const noexcept { return FFiltered && FOnFilterRecord; }
  // Shows the buffer's record to OnFilterRecord (filter state); true when accepted.
  bool FilterRecord(TRecordBuffer& buffer);
  // Fetch through the filter event: rejected records are skipped in the direction of the
  // mode; a rejected record in gmCurrent gives grError. Calculated fields are computed.
  TGetResult FetchRecord(TRecordBuffer& buffer, TGetMode mode, bool doCheck);
  void SetBookmarkSize(int value) noexcept { FBookmarkSize = value; }
  // Leaves edit modes, positions the cursor (BeforeScroll first) and re-reads the window
  // centred on the cursor's record, which must exist; AfterScroll.
  void MoveToCursorRecord(const std::function<void()>& positionCursor);
  void Resync(TResyncMode mode);
  void UpdateCursorPos();
  void CursorPosChanged() noexcept { FCurrentRecord = -1; }
  void ClearBuffers() noexcept;
  void SetState(TDataSetState value);
  void DataEvent(TDataEvent event, TField* field = nullptr, int info = 0);
  void CheckActive() const;
  // Enters set-key state (leaves edit modes first); fields then edit KeyBuffer().
  void BeginSetKey();
  // Closes without events; for the destructor of the most derived class. A failure is
  // written to the error stream: a destructor has nowhere else to send it.
  void CloseForDestruction() noexcept;

 private:
  friend class TDataLink;
  friend class TDataSource;
  friend class TTempState;

  int LinksBufferCount() const noexcept;
  bool GetNextRecord();
  bool GetPriorRecord();
  int GetNextRecords();
  int GetPriorRecords();
  void ActivateBuffers() noexcept;
  void SetCurrentRecord(int index);
  void MoveBuffer(int from, int to);
  void SetBufferCount(int value);
  void UpdateBufferCount();
  void FreeBuffers() noexcept;
  void SetActiveRecordIndex(int index);
  TRecordBuffer* StateBuffer() const;
  void CreateFields();
  void BindFields();
  void DestroyDefaultFields() noexcept;
  void CalculateFieldsOfActive();
  void CheckOperation(void (TDataSet::*operation)(), const TDataSetErrorEvent& onError);
  void CheckCanModify();
  void CheckRequiredFields();
  void BeginInsertAppend();
  void EndInsertAppend();
  void CloseCursor() noexcept;
  void DoEvent(const TDataSetNotifyEvent& event) { if (event) event(*this); }
  void AddDataSource(TDataSource& source);
  void RemoveDataSource(TDataSource& source) noexcept;

  TDataSetState FState = TDataSetState::dsInactive;
  bool FModified = false;
  bool FBOF = true;
  bool FEOF = true;
  std::vector<std::unique_ptr<TRecordBuffer>> FBuffers;
  int FBufferCount = 1;
  int FRecordCount = 0;
  int FActiveRecord = 0;
  int FCurrentRecord = -1;
  int FBookmarkSize = 0;
  TRecordBuffer* FCalcBuffer = nullptr;
  TRecordBuffer* FFilterBuffer = nullptr;
  int FCalcFieldCount = 0;
  int FDisableCount = 0;
  TDataSetState FDisableState = TDataSetState::dsInactive;
  TDataEvent FEnableEvent = TDataEvent::deDataSetChange;
  TFieldDefs FFieldDefs;
  std::vector<std::unique_ptr<TField>> FFields;
  std::vector<TDataSource*> FDataSources;
  TFormatSettings FFormats;
  std::u16string FFilter;
  bool FFiltered = false;
  TFilterRecordEvent FOnFilterRecord;
};

}  // namespace tk
