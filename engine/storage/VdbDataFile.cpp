// The data file interface and the header parts shared by its implementations.
//
// Index-name area of levels 5 and 6 (stored on disk: never renumber):
//   offset 0         2 bytes   name count (signed, 0..50)
//   2 + 90 × i       2 bytes   character count of name i (0..44)
//   4 + 90 × i      88 bytes   UTF-16LE characters, zero-padded
// Old levels: 1 length byte + 44 (level 1: 12) 8-bit characters per slot.
//
// Definition block of levels 5 and 6 (enciphered as a whole; Str16 = u16 count + UTF-16LE):
//   Str16 check string (40 random 'a'..'z', [7] = 't', [24] = 'd', [37] = 'b')
//   Str16 stored password, padded with zero characters to 40 (82 bytes; scrambled)
//   Str16 collation name; i32 capacity; i32 0; i16 record size; i16 0
//   Str16 record-id index specification [+ u8 unique-id information when not empty]
//   level 6: i16 type count, per type Str16 name, i16 code, i16 super-type code
//   i16 column count; per column: u8 type code, Str16 name, i32 options, i16 size,
//     Str16 computation, then by type: 1, 18: Str16 collation + i16 max length; 3: u8 scale;
//     7, 19: Str16 collation; 8: Str16 item names joined by LF; 10, 12: Str16 linked table;
//     13: u8 precision
//   i16 key count; per key u8 primary, Str16 name, Str16 columns
//   i16 check count; per check Str16 name, Str16 condition, Str16 reserved
//   i16 foreign-key count; per key Str16 name, Str16 columns, Str16 parent table,
//     Str16 parent columns, u8 update action, u8 delete action
//   zero bytes to the block's length
#include "storage/VdbDataFile.h"

#include <algorithm>
#include <random>

#include "base/VdbErrorCodes.h"
#include "base/VdbErrors.h"
#include "storage/VdbBPlusDataFile.h"
#include "storage/VdbHeapDataFile.h"
#include "base/vuLittleEndian.h"
#include "types/vuCodePage.h"

namespace vdb {

namespace {

// Index-name area of levels 5 and 6 (stored on disk: never renumber).
constexpr std::int64_t kNamesCountSize = 2;
constexpr std::int64_t kNameSlotSize = 90;

// Check string (stored on disk: never renumber).
constexpr std::size_t kCheckLength = 40;
constexpr std::size_t kCheckPos1 = 7, kCheckPos2 = 24, kCheckPos3 = 37;
constexpr char16_t kCheckChar1 = u't', kCheckChar2 = u'd', kCheckChar3 = u'b';
constexpr std::size_t kStoredPasswordChars = 40;
// Smallest column entry of a definition block: type, empty name, options, size, empty text.
constexpr std::size_t kMinColumnEntry = 1 + 2 + 4 + 2 + 2;

// Level-5 passwords pass through 8-bit characters; byte values map one to one to the first
// 256 code points, so the scramble stays reversible for every character.
std::string ToBytes(std::u16string_view s) {
  std::string out;
  for (char16_t c : s) out.push_back(static_cast<char>(c <= 0xFF ? c : u'?'));
  return out;
}
std::u16string FromBytes(std::string_view s) {
  std::u16string out;
  for (char c : s) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
  return out;
}

std::u16string ScrambleForLevel(std::u16string_view password, int level) {
  return level >= 6 ? VdbScramblePassword(password) : FromBytes(VdbScramblePassword8(ToBytes(password)));
}

std::u16string CheckString() {
  static thread_local std::mt19937 random{std::random_device{}()};
  std::uniform_int_distribution<int> letter(0, 25);
  std::u16string s(kCheckLength, u'a');
  for (auto& c : s) c = static_cast<char16_t>(u'a' + letter(random));
  s[kCheckPos1] = kCheckChar1;
  s[kCheckPos2] = kCheckChar2;
  s[kCheckPos3] = kCheckChar3;
  return s;
}

}  // namespace

// ---- Byte reader and writer

void TVdbByteReader::Fail() const { RaiseEngineError(FCode, {}); }

std::span<const std::uint8_t> TVdbByteReader::Bytes(std::size_t count) {
  if (count > Remaining()) Fail();
  auto out = FBytes.subspan(FPos, count);
  FPos += count;
  return out;
}
std::uint8_t TVdbByteReader::U8() { return Bytes(1)[0]; }
std::int16_t TVdbByteReader::I16() { return static_cast<std::int16_t>(vuGetU16(Bytes(2).data())); }
std::uint16_t TVdbByteReader::U16() { return vuGetU16(Bytes(2).data()); }
std::int32_t TVdbByteReader::I32() { return static_cast<std::int32_t>(vuGetU32(Bytes(4).data())); }

std::u16string TVdbByteReader::Str16() {
  const std::size_t count = U16();
  const auto b = Bytes(count * 2);
  std::u16string s(count, u'\0');
  for (std::size_t i = 0; i < count; ++i) s[i] = static_cast<char16_t>(vuGetU16(b.data() + 2 * i));
  return s;
}

std::string TVdbByteReader::Str16A() {
  const std::size_t count = U16();
  const auto b = Bytes(count);
  return std::string(b.begin(), b.end());
}

std::string TVdbByteReader::ShortString(std::size_t capacity) {
  const auto b = Bytes(1 + capacity);
  const std::size_t length = std::min<std::size_t>(b[0], capacity);
  return std::string(b.begin() + 1, b.begin() + 1 + static_cast<std::ptrdiff_t>(length));
}

void TVdbByteReader::CheckCount(std::int64_t count, std::size_t itemSize) const {
  if (count < 0 || static_cast<std::uint64_t>(count) * itemSize > Remaining()) Fail();
}

void TVdbByteWriter::I16(std::int16_t v) {
  std::uint8_t b[2];
  vuPutU16(b, static_cast<std::uint16_t>(v));
  FBytes.insert(FBytes.end(), b, b + 2);
}
void TVdbByteWriter::I32(std::int32_t v) {
  std::uint8_t b[4];
  vuPutU32(b, static_cast<std::uint32_t>(v));
  FBytes.insert(FBytes.end(), b, b + 4);
}
void TVdbByteWriter::Str16(std::u16string_view s) {
  I16(static_cast<std::int16_t>(s.size()));
  for (char16_t c : s) I16(static_cast<std::int16_t>(c));
}
void TVdbByteWriter::Fixed(std::u16string_view s, std::size_t chars) {
  Str16(s);
  for (std::size_t i = s.size(); i < chars; ++i) I16(0);
}

// ---- TVdbDataFile

TVdbDataFile::TVdbDataFile(TVdbPageManager& pageManager, TvuFileSystem& fs, std::u16string fileName,
                           std::int32_t clientHdl)
    : FFileSystem(fs), FFileName(fileName), FStorage(pageManager, fs, std::move(fileName), clientHdl) {}

TVdbDataFile::~TVdbDataFile() = default;

std::u16string TVdbDataFile::TableName() const {
  std::u16string name = FFileName;
  if (const auto slash = name.find_last_of(u"/\\"); slash != std::u16string::npos) name.erase(0, slash + 1);
  for (std::u16string_view ext : {std::u16string_view(u".vdbt"), std::u16string_view(u".dat")}) {
    if (name.size() > ext.size() && VdbSameName(std::u16string_view(name).substr(name.size() - ext.size()), ext)) {
      name.resize(name.size() - ext.size());
      break;
    }
  }
  return name;
}

void TVdbDataFile::Corrupt() const { RaiseEngineError(errUnknownTableVersion, {}); }

void TVdbDataFile::Close() { FStorage.Close(); }

void TVdbDataFile::Flush() { FStorage.Flush(); }

// Both re-read what the cache dropped, so a failing file is reported as a read error.
void TVdbDataFile::Undo() {
  if (!IsOpen()) return;
  FStorage.Guarded(errFileRead, [&] {
    FStorage.Page().UnloadPage();
    FStorage.Client().Undo();
  });
}

void TVdbDataFile::Invalidate() {
  if (!IsOpen()) return;
  FStorage.Guarded(errFileRead, [&] {
    FStorage.Page().UnloadPage();
    FStorage.Client().Invalidate();
  });
}

void TVdbDataFile::CheckWritable() const {
  if (!IsOpen()) RaiseEngineError(errFileWrite, {FFileName});
  if (FStorage.ReadOnly()) RaiseEngineError(errNoWriteAccess, {});
}

std::int64_t TVdbDataFile::StorageBytes() const {
  return FStorage.Client().GetPageCount() * FStorage.Client().GetPageSize();
}

void TVdbDataFile::ReadBytes(std::int64_t pos, void* dest, std::int64_t count) {
  if (!IsOpen() || pos < 0 || count < 0 || pos + count > StorageBytes()) {
    RaiseEngineError(errFileRead, {FFileName});
  }
  auto* out = static_cast<std::uint8_t*>(dest);
  TVdbStoragePageSite& page = FStorage.Page();
  const std::int64_t pageSize = FStorage.Client().GetPageSize();
  FStorage.Guarded(
      errFileRead,
      [&] {
        while (count > 0) {
          const std::int64_t pageNo = pos / pageSize;
          const auto offset = static_cast<std::int32_t>(pos % pageSize);
          const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(count, pageSize - offset));
          if (!page.IsLoaded() || page.PageNo() != pageNo) page.LoadPage(pageNo);
          page.Read(offset, out, n);
          out += n;
          pos += n;
          count -= n;
        }
      },
      [&] { page.UnloadPage(); });
}

void TVdbDataFile::WriteBytes(std::int64_t pos, const void* source, std::int64_t count) {
  CheckWritable();
  if (pos < 0 || count < 0) RaiseEngineError(errFileWrite, {FFileName});
  const auto* in = static_cast<const std::uint8_t*>(source);
  TVdbClientStorage& client = FStorage.Client();
  TVdbStoragePageSite& page = FStorage.Page();
  const std::int64_t pageSize = client.GetPageSize();
  FStorage.Guarded(
      errFileWrite,
      [&] {
        while (count > 0) {
          const std::int64_t pageNo = pos / pageSize;
          const auto offset = static_cast<std::int32_t>(pos % pageSize);
          const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(count, pageSize - offset));
          if (pageNo >= client.GetPageCount()) {
            page.InitPage(pageNo);
          } else if (!page.IsLoaded() || page.PageNo() != pageNo) {
            page.LoadPage(pageNo);
          }
          page.Write(offset, in, n);
          in += n;
          pos += n;
          count -= n;
        }
      },
      [&] { page.UnloadPage(); });
}

// ---- Index names

void TVdbDataFile::ReadIndexNames() {
  const std::int64_t size = IndexNamesSize();
  std::vector<std::uint8_t> area(static_cast<std::size_t>(size));
  ReadBytes(IndexNamesPosition(), area.data(), size);
  FIndexNames.clear();
  const int count = static_cast<std::int16_t>(vuGetU16(area.data()));
  if (FLevel >= 5) {
    if (count < 0 || count > VDB_MAX_INDEX_NAMES) Corrupt();
    for (int i = 0; i < count; ++i) {
      const std::uint8_t* slot = area.data() + kNamesCountSize + kNameSlotSize * i;
      const std::uint16_t length = vuGetU16(slot);
      if (length > VDB_MAX_INDEX_NAME_LENGTH) Corrupt();
      std::u16string name(length, u'\0');
      for (std::uint16_t k = 0; k < length; ++k) name[k] = static_cast<char16_t>(vuGetU16(slot + 2 + 2 * k));
      FIndexNames.push_back(std::move(name));
    }
    return;
  }
  // Old levels: 8-bit slots.
  const std::int64_t slotSize = FLevel == 1 ? 13 : 45;
  const std::int64_t slots = (size - kNamesCountSize) / slotSize;
  if (count < 0 || count > slots) Corrupt();
  for (int i = 0; i < count; ++i) {
    const std::uint8_t* slot = area.data() + kNamesCountSize + slotSize * i;
    const std::size_t length = std::min<std::size_t>(slot[0], static_cast<std::size_t>(slotSize - 1));
    FIndexNames.push_back(TvuCodePage::ToUnicode(VDB_BUILTIN_CODE_PAGE,
                                                 std::string_view(reinterpret_cast<const char*>(slot + 1), length)));
  }
}

void TVdbDataFile::WriteIndexNames() {
  CheckWritable();
  if (FLevel < 5) RaiseEngineError(errFeatureNotAtLevel, {TableName(), u"Index names"});
  if (FIndexNames.size() > static_cast<std::size_t>(VDB_MAX_INDEX_NAMES)) RaiseEngineError(errTooManyIndexes, {});
  for (const auto& name : FIndexNames) {
    if (name.empty() || name.size() > static_cast<std::size_t>(VDB_MAX_INDEX_NAME_LENGTH)) {
      RaiseEngineError(errInvalidIndexName, {name});
    }
  }
  const std::size_t used = static_cast<std::size_t>(kNamesCountSize + kNameSlotSize * FIndexNames.size());
  std::vector<std::uint8_t> area(used, 0);
  vuPutU16(area.data(), static_cast<std::uint16_t>(FIndexNames.size()));
  for (std::size_t i = 0; i < FIndexNames.size(); ++i) {
    std::uint8_t* slot = area.data() + kNamesCountSize + kNameSlotSize * i;
    vuPutU16(slot, static_cast<std::uint16_t>(FIndexNames[i].size()));
    for (std::size_t k = 0; k < FIndexNames[i].size(); ++k) vuPutU16(slot + 2 + 2 * k, FIndexNames[i][k]);
  }
  WriteBytes(IndexNamesPosition(), area.data(), static_cast<std::int64_t>(area.size()));
}

void TVdbDataFile::DeleteIndexName(int indexNo) {
  if (indexNo < 1 || indexNo > static_cast<int>(FIndexNames.size())) RaiseEngineError(errIndexNotFound, {u""});
  auto names = FIndexNames;
  names.erase(names.begin() + (indexNo - 1));
  std::swap(names, FIndexNames);
  try {
    WriteIndexNames();
  } catch (...) {
    std::swap(names, FIndexNames);
    throw;
  }
}

// ---- Record ids

std::int32_t TVdbDataFile::ReadNextRecordId() {
  std::uint8_t b[4];
  ReadBytes(NextRecordIdPosition(), b, 4);
  FNextRecordId = static_cast<std::int32_t>(vuGetU32(b));
  return FNextRecordId;
}

void TVdbDataFile::WriteNextRecordId(std::int32_t id) {
  std::uint8_t b[4];
  vuPutU32(b, static_cast<std::uint32_t>(id));
  WriteBytes(NextRecordIdPosition(), b, 4);
  FNextRecordId = id;
}

std::int32_t TVdbDataFile::ObtainNewRecordId() {
  CheckWritable();
  const std::int32_t id = ReadNextRecordId();
  if (id < 1 || id == VDB_MAX_RECORD_COUNT) RaiseEngineError(errCapacityReached, {TableName()});
  WriteNextRecordId(id + 1);
  return id;
}

void TVdbDataFile::RevokeRecordId(std::int32_t id) {
  if (ReadNextRecordId() == static_cast<std::int64_t>(id) + 1) WriteNextRecordId(id);
}

void TVdbDataFile::SetNextRecordId(std::int32_t id) { WriteNextRecordId(id); }

// ---- Definition block

std::vector<std::uint8_t> TVdbDataFile::BuildDefinitionBlock(int level, TvuCryptor& cryptor,
                                                             const TVdbTableDefinition& def) const {
  TVdbByteWriter w;
  w.Str16(CheckString());
  w.Fixed(ScrambleForLevel(cryptor.GetPassword(), level), kStoredPasswordChars);
  w.Str16(def.CollationName);
  w.I32(def.Capacity);
  w.I32(0);
  w.I16(static_cast<std::int16_t>(def.ColumnDefs.GetRecordSize()));
  w.I16(0);
  const TVdbRecordIdColumnDef* recordId = nullptr;
  for (int i = def.ColumnDefs.GetCount() - 1; i >= 0 && !recordId; --i) {
    recordId = dynamic_cast<const TVdbRecordIdColumnDef*>(&def.ColumnDefs.GetColumnDef(i));
  }
  const std::u16string indexText = recordId ? recordId->IndexSpec() : std::u16string();
  w.Str16(indexText);
  if (!indexText.empty()) w.U8(recordId->UniqueIdInfo());
  if (level >= 6) w.I16(0);  // user types: the heap file keeps none
  w.I16(static_cast<std::int16_t>(def.ColumnDefs.GetCount()));
  for (int i = 0; i < def.ColumnDefs.GetCount(); ++i) {
    const TVdbColumnDef& c = def.ColumnDefs.GetColumnDef(i);
    const TVdbColumnType t = c.ColumnType();
    w.U8(static_cast<std::uint8_t>(t));
    w.Str16(c.Name());
    w.I32(static_cast<std::int32_t>(c.Options()));
    w.I16(static_cast<std::int16_t>(c.Size()));
    w.Str16(c.CalculationSource());
    const auto* text = dynamic_cast<const TVdbTextColumnDef*>(&c);
    if (t == vctString || t == vctWideString) {
      w.Str16(text ? text->CollationName() : u"");
      w.I16(static_cast<std::int16_t>(static_cast<const TVdbStringType*>(c.DataType())->MaxLength()));
    } else if (t == vctMemo || t == vctWideMemo) {
      w.Str16(text ? text->CollationName() : u"");
    } else if (t == vctFloat) {
      w.U8(static_cast<std::uint8_t>(static_cast<const TVdbNumberColumnDef&>(c).Scale()));
    } else if (t == vctEnum) {
      std::u16string joined;
      for (const auto& item : static_cast<const TVdbEnumColumnDef&>(c).Items()) {
        if (!joined.empty()) joined += u'\n';
        joined += item.Name;
      }
      w.Str16(joined);
    } else if (t == vctLink || t == vctRelation) {
      w.Str16(static_cast<const TVdbAdlColumnDef&>(c).LinkedTable());
    } else if (t == vctTime) {
      w.U8(static_cast<std::uint8_t>(static_cast<const TVdbTimeColumnDef&>(c).Precision()));
    }
  }
  w.I16(static_cast<std::int16_t>(def.KeyDefs.GetCount()));
  for (int i = 0; i < def.KeyDefs.GetCount(); ++i) {
    const auto& k = def.KeyDefs.GetNamedDef(i);
    w.U8(k.IsPrimary() ? 1 : 0);
    w.Str16(k.Name());
    w.Str16(k.JoinedColumnNames());
  }
  w.I16(static_cast<std::int16_t>(def.CheckDefs.GetCount()));
  for (int i = 0; i < def.CheckDefs.GetCount(); ++i) {
    const auto& c = def.CheckDefs.GetNamedDef(i);
    w.Str16(c.Name());
    w.Str16(c.ConditionText());
    w.Str16(u"");
  }
  w.I16(static_cast<std::int16_t>(def.ForeignKeyDefs.GetCount()));
  for (int i = 0; i < def.ForeignKeyDefs.GetCount(); ++i) {
    const auto& f = def.ForeignKeyDefs.GetNamedDef(i);
    w.Str16(f.Name());
    w.Str16(VdbJoinColumnList(f.ColumnNames));
    w.Str16(f.ParentTableName);
    w.Str16(VdbJoinColumnList(f.ParentColumnNames));
    w.U8(f.UpdateAction);
    w.U8(f.DeleteAction);
  }
  return std::move(w.Data());
}

namespace {

// The value type of a column read from a header; raises 134 for parameters no type takes.
const TVdbDataType* StoredColumnType(TVdbColumnType t, bool nullable, std::uint32_t options, std::int32_t size,
                                     std::int32_t maxLength, int scale, int precision,
                                     std::u16string_view enumNames, std::u16string_view collation, int level) {
  try {
    switch (t) {
      case vctString:
      case vctWideString:
      case vctMemo:
      case vctWideMemo: return TVdbDataType::GetStringType(t, nullable, maxLength, collation, level);
      case vctFloat: return TVdbDataType::GetFloatType(t, nullable, scale, level);
      case vctEnum: return TVdbDataType::GetEnumType(nullable, false, enumNames, u'\n', u'\0', level);
      case vctTime: return TVdbDataType::GetDateTimeType(t, nullable, precision, level);
      case vctDate:
      case vctTimeStamp:
        return TVdbDataType::GetDateTimeType(t, nullable, 4, (options & coHasNullByte) != 0, level);
      case vctFixedBinary:
        return TVdbDataType::GetDataType(t, nullable, static_cast<std::uint32_t>(std::max(size, 0)), level);
      case 14:
      case 15: return nullptr;
      default: return TVdbDataType::GetDataType(t, nullable, level);
    }
  } catch (const EVdbEngine& e) {
    if (e.Code() == errUnknownCollation) throw;
    return nullptr;
  }
}

}  // namespace

std::int32_t TVdbDataFile::ParseDefinitionBlock(std::span<const std::uint8_t> block, int level, TvuCryptor& cryptor,
                                                TVdbTableDefinition& def) {
  TVdbByteReader r(block, errUnknownTableVersion);
  // A block too short for its first two fields is damage, not a wrong key.
  if (block.size() < 2 * (2 + 2 * kCheckLength)) Corrupt();
  // A wrong key deciphers into noise: the check string and the password decide first.
  {
    TVdbByteReader c(block, errInvalidCredentials);
    const std::u16string check = c.Str16();
    if (check.size() != kCheckLength || check[kCheckPos1] != kCheckChar1 || check[kCheckPos2] != kCheckChar2 ||
        check[kCheckPos3] != kCheckChar3) {
      RaiseEngineError(errInvalidCredentials, {});
    }
    const std::u16string stored = c.Str16();
    if (stored.size() > kStoredPasswordChars) RaiseEngineError(errInvalidCredentials, {});
    if (ScrambleForLevel(stored, level) != cryptor.GetPassword()) RaiseEngineError(errInvalidCredentials, {});
  }
  r.Str16();
  r.Skip(2 + 2 * kStoredPasswordChars);
  def.CollationName = r.Str16();
  def.Capacity = r.I32();
  r.I32();
  const std::int32_t recordSize = static_cast<std::uint16_t>(r.I16());
  r.I16();
  const std::u16string recordIdSpec = r.Str16();
  const std::uint8_t uniqueIdInfo = recordIdSpec.empty() ? 0 : r.U8();
  if (def.Capacity < 1) Corrupt();
  if (level >= 6) {
    const std::int16_t types = r.I16();
    r.CheckCount(types, 6);
    for (int i = 0; i < types; ++i) {
      std::u16string name = r.Str16();
      const std::int16_t code = r.I16();
      const std::int16_t super = r.I16();
      def.Types.Add(std::make_unique<TVdbTypeDef>(std::move(name), code, super));
    }
  }
  const std::int16_t columns = r.I16();
  if (columns < 1 || columns > VDB_MAX_COLUMNS) Corrupt();
  r.CheckCount(columns, kMinColumnEntry);
  TVdbCollation::Resolve(def.CollationName);  // an unknown table collation raises 138
  const std::u16string self = TableName();
  for (int i = 0; i < columns; ++i) {
    const auto t = static_cast<TVdbColumnType>(r.U8());
    std::u16string name = r.Str16();
    const auto options = static_cast<std::uint32_t>(r.I32());
    const std::int32_t size = static_cast<std::uint16_t>(r.I16());
    std::u16string calculation = r.Str16();
    std::u16string collation, extraText;
    std::int32_t maxLength = 0;
    int scale = 0, precision = 0;
    if (t == vctString || t == vctWideString) {
      collation = r.Str16();
      maxLength = r.I16();
    } else if (t == vctMemo || t == vctWideMemo) {
      collation = r.Str16();
    } else if (t == vctFloat) {
      scale = r.U8();
    } else if (t == vctEnum || t == vctLink || t == vctRelation) {
      extraText = r.Str16();
    } else if (t == vctTime) {
      precision = r.U8();
    }
    const bool nullable = (options & coNullable) != 0;
    const TVdbDataType* type =
        StoredColumnType(t, nullable, options, size, maxLength, scale, precision, extraText,
                         collation.empty() ? std::u16string_view(def.CollationName) : collation, level);
    if (!type) Corrupt();
    auto column = TVdbColumnDef::CreateColumnDef(std::move(name), type, options);
    if (column->Size() != size) Corrupt();
    column->SetOptions((options & ~coHasNullByte) | (column->Options() & coHasNullByte));
    column->SetCalculationSource(std::move(calculation));
    if (auto* text = dynamic_cast<TVdbTextColumnDef*>(column.get())) text->SetCollationName(collation);
    if (auto* adl = dynamic_cast<TVdbAdlColumnDef*>(column.get())) {
      adl->SetLinkedTable(extraText == u"@" ? self : extraText);
    }
    def.ColumnDefs.Add(std::move(column));
  }
  for (int i = def.ColumnDefs.GetCount() - 1; i >= 0; --i) {
    if (auto* rid = dynamic_cast<TVdbRecordIdColumnDef*>(&def.ColumnDefs.GetColumnDef(i))) {
      rid->SetIndexSpec(recordIdSpec);
      rid->SetUniqueIdInfo(uniqueIdInfo);
      break;
    }
  }
  const std::int16_t keys = r.I16();
  r.CheckCount(keys, 5);
  for (int i = 0; i < keys; ++i) {
    const bool primary = r.U8() == 1;
    std::u16string name = r.Str16();
    const std::u16string list = r.Str16();
    def.KeyDefs.Add(std::make_unique<TVdbCandidateKeyDef>(std::move(name), primary, VdbSplitColumnList(list)));
  }
  const std::int16_t checks = r.I16();
  r.CheckCount(checks, 6);
  for (int i = 0; i < checks; ++i) {
    std::u16string name = r.Str16();
    std::u16string condition = r.Str16();
    r.Str16();
    def.CheckDefs.Add(std::make_unique<TVdbCheckDef>(std::move(name), std::move(condition)));
  }
  const std::int16_t foreign = r.I16();
  r.CheckCount(foreign, 10);
  for (int i = 0; i < foreign; ++i) {
    auto fk = std::make_unique<TVdbForeignKeyDef>(r.Str16());
    fk->ColumnNames = VdbSplitColumnList(r.Str16());
    fk->ParentTableName = r.Str16();
    fk->ParentColumnNames = VdbSplitColumnList(r.Str16());
    const std::uint8_t update = r.U8();
    const std::uint8_t del = r.U8();
    if (update > traCascade || del > traCascade) Corrupt();
    fk->UpdateAction = static_cast<TVdbReferentialAction>(update);
    fk->DeleteAction = static_cast<TVdbReferentialAction>(del);
    def.ForeignKeyDefs.Add(std::move(fk));
  }
  AcceptColumns(def, columns, recordSize);
  return recordSize;
}

void TVdbDataFile::AcceptColumns(const TVdbTableDefinition& def, std::int64_t storedColumns,
                                 std::int64_t storedRecordSize) {
  const auto& cols = def.ColumnDefs;
  if (storedColumns < 1 || storedColumns > VDB_MAX_COLUMNS || cols.GetCount() != storedColumns) Corrupt();
  if (storedRecordSize < 1 || storedRecordSize > VDB_MAX_RECORD_SIZE || cols.GetRecordSize() != storedRecordSize) {
    Corrupt();
  }
  FRecordSize = static_cast<std::uint16_t>(storedRecordSize);
  FRecordIdPosition = -1;
  for (int i = cols.GetCount() - 1; i >= 0; --i) {
    if (cols.GetColumnDef(i).ColumnType() == vctRecordId) {
      FRecordIdPosition = cols.GetColumnDef(i).Position();
      break;
    }
  }
}

// ---- Choosing the implementation

std::unique_ptr<TVdbDataFile> VdbOpenDataFile(TVdbPageManager& pageManager, TvuFileSystem& fs,
                                              std::u16string fileName, std::int32_t clientHdl, bool readOnly,
                                              bool exclusive, TvuCryptor& cryptor, TVdbTableDefinition& def) {
  std::uint8_t magic[4] = {};
  const TvuFileHandle h = fs.OpenFile(fileName, fmOpenRead | fmShareDenyNone);
  if (!TvuFileSystem::IsValidHandle(h)) RaiseEngineError(errFileNotFoundOrDenied, {fileName});
  const std::int64_t got = fs.FileRead(h, 0, magic, 4);
  fs.CloseFile(h);
  std::unique_ptr<TVdbDataFile> file;
  if (got == 4 && vuGetU32(magic) == kVdbBPlusMagic) {
    file = std::make_unique<TVdbBPlusDataFile>(pageManager, fs, std::move(fileName), clientHdl);
  } else {
    file = std::make_unique<TVdbHeapDataFile>(pageManager, fs, std::move(fileName), clientHdl);
  }
  file->Open(readOnly, exclusive, cryptor, def);
  return file;
}

std::unique_ptr<TVdbDataFile> VdbNewDataFile(TVdbPageManager& pageManager, TvuFileSystem& fs,
                                             std::u16string fileName, std::int32_t clientHdl, int level,
                                             TvuCryptor& cryptor, const TVdbTableDefinition& def, bool exclusive) {
  constexpr std::int32_t kBPlusMaxRecordSize = 16384;
  const auto& cols = def.ColumnDefs;
  const bool bplus = level == 6 && cols.GetCount() > 0 && cols.GetColumnDef(0).ColumnType() == vctRecordId &&
                     cols.GetColumnDef(0).Name() == u"_XXX" && cols.GetRecordSize() <= kBPlusMaxRecordSize;
  std::unique_ptr<TVdbDataFile> file;
  if (bplus) {
    file = std::make_unique<TVdbBPlusDataFile>(pageManager, fs, std::move(fileName), clientHdl);
  } else {
    file = std::make_unique<TVdbHeapDataFile>(pageManager, fs, std::move(fileName), clientHdl);
  }
  file->NewFile(level, cryptor, def, exclusive);
  return file;
}

}  // namespace vdb
