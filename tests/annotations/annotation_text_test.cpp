#include "annotations/annotation_text.h"

#include <gtest/gtest.h>

#include "annotations/mark_test_util.h"

namespace lumetra {
namespace {

using testing::MarkPicture;
using testing::OneMarkOfEachKind;

std::vector<TMark> Load(std::string_view text) {
  std::vector<TMark> marks;
  LoadMarksFromText(text, marks);
  return marks;
}

// The form, character for character: a peer reading the tag relies on it.
struct Layout {
  const char* name;
  TMark mark;
  std::string text;
};

TMark With(TMarkKind kind, TRect rect, void (*change)(TMark&) = nullptr) {
  TMark mark = NewMark(kind);
  mark.markRect = rect;
  if (change) change(mark);
  return mark;
}

class AnnotationLayout : public ::testing::TestWithParam<Layout> {};

TEST_P(AnnotationLayout, IsWrittenAndReadCharacterForCharacter) {
  EXPECT_EQ(SaveMarksToText({GetParam().mark}), GetParam().text);
  EXPECT_EQ(Load(GetParam().text), std::vector<TMark>{GetParam().mark});
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, AnnotationLayout,
    ::testing::Values(
        Layout{"DefaultRectangle", With(mkRectangle, {10, 20, 110, 70}),
               "(1)(2)(10)(20)(110)(70)(1)(65280)(1)(1)(4)"},
        Layout{"StickyNote", With(mkStickNote, {1, 2, 3, 4}, [](TMark& m) {
                 m.text = "a)b";
                 m.font = {255, "Arial", 12, true, false, false, true};
               }),
               "(1)(1)(1)(2)(3)(4)(1)(65535)(3)a)b(255)(5)Arial(12)(1)(0)(0)(1)"},
        Layout{"Line", With(mkLine, {0, 0, 9, 9}, [](TMark& m) { m.lineDirection = 1; }),
               "(1)(3)(0)(0)(9)(9)(1)(8388608)(4)(1)"},
        Layout{"ImageWithoutPicture", With(mkImage, {0, 0, 0, 0}),
               "(1)(5)(0)(0)(0)(0)(1)(0)(0)(0)"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AnnotationText, NoMarksIsTheEmptyString) {
  EXPECT_EQ(SaveMarksToText({}), "");
  EXPECT_TRUE(Load("").empty());
}

// A picture's size comes twice before its plain anymap: P1, P2 or P3.
class AnnotationPicture : public ::testing::TestWithParam<std::pair<TImageFormat, const char*>> {};

TEST_P(AnnotationPicture, TravelsAsItsAnymap) {
  TMark image = NewMark(mkImage);
  image.picture = MarkPicture(GetParam().first);
  const std::string text = SaveMarksToText({image});
  const std::string head = "(1)(5)(0)(0)(0)(0)(1)(0)(0)(1)";
  ASSERT_EQ(text.compare(0, head.size(), head), 0) << text;
  const std::string anymap = text.substr(text.find(GetParam().second));
  const std::string size = "(" + std::to_string(anymap.size()) + ")";
  EXPECT_EQ(text, head + size + size + anymap);
  EXPECT_EQ(Load(text), std::vector<TMark>{image});
}

INSTANTIATE_TEST_SUITE_P(Formats, AnnotationPicture,
                         ::testing::Values(std::pair{ifBlackWhite, "P1"},
                                           std::pair{ifGray256, "P2"},
                                           std::pair{ifTrueColor, "P3"}));

TEST(AnnotationText, EveryKindRoundTripsWithItsFields) {
  const std::vector<TMark> marks = OneMarkOfEachKind();
  const std::string text = SaveMarksToText(marks);
  EXPECT_EQ(Load(text), marks);
}

TEST(AnnotationText, NonZeroBooleansAndUnknownKindsAreRead) {
  const std::vector<TMark> marks = Load("(2)(9)(2)(0)(0)(5)(5)(-3)(255)(7)(0)(1)");
  ASSERT_EQ(marks.size(), 1u);
  EXPECT_TRUE(marks[0].visible && marks[0].highlight);
  EXPECT_FALSE(marks[0].filled);
}

struct Damaged {
  const char* name;
  std::string text;
  const char* error;
  std::size_t marksKept;
};

class DamagedAnnotationText : public ::testing::TestWithParam<Damaged> {};

TEST_P(DamagedAnnotationText, RaisesItsErrorAndKeepsWhatWasRead) {
  std::vector<TMark> marks;
  try {
    LoadMarksFromText(GetParam().text, marks);
    FAIL() << "no error";
  } catch (const Exception& error) {
    EXPECT_EQ(error.Message(), GetParam().error);
  }
  EXPECT_EQ(marks.size(), GetParam().marksKept);
}

const std::string kRectangle = "(2)(10)(20)(110)(70)(1)(65280)(1)(1)(4)";
const std::string kImageHead = "(1)(5)(0)(0)(1)(1)(1)(0)(0)(1)";

INSTANTIATE_TEST_SUITE_P(
    Forms, DamagedAnnotationText,
    ::testing::Values(
        Damaged{"CutInsideTheSecondMark", "(2)" + kRectangle + "(2)(10)",
                "Invalid position in ReadInteger", 2},
        Damaged{"NoOpeningParenthesis", "2", "( expected in ReadInteger", 0},
        Damaged{"NoClosingParenthesis", "(1)(2)(10", "Invalid position in ReadInteger", 1},
        Damaged{"NotANumber", "(1)(2)(1O)", "'1O' is not a valid integer value", 1},
        Damaged{"StringBeyondTheEnd", "(1)(4)(0)(0)(1)(1)(1)(0)(9)abc",
                "Invalid position in ReadString", 1},
        Damaged{"NegativeStringLength", "(1)(4)(0)(0)(1)(1)(1)(0)(-2)abc",
                "Invalid position in ReadString", 1},
        Damaged{"MoreMarksThanTheTextHolds", "(2000000000)" + kRectangle,
                "Invalid mark count in LoadFromText", 0},
        Damaged{"PictureSizesDisagree", kImageHead + "(9)(8)P1 1 1 1",
                "Invalid picture in ReadImage", 1},
        Damaged{"PictureNotAnAnymap", kImageHead + "(5)(5)hello", "Invalid picture in ReadImage",
                1},
        Damaged{"PictureClaimsMorePixelsThanItHolds", kImageHead + "(15)(15)P1 60000 60000 1",
                "Invalid picture in ReadImage", 1}),
    [](const auto& info) { return std::string(info.param.name); });

// A text cut anywhere raises an error and reads nothing past its end; under
// the sanitizers this is where an unbounded read would show.
TEST(AnnotationText, EveryCutOfAPageRaises) {
  const std::string text = SaveMarksToText(OneMarkOfEachKind());
  for (std::size_t length = 1; length < text.size(); ++length) {
    std::vector<TMark> marks;
    EXPECT_THROW(LoadMarksFromText(text.substr(0, length), marks), Exception) << length;
  }
}

}  // namespace
}  // namespace lumetra
