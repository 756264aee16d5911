// The heap data file; see VdbHeapDataFile.h.
//
// Header of levels 5 and 6 (little-endian; stored on disk: never renumber):
//   offset    size  field
//   0         4     magic 0xFF57AA64
//   4         2     table level (5 or 6)
//   6         1     encryption code (1 none, 2 protection, 3 classic, 4 fast, 5 Blowfish, 6 Rijndael)
//   7         4     record count
//   11        4     0 (high half of the count; ignored)
//   15        4     next record id
//   19        4     0 (ignored)
//   23        4502  index-name area (VdbDataFile.cpp)
//   4525      4     length L of the definition block
//   4529      L     definition block (VdbDataFile.cpp), enciphered as a whole
//   4529 + L        record n at 4529 + L + (n - 1) × record size
// L makes the record area start on a multiple of 8192 with more than 8192 bytes to spare.
//
// Header of levels 1 to 4:
//   offset (level 4 / 3 / 2 / 1)   field
//   0 / 0 / 0 / 0        4   magic
//   4 / 4 / 4 / 4        2   table level
//   6 / 6 / - / -        4   collation code (1 length byte + 3 characters)
//   10 / 10 / 6 / 6      4   record count
//   14 / 14 / 10 / 10    2   record size
//   16 / 16 / 12 / 12    2   column count (bit 15 ignored)
//   18 / - / - / -       4   capacity (lower levels: 10,000,000)
//   22 / 18 / 14 / 14        index-name area: 2252 / 677 / 677 / 67 bytes
//   then the column definitions and the trailer:
//   level 4 column: Str16A name, i16 size - 1, u8 type, i32 options (bit 0x80 set, else the
//     low byte is the old option nibble), then 10/12: Str16A linked table; 3: i16 scale;
//     13: i16 precision; 8: i16 item count
//   level 3 column, 54 bytes: 2 zero, name short string (41), i16 size - 1 at 43,
//     parameter at 45, type at 47, option nibble at 48
//   levels 1-2 column, 46 bytes: 2 zero, name short string (41), u8 size - 1,
//     u8 parameter, u8 option nibble × 16 + type
//   trailer: password (1 + 10 bytes, scrambled); level 4: Str16 check string (40 characters,
//     [7] = record size, [31] = column count); per enum column and item a 21-byte short
//     string; computations (below level 4: a 256-byte short string per computed column;
//     level 4: i16 count, per entry i16 column number + Str16 text); 16 bytes of range data
//     per range-constrained column; level 4: keys, checks, foreign keys; with a record-id
//     column: 50-byte index definition + i32 next record id; then the record area.
#include "storage/VdbHeapDataFile.h"

#include <algorithm>

#include "base/VdbErrorCodes.h"
#include "base/VdbErrors.h"
#include "base/vuLittleEndian.h"
#include "types/vuCodePage.h"

namespace vdb {

namespace {

// Levels 5 and 6 (stored on disk: never renumber).
constexpr std::int64_t kMagicOffset = 0;
constexpr std::int64_t kLevelOffset = 4;
constexpr std::int64_t kEncryptionOffset = 6;
constexpr std::int64_t kCountOffset = 7;
constexpr std::int64_t kNextIdOffset = 15;
constexpr std::int64_t kIndexNamesOffset = 23;
constexpr std::int64_t kIndexNamesSize = 4502;
constexpr std::int64_t kDefLengthOffset = 4525;
constexpr std::int64_t kDefBlockOffset = 4529;
constexpr std::int64_t kFixedHeaderSize = kDefBlockOffset;
constexpr std::int64_t kRecordAreaAlign = 8192;
constexpr std::int64_t kDefinitionSlack = 16384;

// Levels 1 to 4 (stored on disk: never renumber).
constexpr std::int64_t kOldCollationOffset = 6;
constexpr std::int64_t kOldDefaultCapacity = 10000000;
constexpr std::int64_t kOldHeaderWindow = 64 * 1024;
constexpr std::int64_t kOldHeaderMax = 16 * 1024 * 1024;
constexpr std::size_t kOldNameCapacity = 40;
constexpr std::size_t kOldColumnSize12 = 46;
constexpr std::size_t kOldColumnSize3 = 54;
constexpr std::size_t kOldPasswordCapacity = 10;
constexpr std::size_t kOldEnumItemCapacity = 20;
constexpr std::size_t kOldComputationCapacity = 255;
constexpr std::size_t kRangeDataSize = 16;
constexpr std::uint32_t kOldOptionsMarker = 0x80;
constexpr std::size_t kOldCheckLength = 40;
constexpr std::size_t kOldCheckRecordSize = 7;
constexpr std::size_t kOldCheckColumnCount = 31;

struct TOldLayout {
  std::int64_t CountOffset, RecordSizeOffset, ColumnCountOffset, CapacityOffset, NamesOffset, NamesSize;
};

TOldLayout OldLayout(int level) {
  switch (level) {
    case 4: return {10, 14, 16, 18, 22, 2252};
    case 3: return {10, 14, 16, -1, 18, 677};
    case 2: return {6, 10, 12, -1, 14, 677};
    default: return {6, 10, 12, -1, 14, 67};
  }
}

std::u16string Ansi(std::string_view bytes) { return TvuCodePage::ToUnicode(VDB_BUILTIN_CODE_PAGE, bytes); }

// Old names: cut at the first character that is not a letter, digit or '.', without trailing
// underscores. Link columns keep "name(table)": the caller splits first.
std::u16string OldName(std::u16string_view raw) {
  std::u16string name;
  for (char16_t c : raw) {
    const bool ok = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
                    c == u'.' || c == u'_' || c >= 0xC0;
    if (!ok) break;
    name += c;
  }
  while (!name.empty() && name.back() == u'_') name.pop_back();
  return name;
}

bool ZeroMeansNull(TVdbColumnType t) {
  return t == vctDate || t == vctMemo || t == vctEnum || t == vctLink || t == vctBlob || t == vctRelation ||
         t == vctTimeStamp || t == vctWideMemo;
}

// Options of an old column from its option nibble.
std::uint32_t OptionsFromNibble(std::uint32_t nibble, TVdbColumnType t, int level) {
  std::uint32_t options = nibble & 0x0F;
  const bool keyed = t == vctRecordId || t == vctLink;
  if (keyed) {
    if (options & coHasNullByte) options = (options & ~coHasNullByte) | coNoIndex;
  }
  if (((nibble & coHasNullByte) && !keyed) || (ZeroMeansNull(t) && VdbMayBeNullable(t, level))) {
    options |= coNullable;
  }
  if (t == vctRecordId) options &= ~coNullable;
  return options;
}

struct TOldColumn {
  std::u16string Name;
  std::u16string LinkedTable;
  TVdbColumnType Type = 0;
  std::int32_t Size = 0;
  std::uint32_t Options = 0;
  std::int32_t Param = 0;  // scale, precision or enum item count
};

}  // namespace

// ---- Positions

std::int64_t TVdbHeapDataFile::IndexNamesPosition() const {
  return FLevel >= 5 ? kIndexNamesOffset : OldLayout(FLevel).NamesOffset;
}
std::int64_t TVdbHeapDataFile::IndexNamesSize() const {
  return FLevel >= 5 ? kIndexNamesSize : OldLayout(FLevel).NamesSize;
}
std::int64_t TVdbHeapDataFile::RecordCountPosition() const {
  return FLevel >= 5 ? kCountOffset : OldLayout(FLevel).CountOffset;
}
std::int64_t TVdbHeapDataFile::NextRecordIdPosition() const {
  return FLevel >= 5 ? kNextIdOffset : FNextIdPosition;
}
std::int64_t TVdbHeapDataFile::GetStorageSize() const {
  return FFileOffset + static_cast<std::int64_t>(FFileSize) * FRecordSize;
}

// ---- Open

void TVdbHeapDataFile::Open(bool readOnly, bool exclusive, TvuCryptor& cryptor, TVdbTableDefinition& def) {
  if (IsOpen()) Close();
  def = TVdbTableDefinition();
  FStorage.Open(VDB_DATA_PAGE_SIZE, readOnly, exclusive);
  FCryptor = &cryptor;
  try {
    std::uint8_t head[6] = {};
    if (StorageBytes() < 6) RaiseEngineError(errOldTableVersion, {});
    ReadBytes(kMagicOffset, head, 6);
    if (vuGetU32(head) != kVdbHeapMagic) RaiseEngineError(errOldTableVersion, {});
    const auto level = static_cast<std::int16_t>(vuGetU16(head + kLevelOffset));
    if (level < 1 || level > VDB_MAX_TABLE_LEVEL) Corrupt();
    FLevel = level;
    if (FLevel >= 5) {
      ReadNewHeader(def);
    } else {
      ReadOldHeader(def);
    }
    ReadIndexNames();
  } catch (...) {
    def = TVdbTableDefinition();
    FStorage.CloseQuietly();
    throw;
  }
}

void TVdbHeapDataFile::ReadNewHeader(TVdbTableDefinition& def) {
  if (StorageBytes() < kFixedHeaderSize) Corrupt();
  std::uint8_t b[4];
  ReadBytes(kEncryptionOffset, b, 1);
  FCryptor->SetEncryptionMethod(VdbEncryptionMethodOfCode(b[0]));
  if (!FCryptor->Initialize()) RaiseEngineError(errInvalidCredentials, {});
  ReadBytes(kDefLengthOffset, b, 4);
  const auto length = static_cast<std::int32_t>(vuGetU32(b));
  // The block must lie inside the storage before a byte of it is allocated.
  if (length < 0 || kDefBlockOffset + static_cast<std::int64_t>(length) > StorageBytes()) Corrupt();
  std::vector<std::uint8_t> block(static_cast<std::size_t>(length));
  ReadBytes(kDefBlockOffset, block.data(), length);
  if (TVdbEncryption* cipher = FCryptor->Encryption()) cipher->DecryptBlock(block.data(), block.size());
  ParseDefinitionBlock(block, FLevel, *FCryptor, def);
  FFileOffset = kDefBlockOffset + length;
  ReadNextRecordId();
  LoadRecordCount();
}

void TVdbHeapDataFile::ReadOldHeader(TVdbTableDefinition& def) {
  // An old header has no length field: it is parsed from a window of the file's first bytes
  // that grows while the parse runs out of bytes, up to the storage size (and 16 MB, far more
  // than 1000 column definitions take).
  const std::int64_t limit = std::min<std::int64_t>(StorageBytes(), kOldHeaderMax);
  for (std::int64_t window = std::min<std::int64_t>(limit, kOldHeaderWindow);; window = std::min(limit, window * 4)) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(window));
    ReadBytes(0, bytes.data(), window);
    try {
      ParseOldHeader(def, bytes);
      return;
    } catch (const EVdbEngine& e) {
      // Damage stays damage in a larger window: retry only while there are more bytes.
      if (e.Code() != errUnknownTableVersion || window >= limit) throw;
      def = TVdbTableDefinition();
    }
  }
}

void TVdbHeapDataFile::ParseOldHeader(TVdbTableDefinition& def, std::span<const std::uint8_t> bytes) {
  const TOldLayout layout = OldLayout(FLevel);
  const auto headerMax = static_cast<std::int64_t>(bytes.size());
  TVdbByteReader fixed(bytes, errUnknownTableVersion);
  if (FLevel >= 3) {
    fixed.Skip(static_cast<std::size_t>(kOldCollationOffset));
    def.OldCollationCode = fixed.ShortString(3);
  }
  auto readAt = [&](std::int64_t offset, std::size_t n) {
    if (offset < 0 || offset + static_cast<std::int64_t>(n) > headerMax) Corrupt();
    return bytes.data() + offset;
  };
  const std::int32_t recordSize = vuGetU16(readAt(layout.RecordSizeOffset, 2));
  const std::int32_t columns = vuGetU16(readAt(layout.ColumnCountOffset, 2)) & 0x7FFF;
  def.Capacity = layout.CapacityOffset >= 0
                     ? static_cast<std::int32_t>(vuGetU32(readAt(layout.CapacityOffset, 4)))
                     : static_cast<std::int32_t>(kOldDefaultCapacity);
  if (columns < 1 || columns > VDB_MAX_COLUMNS || recordSize < 1 || recordSize > VDB_MAX_RECORD_SIZE ||
      def.Capacity < 1) {
    Corrupt();
  }
  const std::int64_t columnsStart = layout.NamesOffset + layout.NamesSize;
  if (columnsStart > headerMax) Corrupt();
  TVdbByteReader r(bytes.subspan(static_cast<std::size_t>(columnsStart)), errUnknownTableVersion);
  std::vector<TOldColumn> cols;
  r.CheckCount(columns, FLevel == 4 ? 9 : (FLevel == 3 ? kOldColumnSize3 : kOldColumnSize12));
  for (int i = 0; i < columns; ++i) {
    TOldColumn c;
    std::u16string rawName;
    std::uint32_t nibble = 0;
    if (FLevel == 4) {
      rawName = Ansi(r.Str16A());
      c.Size = r.I16() + 1;
      c.Type = r.U8();
      const auto options = static_cast<std::uint32_t>(r.I32());
      nibble = options & 0xFF;
      if (c.Type == vctLink || c.Type == vctRelation) c.LinkedTable = Ansi(r.Str16A());
      if (c.Type == vctFloat || c.Type == vctTime || c.Type == vctEnum) c.Param = r.I16();
      if (options & kOldOptionsMarker) {
        c.Options = options & ~kOldOptionsMarker;
      } else {
        c.Options = OptionsFromNibble(nibble, c.Type, FLevel);
      }
    } else {
      const auto entry = r.Bytes(FLevel == 3 ? kOldColumnSize3 : kOldColumnSize12);
      TVdbByteReader e(entry, errUnknownTableVersion);
      e.Skip(2);
      rawName = Ansi(e.ShortString(kOldNameCapacity));
      if (FLevel == 3) {
        c.Size = vuGetU16(entry.data() + 43) + 1;
        c.Param = entry[45];
        c.Type = entry[47];
        nibble = entry[48];
      } else {
        c.Size = entry[43] + 1;
        c.Param = entry[44];
        c.Type = entry[45] & 0x0F;
        nibble = entry[45] >> 4;
      }
      c.Options = OptionsFromNibble(nibble, c.Type, FLevel);
      if (c.Type == vctLink || c.Type == vctRelation) {
        if (const auto open = rawName.find(u'('); open != std::u16string::npos) {
          const auto close = rawName.find(u')', open);
          c.LinkedTable = rawName.substr(open + 1, close == std::u16string::npos ? std::u16string::npos : close - open - 1);
          rawName.resize(open);
        }
      }
      if (c.Type == vctFloat) c.Param = c.Param >= 0xF0 ? c.Param - 0xF0 : 0;
    }
    if (c.Type == vctRelation) c.Size = 0;
    c.Name = OldName(rawName);
    cols.push_back(std::move(c));
  }
  // The sizes must add up before the trailer is trusted.
  std::int64_t sizes = 0;
  for (const auto& c : cols) sizes += c.Size;
  if (sizes != recordSize) Corrupt();
  // Names: unnamed columns become Column_k, repeated names get _2, _3, ...
  for (std::size_t i = 0; i < cols.size(); ++i) {
    if (cols[i].Name.empty()) cols[i].Name = u"Column_" + Ansi(std::to_string(i + 1));
    std::u16string base = cols[i].Name;
    for (int n = 2;; ++n) {
      bool clash = false;
      for (std::size_t j = 0; j < i && !clash; ++j) clash = VdbSameName(cols[j].Name, cols[i].Name);
      if (!clash) break;
      const std::u16string suffix = u"_" + Ansi(std::to_string(n));
      cols[i].Name = base.substr(0, VDB_MAX_NAME_LENGTH - suffix.size()) + suffix;
    }
  }
  // Trailer.
  const std::string password = VdbScramblePassword8(r.ShortString(kOldPasswordCapacity));
  TvuEncryptionMethod method = emProtection;
  if (password.empty()) method = emNone;
  else if (password == "_en:td_") method = emFast;
  else if (password == "_en:bf_") method = emBlowfish;
  else if (password == "_en:rj_") method = emRijndael;
  else if (FLevel < 4 && FCryptor->CanBeClassic()) method = emClassic1;
  FCryptor->SetEncryptionMethod(method);
  if (!FCryptor->Initialize()) RaiseEngineError(errInvalidCredentials, {});
  if (method == emProtection) {
    std::u16string given = FCryptor->GetPassword();
    std::u16string stored = Ansi(password);
    if (FLevel < 4) {
      for (auto* s : {&given, &stored}) {
        for (auto& ch : *s) {
          if (ch >= u'a' && ch <= u'z') ch = static_cast<char16_t>(ch - u'a' + u'A');
        }
      }
    }
    if (given != stored) RaiseEngineError(errInvalidCredentials, {});
  } else if (method == emClassic1 && Ansi(password) != FCryptor->GetPassword()) {
    RaiseEngineError(errInvalidCredentials, {});
  }
  if (FLevel == 4) {
    const auto raw = r.Bytes(2 + 2 * kOldCheckLength);
    std::vector<std::uint8_t> check(raw.begin(), raw.end());
    if (TVdbEncryption* cipher = FCryptor->Encryption()) cipher->DecryptBlock(check.data() + 2, 2 * kOldCheckLength);
    // The count is stored plain: a wrong count is damage, wrong characters a wrong key.
    if (vuGetU16(check.data()) != kOldCheckLength) Corrupt();
    if (vuGetU16(check.data() + 2 + 2 * kOldCheckRecordSize) != static_cast<std::uint16_t>(recordSize) ||
        vuGetU16(check.data() + 2 + 2 * kOldCheckColumnCount) != static_cast<std::uint16_t>(columns)) {
      RaiseEngineError(errInvalidCredentials, {});
    }
  }
  std::vector<std::u16string> enumNames(cols.size());
  for (std::size_t i = 0; i < cols.size(); ++i) {
    if (cols[i].Type != vctEnum) continue;
    r.CheckCount(cols[i].Param, 1 + kOldEnumItemCapacity);
    for (int k = 0; k < cols[i].Param; ++k) {
      if (k) enumNames[i] += u'\n';
      enumNames[i] += Ansi(r.ShortString(kOldEnumItemCapacity));
    }
  }
  std::vector<std::u16string> computations(cols.size());
  if (FLevel < 4) {
    for (std::size_t i = 0; i < cols.size(); ++i) {
      if (cols[i].Options & coComputed) computations[i] = Ansi(r.ShortString(kOldComputationCapacity));
    }
  } else {
    const std::int16_t count = r.I16();
    r.CheckCount(count, 4);
    for (int k = 0; k < count; ++k) {
      const std::int16_t no = r.I16();
      std::u16string text = r.Str16();
      if (no < 1 || no > columns) Corrupt();
      computations[static_cast<std::size_t>(no - 1)] = std::move(text);
    }
  }
  for (const auto& c : cols) {
    if (!(c.Options & coRangeConstraint)) continue;
    const auto raw = r.Bytes(kRangeDataSize);
    std::array<std::uint8_t, kRangeDataSize> range{};
    std::copy(raw.begin(), raw.end(), range.begin());
    def.RangeData.push_back(range);
  }
  if (FLevel == 4) {
    const std::int16_t keys = r.I16();
    r.CheckCount(keys, 5);
    for (int k = 0; k < keys; ++k) {
      const bool primary = r.U8() == 1;
      std::u16string name = Ansi(r.Str16A());
      const std::u16string list = Ansi(r.Str16A());
      def.KeyDefs.Add(std::make_unique<TVdbCandidateKeyDef>(std::move(name), primary, VdbSplitColumnList(list)));
    }
    const std::int16_t checks = r.I16();
    r.CheckCount(checks, 4);
    for (int k = 0; k < checks; ++k) {
      std::u16string name = Ansi(r.Str16A());
      std::u16string condition = r.Str16();
      def.CheckDefs.Add(std::make_unique<TVdbCheckDef>(std::move(name), std::move(condition)));
    }
    const std::int16_t foreign = r.I16();
    r.CheckCount(foreign, 11);
    for (int k = 0; k < foreign; ++k) {
      auto fk = std::make_unique<TVdbForeignKeyDef>(Ansi(r.Str16A()));
      fk->ParentTableName = Ansi(r.Str16A());
      fk->ParentColumnNames = VdbSplitColumnList(r.Str16());
      fk->ColumnNames = VdbSplitColumnList(r.Str16());
      r.U8();
      const std::uint8_t update = r.U8();
      const std::uint8_t del = r.U8();
      if (update > traCascade || del > traCascade) Corrupt();
      fk->UpdateAction = static_cast<TVdbReferentialAction>(update);
      fk->DeleteAction = static_cast<TVdbReferentialAction>(del);
      def.ForeignKeyDefs.Add(std::move(fk));
    }
  }
  // Column definitions.
  const std::u16string self = TableName();
  for (std::size_t i = 0; i < cols.size(); ++i) {
    const TOldColumn& c = cols[i];
    const bool nullable = (c.Options & coNullable) != 0;
    const TVdbDataType* type = nullptr;
    try {
      switch (c.Type) {
        case vctString:
        case vctWideString:
        case vctFixedBinary:
          type = TVdbDataType::GetDataType(c.Type, nullable, static_cast<std::uint32_t>(c.Size), FLevel);
          break;
        case vctFloat: type = TVdbDataType::GetFloatType(c.Type, nullable, c.Param, FLevel); break;
        case vctEnum: type = TVdbDataType::GetEnumType(nullable, false, enumNames[i], u'\n', u'\0', FLevel); break;
        case vctTime: {
          const int precision = FLevel == 4 && c.Param > 0 ? VdbNormalizeTimePrecision(c.Param, FLevel)
                                                           : (c.Size - (nullable ? 1 : 0) < 4 ? 2 : 3);
          type = TVdbDataType::GetDateTimeType(c.Type, nullable, precision, FLevel);
          break;
        }
        case vctDate:
        case vctTimeStamp:
          type = TVdbDataType::GetDateTimeType(c.Type, nullable, 4, (c.Options & coHasNullByte) != 0, FLevel);
          break;
        case 14:
        case 15: break;
        default: type = TVdbDataType::GetDataType(c.Type, nullable, FLevel); break;
      }
    } catch (const EVdbEngine&) {
      type = nullptr;
    }
    if (!type) Corrupt();
    auto column = TVdbColumnDef::CreateColumnDef(c.Name, type, c.Options);
    if (column->Size() != c.Size) Corrupt();
    column->SetOptions((c.Options & ~coHasNullByte) | (column->Options() & coHasNullByte));
    column->SetCalculationSource(computations[i]);
    if (auto* adl = dynamic_cast<TVdbAdlColumnDef*>(column.get())) {
      adl->SetLinkedTable(c.LinkedTable == u"@" ? self : c.LinkedTable);
    }
    def.ColumnDefs.Add(std::move(column));
  }
  AcceptColumns(def, columns, recordSize);
  if (FRecordIdPosition >= 0) {
    const auto vector = r.Bytes(VDB_SORT_VECTOR_SIZE);
    TVdbSortDef sort;
    try {
      sort.SetVectorData(std::span<const std::uint8_t, VDB_SORT_VECTOR_SIZE>(vector.data(), VDB_SORT_VECTOR_SIZE),
                         FLevel, &def.ColumnDefs);
    } catch (const EVdbEngine&) {
      Corrupt();  // an index definition naming no column is a damaged header
    }
    for (int i = def.ColumnDefs.GetCount() - 1; i >= 0; --i) {
      if (auto* rid = dynamic_cast<TVdbRecordIdColumnDef*>(&def.ColumnDefs.GetColumnDef(i))) {
        rid->SetIndexSpec(sort.GetSource());
        break;
      }
    }
    FNextIdPosition = columnsStart + static_cast<std::int64_t>(r.Position());
    r.I32();
  } else {
    FNextIdPosition = -1;
  }
  FFileOffset = columnsStart + static_cast<std::int64_t>(r.Position());
  if (FNextIdPosition >= 0) ReadNextRecordId();
  LoadRecordCount();
}

// ---- Count

void TVdbHeapDataFile::LoadRecordCount() {
  std::uint8_t b[4];
  ReadBytes(RecordCountPosition(), b, 4);
  const auto stored = static_cast<std::int32_t>(vuGetU32(b));
  if (stored < 0) Corrupt();
  const std::int64_t room = std::max<std::int64_t>(0, StorageBytes() - FFileOffset) / FRecordSize;
  FCountCorrected = stored > room;
  FFileSize = FCountCorrected ? static_cast<std::int32_t>(room) : stored;
}

void TVdbHeapDataFile::WriteCount() {
  std::uint8_t b[4];
  vuPutU32(b, static_cast<std::uint32_t>(FFileSize));
  WriteBytes(RecordCountPosition(), b, 4);
}

void TVdbHeapDataFile::StoreRecordCount() {
  CheckWritable();
  WriteCount();
  FCountCorrected = false;
}

// ---- New files

void TVdbHeapDataFile::NewFile(int level, TvuCryptor& cryptor, const TVdbTableDefinition& def, bool exclusive) {
  const std::u16string table = TableName();
  if (level < 5 || level > VDB_MAX_TABLE_LEVEL) RaiseEngineError(errNotSupported, {u"Creating tables below level 5"});
  const TvuEncryptionMethod method = cryptor.EncryptionMethod();
  if (method == emClassic1 || method == emClassic5) {
    RaiseEngineError(errFeatureNotAtLevel, {table, u"Classic encryption"});
  }
  if (!cryptor.Initialize()) RaiseEngineError(errInvalidPassword, {});
  const auto& cols = def.ColumnDefs;
  if (cols.GetCount() < 1 || cols.GetCount() > VDB_MAX_COLUMNS || cols.GetRecordSize() < 1 ||
      cols.GetRecordSize() > VDB_MAX_RECORD_SIZE || def.Capacity < 1) {
    Corrupt();
  }
  if (FFileSystem.FileExists(FFileName)) RaiseEngineError(errFileExists, {FFileName});
  if (IsOpen()) Close();
  FLevel = static_cast<std::int16_t>(level);
  FCryptor = &cryptor;
  std::vector<std::uint8_t> block = BuildDefinitionBlock(level, cryptor, def);
  const std::int64_t start =
      (kDefLengthOffset + 4 + static_cast<std::int64_t>(block.size()) + kDefinitionSlack) / kRecordAreaAlign *
      kRecordAreaAlign;
  block.resize(static_cast<std::size_t>(start - kDefBlockOffset), 0);
  if (TVdbEncryption* cipher = cryptor.Encryption()) cipher->EncryptBlock(block.data(), block.size());
  FStorage.Create(VDB_DATA_PAGE_SIZE, exclusive);
  try {
    std::int32_t nextId = 1;
    for (int i = cols.GetCount() - 1; i >= 0; --i) {
      if (auto* rid = dynamic_cast<const TVdbRecordIdColumnDef*>(&cols.GetColumnDef(i))) {
        nextId = rid->StartValue();
        break;
      }
    }
    std::vector<std::uint8_t> head(static_cast<std::size_t>(kFixedHeaderSize), 0);
    vuPutU32(head.data() + kMagicOffset, kVdbHeapMagic);
    vuPutU16(head.data() + kLevelOffset, static_cast<std::uint16_t>(level));
    head[kEncryptionOffset] = VdbEncryptionCode(method);
    vuPutU32(head.data() + kNextIdOffset, static_cast<std::uint32_t>(nextId));
    vuPutU32(head.data() + kDefLengthOffset, static_cast<std::uint32_t>(block.size()));
    WriteBytes(0, head.data(), static_cast<std::int64_t>(head.size()));
    WriteBytes(kDefBlockOffset, block.data(), static_cast<std::int64_t>(block.size()));
    FStorage.Guarded(errFileWrite, [&] {
      SetPageCountFor(start);
      FStorage.Client().Flush();
    });
    FFileOffset = start;
    FFileSize = 0;
    FCountCorrected = false;
    FNextRecordId = nextId;
    FIndexNames.clear();
    AcceptColumns(def, cols.GetCount(), cols.GetRecordSize());
  } catch (...) {
    DiscardNewFile();
    throw;
  }
}

void TVdbHeapDataFile::DiscardNewFile() noexcept {
  try {
    FStorage.Client().Undo();
  } catch (...) {
    // The file is removed below; the first error is the one to report.
  }
  FStorage.CloseQuietly();
  FFileSystem.DeleteFile(FFileName);
}

void TVdbHeapDataFile::SetPageCountFor(std::int64_t bytes) {
  TVdbClientStorage& client = FStorage.Client();
  const std::int64_t pageSize = client.GetPageSize();
  client.SetPageCount((bytes + pageSize - 1) / pageSize);
}

void TVdbHeapDataFile::Close() {
  FFileSize = 0;
  FCountCorrected = false;
  TVdbDataFile::Close();
}

void TVdbHeapDataFile::Clear() {
  CheckWritable();
  FFileSize = 0;
  WriteCount();
  FStorage.Guarded(errFileWrite, [&] { SetPageCountFor(FFileOffset); });
}

void TVdbHeapDataFile::Undo() {
  TVdbDataFile::Undo();
  if (IsOpen()) LoadRecordCount();
}

void TVdbHeapDataFile::Invalidate() {
  TVdbDataFile::Invalidate();
  if (IsOpen()) LoadRecordCount();
}

// ---- Records

std::int32_t TVdbHeapDataFile::GetNextRecordNo(std::int32_t recNo) const {
  return recNo >= 0 && recNo < FFileSize ? recNo + 1 : -errRecordNotFoundResult;
}

std::int32_t TVdbHeapDataFile::GetPrevRecordNo(std::int32_t recNo) const {
  return recNo >= 2 && recNo <= FFileSize ? recNo - 1 : -errRecordNotFoundResult;
}

void TVdbHeapDataFile::CheckRecNo(std::int32_t recNo) const {
  if (recNo < 1 || recNo > FFileSize) RaiseEngineError(errRecordNotFound, {});
}

void TVdbHeapDataFile::ReadRecord(std::int32_t recNo, std::span<std::uint8_t> buffer) {
  CheckRecNo(recNo);
  if (buffer.size() < FRecordSize) RaiseEngineError(errInvalidParameterValue, {u"record buffer"});
  ReadBytes(FFileOffset + static_cast<std::int64_t>(recNo - 1) * FRecordSize, buffer.data(), FRecordSize);
  if (TVdbEncryption* cipher = FCryptor ? FCryptor->Encryption() : nullptr) cipher->DecryptBlock(buffer.data(), FRecordSize);
}

void TVdbHeapDataFile::WriteRecord(std::int32_t recNo, std::span<const std::uint8_t> buffer) {
  CheckWritable();
  if (recNo < 1) RaiseEngineError(errFileWrite, {FFileName});
  CheckRecNo(recNo);
  if (buffer.size() < FRecordSize) RaiseEngineError(errInvalidParameterValue, {u"record buffer"});
  std::vector<std::uint8_t> bytes(buffer.begin(), buffer.begin() + FRecordSize);
  if (TVdbEncryption* cipher = FCryptor ? FCryptor->Encryption() : nullptr) cipher->EncryptBlock(bytes.data(), bytes.size());
  WriteBytes(FFileOffset + static_cast<std::int64_t>(recNo - 1) * FRecordSize, bytes.data(), FRecordSize);
}

std::int32_t TVdbHeapDataFile::InsertRecord(std::span<const std::uint8_t> buffer) {
  CheckWritable();
  if (!CanAppend()) RaiseEngineError(errCapacityReached, {TableName()});
  if (buffer.size() < FRecordSize) RaiseEngineError(errInvalidParameterValue, {u"record buffer"});
  std::vector<std::uint8_t> bytes(buffer.begin(), buffer.begin() + FRecordSize);
  if (TVdbEncryption* cipher = FCryptor ? FCryptor->Encryption() : nullptr) cipher->EncryptBlock(bytes.data(), bytes.size());
  const std::int32_t recNo = FFileSize + 1;
  WriteBytes(FFileOffset + static_cast<std::int64_t>(FFileSize) * FRecordSize, bytes.data(), FRecordSize);
  // The count in memory changes only with the stored one, so a failed insert leaves both.
  FFileSize = recNo;
  try {
    FStorage.Guarded(errFileWrite, [&] {
      WriteCount();
      SetPageCountFor(GetStorageSize());
    });
  } catch (const EVdbEngine&) {
    --FFileSize;
    throw;
  }
  return recNo;
}

void TVdbHeapDataFile::DeleteRecord(std::int32_t recNo) {
  CheckWritable();
  CheckRecNo(recNo);
  if (recNo != FFileSize) RaiseEngineError(errNotSupported, {u"Deleting a record other than the last of a heap file"});
  --FFileSize;
  try {
    WriteCount();
  } catch (const EVdbEngine&) {
    ++FFileSize;
    throw;
  }
  FStorage.Guarded(errFileWrite, [&] { SetPageCountFor(GetStorageSize()); });
}

}  // namespace vdb
