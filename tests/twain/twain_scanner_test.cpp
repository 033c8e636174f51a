// TScanner against Wine's real TWAIN_32.DLL and the Quorvex Virtual Scanner
// (installed as sane.ds in Wine's source folder by the test fixture). The source
// writes a line per protocol event into a log that the tests read back.
#include "twain/twain_scanner.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "imaging/dib_graphic.h"
#include "wine/wine_paths.h"

namespace quorvex::twain {
namespace {

using lumetra::TImageFormat;

constexpr char kSourceName[] = "Quorvex Virtual Scanner";
const std::string kInstalledSource =
    std::string(quorvex::testing_support::TwainSourceFolder()) + "\\sane.ds";

std::string TempPath(const std::string& name) {
  char dir[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  return std::string(dir) + "qv_twain_" + std::to_string(GetCurrentProcessId()) + "_" + name;
}

struct Page {
  std::uint16_t xResolution;
  std::uint16_t yResolution;
  lumetra::TBitmapInfoHeader header;
  std::vector<lumetra::TRgbQuad> palette;
  std::size_t blockSize;
  // As the image model reads the page.
  int modelFormat;
  std::uint16_t modelXDpi;
  std::uint16_t modelYDpi;
};

struct Pages {
  std::vector<Page> pages;
  int throwAtPage = 0;
  int stopAtPage = 0;  // presses Stop while this page is being handled
  TScanner* scanner = nullptr;
  bool loadIntoModel = false;
  int indicatorShown = 0;  // pages during which the source showed its progress
  std::vector<HGLOBAL> handles;
};

constexpr char kIndicatorCaption[] = "Scanning - Quorvex Virtual Scanner";

void CollectPage(HWND, HGLOBAL dib, std::uint16_t xResolution, void* context,
                 std::uint16_t yResolution) {
  auto* collected = static_cast<Pages*>(context);
  collected->handles.push_back(dib);
  Page page{xResolution, yResolution, {}, {}, GlobalSize(dib), -1, 0, 0};
  const auto* p = static_cast<const std::uint8_t*>(GlobalLock(dib));
  if (p && page.blockSize >= sizeof page.header) {
    std::memcpy(&page.header, p, sizeof page.header);
    const std::size_t colours = page.header.biBitCount <= 8 ? 1u << page.header.biBitCount : 0;
    page.palette.resize(colours);
    if (page.blockSize >= sizeof page.header + colours * 4)
      std::memcpy(page.palette.data(), p + sizeof page.header, colours * 4);
  }
  if (p) GlobalUnlock(dib);
  if (collected->loadIntoModel) {
    lumetra::TDibGraphic image;
    image.LoadFromDIBHandle(dib);
    page.modelFormat = image.ImageFormat();
    page.modelXDpi = image.XDpi();
    page.modelYDpi = image.YDpi();
  }
  if (HWND indicator = FindWindowA(nullptr, kIndicatorCaption); indicator && IsWindowVisible(indicator))
    ++collected->indicatorShown;
  collected->pages.push_back(page);
  if (collected->stopAtPage == static_cast<int>(collected->pages.size())) collected->scanner->Stop();
  if (collected->throwAtPage == static_cast<int>(collected->pages.size()))
    throw lumetra::Exception("disk full");
}

// The image format a page header describes: bit count and palette kind.
int FormatOf(const Page& page) {
  const bool grey = std::all_of(page.palette.begin(), page.palette.end(), [](auto q) {
    return q.rgbRed == q.rgbGreen && q.rgbGreen == q.rgbBlue;
  });
  switch (page.header.biBitCount) {
    case 1: return lumetra::ifBlackWhite;
    case 4: return grey ? lumetra::ifGray16 : lumetra::ifColor16;
    case 8: return grey ? lumetra::ifGray256 : lumetra::ifColor256;
    case 24: return lumetra::ifTrueColor;
    default: return -1;
  }
}

class TwainScannerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    log_ = TempPath("source.log");
    settings_ = TempPath("source.ini");
    std::remove(log_.c_str());
    Configure("");
  }
  void TearDown() override {
    SetEnvironmentVariableA("QUORVEX_VSCAN_SETTINGS", nullptr);
    std::remove(log_.c_str());
    std::remove(settings_.c_str());
  }

  // Writes the source's settings file; every test logs.
  void Configure(const std::string& lines) {
    std::ofstream(settings_, std::ios::trunc) << "log = " << log_ << "\n" << lines;
    SetEnvironmentVariableA("QUORVEX_VSCAN_SETTINGS", settings_.c_str());
  }

  std::vector<std::string> LogLines() const {
    std::vector<std::string> lines;
    std::ifstream in(log_);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  // Lines that are Event or begin with Event and a space.
  int CountLines(const std::string& event) const {
    const auto lines = LogLines();
    return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
      return l.rfind(event, 0) == 0 && (l.size() == event.size() || l[event.size()] == ' ');
    }));
  }
  // The capabilities the application set, in the order it set them.
  std::vector<std::string> CapabilitiesSet() const {
    std::vector<std::string> caps;
    for (const auto& line : LogLines())
      if (line.rfind("SET ", 0) == 0) caps.push_back(line.substr(4, 6));
    return caps;
  }
  // The source was opened and closed again as often, and the application
  // never called out of sequence.
  void ExpectSourceClosedCleanly() const {
    EXPECT_GE(CountLines("OPENDS"), 1);
    EXPECT_EQ(CountLines("OPENDS"), CountLines("CLOSEDS"));
    EXPECT_EQ(CountLines("SEQERROR"), 0);
  }

  std::unique_ptr<TScanner> NewScanner(bool showUI, TImageFormat format, std::uint16_t xDpi,
                                       std::uint16_t yDpi) {
    auto scanner = std::make_unique<TScanner>();
    scanner->SetProductName("Quorvex");
    scanner->SetShowUI(showUI);
    scanner->SetImageFormat(format);
    scanner->SetXDpi(xDpi);
    scanner->SetYDpi(yDpi);
    return scanner;
  }

  std::string log_;
  std::string settings_;
};

TEST_F(TwainScannerTest, OnlyOneScannerAtATime) {
  {
    TScanner first;
    try {
      TScanner second;
      FAIL() << "a second scanner was created";
    } catch (const EScannerError& e) {
      EXPECT_STREQ(e.what(), "Only one scanner object is permitted");
    }
  }
  EXPECT_NO_THROW(TScanner again);
}

TEST_F(TwainScannerTest, FindsTheVirtualScannerAsDefaultSource) {
  TScanner scanner;
  ASSERT_TRUE(scanner.IsAvailable());
  ASSERT_GE(scanner.SelectedSource(), 0);
  EXPECT_EQ(scanner.SourceName(scanner.SelectedSource()), kSourceName);
}

// A scanner whose manager directory is a folder of the test's choosing.
class RelocatedScanner : public TScanner {
 public:
  explicit RelocatedScanner(std::string directory) : directory_(std::move(directory)) {}

 protected:
  bool ManagerDirectory(std::string& directory) const override {
    directory = directory_;
    return true;
  }

 private:
  std::string directory_;
};

TEST_F(TwainScannerTest, WithoutManagerInTheWindowsDirectoryNothingIsAvailable) {
  const std::string dir = TempPath("nomanager");
  CreateDirectoryA(dir.c_str(), nullptr);
  RelocatedScanner scanner(dir);
  EXPECT_FALSE(scanner.IsAvailable());
  try {
    scanner.OpenSourceManager();
    FAIL() << "opened a manager that is not there";
  } catch (const EScannerError& e) {
    EXPECT_EQ(std::string(e.what()), "LoadLibrary(" + dir + "\\TWAIN_32.DLL) failed");
  }
  RemoveDirectoryA(dir.c_str());
}

// Under Wine a DLL named like a built-in one loads the built-in one, whatever
// the path; for this process the file on disk is made to win while a test
// needs it.
class PreferNative {
 public:
  explicit PreferNative(const char* module) : module_(module) {
    char exe[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string name(exe, n);
    name = name.substr(name.find_last_of("\\/") + 1);
    key_ = "Software\\Wine\\AppDefaults\\" + name + "\\DllOverrides";
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &key, nullptr) == ERROR_SUCCESS) {
      static const char kNative[] = "native";
      RegSetValueExA(key, module_, 0, REG_SZ, reinterpret_cast<const BYTE*>(kNative),
                     sizeof kNative);
      RegCloseKey(key);
    }
  }
  ~PreferNative() { RegDeleteKeyValueA(HKEY_CURRENT_USER, key_.c_str(), module_); }

 private:
  const char* module_;
  std::string key_;
};

// Runs the current test alone in a fresh process and answers its exit code:
// for tests that need a process in which no source manager was loaded yet.
bool InFreshProcess(DWORD& exitCode) {
  char flag[4];
  if (GetEnvironmentVariableA("QV_TWAIN_FRESH_PROCESS", flag, sizeof flag) > 0) return false;
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  char exe[MAX_PATH];
  GetModuleFileNameA(nullptr, exe, MAX_PATH);
  std::string commandLine = std::string("\"") + exe + "\" --gtest_filter=" +
                            info->test_suite_name() + "." + info->name();
  SetEnvironmentVariableA("QV_TWAIN_FRESH_PROCESS", "1");
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  const BOOL started = CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0,
                                      nullptr, nullptr, &startup, &process);
  SetEnvironmentVariableA("QV_TWAIN_FRESH_PROCESS", nullptr);
  exitCode = 0xFFFFFFFF;
  if (started) {
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  return true;
}

TEST_F(TwainScannerTest, ALibraryWithoutEntryPointStaysUnavailable) {
  // Once Wine's manager is loaded, a library of the same name resolves to
  // it; and Wine reads the override when the process starts.
  PreferNative preferNative("twain_32");
  if (DWORD exitCode; InFreshProcess(exitCode)) {
    EXPECT_EQ(exitCode, 0u);
    return;
  }
  // A DLL that is no source manager: it loads, but has no DSM_Entry.
  const std::string dir = TempPath("badmanager");
  CreateDirectoryA(dir.c_str(), nullptr);
  const std::string fake = dir + "\\TWAIN_32.DLL";
  ASSERT_TRUE(CopyFileA(kInstalledSource.c_str(), fake.c_str(), FALSE));
  {
    RelocatedScanner scanner(dir + "\\");  // a trailing backslash is not doubled
    try {
      scanner.OpenSourceManager();
      FAIL() << "opened a library without DSM_Entry";
    } catch (const EScannerError& e) {
      EXPECT_STREQ(e.what(), "GetProcAddress failed: DSM_Entry");
    }
    // The failed attempt must not leave the library loaded and answering.
    EXPECT_FALSE(scanner.IsAvailable());
    EXPECT_FALSE(scanner.IsAvailable());
  }
  EXPECT_TRUE(DeleteFileA(fake.c_str())) << "the library was left loaded";
  RemoveDirectoryA(dir.c_str());
}

#ifdef QV_FAKE_TWAINDSM_DIR
// Where TWAINDSM.DLL stands beside the platform's manager, a 64-bit program
// scans through it, and the blocks that capabilities and pages travel in go
// through the memory functions it hands over.
TEST_F(TwainScannerTest, ATwain2ManagerIsPreferredAndItsMemoryFunctionsUsed) {
  Configure("pages = 2\n");
  std::string dir = "Z:" QV_FAKE_TWAINDSM_DIR;
  std::replace(dir.begin(), dir.end(), '/', '\\');
  // Loaded here too, so that its counts outlive the scanner's hold on it.
  const HMODULE manager = LoadLibraryA((dir + "\\TWAINDSM.DLL").c_str());
  ASSERT_NE(manager, nullptr);
  Pages collected;
  {
    RelocatedScanner scanner(dir);
    scanner.SetShowUI(false);
    scanner.SetImageFormat(lumetra::ifGray256);
    ASSERT_TRUE(scanner.IsAvailable());
    scanner.Acquire(&collected, CollectPage, nullptr);
  }
  EXPECT_EQ(collected.pages.size(), 2u);
  long counts[4] = {};
  const auto countsOf = reinterpret_cast<void (*)(long*)>(
      reinterpret_cast<void*>(GetProcAddress(manager, "QvFakeDsmCounts")));
  ASSERT_NE(countsOf, nullptr);
  countsOf(counts);
  const long allocations = counts[0], frees = counts[1], locks = counts[2], unlocks = counts[3];
  EXPECT_GT(allocations, 0) << "capability containers were not the manager's";
  // Every container it made, and both pages, went back through it.
  EXPECT_GE(frees, allocations + 2);
  EXPECT_GE(locks, allocations + 2);
  EXPECT_EQ(locks, unlocks);
  ExpectSourceClosedCleanly();
  FreeLibrary(manager);
}
#endif

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

// Presses a button of a dialog as a person would, once it shows.
class DialogRobot {
 public:
  explicit DialogRobot(int button, const char* caption = kSourceName)
      : thread_([this, button, caption] {
          for (int i = 0; i < 500 && !stop_; ++i) {
            if (HWND dialog = FindWindowA(nullptr, caption); dialog && IsWindowEnabled(dialog)) {
              PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
              found_ = true;
              return;
            }
            Sleep(20);
          }
        }) {}
  ~DialogRobot() {
    stop_ = true;
    thread_.join();
  }
  bool Found() const { return found_; }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<bool> found_{false};
  std::thread thread_;
};

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

TEST_F(TwainScannerTest, TheManagersSelectionDialogChoosesTheSource) {
  TScanner scanner;
  {
    DialogRobot robot(IDCANCEL, "Select Source");
    EXPECT_FALSE(scanner.SelectSource());
    EXPECT_TRUE(robot.Found());
  }
  {
    DialogRobot robot(IDOK, "Select Source");
    EXPECT_TRUE(scanner.SelectSource());
    EXPECT_TRUE(robot.Found());
  }
  ASSERT_GE(scanner.SelectedSource(), 0);
  EXPECT_EQ(scanner.SourceName(scanner.SelectedSource()), kSourceName);
}

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

// --- drivers that misbehave ---------------------------------------------------------

// How an acquisition ended: its error, and whether it had to be stopped
// because it outlived its bound.
struct Outcome {
  std::string error;
  bool hung = false;
};

Outcome AcquireWithin(TScanner& scanner, Pages& collected, int seconds) {
  std::atomic<bool> finished{false}, hung{false};
  std::thread watchdog([&] {
    for (int i = 0; i < seconds * 20 && !finished; ++i) Sleep(50);
    if (!finished) {
      hung = true;
      scanner.Stop();
    }
  });
  Outcome outcome;
  try {
    scanner.Acquire(&collected, CollectPage, nullptr);
  } catch (const std::exception& e) {
    outcome.error = e.what();
  }
  finished = true;
  watchdog.join();
  outcome.hung = hung;
  return outcome;
}

struct MisbehaviourCase {
  const char* name;
  const char* settings;
  int dialogButton;  // pressed in the source's dialog when it shows one; 0: none
  std::size_t pages;
  const char* error;
  int resets;        // MSG_RESET sent
};

class TwainMisbehaviourTest : public TwainScannerTest,
                              public ::testing::WithParamInterface<MisbehaviourCase> {};

TEST_P(TwainMisbehaviourTest, NoHangNoLostPageAndTheNextAcquireWorks) {
  const MisbehaviourCase c = GetParam();
  const bool closeFails = std::string(c.settings).find("fail_closeds_once") != std::string::npos;
  // A source left open must not stay open for the tests after this one.
  if (DWORD exitCode; closeFails && InFreshProcess(exitCode)) {
    EXPECT_EQ(exitCode, 0u);
    return;
  }
  Configure(c.settings);
  auto scanner = NewScanner(false, lumetra::ifBlackWhite, 100, 100);
  Pages collected;
  Outcome outcome;
  {
    std::unique_ptr<DialogRobot> robot;
    if (c.dialogButton) robot = std::make_unique<DialogRobot>(c.dialogButton);
    outcome = AcquireWithin(*scanner, collected, 30);
  }
  EXPECT_FALSE(outcome.hung);
  EXPECT_EQ(outcome.error, c.error);
  EXPECT_EQ(collected.pages.size(), c.pages);
  EXPECT_EQ(CountLines("RESET"), c.resets);
  EXPECT_EQ(CountLines("SEQERROR"), 0);

  Configure("pages = 1\n");
  collected = Pages{};
  outcome = AcquireWithin(*scanner, collected, 30);
  if (closeFails && CountLines("CLOSEDS") == 0 &&
      GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version"))
    GTEST_SKIP() << "Wine's TWAIN manager drops a source from its list even when the source "
                    "refuses MSG_CLOSEDS: the second MSG_CLOSEDS never reaches the source, "
                    "which stays open, and MSG_OPENDS then fails with \"" << outcome.error
                 << "\". The retry can only be tested with a manager that keeps the source.";
  EXPECT_FALSE(outcome.hung);
  EXPECT_EQ(outcome.error, "");
  EXPECT_EQ(collected.pages.size(), 1u);
  ExpectSourceClosedCleanly();
}

INSTANTIATE_TEST_SUITE_P(
    Drivers, TwainMisbehaviourTest,
    ::testing::Values(
        MisbehaviourCase{"CheckStatusOnSet", "pages = 2\ncheckstatus_set = 1\n", 0, 2, "", 0},
        // Cannot hide its dialog: the person scans from it.
        MisbehaviourCase{"CheckStatusOnEnable", "checkstatus_enable = 1\n", IDOK, 3, "", 0},
        MisbehaviourCase{"PendingUnknown", "pages = 4\npending_unknown = 1\n", 0, 4, "", 0},
        MisbehaviourCase{"FailedTransferMidBatch", "pages = 5\nfail_transfer_at = 3\n", 0, 2,
                         "The scanner failed to transfer page 3", 1},
        // Nothing is pending after the failed last page: no reset in state 5.
        MisbehaviourCase{"FailedLastTransfer", "pages = 2\nfail_transfer_at = 2\n", 0, 1,
                         "The scanner failed to transfer page 2", 0},
        MisbehaviourCase{"FailedEndTransfer", "pages = 3\nfail_endxfer_at = 2\n", 0, 3, "", 0},
        MisbehaviourCase{"FailedEndOfLastTransfer", "pages = 2\nfail_endxfer_at = 2\n", 0, 2, "",
                         0},
        MisbehaviourCase{"EveryCapabilityRefused", "refuse_caps = 1\n", 0, 3, "", 0},
        MisbehaviourCase{"ShortBlock", "pages = 3\nshort_block_at = 2\n", 0, 1,
                         "The scanner failed to transfer page 2", 1},
        MisbehaviourCase{"CloseFailsOnce", "pages = 2\nfail_closeds_once = 1\n", 0, 2,
                         "Unable to close TWAIN data source", 0},
        MisbehaviourCase{"SlowSource", "pages = 2\npause_ms = 1500\n", 0, 2, "", 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TwainScannerTest, AHugePageArrivesWholeOrFailsItsTransferAlone) {
  // Black and white it fits (75 MB); true colour (1.8 GB) a 32-bit source
  // cannot even allocate.
  for (const TImageFormat format : {lumetra::ifBlackWhite, lumetra::ifTrueColor}) {
    SCOPED_TRACE(static_cast<int>(format));
    Configure("pages = 3\nhuge_page_at = 2\n");
    auto scanner = NewScanner(false, format, 100, 100);
    Pages collected;
    const Outcome outcome = AcquireWithin(*scanner, collected, 120);
    EXPECT_FALSE(outcome.hung);
    if (outcome.error.empty()) {
      ASSERT_EQ(collected.pages.size(), 3u);
      EXPECT_EQ(collected.pages[1].header.biWidth, 20000);
      EXPECT_EQ(collected.pages[1].header.biHeight, 30000);
    } else {
      EXPECT_EQ(outcome.error, "The scanner failed to transfer page 2");
      EXPECT_EQ(collected.pages.size(), 1u);
    }
    ExpectSourceClosedCleanly();
  }
}

TEST_F(TwainScannerTest, StopEndsABatchAfterThePageInHand) {
  Configure("pages = 5\n");
  auto scanner = NewScanner(false, lumetra::ifBlackWhite, 100, 100);
  Pages collected;
  collected.scanner = scanner.get();
  collected.stopAtPage = 2;
  const Outcome outcome = AcquireWithin(*scanner, collected, 30);
  EXPECT_FALSE(outcome.hung);
  EXPECT_EQ(outcome.error, "");
  EXPECT_EQ(collected.pages.size(), 2u);
  EXPECT_EQ(CountLines("RESET"), 1);
  ExpectSourceClosedCleanly();
}

TEST_F(TwainScannerTest, StopEndsASourceThatNeverAsksToBeClosed) {
  // An empty feeder that never says so.
  Configure("pages = 0\nno_closereq = 1\n");
  auto scanner = NewScanner(false, lumetra::ifBlackWhite, 100, 100);
  std::thread person([&] {
    for (int i = 0; i < 200 && CountLines("NOCLOSEREQ") == 0; ++i) Sleep(50);
    Sleep(300);
    scanner->Stop();
  });
  Pages collected;
  const Outcome outcome = AcquireWithin(*scanner, collected, 30);
  person.join();
  EXPECT_FALSE(outcome.hung);
  EXPECT_EQ(outcome.error, "");
  EXPECT_TRUE(collected.pages.empty());
  ExpectSourceClosedCleanly();
}

// Wine's manager loads exactly two sources, sane.ds and gphoto2.ds: a copy of
// the virtual scanner under the second name is a second scanner, named after
// its file. Neither keeps the default name here.
TEST_F(TwainScannerTest, OfTwoSourcesTheDefaultOrTheChosenOneScans) {
  const std::string second = std::string(quorvex::testing_support::TwainSourceFolder()) + "\\gphoto2.ds";
  PreferNative preferNative("gphoto2.ds");
  Configure("product_name = Acme Flatbed\npages = 1\n");
  if (DWORD exitCode; !GetEnvironmentVariableA("QV_TWAIN_FRESH_PROCESS", nullptr, 0)) {
    // Wine's own gphoto2.ds goes back in place afterwards.
    const std::string saved = TempPath("gphoto2.ds");
    const bool hadOne = CopyFileA(second.c_str(), saved.c_str(), FALSE);
    ASSERT_TRUE(CopyFileA(kInstalledSource.c_str(), second.c_str(), FALSE));
    InFreshProcess(exitCode);
    if (hadOne) {
      CopyFileA(saved.c_str(), second.c_str(), FALSE);
      DeleteFileA(saved.c_str());
    } else {
      DeleteFileA(second.c_str());
    }
    EXPECT_EQ(exitCode, 0u);
    return;
  }
  const std::string first = "Acme Flatbed", other = "Acme Flatbed (gphoto2)";
  auto scanner = NewScanner(false, lumetra::ifBlackWhite, 100, 100);
  ASSERT_TRUE(scanner->IsAvailable());
  ASSERT_EQ(scanner->SourceCount(), 2);
  EXPECT_EQ(std::set<std::string>({scanner->SourceName(0), scanner->SourceName(1)}),
            std::set<std::string>({first, other}));
  ASSERT_GE(scanner->SelectedSource(), 0);
  const std::string byDefault = scanner->SourceName(scanner->SelectedSource());
  Pages collected;
  scanner->Acquire(&collected, CollectPage, nullptr);
  EXPECT_EQ(collected.pages.size(), 1u);
  EXPECT_EQ(CountLines("OPENDS app=Quorvex source=" + byDefault), 1);

  // The person picks the other one in the manager's dialog.
  const std::string chosen = byDefault == first ? other : first;
  std::atomic<bool> picked{false};
  std::thread person([&] {
    for (int i = 0; i < 500 && !picked; ++i) {
      HWND dialog = FindWindowA(nullptr, "Select Source");
      HWND list = dialog ? FindWindowExA(dialog, nullptr, "ListBox", nullptr) : nullptr;
      if (list && IsWindowEnabled(dialog)) {
        const LRESULT index =
            SendMessageA(list, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                         reinterpret_cast<LPARAM>(chosen.c_str()));
        SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
        SendMessageA(dialog, WM_COMMAND,
                     MAKEWPARAM(GetDlgCtrlID(list), LBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        picked = true;
      }
      Sleep(20);
    }
  });
  EXPECT_TRUE(scanner->SelectSource());
  person.join();
  ASSERT_TRUE(picked);
  EXPECT_EQ(scanner->SourceName(scanner->SelectedSource()), chosen);
  collected = Pages{};
  scanner->Acquire(&collected, CollectPage, nullptr);
  EXPECT_EQ(collected.pages.size(), 1u);
  EXPECT_EQ(CountLines("OPENDS app=Quorvex source=" + chosen), 1);
  ExpectSourceClosedCleanly();
}

}  // namespace
}  // namespace quorvex::twain
