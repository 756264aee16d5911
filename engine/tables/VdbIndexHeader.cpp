#include "tables/VdbIndexHeader.h"

#include <vector>

#include "api/VdbErrorCodes.h"
#include "api/VdbErrors.h"
#include "storage/vuLittleEndian.h"

namespace vdb {

namespace {

// Tree header sizes of the three forms (see the index file unit).
constexpr std::size_t kClassicTreeHeader = 24;
constexpr std::size_t kVariableTreeHeader = 22;
constexpr std::size_t kOldTreeHeader = 14;

class TReader {
 public:
  TReader(const std::vector<std::uint8_t>& page, std::size_t pos, std::u16string_view name)
      : FPage(page), FPos(pos), FName(name) {}
  void Need(std::size_t n) const {
    if (FPos + n > FPage.size()) RaiseEngineError(errInconsistentIndexDefinition, {std::u16string(FName)});
  }
  std::uint8_t U8() {
    Need(1);
    return FPage[FPos++];
  }
  std::uint16_t U16() {
    Need(2);
    const std::uint16_t v = vuGetU16(FPage.data() + FPos);
    FPos += 2;
    return v;
  }
  std::uint32_t U32() {
    Need(4);
    const std::uint32_t v = vuGetU32(FPage.data() + FPos);
    FPos += 4;
    return v;
  }
  std::size_t Pos() const noexcept { return FPos; }

 private:
  const std::vector<std::uint8_t>& FPage;
  std::size_t FPos;
  std::u16string_view FName;
};

TVdbIndexPartDef Part(std::uint32_t col, std::uint16_t keyLength, std::uint8_t type) {
  TVdbIndexPartDef p;
  p.Descending = (col & kIdxDescendingBit) != 0;
  p.ColumnNo = static_cast<std::int16_t>(col & ~std::uint32_t{kIdxDescendingBit});
  p.KeyLength = static_cast<std::int16_t>(keyLength);
  p.ColumnType = type;
  return p;
}

TVdbIndexDefinition Decode(const std::vector<std::uint8_t>& page, std::u16string_view name) {
  auto bad = [&] { RaiseEngineError(errInconsistentIndexDefinition, {std::u16string(name)}); };
  TVdbIndexDefinition def;
  const std::uint32_t magic = vuGetU32(page.data() + kIdxMagicOffset);
  if (magic == kIdxMagicClassic || magic == kIdxMagicVariable) {
    const std::size_t offset =
        static_cast<std::size_t>(kIdxTreeOffset) + (magic == kIdxMagicClassic ? kClassicTreeHeader : kVariableTreeHeader);
    TReader r(page, offset, name);
    r.U32();  // entries
    r.U8();   // reserved
    def.IsCalculated = r.U8() != 0;
    def.IsUnique = r.U8() != 0;
    const std::uint32_t parts = r.U16();
    if (def.IsCalculated) {
      if (parts != 1) bad();
      def.ResultType = r.U8();
      def.KeySize = static_cast<std::int16_t>(r.U16());
      const std::uint32_t n = r.U16();
      r.Need(2 * std::size_t{n});
      for (std::uint32_t i = 0; i < n; ++i) def.Expression.push_back(static_cast<char16_t>(r.U16()));
    } else {
      if (parts < 1 || parts > static_cast<std::uint32_t>(kIdxMaxParts)) bad();
      for (std::uint32_t i = 0; i < parts; ++i) {
        const std::uint32_t col = r.U16();
        const std::uint16_t length = r.U16();
        def.Parts.push_back(Part(col, length, r.U8()));
      }
    }
    def.EntrySize = static_cast<std::int16_t>(r.U16());
  } else {
    const std::size_t base = kOldTreeHeader;
    TReader(page, base, name).Need(kIdxOldDefEntrySize + 2);
    if (vuGetU16(page.data() + base) == 0xFFFF) {
      def.IsCalculated = true;
      def.KeySize = static_cast<std::int16_t>(vuGetU16(page.data() + base + 2));
      def.ResultType = page[base + 4];
    } else {
      for (std::int32_t i = 0; i < kIdxOldMaxParts; ++i) {
        const std::uint8_t* e = page.data() + base + static_cast<std::size_t>(i) * kIdxDefPartSize;
        const std::uint32_t col = vuGetU16(e);
        if ((col & ~std::uint32_t{kIdxDescendingBit}) == 0) break;
        def.Parts.push_back(Part(col, vuGetU16(e + 2), e[4]));
      }
      if (def.Parts.empty()) bad();
    }
    def.IsUnique = page[base + kIdxOldDefUnique] != 0;
    def.EntrySize = static_cast<std::int16_t>(vuGetU16(page.data() + base + kIdxOldDefEntrySize));
  }
  if (def.EntrySize <= kVdbRecNoSize) bad();
  return def;
}

}  // namespace

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
  return Decode(page, indexName);
}

}  // namespace vdb
