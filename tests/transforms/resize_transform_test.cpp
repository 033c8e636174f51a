#include "transforms/resize_transform.h"

#include <vector>

#include <gtest/gtest.h>

#include "test_images.h"

namespace lumetra {
namespace {

using testing::MakePattern;
using testing::SameImage;
using testing::Value;

std::string ErrorOf(TResizeTransform& resize, const TDibGraphic& source) {
  TDibGraphic dest;
  try {
    resize.ApplyOnDest(source, dest);
  } catch (const ELumetraError& e) {
    return e.Message();
  }
  return "";
}

TEST(Resize, FilteredResamplerRefusesTinyImages) {
  TDibGraphic source, empty;
  MakePattern(source, ifTrueColor, 8, 8);
  TResizeTransform resize;
  resize.SetInterpolate(true);
  resize.SetNewWidth(1);
  resize.SetNewHeight(5);
  EXPECT_EQ(ErrorOf(resize, source), "Destination graphic too small");
  resize.SetNewWidth(5);
  resize.SetNewHeight(0);
  EXPECT_EQ(ErrorOf(resize, source), "Destination graphic too small");
  resize.SetNewHeight(5);
  EXPECT_EQ(ErrorOf(resize, empty), "Source graphic too small");
}

class ResizeByFilter : public ::testing::TestWithParam<TResampleFilter> {};

TEST_P(ResizeByFilter, KernelPeaksAtZeroAndVanishesAtItsSupport) {
  const TResampleFilter f = GetParam();
  const float r = ResampleSupport(f);
  EXPECT_GT(ResampleKernel(f, 0.0f), 0.5f);
  EXPECT_EQ(ResampleKernel(f, r), 0.0f);
  EXPECT_EQ(ResampleKernel(f, -r - 0.25f), 0.0f);
  EXPECT_EQ(ResampleKernel(f, 0.3f), ResampleKernel(f, -0.3f));
  // Piecewise kernels join up where their pieces meet.
  for (float joint : {0.5f, 1.0f, 1.5f})
    EXPECT_NEAR(ResampleKernel(f, joint - 1e-4f), ResampleKernel(f, joint + 1e-4f), 2e-3f) << joint;
}

TEST_P(ResizeByFilter, FirstAndLastPixelsMapOntoEachOther) {
  // Enlarging keeps the end pixels exactly: their centres fall on source
  // pixels, where every kernel but the smoothing ones is 1 and 0 elsewhere.
  TDibGraphic source, dest;
  source.NewImage(5, 3, ifTrueColor, nullptr, 0, 0);
  for (int x = 0; x < 5; ++x)
    for (int y = 0; y < 3; ++y) source.SetPixels(x, y, 0x010101u * std::uint32_t(40 * x + 20));
  TResizeTransform resize;
  resize.SetInterpolate(true);
  resize.SetResampleFilter(GetParam());
  resize.SetNewWidth(17);
  resize.SetNewHeight(3);
  resize.ApplyOnDest(source, dest);
  ASSERT_EQ(dest.Width(), 17);
  ASSERT_EQ(dest.ImageFormat(), ifTrueColor);
  if (GetParam() == rfTriangle || GetParam() == rfHermite || GetParam() == rfLanczos3) {
    EXPECT_EQ(dest.Pixels(0, 1), source.Pixels(0, 1));
    EXPECT_EQ(dest.Pixels(16, 1), source.Pixels(4, 1));
    EXPECT_EQ(dest.Pixels(8, 1), source.Pixels(2, 1));
  }
}

INSTANTIATE_TEST_SUITE_P(AllFilters, ResizeByFilter,
                         ::testing::Values(rfTriangle, rfHermite, rfBell, rfBSpline, rfLanczos3,
                                           rfMitchell),
                         [](const auto& info) {
                           std::string name = ResampleFilterName(info.param);
                           return name == "B-Spline" ? std::string("BSpline") : name;
                         });

// One row of grey levels through the triangle filter.
std::vector<int> ResampleRow(const std::vector<int>& levels, int newWidth) {
  TDibGraphic source, dest;
  source.NewImage(static_cast<int>(levels.size()), 2, ifTrueColor, nullptr, 0, 0);
  for (int y = 0; y < 2; ++y)
    for (std::size_t x = 0; x < levels.size(); ++x)
      source.SetPixels(static_cast<int>(x), y, 0x010101u * std::uint32_t(levels[x]));
  TResizeTransform resize;
  resize.SetInterpolate(true);
  resize.SetNewWidth(newWidth);
  resize.SetNewHeight(2);
  resize.ApplyOnDest(source, dest);
  std::vector<int> row;
  for (int x = 0; x < newWidth; ++x) row.push_back(static_cast<int>(dest.Pixels(x, 0) & 0xFF));
  return row;
}

TEST(Resize, TriangleWeightsAndMirroredEdges) {
  // Enlarging 2 -> 5: scale 4, the end pixels map onto each other.
  EXPECT_EQ(ResampleRow({0, 200}, 5), (std::vector<int>{0, 50, 100, 150, 200}));
  // Shrinking 5 -> 3: scale 1/2, weights 1/4 1/2 1/4; column -1 reads
  // column 1 (mirrored, not clamped) and column 5 reads column 4.
  EXPECT_EQ(ResampleRow({0, 40, 80, 120, 160}, 3), (std::vector<int>{20, 80, 150}));
}

TEST(Resize, FilterNames) {
  EXPECT_EQ(ResampleFilterName(rfBSpline), "B-Spline");
  EXPECT_EQ(ResampleFilterName(rfLanczos3), "Lanczos3");
  EXPECT_EQ(ResampleFilterName(6), "");
}

TEST(Resize, TriangleHalvingKeepsAConstantImageConstant) {
  // 9 -> 5 makes the scale exactly 1/2, where the triangle's weights sum to 1
  // even at the mirrored edges.
  TDibGraphic source, dest;
  source.NewImage(9, 9, ifTrueColor, nullptr, 0, 0);
  source.Fill(0x4080C0);
  TResizeTransform resize;
  resize.SetInterpolate(true);
  resize.SetNewWidth(5);
  resize.SetNewHeight(5);
  resize.ApplyOnDest(source, dest);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 5; ++x) ASSERT_EQ(dest.Pixels(x, y), 0x4080C0u);
}

TEST(Resize, OnePixelSourceFillsTheResult) {
  TDibGraphic source, dest;
  source.NewImage(1, 1, ifTrueColor, nullptr, 0, 0);
  source.SetPixels(0, 0, 0x336699);
  TResizeTransform resize;
  resize.SetInterpolate(true);
  resize.SetNewWidth(4);
  resize.SetNewHeight(4);
  resize.ApplyOnDest(source, dest);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) ASSERT_EQ(dest.Pixels(x, y), 0x336699u);
}

class ResizeByFormat : public ::testing::TestWithParam<TImageFormat> {};

TEST_P(ResizeByFormat, ResultKeepsFormatAndPaletteUnlessForced) {
  TDibGraphic source, dest;
  MakePattern(source, GetParam(), 20, 12);
  TResizeTransform resize;
  resize.SetNewWidth(40);
  resize.SetNewHeight(24);
  for (bool interpolate : {false, true}) {
    resize.SetInterpolate(interpolate);
    resize.SetForceFormat(false);
    resize.ApplyOnDest(source, dest);
    EXPECT_EQ(dest.ImageFormat(), GetParam());
    EXPECT_EQ(dest.XDpi(), 300);
    for (int i = 0; i < PaletteEntryCount(GetParam()); ++i)
      ASSERT_EQ(PaletteColour(dest.LogPalette()->palPalEntry[i]),
                PaletteColour(source.LogPalette()->palPalEntry[i]));
    resize.SetForceFormat(true);
    resize.SetTargetFormat(ifTrueColor);
    resize.ApplyOnDest(source, dest);
    EXPECT_EQ(dest.ImageFormat(), ifTrueColor);
  }
  // Doubling by sampling repeats every pixel twice each way.
  resize.SetInterpolate(false);
  resize.SetForceFormat(false);
  resize.ApplyOnDest(source, dest);
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 40; ++x) ASSERT_EQ(Value(dest, x, y), Value(source, x / 2, y / 2));
}

INSTANTIATE_TEST_SUITE_P(AllFormats, ResizeByFormat, ::testing::ValuesIn(testing::kAllFormats),
                         testing::FormatLabel);

TEST(Resize, LargeTrueColourShrinksByAreaSmallBySampling) {
  auto checker = [](TDibGraphic& g, int size) {
    g.NewImage(size, size, ifTrueColor, nullptr, 0, 0);
    for (int y = 0; y < size; ++y)
      for (int x = 0; x < size; ++x) g.SetPixels(x, y, (x + y) % 2 ? 0xFFFFFF : 0x000000);
  };
  TDibGraphic source, dest;
  TResizeTransform resize;
  checker(source, 64);  // 4096 pixels: averaged
  resize.SetNewWidth(32);
  resize.SetNewHeight(32);
  resize.ApplyOnDest(source, dest);
  EXPECT_EQ(dest.Pixels(5, 7), 0x808080u);  // (2 * 255 + 2) div 4, rounded
  checker(source, 32);  // 1024 pixels: sampled
  resize.SetNewWidth(16);
  resize.SetNewHeight(16);
  resize.ApplyOnDest(source, dest);
  EXPECT_EQ(dest.Pixels(5, 7), 0x000000u);
}

TEST(Resize, ForcedIndexedTargetIsMatchedByNearestColour) {
  TDibGraphic source, dest;
  source.NewImage(4, 4, ifTrueColor, nullptr, 0, 0);
  source.Fill(0x202020);
  TResizeTransform resize;
  resize.SetForceFormat(true);
  resize.SetTargetFormat(ifBlackWhite);
  resize.SetNewWidth(2);
  resize.SetNewHeight(2);
  resize.ApplyOnDest(source, dest);
  EXPECT_EQ(dest.ImageFormat(), ifBlackWhite);
  EXPECT_EQ(dest.Pixels(1, 1), 0u);
}

}  // namespace
}  // namespace lumetra
