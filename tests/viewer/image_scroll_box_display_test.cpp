// How the image scroll box shows a picture: zoom and fit modes, centring,
// scroll bars and scroll messages, anti-aliasing and where it paints.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "image_scroll_box_fixture.h"
#include "viewer/image_scroll_box.h"

using namespace lumetra;

namespace {

using namespace viewer_test;  // the fixture and its pages

TEST_F(Viewer, StartsAsTheComponentDeclaresIt) {
  EXPECT_EQ(box.ZoomMode(), zmOriginalSize);
  EXPECT_EQ(box.ZoomPercent(), 100);
  EXPECT_EQ(box.MouseMode(), mmDrag);
  EXPECT_NE(dynamic_cast<TDragMouseHandler*>(box.MouseHandler()), nullptr);
  EXPECT_EQ(box.Image().Cursor(), crHandOpened);
  EXPECT_TRUE(box.HorzScrollBar().Tracking());
  EXPECT_TRUE(box.Graphic()->Empty());
  EXPECT_FALSE(box.Image().Visible());
  // The cursor resources are in the program and registered as 100 and 101.
  EXPECT_NE(ui::Screen().Cursors(crHandOpened), ::LoadCursor(nullptr, IDC_ARROW));
  EXPECT_NE(ui::Screen().Cursors(crHandClosed), ui::Screen().Cursors(crHandOpened));
}

struct ZoomWrite {
  float written;
  bool accepted;
  float result;
};

class ViewerZoomWrite : public Viewer, public testing::WithParamInterface<ZoomWrite> {};

TEST_P(ViewerZoomWrite, IgnoresTinyValuesAndClampsLargeOnes) {
  Show(200, 100);
  box.SetZoomMode(zmFullPage);
  const float before = box.ZoomPercent();
  box.SetZoomPercent(GetParam().written);
  if (GetParam().accepted) {
    EXPECT_EQ(box.ZoomMode(), zmPercent);
    EXPECT_EQ(box.ZoomPercent(), GetParam().result);
  } else {
    EXPECT_EQ(box.ZoomMode(), zmFullPage);
    EXPECT_EQ(box.ZoomPercent(), before);
  }
}

INSTANTIATE_TEST_SUITE_P(Values, ViewerZoomWrite,
                         testing::Values(ZoomWrite{0.1f, false, 0}, ZoomWrite{0.0f, false, 0},
                                         ZoomWrite{std::nanf(""), false, 0},
                                         ZoomWrite{-5.0f, false, 0}, ZoomWrite{0.11f, true, 0.11f},
                                         ZoomWrite{250.0f, true, 250.0f},
                                         ZoomWrite{5000.0f, true, 1000.0f}));

TEST_F(Viewer, IgnoresZoomWritesOnAnEmptyImage) {
  box.SetZoomPercent(50);
  EXPECT_EQ(box.ZoomMode(), zmOriginalSize);
  EXPECT_EQ(zoomChanges, 0);
}

TEST_F(Viewer, TheSamePercentAgainNeitherRedrawsNorRaises) {
  Show(200, 100);
  box.SetZoomPercent(50);
  EXPECT_EQ(DisplayWidth(), 100);
  const int r = redraws, z = zoomChanges;
  box.SetZoomPercent(50);
  EXPECT_EQ(redraws, r);
  EXPECT_EQ(zoomChanges, z);

  // From a fit mode to the percent it happens to show: that redraws.
  box.SetZoomMode(zmFitWidth);
  const float fit = box.ZoomPercent();
  const int r2 = redraws, z2 = zoomChanges;
  box.SetZoomPercent(fit);
  EXPECT_EQ(box.ZoomMode(), zmPercent);
  EXPECT_GT(redraws, r2);
  EXPECT_GT(zoomChanges, z2);
}

TEST_F(Viewer, FitToPageNeverEnlargesButFullPageDoes) {
  Show(50, 40);
  box.SetZoomMode(zmFitToPage);
  EXPECT_EQ(box.ZoomPercent(), 100);
  EXPECT_EQ(DisplayWidth(), 50);

  box.SetZoomMode(zmFullPage);
  // Both scroll bars are hidden first, so the whole client area counts.
  const int cw = box.ClientWidth(), ch = box.ClientHeight();
  const float rx = static_cast<float>(static_cast<long double>(cw) / 50);
  const float ry = static_cast<float>(static_cast<long double>(ch) / 40);
  const float expected = static_cast<float>(100.0L * std::min(rx, ry));
  EXPECT_EQ(box.ZoomPercent(), expected);
  EXPECT_EQ(DisplayWidth(), static_cast<int>(std::trunc(50 * (static_cast<long double>(expected) / 100))));
  EXPECT_EQ(lastZoom, expected);
  EXPECT_FALSE(box.HorzScrollBar().Visible());
  EXPECT_FALSE(box.VertScrollBar().Visible());
}

TEST_F(Viewer, FitWidthAndFitHeightFollowTheirSide) {
  Show(1000, 2000);
  box.SetZoomMode(zmFitHeight);
  EXPECT_EQ(DisplayHeight(), box.ClientHeight());
  EXPECT_FALSE(box.VertScrollBar().Visible());
  // Fit width hides no bar first: it measures the client area as it is
  // (here without bars), in single precision, and the vertical bar that
  // the tall copy then needs covers the copy's right edge.
  const int cw = box.ClientWidth();
  box.SetZoomMode(zmFitWidth);
  const float zoom = static_cast<float>(100.0L * static_cast<float>(cw / 1000.0L));
  EXPECT_EQ(box.ZoomPercent(), zoom);
  EXPECT_EQ(DisplayWidth(), static_cast<int>(std::trunc(1000 * (static_cast<long double>(zoom) / 100))));
  EXPECT_TRUE(box.VertScrollBar().IsScrollBarVisible());
  EXPECT_LT(box.ClientWidth(), cw);
}

TEST_F(Viewer, ATinyImageKeepsAOnePixelDisplayCopy) {
  Show(1, 1);
  box.SetZoomPercent(1);
  EXPECT_EQ(DisplayWidth(), 1);
  EXPECT_EQ(DisplayHeight(), 1);
  EXPECT_EQ(box.ImageRect().Right, 1);
}

TEST_F(Viewer, CentresBySizeOfTheWholeBoxWithTruncatedHalves) {
  Show(101, 51);
  box.SetCentered(true);
  // The box's border makes its outer size larger than its client area.
  ASSERT_NE(box.Width(), box.ClientWidth());
  EXPECT_EQ(box.ImageRect().Left, (box.Width() - 101) / 2);
  EXPECT_EQ(box.ImageRect().Top, (box.Height() - 51) / 2);
  EXPECT_EQ(box.Image().Left(), box.ImageRect().Left);

  Show(1000, 1000);
  EXPECT_EQ(box.ImageRect().Left, 0);
  EXPECT_EQ(box.ImageRect().Top, 0);
}

TEST_F(Viewer, EveryRedrawScrollsBackToTheTopLeft) {
  Show(1000, 800);
  box.HorzScrollBar().SetPosition(120);
  box.VertScrollBar().SetPosition(90);
  EXPECT_EQ(box.HorzScrollBar().Position(), 120);
  EXPECT_EQ(box.Image().Left(), -120);
  box.Redraw(true);
  EXPECT_EQ(box.HorzScrollBar().Position(), 0);
  EXPECT_EQ(box.VertScrollBar().Position(), 0);
  EXPECT_EQ(box.Image().Left(), 0);
  EXPECT_EQ(box.HorzScrollBar().Range(), 1000);
  // Positions are bounded by the range beyond the client area.
  box.VertScrollBar().SetPosition(100000);
  EXPECT_EQ(box.VertScrollBar().Position(), 800 - box.ClientHeight());
}

// The vertical bar is decided with the client height left once the
// horizontal bar shows, whatever page was shown before.
TEST_F(Viewer, AWidePageGetsBothBarsAfterASmallOrALargePage) {
  for (int before : {100, 2000}) {
    Show(before, before);
    Show(1000, 291);
    ASSERT_TRUE(box.HorzScrollBar().IsScrollBarVisible()) << before;
    ASSERT_LT(box.ClientHeight(), 291) << before;
    EXPECT_TRUE(box.VertScrollBar().IsScrollBarVisible()) << before;
    box.VertScrollBar().SetPosition(100000);
    EXPECT_EQ(box.VertScrollBar().Position(), 291 - box.ClientHeight()) << before;
  }
}

TEST_F(Viewer, ScrollMessagesBracketAScrollWithBeginAndEnd) {
  Show(1000, 1000);
  int begins = 0, ends = 0;
  box.OnBeginScroll = [&](TObject*) { ++begins; };
  box.OnEndScroll = [&](TObject*) { ++ends; };
  ::SendMessageA(box.Handle(), WM_VSCROLL, SB_LINEDOWN, 0);
  ::SendMessageA(box.Handle(), WM_VSCROLL, SB_LINEDOWN, 0);
  EXPECT_EQ(box.VertScrollBar().Position(), 16);
  EXPECT_EQ(begins, 1);
  EXPECT_EQ(ends, 0);
  ::SendMessageA(box.Handle(), WM_VSCROLL, SB_ENDSCROLL, 0);
  ::SendMessageA(box.Handle(), WM_VSCROLL, SB_ENDSCROLL, 0);
  EXPECT_EQ(ends, 1);
  ::SendMessageA(box.Handle(), WM_HSCROLL, SB_PAGEDOWN, 0);
  EXPECT_EQ(box.HorzScrollBar().Position(), box.ClientWidth());
  EXPECT_EQ(begins, 2);
}

TEST_F(Viewer, AntiAliasesOnlyBlackAndWhitePages) {
  // One-pixel stripes: a plain half-size copy keeps black and white, the
  // anti-aliased one shows grey.
  auto page = std::make_unique<TDibGraphic>();
  page->NewImage(400, 400, ifBlackWhite, nullptr, 300, 300);
  for (int y = 0; y < 400; ++y) {
    for (int x = 0; x < 400; ++x) page->SetPixels(x, y, (x % 2) ? 0 : 0xFFFFFF);
  }
  box.AssignGraphic(page.get());
  box.SetZoomPercent(50);
  EXPECT_EQ(box.DisplayGraphic()->ImageFormat(), ifBlackWhite);
  const int r = redraws;
  box.SetAntiAliased(true);
  EXPECT_EQ(redraws, r + 1);
  ASSERT_EQ(DisplayWidth(), 200);
  EXPECT_NE(box.DisplayGraphic()->ImageFormat(), ifBlackWhite);
  const std::uint32_t grey = box.DisplayGraphic()->Pixels(100, 100);
  EXPECT_NE(grey, 0u);
  EXPECT_NE(grey, 0xFFFFFFu);

  // A colour image is resized plainly and keeps its format; switching the
  // option does not even redraw it.
  auto colour = std::make_unique<TDibGraphic>();
  colour->NewImage(100, 100, ifTrueColor, nullptr, 96, 96);
  colour->Fill(0x336699);
  box.AssignGraphic(colour.get());
  EXPECT_EQ(box.DisplayGraphic()->ImageFormat(), ifTrueColor);
  const int r2 = redraws;
  box.SetAntiAliased(false);
  EXPECT_EQ(redraws, r2);
}

TEST_F(Viewer, PaintsTheDisplayCopyWhereTheScrollPositionPutsIt) {
  form.Show();
  Show(1000, 1000);  // black lines at y = 100..103, 112..115, ... from x = 100
  ::UpdateWindow(form.Handle());
  Pump(50);
  HDC dc = ::GetDC(box.Image().Handle());
  EXPECT_EQ(::GetPixel(dc, 200, 101) & 0xFFFFFF, 0u);
  EXPECT_EQ(::GetPixel(dc, 200, 98) & 0xFFFFFF, 0xFFFFFFu);
  ::ReleaseDC(box.Image().Handle(), dc);
  // Scrolled down by 6 lines: the box shows the white gap where a line was.
  box.VertScrollBar().SetPosition(6);
  box.Repaint();
  box.Image().Update();
  HDC boxDc = ::GetDC(box.Handle());
  EXPECT_EQ(::GetPixel(boxDc, 200, 101 - 6) & 0xFFFFFF, 0u);
  EXPECT_EQ(::GetPixel(boxDc, 200, 108 - 6) & 0xFFFFFF, 0xFFFFFFu);
  ::ReleaseDC(box.Handle(), boxDc);
  form.Hide();
}

}  // namespace
