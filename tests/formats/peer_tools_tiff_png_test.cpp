// What the TIFF, PNG and JPEG writers produce is checked by the peer tools,
// and libtiff's and the PNG suite's own files are read like ImageMagick
// reads them.
#include <dirent.h>
#include <sys/stat.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "formats/jpeg_graphic.h"
#include "formats/png_graphic.h"
#include "formats/tiff_graphic.h"
#include "lumetra_cli.h"
#include "peer_tools.h"
#include "support/format_images.h"

namespace lumetra {
namespace {

using namespace testing;  // peer tools, patterns and comparators

std::vector<std::string> FilesIn(const std::string& dir, const std::string& suffix) {
  std::vector<std::string> files;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      const std::string name = e->d_name;
      if (name.size() > suffix.size() &&
          name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
        files.push_back(dir + "/" + name);
    }
    closedir(d);
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string FindSourceDir(const std::string& prefix, const std::string& sub) {
  DIR* d = opendir(QV_SOURCES_CACHE);
  std::string found;
  if (!d) return found;
  while (dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    struct stat st {};
    const std::string path = std::string(QV_SOURCES_CACHE) + "/" + name + "/" + sub;
    if (name.rfind(prefix, 0) == 0 && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
      found = path;
  }
  closedir(d);
  return found;
}

// Every allowed TIFF compression and every PNG and JPEG layout is accepted
// by libtiff's tools, pngcheck and ImageMagick without a complaint.
TEST(PeerTools, WrittenFilesAreClean) {
  ASSERT_TOOLS("tiffinfo", "tiffdump", "identify", "pngcheck");
  const std::string tif = TempPath("qv_peer.tif");
  const std::string single = TempPath("qv_peer_single.tif");
  int pages = 0;
  {
    TFileStream out(tif, fmCreate);
    for (int f = ifBlackWhite; f <= ifTrueColor; ++f)
      for (int c = tcNone; c <= tcLZW; ++c) {
        if (!IsCompressionAllowed(TTiffCompression(c), TImageFormat(f))) continue;
        SCOPED_TRACE("format " + std::to_string(f) + " compression " + std::to_string(c));
        auto page = MakePatterned<TTiffGraphic>(TImageFormat(f), 64, 48);
        page->SetCompression(TTiffCompression(c));
        page->AppendToStream(out);
        page->SaveToFile(single);
        // -D decodes every strip.
        const ToolRun decoded = RunTool("tiffinfo -D " + single);
        EXPECT_EQ(decoded.status, 0) << decoded.output;
        EXPECT_EQ(decoded.output.find("arning"), std::string::npos) << decoded.output;
        EXPECT_EQ(decoded.output.find("rror"), std::string::npos) << decoded.output;
        ++pages;
      }
  }
  ToolRun info = RunTool("tiffinfo " + tif);
  EXPECT_EQ(info.status, 0) << info.output;
  EXPECT_EQ(info.output.find("arning"), std::string::npos) << info.output;
  EXPECT_EQ(info.output.find("rror"), std::string::npos) << info.output;
  ToolRun dump = RunTool("tiffdump " + tif);
  EXPECT_EQ(dump.status, 0) << dump.output;
  ToolRun identify = RunTool("identify " + tif);
  EXPECT_EQ(identify.status, 0) << identify.output;
  EXPECT_EQ(std::count(identify.output.begin(), identify.output.end(), '\n'), pages)
      << identify.output;
  std::remove(tif.c_str());
  std::remove(single.c_str());

  for (int f = ifBlackWhite; f <= ifTrueColor; ++f) {
    const std::string png = TempPath("qv_peer.png");
    auto image = MakePatterned<TPngGraphic>(TImageFormat(f), 33, 21);
    // Palette and colour files also carry background and transparency.
    image->HasBackground = image->HasTrns = f >= ifColor16;
    image->TrnsColor = {0, 0, 0};
    image->SaveToFile(png);
    ToolRun check = RunTool("pngcheck -v " + png);
    EXPECT_EQ(check.status, 0) << check.output;
    if (f >= ifColor16) {
      EXPECT_NE(check.output.find("tRNS"), std::string::npos) << check.output;
    }
    EXPECT_EQ(RunTool("identify " + png).status, 0);
    std::remove(png.c_str());
  }
  for (TImageFormat f : {ifGray256, ifTrueColor}) {
    const std::string jpg = TempPath("qv_peer.jpg");
    auto image = MakePatterned<TJpegGraphic>(f, 33, 21);
    image->SaveToFile(jpg);
    ToolRun check = RunTool("identify -verbose " + jpg);
    EXPECT_EQ(check.status, 0) << check.output;
    EXPECT_EQ(check.output.find("arning"), std::string::npos) << check.output;
    std::remove(jpg.c_str());
  }
}

bool HasExtraSamples(const std::string& file) {
  TIFF* tif = TIFFOpen(file.c_str(), "r");
  if (!tif) return false;
  std::uint16_t count = 0;
  std::uint16_t* types = nullptr;
  const bool extra = TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &count, &types) && count > 0;
  TIFFClose(tif);
  return extra;
}

TEST(PeerTools, LibtiffTestImagesLoadLikeImageMagick) {
  const std::string dir = FindSourceDir("tiff-", "test/images");
  ASSERT_TOOLS("convert");
  ASSERT_FALSE(dir.empty()) << "libtiff's sources are missing: run scripts/setup-deps.sh";
  int loaded = 0, compared = 0;
  std::vector<std::string> files = FilesIn(dir, ".tiff");
  for (const std::string& f : FilesIn(dir, ".tif")) files.push_back(f);
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    TTiffGraphic image;
    try {
      image.LoadFromFile(file);
    } catch (const ETiffError&) {
      continue;  // a codec or layout libtiff itself rejects
    } catch (const ELumetraError& e) {
      EXPECT_NE(std::string(e.what()).find("compression not supported"), std::string::npos)
          << e.what();
      continue;
    }
    ++loaded;
    // 16 greys use the library's own grey ramp, not a linear one; libtiff's
    // raster premultiplies alpha, which ImageMagick leaves alone.
    if (image.ImageFormat() == ifGray16 || HasExtraSamples(file)) continue;
    const auto rgb = MagickPixels(file, image.Width(), image.Height());
    if (rgb.empty()) continue;
    ++compared;
    EXPECT_GT(Agreement(image, rgb, 3), 0.99);
  }
  EXPECT_GT(loaded, 10);
  EXPECT_GT(compared, 5);
}

// The chunks of a PNG file, to find those ImageMagick does not treat as we do.
std::string ChunkTypes(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<std::uint8_t> b((std::istreambuf_iterator<char>(in)), {});
  std::string types;
  for (std::size_t at = 8; at + 8 <= b.size();) {
    const std::uint32_t length = (b[at] << 24) | (b[at + 1] << 16) | (b[at + 2] << 8) | b[at + 3];
    types += std::string(reinterpret_cast<const char*>(&b[at + 4]), 4) + " ";
    at += 12 + std::size_t(length);
  }
  return types;
}

TEST(PeerTools, PngSuiteLoadsLikeImageMagick) {
  const std::string dir = FindSourceDir("libpng1.6-", "contrib/pngsuite");
  ASSERT_TOOLS("convert");
  ASSERT_FALSE(dir.empty()) << "libpng's sources are missing: run scripts/setup-deps.sh";
  int loaded = 0, compared = 0;
  for (const std::string& file : FilesIn(dir, ".png")) {
    SCOPED_TRACE(file);
    const std::string base = file.substr(file.rfind('/') + 1);
    TPngGraphic image;
    try {
      image.LoadFromFile(file);
    } catch (const EPNGError& e) {
      // Only the deliberately broken files (x*) may fail.
      EXPECT_EQ(base[0], 'x') << e.what();
      continue;
    }
    ++loaded;
    const std::string chunks = ChunkTypes(file);
    std::ifstream in(file, std::ios::binary);
    std::vector<std::uint8_t> head(26);
    in.read(reinterpret_cast<char*>(head.data()), 26);
    const int depth = head[24], colorType = head[25];
    // Gamma correction, transparency and alpha compositing are ours to do.
    if (chunks.find("gAMA") != std::string::npos || chunks.find("tRNS") != std::string::npos ||
        chunks.find("sRGB") != std::string::npos || (colorType & 4) ||
        image.ImageFormat() == ifGray16 || (depth == 2))
      continue;
    const auto rgb = MagickPixels(file, image.Width(), image.Height());
    if (rgb.empty()) continue;
    ++compared;
    EXPECT_GT(Agreement(image, rgb, 2), 0.999);
  }
  EXPECT_GT(loaded, 20);
  EXPECT_GT(compared, 5);
}

// A PNG written by ImageMagick in each layout goes through `lumetra convert`
// to PNG and to TIFF and keeps the pixels ImageMagick reads from it. The
// files carry no gamma chunks (without them no gamma correction applies)
// but do carry ImageMagick's bKGD.
struct MagickPng {
  const char* name;
  const char* options;
  int tolerance;  // 16-bit samples: ImageMagick rounds where we take the high byte
};

class MagickPngVariants : public ::testing::TestWithParam<MagickPng> {};

TEST_P(MagickPngVariants, ConvertKeepsThePixelsImageMagickReads) {
  ASSERT_TOOLS("convert", "identify");
  const MagickPng& v = GetParam();
  const std::string in = TempPath(std::string("qv_magick_") + v.name + ".png");
  const ToolRun made =
      RunTool("convert rose: -define png:exclude-chunks=gAMA,cHRM,sRGB,iCCP,tIME,tEXt,zTXt,date " +
              std::string(v.options) + " " + in);
  ASSERT_EQ(made.status, 0) << made.output;
  const auto expected = MagickPixels(in, 70, 46);
  ASSERT_FALSE(expected.empty());
  for (const char* extension : {".png", ".tif"}) {
    SCOPED_TRACE(extension);
    const std::string out = TempPath(std::string("qv_magick_out_") + v.name + extension);
    std::ostringstream cliOut, cliErr;
    ASSERT_EQ(cli::Run({"convert", in, out}, cliOut, cliErr), 0) << cliErr.str();
    const auto got = MagickPixels(out, 70, 46);
    ASSERT_EQ(got.size(), expected.size());
    // TIFF colour maps hold c * 256, which ImageMagick reads back as c - 1.
    const int tolerance = v.tolerance + (std::string(extension) == ".tif" ? 1 : 0);
    int worst = 0;
    for (std::size_t i = 0; i < got.size(); ++i)
      worst = std::max(worst, std::abs(int(got[i]) - int(expected[i])));
    EXPECT_LE(worst, tolerance);
    std::remove(out.c_str());
  }
  std::remove(in.c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, MagickPngVariants,
    ::testing::Values(
        MagickPng{"Grey1", "-threshold 50% -define png:bit-depth=1 -define png:color-type=0", 0},
        MagickPng{"Grey2",
                  "-colorspace Gray -depth 2 -define png:bit-depth=2 -define png:color-type=0", 0},
        MagickPng{"Grey4",
                  "-colorspace Gray -depth 4 -define png:bit-depth=4 -define png:color-type=0", 0},
        MagickPng{"Grey8",
                  "-colorspace Gray -define png:bit-depth=8 -define png:color-type=0", 0},
        MagickPng{"Grey16",
                  "-colorspace Gray -depth 16 -define png:bit-depth=16 -define png:color-type=0",
                  1},
        // Without its bKGD entry the palette has two colours and one bit.
        MagickPng{"Palette1TwoColours",
                  "-colors 2 -define png:bit-depth=1 -define png:color-type=3 "
                  "-define png:exclude-chunks=gAMA,cHRM,sRGB,iCCP,tIME,tEXt,zTXt,date,bKGD",
                  0},
        MagickPng{"Palette2", "-colors 3 -define png:bit-depth=2 -define png:color-type=3", 0},
        MagickPng{"Palette4", "-colors 12 -define png:bit-depth=4 -define png:color-type=3", 0},
        MagickPng{"Palette8", "-colors 60 -define png:bit-depth=8 -define png:color-type=3", 0},
        MagickPng{"Rgb8", "-define png:bit-depth=8 -define png:color-type=2", 0},
        MagickPng{"Rgb16", "-depth 16 -define png:bit-depth=16 -define png:color-type=2", 1},
        MagickPng{"RgbInterlaced", "-interlace PNG -define png:color-type=2", 0},
        MagickPng{"GreyInterlaced",
                  "-colorspace Gray -interlace PNG -define png:bit-depth=8 -define png:color-type=0",
                  0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace lumetra
