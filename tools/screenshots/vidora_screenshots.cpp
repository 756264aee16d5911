// Takes pictures of the main, maintenance, search and about windows and of the listings'
// previews on a settlement database, for the documentation. Usage: vidora_screenshots <database
// dir> <output dir>; run it under a display (xvfb-run) so the pictures show the real window frames
// and fonts.
#include <QAction>
#include <QApplication>
#include <QLocale>
#include <QDir>
#include <QLineEdit>
#include <QPixmap>
#include <QTest>
#include <QTimer>
#include <QTranslator>
#include <cstdio>
#include <functional>

#include "BRPrev.h"
#include "Shell.h"
#include "Startup.h"
#include "Unit1.h"
#include "Unit2.h"
#include "Unit5.h"
#include "Unit7.h"
#include "Vidora.h"
#include "widgets/MessageBoxes.h"

namespace {

bool Save(QWidget& window, const QString& path) {
  QApplication::processEvents();
  const bool ok = window.grab().save(path);
  std::fprintf(ok ? stdout : stderr, "%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
  return ok;
}

// Shows a modal window, lets `prepare` act on it, saves its picture and closes it.
bool ShotOfModal(vidora::TModalForm& form, const QString& path, const std::function<void()>& prepare) {
  bool ok = false;
  QTimer::singleShot(300, &form, [&] {
    prepare();
    QTest::qWait(200);
    ok = Save(form, path);
    form.close();
  });
  form.ShowModal();
  return ok;
}

// Starts a listing from the menu and saves the picture of its preview once the report is
// generated, showing page `page`.
bool ShotOfPreview(vidora::TForm1& main, const char* action, int page, const QString& path) {
  bool ok = false;
  QTimer timer;
  timer.setInterval(50);
  QObject::connect(&timer, &QTimer::timeout, &timer, [&] {
    auto* preview = qobject_cast<br::TBRStandardPreview*>(QApplication::activeModalWidget());
    if (!preview || preview->Generating()) return;
    timer.stop();
    preview->ShowPage(page);
    QTest::qWait(200);
    ok = Save(*preview, path);
    preview->close();
  });
  timer.start();
  main.findChild<QAction*>(QLatin1String(action))->trigger();
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: vidora_screenshots <database dir> <output dir>\n");
    return 2;
  }
  QApplication app(argc, argv);
  QTranslator translator;
  vidora::LoadTranslations(app, translator);
  vidora::ApplyVisualStyle(app);
  vidora::ApplyUserFormats(QLocale::system());
  QCoreApplication::setApplicationName(QStringLiteral("Vidora"));
  const QString out = QDir(QString::fromLocal8Bit(argv[2])).absolutePath();
  QDir().mkpath(out);
  // The program's database is its working directory.
  if (!QDir::setCurrent(QString::fromLocal8Bit(argv[1]))) {
    std::fprintf(stderr, "no such directory: %s\n", argv[1]);
    return 1;
  }

  vidora::TDesktopShell shell;
  vidora::TVidora vidora(shell);
  if (!tk::Guarded(nullptr, [&] { vidora.CreateInstances(); })) return 1;
  vidora.Form1()->show();
  if (vidora.TerminateRequested()) return 1;
  QTest::qWait(300);

  bool ok = Save(*vidora.Form1(), out + QStringLiteral("/main-window.png"));
  ok = ShotOfModal(*vidora.Form2(), out + QStringLiteral("/maintenance-window.png"),
                   [&] { QTest::keyClicks(vidora.Form2()->Edit1(), QStringLiteral("Cs")); }) && ok;
  ok = ShotOfModal(*vidora.Form5(), out + QStringLiteral("/search-window.png"),
                   [&] { QTest::keyClicks(vidora.Form5()->Edit1(), QStringLiteral("Szeged")); }) && ok;
  // The summary shows the machine the pictures are taken on.
  ok = ShotOfModal(*vidora.Form7(), out + QStringLiteral("/about-window.png"), [] {}) && ok;
  ok = ShotOfPreview(*vidora.Form1(), "Egyszer1", 1, out + QStringLiteral("/preview-simple-list.png")) && ok;
  ok = ShotOfPreview(*vidora.Form1(), "Kzp1", 2, out + QStringLiteral("/preview-middle-list.png")) && ok;
  ok = ShotOfPreview(*vidora.Form1(), "eljes1", 1, out + QStringLiteral("/preview-full-list.png")) && ok;
  return ok ? 0 : 1;
}
