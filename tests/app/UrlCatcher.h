// Catches what the desktop would be asked to open for one URL scheme, while it lives; the
// desktop itself is never reached.
#pragma once

#include <QDesktopServices>
#include <QList>
#include <QObject>
#include <QUrl>

namespace apptest {

class TUrlCatcher : public QObject {
  Q_OBJECT
 public:
  explicit TUrlCatcher(const QString& scheme) : FScheme(scheme) {
    QDesktopServices::setUrlHandler(scheme, this, "Open");
  }
  ~TUrlCatcher() override { QDesktopServices::unsetUrlHandler(FScheme); }

  QList<QUrl> Opened;

 public slots:
  void Open(const QUrl& url) { Opened << url; }

 private:
  QString FScheme;
};

}  // namespace apptest
