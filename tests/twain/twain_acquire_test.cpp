// Acquiring from the Quorvex Virtual Scanner: what is negotiated with and
// without the source's dialog, batches, the progress indicator, cancelled and
// failed transfers, and the folder source.
#include <gtest/gtest.h>
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "twain/twain_scanner.h"
#include "twain_scanner_fixture.h"

namespace quorvex::twain {
namespace {

using namespace scanner_test;  // the fixture, its pages and robots

struct FormatCase {
  TImageFormat format;
  std::uint16_t xDpi;
  std::uint16_t yDpi;
};

class TwainFormatTest : public TwainScannerTest,
                        public ::testing::WithParamInterface<FormatCase> {};

TEST_P(TwainFormatTest, PagesArriveAsNegotiated) {
  const FormatCase c = GetParam();
  Configure("pages = 2\n");
  Pages collected;
  collected.loadIntoModel = true;
  {
    auto scanner = NewScanner(false, c.format, c.xDpi, c.yDpi);
    scanner->Acquire(&collected, CollectPage, nullptr);
  }
  ASSERT_EQ(collected.pages.size(), 2u);
  for (const Page& page : collected.pages) {
    EXPECT_EQ(page.xResolution, c.xDpi);
    EXPECT_EQ(page.yResolution, c.yDpi);
    EXPECT_EQ(FormatOf(page), c.format);
    EXPECT_EQ(page.modelFormat, c.format);
    EXPECT_EQ(page.modelXDpi, c.xDpi);
    EXPECT_EQ(page.modelYDpi, c.yDpi);
    // An A4 sheet at the asked resolution, its DPI in the header too.
    EXPECT_EQ(page.header.biWidth, static_cast<int>(std::lround(210 / 25.4 * c.xDpi)));
    EXPECT_EQ(page.header.biHeight, static_cast<int>(std::lround(297 / 25.4 * c.yDpi)));
    EXPECT_NEAR(page.header.biXPelsPerMeter / 39.37, c.xDpi, 0.5);
    EXPECT_NEAR(page.header.biYPelsPerMeter / 39.37, c.yDpi, 0.5);
    EXPECT_GE(page.blockSize, sizeof(lumetra::TBitmapInfoHeader) + page.palette.size() * 4 +
                                  page.header.biSizeImage);
  }
  ExpectSourceClosedCleanly();
}

INSTANTIATE_TEST_SUITE_P(AllFormats, TwainFormatTest,
                         ::testing::Values(FormatCase{lumetra::ifBlackWhite, 300, 150},
                                           FormatCase{lumetra::ifGray16, 100, 75},
                                           FormatCase{lumetra::ifGray256, 75, 100},
                                           FormatCase{lumetra::ifColor16, 96, 96},
                                           FormatCase{lumetra::ifColor256, 72, 144},
                                           FormatCase{lumetra::ifTrueColor, 100, 50}));

TEST_F(TwainScannerTest, WithoutDialogEveryScanSettingIsNegotiated) {
  Pages collected;
  NewScanner(false, lumetra::ifGray256, 150, 150)->Acquire(&collected, CollectPage, nullptr);
  const std::vector<std::string> expected = {"0x0103", "0x0001", "0x0102", "0x1118", "0x1119",
                                             "0x0101", "0x112b", "0x100b"};
  EXPECT_EQ(CapabilitiesSet(), expected);
  EXPECT_EQ(CountLines("SET 0x1118 150 ok"), 1);
  // "Any number" of pages reaches the source as -1 in the whole 32-bit item.
  EXPECT_EQ(CountLines("SET 0x0001 4294967295 ok"), 1);
  EXPECT_EQ(CountLines("SET 0x112b 8 ok"), 1);
  EXPECT_EQ(collected.pages.size(), 3u);  // the default feeder batch
}

TEST_F(TwainScannerTest, AFiveSheetBatchIsOneAcquisition) {
  Configure("pages = 5\n");
  Pages collected;
  NewScanner(false, lumetra::ifBlackWhite, 100, 100)->Acquire(&collected, CollectPage, nullptr);
  EXPECT_EQ(collected.pages.size(), 5u);
  // Every page was let go once its callback had returned.
  for (HGLOBAL handle : collected.handles) EXPECT_EQ(GlobalSize(handle), 0u);
  EXPECT_EQ(CountLines("XFERREADY"), 1);
  EXPECT_EQ(CountLines("ENDXFER"), 5);
  ExpectSourceClosedCleanly();
}

TEST_F(TwainScannerTest, PaperInTheFeederIsScannedFromTheFlatbed) {
  Configure("pages = 4\nfeeder_loaded = 1\n");
  Pages collected;
  NewScanner(false, lumetra::ifBlackWhite, 100, 100)->Acquire(&collected, CollectPage, nullptr);
  EXPECT_EQ(CountLines("SET 0x1002 0 ok"), 1);
  EXPECT_EQ(collected.pages.size(), 1u);
  ExpectSourceClosedCleanly();
}

class TwainIndicatorTest : public TwainScannerTest, public ::testing::WithParamInterface<bool> {};

TEST_P(TwainIndicatorTest, TheSourceShowsProgressOnlyWhenAsked) {
  const bool indicators = GetParam();
  Pages collected;
  auto scanner = NewScanner(false, lumetra::ifBlackWhite, 100, 100);
  scanner->SetIndicators(indicators);
  scanner->Acquire(&collected, CollectPage, nullptr);
  EXPECT_EQ(CountLines(indicators ? "SET 0x100b 1 ok" : "SET 0x100b 0 ok"), 1);
  ASSERT_EQ(collected.pages.size(), 3u);
  EXPECT_EQ(collected.indicatorShown, indicators ? 3 : 0);
  EXPECT_EQ(FindWindowA(nullptr, kIndicatorCaption), nullptr) << "progress left on the screen";
}

INSTANTIATE_TEST_SUITE_P(OnOff, TwainIndicatorTest, ::testing::Bool());

struct CancelCase {
  int pages;
  int cancelAt;
  std::size_t delivered;
};

class TwainCancelTest : public TwainScannerTest,
                        public ::testing::WithParamInterface<CancelCase> {};

TEST_P(TwainCancelTest, ACancelledTransferEndsTheBatch) {
  const CancelCase c = GetParam();
  Configure("pages = " + std::to_string(c.pages) + "\ncancel_at = " + std::to_string(c.cancelAt) +
            "\n");
  Pages collected;
  NewScanner(false, lumetra::ifBlackWhite, 100, 100)->Acquire(&collected, CollectPage, nullptr);
  EXPECT_EQ(collected.pages.size(), c.delivered);
  // The rest of the batch is thrown away, not scanned.
  EXPECT_EQ(CountLines("RESET"), c.cancelAt < c.pages ? 1 : 0);
  ExpectSourceClosedCleanly();
}

INSTANTIATE_TEST_SUITE_P(Pages, TwainCancelTest,
                         ::testing::Values(CancelCase{3, 1, 0}, CancelCase{1, 1, 0},
                                           CancelCase{5, 3, 2}, CancelCase{4, 4, 3}));

TEST_F(TwainScannerTest, ATransferWithoutImageIsAFailedTransfer) {
  Configure("null_handle = 1\n");
  Pages collected;
  try {
    NewScanner(false, lumetra::ifBlackWhite, 100, 100)->Acquire(&collected, CollectPage, nullptr);
    FAIL() << "a transfer without image passed";
  } catch (const ETwainError& e) {
    EXPECT_STREQ(e.what(), "The scanner failed to transfer page 1");
  }
  EXPECT_TRUE(collected.pages.empty());
  EXPECT_EQ(CountLines("NATIVEXFER"), 1);
  EXPECT_EQ(CountLines("RESET"), 1);
  ExpectSourceClosedCleanly();
}

TEST_F(TwainScannerTest, ARefusedImageInfoDoesNotHangTheTransfer) {
  Configure("refuse_imageinfo = 1\n");
  Pages collected;
  EXPECT_THROW(
      NewScanner(false, lumetra::ifBlackWhite, 100, 100)->Acquire(&collected, CollectPage, nullptr),
      ETwainError);
  EXPECT_TRUE(collected.pages.empty());
  EXPECT_EQ(CountLines("IMAGEINFO"), TScanner::kImageInfoRetries + 1);
  EXPECT_EQ(CountLines("NATIVEXFER"), 0);
  EXPECT_EQ(CountLines("ENDXFER"), 1);
  EXPECT_EQ(CountLines("CLOSEDS"), 1);
}

struct FailureCase {
  const char* settings;
  int format;
  const char* message;
  int enables;
};

class TwainFailureTest : public TwainScannerTest,
                         public ::testing::WithParamInterface<FailureCase> {};

TEST_P(TwainFailureTest, FailuresCloseTheSourceAndLeaveItUsable) {
  const FailureCase c = GetParam();
  Configure(c.settings);
  auto scanner = NewScanner(false, static_cast<TImageFormat>(c.format), 100, 100);
  Pages collected;
  try {
    scanner->Acquire(&collected, CollectPage, nullptr);
    FAIL() << "Acquire did not fail";
  } catch (const ETwainError& e) {
    EXPECT_STREQ(e.what(), c.message);
  }
  EXPECT_TRUE(collected.pages.empty());
  EXPECT_EQ(CountLines("ENABLEDS"), c.enables);
  ExpectSourceClosedCleanly();

  // The same scanner acquires again once the cause is gone.
  Configure("pages = 1\n");
  scanner->SetImageFormat(lumetra::ifBlackWhite);
  scanner->Acquire(&collected, CollectPage, nullptr);
  EXPECT_EQ(collected.pages.size(), 1u);
  ExpectSourceClosedCleanly();
}

INSTANTIATE_TEST_SUITE_P(
    Causes, TwainFailureTest,
    ::testing::Values(FailureCase{"", 6, "Invalid image type", 0},
                      FailureCase{"", 255, "Invalid image type", 0},
                      FailureCase{"fail_enable = 1\n", 0, "Unable to enable twain source.", 1}));

TEST_F(TwainScannerTest, AnErrorInThePageCallbackReachesTheCallerAndClosesTheSource) {
  Configure("pages = 4\n");
  auto scanner = NewScanner(false, lumetra::ifBlackWhite, 100, 100);
  Pages collected;
  collected.throwAtPage = 2;
  EXPECT_THROW(scanner->Acquire(&collected, CollectPage, nullptr), lumetra::Exception);
  EXPECT_EQ(collected.pages.size(), 2u);  // the delivered pages stay delivered
  ExpectSourceClosedCleanly();
  collected = Pages{};
  scanner->Acquire(&collected, CollectPage, nullptr);
  EXPECT_EQ(collected.pages.size(), 4u);
}

struct DialogCase {
  int button;
  std::size_t pages;
};

class TwainDialogTest : public TwainScannerTest,
                        public ::testing::WithParamInterface<DialogCase> {};

TEST_P(TwainDialogTest, WithTheDialogOnlyTheTransferIsNegotiated) {
  const DialogCase c = GetParam();
  Configure("feeder_loaded = 1\n");
  Pages collected;
  {
    auto scanner = NewScanner(true, lumetra::ifTrueColor, 300, 300);
    DialogRobot robot(c.button);
    scanner->Acquire(&collected, CollectPage, nullptr);
    EXPECT_TRUE(robot.Found());
  }
  const std::vector<std::string> expected = {"0x0103", "0x0001", "0x0102"};
  EXPECT_EQ(CapabilitiesSet(), expected);
  EXPECT_EQ(CountLines("ENABLEDS showui=1"), 1);
  ASSERT_EQ(collected.pages.size(), c.pages);
  // The pages come as the dialog had them: its defaults, not the scanner's.
  for (const Page& page : collected.pages) {
    EXPECT_EQ(page.xResolution, 200);
    EXPECT_EQ(FormatOf(page), lumetra::ifBlackWhite);
  }
  ExpectSourceClosedCleanly();
}

INSTANTIATE_TEST_SUITE_P(Buttons, TwainDialogTest,
                         ::testing::Values(DialogCase{IDOK, 3}, DialogCase{IDCANCEL, 0}));

TEST_F(TwainScannerTest, AQuitMessageEndsTheAcquisitionAndIsKeptForTheOuterLoop) {
  auto scanner = NewScanner(true, lumetra::ifBlackWhite, 100, 100);
  PostQuitMessage(3);
  Pages collected;
  scanner->Acquire(&collected, CollectPage, nullptr);
  EXPECT_TRUE(collected.pages.empty());
  ExpectSourceClosedCleanly();
  MSG msg;
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 3u);
}

// A small BMP file: Width x Height, 24 bits, one colour.
void WriteBmp(const std::string& path, int width, int height, std::uint8_t shade) {
  const int stride = (width * 3 + 3) & ~3;
  const std::uint32_t size = 14 + 40 + stride * height;
  std::vector<std::uint8_t> file(size, shade);
  auto put = [&](std::size_t at, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) file[at + i] = static_cast<std::uint8_t>(v >> 8 * i);
  };
  file[0] = 'B';
  file[1] = 'M';
  put(2, size, 4);
  put(6, 0, 4);
  put(10, 54, 4);
  put(14, 40, 4);
  put(18, width, 4);
  put(22, height, 4);
  put(26, 1, 2);
  put(28, 24, 2);
  for (std::size_t at = 30; at < 54; ++at) file[at] = 0;
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), size);
}

TEST_F(TwainScannerTest, AFolderSourceDeliversItsBitmapsInNameOrder) {
  const std::string dir = TempPath("folder");
  CreateDirectoryA(dir.c_str(), nullptr);
  WriteBmp(dir + "\\b.bmp", 30, 20, 0x40);
  WriteBmp(dir + "\\a.bmp", 10, 40, 0x80);
  std::ofstream(dir + "\\notes.txt") << "not a page";
  Configure("folder = " + dir + "\n");
  Pages collected;
  NewScanner(false, lumetra::ifTrueColor, 150, 150)->Acquire(&collected, CollectPage, nullptr);
  ASSERT_EQ(collected.pages.size(), 2u);
  EXPECT_EQ(collected.pages[0].header.biWidth, 10);
  EXPECT_EQ(collected.pages[1].header.biWidth, 30);
  for (const Page& page : collected.pages) {
    EXPECT_EQ(page.xResolution, 150);
    EXPECT_NEAR(page.header.biXPelsPerMeter / 39.37, 150, 0.5);
  }
  ExpectSourceClosedCleanly();
  for (const char* name : {"a.bmp", "b.bmp", "notes.txt"}) DeleteFileA((dir + "\\" + name).c_str());
  RemoveDirectoryA(dir.c_str());
}

}  // namespace
}  // namespace quorvex::twain
