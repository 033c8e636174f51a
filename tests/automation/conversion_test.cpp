// The converter's plan run through libtiff's own tiff2pdf tool on documents
// written as the scanning window writes them, and what it gives checked by
// the peer readers: qpdf accepts it and pdftoppm renders every page like
// ImageMagick reads the TIFF page (exactly for black and white, grey and
// palette pages, within the loss of JPEG for true colour).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "conversion_plan.h"
#include "support/format_images.h"
#include "pdf_file.h"
#include "scanwindow/scan_document.h"

namespace quorvex::tiff2pdf {
namespace {

using namespace lumetra;
using scanwindow::TScanContext;
using scanwindow::WriteScannedPage;

std::string Quote(const std::string& text) {
  return "'" + text + "'";
}

// Exit status and everything the command printed.
std::pair<int, std::string> RunCommand(const std::string& command) {
  std::string output;
  if (FILE* pipe = popen((command + " 2>&1").c_str(), "r")) {
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
    return {pclose(pipe), output};
  }
  return {-1, output};
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

class ConversionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"tiff2pdf", "tiff2rgba", "pdftoppm", "qpdf", "compare"})
      if (RunCommand(std::string("command -v ") + tool).first != 0)
        FAIL() << tool << " is missing: run scripts/setup-packages.sh";
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    for (char& c : name)
      if (c == '/') c = '_';
    dir_ = std::filesystem::temp_directory_path() / ("qv_conversion_" + name);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    if (!HasFailure()) std::filesystem::remove_all(dir_);
  }

  // Pages of Format written through the page callback's own routine.
  std::string Document(TImageFormat format, int pages, int width, int height, int dpi) {
    const std::string path = (dir_ / "doc.tif").string();
    TFileStream stream(path, fmCreate);
    TScanContext context{1, nullptr, &stream, 0};
    for (int page = 0; page < pages; ++page) {
      auto image = lumetra::testing::MakePatterned<TTiffGraphic>(format, width, height);
      if (format == ifTrueColor) {
        // A photograph rather than noise: what JPEG is made for.
        for (int y = 0; y < height; ++y)
          for (int x = 0; x < width; ++x)
            image->SetPixels(x, y,
                             (std::uint32_t(x * 255 / width) << 16) |
                                 (std::uint32_t(y * 255 / height) << 8) | std::uint32_t(page * 90));
      }
      context.encoder = image.get();
      WriteScannedPage(context, static_cast<std::uint16_t>(dpi), static_cast<std::uint16_t>(dpi));
      ++context.pages;
    }
    return path;
  }

  // Runs the tool as the converter plans it; answers the PDF's bytes.
  std::string Convert(const TConversionPlan& plan) {
    std::string command = "tiff2pdf";
    for (std::size_t i = 1; i < plan.tool.size(); ++i) command += " " + Quote(plan.tool[i]);
    const auto [status, output] = RunCommand(command);
    EXPECT_EQ(status, 0) << command << "\n" << output;
    return ReadFile(plan.output);
  }

  std::filesystem::path dir_;
};

class EveryFormat : public ConversionTest, public ::testing::WithParamInterface<TImageFormat> {};

TEST_P(EveryFormat, ConvertsToAPdfWhosePagesRenderLikeTheTiffPages) {
  const int dpi = 100, pages = 2;
  const std::string tiff = Document(GetParam(), pages, 240, 160, dpi);
  const std::string pdf = (dir_ / "doc.pdf").string();
  const TConversionPlan plan = PlanConversion({"tiff2pdf.exe", "-o" + pdf, "-cQuorv", tiff});
  EXPECT_EQ(plan.pages, pages);
  EXPECT_EQ(CheckPdf(Convert(plan), pages), "");
  const auto qpdf = RunCommand("qpdf --check " + Quote(pdf));
  EXPECT_EQ(qpdf.first, 0) << qpdf.second;
  // The TIFF pages as libtiff renders them (ImageMagick rounds a palette's
  // 16-bit entries its own way); the PDF pages at four times the scan's
  // resolution, where pdftoppm samples an image without smoothing, and
  // every fourth pixel taken.
  const std::string rgba = (dir_ / "rgba.tif").string();
  ASSERT_EQ(RunCommand("tiff2rgba -c none " + Quote(tiff) + " " + Quote(rgba)).first, 0);
  for (int page = 1; page <= pages; ++page) {
    const std::string rendered = (dir_ / "rendered").string();
    const std::string expected = (dir_ / "expected.png").string();
    const std::string sampled = (dir_ / "sampled.png").string();
    ASSERT_EQ(RunCommand("pdftoppm -r " + std::to_string(4 * dpi) + " -f " + std::to_string(page) +
                         " -l " + std::to_string(page) + " -singlefile -png " + Quote(pdf) + " " +
                         Quote(rendered))
                  .first,
              0);
    ASSERT_EQ(RunCommand("convert " + Quote(rendered + ".png") + " -sample 25% -alpha off " +
                         Quote(sampled))
                  .first,
              0);
    ASSERT_EQ(RunCommand("convert " + Quote(rgba + "[" + std::to_string(page - 1) + "]") +
                         " -alpha off -depth 8 " + Quote(expected))
                  .first,
              0);
    const std::string metric = GetParam() == ifTrueColor ? "PSNR" : "AE";
    const auto [status, value] = RunCommand("compare -metric " + metric + " " + Quote(expected) +
                                            " " + Quote(sampled) + " null:");
    ASSERT_NE(status, -1);
    if (GetParam() == ifTrueColor)
      EXPECT_GE(std::atof(value.c_str()), 30.0) << "page " << page << ": PSNR " << value;
    else
      EXPECT_EQ(value, "0") << "page " << page << " differs in pixels: " << value;
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, EveryFormat,
                         ::testing::Values(ifBlackWhite, ifGray16, ifGray256, ifColor16, ifColor256,
                                           ifTrueColor));

TEST_F(ConversionTest, APageLargerThanThePaperIsScaledDownAndOneThatFitsIsNot) {
  const std::string pdf = (dir_ / "doc.pdf").string();
  // A4 at 100 dpi on Letter: 842 points high, the paper 792.
  std::string tiff = Document(ifBlackWhite, 1, 827, 1169, 100);
  TConversionPlan plan = PlanConversion({"tiff2pdf.exe", "-o" + pdf, "-pletter", tiff});
  std::string bytes = Convert(plan);
  EXPECT_EQ(CheckPdf(bytes, 1), "");
  double w = 0, b = 0, c = 0, h = 0, x = 0, y = 0;
  const std::size_t cm = bytes.find(" cm");
  ASSERT_NE(cm, std::string::npos);
  ASSERT_EQ(std::sscanf(bytes.c_str() + bytes.rfind('q', cm) + 1, "%lf %lf %lf %lf %lf %lf", &w, &b,
                        &c, &h, &x, &y),
            6);
  EXPECT_NEAR(h, 792, 0.01);
  EXPECT_NEAR(w / h, 827.0 / 1169.0, 0.002);
  EXPECT_GE(x, 0);
  // The same page on Legal fits: it keeps its size.
  plan = PlanConversion({"tiff2pdf.exe", "-o" + pdf, "-plegal", tiff});
  EXPECT_EQ(std::count(plan.tool.begin(), plan.tool.end(), "-F"), 0);
}

TEST(PlanConversion, KeepsTextOutsideAsciiFromTheTool) {
  const TConversionPlan plan = PlanConversion(
      {"tiff2pdf.exe", "-o/x/doc.pdf", "-tAnnual \x80", "-aAnn", "-kcaf\xE9", "doc.tif"});
  EXPECT_EQ(plan.output, "/x/doc.pdf");
  ASSERT_EQ(plan.texts.size(), 2u);
  EXPECT_EQ(plan.texts[0].key, "Title");
  EXPECT_EQ(plan.texts[0].value, "Annual \x80");
  EXPECT_EQ(plan.texts[1].key, "Keywords");
  EXPECT_EQ(plan.tool,
            (std::vector<std::string>{"tiff2pdf.exe", "-o/x/doc.pdf", "-aAnn", "doc.tif"}));
  EXPECT_EQ(plan.pages, -1);  // no such file: the tool reports it
}

}  // namespace
}  // namespace quorvex::tiff2pdf
