// Queries over the real settlements run by the engine and by SQLite over the same rows: the
// five statistics statements and SELECTs generated at random over the safe subset (integer
// columns, ASCII string literals, NULL, WHERE, GROUP BY, COUNT/SUM/MIN/MAX, ORDER BY on
// integers) must give the same result multisets; with ORDER BY the engine's rows must also be
// in order. The seed comes from VIDORA_SEED (printed); the run is bounded by its query count.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "../support/SettlementWorld.h"
#include "session/VdbLocSess.h"
#include "sql/VdbStatement.h"

namespace vdb {
namespace {

constexpr int kQueries = 60;

using TTable = std::vector<std::vector<std::string>>;

// A cell as both sides print it: numbers with three decimals, NULL as NULL.
std::string Canonical(const std::string& text, bool isNull) {
  if (isNull) return "NULL";
  char* end = nullptr;
  const double d = std::strtod(text.c_str(), &end);
  if (!text.empty() && end != nullptr && *end == '\0') {
    char b[64];
    std::snprintf(b, sizeof b, "%.3f", d);
    return b;
  }
  return text;
}

class QueryDifferential : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    World = new test::TSettlementWorld();
    World->Table->Close();
    World->Table.reset();
    World->World.Fs.ForcePath(u"/private");
    ASSERT_EQ(sqlite3_open(":memory:", &Db), SQLITE_OK);
    Exec("CREATE TABLE Irsz (IRSZ INTEGER, TELEP TEXT, TELK INTEGER, RANG TEXT, REGIO TEXT, MEGYE TEXT, "
         "KISTERS TEXT, TERULET REAL, NEPESS INTEGER, LAKAS INTEGER)");
    sqlite3_stmt* insert = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(Db, "INSERT INTO Irsz VALUES (?,?,?,?,?,?,?,?,?,?)", -1, &insert, nullptr), SQLITE_OK);
    Exec("BEGIN");
    for (const auto& row : test::ReadSettlements()) {
      sqlite3_reset(insert);
      for (int c = 0; c < 10; ++c) {
        const std::u16string& v = row[static_cast<std::size_t>(c)];
        // The engine's table holds an empty field as NULL; so does this one.
        if (v.empty()) {
          sqlite3_bind_null(insert, c + 1);
        } else if (c == 1 || (c >= 3 && c <= 6)) {
          sqlite3_bind_text(insert, c + 1, VdbUtf16ToUtf8(v).c_str(), -1, SQLITE_TRANSIENT);
        } else if (c == 7) {
          sqlite3_bind_double(insert, c + 1, static_cast<double>(testsupport::ToInt(v)));
        } else {
          sqlite3_bind_int64(insert, c + 1, testsupport::ToInt(v));
        }
      }
      ASSERT_EQ(sqlite3_step(insert), SQLITE_DONE);
    }
    Exec("COMMIT");
    sqlite3_finalize(insert);
  }
  static void TearDownTestSuite() {
    sqlite3_close(Db);
    delete World;
  }
  static void Exec(const char* sql) { ASSERT_EQ(sqlite3_exec(Db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sql; }

  void SetUp() override {
    Session = std::make_unique<TVdbLocalSession>(World->World.PageManager, World->World.Fs,
                                                 TvuServices{World->World.Clock, World->World.Sleeper, World->World.Random});
    Session->Initialize(2);
    Session->SetPrivateDir(u"/private");
    ASSERT_EQ(Session->OpenDb(u"/db"), 0);
  }

  TTable Engine(const std::string& sql) {
    TVdbStatement st(Session->Catalog(), Session->LastError());
    TTable out;
    const std::string msg = " [" + sql + "] ";
    if (st.SetText(VdbUtf8ToUtf16(sql)) != 0 || st.Prepare() != 0 || st.Execute() != 0) {
      ADD_FAILURE() << msg << VdbUtf16ToUtf8(Session->LastError().Msg());
      return out;
    }
    TVdbRelation* r = Session->Catalog().GetRelation(st.GetResultRltnIdx());
    std::vector<std::uint8_t> rec(static_cast<std::size_t>(r->GetRecordSize()));
    for (std::int32_t n = r->GetFirstRecordNo(); n > 0; n = r->GetNextRecordNo(n)) {
      r->ReadRecord(n, rec);
      std::vector<std::string> row;
      for (int c = 0; c < r->ColumnDefs().GetCount(); ++c) {
        const TVdbColumnDef& col = r->ColumnDefs().GetColumnDef(c);
        TVdbDataValue v;
        col.DataType()->SetReference(v, rec, static_cast<std::size_t>(col.Position()));
        const bool null = col.DataType()->IsNull(v);
        row.push_back(Canonical(null ? "" : VdbUtf16ToUtf8(col.DataType()->ConvertToString(v, TvuFormats::Invariant())), null));
      }
      out.push_back(std::move(row));
    }
    return out;
  }

  static TTable Sqlite(const std::string& sql) {
    TTable out;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(Db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
      ADD_FAILURE() << sql << ": " << sqlite3_errmsg(Db);
      return out;
    }
    while (sqlite3_step(st) == SQLITE_ROW) {
      std::vector<std::string> row;
      for (int c = 0; c < sqlite3_column_count(st); ++c) {
        const bool null = sqlite3_column_type(st, c) == SQLITE_NULL;
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st, c));
        row.push_back(Canonical(text ? text : "", null));
      }
      out.push_back(std::move(row));
    }
    sqlite3_finalize(st);
    return out;
  }

  // Same multiset of rows on both sides.
  void Compare(const std::string& engineSql, const std::string& sqliteSql) {
    TTable a = Engine(engineSql);
    TTable b = Sqlite(sqliteSql);
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    EXPECT_EQ(a, b) << engineSql;
  }

  static test::TSettlementWorld* World;
  static sqlite3* Db;
  std::unique_ptr<TVdbLocalSession> Session;
};

test::TSettlementWorld* QueryDifferential::World = nullptr;
sqlite3* QueryDifferential::Db = nullptr;

TEST_F(QueryDifferential, StatisticsStatements) {
  for (const char* g : {"RANG", "REGIO", "MEGYE", "KISTERS", "TELK"}) {
    const std::string where = std::string(g) == "TELK" ? "" : std::string(" WHERE ") + g + " <> ''";
    const std::string sql = std::string("SELECT ") + g + ",  COUNT(" + g + "), SUM(TERULET), SUM(NEPESS), SUM(LAKAS) FROM Irsz" +
                            where + " GROUP BY " + g;
    Compare(sql, sql);
  }
}

TEST_F(QueryDifferential, SubQueries) {
  // IN, NOT IN with the NULLs of the telephone areas, and correlated EXISTS / NOT EXISTS.
  for (const char* sql : {
           "SELECT TELEP FROM Irsz WHERE IRSZ IN (SELECT IRSZ FROM Irsz WHERE RANG = 'megyei jogú város')",
           "SELECT COUNT(*) FROM Irsz WHERE TELK NOT IN (SELECT TELK FROM Irsz WHERE MEGYE = 'Nógrád')",
           "SELECT COUNT(*) FROM Irsz WHERE TELK NOT IN (SELECT TELK FROM Irsz WHERE MEGYE = 'Nógrád' AND TELK IS NOT NULL)",
           "SELECT a.TELEP FROM Irsz a WHERE a.MEGYE = 'Nógrád' AND EXISTS "
           "(SELECT b.IRSZ FROM Irsz b WHERE b.KISTERS = a.KISTERS AND b.NEPESS > a.NEPESS * 20)",
           "SELECT a.RANG, COUNT(*) FROM Irsz a WHERE a.MEGYE = 'Heves' AND NOT EXISTS "
           "(SELECT b.IRSZ FROM Irsz b WHERE b.TELK = a.TELK AND b.IRSZ <> a.IRSZ) GROUP BY a.RANG",
       }) {
    Compare(sql, sql);
  }
  // ALL and ANY, which SQLite lacks, against their meaning over values without NULL.
  Compare("SELECT TELEP FROM Irsz WHERE NEPESS > ALL (SELECT NEPESS FROM Irsz WHERE MEGYE = 'Vas' AND NEPESS IS NOT NULL)",
          "SELECT TELEP FROM Irsz WHERE NEPESS > (SELECT MAX(NEPESS) FROM Irsz WHERE MEGYE = 'Vas' AND NEPESS IS NOT NULL)");
  Compare("SELECT TELEP FROM Irsz WHERE MEGYE = 'Zala' AND LAKAS <= ANY (SELECT LAKAS FROM Irsz WHERE MEGYE = 'Tolna' AND "
          "LAKAS IS NOT NULL)",
          "SELECT TELEP FROM Irsz WHERE MEGYE = 'Zala' AND LAKAS <= (SELECT MAX(LAKAS) FROM Irsz WHERE MEGYE = 'Tolna' AND "
          "LAKAS IS NOT NULL)");
}

TEST_F(QueryDifferential, GeneratedSelects) {
  const char* env = std::getenv("VIDORA_SEED");
  const std::uint32_t seed = env ? static_cast<std::uint32_t>(std::strtoul(env, nullptr, 10)) : std::random_device{}();
  std::cout << "VIDORA_SEED=" << seed << std::endl;
  std::mt19937 random(seed);
  auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
  const char* ints[] = {"IRSZ", "TELK", "NEPESS", "LAKAS"};
  const char* groups[] = {"RANG", "MEGYE", "REGIO", "TELK"};
  const char* words[] = {"'Pest'", "'Zala'", "'Vas'", "'Heves'", "'Baranya'", "'Somogy'", "'Tolna'", "'Budapest'", "'község'"};
  const char* strCols[] = {"MEGYE", "RANG"};
  const char* ops[] = {"=", "<>", "<", "<=", ">", ">="};
  auto atom = [&]() -> std::string {
    switch (pick(4)) {
      case 0: {
        const char* c = ints[pick(4)];
        const int bound = std::string(c) == "IRSZ" ? 1000 + pick(9000) : std::string(c) == "TELK" ? pick(100) : pick(5000);
        return std::string(c) + " " + ops[pick(6)] + " " + std::to_string(bound);
      }
      case 1: return std::string(strCols[pick(2)]) + (pick(2) ? " = " : " <> ") + words[pick(9)];
      case 2: return std::string(ints[pick(4)]) + (pick(2) ? " IS NULL" : " IS NOT NULL");
      // Two columns of one type.
      default: return std::string(pick(2) ? "NEPESS" : "LAKAS") + " " + ops[pick(6)] + " " + (pick(2) ? "NEPESS" : "LAKAS");
    }
  };
  std::function<std::string(int)> condition = [&](int depth) -> std::string {
    const int kind = depth > 2 ? 3 : pick(5);
    if (kind == 0) return "(" + condition(depth + 1) + " AND " + condition(depth + 1) + ")";
    if (kind == 1) return "(" + condition(depth + 1) + " OR " + condition(depth + 1) + ")";
    if (kind == 2) return "NOT (" + condition(depth + 1) + ")";
    return atom();
  };
  for (int q = 0; q < kQueries; ++q) {
    const std::string where = pick(4) ? " WHERE " + condition(0) : "";
    if (pick(2)) {
      const std::string g = groups[pick(4)];
      const std::string a = ints[pick(4)];
      const std::string b = ints[pick(4)];
      const std::string select = "SELECT " + g + ", COUNT(*), COUNT(" + a + "), SUM(" + b + "), MIN(" + a + "), MAX(" + b + ")";
      const std::string sql = select + " FROM Irsz" + where + " GROUP BY " + g;
      Compare(sql, sql);
    } else if (pick(3) == 0) {
      const std::string sql = "SELECT COUNT(*), SUM(NEPESS), MIN(IRSZ), MAX(LAKAS) FROM Irsz" + where;
      Compare(sql, sql);
    } else {
      const std::string key = ints[pick(4)];
      const std::string sql = "SELECT IRSZ, TELEP, " + key + " FROM Irsz" + where + " ORDER BY " + key;
      Compare(sql, sql);
      // The engine's rows come in the order asked for (NULL first, as the engine sorts it).
      const TTable rows = Engine(sql);
      for (std::size_t i = 1; i < rows.size(); ++i) {
        const std::string& x = rows[i - 1][2];
        const std::string& y = rows[i][2];
        if (x == "NULL" || y == "NULL") {
          EXPECT_TRUE(x == "NULL" || y != "NULL") << sql;
          continue;
        }
        EXPECT_LE(std::stod(x), std::stod(y)) << sql;
      }
    }
    if (HasFailure()) {
      std::cout << "failed at query " << q << " with VIDORA_SEED=" << seed << std::endl;
      return;
    }
  }
}

}  // namespace
}  // namespace vdb
