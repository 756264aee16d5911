// vdbsql: a command-line shell for VidoraDB databases. It opens a database directory and runs
// VidoraSQL statements and dot-commands given as arguments, read from standard input, or typed
// at a prompt with line editing and history. It uses nothing of the engine but its installed
// header and library.
#include <editline/readline.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include <vidoradb/vdbapi.h>

#include "Client.h"
#include "Shell.h"

namespace {

const char kUsage[] = R"(NAME
    vdbsql - command-line shell for VidoraDB databases

SYNOPSIS
    vdbsql [OPTION]... DATABASE [STATEMENT]...

DESCRIPTION
    vdbsql opens the VidoraDB database in the directory DATABASE and runs VidoraSQL
    statements and shell commands on it.

    With STATEMENT arguments, it runs them in order and ends; an argument may hold several
    statements separated by ";", or one command starting with ".". Without them, it reads
    standard input: from a terminal at a prompt with line editing and a history kept in
    ~/.vdbsql_history, otherwise as a script (vdbsql db < script.sql).

    A statement ends with ";" (at the end of the input or of an argument the last one may
    go without). A line starting with "." while no statement is open is a command; .help
    lists them: .tables, .schema, .indexes, .count, .check, .import, .export, .mode,
    .headers, .timer, .password, .help and .quit.

    Results are written to standard output, in aligned columns by default; NULL marks a
    value that is absent. Errors are written to standard error with the engine's message
    and, for a statement that does not parse, its row and column in the input.

OPTIONS
    -m, --mode MODE
        column (default), csv, json or line.
    --headers on|off
        column names above column and csv output (default on).
    -p, --password KEY
        the key of enciphered or protected tables; without it, a terminal user is asked
        when a table needs one.
    -r, --read-only
        opens the database for reading only.
    -t, --timer
        writes the run time of every statement.
    -h, --help
        shows this text and ends.
    -V, --version
        shows the versions of the shell and the engine and ends.

CSV FILES
    .import and .export read and write UTF-8 text with a header row of column names,
    fields separated by commas, quoted as needed, lines ended by CR LF. An empty field is a
    null, an empty quoted field ("") an empty text. Texts are converted from and to the
    code page of their column; a value that does not fit stops .import with its line and
    column, and nothing of the file is imported.

EXIT STATUS
    0 when every statement and command succeeded, 1 when any failed, 2 for a wrong command
    line or a database that cannot be opened.

EXAMPLES
    vdbsql db "SELECT MEGYE, COUNT(*) FROM Irsz GROUP BY MEGYE"
    vdbsql --mode csv db "SELECT * FROM Irsz" > irsz.csv
    vdbsql db .tables ".schema Irsz"
)";

std::string ReadSecret(const std::string& prompt) {
  std::cerr << prompt << std::flush;
  termios old{};
  const bool terminal = tcgetattr(STDIN_FILENO, &old) == 0;
  if (terminal) {
    termios quiet = old;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  std::string key;
  std::getline(std::cin, key);
  if (terminal) tcsetattr(STDIN_FILENO, TCSAFLUSH, &old);
  std::cerr << "\n";
  return key;
}

int Usage(const std::string& message) {
  std::cerr << "vdbsql: " << message << "\nTry 'vdbsql --help' for more information.\n";
  return 2;
}

std::string HistoryPath() {
  const char* home = std::getenv("HOME");
  return home && *home ? std::string(home) + "/.vdbsql_history" : std::string();
}

}  // namespace

int main(int argc, char** argv) {
  using namespace vdbsql;
  TOutputMode mode = TOutputMode::Column;
  bool headers = true, readOnly = false, timer = false;
  std::string password, database;
  bool havePassword = false;
  std::vector<std::string> statements;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw std::invalid_argument(arg + " needs a value");
      return argv[++i];
    };
    try {
      if (!database.empty()) {
        statements.push_back(arg);
      } else if (arg == "-h" || arg == "--help") {
        std::cout << kUsage;
        return 0;
      } else if (arg == "-V" || arg == "--version") {
        std::cout << "vdbsql " << VIDORADB_VERSION_STRING << " (VidoraDB engine " << VdbGetVersion() << ")\n";
        return 0;
      } else if (arg == "-m" || arg == "--mode") {
        if (!TShell::ParseMode(value(), mode)) return Usage("unknown mode " + std::string(argv[i]));
      } else if (arg == "--headers") {
        const std::string v = value();
        if (v != "on" && v != "off") return Usage("--headers takes on or off");
        headers = v == "on";
      } else if (arg == "-p" || arg == "--password") {
        password = value();
        havePassword = true;
      } else if (arg == "-r" || arg == "--read-only") {
        readOnly = true;
      } else if (arg == "-t" || arg == "--timer") {
        timer = true;
      } else if (arg.size() > 1 && arg[0] == '-') {
        return Usage("unknown option " + arg);
      } else {
        database = arg;
      }
    } catch (const std::invalid_argument& e) {
      return Usage(e.what());
    }
  }
  if (database.empty()) return Usage("no database directory given");

  const bool interactive = statements.empty() && isatty(STDIN_FILENO) != 0;
  try {
    // Tables are found and made under the database directory by full path names.
    std::error_code absoluteError;
    const std::filesystem::path where = std::filesystem::absolute(database, absoluteError);
    TSession session(absoluteError ? database : where.lexically_normal().string(), readOnly);
    if (havePassword) session.SetPassword(password);
    if (isatty(STDIN_FILENO) != 0)
      session.SetPasswordPrompt([](const std::string& table) -> std::optional<std::string> {
        return ReadSecret("Password for " + table + ": ");
      });
    TShell shell(session, std::cout, std::cerr);
    shell.SetMode(mode);
    shell.SetHeaders(headers);
    shell.SetTimer(timer);

    if (!statements.empty()) {
      for (std::size_t i = 0; i < statements.size(); ++i) {
        shell.SetInputName(statements.size() > 1 ? "argument " + std::to_string(i + 1) : std::string());
        bool go = true;
        std::size_t start = 0;
        const std::string& text = statements[i];
        // An argument's lines are fed one by one, and its last statement needs no ";".
        while (go && start <= text.size()) {
          const std::size_t end = std::min(text.find('\n', start), text.size());
          go = shell.RunLine(text.substr(start, end - start));
          start = end + 1;
        }
        shell.Finish();
        if (!go) break;
      }
    } else if (interactive) {
      std::cout << "vdbsql " << VIDORADB_VERSION_STRING << " on " << database
                << ". Statements end with \";\"; .help lists the commands.\n";
      const std::string history = HistoryPath();
      using_history();
      if (!history.empty()) read_history(history.c_str());
      for (;;) {
        char* raw = readline(shell.Pending() ? "   ...> " : "vdbsql> ");
        if (raw == nullptr) {
          std::cout << "\n";
          break;
        }
        const std::string line = raw;
        std::free(raw);
        if (line.find_first_not_of(" \t") != std::string::npos) add_history(line.c_str());
        if (!shell.RunLine(line)) break;
      }
      shell.Finish();
      if (!history.empty()) write_history(history.c_str());
    } else {
      std::string line;
      bool go = true;
      while (go && std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        go = shell.RunLine(line);
      }
      if (go) shell.Finish();
    }
    std::cout.flush();
    return shell.Failed() ? 1 : 0;
  } catch (const EClientError& e) {
    std::cerr << "vdbsql: " << e.what() << "\n";
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "vdbsql: " << e.what() << "\n";
    return 2;
  }
}
