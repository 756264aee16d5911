// Message boxes and the default error report. Every box of the program goes through
// ShowMessageBox, so that tests can answer boxes through one seam instead of a running
// dialog. GUI thread only.
#pragma once

#include <QMessageBox>
#include <QString>
#include <exception>
#include <functional>

namespace tk {

struct TMessageBoxRequest {
  QMessageBox::Icon Icon = QMessageBox::NoIcon;
  QString Title;
  QString Text;
  QMessageBox::StandardButtons Buttons = QMessageBox::Ok;
};

// Answers a box in place of the user; it sees the request before any dialog would open.
using TMessageBoxAnswerer = std::function<QMessageBox::StandardButton(const TMessageBoxRequest&)>;

// Installs an answerer (tests); an empty one restores real, modal boxes. Returns the previous.
TMessageBoxAnswerer SetMessageBoxAnswerer(TMessageBoxAnswerer answerer);

// Shows a modal box with plain buttons and returns the button pressed.
QMessageBox::StandardButton ShowMessageBox(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                                           const QString& text,
                                           QMessageBox::StandardButtons buttons = QMessageBox::Ok);

// The default error report: a box with the error's text. The silent abort shows nothing.
void ShowException(QWidget* parent, std::exception_ptr error) noexcept;

// Runs a slot's or event handler's body so that no exception leaves it into Qt.
// Returns false when the body failed (after the error was reported).
template <class F>
bool Guarded(QWidget* parent, F&& body) noexcept {
  try {
    body();
    return true;
  } catch (...) {
    ShowException(parent, std::current_exception());
    return false;
  }
}

}  // namespace tk
