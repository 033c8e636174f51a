#include "scanwindow/scan_document.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "base/exception.h"

namespace quorvex::scanwindow {
namespace {

using namespace lumetra;

struct FormatCase {
  TImageFormat format;
  TTiffCompression compression;
};

class PageCompressionTest : public testing::TestWithParam<FormatCase> {};

TEST_P(PageCompressionTest, ScannedPagesAreWrittenWithTheirFormatsCompression) {
  TMemoryStream stream;
  TTiffGraphic encoder;
  TScanContext context{1, &encoder, &stream, 0};
  for (int page = 0; page < 2; ++page) {
    encoder.NewImage(40 + page, 30, GetParam().format, nullptr, 0, 0);
    WriteScannedPage(context, 300, 150);
    ++context.pages;
    EXPECT_EQ(encoder.Compression(), GetParam().compression);
  }
  stream.Seek(0, soBeginning);
  TTiffGraphic reader;
  ASSERT_EQ(reader.GetImageCount(stream), 2);
  stream.Seek(0, soBeginning);
  reader.LoadImageFromStream(stream, 2);
  EXPECT_EQ(reader.Width(), 41);
  EXPECT_EQ(reader.XDpi(), 300);
  EXPECT_EQ(reader.YDpi(), 150);
  EXPECT_EQ(reader.Compression(), GetParam().compression);
}

INSTANTIATE_TEST_SUITE_P(Formats, PageCompressionTest,
                         testing::Values(FormatCase{ifBlackWhite, tcGroup4},
                                         FormatCase{ifGray16, tcPackbits},
                                         FormatCase{ifGray256, tcPackbits},
                                         FormatCase{ifColor256, tcPackbits},
                                         FormatCase{ifTrueColor, tcJPEG}));

TEST(AddPageFileName, AlwaysKeepsATiffExtensionAndDiffersFromTheDocument) {
  EXPECT_EQ(AddPageFileName("C:\\scan\\doc.tif"), "C:\\scan\\doc.tiff");
  EXPECT_EQ(AddPageFileName("C:\\scan\\doc.TIF"), "C:\\scan\\doc.TIFf");
  for (const char* name : {"C:\\scan\\doc.tiff", "C:\\scan\\doc", "C:\\scan\\doc.pdf"}) {
    const std::string temp = AddPageFileName(name);
    EXPECT_NE(temp, name);
    EXPECT_TRUE(temp.ends_with(".tif") || temp.ends_with(".tiff")) << temp;
  }
}

TEST(NumberedTempFileName, TakesTheSmallestFreeNumber) {
  std::set<std::string> taken = {"T\\Quorvex0.tiff", "T\\Quorvex1.tiff", "T\\Quorvex3.tiff"};
  EXPECT_EQ(NumberedTempFileName("T\\", [&](const std::string& n) { return taken.count(n) > 0; }),
            "T\\Quorvex2.tiff");
  EXPECT_EQ(NumberedTempFileName("T\\", [](const std::string&) { return false; }),
            "T\\Quorvex0.tiff");
}

TEST(PageAndZoomBoxes, ReadTheirNumbersAsTheWindowDoes) {
  EXPECT_EQ(PageBoxNumber("1,2"), 12);
  EXPECT_EQ(PageBoxNumber(" 3 "), 3);
  try {
    PageBoxNumber("abc");
    FAIL();
  } catch (const EConvertError& error) {
    EXPECT_EQ(error.Message(), "'abc' is not a valid integer value");
  }
  EXPECT_THROW(PageBoxNumber(""), EConvertError);
  EXPECT_EQ(ZoomBoxPercent("250"), 250);
  EXPECT_EQ(ZoomBoxPercent("abc"), 100);
  EXPECT_EQ(ZoomBoxPercent(""), 100);
}

// Writes pages of Format as the page callback does, told apart by width.
void WriteDocument(const std::string& name, TImageFormat format, std::initializer_list<int> widths) {
  TFileStream stream(name, fmCreate);
  TTiffGraphic encoder;
  TScanContext context{1, &encoder, &stream, 0};
  for (int width : widths) {
    encoder.NewImage(width, 8, format, nullptr, 0, 0);
    WriteScannedPage(context, 200, 200);
    ++context.pages;
  }
}

struct TPage {
  int width;
  TTiffCompression compression;
  bool operator==(const TPage&) const = default;
};

class RewriteTest : public testing::TestWithParam<TImageFormat> {
 protected:
  void SetUp() override {
    std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    for (char& c : test)
      if (c == '/') c = '_';
    dir_ = std::filesystem::temp_directory_path() / ("qv_rewrite_" + test);
    std::filesystem::create_directories(dir_);
    doc_ = (dir_ / "doc.tif").string();
    WriteDocument(doc_, GetParam(), {10, 20, 30});
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::vector<TPage> Pages(const std::string& name) {
    TFileStream stream(name, fmOpenRead);
    TTiffGraphic page;
    const int count = page.GetImageCount(stream);
    std::vector<TPage> pages;
    for (int i = 1; i <= count; ++i) {
      stream.Seek(0, soBeginning);
      page.LoadImageFromStream(stream, i);
      pages.push_back({page.Width(), page.Compression()});
    }
    return pages;
  }
  std::vector<TPage> Expected(std::initializer_list<int> widths) {
    std::vector<TPage> pages;
    for (int width : widths) pages.push_back({width, CompressionForFormat(GetParam())});
    return pages;
  }

  std::filesystem::path dir_;
  std::string doc_;
};

TEST_P(RewriteTest, DeletingTheMiddlePageKeepsTheOthersInOrderAndTheirCompression) {
  const std::string temp = (dir_ / "Quorvex0.tiff").string();
  RewriteWithoutPage(doc_, 3, 2, temp);
  EXPECT_EQ(Pages(doc_), Expected({10, 30}));
  EXPECT_FALSE(std::filesystem::exists(temp));
}

TEST_P(RewriteTest, AFailedRewriteLeavesTheDocumentUnchanged) {
  // Page 4 does not exist: reading it fails after pages 1 and 3 were copied.
  EXPECT_ANY_THROW(RewriteWithoutPage(doc_, 4, 2, (dir_ / "Quorvex0.tiff").string()));
  EXPECT_EQ(Pages(doc_), Expected({10, 20, 30}));
}

TEST_P(RewriteTest, AddedPagesFollowInScanOrderWithTheScanCompression) {
  // The added pages as a viewer would have written them: PackBits whatever
  // their format (the writer it makes does not carry the compression).
  const std::string added = (dir_ / "doc.tiff").string();
  {
    TFileStream stream(added, fmCreate);
    TTiffGraphic page;
    for (int width : {40, 50}) {
      page.NewImage(width, 8, GetParam(), nullptr, 0, 0);
      page.SetCompression(tcNone);
      stream.Seek(0, soBeginning);
      if (width == 40)
        page.SaveToStream(stream);
      else
        page.AppendToStream(stream);
    }
  }
  EXPECT_EQ(AppendPages(added, doc_), 2);
  EXPECT_EQ(Pages(doc_), Expected({10, 20, 30, 40, 50}));
  // Into a document that a scan without pages left empty.
  { TFileStream empty(doc_, fmCreate); }
  EXPECT_EQ(AppendPages(added, doc_), 2);
  EXPECT_EQ(Pages(doc_), Expected({40, 50}));
}

INSTANTIATE_TEST_SUITE_P(Formats, RewriteTest,
                         testing::Values(ifBlackWhite, ifGray256, ifColor16, ifTrueColor));

TEST(RemoveIfEmpty, RemovesOnlyAnEmptyFile) {
  const auto dir = std::filesystem::temp_directory_path() / "qv_remove_if_empty";
  std::filesystem::create_directories(dir);
  const std::string empty = (dir / "empty.tif").string(), full = (dir / "full.tif").string();
  { TFileStream file(empty, fmCreate); }
  WriteDocument(full, ifBlackWhite, {8});
  RemoveIfEmpty(empty);
  RemoveIfEmpty(full);
  RemoveIfEmpty((dir / "missing.tif").string());
  EXPECT_FALSE(std::filesystem::exists(empty));
  EXPECT_TRUE(std::filesystem::exists(full));
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace quorvex::scanwindow
