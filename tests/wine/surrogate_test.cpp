// A 64-bit host that has Quorvex.Scanner made out of process, in the
// system's DLL surrogate (dllhost.exe): the way a 64-bit host reaches the
// 32-bit server, and one that the 64-bit server allows as well. The host
// sets and reads properties across the process boundary, receives an error
// with its text, and scans three pages with the robot at the window.
// QV_SURROGATE_DLL names the server to register (this build's by default);
// the 32-bit one needs a machine that runs 32-bit programs.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>

#include "quorvex_h.h"
#include "support/scan_robot.h"
#include "wine/wine_paths.h"

using quorvex::testing_support::HostSystemFolder;
using quorvex::testing_support::HrText;
using quorvex::testing_support::RunRegsvr32;
using quorvex::testing_support::WinePath;

namespace {

constexpr const char* kCaption = "Quorvex - scanning utility";

std::wstring Variable(const wchar_t* name) {
  wchar_t value[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH);
  return length > 0 && length < MAX_PATH ? value : L"";
}

int TiffPages(const std::string& path) {
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (!tif) return 0;
  int pages = 0;
  do ++pages;
  while (TIFFReadDirectory(tif));
  TIFFClose(tif);
  return pages;
}

// The surrogate processes running now.
std::set<DWORD> Surrogates() {
  std::set<DWORD> ids;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return ids;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
    if (_wcsicmp(entry.szExeFile, L"dllhost.exe") == 0) ids.insert(entry.th32ProcessID);
  CloseHandle(snapshot);
  return ids;
}

class SurrogateTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { CoInitialize(nullptr); }

  void SetUp() override {
    own_ = WinePath(QV_QUORVEX_DLL);
    dll_ = Variable(L"QV_SURROGATE_DLL");
    if (dll_.empty()) dll_ = own_;
    folder_ = Variable(L"QV_SURROGATE_REGSVR32_DIR");
    if (folder_.empty()) folder_ = HostSystemFolder();
    if (dll_ != own_) {
      // Only the other server is registered: the host cannot load it, so
      // nothing but the surrogate can serve it.
      if (GetFileAttributesW(dll_.c_str()) == INVALID_FILE_ATTRIBUTES ||
          GetFileAttributesW((folder_ + L"\\regsvr32.exe").c_str()) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "no server or regsvr32 of the other bitness here";
      RunRegsvr32(L"/u \"" + own_ + L"\"");
    }
    const DWORD code = RunRegsvr32(L"\"" + dll_ + L"\"", folder_);
    if (code == 0xFFFFFFFF && dll_ != own_)
      GTEST_SKIP() << "the other bitness's regsvr32 does not run on this machine";
    ASSERT_EQ(code, 0u);
    registered_ = true;
    // Wine 8 starts syswow64\dllhost.exe for a 64-bit client whenever
    // DllSurrogate is empty, whatever the server's bitness: right for the
    // 32-bit server, which is the case that matters, but no 64-bit server
    // can load there. The system's 64-bit surrogate is named outright while
    // this build's 64-bit server is tested.
    if (sizeof(void*) == 8 && dll_ == own_) SetSurrogate(HostSystemFolder() + L"\\dllhost.exe");
  }

  void TearDown() override {
    EndSurrogates();
    if (sizeof(void*) == 8 && dll_ == own_ && registered_) SetSurrogate(L"");
    if (dll_ != own_) {
      if (registered_) RunRegsvr32(L"/u \"" + dll_ + L"\"", folder_);
      // The prefix is left as the other tests expect it: this build's
      // server registered.
      RunRegsvr32(L"\"" + own_ + L"\"");
    }
  }

  // Wine's surrogate stays after its last object is released (Windows
  // ends it): one this test started and that is still there a moment after
  // is ended, so that it does not hold the test's output open for ever.
  void EndSurrogates() {
    for (DWORD id : Surrogates()) {
      if (surrogatesBefore_.count(id)) continue;
      HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
      if (!process) continue;
      if (WaitForSingleObject(process, 2000) == WAIT_TIMEOUT) {
        std::printf("surrogate %lu still running after the last release: ended\n",
                    static_cast<unsigned long>(id));
        TerminateProcess(process, 0);
      }
      CloseHandle(process);
    }
  }

  static void SetSurrogate(const std::wstring& surrogate) {
    wchar_t clsid[40];
    StringFromGUID2(CLSID_Scanner, clsid, 40);
    const std::wstring key = std::wstring(L"AppID\\") + clsid;
    ASSERT_EQ(RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), L"DllSurrogate", REG_SZ,
                              surrogate.c_str(),
                              static_cast<DWORD>((surrogate.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
  }

  IScanner* NewScanner() {
    IScanner* scanner = nullptr;
    const HRESULT hr = CoCreateInstance(CLSID_Scanner, nullptr, CLSCTX_LOCAL_SERVER, IID_IScanner,
                                        reinterpret_cast<void**>(&scanner));
    EXPECT_EQ(hr, S_OK) << HrText(hr);
    return scanner;
  }

  std::set<DWORD> surrogatesBefore_ = Surrogates();
  std::wstring own_, dll_, folder_;
  bool registered_ = false;
};

TEST_F(SurrogateTest, TheObjectLivesInTheSurrogateAndTakesItsProperties) {
  IScanner* scanner = NewScanner();
  ASSERT_NE(scanner, nullptr);
  EXPECT_EQ(GetModuleHandleA("Quorvex.dll"), nullptr) << "the server was loaded in process";
  BSTR name = SysAllocString(L"C:\\letters\\march.tif");
  EXPECT_EQ(scanner->put_Filename(name), S_OK);
  SysFreeString(name);
  EXPECT_EQ(scanner->put_ScanXDpi(300), S_OK);
  EXPECT_EQ(scanner->put_ConvertToPdf(VARIANT_TRUE), S_OK);
  name = nullptr;
  EXPECT_EQ(scanner->get_Filename(&name), S_OK);
  EXPECT_STREQ(name, L"C:\\letters\\march.tif");
  SysFreeString(name);
  LONG dpi = 0;
  EXPECT_EQ(scanner->get_ScanXDpi(&dpi), S_OK);
  EXPECT_EQ(dpi, 300);
  VARIANT_BOOL convert = VARIANT_FALSE;
  EXPECT_EQ(scanner->get_ConvertToPdf(&convert), S_OK);
  EXPECT_EQ(convert, VARIANT_TRUE);
  scanner->Release();
}

// Three pages scanned with the robot at the window and converted.
TEST_F(SurrogateTest, ScansThreePagesWithTheWindowInTheSurrogate) {
  IScanner* scanner = NewScanner();
  ASSERT_NE(scanner, nullptr);
  const std::string dir = quorvex::testing_support::TempFolder("qv_surrogate", true);
  std::error_code error;
  const std::string tiff = dir + "\\letter.tif", pdf = dir + "\\letter.pdf";
  const std::wstring wideTiff(tiff.begin(), tiff.end());
  BSTR name = SysAllocString(wideTiff.c_str());
  ASSERT_EQ(scanner->put_Filename(name), S_OK);
  SysFreeString(name);
  scanner->put_ShowScanUI(VARIANT_FALSE);
  scanner->put_ScanXDpi(100);
  scanner->put_ScanYDpi(100);
  scanner->put_ConvertToPdf(VARIANT_TRUE);
  quorvex::robot::TPerson person(
      {std::string("window:") + kCaption, "click:Scan", "page:3", "click:Accept"});
  const HRESULT scanned = scanner->Scan();
  std::string reason;
  const bool robotDone = person.Finish(reason);
  EXPECT_EQ(scanned, S_OK) << HrText(scanned);
  EXPECT_TRUE(robotDone) << reason;
  LONG result = 0;
  EXPECT_EQ(scanner->get_ScanResult(&result), S_OK);
  EXPECT_EQ(result, 1);
  scanner->Release();
  EXPECT_EQ(TiffPages(tiff), 3);
  EXPECT_GT(std::filesystem::file_size(pdf, error), 0u) << "no PDF beside the TIFF";
}

}  // namespace
