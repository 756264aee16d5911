// Memo and blob files; see VdbBlobFile.h.
//
// Layout (little-endian; stored on disk: never renumber). Block n starts at n × block size.
//   block 0, offset 0   4  first free block (above the last block: none, append)
//   block 0, offset 4   4  last block in use (0 in a new file)
//   block 0, offset 8   4  block size in bytes
//   block 0, rest          zero
//   block n ≥ 1, 0      4  next block of the chain (-1 ends it); in a free block the next free
//   block n ≥ 1, 4         payload
// Memo payloads: the text and a terminating 0. Blob payloads: in the first block a 32-bit
// total length, then the data. Data blocks are enciphered as whole blocks; block 0 is plain.
#include "storage/VdbBlobFile.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "base/VdbErrorCodes.h"
#include "base/VdbErrors.h"
#include "base/vuLittleEndian.h"
#include "types/vuCodePage.h"

namespace vdb {

namespace {

constexpr std::int32_t kHeaderBytes = 12;
constexpr std::int32_t kBlobLengthSize = 4;
constexpr std::uint32_t kMemoBlockMask = 0x0FFFFFFF;
constexpr char kCR = '\r';
constexpr char kLF = '\n';
constexpr char kEndOfText = 0x1A;

}  // namespace

std::string VdbMemoStoredText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == kCR) {
      out += kCR;
      if (i + 1 < text.size() && text[i + 1] == kLF) ++i;
    } else if (c == kLF) {
      out += kCR;
    } else if (c == '\0' || c == kEndOfText) {
      out += '?';
    } else {
      out += c;
    }
  }
  return out;
}

// ---- TVdbBlockedBinaryFile

TVdbBlockedBinaryFile::TVdbBlockedBinaryFile(TVdbPageManager& pageManager, TvuFileSystem& fs,
                                             std::u16string fileName, std::int32_t clientHdl, int version,
                                             std::u16string tableName)
    : FVersion(version), FTableName(std::move(tableName)), FFileSystem(fs), FFileName(fileName),
      FStorage(pageManager, fs, std::move(fileName), clientHdl) {}

TVdbBlockedBinaryFile::~TVdbBlockedBinaryFile() = default;

void TVdbBlockedBinaryFile::Damaged() {
  FDamaged = true;
  RaiseEngineError(DamagedCode(), {FTableName});
}

void TVdbBlockedBinaryFile::Open(bool readOnly, bool exclusive) {
  FDamaged = false;
  const std::int32_t tile = FFileSystem.PageSize();
  FStorage.Open(FFixedBlockSize > 0 ? FFixedBlockSize : kVdbDefaultBlockSize, readOnly, exclusive);
  try {
    std::uint8_t head[kHeaderBytes] = {};
    if (FStorage.Client().GetSize() < kHeaderBytes) Damaged();
    FStorage.Client().ReadDirect(0, head, kHeaderBytes);
    std::int32_t blockSize = static_cast<std::int32_t>(vuGetU32(head + kVdbBlobSizeOffset));
    if (FFixedBlockSize > 0) blockSize = FFixedBlockSize;
    if (blockSize == 0) blockSize = kVdbDefaultBlockSize;
    // A block size the page manager cannot page makes the file unreadable.
    if (blockSize < kVdbMinBlockSize || blockSize > kVdbMaxBlockSize ||
        (tile % blockSize != 0 && blockSize % tile != 0)) {
      Damaged();
    }
    FBlockSize = blockSize;
    if (FStorage.Client().GetPageSize() != blockSize) FStorage.Open(blockSize, readOnly, exclusive);
    FWorkBlock.assign(static_cast<std::size_t>(FBlockSize), 0);
    ReadHeader();
  } catch (const EVdbPageManager& e) {
    FStorage.Drop();
    throw e.ToEngineError(FFileName);
  } catch (...) {
    FStorage.CloseQuietly();
    throw;
  }
}

void TVdbBlockedBinaryFile::ReadHeader() {
  std::uint8_t head[kHeaderBytes];
  FStorage.Client().ReadDirect(0, head, kHeaderBytes);
  FNextBlock = static_cast<std::int32_t>(vuGetU32(head + kVdbBlobFreeOffset));
  FLastBlock = static_cast<std::int32_t>(vuGetU32(head + kVdbBlobLastOffset));
  FStoredLastBlock = FLastBlock;
  const std::int64_t blocks = FStorage.Client().GetSize() / FBlockSize;
  // Chains may only name blocks the file has; the free list may point one past the last.
  if (FLastBlock < 0 || FLastBlock > blocks - 1 || FNextBlock < 1 || FNextBlock > blocks) FDamaged = true;
  // Chains are then followed only inside the file.
  FLastBlock = static_cast<std::int32_t>(std::clamp<std::int64_t>(FLastBlock, 0, std::max<std::int64_t>(0, blocks - 1)));
}

void TVdbBlockedBinaryFile::NewFile(bool exclusive) {
  if (FFileSystem.FileExists(FFileName)) RaiseEngineError(errFileExists, {FFileName});
  const std::int32_t tile = FFileSystem.PageSize();
  FBlockSize = FFixedBlockSize > 0 ? FFixedBlockSize : kVdbDefaultBlockSize;
  if (FBlockSize < kVdbMinBlockSize || FBlockSize > kVdbMaxBlockSize || (tile % FBlockSize != 0 && FBlockSize % tile != 0)) {
    RaiseEngineError(errInvalidParameterValue, {u"Block size"});
  }
  FStorage.Create(FBlockSize, exclusive);
  FDamaged = false;
  FWorkBlock.assign(static_cast<std::size_t>(FBlockSize), 0);
  Empty();
  Flush();
}

void TVdbBlockedBinaryFile::Close() { FStorage.Close(); }

void TVdbBlockedBinaryFile::Flush() { FStorage.Flush(); }

void TVdbBlockedBinaryFile::Undo() {
  if (!IsOpen()) return;
  // Undoing re-reads the header from the file: a failing file is reported as a read error.
  FStorage.Guarded(errFileRead, [&] {
    FStorage.Page().UnloadPage();
    FStorage.Client().Undo();
    FDamaged = false;
    ReadHeader();
  });
}

void TVdbBlockedBinaryFile::Update() {
  if (!IsOpen()) return;
  FStorage.Guarded(errFileRead, [&] {
    FStorage.Page().UnloadPage();
    FStorage.Client().Invalidate();
    FDamaged = false;
    ReadHeader();
  });
}

void TVdbBlockedBinaryFile::Empty() {
  if (!IsOpen() || FStorage.ReadOnly()) RaiseEngineError(errNoWriteAccess, {});
  FNextBlock = 1;
  FLastBlock = 0;
  FDamaged = false;
  FStorage.Guarded(errFileWrite, [&] {
    FStorage.Page().InitPage(0);
    FStorage.Page().UnloadPage();
    FStorage.Client().SetPageCount(1);
  });
  WriteHeader();
}

std::int64_t TVdbBlockedBinaryFile::GetFileSize() const {
  return FStorage.HasClient() ? FStorage.Client().GetSize() : 0;
}

void TVdbBlockedBinaryFile::CheckWritable() {
  if (!IsOpen() || FStorage.ReadOnly()) RaiseEngineError(errNoWriteAccess, {});
  if (FDamaged) RaiseEngineError(DamagedCode(), {FTableName});
}

void TVdbBlockedBinaryFile::WriteHeader() {
  FStoredLastBlock = FLastBlock;
  std::uint8_t head[kHeaderBytes];
  vuPutU32(head + kVdbBlobFreeOffset, static_cast<std::uint32_t>(FNextBlock));
  vuPutU32(head + kVdbBlobLastOffset, static_cast<std::uint32_t>(FLastBlock));
  vuPutU32(head + kVdbBlobSizeOffset, static_cast<std::uint32_t>(FBlockSize));
  FStorage.Guarded(errFileWrite, [&] {
    FStorage.Page().LoadPage(0);
    FStorage.Page().Write(0, head, kHeaderBytes);
  });
}

void TVdbBlockedBinaryFile::ReadBlock(std::int32_t block, std::vector<std::uint8_t>& buffer) {
  if (!ValidBlock(block)) Damaged();
  buffer.resize(static_cast<std::size_t>(FBlockSize));
  FStorage.Guarded(errFileRead, [&] { FStorage.Client().ReadPage(block, buffer.data()); });
  if (FEncryption) FEncryption->DecryptBlock(buffer.data(), buffer.size());
}

void TVdbBlockedBinaryFile::WriteBlock(std::int32_t block, std::vector<std::uint8_t>& buffer) {
  if (FEncryption) FEncryption->EncryptBlock(buffer.data(), buffer.size());
  // The caller gets its block back deciphered, whether the write worked or not.
  auto decipher = [&] {
    if (FEncryption) FEncryption->DecryptBlock(buffer.data(), buffer.size());
  };
  FStorage.Guarded(
      errFileWrite,
      [&] {
        TVdbStoragePageSite& page = FStorage.Page();
        if (block >= FStorage.Client().GetPageCount()) {
          page.InitPage(block);
        } else {
          page.LoadPage(block);
        }
        page.Write(0, buffer.data(), FBlockSize);
      },
      decipher);
  decipher();
}

std::int32_t TVdbBlockedBinaryFile::NextOf(const std::vector<std::uint8_t>& buffer, bool lowBits) {
  const std::uint32_t raw = vuGetU32(buffer.data() + kVdbBlobNextOffset);
  if (raw == 0xFFFFFFFFu) return kVdbBlobChainEnd;
  return static_cast<std::int32_t>(lowBits ? raw & kMemoBlockMask : raw);
}

std::int32_t TVdbBlockedBinaryFile::PeekNextAllocation() const noexcept {
  return FNextBlock >= 1 && FNextBlock <= FLastBlock ? FNextBlock : FLastBlock + 1;
}

std::int32_t TVdbBlockedBinaryFile::AllocateBlock() {
  if (FNextBlock > kVdbMaxBlockNo || FLastBlock >= kVdbMaxBlockNo) {
    RaiseEngineError(errMemoBlobTooLarge, {FTableName});
  }
  if (FNextBlock >= 1 && FNextBlock <= FLastBlock) {
    const std::int32_t block = FNextBlock;
    ReadBlock(block, FWorkBlock);
    const std::int32_t next = NextOf(FWorkBlock);
    if (next <= 0 || next > FLastBlock + 1) Damaged();
    FNextBlock = next;
    return block;
  }
  ++FLastBlock;
  FNextBlock = FLastBlock + 1;
  return FLastBlock;
}

std::int32_t TVdbBlockedBinaryFile::WriteChain(std::int32_t oldBlock, std::span<const std::uint8_t> bytes) {
  CheckWritable();
  if (oldBlock != 0) FreeChain(oldBlock);
  if (bytes.empty()) {
    WriteHeader();
    return 0;
  }
  const std::size_t payload = static_cast<std::size_t>(Payload());
  std::int32_t first = 0;
  std::vector<std::uint8_t> block(static_cast<std::size_t>(FBlockSize));
  // A free list that leads back to a block of this value is a cycle.
  std::unordered_set<std::int32_t> taken;
  for (std::size_t done = 0; done < bytes.size();) {
    const std::int32_t number = AllocateBlock();
    if (!taken.insert(number).second) Damaged();
    if (first == 0) first = number;
    const std::size_t n = std::min(payload, bytes.size() - done);
    const bool last = done + n == bytes.size();
    std::fill(block.begin(), block.end(), std::uint8_t{0});
    vuPutU32(block.data() + kVdbBlobNextOffset,
             static_cast<std::uint32_t>(last ? kVdbBlobChainEnd : PeekNextAllocation()));
    std::memcpy(block.data() + kVdbBlobPayloadOffset, bytes.data() + done, n);
    WriteBlock(number, block);
    done += n;
  }
  WriteHeader();
  return first;
}

void TVdbBlockedBinaryFile::ForgetFreeList() {
  if (!IsOpen() || FStorage.ReadOnly()) RaiseEngineError(errNoWriteAccess, {});
  if (FVersion < 5) return;
  // Block 0 may have reached the file before the blocks it counts: what lies beyond the file
  // belonged to values the recovery writes again.
  const std::int64_t fileBlocks = FStorage.Client().GetSize() / FBlockSize - 1;
  FLastBlock = static_cast<std::int32_t>(std::max<std::int64_t>(0, std::min<std::int64_t>(fileBlocks, FLastBlock)));
  FNextBlock = FLastBlock + 1;
  FDamaged = false;
  WriteHeader();
}

void TVdbBlockedBinaryFile::RebuildFreeList(const std::vector<std::int32_t>& chainHeads) {
  if (!IsOpen() || FStorage.ReadOnly()) RaiseEngineError(errNoWriteAccess, {});
  // Old files find chain lengths from their content; their free lists are left as they are.
  if (FVersion < 5) return;
  const std::int64_t fileBlocks = FStorage.Client().GetSize() / FBlockSize - 1;
  FLastBlock = static_cast<std::int32_t>(std::max<std::int64_t>(0, std::min<std::int64_t>(fileBlocks, FLastBlock)));
  std::vector<bool> used(static_cast<std::size_t>(FLastBlock) + 1, false);
  for (std::int32_t head : chainHeads) {
    std::int32_t block = head;
    for (std::int32_t steps = 0; block != kVdbBlobChainEnd && ValidBlock(block) && !used[static_cast<std::size_t>(block)] &&
                                 steps <= FLastBlock;
         ++steps) {
      used[static_cast<std::size_t>(block)] = true;
      ReadBlock(block, FWorkBlock);
      block = NextOf(FWorkBlock);
    }
  }
  // Linked from the highest block down, so the list hands out low blocks first.
  std::int32_t next = FLastBlock + 1;
  for (std::int32_t b = FLastBlock; b >= 1; --b) {
    if (used[static_cast<std::size_t>(b)]) continue;
    ReadBlock(b, FWorkBlock);
    vuPutU32(FWorkBlock.data() + kVdbBlobNextOffset, static_cast<std::uint32_t>(next));
    WriteBlock(b, FWorkBlock);
    next = b;
  }
  FNextBlock = next;
  FDamaged = false;
  WriteHeader();
}

void TVdbBlockedBinaryFile::FreeChain(std::int32_t block) {
  CheckWritable();
  if (block == 0) return;
  if (!ValidBlock(block)) Damaged();
  std::int32_t last = block;
  if (FVersion >= 5) {
    // Each block may be visited once: more steps than blocks means a cycle.
    std::int32_t steps = 0;
    for (;;) {
      if (++steps > FLastBlock) Damaged();
      ReadBlock(last, FWorkBlock);
      const std::int32_t next = NextOf(FWorkBlock);
      if (next == kVdbBlobChainEnd) break;
      if (!ValidBlock(next)) Damaged();
      last = next;
    }
  } else {
    const std::int32_t count = OldChainBlocks(block);
    for (std::int32_t i = 1; i < count; ++i) {
      ReadBlock(last, FWorkBlock);
      const std::int32_t next = NextOf(FWorkBlock, true);
      if (!ValidBlock(next)) Damaged();
      last = next;
    }
    ReadBlock(last, FWorkBlock);
  }
  vuPutU32(FWorkBlock.data() + kVdbBlobNextOffset, static_cast<std::uint32_t>(FNextBlock));
  WriteBlock(last, FWorkBlock);
  FNextBlock = block;
  WriteHeader();
}

std::vector<std::int32_t> TVdbBlockedBinaryFile::FreeBlocks() {
  std::vector<std::int32_t> out;
  std::vector<bool> seen(static_cast<std::size_t>(FLastBlock) + 1, false);
  for (std::int32_t b = FNextBlock; b >= 1 && b <= FLastBlock;) {
    if (seen[static_cast<std::size_t>(b)]) Damaged();
    seen[static_cast<std::size_t>(b)] = true;
    out.push_back(b);
    ReadBlock(b, FWorkBlock);
    const std::int32_t next = NextOf(FWorkBlock);
    if (next <= 0 || next > FLastBlock + 1) Damaged();
    b = next;
  }
  return out;
}

std::vector<std::u16string> TVdbBlockedBinaryFile::Check(const std::vector<TVdbChainRef>& chains) {
  std::vector<std::u16string> problems;
  const std::u16string prefix = std::u16string(KindName()) + u": ";
  auto report = [&](std::u16string text) { problems.push_back(prefix + std::move(text)); };
  auto where = [](const TVdbChainRef& ref) {
    return u"Record " + TvuCodePage::ToUnicode(1252, std::to_string(ref.RecNo)) + u", field " + ref.FieldName;
  };
  if (!IsOpen()) {
    report(u"Storage file is corrupt");
    return problems;
  }
  const std::int64_t fileBlocks = FStorage.Client().GetSize() / FBlockSize - 1;
  if (FStoredLastBlock > fileBlocks || FStoredLastBlock < 0) report(u"Wrong block count");
  const std::int32_t count = static_cast<std::int32_t>(std::max<std::int64_t>(0, std::min<std::int64_t>(fileBlocks, FLastBlock)));
  // 0: unused, 1: free, 2: in a chain.
  std::vector<std::uint8_t> state(static_cast<std::size_t>(count) + 1, 0);
  std::vector<std::uint8_t> buffer;
  try {
    std::int32_t b = FNextBlock;
    while (b >= 1 && b <= count) {
      if (state[static_cast<std::size_t>(b)]) {
        report(u"Freelist contains cycles");
        break;
      }
      state[static_cast<std::size_t>(b)] = 1;
      ReadBlock(b, buffer);
      b = NextOf(buffer);
    }
    for (const auto& ref : chains) {
      if (ref.Block == 0) continue;
      if (ref.Block < 0 || ref.Block > count) {
        report(where(ref) + u" - Points to non-existing block.");
        continue;
      }
      std::int32_t block = ref.Block;
      for (std::int32_t steps = 0; block != kVdbBlobChainEnd; ++steps) {
        if (block < 1 || block > count || steps > count) {
          report(where(ref) + u" - Invalid block in chain.");
          break;
        }
        auto& s = state[static_cast<std::size_t>(block)];
        if (s == 1) {
          report(where(ref) + u" - Chain contains unused block.");
          break;
        }
        if (s == 2) {
          report(where(ref) + u" - Block is used twice.");
          break;
        }
        s = 2;
        ReadBlock(block, buffer);
        block = NextOf(buffer, FVersion < 5);
        if (FVersion < 5 && block == static_cast<std::int32_t>(kMemoBlockMask)) block = kVdbBlobChainEnd;
      }
    }
  } catch (const EVdbEngine& e) {
    report(e.Code() == errFileRead ? u"Read error" : u"Storage file is corrupt");
    return problems;
  }
  for (std::int32_t b = 1; b <= count; ++b) {
    if (state[static_cast<std::size_t>(b)] == 0) {
      report(u"Unused block not in freelist");
      break;
    }
  }
  return problems;
}

// ---- TVdbMemoFile

std::int16_t TVdbMemoFile::DamagedCode() const noexcept { return errMemoFileDamaged; }

std::string TVdbMemoFile::ReadStored(std::int32_t block, std::int32_t* blocks) {
  std::string text;
  std::int32_t steps = 0;
  std::vector<std::uint8_t> buffer;
  std::unordered_set<std::int32_t> visited;
  while (block != 0) {
    // Each block at most once: a revisited block is a cycle.
    if (++steps > LastBlock() || !visited.insert(block).second) Damaged();
    ReadBlock(block, buffer);
    const auto* payload = reinterpret_cast<const char*>(buffer.data() + kVdbBlobPayloadOffset);
    const std::size_t n = static_cast<std::size_t>(Payload());
    const std::size_t end = std::find_if(payload, payload + n, [](char c) { return c == '\0' || c == kEndOfText; }) - payload;
    text.append(payload, end);
    if (end < n) break;
    // The text goes on: the chain must too.
    const std::int32_t next = NextOf(buffer, true);
    if (!ValidBlock(next)) Damaged();
    block = next;
  }
  if (blocks) *blocks = steps;
  return text;
}

std::string TVdbMemoFile::ReadMemo(std::int32_t block, bool oneLine, std::int32_t maxLength) {
  const std::string stored = ReadStored(block);
  std::string out;
  out.reserve(stored.size() + stored.size() / 16);
  for (char c : stored) {
    if (c == kCR) {
      if (oneLine) {
        out += ' ';
      } else {
        out += kCR;
        out += kLF;
      }
    } else if (c == kLF) {
      out += ' ';
    } else {
      out += c;
    }
    if (maxLength > 0 && static_cast<std::int32_t>(out.size()) >= maxLength) {
      out.resize(static_cast<std::size_t>(maxLength));
      break;
    }
  }
  return out;
}

std::int32_t TVdbMemoFile::WriteString(std::int32_t oldBlock, std::string_view text) {
  std::string stored = VdbMemoStoredText(text);
  if (stored.empty()) return WriteChain(oldBlock, {});
  stored += '\0';
  return WriteChain(oldBlock, std::span(reinterpret_cast<const std::uint8_t*>(stored.data()), stored.size()));
}

std::int32_t TVdbMemoFile::CalcMemoLength(std::int32_t block) {
  return static_cast<std::int32_t>(ReadStored(block).size());
}

std::int32_t TVdbMemoFile::OldChainBlocks(std::int32_t first) {
  std::int32_t blocks = 0;
  ReadStored(first, &blocks);
  return blocks;
}

// ---- TVdbBlobFile

std::int16_t TVdbBlobFile::DamagedCode() const noexcept { return errBlobFileDamaged; }

std::int32_t TVdbBlobFile::CheckedLength(std::int32_t block, std::vector<std::uint8_t>& first) {
  ReadBlock(block, first);
  const auto length = static_cast<std::int32_t>(vuGetU32(first.data() + kVdbBlobPayloadOffset));
  // The value cannot be longer than all blocks of the file together.
  const std::int64_t room = static_cast<std::int64_t>(LastBlock()) * Payload() - kBlobLengthSize;
  if (length < 0 || length > room) Damaged();
  return length;
}

std::vector<std::uint8_t> TVdbBlobFile::ReadData(std::int32_t block) {
  if (block == 0) return {};
  std::vector<std::uint8_t> buffer;
  const std::int32_t length = CheckedLength(block, buffer);
  std::vector<std::uint8_t> data;
  data.reserve(static_cast<std::size_t>(length));
  std::size_t offset = kVdbBlobPayloadOffset + kBlobLengthSize;
  std::int32_t steps = 1;
  std::unordered_set<std::int32_t> visited{block};
  for (;;) {
    const std::size_t n = std::min<std::size_t>(buffer.size() - offset, static_cast<std::size_t>(length) - data.size());
    data.insert(data.end(), buffer.begin() + static_cast<std::ptrdiff_t>(offset),
                buffer.begin() + static_cast<std::ptrdiff_t>(offset + n));
    if (data.size() == static_cast<std::size_t>(length)) break;
    const std::int32_t next = NextOf(buffer);
    if (!ValidBlock(next) || ++steps > LastBlock() || !visited.insert(next).second) Damaged();
    ReadBlock(next, buffer);
    offset = kVdbBlobPayloadOffset;
  }
  return data;
}

std::int32_t TVdbBlobFile::WriteData(std::int32_t oldBlock, std::span<const std::uint8_t> data) {
  if (data.empty()) return WriteChain(oldBlock, {});
  if (data.size() > static_cast<std::size_t>(INT32_MAX - kBlobLengthSize)) {
    RaiseEngineError(errMemoBlobTooLarge, {FTableName});
  }
  std::vector<std::uint8_t> bytes(kBlobLengthSize + data.size());
  vuPutU32(bytes.data(), static_cast<std::uint32_t>(data.size()));
  std::copy(data.begin(), data.end(), bytes.begin() + kBlobLengthSize);
  return WriteChain(oldBlock, bytes);
}

std::int32_t TVdbBlobFile::WriteString(std::int32_t oldBlock, std::u16string_view text) {
  std::vector<std::uint8_t> bytes(text.size() * 2);
  for (std::size_t i = 0; i < text.size(); ++i) vuPutU16(bytes.data() + 2 * i, text[i]);
  return WriteData(oldBlock, bytes);
}

std::u16string TVdbBlobFile::ReadString(std::int32_t block) {
  const auto bytes = ReadData(block);
  std::u16string text(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char16_t>(vuGetU16(bytes.data() + 2 * i));
  return text;
}

std::uint16_t TVdbBlobFile::ReadBlobType(std::int32_t block) {
  if (block == 0) return 0;
  std::vector<std::uint8_t> buffer;
  const std::int32_t length = CheckedLength(block, buffer);
  if (length < 2) return 0;
  // Blocks hold at least 8 payload bytes, so the tag lies in the first block.
  return vuGetU16(buffer.data() + kVdbBlobPayloadOffset + kBlobLengthSize);
}

std::int32_t TVdbBlobFile::CalcBlobLength(std::int32_t block) {
  if (block == 0) return 0;
  std::vector<std::uint8_t> buffer;
  return CheckedLength(block, buffer);
}

std::int32_t TVdbBlobFile::OldChainBlocks(std::int32_t first) {
  std::vector<std::uint8_t> buffer;
  const std::int64_t total = static_cast<std::int64_t>(CheckedLength(first, buffer)) + kBlobLengthSize;
  return static_cast<std::int32_t>((total + Payload() - 1) / Payload());
}

}  // namespace vdb
