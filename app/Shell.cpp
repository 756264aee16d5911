#include "Shell.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

namespace vidora {

bool TDesktopShell::OpenDocument(const QString& name) {
  // The desktop opener starts asynchronously and may report success for a missing file,
  // so a missing document is a failure here.
  const QFileInfo file(QDir::current(), name);
  if (!file.isFile()) return false;
  return QDesktopServices::openUrl(QUrl::fromLocalFile(file.absoluteFilePath()));
}

bool TDesktopShell::OpenAddress(const QString& url) { return QDesktopServices::openUrl(QUrl(url)); }

bool TDesktopShell::StartProgram(const QString& program, const QStringList& arguments) {
  const QFileInfo file(QDir::current(), program);
  if (!file.isFile()) return false;
  return QProcess::startDetached(file.absoluteFilePath(), arguments, QDir::currentPath());
}

}  // namespace vidora
