// The engine message table and the call-interface status table, and the copying of their
// texts into caller buffers. The texts are the engine's own, word for word (spelling
// included): callers and their tests compare them.
#include "base/VdbMessages.h"

#include <algorithm>
#include <array>

#include "base/VdbErrorCodes.h"

namespace vdb {

namespace {

// Indexed by engine error number - 1. An empty text marks a number without an entry.
constexpr std::array<std::u16string_view, kLastEngineErrorCode> kEngineMessages = {
    /*   1 */ u"Cannot open file \"%s\"",
    /*   2 */ u"Error while reading from file \"%s\"",
    /*   3 */ u"Error while writing to file \"%s\"",
    /*   4 */ u"Cannot insert into index \"%s\"",
    /*   5 */ u"Cannot delete from index \"%s\"",
    /*   6 */ u"No suitable index found for \"%s\"",
    /*   7 */ u"The search-condition is invalid: %s",
    /*   8 */ u"Import error",
    /*   9 */ u"Error in output format",
    /*  10 */ u"Error while closing file \"%s\"",
    /*  11 */ u"Index data too large: %s",
    /*  12 */ u"Error while opening index \"%s\"",
    /*  13 */ u"Index \"%s\" does not match table",
    /*  14 */ u"\"%s\" is not a data field",
    /*  15 */ u"",
    /*  16 */ u"Cannot link tables in different databases",
    /*  17 */ u"",
    /*  18 */ u"Invalid text file handle",
    /*  19 */ u"Record not found",
    /*  20 */ u"Module \"%s\" not found. (If this is a call to ExcecMacro, please replace it "
              u"with a direct call, since ExecMacro is not recommended. Read the online-help on "
              u"ExecMacro)",
    /*  21 */ u"",
    /*  22 */ u"Index file \"%s\" already exists",
    /*  23 */ u"Index \"%s\" already open",
    /*  24 */ u"",
    /*  25 */ u"Syntax error in expression \"%s\"",
    /*  26 */ u"Invalid file name",
    /*  27 */ u"",
    /*  28 */ u"Inconsistent definition for index \"%s\"",
    /*  29 */ u"Wrong program file version",
    /*  30 */ u"Records must be unique with respect to \"%s\"",
    /*  31 */ u"Cannot open memo file \"%s\"",
    /*  32 */ u"Memo and blob fields not allowed",
    /*  33 */ u"Error while writing to memo file",
    /*  34 */ u"Permission to perform this operation not granted",
    /*  35 */ u"A table named \"%s\" is already open",
    /*  36 */ u"Index \"%s\" was not found or is invalid",
    /*  37 */ u"File not found or access denied: \"%s\"",
    /*  38 */ u"The supplied user credentials are invalid",
    /*  39 */ u"",
    /*  40 */ u"",
    /*  41 */ u"Expression not complete",
    /*  42 */ u"Operator not allowed for operand: %s",
    /*  43 */ u"The value is outside the allowed range: \"%s\"",
    /*  44 */ u"Type mismatch: %s",
    /*  45 */ u"The character \"%s\" is not allowed here",
    /*  46 */ u"\"%s\" is not a valid number",
    /*  47 */ u"\"%s\" does not accept NULL values",
    /*  48 */ u"Logical operand missing",
    /*  49 */ u"Parameter \"%s\" has an invalid value",
    /*  50 */ u"Unknown identifier \"%s\"",
    /*  51 */ u"Array variable expected",
    /*  52 */ u"Unknown error: %s",
    /*  53 */ u"Too many variables",
    /*  54 */ u"'=' missing",
    /*  55 */ u"Number expected",
    /*  56 */ u"\"%s\" expected but \"%s\" found",
    /*  57 */ u"The number of columns given does not fit",
    /*  58 */ u"\"%s\" is not a valid table or index name. (These identifiers must be valid "
              u"file names without extension.)",
    /*  59 */ u"Number of columns exceeds 1000 or total record size larger than 32 KB",
    /*  60 */ u"The expression is too long or contains too many nested levels",
    /*  61 */ u"Hierarchical index has too many levels (maximum is 10 for table level 1-4 and "
              u"256 from table level 5 on)",
    /*  62 */ u"",
    /*  63 */ u"",
    /*  64 */ u"Table \"%s\" has no record id column",
    /*  65 */ u"Table not found for L(NAME) or R(NAME)",
    /*  66 */ u"Right for restructuring the table \"%s\" is missing",
    /*  67 */ u"Number of indexes per table exceeds the maximum",
    /*  68 */ u"Selection is empty",
    /*  69 */ u"Missing formula",
    /*  70 */ u"Invalid range constraint",
    /*  71 */ u"Duplicate identifier \"%s\"",
    /*  72 */ u"File or directory \"%s\" already exists",
    /*  73 */ u"Table may have up to 9 indexed link fields",
    /*  74 */ u"Up to 15 digits allowed",
    /*  75 */ u"Expressions and statements must must not exceed 255 characters",
    /*  76 */ u"More than one auto increment field",
    /*  77 */ u"Not enough place holders",
    /*  78 */ u"Too many place holders",
    /*  79 */ u"Not enough space on page",
    /*  80 */ u"More than one standard indexes",
    /*  81 */ u"Value %s of type %s exceeds the allowed range from %s to %s",
    /*  82 */ u"The command \"%s\" must not be used here",
    /*  83 */ u"Data field not found: %s",
    /*  84 */ u"No standard index defined",
    /*  85 */ u"Definition missing",
    /*  86 */ u"Report bands have to follow the sequence prologue, header, footer, group, data, "
              u"epilogue and the module type (report, letter, class) must be found in the first "
              u"line",
    /*  87 */ u"Invalid access",
    /*  88 */ u"Table \"%s\" not found",
    /*  89 */ u"Variable expected",
    /*  90 */ u"Error while writing to index",
    /*  91 */ u"Error while reading from index \"%s\"",
    /*  92 */ u"End of subreport not found",
    /*  93 */ u"Keyword not allowed in current area",
    /*  94 */ u"Cannot open more than 255 tables per session",
    /*  95 */ u"Index \"%s\" is corrupt and must be deleted",
    /*  96 */ u"",
    /*  97 */ u"The block \"%s\" is not terminated correctly",
    /*  98 */ u"Invalid index specification \"%s\"",
    /*  99 */ u"Not enough memory",
    /* 100 */ u"",
    /* 101 */ u"Local procedures not permitted",
    /* 102 */ u"\"endproc\" expected",
    /* 103 */ u"Table \"%s\" is still in use by this or another application",
    /* 104 */ u"Table is locked by another session",
    /* 105 */ u"Record is being edited by another user",
    /* 106 */ u"Error in login",
    /* 107 */ u"Invalid connection id",
    /* 108 */ u"Timeout",
    /* 109 */ u"Unknown network error",
    /* 110 */ u"Locking error",
    /* 111 */ u"Cannot open blob storage of table \"%s\"",
    /* 112 */ u"Memo storage of tables \"%s\" is damaged. Try to repair the table",
    /* 113 */ u"Blob storage of table \"%s\" is damaged. Try to repair the table",
    /* 114 */ u"Operation canceled",
    /* 115 */ u"No write access to file \"%s\"",
    /* 116 */ u"Index is in use",
    /* 117 */ u"\"%s\" uses a feature that is not supported by tables of this level: %s",
    /* 118 */ u"The external procedure \"%s\" has either thrown an exception or the dllproc "
              u"declaration is incorrect",
    /* 119 */ u"External procedure not found: %s",
    /* 120 */ u"Cannot inititialize ODBC",
    /* 121 */ u"Cannot open ODBC data source",
    /* 122 */ u"Error in SQL query",
    /* 123 */ u"Exception: %s",
    /* 124 */ u"Old version of table file. Please repair/upgrade with a current version of "
              u"VidoraDB Viewer and try again",
    /* 125 */ u"Cannot assign to constant",
    /* 126 */ u"This procedures needs an object, for which it can be executed",
    /* 127 */ u"Array to large (up to 16 MB allowed)",
    /* 128 */ u"Full-text search condition contains an error",
    /* 129 */ u"The version of the dBase file is unknown",
    /* 130 */ u"The file is in use by another user",
    /* 131 */ u"",
    /* 132 */ u"Unknown class \"%s\"",
    /* 133 */ u"Invalid object reference",
    /* 134 */ u"Table is of an unknown version (level > 6) or table file header is corrupt",
    /* 135 */ u"%s",
    /* 136 */ u"\"%s\" is not a method or property of class \"%s\"",
    /* 137 */ u"\"%s\" is not a valid date",
    /* 138 */ u"Collation \"%s\" does not exist",
    /* 139 */ u"The argument of an aggregate must be a numeric expression",
    /* 140 */ u"\"%s\" is not a valid time",
    /* 141 */ u"Permission denied to create file \"%s\"",
    /* 142 */ u"Permission denied to read file %s",
    /* 143 */ u"Field size of field \"%s\" is zero",
    /* 144 */ u"Type of column, parameter or variable \"%s\" is not known",
    /* 145 */ u"Indication for AutoInc field \"%s\" undefined",
    /* 146 */ u"The join \"%s\" contains an incompatible field pair",
    /* 147 */ u"All tables within one session must use the same language driver",
    /* 148 */ u"",
    /* 149 */ u"Permission denied to create an index",
    /* 150 */ u"The value list contains more items the the column list",
    /* 151 */ u"Equate join has exactly one table on each side of the =",
    /* 152 */ u"DBase III files unable to hold this data structure",
    /* 153 */ u"External table error: %s",
    /* 154 */ u"Relation table for \"%s\" could not be opened",
    /* 155 */ u"At least one file could not be deleted (\"%s\")",
    /* 156 */ u"Memo/blob storage of table \"%s\" exceeds maximum size",
    /* 157 */ u"AutoInc field must not be modified",
    /* 158 */ u"\"%s\" is not a valid timestamp",
    /* 159 */ u"LanguageDriver \"%s\" not supported by operating system",
    /* 160 */ u"Write permission for table %s is missing",
    /* 161 */ u"The expression does not evaluate to a value",
    /* 162 */ u"The data field \"%s\" is not of the required type",
    /* 163 */ u"",
    /* 164 */ u"\"%s\" is not a known type for variables and parameters",
    /* 165 */ u"Error in OLE function call: %s",
    /* 166 */ u"Module uses indirectly itself",
    /* 167 */ u"The record violates a constraint: \"%s\"",
    /* 168 */ u"Blob field expected",
    /* 169 */ u"Memo field expected",
    /* 170 */ u"There are locks on table \"%s\"",
    /* 171 */ u"The maximimum capacity for \"%s\" is reached",
    /* 172 */ u"The GROUP BY clause must list all aggregated SELECT elements but no "
              u"non-aggregated SELECT element. \"%s\" does not satisfy this rule",
    /* 173 */ u"\"%s\" is not a valid identifier (maximum length is 40 and column names for "
              u"level 3 and below may not contain spaces or other special characters)",
    /* 174 */ u"The identifier \"%s\" is ambigous. Please prefix field names by the table and "
              u"add a dollar sign ($) to differentiate between fields and variables or "
              u"procedures",
    /* 175 */ u"The table \"%s\" is still accessed by this session",
    /* 176 */ u"\"%s\" is not a valid index name. Index names must be valid VidoraDB "
              u"identifiers and must not start with \"sys\" or \"tmpIdx\"",
    /* 177 */ u"Not enough arguments given for procedure call",
    /* 178 */ u"Division by zero",
    /* 179 */ u"No row could be found in the parent table for integrity rule \"%s\"",
    /* 180 */ u"The operation violates integrity rule \"%s\"",
    /* 181 */ u"The record ist not in edit mode (call NewRec or ModfiyRec)",
    /* 182 */ u"The cursor is not positioned on a valid record",
    /* 183 */ u"There is already a transaction running",
    /* 184 */ u"Parent table \"%s\" could not be found or opened",
    /* 185 */ u"The locking file \"%s\" is either invalid or is not compatible with this "
              u"application. Delete it and try again",
    /* 186 */ u"The password is invalid (too short, too long or misses the numeric code part "
              u"for classic encryption)",
    /* 187 */ u"This feature is not supported: %s",
    /* 188 */ u"Items in the ORDER BY clause must refer to the columns of the result table",
    /* 189 */ u"String type has a length of %d, which is outside the allowed range of %d to %d",
    /* 190 */ u"Ungültige Relationstabelle",
};

// Searched from the top; the first entry is the fallback text.
constexpr std::array<TVdbStatusText, 67> kStatusTexts = {{
    {1, u"Unknown error"},
    {0, u"No error"},
    {-1, u"Cannot open table"},
    {-2, u"Out of memory"},
    {-3, u"Cannot open module"},
    {-5, u"Record is invalid"},
    {-7, u"Invalid expression"},
    {-10, u"Unknown table column"},
    {-11, u"The record does not exist"},
    {-12, u"Wrong password"},
    {-14, u"Could not create table"},
    {-15, u"Invalid access"},
    {-16, u"The index does not exist"},
    {-17, u"Invalid relation handle"},
    {-18, u"Invalid index definition"},
    {-19, u"Function can not be called in this context"},
    {-20, u"Cannot delete record"},
    {-21, u"Restructuring of table failed"},
    {-22, u"Relation does not have a record id column"},
    {-23, u"Column has not the correct data type"},
    {-25, u"Could not write record to table"},
    {-26, u"Record violates unique constraint"},
    {-27, u"The index is still in use"},
    {-30, u"The database table is read-only"},
    {-31, u"Table access not possible at this time"},
    {-32, u"Index is not available"},
    {-33, u"Record is null"},
    {-38, u"Record is unchanged"},
    {-40, u"The procedure does not exist"},
    {-41, u"The module does not exist"},
    {-42, u"The procedure already exists"},
    {-43, u"The identifier is not a valid VidoraDB identifier"},
    {-44, u"Search-condition is invalid"},
    {-45, u"The relation is already open"},
    {-46, u"Error while executing SQL command"},
    {-47, u"The database table is locked"},
    {-48, u"Cannot delete index"},
    {-49, u"Could not close relation"},
    {-50, u"Invalid equate join"},
    {-51, u"Could not delete table"},
    {-52, u"Relation table (*.rel) not found"},
    {-53, u"Could not create session"},
    {-54, u"File already exists, directory not found or no write access"},
    {-55, u"There is already a blob/memo transfer active"},
    {-56, u"There is no active blob/memo transfer"},
    {-57, u"Record is not in edit mode"},
    {-58, u"Database not found"},
    {-59, u"The SQL command has an error at row %d, column %d"},
    {-60, u"Cannot execute SQL command"},
    {-61, u"Compiler error"},
    {-62, u"Error while executing program"},
    {-63, u"Cannot begin or end the transaction"},
    {-64, u"SQL command could not be prepared"},
    {-100, u"Error in VidoraDB Engine"},
    {-101, u"The table handle is invalid"},
    {-102, u"An error occured in the database engine. Please save your work and re-start the "
          u"application"},
    {-103, u"The passed buffer is too small for the data."},
    {-104, u"The statement handle is invalid"},
    {-105, u"The session handle is invalid"},
    {-106, u"A timeout occured during the server communication. Check whether the server is "
          u"available and the timeout setting is correct"},
    {-107, u"This function is not supported by the remote server"},
    {-108, u"A communication error with the remote server has been detected"},
    {-201, u"Error while reading from table"},
    {-202, u"The program versions of VidoraDB server and client are not compatible"},
    {-203, u"Unspecified error"},
    {-204, u"Export failed"},
    {-205, u"Import failed"},
}};

static_assert(kStatusTexts[0].Status == stsUnknownError, "the fallback text comes first");

constexpr std::u16string_view kInternalUnwindText =
    u"Non-critical internal exception of VidoraDB Engine. It is not visible outside a "
    u"debugger and can be ignored there";

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }

}  // namespace

std::u16string_view EngineMessageText(std::int32_t code) noexcept {
  if (!IsEngineErrorCode(code)) return {};
  return kEngineMessages[static_cast<std::size_t>(code - 1)];
}

bool IsEngineErrorCode(std::int32_t code) noexcept {
  return code >= kFirstEngineErrorCode && code <= kLastEngineErrorCode;
}

std::optional<std::u16string> FormatEngineMessage(std::int32_t code, const TVdbFmtArgs& args) {
  return VdbFormat(EngineMessageText(code), args);
}

std::u16string_view InternalUnwindText() noexcept { return kInternalUnwindText; }

std::span<const TVdbStatusText> StatusTable() noexcept { return kStatusTexts; }

std::u16string_view StatusText(std::int32_t status) noexcept {
  for (const TVdbStatusText& entry : kStatusTexts) {
    if (entry.Status == status) return entry.Text;
  }
  return kStatusTexts[0].Text;
}

std::int32_t CopyToCallerBuffer(std::u16string_view text, std::uint16_t* buffer,
                                std::int32_t capacity) noexcept {
  if (buffer == nullptr || capacity <= 0) return 0;
  std::size_t n = std::min(text.size(), static_cast<std::size_t>(capacity - 1));
  if (n < text.size() && n > 0 && IsHighSurrogate(text[n - 1])) --n;
  for (std::size_t i = 0; i < n; ++i) buffer[i] = text[i];
  buffer[n] = 0;
  return static_cast<std::int32_t>(n);
}

}  // namespace vdb
