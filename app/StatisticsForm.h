// Base of the five statistics windows: one layout, each window with its own caption,
// grouping column, grid title, second counter label and statement. The window's query runs
// its statement over the settlement table when the window is shown and is closed whenever the
// window is hidden, so it is open exactly while the window is visible and every showing shows
// the table as it is then.
#pragma once

#include <QStringList>

#include "ModalForm.h"
#include "VdbQuery.h"

class QLabel;
class QPushButton;

namespace tk {
class TDBGrid;
class TDataSource;
}  // namespace tk

namespace vidora {

// What tells one statistics window from another.
struct TStatisticsSpec {
  QString Name;           // "Form14" ...
  QString Caption;
  QString GroupColumn;    // RANG, REGIO ...
  QString GroupTitle;     // the grid title of the grouping column
  QString CounterLabel;   // the second counter's caption
  QStringList Statement;  // the statement's lines
  int ClientWidth = 604;
  int GroupWidth = 150;
  bool GroupCentered = false;
};

class TStatisticsForm : public TModalForm {
  Q_OBJECT
 public:
  ~TStatisticsForm() override;

  vdbds::TVdbQuery& Query1() noexcept { return FQuery1; }
  tk::TDBGrid* DBGrid1() const noexcept { return FDBGrid1; }
  // The number of settlements stored (Table1) and of distinct values listed (Query1).
  QLabel* Label3() const noexcept { return FLabel3; }
  QLabel* Label4() const noexcept { return FLabel4; }
  QPushButton* BitBtn1() const noexcept { return FBitBtn1; }

 protected:
  TStatisticsForm(TVidora& app, const TStatisticsSpec& spec);
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void FormShow();

  vdbds::TVdbQuery FQuery1;
  std::unique_ptr<tk::TDataSource> FDataSource1;
  tk::TDBGrid* FDBGrid1 = nullptr;
  QLabel* FLabel3 = nullptr;
  QLabel* FLabel4 = nullptr;
  QPushButton* FBitBtn1 = nullptr;
};

}  // namespace vidora
