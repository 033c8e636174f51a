#include "transforms/point_transforms.h"

#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "support/test_images.h"

namespace lumetra {
namespace {

using testing::MakePattern;
using testing::SameImage;

TEST(ImageTransform, BaseApplyOnDestNamesTheClass) {
  TImageTransform transform;
  TDibGraphic source, dest;
  MakePattern(source, ifGray256, 4, 4);
  try {
    transform.Apply(source);
    FAIL() << "no exception";
  } catch (const ELumetraError& e) {
    EXPECT_EQ(e.Message(), "Method \"ApplyOnDest\" not implemented for TImageTransform class");
  }
  EXPECT_EQ(source.Width(), 4);  // the image survives the failed Apply
}

TEST(ImageTransform, ProgressRunsFromZeroToHundredWithoutRepeats) {
  TDibGraphic image;
  MakePattern(image, ifTrueColor, 7, 250);
  TGammaTransform gamma;
  std::vector<int> seen;
  gamma.OnProgress = [&](TObject* sender, std::uint8_t percent) {
    EXPECT_EQ(sender, &gamma);
    seen.push_back(percent);
  };
  for (int run = 0; run < 2; ++run) {  // a transform may be applied again
    seen.clear();
    gamma.Apply(image);
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(seen.front(), 0);
    EXPECT_EQ(seen.back(), 100);
    for (std::size_t i = 1; i < seen.size(); ++i) EXPECT_GT(seen[i], seen[i - 1]);
  }
}

TEST(Negative, IndexFormatsInvertIndicesIncludingPadding) {
  for (TImageFormat format : {ifBlackWhite, ifGray16, ifGray256}) {
    TDibGraphic image, original;
    MakePattern(image, format, 13, 5);  // 13 pixels leave padding in every row
    original.Assign(&image);
    TNegativeTransform negative;
    negative.Apply(image);
    const int top = PaletteEntryCount(format) - 1;
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 13; ++x) ASSERT_EQ(image.PixelIndex(x, y), top - original.PixelIndex(x, y));
    negative.Apply(image);
    EXPECT_EQ(0, std::memcmp(image.PixelMemory(), original.PixelMemory(), image.ImageSize()));
  }
}

TEST(Negative, ColourMappedImagesInvertThePalette) {
  for (TImageFormat format : {ifColor16, ifColor256}) {
    TDibGraphic source, dest;
    MakePattern(source, format, 11, 6);
    TNegativeTransform().ApplyOnDest(source, dest);
    ASSERT_EQ(dest.ImageFormat(), format);
    EXPECT_EQ(0, std::memcmp(source.PixelMemory(), dest.PixelMemory(), source.ImageSize()));
    for (int i = 0; i < PaletteEntryCount(format); ++i) {
      const TPaletteEntry& s = source.LogPalette()->palPalEntry[i];
      const TPaletteEntry& d = dest.LogPalette()->palPalEntry[i];
      ASSERT_EQ(d.peRed, 255 - s.peRed);
      ASSERT_EQ(d.peGreen, 255 - s.peGreen);
      ASSERT_EQ(d.peBlue, 255 - s.peBlue);
    }
    EXPECT_EQ(dest.Pixels(3, 2), 0xFFFFFF - source.Pixels(3, 2));
  }
}

TEST(Negative, TrueColourPixels) {
  TDibGraphic image;
  image.NewImage(2, 1, ifTrueColor, nullptr, 0, 0);
  image.SetPixels(0, 0, 0x102030);
  image.SetPixels(1, 0, 0xFF00FF);
  TNegativeTransform().Apply(image);
  EXPECT_EQ(image.Pixels(0, 0), 0xEFDFCFu);
  EXPECT_EQ(image.Pixels(1, 0), 0x00FF00u);
}

TEST(Brightness, GreyLightnessIsTruncatedAfterTheShift) {
  TDibGraphic image;
  image.NewImage(2, 1, ifTrueColor, nullptr, 0, 0);
  image.SetPixels(0, 0, 0x808080);
  image.SetPixels(1, 0, 0xFFFFFF);
  TBrightnessTransform brightness;
  brightness.SetAmount(3);
  brightness.Apply(image);
  EXPECT_EQ(image.Pixels(0, 0), 0x888888u);  // (136, 136, 136)
  EXPECT_EQ(image.Pixels(1, 0), 0xFFFFFFu);  // lightness limited to 1
}

TEST(Brightness, IndexedImagesAreRematchedToTheirPalette) {
  TDibGraphic image;
  image.NewImage(1, 1, ifGray16, nullptr, 0, 0);
  image.SetPixelIndex(0, 0, 7);  // 0x77
  TBrightnessTransform brightness;
  brightness.SetAmount(5);  // lightness 0.467 + 0.05 -> 132, nearest level 0x88
  brightness.Apply(image);
  EXPECT_EQ(image.ImageFormat(), ifGray16);
  EXPECT_EQ(image.PixelIndex(0, 0), 8);
}

TEST(PointTransforms, SettersLimitTheirValues) {
  TBrightnessTransform brightness;
  brightness.SetAmount(-250);
  EXPECT_EQ(brightness.Amount(), -100.0);
  brightness.SetAmount(300);
  EXPECT_EQ(brightness.Amount(), 100.0);
  TGammaTransform gamma;
  gamma.SetGammaValue(10);
  EXPECT_EQ(gamma.GammaValue(), 7.0);
  gamma.SetGammaValue(0);
  EXPECT_EQ(gamma.GammaValue(), 0.1);
}

TEST(Hsl, SaturatedColoursRoundTrip) {
  for (std::uint32_t c : {0xFF0000u, 0x00FF00u, 0x0000FFu, 0xFFFF00u, 0x00FFFFu, 0xFF00FFu, 0x336699u}) {
    const THsl hsl = RgbToHsl((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF);
    EXPECT_EQ(HslToRgb(hsl), c) << std::hex << c;
  }
  EXPECT_EQ(RgbToHsl(9, 9, 9).Hue, -1.0f);
  EXPECT_FLOAT_EQ(RgbToHsl(255, 0, 0).Hue, 1.0f);  // sextant 6 wraps to 0 on the way back
  EXPECT_FLOAT_EQ(RgbToHsl(0, 0, 255).Hue, 4.0f / 6.0f);
}

TEST(Contrast, ZeroStrengthKeepsLightnessAndDefaultSpreadsMidTones) {
  TDibGraphic image, original;
  MakePattern(image, ifGray256, 16, 16);
  original.Assign(&image);
  TContrastTransform contrast;
  contrast.SetStrength(0);
  contrast.Apply(image);
  EXPECT_TRUE(SameImage(original, image));

  TDibGraphic pair;
  pair.NewImage(2, 1, ifTrueColor, nullptr, 0, 0);
  pair.SetPixels(0, 0, 0x606060);
  pair.SetPixels(1, 0, 0xA0A0A0);
  TContrastTransform().Apply(pair);
  EXPECT_LT(pair.Pixels(0, 0) & 0xFF, 0x60u);
  EXPECT_GT(pair.Pixels(1, 0) & 0xFF, 0xA0u);
  TContrastTransform lower;
  lower.SetIncreaseContrast(false);
  lower.Apply(pair);
  lower.Apply(pair);
  EXPECT_GT(pair.Pixels(0, 0) & 0xFF, 0x50u);
}

TEST(Gamma, ResultIsTrueColourForEveryFormat) {
  for (TImageFormat format : testing::kAllFormats) {
    TDibGraphic source, dest;
    MakePattern(source, format, 9, 4);
    TGammaTransform().ApplyOnDest(source, dest);
    ASSERT_EQ(dest.ImageFormat(), ifTrueColor);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 9; ++x) ASSERT_EQ(dest.Pixels(x, y), source.Pixels(x, y));
  }
  TDibGraphic grey, dest;
  grey.NewImage(1, 1, ifTrueColor, nullptr, 0, 0);
  grey.SetPixels(0, 0, 0x400000);
  TGammaTransform gamma;
  gamma.SetGammaValue(2.0);
  gamma.ApplyOnDest(grey, dest);
  EXPECT_EQ(dest.Pixels(0, 0), 0x800000u);  // sqrt(64/255) * 255 = 127.75
}

TEST(ConvertToGray, WeightsAndTargets) {
  TDibGraphic source, dest;
  source.NewImage(3, 1, ifTrueColor, nullptr, 0, 0);
  source.SetPixels(0, 0, 0xFF0000);
  source.SetPixels(1, 0, 0xFFFFFF);
  source.SetPixels(2, 0, 0x808080);
  TConvertToGrayTransform gray;
  gray.ApplyOnDest(source, dest);
  EXPECT_EQ(dest.ImageFormat(), ifGray256);
  EXPECT_EQ(dest.PixelIndex(0, 0), 76);
  EXPECT_EQ(dest.PixelIndex(1, 0), 255);
  gray.SetTargetFormat(ifBlackWhite);
  gray.ApplyOnDest(source, dest);
  EXPECT_EQ(dest.Pixels(0, 0), 0u);
  EXPECT_EQ(dest.Pixels(2, 0), 0xFFFFFFu);  // 128 is white
  gray.SetTargetFormat(ifTrueColor);
  gray.SetRedWeight(-1);  // a negative weight clamps at black
  gray.ApplyOnDest(source, dest);
  EXPECT_EQ(dest.Pixels(0, 0), 0u);
}

}  // namespace
}  // namespace lumetra
