// The data module: the program's only database connection, the settlement table Table1
// and the one-record scratch table Table2 with their data sources. The connection asks the
// user for the key of a password-protected or enciphered table. GUI thread only.
#pragma once

#include <map>
#include <string>

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
  // The connection's password handler: the key the user gave for one table is tried first on
  // the next (both tables of a database share it), then the user is asked, again after each
  // refused key; Mégse gives up, and the opening fails with the engine's message.
  void AskTablePassword(const std::u16string& tableName, std::u16string& key, bool& retry);

  struct TPasswordState {
    bool KnownKeyTried = false;
    bool Typed = false;      // the user typed a key for this opening already
    bool Cancelled = false;  // the user gave up on this opening
  };
  std::map<std::u16string, TPasswordState> FPasswordStates;  // of the openings under way
  std::u16string FKey;
};

}  // namespace vidora
