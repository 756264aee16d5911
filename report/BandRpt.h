// Banded reports: a report walks its dataset and lays out its bands on pages, which the
// preview window shows while they are produced. GUI thread only.
#pragma once

#include <QObject>

#include "db/TDataSet.h"

namespace br {

class TBandReport : public QObject {
  Q_OBJECT
 public:
  explicit TBandReport(QObject* parent = nullptr) : QObject(parent) {}

  tk::TDataSet* DataSet() const noexcept { return FDataSet; }
  void SetDataSet(tk::TDataSet* value) noexcept { FDataSet = value; }

  // Produces the pages and shows them in the modal preview window.
  virtual void Preview();

 private:
  tk::TDataSet* FDataSet = nullptr;
};

}  // namespace br
