#include "session/VdbEngineLog.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "base/VdbErrorCodes.h"
#include "base/VdbErrors.h"

namespace vdb {

namespace {

std::string LocalNowText() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
  return text;
}

// Right-aligned in `width` characters; longer texts are kept whole.
std::string Pad(std::string text, std::size_t width) {
  if (text.size() < width) text.insert(0, width - text.size(), ' ');
  return text;
}

}  // namespace

std::u16string VdbLogFileName(std::uint32_t station, int n) {
  char name[48];
  std::snprintf(name, sizeof name, "VdbLog%u_%.2d.txt", station, n);
  return VdbUtf8ToUtf16(name);
}

TVdbEngineLog::TVdbEngineLog(TvuFileSystem& fs, std::u16string directory, std::uint32_t station, TNowText nowText)
    : FFs(fs), FDirectory(std::move(directory)), FStation(station), FNowText(std::move(nowText)) {
  if (!FNowText) FNowText = LocalNowText;
}

TVdbEngineLog::~TVdbEngineLog() { CloseFile(); }

std::u16string TVdbEngineLog::PathOf(int n) const {
  std::u16string path = FDirectory;
  if (!path.empty() && path.back() != u'/') path += u'/';
  return path + VdbLogFileName(FStation, n);
}

void TVdbEngineLog::SetLogLevel(std::int16_t value) {
  value = std::clamp<std::int16_t>(value, 0, 4);
  if (FLevel == 0 && value > 0) {
    // Oldest first, so that every rename has a free target. A generation that does not
    // exist yet is simply not there to move.
    for (int n = kVdbLogGenerations; n >= 1; --n) {
      const std::u16string name = PathOf(n);
      if (!FFs.FileExists(name)) continue;
      // A generation that cannot be moved aside would be overwritten: refuse instead.
      const bool moved = n == kVdbLogGenerations ? FFs.DeleteFile(name) : FFs.RenameFile(name, PathOf(n + 1));
      if (!moved) RaiseEngineError(errFileWrite, {name});
    }
    const std::u16string first = PathOf(1);
    FHandle = FFs.CreateFile(first);
    if (!TvuFileSystem::IsValidHandle(FHandle)) RaiseEngineError(errFileWrite, {first});
    FPos = 0;
    FLevel = value;
    WriteLine(u"", value, u"VidoraDB log file opened");
  } else if (FLevel > 0 && value == 0) {
    const std::int16_t old = FLevel;
    try {
      WriteLine(u"", old, u"VidoraDB log file closed");
    } catch (...) {
      CloseFile();
      FLevel = 0;
      throw;
    }
    CloseFile();
    FLevel = 0;
  } else {
    FLevel = value;
  }
}

void TVdbEngineLog::LogMessage(std::int16_t level, std::u16string_view subsystem, std::u16string_view message) {
  if (FLevel <= 0 || level > FLevel) return;
  WriteLine(subsystem, level, message);
}

void TVdbEngineLog::Write(std::int16_t level, std::u16string_view subsystem, std::u16string_view message) noexcept {
  try {
    LogMessage(level, subsystem, message);
  } catch (...) {
    // A log that cannot write drops the line: the error being recorded matters more.
  }
}

void TVdbEngineLog::WriteLine(std::u16string_view subsystem, std::int16_t level, std::u16string_view message) {
  if (!TvuFileSystem::IsValidHandle(FHandle)) return;
  const std::string line = Pad(FNowText(), 12) + " " + Pad(std::to_string(level), 2) + " " +
                           Pad(VdbUtf16ToUtf8(subsystem), 20) + " " + VdbUtf16ToUtf8(message) + "\n";
  const std::int64_t written = FFs.FileWrite(FHandle, FPos, line.data(), static_cast<std::int64_t>(line.size()));
  if (written != static_cast<std::int64_t>(line.size())) RaiseEngineError(errFileWrite, {PathOf(1)});
  FPos += written;
  if (!FFs.FlushFile(FHandle)) RaiseEngineError(errFileWrite, {PathOf(1)});
}

void TVdbEngineLog::CloseFile() noexcept {
  if (TvuFileSystem::IsValidHandle(FHandle)) FFs.CloseFile(FHandle);
  FHandle = kvuInvalidHandle;
}

}  // namespace vdb
