// A file system that models what a device keeps through a power loss, over a memory file
// system that plays the operating system's cache:
//   - every write and cut of a file is pending until the file is synced (FlushFile); a sync
//     makes everything written to that file before it durable;
//   - creating, deleting and renaming files is durable at once (the engine forces its
//     directory where it matters; this model does not check that part);
//   - CrashImage() builds the files a power loss at this moment could leave: the durable
//     bytes, plus none, all or a random subset (kept in order) of the pending changes.
// It also counts syncs (of files and of directories), for the figures of each flush mode.
//
// ArmCrash(n, …) takes the crash image by itself right before the nth write, cut or sync
// from then on, so a power loss can fall in the middle of an engine call.
//
// Threads: the test thread and the engine's threads under one lock.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "storage/vuFileSystem.h"
#include "storage/vuMemoryFileSystem.h"

namespace vdb::test {

enum class TPowerLoss { plDropPending, plKeepPending, plRandomSubset };

class TDiskModelFileSystem final : public TvuFileSystemWrapper {
 public:
  using TImage = std::map<std::u16string, std::vector<std::uint8_t>>;

  explicit TDiskModelFileSystem(TvuMemoryFileSystem& cache) : TvuFileSystemWrapper(cache), FCache(cache) {}

  std::int64_t FileSyncs() const {
    std::lock_guard g(FLock);
    return FFileSyncs;
  }
  std::int64_t DirectorySyncs() const {
    std::lock_guard g(FLock);
    return FDirectorySyncs;
  }
  void ResetCounts() {
    std::lock_guard g(FLock);
    FFileSyncs = FDirectorySyncs = 0;
  }

  // The files a power loss now could leave.
  TImage CrashImage(std::mt19937& rng, TPowerLoss mode) {
    std::lock_guard g(FLock);
    return ImageLocked(rng, mode);
  }
  // Takes CrashImage(rng, mode) right before the `n`th write, cut or sync from now (1-based).
  void ArmCrash(std::int64_t n, std::uint32_t seed, TPowerLoss mode) {
    std::lock_guard g(FLock);
    FOps = 0;
    FCrashAt = n;
    FCrashSeed = seed;
    FCrashMode = mode;
    FCrashed = false;
    FCaptured.clear();
  }
  bool Crashed() const {
    std::lock_guard g(FLock);
    return FCrashed;
  }
  const TImage& Captured() const { return FCaptured; }

  // Writes `image` as the files of `to` (whose directories must exist).
  static void WriteImage(const TImage& image, TvuFileSystem& to) {
    for (const auto& [path, bytes] : image) {
      const TvuFileHandle h = to.CreateFile(path);
      if (!bytes.empty()) to.FileWrite(h, 0, bytes.data(), static_cast<std::int64_t>(bytes.size()));
      to.CloseFile(h);
    }
  }

  TvuFileHandle CreateFile(std::u16string_view path) override {
    std::lock_guard g(FLock);
    const TvuFileHandle h = TvuFileSystemWrapper::CreateFile(path);
    if (IsValidHandle(h)) {
      const std::u16string key = FCache.ExpandFileName(path);
      FFiles[key] = TFile{};
      FHandles[h] = key;
    }
    return h;
  }
  TvuFileHandle OpenFile(std::u16string_view path, std::uint32_t mode) override {
    std::lock_guard g(FLock);
    const TvuFileHandle h = TvuFileSystemWrapper::OpenFile(path, mode);
    if (IsValidHandle(h)) {
      const std::u16string key = FCache.ExpandFileName(path);
      if (FFiles.find(key) == FFiles.end()) FFiles[key] = TFile{FCache.Contents(key), {}};
      FHandles[h] = key;
    }
    return h;
  }
  bool CloseFile(TvuFileHandle h) override {
    std::lock_guard g(FLock);
    FHandles.erase(h);
    return TvuFileSystemWrapper::CloseFile(h);
  }
  std::int64_t FileWrite(TvuFileHandle h, std::int64_t pos, const void* data, std::int64_t count) override {
    std::lock_guard g(FLock);
    Tick();
    const std::int64_t n = TvuFileSystemWrapper::FileWrite(h, pos, data, count);
    if (n > 0) {
      if (TFile* f = FileOf(h)) {
        const auto* b = static_cast<const std::uint8_t*>(data);
        f->Pending.push_back(TChange{pos, std::vector<std::uint8_t>(b, b + n), -1});
      }
    }
    return n;
  }
  void SetFileSize(TvuFileHandle h, std::int64_t size) override {
    std::lock_guard g(FLock);
    Tick();
    TvuFileSystemWrapper::SetFileSize(h, size);
    if (TFile* f = FileOf(h)) f->Pending.push_back(TChange{0, {}, size});
  }
  bool FlushFile(TvuFileHandle h) override {
    std::lock_guard g(FLock);
    Tick();
    ++FFileSyncs;
    if (!TvuFileSystemWrapper::FlushFile(h)) return false;
    if (TFile* f = FileOf(h)) {
      for (const TChange& c : f->Pending) Apply(f->Durable, c);
      f->Pending.clear();
    }
    return true;
  }
  bool FlushDirectoryOf(std::u16string_view path) override {
    std::lock_guard g(FLock);
    ++FDirectorySyncs;
    return TvuFileSystemWrapper::FlushDirectoryOf(path);
  }
  bool DeleteFile(std::u16string_view name) override {
    std::lock_guard g(FLock);
    const bool ok = TvuFileSystemWrapper::DeleteFile(name);
    if (ok) FFiles.erase(FCache.ExpandFileName(name));
    return ok;
  }
  bool RenameFile(std::u16string_view from, std::u16string_view to) override {
    std::lock_guard g(FLock);
    const bool ok = TvuFileSystemWrapper::RenameFile(from, to);
    if (ok) {
      auto node = FFiles.extract(FCache.ExpandFileName(from));
      if (!node.empty()) {
        node.key() = FCache.ExpandFileName(to);
        FFiles.insert(std::move(node));
      }
    }
    return ok;
  }

 private:
  struct TChange {
    std::int64_t Pos = 0;
    std::vector<std::uint8_t> Bytes;
    std::int64_t CutTo = -1;  // a cut when ≥ 0
  };
  struct TFile {
    std::vector<std::uint8_t> Durable;
    std::vector<TChange> Pending;
  };

  static void Apply(std::vector<std::uint8_t>& bytes, const TChange& c) {
    if (c.CutTo >= 0) {
      if (static_cast<std::size_t>(c.CutTo) < bytes.size()) bytes.resize(static_cast<std::size_t>(c.CutTo));
      return;
    }
    const std::size_t end = static_cast<std::size_t>(c.Pos) + c.Bytes.size();
    if (bytes.size() < end) bytes.resize(end, 0);
    std::copy(c.Bytes.begin(), c.Bytes.end(), bytes.begin() + c.Pos);
  }

  TFile* FileOf(TvuFileHandle h) {
    auto it = FHandles.find(h);
    if (it == FHandles.end()) return nullptr;
    auto f = FFiles.find(it->second);
    return f == FFiles.end() ? nullptr : &f->second;
  }

  TImage ImageLocked(std::mt19937& rng, TPowerLoss mode) {
    TImage image;
    for (const auto& [path, file] : FFiles) {
      std::vector<std::uint8_t> bytes = file.Durable;
      for (const TChange& c : file.Pending) {
        const bool keep = mode == TPowerLoss::plKeepPending || (mode == TPowerLoss::plRandomSubset && rng() % 2 == 0);
        if (keep) Apply(bytes, c);
      }
      image[path] = std::move(bytes);
    }
    return image;
  }

  void Tick() {
    if (FCrashAt <= 0 || FCrashed) return;
    if (++FOps == FCrashAt) {
      std::mt19937 rng(FCrashSeed);
      FCaptured = ImageLocked(rng, FCrashMode);
      FCrashed = true;
    }
  }

  TvuMemoryFileSystem& FCache;
  mutable std::recursive_mutex FLock;
  std::map<std::u16string, TFile> FFiles;
  std::map<TvuFileHandle, std::u16string> FHandles;
  std::int64_t FFileSyncs = 0;
  std::int64_t FDirectorySyncs = 0;
  std::int64_t FOps = 0;
  std::int64_t FCrashAt = 0;
  std::uint32_t FCrashSeed = 0;
  TPowerLoss FCrashMode = TPowerLoss::plDropPending;
  bool FCrashed = false;
  TImage FCaptured;
};

}  // namespace vdb::test
