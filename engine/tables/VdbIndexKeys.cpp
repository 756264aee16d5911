#include "tables/VdbIndexKeys.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <map>
#include <mutex>

#include "base/VdbErrorCodes.h"
#include "base/VdbErrors.h"
#include "base/vuLittleEndian.h"

namespace vdb {

namespace {

const TVdbStringType* AsString(const TVdbDataType& type) {
  if (type.ColumnType() != vctString && type.ColumnType() != vctWideString) return nullptr;
  return static_cast<const TVdbStringType*>(&type);
}

bool IsStringCode(std::uint8_t code) { return code == vctString || code == vctWideString; }

// The text that sorts after every other text under a collation, as a pattern to repeat. The
// search runs once per collation: single characters first, then pairs that begin with one of
// the highest characters, because a contraction ("zs" in Hungarian) may sort after its letters.
class TMaxTexts {
 public:
  static const std::string& Ansi(const TVdbCollation& c) {
    static TMaxTexts cache;
    std::lock_guard<std::mutex> lock(cache.FLock);
    auto it = cache.FAnsi.find(&c);
    if (it != cache.FAnsi.end()) return it->second;
    std::vector<std::string> singles;
    for (int b = 1; b < 256; ++b) singles.emplace_back(1, static_cast<char>(b));
    std::stable_sort(singles.begin(), singles.end(),
                     [&](const std::string& x, const std::string& y) { return c.CompareAnsi(x, y) > 0; });
    std::string best = singles[0] + singles[0];
    for (std::size_t i = 0; i < 8 && i < singles.size(); ++i) {
      for (const auto& second : singles) {
        const std::string pair = singles[i] + second;
        if (c.CompareAnsi(pair, best) > 0) best = pair;
      }
    }
    return cache.FAnsi.emplace(&c, best).first->second;
  }
  static const std::u16string& Wide(const TVdbCollation& c) {
    static TMaxTexts cache;
    std::lock_guard<std::mutex> lock(cache.FLock);
    auto it = cache.FWide.find(&c);
    if (it != cache.FWide.end()) return it->second;
    std::u16string best(1, u'\uFFFF');
    for (char16_t ch = 0x21; ch < 0x300; ++ch) {
      const std::u16string one(1, ch);
      if (c.CompareWide(one, best) > 0) best = one;
    }
    return cache.FWide.emplace(&c, best + best).first->second;
  }

 private:
  std::mutex FLock;
  std::map<const TVdbCollation*, std::string> FAnsi;
  std::map<const TVdbCollation*, std::u16string> FWide;
};

template <class S>
S Repeat(const S& pattern, std::size_t length) {
  S out;
  while (out.size() < length) out += pattern;
  out.resize(length);
  return out;
}

}  // namespace

TVdbKeyDesc VdbKeyDescOf(const TVdbSortDef& def, const TVdbColumnDefs& columns, int level,
                         std::u16string_view indexName) {
  if (def.IsCalculated) RaiseEngineError(errNotSupported, {u"expression indexes"});
  auto inconsistent = [&] { RaiseEngineError(errInconsistentIndexDefinition, {std::u16string(indexName)}); };
  TVdbKeyDesc desc;
  desc.Level = static_cast<std::int16_t>(level);
  desc.VarSize = level >= 6 && def.IsVarSize;
  if (def.Items.empty()) inconsistent();
  for (const TVdbSortItem& item : def.Items) {
    if (item.ColumnNo < 1 || item.ColumnNo > columns.GetCount()) inconsistent();
    const TVdbColumnDef& col = columns.GetColumnDef(item.ColumnNo - 1);
    if (col.ColumnType() != static_cast<TVdbColumnType>(item.ColumnType)) inconsistent();
    TVdbKeyPart part;
    part.Type = col.DataType();
    part.KeyLength = item.KeyLength;
    part.FieldOffset = col.Position();
    part.Descending = item.Descending;
    desc.Parts.push_back(part);
  }
  try {
    desc.Validate();
  } catch (const EVdbEngine&) {
    inconsistent();
  }
  return desc;
}

TVdbIndexDefinition VdbFileDefinitionOf(const TVdbSortDef& def) {
  TVdbIndexDefinition out;
  out.IsUnique = def.IsUnique;
  for (const TVdbSortItem& item : def.Items) {
    out.Parts.push_back({static_cast<std::int16_t>(item.ColumnNo), static_cast<std::int16_t>(item.KeyLength),
                         item.ColumnType, item.Descending});
  }
  out.EntrySize = def.FSize;
  return out;
}

TVdbSortDef VdbSortDefOf(const TVdbIndexDefinition& fileDef, const TVdbColumnDefs& columns, int level,
                         std::u16string_view indexName) {
  if (fileDef.IsCalculated) RaiseEngineError(errNotSupported, {u"expression indexes"});
  TVdbSortDef def{std::u16string(indexName)};
  def.IsUnique = fileDef.IsUnique;
  std::int32_t size = kVdbRecNoSize;
  for (const TVdbIndexPartDef& p : fileDef.Parts) {
    if (p.ColumnNo < 1 || p.ColumnNo > columns.GetCount() || p.KeyLength <= 0) {
      RaiseEngineError(errInconsistentIndexDefinition, {std::u16string(indexName)});
    }
    def.Items.push_back({p.ColumnType, static_cast<std::uint16_t>(p.ColumnNo), static_cast<std::uint16_t>(p.KeyLength),
                         p.Descending});
    if (level >= 6 && IsStringCode(p.ColumnType)) def.IsVarSize = true;
    size += p.KeyLength;
  }
  def.FSize = size;
  def.SetSource(def.CalcSpecification(columns, true, false, 0, false));
  return def;
}

void VdbSetExtremeValue(const TVdbDataType& type, std::span<std::uint8_t> record, std::size_t offset,
                        bool maximum) {
  TVdbDataValue field;
  type.SetReference(field, record, offset);
  if (!maximum && type.Nullable()) {
    type.SetNull(field);
    return;
  }
  if (const TVdbStringType* s = AsString(type)) {
    const auto length = static_cast<std::size_t>(s->MaxLength());
    if (!maximum) {
      type.SetWideString(field, u"");
    } else if (type.ColumnType() == vctString) {
      type.SetAnsiString(field, Repeat(TMaxTexts::Ansi(s->Collation()), length));
    } else {
      type.SetWideString(field, Repeat(TMaxTexts::Wide(s->Collation()), length));
    }
    return;
  }
  if (type.ColumnType() == vctFloat) {
    type.SetDouble(field, maximum ? std::numeric_limits<double>::quiet_NaN()
                                  : -std::numeric_limits<double>::infinity());
    return;
  }
  TVdbDataValue value;
  type.InitValue(value);
  if (maximum) {
    type.GetMaximum(value);
  } else {
    type.GetMinimum(value);
  }
  type.CopyTo(value, record, offset);
}

// ---- TVdbIndexKeys

TVdbIndexKeys::TVdbIndexKeys(TVdbKeyDesc desc, std::u16string indexName, std::int32_t recordSize)
    : FIndexName(std::move(indexName)), FScratch(static_cast<std::size_t>(std::max(recordSize, 0))) {
  for (std::size_t n = 1; n <= desc.Parts.size(); ++n) {
    TVdbKeyDesc prefix = desc;
    prefix.Parts.resize(n);
    FOrders.push_back(std::make_unique<TVdbIndexOrder>(n == desc.Parts.size() ? desc : prefix, FIndexName));
  }
  if (FOrders.empty()) FOrders.push_back(std::make_unique<TVdbIndexOrder>(desc, FIndexName));  // raises 98
}

std::int32_t TVdbIndexKeys::BuildEntry(std::span<const std::uint8_t> record, std::int32_t recNo,
                                       std::vector<std::uint8_t>& entry) const {
  Order().BuildEntry(record, recNo, entry);
  return static_cast<std::int32_t>(entry.size());
}

std::size_t TVdbIndexKeys::PartSize(const TVdbKeyPart& part, const std::uint8_t* p, std::size_t avail) const {
  const TVdbStringType* s = AsString(*part.Type);
  std::size_t size = static_cast<std::size_t>(part.KeyLength);
  if (Desc().VarSize && s != nullptr) {
    size = 0;
    if (s->HasNullByte()) {
      if (avail < 1) RaiseEngineError(errIndexCorrupt, {FIndexName});
      if (p[0] == 0) return 1;
      size = 1;
    }
    const std::uint32_t w = s->SizeByteCount();
    if (avail < size + w) RaiseEngineError(errIndexCorrupt, {FIndexName});
    const std::uint32_t count = w == 1 ? p[size] : w == 2 ? vuGetU16(p + size) : vuGetU32(p + size);
    size += w + std::size_t{count} * (s->ColumnType() == vctWideString ? 2u : 1u);
  }
  if (size > avail) RaiseEngineError(errIndexCorrupt, {FIndexName});
  return size;
}

void TVdbIndexKeys::KeyToRecord(std::span<const std::uint8_t> entry, std::span<std::uint8_t> record) const {
  std::size_t pos = kVdbRecNoSize;
  if (entry.size() < pos) RaiseEngineError(errIndexCorrupt, {FIndexName});
  for (const TVdbKeyPart& part : Desc().Parts) {
    const std::size_t size = PartSize(part, entry.data() + pos, entry.size() - pos);
    const std::size_t fieldSize = part.Type->DataSize();
    const auto offset = static_cast<std::size_t>(part.FieldOffset);
    if (offset > record.size() || record.size() - offset < fieldSize || size > fieldSize) {
      RaiseEngineError(errText, u"Key field lies outside the record");
    }
    std::uint8_t* field = record.data() + offset;
    std::memset(field, 0, fieldSize);
    std::memcpy(field, entry.data() + pos, size);
    // Levels 4 and 5 keep the null byte of a shortened text part in the part's last byte.
    const TVdbStringType* s = AsString(*part.Type);
    if (s != nullptr && s->HasNullByte() && s->NullByteOffset() != 0 && size > 0) {
      field[fieldSize - 1] = entry[pos + size - 1];
    }
    pos += size;
  }
}

void TVdbIndexKeys::Complete(std::vector<std::uint8_t>& entry, int levelCount, bool upper) {
  const int count = ItemCount();
  if (levelCount >= count) return;
  if (levelCount < 0) levelCount = 0;
  const std::int32_t recNo = VdbEntryRecNo(entry);
  std::fill(FScratch.begin(), FScratch.end(), std::uint8_t{0});
  KeyToRecord(entry, FScratch);
  for (int i = levelCount; i < count; ++i) {
    const TVdbKeyPart& part = Desc().Parts[static_cast<std::size_t>(i)];
    VdbSetExtremeValue(*part.Type, FScratch, static_cast<std::size_t>(part.FieldOffset), upper != part.Descending);
  }
  BuildEntry(FScratch, recNo, entry);
}

void TVdbIndexKeys::FromText(const std::vector<std::u16string>& parts, std::int32_t recNo,
                             std::vector<std::uint8_t>& entry) {
  std::fill(FScratch.begin(), FScratch.end(), std::uint8_t{0});
  for (std::size_t i = 0; i < Desc().Parts.size(); ++i) {
    const TVdbKeyPart& part = Desc().Parts[i];
    const auto offset = static_cast<std::size_t>(part.FieldOffset);
    if (i < parts.size()) {
      TVdbDataValue field;
      part.Type->SetReference(field, FScratch, offset);
      part.Type->ConvertFromString(field, parts[i], TvuFormats::Invariant());
    } else {
      const bool maximum = part.Descending ? recNo == kVdbLowerBoundRecNo : recNo == kVdbUpperBoundRecNo;
      VdbSetExtremeValue(*part.Type, FScratch, offset, maximum);
    }
  }
  BuildEntry(FScratch, recNo, entry);
}

int TVdbIndexKeys::LeadingEqualItems(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) const {
  for (std::size_t n = 0; n < FOrders.size(); ++n) {
    if (FOrders[n]->CompareKeys(a, b) != 0) return static_cast<int>(n);
  }
  return static_cast<int>(FOrders.size());
}

bool TVdbIndexKeys::IsSameKey(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) const {
  return Order().CompareKeys(a, b) == 0;
}

bool TVdbIndexKeys::IsSameEntry(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) const {
  return Order().Compare(a, b) == 0;
}

int TVdbIndexKeys::TestRange(std::span<const std::uint8_t> lower, std::span<const std::uint8_t> upper,
                             std::span<const std::uint8_t> test) const {
  auto active = [](std::span<const std::uint8_t> bound) { return VdbEntryRecNo(bound) != 0; };
  if (active(lower) && Order().Compare(test, lower) < 0) return 1;
  if (active(upper) && Order().Compare(test, upper) > 0) return 1;
  return 0;
}

}  // namespace vdb
