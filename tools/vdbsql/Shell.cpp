#include "Shell.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <map>
#include <sstream>

namespace vdbsql {

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

std::string Trim(const std::string& text) {
  std::size_t a = 0, b = text.size();
  while (a < b && IsSpace(text[a])) ++a;
  while (b > a && IsSpace(text[b - 1])) --b;
  return text.substr(a, b - a);
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Words of a dot-command; double quotes keep blanks inside one word.
std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  bool quoted = false, any = false;
  for (char c : line) {
    if (c == '"') {
      quoted = !quoted;
      any = true;
    } else if (IsSpace(c) && !quoted) {
      if (any) words.push_back(word);
      word.clear();
      any = false;
    } else {
      word += c;
      any = true;
    }
  }
  if (any) words.push_back(word);
  return words;
}

// A value as one line of a column or line display.
std::string Shown(const TValue& value) {
  if (!value) return "NULL";
  std::string s = *value;
  for (char& c : s)
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
  return s;
}

std::string PadRight(const std::string& text, std::size_t width) {
  const std::size_t w = DisplayWidth(text);
  return w >= width ? text : text + std::string(width - w, ' ');
}

std::string PadLeft(const std::string& text, std::size_t width) {
  const std::size_t w = DisplayWidth(text);
  return w >= width ? text : std::string(width - w, ' ') + text;
}

bool IsInteger(const std::string& s) {
  std::size_t i = s[0] == '-' ? 1 : 0;
  if (i >= s.size() || s.size() - i > 19) return false;
  for (; i < s.size(); ++i)
    if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
  return true;
}

bool IsDecimal(const std::string& s) {
  std::size_t i = s[0] == '-' ? 1 : 0;
  bool digits = false, dot = false;
  for (; i < s.size(); ++i) {
    if (std::isdigit(static_cast<unsigned char>(s[i]))) digits = true;
    else if (s[i] == '.' && !dot) dot = true;
    else return false;
  }
  return digits;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw EClientError("cannot read " + path);
  std::ostringstream text;
  text << in.rdbuf();
  std::string data = text.str();
  if (data.rfind("\xEF\xBB\xBF", 0) == 0) data.erase(0, 3);
  return data;
}

}  // namespace

// ---- statements

void TStatementSplitter::Feed(const std::string& line, std::vector<TPiece>& out) {
  ++FLine;
  std::size_t col = 0;  // in characters
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++col;
    const char next = i + 1 < line.size() ? line[i + 1] : '\0';
    switch (FState) {
      case sNormal:
        if (c == '-' && next == '-') {
          // A comment to the line's end: kept as blanks, so columns stay right.
          if (FStarted) FCurrent.Text += std::string(line.size() - i, ' ');
          i = line.size();
          continue;
        }
        if (c == '/' && next == '*') {
          FState = sBlockComment;
          if (FStarted) FCurrent.Text += "  ";
          ++i;
          ++col;
          continue;
        }
        if (c == ';') {
          if (FStarted) out.push_back(std::move(FCurrent));
          FCurrent = TPiece();
          FStarted = false;
          continue;
        }
        if (!FStarted) {
          if (IsSpace(c)) continue;
          FStarted = true;
          FCurrent.Line = FLine;
          FCurrent.Col = col;
        }
        if (c == '\'') FState = sSingle;
        else if (c == '"') FState = sDouble;
        else if (c == '[') FState = sBracket;
        FCurrent.Text += c;
        break;
      case sSingle:
        if (c == '\'') FState = sNormal;  // a doubled quote leaves and re-enters
        FCurrent.Text += c;
        break;
      case sDouble:
        if (c == '"') FState = sNormal;
        FCurrent.Text += c;
        break;
      case sBracket:
        if (c == ']') FState = sNormal;
        FCurrent.Text += c;
        break;
      case sBlockComment:
        if (c == '*' && next == '/') {
          FState = sNormal;
          if (FStarted) FCurrent.Text += "  ";
          ++i;
          ++col;
        } else if (FStarted) {
          FCurrent.Text += ' ';
        }
        break;
    }
  }
  if (FStarted) FCurrent.Text += '\n';
}

bool TStatementSplitter::Pending() const { return FStarted || FState == sBlockComment; }

TPiece TStatementSplitter::TakeRest() {
  TPiece rest = std::move(FCurrent);
  FCurrent = TPiece();
  FStarted = false;
  FState = sNormal;
  return rest;
}

bool IsBlank(const std::string& text) { return std::all_of(text.begin(), text.end(), IsSpace); }

// ---- the shell

TShell::TShell(TSession& session, std::ostream& out, std::ostream& err) : FSession(session), FOut(out), FErr(err) {}

bool TShell::ParseMode(const std::string& text, TOutputMode& mode) {
  static const std::map<std::string, TOutputMode> kModes = {
      {"column", TOutputMode::Column}, {"csv", TOutputMode::Csv}, {"json", TOutputMode::Json}, {"line", TOutputMode::Line}};
  const auto it = kModes.find(Lower(text));
  if (it == kModes.end()) return false;
  mode = it->second;
  return true;
}

void TShell::Error(const std::string& message) {
  FFailed = true;
  FOut.flush();
  FErr << "Error: " << message << std::endl;
}

bool TShell::RunLine(const std::string& line) {
  if (!FSplitter.Pending()) {
    const std::string trimmed = Trim(line);
    if (!trimmed.empty() && trimmed[0] == '.') {
      try {
        return RunCommand(trimmed);
      } catch (const EClientError& e) {
        Error(e.what());
      } catch (const std::exception& e) {
        Error(e.what());
      }
      return true;
    }
  }
  std::vector<TPiece> pieces;
  FSplitter.Feed(line, pieces);
  for (const TPiece& piece : pieces) RunStatement(piece);
  return true;
}

void TShell::Finish() {
  if (!FSplitter.Pending()) return;
  const TPiece rest = FSplitter.TakeRest();
  RunStatement(rest);
}

void TShell::RunStatement(const TPiece& piece) {
  if (IsBlank(piece.Text)) return;
  const auto start = std::chrono::steady_clock::now();
  try {
    TStatementResult result = FSession.Execute(piece.Text);
    if (result.Rows) Print(*result.Rows);
  } catch (const EClientError& e) {
    std::string where;
    if (e.Row > 0) {
      // The engine counts within the statement; the user reads the input's lines.
      const std::size_t line = piece.Line + static_cast<std::size_t>(e.Row) - 1;
      const std::size_t col = e.Row == 1 ? piece.Col + static_cast<std::size_t>(e.Col) - 1 : static_cast<std::size_t>(e.Col);
      where = (FInputName.empty() ? std::string() : FInputName + ": ") + "row " + std::to_string(line) + ", column " +
              std::to_string(col) + ": ";
    } else if (!FInputName.empty()) {
      where = FInputName + ": statement at row " + std::to_string(piece.Line) + ": ";
    }
    Error(where + e.what());
  } catch (const std::exception& e) {
    Error(e.what());
  }
  if (FTimer) {
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    FOut << "Run time: " << std::fixed << std::setprecision(3) << elapsed.count() << " s" << std::defaultfloat << "\n";
  }
}

void TShell::Print(TCursor& rows) {
  const auto& columns = rows.Columns();
  std::vector<std::vector<TValue>> data;
  for (bool more = rows.First(); more; more = rows.Next()) {
    std::vector<TValue> row;
    row.reserve(columns.size());
    for (std::size_t i = 0; i < columns.size(); ++i) row.push_back(rows.Value(i));
    data.push_back(std::move(row));
  }
  switch (FMode) {
    case TOutputMode::Column: {
      std::vector<std::size_t> widths(columns.size(), 0);
      for (std::size_t i = 0; i < columns.size(); ++i) {
        if (FHeaders) widths[i] = DisplayWidth(columns[i].Name);
        for (const auto& row : data) widths[i] = std::max(widths[i], DisplayWidth(Shown(row[i])));
      }
      auto emit = [&](const std::vector<std::string>& cells, bool header) {
        std::string line;
        for (std::size_t i = 0; i < cells.size(); ++i) {
          if (i > 0) line += "  ";
          const bool right = !header && columns[i].Kind() == TValueKind::Number;
          line += right ? PadLeft(cells[i], widths[i]) : PadRight(cells[i], widths[i]);
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        FOut << line << "\n";
      };
      if (FHeaders) {
        std::vector<std::string> names, rules;
        for (std::size_t i = 0; i < columns.size(); ++i) {
          names.push_back(columns[i].Name);
          rules.push_back(std::string(widths[i], '-'));
        }
        emit(names, true);
        emit(rules, true);
      }
      for (const auto& row : data) {
        std::vector<std::string> cells;
        for (const auto& v : row) cells.push_back(Shown(v));
        emit(cells, false);
      }
      break;
    }
    case TOutputMode::Csv: {
      auto emit = [&](const std::vector<TValue>& cells) {
        for (std::size_t i = 0; i < cells.size(); ++i) FOut << (i > 0 ? "," : "") << CsvField(cells[i]);
        FOut << "\r\n";
      };
      if (FHeaders) {
        std::vector<TValue> names;
        for (const auto& c : columns) names.emplace_back(c.Name);
        emit(names);
      }
      for (const auto& row : data) emit(row);
      break;
    }
    case TOutputMode::Json: {
      FOut << "[";
      for (std::size_t r = 0; r < data.size(); ++r) {
        FOut << (r > 0 ? ",\n" : "\n") << "{";
        for (std::size_t i = 0; i < columns.size(); ++i) {
          FOut << (i > 0 ? "," : "") << JsonString(columns[i].Name) << ":";
          const TValue& v = data[r][i];
          const TValueKind kind = columns[i].Kind();
          if (!v) FOut << "null";
          else if ((kind == TValueKind::Number && *v != "inf" && *v != "-inf" && *v != "nan") || kind == TValueKind::Boolean)
            FOut << *v;
          else FOut << JsonString(*v);
        }
        FOut << "}";
      }
      FOut << (data.empty() ? "]\n" : "\n]\n");
      break;
    }
    case TOutputMode::Line: {
      std::size_t width = 0;
      for (const auto& c : columns) width = std::max(width, DisplayWidth(c.Name));
      for (std::size_t r = 0; r < data.size(); ++r) {
        if (r > 0) FOut << "\n";
        for (std::size_t i = 0; i < columns.size(); ++i)
          FOut << PadLeft(columns[i].Name, width) << " = " << Shown(data[r][i]) << "\n";
      }
      break;
    }
  }
  FOut.flush();
}

bool TShell::RunCommand(const std::string& line) {
  const std::vector<std::string> words = Words(line);
  const std::string command = Lower(words[0]);
  auto need = [&](std::size_t min, std::size_t max, const char* usage) {
    if (words.size() < min + 1 || words.size() > max + 1) throw EClientError(std::string("usage: ") + usage);
  };
  auto onOff = [&](const char* usage) {
    need(1, 1, usage);
    const std::string v = Lower(words[1]);
    if (v == "on" || v == "1" || v == "yes") return true;
    if (v == "off" || v == "0" || v == "no") return false;
    throw EClientError(std::string("usage: ") + usage);
  };
  if (command == ".quit" || command == ".exit") {
    need(0, 0, ".quit");
    return false;
  }
  if (command == ".help") {
    FOut << HelpText();
  } else if (command == ".tables") {
    need(0, 0, ".tables");
    for (const std::string& name : FSession.TableNames()) FOut << name << "\n";
  } else if (command == ".schema") {
    need(0, 1, ".schema [TABLE]");
    if (words.size() == 2) {
      ShowSchema(words[1]);
    } else {
      bool first = true;
      for (const std::string& name : FSession.TableNames()) {
        if (!first) FOut << "\n";
        first = false;
        try {
          ShowSchema(name);
        } catch (const EClientError& e) {
          Error(e.what());
        }
      }
    }
  } else if (command == ".indexes") {
    need(1, 1, ".indexes TABLE");
    ShowIndexes(words[1]);
  } else if (command == ".count") {
    need(1, 1, ".count TABLE");
    FOut << FSession.Count(words[1]) << "\n";
  } else if (command == ".check") {
    need(1, 1, ".check TABLE");
    const std::vector<std::string> findings = FSession.CheckTable(words[1]);
    if (findings.empty()) FOut << words[1] << ": no problems found\n";
    for (const std::string& finding : findings) FOut << words[1] << ": " << finding << "\n";
    if (!findings.empty())
      Error(std::to_string(findings.size()) + (findings.size() == 1 ? " problem" : " problems") + " found in " + words[1]);
  } else if (command == ".import") {
    need(2, 3, ".import FILE TABLE [COLLATION]");
    Import(words[1], words[2], words.size() > 3 ? words[3] : "Hungarian");
  } else if (command == ".export") {
    need(2, 2, ".export TABLE FILE");
    Export(words[1], words[2]);
  } else if (command == ".mode") {
    need(1, 1, ".mode column|csv|json|line");
    if (!ParseMode(words[1], FMode)) throw EClientError("usage: .mode column|csv|json|line");
  } else if (command == ".headers") {
    FHeaders = onOff(".headers on|off");
  } else if (command == ".timer") {
    FTimer = onOff(".timer on|off");
  } else if (command == ".password") {
    need(0, 1, ".password [KEY]");
    if (words.size() == 2) {
      FSession.SetPassword(words[1]);
    } else {
      const auto typed = FSession.AskPassword("enciphered tables");
      if (!typed) throw EClientError("no key given: .password KEY");
      FSession.SetPassword(*typed);
    }
  } else {
    throw EClientError("unknown command " + words[0] + " (.help lists the commands)");
  }
  FOut.flush();
  return true;
}

void TShell::ShowSchema(const std::string& table) {
  const TTableSchema s = FSession.Schema(table);
  FOut << "Table " << s.Name << ": level " << s.Level << ", collation "
       << (s.Collation.empty() ? std::string("built-in") : s.Collation) << ", encryption " << s.Encryption << ", "
       << s.Records << (s.Records == 1 ? " record" : " records") << "\n";
  std::size_t nameWidth = 0, typeWidth = 0;
  for (const TColumn& c : s.Columns) {
    nameWidth = std::max(nameWidth, DisplayWidth(c.Name));
    typeWidth = std::max(typeWidth, DisplayWidth(c.TypeText()));
  }
  for (const TColumn& c : s.Columns) {
    std::string line = "  " + PadRight(c.Name, nameWidth) + "  " + PadRight(c.TypeText(), typeWidth) + "  " +
                       (c.Nullable() ? "NULL    " : "NOT NULL") + "  size " + std::to_string(c.Size);
    if (!c.SelectOrLink.empty() && (c.Type == 1 || c.Type == 7 || c.Type == 0))
      line += "  collation " + Utf16ToUtf8(c.SelectOrLink);
    FOut << line << "\n";
  }
  for (const auto& index : s.Indexes) FOut << "  index " << index.Name << " ON " << index.Description << "\n";
}

void TShell::ShowIndexes(const std::string& table) {
  const TTableSchema s = FSession.Schema(table);
  std::size_t width = 0;
  for (const auto& index : s.Indexes) width = std::max(width, DisplayWidth(index.Name));
  for (const auto& index : s.Indexes) FOut << PadRight(index.Name, width) << "  " << index.Description << "\n";
}

void TShell::Import(const std::string& file, const std::string& table, const std::string& collation) {
  TCsvReader reader(ReadFile(file));
  auto fail = [&](std::size_t line, std::size_t col, const std::string& message) -> EClientError {
    return EClientError(file + ": line " + std::to_string(line) + (col > 0 ? ", column " + std::to_string(col) : "") +
                        ": " + message + "; nothing was imported");
  };
  TCsvRecord header;
  if (!reader.Next(header)) throw EClientError(file + ": the file is empty (a header row is needed); nothing was imported");
  std::vector<TCsvRecord> records;
  TCsvRecord record;
  while (reader.Next(record)) {
    if (record.Fields.size() == 1 && record.Fields[0].Text.empty() && !record.Fields[0].Quoted) continue;
    if (record.Fields.size() != header.Fields.size())
      throw fail(record.Line, 0, "the row has " + std::to_string(record.Fields.size()) + " fields, the header " +
                                     std::to_string(header.Fields.size()));
    records.push_back(std::move(record));
  }
  // Every text must be UTF-8 before anything else is looked at.
  std::vector<std::string> names;
  for (const auto& f : header.Fields) {
    std::u16string units;
    std::size_t bad = 0;
    if (!Utf8ToUtf16Strict(f.Text, units, bad)) throw fail(header.Line, f.Column + bad - 1, "the header is not UTF-8");
    names.push_back(Trim(f.Text));
  }
  for (const auto& r : records)
    for (const auto& f : r.Fields) {
      std::u16string units;
      std::size_t bad = 0;
      if (!Utf8ToUtf16Strict(f.Text, units, bad)) throw fail(r.Line, f.Column + bad - 1, "the value is not UTF-8");
    }

  const bool create = !FSession.TableExists(table);
  if (create) {
    // A new table: each column takes the narrowest kind that holds all of its values.
    std::vector<TColumn> columns;
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (names[i].empty()) throw fail(header.Line, header.Fields[i].Column, "a column has no name");
      bool integer = true, decimal = true, wide = false;
      std::size_t longest = 0;
      for (const auto& r : records) {
        const TCsvField& f = r.Fields[i];
        if (f.Text.empty() && !f.Quoted) continue;
        longest = std::max(longest, CodePoints(Utf8ToUtf16(f.Text)));
        // Leading zeros (postal or telephone codes) would be lost in a number.
        if (f.Text.empty() || !IsInteger(f.Text) || (f.Text.size() > 1 && f.Text[0] == '0')) integer = false;
        else if (f.Text.size() > 9) wide = true;
        if (f.Text.empty() || !IsDecimal(f.Text) || (f.Text.size() > 1 && f.Text[0] == '0' && f.Text[1] != '.'))
          decimal = false;
      }
      TColumn c;
      c.Name = names[i];
      c.Options = 0x20;  // nullable
      if (integer && longest > 0) {
        c.Type = wide ? 20 : 16;
      } else if (decimal && longest > 0) {
        c.Type = 3;
      } else if (longest > 255) {
        c.Type = 7;
      } else {
        c.Type = 1;
        c.Param = static_cast<std::int32_t>(std::max<std::size_t>(longest, 1));
      }
      columns.push_back(c);
    }
    try {
      FSession.CreateTable(table, columns, collation);
    } catch (const EClientError&) {
      // A table the engine made in part is not left behind.
      if (FSession.TableExists(table)) FSession.DropTable(table);
      throw;
    }
  }
  try {
    auto cursor = FSession.OpenCursor(table, true);
    const auto& columns = cursor->Columns();
    // Which column each field goes to.
    std::vector<std::size_t> target(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
      const auto it = std::find_if(columns.begin(), columns.end(),
                                   [&](const TColumn& c) { return Lower(c.Name) == Lower(names[i]); });
      if (it == columns.end()) throw fail(header.Line, header.Fields[i].Column, table + " has no column " + names[i]);
      target[i] = static_cast<std::size_t>(it - columns.begin());
    }
    std::vector<std::vector<TValue>> rows;
    rows.reserve(records.size());
    for (const auto& r : records) {
      std::vector<TValue> values(columns.size());
      for (std::size_t i = 0; i < names.size(); ++i) {
        const TCsvField& f = r.Fields[i];
        if (!f.Text.empty() || f.Quoted) values[target[i]] = f.Text;
        const std::string refusal = cursor->Check(target[i], values[target[i]]);
        if (!refusal.empty()) throw fail(r.Line, f.Column, refusal);
      }
      rows.push_back(std::move(values));
    }
    // All values fit: written in one transaction, so a failure leaves the table as it was.
    FSession.Begin();
    std::size_t at = 0;
    try {
      for (; at < rows.size(); ++at) cursor->Append(rows[at]);
      FSession.Commit();
    } catch (const EClientError& e) {
      FSession.Rollback();
      const TCsvRecord& r = records[at];
      throw fail(r.Line, 0, e.what());
    }
    FOut << rows.size() << (rows.size() == 1 ? " row" : " rows") << " imported into " << table << "\n";
  } catch (...) {
    if (create) {
      try {
        FSession.DropTable(table);
      } catch (const EClientError& e) {
        FErr << "Error: the new table " << table << " could not be removed: " << e.what() << "\n";
      }
    }
    throw;
  }
}

void TShell::Export(const std::string& table, const std::string& file) {
  auto cursor = FSession.OpenCursor(table, false);
  const auto& columns = cursor->Columns();
  const std::string partial = file + ".part";
  std::size_t count = 0;
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    if (!out) throw EClientError("cannot write " + file);
    for (std::size_t i = 0; i < columns.size(); ++i) out << (i > 0 ? "," : "") << CsvField(columns[i].Name);
    out << "\r\n";
    try {
      for (bool more = cursor->First(); more; more = cursor->Next(), ++count) {
        for (std::size_t i = 0; i < columns.size(); ++i) out << (i > 0 ? "," : "") << CsvField(cursor->Value(i));
        out << "\r\n";
      }
    } catch (...) {
      out.close();
      std::filesystem::remove(partial);
      throw;
    }
    out.flush();
    if (!out) {
      out.close();
      std::filesystem::remove(partial);
      throw EClientError("cannot write " + file);
    }
  }
  // The file appears whole or not at all.
  std::filesystem::rename(partial, file);
  FOut << count << (count == 1 ? " row" : " rows") << " exported to " << file << "\n";
}

const char* HelpText() {
  return R"(Statements end with ";" and may span lines. Commands:
  .tables                  the tables of the database
  .schema [TABLE]          columns, types, sizes, indexes, level, collation and encryption
  .indexes TABLE           the indexes of a table and their keys
  .count TABLE             the number of records of a table
  .check TABLE             the engine's check of a table and its indexes
  .import FILE TABLE [COLLATION]
                           appends the rows of a UTF-8 CSV file with a header row; a table
                           that does not exist is made (collation Hungarian unless given);
                           a value that does not fit stops the import, naming its line and
                           column, and nothing is imported
  .export TABLE FILE       writes a table as a UTF-8 CSV file with a header row
  .mode column|csv|json|line   how results are shown
  .headers on|off          column names above results (column and csv modes)
  .timer on|off            the run time of every statement
  .password [KEY]          the key of enciphered or protected tables (asked when omitted)
  .help                    this text
  .quit                    leaves the shell
)";
}

}  // namespace vdbsql
