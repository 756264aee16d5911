// The engine log of a session: an optional text file in the session's private directory,
// written while the log level (0..4) is positive. Switching logging on rotates the files
// "VdbLog<station>_<nn>.txt" over five generations (01 newest, 05 oldest) and starts a new
// 01; each event is one line with date and time, level, subsystem and message, flushed at
// once so that a crash loses nothing. It is the IVdbErrorLog of the session's last error.
//
// Threads: one log per session, used by the session's calling thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "base/VdbLastError.h"
#include "storage/vuFileSystem.h"

namespace vdb {

// Generations of log files kept.
inline constexpr int kVdbLogGenerations = 5;

// "VdbLog%d_%.2d.txt" for `station` and generation `n`.
std::u16string VdbLogFileName(std::uint32_t station, int n);

class TVdbEngineLog final : public IVdbErrorLog {
 public:
  // Local date and time of an event, as written at the start of its line.
  using TNowText = std::function<std::string()>;

  // `fs` (must outlive the log) holds `directory`; `nowText` defaults to the local time as
  // "YYYY-MM-DD hh:mm:ss".
  TVdbEngineLog(TvuFileSystem& fs, std::u16string directory, std::uint32_t station, TNowText nowText = {});
  ~TVdbEngineLog() override;
  TVdbEngineLog(const TVdbEngineLog&) = delete;
  TVdbEngineLog& operator=(const TVdbEngineLog&) = delete;

  void SetDirectory(std::u16string directory) { FDirectory = std::move(directory); }
  void SetStation(std::uint32_t station) noexcept { FStation = station; }
  std::int16_t Level() const noexcept { return FLevel; }
  // Clamps to 0..4. From 0 to positive: rotates and opens generation 1 with the line
  // "VidoraDB log file opened" (raises 3 naming the file when it cannot be made; the level
  // stays 0 then). To 0: writes "VidoraDB log file closed" and closes the file.
  void SetLogLevel(std::int16_t value);
  // Writes one line when the level is positive and at least `level`. Raises 3 when the line
  // cannot be written.
  void LogMessage(std::int16_t level, std::u16string_view subsystem, std::u16string_view message);
  // IVdbErrorLog: LogMessage without raising (a failed line is dropped).
  void Write(std::int16_t level, std::u16string_view subsystem, std::u16string_view message) noexcept override;
  // Path of generation `n` in the log's directory.
  std::u16string PathOf(int n) const;

 private:
  void WriteLine(std::u16string_view subsystem, std::int16_t level, std::u16string_view message);
  void CloseFile() noexcept;

  TvuFileSystem& FFs;
  std::u16string FDirectory;
  std::uint32_t FStation;
  TNowText FNowText;
  std::int16_t FLevel = 0;
  TvuFileHandle FHandle = kvuInvalidHandle;
  std::int64_t FPos = 0;
};

}  // namespace vdb
