#include "db/TDataSource.h"

#include <algorithm>

#include "db/TDataSet.h"

namespace tk {

namespace {
bool IsEditMode(TDataSetState state) {
  return state == TDataSetState::dsEdit || state == TDataSetState::dsInsert;
}
}  // namespace

// ---------------------------------------------------------------- TDataSource

TDataSource::~TDataSource() {
  for (TDataLink* link : std::vector<TDataLink*>(FLinks)) link->SetDataSource(nullptr);
  SetDataSet(nullptr);
}

TDataSetState TDataSource::State() const noexcept { return FDataSet ? FDataSet->State() : TDataSetState::dsInactive; }

void TDataSource::SetDataSet(TDataSet* value) {
  if (value == FDataSet) return;
  if (FDataSet) {
    FDataSet->RemoveDataSource(*this);
    FDataSet = nullptr;
    DataEvent(TDataEvent::deUpdateState, nullptr, 0);
  }
  FDataSet = value;
  if (FDataSet) {
    FDataSet->AddDataSource(*this);
    FDataSet->UpdateBufferCount();
    DataEvent(TDataEvent::deUpdateState, nullptr, 0);
  }
}

void TDataSource::SetEnabled(bool value) {
  if (value == FEnabled) return;
  FEnabled = value;
  for (TDataLink* link : std::vector<TDataLink*>(FLinks)) link->UpdateState();
}

void TDataSource::Edit() {
  if (AutoEdit && FDataSet && FDataSet->State() == TDataSetState::dsBrowse) FDataSet->Edit();
}

void TDataSource::DataEvent(TDataEvent event, TField* field, int info) {
  if (event == TDataEvent::deUpdateState) {
    const TDataSetState state = State();
    if (state == FState) return;
    FState = state;
    NotifyLinks(event, field, info);
    if (OnStateChange) OnStateChange(*this);
    return;
  }
  NotifyLinks(event, field, info);
  switch (event) {
    case TDataEvent::deFieldChange:
    case TDataEvent::deRecordChange:
    case TDataEvent::deDataSetChange:
    case TDataEvent::deDataSetScroll:
    case TDataEvent::deLayoutChange:
      if (OnDataChange) OnDataChange(*this, field);
      break;
    case TDataEvent::deUpdateRecord:
      if (OnUpdateData) OnUpdateData(*this);
      break;
    default:
      break;
  }
}

void TDataSource::NotifyLinks(TDataEvent event, TField* field, int info) {
  // Links may come and go while they are told: each one still attached hears it once.
  for (TDataLink* link : std::vector<TDataLink*>(FLinks))
    if (std::find(FLinks.begin(), FLinks.end(), link) != FLinks.end()) link->DataEvent(event, field, info);
}

void TDataSource::AddLink(TDataLink& link) { FLinks.push_back(&link); }

void TDataSource::RemoveLink(TDataLink& link) noexcept { std::erase(FLinks, &link); }

// ---------------------------------------------------------------- TDataLink

TDataLink::~TDataLink() {
  // The dataset keeps its window size until the next link change: shrinking it here could
  // notify other controls from inside a destructor.
  if (FDataSource) FDataSource->RemoveLink(*this);
}

TDataSet* TDataLink::DataSet() const noexcept { return FDataSource ? FDataSource->DataSet() : nullptr; }

void TDataLink::SetDataSource(TDataSource* value) {
  if (value == FDataSource) return;
  if (FDataSource) {
    FDataSource->RemoveLink(*this);
    TDataSource* old = FDataSource;
    FDataSource = nullptr;
    UpdateState();
    if (old->DataSet() && old->DataSet()->Active()) old->DataSet()->UpdateBufferCount();
  }
  FDataSource = value;
  if (FDataSource) {
    FDataSource->AddLink(*this);
    if (TDataSet* dataSet = DataSet(); dataSet && dataSet->Active()) dataSet->UpdateBufferCount();
    UpdateState();
  }
}

void TDataLink::SetReadOnly(bool value) {
  if (value == FReadOnly) return;
  FReadOnly = value;
  UpdateState();
}

void TDataLink::UpdateState() {
  const TDataSet* dataSet = DataSet();
  SetActive(FDataSource && FDataSource->Enabled() && dataSet && dataSet->Active());
  SetEditing(FActive && !FReadOnly && IsEditMode(dataSet->State()));
}

void TDataLink::SetActive(bool value) {
  if (value == FActive) return;
  FActive = value;
  FFirstRecord = 0;
  if (value) UpdateRange();
  ActiveChanged();
}

void TDataLink::SetEditing(bool value) {
  if (value == FEditing) return;
  FEditing = value;
  EditingChanged();
}

void TDataLink::SetBufferCount(int value) {
  value = std::max(1, value);
  if (value == FBufferCount) return;
  FBufferCount = value;
  if (!FActive) return;
  TDataSet& dataSet = *DataSet();
  const int before = dataSet.BufferCount();
  dataSet.UpdateBufferCount();
  UpdateRange();
  // A dataset that kept its window size told nobody: this link still has to re-read.
  if (dataSet.BufferCount() == before) DataSetChanged();
}

void TDataLink::UpdateRange() {
  const TDataSet* dataSet = DataSet();
  if (!dataSet) return;
  const int active = dataSet->FActiveRecord;
  const int low = std::max(0, active - FBufferCount + 1);
  const int high = std::max(low, std::min(dataSet->FBufferCount - FBufferCount, active));
  FFirstRecord = std::clamp(FFirstRecord, low, high);
}

int TDataLink::RecordCount() const {
  if (!FActive) return 0;
  const TDataSet& dataSet = *DataSet();
  if (dataSet.State() == TDataSetState::dsSetKey) return 1;
  return std::clamp(dataSet.FRecordCount - FFirstRecord, 0, FBufferCount);
}

int TDataLink::ActiveRecord() const {
  if (!FActive) return 0;
  const TDataSet& dataSet = *DataSet();
  if (dataSet.State() == TDataSetState::dsSetKey) return 0;
  return dataSet.FActiveRecord - FFirstRecord;
}

void TDataLink::SetActiveRecord(int value) {
  if (!FActive || DataSet()->State() == TDataSetState::dsSetKey) return;
  DataSet()->SetActiveRecordIndex(value + FFirstRecord);
}

bool TDataLink::Edit() {
  if (!FReadOnly && FDataSource) FDataSource->Edit();
  return FEditing;
}

void TDataLink::UpdateRecord() {
  struct TUpdating {
    bool& Flag;
    ~TUpdating() { Flag = false; }
  } updating{FUpdating};
  FUpdating = true;
  UpdateData();
}

bool TDataLink::Bof() const { return DataSet() && DataSet()->Bof(); }
bool TDataLink::Eof() const { return DataSet() && DataSet()->Eof(); }

void TDataLink::DataEvent(TDataEvent event, TField* field, int info) {
  if (event == TDataEvent::deUpdateState) {
    UpdateState();
    return;
  }
  if (!FActive) return;
  switch (event) {
    case TDataEvent::deFieldChange:
    case TDataEvent::deRecordChange:
      if (!FUpdating) RecordChanged(field);
      break;
    case TDataEvent::deDataSetChange:
    case TDataEvent::deDataSetScroll:
    case TDataEvent::deLayoutChange: {
      int distance = 0;
      if (DataSet()->State() != TDataSetState::dsSetKey) {
        const int shift = event == TDataEvent::deDataSetScroll ? info : 0;
        const int before = FFirstRecord;
        FFirstRecord = std::max(0, FFirstRecord + shift);
        UpdateRange();
        distance = FFirstRecord - before - shift;
      }
      if (event == TDataEvent::deDataSetChange)
        DataSetChanged();
      else if (event == TDataEvent::deDataSetScroll)
        DataSetScrolled(distance);
      else
        LayoutChanged();
      break;
    }
    case TDataEvent::deUpdateRecord:
      UpdateRecord();
      break;
    case TDataEvent::deCheckBrowseMode:
      CheckBrowseMode();
      break;
    case TDataEvent::deFocusControl:
      FocusControl(field);
      break;
    case TDataEvent::deUpdateState:
      break;
  }
}

// ---------------------------------------------------------------- TFieldDataLink

void TFieldDataLink::SetFieldName(const std::u16string& value) {
  if (value == FFieldName) return;
  FFieldName = value;
  UpdateField();
}

void TFieldDataLink::UpdateField() {
  FField = Active() && !FFieldName.empty() ? DataSet()->FindField(FFieldName) : nullptr;
  RecordChanged(nullptr);
}

bool TFieldDataLink::CanModify() const { return !ReadOnly() && FField && FField->CanModify(); }

bool TFieldDataLink::Edit() {
  if (CanModify()) TDataLink::Edit();
  return Editing();
}

void TFieldDataLink::Reset() { RecordChanged(nullptr); }

void TFieldDataLink::ActiveChanged() {
  UpdateField();
  if (OnActiveChange) OnActiveChange();
}

void TFieldDataLink::EditingChanged() {
  if (OnEditingChange) OnEditingChange();
}

void TFieldDataLink::LayoutChanged() { UpdateField(); }

void TFieldDataLink::RecordChanged(TField* field) {
  if (field && field != FField) return;
  FModified = false;
  if (OnDataChange) OnDataChange();
}

void TFieldDataLink::UpdateData() {
  if (!FModified) return;
  if (FField && OnUpdateData) OnUpdateData();
  FModified = false;
}

}  // namespace tk
