// Helpers of the report tests: font metrics in round numbers, and reading recorded pages as
// texts with their positions.
#pragma once

#include <QString>
#include <string>
#include <vector>

#include "BRDisplay.h"
#include "BRMetrics.h"

namespace reporttest {

// Every character is 10 tenths of a millimetre wide (bold ones too), every line 40 high.
class TGridMetrics : public br::TBRFontMetrics {
 public:
  int TextWidth(const br::TBRFont&, const QString& text) const override { return 10 * static_cast<int>(text.size()); }
  int TextHeight(const br::TBRFont&, const QString&) const override { return 40; }
};

struct TPlacedText {
  std::string Text;
  int X = 0;
  int Y = 0;
  bool operator==(const TPlacedText&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const TPlacedText& t) {
  return out << '"' << t.Text << "\" at (" << t.X << ", " << t.Y << ')';
}

// The text runs of a page in drawing order.
inline std::vector<TPlacedText> TextsOf(const br::TBRDisplayPage& page) {
  std::vector<TPlacedText> texts;
  for (const br::TBRDrawCommand* c : page.Texts()) texts.push_back({c->Text.toStdString(), c->X, c->Y});
  return texts;
}

// Only the texts themselves.
inline std::vector<std::string> WordsOf(const br::TBRDisplayPage& page) {
  std::vector<std::string> words;
  for (const br::TBRDrawCommand* c : page.Texts()) words.push_back(c->Text.toStdString());
  return words;
}

}  // namespace reporttest
