#include "Unit5.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>

#include "SettlementGrid.h"
#include "Unit10.h"
#include "Unit6.h"
#include "Unit9.h"
#include "Vidora.h"
#include "widgets/DBControls.h"
#include "widgets/DBGrid.h"
#include "widgets/Hints.h"
#include "widgets/MessageBoxes.h"

namespace vidora {

namespace {
QPushButton* GlyphButton(QWidget* parent, const char* name, QStyle::StandardPixmap glyph, const QString& hint) {
  auto* button = new QPushButton(parent);
  button->setObjectName(QLatin1String(name));
  button->setIcon(parent->style()->standardIcon(glyph));
  tk::SetHint(*button, hint);
  return button;
}
}  // namespace

TForm5::TForm5(TVidora& app)
    : TModalForm(app, QStringLiteral("Form5"), QStringLiteral(" Adatok keresése:"), 777, 277,
                 tk::TBorderIcons::biSystemMenuMinimize) {
  auto* top = new QWidget(this);
  top->setObjectName(QStringLiteral("Panel1"));
  top->setGeometry(0, 0, 777, 41);

  FEdit1 = new QLineEdit(top);
  FEdit1->setObjectName(QStringLiteral("Edit1"));
  FEdit1->setGeometry(8, 8, 353, 25);
  FEdit1->setMaxLength(38);
  tk::SetHint(*FEdit1, QStringLiteral("Keresendő település|Keresendő település megadása !"));
  connect(FEdit1, &QLineEdit::textChanged, this,
          [this](const QString& text) { tk::Guarded(this, [&] { IncrementalSearch(App(), this, text); }); });

  QPushButton* filter = GlyphButton(top, "SpeedButton1", QStyle::SP_FileDialogContentsView,
                                    QStringLiteral("Szűrés|Megjelenített adatok szűrése !"));
  filter->setGeometry(370, 8, 33, 25);
  connect(filter, &QPushButton::clicked, this, [this] { tk::Guarded(this, [this] { App().Form6()->ShowModal(); }); });

  QPushButton* print = GlyphButton(top, "SpeedButton2", QStyle::SP_DialogSaveButton,
                                   QStringLiteral("Nyomtatás|Aktuális adatrekord nyomtatása !"));
  print->setGeometry(408, 8, 33, 25);
  connect(print, &QPushButton::clicked, this, [this] { tk::Guarded(this, [this] { PrintCurrentRecord(); }); });

  auto* caption = new QLabel(QStringLiteral("Tárolt rekordok száma"), top);
  caption->setObjectName(QStringLiteral("Label1"));
  caption->setAlignment(Qt::AlignCenter);
  caption->setGeometry(456, 3, 200, 17);
  FLabel3 = new QLabel(QStringLiteral("0"), top);
  FLabel3->setObjectName(QStringLiteral("Label3"));
  FLabel3->setAlignment(Qt::AlignCenter);
  FLabel3->setGeometry(456, 21, 200, 17);

  auto* finish = new QPushButton(QStringLiteral("Befejezés"), top);
  finish->setObjectName(QStringLiteral("BitBtn1"));
  finish->setGeometry(672, 8, 97, 25);
  tk::SetHint(*finish, QStringLiteral("Befejezés !"));
  connect(finish, &QPushButton::clicked, this, [this] { tk::Guarded(this, [this] { Finish(); }); });

  auto* middle = new QWidget(this);
  middle->setObjectName(QStringLiteral("Panel2"));
  middle->setGeometry(0, 41, 777, 36);
  auto* subject = new QLabel(QStringLiteral("Keresés tárgya:"), middle);
  subject->setObjectName(QStringLiteral("Label2"));
  QFont bold = subject->font();
  bold.setBold(true);
  subject->setFont(bold);
  subject->setGeometry(8, 9, 110, 17);
  const QString subjectHint = QStringLiteral("Keresési feltétel típusa !");
  FRadioButton1 = new QRadioButton(QStringLiteral("Irányító szám"), middle);
  FRadioButton1->setObjectName(QStringLiteral("RadioButton1"));
  FRadioButton1->setGeometry(124, 8, 120, 20);
  tk::SetHint(*FRadioButton1, subjectHint);
  FRadioButton2 = new QRadioButton(QStringLiteral("Település"), middle);
  FRadioButton2->setObjectName(QStringLiteral("RadioButton2"));
  FRadioButton2->setGeometry(252, 8, 120, 20);
  tk::SetHint(*FRadioButton2, subjectHint);
  FRadioButton2->setChecked(true);
  // Acts only when the button ends up checked, as a click on it does.
  connect(FRadioButton1, &QRadioButton::toggled, this, [this](bool checked) {
    if (checked) tk::Guarded(this, [this] { ChooseSubject(true); });
  });
  connect(FRadioButton2, &QRadioButton::toggled, this, [this](bool checked) {
    if (checked) tk::Guarded(this, [this] { ChooseSubject(false); });
  });

  auto* lower = new QWidget(this);
  lower->setObjectName(QStringLiteral("Panel3"));
  lower->setGeometry(0, 77, 777, 200);

  FDBGrid1 = new tk::TDBGrid(lower);
  FDBGrid1->setObjectName(QStringLiteral("DBGrid1"));
  FDBGrid1->setGeometry(8, 4, 497, 189);
  FDBGrid1->SetColumns(SettlementColumns(TSettlementGridKind::sgSearch));
  FDBGrid1->SetReadOnly(true);
  StyleSettlementGrid(*FDBGrid1);

  FDBMemo1 = new tk::TDBMemo(lower);
  FDBMemo1->setObjectName(QStringLiteral("DBMemo1"));
  FDBMemo1->setGeometry(510, 4, 259, 189);
  FDBMemo1->SetDataField(QStringLiteral("EGYEB"));
  FDBMemo1->SetReadOnly(true);
  FDBMemo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
}

void TForm5::BindData() {
  if (FBound) return;
  tk::TDataSource* source = &App().DataModule9()->DataSource1;
  FDBGrid1->SetDataSource(source);
  FDBMemo1->SetDataSource(source);
  FBound = true;
}

void TForm5::UpdateCount() { FLabel3->setText(QString::number(App().DataModule9()->Table1.RecordCount())); }

void TForm5::FormShow() {
  BindData();
  FEdit1->clear();
  FEdit1->setMaxLength(38);
  FRadioButton2->setChecked(true);
  App().DataModule9()->Table1.SetIndexName(u"TELEP");
  UpdateCount();
}

void TForm5::ChooseSubject(bool postalCode) {
  // The box is cleared before the index changes: the empty text is searched in the old order.
  FEdit1->clear();
  FEdit1->setMaxLength(postalCode ? 4 : 38);
  tk::SetHint(*FEdit1, postalCode ? QStringLiteral("Keresendő irányítószám|Keresendő irányítószám megadása !")
                                  : QStringLiteral("Keresendő település|Keresendő település megadása !"));
  App().DataModule9()->Table1.SetIndexName(postalCode ? u"IRSZ" : u"TELEP");
}

void TForm5::PrintCurrentRecord() {
  // Errors here reach the default error report; a scratch record left behind is emptied by
  // the next successful print.
  vdbds::TVdbTable& source = App().DataModule9()->Table1;
  vdbds::TVdbTable& sheet = App().DataModule9()->Table2;
  sheet.Insert();
  try {
    for (const char16_t* name : {u"IRSZ", u"TELEP", u"TELK", u"RANG", u"REGIO", u"MEGYE", u"KISTERS"})
      sheet.FieldByName(name).SetAsString(source.FieldByName(name).AsString());
    // The figures go through integers: the sheet shows whole numbers.
    for (const char16_t* name : {u"NEPESS", u"TERULET", u"LAKAS"})
      sheet.FieldByName(name).SetAsInteger(source.FieldByName(name).AsInteger());
    sheet.FieldByName(u"EGYEB").SetAsString(source.FieldByName(u"EGYEB").AsString());
    sheet.Post();
  } catch (...) {
    // A half-filled copy is dropped, so the scratch table is not left stuck in insert state.
    if (sheet.State() == tk::TDataSetState::dsInsert) sheet.Cancel();
    throw;
  }
  App().BandReport10()->Preview();
  sheet.Close();
  sheet.EmptyTable();
  sheet.Open();
}

void TForm5::Finish() {
  App().DataModule9()->Table1.SetIndexName(u"TELEP");
  close();
}

void TForm5::showEvent(QShowEvent* event) {
  TModalForm::showEvent(event);
  tk::Guarded(this, [this] { FormShow(); });
}

}  // namespace vidora
