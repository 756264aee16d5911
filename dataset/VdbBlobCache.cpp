// The dataset's blob caches: the content of memo, blob and fixed binary fields loaded per record
// buffer on first use, and the stream over one cached field.
#include "VdbDataSet.h"

#include "VdbText.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>

namespace vdbds {

// ---------------------------------------------------------------- blob caches

int TVdbDataSet::BlobIndexOf(const tk::TField& field) const {
  const auto index = static_cast<std::size_t>(field.FieldNo() - 1);
  if (index >= FBlobFieldIndex.size() || FBlobFieldIndex[index] < 0)
    tk::DatabaseError(u"Field %s not found", {field.FieldName()});
  return FBlobFieldIndex[index];
}

TVdbDataSet::TBlobCache* TVdbDataSet::FindCache(const tk::TRecordBuffer& buffer) const {
  const std::int32_t slot = ReadInt32(buffer, FBlobCacheOfs);
  if (slot < 0 || static_cast<std::size_t>(slot) >= FBlobInfoList.size()) return nullptr;
  return FBlobInfoList[static_cast<std::size_t>(slot)].get();
}

TVdbDataSet::TBlobCache& TVdbDataSet::CacheOf(tk::TRecordBuffer& buffer) {
  if (TBlobCache* cache = FindCache(buffer)) return *cache;
  auto free = std::find(FBlobInfoList.begin(), FBlobInfoList.end(), nullptr);
  if (free == FBlobInfoList.end()) {
    const std::size_t old = FBlobInfoList.size();
    FBlobInfoList.resize(old + kCacheSlotsStep);
    free = FBlobInfoList.begin() + static_cast<std::ptrdiff_t>(old);
  }
  *free = std::make_unique<TBlobCache>(static_cast<std::size_t>(FBlobFieldCount));
  WriteInt32(buffer, FBlobCacheOfs, static_cast<std::int32_t>(free - FBlobInfoList.begin()));
  return **free;
}

TVdbDataSet::TBlobEntry& TVdbDataSet::LoadedEntry(const tk::TField& field, tk::TRecordBuffer& buffer) {
  const TVdbFieldDef& def = DefOf(field);
  TBlobEntry& entry = CacheOf(buffer)[static_cast<std::size_t>(BlobIndexOf(field))];
  if (entry.Loaded || entry.Modified) return entry;
  entry.Data.clear();
  if (def.DataTypeVdb == TVdbDataType::dtBytes) {
    tk::TFieldValue stored;
    if (ReadColumn(def.Layout, Image(buffer), CodePageOf(def), stored)) entry.Data = std::get<tk::TBytes>(stored);
    entry.Loaded = true;
    return entry;
  }
  tk::TFieldValue reference;
  if (!ReadColumn(def.Layout, Image(buffer), CodePageOf(def), reference) && RecNoOf(buffer) != 0) {
    entry.Loaded = true;  // no reference stored: empty without asking the engine
    return entry;
  }
  TVdbCalls& calls = Calls();
  const std::int32_t saved = calls.TableGetRecNo(FTableHdl);
  const std::int32_t recNo = RecNoOf(buffer);
  const bool move = recNo != 0 && saved != recNo;
  auto restore = [&] {
    if (move) calls.TableSetRecNo(FTableHdl, std::max(saved, 0));
  };
  try {
    if (move) {
      const std::int32_t reached = calls.TableSetRecNo(FTableHdl, recNo);
      if (reached < 0) RaiseError(u"Reading blob", reached);
    }
    std::int16_t blobType = 0;
    const std::int32_t size = calls.TableInitGetBlob(FTableHdl, static_cast<std::int16_t>(def.FieldNo), -1, blobType);
    if (size < 0) RaiseError(u"Reading blob", size);
    const bool memo = def.DataTypeVdb != TVdbDataType::dtBlob;
    tk::TBytes data(static_cast<std::size_t>(size));
    // The transfer is ended by PerformGetBlob, also for an empty value.
    const std::int32_t got = calls.TablePerformGetBlob(FTableHdl, data.data(), size);
    if (got < 0) RaiseError(memo ? u"Reading memo" : u"Reading blob", got);
    data.resize(static_cast<std::size_t>(std::min(got, size)));
    if (memo) {
      entry.Data = std::move(data);
    } else if (size > 0 || blobType != 0) {
      const auto word = static_cast<std::uint16_t>(blobType);
      entry.Data = {static_cast<std::uint8_t>(word & 0xFF), static_cast<std::uint8_t>(word >> 8)};
      entry.Data.insert(entry.Data.end(), data.begin(), data.end());
      if (word % 2 == 1) {
        // A linked file: its name follows, relative to the database's directory.
        const std::size_t nameLength = data.size() >= 2 ? (data[0] | (data[1] << 8)) : 0;
        const std::string name(data.begin() + std::min<std::size_t>(2, data.size()),
                               data.begin() + std::min(data.size(), 2 + nameLength));
        std::filesystem::path path = tk::Utf16ToUtf8(FDatabase ? FDatabase->Location() : std::u16string());
        if (FDatabase && FDatabase->DatabaseType() == TVdbDatabaseType::dbtSingleFile) path = path.parent_path();
        path /= name;
        std::ifstream in(path, std::ios::binary);
        if (!in) {
          entry.Data.clear();
          entry.Loaded = true;
          tk::DatabaseError(u"Linked blob file \"%s\" does not exist.", {tk::Utf8ToUtf16(path.string())});
        }
        entry.Data.insert(entry.Data.end(), std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      }
    }
  } catch (...) {
    restore();
    throw;
  }
  restore();
  entry.Loaded = true;
  return entry;
}

std::unique_ptr<tk::TStream> TVdbDataSet::CreateBlobStream(const tk::TField& field, tk::TRecordBuffer& buffer,
                                                           tk::TBlobStreamMode mode) {
  if (mode != tk::TBlobStreamMode::bmRead && State() != tk::TDataSetState::dsEdit &&
      State() != tk::TDataSetState::dsInsert)
    tk::DatabaseError(u"Dataset not in edit or insert mode");
  return std::make_unique<TVdbBlobStream>(*this, field, buffer, mode);
}

TVdbBlobStream::TVdbBlobStream(TVdbDataSet& dataSet, const tk::TField& field, tk::TRecordBuffer& buffer,
                               tk::TBlobStreamMode mode)
    : FDataSet(dataSet),
      FField(field),
      FEntry(mode == tk::TBlobStreamMode::bmRead
                 ? dataSet.LoadedEntry(field, buffer)
                 : dataSet.CacheOf(buffer)[static_cast<std::size_t>(dataSet.BlobIndexOf(field))]),
      FWriting(mode != tk::TBlobStreamMode::bmRead) {
  if (FField.ReadOnly() && FWriting) tk::DatabaseError(u"Field '%s' cannot be modified", {FField.DisplayLabel()});
  const bool plainBlob = dataSet.DefOf(field).DataTypeVdb == TVdbDataType::dtBlob;
  if (FWriting) {
    // Writing replaces the whole content, also in read-write mode.
    FEntry.Data.clear();
    FEntry.Loaded = true;
    FEntry.Modified = true;
    FModified = true;
    if (plainBlob) {
      FEntry.Data = {0, 0};  // type word of a new, embedded blob
      FDataStart = 2;
    }
  } else if (plainBlob && FEntry.Data.size() >= 2) {
    const unsigned word = FEntry.Data[0] | (FEntry.Data[1] << 8);
    const std::size_t nameLength = FEntry.Data.size() >= 4 ? (FEntry.Data[2] | (FEntry.Data[3] << 8)) : 0;
    FDataStart = word % 2 == 1 ? std::min(FEntry.Data.size(), 4 + nameLength) : 2;
  }
  FPosition = FDataStart;
}

TVdbBlobStream::~TVdbBlobStream() {
  if (!FModified) return;
  try {
    FDataSet.BlobWritten(const_cast<tk::TField&>(FField));
  } catch (const std::exception& e) {
    // A destructor cannot raise: the failure of a control to follow the written blob goes to
    // the error stream. The content stays in the cache, marked modified, and is stored when
    // the record is posted.
    std::cerr << "Updating controls after writing a blob failed: " << e.what() << '\n';
  }
}

std::size_t TVdbBlobStream::Read(void* buffer, std::size_t count) {
  if (FPosition >= FEntry.Data.size()) return 0;
  count = std::min(count, FEntry.Data.size() - FPosition);
  std::memcpy(buffer, FEntry.Data.data() + FPosition, count);
  FPosition += count;
  return count;
}

std::size_t TVdbBlobStream::Write(const void* buffer, std::size_t count) {
  if (!FWriting) tk::DatabaseError(u"Dataset not in edit or insert mode");
  if (FEntry.Data.size() < FPosition + count) FEntry.Data.resize(FPosition + count);
  if (count > 0) std::memcpy(FEntry.Data.data() + FPosition, buffer, count);
  FPosition += count;
  FEntry.Modified = true;
  FModified = true;
  return count;
}

std::int64_t TVdbBlobStream::Seek(std::int64_t offset, tk::TSeekOrigin origin) {
  std::int64_t base = static_cast<std::int64_t>(FDataStart);
  if (origin == tk::TSeekOrigin::soCurrent) base = static_cast<std::int64_t>(FPosition);
  if (origin == tk::TSeekOrigin::soEnd) base = static_cast<std::int64_t>(FEntry.Data.size());
  FPosition = static_cast<std::size_t>(std::max<std::int64_t>(static_cast<std::int64_t>(FDataStart), base + offset));
  return static_cast<std::int64_t>(FPosition - FDataStart);
}

}  // namespace vdbds
