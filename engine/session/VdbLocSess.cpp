#include "session/VdbLocSess.h"

#include <unistd.h>

#include <cstdlib>
#include <limits>

#include "base/VdbErrorCodes.h"
#include "tables/VdbTableNames.h"

namespace vdb {

std::u16string VdbDefaultPrivateDir() {
  const char* tmp = std::getenv("TMPDIR");
  std::string root = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  return VdbUtf8ToUtf16(root + "/vidora-" + std::to_string(::getpid()));
}

TVdbLocalSession::TVdbLocalSession(TVdbPageManager& pageManager, TvuFileSystem& fs, TvuServices services,
                                   const IVdbExpressionCompiler* expressions)
    : FPageManager(pageManager), FFs(fs), FServices(services), FExpressions(expressions) {}

TVdbLocalSession::~TVdbLocalSession() { Uninitialize(); }

void TVdbLocalSession::Initialize(std::int16_t sessionHdl) {
  FHandle = sessionHdl;
  FSettings = TVdbSessionSettings{};
  do {
    FSettings.Station = FServices.Random.NextBelow(std::numeric_limits<std::uint32_t>::max());
  } while (FSettings.Station == 0);
  FSettings.IDName = VdbUtf8ToUtf16(std::to_string(FSettings.Station));
  FLog = std::make_unique<TVdbEngineLog>(FFs, std::u16string(), FSettings.Station);
  FLastError.SetLog(FLog.get());
  FCatalog = std::make_unique<TVdbCatalog>(FPageManager, FLastError, FServices, sessionHdl, FExpressions);
}

void TVdbLocalSession::Uninitialize() {
  if (FCatalog) static_cast<void>(CloseDb());
  FCatalog.reset();
  FLastError.SetLog(nullptr);
  if (FLog) FLog->Write(1, u"Session", u"closed");
  FLog.reset();
}

std::u16string TVdbLocalSession::PrivateDir() {
  if (FSettings.PrivateDir.empty()) FSettings.PrivateDir = VdbDefaultPrivateDir();
  if (!FFs.DirectoryExists(FSettings.PrivateDir) && !FFs.ForcePath(FSettings.PrivateDir)) {
    RaiseEngineError(errFileWrite, {FSettings.PrivateDir});
  }
  return FSettings.PrivateDir;
}

void TVdbLocalSession::SetPrivateDir(std::u16string dir) { FSettings.PrivateDir = std::move(dir); }

std::int16_t TVdbLocalSession::SetLogLevel(std::int16_t level) {
  return GuardEngineCall(FLastError, [&] {
    if (level > 0 && FLog->Level() == 0) {
      FLog->SetDirectory(PrivateDir());
      FLog->SetStation(FSettings.Station);
    }
    FLog->SetLogLevel(level);
  });
}

std::u16string TVdbLocalSession::LocationDirectory(std::u16string_view location) {
  std::u16string loc(location);
  while (loc.size() > 1 && loc.back() == u'/') loc.pop_back();
  if (loc.empty()) return FFs.ExpandFileName(u".");
  if (FFs.DirectoryExists(loc)) return loc;
  if (FFs.FileExists(loc)) {
    std::u16string dir(VdbExtractDir(loc));
    while (dir.size() > 1 && dir.back() == u'/') dir.pop_back();
    return dir.empty() ? FFs.ExpandFileName(u".") : dir;
  }
  if (!VdbExtractExt(loc).empty()) RaiseEngineError(errFileNotFoundOrDenied, {loc});
  RaiseEngineError(errNotSupported, {u"single-file database \"" + loc + u".vdbd\""});
}

// The control file marks the directory as a database. A medium that cannot be written still
// holds a readable database, so a failure to create it does not stop the opening.
void TVdbLocalSession::EnsureControlFile(const std::u16string& dir) {
  std::u16string last(VdbExtractFileName(dir));
  if (last.empty()) last = u"database";
  const std::u16string path = dir + u"/" + last + u".vdbd";
  if (FFs.FileExists(path)) return;
  const TvuFileHandle h = FFs.CreateFile(path);
  if (!TvuFileSystem::IsValidHandle(h)) return;
  const std::int64_t written =
      FFs.FileWrite(h, 0, kVdbControlFileText.data(), static_cast<std::int64_t>(kVdbControlFileText.size()));
  FFs.CloseFile(h);
  if (written != static_cast<std::int64_t>(kVdbControlFileText.size())) FFs.DeleteFile(path);
}

std::int16_t TVdbLocalSession::OpenDb(std::u16string_view location) {
  if (GetIsOpen()) return 0;
  const std::int16_t r = GuardEngineCall(FLastError, [&] {
    const std::u16string dir = LocationDirectory(location);
    EnsureControlFile(dir);
    FCatalog->SetLocation(dir);
    if (FSettings.PrivateDir.empty()) FSettings.PrivateDir = VdbDefaultPrivateDir();
    FCatalog->SetPrivateDir(FSettings.PrivateDir);
    if (const std::int16_t opened = FCatalog->Open(FFs); opened < 0) throw EVdbEngine(VDB_INTERNAL_UNWIND);
    FLog->Write(1, u"Session", u"database opened: " + dir);
  });
  if (r < 0) static_cast<void>(FCatalog->Close());
  return r;
}

std::int16_t TVdbLocalSession::CloseDb() {
  if (!FCatalog) return 0;
  return FCatalog->Close();
}

}  // namespace vdb
