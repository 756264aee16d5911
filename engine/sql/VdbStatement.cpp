#include "sql/VdbStatement.h"

#include <algorithm>

#include "base/VdbErrorCodes.h"
#include "base/VdbErrors.h"
#include "base/VdbFormat.h"
#include "session/VdbCatalog.h"
#include "sql/VdbSqlParser.h"

namespace vdb {

namespace {

void AddUnique(std::vector<TVdbRltnIdx>& v, TVdbRltnIdx idx) {
  if (idx > 0 && std::find(v.begin(), v.end(), idx) == v.end()) v.push_back(idx);
}

}  // namespace

TVdbStatement::~TVdbStatement() { Unprepare(); }

void TVdbStatement::SetCommand(std::unique_ptr<TVdbCommand> command) {
  Unprepare();
  FCommands.clear();
  FCommands.push_back(std::move(command));
}

std::int16_t TVdbStatement::AddParameter(std::u16string_view name, std::int16_t type, std::int32_t spec) {
  if (FParameters.Find(name) != nullptr) {
    FLastError.SetLastError(errDuplicateIdentifier, {std::u16string(name)});
    return kVdbStmtDuplicateParameter;
  }
  const TVdbLastError::TGeneration start = FLastError.Generation();
  try {
    FParameters.Add(std::u16string(name), type, spec);
  } catch (const EVdbEngine& e) {
    return FLastError.SetLastErrorSince(e, start);
  }
  return 0;
}

std::int16_t TVdbStatement::SetParamValue(std::u16string_view name, std::u16string_view text, std::int32_t size) {
  if (FParameters.Find(name) == nullptr) {
    FLastError.SetLastError(errUnknownIdentifier, {std::u16string(name)});
    return kVdbStmtConversion;
  }
  try {
    FParameters.SetFromText(name, text, size);
  } catch (const EVdbEngine& e) {
    FLastError.SetLastError(e);
    return kVdbStmtEngineConversion;
  } catch (const std::exception&) {
    const TVdbSqlVariable* v = FParameters.Find(name);
    const std::u16string type = v && v->Type ? v->Type->SqlName() : u"?";
    FLastError.SetLastError(errTypeMismatch, {u"\"" + std::u16string(text) + u"\"->" + type});
    return kVdbStmtConversion;
  }
  return 0;
}

std::int16_t TVdbStatement::SetParamValue(std::u16string_view name, const TVdbDataValue& value,
                                          const TVdbDataType& type) {
  if (FParameters.Find(name) == nullptr) {
    FLastError.SetLastError(errUnknownIdentifier, {std::u16string(name)});
    return kVdbStmtUnknownParameter;
  }
  try {
    FParameters.SetValue(name, value, type);
  } catch (const EVdbEngine& e) {
    FLastError.SetLastError(e);
    return kVdbStmtEngineConversion;
  }
  return 0;
}

std::int16_t TVdbStatement::SetText(std::u16string_view text) {
  Unprepare();
  FCommands.clear();
  FLastErrorRow = 0;
  FLastErrorCol = 0;
  TSqlParser parser;
  parser.SetOdbcCompatible(FCompat > 0);
  parser.SetAllowLocalFormats(false);
  parser.SetStatementText(std::u16string(text));
  try {
    for (auto c = parser.ParseFirstStatement(); c; c = parser.ParseNextStatement()) {
      FCommands.push_back(VdbCreateCommand(FCatalog, *c));
    }
  } catch (const EVdbCompilerError& e) {
    // The commands parsed before the error stay.
    FLastErrorRow = e.LineNo();
    FLastErrorCol = e.CharNo();
    FLastError.SetLastError(e);
    return kVdbStmtSyntaxError;
  } catch (const EVdbEngine& e) {
    FLastError.SetLastError(e);
    return kVdbStmtSyntaxError;
  }
  return 0;
}

std::int16_t TVdbStatement::Prepare(TVdbCursorType cursorType) {
  Unprepare();
  FRequestedCursorType = cursorType;
  const TVdbLastError::TGeneration start = FLastError.Generation();
  try {
    for (auto& c : FCommands) c->Prepare(FParameters);
  } catch (const EVdbEngine& e) {
    const std::int16_t r = FLastError.SetLastErrorSince(e, start);
    Unprepare();
    return r;
  } catch (const std::exception& e) {
    FLastError.SetLastError(errUnknown, {VdbUtf8ToUtf16(e.what())});
    Unprepare();
    return -errUnknown;
  }
  FPrepared = true;
  return 0;
}

void TVdbStatement::Unprepare() {
  for (auto& c : FCommands) c->Unprepare();
  FPrepared = false;
}

TVdbRltnIdx TVdbStatement::GetResultRltnIdx() const {
  for (auto it = FCommands.rbegin(); it != FCommands.rend(); ++it)
    if ((*it)->IsQuery()) return (*it)->ResultRltnIdx();
  return 0;
}

std::int32_t TVdbStatement::Execute() {
  // Nothing is touched; there is no engine error to record.
  if (!FPrepared) return kVdbStmtNotPrepared;
  TVdbTouchedRelations touched;
  for (auto& c : FCommands) c->GetTouchedRelations(touched);
  std::vector<TVdbRltnIdx> reads, writes;
  auto managed = [&](TVdbRltnIdx idx) {
    return std::find(touched.Managed.begin(), touched.Managed.end(), idx) != touched.Managed.end();
  };
  for (TVdbRltnIdx idx : touched.Write)
    if (!managed(idx)) AddUnique(writes, idx);
  for (TVdbRltnIdx idx : touched.Read)
    if (!managed(idx) && std::find(writes.begin(), writes.end(), idx) == writes.end()) AddUnique(reads, idx);

  // Write locks first, then read locks; what was taken is given back when one fails.
  std::vector<TVdbRelation*> writeLocked, readLocked;
  auto release = [&]() {
    for (auto it = readLocked.rbegin(); it != readLocked.rend(); ++it) static_cast<void>((*it)->EndRead());
    for (auto it = writeLocked.rbegin(); it != writeLocked.rend(); ++it) static_cast<void>((*it)->EndWrite());
    readLocked.clear();
    writeLocked.clear();
  };
  for (TVdbRltnIdx idx : writes) {
    TVdbRelation* r = FCatalog.GetRelation(idx);
    if (r == nullptr || r->WaitWrite() < 0) {
      release();
      return kVdbStmtLocksUnavailable;
    }
    writeLocked.push_back(r);
  }
  for (TVdbRltnIdx idx : reads) {
    TVdbRelation* r = FCatalog.GetRelation(idx);
    if (r == nullptr || r->WaitRead() < 0) {
      release();
      return kVdbStmtLocksUnavailable;
    }
    readLocked.push_back(r);
  }

  std::int32_t sum = 0;
  bool failed = false;
  const TVdbLastError::TGeneration start = FLastError.Generation();
  try {
    for (auto& c : FCommands) sum += c->Execute();
  } catch (const EVdbEngine& e) {
    FLastError.SetLastErrorSince(e, start);
    failed = true;
  } catch (const std::exception& e) {
    FLastError.SetLastError(errUnknown, {VdbUtf8ToUtf16(e.what())});
    failed = true;
  }
  release();
  return failed ? kVdbStmtFailed : sum;
}

}  // namespace vdb
