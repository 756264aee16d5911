/* VidoraDB call interface: flat C functions over integer handles.

   Results. Every function returns a signed status: 0 is success, a positive value is a result
   (a handle, a count, a record number, a length), a negative value is a failure code of the
   status table below. Functions that hand out a 32-bit count, number or length return
   int32_t and use the same negative codes; all others return TVdbResult (16-bit). When a
   failure comes from inside the engine, the engine error (number and text) is also recorded
   in the session and can be read with VdbSessGetLastError; the status text comes from
   VdbGetErrorMsg. No function lets an exception or a signal of its own escape to the caller.

   Handle families (16-bit signed integers; the tables behind them are process-wide):
   - session    (SessHdl)  1..100, from VdbCreateSession;               invalid: -105
   - relation   (RltnHdl)  (SessHdl - 1) * 256 + slot, slot 1..254,
                           handed out by VdbSessOpenTable and friends;  invalid: -17
   - table      (TableHdl) 1..255, a cursor from VdbTableCreate or
                           VdbStmtCreateResultTableHdl;                 invalid: -101
   - statement  (StmtHdl)  1..255, from VdbSessCreateStatement;         invalid: -104
   Handle 0, negative handles, freed handles and handles of 256 and above (table and
   statement handles of remote sessions, which this engine does not serve) give the family's
   invalid-handle code and change nothing. Freed handles are reused, lowest number first, so
   a stale handle may later name another object. Different handles may be used from
   different threads at the same time, also two cursors of one relation: the calls of one
   session take turns. A table handle used by a second thread while a call of another
   thread on it runs is refused with -19 (nothing changes); a statement handle must not be
   used from two threads at the same time.

   Durability. A write call outside a transaction (VdbTableAppendConfirm,
   VdbTableEditConfirm, VdbTableDeleteRecord, ...) is atomic and durable as if it were its
   own transaction, and VdbSessEndTransaction's commit is atomic and durable:
   - default flush mode: every change is handed to the operating system before the call
     returns, so a process killed at any moment loses nothing that was confirmed, and the
     next opening of the table undoes a change that was in flight;
   - secure flush mode (VDB_OPEN_DEEP_FLUSH, VDB_RIGHT_DEEP_FLUSH): the change is also on
     the device (data, index, memo and blob files, the redo log first, and the directory
     where a file was created or deleted), so a power loss loses nothing confirmed either.
   Keeping a table lock a little after the call (the delayed unlock) never keeps data back.
   A write error (full disk, file size limit, I/O error) fails the call that caused it with
   its code (-25 for a record write) and the change is undone; one found later (the release
   of a lock after the call, closing) is returned by the next call on that table and by the
   closing call, never dropped.

   Damaged files. Every walk over index pages, memo/blob chains and record keys is bounded
   by what the file can hold: a cycle, a key that does not match its record or a count
   beyond the file gives the damaged-file error (engine errors 95, 112, 134 ...) instead of
   a call that does not end.

   Text. All strings are null-terminated UTF-16 (VdbChar, compatible with char16_t). A null
   pointer where a text is expected counts as an empty text.

   Text buffers. A function that hands out a text receives the caller's buffer and its
   capacity MaxLen (or TextLen) in VdbChar units, the terminating NUL included: it writes at
   most MaxLen - 1 characters and a NUL, cutting a longer text (never between the halves of a
   surrogate pair). MaxLen 0 or less, or a null buffer, writes nothing.

   Record buffers. VdbTableGetRecord, VdbTableSetRecord, VdbTableSetRange and
   VdbTableLocateRec2 take images of the relation's record: VdbTableGetRecordSize bytes, the
   fields in column order as they are stored. A buffer smaller than the record is refused
   with -103 and is neither read nor written beyond its size. A null pointer where a record
   or buffer is to be filled or read is refused with -103 as well.

   Callbacks are called on the thread that made the engine call. They must return normally;
   the engine treats them as foreign code and never lets them unwind through it. */
#ifndef VIDORADB_VDBAPI_H
#define VIDORADB_VDBAPI_H

/* Version of the call interface. Programs built against major version 2 run with any
   libvidoradb.so.2 of the same or a later minor version. */
#define VIDORADB_VERSION_MAJOR 2
#define VIDORADB_VERSION_MINOR 0
#define VIDORADB_VERSION_PATCH 0
#define VIDORADB_VERSION_STRING "2.0.0"
/* One number for comparisons: major * 10000 + minor * 100 + patch. */
#define VIDORADB_VERSION_NUMBER \
  (VIDORADB_VERSION_MAJOR * 10000 + VIDORADB_VERSION_MINOR * 100 + VIDORADB_VERSION_PATCH)

#include <stdbool.h>
#include <stdint.h>

#if defined(VDBAPI_BUILD)
#define VDBAPI __attribute__((visibility("default")))
#else
#define VDBAPI
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef int16_t TVdbResult;
typedef uint16_t VdbChar; /* one UTF-16 code unit */

/* ---- Call-interface statuses (the texts are those of VdbGetErrorMsg) */
#define VDB_OK 0
#define VDB_ERR_CANNOT_OPEN_TABLE (-1)
#define VDB_ERR_OUT_OF_MEMORY (-2)          /* also: no free table, statement or relation slot */
#define VDB_ERR_UNKNOWN_COLUMN (-10)
#define VDB_ERR_NO_RECORD (-11)
#define VDB_ERR_WRONG_PASSWORD (-12)
#define VDB_ERR_CREATE_TABLE (-14)
#define VDB_ERR_INVALID_ACCESS (-15)
#define VDB_ERR_NO_INDEX (-16)
#define VDB_ERR_INVALID_RLTN_HANDLE (-17)
#define VDB_ERR_INVALID_INDEX_DEF (-18)
#define VDB_ERR_NOT_SUPPORTED (-19)         /* "Function can not be called in this context" */
#define VDB_ERR_DELETE_RECORD (-20)
#define VDB_ERR_RESTRUCTURE (-21)
#define VDB_ERR_NO_RECORD_ID_COLUMN (-22)
#define VDB_ERR_WRONG_COLUMN_TYPE (-23)
#define VDB_ERR_WRITE_RECORD (-25)
#define VDB_ERR_NOT_UNIQUE (-26)
#define VDB_ERR_INDEX_IN_USE (-27)
#define VDB_ERR_READ_ONLY (-30)
#define VDB_ERR_TABLE_BUSY (-31)
#define VDB_ERR_INVALID_CONDITION (-44)
#define VDB_ERR_TABLE_LOCKED (-47)
#define VDB_ERR_DELETE_INDEX (-48)
#define VDB_ERR_CLOSE_RELATION (-49)
#define VDB_ERR_DELETE_TABLE (-51)
#define VDB_ERR_CREATE_SESSION (-53)
#define VDB_ERR_BLOB_ACTIVE (-55)
#define VDB_ERR_NO_BLOB_TRANSFER (-56)
#define VDB_ERR_NOT_IN_EDIT_MODE (-57)
#define VDB_ERR_CREATE_FILE (-54)
#define VDB_ERR_DATABASE_NOT_FOUND (-58)
#define VDB_ERR_SQL_SYNTAX (-59)
#define VDB_ERR_SQL_EXECUTE (-60)
#define VDB_ERR_TRANSACTION (-63)
#define VDB_ERR_NOT_PREPARED (-64)          /* "SQL command could not be prepared" */
#define VDB_ERR_ENGINE (-100)
#define VDB_ERR_INVALID_TABLE_HANDLE (-101)
#define VDB_ERR_INTERNAL (-102)
#define VDB_ERR_BUFFER_TOO_SMALL (-103)
#define VDB_ERR_INVALID_STMT_HANDLE (-104)
#define VDB_ERR_INVALID_SESSION_HANDLE (-105)
#define VDB_ERR_READ_TABLE (-201)

/* Functions of the subsystems this engine leaves out (full-text indexes, master/detail
   links and link or relation columns, restructuring, export, deleting a database, renaming
   tables, database backup and compression, syntax-colouring tokens) check
   their handle and then answer VDB_ERR_NOT_SUPPORTED (-19) with engine error 187 ("This
   feature is not supported: %s", naming the function) recorded in the session. Functions
   that need a condition compiled from text (VdbTableLocateRec3, VdbTableReplace,
   VdbTableCheckReplacement, non-blank filter texts) answer VDB_ERR_INVALID_CONDITION (-44)
   with the same engine error recorded, until conditions can be compiled. */

/* ---- Sizes of the character arrays of the records, terminator included */
#define VDB_NAME_CHARS 41
#define VDB_LONG_NAME_CHARS 45
#define VDB_TEXT_CHARS 256
#define VDB_SELECT_CHARS 2001
#define VDB_READONLY_DIRS_CHARS 257
#define VDB_USAGE_STATION_CHARS 256
#define VDB_USAGE_ENTRIES 1000

/* ---- Constants */
#define VDB_ENGINE_VERSION 8102
#define VDB_TABLE_LEVEL 6
#define VDB_ALL_INDEX_ITEMS 256   /* IndexItemCount for all items of a key */

/* VdbSessOpenDb Attributes */
#define VDB_OPEN_READONLY 0x1
#define VDB_OPEN_EXCLUSIVE 0x2
#define VDB_OPEN_DEEP_FLUSH 0x4
#define VDB_OPEN_SHARED_READONLY 0x8

/* Table rights word (VdbSessOpenTable Rights) */
#define VDB_RIGHT_APPEND 0x0001
#define VDB_RIGHT_EDIT 0x0002
#define VDB_RIGHT_DELETE 0x0004
#define VDB_RIGHT_INDEX 0x0008
#define VDB_RIGHTS_WRITE 0x000F
#define VDB_RIGHT_EXCLUSIVE 0x0100
#define VDB_RIGHT_DEEP_FLUSH 0x0200
#define VDB_RIGHT_SHARED_READONLY 0x0400

/* Order names handed out by VdbTableGetAccess */
/* "Nummer": record-number order; "Markierung": order of the marked records. */

/* Column type codes (TVdbFieldSpec.FldType, VdbTableGetDataType) */
#define VDB_TYPE_CHAR 0
#define VDB_TYPE_STRING 1
#define VDB_TYPE_SMALLINT 2
#define VDB_TYPE_FLOAT 3
#define VDB_TYPE_BYTE 4
#define VDB_TYPE_BOOLEAN 5
#define VDB_TYPE_DATE 6
#define VDB_TYPE_MEMO 7
#define VDB_TYPE_ENUM 8
#define VDB_TYPE_RECORDID 9
#define VDB_TYPE_LINK 10
#define VDB_TYPE_BLOB 11
#define VDB_TYPE_RELATION 12
#define VDB_TYPE_TIME 13
#define VDB_TYPE_INTEGER 16
#define VDB_TYPE_TIMESTAMP 17
#define VDB_TYPE_WIDESTRING 18
#define VDB_TYPE_WIDEMEMO 19
#define VDB_TYPE_BIGINT 20
#define VDB_TYPE_GUID 21
#define VDB_TYPE_BINARY 22

/* Encryption methods (TVdbTableInfo.EncryptionMethod, TVdbDatabaseInfo.EncryptionMethod) */
#define VDB_ENC_DEFAULT 0
#define VDB_ENC_NONE 1
#define VDB_ENC_PROTECTION 2
#define VDB_ENC_CLASSIC 3
#define VDB_ENC_FAST 4
#define VDB_ENC_BLOWFISH 5
#define VDB_ENC_RIJNDAEL 6

/* Management levels (TVdbDatabaseInfo.ManagementLevel) */
#define VDB_UNMANAGED 0
#define VDB_MANAGED 1

/* Database kinds (VdbSessCreateDatabase, VdbSessBackupDatabase DbType) */
#define VDB_DB_DIRECTORY 0
#define VDB_DB_SINGLE_FILE 1

/* Isolation levels (VdbSessGetIsolationLevel): none means no transaction. */
#define VDB_ISOLATION_NONE 0
#define VDB_ISOLATION_DIRTY_READ 1
#define VDB_ISOLATION_READ_COMMITTED 2
#define VDB_ISOLATION_REPEATABLE_READ 3

/* VdbTableLock / VdbTableUnlock LockType: 1 read, any other value write. */
#define VDB_LOCK_READ 1
#define VDB_LOCK_WRITE 3

/* VdbTableSetSQLFilter Mode: the kind of filter (low four bits). */
#define VDB_FILTER_STATIC 1
#define VDB_FILTER_REMOVE_FROM_MARKS 3
#define VDB_FILTER_INTERSECT_MARKS 6
#define VDB_FILTER_ADD_TO_MARKS 7
#define VDB_FILTER_INCREMENTAL 15

/* ---- Records (field order and array sizes are part of the interface) */

/* One column of a table. */
typedef struct TVdbFieldSpec {
  int16_t No;                                /* column number, 1-based */
  VdbChar Name[VDB_NAME_CHARS];
  uint8_t Options;                           /* column option bits */
  VdbChar RangeOrFormula[VDB_TEXT_CHARS];    /* range condition or calculation */
  VdbChar SelectOrLink[VDB_SELECT_CHARS];    /* enum values, linked table, id columns or collation */
  int16_t FldType;                           /* column type code, VDB_TYPE_... */
  int32_t Param;                             /* string length, scale or precision */
  uint16_t InternalPosition;                 /* byte offset of the field in the record image */
  uint16_t InternalSize;                     /* byte size of the field */
} TVdbFieldSpec;

typedef struct TVdbTableInfo {
  VdbChar FileName[VDB_TEXT_CHARS];
  int16_t Level;                             /* table level 1..6; 0 asks for the newest */
  VdbChar Language[VDB_NAME_CHARS];          /* collation name; empty: the built-in one */
  int16_t EncryptionMethod;                  /* VDB_ENC_... */
  int32_t Capacity;
} TVdbTableInfo;

typedef struct TVdbKeySpec {
  bool IsPrimaryKey;
  VdbChar Name[VDB_NAME_CHARS];
  VdbChar Fields[VDB_TEXT_CHARS];            /* column list */
} TVdbKeySpec;

typedef struct TVdbCheckSpec {
  int16_t ConstraintType;
  VdbChar Name[VDB_NAME_CHARS];
  VdbChar SearchCondition[VDB_TEXT_CHARS];
} TVdbCheckSpec;

typedef struct TVdbIntegrityRuleSpec {
  VdbChar Name[VDB_NAME_CHARS];
  VdbChar MasterTable[VDB_LONG_NAME_CHARS];
  VdbChar MasterIndexSpec[VDB_TEXT_CHARS];
  VdbChar IndexSpec[VDB_TEXT_CHARS];
  int16_t InsertAction;
  int16_t UpdateAction;
  int16_t DeleteAction;
} TVdbIntegrityRuleSpec;

typedef struct TVdbNetParams {
  VdbChar NetDirs[VDB_TEXT_CHARS];
  VdbChar PrivateDir[VDB_TEXT_CHARS];
  uint32_t StationNo;                        /* 1..0x7FFFFFFE */
  VdbChar StationName[VDB_NAME_CHARS];
  VdbChar ReadOnlyDirs[VDB_READONLY_DIRS_CHARS];
  int32_t ServerTimeout;                     /* milliseconds */
} TVdbNetParams;

typedef struct TVdbDatabaseInfo {
  int16_t ManagementLevel;                   /* VDB_UNMANAGED, VDB_MANAGED */
  int16_t EncryptionMethod;                  /* VDB_ENC_... */
} TVdbDatabaseInfo;

typedef struct TVdbRltnInfo {
  int32_t nRecs;
  uint16_t nFields;
  uint16_t RecSize;
  int32_t FSize;                             /* data file size in bytes (saturated) */
  int32_t TotalSize;                         /* all files of the table (saturated) */
  bool MemoOkay;
  bool BlobOkay;
} TVdbRltnInfo;

typedef struct TVdbIndexInfoBlock {
  VdbChar Name[VDB_LONG_NAME_CHARS];
  uint16_t KeySize;
  uint16_t Order;
  uint16_t Height;
  int64_t Cap;
  int32_t PageSize;
} TVdbIndexInfoBlock;

/* One session of a table's lock file. */
typedef struct TVdbTableUsageEntry {
  char StationName[VDB_USAGE_STATION_CHARS]; /* 8-bit text, null-terminated */
  int32_t StationId;
  bool Active;
  int32_t Lock;                              /* 0 none, 1 read, 2 upgrade, -1 write */
  int32_t Reserved;                          /* always 0 */
  int32_t EditRecNo;
} TVdbTableUsageEntry;

/* Who uses a table. Without a lock file UserCount is 1 and every other count 0. With one,
   UserInfo holds one entry per slot of the lock file (ItemCount of them, at most the first
   VDB_USAGE_ENTRIES); the rest stays zeroed. */
typedef struct TVdbTableUsage {
  int32_t ItemCount;
  int32_t UserCount;
  int32_t ReadCount;
  int32_t UpgradeCount;
  int32_t WriteCount;
  int32_t WaitCount;
  int32_t WaitWriteCount;
  int32_t UpdateCount;
  TVdbTableUsageEntry UserInfo[VDB_USAGE_ENTRIES];
} TVdbTableUsage;

/* ---- Callbacks */

/* Asked when a table of session SessHdl needs a password: write the key (null-terminated,
   at most KeyMaxLen units with the terminator) into Key and return 0 to retry with it, or
   return non-zero to give up. */
typedef int32_t (*TVdbPasswordCallback)(int16_t SessHdl, const VdbChar* TableName, VdbChar* Key,
                                        int32_t KeyMaxLen);

/* Told that record DeletedRecNo of the table behind TableHdl was deleted and that the last
   record MovedRecNo was moved into its number (MovedRecNo 0 when nothing moved). */
typedef void (*TVdbTableChangeProc)(int16_t SessHdl, int16_t TableHdl, int32_t DeletedRecNo,
                                    int32_t MovedRecNo);

/* Progress of a long operation: Done of Total steps. Return 1 to cancel (the operation then
   stops at the next record, records engine error 114 "Operation canceled" and fails), any
   other value to go on. */
typedef int32_t (*TVdbProgressProc)(int32_t Done, int32_t Total);

/* ---- Process */

/* The engine version number, 8102. */
VDBAPI TVdbResult VdbGetVersion(void);
/* The newest table level, 6 (the level of new tables). */
VDBAPI TVdbResult VdbGetTableLevel(void);
/* Copies the text of call-interface status VdbError (for example -100 "Error in VidoraDB
   Engine") into ErrorMsg; a status that is not in the status table gives the text of
   status 1, "Unknown error". Returns 0. */
VDBAPI TVdbResult VdbGetErrorMsg(int32_t VdbError, VdbChar* ErrorMsg, int32_t MaxLen);

/* ---- Sessions and databases */

/* A new local session; its handle (1..100). A location containing '@' names a server and is
   refused with -105 (remote sessions are not served). No free slot: -53. */
VDBAPI TVdbResult VdbCreateSession(const VdbChar* Location);
/* Deletes the session's table and statement handles, closes its database and frees it. */
VDBAPI TVdbResult VdbSessDelete(int16_t SessHdl);
VDBAPI TVdbResult VdbSessCreateDatabase(int16_t SessHdl, int16_t DbType, const VdbChar* DbName,
                                        int16_t ManagementLevel, int16_t SecurityLevel,
                                        const VdbChar* Key);
VDBAPI TVdbResult VdbSessDeleteDatabase(int16_t SessHdl, const VdbChar* DbName, const VdbChar* Key);
/* Opens the database at Location (empty: the working directory). Attributes: VDB_OPEN_...
   0, -58 "Database not found", -53 any other failure. */
VDBAPI TVdbResult VdbSessOpenDb(int16_t SessHdl, const VdbChar* Location, const VdbChar* UserName,
                                const VdbChar* Password, int32_t CacheSize, uint32_t Attributes);
/* Deletes every statement and table handle of the session, then closes the database. */
VDBAPI TVdbResult VdbSessCloseDb(int16_t SessHdl);
/* 1 for a single-file database, else 0. */
VDBAPI TVdbResult VdbSessIsSingleFile(int16_t SessHdl);
VDBAPI TVdbResult VdbSessGetDbInfo(int16_t SessHdl, TVdbDatabaseInfo* DbInfo);
/* NetDirs "AUTO", PrivateDir empty, StationName "Undefined", ReadOnlyDirs empty, StationNo a
   random number 1..0x7FFFFFFE, ServerTimeout 20000. */
VDBAPI TVdbResult VdbSessGetDefaultNetParams(int16_t SessHdl, TVdbNetParams* NetParams);
/* Stores station number and name, read-only and network directories and the private
   directory (created when missing). A StationNo outside 1..0x7FFFFFFE (0 in particular)
   keeps the session's current station id, which is never 0. */
VDBAPI TVdbResult VdbSessSetNetParams(int16_t SessHdl, const TVdbNetParams* NetParams);
VDBAPI TVdbResult VdbSessSetSettings(int16_t SessHdl, bool CaseSensitive, bool CaretSwitch,
                                     bool AutoCreateIndexes, int32_t LockingTimeout);
/* Default index page size and blob block size for tables created later (4096 and 512). */
VDBAPI TVdbResult VdbSessSetSystemSettings(int16_t SessHdl, int32_t IndPageSize,
                                           int32_t BlobBlockSize);
VDBAPI TVdbResult VdbSessSetLogLevel(int16_t SessHdl, int16_t Level);
/* Callback null removes it. */
VDBAPI TVdbResult VdbSessSetPasswordCallback(int16_t SessHdl, TVdbPasswordCallback Callback);
/* VDB_ISOLATION_... */
VDBAPI TVdbResult VdbSessGetIsolationLevel(int16_t SessHdl);
/* *ErrCode := the negated engine error number of the session's last error (0: none);
   ErrMsg := its text. Returns 0. */
VDBAPI TVdbResult VdbSessGetLastError(int16_t SessHdl, int32_t* ErrCode, VdbChar* ErrMsg,
                                      int32_t MaxLen);
/* ErrMsg := the expression or statement the last error refers to; returns the character
   position of the error in it. */
VDBAPI int32_t VdbSessGetLastErrorPos(int16_t SessHdl, VdbChar* ErrMsg, int32_t MaxLen);
/* 0, or -63 "Cannot begin or end the transaction". */
VDBAPI TVdbResult VdbSessBeginTransaction(int16_t SessHdl);
VDBAPI TVdbResult VdbSessEndTransaction(int16_t SessHdl);    /* commit */
VDBAPI TVdbResult VdbSessCancelTransaction(int16_t SessHdl); /* roll back */
VDBAPI TVdbResult VdbSessCompressDatabase(int16_t SessHdl);
VDBAPI TVdbResult VdbSessBackupDatabase(int16_t SessHdl, int16_t DbType, const VdbChar* BackupPath);
/* Syntax-colouring tokens of Text into Tokens (MaxLen bytes). */
VDBAPI int32_t VdbSessTokenize(int16_t SessHdl, const VdbChar* Text, uint8_t* Tokens, int32_t MaxLen);
VDBAPI int32_t VdbSessTokenizeSelection(int16_t SessHdl, const VdbChar* Text, int32_t SelStart,
                                        int32_t SelLength, uint8_t* Tokens, int32_t MaxLen);
/* 1 when any open relation was changed by another station, else 0. */
VDBAPI TVdbResult VdbSessRegisterModifications(int16_t SessHdl);
/* A statement handle (1..255) on the session's catalog; -2 when all are taken. */
VDBAPI TVdbResult VdbSessCreateStatement(int16_t SessHdl);

/* ---- Tables of a session */

/* Opens a table of the database; its relation handle. -2 too many tables open, -12 wrong
   password, -1 other failures (a table already open: engine error 35), -100 exclusive
   opening impossible, -102 unexpected failure. */
VDBAPI TVdbResult VdbSessOpenTable(int16_t SessHdl, const VdbChar* TableName, const VdbChar* Key,
                                   uint16_t Rights, bool WithRelTables, bool Force);
/* Opens a table file outside the database directory; its relation handle. */
VDBAPI TVdbResult VdbSessAddTable(int16_t SessHdl, const VdbChar* TablePath);
VDBAPI TVdbResult VdbSessRemoveTable(int16_t SessHdl, const VdbChar* TableName);
/* The relation handle of an open relation; 0 when none is open by that name. */
VDBAPI TVdbResult VdbSessFindRltnHdl(int16_t SessHdl, const VdbChar* Name);
/* The table names joined by ";"; returns the length of the full list. */
VDBAPI int32_t VdbSessGetTableNames(int16_t SessHdl, VdbChar* TableNames, int32_t MaxLen);
/* 1 when the table exists, else 0. */
VDBAPI TVdbResult VdbSessExistsTable(int16_t SessHdl, const VdbChar* TableName);
/* Creates a table (TableInfo->FileName names it) from FieldCount field specifications
   (No, Name, FldType, Param, Options, RangeOrFormula, SelectOrLink are read), candidate
   keys, checks and foreign keys. 0, or -14 "Could not create table". */
VDBAPI TVdbResult VdbSessCreateTable(int16_t SessHdl, const TVdbTableInfo* TableInfo,
                                     const VdbChar* Password, int32_t FieldCount,
                                     const TVdbFieldSpec* FieldSpecs, int32_t KeyCount,
                                     const TVdbKeySpec* KeySpecs, int32_t CheckCount,
                                     const TVdbCheckSpec* CheckSpecs, int32_t IntegrityRuleCount,
                                     const TVdbIntegrityRuleSpec* IntegrityRuleSpecs);
/* 0, -12 wrong key, -51 other failures. */
VDBAPI TVdbResult VdbSessDeleteTable(int16_t SessHdl, const VdbChar* PathName, const VdbChar* Key);
VDBAPI TVdbResult VdbSessRenameTable(int16_t SessHdl, const VdbChar* OldTableName,
                                     const VdbChar* NewTableName, const VdbChar* Key);
/* Checks the stored table of relation RltnHdl of session SessHdl: index entries against the
   records, each index's own structure, memo and blob chains and free lists. Returns the
   relation handle of a temporary result relation with one column "Finding" (a wide string of
   at most 250 characters), one record per problem found, none when the table is sound; read
   it with a cursor and close it with VdbRltnClose. -17 for a relation of another session or
   one that is not a stored table. */
VDBAPI TVdbResult VdbSessCheckTable(int16_t SessHdl, int16_t RltnHdl);
/* The number of relations closed. */
VDBAPI TVdbResult VdbSessCloseUnneededTables(int16_t SessHdl);

/* ---- Relations */

/* Closes the relation; -51 when the catalog refuses (still in use). */
VDBAPI TVdbResult VdbRltnClose(int16_t RltnHdl);
/* The relation's record count; 0 when it cannot count. */
VDBAPI int32_t VdbRltnRecordCount(int16_t RltnHdl);
VDBAPI TVdbResult VdbRltnGetName(int16_t RltnHdl, VdbChar* Name, int32_t TextLen, bool FullName);
VDBAPI TVdbResult VdbRltnGetTableInfo(int16_t RltnHdl, TVdbTableInfo* TableInfo);
VDBAPI TVdbResult VdbRltnGetInfo(int16_t RltnHdl, TVdbRltnInfo* RltnInfo);
/* All index names joined by ","; returns the length of the full list. */
VDBAPI int32_t VdbRltnGetIndexNames(int16_t RltnHdl, VdbChar* Names, int32_t MaxLen);
/* The index specification of index Name; -16 when there is none. */
VDBAPI TVdbResult VdbRltnGetIndexDesc(int16_t RltnHdl, const VdbChar* Name, VdbChar* Desc,
                                      int32_t MaxLen, bool Readable, bool IncludeLen);
/* The stored name of the index Name (found without regard to case); -16 when none. */
VDBAPI TVdbResult VdbRltnGetRealIndexName(int16_t RltnHdl, const VdbChar* Name, VdbChar* RealName,
                                          int32_t MaxLen);
VDBAPI TVdbResult VdbRltnGetIndexInfo(int16_t RltnHdl, const VdbChar* Name,
                                      TVdbIndexInfoBlock* IndexInfo);
VDBAPI TVdbResult VdbRltnCreateIndex(int16_t RltnHdl, const VdbChar* Name, const VdbChar* Desc,
                                     bool MustBeUnique);
VDBAPI TVdbResult VdbRltnDeleteIndex(int16_t RltnHdl, const VdbChar* Name);
/* Rebuilds the indexes of the relation: IndexName empty or naming an index (-16 when it
   names none; the named index is rebuilt together with the others). ProgFun may be null;
   a cancel records engine error 114 and fails with -100. */
VDBAPI TVdbResult VdbRltnRefreshIndex(int16_t RltnHdl, const VdbChar* IndexName,
                                      TVdbProgressProc ProgFun);
VDBAPI TVdbResult VdbRltnRestructure(int16_t RltnHdl, const TVdbTableInfo* TableInfo,
                                     int32_t FieldCount, const TVdbFieldSpec* FieldSpecs,
                                     int32_t KeyCount, const TVdbKeySpec* KeySpecs,
                                     int32_t CheckCount, const TVdbCheckSpec* CheckSpecs,
                                     int32_t IntegrityRuleCount,
                                     const TVdbIntegrityRuleSpec* IntegrityRuleSpecs,
                                     TVdbProgressProc ProgFun);
VDBAPI TVdbResult VdbRltnGetCheckCount(int16_t RltnHdl);
/* CheckNo 1..count (else -19 with engine error 49 recorded). ConstraintType is 0. */
VDBAPI TVdbResult VdbRltnGetCheckSpec(int16_t RltnHdl, int32_t CheckNo, TVdbCheckSpec* CheckSpec);
VDBAPI TVdbResult VdbRltnGetIntegrityRuleCount(int16_t RltnHdl);
/* RuleNo 1..count (else -19 with engine error 49 recorded). InsertAction is 0; the
   actions are 0 none, 1 set null, 2 set default, 3 cascade. */
VDBAPI TVdbResult VdbRltnGetIntegrityRuleSpec(int16_t RltnHdl, int32_t RuleNo,
                                              TVdbIntegrityRuleSpec* RuleSpec);
VDBAPI TVdbResult VdbRltnGetMasterLink(int16_t RltnHdl, VdbChar* MasterLink, int32_t MaxLen);
/* The relation handle of the parent relation, 0 when there is none. */
VDBAPI TVdbResult VdbRltnGetParentRltn(int16_t RltnHdl);
VDBAPI TVdbResult VdbRltnGetRelationTableName(int16_t RltnHdl, const VdbChar* FieldName,
                                              VdbChar* TableName, int32_t MaxLen);
/* Switches the use of record edit locks. */
VDBAPI TVdbResult VdbRltnActivateEditLocks(int16_t RltnHdl, bool Value);
/* Next record id := highest id + 1. */
VDBAPI TVdbResult VdbRltnRecalcAutoInc(int16_t RltnHdl);
/* Full-text indexes: not supported (see above). */
VDBAPI TVdbResult VdbRltnCreateFullTextIndex(int16_t RltnHdl, const VdbChar* Name,
                                             const VdbChar* Fields);
VDBAPI TVdbResult VdbRltnCreateFullTextIndex2(int16_t RltnHdl, const VdbChar* Name,
                                              const VdbChar* Fields, int32_t Options);
VDBAPI TVdbResult VdbRltnRefreshFullTextIndex(int16_t RltnHdl, const VdbChar* Name,
                                              TVdbProgressProc ProgFun);
VDBAPI TVdbResult VdbRltnDeleteFulltextIndex(int16_t RltnHdl, const VdbChar* Name);
VDBAPI TVdbResult VdbRltnGetFullTextIndexCount(int16_t RltnHdl);
VDBAPI TVdbResult VdbRltnGetFulltextIndexSpec(int16_t RltnHdl, int32_t IndexNo, VdbChar* Spec,
                                              int32_t MaxLen);
VDBAPI int32_t VdbRltnFullTextIndexGetIndexNames(int16_t RltnHdl, VdbChar* Names, int32_t MaxLen);
VDBAPI int32_t VdbRltnFullTextIndexGetRelationNames(int16_t RltnHdl, const VdbChar* Name,
                                                    VdbChar* Names, int32_t MaxLen);

/* ---- Table cursors: life and notifications */

/* A cursor on the relation, tagged Name, opened in natural order on its first record; its
   table handle (1..255). -2 when all 255 are taken, -17 invalid relation handle, -100 when
   the cursor cannot be opened (the engine error recorded; no handle is taken). */
VDBAPI TVdbResult VdbTableCreate(int16_t RltnHdl, const VdbChar* Name);
/* Closes and frees the cursor and its handle. */
VDBAPI TVdbResult VdbTableDelete(int16_t TableHdl);
/* Proc null removes it. */
VDBAPI TVdbResult VdbTableSetChangeProc(int16_t TableHdl, TVdbTableChangeProc Proc);
/* Removes all records of the table (needs a writable cursor). Returns 0. */
VDBAPI TVdbResult VdbTableEmpty(int16_t TableHdl);
VDBAPI TVdbResult VdbTableSetNextRecordId(int16_t TableHdl, int16_t FieldNo, int32_t RecordId);
VDBAPI TVdbResult VdbTableGetUsage(int16_t TableHdl, TVdbTableUsage* TableUsage);
/* LockType 1 read, other write; TimeOut 0 one attempt, else wait. 0, or -47 when refused. */
VDBAPI TVdbResult VdbTableLock(int16_t TableHdl, int16_t LockType, int32_t TimeOut);
VDBAPI TVdbResult VdbTableUnlock(int16_t TableHdl, int16_t LockType);

/* ---- Order */

/* Empty name: natural (record-number) order. -16 unknown index. */
VDBAPI TVdbResult VdbTableSetIndex(int16_t TableHdl, const VdbChar* IndexName, bool Reverse);
/* An index serving the sort order (a temporary one is made when needed); -18. */
VDBAPI TVdbResult VdbTableSetSortOrder(int16_t TableHdl, const VdbChar* SortOrder);
/* "Nummer" in natural order, "Markierung" in the order of marks, else the index name. */
VDBAPI TVdbResult VdbTableGetAccess(int16_t TableHdl, VdbChar* AccessName, int32_t TextLen);

/* ---- Moves. First/Last: 1, -11 no record, -201 failure. MoveBy: 0, -11, -201. */
VDBAPI TVdbResult VdbTableFirst(int16_t TableHdl);
VDBAPI TVdbResult VdbTableLast(int16_t TableHdl);
VDBAPI TVdbResult VdbTableMoveBy(int16_t TableHdl, int32_t Delta);
/* The record number reached, or -11 (position kept). 0 is the pending new record while
   appending; otherwise 0, like -1, goes before the first record and returns 0. */
VDBAPI int32_t VdbTableSetRecNo(int16_t TableHdl, int32_t RecNo);
/* The current record number, -1 before the first record, 0 for a pending new record. */
VDBAPI int32_t VdbTableGetRecNo(int16_t TableHdl);
VDBAPI int32_t VdbTableSetSequenceNo(int16_t TableHdl, int32_t SequenceNo);
VDBAPI int32_t VdbTableGetSequenceNo(int16_t TableHdl);
/* 1 when sequence numbers are available. */
VDBAPI TVdbResult VdbTableIsSequenced(int16_t TableHdl);
/* 1 when the view was rebuilt, else 0. */
VDBAPI TVdbResult VdbTableRefresh(int16_t TableHdl, bool CheckNet);

/* ---- Locating */

/* Locates the first record whose key in index IndexName is equal to or greater than the key
   of RecordBuffer (a record image) over IndexItemCount items (clamped; 256 for all).
   *ExactMatch on entry: whether only an equal key will do; on return (when not requested):
   whether the key found equals the given key. Result: the record number found (now
   current); 0 when there is none (position kept); -16 unknown index; another negative code. */
VDBAPI int32_t VdbTableLocateRec2(int16_t TableHdl, const VdbChar* IndexName,
                                  const void* RecordBuffer, int16_t IndexItemCount,
                                  bool* ExactMatch);
/* Locates by a condition: not supported, -44 (engine error 187 recorded). */
VDBAPI int32_t VdbTableLocateRec3(int16_t TableHdl, const VdbChar* SearchCondition, int32_t Mode);

/* ---- Ranges and filters */

/* Two record images of BufferSize bytes bounding the current index order; the counts give
   how many leading index items bound each end (0 = all). -15 in natural order. */
VDBAPI TVdbResult VdbTableSetRange(int16_t TableHdl, const void* RangeLower, const void* RangeUpper,
                                   int32_t BufferSize, int16_t FieldCountStart,
                                   int16_t FieldCountEnd);
VDBAPI TVdbResult VdbTableClearRange(int16_t TableHdl);
/* An empty or blank text removes the pending condition and returns 0. Any other text is
   compiled as a condition; until conditions can be compiled it is refused with -44 and the
   engine error recorded. */
VDBAPI TVdbResult VdbTableSetSQLFilter(int16_t TableHdl, const VdbChar* SQLFilter, uint16_t Mode,
                                       bool Background);
/* true: the pending filter is put in force; false: the active one is taken out of force. */
VDBAPI TVdbResult VdbTableActivateFilter(int16_t TableHdl, bool Active);
/* The number of records the cursor shows; -1 when a filtered count would have to scan 10000
   records or more. */
VDBAPI int32_t VdbTableGetRecordCount(int16_t TableHdl);
VDBAPI TVdbResult VdbTableSetWordFilter(int16_t TableHdl, const VdbChar* Words, uint16_t Mode,
                                        bool Background);
VDBAPI TVdbResult VdbTableMarkFullText(int16_t TableHdl, const VdbChar* Words, uint16_t Mode);

/* ---- Columns and records */

/* Copies the current record into Buffer (RecBufSize bytes, at least the record size); before
   the first record an empty record. -103 buffer too small, -100 engine failure. */
VDBAPI TVdbResult VdbTableGetRecord(int16_t TableHdl, void* Buffer, int32_t RecBufSize);
VDBAPI TVdbResult VdbTableGetRecordSize(int16_t TableHdl);
VDBAPI TVdbResult VdbTableGetNumFields(int16_t TableHdl);
/* -10 for a column number outside 1..count. */
VDBAPI TVdbResult VdbTableGetFieldSpec(int16_t TableHdl, int16_t FieldNo, TVdbFieldSpec* FieldSpec);
/* The column number (case-sensitive name); 0 for a name containing "."; -10 unknown. */
VDBAPI TVdbResult VdbTableGetFieldNo(int16_t TableHdl, const VdbChar* Name);
/* The column type code; -10 for an unknown column. */
VDBAPI TVdbResult VdbTableGetDataType(int16_t TableHdl, int16_t FieldNo);
/* VidoraDB's own addition: the ANSI code page (1250 ... 1258) in which column FieldNo holds
   8-bit text. A string or memo column's is its collation's, every other column's the table's
   collation's (1252 for the built-in collation and for results without a table). Programs
   that read record images decode and encode the column's text with it; the engine keeps the
   only table of collations and code pages. -10 for an unknown column. */
VDBAPI TVdbResult VdbTableGetFieldCodePage(int16_t TableHdl, int16_t FieldNo);
/* The table level of the relation. */
VDBAPI TVdbResult VdbTableGetRltnVersion(int16_t TableHdl);
VDBAPI TVdbResult VdbTableGetRltnHdl(int16_t TableHdl);
/* The record id of the current record; -22 when the relation has no record id column. */
VDBAPI int32_t VdbTableGetAutoNo(int16_t TableHdl);
VDBAPI TVdbResult VdbTableSetAutoNo(int16_t TableHdl, int32_t AutoNo);
/* The ordinal (1-based) of the value Name of an enumeration column; 0 when unknown. */
VDBAPI TVdbResult VdbTableGetEnumValue(int16_t TableHdl, int16_t FieldNo, const VdbChar* Name);
VDBAPI TVdbResult VdbTableGetLinkInfo1(int16_t TableHdl, int16_t FieldNo, int32_t RecordNo,
                                       VdbChar* Description, int32_t MaxLen);
VDBAPI int32_t VdbTableFindLinkedRecordId(int16_t TableHdl, int16_t FieldNo, const VdbChar* Text,
                                          int32_t* MatchKind);
/* -1, 0 or 1 comparing the keys of two records in index IndexName. */
VDBAPI TVdbResult VdbTableCompareBookmarks(int16_t TableHdl, const VdbChar* IndexName,
                                           int32_t Bookmark1, int32_t Bookmark2);

/* ---- Writing. -25 write failed, -31 record cannot be locked, -57 not in edit mode,
   -20 delete failed, -30 read-only. */
VDBAPI TVdbResult VdbTableAppend(int16_t TableHdl);
VDBAPI TVdbResult VdbTableAppendDuplicate(int16_t TableHdl);
VDBAPI TVdbResult VdbTableEdit(int16_t TableHdl);
/* Copies the caller's record image into the record being edited or appended. */
VDBAPI TVdbResult VdbTableSetRecord(int16_t TableHdl, const void* Buffer, int32_t RecBufSize);
VDBAPI TVdbResult VdbTableAppendConfirm(int16_t TableHdl);
VDBAPI TVdbResult VdbTableEditConfirm(int16_t TableHdl);
VDBAPI TVdbResult VdbTableAppendCancel(int16_t TableHdl);
VDBAPI TVdbResult VdbTableEditCancel(int16_t TableHdl);
VDBAPI TVdbResult VdbTableDeleteRecord(int16_t TableHdl);
/* 1 when the cursor may change data, else 0. */
VDBAPI TVdbResult VdbTableCanModify(int16_t TableHdl);

/* ---- Memos and blobs */

/* Starts reading memo, wide-memo or blob column FieldNo of the current record: the length
   in bytes (MaxSize -1: no limit); *BlobType := the blob's type word (0 for memos). -55
   when a transfer is already active, -23 not a memo or blob column. */
VDBAPI int32_t VdbTableInitGetBlob(int16_t TableHdl, int16_t FieldNo, int32_t MaxSize,
                                   int16_t* BlobType);
/* Copies at most Size bytes of the value into Buffer and ends the transfer; returns the
   number of bytes copied. -56 without InitGetBlob. */
VDBAPI int32_t VdbTablePerformGetBlob(int16_t TableHdl, void* Buffer, int32_t Size);
/* Sets the whole value of the column in the record being edited or appended. */
VDBAPI TVdbResult VdbTableSetBlob(int16_t TableHdl, int16_t FieldNo, const void* Blob, int32_t Size);

/* ---- Marks (the user's selection of records) */
VDBAPI TVdbResult VdbTableAddMark(int16_t TableHdl, int32_t RecNo);
VDBAPI TVdbResult VdbTableRemoveMark(int16_t TableHdl, int32_t RecNo);
/* 1 when marked, else 0. */
VDBAPI TVdbResult VdbTableIsMarked(int16_t TableHdl, int32_t RecNo);
/* Removes all marks. */
VDBAPI TVdbResult VdbTableUnmark(int16_t TableHdl);
/* To the next (Delta > 0) or previous marked record; Restart: from the first/last. 1 or -11. */
VDBAPI TVdbResult VdbTableGotoMark(int16_t TableHdl, int32_t Delta, bool Restart);
/* Deletes every marked record (in one transaction with DoTrans, unless one runs); the
   number deleted. Prog is asked before each record; a cancel stops with -100 and engine
   error 114 recorded (the transaction is then rolled back). */
VDBAPI int32_t VdbTableDeleteMarkedRecs(int16_t TableHdl, TVdbProgressProc Prog, bool DoTrans);

/* ---- Batch operations, links, export (not supported: see above) */
VDBAPI int32_t VdbTableReplace(int16_t TableHdl, const VdbChar* Selection, const VdbChar* Replacement,
                               TVdbProgressProc Prog, bool DoTrans);
VDBAPI TVdbResult VdbTableCheckReplacement(int16_t TableHdl, const VdbChar* Replacement);
VDBAPI TVdbResult VdbTableCreateRelTable(int16_t TableHdl, int16_t FieldNo);
VDBAPI TVdbResult VdbTableChangeRelEntry(int16_t TableHdl, int16_t FieldNo, int32_t RecordId,
                                         bool Add);
VDBAPI TVdbResult VdbTableAppendLinked(int16_t TableHdl);
VDBAPI TVdbResult VdbTableLink(int16_t TableHdl, int16_t MasterTableHdl, const VdbChar* MasterFields,
                               const VdbChar* DetailFields);
VDBAPI int32_t VdbTableExportToVdb(int16_t TableHdl, const VdbChar* PathName,
                                   const VdbChar* TargetColumns, const VdbChar* Condition,
                                   TVdbProgressProc ProgFun);

/* ---- SQL statements. Failures are negative: VdbStmtSetSqlText -59 for a syntax error (its
   row and column from VdbStmtGetErrorPos), VdbStmtAddParam -43 for a second parameter of one
   name, VdbStmtSetParam -43 for an unknown name and -23 for a value that does not convert,
   VdbStmtPrepare -64, VdbStmtExecute -46 when not prepared, -47 when the tables cannot be
   locked, -60 when a command fails; the engine error is the session's last error. */
VDBAPI TVdbResult VdbStmtSetSqlText(int16_t StmtHdl, const VdbChar* SqlText);
/* ParamType: column type code (-99 unknown); ParamSpec: size for string types. */
VDBAPI TVdbResult VdbStmtAddParam(int16_t StmtHdl, const VdbChar* ParamName, int16_t ParamType,
                                  int32_t ParamSpec);
/* The value as text of ParamSize units; ParamSize -1: null. */
VDBAPI TVdbResult VdbStmtSetParam(int16_t StmtHdl, const VdbChar* ParamName,
                                  const VdbChar* ParamValue, int32_t ParamSize);
VDBAPI TVdbResult VdbStmtClearParams(int16_t StmtHdl);
/* CursorType 0 read-only result, 1 live and stable, 2 live. */
VDBAPI TVdbResult VdbStmtPrepare(int16_t StmtHdl, int16_t CursorType);
/* The statement's result (rows affected), or a negative code. */
VDBAPI int32_t VdbStmtExecute(int16_t StmtHdl);
/* Row and column (1-based) of the last syntax error; 0 and 0 when none. */
VDBAPI TVdbResult VdbStmtGetErrorPos(int16_t StmtHdl, int32_t* Row, int32_t* Col);
/* A table handle on the result relation ("ResultTable"), 0 when there is none. */
VDBAPI TVdbResult VdbStmtCreateResultTableHdl(int16_t StmtHdl);
VDBAPI TVdbResult VdbStmtUnprepare(int16_t StmtHdl);
/* Frees the statement and its handle. */
VDBAPI TVdbResult VdbStmtDelete(int16_t StmtHdl);

#ifdef __cplusplus
}
#endif

#endif /* VIDORADB_VDBAPI_H */
