#include "StatisticsForm.h"

#include <QFrame>
#include <QHideEvent>
#include <QLabel>
#include <QPushButton>

#include "Unit9.h"
#include "Vidora.h"
#include "db/TDataSource.h"
#include "widgets/DBGrid.h"
#include "widgets/Hints.h"
#include "widgets/MessageBoxes.h"

namespace vidora {

namespace {

constexpr int kPanelHeight = 49;

QLabel* Counter(QWidget* parent, const char* name, const QString& text, const char* color, int x, int y, int w) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QLatin1String(name));
  label->setAlignment(Qt::AlignCenter);
  label->setStyleSheet(QStringLiteral("color: %1;").arg(QLatin1String(color)));
  label->setGeometry(x, y, w, 17);
  return label;
}

QFrame* Separator(QWidget* parent, const char* name, int x) {
  auto* line = new QFrame(parent);
  line->setObjectName(QLatin1String(name));
  line->setFrameShape(QFrame::VLine);
  line->setFrameShadow(QFrame::Sunken);
  line->setGeometry(x, 4, 3, kPanelHeight - 8);
  return line;
}

}  // namespace

TStatisticsForm::TStatisticsForm(TVidora& app, const TStatisticsSpec& spec)
    : TModalForm(app, spec.Name, spec.Caption, spec.ClientWidth, 295, tk::TBorderIcons::biSystemMenuMinimize),
      FDataSource1(std::make_unique<tk::TDataSource>()) {
  FQuery1.Name = u"Query1";
  FQuery1.SetDatabaseName(u"VdbDatabase1");
  FQuery1.SetFiltered(true);
  FQuery1.RequestLive = false;
  FQuery1.RequestStable = false;
  FQuery1.UniDirectional = false;
  std::vector<std::u16string> lines;
  for (const QString& line : spec.Statement) lines.push_back(line.toStdU16String());
  FQuery1.SetSQL(lines);
  FDataSource1->SetDataSet(&FQuery1);

  const int width = spec.ClientWidth;
  auto* top = new QWidget(this);
  top->setObjectName(QStringLiteral("Panel1"));
  top->setGeometry(0, 0, width, kPanelHeight);
  const int counterWidth = 200;
  Counter(top, "Label1", QStringLiteral("Tárolt települések száma"), "navy", 8, 6, counterWidth);
  FLabel3 = Counter(top, "Label3", QStringLiteral("0"), "blue", 8, 26, counterWidth);
  Separator(top, "Panel2", 8 + counterWidth + 4);
  Counter(top, "Label2", spec.CounterLabel, "navy", 8 + counterWidth + 12, 6, counterWidth + 40);
  FLabel4 = Counter(top, "Label4", QStringLiteral("0"), "blue", 8 + counterWidth + 12, 26, counterWidth + 40);
  Separator(top, "Panel3", 8 + 2 * counterWidth + 56);

  FBitBtn1 = new QPushButton(QStringLiteral("Befejezés"), top);
  FBitBtn1->setObjectName(QStringLiteral("BitBtn1"));
  FBitBtn1->setGeometry(width - 105, 12, 97, 25);
  tk::SetHint(*FBitBtn1, QStringLiteral("Befejezés !"));
  connect(FBitBtn1, &QPushButton::clicked, this, [this] { close(); });

  FDBGrid1 = new tk::TDBGrid(this);
  FDBGrid1->setObjectName(QStringLiteral("DBGrid1"));
  FDBGrid1->setGeometry(8, kPanelHeight + 4, width - 16, 295 - kPanelHeight - 12);
  const Qt::Alignment groupAlignment = spec.GroupCentered ? Qt::AlignCenter : (Qt::AlignLeft | Qt::AlignVCenter);
  const QString count = QStringLiteral("COUNT([%1])").arg(spec.GroupColumn);
  FDBGrid1->SetColumns({
      {spec.GroupColumn, spec.GroupTitle, spec.GroupWidth, groupAlignment, groupAlignment},
      {count, QStringLiteral("Előfordulás"), 100, Qt::AlignCenter, Qt::AlignCenter},
      {QStringLiteral("SUM([TERULET])"), QStringLiteral("Terület [Ha]"), 100, Qt::AlignCenter, Qt::AlignCenter},
      {QStringLiteral("SUM([NEPESS])"), QStringLiteral("Lakó népesség"), 100, Qt::AlignCenter, Qt::AlignCenter},
      {QStringLiteral("SUM([LAKAS])"), QStringLiteral("Lakások sz."), 100, Qt::AlignCenter, Qt::AlignCenter},
  });
  FDBGrid1->SetReadOnly(true);
  FDBGrid1->setStyleSheet(QStringLiteral("QTableView { color: blue; }"
                                         "QHeaderView::section:horizontal { color: navy; font-weight: bold; }"));
  FDBGrid1->SetDataSource(FDataSource1.get());
}

TStatisticsForm::~TStatisticsForm() {
  // The grid lets go of the source before the query and the source go.
  FDBGrid1->SetDataSource(nullptr);
  FDataSource1->SetDataSet(nullptr);
}

void TStatisticsForm::FormShow() {
  FQuery1.Open();
  FLabel3->setText(QString::number(App().DataModule9()->Table1.RecordCount()));
  FLabel4->setText(QString::number(FQuery1.RecordCount()));
}

void TStatisticsForm::showEvent(QShowEvent* event) {
  TModalForm::showEvent(event);
  // A failure to open goes to the default error report.
  tk::Guarded(this, [this] { FormShow(); });
}

void TStatisticsForm::hideEvent(QHideEvent* event) {
  // However the window goes away, its query is closed.
  tk::Guarded(this, [this] { FQuery1.Close(); });
  TModalForm::hideEvent(event);
}

}  // namespace vidora
