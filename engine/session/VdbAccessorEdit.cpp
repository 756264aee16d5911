// The accessor's record buffers, memo and blob transfer, and editing: Append, Edit, Cancel,
// Post and Delete with their pending blob values.
#include <algorithm>
#include <cstdlib>

#include "base/VdbErrorCodes.h"
#include "session/VdbAccessor.h"
#include "session/VdbAccessorInternal.h"
#include "storage/VdbTreeBase.h"
#include "tables/VdbBaseTable.h"

namespace vdb {

using namespace accessor;

// ---- record buffers

std::span<std::uint8_t> TVdbAccessor::RecordPtrExc() {
  if (FWorkRecordNo >= 0 && FRecordNo == FWorkRecordNo) return FWorkRecBuf;
  if (!FRecBufUpdated) {
    if (FRecordNo < 1) {
      std::fill(FCurrentRecBuf.begin(), FCurrentRecBuf.end(), std::uint8_t{0});
    } else {
      Check(FRelation.ReadRecord(FRecordNo, FCurrentRecBuf));
      if (FAccessType == tatIndex) FRelation.CalcIndexInfo(FCurrentRecBuf, FIndexNo, FRecordNo, FCurrentKey);
    }
    FRecBufUpdated = true;
  }
  return FCurrentRecBuf;
}

std::int16_t TVdbAccessor::GetRecord(std::span<std::uint8_t> buffer) {
  return Guard([&] {
    const std::span<std::uint8_t> rec = RecordPtrExc();
    std::copy_n(rec.begin(), std::min(rec.size(), buffer.size()), buffer.begin());
  });
}

std::int16_t TVdbAccessor::SetRecord(std::span<const std::uint8_t> buffer) {
  if (FEditState == esBrowse) return kNoRecord;
  std::copy_n(buffer.begin(), std::min(buffer.size(), FWorkRecBuf.size()), FWorkRecBuf.begin());
  return 0;
}

// ---- memo and blob transfer

TVdbBlobData* TVdbAccessor::FindPending(std::int32_t fieldNo) {
  for (auto& b : FPendingBlobs) {
    if (b.FieldNo == fieldNo) return &b;
  }
  return nullptr;
}

bool TVdbAccessor::HasPendingBlob(std::int32_t fieldNo) const {
  return std::any_of(FPendingBlobs.begin(), FPendingBlobs.end(), [&](const TVdbBlobData& b) { return b.FieldNo == fieldNo; });
}

void TVdbAccessor::ReleasePendingBlobs() noexcept {
  FPendingBlobs.clear();
  FBlobTransferFieldNo = 0;
  FBlobTransferWriting = false;
}

std::vector<std::uint8_t> TVdbAccessor::LoadStoredBlob(std::int32_t fieldNo) {
  // Only stored tables keep memo and blob files.
  auto* table = dynamic_cast<TVdbBaseTable*>(&FRelation);
  if (table == nullptr) RaiseEngineError(errNotSupported, {u"memo and blob values of this relation"});
  const TVdbColumnDef& col = FRelation.ColumnDefs().GetColumnDef(fieldNo - 1);
  TReadLock lock(FRelation);
  const std::span<std::uint8_t> record = RecordPtrExc();
  TVdbDataValue ref;
  col.DataType()->SetReference(ref, record, static_cast<std::size_t>(col.Position()));
  const auto block = static_cast<std::int32_t>(col.DataType()->IsNull(ref) ? 0 : col.DataType()->GetInteger(ref));
  if (block <= 0) return {};
  if (col.DataType()->ColumnType() == vctMemo) {
    if (table->MemoFile() == nullptr) RaiseEngineError(errFileNotFoundOrDenied, {table->FileNames().MemoFile()});
    const std::string text = table->MemoFile()->ReadMemo(block);
    return {text.begin(), text.end()};
  }
  if (table->BlobFile() == nullptr) RaiseEngineError(errFileNotFoundOrDenied, {table->FileNames().BlobFile()});
  return table->BlobFile()->ReadData(block);
}

std::int32_t TVdbAccessor::InitGetBlob(std::int32_t fieldNo, std::int32_t /*maxSize*/, std::uint16_t& blobType) {
  blobType = 0;
  return Guard([&]() -> std::int32_t {
    if (fieldNo < 1 || fieldNo > FRelation.ColumnDefs().GetCount()) RaiseEngineError(errBlobFieldExpected);
    const TVdbColumnType type = FRelation.ColumnDefs().GetColumnDef(fieldNo - 1).DataType()->ColumnType();
    if (type != vctMemo && type != vctWideMemo && type != vctBlob) RaiseEngineError(errBlobFieldExpected);
    TVdbBlobData* pending = FindPending(fieldNo);
    if (pending == nullptr) {
      TVdbBlobData loaded;
      loaded.FieldNo = fieldNo;
      loaded.Transient = true;
      loaded.Data = LoadStoredBlob(fieldNo);
      FPendingBlobs.push_back(std::move(loaded));
      pending = &FPendingBlobs.back();
    }
    FBlobTransferFieldNo = fieldNo;
    FBlobTransferWriting = false;
    const auto size = static_cast<std::int32_t>(pending->Data.size());
    if (type != vctBlob) return size;
    if (size < 2) return 0;
    blobType = static_cast<std::uint16_t>(pending->Data[0] | (pending->Data[1] << 8));
    return size - 2;
  });
}

std::int32_t TVdbAccessor::GetBlobChunk(std::int32_t start, std::span<std::uint8_t> data) {
  const TVdbBlobData* pending = FBlobTransferFieldNo > 0 ? FindPending(FBlobTransferFieldNo) : nullptr;
  if (pending == nullptr || start < 0) return kNoRecord;
  const TVdbColumnType type = FRelation.ColumnDefs().GetColumnDef(FBlobTransferFieldNo - 1).DataType()->ColumnType();
  std::size_t from = static_cast<std::size_t>(start);
  if (type == vctBlob) from += pending->Data.size() >= 2 ? 2 : pending->Data.size();
  if (type == vctWideMemo) from &= ~std::size_t{1};
  if (from >= pending->Data.size()) return 0;
  const std::size_t n = std::min(data.size(), pending->Data.size() - from);
  std::copy_n(pending->Data.begin() + static_cast<std::ptrdiff_t>(from), n, data.begin());
  return static_cast<std::int32_t>(n);
}

void TVdbAccessor::DoneGetBlob() {
  std::erase_if(FPendingBlobs, [&](const TVdbBlobData& b) { return b.FieldNo == FBlobTransferFieldNo && b.Transient; });
  FBlobTransferFieldNo = 0;
}

std::int16_t TVdbAccessor::InitSetBlob(std::int32_t fieldNo, std::int32_t size) {
  return Guard([&] {
    if (fieldNo < 1 || fieldNo > FRelation.ColumnDefs().GetCount() || size < 0) RaiseEngineError(errBlobFieldExpected);
    const TVdbColumnType type = FRelation.ColumnDefs().GetColumnDef(fieldNo - 1).DataType()->ColumnType();
    if (type != vctMemo && type != vctWideMemo && type != vctBlob) RaiseEngineError(errBlobFieldExpected);
    TVdbBlobData* pending = FindPending(fieldNo);
    if (pending == nullptr) {
      FPendingBlobs.push_back(TVdbBlobData{fieldNo, {}, false});
      pending = &FPendingBlobs.back();
    }
    pending->Transient = false;
    pending->Data.assign(static_cast<std::size_t>(size), 0);
    FBlobTransferFieldNo = fieldNo;
    FBlobTransferWriting = true;
  });
}

std::int16_t TVdbAccessor::SetBlobChunk(std::int32_t start, std::span<const std::uint8_t> data) {
  TVdbBlobData* pending = FBlobTransferWriting ? FindPending(FBlobTransferFieldNo) : nullptr;
  if (pending == nullptr || start < 0 || static_cast<std::size_t>(start) + data.size() > pending->Data.size()) {
    return kNoRecord;
  }
  std::copy(data.begin(), data.end(), pending->Data.begin() + start);
  return 0;
}

void TVdbAccessor::DoneSetBlob() {
  FBlobTransferFieldNo = 0;
  FBlobTransferWriting = false;
}

// ---- editing

std::int16_t TVdbAccessor::Append() {
  return Guard([&] {
    if ((FRelation.GetRights() & kVdbRightModify) == 0) RaiseEngineError(errPermissionDenied);
    if (FEditState != esBrowse) Check(Cancel());
    FSavedRecordNo = FRecordNo;
    std::fill(FWorkRecBuf.begin(), FWorkRecBuf.end(), std::uint8_t{0});
    FWorkRecordNo = 0;
    SetPosition(0);
    FSequenceNo = -2;
    FEditState = esAppend;
  });
}

std::int16_t TVdbAccessor::Edit(const TVdbEditWait* wait) {
  return Guard([&] {
    constexpr std::uint16_t kRightEdit = 0x0002;
    constexpr std::uint32_t kRetryMs = 100;
    if ((FRelation.GetRights() & kRightEdit) == 0) RaiseEngineError(errNoWritePermission, {FRelation.GetName()});
    if (FEditState != esBrowse) Check(Cancel());
    if (FRecordNo < 1) RaiseEngineError(errRecordNotFound, {VdbUtf8ToUtf16(std::to_string(FRecordNo))});
    const std::uint32_t start = wait != nullptr ? wait->Clock.NowMs() : 0;
    for (;;) {
      std::int16_t r;
      {
        TReadLock lock(FRelation);
        r = FRelation.CheckEdit(FRecordNo, this);
      }
      if (r >= 0) break;
      if (wait == nullptr || static_cast<std::int64_t>(wait->Clock.NowMs() - start) >= wait->TimeoutMs) Check(r);
      wait->Sleeper.SleepMs(kRetryMs);
    }
    try {
      FRecBufUpdated = false;
      const std::span<std::uint8_t> stored = RecordPtrExc();
      std::copy(stored.begin(), stored.end(), FWorkRecBuf.begin());
    } catch (...) {
      static_cast<void>(FRelation.EndEdit(FRecordNo));
      throw;
    }
    FWorkRecordNo = FRecordNo;
    FEditState = esEdit;
  });
}

std::int16_t TVdbAccessor::Cancel() {
  return Guard([&] {
    const TVdbEditState state = FEditState;
    const std::int32_t work = FWorkRecordNo;
    FEditState = esBrowse;
    FWorkRecordNo = -1;
    ReleasePendingBlobs();
    if (state == esEdit) Check(FRelation.EndEdit(work));
    if (state == esAppend) {
      if (FSavedRecordNo < 1 || FSavedRecordNo > FRelation.GetRecordCount()) {
        ToBoT();
      } else {
        Check(GotoRecord(FSavedRecordNo));
      }
    }
  });
}

std::int16_t TVdbAccessor::Post() {
  if (FEditState == esBrowse) return kNoRecord;
  return Guard([&] {
    TVdbBlobDataList blobs;
    for (const TVdbBlobData& b : FPendingBlobs) {
      if (!b.Transient) blobs.push_back(b);
    }
    // The relation writes the memo/blob references into the record: work on a copy, so that
    // a refused post leaves the work record as the user left it.
    std::vector<std::uint8_t> record = FWorkRecBuf;
    std::int32_t stored = 0;
    if (FEditState == esAppend) {
      if ((FRelation.GetRights() & kVdbRightModify) == 0) RaiseEngineError(errPermissionDenied);
      const std::int32_t recNo = FRelation.AppendRecord(record, blobs);
      Check(recNo);
      stored = recNo;
      // An id given by hand moves the table's next id past it.
      if (auto* table = dynamic_cast<TVdbBaseTable*>(&FRelation); table != nullptr && table->HasRecordId()) {
        Check(table->AdjustRecordId(record));
      }
    } else {
      std::int32_t work = 0;
      std::vector<std::uint8_t> orig(FWorkRecBuf.size(), 0);
      {
        // Taking the lock catches up with other sessions, whose deletes may have moved the
        // record in edit to another number: the number is read only under the lock.
        TReadLock lock(FRelation);
        work = FWorkRecordNo;
        if (work < 1 || work > FRelation.GetRecordCount()) {
          RaiseEngineError(errRecordNotFound, {VdbUtf8ToUtf16(std::to_string(work))});
        }
        Check(FRelation.ReadRecord(work, orig));
      }
      Check(FRelation.ReplaceRecord(record, orig, blobs, work));
      stored = work;
      FEditState = esBrowse;
      FWorkRecordNo = -1;
      Check(FRelation.EndEdit(work));
    }
    FEditState = esBrowse;
    FWorkRecordNo = -1;
    ReleasePendingBlobs();
    SetPosition(stored);
    FSequenceNo = -1;
    FBookmarkSlot = -1;
    // Reads the stored record (and in index order its key) as the current one.
    static_cast<void>(RecordPtrExc());
  });
}

std::int16_t TVdbAccessor::Delete() {
  return Guard([&] {
    if (FEditState != esBrowse) Check(Cancel());
    if (FRecordNo < 1 || FRecordDeleted) {
      RaiseEngineError(errRecordNotFound, {VdbUtf8ToUtf16(std::to_string(FRecordNo))});
    }
    const std::int32_t recNo = FRecordNo;
    std::vector<std::uint8_t> record(FWorkRecBuf.size(), 0);
    Check(FRelation.ReadRecord(recNo, record));
    const std::int16_t r = FRelation.DeleteRecord(record, recNo);
    if (r < 0) {
      // The record stays: the accessor stays on it.
      SetPosition(recNo);
      Check(r);
    }
    // The mark of a record deleted under the cursor warns of someone else's delete; after its
    // own delete the accessor stands on a record that exists and may be deleted next.
    FRecordDeleted = false;
  });
}

}  // namespace vdb
