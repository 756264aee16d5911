// Threads on the call interface: two cursors of one relation used by two threads at the same
// time (one appends and reads back, the other walks the table) see every byte right and get
// no error; one cursor used by two threads at once is refused with -19 for the thread that
// comes second, never a crash. Both are step-bounded.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "VdbApiTestSupport.h"

namespace vdbapi_test {
namespace {

constexpr int kInitialRows = 40;

class ThreadsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Sess = OpenSession(EmptyDatabaseDir("threads"));
    const TVdbFieldSpec fields[] = {FieldSpec(1, u"NAME", VDB_TYPE_STRING, 30), FieldSpec(2, u"N", VDB_TYPE_INTEGER),
                                    FieldSpec(3, u"NOTE", VDB_TYPE_MEMO)};
    TVdbKeySpec key{};
    key.IsPrimaryKey = true;
    const std::u16string keyName = u"PK", keyFields = u"NAME";
    std::copy(keyName.begin(), keyName.end(), key.Name);
    std::copy(keyFields.begin(), keyFields.end(), key.Fields);
    TVdbTableInfo info{};
    const std::u16string n(u"Szalak");
    std::copy(n.begin(), n.end(), info.FileName);
    ASSERT_EQ(VdbSessCreateTable(Sess, &info, W(u""), 3, fields, 1, &key, 0, nullptr, 0, nullptr), 0);
    Rltn = VdbSessOpenTable(Sess, W(u"Szalak"), W(u""), VDB_RIGHTS_WRITE, false, false);
    ASSERT_GT(Rltn, 0);
    const int16_t t = VdbTableCreate(Rltn, W(u"Szalak"));
    ASSERT_GT(t, 0);
    ASSERT_EQ(VdbTableGetFieldSpec(t, 1, &Name), 0);
    ASSERT_EQ(VdbTableGetFieldSpec(t, 2, &N), 0);
    RecordSize = VdbTableGetRecordSize(t);
    for (int i = 0; i < kInitialRows; ++i) ASSERT_EQ(Add(t, "r" + std::to_string(i), i), 0);
    ASSERT_EQ(VdbTableDelete(t), 0);
  }
  void TearDown() override { EXPECT_EQ(VdbSessDelete(Sess), 0); }

  static std::string NoteOf(const std::string& name) { return "note of " + name + std::string(name.size() * 7, '*'); }

  int16_t Add(int16_t t, const std::string& name, int32_t n) {
    std::vector<uint8_t> record(static_cast<std::size_t>(RecordSize), 0);
    if (VdbTableAppend(t) != 0) return -1000;
    if (VdbTableGetRecord(t, record.data(), RecordSize) != 0) return -1001;
    SetAnsiField(record, Name, name);
    uint8_t* field = record.data() + N.InternalPosition;
    if (N.InternalSize == 5) *field++ = 1;
    std::memcpy(field, &n, sizeof n);
    if (VdbTableSetRecord(t, record.data(), RecordSize) != 0) return -1002;
    const std::string note = NoteOf(name);
    if (VdbTableSetBlob(t, 3, note.data(), static_cast<int32_t>(note.size())) != 0) return -1003;
    return VdbTableAppendConfirm(t);
  }

  // The current record of `t` is whole: its number and note belong to its name. Empty, or
  // what is wrong.
  std::string CheckCurrent(int16_t t) {
    std::vector<uint8_t> record(static_cast<std::size_t>(RecordSize), 0);
    if (const int r = VdbTableGetRecord(t, record.data(), RecordSize); r != 0) return "get record " + std::to_string(r);
    const std::string name = GetAnsiField(record, Name);
    if (name.size() < 2) return "name \"" + name + "\"";
    int32_t n = 0;
    std::memcpy(&n, record.data() + N.InternalPosition + (N.InternalSize == 5 ? 1 : 0), sizeof n);
    if (std::to_string(n) != name.substr(1)) return "number " + std::to_string(n) + " for " + name;
    int16_t type = 0;
    const int32_t length = VdbTableInitGetBlob(t, 3, -1, &type);
    if (length < 0) return "note length " + std::to_string(length);
    std::string note(static_cast<std::size_t>(length), '\0');
    if (VdbTablePerformGetBlob(t, note.data(), length) != length) return "note read";
    if (note != NoteOf(name)) return "note \"" + note + "\" of " + name;
    return {};
  }

  int16_t Sess = 0;
  int16_t Rltn = 0;
  int32_t RecordSize = 0;
  TVdbFieldSpec Name{}, N{};
};

TEST_F(ThreadsTest, TwoCursorsOfOneRelationServeTwoThreadsAtOnce) {
  const int16_t writer = VdbTableCreate(Rltn, W(u"Szalak"));
  const int16_t reader = VdbTableCreate(Rltn, W(u"Szalak"));
  ASSERT_GT(writer, 0);
  ASSERT_GT(reader, 0);
  constexpr int kAppends = 150;
  constexpr int kPasses = 12;
  std::atomic<bool> writing{true};
  std::string writerFault, readerFault;
  std::thread w([&] {
    for (int i = 0; i < kAppends && writerFault.empty(); ++i) {
      const std::string name = "w" + std::to_string(1000 + i);
      if (const int r = Add(writer, name, 1000 + i); r != 0) writerFault = "append " + name + ": " + std::to_string(r);
      if (writerFault.empty()) writerFault = CheckCurrent(writer);
    }
    writing = false;
  });
  std::thread r([&] {
    for (int pass = 0; pass < kPasses && readerFault.empty(); ++pass) {
      if (const int first = VdbTableFirst(reader); first < 0) {
        readerFault = "first " + std::to_string(first);
        break;
      }
      for (int step = 0; step < kInitialRows + kAppends + 1; ++step) {
        if (std::string fault = CheckCurrent(reader); !fault.empty()) {
          readerFault = "pass " + std::to_string(pass) + ": " + fault;
          break;
        }
        const int moved = VdbTableMoveBy(reader, 1);
        if (moved == VDB_ERR_NO_RECORD) break;
        if (moved < 0) {
          readerFault = "move " + std::to_string(moved);
          break;
        }
      }
    }
  });
  w.join();
  r.join();
  EXPECT_EQ(writerFault, "");
  EXPECT_EQ(readerFault, "");
  EXPECT_EQ(VdbTableGetRecordCount(reader), kInitialRows + kAppends);
  EXPECT_FALSE(writing.load());
  // Every record whole afterwards, seen through a third cursor.
  const int16_t check = VdbTableCreate(Rltn, W(u"Szalak"));
  ASSERT_GT(check, 0);
  int32_t seen = 0;
  for (int r = VdbTableFirst(check); r >= 0 && seen <= kInitialRows + kAppends; r = VdbTableMoveBy(check, 1)) {
    EXPECT_EQ(CheckCurrent(check), "");
    ++seen;
  }
  EXPECT_EQ(seen, kInitialRows + kAppends);
  EXPECT_EQ(VdbTableDelete(check), 0);
  EXPECT_EQ(VdbTableDelete(writer), 0);
  EXPECT_EQ(VdbTableDelete(reader), 0);
}

TEST_F(ThreadsTest, OneCursorUsedByTwoThreadsAtOnceIsRefusedNotCrashed) {
  const int16_t shared = VdbTableCreate(Rltn, W(u"Szalak"));
  ASSERT_GT(shared, 0);
  constexpr int kCalls = 3000;
  std::atomic<int> refused{0}, wrong{0};
  const auto walk = [&] {
    for (int i = 0; i < kCalls; ++i) {
      const int r = i % 50 == 0 ? VdbTableFirst(shared) : VdbTableMoveBy(shared, 1);
      if (r == VDB_ERR_NOT_SUPPORTED) {
        ++refused;
      } else if (r < 0 && r != VDB_ERR_NO_RECORD) {
        ++wrong;
      }
    }
  };
  std::thread a(walk), b(walk);
  a.join();
  b.join();
  EXPECT_EQ(wrong.load(), 0);
  std::cout << "shared cursor: " << refused.load() << " of " << 2 * kCalls << " calls refused\n";
  // The cursor is whole afterwards.
  EXPECT_GE(VdbTableFirst(shared), 0);
  EXPECT_EQ(CheckCurrent(shared), "");
  EXPECT_EQ(VdbTableDelete(shared), 0);
}

}  // namespace
}  // namespace vdbapi_test
