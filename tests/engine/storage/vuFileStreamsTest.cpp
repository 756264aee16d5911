// Stream adapters: create/open failures as engine errors, locks through streams, the counted
// and retried whole-file lock with fake time, enciphered writes that keep the caller's
// buffer plain, and lazy reopening after a failure.
#include "storage/vuFileStreams.h"

#include <gtest/gtest.h>

#include "StorageTestSupport.h"
#include "base/VdbErrorCodes.h"
#include "storage/vuMemoryFileSystem.h"
#include "storage/vuOSFileSystem.h"

namespace vdb {
namespace {

using test::TTempDir;

class TXorCipher : public TVdbEncryption {
 public:
  void EncryptBlock(std::uint8_t* d, std::size_t n) override {
    for (std::size_t i = 0; i < n; ++i) d[i] ^= 0x5A;
  }
  void DecryptBlock(std::uint8_t* d, std::size_t n) override { EncryptBlock(d, n); }
};

TEST(FileSystemStream, CreateAndOpenFailuresAreEngineErrorsNamingTheFile) {
  TTempDir dir;
  TvuOSFileSystem fs(dir.Path16());
  try {
    TvuFileSystemStream s(u"missing.vdbl", fmOpenReadWrite | fmShareDenyNone, fs);
    ADD_FAILURE();
  } catch (const EvuFileNotFoundError& e) {
    EXPECT_EQ(e.Code(), errCannotOpenFile);
    EXPECT_EQ(e.OSError(), oseFileNotFound);
    EXPECT_EQ(e.Message(), u"Cannot open file \"" + dir.Path16() +
                               u"/missing.vdbl\". No such file or directory");
  }
  try {
    TvuFileSystemStream s(u"nodir/x.vdbl", fmCreate, fs);
    ADD_FAILURE();
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.Code(), errFileWrite);
    EXPECT_EQ(e.Message().rfind(u"Cannot create file \"" + dir.Path16() + u"/nodir/x.vdbl\". ", 0),
              0u);
  }
  {
    TvuFileSystemStream s(u"x.vdbl", fmCreate, fs);
    s.WriteBuffer("header", 6);
    EXPECT_EQ(s.Position(), 6);
  }
  // A file opened exclusively elsewhere: not "missing", but refused.
  TvuFileSystemStream holder(u"x.vdbl", fmOpenReadWrite | fmShareExclusive, fs);
  try {
    TvuFileSystemStream s(u"x.vdbl", fmOpenReadWrite | fmShareDenyNone, fs);
    ADD_FAILURE();
  } catch (const EvuFileNotFoundError&) {
    ADD_FAILURE() << "reported as missing";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.OSError(), oseSharingViolation);
  }
}

TEST(FileSystemStream, ReadsSeeksAndLocksRanges) {
  TvuMemoryFileSystem fs;
  TvuFileSystemStream a(u"/f", fmCreate, fs);
  a.WriteBuffer("0123456789", 10);
  EXPECT_EQ(a.Seek(-4, TvuSeekOrigin::soEnd), 6);
  char buf[16] = {};
  EXPECT_EQ(a.Read(buf, 8), 4);
  EXPECT_EQ(std::string(buf, 4), "6789");
  a.Seek(0, TvuSeekOrigin::soBeginning);
  EXPECT_THROW(a.ReadBuffer(buf, 11), EVdbEngine);
  a.SetSize(4);
  EXPECT_EQ(a.Size(), 4);
  auto b = TvuFileSystemStream::CreateFromHandle(fs.OpenFile(u"/f", fmOpenReadWrite), fs);
  // The creating stream denies other openings; CreateFromHandle got none.
  EXPECT_FALSE(TvuFileSystem::IsValidHandle(b->Handle()));
}

TEST(FileSystemStream, IsRangeLockedSeesOtherOpeningsOnly) {
  TvuMemoryFileSystem fs;
  { TvuFileSystemStream c(u"/lock", fmCreate, fs); }
  TvuFileSystemStream a(u"/lock", fmOpenReadWrite | fmShareDenyNone, fs);
  TvuFileSystemStream b(u"/lock", fmOpenReadWrite | fmShareDenyNone, fs);
  ASSERT_TRUE(a.LockRange(85, 1, true));
  EXPECT_TRUE(b.IsRangeLocked(85, 1));
  EXPECT_FALSE(a.IsRangeLocked(85, 1));
  EXPECT_TRUE(a.LockRange(85, 1, true)) << "probing left the own lock in place";
  EXPECT_FALSE(b.LockRange(80, 10, true));
  ASSERT_TRUE(a.UnlockRange(85, 1, true));
  EXPECT_FALSE(b.IsRangeLocked(85, 1));
}

class VdbStream : public ::testing::Test {
 protected:
  void SetUp() override {
    TvuFileHandle h = FFs.CreateFile(u"/t.mov");
    FFs.CloseFile(h);
  }
  TvuMemoryFileSystem FFs;
  TvuFakeClock FClock;
  TvuFakeSleeper FSleeper{FClock};
  TvuFakeRandom FRandom{7};
  TvuServices FServices{FClock, FSleeper, FRandom};
};

TEST_F(VdbStream, TheWholeFileLockIsCountedAndRetried) {
  TvuFileSystemVdbStream s(FFs, FServices), other(FFs, FServices);
  ASSERT_EQ(s.Reset(u"/t.mov", fmOpenReadWrite | fmShareDenyNone), 0);
  ASSERT_EQ(other.Reset(u"/t.mov", fmOpenReadWrite | fmShareDenyNone), 0);
  ASSERT_EQ(s.Lock(), 0);
  ASSERT_EQ(s.Lock(), 0);
  EXPECT_EQ(s.LockCount(), 2);
  EXPECT_EQ(FSleeper.Calls(), 0u);
  // Held by s: the other stream tries 1001 times with 1000 pauses of 100..199 ms.
  EXPECT_EQ(other.Lock(), -vseLockViolation);
  EXPECT_EQ(other.Error(), vseLockViolation);
  EXPECT_EQ(FSleeper.Calls(), 1000u);
  EXPECT_GE(FSleeper.TotalMs(), 100000u);
  EXPECT_LT(FSleeper.TotalMs(), 200000u);
  EXPECT_EQ(s.Unlock(), 0);
  EXPECT_TRUE(other.IsRangeLocked(0, 1)) << "one Unlock of two keeps the lock";
  // Released during the third pause: the waiter gets it then.
  int pauses = 0;
  FSleeper.SetOnSleep([&](std::uint32_t) {
    if (++pauses == 3) s.Unlock();
  });
  EXPECT_EQ(other.Lock(), 0);
  EXPECT_EQ(pauses, 3);
  EXPECT_EQ(other.LockCount(), 1);
}

TEST_F(VdbStream, EncipheredWritesLeaveTheCallersBufferPlain) {
  TXorCipher cipher;
  TvuFileSystemVdbStream s(FFs, FServices);
  ASSERT_EQ(s.Rewrite(u"/r.vdbr", fmOpenReadWrite | fmShareExclusive, 0), 0);
  s.SetEncryption(&cipher);
  std::uint8_t rec[4] = {1, 2, 3, 4};
  ASSERT_EQ(s.WriteNBytes(0, 4, rec, true), 0);
  EXPECT_EQ(rec[0], 1) << "the caller's buffer stays plain";
  EXPECT_EQ(FFs.Contents(u"/r.vdbr")[0], 1 ^ 0x5A);
  ASSERT_EQ(s.WriteNBytes(4, 4, rec, false), 0);
  std::uint8_t back[8] = {};
  ASSERT_EQ(s.ReadNBytes(0, 4, back, true), 0);
  ASSERT_EQ(s.ReadNBytes(4, 4, back + 4, false), 0);
  EXPECT_EQ(std::vector<std::uint8_t>(back, back + 8),
            (std::vector<std::uint8_t>{1, 2, 3, 4, 1, 2, 3, 4}));
  EXPECT_EQ(s.Size(), 8);
}

TEST_F(VdbStream, AFailedReadClosesTheHandleAndTheNextCallReopensIt) {
  TvuFileSystemVdbStream s(FFs, FServices);
  ASSERT_EQ(s.Reset(u"/t.mov", fmOpenReadWrite | fmShareDenyNone), 0);
  ASSERT_EQ(s.WriteNBytes(0, 8, "abcdefgh", false), 0);
  char buf[8];
  EXPECT_EQ(s.TestNBytes(4, 8, buf), -vseReadFailed) << "a probe keeps the handle";
  EXPECT_TRUE(TvuFileSystem::IsValidHandle(s.Handle()));
  EXPECT_EQ(s.ReadNBytes(4, 8, buf, false), -vseReadFailed);
  EXPECT_FALSE(TvuFileSystem::IsValidHandle(s.Handle()));
  EXPECT_EQ(s.ReadNBytes(0, 8, buf, false), 0) << "reopened with the remembered name and mode";
  EXPECT_EQ(std::string(buf, 8), "abcdefgh");
  EXPECT_EQ(s.Cut(2), 0);
  EXPECT_EQ(s.Size(), 2);
  EXPECT_EQ(s.Erase(), 0);
  EXPECT_FALSE(FFs.FileExists(u"/t.mov"));
  EXPECT_EQ(s.ReadNBytes(0, 1, buf, false), -vseOpenFailed);
  EXPECT_THROW(s.IsRangeLocked(0, 1), EVdbEngine) << "cannot tell is not \"free\"";
}

}  // namespace
}  // namespace vdb
