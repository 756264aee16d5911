// Reads back what a test printed to a PDF file: the pages in order and the text on each,
// through the fonts' ToUnicode maps. Enough for the files Qt's PDF writer makes (one glyph code
// of two bytes per character, shown with Tj); not a general PDF reader.
#pragma once

#include <zlib.h>

#include <QByteArray>
#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <map>
#include <vector>

namespace pdftest {

struct TPdfText {
  std::vector<QString> Pages;
  QString All() const {
    QString all;
    for (const QString& page : Pages) all += page + QLatin1Char('\n');
    return all;
  }
};

inline QByteArray Inflate(const QByteArray& packed) {
  QByteArray out;
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return out;
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.constData()));
  z.avail_in = static_cast<uInt>(packed.size());
  char buffer[65536];
  int rc = Z_OK;
  do {
    z.next_out = reinterpret_cast<Bytef*>(buffer);
    z.avail_out = sizeof buffer;
    rc = inflate(&z, Z_NO_FLUSH);
    out.append(buffer, static_cast<qsizetype>(sizeof buffer - z.avail_out));
  } while (rc == Z_OK);
  inflateEnd(&z);
  return out;
}

// Object number → (dictionary text, stream bytes inflated when the filter says so).
struct TPdfObject {
  QByteArray Dict;
  QByteArray Stream;
};

inline std::map<int, TPdfObject> PdfObjects(const QByteArray& pdf) {
  std::map<int, TPdfObject> objects;
  qsizetype at = 0;
  while (true) {
    const qsizetype found = pdf.indexOf(" 0 obj", at);
    if (found < 0) break;
    qsizetype numberStart = found;
    while (numberStart > 0 && pdf[numberStart - 1] >= '0' && pdf[numberStart - 1] <= '9') --numberStart;
    const int number = pdf.mid(numberStart, found - numberStart).toInt();
    const qsizetype end = pdf.indexOf("endobj", found);
    if (end < 0) break;
    TPdfObject object;
    const QByteArray body = pdf.mid(found + 6, end - found - 6);
    const qsizetype stream = body.indexOf("stream");
    if (stream >= 0 && body.indexOf("endstream") > stream) {
      object.Dict = body.left(stream);
      qsizetype dataStart = stream + 6;
      if (body[dataStart] == '\r') ++dataStart;
      if (body[dataStart] == '\n') ++dataStart;
      QByteArray data = body.mid(dataStart, body.lastIndexOf("endstream") - dataStart);
      object.Stream = object.Dict.contains("FlateDecode") ? Inflate(data) : data;
    } else {
      object.Dict = body;
    }
    objects[number] = object;
    at = end + 6;
  }
  return objects;
}

inline std::vector<int> References(const QByteArray& text) {
  std::vector<int> refs;
  static const QRegularExpression ref(QStringLiteral("(\\d+) 0 R"));
  for (auto it = ref.globalMatch(QString::fromLatin1(text)); it.hasNext();) refs.push_back(it.next().captured(1).toInt());
  return refs;
}

inline int Reference(const QByteArray& dict, const char* key) {
  const qsizetype at = dict.indexOf(key);
  if (at < 0) return -1;
  const std::vector<int> refs = References(dict.mid(at + static_cast<qsizetype>(qstrlen(key)), 20));
  return refs.empty() ? -1 : refs.front();
}

// The glyph-code → text map of a ToUnicode stream (bfchar and bfrange, the array form too).
inline QHash<int, QString> CMap(const QByteArray& cmap) {
  QHash<int, QString> map;
  const auto text = [](const QString& hex) {
    QString s;
    for (qsizetype i = 0; i + 4 <= hex.size(); i += 4) {
      const ushort u = hex.mid(i, 4).toUShort(nullptr, 16);
      s += u < 0x20 ? QChar(' ') : QChar(u);
    }
    return s;
  };
  static const QRegularExpression range(QStringLiteral("<([0-9A-Fa-f]+)>\\s*<([0-9A-Fa-f]+)>\\s*(\\[[^\\]]*\\]|<[0-9A-Fa-f]+>)"));
  const QString all = QString::fromLatin1(cmap);
  const qsizetype ranges = all.indexOf(QStringLiteral("beginbfrange"));
  const qsizetype chars = all.indexOf(QStringLiteral("beginbfchar"));
  if (ranges >= 0) {
    const QString part = all.mid(ranges, all.indexOf(QStringLiteral("endbfrange"), ranges) - ranges);
    for (auto it = range.globalMatch(part); it.hasNext();) {
      const auto m = it.next();
      const int first = m.captured(1).toInt(nullptr, 16);
      const int last = m.captured(2).toInt(nullptr, 16);
      QString target = m.captured(3);
      if (target.startsWith(QLatin1Char('['))) {
        static const QRegularExpression hex(QStringLiteral("<([0-9A-Fa-f]+)>"));
        int code = first;
        for (auto h = hex.globalMatch(target); h.hasNext() && code <= last; ++code) map[code] = text(h.next().captured(1));
      } else {
        const int base = target.mid(1, target.size() - 2).toInt(nullptr, 16);
        for (int code = first; code <= last; ++code) map[code] = text(QString::number(base + code - first, 16).rightJustified(4, '0'));
      }
    }
  }
  if (chars >= 0) {
    static const QRegularExpression pair(QStringLiteral("<([0-9A-Fa-f]+)>\\s*<([0-9A-Fa-f]+)>"));
    const QString part = all.mid(chars, all.indexOf(QStringLiteral("endbfchar"), chars) - chars);
    for (auto it = pair.globalMatch(part); it.hasNext();) {
      const auto m = it.next();
      map[m.captured(1).toInt(nullptr, 16)] = text(m.captured(2));
    }
  }
  return map;
}

// The pages of the file in order with their text; glyphs shown one after the other are
// joined, a new text object starts a new line.
inline TPdfText ReadPdf(const QString& fileName) {
  TPdfText result;
  QFile file(fileName);
  if (!file.open(QIODevice::ReadOnly)) return result;
  const std::map<int, TPdfObject> objects = PdfObjects(file.readAll());
  // The page tree's kids in order (Qt writes one flat /Pages object).
  std::vector<int> pages;
  for (const auto& [number, object] : objects)
    if (object.Dict.contains("/Type /Pages")) {
      const qsizetype kids = object.Dict.indexOf("/Kids");
      pages = References(object.Dict.mid(kids, object.Dict.indexOf(']', kids) - kids));
    }
  // Font resource names → their maps.
  QHash<QString, QHash<int, QString>> fonts;
  static const QRegularExpression fontRef(QStringLiteral("/(F\\d+) (\\d+) 0 R"));
  for (const auto& [number, object] : objects)
    for (auto it = fontRef.globalMatch(QString::fromLatin1(object.Dict)); it.hasNext();) {
      const auto m = it.next();
      const auto font = objects.find(m.captured(2).toInt());
      if (font == objects.end()) continue;
      const auto cmap = objects.find(Reference(font->second.Dict, "/ToUnicode"));
      if (cmap != objects.end()) fonts[m.captured(1)] = CMap(cmap->second.Stream);
    }
  static const QRegularExpression op(QStringLiteral("/(F\\d+) [0-9.]+ Tf|<([0-9A-Fa-f]*)> Tj|\\bBT\\b"));
  for (int page : pages) {
    QString text;
    const auto object = objects.find(page);
    if (object != objects.end()) {
      const auto stream = objects.find(Reference(object->second.Dict, "/Contents"));
      if (stream != objects.end()) {
        QHash<int, QString> current;
        for (auto it = op.globalMatch(QString::fromLatin1(stream->second.Stream)); it.hasNext();) {
          const auto m = it.next();
          if (!m.captured(1).isEmpty()) {
            current = fonts.value(m.captured(1));
          } else if (m.captured(0) == QLatin1String("BT")) {
            if (!text.isEmpty()) text += QLatin1Char('\n');
          } else {
            const QString hex = m.captured(2);
            for (qsizetype i = 0; i + 4 <= hex.size(); i += 4) text += current.value(hex.mid(i, 4).toInt(nullptr, 16));
          }
        }
      }
    }
    result.Pages.push_back(text);
  }
  return result;
}

}  // namespace pdftest
