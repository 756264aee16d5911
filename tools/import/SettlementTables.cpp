#include "SettlementTables.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <limits>

#include "base/VdbFormat.h"
#include "storage/VdbBlobFile.h"
#include "types/VdbData.h"
#include "types/vuCodePage.h"

namespace vidora::tools {

using namespace vdb;

namespace {

TVdbNewColumn NewColumn(std::string_view name, TVdbColumnType type, std::int32_t length, bool nullable) {
  TVdbNewColumn c;
  c.Name = VdbUtf8ToUtf16(name);
  c.ColumnType = type;
  c.Length = length;
  c.Nullable = nullable;
  return c;
}

std::string Quoted(const std::u16string& value) { return "\"" + VdbUtf16ToUtf8(value) + "\""; }

std::string Hex(char32_t c) {
  char buf[16];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, static_cast<std::uint32_t>(c), 16);
  std::string digits(buf, end);
  for (auto& d : digits) d = static_cast<char>(std::toupper(static_cast<unsigned char>(d)));
  while (digits.size() < 4) digits.insert(digits.begin(), '0');
  return "U+" + digits;
}

}  // namespace

std::int32_t SettlementNoteBlockSize(const std::vector<TSettlementRow>& rows) {
  // One code-page byte per character (line breaks only shrink), the terminator, and the
  // block's link to the next block.
  std::size_t longest = 0;
  for (const auto& row : rows) longest = std::max(longest, row.Values[scEgyeb].size());
  const std::size_t needed = longest + 1 + static_cast<std::size_t>(kVdbBlobPayloadOffset);
  std::int32_t size = 64;
  while (size < kVdbDefaultBlockSize && static_cast<std::size_t>(size) < needed) size *= 2;
  return size;
}

TVdbNewTable SettlementTableDefinition(std::u16string path, std::int32_t capacity, bool withIndexes) {
  TVdbNewTable t;
  t.Path = std::move(path);
  t.Level = kSettlementTableLevel;
  t.Capacity = capacity;
  t.CollationName = kSettlementCollation;
  t.Columns = {NewColumn("IRSZ", vctString, kIrszLength, false),
               NewColumn("TELEP", vctString, kTelepLength, false),
               NewColumn("TELK", vctString, kGroupTextLength, true),
               NewColumn("RANG", vctString, kGroupTextLength, true),
               NewColumn("REGIO", vctString, kGroupTextLength, true),
               NewColumn("MEGYE", vctString, kGroupTextLength, true),
               NewColumn("KISTERS", vctString, kGroupTextLength, true),
               NewColumn("TERULET", vctInteger, 0, true),
               NewColumn("NEPESS", vctInteger, 0, true),
               NewColumn("LAKAS", vctInteger, 0, true),
               NewColumn("EGYEB", vctMemo, 0, true)};
  if (withIndexes) t.Indexes = {{u"TELEP", u"TELEP", false}, {u"IRSZ", u"IRSZ", false}};
  return t;
}

TSettlementRecordEncoder::TSettlementRecordEncoder(TVdbBaseTable& table) : FTable(table) {
  const TVdbColumnDefs& defs = table.ColumnDefs();
  for (std::size_t col = 0; col < kSettlementColumnCount; ++col) {
    const std::string name(kSettlementColumnNames[col]);
    const int index = defs.Find(VdbUtf8ToUtf16(name));
    if (index < 0) throw ESettlementImport("the table has no column " + name);
    TColumn& c = FColumns[col];
    c.Def = &defs.GetColumnDef(index);
    const TVdbColumnType type = c.Def->DataType()->ColumnType();
    if (type == vctMemo) {
      c.Kind = ckMemo;
    } else if (type == vctString) {
      c.Kind = ckText;
    } else if (type == vctInteger) {
      c.Kind = ckNumber;
    } else {
      throw ESettlementImport("column " + name + " of the table has an unexpected type");
    }
    c.Required = col == scIrsz || col == scTelep;
  }
}

std::string TSettlementRecordEncoder::CheckedText(const TSettlementRow& row, std::size_t col) const {
  const std::u16string& value = row.Values[col];
  const TColumn& c = FColumns[col];
  const auto& type = *static_cast<const TVdbStringType*>(c.Def->DataType());
  const std::string column(kSettlementColumnNames[col]);
  for (std::size_t i = 0; i < value.size(); ++i) {
    std::size_t n = 1;
    if (value[i] >= 0xD800 && value[i] <= 0xDBFF && i + 1 < value.size()) n = 2;
    const std::u16string_view ch(value.data() + i, n);
    if (!TvuCodePage::CanEncode(type.CodePage(), ch)) {
      const char32_t cp = n == 2 ? 0x10000 + ((char32_t(value[i]) - 0xD800) << 10) + (char32_t(value[i + 1]) - 0xDC00)
                                 : char32_t(value[i]);
      throw ESettlementImport(Quoted(value) + " has a character that the table's code page " +
                                  std::to_string(type.CodePage()) + " cannot hold: " + Hex(cp),
                              row.Line, column);
    }
    if (c.Kind == ckMemo && (value[i] == 0 || value[i] == 0x1A)) {
      // The memo format reads either character as the end of the text.
      throw ESettlementImport("the note contains the control character " + Hex(value[i]) + ", which would end it",
                              row.Line, column);
    }
    i += n - 1;
  }
  std::string bytes = TvuCodePage::FromUnicode(type.CodePage(), value);
  if (c.Kind == ckText && bytes.size() > static_cast<std::size_t>(type.MaxLength())) {
    throw ESettlementImport(Quoted(value) + " has " + std::to_string(bytes.size()) + " characters, more than the " +
                                std::to_string(type.MaxLength()) + " the column holds",
                            row.Line, column);
  }
  return bytes;
}

std::int64_t TSettlementRecordEncoder::CheckedNumber(const TSettlementRow& row, std::size_t col) const {
  const std::u16string& value = row.Values[col];
  const std::string column(kSettlementColumnNames[col]);
  std::int64_t n = 0;
  for (char16_t ch : value) {
    if (ch < u'0' || ch > u'9') {
      throw ESettlementImport(Quoted(value) + " is not a whole number", row.Line, column);
    }
    n = n * 10 + (ch - u'0');
    if (n > std::numeric_limits<std::int32_t>::max()) {
      throw ESettlementImport(Quoted(value) + " is too large for the column (at most 2147483647)", row.Line, column);
    }
  }
  return n;
}

void TSettlementRecordEncoder::Encode(const TSettlementRow& row, std::vector<std::uint8_t>& record) {
  record.assign(static_cast<std::size_t>(FTable.GetRecordSize()), 0);
  // Every check first, so that a refused row leaves nothing in the memo file.
  std::array<std::string, kSettlementColumnCount> texts;
  std::array<std::int64_t, kSettlementColumnCount> numbers{};
  for (std::size_t col = 0; col < kSettlementColumnCount; ++col) {
    const TColumn& c = FColumns[col];
    if (row.Values[col].empty()) {
      if (c.Required) {
        throw ESettlementImport("a value is required", row.Line, std::string(kSettlementColumnNames[col]));
      }
      continue;
    }
    if (c.Kind == ckNumber) {
      numbers[col] = CheckedNumber(row, col);
    } else {
      texts[col] = CheckedText(row, col);
    }
  }
  for (std::size_t col = 0; col < kSettlementColumnCount; ++col) {
    const TColumn& c = FColumns[col];
    const TVdbDataType& type = *c.Def->DataType();
    TVdbDataValue v;
    type.SetReference(v, record, static_cast<std::size_t>(c.Def->Position()));
    if (row.Values[col].empty()) {
      type.SetNull(v);
    } else if (c.Kind == ckNumber) {
      type.SetInteger(v, numbers[col]);
    } else if (c.Kind == ckText) {
      type.SetAnsiString(v, texts[col]);
    } else {
      type.SetInteger(v, FTable.MemoFile()->WriteString(0, texts[col]));
    }
  }
  ++FTotals.Records;
  FTotals.Terulet += numbers[scTerulet];
  FTotals.Nepess += numbers[scNepess];
  FTotals.Lakas += numbers[scLakas];
}

}  // namespace vidora::tools
