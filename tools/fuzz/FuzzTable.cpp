// Fuzzing the table files; see FuzzTable.h.
#include "FuzzTable.h"

#include <cstdlib>
#include <cstdio>
#include <map>
#include <string>

#include "session/VdbAccessor.h"
#include "storage/vuMemoryFileSystem.h"
#include "tables/VdbBaseTable.h"
#include "sql/VdbSqlCompiler.h"

namespace vdb::fuzz {

namespace {

using TFiles = std::map<std::u16string, std::vector<std::uint8_t>>;

constexpr int kTowns = 30;
const std::u16string kDataFile = u"/db/Towns.vdbt";

// A table environment over a memory file system with the directory "/db".
struct TWorld {
  TWorld() {
    Fs.ForcePath(u"/db");
    PageManager.RegisterClient(1, 4096);
  }
  ~TWorld() { PageManager.UnregisterClient(1, 4096); }
  TvuMemoryFileSystem Fs{8192};
  TVdbPageManager PageManager;
  TVdbLastError LastError;
  TvuFakeClock Clock;
  TvuFakeSleeper Sleeper{Clock};
  TvuFakeRandom Random{7};
  TVdbTableEnvironment Env{PageManager, Fs, 1, LastError, TvuServices{Clock, Sleeper, Random},
                           tilNone, kVdbDefaultBlockSize, &VdbSqlCompiler()};

  std::unique_ptr<TVdbBaseTable> Open() {
    auto t = std::make_unique<TVdbBaseTable>(Env);
    t->SetRights(0x010F);
    t->SetFileName(kDataFile);
    if (t->Open(false) < 0 || t->Setup(false) < 0) return nullptr;
    return t;
  }
  TFiles Files() {
    TFiles files;
    TvuFindFileRec rec;
    for (bool more = Fs.FindFirstFile(u"/db/*", 0, rec); more; more = Fs.FindNextFile(rec)) {
      files[u"/db/" + rec.Name] = Fs.Contents(u"/db/" + rec.Name);
    }
    Fs.FindFileClose(rec);
    return files;
  }
  void Write(const TFiles& files) {
    for (const auto& [path, bytes] : files) {
      const TvuFileHandle h = Fs.CreateFile(path);
      if (!bytes.empty()) Fs.FileWrite(h, 0, bytes.data(), static_cast<std::int64_t>(bytes.size()));
      Fs.CloseFile(h);
    }
  }
};

TVdbNewColumn Column(std::u16string name, TVdbColumnType type, std::int32_t length = 0, bool nullable = false) {
  TVdbNewColumn c;
  c.Name = std::move(name);
  c.ColumnType = type;
  c.Length = length;
  c.Nullable = nullable;
  return c;
}

void SetField(const TVdbBaseTable& t, std::vector<std::uint8_t>& record, int col, std::u16string_view text,
              std::int64_t number, bool isText) {
  const TVdbColumnDef& c = t.ColumnDefs().GetColumnDef(col);
  TVdbDataValue v;
  c.DataType()->SetReference(v, record, static_cast<std::size_t>(c.Position()));
  if (isText) {
    c.DataType()->SetWideString(v, text);
  } else {
    c.DataType()->SetInteger(v, number);
  }
}

std::int32_t Write(TVdbBaseTable& t, int i, std::int32_t replaceRecNo) {
  std::vector<std::uint8_t> record(static_cast<std::size_t>(t.GetRecordSize()), 0);
  if (replaceRecNo > 0 && t.ReadRecord(replaceRecNo, record) < 0) return -1;
  const std::vector<std::uint8_t> old = record;
  SetField(t, record, 1, u"Town" + VdbUtf8ToUtf16(std::to_string(i)), 0, true);
  SetField(t, record, 2, {}, 1000 + i, false);
  const std::string note(static_cast<std::size_t>(i % 5 == 0 ? 0 : 20 + (i * 37) % 900), static_cast<char>('a' + i % 26));
  const TVdbBlobDataList blobs{TVdbBlobData{4, std::vector<std::uint8_t>(note.begin(), note.end()), false}};
  if (replaceRecNo > 0) return t.ReplaceRecord(record, old, blobs, replaceRecNo);
  if (t.SetAutoNum(record) != 0) return -1;
  return t.AppendRecord(record, blobs);
}

struct TOriginals {
  TFiles Closed;
  TFiles WithLog;
};

const TOriginals& Originals() {
  static const TOriginals originals = [] {
    TOriginals o;
    TWorld world;
    TVdbNewTable def;
    def.Path = u"/db/Towns";
    def.Capacity = 1000;
    def.Columns = {Column(u"ID", vctRecordId), Column(u"NAME", vctString, 20), Column(u"CODE", vctInteger),
                   Column(u"NOTE", vctMemo, 0, true)};
    def.Indexes = {{u"ByName", u"NAME", false}, {u"ByCode", u"CODE", true}};
    if (TVdbBaseTable(world.Env).NewTable(def) != 0) std::abort();
    {
      auto t = world.Open();
      if (!t) std::abort();
      for (int i = 1; i <= kTowns; ++i) {
        if (Write(*t, i, 0) < 0) std::abort();
      }
    }
    o.Closed = world.Files();
    // A transaction whose process died after its changes reached the files.
    auto t = world.Open();
    world.Env.IsolationLevel = tilReadCommited;
    for (int i = 1; i <= 4; ++i) {
      if (Write(*t, 100 + i, i * 3) < 0) std::abort();
    }
    std::vector<std::uint8_t> record(static_cast<std::size_t>(t->GetRecordSize()));
    if (t->ReadRecord(2, record) < 0 || t->DeleteRecord(record, 2) < 0) std::abort();
    t->Flush(true);
    o.WithLog = world.Files();
    world.Env.IsolationLevel = tilNone;
    static_cast<void>(t->UndoModifications());
    return o;
  }();
  return originals;
}

std::u16string_view ExtensionOf(TFuzzFile which) {
  switch (which) {
    case TFuzzFile::ffData: return u".vdbt";
    case TFuzzFile::ffIndex: return u"!ByName.vdbi";
    case TFuzzFile::ffMemo: return u".vdbm";
    case TFuzzFile::ffRedoLog: return u".vdbr";
  }
  return {};
}

const TFiles& BaseOf(TFuzzFile which) {
  return which == TFuzzFile::ffRedoLog ? Originals().WithLog : Originals().Closed;
}

std::u16string TargetOf(TFuzzFile which) {
  for (const auto& [path, bytes] : BaseOf(which)) {
    if (path.ends_with(ExtensionOf(which))) return path;
  }
  std::abort();
}

}  // namespace

std::optional<TFuzzFile> FuzzFileByName(std::string_view name) {
  if (name == "data_file") return TFuzzFile::ffData;
  if (name == "index") return TFuzzFile::ffIndex;
  if (name == "memo") return TFuzzFile::ffMemo;
  if (name == "redo_log") return TFuzzFile::ffRedoLog;
  return std::nullopt;
}

const std::vector<std::uint8_t>& SeedOf(TFuzzFile which) { return BaseOf(which).at(TargetOf(which)); }

void WriteSeed(TFuzzFile which, const char* path) {
  if (path == nullptr || *path == 0) return;
  const std::vector<std::uint8_t>& seed = SeedOf(which);
  if (std::FILE* f = std::fopen(path, "wb")) {
    std::fwrite(seed.data(), 1, seed.size(), f);
    std::fclose(f);
  }
}

void RunTableInput(TFuzzFile which, std::span<const std::uint8_t> input) {
  TFiles files = BaseOf(which);
  files[TargetOf(which)].assign(input.begin(), input.end());
  TWorld world;
  world.Write(files);
  auto t = world.Open();
  if (!t) return;
  const std::int32_t count = t->GetRecordCount();
  TVdbAccessor cursor(*t, u"fuzz");
  std::vector<std::uint8_t> record(static_cast<std::size_t>(t->GetRecordSize()));
  for (TVdbSortNo order = -1; order <= t->GetLastIndexNo(); ++order) {
    if (cursor.SetAccess(order < 0 ? kVdbNaturalOrder : order) < 0) continue;
    for (const bool forward : {true, false}) {
      std::int16_t r = forward ? cursor.First() : cursor.Last();
      for (std::int32_t steps = 0; r >= 0; ++steps) {
        if (steps > count + 2) {
          std::fprintf(stderr, "a walk over order %d does not end\n", static_cast<int>(order));
          std::abort();
        }
        static_cast<void>(cursor.GetRecord(record));
        std::uint16_t type = 0;
        static_cast<void>(cursor.InitGetBlob(4, -1, type));
        r = forward ? cursor.Next() : cursor.Prior();
      }
    }
  }
  static_cast<void>(t->VerifyTable());
  // A table that opened takes a write: the write path over a damaged file must not crash.
  static_cast<void>(Write(*t, 7777, 0));
}

}  // namespace vdb::fuzz
