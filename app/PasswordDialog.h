// The question for the key of a password-protected or enciphered table, asked while the
// database opens it. After a key the table refused, the dialog says so and asks again.
// GUI thread only.
#pragma once

#include <QDialog>
#include <QString>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;

namespace vidora {

class TPasswordDialog : public QDialog {
  Q_OBJECT
 public:
  // `refused`: the key given last time did not open the table.
  TPasswordDialog(QWidget* parent, const QString& tableName, bool refused);

  QString Password() const;
  QLabel* PromptLabel() const noexcept { return FPrompt; }
  QLabel* RefusedLabel() const noexcept { return FRefused; }
  QLineEdit* PasswordEdit() const noexcept { return FEdit; }
  QPushButton* OkButton() const noexcept { return FOk; }
  QPushButton* CancelButton() const noexcept { return FCancel; }

  // Shows the dialog modally; the key typed, or nothing when the user gave up.
  static std::optional<QString> Ask(QWidget* parent, const QString& tableName, bool refused);

 private:
  QLabel* FPrompt;
  QLabel* FRefused;
  QLineEdit* FEdit;
  QPushButton* FOk;
  QPushButton* FCancel;
};

}  // namespace vidora
