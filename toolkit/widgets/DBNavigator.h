// The data navigator: ten tool buttons (first, prior, next, last, insert, delete, edit, post,
// cancel, refresh) over a data source, each enabled by the dataset's state and position.
// Hints are "short|long" per button. The delete button asks nothing itself: the dataset's
// BeforeDelete handler decides. Errors go to the default error report. GUI thread only.
#pragma once

#include <QStringList>
#include <QWidget>
#include <array>
#include <memory>

#include "db/TDataSet.h"

class QToolButton;

namespace tk {

enum class TNavigatorButton { nbFirst, nbPrior, nbNext, nbLast, nbInsert, nbDelete, nbEdit, nbPost, nbCancel, nbRefresh };

class TDBNavigator : public QWidget {
  Q_OBJECT
 public:
  static constexpr int ButtonCount = 10;

  explicit TDBNavigator(QWidget* parent = nullptr);
  ~TDBNavigator() override;

  void SetDataSource(TDataSource* source);
  TDataSource* DataSource() const;
  // Ten hints in button order; missing ones keep the default.
  void SetHints(const QStringList& hints);
  QStringList Hints() const { return FHints; }
  // The button's objectName is the enumeration's name ("nbFirst", ...).
  QToolButton* Button(TNavigatorButton button) const { return FButtons[static_cast<std::size_t>(button)]; }
  // Runs a button's action as a click does (without the report: errors propagate).
  void Click(TNavigatorButton button);

 private:
  class TLink;
  void UpdateButtons();

  std::unique_ptr<TLink> FLink;
  std::array<QToolButton*, ButtonCount> FButtons{};
  QStringList FHints;
};

}  // namespace tk
