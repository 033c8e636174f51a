// Bitmaps, PCX, DCX and Targa files as ImageMagick and netpbm write them
// read like those peers read them, and what we write reads like ours.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "formats/pcx_graphic.h"
#include "formats/registry.h"
#include "peer_tools.h"
#include "support/format_images.h"

namespace lumetra {
namespace {

using namespace testing;  // peer tools, patterns and comparators

// ImageMagick (and netpbm, for the 4-bit planar PCX ImageMagick does not
// write) make each variant; ours must read the pixels they read.
TEST(PeerTools, BitmapPcxAndTargaVariantsLoadLikeImageMagick) {
  ASSERT_TOOLS("convert");
  const std::string dir = TempPath("qv_variants");
  ASSERT_EQ(RunTool("rm -rf " + dir + " && mkdir -p " + dir).status, 0);
  const std::string make =
      "cd " + dir + " && convert -size 41x27 gradient:red-blue -swirl 90 s24.png" +
      " && convert s24.png -colors 200 PNG8:s8.png && convert s24.png -colors 14 PNG8:s4.png" +
      " && convert s24.png -monochrome PNG8:s1.png && convert s24.png -colorspace gray sg.png";
  ASSERT_EQ(RunTool(make).status, 0);
  struct Variant {
    const char* source;
    const char* options;
    const char* file;
  };
  const Variant variants[] = {
      {"s1", "BMP3:", "b3_1.bmp"},
      {"s4", "BMP3:", "b3_4.bmp"},
      {"s8", "BMP3:", "b3_8.bmp"},
      {"s24", "BMP3:", "b3_24.bmp"},
      {"s8", "-compress RLE BMP3:", "b3_rle8.bmp"},
      {"s1", "BMP2:", "os2_1.bmp"},
      {"s4", "BMP2:", "os2_4.bmp"},
      {"s8", "BMP2:", "os2_8.bmp"},
      {"s24", "BMP2:", "os2_24.bmp"},
      {"s8", "-define bmp:format=bmp4 ", "b4_8.bmp"},
      {"s24", "-define bmp:format=bmp4 ", "b4_24.bmp"},
      {"s1", "BMP:", "b5_1.bmp"},
      {"s24", "BMP:", "b5_24.bmp"},
      {"sg", "BMP:", "b5_grey.bmp"},
      {"s24", "-alpha set BMP:", "b5_32.bmp"},
      {"s24", "-define bmp:subtype=RGB565 BMP:", "b5_565.bmp"},
      {"s1", "", "p1.pcx"},
      {"s8", "", "p8.pcx"},
      {"sg", "", "pg.pcx"},
      {"s24", "", "p24.pcx"},
      {"s24", "-alpha set -channel A -evaluate set 50% +channel ", "p32.pcx"},
      {"s8", "-type palette ", "t8.tga"},
      {"s8", "-type palette -compress RLE ", "t8r.tga"},
      {"sg", "-type grayscale ", "tg.tga"},
      {"sg", "-type grayscale -compress RLE ", "tgr.tga"},
      {"s24", "", "t24.tga"},
      {"s24", "-compress RLE ", "t24r.tga"},
      {"s24", "-alpha set ", "t32.tga"},
      {"s24", "-alpha set -compress RLE ", "t32r.tga"},
      {"s24", "-orient TopLeft ", "t24top.tga"},
      {"s24", "-orient TopLeft -compress RLE ", "t24topr.tga"},
  };
  std::vector<std::string> files;
  for (const Variant& v : variants) {
    const std::string target = dir + "/" + v.file;
    const std::string command = "convert " + dir + "/" + v.source + ".png " + v.options + target;
    ASSERT_EQ(RunTool(command).status, 0) << command;
    files.push_back(target);
  }
  // netpbm's planar files are compared with netpbm's own reading: ImageMagick
  // takes a set bit of a one-bit PCX for black whatever its palette says.
  std::vector<std::string> netpbmFiles;
  if (HaveTool("ppmtopcx") && HaveTool("pcxtoppm")) {
    for (const char* s : {"s4", "s1"}) {
      const std::string target = dir + "/" + s + "_planar.pcx";
      ASSERT_EQ(RunTool("(convert " + dir + "/" + s + ".png ppm:- | ppmtopcx >" + target +
                        " && pcxtoppm " + target + " >" + target + ".ppm)")
                    .status,
                0);
      files.push_back(target);
      netpbmFiles.push_back(target);
    }
  }
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    std::unique_ptr<TDibGraphic> image;
    ASSERT_NO_THROW(image = LoadAny(file));
    const bool netpbm =
        std::find(netpbmFiles.begin(), netpbmFiles.end(), file) != netpbmFiles.end();
    const auto rgb = MagickPixels(netpbm ? file + ".ppm" : file, image->Width(), image->Height());
    ASSERT_FALSE(rgb.empty());
    EXPECT_EQ(Agreement(*image, rgb, 0), 1.0);
  }
  RunTool("rm -rf " + dir);
}

// The variants no peer writes (top-down and RLE4 bitmaps, 16-bit Targa
// files) are made here byte by byte; ours must read what ImageMagick reads.
TEST(PeerTools, HandMadeBitmapAndTargaVariantsLoadLikeImageMagick) {
  ASSERT_TOOLS("convert");
  constexpr int kW = 21, kH = 13;
  auto index = [](int x, int y) { return (x / 3 + y) % 16; };  // runs of three
  auto colour = [](int i) { return std::array<std::uint8_t, 3>{std::uint8_t(i * 16), std::uint8_t(255 - i * 9), std::uint8_t(i * 5)}; };
  using Bytes = std::vector<std::uint8_t>;
  auto put = [](Bytes& b, std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b.push_back(std::uint8_t(v >> (8 * i)));
  };
  // A BMP file around an info header's fields and the pixel data.
  auto bitmap = [&](int bits, int height, int compression, const Bytes& pixels) {
    Bytes b = {'B', 'M'};
    const int colours = bits <= 8 ? 16 : 0;
    put(b, 54 + 4 * colours + std::uint32_t(pixels.size()), 4);
    put(b, 0, 4);
    put(b, 54 + 4 * colours, 4);
    for (const auto& [v, n] : {std::pair{40, 4}, {kW, 4}, {height, 4}, {1, 2}, {bits, 2}, {compression, 4},
                              {int(pixels.size()), 4}, {2835, 4}, {2835, 4}, {colours, 4}, {0, 4}})
      put(b, std::uint32_t(v), n);
    for (int i = 0; i < colours; ++i) b.insert(b.end(), {colour(i)[2], colour(i)[1], colour(i)[0], 0});
    b.insert(b.end(), pixels.begin(), pixels.end());
    return b;
  };
  Bytes topDown24, topDown8, rle4;
  for (int y = 0; y < kH; ++y) {  // top row first
    for (int x = 0; x < kW; ++x) {
      const auto c = colour(index(x, y));
      topDown24.insert(topDown24.end(), {c[2], c[1], c[0]});
      topDown8.push_back(std::uint8_t(index(x, y)));
    }
    topDown24.resize((topDown24.size() + 3) / 4 * 4);
    topDown8.resize((topDown8.size() + 3) / 4 * 4);
  }
  for (int y = kH - 1; y >= 0; --y) {  // bottom row first: runs of three, then the rest absolute
    int x = 0;
    for (; x + 3 <= 15; x += 3) rle4.insert(rle4.end(), {3, std::uint8_t(index(x, y) * 17)});
    rle4.insert(rle4.end(), {0, std::uint8_t(kW - x)});
    Bytes absolute;
    for (; x < kW; x += 2)
      absolute.push_back(std::uint8_t(index(x, y) << 4 | (x + 1 < kW ? index(x + 1, y) : 0)));
    absolute.resize((absolute.size() + 1) / 2 * 2);
    rle4.insert(rle4.end(), absolute.begin(), absolute.end());
    rle4.insert(rle4.end(), {0, 0});
  }
  rle4.insert(rle4.end(), {0, 1});
  // 16-bit Targa files, plain and run-length, from either corner.
  auto targa = [&](bool rle, bool topLeft) {
    Bytes b(18, 0);
    b[2] = rle ? 10 : 2;
    b[12] = kW, b[14] = kH, b[16] = 16;
    b[17] = topLeft ? 0x20 : 0;
    for (int row = 0; row < kH; ++row) {
      const int y = topLeft ? row : kH - 1 - row;
      for (int x = 0; x < kW;) {
        const auto c = colour(index(x, y));
        const std::uint16_t v = std::uint16_t((c[0] >> 3) << 10 | (c[1] >> 3) << 5 | c[2] >> 3);
        const int run = rle ? std::min(3 - x % 3, kW - x) : 1;
        if (rle) b.push_back(std::uint8_t(0x80 | (run - 1)));
        put(b, v, 2);
        x += run;
      }
    }
    return b;
  };
  const std::pair<const char*, Bytes> files[] = {
      {"top_down24.bmp", bitmap(24, -kH, 0, topDown24)},
      {"top_down8.bmp", bitmap(8, -kH, 0, topDown8)},
      {"rle4.bmp", bitmap(4, kH, 2, rle4)},
      {"t16.tga", targa(false, false)},
      {"t16top.tga", targa(false, true)},
      {"t16r.tga", targa(true, false)},
      {"t16rtop.tga", targa(true, true)},
  };
  for (const auto& [name, bytes] : files) {
    const std::string file = TempPath(std::string("qv_hand_") + name);
    SCOPED_TRACE(file);
    {
      std::ofstream out(file, std::ios::binary);
      out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    std::unique_ptr<TDibGraphic> image;
    ASSERT_NO_THROW(image = LoadAny(file));
    ASSERT_EQ(image->Width(), kW);
    ASSERT_EQ(image->Height(), kH);
    const auto rgb = MagickPixels(file, kW, kH);
    ASSERT_FALSE(rgb.empty());
    // Five-bit channels: the two may widen them a level apart.
    EXPECT_EQ(Agreement(*image, rgb, std::string(name).ends_with(".tga") ? 8 : 0), 1.0);
    std::remove(file.c_str());
  }
}

// What we write, in every pixel format, ImageMagick reads cleanly with the
// same pixels; DCX files with every page.
TEST(PeerTools, WrittenBitmapPcxDcxAndTargaReadLikeOurs) {
  ASSERT_TOOLS("convert");
  RegisterExtraPictureFormats();
  const std::string dcx = TempPath("qv_written.dcx");
  std::remove(dcx.c_str());
  int pages = 0;
  for (int f = ifBlackWhite; f <= ifTrueColor; ++f) {
    for (const char* extension : {"bmp", "pcx", "tga", "dcx"}) {
      const TImageFormat format = TImageFormat(f);
      if (std::string(extension) == "tga" && f != ifGray256 && f != ifColor256 && f != ifTrueColor)
        continue;
      SCOPED_TRACE(std::string(extension) + " format " + std::to_string(f));
      const std::string file = TempPath(std::string("qv_written.") + extension);
      auto image = MakePatterned(format, 45, 31);
      if (std::string(extension) == "dcx") {
        auto page = MakePatterned<TDcxGraphic>(format, 45, 31);
        TFileStream out(dcx, pages ? fmOpenReadWrite : fmCreate);
        page->AppendToStream(out);
        ++pages;
        continue;
      } else {
        auto writer = CreateGraphicForFile(file);
        writer->Assign(image.get());
        writer->SaveToFile(file);
      }
      const ToolRun identify = RunTool("identify " + file);
      EXPECT_EQ(identify.status, 0) << identify.output;
      EXPECT_EQ(identify.output.find("arning"), std::string::npos) << identify.output;
      const auto rgb = MagickPixels(file, image->Width(), image->Height());
      ASSERT_FALSE(rgb.empty());
      EXPECT_EQ(Agreement(*image, rgb, 0), 1.0);
      std::remove(file.c_str());
    }
  }
  const ToolRun identify = RunTool("identify " + dcx);
  EXPECT_EQ(identify.status, 0) << identify.output;
  EXPECT_EQ(std::count(identify.output.begin(), identify.output.end(), '\n'), pages);
  for (int page = 0; page < pages; ++page) {
    SCOPED_TRACE("dcx page " + std::to_string(page + 1));
    auto image = MakePatterned(TImageFormat(page), 45, 31);
    const auto rgb = MagickPixels(dcx, 45, 31, page);
    ASSERT_FALSE(rgb.empty());
    EXPECT_EQ(Agreement(*image, rgb, 0), 1.0);
  }
  std::remove(dcx.c_str());
}

}  // namespace
}  // namespace lumetra
