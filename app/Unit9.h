// The data module: the program's only database connection, the settlement table Table1
// and the one-record scratch table Table2 with their data sources. GUI thread only.
#pragma once

#include "VdbDataSet.h"

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

 private:
  // Asks before any settlement is deleted; No abandons the deletion silently.
  void Table1BeforeDelete(tk::TDataSet& dataSet);
};

}  // namespace vidora
