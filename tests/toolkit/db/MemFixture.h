// Shared pieces of the framework tests: an in-memory dataset of numbered rows, a link that
// records what it hears, and a reader of a link's buffer window.
#pragma once

#include <string>
#include <vector>

#include "db/TMemDataSet.h"

namespace testdb {

// Columns ID (integer, required), NAME (string 30), NOTE (memo); row i has ID i+1 and
// NAME "Name <i+1>".
inline void FillNumbered(tk::TMemDataSet& ds, int rows) {
  if (ds.Columns().Count() == 0) {
    ds.Columns().Add(u"ID", tk::TFieldType::dtInteger, 0, true);
    ds.Columns().Add(u"NAME", tk::TFieldType::dtString, 30);
    ds.Columns().Add(u"NOTE", tk::TFieldType::dtMemo);
  }
  for (int i = 1; i <= rows; ++i) {
    const std::string name = "Name " + std::to_string(i);
    ds.AppendRow({std::int64_t{i}, std::u16string(name.begin(), name.end())});
  }
}

inline std::string Narrow(const std::u16string& s) { return tk::NarrowForDiagnostics(s); }

// Records everything a data link is told, in order.
class TSpyLink : public tk::TDataLink {
 public:
  std::vector<std::string> Log;
  std::function<void()> OnUpdate;
  void Clear() { Log.clear(); }
  int Count(const std::string& what) const {
    int n = 0;
    for (const auto& entry : Log) n += entry == what;
    return n;
  }

 protected:
  void ActiveChanged() override { Log.push_back(Active() ? "active" : "inactive"); }
  void CheckBrowseMode() override { Log.push_back("check"); }
  void DataSetChanged() override { Log.push_back("changed"); }
  void DataSetScrolled(int distance) override { Log.push_back("scrolled " + std::to_string(distance)); }
  void EditingChanged() override { Log.push_back(Editing() ? "editing" : "browsing"); }
  void LayoutChanged() override { Log.push_back("layout"); }
  void RecordChanged(tk::TField* field) override {
    Log.push_back(field ? "record " + Narrow(field->FieldName()) : "record");
  }
  void UpdateData() override {
    Log.push_back("update");
    if (OnUpdate) OnUpdate();
  }
};

// IDs of the records in the link's window, top to bottom.
inline std::vector<int> Window(tk::TDataLink& link, tk::TDataSet& ds) {
  std::vector<int> ids;
  const int saved = link.ActiveRecord();
  for (int row = 0; row < link.RecordCount(); ++row) {
    link.SetActiveRecord(row);
    ids.push_back(ds.FieldByName(u"ID").AsInteger());
  }
  link.SetActiveRecord(saved);
  return ids;
}

inline std::vector<int> Range(int first, int last) {
  std::vector<int> out;
  for (int i = first; i <= last; ++i) out.push_back(i);
  return out;
}

}  // namespace testdb
