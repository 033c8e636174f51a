#include "viewer/image_scroll_box.h"

#include <windows.h>

#include <algorithm>
#include <cmath>

#include "base/format.h"
#include "imaging/win32/canvas.h"
#include "platform/platform.h"
#include "viewer/selection_handlers.h"

namespace lumetra {

// --- scroll bars ---------------------------------------------------------------

int TControlScrollBar::MaxPosition() const {
  const int client = bar_ == SB_HORZ ? box_.ClientWidth() : box_.ClientHeight();
  return std::max(0, range_ - client);
}

bool TControlScrollBar::IsScrollBarVisible() const {
  const int client = bar_ == SB_HORZ ? box_.ClientWidth() : box_.ClientHeight();
  return visible_ && range_ > client;
}

void TControlScrollBar::SetRange(int value) {
  range_ = std::max(value, 0);
  Update();
}

void TControlScrollBar::SetPosition(int value) {
  const int clamped = std::clamp(value, 0, visible_ ? MaxPosition() : 0);
  if (clamped == position_) return;
  position_ = clamped;
  Update();
  box_.PlaceImage();
}

void TControlScrollBar::SetVisible(bool value) {
  if (visible_ == value) return;
  visible_ = value;
  if (!visible_) position_ = 0;
  Update();
  box_.PlaceImage();
}

void TControlScrollBar::Update() {
  HWND window = box_.Handle();
  if (!window) return;
  const bool show = visible_ && range_ > 0;
  ::ShowScrollBar(window, bar_, show);
  if (!show) return;
  SCROLLINFO info{};
  info.cbSize = sizeof info;
  info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_DISABLENOSCROLL;
  info.nMin = 0;
  info.nMax = range_ - 1;
  const int client = bar_ == SB_HORZ ? box_.ClientWidth() : box_.ClientHeight();
  info.nPage = static_cast<UINT>(std::max(client, 0));
  info.nPos = position_;
  ::SetScrollInfo(window, bar_, &info, TRUE);
  // A bar whose content fits shows no thumb; it hides as the platform's
  // scrolling control does.
  if (range_ <= client) ::ShowScrollBar(window, bar_, FALSE);
}

// --- construction -------------------------------------------------------------

TImageScrollBox::TImageScrollBox(ui::TControl& parent)
    : graphic_(std::make_unique<TDibGraphic>()),
      readAhead_(std::make_shared<TReadAheadSlot>()) {
  RegisterViewerCursors();
  RegisterSelectionModes(*this);
  CreateOwnWindow(&parent, "QvImageScrollBox",
                  WS_VISIBLE | WS_CLIPCHILDREN | WS_HSCROLL | WS_VSCROLL | WS_TABSTOP,
                  WS_EX_CLIENTEDGE, CS_DBLCLKS, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
  image_ = std::make_unique<ui::TImage>(*this, false, false);
  // The inner control's input is the box's, in the same display-copy pixels.
  image_->OnMouseDown = [this](TObject*, ui::TMouseButton button, ui::TShiftState shift, int x,
                               int y) { ImageMouseDown(button, shift, x, y); };
  image_->OnMouseUp = [this](TObject*, ui::TMouseButton button, ui::TShiftState shift, int x,
                             int y) { ImageMouseUp(button, shift, x, y); };
  image_->OnMouseMove = [this](TObject*, ui::TShiftState shift, int x, int y) {
    ImageMouseMove(shift, x, y);
  };
  image_->OnClick = [this](TObject*) { ImageClick(); };
  image_->OnDblClick = [this](TObject*) { ImageDblClick(); };
  annotations_.SetResolution(platform::ScreenDpiX());
  SetBounds(0, 0, 100, 100);
  horz_.SetTracking(true);
  vert_.SetTracking(true);
  horz_.Update();
  vert_.Update();
  animationTimer_.OnTimer = [this](TObject*) { AnimationTimer(); };
  SetMouseMode(mmDrag);
}

TImageScrollBox::~TImageScrollBox() {
  animationTimer_.SetEnabled(false);
  readAhead_->Clear();
  FreeMouseHandler();
}

void TImageScrollBox::FreeMouseHandler() {
  mouseHandler_ = nullptr;
  ownedHandler_.reset();
}

// --- zoom and redraw ------------------------------------------------------------

void TImageScrollBox::ComputeZoom() {
  const int w = graphic_->Width(), h = graphic_->Height();
  switch (zoomMode_) {
    case zmOriginalSize:
      zoom_ = 100;
      break;
    case zmFullPage:
    case zmFitToPage: {
      vert_.SetVisible(false);
      const float rx = static_cast<float>(static_cast<long double>(ClientWidth()) / w);
      horz_.SetVisible(false);
      const float ry = static_cast<float>(static_cast<long double>(ClientHeight()) / h);
      zoom_ = static_cast<float>(100.0L * (rx < ry ? rx : ry));
      if (zoomMode_ == zmFitToPage && zoom_ > 100) zoom_ = 100;
      break;
    }
    case zmFitWidth: {
      const float r = static_cast<float>(static_cast<long double>(ClientWidth()) / w);
      zoom_ = static_cast<float>(100.0L * r);
      break;
    }
    case zmFitHeight: {
      horz_.SetVisible(false);
      vert_.SetVisible(false);
      const float r = static_cast<float>(static_cast<long double>(ClientHeight()) / h);
      zoom_ = static_cast<float>(100.0L * r);
      break;
    }
    case zmPercent:
      break;
  }
}

void TImageScrollBox::Redraw(bool imageChanged) {
  if (!Parent() || !Visible() || redrawing_) return;
  redrawing_ = true;
  struct Guard {
    bool& flag;
    ~Guard() { flag = false; }
  } guard{redrawing_};

  if (graphic_->Empty()) {
    // Assigning nothing empties an image in place: the display copy keeps
    // its hooks.
    image_->Picture().Assign(nullptr);
    horz_.SetVisible(false);
    vert_.SetVisible(false);
    image_->Hide();
    return;
  }
  ComputeZoom();
  const bool zoomChanged = previousZoom_ != zoom_;
  if (zoomChanged && OnZoomChange) OnZoomChange(this, zoom_);
  previousZoom_ = zoom_;
  if ((imageChanged || zoomChanged) && mouseHandler_) mouseHandler_->BeforeRedraw();
  RebuildDisplayCopy();
  if (OnRedraw) OnRedraw(graphic_.get());
  image_->Show();
  if ((imageChanged || zoomChanged) && mouseHandler_) mouseHandler_->AfterRedraw();
  ZoomApplied(zoom_);
}

void TImageScrollBox::RebuildDisplayCopy() {
  const int w = graphic_->Width(), h = graphic_->Height();
  const long double factor = static_cast<long double>(zoom_) / 100;
  const int dw = std::max(1, static_cast<int>(std::trunc(w * factor)));
  const int dh = std::max(1, static_cast<int>(std::trunc(h * factor)));

  // Each bar gets its new range before it is shown, so a horizontal bar
  // appears at once and the vertical one is decided with the client height
  // it leaves (the old range of a small page would keep it hidden).
  horz_.range_ = dw;
  horz_.position_ = 0;
  horz_.SetVisible(ClientWidth() < dw);
  horz_.Update();
  vert_.range_ = dh;
  vert_.position_ = 0;
  vert_.SetVisible(ClientHeight() < dh);

  TDibGraphic& display = image_->Picture();
  if (antiAliased_ && graphic_->ImageFormat() == ifBlackWhite) {
    antiAliasTransform_.SetTargetWidth(dw);
    antiAliasTransform_.SetTargetHeight(dh);
    antiAliasTransform_.ApplyOnDest(*graphic_, display);
  } else {
    resizeTransform_.SetNewWidth(dw);
    resizeTransform_.SetNewHeight(dh);
    resizeTransform_.SetForceFormat(true);
    resizeTransform_.SetTargetFormat(graphic_->ImageFormat());
    resizeTransform_.ApplyOnDest(*graphic_, display);
  }
  if (annotations_.Visible()) {
    annotations_.SetZoom(zoom_);
    try {
      annotations_.DrawMarks(display);
    } catch (const Exception&) {
      // A mark that cannot be drawn is left out; the page is still shown.
    }
  }

  // Every rebuild scrolls back to the top left corner.
  horz_.position_ = 0;
  vert_.position_ = 0;
  horz_.Update();
  vert_.Update();

  if (centered_) {
    if (mouseHandler_) mouseHandler_->BeforeRedraw();
    imageTop_ = dh < Height() ? static_cast<int>(std::trunc((Height() - dh) / 2.0L)) : 0;
    imageLeft_ = dw < Width() ? static_cast<int>(std::trunc((Width() - dw) / 2.0L)) : 0;
    if (mouseHandler_) mouseHandler_->AfterRedraw();
  } else {
    imageLeft_ = imageTop_ = 0;
  }
  image_->SetBounds(imageLeft_, imageTop_, dw, dh);
  imageRect_ = TRect{imageLeft_, imageTop_, imageLeft_ + dw, imageTop_ + dh};
  image_->Invalidate();
}

void TImageScrollBox::PlaceImage() {
  if (!image_) return;
  const RECT r = image_->BoundsRect();
  image_->SetBounds(imageLeft_ - horz_.position_, imageTop_ - vert_.position_,
                    r.right - r.left, r.bottom - r.top);
}

void TImageScrollBox::SetZoomMode(TZoomMode value) {
  if (value == zoomMode_) return;
  zoomMode_ = value;
  Redraw(false);
}

void TImageScrollBox::SetZoomPercent(float value) {
  // NaN fails every comparison: it must be refused by name.
  if ((zoomMode_ == zmPercent && value == zoom_) || graphic_->Empty() || !(value > 0.1f)) return;
  previousZoom_ = zoom_;
  zoom_ = value > MaxZoomPercent ? static_cast<float>(MaxZoomPercent) : value;
  zoomMode_ = zmPercent;
  if (mouseHandler_) mouseHandler_->BeforeRedraw();
  Redraw(false);
  if (mouseHandler_) mouseHandler_->AfterRedraw();
  if (OnZoomChange) OnZoomChange(this, zoom_);
  ZoomApplied(zoom_);
}

void TImageScrollBox::SetAntiAliased(bool value) {
  if (value == antiAliased_) return;
  antiAliased_ = value;
  if (graphic_->ImageFormat() == ifBlackWhite) Redraw(false);
}

void TImageScrollBox::SetCentered(bool value) {
  if (value == centered_) return;
  centered_ = value;
  if (mouseHandler_) mouseHandler_->BeforeRedraw();
  Redraw(false);
  if (mouseHandler_) mouseHandler_->AfterRedraw();
}

void TImageScrollBox::Resize() {
  TControl::Resize();
  if (!redrawing_) Redraw(false);
}

// --- read-ahead -------------------------------------------------------------------

void TImageScrollBox::SetReadAheadFileName(const std::string& value) {
  readAheadFileName_ = value;
  // No name: what was read ahead is dropped, and a read still running will
  // not store.
  if (value.empty())
    readAhead_->Clear();
  else
    TReadGraphicThread::Start(value, readAhead_);
}

// --- animation ----------------------------------------------------------------------

void TImageScrollBox::SetAnimated(bool value) {
  if (value == animated_) return;
  if (!value || PageCount() <= 1) {
    animationTimer_.SetEnabled(false);
    animated_ = false;
    return;
  }
  // The control grows to the largest frame so that no frame is cut (the
  // pages of a paged document are sized as each is shown).
  int w = image_->Width(), h = image_->Height();
  for (int i = 1; i <= graphic_->FrameCount(); ++i) {
    const TDibGraphic* frame = graphic_->Frames(i);
    w = std::max(w, frame->Width());
    h = std::max(h, frame->Height());
  }
  const RECT r = image_->BoundsRect();
  image_->SetBounds(r.left, r.top, w, h);
  animationTimer_.SetInterval(static_cast<unsigned>(std::max(graphic_->FrameDelay(), 1)));
  animationTimer_.SetEnabled(true);
  animated_ = true;
}

void TImageScrollBox::AnimationTimer() {
  if (PageCount() < 2) return;
  animationTimer_.SetEnabled(false);
  struct Restart {
    TImageScrollBox& box;
    ~Restart() {
      box.animationTimer_.SetInterval(
          static_cast<unsigned>(std::max(box.graphic_->FrameDelay(), 1)));
      box.animationTimer_.SetEnabled(true);
    }
  } restart{*this};
  // Before the first step no frame is selected yet: that also starts at 1.
  int next = CurrentPage() + 1;
  if (next > PageCount() || next < 1) next = 1;
  SetCurrentPage(next);
}

// --- mouse modes --------------------------------------------------------------------

void TImageScrollBox::RegisterMouseHandler(TMouseMode mode, TMouseHandlerFactory factory) {
  if (factory) {
    handlerFactories_[mode] = std::move(factory);
  } else {
    handlerFactories_.erase(mode);
  }
}

void TImageScrollBox::SetMouseHandler(TMouseHandler* handler) {
  FreeMouseHandler();
  mouseHandler_ = handler;
  if (mouseHandlerOwnership_) ownedHandler_.reset(handler);
}

void TImageScrollBox::SetMouseHandlerOwnership(bool value) {
  mouseHandlerOwnership_ = value;
  if (!value) {
    (void)ownedHandler_.release();  // the caller frees it
  } else if (!ownedHandler_) {
    ownedHandler_.reset(mouseHandler_);
  }
}

void TImageScrollBox::SetMouseMode(TMouseMode value) {
  if (value == mouseMode_) return;
  if (mouseMode_ == mmAnnotation) annotationText_ = CurrentAnnotationText();
  if (value > mmNone) throw ELumetraError(Format("Invalid mouse mode %d", static_cast<int>(value)));
  if (value == mmNone) {
    FreeMouseHandler();
    image_->SetCursor(ui::crDefault);
  } else {
    std::unique_ptr<TMouseHandler> handler;
    if (value == mmDrag) {
      handler = std::make_unique<TDragMouseHandler>(*this);
    } else {
      auto it = handlerFactories_.find(value);
      if (it == handlerFactories_.end()) {
        throw ELumetraError(Format("Mouse mode %d is not available", static_cast<int>(value)));
      }
      handler = it->second(*this);
    }
    // The owned handler is freed before the new one is installed.
    SetMouseHandler(nullptr);
    SetMouseHandlerOwnership(true);
    TAnnotationEditing* editing = dynamic_cast<TAnnotationEditing*>(handler.get());
    SetMouseHandler(handler.release());
    if (value == mmAnnotation && editing) editing->SetAnnotationText(annotationText_);
  }
  mouseMode_ = value;
  if (showAnnotations_ && value != mmAnnotation) {
    ShowAnnotationsReadOnly();
  } else {
    HideAnnotations();
  }
}

TAnnotationEditing* TImageScrollBox::AnnotationEditing() const {
  return mouseMode_ == mmAnnotation ? dynamic_cast<TAnnotationEditing*>(mouseHandler_) : nullptr;
}

std::string TImageScrollBox::CurrentAnnotationText() const {
  if (TAnnotationEditing* editing = AnnotationEditing()) return editing->AnnotationText();
  return annotationText_;
}

TRubberbandSelection* TImageScrollBox::Selection() const {
  return dynamic_cast<TRubberbandSelection*>(mouseHandler_);
}

TRubberbandSelection& TImageScrollBox::RequireSelection() const {
  TRubberbandSelection* selection = Selection();
  if (!selection) throw ELumetraError("Rubberband mouse handler not active");
  return *selection;
}

void TImageScrollBox::CopySelection() { RequireSelection().CopySelection(); }

void TImageScrollBox::CropToSelection() {
  TRubberbandSelection& selection = RequireSelection();
  selection.CropToSelection();
  selection.ClearBand();
}

void TImageScrollBox::PasteIntoSelection(const TDibGraphic* source) {
  TRubberbandSelection& selection = RequireSelection();
  if (!source) return;
  const TRect r = selection.GetSelectionRect();
  const_cast<TDibGraphic*>(source)->Draw(graphic_->Canvas(), r);
  ::GdiFlush();
}

// --- mouse dispatch -------------------------------------------------------------------

void TImageScrollBox::ImageMouseDown(ui::TMouseButton button, ui::TShiftState shift, int x, int y) {
  if (mouseHandler_) mouseHandler_->MouseDown(button, shift, x, y);
  if (OnImageMouseDown) OnImageMouseDown(this, button, shift, x, y);
}

void TImageScrollBox::ImageMouseUp(ui::TMouseButton button, ui::TShiftState shift, int x, int y) {
  if (mouseHandler_) mouseHandler_->MouseUp(button, shift, x, y);
  if (OnImageMouseUp) OnImageMouseUp(this, button, shift, x, y);
}

void TImageScrollBox::ImageMouseMove(ui::TShiftState shift, int x, int y) {
  if (mouseHandler_) mouseHandler_->MouseMove(shift, x, y);
  if (OnImageMouseMove) OnImageMouseMove(this, shift, x, y);
}

void TImageScrollBox::ImageClick() {
  if (mouseHandler_) mouseHandler_->Click();
  if (OnImageClick) OnImageClick(this);
}

void TImageScrollBox::ImageDblClick() {
  if (mouseHandler_) mouseHandler_->DblClick();
  if (OnImageDblClick) OnImageDblClick(this);
}

// The box's own input (beside the page) is given in display-copy pixels as
// well, so a mode sees one coordinate system.
void TImageScrollBox::MouseDown(ui::TMouseButton button, ui::TShiftState shift, int x, int y) {
  const RECT r = image_->BoundsRect();
  ImageMouseDown(button, shift, x - r.left, y - r.top);
}
void TImageScrollBox::MouseUp(ui::TMouseButton button, ui::TShiftState shift, int x, int y) {
  const RECT r = image_->BoundsRect();
  ImageMouseUp(button, shift, x - r.left, y - r.top);
}
void TImageScrollBox::MouseMove(ui::TShiftState shift, int x, int y) {
  const RECT r = image_->BoundsRect();
  ImageMouseMove(shift, x - r.left, y - r.top);
}
void TImageScrollBox::Click() { ImageClick(); }
void TImageScrollBox::DblClick() { ImageDblClick(); }

// --- messages ---------------------------------------------------------------------------

void TImageScrollBox::ScrollMessage(int bar, UINT code) {
  if (code != SB_ENDSCROLL) {
    if (!scrolling_) {
      scrolling_ = true;
      if (OnBeginScroll) OnBeginScroll(this);
    }
  } else if (scrolling_) {
    scrolling_ = false;
    if (OnEndScroll) OnEndScroll(this);
  }
  TControlScrollBar& scrollBar = bar == SB_HORZ ? horz_ : vert_;
  const int page = bar == SB_HORZ ? ClientWidth() : ClientHeight();
  SCROLLINFO info{};
  info.cbSize = sizeof info;
  info.fMask = SIF_TRACKPOS;
  ::GetScrollInfo(Handle(), bar, &info);
  int position = scrollBar.Position();
  switch (code) {
    case SB_LINEUP: position -= scrollBar.Increment(); break;
    case SB_LINEDOWN: position += scrollBar.Increment(); break;
    case SB_PAGEUP: position -= page; break;
    case SB_PAGEDOWN: position += page; break;
    case SB_THUMBTRACK:
      if (scrollBar.Tracking()) position = info.nTrackPos;
      break;
    case SB_THUMBPOSITION: position = info.nTrackPos; break;
    case SB_TOP: position = 0; break;
    case SB_BOTTOM: position = scrollBar.MaxPosition(); break;
    default: break;
  }
  scrollBar.SetPosition(position);
  Update();
  image_->Update();
}

LRESULT TImageScrollBox::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_HSCROLL:
    case WM_VSCROLL:
      if (lParam == 0) {
        ScrollMessage(msg == WM_HSCROLL ? SB_HORZ : SB_VERT, LOWORD(wParam));
        return 0;
      }
      break;
    case WM_DESTROY:
      // A mode may hold a device context of this window.
      animationTimer_.SetEnabled(false);
      FreeMouseHandler();
      break;
    default:
      break;
  }
  return TControl::WndProc(msg, wParam, lParam);
}

}  // namespace lumetra
