// Makes the user manual "Leírás.pdf" from its Markdown source with Qt's PDF writer.
// Usage: vidora_manual <source.md> <output.pdf> [<preview dir>]
// Pictures named in the source are read relative to the source's directory. Each chapter (a
// first-level heading after the title) starts on a new page; every page but the title page
// carries a running head and its number. With a preview directory the same pages are also
// drawn as PNG pictures, for checking the layout without a PDF viewer.
#include <QAbstractTextDocumentLayout>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextImageFormat>
#include <QTextTable>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

constexpr int Resolution = 300;                 // dots per inch of the layout and the PDF
constexpr int MaxPictureWidth = 560;            // CSS pixels (of 642 in the text column)
const QColor HeadingColour(0x1f, 0x3a, 0x60);
const QString RunningHead = QStringLiteral("Vidora V2.0.0.0 – Felhasználói leírás");

QPageLayout ManualPage() {
  return QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(20, 22, 20, 22),
                     QPageLayout::Millimeter);
}

// Heading sizes, chapter page breaks, the centred title, pictures narrowed to the column.
void Style(QTextDocument& doc) {
  QTextCursor cursor(&doc);
  bool firstHeading = true;
  bool titlePage = false;
  for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
    cursor.setPosition(block.position());
    const int level = block.blockFormat().headingLevel();
    if (level > 0) {
      QTextBlockFormat format = block.blockFormat();
      QTextCharFormat text;
      text.setForeground(HeadingColour);
      text.setFontWeight(QFont::Bold);
      static const int sizes[] = {0, 20, 14, 12, 11, 11, 11};
      text.setFontPointSize(sizes[std::min(level, 6)]);
      format.setTopMargin(level == 1 ? 0 : 14);
      format.setBottomMargin(level == 1 ? 14 : 6);
      if (level == 1 && firstHeading) {
        text.setFontPointSize(30);
        format.setAlignment(Qt::AlignHCenter);
        format.setTopMargin(180);
        format.setBottomMargin(24);
      } else if (level == 1) {
        format.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
      }
      titlePage = level == 1 && firstHeading;
      if (level == 1) firstHeading = false;
      cursor.setBlockFormat(format);
      cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
      cursor.mergeCharFormat(text);
      continue;
    }
    if (titlePage) {
      // The lines under the title: centred, larger, spaced out.
      QTextBlockFormat format = block.blockFormat();
      format.setAlignment(Qt::AlignHCenter);
      format.setBottomMargin(18);
      cursor.setBlockFormat(format);
      cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
      QTextCharFormat text;
      text.setFontPointSize(15);
      text.setForeground(HeadingColour);
      cursor.mergeCharFormat(text);
      continue;
    }
    if (block.blockFormat().nonBreakableLines()) {
      // Commands to type: set off on a grey ground.
      QTextBlockFormat format = block.blockFormat();
      format.setBackground(QColor(0xee, 0xf1, 0xf5));
      format.setLeftMargin(18);
      cursor.setBlockFormat(format);
    }
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      const QTextFragment fragment = it.fragment();
      if (!fragment.charFormat().isImageFormat()) continue;
      QTextImageFormat image = fragment.charFormat().toImageFormat();
      const QImage picture = doc.resource(QTextDocument::ImageResource, QUrl(image.name())).value<QImage>();
      if (picture.isNull()) continue;
      const double width = std::min<double>(picture.width(), MaxPictureWidth);
      image.setWidth(width);
      image.setHeight(picture.height() * width / picture.width());
      QTextCursor at(&doc);
      at.setPosition(fragment.position());
      at.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
      at.setCharFormat(image);
      // A picture stands alone in its paragraph, centred with some air around it.
      QTextBlockFormat paragraph = block.blockFormat();
      paragraph.setAlignment(Qt::AlignHCenter);
      paragraph.setTopMargin(8);
      paragraph.setBottomMargin(10);
      at.setBlockFormat(paragraph);
    }
  }
}

// Tables as one thin grid over the column's width, the heading row shaded.
void StyleTables(QTextDocument& doc) {
  for (QTextFrame* frame : doc.rootFrame()->childFrames()) {
    auto* table = qobject_cast<QTextTable*>(frame);
    if (!table) continue;
    QTextTableFormat format = table->format();
    format.setBorderCollapse(true);
    format.setBorder(1);
    format.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
    format.setBorderBrush(QColor(0x8a, 0x96, 0xa8));
    format.setCellPadding(3);
    format.setCellSpacing(0);
    format.setWidth(QTextLength(QTextLength::PercentageLength, 100));
    format.setTopMargin(4);
    format.setBottomMargin(10);
    format.setHeaderRowCount(1);
    table->setFormat(format);
    for (int column = 0; column < table->columns(); ++column) {
      QTextTableCell cell = table->cellAt(0, column);
      QTextCharFormat shaded = cell.format();
      shaded.setBackground(QColor(0xdd, 0xe5, 0xef));
      cell.setFormat(shaded);
    }
  }
}

// Draws page `index` (0-based) of the laid-out document, with the running head and number.
void DrawPage(QPainter& painter, QTextDocument& doc, int index, const QRectF& text, double headHeight) {
  painter.save();
  if (index > 0) {
    QFont small(QStringLiteral("Liberation Sans"));
    small.setPointSizeF(8.5);
    painter.setFont(small);
    painter.setPen(QColor(90, 90, 90));
    const double line = painter.fontMetrics().height();
    painter.drawText(QRectF(0, 0, text.width(), line), Qt::AlignLeft | Qt::AlignVCenter, RunningHead);
    painter.drawLine(QPointF(0, line + 4), QPointF(text.width(), line + 4));
    painter.drawText(QRectF(0, text.height() + 2 * headHeight - line, text.width(), line), Qt::AlignHCenter | Qt::AlignVCenter,
                     QStringLiteral("– %1 –").arg(index + 1));
  }
  painter.translate(0, headHeight - index * text.height());
  QAbstractTextDocumentLayout::PaintContext context;
  context.clip = QRectF(0, index * text.height(), text.width(), text.height());
  painter.setClipRect(context.clip);
  doc.documentLayout()->draw(&painter, context);
  painter.restore();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: vidora_manual <source.md> <output.pdf> [<preview dir>]\n");
    return 2;
  }
  // A build step: no display is needed.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const QString sourcePath = QString::fromLocal8Bit(argv[1]);
  const QString outputPath = QString::fromLocal8Bit(argv[2]);

  QFile source(sourcePath);
  if (!source.open(QIODevice::ReadOnly)) {
    std::fprintf(stderr, "cannot read %s: %s\n", argv[1], qPrintable(source.errorString()));
    return 1;
  }
  QDir().mkpath(QFileInfo(outputPath).absolutePath());
  // Written beside the target and renamed, so a failed run never leaves half a manual.
  const QString partial = outputPath + QStringLiteral(".part");
  auto writer = std::make_unique<QPdfWriter>(partial);
  writer->setResolution(Resolution);
  writer->setPageLayout(ManualPage());
  writer->setTitle(QStringLiteral("Vidora – Felhasználói leírás"));
  writer->setCreator(QStringLiteral("Vidora"));

  QTextDocument doc;
  doc.documentLayout()->setPaintDevice(writer.get());
  QFont body(QStringLiteral("Liberation Serif"));
  body.setPointSizeF(11);
  doc.setDefaultFont(body);
  doc.setBaseUrl(QUrl::fromLocalFile(QFileInfo(sourcePath).absolutePath() + u'/'));
  doc.setMarkdown(QString::fromUtf8(source.readAll()), QTextDocument::MarkdownDialectGitHub);
  doc.setDocumentMargin(0);
  Style(doc);
  StyleTables(doc);

  const QRectF page = writer->pageLayout().paintRectPixels(Resolution);
  QFont small(QStringLiteral("Liberation Sans"));
  small.setPointSizeF(8.5);
  const double headHeight = QFontMetricsF(small, writer.get()).height() * 2.5;
  const QRectF text(0, 0, page.width(), page.height() - 2 * headHeight);
  doc.setPageSize(text.size());
  const int pages = doc.pageCount();

  {
    QPainter painter;
    if (!painter.begin(writer.get())) {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(partial));
      return 1;
    }
    for (int i = 0; i < pages; ++i) {
      if (i > 0) writer->newPage();
      DrawPage(painter, doc, i, text, headHeight);
    }
    painter.end();
  }
  // The layout measures with the writer: it stays alive until the pictures are drawn too.
  if (argc == 4) {
    const QString previews = QString::fromLocal8Bit(argv[3]);
    QDir().mkpath(previews);
    const QSizeF full = ManualPage().fullRectPixels(Resolution).size();
    const QPointF origin = ManualPage().paintRectPixels(Resolution).topLeft();
    for (int i = 0; i < pages; ++i) {
      QImage picture(full.toSize(), QImage::Format_RGB32);
      picture.setDotsPerMeterX(qRound(Resolution / 0.0254));
      picture.setDotsPerMeterY(qRound(Resolution / 0.0254));
      picture.fill(Qt::white);
      QPainter painter(&picture);
      painter.setRenderHint(QPainter::Antialiasing);
      painter.translate(origin);
      DrawPage(painter, doc, i, text, headHeight);
      painter.end();
      picture.scaled(picture.size() * 0.4, Qt::KeepAspectRatio, Qt::SmoothTransformation)
          .save(QStringLiteral("%1/page-%2.png").arg(previews).arg(i + 1, 2, 10, QChar(u'0')));
    }
  }
  writer.reset();
  QFile::remove(outputPath);
  if (!QFile::rename(partial, outputPath)) {
    std::fprintf(stderr, "cannot write %s\n", argv[2]);
    return 1;
  }

  std::printf("%s: %d pages\n", qPrintable(outputPath), pages);
  return 0;
}
