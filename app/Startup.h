// Start-up steps of the program that tests repeat: the visual style, Qt's Hungarian texts and
// the user's formats for the listings.
#pragma once

class QApplication;
class QLocale;
class QTranslator;

namespace vidora {

// Applies the "Iceberg Classico" look, stored in the program as "ICEBERGCLASSICO". On failure
// the error is shown and the default look stays. Returns whether the style was applied.
bool ApplyVisualStyle(QApplication& app);

// Loads Qt's own Hungarian texts (standard buttons read "Igen", "Nem") and makes Hungarian
// the default locale. Missing translations leave Qt's texts in English.
bool LoadTranslations(QApplication& app, QTranslator& translator);

// Fills the report engine's user formats (decimal and thousand separators, date and time
// patterns, money) from the given locale, so that the listings print dates and numbers as the
// user writes them. The program passes the system's locale.
void ApplyUserFormats(const QLocale& locale);

}  // namespace vidora
