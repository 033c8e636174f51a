// clang-format off
#include <cstdio>  // jpeglib.h needs FILE and size_t first
#include <jpeglib.h>
// clang-format on
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <vector>

#include "support/format_images.h"
#include "support/png_warnings.h"
#include "formats/jpeg_graphic.h"
#include "formats/png_graphic.h"
#include "platform/platform.h"

namespace lumetra {
namespace {

using testing::MakePatterned;
using testing::MessageOf;
using testing::SamePixels;

// --- files written by the libraries themselves ---------------------------------------

struct RawPng {
  int width = 8, height = 4, depth = 8, colorType = PNG_COLOR_TYPE_GRAY;
  int rowBytes = 8;
  bool background = false;
  png_color_16 backgroundColour{};
  std::vector<png_color> palette;  // PLTE for palette files
  bool trns = false;               // a tRNS chunk: trnsColour, or alpha 0 at index 0
  png_color_16 trnsColour{};
  double gamma = 0;       // 0: no gAMA chunk
  std::uint32_t ppm = 0;  // 0: no pHYs
  std::function<void(std::uint8_t* row, int y)> fill;
};

void PNGCBAPI AppendBytes(png_structp png, png_bytep data, png_size_t n) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + n);
}

std::vector<std::uint8_t> WriteRawPng(const RawPng& layout) {
  std::vector<std::uint8_t> out;
  std::vector<std::uint8_t> rows(static_cast<std::size_t>(layout.rowBytes) * layout.height);
  for (int y = 0; y < layout.height; ++y) layout.fill(rows.data() + y * layout.rowBytes, y);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(png, &out, &AppendBytes, nullptr);
  png_set_IHDR(png, info, layout.width, layout.height, layout.depth, layout.colorType, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (layout.background) {
    png_color_16 c = layout.backgroundColour;
    png_set_bKGD(png, info, &c);
  }
  if (!layout.palette.empty())
    png_set_PLTE(png, info, layout.palette.data(), static_cast<int>(layout.palette.size()));
  if (layout.trns) {
    png_byte alpha[1] = {0};
    png_color_16 c = layout.trnsColour;
    if (layout.colorType == PNG_COLOR_TYPE_PALETTE)
      png_set_tRNS(png, info, alpha, 1, nullptr);
    else
      png_set_tRNS(png, info, nullptr, 0, &c);
  }
  if (layout.gamma > 0) png_set_gAMA(png, info, layout.gamma);
  if (layout.ppm) png_set_pHYs(png, info, layout.ppm, layout.ppm, PNG_RESOLUTION_METER);
  png_write_info(png, info);
  for (int y = 0; y < layout.height; ++y) png_write_row(png, rows.data() + y * layout.rowBytes);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

template <class T>
std::unique_ptr<T> LoadBytes(const std::vector<std::uint8_t>& bytes) {
  TMemoryStream stream;
  stream.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  stream.SetPosition(0);
  auto image = std::make_unique<T>();
  image->LoadImageFromStream(stream, 1);
  return image;
}

template <class T>
std::vector<std::uint8_t> SaveBytes(T& image) {
  TMemoryStream stream;
  image.SaveToStream(stream);
  return {stream.Memory(), stream.Memory() + stream.Size()};
}

// --- PNG -------------------------------------------------------------------------------

struct PngCase {
  TImageFormat format;
  bool interlaced;
};

class PngRoundTrip : public ::testing::TestWithParam<PngCase> {};

TEST_P(PngRoundTrip, PixelsAndResolutionSurvive) {
  auto image = MakePatterned<TPngGraphic>(GetParam().format, 29, 17, 300);
  image->Interlaced = GetParam().interlaced;
  const auto bytes = SaveBytes(*image);
  EXPECT_EQ(bytes[28], GetParam().interlaced ? 1 : 0);  // IHDR interlace method
  auto backOwner = LoadBytes<TPngGraphic>(bytes);
  auto& back = *backOwner;
  EXPECT_TRUE(SamePixels(*image, back));
  EXPECT_EQ(back.XDpi(), 300);
}

INSTANTIATE_TEST_SUITE_P(AllFormats, PngRoundTrip,
                         ::testing::Values(PngCase{ifBlackWhite, true}, PngCase{ifGray16, true},
                                           PngCase{ifGray256, false}, PngCase{ifColor16, true},
                                           PngCase{ifColor256, false}, PngCase{ifTrueColor, true},
                                           PngCase{ifTrueColor, false}));

TEST(PngGraphic, TwoBitGreyBecomesSixteenGreyLevels) {
  RawPng layout;
  layout.depth = 2;
  layout.rowBytes = 2;
  layout.fill = [](std::uint8_t* row, int) {
    row[0] = 0b00011011;
    row[1] = 0;
  };
  auto imageOwner = LoadBytes<TPngGraphic>(WriteRawPng(layout));
  auto& image = *imageOwner;
  ASSERT_EQ(image.ImageFormat(), ifGray16);
  EXPECT_EQ(image.PixelIndex(0, 0), 0);
  EXPECT_EQ(image.PixelIndex(1, 0), 5);
  EXPECT_EQ(image.PixelIndex(2, 0), 10);
  EXPECT_EQ(image.PixelIndex(3, 0), 15);
}

TEST(PngGraphic, SixteenBitColourUsesTheHighBytes) {
  RawPng layout;
  layout.depth = 16;
  layout.colorType = PNG_COLOR_TYPE_RGB;
  layout.rowBytes = 8 * 6;
  layout.fill = [](std::uint8_t* row, int y) {
    for (int x = 0; x < 8; ++x) {
      const std::uint8_t v[6] = {
          std::uint8_t(x * 30), 0x77, std::uint8_t(y * 50), 0x11, 0xAB, 0xCD};
      std::memcpy(row + 6 * x, v, 6);
    }
  };
  auto imageOwner = LoadBytes<TPngGraphic>(WriteRawPng(layout));
  auto& image = *imageOwner;
  ASSERT_EQ(image.ImageFormat(), ifTrueColor);
  EXPECT_EQ(image.Pixels(3, 2), (90u << 16) | (100u << 8) | 0xABu);
}

TEST(PngGraphic, AlphaWithoutBackgroundIsCompositedOnBlack) {
  RawPng layout;
  layout.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
  layout.rowBytes = 8 * 4;
  layout.fill = [](std::uint8_t* row, int y) {
    for (int x = 0; x < 8; ++x) {
      const std::uint8_t v[4] = {200, 100, 50, std::uint8_t(y == 0 ? 0 : 255)};
      std::memcpy(row + 4 * x, v, 4);
    }
  };
  auto imageOwner = LoadBytes<TPngGraphic>(WriteRawPng(layout));
  auto& image = *imageOwner;
  EXPECT_EQ(image.Pixels(2, 0), 0u);
  EXPECT_EQ(image.Pixels(2, 1), 0xC86432u);
  EXPECT_FALSE(image.HasBackground);
}

// ImageMagick and GIMP write bKGD into every grey PNG: a background colour
// says nothing about transparency.
TEST(PngGraphic, ABackgroundIsNotTransparency) {
  RawPng grey;
  grey.background = true;
  grey.backgroundColour.gray = 128;
  grey.fill = [](std::uint8_t* row, int y) { std::memset(row, y * 20, 8); };
  auto greyImage = LoadBytes<TPngGraphic>(WriteRawPng(grey));
  EXPECT_TRUE(greyImage->HasBackground);
  EXPECT_FALSE(greyImage->HasTrns);
  EXPECT_EQ(greyImage->BackgroundColor, (TPngColor{128, 128, 128}));
  EXPECT_TRUE(SamePixels(*greyImage, *LoadBytes<TPngGraphic>(SaveBytes(*greyImage))));

  RawPng rgb;
  rgb.colorType = PNG_COLOR_TYPE_RGB;
  rgb.rowBytes = 8 * 3;
  rgb.background = true;  // black, like the opaque black pixels
  rgb.fill = [](std::uint8_t* row, int y) { std::memset(row, y == 0 ? 0 : 90, 8 * 3); };
  auto rgbImage = LoadBytes<TPngGraphic>(WriteRawPng(rgb));
  EXPECT_FALSE(rgbImage->HasTrns);
  const std::vector<std::uint8_t> again = SaveBytes(*rgbImage);
  const std::uint8_t trns[] = {'t', 'R', 'N', 'S'};
  EXPECT_EQ(std::search(again.begin(), again.end(), std::begin(trns), std::end(trns)), again.end());
}

TEST(PngGraphic, GreyWithTransparencyCannotBeSavedTransparent) {
  RawPng layout;
  layout.trns = true;
  layout.trnsColour.gray = 20;
  layout.fill = [](std::uint8_t* row, int y) { std::memset(row, y * 20, 8); };
  auto imageOwner = LoadBytes<TPngGraphic>(WriteRawPng(layout));
  auto& image = *imageOwner;
  EXPECT_TRUE(image.HasTrns);
  EXPECT_EQ(image.TrnsColor, (TPngColor{20, 20, 20}));
  TMemoryStream out;
  EXPECT_EQ(MessageOf([&] { image.SaveToStream(out); }),
            "Gray scale transparent PNG images are not supported.\rUse the ifColor16 or ifColor256 "
            "image format instead.");
  EXPECT_EQ(out.Size(), 0);
}

TEST(PngGraphic, PaletteBackgroundAndTransparencyAreWritten) {
  auto image = MakePatterned<TPngGraphic>(ifColor256, 12, 12);
  image->HasBackground = true;
  image->HasTrns = true;
  image->BackgroundColor = {255, 255, 255};
  const TPaletteEntry seventh = image->LogPalette()->palPalEntry[7];
  image->TrnsColor = {seventh.peRed, seventh.peGreen, seventh.peBlue};
  auto backOwner = LoadBytes<TPngGraphic>(SaveBytes(*image));
  auto& back = *backOwner;
  EXPECT_TRUE(back.HasBackground);
  EXPECT_EQ(back.BackgroundColor, (TPngColor{255, 255, 255}));
  EXPECT_TRUE(back.HasTrns);
  EXPECT_EQ(back.TrnsColor, image->TrnsColor);
}

// 1-bit palette files keep their colours: only black then white is the
// black-and-white image as it is stored.
struct OneBitPalette {
  png_color zero, one;
  TImageFormat format;
};

class PngOneBitPalette : public ::testing::TestWithParam<OneBitPalette> {};

TEST_P(PngOneBitPalette, PixelsHaveThePaletteColours) {
  RawPng layout;
  layout.depth = 1;
  layout.colorType = PNG_COLOR_TYPE_PALETTE;
  layout.rowBytes = 1;
  layout.palette = {GetParam().zero, GetParam().one};
  layout.fill = [](std::uint8_t* row, int y) { row[0] = static_cast<std::uint8_t>(0xA5 >> y); };
  auto image = LoadBytes<TPngGraphic>(WriteRawPng(layout));
  EXPECT_EQ(image->ImageFormat(), GetParam().format);
  auto colour = [](const png_color& c) {
    return (std::uint32_t{c.red} << 16) | (std::uint32_t{c.green} << 8) | c.blue;
  };
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 8; ++x) {
      const bool set = ((0xA5 >> y) >> (7 - x)) & 1;
      ASSERT_EQ(image->Pixels(x, y), colour(set ? GetParam().one : GetParam().zero))
          << x << "," << y;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Palettes, PngOneBitPalette,
    ::testing::Values(OneBitPalette{{0, 0, 0}, {255, 255, 255}, ifBlackWhite},
                      OneBitPalette{{255, 255, 255}, {0, 0, 0}, ifBlackWhite},
                      OneBitPalette{{200, 30, 10}, {10, 40, 220}, ifColor16}));

TEST(PngGraphic, PhysInMetresGivesRoundedDpi) {
  RawPng layout;
  layout.ppm = 11811;  // 299.99 dpi
  layout.fill = [](std::uint8_t* row, int) { std::memset(row, 1, 8); };
  EXPECT_EQ(LoadBytes<TPngGraphic>(WriteRawPng(layout))->XDpi(), 300);
}

TEST(PngGraphic, FileGammaIsCorrectedForTheScreen) {
  RawPng layout;
  layout.gamma = 1.0;  // corrected by 1 / (1.0 * 2.0): brighter
  layout.fill = [](std::uint8_t* row, int) { std::memset(row, 64, 8); };
  auto imageOwner = LoadBytes<TPngGraphic>(WriteRawPng(layout));
  auto& image = *imageOwner;
  EXPECT_DOUBLE_EQ(image.Gamma, 1.0);
  EXPECT_NEAR(image.PixelIndex(0, 0), 255.0 * std::sqrt(64 / 255.0), 1.5);
  layout.gamma = 0;
  EXPECT_EQ(LoadBytes<TPngGraphic>(WriteRawPng(layout))->PixelIndex(0, 0), 64);
}

TEST(PngGraphic, AssignCopiesTheSettings) {
  auto source = MakePatterned<TPngGraphic>(ifGray256, 3, 3);
  source->Gamma = 0.45;
  source->Interlaced = false;
  source->CompressionLevel = 2;
  source->TrnsColor = {1, 2, 3};
  TPngGraphic dest;
  dest.Assign(source.get());
  EXPECT_DOUBLE_EQ(dest.Gamma, 0.45);
  EXPECT_FALSE(dest.Interlaced);
  EXPECT_EQ(dest.CompressionLevel, 2);
  EXPECT_EQ(dest.TrnsColor, (TPngColor{1, 2, 3}));
}

TEST(PngGraphic, NotAPng) {
  TMemoryStream s;
  s.WriteBuffer("GIF89a..", 8);
  s.SetPosition(0);
  EXPECT_FALSE(TPngGraphic().IsValidStream(s));
  EXPECT_EQ(s.Position(), 0);
  EXPECT_EQ(MessageOf([&] { TPngGraphic().LoadImageFromStream(s, 1); }),
            "PNG file is not valid or corrupted");
}

TEST(PngGraphic, WarningsGoToTheHandlerAndReadingContinues) {
  RawPng layout;
  layout.fill = [](std::uint8_t* row, int y) { std::memset(row, y, 8); };
  auto bytes = WriteRawPng(layout);
  // Ancillary chunks with a wrong CRC after IHDR: warnings only, and one
  // file gives the user one of them (a box each would stop a batch).
  png_warnings::InsertBadChunks(bytes, 3);
  std::vector<std::string> warnings;
  TPngGraphic image;
  image.OnWarning = [&](TObject* sender, const std::string& m) {
    EXPECT_EQ(sender, &image);
    warnings.push_back(m);
  };
  TMemoryStream stream;
  stream.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  stream.SetPosition(0);
  EXPECT_NO_THROW(image.LoadImageFromStream(stream, 1));
  EXPECT_FALSE(image.Empty());
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("2 more"), std::string::npos) << warnings[0];
}

// --- JPEG ------------------------------------------------------------------------------

double MeanError(const TDibGraphic& a, const TDibGraphic& b) {
  double sum = 0;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x)
      for (int shift : {0, 8, 16})
        sum +=
            std::abs(int((a.Pixels(x, y) >> shift) & 0xFF) - int((b.Pixels(x, y) >> shift) & 0xFF));
  return sum / (3.0 * a.Width() * a.Height());
}

struct JpegCase {
  TImageFormat format;
  bool progressive, optimize;
};

class JpegRoundTrip : public ::testing::TestWithParam<JpegCase> {};

TEST_P(JpegRoundTrip, CloseToTheOriginal) {
  auto image = std::make_unique<TJpegGraphic>();
  const TImageFormat format = GetParam().format;
  image->NewImage(48, 40, format, nullptr, 240, 240);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 48; ++x)
      image->SetPixels(
          x, y,
          format == ifGray256 ? 0x010101u * ((x + y) * 3) : ((x * 5) << 16) | ((y * 6) << 8) | 90);
  image->Progressive = GetParam().progressive;
  image->OptimizeCoding = GetParam().optimize;
  image->JpegQuality = 95;
  const auto bytes = SaveBytes(*image);
  TMemoryStream probe;
  probe.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  probe.SetPosition(0);
  EXPECT_TRUE(TJpegGraphic().IsValidStream(probe));
  auto backOwner = LoadBytes<TJpegGraphic>(bytes);
  auto& back = *backOwner;
  ASSERT_EQ(back.ImageFormat(), format);
  EXPECT_EQ(back.XDpi(), 240);
  EXPECT_LT(MeanError(*image, back), 3.0);
}

INSTANTIATE_TEST_SUITE_P(Settings, JpegRoundTrip,
                         ::testing::Values(JpegCase{ifGray256, false, false},
                                           JpegCase{ifTrueColor, false, false},
                                           JpegCase{ifTrueColor, true, false},
                                           JpegCase{ifTrueColor, false, true}));

TEST(JpegGraphic, OnlyGreyAndTrueColourAreWritten) {
  for (TImageFormat f : {ifBlackWhite, ifGray16, ifColor16, ifColor256}) {
    auto image = MakePatterned<TJpegGraphic>(f, 4, 4);
    TMemoryStream s;
    EXPECT_EQ(MessageOf([&] { image->SaveToStream(s); }),
              "JPEG image must be gray scale or true color");
    EXPECT_EQ(s.Size(), 0);
  }
}

// Writes a JPEG through libjpeg: Components 1, 3 or 4 (CMYK), one flat colour.
std::vector<std::uint8_t> WriteRawJpeg(int components, const std::uint8_t* colour, int unit,
                                       int density) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = 16;
  cinfo.image_height = 16;
  cinfo.input_components = components;
  cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 3 ? JCS_RGB : JCS_CMYK;
  jpeg_set_defaults(&cinfo);
  cinfo.density_unit = static_cast<UINT8>(unit);
  cinfo.X_density = cinfo.Y_density = static_cast<UINT16>(density);
  jpeg_set_quality(&cinfo, 100, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<std::uint8_t> row(16 * components);
  for (int x = 0; x < 16; ++x) std::memcpy(row.data() + x * components, colour, components);
  while (cinfo.next_scanline < 16) {
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&cinfo, &r, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::vector<std::uint8_t> out(buffer, buffer + size);
  std::free(buffer);
  return out;
}

TEST(JpegGraphic, DensityInCentimetresGivesDpi) {
  const std::uint8_t grey = 100;
  auto imageOwner = LoadBytes<TJpegGraphic>(WriteRawJpeg(1, &grey, 2, 118));
  auto& image = *imageOwner;
  EXPECT_EQ(image.XDpi(), 300);
  EXPECT_EQ(image.ImageFormat(), ifGray256);
  EXPECT_NEAR(image.PixelIndex(5, 5), 100, 1);
}

TEST(JpegGraphic, CmykIsInvertedThenSubtracted) {
  // Stored bytes (inverted CMYK, as Adobe writes it): c = 255 - 235 = 20, m = 60,
  // y = 255 - 55 = 200, k = 30.
  const std::uint8_t stored[4] = {235, 195, 55, 225};
  auto imageOwner = LoadBytes<TJpegGraphic>(WriteRawJpeg(4, stored, 0, 1));
  auto& image = *imageOwner;
  ASSERT_EQ(image.ImageFormat(), ifTrueColor);
  const std::uint32_t p = image.Pixels(8, 8);
  EXPECT_NEAR(int(p >> 16), 255 - 20 - 30, 2);
  EXPECT_NEAR(int((p >> 8) & 0xFF), 255 - 60 - 30, 2);
  EXPECT_NEAR(int(p & 0xFF), 255 - 200 - 30, 2);
  EXPECT_EQ(image.XDpi(), platform::ScreenDpiX());
}

// A valid progressive JPEG with one scan per coefficient and bit plane
// (704 scans): each scan costs a pass, so the reader stops early.
TEST(JpegGraphic, EndlessScanScriptsAreRefused) {
  std::vector<jpeg_scan_info> script;
  for (int k = 0; k < 64; ++k)
    for (int al = 10; al >= 0; --al) {
      jpeg_scan_info scan{};
      scan.comps_in_scan = 1;
      scan.component_index[0] = 0;
      scan.Ss = scan.Se = k;
      scan.Ah = al == 10 ? 0 : al + 1;
      scan.Al = al;
      script.push_back(scan);
    }
  jpeg_compress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = cinfo.image_height = 16;
  cinfo.input_components = 1;
  cinfo.in_color_space = JCS_GRAYSCALE;
  jpeg_set_defaults(&cinfo);
  cinfo.scan_info = script.data();
  cinfo.num_scans = static_cast<int>(script.size());
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<std::uint8_t> row(16, 77);
  while (cinfo.next_scanline < 16) {
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&cinfo, &r, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  const std::vector<std::uint8_t> bytes(buffer, buffer + size);
  std::free(buffer);
  EXPECT_EQ(MessageOf([&] { LoadBytes<TJpegGraphic>(bytes); }), "Too many scans in the JPEG file");
}

}  // namespace
}  // namespace lumetra
