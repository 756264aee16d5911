// The helper program of the multi-process tests, the stress script and the benchmark: one
// process working on the table "Shared" of a database directory through the call interface
// only, as a second program would. The tests start several, hold them with files, signal
// and kill them.
//
//   vdb_lock_helper <dir> create
//       creates "Shared" (ID integer, N integer, NAME string 30, index NAMEIDX on NAME) with
//       one counter record (NAME "counter", N 0)
//   vdb_lock_helper <dir> append <tag> <count> [txn <batch>]
//       appends NAME "<tag>-<i>", N i; with txn, <batch> appends per transaction
//   vdb_lock_helper <dir> increment <count> [txn]
//       adds 1 to the counter record <count> times (edit, read, write), each in a transaction
//       with txn
//   vdb_lock_helper <dir> hold <tag> <count> <readyfile> <gofile> [commit|rollback]
//       appends in a transaction, creates <readyfile>, waits for <gofile>, ends the transaction
//   vdb_lock_helper <dir> hang <tag> <readyfile>
//       appends in a transaction forever (the test kills it), <readyfile> after the first
//   vdb_lock_helper <dir> read <readyfile> <gofile> <outfile>
//       waits for <gofile> after creating <readyfile>, then writes the record count and the
//       names it sees to <outfile> (-47 when the table stays locked)
//   vdb_lock_helper <dir> stress <tag> <seed> <steps> <logfile> [1]
//       two sessions (one with 1) doing random appends, edits and deletes in transactions; every committed
//       operation is logged (one line each) for the parent's model
//   vdb_lock_helper <dir> delete <recno>
//       deletes record <recno> (the last record moves into its place)
//   vdb_lock_helper <dir> index <name> <columns>
//       creates the index <name> on <columns> while other programs have the table open
//   vdb_lock_helper <dir> editlock <recno> <readyfile> <gofile>
//       holds record <recno> in edit from <readyfile> until <gofile>, then cancels the edit
//   vdb_lock_helper <dir> writelock <readyfile> <gofile>
//       holds the table's write lock from <readyfile> until <gofile>
//   vdb_lock_helper <dir> verify
//       prints "records <n>" and one name per line; exits 1 when the table check reports a
//       problem, a record is blank or an index disagrees with the data
//
// Exit codes: 0 done, 1 a check failed, 2 usage, 3 an engine call failed (its message on
// stderr).
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "vidoradb/vdbapi.h"

namespace {

std::u16string U16(const std::string& s) { return std::u16string(s.begin(), s.end()); }
const VdbChar* W(const std::u16string& s) { return reinterpret_cast<const VdbChar*>(s.c_str()); }

std::string Utf8(const std::vector<VdbChar>& b) {
  std::string out;
  for (VdbChar c : b) {
    if (c == 0) break;
    out.push_back(c < 128 ? static_cast<char>(c) : '?');
  }
  return out;
}

int16_t gSess = 0;

[[noreturn]] void Fail(const std::string& what, int result) {
  int32_t code = 0;
  std::vector<VdbChar> msg(512, 0);
  VdbSessGetLastError(gSess, &code, msg.data(), static_cast<int32_t>(msg.size()));
  std::cerr << "helper " << ::getpid() << ": " << what << " = " << result << " (engine " << code << ": " << Utf8(msg)
            << ")" << std::endl;
  std::_Exit(3);
}

int Check(const std::string& what, int result) {
  if (result < 0) Fail(what, result);
  return result;
}

void Touch(const std::string& path) { std::ofstream(path) << "1"; }
void WaitFor(const std::string& path) {
  while (!std::filesystem::exists(path)) std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

int16_t OpenSession(const std::string& dir) {
  const int16_t sess = VdbCreateSession(W(u""));
  if (sess <= 0) Fail("VdbCreateSession", sess);
  gSess = sess;
  TVdbNetParams params;
  Check("VdbSessGetDefaultNetParams", VdbSessGetDefaultNetParams(sess, &params));
  const std::u16string priv = U16(dir + "/private-" + std::to_string(::getpid()));
  std::memcpy(params.PrivateDir, priv.c_str(), (priv.size() + 1) * sizeof(VdbChar));
  Check("VdbSessSetNetParams", VdbSessSetNetParams(sess, &params));
  Check("VdbSessOpenDb", VdbSessOpenDb(sess, W(U16(dir)), W(u""), W(u""), 0, 0));
  return sess;
}

struct TTable {
  int16_t Sess = 0;
  int16_t Rltn = 0;
  int16_t Hdl = 0;
  TVdbFieldSpec Id{}, N{}, Name{};
  std::vector<uint8_t> Record;

  void Open(int16_t sess) {
    Sess = sess;
    gSess = sess;
    Rltn = static_cast<int16_t>(Check("VdbSessOpenTable", VdbSessOpenTable(sess, W(u"Shared"), W(u""), VDB_RIGHTS_WRITE, false, false)));
    Hdl = static_cast<int16_t>(Check("VdbTableCreate", VdbTableCreate(Rltn, W(u"Shared"))));
    Check("spec", VdbTableGetFieldSpec(Hdl, 1, &Id));
    Check("spec", VdbTableGetFieldSpec(Hdl, 2, &N));
    Check("spec", VdbTableGetFieldSpec(Hdl, 3, &Name));
    Record.assign(static_cast<std::size_t>(Check("size", VdbTableGetRecordSize(Hdl))), 0);
  }
  static void SetInt(std::vector<uint8_t>& r, const TVdbFieldSpec& f, int32_t v) {
    uint8_t* p = r.data() + f.InternalPosition;
    std::memset(p, 0, f.InternalSize);
    if (f.InternalSize == 5) *p++ = 1;
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i));
  }
  static int32_t GetInt(const std::vector<uint8_t>& r, const TVdbFieldSpec& f) {
    const uint8_t* p = r.data() + f.InternalPosition + (f.InternalSize == 5 ? 1 : 0);
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(p[i]) << (8 * i);
    return static_cast<int32_t>(v);
  }
  static void SetText(std::vector<uint8_t>& r, const TVdbFieldSpec& f, const std::string& s) {
    const int header = f.InternalSize - f.Param;
    uint8_t* p = r.data() + f.InternalPosition;
    std::memset(p, 0, f.InternalSize);
    if (header == 2) p[0] = 1;
    p[header - 1] = static_cast<uint8_t>(s.size());
    std::memcpy(p + header, s.data(), s.size());
  }
  static std::string GetText(const std::vector<uint8_t>& r, const TVdbFieldSpec& f) {
    const int header = f.InternalSize - f.Param;
    const uint8_t* p = r.data() + f.InternalPosition;
    if (header == 2 && p[0] == 0) return {};
    return std::string(reinterpret_cast<const char*>(p + header), p[header - 1]);
  }
  void Read() {
    Check("VdbTableGetRecord", VdbTableGetRecord(Hdl, Record.data(), static_cast<int32_t>(Record.size())));
  }
  void Append(const std::string& name, int32_t n) {
    Check("VdbTableAppend", VdbTableAppend(Hdl));
    std::vector<uint8_t> r(Record.size(), 0);
    SetInt(r, Id, n);
    SetInt(r, N, n);
    SetText(r, Name, name);
    Check("VdbTableSetRecord", VdbTableSetRecord(Hdl, r.data(), static_cast<int32_t>(r.size())));
    Check("VdbTableAppendConfirm", VdbTableAppendConfirm(Hdl));
  }
  // Edits the current record with `change`; a record another session edits is waited for.
  template <class F>
  void Edit(F&& change) {
    int r;
    while ((r = VdbTableEdit(Hdl)) < 0) {
      if (r != VDB_ERR_TABLE_LOCKED && r != -31 && r != VDB_ERR_ENGINE) Fail("VdbTableEdit", r);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    Read();
    change(Record);
    Check("VdbTableSetRecord", VdbTableSetRecord(Hdl, Record.data(), static_cast<int32_t>(Record.size())));
    Check("VdbTableEditConfirm", VdbTableEditConfirm(Hdl));
  }
};

int Create(const std::string& dir) {
  const int16_t sess = OpenSession(dir);
  TVdbFieldSpec fields[3] = {};
  const char16_t* names[3] = {u"ID", u"N", u"NAME"};
  for (int i = 0; i < 3; ++i) {
    fields[i].No = static_cast<int16_t>(i + 1);
    std::u16string n(names[i]);
    std::copy(n.begin(), n.end(), fields[i].Name);
    fields[i].FldType = i < 2 ? VDB_TYPE_INTEGER : VDB_TYPE_STRING;
    fields[i].Param = i < 2 ? 0 : 30;
  }
  TVdbTableInfo info{};
  const std::u16string file = u"Shared";
  std::copy(file.begin(), file.end(), info.FileName);
  Check("VdbSessCreateTable", VdbSessCreateTable(sess, &info, W(u""), 3, fields, 0, nullptr, 0, nullptr, 0, nullptr));
  TTable t;
  t.Open(sess);
  Check("VdbRltnCreateIndex", VdbRltnCreateIndex(t.Rltn, W(u"NAMEIDX"), W(u"NAME"), false));
  t.Append("counter", 0);
  Check("VdbSessDelete", VdbSessDelete(sess));
  return 0;
}

void Transaction(int16_t sess, bool begin) {
  Check(begin ? "VdbSessBeginTransaction" : "VdbSessEndTransaction",
        begin ? VdbSessBeginTransaction(sess) : VdbSessEndTransaction(sess));
}

int Append(const std::string& dir, const std::string& tag, int count, int batch) {
  const int16_t sess = OpenSession(dir);
  TTable t;
  t.Open(sess);
  for (int i = 1; i <= count; ++i) {
    if (batch > 0 && (i - 1) % batch == 0) Transaction(sess, true);
    t.Append(tag + "-" + std::to_string(i), i);
    if (batch > 0 && (i % batch == 0 || i == count)) Transaction(sess, false);
  }
  Check("VdbSessDelete", VdbSessDelete(sess));
  return 0;
}

int Increment(const std::string& dir, int count, bool txn) {
  const int16_t sess = OpenSession(dir);
  TTable t;
  t.Open(sess);
  for (int i = 0; i < count; ++i) {
    if (txn) Transaction(sess, true);
    Check("VdbTableSetRecNo", VdbTableSetRecNo(t.Hdl, 1));
    t.Edit([&](std::vector<uint8_t>& r) { TTable::SetInt(r, t.N, TTable::GetInt(r, t.N) + 1); });
    if (txn) Transaction(sess, false);
  }
  Check("VdbSessDelete", VdbSessDelete(sess));
  return 0;
}

int Hold(const std::string& dir, const std::string& tag, int count, const std::string& ready, const std::string& go,
         bool commit) {
  const int16_t sess = OpenSession(dir);
  TTable t;
  t.Open(sess);
  Transaction(sess, true);
  for (int i = 1; i <= count; ++i) t.Append(tag + "-" + std::to_string(i), i);
  Touch(ready);
  WaitFor(go);
  Check("end", commit ? VdbSessEndTransaction(sess) : VdbSessCancelTransaction(sess));
  Check("VdbSessDelete", VdbSessDelete(sess));
  return 0;
}

int Hang(const std::string& dir, const std::string& tag, const std::string& ready) {
  const int16_t sess = OpenSession(dir);
  TTable t;
  t.Open(sess);
  Transaction(sess, true);
  for (int i = 1;; ++i) {
    t.Append(tag + "-" + std::to_string(i), i);
    if (i == 1) Touch(ready);
  }
}

// Writes the record count and the names of a walk of the whole table.
int Read(const std::string& dir, const std::string& ready, const std::string& go, const std::string& out) {
  const int16_t sess = OpenSession(dir);
  TTable t;
  t.Open(sess);
  Touch(ready);
  WaitFor(go);
  std::ofstream o(out + ".tmp");
  const int count = VdbTableGetRecordCount(t.Hdl);
  o << "records " << count << "\n";
  for (int r = VdbTableFirst(t.Hdl); r >= 0 && count >= 0; r = VdbTableMoveBy(t.Hdl, 1)) {
    t.Read();
    o << TTable::GetText(t.Record, t.Name) << "\n";
  }
  o.close();
  std::filesystem::rename(out + ".tmp", out);
  Check("VdbSessDelete", VdbSessDelete(sess));
  return 0;
}

// Two sessions of this process take turns at random operations; each committed one is logged.
int Stress(const std::string& dir, const std::string& tag, uint32_t seed, int steps, const std::string& logFile,
           int sessions) {
  std::mt19937 rng(seed);
  int16_t sess[2];
  TTable tables[2];
  for (int s = 0; s < sessions; ++s) {
    sess[s] = OpenSession(dir);
    tables[s].Open(sess[s]);
  }
  std::ofstream log(logFile, std::ios::app);
  int next = 1;
  for (int step = 0; step < steps; ++step) {
    const int s = static_cast<int>(rng() % sessions);
    TTable& t = tables[s];
    gSess = sess[s];
    const int kind = static_cast<int>(rng() % 10);
    const bool txn = rng() % 2 == 0;
    const bool rollback = txn && rng() % 5 == 0;
    if (txn) Transaction(sess[s], true);
    std::string line;
    if (kind < 5) {
      const std::string name = tag + "-" + std::to_string(next++);
      t.Append(name, 1);
      line = "add " + name;
    } else {
      // Only our own records are edited or deleted, so the model stays per process.
      const std::string prefix = tag + "-";
      std::vector<uint8_t> key(t.Record.size(), 0);
      TTable::SetText(key, t.Name, prefix + std::to_string(1 + rng() % std::max(1, next - 1)));
      Check("VdbTableSetIndex", VdbTableSetIndex(t.Hdl, W(u"NAMEIDX"), false));
      bool exact = true;
      const int found = VdbTableLocateRec2(t.Hdl, W(u"NAMEIDX"), key.data(), VDB_ALL_INDEX_ITEMS, &exact);
      if (found > 0) {
        t.Read();
        const std::string name = TTable::GetText(t.Record, t.Name);
        if (name == TTable::GetText(key, t.Name)) {
          if (kind < 8) {
            t.Edit([&](std::vector<uint8_t>& r) { TTable::SetInt(r, t.N, TTable::GetInt(r, t.N) + 1); });
            line = "inc " + name;
          } else {
            Check("VdbTableDeleteRecord", VdbTableDeleteRecord(t.Hdl));
            line = "del " + name;
          }
        }
      }
    }
    if (txn) {
      if (rollback) {
        Check("VdbSessCancelTransaction", VdbSessCancelTransaction(sess[s]));
        line.clear();
      } else {
        Transaction(sess[s], false);
      }
    }
    if (!line.empty()) log << line << std::endl;
  }
  for (int s = 0; s < sessions; ++s) Check("VdbSessDelete", VdbSessDelete(sess[s]));
  return 0;
}

int Delete(const std::string& dir, int recNo) {
  const int16_t sess = OpenSession(dir);
  TTable t;
  t.Open(sess);
  Check("VdbTableSetRecNo", VdbTableSetRecNo(t.Hdl, recNo));
  Check("VdbTableDeleteRecord", VdbTableDeleteRecord(t.Hdl));
  Check("VdbSessDelete", VdbSessDelete(sess));
  return 0;
}

int Index(const std::string& dir, const std::string& name, const std::string& columns) {
  const int16_t sess = OpenSession(dir);
  TTable t;
  t.Open(sess);
  Check("VdbRltnCreateIndex", VdbRltnCreateIndex(t.Rltn, W(U16(name)), W(U16(columns)), false));
  Check("VdbSessDelete", VdbSessDelete(sess));
  return 0;
}

int EditLock(const std::string& dir, int recNo, const std::string& ready, const std::string& go) {
  const int16_t sess = OpenSession(dir);
  TTable t;
  t.Open(sess);
  Check("VdbTableSetRecNo", VdbTableSetRecNo(t.Hdl, recNo));
  Check("VdbTableEdit", VdbTableEdit(t.Hdl));
  Touch(ready);
  WaitFor(go);
  Check("VdbTableEditCancel", VdbTableEditCancel(t.Hdl));
  Check("VdbSessDelete", VdbSessDelete(sess));
  return 0;
}

int WriteLock(const std::string& dir, const std::string& ready, const std::string& go) {
  const int16_t sess = OpenSession(dir);
  TTable t;
  t.Open(sess);
  Check("VdbTableLock", VdbTableLock(t.Hdl, VDB_LOCK_WRITE, 1000));
  Touch(ready);
  WaitFor(go);
  Check("VdbTableUnlock", VdbTableUnlock(t.Hdl, VDB_LOCK_WRITE));
  Check("VdbSessDelete", VdbSessDelete(sess));
  return 0;
}

int Verify(const std::string& dir) {
  const int16_t sess = OpenSession(dir);
  TTable t;
  t.Open(sess);
  int failures = 0;
  // The table check gives a relation of its findings: a sound table has none. (It is not
  // offered by every build of the interface: -19.)
  const int checked = VdbSessCheckTable(sess, t.Rltn);
  if (checked > 0) {
    const int findings = VdbRltnRecordCount(static_cast<int16_t>(checked));
    if (findings != 0) {
      std::cerr << "check table: " << findings << " findings" << std::endl;
      ++failures;
    }
    VdbRltnClose(static_cast<int16_t>(checked));
  } else if (checked != VDB_ERR_NOT_SUPPORTED) {
    std::cerr << "check table: " << checked << std::endl;
    ++failures;
  }
  const int count = Check("count", VdbTableGetRecordCount(t.Hdl));
  std::cout << "records " << count << "\n";
  std::multiset<std::string> byRecNo, byIndex;
  for (int r = VdbTableFirst(t.Hdl); r >= 0; r = VdbTableMoveBy(t.Hdl, 1)) {
    t.Read();
    const std::string name = TTable::GetText(t.Record, t.Name);
    if (name.empty()) ++failures;
    byRecNo.insert(name);
    std::cout << name << " " << TTable::GetInt(t.Record, t.N) << "\n";
  }
  Check("VdbTableSetIndex", VdbTableSetIndex(t.Hdl, W(u"NAMEIDX"), false));
  for (int r = VdbTableFirst(t.Hdl); r >= 0; r = VdbTableMoveBy(t.Hdl, 1)) {
    t.Read();
    byIndex.insert(TTable::GetText(t.Record, t.Name));
  }
  if (static_cast<int>(byRecNo.size()) != count || byIndex != byRecNo) {
    std::cerr << "index and data differ: " << byRecNo.size() << " / " << byIndex.size() << std::endl;
    ++failures;
  }
  Check("VdbSessDelete", VdbSessDelete(sess));
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const std::string dir = argv[1];
  const std::string cmd = argv[2];
  const auto arg = [&](int i) { return i < argc ? std::string(argv[i]) : std::string(); };
  if (cmd == "create") return Create(dir);
  if (cmd == "append") return Append(dir, arg(3), std::atoi(argv[4]), arg(5) == "txn" ? std::atoi(argv[6]) : 0);
  if (cmd == "increment") return Increment(dir, std::atoi(argv[3]), arg(4) == "txn");
  if (cmd == "hold") return Hold(dir, arg(3), std::atoi(argv[4]), arg(5), arg(6), arg(7) != "rollback");
  if (cmd == "hang") return Hang(dir, arg(3), arg(4));
  if (cmd == "read") return Read(dir, arg(3), arg(4), arg(5));
  if (cmd == "stress") {
    return Stress(dir, arg(3), static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 10)), std::atoi(argv[5]), arg(6),
                  arg(7) == "1" ? 1 : 2);
  }
  if (cmd == "delete") return Delete(dir, std::atoi(argv[3]));
  if (cmd == "verify") return Verify(dir);
  if (cmd == "index") return Index(dir, arg(3), arg(4));
  if (cmd == "editlock") return EditLock(dir, std::atoi(argv[3]), arg(4), arg(5));
  if (cmd == "writelock") return WriteLock(dir, arg(3), arg(4));
  return 2;
}
