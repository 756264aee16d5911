// The maintenance window: browse, insert, change and delete settlements in a grid with the
// note beside it, and jump to a settlement by typing its name.
#pragma once

#include "ModalForm.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace tk {
class TDBGrid;
class TDBMemo;
class TDBNavigator;
}  // namespace tk

namespace vidora {

class TForm2 : public TModalForm {
  Q_OBJECT
 public:
  explicit TForm2(TVidora& app);

  QLineEdit* Edit1() const noexcept { return FEdit1; }
  QLabel* Label2() const noexcept { return FLabel2; }
  tk::TDBGrid* DBGrid1() const noexcept { return FDBGrid1; }
  tk::TDBMemo* DBMemo1() const noexcept { return FDBMemo1; }
  tk::TDBNavigator* DBNavigator1() const noexcept { return FDBNavigator1; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  // Binds the controls to the data module, which is created after this window.
  void BindData();
  void FormShow();

  QLineEdit* FEdit1 = nullptr;
  QLabel* FLabel2 = nullptr;
  tk::TDBGrid* FDBGrid1 = nullptr;
  tk::TDBMemo* FDBMemo1 = nullptr;
  tk::TDBNavigator* FDBNavigator1 = nullptr;
  bool FBound = false;
};

}  // namespace vidora
