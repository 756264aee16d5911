#include "MessageBoxes.h"

#include <QApplication>

#include "db/TDataSet.h"

namespace tk {

namespace {
TMessageBoxAnswerer& Answerer() {
  static TMessageBoxAnswerer answerer;
  return answerer;
}
}  // namespace

TMessageBoxAnswerer SetMessageBoxAnswerer(TMessageBoxAnswerer answerer) {
  return std::exchange(Answerer(), std::move(answerer));
}

QMessageBox::StandardButton ShowMessageBox(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                                           const QString& text, QMessageBox::StandardButtons buttons) {
  if (const TMessageBoxAnswerer& answer = Answerer()) return answer({icon, title, text, buttons});
  QMessageBox box(icon, title, text, buttons, parent);
  box.setObjectName(QStringLiteral("MessageBox"));
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

void ShowException(QWidget* parent, std::exception_ptr error) noexcept {
  QString text;
  try {
    std::rethrow_exception(error);
  } catch (const EAbort&) {
    return;
  } catch (const EDatabaseError& e) {
    text = QString::fromStdU16String(e.Message());
  } catch (const std::exception& e) {
    text = QString::fromUtf8(e.what());
  } catch (...) {
    text = QStringLiteral("Unknown error");
  }
  try {
    ShowMessageBox(parent, QMessageBox::Critical, QCoreApplication::applicationName(), text);
  } catch (...) {
    // The report itself failed (out of memory, a broken answerer): nothing sensible is left to show.
  }
}

}  // namespace tk
