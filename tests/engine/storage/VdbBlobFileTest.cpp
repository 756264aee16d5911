// Memo and blob files: allocation and reuse of blocks, line ends of memos, bounded walks of
// damaged and cyclic chains, and the check.
#include "storage/VdbBlobFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include "DataFileTestSupport.h"
#include "base/VdbErrorCodes.h"

namespace vdb {
namespace {

using test::EngineCode;
using test::TStorageWorld;

const std::u16string kMemo = u"/T.vdbm";
const std::u16string kBlob = u"/T.vdbb";

class VdbBlobFileTest : public ::testing::Test {
 protected:
  std::unique_ptr<TVdbMemoFile> NewMemo(std::int32_t blockSize = 512, int level = 6) {
    auto f = std::make_unique<TVdbMemoFile>(World.PageManager, World.Fs, kMemo, 1, level, u"T");
    f->SetBlockSize(blockSize);
    f->NewFile(false);
    return f;
  }
  std::unique_ptr<TVdbBlobFile> NewBlob(std::int32_t blockSize = 512, int level = 6) {
    auto f = std::make_unique<TVdbBlobFile>(World.PageManager, World.Fs, kBlob, 1, level, u"T");
    f->SetBlockSize(blockSize);
    f->NewFile(false);
    return f;
  }
  template <class F>
  std::unique_ptr<F> Reopen(const std::u16string& name, int level = 6) {
    auto f = std::make_unique<F>(World.PageManager, World.Fs, name, 1, level, u"T");
    f->Open(false, false);
    return f;
  }

  TStorageWorld World;
};

std::vector<std::uint8_t> Data(std::size_t n) {
  std::vector<std::uint8_t> d(n);
  std::iota(d.begin(), d.end(), std::uint8_t{3});
  return d;
}

TEST_F(VdbBlobFileTest, NewBlobFileAndTheFirstValue) {
  auto blob = NewBlob();
  EXPECT_EQ(blob->LastBlock(), 0);
  EXPECT_EQ(blob->FirstFreeBlock(), 1);
  EXPECT_EQ(blob->WriteData(0, Data(10)), 1);
  blob->Flush();
  const auto bytes = World.Bytes(kBlob);
  EXPECT_EQ(vuGetU32(bytes.data() + 0), 2u);    // first free: appends next
  EXPECT_EQ(vuGetU32(bytes.data() + 4), 1u);    // last block
  EXPECT_EQ(vuGetU32(bytes.data() + 8), 512u);  // block size
  EXPECT_EQ(vuGetU32(bytes.data() + 512), 0xFFFFFFFFu);
  EXPECT_EQ(vuGetU32(bytes.data() + 516), 10u);
  EXPECT_EQ(bytes[520], 3);
}

TEST_F(VdbBlobFileTest, ThousandBytesTakeTwoBlocksOf512) {
  auto blob = NewBlob();
  const auto data = Data(1000);
  const std::int32_t ref = blob->WriteData(0, data);
  EXPECT_EQ(blob->LastBlock(), 2);
  blob->Flush();
  const auto bytes = World.Bytes(kBlob);
  EXPECT_EQ(vuGetU32(bytes.data() + 512), 2u);  // block 1 points to block 2
  EXPECT_EQ(vuGetU32(bytes.data() + 1024), 0xFFFFFFFFu);
  EXPECT_EQ(bytes[1024 + 4], data[504]);  // the second block starts with byte 504
  blob.reset();
  auto again = Reopen<TVdbBlobFile>(kBlob);
  EXPECT_EQ(again->BlockSize(), 512);
  EXPECT_EQ(again->ReadData(ref), data);
  EXPECT_EQ(again->CalcBlobLength(ref), 1000);
  EXPECT_EQ(again->ReadBlobType(ref), 3 | (4 << 8));
}

TEST_F(VdbBlobFileTest, BlobSizesAtBlockBoundaries) {
  auto blob = NewBlob();
  struct TCase {
    std::size_t Size;
    std::int32_t Blocks;
  };
  for (const TCase c : {TCase{1, 1}, TCase{504, 1}, TCase{505, 2}, TCase{1012, 2}, TCase{1013, 3}}) {
    const std::int32_t before = blob->LastBlock();
    const std::int32_t ref = blob->WriteData(0, Data(c.Size));
    EXPECT_EQ(blob->LastBlock() - before, c.Blocks) << c.Size;
    EXPECT_EQ(blob->ReadData(ref), Data(c.Size));
  }
  EXPECT_EQ(blob->WriteData(0, {}), 0);
  EXPECT_TRUE(blob->ReadData(0).empty());
  EXPECT_EQ(blob->ReadBlobType(blob->WriteData(0, Data(1))), 0);
  const std::int32_t wide = blob->WriteString(0, u"árvíztűrő");
  EXPECT_EQ(blob->ReadString(wide), u"árvíztűrő");
}

TEST_F(VdbBlobFileTest, RewriteOfTheSameSizeReusesItsBlocks) {
  auto memo = NewMemo();
  const std::string text(1500, 'x');
  const std::int32_t ref = memo->WriteString(0, text);
  const std::int32_t other = memo->WriteString(0, "other");
  const std::int32_t last = memo->LastBlock();
  const std::int32_t again = memo->WriteString(ref, std::string(1500, 'y'));
  EXPECT_EQ(again, ref);
  EXPECT_EQ(memo->LastBlock(), last);
  EXPECT_EQ(memo->ReadMemo(again), std::string(1500, 'y'));
  EXPECT_EQ(memo->ReadMemo(other), "other");
  // A shorter value leaves blocks on the free list; a longer one reuses them, then appends.
  const std::int32_t shorter = memo->WriteString(again, "s");
  EXPECT_EQ(memo->FreeBlocks().size(), 2u);
  const std::int32_t longer = memo->WriteString(shorter, std::string(3000, 'z'));
  EXPECT_TRUE(memo->FreeBlocks().empty());
  EXPECT_EQ(memo->ReadMemo(longer), std::string(3000, 'z'));
  EXPECT_TRUE(memo->Check({{1, u"N", longer}, {2, u"N", other}}).empty());
  // An empty text frees the chain and stores nothing.
  EXPECT_EQ(memo->WriteString(longer, ""), 0);
  EXPECT_EQ(memo->FreeBlocks().size(), 6u);
}

TEST_F(VdbBlobFileTest, MemoLineEndsAndEndMarks) {
  auto memo = NewMemo();
  struct TCase {
    std::string Written;
    std::string Stored;
    std::string Read;
    std::string OneLine;
  };
  const TCase cases[] = {
      {"a\nb", "a\rb", "a\r\nb", "a b"},
      {"a\r\nb", "a\rb", "a\r\nb", "a b"},
      {"a\rb", "a\rb", "a\r\nb", "a b"},
      {"a\n\nb\r\n", "a\r\rb\r", "a\r\n\r\nb\r\n", "a  b "},
      {"a\x1a" "b", "a?b", "a?b", "a?b"},
      {std::string("a\0b", 3), "a?b", "a?b", "a?b"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(VdbMemoStoredText(c.Written), c.Stored);
    const std::int32_t ref = memo->WriteString(0, c.Written);
    EXPECT_EQ(memo->ReadMemo(ref), c.Read);
    EXPECT_EQ(memo->ReadMemo(ref, true), c.OneLine);
    EXPECT_EQ(memo->CalcMemoLength(ref), static_cast<std::int32_t>(c.Stored.size()));
  }
  EXPECT_EQ(memo->ReadMemo(memo->WriteString(0, "abcdef"), false, 3), "abc");
  EXPECT_EQ(memo->WriteString(0, ""), 0);
  EXPECT_EQ(memo->ReadMemo(0), "");
}

TEST_F(VdbBlobFileTest, MemoFillingTheLastBlockGetsItsTerminatorInAFurtherBlock) {
  auto memo = NewMemo();
  const std::int32_t ref = memo->WriteString(0, std::string(508, 'q'));
  EXPECT_EQ(memo->LastBlock(), 2);
  EXPECT_EQ(memo->ReadMemo(ref), std::string(508, 'q'));
  const std::int32_t shorter = memo->WriteString(0, std::string(507, 'q'));
  EXPECT_EQ(memo->LastBlock(), 3);
  EXPECT_EQ(memo->ReadMemo(shorter).size(), 507u);
}

// Damaged files: every walk ends with the file's damaged error, bounded in steps and memory.
TEST_F(VdbBlobFileTest, DamagedChainsGiveTheDamagedErrorAndStopWrites) {
  struct TCase {
    const char* What;
    bool Memo;
    std::size_t Offset;  // of a 32-bit value in the file
    std::uint32_t Value;
    int ReadCode;
  };
  // Memo and blob each: a 3-block chain at block 1 (blocks 1 → 2 → 3), block size 512.
  const TCase cases[] = {
      {"memo cycle 2 -> 1", true, 2 * 512, 1, errMemoFileDamaged},
      {"memo cycle behind the terminator is not followed", true, 3 * 512, 1, 0},
      {"memo self loop", true, 2 * 512, 2, errMemoFileDamaged},
      {"memo points beyond the last block", true, 512, 99, errMemoFileDamaged},
      {"memo chain ends early", true, 2 * 512, 0xFFFFFFFF, errMemoFileDamaged},
      {"memo next is 0", true, 512, 0, errMemoFileDamaged},
      {"blob cycle 2 -> 1", false, 2 * 512, 1, errBlobFileDamaged},
      {"blob points beyond", false, 512, 77, errBlobFileDamaged},
      {"blob length huge", false, 516, 0x7FFFFFFF, errBlobFileDamaged},
      {"blob length negative", false, 516, 0x80000000, errBlobFileDamaged},
      {"blob length beyond its chain", false, 516, 1600, errBlobFileDamaged},
  };
  for (const auto& c : cases) {
    TStorageWorld world;
    const std::u16string name = c.Memo ? kMemo : kBlob;
    std::unique_ptr<TVdbBlockedBinaryFile> file;
    {
      if (c.Memo) {
        TVdbMemoFile memo(world.PageManager, world.Fs, name, 1, 6, u"T");
        memo.SetBlockSize(512);
        memo.NewFile(false);
        ASSERT_EQ(memo.WriteString(0, std::string(1200, 'm')), 1);
        memo.Flush();
      } else {
        TVdbBlobFile blob(world.PageManager, world.Fs, name, 1, 6, u"T");
        blob.SetBlockSize(512);
        blob.NewFile(false);
        ASSERT_EQ(blob.WriteData(0, Data(1200)), 1);
        blob.Flush();
      }
    }
    world.Patch32(name, c.Offset, c.Value);
    if (c.Memo) {
      TVdbMemoFile memo(world.PageManager, world.Fs, name, 1, 6, u"T");
      memo.Open(false, false);
      EXPECT_EQ(EngineCode([&] { memo.ReadMemo(1); }), c.ReadCode) << c.What;
      EXPECT_EQ(EngineCode([&] { memo.WriteString(1, "new"); }), errMemoFileDamaged) << c.What;
      EXPECT_TRUE(memo.IsDamaged()) << c.What;
      EXPECT_EQ(EngineCode([&] { memo.WriteString(0, "other"); }), errMemoFileDamaged) << c.What;
      EXPECT_FALSE(memo.Check({{1, u"NOTE", 1}}).empty()) << c.What;
    } else {
      TVdbBlobFile blob(world.PageManager, world.Fs, name, 1, 6, u"T");
      blob.Open(false, false);
      EXPECT_EQ(EngineCode([&] { blob.ReadData(1); }), c.ReadCode) << c.What;
      EXPECT_EQ(EngineCode([&] { blob.WriteData(1, Data(5)); }), errBlobFileDamaged) << c.What;
      EXPECT_EQ(EngineCode([&] { blob.WriteData(0, Data(5)); }), errBlobFileDamaged) << c.What;
    }
  }
}

TEST_F(VdbBlobFileTest, DamagedFreeListAndHeader) {
  {
    auto memo = NewMemo();
    const std::int32_t a = memo->WriteString(0, std::string(1200, 'a'));
    memo->WriteString(0, "keep");
    memo->WriteString(a, "");  // blocks 1..3 are free: 1 -> 2 -> 3 -> 5
    memo->Flush();
  }
  struct TCase {
    const char* What;
    std::size_t Offset;
    std::uint32_t Value;
    bool DamagedOnOpen;
    int WriteCode;
  };
  const TCase cases[] = {
      {"free list cycle", 3 * 512, 1, false, errMemoFileDamaged},
      {"free block points to 0", 512, 0, false, errMemoFileDamaged},
      {"free block points far", 512, 1000, false, errMemoFileDamaged},
      {"first free beyond the file", 0, 100, true, errMemoFileDamaged},
      {"first free 0", 0, 0, true, errMemoFileDamaged},
      {"last block beyond the file", 4, 1000, true, errMemoFileDamaged},
      {"first free above the maximum", 0, 0x10000000, true, errMemoFileDamaged},
  };
  const auto good = World.Bytes(kMemo);
  for (const auto& c : cases) {
    auto bytes = good;
    vuPutU32(bytes.data() + c.Offset, c.Value);
    World.Store(kMemo, bytes);
    auto memo = Reopen<TVdbMemoFile>(kMemo);
    EXPECT_EQ(memo->IsDamaged(), c.DamagedOnOpen) << c.What;
    if (c.Offset == 4) {
      const auto problems = memo->Check({});
      EXPECT_NE(std::find(problems.begin(), problems.end(), u"Memo: Wrong block count"), problems.end());
    }
    if (c.Value == 1 && c.Offset == 3 * 512) {
      const auto problems = memo->Check({});
      EXPECT_NE(std::find(problems.begin(), problems.end(), u"Memo: Freelist contains cycles"), problems.end());
    }
    // Writing a long value walks the whole free list.
    EXPECT_EQ(EngineCode([&] { memo->WriteString(0, std::string(2000, 'w')); }), c.WriteCode) << c.What;
  }
  struct TOpen {
    const char* What;
    std::uint32_t BlockSize;
  };
  for (const TOpen c : {TOpen{"negative block size", 0xFFFFFFF0}, TOpen{"block size 8", 8},
                        TOpen{"block size 1000", 1000}, TOpen{"block size 70000", 70000}}) {
    auto bytes = good;
    vuPutU32(bytes.data() + 8, c.BlockSize);
    World.Store(kMemo, bytes);
    TVdbMemoFile memo(World.PageManager, World.Fs, kMemo, 1, 6, u"T");
    EXPECT_EQ(EngineCode([&] { memo.Open(false, false); }), errMemoFileDamaged) << c.What;
    EXPECT_FALSE(memo.IsOpen());
  }
  // Block size 0 means 4096.
  auto bytes = good;
  vuPutU32(bytes.data() + 8, 0);
  bytes.resize(8192);
  World.Store(kMemo, bytes);
  auto memo = Reopen<TVdbMemoFile>(kMemo);
  EXPECT_EQ(memo->BlockSize(), 4096);
  EXPECT_EQ(World.PageManager.OpenStorageCount(), 1u);
}

TEST_F(VdbBlobFileTest, CheckReportsEachKindOfProblem) {
  auto memo = NewMemo();
  const std::int32_t a = memo->WriteString(0, std::string(600, 'a'));  // blocks 1, 2
  const std::int32_t b = memo->WriteString(0, "b");                      // block 3
  memo->WriteString(0, "c");                                             // block 4
  const std::int32_t d = memo->WriteString(0, "d");                      // block 5
  memo->WriteString(d, "");                                              // block 5 free
  EXPECT_TRUE(memo->Check({{1, u"NOTE", a}, {2, u"NOTE", b}, {3, u"NOTE", 4}}).empty());
  const auto problems = memo->Check({{1, u"NOTE", a}, {2, u"NOTE", 2}, {3, u"NOTE", 99}, {4, u"NOTE", 5}});
  const std::vector<std::u16string> expected = {
      u"Memo: Record 2, field NOTE - Block is used twice.",
      u"Memo: Record 3, field NOTE - Points to non-existing block.",
      u"Memo: Record 4, field NOTE - Chain contains unused block.",
      u"Memo: Unused block not in freelist",
  };
  EXPECT_EQ(problems, expected);
}

TEST_F(VdbBlobFileTest, OldLevelsFreeChainsByContent) {
  // Below level 5 the end of a chain is found from the text or the length, not from -1.
  auto memo = NewMemo(512, 4);
  const std::int32_t ref = memo->WriteString(0, std::string(700, 'o'));
  memo->WriteString(ref, "x");
  EXPECT_EQ(memo->FreeBlocks().size(), 1u);
  auto blob = NewBlob(512, 3);
  const std::int32_t b = blob->WriteData(0, Data(1100));
  EXPECT_EQ(blob->WriteData(b, Data(10)), 1);
  EXPECT_EQ(blob->FreeBlocks(), (std::vector<std::int32_t>{2, 3}));
}

// Adds a running key to every byte, so that a block deciphered at the wrong place is noise.
class TShiftCipher final : public TVdbEncryption {
 public:
  void EncryptBlock(std::uint8_t* d, std::size_t n) override {
    for (std::size_t i = 0; i < n; ++i) d[i] = static_cast<std::uint8_t>(d[i] + 17 + i);
  }
  void DecryptBlock(std::uint8_t* d, std::size_t n) override {
    for (std::size_t i = 0; i < n; ++i) d[i] = static_cast<std::uint8_t>(d[i] - 17 - i);
  }
};

TEST_F(VdbBlobFileTest, DataBlocksAreEncipheredWholeAndBlockZeroStaysPlain) {
  TShiftCipher cipher;
  const auto data = Data(1000);
  {
    TVdbBlobFile blob(World.PageManager, World.Fs, kBlob, 1, 6, u"T");
    blob.SetBlockSize(512);
    blob.SetEncryption(&cipher);
    blob.NewFile(false);
    const std::int32_t ref = blob.WriteData(0, data);
    ASSERT_EQ(ref, 1);
    blob.WriteData(blob.WriteData(0, Data(600)), {});  // a freed chain: pointers enciphered too
    blob.Flush();
  }
  const auto bytes = World.Bytes(kBlob);
  EXPECT_EQ(vuGetU32(bytes.data() + 8), 512u);  // block 0 plain
  EXPECT_NE(vuGetU32(bytes.data() + 512), 2u);  // next pointer of block 1 enciphered
  TVdbBlobFile blob(World.PageManager, World.Fs, kBlob, 1, 6, u"T");
  blob.SetEncryption(&cipher);
  blob.Open(false, false);
  EXPECT_EQ(blob.ReadData(1), data);
  EXPECT_EQ(blob.FreeBlocks(), (std::vector<std::int32_t>{3, 4}));
  EXPECT_EQ(blob.WriteData(0, Data(700)), 3);
  EXPECT_TRUE(blob.Check({{1, u"PIC", 1}, {2, u"PIC", 3}}).empty());
}

TEST_F(VdbBlobFileTest, FullFileRefusesNewBlocks) {
  {
    auto memo = NewMemo();
    memo->Flush();
  }
  World.Patch32(kMemo, 4, 0x0FFFFFFF);  // last block at the maximum (clamped: damaged on open)
  auto memo = Reopen<TVdbMemoFile>(kMemo);
  EXPECT_TRUE(memo->IsDamaged());
  EXPECT_EQ(EngineCode([&] { memo->WriteString(0, "x"); }), errMemoFileDamaged);
}

}  // namespace
}  // namespace vdb
