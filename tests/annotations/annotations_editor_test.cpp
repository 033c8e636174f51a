#include "annotations/annotations_editor.h"

#include <gtest/gtest.h>

#include "imaging/dib_graphic.h"

namespace lumetra {
namespace {

TEST(AnnotationsEditor, AddsInDrawingOrderAndMarksItselfChanged) {
  TAnnotationsEditor editor;
  EXPECT_FALSE(editor.Changed());
  editor.AddRectangle();
  TMark& note = editor.AddStickNote();
  EXPECT_TRUE(editor.Changed());
  EXPECT_EQ(editor.IndexOf(&note), 1);
  editor.Delete(0);
  ASSERT_EQ(editor.Count(), 1);
  EXPECT_EQ(editor.Marks(0).kind, mkStickNote);
  EXPECT_THROW(editor.Delete(1), ELumetraError);
}

TEST(AnnotationsEditor, LoadHoldsMarksToThePageAndKeepsThemWhenTheTextBreaksOff) {
  TAnnotationsEditor editor;
  editor.SetImageArea({0, 0, 100, 50});
  editor.AddLine();
  EXPECT_THROW(editor.LoadFromText("(2)(2)(-5)(10)(300)(40)(1)(0)(1)(1)(4)(2)(1"), Exception);
  ASSERT_EQ(editor.Count(), 2);  // the line went; the rectangle and the cut mark came
  EXPECT_EQ(editor.Marks(0).markRect, (TRect{0, 10, 100, 40}));
  editor.LoadFromText("");
  EXPECT_EQ(editor.Count(), 0);
}

TEST(AnnotationsEditor, PlacesMarksAtItsZoomAndTheScrollPosition) {
  TAnnotationsEditor editor;
  editor.SetImageArea({0, 0, 40, 40});
  editor.SetZoom(50);
  editor.AddRectangle();
  editor.SetMarkRect(0, {10, 10, 30, 50});
  EXPECT_EQ(editor.MarkBounds(0), (TRect{5, 5, 15, 20}));
  EXPECT_EQ(editor.MarkBounds(0, 2, 3), (TRect{3, 2, 13, 17}));
}

// A page may carry a mark too large to draw: the marks above it still show.
TEST(AnnotationsEditor, DrawsTheMarksAboveOneThatCannotBeDrawn) {
  TAnnotationsEditor editor;
  editor.SetImageArea({0, 0, 20000, 20000});
  editor.SetZoom(1);
  editor.AddRectangle();
  editor.SetMarkRect(0, {0, 0, 20000, 20000});
  TMark& small = editor.AddRectangle();
  small.markRect = {100, 100, 1000, 1000};
  small.color = 0x00FF0000;  // blue
  small.highlight = false;
  TDibGraphic display;
  display.NewImage(200, 200, ifTrueColor, nullptr, 0, 0);
  display.Fill(0xFFFFFF);
  editor.DrawMarks(display);
  EXPECT_EQ(display.Pixels(5, 5), 0x0000FFu);
}

}  // namespace
}  // namespace lumetra
