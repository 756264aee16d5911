// Helpers of the call-interface tests: UTF-16 texts for the C functions, the session's last
// error, a settlement database on disk shared by the tests of one program, and a fixture with
// a session that has opened it. Every call under test goes through the public header.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "VdbApiSettlementDb.h"
#include "vidoradb/vdbapi.h"

namespace vdbapi_test {

inline const VdbChar* W(const char16_t* text) { return reinterpret_cast<const VdbChar*>(text); }
inline const VdbChar* W(const std::u16string& text) { return reinterpret_cast<const VdbChar*>(text.c_str()); }
inline std::u16string U16(const std::filesystem::path& p) { return vdb::VdbUtf8ToUtf16(p.string()); }

// The text in a caller's buffer up to its terminator.
inline std::u16string FromBuffer(const std::vector<VdbChar>& buffer) {
  std::u16string out;
  for (VdbChar c : buffer) {
    if (c == 0) break;
    out += static_cast<char16_t>(c);
  }
  return out;
}

struct TLastError {
  int32_t Code = 0;
  std::u16string Msg;
};

inline TLastError LastError(int16_t sess) {
  TLastError e;
  std::vector<VdbChar> buffer(512, 0);
  EXPECT_EQ(VdbSessGetLastError(sess, &e.Code, buffer.data(), static_cast<int32_t>(buffer.size())), 0);
  e.Msg = FromBuffer(buffer);
  return e;
}

// A scratch directory of this test program, removed when the program ends.
inline const std::filesystem::path& ScratchDir() {
  struct TScratch {
    std::filesystem::path Dir = std::filesystem::temp_directory_path() / ("vdbapi-test-" + std::to_string(::getpid()));
    TScratch() { std::filesystem::create_directories(Dir); }
    ~TScratch() {
      std::error_code ec;
      std::filesystem::remove_all(Dir, ec);
    }
  };
  static TScratch scratch;
  return scratch.Dir;
}

// The settlement database, written once per test program.
inline const std::filesystem::path& SettlementDir() {
  static const std::filesystem::path dir = [] {
    const std::filesystem::path d = ScratchDir() / "settlements";
    const std::string failure = vdb::test::WriteSettlementDatabase(d);
    if (!failure.empty()) ADD_FAILURE() << "settlement database: " << failure;
    return d;
  }();
  return dir;
}

// A fresh empty database directory under the scratch directory.
inline std::filesystem::path EmptyDatabaseDir(const std::string& name) {
  const std::filesystem::path d = ScratchDir() / name;
  std::filesystem::remove_all(d);
  std::filesystem::create_directories(d);
  return d;
}

// A session with its private directory in the scratch directory and `dir` open.
// Column `no` as a table created through the interface describes it.
inline TVdbFieldSpec FieldSpec(int16_t no, const char16_t* name, int16_t type, int32_t param = 0) {
  TVdbFieldSpec f{};
  f.No = no;
  const std::u16string n(name);
  std::copy(n.begin(), n.end(), f.Name);
  f.FldType = type;
  f.Param = param;
  return f;
}

inline int16_t OpenSession(const std::filesystem::path& dir) {
  const int16_t sess = VdbCreateSession(W(u""));
  EXPECT_GT(sess, 0);
  TVdbNetParams params;
  EXPECT_EQ(VdbSessGetDefaultNetParams(sess, &params), 0);
  const std::u16string privateDir = U16(ScratchDir() / "private");
  std::memcpy(params.PrivateDir, privateDir.c_str(), (privateDir.size() + 1) * sizeof(VdbChar));
  EXPECT_EQ(VdbSessSetNetParams(sess, &params), 0);
  EXPECT_EQ(VdbSessOpenDb(sess, W(U16(dir)), W(u""), W(u""), 0, 0), 0) << vdb::VdbUtf16ToUtf8(LastError(sess).Msg);
  return sess;
}

// A session on the settlement database with `Irsz` open as relation `Rltn`.
class SettlementSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Sess = OpenSession(SettlementDir());
    Rltn = VdbSessOpenTable(Sess, W(u"Irsz"), W(u""), VDB_RIGHTS_WRITE, false, false);
    ASSERT_GT(Rltn, 0) << vdb::VdbUtf16ToUtf8(LastError(Sess).Msg);
  }
  void TearDown() override { EXPECT_EQ(VdbSessDelete(Sess), 0); }

  // The column number of `name`, checked.
  int16_t FieldNo(const char16_t* name, int16_t table) {
    const int16_t no = VdbTableGetFieldNo(table, W(name));
    EXPECT_GT(no, 0) << vdb::VdbUtf16ToUtf8(name);
    return no;
  }

  int16_t Sess = 0;
  int16_t Rltn = 0;
};

// An 8-bit string column of a record image: the null byte (when the field has one), the
// length byte, then the characters in the column's code page.
inline void SetAnsiField(std::vector<uint8_t>& record, const TVdbFieldSpec& spec, const std::string& bytes) {
  const int header = spec.InternalSize - spec.Param;
  uint8_t* field = record.data() + spec.InternalPosition;
  std::memset(field, 0, spec.InternalSize);
  if (header == 2) field[0] = 1;
  field[header - 1] = static_cast<uint8_t>(bytes.size());
  std::memcpy(field + header, bytes.data(), bytes.size());
}

inline std::string GetAnsiField(const std::vector<uint8_t>& record, const TVdbFieldSpec& spec) {
  const int header = spec.InternalSize - spec.Param;
  const uint8_t* field = record.data() + spec.InternalPosition;
  if (header == 2 && field[0] == 0) return {};
  return std::string(reinterpret_cast<const char*>(field + header), field[header - 1]);
}

}  // namespace vdbapi_test
