#include "printing/print_geometry.h"

#include <algorithm>
#include <limits>

#include "platform/platform.h"

namespace lumetra {

namespace {

constexpr const char* kInvalidSize = "Invalid print size";

// A pixel size, truncated; sizes that GDI cannot take are refused rather
// than wrapped into a mirrored or misplaced picture.
std::int32_t Pixels(long double value) {
  if (!(value > -2147483649.0L && value < 2147483648.0L)) throw ELumetraError(kInvalidSize);
  return static_cast<std::int32_t>(SafeTrunc(value));
}

}  // namespace

bool PrintLandscape(const TPrintLayout& layout, std::int32_t imageWidth, std::int32_t imageHeight) {
  if (layout.PrintMode == pfSpecificWidthAndHeight) return layout.WidthInches > layout.HeightInches;
  return imageWidth > imageHeight;
}

TRect PrintRectangle(const TPrintLayout& layout, const TPrinterMetrics& printer,
                     std::int32_t imageWidth, std::int32_t imageHeight, std::uint16_t imageXDpi,
                     std::uint16_t imageYDpi) {
  if (imageWidth <= 0 || imageHeight <= 0) throw ELumetraError("Graphic is empty");
  const long double w = imageWidth, h = imageHeight;
  const long double pw = printer.PageWidth, ph = printer.PageHeight;
  const long double dx = printer.PixelsPerInchX, dy = printer.PixelsPerInchY;
  std::int32_t right = 0, bottom = 0;
  switch (layout.PrintMode) {
    case pfOriginalSize: {
      // An image that never learnt its resolution prints as the screen
      // shows it at 100 %.
      const long double xDpi = imageXDpi ? imageXDpi : platform::ScreenDpiX();
      const long double yDpi = imageYDpi ? imageYDpi : platform::ScreenDpiY();
      right = Pixels(w * (dx / xDpi));
      bottom = Pixels(h * (dy / yDpi));
      if (right > 0 && bottom > 0) {
        const float f = static_cast<float>(std::min(ph / bottom, pw / right));
        if (f < 1.0f) {
          right = Pixels(static_cast<long double>(f) * right);
          bottom = Pixels(bottom * static_cast<long double>(f));
        }
      }
      break;
    }
    case pfFullPage: {
      right = printer.PageWidth;
      long double s = pw / w;
      bottom = Pixels(h * s);
      if (bottom >= printer.PageHeight) {
        bottom = printer.PageHeight;
        s = ph / h;
        right = Pixels(w * s);
      }
      break;
    }
    case pfSpecificWidth:
      right = Pixels(dx * layout.WidthInches);
      bottom = Pixels(h * right / w);
      break;
    case pfSpecificHeight:
      bottom = Pixels(dy * layout.HeightInches);
      right = Pixels(w * bottom / h);
      break;
    case pfSpecificWidthAndHeight:
      right = Pixels(dx * layout.WidthInches);
      bottom = Pixels(dy * layout.HeightInches);
      break;
    case pfStretchToPage:
      right = printer.PageWidth - 1;
      bottom = printer.PageHeight - 1;
      break;
    default:
      throw ELumetraError("Invalid print mode");
  }
  if (right <= 0 || bottom <= 0) throw ELumetraError(kInvalidSize);

  TRect rect{0, 0, right, bottom};
  // Full-page and stretched prints fill the printable area from its corner;
  // the margins are measured from the paper's edge, which the printable area
  // is already inset from.
  if (layout.PrintMode != pfFullPage && layout.PrintMode != pfStretchToPage) {
    const std::int64_t mx = std::max<std::int64_t>(
        0, std::int64_t{Pixels(dx * layout.LeftMarginInches)} - printer.OffsetX);
    const std::int64_t my = std::max<std::int64_t>(
        0, std::int64_t{Pixels(dy * layout.TopMarginInches)} - printer.OffsetY);
    constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
    if (mx + right > kMax || my + bottom > kMax) throw ELumetraError(kInvalidSize);
    rect = TRect{static_cast<int>(mx), static_cast<int>(my), static_cast<int>(mx + right),
                 static_cast<int>(my + bottom)};
  }
  return rect;
}

}  // namespace lumetra
