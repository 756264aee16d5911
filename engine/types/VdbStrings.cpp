// String types (8-bit and wide, bounded, unbounded and memo): stored forms, collation
// comparison, concatenation, case mapping and LIKE matching.
//
// Layouts:
//   bounded field (record or owned): [null byte?][count: SizeByteCount bytes][MaxLength chars][null byte?]
//   owned unbounded or memo value:   [present byte][count: 4 bytes][count chars]
//   memo field in a record:          [block reference: 4 bytes], 0 = null
// Wide characters are stored as UTF-16LE.
#include <algorithm>

#include "base/VdbErrorCodes.h"
#include "base/VdbErrors.h"
#include "types/VdbData.h"
#include "types/VdbDataInternal.h"
#include "types/vuCodePage.h"

namespace vdb {

using namespace detail;

namespace {

constexpr std::size_t kDynamicHeader = 5;

std::u16string WideFromLE(std::span<const std::uint8_t> bytes) {
  std::u16string s(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < s.size(); ++i)
    s[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  return s;
}

std::vector<std::uint8_t> WideToLE(std::u16string_view s) {
  std::vector<std::uint8_t> bytes(s.size() * 2);
  for (std::size_t i = 0; i < s.size(); ++i) {
    bytes[2 * i] = static_cast<std::uint8_t>(s[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<std::uint8_t>(s[i] >> 8);
  }
  return bytes;
}

// Pattern elements of LIKE.
enum class TPatternKind { pkMulti, pkSingle, pkLiteral };

template <class Ch>
struct TPatternItem {
  TPatternKind Kind;
  std::basic_string<Ch> Text;
};

template <class Ch>
std::vector<TPatternItem<Ch>> ParsePattern(std::basic_string_view<Ch> pattern, Ch multi, Ch single, Ch escape,
                                           bool hasEscape) {
  std::vector<TPatternItem<Ch>> items;
  auto literal = [&items](Ch c) {
    if (items.empty() || items.back().Kind != TPatternKind::pkLiteral) items.push_back({TPatternKind::pkLiteral, {}});
    items.back().Text += c;
  };
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const Ch c = pattern[i];
    if (hasEscape && c == escape) {
      // The next character is literal; a trailing escape stands for itself.
      literal(i + 1 < pattern.size() ? pattern[++i] : c);
    } else if (c == multi) {
      if (items.empty() || items.back().Kind != TPatternKind::pkMulti) items.push_back({TPatternKind::pkMulti, {}});
    } else if (c == single) {
      items.push_back({TPatternKind::pkSingle, {}});
    } else {
      literal(c);
    }
  }
  return items;
}

// Matches AValue against the pattern items. Every item other than the multi joker consumes a
// fixed number of characters, so remembering only the last multi joker is enough to try every
// split (no exponential backtracking).
template <class Ch, class Equal>
bool MatchItems(std::basic_string_view<Ch> value, const std::vector<TPatternItem<Ch>>& items, Equal equal) {
  std::size_t item = 0, pos = 0;
  std::size_t starItem = SIZE_MAX, starPos = 0;
  while (item < items.size() || pos < value.size()) {
    if (item < items.size()) {
      const auto& it = items[item];
      if (it.Kind == TPatternKind::pkMulti) {
        starItem = item++;
        starPos = pos;
        continue;
      }
      if (it.Kind == TPatternKind::pkSingle && pos < value.size()) {
        ++pos;
        ++item;
        continue;
      }
      if (it.Kind == TPatternKind::pkLiteral && value.size() - pos >= it.Text.size() &&
          equal(value.substr(pos, it.Text.size()), std::basic_string_view<Ch>(it.Text))) {
        pos += it.Text.size();
        ++item;
        continue;
      }
    }
    if (starItem != SIZE_MAX && starPos < value.size()) {
      pos = ++starPos;
      item = starItem + 1;
      continue;
    }
    return false;
  }
  return true;
}

}  // namespace

// ---- TVdbStringType

std::uint32_t TVdbStringType::SizeByteCount() const noexcept {
  if (IsUnbounded()) return 4;
  if (ColumnType() == vctWideString) return FMaxLength > 65535 ? 4 : 2;
  return FMaxLength < 256 ? 1 : FMaxLength <= 65535 ? 2 : 4;
}

std::u16string TVdbStringType::ParamKey() const {
  std::u16string name = FCollation->Name();
  for (auto& c : name)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
  return vuIntToStr(FMaxLength) + u"|" + name;
}

bool TVdbStringType::HasNullByte() const noexcept { return !IsMemo() && Nullable(); }

// Owned memo and unbounded values carry the dynamic header. Code below asks for that kind
// directly: a fixed field (such as a 4-character text without null byte) can be exactly as
// wide as the header.
std::size_t TVdbStringType::OwnedSize() const { return (IsMemo() || IsUnbounded()) ? kDynamicHeader : DataSize(); }

bool TVdbStringType::HoldsText(const TVdbDataValue& value) const { return !(IsMemo() && value.IsReference()); }

bool TVdbStringType::IsNull(const TVdbDataValue& value) const {
  if (value.IsEmpty()) return true;
  if (value.Code() != ColumnType()) Mismatch();
  if (IsMemo() && value.IsReference()) {
    CheckField(value, 4);
    return LoadLE<std::uint32_t>(value.Field()) == 0;
  }
  if (IsMemo() || IsUnbounded()) {
    if (value.IsReference()) Mismatch();
    CheckField(value, kDynamicHeader);
    return value.Field()[0] == 0;
  }
  return NullByteIsZero(value);
}

void TVdbStringType::SetNull(TVdbDataValue& value) const {
  if (!Nullable()) throw EVdbEngine(errNullNotAllowed, {DisplayName()});
  if (IsMemo() && value.IsReference()) {
    CheckField(value, 4);
    StoreLE<std::uint32_t>(value.Field(), 0);
  } else if (IsMemo() || IsUnbounded()) {
    if (value.IsReference()) Mismatch();
    OwnValue(value, ColumnType(), kDynamicHeader);
  } else {
    TVdbDataType::SetNull(value);
  }
}

void TVdbStringType::SetInteger(TVdbDataValue& value, std::int64_t v) const {
  if (!IsMemo() || !value.IsReference()) Mismatch();
  CheckField(value, 4);
  if (v < 0 || v > UINT32_MAX) RaiseRange(vuIntToStr(v), u"Memo reference", u"0", vuIntToStr(UINT32_MAX));
  StoreLE<std::uint32_t>(value.Field(), static_cast<std::uint32_t>(v));
}

std::int64_t TVdbStringType::GetInteger(const TVdbDataValue& value) const {
  if (!IsMemo() || !value.IsReference()) Mismatch();
  CheckField(value, 4);
  return LoadLE<std::uint32_t>(value.Field());
}

std::uint32_t TVdbStringType::StoredCount(const TVdbDataValue& value) const {
  const auto field = value.Field();
  if (IsMemo() || IsUnbounded()) {
    CheckField(value, kDynamicHeader);
    const std::uint32_t count = LoadLE<std::uint32_t>(field, 1);
    if (count > (field.size() - kDynamicHeader) / CharSize()) RaiseText(u"Stored text length exceeds the value");
    return count;
  }
  const auto data = ReadableData(value);
  std::uint32_t count = 0;
  switch (SizeByteCount()) {
    case 1: count = data[0]; break;
    case 2: count = LoadLE<std::uint16_t>(data); break;
    default: count = LoadLE<std::uint32_t>(data); break;
  }
  // A count beyond the field means a damaged record: never read past the field.
  if (count > static_cast<std::uint32_t>(FMaxLength))
    RaiseText(u"Stored length " + vuIntToStr(count) + u" exceeds the field's maximum length " + vuIntToStr(FMaxLength));
  return count;
}

std::span<const std::uint8_t> TVdbStringType::StoredChars(const TVdbDataValue& value) const {
  if (!HoldsText(value)) Mismatch();
  if (IsNull(value)) return {};
  const std::uint32_t count = StoredCount(value);
  if (IsMemo() || IsUnbounded()) return value.Field().subspan(kDynamicHeader, count * CharSize());
  return ReadableData(value).subspan(SizeByteCount(), count * CharSize());
}

void TVdbStringType::StoreChars(TVdbDataValue& value, const std::uint8_t* chars, std::uint32_t count) const {
  if (!HoldsText(value)) Mismatch();
  // Text taken from the value itself (a view of its own bytes) must survive re-owning it.
  const std::size_t bytes = static_cast<std::size_t>(count) * CharSize();
  const auto field = value.Field();
  if (!field.empty() && chars < field.data() + field.size() && field.data() < chars + bytes) {
    const std::vector<std::uint8_t> copy(chars, chars + bytes);
    StoreChars(value, copy.data(), count);
    return;
  }
  if (IsMemo() || IsUnbounded()) {
    if (value.IsReference()) Mismatch();
    OwnValue(value, ColumnType(), kDynamicHeader + static_cast<std::size_t>(count) * CharSize());
    auto field = value.Field();
    field[0] = 1;
    StoreLE<std::uint32_t>(field, count, 1);
    std::copy(chars, chars + static_cast<std::size_t>(count) * CharSize(), field.begin() + kDynamicHeader);
    return;
  }
  auto data = WritableData(value);
  switch (SizeByteCount()) {
    case 1: data[0] = static_cast<std::uint8_t>(count); break;
    case 2: StoreLE<std::uint16_t>(data, static_cast<std::uint16_t>(count)); break;
    default: StoreLE<std::uint32_t>(data, count); break;
  }
  std::copy(chars, chars + static_cast<std::size_t>(count) * CharSize(), data.begin() + SizeByteCount());
  MarkPresent(value);
}

std::size_t TVdbStringType::GetSize(const TVdbDataValue& value) const {
  if (!HoldsText(value)) {
    CheckField(value, 4);
    return 4;
  }
  return StoredChars(value).size();
}

bool TVdbStringType::CanCompareTo(const TVdbDataType& other) const {
  return other.IsString() || other.ColumnType() == vctChar || other.ColumnType() == vctNull;
}

int TVdbStringType::CompareTo(const TVdbDataValue& value, const TVdbDataValue& other, const TVdbDataType& otherType,
                              TStrCmpOptions options, TVdbCompareMode mode) const {
  const int n = NullCompare(IsNull(value), otherType.IsNull(other), mode);
  if (n >= 0) return n;
  // Under the left operand's collation; 8-bit texts of one code page compare as they are.
  const bool bothAnsi = CharSize() == 1 && (otherType.ColumnType() == vctString || otherType.ColumnType() == vctMemo);
  if (bothAnsi && static_cast<const TVdbStringType&>(otherType).CodePage() == CodePage()) {
    const auto& ansi = static_cast<const TVdbAnsiStringType&>(*this);
    const auto& otherAnsi = static_cast<const TVdbAnsiStringType&>(otherType);
    return ToCompareResult(FCollation->CompareAnsi(ansi.GetAnsiView(value), otherAnsi.GetAnsiView(other), options));
  }
  return ToCompareResult(FCollation->CompareWide(GetWideString(value), otherType.GetWideString(other), options));
}

bool TVdbStringType::CanConvertFrom(const TVdbDataType& from, bool explicitly) const {
  if (from.ColumnType() == vctNull || from.IsString() || from.ColumnType() == vctChar) return true;
  return explicitly && from.ColumnType() != vctRelation;
}

void TVdbStringType::ConvertFrom(TVdbDataValue& value, const TVdbDataValue& from, const TVdbDataType& fromType,
                                 bool) const {
  if (fromType.IsNull(from)) {
    SetNullOrDefault(value);
  } else if (CharSize() == 1 && (fromType.ColumnType() == vctString || fromType.ColumnType() == vctMemo) &&
             static_cast<const TVdbStringType&>(fromType).CodePage() == CodePage()) {
    SetAnsiString(value, fromType.GetAnsiString(from));
  } else if (fromType.IsString() || fromType.ColumnType() == vctChar) {
    SetWideString(value, fromType.GetWideString(from));
  } else {
    SetWideString(value, fromType.ConvertToString(from, TvuFormats::Invariant()));
  }
}

bool TVdbStringType::Matches(const TVdbDataValue& value, const TVdbDataValue& pattern,
                             const TVdbDataType& patternType, char16_t multiJoker, char16_t singleJoker,
                             char16_t escape) const {
  if (IsNull(value) || patternType.IsNull(pattern)) return false;
  // Literal runs compare under the collation with ligatures kept whole, so lengths line up.
  const TStrCmpOptions options = scoLigatureSensitive;
  const bool hasEscape = escape != 0;
  if (CharSize() == 1 && CodePage() == VDB_BUILTIN_CODE_PAGE && FCollation->IsBuiltIn()) {
    // The built-in collation folds code points of its 8-bit code page: match the bytes.
    const std::string text = GetAnsiString(value);
    const std::string pat = TvuCodePage::FromUnicode(CodePage(), patternType.GetWideString(pattern));
    auto toByte = [this](char16_t c) {
      const std::string b = TvuCodePage::FromUnicode(CodePage(), std::u16string_view(&c, 1));
      return b.empty() ? '\0' : b[0];
    };
    const auto items = ParsePattern<char>(pat, toByte(multiJoker), toByte(singleJoker), toByte(escape), hasEscape);
    return MatchItems<char>(text, items, [&](std::string_view a, std::string_view b) {
      return FCollation->CompareAnsi(a, b, options) == 0;
    });
  }
  const std::u16string text = GetWideString(value);
  const std::u16string pat = patternType.GetWideString(pattern);
  const auto items = ParsePattern<char16_t>(pat, multiJoker, singleJoker, escape, hasEscape);
  return MatchItems<char16_t>(text, items, [&](std::u16string_view a, std::u16string_view b) {
    return FCollation->CompareWide(a, b, options) == 0;
  });
}

const TVdbDataType* TVdbStringType::GetResultDataType(TVdbDataUnaryOperator op) const {
  if (op == duoStringUpper || op == duoStringLower) return this;
  return nullptr;
}

const TVdbDataType* TVdbStringType::GetResultDataTypeWith(TVdbDataBinaryOperator op, const TVdbDataType& type1,
                                                          const TVdbDataType& type2) const {
  if (const TVdbDataType* t = TVdbDataType::GetResultDataTypeWith(op, type1, type2)) return t;
  if (op != dboPlus || !type1.IsString() || !type2.IsString()) return nullptr;
  const auto& s1 = static_cast<const TVdbStringType&>(type1);
  const auto& s2 = static_cast<const TVdbStringType&>(type2);
  const bool nullable = s1.Nullable() || s2.Nullable();
  const bool wide = s1.CharSize() == 2 || s2.CharSize() == 2;
  const std::u16string& collation = s1.CollationName();
  if (wide) {
    if (s1.ColumnType() == vctWideMemo || s2.ColumnType() == vctWideMemo)
      return GetStringType(vctWideMemo, nullable, VDB_UNBOUNDED_LENGTH, collation, 0);
  } else if (s1.IsMemo() || s2.IsMemo()) {
    return GetStringType(vctMemo, nullable, VDB_UNBOUNDED_LENGTH, collation, 0);
  }
  const TVdbColumnType code = wide ? vctWideString : vctString;
  // A computed text without bound keeps none (capping it would cut the text).
  if (s1.IsUnbounded() || s2.IsUnbounded()) return GetStringType(code, nullable, VDB_UNBOUNDED_LENGTH, collation, 0);
  const std::int32_t limit = wide ? VDB_MAX_WIDE_LENGTH : VDB_MAX_ANSI_LENGTH;
  const std::int64_t sum = static_cast<std::int64_t>(s1.MaxLength()) + s2.MaxLength();
  return GetStringType(code, nullable, static_cast<std::int32_t>(std::min<std::int64_t>(sum, limit)), collation, 0);
}

void TVdbStringType::CalculateWith(TVdbDataBinaryOperator op, const TVdbDataValue& value1,
                                   const TVdbDataValue& value2, TVdbDataValue& result, const TVdbDataType& type1,
                                   const TVdbDataType& type2, const TVdbDataType& resultType) const {
  if (op != dboPlus) RaiseText(u"Cannot perform this operation on these data types.");
  const auto& r = static_cast<const TVdbStringType&>(resultType);
  const auto& s1 = static_cast<const TVdbStringType&>(type1);
  const auto& s2 = static_cast<const TVdbStringType&>(type2);
  if (r.CharSize() == 1 && s1.CharSize() == 1 && s2.CharSize() == 1 && s1.CodePage() == r.CodePage() &&
      s2.CodePage() == r.CodePage()) {
    resultType.SetAnsiString(result, type1.GetAnsiString(value1) + type2.GetAnsiString(value2));
  } else {
    resultType.SetWideString(result, type1.GetWideString(value1) + type2.GetWideString(value2));
  }
}

void TVdbStringType::CalculateWith(TVdbDataUnaryOperator op, const TVdbDataValue& value, TVdbDataValue& result,
                                   const TVdbDataType& resultType) const {
  if (op == duoStringUpper) resultType.SetWideString(result, FCollation->ToUpper(GetWideString(value)));
  else if (op == duoStringLower) resultType.SetWideString(result, FCollation->ToLower(GetWideString(value)));
  else RaiseText(u"Cannot perform this operation on these data types.");
}

// ---- TVdbAnsiStringType

std::uint32_t TVdbAnsiStringType::DataWidth() const noexcept {
  if (IsMemo()) return 4;
  if (IsUnbounded()) return 4;
  return SizeByteCount() + static_cast<std::uint32_t>(MaxLength());
}

std::u16string TVdbAnsiStringType::SqlName() const {
  if (IsMemo()) return u"LONGVARCHAR";
  std::u16string name = u"VARCHAR(" + vuIntToStr(MaxLength()) + u")";
  if (!CollationName().empty()) name += u" COLLATE " + CollationName();
  return name;
}

void TVdbAnsiStringType::SetAnsiString(TVdbDataValue& value, std::string_view bytes) const {
  const std::size_t n = std::min<std::size_t>(bytes.size(), static_cast<std::size_t>(MaxLength()));
  if (n > 0x7FFFFFF0u) RaiseText(u"Text too long");
  StoreChars(value, reinterpret_cast<const std::uint8_t*>(bytes.data()), static_cast<std::uint32_t>(n));
}

std::string TVdbAnsiStringType::GetAnsiString(const TVdbDataValue& value) const {
  return std::string(GetAnsiView(value));
}

std::string_view TVdbAnsiStringType::GetAnsiView(const TVdbDataValue& value) const {
  const auto chars = StoredChars(value);
  return {reinterpret_cast<const char*>(chars.data()), chars.size()};
}

void TVdbAnsiStringType::SetWideString(TVdbDataValue& value, std::u16string_view text) const {
  SetAnsiString(value, TvuCodePage::FromUnicode(CodePage(), text));
}

std::u16string TVdbAnsiStringType::GetWideString(const TVdbDataValue& value) const {
  return TvuCodePage::ToUnicode(CodePage(), GetAnsiString(value));
}

std::int32_t TVdbAnsiStringType::GetLength(const TVdbDataValue& value) const {
  return static_cast<std::int32_t>(StoredChars(value).size());
}

// ---- TVdbWideStringType

std::uint32_t TVdbWideStringType::DataWidth() const noexcept {
  if (IsMemo()) return 4;
  if (IsUnbounded()) return 4;
  return SizeByteCount() + 2 * static_cast<std::uint32_t>(MaxLength());
}

std::u16string TVdbWideStringType::SqlName() const {
  if (IsMemo()) return u"LONGVARWCHAR";
  return u"VARWCHAR(" + vuIntToStr(MaxLength()) + u")";
}

void TVdbWideStringType::SetAnsiString(TVdbDataValue& value, std::string_view bytes) const {
  SetWideString(value, TvuCodePage::ToUnicode(CodePage(), bytes));
}

std::string TVdbWideStringType::GetAnsiString(const TVdbDataValue& value) const {
  return TvuCodePage::FromUnicode(CodePage(), GetWideString(value));
}

void TVdbWideStringType::SetWideString(TVdbDataValue& value, std::u16string_view text) const {
  std::size_t n = std::min<std::size_t>(text.size(), static_cast<std::size_t>(MaxLength()));
  // Never keep half of a surrogate pair.
  if (n < text.size() && n > 0 && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) --n;
  if (n > 0x3FFFFFF0u) RaiseText(u"Text too long");
  const auto bytes = WideToLE(text.substr(0, n));
  StoreChars(value, bytes.data(), static_cast<std::uint32_t>(n));
}

std::u16string TVdbWideStringType::GetWideString(const TVdbDataValue& value) const {
  return WideFromLE(StoredChars(value));
}

std::int32_t TVdbWideStringType::GetLength(const TVdbDataValue& value) const {
  return static_cast<std::int32_t>(StoredChars(value).size() / 2);
}

}  // namespace vdb
