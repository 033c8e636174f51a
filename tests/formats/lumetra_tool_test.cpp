#include <csignal>
#include <cstring>
#include <sstream>
#ifndef _WIN32
#include <sys/resource.h>
#endif

#include "support/png_warnings.h"
#include "formats/jpeg_graphic.h"
#include "formats/pdf_graphic.h"
#include "formats/png_graphic.h"
#include "formats/tiff_graphic.h"
#include "lumetra_cli.h"
#include "platform/platform.h"
#include "support/format_images.h"

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
    for (const std::string& f :
         {twoPages, TempPath("qv_cli_out.tif"), TempPath("qv_cli_out.png"),
          TempPath("qv_cli_out.jpg"), TempPath("qv_cli_append.tif"), TempPath("qv_cli_out.pdf")})
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

// A warning stops nothing: it is said on standard error, naming the file,
// once for the file, and the output is written.
TEST_F(LumetraTool, APngThatWarnsIsConvertedAndTheWarningPrinted) {
  const std::string in = TempPath("qv_cli_warns.png"), out = TempPath("qv_cli_out.tif");
  png_warnings::WriteFile(in);
  const Result r = Lumetra({"convert", in, out});
  TPngGraphic png;
  png.LoadFromFile(in);
  platform::RemoveFile(in);
  EXPECT_EQ(r.code, 0) << r.err;
  const std::size_t warning = r.err.find("lumetra: warning: " + in + ": ");
  EXPECT_NE(warning, std::string::npos) << r.err;
  EXPECT_NE(r.err.find("1 more warnings"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("lumetra: warning:", warning + 1), std::string::npos) << r.err;
  TTiffGraphic tiff;
  tiff.LoadFromFile(out);
  EXPECT_TRUE(SamePixels(png, tiff));
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

// The bytes of a file, to tell that a failed command changed nothing.
std::string FileBytes(const std::string& name) {
  TMemoryStream m;
  m.LoadFromFile(name);
  return {reinterpret_cast<char*>(m.Memory()), static_cast<std::size_t>(m.Size())};
}

// A three-page document whose second page points at pixels past its end.
std::string BrokenSecondPage(const TTiffGraphic& page) {
  TMemoryStream doc;
  for (int i = 0; i < 3; ++i) {
    TTiffGraphic copy;
    copy.Assign(&page);
    copy.SetCompression(tcNone);
    if (i == 0)
      copy.SaveToStream(doc);
    else
      copy.AppendToStream(doc);
  }
  auto u32 = [&](std::int64_t at) {
    std::uint32_t v;
    std::memcpy(&v, doc.Memory() + at, 4);
    return v;
  };
  const std::uint32_t first = u32(4);
  const std::uint32_t second = u32(first + 2 + 12 * (u32(first) & 0xFFFF));
  for (std::uint32_t e = 0; e < (u32(second) & 0xFFFF); ++e) {
    const std::uint32_t entry = second + 2 + 12 * e;
    if ((u32(entry) & 0xFFFF) == 273) {  // StripOffsets, one inline value
      const std::uint32_t past = 0x7FFFFF00;
      std::memcpy(doc.Memory() + entry + 8, &past, 4);
    }
  }
  const std::string name = TempPath("qv_cli_broken.tif");
  doc.SaveToFile(name);
  return name;
}

TEST_F(LumetraTool, AFailingSourcePageLeavesTheOutputByteForByte) {
  const std::string broken = BrokenSecondPage(*second);
  const std::string out = TempPath("qv_cli_out.tif");
  const std::string appended = TempPath("qv_cli_append.tif");
  ASSERT_EQ(Lumetra({"convert", twoPages, out}).code, 0);
  ASSERT_EQ(Lumetra({"convert", twoPages, appended}).code, 0);
  const std::string outBefore = FileBytes(out), appendedBefore = FileBytes(appended);

  const Result convert = Lumetra({"convert", broken, out});
  EXPECT_EQ(convert.code, 1);
  EXPECT_NE(convert.err.find(out + " was not written: " + broken + ", page 2: ETiffError"),
            std::string::npos)
      << convert.err;
  EXPECT_EQ(FileBytes(out), outBefore);

  const Result append = Lumetra({"append", broken, appended});
  EXPECT_EQ(append.code, 1);
  EXPECT_NE(append.err.find(appended + " was not written"), std::string::npos) << append.err;
  EXPECT_EQ(FileBytes(appended), appendedBefore);
  platform::RemoveFile(broken);
}

#ifndef _WIN32
// The process may write only so many bytes to a file, as on a full disk.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &old_);
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = old_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, oldHandler_);
  }

 private:
  rlimit old_{};
  void (*oldHandler_)(int);
};

TEST_F(LumetraTool, AWriteTheSystemRefusesLeavesTheOutputByteForByte) {
  auto big = MakePatterned<TTiffGraphic>(ifTrueColor, 300, 200);
  big->SetCompression(tcNone);
  const std::string bigName = TempPath("qv_cli_big.tif");
  big->SaveToFile(bigName);
  const std::string out = TempPath("qv_cli_out.tif");
  const std::string appended = TempPath("qv_cli_append.tif");
  ASSERT_EQ(Lumetra({"convert", twoPages, out}).code, 0);
  ASSERT_EQ(Lumetra({"convert", twoPages, appended}).code, 0);
  const std::string outBefore = FileBytes(out), appendedBefore = FileBytes(appended);
  Result convert, append;
  {
    FileSizeLimit limit(64 * 1024);
    convert = Lumetra({"convert", bigName, out, "--compression", "none"});
    append = Lumetra({"append", bigName, appended});
  }
  EXPECT_EQ(convert.code, 1);
  EXPECT_NE(convert.err.find(out + " was not written: ETiffError"), std::string::npos)
      << convert.err;
  EXPECT_NE(convert.err.find("Cannot write file \"" + out), std::string::npos) << convert.err;
  EXPECT_EQ(FileBytes(out), outBefore);
  EXPECT_EQ(append.code, 1);
  EXPECT_EQ(FileBytes(appended), appendedBefore);
  platform::RemoveFile(bigName);
}
#endif

TEST_F(LumetraTool, TiffToTiffKeepsTheDescriptiveTagsAndAnnotations) {
  TTiffGraphic page;
  page.Assign(second.get());
  page.ImageDescription = "Invoice 42";
  page.Artist = "Scanner operator";
  page.PageName = "front";
  page.SetCustomTagValue("Line 1 1 5 5");
  const std::string in = TempPath("qv_cli_tags.tif");
  page.SaveToFile(in);
  const std::string out = TempPath("qv_cli_out.tif");
  ASSERT_EQ(Lumetra({"convert", in, out}).code, 0);
  TTiffGraphic back;
  back.LoadFromFile(out);
  EXPECT_EQ(back.ImageDescription, "Invoice 42");
  EXPECT_EQ(back.Artist, "Scanner operator");
  EXPECT_EQ(back.PageName, "front");
  EXPECT_EQ(back.CustomTagValue(), "Line 1 1 5 5");
  platform::RemoveFile(in);
}

TEST_F(LumetraTool, ALoopingDirectoryChainIsReportedOnceAndItsPagesRead) {
  TMemoryStream doc;
  first->SaveToStream(doc);
  second->AppendToStream(doc);
  std::uint32_t firstDir, count;
  std::memcpy(&firstDir, doc.Memory() + 4, 4);
  std::memcpy(&count, doc.Memory() + firstDir, 4);
  std::uint32_t secondDir;
  std::memcpy(&secondDir, doc.Memory() + firstDir + 2 + 12 * (count & 0xFFFF), 4);
  std::memcpy(&count, doc.Memory() + secondDir, 4);
  std::memcpy(doc.Memory() + secondDir + 2 + 12 * (count & 0xFFFF), &firstDir, 4);
  const std::string looping = TempPath("qv_cli_loop.tif");
  doc.SaveToFile(looping);
  const Result r = Lumetra({"info", looping});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("pages: 2"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("page 2: 20 x 10"), std::string::npos) << r.out;
  const std::size_t warning = r.err.find("is damaged after page 2");
  EXPECT_NE(warning, std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("damaged", warning + 8), std::string::npos) << r.err;
  platform::RemoveFile(looping);
}

TEST_F(LumetraTool, PdfHoldsAllPagesAndTakesAppendedOnes) {
  const std::string out = TempPath("qv_cli_out.pdf");
  const Result converted = Lumetra({"convert", twoPages, out});
  ASSERT_EQ(converted.code, 0) << converted.err;
  EXPECT_NE(converted.out.find("wrote 2 page(s)"), std::string::npos) << converted.out;
  ASSERT_EQ(Lumetra({"append", twoPages, out}).code, 0);
  const Result info = Lumetra({"info", out});
  EXPECT_NE(info.out.find("format: TPdfGraphic\npages: 4\n"), std::string::npos) << info.out;
  // (The media box holds whole points, so small pages do not keep their
  // resolution exactly.)
  EXPECT_NE(info.out.find("page 3: 40 x 30, Black and white, "), std::string::npos) << info.out;
  TPdfGraphic page;
  page.SetImageIndex(3);
  page.LoadFromFile(out);
  EXPECT_TRUE(SamePixels(*first, page));
  EXPECT_EQ(Lumetra({"convert", twoPages, out, "--compression", "g4"}).code, 2);
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

// A page converted between TIFF and JPEG goes row by row from the input's
// decoder into the output's encoder; it must come out as the page decoded
// whole and then saved would, for every layout the rows carry.
struct StreamedCase {
  const char* name;
  TImageFormat format;
  bool jpegIn;
  TTiffCompression compression;  // of a TIFF input
  bool jpegOut;
  bool truncated = false;  // the JPEG input loses its second half
};

class LumetraStreamed : public ::testing::TestWithParam<StreamedCase> {};

TEST_P(LumetraStreamed, MatchesThePageDecodedWhole) {
  const StreamedCase& c = GetParam();
  const std::string in = TempPath(c.jpegIn ? "qv_cli_rows.jpg" : "qv_cli_rows.tif");
  const std::string out = TempPath(c.jpegOut ? "qv_cli_rows_out.jpg" : "qv_cli_rows_out.tif");
  std::unique_ptr<TDibGraphic> whole;
  if (c.jpegIn) {
    MakePatterned<TJpegGraphic>(c.format, 301, 203, 300)->SaveToFile(in);
    if (c.truncated) {
      const std::string bytes = FileBytes(in);
      TFileStream cut(in, fmCreate);
      cut.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size() / 2));
    }
    whole = std::make_unique<TJpegGraphic>();
  } else {
    auto page = MakePatterned<TTiffGraphic>(c.format, 301, 203, 300);
    page->SetCompression(c.compression);
    page->SaveToFile(in);
    whole = std::make_unique<TTiffGraphic>();
  }
  whole->LoadFromFile(in);
  const Result r = c.jpegOut ? Lumetra({"convert", in, out, "--quality", "70"})
                             : Lumetra({"convert", in, out, "--compression", "none"});
  ASSERT_EQ(r.code, 0) << r.err;
  if (c.jpegOut) {
    TJpegGraphic expected;
    expected.Assign(whole.get());
    expected.JpegQuality = 70;
    const std::string reference = TempPath("qv_cli_rows_ref.jpg");
    expected.SaveToFile(reference);
    EXPECT_EQ(FileBytes(out), FileBytes(reference));
    platform::RemoveFile(reference);
  } else {
    TTiffGraphic back;
    back.LoadFromFile(out);
    EXPECT_TRUE(SamePixels(*whole, back));
    EXPECT_EQ(back.XDpi(), 300);
  }
  platform::RemoveFile(in);
  platform::RemoveFile(out);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, LumetraStreamed,
    ::testing::Values(StreamedCase{"ColourTiffToJpeg", ifTrueColor, false, tcNone, true},
                      StreamedCase{"GreyLzwTiffToJpeg", ifGray256, false, tcLZW, true},
                      StreamedCase{"G4TiffToTiff", ifBlackWhite, false, tcGroup4, false},
                      StreamedCase{"PaletteTiffToTiff", ifColor256, false, tcZLib, false},
                      StreamedCase{"ColourTiffToTiff", ifTrueColor, false, tcLZW, false},
                      StreamedCase{"ColourJpegToTiff", ifTrueColor, true, tcNone, false},
                      StreamedCase{"GreyJpegToTiff", ifGray256, true, tcNone, false},
                      StreamedCase{"TruncatedJpegToTiff", ifTrueColor, true, tcNone, false, true}),
    [](const ::testing::TestParamInfo<StreamedCase>& info) {
      return std::string(info.param.name);
    });

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
