// The page storage of one table file; see VdbFileStorage.h.
#include "storage/VdbFileStorage.h"

#include "base/VdbErrorCodes.h"

namespace vdb {

TVdbFileStorage::TVdbFileStorage(TVdbPageManager& pageManager, TvuFileSystem& fs, std::u16string fileName,
                                 std::int32_t clientHdl)
    : FPageManager(pageManager), FFileSystem(fs), FFileName(std::move(fileName)), FClientHdl(clientHdl) {}

TVdbFileStorage::~TVdbFileStorage() { CloseQuietly(); }

std::unique_ptr<TVdbClientStorage> TVdbFileStorage::NewClient(std::int32_t pageSize) const {
  auto client = std::make_unique<TVdbClientStorage>(FPageManager, nullptr, FClientHdl, FFileSystem);
  client->SetName(FFileName);
  client->SetPageSize(pageSize);
  client->SetDeepFlush(FDeepFlush);
  return client;
}

void TVdbFileStorage::Open(std::int32_t pageSize, bool readOnly, bool exclusive) {
  FPage.reset();
  if (FStorage) FStorage->Close();
  FStorage = NewClient(pageSize);
  try {
    FStorage->Open(readOnly, exclusive);
  } catch (const EVdbPMStorageNotFound&) {
    FStorage.reset();
    RaiseEngineError(errFileNotFoundOrDenied, {FFileName});
  } catch (const EVdbPMStorageAccessDenied&) {
    FStorage.reset();
    RaiseEngineError(errFileNotFoundOrDenied, {FFileName});
  } catch (const EVdbPageManager& e) {
    FStorage.reset();
    throw e.ToEngineError(FFileName);
  }
  FPage = FStorage->CreatePageSite();
  FReadOnly = readOnly;
}

void TVdbFileStorage::Create(std::int32_t pageSize, bool exclusive) {
  FStorage = NewClient(pageSize);
  try {
    FStorage->NewStorage(exclusive);
  } catch (const EVdbPageManager&) {
    FStorage.reset();
    RaiseEngineError(errCreateFileDenied, {FFileName});
  }
  FPage = FStorage->CreatePageSite();
  FReadOnly = false;
}

void TVdbFileStorage::Close() {
  FPage.reset();
  if (!FStorage) return;
  auto storage = std::move(FStorage);
  try {
    storage->Close();
  } catch (const EVdbPageManager&) {
    RaiseEngineError(errFileClose, {FFileName});
  }
}

void TVdbFileStorage::CloseQuietly() noexcept {
  FPage.reset();
  if (FStorage) {
    try {
      FStorage->Close();
    } catch (...) {
      // The storage is released anyway; the caller is already reporting the first error.
    }
    FStorage.reset();
  }
}

void TVdbFileStorage::Drop() noexcept {
  FPage.reset();
  FStorage.reset();
}

void TVdbFileStorage::SetDeepFlush(bool value) noexcept {
  FDeepFlush = value;
  if (FStorage) FStorage->SetDeepFlush(value);
}

void TVdbFileStorage::Flush() {
  if (!IsOpen() || FReadOnly) return;
  Guarded(errFileWrite, [&] { FStorage->Flush(); });
}

}  // namespace vdb
