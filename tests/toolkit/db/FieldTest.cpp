// Field objects: conversions of every kind, display attributes, the checks on writing,
// default and persistent fields, calculated fields and memo content through blob streams.
#include <gtest/gtest.h>

#include "MemFixture.h"

namespace {

using tk::TFieldType;
using tk::TFieldValue;

class FieldTest : public ::testing::Test {
 protected:
  // One column of the type, one row holding the value; opened and in edit state.
  tk::TField& OneField(TFieldType type, int size = 0) {
    DS.Columns().Add(u"F", type, size);
    DS.AppendRow({});
    DS.Open();
    DS.Edit();
    return DS.FieldByName(u"F");
  }
  tk::TMemDataSet DS;
};

struct TTextCase {
  TFieldType Type;
  int Size;
  std::u16string Input;      // assigned with SetAsString
  std::u16string AsString;   // read back
  std::u16string Display;
};

TEST_F(FieldTest, TextRoundTripsByKind) {
  const std::vector<TTextCase> cases = {
      {TFieldType::dtString, 10, u"Győr", u"Győr", u"Győr"},
      {TFieldType::dtWideString, 5, u"ő ű", u"ő ű", u"ő ű"},
      {TFieldType::dtInteger, 0, u" -42 ", u"-42", u"-42"},
      {TFieldType::dtSmallInt, 0, u"32767", u"32767", u"32767"},
      {TFieldType::dtByte, 0, u"+7", u"7", u"7"},
      {TFieldType::dtLargeInt, 0, u"9000000000", u"9000000000", u"9000000000"},
      {TFieldType::dtFloat, 0, u"1234.5", u"1234.5", u"1234.5"},
      {TFieldType::dtFloat, 0, u"0.1", u"0.1", u"0.1"},
      {TFieldType::dtBoolean, 0, u"true", u"True", u"True"},
      {TFieldType::dtDate, 0, u"2003-02-28", u"2003-02-28", u"2003-02-28"},
      {TFieldType::dtTime, 0, u"23:59:58", u"23:59:58", u"23:59:58"},
      {TFieldType::dtDateTime, 0, u"1999-12-31 12:00", u"1999-12-31 12:00:00", u"1999-12-31 12:00:00"},
      {TFieldType::dtMemo, 0, u"Első sor\nmásodik", u"Első sor\nmásodik", u"(MEMO)"},
      {TFieldType::dtWideMemo, 0, u"ű", u"ű", u"(MEMO)"},
  };
  for (const TTextCase& c : cases) {
    SCOPED_TRACE(testdb::Narrow(c.Input));
    tk::TMemDataSet ds;
    ds.Columns().Add(u"F", c.Type, c.Size);
    ds.AppendRow({});
    ds.Open();
    ds.Edit();
    tk::TField& field = ds.FieldByName(u"F");
    EXPECT_TRUE(field.IsNull());
    field.SetAsString(c.Input);
    ds.Post();
    EXPECT_FALSE(field.IsNull());
    EXPECT_EQ(field.AsString(), c.AsString);
    EXPECT_EQ(field.DisplayText(), c.Display);
  }
}

struct TBadCase {
  TFieldType Type;
  int Size;
  TFieldValue Value;
};

TEST_F(FieldTest, ValuesThatDoNotFitAreRefusedAndTheOldValueStays) {
  const std::vector<TBadCase> cases = {
      {TFieldType::dtString, 3, std::u16string(u"four")},
      {TFieldType::dtInteger, 0, std::u16string(u"12a")},
      {TFieldType::dtInteger, 0, std::int64_t{1} << 40},
      {TFieldType::dtSmallInt, 0, std::int64_t{40000}},
      {TFieldType::dtByte, 0, std::int64_t{-1}},
      {TFieldType::dtFloat, 0, std::u16string(u"1,5")},
      {TFieldType::dtBoolean, 0, std::u16string(u"maybe")},
      {TFieldType::dtDate, 0, std::u16string(u"2003-02-29")},
      {TFieldType::dtTime, 0, std::u16string(u"24:00")},
      {TFieldType::dtTime, 0, std::int64_t{86'400'000}},
  };
  for (const TBadCase& c : cases) {
    tk::TMemDataSet ds;
    ds.Columns().Add(u"F", c.Type, c.Size);
    ds.AppendRow({});
    ds.Open();
    ds.Edit();
    EXPECT_THROW(ds.FieldByName(u"F").SetValue(c.Value), tk::EDatabaseError) << static_cast<int>(c.Type);
    EXPECT_TRUE(ds.FieldByName(u"F").IsNull());
    EXPECT_FALSE(ds.Modified());
  }
}

TEST_F(FieldTest, NumbersConvertBetweenKinds) {
  tk::TField& f = OneField(TFieldType::dtFloat);
  f.SetAsFloat(2.5);
  EXPECT_EQ(f.AsInteger(), 2);  // ties go to the even neighbour
  f.SetAsFloat(3.5);
  EXPECT_EQ(f.AsInteger(), 4);
  f.SetAsInteger(7);
  EXPECT_DOUBLE_EQ(f.AsFloat(), 7.0);
  f.SetAsFloat(1e12);
  EXPECT_THROW(f.AsInteger(), tk::EDatabaseError);
  EXPECT_EQ(f.AsLargeInt(), 1'000'000'000'000);
  f.Clear();
  EXPECT_EQ(f.AsInteger(), 0);
  EXPECT_EQ(f.AsString(), u"");

  // The user's decimal separator applies to display and to typed text alike.
  DS.SetFormatSettings({u',', u'.', u':'});
  f.SetAsString(u"12,25");
  EXPECT_EQ(f.DisplayText(), u"12,25");
  EXPECT_THROW(f.SetAsString(u"12.25.1"), tk::EDatabaseError);
}

TEST_F(FieldTest, DisplayAttributesFollowTheKindUnlessSet) {
  DS.Columns().Add(u"S", TFieldType::dtString, 38);
  DS.Columns().Add(u"I", TFieldType::dtInteger);
  DS.Columns().Add(u"F", TFieldType::dtFloat);
  DS.Columns().Add(u"A", TFieldType::dtAutoInc);
  DS.Open();
  EXPECT_EQ(DS.FieldByName(u"S").DisplayWidth(), 38);
  EXPECT_EQ(DS.FieldByName(u"S").Alignment(), tk::TAlignment::taLeftJustify);
  EXPECT_EQ(DS.FieldByName(u"I").Alignment(), tk::TAlignment::taRightJustify);
  EXPECT_EQ(DS.FieldByName(u"F").Alignment(), tk::TAlignment::taRightJustify);
  EXPECT_TRUE(DS.FieldByName(u"A").ReadOnly());
  tk::TField& s = DS.FieldByName(u"s");  // names ignore case
  s.SetDisplayWidth(12);
  s.SetAlignment(tk::TAlignment::taCenter);
  s.SetDisplayLabel(u"Település");
  EXPECT_EQ(s.DisplayWidth(), 12);
  EXPECT_EQ(s.Alignment(), tk::TAlignment::taCenter);
  EXPECT_EQ(s.DisplayLabel(), u"Település");
  EXPECT_EQ(DS.FieldByName(u"I").DisplayLabel(), u"I");
  EXPECT_THROW(DS.FieldByName(u"nothing"), tk::EDatabaseError);
  EXPECT_EQ(DS.FindField(u"nothing"), nullptr);
}

TEST_F(FieldTest, PersistentFieldsBindByNameAndCalculatedFieldsFollowTheRecord) {
  testdb::FillNumbered(DS, 5);
  tk::TField& id = DS.AddField(tk::CreateField(TFieldType::dtInteger), u"ID");
  tk::TField& twice = DS.AddField(tk::CreateField(TFieldType::dtInteger), u"TWICE", tk::TFieldKind::fkCalculated);
  int calculations = 0;
  DS.OnCalcFields = [&](tk::TDataSet& ds) {
    ++calculations;
    EXPECT_EQ(ds.State(), tk::TDataSetState::dsCalcFields);
    ds.FieldByName(u"TWICE").SetAsInteger(2 * ds.FieldByName(u"ID").AsInteger());
  };
  DS.Open();
  EXPECT_EQ(DS.FieldCount(), 2);  // persistent fields only: no NAME, no NOTE
  EXPECT_EQ(twice.AsInteger(), 2);
  DS.MoveBy(3);
  EXPECT_EQ(twice.AsInteger(), 8);
  EXPECT_THROW(twice.SetAsInteger(1), tk::EDatabaseError);  // calculated fields belong to OnCalcFields
  DS.Edit();
  EXPECT_THROW(twice.SetAsInteger(1), tk::EDatabaseError);
  id.SetAsInteger(50);
  EXPECT_EQ(twice.AsInteger(), 100);  // recalculated at once while editing
  EXPECT_TRUE(DS.Modified());         // ...without forgetting that the record changed
  DS.Cancel();
  EXPECT_EQ(twice.AsInteger(), 8);
  EXPECT_GT(calculations, 0);
  DS.Close();
  EXPECT_EQ(DS.FieldCount(), 2);  // persistent fields survive closing

  // A persistent field of the wrong kind is refused at opening, and the dataset stays closed.
  tk::TMemDataSet other;
  testdb::FillNumbered(other, 1);
  other.AddField(tk::CreateField(TFieldType::dtString, 10), u"ID");
  EXPECT_THROW(other.Open(), tk::EDatabaseError);
  EXPECT_FALSE(other.Active());
  tk::TMemDataSet missing;
  testdb::FillNumbered(missing, 1);
  missing.AddField(tk::CreateField(TFieldType::dtString, 10), u"GONE");
  EXPECT_THROW(missing.Open(), tk::EDatabaseError);
  EXPECT_FALSE(missing.Active());
}

TEST_F(FieldTest, MemoContentGoesThroughTheBlobStream) {
  testdb::FillNumbered(DS, 2);
  DS.Open();
  tk::TField& note = DS.FieldByName(u"NOTE");
  EXPECT_TRUE(note.IsNull());
  EXPECT_EQ(note.DisplayText(), u"(Memo)");
  EXPECT_THROW(note.SetAsString(u"not editing"), tk::EDatabaseError);
  DS.Edit();
  note.SetAsString(u"Hosszú megjegyzés, ékezetekkel: őŐűŰ");
  EXPECT_TRUE(DS.Modified());
  DS.Post();
  DS.Next();
  EXPECT_TRUE(note.IsNull());
  DS.Prior();
  EXPECT_EQ(note.AsString(), u"Hosszú megjegyzés, ékezetekkel: őŐűŰ");
  // An empty text empties the note; a cancelled edit keeps the stored one.
  DS.Edit();
  note.SetAsString(u"");
  EXPECT_TRUE(note.IsNull());
  DS.Cancel();
  EXPECT_EQ(note.AsString(), u"Hosszú megjegyzés, ékezetekkel: őŐűŰ");

  std::unique_ptr<tk::TStream> stream = DS.OpenBlobStream(note, tk::TBlobStreamMode::bmRead);
  ASSERT_TRUE(stream);
  EXPECT_EQ(stream->Seek(-4, tk::TSeekOrigin::soEnd), static_cast<std::int64_t>(tk::Utf16ToUtf8(note.AsString()).size()) - 4);
  EXPECT_EQ(stream->ReadAll().size(), 4u);
  EXPECT_THROW(DS.OpenBlobStream(note, tk::TBlobStreamMode::bmWrite), tk::EDatabaseError);
}

TEST_F(FieldTest, UnicodeConversionsSurviveEveryPlane) {
  const std::u16string text = u"a\u00e9\u0151\u20ac\U0001F600z";
  EXPECT_EQ(tk::Utf8ToUtf16(tk::Utf16ToUtf8(text)), text);
  EXPECT_EQ(tk::Utf8ToUtf16("\xff" "a"), u"\uFFFDa");
  EXPECT_EQ(tk::Utf8ToUtf16("\xc3"), u"\uFFFD");  // cut in the middle of a character
}

TEST_F(FieldTest, DayNumbersMatchTheCalendar) {
  EXPECT_EQ(tk::EncodeDate(1, 1, 1), 1);
  EXPECT_EQ(tk::EncodeDate(2000, 3, 1) - tk::EncodeDate(2000, 2, 28), 2);  // leap year
  EXPECT_EQ(tk::EncodeDate(1900, 3, 1) - tk::EncodeDate(1900, 2, 28), 1);  // not a leap year
  for (std::int64_t day : {std::int64_t{1}, std::int64_t{693594}, std::int64_t{730000}, std::int64_t{3652059}}) {
    int y, m, d;
    tk::DecodeDate(day, y, m, d);
    EXPECT_EQ(tk::EncodeDate(y, m, d), day);
  }
}

}  // namespace
