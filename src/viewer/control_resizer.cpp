#include "viewer/control_resizer.h"

#include <windows.h>

#include <algorithm>
#include <climits>

#include "platform/win32/owners.h"

namespace lumetra {

namespace {

// The sides of the frame that each grip drags, clockwise from the top left.
struct TGripSides {
  bool left, top, right, bottom;
};
constexpr TGripSides kGripSides[8] = {
    {true, true, false, false},  {false, true, false, false}, {false, true, true, false},
    {false, false, true, false}, {false, false, true, true},  {false, false, false, true},
    {true, false, false, true},  {true, false, false, false}};

bool LeftSide(int grip) { return kGripSides[grip].left; }
bool RightSide(int grip) { return kGripSides[grip].right; }
bool TopSide(int grip) { return kGripSides[grip].top; }
bool BottomSide(int grip) { return kGripSides[grip].bottom; }

constexpr ui::TCursor kGripCursors[] = {ui::crSizeNWSE, ui::crSizeNS, ui::crSizeNESW,
                                        ui::crSizeWE,   ui::crSizeNWSE, ui::crSizeNS,
                                        ui::crSizeNESW, ui::crSizeWE};

}  // namespace

// A grip: a small square in the box colour that hands its mouse input to
// the resizer.
class TControlResizer::TGripControl : public ui::TShape {
 public:
  TGripControl(ui::TControl& parent, TControlResizer& owner, TGrip grip)
      : TShape(parent, false), owner_(owner), grip_(grip) {
    SetBrushColor(owner.boxColor_);
    SetCursor(kGripCursors[grip]);
  }

 protected:
  void MouseDown(ui::TMouseButton button, ui::TShiftState, int x, int y) override {
    owner_.GripDown(grip_, button, x, y);
  }
  void MouseMove(ui::TShiftState, int x, int y) override {
    if (owner_.resizing_ && owner_.grip_ == grip_) owner_.GripMove(owner_.ScreenPoint(*this, x, y));
  }
  void MouseUp(ui::TMouseButton, ui::TShiftState, int x, int y) override {
    if (owner_.resizing_ && owner_.grip_ == grip_) owner_.GripUp(owner_.ScreenPoint(*this, x, y));
  }

 private:
  TControlResizer& owner_;
  TGrip grip_;
};

TControlResizer::TControlResizer(ui::TControl& parent) {
  // Not WS_EX_TRANSPARENT: the ring takes its own clicks, and hit testing
  // may pass a transparent window by.
  CreateOwnWindow(&parent, "QvControlResizer", WS_CLIPSIBLINGS, 0, CS_DBLCLKS, nullptr);
  for (int i = 0; i < 8; ++i) {
    grips_[i] = std::make_unique<TGripControl>(parent, *this, static_cast<TGrip>(i));
  }
  SetCursor(ui::crSizeAll);
  SetBounds(0, 0, 25, 25);
  // Moving hangs on the frame's own mouse events: a handler assigned to
  // them replaces it.
  OnMouseDown = [this](TObject*, ui::TMouseButton button, ui::TShiftState, int x, int y) {
    MoveDown(button, x, y);
  };
  OnMouseMove = [this](TObject*, ui::TShiftState, int x, int y) { MoveMove(x, y); };
  OnMouseUp = [this](TObject*, ui::TMouseButton, ui::TShiftState, int x, int y) { MoveUp(x, y); };
}

TControlResizer::~TControlResizer() {
  if (dc_) ::ReleaseDC(Parent() ? Parent()->Handle() : nullptr, dc_);
}

ui::TControl& TControlResizer::Grip(TGrip grip) const { return *grips_[grip]; }

TRect TControlResizer::Bounds() const {
  const RECT r = BoundsRect();
  return {r.left, r.top, r.right, r.bottom};
}

POINT TControlResizer::ScreenPoint(const ui::TControl& control, int x, int y) const {
  POINT p{x, y};
  ::ClientToScreen(control.Handle(), &p);
  return p;
}

// --- placement -------------------------------------------------------------------------

void TControlResizer::SetBoxSize(int value) {
  boxSize_ = value;
  UpdateRegion();
  PlaceGrips();
}

void TControlResizer::SetBoxColor(TColor value) {
  boxColor_ = value;
  for (auto& grip : grips_) grip->SetBrushColor(value);
}

void TControlResizer::PlaceGrips() {
  if (!grips_[0]) return;
  const int b = boxSize_, h = boxSize_ / 2;
  const TRect f = Bounds();
  const int w = f.Right - f.Left, ht = f.Bottom - f.Top;
  const int left = f.Left - h, right = f.Left + w + h - b;
  const int top = f.Top - h, bottom = f.Top + ht + h - b;
  const int middleX = f.Left + (w - b) / 2, middleY = f.Top + (ht - b) / 2;
  const POINT places[8] = {{left, top},       {middleX, top},   {right, top},   {right, middleY},
                           {right, bottom},   {middleX, bottom}, {left, bottom}, {left, middleY}};
  for (int i = 0; i < 8; ++i) {
    grips_[i]->SetBounds(places[i].x, places[i].y, b, b);
    grips_[i]->BringToFront();
  }
}

void TControlResizer::ShowGrips(bool show) {
  if (show) PlaceGrips();
  for (auto& grip : grips_) grip->SetVisible(show);
}

// The frame owns only the ring around the target: inside it the target
// gets its own mouse input.
void TControlResizer::UpdateRegion() {
  if (!Handle()) return;
  const int w = Width(), h = Height(), b = boxSize_;
  win32::unique_handle<win32::gdi_traits<HRGN>> ring(::CreateRectRgn(0, 0, w, h));
  if (w > 2 * b && h > 2 * b) {
    const win32::unique_handle<win32::gdi_traits<HRGN>> inner(
        ::CreateRectRgn(b, b, w - b, h - b));
    ::CombineRgn(ring.get(), ring.get(), inner.get(), RGN_DIFF);
  }
  // Once set, the region belongs to the window.
  if (::SetWindowRgn(Handle(), ring.get(), TRUE)) (void)ring.release();
}

void TControlResizer::SetVisible(bool value) {
  TControl::SetVisible(value);
  ShowGrips(value);
}

void TControlResizer::SetTargetControl(ui::TControl* target) {
  if (busy_ || target == target_) return;
  busy_ = true;
  struct Idle {
    bool& flag;
    ~Idle() { flag = false; }
  } idle{busy_};
  if (!target) {
    target_ = nullptr;
    SetVisible(false);
    return;
  }
  ShowGrips(false);
  if (ui::TControl* parent = target->Parent()) {
    SetParent(*parent);
    for (auto& grip : grips_) grip->SetParent(*parent);
  }
  ui::Application().ProcessMessages();
  const int b = boxSize_;
  SetBounds(target->Left() - b, target->Top() - b, target->Width() + 2 * b,
            target->Height() + 2 * b);
  ui::Application().ProcessMessages();
  BringToFront();
  ui::Application().ProcessMessages();
  target_ = target;
  TControl::SetVisible(true);
  ShowGrips(true);
}

void TControlResizer::FitTarget() {
  if (busy_ || !Visible() || !target_) return;
  const int b = boxSize_;
  const int w = Width() - 2 * b, h = Height() - 2 * b;
  if (w > 0 && h > 0) target_->SetBounds(Left() + b, Top() + b, w, h);
}

LRESULT TControlResizer::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      ::BeginPaint(Handle(), &ps);
      ::EndPaint(Handle(), &ps);
      return 0;
    }
    case WM_SIZE:
      UpdateRegion();
      break;
    case WM_WINDOWPOSCHANGED: {
      const LRESULT result = TControl::WndProc(msg, wParam, lParam);
      const auto* pos = reinterpret_cast<const WINDOWPOS*>(lParam);
      if (!(pos->flags & SWP_NOMOVE) || !(pos->flags & SWP_NOSIZE)) PlaceGrips();
      return result;
    }
    default:
      break;
  }
  return TControl::WndProc(msg, wParam, lParam);
}

// --- the outline ---------------------------------------------------------------------

TRect TControlResizer::TargetRectOf(const TRect& frame) const {
  const int b = boxSize_;
  return {frame.Left + b, frame.Top + b, frame.Right - b, frame.Bottom - b};
}

void TControlResizer::DrawOutline() {
  if (!dc_) return;
  for (int i = 0; i < lineSize_; ++i) {
    const RECT r{outline_.Left + i, outline_.Top + i, outline_.Right - i, outline_.Bottom - i};
    if (r.right > r.left && r.bottom > r.top) ::DrawFocusRect(dc_, &r);
  }
  const TControlResizerEvent& event = moving_ ? OnMoving : OnResizing;
  if (event) event(this, Bounds(), TargetRectOf(outline_));
}

void TControlResizer::BeginDrag() {
  HWND parent = Parent() ? Parent()->Handle() : nullptr;
  dc_ = ::GetDCEx(parent, nullptr, DCX_CACHE | DCX_CLIPSIBLINGS | DCX_LOCKWINDOWUPDATE);
  DrawOutline();
}

void TControlResizer::EndDrag() {
  DrawOutline();  // erases
  if (dc_) ::ReleaseDC(Parent() ? Parent()->Handle() : nullptr, dc_);
  dc_ = nullptr;
  if (::GetCapture() == Handle()) ::ReleaseCapture();
}

// --- moving ---------------------------------------------------------------------------

void TControlResizer::MoveDown(ui::TMouseButton button, int x, int y) {
  if (busy_ || button != ui::mbLeft || !movable_ || moving_ || resizing_) return;
  moving_ = true;
  press_ = ScreenPoint(*this, x, y);
  ShowGrips(false);
  outline_ = Bounds();
  BeginDrag();
}

void TControlResizer::MoveMove(int x, int y) {
  if (!moving_) return;
  DrawOutline();
  const POINT p = ScreenPoint(*this, x, y);
  const TRect f = Bounds();
  outline_ = {f.Left + p.x - press_.x, f.Top + p.y - press_.y, f.Right + p.x - press_.x,
              f.Bottom + p.y - press_.y};
  DrawOutline();
}

void TControlResizer::MoveUp(int x, int y) {
  if (!moving_) return;
  MoveMove(x, y);
  EndDrag();
  moving_ = false;
  const TRect old = Bounds();
  if (outline_.Left != old.Left || outline_.Top != old.Top) {
    SetBounds(outline_.Left, outline_.Top, outline_.Right - outline_.Left,
              outline_.Bottom - outline_.Top);
    FitTarget();
    if (OnMoved) OnMoved(this, old, Bounds());
  }
  ShowGrips(true);
}

// A grip pressed on the frame goes on with the frame's mouse input: the
// grip itself captured the mouse, so this is only for a drag that the
// frame holds.
void TControlResizer::MouseMove(ui::TShiftState shift, int x, int y) {
  if (resizing_) return GripMove(ScreenPoint(*this, x, y));
  TControl::MouseMove(shift, x, y);
}

void TControlResizer::MouseUp(ui::TMouseButton button, ui::TShiftState shift, int x, int y) {
  if (resizing_) return GripUp(ScreenPoint(*this, x, y));
  TControl::MouseUp(button, shift, x, y);
}

// --- resizing -------------------------------------------------------------------------

void TControlResizer::GripDown(TGrip grip, ui::TMouseButton button, int x, int y) {
  if (busy_ || button != ui::mbLeft || !resizable_ || moving_ || resizing_) return;
  resizing_ = true;
  grip_ = grip;
  const ui::TControl& control = *grips_[grip];
  press_ = ScreenPoint(control, x, y);
  gripOrigin_ = ScreenPoint(control, 0, 0);
  // How far the mouse may go, in the grip's coordinates: never past the
  // opposite side, and along one axis only for the middle grips.
  const int w = Width(), h = Height();
  range_ = RECT{RightSide(grip) ? -w : INT_MIN / 2, BottomSide(grip) ? -h : INT_MIN / 2,
                LeftSide(grip) ? w : INT_MAX / 2, TopSide(grip) ? h : INT_MAX / 2};
  if (grip == grTop || grip == grBottom) range_.left = range_.right = 0;
  if (grip == grLeft || grip == grRight) range_.top = range_.bottom = 0;
  // The pressed grip keeps the mouse; the others make way for the outline.
  for (auto& other : grips_) {
    if (other.get() != &control) other->Hide();
  }
  outline_ = Bounds();
  BeginDrag();
}

TRect TControlResizer::ResizedBounds(POINT mouse) const {
  const int mx = std::clamp<int>(mouse.x - gripOrigin_.x, range_.left, range_.right);
  const int my = std::clamp<int>(mouse.y - gripOrigin_.y, range_.top, range_.bottom);
  const int dx = mx - (press_.x - gripOrigin_.x);
  const int dy = my - (press_.y - gripOrigin_.y);
  const TRect f = Bounds();
  int left = f.Left, top = f.Top, width = f.Right - f.Left, height = f.Bottom - f.Top;
  if (LeftSide(grip_)) {
    left += dx;
    width -= dx;
  } else if (RightSide(grip_)) {
    width += dx;
  }
  if (TopSide(grip_)) {
    top += dy;
    height -= dy;
  } else if (BottomSide(grip_)) {
    height += dy;
  }
  // The side opposite the grip stays where it is.
  if (width < minWidth_) {
    if (LeftSide(grip_)) left = f.Right - minWidth_;
    width = minWidth_;
  }
  if (height < minHeight_) {
    if (TopSide(grip_)) top = f.Bottom - minHeight_;
    height = minHeight_;
  }
  return {left, top, left + width, top + height};
}

void TControlResizer::GripMove(POINT screen) {
  if (!resizing_) return;
  DrawOutline();
  outline_ = ResizedBounds(screen);
  DrawOutline();
}

void TControlResizer::GripUp(POINT screen) {
  if (!resizing_) return;
  GripMove(screen);
  EndDrag();
  HWND grip = grips_[grip_]->Handle();
  if (::GetCapture() == grip) ::ReleaseCapture();
  resizing_ = false;
  const TRect old = Bounds();
  // The frame ends where the outline showed it, minimum size included.
  const TRect bounds = ResizedBounds(screen);
  SetBounds(bounds.Left, bounds.Top, bounds.Right - bounds.Left, bounds.Bottom - bounds.Top);
  ShowGrips(true);
  FitTarget();
  if (OnResized) OnResized(this, old, Bounds());
}

}  // namespace lumetra
