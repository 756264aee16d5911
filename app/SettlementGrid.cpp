#include "SettlementGrid.h"

#include "Unit9.h"
#include "Vidora.h"
#include "widgets/DBGrid.h"
#include "widgets/MessageBoxes.h"

namespace vidora {

QVector<tk::TDBGridColumn> SettlementColumns(TSettlementGridKind kind) {
  const bool maintenance = kind == TSettlementGridKind::sgMaintenance;
  // Width 0: the grid derives it from the field's display width.
  auto width = [maintenance](int inMaintenance, int inSearch) { return maintenance ? inMaintenance : inSearch; };
  const Qt::Alignment centre = Qt::AlignCenter;
  return {
      {QStringLiteral("IRSZ"), QStringLiteral("Ir. szám."), 0, centre, {}},
      {QStringLiteral("TELEP"), QStringLiteral("Település"), width(64, 0), Qt::AlignLeft | Qt::AlignVCenter, {}},
      {QStringLiteral("TELK"), QStringLiteral("Tel. Körz."), width(64, 0), centre, {}},
      {QStringLiteral("RANG"), QStringLiteral("Igazgatási rang"), width(64, 0), centre, centre},
      {QStringLiteral("REGIO"), QStringLiteral("Régió"), width(64, 0), centre, centre},
      {QStringLiteral("MEGYE"), QStringLiteral("Megye"), width(64, 0), centre, centre},
      {QStringLiteral("KISTERS"), QStringLiteral("Kistérség"), width(64, 0), centre, centre},
      {QStringLiteral("TERULET"), QStringLiteral("Terület [Ha]"), width(64, 100), centre, centre},
      {QStringLiteral("NEPESS"), QStringLiteral("Lakó népesség"), width(64, 100), centre, centre},
      {QStringLiteral("LAKAS"), QStringLiteral("Lakások sz."), 100, centre, centre},
  };
}

void StyleSettlementGrid(tk::TDBGrid& grid) {
  grid.setStyleSheet(QStringLiteral("QTableView { color: blue; }"
                                    "QHeaderView::section:horizontal { color: navy; font-weight: bold; }"));
}

void IncrementalSearch(TVidora& app, QWidget* parent, const QString& text) {
  try {
    app.DataModule9()->Table1.FindNearest({text.toStdU16String()});
  } catch (const tk::EDatabaseError&) {
    tk::ShowMessageBox(parent, QMessageBox::NoIcon, QStringLiteral("Adatok keresése:"),
                       QStringLiteral("Hiba történt !!!"));
  }
}

}  // namespace vidora
