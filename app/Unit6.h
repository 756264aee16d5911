// The filter window: up to three condition rows (column, comparison, value, joining word)
// become a condition text in an editable memo; "Beállít" sets the memo's text as the filter of
// Table1 and switches filtering on or off, which every other window, count and listing follows.
#pragma once

#include <QString>
#include <array>

#include "ModalForm.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QRadioButton;

namespace vidora {

class TForm6 : public TModalForm {
  Q_OBJECT
 public:
  explicit TForm6(TVidora& app);

  // Row r (0..2): column box, operator box, value box, join box.
  QComboBox* ColumnBox(int r) const { return FRows.at(static_cast<std::size_t>(r)).Column; }
  QComboBox* OperatorBox(int r) const { return FRows.at(static_cast<std::size_t>(r)).Operator; }
  QLineEdit* ValueBox(int r) const { return FRows.at(static_cast<std::size_t>(r)).Value; }
  QComboBox* JoinBox(int r) const { return FRows.at(static_cast<std::size_t>(r)).Join; }
  QPlainTextEdit* Memo1() const noexcept { return FMemo1; }
  QLabel* Label2() const noexcept { return FLabel2; }
  QRadioButton* RadioButton1() const noexcept { return FRadioButton1; }
  QRadioButton* RadioButton2() const noexcept { return FRadioButton2; }

  // The memo from the twelve row controls (any of them gained or lost the focus).
  void RebuildMemo();
  // "Beállít": the memo's text becomes Table1's filter, switched on or off by the radio buttons.
  void Apply();
  // "Alaphelyzet": every box and the memo emptied, "Kikapcsolva" checked; the table keeps its filter.
  void Reset();

  // The filter text the memo's lines give: each line trimmed and followed by one blank.
  static QString FilterText(const QString& memo);

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct TRow {
    QComboBox* Column = nullptr;
    QComboBox* Operator = nullptr;
    QLineEdit* Value = nullptr;
    QComboBox* Join = nullptr;
  };
  void FormShow();
  void WatchFocus(QWidget* widget);

  std::array<TRow, 3> FRows{};
  QPlainTextEdit* FMemo1 = nullptr;
  QLabel* FLabel2 = nullptr;
  QRadioButton* FRadioButton1 = nullptr;
  QRadioButton* FRadioButton2 = nullptr;
  // A row names a column that is not in the list: its condition compares a quoted word, which
  // would keep all or none of the records, so switching it on is refused. Typing into the memo
  // by hand clears it.
  bool FUnknownColumn = false;
  bool FRebuilding = false;
};

}  // namespace vidora
