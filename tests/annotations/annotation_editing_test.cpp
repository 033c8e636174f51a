// The annotation mode: marks selected, moved, resized and deleted with
// mouse messages posted to the page, edited through the properties
// dialog, and painted at the viewer's zoom (read back from the screen).
#include "annotations/win32/annotation_mouse_handler.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <thread>

#include "annotations/annotation_text.h"
#include "annotations/win32/annotation_property_dialog.h"
#include "formats/tiff_graphic.h"
#include "support/control_bounds.h"
#include "support/ui_robot.h"
#include "ui/form.h"

namespace lumetra {
namespace {

constexpr std::uint32_t kRed = 0xFF0000, kWhite = 0xFFFFFF;

using testing::BoundsOf;

class AnnotationEditing : public ::testing::Test {
 protected:
  AnnotationEditing() : form("Annotation editing test", 600, 400) {
    RegisterAnnotationMode(box);
    box.SetBounds(0, 0, 500, 350);
    page.NewImage(400, 300, ifTrueColor, nullptr, 96, 96);
    page.Fill(kWhite);
    TMark red = NewMark(mkRectangle);
    red.markRect = {40, 30, 140, 90};
    red.color = ColorToGdi(kRed);
    red.highlight = false;
    TMark line = NewMark(mkLine);
    line.markRect = {200, 100, 300, 200};
    marks = {red, line};
    form.Show();
    box.AssignGraphic(&page);
    box.SetAnnotationText(SaveMarksToText(marks));
    box.SetMouseMode(mmAnnotation);
    Pump();
  }
  void Pump() {
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) ui::Application().HandleMessage();
  }
  TAnnotationMouseHandler& Mode() {
    return dynamic_cast<TAnnotationMouseHandler&>(*box.MouseHandler());
  }
  void Click(HWND window, int x, int y) {
    ::PostMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    ::PostMessageA(window, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
    Pump();
  }
  void Drag(HWND window, int x, int y, int dx, int dy) {
    ::PostMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    ::PostMessageA(window, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x + dx / 2, y + dy / 2));
    ::PostMessageA(window, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x + dx, y + dy));
    ::PostMessageA(window, WM_LBUTTONUP, 0, MAKELPARAM(x + dx, y + dy));
    Pump();
  }
  // A right click at (X, Y) of Window, and the Item-th (from 1) entry of
  // the menu that pops up chosen with the keyboard.
  void ChooseFromMenu(HWND window, int x, int y, int item) {
    std::thread chooser([item] {
      for (int i = 0; i < 500; ++i) {
        HWND menu = ::FindWindowA("#32768", nullptr);
        if (menu && ::IsWindowVisible(menu)) {
          for (int k = 0; k < item; ++k) ::PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
          ::PostMessageA(menu, WM_KEYDOWN, VK_RETURN, 0);
          return;
        }
        ::Sleep(10);
      }
    });
    ::SendMessageA(window, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(x, y));
    ::SendMessageA(window, WM_RBUTTONUP, 0, MAKELPARAM(x, y));
    chooser.join();
    Pump();
  }
  // What the screen shows at a pixel of the display copy.
  std::uint32_t Screen(int x, int y) {
    HWND image = box.Image().Handle();
    HDC dc = ::GetDC(image);
    const COLORREF c = ::GetPixel(dc, x, y);
    ::ReleaseDC(image, dc);
    return GdiToColor(c);
  }
  HWND Page() { return box.Image().Handle(); }
  TRect MarkRect(int index) { return Mode().Editor().Marks(index).markRect; }

  ui::TForm form;
  TImageScrollBox box{form};
  TTiffGraphic page;
  std::vector<TMark> marks;
};

TEST_F(AnnotationEditing, TheModeShowsTheMarksAndHandsBackTheirText) {
  EXPECT_EQ(Mode().Editor().Count(), 2);
  EXPECT_EQ(Screen(90, 60), kRed);
  EXPECT_EQ(Screen(150, 60), kWhite);
  // Saving in the mode writes the mode's marks into the TIFF page's tag.
  TMemoryStream stream;
  box.SaveToStream(stream, ".tif");
  stream.SetPosition(0);
  TTiffGraphic saved;
  saved.LoadFromStream(stream);
  EXPECT_EQ(saved.CustomTagValue(), SaveMarksToText(marks));
  // Leaving the mode keeps the text and takes the marks off the page.
  box.SetMouseMode(mmDrag);
  Pump();
  EXPECT_EQ(box.AnnotationText(), SaveMarksToText(marks));
  EXPECT_EQ(Screen(90, 60), kWhite);
}

TEST_F(AnnotationEditing, MarksAreSelectedMovedResizedAndDeletedWithTheMouse) {
  Click(Page(), 90, 60);
  ASSERT_EQ(Mode().Selected(), 0);
  ASSERT_NE(Mode().Resizer(), nullptr);
  EXPECT_TRUE(Mode().Resizer()->Visible());
  EXPECT_EQ(BoundsOf(*Mode().MarkControl()), (TRect{40, 30, 140, 90}));
  EXPECT_EQ(BoundsOf(*Mode().Resizer()), (TRect{35, 25, 145, 95}));
  EXPECT_FALSE(Mode().Modified());

  // Dragging the mark moves it.
  Drag(Mode().MarkControl()->Handle(), 10, 10, 20, 10);
  EXPECT_EQ(MarkRect(0), (TRect{60, 40, 160, 100}));
  EXPECT_TRUE(Mode().Modified());
  EXPECT_EQ(Screen(150, 95), kRed);
  EXPECT_EQ(Screen(45, 35), kWhite);  // the old place shows the page again
  // A grip resizes it.
  Drag(Mode().Resizer()->Grip(TControlResizer::grBottomRight).Handle(), 2, 2, 20, 10);
  EXPECT_EQ(MarkRect(0), (TRect{60, 40, 180, 110}));
  EXPECT_EQ(BoundsOf(*Mode().MarkControl()), (TRect{60, 40, 180, 110}));
  // Moved beyond the page it stops at the edge, whole.
  Drag(Mode().MarkControl()->Handle(), 10, 10, 400, 0);
  EXPECT_EQ(MarkRect(0), (TRect{280, 40, 400, 110}));

  // Another mark takes the frame; the page outside any mark drops it.
  Click(Page(), 250, 150);
  EXPECT_EQ(Mode().Selected(), 1);
  EXPECT_EQ(BoundsOf(*Mode().MarkControl()), (TRect{200, 100, 300, 200}));
  Click(Page(), 380, 20);
  EXPECT_EQ(Mode().Selected(), -1);
  EXPECT_FALSE(Mode().Resizer()->Visible());

  // A right click on a mark selects it and offers Delete; Properties and
  // Delete then do nothing.
  ChooseFromMenu(Page(), 250, 150, 2);
  EXPECT_EQ(Mode().Editor().Count(), 1);
  EXPECT_EQ(Mode().Selected(), -1);
  Mode().ShowMarkProperties();
  Mode().DeleteMark();
  EXPECT_EQ(Mode().Editor().Count(), 1);
  box.SetMouseMode(mmDrag);
  std::vector<TMark> kept;
  LoadMarksFromText(box.AnnotationText(), kept);
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0].kind, mkRectangle);
}

TEST_F(AnnotationEditing, ACentredPageShowsNoMarksAndTakesNoClicksOnThem) {
  Click(Page(), 90, 60);
  ASSERT_EQ(Mode().Selected(), 0);
  box.SetCentered(true);
  Pump();
  EXPECT_EQ(Screen(90, 60), kWhite);
  EXPECT_EQ(Mode().Selected(), -1);
  EXPECT_FALSE(Mode().Resizer()->Visible());
  Click(Page(), 90, 60);
  EXPECT_EQ(Mode().Selected(), -1);
  // The marks were hidden, not lost.
  box.SetCentered(false);
  Pump();
  EXPECT_EQ(Screen(90, 60), kRed);
  Click(Page(), 90, 60);
  EXPECT_EQ(Mode().Selected(), 0);
  EXPECT_EQ(Mode().Editor().SaveToText(), SaveMarksToText(marks));
}

class AnnotationZoom : public AnnotationEditing, public ::testing::WithParamInterface<float> {};

TEST_P(AnnotationZoom, PaintsAndMovesMarksAtTheZoom) {
  const float zoom = GetParam();
  box.SetZoomPercent(zoom);
  Pump();
  const double z = zoom / 100;
  const TRect shown{int(40 * z), int(30 * z), int(140 * z), int(90 * z)};
  EXPECT_EQ(Screen(shown.Left, shown.Top), kRed);
  EXPECT_EQ(Screen(shown.Right - 1, shown.Bottom - 1), kRed);
  EXPECT_EQ(Screen(shown.Right + 1, shown.Top), kWhite);
  EXPECT_EQ(Screen(shown.Left, shown.Bottom + 1), kWhite);
  Click(Page(), (shown.Left + shown.Right) / 2, (shown.Top + shown.Bottom) / 2);
  ASSERT_EQ(Mode().Selected(), 0);
  EXPECT_EQ(BoundsOf(*Mode().MarkControl()), shown);
  // 20 x 10 display pixels are 20 / z x 10 / z document pixels.
  Drag(Mode().MarkControl()->Handle(), 5, 5, 20, 10);
  const int dx = int(20 / z), dy = int(10 / z);
  EXPECT_EQ(MarkRect(0), (TRect{40 + dx, 30 + dy, 140 + dx, 90 + dy}));
}

INSTANTIATE_TEST_SUITE_P(Zooms, AnnotationZoom, ::testing::Values(50.0f, 200.0f));

struct PlaceCase {
  TMarkKind kind;
  float zoom;
};

class PlacingAMark : public AnnotationEditing, public ::testing::WithParamInterface<PlaceCase> {};

// A caller adds a mark; the user drags it into place, sizes it with a grip
// and, for the kinds with text, writes its text in the properties dialog.
TEST_P(PlacingAMark, TheUserDragsANewMarkIntoPlaceAndSizesIt) {
  const auto [kind, zoom] = GetParam();
  box.SetZoomPercent(zoom);
  Pump();
  const double z = zoom / 100;
  // A new mark comes into the part of the page in view.
  const int scrollY = box.VertScrollBar().MaxPosition() > 0 ? 100 : 0;
  box.VertScrollBar().SetPosition(scrollY);
  Pump();
  const int index = Mode().AddMark(kind);
  Pump();
  ASSERT_EQ(index, 2);
  EXPECT_EQ(Mode().Selected(), index);
  EXPECT_TRUE(Mode().Resizer()->Visible());
  const TRect start = MarkRect(index);
  const TRect shown = BoundsOf(*Mode().MarkControl());
  EXPECT_EQ(shown, MarkScreenBounds(start, zoom, 0, 0));
  EXPECT_GT(shown.Right - shown.Left, 50);
  EXPECT_GT(shown.Bottom - shown.Top, 25);
  EXPECT_GE(shown.Top, scrollY);
  EXPECT_LT(shown.Bottom, scrollY + box.ClientHeight());

  Drag(Mode().MarkControl()->Handle(), 10, 10, 30, 20);
  Drag(Mode().Resizer()->Grip(TControlResizer::grBottomRight).Handle(), 2, 2, 20, 10);
  const TRect placed{start.Left + int(30 / z), start.Top + int(20 / z),
                     start.Right + int(50 / z), start.Bottom + int(30 / z)};
  EXPECT_EQ(MarkRect(index), placed);
  if (kind == mkRectangle || kind == mkImage) {
    // Lime over white through the highlighter; the empty picture is black.
    // (Near its bottom left corner the new mark lies over the page alone.)
    const TRect r = MarkScreenBounds(placed, zoom, 0, 0);
    EXPECT_EQ(Screen(r.Left + 5, r.Bottom - 5),
              kind == mkRectangle ? 0x00FF00u : 0u);
  }
  std::string text;
  if (kind == mkStickNote || kind == mkText) {
    qvtest::Robot person("Annotation Properties", [](HWND dialog) {
      qvtest::TypeInto(dialog, 4, "Checked\r\n(twice)");  // the memo
      qvtest::PressButton(dialog, "OK");
    });
    Mode().ShowMarkProperties();
    EXPECT_TRUE(person.Found());
    text = "Checked\r\n(twice)";
  }
  box.SetMouseMode(mmDrag);
  std::vector<TMark> kept;
  LoadMarksFromText(box.AnnotationText(), kept);
  ASSERT_EQ(kept.size(), 3u);
  TMark expected = NewMark(kind);
  expected.markRect = placed;
  if (!text.empty()) expected.text = text;
  EXPECT_EQ(kept[2], expected);
}

INSTANTIATE_TEST_SUITE_P(Kinds, PlacingAMark,
                         ::testing::Values(PlaceCase{mkStickNote, 50}, PlaceCase{mkRectangle, 200},
                                           PlaceCase{mkLine, 50}, PlaceCase{mkText, 200},
                                           PlaceCase{mkImage, 50}));

TEST_F(AnnotationEditing, ThePropertiesDialogEditsTheSelectedMark) {
  Click(Page(), 90, 60);
  // Properties... from the selected mark's menu; Cancel leaves the mark as
  // it was.
  {
    qvtest::Robot person("Annotation Properties", [](HWND dialog) {
      qvtest::TypeInto(dialog, 0, "10");
      qvtest::PressButton(dialog, "Cancel");
    });
    ChooseFromMenu(Mode().MarkControl()->Handle(), 20, 20, 1);
    EXPECT_TRUE(person.Found());
  }
  EXPECT_EQ(MarkRect(0), (TRect{40, 30, 140, 90}));
  EXPECT_FALSE(Mode().Modified());
  // OK applies the rectangle (held to the page) and the rectangle page.
  {
    qvtest::Robot person("Annotation Properties", [](HWND dialog) {
      qvtest::TypeInto(dialog, 0, "10");     // Left
      qvtest::TypeInto(dialog, 3, "99999");  // Bottom: beyond the page
      qvtest::TypeInto(dialog, 6, "7");      // Pen Width (after the text page's two)
      qvtest::ClickControl(dialog, "Filled");
      qvtest::PressButton(dialog, "OK");
    });
    Mode().ShowMarkProperties();
    EXPECT_TRUE(person.Found());
  }
  const TMark& mark = Mode().Editor().Marks(0);
  EXPECT_EQ(mark.markRect, (TRect{10, 30, 140, 300}));
  EXPECT_EQ(mark.penWidth, 7);
  EXPECT_FALSE(mark.filled);
  EXPECT_TRUE(Mode().Modified());
}

struct DialogCase {
  TMarkKind kind;
  const char* page;
};

class PropertyDialog : public ::testing::TestWithParam<DialogCase> {};

TEST_P(PropertyDialog, ShowsTheKindsPageAndGivesTheMarkBackUnchanged) {
  TAnnotationsPropertyDialog dialog;
  TMark mark = NewMark(GetParam().kind);
  mark.markRect = {5, 6, 70, 80};
  mark.visible = false;
  if (mark.kind == mkText) mark.text = "two\r\nlines";
  if (mark.kind == mkLine) mark.lineDirection = ldBottomLeftTopRight;
  if (mark.kind == mkImage) {
    TDibGraphic picture;
    picture.NewImage(3, 2, ifTrueColor, nullptr, 0, 0);
    picture.Fill(kRed);
    mark.picture = picture.SaveToDIBBlock();
  }
  dialog.LoadFromMark(mark);
  ASSERT_NE(dialog.ActivePage(), nullptr);
  EXPECT_EQ(dialog.ActivePage()->Name(), GetParam().page);
  TMark applied = NewMark(GetParam().kind);
  dialog.ApplyToMark(applied, {0, 0, 100, 100});
  EXPECT_EQ(applied, mark);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, PropertyDialog,
    ::testing::Values(DialogCase{mkStickNote, "TabSheetText"}, DialogCase{mkText, "TabSheetText"},
                      DialogCase{mkRectangle, "TabSheetRectangle"},
                      DialogCase{mkLine, "TabSheetLine"}, DialogCase{mkImage, "TabSheetImage"}));

TEST(PropertyDialogPicture, APictureLargerThanTheMarkIsFittedToIt) {
  for (const auto& [w, h, storedW, storedH] :
       {std::tuple{300, 200, 100, 100}, std::tuple{80, 60, 80, 60}}) {
    TAnnotationsPropertyDialog dialog;
    TMark mark = NewMark(mkImage);
    mark.markRect = {0, 0, 100, 100};
    TDibGraphic picture;
    picture.NewImage(w, h, ifTrueColor, nullptr, 0, 0);
    picture.Fill(kRed);
    mark.picture = picture.SaveToDIBBlock();
    dialog.LoadFromMark(mark);
    dialog.ApplyToMark(mark, {});
    TDibGraphic stored;
    stored.LoadFromDIBBlock(mark.picture.data(), mark.picture.size());
    EXPECT_EQ(stored.Width(), storedW);
    EXPECT_EQ(stored.Height(), storedH);
  }
}

TEST(PropertyDialogFields, ABlankNumberFailsAfterTheFieldsBeforeIt) {
  TAnnotationsPropertyDialog dialog;
  TMark mark = NewMark(mkRectangle);
  mark.markRect = {1, 2, 3, 4};
  dialog.LoadFromMark(mark);
  dialog.ColorShape.SetBrushColor(0x123456);
  dialog.EditRectanglePen.SetText(" ");
  EXPECT_THROW(dialog.ApplyToMark(mark, {}), EConvertError);
  EXPECT_EQ(mark.color, 0x123456u);  // applied before the pen width
  EXPECT_EQ(dialog.FontDescription(), "Arial, 10");
}

// The font sample shows the description in the font's colour, on the
// button face.
TEST(PropertyDialogFont, TheFontSampleIsDrawnInTheFontsColour) {
  TAnnotationsPropertyDialog dialog;
  TMark mark = NewMark(mkText);
  mark.font.color = ColorToGdi(kRed);
  mark.font.bold = true;
  dialog.LoadFromMark(mark);
  EXPECT_EQ(dialog.EditFont.Text(), "Arial, 12, Bold");
  dialog.Show();
  ::UpdateWindow(dialog.Handle());
  MSG msg;
  while (::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) ui::Application().HandleMessage();
  HWND sample = dialog.EditFont.Handle();
  EXPECT_EQ(::GetWindowLongPtrA(sample, GWL_EXSTYLE) & WS_EX_CLIENTEDGE, 0);
  HDC dc = ::GetDC(sample);
  int red = 0, black = 0, face = 0;
  for (int y = 0; y < dialog.EditFont.ClientHeight(); ++y) {
    for (int x = 0; x < dialog.EditFont.ClientWidth(); ++x) {
      const COLORREF c = ::GetPixel(dc, x, y);
      red += c == RGB(255, 0, 0);
      black += c == RGB(0, 0, 0);
      face += c == ::GetSysColor(COLOR_BTNFACE);
    }
  }
  ::ReleaseDC(sample, dc);
  EXPECT_GT(red, 20);
  EXPECT_EQ(black, 0);
  EXPECT_GT(face, red);
}

}  // namespace
}  // namespace lumetra
