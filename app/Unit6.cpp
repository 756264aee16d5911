#include "Unit6.h"

#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStringList>
#include <stdexcept>

#include "Unit5.h"
#include "Unit9.h"
#include "Vidora.h"
#include "widgets/Hints.h"
#include "widgets/MessageBoxes.h"

namespace vidora {

namespace {

struct TColumnName {
  const char16_t* Caption;
  const char16_t* Column;
};

constexpr TColumnName kColumns[] = {
    {u"Irányító szám", u"IRSZ"}, {u"Település", u"TELEP"},      {u"Telefon körzet", u"TELK"},
    {u"Igazgatási rang", u"RANG"}, {u"Régió", u"REGIO"},         {u"Megye", u"MEGYE"},
    {u"Kistérség", u"KISTERS"},    {u"Terület", u"TERULET"},     {u"Lakó népesség", u"NEPESS"},
    {u"Lakás", u"LAKAS"},
};
const QStringList kOperators = {QStringLiteral("<"), QStringLiteral(">"), QStringLiteral("="),
                                QStringLiteral("<="), QStringLiteral(">="), QStringLiteral("<>")};
const QStringList kJoins = {QStringLiteral("And"), QStringLiteral("Or"), QStringLiteral("Xor")};

QString Quoted(const QString& text) {
  QString doubled = text;
  // A quote inside a value stays part of the value: doubled, the value is always one literal.
  doubled.replace(QLatin1Char('\''), QStringLiteral("''"));
  return QLatin1Char('\'') + doubled + QLatin1Char('\'');
}

QComboBox* Combo(QWidget* parent, const QString& name, const QStringList& items, int x, int y, int width) {
  auto* box = new QComboBox(parent);
  box->setObjectName(name);
  box->setEditable(true);
  box->addItems(items);
  box->setCurrentIndex(-1);
  box->setEditText(QString());
  box->setGeometry(x, y, width, 24);
  return box;
}

}  // namespace

TForm6::TForm6(TVidora& app)
    : TModalForm(app, QStringLiteral("Form6"), QStringLiteral(" Megjelenítendő adatok szűrése:"), 541, 265,
                 tk::TBorderIcons::biSystemMenuMinimize) {
  auto* top = new QWidget(this);
  top->setObjectName(QStringLiteral("Panel1"));
  top->setGeometry(0, 0, 541, 41);
  auto* set = new QPushButton(QStringLiteral("Beállít"), top);
  set->setObjectName(QStringLiteral("BitBtn1"));
  set->setGeometry(8, 8, 97, 25);
  tk::SetHint(*set, QStringLiteral("Megadott szűrési feltétel beállítása !"));
  connect(set, &QPushButton::clicked, this, [this] { tk::Guarded(this, [this] { Apply(); }); });
  auto* reset = new QPushButton(QStringLiteral("Alaphelyzet"), top);
  reset->setObjectName(QStringLiteral("BitBtn2"));
  reset->setGeometry(112, 8, 97, 25);
  tk::SetHint(*reset, QStringLiteral("Értékek alaphelyzetbe állítása !"));
  connect(reset, &QPushButton::clicked, this, [this] { tk::Guarded(this, [this] { Reset(); }); });
  auto* caption = new QLabel(QStringLiteral("Szűrés"), top);
  caption->setObjectName(QStringLiteral("Label1"));
  caption->setAlignment(Qt::AlignCenter);
  caption->setGeometry(220, 3, 200, 17);
  FLabel2 = new QLabel(QStringLiteral("Kikapcsolva"), top);
  FLabel2->setObjectName(QStringLiteral("Label2"));
  FLabel2->setAlignment(Qt::AlignCenter);
  FLabel2->setGeometry(220, 21, 200, 17);
  auto* finish = new QPushButton(QStringLiteral("Befejezés"), top);
  finish->setObjectName(QStringLiteral("BitBtn3"));
  finish->setGeometry(436, 8, 97, 25);
  tk::SetHint(*finish, QStringLiteral("Befejezés !"));
  connect(finish, &QPushButton::clicked, this, [this] { close(); });

  QStringList columns;
  for (const auto& c : kColumns) columns << QString::fromUtf16(c.Caption);
  for (int r = 0; r < 3; ++r) {
    const int y = 48 + r * 30;
    auto* label = new QLabel(QString::number(r + 1) + QLatin1Char('.'), this);
    label->setObjectName(QStringLiteral("Label%1").arg(3 + r));
    QFont bold = label->font();
    bold.setBold(true);
    label->setFont(bold);
    QPalette purple = label->palette();
    purple.setColor(QPalette::WindowText, QColor(0x80, 0x00, 0x80));
    label->setPalette(purple);
    label->setGeometry(8, y + 3, 20, 17);
    TRow& row = FRows[static_cast<std::size_t>(r)];
    row.Column = Combo(this, QStringLiteral("ComboBox%1").arg(1 + 3 * r), columns, 32, y, 145);
    row.Operator = Combo(this, QStringLiteral("ComboBox%1").arg(2 + 3 * r), kOperators, 184, y, 57);
    row.Value = new QLineEdit(this);
    row.Value->setObjectName(QStringLiteral("Edit%1").arg(1 + r));
    row.Value->setGeometry(248, y, 193, 24);
    row.Join = Combo(this, QStringLiteral("ComboBox%1").arg(3 + 3 * r), kJoins, 448, y, 85);
    for (QWidget* w : {static_cast<QWidget*>(row.Column), static_cast<QWidget*>(row.Operator),
                       static_cast<QWidget*>(row.Value), static_cast<QWidget*>(row.Join)})
      WatchFocus(w);
  }

  auto* group = new QGroupBox(QStringLiteral(" Szűrési feltétel "), this);
  group->setObjectName(QStringLiteral("GroupBox1"));
  group->setGeometry(8, 140, 525, 118);
  FMemo1 = new QPlainTextEdit(group);
  FMemo1->setObjectName(QStringLiteral("Memo1"));
  FMemo1->setGeometry(8, 20, 395, 90);
  QPalette tip = FMemo1->palette();
  tip.setColor(QPalette::Base, tip.color(QPalette::ToolTipBase));
  tip.setColor(QPalette::Text, QColor(0x00, 0x00, 0xFF));
  FMemo1->setPalette(tip);
  QFont memoFont = FMemo1->font();
  memoFont.setBold(true);
  FMemo1->setFont(memoFont);
  connect(FMemo1, &QPlainTextEdit::textChanged, this, [this] {
    if (!FRebuilding) FUnknownColumn = false;
  });
  FRadioButton1 = new QRadioButton(QStringLiteral("Bekapcsolva"), group);
  FRadioButton1->setObjectName(QStringLiteral("RadioButton1"));
  FRadioButton1->setGeometry(412, 36, 108, 20);
  FRadioButton2 = new QRadioButton(QStringLiteral("Kikapcsolva"), group);
  FRadioButton2->setObjectName(QStringLiteral("RadioButton2"));
  FRadioButton2->setGeometry(412, 66, 108, 20);
  FRadioButton2->setChecked(true);
}

void TForm6::WatchFocus(QWidget* widget) {
  widget->installEventFilter(this);
  if (auto* combo = qobject_cast<QComboBox*>(widget); combo && combo->lineEdit())
    combo->lineEdit()->installEventFilter(this);
}

bool TForm6::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)
    tk::Guarded(this, [this] { RebuildMemo(); });
  return TModalForm::eventFilter(watched, event);
}

void TForm6::showEvent(QShowEvent* event) {
  TModalForm::showEvent(event);
  tk::Guarded(this, [this] { FormShow(); });
}

void TForm6::FormShow() {
  const bool on = App().DataModule9()->Table1.Filtered();
  FLabel2->setText(on ? QStringLiteral("Bekapcsolva") : QStringLiteral("Kikapcsolva"));
  (on ? FRadioButton1 : FRadioButton2)->setChecked(true);
}

void TForm6::RebuildMemo() {
  bool unknownColumn = false;
  QStringList lines;
  for (const TRow& row : FRows) {
    const QString columnText = row.Column->currentText().trimmed();
    QString column;
    if (!columnText.isEmpty()) {
      for (const auto& c : kColumns)
        if (columnText == QString::fromUtf16(c.Caption)) column = QString::fromUtf16(c.Column);
      if (column.isEmpty()) {
        column = Quoted(columnText);
        unknownColumn = true;
      }
    }
    const QString op = row.Operator->currentText().trimmed();
    const QString valueText = row.Value->text();
    QString value;
    if (!valueText.trimmed().isEmpty()) {
      value = Quoted(valueText.trimmed());
    } else if (!column.isEmpty() && !op.isEmpty()) {
      value = QStringLiteral("''");
    } else {
      value = valueText;
    }
    const QString joinText = row.Join->currentText().trimmed();
    const QString join = joinText.isEmpty() || kJoins.contains(joinText) ? joinText : Quoted(joinText);
    if ((column + op + value + join).isEmpty()) continue;
    lines << column + QLatin1Char(' ') + op + QLatin1Char(' ') + value + QLatin1Char(' ') + join;
  }
  FRebuilding = true;
  FMemo1->setPlainText(lines.join(QLatin1Char('\n')));
  FRebuilding = false;
  FUnknownColumn = unknownColumn;
}

QString TForm6::FilterText(const QString& memo) {
  QString text;
  for (const QString& line : memo.split(QLatin1Char('\n'))) text += line.trimmed() + QLatin1Char(' ');
  return text.trimmed();
}

void TForm6::Apply() {
  vdbds::TVdbTable& table = App().DataModule9()->Table1;
  bool failed = false;
  try {
    table.SetFiltered(false);
    table.SetFilter(FilterText(FMemo1->toPlainText()).toStdU16String());
    if (FRadioButton1->isChecked()) {
      if (FUnknownColumn) throw std::runtime_error("a column not in the list");
      table.SetFiltered(true);
      FLabel2->setText(QStringLiteral("Bekapcsolva"));
    } else if (FRadioButton2->isChecked()) {
      table.SetFiltered(false);
      FLabel2->setText(QStringLiteral("Kikapcsolva"));
    }
  } catch (const std::exception&) {
    failed = true;
  }
  if (failed) {
    tk::ShowMessageBox(this, QMessageBox::NoIcon, QStringLiteral("Szűrő beállítása:"),
                       QStringLiteral("Hibás a szűrési feltétel !!!"));
  }
  App().Form5()->UpdateCount();
}

void TForm6::Reset() {
  for (const TRow& row : FRows) {
    for (QComboBox* box : {row.Column, row.Operator, row.Join}) {
      box->setCurrentIndex(-1);
      box->setEditText(QString());
    }
    row.Value->clear();
  }
  FRebuilding = true;
  FMemo1->clear();
  FRebuilding = false;
  FUnknownColumn = false;
  FRadioButton2->setChecked(true);
}

}  // namespace vidora
