// The core's own stretch of one image onto another of any size, standing in
// for GDI's StretchDIBits so that results are the same in every build.
// Colours are mapped to the destination's palette by nearest colour.
#pragma once

#include "imaging/dib_graphic.h"

namespace lumetra {

enum TStretchMode : std::uint8_t {
  smColorOnColor,  // each destination pixel samples one source pixel
  smHalftone,      // each destination pixel averages the source area it covers
};

// Stretches all of Source onto all of Dest, which already has its size,
// format and palette. An empty Source leaves Dest as it is. Indices are
// copied unchanged between images of one format and palette.
void StretchImage(const TDibGraphic& source, TDibGraphic& dest, TStretchMode mode);

}  // namespace lumetra
