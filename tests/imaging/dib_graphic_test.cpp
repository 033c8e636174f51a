#include "imaging/dib_graphic.h"

#include <gtest/gtest.h>

namespace lumetra {
namespace {

TEST(DibGraphic, RowStrideAndScanLineLayout) {
  TDibGraphic g;
  g.NewImage(1, 1, ifBlackWhite, nullptr, 300, 300);
  EXPECT_EQ(g.RowStride(), 4);
  g.SetPixelIndex(0, 0, 7);
  EXPECT_EQ(g.ScanLine(0)[0], 0x80);
  g.SetPixelIndex(0, 0, 0);
  EXPECT_EQ(g.ScanLine(0)[0], 0x00);

  g.NewImage(3, 2, ifTrueColor, nullptr, 300, 300);
  EXPECT_EQ(g.RowStride(), 12);
  EXPECT_EQ(g.ScanLine(0), g.PixelMemory() + 12);  // row 0 is the last in memory
  g.SetPixels(2, 0, 0x112233);
  EXPECT_EQ(g.ScanLine(0)[6], 0x33);
  EXPECT_EQ(g.ScanLine(0)[8], 0x11);
  EXPECT_EQ(g.Pixels(2, 0), 0x112233u);
}

TEST(DibGraphic, ResolutionGoesThroughPixelsPerMetre) {
  TDibGraphic g;
  g.NewImage(10, 10, ifGray256, nullptr, 300, 300);
  EXPECT_EQ(g.XDpi(), 300);
  EXPECT_EQ(g.InfoHeader().biXPelsPerMeter, 11811);
}

TEST(DibGraphic, RedIntoBlackAndWhiteIsBlack) {
  TDibGraphic g;
  g.NewImage(8, 1, ifBlackWhite, nullptr, 0, 0);
  g.SetPixels(0, 0, 0xFF0000);
  EXPECT_EQ(g.PixelIndex(0, 0), 0);
  g.SetPixels(1, 0, 0xFFFFFF);
  EXPECT_EQ(g.PixelIndex(1, 0), 1);
}

TEST(DibGraphic, DimensionSettersAndPaletteErrors) {
  TDibGraphic g;
  try {
    g.SetWidth(5);
    FAIL();
  } catch (const ELumetraError& e) {
    EXPECT_EQ(e.Message(), "Dimensions must be change with the NewImage method");
  }
  g.NewImage(2, 2, ifTrueColor, nullptr, 0, 0);
  EXPECT_THROW(g.PixelIndex(0, 0), ELumetraError);
  EXPECT_THROW(g.NewImage(2, 2, static_cast<TImageFormat>(6), nullptr, 0, 0), ELumetraError);
  EXPECT_TRUE(g.Empty());
}

}  // namespace
}  // namespace lumetra
