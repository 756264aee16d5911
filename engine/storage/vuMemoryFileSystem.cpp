// The in-memory file system. Any thread.
#include "storage/vuMemoryFileSystem.h"

#include <algorithm>
#include <cstring>

#include "base/VdbErrorCodes.h"
#include "base/VdbErrors.h"

namespace vdb {

namespace {

bool Overlaps(std::int64_t s1, std::int64_t e1, std::int64_t s2, std::int64_t e2) {
  return s1 < e2 && s2 < e1;
}

}  // namespace

TvuMemoryFileSystem::TvuMemoryFileSystem(std::int32_t pageSize, std::u16string baseDirectory)
    : FPageSize(pageSize), FBaseDirectory(std::move(baseDirectory)) {}

std::u16string TvuMemoryFileSystem::Key(std::u16string_view path) const {
  std::u16string full;
  if (path.empty() || path[0] != u'/') full = FBaseDirectory + u"/";
  full += path;
  std::vector<std::u16string> parts;
  std::size_t i = 0;
  while (i <= full.size()) {
    std::size_t j = full.find(u'/', i);
    if (j == std::u16string::npos) j = full.size();
    const std::u16string part = full.substr(i, j - i);
    if (part == u"..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != u".") {
      parts.push_back(part);
    }
    i = j + 1;
  }
  std::u16string key;
  for (const auto& p : parts) key += u"/" + p;
  return key.empty() ? u"/" : key;
}

std::u16string TvuMemoryFileSystem::ParentOf(const std::u16string& key) {
  const std::size_t slash = key.rfind(u'/');
  return slash == 0 ? u"/" : key.substr(0, slash);
}

bool TvuMemoryFileSystem::ParentIsDir(const std::u16string& key) {
  const std::u16string parent = ParentOf(key);
  if (parent == u"/") return true;
  auto it = FEntries.find(parent);
  return it != FEntries.end() && it->second->IsDir;
}

TvuMemoryFileSystem::TOpenFile* TvuMemoryFileSystem::Find(TvuFileHandle handle) {
  auto it = FOpen.find(handle);
  if (it == FOpen.end()) {
    Fail(oseInvalidHandle);
    return nullptr;
  }
  return &it->second;
}

bool TvuMemoryFileSystem::ShareConflict(const TNode& node, bool exclusive) const {
  for (const auto& [h, f] : FOpen) {
    if (f.Node.get() == &node && (exclusive || f.Exclusive)) return true;
  }
  return false;
}

TvuFileHandle TvuMemoryFileSystem::AddHandle(std::shared_ptr<TNode> node, bool canWrite,
                                             bool exclusive, std::u16string_view path) {
  const TvuFileHandle h = FNextHandle++;
  FOpen.emplace(h, TOpenFile{std::move(node), canWrite, exclusive, std::u16string(path)});
  return h;
}

TvuFileHandle TvuMemoryFileSystem::CreateFile(std::u16string_view path) {
  std::lock_guard guard(FLock);
  const std::u16string key = Key(path);
  if (!ParentIsDir(key)) return Fail(osePathNotFound), kvuInvalidHandle;
  auto& slot = FEntries[key];
  if (!slot) {
    slot = std::make_shared<TNode>();
    slot->Id = FNextId++;
  } else if (slot->IsDir) {
    return Fail(oseAccessDenied), kvuInvalidHandle;
  } else if (ShareConflict(*slot, true)) {
    return Fail(oseSharingViolation), kvuInvalidHandle;
  }
  slot->Data.clear();
  return AddHandle(slot, true, true, path);
}

TvuFileHandle TvuMemoryFileSystem::OpenFile(std::u16string_view path, std::uint32_t mode) {
  std::lock_guard guard(FLock);
  auto it = FEntries.find(Key(path));
  if (it == FEntries.end()) {
    return Fail(ParentIsDir(Key(path)) ? oseFileNotFound : osePathNotFound), kvuInvalidHandle;
  }
  if (it->second->IsDir) return Fail(oseAccessDenied), kvuInvalidHandle;
  const std::uint32_t access = mode & fmAccessMask;
  const std::uint32_t share = PhysicallyExclusive() ? fmShareExclusive : (mode & fmShareMask);
  const bool exclusive =
      share == fmShareExclusive || share == fmShareDenyRead || share == fmShareDenyWrite;
  if (ShareConflict(*it->second, exclusive)) return Fail(oseSharingViolation), kvuInvalidHandle;
  return AddHandle(it->second, access == fmOpenWrite || access == fmOpenReadWrite, exclusive,
                   path);
}

std::int64_t TvuMemoryFileSystem::FileRead(TvuFileHandle handle, std::int64_t pos, void* data,
                                           std::int64_t count) {
  std::lock_guard guard(FLock);
  TOpenFile* f = Find(handle);
  if (!f) return 0;
  if (pos < 0 || count < 0) return Fail(oseInvalidParameter), 0;
  const auto size = static_cast<std::int64_t>(f->Node->Data.size());
  const std::int64_t n = pos >= size ? 0 : std::min(count, size - pos);
  if (n > 0) std::memcpy(data, f->Node->Data.data() + pos, static_cast<std::size_t>(n));
  if (n < count) Fail(oseHandleEof);
  return n;
}

std::int64_t TvuMemoryFileSystem::FileWrite(TvuFileHandle handle, std::int64_t pos,
                                            const void* data, std::int64_t count) {
  std::lock_guard guard(FLock);
  TOpenFile* f = Find(handle);
  if (!f) return 0;
  if (!f->CanWrite) return Fail(oseAccessDenied), 0;
  if (pos < 0 || count < 0) return Fail(oseInvalidParameter), 0;
  auto& bytes = f->Node->Data;
  if (static_cast<std::int64_t>(bytes.size()) < pos + count) {
    bytes.resize(static_cast<std::size_t>(pos + count));
  }
  if (count > 0) std::memcpy(bytes.data() + pos, data, static_cast<std::size_t>(count));
  return count;
}

std::int64_t TvuMemoryFileSystem::GetFileSize(TvuFileHandle handle) {
  std::lock_guard guard(FLock);
  TOpenFile* f = Find(handle);
  if (!f) throw EVdbEngine::CreateMsg(errFileRead, u"Cannot determine file size (6).");
  return static_cast<std::int64_t>(f->Node->Data.size());
}

void TvuMemoryFileSystem::SetFileSize(TvuFileHandle handle, std::int64_t size) {
  std::lock_guard guard(FLock);
  TOpenFile* f = Find(handle);
  if (!f || !f->CanWrite) {
    if (f) Fail(oseAccessDenied);
    throw EVdbEngine::CreateMsg(errFileWrite, u"Cannot set end of of file. " + LastErrorText());
  }
  if (size >= 0 && size < static_cast<std::int64_t>(f->Node->Data.size())) {
    f->Node->Data.resize(static_cast<std::size_t>(size));
  }
}

bool TvuMemoryFileSystem::FlushFile(TvuFileHandle handle) {
  std::lock_guard guard(FLock);
  return Find(handle) != nullptr;
}

bool TvuMemoryFileSystem::CloseFile(TvuFileHandle handle) {
  std::lock_guard guard(FLock);
  TOpenFile* f = Find(handle);
  if (!f) return false;
  auto& locks = f->Node->Locks;
  locks.erase(std::remove_if(locks.begin(), locks.end(),
                             [&](const TLockRange& l) { return l.Owner == handle; }),
              locks.end());
  FOpen.erase(handle);
  return true;
}

bool TvuMemoryFileSystem::LockFile(TvuFileHandle handle, std::int64_t startPos,
                                   std::int64_t endPos, bool) {
  std::lock_guard guard(FLock);
  TOpenFile* f = Find(handle);
  if (!f) return false;
  if (startPos < 0 || endPos <= startPos) return Fail(oseInvalidParameter);
  for (const auto& l : f->Node->Locks) {
    if (l.Owner != handle && Overlaps(l.Start, l.End, startPos, endPos)) {
      return Fail(oseLockViolation);
    }
  }
  f->Node->Locks.push_back({handle, startPos, endPos});
  return true;
}

bool TvuMemoryFileSystem::UnlockFile(TvuFileHandle handle, std::int64_t startPos,
                                     std::int64_t endPos, bool) {
  std::lock_guard guard(FLock);
  TOpenFile* f = Find(handle);
  if (!f) return false;
  if (startPos < 0 || endPos <= startPos) return Fail(oseInvalidParameter);
  // Cut [startPos, endPos) out of this opening's ranges, keeping the parts outside it.
  std::vector<TLockRange> kept;
  for (const auto& l : f->Node->Locks) {
    if (l.Owner != handle || !Overlaps(l.Start, l.End, startPos, endPos)) {
      kept.push_back(l);
      continue;
    }
    if (l.Start < startPos) kept.push_back({handle, l.Start, startPos});
    if (l.End > endPos) kept.push_back({handle, endPos, l.End});
  }
  f->Node->Locks = std::move(kept);
  return true;
}

TvuLockProbe TvuMemoryFileSystem::TestLock(TvuFileHandle handle, std::int64_t startPos,
                                           std::int64_t endPos) {
  std::lock_guard guard(FLock);
  TOpenFile* f = Find(handle);
  if (!f) return TvuLockProbe::lpFailed;
  for (const auto& l : f->Node->Locks) {
    if (l.Owner != handle && Overlaps(l.Start, l.End, startPos, endPos)) {
      return TvuLockProbe::lpHeld;
    }
  }
  return TvuLockProbe::lpFree;
}

std::optional<TvuFileId> TvuMemoryFileSystem::FileIdOf(std::u16string_view path) {
  std::lock_guard guard(FLock);
  auto it = FEntries.find(Key(path));
  if (it == FEntries.end()) return Fail(oseFileNotFound), std::nullopt;
  return TvuFileId{0, it->second->Id};
}

std::optional<TvuFileId> TvuMemoryFileSystem::HandleFileId(TvuFileHandle handle) {
  std::lock_guard guard(FLock);
  TOpenFile* f = Find(handle);
  if (!f) return std::nullopt;
  return TvuFileId{0, f->Node->Id};
}

bool TvuMemoryFileSystem::CreateDir(std::u16string_view dirPath) {
  std::lock_guard guard(FLock);
  const std::u16string key = Key(dirPath);
  if (key == u"/" || FEntries.count(key)) return Fail(oseAlreadyExists);
  if (!ParentIsDir(key)) return Fail(osePathNotFound);
  auto node = std::make_shared<TNode>();
  node->IsDir = true;
  node->Id = FNextId++;
  FEntries.emplace(key, std::move(node));
  return true;
}

bool TvuMemoryFileSystem::RemoveDir(std::u16string_view dirPath) {
  std::lock_guard guard(FLock);
  const std::u16string key = Key(dirPath);
  auto it = FEntries.find(key);
  if (it == FEntries.end() || !it->second->IsDir) return Fail(osePathNotFound);
  auto next = std::next(it);
  if (next != FEntries.end() && next->first.rfind(key + u"/", 0) == 0) {
    return Fail(oseDirNotEmpty);
  }
  FEntries.erase(it);
  return true;
}

bool TvuMemoryFileSystem::DeleteFile(std::u16string_view fileName) {
  std::lock_guard guard(FLock);
  auto it = FEntries.find(Key(fileName));
  if (it == FEntries.end()) return Fail(oseFileNotFound);
  if (it->second->IsDir) return Fail(oseAccessDenied);
  FEntries.erase(it);  // open handles keep the node alive
  return true;
}

std::int32_t TvuMemoryFileSystem::Clear() {
  std::lock_guard guard(FLock);
  FEntries.clear();
  return 0;
}

bool TvuMemoryFileSystem::RenameFile(std::u16string_view oldName, std::u16string_view newName) {
  std::lock_guard guard(FLock);
  const std::u16string from = Key(oldName), to = Key(newName);
  auto it = FEntries.find(from);
  if (it == FEntries.end()) return Fail(oseFileNotFound);
  if (FEntries.count(to)) return Fail(oseAlreadyExists);
  if (!ParentIsDir(to)) return Fail(osePathNotFound);
  // Move the entry and, for a directory, everything below it.
  std::vector<std::pair<std::u16string, std::shared_ptr<TNode>>> moved;
  for (auto i = FEntries.begin(); i != FEntries.end();) {
    if (i->first == from || i->first.rfind(from + u"/", 0) == 0) {
      moved.emplace_back(to + i->first.substr(from.size()), i->second);
      i = FEntries.erase(i);
    } else {
      ++i;
    }
  }
  for (auto& [k, n] : moved) FEntries.emplace(std::move(k), std::move(n));
  return true;
}

bool TvuMemoryFileSystem::ForcePath(std::u16string_view dirPath) {
  std::lock_guard guard(FLock);
  const std::u16string key = Key(dirPath);
  for (std::size_t i = 1; i <= key.size(); ++i) {
    if (i != key.size() && key[i] != u'/') continue;
    const std::u16string part = key.substr(0, i);
    if (part == u"/") continue;
    auto& slot = FEntries[part];
    if (!slot) {
      slot = std::make_shared<TNode>();
      slot->IsDir = true;
      slot->Id = FNextId++;
    } else if (!slot->IsDir) {
      return Fail(osePathNotFound);
    }
  }
  return true;
}

bool TvuMemoryFileSystem::ListDirectory(std::u16string_view dir,
                                        std::vector<TvuFindFileRec::TEntry>& out) {
  std::lock_guard guard(FLock);
  const std::u16string key = Key(dir);
  if (key != u"/") {
    auto it = FEntries.find(key);
    if (it == FEntries.end() || !it->second->IsDir) return Fail(osePathNotFound);
  }
  const std::u16string prefix = key == u"/" ? u"/" : key + u"/";
  for (auto it = FEntries.lower_bound(prefix); it != FEntries.end(); ++it) {
    if (it->first.rfind(prefix, 0) != 0) break;
    const std::u16string rest = it->first.substr(prefix.size());
    if (rest.empty() || rest.find(u'/') != std::u16string::npos) continue;
    out.push_back({rest, it->second->IsDir ? faDirectory : 0});
  }
  return true;
}

std::vector<std::uint8_t> TvuMemoryFileSystem::Contents(std::u16string_view path) {
  std::lock_guard guard(FLock);
  auto it = FEntries.find(Key(path));
  return it == FEntries.end() ? std::vector<std::uint8_t>{} : it->second->Data;
}

std::size_t TvuMemoryFileSystem::OpenHandleCount() {
  std::lock_guard guard(FLock);
  return FOpen.size();
}

}  // namespace vdb
