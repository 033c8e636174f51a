#include "base/conversions.h"

#include <gtest/gtest.h>

#include "base/exception.h"

namespace lumetra {
namespace {

TEST(StrToInt, AcceptsWhatUsersType) {
  EXPECT_EQ(StrToInt("3"), 3);
  EXPECT_EQ(StrToInt("  -12 "), -12);
  EXPECT_EQ(StrToInt("+7"), 7);
  EXPECT_EQ(StrToInt("$FF"), 255);
  EXPECT_EQ(StrToInt("0x10"), 16);
  EXPECT_EQ(StrToInt("2147483647"), 2147483647);
  EXPECT_EQ(StrToInt("-2147483648"), -2147483647 - 1);
}

class StrToIntRejects : public ::testing::TestWithParam<const char*> {};

TEST_P(StrToIntRejects, WithTheStandardText) {
  const std::string text = GetParam();
  try {
    StrToInt(text);
    FAIL() << "no error for '" << text << "'";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'" + text + "' is not a valid integer value");
  }
}

INSTANTIATE_TEST_SUITE_P(BadTexts, StrToIntRejects,
                         ::testing::Values("", " ", "abc", "1.5", "12a", "--1", "2147483648",
                                           "-2147483649", "$", "0x", "1 000"));

TEST(StrToFloat, ParsesDecimalAndExponentForms) {
  EXPECT_EQ(StrToFloat("45"), 45.0L);
  EXPECT_EQ(StrToFloat(" -0.5 "), -0.5L);
  EXPECT_EQ(StrToFloat(".25"), 0.25L);
  EXPECT_EQ(StrToFloat("1e3"), 1000.0L);
  EXPECT_EQ(StrToFloat("2.5E-1"), 0.25L);
  EXPECT_EQ(StrToFloat("+3."), 3.0L);
}

class StrToFloatRejects : public ::testing::TestWithParam<const char*> {};

TEST_P(StrToFloatRejects, WithTheStandardText) {
  const std::string text = GetParam();
  try {
    StrToFloat(text);
    FAIL() << "no error for '" << text << "'";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'" + text + "' is not a valid floating point value");
  }
}

INSTANTIATE_TEST_SUITE_P(BadTexts, StrToFloatRejects,
                         ::testing::Values("", "abc", ".", "1e", "1,5", "1.2.3", "e5", "nan",
                                           "inf", "1e999"));

TEST(Strings, TrimAndCaseHelpers) {
  EXPECT_EQ(Trim("  a b \t"), "a b");
  EXPECT_EQ(UpperCase("tif.Tiff"), "TIF.TIFF");
  EXPECT_TRUE(SameText("*.BMP", "*.bmp"));
  EXPECT_FALSE(SameText("bmp", "bmpx"));
}

}  // namespace
}  // namespace lumetra
