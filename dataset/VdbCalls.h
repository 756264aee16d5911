// The seam between the dataset components and the engine: every engine call the components
// make goes through one TVdbCalls object. TVdbLibraryCalls forwards each call to the engine's
// call interface unchanged; a test derives from it and overrides single calls to count them
// or to script results the engine would only give in rare situations.
// Results follow the call interface: 0 or positive is success or a value, negative a status
// code. Texts are UTF-16. Used from the GUI thread; the two callbacks arrive on the thread
// that made the engine call.
#pragma once

#include <cstdint>
#include <string>

#include "vidoradb/vdbapi.h"

namespace vdbds {

// A column as the engine describes it (the call interface's field specification).
struct TVdbColumnSpec {
  std::int16_t No = 0;
  std::u16string Name;
  std::uint8_t Options = 0;
  std::u16string RangeOrFormula;
  std::u16string SelectOrLink;
  std::int16_t FldType = 0;
  std::int32_t Param = 0;
  std::uint16_t InternalPosition = 0;
  std::uint16_t InternalSize = 0;
};

struct TVdbNetParamsRec {
  std::u16string NetDirs;
  std::u16string PrivateDir;
  std::uint32_t StationNo = 0;
  std::u16string StationName;
  std::u16string ReadOnlyDirs;
  std::int32_t ServerTimeout = 0;
};

// The two callbacks are the call interface's own (see vidoradb/vdbapi.h).
using TVdbPasswordCallback = ::TVdbPasswordCallback;
using TVdbChangeCallback = ::TVdbTableChangeProc;

class TVdbCalls {
 public:
  virtual ~TVdbCalls() = default;

  // --- process and session
  virtual std::u16string GetErrorMsg(std::int32_t code) = 0;
  virtual std::int16_t CreateSession(const std::u16string& location) = 0;
  virtual std::int16_t SessDelete(std::int16_t s) = 0;
  virtual std::int16_t SessGetDefaultNetParams(std::int16_t s, TVdbNetParamsRec& params) = 0;
  virtual std::int16_t SessSetNetParams(std::int16_t s, const TVdbNetParamsRec& params) = 0;
  virtual std::int16_t SessSetPasswordCallback(std::int16_t s, TVdbPasswordCallback callback) = 0;
  virtual std::int16_t SessSetSystemSettings(std::int16_t s, std::int32_t indexPageSize, std::int32_t blobBlockSize) = 0;
  virtual std::int16_t SessOpenDb(std::int16_t s, const std::u16string& location, const std::u16string& userName,
                                  const std::u16string& password, std::int32_t cacheSizeKB, std::uint32_t attributes) = 0;
  virtual std::int16_t SessCloseDb(std::int16_t s) = 0;
  virtual std::int16_t SessGetDbInfo(std::int16_t s, std::int16_t& managementLevel, std::int16_t& encryptionMethod) = 0;
  virtual std::int16_t SessSetSettings(std::int16_t s, bool caseSensitive, bool caretSwitch, bool autoCreateIndexes,
                                       std::int32_t lockingTimeout) = 0;
  virtual std::int16_t SessSetLogLevel(std::int16_t s, std::int16_t level) = 0;
  virtual std::int16_t SessIsSingleFile(std::int16_t s) = 0;
  // code := the negated engine error number (0 when none), text := its message.
  virtual std::int16_t SessGetLastError(std::int16_t s, std::int16_t& code, std::u16string& text) = 0;
  virtual std::int16_t SessBeginTransaction(std::int16_t s) = 0;
  virtual std::int16_t SessEndTransaction(std::int16_t s) = 0;
  virtual std::int16_t SessCancelTransaction(std::int16_t s) = 0;
  // The isolation level of the running transaction; 0 without one.
  virtual std::int16_t SessGetIsolationLevel(std::int16_t s) = 0;
  virtual std::int16_t SessOpenTable(std::int16_t s, const std::u16string& tableName, const std::u16string& key,
                                     std::uint16_t rights, bool withRelTables, bool force) = 0;
  virtual std::int16_t SessFindRltnHdl(std::int16_t s, const std::u16string& name) = 0;
  virtual std::int16_t SessCloseUnneededTables(std::int16_t s) = 0;
  virtual std::int16_t SessAddTable(std::int16_t s, const std::u16string& tablePath) = 0;
  virtual std::int16_t SessRemoveTable(std::int16_t s, const std::u16string& tableName) = 0;
  // The names joined by ";", cut to maxLen - 1 characters.
  virtual std::int32_t SessGetTableNames(std::int16_t s, std::u16string& names, std::int32_t maxLen) = 0;
  virtual std::int16_t SessRegisterModifications(std::int16_t s) = 0;

  // --- relations
  virtual std::int16_t RltnActivateEditLocks(std::int16_t r, bool value) = 0;
  virtual std::int16_t RltnGetRealIndexName(std::int16_t r, const std::u16string& name, std::u16string& realName) = 0;
  virtual std::int16_t RltnGetIndexDesc(std::int16_t r, const std::u16string& name, std::u16string& desc,
                                        bool readable, bool includeLen) = 0;
  // The table's default collation (empty when the relation is not a stored table).
  virtual std::int16_t RltnGetCollation(std::int16_t r, std::u16string& collation) = 0;

  // --- table cursors
  virtual std::int16_t TableCreate(std::int16_t r, const std::u16string& name) = 0;
  virtual std::int16_t TableDelete(std::int16_t t) = 0;
  virtual std::int16_t TableSetChangeProc(std::int16_t t, TVdbChangeCallback callback) = 0;
  virtual std::int16_t TableCanModify(std::int16_t t) = 0;
  virtual std::int16_t TableGetNumFields(std::int16_t t) = 0;
  virtual std::int16_t TableGetFieldSpec(std::int16_t t, std::int16_t fieldNo, TVdbColumnSpec& spec) = 0;
  // The code page of the column's 8-bit text, as the engine keeps it.
  virtual std::int16_t TableGetFieldCodePage(std::int16_t t, std::int16_t fieldNo) = 0;
  virtual std::int16_t TableGetRltnVersion(std::int16_t t) = 0;
  virtual std::int16_t TableGetRecordSize(std::int16_t t) = 0;
  virtual std::int16_t TableGetRltnHdl(std::int16_t t) = 0;
  virtual std::int16_t TableSetIndex(std::int16_t t, const std::u16string& indexName, bool reverse) = 0;
  virtual std::int16_t TableSetSortOrder(std::int16_t t, const std::u16string& sortOrder) = 0;
  virtual std::int16_t TableGetAccess(std::int16_t t, std::u16string& accessName) = 0;
  virtual std::int16_t TableFirst(std::int16_t t) = 0;
  virtual std::int16_t TableLast(std::int16_t t) = 0;
  virtual std::int16_t TableMoveBy(std::int16_t t, std::int32_t delta) = 0;
  virtual std::int32_t TableSetRecNo(std::int16_t t, std::int32_t recNo) = 0;
  virtual std::int32_t TableGetRecNo(std::int16_t t) = 0;
  virtual std::int32_t TableGetSequenceNo(std::int16_t t) = 0;
  virtual std::int16_t TableIsSequenced(std::int16_t t) = 0;
  virtual std::int16_t TableRefresh(std::int16_t t, bool checkNet) = 0;
  virtual std::int32_t TableLocateRec2(std::int16_t t, const std::u16string& indexName, const std::uint8_t* record,
                                       std::int16_t itemCount, bool& exact) = 0;
  virtual std::int16_t TableSetRange(std::int16_t t, const std::uint8_t* lower, const std::uint8_t* upper,
                                     std::int32_t bufferSize, std::int16_t countStart, std::int16_t countEnd) = 0;
  virtual std::int16_t TableClearRange(std::int16_t t) = 0;
  virtual std::int16_t TableSetSQLFilter(std::int16_t t, const std::u16string& filter, std::uint16_t mode,
                                         bool background) = 0;
  virtual std::int16_t TableActivateFilter(std::int16_t t, bool active) = 0;
  virtual std::int32_t TableGetRecordCount(std::int16_t t) = 0;
  virtual std::int16_t TableGetRecord(std::int16_t t, std::uint8_t* buffer, std::int32_t size) = 0;
  virtual std::int16_t TableSetRecord(std::int16_t t, const std::uint8_t* buffer, std::int32_t size) = 0;
  virtual std::int16_t TableAppend(std::int16_t t) = 0;
  virtual std::int16_t TableAppendDuplicate(std::int16_t t) = 0;
  virtual std::int16_t TableEdit(std::int16_t t) = 0;
  virtual std::int16_t TableAppendConfirm(std::int16_t t) = 0;
  virtual std::int16_t TableEditConfirm(std::int16_t t) = 0;
  virtual std::int16_t TableAppendCancel(std::int16_t t) = 0;
  virtual std::int16_t TableEditCancel(std::int16_t t) = 0;
  virtual std::int16_t TableDeleteRecord(std::int16_t t) = 0;
  virtual std::int32_t TableGetAutoNo(std::int16_t t) = 0;
  virtual std::int16_t TableSetAutoNo(std::int16_t t, std::int32_t autoNo) = 0;
  // Length in bytes of the field's value (blob: without its type word), or negative.
  virtual std::int32_t TableInitGetBlob(std::int16_t t, std::int16_t fieldNo, std::int32_t maxSize,
                                        std::int16_t& blobType) = 0;
  virtual std::int32_t TablePerformGetBlob(std::int16_t t, std::uint8_t* buffer, std::int32_t size) = 0;
  virtual std::int16_t TableSetBlob(std::int16_t t, std::int16_t fieldNo, const std::uint8_t* data, std::int32_t size) = 0;
  virtual std::int16_t TableEmpty(std::int16_t t) = 0;
  virtual std::int16_t TableGetEnumValue(std::int16_t t, std::int16_t fieldNo, const std::u16string& name) = 0;
  // --- SQL statements
  virtual std::int16_t SessCreateStatement(std::int16_t s) = 0;
  virtual std::int16_t StmtSetSqlText(std::int16_t st, const std::u16string& text) = 0;
  virtual std::int16_t StmtAddParam(std::int16_t st, const std::u16string& name, std::int16_t type, std::int32_t spec) = 0;
  // `size` -1 sets NULL; a blob value is one zero character followed by the raw bytes.
  virtual std::int16_t StmtSetParam(std::int16_t st, const std::u16string& name, const std::u16string& value,
                                    std::int32_t size) = 0;
  virtual std::int16_t StmtClearParams(std::int16_t st) = 0;
  virtual std::int16_t StmtPrepare(std::int16_t st, std::int16_t cursorType) = 0;
  virtual std::int32_t StmtExecute(std::int16_t st) = 0;
  virtual std::int16_t StmtGetErrorPos(std::int16_t st, std::int32_t& row, std::int32_t& col) = 0;
  virtual std::int16_t StmtCreateResultTableHdl(std::int16_t st) = 0;
  virtual std::int16_t StmtUnprepare(std::int16_t st) = 0;
  virtual std::int16_t StmtDelete(std::int16_t st) = 0;
};

// Forwards every call to the engine's call interface.
class TVdbLibraryCalls : public TVdbCalls {
 public:
  std::u16string GetErrorMsg(std::int32_t code) override;
  std::int16_t CreateSession(const std::u16string& location) override;
  std::int16_t SessDelete(std::int16_t s) override;
  std::int16_t SessGetDefaultNetParams(std::int16_t s, TVdbNetParamsRec& params) override;
  std::int16_t SessSetNetParams(std::int16_t s, const TVdbNetParamsRec& params) override;
  std::int16_t SessSetPasswordCallback(std::int16_t s, TVdbPasswordCallback callback) override;
  std::int16_t SessSetSystemSettings(std::int16_t s, std::int32_t indexPageSize, std::int32_t blobBlockSize) override;
  std::int16_t SessOpenDb(std::int16_t s, const std::u16string& location, const std::u16string& userName,
                          const std::u16string& password, std::int32_t cacheSizeKB, std::uint32_t attributes) override;
  std::int16_t SessCloseDb(std::int16_t s) override;
  std::int16_t SessGetDbInfo(std::int16_t s, std::int16_t& managementLevel, std::int16_t& encryptionMethod) override;
  std::int16_t SessSetSettings(std::int16_t s, bool caseSensitive, bool caretSwitch, bool autoCreateIndexes,
                               std::int32_t lockingTimeout) override;
  std::int16_t SessSetLogLevel(std::int16_t s, std::int16_t level) override;
  std::int16_t SessIsSingleFile(std::int16_t s) override;
  std::int16_t SessGetLastError(std::int16_t s, std::int16_t& code, std::u16string& text) override;
  std::int16_t SessBeginTransaction(std::int16_t s) override;
  std::int16_t SessEndTransaction(std::int16_t s) override;
  std::int16_t SessCancelTransaction(std::int16_t s) override;
  std::int16_t SessGetIsolationLevel(std::int16_t s) override;
  std::int16_t SessOpenTable(std::int16_t s, const std::u16string& tableName, const std::u16string& key,
                             std::uint16_t rights, bool withRelTables, bool force) override;
  std::int16_t SessFindRltnHdl(std::int16_t s, const std::u16string& name) override;
  std::int16_t SessCloseUnneededTables(std::int16_t s) override;
  std::int16_t SessAddTable(std::int16_t s, const std::u16string& tablePath) override;
  std::int16_t SessRemoveTable(std::int16_t s, const std::u16string& tableName) override;
  std::int32_t SessGetTableNames(std::int16_t s, std::u16string& names, std::int32_t maxLen) override;
  std::int16_t SessRegisterModifications(std::int16_t s) override;
  std::int16_t RltnActivateEditLocks(std::int16_t r, bool value) override;
  std::int16_t RltnGetRealIndexName(std::int16_t r, const std::u16string& name, std::u16string& realName) override;
  std::int16_t RltnGetIndexDesc(std::int16_t r, const std::u16string& name, std::u16string& desc, bool readable,
                                bool includeLen) override;
  std::int16_t RltnGetCollation(std::int16_t r, std::u16string& collation) override;
  std::int16_t TableCreate(std::int16_t r, const std::u16string& name) override;
  std::int16_t TableDelete(std::int16_t t) override;
  std::int16_t TableSetChangeProc(std::int16_t t, TVdbChangeCallback callback) override;
  std::int16_t TableCanModify(std::int16_t t) override;
  std::int16_t TableGetNumFields(std::int16_t t) override;
  std::int16_t TableGetFieldSpec(std::int16_t t, std::int16_t fieldNo, TVdbColumnSpec& spec) override;
  std::int16_t TableGetFieldCodePage(std::int16_t t, std::int16_t fieldNo) override;
  std::int16_t TableGetRltnVersion(std::int16_t t) override;
  std::int16_t TableGetRecordSize(std::int16_t t) override;
  std::int16_t TableGetRltnHdl(std::int16_t t) override;
  std::int16_t TableSetIndex(std::int16_t t, const std::u16string& indexName, bool reverse) override;
  std::int16_t TableSetSortOrder(std::int16_t t, const std::u16string& sortOrder) override;
  std::int16_t TableGetAccess(std::int16_t t, std::u16string& accessName) override;
  std::int16_t TableFirst(std::int16_t t) override;
  std::int16_t TableLast(std::int16_t t) override;
  std::int16_t TableMoveBy(std::int16_t t, std::int32_t delta) override;
  std::int32_t TableSetRecNo(std::int16_t t, std::int32_t recNo) override;
  std::int32_t TableGetRecNo(std::int16_t t) override;
  std::int32_t TableGetSequenceNo(std::int16_t t) override;
  std::int16_t TableIsSequenced(std::int16_t t) override;
  std::int16_t TableRefresh(std::int16_t t, bool checkNet) override;
  std::int32_t TableLocateRec2(std::int16_t t, const std::u16string& indexName, const std::uint8_t* record,
                               std::int16_t itemCount, bool& exact) override;
  std::int16_t TableSetRange(std::int16_t t, const std::uint8_t* lower, const std::uint8_t* upper,
                             std::int32_t bufferSize, std::int16_t countStart, std::int16_t countEnd) override;
  std::int16_t TableClearRange(std::int16_t t) override;
  std::int16_t TableSetSQLFilter(std::int16_t t, const std::u16string& filter, std::uint16_t mode,
                                 bool background) override;
  std::int16_t TableActivateFilter(std::int16_t t, bool active) override;
  std::int32_t TableGetRecordCount(std::int16_t t) override;
  std::int16_t TableGetRecord(std::int16_t t, std::uint8_t* buffer, std::int32_t size) override;
  std::int16_t TableSetRecord(std::int16_t t, const std::uint8_t* buffer, std::int32_t size) override;
  std::int16_t TableAppend(std::int16_t t) override;
  std::int16_t TableAppendDuplicate(std::int16_t t) override;
  std::int16_t TableEdit(std::int16_t t) override;
  std::int16_t TableAppendConfirm(std::int16_t t) override;
  std::int16_t TableEditConfirm(std::int16_t t) override;
  std::int16_t TableAppendCancel(std::int16_t t) override;
  std::int16_t TableEditCancel(std::int16_t t) override;
  std::int16_t TableDeleteRecord(std::int16_t t) override;
  std::int32_t TableGetAutoNo(std::int16_t t) override;
  std::int16_t TableSetAutoNo(std::int16_t t, std::int32_t autoNo) override;
  std::int32_t TableInitGetBlob(std::int16_t t, std::int16_t fieldNo, std::int32_t maxSize,
                                std::int16_t& blobType) override;
  std::int32_t TablePerformGetBlob(std::int16_t t, std::uint8_t* buffer, std::int32_t size) override;
  std::int16_t TableSetBlob(std::int16_t t, std::int16_t fieldNo, const std::uint8_t* data, std::int32_t size) override;
  std::int16_t TableEmpty(std::int16_t t) override;
  std::int16_t TableGetEnumValue(std::int16_t t, std::int16_t fieldNo, const std::u16string& name) override;
  std::int16_t SessCreateStatement(std::int16_t s) override;
  std::int16_t StmtSetSqlText(std::int16_t st, const std::u16string& text) override;
  std::int16_t StmtAddParam(std::int16_t st, const std::u16string& name, std::int16_t type, std::int32_t spec) override;
  std::int16_t StmtSetParam(std::int16_t st, const std::u16string& name, const std::u16string& value,
                            std::int32_t size) override;
  std::int16_t StmtClearParams(std::int16_t st) override;
  std::int16_t StmtPrepare(std::int16_t st, std::int16_t cursorType) override;
  std::int32_t StmtExecute(std::int16_t st) override;
  std::int16_t StmtGetErrorPos(std::int16_t st, std::int32_t& row, std::int32_t& col) override;
  std::int16_t StmtCreateResultTableHdl(std::int16_t st) override;
  std::int16_t StmtUnprepare(std::int16_t st) override;
  std::int16_t StmtDelete(std::int16_t st) override;
};

// The calls every component uses unless it is given others (stateless, shared).
TVdbCalls& LibraryCalls();

}  // namespace vdbds
