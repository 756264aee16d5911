// Small text helpers of the dataset components: names compared as the components compare
// them, blanks trimmed, lists split at a separator. Pure functions.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "VdbDatabase.h"

namespace vdbds {

inline bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b) { return SameDatabaseName(a, b); }

inline std::u16string Trim(std::u16string_view text) {
  while (!text.empty() && text.front() == u' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
  return std::u16string(text);
}

// The parts between separators, each trimmed.
inline std::vector<std::u16string> Split(std::u16string_view text, char16_t separator) {
  std::vector<std::u16string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(separator, start);
    parts.push_back(Trim(text.substr(start, end == std::u16string_view::npos ? std::u16string_view::npos : end - start)));
    if (end == std::u16string_view::npos) break;
    start = end + 1;
  }
  return parts;
}

}  // namespace vdbds
