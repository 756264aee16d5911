#include "Unit2.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "SettlementGrid.h"
#include "Unit9.h"
#include "Vidora.h"
#include "widgets/DBControls.h"
#include "widgets/DBGrid.h"
#include "widgets/DBNavigator.h"
#include "widgets/Hints.h"
#include "widgets/MessageBoxes.h"

namespace vidora {

TForm2::TForm2(TVidora& app)
    : TModalForm(app, QStringLiteral("Form2"), QStringLiteral(" Adatok Karbantartása:"), 777, 277,
                 tk::TBorderIcons::biSystemMenuMinimize) {
  auto* top = new QWidget(this);
  top->setObjectName(QStringLiteral("Panel1"));
  top->setGeometry(0, 0, 777, 41);

  FDBNavigator1 = new tk::TDBNavigator(top);
  FDBNavigator1->setObjectName(QStringLiteral("DBNavigator1"));
  FDBNavigator1->setGeometry(8, 8, 240, 25);
  FDBNavigator1->SetHints({QStringLiteral("Első rekord|Első rekord !"), QStringLiteral("Előző rekord|Előző rekord !"),
                           QStringLiteral("Következő rekord|Következő rekord !"),
                           QStringLiteral("Utolsó rekord|Utolsó rekord !"), QStringLiteral("Új rekord|Új rekord !"),
                           QStringLiteral("Rekord törlése|Rekord törlése !"),
                           QStringLiteral("Rekord szerkesztése|Rekord szerkesztése !"),
                           QStringLiteral("Rekord tárolása|Rekord tárolása !"), QStringLiteral("Elvetés|Elvetés !"),
                           QStringLiteral("Frissítés|Frissítés !")});

  FEdit1 = new QLineEdit(top);
  FEdit1->setObjectName(QStringLiteral("Edit1"));
  FEdit1->setGeometry(256, 8, 193, 25);
  FEdit1->setMaxLength(30);
  FEdit1->setStyleSheet(QStringLiteral("QLineEdit { background-color: #FFFBF0; color: teal; font-weight: bold; }"));
  tk::SetHint(*FEdit1, QStringLiteral("Keresendő település !"));
  connect(FEdit1, &QLineEdit::textChanged, this,
          [this](const QString& text) { tk::Guarded(this, [&] { IncrementalSearch(App(), this, text); }); });

  auto* caption = new QLabel(QStringLiteral("Tárolt rekordok száma"), top);
  caption->setObjectName(QStringLiteral("Label1"));
  caption->setAlignment(Qt::AlignCenter);
  caption->setGeometry(460, 3, 200, 17);
  FLabel2 = new QLabel(QStringLiteral("0"), top);
  FLabel2->setObjectName(QStringLiteral("Label2"));
  FLabel2->setAlignment(Qt::AlignCenter);
  FLabel2->setGeometry(460, 21, 200, 17);

  auto* finish = new QPushButton(QStringLiteral("Befejezés"), top);
  finish->setObjectName(QStringLiteral("BitBtn1"));
  finish->setGeometry(672, 8, 97, 25);
  tk::SetHint(*finish, QStringLiteral("Befejezés !"));
  connect(finish, &QPushButton::clicked, this, &QDialog::close);

  auto* lower = new QWidget(this);
  lower->setObjectName(QStringLiteral("Panel2"));
  lower->setGeometry(0, 41, 777, 236);

  FDBGrid1 = new tk::TDBGrid(lower);
  FDBGrid1->setObjectName(QStringLiteral("DBGrid1"));
  FDBGrid1->setGeometry(8, 8, 497, 220);
  FDBGrid1->SetColumns(SettlementColumns(TSettlementGridKind::sgMaintenance));
  StyleSettlementGrid(*FDBGrid1);

  FDBMemo1 = new tk::TDBMemo(lower);
  FDBMemo1->setObjectName(QStringLiteral("DBMemo1"));
  FDBMemo1->setGeometry(510, 8, 259, 220);
  FDBMemo1->SetDataField(QStringLiteral("EGYEB"));
  FDBMemo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
}

void TForm2::BindData() {
  if (FBound) return;
  tk::TDataSource* source = &App().DataModule9()->DataSource1;
  FDBNavigator1->SetDataSource(source);
  FDBGrid1->SetDataSource(source);
  FDBMemo1->SetDataSource(source);
  FBound = true;
}

void TForm2::FormShow() {
  BindData();
  vdbds::TVdbTable& table = App().DataModule9()->Table1;
  FLabel2->setText(QString::number(table.RecordCount()));
  table.SetIndexName(u"TELEP");
  FEdit1->clear();
}

void TForm2::showEvent(QShowEvent* event) {
  TModalForm::showEvent(event);
  tk::Guarded(this, [this] { FormShow(); });
}

}  // namespace vidora
