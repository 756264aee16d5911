// Table names with a directory part: a relative directory lies under the database directory
// (never under the process's working directory), an absolute one is used as it stands, and
// deleting a table removes its own files there and nothing in the working directory.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "VdbApiTestSupport.h"

namespace vdbapi_test {
namespace {

class TableNamesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Dir = EmptyDatabaseDir("names");
    std::filesystem::create_directories(Dir / "sub");
    Sess = OpenSession(Dir);
  }
  void TearDown() override { EXPECT_EQ(VdbSessDelete(Sess), 0); }
  int16_t Create(const std::u16string& name) {
    const TVdbFieldSpec fields[] = {FieldSpec(1, u"NAME", VDB_TYPE_STRING, 30)};
    TVdbTableInfo info{};
    std::copy(name.begin(), name.end(), info.FileName);
    return VdbSessCreateTable(Sess, &info, W(u""), 1, fields, 0, nullptr, 0, nullptr, 0, nullptr);
  }
  std::filesystem::path Dir;
  int16_t Sess = 0;
};

TEST_F(TableNamesTest, ARelativeDirectoryIsTakenFromTheDatabaseDirectory) {
  const std::filesystem::path cwd = std::filesystem::current_path();
  ASSERT_FALSE(std::filesystem::exists(cwd / "sub" / "Resz.vdbt"));
  ASSERT_EQ(Create(u"sub/Resz"), 0) << vdb::VdbUtf16ToUtf8(LastError(Sess).Msg);
  EXPECT_TRUE(std::filesystem::exists(Dir / "sub" / "Resz.vdbt"));
  EXPECT_FALSE(std::filesystem::exists(cwd / "sub" / "Resz.vdbt"));
  EXPECT_EQ(VdbSessExistsTable(Sess, W(u"sub/Resz")), 1);
  const int16_t rltn = VdbSessOpenTable(Sess, W(u"sub/Resz"), W(u""), VDB_RIGHTS_WRITE, false, false);
  EXPECT_GT(rltn, 0) << vdb::VdbUtf16ToUtf8(LastError(Sess).Msg);
  EXPECT_EQ(VdbSessDeleteTable(Sess, W(u"sub/Resz"), W(u"")), 0) << vdb::VdbUtf16ToUtf8(LastError(Sess).Msg);
  EXPECT_FALSE(std::filesystem::exists(Dir / "sub" / "Resz.vdbt"));
}

TEST_F(TableNamesTest, AnAbsoluteNameKeepsItsDirectory) {
  const std::filesystem::path elsewhere = EmptyDatabaseDir("names-elsewhere");
  const std::u16string name = U16(elsewhere / "Kulso");
  ASSERT_EQ(Create(name), 0) << vdb::VdbUtf16ToUtf8(LastError(Sess).Msg);
  EXPECT_TRUE(std::filesystem::exists(elsewhere / "Kulso.vdbt"));
  EXPECT_FALSE(std::filesystem::exists(Dir / "Kulso.vdbt"));
  EXPECT_EQ(VdbSessDeleteTable(Sess, W(name), W(u"")), 0) << vdb::VdbUtf16ToUtf8(LastError(Sess).Msg);
  EXPECT_FALSE(std::filesystem::exists(elsewhere / "Kulso.vdbt"));
}

TEST_F(TableNamesTest, DeletingANameThatIsNoTableTouchesNoFile) {
  // A file with a table's name that is not a table: the delete fails and the file stays.
  {
    std::ofstream out(Dir / "Hamis.vdbt", std::ios::binary);
    out << "not a table file at all";
  }
  EXPECT_LT(VdbSessDeleteTable(Sess, W(u"Hamis"), W(u"")), 0);
  EXPECT_TRUE(std::filesystem::exists(Dir / "Hamis.vdbt"));
}

}  // namespace
}  // namespace vdbapi_test
