// The main window: the program's only menu, a picture and the status bar with automatic
// hints. It opens the two tables of the data module when first shown and closes them when
// it closes; closing it ends the program. GUI thread only.
#pragma once

#include <QMainWindow>
#include <functional>

class QLabel;
class QMenu;

namespace vidora {

class TVidora;

class TForm1 : public QMainWindow {
  Q_OBJECT
 public:
  explicit TForm1(TVidora& app);

  static constexpr int ClientWidth = 537;
  static constexpr int ClientHeight = 333;

  // Menu command handlers, in menu order.
  void Adatkarbantarts1Click();
  void Keress1Click();
  void Egyszer1Click();
  void Kzp1Click();
  void eljes1Click();
  void Igazgatsirang1Click();
  void Rgi1Click();
  void Megye1Click();
  void Kistrsg1Click();
  void elefonkrzet1Click();
  void Szrs1Click();
  void Lers1Click();
  void Keress3Click();
  void Nvjegy1Click();
  void Befejezs1Click();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  QAction* AddCommand(QMenu& menu, const char* name, const QString& caption, const QString& hint,
                      void (TForm1::*handler)());
  QMenu* AddSubmenu(QWidget& parent, const char* name, const QString& caption, const QString& hint);
  void AddSeparator(QMenu& menu, const char* name);
  void BuildMenu();
  void BuildClientArea();
  // Opens something that needs data only when the settlement table has records.
  void WithEmptyTableGuard(const std::function<void()>& open);
  bool AskEndOfProgram();

  TVidora& FApp;
  bool FTablesOpened = false;
};

}  // namespace vidora
