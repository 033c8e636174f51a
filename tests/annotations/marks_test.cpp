#include "annotations/marks.h"

#include <gtest/gtest.h>

#include <climits>

namespace lumetra {
namespace {

TEST(Marks, EachKindHasItsDefaults) {
  const TMark note = NewMark(mkStickNote), rectangle = NewMark(mkRectangle),
              line = NewMark(mkLine), text = NewMark(mkText), image = NewMark(mkImage);
  EXPECT_EQ(std::make_tuple(note.color, note.text, note.font.name, note.font.size),
            std::make_tuple(0x00FFFFu, std::string("Stick Note"), std::string("Arial"), 12));
  EXPECT_EQ(std::make_tuple(rectangle.color, rectangle.penWidth, rectangle.highlight,
                            rectangle.filled),
            std::make_tuple(0x00FF00u, 4, true, true));
  EXPECT_EQ(std::make_tuple(line.color, line.penWidth, line.lineDirection),
            std::make_tuple(0x800000u, 4, 2));
  EXPECT_EQ(std::make_tuple(text.color, text.text), std::make_tuple(0x00FFFFu, std::string("Text")));
  EXPECT_EQ(std::make_tuple(image.color, image.picture.empty(), image.transparent),
            std::make_tuple(0u, true, false));
}

TEST(Marks, RectReachingOutOfTheAreaIsClampedUnlessTheAreaIsEmpty) {
  const TRect outside{-10, 5, 700, 900};
  EXPECT_EQ(ClampMarkRect(outside, {0, 0, 640, 480}), (TRect{0, 5, 640, 480}));
  EXPECT_EQ(ClampMarkRect(outside, {0, 0, 0, 480}), outside);
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
