// The scanning window's OCR command end to end: a printed letter in the
// viewer (shown, or scanned by the virtual scanner through Wine's TWAIN
// manager) goes to gocr039.exe, found on the search path as beside a host
// program, and the result window shows the letter's words.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

#include "formats/bmp_graphic.h"
#include "ocr/letter_page.h"
#include "ocr/ocr_engine.h"
#include "ocr/ocr_test_support.h"
#include "scanwindow/win32/main_form.h"
#include "support/ui_robot.h"

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

// The window, a printed letter, and gocr039.exe on the search path.
class ScanningWindowOcr : public testing::Test {
 protected:
  void SetUp() override {
    qvtest::PrintLetter(letter_, ifBlackWhite);
    form_.ShowDialog = false;
    form_.XDpi = form_.YDpi = 200;
    form_.ImageFormat = ifBlackWhite;
    form_.Show();
  }
  void TearDown() override { form_.Hide(); }
  void PutLauncherOnPath() {
    const std::string folder = fs::path(qvtest::OnWineDrive(QV_GOCR039_EXE)).parent_path().string();
    path_ = std::make_unique<TEnvironment>("PATH", folder);
    ::SetEnvironmentVariableA("PATH", (folder + ";" + path_->Old()).c_str());
  }
  // Runs the OCR command; answers what the result window's memo showed.
  std::vector<std::string> RunOcr() {
    std::vector<std::string> shown;
    qvtest::Robot person("OCR Results", [&](HWND window) {
      char text[4096] = {};
      ::GetWindowTextA(qvtest::FindControl(window, "Edit"), text, sizeof text);
      shown = TextLines(text);
      qvtest::ClickControl(window, "&Close");
    });
    // As a click on the (hidden) item does.
    ::SendMessageA(form_.Handle(), WM_COMMAND, MAKEWPARAM(form_.MainMenu()["OCR1"].Command(), 0),
                   0);
    EXPECT_TRUE(person.Found());
    return shown;
  }
  void ExpectTheLetter(const std::vector<std::string>& shown) {
    const double accuracy = qvtest::CharacterAccuracy(qvtest::LetterLines(), shown);
    std::printf("character accuracy %.1f%%\n", accuracy * 100);
    for (const std::string& line : shown) std::printf("  | %s\n", line.c_str());
    EXPECT_GE(accuracy, 0.85);
    for (const char* word : {"Dear", "Thank", "order", "printers", "Smith"})
      EXPECT_TRUE(qvtest::HasWord(shown, word)) << word;
    for (const std::string& name : temp_.Files()) EXPECT_NE(name.rfind("ocr", 0), 0u) << name;
  }

  qvtest::TPrivateTempDir temp_{"qv_ocr_window"};
  TDibGraphic letter_;
  TfrmMain form_;
  std::unique_ptr<TEnvironment> path_;
};

// A colour page goes over as a pixmap (P3), a scanned one as a bitmap (P1).
TEST_F(ScanningWindowOcr, TheViewersColourPageShowsItsWordsInTheResultWindow) {
  PutLauncherOnPath();
  TDibGraphic colourLetter;
  qvtest::PrintLetter(colourLetter, ifTrueColor);
  form_.ImageScrollBox().AssignGraphic(&colourLetter);
  ExpectTheLetter(RunOcr());
}

TEST_F(ScanningWindowOcr, WithoutTheProgramTheErrorNamesItAndNoWindowShows) {
  form_.ImageScrollBox().AssignGraphic(&letter_);
  try {
    form_.MainMenu()["OCR1"].Click();
    FAIL() << "no error";
  } catch (const ELumetraError& e) {
    EXPECT_STREQ(e.what(), "Unable to execute program, gocr039.exe");
  }
  EXPECT_EQ(::FindWindowA(nullptr, "OCR Results"), nullptr);
  EXPECT_TRUE(temp_.Files().empty());
}

// The virtual scanner scans the letter from a folder through Wine's TWAIN
// manager into the window's document.
TEST_F(ScanningWindowOcr, AScannedLetterShowsItsWordsInTheResultWindow) {
  const fs::path feed = temp_.Path() / "feed";
  fs::create_directories(feed);
  TBitmapGraphic bmp;
  bmp.Assign(&letter_);
  bmp.SaveToFile((feed / "letter.bmp").string());
  const fs::path settings = temp_.Path() / "scanner.txt";
  std::ofstream(settings) << "folder = " << feed.string() << "\n";
  TEnvironment scanner("QUORVEX_VSCAN_SETTINGS", settings.string());
  PutLauncherOnPath();
  form_.DocumentFileName = (temp_.Path() / "letter.tif").string();
  // A scanner that cannot be had says so in a box: answered, it fails the
  // test instead of hanging it.
  std::string message;
  qvtest::Robot box("Quorvex", [&](HWND window) {
    message = qvtest::MessageText(window);
    qvtest::PressButton(window, "OK");
  });
  form_.ScanMenuClick(nullptr);
  ASSERT_FALSE(box.Found()) << message;
  ASSERT_NE(form_.ImageScrollBox().Graphic(), nullptr);
  ASSERT_EQ(form_.ImageScrollBox().Graphic()->Width(), letter_.Width());
  ExpectTheLetter(RunOcr());
}

}  // namespace
}  // namespace quorvex::scanwindow
