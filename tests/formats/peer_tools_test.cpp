// What the formats write is checked by the peer tools, and what those
// libraries' own test files hold is read like ImageMagick reads it.
#include <dirent.h>
#include <sys/stat.h>
#include <tiffio.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "formats/eps_graphic.h"
#include "support/format_images.h"
#include "formats/jpeg_graphic.h"
#include "formats/pcx_graphic.h"
#include "formats/pdf_graphic.h"
#include "formats/png_graphic.h"
#include "formats/ppm_graphic.h"
#include "formats/registry.h"
#include "formats/tiff_graphic.h"
#include "lumetra_cli.h"

namespace lumetra {
namespace {

using testing::MakePatterned;
using testing::PaintFlatBlocks;
using testing::TempPath;

bool HaveTool(const std::string& tool) {
  return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// The set-up installs every peer tool and source package: one that is
// missing is a broken machine, not a reason to check nothing.
#define ASSERT_TOOLS(...)                                                                     \
  for (const char* tool : {__VA_ARGS__})                                                      \
  ASSERT_TRUE(HaveTool(tool)) << tool << " is missing: run scripts/setup-packages.sh"

struct ToolRun {
  int status;
  std::string output;  // stdout and stderr
};

ToolRun RunTool(const std::string& command) {
  const std::string log = TempPath("qv_peer_tool.log");
  const int status = std::system((command + " >" + log + " 2>&1").c_str());
  std::ifstream in(log);
  std::stringstream text;
  text << in.rdbuf();
  std::remove(log.c_str());
  return {status, text.str()};
}

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

// ImageMagick's 8-bit RGB pixels of a page of File (0 the first), or empty.
// ImageMagick keeps the rows of a bottom-up Targa file in file order unless
// it is told to orient them.
std::vector<std::uint8_t> MagickPixels(const std::string& file, int width, int height,
                                       int page = 0) {
  const std::string raw = TempPath("qv_magick.rgb");
  std::remove(raw.c_str());
  const bool targa = file.size() > 4 && file.substr(file.size() - 4) == ".tga";
  if (RunTool("convert '" + file + "[" + std::to_string(page) + "]' " +
              (targa ? "-auto-orient " : "") + "-depth 8 rgb:" + raw)
          .status != 0)
    return {};
  std::ifstream in(raw, std::ios::binary);
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  std::remove(raw.c_str());
  if (bytes.size() != std::size_t(width) * height * 3) return {};
  return bytes;
}

// Fraction of pixels within Tolerance on every channel.
double Agreement(const TDibGraphic& image, const std::vector<std::uint8_t>& rgb, int tolerance) {
  long good = 0;
  for (int y = 0; y < image.Height(); ++y)
    for (int x = 0; x < image.Width(); ++x) {
      const std::uint32_t p = image.Pixels(x, y);
      const std::uint8_t* q = rgb.data() + (std::size_t(y) * image.Width() + x) * 3;
      good += std::abs(int(p >> 16) - q[0]) <= tolerance &&
              std::abs(int((p >> 8) & 0xFF) - q[1]) <= tolerance &&
              std::abs(int(p & 0xFF) - q[2]) <= tolerance;
    }
  return double(good) / (double(image.Width()) * image.Height());
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
// --- PDF documents -------------------------------------------------------------------

struct PdfPage {
  TImageFormat format;
  const char* enc;     // what pdfimages -list calls the filter
  const char* colour;  // and the colour space
  int bpc;
  int tolerance;  // per channel, 0 for the lossless filters
};
const PdfPage kPdfPages[] = {
    {ifBlackWhite, "ccitt", "gray", 1, 0}, {ifGray16, "image", "gray", 4, 0},
    {ifGray256, "jpeg", "gray", 8, 10},    {ifColor16, "jpeg", "rgb", 8, 40},
    {ifColor256, "image", "index", 8, 0},  {ifTrueColor, "jpeg", "rgb", 8, 40},
};

// Pages of 64 x 48 pixels at 72 dpi; lossy pages get flat 16-pixel blocks
// that JPEG keeps nearly exact, the others a fine pattern.
std::unique_ptr<TDibGraphic> PdfSource(const PdfPage& p) {
  auto image = MakePatterned(p.format, 64, 48, 72);
  if (p.tolerance) PaintFlatBlocks(*image);
  return image;
}

// A binary PPM (P6) as rows of RGB bytes; empty when it is none.
struct Ppm {
  int width = 0, height = 0;
  std::vector<std::uint8_t> rgb;
};
Ppm ReadPpm(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::string magic;
  int maxValue = 0;
  Ppm ppm;
  in >> magic >> ppm.width >> ppm.height >> maxValue;
  in.get();
  if (magic != "P6" || maxValue != 255) return {};
  ppm.rgb.resize(std::size_t(ppm.width) * ppm.height * 3);
  in.read(reinterpret_cast<char*>(ppm.rgb.data()), std::streamsize(ppm.rgb.size()));
  return ppm;
}

// Poppler smooths images drawn at their own size; drawn four times as
// large it replicates pixels, so the centre of each 4 x 4 cell is the pixel.
::testing::AssertionResult RendersLike(const std::string& pdf, int page, const TDibGraphic& source,
                                       int tolerance) {
  const std::string prefix = TempPath("qv_render");
  const ToolRun run = RunTool("pdftoppm -r 288 -f " + std::to_string(page) + " -l " +
                              std::to_string(page) + " -singlefile " + pdf + " " + prefix);
  if (run.status != 0) return ::testing::AssertionFailure() << run.output;
  const Ppm ppm = ReadPpm(prefix + ".ppm");
  std::remove((prefix + ".ppm").c_str());
  if (ppm.width != 4 * source.Width() || ppm.height != 4 * source.Height())
    return ::testing::AssertionFailure() << "rendered " << ppm.width << " x " << ppm.height;
  long long total = 0;
  for (int y = 0; y < source.Height(); ++y)
    for (int x = 0; x < source.Width(); ++x) {
      const std::uint8_t* q = &ppm.rgb[(std::size_t(4 * y + 2) * ppm.width + 4 * x + 2) * 3];
      const std::uint32_t p = source.Pixels(x, y);
      const int d[3] = {std::abs(int(p >> 16) - q[0]), std::abs(int((p >> 8) & 0xFF) - q[1]),
                        std::abs(int(p & 0xFF) - q[2])};
      for (int c : d) {
        total += c;
        if (c > 3 * tolerance)
          return ::testing::AssertionFailure()
                 << "page " << page << " pixel (" << x << "," << y << ") off by " << c;
      }
    }
  if (total > tolerance * 3LL * source.Width() * source.Height() / 4)
    return ::testing::AssertionFailure() << "page " << page << " mean error too large";
  return ::testing::AssertionSuccess();
}

// qpdf finds nothing wrong, pdfimages sees one image per page with the
// filter, colour space and size of its page, poppler renders every page
// like its source and our reader reads every page back.
void CheckDocument(const std::string& pdf, const std::vector<const PdfPage*>& pages,
                   const std::vector<std::unique_ptr<TDibGraphic>>& sources) {
  const ToolRun check = RunTool("qpdf --check " + pdf);
  EXPECT_EQ(check.status, 0) << check.output;
  EXPECT_EQ(check.output.find("WARNING"), std::string::npos) << check.output;
  const ToolRun list = RunTool("pdfimages -list " + pdf);
  ASSERT_EQ(list.status, 0) << list.output;
  std::istringstream lines(list.output);
  std::string line;
  std::getline(lines, line);
  std::getline(lines, line);
  for (std::size_t i = 0; i < pages.size(); ++i) {
    ASSERT_TRUE(std::getline(lines, line)) << list.output;
    std::istringstream fields(line);
    int page = 0, num = 0, width = 0, height = 0, comp = 0, bpc = 0;
    std::string type, colour, enc;
    fields >> page >> num >> type >> width >> height >> colour >> comp >> bpc >> enc;
    EXPECT_EQ(page, int(i) + 1) << line;
    EXPECT_EQ(width, 64) << line;
    EXPECT_EQ(height, 48) << line;
    EXPECT_EQ(colour, pages[i]->colour) << line;
    EXPECT_EQ(bpc, pages[i]->bpc) << line;
    EXPECT_EQ(enc, pages[i]->enc) << line;
    EXPECT_TRUE(RendersLike(pdf, int(i) + 1, *sources[i], pages[i]->tolerance));
    TPdfGraphic back;
    back.SetImageIndex(int(i) + 1);
    back.LoadFromFile(pdf);
    EXPECT_EQ(back.Width(), 64);
    EXPECT_EQ(back.XDpi(), 72);
  }
  EXPECT_FALSE(std::getline(lines, line)) << list.output;
}

TEST(PeerTools, EveryPdfVariantPassesQpdfAndRendersLikeItsPages) {
  ASSERT_TOOLS("qpdf", "pdftoppm", "pdfimages");
  const std::string pdf = TempPath("qv_peer.pdf");
  std::vector<const PdfPage*> all;
  std::vector<std::unique_ptr<TDibGraphic>> sources;
  for (const PdfPage& p : kPdfPages) {
    SCOPED_TRACE(ImageFormatName(p.format));
    all.push_back(&p);
    sources.push_back(PdfSource(p));
    TPdfGraphic single;
    single.Assign(sources.back().get());
    single.SaveToFile(pdf);
    std::vector<std::unique_ptr<TDibGraphic>> one;
    one.push_back(PdfSource(p));
    CheckDocument(pdf, {&p}, one);
  }
  {
    SCOPED_TRACE("all pages at once");
    TPdfGraphic writer;
    TFileStream out(pdf, fmCreate);
    writer.SaveImagesToStream(out, int(sources.size()), [&](int i, bool& freeIt) {
      freeIt = false;
      return static_cast<TGraphic*>(sources[i - 1].get());
    });
  }
  CheckDocument(pdf, all, sources);
  {
    SCOPED_TRACE("page by page appended");
    std::remove(pdf.c_str());
    TFileStream out(pdf, fmCreate);
    for (const auto& source : sources) {
      TPdfGraphic page;
      page.Assign(source.get());
      page.AppendToStream(out);
    }
  }
  CheckDocument(pdf, all, sources);
  std::remove(pdf.c_str());
}

// What peers write from our files opens in the library: tiff2pdf (the
// scanning component's converter) from every kind of page the scanner
// stores, and img2pdf from TIFF, PNG and JPEG.
TEST(PeerTools, PdfsOfPeersOpen) {
  ASSERT_TOOLS("tiff2pdf");
  struct Kind {
    TImageFormat format;
    TTiffCompression compression;
  };
  // Not JPEG pages: tiff2pdf 4.5 joins their 8-row strips into a stream
  // with several start-of-image markers and misplaces its cross-reference
  // table; poppler shows noise and qpdf reports the file damaged.
  const Kind kinds[] = {{ifBlackWhite, tcGroup4},  {ifBlackWhite, tcPackbits},
                        {ifGray16, tcPackbits},    {ifGray256, tcPackbits},
                        {ifColor16, tcPackbits},   {ifColor256, tcPackbits},
                        {ifTrueColor, tcPackbits}, {ifGray256, tcZLib}};
  const std::string tif = TempPath("qv_peer_in.tif");
  const std::string pdf = TempPath("qv_peer_out.pdf");
  TMemoryStream allPages;
  for (const Kind& k : kinds) {
    SCOPED_TRACE(ImageFormatName(k.format) + " " + TiffCompressionName(k.compression));
    auto page = MakePatterned<TTiffGraphic>(k.format, 64, 48, 150);
    page->SetCompression(k.compression);
    page->SaveToFile(tif);
    page->AppendToStream(allPages);
    TTiffGraphic stored;
    stored.LoadFromFile(tif);
    const ToolRun run = RunTool("tiff2pdf -o " + pdf + " " + tif);
    ASSERT_EQ(run.status, 0) << run.output;
    TPdfGraphic back;
    back.LoadFromFile(pdf);
    EXPECT_EQ(back.XDpi(), 150);
    EXPECT_TRUE(testing::SamePixels(back, stored));
  }
  // The whole multi-page file converted at once.
  allPages.SaveToFile(TempPath("qv_peer_all.tif"));
  ASSERT_EQ(RunTool("tiff2pdf -o " + pdf + " " + TempPath("qv_peer_all.tif")).status, 0);
  TPdfGraphic counter;
  {
    TFileStream in(pdf, fmOpenRead);
    EXPECT_EQ(counter.GetImageCount(in), int(std::size(kinds)));
  }
  std::remove(TempPath("qv_peer_all.tif").c_str());

  ASSERT_TOOLS("img2pdf");
  const std::string in = TempPath("qv_peer_in");
  auto g4 = MakePatterned<TTiffGraphic>(ifBlackWhite, 64, 48, 200);
  auto png8 = MakePatterned<TPngGraphic>(ifColor256, 64, 48, 200);
  auto pngGrey = MakePatterned<TPngGraphic>(ifGray256, 64, 48, 200);
  auto pngRgb = MakePatterned<TPngGraphic>(ifTrueColor, 64, 48, 200);
  auto jpeg = MakePatterned<TJpegGraphic>(ifTrueColor, 64, 48, 200);
  const std::pair<TDibGraphic*, const char*> inputs[] = {{g4.get(), ".tif"},
                                                         {png8.get(), ".png"},
                                                         {pngGrey.get(), ".png"},
                                                         {pngRgb.get(), ".png"},
                                                         {jpeg.get(), ".jpg"}};
  for (const auto& [image, extension] : inputs) {
    SCOPED_TRACE(std::string(image->ClassName()) + " " + ImageFormatName(image->ImageFormat()));
    const std::string file = in + extension;
    image->SaveToFile(file);
    auto stored = CreateGraphicForFile(file);
    stored->LoadFromFile(file);
    const ToolRun run = RunTool("img2pdf -o " + pdf + " " + file);
    ASSERT_EQ(run.status, 0) << run.output;
    TPdfGraphic back;
    back.LoadFromFile(pdf);
    EXPECT_EQ(back.XDpi(), 200);
    // img2pdf embeds JPEG and CCITT data as they are and PNG rows through
    // Flate with PNG predictors: every page decodes to the same pixels.
    EXPECT_TRUE(testing::SamePixels(back, *stored));
    std::remove(file.c_str());
  }
  std::remove(tif.c_str());
  std::remove(pdf.c_str());
}

// Loads File with the class its extension names.
std::unique_ptr<TDibGraphic> LoadAny(const std::string& file) {
  RegisterExtraPictureFormats();
  auto image = CreateGraphicForFile(file);
  image->LoadFromFile(file);
  return image;
}

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

// Portable maps as ImageMagick and netpbm write them: plain and raw, 8 and
// 16 bits (and netpbm's 10), with comment lines; ours read what they read.
TEST(PeerTools, PortableMapsLoadLikeThePeersReadThem) {
  ASSERT_TOOLS("convert", "pnmtoplainpnm", "pamdepth");
  const std::string dir = TempPath("qv_maps");
  ASSERT_EQ(RunTool("rm -rf " + dir + " && mkdir -p " + dir).status, 0);
  const std::string make =
      "cd " + dir + " && convert -size 41x27 gradient:red-blue -swirl 90 s24.png" +
      " && convert s24.png -colorspace gray sg.png && convert s24.png -monochrome s1.png";
  ASSERT_EQ(RunTool(make).status, 0);
  const char* const commands[] = {
      "convert s24.png -depth 8 p6.ppm",
      "convert s24.png -depth 16 p6_16.ppm",
      "convert s24.png -depth 8 -compress none p3.ppm",
      "convert s24.png -depth 16 -compress none p3_16.ppm",
      "convert sg.png -depth 8 p5.pgm",
      "convert sg.png -depth 16 p5_16.pgm",
      "convert sg.png -depth 8 -compress none p2.pgm",
      "convert s1.png p4.pbm",
      "convert s1.png -compress none p1.pbm",
      "pnmtoplainpnm p4.pbm >n1.pbm",
      "pnmtoplainpnm p5.pgm >n2.pgm",
      "pnmtoplainpnm p6.ppm >n3.ppm",
      "pamdepth 1023 p6.ppm >n6_10.ppm",
      "pamdepth 65535 p5.pgm >n5_16.pgm",
      "pamdepth 65535 p6.ppm | pnmtoplainpnm >n3_16.ppm",
      "(printf 'P6\n# one comment\n# and another\n41 27\n255\n'; tail -c 3321 p6.ppm) "
      ">comments.ppm",
  };
  for (const char* command : commands) {
    SCOPED_TRACE(command);
    ASSERT_EQ(RunTool("(cd " + dir + " && " + command + ")").status, 0);
  }
  for (const char* name : {"p6.ppm", "p6_16.ppm", "p3.ppm", "p3_16.ppm", "p5.pgm", "p5_16.pgm",
                           "p2.pgm", "p4.pbm", "p1.pbm", "n1.pbm", "n2.pgm", "n3.ppm", "n6_10.ppm",
                           "n5_16.pgm", "n3_16.ppm", "comments.ppm"}) {
    const std::string file = dir + "/" + name;
    SCOPED_TRACE(file);
    std::unique_ptr<TDibGraphic> image;
    ASSERT_NO_THROW(image = LoadAny(file));
    const auto rgb = MagickPixels(file, image->Width(), image->Height());
    ASSERT_FALSE(rgb.empty());
    EXPECT_EQ(Agreement(*image, rgb, 1), 1.0);
  }
  RunTool("rm -rf " + dir);
}

// Every format in both variants passes pnmfile and reads in ImageMagick with
// our pixels; Targa files of each depth too.
TEST(PeerTools, WrittenPortableMapsAndTargaReadLikeOurs) {
  ASSERT_TOOLS("convert", "pnmfile");
  for (int f = ifBlackWhite; f <= ifTrueColor; ++f)
    for (bool binary : {false, true}) {
      SCOPED_TRACE("format " + std::to_string(f) + (binary ? " raw" : " plain"));
      const std::string file = TempPath("qv_written.ppm");
      auto image = MakePatterned<TPpmGraphic>(TImageFormat(f), 45, 31);
      image->Binary = binary;
      image->SaveToFile(file);
      const ToolRun check = RunTool("pnmfile " + file);
      EXPECT_EQ(check.status, 0) << check.output;
      const auto rgb = MagickPixels(file, 45, 31);
      ASSERT_FALSE(rgb.empty());
      EXPECT_EQ(Agreement(*image, rgb, 0), 1.0);
      std::remove(file.c_str());
    }
}

// An EPS file with a binary header around netpbm's PostScript and a TIFF
// preview written by ImageMagick shows that preview.
TEST(PeerTools, EpsWithAPeerTiffPreviewShowsIt) {
  ASSERT_TOOLS("convert", "pnmtops");
  const std::string tif = TempPath("qv_preview.tif"), ps = TempPath("qv_preview.ps");
  auto image = MakePatterned(ifTrueColor, 40, 30);
  TPpmGraphic ppm;
  ppm.Assign(image.get());
  ppm.Binary = true;
  ppm.SaveToFile(TempPath("qv_preview.ppm"));
  ASSERT_EQ(RunTool("convert " + TempPath("qv_preview.ppm") + " -compress lzw " + tif).status, 0);
  ASSERT_EQ(RunTool("(pnmtops " + TempPath("qv_preview.ppm") + " >" + ps + ")").status, 0);
  TMemoryStream psBytes, tiffBytes;
  psBytes.LoadFromFile(ps);
  tiffBytes.LoadFromFile(tif);
  std::uint8_t h[32] = {};
  // The header is 30 bytes: seven offsets and lengths and a checksum
  // (0xFFFF: none).
  const std::uint32_t psAt = 30, tiffAt = 30 + std::uint32_t(psBytes.Size());
  const std::uint32_t fields[] = {TEPSGraphic::kMagic,
                                  psAt,
                                  std::uint32_t(psBytes.Size()),
                                  0,
                                  0,
                                  tiffAt,
                                  std::uint32_t(tiffBytes.Size()),
                                  0xFFFF};
  std::memcpy(h, fields, sizeof h);
  TMemoryStream eps;
  eps.WriteBuffer(h, 30);
  eps.WriteBuffer(psBytes.Memory(), psBytes.Size());
  eps.WriteBuffer(tiffBytes.Memory(), tiffBytes.Size());
  eps.SetPosition(0);
  auto reader = CreateGraphicForFile("x.eps");
  reader->LoadImageFromStream(eps, 1);
  EXPECT_TRUE(testing::SamePixels(*image, *reader));
  for (const std::string& f : {tif, ps, TempPath("qv_preview.ppm")}) std::remove(f.c_str());
}

}  // namespace
}  // namespace lumetra
