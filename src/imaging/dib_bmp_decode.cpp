// Packed DIBs that are not plain 1/4/8/24-bit rows.
#include "imaging/dib_graphic.h"

namespace lumetra {

void TDibGraphic::LoadFromBmpDib(const std::uint8_t*, std::size_t, const TBitmapInfoHeader&) {
  // Replaced by the BMP-stream route (16/32-bit, RLE and bit fields).
  throw ELumetraError("Unsupported bit count");
}

}  // namespace lumetra
