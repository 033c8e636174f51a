#include "base/format.h"

#include <gtest/gtest.h>

#include "base/exception.h"

namespace lumetra {
namespace {

TEST(Format, FillsTheSystemsMessageTemplates) {
  EXPECT_EQ(Format("The %s format does not support multiple images", "TBmpGraphic"),
            "The TBmpGraphic format does not support multiple images");
  EXPECT_EQ(Format("Frame %d does not exist", 0), "Frame 0 does not exist");
  EXPECT_EQ(Format("%s compression not supported with %s images", "JPEG", "Black and white"),
            "JPEG compression not supported with Black and white images");
  EXPECT_EQ(Format("100%% of %d", -7), "100% of -7");
  EXPECT_EQ(Format("no arguments"), "no arguments");
}

TEST(Format, WidthPrecisionAndHex) {
  EXPECT_EQ(Format("[%5d]", 42), "[   42]");
  EXPECT_EQ(Format("[%-5d]", 42), "[42   ]");
  EXPECT_EQ(Format("%.3d", 7), "007");
  EXPECT_EQ(Format("%x", 255u), "ff");
  EXPECT_EQ(Format("%.8X", 0x80004005u), "80004005");
  EXPECT_EQ(Format("%.2f", 2.5), "2.50");
  EXPECT_EQ(Format("%.1f", -0.25), "-0.2");  // ties go to even on the binary value
  EXPECT_EQ(Format("%.3s", "abcdef"), "abc");
}

TEST(Format, MisuseRaisesInsteadOfReadingPastTheArguments) {
  EXPECT_THROW(Format("%s and %s", "one"), Exception);
  EXPECT_THROW(Format("%d", "text"), Exception);
  EXPECT_THROW(Format("trailing %"), Exception);
}

TEST(Format, FloatTextUsesAPointWhateverTheLocale) {
  EXPECT_EQ(FloatToStr(0.5), "0.5");
  EXPECT_EQ(FloatToStr(612.0), "612");
  EXPECT_EQ(FloatToStrF(841.889763, 2), "841.89");
  EXPECT_EQ(FloatToStrF(3.0, 0), "3");
}

}  // namespace
}  // namespace lumetra
