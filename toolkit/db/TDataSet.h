// The dataset framework's core: dataset states, opening and closing, the silent abort and
// data sources. Datasets of the dataset components derive from TDataSet and implement the
// record-level operations. GUI thread only.
#pragma once

#include <exception>
#include <functional>
#include <stdexcept>
#include <string>

namespace tk {

enum class TDataSetState { dsInactive, dsBrowse, dsEdit, dsInsert, dsSetKey, dsCalcFields, dsFilter };

// The silent abort: an operation abandoned on purpose; shown to nobody.
class EAbort : public std::exception {
 public:
  const char* what() const noexcept override { return "Operation aborted"; }
};

// Raises the silent abort.
[[noreturn]] void Abort();

// A database error of the framework; the dataset components derive their own from it.
class EDatabaseError : public std::runtime_error {
 public:
  explicit EDatabaseError(const std::u16string& message);
  const std::u16string& Message() const noexcept { return FMessage; }

 private:
  std::u16string FMessage;
};

class TDataSet;
using TDataSetNotifyEvent = std::function<void(TDataSet&)>;

class TDataSet {
 public:
  TDataSet() = default;
  TDataSet(const TDataSet&) = delete;
  TDataSet& operator=(const TDataSet&) = delete;
  virtual ~TDataSet() = default;

  // Opens the dataset; an open dataset stays as it is. Failures leave it inactive.
  void Open();
  // Closes the dataset; a closed one stays closed.
  void Close();
  bool Active() const noexcept { return FState != TDataSetState::dsInactive; }
  void SetActive(bool value) { value ? Open() : Close(); }
  TDataSetState State() const noexcept { return FState; }

  // Number of records as the dataset sees them (with a filter on, those that pass it).
  virtual int RecordCount() = 0;

  // Deletes the current record after BeforeDelete; a silent abort raised there leaves
  // the record and the state as they were and propagates to the caller.
  void Delete();

  const std::u16string& Filter() const noexcept { return FFilter; }
  void SetFilter(const std::u16string& value) { FFilter = value; }
  bool Filtered() const noexcept { return FFiltered; }
  void SetFiltered(bool value) { FFiltered = value; }

  TDataSetNotifyEvent BeforeDelete;
  TDataSetNotifyEvent AfterDelete;

 protected:
  virtual void InternalOpen() = 0;
  virtual void InternalClose() = 0;
  virtual void InternalDelete() = 0;

 private:
  TDataSetState FState = TDataSetState::dsInactive;
  std::u16string FFilter;
  bool FFiltered = false;
};

// Connects data-aware controls to a dataset.
class TDataSource {
 public:
  TDataSet* DataSet() const noexcept { return FDataSet; }
  void SetDataSet(TDataSet* value) noexcept { FDataSet = value; }

 private:
  TDataSet* FDataSet = nullptr;
};

}  // namespace tk
