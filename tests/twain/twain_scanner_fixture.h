// What the scanner tests share: the Quorvex Virtual Scanner (installed as
// sane.ds in Wine's source folder by the test fixture) writes a line per
// protocol event into a log that the fixture reads back, the pages a scan
// delivers as the application received them, and robots for the dialogs.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "imaging/dib_graphic.h"
#include "twain/twain_scanner.h"
#include "wine/wine_paths.h"

namespace quorvex::twain::scanner_test {

using lumetra::TImageFormat;

constexpr char kSourceName[] = "Quorvex Virtual Scanner";
inline const std::string kInstalledSource =
    std::string(quorvex::testing_support::TwainSourceFolder()) + "\\sane.ds";

inline std::string TempPath(const std::string& name) {
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

inline void CollectPage(HWND, HGLOBAL dib, std::uint16_t xResolution, void* context,
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
  if (HWND indicator = FindWindowA(nullptr, kIndicatorCaption);
      indicator && IsWindowVisible(indicator))
    ++collected->indicatorShown;
  collected->pages.push_back(page);
  if (collected->stopAtPage == static_cast<int>(collected->pages.size()))
    collected->scanner->Stop();
  if (collected->throwAtPage == static_cast<int>(collected->pages.size()))
    throw lumetra::Exception("disk full");
}

// The image format a page header describes: bit count and palette kind.
inline int FormatOf(const Page& page) {
  const bool grey = std::all_of(page.palette.begin(), page.palette.end(), [](auto q) {
    return q.rgbRed == q.rgbGreen && q.rgbGreen == q.rgbBlue;
  });
  switch (page.header.biBitCount) {
    case 1:
      return lumetra::ifBlackWhite;
    case 4:
      return grey ? lumetra::ifGray16 : lumetra::ifColor16;
    case 8:
      return grey ? lumetra::ifGray256 : lumetra::ifColor256;
    case 24:
      return lumetra::ifTrueColor;
    default:
      return -1;
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
inline bool InFreshProcess(DWORD& exitCode) {
  char flag[4];
  if (GetEnvironmentVariableA("QV_TWAIN_FRESH_PROCESS", flag, sizeof flag) > 0) return false;
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  char exe[MAX_PATH];
  GetModuleFileNameA(nullptr, exe, MAX_PATH);
  std::string commandLine =
      std::string("\"") + exe + "\" --gtest_filter=" + info->test_suite_name() + "." + info->name();
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

}  // namespace quorvex::twain::scanner_test
