#include "formats/tiff_graphic.h"

#include <tiffio.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <vector>

#include "support/format_images.h"
#include "platform/platform.h"

namespace lumetra {
namespace {

using testing::MakePatterned;
using testing::MessageOf;
using testing::SamePixels;
using testing::TempPath;

// --- files written with libtiff directly, for the reader's special cases --------

struct RawTiff {
  std::uint32_t width = 16, height = 8;
  std::uint16_t bits = 8, samples = 1, photometric = PHOTOMETRIC_MINISBLACK;
  std::uint16_t compression = COMPRESSION_NONE;
  bool writeBits = true;
  int orientation = 0;  // 0: no tag
  std::uint32_t tile = 0;  // 0: strips; else square tiles of this size
  int unit = 0;         // 0: no resolution tags
  int fillOrder = 0;    // 0: no tag
  float resolution = 0;
  std::vector<std::uint16_t> colormap;                 // red, green, blue tables one after another
  std::function<void(std::uint8_t* row, int y)> fill;  // one scanline of bytes
  // Encoded strips of RowsPerStrip rows written as they are, instead of Fill.
  std::vector<std::vector<std::uint8_t>> rawStrips;
  std::uint32_t rowsPerStrip = 0;
};

std::vector<std::uint8_t> WriteRaw(const RawTiff& layout) {
  const std::string path = TempPath("qv_raw_tiff.tif");
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  EXPECT_NE(tif, nullptr);
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, layout.width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, layout.height);
  if (layout.writeBits) TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, layout.bits);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, layout.samples);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, layout.photometric);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, layout.compression);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  if (layout.tile) {
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, layout.tile);
    TIFFSetField(tif, TIFFTAG_TILELENGTH, layout.tile);
  } else {
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, layout.rowsPerStrip ? layout.rowsPerStrip : layout.height);
  }
  if (layout.orientation) TIFFSetField(tif, TIFFTAG_ORIENTATION, layout.orientation);
  if (layout.fillOrder) TIFFSetField(tif, TIFFTAG_FILLORDER, layout.fillOrder);
  if (layout.unit) {
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, layout.unit);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, layout.resolution);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, layout.resolution);
  }
  if (!layout.colormap.empty()) {
    const std::size_t n = layout.colormap.size() / 3;
    std::vector<std::uint16_t> map = layout.colormap;
    TIFFSetField(tif, TIFFTAG_COLORMAP, map.data(), map.data() + n, map.data() + 2 * n);
  }
  for (std::size_t i = 0; i < layout.rawStrips.size(); ++i) {
    std::vector<std::uint8_t> strip = layout.rawStrips[i];
    TIFFWriteRawStrip(tif, static_cast<tstrip_t>(i), strip.data(), static_cast<tmsize_t>(strip.size()));
  }
  const std::size_t rowBytes = TIFFScanlineSize(tif);
  std::vector<std::uint8_t> rows((rowBytes + 8) * layout.height, 0);
  if (layout.fill)
    for (std::uint32_t y = 0; y < layout.height; ++y) layout.fill(&rows[(rowBytes + 8) * y], int(y));
  if (layout.tile) {
    // Tile widths are multiples of 16, so every tile starts on a byte.
    const std::size_t pixelBits = std::size_t{layout.bits} * layout.samples;
    const std::size_t tileRow = TIFFTileRowSize(tif);
    std::vector<std::uint8_t> tile(TIFFTileSize(tif));
    for (std::uint32_t top = 0; top < layout.height; top += layout.tile)
      for (std::uint32_t left = 0; left < layout.width; left += layout.tile) {
        std::fill(tile.begin(), tile.end(), 0);
        for (std::uint32_t r = 0; r < layout.tile && top + r < layout.height; ++r) {
          const std::size_t start = left * pixelBits / 8;
          const std::size_t n = std::min(tileRow, rowBytes - start);
          std::memcpy(&tile[r * tileRow], &rows[(rowBytes + 8) * (top + r) + start], n);
        }
        TIFFWriteTile(tif, tile.data(), left, top, 0, 0);
      }
  } else if (layout.rawStrips.empty()) {
    for (std::uint32_t y = 0; y < layout.height; ++y)
      TIFFWriteScanline(tif, &rows[(rowBytes + 8) * y], y, 0);
  }
  TIFFClose(tif);
  TMemoryStream file;
  file.LoadFromFile(path);
  std::remove(path.c_str());
  return {file.Memory(), file.Memory() + file.Size()};
}

std::unique_ptr<TTiffGraphic> Load(const std::vector<std::uint8_t>& bytes, int page = 1) {
  TMemoryStream stream;
  stream.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  stream.SetPosition(0);
  auto image = std::make_unique<TTiffGraphic>();
  image->LoadImageFromStream(stream, page);
  return image;
}

std::vector<std::uint8_t> Save(TTiffGraphic& image) {
  TMemoryStream stream;
  image.SaveToStream(stream);
  return {stream.Memory(), stream.Memory() + stream.Size()};
}

// A tag of page 1 of a file, through libtiff.
std::uint32_t TagOf(const std::vector<std::uint8_t>& bytes, ttag_t tag) {
  const std::string path = TempPath("qv_tag_probe.tif");
  TMemoryStream s;
  s.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  s.SaveToFile(path);
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  std::uint32_t value = 0xDEADBEEF;
  if (tif) {
    if (tag == TIFFTAG_ROWSPERSTRIP || tag == TIFFTAG_SUBFILETYPE || tag == TIFFTAG_GROUP3OPTIONS) {
      std::uint32_t v32 = 0;
      if (TIFFGetField(tif, tag, &v32)) value = v32;
    } else if (tag == 273) {
      value = TIFFNumberOfStrips(tif);
    } else {
      std::uint16_t v16 = 0;
      if (TIFFGetField(tif, tag, &v16)) value = v16;
    }
    TIFFClose(tif);
  }
  std::remove(path.c_str());
  return value;
}

// --- round trips --------------------------------------------------------------------

struct RoundTrip {
  TImageFormat format;
  TTiffCompression compression;
};

class TiffRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(TiffRoundTrip, PixelsFormatResolutionAndCompressionSurvive) {
  const auto [format, compression] = GetParam();
  auto image = MakePatterned<TTiffGraphic>(format, 37, 23, 300);
  image->SetCompression(compression);
  const std::vector<std::uint8_t> bytes = Save(*image);
  auto backOwner = Load(bytes);
  auto& back = *backOwner;
  EXPECT_EQ(back.Compression(), compression);
  EXPECT_EQ(back.XDpi(), 300);
  EXPECT_EQ(back.YDpi(), 300);
  if (compression == tcJPEG) {
    ASSERT_EQ(back.ImageFormat(), format);
    double error = 0;
    for (int y = 0; y < 23; ++y)
      for (int x = 0; x < 37; ++x) {
        const std::uint32_t a = image->Pixels(x, y), b = back.Pixels(x, y);
        for (int shift : {0, 8, 16})
          error += std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF));
      }
    EXPECT_LT(error / (37 * 23 * 3), 20.0);
  } else {
    EXPECT_TRUE(SamePixels(*image, back));
  }
}

std::vector<RoundTrip> AllowedCombinations() {
  std::vector<RoundTrip> all;
  for (int f = ifBlackWhite; f <= ifTrueColor; ++f)
    for (int c = tcNone; c <= tcLZW; ++c)
      if (IsCompressionAllowed(TTiffCompression(c), TImageFormat(f)))
        all.push_back({TImageFormat(f), TTiffCompression(c)});
  return all;
}

INSTANTIATE_TEST_SUITE_P(AllAllowed, TiffRoundTrip, ::testing::ValuesIn(AllowedCombinations()),
                         [](const auto& info) {
                           return "f" + std::to_string(info.param.format) + "_c" +
                                  std::to_string(info.param.compression);
                         });

TEST(TiffGraphic, BlackWhiteIsWrittenMinIsBlackUnlessCcitt) {
  auto image = MakePatterned<TTiffGraphic>(ifBlackWhite, 40, 10);
  image->SetCompression(tcPackbits);
  const auto packbits = Save(*image);
  image->SetCompression(tcGroup4);
  const auto group4 = Save(*image);
  EXPECT_EQ(TagOf(packbits, TIFFTAG_PHOTOMETRIC), PHOTOMETRIC_MINISBLACK);
  EXPECT_EQ(TagOf(group4, TIFFTAG_PHOTOMETRIC), PHOTOMETRIC_MINISWHITE);
  EXPECT_TRUE(SamePixels(*Load(packbits), *Load(group4)));
  EXPECT_TRUE(SamePixels(*image, *Load(group4)));
}

TEST(TiffGraphic, Group4TaggedMinIsBlackReadsAsMinIsWhite) {
  RawTiff layout;
  layout.width = 24;
  layout.bits = 1;
  layout.compression = COMPRESSION_CCITTFAX4;
  layout.fill = [](std::uint8_t* row, int y) {
    row[0] = static_cast<std::uint8_t>(0xF0 >> y);
    row[2] = 0x81;
  };
  layout.photometric = PHOTOMETRIC_MINISWHITE;
  auto whiteOwner = Load(WriteRaw(layout));
  auto& white = *whiteOwner;
  layout.photometric = PHOTOMETRIC_MINISBLACK;
  auto blackOwner = Load(WriteRaw(layout));
  auto& black = *blackOwner;
  EXPECT_TRUE(SamePixels(white, black));
  // Photometric 0: a set bit is black.
  EXPECT_EQ(white.Pixels(0, 0), 0u);
  EXPECT_EQ(white.Pixels(4, 0), 0xFFFFFFu);
}

// "yyyy:mm:dd hh:nn:ss"
bool IsTiffDateTime(const std::string& text) {
  const std::string shape = "dddd:dd:dd dd:dd:dd";
  if (text.size() != shape.size()) return false;
  for (std::size_t i = 0; i < shape.size(); ++i)
    if (shape[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(text[i])) : text[i] != shape[i])
      return false;
  return true;
}

TEST(TiffGraphic, WritesTheDocumentTagsAndDefaults) {
  auto image = MakePatterned<TTiffGraphic>(ifGray256, 8, 8);
  image->Artist = "Ada";
  image->PageName = "Page one";
  const auto bytes = Save(*image);
  auto backOwner = Load(bytes);
  auto& back = *backOwner;
  EXPECT_EQ(back.Artist, "Ada");
  EXPECT_EQ(back.PageName, "Page one");
  EXPECT_EQ(back.Software, "quorv");
  EXPECT_TRUE(IsTiffDateTime(back.DateTime)) << back.DateTime;
  EXPECT_EQ(TagOf(bytes, TIFFTAG_SUBFILETYPE), FILETYPE_PAGE);
  EXPECT_EQ(TagOf(bytes, TIFFTAG_PLANARCONFIG), PLANARCONFIG_CONTIG);
}

// Bits are stored most significant first on every page: the other order is
// meant for 1-bit data only, and readers that know just this one (as TIFF
// allows) would show grey, colour and JPEG pages as noise.
TEST(TiffGraphic, EveryPageIsWrittenInFillOrderOne) {
  const std::pair<TImageFormat, TTiffCompression> pages[] = {
      {ifBlackWhite, tcGroup4}, {ifBlackWhite, tcNone}, {ifGray256, tcNone},
      {ifGray256, tcPackbits},  {ifColor16, tcLZW},     {ifTrueColor, tcJPEG}};
  for (const auto& [format, compression] : pages) {
    auto image = MakePatterned<TTiffGraphic>(format, 24, 16);
    image->SetCompression(compression);
    const auto bytes = Save(*image);
    EXPECT_EQ(TagOf(bytes, TIFFTAG_FILLORDER), FILLORDER_MSB2LSB) << int(format) << " " << int(compression);
  }
  // An uncompressed grey page holds its rows as they are.
  auto grey = MakePatterned<TTiffGraphic>(ifGray256, 24, 16);
  grey->SetCompression(tcNone);
  const auto bytes = Save(*grey);
  const std::vector<std::uint8_t> firstRow(grey->ScanLine(0), grey->ScanLine(0) + 24);
  EXPECT_NE(std::search(bytes.begin(), bytes.end(), firstRow.begin(), firstRow.end()), bytes.end());
}

TEST(TiffGraphic, AStripLargerThanTheWriteBufferIsWrittenWhole) {
  // The encoder writes its output in pieces onto the end of the one strip:
  // a page of noise that does not compress spans several pieces.
  for (const TTiffCompression compression : {tcNone, tcPackbits, tcZLib}) {
    TTiffGraphic page;
    page.NewImage(700, 400, ifTrueColor, nullptr, 300, 300);
    std::uint32_t seed = 5;
    for (int y = 0; y < 400; ++y)
      for (int x = 0; x < 2100; ++x) page.ScanLine(y)[x] = static_cast<std::uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24);
    page.SetCompression(compression);
    const auto bytes = Save(page);
    ASSERT_GT(bytes.size(), 700u * 1024) << int(compression);
    // (libtiff shows an uncompressed strip as many when it reads it)
    if (compression != tcNone) {
      EXPECT_EQ(TagOf(bytes, 273), 1u) << int(compression);
    }
    EXPECT_TRUE(SamePixels(*Load(bytes), page)) << int(compression);
  }
}

TEST(TiffGraphic, FillOrderTwoFilesStillRead) {
  for (const std::uint16_t compression : {COMPRESSION_NONE, COMPRESSION_CCITTFAX4}) {
    RawTiff layout;
    layout.bits = 1;
    layout.photometric = PHOTOMETRIC_MINISWHITE;
    layout.compression = compression;
    layout.fillOrder = FILLORDER_LSB2MSB;
    layout.fill = [](std::uint8_t* row, int y) { row[0] = static_cast<std::uint8_t>(0xF0 >> (y % 4)); row[1] = 0x81; };
    auto image = Load(WriteRaw(layout));
    for (int y = 0; y < 8; ++y) {
      EXPECT_EQ(image->ScanLine(y)[0], static_cast<std::uint8_t>(~(0xF0 >> (y % 4)))) << compression << " row " << y;
      EXPECT_EQ(image->ScanLine(y)[1], 0x7E) << compression << " row " << y;
    }
  }
}

// PackBits strips are decoded as one run of bytes: runs go on into the next
// row, bytes past a strip's last row are dropped, and a strip that ends
// before its rows are full is an error; FillOrder 2 bytes are reversed first.
TEST(TiffGraphic, PackBitsStripsDecodeAcrossRowsAndStripEnds) {
  auto reversed = [](std::vector<std::uint8_t> bytes) {
    for (std::uint8_t& b : bytes) {
      std::uint8_t r = 0;
      for (int i = 0; i < 8; ++i) r |= static_cast<std::uint8_t>(((b >> i) & 1) << (7 - i));
      b = r;
    }
    return bytes;
  };
  // Five pixels a row, three rows a strip: a run of 7 and a literal of 8
  // fill the first strip; the second has its row and a run too many.
  const std::vector<std::uint8_t> first = {0xFA, 9, 7, 1, 2, 3, 4, 5, 6, 7, 8};
  const std::vector<std::uint8_t> second = {0x80, 4, 10, 11, 12, 13, 14, 0xFD, 99};
  const std::uint8_t expected[4][5] = {{9, 9, 9, 9, 9}, {9, 9, 1, 2, 3}, {4, 5, 6, 7, 8}, {10, 11, 12, 13, 14}};
  for (const bool fillOrder2 : {false, true}) {
    RawTiff layout;
    layout.width = 5;
    layout.height = 4;
    layout.rowsPerStrip = 3;
    layout.compression = COMPRESSION_PACKBITS;
    layout.fillOrder = fillOrder2 ? FILLORDER_LSB2MSB : 0;
    layout.rawStrips = {fillOrder2 ? reversed(first) : first, fillOrder2 ? reversed(second) : second};
    auto image = Load(WriteRaw(layout));
    for (int y = 0; y < 4; ++y)
      EXPECT_TRUE(std::equal(expected[y], expected[y] + 5, image->ScanLine(y))) << "row " << y << " " << fillOrder2;

    layout.rawStrips[1] = {4, 10, 11, 12};  // a literal of five with three bytes
    if (fillOrder2) layout.rawStrips[1] = reversed(layout.rawStrips[1]);
    EXPECT_NE(MessageOf([&] { Load(WriteRaw(layout)); }).find("Not enough data"), std::string::npos);
  }
}

TEST(TiffGraphic, AnnotationTagSurvivesASaveAndDisabledTagsAreCleared) {
  auto image = MakePatterned<TTiffGraphic>(ifBlackWhite, 16, 4);
  image->SetCustomTagValue("NOTE 1 2 3");
  image->CustomTag(1).enabled = true;
  image->CustomTag(1).value = "second";
  const auto bytes = Save(*image);
  EXPECT_EQ(Load(bytes)->CustomTagValue(), "NOTE 1 2 3");
  EXPECT_EQ(Load(bytes)->CustomTag(1).value, "");  // tag 40001 is not read by default
  EXPECT_FALSE(TTiffGraphic().CustomTag(19).enabled);
}

TEST(TiffGraphic, ScanningPathPageIsOneStripAndJpegUsesEightRows) {
  auto image = MakePatterned<TTiffGraphic>(ifTrueColor, 20, 30);
  EXPECT_EQ(TagOf(Save(*image), 273), 1u);
  image->SetRowsPerStrip(4);
  EXPECT_EQ(TagOf(Save(*image), 273), 8u);
  image->SetCompression(tcJPEG);
  EXPECT_EQ(TagOf(Save(*image), TIFFTAG_ROWSPERSTRIP), 8u);
}

TEST(TiffGraphic, RowsPerStripIsClamped) {
  TTiffGraphic image;
  image.SetRowsPerStrip(0);
  EXPECT_EQ(image.RowsPerStrip(), 1);
  image.SetRowsPerStrip(-5);
  EXPECT_EQ(image.RowsPerStrip(), 1);
  image.SetRowsPerStrip(std::int64_t{1} << 40);
  EXPECT_EQ(image.RowsPerStrip(), 2147483647);
}

TEST(TiffGraphic, DisallowedCompressionNamesBothAndKeepsTheSetting) {
  auto bw = MakePatterned<TTiffGraphic>(ifBlackWhite, 4, 4);
  EXPECT_EQ(MessageOf([&] { bw->SetCompression(tcJPEG); }),
            "JPEG compression not supported with Black and white images");
  EXPECT_EQ(bw->Compression(), tcGroup4);
  auto colour = MakePatterned<TTiffGraphic>(ifColor256, 4, 4);
  EXPECT_EQ(
      MessageOf([&] { colour->SetCompression(tcGroup4); }),
      "CCITT Group 4 compression not supported with " + ImageFormatName(ifColor256) + " images");
  EXPECT_EQ(colour->Compression(), tcPackbits);
}

TEST(TiffGraphic, NewImageResetsTheCompression) {
  TTiffGraphic image;
  image.NewImage(4, 4, ifGray256, nullptr, 0, 0);
  EXPECT_EQ(image.Compression(), tcPackbits);
  image.SetCompression(tcJPEG);
  image.NewImage(4, 4, ifBlackWhite, nullptr, 0, 0);
  EXPECT_EQ(image.Compression(), tcGroup4);
}

TEST(TiffGraphic, AssignCopiesRowsPerStrip) {
  auto source = MakePatterned<TTiffGraphic>(ifGray16, 5, 5);
  source->SetRowsPerStrip(3);
  TTiffGraphic dest;
  dest.Assign(source.get());
  EXPECT_EQ(dest.RowsPerStrip(), 3);
  EXPECT_TRUE(SamePixels(*source, dest));
}

// --- reader rules ---------------------------------------------------------------------

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

// --- multi-page files and stream positions ----------------------------------------

TEST(TiffGraphic, AppendToEmptyStreamWritesOnePage) {
  auto image = MakePatterned<TTiffGraphic>(ifGray256, 6, 6);
  TMemoryStream stream;
  image->AppendToStream(stream);
  stream.SetPosition(0);
  EXPECT_EQ(TTiffGraphic().GetImageCount(stream), 1);
}

TEST(TiffGraphic, AppendedPagesFollowInOrder) {
  TMemoryStream stream;
  std::vector<std::unique_ptr<TTiffGraphic>> pages;
  const TImageFormat formats[] = {ifBlackWhite, ifTrueColor, ifColor256, ifGray16};
  for (int i = 0; i < 4; ++i) {
    pages.push_back(MakePatterned<TTiffGraphic>(formats[i], 10 + i, 7 + i));
    if (i == 0)
      pages[0]->SaveToStream(stream);
    else
      pages[i]->AppendToStream(stream);
  }
  stream.SetPosition(0);
  EXPECT_EQ(TTiffGraphic().GetImageCount(stream), 4);
  for (int i = 0; i < 4; ++i) {
    stream.SetPosition(0);
    TTiffGraphic page;
    page.LoadImageFromStream(stream, i + 1);
    EXPECT_TRUE(SamePixels(*pages[i], page)) << "page " << i + 1;
  }
}

// Counts the stream calls a reader makes.
class CountingStream : public TMemoryStream {
 public:
  std::int64_t Read(void* buffer, std::int64_t count) override {
    ++calls;
    return TMemoryStream::Read(buffer, count);
  }
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override {
    ++calls;
    return TMemoryStream::Seek(offset, origin);
  }
  long calls = 0;
};

TEST(TiffGraphic, ReadingEveryPageWalksTheChainOnce) {
  CountingStream stream;
  auto page = MakePatterned<TTiffGraphic>(ifBlackWhite, 8, 2);
  constexpr int kPages = 400;
  page->SaveToStream(stream);
  for (int i = 1; i < kPages; ++i) page->AppendToStream(stream);
  stream.SetPosition(0);
  stream.calls = 0;
  TTiffPageReader reader(stream);
  ASSERT_EQ(reader.Count(), kPages);
  TTiffGraphic back;
  for (int i = 1; i <= kPages; ++i) reader.Read(i, back);
  EXPECT_TRUE(SamePixels(*page, back));
  EXPECT_EQ(reader.Damage(), "");
  // Walking from the first directory for every page would take some
  // hundred thousand calls here.
  EXPECT_LT(stream.calls, 40L * kPages);

  stream.SetPosition(0);
  stream.calls = 0;
  TTiffGraphic all;
  all.SetLoadAllFrames(true);
  all.LoadFromStream(stream);
  ASSERT_EQ(all.FrameCount(), kPages);
  EXPECT_TRUE(SamePixels(*page, *all.Frames(kPages)));
  EXPECT_LT(stream.calls, 60L * kPages);
}

// The walk reads directories without the custom tags; a page read after it,
// or straight in order, must still get its own annotation and no other's.
TEST(TiffGraphic, EachPageKeepsItsOwnAnnotationWhicheverWayItIsReached) {
  TMemoryStream stream;
  const char* notes[] = {"first", "", "third", ""};
  for (const char* note : notes) {
    auto page = MakePatterned<TTiffGraphic>(ifGray256, 4, 3);
    page->SetCustomTagValue(note);
    page->AppendToStream(stream);
  }
  for (const bool countFirst : {true, false}) {
    stream.SetPosition(0);
    TTiffPageReader reader(stream);
    if (countFirst) {
      ASSERT_EQ(reader.Count(), 4);
    }
    for (const int index : {3, 1, 2, 4, 3}) {
      TTiffGraphic page;
      reader.Read(index, page);
      EXPECT_EQ(page.CustomTagValue(), notes[index - 1]) << index << (countFirst ? " after a count" : "");
    }
    TTiffGraphic again;
    reader.Read(1, again);
    EXPECT_EQ(again.CustomTagValue(), "first");
  }
}

TEST(TiffGraphic, LoadAllFramesReadsEveryPage) {
  TMemoryStream stream;
  auto first = MakePatterned<TTiffGraphic>(ifGray256, 5, 5);
  auto second = MakePatterned<TTiffGraphic>(ifTrueColor, 3, 4);
  first->SaveToStream(stream);
  second->AppendToStream(stream);
  stream.SetPosition(0);
  TTiffGraphic all;
  all.SetLoadAllFrames(true);
  all.LoadFromStream(stream);
  ASSERT_EQ(all.FrameCount(), 2);
  EXPECT_TRUE(SamePixels(*second, *all.Frames(2)));
}

TEST(TiffGraphic, BytesBeforeTheFileStayUntouched) {
  TMemoryStream stream;
  std::vector<std::uint8_t> prefix(100);
  for (int i = 0; i < 100; ++i) prefix[i] = static_cast<std::uint8_t>(i * 7 + 1);
  stream.WriteBuffer(prefix.data(), 100);
  auto image = MakePatterned<TTiffGraphic>(ifTrueColor, 11, 9);
  image->DateTime = "2026:01:02 03:04:05";
  image->SaveToStream(stream);
  EXPECT_EQ(std::memcmp(stream.Memory(), prefix.data(), 100), 0);
  const std::vector<std::uint8_t> alone = Save(*image);
  ASSERT_EQ(stream.Size(), 100 + static_cast<std::int64_t>(alone.size()));
  EXPECT_EQ(std::memcmp(stream.Memory() + 100, alone.data(), alone.size()), 0);
  stream.SetPosition(100);
  EXPECT_EQ(TTiffGraphic().GetImageCount(stream), 1);
  stream.SetPosition(100);
  TTiffGraphic back;
  back.LoadImageFromStream(stream, 1);
  EXPECT_TRUE(SamePixels(*image, back));
}

TEST(TiffGraphic, SignatureCheckRewindsTheStream) {
  for (const char* head : {"II*\0", "MM\0*"}) {
    TMemoryStream s;
    s.WriteBuffer(head, 4);
    s.SetPosition(0);
    EXPECT_TRUE(TTiffGraphic().IsValidStream(s));
    EXPECT_EQ(s.Position(), 0);
  }
  TMemoryStream shortStream;
  shortStream.WriteBuffer("II*", 3);
  shortStream.SetPosition(0);
  EXPECT_FALSE(TTiffGraphic().IsValidStream(shortStream));
  EXPECT_EQ(shortStream.Position(), 0);
}

TEST(TiffGraphic, ProgressRunsFromZeroToHundred) {
  auto image = MakePatterned<TTiffGraphic>(ifGray256, 50, 300);
  std::vector<int> seen;
  image->OnReadWriteProgress = [&](TObject*, std::uint8_t p) { seen.push_back(p); };
  const auto bytes = Save(*image);
  ASSERT_GE(seen.size(), 3u);
  EXPECT_EQ(seen.front(), 0);
  EXPECT_EQ(seen.back(), 100);
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_EQ(std::adjacent_find(seen.begin(), seen.end()), seen.end());
}

// --- errors ---------------------------------------------------------------------------

TEST(TiffGraphic, ErrorTexts) {
  TMemoryStream garbage;
  garbage.WriteBuffer("not a tiff at all", 17);
  garbage.SetPosition(0);
  // libtiff's own reason follows the detail.
  EXPECT_TRUE(testing::StartsWith(MessageOf([&] { TTiffGraphic().LoadImageFromStream(garbage, 1); }),
                                  "ETiffError TIFFOpen: Stream: Not a TIFF"));

  RawTiff layout;
  layout.writeBits = false;
  layout.fill = [](std::uint8_t*, int) {};
  EXPECT_EQ(MessageOf([&] { Load(WriteRaw(layout)); }), "ETiffError Bits per sample not specified");

  RawTiff thunder;
  thunder.bits = 4;
  thunder.compression = COMPRESSION_THUNDERSCAN;
  thunder.fill = [](std::uint8_t*, int) {};
  EXPECT_EQ(MessageOf([&] { Load(WriteRaw(thunder)); }),
            "ETiffError Unsupported compression tag, 32809");
}

// A file stream that refuses writes after a number of bytes.
class FullDisk : public TMemoryStream {
 public:
  explicit FullDisk(std::int64_t room) : room_(room) {}
  std::int64_t Write(const void* buffer, std::int64_t count) override {
    if (Size() + count > room_) return 0;
    return TMemoryStream::Write(buffer, count);
  }

 private:
  std::int64_t room_;
};

TEST(TiffGraphic, FailedWriteIsReported) {
  auto image = MakePatterned<TTiffGraphic>(ifTrueColor, 800, 800);
  image->SetCompression(tcNone);
  image->SetRowsPerStrip(16);
  FullDisk disk(4096);
  EXPECT_TRUE(testing::StartsWith(MessageOf([&] { image->SaveToStream(disk); }),
                                  "ETiffError TIFFWriteScanLine: TIFFAppendToStrip: Write error"));
}

TEST(TiffGraphic, PageBeyondTheFileIsAnError) {
  auto image = MakePatterned<TTiffGraphic>(ifGray256, 4, 4);
  const auto bytes = Save(*image);
  EXPECT_THROW(Load(bytes, 2), ETiffError);
  EXPECT_THROW(Load(bytes, 0), ETiffError);
}

TEST(TiffGraphic, EmptyImageIsNotWritten) {
  TTiffGraphic empty;
  TMemoryStream s;
  EXPECT_THROW(empty.SaveToStream(s), ELumetraError);
  EXPECT_EQ(s.Size(), 0);
}

}  // namespace
}  // namespace lumetra
