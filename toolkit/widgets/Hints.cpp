#include "Hints.h"

#include <QAction>
#include <QWidget>

namespace tk {

QString GetShortHint(const QString& hint) {
  const qsizetype bar = hint.indexOf(u'|');
  return bar < 0 ? hint : hint.left(bar);
}

QString GetLongHint(const QString& hint) {
  const qsizetype bar = hint.indexOf(u'|');
  return bar < 0 ? hint : hint.mid(bar + 1);
}

void SetHint(QAction& action, const QString& hint) {
  action.setToolTip(GetShortHint(hint));
  action.setStatusTip(GetLongHint(hint));
}

void SetHint(QWidget& widget, const QString& hint) {
  widget.setToolTip(GetShortHint(hint));
  widget.setStatusTip(GetLongHint(hint));
}

}  // namespace tk
