// Start-up steps of the program that tests repeat: the visual style and Qt's Hungarian texts.
#pragma once

class QApplication;
class QTranslator;

namespace vidora {

// Applies the "Iceberg Classico" look, stored in the program as "ICEBERGCLASSICO". On failure
// the error is shown and the default look stays. Returns whether the style was applied.
bool ApplyVisualStyle(QApplication& app);

// Loads Qt's own Hungarian texts (standard buttons read "Igen", "Nem") and makes Hungarian
// the default locale. Missing translations leave Qt's texts in English.
bool LoadTranslations(QApplication& app, QTranslator& translator);

}  // namespace vidora
