// A C++ host that binds early and scans for real, with a robot thread that
// presses the window's buttons as a person would: the window is kept between
// Scans, a Scan arriving while it shows fails with error information, and a
// second object cannot take the process's only TWAIN session. Then the
// scanners that misbehave, as the person at the window meets them.
#include <windows.h>
#include <ocidl.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <thread>

#include <tiffio.h>

#include "quorvex_h.h"
#include "wine/robot.h"
#include "wine/wine_paths.h"

using quorvex::testing_support::HrText;
using quorvex::testing_support::WinePath;

namespace {

constexpr const char* kCaption = "Quorvex - scanning utility";

std::string TempDir() {
  char path[MAX_PATH];
  GetTempPathA(MAX_PATH, path);
  std::string dir = std::string(path) + "qv_host_scan";
  CreateDirectoryA(dir.c_str(), nullptr);
  return dir;
}

BSTR Text(const std::string& text) {
  std::wstring wide(text.begin(), text.end());
  return SysAllocString(wide.c_str());
}

// Runs the robot's steps on a thread of its own while the host's thread is
// inside Scan.
class TPerson {
 public:
  explicit TPerson(std::vector<std::string> steps)
      : thread_([this, steps] { ok_ = quorvex::robot::RunSteps(steps, reason_); }) {}
  ~TPerson() {
    if (thread_.joinable()) thread_.join();
  }
  bool Finish(std::string& reason) {
    thread_.join();
    reason = reason_;
    return ok_;
  }

 private:
  bool ok_ = false;
  std::string reason_;
  std::thread thread_;
};

class HostScanTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { CoInitialize(nullptr); }

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

  // The window comes back with the first document's caption and page box.
  SetFilename(scanner, dir_ + "\\second.tif");
  {
    TPerson person({"window:" + first, "page:3", "click:Cancel"});
    EXPECT_EQ(scanner->Scan(), S_OK);
    std::string reason;
    EXPECT_TRUE(person.Finish(reason)) << reason;
    EXPECT_EQ(quorvex::robot::CurrentWindow(), firstWindow);
  }
  EXPECT_EQ(Result(scanner), 0);
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
  // Runs Steps while the host is inside Scan; a robot that gets stuck
  // stops the scanner and cancels, so that Scan returns and the test ends.
  void ScanWith(IScanner* scanner, std::vector<std::string> steps) {
    bool ok = false;
    std::string reason;
    std::thread person([&] {
      ok = quorvex::robot::RunSteps(steps, reason);
      if (!ok) {
        std::string ignored;
        if (HWND stop = FindWindowA(nullptr, "Quorvex - stop scanning"))
          PostMessageA(FindWindowExA(stop, nullptr, "Button", nullptr), BM_CLICK, 0, 0);
        quorvex::robot::RunStep("click:Cancel", ignored);
      }
    });
    EXPECT_EQ(scanner->Scan(), S_OK);
    person.join();
    EXPECT_TRUE(ok) << reason;
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
  if (c.pages >= 0) {
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

const std::string kFailedPage = "message:Quorvex=The scanner failed to transfer page ";
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
        // 20000 x 30000: in true colour no 32-bit source can hold it; in
        // black and white it is written and shown.
        TDriverCase{"HugeColourPage", "pages = 3\nhuge_page_at = 2\n", 5,
                    {kFailedPage + "2", "page:1"}, 1},
        TDriverCase{"HugeBlackWhitePage", "pages = 3\nhuge_page_at = 2\n", 0, {"page:3"}, 3},
        TDriverCase{"EnableFails", "fail_enable = 1\n", 0,
                    {"message:Quorvex=Unable to enable twain source."}, 0},
        TDriverCase{"CloseFailsOnce", "pages = 2\nfail_closeds_once = 1\n", 0,
                    {"message:Quorvex=Unable to close TWAIN data source", "page:2"}, 2},
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
