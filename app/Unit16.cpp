#include "Unit16.h"

namespace vidora {

namespace {

TStatisticsSpec Spec() {
  TStatisticsSpec s;
  s.Name = QStringLiteral("Form16");
  s.Caption = QStringLiteral(" Település adatok megoszlása megyék szerint:");
  s.GroupColumn = QStringLiteral("MEGYE");
  s.GroupTitle = QStringLiteral("Megye");
  s.CounterLabel = QStringLiteral("Tárolt megyék száma");
  s.Statement = {QStringLiteral("SELECT MEGYE,  COUNT(MEGYE), SUM(TERULET), SUM(NEPESS), SUM(LAKAS)"),
                   QStringLiteral("FROM Irsz"),
                   QStringLiteral("WHERE MEGYE <> ''"),
                   QStringLiteral("GROUP BY MEGYE")};
  s.ClientWidth = 604;
  s.GroupWidth = 150;
  s.GroupCentered = false;
  return s;
}

}  // namespace

TForm16::TForm16(TVidora& app) : TStatisticsForm(app, Spec()) {}

}  // namespace vidora
