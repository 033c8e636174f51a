#include "annotations/win32/annotation_mouse_handler.h"

#include <windows.h>

#include <algorithm>

#include "annotations/win32/annotation_property_dialog.h"
#include "base/format.h"
#include "imaging/win32/canvas.h"
#include "platform/platform.h"

namespace lumetra {

void RegisterAnnotationMode(TImageScrollBox& box) {
  box.RegisterMouseHandler(mmAnnotation, [](TImageScrollBox& viewer) {
    return std::make_unique<TAnnotationMouseHandler>(viewer);
  });
}

// The selected mark on the page: a window over it that shows the page's
// pixels (the mark is painted into them), so the resizer has a target, a
// drag inside the frame moves the mark, and a right click opens the menu.
class TAnnotationMouseHandler::TMarkControl : public ui::TControl {
 public:
  explicit TMarkControl(TImageScrollBox& viewer) : viewer_(viewer) {
    CreateOwnWindow(&viewer.Image(), "QvMarkControl", WS_CLIPSIBLINGS, 0, CS_DBLCLKS, nullptr);
    SetCursor(ui::crSizeAll);
  }
  const char* ClassName() const noexcept override { return "TGenericMark"; }
  TControlResizer* resizer = nullptr;

 protected:
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override {
    switch (msg) {
      case WM_ERASEBKGND:
        return 1;
      case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = ::BeginPaint(Handle(), &ps);
        TDibGraphic& display = *viewer_.DisplayGraphic();
        if (!display.Empty()) {
          ::BitBlt(dc, 0, 0, Width(), Height(), display.Canvas().Handle(), Left(), Top(), SRCCOPY);
        }
        ::EndPaint(Handle(), &ps);
        return 0;
      }
      default:
        return TControl::WndProc(msg, wParam, lParam);
    }
  }
  // A drag on the mark is a drag of its frame, whose client area starts a
  // grip's width further out.
  void MouseDown(ui::TMouseButton button, ui::TShiftState shift, int x, int y) override {
    if (resizer && resizer->OnMouseDown) {
      resizer->OnMouseDown(resizer, button, shift, x + resizer->BoxSize(),
                           y + resizer->BoxSize());
    }
  }
  void MouseMove(ui::TShiftState shift, int x, int y) override {
    if (resizer && resizer->OnMouseMove) {
      resizer->OnMouseMove(resizer, shift, x + resizer->BoxSize(), y + resizer->BoxSize());
    }
  }
  void MouseUp(ui::TMouseButton button, ui::TShiftState shift, int x, int y) override {
    if (resizer && resizer->OnMouseUp) {
      resizer->OnMouseUp(resizer, button, shift, x + resizer->BoxSize(), y + resizer->BoxSize());
    }
  }

 private:
  TImageScrollBox& viewer_;
};

TAnnotationMouseHandler::TAnnotationMouseHandler(TImageScrollBox& viewer)
    : TMouseHandler(viewer) {
  viewer.Image().SetCursor(ui::crDefault);
  const ui::TMenuItemDef rows[] = {
      {0, "PropertiesMenu", "Properties...", "", 0, [this](TObject*) { ShowMarkProperties(); }},
      {0, "DeleteMenu", "Delete", "", 0, [this](TObject*) { DeleteMark(); }},
  };
  menu_.Build(rows);
  editor_.SetResolution(platform::ScreenDpiX());
  // The handler's marks are painted into each new display copy, after
  // whatever the application does with it.
  savedRedraw_ = std::move(viewer.OnRedraw);
  viewer.OnRedraw = [this](TDibGraphic* graphic) {
    if (savedRedraw_) savedRedraw_(graphic);
    PaintMarks();
  };
  savedNewGraphic_ = std::move(viewer.OnNewGraphic);
  viewer.OnNewGraphic = [this](TDibGraphic* graphic) { NewGraphic(graphic); };
  NewGraphic(viewer.Graphic());
}

TAnnotationMouseHandler::~TAnnotationMouseHandler() {
  viewer_.OnNewGraphic = std::move(savedNewGraphic_);
  viewer_.OnRedraw = std::move(savedRedraw_);
  resizer_.reset();
  markControl_.reset();
  // The marks leave the page with the mode (the viewer keeps their text).
  if (editor_.Count() && viewer_.Image().Handle()) {
    editor_.Clear();
    Repaint();
  }
}

ui::TControl* TAnnotationMouseHandler::MarkControl() const { return markControl_.get(); }

void TAnnotationMouseHandler::NewGraphic(TDibGraphic* graphic) {
  if (savedNewGraphic_) savedNewGraphic_(graphic);
  Deselect();
  editor_.Clear();
  if (graphic) editor_.SetImageArea({0, 0, graphic->Width(), graphic->Height()});
  editor_.SetResolution(platform::ScreenDpiX());
  editor_.SetVisible(true);
  editor_.SetZoom(viewer_.ZoomPercent());
}

void TAnnotationMouseHandler::SetAnnotationText(const std::string& text) {
  Deselect();
  const TDibGraphic& page = *viewer_.Graphic();
  editor_.SetImageArea({0, 0, page.Width(), page.Height()});
  // A damaged text keeps the marks before the damage, shown; the error
  // goes on to the caller.
  try {
    editor_.LoadFromText(text);
  } catch (...) {
    Repaint();
    throw;
  }
  Repaint();
}

void TAnnotationMouseHandler::PaintMarks() {
  TDibGraphic& display = *viewer_.DisplayGraphic();
  // A centred page is shown without its marks, and they take no clicks.
  editor_.SetVisible(!viewer_.Centered());
  if (display.Empty() || !editor_.Visible()) return;
  editor_.SetZoom(viewer_.ZoomPercent());
  editor_.DrawMarks(display);  // leaves out a mark it cannot draw
}

// Rebuilds the display copy with the marks as they now are, keeping the
// part of the page in view.
void TAnnotationMouseHandler::Repaint() {
  if (viewer_.Graphic()->Empty()) return;
  const int x = viewer_.HorzScrollBar().Position(), y = viewer_.VertScrollBar().Position();
  viewer_.Redraw(false);
  viewer_.HorzScrollBar().SetPosition(x);
  viewer_.VertScrollBar().SetPosition(y);
  if (markControl_) markControl_->Invalidate();
}

void TAnnotationMouseHandler::AfterRedraw() {
  editor_.SetVisible(!viewer_.Centered());
  editor_.SetZoom(viewer_.ZoomPercent());
  if (!editor_.Visible()) selected_ = -1;
  PlaceSelection();
}

int TAnnotationMouseHandler::MarkAt(int x, int y) const {
  const auto& marks = editor_.AllMarks();
  for (int i = editor_.Count() - 1; i >= 0; --i) {
    if (!marks[static_cast<std::size_t>(i)].visible) continue;
    const TRect r = editor_.MarkBounds(i);
    if (x >= r.Left && x < r.Right && y >= r.Top && y < r.Bottom) return i;
  }
  return -1;
}

void TAnnotationMouseHandler::MouseDown(ui::TMouseButton button, ui::TShiftState shift, int x,
                                        int y) {
  TMouseHandler::MouseDown(button, shift, x, y);
  if (viewer_.Centered()) return;
  const int hit = MarkAt(x, y);
  if (hit < 0) {
    Deselect();
    editor_.SetEditMode(false);
    return;
  }
  SelectMark(hit);
  if (button == ui::mbRight) {
    POINT p{x, y};
    ::ClientToScreen(viewer_.Image().Handle(), &p);
    menu_.Popup(p.x, p.y, viewer_.Image().Handle());
  }
}

void TAnnotationMouseHandler::SelectMark(int index) {
  if (index < 0 || index >= editor_.Count()) return;
  editor_.SetEditMode(false);
  selected_ = index;
  if (!markControl_) {
    markControl_ = std::make_unique<TMarkControl>(viewer_);
    markControl_->SetPopupMenu(&menu_);
    resizer_ = std::make_unique<TControlResizer>(viewer_.Image());
    resizer_->SetBoxColor(0xFF0000);  // blue
    resizer_->SetPopupMenu(&menu_);
    resizer_->OnMoved = [this](TObject*, const TRect&, const TRect&) { FrameChanged(true); };
    resizer_->OnResized = [this](TObject*, const TRect&, const TRect&) { FrameChanged(false); };
    markControl_->resizer = resizer_.get();
  }
  editor_.SetEditMode(true);
  PlaceSelection();
}

int TAnnotationMouseHandler::AddMark(TMarkKind kind, const TRect& rect) {
  if (kind < mkStickNote || kind > mkImage) {
    throw ELumetraError(Format("Invalid mark kind (%d)", static_cast<int>(kind)));
  }
  TRect place = rect;
  if (IsRectEmpty(place)) {
    // A new mark has no rectangle of its own; one without area could be
    // neither seen nor grabbed.
    constexpr int kInset = 16, kWidth = 120, kHeight = 60;  // display pixels
    const int x = viewer_.HorzScrollBar().Position() + kInset;
    const int y = viewer_.VertScrollBar().Position() + kInset;
    place = MarkRectFromScreen({x, y, x + kWidth, y + kHeight}, editor_.Zoom(), 0, 0);
  }
  switch (kind) {
    case mkStickNote: editor_.AddStickNote(); break;
    case mkRectangle: editor_.AddRectangle(); break;
    case mkLine: editor_.AddLine(); break;
    case mkText: editor_.AddText(); break;
    case mkImage: editor_.AddImage(); break;
  }
  const int index = editor_.Count() - 1;
  editor_.SetMarkRect(index, place);
  modified_ = true;
  Repaint();
  SelectMark(index);
  return index;
}

// The mark's window and frame at the mark's place on the display copy.
void TAnnotationMouseHandler::PlaceSelection() {
  if (!markControl_) return;
  if (selected_ < 0 || selected_ >= editor_.Count()) {
    markControl_->Hide();
    resizer_->SetVisible(false);
    return;
  }
  const TRect r = editor_.MarkBounds(selected_);
  const int w = std::max(r.Right - r.Left, 1), h = std::max(r.Bottom - r.Top, 1);
  markControl_->SetBounds(r.Left, r.Top, w, h);
  markControl_->Show();
  markControl_->Invalidate();
  const int b = resizer_->BoxSize();
  if (resizer_->TargetControl() != markControl_.get()) {
    resizer_->SetTargetControl(markControl_.get());
  }
  resizer_->SetBounds(r.Left - b, r.Top - b, w + 2 * b, h + 2 * b);
  resizer_->SetVisible(true);
}

void TAnnotationMouseHandler::Deselect() {
  selected_ = -1;
  PlaceSelection();
}

// The frame was moved or resized: the mark's window has its new place on
// the display copy, which becomes the mark's rectangle in the document.
void TAnnotationMouseHandler::FrameChanged(bool moved) {
  if (selected_ < 0 || !markControl_) return;
  const RECT b = markControl_->BoundsRect();
  TRect rect = MarkRectFromScreen({b.left, b.top, b.right, b.bottom}, editor_.Zoom(), 0, 0);
  // A mark moved against the page's edge stops there with its size, instead
  // of being cut by the edge (a mark moved off the page would be cut to
  // nothing and lost).
  const TRect page = editor_.ImageArea();
  if (moved && !IsRectEmpty(page)) {
    const int dx = rect.Right > page.Right ? page.Right - rect.Right
                   : rect.Left < page.Left ? page.Left - rect.Left
                                           : 0;
    const int dy = rect.Bottom > page.Bottom ? page.Bottom - rect.Bottom
                   : rect.Top < page.Top    ? page.Top - rect.Top
                                            : 0;
    rect = {rect.Left + dx, rect.Top + dy, rect.Right + dx, rect.Bottom + dy};
  }
  editor_.SetMarkRect(selected_, rect);
  modified_ = true;
  Repaint();
  PlaceSelection();
}

void TAnnotationMouseHandler::DeleteMark() {
  if (selected_ < 0 || selected_ >= editor_.Count()) return;
  editor_.Delete(selected_);
  modified_ = true;
  Deselect();
  Repaint();
}

void TAnnotationMouseHandler::ShowMarkProperties() {
  if (selected_ < 0 || selected_ >= editor_.Count()) return;
  TAnnotationsPropertyDialog dialog;
  TMark mark = editor_.Marks(selected_);
  dialog.LoadFromMark(mark);
  if (dialog.ShowModal() != ui::mrOk) return;
  // Whatever the dialog could apply before a bad field stays applied.
  const auto store = [&] {
    editor_.Marks(selected_) = mark;
    modified_ = true;
    Repaint();
    PlaceSelection();
  };
  try {
    dialog.ApplyToMark(mark, editor_.ImageArea());
  } catch (...) {
    store();
    throw;
  }
  store();
}

}  // namespace lumetra
