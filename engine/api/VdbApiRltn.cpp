// Exported functions for the tables of a session (opening, creating, deleting) and for
// relations (names, definitions, indexes).
#include <algorithm>
#include <span>

#include "api/VdbApiHandles.h"
#include "base/VdbErrorCodes.h"
#include "tables/VdbBaseTable.h"

using namespace vdb;
using namespace vdb::api;

namespace {

// Opening results of the catalog as statuses.
std::int16_t OpenTableStatus(std::int16_t engineCode) {
  if (engineCode == errTooManyTables) return stsOutOfMemory;
  if (engineCode == errInvalidCredentials) return stsWrongPassword;
  return stsCannotOpenTable;
}
constexpr TVdbApiFailure kOpenTableFailure{stsCannotOpenTable, stsInternalError, &OpenTableStatus};

TVdbBaseTable& StoredTable(TVdbRelation& relation) {
  auto* table = dynamic_cast<TVdbBaseTable*>(&relation);
  if (table == nullptr)
    RaiseEngineError(errNotSupported, {u"this operation on relation \"" + relation.GetName() + u"\""});
  return *table;
}

// Opens `name` in the catalog; while the key is wrong and a password callback is installed,
// asks it for another key. The slot, or the negated engine code (recorded).
std::int16_t OpenWithPasswords(TApiSession& s, const std::u16string& name, std::u16string key, std::uint16_t rights,
                               bool force) {
  TVdbCatalog& catalog = s.Session.Catalog();
  s.OpeningTable = name;
  std::int16_t r = catalog.OpenTable(name, key, rights, force);
  while (r == -errInvalidCredentials && s.PasswordCallback != nullptr && catalog.PasswordCallback) {
    std::u16string buffer(512, u'X');
    buffer[255] = 0;
    if (catalog.PasswordCallback(std::span<char16_t>(buffer.data(), buffer.size())) != 0) break;
    VdbWipe(key.data(), key.size() * sizeof(char16_t));
    key.assign(buffer.c_str());
    VdbWipe(buffer.data(), buffer.size() * sizeof(char16_t));
    r = catalog.OpenTable(name, key, rights, force);
  }
  VdbWipe(key.data(), key.size() * sizeof(char16_t));
  s.OpeningTable.clear();
  return r;
}

// The file of a table name of this database: a name with an absolute directory stays as it
// is; any other name, a relative directory included, lies under the database directory.
std::u16string TablePath(TApiSession& s, const std::u16string& name) {
  if (!name.empty() && name.front() == u'/') return name;
  return s.Session.Catalog().Location() + u"/" + name;
}

TVdbNewColumn ColumnOfSpec(const TVdbFieldSpec& spec) {
  TVdbNewColumn c;
  c.Name = FromArray(spec.Name);
  c.ColumnType = static_cast<TVdbColumnType>(spec.FldType);
  c.Options = spec.Options;
  c.Nullable = (spec.Options & coNullable) != 0;
  c.Calculation = FromArray(spec.RangeOrFormula);
  const std::u16string select = FromArray(spec.SelectOrLink);
  switch (c.ColumnType) {
    case vctString:
    case vctWideString:
    case vctFixedBinary:
      c.Length = spec.Param;
      c.CollationName = c.ColumnType == vctFixedBinary ? std::u16string() : select;
      break;
    case vctMemo:
    case vctWideMemo:
      c.CollationName = select;
      break;
    case vctFloat:
      c.Scale = spec.Param;
      break;
    case vctTime:
      c.Precision = spec.Param;
      break;
    case vctEnum:
      c.EnumNames = select;
      break;
    case vctRecordId:
      c.IndexSpec = select;
      break;
    case vctLink:
    case vctRelation:
      c.LinkedTable = select;
      break;
    default:
      break;
  }
  return c;
}

std::u16string Joined(const std::vector<std::u16string>& items, char16_t separator) {
  std::u16string out;
  for (const auto& item : items) {
    if (!out.empty()) out += separator;
    out += item;
  }
  return out;
}

// The progress procedure of a caller as the engine's progress function. The procedure is
// foreign code: a cancel (1) or anything it throws ends the operation with "Operation canceled".
TVdbProgressFunc ProgressOf(TVdbProgressProc proc) {
  if (proc == nullptr) return {};
  return [proc](std::int64_t done, std::int64_t total) {
    int32_t answer = 0;
    try {
      answer = proc(static_cast<int32_t>(std::clamp<std::int64_t>(done, 0, INT32_MAX)),
                    static_cast<int32_t>(std::clamp<std::int64_t>(total, 0, INT32_MAX)));
    } catch (...) {
      answer = 1;
    }
    if (answer == 1) RaiseEngineError(errCanceled);
  };
}

}  // namespace

extern "C" {

// ---- tables of a session

VDBAPI TVdbResult VdbSessOpenTable(int16_t SessHdl, const VdbChar* TableName, const VdbChar* Key, uint16_t Rights,
                                   bool WithRelTables, bool Force) {
  static_cast<void>(WithRelTables);  // relation columns, whose tables this would open, are not served
  return CallSession<TVdbResult>(
      SessHdl, true,
      [&](TApiSession& s) -> TVdbResult {
        const std::u16string name = FromCaller(TableName);
        if ((Rights & VDB_RIGHT_EXCLUSIVE) != 0 && !TApiRegistry::Instance().FileSystem().SupportsExclusiveFiles()) {
          s.Session.LastError().SetLastError(errFeatureNotAtLevel, {name, u"Exlusive"});
          return stsEngineError;
        }
        const std::int16_t r = OpenWithPasswords(s, name, FromCaller(Key), Rights, Force);
        if (r < 0) return OpenTableStatus(static_cast<std::int16_t>(-r));
        return static_cast<TVdbResult>(s.Session.Catalog().CalcRltnHdl(r));
      },
      kOpenTableFailure);
}

VDBAPI TVdbResult VdbSessAddTable(int16_t SessHdl, const VdbChar* TablePath) {
  return CallSession<TVdbResult>(
      SessHdl, true,
      [&](TApiSession& s) -> TVdbResult {
        const std::int16_t r = OpenWithPasswords(s, FromCaller(TablePath), u"", kVdbRightsWriteMask, false);
        if (r < 0) return OpenTableStatus(static_cast<std::int16_t>(-r));
        return static_cast<TVdbResult>(s.Session.Catalog().CalcRltnHdl(r));
      },
      kOpenTableFailure);
}

VDBAPI TVdbResult VdbSessRemoveTable(int16_t SessHdl, const VdbChar* TableName) {
  return CallSession<TVdbResult>(SessHdl, true, [&](TApiSession& s) -> TVdbResult {
    TVdbCatalog& catalog = s.Session.Catalog();
    const TVdbRltnIdx idx = catalog.FindRltnIdx(ViewFromCaller(TableName));
    if (idx <= 0) return 0;
    return catalog.TryCloseRelation(idx) < 0 ? stsCannotCloseRelation : 0;
  });
}

VDBAPI TVdbResult VdbSessFindRltnHdl(int16_t SessHdl, const VdbChar* Name) {
  return CallSession<TVdbResult>(SessHdl, true, [&](TApiSession& s) -> TVdbResult {
    const TVdbRltnIdx idx = s.Session.Catalog().FindRltnIdx(ViewFromCaller(Name));
    return idx > 0 ? static_cast<TVdbResult>(s.Session.Catalog().CalcRltnHdl(idx)) : TVdbResult{0};
  });
}

VDBAPI int32_t VdbSessGetTableNames(int16_t SessHdl, VdbChar* TableNames, int32_t MaxLen) {
  return CallSession<int32_t>(SessHdl, true, [&](TApiSession& s) -> int32_t {
    const std::u16string list = Joined(s.Session.Catalog().GetTableNames(), u';');
    CopyToCallerBuffer(list, TableNames, MaxLen);
    return static_cast<int32_t>(list.size());
  });
}

VDBAPI TVdbResult VdbSessExistsTable(int16_t SessHdl, const VdbChar* TableName) {
  return CallSession<TVdbResult>(SessHdl, true, [&](TApiSession& s) -> TVdbResult {
    return s.Session.Catalog().ExistsTable(ViewFromCaller(TableName)) ? 1 : 0;
  });
}

VDBAPI TVdbResult VdbSessCreateTable(int16_t SessHdl, const TVdbTableInfo* TableInfo, const VdbChar* Password,
                                     int32_t FieldCount, const TVdbFieldSpec* FieldSpecs, int32_t KeyCount,
                                     const TVdbKeySpec* KeySpecs, int32_t CheckCount, const TVdbCheckSpec* CheckSpecs,
                                     int32_t IntegrityRuleCount, const TVdbIntegrityRuleSpec* IntegrityRuleSpecs) {
  constexpr TVdbApiFailure kCreateFailure{stsCannotCreateTable, stsCannotCreateTable, nullptr};
  return CallSession<TVdbResult>(
      SessHdl, true,
      [&](TApiSession& s) -> TVdbResult {
        if (TableInfo == nullptr || FieldCount < 0 || KeyCount < 0 || CheckCount < 0 || IntegrityRuleCount < 0 ||
            (FieldCount > 0 && FieldSpecs == nullptr) || (KeyCount > 0 && KeySpecs == nullptr) ||
            (CheckCount > 0 && CheckSpecs == nullptr) || (IntegrityRuleCount > 0 && IntegrityRuleSpecs == nullptr)) {
          RaiseEngineError(errInvalidParameterValue, {u"table definition"});
        }
        const std::u16string name = FromArray(TableInfo->FileName);
        TVdbNewTable t;
        t.Path = TablePath(s, name);
        t.Level = TableInfo->Level > 0 ? TableInfo->Level : VDB_NEW_TABLE_LEVEL;
        if (TableInfo->Capacity > 0) t.Capacity = TableInfo->Capacity;
        t.CollationName = FromArray(TableInfo->Language);
        t.Key = FromCaller(Password);
        t.EncryptionMethod = EncryptionOfCaller(TableInfo->EncryptionMethod, !t.Key.empty());
        for (const TVdbFieldSpec& spec : std::span(FieldSpecs, static_cast<std::size_t>(FieldCount))) {
          t.Columns.push_back(ColumnOfSpec(spec));
        }
        for (const TVdbKeySpec& key : std::span(KeySpecs, static_cast<std::size_t>(KeyCount))) {
          t.KeyDefs.Add(std::make_unique<TVdbCandidateKeyDef>(FromArray(key.Name), key.IsPrimaryKey,
                                                              VdbSplitColumnList(FromArray(key.Fields))));
        }
        for (const TVdbCheckSpec& check : std::span(CheckSpecs, static_cast<std::size_t>(CheckCount))) {
          t.CheckDefs.Add(std::make_unique<TVdbCheckDef>(FromArray(check.Name), FromArray(check.SearchCondition)));
        }
        for (const TVdbIntegrityRuleSpec& rule :
             std::span(IntegrityRuleSpecs, static_cast<std::size_t>(IntegrityRuleCount))) {
          auto fk = std::make_unique<TVdbForeignKeyDef>(FromArray(rule.Name));
          fk->ColumnNames = VdbSplitColumnList(FromArray(rule.IndexSpec));
          fk->ParentTableName = FromArray(rule.MasterTable);
          fk->ParentColumnNames = VdbSplitColumnList(FromArray(rule.MasterIndexSpec));
          fk->UpdateAction = static_cast<TVdbReferentialAction>(std::clamp<int>(rule.UpdateAction, 0, 3));
          fk->DeleteAction = static_cast<TVdbReferentialAction>(std::clamp<int>(rule.DeleteAction, 0, 3));
          t.ForeignKeyDefs.Add(std::move(fk));
        }
        TApiRegistry& registry = TApiRegistry::Instance();
        TVdbTableEnvironment env{registry.PageManager(), registry.FileSystem(), SessHdl, s.Session.LastError(),
                                 registry.Services()};
        env.Expressions = &VdbSqlCompiler();
        env.BlobBlockSize = s.Session.Settings().DefBlobBlockSize;
        {
          TVdbBaseTable table(env);
          table.SetIntegrityRules(&s.Session.Catalog().IntegrityRules());
          if (table.NewTable(t) < 0) return stsCannotCreateTable;
        }
        // The new table must open with every write right; it is closed again at once.
        const std::int16_t slot = s.Session.Catalog().OpenTable(t.Path, t.Key, kVdbRightsWriteMask);
        if (slot < 0) return stsCannotCreateTable;
        if (s.Session.Catalog().CloseRelation(slot) < 0) return stsCannotCreateTable;
        return 0;
      },
      kCreateFailure);
}

VDBAPI TVdbResult VdbSessDeleteTable(int16_t SessHdl, const VdbChar* PathName, const VdbChar* Key) {
  constexpr TVdbApiFailure kDeleteFailure{stsCannotDeleteTable, stsCannotDeleteTable, nullptr};
  return CallSession<TVdbResult>(
      SessHdl, true,
      [&](TApiSession& s) -> TVdbResult {
        const std::int16_t r = s.Session.Catalog().DeleteTable(ViewFromCaller(PathName), ViewFromCaller(Key));
        if (r < 0) return r == -errInvalidCredentials ? stsWrongPassword : stsCannotDeleteTable;
        return 0;
      },
      kDeleteFailure);
}

VDBAPI TVdbResult VdbSessRenameTable(int16_t SessHdl, const VdbChar* OldTableName, const VdbChar* NewTableName,
                                     const VdbChar* Key) {
  static_cast<void>(OldTableName);
  static_cast<void>(NewTableName);
  static_cast<void>(Key);
  return CallSession<TVdbResult>(
      SessHdl, true, [&](TApiSession&) -> TVdbResult { RaiseNotSupported(u"VdbSessRenameTable"); },
      kNotSupportedFailure);
}

VDBAPI TVdbResult VdbSessCheckTable(int16_t SessHdl, int16_t RltnHdl) {
  // A finding longer than this is cut; the column is wide, so no text is lost to a code page.
  constexpr std::int32_t kFindingChars = 250;
  return CallRelation<TVdbResult>(RltnHdl, [&](TApiSession& s, TVdbRelation& r, TVdbRltnIdx) -> TVdbResult {
    if (SessionOfRltnHdl(RltnHdl) != SessHdl) return stsInvalidRelationHandle;
    const std::vector<std::u16string> findings = StoredTable(r).VerifyTable();
    TVdbCatalog& catalog = s.Session.Catalog();
    TVdbNewColumn finding;
    finding.Name = u"Finding";
    finding.ColumnType = vctWideString;
    finding.Length = kFindingChars;
    const std::int16_t slot = catalog.CreateAndOpenTempTable(u"CheckResult", {finding});
    CheckStatus(slot);
    try {
      TVdbRelation& result = *catalog.GetRelation(slot);
      const TVdbColumnDef& column = result.ColumnDefs().GetColumnDef(0);
      std::vector<std::uint8_t> record(static_cast<std::size_t>(result.GetRecordSize()));
      for (const std::u16string& text : findings) {
        std::fill(record.begin(), record.end(), std::uint8_t{0});
        TVdbDataValue field;
        column.DataType()->SetReference(field, record, static_cast<std::size_t>(column.Position()));
        std::u16string_view cut(text);
        if (cut.size() > static_cast<std::size_t>(kFindingChars)) cut = cut.substr(0, kFindingChars);
        column.DataType()->SetWideString(field, cut);
        CheckStatus(result.AppendRecord(record, TVdbBlobDataList()));
      }
    } catch (...) {
      static_cast<void>(catalog.CloseRelation(slot));
      throw;
    }
    return static_cast<TVdbResult>(catalog.CalcRltnHdl(slot));
  });
}

VDBAPI TVdbResult VdbSessCloseUnneededTables(int16_t SessHdl) {
  return CallSession<TVdbResult>(SessHdl, true, [&](TApiSession& s) -> TVdbResult {
    return static_cast<TVdbResult>(CheckStatus(s.Session.Catalog().CloseUnneededTables(false, false)));
  });
}

// ---- relations

VDBAPI TVdbResult VdbRltnClose(int16_t RltnHdl) {
  constexpr TVdbApiFailure kCloseFailure{stsCannotDeleteTable, stsInternalError, nullptr};
  return CallRelation<TVdbResult>(
      RltnHdl,
      [&](TApiSession& s, TVdbRelation&, TVdbRltnIdx idx) -> TVdbResult {
        return s.Session.Catalog().TryCloseRelation(idx) < 0 ? stsCannotDeleteTable : 0;
      },
      kCloseFailure);
}

VDBAPI int32_t VdbRltnRecordCount(int16_t RltnHdl) {
  return CallRelation<int32_t>(RltnHdl, [&](TApiSession&, TVdbRelation& r, TVdbRltnIdx) -> int32_t {
    return std::max<std::int32_t>(r.GetRecordCount(), 0);
  });
}

VDBAPI TVdbResult VdbRltnGetName(int16_t RltnHdl, VdbChar* Name, int32_t TextLen, bool FullName) {
  return CallRelation<TVdbResult>(RltnHdl, [&](TApiSession&, TVdbRelation& r, TVdbRltnIdx) -> TVdbResult {
    CopyToCallerBuffer(FullName ? r.GetFullName() : r.GetName(), Name, TextLen);
    return 0;
  });
}

VDBAPI TVdbResult VdbRltnGetTableInfo(int16_t RltnHdl, TVdbTableInfo* TableInfo) {
  return CallRelation<TVdbResult>(
      RltnHdl,
      [&](TApiSession&, TVdbRelation& r, TVdbRltnIdx) -> TVdbResult {
        if (TableInfo == nullptr) return stsBufferTooSmall;
        TVdbBaseTable& table = StoredTable(r);
        *TableInfo = TVdbTableInfo{};
        CopyToArray(table.GetFullName(), TableInfo->FileName);
        TableInfo->Level = static_cast<int16_t>(table.GetLevel());
        CopyToArray(table.CollationName(), TableInfo->Language);
        // The header codes are the caller's method numbers.
        TableInfo->EncryptionMethod = VdbEncryptionCode(table.EncryptionMethod());
        TableInfo->Capacity = table.GetCapacity();
        return 0;
      },
      kNotSupportedFailure);
}

VDBAPI TVdbResult VdbRltnGetInfo(int16_t RltnHdl, TVdbRltnInfo* RltnInfo) {
  return CallRelation<TVdbResult>(RltnHdl, [&](TApiSession&, TVdbRelation& r, TVdbRltnIdx) -> TVdbResult {
    if (RltnInfo == nullptr) return stsBufferTooSmall;
    *RltnInfo = TVdbRltnInfo{};
    RltnInfo->nRecs = std::max<std::int32_t>(r.GetRecordCount(), 0);
    RltnInfo->nFields = static_cast<uint16_t>(r.ColumnDefs().GetCount());
    RltnInfo->RecSize = static_cast<uint16_t>(r.GetRecordSize());
    if (auto* table = dynamic_cast<TVdbBaseTable*>(&r)) {
      TvuFileSystem& fs = TApiRegistry::Instance().FileSystem();
      std::vector<std::u16string> files;
      table->GetFileNames(files);
      std::int64_t total = 0;
      for (std::size_t i = 0; i < files.size(); ++i) {
        const TvuFileHandle h = fs.OpenFile(files[i], fmOpenRead | fmShareDenyNone);
        if (!TvuFileSystem::IsValidHandle(h)) continue;
        const std::int64_t size = fs.GetFileSize(h);
        fs.CloseFile(h);
        if (i == 0) RltnInfo->FSize = static_cast<int32_t>(std::min<std::int64_t>(size, INT32_MAX));
        total += size;
      }
      RltnInfo->TotalSize = static_cast<int32_t>(std::min<std::int64_t>(total, INT32_MAX));
    }
    RltnInfo->MemoOkay = r.HasMemo();
    RltnInfo->BlobOkay = r.HasBlob();
    return 0;
  });
}

VDBAPI int32_t VdbRltnGetIndexNames(int16_t RltnHdl, VdbChar* Names, int32_t MaxLen) {
  return CallRelation<int32_t>(RltnHdl, [&](TApiSession&, TVdbRelation& r, TVdbRltnIdx) -> int32_t {
    std::vector<std::u16string> names;
    for (TVdbIndexNo i = r.GetFirstIndexNo(); i <= r.GetLastIndexNo(); ++i) {
      if (std::u16string name = r.GetIndexName(i); !name.empty()) names.push_back(std::move(name));
    }
    const std::u16string list = Joined(names, u',');
    CopyToCallerBuffer(list, Names, MaxLen);
    return static_cast<int32_t>(list.size());
  });
}

VDBAPI TVdbResult VdbRltnGetIndexDesc(int16_t RltnHdl, const VdbChar* Name, VdbChar* Desc, int32_t MaxLen,
                                      bool Readable, bool IncludeLen) {
  return CallRelation<TVdbResult>(RltnHdl, [&](TApiSession&, TVdbRelation& r, TVdbRltnIdx) -> TVdbResult {
    const std::int16_t indexNo = r.GetIndexNo(ViewFromCaller(Name));
    if (indexNo < 0 || !r.CheckIndexOpen(indexNo, false)) return stsNoSuchIndex;
    const TVdbSortDef* def = r.GetIndexDef(indexNo);
    if (def == nullptr) return stsNoSuchIndex;
    CopyToCallerBuffer(def->CalcSpecification(r.ColumnDefs(), Readable, false, IncludeLen ? 2 : 0, false), Desc,
                       MaxLen);
    return 0;
  });
}

VDBAPI TVdbResult VdbRltnGetRealIndexName(int16_t RltnHdl, const VdbChar* Name, VdbChar* RealName, int32_t MaxLen) {
  return CallRelation<TVdbResult>(RltnHdl, [&](TApiSession&, TVdbRelation& r, TVdbRltnIdx) -> TVdbResult {
    const std::u16string real = r.GetRealIndexName(ViewFromCaller(Name));
    if (real.empty() || r.GetIndexNo(real) < 0) return stsNoSuchIndex;
    CopyToCallerBuffer(r.GetIndexName(r.GetIndexNo(real)), RealName, MaxLen);
    return 0;
  });
}

VDBAPI TVdbResult VdbRltnGetIndexInfo(int16_t RltnHdl, const VdbChar* Name, TVdbIndexInfoBlock* IndexInfo) {
  return CallRelation<TVdbResult>(RltnHdl, [&](TApiSession&, TVdbRelation& r, TVdbRltnIdx) -> TVdbResult {
    if (IndexInfo == nullptr) return stsBufferTooSmall;
    const std::int16_t indexNo = r.GetIndexNo(ViewFromCaller(Name));
    if (indexNo < 0 || !r.CheckIndexOpen(indexNo, false)) return stsNoSuchIndex;
    *IndexInfo = TVdbIndexInfoBlock{};
    CopyToArray(r.GetIndexName(indexNo), IndexInfo->Name);
    const std::int32_t entry = r.GetIndexFile(indexNo).GetIndSize();
    IndexInfo->KeySize = static_cast<uint16_t>(std::max<std::int32_t>(entry - 4, 0));
    IndexInfo->Order = static_cast<uint16_t>(r.GetIndexKeys(indexNo).ItemCount());
    if (auto* table = dynamic_cast<TVdbBaseTable*>(&r)) IndexInfo->Cap = table->GetCapacity();
    return 0;
  });
}

VDBAPI TVdbResult VdbRltnCreateIndex(int16_t RltnHdl, const VdbChar* Name, const VdbChar* Desc, bool MustBeUnique) {
  return CallRelation<TVdbResult>(RltnHdl, [&](TApiSession&, TVdbRelation& r, TVdbRltnIdx) -> TVdbResult {
    const std::int16_t created =
        StoredTable(r).CreateUserIndex(ViewFromCaller(Name), ViewFromCaller(Desc), MustBeUnique);
    if (created >= 0) return 0;
    switch (-created) {
      case errInconsistentIndexDefinition:
      case errInvalidIndexSpec:
      case errInvalidIndexName:
        return stsInvalidIndexDefinition;
      case errNotUnique:
        return stsNotUnique;
      default:
        return stsEngineError;
    }
  });
}

VDBAPI TVdbResult VdbRltnDeleteIndex(int16_t RltnHdl, const VdbChar* Name) {
  return CallRelation<TVdbResult>(RltnHdl, [&](TApiSession& s, TVdbRelation& r, TVdbRltnIdx) -> TVdbResult {
    s.Session.LastError().ClearLastError();
    const std::int16_t indexNo = r.GetIndexNo(ViewFromCaller(Name));
    if (indexNo < 0) return stsNoSuchIndex;
    const std::int16_t deleted = StoredTable(r).DeleteIndex(indexNo);
    if (deleted >= 0) return 0;
    return deleted == -errIndexInUse ? stsIndexInUse : stsCannotDeleteIndex;
  });
}

VDBAPI TVdbResult VdbRltnRefreshIndex(int16_t RltnHdl, const VdbChar* IndexName, TVdbProgressProc ProgFun) {
  return CallRelation<TVdbResult>(RltnHdl, [&](TApiSession&, TVdbRelation& r, TVdbRltnIdx) -> TVdbResult {
    const std::u16string_view name = ViewFromCaller(IndexName);
    if (!name.empty() && r.GetIndexNo(name) < 0) return stsNoSuchIndex;
    // One index cannot be rebuilt on its own yet: rebuilding all of them includes it.
    CheckStatus(StoredTable(r).RegenIndex(ProgressOf(ProgFun)));
    return 0;
  });
}

VDBAPI TVdbResult VdbRltnRestructure(int16_t RltnHdl, const TVdbTableInfo* TableInfo, int32_t FieldCount,
                                     const TVdbFieldSpec* FieldSpecs, int32_t KeyCount, const TVdbKeySpec* KeySpecs,
                                     int32_t CheckCount, const TVdbCheckSpec* CheckSpecs, int32_t IntegrityRuleCount,
                                     const TVdbIntegrityRuleSpec* IntegrityRuleSpecs, TVdbProgressProc ProgFun) {
  static_cast<void>(TableInfo);
  static_cast<void>(FieldCount);
  static_cast<void>(FieldSpecs);
  static_cast<void>(KeyCount);
  static_cast<void>(KeySpecs);
  static_cast<void>(CheckCount);
  static_cast<void>(CheckSpecs);
  static_cast<void>(IntegrityRuleCount);
  static_cast<void>(IntegrityRuleSpecs);
  static_cast<void>(ProgFun);
  return CallRelation<TVdbResult>(
      RltnHdl,
      [&](TApiSession&, TVdbRelation&, TVdbRltnIdx) -> TVdbResult { RaiseNotSupported(u"VdbRltnRestructure"); },
      kNotSupportedFailure);
}

// Check constraints and foreign keys of stored tables; other relations have none.
VDBAPI TVdbResult VdbRltnGetCheckCount(int16_t RltnHdl) {
  return CallRelation<TVdbResult>(RltnHdl, [&](TApiSession&, TVdbRelation& r, TVdbRltnIdx) -> TVdbResult {
    auto* table = dynamic_cast<TVdbBaseTable*>(&r);
    return table == nullptr ? TVdbResult{0} : static_cast<TVdbResult>(table->CheckDefs().GetCount());
  });
}

VDBAPI TVdbResult VdbRltnGetCheckSpec(int16_t RltnHdl, int32_t CheckNo, TVdbCheckSpec* CheckSpec) {
  return CallRelation<TVdbResult>(
      RltnHdl,
      [&](TApiSession&, TVdbRelation& r, TVdbRltnIdx) -> TVdbResult {
        auto* table = dynamic_cast<TVdbBaseTable*>(&r);
        if (table == nullptr || CheckNo < 1 || CheckNo > table->CheckDefs().GetCount()) {
          RaiseEngineError(errInvalidParameterValue, {VdbUtf8ToUtf16(std::to_string(CheckNo))});
        }
        if (CheckSpec == nullptr) return stsBufferTooSmall;
        const TVdbCheckDef& check = table->CheckDefs().GetNamedDef(CheckNo - 1);
        *CheckSpec = TVdbCheckSpec{};
        CopyToArray(check.Name(), CheckSpec->Name);
        CopyToArray(check.ConditionText(), CheckSpec->SearchCondition);
        return 0;
      },
      kNotSupportedFailure);
}

VDBAPI TVdbResult VdbRltnGetIntegrityRuleCount(int16_t RltnHdl) {
  return CallRelation<TVdbResult>(RltnHdl, [&](TApiSession&, TVdbRelation& r, TVdbRltnIdx) -> TVdbResult {
    auto* table = dynamic_cast<TVdbBaseTable*>(&r);
    return table == nullptr ? TVdbResult{0} : static_cast<TVdbResult>(table->ForeignKeyDefs().GetCount());
  });
}

VDBAPI TVdbResult VdbRltnGetIntegrityRuleSpec(int16_t RltnHdl, int32_t RuleNo, TVdbIntegrityRuleSpec* RuleSpec) {
  return CallRelation<TVdbResult>(
      RltnHdl,
      [&](TApiSession&, TVdbRelation& r, TVdbRltnIdx) -> TVdbResult {
        auto* table = dynamic_cast<TVdbBaseTable*>(&r);
        if (table == nullptr || RuleNo < 1 || RuleNo > table->ForeignKeyDefs().GetCount()) {
          RaiseEngineError(errInvalidParameterValue, {VdbUtf8ToUtf16(std::to_string(RuleNo))});
        }
        if (RuleSpec == nullptr) return stsBufferTooSmall;
        const TVdbForeignKeyDef& fk = table->ForeignKeyDefs().GetNamedDef(RuleNo - 1);
        *RuleSpec = TVdbIntegrityRuleSpec{};
        CopyToArray(fk.Name(), RuleSpec->Name);
        CopyToArray(fk.ParentTableName, RuleSpec->MasterTable);
        CopyToArray(VdbJoinColumnList(fk.ParentColumnNames), RuleSpec->MasterIndexSpec);
        CopyToArray(VdbJoinColumnList(fk.ColumnNames), RuleSpec->IndexSpec);
        RuleSpec->UpdateAction = static_cast<int16_t>(fk.UpdateAction);
        RuleSpec->DeleteAction = static_cast<int16_t>(fk.DeleteAction);
        return 0;
      },
      kNotSupportedFailure);
}

VDBAPI TVdbResult VdbRltnGetMasterLink(int16_t RltnHdl, VdbChar* MasterLink, int32_t MaxLen) {
  // Master/detail links are not served: no relation has a master.
  return CallRelation<TVdbResult>(RltnHdl, [&](TApiSession&, TVdbRelation&, TVdbRltnIdx) -> TVdbResult {
    CopyToCallerBuffer(u"", MasterLink, MaxLen);
    return 0;
  });
}

VDBAPI TVdbResult VdbRltnGetParentRltn(int16_t RltnHdl) {
  return CallRelation<TVdbResult>(RltnHdl, [&](TApiSession&, TVdbRelation&, TVdbRltnIdx) -> TVdbResult { return 0; });
}

VDBAPI TVdbResult VdbRltnGetRelationTableName(int16_t RltnHdl, const VdbChar* FieldName, VdbChar* TableName,
                                              int32_t MaxLen) {
  static_cast<void>(FieldName);
  static_cast<void>(TableName);
  static_cast<void>(MaxLen);
  return CallRelation<TVdbResult>(
      RltnHdl,
      [&](TApiSession&, TVdbRelation&, TVdbRltnIdx) -> TVdbResult {
        RaiseNotSupported(u"VdbRltnGetRelationTableName");
      },
      kNotSupportedFailure);
}

VDBAPI TVdbResult VdbRltnActivateEditLocks(int16_t RltnHdl, bool Value) {
  return CallRelation<TVdbResult>(
      RltnHdl,
      [&](TApiSession&, TVdbRelation& r, TVdbRltnIdx) -> TVdbResult {
        StoredTable(r).Locks().ActivateEditLocks(Value);
        return 0;
      },
      kNotSupportedFailure);
}

VDBAPI TVdbResult VdbRltnRecalcAutoInc(int16_t RltnHdl) {
  return CallRelation<TVdbResult>(RltnHdl, [&](TApiSession&, TVdbRelation& r, TVdbRltnIdx) -> TVdbResult {
    if (!r.HasRecordId()) return stsNoRecordIdColumn;
    CheckStatus(StoredTable(r).RecalcAutoInc());
    return 0;
  });
}

// ---- full-text indexes: not served

#define VDB_FULLTEXT_NOT_SUPPORTED(R, name)                                                                     \
  return CallRelation<R>(                                                                                       \
      RltnHdl,                                                                                                  \
      [&](TApiSession&, TVdbRelation&, TVdbRltnIdx) -> R { RaiseNotSupported(u"full-text index (" name ")"); }, \
      kNotSupportedFailure)

VDBAPI TVdbResult VdbRltnCreateFullTextIndex(int16_t RltnHdl, const VdbChar*, const VdbChar*) {
  VDB_FULLTEXT_NOT_SUPPORTED(TVdbResult, u"VdbRltnCreateFullTextIndex");
}
VDBAPI TVdbResult VdbRltnCreateFullTextIndex2(int16_t RltnHdl, const VdbChar*, const VdbChar*, int32_t) {
  VDB_FULLTEXT_NOT_SUPPORTED(TVdbResult, u"VdbRltnCreateFullTextIndex2");
}
VDBAPI TVdbResult VdbRltnRefreshFullTextIndex(int16_t RltnHdl, const VdbChar*, TVdbProgressProc) {
  VDB_FULLTEXT_NOT_SUPPORTED(TVdbResult, u"VdbRltnRefreshFullTextIndex");
}
VDBAPI TVdbResult VdbRltnDeleteFulltextIndex(int16_t RltnHdl, const VdbChar*) {
  VDB_FULLTEXT_NOT_SUPPORTED(TVdbResult, u"VdbRltnDeleteFulltextIndex");
}
VDBAPI TVdbResult VdbRltnGetFullTextIndexCount(int16_t RltnHdl) {
  VDB_FULLTEXT_NOT_SUPPORTED(TVdbResult, u"VdbRltnGetFullTextIndexCount");
}
VDBAPI TVdbResult VdbRltnGetFulltextIndexSpec(int16_t RltnHdl, int32_t, VdbChar*, int32_t) {
  VDB_FULLTEXT_NOT_SUPPORTED(TVdbResult, u"VdbRltnGetFulltextIndexSpec");
}
VDBAPI int32_t VdbRltnFullTextIndexGetIndexNames(int16_t RltnHdl, VdbChar*, int32_t) {
  VDB_FULLTEXT_NOT_SUPPORTED(int32_t, u"VdbRltnFullTextIndexGetIndexNames");
}
VDBAPI int32_t VdbRltnFullTextIndexGetRelationNames(int16_t RltnHdl, const VdbChar*, VdbChar*, int32_t) {
  VDB_FULLTEXT_NOT_SUPPORTED(int32_t, u"VdbRltnFullTextIndexGetRelationNames");
}

#undef VDB_FULLTEXT_NOT_SUPPORTED

}  // extern "C"
