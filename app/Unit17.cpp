#include "Unit17.h"

namespace vidora {

namespace {

TStatisticsSpec Spec() {
  TStatisticsSpec s;
  s.Name = QStringLiteral("Form17");
  s.Caption = QStringLiteral(" Település adatok megoszlása kistérségek szerint:");
  s.GroupColumn = QStringLiteral("KISTERS");
  s.GroupTitle = QStringLiteral("Kistérség");
  s.CounterLabel = QStringLiteral("Tárolt kistérségek száma");
  s.Statement = {QStringLiteral("SELECT KISTERS,  COUNT(KISTERS), SUM(TERULET), SUM(NEPESS), SUM(LAKAS)"),
                   QStringLiteral("FROM Irsz"),
                   QStringLiteral("WHERE KISTERS <> ''"),
                   QStringLiteral("GROUP BY KISTERS")};
  s.ClientWidth = 604;
  s.GroupWidth = 150;
  s.GroupCentered = false;
  return s;
}

}  // namespace

TForm17::TForm17(TVidora& app) : TStatisticsForm(app, Spec()) {}

}  // namespace vidora
