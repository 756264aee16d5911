// Data sources and data links: how controls (grids, navigators, field editors, reports)
// follow a dataset. A dataset notifies its data sources of every event (TDataEvent); each
// source passes it on to its links, which turn it into the virtual notifications below.
// A link sees its own window of the dataset's record buffers: BufferCount records starting
// at FirstRecord, always containing the dataset's active record. GUI thread only.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "db/DbErrors.h"

namespace tk {

class TDataSet;
class TDataLink;
class TField;
enum class TDataSetState : unsigned char;

enum class TDataEvent : unsigned char {
  deFieldChange,      // a field of the active record changed (field given)
  deRecordChange,     // the active record changed as a whole (entering edit, resetting)
  deDataSetChange,    // the buffer window was re-read: everything may differ
  deDataSetScroll,    // the window moved (info: shift of the buffers, see TDataLink)
  deLayoutChange,     // the fields changed
  deUpdateRecord,     // controls must write their pending edits into the fields now
  deUpdateState,      // the dataset's state changed
  deCheckBrowseMode,  // the dataset is about to leave the current record or edit mode
  deFocusControl,     // a control of the field given should take the focus
};

class TDataSource {
 public:
  TDataSource() = default;
  TDataSource(const TDataSource&) = delete;
  TDataSource& operator=(const TDataSource&) = delete;
  ~TDataSource();

  TDataSet* DataSet() const noexcept { return FDataSet; }
  void SetDataSet(TDataSet* value);
  // Disabled sources make their links inactive.
  bool Enabled() const noexcept { return FEnabled; }
  void SetEnabled(bool value);
  // Links may put the dataset into edit state when the user starts typing.
  bool AutoEdit = true;
  // The dataset's state, dsInactive without a dataset.
  TDataSetState State() const noexcept;
  // Puts a browsing dataset into edit state when AutoEdit is set.
  void Edit();

  std::function<void(TDataSource&)> OnStateChange;
  std::function<void(TDataSource&, TField*)> OnDataChange;
  std::function<void(TDataSource&)> OnUpdateData;

 private:
  friend class TDataSet;
  friend class TDataLink;
  void DataEvent(TDataEvent event, TField* field, int info);
  void NotifyLinks(TDataEvent event, TField* field, int info);
  void AddLink(TDataLink& link);
  void RemoveLink(TDataLink& link) noexcept;

  TDataSet* FDataSet = nullptr;
  bool FEnabled = true;
  TDataSetState FState{};
  std::vector<TDataLink*> FLinks;
};

class TDataLink {
 public:
  TDataLink() = default;
  TDataLink(const TDataLink&) = delete;
  TDataLink& operator=(const TDataLink&) = delete;
  virtual ~TDataLink();

  TDataSource* DataSource() const noexcept { return FDataSource; }
  void SetDataSource(TDataSource* value);
  TDataSet* DataSet() const noexcept;
  // Source enabled and dataset open.
  bool Active() const noexcept { return FActive; }
  // The dataset is in edit or insert state and this link may edit.
  bool Editing() const noexcept { return FEditing; }
  bool ReadOnly() const noexcept { return FReadOnly; }
  void SetReadOnly(bool value);

  // Number of records this link wants in its window (a grid: its visible rows).
  int BufferCount() const noexcept { return FBufferCount; }
  void SetBufferCount(int value);
  // Records of this link's window actually filled (0 for an inactive link).
  int RecordCount() const;
  // Index of the dataset's active record within this link's window. Setting it makes
  // another buffer of the window active for reading (grids paint rows so); restore it after.
  int ActiveRecord() const;
  void SetActiveRecord(int value);
  int FirstRecord() const noexcept { return FFirstRecord; }

  // Asks the source to put the dataset into edit state; true when it is in an edit state.
  bool Edit();
  // Makes this link write its pending changes (UpdateData) without hearing its own change.
  void UpdateRecord();
  bool Bof() const;
  bool Eof() const;

 protected:
  virtual void ActiveChanged() {}
  virtual void CheckBrowseMode() {}
  virtual void DataSetChanged() { RecordChanged(nullptr); }
  // The window's content moved by distance rows (positive: towards the end).
  virtual void DataSetScrolled(int /*distance*/) { DataSetChanged(); }
  virtual void EditingChanged() {}
  virtual void FocusControl(TField* /*field*/) {}
  virtual void LayoutChanged() { DataSetChanged(); }
  virtual void RecordChanged(TField* /*field*/) {}
  virtual void UpdateData() {}

 private:
  friend class TDataSource;
  friend class TDataSet;
  void DataEvent(TDataEvent event, TField* field, int info);
  void SetActive(bool value);
  void UpdateState();
  void UpdateRange();
  void SetEditing(bool value);

  TDataSource* FDataSource = nullptr;
  bool FActive = false;
  bool FEditing = false;
  bool FReadOnly = false;
  bool FUpdating = false;
  int FBufferCount = 1;
  int FFirstRecord = 0;
};

// A link to one field of the dataset: what single-field controls (edit, memo, label) use.
class TFieldDataLink : public TDataLink {
 public:
  const std::u16string& FieldName() const noexcept { return FFieldName; }
  void SetFieldName(const std::u16string& value);
  // The bound field while active and found; nullptr otherwise.
  TField* Field() const noexcept { return FField; }
  // Edit only when the field may be modified.
  bool CanModify() const;
  bool Edit();
  // The control's content differs from the field now; UpdateData will write it.
  void Modified() noexcept { FModified = true; }
  bool IsModified() const noexcept { return FModified; }
  // Discards the control's changes and shows the field again.
  void Reset();

  std::function<void()> OnDataChange;    // show the field's value
  std::function<void()> OnEditingChange;
  std::function<void()> OnUpdateData;    // write the control's value into the field
  std::function<void()> OnActiveChange;

 protected:
  void ActiveChanged() override;
  void EditingChanged() override;
  void LayoutChanged() override;
  void RecordChanged(TField* field) override;
  void UpdateData() override;

 private:
  void UpdateField();
  std::u16string FFieldName;
  TField* FField = nullptr;
  bool FModified = false;
};

}  // namespace tk
