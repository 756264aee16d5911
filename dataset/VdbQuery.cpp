#include "VdbQuery.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vdbds {

namespace {

constexpr std::int32_t kSyntaxError = VDB_ERR_SQL_SYNTAX;

bool IsBlank(std::u16string_view text) {
  return std::all_of(text.begin(), text.end(), [](char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; });
}

bool IsNameChar(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_' || c > 0x7F;
}

// The engine's column type code of a parameter type; -99 for none.
std::int16_t TypeCode(tk::TFieldType t) {
  using T = tk::TFieldType;
  switch (t) {
    case T::dtString: return 1;
    case T::dtSmallInt:
    case T::dtByte: return 2;
    case T::dtInteger: return 16;
    case T::dtBoolean: return 5;
    case T::dtFloat: return 3;
    case T::dtDate: return 6;
    case T::dtTime: return 13;
    case T::dtDateTime: return 17;
    case T::dtBlob: return 11;
    case T::dtAutoInc: return 9;
    case T::dtMemo: return 7;
    case T::dtWideString: return 18;
    case T::dtLargeInt: return 20;
    case T::dtGuid: return 21;
    case T::dtWideMemo: return 19;
    default: return -99;
  }
}

std::u16string Ascii(const std::string& s) { return std::u16string(s.begin(), s.end()); }

std::string Two(int v) {
  char b[8];
  std::snprintf(b, sizeof b, "%02d", v);
  return b;
}

// Milliseconds always take three digits: a fourth would make 5 ms read back as a fraction of
// .0005 s.
std::u16string TimeText(std::int64_t ms) {
  const int h = static_cast<int>(ms / 3600000), n = static_cast<int>(ms / 60000 % 60), s = static_cast<int>(ms / 1000 % 60);
  char frac[8];
  std::snprintf(frac, sizeof frac, "%03d", static_cast<int>(ms % 1000));
  return Ascii(Two(h) + ":" + Two(n) + ":" + Two(s) + "." + frac);
}

std::u16string FloatText(double v) {
  if (std::isfinite(v) && v == std::trunc(v) && std::fabs(v) < 1e18) return Ascii(std::to_string(static_cast<std::int64_t>(v)));
  // As many decimals as give 15 significant digits, trailing zeros removed.
  const int before = v == 0 ? 1 : std::max(1, static_cast<int>(std::floor(std::log10(std::fabs(v)))) + 1);
  const int decimals = std::clamp(15 - before, 0, 30);
  char b[64];
  std::snprintf(b, sizeof b, "%.*f", decimals, v);
  std::string s = b;
  if (s.find('.') != std::string::npos) {
    while (!s.empty() && s.back() == '0') s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
  }
  return Ascii(s);
}

}  // namespace

std::vector<std::u16string> VdbParseParamNames(std::u16string_view text) {
  std::vector<std::u16string> names;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u'\'' || c == u'"' || c == u'[') {
      const char16_t close = c == u'[' ? u']' : c;
      for (++i; i < text.size() && text[i] != close; ++i) {
      }
      continue;
    }
    if (c == u'-' && i + 1 < text.size() && text[i + 1] == u'-') {
      while (i < text.size() && text[i] != u'\n') ++i;
      continue;
    }
    if (c == u'/' && i + 1 < text.size() && text[i + 1] == u'*') {
      const std::size_t end = text.find(u"*/", i + 2);
      i = end == std::u16string_view::npos ? text.size() : end + 1;
      continue;
    }
    if (c != u':' || i + 1 >= text.size() || !IsNameChar(text[i + 1])) continue;
    std::size_t j = i + 1;
    while (j < text.size() && IsNameChar(text[j])) ++j;
    std::u16string name(text.substr(i + 1, j - i - 1));
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(std::move(name));
    i = j - 1;
  }
  return names;
}

std::u16string VdbParamText(const TVdbQueryParam& param, std::int32_t& length) {
  using T = tk::TFieldType;
  std::u16string text;
  const tk::TFieldValue& v = param.Value;
  if (std::holds_alternative<std::monostate>(v)) {
    length = -1;
    return {};
  }
  if (const auto* b = std::get_if<bool>(&v)) {
    text = *b ? u"true" : u"false";
  } else if (const auto* d = std::get_if<double>(&v)) {
    text = FloatText(*d);
  } else if (const auto* s = std::get_if<std::u16string>(&v)) {
    text = *s;
  } else if (const auto* bytes = std::get_if<tk::TBytes>(&v)) {
    if (param.DataType == T::dtBlob || param.DataType == T::dtMemo) {
      // One zero character, then the raw bytes two to a character.
      text.assign(1, u'\0');
      for (std::size_t k = 0; k < bytes->size(); k += 2) {
        const auto lo = static_cast<std::uint8_t>((*bytes)[k]);
        const auto hi = k + 1 < bytes->size() ? static_cast<std::uint8_t>((*bytes)[k + 1]) : 0;
        text.push_back(static_cast<char16_t>(lo | (hi << 8)));
      }
      length = static_cast<std::int32_t>(bytes->size() + 2);
      return text;
    }
    text.assign(bytes->begin(), bytes->end());
  } else if (const auto* i = std::get_if<std::int64_t>(&v)) {
    if (param.DataType == T::dtDate || param.DataType == T::dtTime || param.DataType == T::dtDateTime) {
      int y = 0, m = 0, day = 0;
      if (param.DataType == T::dtTime) {
        text = TimeText(*i);
      } else if (param.DataType == T::dtDate) {
        tk::DecodeDate(*i, y, m, day);
        text = Ascii(Two(day) + "." + Two(m) + "." + std::to_string(y));
      } else {
        const std::int64_t days = *i / 86400000 + 1;
        const std::int64_t ms = *i % 86400000;
        tk::DecodeDate(days, y, m, day);
        if (ms == 0) {
          text = Ascii(Two(day) + "." + Two(m) + "." + std::to_string(y));
        } else {
          text = Ascii(std::to_string(day) + "." + std::to_string(m) + "." + std::to_string(y) + "_") + TimeText(ms);
        }
      }
    } else {
      text = Ascii(std::to_string(*i));
    }
  } else {
    tk::DatabaseError(u"Unknown SQL parameter type.");
  }
  length = static_cast<std::int32_t>(text.size());
  return text;
}

// ---------------------------------------------------------------- TVdbQuery

TVdbQuery::TVdbQuery() = default;

// The link to the master data source: a new current record of the master, or the master
// opening, reopens the query.
class TVdbQuery::TMasterLink final : public tk::TDataLink {
 public:
  explicit TMasterLink(TVdbQuery& query) : FQuery(query) {}

 protected:
  void ActiveChanged() override {
    if (Active()) FQuery.MasterChanged();
  }
  void RecordChanged(tk::TField* field) override {
    if (field == nullptr) FQuery.MasterChanged();
  }

 private:
  TVdbQuery& FQuery;
};

TVdbQuery::~TVdbQuery() {
  FDataLink.reset();
  CloseForDestruction();
  FreeStatement();
  LeaveAfterExec();
}

void TVdbQuery::LeaveAfterExec() noexcept {
  if (!FExecRegistered || Active() || FPrepared) return;
  FExecRegistered = false;
  // No cursor is held: this only unregisters (an automatic database may go with it).
  static_cast<void>(ReleaseCursor());
}

tk::TDataSource* TVdbQuery::DataSource() const noexcept { return FDataLink ? FDataLink->DataSource() : nullptr; }

void TVdbQuery::SetDataSource(tk::TDataSource* source) {
  if (source != nullptr) {
    const auto* master = dynamic_cast<const TVdbQuery*>(source->DataSet());
    if (source->DataSet() == this ||
        (master != nullptr && master->DataSource() != nullptr && master->DataSource()->DataSet() == this)) {
      tk::DatabaseError(u"DataSource property of query %s refers to a data source that is itself linked to %s",
                        {Name, Name});
    }
  }
  if (!FDataLink) FDataLink = std::make_unique<TMasterLink>(*this);
  FDataLink->SetDataSource(source);
}

void TVdbQuery::TakeMasterValues() {
  tk::TDataSet* master = DataSource() != nullptr ? DataSource()->DataSet() : nullptr;
  if (master == nullptr || !master->Active()) return;
  for (auto& p : FParams) {
    if (p.Bound) continue;
    const tk::TField* field = master->FindField(p.Name);
    if (field == nullptr) continue;
    // A text goes as a wide string: the engine's 8-bit parameter text has no code page of
    // the master's column, and would lose the letters its own code page lacks (ő, ű).
    if (p.DataType == tk::TFieldType::dtUnknown)
      p.DataType = field->DataType() == tk::TFieldType::dtString ? tk::TFieldType::dtWideString : field->DataType();
    // Taken for this opening only: the next master record gives its own value.
    p.Value = field->Value();
  }
}

void TVdbQuery::MasterChanged() {
  if (!Active()) return;
  const tk::TDataSet* master = DataSource()->DataSet();
  if (master != nullptr && master->State() == tk::TDataSetState::dsSetKey) return;
  DisableControls();
  try {
    Close();
    Open();
  } catch (...) {
    EnableControls();
    throw;
  }
  EnableControls();
}

void TVdbQuery::SetSQL(const std::vector<std::u16string>& lines) {
  if (lines == FSQL) return;
  Close();
  UnPrepare();
  FSQL = lines;
  TextChanged();
}

std::u16string TVdbQuery::SQLW() const {
  std::u16string text;
  for (std::size_t i = 0; i < FSQL.size(); ++i) {
    if (i > 0) text += u"\r\n";
    text += FSQL[i];
  }
  return text;
}

void TVdbQuery::SetSQLW(const std::u16string& text) {
  if (text == SQLW()) return;
  std::vector<std::u16string> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] != u'\n') continue;
    std::size_t end = i;
    if (end > start && text[end - 1] == u'\r') --end;
    lines.emplace_back(text.substr(start, end - start));
    start = i + 1;
  }
  SetSQL(lines);
}

void TVdbQuery::TextChanged() {
  FText = SQLW();
  if (!ParamCheck) return;
  std::vector<TVdbQueryParam> params;
  for (auto& name : VdbParseParamNames(FText)) {
    TVdbQueryParam p;
    p.Name = name;
    const auto old = std::find_if(FParams.begin(), FParams.end(), [&](const TVdbQueryParam& o) { return o.Name == name; });
    if (old != FParams.end()) p = *old;
    params.push_back(std::move(p));
  }
  FParams = std::move(params);
}

TVdbQueryParam& TVdbQuery::ParamByName(const std::u16string& name) {
  for (auto& p : FParams)
    if (p.Name == name) return p;
  tk::DatabaseError(u"Parameter '%s' not found", {name});
}

void TVdbQuery::FreeStatement() noexcept {
  if (FStmtHandle == 0) return;
  try {
    TVdbCalls& calls = Calls();
    if (FPrepared) static_cast<void>(calls.StmtUnprepare(FStmtHandle));
    static_cast<void>(calls.StmtDelete(FStmtHandle));
  } catch (...) {
    // Without a database there is no statement to give back.
  }
  FPrepared = false;
  FStmtHandle = 0;
}

void TVdbQuery::RaiseSqlError(std::int32_t result) {
  TVdbCalls& calls = Calls();
  std::int32_t row = 0, col = 0;
  calls.StmtGetErrorPos(FStmtHandle, row, col);
  std::int16_t reason = 0;
  std::u16string reasonText;
  calls.SessGetLastError(SessionHandle(), reason, reasonText);
  const std::u16string message = tk::FormatText(calls.GetErrorMsg(result), {tk::IntToText(row), tk::IntToText(col)});
  // The error row from its start up to the error column.
  std::u16string line;
  const std::u16string text = SQLW();
  std::size_t start = 0;
  for (int r = 1; r < row && start != std::u16string::npos; ++r) {
    start = text.find(u'\n', start);
    if (start != std::u16string::npos) ++start;
  }
  if (start != std::u16string::npos && start < text.size()) {
    std::size_t end = text.find(u'\n', start);
    if (end == std::u16string::npos) end = text.size();
    line = text.substr(start, std::min<std::size_t>(end - start, col > 0 ? static_cast<std::size_t>(col - 1) : 0));
    if (!line.empty() && line.back() == u'\r') line.pop_back();
  }
  FreeStatement();
  throw EVidoraSQLError(tk::FormatText(u"%s: \r\n%s\r\n%s.", {message, line, reasonText}), static_cast<std::int16_t>(result),
                        reason, row, col);
}

void TVdbQuery::Prepare() {
  if (FPrepared || FStmtHandle != 0) UnPrepare();
  TVdbDatabase& database = Database();
  if (!database.Connected()) database.Open();
  TVdbCalls& calls = Calls();
  const std::int16_t st = calls.SessCreateStatement(database.Handle());
  if (st <= 0) RaiseError(u"Preparing SQL statement", st < 0 ? st : VDB_ERR_INVALID_STMT_HANDLE);
  FStmtHandle = st;
  const std::int16_t set = calls.StmtSetSqlText(st, SQLW());
  if (set == kSyntaxError) RaiseSqlError(set);
  auto fail = [&](std::int32_t r) {
    FreeStatement();
    RaiseError(u"Preparing SQL statement", r);
  };
  if (set < 0) fail(set);
  for (const auto& p : FParams) {
    const std::int16_t code = TypeCode(p.DataType);
    std::int32_t size = 0;
    if (code == 1 || code == 18) {
      size = p.Size;
      if (size < 1) {
        std::int32_t length = 0;
        size = std::holds_alternative<std::monostate>(p.Value) ? 0 : static_cast<std::int32_t>(VdbParamText(p, length).size());
      }
    }
    const std::int16_t r = calls.StmtAddParam(st, p.Name, code, size);
    if (r < 0) fail(r);
  }
  const std::int16_t mode = !RequestLive ? 0 : RequestStable ? 1 : 2;
  const std::int16_t prepared = calls.StmtPrepare(st, mode);
  if (prepared == kSyntaxError) RaiseSqlError(prepared);
  if (prepared < 0) fail(prepared);
  FPrepared = true;
}

void TVdbQuery::UnPrepare() {
  FreeStatement();
  LeaveAfterExec();
}

void TVdbQuery::PassParams() {
  TVdbCalls& calls = Calls();
  calls.StmtClearParams(FStmtHandle);
  for (const auto& p : FParams) {
    std::int32_t length = 0;
    const std::u16string text = VdbParamText(p, length);
    if (calls.StmtSetParam(FStmtHandle, p.Name, text, length) < 0)
      tk::DatabaseError(u"Cannot set parameter \"%s\" to \"%s\"", {p.Name, text});
  }
}

void TVdbQuery::InternalOpen() {
  if (IsBlank(SQLW())) tk::DatabaseError(u"The SQL statement contains no text");
  TVdbDatabase& database = Database();
  if (!database.Connected()) database.Open();
  database.RegisterClient(*this);
  // From now on the cursor holds the registration; closing gives it up.
  FExecRegistered = false;
  // Master values first: a parameter the master fills takes the master field's type, which
  // the preparation below hands to the engine.
  TakeMasterValues();
  const bool preparedHere = !FPrepared;
  if (preparedHere) Prepare();
  TVdbCalls& calls = Calls();
  std::int32_t table = 0;
  std::int32_t result = 0;
  try {
    PassParams();
    result = calls.StmtExecute(FStmtHandle);
    FRowsAffected = result < 0 ? -1 : result;
    if (result >= 0) table = calls.StmtCreateResultTableHdl(FStmtHandle);
  } catch (...) {
    if (preparedHere) FreeStatement();
    throw;
  }
  // The result table stays for its cursor when the statement goes.
  if (preparedHere) FreeStatement();
  if (result < 0) RaiseError(u"Opening VidoraDB query", result);
  if (table < 0) RaiseError(u"Opening VidoraDB query", table);
  if (table == 0) tk::DatabaseError(SQLW());
  BindCursor(static_cast<std::int16_t>(table));
  calls.TableFirst(Handle());
  SetOutOfTableState(TOutOfTableState::ootBOT);
}

void TVdbQuery::InternalClose() {
  FreeStatement();
  // The cursor's release below unregisters the query.
  FExecRegistered = false;
  const std::int16_t released = ReleaseCursor();
  if (released < 0) RaiseError(u"Closing VidoraDB query", released);
}

void TVdbQuery::ExecSQL() {
  if (Active()) CheckBrowseMode();
  if (IsBlank(SQLW())) tk::DatabaseError(u"The SQL statement contains no text");
  TVdbDatabase& database = Database();
  if (!database.Connected()) database.Open();
  if (!Active()) {
    database.RegisterClient(*this);
    FExecRegistered = true;
  }
  const bool preparedHere = !FPrepared;
  std::int32_t result = 0;
  try {
    if (preparedHere) Prepare();
    PassParams();
    result = Calls().StmtExecute(FStmtHandle);
  } catch (...) {
    if (preparedHere) UnPrepare();
    LeaveAfterExec();
    throw;
  }
  FRowsAffected = result < 0 ? -1 : result;
  if (preparedHere) UnPrepare();
  LeaveAfterExec();
  if (result < 0) RaiseError(u"Executing SQL statement", result);
}

}  // namespace vdbds
