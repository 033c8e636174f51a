// What the PDF writer produces passes qpdf and renders in poppler like its
// pages, and the PDF files peers write from our images open.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "formats/jpeg_graphic.h"
#include "formats/pdf_graphic.h"
#include "formats/png_graphic.h"
#include "formats/tiff_graphic.h"
#include "peer_tools.h"
#include "support/format_images.h"

namespace lumetra {
namespace {

using namespace testing;  // peer tools, patterns and comparators

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

}  // namespace
}  // namespace lumetra
