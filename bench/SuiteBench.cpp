// The side-by-side suite: fifteen workloads, each a pair of cases, VidoraDB through its call
// interface and SQLite on the same generated rows, at 3,155 rows (the settlement count) and
// at 100,000. Case names begin "Wnn_<what>/<engine|sqlite>/<rows>"; bench/suite.sh runs them
// with interleaved repetitions and prints the ratios.
//
// The rows come from one seeded generator of settlement-like records (postal code, a
// Hungarian name with digraphs and accents, rank, county, area, population, dwellings and a
// note for about a third of them), so that both sides hold exactly the same data. Names sort
// under the Hungarian collation on both sides (SQLite gets it as a collation of the same
// collator library the engine uses). Durability profiles match: the engine's default flush
// mode (nothing forced to the device, a killed process loses nothing) against SQLite's
// rollback journal with synchronous=OFF.
//
// Read workloads share one database per size and side, written once per process under the
// temporary directory; write workloads work on their own copies. Under callgrind
// (bench/callgrind.sh) every case dumps its own instruction counts.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unicode/ucol.h>
#include <unistd.h>
#include <valgrind/callgrind.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/VdbFormat.h"
#include "types/vuCodePage.h"
#include "vidoradb/vdbapi.h"

namespace {

namespace fs = std::filesystem;

constexpr std::uint16_t kCodePage = 1250;  // the code page of the Hungarian collation
constexpr std::uint32_t kSeed = 20261211;

// ---- the rows

struct TRow {
  std::int32_t Postal = 0;
  std::string Name;  // UTF-8
  std::string Rank;
  std::string County;
  std::int32_t Area = 0;  // hectares
  std::int32_t Population = 0;
  std::int32_t Dwellings = 0;
  std::string Note;  // empty: none
};

const std::vector<std::string>& Counties() {
  static const std::vector<std::string> c = {
      "Bács-Kiskun", "Baranya", "Békés", "Borsod-Abaúj-Zemplén", "Csongrád-Csanád", "Fejér",
      "Győr-Moson-Sopron", "Hajdú-Bihar", "Heves", "Jász-Nagykun-Szolnok", "Komárom-Esztergom",
      "Nógrád", "Pest", "Somogy", "Szabolcs-Szatmár-Bereg", "Tolna", "Vas", "Veszprém", "Zala",
      "Budapest"};
  return c;
}

// Settlement-like rows, the same for a given count on every run.
std::vector<TRow> GenerateRows(std::size_t count) {
  static const char* const heads[] = {"Sz", "Cs", "Gy", "Zs", "Ny", "Ty", "K", "B", "H", "P", "D", "T", "V",
                                      "M", "N", "F", "É", "Ö", "Ú", "Dzs", "L", "R", "S", "E", "A", "Ő"};
  static const char* const vowels[] = {"a", "á", "e", "é", "i", "í", "o", "ó", "ö", "ő", "u", "ú", "ü", "ű"};
  static const char* const middles[] = {"sz", "cs", "gy", "zs", "ny", "ty", "ly", "k", "b", "l", "r", "t",
                                        "d", "m", "n", "v", "ssz", "ccs", "ggy", "h", "p", "s", "z"};
  static const char* const tails[] = {"falva", "háza", "egyháza", "szentmiklós", "telek", "hegy", "völgy",
                                      "keresztúr", "lak", "vár", "szeg", "újfalu", "", "", "", ""};
  static const char* const ranks[] = {"község", "község", "község", "nagyközség", "város", "megyei jogú város"};
  std::mt19937 rng(kSeed);
  auto pick = [&](auto& list) { return std::string(list[rng() % std::size(list)]); };
  std::vector<TRow> rows;
  rows.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    TRow r;
    r.Postal = 1000 + static_cast<std::int32_t>(rng() % 9000);
    const int syllables = 1 + static_cast<int>(rng() % 3);
    r.Name = pick(heads);
    for (int s = 0; s < syllables; ++s) r.Name += pick(vowels) + pick(middles);
    r.Name += pick(vowels) + pick(tails);
    if (rng() % 8 == 0 && r.Name[0] >= 'A' && r.Name[0] <= 'Z') {
      // "Alsó"/"Felső" before a lower-cased name, as in real double names.
      r.Name[0] = static_cast<char>(r.Name[0] - 'A' + 'a');
      r.Name = (rng() % 2 ? "Alsó" : "Felső") + r.Name;
    }
    r.Rank = pick(ranks);
    r.County = Counties()[rng() % Counties().size()];
    r.Area = 100 + static_cast<std::int32_t>(rng() % 20000);
    r.Population = static_cast<std::int32_t>(std::min<std::uint32_t>(rng() % 3000 * (1 + rng() % 10), 200000));
    r.Dwellings = r.Population / 3 + static_cast<std::int32_t>(rng() % 50);
    if (rng() % 3 == 0) {
      const std::size_t length = 20 + rng() % 280;
      static const char* const words[] = {"A ", "település ", "határában ", "római ", "kori ", "leletek, ",
                                          "gyógyfürdő, ", "műemlék ", "templom. ", "Szőlőhegy. "};
      while (r.Note.size() < length) r.Note += pick(words);
    }
    rows.push_back(std::move(r));
  }
  return rows;
}

const std::vector<TRow>& Rows(std::size_t count) {
  static std::map<std::size_t, std::vector<TRow>> cache;
  auto it = cache.find(count);
  if (it == cache.end()) it = cache.emplace(count, GenerateRows(count)).first;
  return it->second;
}

std::u16string U16(const std::string& s) { return vdb::VdbUtf8ToUtf16(s); }
const VdbChar* W(const std::u16string& s) { return reinterpret_cast<const VdbChar*>(s.c_str()); }
std::string Ansi(const std::string& utf8) { return vdb::TvuCodePage::FromUnicode(kCodePage, U16(utf8)); }

const fs::path& BenchDir() {
  static const fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / ("vidora-suite-bench-" + std::to_string(::getpid()));
    fs::remove_all(d);
    fs::create_directories(d / "private");
    return d;
  }();
  return dir;
}

fs::path FreshDir(const std::string& name) {
  const fs::path d = BenchDir() / name;
  fs::remove_all(d);
  fs::create_directories(d);
  return d;
}

void Check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(what);
}

// ---- the engine side, through the call interface only

enum TCol { cPostal = 1, cName, cRank, cCounty, cArea, cPopulation, cDwellings, cNote, cColCount = cNote };

TVdbFieldSpec Field(int16_t no, const char* name, int16_t type, int32_t param, bool nullable) {
  TVdbFieldSpec f{};
  f.No = no;
  const std::u16string n = U16(name);
  std::copy(n.begin(), n.end(), f.Name);
  f.FldType = type;
  f.Param = param;
  f.Options = nullable ? 0x20 : 0;
  return f;
}

int16_t OpenSession(const fs::path& dir) {
  const int16_t sess = VdbCreateSession(W(u""));
  Check(sess > 0, "session");
  TVdbNetParams params;
  VdbSessGetDefaultNetParams(sess, &params);
  const std::u16string priv = U16((BenchDir() / "private").string());
  std::memcpy(params.PrivateDir, priv.c_str(), (priv.size() + 1) * sizeof(VdbChar));
  VdbSessSetNetParams(sess, &params);
  Check(VdbSessOpenDb(sess, W(U16(dir.string())), W(u""), W(u""), 0, 0) == 0, "open database");
  return sess;
}

// One session on a database directory with the table "S" open in one cursor.
class TEngine {
 public:
  static constexpr const char16_t* kKey = u"Suite-Key-1";

  // Creates the table (enciphered when `cipher`) with its two indexes in `dir`.
  static void Create(const fs::path& dir, bool cipher) {
    const int16_t sess = OpenSession(dir);
    const TVdbFieldSpec fields[cColCount] = {
        Field(cPostal, "IRSZ", VDB_TYPE_INTEGER, 0, false), Field(cName, "TELEP", VDB_TYPE_STRING, 40, false),
        Field(cRank, "RANG", VDB_TYPE_STRING, 30, true),     Field(cCounty, "MEGYE", VDB_TYPE_STRING, 30, true),
        Field(cArea, "TERULET", VDB_TYPE_INTEGER, 0, true),  Field(cPopulation, "NEPESS", VDB_TYPE_INTEGER, 0, true),
        Field(cDwellings, "LAKAS", VDB_TYPE_INTEGER, 0, true), Field(cNote, "EGYEB", VDB_TYPE_MEMO, 0, true)};
    TVdbTableInfo info{};
    const std::u16string name = u"S", language = u"Hungarian";
    std::copy(name.begin(), name.end(), info.FileName);
    std::copy(language.begin(), language.end(), info.Language);
    info.EncryptionMethod = cipher ? VDB_ENC_RIJNDAEL : VDB_ENC_NONE;
    info.Capacity = 1000000;
    Check(VdbSessCreateTable(sess, &info, W(cipher ? kKey : u""), cColCount, fields, 0, nullptr, 0, nullptr, 0,
                             nullptr) == 0,
          "create table");
    const int16_t rltn = VdbSessOpenTable(sess, W(u"S"), W(cipher ? kKey : u""), VDB_RIGHTS_WRITE, false, false);
    Check(rltn > 0, "open table");
    Check(VdbRltnCreateIndex(rltn, W(u"TELEP"), W(u"TELEP"), false) == 0, "index TELEP");
    Check(VdbRltnCreateIndex(rltn, W(u"IRSZ"), W(u"IRSZ"), false) == 0, "index IRSZ");
    VdbSessDelete(sess);
  }

  TEngine(const fs::path& dir, bool cipher = false) : FSess(OpenSession(dir)) {
    FRltn = VdbSessOpenTable(FSess, W(u"S"), W(cipher ? kKey : u""), VDB_RIGHTS_WRITE, false, false);
    Check(FRltn > 0, "open table");
    FTable = VdbTableCreate(FRltn, W(u"S"));
    Check(FTable > 0, "cursor");
    for (int16_t c = 1; c <= cColCount; ++c) Check(VdbTableGetFieldSpec(FTable, c, &FSpecs[c]) == 0, "field spec");
    FRecord.assign(static_cast<std::size_t>(VdbTableGetRecordSize(FTable)), 0);
  }
  ~TEngine() { VdbSessDelete(FSess); }
  TEngine(const TEngine&) = delete;
  TEngine& operator=(const TEngine&) = delete;

  int16_t Sess() const { return FSess; }
  int16_t Table() const { return FTable; }
  std::vector<std::uint8_t>& Record() { return FRecord; }

  void SetText(int16_t col, const std::string& utf8) {
    const TVdbFieldSpec& s = FSpecs[col];
    const std::string bytes = Ansi(utf8).substr(0, static_cast<std::size_t>(s.Param));
    const int header = s.InternalSize - s.Param;
    std::uint8_t* f = FRecord.data() + s.InternalPosition;
    std::memset(f, 0, s.InternalSize);
    if (header == 2) f[0] = 1;
    f[header - 1] = static_cast<std::uint8_t>(bytes.size());
    std::memcpy(f + header, bytes.data(), bytes.size());
  }
  void SetInt(int16_t col, std::int32_t value) {
    const TVdbFieldSpec& s = FSpecs[col];
    std::uint8_t* f = FRecord.data() + s.InternalPosition;
    if (s.InternalSize == 5) f[0] = 1;
    std::memcpy(f + s.InternalSize - 4, &value, 4);
  }
  std::int32_t GetInt(int16_t col) const {
    const TVdbFieldSpec& s = FSpecs[col];
    std::int32_t v;
    std::memcpy(&v, FRecord.data() + s.InternalPosition + s.InternalSize - 4, 4);
    return v;
  }
  void Fill(const TRow& r) {
    std::fill(FRecord.begin(), FRecord.end(), std::uint8_t{0});
    SetInt(cPostal, r.Postal);
    SetText(cName, r.Name);
    SetText(cRank, r.Rank);
    SetText(cCounty, r.County);
    SetInt(cArea, r.Area);
    SetInt(cPopulation, r.Population);
    SetInt(cDwellings, r.Dwellings);
  }
  void Append(const TRow& r) {
    Check(VdbTableAppend(FTable) == 0, "append");
    Fill(r);
    Check(VdbTableSetRecord(FTable, FRecord.data(), static_cast<int32_t>(FRecord.size())) == 0, "set record");
    if (!r.Note.empty()) {
      const std::string note = Ansi(r.Note);
      Check(VdbTableSetBlob(FTable, cNote, note.data(), static_cast<int32_t>(note.size())) == 0, "set note");
    }
    Check(VdbTableAppendConfirm(FTable) >= 0, "append confirm");
  }
  void Read() { VdbTableGetRecord(FTable, FRecord.data(), static_cast<int32_t>(FRecord.size())); }
  void Begin() { Check(VdbSessBeginTransaction(FSess) == 0, "begin"); }
  void Commit() { Check(VdbSessEndTransaction(FSess) == 0, "commit"); }

 private:
  int16_t FSess = 0;
  int16_t FRltn = 0;
  int16_t FTable = 0;
  TVdbFieldSpec FSpecs[cColCount + 1] = {};
  std::vector<std::uint8_t> FRecord;
};

// ---- the SQLite side

int HungarianCompare(void* collator, int na, const void* a, int nb, const void* b) {
  UErrorCode status = U_ZERO_ERROR;
  return ucol_strcollUTF8(static_cast<UCollator*>(collator), static_cast<const char*>(a), na,
                          static_cast<const char*>(b), nb, &status);
}

class TSqlite {
 public:
  explicit TSqlite(const fs::path& file) {
    Check(sqlite3_open(file.c_str(), &FDb) == SQLITE_OK, "sqlite open");
    UErrorCode status = U_ZERO_ERROR;
    FCollator = ucol_open("hu", &status);
    Check(U_SUCCESS(status), "collator");
    sqlite3_create_collation(FDb, "HU", SQLITE_UTF8, FCollator, HungarianCompare);
    Exec("PRAGMA journal_mode=DELETE");
    Exec("PRAGMA synchronous=OFF");
  }
  ~TSqlite() {
    for (auto& [sql, st] : FStatements) sqlite3_finalize(st);
    sqlite3_close(FDb);
    ucol_close(FCollator);
  }
  TSqlite(const TSqlite&) = delete;
  TSqlite& operator=(const TSqlite&) = delete;

  void Create() {
    Exec("CREATE TABLE s(id INTEGER PRIMARY KEY, irsz INTEGER NOT NULL, telep TEXT NOT NULL COLLATE HU, rang TEXT, "
         "megye TEXT, terulet INTEGER, nepess INTEGER, lakas INTEGER, egyeb TEXT)");
    Exec("CREATE INDEX s_telep ON s(telep)");
    Exec("CREATE INDEX s_irsz ON s(irsz)");
  }
  void Exec(const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(FDb, sql, nullptr, nullptr, &error) != SQLITE_OK) {
      const std::string text = error ? error : "sqlite";
      sqlite3_free(error);
      throw std::runtime_error(text);
    }
  }
  // A prepared statement kept for the connection's life, reset.
  sqlite3_stmt* Stmt(const char* sql) {
    sqlite3_stmt*& st = FStatements[sql];
    if (!st) Check(sqlite3_prepare_v2(FDb, sql, -1, &st, nullptr) == SQLITE_OK, sqlite3_errmsg(FDb));
    sqlite3_reset(st);
    sqlite3_clear_bindings(st);
    return st;
  }
  void Insert(const TRow& r) {
    sqlite3_stmt* st = Stmt("INSERT INTO s(irsz, telep, rang, megye, terulet, nepess, lakas, egyeb) "
                            "VALUES(?, ?, ?, ?, ?, ?, ?, ?)");
    sqlite3_bind_int(st, 1, r.Postal);
    sqlite3_bind_text(st, 2, r.Name.c_str(), static_cast<int>(r.Name.size()), SQLITE_STATIC);
    sqlite3_bind_text(st, 3, r.Rank.c_str(), static_cast<int>(r.Rank.size()), SQLITE_STATIC);
    sqlite3_bind_text(st, 4, r.County.c_str(), static_cast<int>(r.County.size()), SQLITE_STATIC);
    sqlite3_bind_int(st, 5, r.Area);
    sqlite3_bind_int(st, 6, r.Population);
    sqlite3_bind_int(st, 7, r.Dwellings);
    if (r.Note.empty()) {
      sqlite3_bind_null(st, 8);
    } else {
      sqlite3_bind_text(st, 8, r.Note.c_str(), static_cast<int>(r.Note.size()), SQLITE_STATIC);
    }
    Check(sqlite3_step(st) == SQLITE_DONE, "insert");
  }
  // Steps through the rows of `st`, reading every column as a caller of a record would;
  // the number of rows.
  static std::int64_t Drain(sqlite3_stmt* st, std::int64_t limit = -1) {
    std::int64_t n = 0;
    const int columns = sqlite3_column_count(st);
    while ((limit < 0 || n < limit) && sqlite3_step(st) == SQLITE_ROW) {
      for (int c = 0; c < columns; ++c) {
        if (sqlite3_column_type(st, c) == SQLITE_TEXT) {
          benchmark::DoNotOptimize(sqlite3_column_text(st, c));
        } else {
          benchmark::DoNotOptimize(sqlite3_column_int64(st, c));
        }
      }
      ++n;
    }
    return n;
  }
  sqlite3* Db() const { return FDb; }

 private:
  sqlite3* FDb = nullptr;
  UCollator* FCollator = nullptr;
  std::map<std::string, sqlite3_stmt*> FStatements;
};

// ---- the databases of each size

void LoadEngine(const fs::path& dir, const std::vector<TRow>& rows, bool cipher) {
  TEngine::Create(dir, cipher);
  TEngine e(dir, cipher);
  e.Begin();
  for (const TRow& r : rows) e.Append(r);
  e.Commit();
}

void LoadSqlite(const fs::path& file, const std::vector<TRow>& rows) {
  TSqlite s(file);
  s.Create();
  s.Exec("BEGIN");
  for (const TRow& r : rows) s.Insert(r);
  s.Exec("COMMIT");
}

// The shared read-only databases of `count` rows: engine directory, enciphered engine
// directory, SQLite file.
struct TFixture {
  fs::path Engine, Cipher, Sqlite;
};

const TFixture& Fixture(std::size_t count) {
  static std::map<std::size_t, TFixture> fixtures;
  auto it = fixtures.find(count);
  if (it != fixtures.end()) return it->second;
  TFixture f;
  const std::string tag = std::to_string(count);
  f.Engine = FreshDir("engine-" + tag);
  f.Cipher = FreshDir("cipher-" + tag);
  f.Sqlite = FreshDir("sqlite-" + tag) / "s.db";
  LoadEngine(f.Engine, Rows(count), false);
  LoadEngine(f.Cipher, Rows(count), true);
  LoadSqlite(f.Sqlite, Rows(count));
  return fixtures.emplace(count, f).first->second;
}

// A private copy of the engine's or SQLite's database of `count` rows.
fs::path CopyEngine(std::size_t count, const std::string& name) {
  const fs::path d = FreshDir(name);
  for (const auto& entry : fs::directory_iterator(Fixture(count).Engine)) {
    const std::string file = entry.path().filename().string();
    if (entry.is_regular_file() && file.find(".lck") == std::string::npos) fs::copy_file(entry.path(), d / file);
  }
  return d;
}

fs::path CopySqlite(std::size_t count, const std::string& name) {
  const fs::path d = FreshDir(name);
  fs::copy_file(Fixture(count).Sqlite, d / "s.db");
  return d / "s.db";
}

std::size_t Count(const benchmark::State& state) { return static_cast<std::size_t>(state.range(0)); }

// ---- W1 bulk load in one transaction with two indexes

void W01Engine(benchmark::State& state) {
  const auto& rows = Rows(Count(state));
  for (auto _ : state) {
    state.PauseTiming();
    const fs::path dir = FreshDir("w01-engine");
    state.ResumeTiming();
    LoadEngine(dir, rows, false);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(rows.size()));
}
void W01Sqlite(benchmark::State& state) {
  const auto& rows = Rows(Count(state));
  for (auto _ : state) {
    state.PauseTiming();
    const fs::path file = FreshDir("w01-sqlite") / "s.db";
    state.ResumeTiming();
    LoadSqlite(file, rows);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(rows.size()));
}

// ---- W2 1,000 single-row transactions (appends)

constexpr int kSingleRowTransactions = 1000;

void W02Engine(benchmark::State& state) {
  TEngine e(CopyEngine(Count(state), "w02-engine"));
  const auto extra = GenerateRows(kSingleRowTransactions);
  for (auto _ : state) {
    for (const TRow& r : extra) {
      e.Begin();
      e.Append(r);
      e.Commit();
    }
  }
}
void W02Sqlite(benchmark::State& state) {
  TSqlite s(CopySqlite(Count(state), "w02-sqlite"));
  const auto extra = GenerateRows(kSingleRowTransactions);
  for (auto _ : state) {
    for (const TRow& r : extra) {
      s.Exec("BEGIN");
      s.Insert(r);
      s.Exec("COMMIT");
    }
  }
}

// ---- W3 exact lookups in random order (1,000 per iteration)

constexpr int kLookups = 1000;

std::vector<std::int32_t> LookupKeys(std::size_t count) {
  std::mt19937 rng(kSeed + 3);
  std::vector<std::int32_t> keys;
  for (int i = 0; i < kLookups; ++i) keys.push_back(Rows(count)[rng() % count].Postal);
  return keys;
}

void W03Engine(benchmark::State& state) {
  TEngine e(Fixture(Count(state)).Engine);
  const auto keys = LookupKeys(Count(state));
  for (auto _ : state) {
    for (std::int32_t k : keys) {
      e.SetInt(cPostal, k);
      bool exact = true;
      if (VdbTableLocateRec2(e.Table(), W(u"IRSZ"), e.Record().data(), 1, &exact) <= 0) {
        state.SkipWithError("key not found");
        return;
      }
      e.Read();
    }
  }
  state.SetItemsProcessed(state.iterations() * kLookups);
}
void W03Sqlite(benchmark::State& state) {
  TSqlite s(Fixture(Count(state)).Sqlite);
  const auto keys = LookupKeys(Count(state));
  for (auto _ : state) {
    for (std::int32_t k : keys) {
      sqlite3_stmt* st = s.Stmt("SELECT * FROM s WHERE irsz = ? ORDER BY irsz LIMIT 1");
      sqlite3_bind_int(st, 1, k);
      if (TSqlite::Drain(st) != 1) {
        state.SkipWithError("key not found");
        return;
      }
    }
  }
  state.SetItemsProcessed(state.iterations() * kLookups);
}

// ---- W4 type-ahead: the nearest name to a typed prefix and the next 10 records

std::vector<std::string> TypedPrefixes(std::size_t count) {
  std::mt19937 rng(kSeed + 4);
  std::vector<std::string> prefixes;
  for (int i = 0; i < 100; ++i) {
    const std::u16string name = U16(Rows(count)[rng() % count].Name);
    prefixes.push_back(vdb::VdbUtf16ToUtf8(name.substr(0, 1 + rng() % 4)));
  }
  return prefixes;
}

void W04Engine(benchmark::State& state) {
  TEngine e(Fixture(Count(state)).Engine);
  Check(VdbTableSetIndex(e.Table(), W(u"TELEP"), false) == 0, "index");
  const auto prefixes = TypedPrefixes(Count(state));
  for (auto _ : state) {
    for (const std::string& p : prefixes) {
      e.SetText(cName, p);
      bool exact = false;
      if (VdbTableLocateRec2(e.Table(), W(u"TELEP"), e.Record().data(), 1, &exact) < 0) {
        state.SkipWithError("locate");
        return;
      }
      e.Read();
      for (int i = 0; i < 10 && VdbTableMoveBy(e.Table(), 1) == 0; ++i) e.Read();
    }
  }
  state.SetItemsProcessed(state.iterations() * 100);
}
void W04Sqlite(benchmark::State& state) {
  TSqlite s(Fixture(Count(state)).Sqlite);
  const auto prefixes = TypedPrefixes(Count(state));
  for (auto _ : state) {
    for (const std::string& p : prefixes) {
      sqlite3_stmt* st = s.Stmt("SELECT * FROM s WHERE telep >= ? ORDER BY telep LIMIT 11");
      sqlite3_bind_text(st, 1, p.c_str(), static_cast<int>(p.size()), SQLITE_STATIC);
      TSqlite::Drain(st);
    }
  }
  state.SetItemsProcessed(state.iterations() * 100);
}

// ---- W5 full scan in natural order, W6 ordered walk through the name index,
// W15 full scan of the enciphered table

std::int64_t EngineWalk(TEngine& e) {
  std::int64_t n = 0;
  for (int r = VdbTableFirst(e.Table()); r >= 0; r = VdbTableMoveBy(e.Table(), 1)) {
    e.Read();
    ++n;
  }
  return n;
}

void EngineScan(benchmark::State& state, const fs::path& dir, bool cipher, const char16_t* index) {
  TEngine e(dir, cipher);
  if (index) Check(VdbTableSetIndex(e.Table(), W(index), false) == 0, "index");
  for (auto _ : state) {
    if (EngineWalk(e) != static_cast<std::int64_t>(Count(state))) state.SkipWithError("rows lost");
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(Count(state)));
}
void SqliteScan(benchmark::State& state, const char* sql) {
  TSqlite s(Fixture(Count(state)).Sqlite);
  for (auto _ : state) {
    if (TSqlite::Drain(s.Stmt(sql)) != static_cast<std::int64_t>(Count(state))) state.SkipWithError("rows lost");
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(Count(state)));
}

void W05Engine(benchmark::State& state) { EngineScan(state, Fixture(Count(state)).Engine, false, nullptr); }
void W05Sqlite(benchmark::State& state) { SqliteScan(state, "SELECT * FROM s"); }
void W06Engine(benchmark::State& state) { EngineScan(state, Fixture(Count(state)).Engine, false, u"TELEP"); }
void W06Sqlite(benchmark::State& state) { SqliteScan(state, "SELECT * FROM s ORDER BY telep"); }
void W15Engine(benchmark::State& state) { EngineScan(state, Fixture(Count(state)).Cipher, true, nullptr); }
void W15Sqlite(benchmark::State& state) { SqliteScan(state, "SELECT * FROM s"); }

// ---- W7 a filtered scan

std::int64_t SqliteCount(TSqlite& s, const char* sql) {
  sqlite3_stmt* st = s.Stmt(sql);
  Check(sqlite3_step(st) == SQLITE_ROW, "count");
  return sqlite3_column_int64(st, 0);
}

void W07Engine(benchmark::State& state) {
  TEngine e(Fixture(Count(state)).Engine);
  std::int64_t n = 0;
  for (auto _ : state) {
    Check(VdbTableSetSQLFilter(e.Table(), W(u"NEPESS > 5000 AND RANG = 'község'"), VDB_FILTER_STATIC, true) == 0,
          "filter");
    Check(VdbTableActivateFilter(e.Table(), true) == 0, "activate");
    n = EngineWalk(e);
    VdbTableActivateFilter(e.Table(), false);
  }
  state.counters["rows"] = static_cast<double>(n);
}
void W07Sqlite(benchmark::State& state) {
  TSqlite s(Fixture(Count(state)).Sqlite);
  std::int64_t n = 0;
  for (auto _ : state) n = TSqlite::Drain(s.Stmt("SELECT * FROM s WHERE nepess > 5000 AND rang = 'község'"));
  state.counters["rows"] = static_cast<double>(n);
}

// ---- W8 a prefix search: LIKE 'Sz%' as written, and as a range on the name index

std::int64_t EngineQuery(int16_t sess, const char16_t* sql) {
  const int16_t st = VdbSessCreateStatement(sess);
  Check(st > 0, "statement");
  Check(VdbStmtSetSqlText(st, W(sql)) == 0, "sql text");
  Check(VdbStmtPrepare(st, 0) == 0, "prepare");
  Check(VdbStmtExecute(st) >= 0, "execute");
  const int16_t result = VdbStmtCreateResultTableHdl(st);
  Check(result > 0, "result");
  std::vector<std::uint8_t> record(static_cast<std::size_t>(VdbTableGetRecordSize(result)));
  std::int64_t n = 0;
  for (int r = VdbTableFirst(result); r >= 0; r = VdbTableMoveBy(result, 1)) {
    VdbTableGetRecord(result, record.data(), static_cast<int32_t>(record.size()));
    ++n;
  }
  VdbTableDelete(result);
  VdbStmtDelete(st);
  return n;
}

void W08LikeEngine(benchmark::State& state) {
  TEngine e(Fixture(Count(state)).Engine);
  std::int64_t n = 0;
  for (auto _ : state) n = EngineQuery(e.Sess(), u"SELECT * FROM S WHERE TELEP LIKE 'Sz%'");
  state.counters["rows"] = static_cast<double>(n);
}
void W08LikeSqlite(benchmark::State& state) {
  TSqlite s(Fixture(Count(state)).Sqlite);
  std::int64_t n = 0;
  for (auto _ : state) n = TSqlite::Drain(s.Stmt("SELECT * FROM s WHERE telep LIKE 'Sz%'"));
  state.counters["rows"] = static_cast<double>(n);
}
void W08RangeEngine(benchmark::State& state) {
  TEngine e(Fixture(Count(state)).Engine);
  Check(VdbTableSetIndex(e.Table(), W(u"TELEP"), false) == 0, "index");
  e.SetText(cName, "Sz");
  const std::vector<std::uint8_t> lower = e.Record();
  e.SetText(cName, "Szzzzz");
  const std::vector<std::uint8_t> upper = e.Record();
  std::int64_t n = 0;
  for (auto _ : state) {
    Check(VdbTableSetRange(e.Table(), lower.data(), upper.data(), static_cast<int32_t>(lower.size()), 1, 1) == 0,
          "range");
    n = EngineWalk(e);
    VdbTableClearRange(e.Table());
  }
  state.counters["rows"] = static_cast<double>(n);
}
void W08RangeSqlite(benchmark::State& state) {
  TSqlite s(Fixture(Count(state)).Sqlite);
  std::int64_t n = 0;
  for (auto _ : state) {
    n = TSqlite::Drain(s.Stmt("SELECT * FROM s WHERE telep >= 'Sz' AND telep <= 'Szzzzz' ORDER BY telep"));
  }
  state.counters["rows"] = static_cast<double>(n);
}

// ---- W9 record count

void W09Engine(benchmark::State& state) {
  TEngine e(Fixture(Count(state)).Engine);
  for (auto _ : state) {
    if (VdbTableGetRecordCount(e.Table()) != static_cast<int32_t>(Count(state))) state.SkipWithError("count");
  }
}
void W09Sqlite(benchmark::State& state) {
  TSqlite s(Fixture(Count(state)).Sqlite);
  for (auto _ : state) {
    if (SqliteCount(s, "SELECT count(*) FROM s") != static_cast<std::int64_t>(Count(state))) state.SkipWithError("count");
  }
}

// ---- W10 the statistics GROUP BY

void W10Engine(benchmark::State& state) {
  TEngine e(Fixture(Count(state)).Engine);
  std::int64_t n = 0;
  for (auto _ : state) {
    n = EngineQuery(e.Sess(), u"SELECT MEGYE, COUNT(MEGYE), SUM(TERULET), SUM(NEPESS), SUM(LAKAS) FROM S GROUP BY MEGYE");
  }
  state.counters["rows"] = static_cast<double>(n);
}
void W10Sqlite(benchmark::State& state) {
  TSqlite s(Fixture(Count(state)).Sqlite);
  std::int64_t n = 0;
  for (auto _ : state) {
    n = TSqlite::Drain(
        s.Stmt("SELECT megye, count(megye), sum(terulet), sum(nepess), sum(lakas) FROM s GROUP BY megye"));
  }
  state.counters["rows"] = static_cast<double>(n);
}

// ---- W11 update 10 % and W12 delete 50 % at random, each in one transaction

void W11Engine(benchmark::State& state) {
  const std::size_t count = Count(state);
  TEngine e(CopyEngine(count, "w11-engine"));
  std::mt19937 rng(kSeed + 11);
  for (auto _ : state) {
    e.Begin();
    for (std::size_t i = 0; i < count / 10; ++i) {
      const auto recNo = static_cast<int32_t>(1 + rng() % count);
      Check(VdbTableSetRecNo(e.Table(), recNo) == recNo, "goto");
      Check(VdbTableEdit(e.Table()) == 0, "edit");
      e.Read();
      e.SetInt(cPopulation, e.GetInt(cPopulation) + 1);
      Check(VdbTableSetRecord(e.Table(), e.Record().data(), static_cast<int32_t>(e.Record().size())) == 0, "set");
      Check(VdbTableEditConfirm(e.Table()) >= 0, "edit confirm");
    }
    e.Commit();
  }
}
void W11Sqlite(benchmark::State& state) {
  const std::size_t count = Count(state);
  TSqlite s(CopySqlite(count, "w11-sqlite"));
  std::mt19937 rng(kSeed + 11);
  for (auto _ : state) {
    s.Exec("BEGIN");
    for (std::size_t i = 0; i < count / 10; ++i) {
      sqlite3_stmt* st = s.Stmt("UPDATE s SET nepess = nepess + 1 WHERE id = ?");
      sqlite3_bind_int64(st, 1, static_cast<sqlite3_int64>(1 + rng() % count));
      Check(sqlite3_step(st) == SQLITE_DONE, "update");
    }
    s.Exec("COMMIT");
  }
}

void W12Engine(benchmark::State& state) {
  const std::size_t count = Count(state);
  for (auto _ : state) {
    state.PauseTiming();
    std::mt19937 rng(kSeed + 12);
    {
      TEngine e(CopyEngine(count, "w12-engine"));
      state.ResumeTiming();
      e.Begin();
      // The engine keeps record numbers dense (the last record moves into a deleted one's
      // place), so a random live record is a random number up to the current count.
      for (std::size_t left = count; left > count / 2; --left) {
        const auto recNo = static_cast<int32_t>(1 + rng() % left);
        Check(VdbTableSetRecNo(e.Table(), recNo) == recNo, "goto");
        Check(VdbTableDeleteRecord(e.Table()) >= 0, "delete");
      }
      e.Commit();
      state.PauseTiming();
    }
    state.ResumeTiming();
  }
}
void W12Sqlite(benchmark::State& state) {
  const std::size_t count = Count(state);
  for (auto _ : state) {
    state.PauseTiming();
    std::mt19937 rng(kSeed + 12);
    std::vector<std::int64_t> ids(count);
    for (std::size_t i = 0; i < count; ++i) ids[i] = static_cast<std::int64_t>(i + 1);
    {
      TSqlite s(CopySqlite(count, "w12-sqlite"));
      state.ResumeTiming();
      s.Exec("BEGIN");
      for (std::size_t left = count; left > count / 2; --left) {
        const std::size_t at = rng() % left;
        sqlite3_stmt* st = s.Stmt("DELETE FROM s WHERE id = ?");
        sqlite3_bind_int64(st, 1, ids[at]);
        Check(sqlite3_step(st) == SQLITE_DONE, "delete");
        ids[at] = ids[left - 1];
      }
      s.Exec("COMMIT");
      state.PauseTiming();
    }
    state.ResumeTiming();
  }
}

// ---- W13 open the database and the table and read the first record (a new session each time)

void W13Engine(benchmark::State& state) {
  const fs::path dir = Fixture(Count(state)).Engine;
  for (auto _ : state) {
    TEngine e(dir);
    Check(VdbTableFirst(e.Table()) >= 0, "first");
    e.Read();
  }
}
void W13Sqlite(benchmark::State& state) {
  const fs::path file = Fixture(Count(state)).Sqlite;
  for (auto _ : state) {
    TSqlite s(file);
    Check(TSqlite::Drain(s.Stmt("SELECT * FROM s LIMIT 1")) == 1, "first");
  }
}

// ---- W14 1,000 notes of 2 KiB written (one transaction) and read back

constexpr int kNotes = 1000;
const std::string& LongNote() {
  static const std::string note = [] {
    std::string n;
    // Plain ASCII: 2,048 bytes in the code page and in UTF-8 alike.
    while (n.size() < 2048) n += "A telepules hataraban romai kori leletek. ";
    n.resize(2048);
    return n;
  }();
  return note;
}

void W14Engine(benchmark::State& state) {
  TEngine e(CopyEngine(Count(state), "w14-engine"));
  TRow row = Rows(Count(state)).front();
  row.Note = LongNote();
  std::vector<char> buffer(4096);
  for (auto _ : state) {
    const int32_t first = VdbTableGetRecordCount(e.Table()) + 1;
    e.Begin();
    for (int i = 0; i < kNotes; ++i) e.Append(row);
    e.Commit();
    for (int32_t r = first; r < first + kNotes; ++r) {
      Check(VdbTableSetRecNo(e.Table(), r) == r, "goto");
      int16_t type = 0;
      const int32_t size = VdbTableInitGetBlob(e.Table(), cNote, -1, &type);
      if (size != 2048) {
        throw std::runtime_error("note of record " + std::to_string(r) + ": size " + std::to_string(size));
      }
      Check(VdbTablePerformGetBlob(e.Table(), buffer.data(), static_cast<int32_t>(buffer.size())) == size, "note");
    }
  }
}
void W14Sqlite(benchmark::State& state) {
  TSqlite s(CopySqlite(Count(state), "w14-sqlite"));
  TRow row = Rows(Count(state)).front();
  row.Note = LongNote();
  for (auto _ : state) {
    s.Exec("BEGIN");
    std::int64_t first = 0;
    for (int i = 0; i < kNotes; ++i) {
      s.Insert(row);
      if (i == 0) first = sqlite3_last_insert_rowid(s.Db());
    }
    s.Exec("COMMIT");
    for (std::int64_t id = first; id < first + kNotes; ++id) {
      sqlite3_stmt* st = s.Stmt("SELECT egyeb FROM s WHERE id = ?");
      sqlite3_bind_int64(st, 1, id);
      Check(sqlite3_step(st) == SQLITE_ROW && sqlite3_column_bytes(st, 0) > 2000, "note");
    }
  }
}

// ---- registration

struct TPair {
  const char* Name;
  void (*Engine)(benchmark::State&);
  void (*Sqlite)(benchmark::State&);
  int Iterations;  // per repetition, at 3,155 rows (fewer at 100,000 for whole-table work)
  bool WholeTable; // whether one iteration touches every row
};

void Register() {
  const TPair pairs[] = {
      {"W01_BulkLoad", W01Engine, W01Sqlite, 1, true},
      {"W02_SingleRowTransactions", W02Engine, W02Sqlite, 1, false},
      {"W03_ExactLookup", W03Engine, W03Sqlite, 5, false},
      {"W04_TypeAhead", W04Engine, W04Sqlite, 5, false},
      {"W05_FullScan", W05Engine, W05Sqlite, 5, true},
      {"W06_IndexWalk", W06Engine, W06Sqlite, 5, true},
      {"W07_FilteredScan", W07Engine, W07Sqlite, 5, true},
      {"W08_PrefixLike", W08LikeEngine, W08LikeSqlite, 5, true},
      {"W08_PrefixRange", W08RangeEngine, W08RangeSqlite, 20, false},
      {"W09_RecordCount", W09Engine, W09Sqlite, 1000, false},
      {"W10_GroupBy", W10Engine, W10Sqlite, 3, true},
      {"W11_Update10pct", W11Engine, W11Sqlite, 1, true},
      {"W12_Delete50pct", W12Engine, W12Sqlite, 1, true},
      {"W13_OpenFirstRecord", W13Engine, W13Sqlite, 20, false},
      {"W14_Notes2KiB", W14Engine, W14Sqlite, 1, false},
      {"W15_EncipheredScan", W15Engine, W15Sqlite, 5, true},
  };
  for (const std::int64_t rows : {3155, 100000}) {
    for (const TPair& p : pairs) {
      const int iterations = rows > 3155 && p.WholeTable ? 1 : p.Iterations;
      for (int side = 0; side < 2; ++side) {
        const std::string name = std::string(p.Name) + (side == 0 ? "/engine" : "/sqlite");
        // Under callgrind (bench/callgrind.sh) each case is collected on its own and dumped
        // under its name; elsewhere the requests do nothing.
        void (*run)(benchmark::State&) = side == 0 ? p.Engine : p.Sqlite;
        const std::string dump = name + "/" + std::to_string(rows);
        benchmark::RegisterBenchmark(name.c_str(),
                                     [run, dump](benchmark::State& state) {
                                       CALLGRIND_TOGGLE_COLLECT;
                                       run(state);
                                       CALLGRIND_TOGGLE_COLLECT;
                                       CALLGRIND_DUMP_STATS_AT(dump.c_str());
                                     })
            ->Arg(rows)
            ->Iterations(iterations)
            ->UseRealTime()
            ->Unit(benchmark::kMicrosecond);
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  Register();
  benchmark::Initialize(&argc, argv);
  int status = 0;
  try {
    // Counted instructions should be the workloads' own: the shared databases are written
    // before collection starts.
    if (RUNNING_ON_VALGRIND) Fixture(3155);
    benchmark::RunSpecifiedBenchmarks();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "suite: %s\n", e.what());
    status = 1;
  }
  benchmark::Shutdown();
  std::error_code ec;
  fs::remove_all(BenchDir(), ec);
  return status;
}
