// Conditions generated at random over integers, lower-case ASCII strings and NULL, evaluated
// by the engine over a table and by SQLite's WHERE over the same rows: the same records must
// pass. The seed comes from VIDORA_SEED (printed); the run is bounded by its step count.
//
// Where the two languages are meant to differ, the SQLite text says what the engine means:
// LIKE on NULL is FALSE here (so NOT LIKE on NULL is TRUE), written for SQLite as
// (x IS NOT NULL AND x LIKE p). BETWEEN is the AND of its two comparisons in both. Literals are compared only with columns of their own kind.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <optional>
#include <iostream>
#include <memory>
#include <random>
#include <set>
#include <string>

#include "../tables/TableTestSupport.h"
#include "session/VdbAccessor.h"
#include "sql/VdbCondition.h"

namespace vdb {
namespace {

constexpr int kRows = 80;
constexpr int kConditions = 600;

struct TRow {
  std::optional<std::int64_t> A, B;
  std::optional<std::string> S, T;
};

class TGenerator {
 public:
  explicit TGenerator(std::uint32_t seed) : FRandom(seed) {}
  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(FRandom); }

  std::optional<std::int64_t> Int() {
    if (Pick(6) == 0) return std::nullopt;
    return Pick(11) - 5;
  }
  std::optional<std::string> Str() {
    if (Pick(6) == 0) return std::nullopt;
    std::string s;
    for (int i = Pick(4); i > 0; --i) s += static_cast<char>('a' + Pick(4));
    return s;
  }

  // One condition: `engine` and `sqlite` get the two spellings.
  void Condition(int depth, std::string& engine, std::string& sqlite) {
    const int kind = depth > 2 ? 3 + Pick(1) : Pick(4);
    if (kind < 3) {
      std::string e1, s1, e2, s2;
      Condition(depth + 1, e1, s1);
      Condition(depth + 1, e2, s2);
      const char* op = kind == 0 ? " AND " : kind == 1 ? " OR " : nullptr;
      if (op) {
        engine = "(" + e1 + op + e2 + ")";
        sqlite = "(" + s1 + op + s2 + ")";
      } else {
        engine = "NOT (" + e1 + ")";
        sqlite = "NOT (" + s1 + ")";
      }
      return;
    }
    Predicate(engine, sqlite);
  }

 private:
  std::string IntOperand() {
    switch (Pick(6)) {
      case 0: return "A";
      case 1: return "B";
      case 2: return "A + B";
      case 3: return "A - B - 1";
      case 4: return "A * 2 - B";
      default: {
        auto v = Int();
        return v ? std::to_string(*v) : std::string("NULL");
      }
    }
  }
  std::string StrLiteral() {
    auto v = Str();
    return v ? "'" + *v + "'" : std::string("NULL");
  }
  std::string StrOperand() {
    switch (Pick(3)) {
      case 0: return "S";
      case 1: return "T";
      default: return StrLiteral();
    }
  }
  std::string Compare() {
    static const char* ops[] = {" = ", " <> ", " < ", " <= ", " > ", " >= "};
    return ops[Pick(6)];
  }

  void Predicate(std::string& engine, std::string& sqlite) {
    const bool ints = Pick(2) == 0;
    const std::string column = ints ? (Pick(2) ? "A" : "B") : (Pick(2) ? "S" : "T");
    auto operand = [&] { return ints ? IntOperand() : StrOperand(); };
    auto literal = [&] {
      if (!ints) return StrLiteral();
      auto v = Int();
      return v ? std::to_string(*v) : std::string("NULL");
    };
    switch (Pick(ints ? 5 : 6)) {
      case 0: engine = column + Compare() + operand(); break;
      case 1: engine = column + (Pick(2) ? " IS NULL" : " IS NOT NULL"); break;
      case 2: engine = column + (Pick(3) == 0 ? " NOT" : "") + " BETWEEN " + literal() + " AND " + literal(); break;
      case 3: {
        engine = column + (Pick(3) == 0 ? " NOT IN (" : " IN (");
        for (int i = 1 + Pick(3); i > 0; --i) engine += literal() + (i > 1 ? ", " : "");
        engine += ")";
        break;
      }
      case 4: engine = operand() + Compare() + column; break;
      default: {
        std::string pattern;
        for (int i = 1 + Pick(3); i > 0; --i) {
          const int c = Pick(6);
          pattern += c == 0 ? '%' : c == 1 ? '_' : static_cast<char>('a' + Pick(4));
        }
        const bool negated = Pick(3) == 0;
        engine = column + (negated ? " NOT LIKE '" : " LIKE '") + pattern + "'";
        const std::string like = "(" + column + " IS NOT NULL AND " + column + " LIKE '" + pattern + "')";
        sqlite = negated ? "NOT " + like : like;
        return;
      }
    }
    sqlite = engine;
  }

  std::mt19937 FRandom;
};

std::uint32_t Seed() {
  const char* env = std::getenv("VIDORA_SEED");
  const std::uint32_t seed = env ? static_cast<std::uint32_t>(std::strtoul(env, nullptr, 10)) : std::random_device{}();
  std::cout << "VIDORA_SEED=" << seed << std::endl;
  return seed;
}

TEST(ConditionDifferentialTest, EngineAndSqlitePassTheSameRecords) {
  const std::uint32_t seed = Seed();
  TGenerator gen(seed);
  std::vector<TRow> rows(kRows);
  for (auto& r : rows) r = {gen.Int(), gen.Int(), gen.Str(), gen.Str()};

  // The engine's table.
  test::TTableWorld world;
  TVdbNewTable def;
  def.Path = u"/db/Diff";
  def.Level = 6;
  def.Columns = {test::Column(u"A", vctInteger, 0, true), test::Column(u"B", vctInteger, 0, true),
                 test::Column(u"S", vctString, 10, true), test::Column(u"T", vctString, 10, true)};
  ASSERT_EQ(world.NewTableObject()->NewTable(def), 0) << VdbUtf16ToUtf8(world.LastError.Msg());
  auto table = world.OpenTable(u"/db/Diff.vdbt");
  std::vector<std::uint8_t> record(static_cast<std::size_t>(table->GetRecordSize()));
  for (const auto& r : rows) {
    std::fill(record.begin(), record.end(), std::uint8_t{0});
    r.A ? test::SetInt(*table, record, 0, *r.A) : test::SetNullField(*table, record, 0);
    r.B ? test::SetInt(*table, record, 1, *r.B) : test::SetNullField(*table, record, 1);
    r.S ? test::SetText(*table, record, 2, VdbUtf8ToUtf16(*r.S)) : test::SetNullField(*table, record, 2);
    r.T ? test::SetText(*table, record, 3, VdbUtf8ToUtf16(*r.T)) : test::SetNullField(*table, record, 3);
    ASSERT_GT(test::AppendRaw(*table, record), 0);
  }

  // SQLite's copy, row ids = record numbers.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  const std::unique_ptr<sqlite3, int (*)(sqlite3*)> closer(db, sqlite3_close);
  ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE Diff (A INTEGER, B INTEGER, S TEXT, T TEXT)", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_stmt* insert = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "INSERT INTO Diff (rowid, A, B, S, T) VALUES (?, ?, ?, ?, ?)", -1, &insert, nullptr), SQLITE_OK);
  for (int i = 0; i < kRows; ++i) {
    const TRow& r = rows[static_cast<std::size_t>(i)];
    sqlite3_bind_int(insert, 1, i + 1);
    r.A ? sqlite3_bind_int64(insert, 2, *r.A) : sqlite3_bind_null(insert, 2);
    r.B ? sqlite3_bind_int64(insert, 3, *r.B) : sqlite3_bind_null(insert, 3);
    r.S ? sqlite3_bind_text(insert, 4, r.S->c_str(), -1, SQLITE_TRANSIENT) : sqlite3_bind_null(insert, 4);
    r.T ? sqlite3_bind_text(insert, 5, r.T->c_str(), -1, SQLITE_TRANSIENT) : sqlite3_bind_null(insert, 5);
    ASSERT_EQ(sqlite3_step(insert), SQLITE_DONE);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);

  int checked = 0;
  for (int step = 0; step < kConditions; ++step) {
    std::string engineText, sqliteText;
    gen.Condition(0, engineText, sqliteText);
    SCOPED_TRACE("VIDORA_SEED=" + std::to_string(seed) + " step " + std::to_string(step) + ": " + engineText);

    std::set<std::int32_t> engine;
    TVdbConditionFilter filter(*table, VdbUtf8ToUtf16(engineText), tesVidoraSQL, 0, TvuFormats::Invariant());
    TVdbAccessor walker(*table, u"diff");
    for (std::int16_t r = walker.First(); r == 0; r = walker.Next())
      if (filter.Accepts(walker)) engine.insert(walker.RecordNo());

    std::set<std::int32_t> lite;
    sqlite3_stmt* select = nullptr;
    const std::string sql = "SELECT rowid FROM Diff WHERE " + sqliteText;
    ASSERT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &select, nullptr), SQLITE_OK) << sqlite3_errmsg(db) << ": " << sql;
    const std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> finalizer(select, sqlite3_finalize);
    while (sqlite3_step(select) == SQLITE_ROW) lite.insert(sqlite3_column_int(select, 0));

    ASSERT_EQ(engine, lite) << "SQLite: " << sqliteText;
    ++checked;
  }
  EXPECT_EQ(checked, kConditions);
}

}  // namespace
}  // namespace vdb
