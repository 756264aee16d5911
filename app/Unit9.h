// The data module: the program's only database connection, the settlement table Table1
// and the one-record scratch table Table2 with their data sources. GUI thread only.
#pragma once

#include "VdbTable.h"

class QWidget;

namespace vidora {

class TVidora;

class TDataModule9 {
 public:
  explicit TDataModule9(TVidora& app);
  TDataModule9(const TDataModule9&) = delete;
  TDataModule9& operator=(const TDataModule9&) = delete;
  ~TDataModule9();

  // Components in their order of declaration.
  tk::TDataSource DataSource1;
  tk::TDataSource DataSource2;
  vdbds::TVdbTable Table1;
  vdbds::TVdbTable Table2;
  vdbds::TVdbDatabase VdbDatabase1;

  // Settles a pending edit or insert of Table1 before a window closes or the program ends:
  // asks "A módosítások mentése?" and posts (Igen), cancels (Nem) or stays (Mégse). True when
  // nothing is left pending; false to stay, also after a failed post has been reported.
  bool SettlePendingEdit(QWidget* parent);

 private:
  // Asks before any settlement is deleted; No abandons the deletion silently.
  void Table1BeforeDelete(tk::TDataSet& dataSet);
};

}  // namespace vidora
