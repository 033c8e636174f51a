#include "automation/scanner_state.h"

#include <gtest/gtest.h>

#include "base/exception.h"

namespace quorvex::automation {
namespace {

// A window that records what it was given and closes the way the test says.
struct TWindowRecord {
  int created = 0;
  int shown = 0;
  std::string fileName;
  bool showDialog = false;
  std::int32_t xDpi = 0, yDpi = 0;
  int format = -1;
  bool visible = false;
  std::int32_t acceptOnClose = 0;
};

class TRecordingWindow : public TScanWindowLink {
 public:
  explicit TRecordingWindow(TWindowRecord& record) : record_(record) {}
  void SetDocumentFileName(const std::string& name) override { record_.fileName = name; }
  void SetShowDialog(bool show) override { record_.showDialog = show; }
  void SetXDpi(std::int32_t dpi) override { record_.xDpi = dpi; }
  void SetYDpi(std::int32_t dpi) override { record_.yDpi = dpi; }
  void SetImageFormat(std::uint8_t format) override { record_.format = format; }
  bool Visible() const override { return record_.visible; }
  void ShowModal() override {
    ++record_.shown;
    accept_ = record_.acceptOnClose;
  }
  std::int32_t AcceptFlag() const override { return accept_; }

 private:
  TWindowRecord& record_;
  std::int32_t accept_ = 0;
};

class ScannerStateTest : public testing::Test {
 protected:
  TScannerState MakeState() {
    return TScannerState(
        [this] {
          ++window.created;
          return std::make_unique<TRecordingWindow>(window);
        },
        [this](const TPdfSettings& settings) {
          ++conversions;
          converted = settings;
          if (converterThrows) throw lumetra::EOutOfMemory("Out of memory");
          return converterResult;
        });
  }

  TWindowRecord window;
  int conversions = 0;
  TPdfSettings converted;
  std::int32_t converterResult = 0;
  bool converterThrows = false;
};

TEST_F(ScannerStateTest, StartsWithTheHostVisibleDefaults) {
  TScannerState state = MakeState();
  EXPECT_EQ(state.ScanResult(), 0);
  EXPECT_EQ(state.Filename, "");
  EXPECT_FALSE(state.ConvertToPdf);
  EXPECT_EQ(state.PdfCreator, "Quorv");
  EXPECT_EQ(state.PdfPaperSize, "a4");
  EXPECT_EQ(state.ScanXDpi, 200);
  EXPECT_EQ(state.ScanYDpi, 200);
  EXPECT_EQ(state.ScanImgFormat, 0);
  EXPECT_TRUE(state.ShowScanUI);
  EXPECT_FALSE(state.HasWindow());
}

struct OutcomeCase {
  std::int32_t accept;
  bool convert;
  std::int32_t converterResult;
  std::int32_t scanResult;
  int conversions;
};

class ScanOutcomeTest : public ScannerStateTest,
                        public testing::WithParamInterface<OutcomeCase> {};

TEST_P(ScanOutcomeTest, AcceptFlagAndConverterDecideScanResult) {
  const OutcomeCase c = GetParam();
  TScannerState state = MakeState();
  state.ConvertToPdf = c.convert;
  window.acceptOnClose = c.accept;
  converterResult = c.converterResult;
  state.Scan();
  EXPECT_EQ(state.ScanResult(), c.scanResult);
  EXPECT_EQ(conversions, c.conversions);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, ScanOutcomeTest,
    testing::Values(OutcomeCase{1, false, -1, 1, 0},   // accepted, no PDF wanted
                    OutcomeCase{0, true, 0, 0, 0},     // cancelled: no conversion
                    OutcomeCase{0, false, 0, 0, 0},
                    OutcomeCase{1, true, 0, 1, 1},     // converted
                    OutcomeCase{1, true, 3, 1, 1},
                    OutcomeCase{1, true, -1, 0, 1},    // converter failed
                    OutcomeCase{1, true, kPdfDeleteFailed, 0, 1}));

TEST_F(ScannerStateTest, CopiesTheSettingsWithTheLowByteOfTheFormat) {
  TScannerState state = MakeState();
  state.Filename = "C:\\scan\\doc.tif";
  state.ShowScanUI = false;
  state.ScanXDpi = 65736;
  state.ScanYDpi = 300;
  state.ScanImgFormat = 256;
  state.Scan();
  EXPECT_EQ(window.fileName, "C:\\scan\\doc.tif");
  EXPECT_FALSE(window.showDialog);
  EXPECT_EQ(window.xDpi, 65736);  // the acquisition layer takes the low 16 bits
  EXPECT_EQ(window.yDpi, 300);
  EXPECT_EQ(window.format, 0);
  state.ScanImgFormat = 0x105;
  state.Scan();
  EXPECT_EQ(window.format, 5);
}

TEST_F(ScannerStateTest, ConversionSeesTheCurrentPdfProperties) {
  TScannerState state = MakeState();
  state.Filename = "C:\\a\\b.tif";
  state.ConvertToPdf = true;
  state.PdfTitle = "Annual report";
  state.PdfAuthor = "Ann";
  window.acceptOnClose = 1;
  state.Scan();
  EXPECT_EQ(converted.Filename, "C:\\a\\b.tif");
  EXPECT_EQ(converted.PdfTitle, "Annual report");
  EXPECT_EQ(converted.PdfAuthor, "Ann");
  EXPECT_EQ(converted.PdfCreator, "Quorv");
}

TEST_F(ScannerStateTest, ASecondScanReusesTheWindowWithTheNewFilename) {
  TScannerState state = MakeState();
  state.Filename = "first.tif";
  state.Scan();
  state.Filename = "second.tif";
  state.Scan();
  EXPECT_EQ(window.created, 1);
  EXPECT_EQ(window.shown, 2);
  EXPECT_EQ(window.fileName, "second.tif");
}

TEST_F(ScannerStateTest, ReentrantScanFailsAfterCopyingItsSettings) {
  TScannerState state = MakeState();
  window.acceptOnClose = 1;
  state.Scan();
  ASSERT_EQ(state.ScanResult(), 1);
  window.visible = true;  // as when the showing window's loop dispatches a Scan
  state.Filename = "other.tif";
  try {
    state.Scan();
    FAIL() << "a visible window was shown modally";
  } catch (const lumetra::Exception& error) {
    EXPECT_EQ(error.Message(), "Cannot make a visible window modal");
  }
  EXPECT_EQ(window.fileName, "other.tif");
  EXPECT_EQ(window.shown, 1);
  EXPECT_EQ(state.ScanResult(), 1);
}

TEST_F(ScannerStateTest, FailuresLeaveScanResultUnchanged) {
  TScannerState state = MakeState();
  window.acceptOnClose = 1;
  state.Scan();
  ASSERT_EQ(state.ScanResult(), 1);
  state.ConvertToPdf = true;
  converterThrows = true;
  EXPECT_THROW(state.Scan(), lumetra::EOutOfMemory);
  EXPECT_EQ(state.ScanResult(), 1);

  TScannerState noWindow([]() -> std::unique_ptr<TScanWindowLink> {
    throw lumetra::EOutOfResources("Error creating window");
  }, [](const TPdfSettings&) { return 0; });
  EXPECT_THROW(noWindow.Scan(), lumetra::EOutOfResources);
  EXPECT_EQ(noWindow.ScanResult(), 0);
}

}  // namespace
}  // namespace quorvex::automation
