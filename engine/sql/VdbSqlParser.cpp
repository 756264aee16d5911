#include "sql/VdbSqlParser.h"

#include <algorithm>
#include <array>
#include <exception>
#include <utility>

#include "base/VdbErrorCodes.h"
#include "sql/VdbSqlCommand.h"

namespace vdb {

namespace {

struct TKeyword {
  std::u16string_view Text;
  TSqlTokenType Type;
};

constexpr std::array<TKeyword, 92> kKeywords{{
    {u"ACTION", sqltAction}, {u"ADD", sqltAdd}, {u"ALL", sqltAll}, {u"ALTER", sqltAlter}, {u"AND", sqltAnd},
    {u"ANY", sqltAny}, {u"AS", sqltAs}, {u"ASC", sqltAsc}, {u"ASCENDING", sqltAsc}, {u"AT", sqltAt},
    {u"BETWEEN", sqltBetween}, {u"BOTH", sqltBoth}, {u"BY", sqltBy}, {u"CASCADE", sqltCascade},
    {u"CASE", sqltCase}, {u"CHECK", sqltCheck}, {u"COLLATE", sqltCollate}, {u"COLUMN", sqltColumn},
    {u"CONSTRAINT", sqltConstraint}, {u"CONTAINING", sqltContaining}, {u"CONTAINS", sqltContains},
    {u"CORRESPONDING", sqltCorresponding}, {u"CREATE", sqltCreate}, {u"CROSS", sqltCross}, {u"DAT", sqltDat},
    {u"DEFAULT", sqltDefault}, {u"DELETE", sqltDelete}, {u"DESC", sqltDesc}, {u"DESCENDING", sqltDesc},
    {u"DICTIONARY", sqltDictionary}, {u"DIV", sqltDiv}, {u"DISTINCT", sqltDistinct}, {u"DROP", sqltDrop},
    {u"ENCRYPTION", sqltEncryption}, {u"ELSE", sqltElse}, {u"END", sqltEnd}, {u"ESCAPE", sqltEscape},
    {u"EXCEPT", sqltExcept}, {u"EXISTS", sqltExists}, {u"FALSE", sqltFalse}, {u"FOR", sqltFor},
    {u"FOREIGN", sqltForeign}, {u"FROM", sqltFrom}, {u"FULL", sqltFull}, {u"FULLTEXTINDEX", sqltFulltextIndex},
    {u"GROUP", sqltGroup}, {u"HAS", sqltHas}, {u"HAVING", sqltHaving}, {u"IN", sqltIn}, {u"INDEX", sqltIndex},
    {u"INNER", sqltInner}, {u"INSERT", sqltInsert}, {u"INTERSECT", sqltIntersect}, {u"INTO", sqltInto},
    {u"IS", sqltIs}, {u"JOIN", sqltJoin}, {u"KEY", sqltKey}, {u"LEADING", sqltLeading}, {u"LEFT", sqltLeft},
    {u"LEVEL", sqltLevel}, {u"LIKE", sqltLike}, {u"MOD", sqltMod}, {u"MODIFY", sqltModify}, {u"NO", sqltNo},
    {u"NOT", sqltNot}, {u"NULL", sqltNull}, {u"NUMERIC", sqltNull}, {u"ON", sqltOn}, {u"OR", sqltOr},
    {u"ORDER", sqltOrder}, {u"OUTER", sqltOuter}, {u"PASSWORD", sqltPassword}, {u"PRECISION", sqltPrecision},
    {u"PRIMARY", sqltPrimary}, {u"REFERENCES", sqltReferences}, {u"RENAME", sqltRename}, {u"RIGHT", sqltRight},
    {u"SELECT", sqltSelect}, {u"SET", sqltSet}, {u"SOME", sqltSome}, {u"TABLE", sqltTable}, {u"THEN", sqltThen},
    {u"TO", sqltTo}, {u"TOP", sqltTop}, {u"TRAILING", sqltTrailing}, {u"TRUE", sqltTrue}, {u"UNION", sqltUnion},
    {u"UNIQUE", sqltUnique}, {u"UPDATE", sqltUpdate}, {u"VALUES", sqltValues}, {u"WHEN", sqltWhen},
    {u"WHERE", sqltWhere},
}};

struct TFunctionRow {
  std::u16string_view Name;
  TFunctionId Id;
  int Min;
  int Max;
};

// Functions callable by name; -1 marks a special form.
constexpr std::array<TFunctionRow, 41> kFunctions{{
    {u"ABS", sftAbs, 1, 1}, {u"AVG", sftAvg, 1, 1}, {u"CAST", sftCast, -1, -1}, {u"CEILING", sftCeiling, 1, 1},
    {u"CHAR_LENGTH", sftChar_Length, 1, 1}, {u"CHR", sftChr, 1, 1}, {u"COUNT", sftCount, 1, 1},
    {u"CURRENT_DATE", sftCurrent_Date, 0, 0}, {u"TODAY", sftCurrent_Date, 0, 0},
    {u"CURRENT_TIME", sftCurrent_Time, 0, 0}, {u"NOW", sftCurrent_Time, 0, 0},
    {u"CURRENT_TIMESTAMP", sftCurrent_Timestamp, 0, 0}, {u"CURRENTRECORDID", sftCurrentRecordId, -1, -1},
    {u"DIGITSTR", sftDigitStr, 1, 1}, {u"EXCHANGE", sftExchange, 3, 3}, {u"EXP", sftExp, 1, 1},
    {u"EXTRACT", sftExtract, -1, -1}, {u"FILLSTR", sftFillStr, 3, 3}, {u"FIRST", sftFirst, 1, 1},
    {u"FLOOR", sftFloor, 1, 1}, {u"FRAC", sftFrac, 1, 1}, {u"INT", sftInt, 1, 1}, {u"LAST", sftLast, 1, 1},
    {u"LEN", sftLen, 1, 1}, {u"LENGTH", sftLen, 1, 1}, {u"LOG", sftLog, 1, 1}, {u"LOWER", sftLower, 1, 1},
    {u"LTRIM", sftTrimLeading, 1, 2}, {u"MAX", sftMax, 1, 1}, {u"MIN", sftMin, 1, 1}, {u"NTIMES", sftNTimes, 2, 2},
    {u"RANDOM", sftRandom, 1, 1}, {u"REALVAL", sftRealVal, 1, 1}, {u"ROUND", sftRound, 2, 2},
    {u"RTRIM", sftTrimTrailing, 1, 1}, {u"SQRT", sftSqrt, 1, 1}, {u"STR", sftStr, 1, 6}, {u"SUM", sftSum, 1, 1},
    {u"SUBSTRING", sftSubString, -1, -1}, {u"TRIM", sftTrim, -1, -1}, {u"UPPER", sftUpper, 1, 1},
}};

std::u16string Upper(std::u16string_view s) {
  std::u16string r(s);
  for (char16_t& c : r) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    else if (c == u'ä') c = u'Ä';
    else if (c == u'ö') c = u'Ö';
    else if (c == u'ü') c = u'Ü';
  }
  return r;
}

bool IsLetter(char16_t c) {
  return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'Ä' || c == u'Ö' || c == u'Ü' || c == u'ä' ||
         c == u'ö' || c == u'ü';
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Identifier characters: the minus belongs to them, so NEPESS-1 is one name.
bool IsIdentChar(char16_t c) { return IsLetter(c) || IsDigit(c) || c == u'ß' || c == u'-' || c == u'_'; }

const TFunctionRow* FindFunctionRow(std::u16string_view upperName) {
  for (const auto& f : kFunctions)
    if (f.Name == upperName) return &f;
  return nullptr;
}

}  // namespace

std::u16string TSqlParser::TokenDisplayName(TSqlTokenType type) {
  switch (type) {
    case sqltDataType: return u"<data type>";
    case sqltEndOfStatement: return u"<end of statement>";
    case sqltIdentifier: return u"<identifier>";
    case sqltReference: return u"<name of table, index, column etc.>";
    case sqltString: return u"<string>";
    case sqltNumber: return u"<number>";
    case sqltLeftParenthesis: return u"(";
    case sqltRightParenthesis: return u")";
    case sqltComma: return u",";
    case sqltSemicolon: return u";";
    case sqltAsterisk: return u"*";
    case sqltDot: return u".";
    case sqltEqual: return u"=";
    case sqltNotEqual: return u"!=";
    case sqltPlus: return u"+";
    case sqltMinus: return u"-";
    case sqltDivisor: return u"/";
    case sqltMod: return u"%";
    case sqltExclamationMark: return u"!";
    case sqltGreater: return u">";
    case sqltEqualOrGreater: return u">=";
    case sqltLess: return u"<";
    case sqltEqualOrLess: return u"<=";
    case sqltPipe: return u"|";
    case sqltParameter: return u":";
    default:
      for (const auto& k : kKeywords)
        if (k.Type == type) return std::u16string(k.Text);
      return u"?";
  }
}

std::u16string TSqlParser::FindComparisonString(TVdbComparisonOperator op) {
  // The parser names EXISTS, which no comparison prints, and has no keyword for FULLTEXTRANK.
  switch (op) {
    case tcoExists: return u"EXISTS";
    case tcoFullTextRank: return {};
    default: return VdbComparisonText(op);
  }
}

int TSqlParser::FindFunction(TFunctionId id) {
  for (std::size_t i = 0; i < kFunctions.size(); ++i)
    if (kFunctions[i].Id == id) return static_cast<int>(i);
  return -1;
}

std::u16string TSqlParser::GetSqlTypeName(TVdbSqlType type) { return VdbSqlTypeName(type); }

TVdbColumnType TSqlParser::GetVdbType(TVdbSqlType type) {
  switch (type) {
    case sqlInteger: return vctInteger;
    case sqlSmallInt: return vctSmallInt;
    case sqlByte: return vctByte;
    case sqlDouble: return vctFloat;
    case sqlChar: case sqlVarChar: return vctString;
    case sqlTime: return vctTime;
    case sqlDate: return vctDate;
    case sqlTimeStamp: return vctTimeStamp;
    case sqlBoolean: return vctBoolean;
    case sqlAutoInc: return vctRecordId;
    case sqlLongVarChar: return vctMemo;
    case sqlLongVarBinary: return vctBlob;
    case sqlWChar: case sqlVarWChar: return vctWideString;
    case sqlLongVarWChar: return vctWideMemo;
    case sqlBigInt: return vctBigInt;
    case sqlLink: return vctLink;
    case sqlRelation: return vctRelation;
    case sqlEnum: return vctEnum;
    case sqlGuid: return vctGuid;
    case sqlNone: break;
  }
  return vctNull;
}

std::unique_ptr<TVdbFactor> TSqlParser::ParseParameter() {
  InitParsing();
  auto f = ParseFactor();
  ParseEnd();
  return f;
}

// ---- positions and errors

std::int32_t TSqlParser::LastTokenRow() const {
  const auto end = FStatementText.begin() + static_cast<std::ptrdiff_t>(std::min(FLastTokenPos, FStatementText.size()));
  return 1 + static_cast<std::int32_t>(std::count(FStatementText.begin(), end, u'\n'));
}

std::int32_t TSqlParser::LastTokenColumn() const {
  const std::size_t pos = std::min(FLastTokenPos, FStatementText.size());
  const std::size_t lf = pos == 0 ? std::u16string::npos : FStatementText.rfind(u'\n', pos - 1);
  const std::size_t lineStart = lf == std::u16string::npos ? 0 : lf + 1;
  return 1 + static_cast<std::int32_t>(pos - lineStart);
}

std::u16string TSqlParser::CurrentStatementLine() const {
  const std::size_t pos = std::min(FLastTokenPos, FStatementText.size());
  const std::size_t lf = pos == 0 ? std::u16string::npos : FStatementText.rfind(u'\n', pos - 1);
  const std::size_t lineStart = lf == std::u16string::npos ? 0 : lf + 1;
  std::size_t lineEnd = FStatementText.find_first_of(u"\r\n", lineStart);
  if (lineEnd == std::u16string::npos) lineEnd = FStatementText.size();
  return FStatementText.substr(lineStart, lineEnd - lineStart);
}

void TSqlParser::RaiseError(std::int16_t code, TVdbFmtArgs args) const {
  throw ESqlParser(code, CurrentStatementLine(), LastTokenRow(), LastTokenColumn(), FLastTokenString, std::move(args));
}

void TSqlParser::RaiseExpected(std::u16string_view expected) const {
  throw EVdbSqlUnexpectedToken(errUnexpectedToken, CurrentStatementLine(), LastTokenRow(), LastTokenColumn(),
                               std::u16string(expected), FLastTokenString,
                               {std::u16string(expected), FLastTokenString});
}

void TSqlParser::Expect(TSqlTokenType type) {
  if (FLastTokenType != type) RaiseExpected(TokenDisplayName(type));
  NextToken();
}

// ---- scanner

char16_t TSqlParser::Peek(std::size_t offset) const noexcept {
  const std::size_t i = FStatementPos + offset;
  return i < FStatementText.size() ? FStatementText[i] : u'\0';
}

void TSqlParser::InitParsing() {
  FStatementPos = 0;
  FParameterCount = 0;
  FInList = false;
  NextToken();
}

void TSqlParser::SavePosition() {
  FSaved = {FStatementPos, FLastTokenType, FLastTokenString, FLastTokenPos, FParameterCount};
}

void TSqlParser::RestorePosition() {
  FStatementPos = FSaved.StatementPos;
  FLastTokenType = FSaved.TokenType;
  FLastTokenString = FSaved.TokenString;
  FLastTokenPos = FSaved.TokenPos;
  FParameterCount = FSaved.ParameterCount;
}

void TSqlParser::ScanQuoted(char16_t close, bool doubling, TSqlTokenType type) {
  std::u16string text;
  ++FStatementPos;
  for (;;) {
    if (FStatementPos >= FStatementText.size()) {
      FLastTokenPos = FStatementText.size();
      FLastTokenString = TokenDisplayName(sqltEndOfStatement);
      RaiseExpected(std::u16string(1, close));
    }
    const char16_t c = FStatementText[FStatementPos++];
    if (c == close) {
      if (doubling && Peek() == close) {
        text += close;
        ++FStatementPos;
        continue;
      }
      break;
    }
    text += c;
  }
  FLastTokenType = type;
  FLastTokenString = std::move(text);
}

void TSqlParser::ScanNumber() {
  const std::size_t start = FStatementPos;
  const bool localComma = FAllowLocalFormats && FDecimalSeparator != u'.' && !FInList;
  while (FStatementPos < FStatementText.size()) {
    const char16_t c = FStatementText[FStatementPos];
    if (IsDigit(c) || c == u'_' || c == u'.' || c == u':' || (localComma && c == FDecimalSeparator)) {
      ++FStatementPos;
    } else {
      break;
    }
  }
  // A trailing comma separates, it is not a decimal separator: "1, 5".
  if (FStatementPos > start + 1 && FStatementText[FStatementPos - 1] == u',') --FStatementPos;
  if (Peek() == u'E' || Peek() == u'e') {
    std::size_t p = 1;
    if (Peek(p) == u'+' || Peek(p) == u'-') ++p;
    if (IsDigit(Peek(p))) {
      FStatementPos += p;
      while (IsDigit(Peek())) ++FStatementPos;
    }
  }
  FLastTokenType = sqltNumber;
  FLastTokenString = FStatementText.substr(start, FStatementPos - start);
  if (IsIdentChar(Peek())) {
    FLastTokenPos = FStatementPos;
    RaiseError(errCharacterNotAllowed, {std::u16string(1, Peek())});
  }
}

void TSqlParser::NextToken() {
  for (;;) {
    while (FStatementPos < FStatementText.size()) {
      const char16_t c = FStatementText[FStatementPos];
      if (c != u' ' && c != u'\t' && c != u'\n' && c != u'\r') break;
      ++FStatementPos;
    }
    FLastTokenPos = FStatementPos;
    if (FStatementPos >= FStatementText.size()) {
      FLastTokenType = sqltEndOfStatement;
      FLastTokenString = TokenDisplayName(sqltEndOfStatement);
      return;
    }
    const char16_t c = FStatementText[FStatementPos];
    const char16_t n = Peek(1);
    // Comments: to the end of the line, or up to the closing mark.
    if ((c == u'-' && n == u'-') || (c == u'/' && n == u'/')) {
      const std::size_t lf = FStatementText.find(u'\n', FStatementPos);
      FStatementPos = lf == std::u16string::npos ? FStatementText.size() : lf + 1;
      continue;
    }
    if (c == u'/' && n == u'*') {
      const std::size_t end = FStatementText.find(u"*/", FStatementPos + 2);
      FStatementPos = end == std::u16string::npos ? FStatementText.size() : end + 2;
      continue;
    }
    break;
  }
  const char16_t c = FStatementText[FStatementPos];
  auto symbol = [&](TSqlTokenType type, std::size_t length) {
    FLastTokenType = type;
    FLastTokenString = FStatementText.substr(FStatementPos, length);
    FStatementPos += length;
  };
  if (c == u'\'') return ScanQuoted(u'\'', true, sqltString);
  if (c == u'"') return ScanQuoted(u'"', true, sqltReference);
  if (c == u'[') return ScanQuoted(u']', false, sqltReference);
  if (c == u'$') {
    const std::size_t start = ++FStatementPos;
    while (IsIdentChar(Peek())) ++FStatementPos;
    FLastTokenType = sqltReference;
    FLastTokenString = FStatementText.substr(start, FStatementPos - start);
    return;
  }
  if (IsLetter(c)) {
    const std::size_t start = FStatementPos;
    while (IsIdentChar(Peek())) ++FStatementPos;
    FLastTokenString = FStatementText.substr(start, FStatementPos - start);
    FLastTokenType = sqltIdentifier;
    const std::u16string upper = Upper(FLastTokenString);
    for (const auto& k : kKeywords) {
      if (k.Text == upper) {
        FLastTokenType = k.Type;
        break;
      }
    }
    return;
  }
  if (IsDigit(c)) return ScanNumber();
  if (c == u':') {
    if (FIsOdbcCompatible) RaiseError(errCharacterNotAllowed, {u":"});
    const char16_t first = Peek(1);
    if (!IsLetter(first)) {
      FLastTokenPos = FStatementPos + 1;
      RaiseError(errCharacterNotAllowed, {first ? std::u16string(1, first) : std::u16string()});
    }
    const std::size_t start = ++FStatementPos;
    while (IsIdentChar(Peek())) ++FStatementPos;
    FLastTokenType = sqltParameter;
    FLastTokenString = FStatementText.substr(start, FStatementPos - start);
    return;
  }
  if (c == u'?') {
    if (!FIsOdbcCompatible) RaiseError(errCharacterNotAllowed, {u"?"});
    ++FStatementPos;
    FLastTokenType = sqltParameter;
    FLastTokenString = u"Param" + vuIntToStr(++FParameterCount);
    return;
  }
  const char16_t n = Peek(1);
  switch (c) {
    case u'(': return symbol(sqltLeftParenthesis, 1);
    case u')': return symbol(sqltRightParenthesis, 1);
    case u',': return symbol(sqltComma, 1);
    case u';': return symbol(sqltSemicolon, 1);
    case u'*': return symbol(sqltAsterisk, 1);
    case u'.': return symbol(sqltDot, 1);
    case u'=': return symbol(sqltEqual, 1);
    case u'+': return symbol(sqltPlus, 1);
    case u'-': return symbol(sqltMinus, 1);
    case u'/': return symbol(sqltDivisor, 1);
    case u'%': return symbol(sqltMod, 1);
    case u'!': return n == u'=' ? symbol(sqltNotEqual, 2) : symbol(sqltExclamationMark, 1);
    case u'<':
      if (n == u'=') return symbol(sqltEqualOrLess, 2);
      if (n == u'>') return symbol(sqltNotEqual, 2);
      return symbol(sqltLess, 1);
    case u'>': return n == u'=' ? symbol(sqltEqualOrGreater, 2) : symbol(sqltGreater, 1);
    case u'|':
      if (n == u'|') return symbol(sqltPlus, 2);
      FLastTokenPos = FStatementPos + 1;
      FLastTokenString = n ? std::u16string(1, n) : TokenDisplayName(sqltEndOfStatement);
      RaiseExpected(u"|");
    default: RaiseError(errCharacterNotAllowed, {std::u16string(1, c)});
  }
}

// ---- grammar

std::unique_ptr<TVdbSearchCondition> TSqlParser::ParseCondition() {
  // A condition of its own (a filter, a check) sees one record at a time: an aggregate there
  // would only ever read its empty start value. Queries inside it may aggregate.
  struct TRestore {
    bool& Flag;
    bool Old;
    ~TRestore() { Flag = Old; }
  } restore{FAllowAggregates, FAllowAggregates};
  FAllowAggregates = false;
  return ParseSearchCondition();
}

void TSqlParser::ParseEnd() {
  if (FLastTokenType != sqltEndOfStatement) RaiseExpected(TokenDisplayName(sqltEndOfStatement));
}

std::unique_ptr<TVdbSearchCondition> TSqlParser::ParseSearchCondition() {
  auto c = std::make_unique<TVdbSearchCondition>();
  c->Terms.push_back(ParseBooleanTerm());
  while (FLastTokenType == sqltOr) {
    NextToken();
    c->Terms.push_back(ParseBooleanTerm());
  }
  return c;
}

std::unique_ptr<TVdbBooleanTerm> TSqlParser::ParseBooleanTerm() {
  auto t = std::make_unique<TVdbBooleanTerm>();
  t->Factors.push_back(ParseBooleanFactor());
  while (FLastTokenType == sqltAnd) {
    NextToken();
    t->Factors.push_back(ParseBooleanFactor());
  }
  return t;
}

std::unique_ptr<TVdbBooleanFactor> TSqlParser::ParseBooleanFactor() {
  auto f = std::make_unique<TVdbBooleanFactor>();
  if (FLastTokenType == sqltNot) {
    f->IsNot = true;
    NextToken();
  }
  if (FLastTokenType == sqltLeftParenthesis) {
    // "(" condition ")" first; when that fails, or a comparison follows the parenthesis, the
    // parenthesis opens an expression: (A + B) > 3.
    SavePosition();
    const TSaved saved = FSaved;
    const bool inList = FInList;
    std::unique_ptr<TVdbSearchCondition> inner;
    std::exception_ptr firstError;
    std::pair<std::int32_t, std::int32_t> firstReach{0, 0};  // row and column the condition reading reached
    TSaved afterFirst{};
    try {
      NextToken();
      FInList = false;
      inner = ParseSearchCondition();
      Expect(sqltRightParenthesis);
      FInList = inList;
      switch (FLastTokenType) {
        case sqltEqual: case sqltNotEqual: case sqltLess: case sqltGreater: case sqltEqualOrLess:
        case sqltEqualOrGreater: case sqltPlus: case sqltMinus: case sqltAsterisk: case sqltDivisor:
        case sqltDiv: case sqltMod: case sqltBetween: case sqltIn: case sqltLike: case sqltHas: case sqltIs:
          break;
        default:
          f->SearchCondition = std::move(inner);
          return f;
      }
      firstReach = {LastTokenRow(), LastTokenColumn()};
      afterFirst = {FStatementPos, FLastTokenType, FLastTokenString, FLastTokenPos, FParameterCount};
    } catch (const ESqlParser& e) {
      firstError = std::current_exception();
      firstReach = {e.LineNo(), e.CharNo()};
    }
    FSaved = saved;
    RestorePosition();
    FInList = inList;
    try {
      ParsePredicate(*f);
      return f;
    } catch (const ESqlParser& second) {
      // Both readings failed: the one that got further names the real fault.
      if (std::make_pair(second.LineNo(), second.CharNo()) >= firstReach) throw;
      if (firstError) std::rethrow_exception(firstError);
      // The condition reading was sound up to what follows its parenthesis: resume there, so
      // the error names that token.
      FStatementPos = afterFirst.StatementPos;
      FLastTokenType = afterFirst.TokenType;
      FLastTokenString = afterFirst.TokenString;
      FLastTokenPos = afterFirst.TokenPos;
      FParameterCount = afterFirst.ParameterCount;
      FInList = inList;
      auto g = std::make_unique<TVdbBooleanFactor>();
      g->IsNot = f->IsNot;
      g->SearchCondition = std::move(inner);
      return g;
    }
  } else if (FLastTokenType == sqltExists) {
    NextToken();
    f->ComparisonOperator = tcoExists;
    f->SubQuery = ParseSubQuery();
    return f;
  } else if (FLastTokenType == sqltContains) {
    // Full-text predicates belong to full-text indexing, which this engine does not have.
    RaiseError(errNotSupported, {FLastTokenString});
  }
  ParsePredicate(*f);
  return f;
}

void TSqlParser::ParsePredicate(TVdbBooleanFactor& f) {
  f.ExpressionLeft = ParseExpression();
  if (FLastTokenType == sqltNot) {
    f.IsNot = !f.IsNot;
    NextToken();
  }
  switch (FLastTokenType) {
    case sqltBetween:
      NextToken();
      f.ComparisonOperator = tcoBetween;
      f.ExpressionRightEx = ParseExpression();
      Expect(sqltAnd);
      f.ExpressionRight = ParseExpression();
      return;
    case sqltEqual: case sqltEqualOrGreater: case sqltEqualOrLess: case sqltGreater: case sqltLess:
    case sqltNotEqual: case sqltHas: case sqltLike: {
      static constexpr std::pair<TSqlTokenType, TVdbComparisonOperator> kOps[] = {
          {sqltEqual, tcoEqual}, {sqltEqualOrGreater, tcoGreaterOrEqual}, {sqltEqualOrLess, tcoLessOrEqual},
          {sqltGreater, tcoGreater}, {sqltLess, tcoLess}, {sqltNotEqual, tcoUnequal}, {sqltHas, tcoHas},
          {sqltLike, tcoLike}};
      for (const auto& [t, op] : kOps)
        if (t == FLastTokenType) f.ComparisonOperator = op;
      NextToken();
      if (FLastTokenType == sqltAll || FLastTokenType == sqltAny || FLastTokenType == sqltSome) {
        f.Quantifier = FLastTokenType == sqltAll ? tqAll : tqAny;
        NextToken();
        f.SubQuery = ParseSubQuery();
        return;
      }
      f.ExpressionRight = ParseExpression();
      if (f.ComparisonOperator == tcoLike && FLastTokenType == sqltEscape) {
        NextToken();
        if (FLastTokenType != sqltString) RaiseExpected(TokenDisplayName(sqltString));
        if (FLastTokenString.size() != 1) RaiseError(errSyntaxError, {FLastTokenString});
        f.LikeEscapeChar = FLastTokenString[0];
        NextToken();
      }
      return;
    }
    case sqltIn: {
      f.ComparisonOperator = tcoIn;
      const bool inList = FInList;
      FInList = true;
      NextToken();
      if (FLastTokenType != sqltLeftParenthesis) {
        FInList = inList;
        RaiseExpected(u"(");
      }
      if (Peek() != u'\0') {
        // IN (SELECT ...): a sub-query instead of a list.
        SavePosition();
        NextToken();
        const bool query = FLastTokenType == sqltSelect;
        RestorePosition();
        if (query) {
          FInList = inList;
          f.SubQuery = ParseSubQuery();
          return;
        }
      }
      NextToken();
      f.ValueSet.push_back(ParseExpression());
      while (FLastTokenType == sqltComma) {
        NextToken();
        f.ValueSet.push_back(ParseExpression());
      }
      FInList = inList;
      Expect(sqltRightParenthesis);
      return;
    }
    case sqltIs:
      NextToken();
      if (FLastTokenType == sqltNot) {
        f.ComparisonOperator = tcoIsNotNull;
        NextToken();
      } else {
        f.ComparisonOperator = tcoIsNull;
      }
      Expect(sqltNull);
      return;
    default: RaiseExpected(u"=");
  }
}

std::unique_ptr<IVdbSubQuery> TSqlParser::ParseSubQuery() {
  const bool inList = FInList;
  Expect(sqltLeftParenthesis);
  FInList = false;
  auto query = ParseQuery();
  FInList = inList;
  Expect(sqltRightParenthesis);
  return std::make_unique<TVdbSqlSubQuery>(std::move(query));
}

std::unique_ptr<TVdbExpression> TSqlParser::ParseExpression() {
  auto e = std::make_unique<TVdbExpression>();
  e->Terms.push_back(ParseTerm());
  while (FLastTokenType == sqltPlus || FLastTokenType == sqltMinus) {
    e->Operators.push_back(FLastTokenType == sqltPlus ? dboPlus : dboMinus);
    NextToken();
    e->Terms.push_back(ParseTerm());
  }
  return e;
}

std::unique_ptr<TVdbTerm> TSqlParser::ParseTerm() {
  auto t = std::make_unique<TVdbTerm>();
  t->Factors.push_back(ParseFactor());
  for (;;) {
    TVdbDataBinaryOperator op;
    switch (FLastTokenType) {
      case sqltAsterisk: op = dboMultiply; break;
      case sqltDivisor: op = dboDivide; break;
      case sqltDiv: op = dboDiv; break;
      case sqltMod: op = dboMod; break;
      default: return t;
    }
    t->Operators.push_back(op);
    NextToken();
    t->Factors.push_back(ParseFactor());
  }
}

std::unique_ptr<TVdbSimpleFactor> TSqlParser::ParseNumberLiteral() {
  std::u16string text = FLastTokenString;
  if (FAllowLocalFormats) std::replace(text.begin(), text.end(), FDecimalSeparator, u'.');
  const auto underscores = std::count(text.begin(), text.end(), u'_');
  const auto colons = std::count(text.begin(), text.end(), u':');
  const auto periods = std::count(text.begin(), text.end(), u'.');
  TVdbSimpleFactor::TLiteralKind kind;
  const std::u16string shown = FLastTokenString;
  if (underscores > 0) {
    kind = TVdbSimpleFactor::lkTimeStamp;
    try {
      TVdbDataValue v;
      TVdbDataType::GetDataType(vctTimeStamp, true, 0)->ConvertFromString(v, text, TvuFormats::Invariant());
    } catch (const EVdbEngine&) {
      RaiseError(errInvalidTimestamp, {shown});
    }
  } else if (periods == 2 && colons == 0) {
    kind = TVdbSimpleFactor::lkDate;
    try {
      TVdbDataValue v;
      TVdbDataType::GetDataType(vctDate, true, 0)->ConvertFromString(v, text, TvuFormats::Invariant());
    } catch (const EVdbEngine&) {
      RaiseError(errInvalidTimestamp, {shown});
    }
  } else if (colons > 0) {
    kind = TVdbSimpleFactor::lkTime;
    try {
      TVdbDataValue v;
      TVdbDataType::GetDataType(vctTime, true, 0)->ConvertFromString(v, text, TvuFormats::Invariant());
    } catch (const EVdbEngine&) {
      RaiseError(errInvalidTimestamp, {shown});
    }
  } else if (periods > 1) {
    RaiseError(errExpressionIncomplete);
  } else {
    const bool integer = periods == 0 && text.find_first_not_of(u"0123456789") == std::u16string::npos;
    bool fits = integer && text.size() <= 19;
    if (integer && text.size() == 19) fits = text <= u"9223372036854775807";
    if (fits) {
      kind = TVdbSimpleFactor::lkInteger;
    } else {
      double d = 0;
      if (!vuParseFloat(text, TvuFormats::Invariant(), d)) RaiseError(errInvalidNumber, {shown});
      kind = TVdbSimpleFactor::lkFloat;
    }
  }
  NextToken();
  return TVdbSimpleFactor::CreateLiteral(std::move(text), kind);
}

std::unique_ptr<TVdbFactor> TSqlParser::ParseCase() {
  NextToken();
  auto c = std::make_unique<TVdbSqlCaseOperation>();
  std::unique_ptr<TVdbExpression> subject;
  if (FLastTokenType != sqltWhen) subject = ParseExpression();
  if (FLastTokenType != sqltWhen) RaiseExpected(u"WHEN");
  while (FLastTokenType == sqltWhen) {
    NextToken();
    if (subject) {
      // CASE x WHEN v: the condition x = v.
      auto f = std::make_unique<TVdbBooleanFactor>();
      f->ExpressionLeft = subject->CreateCopy();
      f->ComparisonOperator = tcoEqual;
      f->ExpressionRight = ParseExpression();
      auto t = std::make_unique<TVdbBooleanTerm>();
      t->Factors.push_back(std::move(f));
      auto cond = std::make_unique<TVdbSearchCondition>();
      cond->Terms.push_back(std::move(t));
      c->WhenConditions.push_back(std::move(cond));
    } else {
      c->WhenConditions.push_back(ParseSearchCondition());
    }
    Expect(sqltThen);
    c->ThenExpressions.push_back(ParseExpression());
  }
  if (FLastTokenType == sqltElse) {
    NextToken();
    c->ThenExpressions.push_back(ParseExpression());
  }
  Expect(sqltEnd);
  return c;
}

// A data function name is a call when a parenthesis follows (or the function takes no
// arguments), so a column named Day or Year stays a column.
bool TSqlParser::IsDataFunctionCall(std::u16string_view upperName) const {
  const TVdbDataFuncName* data = VdbFindDataFuncName(upperName);
  if (!data) return false;
  if (data->MaxParameters == 0) return true;
  std::size_t i = FStatementPos;
  while (i < FStatementText.size() && (FStatementText[i] == u' ' || FStatementText[i] == u'\t' ||
                                       FStatementText[i] == u'\n' || FStatementText[i] == u'\r'))
    ++i;
  return i < FStatementText.size() && FStatementText[i] == u'(';
}

std::unique_ptr<TVdbSimpleFactor> TSqlParser::ParseFunction(std::u16string name) {
  const TFunctionRow* row = FindFunctionRow(Upper(name));
  if (row && row->Min < 0) return ParseSpecialForm(std::move(name));
  TVdbFunctionCall call;
  int min = 0, max = 0;
  if (row) {
    call.Name = std::u16string(row->Name);
    call.Id = row->Id;
    min = row->Min;
    max = row->Max;
  } else {
    const TVdbDataFuncName* data = VdbFindDataFuncName(name);
    call.Name = std::u16string(data->Name);
    call.Id = sftDataFunction;
    call.DataFuncId = data->Id;
    min = data->MinParameters;
    max = data->MaxParameters;
  }
  if (VdbIsAggregateFunction(call.Id) && !FAllowAggregates) RaiseError(errSyntaxError, {call.Name});
  NextToken();
  if (max > 0 && (FLastTokenType == sqltLeftParenthesis || (!row && min > 0))) {
    const bool inList = FInList;
    Expect(sqltLeftParenthesis);
    FInList = true;
    if (call.Id == sftCount && FLastTokenType == sqltAsterisk) {
      NextToken();
      call.Arguments.push_back(TVdbExpression::FromFactor(TVdbSimpleFactor::CreateLiteral(u"1", TVdbSimpleFactor::lkInteger)));
    } else {
      call.Arguments.push_back(ParseExpression());
      while (FLastTokenType == sqltComma) {
        if (static_cast<int>(call.Arguments.size()) >= max) RaiseExpected(u")");
        NextToken();
        call.Arguments.push_back(ParseExpression());
      }
      if (static_cast<int>(call.Arguments.size()) < min) RaiseExpected(u",");
    }
    FInList = inList;
    Expect(sqltRightParenthesis);
  }
  return TVdbSimpleFactor::CreateFunction(std::move(call));
}

std::unique_ptr<TVdbSimpleFactor> TSqlParser::ParseSpecialForm(std::u16string name) {
  TVdbFunctionCall call;
  call.Name = Upper(name);
  const bool inList = FInList;
  NextToken();
  Expect(sqltLeftParenthesis);
  FInList = false;
  if (call.Name == u"CAST") {
    call.Id = sftCast;
    call.Arguments.push_back(ParseExpression());
    Expect(sqltAs);
    ParseDataType(call.CastType);
  } else if (call.Name == u"EXTRACT") {
    static constexpr std::pair<std::u16string_view, TFunctionId> kFields[] = {
        {u"YEAR", sftExtractYear},     {u"MONTH", sftExtractMonth},   {u"DAY", sftExtractDay},
        {u"WEEKDAY", sftExtractWeekDay}, {u"WEEKDAYNAME", sftExtractWeekDayName}, {u"WEEK", sftExtractWeek},
        {u"HOUR", sftExtractHour},     {u"MINUTE", sftExtractMinute}, {u"SECOND", sftExtractSecond},
        {u"MILLISECOND", sftExtractMillisecond}};
    const std::u16string field = Upper(FLastTokenString);
    for (const auto& [text, id] : kFields)
      if (FLastTokenType == sqltIdentifier && field == text) call.Id = id;
    if (call.Id == sftNone) {
      if (FLastTokenType != sqltIdentifier) RaiseExpected(TokenDisplayName(sqltIdentifier));
      RaiseError(errUnknownIdentifier, {FLastTokenString});
    }
    NextToken();
    Expect(sqltFrom);
    call.Arguments.push_back(ParseExpression());
  } else if (call.Name == u"SUBSTRING") {
    call.Id = sftSubString;
    call.Arguments.push_back(ParseExpression());
    Expect(sqltFrom);
    call.Arguments.push_back(ParseExpression());
    if (FLastTokenType == sqltFor) {
      NextToken();
      call.Arguments.push_back(ParseExpression());
    } else {
      // No FOR: the rest of the text.
      auto rest = TVdbSimpleFactor::CreateLiteral(u"1", TVdbSimpleFactor::lkInteger);
      rest->Sign = sfsMinus;
      call.Arguments.push_back(TVdbExpression::FromFactor(std::move(rest)));
    }
  } else if (call.Name == u"TRIM") {
    call.Id = sftTrimBoth;
    std::u16string chars = u" ";
    bool direction = true;
    switch (FLastTokenType) {
      case sqltBoth: break;
      case sqltLeading: call.Id = sftTrimLeading; break;
      case sqltTrailing: call.Id = sftTrimTrailing; break;
      default: direction = false; break;
    }
    if (direction) {
      NextToken();
      if (FLastTokenType == sqltString) {
        chars = FLastTokenString;
        NextToken();
      }
      Expect(sqltFrom);
    } else if (FLastTokenType == sqltFrom) {
      NextToken();
    }
    call.Arguments.push_back(ParseExpression());
    const bool wide = std::any_of(chars.begin(), chars.end(), [](char16_t c) { return c >= 0x100; });
    call.Arguments.push_back(TVdbExpression::FromFactor(TVdbSimpleFactor::CreateLiteral(
        std::move(chars), wide ? TVdbSimpleFactor::lkWideString : TVdbSimpleFactor::lkString)));
  } else {
    call.Id = sftCurrentRecordId;
    if (FLastTokenType != sqltIdentifier && FLastTokenType != sqltReference)
      RaiseError(errSyntaxError, {u"Argument to CurrentRecordId must be a table name literal"});
    call.TableName = FLastTokenString;
    NextToken();
  }
  FInList = inList;
  Expect(sqltRightParenthesis);
  return TVdbSimpleFactor::CreateFunction(std::move(call));
}

std::unique_ptr<TVdbFactor> TSqlParser::ParseFactor() {
  TSqlFactorSign sign = sfsNone;
  if (FLastTokenType == sqltPlus && FLastTokenString == u"+") {
    sign = sfsPlus;
    NextToken();
  } else if (FLastTokenType == sqltMinus) {
    sign = sfsMinus;
    NextToken();
  }
  std::unique_ptr<TVdbFactor> f;
  switch (FLastTokenType) {
    case sqltCase: f = ParseCase(); break;
    case sqltLeftParenthesis: {
      const bool inList = FInList;
      FInList = false;
      NextToken();
      auto e = ParseExpression();
      FInList = inList;
      Expect(sqltRightParenthesis);
      f = TVdbSimpleFactor::CreateExpression(std::move(e));
      break;
    }
    case sqltTrue:
    case sqltFalse:
      f = TVdbSimpleFactor::CreateLiteral(FLastTokenType == sqltTrue ? u"TRUE" : u"FALSE", TVdbSimpleFactor::lkBoolean);
      NextToken();
      break;
    case sqltNull:
      f = TVdbSimpleFactor::CreateLiteral(u"NULL", TVdbSimpleFactor::lkNull);
      NextToken();
      break;
    case sqltNumber: f = ParseNumberLiteral(); break;
    case sqltString: {
      const bool wide = std::any_of(FLastTokenString.begin(), FLastTokenString.end(), [](char16_t c) { return c >= 0x100; });
      f = TVdbSimpleFactor::CreateLiteral(FLastTokenString, wide ? TVdbSimpleFactor::lkWideString : TVdbSimpleFactor::lkString);
      NextToken();
      break;
    }
    case sqltParameter:
      f = TVdbSimpleFactor::CreateParameter(FLastTokenString);
      NextToken();
      break;
    case sqltIdentifier:
    case sqltReference: {
      std::u16string name = FLastTokenString;
      const std::u16string upper = Upper(name);
      if (FLastTokenType == sqltIdentifier && (upper == u"DATE" || upper == u"TIME" || upper == u"TIMESTAMP")) {
        NextToken();
        if (FLastTokenType != sqltString) RaiseExpected(TokenDisplayName(sqltString));
        const auto kind = upper == u"DATE"   ? TVdbSimpleFactor::lkDate
                          : upper == u"TIME" ? TVdbSimpleFactor::lkTime
                                             : TVdbSimpleFactor::lkTimeStamp;
        f = TVdbSimpleFactor::CreateLiteral(FLastTokenString, kind);
        NextToken();
        break;
      }
      if (FLastTokenType == sqltIdentifier && (FindFunctionRow(upper) || IsDataFunctionCall(upper))) {
        f = ParseFunction(std::move(name));
        break;
      }
      NextToken();
      if (FLastTokenType == sqltDot) {
        NextToken();
        if (FLastTokenType != sqltIdentifier && FLastTokenType != sqltReference) RaiseExpected(TokenDisplayName(sqltIdentifier));
        // The table part loses a directory path and a ".dat" ending.
        const std::size_t slash = name.find_last_of(u"/\\");
        if (slash != std::u16string::npos) name = name.substr(slash + 1);
        if (Upper(name).find(u".DAT") != std::u16string::npos && name.size() >= 4) name.resize(name.size() - 4);
        name += u"." + FLastTokenString;
        NextToken();
      }
      f = TVdbSimpleFactor::CreateColumnReference(std::move(name));
      break;
    }
    default: RaiseExpected(TokenDisplayName(sqltIdentifier));
  }
  f->Sign = sign;
  return f;
}

}  // namespace vdb
