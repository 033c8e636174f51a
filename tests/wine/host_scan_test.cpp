// A C++ host that binds early and scans for real, with a robot thread that
// presses the window's buttons as a person would: the window is kept between
// Scans, a Scan arriving while it shows fails with error information, and a
// second object cannot take the process's only TWAIN session. Then the
// scanners that misbehave, as the person at the window meets them.
#include <windows.h>
#include <ocidl.h>

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "quorvex_h.h"
#include "support/scan_robot.h"
#include "wine/wine_paths.h"

using quorvex::robot::TPerson;
using quorvex::testing_support::HrText;
using quorvex::testing_support::WinePath;

namespace {

constexpr const char* kCaption = "Quorvex - scanning utility";

std::string TempDir() { return quorvex::testing_support::TempFolder("qv_host_scan"); }

BSTR Text(const std::string& text) {
  std::wstring wide(text.begin(), text.end());
  return SysAllocString(wide.c_str());
}

// A page of a document as a test tells it apart: the scanner's pages
// differ in width.
struct TPage {
  uint32_t width;
  uint16_t compression;
  bool operator==(const TPage&) const = default;
};

void PrintTo(const TPage& page, std::ostream* out) {
  *out << "{" << page.width << ", " << page.compression << "}";
}

std::vector<TPage> Pages(const std::string& path) {
  std::vector<TPage> pages;
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (!tif) return pages;
  do {
    TPage page{};
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &page.width);
    TIFFGetField(tif, TIFFTAG_COMPRESSION, &page.compression);
    pages.push_back(page);
  } while (TIFFReadDirectory(tif));
  TIFFClose(tif);
  return pages;
}

std::vector<TPage> JpegPages(std::initializer_list<uint32_t> widths) {
  std::vector<TPage> pages;
  for (uint32_t width : widths) pages.push_back({width, COMPRESSION_JPEG});
  return pages;
}

// A true-colour BMP of Width x 40 pixels.
void WriteBmp(const std::string& path, int width) {
  const int height = 40, stride = (width * 3 + 3) & ~3;
  BITMAPFILEHEADER file{};
  BITMAPINFOHEADER info{};
  info.biSize = sizeof info;
  info.biWidth = width;
  info.biHeight = height;
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biXPelsPerMeter = info.biYPelsPerMeter = 3937;
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info;
  file.bfSize = file.bfOffBits + stride * height;
  std::vector<unsigned char> pixels(static_cast<std::size_t>(stride) * height);
  for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<unsigned char>(i * 13);
  FILE* out = std::fopen(path.c_str(), "wb");
  ASSERT_NE(out, nullptr);
  std::fwrite(&file, sizeof file, 1, out);
  std::fwrite(&info, sizeof info, 1, out);
  std::fwrite(pixels.data(), 1, pixels.size(), out);
  std::fclose(out);
}

class HostScanTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { CoInitialize(nullptr); }
  void SetUp() override {
    SetEnvironmentVariableA("QUORVEX_VSCAN_SETTINGS", nullptr);
    // A window shows the document it is given: documents of an earlier
    // run must not be there.
    std::error_code error;
    std::filesystem::remove_all(dir_, error);
    CreateDirectoryA(dir_.c_str(), nullptr);
  }
  void TearDown() override { SetEnvironmentVariableA("QUORVEX_VSCAN_SETTINGS", nullptr); }

  // The scanner's next batches: one page per width, from a folder of its
  // own; CancelAt cancels that page's transfer.
  void Feed(const std::string& name, std::initializer_list<int> widths, int cancelAt = 0) {
    const std::string folder = dir_ + "\\" + name;
    CreateDirectoryA(folder.c_str(), nullptr);
    int index = 0;
    for (int width : widths) {
      char file[32];
      std::snprintf(file, sizeof file, "\\page%02d.bmp", ++index);
      WriteBmp(folder + file, width);
    }
    const std::string settings = folder + ".txt";
    FILE* out = std::fopen(settings.c_str(), "w");
    ASSERT_NE(out, nullptr);
    std::fprintf(out, "folder = %s\ncancel_at = %d\n", folder.c_str(), cancelAt);
    std::fclose(out);
    SetEnvironmentVariableA("QUORVEX_VSCAN_SETTINGS", settings.c_str());
  }

  // One Scan with the robot's steps on the window.
  void ScanWith(IScanner* scanner, const std::vector<std::string>& steps) {
    TPerson person(steps);
    EXPECT_EQ(scanner->Scan(), S_OK);
    std::string reason;
    EXPECT_TRUE(person.Finish(reason)) << reason;
  }

  IScanner* NewScanner() {
    IScanner* scanner = nullptr;
    const HRESULT hr = CoCreateInstance(CLSID_Scanner, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_IScanner, reinterpret_cast<void**>(&scanner));
    EXPECT_EQ(hr, S_OK) << HrText(hr);
    if (scanner) {
      scanner->put_ShowScanUI(VARIANT_FALSE);
      scanner->put_ScanXDpi(150);
      scanner->put_ScanYDpi(150);
    }
    return scanner;
  }

  void SetFilename(IScanner* scanner, const std::string& name) {
    BSTR text = Text(name);
    scanner->put_Filename(text);
    SysFreeString(text);
  }

  LONG Result(IScanner* scanner) {
    LONG value = -1;
    scanner->get_ScanResult(&value);
    return value;
  }

  std::string dir_ = TempDir();
};

TEST_F(HostScanTest, ASecondScanShowsTheSameWindowStillShowingItsLastPage) {
  IScanner* scanner = NewScanner();
  ASSERT_NE(scanner, nullptr);
  const std::string first = dir_ + "\\first.tif";
  SetFilename(scanner, first);
  HWND firstWindow = nullptr;
  {
    TPerson person({std::string("window:") + kCaption, "click:Scan", "page:3", "click:Accept"});
    EXPECT_EQ(scanner->Scan(), S_OK);
    std::string reason;
    EXPECT_TRUE(person.Finish(reason)) << reason;
    firstWindow = quorvex::robot::CurrentWindow();
  }
  EXPECT_EQ(Result(scanner), 1);

  // The window comes back for a new document: it shows that document,
  // which has no page yet (and so names none).
  const std::string second = dir_ + "\\second.tif";
  DeleteFileA(second.c_str());
  SetFilename(scanner, second);
  ScanWith(scanner, {std::string("window:") + kCaption, "page:1", "disabled:Accept",
                     "click:Cancel"});
  EXPECT_EQ(quorvex::robot::CurrentWindow(), firstWindow);
  EXPECT_EQ(Result(scanner), 0);
  // Given the first document again, it shows its last page.
  SetFilename(scanner, first);
  ScanWith(scanner, {"window:" + first, "page:3", "click:Accept"});
  EXPECT_EQ(Result(scanner), 1);
  scanner->Release();
}

IScanner* reentrantScanner = nullptr;
HRESULT reentrantResult = S_OK;
std::wstring reentrantDescription, reentrantSource;

void CALLBACK ScanFromTheWindowsLoop(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  BSTR name = Text("C:\\reentrant.tif");
  reentrantScanner->put_Filename(name);
  SysFreeString(name);
  reentrantResult = reentrantScanner->Scan();
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) == S_OK && info) {
    BSTR text = nullptr;
    info->GetDescription(&text);
    reentrantDescription = text ? text : L"";
    SysFreeString(text);
    info->GetSource(&text);
    reentrantSource = text ? text : L"";
    SysFreeString(text);
    info->Release();
  }
}

TEST_F(HostScanTest, AScanWhileTheWindowShowsFailsWithErrorInformation) {
  reentrantScanner = NewScanner();
  ASSERT_NE(reentrantScanner, nullptr);
  SetFilename(reentrantScanner, dir_ + "\\outer.tif");
  // A thread timer is dispatched by the window's own modal loop.
  SetTimer(nullptr, 0, 300, ScanFromTheWindowsLoop);
  TPerson person({std::string("window:") + kCaption, "sleep:1500", "click:Cancel"});
  EXPECT_EQ(reentrantScanner->Scan(), S_OK);
  std::string reason;
  EXPECT_TRUE(person.Finish(reason)) << reason;
  EXPECT_EQ(reentrantResult, E_UNEXPECTED) << HrText(reentrantResult);
  EXPECT_EQ(reentrantDescription, L"Cannot make a visible window modal");
  EXPECT_EQ(reentrantSource, L"Quorvex.Scanner");
  BSTR name = nullptr;
  reentrantScanner->get_Filename(&name);
  EXPECT_STREQ(name, L"C:\\reentrant.tif");
  SysFreeString(name);
  reentrantScanner->Release();
  reentrantScanner = nullptr;
}

TEST_F(HostScanTest, ASecondObjectsWindowReportsTheBusyScannerAndNeverScans) {
  IScanner* first = NewScanner();
  IScanner* second = NewScanner();
  ASSERT_TRUE(first && second);
  SetFilename(first, dir_ + "\\owner.tif");
  {
    TPerson person({std::string("window:") + kCaption, "click:Cancel"});
    EXPECT_EQ(first->Scan(), S_OK);
    std::string reason;
    EXPECT_TRUE(person.Finish(reason)) << reason;
  }
  const std::string never = dir_ + "\\never.tif";
  DeleteFileA(never.c_str());
  SetFilename(second, never);
  {
    TPerson person({std::string("window:") + kCaption, "click:Scan",
                    "message:Quorvex=Only one scanner object is permitted", "click:Cancel"});
    EXPECT_EQ(second->Scan(), S_OK);
    std::string reason;
    EXPECT_TRUE(person.Finish(reason)) << reason;
  }
  EXPECT_EQ(Result(second), 0);
  EXPECT_EQ(GetFileAttributesA(never.c_str()), INVALID_FILE_ATTRIBUTES);
  second->Release();
  first->Release();
}

TEST_F(HostScanTest, AddAndDeletePageKeepTheOrderAndTheCompressionOfTheScan) {
  IScanner* scanner = NewScanner();
  ASSERT_NE(scanner, nullptr);
  scanner->put_ScanImgFormat(5);
  const std::string doc = dir_ + "\\order.tif";
  SetFilename(scanner, doc);
  Feed("order_scan", {101, 102, 103});
  ScanWith(scanner, {std::string("window:") + kCaption, "click:Scan", "page:3", "click:Accept"});
  EXPECT_EQ(Pages(doc), JpegPages({101, 102, 103}));
  // Add Page appends the next batch in scan order; Delete Page takes the
  // page shown.
  Feed("order_add", {201, 202});
  ScanWith(scanner, {"window:" + doc, "page:3", "click:Add Page", "page:5", "pagebox:2",
                     "click:Delete Page", "page:4", "click:Accept"});
  EXPECT_EQ(Result(scanner), 1);
  EXPECT_EQ(Pages(doc), JpegPages({101, 103, 201, 202}));
  scanner->Release();
}

TEST_F(HostScanTest, PageCommandsRewriteTheDocumentTheWindowIsGiven) {
  IScanner* scanner = NewScanner();
  ASSERT_NE(scanner, nullptr);
  scanner->put_ScanImgFormat(5);
  const std::string b = dir_ + "\\b.tif", a = dir_ + "\\a.tif";
  SetFilename(scanner, b);
  Feed("given_b", {101, 102, 103, 104, 105, 106});
  ScanWith(scanner, {std::string("window:") + kCaption, "click:Scan", "page:6", "click:Accept"});
  SetFilename(scanner, a);
  Feed("given_a", {201, 202, 203});
  ScanWith(scanner, {std::string("window:") + kCaption, "click:Scan", "page:3", "click:Accept"});
  // Back to b.tif: the window shows b.tif's six pages, and Delete Page of
  // page 2 rewrites b.tif from them.
  SetFilename(scanner, b);
  ScanWith(scanner, {"window:" + b, "page:6", "pagebox:2", "click:Delete Page", "page:5",
                     "click:Accept"});
  EXPECT_EQ(Pages(b), JpegPages({101, 103, 104, 105, 106}));
  EXPECT_EQ(Pages(a), JpegPages({201, 202, 203}));
  scanner->Release();
}

TEST_F(HostScanTest, AScanWithoutPagesCannotBeAcceptedAndLeavesNoFile) {
  IScanner* scanner = NewScanner();
  ASSERT_NE(scanner, nullptr);
  scanner->put_ScanImgFormat(5);
  const std::string doc = dir_ + "\\empty.tif";
  SetFilename(scanner, doc);
  Feed("empty_first", {101, 102});
  ScanWith(scanner, {std::string("window:") + kCaption, "click:Scan", "page:2", "click:Accept"});
  EXPECT_EQ(Result(scanner), 1);
  // The next scan is cancelled at its first page: the document it replaced
  // holds nothing, and the old pages are no result.
  Feed("empty_cancelled", {101, 102}, 1);
  ScanWith(scanner, {"window:" + doc, "page:2", "click:Scan", "page:1", "disabled:Accept",
                     "click:Cancel"});
  EXPECT_EQ(Result(scanner), 0);
  EXPECT_EQ(GetFileAttributesA(doc.c_str()), INVALID_FILE_ATTRIBUTES);
  scanner->Release();
}

TEST_F(HostScanTest, EachWindowKeepsItsOwnIdleProcessing) {
  IScanner* first = NewScanner();
  ASSERT_NE(first, nullptr);
  const std::string doc = dir_ + "\\idle.tif";
  SetFilename(first, doc);
  ScanWith(first, {std::string("window:") + kCaption, "click:Scan", "page:3", "click:Accept"});
  // A second object's window comes and goes.
  IScanner* second = NewScanner();
  ASSERT_NE(second, nullptr);
  SetFilename(second, dir_ + "\\idle_other.tif");
  ScanWith(second, {std::string("window:") + kCaption, "click:Cancel"});
  second->Release();
  // The first window still enables its commands.
  ScanWith(first, {"window:" + doc, "page:3", "click:Delete Page", "page:2", "click:Accept"});
  EXPECT_EQ(Result(first), 1);
  EXPECT_EQ(Pages(doc).size(), 2u);
  first->Release();
}

TEST_F(HostScanTest, WithoutAScannerTheWindowSaysSoAndWritesNothing) {
  // Without sources the source manager has no default source. Wine's
  // manager loads two: the virtual scanner, and Wine's own gphoto2.ds where
  // it is installed (which lists itself and then fails to open). It reads
  // them once in a process: this case runs in a process of its own.
  struct TSourceAway {
    explicit TSourceAway(const char* file)
        : source(std::string(quorvex::testing_support::TwainSourceFolder()) + "\\" + file),
          away(source + ".away"),
          moved(MoveFileExA(source.c_str(), away.c_str(), MOVEFILE_REPLACE_EXISTING) != 0) {}
    ~TSourceAway() {
      if (moved) MoveFileExA(away.c_str(), source.c_str(), MOVEFILE_REPLACE_EXISTING);
    }
    std::string source, away;
    bool moved;
  } sourceAway("sane.ds"), gphotoAway("gphoto2.ds");
  ASSERT_TRUE(sourceAway.moved) << GetLastError();
  IScanner* scanner = NewScanner();
  ASSERT_NE(scanner, nullptr);
  const std::string doc = dir_ + "\\noscanner.tif";
  DeleteFileA(doc.c_str());
  SetFilename(scanner, doc);
  ScanWith(scanner, {std::string("window:") + kCaption, "click:Scan",
                     "message:Quorvex=A scanner is not configured on your computer",
                     "disabled:Accept", "click:Cancel"});
  EXPECT_EQ(Result(scanner), 0);
  EXPECT_EQ(GetFileAttributesA(doc.c_str()), INVALID_FILE_ATTRIBUTES);
  scanner->Release();
}
// --- drivers that misbehave ---------------------------------------------------------

// Pages of a TIFF as libtiff reads them; an empty file has none.
int TiffPages(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  if (data.nFileSizeLow == 0 && data.nFileSizeHigh == 0) return 0;
  TIFF* tiff = TIFFOpen(path.c_str(), "r");
  if (!tiff) return -1;
  const int pages = TIFFNumberOfDirectories(tiff);
  TIFFClose(tiff);
  return pages;
}

struct TDriverCase {
  const char* name;
  const char* settings;  // the virtual scanner's
  LONG format;           // ScanImgFormat
  std::vector<std::string> during;  // the person's steps once Scan is pressed
  int pages;  // kept in the document; -1: stopped in the middle, 2 or 3
};

class HostDriverTest : public HostScanTest, public testing::WithParamInterface<TDriverCase> {
 protected:
  void Configure(const std::string& lines) {
    std::ofstream(settings_, std::ios::trunc) << lines;
    SetEnvironmentVariableA("QUORVEX_VSCAN_SETTINGS", settings_.c_str());
  }
  void TearDown() override {
    SetEnvironmentVariableA("QUORVEX_VSCAN_SETTINGS", nullptr);
    DeleteFileA(settings_.c_str());
  }
  std::string settings_ = dir_ + "\\vscan.ini";
};

TEST_P(HostDriverTest, ThePersonSeesWhatHappenedKeepsThePagesAndScansAgain) {
  const TDriverCase c = GetParam();
  Configure(c.settings);
  IScanner* scanner = NewScanner();
  ASSERT_NE(scanner, nullptr);
  scanner->put_ScanImgFormat(c.format);
  const std::string document = dir_ + "\\driver_" + c.name + ".tif";
  SetFilename(scanner, document);
  std::vector<std::string> steps{std::string("window:") + kCaption, "click:Scan"};
  steps.insert(steps.end(), c.during.begin(), c.during.end());
  steps.insert(steps.end(), {"idle", "click:Cancel"});
  ScanWith(scanner, steps);
  const int kept = TiffPages(document);
  if (c.pages == 0) {
    // A scan without pages leaves no document behind.
    EXPECT_EQ(GetFileAttributesA(document.c_str()), INVALID_FILE_ATTRIBUTES);
  } else if (c.pages > 0) {
    EXPECT_EQ(kept, c.pages);
  } else {
    EXPECT_TRUE(kept == 2 || kept == 3) << kept;
  }

  // The same window scans again once the scanner behaves.
  Configure("pages = 2\n");
  scanner->put_ScanImgFormat(0);
  ScanWith(scanner, {"window:" + (kept > 0 ? document : std::string(kCaption)), "click:Scan",
                     "page:2", "status:2 pages scanned", "click:Accept"});
  EXPECT_EQ(Result(scanner), 1);
  EXPECT_EQ(TiffPages(document), 2);
  scanner->Release();
}

// Wine's own manager (no TWAINDSM.DLL in a Wine prefix).
bool UnderWinesManager() {
  char windows[MAX_PATH];
  GetWindowsDirectoryA(windows, MAX_PATH);
  return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") &&
         GetFileAttributesA((std::string(windows) + "\\TWAINDSM.DLL").c_str()) ==
             INVALID_FILE_ATTRIBUTES;
}

// A source whose MSG_CLOSEDS fails: the person is told and the pages are
// kept. Wine's manager forgets such a source while it stays open, so no
// later MSG_OPENDS in the process reaches it: there the next Scan says it
// cannot open the source, and this case runs in a process of its own.
TEST_F(HostDriverTest, ACloseThatFailsIsReportedAndThePagesKept) {
  Configure("pages = 2\nfail_closeds_once = 1\n");
  IScanner* scanner = NewScanner();
  ASSERT_NE(scanner, nullptr);
  const std::string document = dir_ + "\\driver_close_fails.tif";
  SetFilename(scanner, document);
  ScanWith(scanner, {std::string("window:") + kCaption, "click:Scan",
                     "message:Quorvex=Unable to close TWAIN data source", "page:2", "idle",
                     "click:Cancel"});
  EXPECT_EQ(TiffPages(document), 2);
  Configure("pages = 2\n");
  if (UnderWinesManager()) {
    ScanWith(scanner, {"window:" + document, "click:Scan",
                       "message:Quorvex=Unable to open TWAIN source", "idle", "click:Cancel"});
  } else {
    ScanWith(scanner, {"window:" + document, "click:Scan", "page:2", "status:2 pages scanned",
                       "click:Accept"});
    EXPECT_EQ(Result(scanner), 1);
    EXPECT_EQ(TiffPages(document), 2);
  }
  scanner->Release();
}

const std::string kFailedPage = "message:Quorvex=The scanner failed to transfer page ";
const std::string kTooLarge =
    "message:Quorvex=Page 2 (20000 x 30000 pixels) is too large for the memory of this program. "
    "The scan was stopped; the pages before it are kept.";
const std::string kStop = "dialog:Quorvex - stop scanning=Stop";

INSTANTIATE_TEST_SUITE_P(
    Drivers, HostDriverTest,
    testing::Values(
        TDriverCase{"CheckStatusOnSet", "pages = 2\ncheckstatus_set = 1\n", 0, {"page:2"}, 2},
        TDriverCase{"CheckStatusOnEnable", "pages = 2\ncheckstatus_enable = 1\n", 0,
                    {"dialog:Quorvex Virtual Scanner=Scan", "page:2"}, 2},
        TDriverCase{"PendingUnknown", "pages = 3\npending_unknown = 1\n", 0, {"page:3"}, 3},
        TDriverCase{"FailedTransfer", "pages = 4\nfail_transfer_at = 3\n", 0,
                    {kFailedPage + "3", "page:2"}, 2},
        TDriverCase{"FailedEndTransfer", "pages = 3\nfail_endxfer_at = 2\n", 0, {"page:3"}, 3},
        TDriverCase{"CapabilitiesRefused", "pages = 2\nrefuse_caps = 1\n", 0, {"page:2"}, 2},
        TDriverCase{"ImageInfoRefused", "refuse_imageinfo = 1\n", 0, {kFailedPage + "1"}, 0},
        TDriverCase{"ShortBlock", "pages = 3\nshort_block_at = 2\n", 0,
                    {kFailedPage + "2", "page:1"}, 1},
        // 20000 x 30000: in true colour no 32-bit source can hold it, and
        // a 64-bit one hands over more than the window takes; in black and
        // white it is written and shown.
        TDriverCase{"HugeColourPage", "pages = 3\nhuge_page_at = 2\n", 5,
                    {sizeof(void*) == 4 ? kFailedPage + "2" : kTooLarge, "page:1"}, 1},
        TDriverCase{"HugeBlackWhitePage", "pages = 3\nhuge_page_at = 2\n", 0, {"page:3"}, 3},
        TDriverCase{"EnableFails", "fail_enable = 1\n", 0,
                    {"message:Quorvex=Unable to enable twain source."}, 0},
        // An empty feeder that never says so: only Stop ends it.
        TDriverCase{"NeverAsksToBeClosed", "pages = 0\nno_closereq = 1\n", 0,
                    {"sleep:1000", kStop, "status:No page scanned"}, 0},
        // Each page shown whole as it arrives, the page box and the status
        // bar following; Stop keeps what is written.
        TDriverCase{"StoppedMidBatch", "pages = 5\npause_ms = 700\n", 0,
                    {"status:2 pages scanned", "reads:2", "zoombelow:100", kStop}, -1},
        TDriverCase{"SlowSource", "pages = 2\npause_ms = 1500\n", 0,
                    {"status:1 page scanned", "zoombelow:100", "page:2"}, 2}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
