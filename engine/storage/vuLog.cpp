// The diagnostic log. Any thread.
#include "storage/vuLog.h"

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "base/VdbErrorCodes.h"
#include "base/VdbErrors.h"
#include "base/VdbFormat.h"

namespace vdb {

namespace {

std::string TimeStamp() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm local{};
  localtime_r(&ts.tv_sec, &local);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<int>(ts.tv_nsec / 1000000));
  return buf;
}

// Splits "dir/Log.txt" into "dir", "Log" and ".txt".
void SplitPath(const std::u16string& path, std::u16string& dir, std::u16string& stem,
               std::u16string& ext) {
  const std::size_t slash = path.rfind(u'/');
  dir = slash == std::u16string::npos ? u"." : path.substr(0, slash);
  const std::u16string name = slash == std::u16string::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.rfind(u'.');
  stem = dot == std::u16string::npos ? name : name.substr(0, dot);
  ext = dot == std::u16string::npos ? u"" : name.substr(dot);
}

}  // namespace

TvuLog::TvuLog(TvuFileSystem& fs) : FFileSystem(fs), FFilePath(DefaultFilePath()) {}

TvuLog::~TvuLog() { CloseFile(); }

std::u16string TvuLog::DefaultFilePath() {
  const char* dir = std::getenv("TEMP");
  if (!dir || !*dir) dir = std::getenv("TMPDIR");
  if (!dir || !*dir) dir = "/tmp";
  return vdb::VdbUtf8ToUtf16(std::string(dir) + "/Log.txt");
}

void TvuLog::SetFilePath(std::u16string path) {
  std::lock_guard guard(FLock);
  FFilePath = std::move(path);
}
void TvuLog::SetFormat(std::int32_t format) {
  std::lock_guard guard(FLock);
  FFormat = format;
}
void TvuLog::SetSeparator(std::u16string separator) {
  std::lock_guard guard(FLock);
  FSeparator = std::move(separator);
}
void TvuLog::SetHeader(std::u16string header) {
  std::lock_guard guard(FLock);
  FHeader = std::move(header);
}
void TvuLog::SetMaxFiles(std::int32_t count) {
  std::lock_guard guard(FLock);
  FMaxFiles = std::max(1, count);
}
void TvuLog::SetMaxFileSize(std::int64_t bytes) {
  std::lock_guard guard(FLock);
  FMaxFileSize = std::max<std::int64_t>(1, bytes);
}

void TvuLog::SetSeverityThreshold(std::int32_t threshold) {
  std::lock_guard guard(FLock);
  FSeverityThreshold = threshold;
  if (threshold < 0) {
    CloseFile();
  } else if (!TvuFileSystem::IsValidHandle(FFileHdl)) {
    OpenNextFile();
  }
}

std::u16string TvuLog::CurrentFile() {
  std::lock_guard guard(FLock);
  return FCurrentFile;
}

std::u16string TvuLog::NumberedName(std::int32_t number) const {
  std::u16string dir, stem, ext;
  SplitPath(FFilePath, dir, stem, ext);
  std::string digits = std::to_string(number);
  digits.insert(0, static_cast<std::size_t>(std::max<int>(0, kvuLogNumberDigits - static_cast<int>(digits.size()))), '0');
  return dir + u"/" + stem + VdbUtf8ToUtf16(digits) + ext;
}

void TvuLog::CloseFile() {
  if (TvuFileSystem::IsValidHandle(FFileHdl)) FFileSystem.CloseFile(FFileHdl);
  FFileHdl = kvuInvalidHandle;
  FCurrentFile.clear();
}

void TvuLog::OpenNextFile() {
  CloseFile();
  std::u16string dir, stem, ext;
  SplitPath(FFilePath, dir, stem, ext);
  // The numbered files there are, oldest (lowest number) first.
  std::vector<std::pair<std::int32_t, std::u16string>> existing;
  TvuFindFileRec rec;
  for (bool ok = FFileSystem.FindFirstFile(dir + u"/" + stem + u"????" + ext, 0, rec); ok;
       ok = FFileSystem.FindNextFile(rec)) {
    const std::u16string digits = rec.Name.substr(stem.size(), kvuLogNumberDigits);
    if (!std::all_of(digits.begin(), digits.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; })) {
      continue;
    }
    std::int32_t n = 0;
    for (char16_t c : digits) n = n * 10 + (c - u'0');
    existing.push_back({n, dir + u"/" + rec.Name});
  }
  FFileSystem.FindFileClose(rec);
  std::sort(existing.begin(), existing.end());
  while (!existing.empty() && static_cast<std::int32_t>(existing.size()) >= FMaxFiles) {
    FFileSystem.DeleteFile(existing.front().second);
    existing.erase(existing.begin());
  }
  std::int32_t next = existing.empty() ? 1 : existing.back().first + 1;
  if (next > kvuLogLastNumber) {
    for (std::size_t i = 0; i < existing.size(); ++i) {
      FFileSystem.RenameFile(existing[i].second, NumberedName(static_cast<std::int32_t>(i + 1)));
    }
    next = static_cast<std::int32_t>(existing.size()) + 1;
  }
  const std::u16string name = NumberedName(next);
  FFileHdl = FFileSystem.CreateFile(name);
  if (!TvuFileSystem::IsValidHandle(FFileHdl)) {
    throw EVdbEngine::CreateMsg(errFileWrite, u"Cannot create log file \"" + name + u"\"");
  }
  FCurrentFile = name;
  FPosition = 0;
  if (FFormat == 1) {
    const std::string header =
        "\"SEVERITY\";\"TIMESTAMP\";\"SUBSYSTEM\";" + VdbUtf16ToUtf8(FHeader) + "\r\n";
    FPosition = FFileSystem.FileWrite(FFileHdl, 0, header.data(),
                                      static_cast<std::int64_t>(header.size()));
  }
}

void TvuLog::Write(std::int32_t severity, std::u16string_view subsystem,
                   std::u16string_view message) noexcept {
  try {
    std::lock_guard guard(FLock);
    if (FSeverityThreshold < 0 || severity > FSeverityThreshold) return;
    const std::string sep = VdbUtf16ToUtf8(FSeparator);
    std::string line = severity == 1 ? "ERR" : severity == 2 ? "War" : "   ";
    line += sep + TimeStamp() + sep;
    if (FFormat == 1) line += VdbUtf16ToUtf8(subsystem) + sep;
    line += VdbUtf16ToUtf8(message) + "\r\n";
    const auto size = static_cast<std::int64_t>(line.size());
    if (!TvuFileSystem::IsValidHandle(FFileHdl) || (FPosition > 0 && FPosition + size > FMaxFileSize)) {
      OpenNextFile();
    }
    if (FFileSystem.FileWrite(FFileHdl, FPosition, line.data(), size) != size) {
      ++FDroppedLines;
      return;
    }
    FPosition += size;
  } catch (...) {
    ++FDroppedLines;
  }
}

}  // namespace vdb
