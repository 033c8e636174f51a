// TControlResizer: a frame with eight grips around another control (its
// target) that moves the target when the frame is dragged and resizes it
// when a grip is dragged, showing an XOR outline while the mouse is held.
// The frame is a ring BoxSize wide around the target: it paints nothing, and
// the target keeps its own mouse input.
#pragma once

#include <array>
#include <functional>
#include <memory>

#include "imaging/lumisc.h"
#include "ui/control.h"

namespace lumetra {

// OldBounds is the frame's rectangle, NewBounds the target's (both in the
// parent's client coordinates, Right and Bottom excluded).
using TControlResizerEvent =
    std::function<void(TObject* sender, const TRect& oldBounds, const TRect& newBounds)>;

class TControlResizer : public ui::TControl {
 public:
  // The grips, clockwise from the top left corner.
  enum TGrip : int {
    grTopLeft,
    grTop,
    grTopRight,
    grRight,
    grBottomRight,
    grBottom,
    grBottomLeft,
    grLeft,
  };

  explicit TControlResizer(ui::TControl& parent);
  ~TControlResizer() override;
  const char* ClassName() const noexcept override { return "TControlResizer"; }

  int MinWidth() const { return minWidth_; }
  void SetMinWidth(int value) { minWidth_ = value; }
  int MinHeight() const { return minHeight_; }
  void SetMinHeight(int value) { minHeight_ = value; }
  int BoxSize() const { return boxSize_; }
  void SetBoxSize(int value);
  TColor BoxColor() const { return boxColor_; }
  void SetBoxColor(TColor value);
  int LineSize() const { return lineSize_; }
  void SetLineSize(int value) { lineSize_ = value; }
  bool Resizable() const { return resizable_; }
  void SetResizable(bool value) { resizable_ = value; }
  bool Movable() const { return movable_; }
  void SetMovable(bool value) { movable_ = value; }
  ui::TControl* TargetControl() const { return target_; }
  // Puts the frame around Target, in Target's parent; null hides the frame.
  void SetTargetControl(ui::TControl* target);
  void SetVisible(bool value) override;
  // The grip window of a grip (for the mouse and for tests).
  ui::TControl& Grip(TGrip grip) const;
  bool Moving() const { return moving_; }
  bool Resizing() const { return resizing_; }

  TControlResizerEvent OnResizing;
  TControlResizerEvent OnResized;
  TControlResizerEvent OnMoving;
  TControlResizerEvent OnMoved;

 protected:
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
  void MouseMove(ui::TShiftState shift, int x, int y) override;
  void MouseUp(ui::TMouseButton button, ui::TShiftState shift, int x, int y) override;

 private:
  class TGripControl;
  friend class TGripControl;

  TRect Bounds() const;
  void PlaceGrips();
  void ShowGrips(bool show);
  void UpdateRegion();
  void FitTarget();
  POINT ScreenPoint(const ui::TControl& control, int x, int y) const;
  // The outline while the mouse is held, drawn and erased alike (XOR).
  void DrawOutline();
  void BeginDrag();
  void EndDrag();
  TRect TargetRectOf(const TRect& frame) const;
  // The frame's bounds for the mouse at Mouse (screen) while a grip is
  // held, at least MinWidth x MinHeight.
  TRect ResizedBounds(POINT mouse) const;

  void MoveDown(ui::TMouseButton button, int x, int y);
  void MoveMove(int x, int y);
  void MoveUp(int x, int y);
  void GripDown(TGrip grip, ui::TMouseButton button, int x, int y);
  void GripMove(POINT screen);
  void GripUp(POINT screen);

  std::array<std::unique_ptr<TGripControl>, 8> grips_;
  ui::TControl* target_ = nullptr;
  int minWidth_ = 8, minHeight_ = 8;
  int boxSize_ = 5;
  TColor boxColor_ = clBlack;
  int lineSize_ = 2;
  bool resizable_ = true, movable_ = true;
  bool busy_ = false, moving_ = false, resizing_ = false;
  TRect outline_{};      // left, top, right, bottom in the parent's client area
  POINT press_{};        // screen coordinates of the press
  POINT gripOrigin_{};   // screen coordinates of the pressed grip's corner
  TGrip grip_ = grTopLeft;
  RECT range_{};         // the allowed mouse range, grip coordinates (inclusive)
  HDC dc_ = nullptr;     // the parent's, while the mouse is held
};

}  // namespace lumetra
