#include "annotations/annotation_text.h"

#include <gtest/gtest.h>

#include "annotations/mark_test_util.h"
#include "base/conversions.h"

namespace lumetra {
namespace {

using testing::MarkPicture;
using testing::OneMarkOfEachKind;

std::vector<TMark> Load(std::string_view text) {
  std::vector<TMark> marks;
  LoadMarksFromText(text, marks);
  return marks;
}

TEST(AnnotationText, DefaultRectangleIsWrittenAsTheCharactersOfTheForm) {
  TMark mark = NewMark(mkRectangle);
  mark.markRect = {10, 20, 110, 70};
  const std::string text = "(1)(2)(10)(20)(110)(70)(1)(65280)(1)(1)(4)";
  EXPECT_EQ(SaveMarksToText({mark}), text);
  EXPECT_EQ(Load(text), std::vector<TMark>{mark});
}

TEST(AnnotationText, NoMarksIsTheEmptyString) {
  EXPECT_EQ(SaveMarksToText({}), "");
  EXPECT_TRUE(Load("").empty());
}

TEST(AnnotationText, StickyNoteWritesTextThenFontInItsOrder) {
  TMark note = NewMark(mkStickNote);
  note.markRect = {1, 2, 3, 4};
  note.text = "a)b";
  note.font = {255, "Arial", 12, true, false, false, true};
  EXPECT_EQ(SaveMarksToText({note}),
            "(1)(1)(1)(2)(3)(4)(1)(65535)(3)a)b(255)(5)Arial(12)(1)(0)(0)(1)");
}

TEST(AnnotationText, LineWritesPenWidthThenDirection) {
  TMark line = NewMark(mkLine);
  line.markRect = {0, 0, 9, 9};
  line.penWidth = 2;
  line.lineDirection = 1;
  EXPECT_EQ(SaveMarksToText({line}), "(1)(3)(0)(0)(9)(9)(1)(8388608)(2)(1)");
}

TEST(AnnotationText, ImageWritesThePictureSizeTwiceBeforeAPlainAnymap) {
  TMark image = NewMark(mkImage);
  image.picture = MarkPicture(ifBlackWhite, 2, 1);
  const std::string text = SaveMarksToText({image});
  const std::string head = "(1)(5)(0)(0)(0)(0)(1)(0)(0)(1)(";
  ASSERT_EQ(text.compare(0, head.size(), head), 0) << text;
  const std::size_t close = text.find(')', head.size());
  const std::string size = text.substr(head.size(), close - head.size());
  const std::string picture = text.substr(close + 1 + size.size() + 2);
  EXPECT_EQ(text.substr(close + 1, size.size() + 2), "(" + size + ")");
  EXPECT_EQ(StrToInt(size), static_cast<int>(picture.size()));
  EXPECT_EQ(picture.substr(0, 2), "P1");
  image.picture.clear();
  EXPECT_EQ(SaveMarksToText({image}), "(1)(5)(0)(0)(0)(0)(1)(0)(0)(0)");
}

TEST(AnnotationText, EveryKindRoundTripsWithItsFields) {
  const std::vector<TMark> marks = OneMarkOfEachKind();
  const std::string text = SaveMarksToText(marks);
  const std::vector<TMark> back = Load(text);
  EXPECT_EQ(back, marks);
  EXPECT_EQ(SaveMarksToText(back), text);
}

// Each picture format travels as its plain anymap and reads back whole.
class AnnotationPicture : public ::testing::TestWithParam<std::pair<TImageFormat, const char*>> {};

TEST_P(AnnotationPicture, TravelsAsItsAnymap) {
  TMark image = NewMark(mkImage);
  image.picture = MarkPicture(GetParam().first);
  const std::string text = SaveMarksToText({image});
  EXPECT_NE(text.find(GetParam().second), std::string::npos);
  EXPECT_EQ(Load(text), std::vector<TMark>{image});
}

INSTANTIATE_TEST_SUITE_P(Formats, AnnotationPicture,
                         ::testing::Values(std::pair{ifBlackWhite, ")P1"},
                                           std::pair{ifGray256, ")P2"},
                                           std::pair{ifTrueColor, ")P3"}));

TEST(AnnotationText, NonZeroBooleansAndUnknownKindsAreRead) {
  const std::vector<TMark> marks = Load("(2)(9)(2)(0)(0)(5)(5)(-3)(255)(7)(0)(1)");
  ASSERT_EQ(marks.size(), 1u);
  EXPECT_TRUE(marks[0].visible);
  EXPECT_TRUE(marks[0].highlight);
  EXPECT_FALSE(marks[0].filled);
  EXPECT_EQ(marks[0].color, 255u);
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

INSTANTIATE_TEST_SUITE_P(
    Forms, DamagedAnnotationText,
    ::testing::Values(
        Damaged{"CutInsideTheSecondMark", "(2)" + kRectangle + "(2)(10)",
                "Invalid position in ReadInteger", 2},
        Damaged{"NoOpeningParenthesis", "2", "( expected in ReadInteger", 0},
        Damaged{"NoClosingParenthesis", "(1)(2)(10", "Invalid position in ReadInteger", 1},
        Damaged{"NotANumber", "(1)" + kRectangle.substr(0, 3) + "(1O)",
                "'1O' is not a valid integer value", 1},
        Damaged{"StringBeyondTheEnd", "(1)(4)(0)(0)(1)(1)(1)(0)(9)abc",
                "Invalid position in ReadString", 1},
        Damaged{"NegativeStringLength", "(1)(4)(0)(0)(1)(1)(1)(0)(-2)abc",
                "Invalid position in ReadString", 1},
        Damaged{"MoreMarksThanTheTextHolds", "(2000000000)" + kRectangle,
                "Invalid mark count in LoadFromText", 0},
        Damaged{"PictureSizesDisagree", "(1)(5)(0)(0)(1)(1)(1)(0)(0)(1)(9)(8)P1 1 1 1",
                "Invalid picture in ReadImage", 1},
        Damaged{"PictureNotAnAnymap", "(1)(5)(0)(0)(1)(1)(1)(0)(0)(1)(5)(5)hello",
                "Invalid picture in ReadImage", 1},
        Damaged{"PictureClaimsMorePixelsThanItHolds",
                "(1)(5)(0)(0)(1)(1)(1)(0)(0)(1)(15)(15)P1 60000 60000 1",
                "Invalid picture in ReadImage", 1}),
    [](const auto& info) { return std::string(info.param.name); });

// A text cut anywhere raises an error and reads nothing past its end; under
// the sanitizers this is where an unbounded read would show.
TEST(AnnotationText, EveryCutOfAPageRaises) {
  const std::string text = SaveMarksToText(OneMarkOfEachKind());
  for (std::size_t length = 1; length < text.size(); ++length) {
    const std::string cut = text.substr(0, length);
    std::vector<TMark> marks;
    EXPECT_THROW(LoadMarksFromText(cut, marks), Exception) << length;
  }
}

}  // namespace
}  // namespace lumetra
