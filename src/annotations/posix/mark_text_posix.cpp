#include "annotations/mark_painter.h"

namespace lumetra {

// Without a font rasterizer a portable build paints every part of a mark
// but its glyphs.
void DrawMarkText(TDibGraphic&, const TRect&, const std::string&, const TMarkFont&, int) {}

}  // namespace lumetra
