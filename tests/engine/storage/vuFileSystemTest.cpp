// File systems: share modes and byte locks between openings and between processes, the
// operations every file system must agree on (run over the POSIX and the in-memory one),
// errno mapping, and the forwarding base.
#include "storage/vuFileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <functional>
#include <memory>
#include <set>

#include <gtest/gtest.h>

#include "StorageTestSupport.h"
#include "base/VdbErrors.h"
#include "base/VdbFormat.h"
#include "storage/vuMemoryFileSystem.h"
#include "storage/vuOSFileSystem.h"

namespace vdb {
namespace {

using test::TChildProcess;
using test::TTempDir;

constexpr std::uint32_t kShared = fmOpenReadWrite | fmShareDenyNone;     // 66
constexpr std::uint32_t kExclusive = fmOpenReadWrite | fmShareExclusive;  // 18

void WriteFile(TvuFileSystem& fs, std::u16string_view name, const std::string& bytes) {
  const TvuFileHandle h = fs.CreateFile(name);
  ASSERT_TRUE(TvuFileSystem::IsValidHandle(h)) << fs.GetLastError();
  ASSERT_EQ(fs.FileWrite(h, 0, bytes.data(), static_cast<std::int64_t>(bytes.size())),
            static_cast<std::int64_t>(bytes.size()));
  ASSERT_TRUE(fs.CloseFile(h));
}

std::string ReadAll(TvuFileSystem& fs, std::u16string_view name) {
  const TvuFileHandle h = fs.OpenFile(name, fmOpenRead | fmShareDenyNone);
  if (!TvuFileSystem::IsValidHandle(h)) return "<cannot open>";
  std::string s(static_cast<std::size_t>(fs.GetFileSize(h)), '\0');
  fs.FileRead(h, 0, s.data(), static_cast<std::int64_t>(s.size()));
  fs.CloseFile(h);
  return s;
}

// --- Share modes -----------------------------------------------------------------------

struct ShareCase {
  const char* Name;
  std::uint32_t First;
  std::uint32_t Second;
  bool OtherProcess;
  bool SecondOpens;
};

class ShareModeMatrix : public ::testing::TestWithParam<ShareCase> {};

// A second opening fails exactly when either opening is exclusive, whether it comes from the
// same process (another opening) or from another process.
TEST_P(ShareModeMatrix, SecondOpeningSucceedsOrIsRefused) {
  const ShareCase& c = GetParam();
  TTempDir dir;
  TvuOSFileSystem fs;
  const std::u16string name = dir.File("Irsz.vdbt");
  WriteFile(fs, name, "data");
  const TvuFileHandle first = fs.OpenFile(name, c.First);
  ASSERT_TRUE(TvuFileSystem::IsValidHandle(first));
  if (c.OtherProcess) {
    TChildProcess child;
    const std::string answer =
        child.Call("open " + std::to_string(c.Second) + " " + dir.Path() + "/Irsz.vdbt");
    if (c.SecondOpens) {
      EXPECT_EQ(answer.substr(0, 3), "ok ") << answer;
    } else {
      EXPECT_EQ(answer, "err " + std::to_string(oseSharingViolation));
    }
  } else {
    const TvuFileHandle second = fs.OpenFile(name, c.Second);
    EXPECT_EQ(TvuFileSystem::IsValidHandle(second), c.SecondOpens);
    if (!c.SecondOpens) {
      EXPECT_EQ(fs.GetLastError(), oseSharingViolation);
    }
    if (TvuFileSystem::IsValidHandle(second)) fs.CloseFile(second);
  }
  fs.CloseFile(first);
}

INSTANTIATE_TEST_SUITE_P(
    SameAndOtherProcess, ShareModeMatrix,
    ::testing::Values(
        ShareCase{"SharedThenShared_Same", kShared, kShared, false, true},
        ShareCase{"SharedThenExclusive_Same", kShared, kExclusive, false, false},
        ShareCase{"ExclusiveThenShared_Same", kExclusive, kShared, false, false},
        ShareCase{"ExclusiveThenExclusive_Same", kExclusive, kExclusive, false, false},
        ShareCase{"SharedThenShared_Other", kShared, kShared, true, true},
        ShareCase{"SharedThenExclusive_Other", kShared, kExclusive, true, false},
        ShareCase{"ExclusiveThenShared_Other", kExclusive, kShared, true, false},
        ShareCase{"ExclusiveThenExclusive_Other", kExclusive, kExclusive, true, false},
        // A read-only exclusive opening still excludes a writer and vice versa.
        ShareCase{"ReadExclusiveThenShared_Other", fmOpenRead | fmShareExclusive, kShared, true,
                  false},
        ShareCase{"SharedThenReadExclusive_Other", kShared, fmOpenRead | fmShareExclusive, true,
                  false},
        // Deny-write counts as exclusive.
        ShareCase{"DenyWriteThenShared_Other", fmOpenRead | fmShareDenyWrite, kShared, true,
                  false}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(ShareModes, ExclusiveOpeningIsFreeAgainAfterClose) {
  TTempDir dir;
  TvuOSFileSystem fs;
  const std::u16string name = dir.File("t.dat");
  WriteFile(fs, name, "x");
  TChildProcess child;
  const std::string path = dir.Path() + "/t.dat";
  const std::string answer = child.Call("open 18 " + path);
  ASSERT_EQ(answer.substr(0, 3), "ok ");
  EXPECT_FALSE(TvuFileSystem::IsValidHandle(fs.OpenFile(name, kShared)));
  ASSERT_EQ(child.Call("close " + answer.substr(3)), "ok");
  const TvuFileHandle h = fs.OpenFile(name, kShared);
  EXPECT_TRUE(TvuFileSystem::IsValidHandle(h));
  fs.CloseFile(h);
}

// A physically exclusive file system makes every opening exclusive whatever bits it asks for.
TEST(ShareModes, PhysicallyExclusiveFileSystemDeniesOtherProcesses) {
  TTempDir dir;
  TvuOSFileSystem fs;
  fs.SetPhysicallyExclusive(true);
  WriteFile(fs, dir.File("Irsz.dat"), "x");
  const TvuFileHandle h = fs.OpenFile(dir.File("Irsz.dat"), fmOpenRead | fmShareDenyNone);
  ASSERT_TRUE(TvuFileSystem::IsValidHandle(h));
  TChildProcess child;
  EXPECT_EQ(child.Call("open 64 " + dir.Path() + "/Irsz.dat"),
            "err " + std::to_string(oseSharingViolation));
  fs.CloseFile(h);
}

// Creating (truncating) a file another process holds open is refused and keeps its bytes.
TEST(ShareModes, CreateOverAnOpenFileIsRefusedAndKeepsTheContent) {
  TTempDir dir;
  TvuOSFileSystem fs;
  WriteFile(fs, dir.File("Irsz.dat"), "precious");
  TChildProcess child;
  ASSERT_EQ(child.Call("open 66 " + dir.Path() + "/Irsz.dat").substr(0, 3), "ok ");
  EXPECT_FALSE(TvuFileSystem::IsValidHandle(fs.CreateFile(dir.File("Irsz.dat"))));
  EXPECT_EQ(fs.GetLastError(), oseSharingViolation);
  EXPECT_EQ(ReadAll(fs, dir.File("Irsz.dat")), "precious");
}

// --- Byte-range locks ------------------------------------------------------------------

TEST(ByteLocks, TwoOpeningsInOneProcessConflict) {
  TTempDir dir;
  TvuOSFileSystem fs;
  const std::u16string name = dir.File("Irsz.vdbl");
  WriteFile(fs, name, std::string(100, '\0'));
  const TvuFileHandle a = fs.OpenFile(name, kShared);
  const TvuFileHandle b = fs.OpenFile(name, kShared);
  ASSERT_TRUE(fs.LockFile(a, 0, 4, true));
  EXPECT_TRUE(fs.LockFile(a, 0, 4, true)) << "an opening may lock its own range again";
  EXPECT_FALSE(fs.LockFile(b, 2, 3, true));
  EXPECT_EQ(fs.GetLastError(), oseLockViolation);
  EXPECT_TRUE(vuIsBusyError(fs.GetLastError()));
  EXPECT_TRUE(fs.LockFile(b, 4, 8, true)) << "adjacent ranges do not overlap";
  EXPECT_EQ(fs.TestLock(b, 0, 4), TvuLockProbe::lpHeld);
  EXPECT_EQ(fs.TestLock(a, 0, 4), TvuLockProbe::lpFree) << "own locks do not count";
  EXPECT_EQ(fs.TestLock(a, 0, 4), TvuLockProbe::lpFree) << "probing leaves them in place";
  EXPECT_FALSE(fs.LockFile(b, 0, 1, true));
  ASSERT_TRUE(fs.UnlockFile(a, 0, 4, true));
  EXPECT_TRUE(fs.LockFile(b, 0, 4, true));
  fs.CloseFile(a);
  fs.CloseFile(b);
}

TEST(ByteLocks, ClosingAnUnrelatedOpeningKeepsTheLocks) {
  TTempDir dir;
  TvuOSFileSystem fs;
  const std::u16string name = dir.File("Irsz.vdbl");
  WriteFile(fs, name, std::string(100, '\0'));
  const TvuFileHandle holder = fs.OpenFile(name, kShared);
  const TvuFileHandle unrelated = fs.OpenFile(name, kShared);
  const TvuFileHandle other = fs.OpenFile(name, kShared);
  ASSERT_TRUE(fs.LockFile(holder, 85, 86, true));
  ASSERT_TRUE(fs.CloseFile(unrelated));
  EXPECT_FALSE(fs.LockFile(other, 85, 86, true));
  EXPECT_EQ(fs.TestLock(other, 85, 86), TvuLockProbe::lpHeld);
  ASSERT_TRUE(fs.CloseFile(holder));
  EXPECT_TRUE(fs.LockFile(other, 85, 86, true)) << "closing the holder releases its locks";
  fs.CloseFile(other);
}

TEST(ByteLocks, LocksConflictBetweenProcessesAndDieWithTheHolder) {
  TTempDir dir;
  TvuOSFileSystem fs;
  const std::u16string name = dir.File("Irsz.vdbl");
  WriteFile(fs, name, std::string(100, '\0'));
  const TvuFileHandle h = fs.OpenFile(name, kShared);
  TChildProcess child;
  const std::string opened = child.Call("open 66 " + dir.Path() + "/Irsz.vdbl");
  ASSERT_EQ(opened.substr(0, 3), "ok ");
  const std::string ch = opened.substr(3);

  ASSERT_TRUE(fs.LockFile(h, 0, 4, true));
  EXPECT_EQ(child.Call("lock " + ch + " 0 4"), "err " + std::to_string(oseLockViolation));
  EXPECT_EQ(child.Call("test " + ch + " 3 4"), "held");
  ASSERT_TRUE(fs.UnlockFile(h, 0, 4, true));
  EXPECT_EQ(child.Call("test " + ch + " 0 4"), "free");

  // The child holds a "vital sign" byte; when the process dies, the byte is free.
  ASSERT_EQ(child.Call("lock " + ch + " 85 86"), "ok");
  EXPECT_EQ(fs.TestLock(h, 85, 86), TvuLockProbe::lpHeld);
  EXPECT_FALSE(fs.LockFile(h, 85, 86, true));
  child.Kill();
  EXPECT_EQ(fs.TestLock(h, 85, 86), TvuLockProbe::lpFree);
  EXPECT_TRUE(fs.LockFile(h, 85, 86, true));
  fs.CloseFile(h);
}

TEST(ByteLocks, RangesReachingTheShareSentinelAreRefused) {
  TTempDir dir;
  TvuOSFileSystem fs;
  WriteFile(fs, dir.File("f"), "x");
  const TvuFileHandle h = fs.OpenFile(dir.File("f"), kShared);
  EXPECT_FALSE(fs.LockFile(h, 0, kvuShareSentinel + 1, true));
  EXPECT_EQ(fs.GetLastError(), oseInvalidParameter);
  EXPECT_FALSE(fs.UnlockFile(h, kvuShareSentinel, kvuShareSentinel + 1, true));
  // The share mode survived the refused unlock.
  EXPECT_FALSE(TvuFileSystem::IsValidHandle(fs.OpenFile(dir.File("f"), kExclusive)));
  fs.CloseFile(h);
}

// --- Operations every file system agrees on --------------------------------------------

struct FsFactory {
  const char* Name;
  std::function<std::unique_ptr<TvuFileSystem>(const std::u16string& base)> Make;
};

class FileSystemContract : public ::testing::TestWithParam<FsFactory> {
 protected:
  void SetUp() override { FFs = GetParam().Make(FDir.Path16()); }
  TTempDir FDir;
  std::unique_ptr<TvuFileSystem> FFs;
};

TEST_P(FileSystemContract, RelativeNamesResolveAgainstTheBaseDirectory) {
  TvuFileSystem& fs = *FFs;
  WriteFile(fs, u"Irsz.dat", "abc");
  EXPECT_EQ(ReadAll(fs, FDir.Path16() + u"/Irsz.dat"), "abc") << "absolute names as given";
  EXPECT_EQ(fs.ExpandFileName(u"sub/../Irsz.dat"), FDir.Path16() + u"/Irsz.dat");
  EXPECT_TRUE(fs.FileExists(u"Irsz.dat"));
  EXPECT_FALSE(fs.FileExists(u"Irsz.da?")) << "a mask is not a name";
  EXPECT_FALSE(fs.FileExists(u"Missing.dat"));
}

TEST_P(FileSystemContract, ReadsWritesAndSizes) {
  TvuFileSystem& fs = *FFs;
  const TvuFileHandle h = fs.CreateFile(u"f.dat");
  ASSERT_TRUE(TvuFileSystem::IsValidHandle(h));
  EXPECT_EQ(fs.FileWrite(h, 10, "xyz", 3), 3);
  EXPECT_EQ(fs.GetFileSize(h), 13);
  char buf[8] = {};
  EXPECT_EQ(fs.FileRead(h, 0, buf, 2), 2);
  EXPECT_EQ(buf[0], 0) << "a gap reads as zero bytes";
  EXPECT_EQ(fs.FileRead(h, 11, buf, 8), 2);
  EXPECT_EQ(fs.GetLastError(), oseHandleEof) << "a short read at the end is not a failure";
  EXPECT_TRUE(fs.EndOfFile(h, 13));
  EXPECT_FALSE(fs.EndOfFile(h, 12));
  fs.SetFileSize(h, 100);
  EXPECT_EQ(fs.GetFileSize(h), 13) << "SetFileSize never grows";
  fs.SetFileSize(h, 11);
  EXPECT_EQ(fs.GetFileSize(h), 11);
  EXPECT_TRUE(fs.FlushFile(h));
  EXPECT_TRUE(fs.CloseFile(h));
  EXPECT_FALSE(fs.CloseFile(h));
  EXPECT_EQ(fs.GetLastError(), oseInvalidHandle);
  EXPECT_THROW(fs.GetFileSize(h), EVdbEngine);
}

TEST_P(FileSystemContract, ReadOnlyHandlesRefuseWrites) {
  TvuFileSystem& fs = *FFs;
  WriteFile(fs, u"f.dat", "abc");
  const TvuFileHandle h = fs.OpenFile(u"f.dat", fmOpenRead | fmShareDenyNone);
  ASSERT_TRUE(TvuFileSystem::IsValidHandle(h));
  EXPECT_EQ(fs.FileWrite(h, 0, "z", 1), 0);
  EXPECT_EQ(fs.GetLastError(), oseAccessDenied);
  EXPECT_THROW(fs.SetFileSize(h, 1), EVdbEngine);
  fs.CloseFile(h);
  EXPECT_EQ(ReadAll(fs, u"f.dat"), "abc");
}

TEST_P(FileSystemContract, OpeningAMissingFileSaysWhy) {
  TvuFileSystem& fs = *FFs;
  EXPECT_FALSE(TvuFileSystem::IsValidHandle(fs.OpenFile(u"none.dat", kShared)));
  EXPECT_EQ(fs.GetLastError(), oseFileNotFound);
  EXPECT_FALSE(TvuFileSystem::IsValidHandle(fs.OpenFile(u"nodir/none.dat", kShared)));
  EXPECT_TRUE(fs.GetLastError() == osePathNotFound || fs.GetLastError() == oseFileNotFound);
  EXPECT_FALSE(TvuFileSystem::IsValidHandle(fs.CreateFile(u"nodir/x.dat")));
}

TEST_P(FileSystemContract, RenameNeverReplacesATarget) {
  TvuFileSystem& fs = *FFs;
  WriteFile(fs, u"a.tmp", "new");
  WriteFile(fs, u"Irsz.vdbl", "old");
  EXPECT_FALSE(fs.RenameFile(u"a.tmp", u"Irsz.vdbl"));
  EXPECT_EQ(fs.GetLastError(), oseAlreadyExists);
  EXPECT_EQ(ReadAll(fs, u"Irsz.vdbl"), "old");
  EXPECT_TRUE(fs.RenameFile(u"a.tmp", u"b.vdbl"));
  EXPECT_EQ(ReadAll(fs, u"b.vdbl"), "new");
  EXPECT_FALSE(fs.FileExists(u"a.tmp"));
  EXPECT_TRUE(fs.DeleteFile(u"b.vdbl"));
  EXPECT_FALSE(fs.DeleteFile(u"b.vdbl"));
  EXPECT_EQ(fs.GetLastError(), oseFileNotFound);
}

TEST_P(FileSystemContract, DirectoriesAndEnumerationMasks) {
  TvuFileSystem& fs = *FFs;
  for (const char16_t* n : {u"Irsz.vdbt", u"Irsz_tmp.vdbt", u"Upper.VDBT", u"a.dat", u"b.dat",
                            u"noext", u"x.dat.bak"}) {
    WriteFile(fs, n, "");
  }
  ASSERT_TRUE(fs.ForcePath(u"sub/deeper"));
  EXPECT_TRUE(fs.DirectoryExists(u"sub/deeper/"));
  EXPECT_FALSE(fs.DirectoryExists(u"a.dat"));
  EXPECT_FALSE(fs.CreateDir(u"sub"));
  EXPECT_FALSE(fs.RemoveDir(u"sub")) << "not empty";

  struct Case {
    const char16_t* Mask;
    std::int32_t Attr;
    std::set<std::u16string> Expected;
  };
  const Case cases[] = {
      {u"*.vdbt", 0, {u"Irsz.vdbt", u"Irsz_tmp.vdbt"}},  // names are case-sensitive
      {u"?.dat", 0, {u"a.dat", u"b.dat"}},
      {u"*.*", 0, {u"Irsz.vdbt", u"Irsz_tmp.vdbt", u"Upper.VDBT", u"a.dat", u"b.dat", u"noext",
                   u"x.dat.bak"}},
      {u"*", faDirectory, {u"Irsz.vdbt", u"Irsz_tmp.vdbt", u"Upper.VDBT", u"a.dat", u"b.dat",
                           u"noext", u"x.dat.bak", u"sub"}},
      {u"*.dat", 0, {u"a.dat", u"b.dat"}},
      {u"Irsz*", 0, {u"Irsz.vdbt", u"Irsz_tmp.vdbt"}},
      {u"sub/*", faDirectory, {u"deeper"}},
      {u"*.mmo", 0, {}},
  };
  for (const Case& c : cases) {
    std::set<std::u16string> found;
    TvuFindFileRec rec;
    for (bool ok = fs.FindFirstFile(c.Mask, c.Attr, rec); ok; ok = fs.FindNextFile(rec)) {
      found.insert(rec.Name);
    }
    fs.FindFileClose(rec);
    EXPECT_EQ(found, c.Expected) << VdbUtf16ToUtf8(c.Mask);
  }
  EXPECT_TRUE(fs.RemoveDir(u"sub/deeper"));
  EXPECT_TRUE(fs.RemoveDir(u"sub"));
}

TEST_P(FileSystemContract, CopyFileCopiesTheBytes) {
  TvuFileSystem& fs = *FFs;
  std::string big(200000, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  WriteFile(fs, u"src", big);
  ASSERT_TRUE(fs.CopyFile(u"src", u"dst"));
  EXPECT_EQ(ReadAll(fs, u"dst"), big);
}

TEST_P(FileSystemContract, DeletedFileStaysUsableThroughItsHandle) {
  TvuFileSystem& fs = *FFs;
  WriteFile(fs, u"f", "abc");
  const TvuFileHandle h = fs.OpenFile(u"f", kShared);
  const auto id = fs.HandleFileId(h);
  ASSERT_TRUE(id.has_value());
  EXPECT_EQ(fs.FileIdOf(u"./f"), id) << "one file, one identity, whatever the name";
  ASSERT_TRUE(fs.DeleteFile(u"f"));
  char buf[3];
  EXPECT_EQ(fs.FileRead(h, 0, buf, 3), 3);
  EXPECT_FALSE(fs.FileIdOf(u"f").has_value());
  fs.CloseFile(h);
}

TEST_P(FileSystemContract, ShareModesAndLocksBetweenOpenings) {
  TvuFileSystem& fs = *FFs;
  WriteFile(fs, u"f", std::string(10, 'x'));
  const TvuFileHandle a = fs.OpenFile(u"f", kShared);
  EXPECT_FALSE(TvuFileSystem::IsValidHandle(fs.OpenFile(u"f", kExclusive)));
  const TvuFileHandle b = fs.OpenFile(u"f", kShared);
  const TvuFileHandle c = fs.OpenFile(u"f", kShared);
  ASSERT_TRUE(fs.LockFile(a, 0, 4, true));
  EXPECT_FALSE(fs.LockFile(b, 3, 5, true));
  fs.CloseFile(c);
  EXPECT_FALSE(fs.LockFile(b, 3, 5, true));
  ASSERT_TRUE(fs.UnlockFile(a, 2, 3, true));  // a keeps [0,2) and [3,4)
  EXPECT_TRUE(fs.LockFile(b, 2, 3, true));
  EXPECT_FALSE(fs.LockFile(b, 3, 4, true));
  fs.CloseFile(a);
  fs.CloseFile(b);
}

INSTANTIATE_TEST_SUITE_P(
    AllFileSystems, FileSystemContract,
    ::testing::Values(
        FsFactory{"OS", [](const std::u16string& base) -> std::unique_ptr<TvuFileSystem> {
                    return std::make_unique<TvuOSFileSystem>(base);
                  }},
        FsFactory{"Memory", [](const std::u16string& base) -> std::unique_ptr<TvuFileSystem> {
                    auto fs = std::make_unique<TvuMemoryFileSystem>(8192, base);
                    fs->ForcePath(base);
                    return fs;
                  }}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(FileSystemCopy, CopyFromMovesATreeBetweenFileSystems) {
  TvuMemoryFileSystem mem;
  mem.ForcePath(u"/db/sub");
  WriteFile(mem, u"/db/Irsz.vdbt", "table");
  WriteFile(mem, u"/db/sub/Irsz.vdbm", "memo");
  TTempDir dir;
  TvuOSFileSystem os(dir.Path16());
  ASSERT_TRUE(os.CopyFrom(mem, u"/db", u"copy"));
  EXPECT_EQ(ReadAll(os, u"copy/Irsz.vdbt"), "table");
  EXPECT_EQ(ReadAll(os, u"copy/sub/Irsz.vdbm"), "memo");
  EXPECT_FALSE(os.CopyFrom(mem, u"/missing", u"copy2"));
}

// --- POSIX details ---------------------------------------------------------------------

TEST(OSFileSystem, DescriptorsAreCloseOnExecAndNewFilesAre0666LessUmask) {
  TTempDir dir;
  TvuOSFileSystem fs(dir.Path16());
  const mode_t old = ::umask(022);
  const TvuFileHandle h = fs.CreateFile(u"new.dat");
  ::umask(old);
  ASSERT_TRUE(TvuFileSystem::IsValidHandle(h));
  EXPECT_TRUE(::fcntl(h, F_GETFD) & FD_CLOEXEC);
  struct stat st;
  ASSERT_EQ(::stat((dir.Path() + "/new.dat").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  const TvuFileHandle r = fs.OpenFile(u"new.dat", fmOpenRead | fmShareDenyNone);
  EXPECT_FALSE(TvuFileSystem::IsValidHandle(r)) << "create holds the file exclusively";
  fs.CloseFile(h);
  const TvuFileHandle r2 = fs.OpenFile(u"new.dat", fmOpenRead | fmShareDenyNone);
  ASSERT_TRUE(TvuFileSystem::IsValidHandle(r2));
  EXPECT_TRUE(::fcntl(r2, F_GETFD) & FD_CLOEXEC);
  fs.CloseFile(r2);
}

TEST(OSFileSystem, AFileThatMayOnlyBeReadOpensForReading) {
  if (::geteuid() == 0) GTEST_SKIP() << "root may write every file";
  TTempDir dir;
  TvuOSFileSystem fs(dir.Path16());
  WriteFile(fs, u"ro.dat", "abc");
  ASSERT_EQ(::chmod((dir.Path() + "/ro.dat").c_str(), 0444), 0);
  const TvuFileHandle h = fs.OpenFile(u"ro.dat", fmOpenRead | fmShareDenyNone);
  ASSERT_TRUE(TvuFileSystem::IsValidHandle(h));
  char buf[3];
  EXPECT_EQ(fs.FileRead(h, 0, buf, 3), 3);
  EXPECT_FALSE(TvuFileSystem::IsValidHandle(fs.OpenFile(u"ro.dat", kShared)));
  EXPECT_EQ(fs.GetLastError(), oseAccessDenied);
  fs.CloseFile(h);
}

// --- Error mapping ---------------------------------------------------------------------

TEST(ErrnoMapping, KeepsBusyCorruptAndFailedApart) {
  struct Case {
    int Errno;
    std::int32_t Code;
  };
  const Case cases[] = {
      {ENOENT, oseFileNotFound}, {ENOTDIR, osePathNotFound}, {EACCES, oseAccessDenied},
      {EPERM, oseAccessDenied},  {EBADF, oseInvalidHandle},  {EAGAIN, oseLockViolation},
      {EBUSY, oseSharingViolation}, {EBADMSG, oseDataCorrupt}, {EUCLEAN, oseDataCorrupt},
      {EIO, oseIoFailure},       {ENOSPC, oseDiskFull},      {EEXIST, oseAlreadyExists},
      {ENOLCK, oseNoLockingSupport}, {EROFS, oseWriteProtect}, {ENAMETOOLONG, oseNameTooLong},
      {0, oseNone},
  };
  for (const Case& c : cases) EXPECT_EQ(vuOSErrorFromErrno(c.Errno).Code, c.Code) << c.Errno;
  EXPECT_TRUE(vuIsBusyError(vuOSErrorFromErrno(EAGAIN).Code));
  EXPECT_FALSE(vuIsBusyError(vuOSErrorFromErrno(EIO).Code));
  EXPECT_FALSE(vuIsBusyError(vuOSErrorFromErrno(EBADMSG).Code));
  EXPECT_NE(vuOSErrorFromErrno(EIO).Code, vuOSErrorFromErrno(EBADMSG).Code);
}

TEST(ErrnoMapping, TextsComeFromTheCLocale) {
  // Whatever the process locale (the application runs Hungarian), texts stay English.
  const char* old = std::setlocale(LC_ALL, nullptr);
  const std::string saved = old ? old : "C";
  std::setlocale(LC_ALL, "hu_HU.UTF-8");
  EXPECT_EQ(vuOSErrorFromErrno(ENOENT).Text, u"No such file or directory");
  std::setlocale(LC_ALL, saved.c_str());
  TvuMemoryFileSystem fs;
  EXPECT_EQ(fs.GetErrorMessage(oseNoLockingSupport), u"No locking support");
  EXPECT_EQ(fs.GetErrorMessage(1234), u"Unknown reason");
  EXPECT_EQ(fs.GetErrorMessage(oseFileNotFound), u"No such file or directory");
}

// --- Forwarding base -------------------------------------------------------------------

// Overrides one operation; everything else reaches the real file system.
class TFailingWrites : public TvuFileSystemWrapper {
 public:
  using TvuFileSystemWrapper::TvuFileSystemWrapper;
  std::int64_t FileWrite(TvuFileHandle, std::int64_t, const void*, std::int64_t) override {
    SetLastError(oseDiskFull);
    return 0;
  }
};

TEST(FileSystemWrapper, ATestDoubleOverridesOneOperation) {
  TvuMemoryFileSystem mem;
  TFailingWrites fs(mem);
  const TvuFileHandle h = fs.CreateFile(u"f");
  ASSERT_TRUE(TvuFileSystem::IsValidHandle(h));
  EXPECT_EQ(fs.FileWrite(h, 0, "abc", 3), 0);
  EXPECT_EQ(fs.GetLastError(), oseDiskFull);
  EXPECT_EQ(mem.FileWrite(h, 0, "abc", 3), 3);
  char buf[3];
  EXPECT_EQ(fs.FileRead(h, 0, buf, 3), 3);
  EXPECT_TRUE(fs.CloseFile(h));
  EXPECT_EQ(mem.OpenHandleCount(), 0u);
}

TEST(FileSystemWrapper, PhysicallyExclusiveWrapperMakesOpeningsExclusive) {
  TvuMemoryFileSystem mem;
  WriteFile(mem, u"f", "x");
  TvuFileSystemWrapper fs(mem);
  fs.SetPhysicallyExclusive(true);
  const TvuFileHandle h = fs.OpenFile(u"f", kShared);
  ASSERT_TRUE(TvuFileSystem::IsValidHandle(h));
  EXPECT_FALSE(TvuFileSystem::IsValidHandle(mem.OpenFile(u"f", fmOpenRead | fmShareDenyNone)));
  fs.CloseFile(h);
}

}  // namespace
}  // namespace vdb
