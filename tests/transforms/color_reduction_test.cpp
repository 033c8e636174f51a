#include "imaging/color_reduction.h"

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "support/test_images.h"
#include "transforms/format_transform.h"

namespace lumetra {
namespace {

using testing::MakePattern;
using testing::SameImage;

// An image holding Count pixels of each colour, one row per colour.
void MakeCounts(TDibGraphic& g, const std::vector<std::pair<std::uint32_t, int>>& counts) {
  int width = 0;
  for (auto& [colour, count] : counts) width = std::max(width, count);
  g.NewImage(width, static_cast<int>(counts.size()), ifTrueColor, nullptr, 0, 0);
  for (std::size_t y = 0; y < counts.size(); ++y)
    for (int x = 0; x < width; ++x)
      g.SetPixels(x, static_cast<int>(y), x < counts[y].second ? counts[y].first : counts[0].first);
}

// The colour of histogram key K (blue5, green5, red5).
std::uint32_t KeyColour(int k) {
  return (std::uint32_t(k & 31) << 19) | (std::uint32_t((k >> 5) & 31) << 11) | (std::uint32_t(k >> 10) << 3);
}

std::uint32_t Entry(const TLogPalette& p, int i) { return PaletteColour(p.palPalEntry[i]); }

TEST(Quantize, FewColoursKeepKeyOrderThenBlack) {
  TDibGraphic image;
  image.NewImage(303, 1, ifTrueColor, nullptr, 0, 0);
  for (int x = 0; x < 303; ++x) image.SetPixels(x, 0, x < 300 ? 0xFA0A0A : 0x0A0AFA);
  TLogPalette palette;
  Quantize(image, palette, 16);
  EXPECT_EQ(palette.palVersion, 0x300);
  ASSERT_EQ(palette.palNumEntries, 16);
  EXPECT_EQ(Entry(palette, 0), 0xF80808u);  // low three bits cleared
  EXPECT_EQ(Entry(palette, 1), 0x0808F8u);
  for (int i = 2; i < 16; ++i) EXPECT_EQ(Entry(palette, i), 0u);
}

TEST(Quantize, RareColoursAreNoise) {
  // Every colour twice, 300 distinct keys: threshold 2 drops them all.
  TDibGraphic image;
  image.NewImage(300, 2, ifTrueColor, nullptr, 0, 0);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 300; ++x) image.SetPixels(x, y, KeyColour(x * 97));
  TLogPalette palette;
  Quantize(image, palette, 256);
  ASSERT_EQ(palette.palNumEntries, 256);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(Entry(palette, i), 0u);
}

TEST(Quantize, ThresholdRisesWithTheNumberOfDistinctKeys) {
  // Each key three times: kept while the threshold is 2 (below 1250 keys),
  // dropped at 1250 keys where it becomes 5.
  for (auto [keys, expectBlack] : {std::pair{1249, false}, {1250, true}}) {
    TDibGraphic image;
    image.NewImage(keys, 3, ifTrueColor, nullptr, 0, 0);
    for (int y = 0; y < 3; ++y)
      for (int k = 0; k < keys; ++k)
        image.SetPixels(k, y, KeyColour(k));
    TLogPalette palette;
    Quantize(image, palette, 16);
    bool allBlack = true;
    for (int i = 0; i < 16; ++i) allBlack = allBlack && Entry(palette, i) == 0;
    EXPECT_EQ(allBlack, expectBlack) << keys;
  }
}

TEST(Quantize, SpreadStartsNearWhiteAndPicksTheLeastCrowded) {
  TDibGraphic image;
  MakeCounts(image, {{0xFF0000, 5}, {0x000000, 5}, {0xF0F0F0, 5}, {0xFFFFFF, 5}});
  TLogPalette palette;
  std::vector<int> progress;
  std::uint8_t state = 255;
  Quantize(image, palette, 3, &state, [&](TObject*, std::uint8_t p) { progress.push_back(p); });
  ASSERT_EQ(palette.palNumEntries, 3);
  EXPECT_EQ(Entry(palette, 0), 0xF8F8F8u);
  EXPECT_EQ(Entry(palette, 1), 0x000000u);
  EXPECT_EQ(Entry(palette, 2), 0xF80000u);
  EXPECT_EQ(progress, (std::vector<int>{0, 33, 66}));
}

TEST(Quantize, IndexedImagesCountTheirPaletteColours) {
  TDibGraphic indexed, truecolour;
  MakePattern(indexed, ifColor16, 40, 40);
  truecolour.NewImage(40, 40, ifTrueColor, nullptr, 0, 0);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x) truecolour.SetPixels(x, y, indexed.Pixels(x, y));
  TLogPalette a, b;
  Quantize(indexed, a, 8);
  Quantize(truecolour, b, 8);
  EXPECT_EQ(0, std::memcmp(&a, &b, sizeof a));
}

TEST(NearestColour, MatchesTheImageConverterExactly) {
  std::mt19937 random(7);
  for (int trial = 0; trial < 4; ++trial) {
    TLogPalette palette{};
    palette.palVersion = 0x300;
    palette.palNumEntries = trial == 0 ? 2 : trial == 1 ? 16 : 256;
    for (int i = 0; i < palette.palNumEntries; ++i) {
      const std::uint32_t c = trial == 3 ? (random() % 8) * 0x242424 : random() & 0xFFFFFF;  // duplicates
      palette.palPalEntry[i] = {std::uint8_t(c >> 16), std::uint8_t(c >> 8), std::uint8_t(c), 0};
    }
    TRgbToPaletteConverter converter(&palette);
    TNearestColourIndex nearest(palette);
    for (int i = 0; i < 20000; ++i) {
      const std::uint32_t c = random() & 0xFFFFFF;
      ASSERT_EQ(nearest.Find((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF), converter.FindNearestColor(c))
          << std::hex << c;
    }
  }
}

// --- format conversion ---------------------------------------------------------

TEST(FormatTransform, DitheredMidGreyAlternates) {
  TDibGraphic source, dest;
  source.NewImage(10, 1, ifTrueColor, nullptr, 0, 0);
  source.Fill(0x808080);
  TImageFormatTransform format;
  format.SetTargetFormat(ifBlackWhite);
  format.ApplyOnDest(source, dest);
  std::string pattern;
  for (int x = 0; x < 10; ++x) pattern += dest.PixelIndex(x, 0) ? 'W' : 'B';
  EXPECT_EQ(pattern, "WWBWBWBWBW");
  format.SetDither(false);  // plain nearest colour: all white
  format.ApplyOnDest(source, dest);
  for (int x = 0; x < 10; ++x) EXPECT_EQ(dest.PixelIndex(x, 0), 1);
}

TEST(FormatTransform, DitherErrorsReachTheNextRowClamped) {
  // Column 1 of row 0 leaves +100 of error that row 1 receives in part;
  // negative error sums are clamped at 0 and so never darken the next row.
  TDibGraphic source, dest;
  source.NewImage(3, 2, ifTrueColor, nullptr, 0, 0);
  source.Fill(0x646464);  // 100: black, error +100
  TImageFormatTransform format;
  format.SetTargetFormat(ifBlackWhite);
  format.ApplyOnDest(source, dest);
  // Row 1, pixel 0 gets 100 + 100 * 3 / 16 = 118: still black; pixel 1 gets
  // 100 + 31 = 131: white.
  EXPECT_EQ(dest.PixelIndex(0, 1), 0);
  EXPECT_EQ(dest.PixelIndex(1, 1), 1);
}

TEST(FormatTransform, GreyTargetsMatchByDistanceNotLuminance) {
  TDibGraphic source, dest;
  source.NewImage(4, 2, ifTrueColor, nullptr, 0, 0);
  source.Fill(0xFF0000);
  TImageFormatTransform format;
  format.SetTargetFormat(ifGray256);
  format.ApplyOnDest(source, dest);
  EXPECT_EQ(dest.Pixels(0, 0), 0x555555u);
  EXPECT_EQ(dest.Pixels(0, 1), 0x555555u);
}

TEST(FormatTransform, NarrowImagesAreMatchedWithoutDiffusion) {
  TDibGraphic source, dest;
  source.NewImage(2, 3, ifTrueColor, nullptr, 0, 0);
  source.Fill(0x808080);
  TImageFormatTransform format;
  format.SetTargetFormat(ifBlackWhite);
  format.ApplyOnDest(source, dest);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 2; ++x) EXPECT_EQ(dest.PixelIndex(x, y), 1);
}

TEST(FormatTransform, ApplyLeavesAnImageOfTheTargetFormatAlone) {
  TDibGraphic image, original, dest;
  MakePattern(image, ifColor256, 12, 12);
  original.Assign(&image);
  TImageFormatTransform format;
  format.SetTargetFormat(ifColor256);
  format.Apply(image);
  EXPECT_TRUE(SameImage(original, image));
  format.ApplyOnDest(image, dest);  // still builds a new, quantized image
  EXPECT_EQ(dest.ImageFormat(), ifColor256);
  EXPECT_EQ(0, std::memcmp(dest.LogPalette(), &format.Palette(), sizeof(TLogPalette)));
}

TEST(FormatTransform, CallersPaletteOrDefaultWhenNotQuantizing) {
  TDibGraphic source, dest;
  MakePattern(source, ifTrueColor, 8, 8);
  TImageFormatTransform format;
  format.SetTargetFormat(ifColor16);
  format.SetQuantize(false);
  format.ApplyOnDest(source, dest);
  EXPECT_EQ(0, std::memcmp(dest.LogPalette()->palPalEntry, DefaultPalette(ifColor16).palPalEntry,
                           16 * sizeof(TPaletteEntry)));
  TLogPalette two{};
  two.palVersion = 0x300;
  two.palNumEntries = 2;
  two.palPalEntry[1] = {255, 0, 0, 0};
  format.SetPalette(two);
  format.SetDither(false);
  source.Fill(0xF01010);
  format.ApplyOnDest(source, dest);
  EXPECT_EQ(dest.Pixels(3, 3), 0xFF0000u);
  EXPECT_EQ(dest.PixelIndex(3, 3), 1);
}

class FormatByFormat : public ::testing::TestWithParam<TImageFormat> {};

TEST_P(FormatByFormat, ConvertsIntoEveryFormatAndBackToTrueColourExactly) {
  TDibGraphic source, dest, back;
  MakePattern(source, GetParam(), 23, 11);
  for (TImageFormat target : testing::kAllFormats) {
    for (bool dither : {false, true}) {
      TImageFormatTransform format;
      format.SetTargetFormat(target);
      format.SetDither(dither);
      std::vector<int> progress;
      format.OnProgress = [&](TObject*, std::uint8_t p) { progress.push_back(p); };
      format.ApplyOnDest(source, dest);
      ASSERT_EQ(dest.ImageFormat(), target);
      ASSERT_EQ(dest.Width(), 23);
      ASSERT_EQ(dest.XDpi(), 300);
      ASSERT_EQ(progress.front(), 0);
      ASSERT_EQ(progress.back(), 100);
      for (std::size_t i = 1; i < progress.size(); ++i) ASSERT_GT(progress[i], progress[i - 1]);
      // Every colour the result holds is one its palette has, and going to
      // true colour keeps the colours.
      TImageFormatTransform toTrue;
      toTrue.ApplyOnDest(dest, back);
      for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 23; ++x) ASSERT_EQ(back.Pixels(x, y), dest.Pixels(x, y));
    }
  }
  TImageFormatTransform toTrue;
  toTrue.ApplyOnDest(source, back);
  for (int y = 0; y < 11; ++y)
    for (int x = 0; x < 23; ++x) ASSERT_EQ(back.Pixels(x, y), source.Pixels(x, y));
}

INSTANTIATE_TEST_SUITE_P(AllFormats, FormatByFormat, ::testing::ValuesIn(testing::kAllFormats),
                         testing::FormatLabel);

}  // namespace
}  // namespace lumetra
