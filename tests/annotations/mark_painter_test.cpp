#include "annotations/mark_painter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "annotations/annotation_text.h"
#include "annotations/mark_test_util.h"
#include "formats/format_test_util.h"

namespace lumetra {
namespace {

using testing::MakePatterned;
using testing::TempPath;

constexpr std::uint32_t kRed = 0xFF0000, kBlue = 0x0000FF;

TMark FilledRectangle(TRect rect, TColor colour, bool highlight = false) {
  TMark mark = NewMark(mkRectangle);
  mark.markRect = rect;
  mark.color = colour;
  mark.highlight = highlight;
  return mark;
}

bool Inside(int x, int y, const TRect& r) {
  return x >= r.Left && x < r.Right && y >= r.Top && y < r.Bottom;
}

// A black rectangle burnt into a saved page: read back by ImageMagick, the
// covered pixels are black and every other pixel is the page's own.
class Redaction : public ::testing::TestWithParam<TImageFormat> {};

TEST_P(Redaction, LeavesNothingUnderABlackRectangleInTheSavedPage) {
  auto page = MakePatterned<TTiffGraphic>(GetParam(), 60, 40);
  auto original = MakePatterned<TDibGraphic>(GetParam(), 60, 40);
  const TRect box{12, 8, 41, 30};
  page->SetCustomTagValue(SaveMarksToText({FilledRectangle(box, 0, true)}));
  BurnPageAnnotations(*page, 96);
  EXPECT_EQ(page->CustomTagValue(), "");
  page->SetCompression(tcLZW);
  const std::string file = TempPath("redacted.tif");
  const std::string raw = TempPath("redacted.rgb");
  {
    TFileStream out(file, fmCreate);
    page->SaveToStream(out);
  }
#ifdef _WIN32
  GTEST_SKIP() << "ImageMagick reads the page in the native build";
#else
  ASSERT_EQ(std::system(("convert -quiet " + file + " -depth 8 rgb:" + raw).c_str()), 0);
  std::ifstream in(raw, std::ios::binary);
  const std::vector<unsigned char> rgb{std::istreambuf_iterator<char>(in), {}};
  ASSERT_EQ(rgb.size(), 60u * 40 * 3);
  int covered = 0;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 60; ++x) {
      const unsigned char* p = &rgb[(y * 60 + x) * 3];
      const std::uint32_t seen = (p[0] << 16) | (p[1] << 8) | p[2];
      if (Inside(x, y, box)) {
        covered += seen == 0;
      } else {
        // Colour maps are written as c * 256, which ImageMagick divides by 257.
        const std::uint32_t want = original->Pixels(x, y);
        for (int shift : {0, 8, 16})
          ASSERT_LE(std::abs(int(seen >> shift & 0xFF) - int(want >> shift & 0xFF)), 1)
              << x << "," << y;
      }
    }
  EXPECT_EQ(covered, 29 * 22);
  std::remove(raw.c_str());
#endif
  std::remove(file.c_str());
}

INSTANTIATE_TEST_SUITE_P(Formats, Redaction,
                         ::testing::Values(ifBlackWhite, ifGray256, ifColor256, ifTrueColor));

TEST(MarkPainter, HighlighterAndsItsColourWithThePage) {
  auto page = MakePatterned<TDibGraphic>(ifTrueColor, 20, 10);
  auto original = MakePatterned<TDibGraphic>(ifTrueColor, 20, 10);
  TMark highlighter = NewMark(mkRectangle);  // lime, highlight, filled
  highlighter.markRect = {2, 2, 12, 8};
  BurnMarks(*page, {highlighter}, 96);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 20; ++x)
      EXPECT_EQ(page->Pixels(x, y),
                Inside(x, y, {2, 2, 12, 8}) ? original->Pixels(x, y) & 0x00FF00
                                            : original->Pixels(x, y));
}

TEST(MarkPainter, OutlineRectangleLeavesItsInsideAlone) {
  TDibGraphic page;
  page.NewImage(30, 30, ifTrueColor, nullptr, 0, 0);
  page.Fill(0x123456);
  TMark outline = FilledRectangle({0, 0, 20, 20}, ColorToGdi(kRed));
  outline.filled = false;
  outline.penWidth = 4;
  BurnMarks(page, {outline}, 96);
  EXPECT_EQ(page.Pixels(0, 10), kRed);
  EXPECT_EQ(page.Pixels(10, 1), kRed);
  EXPECT_EQ(page.Pixels(10, 10), 0x123456u);
  EXPECT_EQ(page.Pixels(25, 25), 0x123456u);
}

// What the viewer shows at 50 % and 200 %: the mark's corners scaled and
// rounded, its bitmap stretched over them; hidden and off-page marks show
// nowhere.
struct ZoomCase {
  double zoom;
  TRect expected;
};

class MarkZoom : public ::testing::TestWithParam<ZoomCase> {};

TEST_P(MarkZoom, FilledRectangleCoversItsScaledPlace) {
  TDibGraphic display;
  display.NewImage(260, 160, ifTrueColor, nullptr, 0, 0);
  display.Fill(0xFFFFFF);
  TMark hidden = FilledRectangle({0, 0, 9, 9}, 0);
  hidden.visible = false;
  const TMark offPage = FilledRectangle({150, 90, 190, 99}, 0);
  PaintMarks(display, {FilledRectangle({10, 20, 110, 70}, ColorToGdi(kBlue)), hidden, offPage},
             {0, 0, 128, 80}, GetParam().zoom, 96);
  for (int y = 0; y < display.Height(); ++y)
    for (int x = 0; x < display.Width(); ++x)
      ASSERT_EQ(display.Pixels(x, y), Inside(x, y, GetParam().expected) ? kBlue : 0xFFFFFFu)
          << x << "," << y;
}

INSTANTIATE_TEST_SUITE_P(Zooms, MarkZoom,
                         ::testing::Values(ZoomCase{50, {5, 10, 55, 35}},
                                           ZoomCase{100, {10, 20, 110, 70}},
                                           ZoomCase{200, {20, 40, 220, 140}}));

TEST(MarkPainter, PictureIsStretchedOverTheMark) {
  TDibGraphic picture;
  picture.NewImage(2, 1, ifTrueColor, nullptr, 0, 0);
  picture.SetPixels(0, 0, kRed);
  picture.SetPixels(1, 0, kBlue);
  TMark image = NewMark(mkImage);
  image.markRect = {0, 0, 10, 4};
  image.picture = picture.SaveToDIBBlock();
  TDibGraphic display;
  display.NewImage(40, 20, ifTrueColor, nullptr, 0, 0);
  PaintMarks(display, {image}, {0, 0, 40, 20}, 200, 96);
  EXPECT_EQ(display.Pixels(0, 0), kRed);
  EXPECT_EQ(display.Pixels(9, 7), kRed);
  EXPECT_EQ(display.Pixels(10, 0), kBlue);
  EXPECT_EQ(display.Pixels(19, 7), kBlue);
  EXPECT_EQ(display.Pixels(20, 0), 0u);
  EXPECT_EQ(display.Pixels(0, 8), 0u);
}

TEST(MarkPainter, LinesRunAlongTheirDirection) {
  TMark line = NewMark(mkLine);
  line.markRect = {0, 0, 40, 40};
  line.penWidth = 1;
  const int g = kDefaultGripSize;
  // direction, a point on the line, a point off it
  const int cases[][5] = {{0, 20, g, 20, 20}, {1, 41 - g, 20, 20, 20}, {2, 20, 20, 30, 10},
                          {3, 10, 31, 10, 10}};
  for (const auto& c : cases) {
    line.lineDirection = c[0];
    const TRenderedMark rendered = RenderMark(line, 96, 100);
    EXPECT_EQ(rendered.bitmap->Pixels(c[1], c[2]), 0x000080u) << c[0];
    EXPECT_EQ(rendered.bitmap->Pixels(c[3], c[4]), rendered.transparentColor) << c[0];
  }
}

// Pen widths and font sizes come from the page: the largest paint the whole
// mark and nothing beyond it.
TEST(MarkPainter, LargestPenWidthsAndFontSizesStayInsideTheMark) {
  TDibGraphic page;
  page.NewImage(40, 30, ifTrueColor, nullptr, 0, 0);
  page.Fill(0xFFFFFF);
  TMark outline = FilledRectangle({0, 0, 20, 10}, ColorToGdi(kRed));
  outline.filled = false;
  outline.penWidth = 2147483647;
  TMark line = NewMark(mkLine);
  line.markRect = {0, 15, 20, 29};
  line.color = ColorToGdi(kBlue);
  line.penWidth = 2147483647;
  TMark note = NewMark(mkStickNote);
  note.markRect = {25, 0, 39, 29};
  note.font.size = 2147483647;
  BurnMarks(page, {outline, line, note}, 2147483647);
  EXPECT_EQ(page.Pixels(10, 5), kRed);
  EXPECT_EQ(page.Pixels(10, 22), kBlue);
  EXPECT_EQ(page.Pixels(21, 5), 0xFFFFFFu);
  EXPECT_EQ(page.Pixels(30, 10), 0xFFFF00u);
}

TEST(MarkPainter, StickyNoteHasBodyShadowAndTransparentBackground) {
  TMark note = NewMark(mkStickNote);
  note.markRect = {0, 0, 199, 99};  // 200 wide: a shadow of 5
  const TRenderedMark rendered = RenderMark(note, 96, 100);
  const TDibGraphic& b = *rendered.bitmap;
  EXPECT_EQ(b.Pixels(10, 10), 0xFFFF00u);  // yellow
  EXPECT_EQ(b.Pixels(199, 99), 0u);        // shadow
  EXPECT_EQ(b.Pixels(197, 2), rendered.transparentColor);
  EXPECT_EQ(rendered.transparentColor, 0x808080u);
}

}  // namespace
}  // namespace lumetra
