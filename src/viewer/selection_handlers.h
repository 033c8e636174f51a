// The viewer's two selection modes. Quick select drags a temporary outline
// and hands the zoomed cut-out to OnQuickSelect; the rubber band keeps a
// dotted selection with handles that the viewer's Copy, Crop and Paste
// Into Selection commands work on. Both paint on the inner image control,
// whose pixels are those of the display copy, so scrolling and centring
// need no translation.
#pragma once

#include <cstdint>

#include "ui/control.h"
#include "viewer/mouse_handler.h"
#include "viewer/rubberband.h"

namespace lumetra {

// Registers both modes with the viewer's mouse-mode factories, unless a
// caller registered its own for the mode.
void RegisterSelectionModes();

class TQuickSelectMouseHandler : public TMouseHandler {
 public:
  explicit TQuickSelectMouseHandler(TImageScrollBox& viewer);
  ~TQuickSelectMouseHandler() override;
  const char* ClassName() const noexcept override { return "TQuickSelectMouseHandler"; }
  void MouseDown(ui::TMouseButton button, ui::TShiftState shift, int x, int y) override;
  void MouseMove(ui::TShiftState shift, int x, int y) override;
  void MouseUp(ui::TMouseButton button, ui::TShiftState shift, int x, int y) override;

 private:
  void DrawOutline();
  void ReleaseDC();
  HDC dc_ = nullptr;
  int startX_ = 0, startY_ = 0, currentX_ = 0, currentY_ = 0;
};

// The cursor over a grab handle; Exception "Invalid GrabHandle,
// GrabHandleToCursor" above 8.
ui::TCursor GrabHandleToCursor(std::uint8_t grabHandle);

class TRubberbandMouseHandler : public TMouseHandler, public TRubberbandSelection {
 public:
  explicit TRubberbandMouseHandler(TImageScrollBox& viewer);
  ~TRubberbandMouseHandler() override;
  const char* ClassName() const noexcept override { return "TRubberbandMouseHandler"; }

  void BeforeRedraw() override;
  void AfterRedraw() override;
  void MouseDown(ui::TMouseButton button, ui::TShiftState shift, int x, int y) override;
  void MouseMove(ui::TShiftState shift, int x, int y) override;
  void MouseUp(ui::TMouseButton button, ui::TShiftState shift, int x, int y) override;

  // The band cropped out of the document, by integer division, onto the
  // clipboard; nothing for a band smaller than a document pixel.
  void CopySelection() override;
  // The document becomes the selection (GetSelectionRect).
  void CropToSelection() override;
  void ClearBand() override;
  TRect GetSelectionRect() override;
  // The selection cropped out of the document into Image.
  void CopySelectionTo(TDibGraphic* image);

  const TRubberband& Band() const { return band_; }
  bool ShowGrips() const { return showGrips_; }
  void SetShowGrips(bool value);
  int GripSize() const { return gripSize_; }
  TColor GripColor() const { return gripColor_; }
  // Swaps the band's two colours every 400 ms.
  bool Animated() const { return timer_.Enabled(); }
  void SetAnimated(bool value);

 private:
  void SyncDisplaySize();
  void Paint();
  void Unpaint();
  TRect GripRect(int x, int y) const;

  TRubberband band_;
  ui::TTimer timer_;
  // GDI colours: white dots on navy.
  TColor penColor_ = 0xFFFFFF;
  TColor brushColor_ = 0x800000;  // navy
  int gripSize_ = 6;
  TColor gripColor_ = 0x800000;
  bool showGrips_ = false;
};

}  // namespace lumetra
