// A file system that fails one chosen write or flush: every FileWrite and FlushFile is
// counted, and the call whose number is `FailAt` fails once (a write writes nothing, a flush
// reports failure) with an I/O error, as a full or broken disk would. Everything else goes to
// the target. Counting starts at Arm(); 0 disarms. Thread-safe counting for one writer thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "storage/vuFileSystem.h"

namespace vdb::test {

class TFaultFileSystem final : public TvuFileSystemWrapper {
 public:
  using TvuFileSystemWrapper::TvuFileSystemWrapper;

  // Fails the `n`th write or flush from now on (counting from 1); 0 never fails.
  void Arm(std::int64_t n) {
    FCount = 0;
    FFailAt = n;
    FFired = false;
  }
  bool Fired() const noexcept { return FFired; }
  std::int64_t Count() const noexcept { return FCount; }

  std::int64_t FileWrite(TvuFileHandle h, std::int64_t pos, const void* data, std::int64_t count) override {
    if (Hit()) {
      SetLastError(oseIoFailure);
      return 0;
    }
    return TvuFileSystemWrapper::FileWrite(h, pos, data, count);
  }
  bool FlushFile(TvuFileHandle h) override {
    if (Hit()) {
      SetLastError(oseIoFailure);
      return false;
    }
    return TvuFileSystemWrapper::FlushFile(h);
  }

 private:
  bool Hit() {
    const std::int64_t n = ++FCount;
    if (FFailAt > 0 && n == FFailAt && !FFired) {
      FFired = true;
      return true;
    }
    return false;
  }

  std::atomic<std::int64_t> FCount{0};
  std::int64_t FFailAt = 0;
  bool FFired = false;
};

}  // namespace vdb::test
