// Hints of controls and commands: "short|long". The short part is the tool tip, the long
// part stands in the status bar; a hint without "|" serves as both.
#pragma once

#include <QString>

class QAction;
class QWidget;

namespace tk {

QString GetShortHint(const QString& hint);
QString GetLongHint(const QString& hint);

// Sets an action's or widget's tool tip and status tip from one hint.
void SetHint(QAction& action, const QString& hint);
void SetHint(QWidget& widget, const QString& hint);

}  // namespace tk
