#include "tables/VdbIndexHeader.h"

#include <vector>

#include "base/VdbErrorCodes.h"
#include "base/VdbErrors.h"

namespace vdb {

TVdbIndexDefinition VdbReadIndexFileDefinition(const TVdbClientStorage& storage, std::u16string_view indexName) {
  std::unique_ptr<TVdbClientStorage> reader = storage.CreateSibling();
  reader->SetPageSize(kIdxFirstReadPageSize);
  std::vector<std::uint8_t> page(static_cast<std::size_t>(kIdxFirstReadPageSize));
  try {
    reader->Open(true, false);
    reader->ReadPage(0, page.data());
    reader->Close();
  } catch (const EVdbPMStorageNotFound&) {
    RaiseEngineError(errFileNotFoundOrDenied, {storage.Name()});
  } catch (const EVdbPMStorageAccessDenied&) {
    RaiseEngineError(errFileNotFoundOrDenied, {storage.Name()});
  } catch (const EVdbPageManager&) {
    RaiseEngineError(errInconsistentIndexDefinition, {std::u16string(indexName)});
  }
  std::int64_t itemCount = 0;
  return TVdbIndexFile::ReadStoredDefinition(page, indexName, itemCount);
}

}  // namespace vdb
