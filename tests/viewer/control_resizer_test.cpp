// The control resizer driven by mouse messages posted to its frame and
// grips.
#include "viewer/control_resizer.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

#include "support/control_bounds.h"
#include "ui/controls.h"
#include "ui/form.h"

using namespace lumetra;

namespace {

using lumetra::testing::BoundsOf;

struct Call {
  TRect oldBounds, newBounds;
};

class Resizer : public ::testing::Test {
 protected:
  Resizer() : form("Resizer test", 400, 300) {
    target.SetBounds(50, 50, 100, 60);
    form.Show();
    resizer.SetTargetControl(&target);
    resizer.OnMoved = [this](TObject*, const TRect& o, const TRect& n) { moved.push_back({o, n}); };
    resizer.OnResized = [this](TObject*, const TRect& o, const TRect& n) {
      resized.push_back({o, n});
    };
    resizer.OnResizing = [this](TObject*, const TRect& o, const TRect& n) {
      resizing.push_back({o, n});
    };
    resizer.OnMoving = [this](TObject*, const TRect& o, const TRect& n) { moving.push_back({o, n}); };
    Pump();
  }
  void Pump() {
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) ui::Application().HandleMessage();
  }
  // A left-button drag on a window, from (x, y) by (dx, dy) in its client
  // coordinates (the window keeps the mouse while the button is held).
  void Drag(const ui::TControl& on, int x, int y, int dx, int dy) {
    ::PostMessageA(on.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    ::PostMessageA(on.Handle(), WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x + dx / 2, y + dy / 2));
    ::PostMessageA(on.Handle(), WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x + dx, y + dy));
    ::PostMessageA(on.Handle(), WM_LBUTTONUP, 0, MAKELPARAM(x + dx, y + dy));
    Pump();
  }

  ui::TForm form;
  ui::TPanel target{form};
  TControlResizer resizer{form};
  std::vector<Call> moved, resized, resizing, moving;
};

TEST_F(Resizer, FramesTheTargetWithEightGripsAndLeavesItItsMouse) {
  EXPECT_EQ(BoundsOf(resizer), (TRect{45, 45, 155, 115}));
  EXPECT_EQ(BoundsOf(target), (TRect{50, 50, 150, 110}));
  // Grips of 5 x 5 centred on the corners and sides (5 div 2 = 2).
  const TRect expected[8] = {{43, 43, 48, 48},    {97, 43, 102, 48},   {152, 43, 157, 48},
                             {152, 77, 157, 82},  {152, 112, 157, 117}, {97, 112, 102, 117},
                             {43, 112, 48, 117},  {43, 77, 48, 82}};
  for (int i = 0; i < 8; ++i) {
    const ui::TControl& grip = resizer.Grip(static_cast<TControlResizer::TGrip>(i));
    EXPECT_EQ(BoundsOf(grip), expected[i]) << i;
    EXPECT_TRUE(grip.Visible());
  }
  // The frame owns only the ring: inside it, the target gets the mouse.
  HRGN region = ::CreateRectRgn(0, 0, 0, 0);
  ASSERT_NE(::GetWindowRgn(resizer.Handle(), region), ERROR);
  EXPECT_TRUE(::PtInRegion(region, 1, 20));    // the ring, frame coordinates
  EXPECT_FALSE(::PtInRegion(region, 55, 35));  // over the target
  ::DeleteObject(region);

  resizer.SetTargetControl(nullptr);
  EXPECT_FALSE(resizer.Visible());
  EXPECT_FALSE(resizer.Grip(TControlResizer::grTop).Visible());
}

TEST_F(Resizer, DraggingTheFrameMovesTheTarget) {
  Drag(resizer, 2, 2, 20, 10);
  EXPECT_EQ(BoundsOf(resizer), (TRect{65, 55, 175, 125}));
  EXPECT_EQ(BoundsOf(target), (TRect{70, 60, 170, 120}));
  ASSERT_EQ(moved.size(), 1u);
  EXPECT_EQ(moved[0].oldBounds, (TRect{45, 45, 155, 115}));
  EXPECT_EQ(moved[0].newBounds, (TRect{65, 55, 175, 125}));
  // While moving, the target's prospective place as a true rectangle.
  ASSERT_FALSE(moving.empty());
  EXPECT_EQ(moving.back().newBounds, (TRect{70, 60, 170, 120}));
  EXPECT_EQ(BoundsOf(resizer.Grip(TControlResizer::grTopLeft)), (TRect{63, 53, 68, 58}));
  EXPECT_TRUE(resizer.Grip(TControlResizer::grTopLeft).Visible());

  resizer.SetMovable(false);
  Drag(resizer, 2, 2, 20, 10);
  EXPECT_EQ(BoundsOf(resizer), (TRect{65, 55, 175, 125}));
  resizer.SetMovable(true);
  ::PostMessageA(resizer.Handle(), WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(2, 2));
  ::PostMessageA(resizer.Handle(), WM_MOUSEMOVE, MK_RBUTTON, MAKELPARAM(30, 30));
  ::PostMessageA(resizer.Handle(), WM_RBUTTONUP, 0, MAKELPARAM(30, 30));
  Pump();
  EXPECT_EQ(BoundsOf(resizer), (TRect{65, 55, 175, 125}));
  EXPECT_EQ(moved.size(), 1u);
}

struct GripCase {
  TControlResizer::TGrip grip;
  TRect frame;  // after a drag by (+10, +7)
};

class ResizerGrip : public Resizer, public ::testing::WithParamInterface<GripCase> {};

TEST_P(ResizerGrip, DraggingAGripMovesOnlyItsSides) {
  Drag(resizer.Grip(GetParam().grip), 2, 2, 10, 7);
  const TRect& f = GetParam().frame;
  EXPECT_EQ(BoundsOf(resizer), f);
  EXPECT_EQ(BoundsOf(target), (TRect{f.Left + 5, f.Top + 5, f.Right - 5, f.Bottom - 5}));
  ASSERT_EQ(resized.size(), 1u);
  EXPECT_EQ(resized[0].oldBounds, (TRect{45, 45, 155, 115}));
  EXPECT_EQ(resized[0].newBounds, f);
  EXPECT_FALSE(resizing.empty());
}

INSTANTIATE_TEST_SUITE_P(
    EveryGrip, ResizerGrip,
    ::testing::Values(GripCase{TControlResizer::grTopLeft, {55, 52, 155, 115}},
                      GripCase{TControlResizer::grTop, {45, 52, 155, 115}},
                      GripCase{TControlResizer::grTopRight, {45, 52, 165, 115}},
                      GripCase{TControlResizer::grRight, {45, 45, 165, 115}},
                      GripCase{TControlResizer::grBottomRight, {45, 45, 165, 122}},
                      GripCase{TControlResizer::grBottom, {45, 45, 155, 122}},
                      GripCase{TControlResizer::grBottomLeft, {55, 45, 155, 122}},
                      GripCase{TControlResizer::grLeft, {55, 45, 155, 115}}));

TEST_F(Resizer, AGripStopsAtTheOppositeSideAndTheMinimumSize) {
  Drag(resizer.Grip(TControlResizer::grTopLeft), 2, 2, 500, 500);
  // The right and bottom sides stay; the frame keeps 8 x 8.
  EXPECT_EQ(BoundsOf(resizer), (TRect{147, 107, 155, 115}));
  for (const Call& c : resizing) {
    EXPECT_GE(c.newBounds.Right - c.newBounds.Left + 10, 8);
    EXPECT_GE(c.newBounds.Bottom - c.newBounds.Top + 10, 8);
  }
  // Too small to hold the target inside the ring: the target stays.
  EXPECT_EQ(BoundsOf(target), (TRect{50, 50, 150, 110}));

  resizer.SetResizable(false);
  Drag(resizer.Grip(TControlResizer::grBottomRight), 2, 2, 30, 30);
  EXPECT_EQ(BoundsOf(resizer), (TRect{147, 107, 155, 115}));
}

}  // namespace
