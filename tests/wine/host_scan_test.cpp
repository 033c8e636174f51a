// A C++ host that binds early and scans for real, with a robot thread that
// presses the window's buttons as a person would: the window is kept between
// Scans, a Scan arriving while it shows fails with error information, and a
// second object cannot take the process's only TWAIN session.
#include <windows.h>
#include <ocidl.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

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

}  // namespace
