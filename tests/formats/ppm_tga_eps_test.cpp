// Portable maps, Targa files and EPS previews.
#include <cstring>
#include <sstream>

#include "base/little_endian.h"
#include "formats/eps_graphic.h"
#include "support/format_images.h"
#include "formats/ppm_graphic.h"
#include "formats/registry.h"
#include "formats/tga_graphic.h"
#include "formats/tiff_graphic.h"

namespace lumetra {
namespace {

using testing::MakePatterned;
using testing::MessageOf;
using testing::SamePixels;

TMemoryStream& Put(TMemoryStream& s, const std::string& bytes) {
  s.WriteBuffer(bytes.data(), std::int64_t(bytes.size()));
  s.SetPosition(0);
  return s;
}

std::string Text(TMemoryStream& s) {
  return std::string(reinterpret_cast<const char*>(s.Memory()), std::size_t(s.Size()));
}

// Every format in both variants comes back with its colours; greys and
// colours widen to what the maps hold (256 greys, true colour).
class PpmRoundTrip : public ::testing::TestWithParam<std::tuple<int, bool>> {};

TEST_P(PpmRoundTrip, KeepsEveryColour) {
  const TImageFormat format = TImageFormat(std::get<0>(GetParam()));
  auto image = MakePatterned<TPpmGraphic>(format, 37, 11);
  image->Binary = std::get<1>(GetParam());
  TMemoryStream s;
  image->SaveToStream(s);
  TPpmGraphic back;
  s.SetPosition(0);
  back.LoadImageFromStream(s, 1);
  EXPECT_EQ(back.Binary, image->Binary);
  EXPECT_TRUE(SamePixels(*image, back, true));
  const std::string text = Text(s);
  const char variant = text[1];
  const char expected = char('1' +
                             (format == ifBlackWhite ? 0
                              : format <= ifGray256  ? 1
                                                     : 2) +
                             (image->Binary ? 3 : 0));
  EXPECT_EQ(variant, expected);
  EXPECT_EQ(text.substr(3, 35), "# Created By Lumetra Image Library\n");
  if (!image->Binary) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) EXPECT_LE(line.size(), 70u) << line;
  }
}

INSTANTIATE_TEST_SUITE_P(AllFormats, PpmRoundTrip,
                         ::testing::Combine(::testing::Range(0, 6), ::testing::Bool()));

TEST(Ppm, RawGreyWithACommentKeepsItsBytes) {
  TMemoryStream s;
  Put(s, std::string("P5\n# made by hand\n3 2\n255\n") + "\x01\x02\x03\xFD\xFE\xFF");
  TPpmGraphic image;
  image.LoadImageFromStream(s, 1);
  ASSERT_EQ(image.Width(), 3);
  ASSERT_EQ(image.Height(), 2);
  EXPECT_EQ(image.ImageFormat(), ifGray256);
  EXPECT_TRUE(image.Binary);
  EXPECT_EQ(std::memcmp(image.ScanLine(0), "\x01\x02\x03", 3), 0);
  EXPECT_EQ(std::memcmp(image.ScanLine(1), "\xFD\xFE\xFF", 3), 0);
}

TEST(Ppm, SmallMaximaAreNotRescaled) {
  TMemoryStream s;
  Put(s, "P2 4 1 15\n0 5 15 9");  // the last number ends at the end of the file
  TPpmGraphic image;
  image.LoadImageFromStream(s, 1);
  EXPECT_FALSE(image.Binary);
  EXPECT_EQ(std::memcmp(image.ScanLine(0), "\x00\x05\x0F\x09", 4), 0);
}

// Maps with two-byte samples (netpbm writes them for maxima above 255) are
// read sample by sample and scaled to 8 bits.
TEST(Ppm, SixteenBitSamplesAreScaled) {
  TMemoryStream raw;
  Put(raw, std::string("P6\n2 1\n65535\n") + std::string("\xFF\xFF\x00\x00\x80\x00", 6) +
               std::string("\x00\xFF\x12\x34\xFF\xFE", 6));
  TPpmGraphic image;
  image.LoadImageFromStream(raw, 1);
  EXPECT_EQ(image.Pixels(0, 0), 0xFF0080u);
  EXPECT_EQ(image.Pixels(1, 0), 0x0112FFu);
  TMemoryStream plain;
  Put(plain, "P3\n2 1\n1023\n1023 0 512 4 72 1020\n");
  image.LoadImageFromStream(plain, 1);
  EXPECT_EQ(image.Pixels(0, 0), 0xFF0080u);
  EXPECT_EQ(image.Pixels(1, 0), 0x0112FEu);
  TMemoryStream grey;
  Put(grey, std::string("P5 3 1 4095\n") + std::string("\x0F\xFF\x08\x00\x00\x00", 6));
  image.LoadImageFromStream(grey, 1);
  EXPECT_EQ(std::memcmp(image.ScanLine(0), "\xFF\x80\x00", 3), 0);
}

TEST(Ppm, PlainBitmapsWithAndWithoutBlanks) {
  for (const char* text : {"P1\n4 2\n0 1 1 0\n1 0 0 1\n", "P1\n# c\n4 2\n0110\n1001"}) {
    TMemoryStream s;
    Put(s, text);
    TPpmGraphic image;
    image.LoadImageFromStream(s, 1);
    // 1 is black: index 0 of the black-and-white palette.
    EXPECT_EQ(image.ScanLine(0)[0] & 0xF0, 0x90) << text;
    EXPECT_EQ(image.ScanLine(1)[0] & 0xF0, 0x60) << text;
  }
}

TEST(Ppm, DamagedFilesRaiseTheMessage) {
  for (const std::string text :
       {"", "P7 1 1 255\n", "Q5 1 1 255\n", "P5 2 2 255\nabc", "P2 2 2 255\n1 2 3", "P5 0 4 255\n",
        "P6 99999 99999 255\n", "P5 1 1 70000\nxx", "P3 1 1 255 1 2"}) {
    TMemoryStream s;
    Put(s, text);
    TPpmGraphic image;
    EXPECT_EQ(MessageOf([&] { image.LoadImageFromStream(s, 1); }), "Not a valid PPM file") << text;
  }
}

TEST(Ppm, BinaryComesFromTheFileAndAFreshImageIsPlain) {
  TPpmGraphic fresh;
  EXPECT_FALSE(fresh.Binary);
  auto image = MakePatterned<TPpmGraphic>(ifTrueColor, 4, 4);
  image->Binary = true;
  TPpmGraphic copy;
  copy.Assign(image.get());
  EXPECT_TRUE(copy.Binary);
}

TEST(Tga, SignatureTest) {
  std::uint8_t h[18] = {};
  auto valid = [&] {
    TMemoryStream s;
    s.WriteBuffer(h, 18);
    s.SetPosition(0);
    return TTgaGraphic().IsValidStream(s);
  };
  h[2] = 10, h[16] = 32;
  EXPECT_TRUE(valid());
  h[2] = 1, h[16] = 8, h[7] = 16;
  EXPECT_FALSE(valid());
  h[7] = 24;
  EXPECT_TRUE(valid());
  h[2] = 3;
  EXPECT_TRUE(valid());
  h[2] = 4;
  EXPECT_FALSE(valid());
}

TEST(Tga, RoundTripsAndRefusesOtherFormatsBeforeWriting) {
  for (TImageFormat f : {ifGray256, ifColor256, ifTrueColor}) {
    auto image = MakePatterned<TTgaGraphic>(f, 21, 9);
    TMemoryStream s;
    s.WriteBuffer("xy", 2);
    image->SaveToStream(s);
    TTgaGraphic back;
    s.SetPosition(2);
    back.LoadFromStream(s);
    EXPECT_TRUE(SamePixels(*image, back, true));
  }
  for (TImageFormat f : {ifBlackWhite, ifGray16, ifColor16}) {
    auto image = MakePatterned<TTgaGraphic>(f, 5, 5);
    TMemoryStream s;
    EXPECT_EQ(MessageOf([&] { image->SaveToStream(s); }),
              "TARGA image must be true color or 8 bit with palette");
    EXPECT_THROW(image->SaveToStream(s), ETgaError);
    EXPECT_EQ(s.Size(), 0);
  }
}

// Found by fuzzing: a true-colour file with a colour map of 0-bit entries
// read its map entries from an empty buffer.
TEST(Tga, ColourMapsOfNoBytesPerEntryAreRefused) {
  const std::uint8_t file[] = {0, 1, 10, 0, 0, 0, 14, 0, 0, 0, 1, 0, 41, 147, 27, 0, 24, 49, 0, 1};
  TMemoryStream s;
  s.WriteBuffer(file, sizeof file);
  s.SetPosition(0);
  TTgaGraphic image;
  EXPECT_EQ(MessageOf([&] { image.LoadFromStream(s); }), "gbm_read_header failed.");
}

// An EPS file with a binary header; Previews lists (metafile, TIFF) bytes.
TMemoryStream& Eps(TMemoryStream& s, const std::string& metafile, const std::string& tiff) {
  std::uint8_t h[32] = {};
  PutLe32(h, TEPSGraphic::kMagic);
  PutLe32(h + 4, 32), PutLe32(h + 8, 4);
  PutLe32(h + 12, 36), PutLe32(h + 16, std::uint32_t(metafile.size()));
  PutLe32(h + 20, std::uint32_t(36 + metafile.size())), PutLe32(h + 24, std::uint32_t(tiff.size()));
  s.WriteBuffer(h, 32);
  s.WriteBuffer("%!PS", 4);
  s.WriteBuffer(metafile.data(), std::int64_t(metafile.size()));
  s.WriteBuffer(tiff.data(), std::int64_t(tiff.size()));
  s.SetPosition(0);
  return s;
}

TEST(Eps, ShowsTheTiffPreviewFirst) {
  auto page = MakePatterned<TTiffGraphic>(ifGray256, 17, 9);
  TMemoryStream tiff;
  page->SaveToStream(tiff);
  TMemoryStream s;
  Eps(s, "not a metafile", Text(tiff));
  EXPECT_TRUE(TEPSGraphic().IsValidStream(s));
  TEPSGraphic eps;
  eps.LoadImageFromStream(s, 1);
  EXPECT_TRUE(SamePixels(*page, eps));
  TMemoryStream nothing;
  eps.SaveToStream(nothing);
  EXPECT_EQ(nothing.Size(), 0);
}

TEST(Eps, MissingOrDamagedPreviewsRaiseTheMessage) {
  const std::string message = "EPS file does not have a preview";
  TMemoryStream none, cut, wrong;
  Eps(none, "", "");
  EXPECT_EQ(MessageOf([&] { TEPSGraphic().LoadImageFromStream(none, 1); }), message);
  Eps(cut, "", "II*\0");
  cut.SetSize(cut.Size() - 2);
  EXPECT_EQ(MessageOf([&] { TEPSGraphic().LoadImageFromStream(cut, 1); }), message);
  Put(wrong, "%!PS-Adobe-3.0 EPSF-3.0\n");
  EXPECT_EQ(MessageOf([&] { TEPSGraphic().LoadImageFromStream(wrong, 1); }), message);
  EXPECT_THROW(TEPSGraphic().LoadImageFromStream(wrong, 1), EInvalidGraphic);
}

}  // namespace
}  // namespace lumetra
