#include "BRCtrls.h"

#include <algorithm>
#include <cmath>

#include "BandRpt.h"
#include "db/TDataSet.h"

namespace br {

namespace {

// A screen pixel at zoom 100, in tenths of a millimetre (96 pixels per inch).
constexpr int kPixel = 3;

}  // namespace

int TBRFrame::NativeWidth() const noexcept { return static_cast<int>(std::lround(Width / 72.0 * 254.0)); }

void TBRFrame::Draw(TBRDisplayPage& canvas, const TBRRect& r) const {
  if (Style == TBRPenStyle::psClear) return;
  const int w = NativeWidth();
  if (DrawTop) canvas.Line(r.Left, r.Top, r.Right(), r.Top, w, Color);
  if (DrawBottom) canvas.Line(r.Left, r.Bottom(), r.Right(), r.Bottom(), w, Color);
  if (DrawLeft) canvas.Line(r.Left, r.Top, r.Left, r.Bottom(), w, Color);
  if (DrawRight) canvas.Line(r.Right(), r.Top, r.Right(), r.Bottom(), w, Color);
}

void TBRMaster::RegisterNotice(TBRExpr* control) {
  if (std::find(FNotified.begin(), FNotified.end(), control) == FNotified.end()) FNotified.push_back(control);
}

void TBRMaster::UnregisterNotice(TBRExpr* control) noexcept { std::erase(FNotified, control); }

void TBRMaster::NotifyDetail() {
  for (TBRExpr* control : FNotified) control->Notice();
}

TCustomBandRep& TBRPrintable::Report() const noexcept { return FBand->Report(); }

// ----- text controls

TBRFont TBRCustomLabel::EffectiveFont() const { return ParentFont ? ParentBand().EffectiveFont() : Font; }

int TBRCustomLabel::Measure(const TBRFont& font, const QString& text) const {
  return static_cast<int>(std::lround(Report().Metrics().TextWidth(font, text) * (Report().Zoom / 100.0)));
}

namespace {

QString TrimEnd(QString s) {
  while (!s.isEmpty() && s.back() == u' ') s.chop(1);
  return s;
}

}  // namespace

void TBRCustomLabel::FormatParagraph(const QString& paragraph, const TBRFont& font, QStringList& lines) const {
  if (AutoSize || !WordWrap) {
    lines << paragraph;
    return;
  }
  const int width = Size.Width;
  // A trailing blank is invisible: lines are measured and kept without it.
  const auto fits = [&](const QString& text) { return Measure(font, TrimEnd(text)) <= width; };
  if (WrapStyle == TBRWrapStyle::BreakAnywhere) {
    QString line;
    for (const QChar c : paragraph) {
      // An empty line always takes the character, so that every character is placed once.
      if (!line.isEmpty() && !fits(line + c)) {
        lines << TrimEnd(line);
        line.clear();
      }
      line += c;
    }
    if (!line.trimmed().isEmpty()) lines << TrimEnd(line);
    return;
  }
  // Words end after a blank or a hyphen.
  QStringList words;
  QString word;
  for (const QChar c : paragraph) {
    word += c;
    if (c == u' ' || c == u'-') {
      words << word;
      word.clear();
    }
  }
  if (!word.isEmpty()) words << word;
  QString line;
  const auto before = lines.size();
  for (const QString& w : words) {
    if (fits(line + w)) {
      line += w;
    } else if (line.isEmpty()) {
      // The word alone is too wide: as much of it as fits, the rest is dropped. At width 0
      // nothing fits and the line stays empty; the word is used up either way.
      int n = 0;
      while (n < w.size() && Measure(font, w.left(n + 1)) < width) ++n;
      lines << TrimEnd(w.left(n));
    } else {
      lines << TrimEnd(line);
      line.clear();
      if (fits(w)) {
        line = w;
      } else {
        QString cut = w;
        while (!cut.isEmpty() && !fits(cut)) cut.chop(1);
        if (!cut.isEmpty()) lines << TrimEnd(cut);
      }
    }
  }
  // The paragraph's last line; an empty paragraph is one empty line.
  if (!line.isEmpty() || lines.size() == before) lines << TrimEnd(line);
}

QStringList TBRCustomLabel::FormatLines(const QString& text) const {
  QStringList lines;
  QString t = text;
  t.remove(u'\n');
  const TBRFont font = EffectiveFont();
  for (const QString& paragraph : t.split(u'\r')) FormatParagraph(paragraph, font, lines);
  return lines;
}

void TBRCustomLabel::BeginPrint() {
  QString text = SourceText();
  if (OnPrint) OnPrint(*this, text);
  FLines = FormatLines(text);
  FFirstLine = 0;
  FFinished = true;
  FProgressed = false;
}

int TBRCustomLabel::NeededExtra() {
  if (!AutoStretch || !Printable()) return 0;
  const TBRFont font = EffectiveFont();
  const int lineHeight = std::max(1, static_cast<int>(std::lround(Report().Metrics().TextHeight(font, QStringLiteral("W")) * (Report().Zoom / 100.0))));
  const int lines = static_cast<int>(FormatLines(SourceText()).size());
  // Lines fit in the box as they print: each one below the last while it ends above the bottom.
  const int inBox = std::max(0, (Size.Height - (Frame.DrawTop ? Frame.NativeWidth() : 0)) / lineHeight);
  return std::max(0, lines - inBox) * lineHeight;
}

void TBRCustomLabel::DrawLine(TBRDisplayPage& canvas, const TBRRect& box, int y, const QString& line, const TBRFont& font) const {
  const int left = box.Left + (Frame.DrawLeft ? Frame.NativeWidth() : 0);
  const int right = box.Right() - (Frame.DrawRight ? Frame.NativeWidth() : 0);
  if (FullJustify) {
    QStringList words = line.split(u' ', Qt::SkipEmptyParts);
    if (words.size() >= 2) {
      int wordsWidth = 0;
      for (const QString& w : words) wordsWidth += Measure(font, w);
      const int blank = Measure(font, QStringLiteral(" "));
      int gap = blank;
      if (wordsWidth < right - left) {
        const int stretched = (right - left - wordsWidth) / static_cast<int>(words.size() - 1);
        if (stretched <= MaxBreakChars * blank) gap = stretched;
      }
      int x = left;
      for (const QString& w : words) {
        canvas.Text(box, x, y, font, w, RightToLeft);
        x += Measure(font, w) + gap;
      }
      return;
    }
  }
  if (line.isEmpty()) return;
  const int width = Measure(font, line);
  int x = left;
  if (Alignment == TBRAlignment::taRightJustify)
    x = right - width;
  else if (Alignment == TBRAlignment::taCenter)
    x = left + (right - left - width) / 2;
  canvas.Text(box, x, y, font, line, RightToLeft);
}

void TBRCustomLabel::Print(TBRDisplayPage& canvas, int bandX, int bandY) {
  FProgressed = false;
  if (!Printable()) {
    FFinished = true;
    return;
  }
  const TBRFont font = EffectiveFont();
  const double zoom = Report().Zoom / 100.0;
  const int lineHeight = std::max(1, static_cast<int>(std::lround(Report().Metrics().TextHeight(font, QStringLiteral("W")) * zoom)));
  // The box: auto size makes it as wide as the widest line (plus frame lines) and keeps the
  // right edge of a right-aligned control, the centre of a centred one.
  TBRRect box{bandX + Size.Left, bandY + Size.Top, Size.Width, Size.Height};
  if (AutoSize) {
    int widest = 0;
    for (const QString& line : FLines) widest = std::max(widest, Measure(font, line));
    const int width = widest + (Frame.DrawLeft ? Frame.NativeWidth() : 0) + (Frame.DrawRight ? Frame.NativeWidth() : 0);
    if (Alignment == TBRAlignment::taRightJustify)
      box.Left += Size.Width - width;
    else if (Alignment == TBRAlignment::taCenter)
      box.Left += (Size.Width - width) / 2;
    box.Width = width;
    const QString sample = CaptionBased() ? QStringLiteral("Wp") : QStringLiteral("W");
    const int least = static_cast<int>(std::lround(Report().Metrics().TextHeight(font, sample) * zoom)) + kPixel;
    box.Height = std::max(box.Height, least);
  }
  if (AlignToBand) {
    const int bandWidth = ParentBand().Width();
    if (Alignment == TBRAlignment::taLeftJustify)
      box.Left = bandX;
    else if (Alignment == TBRAlignment::taRightJustify)
      box.Left = bandX + bandWidth - box.Width;
    else
      box.Left = bandX + (bandWidth - box.Width) / 2;
  }
  if (!Transparent) canvas.Fill(box, Color);
  int y = box.Top + (Frame.DrawTop ? Frame.NativeWidth() : 0);
  int extra = 0;
  while (FFirstLine < FLines.size()) {
    if (y + lineHeight > box.Bottom()) {
      // Stretch: the band grows by a line when the page has room for it.
      if (!AutoStretch || !ParentBand().Expand(extra + lineHeight)) break;
      const TBRRect strip{box.Left, box.Bottom(), box.Width, lineHeight};
      if (!Transparent) canvas.Fill(strip, Color);
      box.Height += lineHeight;
      extra += lineHeight;
    }
    DrawLine(canvas, box, y, FLines[FFirstLine], font);
    ++FFirstLine;
    y += lineHeight;
    FProgressed = true;
  }
  FFinished = FFirstLine >= FLines.size() || !AutoStretch;
  // Without stretching, lines that did not fit are not printed at all.
  if (!AutoStretch) FFirstLine = static_cast<int>(FLines.size());
  Frame.Draw(canvas, box);
}

// ----- database text

namespace {

tk::TField* BoundField(tk::TDataSet* dataSet, const QString& name) {
  if (!dataSet || !dataSet->Active() || name.isEmpty()) return nullptr;
  return dataSet->FindField(name.toStdU16String());
}

}  // namespace

bool TBRDBText::Printable() { return BoundField(DataSet, DataField) != nullptr; }

QString TBRDBText::SourceText() {
  using tk::TFieldType;
  tk::TField* field = BoundField(DataSet, DataField);
  if (!field || (DataSet->IsEmpty() && DataSet->State() != tk::TDataSetState::dsInsert)) return QString();
  if (field->IsBlob()) return QString::fromStdU16String(field->AsString());
  if (Mask.isEmpty() || field->IsNull()) return QString::fromStdU16String(field->DisplayText());
  const TBRFormatSettings& formats = UserFormats();
  QString text;
  switch (field->DataType()) {
    case TFieldType::dtInteger:
    case TFieldType::dtSmallInt:
    case TFieldType::dtByte:
    case TFieldType::dtAutoInc:
    case TFieldType::dtLargeInt:
    case TFieldType::dtFloat:
      if (FormatFloat(Mask, field->AsFloat(), formats, text)) return text;
      return QString::fromStdU16String(field->DisplayText());
    case TFieldType::dtDate: {
      int y = 0, m = 0, d = 0;
      tk::DecodeDate(field->AsLargeInt(), y, m, d);
      return QDate(y, m, d).toString(Mask);
    }
    case TFieldType::dtTime:
      return QTime::fromMSecsSinceStartOfDay(static_cast<int>(field->AsLargeInt())).toString(Mask);
    case TFieldType::dtDateTime: {
      const std::int64_t ms = field->AsLargeInt();
      int y = 0, m = 0, d = 0;
      tk::DecodeDate(ms / 86400000, y, m, d);
      return QDateTime(QDate(y, m, d), QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms % 86400000))).toString(Mask);
    }
    default:
      return QString::fromStdU16String(field->DisplayText());
  }
}

bool TBRDBRichText::Printable() { return BoundField(DataSet, DataField) != nullptr; }

QString TBRDBRichText::SourceText() {
  tk::TField* field = BoundField(DataSet, DataField);
  if (!field || DataSet->IsEmpty()) return QString();
  QString text = QString::fromStdU16String(field->AsString());
  // A line break of the note is a paragraph break.
  text.replace(QLatin1String("\r\n"), QLatin1String("\r"));
  text.replace(u'\n', u'\r');
  return text;
}

// ----- system data

QString TBRSysData::SourceText() {
  TCustomBandRep& report = Report();
  const TBRFormatSettings& formats = UserFormats();
  const QDateTime now = report.Clock ? report.Clock() : QDateTime::currentDateTime();
  QString value;
  switch (Data) {
    case TBRSysDataType::brsTime: value = now.time().toString(formats.ShortTimeFormat); break;
    case TBRSysDataType::brsDate: value = now.date().toString(formats.ShortDateFormat); break;
    case TBRSysDataType::brsDateTime:
      value = now.date().toString(formats.ShortDateFormat) + u' ' + now.time().toString(formats.LongTimeFormat);
      break;
    case TBRSysDataType::brsPageNumber: value = QString::number(report.PageNumber()); break;
    case TBRSysDataType::brsReportTitle: value = report.ReportTitle; break;
    case TBRSysDataType::brsDetailCount: value = QString::number(report.RecordCount()); break;
    case TBRSysDataType::brsDetailNo: value = QString::number(report.RecordNumber()); break;
  }
  return Text + value;
}

// ----- expression control

TBRExpr::TBRExpr(TBRBand& band) : TBRCustomLabel(band) {}

TBRExpr::~TBRExpr() {
  if (FRegistered) FRegistered->UnregisterNotice(this);
}

void TBRExpr::BeforeGeneration() {
  TCustomBandRep& report = Report();
  FEvaluator.SetDataSets(report.ReportDataSets());
  FEvaluator.SetEnvironment(&report.Functions);
  FEvaluator.Prepare(Expression);
  TBRMaster* master = Master ? Master : (FEvaluator.IsAggreg() ? static_cast<TBRMaster*>(&report) : nullptr);
  if (master) {
    master->RegisterNotice(this);
    FRegistered = master;
  }
  FEvaluator.Reset();
}

void TBRExpr::AfterGeneration() {
  if (FRegistered) FRegistered->UnregisterNotice(this);
  FRegistered = nullptr;
  FEvaluator.SetDataSets({});
  FEvaluator.UnPrepare();
}

void TBRExpr::Notice() {
  if (FEvaluator.Prepared()) FEvaluator.DoAggregate();
}

QString TBRExpr::SourceText() {
  if (!FEvaluator.Prepared()) return DesignText();
  TBREvResult r;
  FEvaluator.Value(r);
  const TBRFormatSettings& formats = UserFormats();
  QString text;
  switch (r.Kind) {
    case TBREvResultType::resInt:
      if (Mask.isEmpty() || !FormatFloat(Mask, r.intResult, formats, text)) text = QString::number(r.intResult);
      return text;
    case TBREvResultType::resDouble:
      if (Mask.contains(QLatin1String("%m"))) return QString(Mask).replace(QLatin1String("%m"), FormatMoney(r.dblResult, formats));
      if (Mask.isEmpty() || !FormatFloat(Mask, r.dblResult, formats, text)) text = FloatToStr(r.dblResult, formats);
      return text;
    case TBREvResultType::resBool: return r.booResult ? QStringLiteral("True") : QStringLiteral("False");
    default: return r.StringVal;
  }
}

void TBRExpr::Print(TBRDisplayPage& canvas, int bandX, int bandY) {
  TBRCustomLabel::Print(canvas, bandX, bandY);
  if (ResetAfterPrint && Finished()) FEvaluator.Reset();
}

QString TBRExpr::DesignText() const { return Expression.isEmpty() ? QStringLiteral("(none)") : Expression; }

// ----- figures

void TBRShape::Print(TBRDisplayPage& canvas, int bandX, int bandY) {
  const TBRRect r{bandX + Size.Left, bandY + Size.Top + VertAdjust, Size.Width, Size.Height};
  const int pen = Pen.Style == TBRPenStyle::psClear ? 0 : static_cast<int>(std::lround(Pen.Width / 72.0 * 254.0));
  const auto line = [&](int x1, int y1, int x2, int y2) {
    if (pen > 0) canvas.Line(x1, y1, x2, y2, pen, Pen.Color);
  };
  const int midX = r.Left + r.Width / 2, midY = r.Top + r.Height / 2;
  switch (Shape) {
    case TBRShapeType::brsRectangle:
    case TBRShapeType::brsRoundRect:
    case TBRShapeType::brsCircle:
      if (!Brush.Clear) canvas.Fill(r, Brush.Color);
      if (Shape == TBRShapeType::brsCircle) {
        // The ellipse as a polygon of short lines: the display list has straight lines only.
        constexpr int kSegments = 48;
        const double pi = std::acos(-1.0);
        for (int i = 0; i < kSegments; ++i) {
          const double a = 2 * pi * i / kSegments, b = 2 * pi * (i + 1) / kSegments;
          line(midX + static_cast<int>(std::lround(r.Width / 2.0 * std::cos(a))), midY + static_cast<int>(std::lround(r.Height / 2.0 * std::sin(a))),
               midX + static_cast<int>(std::lround(r.Width / 2.0 * std::cos(b))), midY + static_cast<int>(std::lround(r.Height / 2.0 * std::sin(b))));
        }
      } else {
        line(r.Left, r.Top, r.Right(), r.Top);
        line(r.Right(), r.Top, r.Right(), r.Bottom());
        line(r.Right(), r.Bottom(), r.Left, r.Bottom());
        line(r.Left, r.Bottom(), r.Left, r.Top);
      }
      break;
    case TBRShapeType::brsVertLine: line(midX, r.Top, midX, r.Bottom()); break;
    case TBRShapeType::brsHorLine: line(r.Left, midY, r.Right(), midY); break;
    case TBRShapeType::brsTopAndBottom:
      line(r.Left, r.Top, r.Right(), r.Top);
      line(r.Left, r.Bottom(), r.Right(), r.Bottom());
      break;
    case TBRShapeType::brsRightAndLeft:
      line(r.Left, r.Top, r.Left, r.Bottom());
      line(r.Right(), r.Top, r.Right(), r.Bottom());
      break;
    case TBRShapeType::brsLeftDiagonal: line(r.Left, r.Bottom(), r.Right(), r.Top); break;
    case TBRShapeType::brsRightDiagonal: line(r.Left, r.Top, r.Right(), r.Bottom()); break;
  }
}

void TBRImage::Print(TBRDisplayPage& canvas, int bandX, int bandY) {
  if (!Picture.isNull()) canvas.Picture({bandX + Size.Left, bandY + Size.Top, Size.Width, Size.Height}, Picture);
}

}  // namespace br
