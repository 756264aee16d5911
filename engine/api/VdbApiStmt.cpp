// Exported functions of SQL statements: thin shims over the engine statement of the handle.
// The statement's own result codes become statuses of the call interface here, so that every
// failure is negative: a syntax error (197) is -59, a second parameter of one name (-71) and
// an unknown parameter name are -43, a value that does not convert (156, 213) is -23, a
// preparation failure is -64, and execution answers -46 (not prepared), -47 (locks) or -60.
// The engine error behind each is the session's last error.
#include "api/VdbApiHandles.h"
#include "base/VdbErrorCodes.h"

using namespace vdb;
using namespace vdb::api;

namespace {

constexpr TVdbApiFailure kPrepareFailure{stsCannotPrepare, stsInternalError, nullptr};
constexpr TVdbApiFailure kExecuteFailure{stsCannotExecuteSql, stsInternalError, nullptr};

std::int16_t ParamStatus(std::int16_t r) {
  if (r == 0) return 0;
  if (r == kVdbStmtDuplicateParameter) return stsInvalidIdentifier;
  if (r == kVdbStmtUnknownParameter) return stsInvalidIdentifier;
  if (r == kVdbStmtConversion || r == kVdbStmtEngineConversion) return stsWrongColumnType;
  return r < 0 ? stsEngineError : 0;
}

}  // namespace

extern "C" {

VDBAPI TVdbResult VdbStmtSetSqlText(int16_t StmtHdl, const VdbChar* SqlText) {
  return CallStatement<TVdbResult>(StmtHdl, [&](TApiSession&, TApiStatement& st) -> TVdbResult {
    const std::int16_t r = st.Statement->SetText(FromCaller(SqlText));
    return r == 0 ? 0 : stsSqlSyntaxError;
  });
}

VDBAPI TVdbResult VdbStmtAddParam(int16_t StmtHdl, const VdbChar* ParamName, int16_t ParamType, int32_t ParamSpec) {
  return CallStatement<TVdbResult>(StmtHdl, [&](TApiSession&, TApiStatement& st) -> TVdbResult {
    return ParamStatus(st.Statement->AddParameter(FromCaller(ParamName), ParamType, ParamSpec));
  });
}

VDBAPI TVdbResult VdbStmtSetParam(int16_t StmtHdl, const VdbChar* ParamName, const VdbChar* ParamValue,
                                  int32_t ParamSize) {
  return CallStatement<TVdbResult>(StmtHdl, [&](TApiSession&, TApiStatement& st) -> TVdbResult {
    const std::u16string name = FromCaller(ParamName);
    // An unknown name is refused as such, not as a value that does not convert.
    if (st.Statement->Parameters().Find(name) == nullptr) {
      static_cast<void>(st.Statement->SetParamValue(name, u"", -1));
      return stsInvalidIdentifier;
    }
    if (ParamSize < 0) return ParamStatus(st.Statement->SetParamValue(name, u"", -1));
    if (ParamValue == nullptr) return stsBufferTooSmall;
    // A blob value is one zero character followed by the raw bytes; its size counts bytes.
    const auto* text = reinterpret_cast<const char16_t*>(ParamValue);
    const TVdbSqlVariable* v = st.Statement->Parameters().Find(name);
    const bool bytes = (v != nullptr && v->Type != nullptr && v->Type->ColumnType() == vctBlob) ||
                       (ParamSize >= 2 && text[0] == 0);
    if (bytes) {
      const auto units = static_cast<std::size_t>((ParamSize + 1) / 2);
      // The zero character and the byte count (the size counts it as two bytes) come first.
      const std::u16string_view raw(text, units);
      const std::u16string_view data = raw.empty() ? raw : raw.substr(1);
      return ParamStatus(st.Statement->SetParamValue(name, data, ParamSize - 2));
    }
    return ParamStatus(st.Statement->SetParamValue(name, std::u16string_view(text, static_cast<std::size_t>(ParamSize)),
                                                   ParamSize));
  });
}

VDBAPI TVdbResult VdbStmtClearParams(int16_t StmtHdl) {
  return CallStatement<TVdbResult>(StmtHdl, [&](TApiSession&, TApiStatement& st) -> TVdbResult {
    st.Statement->ClearParams();
    return 0;
  });
}

VDBAPI TVdbResult VdbStmtPrepare(int16_t StmtHdl, int16_t CursorType) {
  return CallStatement<TVdbResult>(
      StmtHdl,
      [&](TApiSession&, TApiStatement& st) -> TVdbResult {
        // Cursor types 0, 1 and 2 ask for the result kinds static, keyset and live.
        const TVdbCursorType kind = CursorType == 1 ? tctKeySet : CursorType == 2 ? tctLiveResult : tctStatic;
        return st.Statement->Prepare(kind) < 0 ? stsCannotPrepare : 0;
      },
      kPrepareFailure);
}

VDBAPI int32_t VdbStmtExecute(int16_t StmtHdl) {
  return CallStatement<int32_t>(
      StmtHdl, [&](TApiSession&, TApiStatement& st) -> int32_t { return st.Statement->Execute(); }, kExecuteFailure);
}

VDBAPI TVdbResult VdbStmtGetErrorPos(int16_t StmtHdl, int32_t* Row, int32_t* Col) {
  return CallStatement<TVdbResult>(StmtHdl, [&](TApiSession&, TApiStatement& st) -> TVdbResult {
    if (Row != nullptr) *Row = st.Statement->LastErrorRow();
    if (Col != nullptr) *Col = st.Statement->LastErrorCol();
    return 0;
  });
}

VDBAPI TVdbResult VdbStmtCreateResultTableHdl(int16_t StmtHdl) {
  return CallStatement<TVdbResult>(
      StmtHdl,
      [&](TApiSession& s, TApiStatement& st) -> TVdbResult {
        const TVdbRltnIdx idx = st.Statement->GetResultRltnIdx();
        TVdbRelation* r = idx > 0 ? s.Session.Catalog().GetRelation(idx) : nullptr;
        if (r == nullptr) return 0;
        const TVdbIndexNo indexNo = st.Statement->GetResultIndexNo();
        return TApiRegistry::Instance().AddTable(s.Session.Handle(), [&](std::int16_t hdl) -> std::unique_ptr<TVdbCursor> {
          auto cursor = std::make_unique<TVdbCursor>(hdl, *r, idx, u"ResultTable");
          if (cursor->Open() < 0) return nullptr;
          if (indexNo >= 0 && cursor->Accessor().SetAccess(indexNo) < 0) return nullptr;
          return cursor;
        });
      },
      kPrepareFailure);
}

VDBAPI TVdbResult VdbStmtUnprepare(int16_t StmtHdl) {
  return CallStatement<TVdbResult>(StmtHdl, [&](TApiSession&, TApiStatement& st) -> TVdbResult {
    st.Statement->Unprepare();
    return 0;
  });
}

VDBAPI TVdbResult VdbStmtDelete(int16_t StmtHdl) {
  return Shield<TVdbResult>(stsInvalidStatementHandle, [&]() -> TVdbResult {
    TApiRegistry& registry = TApiRegistry::Instance();
    TApiStatement* st = registry.FindStatement(StmtHdl);
    if (st == nullptr) return stsInvalidStatementHandle;
    // The statement gives its results back to the session's catalog: in the session's turn.
    TApiSession* s = registry.FindSession(st->SessHdl);
    std::unique_lock<std::recursive_mutex> turn;
    if (s != nullptr) turn = std::unique_lock(s->CallSync);
    registry.RemoveStatement(StmtHdl);
    return 0;
  });
}

}  // extern "C"
