// Text helpers of the shell: UTF-8 (the terminal's and the files' encoding) to and from the
// UTF-16 of the call interface, the width a text takes on a terminal, the 8-bit code pages of
// string and memo columns, and CSV fields. No engine calls here.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vdbsql {

// UTF-16 of a UTF-8 text. Invalid bytes become U+FFFD; Utf8ToUtf16Strict tells instead the
// 1-based character position of the first invalid sequence (0 when the text is valid).
std::u16string Utf8ToUtf16(std::string_view text);
bool Utf8ToUtf16Strict(std::string_view text, std::u16string& out, std::size_t& badChar);
std::string Utf16ToUtf8(std::u16string_view text);

// Columns a text takes on a terminal: combining marks and format characters none, East
// Asian wide and full-width characters two, every other character one (so "Győr" is 4 wide
// although it is 5 bytes).
std::size_t DisplayWidth(std::string_view utf8);

// One 8-bit code page. Decode never fails (bytes without a character become U+FFFD); Encode
// refuses a character the code page lacks and tells which one (1-based character position).
class TCodePage {
 public:
  explicit TCodePage(int codePage);
  ~TCodePage();
  TCodePage(const TCodePage&) = delete;
  TCodePage& operator=(const TCodePage&) = delete;

  int Number() const noexcept { return FNumber; }
  std::u16string Decode(const std::uint8_t* bytes, std::size_t size) const;
  // std::nullopt when a character does not fit; badChar is then its position.
  std::optional<std::string> Encode(std::u16string_view text, std::size_t& badChar) const;

 private:
  struct TImpl;
  int FNumber;
  std::unique_ptr<TImpl> FImpl;
};

// Characters (code points) of a UTF-16 text.
std::size_t CodePoints(std::u16string_view text);

// ---- CSV (RFC 4180): fields separated by commas, quoted when they hold a comma, a quote or a
// line break; quotes doubled inside quotes. Lines end with CRLF when written; LF or CRLF read.

struct TCsvField {
  std::string Text;
  bool Quoted = false;  // a quoted empty field is an empty text, an unquoted one a null
  std::size_t Column = 1;  // 1-based character column of the field's first character
};

struct TCsvRecord {
  std::vector<TCsvField> Fields;
  std::size_t Line = 0;  // 1-based line where the record begins
};

class TCsvReader {
 public:
  explicit TCsvReader(std::string data) : FData(std::move(data)) {}
  // The next record; false at the end. Raises std::runtime_error naming the line for a quote
  // that is never closed.
  bool Next(TCsvRecord& record);

 private:
  std::string FData;
  std::size_t FPos = 0;
  std::size_t FLine = 1;
};

// A field as written into a CSV file: null as an empty field, an empty text as "".
std::string CsvField(const std::optional<std::string>& value);

// A text as a JSON string literal (quotes included).
std::string JsonString(std::string_view utf8);

}  // namespace vdbsql
