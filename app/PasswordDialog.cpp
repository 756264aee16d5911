#include "PasswordDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vidora {

TPasswordDialog::TPasswordDialog(QWidget* parent, const QString& tableName, bool refused) : QDialog(parent) {
  setObjectName(QStringLiteral("PasswordDialog"));
  setWindowTitle(QStringLiteral("Jelszó"));
  setModal(true);
  auto* layout = new QVBoxLayout(this);
  FPrompt = new QLabel(QStringLiteral("A(z) „%1” tábla jelszóval védett. Jelszó:").arg(tableName), this);
  FRefused = new QLabel(QStringLiteral("Hibás jelszó, adja meg újra!"), this);
  FRefused->setStyleSheet(QStringLiteral("color: red"));
  FRefused->setVisible(refused);
  FEdit = new QLineEdit(this);
  FEdit->setEchoMode(QLineEdit::Password);
  // The key is never offered to input methods or their dictionaries.
  FEdit->setInputMethodHints(Qt::ImhHiddenText | Qt::ImhSensitiveData | Qt::ImhNoPredictiveText);
  FEdit->setMaxLength(80);  // the longest key the engine takes
  auto* buttons = new QDialogButtonBox(this);
  FOk = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  FCancel = buttons->addButton(QStringLiteral("Mégse"), QDialogButtonBox::RejectRole);
  FOk->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(FPrompt);
  layout->addWidget(FRefused);
  layout->addWidget(FEdit);
  layout->addWidget(buttons);
  FEdit->setFocus();
}

QString TPasswordDialog::Password() const { return FEdit->text(); }

std::optional<QString> TPasswordDialog::Ask(QWidget* parent, const QString& tableName, bool refused) {
  TPasswordDialog dialog(parent, tableName, refused);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QString key = dialog.Password();
  dialog.FEdit->clear();
  return key;
}

}  // namespace vidora
