#include "storage/VdbIndexFile.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "base/VdbErrorCodes.h"
#include "base/VdbFormat.h"
#include "storage/VdbBPlusTree.h"
#include "storage/VdbBTree.h"
#include "base/vuLittleEndian.h"

namespace vdb {

namespace {

// Appends little-endian numbers to a byte vector.
struct TWriter {
  std::vector<std::uint8_t>& Out;
  void U8(std::uint32_t v) { Out.push_back(static_cast<std::uint8_t>(v)); }
  void U16(std::uint32_t v) {
    U8(v & 0xFF);
    U8((v >> 8) & 0xFF);
  }
  void U32(std::uint32_t v) {
    U16(v & 0xFFFF);
    U16(v >> 16);
  }
};

// Reads little-endian numbers from page 0, raising 28 past its end.
struct TReader {
  const std::vector<std::uint8_t>& Page;
  std::size_t Pos;
  const std::u16string& Name;
  void Need(std::size_t n) const {
    if (Pos + n > Page.size()) RaiseEngineError(errInconsistentIndexDefinition, {Name});
  }
  std::uint32_t U8() {
    Need(1);
    return Page[Pos++];
  }
  std::uint32_t U16() {
    Need(2);
    const std::uint32_t v = vuGetU16(Page.data() + Pos);
    Pos += 2;
    return v;
  }
  std::uint32_t U32() {
    Need(4);
    const std::uint32_t v = vuGetU32(Page.data() + Pos);
    Pos += 4;
    return v;
  }
};

const TVdbStringType* AsString(const TVdbDataType* type) {
  if (type == nullptr) return nullptr;
  if (type->ColumnType() != vctString && type->ColumnType() != vctWideString) return nullptr;
  return static_cast<const TVdbStringType*>(type);
}

// Runs `fn`, turning page-manager failures into the engine errors of the file.
template <class F>
auto Guard(const std::u16string& fileName, F&& fn) -> decltype(fn()) {
  try {
    return fn();
  } catch (const EVdbPageManager& e) {
    throw e.ToEngineError(fileName);
  }
}

}  // namespace

TVdbIndexFile::TVdbIndexFile(TVdbClientStorage& storage, TvuFileSystem& fs, std::int16_t version)
    : FStorage(storage), FFileSystem(fs), FVersion(version), FName(storage.Name()) {}

// Leaves closing the storage to its owner: a destructor cannot report a failing close.
TVdbIndexFile::~TVdbIndexFile() = default;

void TVdbIndexFile::RequireOpen() const {
  if (!FTree) RaiseEngineError(errIndexNotFound, {FName});
}

std::int32_t TVdbIndexFile::DefOffsetFor(std::int16_t version, bool variable) {
  if (version <= 3) return kIdxOldTreeOffset + kBtOldHeaderSize;
  return kIdxTreeOffset + (variable ? kBpHeaderSize : kBtHeaderSize);
}

std::int32_t TVdbIndexFile::DefOffset() const { return DefOffsetFor(FVersion, FVariable); }

std::int32_t TVdbIndexFile::EntryCountOffset() const {
  return DefOffset() + (FVersion <= 3 ? kIdxOldDefEntries : kIdxDefEntries);
}

std::int32_t TVdbIndexFile::CalcPageSizeForCapacity(const TVdbKeyDesc& keys, std::int64_t capacity) const {
  if (FVersion >= 6 && keys.VarSize) return TVdbBPlusTree::CalcPageSize(keys.EntrySize());
  return TVdbBTree::CalcPageSize(FVersion, keys.EntrySize(), capacity);
}

void TVdbIndexFile::MakeTree(const TVdbKeyDesc& keys, bool variable) {
  FWalk.reset();
  FOrder = std::make_unique<TVdbIndexOrder>(keys, FName);
  FVariable = variable;
  if (variable) {
    FTree = std::make_unique<TVdbBPlusTree>(FStorage, *FOrder, kIdxTreeOffset, FVersion);
  } else {
    FTree = std::make_unique<TVdbBTree>(FStorage, *FOrder, FVersion <= 3 ? kIdxOldTreeOffset : kIdxTreeOffset,
                                        FVersion);
  }
}

// ---- the definition

std::vector<std::uint8_t> TVdbIndexFile::EncodeDefinition() const {
  std::vector<std::uint8_t> out;
  TWriter w{out};
  if (FVersion >= 4) {
    w.U32(static_cast<std::uint32_t>(FItemCount));
    w.U8(0);
    w.U8(FDef.IsCalculated ? 1 : 0);
    w.U8(FDef.IsUnique ? 1 : 0);
    if (FDef.IsCalculated) {
      w.U16(1);
      w.U8(FDef.ResultType);
      w.U16(static_cast<std::uint16_t>(FDef.KeySize));
      w.U16(static_cast<std::uint16_t>(FDef.Expression.size()));
      for (char16_t c : FDef.Expression) w.U16(c);
    } else {
      w.U16(static_cast<std::uint16_t>(FDef.Parts.size()));
      for (const auto& p : FDef.Parts) {
        w.U16(static_cast<std::uint16_t>(p.ColumnNo) | (p.Descending ? kIdxDescendingBit : 0));
        w.U16(static_cast<std::uint16_t>(p.KeyLength));
        w.U8(p.ColumnType);
      }
    }
    w.U16(static_cast<std::uint16_t>(FDef.EntrySize));
    return out;
  }
  // The 50-byte binary form of old files.
  if (FDef.IsCalculated) {
    w.U16(0xFFFF);
    w.U16(static_cast<std::uint16_t>(FDef.KeySize));
    w.U8(FDef.ResultType);
    const std::size_t n = std::min<std::size_t>(FDef.Expression.size(), kIdxOldMaxExprChars);
    w.U8(static_cast<std::uint32_t>(n));
    for (std::size_t i = 0; i < n; ++i) {
      const char16_t c = FDef.Expression[i];
      w.U8(c < 0x100 ? c : u'?');
    }
  } else {
    for (const auto& p : FDef.Parts) {
      w.U16(static_cast<std::uint16_t>(p.ColumnNo) | (p.Descending ? kIdxDescendingBit : 0));
      w.U16(static_cast<std::uint16_t>(p.KeyLength));
      w.U8(p.ColumnType);
    }
    if (FDef.Parts.size() < static_cast<std::size_t>(kIdxOldMaxParts)) {
      w.U16(0);
      w.U16(0);
      w.U8(FDef.IsUnique ? 0xFF : 0);
    }
  }
  out.resize(kIdxOldDefVectorSize, 0);
  w.U8(FDef.IsUnique ? 1 : 0);
  w.U32(static_cast<std::uint32_t>(FItemCount));
  w.U32(static_cast<std::uint32_t>(FDef.EntrySize));
  return out;
}

TVdbIndexDefinition TVdbIndexFile::DecodeDefinition(const std::vector<std::uint8_t>& page, std::int16_t version,
                                                    bool variable, std::u16string_view name,
                                                    std::int64_t& itemCount) {
  TVdbIndexDefinition def;
  const std::u16string fileName(name);
  TReader r{page, static_cast<std::size_t>(DefOffsetFor(version, variable)), fileName};
  auto bad = [&] { RaiseEngineError(errInconsistentIndexDefinition, {fileName}); };
  if (version >= 4) {
    itemCount = static_cast<std::int32_t>(r.U32());
    r.U8();
    def.IsCalculated = r.U8() != 0;
    def.IsUnique = r.U8() != 0;
    const std::uint32_t parts = r.U16();
    if (def.IsCalculated) {
      if (parts != 1) bad();
      def.ResultType = static_cast<std::uint8_t>(r.U8());
      def.KeySize = static_cast<std::int16_t>(r.U16());
      const std::uint32_t n = r.U16();
      r.Need(2 * std::size_t{n});
      for (std::uint32_t i = 0; i < n; ++i) def.Expression.push_back(static_cast<char16_t>(r.U16()));
    } else {
      if (parts < 1 || parts > static_cast<std::uint32_t>(kIdxMaxParts)) bad();
      for (std::uint32_t i = 0; i < parts; ++i) {
        TVdbIndexPartDef p;
        const std::uint32_t col = r.U16();
        p.Descending = (col & kIdxDescendingBit) != 0;
        p.ColumnNo = static_cast<std::int16_t>(col & ~std::uint32_t{kIdxDescendingBit});
        p.KeyLength = static_cast<std::int16_t>(r.U16());
        p.ColumnType = static_cast<std::uint8_t>(r.U8());
        def.Parts.push_back(p);
      }
    }
    def.EntrySize = static_cast<std::int16_t>(r.U16());
  } else {
    r.Need(kIdxOldDefVectorSize + 4 + 4 + 1);
    const std::size_t base = r.Pos;
    if (vuGetU16(page.data() + base) == 0xFFFF) {
      def.IsCalculated = true;
      def.KeySize = static_cast<std::int16_t>(vuGetU16(page.data() + base + 2));
      def.ResultType = page[base + 4];
      const std::size_t n = std::min<std::size_t>(page[base + 5], kIdxOldMaxExprChars);
      for (std::size_t i = 0; i < n; ++i) def.Expression.push_back(page[base + 6 + i]);
    } else {
      for (std::int32_t i = 0; i < kIdxOldMaxParts; ++i) {
        const std::uint8_t* e = page.data() + base + static_cast<std::size_t>(i) * kIdxDefPartSize;
        const std::uint32_t col = vuGetU16(e);
        if ((col & ~std::uint32_t{kIdxDescendingBit}) == 0) break;
        TVdbIndexPartDef p;
        p.Descending = (col & kIdxDescendingBit) != 0;
        p.ColumnNo = static_cast<std::int16_t>(col & ~std::uint32_t{kIdxDescendingBit});
        p.KeyLength = static_cast<std::int16_t>(vuGetU16(e + 2));
        p.ColumnType = e[4];
        def.Parts.push_back(p);
      }
      if (def.Parts.empty()) bad();
    }
    def.IsUnique = page[base + kIdxOldDefUnique] != 0;
    itemCount = static_cast<std::int32_t>(vuGetU32(page.data() + base + kIdxOldDefEntries));
    def.EntrySize = static_cast<std::int16_t>(vuGetU16(page.data() + base + kIdxOldDefEntrySize));
  }
  if (itemCount < 0 || def.EntrySize <= kVdbRecNoSize) bad();
  return def;
}

TVdbIndexDefinition TVdbIndexFile::ReadStoredDefinition(const std::vector<std::uint8_t>& page,
                                                        std::u16string_view name, std::int64_t& itemCount) {
  if (page.size() < static_cast<std::size_t>(kIdxVersionOffset) + 2)
    RaiseEngineError(errInconsistentIndexDefinition, {std::u16string(name)});
  const std::uint32_t magic = vuGetU32(page.data() + kIdxMagicOffset);
  const bool modern = magic == kIdxMagicClassic || magic == kIdxMagicVariable;
  const auto version = modern ? static_cast<std::int16_t>(vuGetU16(page.data() + kIdxVersionOffset)) : std::int16_t{3};
  if (modern && version < 4) RaiseEngineError(errInconsistentIndexDefinition, {std::u16string(name)});
  return DecodeDefinition(page, version, magic == kIdxMagicVariable, name, itemCount);
}

void TVdbIndexFile::CheckKeysMatch(const TVdbKeyDesc& keys) const {
  bool ok = FDef.EntrySize == keys.EntrySize();
  if (FDef.IsCalculated) {
    ok = ok && keys.Parts.size() == 1 && keys.Parts[0].KeyLength == FDef.KeySize;
  } else {
    ok = ok && keys.Parts.size() == FDef.Parts.size();
    for (std::size_t i = 0; ok && i < keys.Parts.size(); ++i) {
      const auto& k = keys.Parts[i];
      const auto& d = FDef.Parts[i];
      ok = k.KeyLength == d.KeyLength && k.Descending == d.Descending &&
           k.Type->ColumnType() == static_cast<TVdbColumnType>(d.ColumnType);
    }
  }
  if (!ok) RaiseEngineError(errInconsistentIndexDefinition, {FName});
}

void TVdbIndexFile::WriteItemCount() {
  std::uint8_t b[4];
  vuPutU32(b, static_cast<std::uint32_t>(FItemCount));
  Guard(FStorage.Name(), [&] {
    auto site = FStorage.CreatePageSite();
    site->LoadPage(0);
    site->Write(EntryCountOffset(), b, 4);
  });
}

// ---- creating and opening

void TVdbIndexFile::NewStorage(const TVdbKeyDesc& keys, const TVdbIndexDefinition& def,
                               std::int64_t capacity, std::int32_t pageSize) {
  const std::size_t maxParts = FVersion < 4 ? kIdxOldMaxParts : kIdxMaxParts;
  if (keys.Parts.size() > maxParts || def.Parts.size() > maxParts) RaiseEngineError(errTooManyIndexLevels);
  FLost = false;
  FDef = def;
  FDef.EntrySize = keys.EntrySize();
  FItemCount = 0;
  const bool variable = FVersion >= 6 && keys.VarSize;
  if (pageSize == 0) pageSize = CalcPageSizeForCapacity(keys, capacity);
  try {
    MakeTree(keys, variable);
    CheckKeysMatch(keys);
    const std::vector<std::uint8_t> defBytes = EncodeDefinition();
    if (DefOffset() + static_cast<std::int64_t>(defBytes.size()) > pageSize) {
      RaiseEngineError(errIndexInsert, {FName});
    }
    Guard(FStorage.Name(), [&] {
      FStorage.SetPageSize(pageSize);
      FStorage.NewStorage(false);
      auto site = FStorage.CreatePageSite();
      site->InitPage(0);
      if (FVersion >= 4) {
        std::uint8_t head[6];
        vuPutU32(head + kIdxMagicOffset, variable ? kIdxMagicVariable : kIdxMagicClassic);
        vuPutU16(head + kIdxVersionOffset, static_cast<std::uint16_t>(FVersion));
        site->Write(0, head, 6);
      }
      site->Write(DefOffset(), defBytes.data(), static_cast<std::int32_t>(defBytes.size()));
    });
    FTree->New(pageSize, FDef.EntrySize);
    Guard(FStorage.Name(), [&] { FStorage.Flush(); });
  } catch (const EVdbEngine& e) {
    FWalk.reset();
    FTree.reset();
    FOrder.reset();
    if (e.Code() == errInvalidIndexSpec) throw;
    if (FStorage.IsOpen()) {
      try {
        FStorage.Close();
      } catch (const EVdbPageManager&) {
        // The failure to create is what the caller hears about; the close is secondary.
      }
    }
    RaiseEngineError(errIndexInsert, {FName});
  }
  RecordCollatorVersions();
}

void TVdbIndexFile::ReadHeader() {
  std::vector<std::uint8_t> page(static_cast<std::size_t>(FStorage.GetPageSize()));
  Guard(FStorage.Name(), [&] { FStorage.ReadPage(0, page.data()); });
  auto bad = [&] { RaiseEngineError(errInconsistentIndexDefinition, {FName}); };
  const std::uint32_t magic = vuGetU32(page.data() + kIdxMagicOffset);
  std::int32_t treePageSize;
  if (magic == kIdxMagicClassic || magic == kIdxMagicVariable) {
    FVersion = static_cast<std::int16_t>(vuGetU16(page.data() + kIdxVersionOffset));
    FVariable = magic == kIdxMagicVariable;
    if (FVersion < 4 || FVersion > 6 || (FVariable && FVersion != 6)) bad();
    treePageSize = static_cast<std::int32_t>(
        vuGetU32(page.data() + kIdxTreeOffset + (FVariable ? kBpHdrPageSize : kBtHdrPageSize)));
  } else {
    if (FVersion >= 4) FVersion = 3;
    FVariable = false;
    treePageSize = vuGetU16(page.data() + kIdxOldTreeOffset + kBtOldHdrPageSize);
  }
  if (treePageSize < kBtMinPageSize || treePageSize > kBtMaxPageSize) bad();
  if (treePageSize != FStorage.GetPageSize()) {
    Guard(FStorage.Name(), [&] { FStorage.SetPageSize(treePageSize); });
    page.assign(static_cast<std::size_t>(treePageSize), 0);
    Guard(FStorage.Name(), [&] { FStorage.ReadPage(0, page.data()); });
  }
  FDef = DecodeDefinition(page, FVersion, FVariable, FName, FItemCount);
}

void TVdbIndexFile::Open(const TVdbKeyDesc& keys, bool readOnly, bool exclusive) {
  FLost = false;
  try {
    FStorage.SetPageSize(kIdxFirstReadPageSize);
    FStorage.Open(readOnly, exclusive);
  } catch (const EVdbPMStorageNotFound&) {
    FLost = true;
    RaiseEngineError(errFileNotFoundOrDenied, {FStorage.Name()});
  } catch (const EVdbPMStorageAccessDenied&) {
    FLost = true;
    RaiseEngineError(errFileNotFoundOrDenied, {FStorage.Name()});
  } catch (const EVdbPageManager&) {
    FLost = true;
    RaiseEngineError(errInconsistentIndexDefinition, {FName});
  }
  try {
    ReadHeader();
    MakeTree(keys, FVariable);
    FTree->Open();
    CheckKeysMatch(keys);
    if (FVariable) static_cast<TVdbBPlusTree&>(*FTree).SetMaxEntrySize(FDef.EntrySize);
  } catch (const EVdbEngine&) {
    FWalk.reset();
    FTree.reset();
    FOrder.reset();
    FLost = true;
    try {
      FStorage.Close();
    } catch (const EVdbPageManager&) {
      // The unreadable header is what the caller hears about; the close is secondary.
    }
    RaiseEngineError(errInconsistentIndexDefinition, {FName});
  }
}

void TVdbIndexFile::Close() {
  FWalk.reset();
  FTree.reset();
  FOrder.reset();
  Guard(FStorage.Name(), [&] { FStorage.Close(); });
}

void TVdbIndexFile::Flush() {
  RequireOpen();
  Guard(FStorage.Name(), [&] { FStorage.Flush(); });
}

void TVdbIndexFile::Undo() {
  RequireOpen();
  Guard(FStorage.Name(), [&] { FStorage.Undo(); });
  std::vector<std::uint8_t> page(static_cast<std::size_t>(FStorage.GetPageSize()));
  Guard(FStorage.Name(), [&] { FStorage.ReadPage(0, page.data()); });
  FDef = DecodeDefinition(page, FVersion, FVariable, FName, FItemCount);
  FTree->Open();
}

void TVdbIndexFile::Update() {
  RequireOpen();
  Guard(FStorage.Name(), [&] { FStorage.Invalidate(); });
  std::vector<std::uint8_t> page(static_cast<std::size_t>(FStorage.GetPageSize()));
  Guard(FStorage.Name(), [&] { FStorage.ReadPage(0, page.data()); });
  FDef = DecodeDefinition(page, FVersion, FVariable, FName, FItemCount);
  FTree->Open();
}

void TVdbIndexFile::SetUnique(bool value) {
  RequireOpen();
  FDef.IsUnique = value;
  const std::vector<std::uint8_t> bytes = EncodeDefinition();
  Guard(FStorage.Name(), [&] {
    auto site = FStorage.CreatePageSite();
    site->LoadPage(0);
    site->Write(DefOffset(), bytes.data(), static_cast<std::int32_t>(bytes.size()));
  });
}

void TVdbIndexFile::SetPrimary(bool value) {
  FIsPrimary = value;
  if (value && IsOpen() && !FDef.IsUnique) SetUnique(true);
}

// ---- entries

std::vector<std::uint8_t> TVdbIndexFile::Trimmed(TVdbBytes item) const {
  if (FVariable) {
    const std::size_t used = FOrder->UsedEntrySize(item);
    return std::vector<std::uint8_t>(item.begin(), item.begin() + static_cast<std::ptrdiff_t>(used));
  }
  const auto size = static_cast<std::size_t>(FDef.EntrySize);
  if (item.size() < size) RaiseEngineError(errIndexRead, {FName});
  return std::vector<std::uint8_t>(item.begin(), item.begin() + static_cast<std::ptrdiff_t>(size));
}

std::int16_t TVdbIndexFile::Add_Index(TVdbBytes item) {
  RequireOpen();
  std::vector<std::uint8_t> entry = Trimmed(item);
  if (GetMustBeUnique()) {
    std::vector<std::uint8_t> probe = entry, found;
    VdbSetEntryRecNo(probe, INT32_MIN);
    if (FTree->Find(probe, found) && FOrder->CompareKeys(found, entry) == 0) {
      RaiseEngineError(errNotUnique, {FName});
    }
  }
  if (!FTree->Insert(entry)) RaiseEngineError(errIndexInsert, {FName});
  ++FItemCount;
  WriteItemCount();
  return 0;
}

std::int16_t TVdbIndexFile::Loesche_Index(TVdbBytes item) {
  RequireOpen();
  if (!FTree->Delete(Trimmed(item))) return 1;
  --FItemCount;
  WriteItemCount();
  return 0;
}

TVdbTreeIterator& TVdbIndexFile::Walk() {
  if (!FWalk) FWalk = FTree->NewIterator();
  return *FWalk;
}

// The searches and steps go through the kept walk: a step from the entry the walk stands on
// (the usual case of a cursor reading in index order) needs no descent from the root.
std::int16_t TVdbIndexFile::Suche_Index(std::vector<std::uint8_t>& key) {
  RequireOpen();
  TVdbTreeIterator& walk = Walk();
  if (!walk.SeekLower(Trimmed(key))) return 1;
  key.assign(walk.Entry().begin(), walk.Entry().end());
  return 0;
}

std::int16_t TVdbIndexFile::Erster_Index(std::vector<std::uint8_t>& key) {
  RequireOpen();
  TVdbTreeIterator& walk = Walk();
  if (!walk.First()) return 1;
  key.assign(walk.Entry().begin(), walk.Entry().end());
  return 0;
}

std::int16_t TVdbIndexFile::Letzter_Index(std::vector<std::uint8_t>& key) {
  RequireOpen();
  TVdbTreeIterator& walk = Walk();
  if (!walk.Last()) return 1;
  key.assign(walk.Entry().begin(), walk.Entry().end());
  return 0;
}

std::int16_t TVdbIndexFile::Naechster_Index(std::vector<std::uint8_t>& key) {
  RequireOpen();
  const std::vector<std::uint8_t> from = Trimmed(key);
  TVdbTreeIterator& walk = Walk();
  if (walk.StandsOn(from)) {
    // A step along the kept path always moves on to another slot: the walk ends.
    if (!walk.Next()) return 1;
  } else {
    if (!walk.SeekUpper(from)) return 1;
    // A search that does not move forward comes from pages out of order: a walk would never end.
    if (FOrder->Compare(walk.Entry(), from) <= 0) RaiseEngineError(errIndexCorrupt, {FStorage.Name()});
  }
  key.assign(walk.Entry().begin(), walk.Entry().end());
  return 0;
}

std::int16_t TVdbIndexFile::Vorheriger_Index(std::vector<std::uint8_t>& key) {
  RequireOpen();
  const std::vector<std::uint8_t> from = Trimmed(key);
  TVdbTreeIterator& walk = Walk();
  if (walk.StandsOn(from)) {
    if (!walk.Prev()) return 1;
  } else {
    if (!walk.SeekBefore(from)) return 1;
    if (FOrder->Compare(walk.Entry(), from) >= 0) RaiseEngineError(errIndexCorrupt, {FStorage.Name()});
  }
  key.assign(walk.Entry().begin(), walk.Entry().end());
  return 0;
}

std::int16_t TVdbIndexFile::Clear_Index() {
  RequireOpen();
  FTree->Clear();
  FItemCount = 0;
  WriteItemCount();
  return 0;
}

std::int64_t TVdbIndexFile::CalcItemSequenceNo(TVdbBytes key) {
  RequireOpen();
  return FTree->CalcItemSequenceNo(Trimmed(key));
}

void TVdbIndexFile::BulkInsert(std::int64_t count, const TVdbProgressFunc& progress,
                               const std::function<bool(std::vector<std::uint8_t>&)>& getItem) {
  RequireOpen();
  if (progress) progress(0, count);
  const bool bottomUp = FTree->GetItemCount() == 0;
  TVdbEntrySorter sorter(*FOrder);
  std::vector<std::uint8_t> item;
  std::int64_t done = 0;
  while (getItem(item)) {
    if (bottomUp) {
      sorter.Add(Trimmed(item));
    } else {
      Add_Index(item);
    }
    if (++done % 1000 == 0 && progress) progress(done, count);
  }
  if (bottomUp) {
    sorter.Sort(FName);
    if (GetMustBeUnique()) {
      for (std::size_t i = 1; i < sorter.Count(); ++i) {
        if (FOrder->CompareKeys(sorter.Entry(i - 1), sorter.Entry(i)) == 0) {
          RaiseEngineError(errNotUnique, {FName});
        }
      }
    }
    FTree->BuildFromSorted(sorter, {});
    FItemCount = static_cast<std::int64_t>(sorter.Count());
    WriteItemCount();
  }
  if (progress) progress(count, count);
}

// ---- integrity check

std::vector<TVdbIndexProblem> TVdbIndexFile::Check(std::int64_t recordCount) {
  std::vector<TVdbIndexProblem> problems;
  if (!IsOpen()) {
    problems.push_back({1, u"Index cannot be found"});
    return problems;
  }
  const TVdbTreeCheckResult tree = FTree->Check();
  if (FItemCount != recordCount) problems.push_back({2, u"Index has wrong number of items"});
  if (tree.Unordered > 0) problems.push_back({2, u"Index has unordered sequence"});
  for (const auto& text : tree.Problems) problems.push_back({2, text});
  try {
    std::vector<std::uint8_t> current, previous;
    std::int64_t walked = 0;
    bool sorted = true;
    for (bool more = FTree->FindFirst(current); more; more = FTree->FindNext(previous, current)) {
      if (++walked > recordCount) {
        problems.push_back({2, u"Index contains loop"});
        break;
      }
      if (walked > 1 && sorted && FOrder->Compare(current, previous) < 0) {
        problems.push_back({2, u"Index is not correctly sorted"});
        sorted = false;
      }
      previous = current;
    }
    if (walked < recordCount) problems.push_back({1, u"Index does not include all table records"});
  } catch (const EVdbEngine&) {
    problems.push_back({2, u"Index ist corrupt"});
  }
  return problems;
}

// ---- collator versions

std::vector<std::pair<std::u16string, std::string>> TVdbIndexFile::CurrentCollatorVersions() const {
  std::vector<std::pair<std::u16string, std::string>> result;
  if (!FOrder) return result;
  for (const auto& part : FOrder->Desc().Parts) {
    const TVdbStringType* s = AsString(part.Type);
    if (s == nullptr || s->Collation().IsBuiltIn()) continue;
    std::pair<std::u16string, std::string> entry{s->Collation().Name(), s->Collation().CollatorVersion()};
    if (std::find(result.begin(), result.end(), entry) == result.end()) result.push_back(std::move(entry));
  }
  return result;
}

void TVdbIndexFile::RecordCollatorVersions() const {
  const auto versions = CurrentCollatorVersions();
  const std::u16string name = CollatorVersionFileName();
  if (versions.empty()) {
    if (FFileSystem.FileExists(name) && !FFileSystem.DeleteFile(name)) {
      RaiseEngineError(errFileWrite, {name});
    }
    return;
  }
  std::string text;
  for (const auto& [collation, version] : versions) text += VdbUtf16ToUtf8(collation) + "=" + version + "\n";
  const TvuFileHandle h = FFileSystem.CreateFile(name);
  if (!TvuFileSystem::IsValidHandle(h)) RaiseEngineError(errFileWrite, {name});
  const auto size = static_cast<std::int64_t>(text.size());
  const bool written = FFileSystem.FileWrite(h, 0, text.data(), size) == size;
  const bool closed = FFileSystem.CloseFile(h);
  if (!written || !closed) RaiseEngineError(errFileWrite, {name});
}

bool TVdbIndexFile::CollatorVersionsChanged() const {
  const auto versions = CurrentCollatorVersions();
  if (versions.empty()) return false;
  const TvuFileHandle h = FFileSystem.OpenFile(CollatorVersionFileName(), fmOpenRead | fmShareDenyNone);
  if (!TvuFileSystem::IsValidHandle(h)) return true;
  std::string text(4096, '\0');
  const std::int64_t n = FFileSystem.FileRead(h, 0, text.data(), static_cast<std::int64_t>(text.size()));
  FFileSystem.CloseFile(h);
  text.resize(static_cast<std::size_t>(std::max<std::int64_t>(0, n)));
  std::string expected;
  for (const auto& [collation, version] : versions) expected += VdbUtf16ToUtf8(collation) + "=" + version + "\n";
  return text != expected;
}

}  // namespace vdb
