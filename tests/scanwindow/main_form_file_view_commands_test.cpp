// The scanning window's file, view, help and leaving commands as a person
// gives them, checked on the files written, the clipboard, the viewer and
// the dialogs they open; long commands show progress and a busy cursor.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "imaging/win32/clipboard.h"
#include "main_form_commands_fixture.h"
#include "support/scan_robot.h"
#include "support/ui_robot.h"

namespace quorvex::scanwindow {
namespace {

using namespace lumetra;
namespace fs = std::filesystem;
using namespace commands_test;  // the window fixture and byte comparisons

TEST_F(WindowCommands, FileCommandsWriteWhatTheViewerShows) {
  Idle();
  const std::string bmp = (dir_ / "page.bmp").string();
  // Save As: the chosen format, the page as shown, the caption following.
  CommandAnswered("SaveAsMenu", "Save As", Choose(bmp));
  {
    auto saved = CreateGraphicForFile(bmp);
    saved->LoadFromFile(bmp);
    EXPECT_TRUE(lumetra::testing::SameImage(*saved, Shown()));
    EXPECT_EQ(std::string(saved->ClassName()), "TBitmapGraphic");
  }
  EXPECT_EQ(form_.Caption(), bmp);
  // The window shows what the file holds: that page alone.
  EXPECT_EQ(Shown().Width(), 42);
  EXPECT_LE(Viewer().PageCount(), 1);
  Idle();

  // A name without an extension is refused and nothing is written.
  const std::string bare = (dir_ / "page").string();
  qvtest::Robot refusal("Quorvex", [](HWND w) {
    EXPECT_EQ(qvtest::MessageText(w), "An extension must be specifed to indicate\r the file format.");
    qvtest::PressButton(w, "OK");
  });
  CommandAnswered("SaveAsMenu", "Save As", Choose(bare));
  EXPECT_TRUE(refusal.Found());
  EXPECT_FALSE(fs::exists(bare));

  // An existing file is kept unless the overwrite question is answered Yes.
  Command("NegativeMenu");
  const std::vector<char> kept = FileBytes(bmp);
  qvtest::Robot no("Quorvex", [&](HWND w) {
    EXPECT_EQ(qvtest::MessageText(w), "File " + bmp + " exists.\r Overwrite ?");
    qvtest::PressButton(w, "&No");
  });
  CommandAnswered("SaveAsMenu", "Save As", Choose(bmp));
  EXPECT_TRUE(no.Found());
  EXPECT_EQ(FileBytes(bmp), kept);
  // Save (its short-cut) writes to the name chosen, without a question.
  CtrlKey('S');
  {
    auto saved = CreateGraphicForFile(bmp);
    saved->LoadFromFile(bmp);
    EXPECT_TRUE(lumetra::testing::SameImage(*saved, Shown()));
  }

  // Append to TIFF and to DCX: the shown page becomes the file's last page.
  const std::string tiff = (dir_ / "other.tif").string();
  WriteDocument(tiff, 2);
  CommandAnswered("AppendtoTIFFMenu", "Append image to TIFF file", Choose(tiff));
  EXPECT_EQ(Viewer().GetPageCount(tiff), 3);
  EXPECT_EQ(form_.PageEdit().Text(), "3");
  EXPECT_EQ(form_.Caption(), tiff);
  const std::string dcx = (dir_ / "fax.dcx").string();
  {
    auto first = CreateGraphicForFile(dcx);
    first->NewImage(64, 32, ifBlackWhite, nullptr, 200, 200);
    TFileStream stream(dcx, fmCreate);
    first->SaveToStream(stream);
  }
  Idle();
  CommandAnswered("AppendtoDCXMenu", "Append image to DCX file", Choose(dcx));
  EXPECT_EQ(Viewer().GetPageCount(dcx), 2);

  // Open: any registered picture format, here a bitmap.
  CommandAnswered("OpenMenu", "Open", Choose(bmp));
  EXPECT_EQ(form_.Caption(), bmp);
  EXPECT_EQ(Shown().Width(), 42);
  EXPECT_LE(Viewer().PageCount(), 1);
}

// The Open dialog reads ahead the picture the user rests on. Cancelled, it
// leaves nothing a later load of that name could take (the file may have
// changed by then: the host's document is rewritten by every scan).
TEST_F(WindowCommands, OpenReadsAheadAndCancelledLeavesNoReadAhead) {
  const std::string picture = (dir_ / "rested.tif").string();
  WriteDocument(picture, 1);
  Idle();
  bool picked = false, readAhead = false;
  std::string reason;
  CommandAnswered("OpenMenu", "Open", [&](HWND dialog) {
    picked = quorvex::robot::PickFile(dialog, picture, reason);
    for (int i = 0; i < 500 && !readAhead; ++i, ::Sleep(10)) readAhead = Viewer().ReadAheadReady();
    Press(dialog, "Cancel");
  });
  EXPECT_TRUE(picked) << reason;
  EXPECT_TRUE(readAhead) << "the picture rested on was not read ahead";
  EXPECT_EQ(Viewer().ReadAheadFileName(), "");
  EXPECT_FALSE(Viewer().ReadAheadReady());
}

TEST_F(WindowCommands, CopyAndPasteNewImageGoThroughTheClipboard) {
  Idle();
  TDibGraphic page;
  page.Assign(&Shown());
  CtrlKey('C');
  ASSERT_TRUE(ClipboardHasImage());
  Command("Rotate90Menu");
  Idle();
  ASSERT_TRUE(Enabled("PasteMenu"));
  Command("PasteMenu");
  EXPECT_TRUE(lumetra::testing::SameImage(Shown(), page));
  // Undo brings back what the paste replaced: the rotated page.
  Command("UndoMenu");
  EXPECT_EQ(Shown().Width(), 30);
  EXPECT_EQ(Shown().Height(), 42);
}

// --- long commands -------------------------------------------------------------------

// What the status bar showed each time it painted on this thread, with the
// cursor of that moment: the window processes no messages while a command
// runs, so only what paints then is what a person sees.
class TStatusWatch {
 public:
  struct TSight {
    std::string text;
    bool busy;
  };
  explicit TStatusWatch(ui::TStatusBar& bar) : bar_(bar) {
    watch_ = this;
    hook_ = ::SetWindowsHookExA(WH_CALLWNDPROCRET, Painted, nullptr, ::GetCurrentThreadId());
  }
  ~TStatusWatch() {
    ::UnhookWindowsHookEx(hook_);
    watch_ = nullptr;
  }
  TStatusWatch(const TStatusWatch&) = delete;
  TStatusWatch& operator=(const TStatusWatch&) = delete;
  const std::vector<TSight>& Seen() const { return seen_; }

  static bool Busy() { return ::GetCursor() == ::LoadCursor(nullptr, IDC_WAIT); }

 private:
  static LRESULT CALLBACK Painted(int code, WPARAM wParam, LPARAM lParam) {
    const auto* message = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    if (code == HC_ACTION && watch_ && message->message == WM_PAINT &&
        message->hwnd == watch_->bar_.Handle())
      watch_->seen_.push_back({watch_->bar_.PanelText(0), Busy()});
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
  }
  static inline TStatusWatch* watch_ = nullptr;
  ui::TStatusBar& bar_;
  HHOOK hook_;
  std::vector<TSight> seen_;
};

TEST_F(WindowCommands, LongCommandsShowTheirProgressAndTheBusyCursorUntilDone) {
  Idle();
  const std::string before = form_.StatusBar().PanelText(0);
  const auto run = [&](const char* item, const std::string& label,
                       const std::function<void()>& give) {
    std::vector<TStatusWatch::TSight> seen;
    {
      TStatusWatch watch(form_.StatusBar());
      give();
      seen = watch.Seen();
    }
    SCOPED_TRACE(item);
    ASSERT_FALSE(seen.empty()) << "the status bar never painted";
    bool progressed = false;
    for (const TStatusWatch::TSight& sight : seen) {
      if (sight.text.rfind(label + " ...", 0) != 0) continue;
      EXPECT_TRUE(sight.busy) << sight.text;
      progressed = progressed || sight.text.ends_with("%");
    }
    EXPECT_EQ(seen.front().text, label + " ...");
    EXPECT_TRUE(progressed) << "no percentage shown";
    // Done: the bar says what it said before and the cursor is the arrow.
    EXPECT_EQ(form_.StatusBar().PanelText(0), before);
    EXPECT_FALSE(TStatusWatch::Busy());
  };
  run("Rotate90Menu", "Rotate 90 Degrees", [&] { Command("Rotate90Menu"); });
  EXPECT_EQ(Shown().Width(), 30);
  run("OpenMenu", "Opening", [&] { CommandAnswered("OpenMenu", "Open", Choose(document_)); });
  EXPECT_EQ(Shown().Width(), 42);
}

// --- view, help and leaving -----------------------------------------------------------

TEST_F(WindowCommands, ViewCommandsSetTheViewerAndTheirChecks) {
  const std::pair<const char*, TZoomMode> zooms[] = {{"ActualSizeMenu", zmOriginalSize},
                                                     {"FitWidthMenu", zmFitWidth},
                                                     {"FitHeightMenu", zmFitHeight},
                                                     {"FitToPageMenu", zmFitToPage},
                                                     {"FullPageMenu", zmFullPage}};
  for (const auto& [item, mode] : zooms) {
    Command(item);
    EXPECT_EQ(Viewer().ZoomMode(), mode) << item;
  }
  for (const char* item : {"AntiAliasedMenu", "CenteredMenu"}) {
    const bool before = form_.MainMenu()[item].Checked();
    Command(item);
    EXPECT_NE(form_.MainMenu()[item].Checked(), before) << item;
  }
  EXPECT_TRUE(Viewer().AntiAliased());
  EXPECT_FALSE(Viewer().Centered());

  // Animation cycles the pages of the document; a single page does not.
  Command("AnimatedMenu");
  EXPECT_TRUE(Viewer().Animated());
  EXPECT_TRUE(form_.MainMenu()["AnimatedMenu"].Checked());
  Command("AnimatedMenu");
  EXPECT_FALSE(Viewer().Animated());
  TDibGraphic single;
  single.NewImage(10, 10, ifBlackWhite, nullptr, 0, 0);
  Viewer().AssignGraphic(&single);
  Command("AnimatedMenu");
  EXPECT_FALSE(Viewer().Animated());
  EXPECT_FALSE(form_.MainMenu()["AnimatedMenu"].Checked());

  CommandAnswered("AboutMenu", "Quorvex - Info", [](HWND w) { qvtest::PressButton(w, "&Ok"); });
  // The window's extra picture formats are registered.
  for (const char* ext : {"*.BMP", "*.ICO", "*.WMF", "*.EMF"})
    EXPECT_NE(FindGraphicClass(ext), nullptr) << ext;
}

// The first of Captions to show, its message text, and Action done on it.
struct FirstWindow {
  std::string caption, text;
};

FirstWindow AnswerFirstOf(std::vector<std::string> captions, const std::function<void()>& run,
                          const std::function<void(HWND, const std::string&)>& action) {
  FirstWindow found;
  std::thread robot([&] {
    for (int i = 0; i < 1000; ++i) {
      for (const std::string& caption : captions) {
        HWND w = ::FindWindowA(nullptr, caption.c_str());
        if (w && ::IsWindowVisible(w)) {
          found = {caption, qvtest::MessageText(w)};
          action(w, caption);
          return;
        }
      }
      ::Sleep(20);
    }
  });
  run();
  robot.join();
  return found;
}

TEST_F(WindowCommands, PrinterAndScannerCommandsOpenTheirDialogs) {
  // Each command shows its dialog, or the window's word that there is no
  // printer or scanner to set up.
  auto answer = [](HWND w, const std::string& caption) {
    if (caption == "Quorvex")
      qvtest::PressButton(w, "OK");
    else
      ::PostMessageA(w, WM_COMMAND, IDCANCEL, 0);
  };
  FirstWindow shown =
      AnswerFirstOf({"Print Setup", "Quorvex"}, [&] { Command("PrintSetupMenu"); }, answer);
  ASSERT_FALSE(shown.caption.empty()) << "no printer set-up dialog";
  if (shown.caption == "Quorvex") {
    EXPECT_EQ(shown.text, "There is no default printer currently selected");
  }
  shown = AnswerFirstOf({"Select Source", "Quorvex"}, [&] { Command("SelectScannerMenu"); },
                        answer);
  ASSERT_FALSE(shown.caption.empty()) << "no scanner dialog";
  if (shown.caption == "Quorvex") {
    EXPECT_EQ(shown.text, "A scanner is not configured on your computer");
  }
  // Print Options left with Cancel prints nothing and changes nothing.
  const std::vector<std::uint8_t> before = ImageBytes(Shown());
  CommandAnswered("PrintMenu", "Print Options", [](HWND w) { qvtest::PressButton(w, "Cancel"); });
  EXPECT_EQ(ImageBytes(Shown()), before);
  EXPECT_TRUE(form_.Visible());
}

TEST_F(WindowCommands, SaveAndExitAcceptsAndExitCancels) {
  Idle();
  Command("ExitSaveMenu");
  EXPECT_EQ(form_.AcceptFlag(), 1);
  EXPECT_FALSE(form_.Visible());
  form_.Show();
  Command("ExitMenu");
  EXPECT_EQ(form_.AcceptFlag(), 0);
  EXPECT_FALSE(form_.Visible());
}

}  // namespace
}  // namespace quorvex::scanwindow
