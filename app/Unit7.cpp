#include "Unit7.h"

#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>

#include "Shell.h"
#include "SystemInfo.h"
#include "Unit8.h"
#include "Vidora.h"
#include "widgets/Hints.h"
#include "widgets/MessageBoxes.h"

namespace vidora {

namespace {

constexpr int PanelLeft = 8;
constexpr int PanelWidth = 281;

// The program's emblem: a pin over green hills on a sky-blue tile.
QPixmap ProgramIcon() {
  QPixmap icon(32, 32);
  icon.fill(Qt::transparent);
  QPainter p(&icon);
  p.setRenderHint(QPainter::Antialiasing);
  QPainterPath tile;
  tile.addRoundedRect(QRectF(0.5, 0.5, 31, 31), 5, 5);
  p.setClipPath(tile);
  p.fillPath(tile, QColor(150, 190, 230));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(80, 140, 70));
  p.drawEllipse(QRectF(-10, 20, 36, 24));
  p.setBrush(QColor(60, 115, 55));
  p.drawEllipse(QRectF(12, 22, 32, 22));
  QPainterPath pin;
  pin.moveTo(16, 27);
  pin.cubicTo(10, 18, 8, 15, 8, 12);
  pin.arcTo(QRectF(8, 4, 16, 16), 180, -180);
  pin.cubicTo(24, 15, 22, 18, 16, 27);
  p.setBrush(QColor(200, 40, 30));
  p.drawPath(pin);
  p.setBrush(Qt::white);
  p.drawEllipse(QPointF(16, 12), 3, 3);
  p.setClipping(false);
  p.setPen(QPen(QColor(60, 80, 110), 1));
  p.setBrush(Qt::NoBrush);
  p.drawPath(tile);
  return icon;
}

QFrame* AddPanel(QWidget* parent, const char* name, int top, int height) {
  auto* panel = new QFrame(parent);
  panel->setObjectName(QLatin1String(name));
  panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  panel->setGeometry(PanelLeft, top, PanelWidth, height);
  return panel;
}

QLabel* AddLabel(QWidget* parent, const char* name, const QString& text, const QRect& geometry,
                 Qt::Alignment alignment, const QString& style = {}) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QLatin1String(name));
  label->setGeometry(geometry);
  label->setAlignment(alignment);
  if (!style.isEmpty()) label->setStyleSheet(style);
  return label;
}

// A clickable label as wide as its text, centred in its panel's row.
QLabel* AddLinkLabel(QWidget* parent, const char* name, const QString& text, int top, const QString& hint) {
  QLabel* label = AddLabel(parent, name, text, QRect(0, top, PanelWidth, 17), Qt::AlignCenter,
                           QStringLiteral("color: navy; text-decoration: underline;"));
  label->ensurePolished();
  const int width = label->fontMetrics().horizontalAdvance(text) + 4;
  label->setGeometry((PanelWidth - width) / 2, top, width, 17);
  label->setCursor(Qt::PointingHandCursor);
  tk::SetHint(*label, hint);
  return label;
}

bool IsLeftClick(QEvent* event, QWidget* target) {
  if (event->type() != QEvent::MouseButtonRelease) return false;
  const auto* mouse = static_cast<QMouseEvent*>(event);
  return mouse->button() == Qt::LeftButton && target->rect().contains(mouse->position().toPoint());
}

}  // namespace

QString TForm7::MailAddress() { return QStringLiteral("mailto:vidora@example.org"); }
QString TForm7::WebAddress() { return QStringLiteral("https://www.example.org/vidora"); }

TForm7::TForm7(TVidora& app)
    : TModalForm(app, QStringLiteral("Form7"), QStringLiteral(" Névjegy:"), 298, 437, tk::TBorderIcons::biSystemMenu),
      FOwnSystemInfo(std::make_unique<TLinuxSystemInfo>()),
      FSystemInfo(FOwnSystemInfo.get()) {
  BuildMakerPanel();
  BuildSourcePanel();
  BuildSummaryPanel();
  BuildButtons();
}

TForm7::~TForm7() = default;

void TForm7::BuildMakerPanel() {
  QFrame* panel = AddPanel(this, "Panel1", 8, 177);

  auto* icon = new QLabel(panel);
  icon->setObjectName(QStringLiteral("Image1"));
  icon->setGeometry(10, 10, 32, 32);
  icon->setPixmap(ProgramIcon());

  AddLabel(panel, "Label1", QStringLiteral("Vidora"), QRect(0, 8, PanelWidth, 26), Qt::AlignCenter,
           QStringLiteral("font-family: Arial; font-size: 14pt; font-weight: bold; color: blue;"));
  AddLabel(panel, "Label2", QStringLiteral("V2.0.0.0"), QRect(0, 34, PanelWidth, 17), Qt::AlignCenter,
           QStringLiteral("font-weight: bold; color: blue;"));

  FAuthor = AddLabel(panel, "Label3", QStringLiteral("Vidora Szoftver"), QRect(0, 56, PanelWidth, 22), Qt::AlignCenter,
                     QStringLiteral("font-family: 'Times New Roman'; font-size: 12pt; font-weight: bold; color: purple;"));
  FAuthor->installEventFilter(this);

  AddLabel(panel, "Label4",
           QStringLiteral("1111 Budapest, Példa utca 1.\nTelefon: (1) 555-0100\nMobil: (30) 555-0100"),
           QRect(0, 82, PanelWidth, 48), Qt::AlignCenter);

  FMail = AddLinkLabel(panel, "Label5", MailAddress().mid(7), 134,
                       QStringLiteral("E-mail küldése|E-mail küldése a szerzőnek !"));
  FMail->installEventFilter(this);
  FWeb = AddLinkLabel(panel, "Label6", QStringLiteral("www.example.org/vidora"), 153,
                      QStringLiteral("Cím behívása|Cím behívása böngésző programba !"));
  FWeb->installEventFilter(this);
}

void TForm7::BuildSourcePanel() {
  QFrame* panel = AddPanel(this, "Panel2", 199, 41);
  QLabel* source = AddLabel(
      panel, "Label7",
      QStringLiteral("Készült a KSH \"A Magyar Köztársaság Helységnévtára 2003\" című kiadványa alapján."),
      QRect(4, 2, PanelWidth - 8, 37), Qt::AlignCenter);
  source->setWordWrap(true);
}

void TForm7::BuildSummaryPanel() {
  QFrame* panel = AddPanel(this, "Panel3", 254, 93);
  const char* captionNames[] = {"Label8", "Label9", "Label10", "Label11", "Label12"};
  const char* valueNames[] = {"Label13", "Label14", "Label15", "Label16", "Label17"};
  const QString captions[] = {QStringLiteral("Operációs rendszer:"), QStringLiteral("Processzor típusa:"),
                              QStringLiteral("Processzor sebessége:"), QStringLiteral("Fizikai memória:"),
                              QStringLiteral("Memória használatban:")};
  constexpr int ValueWidth = 145;
  for (int i = 0; i < 5; ++i) {
    const int top = 6 + 17 * i;
    // The caption may reach under the value column, whose texts are short and right-aligned.
    AddLabel(panel, captionNames[i], captions[i], QRect(8, top, PanelWidth - 16, 17), Qt::AlignLeft | Qt::AlignVCenter);
    FValues[i] = AddLabel(panel, valueNames[i], QString(), QRect(PanelWidth - 8 - ValueWidth, top, ValueWidth, 17),
                          Qt::AlignRight | Qt::AlignVCenter);
  }
}

void TForm7::BuildButtons() {
  FMsInfo = new QPushButton(QStringLiteral("MS Info"), this);
  FMsInfo->setObjectName(QStringLiteral("BitBtn1"));
  FMsInfo->setGeometry(PanelLeft, 396, 97, 25);
  tk::SetHint(*FMsInfo, QStringLiteral("Rendszerinformáció megjelenítése !"));
  connect(FMsInfo, &QPushButton::clicked, this, [this] { tk::Guarded(this, [this] { MsInfoClick(); }); });

  auto* finish = new QPushButton(QStringLiteral("Befejezés"), this);
  finish->setObjectName(QStringLiteral("BitBtn2"));
  finish->setGeometry(PanelLeft + PanelWidth - 97, 396, 97, 25);
  tk::SetHint(*finish, QStringLiteral("Befejezés !"));
  connect(finish, &QPushButton::clicked, this, &QDialog::close);
}

void TForm7::FormShow() {
  const TSystemSummary summary = Summarise(FSystemInfo->Facts(), QLocale());
  const QString texts[] = {summary.OperatingSystem, summary.ProcessorType, summary.ProcessorSpeed,
                           summary.PhysicalMemory, summary.MemoryLoad};
  for (int i = 0; i < 5; ++i) FValues[i]->setText(texts[i]);
  FValues[0]->setToolTip(summary.OperatingSystemDescription);
  FInformationProgram = FSystemInfo->InformationProgram();
  FMsInfo->setEnabled(!FInformationProgram.isEmpty());
}

void TForm7::MsInfoClick() {
  // Whether the program started is not reported.
  if (!FInformationProgram.isEmpty()) App().Shell().StartProgram(FInformationProgram, {});
}

void TForm7::showEvent(QShowEvent* event) {
  TModalForm::showEvent(event);
  tk::Guarded(this, [this] { FormShow(); });
}

bool TForm7::eventFilter(QObject* watched, QEvent* event) {
  if (watched == FAuthor && event->type() == QEvent::MouseButtonDblClick) {
    tk::Guarded(this, [this] { App().Form8()->ShowModal(); });
    return true;
  }
  // A desktop that cannot open the address reports nothing here either.
  if (watched == FMail && IsLeftClick(event, FMail)) {
    tk::Guarded(this, [this] { App().Shell().OpenAddress(MailAddress()); });
    return true;
  }
  if (watched == FWeb && IsLeftClick(event, FWeb)) {
    tk::Guarded(this, [this] { App().Shell().OpenAddress(WebAddress()); });
    return true;
  }
  return TModalForm::eventFilter(watched, event);
}

}  // namespace vidora
