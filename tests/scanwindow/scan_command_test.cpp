// Scan given from the scanning window's menu, as a click on the item does,
// with the virtual scanner answering through the TWAIN manager: the batch
// replaces the window's document and is what the viewer shows.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "formats/tiff_graphic.h"
#include "platform/platform.h"
#include "scanwindow/win32/main_form.h"
#include "support/ui_robot.h"

namespace quorvex::scanwindow {
namespace {

using namespace lumetra;
namespace fs = std::filesystem;

class ScanCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(platform::TempDirectory()) / "qv_scan_command";
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    const std::string settings = (dir_ / "scanner.txt").string();
    std::ofstream(settings) << "pages = 2\n";
    ::SetEnvironmentVariableA("QUORVEX_VSCAN_SETTINGS", settings.c_str());
  }
  void TearDown() override {
    form_.Hide();
    ::SetEnvironmentVariableA("QUORVEX_VSCAN_SETTINGS", nullptr);
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  void Command(const char* item) {
    ::SendMessageA(form_.Handle(), WM_COMMAND, MAKEWPARAM(form_.MainMenu()[item].Command(), 0), 0);
  }

  fs::path dir_;
  TfrmMain form_;
};

TEST_F(ScanCommand, TheBatchReplacesTheDocumentAtTheWindowsResolutionAndFormat) {
  // A document of one page that the scan replaces.
  const std::string document = (dir_ / "doc.tif").string();
  {
    TTiffGraphic old;
    old.NewImage(64, 48, ifBlackWhite, nullptr, 200, 200);
    old.SaveToFile(document);
  }
  form_.DocumentFileName = document;
  form_.ShowDialog = false;
  // Unlike the window's defaults, so that a setting not handed over shows.
  form_.XDpi = 100;
  form_.YDpi = 150;
  form_.ImageFormat = ifGray256;
  form_.Show();
  form_.ShowDocument();
  ASSERT_EQ(form_.ImageScrollBox().Graphic()->Width(), 64);

  // A scanner that cannot be had says so in a box: answered, it fails the
  // test instead of hanging it.
  std::string message;
  qvtest::Robot box("Quorvex", [&](HWND window) {
    message = qvtest::MessageText(window);
    qvtest::PressButton(window, "OK");
  });
  Command("ScanMenu");
  ASSERT_FALSE(box.Found()) << message;

  // A4 at 100 x 150 dpi, both pages; the viewer shows the last.
  constexpr int kWidth = 827, kHeight = 1754;
  TImageScrollBox& viewer = form_.ImageScrollBox();
  ASSERT_NE(viewer.Graphic(), nullptr);
  EXPECT_EQ(viewer.PageCount(), 2);
  EXPECT_EQ(viewer.CurrentPage(), 2);
  EXPECT_EQ(viewer.Graphic()->Width(), kWidth);
  EXPECT_EQ(viewer.Graphic()->Height(), kHeight);
  EXPECT_EQ(viewer.Graphic()->ImageFormat(), ifGray256);
  EXPECT_EQ(form_.PageEdit().Text(), "2");
  EXPECT_EQ(form_.StatusBar().PanelText(0), "2 pages scanned");
  EXPECT_EQ(form_.Caption(), document);

  TFileStream stream(document, fmOpenRead);
  TTiffPageReader reader(stream);
  ASSERT_EQ(reader.Count(), 2);
  for (int page = 1; page <= 2; ++page) {
    TTiffGraphic stored;
    reader.Read(page, stored);
    EXPECT_EQ(stored.Width(), kWidth) << page;
    EXPECT_EQ(stored.Height(), kHeight) << page;
    EXPECT_EQ(stored.ImageFormat(), ifGray256) << page;
    EXPECT_EQ(stored.XDpi(), 100) << page;
    EXPECT_EQ(stored.YDpi(), 150) << page;
  }
  // The scanned document is one Accept can hand back (the idle enabling
  // runs once the queue is empty).
  MSG msg;
  for (int i = 0; i < 1000 && ::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE); ++i)
    ui::Application().HandleMessage();
  ui::Application().HandleMessage();
  EXPECT_TRUE(form_.AcceptButton().Enabled());
}

}  // namespace
}  // namespace quorvex::scanwindow
