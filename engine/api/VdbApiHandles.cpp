#include "api/VdbApiHandles.h"

#include <algorithm>
#include <span>
#include <utility>

#include "base/VdbErrorCodes.h"

namespace vdb::api {

THandleKind ClassifySession(std::int32_t sessHdl) noexcept {
  return sessHdl >= 1 && sessHdl <= kMaxSessions ? THandleKind::Local : THandleKind::Invalid;
}

namespace {
// Table and statement handles: 1..255 local, 256 and above name a remote session.
THandleKind ClassifySlotHandle(std::int32_t hdl, std::int32_t max) noexcept {
  if (hdl >= 1 && hdl <= max) return THandleKind::Local;
  if (hdl >= 256 && hdl <= 0x7FFF) return THandleKind::Remote;
  return THandleKind::Invalid;
}
}  // namespace

THandleKind ClassifyTable(std::int32_t tableHdl) noexcept { return ClassifySlotHandle(tableHdl, kMaxTableHandles); }

THandleKind ClassifyStatement(std::int32_t stmtHdl) noexcept {
  return ClassifySlotHandle(stmtHdl, kMaxStatementHandles);
}

// Every slot the catalog hands out (1..254) of every session (1..100) is a valid handle.
THandleKind ClassifyRelation(std::int32_t rltnHdl) noexcept {
  if (rltnHdl < 1 || rltnHdl > kMaxRltnHdl) return THandleKind::Invalid;
  return TVdbCatalog::IsValidRltnIdx(TVdbCatalog::GetRltnIdx(rltnHdl)) ? THandleKind::Local : THandleKind::Invalid;
}

std::int16_t SessionOfRltnHdl(std::int32_t rltnHdl) noexcept { return static_cast<std::int16_t>((rltnHdl >> 8) + 1); }

TApiSession::TApiSession(TVdbPageManager& pageManager, TvuFileSystem& fs, TvuServices services)
    : Session(pageManager, fs, services, &VdbSqlCompiler()) {}

TApiRegistry& TApiRegistry::Instance() {
  static TApiRegistry registry;
  return registry;
}

TApiRegistry::TApiRegistry() : FPageManager(TVdbPageManager::Instance()), FServices(vuDefaultServices()) {}

// ---- sessions

std::int16_t TApiRegistry::AddSession() {
  std::lock_guard lock(FSessionSync);
  const auto free = std::find(FSessions.begin(), FSessions.end(), nullptr);
  if (free == FSessions.end()) return stsCannotCreateSession;
  const auto hdl = static_cast<std::int16_t>(free - FSessions.begin() + 1);
  try {
    auto s = std::make_unique<TApiSession>(FPageManager, FFs, FServices);
    s->Session.Initialize(hdl);
    s->ConnectionId = s->Session.Settings().Station;
    TApiSession* raw = s.get();
    // The catalog asks for a key when a table's credentials are wrong. The caller's procedure
    // is foreign code: whatever it does, the catalog sees an answer and nothing unwinds.
    s->Session.Catalog().PasswordCallback = [raw, hdl](std::span<char16_t> buffer) -> int {
      const TVdbPasswordCallback callback = raw->PasswordCallback;
      if (callback == nullptr || buffer.size() < 2) return 1;
      const std::size_t maxLen = std::min<std::size_t>(buffer.size(), 256);
      const std::u16string table = raw->OpeningTable;
      int answer = 1;
      try {
        answer = callback(hdl, reinterpret_cast<const VdbChar*>(table.c_str()),
                          reinterpret_cast<VdbChar*>(buffer.data()), static_cast<std::int32_t>(maxLen));
      } catch (...) {
        answer = 1;
      }
      buffer[maxLen - 1] = 0;
      return answer == 0 ? 0 : 1;
    };
    *free = std::move(s);
  } catch (...) {
    return stsCannotCreateSession;
  }
  return hdl;
}

TApiSession* TApiRegistry::FindSession(std::int32_t sessHdl) {
  if (ClassifySession(sessHdl) != THandleKind::Local) return nullptr;
  std::lock_guard lock(FSessionSync);
  return FSessions[static_cast<std::size_t>(sessHdl - 1)].get();
}

void TApiRegistry::RemoveSession(std::int16_t sessHdl) {
  if (ClassifySession(sessHdl) != THandleKind::Local) return;
  RemoveStatementsOfSession(sessHdl);
  RemoveTablesOfSession(sessHdl);
  std::unique_ptr<TApiSession> gone;
  {
    std::lock_guard lock(FSessionSync);
    gone = std::move(FSessions[static_cast<std::size_t>(sessHdl - 1)]);
  }
  if (gone) gone->Session.Uninitialize();
}

// ---- table handles

std::int16_t TApiRegistry::AddTable(std::int16_t sessHdl,
                                    const std::function<std::unique_ptr<TVdbCursor>(std::int16_t)>& make) {
  std::lock_guard lock(FTableSync);
  const auto free = std::find(FTables.begin(), FTables.end(), nullptr);
  if (free == FTables.end()) return stsOutOfMemory;
  const auto hdl = static_cast<std::int16_t>(free - FTables.begin() + 1);
  auto entry = std::make_unique<TApiTable>();
  entry->SessHdl = sessHdl;
  entry->Cursor = make(hdl);
  if (!entry->Cursor) return stsEngineError;
  *free = std::move(entry);
  return hdl;
}

TApiTable* TApiRegistry::FindTable(std::int32_t tableHdl) {
  if (ClassifyTable(tableHdl) != THandleKind::Local) return nullptr;
  std::lock_guard lock(FTableSync);
  return FTables[static_cast<std::size_t>(tableHdl - 1)].get();
}

void TApiRegistry::RemoveTable(std::int16_t tableHdl) {
  if (ClassifyTable(tableHdl) != THandleKind::Local) return;
  std::unique_ptr<TApiTable> gone;
  {
    std::lock_guard lock(FTableSync);
    gone = std::move(FTables[static_cast<std::size_t>(tableHdl - 1)]);
  }
  if (gone && gone->Cursor) static_cast<void>(gone->Cursor->Close());
}

void TApiRegistry::RemoveTablesOfSession(std::int16_t sessHdl) {
  std::vector<std::unique_ptr<TApiTable>> gone;
  {
    std::lock_guard lock(FTableSync);
    for (auto& t : FTables) {
      if (t && t->SessHdl == sessHdl) gone.push_back(std::move(t));
    }
  }
  for (auto& t : gone) static_cast<void>(t->Cursor->Close());
}

// ---- statement handles

std::int16_t TApiRegistry::AddStatement(std::int16_t sessHdl, TVdbLocalSession& session) {
  std::lock_guard lock(FStatementSync);
  const auto free = std::find(FStatements.begin(), FStatements.end(), nullptr);
  if (free == FStatements.end()) return stsOutOfMemory;
  auto st = std::make_unique<TApiStatement>();
  st->SessHdl = sessHdl;
  st->Statement = std::make_unique<TVdbStatement>(session.Catalog(), session.LastError());
  *free = std::move(st);
  return static_cast<std::int16_t>(free - FStatements.begin() + 1);
}

TApiStatement* TApiRegistry::FindStatement(std::int32_t stmtHdl) {
  if (ClassifyStatement(stmtHdl) != THandleKind::Local) return nullptr;
  std::lock_guard lock(FStatementSync);
  return FStatements[static_cast<std::size_t>(stmtHdl - 1)].get();
}

void TApiRegistry::RemoveStatement(std::int16_t stmtHdl) {
  if (ClassifyStatement(stmtHdl) != THandleKind::Local) return;
  std::unique_ptr<TApiStatement> gone;
  std::lock_guard lock(FStatementSync);
  gone = std::move(FStatements[static_cast<std::size_t>(stmtHdl - 1)]);
}

void TApiRegistry::RemoveStatementsOfSession(std::int16_t sessHdl) {
  std::lock_guard lock(FStatementSync);
  for (auto& st : FStatements) {
    if (st && st->SessHdl == sessHdl) st.reset();
  }
}

// ---- helpers

void RaiseNotSupported(std::u16string_view what) { RaiseEngineError(errNotSupported, {std::u16string(what)}); }

TvuEncryptionMethod EncryptionOfCaller(std::int16_t method, bool hasKey) noexcept {
  switch (method) {
    case VDB_ENC_NONE:
      return emNone;
    case VDB_ENC_PROTECTION:
      return emProtection;
    case VDB_ENC_CLASSIC:
      return emClassic5;
    case VDB_ENC_FAST:
      return emFast;
    case VDB_ENC_BLOWFISH:
      return emBlowfish;
    case VDB_ENC_RIJNDAEL:
      return emRijndael;
    default:
      return hasKey ? emBlowfish : emNone;
  }
}

std::u16string FromCaller(const VdbChar* text) { return std::u16string(ViewFromCaller(text)); }

std::u16string_view ViewFromCaller(const VdbChar* text) noexcept {
  if (text == nullptr) return {};
  return std::u16string_view(reinterpret_cast<const char16_t*>(text));
}

}  // namespace vdb::api
