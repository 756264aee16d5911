#include "UpdateInfo.h"

#include <QDir>
#include <QSaveFile>
#include <stdexcept>

namespace vidora {

namespace {
char UUChar(unsigned value) { return value == 0 ? '`' : static_cast<char>(' ' + value); }

QString Record(const char* key, const QString& value) {
  return QString::fromLatin1(key).leftJustified(16, u' ') + QStringLiteral(": ") + value;
}
}  // namespace

QByteArray UUEncode(const QByteArray& bytes) {
  QByteArray out;
  qsizetype start = 0;
  do {  // an empty input still yields one line: its length character
    if (start > 0) out += "\r\n";
    const QByteArray chunk = bytes.mid(start, 63);
    out += UUChar(static_cast<unsigned>(chunk.size()));
    for (qsizetype i = 0; i < chunk.size(); i += 3) {
      const qsizetype n = std::min<qsizetype>(3, chunk.size() - i);
      unsigned group = 0;
      for (qsizetype k = 0; k < 3; ++k)
        group = (group << 8) | (k < n ? static_cast<unsigned char>(chunk[i + k]) : 0u);
      for (qsizetype k = 0; k < 4; ++k) out += k <= n ? UUChar((group >> (18 - 6 * k)) & 0x3F) : '`';
    }
    start += 63;
  } while (start < bytes.size());
  return out;
}

QStringList UpdateInfoRecords() {
  return {
      Record("PROGRAM NAME", QStringLiteral("Vidora")),
      Record("PROGRAM VERSION", QStringLiteral("2.0.0.0")),
      Record("PROGRAM TYPE", QStringLiteral("Vidora for Linux")),
      Record("SERVER DIR", QStringLiteral("anon_ftp/updatesb")),
      Record("SERVER INF FILE", QStringLiteral("271alq-vidrexd.cfg")),
      Record("AFTER RUN", QStringLiteral("Vidrex.exe")),
      Record("PROXY USING", QStringLiteral("0")),
      Record("PROXY HOST", QStringLiteral("Nil")),
      Record("PROXY USER", QStringLiteral("Nil")),
      Record("PROXY PASSWORD", QStringLiteral("Nil")),
      Record("PROXY PORT", QStringLiteral("Nil")),
      Record("PROXY TYPE", QStringLiteral("Nil")),
  };
}

void WriteUpdateInfo(const QString& directory) {
  const QString path = QDir(directory).absoluteFilePath(QStringLiteral("update.nfo"));
  // Written aside and renamed, so that a failed write never leaves half a file for the updater.
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly))
    throw std::runtime_error(QStringLiteral("Cannot create file \"%1\": %2").arg(path, file.errorString()).toStdString());
  for (const QString& record : UpdateInfoRecords()) file.write(UUEncode(record.toLatin1()) + "\r\n");
  if (!file.commit())
    throw std::runtime_error(QStringLiteral("Cannot write file \"%1\": %2").arg(path, file.errorString()).toStdString());
}

}  // namespace vidora
