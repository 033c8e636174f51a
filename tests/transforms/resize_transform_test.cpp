#include "transforms/resize_transform.h"

#include <algorithm>
#include <cmath>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "support/error_text.h"
#include "support/test_images.h"

namespace lumetra {
namespace {

using testing::MakePattern;
using testing::MessageOf;
using testing::SameImage;
using testing::Value;

std::string ErrorOf(TResizeTransform& resize, const TDibGraphic& source) {
  TDibGraphic dest;
  return MessageOf([&] { resize.ApplyOnDest(source, dest); });
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


// The filtered resampler as it stood before its rows were streamed: float
// sums over contributor lists and an 8-bit work image between the passes.
// The present one keeps the work rows unrounded, so it may differ from this
// by one level, never more.
void ResampleAsBefore(const TDibGraphic& source, TDibGraphic& dest, TResampleFilter filter, int w2,
                      int h2) {
  struct TList {
    std::vector<std::vector<std::pair<int, float>>> taps;
  };
  auto build = [&](int size, int size2) {
    const float support = ResampleSupport(filter);
    const float scale = size == 1 ? float(size2) / float(size) : float(size2 - 1) / float(size - 1);
    TList list;
    for (int i = 0; i < size2; ++i) {
      list.taps.emplace_back();
      const float centre = float(i) / scale;
      const float width = scale >= 1.0f ? support : support / scale;
      for (long long j = (long long)std::floor(centre - width); j <= (long long)std::ceil(centre + width);
           ++j) {
        const float d = centre - float(j);
        const float w = scale >= 1.0f ? ResampleKernel(filter, d) : ResampleKernel(filter, d * scale) * scale;
        const long long n = j < 0 ? -j : j >= size ? 2LL * size - 1 - j : j;
        if (w != 0.0f && n >= 0 && n < size) list.taps.back().push_back({int(n), w});
      }
    }
    return list;
  };
  auto toByte = [](float v) { return int(std::clamp(std::nearbyint(v), 0.0f, 255.0f)); };
  const int w = source.Width(), h = source.Height();
  const TList across = build(w, w2), down = build(h, h2);
  std::vector<int> work(std::size_t(3) * w2 * h);
  for (int y = 0; y < h; ++y)
    for (int i = 0; i < w2; ++i)
      for (int c = 0; c < 3; ++c) {
        float sum = 0.0f;
        for (auto [n, wt] : across.taps[i]) sum += wt * float((source.Pixels(n, y) >> (8 * c)) & 0xFF);
        work[(std::size_t(y) * w2 + i) * 3 + c] = toByte(sum);
      }
  dest.NewImage(w2, h2, ifTrueColor, nullptr, 0, 0);
  for (int j = 0; j < h2; ++j)
    for (int i = 0; i < w2; ++i) {
      std::uint32_t colour = 0;
      for (int c = 0; c < 3; ++c) {
        float sum = 0.0f;
        for (auto [n, wt] : down.taps[j]) sum += wt * float(work[(std::size_t(n) * w2 + i) * 3 + c]);
        colour |= std::uint32_t(toByte(sum)) << (8 * c);
      }
      dest.SetPixels(i, j, colour);
    }
}

struct TResampleCase {
  TImageFormat format;
  int w, h, w2, h2;
};

class ResampleAgainstBefore
    : public ::testing::TestWithParam<std::tuple<TResampleFilter, TResampleCase>> {};

TEST_P(ResampleAgainstBefore, EveryChannelWithinOneLevel) {
  const auto [filter, c] = GetParam();
  TDibGraphic source, dest, before;
  MakePattern(source, c.format, c.w, c.h);
  if (c.format == ifColor256)  // a palette of real colours, not the default one
    for (int i = 0; i < 256; ++i) source.SetPixelIndex(i % c.w, (i / c.w) % c.h, (i * 37) % 256);
  TResizeTransform resize;
  resize.SetInterpolate(true);
  resize.SetResampleFilter(filter);
  resize.SetNewWidth(c.w2);
  resize.SetNewHeight(c.h2);
  resize.SetForceFormat(c.format != ifGray256);
  resize.SetTargetFormat(ifTrueColor);
  resize.ApplyOnDest(source, dest);
  ResampleAsBefore(source, before, filter, c.w2, c.h2);
  for (int y = 0; y < c.h2; ++y)
    for (int x = 0; x < c.w2; ++x) {
      const std::uint32_t a = dest.Pixels(x, y), b = before.Pixels(x, y);
      for (int shift = 0; shift < 24; shift += 8) {
        const int d = int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF);
        ASSERT_LE(std::abs(d), 1) << "pixel (" << x << ", " << y << ")";
      }
    }
}

INSTANTIATE_TEST_SUITE_P(
    FiltersAndSizes, ResampleAgainstBefore,
    ::testing::Combine(::testing::Values(rfTriangle, rfHermite, rfBell, rfBSpline, rfLanczos3, rfMitchell),
                       ::testing::Values(TResampleCase{ifTrueColor, 61, 47, 140, 19},
                                         TResampleCase{ifTrueColor, 61, 47, 23, 90},
                                         TResampleCase{ifTrueColor, 61, 47, 30, 23},
                                         TResampleCase{ifTrueColor, 23, 17, 70, 40},
                                         TResampleCase{ifTrueColor, 3, 200, 9, 7},
                                         TResampleCase{ifGray256, 57, 43, 28, 97},
                                         TResampleCase{ifGray16, 40, 30, 13, 11},
                                         TResampleCase{ifBlackWhite, 64, 9, 21, 5},
                                         TResampleCase{ifColor256, 33, 29, 16, 50})));

TEST(Resize, WorkBeyondTheProcessLimitIsRefusedNotOverrun) {
  // 65536 x 2 from one column of 21846 rows: every result row reads all
  // 21846 source rows, reduced to 65536 pixels each. Sized in 32 bits
  // the work buffer wrapped to 128 KiB and was overrun.
  TDibGraphic source, dest;
  source.NewImage(1, 21846, ifTrueColor, nullptr, 0, 0);
  TResizeTransform resize;
  resize.SetInterpolate(true);
  resize.SetNewWidth(65536);
  resize.SetNewHeight(2);
  EXPECT_EQ(ErrorOf(resize, source), "Out of resources");
  // A large but sound reduction of the same kind still works.
  source.NewImage(1, 3000, ifGray256, nullptr, 0, 0);
  source.Fill(0x404040);
  resize.SetNewWidth(4000);
  resize.SetNewHeight(2);
  resize.ApplyOnDest(source, dest);
  EXPECT_EQ(dest.Pixels(3999, 1), 0x404040u);
}

}  // namespace
}  // namespace lumetra
