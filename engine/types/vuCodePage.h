// Code-page conversion: 8-bit column text (bytes in a Windows code page such as 1250 or 1252)
// to UTF-16 and back. Every 8-bit string and memo value passes through here when it meets
// UTF-16 text (names, conditions, the call interface, wide columns).
//
// Threads: any thread may call these functions. Converters are kept per thread, because a
// converter carries conversion state and must not be shared.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vdb {

class TvuCodePage {
 public:
  // Bytes in code page ACodePage to UTF-16. Bytes the code page leaves undefined become
  // U+FFFD. Raises EVdbEngine 159 when the code page is unknown to the converter library.
  static std::u16string ToUnicode(std::uint16_t codePage, std::string_view bytes);
  // As above into AOut (replacing its content, reusing its capacity).
  static void ToUnicode(std::uint16_t codePage, std::string_view bytes, std::u16string& out);

  // UTF-16 to bytes in ACodePage. A character the code page cannot hold becomes '?' (never
  // the control character 0x1A, which the memo format reads as end of text); unpaired
  // surrogates also become '?'. Raises EVdbEngine 159 when the code page is unknown.
  static std::string FromUnicode(std::uint16_t codePage, std::u16string_view text);

  // True when every character of AText has an exact representation in ACodePage.
  static bool CanEncode(std::uint16_t codePage, std::u16string_view text);
};

}  // namespace vdb
