// The page storage of one table file: which engine error each page-manager failure becomes,
// that the storage is gone after every failure and every close, and the guarded page
// operations with their repair step.
#include "storage/VdbFileStorage.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "base/VdbErrorCodes.h"
#include "storage/vuMemoryFileSystem.h"
#include "../support/FaultFileSystem.h"

namespace vdb {
namespace {

const std::u16string kName = u"/F.dat";
// One page a tile.
constexpr std::int32_t kPage = 512;

// A file system whose file closes fail while `FailClose` is set.
class TCloseFailingFileSystem final : public TvuFileSystemWrapper {
 public:
  using TvuFileSystemWrapper::TvuFileSystemWrapper;
  bool CloseFile(TvuFileHandle h) override {
    const bool closed = TvuFileSystemWrapper::CloseFile(h);
    if (!FailClose) return closed;
    SetLastError(oseIoFailure);
    return false;
  }
  bool FailClose = false;
};

// The engine error `f` raises (code and message); code 0 when it returns.
struct TRaised {
  int Code = 0;
  std::u16string Message;
};
TRaised Raised(const std::function<void()>& f) {
  try {
    f();
  } catch (const EVdbEngine& e) {
    return {e.Code(), e.Message()};
  }
  return {};
}

class VdbFileStorageTest : public ::testing::Test {
 protected:
  VdbFileStorageTest() { PageManager.RegisterClient(1, 1024); }
  ~VdbFileStorageTest() override { PageManager.UnregisterClient(1, 1024); }

  // A file of two pages, closed.
  void MakeFile() {
    TVdbFileStorage s(PageManager, Fs, kName, 1);
    s.Create(kPage, false);
    s.Guarded(errFileWrite, [&] { s.Page().InitPage(1); });
    s.Flush();
    s.Close();
  }
  static void ExpectGone(const TVdbFileStorage& s) {
    EXPECT_FALSE(s.IsOpen());
    EXPECT_FALSE(s.HasClient());
  }

  TvuMemoryFileSystem Memory{kPage};
  TCloseFailingFileSystem Fs{Memory};
  TVdbPageManager PageManager;
};

TEST_F(VdbFileStorageTest, OpenFailuresBecomeFileErrorsNamingTheFile) {
  MakeFile();
  TVdbFileStorage holder(PageManager, Fs, kName, 1);
  holder.Open(kPage, false, true);
  struct TCase {
    const char* What;
    std::u16string Name;
    int Code;
  };
  const TCase cases[] = {
      {"missing file", u"/Missing.dat", errFileNotFoundOrDenied},
      {"held exclusively", kName, errFileNotFoundOrDenied},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    TVdbFileStorage s(PageManager, Fs, c.Name, 1);
    const TRaised r = Raised([&] { s.Open(kPage, true, false); });
    EXPECT_EQ(r.Code, c.Code);
    EXPECT_NE(r.Message.find(c.Name), std::u16string::npos);
    ExpectGone(s);
  }
}

TEST_F(VdbFileStorageTest, OpenReplacesTheStorageItHolds) {
  MakeFile();
  TVdbFileStorage s(PageManager, Fs, kName, 1);
  s.Open(kPage, true, false);
  EXPECT_TRUE(s.ReadOnly());
  s.Open(kPage * 2, false, false);
  EXPECT_TRUE(s.IsOpen());
  EXPECT_FALSE(s.ReadOnly());
  EXPECT_EQ(s.Client().GetPageSize(), kPage * 2);
  EXPECT_EQ(PageManager.OpenStorageCount(), 1u);
}

TEST_F(VdbFileStorageTest, CreateRefusedRaises141AndDropsTheStorage) {
  MakeFile();
  TVdbFileStorage holder(PageManager, Fs, kName, 1);
  holder.Open(kPage, true, false);
  TVdbFileStorage s(PageManager, Fs, kName, 1);
  const TRaised r = Raised([&] { s.Create(kPage, false); });
  EXPECT_EQ(r.Code, errCreateFileDenied);
  EXPECT_NE(r.Message.find(kName), std::u16string::npos);
  ExpectGone(s);
}

TEST_F(VdbFileStorageTest, CloseReleasesTheStorageEvenWhenClosingFails) {
  MakeFile();
  TVdbFileStorage s(PageManager, Fs, kName, 1);
  s.Open(kPage, true, false);
  Fs.FailClose = true;
  const TRaised r = Raised([&] { s.Close(); });
  Fs.FailClose = false;
  EXPECT_EQ(r.Code, errFileClose);
  EXPECT_NE(r.Message.find(kName), std::u16string::npos);
  ExpectGone(s);
  EXPECT_EQ(PageManager.OpenStorageCount(), 0u);
  // The read-only mode of the last open stays known; a second close has nothing to do.
  EXPECT_TRUE(s.ReadOnly());
  EXPECT_EQ(Raised([&] { s.Close(); }).Code, 0);
}

TEST_F(VdbFileStorageTest, CloseQuietlyAndDropReleaseWithoutRaising) {
  MakeFile();
  for (const bool drop : {false, true}) {
    SCOPED_TRACE(drop ? "drop" : "close quietly");
    TVdbFileStorage s(PageManager, Fs, kName, 1);
    s.Open(kPage, true, false);
    Fs.FailClose = true;
    if (drop) {
      s.Drop();
    } else {
      s.CloseQuietly();
    }
    Fs.FailClose = false;
    ExpectGone(s);
    EXPECT_EQ(PageManager.OpenStorageCount(), 0u);
  }
}

TEST(VdbFileStorageFlush, FailureRaises3AndReadOnlyStoragesAreNotWritten) {
  TvuMemoryFileSystem memory{kPage};
  test::TFaultFileSystem fs(memory);
  TVdbPageManager pageManager;
  pageManager.RegisterClient(1, 1024);
  {
    TVdbFileStorage s(pageManager, fs, kName, 1);
    s.Flush();  // not open: nothing
    s.Create(kPage, false);
    s.Guarded(errFileWrite, [&] { s.Page().InitPage(0); });
    fs.Arm(1);
    const TRaised r = Raised([&] { s.Flush(); });
    EXPECT_TRUE(fs.Fired());
    EXPECT_EQ(r.Code, errFileWrite);
    EXPECT_NE(r.Message.find(kName), std::u16string::npos);
    fs.Arm(0);
    s.Flush();
    s.Close();

    s.Open(kPage, true, false);
    fs.Arm(1);
    s.Flush();
    EXPECT_EQ(fs.Count(), 0);
    fs.Arm(0);
  }
  pageManager.UnregisterClient(1, 1024);
}

TEST_F(VdbFileStorageTest, GuardedTurnsOnlyPageManagerFailuresIntoTheGivenError) {
  MakeFile();
  TVdbFileStorage s(PageManager, Fs, kName, 1);
  s.Open(kPage, false, false);
  EXPECT_EQ(s.Guarded(errFileRead, [&] { return s.Client().GetPageCount(); }), 2);

  int repairs = 0;
  const auto repair = [&] { ++repairs; };
  for (const std::int16_t code : {errFileRead, errFileWrite}) {
    const TRaised r = Raised([&] { s.Guarded(code, [&] { s.Page().LoadPage(99); }, repair); });
    EXPECT_EQ(r.Code, code);
    EXPECT_NE(r.Message.find(kName), std::u16string::npos);
  }
  EXPECT_EQ(repairs, 2);

  // Engine errors and other exceptions pass unchanged, without the repair.
  EXPECT_EQ(Raised([&] { s.Guarded(errFileRead, [] { RaiseEngineError(errRecordNotFound, {}); }, repair); }).Code,
            errRecordNotFound);
  EXPECT_THROW(s.Guarded(errFileRead, [] { throw std::runtime_error("x"); }, repair), std::runtime_error);
  EXPECT_EQ(repairs, 2);
}

}  // namespace
}  // namespace vdb
