// Number/text conversions must not follow the host application's locale:
// stream contents written under a comma-decimal locale must still read
// "0.750000", as printf writes it in the C locale. Also their sign and
// range rules, and the checked size arithmetic and allocation helpers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

#include "common/checked.h"
#include "common/text.h"
#include "support/test_support.h"

namespace {

TEST(TextTest, ConvertsAsPrintfDoesInTheCLocaleUnderACommaDecimalLocale) {
  if (!tsltest::UseCommaDecimalLocale()) GTEST_SKIP() << "no comma-decimal locale available";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%f", 0.75);
  EXPECT_STREQ(buf, "0,750000") << "the locale really is in force";
  EXPECT_EQ(tsl::FormatFixed(0.75), "0.750000");
  EXPECT_EQ(tsl::FormatFixed(2.25, 2), "2.25");
  EXPECT_EQ(tsl::FormatFixed(-1.5, 0), "-2");  // round half to even, as printf
  EXPECT_EQ(tsl::FormatGeneral(0.1), "0.1");
  EXPECT_EQ(tsl::FormatGeneral(1e-7), "1e-07");
  EXPECT_EQ(tsl::FormatGeneral(123456789.0), "1.23457e+08");
  EXPECT_EQ(tsl::FormatInt(-42), "-42");
  double v = 0;
  const char *end = nullptr;
  ASSERT_TRUE(tsl::ParseDouble("  3.5e2xyz", &v, &end));
  EXPECT_EQ(v, 350.0);
  EXPECT_STREQ(end, "xyz");
  ASSERT_TRUE(tsl::ParseDouble("+0.25", &v));
  EXPECT_EQ(v, 0.25);
  EXPECT_FALSE(tsl::ParseDouble("x1", &v));
  EXPECT_FALSE(tsl::ParseDouble("+-1", &v));
  long l = 0;
  ASSERT_TRUE(tsl::ParseLong(" 500 ", &l, &end));
  EXPECT_EQ(l, 500);
  EXPECT_FALSE(tsl::ParseLong("99999999999999999999", &l));
  tsltest::RestoreCLocale();
}

TEST(TextTest, ParseLongTakesOneSignOnly) {
  long l = 7;
  EXPECT_FALSE(tsl::ParseLong("+-5", &l));
  EXPECT_EQ(l, 7) << "nothing stored";
  ASSERT_TRUE(tsl::ParseLong("+5", &l));
  EXPECT_EQ(l, 5);
  ASSERT_TRUE(tsl::ParseLong("-5", &l));
  EXPECT_EQ(l, -5);
}

// As strtod: a value too large becomes the infinity of its sign, one too
// small (below half the smallest subnormal) a zero of its sign.
TEST(TextTest, ParseDoubleSaturatesLargeValuesAndUnderflowsToSignedZero) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::string zeros(500, '0');
  const struct { std::string text; double value; bool negative; } cases[] = {
      {"1e400", inf, false},
      {"-1e400", -inf, true},
      {"0.00000000000000000001e420", inf, false},  // 1e400
      {"1e-400", 0.0, false},
      {"-1e-400", 0.0, true},
      {"100000000000000000000000e-400", 0.0, false},  // 1e-377
      {zeros + "1e-400", 0.0, false},                 // leading zeros weigh nothing
      {"0." + zeros + "1e100", 0.0, false},           // 1e-401
      {"-1e-99999999999999999999", 0.0, true},
      {"2.4703282292062328e-324", std::numeric_limits<double>::denorm_min(), false},
      {"2.4703282292062327e-324", 0.0, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    double v = 42;
    const char *end = nullptr;
    ASSERT_TRUE(tsl::ParseDouble(c.text.c_str(), &v, &end));
    EXPECT_EQ(v, c.value);
    EXPECT_EQ(std::signbit(v), c.negative);
    EXPECT_EQ(*end, '\0');
  }
}

TEST(TextTest, InfinitiesFormatWithTheirSign) {
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(tsl::FormatGeneral(-inf), "-inf");
  EXPECT_EQ(tsl::FormatGeneral(inf), "inf");
  EXPECT_EQ(tsl::FormatFixed(-inf), "-inf");
  EXPECT_EQ(tsl::FormatFixed(inf, 2), "inf");
}

// A request for no bytes gets no buffer (malloc(0) may hand out one that
// cannot be used); one byte does.
TEST(CheckedTest, SafeMallocOfZeroBytesIsNull) {
  EXPECT_EQ(tsl::SafeMalloc(0, 16), nullptr);
  EXPECT_EQ(tsl::SafeMalloc(16, 0), nullptr);
  void *one = tsl::SafeMalloc(1, 1);
  EXPECT_NE(one, nullptr);
  std::free(one);
}

// The largest factor that fits is SIZE_MAX / a, whether or not a divides
// SIZE_MAX; one more overflows, in either order.
TEST(CheckedTest, MultiplyTakesSizeMaxOverAAndRefusesOneMore) {
  for (size_t a : {size_t{2}, size_t{3}, size_t{10}, size_t{1} << 32, SIZE_MAX}) {
    SCOPED_TRACE(a);
    const size_t fits = SIZE_MAX / a;
    size_t out = 0;
    EXPECT_TRUE(tsl::CheckedMul(a, fits, &out));
    EXPECT_EQ(out, a * fits);
    EXPECT_TRUE(tsl::CheckedMul(fits, a, &out));
    EXPECT_EQ(out, a * fits);
    EXPECT_FALSE(tsl::CheckedMul(a, fits + 1, &out));
    EXPECT_FALSE(tsl::CheckedMul(fits + 1, a, &out));
  }
  // A zero factor must not be divided by (factors hidden from the
  // compiler, which could otherwise fold the division away).
  volatile size_t zero = 0, big = SIZE_MAX;
  size_t out = 1;
  EXPECT_TRUE(tsl::CheckedMul(zero, big, &out));
  EXPECT_EQ(out, 0u);
  EXPECT_TRUE(tsl::CheckedMul(big, zero, &out));
  EXPECT_EQ(out, 0u);
  // Three factors: the second product overflows as surely as the first.
  EXPECT_TRUE(tsl::CheckedMul(size_t{1} << 32, size_t{1} << 31, 1, &out));
  EXPECT_EQ(out, size_t{1} << 63);
  EXPECT_FALSE(tsl::CheckedMul(size_t{1} << 32, size_t{1} << 31, 2, &out));
  EXPECT_FALSE(tsl::CheckedMul(size_t{1} << 32, size_t{1} << 32, 1, &out));
}

TEST(CheckedTest, AddTakesSizeMaxLessAAndRefusesOneMore) {
  for (size_t a : {size_t{1}, size_t{1000}, SIZE_MAX / 2, SIZE_MAX}) {
    SCOPED_TRACE(a);
    size_t out = 0;
    EXPECT_TRUE(tsl::CheckedAdd(a, SIZE_MAX - a, &out));
    EXPECT_EQ(out, SIZE_MAX);
    EXPECT_TRUE(tsl::CheckedAdd(SIZE_MAX - a, a, &out));
    EXPECT_EQ(out, SIZE_MAX);
    EXPECT_FALSE(tsl::CheckedAdd(a, SIZE_MAX - a + 1, &out));
    EXPECT_FALSE(tsl::CheckedAdd(SIZE_MAX - a + 1, a, &out));
  }
  size_t out = 1;
  EXPECT_TRUE(tsl::CheckedAdd(0, 0, &out));
  EXPECT_EQ(out, 0u);
}

}  // namespace
