// How the TIFF reader interprets what other writers store: resolution
// units, grey depths and photometric, orientation, tiles and colour maps.
#include "formats/tiff_graphic.h"

#include <tiffio.h>

#include <tuple>
#include <vector>

#include "platform/platform.h"
#include "raw_tiff.h"
#include "support/format_images.h"

namespace lumetra {
namespace {

using namespace testing;  // raw files, patterns and comparators

TEST(TiffGraphic, ResolutionUnits) {
  RawTiff layout;
  layout.fill = [](std::uint8_t* row, int y) { row[0] = static_cast<std::uint8_t>(y); };
  EXPECT_EQ(Load(WriteRaw(layout))->XDpi(), platform::ScreenDpiX());
  layout.unit = RESUNIT_CENTIMETER;
  layout.resolution = 118.11f;
  EXPECT_EQ(Load(WriteRaw(layout))->XDpi(), 300);
  layout.unit = RESUNIT_INCH;
  layout.resolution = 299.6f;
  EXPECT_EQ(Load(WriteRaw(layout))->YDpi(), 300);
}

TEST(TiffGraphic, SixteenBitGreyUsesTheHighByte) {
  RawTiff layout;
  layout.bits = 16;
  layout.fill = [](std::uint8_t* row, int y) {
    for (int x = 0; x < 16; ++x) {
      const std::uint16_t v = static_cast<std::uint16_t>(((x * 16 + y) << 8) | 0x7F);
      std::memcpy(row + 2 * x, &v, 2);
    }
  };
  auto imageOwner = Load(WriteRaw(layout));
  auto& image = *imageOwner;
  ASSERT_EQ(image.ImageFormat(), ifGray256);
  EXPECT_EQ(image.PixelIndex(3, 5), 3 * 16 + 5);
  EXPECT_EQ(image.PixelIndex(15, 7), 15 * 16 + 7);
}

TEST(TiffGraphic, MinIsWhiteGreyIsInverted) {
  RawTiff layout;
  layout.photometric = PHOTOMETRIC_MINISWHITE;
  layout.fill = [](std::uint8_t* row, int y) { row[1] = static_cast<std::uint8_t>(y * 10); };
  auto imageOwner = Load(WriteRaw(layout));
  auto& image = *imageOwner;
  EXPECT_EQ(image.PixelIndex(1, 3), 255 - 30);
  EXPECT_EQ(image.PixelIndex(0, 3), 255);
}

TEST(TiffGraphic, MinIsWhiteJpegIsNotInvertedTwice) {
  // libtiff's raster already turns min-is-white into grey levels; a second
  // inversion would give a negative.
  RawTiff layout;
  layout.photometric = PHOTOMETRIC_MINISWHITE;
  layout.compression = COMPRESSION_JPEG;
  layout.fill = [](std::uint8_t* row, int) { std::memset(row, 40, 16); };
  auto imageOwner = Load(WriteRaw(layout));
  EXPECT_EQ(imageOwner->Compression(), tcJPEG);
  EXPECT_NEAR(imageOwner->PixelIndex(5, 5), 255 - 40, 3);
}

TEST(TiffGraphic, OrientationThreeTurnsHalfwaySixIsIgnored) {
  RawTiff layout;
  layout.bits = 1;
  layout.photometric = PHOTOMETRIC_MINISBLACK;
  layout.width = 13;
  layout.height = 5;
  layout.fill = [](std::uint8_t* row, int y) {
    row[0] = static_cast<std::uint8_t>(0x80 >> y);
    row[1] = 0x08;
  };
  auto plainOwner = Load(WriteRaw(layout));
  auto& plain = *plainOwner;
  layout.orientation = ORIENTATION_BOTRIGHT;
  auto turnedOwner = Load(WriteRaw(layout));
  auto& turned = *turnedOwner;
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 13; ++x)
      ASSERT_EQ(turned.Pixels(x, y), plain.Pixels(12 - x, 4 - y)) << x << "," << y;
  layout.orientation = ORIENTATION_RIGHTTOP;
  EXPECT_TRUE(SamePixels(plain, *Load(WriteRaw(layout))));
}

// Orientation 3 turns the page; every other value loads as stored, whether
// the page is read by strips, by tiles or through libtiff's raster.
struct OrientationCase {
  const char* name;
  std::uint16_t bits, samples, photometric, compression;
  std::uint32_t tile;
};

class TiffOrientation : public ::testing::TestWithParam<std::tuple<OrientationCase, int>> {};

TEST_P(TiffOrientation, OnlyAHalfTurnIsApplied) {
  const auto& [c, orientation] = GetParam();
  RawTiff layout;
  layout.width = 40;
  layout.height = 21;
  layout.bits = c.bits;
  layout.samples = c.samples;
  layout.photometric = c.photometric;
  layout.compression = c.compression;
  layout.tile = c.tile;
  const int rowBytes = (40 * c.bits * c.samples + 7) / 8;
  layout.fill = [rowBytes](std::uint8_t* row, int y) {
    // Wide bands, so JPEG keeps every pixel near its value.
    for (int i = 0; i < rowBytes; ++i) row[i] = (i * 2 / rowBytes + y / 5) % 2 ? 0xFF : 0x00;
  };
  auto plain = Load(WriteRaw(layout));
  layout.orientation = orientation;
  auto oriented = Load(WriteRaw(layout));
  for (int y = 0; y < 21; ++y)
    for (int x = 0; x < 40; ++x) {
      const int sx = orientation == 3 ? 39 - x : x, sy = orientation == 3 ? 20 - y : y;
      ASSERT_EQ(oriented->Pixels(x, y), plain->Pixels(sx, sy)) << x << "," << y;
    }
  // The plain page is what the file holds (bytes 0 on the left of the top
  // row), not a mirror of it.
  auto low = [&](int x, int y) { return ((plain->Pixels(x, y) >> 8) & 0xFF) < 128; };
  const bool zeroIsDark = c.photometric != PHOTOMETRIC_MINISWHITE;
  EXPECT_EQ(low(0, 0), zeroIsDark);
  EXPECT_EQ(low(39, 0), !zeroIsDark);
  EXPECT_EQ(low(0, 7), !zeroIsDark);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, TiffOrientation,
    ::testing::Combine(
        ::testing::Values(
            OrientationCase{"GreyStrips", 8, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_NONE, 0},
            OrientationCase{"RgbTiles", 8, 3, PHOTOMETRIC_RGB, COMPRESSION_NONE, 16},
            OrientationCase{"Group4Tiles", 1, 1, PHOTOMETRIC_MINISWHITE, COMPRESSION_CCITTFAX4, 16},
            OrientationCase{"RgbJpeg", 8, 3, PHOTOMETRIC_RGB, COMPRESSION_JPEG, 0},
            OrientationCase{"TwoBitGreyRaster", 2, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_NONE, 0}),
        ::testing::Range(1, 9)),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).name) + "_" +
             std::to_string(std::get<1>(info.param));
    });

TEST(TiffGraphic, UncompressedAndCcittTilesAreRead) {
  for (const auto& [bits, samples, photometric, compression] :
       {std::tuple{8, 3, PHOTOMETRIC_RGB, COMPRESSION_NONE},
        std::tuple{8, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_NONE},
        std::tuple{1, 1, PHOTOMETRIC_MINISWHITE, COMPRESSION_CCITTFAX4},
        std::tuple{1, 1, PHOTOMETRIC_MINISWHITE, COMPRESSION_CCITTFAX3}}) {
    SCOPED_TRACE(::testing::Message() << "compression " << compression << ", " << samples);
    RawTiff layout;
    layout.width = 50;  // tiles of 16 x 16 that stick out on the right and at the bottom
    layout.height = 19;
    layout.bits = static_cast<std::uint16_t>(bits);
    layout.samples = static_cast<std::uint16_t>(samples);
    layout.photometric = static_cast<std::uint16_t>(photometric);
    layout.compression = static_cast<std::uint16_t>(compression);
    const int rowBytes = (50 * bits * samples + 7) / 8;
    layout.fill = [rowBytes](std::uint8_t* row, int y) {
      for (int i = 0; i < rowBytes; ++i) row[i] = static_cast<std::uint8_t>(i * 37 + y * 11);
    };
    auto strips = Load(WriteRaw(layout));
    layout.tile = 16;
    auto tiles = Load(WriteRaw(layout));
    EXPECT_TRUE(SamePixels(*strips, *tiles));
  }
}

TEST(TiffGraphic, ColormapIsScaledOnlyWhenItUsesSixteenBits) {
  RawTiff layout;
  layout.bits = 4;
  layout.photometric = PHOTOMETRIC_PALETTE;
  layout.fill = [](std::uint8_t* row, int) { row[0] = 0x01; };
  layout.colormap.assign(48, 0);
  layout.colormap[1] = 200;  // red of entry 1, an 8-bit table
  layout.colormap[16 + 1] = 100;
  EXPECT_EQ(Load(WriteRaw(layout))->Pixels(1, 0), 0xC86400u);
  layout.colormap[1] = 65535;
  layout.colormap[16 + 1] = 32768;
  EXPECT_EQ(Load(WriteRaw(layout))->Pixels(1, 0), 0xFF8000u);
}

TEST(TiffGraphic, PaletteRoundTripKeepsThePalette) {
  TLogPalette palette{};
  palette.palVersion = 0x300;
  palette.palNumEntries = 16;
  for (int i = 0; i < 16; ++i)
    palette.palPalEntry[i] = {std::uint8_t(i * 16), std::uint8_t(255 - i), std::uint8_t(i * 3), 0};
  TTiffGraphic image;
  image.NewImage(9, 3, ifColor16, &palette, 0, 0);
  for (int x = 0; x < 9; ++x) image.SetPixelIndex(x, 1, x);
  auto backOwner = Load(Save(image));
  auto& back = *backOwner;
  for (int i = 0; i < 16; ++i)
    EXPECT_EQ(PaletteColour(back.LogPalette()->palPalEntry[i]),
              PaletteColour(palette.palPalEntry[i]));
  EXPECT_TRUE(SamePixels(image, back));
}

}  // namespace
}  // namespace lumetra
