#include "imaging/dib_graphic.h"

#include <gtest/gtest.h>

#include "platform/platform.h"

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

namespace lumetra {
namespace {

struct FormatRow {
  int format;
  const char* name;
  int bits;
  int entries;
};

class ImageFormats : public ::testing::TestWithParam<FormatRow> {};

TEST_P(ImageFormats, NameBitsAndDefaultPalette) {
  const FormatRow& row = GetParam();
  EXPECT_EQ(ImageFormatName(row.format), row.name);
  EXPECT_EQ(BitsPerPixel(row.format), row.bits);
  TDibGraphic g;
  g.NewImage(5, 2, static_cast<TImageFormat>(row.format), nullptr, 96, 96);
  EXPECT_EQ(g.InfoHeader().biBitCount, row.bits);
  EXPECT_EQ(g.PaletteCount(), row.entries);
  EXPECT_EQ(g.LogPalette()->palNumEntries, row.entries);
  EXPECT_EQ(g.LogPalette()->palVersion, row.entries ? 0x300 : 0);
  EXPECT_EQ(g.InfoHeader().biSizeImage, static_cast<std::uint32_t>(2 * g.RowStride()));
  EXPECT_EQ(g.RowStride(), ((5 * row.bits + 31) / 32) * 4);
  EXPECT_EQ(g.Converter() != nullptr, row.entries != 0);
  // The DIB colour table holds the same entries in blue-green-red order.
  for (int i = 0; i < row.entries; ++i) {
    const TPaletteEntry& e = g.LogPalette()->palPalEntry[i];
    EXPECT_EQ(g.ColorTable()[i].rgbRed, e.peRed);
    EXPECT_EQ(g.ColorTable()[i].rgbBlue, e.peBlue);
  }
}

INSTANTIATE_TEST_SUITE_P(
    All, ImageFormats,
    ::testing::Values(FormatRow{0, "Black and white", 1, 2}, FormatRow{1, "16 shades of gray", 4, 16},
                      FormatRow{2, "256 shades of gray", 8, 256}, FormatRow{3, "16 color", 4, 16},
                      FormatRow{4, "256 color", 8, 256}, FormatRow{5, "True color", 24, 0}));

TEST(ImageFormatsOutOfRange, HaveNoNameAndRaise) {
  for (int bad : {-1, 6, 255}) {
    EXPECT_EQ(ImageFormatName(bad), "");
    try {
      BitsPerPixel(bad);
      ADD_FAILURE() << bad;
    } catch (const ELumetraError& e) {
      EXPECT_EQ(e.Message(), "Internal error: Invalid image format");
    }
  }
}

struct PaletteEntryCase {
  int format, index;
  std::uint32_t colour;
};

class DefaultPalettes : public ::testing::TestWithParam<PaletteEntryCase> {};

TEST_P(DefaultPalettes, Entry) {
  const auto& c = GetParam();
  EXPECT_EQ(PaletteColour(DefaultPalette(c.format).palPalEntry[c.index]), c.colour);
}

INSTANTIATE_TEST_SUITE_P(
    Tables, DefaultPalettes,
    ::testing::Values(PaletteEntryCase{ifBlackWhite, 0, 0x000000},
                      PaletteEntryCase{ifBlackWhite, 1, 0xFFFFFF},
                      PaletteEntryCase{ifGray16, 3, 0x333333}, PaletteEntryCase{ifGray16, 15, 0xFFFFFF},
                      PaletteEntryCase{ifGray256, 200, 0xC8C8C8},
                      PaletteEntryCase{ifColor16, 6, 0xAA5500}, PaletteEntryCase{ifColor16, 9, 0x5555FF},
                      PaletteEntryCase{ifColor256, 6, 0xAA5500},
                      // greys at 6-bit levels 0, 5, ..., 63 widened as v*4 + v/16
                      PaletteEntryCase{ifColor256, 16, 0x000000},
                      PaletteEntryCase{ifColor256, 17, 0x141414},
                      PaletteEntryCase{ifColor256, 31, 0xFFFFFF},
                      // first wheel (0, 16, 31, 47, 63): blue, then towards magenta and red
                      PaletteEntryCase{ifColor256, 32, 0x0000FF},
                      PaletteEntryCase{ifColor256, 33, 0x4100FF},
                      PaletteEntryCase{ifColor256, 34, 0x7D00FF},
                      PaletteEntryCase{ifColor256, 40, 0xFF0000},
                      PaletteEntryCase{ifColor256, 48, 0x00FF00},
                      // last wheel (11, 12, 13, 15, 16), last entry (s0, s1, s4)
                      PaletteEntryCase{ifColor256, 247, 0x2C3041},
                      // the three entries kept as they are
                      PaletteEntryCase{ifColor256, 30, 0xE3B3B3},
                      PaletteEntryCase{ifColor256, 85, 0xDFB6EB},
                      PaletteEntryCase{ifColor256, 96, 0xB6DFB6},
                      PaletteEntryCase{ifColor256, 248, 0x000000},
                      PaletteEntryCase{ifColor256, 255, 0x000000}));

TEST(RgbToPaletteConverter, NearestByRgbDistanceFirstEntryWinsTies) {
  TLogPalette p{};
  p.palVersion = 0x300;
  p.palNumEntries = 3;
  p.palPalEntry[0] = {0, 0, 0, 0};
  p.palPalEntry[1] = {100, 0, 0, 0};
  p.palPalEntry[2] = {100, 0, 0, 0};
  TRgbToPaletteConverter c(&p);
  EXPECT_EQ(c.FindNearestColor(0x320000), 0);  // 50: equally far from 0 and 100
  EXPECT_EQ(c.FindNearestColor(0x330000), 1);  // 51: nearer 100; entry 2 ties with 1
  EXPECT_EQ(c.Misses(), 2u);
  EXPECT_EQ(c.Hits(), 0u);
  EXPECT_EQ(c.FindNearestColor(0x330000), 1);
  EXPECT_EQ(c.Hits(), 1u);
  // 0x330000 + 1020 shares the slot: a miss that replaces the slot.
  EXPECT_EQ(c.FindNearestColor(0x330000 + 1020), 1);
  EXPECT_EQ(c.Misses(), 3u);
  EXPECT_EQ(c.FindNearestColor(0x330000), 1);
  EXPECT_EQ(c.Misses(), 4u);

  TLogPalette empty{};
  TRgbToPaletteConverter none(&empty);
  EXPECT_EQ(none.FindNearestColor(0xFFFFFF), 0);
}

TEST(DibGraphicPixels, IndexedWritesStoreTheNearestEntry) {
  TDibGraphic g;
  g.NewImage(4, 2, ifColor16, nullptr, 96, 96);
  g.SetPixels(1, 1, 0xA95601);  // nearest: 6 (170, 85, 0)
  EXPECT_EQ(g.PixelIndex(1, 1), 6);
  EXPECT_EQ(g.ScanLine(1)[0], 0x06);  // odd pixel in the low nibble
  EXPECT_EQ(g.Pixels(1, 1), 0xAA5500u);
  g.SetPixelIndex(0, 1, 0x1F);  // only what fits the nibble
  EXPECT_EQ(g.ScanLine(1)[0], 0xF6);

  g.NewImage(2, 1, ifTrueColor, nullptr, 96, 96);
  g.SetPixels(1, 0, 0xFF123456);  // bits 24-31 are ignored
  EXPECT_EQ(g.Pixels(1, 0), 0x123456u);
  EXPECT_EQ(g.ScanLine(0)[5], 0x12);
  EXPECT_THROW(g.SetPixelIndex(0, 0, 1), ELumetraError);
}

TEST(DibGraphicPixels, FillCopiesRowZeroIntoEveryRow) {
  TDibGraphic empty;
  empty.Fill(0xFFFFFF);  // nothing to fill
  EXPECT_TRUE(empty.Empty());

  for (TImageFormat f : {ifBlackWhite, ifGray16, ifColor256, ifTrueColor}) {
    TDibGraphic g;
    g.NewImage(7, 5, f, nullptr, 96, 96);
    g.Fill(0xFFFFFF);
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 7; ++x) ASSERT_EQ(g.Pixels(x, y), 0xFFFFFFu) << int(f);
  }
}

TEST(DibGraphicResolution, ZeroTakesTheScreenAndRoundsHalfToEven) {
  TDibGraphic g;
  g.NewImage(1, 1, ifBlackWhite, nullptr, 0, 72);
  EXPECT_EQ(g.XDpi(), platform::ScreenDpiX());
  EXPECT_EQ(g.InfoHeader().biYPelsPerMeter, 2835);  // 72 * 39.37... = 2834.6
  g.SetXDpi(1);
  EXPECT_EQ(g.InfoHeader().biXPelsPerMeter, 39);
  g.SetXDpi(65535);
  EXPECT_EQ(g.XDpi(), 65535);
}

}  // namespace
}  // namespace lumetra

namespace lumetra {
namespace {

TEST(DibGraphicDefaults, AFreshImageIsEmptyWithTheDocumentedSettings) {
  TDibGraphic g;
  EXPECT_TRUE(g.Empty());
  EXPECT_EQ(g.Width(), 0);
  EXPECT_EQ(g.Height(), 0);
  EXPECT_EQ(g.ImageIndex(), 1);
  EXPECT_FALSE(g.LoadAllFrames());
  EXPECT_EQ(g.FrameDelay(), 200);
  EXPECT_FALSE(g.Animate());
  EXPECT_EQ(g.CurrentFrame(), -1);
  EXPECT_EQ(g.FrameCount(), 0);
  EXPECT_EQ(g.TransparentPixel(), tpBottomLeft);
  EXPECT_EQ(g.TransparentColor(), 0xFFFFFFu);
  EXPECT_EQ(g.LogPalette()->palNumEntries, 0);

  g.NewImage(3, 3, ifGray256, nullptr, 96, 96);
  g.Assign(nullptr);  // back to empty, header and palette cleared
  EXPECT_TRUE(g.Empty());
  EXPECT_EQ(g.Width(), 0);
  EXPECT_EQ(g.PaletteCount(), 0);
  EXPECT_EQ(g.LogPalette()->palNumEntries, 0);
}

}  // namespace
}  // namespace lumetra
