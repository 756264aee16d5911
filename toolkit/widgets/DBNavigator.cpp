#include "DBNavigator.h"

#include <QHBoxLayout>
#include <QToolButton>

#include "Hints.h"
#include "MessageBoxes.h"

namespace tk {

namespace {

struct TButtonInfo {
  const char* Name;
  const char* Glyph;
  const char* Hint;
};

constexpr std::array<TButtonInfo, TDBNavigator::ButtonCount> kButtons = {{
    {"nbFirst", "|\u25C0", "First record"},
    {"nbPrior", "\u25C0", "Prior record"},
    {"nbNext", "\u25B6", "Next record"},
    {"nbLast", "\u25B6|", "Last record"},
    {"nbInsert", "+", "Insert record"},
    {"nbDelete", "\u2212", "Delete record"},
    {"nbEdit", "\u25B2", "Edit record"},
    {"nbPost", "\u2713", "Post edit"},
    {"nbCancel", "\u2717", "Cancel edit"},
    {"nbRefresh", "\u21BB", "Refresh data"},
}};

}  // namespace

class TDBNavigator::TLink : public TDataLink {
 public:
  explicit TLink(TDBNavigator& navigator) : FNavigator(navigator) {}

 protected:
  void ActiveChanged() override { FNavigator.UpdateButtons(); }
  void DataSetChanged() override { FNavigator.UpdateButtons(); }
  void DataSetScrolled(int) override { FNavigator.UpdateButtons(); }
  void EditingChanged() override { FNavigator.UpdateButtons(); }

 private:
  TDBNavigator& FNavigator;
};

TDBNavigator::TDBNavigator(QWidget* parent) : QWidget(parent), FLink(std::make_unique<TLink>(*this)) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  for (std::size_t i = 0; i < kButtons.size(); ++i) {
    auto* button = new QToolButton(this);
    button->setObjectName(QLatin1String(kButtons[i].Name));
    button->setText(QString::fromUtf8(kButtons[i].Glyph));
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    button->setFocusPolicy(Qt::NoFocus);
    FHints.push_back(QLatin1String(kButtons[i].Hint));
    SetHint(*button, FHints.back());
    const auto which = static_cast<TNavigatorButton>(i);
    connect(button, &QToolButton::clicked, this, [this, which] { Guarded(this, [&] { Click(which); }); });
    layout->addWidget(button);
    FButtons[i] = button;
  }
  UpdateButtons();
}

TDBNavigator::~TDBNavigator() = default;

void TDBNavigator::SetDataSource(TDataSource* source) {
  FLink->SetDataSource(source);
  UpdateButtons();
}

TDataSource* TDBNavigator::DataSource() const { return FLink->DataSource(); }

void TDBNavigator::SetHints(const QStringList& hints) {
  for (int i = 0; i < ButtonCount && i < hints.size(); ++i) {
    FHints[i] = hints[i];
    SetHint(*FButtons[static_cast<std::size_t>(i)], hints[i]);
  }
}

void TDBNavigator::Click(TNavigatorButton button) {
  TDataSet* dataSet = FLink->DataSet();
  if (!dataSet || !FLink->Active()) return;
  switch (button) {
    case TNavigatorButton::nbFirst:
      dataSet->First();
      break;
    case TNavigatorButton::nbPrior:
      dataSet->Prior();
      break;
    case TNavigatorButton::nbNext:
      dataSet->Next();
      break;
    case TNavigatorButton::nbLast:
      dataSet->Last();
      break;
    case TNavigatorButton::nbInsert:
      dataSet->Insert();
      break;
    case TNavigatorButton::nbDelete:
      dataSet->Delete();
      break;
    case TNavigatorButton::nbEdit:
      dataSet->Edit();
      break;
    case TNavigatorButton::nbPost:
      dataSet->Post();
      break;
    case TNavigatorButton::nbCancel:
      dataSet->Cancel();
      break;
    case TNavigatorButton::nbRefresh:
      dataSet->Refresh();
      break;
  }
}

void TDBNavigator::UpdateButtons() {
  const TDataSet* dataSet = FLink->DataSet();
  const bool active = FLink->Active() && dataSet;
  const bool canModify = active && dataSet->CanModify() && !FLink->ReadOnly();
  const bool editing = active && FLink->Editing();
  const bool up = active && !dataSet->Bof();
  const bool down = active && !dataSet->Eof();
  const bool empty = !active || dataSet->IsEmpty();
  auto enable = [this](TNavigatorButton button, bool value) { Button(button)->setEnabled(value); };
  enable(TNavigatorButton::nbFirst, up);
  enable(TNavigatorButton::nbPrior, up);
  enable(TNavigatorButton::nbNext, down);
  enable(TNavigatorButton::nbLast, down);
  enable(TNavigatorButton::nbInsert, canModify);
  enable(TNavigatorButton::nbDelete, canModify && !empty);
  enable(TNavigatorButton::nbEdit, canModify && !editing && !empty);
  enable(TNavigatorButton::nbPost, canModify && editing);
  enable(TNavigatorButton::nbCancel, canModify && editing);
  enable(TNavigatorButton::nbRefresh, active && !editing);
}

}  // namespace tk
