// Window frames of the program's forms: fixed single border with a choice of title-bar
// buttons, a given client size, centred on the screen.
#pragma once

#include <QString>

class QWidget;

namespace tk {

enum class TBorderIcons {
  biSystemMenu,             // close button only
  biSystemMenuMinimize,     // close and minimise, never maximise
  biNone,                   // no title bar at all
};

// Sets caption, frame and fixed client size (extra: height of a menu bar above the client).
void SetupFixedForm(QWidget& form, const QString& caption, int clientWidth, int clientHeight,
                    TBorderIcons icons, int extraHeight = 0);

// Centres a window on the screen that holds it (or the primary screen).
void CentreOnScreen(QWidget& form);

}  // namespace tk
