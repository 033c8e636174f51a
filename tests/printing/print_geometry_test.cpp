#include "printing/print_geometry.h"

#include <gtest/gtest.h>

#include <limits>
#include <ostream>

namespace lumetra {
namespace {

// A 600 dpi printer with a 4800 x 6400 printable area (8 x 10.67 in), inset
// 100 x 120 pixels from the paper's corner.
constexpr TPrinterMetrics kPrinter{4800, 6400, 600, 600, 100, 120, 0, 0};

struct GeometryCase {
  const char* name;
  TPrintLayout layout;
  std::int32_t width, height;
  std::uint16_t xDpi, yDpi;
  TRect expected;
};

void PrintTo(const GeometryCase& c, std::ostream* os) {
  *os << c.name;
}

class PrintGeometry : public testing::TestWithParam<GeometryCase> {};

TEST_P(PrintGeometry, PlacesTheImageAsItsModeSays) {
  const GeometryCase& c = GetParam();
  const TRect r = PrintRectangle(c.layout, kPrinter, c.width, c.height, c.xDpi, c.yDpi);
  EXPECT_EQ(r.Left, c.expected.Left);
  EXPECT_EQ(r.Top, c.expected.Top);
  EXPECT_EQ(r.Right, c.expected.Right);
  EXPECT_EQ(r.Bottom, c.expected.Bottom);
}

TPrintLayout Layout(TPrintMode mode, double width = 5.0, double height = 5.0, double left = 0,
                    double top = 0) {
  return TPrintLayout{mode, width, height, left, top};
}

INSTANTIATE_TEST_SUITE_P(
    Modes, PrintGeometry,
    testing::Values(
        // A letter page scanned at 300 dpi fills the width; 3300 x 1.88235.. = 6211.76.
        GeometryCase{
            "FullPageFitsTheWidth", Layout(pfFullPage), 2550, 3300, 300, 300, {0, 0, 4800, 6211}},
        // Too tall for the width: the height decides, 1000 x 6400 / 3000 = 2133.3.
        GeometryCase{
            "FullPageFitsTheHeight", Layout(pfFullPage), 1000, 3000, 300, 300, {0, 0, 2133, 6400}},
        // Margins never move a full-page print.
        GeometryCase{"FullPageIgnoresMargins",
                     Layout(pfFullPage, 5, 5, 2, 2),
                     2550,
                     3300,
                     300,
                     300,
                     {0, 0, 4800, 6211}},
        // 5100 x 6600 is reduced by the single-precision f = 0.9411765 (the
        // double 16/17 would give 4799).
        GeometryCase{"OriginalSizeReducedToFit",
                     Layout(pfOriginalSize),
                     2550,
                     3300,
                     300,
                     300,
                     {0, 0, 4800, 6211}},
        // f = 4800/4801 rounds down in single precision: 4799, not 4800.
        GeometryCase{"OriginalSizeScalesWithASingle",
                     Layout(pfOriginalSize),
                     4801,
                     100,
                     600,
                     600,
                     {0, 0, 4799, 99}},
        GeometryCase{"OriginalSizeKeptWhenItFits",
                     Layout(pfOriginalSize),
                     300,
                     200,
                     150,
                     100,
                     {0, 0, 1200, 1200}},
        // 1 in from the paper's edge is 600 - 100 into the printable area;
        // a margin inside the unprintable border counts as none.
        GeometryCase{"OriginalSizeWithMargins",
                     Layout(pfOriginalSize, 5, 5, 1.0, 0.1),
                     300,
                     200,
                     300,
                     300,
                     {500, 0, 1100, 400}},
        // No resolution: the screen's 96 dpi, 96 px = 1 in = 600 device px.
        GeometryCase{"OriginalSizeWithoutResolution",
                     Layout(pfOriginalSize),
                     96,
                     48,
                     0,
                     0,
                     {0, 0, 600, 300}},
        // 5 in = 3000 px wide; 3300 x 3000 / 2550 = 3882.35.
        GeometryCase{"SpecificWidth",
                     Layout(pfSpecificWidth, 5, 1),
                     2550,
                     3300,
                     300,
                     300,
                     {0, 0, 3000, 3882}},
        // 3 in = 1800 px high; 2550 x 1800 / 3300 = 1390.9.
        GeometryCase{"SpecificHeight",
                     Layout(pfSpecificHeight, 1, 3, 0.5, 0.5),
                     2550,
                     3300,
                     300,
                     300,
                     {200, 180, 1590, 1980}},
        GeometryCase{"SpecificWidthAndHeightIgnoresTheShape",
                     Layout(pfSpecificWidthAndHeight, 5, 3),
                     10,
                     1000,
                     300,
                     300,
                     {0, 0, 3000, 1800}},
        GeometryCase{"StretchLeavesOnePixelRightAndBottom",
                     Layout(pfStretchToPage, 5, 5, 1, 1),
                     10,
                     1000,
                     300,
                     300,
                     {0, 0, 4799, 6399}}),
    [](const testing::TestParamInfo<GeometryCase>& info) { return info.param.name; });

TEST(PrintGeometry, LandscapeFollowsTheImageOrInModeFourTheRequestedInches) {
  EXPECT_TRUE(PrintLandscape(Layout(pfFullPage), 400, 300));
  EXPECT_FALSE(PrintLandscape(Layout(pfFullPage), 300, 300));
  EXPECT_FALSE(PrintLandscape(Layout(pfOriginalSize), 300, 400));
  EXPECT_FALSE(PrintLandscape(Layout(pfSpecificWidthAndHeight, 3, 5), 400, 300));
  EXPECT_TRUE(PrintLandscape(Layout(pfSpecificWidthAndHeight, 5, 3), 300, 400));
}

struct RefusedCase {
  const char* name;
  TPrintLayout layout;
  std::int32_t width, height;
  TPrinterMetrics printer;
  const char* message;
};

void PrintTo(const RefusedCase& c, std::ostream* os) {
  *os << c.name;
}

class PrintGeometryRefuses : public testing::TestWithParam<RefusedCase> {};

TEST_P(PrintGeometryRefuses, WithAClearMessage) {
  const RefusedCase& c = GetParam();
  try {
    PrintRectangle(c.layout, c.printer, c.width, c.height, 300, 300);
    FAIL() << "no error";
  } catch (const ELumetraError& e) {
    EXPECT_STREQ(e.what(), c.message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    BadInput, PrintGeometryRefuses,
    testing::Values(
        RefusedCase{"EmptyImage", Layout(pfFullPage), 0, 0, kPrinter, "Graphic is empty"},
        // A negative width would print the image mirrored.
        RefusedCase{"NegativeWidth", Layout(pfSpecificWidth, -5), 100, 100, kPrinter,
                    "Invalid print size"},
        RefusedCase{"HugeHeight", Layout(pfSpecificHeight, 1, 1e12), 100, 100, kPrinter,
                    "Invalid print size"},
        RefusedCase{"NotANumber",
                    Layout(pfSpecificWidthAndHeight, std::numeric_limits<double>::quiet_NaN(), 3),
                    100, 100, kPrinter, "Invalid print size"},
        RefusedCase{"HugeMargin", Layout(pfOriginalSize, 5, 5, 1e9, 0), 100, 100, kPrinter,
                    "Invalid print size"},
        RefusedCase{"PrinterWithoutArea", Layout(pfStretchToPage), 100, 100, TPrinterMetrics{},
                    "Invalid print size"},
        RefusedCase{"UnknownMode", Layout(static_cast<TPrintMode>(6)), 100, 100, kPrinter,
                    "Invalid print mode"}),
    [](const testing::TestParamInfo<RefusedCase>& info) { return info.param.name; });

}  // namespace
}  // namespace lumetra
