#include "VdbCalls.h"

#include <algorithm>
#include <vector>

namespace vdbds {

namespace {

const VdbChar* Z(const std::u16string& text) { return reinterpret_cast<const VdbChar*>(text.c_str()); }

// Text of a fixed character array (terminated, or the whole array).
template <std::size_t N>
std::u16string FromArray(const VdbChar (&chars)[N]) {
  std::size_t n = 0;
  while (n < N && chars[n] != 0) ++n;
  return std::u16string(reinterpret_cast<const char16_t*>(chars), n);
}

template <std::size_t N>
void ToArray(VdbChar (&chars)[N], const std::u16string& text) {
  const std::size_t n = std::min(text.size(), N - 1);
  std::copy_n(text.data(), n, chars);
  chars[n] = 0;
}

// Calls f(buffer, capacity) and takes the text written into the buffer.
template <class F>
std::u16string ReadText(std::int32_t capacity, F&& f) {
  std::vector<VdbChar> buffer(static_cast<std::size_t>(capacity) + 1, 0);
  f(buffer.data(), capacity);
  std::size_t n = 0;
  while (n < buffer.size() && buffer[n] != 0) ++n;
  return std::u16string(reinterpret_cast<const char16_t*>(buffer.data()), n);
}

constexpr std::int32_t kMessageChars = 256;  // 255 characters and the terminator

}  // namespace

TVdbCalls& LibraryCalls() {
  static TVdbLibraryCalls calls;
  return calls;
}

std::u16string TVdbLibraryCalls::GetErrorMsg(std::int32_t code) {
  return ReadText(kMessageChars, [&](VdbChar* b, std::int32_t n) { VdbGetErrorMsg(code, b, n); });
}
std::int16_t TVdbLibraryCalls::CreateSession(const std::u16string& location) { return VdbCreateSession(Z(location)); }
std::int16_t TVdbLibraryCalls::SessDelete(std::int16_t s) { return VdbSessDelete(s); }

std::int16_t TVdbLibraryCalls::SessGetDefaultNetParams(std::int16_t s, TVdbNetParamsRec& params) {
  TVdbNetParams raw{};
  const std::int16_t result = VdbSessGetDefaultNetParams(s, &raw);
  params.NetDirs = FromArray(raw.NetDirs);
  params.PrivateDir = FromArray(raw.PrivateDir);
  params.StationNo = raw.StationNo;
  params.StationName = FromArray(raw.StationName);
  params.ReadOnlyDirs = FromArray(raw.ReadOnlyDirs);
  params.ServerTimeout = raw.ServerTimeout;
  return result;
}

std::int16_t TVdbLibraryCalls::SessSetNetParams(std::int16_t s, const TVdbNetParamsRec& params) {
  TVdbNetParams raw{};
  ToArray(raw.NetDirs, params.NetDirs);
  ToArray(raw.PrivateDir, params.PrivateDir);
  raw.StationNo = params.StationNo;
  ToArray(raw.StationName, params.StationName);
  ToArray(raw.ReadOnlyDirs, params.ReadOnlyDirs);
  raw.ServerTimeout = params.ServerTimeout;
  return VdbSessSetNetParams(s, &raw);
}

std::int16_t TVdbLibraryCalls::SessSetPasswordCallback(std::int16_t s, TVdbPasswordCallback callback) {
  return VdbSessSetPasswordCallback(s, callback);
}
std::int16_t TVdbLibraryCalls::SessSetSystemSettings(std::int16_t s, std::int32_t indexPageSize,
                                                     std::int32_t blobBlockSize) {
  return VdbSessSetSystemSettings(s, indexPageSize, blobBlockSize);
}
std::int16_t TVdbLibraryCalls::SessOpenDb(std::int16_t s, const std::u16string& location,
                                          const std::u16string& userName, const std::u16string& password,
                                          std::int32_t cacheSizeKB, std::uint32_t attributes) {
  return VdbSessOpenDb(s, Z(location), Z(userName), Z(password), cacheSizeKB, attributes);
}
std::int16_t TVdbLibraryCalls::SessCloseDb(std::int16_t s) { return VdbSessCloseDb(s); }
std::int16_t TVdbLibraryCalls::SessGetDbInfo(std::int16_t s, std::int16_t& managementLevel,
                                             std::int16_t& encryptionMethod) {
  TVdbDatabaseInfo info{};
  const std::int16_t result = VdbSessGetDbInfo(s, &info);
  managementLevel = info.ManagementLevel;
  encryptionMethod = info.EncryptionMethod;
  return result;
}
std::int16_t TVdbLibraryCalls::SessSetSettings(std::int16_t s, bool caseSensitive, bool caretSwitch,
                                               bool autoCreateIndexes, std::int32_t lockingTimeout) {
  return VdbSessSetSettings(s, caseSensitive, caretSwitch, autoCreateIndexes, lockingTimeout);
}
std::int16_t TVdbLibraryCalls::SessSetLogLevel(std::int16_t s, std::int16_t level) { return VdbSessSetLogLevel(s, level); }
std::int16_t TVdbLibraryCalls::SessIsSingleFile(std::int16_t s) { return VdbSessIsSingleFile(s); }
std::int16_t TVdbLibraryCalls::SessGetLastError(std::int16_t s, std::int16_t& code, std::u16string& text) {
  std::int32_t raw = 0;
  std::int16_t result = 0;
  text = ReadText(kMessageChars, [&](VdbChar* b, std::int32_t n) { result = VdbSessGetLastError(s, &raw, b, n); });
  code = static_cast<std::int16_t>(raw);
  return result;
}
std::int16_t TVdbLibraryCalls::SessBeginTransaction(std::int16_t s) { return VdbSessBeginTransaction(s); }
std::int16_t TVdbLibraryCalls::SessEndTransaction(std::int16_t s) { return VdbSessEndTransaction(s); }
std::int16_t TVdbLibraryCalls::SessCancelTransaction(std::int16_t s) { return VdbSessCancelTransaction(s); }
std::int16_t TVdbLibraryCalls::SessGetIsolationLevel(std::int16_t s) { return VdbSessGetIsolationLevel(s); }
std::int16_t TVdbLibraryCalls::SessOpenTable(std::int16_t s, const std::u16string& tableName,
                                             const std::u16string& key, std::uint16_t rights, bool withRelTables,
                                             bool force) {
  return VdbSessOpenTable(s, Z(tableName), Z(key), rights, withRelTables, force);
}
std::int16_t TVdbLibraryCalls::SessFindRltnHdl(std::int16_t s, const std::u16string& name) {
  return VdbSessFindRltnHdl(s, Z(name));
}
std::int16_t TVdbLibraryCalls::SessCloseUnneededTables(std::int16_t s) { return VdbSessCloseUnneededTables(s); }
std::int16_t TVdbLibraryCalls::SessAddTable(std::int16_t s, const std::u16string& tablePath) {
  return VdbSessAddTable(s, Z(tablePath));
}
std::int16_t TVdbLibraryCalls::SessRemoveTable(std::int16_t s, const std::u16string& tableName) {
  return VdbSessRemoveTable(s, Z(tableName));
}
std::int32_t TVdbLibraryCalls::SessGetTableNames(std::int16_t s, std::u16string& names, std::int32_t maxLen) {
  std::int32_t result = 0;
  names = ReadText(maxLen, [&](VdbChar* b, std::int32_t n) { result = VdbSessGetTableNames(s, b, n); });
  return result;
}
std::int16_t TVdbLibraryCalls::SessRegisterModifications(std::int16_t s) { return VdbSessRegisterModifications(s); }

std::int16_t TVdbLibraryCalls::RltnActivateEditLocks(std::int16_t r, bool value) { return VdbRltnActivateEditLocks(r, value); }
std::int16_t TVdbLibraryCalls::RltnGetRealIndexName(std::int16_t r, const std::u16string& name, std::u16string& realName) {
  std::int16_t result = 0;
  realName = ReadText(VDB_LONG_NAME_CHARS, [&](VdbChar* b, std::int32_t n) {
    result = VdbRltnGetRealIndexName(r, Z(name), b, n);
  });
  return result;
}
std::int16_t TVdbLibraryCalls::RltnGetIndexDesc(std::int16_t r, const std::u16string& name, std::u16string& desc,
                                                bool readable, bool includeLen) {
  std::int16_t result = 0;
  desc = ReadText(VDB_SELECT_CHARS, [&](VdbChar* b, std::int32_t n) {
    result = VdbRltnGetIndexDesc(r, Z(name), b, n, readable, includeLen);
  });
  return result;
}
std::int16_t TVdbLibraryCalls::RltnGetCollation(std::int16_t r, std::u16string& collation) {
  TVdbTableInfo info{};
  const std::int16_t result = VdbRltnGetTableInfo(r, &info);
  collation = result < 0 ? std::u16string() : FromArray(info.Language);
  return result;
}

std::int16_t TVdbLibraryCalls::TableCreate(std::int16_t r, const std::u16string& name) { return VdbTableCreate(r, Z(name)); }
std::int16_t TVdbLibraryCalls::TableDelete(std::int16_t t) { return VdbTableDelete(t); }
std::int16_t TVdbLibraryCalls::TableSetChangeProc(std::int16_t t, TVdbChangeCallback callback) {
  return VdbTableSetChangeProc(t, callback);
}
std::int16_t TVdbLibraryCalls::TableCanModify(std::int16_t t) { return VdbTableCanModify(t); }
std::int16_t TVdbLibraryCalls::TableGetNumFields(std::int16_t t) { return VdbTableGetNumFields(t); }
std::int16_t TVdbLibraryCalls::TableGetFieldSpec(std::int16_t t, std::int16_t fieldNo, TVdbColumnSpec& spec) {
  TVdbFieldSpec raw{};
  const std::int16_t result = VdbTableGetFieldSpec(t, fieldNo, &raw);
  if (result < 0) return result;
  spec.No = raw.No;
  spec.Name = FromArray(raw.Name);
  spec.Options = raw.Options;
  spec.RangeOrFormula = FromArray(raw.RangeOrFormula);
  spec.SelectOrLink = FromArray(raw.SelectOrLink);
  spec.FldType = raw.FldType;
  spec.Param = raw.Param;
  spec.InternalPosition = raw.InternalPosition;
  spec.InternalSize = raw.InternalSize;
  return result;
}
std::int16_t TVdbLibraryCalls::TableGetFieldCodePage(std::int16_t t, std::int16_t fieldNo) {
  return VdbTableGetFieldCodePage(t, fieldNo);
}
std::int16_t TVdbLibraryCalls::TableGetRltnVersion(std::int16_t t) { return VdbTableGetRltnVersion(t); }
std::int16_t TVdbLibraryCalls::TableGetRecordSize(std::int16_t t) { return VdbTableGetRecordSize(t); }
std::int16_t TVdbLibraryCalls::TableGetRltnHdl(std::int16_t t) { return VdbTableGetRltnHdl(t); }
std::int16_t TVdbLibraryCalls::TableSetIndex(std::int16_t t, const std::u16string& indexName, bool reverse) {
  return VdbTableSetIndex(t, Z(indexName), reverse);
}
std::int16_t TVdbLibraryCalls::TableSetSortOrder(std::int16_t t, const std::u16string& sortOrder) {
  return VdbTableSetSortOrder(t, Z(sortOrder));
}
std::int16_t TVdbLibraryCalls::TableGetAccess(std::int16_t t, std::u16string& accessName) {
  std::int16_t result = 0;
  accessName = ReadText(VDB_LONG_NAME_CHARS, [&](VdbChar* b, std::int32_t n) { result = VdbTableGetAccess(t, b, n); });
  return result;
}
std::int16_t TVdbLibraryCalls::TableFirst(std::int16_t t) { return VdbTableFirst(t); }
std::int16_t TVdbLibraryCalls::TableLast(std::int16_t t) { return VdbTableLast(t); }
std::int16_t TVdbLibraryCalls::TableMoveBy(std::int16_t t, std::int32_t delta) { return VdbTableMoveBy(t, delta); }
std::int32_t TVdbLibraryCalls::TableSetRecNo(std::int16_t t, std::int32_t recNo) { return VdbTableSetRecNo(t, recNo); }
std::int32_t TVdbLibraryCalls::TableGetRecNo(std::int16_t t) { return VdbTableGetRecNo(t); }
std::int32_t TVdbLibraryCalls::TableGetSequenceNo(std::int16_t t) { return VdbTableGetSequenceNo(t); }
std::int16_t TVdbLibraryCalls::TableIsSequenced(std::int16_t t) { return VdbTableIsSequenced(t); }
std::int16_t TVdbLibraryCalls::TableRefresh(std::int16_t t, bool checkNet) { return VdbTableRefresh(t, checkNet); }
std::int32_t TVdbLibraryCalls::TableLocateRec2(std::int16_t t, const std::u16string& indexName,
                                               const std::uint8_t* record, std::int16_t itemCount, bool& exact) {
  return VdbTableLocateRec2(t, Z(indexName), record, itemCount, &exact);
}
std::int16_t TVdbLibraryCalls::TableSetRange(std::int16_t t, const std::uint8_t* lower, const std::uint8_t* upper,
                                             std::int32_t bufferSize, std::int16_t countStart, std::int16_t countEnd) {
  return VdbTableSetRange(t, lower, upper, bufferSize, countStart, countEnd);
}
std::int16_t TVdbLibraryCalls::TableClearRange(std::int16_t t) { return VdbTableClearRange(t); }
std::int16_t TVdbLibraryCalls::TableSetSQLFilter(std::int16_t t, const std::u16string& filter, std::uint16_t mode,
                                                 bool background) {
  return VdbTableSetSQLFilter(t, Z(filter), mode, background);
}
std::int16_t TVdbLibraryCalls::TableActivateFilter(std::int16_t t, bool active) { return VdbTableActivateFilter(t, active); }
std::int32_t TVdbLibraryCalls::TableGetRecordCount(std::int16_t t) { return VdbTableGetRecordCount(t); }
std::int16_t TVdbLibraryCalls::TableGetRecord(std::int16_t t, std::uint8_t* buffer, std::int32_t size) {
  return VdbTableGetRecord(t, buffer, size);
}
std::int16_t TVdbLibraryCalls::TableSetRecord(std::int16_t t, const std::uint8_t* buffer, std::int32_t size) {
  return VdbTableSetRecord(t, buffer, size);
}
std::int16_t TVdbLibraryCalls::TableAppend(std::int16_t t) { return VdbTableAppend(t); }
std::int16_t TVdbLibraryCalls::TableAppendDuplicate(std::int16_t t) { return VdbTableAppendDuplicate(t); }
std::int16_t TVdbLibraryCalls::TableEdit(std::int16_t t) { return VdbTableEdit(t); }
std::int16_t TVdbLibraryCalls::TableAppendConfirm(std::int16_t t) { return VdbTableAppendConfirm(t); }
std::int16_t TVdbLibraryCalls::TableEditConfirm(std::int16_t t) { return VdbTableEditConfirm(t); }
std::int16_t TVdbLibraryCalls::TableAppendCancel(std::int16_t t) { return VdbTableAppendCancel(t); }
std::int16_t TVdbLibraryCalls::TableEditCancel(std::int16_t t) { return VdbTableEditCancel(t); }
std::int16_t TVdbLibraryCalls::TableDeleteRecord(std::int16_t t) { return VdbTableDeleteRecord(t); }
std::int32_t TVdbLibraryCalls::TableGetAutoNo(std::int16_t t) { return VdbTableGetAutoNo(t); }
std::int16_t TVdbLibraryCalls::TableSetAutoNo(std::int16_t t, std::int32_t autoNo) { return VdbTableSetAutoNo(t, autoNo); }
std::int32_t TVdbLibraryCalls::TableInitGetBlob(std::int16_t t, std::int16_t fieldNo, std::int32_t maxSize,
                                                std::int16_t& blobType) {
  return VdbTableInitGetBlob(t, fieldNo, maxSize, &blobType);
}
std::int32_t TVdbLibraryCalls::TablePerformGetBlob(std::int16_t t, std::uint8_t* buffer, std::int32_t size) {
  return VdbTablePerformGetBlob(t, buffer, size);
}
std::int16_t TVdbLibraryCalls::TableSetBlob(std::int16_t t, std::int16_t fieldNo, const std::uint8_t* data,
                                            std::int32_t size) {
  return VdbTableSetBlob(t, fieldNo, data, size);
}
std::int16_t TVdbLibraryCalls::TableEmpty(std::int16_t t) { return VdbTableEmpty(t); }
std::int16_t TVdbLibraryCalls::TableGetEnumValue(std::int16_t t, std::int16_t fieldNo, const std::u16string& name) {
  return VdbTableGetEnumValue(t, fieldNo, Z(name));
}

std::int16_t TVdbLibraryCalls::SessCreateStatement(std::int16_t s) { return VdbSessCreateStatement(s); }
std::int16_t TVdbLibraryCalls::StmtSetSqlText(std::int16_t st, const std::u16string& text) {
  return VdbStmtSetSqlText(st, Z(text));
}
std::int16_t TVdbLibraryCalls::StmtAddParam(std::int16_t st, const std::u16string& name, std::int16_t type,
                                            std::int32_t spec) {
  return VdbStmtAddParam(st, Z(name), type, spec);
}
std::int16_t TVdbLibraryCalls::StmtSetParam(std::int16_t st, const std::u16string& name, const std::u16string& value,
                                            std::int32_t size) {
  return VdbStmtSetParam(st, Z(name), Z(value), size);
}
std::int16_t TVdbLibraryCalls::StmtClearParams(std::int16_t st) { return VdbStmtClearParams(st); }
std::int16_t TVdbLibraryCalls::StmtPrepare(std::int16_t st, std::int16_t cursorType) {
  return VdbStmtPrepare(st, cursorType);
}
std::int32_t TVdbLibraryCalls::StmtExecute(std::int16_t st) { return VdbStmtExecute(st); }
std::int16_t TVdbLibraryCalls::StmtGetErrorPos(std::int16_t st, std::int32_t& row, std::int32_t& col) {
  return VdbStmtGetErrorPos(st, &row, &col);
}
std::int16_t TVdbLibraryCalls::StmtCreateResultTableHdl(std::int16_t st) { return VdbStmtCreateResultTableHdl(st); }
std::int16_t TVdbLibraryCalls::StmtUnprepare(std::int16_t st) { return VdbStmtUnprepare(st); }
std::int16_t TVdbLibraryCalls::StmtDelete(std::int16_t st) { return VdbStmtDelete(st); }

}  // namespace vdbds
