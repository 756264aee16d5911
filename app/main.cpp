// The settlement register's entry: style, title, translations, the instances in their
// order, the main window, the message loop.
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QLocale>
#include <QSocketNotifier>
#include <QTranslator>
#include <csignal>

#include "CommandLine.h"
#include "DataLocation.h"
#include "Shell.h"
#include "Startup.h"
#include "Unit1.h"
#include "Vidora.h"
#include "widgets/MessageBoxes.h"

namespace {

// The signal handler's only way to the message loop: one byte into a socket the loop watches.
int gTerminationSocket[2] = {-1, -1};

void OnTerminationSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = ::write(gTerminationSocket[1], &byte, 1);
}

// SIGTERM and SIGHUP (a logout, a service manager, kill) end the program as its own exit does:
// the tables are closed and their lock files left, instead of being left for the next start
// to reclaim.
void EndOnTerminationSignals(QObject* parent, vidora::TVidora& vidora) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, gTerminationSocket) != 0) return;
  auto* notifier = new QSocketNotifier(gTerminationSocket[0], QSocketNotifier::Read, parent);
  QObject::connect(notifier, &QSocketNotifier::activated, parent, [&vidora] {
    char byte = 0;
    [[maybe_unused]] const ssize_t read = ::read(gTerminationSocket[0], &byte, 1);
    vidora.Terminate();
  });
  struct sigaction action = {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGHUP, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  if (const auto exitCode = vidora::AnswerInformationOptions(argc, argv)) return *exitCode;
  QApplication app(argc, argv);
  QTranslator translator;
  vidora::LoadTranslations(app, translator);
  vidora::ApplyVisualStyle(app);
  vidora::ApplyUserFormats(QLocale::system());
  QCoreApplication::setApplicationName(QStringLiteral("Vidora"));
  // The program ends only through TVidora::Terminate, which the main window's close calls too.
  QApplication::setQuitOnLastWindowClosed(false);
  // The database is the working directory: the options or the installed layout choose it.
  if (!tk::Guarded(nullptr, [&] { vidora::EnterDatabaseDirectory(app.arguments(), app.applicationDirPath()); }))
    return 1;

  vidora::TDesktopShell shell;
  vidora::TVidora vidora(shell);
  EndOnTerminationSignals(&app, vidora);
  if (!tk::Guarded(nullptr, [&] { vidora.CreateInstances(); })) return 1;
  vidora.Form1()->show();
  // Opening the tables on the first show may have failed and been reported already.
  if (vidora.TerminateRequested()) return 1;
  return app.exec();
}
