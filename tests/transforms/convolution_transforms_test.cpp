#include "transforms/convolution_transforms.h"

#include <memory>

#include <gtest/gtest.h>

#include "support/test_images.h"

namespace lumetra {
namespace {

using testing::MakePattern;
using testing::SameImage;

void MakeFlat(TDibGraphic& g, TImageFormat format, int w, int h, std::uint32_t colour) {
  g.NewImage(w, h, format, nullptr, 0, 0);
  g.Fill(colour);
}

class ConvolutionByFormat : public ::testing::TestWithParam<TImageFormat> {};

TEST_P(ConvolutionByFormat, ConstantImageStaysConstantThroughSharpenAndSmooth) {
  TDibGraphic source, dest;
  // A mid colour: white or black would stay so through any wrong kernel sum,
  // clamped at the ends of the range.
  MakeFlat(source, GetParam(), 17, 9, 0x806040);
  const std::uint32_t colour = source.Pixels(0, 0);
  std::unique_ptr<TConvolutionTransform> filters[] = {
      std::make_unique<TSharpenTransform>(), std::make_unique<TSmoothTransform>(),
      std::make_unique<TConvolutionTransform>()};
  for (auto& filter : filters) {
    filter->ApplyOnDest(source, dest);
    ASSERT_EQ(dest.ImageFormat(), ifTrueColor) << filter->ClassName();
    for (int y = 0; y < 9; ++y)
      for (int x = 0; x < 17; ++x) ASSERT_EQ(dest.Pixels(x, y), colour) << filter->ClassName();
  }
}

TEST_P(ConvolutionByFormat, EdgeOfFlatColourIsBlackInsideWithSourceBorder) {
  TDibGraphic source, dest;
  MakePattern(source, GetParam(), 8, 6);
  for (int y = 1; y < 5; ++y)
    for (int x = 1; x < 7; ++x) source.SetPixels(x, y, source.Pixels(0, 0));
  // The flat interior is what the border pixels surround only at (2..5, 2..3).
  TEdgeTransform().ApplyOnDest(source, dest);
  for (int x = 0; x < 8; ++x) {
    EXPECT_EQ(dest.Pixels(x, 0), source.Pixels(x, 0));
    EXPECT_EQ(dest.Pixels(x, 5), source.Pixels(x, 5));
  }
  for (int y = 0; y < 6; ++y) EXPECT_EQ(dest.Pixels(7, y), source.Pixels(7, y));
  for (int y = 2; y <= 3; ++y)
    for (int x = 2; x <= 5; ++x) EXPECT_EQ(dest.Pixels(x, y), 0u);
}

TEST_P(ConvolutionByFormat, ImagesBelowThreeByThreeAreCopied) {
  TDibGraphic source, dest;
  MakePattern(source, GetParam(), 2, 10);
  std::unique_ptr<TImageTransform> filters[] = {
      std::make_unique<TConvolutionTransform>(), std::make_unique<TSharpenTransform>(),
      std::make_unique<TSmoothTransform>(), std::make_unique<TEdgeTransform>(),
      std::make_unique<TEmbossTransform>()};
  for (auto& filter : filters) {
    filter->ApplyOnDest(source, dest);
    EXPECT_TRUE(SameImage(source, dest)) << filter->ClassName();
  }
}

INSTANTIATE_TEST_SUITE_P(AllFormats, ConvolutionByFormat, ::testing::ValuesIn(testing::kAllFormats),
                         testing::FormatLabel);

TEST(Convolution, PresetsSetCentreAndDivisorFromLevel) {
  struct Case {
    std::uint8_t level;
    int centre, divisor;
  };
  TDibGraphic source, dest;
  MakeFlat(source, ifTrueColor, 3, 3, 0);
  for (Case c : {Case{10, 37, 25}, Case{100, 15, 3}, Case{0, 40, 28}}) {
    TSharpenTransform sharpen;
    sharpen.SetLevel(c.level);
    sharpen.ApplyOnDest(source, dest);
    EXPECT_EQ(sharpen.Kernel(1, 1), c.centre) << int(c.level);
    EXPECT_EQ(sharpen.KernelDivisor(), c.divisor) << int(c.level);
  }
  TSmoothTransform smooth;
  smooth.ApplyOnDest(source, dest);
  EXPECT_EQ(smooth.Kernel(1, 1), 35);
  EXPECT_EQ(smooth.KernelDivisor(), 47);
}

TEST(Convolution, SumsAreDividedTruncatedAndLimited) {
  TDibGraphic source, dest;
  MakeFlat(source, ifTrueColor, 3, 3, 0x646464);  // 100
  source.SetPixels(1, 1, 0xC80000);               // red 200, green and blue 0
  TSharpenTransform().ApplyOnDest(source, dest);
  // red: (37 * 200 - 12 * 100) div 25 = 248; green: -1200 < 0 -> 0
  EXPECT_EQ(dest.Pixels(1, 1), 0xF80000u);

  TConvolutionTransform custom;
  custom.SetKernelDivisor(0);  // replaced by 1
  custom.ApplyOnDest(source, dest);
  EXPECT_EQ(custom.KernelDivisor(), 1);
  EXPECT_EQ(dest.Pixels(1, 1), 0xC80000u);
  custom.SetKernelDivisor(-1);  // a negative quotient is black, not a wrapped value
  custom.ApplyOnDest(source, dest);
  EXPECT_EQ(dest.Pixels(1, 1), 0u);
  custom.SetKernel(1, 1, 3);
  custom.SetKernelDivisor(1);
  custom.ApplyOnDest(source, dest);
  EXPECT_EQ(dest.Pixels(1, 1), 0xFF0000u);  // 600 limited to 255
}

TEST(Convolution, EmbossOfFlatGreyIsGrey) {
  TDibGraphic source, dest;
  MakeFlat(source, ifGray256, 6, 6, 0x808080);
  TEmbossTransform().ApplyOnDest(source, dest);
  EXPECT_EQ(dest.Pixels(3, 3), 0x808080u);
}

// --- anti-alias ----------------------------------------------------------------

TEST(AntiAlias, FlatPagesShrinkToFlatGrey) {
  TDibGraphic source, dest;
  TAntiAliasTransform aa;
  aa.SetTargetWidth(10);
  aa.SetTargetHeight(10);
  for (auto [colour, grey] : {std::pair{0x000000u, 0u}, {0xFFFFFFu, 255u}}) {
    MakeFlat(source, ifBlackWhite, 100, 100, colour);
    aa.ApplyOnDest(source, dest);
    ASSERT_EQ(dest.ImageFormat(), ifGray256);
    ASSERT_EQ(dest.Width(), 10);
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 10; ++x) ASSERT_EQ(dest.ScanLine(y)[x], grey);
  }
}

TEST(AntiAlias, SameSizeCountsTwoRowsAndNeverTheLastColumn) {
  TDibGraphic source, dest;
  MakeFlat(source, ifBlackWhite, 21, 12, 0xFFFFFF);
  for (int x = 0; x < 21; ++x) source.SetPixels(x, 5, 0);
  TAntiAliasTransform().ApplyOnDest(source, dest);  // sizes 0: the source's
  ASSERT_EQ(dest.Width(), 21);
  ASSERT_EQ(dest.Height(), 12);
  for (int x = 0; x < 20; ++x) {
    EXPECT_EQ(dest.ScanLine(4)[x], 127) << x;  // rows 4 and 5: one of two black
    EXPECT_EQ(dest.ScanLine(5)[x], 127) << x;
    EXPECT_EQ(dest.ScanLine(6)[x], 255) << x;
  }
  MakeFlat(source, ifBlackWhite, 21, 12, 0);
  TAntiAliasTransform().ApplyOnDest(source, dest);
  for (int y = 0; y < 12; ++y) {
    EXPECT_EQ(dest.ScanLine(y)[19], 0);
    EXPECT_EQ(dest.ScanLine(y)[20], 255);  // nothing counted
  }
}

TEST(AntiAlias, CellsAreGradedByTheirShareOfWhite) {
  // 16 x 2 source into 2 x 1: cell 0 counts columns 0..7 of both rows (16
  // pixels), cell 1 columns 8..14 (14 pixels; the last column is not counted).
  TDibGraphic source, dest;
  TAntiAliasTransform aa;
  aa.SetTargetWidth(2);
  aa.SetTargetHeight(1);
  struct Case {
    int white0, white1, grey0, grey1;
  };
  for (Case c : {Case{4, 1, 4 * 255 / 16, 255 / 14}, Case{15, 0, 255, 0}, Case{1, 13, 0, 13 * 255 / 14},
                 Case{2, 2, 2 * 255 / 16, 2 * 255 / 14}}) {
    MakeFlat(source, ifBlackWhite, 16, 2, 0);
    for (int i = 0; i < c.white0; ++i) source.SetPixels(i % 8, i / 8, 0xFFFFFF);
    for (int i = 0; i < c.white1; ++i) source.SetPixels(8 + i % 7, i / 7, 0xFFFFFF);
    aa.ApplyOnDest(source, dest);
    EXPECT_EQ(dest.ScanLine(0)[0], c.grey0) << c.white0;
    EXPECT_EQ(dest.ScanLine(0)[1], c.grey1) << c.white1;
  }
}

TEST(AntiAlias, OtherFormatsAreLeftAlone) {
  TDibGraphic image, original, dest;
  MakePattern(image, ifGray256, 10, 10);
  original.Assign(&image);
  TAntiAliasTransform aa;
  aa.SetTargetWidth(5);
  aa.Apply(image);
  EXPECT_TRUE(SameImage(original, image));
  aa.ApplyOnDest(image, dest);
  EXPECT_TRUE(SameImage(original, dest));
}

}  // namespace
}  // namespace lumetra
