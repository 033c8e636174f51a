// A host that drives the server from two STA threads: each thread's object
// has its own window, timers and idle processing.
// Then the server's lifetime: released and freed by COM, the DLL goes (its
// window classes with it), and a new object made afterwards scans again.
#include <windows.h>
#include <ocidl.h>

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "quorvex_h.h"
#include "support/scan_robot.h"
#include "wine/wine_paths.h"

using quorvex::testing_support::HrText;

namespace {

constexpr const char* kCaption = "Quorvex - scanning utility";

std::string TempDir() { return quorvex::testing_support::TempFolder("qv_apartments", true); }

int PageCount(const std::string& path) {
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (!tif) return 0;
  int pages = 0;
  do {
    ++pages;
  } while (TIFFReadDirectory(tif));
  TIFFClose(tif);
  return pages;
}

void SetFilename(IScanner* scanner, const std::string& fileName) {
  const std::wstring wide(fileName.begin(), fileName.end());
  BSTR text = SysAllocString(wide.c_str());
  scanner->put_Filename(text);
  SysFreeString(text);
}

IScanner* NewScanner(const std::string& fileName) {
  IScanner* scanner = nullptr;
  const HRESULT hr = CoCreateInstance(CLSID_Scanner, nullptr, CLSCTX_INPROC_SERVER, IID_IScanner,
                                      reinterpret_cast<void**>(&scanner));
  EXPECT_EQ(hr, S_OK) << HrText(hr);
  if (!scanner) return nullptr;
  scanner->put_ShowScanUI(VARIANT_FALSE);
  scanner->put_ScanXDpi(100);
  scanner->put_ScanYDpi(100);
  SetFilename(scanner, fileName);
  return scanner;
}

// A true-colour picture, LZW with differencing: at ten thousand square it
// takes the server a while to read.
bool WritePicture(const std::string& path, int side) {
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (!tif) return false;
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, side);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, side);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
  TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 64);
  std::vector<unsigned char> row(side * 3);
  bool ok = true;
  for (int y = 0; y < side && ok; ++y) {
    for (int x = 0; x < side * 3; ++x)
      row[x] = static_cast<unsigned char>((x * 7) ^ (y * 13) ^ ((x * y) >> 5));
    ok = TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(y), 0) == 1;
  }
  TIFFClose(tif);
  return ok;
}

const std::vector<std::string> kThreePages = {std::string("window:") + kCaption, "click:Scan",
                                              "page:3", "click:Accept"};

// One Scan on the calling thread, a robot pressing the window's buttons as
// a person would (by default: Scan, wait for three pages, Accept); a robot
// that gets stuck gives the window up, so the call returns. Answers
// ScanResult, or -1 when the robot got stuck.
LONG ScanThreePages(IScanner* scanner, std::string& reason,
                    const std::vector<std::string>& steps = kThreePages) {
  quorvex::robot::TPerson person(steps);
  const HRESULT hr = scanner->Scan();
  const bool ok = person.Finish(reason);
  if (hr != S_OK) reason += " Scan: " + HrText(hr);
  LONG result = -1;
  scanner->get_ScanResult(&result);
  return ok ? result : -1;
}

// A thread of its own apartment, stepping through its part when told.
class TApartment {
 public:
  // Returns once the thread has its object. Made one after the other, as
  // under 64-bit Wine a thread that loads the server (comctl32's start-up
  // loads a cursor under the loader lock) while another makes the
  // process's first window (user32 loads the display driver) may leave
  // both waiting for ever.
  TApartment() {
    thread_ = std::thread([this] { Run(); });
    WaitForSingleObject(ready_, INFINITE);
    SetEvent(ready_);
  }
  ~TApartment() {
    Post(kQuit);
    thread_.join();
  }
  // Runs one scan into FileName on the apartment's thread and waits for it.
  LONG Scan(const std::string& fileName, std::string& reason,
            const std::vector<std::string>& steps = kThreePages) {
    fileName_ = fileName;
    steps_ = steps;
    Post(kScan);
    WaitForSingleObject(done_, INFINITE);
    reason = reason_;
    return result_;
  }

 private:
  enum { kScan = 1, kQuit = 2 };
  void Post(int command) {
    WaitForSingleObject(ready_, INFINITE);
    SetEvent(ready_);
    PostThreadMessageA(threadId_, WM_APP + command, 0, 0);
  }
  void Run() {
    threadId_ = GetCurrentThreadId();
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IScanner* scanner = NewScanner("");
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the queue exists
    SetEvent(ready_);
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
      if (msg.hwnd == nullptr && msg.message == WM_APP + kQuit) break;
      if (msg.hwnd == nullptr && msg.message == WM_APP + kScan) {
        if (scanner) SetFilename(scanner, fileName_);
        result_ = scanner ? ScanThreePages(scanner, reason_, steps_) : -1;
        SetEvent(done_);
        continue;
      }
      DispatchMessageA(&msg);
    }
    if (scanner) scanner->Release();
    CoUninitialize();
  }

  std::string fileName_;
  HANDLE ready_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  HANDLE done_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  DWORD threadId_ = 0;
  LONG result_ = -1;
  std::string reason_;
  std::vector<std::string> steps_;
  std::thread thread_;
};

TEST(Apartments, TwoObjectsOnTwoThreadsEachAnswerThroughTheirOwnWindow) {
  const std::string dir = TempDir();
  const std::string first = dir + "\\first.tif", second = dir + "\\second.tif",
                    third = dir + "\\third.tif";
  {
    TApartment a, b;
    std::string reason;
    // Both objects live at once, one window per thread. The process has
    // one TWAIN session, which the first window holds: the second window
    // answers its own buttons (its idle processing enabled them) and says
    // so, and the first one scans on after it. (Each scan is into a new
    // document: a window given a document names it in its caption.)
    EXPECT_EQ(a.Scan(first, reason), 1) << reason;
    EXPECT_EQ(b.Scan(second, reason,
                     {std::string("window:") + kCaption, "click:Scan",
                      "message:Quorvex=Only one scanner object is permitted", "click:Cancel"}),
              0)
        << reason;
    EXPECT_EQ(a.Scan(third, reason), 1) << reason;
  }
  EXPECT_EQ(PageCount(first), 3);
  EXPECT_EQ(PageCount(second), 0);
  EXPECT_EQ(PageCount(third), 3);
}

// A new object (the server loaded afresh, its window classes registered
// again) scans three pages into FileName.
void ScanWithANewObject(const std::string& fileName) {
  std::string reason;
  IScanner* scanner = NewScanner(fileName);
  ASSERT_NE(scanner, nullptr);
  EXPECT_EQ(ScanThreePages(scanner, reason), 1) << reason;
  scanner->Release();
  EXPECT_EQ(PageCount(fileName), 3);
}

TEST(Apartments, TheServerUnloadsWhenFreedAndAFreshObjectScansAgain) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const std::string dir = TempDir();
  std::string reason;
  IScanner* scanner = NewScanner(dir + "\\before.tif");
  ASSERT_NE(scanner, nullptr);
  EXPECT_EQ(ScanThreePages(scanner, reason), 1) << reason;
  EXPECT_NE(GetModuleHandleA("Quorvex.dll"), nullptr);
  scanner->Release();
  // Whatever the window started ends first; then COM may free the server.
  for (int i = 0; i < 200 && GetModuleHandleA("Quorvex.dll"); ++i) {
    CoFreeUnusedLibrariesEx(0, 0);
    Sleep(50);
  }
  EXPECT_EQ(GetModuleHandleA("Quorvex.dll"), nullptr) << "the server stayed loaded";
  ScanWithANewObject(dir + "\\after.tif");
  CoUninitialize();
}

// The window reads ahead the picture the user rests on in its Open dialog,
// and Open shows it.
// A host that lets go of its object while that read still runs keeps the
// server loaded until the reading thread has ended, then may free it and
// scan again with a new object.
TEST(Apartments, AReadAheadKeepsTheServerLoadedUntilItsThreadEnds) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const std::string dir = TempDir();
  const std::string picture = dir + "\\large.tif";
  DWORD start = GetTickCount();
  ASSERT_TRUE(WritePicture(picture, 10000));
  const std::string small = dir + "\\small.tif";
  ASSERT_TRUE(WritePicture(small, 300));
  std::printf("picture written in %lu ms\n", GetTickCount() - start);
  std::string reason;
  IScanner* scanner = NewScanner(dir + "\\document.tif");
  ASSERT_NE(scanner, nullptr);
  EXPECT_EQ(ScanThreePages(scanner, reason,
                           {std::string("window:") + kCaption, "menu:Open ...",
                            "pick:Open=" + small, "sleep:500", "dialog:Open=Open",
                            "window:" + small, "menu:Open ...", "pick:Open=" + picture,
                            "inuse:" + picture, "dialog:Open=Cancel", "window:" + small,
                            "click:Cancel"}),
            0)
      << reason;
  scanner->Release();
  start = GetTickCount();
  bool sawReading = false;
  for (int i = 0; i < 600 && GetModuleHandleA("Quorvex.dll"); ++i) {
    const bool before = quorvex::robot::FileInUse(picture);
    CoFreeUnusedLibrariesEx(0, 0);
    const bool loaded = GetModuleHandleA("Quorvex.dll") != nullptr;
    if (before && quorvex::robot::FileInUse(picture)) {
      sawReading = true;
      EXPECT_TRUE(loaded) << "the server was freed while its read-ahead ran";
    }
    Sleep(20);
  }
  std::printf("read-ahead seen: %d; server freed after %lu ms\n", sawReading,
              GetTickCount() - start);
  EXPECT_TRUE(sawReading) << "the read-ahead had ended before the host let go";
  EXPECT_EQ(GetModuleHandleA("Quorvex.dll"), nullptr) << "the server stayed loaded";
  EXPECT_FALSE(quorvex::robot::FileInUse(picture));
  ScanWithANewObject(dir + "\\after.tif");
  CoUninitialize();
}

}  // namespace
