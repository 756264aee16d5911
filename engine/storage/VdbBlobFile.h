// Memo and blob files: variable-length column values kept outside the record as chains of
// fixed-size blocks. A record holds the number of the first block of its value (0: empty or
// null). TVdbBlockedBinaryFile is the block-chain format (allocation, free list, freeing,
// bounded chain walks, the check); TVdbMemoFile stores 8-bit texts with a terminating 0 and
// single-CR line ends; TVdbBlobFile stores byte values with their length in front.
//
// Every walk along a chain is bounded: a chain may visit each block at most once, every
// block number must lie in 1..last block and a stored length must fit in the blocks the file
// has. A damaged or cyclic chain therefore raises the file's damaged error (112 memo, 113
// blob) after at most "last block" steps, and no memory is allocated from a stored length
// before it has been checked. Once damage is seen the file refuses every write.
//
// Threads: a file object belongs to one table object and is used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "storage/VdbFileStorage.h"
#include "storage/VdbPageMan.h"

namespace vdb {

// Block 0 of a memo or blob file (stored on disk: never renumber).
inline constexpr std::int32_t kVdbBlobFreeOffset = 0;       // first free block
inline constexpr std::int32_t kVdbBlobLastOffset = 4;       // last block in use
inline constexpr std::int32_t kVdbBlobSizeOffset = 8;       // block size
inline constexpr std::int32_t kVdbBlobNextOffset = 0;       // blocks 1..: next block of the chain
inline constexpr std::int32_t kVdbBlobPayloadOffset = 4;    // blocks 1..: payload
inline constexpr std::int32_t kVdbBlobChainEnd = -1;
inline constexpr std::int32_t kVdbDefaultBlockSize = 4096;
inline constexpr std::int32_t kVdbMinBlockSize = 16;
inline constexpr std::int32_t kVdbMaxBlockSize = 65768;
inline constexpr std::int32_t kVdbMaxBlockNo = 0x0FFFFFFF;

// One chain reference of a record, for the check.
struct TVdbChainRef {
  std::int32_t RecNo = 0;
  std::u16string FieldName;
  std::int32_t Block = 0;
};

class TVdbBlockedBinaryFile {
 public:
  // `fs` and `pageManager` must outlive the object. `version` is the table level, `tableName`
  // names the table in error messages.
  TVdbBlockedBinaryFile(TVdbPageManager& pageManager, TvuFileSystem& fs, std::u16string fileName,
                        std::int32_t clientHdl, int version, std::u16string tableName);
  virtual ~TVdbBlockedBinaryFile();
  TVdbBlockedBinaryFile(const TVdbBlockedBinaryFile&) = delete;
  TVdbBlockedBinaryFile& operator=(const TVdbBlockedBinaryFile&) = delete;

  // Before Open/NewFile: a block size forced by the creator (0: from the file, or 4096 for
  // new files).
  void SetBlockSize(std::int32_t blockSize) noexcept { FFixedBlockSize = blockSize; }
  // The table's cipher for data blocks (not owned; null: none). Block 0 stays plain.
  void SetEncryption(TVdbEncryption* encryption) noexcept { FEncryption = encryption; }

  // Opens and reads block 0. Raises 1/37 when the file cannot be opened, 2 on a read
  // failure, the damaged error when the block size cannot be used. A first free block or a
  // last block beyond the file marks the file damaged (reads work, writes are refused).
  void Open(bool readOnly, bool exclusive);
  // Creates the file (block 0 only) and leaves it open. Raises 72 when it exists.
  void NewFile(bool exclusive);
  void Close();
  // Writes changes to the file (3 on failure); Undo drops unwritten changes and rereads
  // block 0.
  void Flush();
  void Undo();
  // Drops every cached block and rereads block 0, so that changes another process wrote
  // become visible (called after taking the table's lock). Unflushed changes are lost.
  void Update();
  // Every Flush also forces the file to the device (secure flush mode).
  void SetDeepFlush(bool value) noexcept { FStorage.SetDeepFlush(value); }
  // Resets to an empty file (block 0 only).
  void Empty();

  bool IsOpen() const noexcept { return FStorage.IsOpen(); }
  bool IsDamaged() const noexcept { return FDamaged; }
  std::int32_t BlockSize() const noexcept { return FBlockSize; }
  std::int32_t LastBlock() const noexcept { return FLastBlock; }
  std::int32_t FirstFreeBlock() const noexcept { return FNextBlock; }
  // Bytes of the storage (whole tiles).
  std::int64_t GetFileSize() const;
  const std::u16string& FileName() const noexcept { return FFileName; }

  // Frees the chain starting at `block` (0: nothing) and writes block 0.
  void FreeChain(std::int32_t block);
  // Crash recovery. ForgetFreeList: new chains are taken from the end of the file only, so
  // that a free list written half before a crash is never followed (a last block beyond the
  // file is lowered to the file's end, which lifts that damage). RebuildFreeList: every
  // block that none of the chains starting at `chainHeads` uses becomes free (a chain that is
  // damaged is followed as far as it is sound). Both write block 0.
  void ForgetFreeList();
  void RebuildFreeList(const std::vector<std::int32_t>& chainHeads);
  // The blocks of the free list, in order. Raises the damaged error on a cycle or a block
  // outside the file.
  std::vector<std::int32_t> FreeBlocks();
  // Checks the free list and the given chains; returns the problems found (empty: sound),
  // each prefixed with "Memo: " or "Blob: ".
  std::vector<std::u16string> Check(const std::vector<TVdbChainRef>& chains);

 protected:
  // 112 for memo files, 113 for blob files.
  virtual std::int16_t DamagedCode() const noexcept = 0;
  virtual std::u16string_view KindName() const noexcept = 0;
  // Levels below 5: the number of blocks of the chain at `first`, found from its content.
  virtual std::int32_t OldChainBlocks(std::int32_t first) = 0;
  // Marks the file damaged and raises its damaged error.
  [[noreturn]] void Damaged();
  void CheckWritable();
  // A block in 1..last block, deciphered, into `buffer` (block size bytes).
  void ReadBlock(std::int32_t block, std::vector<std::uint8_t>& buffer);
  void WriteBlock(std::int32_t block, std::vector<std::uint8_t>& buffer);
  // The next block of a chain read from `buffer`; `lowBits`: only the low 28 bits count.
  static std::int32_t NextOf(const std::vector<std::uint8_t>& buffer, bool lowBits = false);
  // True when `block` may be part of a chain.
  bool ValidBlock(std::int32_t block) const noexcept { return block >= 1 && block <= FLastBlock; }
  // Writes `bytes` as a new chain (after freeing `oldBlock`) and returns its first block;
  // 0 for no bytes.
  std::int32_t WriteChain(std::int32_t oldBlock, std::span<const std::uint8_t> bytes);
  std::int32_t Payload() const noexcept { return FBlockSize - kVdbBlobPayloadOffset; }

  int FVersion;
  std::u16string FTableName;

 private:
  std::int32_t AllocateBlock();
  std::int32_t PeekNextAllocation() const noexcept;
  void ReadHeader();
  void WriteHeader();

  TvuFileSystem& FFileSystem;
  std::u16string FFileName;
  // Pages of one block each.
  TVdbFileStorage FStorage;
  TVdbEncryption* FEncryption = nullptr;
  std::int32_t FFixedBlockSize = 0;
  std::int32_t FBlockSize = kVdbDefaultBlockSize;
  std::int32_t FNextBlock = 1;
  std::int32_t FLastBlock = 0;
  std::int32_t FStoredLastBlock = 0;  // as block 0 says, before it was bounded by the file
  bool FDamaged = false;
  std::vector<std::uint8_t> FWorkBlock;
};

// Memo values: 8-bit text in the column's code page, ended by a 0 byte, line ends stored as
// a single CR.
class TVdbMemoFile final : public TVdbBlockedBinaryFile {
 public:
  using TVdbBlockedBinaryFile::TVdbBlockedBinaryFile;
  // The text of the chain at `block` (0: empty). CR becomes CR LF, or a space when `oneLine`;
  // a stray LF becomes a space; a 0 byte or 0x1A ends the text. `maxLength` > 0 limits the
  // result's length. Raises 112 for a damaged chain.
  std::string ReadMemo(std::int32_t block, bool oneLine = false, std::int32_t maxLength = 0);
  std::string ReadString(std::int32_t block) { return ReadMemo(block); }
  // Frees the chain at `oldBlock` and stores `text` (CR LF and lone LF become CR; a 0 byte or
  // 0x1A inside the text becomes '?', as they would end it). Returns the first block, 0 for
  // an empty text. Raises 112 on a damaged file, 156 when the file is full.
  std::int32_t WriteString(std::int32_t oldBlock, std::string_view text);
  // Length of the stored text (line ends as stored), bounded like a read.
  std::int32_t CalcMemoLength(std::int32_t block);

 protected:
  std::int16_t DamagedCode() const noexcept override;
  std::u16string_view KindName() const noexcept override { return u"Memo"; }
  std::int32_t OldChainBlocks(std::int32_t first) override;

 private:
  // The stored bytes up to the terminator, and the number of blocks they took.
  std::string ReadStored(std::int32_t block, std::int32_t* blocks = nullptr);
};

// Blob values: the first block holds the 32-bit length, then the data.
class TVdbBlobFile final : public TVdbBlockedBinaryFile {
 public:
  using TVdbBlockedBinaryFile::TVdbBlockedBinaryFile;
  // Frees the chain at `oldBlock` and stores `data`; returns the first block (0 for no data).
  std::int32_t WriteData(std::int32_t oldBlock, std::span<const std::uint8_t> data);
  // The bytes of the chain at `block` (0: none). Raises 113 for a damaged chain.
  std::vector<std::uint8_t> ReadData(std::int32_t block);
  // Wide memos: UTF-16LE text.
  std::int32_t WriteString(std::int32_t oldBlock, std::u16string_view text);
  std::u16string ReadString(std::int32_t block);
  // The first two data bytes (little-endian), 0 for a blob shorter than 2 bytes.
  std::uint16_t ReadBlobType(std::int32_t block);
  // The stored length, checked against the file.
  std::int32_t CalcBlobLength(std::int32_t block);

 protected:
  std::int16_t DamagedCode() const noexcept override;
  std::u16string_view KindName() const noexcept override { return u"Blob"; }
  std::int32_t OldChainBlocks(std::int32_t first) override;

 private:
  // The length at `block`, checked against the blocks the file has.
  std::int32_t CheckedLength(std::int32_t block, std::vector<std::uint8_t>& first);
};

// Memo line ends: CR LF and lone LF become CR (as stored).
std::string VdbMemoStoredText(std::string_view text);

}  // namespace vdb
