// The viewer's exchangeable mouse modes. TImageScrollBox hands every mouse
// message on its page to one TMouseHandler; X and Y are pixels of the
// zoomed display copy counted from its top left corner. TDragMouseHandler
// grabs the page with the hand cursor and scrolls it.
#pragma once

#include <string>

#include "base/object.h"
#include "imaging/lumisc.h"
#include "ui/control.h"

namespace lumetra {

class TImageScrollBox;
class TDibGraphic;

// The application's cursor numbers for the hand of the drag mode.
constexpr ui::TCursor crHandOpened = 100;
constexpr ui::TCursor crHandClosed = 101;
// Loads the cursor resources "HANDOPENEDCURSOR" and "HANDCLOSEDCURSOR" and
// registers them with the calling thread's screen (once per thread).
void RegisterViewerCursors();

class TMouseHandler : public TObject {
 public:
  explicit TMouseHandler(TImageScrollBox& viewer) : viewer_(viewer) {}
  TMouseHandler(const TMouseHandler&) = delete;
  TMouseHandler& operator=(const TMouseHandler&) = delete;
  const char* ClassName() const noexcept override { return "TMouseHandler"; }

  // Around every rebuild of the display copy that changes its size or
  // contents, so a mode can take its marks off and put them back.
  virtual void BeforeRedraw() {}
  virtual void AfterRedraw() {}
  virtual void MouseDown(ui::TMouseButton, ui::TShiftState, int, int) { mouseDown_ = true; }
  virtual void MouseUp(ui::TMouseButton, ui::TShiftState, int, int) { mouseDown_ = false; }
  virtual void MouseMove(ui::TShiftState, int, int) {}
  virtual void DblClick() {}
  virtual void Click() {}

  TImageScrollBox& Viewer() const { return viewer_; }
  bool IsMouseDown() const { return mouseDown_; }

 protected:
  TImageScrollBox& viewer_;
  bool mouseDown_ = false;
};

// What the viewer's selection commands need from the rubber-band mode; the
// rubber-band handler implements it beside TMouseHandler.
class TRubberbandSelection {
 public:
  virtual ~TRubberbandSelection() = default;
  virtual void CopySelection() = 0;
  virtual void CropToSelection() = 0;
  virtual void ClearBand() = 0;
  // The selection in document pixels.
  virtual TRect GetSelectionRect() = 0;
};

// What the viewer needs from the annotation mode: the page's marks as it
// edits them, in their text form.
class TAnnotationEditing {
 public:
  virtual ~TAnnotationEditing() = default;
  virtual std::string AnnotationText() const = 0;
  virtual void SetAnnotationText(const std::string& text) = 0;
};

// Grabs the page and drags it: the point under the mouse stays under it.
class TDragMouseHandler : public TMouseHandler {
 public:
  explicit TDragMouseHandler(TImageScrollBox& viewer);
  const char* ClassName() const noexcept override { return "TDragMouseHandler"; }
  void MouseDown(ui::TMouseButton button, ui::TShiftState shift, int x, int y) override;
  void MouseMove(ui::TShiftState shift, int x, int y) override;
  void MouseUp(ui::TMouseButton button, ui::TShiftState shift, int x, int y) override;

 private:
  int startX_ = 0;
  int startY_ = 0;
  ui::TCursor oldCursor_ = ui::crDefault;
};

}  // namespace lumetra
