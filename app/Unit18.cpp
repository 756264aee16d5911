#include "Unit18.h"

namespace vidora {

namespace {

TStatisticsSpec Spec() {
  TStatisticsSpec s;
  s.Name = QStringLiteral("Form18");
  s.Caption = QStringLiteral(" Település adatok megoszlása telefon körzetek szerint:");
  s.GroupColumn = QStringLiteral("TELK");
  s.GroupTitle = QStringLiteral("Telefon körzet");
  s.CounterLabel = QStringLiteral("Tárolt telefon körzetek száma");
  s.Statement = {QStringLiteral("SELECT TELK,  COUNT(TELK), SUM(TERULET), SUM(NEPESS), SUM(LAKAS)"),
                   QStringLiteral("FROM Irsz"),
                   QStringLiteral("GROUP BY TELK")};
  s.ClientWidth = 555;
  s.GroupWidth = 100;
  s.GroupCentered = true;
  return s;
}

}  // namespace

TForm18::TForm18(TVidora& app) : TStatisticsForm(app, Spec()) {}

}  // namespace vidora
