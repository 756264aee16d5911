// The shell's side of the VidoraDB call interface: a session on one database, table cursors
// whose record images are read and written as texts, column by column, and statements. Only
// the public header is used, as any program outside the engine would use it.
//
// Values cross as UTF-8 texts (std::nullopt for a null): numbers in plain decimal notation,
// dates as YYYY-MM-DD, times as HH:MM:SS[.mmm], time stamps as both joined by a blank,
// booleans as true/false, enumerations by their item names, GUIDs braced, binary values and
// blobs in hexadecimal. 8-bit texts are converted from and to the column's code page, which
// follows the language of the column's collation.
//
// Failures raise EClientError carrying the engine's message (and, for a syntax error, the row
// and column inside the statement). Single-threaded.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "Text.h"

namespace vdbsql {

class EClientError : public std::runtime_error {
 public:
  EClientError(const std::string& message, std::int32_t row = 0, std::int32_t col = 0)
      : std::runtime_error(message), Row(row), Col(col) {}
  std::int32_t Row;
  std::int32_t Col;
};

// How a value of a column is written out: numbers right-aligned and unquoted in JSON.
enum class TValueKind { Text, Number, Boolean, Binary };

struct TColumn {
  std::int16_t No = 0;
  std::string Name;
  std::int16_t Type = 0;
  std::uint8_t Options = 0;
  std::uint16_t Position = 0;
  std::uint16_t Size = 0;
  std::int32_t Param = 0;
  std::u16string SelectOrLink;  // enumeration items, collation, ...
  std::int16_t Level = 6;
  const TCodePage* CodePage = nullptr;

  TValueKind Kind() const noexcept;
  bool HasNullByte() const noexcept;
  bool Nullable() const noexcept;
  bool IsMemoOrBlob() const noexcept;
  // "STRING(30)", "INTEGER", ... as the shell shows it.
  std::string TypeText() const;
};

using TValue = std::optional<std::string>;

class TSession;

// A cursor on a relation (or on a statement's result), in natural order.
class TCursor {
 public:
  TCursor(TSession& session, std::int16_t tableHdl);
  ~TCursor();
  TCursor(const TCursor&) = delete;
  TCursor& operator=(const TCursor&) = delete;

  const std::vector<TColumn>& Columns() const noexcept { return FColumns; }
  bool First();
  bool Next();
  // Value of column i (0-based) of the current record.
  TValue Value(std::size_t i);

  // Appends one record with the given values (a value per column; std::nullopt for null).
  // Raises EClientError with the column's 1-based index in Col when a value is refused.
  void Append(const std::vector<TValue>& values);

  // Checks that a text would be accepted by column i and returns the refusal, or "".
  std::string Check(std::size_t i, const TValue& value) const;
  std::int16_t Handle() const noexcept { return FTable; }

 private:
  // Writes value into the image; memo and blob contents are collected in blobs.
  std::string Encode(std::size_t i, const TValue& value, std::vector<std::uint8_t>* image,
                     std::vector<std::pair<std::int16_t, std::string>>* blobs) const;
  TSession& FSession;
  std::int16_t FTable;
  std::vector<TColumn> FColumns;
  std::vector<std::uint8_t> FImage;
};

struct TStatementResult {
  std::unique_ptr<TCursor> Rows;  // null for statements without a result
  std::int32_t Count = 0;         // the statement's result (rows affected)
};

// Information about one table, as .schema shows it.
struct TTableSchema {
  std::string Name;
  std::int16_t Level = 0;
  std::string Collation;
  std::string Encryption;
  std::vector<TColumn> Columns;
  struct TIndex {
    std::string Name;
    std::string Description;
  };
  std::vector<TIndex> Indexes;
  std::int32_t Records = 0;
};

class TSession {
 public:
  // Opens the database directory. Raises EClientError when it cannot be opened.
  TSession(const std::string& location, bool readOnly);
  ~TSession();
  TSession(const TSession&) = delete;
  TSession& operator=(const TSession&) = delete;

  std::int16_t Handle() const noexcept { return FSession; }

  // The key given to enciphered and protected tables; asked for interactively by ask when a
  // table refuses it (ask may be empty: then the opening fails).
  void SetPassword(const std::string& key) { FKey = Utf8ToUtf16(key); FKeyTried = false; }
  void SetPasswordPrompt(std::function<std::optional<std::string>(const std::string& table)> ask) {
    FAsk = std::move(ask);
  }

  std::vector<std::string> TableNames();
  bool TableExists(const std::string& name);
  TTableSchema Schema(const std::string& table);
  std::int32_t Count(const std::string& table);
  // The engine's check of a table: its findings (none for a sound table). Raises
  // EClientError when the engine cannot check tables.
  std::vector<std::string> CheckTable(const std::string& table);
  // Asks the user through the prompt given to SetPasswordPrompt; std::nullopt without one.
  std::optional<std::string> AskPassword(const std::string& what) {
    return FAsk ? FAsk(what) : std::nullopt;
  }

  // A cursor on a table of the database (writable when write is set).
  std::unique_ptr<TCursor> OpenCursor(const std::string& table, bool write);
  // The code page object of a code page number the engine reported (kept for the session's life).
  const TCodePage& CodePage(int number);

  // Creates a table of level 6 with the given columns (Name, Type, Param and Options read).
  void CreateTable(const std::string& name, const std::vector<TColumn>& columns, const std::string& collation);
  void DropTable(const std::string& name);

  // Runs one statement.
  TStatementResult Execute(const std::string& sql);

  void Begin();
  void Commit();
  void Rollback();

  // The engine's message for a failed call that returned status.
  std::string Message(std::int32_t status) const;
  // Raises EClientError with the message when status is negative.
  void Check(std::int32_t status, const std::string& what = {}) const;

 private:
  friend class TCursor;
  static std::int32_t PasswordCallback(std::int16_t sessHdl, const std::uint16_t* tableName, std::uint16_t* key,
                                       std::int32_t keyMaxLen);
  std::int16_t OpenRelation(const std::string& table, std::uint16_t rights, bool& opened);
  std::int16_t FSession = 0;
  std::u16string FKey;
  bool FKeyTried = false;
  std::function<std::optional<std::string>(const std::string&)> FAsk;
  std::map<int, std::unique_ptr<TCodePage>> FCodePages;
};

}  // namespace vdbsql
