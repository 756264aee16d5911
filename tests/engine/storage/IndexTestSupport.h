// Helpers of the index tests: an index file on an in-memory file system, rows of typed values
// that become index entries through real record buffers, and an independent order of those
// rows for the model. Test thread only.
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "storage/VdbIndexFile.h"
#include "storage/VdbPageMan.h"
#include "storage/vuMemoryFileSystem.h"
#include "types/VdbData.h"

namespace vdb::test {

// One key value of a row.
struct TKeyValue {
  bool Null = false;
  std::int64_t Int = 0;
  double Float = 0;
  std::string Ansi;      // bytes in the column's code page
  std::u16string Wide;
};

struct TRow {
  std::int32_t RecNo = 0;
  std::vector<TKeyValue> Values;
};

// An index file in memory with its page manager and storage.
class TIndexHarness {
 public:
  explicit TIndexHarness(std::int16_t version, std::u16string fileName = u"idx.vdbx")
      : FVersion(version) {
    FPm.RegisterClient(1, 65536);
    FStorage = std::make_unique<TVdbClientStorage>(FPm, nullptr, 1, FFs);
    FStorage->SetName(std::move(fileName));
    FIndex = std::make_unique<TVdbIndexFile>(*FStorage, FFs, version);
  }
  // Key parts get consecutive record fields.
  static TVdbKeyDesc Keys(std::int16_t level, bool varSize, std::vector<TVdbKeyPart> parts) {
    TVdbKeyDesc d;
    d.Level = level;
    d.VarSize = varSize;
    std::int32_t offset = 0;
    for (auto& p : parts) {
      if (p.KeyLength == 0) p.KeyLength = static_cast<std::int32_t>(p.Type->DataSize());
      p.FieldOffset = offset;
      offset += static_cast<std::int32_t>(p.Type->DataSize());
    }
    d.Parts = std::move(parts);
    return d;
  }
  static TVdbIndexDefinition Definition(const TVdbKeyDesc& keys, bool unique = false) {
    TVdbIndexDefinition def;
    def.IsUnique = unique;
    std::int16_t col = 1;
    for (const auto& p : keys.Parts) {
      def.Parts.push_back({col++, static_cast<std::int16_t>(p.KeyLength),
                           static_cast<std::uint8_t>(p.Type->ColumnType()), p.Descending});
    }
    def.EntrySize = keys.EntrySize();
    return def;
  }
  void Create(const TVdbKeyDesc& keys, std::int32_t pageSize, bool unique = false) {
    FKeys = keys;
    FIndex->NewStorage(keys, Definition(keys, unique), 100000, pageSize);
  }
  void Reopen() {
    FIndex->Flush();
    FIndex->Close();
    FIndex = std::make_unique<TVdbIndexFile>(*FStorage, FFs, FVersion);
    FIndex->Open(FKeys);
  }
  // The record of a row and its entry.
  std::vector<std::uint8_t> Entry(const TRow& row) const {
    std::size_t size = 0;
    for (const auto& p : FKeys.Parts) size += p.Type->DataSize();
    std::vector<std::uint8_t> record(size, 0xCD);  // unused string bytes stay undefined
    for (std::size_t i = 0; i < FKeys.Parts.size(); ++i) {
      const TVdbKeyPart& p = FKeys.Parts[i];
      const TKeyValue& v = row.Values[i];
      TVdbDataValue ref;
      p.Type->SetReference(ref, record, static_cast<std::size_t>(p.FieldOffset));
      if (v.Null) {
        p.Type->SetNull(ref);
      } else if (p.Type->ColumnType() == vctFloat) {
        p.Type->SetDouble(ref, v.Float);
      } else if (p.Type->ColumnType() == vctString) {
        p.Type->SetAnsiString(ref, v.Ansi);
      } else if (p.Type->ColumnType() == vctWideString) {
        p.Type->SetWideString(ref, v.Wide);
      } else {
        p.Type->SetInteger(ref, v.Int);
      }
    }
    std::vector<std::uint8_t> entry;
    FIndex->Order().BuildEntry(record, row.RecNo, entry);
    return entry;
  }
  std::vector<std::vector<std::uint8_t>> Walk() {
    std::vector<std::vector<std::uint8_t>> out;
    std::vector<std::uint8_t> e;
    for (auto r = FIndex->Erster_Index(e); r == 0; r = FIndex->Naechster_Index(e)) out.push_back(e);
    return out;
  }
  std::vector<std::uint8_t> FileBytes() { return FFs.Contents(FStorage->Name()); }
  void PutFileBytes(const std::vector<std::uint8_t>& bytes) {
    const TvuFileHandle h = FFs.CreateFile(FStorage->Name());
    FFs.FileWrite(h, 0, bytes.data(), static_cast<std::int64_t>(bytes.size()));
    FFs.CloseFile(h);
  }
  // Closes without flushing and forgets the object (for damaging the file).
  void Release() {
    if (FIndex->IsOpen()) FIndex->Close();
    FIndex = std::make_unique<TVdbIndexFile>(*FStorage, FFs, FVersion);
  }

  TvuMemoryFileSystem FFs{8192};
  TVdbPageManager FPm;
  std::int16_t FVersion;
  std::unique_ptr<TVdbClientStorage> FStorage;
  std::unique_ptr<TVdbIndexFile> FIndex;
  TVdbKeyDesc FKeys;
};

// Exact order of doubles: -0 equals +0, NaN equals NaN and is greater than every number.
inline int ExactCompare(double a, double b) {
  const bool na = std::isnan(a), nb = std::isnan(b);
  if (na || nb) return (na ? 1 : 0) - (nb ? 1 : 0);
  return a < b ? -1 : a > b ? 1 : 0;
}

// The model's order of rows, written without the key bytes: values by their meaning, strings
// truncated to what their key part holds, nulls first, descending parts reversed, then record
// numbers.
inline int ModelCompare(const TVdbKeyDesc& keys, const TRow& a, const TRow& b) {
  for (std::size_t i = 0; i < keys.Parts.size(); ++i) {
    const TVdbKeyPart& p = keys.Parts[i];
    const TKeyValue& x = a.Values[i];
    const TKeyValue& y = b.Values[i];
    int r;
    if (x.Null || y.Null) {
      r = (x.Null ? 0 : 1) - (y.Null ? 0 : 1);
    } else if (p.Type->ColumnType() == vctFloat) {
      r = ExactCompare(x.Float, y.Float);
    } else if (p.Type->ColumnType() == vctString) {
      const auto& s = static_cast<const TVdbStringType&>(*p.Type);
      std::size_t fits = keys.VarSize ? x.Ansi.size() + y.Ansi.size()
                                      : static_cast<std::size_t>(p.KeyLength) - s.SizeByteCount() -
                                            (s.HasNullByte() ? 1 : 0);
      r = s.Collation().CompareAnsi(std::string_view(x.Ansi).substr(0, fits),
                                    std::string_view(y.Ansi).substr(0, fits));
    } else if (p.Type->ColumnType() == vctWideString) {
      const auto& s = static_cast<const TVdbStringType&>(*p.Type);
      r = s.Collation().CompareWide(x.Wide, y.Wide);
    } else {
      r = x.Int < y.Int ? -1 : x.Int > y.Int ? 1 : 0;
    }
    if (r != 0) {
      r = r < 0 ? -1 : 1;
      return p.Descending ? -r : r;
    }
  }
  return a.RecNo < b.RecNo ? -1 : a.RecNo > b.RecNo ? 1 : 0;
}

}  // namespace vdb::test
