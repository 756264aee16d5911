// Statements generated at random from the grammar: each parses, renders to text, and the text
// parses back into an equal tree. The same texts with one token removed or doubled either still
// parse or fail with a parser error placed at or after the change, on the line it names; never
// a crash or another exception. Step-bounded; the seed comes from VIDORA_SEED and is printed.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <random>

#include "base/VdbErrors.h"
#include "base/VdbFormat.h"
#include "sql/VdbSqlCommand.h"
#include "sql/VdbSqlParser.h"

namespace vdb {
namespace {

std::uint32_t RunSeed() {
  static const std::uint32_t seed = [] {
    std::uint32_t s = 0;
    if (const char* e = std::getenv("VIDORA_SEED"); e != nullptr && *e != 0) {
      s = static_cast<std::uint32_t>(std::strtoul(e, nullptr, 10));
    } else {
      s = static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    }
    std::cout << "VIDORA_SEED=" << s << "\n";
    return s;
  }();
  return seed;
}

std::string U8(const std::u16string& s) { return VdbUtf16ToUtf8(s); }

// A random walk through the statement grammar, depth-limited.
class TGenerator {
 public:
  explicit TGenerator(std::uint32_t seed) : FRandom(seed) {}

  std::u16string Statement() {
    switch (Pick(12)) {
      case 0: return Insert();
      case 1: return Update();
      case 2: return u"DELETE FROM " + Table() + (Chance(2) ? u" WHERE " + Condition(2) : u"");
      case 3: return CreateTable();
      case 4: return AlterTable();
      case 5: return std::u16string(Chance(2) ? u"CREATE UNIQUE INDEX " : u"CREATE INDEX ") + Name() + u" ON " + Table() +
                     u" (" + SortList() + u")";
      case 6: return Choose({u"DROP TABLE " + Table(), u"DROP INDEX " + Table() + u"." + Name(),
                             u"DROP FULLTEXTINDEX " + Table() + u"." + Name(), u"UPDATE INDEX " + Table() + u".*",
                             u"UPDATE FULLTEXTINDEX " + Table() + u"." + Name(),
                             u"CREATE FULLTEXTINDEX " + Name() + u" ON " + Table() + u" (" + Name() + u", " +
                                 Name() + u") DICTIONARY " + Name() + (Chance(2) ? u" CREATE" : u"") +
                                 (Chance(2) ? u" UPDATE SEPARATORS ' ,'" : u"")});
      default: return Query(2, false);
    }
  }

 private:
  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(FRandom); }
  bool Chance(int n) { return Pick(n) == 0; }
  std::u16string Choose(std::initializer_list<std::u16string> items) {
    return *(items.begin() + Pick(static_cast<int>(items.size())));
  }

  std::u16string Name() {
    return Choose({u"a", u"b", u"RANG", u"TELEP", u"[Lakó népesség]", u"\"quoted \"\"name\"\"\"", u"x1", u"Öläß"});
  }
  std::u16string Table() { return Choose({u"Irsz", u"Irsz_tmp", u"t", u"[my table]", u"u"}); }
  std::u16string Column() { return Chance(4) ? Table() + u"." + Name() : Name(); }

  std::u16string Literal() {
    return Choose({u"1", u"2000", u"0", u"2.5", u"1E3", u"'x'", u"''", u"'It''s'", u"'Győr'", u"24.12.2013",
                   u"18:30", u"24.12.2013_18:30:00", u"DATE'24.12.2013'", u"TRUE", u"NULL", u":p", u":name"});
  }

  std::u16string Expression(int depth) {
    if (depth <= 0) return Chance(2) ? Column() : Literal();
    switch (Pick(14)) {
      case 0: return Expression(depth - 1) + Choose({u" + ", u" - ", u" * ", u" / ", u" || ", u" DIV ", u" MOD "}) +
                     Expression(depth - 1);
      case 1: return u"(" + Expression(depth - 1) + u")";
      case 2: return u"-" + Column();
      case 3: return Choose({u"COUNT(*)", u"COUNT(" + Column() + u")", u"SUM(" + Expression(depth - 1) + u")",
                             u"AVG(" + Column() + u")", u"MAX(" + Column() + u")", u"MIN(" + Column() + u")"});
      case 4: return u"SUBSTRING(" + Expression(depth - 1) + u" FROM " + Expression(depth - 1) +
                     (Chance(2) ? u" FOR 2)" : u")");
      case 5: return Choose({u"TRIM(" + Column() + u")", u"TRIM(LEADING 'x' FROM " + Column() + u")",
                             u"TRIM(BOTH FROM " + Column() + u")", u"LTRIM(" + Column() + u")"});
      case 6: return u"EXTRACT(" + Choose({u"YEAR", u"weekday", u"MILLISECOND"}) + u" FROM " + Column() + u")";
      case 7: return u"CAST(" + Expression(depth - 1) + u" AS " +
                     Choose({u"INTEGER", u"VARCHAR(10)", u"DOUBLE", u"TIME(2)", u"DATE"}) + u")";
      case 8: return u"CASE WHEN " + Condition(depth - 1) + u" THEN " + Expression(depth - 1) +
                     (Chance(2) ? u" ELSE " + Expression(depth - 1) : u"") + u" END";
      case 9: return u"CASE " + Column() + u" WHEN 1 THEN " + Expression(depth - 1) + u" END";
      case 10: return Choose({u"UPPER(" + Column() + u")", u"STR(" + Column() + u", 10, 2)", u"ROUND(" + Column() + u", 1)",
                              u"CURRENT_DATE", u"NOW", u"Pos('a', " + Column() + u")", u"NewGuid",
                              u"CURRENTRECORDID(" + Table() + u")", u"EXCHANGE(" + Column() + u", 'a', 'b')"});
      default: return Chance(2) ? Column() : Literal();
    }
  }

  std::u16string Condition(int depth) {
    if (depth <= 0) return Column() + u" = " + Literal();
    switch (Pick(12)) {
      case 0: return Condition(depth - 1) + u" AND " + Condition(depth - 1);
      case 1: return Condition(depth - 1) + u" OR " + Condition(depth - 1);
      case 2: return u"NOT (" + Condition(depth - 1) + u")";
      case 3: return u"(" + Condition(depth - 1) + u")";
      case 4: return Expression(depth - 1) + (Chance(2) ? u" NOT" : u"") + u" BETWEEN " + Literal() + u" AND " +
                     Literal();
      case 5: return Column() + (Chance(2) ? u" NOT" : u"") + u" IN (" + Literal() + u", " + Literal() + u")";
      case 6: return Column() + u" IS" + (Chance(2) ? u" NOT" : u"") + u" NULL";
      case 7: return Column() + u" LIKE 'a%'" + (Chance(2) ? u" ESCAPE '!'" : u"");
      case 8: return u"EXISTS (" + Query(depth - 1) + u")";
      case 9: return Column() + u" IN (" + Query(depth - 1) + u")";
      case 10: return Column() + Choose({u" > ALL (", u" = ANY (", u" <> SOME ("}) + Query(depth - 1) + u")";
      default: return Expression(depth - 1) + Choose({u" = ", u" <> ", u" < ", u" >= ", u" HAS "}) + Expression(depth - 1);
    }
  }

  std::u16string TableRef(int depth) {
    std::u16string r = Table();
    if (Chance(3)) r += Chance(2) ? u" AS " + Name() : u" " + Name();
    if (depth > 0 && Chance(3)) {
      switch (Pick(4)) {
        case 0: r += u" CROSS JOIN " + TableRef(0); break;
        case 1: r += u" JOIN " + TableRef(0) + u" ON " + Condition(1); break;
        case 2: r += Choose({u" LEFT JOIN ", u" RIGHT OUTER JOIN ", u" FULL JOIN ", u" INNER JOIN "}) + TableRef(0) +
                     u" ON " + Condition(1);
          break;
        default: r += u" JOIN (" + TableRef(depth - 1) + u") ON " + Condition(1); break;
      }
    }
    return r;
  }

  std::u16string Select(int depth) {
    std::u16string r = u"SELECT ";
    if (Chance(4)) r += u"TOP 10 ";
    if (Chance(4)) r += u"DISTINCT ";
    if (Chance(5)) {
      r += u"*";
    } else {
      const int n = 1 + Pick(4);
      for (int i = 0; i < n; ++i) {
        if (i) r += u", ";
        if (Chance(8)) {
          r += Table() + u".*";
          continue;
        }
        r += Expression(depth);
        if (Chance(3)) r += Choose({u" AS " + Name(), u" lbl", u" AS x.y"});
      }
    }
    r += u" FROM " + TableRef(depth);
    if (Chance(3)) r += u", " + TableRef(0);
    if (Chance(2)) r += u" WHERE " + Condition(depth);
    if (Chance(3)) r += u" GROUP BY " + Column() + (Chance(2) ? u", " + Expression(1) : u"");
    if (Chance(4)) r += u" HAVING COUNT(*) > 1";
    return r;
  }

  std::u16string SortList() {
    std::u16string r = Choose({Column(), u"1", u"2"}) + Choose({u"", u" DESC", u" ASC", u" DESCENDING"});
    if (Chance(2)) r += u", " + Column();
    return r;
  }

  // A query that opens with a parenthesis only where nothing else may open there: after
  // INSERT's table or an assignment's "=", "(" would start a column list or an expression.
  std::u16string Query(int depth, bool nested = true) {
    std::u16string r;
    switch (Pick(nested ? 5 : 6)) {
      case 0: r = Select(depth) + Choose({u" UNION ", u" UNION ALL ", u" EXCEPT ", u" INTERSECT ",
                                          u" UNION CORRESPONDING ", u" INTERSECT ALL CORRESPONDING BY (a, t.b) "}) +
                  Select(depth > 0 ? depth - 1 : 0);
        break;
      case 1: r = Select(depth) + u" UNION TABLE " + Table(); break;
      case 5: r = u"(" + Select(depth) + u") EXCEPT " + Select(0); break;
      default: r = Select(depth); break;
    }
    if (Chance(3)) r += u" ORDER BY " + SortList();
    return r;
  }

  std::u16string ColumnDef() {
    std::u16string r = Name() + u" " +
                       Choose({u"INTEGER", u"SMALLINT", u"BYTE", u"BIGINT", u"BOOLEAN", u"DATE", u"TIMESTAMP",
                               u"GUID", u"LONGVARCHAR", u"LONGVARWCHAR", u"LONGVARBINARY", u"FLOAT", u"DOUBLE PRECISION(8)",
                               u"REAL", u"DECIMAL(6)", u"CHAR(10)", u"VARCHAR(40) COLLATE hu", u"WCHAR(2)", u"VARWCHAR(5)",
                               u"TIME", u"TIME(3)", u"LINK(u)", u"RELATION(u)", u"ENUM(red, green blue)"});
    if (Chance(3)) r += u" NOT NULL";
    if (Chance(4)) r += Chance(2) ? u" DEFAULT " + Literal() : u" SET " + Expression(1);
    return r;
  }

  std::u16string Options() {
    std::u16string r;
    if (Chance(3)) r += u" LEVEL " + Choose({u"4", u"5", u"6"});
    if (Chance(4)) r += u" COLLATE hu";
    if (Chance(3)) r += Choose({u" ENCRYPTION Blowfish PASSWORD 'k'", u" PASSWORD 'x''y' ENCRYPTION 'AES'",
                                u" ENCRYPTION None", u" ENCRYPTION Protection"});
    return r;
  }

  std::u16string Constraint() {
    std::u16string r = Chance(2) ? u"CONSTRAINT " + Name() + u" " : u"";
    switch (Pick(4)) {
      case 0: return r + u"PRIMARY KEY (" + Name() + u")";
      case 1: return r + u"UNIQUE (" + Name() + u", " + Name() + u")";
      case 2: return r + u"CHECK (" + Condition(1) + u")";
      default:
        return r + u"FOREIGN KEY (" + Name() + u") REFERENCES " + Table() + (Chance(2) ? u" (id)" : u"") +
               Choose({u"", u" ON DELETE CASCADE", u" ON UPDATE NO ACTION ON DELETE CASCADE"});
    }
  }

  std::u16string CreateTable() {
    std::u16string r = u"CREATE TABLE " + Table() + Options() + u" (" + Choose({u"id AUTOINC", u"id AUTOINC('k', 5) UNIQUE",
                                                                               u"id AUTOINC(2) NOT NULL"});
    const int n = Pick(4);
    for (int i = 0; i < n; ++i) r += u", " + (Chance(3) ? Constraint() : ColumnDef());
    return r + u")";
  }

  std::u16string AlterTable() {
    std::u16string r = u"ALTER TABLE " + Table() + Options();
    const int n = Pick(4);
    for (int i = 0; i < n; ++i) {
      if (i) r += Chance(2) ? u"," : u"";
      r += Choose({u" ADD " + ColumnDef(), u" ADD COLUMN " + ColumnDef(), u" ADD " + Constraint(),
                   u" DROP " + Name(), u" DROP COLUMN " + Name(), u" DROP CONSTRAINT " + Name(),
                   u" MODIFY " + ColumnDef(), u" RENAME COLUMN " + Name() + u" TO " + Name()});
    }
    return r;
  }

  std::u16string Insert() {
    std::u16string r = u"INSERT INTO " + Table();
    if (Chance(3)) return r + u" " + Query(1);
    const int n = 1 + Pick(3);
    std::u16string columns, values;
    for (int i = 0; i < n; ++i) {
      columns += (i ? u", " : u"") + Name();
      values += (i ? u", " : u"") + Expression(1);
    }
    return r + (Chance(2) ? u" (" + columns + u")" : u"") + u" VALUES (" + values + u")";
  }

  std::u16string Update() {
    std::u16string r = u"UPDATE " + Table() + u" SET " + Name() + u" = " + Expression(2);
    if (Chance(3)) r += u", " + Name() + u" = (" + Query(0) + u")";
    if (Chance(2)) r += u" WHERE " + Condition(2);
    return r;
  }

  std::mt19937 FRandom;
};

// The token boundaries of a text, as the scanner reads them.
std::vector<std::pair<std::size_t, std::size_t>> Tokens(const std::u16string& text) {
  std::vector<std::pair<std::size_t, std::size_t>> tokens;
  TSqlParser p;
  p.SetStatementText(text);
  p.InitParsing();
  while (p.TokenType() != sqltEndOfStatement) {
    tokens.emplace_back(p.TokenStart(), p.TokenEnd());
    p.NextToken();
  }
  return tokens;
}

// Parses a changed text: success, or a parser error at or after `changedAt` whose line text is
// the line holding that position.
void CheckChangedText(const std::u16string& text, std::size_t changedAt) {
  try {
    VdbParseSqlStatements(text);
  } catch (const ESqlParser& e) {
    ASSERT_GE(e.LineNo(), 1);
    ASSERT_GE(e.CharNo(), 1);
    std::size_t lineStart = 0;
    for (std::int32_t row = 1; row < e.LineNo(); ++row) {
      lineStart = text.find(u'\n', lineStart);
      ASSERT_NE(lineStart, std::u16string::npos) << "row beyond the text";
      ++lineStart;
    }
    const std::size_t offset = lineStart + static_cast<std::size_t>(e.CharNo()) - 1;
    EXPECT_LE(offset, text.size());
    EXPECT_GE(offset, changedAt) << "error before the change: " << U8(e.Message());
    std::size_t lineEnd = text.find_first_of(u"\r\n", lineStart);
    if (lineEnd == std::u16string::npos) lineEnd = text.size();
    EXPECT_EQ(e.Line(), text.substr(lineStart, lineEnd - lineStart));
  }
}

TEST(SqlRoundTripTest, GeneratedStatementsRenderAndParseBackEqual) {
  TGenerator gen(RunSeed());
  for (int i = 0; i < 400; ++i) {
    std::u16string text = gen.Statement();
    // Some statements are spread over lines, so rows and columns are exercised too.
    if (i % 3 == 0)
      for (std::size_t p = text.find(u" WHERE "); p != std::u16string::npos; p = text.find(u" WHERE ", p + 2)) text[p] = u'\n';
    SCOPED_TRACE(U8(text));
    std::vector<std::unique_ptr<TVdbSqlCommand>> first;
    try {
      first = VdbParseSqlStatements(text);
    } catch (const EVdbEngine& e) {
      FAIL() << "generated text does not parse: " << U8(e.Message());
    }
    ASSERT_EQ(first.size(), 1u);
    const std::u16string rendered = first[0]->GetSqlText();
    SCOPED_TRACE(U8(rendered));
    std::vector<std::unique_ptr<TVdbSqlCommand>> second;
    try {
      second = VdbParseSqlStatements(rendered);
    } catch (const EVdbEngine& e) {
      FAIL() << "rendered text does not parse: " << U8(e.Message());
    }
    ASSERT_EQ(second.size(), 1u);
    EXPECT_TRUE(first[0]->IsSyntacticallyEqual(*second[0]));
    EXPECT_TRUE(first[0]->CreateCopy()->IsSyntacticallyEqual(*first[0]));

    // One token removed, or doubled, at a few places of the text.
    const auto tokens = Tokens(text);
    for (int k = 0; k < 6 && !tokens.empty(); ++k) {
      const auto [start, end] = tokens[static_cast<std::size_t>(i * 7 + k * 13) % tokens.size()];
      const std::u16string token = text.substr(start, end - start);
      SCOPED_TRACE("token " + U8(token));
      CheckChangedText(text.substr(0, start) + u" " + text.substr(end), start);
      CheckChangedText(text.substr(0, end) + u" " + token + text.substr(end), end + 1);
    }
  }
}

}  // namespace
}  // namespace vdb
