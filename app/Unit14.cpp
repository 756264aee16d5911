#include "Unit14.h"

namespace vidora {

namespace {

TStatisticsSpec Spec() {
  TStatisticsSpec s;
  s.Name = QStringLiteral("Form14");
  s.Caption = QStringLiteral(" Település adatok megoszlása igazgatási rang szerint:");
  s.GroupColumn = QStringLiteral("RANG");
  s.GroupTitle = QStringLiteral("Igazgatási rang");
  s.CounterLabel = QStringLiteral("Tárolt igazgatási rang fajták száma");
  s.Statement = {QStringLiteral("SELECT RANG,  COUNT(RANG), SUM(TERULET), SUM(NEPESS), SUM(LAKAS)"),
                   QStringLiteral("FROM Irsz"),
                   QStringLiteral("WHERE RANG <> ''"),
                   QStringLiteral("GROUP BY RANG")};
  s.ClientWidth = 604;
  s.GroupWidth = 150;
  s.GroupCentered = false;
  return s;
}

}  // namespace

TForm14::TForm14(TVidora& app) : TStatisticsForm(app, Spec()) {}

}  // namespace vidora
