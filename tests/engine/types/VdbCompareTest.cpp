// Comparison of values: the expression relation (float tolerance, null undefined) and the exact
// total order used by indexes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include "base/VdbErrors.h"
#include "types/VdbData.h"

using namespace vdb;

namespace {

const TVdbDataType& Type(TVdbColumnType code, bool nullable = true) {
  return *TVdbDataType::GetDataType(code, nullable, 6);
}

TVdbDataValue Float(double d) {
  TVdbDataValue v;
  Type(vctFloat).SetDouble(v, d);
  return v;
}

TVdbDataValue Int(std::int64_t i, TVdbColumnType code = vctBigInt) {
  TVdbDataValue v;
  Type(code).SetInteger(v, i);
  return v;
}

int Reverse(int r) { return r == vcrLess ? vcrGreater : r == vcrGreater ? vcrLess : r; }

}  // namespace

TEST(VdbCompare, FloatsWithinTheRelativeToleranceAreEqualInExpressions) {
  const auto& f = Type(vctFloat);
  struct Case {
    double A, B;
    int Expression, Index;
  } cases[] = {
      {2.0, 2.0000000000000004, vcrEqual, vcrLess},
      {1e-300, 2e-300, vcrEqual, vcrLess},  // |a| + |b| below the bound
      {0.0, 1e-16, vcrEqual, vcrLess},
      {1e-10, 2e-10, vcrLess, vcrLess},
      {1.0, 1.1, vcrLess, vcrLess},
      {-0.0, 0.0, vcrEqual, vcrEqual},
      {-1.0, -1.0000000000000002, vcrEqual, vcrGreater},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.A << " vs " << c.B);
    const auto a = Float(c.A), b = Float(c.B);
    EXPECT_EQ(TVdbDataType::Compare(a, b, f, f), c.Expression);
    EXPECT_EQ(TVdbDataType::Compare(a, b, f, f, 0, vcmIndex), c.Index);
    EXPECT_EQ(TVdbDataType::Compare(b, a, f, f, 0, vcmIndex), Reverse(c.Index));
  }
}

TEST(VdbCompare, NullIsUndefinedInExpressionsAndFirstInIndexOrder) {
  const auto& t = Type(vctInteger);
  TVdbDataValue null, one = Int(1, vctInteger);
  t.SetNull(null);
  EXPECT_EQ(TVdbDataType::Compare(null, one, t, t), vcrUndefined);
  EXPECT_EQ(TVdbDataType::Compare(null, null, t, t), vcrUndefined);
  EXPECT_EQ(TVdbDataType::Compare(null, one, t, t, 0, vcmIndex), vcrLess);
  EXPECT_EQ(TVdbDataType::Compare(one, null, t, t, 0, vcmIndex), vcrGreater);
  EXPECT_EQ(TVdbDataType::Compare(null, null, t, t, 0, vcmIndex), vcrEqual);
  const auto* nt = TVdbDataType::GetNullType(0);
  TVdbDataValue n;
  nt->SetNull(n);
  EXPECT_EQ(TVdbDataType::Compare(one, n, t, *nt), vcrUndefined);
  EXPECT_EQ(TVdbDataType::Compare(one, n, t, *nt, 0, vcmIndex), vcrGreater);
}

// The tolerance relation chains: a ~ b and b ~ c although a < c. The index order must not.
TEST(VdbCompare, ExpressionRelationIsNotTransitiveButIndexOrderIs) {
  const auto& f = Type(vctFloat);
  const auto a = Float(1.0), b = Float(1.0 + 1.5e-15), c = Float(1.0 + 3e-15);
  EXPECT_EQ(TVdbDataType::Compare(a, b, f, f), vcrEqual);
  EXPECT_EQ(TVdbDataType::Compare(b, c, f, f), vcrEqual);
  EXPECT_EQ(TVdbDataType::Compare(a, c, f, f), vcrLess);
  EXPECT_EQ(TVdbDataType::Compare(a, b, f, f, 0, vcmIndex), vcrLess);
  EXPECT_EQ(TVdbDataType::Compare(b, c, f, f, 0, vcmIndex), vcrLess);
}

TEST(VdbCompare, IndexOrderOfFloatsAndIntegersIsATotalOrder) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<std::pair<const TVdbDataType*, TVdbDataValue>> values;
  auto addFloat = [&](double d) { values.emplace_back(&Type(vctFloat), Float(d)); };
  auto addInt = [&](std::int64_t i) { values.emplace_back(&Type(vctBigInt), Int(i)); };
  for (double d : {nan, -nan, inf, -inf, 0.0, -0.0, 1.0, 1.0 + 1.5e-15, 1.0 + 3e-15, 2.0, 2.0000000000000004,
                   -1.0, 5e-324, -5e-324, 1e300, 9007199254740992.0, 9223372036854775808.0,
                   -9223372036854775808.0, 0.5, -0.5})
    addFloat(d);
  for (std::int64_t i : {std::int64_t{0}, std::int64_t{1}, std::int64_t{2}, std::int64_t{-1},
                         std::int64_t{9007199254740993}, std::numeric_limits<std::int64_t>::max(),
                         std::numeric_limits<std::int64_t>::min()})
    addInt(i);
  TVdbDataValue null;
  Type(vctFloat).SetNull(null);
  values.emplace_back(&Type(vctFloat), null);
  std::mt19937 rng(20141);
  std::uniform_real_distribution<double> dist(-3, 3);
  for (int i = 0; i < 20; ++i) addFloat(dist(rng));

  const std::size_t n = values.size();
  std::vector<std::vector<int>> cmp(n, std::vector<int>(n));
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j)
      cmp[i][j] = TVdbDataType::Compare(values[i].second, values[j].second, *values[i].first, *values[j].first, 0,
                                        vcmIndex);
  for (std::size_t i = 0; i < n; ++i) {
    EXPECT_EQ(cmp[i][i], vcrEqual) << i;
    for (std::size_t j = 0; j < n; ++j) {
      ASSERT_NE(cmp[i][j], vcrUndefined);
      EXPECT_EQ(cmp[j][i], Reverse(cmp[i][j])) << i << "," << j;
      for (std::size_t k = 0; k < n; ++k) {
        // a <= b and b <= c give a <= c; equal chains stay equal.
        if (cmp[i][j] != vcrGreater && cmp[j][k] != vcrGreater) {
          EXPECT_NE(cmp[i][k], vcrGreater) << i << "," << j << "," << k;
        }
        if (cmp[i][j] == vcrEqual && cmp[j][k] == vcrEqual) {
          EXPECT_EQ(cmp[i][k], vcrEqual) << i << "," << j << "," << k;
        }
      }
    }
  }
  // Spot checks: NaN above everything, -0 equals +0, exact integer/float order.
  EXPECT_EQ(VdbCompareFloat(nan, inf, vcmIndex), vcrGreater);
  EXPECT_EQ(VdbCompareFloat(nan, -nan, vcmIndex), vcrEqual);
  EXPECT_EQ(VdbCompareFloat(-0.0, 0.0, vcmIndex), vcrEqual);
  const auto bigInt = Int(9007199254740993);
  const auto bigFloat = Float(9007199254740992.0);
  EXPECT_EQ(TVdbDataType::Compare(bigInt, bigFloat, Type(vctBigInt), Type(vctFloat), 0, vcmIndex), vcrGreater);
  EXPECT_EQ(TVdbDataType::Compare(bigFloat, bigInt, Type(vctFloat), Type(vctBigInt), 0, vcmIndex), vcrLess);
}

TEST(VdbCompare, IntegersEnumsDatesAndGuids) {
  // Integers of different widths compare by value.
  EXPECT_EQ(TVdbDataType::Compare(Int(-1, vctSmallInt), Int(255, vctByte), Type(vctSmallInt), Type(vctByte)), vcrLess);
  // Enumerations by item value.
  const auto* e = TVdbDataType::GetEnumType(false, false, {{u"b", 2}, {u"a", 1}}, 6);
  TVdbDataValue a, b;
  e->SetInteger(a, 2);
  e->SetInteger(b, 1);
  EXPECT_EQ(TVdbDataType::Compare(a, b, *e, *e), vcrGreater);
  // A date against a timestamp of the same day at noon.
  TVdbDataValue d, ts;
  Type(vctDate).SetDate(d, VdbEncodeDate(2014, 3, 1));
  Type(vctTimeStamp).SetTimeStamp(ts, {VdbEncodeDate(2014, 3, 1), 43200000});
  EXPECT_EQ(TVdbDataType::Compare(d, ts, Type(vctDate), Type(vctTimeStamp)), vcrLess);
  EXPECT_EQ(TVdbDataType::Compare(ts, d, Type(vctTimeStamp), Type(vctDate)), vcrGreater);
  // GUIDs: Data1, Data2, Data3, bytes 8-9 as a little-endian number, then bytes 15 down to 10.
  const auto& g = Type(vctGuid);
  struct Case {
    TVdbGuid A, B;
    int Expected;
  } guids[] = {
      {{1, 0, 0, {}}, {0x80000000, 0, 0, {}}, vcrLess},  // unsigned Data1
      {{1, 2, 0, {}}, {1, 1, 9, {}}, vcrGreater},
      {{0, 0, 0, {1, 0}}, {0, 0, 0, {0, 1}}, vcrLess},  // byte 9 is the high byte
      {{0, 0, 0, {0, 0, 9, 0, 0, 0, 0, 0}}, {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}}, vcrLess},  // byte 15 first
      {{0, 0, 0, {0, 0, 1, 2, 3, 4, 5, 6}}, {0, 0, 0, {0, 0, 1, 2, 3, 4, 5, 6}}, vcrEqual},
  };
  for (const auto& c : guids) {
    TVdbDataValue x, y;
    g.SetGuid(x, c.A);
    g.SetGuid(y, c.B);
    EXPECT_EQ(TVdbDataType::Compare(x, y, g, g), c.Expected) << (&c - guids);
  }
  // Incomparable types raise a type mismatch.
  EXPECT_FALSE(TVdbDataType::CanCompare(g, Type(vctInteger)));
  EXPECT_THROW(TVdbDataType::Compare(a, d, *e, Type(vctDate)), EVdbEngine);
}

TEST(VdbCompare, StringsOfDifferentCodePagesCompareAsText) {
  const auto* hu = TVdbDataType::GetStringType(vctString, true, 20, u"Hungarian", 6);
  const auto* builtIn = TVdbDataType::GetStringType(vctString, true, 20, u"", 6);
  const auto* wide = TVdbDataType::GetStringType(vctWideString, true, 20, u"Hungarian", 6);
  TVdbDataValue a, b, c;
  hu->SetWideString(a, u"Péter");
  builtIn->SetWideString(b, u"Péter");
  wide->SetWideString(c, u"Péter");
  EXPECT_EQ(TVdbDataType::Compare(a, b, *hu, *builtIn), vcrEqual);
  EXPECT_EQ(TVdbDataType::Compare(a, c, *hu, *wide), vcrEqual);
  EXPECT_EQ(TVdbDataType::Compare(c, a, *wide, *hu), vcrEqual);
}
