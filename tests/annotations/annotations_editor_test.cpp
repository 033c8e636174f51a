#include "annotations/annotations_editor.h"

#include <gtest/gtest.h>

#include "annotations/mark_test_util.h"

namespace lumetra {
namespace {

TEST(AnnotationsEditor, AddsInDrawingOrderAndMarksItselfChanged) {
  TAnnotationsEditor editor;
  EXPECT_FALSE(editor.Changed());
  editor.AddRectangle();
  TMark& note = editor.AddStickNote();
  EXPECT_TRUE(editor.Changed());
  ASSERT_EQ(editor.Count(), 2);
  EXPECT_EQ(editor.IndexOf(&note), 1);
  EXPECT_EQ(editor.Marks(1).text, "Stick Note");
  TMark stranger;
  EXPECT_EQ(editor.IndexOf(&stranger), -1);
  editor.Delete(0);
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
  EXPECT_EQ(editor.Marks(0).color, 0u);
}

TEST(AnnotationsEditor, TextRoundTripsThroughAnotherEditor) {
  TAnnotationsEditor editor;
  for (const TMark& mark : testing::OneMarkOfEachKind()) {
    TMark& added = editor.AddRectangle();
    added = mark;
  }
  TAnnotationsEditor other;
  other.LoadFromText(editor.SaveToText());
  EXPECT_EQ(other.AllMarks(), editor.AllMarks());
  other.LoadFromText("");
  EXPECT_EQ(other.Count(), 0);
}

TEST(AnnotationsEditor, DrawsItsMarksAtItsZoom) {
  TAnnotationsEditor editor;
  editor.SetImageArea({0, 0, 40, 40});
  editor.SetZoom(50);
  TMark& box = editor.AddRectangle();
  box.highlight = false;
  box.color = 0x0000FF;  // red
  editor.SetMarkRect(0, {10, 10, 30, 50});
  EXPECT_EQ(editor.MarkBounds(0), (TRect{5, 5, 15, 20}));
  EXPECT_EQ(editor.MarkBounds(0, 2, 3), (TRect{3, 2, 13, 17}));
  TDibGraphic display;
  display.NewImage(20, 20, ifTrueColor, nullptr, 0, 0);
  editor.DrawMarks(display);
  EXPECT_EQ(display.Pixels(5, 5), 0xFF0000u);
  EXPECT_EQ(display.Pixels(14, 19), 0xFF0000u);
  EXPECT_EQ(display.Pixels(15, 10), 0u);
  EXPECT_EQ(display.Pixels(4, 5), 0u);
}

}  // namespace
}  // namespace lumetra
