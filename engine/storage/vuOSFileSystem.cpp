// The POSIX file system. Any thread.
#include "storage/vuOSFileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "base/VdbErrorCodes.h"
#include "base/VdbErrors.h"
#include "base/VdbFormat.h"

namespace vdb {

namespace {

// One read or write call moves at most this much, so that counts fit ssize_t everywhere.
constexpr std::int64_t kMaxChunk = std::int64_t{1} << 30;

int FcntlLock(int fd, int cmd, struct flock& fl) {
  int r;
  do {
    r = fcntl(fd, cmd, &fl);
  } while (r < 0 && errno == EINTR);
  return r;
}

std::u16string AsciiNumber(std::int64_t n) { return VdbUtf8ToUtf16(std::to_string(n)); }

}  // namespace

TvuOSFileSystem::TvuOSFileSystem(std::u16string baseDirectory)
    : FBaseDirectory(std::move(baseDirectory)) {
  while (FBaseDirectory.size() > 1 && FBaseDirectory.back() == u'/') FBaseDirectory.pop_back();
}

TvuOSFileSystem::~TvuOSFileSystem() {
  // Handles still open belong to owners that outlived their file system; release the
  // descriptors so they do not leak into started programs or keep share locks.
  for (auto& [fd, info] : FHandles) ::close(fd);
}

std::string TvuOSFileSystem::Resolve(std::u16string_view path) const {
  if (FBaseDirectory.empty() || (!path.empty() && path[0] == u'/')) return vuNativePath(path);
  std::u16string full = FBaseDirectory;
  if (full != u"/") full += u'/';
  full += path;
  return vuNativePath(full);
}

bool TvuOSFileSystem::Lookup(TvuFileHandle handle, THandleInfo& info) {
  std::lock_guard guard(FHandlesLock);
  auto it = FHandles.find(handle);
  if (it == FHandles.end()) return Fail(oseInvalidHandle);
  info = it->second;
  return true;
}

TvuFileHandle TvuOSFileSystem::OpenDescriptor(const std::string& native,
                                              std::u16string_view path, bool wantWrite,
                                              bool exclusive, bool create) {
  const int extra = O_CLOEXEC | (create ? O_CREAT : 0);
  int fd;
  do {
    fd = ::open(native.c_str(), O_RDWR | extra, 0666);
  } while (fd < 0 && errno == EINTR);
  bool fdWritable = fd >= 0;
  if (fd < 0 && !wantWrite && !create && (errno == EACCES || errno == EROFS || errno == EPERM)) {
    do {
      fd = ::open(native.c_str(), O_RDONLY | extra);
    } while (fd < 0 && errno == EINTR);
  }
  if (fd < 0) {
    FailErrno(errno);
    return kvuInvalidHandle;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int err = errno;
    ::close(fd);
    if (S_ISDIR(st.st_mode)) Fail(oseAccessDenied);
    else FailErrno(err ? err : EINVAL);
    return kvuInvalidHandle;
  }
  struct flock fl {};
  fl.l_type = (exclusive && fdWritable) ? F_WRLCK : F_RDLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = kvuShareSentinel;
  fl.l_len = 1;
  if (FcntlLock(fd, F_OFD_SETLK, fl) != 0) {
    const int err = errno;
    ::close(fd);
    if (err == EAGAIN || err == EACCES) Fail(oseSharingViolation);
    else FailErrno(err);
    return kvuInvalidHandle;
  }
  std::lock_guard guard(FHandlesLock);
  FHandles[fd] = THandleInfo{wantWrite, fdWritable, std::u16string(path)};
  return fd;
}

TvuFileHandle TvuOSFileSystem::CreateFile(std::u16string_view path) {
  // Open without truncating, take the exclusive sentinel, then truncate: a file another
  // opening holds must not lose its content to a create that is refused anyway.
  const TvuFileHandle h = OpenDescriptor(Resolve(path), path, true, true, true);
  if (!IsValidHandle(h)) return h;
  int r;
  do {
    r = ::ftruncate(h, 0);
  } while (r != 0 && errno == EINTR);
  if (r != 0) {
    const int err = errno;
    CloseFile(h);
    FailErrno(err);
    return kvuInvalidHandle;
  }
  return h;
}

TvuFileHandle TvuOSFileSystem::OpenFile(std::u16string_view path, std::uint32_t mode) {
  const std::uint32_t access = mode & fmAccessMask;
  const std::uint32_t share = PhysicallyExclusive() ? fmShareExclusive : (mode & fmShareMask);
  const bool wantWrite = access == fmOpenWrite || access == fmOpenReadWrite;
  const bool exclusive =
      share == fmShareExclusive || share == fmShareDenyRead || share == fmShareDenyWrite;
  return OpenDescriptor(Resolve(path), path, wantWrite, exclusive, false);
}

std::int64_t TvuOSFileSystem::FileRead(TvuFileHandle handle, std::int64_t pos, void* data,
                                       std::int64_t count) {
  THandleInfo info;
  if (!Lookup(handle, info)) return 0;
  if (pos < 0 || count < 0) return Fail(oseInvalidParameter), 0;
  auto* p = static_cast<std::uint8_t*>(data);
  std::int64_t done = 0;
  while (done < count) {
    const ssize_t r = ::pread(handle, p + done, static_cast<size_t>(std::min(count - done, kMaxChunk)),
                              static_cast<off_t>(pos + done));
    if (r < 0) {
      if (errno == EINTR) continue;
      FailErrno(errno);
      return done;
    }
    if (r == 0) {
      Fail(oseHandleEof);
      return done;
    }
    done += r;
  }
  return done;
}

std::int64_t TvuOSFileSystem::FileWrite(TvuFileHandle handle, std::int64_t pos,
                                        const void* data, std::int64_t count) {
  THandleInfo info;
  if (!Lookup(handle, info)) return 0;
  if (!info.CanWrite) return Fail(oseAccessDenied), 0;
  if (pos < 0 || count < 0) return Fail(oseInvalidParameter), 0;
  const auto* p = static_cast<const std::uint8_t*>(data);
  std::int64_t done = 0;
  while (done < count) {
    const ssize_t r = ::pwrite(handle, p + done,
                               static_cast<size_t>(std::min(count - done, kMaxChunk)),
                               static_cast<off_t>(pos + done));
    if (r < 0) {
      if (errno == EINTR) continue;
      FailErrno(errno);
      return done;
    }
    if (r == 0) {  // no progress and no reason: give up instead of spinning
      Fail(oseIoFailure);
      return done;
    }
    done += r;
  }
  return done;
}

std::int64_t TvuOSFileSystem::GetFileSize(TvuFileHandle handle) {
  THandleInfo info;
  struct stat st;
  if (Lookup(handle, info)) {
    if (::fstat(handle, &st) == 0) return st.st_size;
    FailErrno(errno);
  }
  throw EVdbEngine::CreateMsg(
      errFileRead, u"Cannot determine file size (" + AsciiNumber(GetLastError()) + u").");
}

void TvuOSFileSystem::SetFileSize(TvuFileHandle handle, std::int64_t size) {
  const std::int64_t current = GetFileSize(handle);
  if (size < 0 || size >= current) return;
  THandleInfo info;
  Lookup(handle, info);
  int r = -1;
  if (!info.CanWrite) {
    Fail(oseAccessDenied);
  } else {
    do {
      r = ::ftruncate(handle, static_cast<off_t>(size));
    } while (r != 0 && errno == EINTR);
    if (r != 0) FailErrno(errno);
  }
  if (r != 0) {
    throw EVdbEngine::CreateMsg(errFileWrite, u"Cannot set end of of file \"" + info.Path +
                                                  u"\". " + LastErrorText());
  }
}

bool TvuOSFileSystem::FlushFile(TvuFileHandle handle) {
  THandleInfo info;
  if (!Lookup(handle, info)) return false;
  int r;
  do {
    r = ::fdatasync(handle);
  } while (r != 0 && errno == EINTR);
  return r == 0 || FailErrno(errno);
}

bool TvuOSFileSystem::FlushDirectoryOf(std::u16string_view filePath) {
  std::string path = Resolve(filePath);
  const std::size_t slash = path.rfind('/');
  path = slash == std::string::npos ? std::string(".") : slash == 0 ? std::string("/") : path.substr(0, slash);
  const int dir = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return FailErrno(errno);
  int r;
  do {
    r = ::fsync(dir);
  } while (r != 0 && errno == EINTR);
  const int error = errno;
  ::close(dir);
  return r == 0 || FailErrno(error);
}

bool TvuOSFileSystem::CloseFile(TvuFileHandle handle) {
  {
    std::lock_guard guard(FHandlesLock);
    if (FHandles.erase(handle) == 0) return Fail(oseInvalidHandle);
  }
  // The descriptor is released even when close reports an error; EINTR is no failure.
  if (::close(handle) != 0 && errno != EINTR) return FailErrno(errno);
  return true;
}

bool TvuOSFileSystem::SetLock(TvuFileHandle handle, short type, std::int64_t startPos,
                              std::int64_t endPos) {
  if (startPos < 0 || endPos <= startPos || endPos > kvuShareSentinel) {
    return Fail(oseInvalidParameter);
  }
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = startPos;
  fl.l_len = endPos - startPos;
  if (FcntlLock(handle, F_OFD_SETLK, fl) == 0) return true;
  if (errno == EAGAIN || errno == EACCES) return Fail(oseLockViolation);
  return FailErrno(errno);
}

bool TvuOSFileSystem::LockFile(TvuFileHandle handle, std::int64_t startPos, std::int64_t endPos,
                               bool) {
  THandleInfo info;
  if (!Lookup(handle, info)) return false;
  return SetLock(handle, info.FdWritable ? F_WRLCK : F_RDLCK, startPos, endPos);
}

bool TvuOSFileSystem::UnlockFile(TvuFileHandle handle, std::int64_t startPos,
                                 std::int64_t endPos, bool) {
  THandleInfo info;
  if (!Lookup(handle, info)) return false;
  return SetLock(handle, F_UNLCK, startPos, endPos);
}

TvuLockProbe TvuOSFileSystem::TestLock(TvuFileHandle handle, std::int64_t startPos,
                                       std::int64_t endPos) {
  THandleInfo info;
  if (!Lookup(handle, info)) return TvuLockProbe::lpFailed;
  if (startPos < 0 || endPos <= startPos || endPos > kvuShareSentinel) {
    Fail(oseInvalidParameter);
    return TvuLockProbe::lpFailed;
  }
  struct flock fl {};
  fl.l_type = F_WRLCK;  // conflicts with any lock another opening holds
  fl.l_whence = SEEK_SET;
  fl.l_start = startPos;
  fl.l_len = endPos - startPos;
  if (FcntlLock(handle, F_OFD_GETLK, fl) != 0) {
    FailErrno(errno);
    return TvuLockProbe::lpFailed;
  }
  return fl.l_type == F_UNLCK ? TvuLockProbe::lpFree : TvuLockProbe::lpHeld;
}

std::optional<TvuFileId> TvuOSFileSystem::FileIdOf(std::u16string_view path) {
  struct stat st;
  if (::stat(Resolve(path).c_str(), &st) != 0) return FailErrno(errno), std::nullopt;
  return TvuFileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

std::optional<TvuFileId> TvuOSFileSystem::HandleFileId(TvuFileHandle handle) {
  THandleInfo info;
  if (!Lookup(handle, info)) return std::nullopt;
  struct stat st;
  if (::fstat(handle, &st) != 0) return FailErrno(errno), std::nullopt;
  return TvuFileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

bool TvuOSFileSystem::CreateDir(std::u16string_view dirPath) {
  return ::mkdir(Resolve(dirPath).c_str(), 0777) == 0 || FailErrno(errno);
}

bool TvuOSFileSystem::RemoveDir(std::u16string_view dirPath) {
  return ::rmdir(Resolve(dirPath).c_str()) == 0 || FailErrno(errno);
}

bool TvuOSFileSystem::DeleteFile(std::u16string_view fileName) {
  return ::unlink(Resolve(fileName).c_str()) == 0 || FailErrno(errno);
}

bool TvuOSFileSystem::RenameFile(std::u16string_view oldName, std::u16string_view newName) {
  const std::string from = Resolve(oldName), to = Resolve(newName);
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    return true;
  }
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return FailErrno(errno);
  // A file system without the no-replace rename: a hard link cannot replace either.
  if (::link(from.c_str(), to.c_str()) == 0) {
    if (::unlink(from.c_str()) == 0) return true;
    const int err = errno;
    ::unlink(to.c_str());
    return FailErrno(err);
  }
  if (errno != EPERM && errno != EOPNOTSUPP) return FailErrno(errno);
  // Directories cannot be linked; check, then rename (the best this file system allows).
  struct stat st;
  if (::lstat(to.c_str(), &st) == 0) return Fail(oseAlreadyExists);
  return ::rename(from.c_str(), to.c_str()) == 0 || FailErrno(errno);
}

std::u16string TvuOSFileSystem::ExpandFileName(std::u16string_view fileName) {
  std::filesystem::path p(Resolve(fileName));
  if (p.is_relative()) {
    std::error_code ec;
    const auto cwd = std::filesystem::current_path(ec);
    if (!ec) p = cwd / p;
  }
  return VdbUtf8ToUtf16(p.lexically_normal().string());
}

bool TvuOSFileSystem::ForcePath(std::u16string_view dirPath) {
  const std::string full = Resolve(dirPath);
  for (std::size_t i = 1; i <= full.size(); ++i) {
    if (i != full.size() && full[i] != '/') continue;
    const std::string part = full.substr(0, i);
    if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return FailErrno(errno);
  }
  struct stat st;
  if (::stat(full.c_str(), &st) != 0) return FailErrno(errno);
  return S_ISDIR(st.st_mode) || Fail(osePathNotFound);
}

bool TvuOSFileSystem::ListDirectory(std::u16string_view dir,
                                    std::vector<TvuFindFileRec::TEntry>& out) {
  const std::string native = Resolve(dir);
  DIR* d = ::opendir(native.c_str());  // glibc opens it with O_CLOEXEC
  if (!d) return FailErrno(errno);
  errno = 0;
  while (dirent* e = ::readdir(d)) {
    const std::string_view name(e->d_name);
    if (name == "." || name == "..") continue;
    bool isDir = e->d_type == DT_DIR;
    if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
      struct stat st;
      isDir = ::fstatat(dirfd(d), e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
    }
    out.push_back({VdbUtf8ToUtf16(name), isDir ? faDirectory : 0});
    errno = 0;
  }
  const int err = errno;
  ::closedir(d);
  if (err != 0) return FailErrno(err);
  std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.Name < b.Name; });
  return true;
}

}  // namespace vdb
