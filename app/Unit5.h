// The search window: read-only grid and note; jumps to a settlement by name or by postal
// code while the user types, opens the filter window and prints the current settlement.
#pragma once

#include "ModalForm.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace tk {
class TDBGrid;
class TDBMemo;
}  // namespace tk

namespace vidora {

class TForm5 : public TModalForm {
  Q_OBJECT
 public:
  explicit TForm5(TVidora& app);

  QLineEdit* Edit1() const noexcept { return FEdit1; }
  QLabel* Label3() const noexcept { return FLabel3; }
  QRadioButton* RadioButton1() const noexcept { return FRadioButton1; }
  QRadioButton* RadioButton2() const noexcept { return FRadioButton2; }
  tk::TDBGrid* DBGrid1() const noexcept { return FDBGrid1; }

  // Shows the record count of Table1 (the filter window calls it after each change).
  void UpdateCount();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void BindData();
  void FormShow();
  // The search subject: postal code (true) or settlement name.
  void ChooseSubject(bool postalCode);
  void PrintCurrentRecord();
  void Finish();

  QLineEdit* FEdit1 = nullptr;
  QLabel* FLabel3 = nullptr;
  QRadioButton* FRadioButton1 = nullptr;
  QRadioButton* FRadioButton2 = nullptr;
  tk::TDBGrid* FDBGrid1 = nullptr;
  tk::TDBMemo* FDBMemo1 = nullptr;
  bool FBound = false;
};

}  // namespace vidora
