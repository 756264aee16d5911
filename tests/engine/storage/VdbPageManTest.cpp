// The page manager: tiles and page sizes, storage identity and share rules, flush, undo and
// invalidate, encryption on the way to the file, failing writes, the cache limit, and a
// randomised run against a byte model.
#include "storage/VdbPageMan.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "StorageTestSupport.h"
#include "base/VdbErrorCodes.h"
#include "base/vuLittleEndian.h"
#include "storage/vuLog.h"
#include "storage/vuMemoryFileSystem.h"
#include "storage/vuOSFileSystem.h"

namespace vdb {
namespace {

using test::TTempDir;
using Bytes = std::vector<std::uint8_t>;

// Records reads, writes and flushes, and fails the Nth write (1-based; 0: none).
class TRecordingFs : public TvuFileSystemWrapper {
 public:
  using TvuFileSystemWrapper::TvuFileSystemWrapper;
  struct TIo {
    std::int64_t Pos, Count;
    friend bool operator==(const TIo&, const TIo&) = default;
  };
  std::vector<TIo> Reads, Writes;
  int FlushCalls = 0;
  int FailWriteNo = 0;
  int WriteCalls = 0;
  bool FailReads = false;

  std::int64_t FileRead(TvuFileHandle h, std::int64_t pos, void* data,
                        std::int64_t count) override {
    if (FailReads) {
      SetLastError(oseDataCorrupt);
      return 0;
    }
    Reads.push_back({pos, count});
    return TvuFileSystemWrapper::FileRead(h, pos, data, count);
  }
  std::int64_t FileWrite(TvuFileHandle h, std::int64_t pos, const void* data,
                         std::int64_t count) override {
    if (++WriteCalls == FailWriteNo) {
      SetLastError(oseIoFailure);
      return 0;
    }
    Writes.push_back({pos, count});
    return TvuFileSystemWrapper::FileWrite(h, pos, data, count);
  }
  bool FlushFile(TvuFileHandle h) override {
    ++FlushCalls;
    return TvuFileSystemWrapper::FlushFile(h);
  }
  void ClearLog() {
    Reads.clear();
    Writes.clear();
  }
};

// Adds a key to every byte: enough to tell enciphered from plain bytes.
class TAddCipher : public TVdbEncryption {
 public:
  explicit TAddCipher(std::uint8_t key) : FKey(key) {}
  void EncryptBlock(std::uint8_t* d, std::size_t n) override {
    for (std::size_t i = 0; i < n; ++i) d[i] = static_cast<std::uint8_t>(d[i] + FKey);
  }
  void DecryptBlock(std::uint8_t* d, std::size_t n) override {
    for (std::size_t i = 0; i < n; ++i) d[i] = static_cast<std::uint8_t>(d[i] - FKey);
  }
  std::uint8_t FKey;
};
class TOtherCipher : public TAddCipher {
 public:
  using TAddCipher::TAddCipher;
};

class TTestCryptor : public IvuCryptor {
 public:
  TTestCryptor(std::uint8_t key, bool other = false) : FKey(key), FOther(other) {}
  std::unique_ptr<TVdbEncryption> CreateEncryption() const override {
    if (FOther) return std::make_unique<TOtherCipher>(FKey);
    return std::make_unique<TAddCipher>(FKey);
  }
  bool IsCorrectEncryption(TVdbEncryption& other) const override {
    Bytes a(64);
    for (std::size_t i = 0; i < a.size(); ++i) a[i] = static_cast<std::uint8_t>(i);
    Bytes b = a;
    CreateEncryption()->EncryptBlock(b.data(), b.size());
    other.DecryptBlock(b.data(), b.size());
    return a == b;
  }
  std::uint8_t FKey;
  bool FOther;
};

// Where two byte strings part, for failure messages.
std::string FirstDifference(const Bytes& a, const Bytes& b) {
  std::size_t i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
  return "sizes " + std::to_string(a.size()) + "/" + std::to_string(b.size()) +
         ", first difference at " + std::to_string(i);
}

Bytes Pattern(std::size_t size, std::uint8_t seed) {
  Bytes b(size);
  for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<std::uint8_t>(seed + i * 31 + i / 7);
  return b;
}

void PutFile(TvuFileSystem& fs, std::u16string_view name, const Bytes& bytes) {
  const TvuFileHandle h = fs.CreateFile(name);
  ASSERT_TRUE(TvuFileSystem::IsValidHandle(h));
  ASSERT_EQ(fs.FileWrite(h, 0, bytes.data(), static_cast<std::int64_t>(bytes.size())),
            static_cast<std::int64_t>(bytes.size()));
  fs.CloseFile(h);
}

class PageManager : public ::testing::Test {
 protected:
  std::unique_ptr<TVdbClientStorage> Client(std::u16string name, std::int32_t pageSize,
                                            const IvuCryptor* cryptor = nullptr,
                                            std::int32_t clientHdl = 1) {
    auto c = std::make_unique<TVdbClientStorage>(FPm, cryptor, clientHdl, FFs);
    c->SetName(std::move(name));
    c->SetPageSize(pageSize);
    return c;
  }
  Bytes PageBytes(TVdbClientStorage& c, std::int64_t pageNo) {
    Bytes b(static_cast<std::size_t>(c.GetPageSize()));
    c.ReadPage(pageNo, b.data());
    return b;
  }
  TvuMemoryFileSystem FMem{8192};
  TRecordingFs FFs{FMem};
  TVdbPageManager FPm;
};

TEST_F(PageManager, PagesSmallerThanATileShareItAndFlushRewritesTheWholeTile) {
  const Bytes original = Pattern(16384, 1);
  PutFile(FMem, u"t.vdbt", original);
  auto c = Client(u"t.vdbt", 4096);
  c->Open(false, false);
  EXPECT_EQ(c->GetPageCount(), 4);
  auto site = c->CreatePageSite();
  FFs.ClearLog();
  site->LoadPage(0);
  site->LoadPage(1);
  EXPECT_EQ(FFs.Reads, (std::vector<TRecordingFs::TIo>{{0, 8192}})) << "pages 0 and 1 share tile 0";
  EXPECT_EQ(FPm.CachedBufferCount(), 1u);
  site->WriteInt32(0, 0x11223344);
  c->Flush();
  EXPECT_EQ(FFs.Writes, (std::vector<TRecordingFs::TIo>{{0, 8192}}));
  Bytes expected = original;
  expected[4096] = 0x44, expected[4097] = 0x33, expected[4098] = 0x22, expected[4099] = 0x11;
  EXPECT_EQ(FMem.Contents(u"t.vdbt"), expected);
}

TEST_F(PageManager, APageLargerThanATileIsOneBufferReadAndWrittenAtOnce) {
  const Bytes original = Pattern(4 * 8192, 2);
  PutFile(FMem, u"i.vdbi", original);
  auto c = Client(u"i.vdbi", 16384);
  c->Open(false, false);
  EXPECT_EQ(c->GetPageCount(), 2);
  auto site = c->CreatePageSite();
  FFs.ClearLog();
  site->LoadPage(1);
  EXPECT_EQ(FFs.Reads, (std::vector<TRecordingFs::TIo>{{16384, 16384}})) << "tiles 2 and 3";
  EXPECT_EQ(Bytes(site->GetMemory(), site->GetMemory() + 16384),
            Bytes(original.begin() + 16384, original.end()));
  site->WriteInt8(16383, 7);
  c->Flush();
  EXPECT_EQ(FFs.Writes, (std::vector<TRecordingFs::TIo>{{16384, 16384}}));
  EXPECT_EQ(FMem.Contents(u"i.vdbi")[32767], 7);
}

TEST_F(PageManager, LoadingAPageOutsideThePageCountFails) {
  PutFile(FMem, u"t.vdbt", Pattern(8192, 3));
  auto c = Client(u"t.vdbt", 4096);
  c->Open(true, false);
  auto site = c->CreatePageSite();
  for (std::int64_t pageNo : {std::int64_t{2}, std::int64_t{-1}, std::int64_t{1000}}) {
    try {
      site->LoadPage(pageNo);
      ADD_FAILURE() << "page " << pageNo << " loaded";
    } catch (const EVdbPageManager& e) {
      EXPECT_EQ(e.Reason(), u"Page no is invalid");
      EXPECT_EQ(e.Operation(),
                u"Loading page " + VdbUtf8ToUtf16(std::to_string(pageNo)) + u" of storage \"t.vdbt\"");
    }
  }
  EXPECT_NO_THROW(site->LoadPage(1));
  EXPECT_THROW(site->WriteInt8(0, 1), EVdbPageManager) << "read-only";
}

TEST_F(PageManager, OpeningTheSameFileTwice) {
  PutFile(FMem, u"t.vdbt", Pattern(8192, 4));
  FMem.ForcePath(u"/sub");
  struct Case {
    const char* Name;
    bool FirstExclusive, SecondExclusive;
    const char16_t* SecondName;  // another name of the same file
    bool Opens;
  };
  const Case cases[] = {
      {"shared twice", false, false, u"t.vdbt", true},
      {"shared twice by another name", false, false, u"/sub/../t.vdbt", true},
      {"exclusive then shared", true, false, u"t.vdbt", false},
      {"shared then exclusive", false, true, u"./t.vdbt", false},
      {"exclusive twice", true, true, u"t.vdbt", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    auto a = Client(u"t.vdbt", 4096);
    a->Open(false, c.FirstExclusive);
    auto b = Client(c.SecondName, 4096);
    if (c.Opens) {
      b->Open(false, c.SecondExclusive);
      EXPECT_EQ(b->StorageHandle(), a->StorageHandle());
      EXPECT_EQ(a->StorageRefCount(), 2);
      EXPECT_EQ(FPm.OpenStorageCount(), 1u);
    } else {
      try {
        b->Open(false, c.SecondExclusive);
        ADD_FAILURE() << "opened";
      } catch (const EVdbPMStorageAccessDenied& e) {
        EXPECT_EQ(e.Message(), u"Cannot open storage \"" + std::u16string(c.SecondName) +
                                   u"\": May not be opened twice if one is exclusive");
      }
      EXPECT_EQ(a->StorageRefCount(), 1);
    }
  }
  EXPECT_EQ(FPm.OpenStorageCount(), 0u);
  EXPECT_EQ(FMem.OpenHandleCount(), 0u);
}

TEST_F(PageManager, AMissingFileIsStorageNotFound) {
  auto c = Client(u"none.vdbt", 4096);
  try {
    c->Open(false, false);
    ADD_FAILURE();
  } catch (const EVdbPMStorageNotFound& e) {
    EXPECT_EQ(e.Message(), u"Storage \"none.vdbt\" not found");
    EXPECT_EQ(e.ToEngineError(u"none.vdbt").Code(), errCannotOpenFile);
  }
}

TEST_F(PageManager, FlushWritesExactlyTheModifiedTiles) {
  PutFile(FMem, u"t.vdbt", Pattern(8 * 8192, 5));
  auto c = Client(u"t.vdbt", 4096);
  c->Open(false, false);
  auto site = c->CreatePageSite();
  for (std::int64_t p = 0; p < 16; ++p) site->LoadPage(p);  // everything cached
  site->LoadPage(3);
  site->WriteInt16(10, 1);   // tile 1
  site->LoadPage(11);
  site->WriteInt16(10, 2);   // tile 5
  site->LoadPage(10);
  site->WriteInt16(20, 3);   // tile 5 again
  FFs.ClearLog();
  c->Flush();
  EXPECT_EQ(FFs.Writes, (std::vector<TRecordingFs::TIo>{{8192, 8192}, {5 * 8192, 8192}}));
  EXPECT_EQ(c->ModifiedBufferCount(), 0u);
  FFs.ClearLog();
  c->Flush();
  EXPECT_TRUE(FFs.Writes.empty()) << "clean tiles are not written again";
  EXPECT_EQ(FFs.FlushCalls, 0) << "no deep flush asked for";
  site->WriteInt16(0, 4);
  c->SetDeepFlush(true);
  c->Flush();
  EXPECT_EQ(FFs.FlushCalls, 1) << "deep flush forces the data to the device";
}

TEST_F(PageManager, UndoRestoresTheFile) {
  const Bytes original = Pattern(2 * 8192, 6);
  PutFile(FMem, u"t.vdbt", original);
  auto c = Client(u"t.vdbt", 4096);
  c->Open(false, false);
  auto site = c->CreatePageSite();
  site->LoadPage(1);
  site->WriteInt32(100, -1);
  site->InitPage(6);  // grows to 4 tiles
  site->WriteInt32(0, 42);
  EXPECT_EQ(c->GetPageCount(), 8);
  c->Undo();
  EXPECT_EQ(c->GetPageCount(), 4);
  for (std::int64_t p = 0; p < 4; ++p) {
    EXPECT_EQ(PageBytes(*c, p), Bytes(original.begin() + p * 4096, original.begin() + (p + 1) * 4096));
  }
  EXPECT_EQ(FMem.Contents(u"t.vdbt"), original);
  EXPECT_EQ(site->PageNo(), 6) << "the site keeps its (now stale) page until it loads another";
  EXPECT_THROW(site->LoadPage(6), EVdbPageManager);
}

TEST_F(PageManager, InitPageKeepsTheNeighboursInItsTile) {
  const Bytes original = Pattern(8192, 7);
  PutFile(FMem, u"t.vdbt", original);
  auto c = Client(u"t.vdbt", 4096);
  c->Open(false, false);
  auto site = c->CreatePageSite();
  site->InitPage(1);  // page 0 shares the tile and is not cached
  EXPECT_EQ(site->ReadInt32(0), 0);
  c->Flush();
  Bytes expected = original;
  std::fill(expected.begin() + 4096, expected.end(), 0);
  EXPECT_EQ(FMem.Contents(u"t.vdbt"), expected);
}

TEST_F(PageManager, InvalidateShowsWhatAnotherProcessWrote) {
  PutFile(FMem, u"t.vdbt", Pattern(8192, 8));
  // A second manager on the same files stands for another process.
  TVdbPageManager otherProcess;
  TVdbClientStorage other(otherProcess, nullptr, 1, FMem);
  other.SetName(u"t.vdbt");
  other.SetPageSize(4096);
  other.Open(false, false);
  auto c = Client(u"t.vdbt", 4096);
  c->Open(false, false);
  auto site = c->CreatePageSite();
  site->LoadPage(0);
  const std::int32_t before = site->ReadInt32(0);
  auto otherSite = other.CreatePageSite();
  otherSite->LoadPage(0);
  otherSite->WriteInt32(0, before + 1);
  otherSite->InitPage(2);
  other.Flush();
  EXPECT_EQ(site->ReadInt32(0), before) << "the cache does not know yet";
  c->Invalidate();
  EXPECT_EQ(site->ReadInt32(0), before) << "the site's memory stays valid until it reloads";
  site->LoadPage(0);
  EXPECT_EQ(site->ReadInt32(0), before + 1) << "a stale page is reread on its next load";
  EXPECT_EQ(c->GetPageCount(), 4);
}

TEST_F(PageManager, NamesThatDifferOnlyInCaseAreTwoFilesWithTwoCaches) {
  TTempDir dir;
  TvuOSFileSystem os(dir.Path16());
  PutFile(os, u"Irsz.vdbt", Pattern(8192, 9));
  PutFile(os, u"IRSZ.vdbt", Pattern(8192, 10));
  ASSERT_EQ(::link((dir.Path() + "/Irsz.vdbt").c_str(), (dir.Path() + "/Alias.vdbt").c_str()), 0);
  TVdbClientStorage a(FPm, nullptr, 1, os), b(FPm, nullptr, 1, os), alias(FPm, nullptr, 1, os);
  a.SetName(u"Irsz.vdbt");
  b.SetName(u"IRSZ.vdbt");
  alias.SetName(u"Alias.vdbt");
  a.Open(false, false);
  b.Open(false, false);
  alias.Open(false, false);
  EXPECT_NE(a.StorageHandle(), b.StorageHandle());
  EXPECT_EQ(a.StorageHandle(), alias.StorageHandle()) << "a hard link is the same file";
  EXPECT_EQ(PageBytes(a, 0), Pattern(8192, 9));
  EXPECT_EQ(PageBytes(b, 0), Pattern(8192, 10));
  auto site = b.CreatePageSite();
  site->LoadPage(0);
  site->WriteInt8(0, 99);
  b.Flush();
  EXPECT_EQ(PageBytes(a, 0), Pattern(8192, 9));
}

TEST_F(PageManager, EncipheredTilesAreCipheredOnlyOnTheWayToTheFile) {
  const TTestCryptor key(7), wrongKey(8), otherKind(7, true);
  Bytes plain = Pattern(8192, 11);
  Bytes stored = plain;
  TAddCipher(7).EncryptBlock(stored.data(), stored.size());
  PutFile(FMem, u"t.vdbi", stored);
  auto c = Client(u"t.vdbi", 4096, &key);
  c->Open(false, false);
  EXPECT_EQ(PageBytes(*c, 0), Bytes(plain.begin(), plain.begin() + 4096));
  auto site = c->CreatePageSite();
  site->LoadPage(1);
  site->WriteInt8(0, 1);
  plain[4096] = 1;
  c->Flush();
  Bytes expectStored = plain;
  TAddCipher(7).EncryptBlock(expectStored.data(), expectStored.size());
  EXPECT_EQ(FMem.Contents(u"t.vdbi"), expectStored);
  EXPECT_EQ(site->ReadInt8(0), 1) << "the cached tile stays plain";
  EXPECT_EQ(site->ReadInt8(1), static_cast<std::int8_t>(plain[4097]));

  for (const IvuCryptor* wrong : {static_cast<const IvuCryptor*>(&wrongKey),
                                  static_cast<const IvuCryptor*>(&otherKind), 
                                  static_cast<const IvuCryptor*>(nullptr)}) {
    auto second = Client(u"t.vdbi", 4096, wrong);
    try {
      second->Open(false, false);
      ADD_FAILURE() << "opened with another cipher";
    } catch (const EVdbPageManager& e) {
      EXPECT_EQ(e.Reason(), u"Wrong encryption");
    }
  }
  auto same = Client(u"t.vdbi", 4096, &key);
  EXPECT_NO_THROW(same->Open(true, false));
}

// One thread keeps changing the first bytes of a page and flushing an enciphered storage;
// another reads the rest of the same tile meanwhile and must only ever see plain bytes.
TEST_F(PageManager, FlushNeverShowsEncipheredBytesToOtherThreads) {
  const TTestCryptor key(9);
  PutFile(FMem, u"t.vdbi", Bytes(8192, 0));
  auto writer = Client(u"t.vdbi", 4096, &key, 1);
  auto reader = Client(u"t.vdbi", 4096, &key, 2);
  writer->Open(false, false);
  reader->Open(true, false);
  auto w = writer->CreatePageSite();
  auto r = reader->CreatePageSite();
  w->InitPage(0);
  const Bytes plain = Pattern(4000, 19);
  w->Write(96, plain.data(), static_cast<std::int32_t>(plain.size()));
  writer->Flush();
  r->LoadPage(0);
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::thread readerThread([&] {
    Bytes seen(plain.size());
    while (!stop.load()) {
      r->Read(96, seen.data(), static_cast<std::int32_t>(seen.size()));
      if (seen != plain) ++bad;
    }
  });
  for (int i = 0; i < 300; ++i) {
    w->WriteInt32(0, i);
    writer->Flush();
  }
  stop = true;
  readerThread.join();
  EXPECT_EQ(bad.load(), 0);
}

// Fail the 1st, 2nd, ... write of a flush: each failure names the write error and leaves
// the cache plain and consistent, and a repeated flush completes the file.
TEST_F(PageManager, AFailingWriteLeavesTheCacheConsistent) {
  const TTestCryptor key(3);
  for (int failAt = 1; failAt <= 4; ++failAt) {
    SCOPED_TRACE("failing write " + std::to_string(failAt));
    FMem.Clear();
    Bytes model = Pattern(4 * 8192, 12);
    Bytes stored = model;
    TAddCipher(3).EncryptBlock(stored.data(), stored.size());
    PutFile(FMem, u"t.vdbt", stored);
    auto c = Client(u"t.vdbt", 4096, &key);
    c->Open(false, false);
    auto site = c->CreatePageSite();
    for (std::int64_t p : {0, 3, 6, 7}) {
      site->LoadPage(p);
      site->WriteInt32(8, static_cast<std::int32_t>(1000 + p));
      vuPutU32(model.data() + p * 4096 + 8, static_cast<std::uint32_t>(1000 + p));
    }
    FFs.WriteCalls = 0;
    FFs.FailWriteNo = failAt;
    bool failed = false;
    try {
      c->Flush();
    } catch (const EVdbPageManager& e) {
      failed = true;
      EXPECT_EQ(e.Message(), u"Saving tile: Cannot write tile to storage");
      EXPECT_EQ(e.OSError(), oseIoFailure);
      const EVdbEngine engine = e.ToEngineError(u"t.vdbt");
      EXPECT_EQ(engine.Code(), errFileWrite);
      EXPECT_EQ(engine.Message(), u"Error while writing to file \"t.vdbt\"");
    }
    EXPECT_EQ(failed, failAt <= 3) << "three modified tiles, three writes";
    if (failed) {
      EXPECT_EQ(c->ModifiedBufferCount(), static_cast<std::size_t>(3 - (failAt - 1)));
    }
    for (std::int64_t p = 0; p < 8; ++p) {
      EXPECT_EQ(PageBytes(*c, p), Bytes(model.begin() + p * 4096, model.begin() + (p + 1) * 4096))
          << "page " << p;
    }
    FFs.FailWriteNo = 0;
    c->Flush();
    Bytes expect = model;
    TAddCipher(3).EncryptBlock(expect.data(), expect.size());
    EXPECT_EQ(FMem.Contents(u"t.vdbt"), expect);
  }
}

TEST_F(PageManager, AFailingReadCachesNothingAndNamesTheReadError) {
  PutFile(FMem, u"t.vdbt", Pattern(2 * 8192, 18));
  auto c = Client(u"t.vdbt", 4096);
  c->Open(false, false);
  auto site = c->CreatePageSite();
  site->LoadPage(0);
  FFs.FailReads = true;
  try {
    site->LoadPage(2);
    ADD_FAILURE();
  } catch (const EVdbPageManager& e) {
    EXPECT_EQ(e.Message(), u"Loading tile: Cannot read tile from storage");
    EXPECT_EQ(e.OSError(), oseDataCorrupt) << "\"the bytes are wrong\" is kept apart";
    EXPECT_EQ(e.ToEngineError(u"t.vdbt").Code(), errFileRead);
  }
  EXPECT_EQ(site->PageNo(), 0) << "the site still shows its page";
  EXPECT_EQ(FPm.CachedBufferCount(), 1u);
  FFs.FailReads = false;
  site->LoadPage(2);
  const Bytes original = Pattern(2 * 8192, 18);
  EXPECT_EQ(PageBytes(*c, 2), Bytes(original.begin() + 8192, original.begin() + 3 * 4096));
}

TEST_F(PageManager, TheCacheLimitGivesBackCleanTilesButNeverModifiedOnes) {
  FMem.SetPageSize(256);
  PutFile(FMem, u"t.vdbt", Pattern(256 * 64, 13));
  FPm.RegisterClient(1, 4);  // 4 KB: 16 tiles
  auto c = Client(u"t.vdbt", 256);
  c->Open(false, false);
  auto site = c->CreatePageSite();
  for (std::int64_t p = 0; p < 64; ++p) site->LoadPage(p);
  EXPECT_LE(FPm.CacheSize(), FPm.CacheLimit());
  EXPECT_LT(FPm.CachedBufferCount(), 64u);
  for (std::int64_t p = 0; p < 32; ++p) {
    site->LoadPage(p);
    site->WriteInt8(0, 1);
  }
  EXPECT_EQ(c->ModifiedBufferCount(), 32u) << "modified tiles stay, over the limit";
  c->Flush();
  for (std::int64_t p = 0; p < 64; ++p) {
    EXPECT_EQ(PageBytes(*c, p)[0], p < 32 ? 1 : Pattern(256 * 64, 13)[p * 256]);
  }
  c->Close();
  FPm.UnregisterClient(1, 4);
  EXPECT_EQ(FPm.CacheLimit(), 0);
  EXPECT_EQ(FPm.CacheSize(), 0) << "no budget left: idle memory is freed";
}

TEST_F(PageManager, ClosingTheLastClientClosesTheFile) {
  PutFile(FMem, u"t.vdbt", Pattern(8192, 14));
  auto a = Client(u"t.vdbt", 4096);
  auto b = a->CreateSibling();
  a->Open(false, false);
  b->Open(true, false);
  auto site = b->CreatePageSite();
  site->LoadPage(1);
  a->Close();
  EXPECT_EQ(FMem.OpenHandleCount(), 1u);
  EXPECT_NO_THROW(site->LoadPage(0));
  b->Close();
  EXPECT_FALSE(site->IsLoaded());
  EXPECT_EQ(FMem.OpenHandleCount(), 0u);
  EXPECT_THROW(site->LoadPage(0), EVdbPageManager);
}

TEST_F(PageManager, AWriterJoiningAReadOnlyStorageCanFlush) {
  PutFile(FMem, u"t.vdbt", Pattern(8192, 20));
  auto reader = Client(u"t.vdbt", 4096);
  reader->Open(true, false);
  auto writer = reader->CreateSibling();
  writer->Open(false, false);
  EXPECT_EQ(writer->StorageHandle(), reader->StorageHandle());
  auto site = writer->CreatePageSite();
  site->LoadPage(0);
  site->WriteInt8(0, 5);
  EXPECT_NO_THROW(writer->Flush());
  EXPECT_EQ(FMem.Contents(u"t.vdbt")[0], 5);
  auto readSite = reader->CreatePageSite();
  readSite->LoadPage(0);
  EXPECT_EQ(readSite->ReadInt8(0), 5);
  EXPECT_THROW(readSite->WriteInt8(0, 6), EVdbPageManager) << "the reader stays read-only";
  EXPECT_EQ(FMem.OpenHandleCount(), 1u);
}

TEST_F(PageManager, NewStorageCreatesAnEmptyFileAndRefusesAnOpenOne) {
  auto c = Client(u"new.vdbb", 1024);
  c->NewStorage(false);
  EXPECT_EQ(c->GetPageCount(), 0);
  auto site = c->CreatePageSite();
  site->InitPage(0);
  site->WriteWPWideString(0, u"Győr");
  site->WriteWPAnsiString(100, "Pecs");
  c->Flush();
  EXPECT_EQ(FMem.Contents(u"new.vdbb").size(), 8192u);
  EXPECT_EQ(site->ReadWPWideString(0), u"Győr");
  EXPECT_EQ(site->ReadWPAnsiString(100), "Pecs");
  EXPECT_THROW(site->WriteWPAnsiString(1020, "too long"), EVdbPageManager);
  auto again = Client(u"new.vdbb", 1024);
  EXPECT_THROW(again->NewStorage(false), EVdbPMStorageAccessDenied);
}

TEST_F(PageManager, DirectAccessIsConsistentWithTheCache) {
  PutFile(FMem, u"t.vdbt", Pattern(8192, 15));
  auto c = Client(u"t.vdbt", 4096);
  c->Open(false, false);
  auto site = c->CreatePageSite();
  site->LoadPage(0);
  site->WriteInt8(5, 9);
  std::uint8_t b = 0;
  c->ReadDirect(5, &b, 1);
  EXPECT_EQ(b, 9) << "reading directly sees the cached change";
  const std::uint8_t v = 77;
  c->WriteDirect(6, &v, 1);
  EXPECT_EQ(site->ReadInt8(6), 77) << "writing directly updates the cached copy";
  EXPECT_EQ(FMem.Contents(u"t.vdbt")[6], 77);
}

TEST_F(PageManager, TheLogRecordsOpenedStorages) {
  TTempDir dir;
  TvuOSFileSystem os;
  TvuLog log(os);
  log.SetFilePath(dir.File("Log.txt"));
  log.SetSeverityThreshold(3);
  FPm.SetLog(&log);
  PutFile(FMem, u"t.vdbt", Pattern(8192, 16));
  auto c = Client(u"t.vdbt", 4096);
  c->Open(false, false);
  c->Close();
  FPm.SetLog(nullptr);
  const std::u16string file = log.CurrentFile();
  EXPECT_EQ(file, dir.File("Log0001.txt"));
  log.SetSeverityThreshold(-1);
  const TvuFileHandle h = os.OpenFile(file, fmOpenRead | fmShareDenyNone);
  std::string text(static_cast<std::size_t>(os.GetFileSize(h)), '\0');
  os.FileRead(h, 0, text.data(), static_cast<std::int64_t>(text.size()));
  os.CloseFile(h);
  EXPECT_NE(text.find("Storage \"t.vdbt\" opened.\r\n"), std::string::npos) << text;
}

TEST(VuLog, RotatesOverAFixedNumberOfFiles) {
  TvuMemoryFileSystem fs;
  fs.ForcePath(u"/logs");
  TvuLog log(fs);
  log.SetFilePath(u"/logs/Log.txt");
  log.SetMaxFiles(3);
  log.SetMaxFileSize(150);  // two lines per file
  log.SetSeverityThreshold(2);
  for (int i = 0; i < 20; ++i) log.Write(1, u"Test", u"a line of about forty characters.....");
  log.Write(3, u"Test", u"above the threshold: not written");
  EXPECT_EQ(log.DroppedLines(), 0u);
  std::vector<std::u16string> names;
  TvuFindFileRec rec;
  for (bool ok = fs.FindFirstFile(u"/logs/*", 0, rec); ok; ok = fs.FindNextFile(rec)) {
    names.push_back(rec.Name);
  }
  EXPECT_EQ(names.size(), 3u);
  EXPECT_EQ(log.CurrentFile(), u"/logs/Log0010.txt");
  const Bytes last = fs.Contents(u"/logs/Log0010.txt");
  ASSERT_GE(last.size(), 4u);
  EXPECT_EQ(std::string(last.begin(), last.begin() + 4), "ERR ");
}

TEST(VuLog, NumbersStartAgainAfterTheLastOne) {
  TvuMemoryFileSystem fs;
  fs.ForcePath(u"/logs");
  for (const char16_t* n : {u"/logs/Log9998.txt", u"/logs/Log9999.txt", u"/logs/Logbook.txt"}) {
    fs.CloseFile(fs.CreateFile(n));
  }
  TvuLog log(fs);
  log.SetFilePath(u"/logs/Log.txt");
  log.SetMaxFiles(3);
  log.SetFormat(1);
  log.SetHeader(u"\"MESSAGE\"");
  log.SetSeverityThreshold(0);
  EXPECT_EQ(log.CurrentFile(), u"/logs/Log0003.txt");
  EXPECT_TRUE(fs.FileExists(u"/logs/Log0001.txt"));
  EXPECT_TRUE(fs.FileExists(u"/logs/Log0002.txt"));
  EXPECT_TRUE(fs.FileExists(u"/logs/Logbook.txt")) << "not a numbered log file";
  log.Write(0, u"Storage", u"x");
  const Bytes text = fs.Contents(u"/logs/Log0003.txt");
  const std::string s(text.begin(), text.end());
  EXPECT_EQ(s.rfind("\"SEVERITY\";\"TIMESTAMP\";\"SUBSYSTEM\";\"MESSAGE\"\r\n", 0), 0u) << s;
  EXPECT_NE(s.find(" Storage x\r\n"), std::string::npos) << s;
}

TEST(VuLog, DefaultPathIsTempElseTmpdirElseTmp) {
  auto saved = [](const char* name) {
    const char* v = std::getenv(name);
    return v ? std::optional<std::string>(v) : std::nullopt;
  };
  const auto temp = saved("TEMP"), tmpdir = saved("TMPDIR");
  struct Case {
    const char* Temp;
    const char* Tmpdir;
    const char16_t* Expected;
  };
  const Case cases[] = {
      {"/t1", "/t2", u"/t1/Log.txt"},
      {nullptr, "/t2", u"/t2/Log.txt"},
      {"", "/t2", u"/t2/Log.txt"},
      {nullptr, nullptr, u"/tmp/Log.txt"},
  };
  for (const Case& c : cases) {
    c.Temp ? ::setenv("TEMP", c.Temp, 1) : ::unsetenv("TEMP");
    c.Tmpdir ? ::setenv("TMPDIR", c.Tmpdir, 1) : ::unsetenv("TMPDIR");
    EXPECT_EQ(TvuLog::DefaultFilePath(), c.Expected);
  }
  temp ? ::setenv("TEMP", temp->c_str(), 1) : ::unsetenv("TEMP");
  tmpdir ? ::setenv("TMPDIR", tmpdir->c_str(), 1) : ::unsetenv("TMPDIR");
}

// --- Randomised run against a byte model ------------------------------------------------

struct RandomConfig {
  const char* Name;
  std::int32_t TileSize, PageSize, CacheKB;
  bool Enciphered;
};

class PageManagerRandom : public ::testing::TestWithParam<RandomConfig> {};

TEST_P(PageManagerRandom, MatchesAByteModel) {
  const RandomConfig cfg = GetParam();
  const char* seedText = std::getenv("VIDORA_SEED");
  const std::uint32_t seed =
      seedText ? static_cast<std::uint32_t>(std::strtoul(seedText, nullptr, 10))
               : std::random_device{}();
  std::cout << "[ seed     ] " << cfg.Name << ": VIDORA_SEED=" << seed << std::endl;
  SCOPED_TRACE("VIDORA_SEED=" + std::to_string(seed));
  std::mt19937 rng(seed);
  auto below = [&](std::int64_t n) {
    return std::uniform_int_distribution<std::int64_t>(0, n - 1)(rng);
  };

  TvuMemoryFileSystem mem(cfg.TileSize);
  TRecordingFs fs(mem);
  TVdbPageManager pm;
  pm.RegisterClient(1, cfg.CacheKB);
  const TTestCryptor key(5);
  const IvuCryptor* cryptor = cfg.Enciphered ? &key : nullptr;
  const std::int32_t unit = std::max(cfg.TileSize, cfg.PageSize);
  auto roundUp = [&](std::int64_t bytes) { return (bytes + unit - 1) / unit * unit; };

  Bytes disk = Pattern(static_cast<std::size_t>(unit * 4), 17);  // plain view of the file
  {
    Bytes stored = disk;
    if (cryptor) {
      for (std::size_t off = 0; off < stored.size(); off += static_cast<std::size_t>(cfg.TileSize)) {
        TAddCipher(5).EncryptBlock(stored.data() + off, static_cast<std::size_t>(cfg.TileSize));
      }
    }
    PutFile(mem, u"r.vdbt", stored);
  }
  Bytes cur = disk;
  TVdbClientStorage client(pm, cryptor, 1, fs);
  client.SetName(u"r.vdbt");
  client.SetPageSize(cfg.PageSize);
  client.Open(false, false);
  std::vector<std::unique_ptr<TVdbStoragePageSite>> sites;
  for (int i = 0; i < 3; ++i) sites.push_back(client.CreatePageSite());
  const auto pageCount = [&] { return static_cast<std::int64_t>(cur.size()) / cfg.PageSize; };

  const bool trace = std::getenv("VIDORA_TRACE") != nullptr;  // prints every step of a replay
  // Bounded by steps, not time: a replay with the same seed reaches the same step on any machine.
  constexpr int kSteps = 600;
  int step = 0;
  for (; step < kSteps; ++step) {
    const int op = static_cast<int>(below(100));
    auto& site = *sites[static_cast<std::size_t>(below(3))];
    std::string what;
    if (op < 40 && pageCount() > 0) {  // write some bytes of a page
      const std::int64_t p = below(pageCount());
      const auto off = static_cast<std::int32_t>(below(cfg.PageSize));
      const auto n = static_cast<std::int32_t>(1 + below(std::min<std::int64_t>(8, cfg.PageSize - off)));
      Bytes data(static_cast<std::size_t>(n));
      for (auto& b : data) b = static_cast<std::uint8_t>(below(256));
      what = "write page " + std::to_string(p);
      site.LoadPage(p);
      site.Write(off, data.data(), n);
      std::copy(data.begin(), data.end(), cur.begin() + p * cfg.PageSize + off);
    } else if (op < 50) {  // a new page, up to two beyond the end
      const std::int64_t p = below(pageCount() + 3);
      what = "init page " + std::to_string(p);
      site.InitPage(p);
      const std::int64_t need = roundUp((p + 1) * cfg.PageSize);
      if (static_cast<std::int64_t>(cur.size()) < need) cur.resize(static_cast<std::size_t>(need), 0);
      std::fill(cur.begin() + p * cfg.PageSize, cur.begin() + (p + 1) * cfg.PageSize, 0);
    } else if (op < 62) {
      what = "flush";
      client.Flush();
      disk = cur;
      Bytes stored = mem.Contents(u"r.vdbt");
      if (cryptor) {
        for (std::size_t off = 0; off + static_cast<std::size_t>(cfg.TileSize) <= stored.size();
             off += static_cast<std::size_t>(cfg.TileSize)) {
          TAddCipher(5).DecryptBlock(stored.data() + off, static_cast<std::size_t>(cfg.TileSize));
        }
      }
      ASSERT_TRUE(stored == disk) << "file after flush, step " << step << ", "
                                  << FirstDifference(stored, disk);
    } else if (op < 70) {
      what = "undo";
      client.Undo();
      cur = disk;
    } else if (op < 75) {
      what = "invalidate";
      client.Invalidate();
      cur = disk;
    } else if (op < 80) {  // shrink
      const std::int64_t n = below(pageCount() + 1);
      what = "set page count " + std::to_string(n);
      client.SetPageCount(n);
      cur.resize(static_cast<std::size_t>(roundUp(n * cfg.PageSize)));
    } else if (op < 83) {  // close and reopen: unflushed changes are gone
      what = "reopen";
      for (auto& s : sites) s->UnloadPage();
      client.Close();
      client.Open(false, false);
      cur = disk;
    } else if (op < 88) {
      what = "unload";
      site.UnloadPage();
    } else if (pageCount() > 0) {  // read a page through a site
      const std::int64_t p = below(pageCount());
      what = "read page " + std::to_string(p);
      site.LoadPage(p);
      ASSERT_EQ(Bytes(site.GetMemory(), site.GetMemory() + cfg.PageSize),
                Bytes(cur.begin() + p * cfg.PageSize, cur.begin() + (p + 1) * cfg.PageSize))
          << what << ", step " << step;
    }
    if (trace) std::cout << step << ": " << what << " (pages " << pageCount() << ")\n";
    ASSERT_EQ(client.GetPageCount(), pageCount()) << what << ", step " << step;
    // Memory may exceed the limit only by what must stay: modified and pinned buffers.
    const std::int64_t mustStay =
        static_cast<std::int64_t>(client.ModifiedBufferCount() + sites.size() + 1) * unit;
    ASSERT_LE(pm.CacheSize(), pm.CacheLimit() + mustStay) << what << ", step " << step;
    if (step % 50 == 0) {
      for (std::int64_t p = 0; p < pageCount(); ++p) {
        Bytes b(static_cast<std::size_t>(cfg.PageSize));
        client.ReadPage(p, b.data());
        ASSERT_EQ(b, Bytes(cur.begin() + p * cfg.PageSize, cur.begin() + (p + 1) * cfg.PageSize))
            << "page " << p << " after " << what << ", step " << step;
      }
    }
  }
  EXPECT_EQ(step, kSteps);
  sites.clear();
  client.Close();
  pm.UnregisterClient(1, cfg.CacheKB);
}

INSTANTIATE_TEST_SUITE_P(
    TinyTiles, PageManagerRandom,
    ::testing::Values(RandomConfig{"PagesShareTiles", 64, 16, 1, false},
                      RandomConfig{"PageIsTile", 64, 64, 1, false},
                      RandomConfig{"PageSpansTiles", 64, 256, 2, false},
                      RandomConfig{"EncipheredSharedTiles", 128, 32, 1, true},
                      RandomConfig{"EncipheredSpanningPages", 32, 128, 1, true},
                      RandomConfig{"NoCacheLimitPressure", 64, 32, 64, false}),
    [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace vdb
