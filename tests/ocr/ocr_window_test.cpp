// The scanning window's OCR command end to end: the virtual scanner scans a
// printed letter through Wine's TWAIN manager into the window, the command
// hands it to gocr039.exe (found on the search path, as beside a host
// program), and the result window shows the letter's words.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "formats/bmp_graphic.h"
#include "ocr/letter_page.h"
#include "ocr/ocr_engine.h"
#include "ocr/ocr_test_support.h"
#include "scanwindow/win32/main_form.h"
#include "ui/robot.h"

namespace quorvex::scanwindow {
namespace {

using namespace lumetra;
namespace fs = std::filesystem;

class TEnvironment {
 public:
  TEnvironment(const char* name, const std::string& value) : name_(name) {
    char old[8192];
    const DWORD n = ::GetEnvironmentVariableA(name, old, sizeof old);
    had_ = n > 0 && n < sizeof old;
    if (had_) old_.assign(old, n);
    ::SetEnvironmentVariableA(name, value.c_str());
  }
  ~TEnvironment() { ::SetEnvironmentVariableA(name_, had_ ? old_.c_str() : nullptr); }
  // The value before, empty when there was none.
  const std::string& Old() const { return old_; }

 private:
  const char* name_;
  bool had_ = false;
  std::string old_;
};

TEST(ScanningWindowOcr, AScannedLetterShowsItsWordsInTheResultWindow) {
  qvtest::TPrivateTempDir temp("qv_ocr_window");
  const fs::path feed = temp.Path() / "feed";
  fs::create_directories(feed);
  TDibGraphic letter;
  qvtest::PrintLetter(letter, ifBlackWhite);
  TBitmapGraphic bmp;
  bmp.Assign(&letter);
  bmp.SaveToFile((feed / "letter.bmp").string());
  const fs::path settings = temp.Path() / "scanner.txt";
  std::ofstream(settings) << "folder = " << feed.string() << "\n";
  TEnvironment scanner("QUORVEX_VSCAN_SETTINGS", settings.string());
  const std::string launcherFolder =
      fs::path(qvtest::OnWineDrive(QV_GOCR039_EXE)).parent_path().string();
  TEnvironment path("PATH", launcherFolder);
  ::SetEnvironmentVariableA("PATH", (launcherFolder + ";" + path.Old()).c_str());

  TfrmMain form;
  form.DocumentFileName = (temp.Path() / "letter.tif").string();
  form.ShowDialog = false;
  form.XDpi = form.YDpi = 200;
  form.ImageFormat = ifBlackWhite;
  form.Show();
  form.ScanMenuClick(nullptr);
  ASSERT_NE(form.ImageScrollBox().Graphic(), nullptr);
  ASSERT_EQ(form.ImageScrollBox().Graphic()->Width(), letter.Width());

  std::vector<std::string> shown;
  qvtest::Robot person("OCR Results", [&](HWND window) {
    char text[4096] = {};
    ::GetWindowTextA(qvtest::FindControl(window, "Edit"), text, sizeof text);
    shown = TextLines(text);
    qvtest::ClickControl(window, "&Close");
  });
  form.MainMenu()["OCR1"].Click();
  ASSERT_TRUE(person.Found());
  form.Hide();

  const double accuracy = qvtest::CharacterAccuracy(qvtest::LetterLines(), shown);
  std::printf("character accuracy of the scanned letter %.1f%%\n", accuracy * 100);
  for (const std::string& line : shown) std::printf("  | %s\n", line.c_str());
  EXPECT_GE(accuracy, 0.85);
  for (const char* word : {"Dear", "Thank", "order", "printers", "Smith"})
    EXPECT_TRUE(qvtest::HasWord(shown, word)) << word;
  for (const std::string& name : temp.Files()) EXPECT_NE(name.rfind("ocr", 0), 0u) << name;
}

}  // namespace
}  // namespace quorvex::scanwindow
