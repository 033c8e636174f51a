// Every command of the scanning window as a person gives it: a WM_COMMAND
// with the menu item's id (what a click sends) or the item's short-cut,
// with a robot answering the dialogs, checked on the viewer's image and on
// the files written.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <thread>
#include <vector>

#include "formats/registry.h"
#include "imaging/win32/clipboard.h"
#include "platform/platform.h"
#include "scanwindow/scan_document.h"
#include "scanwindow/win32/main_form.h"
#include "support/test_images.h"
#include "support/ui_robot.h"
#include "transforms/convolution_transforms.h"
#include "transforms/format_transform.h"
#include "transforms/geometric_transforms.h"
#include "transforms/point_transforms.h"
#include "transforms/resize_transform.h"

namespace quorvex::scanwindow {
namespace {

using namespace lumetra;
namespace fs = std::filesystem;

using TMake = std::function<std::unique_ptr<TImageTransform>()>;

template <class T>
TMake Plain() {
  return [] { return std::unique_ptr<TImageTransform>(std::make_unique<T>()); };
}

TMake Rotation(double angle, bool blackBack) {
  return [=] {
    auto t = std::make_unique<TRotateTransform>();
    t->SetAngle(angle);
    if (blackBack) t->SetBackColor(0x000000);
    return std::unique_ptr<TImageTransform>(std::move(t));
  };
}

std::vector<char> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every byte of every row, with the size and format.
std::vector<std::uint8_t> ImageBytes(const TDibGraphic& image) {
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

// --- the image menu ---------------------------------------------------------------

struct EditCase {
  EditCase(const char* name, const char* item, TMake expected, const char* dialog = nullptr,
           std::function<void(HWND)> answer = {})
      : name(name), item(item), expected(std::move(expected)), dialog(dialog),
        answer(std::move(answer)) {}
  const char* name;
  const char* item;
  TMake expected;      // the transform the command must apply
  const char* dialog;  // the dialog the command asks in
  std::function<void(HWND)> answer;
};

void PrintTo(const EditCase& c, std::ostream* os) { *os << c.name; }

class ImageCommand : public WindowCommands, public ::testing::WithParamInterface<EditCase> {};

std::function<void(HWND)> TypeAndOk(const char* text) {
  return [text](HWND w) {
    qvtest::TypeInto(w, 0, text);
    qvtest::PressButton(w, "OK");
  };
}

TEST_P(ImageCommand, EditsTheShownPageOnlyAndUndoRestoresItByteForByte) {
  const EditCase& c = GetParam();
  Idle();
  ASSERT_TRUE(Enabled(c.item));
  EXPECT_FALSE(Enabled("UndoMenu"));
  const std::vector<std::uint8_t> before = ImageBytes(Shown());
  const std::vector<char> fileBefore = FileBytes(document_);
  TDibGraphic original;
  original.Assign(&Shown());

  if (c.dialog) {
    qvtest::Robot robot(c.dialog, c.answer);
    Command(c.item);
    EXPECT_TRUE(robot.Found());
  } else {
    Command(c.item);
  }
  TDibGraphic expected;
  std::unique_ptr<TImageTransform> transform = c.expected();
  transform->ApplyOnDest(original, expected);
  EXPECT_TRUE(lumetra::testing::SameImage(Shown(), expected));
  EXPECT_NE(ImageBytes(Shown()), before);
  // The edit is the viewer's: the document on disk is as it was, and the
  // window still shows its page 2 of 2.
  EXPECT_EQ(FileBytes(document_), fileBefore);
  EXPECT_EQ(Viewer().PageCount(), 2);
  EXPECT_EQ(Viewer().CurrentPage(), 2);

  Idle();
  ASSERT_TRUE(Enabled("UndoMenu"));
  CtrlKey('Z');
  EXPECT_EQ(ImageBytes(Shown()), before);
  EXPECT_EQ(Viewer().PageCount(), 2);
  form_.PageEdit().SetText("1");  // the document can still be paged
  EXPECT_EQ(Shown().Width(), 41);
  Idle();
  EXPECT_FALSE(Enabled("UndoMenu"));
}

INSTANTIATE_TEST_SUITE_P(
    Commands, ImageCommand,
    ::testing::Values(
        EditCase{"Rotate90", "Rotate90Menu", Rotation(90, false)},
        EditCase{"Rotate180", "Rotate180Menu", Rotation(180, false)},
        EditCase{"Rotate270", "Rotate270Menu", Rotation(270, false)},
        EditCase{"RotateArbitrary", "RotateArbitraryMenu", Rotation(30, true), "Rotate",
                 TypeAndOk("30")},
        EditCase{"FlipHorizontal", "FlipHorizontalMenu", Plain<TFlipHorizontalTransform>()},
        EditCase{"FlipVertical", "FlipVerticalMenu", Plain<TFlipVerticalTransform>()},
        EditCase{"Negative", "NegativeMenu", Plain<TNegativeTransform>()},
        EditCase{"Sharpen", "SharpenMenu", Plain<TSharpenTransform>()},
        EditCase{"Smooth", "SmoothMenu", Plain<TSmoothTransform>()},
        EditCase{"EdgeDetection", "EdgeDetectionMenu", Plain<TEdgeTransform>()},
        EditCase{"Emboss", "EmbossMenu", Plain<TEmbossTransform>()},
        EditCase{"BrightnessUp", "IncreassBrightnessMenu",
                 [] {
                   auto t = std::make_unique<TBrightnessTransform>();
                   t->SetAmount(3);
                   return std::unique_ptr<TImageTransform>(std::move(t));
                 }},
        EditCase{"BrightnessDown", "DecreaseBrightnessMenu",
                 [] {
                   auto t = std::make_unique<TBrightnessTransform>();
                   t->SetAmount(-3);
                   return std::unique_ptr<TImageTransform>(std::move(t));
                 }},
        EditCase{"ContrastUp", "IncreaseContrastMenu",
                 [] {
                   auto t = std::make_unique<TContrastTransform>();
                   t->SetIncreaseContrast(true);
                   return std::unique_ptr<TImageTransform>(std::move(t));
                 }},
        EditCase{"ContrastDown", "DecreaseContrastMenu",
                 [] {
                   auto t = std::make_unique<TContrastTransform>();
                   t->SetIncreaseContrast(false);
                   return std::unique_ptr<TImageTransform>(std::move(t));
                 }},
        EditCase{"Gamma", "GammaMenu",
                 [] {
                   auto t = std::make_unique<TGammaTransform>();
                   t->SetGammaValue(2.2);
                   return std::unique_ptr<TImageTransform>(std::move(t));
                 },
                 "Gamma", TypeAndOk("2.2")},
        EditCase{"ConvertToGray", "ConvertToGrayMenu", Plain<TConvertToGrayTransform>()},
        EditCase{"Resize", "ResizeMenu",
                 [] {
                   auto t = std::make_unique<TResizeTransform>();
                   t->SetNewWidth(50);
                   t->SetNewHeight(40);
                   return std::unique_ptr<TImageTransform>(std::move(t));
                 },
                 "Resize",
                 [](HWND w) {
                   qvtest::TypeInto(w, 0, "50");
                   qvtest::TypeInto(w, 1, "40");
                   qvtest::PressButton(w, "OK");
                 }},
        EditCase{"Crop", "CropMenu",
                 [] {
                   auto t = std::make_unique<TCropTransform>();
                   t->SetCropLeft(2);
                   t->SetCropTop(3);
                   t->SetCropRight(4);
                   t->SetCropBottom(5);
                   return std::unique_ptr<TImageTransform>(std::move(t));
                 },
                 "Crop",
                 [](HWND w) {
                   const char* margins[] = {"2", "3", "4", "5"};
                   for (int i = 0; i < 4; ++i) qvtest::TypeInto(w, i, margins[i]);
                   qvtest::PressButton(w, "OK");
                 }},
        EditCase{"FormatConversion", "FormatConversionMenu",
                 [] {
                   auto t = std::make_unique<TImageFormatTransform>();
                   t->SetTargetFormat(ifGray256);
                   t->SetQuantize(false);  // the dialog's boxes start clear
                   t->SetDither(false);
                   return std::unique_ptr<TImageTransform>(std::move(t));
                 },
                 "Format Conversion",
                 [](HWND w) {
                   qvtest::ClickControl(w, "256 S&hades of Gray");
                   qvtest::PressButton(w, "OK");
                 }}),
    [](const ::testing::TestParamInfo<EditCase>& info) { return info.param.name; });

TEST_F(WindowCommands, ImageCommandsWaitForAnImageAndTypedNumbersAreChecked) {
  // Every item of the Image menu, and the file commands that write the
  // image, wait for one; without it they are disabled and do nothing.
  std::vector<const ui::TMenuItem*> needImage;
  const std::function<void(const ui::TMenuItem&)> collect = [&](const ui::TMenuItem& parent) {
    for (int i = 0; i < parent.Count(); ++i) {
      needImage.push_back(&parent.Items(i));
      collect(parent.Items(i));
    }
  };
  collect(form_.MainMenu()["ImageMenu"]);
  for (const char* item :
       {"SaveMenu", "SaveAsMenu", "AppendtoTIFFMenu", "AppendtoDCXMenu", "CopyMenu"})
    needImage.push_back(&form_.MainMenu()[item]);
  form_.DocumentFileName.clear();
  Viewer().ClearGraphic();
  Idle();
  for (const ui::TMenuItem* item : needImage) EXPECT_FALSE(item->Enabled()) << item->Name();
  Command("NegativeMenu");
  EXPECT_TRUE(Shown().Empty());

  form_.DocumentFileName = document_;
  form_.ShowDocument();
  Idle();
  for (const ui::TMenuItem* item : needImage) EXPECT_TRUE(item->Enabled()) << item->Name();
  const std::vector<std::uint8_t> shown = ImageBytes(Shown());
  Command("Rotate90Menu");
  // A bad angle is reported and leaves the image and the undo image alone;
  // Cancel in the gamma box too.
  qvtest::Robot error("Quorvex", [](HWND w) {
    EXPECT_EQ(qvtest::MessageText(w), "'abc' is not a valid floating point value");
    qvtest::PressButton(w, "OK");
  });
  CommandAnswered("RotateArbitraryMenu", "Rotate", TypeAndOk("abc"));
  EXPECT_TRUE(error.Found());
  CommandAnswered("GammaMenu", "Gamma", [](HWND w) { qvtest::PressButton(w, "Cancel"); });
  EXPECT_EQ(Shown().Width(), 30);
  Idle();
  Command("UndoMenu");
  EXPECT_EQ(ImageBytes(Shown()), shown);
}

TEST_F(WindowCommands, UndoOfACropToSelectionKeepsThePageOfItsDocument) {
  Command("SelectMenu");
  form_.ZoomEdit().SetText("100");
  const std::vector<std::uint8_t> before = ImageBytes(Shown());
  const HWND image = Viewer().Image().Handle();
  ::PostMessageA(image, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  ::PostMessageA(image, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(25, 20));
  ::PostMessageA(image, WM_LBUTTONUP, 0, MAKELPARAM(25, 20));
  Idle();
  Command("CroptoSelectionMenu");
  ASSERT_EQ(Shown().Width(), 20);
  Idle();
  Command("UndoMenu");
  EXPECT_EQ(ImageBytes(Shown()), before);
  EXPECT_EQ(Viewer().PageCount(), 2);
}

// --- file commands -----------------------------------------------------------------

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
