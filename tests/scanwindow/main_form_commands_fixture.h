// What the scanning window's command tests share: the window showing page 2
// of a two-page true-colour document, with a robot answering its dialogs,
// and the bytes of files and images to compare.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "formats/registry.h"
#include "platform/platform.h"
#include "scanwindow/scan_document.h"
#include "scanwindow/win32/main_form.h"
#include "support/test_images.h"
#include "support/ui_robot.h"

namespace quorvex::scanwindow::commands_test {

using namespace lumetra;
namespace fs = std::filesystem;

inline std::vector<char> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every byte of every row, with the size and format.
inline std::vector<std::uint8_t> ImageBytes(const TDibGraphic& image) {
  std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(image.ImageFormat())};
  for (int v : {image.Width(), image.Height()})
    bytes.insert(bytes.end(), {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)});
  for (int y = 0; y < image.Height(); ++y)
    bytes.insert(bytes.end(), image.ScanLine(y), image.ScanLine(y) + image.RowStride());
  return bytes;
}

// The window showing page 2 of a two-page true-colour document.
class WindowCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(platform::TempDirectory()) /
           ("qv_commands_" +
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    document_ = (dir_ / "doc.tif").string();
    WriteDocument(document_, 2);
    form_.DocumentFileName = document_;
    form_.Show();
    form_.ShowDocument();
  }
  void TearDown() override {
    form_.Hide();
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  // Pages of 40 x 30 true-colour pattern, page n shifted by n, kept
  // losslessly.
  void WriteDocument(const std::string& path, int pages) {
    TFileStream stream(path, fmCreate);
    TTiffGraphic page;
    for (int n = 1; n <= pages; ++n) {
      lumetra::testing::MakePattern(page, ifTrueColor, 40 + n, 30);
      page.SetCompression(tcLZW);
      if (n == 1)
        page.SaveToStream(stream);
      else
        page.AppendToStream(stream);
      stream.Seek(0, soBeginning);
    }
  }

  // As a click on the item does.
  void Command(const char* item) {
    ::SendMessageA(form_.Handle(), WM_COMMAND, MAKEWPARAM(form_.MainMenu()[item].Command(), 0), 0);
  }
  // The item's short-cut typed into the window: Ctrl held, the key pressed.
  void CtrlKey(char key) {
    BYTE keys[256];
    ::GetKeyboardState(keys);
    keys[VK_CONTROL] = 0x80;
    ::SetKeyboardState(keys);
    ::PostMessageA(form_.Handle(), WM_KEYDOWN, static_cast<WPARAM>(key), 1);
    Idle();
    keys[VK_CONTROL] = 0;
    ::SetKeyboardState(keys);
  }
  // Handles what is queued, then once more with an empty queue: the idle
  // handlers (command enabling) run only then.
  void Idle() {
    MSG msg;
    for (int i = 0; i < 1000 && ::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE); ++i)
      ui::Application().HandleMessage();
    ui::Application().HandleMessage();
  }
  bool Enabled(const char* item) { return form_.MainMenu()[item].Enabled(); }
  TImageScrollBox& Viewer() { return form_.ImageScrollBox(); }
  const TDibGraphic& Shown() { return *Viewer().Graphic(); }

  // A file dialog answered with Path (OK).
  static std::function<void(HWND)> Choose(const std::string& path) {
    return [path](HWND dialog) {
      // The file name box is the dialog's only edit.
      ::SendMessageA(qvtest::FindControl(dialog, "Edit"), WM_SETTEXT, 0,
                     reinterpret_cast<LPARAM>(path.c_str()));
      ::PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    };
  }
  // Runs Item while the robot waits for Caption; answers the text of the
  // window found when it is a message box.
  std::string CommandAnswered(const char* item, const char* caption,
                              std::function<void(HWND)> act) {
    std::string text;
    qvtest::Robot robot(caption, [&](HWND w) {
      text = qvtest::MessageText(w);
      act(w);
    });
    Command(item);
    EXPECT_TRUE(robot.Found()) << item << ": no window " << caption;
    return text;
  }
  static void Press(HWND w, const char* button) { qvtest::PressButton(w, button); }

  fs::path dir_;
  std::string document_;
  TfrmMain form_;
};

}  // namespace quorvex::scanwindow::commands_test
