#include "storage/VdbTreeBase.h"

#include <algorithm>
#include <cstring>

#include "base/VdbErrorCodes.h"
#include "base/vuLittleEndian.h"

namespace vdb {

namespace {

const TVdbStringType* AsString(const TVdbDataType* type) {
  if (type == nullptr) return nullptr;
  if (type->ColumnType() != vctString && type->ColumnType() != vctWideString) return nullptr;
  return static_cast<const TVdbStringType*>(type);
}

std::uint32_t CharSize(const TVdbStringType& t) { return t.ColumnType() == vctWideString ? 2u : 1u; }

std::uint32_t ReadPrefix(const std::uint8_t* p, std::uint32_t width) {
  if (width == 1) return p[0];
  if (width == 2) return vuGetU16(p);
  return vuGetU32(p);
}

void WritePrefix(std::uint8_t* p, std::uint32_t width, std::uint32_t value) {
  if (width == 1) {
    p[0] = static_cast<std::uint8_t>(value);
  } else if (width == 2) {
    vuPutU16(p, static_cast<std::uint16_t>(value));
  } else {
    vuPutU32(p, value);
  }
}

bool NullFirst(const TVdbDataType& t) { return t.HasNullByte() && t.NullByteOffset() == 0; }

// A decoded string part: null, or the stored characters.
struct TStringPart {
  bool Null = false;
  const std::uint8_t* Chars = nullptr;
  std::uint32_t Count = 0;  // characters
};

}  // namespace

std::int32_t TVdbKeyDesc::KeySize() const noexcept {
  std::int32_t size = 0;
  for (const auto& p : Parts) size += p.KeyLength;
  return size;
}

bool TVdbKeyDesc::HasStringPart() const noexcept {
  return std::any_of(Parts.begin(), Parts.end(), [](const TVdbKeyPart& p) { return AsString(p.Type); });
}

void TVdbKeyDesc::Validate() const {
  auto bad = [](std::u16string text) { RaiseEngineError(errInvalidIndexSpec, {std::move(text)}); };
  if (Parts.empty()) bad(u"no key parts");
  if (VarSize && Level < 6) bad(u"variable-size keys below level 6");
  for (const auto& p : Parts) {
    if (p.Type == nullptr) bad(u"key part without type");
    const auto size = static_cast<std::int32_t>(p.Type->DataSize());
    if (const TVdbStringType* s = AsString(p.Type)) {
      const auto minimum =
          static_cast<std::int32_t>(s->SizeByteCount() + (s->HasNullByte() ? 1u : 0u));
      if (p.KeyLength > size || p.KeyLength < minimum) bad(u"string key length");
    } else if (p.KeyLength != size || size == 0 || p.Type->ColumnType() == vctMemo ||
               p.Type->ColumnType() == vctWideMemo || p.Type->ColumnType() == vctBlob) {
      bad(u"key length of " + p.Type->SqlName());
    }
    if (p.FieldOffset < 0) bad(u"field offset");
  }
}

std::int32_t VdbEntryRecNo(TVdbBytes entry) noexcept {
  return entry.size() < 4 ? 0 : static_cast<std::int32_t>(vuGetU32(entry.data()));
}

void VdbSetEntryRecNo(std::span<std::uint8_t> entry, std::int32_t recNo) noexcept {
  if (entry.size() >= 4) vuPutU32(entry.data(), static_cast<std::uint32_t>(recNo));
}

// ---- TVdbIndexOrder

TVdbIndexOrder::TVdbIndexOrder(TVdbKeyDesc desc, std::u16string indexName)
    : FDesc(std::move(desc)), FIndexName(std::move(indexName)) {
  FDesc.Validate();
}

void TVdbIndexOrder::Corrupt() const { RaiseEngineError(errIndexCorrupt, {FIndexName}); }

std::size_t TVdbIndexOrder::PartSize(const TVdbKeyPart& part, const std::uint8_t* p,
                                     std::size_t avail) const {
  const TVdbStringType* s = AsString(part.Type);
  if (!FDesc.VarSize || s == nullptr) {
    if (avail < static_cast<std::size_t>(part.KeyLength)) Corrupt();
    return static_cast<std::size_t>(part.KeyLength);
  }
  std::size_t size = 0;
  if (s->HasNullByte()) {
    if (avail < 1) Corrupt();
    if (p[0] == 0) return 1;
    size = 1;
  }
  const std::uint32_t w = s->SizeByteCount();
  if (avail < size + w) Corrupt();
  const std::uint32_t count = ReadPrefix(p + size, w);
  if (count > static_cast<std::uint32_t>(s->MaxLength())) Corrupt();
  size += w + std::size_t{count} * CharSize(*s);
  if (size > avail || size > static_cast<std::size_t>(part.KeyLength)) Corrupt();
  return size;
}

std::size_t TVdbIndexOrder::UsedEntrySize(TVdbBytes entry) const {
  if (entry.size() < static_cast<std::size_t>(kVdbRecNoSize)) Corrupt();
  std::size_t pos = kVdbRecNoSize;
  for (const auto& part : FDesc.Parts) pos += PartSize(part, entry.data() + pos, entry.size() - pos);
  return pos;
}

int TVdbIndexOrder::ComparePart(const TVdbKeyPart& part, const std::uint8_t* a, std::size_t aSize,
                                const std::uint8_t* b, std::size_t bSize) const {
  if (const TVdbStringType* s = AsString(part.Type)) {
    const bool hasNull = s->HasNullByte();
    const bool nullFirst = FDesc.VarSize || NullFirst(*s);
    const std::uint32_t w = s->SizeByteCount();
    const std::uint32_t cs = CharSize(*s);
    auto decode = [&](const std::uint8_t* p, std::size_t size) {
      TStringPart r;
      const std::uint8_t* data = p;
      std::size_t avail = size;
      if (hasNull) {
        const std::uint8_t nullByte = nullFirst ? p[0] : p[size - 1];
        r.Null = nullByte == 0;
        if (nullFirst) ++data;
        --avail;
        if (r.Null) return r;
      }
      if (avail < w) Corrupt();
      // A count beyond the part is lowered to what fits: a truncated part keeps the prefix of
      // the whole field.
      const auto fits = static_cast<std::uint32_t>((avail - w) / cs);
      r.Count = std::min(ReadPrefix(data, w), fits);
      r.Chars = data + w;
      return r;
    };
    const TStringPart x = decode(a, aSize);
    const TStringPart y = decode(b, bSize);
    if (x.Null || y.Null) return (x.Null ? 0 : 1) - (y.Null ? 0 : 1);
    if (cs == 1) {
      return s->Collation().CompareAnsi(
          std::string_view(reinterpret_cast<const char*>(x.Chars), x.Count),
          std::string_view(reinterpret_cast<const char*>(y.Chars), y.Count));
    }
    std::u16string wx(x.Count, u'\0'), wy(y.Count, u'\0');
    for (std::uint32_t i = 0; i < x.Count; ++i) wx[i] = static_cast<char16_t>(vuGetU16(x.Chars + 2 * i));
    for (std::uint32_t i = 0; i < y.Count; ++i) wy[i] = static_cast<char16_t>(vuGetU16(y.Chars + 2 * i));
    return s->Collation().CompareWide(wx, wy);
  }
  if (part.Type->IsInteger()) {
    // Integers are most keys; reading them directly is the same order as the type's and
    // spares a value per side. A null (null byte 0) sorts first; fields without a null byte
    // use 0 as null, which sorts first among their non-negative values anyway.
    const TVdbDataType& t = *part.Type;
    if (t.HasNullByte()) {
      const bool an = a[t.NullByteOffset()] == 0, bn = b[t.NullByteOffset()] == 0;
      if (an || bn) return (an ? 0 : 1) - (bn ? 0 : 1);
    }
    const std::uint32_t off = t.DataOffset();
    const std::size_t width = aSize - (t.HasNullByte() ? 1 : 0);
    auto read = [&](const std::uint8_t* p) -> std::int64_t {
      switch (width) {
        case 1: return t.ColumnType() == vctByte || t.ColumnType() == vctBoolean ? p[off] : static_cast<std::int8_t>(p[off]);
        case 2: return static_cast<std::int16_t>(vuGetU16(p + off));
        case 4: return static_cast<std::int32_t>(vuGetU32(p + off));
        default: return static_cast<std::int64_t>(vuGetU64(p + off));
      }
    };
    const std::int64_t x = read(a), y = read(b);
    return x < y ? -1 : x > y ? 1 : 0;
  }
  // The type reads the bytes through a reference; it never writes through it.
  TVdbDataValue va, vb;
  part.Type->SetReference(va, std::span<std::uint8_t>(const_cast<std::uint8_t*>(a), aSize), 0);
  part.Type->SetReference(vb, std::span<std::uint8_t>(const_cast<std::uint8_t*>(b), bSize), 0);
  const int r = TVdbDataType::Compare(va, vb, *part.Type, *part.Type, 0, vcmIndex);
  return r == vcrLess ? -1 : r == vcrGreater ? 1 : 0;
}

int TVdbIndexOrder::CompareKeys(TVdbBytes a, TVdbBytes b) const {
  if (a.size() < static_cast<std::size_t>(kVdbRecNoSize) ||
      b.size() < static_cast<std::size_t>(kVdbRecNoSize)) {
    Corrupt();
  }
  std::size_t pa = kVdbRecNoSize, pb = kVdbRecNoSize;
  for (const auto& part : FDesc.Parts) {
    const std::size_t sa = PartSize(part, a.data() + pa, a.size() - pa);
    const std::size_t sb = PartSize(part, b.data() + pb, b.size() - pb);
    int r = ComparePart(part, a.data() + pa, sa, b.data() + pb, sb);
    if (r != 0) {
      r = r < 0 ? -1 : 1;
      return part.Descending ? -r : r;
    }
    pa += sa;
    pb += sb;
  }
  return 0;
}

int TVdbIndexOrder::Compare(TVdbBytes a, TVdbBytes b) const {
  const int r = CompareKeys(a, b);
  if (r != 0) return r;
  const std::int32_t ra = VdbEntryRecNo(a), rb = VdbEntryRecNo(b);
  return ra < rb ? -1 : ra > rb ? 1 : 0;
}

void TVdbIndexOrder::BuildEntry(std::span<const std::uint8_t> record, std::int32_t recNo,
                                std::vector<std::uint8_t>& entry) const {
  entry.assign(static_cast<std::size_t>(FDesc.EntrySize()), 0);
  vuPutU32(entry.data(), static_cast<std::uint32_t>(recNo));
  std::size_t pos = kVdbRecNoSize;
  for (const auto& part : FDesc.Parts) {
    const std::size_t fieldSize = part.Type->DataSize();
    const auto offset = static_cast<std::size_t>(part.FieldOffset);
    if (offset > record.size() || record.size() - offset < fieldSize) {
      RaiseEngineError(errText, u"Key field lies outside the record");
    }
    const std::uint8_t* field = record.data() + offset;
    const TVdbStringType* s = AsString(part.Type);
    if (s == nullptr) {
      std::memcpy(entry.data() + pos, field, fieldSize);
      pos += fieldSize;
      continue;
    }
    const std::uint32_t nb = s->HasNullByte() ? 1 : 0;
    const std::uint32_t w = s->SizeByteCount();
    const std::uint32_t cs = CharSize(*s);
    const bool nullFirst = NullFirst(*s);
    const std::uint8_t* data = field + (nullFirst ? nb : 0);
    const std::uint32_t stored =
        std::min(ReadPrefix(data, w), static_cast<std::uint32_t>(s->MaxLength()));
    std::uint8_t* out = entry.data() + pos;
    if (FDesc.VarSize) {
      std::size_t n = 0;
      if (nb != 0) {
        out[n++] = field[0];
        if (field[0] == 0) {
          pos += n;
          continue;
        }
      }
      WritePrefix(out + n, w, stored);
      std::memcpy(out + n + w, data + w, std::size_t{stored} * cs);
      pos += n + w + std::size_t{stored} * cs;
      continue;
    }
    const auto length = static_cast<std::size_t>(part.KeyLength);
    std::memcpy(out, field, length);
    const auto fits = static_cast<std::uint32_t>((length - nb - w) / cs);
    WritePrefix(out + (nullFirst ? nb : 0), w, std::min(stored, fits));
    if (nb != 0 && !nullFirst) out[length - 1] = field[fieldSize - 1];
    pos += length;
  }
  entry.resize(pos);
}

// ---- TVdbEntrySorter

void TVdbEntrySorter::Add(TVdbBytes entry) {
  FOffsets.push_back(FArena.size());
  FArena.insert(FArena.end(), entry.begin(), entry.end());
  FEnds.push_back(FArena.size());
}

TVdbBytes TVdbEntrySorter::Entry(std::size_t index) const {
  const std::uint64_t start = FOffsets[index];
  return TVdbBytes(FArena.data() + start, static_cast<std::size_t>(FEnds[index] - start));
}

void TVdbEntrySorter::Sort(std::u16string_view indexName) {
  std::vector<std::size_t> order(FOffsets.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  auto bytes = [&](std::size_t i) {
    return TVdbBytes(FArena.data() + FOffsets[i], static_cast<std::size_t>(FEnds[i] - FOffsets[i]));
  };
  std::sort(order.begin(), order.end(),
            [&](std::size_t x, std::size_t y) { return FOrder.Compare(bytes(x), bytes(y)) < 0; });
  std::vector<std::uint64_t> starts(order.size()), ends(order.size());
  for (std::size_t i = 0; i < order.size(); ++i) {
    starts[i] = FOffsets[order[i]];
    ends[i] = FEnds[order[i]];
  }
  FOffsets.swap(starts);
  FEnds.swap(ends);
  for (std::size_t i = 1; i < FOffsets.size(); ++i) {
    if (FOrder.Compare(Entry(i - 1), Entry(i)) == 0) {
      RaiseEngineError(errIndexInsert, {std::u16string(indexName)});
    }
  }
}

// ---- TVdbTreeBase

TVdbTreeBase::TVdbTreeBase(TVdbClientStorage& storage, const IVdbEntryOrder& order,
                           std::int32_t offset, std::int16_t version)
    : FStorage(storage), FOrder(order), FOffset(offset), FVersion(version) {}

void TVdbTreeBase::RequireOpen() const {
  if (!FOpen) RaiseEngineError(errIndexRead, {FStorage.Name()});
}

void TVdbTreeBase::Corrupt(std::u16string_view) const {
  RaiseEngineError(errIndexCorrupt, {FStorage.Name()});
}

void TVdbTreeBase::ReadPageBuf(std::int64_t pageNo, std::vector<std::uint8_t>& buf) {
  Guarded([&] {
    if (!FSite) FSite = FStorage.CreatePageSite();
    buf.resize(static_cast<std::size_t>(FPageSize));
    FSite->LoadPage(pageNo);
    FSite->Read(0, buf.data(), FPageSize);
  });
}

void TVdbTreeBase::WritePageBuf(std::int64_t pageNo, const std::vector<std::uint8_t>& buf,
                                bool fresh) {
  Guarded([&] {
    if (!FSite) FSite = FStorage.CreatePageSite();
    if (fresh) {
      FSite->InitPage(pageNo);
    } else {
      FSite->LoadPage(pageNo);
    }
    FSite->Write(0, buf.data(), FPageSize);
  });
}

void TVdbTreeBase::ReadHeaderBytes(std::uint8_t* dest, std::int32_t count) {
  Guarded([&] {
    if (!FSite) FSite = FStorage.CreatePageSite();
    FSite->LoadPage(0);
    FSite->Read(FOffset, dest, count);
  });
}

void TVdbTreeBase::WriteHeaderBytes(const std::uint8_t* source, std::int32_t count) {
  Guarded([&] {
    if (!FSite) FSite = FStorage.CreatePageSite();
    FSite->LoadPage(0);
    FSite->Write(FOffset, source, count);
  });
}

// ---- ordered walks

bool TVdbTreeIterator::Current() const noexcept { return FPositioned && FChangeCount == FTree.ChangeCount(); }

bool TVdbTreeIterator::StandsOn(TVdbBytes entry) const {
  return Current() && entry.size() == FEntry.size() && std::equal(entry.begin(), entry.end(), FEntry.begin());
}

bool TVdbTreeIterator::Settle(bool reached) {
  FPositioned = reached;
  FChangeCount = FTree.ChangeCount();
  if (!reached) FEntry.clear();
  return reached;
}

// A failure leaves the kept path half walked: the iterator is then unpositioned.
template <class F>
bool TVdbTreeIterator::Run(F&& walk) {
  try {
    return Settle(walk());
  } catch (...) {
    Settle(false);
    throw;
  }
}

bool TVdbTreeIterator::SeekLower(TVdbBytes key) {
  return Run([&] { return DoSeek(TSeek::skLower, key, FEntry); });
}
bool TVdbTreeIterator::SeekUpper(TVdbBytes key) {
  return Run([&] { return DoSeek(TSeek::skUpper, key, FEntry); });
}
bool TVdbTreeIterator::SeekBefore(TVdbBytes key) {
  return Run([&] { return DoSeek(TSeek::skBefore, key, FEntry); });
}
bool TVdbTreeIterator::First() {
  return Run([&] { return DoSeek(TSeek::skFirst, {}, FEntry); });
}
bool TVdbTreeIterator::Last() {
  return Run([&] { return DoSeek(TSeek::skLast, {}, FEntry); });
}

bool TVdbTreeIterator::Next() {
  if (!FPositioned) return false;
  if (Current()) return Run([&] { return DoStep(true, FEntry); });
  const std::vector<std::uint8_t> from = FEntry;
  return Run([&] { return DoSeek(TSeek::skUpper, from, FEntry); });
}

bool TVdbTreeIterator::Prev() {
  if (!FPositioned) return false;
  if (Current()) return Run([&] { return DoStep(false, FEntry); });
  const std::vector<std::uint8_t> from = FEntry;
  return Run([&] { return DoSeek(TSeek::skBefore, from, FEntry); });
}

}  // namespace vdb
