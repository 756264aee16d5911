#include "QtTestSupport.h"

#include <QApplication>
#include <QTimer>

namespace testsupport {

TMessageBoxes::TMessageBoxes() {
  FPrevious = tk::SetMessageBoxAnswerer([this](const tk::TMessageBoxRequest& request) {
    FShown.push_back(request);
    if (FProbe) FProbe(request);
    if (FAnswers.empty()) return QMessageBox::Ok;
    const QMessageBox::StandardButton answer = FAnswers.front();
    FAnswers.pop_front();
    return answer;
  });
}

TMessageBoxes::~TMessageBoxes() { tk::SetMessageBoxAnswerer(std::move(FPrevious)); }

void WhenModalShown(std::function<void(QWidget*)> action) {
  auto* timer = new QTimer(qApp);
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, tries = 0, action = std::move(action)]() mutable {
    QWidget* modal = QApplication::activeModalWidget();
    const bool shown = modal && modal->isVisible();
    if (!shown && ++tries < 500) return;
    timer->stop();
    timer->deleteLater();
    if (shown) action(modal);
  });
  timer->start();
}

TTempWorkingDir::TTempWorkingDir() : FPrevious(QDir::currentPath()) { QDir::setCurrent(FDir.path()); }

TTempWorkingDir::~TTempWorkingDir() { QDir::setCurrent(FPrevious); }

}  // namespace testsupport
