// The marks of the annotation layer as plain values: what a page's sticky
// notes, rectangles, lines, texts and pictures are, apart from the windows
// that show and edit them. Geometry is in document pixels; colours are GDI
// colours (0x00BBGGRR), as the text form stores them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "imaging/lumisc.h"

namespace lumetra {

// The kind numbers of the text form.
enum TMarkKind : std::uint8_t {
  mkStickNote = 1,
  mkRectangle = 2,
  mkLine = 3,
  mkText = 4,
  mkImage = 5,
};

// LineDirection values.
enum TLineDirection : std::uint8_t {
  ldHorizontalTop = 0,
  ldVerticalRight = 1,
  ldTopLeftBottomRight = 2,
  ldBottomLeftTopRight = 3,
};

struct TMarkFont {
  TColor color = clBlack;
  std::string name = "Arial";
  std::int32_t size = 12;  // points
  bool italic = false, underline = false, strikeOut = false, bold = false;
  bool operator==(const TMarkFont&) const = default;
};

// One mark. Every kind has the header (MarkRect, Visible, Color); the other
// fields belong to the kinds named beside them and keep their defaults in
// the others.
struct TMark {
  TMarkKind kind = mkRectangle;
  // Left, Top, Right, Bottom. The mark renders at (Right - Left + 1) x
  // (Bottom - Top + 1) and is shown over [Left, Right) x [Top, Bottom).
  TRect markRect;
  bool visible = true;
  TColor color = 0;
  std::string text;         // sticky note, text
  TMarkFont font;           // sticky note, text
  bool highlight = true;    // rectangle: drawn with AND, so the page shows through
  bool filled = true;       // rectangle
  std::int32_t penWidth = 4;  // rectangle, line
  std::int32_t lineDirection = ldTopLeftBottomRight;  // line
  bool transparent = false;  // image
  // Image: a packed DIB (header, colour table, pixels), empty for none.
  std::vector<std::uint8_t> picture;

  bool operator==(const TMark&) const = default;
};

// The class name of each kind ("TStickNoteMark" ...); empty for others.
const char* MarkClassName(int kind);

// A mark of Kind with that kind's defaults: yellow "Stick Note" and yellow
// "Text" in 12-point Arial, a lime filled highlighter with pen 4, a navy
// diagonal line with pen 4, a black image mark without picture.
TMark NewMark(TMarkKind kind);

// Rounds to nearest, ties to even, held to the range of an int: a hostile
// page may hold any 32-bit rectangle, pen width or font size.
int RoundToCoordinate(long double value);

// True when Rect encloses no pixel in GDI's sense (Right <= Left or
// Bottom <= Top): such a bounding area does not clamp.
bool IsRectEmpty(const TRect& rect);

// Rect with Left and Top raised to at least those of BoundingArea and Right
// and Bottom lowered to at most its own, unless BoundingArea is empty.
TRect ClampMarkRect(const TRect& rect, const TRect& boundingArea);

// Where a mark lies on the viewer: each coordinate times Zoom / 100,
// rounded, less the scroll positions.
TRect MarkScreenBounds(const TRect& markRect, double zoom, int scrollX, int scrollY);

// The document rectangle of frame Bounds the user moved or resized: shifted
// by the scroll positions and each coordinate divided by Zoom / 100, rounded.
TRect MarkRectFromScreen(const TRect& bounds, double zoom, int scrollX, int scrollY);

}  // namespace lumetra
