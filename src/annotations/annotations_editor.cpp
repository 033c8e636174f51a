#include "annotations/annotations_editor.h"

#include "annotations/annotation_text.h"
#include "annotations/mark_painter.h"
#include "base/format.h"

namespace lumetra {

TMark& TAnnotationsEditor::Marks(int index) {
  if (index < 0 || index >= Count())
    throw ELumetraError(Format("Mark index out of bounds (%d)", index));
  return marks_[static_cast<std::size_t>(index)];
}

int TAnnotationsEditor::IndexOf(const TMark* mark) const {
  for (std::size_t i = 0; i < marks_.size(); ++i)
    if (&marks_[i] == mark) return static_cast<int>(i);
  return -1;
}

void TAnnotationsEditor::Delete(int index) {
  Marks(index);
  marks_.erase(marks_.begin() + index);
}

void TAnnotationsEditor::Clear() {
  marks_.clear();
  changed_ = true;
}

TMark& TAnnotationsEditor::Add(TMarkKind kind) {
  changed_ = true;
  marks_.push_back(NewMark(kind));
  return marks_.back();
}

void TAnnotationsEditor::SetMarkRect(int index, const TRect& rect) {
  Marks(index).markRect = ClampMarkRect(rect, imageArea_);
}

TRect TAnnotationsEditor::MarkBounds(int index, int scrollX, int scrollY) const {
  return MarkScreenBounds(marks_.at(static_cast<std::size_t>(index)).markRect, zoom_, scrollX,
                          scrollY);
}

void TAnnotationsEditor::DrawMarks(TDibGraphic& display) const {
  for (const TMark& mark : marks_) {
    try {
      PaintMark(display, mark, imageArea_, zoom_, resolution_);
    } catch (const Exception&) {
      // A mark that cannot be drawn is left out; the ones above it still show.
    }
  }
}

std::string TAnnotationsEditor::SaveToText() const {
  return SaveMarksToText(marks_);
}

void TAnnotationsEditor::LoadFromText(const std::string& text) {
  Clear();
  std::vector<TMark> read;
  // Each mark read joins the editor as it would through its Add, its
  // rectangle held to the page, whether or not the rest of the text reads.
  const auto adopt = [&] {
    marks_.reserve(read.size());
    for (TMark& mark : read) {
      mark.markRect = ClampMarkRect(mark.markRect, imageArea_);
      marks_.push_back(std::move(mark));
    }
  };
  try {
    LoadMarksFromText(text, read);
  } catch (...) {
    adopt();
    throw;
  }
  adopt();
}

}  // namespace lumetra
