#include <sstream>

#include "formats/format_test_util.h"
#include "formats/png_graphic.h"
#include "formats/tiff_graphic.h"
#include "lumetra_cli.h"
#include "platform/platform.h"

namespace lumetra {
namespace {

using testing::MakePatterned;
using testing::SamePixels;
using testing::TempPath;

struct Result {
  int code;
  std::string out, err;
};

Result Lumetra(std::vector<std::string> args) {
  std::ostringstream out, err;
  const int code = cli::Run(args, out, err);
  return {code, out.str(), err.str()};
}

class LumetraTool : public ::testing::Test {
 protected:
  void SetUp() override {
    twoPages = TempPath("qv_cli_two.tif");
    TFileStream file(twoPages, fmCreate);
    first = MakePatterned<TTiffGraphic>(ifBlackWhite, 40, 30, 300);
    second = MakePatterned<TTiffGraphic>(ifTrueColor, 20, 10, 150);
    second->SetCompression(tcLZW);
    first->SaveToStream(file);
    second->AppendToStream(file);
  }
  void TearDown() override {
    for (const std::string& f : {twoPages, TempPath("qv_cli_out.tif"), TempPath("qv_cli_out.png"),
                                 TempPath("qv_cli_out.jpg"), TempPath("qv_cli_append.tif")})
      platform::RemoveFile(f);
  }
  std::string twoPages;
  std::unique_ptr<TTiffGraphic> first, second;
};

TEST_F(LumetraTool, InfoListsEveryPage) {
  const Result r = Lumetra({"info", twoPages});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("pages: 2"), std::string::npos) << r.out;
  EXPECT_NE(
      r.out.find("page 1: 40 x 30, Black and white, 300 x 300 dpi, CCITT Group 4 compression"),
      std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("page 2: 20 x 10, True color, 150 x 150 dpi, LZW compression"),
            std::string::npos)
      << r.out;
}

TEST_F(LumetraTool, ConvertKeepsAllPagesOfATiff) {
  const std::string out = TempPath("qv_cli_out.tif");
  ASSERT_EQ(Lumetra({"convert", twoPages, out, "--compression", "zlib"}).code, 0);
  TTiffGraphic page;
  page.SetImageIndex(2);
  page.LoadFromFile(out);
  EXPECT_TRUE(SamePixels(*second, page));
  EXPECT_EQ(page.Compression(), tcZLib);
}

TEST_F(LumetraTool, ConvertOnePageToASingleImageFormat) {
  const std::string out = TempPath("qv_cli_out.png");
  const Result refused = Lumetra({"convert", twoPages, out});
  EXPECT_EQ(refused.code, 1);
  EXPECT_NE(refused.err.find("does not support multiple images"), std::string::npos) << refused.err;
  EXPECT_FALSE(platform::FileExists(out));
  ASSERT_EQ(Lumetra({"convert", twoPages, out, "--page", "2"}).code, 0);
  TPngGraphic png;
  png.LoadFromFile(out);
  EXPECT_TRUE(SamePixels(*second, png));
}

TEST_F(LumetraTool, JpegOutputWidensBlackAndWhite) {
  const std::string out = TempPath("qv_cli_out.jpg");
  const Result r = Lumetra({"convert", twoPages, out, "--page", "1", "--quality", "90"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Lumetra({"info", out}).out.find("40 x 30, True color") != std::string::npos, true);
}

TEST_F(LumetraTool, AppendAddsThePagesAtTheEnd) {
  const std::string out = TempPath("qv_cli_append.tif");
  ASSERT_EQ(Lumetra({"append", twoPages, out}).code, 0);
  ASSERT_EQ(Lumetra({"append", twoPages, out}).code, 0);
  EXPECT_NE(Lumetra({"info", out}).out.find("pages: 4"), std::string::npos);
  TTiffGraphic page;
  page.SetImageIndex(3);
  page.LoadFromFile(out);
  EXPECT_TRUE(SamePixels(*first, page));
}

struct BadCall {
  std::vector<std::string> args;
  int code;
  const char* message;
};

class LumetraToolErrors : public LumetraTool, public ::testing::WithParamInterface<BadCall> {};

TEST_P(LumetraToolErrors, ClearMessageAndExitCode) {
  std::vector<std::string> args = GetParam().args;
  for (std::string& a : args)
    if (a == "IN") a = twoPages;
  const Result r = Lumetra(args);
  EXPECT_EQ(r.code, GetParam().code);
  EXPECT_NE(r.err.find(GetParam().message), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Calls, LumetraToolErrors,
    ::testing::Values(
        BadCall{{}, 2, "no command given"},
        BadCall{{"rotate", "IN"}, 2, "unknown command 'rotate'"},
        BadCall{{"info"}, 2, "wrong number of arguments for info"},
        BadCall{{"convert", "IN", "x.tif", "--compression", "zip"}, 2, "unknown compression 'zip'"},
        BadCall{
            {"convert", "IN", "x.tif", "--quality", "0"}, 2, "--quality must be between 1 and 100"},
        BadCall{
            {"convert", "IN", "x.tif", "--page", "two"}, 2, "'two' is not a valid integer value"},
        BadCall{{"convert", "IN", "x.tif", "--page", "3"}, 1, "has 2 page(s), not 3"},
        BadCall{{"convert", "IN", "x.tif", "--compression", "jpeg"},
                1,
                "JPEG compression not supported with Black and white images"},
        BadCall{{"info", "picture.xyz"}, 1, "Graphic files of .xyz format are not supported"},
        BadCall{{"info", "missing-file.tif"}, 1, "Cannot open file"},
        BadCall{{"append", "IN", "x.png"},
                1,
                "The TPngGraphic format does not support multiple images"}));

// The bitmap and portable formats go both ways; both pages of a TIFF fit in
// one DCX file; EPS is refused as an output.
TEST_F(LumetraTool, ConvertsIntoAndOutOfTheBitmapAndPortableFormats) {
  const std::string dcx = TempPath("qv_cli_out.dcx");
  ASSERT_EQ(Lumetra({"convert", twoPages, dcx}).code, 0);
  EXPECT_NE(Lumetra({"info", dcx}).out.find("pages: 2"), std::string::npos);
  for (const char* extension : {"bmp", "pcx", "tga", "ppm", "pbm"}) {
    SCOPED_TRACE(extension);
    const std::string out = TempPath(std::string("qv_cli_out.") + extension);
    const std::string back = TempPath("qv_cli_back.tif");
    const int page = std::string(extension) == "tga" || std::string(extension) == "ppm" ? 2 : 1;
    const Result r = Lumetra({"convert", dcx, out, "--page", std::to_string(page)});
    ASSERT_EQ(r.code, 0) << r.err;
    ASSERT_EQ(Lumetra({"convert", out, back}).code, 0);
    TTiffGraphic image;
    image.LoadFromFile(back);
    EXPECT_TRUE(SamePixels(image, page == 1 ? *first : *second, true));
    platform::RemoveFile(out);
    platform::RemoveFile(back);
  }
  const Result eps = Lumetra({"convert", twoPages, TempPath("qv_cli_out.eps"), "--page", "1"});
  EXPECT_EQ(eps.code, 1);
  EXPECT_FALSE(platform::FileExists(TempPath("qv_cli_out.eps")));
  platform::RemoveFile(dcx);
}

}  // namespace
}  // namespace lumetra
