#include "Unit15.h"

namespace vidora {

namespace {

TStatisticsSpec Spec() {
  TStatisticsSpec s;
  s.Name = QStringLiteral("Form15");
  s.Caption = QStringLiteral(" Település adatok megoszlása régiók szerint:");
  s.GroupColumn = QStringLiteral("REGIO");
  s.GroupTitle = QStringLiteral("Régió");
  s.CounterLabel = QStringLiteral("Tárolt régiók száma");
  s.Statement = {QStringLiteral("SELECT REGIO,  COUNT(REGIO), SUM(TERULET), SUM(NEPESS), SUM(LAKAS)"),
                   QStringLiteral("FROM Irsz"),
                   QStringLiteral("WHERE Regio <> ''"),
                   QStringLiteral("GROUP BY REGIO")};
  s.ClientWidth = 604;
  s.GroupWidth = 150;
  s.GroupCentered = false;
  return s;
}

}  // namespace

TForm15::TForm15(TVidora& app) : TStatisticsForm(app, Spec()) {}

}  // namespace vidora
