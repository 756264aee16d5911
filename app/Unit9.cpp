#include "Unit9.h"

#include <QDir>

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

  app.Created(QStringLiteral("DataModule9"));
}

TDataModule9::~TDataModule9() {
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

void TDataModule9::Table1BeforeDelete(tk::TDataSet&) {
  if (tk::ShowMessageBox(nullptr, QMessageBox::NoIcon, QStringLiteral("Törlés jóváhagyás:"),
                         QStringLiteral("Biztosan törölhető ?"), QMessageBox::Yes | QMessageBox::No) !=
      QMessageBox::Yes)
    tk::Abort();
}

}  // namespace vidora
