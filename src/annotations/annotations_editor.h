// TAnnotationsEditor: the marks of one page in drawing order (later marks
// lie above earlier ones), with the page area they are held to, the zoom
// and display resolution they are shown at, and their text form. The viewer
// owns one and paints its marks over the page.
#pragma once

#include <string>
#include <vector>

#include "annotations/marks.h"
#include "base/object.h"
#include "imaging/dib_graphic.h"

namespace lumetra {

class TAnnotationsEditor : public TObject {
 public:
  TAnnotationsEditor() = default;
  const char* ClassName() const noexcept override { return "TAnnotationsEditor"; }

  int Count() const { return static_cast<int>(marks_.size()); }
  // Index 0..Count-1; raises ELumetraError "Mark index out of bounds (%d)".
  TMark& Marks(int index);
  const std::vector<TMark>& AllMarks() const { return marks_; }
  int IndexOf(const TMark* mark) const;  // -1 when it is not one of these
  void Delete(int index);
  void Clear();  // also sets Changed

  // Each appends a mark of its kind with its defaults (the top of the
  // drawing order), sets Changed and answers the mark.
  TMark& AddStickNote() { return Add(mkStickNote); }
  TMark& AddRectangle() { return Add(mkRectangle); }
  TMark& AddLine() { return Add(mkLine); }
  TMark& AddText() { return Add(mkText); }
  TMark& AddImage() { return Add(mkImage); }

  // MarkRect of mark Index := Rect, held to a non-empty ImageArea.
  void SetMarkRect(int index, const TRect& rect);
  // Where mark Index lies on the display at Zoom and the scroll positions.
  TRect MarkBounds(int index, int scrollX = 0, int scrollY = 0) const;

  bool Changed() const { return changed_; }
  bool EditMode() const { return editMode_; }
  void SetEditMode(bool value) { editMode_ = value; }
  bool Visible() const { return visible_; }
  void SetVisible(bool value) { visible_ = value; }
  double Zoom() const { return zoom_; }
  void SetZoom(double value) { zoom_ = value; }
  int Resolution() const { return resolution_; }
  void SetResolution(int value) { resolution_ = value; }
  const TRect& ImageArea() const { return imageArea_; }
  void SetImageArea(const TRect& value) { imageArea_ = value; }

  // Paints every visible mark, in order, onto Display, a copy of the page
  // at Zoom percent. A mark that cannot be drawn is left out.
  void DrawMarks(TDibGraphic& display) const;

  std::string SaveToText() const;
  // Replaces every mark by those of Text. A damaged text raises its error
  // and leaves the marks read before the damage.
  void LoadFromText(const std::string& text);

 private:
  TMark& Add(TMarkKind kind);

  std::vector<TMark> marks_;
  TRect imageArea_{};
  double zoom_ = 100;
  int resolution_ = 96;
  bool changed_ = false;
  bool editMode_ = false;
  bool visible_ = false;
};

}  // namespace lumetra
