// What the TIFF writer stores: every allowed format and compression round
// trip, the tags and strip layout it writes, and the settings it keeps.
#include "formats/tiff_graphic.h"

#include <tiffio.h>

#include <cctype>
#include <string>
#include <vector>

#include "raw_tiff.h"
#include "support/format_images.h"

namespace lumetra {
namespace {

using namespace testing;  // raw files, patterns and comparators

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

}  // namespace
}  // namespace lumetra
