// Number/text conversions must not follow the host application's locale:
// stream contents written under a comma-decimal locale must still read
// "0.750000", as printf writes it in the C locale.
#include <gtest/gtest.h>

#include <cstdio>

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

}  // namespace
