// Shared by the annotation tests: a page's worth of marks, one of each kind
// with values other than the defaults.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "annotations/marks.h"
#include "imaging/dib_graphic.h"

namespace lumetra::testing {

// A small picture in Format as a packed DIB, every pixel distinct enough
// that a shifted or flipped copy differs.
inline std::vector<std::uint8_t> MarkPicture(TImageFormat format, int width = 5, int height = 3) {
  TDibGraphic image;
  image.NewImage(width, height, format, nullptr, 0, 0);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      image.SetPixels(x, y, format == ifBlackWhite ? ((x + y) % 2 ? 0xFFFFFF : 0)
                                                   : 0x102030u * (x + 1) + 0x050301u * y);
  return image.SaveToDIBBlock();
}

inline std::vector<TMark> OneMarkOfEachKind() {
  TMark note = NewMark(mkStickNote);
  note.markRect = {10, 20, 200, 120};
  note.text = "Call back (today)\r\nabout \"X\"";
  note.font = {0x0000FF, "Times New Roman", 14, true, false, true, false};
  TMark rectangle = NewMark(mkRectangle);
  rectangle.markRect = {-5, 0, 40, 30};
  rectangle.color = 0;
  rectangle.highlight = false;
  rectangle.penWidth = 7;
  TMark line = NewMark(mkLine);
  line.markRect = {0, 0, 50, 60};
  line.lineDirection = ldBottomLeftTopRight;
  line.visible = false;
  TMark text = NewMark(mkText);
  text.markRect = {3, 4, 5, 6};
  text.text = std::string("a\0b)", 4);
  text.font.bold = true;
  text.font.color = 0x80000008;  // a system colour: negative as a 32-bit integer
  TMark image = NewMark(mkImage);
  image.markRect = {1, 2, 30, 40};
  image.transparent = true;
  image.picture = MarkPicture(ifTrueColor);
  return {note, rectangle, line, text, image};
}

}  // namespace lumetra::testing
