// TAnnotationMouseHandler: the viewer's annotation mode. The page's marks
// are painted into the display copy; a click on one selects it and puts the
// control resizer's frame around it, so dragging the frame or the mark moves
// it and dragging a grip resizes it. A pop-up menu (a right click on a mark)
// offers "Properties..." and "Delete".
#pragma once

#include <memory>
#include <string>

#include "annotations/annotations_editor.h"
#include "ui/menus.h"
#include "viewer/control_resizer.h"
#include "viewer/image_scroll_box.h"
#include "viewer/mouse_handler.h"

namespace lumetra {

// Registers the mode with the box's mouse-mode factories (mmAnnotation).
void RegisterAnnotationMode(TImageScrollBox& box);

class TAnnotationMouseHandler : public TMouseHandler, public TAnnotationEditing {
 public:
  explicit TAnnotationMouseHandler(TImageScrollBox& viewer);
  ~TAnnotationMouseHandler() override;
  const char* ClassName() const noexcept override { return "TAnnotationMouseHandler"; }

  void AfterRedraw() override;
  void MouseDown(ui::TMouseButton button, ui::TShiftState shift, int x, int y) override;

  // Menu commands: edit the selected mark in the properties dialog; delete
  // it. Nothing without a selection.
  virtual void ShowMarkProperties();
  virtual void DeleteMark();
  // Selects mark Index (of the editor) and shows its frame.
  virtual void SelectMark(int index);
  // For callers: a new mark of Kind with its kind's defaults, at Rect of
  // the page, or, when Rect is empty, at the top left of the part of the
  // page in view, in a size that can be seen and grabbed at the zoom. It
  // lies above the others and is selected, so the user drags it into place
  // and sizes it with its frame. Answers its index.
  int AddMark(TMarkKind kind, const TRect& rect = {});

  std::string AnnotationText() const override { return editor_.SaveToText(); }
  void SetAnnotationText(const std::string& text) override;

  TAnnotationsEditor& Editor() { return editor_; }
  // The selected mark's index, -1 for none.
  int Selected() const { return selected_; }
  // Set when the user moved or resized a mark, or edited one.
  bool Modified() const { return modified_; }
  ui::TPopupMenu& PopupMenu() { return menu_; }
  // The frame around the selected mark (null before the first selection).
  TControlResizer* Resizer() const { return resizer_.get(); }
  // The window that stands for the selected mark on the page.
  ui::TControl* MarkControl() const;

 private:
  class TMarkControl;

  void NewGraphic(TDibGraphic* graphic);
  void PaintMarks();
  void Repaint();
  void Deselect();
  void PlaceSelection();
  void FrameChanged(bool moved);
  int MarkAt(int x, int y) const;

  TAnnotationsEditor editor_;
  ui::TPopupMenu menu_;
  std::unique_ptr<TMarkControl> markControl_;
  std::unique_ptr<TControlResizer> resizer_;
  TNewGraphicEvent savedNewGraphic_;
  TRedrawEvent savedRedraw_;
  int selected_ = -1;
  bool modified_ = false;
};

}  // namespace lumetra
