// The handle tables of the call interface and the dispatch of every exported function.
// Process-wide: the session list (100 slots), the table-cursor array (255 slots) and the
// statement list (255 slots), each guarded by its own mutex; relation handles need no table
// of their own, because the catalog of the session the handle names holds the relation.
//
// A handle is classified as local, remote or invalid. This engine serves no remote sessions,
// so remote handles (table and statement handles of 256 and above) are answered like invalid
// ones, with the family's invalid-handle code. The Call* helpers resolve a handle, run the
// operation inside the call-interface guard of the session it belongs to, and return a
// status; nothing they run can let an exception reach the C caller.
//
// Threads: any thread may call; the tables are locked for lookup, allocation and release.
// Calls on one handle are not serialised: a caller must not use one table or statement
// handle from two threads at once.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/VdbBoundary.h"
#include "session/VdbCursor.h"
#include "session/VdbLocSess.h"
#include "sql/VdbSqlCompiler.h"
#include "sql/VdbStatement.h"
#include "base/VdbMessages.h"
#include "storage/vuCrypt.h"
#include "storage/vuOSFileSystem.h"
#include "vidoradb/vdbapi.h"

namespace vdb::api {

inline constexpr std::int16_t kMaxSessions = 100;
inline constexpr std::int16_t kMaxTableHandles = 255;
inline constexpr std::int16_t kMaxStatementHandles = 255;
// The highest relation handle: slot 254 of session 100.
inline constexpr std::int32_t kMaxRltnHdl = (kMaxSessions - 1) * 256 + kVdbMaxRltnIdx;
inline constexpr std::uint32_t kMaxStationNo = 0x7FFFFFFE;

enum class THandleKind { Local, Remote, Invalid };

// Classification by the rules of the handle table.
THandleKind ClassifySession(std::int32_t sessHdl) noexcept;
THandleKind ClassifyTable(std::int32_t tableHdl) noexcept;
THandleKind ClassifyStatement(std::int32_t stmtHdl) noexcept;
// Local when the handle lies in 1..kMaxRltnHdl with a slot of 1..254; whether the relation
// is open is decided by the session's catalog.
THandleKind ClassifyRelation(std::int32_t rltnHdl) noexcept;
std::int16_t SessionOfRltnHdl(std::int32_t rltnHdl) noexcept;

// One session slot: the local session and what the interface keeps beside it.
class TApiSession {
 public:
  TApiSession(TVdbPageManager& pageManager, TvuFileSystem& fs, TvuServices services);
  TVdbLocalSession Session;
  TVdbPasswordCallback PasswordCallback = nullptr;
  // The name of the table being opened, handed to the password callback.
  std::u16string OpeningTable;
  std::uint32_t ConnectionId = 0;
  std::u16string NetDirs = u"AUTO";
  std::u16string ReadOnlyDirs;
  bool CaretSwitch = false;
  std::int32_t DefIndPageSize = 4096;
  // Held for the whole of every call on the session, its relations, cursors and statements:
  // the cursors of one session share its relations' files, buffers and last error, so calls
  // from several threads take turns.
  std::recursive_mutex CallSync;
};

// A statement handle's entry: the engine statement on the session's catalog.
struct TApiStatement {
  std::int16_t SessHdl = 0;
  std::unique_ptr<TVdbStatement> Statement;
};

// A table handle's entry: the cursor and the session it belongs to.
struct TApiTable {
  std::int16_t SessHdl = 0;
  std::unique_ptr<TVdbCursor> Cursor;
  TVdbTableChangeProc ChangeProc = nullptr;
  // The column of the memo or blob being read (InitGetBlob .. PerformGetBlob), 0 for none.
  std::int32_t BlobTransferField = 0;
  // The thread inside a call on this cursor (none: free). A cursor serves one thread at a
  // time; a second thread is refused instead of waiting.
  std::atomic<std::thread::id> User{};
};

// Enters a cursor for the calling thread; entering it again from the same thread is allowed.
class TApiTableEntry {
 public:
  explicit TApiTableEntry(TApiTable& t) noexcept : FTable(t) {
    std::thread::id none{};
    const std::thread::id me = std::this_thread::get_id();
    FEntered = t.User.compare_exchange_strong(none, me);
    FAllowed = FEntered || none == me;
  }
  ~TApiTableEntry() {
    if (FEntered) FTable.User.store(std::thread::id{});
  }
  TApiTableEntry(const TApiTableEntry&) = delete;
  TApiTableEntry& operator=(const TApiTableEntry&) = delete;
  // False: another thread is inside a call on the cursor.
  bool Allowed() const noexcept { return FAllowed; }
  // The cursor is about to be freed: nothing is to be given back.
  void Dismiss() noexcept { FEntered = false; }

 private:
  TApiTable& FTable;
  bool FEntered = false;
  bool FAllowed = false;
};

class TApiRegistry {
 public:
  static TApiRegistry& Instance();

  TVdbPageManager& PageManager() noexcept { return FPageManager; }
  TvuFileSystem& FileSystem() noexcept { return FFs; }
  TvuServices Services() const noexcept { return FServices; }

  // ---- sessions (under the session-list lock)
  // A new session in the lowest free slot, initialised with its handle; -53 when all 100
  // slots are taken or the initialisation fails.
  std::int16_t AddSession();
  // The session in slot `sessHdl` - 1, null when the slot is empty or out of range.
  TApiSession* FindSession(std::int32_t sessHdl);
  // Deletes the session's table and statement handles, uninitialises and frees it.
  void RemoveSession(std::int16_t sessHdl);

  // ---- table handles (under the table-array lock)
  // Runs `make(tableHdl)` for the lowest free slot and stores the cursor it returns; -2 when
  // all 255 are taken. `make` returns null after recording why it could not make one; the
  // slot then stays free and -100 is returned.
  std::int16_t AddTable(std::int16_t sessHdl, const std::function<std::unique_ptr<TVdbCursor>(std::int16_t)>& make);
  TApiTable* FindTable(std::int32_t tableHdl);
  // Frees the slot; the cursor is closed and destroyed after the lock is given back.
  void RemoveTable(std::int16_t tableHdl);
  // Frees every table handle of `sessHdl`.
  void RemoveTablesOfSession(std::int16_t sessHdl);

  // ---- statement handles (under the statement-list lock)
  // A statement on the session's catalog; -2 when all 255 are taken.
  std::int16_t AddStatement(std::int16_t sessHdl, TVdbLocalSession& session);
  TApiStatement* FindStatement(std::int32_t stmtHdl);
  void RemoveStatement(std::int16_t stmtHdl);
  void RemoveStatementsOfSession(std::int16_t sessHdl);

 private:
  TApiRegistry();

  TVdbPageManager& FPageManager;
  TvuOSFileSystem FFs;
  TvuServices FServices;
  std::mutex FSessionSync;
  std::array<std::unique_ptr<TApiSession>, kMaxSessions> FSessions;
  // Declared after the sessions: at the end of the process cursors and statements go before
  // the sessions whose relations they read.
  std::mutex FTableSync;
  std::array<std::unique_ptr<TApiTable>, kMaxTableHandles> FTables;
  std::mutex FStatementSync;
  std::array<std::unique_ptr<TApiStatement>, kMaxStatementHandles> FStatements;
};

// ---- dispatch

// Runs `op` and returns its result; any exception becomes `failure`. For code that runs
// before a session is known (nothing can be recorded then).
template <class R, class F>
R Shield(R failure, F&& op) noexcept {
  try {
    return op();
  } catch (...) {
    return failure;
  }
}

// Session functions: `op(TApiSession&)` inside the session's guard. `mustBeOpen`: the
// database must be open, else the invalid-session code.
template <class R, class F>
R CallSession(std::int32_t sessHdl, bool mustBeOpen, F&& op, const TVdbApiFailure& failure = {}) noexcept {
  return Shield<R>(static_cast<R>(stsInvalidSessionHandle), [&]() -> R {
    if (ClassifySession(sessHdl) != THandleKind::Local) return static_cast<R>(stsInvalidSessionHandle);
    TApiSession* s = TApiRegistry::Instance().FindSession(sessHdl);
    if (s == nullptr || (mustBeOpen && !s->Session.GetIsOpen())) return static_cast<R>(stsInvalidSessionHandle);
    std::lock_guard turn(s->CallSync);
    return static_cast<R>(GuardApiCall(
        s->Session.LastError(), [&]() -> R { return op(*s); }, failure));
  });
}

// Relation functions: `op(TApiSession&, TVdbRelation&, TVdbRltnIdx)`.
template <class R, class F>
R CallRelation(std::int32_t rltnHdl, F&& op, const TVdbApiFailure& failure = {}) noexcept {
  return Shield<R>(static_cast<R>(stsInvalidRelationHandle), [&]() -> R {
    if (ClassifyRelation(rltnHdl) != THandleKind::Local) return static_cast<R>(stsInvalidRelationHandle);
    TApiSession* s = TApiRegistry::Instance().FindSession(SessionOfRltnHdl(rltnHdl));
    if (s == nullptr || !s->Session.GetIsOpen()) return static_cast<R>(stsInvalidRelationHandle);
    std::lock_guard turn(s->CallSync);
    const auto idx = TVdbCatalog::GetRltnIdx(rltnHdl);
    TVdbRelation* relation = s->Session.Catalog().GetRelation(idx);
    if (relation == nullptr) return static_cast<R>(stsInvalidRelationHandle);
    return static_cast<R>(GuardApiCall(
        s->Session.LastError(), [&]() -> R { return op(*s, *relation, idx); }, failure));
  });
}

// Table functions: `op(TApiTable&, TVdbCursor&)`.
template <class R, class F>
R CallTable(std::int32_t tableHdl, F&& op, const TVdbApiFailure& failure = {}) noexcept {
  return Shield<R>(static_cast<R>(stsInvalidTableHandle), [&]() -> R {
    if (ClassifyTable(tableHdl) != THandleKind::Local) return static_cast<R>(stsInvalidTableHandle);
    TApiRegistry& registry = TApiRegistry::Instance();
    TApiTable* t = registry.FindTable(tableHdl);
    if (t == nullptr) return static_cast<R>(stsInvalidTableHandle);
    TApiSession* s = registry.FindSession(t->SessHdl);
    if (s == nullptr) return static_cast<R>(stsInvalidTableHandle);
    // Refused before waiting for the session: the other thread may be the one to wait for.
    const TApiTableEntry entry(*t);
    if (!entry.Allowed()) return static_cast<R>(stsWrongContext);
    std::lock_guard turn(s->CallSync);
    return static_cast<R>(GuardApiCall(
        s->Session.LastError(), [&]() -> R { return op(*t, *t->Cursor); }, failure));
  });
}

// Statement functions: `op(TApiSession&, TApiStatement&)`.
template <class R, class F>
R CallStatement(std::int32_t stmtHdl, F&& op, const TVdbApiFailure& failure = {}) noexcept {
  return Shield<R>(static_cast<R>(stsInvalidStatementHandle), [&]() -> R {
    if (ClassifyStatement(stmtHdl) != THandleKind::Local) return static_cast<R>(stsInvalidStatementHandle);
    TApiRegistry& registry = TApiRegistry::Instance();
    TApiStatement* st = registry.FindStatement(stmtHdl);
    if (st == nullptr) return static_cast<R>(stsInvalidStatementHandle);
    TApiSession* s = registry.FindSession(st->SessHdl);
    if (s == nullptr) return static_cast<R>(stsInvalidStatementHandle);
    std::lock_guard turn(s->CallSync);
    return static_cast<R>(GuardApiCall(
        s->Session.LastError(), [&]() -> R { return op(*s, *st); }, failure));
  });
}

// Raises the internal unwinding exception for a negative status whose error is recorded.
inline std::int32_t CheckStatus(std::int32_t status) {
  if (status < 0) throw EVdbEngine(VDB_INTERNAL_UNWIND);
  return status;
}

// Raises engine error 187 naming `what`: the functions of subsystems this engine leaves out.
[[noreturn]] void RaiseNotSupported(std::u16string_view what);
// The failure that answers RaiseNotSupported with -19.
inline constexpr TVdbApiFailure kNotSupportedFailure{stsWrongContext, stsInternalError, nullptr};

// The cipher of a caller's encryption method; the default one enciphers a table that has a
// key with Blowfish and leaves one without a key plain.
TvuEncryptionMethod EncryptionOfCaller(std::int16_t method, bool hasKey) noexcept;

// A caller's text: null counts as empty.
std::u16string FromCaller(const VdbChar* text);
std::u16string_view ViewFromCaller(const VdbChar* text) noexcept;
// Copies `text` into a fixed character array of a record (cut to fit, always terminated).
template <std::size_t N>
void CopyToArray(std::u16string_view text, VdbChar (&array)[N]) noexcept {
  CopyToCallerBuffer(text, array, static_cast<std::int32_t>(N));
}
// The text in a fixed character array of a caller's record, up to its terminator.
template <std::size_t N>
std::u16string FromArray(const VdbChar (&array)[N]) {
  std::size_t n = 0;
  while (n < N && array[n] != 0) ++n;
  return std::u16string(reinterpret_cast<const char16_t*>(array), n);
}

}  // namespace vdb::api
