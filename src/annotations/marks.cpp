#include "annotations/marks.h"

#include <cmath>
#include <limits>

namespace lumetra {

namespace {

struct KindDefaults {
  const char* className;
  TColor color;
  const char* text;
};

// Indexed by kind number.
constexpr KindDefaults kKinds[] = {
    {"", 0, ""},
    {"TStickNoteMark", 0x00FFFF, "Stick Note"},
    {"TRectangleMark", 0x00FF00, ""},
    {"TLineMark", 0x800000, ""},
    {"TTextMark", 0x00FFFF, "Text"},
    {"TImageMark", 0x000000, ""},
};

}  // namespace

int RoundToCoordinate(long double value) {
  if (std::isnan(value)) return 0;
  constexpr long double low = std::numeric_limits<int>::min();
  constexpr long double high = std::numeric_limits<int>::max();
  if (value <= low) return std::numeric_limits<int>::min();
  if (value >= high) return std::numeric_limits<int>::max();
  return static_cast<int>(std::nearbyint(value));
}

const char* MarkClassName(int kind) {
  return kind >= mkStickNote && kind <= mkImage ? kKinds[kind].className : "";
}

TMark NewMark(TMarkKind kind) {
  TMark mark;
  mark.kind = kind;
  if (kind >= mkStickNote && kind <= mkImage) {
    mark.color = kKinds[kind].color;
    mark.text = kKinds[kind].text;
  }
  return mark;
}

bool IsRectEmpty(const TRect& rect) {
  return rect.Right <= rect.Left || rect.Bottom <= rect.Top;
}

TRect ClampMarkRect(const TRect& rect, const TRect& boundingArea) {
  if (IsRectEmpty(boundingArea)) return rect;
  TRect result = rect;
  if (result.Left < boundingArea.Left) result.Left = boundingArea.Left;
  if (result.Top < boundingArea.Top) result.Top = boundingArea.Top;
  if (result.Right > boundingArea.Right) result.Right = boundingArea.Right;
  if (result.Bottom > boundingArea.Bottom) result.Bottom = boundingArea.Bottom;
  return result;
}

TRect MarkScreenBounds(const TRect& markRect, double zoom, int scrollX, int scrollY) {
  const auto place = [zoom](int coordinate, int scroll) {
    const long long scaled = RoundToCoordinate(static_cast<long double>(coordinate) * zoom / 100);
    return RoundToCoordinate(static_cast<long double>(scaled - scroll));
  };
  return {place(markRect.Left, scrollX), place(markRect.Top, scrollY),
          place(markRect.Right, scrollX), place(markRect.Bottom, scrollY)};
}

TRect MarkRectFromScreen(const TRect& bounds, double zoom, int scrollX, int scrollY) {
  // A zoom of 0 shows nothing that could have been moved: keep the scale.
  const long double scale = zoom > 0 ? static_cast<long double>(zoom) / 100 : 1;
  return {RoundToCoordinate((static_cast<long double>(bounds.Left) + scrollX) / scale),
          RoundToCoordinate((static_cast<long double>(bounds.Top) + scrollY) / scale),
          RoundToCoordinate((static_cast<long double>(bounds.Right) + scrollX) / scale),
          RoundToCoordinate((static_cast<long double>(bounds.Bottom) + scrollY) / scale)};
}

}  // namespace lumetra
