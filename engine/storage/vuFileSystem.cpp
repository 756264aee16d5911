// The file-system seam: errno mapping, name conversion, enumeration masks and the helpers
// every file system shares. Any thread.
#include "storage/vuFileSystem.h"

#include <cerrno>
#include <cstring>
#include <locale.h>
#include <string.h>

#include "base/VdbFormat.h"

namespace vdb {

namespace {

// The calling thread's last file-system error, as the operating system keeps its own.
struct TLastError {
  std::int32_t Code = oseNone;
  std::u16string Text;
};
thread_local TLastError tlsLastError;

std::u16string CLocaleErrorText(int errnum) {
  // A "C" locale object, made once: strerror alone would answer in the process's locale.
  static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  const char* text = cLocale ? strerror_l(errnum, cLocale) : nullptr;
  return VdbUtf8ToUtf16(text ? std::string_view(text) : std::string_view("Unknown error"));
}

// errno that stands for a code when a text is needed without a current error.
int CanonicalErrno(std::int32_t code) {
  switch (code) {
    case oseFileNotFound: return ENOENT;
    case osePathNotFound: return ENOTDIR;
    case oseTooManyOpenFiles: return EMFILE;
    case oseAccessDenied: return EACCES;
    case oseInvalidHandle: return EBADF;
    case oseNotEnoughMemory: return ENOMEM;
    case oseNotSameDevice: return EXDEV;
    case oseWriteProtect: return EROFS;
    case oseDataCorrupt: return EBADMSG;
    case oseLockViolation: return EAGAIN;
    case oseSharingViolation: return EBUSY;
    case oseNotSupported: return EOPNOTSUPP;
    case oseInvalidParameter: return EINVAL;
    case oseDiskFull: return ENOSPC;
    case oseDirNotEmpty: return ENOTEMPTY;
    case oseAlreadyExists: return EEXIST;
    case oseNameTooLong: return ENAMETOOLONG;
    case oseFileTooLarge: return EFBIG;
    default: return EIO;
  }
}

std::u16string StandardText(std::int32_t code) {
  if (code == oseNone) return u"No error";
  if (code == oseHandleEof) return u"Reached the end of the file";
  if (code == oseSharingViolation) return u"The file is in use by another opening";
  if (code == oseLockViolation) return u"The range is locked by another opening";
  if (code == oseNoLockingSupport) return u"No locking support";
  if (code >= 1000) return u"Unknown reason";
  return CLocaleErrorText(CanonicalErrno(code));
}

bool MatchFrom(std::u16string_view name, std::u16string_view mask) {
  // Iterative '*' matching with one backtrack point: linear in practice, no recursion.
  std::size_t n = 0, m = 0, starM = std::u16string_view::npos, starN = 0;
  while (n < name.size()) {
    if (m < mask.size() && (mask[m] == u'?' || mask[m] == name[n])) {
      ++n;
      ++m;
    } else if (m < mask.size() && mask[m] == u'*') {
      starM = m++;
      starN = n;
    } else if (starM != std::u16string_view::npos) {
      m = starM + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == u'*') ++m;
  return m == mask.size();
}

}  // namespace

TvuOSError vuOSErrorFromErrno(int errnum) {
  std::int32_t code;
  switch (errnum) {
    case 0: return {oseNone, StandardText(oseNone)};
    case ENOENT: code = oseFileNotFound; break;
    case ENOTDIR:
    case ELOOP: code = osePathNotFound; break;
    case EMFILE:
    case ENFILE: code = oseTooManyOpenFiles; break;
    case EACCES:
    case EPERM:
    case EISDIR: code = oseAccessDenied; break;
    case EBADF: code = oseInvalidHandle; break;
    case ENOMEM: code = oseNotEnoughMemory; break;
    case EXDEV: code = oseNotSameDevice; break;
    case EROFS: code = oseWriteProtect; break;
    case EBADMSG:
    case EUCLEAN: code = oseDataCorrupt; break;
    // A lock or share refusal: "someone else holds it".
    case EAGAIN: code = oseLockViolation; break;
    case EBUSY:
    case ETXTBSY: code = oseSharingViolation; break;
    case EOPNOTSUPP: code = oseNotSupported; break;
    case EINVAL:
    case EOVERFLOW: code = oseInvalidParameter; break;
    case ENOSPC:
    case EDQUOT: code = oseDiskFull; break;
    case ENOTEMPTY: code = oseDirNotEmpty; break;
    case EEXIST: code = oseAlreadyExists; break;
    case ENAMETOOLONG: code = oseNameTooLong; break;
    case EFBIG: code = oseFileTooLarge; break;
    case ENOLCK: code = oseNoLockingSupport; break;
    default: code = oseIoFailure; break;  // EIO and everything unexpected: the call failed
  }
  return {code, CLocaleErrorText(errnum)};
}

std::string vuNativePath(std::u16string_view path) { return VdbUtf16ToUtf8(path); }

bool vuMatchesMask(std::u16string_view name, std::u16string_view mask) {
  if (MatchFrom(name, mask)) return true;
  // "x.*" also matches "x": a missing extension counts as an empty one.
  if (mask.size() >= 2 && mask.substr(mask.size() - 2) == u".*" &&
      name.find(u'.') == std::u16string_view::npos) {
    return MatchFrom(name, mask.substr(0, mask.size() - 2));
  }
  return false;
}

void TvuFileSystem::SetLastError(std::int32_t code, std::u16string text) {
  tlsLastError.Code = code;
  tlsLastError.Text = text.empty() ? StandardText(code) : std::move(text);
}

std::int32_t TvuFileSystem::GetLastError() const { return tlsLastError.Code; }

std::u16string TvuFileSystem::LastErrorText() const {
  return tlsLastError.Code == oseNone ? StandardText(oseNone) : tlsLastError.Text;
}

bool TvuFileSystem::Fail(std::int32_t code, std::u16string text) {
  SetLastError(code, std::move(text));
  return false;
}

bool TvuFileSystem::FailErrno(int errnum) {
  TvuOSError e = vuOSErrorFromErrno(errnum);
  return Fail(e.Code, std::move(e.Text));
}

bool TvuFileSystem::EndOfFile(TvuFileHandle handle, std::int64_t pos) {
  return pos >= GetFileSize(handle);
}

bool TvuFileSystem::ListDirectory(std::u16string_view, std::vector<TvuFindFileRec::TEntry>&) {
  return Fail(oseNotSupported);
}

bool TvuFileSystem::FindFirstFile(std::u16string_view path, std::int32_t attr,
                                  TvuFindFileRec& rec) {
  rec = TvuFindFileRec{};
  const std::size_t slash = path.rfind(u'/');
  const std::u16string_view dir =
      slash == std::u16string_view::npos ? std::u16string_view(u".") : path.substr(0, slash);
  const std::u16string_view mask =
      slash == std::u16string_view::npos ? path : path.substr(slash + 1);
  std::vector<TvuFindFileRec::TEntry> all;
  if (!ListDirectory(slash == 0 ? std::u16string_view(u"/") : dir, all)) {
    // "Nothing matches" is oseFileNotFound; a missing directory must not read the same.
    if (GetLastError() == oseFileNotFound) return Fail(osePathNotFound);
    return false;
  }
  for (auto& e : all) {
    if ((e.Attr & faDirectory) && !(attr & faDirectory)) continue;
    if (vuMatchesMask(e.Name, mask)) rec.Pending.push_back(std::move(e));
  }
  if (rec.Pending.empty()) return Fail(oseFileNotFound);
  return FindNextFile(rec);
}

bool TvuFileSystem::FindNextFile(TvuFindFileRec& rec) {
  if (rec.Next >= rec.Pending.size()) return Fail(oseFileNotFound);
  rec.Name = rec.Pending[rec.Next].Name;
  rec.Attr = rec.Pending[rec.Next].Attr;
  ++rec.Next;
  return true;
}

void TvuFileSystem::FindFileClose(TvuFindFileRec& rec) { rec = TvuFindFileRec{}; }

bool TvuFileSystem::FileExists(std::u16string_view fileName) {
  // A mask character in the name would match other files: only the exact name counts.
  const std::size_t slash = fileName.rfind(u'/');
  const std::u16string_view base =
      slash == std::u16string_view::npos ? fileName : fileName.substr(slash + 1);
  TvuFindFileRec rec;
  const bool found = FindFirstFile(fileName, 0, rec) && !(rec.Attr & faDirectory) &&
                     rec.Name == base;
  FindFileClose(rec);
  return found;
}

bool TvuFileSystem::DirectoryExists(std::u16string_view dirName) {
  while (dirName.size() > 1 && dirName.back() == u'/') dirName.remove_suffix(1);
  if (dirName == u"/" || dirName.empty()) return true;
  TvuFindFileRec rec;
  const bool found = FindFirstFile(dirName, faDirectory, rec) && (rec.Attr & faDirectory);
  FindFileClose(rec);
  return found;
}

bool TvuFileSystem::CopyFile(std::u16string_view source, std::u16string_view target) {
  return CopyBetween(*this, source, *this, target);
}

bool TvuFileSystem::CopyBetween(TvuFileSystem& from, std::u16string_view source,
                                TvuFileSystem& to, std::u16string_view target) {
  const TvuFileHandle in = from.OpenFile(source, fmOpenRead | fmShareDenyWrite);
  if (!IsValidHandle(in)) return false;
  const TvuFileHandle out = to.CreateFile(target);
  if (!IsValidHandle(out)) {
    TvuOSError keep{to.GetLastError(), to.LastErrorText()};
    from.CloseFile(in);
    return to.Fail(keep.Code, std::move(keep.Text));
  }
  std::vector<std::uint8_t> buf(64 * 1024);
  std::int64_t pos = 0;
  bool ok = true;
  TvuOSError failure;
  for (;;) {
    const std::int64_t got =
        from.FileRead(in, pos, buf.data(), static_cast<std::int64_t>(buf.size()));
    if (got < static_cast<std::int64_t>(buf.size()) && from.GetLastError() != oseHandleEof) {
      failure = {from.GetLastError(), from.LastErrorText()};
      ok = false;
      break;
    }
    if (got > 0 && to.FileWrite(out, pos, buf.data(), got) != got) {
      failure = {to.GetLastError(), to.LastErrorText()};
      ok = false;
      break;
    }
    pos += got;
    if (got < static_cast<std::int64_t>(buf.size())) break;
  }
  const bool closedOut = to.CloseFile(out);
  from.CloseFile(in);
  if (!ok) return to.Fail(failure.Code, std::move(failure.Text));
  return closedOut;
}

bool TvuFileSystem::CopyFrom(TvuFileSystem& source, std::u16string_view srcDirName,
                             std::u16string_view dstDirName) {
  if (!ForcePath(dstDirName)) return false;
  TvuFindFileRec rec;
  std::vector<TvuFindFileRec::TEntry> entries;
  bool ok = source.FindFirstFile(std::u16string(srcDirName) + u"/*", faDirectory, rec);
  if (!ok && source.GetLastError() != oseFileNotFound) return false;  // not an empty directory
  for (; ok; ok = source.FindNextFile(rec)) entries.push_back({rec.Name, rec.Attr});
  source.FindFileClose(rec);
  for (const auto& e : entries) {
    const std::u16string from = std::u16string(srcDirName) + u"/" + e.Name;
    const std::u16string to = std::u16string(dstDirName) + u"/" + e.Name;
    const bool ok = (e.Attr & faDirectory) ? CopyFrom(source, from, to)
                                           : CopyBetween(source, from, *this, to);
    if (!ok) return false;
  }
  return true;
}

std::u16string TvuFileSystem::GetErrorMessage(std::int32_t code) const {
  if (code >= 1000) return StandardText(code);
  if (code == tlsLastError.Code && !tlsLastError.Text.empty()) return tlsLastError.Text;
  return StandardText(code);
}

}  // namespace vdb
