// The shell proper: input split into VidoraSQL statements (ended by ";") and dot-commands,
// each run on the session and its result written in the chosen output mode. Errors go to the
// error stream with the place they refer to; the shell remembers that one failed, so that the
// program can end with a non-zero status.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "Client.h"

namespace vdbsql {

enum class TOutputMode { Column, Csv, Json, Line };

// A statement cut out of the input, with the place (1-based line and column) where it begins.
struct TPiece {
  std::string Text;
  std::size_t Line = 1;
  std::size_t Col = 1;
};

// Splits input text into statements at the semicolons outside quotes, brackets and comments.
// Text after the last semicolon stays in `rest` (an unfinished statement).
class TStatementSplitter {
 public:
  // Feeds one line (without its line end); complete statements are appended to out.
  void Feed(const std::string& line, std::vector<TPiece>& out);
  // Whether a statement has begun and not ended.
  bool Pending() const;
  // The unfinished statement (at the end of the input it is run as it is).
  TPiece TakeRest();

 private:
  enum TState { sNormal, sSingle, sDouble, sBracket, sBlockComment };
  TState FState = sNormal;
  TPiece FCurrent;
  bool FStarted = false;
  std::size_t FLine = 0;
};

// Whether a piece holds nothing but blanks and comments.
bool IsBlank(const std::string& text);

class TShell {
 public:
  TShell(TSession& session, std::ostream& out, std::ostream& err);

  // Runs one line of input (a dot-command when no statement is pending, else statement text).
  // Returns false after .quit.
  bool RunLine(const std::string& line);
  // Runs what is left of an unfinished statement at the end of the input.
  void Finish();
  // Whether any statement or command failed.
  bool Failed() const noexcept { return FFailed; }
  bool Pending() const { return FSplitter.Pending(); }
  // Names the input for error messages ("" for none).
  void SetInputName(std::string name) { FInputName = std::move(name); }

  void SetMode(TOutputMode mode) { FMode = mode; }
  void SetHeaders(bool on) { FHeaders = on; }
  void SetTimer(bool on) { FTimer = on; }

  static bool ParseMode(const std::string& text, TOutputMode& mode);

 private:
  void RunStatement(const TPiece& piece);
  bool RunCommand(const std::string& line);
  void Print(TCursor& rows);
  void Error(const std::string& message);
  void ShowSchema(const std::string& table);
  void ShowIndexes(const std::string& table);
  void Import(const std::string& file, const std::string& table, const std::string& collation);
  void Export(const std::string& table, const std::string& file);

  TSession& FSession;
  std::ostream& FOut;
  std::ostream& FErr;
  TStatementSplitter FSplitter;
  TOutputMode FMode = TOutputMode::Column;
  bool FHeaders = true;
  bool FTimer = false;
  bool FFailed = false;
  std::string FInputName;
};

// The text of .help.
const char* HelpText();

}  // namespace vdbsql
