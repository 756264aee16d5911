// Helpers of the widget tests: answering message boxes, acting on modal windows while
// they run, and a temporary working directory.
#pragma once

#include <QDir>
#include <QMessageBox>
#include <QPointer>
#include <QTemporaryDir>
#include <deque>
#include <functional>
#include <vector>

#include "widgets/MessageBoxes.h"

namespace testsupport {

// Answers every message box from a queue of answers (Ok when empty) and keeps the requests.
// An optional probe runs while a box "is open", to look at the program in that moment.
class TMessageBoxes {
 public:
  TMessageBoxes();
  ~TMessageBoxes();
  TMessageBoxes(const TMessageBoxes&) = delete;
  TMessageBoxes& operator=(const TMessageBoxes&) = delete;

  void Answer(QMessageBox::StandardButton answer) { FAnswers.push_back(answer); }
  void WhileOpen(std::function<void(const tk::TMessageBoxRequest&)> probe) { FProbe = std::move(probe); }
  const std::vector<tk::TMessageBoxRequest>& Shown() const noexcept { return FShown; }

 private:
  std::deque<QMessageBox::StandardButton> FAnswers;
  std::vector<tk::TMessageBoxRequest> FShown;
  std::function<void(const tk::TMessageBoxRequest&)> FProbe;
  tk::TMessageBoxAnswerer FPrevious;
};

// Runs the action on the next modal window once it is shown (the caller then starts it).
// Gives up silently after a few seconds; the test's own checks then fail.
void WhenModalShown(std::function<void(QWidget*)> action);

// Shows `form` modally (its ShowModal), runs `checks` while it is open, then closes it.
// False when the window never showed, so the checks never ran.
template <class Form, class F>
bool WhileShownModally(Form& form, F&& checks) {
  bool ran = false;
  WhenModalShown([&](QWidget* w) {
    checks();
    ran = true;
    w->close();
  });
  form.ShowModal();
  return ran;
}

// Makes a fresh temporary directory the working directory for the lifetime of the object.
class TTempWorkingDir {
 public:
  TTempWorkingDir();
  ~TTempWorkingDir();
  QString Path() const { return FDir.path(); }

 private:
  QString FPrevious;
  QTemporaryDir FDir;
};

}  // namespace testsupport
