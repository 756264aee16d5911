// Base of the program's modal windows: created once at start, shown modally again and
// again; each showing runs the window's show handler. None of them has a default or a
// cancel button: Enter and Esc never close one, and a pending change of the settlement
// table is settled (post, cancel or stay) before one closes.
#pragma once

#include <QDialog>

#include "widgets/FixedForm.h"

namespace vidora {

class TVidora;

class TModalForm : public QDialog {
  Q_OBJECT
 public:
  // Shows the window modally and returns when it closes.
  int ShowModal() { return exec(); }

 protected:
  TModalForm(TVidora& app, const QString& name, const QString& caption, int clientWidth, int clientHeight,
             tk::TBorderIcons icons);

  TVidora& App() const noexcept { return FApp; }

  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  TVidora& FApp;
};

}  // namespace vidora
