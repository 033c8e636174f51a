#include "viewer/selection_handlers.h"

#include <windows.h>

#include <algorithm>
#include <utility>

#include "imaging/win32/canvas.h"
#include "imaging/win32/clipboard.h"
#include "platform/win32/owners.h"
#include "transforms/geometric_transforms.h"
#include "viewer/image_scroll_box.h"

namespace lumetra {

namespace {

// Crops Source to Rect (absolute coordinates, Right and Bottom excluded).
void CropInto(const TDibGraphic& source, const TRect& rect, TDibGraphic& dest) {
  TCropTransform crop;
  crop.SetUseCoordinates(true);
  crop.SetCropLeft(rect.Left);
  crop.SetCropTop(rect.Top);
  crop.SetCropRight(rect.Right);
  crop.SetCropBottom(rect.Bottom);
  crop.ApplyOnDest(source, dest);
}

// A dotted outline through four corners; LineTo leaves out its end point,
// so the last segment closes on the first pixel.
void Outline(HDC dc, int x1, int y1, int x2, int y2) {
  ::MoveToEx(dc, x1, y1, nullptr);
  ::LineTo(dc, x2, y1);
  ::LineTo(dc, x2, y2);
  ::LineTo(dc, x1, y2);
  ::LineTo(dc, x1, y1);
}

}  // namespace

void RegisterSelectionModes() {
  if (!IsMouseHandlerRegistered(mmQuickSelect)) {
    RegisterMouseHandler(mmQuickSelect, [](TImageScrollBox& viewer) {
      return std::make_unique<TQuickSelectMouseHandler>(viewer);
    });
  }
  if (!IsMouseHandlerRegistered(mmRubberband)) {
    RegisterMouseHandler(mmRubberband, [](TImageScrollBox& viewer) {
      return std::make_unique<TRubberbandMouseHandler>(viewer);
    });
  }
}

// --- quick select -------------------------------------------------------------------

TQuickSelectMouseHandler::TQuickSelectMouseHandler(TImageScrollBox& viewer)
    : TMouseHandler(viewer) {
  viewer.Image().SetCursor(ui::crDefault);
}

TQuickSelectMouseHandler::~TQuickSelectMouseHandler() { ReleaseDC(); }

void TQuickSelectMouseHandler::ReleaseDC() {
  if (dc_) ::ReleaseDC(viewer_.Image().Handle(), dc_);
  dc_ = nullptr;
}

// Inverting twice restores the pixels, so the outline needs no copy of
// what it covers. (A black pen in XOR mode would change nothing at all.)
void TQuickSelectMouseHandler::DrawOutline() {
  if (!dc_) return;
  win32::unique_gdi_object pen(::CreatePen(PS_DOT, 1, RGB(0, 0, 0)));
  win32::select_object usePen(dc_, pen.get());
  const int oldRop = ::SetROP2(dc_, R2_NOTXORPEN);
  const int oldBk = ::SetBkMode(dc_, TRANSPARENT);
  Outline(dc_, startX_, startY_, currentX_, currentY_);
  ::SetBkMode(dc_, oldBk);
  ::SetROP2(dc_, oldRop);
}

void TQuickSelectMouseHandler::MouseDown(ui::TMouseButton button, ui::TShiftState shift, int x,
                                         int y) {
  TImageScrollBox& v = viewer_;
  if (mouseDown_ || v.DisplayGraphic()->Empty()) return;
  TMouseHandler::MouseDown(button, shift, x, y);
  // A press beside the page (the box around a centred copy) starts on its
  // nearest edge.
  startX_ = currentX_ = std::clamp(x, 0, v.DisplayGraphic()->Width());
  startY_ = currentY_ = std::clamp(y, 0, v.DisplayGraphic()->Height());
  dc_ = ::GetDC(v.Image().Handle());
  DrawOutline();
}

void TQuickSelectMouseHandler::MouseMove(ui::TShiftState shift, int x, int y) {
  if (!mouseDown_ || !(shift & ui::ssLeft)) return;
  const TDibGraphic& display = *viewer_.DisplayGraphic();
  DrawOutline();
  currentX_ = std::clamp(x, 0, display.Width() - 1);
  currentY_ = std::clamp(y, 0, display.Height() - 1);
  DrawOutline();
}

void TQuickSelectMouseHandler::MouseUp(ui::TMouseButton button, ui::TShiftState shift, int x,
                                       int y) {
  if (!mouseDown_) return;
  TImageScrollBox& v = viewer_;
  DrawOutline();
  ReleaseDC();
  TMouseHandler::MouseUp(button, shift, x, y);
  TDibGraphic& display = *v.DisplayGraphic();
  const int endX = std::clamp(x, 0, display.Width());
  const int endY = std::clamp(y, 0, display.Height());
  const TRect rect{std::min(startX_, endX), std::min(startY_, endY), std::max(startX_, endX),
                   std::max(startY_, endY)};
  if (rect.Right - rect.Left < 1 || rect.Bottom - rect.Top < 1) return;
  TDibGraphic cut;
  CropInto(display, rect, cut);
  if (v.OnQuickSelect) v.OnQuickSelect(&v, &cut, rect);
}

// --- rubber band -------------------------------------------------------------------

ui::TCursor GrabHandleToCursor(std::uint8_t grabHandle) {
  static constexpr ui::TCursor kCursors[] = {
      ui::crSizeNWSE, ui::crSizeNS, ui::crSizeNESW, ui::crSizeWE, ui::crSizeNWSE,
      ui::crSizeNS,   ui::crSizeNESW, ui::crSizeWE, crHandOpened};
  if (grabHandle >= std::size(kCursors)) throw Exception("Invalid GrabHandle, GrabHandleToCursor");
  return kCursors[grabHandle];
}

TRubberbandMouseHandler::TRubberbandMouseHandler(TImageScrollBox& viewer)
    : TMouseHandler(viewer) {
  viewer.Image().SetCursor(ui::crDefault);
  band_.OnDraw = [this] { Paint(); };
  band_.OnErase = [this] { Unpaint(); };
  band_.OnChange = [this](const TRect& rect) {
    if (viewer_.OnRubberbandChange) viewer_.OnRubberbandChange(rect);
  };
  // The display copy paints over the band; the band follows each paint.
  viewer.DisplayGraphic()->OnAfterDraw = [this](TObject*) {
    if (band_.Visible()) Paint();
  };
  timer_.SetInterval(400);
  timer_.OnTimer = [this](TObject*) {
    std::swap(penColor_, brushColor_);
    if (band_.Visible()) Paint();
  };
  SyncDisplaySize();
}

TRubberbandMouseHandler::~TRubberbandMouseHandler() {
  timer_.SetEnabled(false);
  viewer_.DisplayGraphic()->OnAfterDraw = nullptr;
  band_.OnChange = nullptr;  // the viewer is told nothing while it changes mode
  if (viewer_.Image().Handle()) band_.Clear();
}

void TRubberbandMouseHandler::SyncDisplaySize() {
  const TDibGraphic& display = *viewer_.DisplayGraphic();
  band_.SetDisplaySize(display.Width(), display.Height());
}

TRect TRubberbandMouseHandler::GripRect(int x, int y) const {
  const int half = gripSize_ / 2;
  return {x - half, y - half, x - half + gripSize_, y - half + gripSize_};
}

void TRubberbandMouseHandler::Paint() {
  const TRect c = band_.Corners();
  const int w = band_.DisplayWidth(), h = band_.DisplayHeight();
  auto inside = [&](int x, int y) { return x >= 0 && y >= 0 && x < w && y < h; };
  if (!inside(c.Left, c.Top) || !inside(c.Right, c.Bottom)) return;
  win32::window_dc dc(viewer_.Image().Handle());
  if (!dc) return;
  win32::unique_gdi_object pen(::CreatePen(PS_DOT, 1, penColor_));
  win32::select_object usePen(dc.get(), pen.get());
  ::SetBkMode(dc.get(), OPAQUE);
  ::SetBkColor(dc.get(), brushColor_);
  Outline(dc.get(), c.Left, c.Top, c.Right, c.Bottom);
  if (!showGrips_) return;
  win32::unique_gdi_object brush(::CreateSolidBrush(gripColor_));
  const RECT area{0, 0, w, h};
  for (const auto& [x, y] : {std::pair{c.Left, c.Top}, std::pair{c.Right, c.Top},
                             std::pair{c.Right, c.Bottom}, std::pair{c.Left, c.Bottom}}) {
    const TRect g = GripRect(x, y);
    RECT r{g.Left, g.Top, g.Right, g.Bottom};
    RECT clipped;
    if (::IntersectRect(&clipped, &r, &area)) {
      ::FillRect(dc.get(), &clipped, static_cast<HBRUSH>(brush.get()));
    }
  }
}

// Puts back the display copy's pixels under the four sides and the grips.
void TRubberbandMouseHandler::Unpaint() {
  TDibGraphic& display = *viewer_.DisplayGraphic();
  if (display.Empty()) return;
  win32::window_dc dc(viewer_.Image().Handle());
  if (!dc) return;
  HDC source = display.Canvas().Handle();
  const TRect n = band_.Normalized();
  auto copy = [&](const TRect& r) {
    ::BitBlt(dc.get(), r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top, source, r.Left, r.Top,
             SRCCOPY);
  };
  copy({n.Left, n.Top, n.Right + 1, n.Top + 1});
  copy({n.Left, n.Bottom, n.Right + 1, n.Bottom + 1});
  copy({n.Left, n.Top, n.Left + 1, n.Bottom + 1});
  copy({n.Right, n.Top, n.Right + 1, n.Bottom + 1});
  if (showGrips_) {
    for (const auto& [x, y] : {std::pair{n.Left, n.Top}, std::pair{n.Right, n.Top},
                               std::pair{n.Right, n.Bottom}, std::pair{n.Left, n.Bottom}}) {
      copy(GripRect(x, y));
    }
  }
}

void TRubberbandMouseHandler::SetShowGrips(bool value) {
  if (value == showGrips_) return;
  const bool shown = band_.Visible();
  if (shown) Unpaint();
  showGrips_ = value;
  if (shown) Paint();
}

void TRubberbandMouseHandler::SetAnimated(bool value) { timer_.SetEnabled(value); }

void TRubberbandMouseHandler::BeforeRedraw() {
  SyncDisplaySize();
  band_.BeforeRedraw();
}

void TRubberbandMouseHandler::AfterRedraw() {
  SyncDisplaySize();
  band_.AfterRedraw();
}

void TRubberbandMouseHandler::MouseDown(ui::TMouseButton button, ui::TShiftState shift, int x,
                                        int y) {
  if (viewer_.DisplayGraphic()->Empty()) return;
  TMouseHandler::MouseDown(button, shift, x, y);
  SyncDisplaySize();
  band_.Press(x, y);
}

void TRubberbandMouseHandler::MouseMove(ui::TShiftState shift, int x, int y) {
  if (!mouseDown_) {
    if (!band_.Visible()) return;
    const int hit = band_.HitTest(x, y);
    viewer_.Image().SetCursor(hit == ghNone ? ui::crDefault
                                            : GrabHandleToCursor(static_cast<std::uint8_t>(hit)));
    return;
  }
  if (shift & ui::ssLeft) band_.Drag(x, y);
}

void TRubberbandMouseHandler::MouseUp(ui::TMouseButton button, ui::TShiftState shift, int x,
                                      int y) {
  if (!mouseDown_) return;
  band_.Release();
  TMouseHandler::MouseUp(button, shift, x, y);
}

void TRubberbandMouseHandler::CopySelection() {
  const TDibGraphic& document = *viewer_.Graphic();
  const TRect r = band_.CopyRect(document.Width(), document.Height());
  if (r.Right - r.Left < 1 || r.Bottom - r.Top < 1) return;
  TDibGraphic cut;
  CropInto(document, r, cut);
  CopyToClipboard(cut);
}

TRect TRubberbandMouseHandler::GetSelectionRect() {
  const TDibGraphic& document = *viewer_.Graphic();
  return band_.SelectionRect(document.Width(), document.Height());
}

void TRubberbandMouseHandler::CopySelectionTo(TDibGraphic* image) {
  if (!image) throw ELumetraError("Graphic not assigned!");
  const TRect r = GetSelectionRect();
  if (r.Right - r.Left < 1 || r.Bottom - r.Top < 1) return;
  CropInto(*viewer_.Graphic(), r, *image);
}

void TRubberbandMouseHandler::CropToSelection() {
  const TRect r = GetSelectionRect();
  if (r.Right - r.Left < 1 || r.Bottom - r.Top < 1) return;
  TDibGraphic cut;
  CopySelectionTo(&cut);
  // The document object stays (its class and format settings go on).
  viewer_.Graphic()->Assign(&cut);
  viewer_.Redraw(true);
}

void TRubberbandMouseHandler::ClearBand() { band_.Clear(); }

}  // namespace lumetra
