#include "viewer/mouse_handler.h"

#include <windows.h>

#include "viewer/image_scroll_box.h"

namespace lumetra {

void RegisterViewerCursors() {
  ui::TScreen& screen = ui::Screen();
  if (screen.HasCursor(crHandOpened)) return;
  // The cursors live in the module that holds this code (the program, or
  // the server DLL that a host loaded); the system shares a loaded resource
  // cursor, so each thread's screen may hold the same handles.
  const HINSTANCE module = ui::TApplication::Instance();
  if (HCURSOR opened = ::LoadCursorA(module, "HANDOPENEDCURSOR")) {
    screen.SetCursors(crHandOpened, opened);
  }
  if (HCURSOR closed = ::LoadCursorA(module, "HANDCLOSEDCURSOR")) {
    screen.SetCursors(crHandClosed, closed);
  }
}

TDragMouseHandler::TDragMouseHandler(TImageScrollBox& viewer) : TMouseHandler(viewer) {
  viewer.Image().SetCursor(crHandOpened);
}

void TDragMouseHandler::MouseDown(ui::TMouseButton button, ui::TShiftState shift, int x, int y) {
  TImageScrollBox& v = viewer_;
  const bool scrollable = v.HorzScrollBar().IsScrollBarVisible() ||
                          v.VertScrollBar().IsScrollBarVisible();
  if (!scrollable || button == ui::mbRight) return;
  TMouseHandler::MouseDown(button, shift, x, y);
  startX_ = x;
  startY_ = y;
  oldCursor_ = ui::Screen().Cursor();
  ui::Screen().SetCursor(crHandClosed);
}

void TDragMouseHandler::MouseMove(ui::TShiftState, int x, int y) {
  if (!mouseDown_) return;
  TImageScrollBox& v = viewer_;
  // The start point stays: the image point under the mouse stays under it.
  v.HorzScrollBar().SetPosition(v.HorzScrollBar().Position() + startX_ - x);
  v.VertScrollBar().SetPosition(v.VertScrollBar().Position() + startY_ - y);
  v.Repaint();
  v.Image().Repaint();
}

void TDragMouseHandler::MouseUp(ui::TMouseButton button, ui::TShiftState shift, int x, int y) {
  if (!mouseDown_) return;
  if (ui::Screen().Cursor() == crHandClosed) ui::Screen().SetCursor(oldCursor_);
  TMouseHandler::MouseUp(button, shift, x, y);
}

}  // namespace lumetra
