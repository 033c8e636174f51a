// The scanning window's commands without a scanner: the document it is
// given, the page and zoom boxes, Delete Page, the image menu with undo,
// Accept enabling and the save prompt.
#include "scanwindow/win32/main_form.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "platform/platform.h"
#include "scanwindow/scan_document.h"
#include "imaging/win32/clipboard.h"
#include "support/test_images.h"
#include "support/ui_robot.h"

namespace quorvex::scanwindow {
namespace {

using namespace lumetra;

class MainFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::path(platform::TempDirectory()) /
           ("qv_main_form_" +
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::create_directories(dir_);
    form_.Show();
  }
  void TearDown() override {
    form_.Hide();
    std::filesystem::remove_all(dir_);
  }

  // A document of black-and-white pages told apart by their widths.
  std::string Document(const char* name, std::initializer_list<int> widths) {
    const std::string path = (dir_ / name).string();
    TFileStream stream(path, fmCreate);
    TTiffGraphic encoder;
    TScanContext context{1, &encoder, &stream, 0};
    for (int width : widths) {
      encoder.NewImage(width, 30, ifBlackWhite, nullptr, 0, 0);
      encoder.Fill(0xFFFFFF);
      WriteScannedPage(context, 100, 100);
      ++context.pages;
    }
    return path;
  }

  std::vector<int> Widths(const std::string& path) {
    TFileStream stream(path, fmOpenRead);
    TTiffGraphic page;
    std::vector<int> widths;
    const int count = page.GetImageCount(stream);
    for (int i = 1; i <= count; ++i) {
      stream.Seek(0, soBeginning);
      page.LoadImageFromStream(stream, i);
      widths.push_back(page.Width());
    }
    return widths;
  }

  // Lets the window's idle processing run.
  // Handles what is queued, then once more with an empty queue: the idle
  // handlers run only then.
  void Idle() {
    MSG msg;
    for (int i = 0; i < 1000 && PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE); ++i)
      ui::Application().HandleMessage();
    ui::Application().HandleMessage();
  }

  TImageScrollBox& Viewer() { return form_.ImageScrollBox(); }

  std::filesystem::path dir_;
  TfrmMain form_;
};

TEST_F(MainFormTest, ShowsTheDocumentItIsGivenOrNothing) {
  const std::string b = Document("b.tif", {110, 120, 130});
  form_.DocumentFileName = b;
  form_.ShowDocument();
  EXPECT_EQ(Viewer().PageCount(), 3);
  EXPECT_EQ(Viewer().CurrentPage(), 3);
  EXPECT_EQ(Viewer().Graphic()->Width(), 130);
  EXPECT_EQ(form_.PageEdit().Text(), "3");
  EXPECT_EQ(form_.Caption(), b);
  Idle();
  EXPECT_TRUE(form_.AcceptButton().Enabled());

  // A document that does not exist yet: nothing to show, nothing to accept.
  form_.DocumentFileName = (dir_ / "new.tif").string();
  form_.ShowDocument();
  EXPECT_TRUE(Viewer().Graphic()->Empty());
  EXPECT_EQ(form_.PageEdit().Text(), "1");
  EXPECT_EQ(form_.Caption(), "Quorvex - scanning utility");
  Idle();
  EXPECT_FALSE(form_.AcceptButton().Enabled());
}

TEST_F(MainFormTest, PageBoxAndDeletePageWorkOnThePageShown) {
  const std::string doc = Document("doc.tif", {110, 120, 130, 140});
  form_.DocumentFileName = doc;
  form_.ShowDocument();
  form_.PageEdit().SetText("1,2");  // page 12 does not exist: ignored
  EXPECT_EQ(Viewer().CurrentPage(), 4);
  form_.PageEdit().SetText("2");
  EXPECT_EQ(Viewer().CurrentPage(), 2);
  EXPECT_EQ(Viewer().Graphic()->Width(), 120);
  form_.DeletePageBtnClick(nullptr);
  EXPECT_EQ(Widths(doc), (std::vector<int>{110, 130, 140}));
  EXPECT_EQ(Viewer().PageCount(), 3);
  EXPECT_EQ(Viewer().Graphic()->Width(), 140);
  EXPECT_EQ(form_.PageEdit().Text(), "3");
}

TEST_F(MainFormTest, ZoomBoxSetsThePercentAndAnythingElseGives100) {
  form_.DocumentFileName = Document("zoom.tif", {200});
  form_.ShowDocument();
  form_.ZoomEdit().SetText("250");
  EXPECT_EQ(Viewer().ZoomPercent(), 250);
  EXPECT_EQ(Viewer().ZoomMode(), zmPercent);
  form_.ZoomEdit().SetText("abc");
  EXPECT_EQ(Viewer().ZoomPercent(), 100);
}

TEST_F(MainFormTest, ImageMenuEditsThePageAndUndoBringsItBack) {
  form_.DocumentFileName = Document("edit.tif", {200});
  form_.ShowDocument();
  form_.MainMenu()["Rotate90Menu"].Click();
  EXPECT_EQ(Viewer().Graphic()->Width(), 30);
  EXPECT_EQ(Viewer().Graphic()->Height(), 200);
  Idle();
  EXPECT_TRUE(form_.MainMenu()["UndoMenu"].Enabled());
  form_.MainMenu()["UndoMenu"].Click();
  EXPECT_EQ(Viewer().Graphic()->Width(), 200);
  Idle();
  EXPECT_FALSE(form_.MainMenu()["UndoMenu"].Enabled());
}

TEST_F(MainFormTest, AnEditedImageWithoutADocumentNameAsksToBeSaved) {
  TDibGraphic page;
  page.NewImage(60, 40, ifBlackWhite, nullptr, 0, 0);
  Viewer().AssignGraphic(&page);
  form_.MainMenu()["FlipHorizontalMenu"].Click();
  // Cancel keeps the window open; No closes it without saving.
  for (const int answer : {IDCANCEL, IDNO}) {
    qvtest::Robot person("Quorvex",
                         [answer](HWND box) { ::PostMessageA(box, WM_COMMAND, answer, 0); });
    form_.ExitMenuClick(nullptr);
    EXPECT_TRUE(person.Found());
    EXPECT_EQ(form_.Visible(), answer == IDCANCEL);
  }
  EXPECT_EQ(form_.AcceptFlag(), 0);
}

TEST_F(MainFormTest, SelectionCommandsWorkOnABandDrawnWithTheMouse) {
  using lumetra::testing::CropPixels;
  using lumetra::testing::SameImage;
  ui::TMainMenu& menu = form_.MainMenu();
  const char* const modes[] = {"DragMenu", "QuickSelectMenu", "SelectMenu"};
  for (int m = 2; m >= 0; --m) {
    menu[modes[m]].Click();
    EXPECT_EQ(Viewer().MouseMode(), static_cast<TMouseMode>(m));
    for (int other = 0; other < 3; ++other) EXPECT_EQ(menu[modes[other]].Checked(), other == m);
  }
  menu["SelectMenu"].Click();

  TDibGraphic page;
  lumetra::testing::MakePattern(page, ifTrueColor, 400, 300);
  Viewer().AssignGraphic(&page);
  const HWND image = Viewer().Image().Handle();
  auto band = [&](int x1, int y1, int x2, int y2) {
    ::PostMessageA(image, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x1, y1));
    ::PostMessageA(image, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x2, y2));
    ::PostMessageA(image, WM_LBUTTONUP, 0, MAKELPARAM(x2, y2));
    Idle();
  };
  // At 37 % the page is 148 x 111 on screen (and centred in the window).
  form_.ZoomEdit().SetText("37");
  band(10, 20, 100, 90);
  menu["CopySelectionMenu"].Click();
  TDibGraphic copied;
  PasteFromClipboard(copied);
  EXPECT_TRUE(SameImage(copied, *CropPixels(page, {27, 54, 270, 243})));
  menu["CroptoSelectionMenu"].Click();
  EXPECT_TRUE(SameImage(*Viewer().Graphic(), *CropPixels(page, {27, 54, 270, 243})));
  menu["UndoMenu"].Click();
  EXPECT_TRUE(SameImage(*Viewer().Graphic(), page));

  // The clipboard's image pasted into a band of its own size at 100 %.
  form_.ZoomEdit().SetText("100");
  band(100, 50, 100 + copied.Width(), 50 + copied.Height());
  menu["PasteIntoSelectionMenu"].Click();
  EXPECT_TRUE(SameImage(*CropPixels(*Viewer().Graphic(), {100, 50, 100 + copied.Width(),
                                                          50 + copied.Height()}),
                        copied));
  menu["UndoMenu"].Click();
  EXPECT_TRUE(SameImage(*Viewer().Graphic(), page));
}

}  // namespace
}  // namespace quorvex::scanwindow
