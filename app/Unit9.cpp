#include "Unit9.h"

#include <QApplication>
#include <QDir>
#include <algorithm>

#include "PasswordDialog.h"

#include "widgets/MessageBoxes.h"
#include "Vidora.h"

namespace vidora {

TDataModule9::TDataModule9(TVidora& app) {
  DataSource1.SetDataSet(&Table1);
  DataSource2.SetDataSet(&Table2);

  Table1.Name = u"Table1";
  Table1.SetDatabaseName(u"VdbDatabase1");
  Table1.SetTableName(u"Irsz");
  Table1.SetIndexName(u"TELEP");
  Table1.BeforeDelete = [this](tk::TDataSet& dataSet) { Table1BeforeDelete(dataSet); };

  Table2.Name = u"Table2";
  Table2.SetDatabaseName(u"VdbDatabase1");
  Table2.SetTableName(u"Irsz_tmp");

  // Each opening of a table starts its password questions afresh.
  Table1.BeforeOpen = [this](tk::TDataSet&) { FPasswordStates.erase(Table1.TableName()); };
  Table2.BeforeOpen = [this](tk::TDataSet&) { FPasswordStates.erase(Table2.TableName()); };

  VdbDatabase1.SetName(u"VdbDatabase1");
  VdbDatabase1.SetDatabaseName(u"VdbDatabase1");
  VdbDatabase1.SetDatabaseType(vdbds::TVdbDatabaseType::dbtDirectory);
  VdbDatabase1.SetExclusive(false);
  VdbDatabase1.SetReadOnly(false);
  VdbDatabase1.SetFlushMode(vdbds::TVdbFlushMode::tfmDefault);
  VdbDatabase1.SetIndexPageSize(4096);
  VdbDatabase1.SetBlobBlockSize(512);
  // The database is the directory the program was started from.
  VdbDatabase1.SetLocation(QDir::currentPath().toStdU16String());

  VdbDatabase1.OnPassword = [this](vdbds::TVdbDatabase*, const std::u16string& tableName, std::u16string& key,
                                   bool& retry) { AskTablePassword(tableName, key, retry); };

  app.Created(QStringLiteral("DataModule9"));
}

TDataModule9::~TDataModule9() {
  std::fill(FKey.begin(), FKey.end(), u'\0');
  // Released at the end of the program, when no window is left to report to.
  for (vdbds::TVdbTable* table : {&Table1, &Table2}) {
    try {
      table->Close();
    } catch (const std::exception& e) {
      qWarning("Closing table %s failed: %s", qUtf8Printable(QString::fromStdU16String(table->TableName())),
               e.what());
    }
  }
}

bool TDataModule9::SettlePendingEdit(QWidget* parent) {
  auto editing = [this] {
    return Table1.State() == tk::TDataSetState::dsEdit || Table1.State() == tk::TDataSetState::dsInsert;
  };
  if (!editing()) return true;
  // Text still in a control's editor belongs to the pending change.
  if (!tk::Guarded(parent, [this] { Table1.UpdateRecord(); })) return false;
  const QMessageBox::StandardButton answer =
      tk::ShowMessageBox(parent, QMessageBox::NoIcon, QStringLiteral("Figyelem:"),
                         QStringLiteral("A módosítások mentése?"),
                         QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
  if (answer == QMessageBox::Yes) {
    // A refused post is reported with the engine's message and the change stays pending.
    if (!tk::Guarded(parent, [this] { Table1.Post(); })) return false;
  } else if (answer == QMessageBox::No) {
    if (!tk::Guarded(parent, [this] { Table1.Cancel(); })) return false;
  } else {
    return false;
  }
  return !editing();
}

void TDataModule9::AskTablePassword(const std::u16string& tableName, std::u16string& key, bool& retry) {
  TPasswordState& state = FPasswordStates[tableName];
  // The engine asks first and the database component after it: one Mégse answers both.
  if (state.Cancelled) {
    retry = false;
    return;
  }
  if (!state.KnownKeyTried && !FKey.empty()) {
    state.KnownKeyTried = true;
    key = FKey;
    retry = true;
    return;
  }
  const std::optional<QString> typed =
      TPasswordDialog::Ask(QApplication::activeWindow(), QString::fromStdU16String(tableName), state.Typed);
  if (!typed) {
    FPasswordStates[tableName].Cancelled = true;
    std::fill(FKey.begin(), FKey.end(), u'\0');
    FKey.clear();
    retry = false;
    return;
  }
  // Looked up again: the dialog's event loop may have changed the map.
  TPasswordState& now = FPasswordStates[tableName];
  now.Typed = true;
  now.KnownKeyTried = true;  // the key is about to be tried: not again unasked
  std::fill(FKey.begin(), FKey.end(), u'\0');
  FKey = typed->toStdU16String();
  key = FKey;
  retry = true;
}

void TDataModule9::Table1BeforeDelete(tk::TDataSet&) {
  if (tk::ShowMessageBox(nullptr, QMessageBox::NoIcon, QStringLiteral("Törlés jóváhagyás:"),
                         QStringLiteral("Biztosan törölhető ?"), QMessageBox::Yes | QMessageBox::No) !=
      QMessageBox::Yes)
    tk::Abort();
}

}  // namespace vidora
