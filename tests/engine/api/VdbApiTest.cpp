// The exported call interface as a C caller sees it: only the public header and the library.
#include <gtest/gtest.h>

#include <string>

#include "vidoradb/vdbapi.h"

namespace {

std::u16string ErrorMsg(int32_t status, int32_t maxLen = 256) {
  std::u16string buffer(300, u'#');
  EXPECT_EQ(VdbGetErrorMsg(status, reinterpret_cast<VdbChar*>(buffer.data()), maxLen), 0);
  return buffer.substr(0, buffer.find(u'\0'));
}

TEST(VdbGetErrorMsgTest, StatusTextsWithUnknownFallback) {
  EXPECT_EQ(ErrorMsg(-47), u"The database table is locked");
  EXPECT_EQ(ErrorMsg(-100), u"Error in VidoraDB Engine");
  EXPECT_EQ(ErrorMsg(0), u"No error");
  EXPECT_EQ(ErrorMsg(-9), u"Unknown error");
  EXPECT_EQ(ErrorMsg(123456), u"Unknown error");
}

TEST(VdbGetErrorMsgTest, NeverWritesPastTheCallersBuffer) {
  std::u16string buffer(10, u'#');
  EXPECT_EQ(VdbGetErrorMsg(-100, reinterpret_cast<VdbChar*>(buffer.data()), 5), 0);
  EXPECT_EQ(buffer.substr(0, 5), std::u16string(u"Erro\0", 5));
  EXPECT_EQ(buffer.substr(5), u"#####");
  EXPECT_EQ(VdbGetErrorMsg(-100, nullptr, 10), 0);
  EXPECT_EQ(VdbGetErrorMsg(-100, reinterpret_cast<VdbChar*>(buffer.data()), 0), 0);
}

}  // namespace
