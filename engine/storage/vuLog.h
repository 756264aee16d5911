// The diagnostic log of the page manager and the engine services: size-limited, numbered
// text files ("Log0001.txt", "Log0002.txt", ... beside the configured "Log.txt"), one line
// per message, written only when the message's severity is at most the threshold.
//
// Line format 0: label, separator, "yyyy-mm-dd hh:nn:ss.zzz", separator, message, CR LF.
// Format 1 adds the subsystem between time and message and starts every file with
// "\"SEVERITY\";\"TIMESTAMP\";\"SUBSYSTEM\";" followed by the caller's header text.
// Labels: "ERR" for severity 1, "War" for 2, three blanks otherwise. Text is UTF-8.
//
// Threads: any thread; one lock guards the file.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "storage/vuFileSystem.h"

namespace vdb {

inline constexpr std::int32_t kvuLogDefaultMaxFiles = 5;
inline constexpr std::int64_t kvuLogDefaultMaxFileSize = 20480000;
inline constexpr std::int32_t kvuLogNumberDigits = 4;
inline constexpr std::int32_t kvuLogLastNumber = 9999;

class TvuLog {
 public:
  // `fs` (the operating system's, normally) holds the files and must outlive the log.
  explicit TvuLog(TvuFileSystem& fs);
  ~TvuLog();
  TvuLog(const TvuLog&) = delete;
  TvuLog& operator=(const TvuLog&) = delete;

  // "<dir>/Log.txt" where dir is TEMP, else TMPDIR, else /tmp.
  static std::u16string DefaultFilePath();

  // Settings; they apply to the next file opened.
  void SetFilePath(std::u16string path);
  void SetFormat(std::int32_t format);
  void SetSeparator(std::u16string separator);
  void SetHeader(std::u16string header);
  void SetMaxFiles(std::int32_t count);
  void SetMaxFileSize(std::int64_t bytes);
  // −1 turns logging off (and closes the file); 0 or more opens a file when none is open.
  // Raises EVdbEngine ("Cannot create log file \"%s\"") when it cannot be created.
  void SetSeverityThreshold(std::int32_t threshold);
  std::int32_t SeverityThreshold() const noexcept { return FSeverityThreshold; }

  // Writes one line when `severity` ≤ threshold. Never raises (a failing log must not turn
  // the report of another failure into a new one): a line that cannot be written is counted.
  void Write(std::int32_t severity, std::u16string_view subsystem,
             std::u16string_view message) noexcept;
  std::uint64_t DroppedLines() const noexcept { return FDroppedLines; }
  // The file being written (empty when none is open).
  std::u16string CurrentFile();

 private:
  void OpenNextFile();  // raises on failure
  void CloseFile();
  std::u16string NumberedName(std::int32_t number) const;

  TvuFileSystem& FFileSystem;
  std::mutex FLock;
  std::u16string FFilePath;
  std::u16string FSeparator = u" ";
  std::u16string FHeader;
  std::int32_t FFormat = 0;
  std::int32_t FMaxFiles = kvuLogDefaultMaxFiles;
  std::int64_t FMaxFileSize = kvuLogDefaultMaxFileSize;
  std::int32_t FSeverityThreshold = -1;
  TvuFileHandle FFileHdl = kvuInvalidHandle;
  std::u16string FCurrentFile;
  std::int64_t FPosition = 0;
  std::uint64_t FDroppedLines = 0;
};

}  // namespace vdb
