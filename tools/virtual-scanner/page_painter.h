// Synthetic document pages as a scanner would deliver them: an A4 sheet at
// the asked resolution with a heading, text-like lines, a large page number
// and, in colour modes, a photograph, written as a packed DIB (header, colour
// table, bottom-up rows).
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorvex::vscan {

struct TPageRequest {
  int pageNumber = 1;
  std::uint16_t xDpi = 200;
  std::uint16_t yDpi = 200;
  int bitsPerPixel = 1;  // 1, 4, 8 or 24
  bool colour = false;   // 4 and 8 bits: colour palette instead of greys
  // A sheet of another size than A4 (0: A4 at the resolution), and a sheet
  // without print: a page too large to paint pixel by pixel in good time.
  int width = 0;
  int height = 0;
  bool blank = false;
};

int PageWidth(const TPageRequest& request);
int PageHeight(const TPageRequest& request);
int PaletteSize(const TPageRequest& request);
// Bytes of the packed DIB of the page.
std::size_t PackedDibSize(const TPageRequest& request);
// Writes the packed DIB into Dest, which holds PackedDibSize bytes.
void PaintPage(const TPageRequest& request, std::uint8_t* dest);

}  // namespace quorvex::vscan
