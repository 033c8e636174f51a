#include "annotations/marks.h"

#include <gtest/gtest.h>

#include <climits>

namespace lumetra {
namespace {

TEST(Marks, EachKindHasItsDefaults) {
  const TMark note = NewMark(mkStickNote);
  EXPECT_EQ(note.color, 0x00FFFFu);
  EXPECT_EQ(note.text, "Stick Note");
  EXPECT_EQ(note.font.name, "Arial");
  EXPECT_EQ(note.font.size, 12);
  const TMark rectangle = NewMark(mkRectangle);
  EXPECT_EQ(rectangle.color, 0x00FF00u);
  EXPECT_TRUE(rectangle.highlight && rectangle.filled);
  EXPECT_EQ(rectangle.penWidth, 4);
  const TMark line = NewMark(mkLine);
  EXPECT_EQ(line.color, 0x800000u);
  EXPECT_EQ(line.lineDirection, 2);
  EXPECT_EQ(NewMark(mkText).text, "Text");
  EXPECT_EQ(NewMark(mkText).color, 0x00FFFFu);
  const TMark image = NewMark(mkImage);
  EXPECT_EQ(image.color, 0u);
  EXPECT_TRUE(image.picture.empty());
  EXPECT_FALSE(image.transparent);
  EXPECT_STREQ(MarkClassName(mkImage), "TImageMark");
  EXPECT_STREQ(MarkClassName(6), "");
}

TEST(Marks, RectReachingOutOfTheAreaIsClampedUnlessTheAreaIsEmpty) {
  const TRect outside{-10, 5, 700, 900};
  EXPECT_EQ(ClampMarkRect(outside, {0, 0, 640, 480}), (TRect{0, 5, 640, 480}));
  EXPECT_EQ(ClampMarkRect(outside, {0, 0, 0, 480}), outside);
  EXPECT_EQ(ClampMarkRect(outside, {0, 0, 640, 0}), outside);
}

TEST(Marks, ScreenPlacementFollowsZoomAndScroll) {
  const TRect mark{10, 20, 110, 70};
  EXPECT_EQ(MarkScreenBounds(mark, 50, 0, 0), (TRect{5, 10, 55, 35}));
  EXPECT_EQ(MarkScreenBounds(mark, 200, 30, 40), (TRect{-10, 0, 190, 100}));
  // Ties go to the even neighbour: 5 * 50 / 100 = 2.5.
  EXPECT_EQ(MarkScreenBounds({5, 7, 5, 7}, 50, 0, 0), (TRect{2, 4, 2, 4}));
  EXPECT_EQ(MarkScreenBounds({INT_MAX, 0, 0, 0}, 400, INT_MIN, 0).Left, INT_MAX);
}

TEST(Marks, FrameMovedAtHalfZoomGivesDocumentRect) {
  EXPECT_EQ(MarkRectFromScreen({6, 10, 56, 35}, 50, 0, 0), (TRect{12, 20, 112, 70}));
  EXPECT_EQ(MarkRectFromScreen({6, 10, 56, 35}, 200, 4, 10), (TRect{5, 10, 30, 22}));
}

}  // namespace
}  // namespace lumetra
