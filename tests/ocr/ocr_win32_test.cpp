// The console driver with the real recogniser (gocr039.exe and gocr.exe) in a
// library, as Quorvex.dll runs it: where a bare program name is found; and
// the result window's memo, which can be scrolled, selected and copied.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <filesystem>

#include "ocr/ocr_engine.h"
#include "ocr/ocr_test_support.h"
#include "ocr/win32/ocr_result_form.h"
#include "support/ui_robot.h"

namespace lumetra {
namespace {

namespace fs = std::filesystem;

// Quorvex.dll runs in hosts that live elsewhere: a bare "gocr039.exe" that the
// system's search misses is named in the error, and found once it lies beside
// the library that runs the driver.
TEST(ProgramSearch, AMissingProgramIsNamedAndOneBesideTheLibraryIsFound) {
  qvtest::TPrivateTempDir temp("qv_ocr_search");
  const fs::path library = qvtest::OnWineDrive(QV_OCR_LIBRARY);
  HMODULE module = ::LoadLibraryA(library.string().c_str());
  ASSERT_NE(module, nullptr);
  using TRecognize = int (*)(const char*, char*, int);
  auto recognize = reinterpret_cast<TRecognize>(
      reinterpret_cast<void*>(::GetProcAddress(module, "QvRecognizeLetter")));
  ASSERT_NE(recognize, nullptr);
  char text[4096];
  EXPECT_EQ(recognize("gocr039.exe", text, sizeof text), 0);
  EXPECT_STREQ(text, "Unable to execute program, gocr039.exe");
  EXPECT_TRUE(temp.Files().empty());

  const fs::path launcher = qvtest::OnWineDrive(QV_GOCR039_EXE);
  for (const char* name : {"gocr039.exe", "gocr.exe"})
    fs::copy_file(launcher.parent_path() / name, library.parent_path() / name,
                  fs::copy_options::overwrite_existing);
  EXPECT_EQ(recognize("gocr039.exe", text, sizeof text), 1) << text;
  for (const char* name : {"gocr039.exe", "gocr.exe"}) fs::remove(library.parent_path() / name);
  ::FreeLibrary(module);
  EXPECT_NE(std::string(text).find("confirm"), std::string::npos) << text;
  EXPECT_TRUE(temp.Files().empty());
}

std::string ClipboardText() {
  std::string text;
  if (!::OpenClipboard(nullptr)) return text;
  if (HANDLE data = ::GetClipboardData(CF_TEXT)) {
    if (const char* chars = static_cast<const char*>(::GlobalLock(data))) {
      text = chars;
      ::GlobalUnlock(data);
    }
  }
  ::CloseClipboard();
  return text;
}

TEST(OcrResultForm, ShowsEveryLineUnwrappedForSelectingAndCopying) {
  const std::vector<std::string> lines{"Dear Madam,", std::string(400, 'w') + " end of a long line",
                                       "", "John Smith"};
  std::vector<std::string> shown;
  LONG_PTR style = 0;
  std::string copied;
  qvtest::Robot person("OCR Results", [&](HWND window) {
    HWND memo = qvtest::FindControl(window, "Edit");
    char text[4096] = {};
    ::GetWindowTextA(memo, text, sizeof text);
    shown = TextLines(text);
    style = ::GetWindowLongPtrA(memo, GWL_STYLE);
    ::SendMessageA(memo, EM_SETSEL, 0, 11);
    ::SendMessageA(memo, WM_COPY, 0, 0);
    copied = ClipboardText();
    qvtest::ClickControl(window, "&Close");
  });
  ShowOcrResult(lines);
  ASSERT_TRUE(person.Found());
  EXPECT_EQ(shown, lines);
  EXPECT_TRUE(style & WS_VSCROLL);
  EXPECT_TRUE(style & ES_AUTOHSCROLL) << "long lines wrap";
  EXPECT_FALSE(style & ES_READONLY);
  EXPECT_EQ(copied, "Dear Madam,");
}

TEST(OcrResultForm, AnEmptyResultIsAnEmptyMemo) {
  std::string shown = "unread";
  qvtest::Robot person("OCR Results", [&](HWND window) {
    char text[64] = {};
    ::GetWindowTextA(qvtest::FindControl(window, "Edit"), text, sizeof text);
    shown = text;
    qvtest::ClickControl(window, "&Close");
  });
  ShowOcrResult({});
  ASSERT_TRUE(person.Found());
  EXPECT_EQ(shown, "");
}

}  // namespace
}  // namespace lumetra
