#include "Unit1.h"

#include <QCloseEvent>
#include <QDir>
#include <QLabel>
#include <QMenuBar>
#include <QStatusBar>

#include "Artwork.h"
#include "widgets/FixedForm.h"
#include "widgets/Hints.h"
#include "widgets/MessageBoxes.h"
#include "Shell.h"
#include "Unit10.h"
#include "Unit11.h"
#include "Unit12.h"
#include "Unit13.h"
#include "Unit14.h"
#include "Unit15.h"
#include "Unit16.h"
#include "Unit17.h"
#include "Unit18.h"
#include "Unit2.h"
#include "Unit5.h"
#include "Unit6.h"
#include "Unit7.h"
#include "Unit9.h"
#include "UpdateInfo.h"
#include "Vidora.h"

namespace vidora {

namespace {
const QString kEndHint = QStringLiteral("Program használatának befejezése !");
}  // namespace

TForm1::TForm1(TVidora& app) : QMainWindow(nullptr), FApp(app) {
  setObjectName(QStringLiteral("Form1"));
  BuildMenu();
  BuildClientArea();
  // The client area lies below the menu bar, as on a framed window.
  tk::SetupFixedForm(*this, QStringLiteral(" Vidora V2.0.0.0"), ClientWidth, ClientHeight,
                     tk::TBorderIcons::biSystemMenuMinimize, menuBar()->sizeHint().height());
  app.Created(objectName());
}

void TForm1::BuildClientArea() {
  QPalette silver = palette();
  silver.setColor(QPalette::Window, QColor(0xC0, 0xC0, 0xC0));
  setPalette(silver);
  setAutoFillBackground(true);

  auto* client = new QWidget(this);
  client->setObjectName(QStringLiteral("ClientArea"));
  setCentralWidget(client);

  auto* image = new QLabel(client);
  image->setObjectName(QStringLiteral("Image1"));
  image->setGeometry(0, 0, ClientWidth, 313);
  image->setScaledContents(true);
  image->setPixmap(MainPicture(QSize(ClientWidth, 313)));

  auto* label = new QLabel(QStringLiteral("Vidora V2.0.0.0"), client);
  label->setObjectName(QStringLiteral("Label1"));
  QFont font(QStringLiteral("Arial"), 10);
  font.setBold(true);
  font.setItalic(true);
  label->setFont(font);
  label->setStyleSheet(QStringLiteral("color: blue; background: transparent;"));
  label->adjustSize();
  label->move(374, 278);

  auto* status = new QStatusBar(this);
  status->setObjectName(QStringLiteral("StatusBar1"));
  status->setFixedHeight(19);
  status->setSizeGripEnabled(false);
  setStatusBar(status);
}

QAction* TForm1::AddCommand(QMenu& menu, const char* name, const QString& caption, const QString& hint,
                            void (TForm1::*handler)()) {
  QAction* action = menu.addAction(caption);
  action->setObjectName(QLatin1String(name));
  tk::SetHint(*action, hint);
  connect(action, &QAction::triggered, this, [this, handler] { tk::Guarded(this, [&] { (this->*handler)(); }); });
  return action;
}

QMenu* TForm1::AddSubmenu(QWidget& parent, const char* name, const QString& caption, const QString& hint) {
  auto* menu = new QMenu(caption, &parent);
  QAction* action = menu->menuAction();
  action->setObjectName(QLatin1String(name));
  tk::SetHint(*action, hint);
  if (auto* bar = qobject_cast<QMenuBar*>(&parent))
    bar->addMenu(menu);
  else
    static_cast<QMenu&>(parent).addMenu(menu);
  return menu;
}

void TForm1::AddSeparator(QMenu& menu, const char* name) { menu.addSeparator()->setObjectName(QLatin1String(name)); }

void TForm1::BuildMenu() {
  QMenuBar* bar = menuBar();
  bar->setObjectName(QStringLiteral("MainMenu1"));

  QMenu* ops = AddSubmenu(*bar, "Mveletek1", QStringLiteral("Műveletek"), QStringLiteral("Program eljárásai !"));
  AddCommand(*ops, "Adatkarbantarts1", QStringLiteral("Adatkarbantartás"), QStringLiteral("Adatok karbantartása !"),
             &TForm1::Adatkarbantarts1Click);
  AddSeparator(*ops, "N2");
  AddCommand(*ops, "Keress1", QStringLiteral("Keresés"), QStringLiteral("Adatok keresése !"), &TForm1::Keress1Click);
  QMenu* lists = AddSubmenu(*ops, "Listzs1", QStringLiteral("Listázás"), QStringLiteral("Adatok listázása !"));
  AddCommand(*lists, "Egyszer1", QStringLiteral("Egyszerű"), QStringLiteral("Adatok egyszerűsített listája !"),
             &TForm1::Egyszer1Click);
  AddCommand(*lists, "Kzp1", QStringLiteral("Közép"), QStringLiteral("Adatok középszintű listája !"),
             &TForm1::Kzp1Click);
  AddCommand(*lists, "eljes1", QStringLiteral("Teljes"), QStringLiteral("Adatok teljes listája !"),
             &TForm1::eljes1Click);
  AddSeparator(*ops, "N3");
  QMenu* stats = AddSubmenu(*ops, "Statisztika1", QStringLiteral("Statisztika"),
                            QStringLiteral("Statisztikai adatok a településekről !"));
  AddCommand(*stats, "Igazgatsirang1", QStringLiteral("Igazgatási rang"),
             QStringLiteral("Település adatok megoszlása igazgatási rang szerint !"), &TForm1::Igazgatsirang1Click);
  AddCommand(*stats, "Rgi1", QStringLiteral("Régió"), QStringLiteral("Település adatok megoszlása régiók szerint !"),
             &TForm1::Rgi1Click);
  AddCommand(*stats, "Megye1", QStringLiteral("Megye"), QStringLiteral("Település adatok megoszlása megyék szerint !"),
             &TForm1::Megye1Click);
  AddCommand(*stats, "Kistrsg1", QStringLiteral("Kistérség"),
             QStringLiteral("Település adatok megoszlása kistérségek szerint !"), &TForm1::Kistrsg1Click);
  AddCommand(*stats, "elefonkrzet1", QStringLiteral("Telefon körzet"),
             QStringLiteral("Település adatok megoszlása telefon körzetek szerint !"), &TForm1::elefonkrzet1Click);
  AddSeparator(*ops, "N7");
  AddCommand(*ops, "Szrs1", QStringLiteral("Szűrés"), QStringLiteral("Megjelenítendő adatok szűrése !"),
             &TForm1::Szrs1Click);

  QMenu* info = AddSubmenu(*bar, "Informci1", QStringLiteral("Információ"),
                           QStringLiteral("Programmal kapcsolatos információk !"));
  AddCommand(*info, "Lers1", QStringLiteral("Leírás"), QStringLiteral("Program használatának leírása !"),
             &TForm1::Lers1Click);
  AddSeparator(*info, "N5");
  QMenu* update = AddSubmenu(*info, "Frissts1", QStringLiteral("Frissítés"),
                             QStringLiteral("Frissítés keresése (internet kapcsolat szükséges) !"));
  AddCommand(*update, "Keress3", QStringLiteral("Keresés"),
             QStringLiteral("Újabb verzió keresése, letöltése, telepítése !"), &TForm1::Keress3Click);
  AddSeparator(*info, "N6");
  AddCommand(*info, "Nvjegy1", QStringLiteral("Névjegy"), QStringLiteral("Program bemutatkozása !"),
             &TForm1::Nvjegy1Click);

  QMenu* quit = AddSubmenu(*bar, "Keress2", QStringLiteral("Kilépés"), kEndHint);
  AddCommand(*quit, "Befejezs1", QStringLiteral("Befejezés"), kEndHint, &TForm1::Befejezs1Click);
}

void TForm1::WithEmptyTableGuard(const std::function<void()>& open) {
  // -1: a filtered count the engine would not walk a large table for; not empty.
  if (FApp.DataModule9()->Table1.RecordCount() == 0) {
    tk::ShowMessageBox(this, QMessageBox::NoIcon, QStringLiteral("Figyelem:"),
                       QStringLiteral("Üres az adatállomáy !!!"));
    return;
  }
  open();
}

void TForm1::Adatkarbantarts1Click() { FApp.Form2()->ShowModal(); }
void TForm1::Keress1Click() { WithEmptyTableGuard([this] { FApp.Form5()->ShowModal(); }); }
void TForm1::Egyszer1Click() { WithEmptyTableGuard([this] { FApp.BandReport11()->Preview(); }); }
void TForm1::Kzp1Click() { WithEmptyTableGuard([this] { FApp.BandReport13()->Preview(); }); }
void TForm1::eljes1Click() { WithEmptyTableGuard([this] { FApp.BandReport12()->Preview(); }); }
void TForm1::Igazgatsirang1Click() { WithEmptyTableGuard([this] { FApp.Form14()->ShowModal(); }); }
void TForm1::Rgi1Click() { WithEmptyTableGuard([this] { FApp.Form15()->ShowModal(); }); }
void TForm1::Megye1Click() { WithEmptyTableGuard([this] { FApp.Form16()->ShowModal(); }); }
void TForm1::Kistrsg1Click() { WithEmptyTableGuard([this] { FApp.Form17()->ShowModal(); }); }
void TForm1::elefonkrzet1Click() { WithEmptyTableGuard([this] { FApp.Form18()->ShowModal(); }); }
void TForm1::Szrs1Click() { FApp.Form6()->ShowModal(); }
void TForm1::Nvjegy1Click() { FApp.Form7()->ShowModal(); }

void TForm1::Lers1Click() {
  if (!FApp.Shell().OpenDocument(QStringLiteral("Leírás.pdf")))
    tk::ShowMessageBox(this, QMessageBox::NoIcon, QStringLiteral("Hiba történt:"),
                       QStringLiteral("Leírás.pdf állomány nem található vagy nincs telepítve Acrobat olvasó program !!!"));
}

void TForm1::Keress3Click() {
  // A change the user keeps editing keeps the program running, and the updater is not started.
  if (!FApp.DataModule9()->SettlePendingEdit(this)) return;
  // A failed write leaves by exception: the updater is then not started and the program goes on.
  WriteUpdateInfo(QDir::currentPath());
  FApp.Shell().StartProgram(QStringLiteral("Update.exe"), {QStringLiteral("update.nfo")});
  FApp.Terminate();
}

bool TForm1::AskEndOfProgram() {
  statusBar()->showMessage(kEndHint);
  return tk::ShowMessageBox(this, QMessageBox::NoIcon, QStringLiteral("Program vége:"),
                            QStringLiteral("Biztosan be kívánja fejezni a program használatát ?"),
                            QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void TForm1::Befejezs1Click() {
  const bool end = AskEndOfProgram();
  statusBar()->clearMessage();
  // The tables are closed as the data module is released.
  if (end && FApp.DataModule9()->SettlePendingEdit(this)) FApp.Terminate();
}

void TForm1::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (FTablesOpened) return;
  FTablesOpened = true;
  // A table that cannot be opened ends the program after the error report.
  const bool opened = tk::Guarded(this, [this] {
    FApp.DataModule9()->Table1.Open();
    FApp.DataModule9()->Table2.Open();
  });
  if (!opened) FApp.Terminate();
}

void TForm1::closeEvent(QCloseEvent* event) {
  // The program is already ending: it has asked what it had to ask.
  if (FApp.TerminateRequested()) {
    event->accept();
    return;
  }
  tk::Guarded(this, [&] {
    event->ignore();
    if (!AskEndOfProgram()) return;  // the status bar keeps the text
    statusBar()->clearMessage();
    if (!FApp.DataModule9()->SettlePendingEdit(this)) return;
    FApp.DataModule9()->Table1.Close();
    FApp.DataModule9()->Table2.Close();
    event->accept();
    FApp.Terminate();
  });
}

}  // namespace vidora
