// TImageScrollBox: the scrolling, zooming viewer of one document image.
// It keeps the document (`Graphic`), builds a zoomed display copy from it
// once per redraw (never per paint), shows that copy in an inner image
// control scrolled inside its client area, loads and saves through the
// format registry, reads the next file ahead on a worker thread, cycles
// the frames of a multi-frame image, and hands mouse input on the page to
// one exchangeable mouse mode.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "annotations/annotations_editor.h"
#include "imaging/dib_graphic.h"
#include "transforms/convolution_transforms.h"
#include "transforms/resize_transform.h"
#include "ui/controls.h"
#include "viewer/mouse_handler.h"
#include "viewer/read_graphic_thread.h"

namespace lumetra {

enum TZoomMode : std::uint8_t {
  zmOriginalSize = 0,
  zmFullPage = 1,
  zmFitWidth = 2,
  zmFitHeight = 3,
  zmPercent = 4,
  zmFitToPage = 5,
};

enum TMouseMode : std::uint8_t {
  mmDrag = 0,
  mmQuickSelect = 1,
  mmRubberband = 2,
  mmAnnotation = 3,
  mmNone = 4,
};

class TImageScrollBox;

using TZoomChangeEvent = std::function<void(TImageScrollBox* sender, float zoom)>;
using TBeforeSaveEvent = std::function<void(TImageScrollBox* sender, TDibGraphic* graphic)>;
using TRedrawEvent = std::function<void(TDibGraphic* graphic)>;
using TNewGraphicEvent = std::function<void(TDibGraphic* graphic)>;
using TQuickSelectEvent =
    std::function<void(TImageScrollBox* sender, TDibGraphic* graphic, const TRect& rect)>;
using TRubberbandChangeEvent = std::function<void(const TRect& rect)>;

// The modes other than drag and none come from modules above the viewer;
// the form that owns a box registers their factories on it, so each window
// (and each thread's windows) has its own.
using TMouseHandlerFactory = std::function<std::unique_ptr<TMouseHandler>(TImageScrollBox&)>;

// A scroll bar of the box: Range is the extent of the content, Position
// the offset of the view into it.
class TControlScrollBar {
 public:
  TControlScrollBar(TImageScrollBox& box, int bar) : box_(box), bar_(bar) {}
  int Range() const { return range_; }
  void SetRange(int value);
  int Position() const { return position_; }
  void SetPosition(int value);
  bool Visible() const { return visible_; }
  // Shows or hides the bar at once, so the client size changes at once.
  void SetVisible(bool value);
  bool Tracking() const { return tracking_; }
  void SetTracking(bool value) { tracking_ = value; }
  int Increment() const { return 8; }
  // The largest position: the range beyond the client extent.
  int MaxPosition() const;
  // Whether the bar shows on screen (visible and the content is larger).
  bool IsScrollBarVisible() const;

 private:
  friend class TImageScrollBox;
  void Update();
  TImageScrollBox& box_;
  int bar_;
  int range_ = 0;
  int position_ = 0;
  bool visible_ = true;
  bool tracking_ = false;
};

class TImageScrollBox : public ui::TControl {
 public:
  static constexpr double MaxZoomPercent = 1000.0;

  explicit TImageScrollBox(ui::TControl& parent);
  ~TImageScrollBox() override;
  const char* ClassName() const noexcept override { return "TImageScrollBox"; }

  // --- documents -------------------------------------------------------------
  const std::string& FileName() const { return fileName_; }
  // Non-empty: LoadFromFile(name, 1); empty: ClearGraphic.
  void SetFileName(const std::string& value);
  const std::string& ReadAheadFileName() const { return readAheadFileName_; }
  // Starts reading Value ahead; empty drops any read-ahead.
  void SetReadAheadFileName(const std::string& value);
  // Whether a read ahead has finished and waits to be taken.
  bool ReadAheadReady() const { return readAhead_->Holds(); }

  int GetPageCount(const std::string& fileName);
  // Page n >= 1 loads that page only. Page 0 opens a file of several pages
  // as a paged document (LoadPages, showing page 1); a stream of several
  // pages loads every frame.
  void LoadFromFile(const std::string& fileName, int page);
  // Opens FileName as a paged document showing Page: the page count comes
  // from the file's page directory and a page is decoded only when it is
  // shown, so a document of any length costs the memory of one page.
  void LoadPages(const std::string& fileName, int page);
  void LoadFromStream(TStream& stream, const std::string& fileName, int page);
  void SaveToFile(const std::string& fileName);
  void SaveToStream(TStream& stream, const std::string& ext);
  void AppendToStream(TStream& stream, const std::string& ext);
  void AppendToFile(const std::string& fileName);
  void AssignGraphic(const TDibGraphic* source);
  void ClearGraphic();

  TDibGraphic* Graphic() const { return graphic_.get(); }
  TDibGraphic* DisplayGraphic() { return &image_->Picture(); }
  // The inner control that paints the display copy at its top left corner.
  ui::TImage& Image() { return *image_; }
  int PageCount() const { return paged_.count ? paged_.count : graphic_->FrameCount(); }
  int CurrentPage() const { return paged_.count ? paged_.current : graphic_->CurrentFrame(); }
  // Decodes the page (or selects the frame) before anything changes, and
  // processes no messages: a failure leaves the page shown before.
  void SetCurrentPage(int value);
  bool Animated() const { return animated_; }
  void SetAnimated(bool value);

  // --- view ------------------------------------------------------------------
  bool AntiAliased() const { return antiAliased_; }
  void SetAntiAliased(bool value);
  TZoomMode ZoomMode() const { return zoomMode_; }
  void SetZoomMode(TZoomMode value);
  float ZoomPercent() const { return zoom_; }
  void SetZoomPercent(float value);
  bool Centered() const { return centered_; }
  void SetCentered(bool value);
  const TRect& ImageRect() const { return imageRect_; }
  TControlScrollBar& HorzScrollBar() { return horz_; }
  TControlScrollBar& VertScrollBar() { return vert_; }
  // Rebuilds the display copy for the current zoom mode and size.
  virtual void Redraw(bool imageChanged);

  // --- mouse modes -------------------------------------------------------------
  TMouseMode MouseMode() const { return mouseMode_; }
  void SetMouseMode(TMouseMode value);
  // MouseMode := mode then installs what the factory makes; an empty
  // factory unregisters the mode.
  void RegisterMouseHandler(TMouseMode mode, TMouseHandlerFactory factory);
  TMouseHandler* MouseHandler() const { return mouseHandler_; }
  void SetMouseHandler(TMouseHandler* handler);
  bool MouseHandlerOwnership() const { return mouseHandlerOwnership_; }
  // The handler in place is freed by the box exactly while this is set.
  void SetMouseHandlerOwnership(bool value);

  // Selection commands of the rubber-band mode; ELumetraError "Rubberband
  // mouse handler not active" in any other mode.
  void CopySelection();
  void CropToSelection();
  void PasteIntoSelection(const TDibGraphic* source);

  // --- annotations -------------------------------------------------------------
  const std::string& AnnotationText() const { return annotationText_; }
  void SetAnnotationText(const std::string& value) { annotationText_ = value; }
  bool ShowAnnotations() const { return showAnnotations_; }
  void SetShowAnnotations(bool value) { showAnnotations_ = value; }
  // The marks shown read-only over the page; painted into the display copy.
  TAnnotationsEditor& Annotations() { return annotations_; }

  // --- events ------------------------------------------------------------------
  TZoomChangeEvent OnZoomChange;
  TBeforeSaveEvent OnBeforeSave;
  TRedrawEvent OnRedraw;
  TNewGraphicEvent OnNewGraphic;
  TQuickSelectEvent OnQuickSelect;
  TRubberbandChangeEvent OnRubberbandChange;
  ui::TMouseMoveEvent OnImageMouseMove;
  ui::TMouseEvent OnImageMouseDown;
  ui::TMouseEvent OnImageMouseUp;
  TNotifyEvent OnImageClick;
  TNotifyEvent OnImageDblClick;
  TLumetraProgressEvent OnReadWriteProgress;
  // What a codec warned of in a file the box read or wrote, always on the
  // box's thread (a read-ahead's warnings when its image is taken); the
  // sender is the box.
  TWarningEvent OnWarning;
  TNotifyEvent OnBeginScroll;
  TNotifyEvent OnEndScroll;

  // The box's mouse dispatch: the mode first, then the image event. Both
  // the inner control and the box itself send their input here, in
  // display-copy pixels.
  void ImageMouseDown(ui::TMouseButton button, ui::TShiftState shift, int x, int y);
  void ImageMouseUp(ui::TMouseButton button, ui::TShiftState shift, int x, int y);
  void ImageMouseMove(ui::TShiftState shift, int x, int y);
  void ImageClick();
  void ImageDblClick();

 protected:
  // Runs with the installed document after each load or assignment.
  virtual void NewGraphic(TDibGraphic& graphic);
  // Hooks of the annotation layer: show the marks read-only (painted into
  // the display copy), hide them, and follow the zoom.
  virtual void ShowAnnotationsReadOnly();
  virtual void HideAnnotations();
  virtual void ZoomApplied(float zoom) { annotations_.SetZoom(zoom); }
  // The annotation text as the active annotation mode holds it; the base
  // viewer keeps it in AnnotationText.
  virtual std::string CurrentAnnotationText() const;

  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
  void Resize() override;
  void MouseDown(ui::TMouseButton button, ui::TShiftState shift, int x, int y) override;
  void MouseUp(ui::TMouseButton button, ui::TShiftState shift, int x, int y) override;
  void MouseMove(ui::TShiftState shift, int x, int y) override;
  void Click() override;
  void DblClick() override;

 private:
  friend class TControlScrollBar;
  void ComputeZoom();
  void RebuildDisplayCopy();
  void PlaceImage();
  void AfterNewDocument();
  void ScrollMessage(int bar, UINT code);
  void AnimationTimer();
  void FreeMouseHandler();
  TRubberbandSelection* Selection() const;
  TAnnotationEditing* AnnotationEditing() const;
  TRubberbandSelection& RequireSelection() const;
  void WriteGraphic(TStream& stream, const std::string& ext, bool append);
  std::unique_ptr<TDibGraphic> ReadPage(const std::string& fileName, int page);
  // Gives an image the box read or writes the box's progress and warning
  // events; the warnings name the box as their sender. Loaded images lose
  // the warning handler again: they may outlive the box.
  void CarryEvents(TDibGraphic& image);
  void InstallPage(std::unique_ptr<TDibGraphic> page);

  TControlScrollBar horz_{*this, SB_HORZ};
  TControlScrollBar vert_{*this, SB_VERT};
  std::unique_ptr<ui::TImage> image_;  // made once the box has its window
  std::unique_ptr<TDibGraphic> graphic_;
  TResizeTransform resizeTransform_;
  TAntiAliasTransform antiAliasTransform_;
  ui::TTimer animationTimer_;
  std::shared_ptr<TReadAheadSlot> readAhead_;
  // The paged document; count 0 when Graphic holds the whole document.
  struct TPagedDocument {
    std::string fileName;
    int count = 0;
    int current = 0;
  } paged_;

  std::string fileName_;
  std::string readAheadFileName_;
  std::string annotationText_;
  TAnnotationsEditor annotations_;
  TZoomMode zoomMode_ = zmOriginalSize;
  float zoom_ = 100;
  float previousZoom_ = 100;
  bool antiAliased_ = false;
  bool centered_ = false;
  bool showAnnotations_ = false;
  bool redrawing_ = false;
  bool scrolling_ = false;
  bool animated_ = false;
  TMouseMode mouseMode_ = mmNone;
  std::map<TMouseMode, TMouseHandlerFactory> handlerFactories_;
  TMouseHandler* mouseHandler_ = nullptr;
  std::unique_ptr<TMouseHandler> ownedHandler_;  // mouseHandler_ while owned
  bool mouseHandlerOwnership_ = true;
  int imageLeft_ = 0;  // the inner control's place at scroll position 0
  int imageTop_ = 0;
  TRect imageRect_{};
};

}  // namespace lumetra
