#include "sql/VdbResultSet.h"

#include <algorithm>

#include "base/VdbErrorCodes.h"
#include "base/VdbErrors.h"
#include "session/VdbCatalog.h"
#include "types/VdbCommon.h"

namespace vdb {

namespace {

constexpr int kLevel = 6;
// The longest string a computed result column holds.
constexpr std::int32_t kMaxComputedLength = 4000;

bool IsBlobCode(TVdbColumnType t) { return t == vctMemo || t == vctWideMemo || t == vctBlob; }

}  // namespace

TVdbDataValue VdbOwnedValue(const TVdbDataValue& value, const TVdbDataType& type) {
  TVdbDataValue owned;
  if (value.IsEmpty() || type.IsNull(value)) return owned;
  // An owned value is copied as it is: a text of dynamic length does not fit the fixed
  // layout a fresh value of its type starts with.
  if (!value.IsReference()) return value;
  type.InitValue(owned);
  type.Assign(owned, value, type);
  return owned;
}

TVdbNewColumn VdbResultColumnDefinition(std::u16string name, const TVdbDataType& type, bool nullable) {
  TVdbNewColumn c;
  c.Name = std::move(name);
  c.Nullable = nullable;
  const TVdbColumnType code = type.ColumnType();
  switch (code) {
    case vctNull:
      c.ColumnType = vctString;
      c.Length = 1;
      break;
    case vctChar:
    case vctString:
    case vctWideString: {
      const auto& s = static_cast<const TVdbStringType&>(type);
      c.ColumnType = code == vctChar ? vctString : code;
      c.Length = std::clamp<std::int32_t>(s.MaxLength(), 1, kMaxComputedLength);
      c.CollationName = s.CollationName();
      break;
    }
    case vctMemo:
    case vctWideMemo:
      c.ColumnType = code;
      c.CollationName = static_cast<const TVdbStringType&>(type).CollationName();
      break;
    case vctFloat:
      c.ColumnType = vctFloat;
      c.Scale = static_cast<const TVdbFloatType&>(type).Scale();
      break;
    case vctDate:
    case vctTime:
    case vctTimeStamp:
      c.ColumnType = code;
      c.Precision = code == vctTime ? static_cast<const TVdbDateTimeType&>(type).Precision() : 0;
      break;
    case vctEnum: {
      c.ColumnType = vctEnum;
      for (const auto& item : static_cast<const TVdbEnumType&>(type).Items())
        c.EnumNames += (c.EnumNames.empty() ? u"" : u",") + item.Name;
      break;
    }
    case vctFixedBinary:
      c.ColumnType = vctFixedBinary;
      c.Length = static_cast<const TVdbBinaryType&>(type).MaxLength();
      break;
    case vctRecordId:
    case vctLink:
      // An AutoInc or link value is a plain 32-bit number in a result.
      c.ColumnType = vctInteger;
      c.Nullable = true;
      break;
    case vctRelation: throw EVdbEngine(errNotSupported, {u"a relation column in a query result"});
    default: c.ColumnType = code; break;
  }
  return c;
}

void VdbMakeUniqueNames(std::vector<std::u16string>& names) {
  for (std::size_t i = 0; i < names.size(); ++i) {
    auto clashes = [&](const std::u16string& n) {
      for (std::size_t j = 0; j < i; ++j)
        if (VdbSameName(names[j], n)) return true;
      return false;
    };
    if (names[i].size() > kVdbMaxResultNameLength) names[i].resize(kVdbMaxResultNameLength);
    if (!clashes(names[i])) continue;
    for (int k = 1;; ++k) {
      const std::u16string suffix = u"_" + vuIntToStr(k);
      std::u16string base = names[i];
      if (base.size() + suffix.size() > kVdbMaxResultNameLength)
        base.resize(kVdbMaxResultNameLength - 1 - vuIntToStr(k).size());
      const std::u16string candidate = base + suffix;
      if (clashes(candidate)) continue;
      bool later = false;
      for (std::size_t j = i + 1; j < names.size(); ++j) later = later || VdbSameName(names[j], candidate);
      if (later) continue;
      names[i] = candidate;
      break;
    }
  }
}

int VdbCompareValues(const TVdbDataValue& a, const TVdbDataValue& b, const TVdbDataType& type) {
  const bool an = a.IsEmpty() || type.IsNull(a);
  const bool bn = b.IsEmpty() || type.IsNull(b);
  if (an || bn) return an == bn ? 0 : (an ? -1 : 1);
  switch (TVdbDataType::Compare(a, b, type, type, 0, vcmIndex)) {
    case vcrLess: return -1;
    case vcrGreater: return 1;
    default: return 0;
  }
}

int TVdbRowOrder::Compare(const TVdbResultRow& a, const TVdbResultRow& b) const {
  for (const TKey& k : FKeys) {
    const auto c = static_cast<std::size_t>(k.Column);
    const int r = VdbCompareValues(a.Values[c], b.Values[c], *FColumns[c].Type);
    if (r != 0) return k.Descending ? -r : r;
  }
  return 0;
}

void VdbSortRows(std::vector<TVdbResultRow>& rows, const std::vector<TVdbResultColumn>& columns,
                 std::vector<TVdbRowOrder::TKey> keys, bool unique) {
  if (unique) {
    for (int c = 0; c < static_cast<int>(columns.size()); ++c) keys.push_back({c, false});
  }
  if (!keys.empty()) {
    const TVdbRowOrder order(columns, keys);
    std::stable_sort(rows.begin(), rows.end(), order);
  }
  if (!unique) return;
  std::vector<TVdbRowOrder::TKey> all;
  for (int c = 0; c < static_cast<int>(columns.size()); ++c) all.push_back({c, false});
  const TVdbRowOrder same(columns, all);
  auto end = std::unique(rows.begin(), rows.end(),
                         [&](const TVdbResultRow& a, const TVdbResultRow& b) { return same.Compare(a, b) == 0; });
  rows.erase(end, rows.end());
}

// ---------------------------------------------------------------------------------------------
// TVdbResultTable

TVdbResultTable::~TVdbResultTable() { Release(); }

void TVdbResultTable::Create(std::u16string_view baseName, const std::vector<TVdbResultColumn>& columns) {
  Release();
  std::vector<TVdbNewColumn> defs;
  for (const auto& c : columns) defs.push_back(c.Definition);
  const std::int16_t slot = FCatalog.CreateAndOpenTempTable(baseName, defs);
  if (slot < 0) throw EVdbEngine(VDB_INTERNAL_UNWIND);
  FRltnIdx = slot;
  TVdbRelation* r = FCatalog.GetRelation(slot);
  FKeeper = std::make_unique<TVdbAccessor>(*r, u"ResultKeeper");
  FRecord.assign(static_cast<std::size_t>(r->GetRecordSize()), 0);
}

TVdbRelation* TVdbResultTable::Relation() const { return FRltnIdx > 0 ? FCatalog.GetRelation(FRltnIdx) : nullptr; }

void TVdbResultTable::Append(const TVdbResultRow& row, const std::vector<TVdbResultColumn>& columns) {
  TVdbRelation& r = *Relation();
  std::fill(FRecord.begin(), FRecord.end(), std::uint8_t{0});
  const TVdbColumnDefs& cols = r.ColumnDefs();
  TVdbBlobDataList blobs;
  for (int i = 0; i < cols.GetCount(); ++i) {
    const TVdbColumnDef& col = cols.GetColumnDef(i);
    const TVdbDataValue& v = row.Values[static_cast<std::size_t>(i)];
    TVdbDataValue ref;
    col.DataType()->SetReference(ref, FRecord, static_cast<std::size_t>(col.Position()));
    if (IsBlobCode(col.ColumnType())) {
      if (col.Nullable()) col.DataType()->SetNull(ref);
      continue;
    }
    const TVdbDataType& from = *columns[static_cast<std::size_t>(i)].Type;
    if (v.IsEmpty() || from.IsNull(v)) {
      if (col.Nullable()) {
        col.DataType()->SetNull(ref);
      } else {
        col.DataType()->GetDefault(ref);
      }
    } else {
      col.DataType()->Assign(ref, v, from);
    }
  }
  for (const auto& b : row.Blobs) blobs.push_back(b);
  if (r.AppendRecord(FRecord, blobs) < 0) throw EVdbEngine(VDB_INTERNAL_UNWIND);
}

void TVdbResultTable::Release() noexcept {
  if (FRltnIdx <= 0) return;
  FKeeper.reset();
  const TVdbRltnIdx idx = FRltnIdx;
  FRltnIdx = 0;
  // A cursor still reading the result keeps it; the catalog closes it after that cursor.
  if (FCatalog.IsOpen() && FCatalog.GetRelation(idx) != nullptr && !FCatalog.IsInUse(idx))
    static_cast<void>(FCatalog.CloseRelation(idx));
}

}  // namespace vdb
