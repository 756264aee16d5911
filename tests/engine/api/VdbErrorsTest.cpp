#include "api/VdbErrors.h"

#include <gtest/gtest.h>

namespace vdb {
namespace {

TEST(EVdbEngineTest, CarriesCodeAndReadyMessage) {
  const EVdbEngine e = EVdbEngine::CreateMsg(88, u"Table \"Irsz\" not found");
  EXPECT_EQ(e.Code(), 88);
  EXPECT_EQ(e.Message(), u"Table \"Irsz\" not found");
  EXPECT_STREQ(e.what(), "Table \"Irsz\" not found");
}

}  // namespace
}  // namespace vdb
