// Exported functions of SQL statements. The SQL layer does not exist yet: a statement keeps
// its text and parameters, and preparing it answers "SQL command could not be prepared" with
// the reason recorded, so callers see an ordinary failure of their statement.
#include <algorithm>

#include "api/VdbApiHandles.h"
#include "base/VdbErrorCodes.h"

using namespace vdb;
using namespace vdb::api;

namespace {

constexpr TVdbApiFailure kPrepareFailure{stsCannotPrepare, stsInternalError, nullptr};

[[noreturn]] void RaiseNoSql() { RaiseEngineError(errNotSupported, {u"SQL statements"}); }

TApiParam* FindParam(TApiStatement& st, std::u16string_view name) {
  const auto it =
      std::find_if(st.Params.begin(), st.Params.end(), [&](const TApiParam& p) { return VdbSameName(p.Name, name); });
  return it == st.Params.end() ? nullptr : &*it;
}

}  // namespace

extern "C" {

VDBAPI TVdbResult VdbStmtSetSqlText(int16_t StmtHdl, const VdbChar* SqlText) {
  return CallStatement<TVdbResult>(StmtHdl, [&](TApiSession&, TApiStatement& st) -> TVdbResult {
    st.SqlText = FromCaller(SqlText);
    st.Params.clear();
    st.ErrorRow = 0;
    st.ErrorCol = 0;
    return 0;
  });
}

VDBAPI TVdbResult VdbStmtAddParam(int16_t StmtHdl, const VdbChar* ParamName, int16_t ParamType, int32_t ParamSpec) {
  return CallStatement<TVdbResult>(StmtHdl, [&](TApiSession&, TApiStatement& st) -> TVdbResult {
    const std::u16string name = FromCaller(ParamName);
    TApiParam* p = FindParam(st, name);
    if (p == nullptr) p = &st.Params.emplace_back();
    p->Name = name;
    p->Type = ParamType;
    p->Spec = ParamSpec;
    return 0;
  });
}

VDBAPI TVdbResult VdbStmtSetParam(int16_t StmtHdl, const VdbChar* ParamName, const VdbChar* ParamValue,
                                  int32_t ParamSize) {
  return CallStatement<TVdbResult>(StmtHdl, [&](TApiSession& s, TApiStatement& st) -> TVdbResult {
    TApiParam* p = FindParam(st, ViewFromCaller(ParamName));
    if (p == nullptr) {
      s.Session.LastError().SetLastError(errUnknownIdentifier, {FromCaller(ParamName)});
      return stsWrongContext;
    }
    if (ParamSize < 0) {
      p->Value.clear();
      p->IsNull = true;
      return 0;
    }
    if (ParamValue == nullptr) return stsBufferTooSmall;
    // A blob value is one zero character followed by the raw bytes, and its size counts bytes.
    const auto* text = reinterpret_cast<const char16_t*>(ParamValue);
    const bool bytes = p->Type == VDB_TYPE_BLOB || (ParamSize >= 2 && text[0] == 0);
    const auto units = static_cast<std::size_t>(bytes ? (ParamSize + 1) / 2 : ParamSize);
    p->Value.assign(text, units);
    p->IsNull = false;
    return 0;
  });
}

VDBAPI TVdbResult VdbStmtClearParams(int16_t StmtHdl) {
  return CallStatement<TVdbResult>(StmtHdl, [&](TApiSession&, TApiStatement& st) -> TVdbResult {
    for (TApiParam& p : st.Params) {
      p.Value.clear();
      p.IsNull = true;
    }
    return 0;
  });
}

VDBAPI TVdbResult VdbStmtPrepare(int16_t StmtHdl, int16_t CursorType) {
  static_cast<void>(CursorType);
  return CallStatement<TVdbResult>(
      StmtHdl, [&](TApiSession&, TApiStatement&) -> TVdbResult { RaiseNoSql(); }, kPrepareFailure);
}

VDBAPI int32_t VdbStmtExecute(int16_t StmtHdl) {
  return CallStatement<int32_t>(
      StmtHdl, [&](TApiSession&, TApiStatement&) -> int32_t { RaiseNoSql(); }, kPrepareFailure);
}

VDBAPI TVdbResult VdbStmtGetErrorPos(int16_t StmtHdl, int32_t* Row, int32_t* Col) {
  return CallStatement<TVdbResult>(StmtHdl, [&](TApiSession&, TApiStatement& st) -> TVdbResult {
    if (Row != nullptr) *Row = st.ErrorRow;
    if (Col != nullptr) *Col = st.ErrorCol;
    return 0;
  });
}

VDBAPI TVdbResult VdbStmtCreateResultTableHdl(int16_t StmtHdl) {
  return CallStatement<TVdbResult>(
      StmtHdl, [&](TApiSession&, TApiStatement&) -> TVdbResult { RaiseNoSql(); }, kPrepareFailure);
}

VDBAPI TVdbResult VdbStmtUnprepare(int16_t StmtHdl) {
  return CallStatement<TVdbResult>(StmtHdl, [&](TApiSession&, TApiStatement&) -> TVdbResult { return 0; });
}

VDBAPI TVdbResult VdbStmtDelete(int16_t StmtHdl) {
  return Shield<TVdbResult>(stsInvalidStatementHandle, [&]() -> TVdbResult {
    TApiRegistry& registry = TApiRegistry::Instance();
    if (registry.FindStatement(StmtHdl) == nullptr) return stsInvalidStatementHandle;
    registry.RemoveStatement(StmtHdl);
    return 0;
  });
}

}  // extern "C"
