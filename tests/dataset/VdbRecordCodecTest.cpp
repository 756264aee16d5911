// Columns in the record image as the dataset reads and writes them, the code pages of 8-bit
// text, and the mapping of engine column types to field kinds.
#include <gtest/gtest.h>

#include <vector>

#include "VdbDataSet.h"
#include "VdbRecordCodec.h"

namespace {

using namespace vdbds;

TVdbColumnLayout Column(std::int16_t type, std::uint16_t position, std::uint16_t size, std::uint8_t options,
                        std::int16_t level = 6, std::int32_t maxLength = 0, std::int32_t precision = 0) {
  TVdbColumnLayout c;
  c.ColumnType = type;
  c.Position = position;
  c.Size = size;
  c.Options = options;
  c.TableLevel = level;
  c.MaxLength = maxLength;
  c.Precision = precision;
  return c;
}

const TVdbCodePage& Hungarian() {
  static TVdbCodePage page(1250);
  return page;
}

TEST(RecordCodecTest, NullByteComesFirstFromLevelSixAndLastBefore) {
  const struct {
    std::int16_t Level;
    std::size_t NullByte;
    std::size_t Data;
  } cases[] = {{6, 2, 3}, {5, 6, 2}, {4, 6, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Level);
    const TVdbColumnLayout column = Column(ctInteger, 2, 5, kColumnNullable | kColumnHasNullByte, c.Level);
    std::vector<std::uint8_t> image(10, 0);
    tk::TFieldValue value;
    EXPECT_FALSE(ReadColumn(column, image.data(), Hungarian(), value)) << "null byte 0: no value";
    WriteColumn(column, image.data(), Hungarian(), tk::TFieldValue(std::int64_t{0x01020304}));
    EXPECT_EQ(image[c.NullByte], 1);
    EXPECT_EQ(image[c.Data], 0x04);
    EXPECT_EQ(image[c.Data + 3], 0x01);
    ASSERT_TRUE(ReadColumn(column, image.data(), Hungarian(), value));
    EXPECT_EQ(std::get<std::int64_t>(value), 0x01020304);
    WriteColumn(column, image.data(), Hungarian(), tk::TFieldValue());
    EXPECT_EQ(image[c.NullByte], 0);
    EXPECT_EQ(image[c.Data], 0x04) << "null leaves the data bytes";
  }
}

TEST(RecordCodecTest, StringsCarryTheirLengthAndTheColumnsCodePage) {
  const struct {
    std::int32_t MaxLength;
    int Prefix;
  } cases[] = {{20, 1}, {255, 1}, {256, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.MaxLength);
    const TVdbColumnLayout column =
        Column(ctString, 0, static_cast<std::uint16_t>(c.Prefix + c.MaxLength), 0, 6, c.MaxLength);
    std::vector<std::uint8_t> image(column.Size, 0xEE);
    WriteColumn(column, image.data(), Hungarian(), tk::TFieldValue(std::u16string(u"Győr")));
    EXPECT_EQ(image[0], 4);
    EXPECT_EQ(image[static_cast<std::size_t>(c.Prefix) + 2], 0xF5) << "ő in code page 1250";
    tk::TFieldValue value;
    ASSERT_TRUE(ReadColumn(column, image.data(), Hungarian(), value));
    EXPECT_EQ(std::get<std::u16string>(value), u"Győr");
  }
  // Empty is a value, not null; text beyond the length is cut; unknown characters become '?'.
  const TVdbColumnLayout column = Column(ctString, 0, 5, 0, 6, 4);
  std::vector<std::uint8_t> image(5, 0);
  WriteColumn(column, image.data(), Hungarian(), tk::TFieldValue(std::u16string()));
  tk::TFieldValue value;
  ASSERT_TRUE(ReadColumn(column, image.data(), Hungarian(), value));
  EXPECT_EQ(std::get<std::u16string>(value), u"");
  WriteColumn(column, image.data(), Hungarian(), tk::TFieldValue(std::u16string(u"Ab€ñ☺x")));
  ASSERT_TRUE(ReadColumn(column, image.data(), Hungarian(), value));
  EXPECT_EQ(std::get<std::u16string>(value), u"Ab€?");
}

TEST(RecordCodecTest, DatesTimesAndTimeStampsInTheirStoredForms) {
  tk::TFieldValue value;
  std::vector<std::uint8_t> image(16, 0);
  const TVdbColumnLayout date = Column(ctDate, 0, 4, 0);
  EXPECT_FALSE(ReadColumn(date, image.data(), Hungarian(), value)) << "a stored 0 is no value";
  const std::int64_t day = tk::EncodeDate(2014, 3, 1);
  WriteColumn(date, image.data(), Hungarian(), tk::TFieldValue(day));
  EXPECT_EQ(image[0] | (image[1] << 8) | (image[2] << 16), 2014 * 512 + 3 * 32 + 1);
  ASSERT_TRUE(ReadColumn(date, image.data(), Hungarian(), value));
  EXPECT_EQ(std::get<std::int64_t>(value), day);

  const std::int64_t ms = (13 * 3600 + 14 * 60 + 15) * 1000 + 678;
  const struct {
    std::int32_t Precision;
    std::uint16_t Size;
    std::int64_t Expected;
  } times[] = {{2, 2, (13 * 60 + 14) * 60'000}, {3, 4, ms - 678 + 1000}, {4, 4, ms}};
  for (const auto& t : times) {
    SCOPED_TRACE(t.Precision);
    const TVdbColumnLayout time = Column(ctTime, 4, t.Size, 0, 6, 0, t.Precision);
    WriteColumn(time, image.data(), Hungarian(), tk::TFieldValue(ms));
    ASSERT_TRUE(ReadColumn(time, image.data(), Hungarian(), value));
    EXPECT_EQ(std::get<std::int64_t>(value), t.Expected);
  }
  EXPECT_THROW(WriteColumn(Column(ctTime, 4, 4, 0, 6, 0, 5), image.data(), Hungarian(), tk::TFieldValue(ms)),
               tk::EDatabaseError);

  const TVdbColumnLayout stamp = Column(ctTimeStamp, 8, 8, 0);
  std::fill(image.begin() + 8, image.end(), 0);
  EXPECT_FALSE(ReadColumn(stamp, image.data(), Hungarian(), value));
  const std::int64_t moment = (day - 1) * kMsPerDay + ms;
  WriteColumn(stamp, image.data(), Hungarian(), tk::TFieldValue(moment));
  ASSERT_TRUE(ReadColumn(stamp, image.data(), Hungarian(), value));
  EXPECT_EQ(std::get<std::int64_t>(value), moment);
}

TEST(RecordCodecTest, GuidsReadAndWriteTheirBracedText) {
  const std::u16string text = u"{01234567-89AB-CDEF-0123-456789ABCDEF}";
  const TVdbColumnLayout guid = Column(ctGuid, 0, 17, kColumnNullable | kColumnHasNullByte);
  std::vector<std::uint8_t> image(17, 0);
  WriteColumn(guid, image.data(), Hungarian(), tk::TFieldValue(text));
  EXPECT_EQ(image[1], 0x67) << "Data1 little-endian";
  tk::TFieldValue value;
  ASSERT_TRUE(ReadColumn(guid, image.data(), Hungarian(), value));
  EXPECT_EQ(std::get<std::u16string>(value), text);
  EXPECT_THROW(WriteColumn(guid, image.data(), Hungarian(), tk::TFieldValue(std::u16string(u"{nonsense}"))),
               tk::EDatabaseError);
}

TEST(RecordCodecTest, CharAndFixedBinaryAreTextAndBytesOfTheirSize) {
  EXPECT_EQ(DataTypeOfColumn(ctChar), TVdbDataType::dtString);
  EXPECT_EQ(DataTypeOfColumn(ctFixedBinary), TVdbDataType::dtBytes);
  EXPECT_EQ(FrameworkType(TVdbDataType::dtBytes), tk::TFieldType::dtBlob);
  EXPECT_EQ(DataTypeOfColumn(14), TVdbDataType::dtUnknown);
  EXPECT_EQ(DataTypeOfColumn(static_cast<std::int16_t>(0x0100 | ctInteger)), TVdbDataType::dtInteger)
      << "the high byte of the type word is not the type";

  std::vector<std::uint8_t> image(12, 0);
  const TVdbColumnLayout ch = Column(ctChar, 0, 1, 0, 6, 1);
  WriteColumn(ch, image.data(), Hungarian(), tk::TFieldValue(std::u16string(u"Ő")));
  tk::TFieldValue value;
  ASSERT_TRUE(ReadColumn(ch, image.data(), Hungarian(), value));
  EXPECT_EQ(std::get<std::u16string>(value), u"Ő");

  const TVdbColumnLayout bin = Column(ctFixedBinary, 1, 10, 0, 6, 6);
  WriteColumn(bin, image.data(), Hungarian(), tk::TFieldValue(tk::TBytes{1, 2, 3, 4, 5, 6, 7, 8}));
  ASSERT_TRUE(ReadColumn(bin, image.data(), Hungarian(), value));
  EXPECT_EQ(std::get<tk::TBytes>(value), (tk::TBytes{1, 2, 3, 4, 5, 6})) << "cut to the column's size";
}

// Which code page a collation has is the engine's to say (CodePageTest.cpp).
TEST(RecordCodecTest, CodePagesConvertBothWays) {
  // Memo text must never meet the control character that ends it.
  TVdbCodePage latin(1252);
  EXPECT_EQ(latin.Encode(u"ő"), (std::vector<std::uint8_t>{'?'}));
  const std::vector<std::uint8_t> bytes = Hungarian().Encode(u"Árvíztűrő");
  EXPECT_EQ(Hungarian().Decode(bytes.data(), bytes.size()), u"Árvíztűrő");
}

TEST(RecordCodecTest, VersionTextOfTheComponents) { EXPECT_EQ(TVdbDataSet::Version(), u"6.1.8/8.1.2"); }

}  // namespace
