// The viewer's selection modes driven by mouse messages posted to the page,
// as the system delivers them, with the picture read back from the screen.
#include <gtest/gtest.h>

#include <windows.h>

#include <cmath>
#include <memory>
#include <vector>

#include "imaging/win32/clipboard.h"
#include "support/test_images.h"
#include "ui/form.h"
#include "viewer/image_scroll_box.h"
#include "viewer/selection_handlers.h"

using namespace lumetra;
using lumetra::testing::MakePattern;
using lumetra::testing::SameImage;
using lumetra::testing::CropPixels;

namespace {

class Selection : public ::testing::Test {
 protected:
  Selection() : form("Selection test", 600, 400) {
    box.SetBounds(0, 0, 500, 350);
    MakePattern(page, ifTrueColor, 400, 300);
    box.AssignGraphic(&page);
    form.Show();
    box.OnRubberbandChange = [this](const TRect& r) { changes.push_back(r); };
    Pump();
  }
  void Pump() {
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) ui::Application().HandleMessage();
  }
  HWND Page() { return box.Image().Handle(); }
  // Mouse input on the page, in display-copy pixels.
  void Down(int x, int y) {
    ::PostMessageA(Page(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    Pump();
  }
  void Move(int x, int y, WPARAM keys = MK_LBUTTON) {
    ::PostMessageA(Page(), WM_MOUSEMOVE, keys, MAKELPARAM(x, y));
    Pump();
  }
  void Up(int x, int y) {
    ::PostMessageA(Page(), WM_LBUTTONUP, 0, MAKELPARAM(x, y));
    Pump();
  }
  void Drag(int x1, int y1, int x2, int y2) {
    Down(x1, y1);
    Move((x1 + x2) / 2, (y1 + y2) / 2);
    Move(x2, y2);
    Up(x2, y2);
  }
  TRubberbandMouseHandler& Band() {
    auto* handler = dynamic_cast<TRubberbandMouseHandler*>(box.MouseHandler());
    if (!handler) throw Exception("not in rubber-band mode");
    return *handler;
  }
  // What the screen shows at a display-copy pixel.
  COLORREF Screen(int x, int y) {
    HDC dc = ::GetDC(Page());
    const COLORREF c = ::GetPixel(dc, x, y);
    ::ReleaseDC(Page(), dc);
    return c;
  }
  COLORREF PagePixel(int x, int y) { return ColorToGdi(box.DisplayGraphic()->Pixels(x, y)); }

  ui::TForm form;
  TImageScrollBox box{form};
  TDibGraphic page;
  std::vector<TRect> changes;
};

TEST_F(Selection, BothModesAreAvailable) {
  box.SetMouseMode(mmQuickSelect);
  EXPECT_NE(dynamic_cast<TQuickSelectMouseHandler*>(box.MouseHandler()), nullptr);
  EXPECT_EQ(box.Image().Cursor(), ui::crDefault);
  box.SetMouseMode(mmRubberband);
  EXPECT_NE(dynamic_cast<TRubberbandMouseHandler*>(box.MouseHandler()), nullptr);
  EXPECT_EQ(box.Image().Cursor(), ui::crDefault);
}

TEST_F(Selection, ABandIsDrawnOnScreenAndErasedWithoutTrace) {
  box.SetMouseMode(mmRubberband);
  Band().SetShowGrips(true);
  Drag(40, 30, 200, 150);
  ASSERT_TRUE(Band().Band().Visible());
  EXPECT_EQ(changes.back(), (TRect{40, 30, 200, 150}));
  EXPECT_EQ(Band().GetSelectionRect(), (TRect{40, 30, 200, 150}));  // 100 %
  // The dotted side alternates the band's white and navy; a grip is navy.
  int white = 0, navy = 0;
  for (int x = 50; x < 150; ++x) {
    const COLORREF c = Screen(x, 30);
    white += c == RGB(255, 255, 255);
    navy += c == RGB(0, 0, 0x80);
  }
  EXPECT_GT(white, 20);
  EXPECT_GT(navy, 20);
  EXPECT_EQ(Screen(202, 152), RGB(0, 0, 0x80));
  EXPECT_EQ(Screen(100, 100), PagePixel(100, 100));  // inside: the page
  // A press elsewhere drops it: the page shows again where it was.
  changes.clear();
  Down(300, 250);
  Up(300, 250);
  EXPECT_FALSE(Band().Band().Visible());
  EXPECT_EQ(changes, (std::vector<TRect>{TRect{}}));
  for (int x = 38; x < 205; x += 3) ASSERT_EQ(Screen(x, 30), PagePixel(x, 30)) << x;
  EXPECT_EQ(Screen(202, 152), PagePixel(202, 152));
  EXPECT_THROW(box.CopySelection(), ERubberbandError);
}

TEST_F(Selection, GripsMovesAndEdgesFollowTheMouse) {
  box.SetMouseMode(mmRubberband);
  Drag(100, 80, 200, 160);
  // Hovering shows the handle's cursor.
  Move(200, 120, 0);
  EXPECT_EQ(box.Image().Cursor(), ui::crSizeWE);
  Move(150, 120, 0);
  EXPECT_EQ(box.Image().Cursor(), crHandOpened);
  Move(20, 20, 0);
  EXPECT_EQ(box.Image().Cursor(), ui::crDefault);

  struct Step {
    int fromX, fromY, toX, toY;
    TRect band;
  };
  const Step steps[] = {
      {100, 80, 90, 70, {90, 70, 200, 160}},     // top left
      {150, 70, 150, 60, {90, 60, 200, 160}},    // top
      {200, 60, 210, 50, {90, 50, 210, 160}},    // top right
      {210, 100, 220, 105, {90, 50, 220, 160}},  // right
      {220, 160, 230, 170, {90, 50, 230, 170}},  // bottom right
      {150, 170, 155, 180, {90, 50, 230, 180}},  // bottom
      {90, 180, 80, 190, {80, 50, 230, 190}},    // bottom left
      {80, 100, 70, 100, {70, 50, 230, 190}},    // left
      {150, 120, 160, 130, {80, 60, 240, 200}},  // the whole band
  };
  for (const Step& s : steps) {
    Drag(s.fromX, s.fromY, s.toX, s.toY);
    EXPECT_EQ(Band().Band().Corners(), s.band) << s.fromX << "," << s.fromY;
    EXPECT_EQ(changes.back(), s.band);
  }
  // Past the edges: a corner stops at the last pixel, the band at the side.
  Drag(240, 200, 900, 900);
  EXPECT_EQ(Band().Band().Corners(), (TRect{80, 60, 399, 299}));
  // The whole band moves left until it touches the side, then stops.
  Down(200, 200);
  Move(170, 200);
  Move(120, 200);
  EXPECT_EQ(Band().Band().Corners(), (TRect{0, 60, 319, 299}));
  Move(110, 200);
  Move(-500, 200);
  EXPECT_EQ(Band().Band().Corners(), (TRect{0, 60, 319, 299}));
  Up(-500, 200);
}

TEST_F(Selection, TheBandFollowsTheZoom) {
  box.SetMouseMode(mmRubberband);
  Drag(10, 10, 101, 51);
  changes.clear();
  box.SetZoomPercent(50);  // the display copy halves exactly
  EXPECT_EQ(Band().Band().Corners(), (TRect{5, 5, 50, 25}));
  EXPECT_EQ(changes, (std::vector<TRect>{TRect{5, 5, 50, 25}}));
  EXPECT_NE(Screen(20, 5), PagePixel(20, 5));  // drawn again at its new place
}

struct ZoomCase {
  float zoom;
  TRect band;      // drawn with the mouse, display-copy pixels
  TRect document;  // what it selects
};

class SelectionAtZoom : public Selection, public ::testing::WithParamInterface<ZoomCase> {};

TEST_P(SelectionAtZoom, MapsTheBandToDocumentPixels) {
  box.SetMouseMode(mmRubberband);
  box.SetZoomPercent(GetParam().zoom);
  const TRect& b = GetParam().band;
  Drag(b.Left, b.Top, b.Right, b.Bottom);
  EXPECT_EQ(Band().GetSelectionRect(), GetParam().document);
}

// 400 x 300 at 37 % is 148 x 111; at 250 % 1000 x 750.
INSTANTIATE_TEST_SUITE_P(Zooms, SelectionAtZoom,
                         ::testing::Values(ZoomCase{37, {10, 20, 100, 90}, {27, 54, 270, 243}},
                                           ZoomCase{100, {10, 20, 100, 90}, {10, 20, 100, 90}},
                                           ZoomCase{250, {11, 21, 251, 181}, {4, 8, 100, 72}}));

TEST_F(Selection, CropAtThirtySevenPercentKeepsExactlyThePixelsUnderTheBand) {
  box.SetMouseMode(mmRubberband);
  box.SetZoomPercent(37);
  Drag(10, 20, 100, 90);
  const TRect r = Band().GetSelectionRect();
  changes.clear();
  box.CropToSelection();
  EXPECT_TRUE(SameImage(*box.Graphic(), *CropPixels(page, r)));
  EXPECT_FALSE(Band().Band().Visible());
  EXPECT_EQ(changes.back(), TRect{});
}

TEST_F(Selection, CopyAndPasteGoThroughTheClipboard) {
  box.SetMouseMode(mmRubberband);
  Drag(30, 40, 130, 90);
  box.CopySelection();
  TDibGraphic pasted;
  PasteFromClipboard(pasted);
  EXPECT_TRUE(SameImage(pasted, *CropPixels(page, {30, 40, 130, 90})));
  // Into a band of the same size elsewhere: the pixels arrive unchanged.
  Drag(200, 150, 300, 200);
  box.PasteIntoSelection(&pasted);
  EXPECT_TRUE(SameImage(*CropPixels(*box.Graphic(), {200, 150, 300, 200}), pasted));
  EXPECT_TRUE(SameImage(*CropPixels(*box.Graphic(), {0, 0, 200, 150}), *CropPixels(page, {0, 0, 200, 150})));
}

TEST_F(Selection, QuickSelectInvertsAnOutlineWhileHeldAndHandsOverTheCutOut) {
  box.SetMouseMode(mmQuickSelect);
  std::vector<TRect> rects;
  TDibGraphic cut;
  box.OnQuickSelect = [&](TImageScrollBox* sender, TDibGraphic* image, const TRect& r) {
    EXPECT_EQ(sender, &box);
    rects.push_back(r);
    cut.Assign(image);
  };
  Down(50, 60);
  Move(150, 120);
  int inverted = 0;
  for (int x = 52; x < 148; ++x) inverted += Screen(x, 60) == (~PagePixel(x, 60) & 0xFFFFFF);
  EXPECT_GT(inverted, 30);
  Up(150, 120);
  for (int x = 52; x < 148; x += 2) ASSERT_EQ(Screen(x, 60), PagePixel(x, 60)) << x;
  ASSERT_EQ(rects, (std::vector<TRect>{TRect{50, 60, 150, 120}}));
  EXPECT_TRUE(SameImage(cut, *CropPixels(*box.DisplayGraphic(), rects[0])));
  Drag(70, 60, 70, 120);  // no width: nothing
  EXPECT_EQ(rects.size(), 1u);
}

}  // namespace
