#include "tables/VdbTableNames.h"

#include <algorithm>

namespace vdb {

namespace {

char16_t Lower(char16_t c) noexcept { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

bool StartsWithNoCase(std::u16string_view s, std::u16string_view prefix) noexcept {
  return s.size() >= prefix.size() && VdbSameTextNoCase(s.substr(0, prefix.size()), prefix);
}

std::u16string TwoDigits(int n, int width) {
  std::u16string s;
  for (int v = n; v > 0 || s.empty(); v /= 10) s.insert(s.begin(), static_cast<char16_t>(u'0' + v % 10));
  while (static_cast<int>(s.size()) < width) s.insert(s.begin(), u'0');
  return s;
}

bool IsDigit(char16_t c) noexcept { return c >= u'0' && c <= u'9'; }

}  // namespace

int VdbIndexSlotCount(int level) noexcept { return level >= 4 ? 50 : 15; }

std::u16string_view VdbExtractDir(std::u16string_view path) {
  const auto slash = path.find_last_of(u'/');
  return slash == std::u16string_view::npos ? std::u16string_view{} : path.substr(0, slash + 1);
}

std::u16string_view VdbExtractFileName(std::u16string_view path) {
  return path.substr(VdbExtractDir(path).size());
}

std::u16string_view VdbExtractExt(std::u16string_view path) {
  const std::u16string_view name = VdbExtractFileName(path);
  const auto dot = name.find_last_of(u'.');
  return dot == std::u16string_view::npos ? std::u16string_view{} : name.substr(dot);
}

std::u16string VdbChangeExt(std::u16string_view path, std::u16string_view ext) {
  std::u16string out(path.substr(0, path.size() - VdbExtractExt(path).size()));
  out += ext;
  return out;
}

bool VdbSameTextNoCase(std::u16string_view a, std::u16string_view b) noexcept {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) { return Lower(x) == Lower(y); });
}

// ---- file set

TVdbTableFileNames::TVdbTableFileNames(std::u16string dataFile, int level)
    : FDataFile(std::move(dataFile)), FLevel(level) {}

std::u16string TVdbTableFileNames::BaseName() const {
  const std::u16string_view name = VdbExtractFileName(FDataFile);
  return std::u16string(name.substr(0, name.size() - VdbExtractExt(name).size()));
}

bool TVdbTableFileNames::IsRelTable() const {
  if (VdbIsNewLevel(FLevel)) return BaseName().find(u"!rel_") != std::u16string::npos;
  return VdbSameTextNoCase(VdbExtractExt(FDataFile), u".rel");
}

std::u16string TVdbTableFileNames::MemoFile() const {
  return VdbChangeExt(FDataFile, VdbIsNewLevel(FLevel) ? u".vdbm" : u".mmo");
}

std::u16string TVdbTableFileNames::BlobFile() const {
  return VdbChangeExt(FDataFile, VdbIsNewLevel(FLevel) ? u".vdbb" : u".blb");
}

std::u16string TVdbTableFileNames::IndexFile(std::u16string_view indexName) const {
  std::u16string out = Directory();
  if (VdbIsNewLevel(FLevel)) return out + BaseName() + u"!" + std::u16string(indexName) + u".vdbi";
  if (FLevel >= 4) return out + BaseName() + u"!" + std::u16string(indexName) + u".ind";
  out += indexName;
  if (!VdbExtractExt(indexName).empty()) return out;
  return out + (BaseName().starts_with(u'~') ? u".$$i" : u".ind");
}

std::u16string TVdbTableFileNames::RelationTableFile(std::u16string_view column) const {
  if (VdbIsNewLevel(FLevel)) return Directory() + BaseName() + u"!rel_" + std::u16string(column) + u".vdbt";
  return Directory() + std::u16string(column) + u".rel";
}

std::u16string TVdbTableFileNames::LockFile() const {
  const std::u16string_view ext = VdbExtractExt(FDataFile);
  if (VdbSameTextNoCase(ext, u".vdbt")) return VdbChangeExt(FDataFile, u".vdbl");
  return VdbChangeExt(FDataFile, VdbSameTextNoCase(ext, u".rel") ? u".rnt" : u".net");
}

std::u16string TVdbTableFileNames::MoveFile() const {
  const std::u16string_view ext = VdbExtractExt(FDataFile);
  if (VdbSameTextNoCase(ext, u".vdbt")) return VdbChangeExt(FDataFile, u".vdbv");
  return VdbChangeExt(FDataFile, VdbSameTextNoCase(ext, u".rel") ? u".rmv" : u".mov");
}

std::u16string TVdbTableFileNames::RedoLogFile() const {
  if (VdbIsNewLevel(FLevel)) return VdbChangeExt(FDataFile, u".vdbr");
  return VdbChangeExt(FDataFile, VdbSameTextNoCase(VdbExtractExt(FDataFile), u".rel") ? u".rtr" : u".tra");
}

std::u16string_view TVdbTableFileNames::FullTextExt() const {
  return VdbIsNewLevel(FLevel) ? u".vdbf" : u".ift";
}

std::u16string VdbDataFileNameFor(std::u16string_view path, int level) {
  const std::u16string_view ext = VdbExtractExt(path);
  if (VdbIsNewLevel(level)) return VdbChangeExt(path, u".vdbt");
  if (VdbSameTextNoCase(ext, u".rel")) return std::u16string(path);
  return VdbChangeExt(path, u".dat");
}

bool VdbExtensionFitsLevel(std::u16string_view path, int level) {
  const std::u16string_view ext = VdbExtractExt(path);
  if (ext.empty()) return true;
  if (VdbIsNewLevel(level)) return VdbSameTextNoCase(ext, u".vdbt");
  return VdbSameTextNoCase(ext, u".dat") || VdbSameTextNoCase(ext, u".rel");
}

std::u16string VdbCalcStdTableName(std::u16string_view tableName) {
  const std::u16string_view name = VdbExtractFileName(tableName);
  const std::u16string_view ext = VdbExtractExt(name);
  if (VdbSameTextNoCase(ext, u".dat") || VdbSameTextNoCase(ext, u".vdbt")) {
    return std::u16string(name.substr(0, name.size() - ext.size()));
  }
  return std::u16string(name);
}

// ---- index names

TVdbIndexKind VdbGetIndexKind(std::u16string_view indexName, int level) {
  const std::u16string_view ext = VdbExtractExt(indexName);
  if (level >= 4) {
    if (!ext.empty()) return tikUser;
    if (VdbSameTextNoCase(indexName, u"sys_Id") || VdbSameTextNoCase(indexName, u"sys_Inr")) return tikAdl;
    if (StartsWithNoCase(indexName, u"sys_In") && indexName.size() > 6 &&
        std::all_of(indexName.begin() + 6, indexName.end(), IsDigit) &&
        std::any_of(indexName.begin() + 6, indexName.end(), [](char16_t c) { return c != u'0'; })) {
      return tikAdl;
    }
    if (StartsWithNoCase(indexName, u"sys_")) return tikConstraint;
    if (indexName.starts_with(u"tmp")) return tikTemporary;
    return tikUser;
  }
  if (ext.empty() || VdbSameTextNoCase(ext, u".ind") || VdbSameTextNoCase(ext, u".$$i")) return tikUser;
  if (ext.size() == 4 && ext[1] == u'$') return tikTemporary;
  if (VdbSameTextNoCase(ext, u".inr") || VdbSameTextNoCase(ext, u".id")) return tikAdl;
  if (ext.size() == 4 && VdbSameTextNoCase(ext.substr(0, 3), u".in") && ext[3] >= u'1' && ext[3] <= u'9') {
    return tikAdl;
  }
  return tikUnknown;
}

bool VdbIsReservedIndexName(std::u16string_view indexName) {
  return StartsWithNoCase(indexName, u"sys") || StartsWithNoCase(indexName, u"tmpIdx");
}

namespace {
std::u16string OldSystemName(std::u16string_view tableFullName, std::u16string_view ext) {
  return std::u16string(tableFullName.substr(0, 40)) + std::u16string(ext);
}
}  // namespace

std::u16string VdbRecordIdIndexName(int level, std::u16string_view tableFullName) {
  return level >= 4 ? u"sys_Inr" : OldSystemName(tableFullName, u".inr");
}

std::u16string VdbIdIndexName(int level, std::u16string_view tableFullName) {
  return level >= 4 ? u"sys_Id" : OldSystemName(tableFullName, u".id");
}

std::u16string VdbLinkIndexName(int level, std::u16string_view tableFullName, int n) {
  const std::u16string digit(1, static_cast<char16_t>(u'0' + n));
  return level >= 4 ? u"sys_In" + digit : OldSystemName(tableFullName, u".in" + digit);
}

std::u16string VdbUniqueIndexName(int keyPosition) { return u"sys_Unique" + TwoDigits(keyPosition, 1); }

std::u16string VdbForeignKeyIndexName(std::u16string_view fk) { return u"sys_FK" + std::u16string(fk); }

std::u16string VdbReferentialIndexName(std::u16string_view rule) { return u"IR_" + std::u16string(rule); }

std::u16string VdbTempIndexName(int level, std::u16string_view stdName, int n) {
  if (level >= 4) return u"tmp" + TwoDigits(n, 3);
  return std::u16string(stdName) + u".$" + TwoDigits(n, 2);
}

}  // namespace vdb
