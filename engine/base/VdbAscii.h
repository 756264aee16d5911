// Upper-casing of ASCII letters only: keywords, names of functions, collations and tables are
// compared this way, independent of any locale.
#pragma once

#include <string>
#include <string_view>

namespace vdb {

inline std::u16string VdbUpperAscii(std::u16string_view s) {
  std::u16string r(s);
  for (char16_t& c : r)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  return r;
}

}  // namespace vdb
