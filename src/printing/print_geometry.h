// Where an image lands on the paper: the six sizing rules of the image
// printer, the orientation they ask for, and the destination rectangle in
// printer pixels computed from the image, its resolution and the printer's
// printable area. Portable: the printer itself only supplies the metrics.
#pragma once

#include <cstdint>

#include "imaging/lumisc.h"

namespace lumetra {

enum TPrintMode : std::uint8_t {
  pfOriginalSize = 0,
  pfFullPage = 1,
  pfSpecificWidth = 2,
  pfSpecificHeight = 3,
  pfSpecificWidthAndHeight = 4,
  pfStretchToPage = 5,
};

// What the printer's device context reports, in device pixels.
struct TPrinterMetrics {
  std::int32_t PageWidth = 0;  // printable area
  std::int32_t PageHeight = 0;
  std::int32_t PixelsPerInchX = 0;
  std::int32_t PixelsPerInchY = 0;
  std::int32_t OffsetX = 0;  // printable area from the paper's top left corner
  std::int32_t OffsetY = 0;
  std::int32_t UnprintableRight = 0;  // paper minus offset minus printable area
  std::int32_t UnprintableBottom = 0;
};

// The caller's choices: the rule, the requested size and the margins.
struct TPrintLayout {
  TPrintMode PrintMode = pfFullPage;
  double WidthInches = 5.0;   // pfSpecificWidth, pfSpecificWidthAndHeight
  double HeightInches = 5.0;  // pfSpecificHeight, pfSpecificWidthAndHeight
  double LeftMarginInches = 0.0;
  double TopMarginInches = 0.0;
};

// Landscape suits the image: wider than high, or in pfSpecificWidthAndHeight
// a requested width larger than the requested height.
bool PrintLandscape(const TPrintLayout& layout, std::int32_t imageWidth, std::int32_t imageHeight);

// The rectangle the image is stretched into, relative to the printable
// area's top left corner; the image covers Right - Left by Bottom - Top
// pixels. Ratios are taken in extended precision and every size is
// truncated. An image resolution of 0 counts as the screen's. Raises
// ELumetraError "Graphic is empty" for an image without pixels and
// "Invalid print size" when the rectangle would be empty, mirrored or
// beyond the device's coordinates.
TRect PrintRectangle(const TPrintLayout& layout, const TPrinterMetrics& printer,
                     std::int32_t imageWidth, std::int32_t imageHeight, std::uint16_t imageXDpi,
                     std::uint16_t imageYDpi);

}  // namespace lumetra
