#include "transforms/geometric_transforms.h"

#include <cmath>
#include <cstring>

#include <gtest/gtest.h>

#include "support/test_images.h"

namespace lumetra {
namespace {

using testing::MakePattern;
using testing::SameImage;
using testing::Value;

class GeometryByFormat : public ::testing::TestWithParam<TImageFormat> {};

TEST_P(GeometryByFormat, FourQuarterTurnsGiveTheOriginalBack) {
  TDibGraphic original, image;
  MakePattern(original, GetParam(), 37, 21);  // odd sizes exercise packed-row edges
  image.Assign(&original);
  for (double angle : {90.0, 270.0}) {
    TRotateTransform rotate;
    rotate.SetAngle(angle);
    for (int i = 0; i < 4; ++i) rotate.Apply(image);
    EXPECT_TRUE(SameImage(original, image)) << angle;
    EXPECT_EQ(0, std::memcmp(original.PixelMemory(), image.PixelMemory(), original.ImageSize()));
  }
}

TEST_P(GeometryByFormat, QuarterTurnsMovePixelsAsDefined) {
  TDibGraphic source, dest;
  MakePattern(source, GetParam(), 13, 6);
  TRotateTransform rotate;
  for (double angle : {90.0, 180.0, 270.0}) {
    rotate.SetAngle(angle);
    rotate.ApplyOnDest(source, dest);
    ASSERT_EQ(dest.ImageFormat(), source.ImageFormat());
    EXPECT_EQ(dest.XDpi(), 300);
    EXPECT_EQ(dest.YDpi(), 200);
    const int w = source.Width(), h = source.Height();
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const std::uint32_t v = Value(source, x, y);
        const std::uint32_t moved = angle == 90.0    ? Value(dest, h - 1 - y, x)
                                    : angle == 180.0 ? Value(dest, w - 1 - x, h - 1 - y)
                                                     : Value(dest, y, w - 1 - x);
        ASSERT_EQ(v, moved) << angle << " at " << x << "," << y;
      }
  }
}

TEST_P(GeometryByFormat, FlipsMirrorAndKeepPalette) {
  TDibGraphic source, h, v, both, turned;
  MakePattern(source, GetParam(), 29, 9);
  TFlipHorizontalTransform().ApplyOnDest(source, h);
  TFlipVerticalTransform().ApplyOnDest(source, v);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 29; ++x) {
      ASSERT_EQ(Value(source, x, y), Value(h, 28 - x, y));
      ASSERT_EQ(Value(source, x, y), Value(v, x, 8 - y));
    }
  // Both flips are a half turn.
  TFlipVerticalTransform().ApplyOnDest(h, both);
  TRotateTransform half;
  half.SetAngle(180);
  half.ApplyOnDest(source, turned);
  EXPECT_TRUE(SameImage(both, turned));
}

TEST_P(GeometryByFormat, ArbitraryRotationKeepsFormatAndFillsCorners) {
  TDibGraphic source, dest;
  MakePattern(source, GetParam(), 100, 100);
  TRotateTransform rotate;
  rotate.SetAngle(45);
  rotate.SetBackColor(0xFFFFFF);
  rotate.ApplyOnDest(source, dest);
  EXPECT_EQ(dest.Width(), 141);
  EXPECT_EQ(dest.Height(), 141);
  EXPECT_EQ(dest.ImageFormat(), source.ImageFormat());
  for (auto [x, y] : {std::pair{0, 0}, {140, 0}, {0, 140}, {140, 140}})
    EXPECT_EQ(dest.Pixels(x, y), 0xFFFFFFu) << x << "," << y;
  // The centre maps onto the centre.
  EXPECT_EQ(Value(dest, 70, 70), Value(source, 50, 50));
}

TEST_P(GeometryByFormat, CropCopiesTheRectangle) {
  TDibGraphic source, dest;
  MakePattern(source, GetParam(), 40, 30);
  TCropTransform crop;
  crop.SetCropLeft(3);
  crop.SetCropTop(5);
  crop.SetCropRight(7);
  crop.SetCropBottom(2);
  crop.ApplyOnDest(source, dest);
  ASSERT_EQ(dest.Width(), 30);
  ASSERT_EQ(dest.Height(), 23);
  for (int y = 0; y < 23; ++y)
    for (int x = 0; x < 30; ++x) ASSERT_EQ(Value(dest, x, y), Value(source, x + 3, y + 5));
}

INSTANTIATE_TEST_SUITE_P(AllFormats, GeometryByFormat, ::testing::ValuesIn(testing::kAllFormats),
                         testing::FormatLabel);

TEST(Rotate, SmallImageTurnsClockwise) {
  TDibGraphic source, dest;
  source.NewImage(3, 2, ifTrueColor, nullptr, 0, 0);
  source.Fill(0);
  source.SetPixels(0, 0, 0x123456);
  TRotateTransform().ApplyOnDest(source, dest);  // default angle 90
  ASSERT_EQ(dest.Width(), 2);
  ASSERT_EQ(dest.Height(), 3);
  EXPECT_EQ(dest.Pixels(1, 0), 0x123456u);
}

TEST(Rotate, WholeAngleClassification) {
  TDibGraphic source, exact, dest;
  MakePattern(source, ifColor256, 20, 10);
  TRotateTransform rotate;
  rotate.ApplyOnDest(source, exact);
  for (double angle : {90.004, 89.996, -270.0, 450.0}) {
    rotate.SetAngle(angle);
    rotate.ApplyOnDest(source, dest);
    EXPECT_TRUE(SameImage(exact, dest)) << angle;
  }
  TDibGraphic minus90, plus270;
  rotate.SetAngle(-90);
  rotate.ApplyOnDest(source, minus90);
  rotate.SetAngle(270);
  rotate.ApplyOnDest(source, plus270);
  EXPECT_TRUE(SameImage(minus90, plus270));
  for (double angle : {0.0, 360.0, -720.0}) {
    rotate.SetAngle(angle);
    rotate.ApplyOnDest(source, dest);
    EXPECT_TRUE(SameImage(source, dest)) << angle;
  }
  // 90.01 is not whole: the sampled path gives the same size, but samples
  // around the centre pixel, so the picture sits one column further left.
  rotate.SetAngle(90.01);
  rotate.ApplyOnDest(source, dest);
  ASSERT_EQ(dest.Width(), 10);
  ASSERT_EQ(dest.Height(), 20);
  EXPECT_FALSE(SameImage(exact, dest));
  for (int r = 0; r < 20; ++r) EXPECT_EQ(Value(dest, 1, r), Value(exact, 0, r));
}

TEST(Rotate, NonFiniteAngleIsRefused) {
  TDibGraphic source, dest;
  MakePattern(source, ifTrueColor, 4, 4);
  TRotateTransform rotate;
  rotate.SetAngle(std::nan(""));
  EXPECT_THROW(rotate.ApplyOnDest(source, dest), Exception);
}

TEST(Rotate, ArbitraryRotationMatchesPaletteForBackColor) {
  TDibGraphic source, dest;
  source.NewImage(10, 10, ifGray16, nullptr, 0, 0);
  TRotateTransform rotate;
  rotate.SetAngle(30);
  rotate.SetBackColor(0x808080);
  rotate.ApplyOnDest(source, dest);
  EXPECT_EQ(dest.Pixels(0, 0), 0x888888u);  // the nearest of the 16 grey levels
}

TEST(Flip, DegenerateImagesAreCopied) {
  TDibGraphic source, dest;
  MakePattern(source, ifGray256, 1, 5);
  TFlipHorizontalTransform().ApplyOnDest(source, dest);
  EXPECT_TRUE(SameImage(source, dest));
  MakePattern(source, ifGray256, 5, 1);
  TFlipVerticalTransform().ApplyOnDest(source, dest);
  EXPECT_TRUE(SameImage(source, dest));
}

TEST(Crop, Rectangles) {
  TDibGraphic source, dest;
  MakePattern(source, ifTrueColor, 20, 10);
  TCropTransform crop;
  crop.ApplyOnDest(source, dest);  // all margins 0
  EXPECT_TRUE(SameImage(source, dest));

  crop.SetCropLeft(12);
  crop.SetCropRight(8);  // margins reach the width
  EXPECT_THROW(crop.ApplyOnDest(source, dest), ELumetraError);
  try {
    crop.ApplyOnDest(source, dest);
  } catch (const ELumetraError& e) {
    EXPECT_EQ(e.Message(), "Invalid crop parameters");
  }

  // Coordinates with a rectangle that starts outside the image: clipped.
  crop.SetUseCoordinates(true);
  crop.SetCropLeft(-5);
  crop.SetCropTop(-3);
  crop.SetCropRight(4);
  crop.SetCropBottom(100);
  crop.ApplyOnDest(source, dest);
  ASSERT_EQ(dest.Width(), 4);
  ASSERT_EQ(dest.Height(), 10);
  EXPECT_EQ(dest.Pixels(3, 9), source.Pixels(3, 9));

  crop.SetCropLeft(25);  // begins right of the image
  crop.SetCropRight(30);
  EXPECT_THROW(crop.ApplyOnDest(source, dest), ELumetraError);
}

TEST(Transform, ApplyOnItselfKeepsTheSource) {
  TDibGraphic image, expected;
  MakePattern(image, ifColor16, 9, 7);
  TRotateTransform rotate;
  rotate.ApplyOnDest(image, expected);
  rotate.ApplyOnDest(image, image);
  EXPECT_TRUE(SameImage(expected, image));
}

}  // namespace
}  // namespace lumetra
