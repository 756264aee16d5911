// The local session: one connection of the application to one database directory. It owns
// the session's settings, its last error (with the engine log plugged in as the error log),
// the engine log and the catalog, and interprets the database location when the database is
// opened (a directory database gets its control file when it has none).
//
// Threads: a session is used by one thread at a time; its catalog adds the unlock thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "session/VdbCatalog.h"
#include "session/VdbEngineLog.h"
#include "base/VdbLastError.h"

namespace vdb {

// The 59 bytes of a directory database's control file.
inline constexpr std::string_view kVdbControlFileText = "VidoraDB database control file for directory-based database";

// The process's private directory under $TMPDIR (or /tmp when unset): "<tmp>/vidora-<pid>".
std::u16string VdbDefaultPrivateDir();

// The engine settings of a session.
struct TVdbSessionSettings {
  bool CaseSensitive = false;
  char16_t DecimalChar = u',';
  bool AutoCreateIndexes = true;
  std::u16string PrivateDir;
  std::uint32_t Station = 0;
  std::u16string IDName;
  TVdbIsolationLevel IsolationLevel = tilNone;
  std::int32_t LockingTimeout = 0;
  std::int32_t DefBlobBlockSize = 512;
  std::int32_t DefIndPageSize = 4096;
};

class TVdbLocalSession {
 public:
  // `pageManager`, `fs` (the operating system's files, or a stand-in in tests) and the
  // services must outlive the session.
  // `expressions` (kept, may be null) compiles the constraints and computed columns of tables.
  TVdbLocalSession(TVdbPageManager& pageManager, TvuFileSystem& fs, TvuServices services,
                   const IVdbExpressionCompiler* expressions = nullptr);
  ~TVdbLocalSession();
  TVdbLocalSession(const TVdbLocalSession&) = delete;
  TVdbLocalSession& operator=(const TVdbLocalSession&) = delete;

  // Settings with their defaults, a random non-zero station id (its decimal text is the
  // station name), log level 0, and the catalog.
  void Initialize(std::int16_t sessionHdl);
  // CloseDb, then the catalog goes.
  void Uninitialize();
  std::int16_t Handle() const noexcept { return FHandle; }
  TVdbSessionSettings& Settings() noexcept { return FSettings; }
  TVdbLastError& LastError() noexcept { return FLastError; }
  TVdbEngineLog& Log() noexcept { return *FLog; }
  TVdbCatalog& Catalog() noexcept { return *FCatalog; }
  bool GetIsOpen() const noexcept { return FCatalog && FCatalog->IsOpen(); }

  // The private directory: the one set, else VdbDefaultPrivateDir(); created when missing.
  std::u16string PrivateDir();
  void SetPrivateDir(std::u16string dir);
  // SetLogLevel of the engine log in the private directory. 0 or a negated code.
  std::int16_t SetLogLevel(std::int16_t level);
  void LogMessage(std::int16_t level, std::u16string_view subsystem, std::u16string_view message) {
    FLog->Write(level, subsystem, message);
  }

  // Opens the database at `location`: an existing directory (or an empty location, the
  // working directory) is a directory database; an existing file stands for its directory;
  // anything else would be a single-file container: 37 with an extension, otherwise 187
  // (containers are not supported). A failure leaves the session closed.
  std::int16_t OpenDb(std::u16string_view location);
  std::int16_t CloseDb();

 private:
  std::u16string LocationDirectory(std::u16string_view location);
  void EnsureControlFile(const std::u16string& dir);

  TVdbPageManager& FPageManager;
  TvuFileSystem& FFs;
  TvuServices FServices;
  const IVdbExpressionCompiler* FExpressions;
  std::int16_t FHandle = 0;
  TVdbSessionSettings FSettings;
  TVdbLastError FLastError;
  std::unique_ptr<TVdbEngineLog> FLog;
  std::unique_ptr<TVdbCatalog> FCatalog;
};

}  // namespace vdb
