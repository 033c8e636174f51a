#include "annotations/mark_painter.h"

#include <algorithm>
#include <cmath>

#include "annotations/annotation_text.h"

namespace lumetra {

namespace {

constexpr std::uint32_t kWhite = 0xFFFFFF;
constexpr std::uint32_t kGrey = 0x808080;

// Fills [X0, X1) x [Y0, Y1), clipped to Image.
void FillArea(TDibGraphic& image, int x0, int y0, int x1, int y1, std::uint32_t colour) {
  x0 = std::max(x0, 0);
  y0 = std::max(y0, 0);
  x1 = std::min(x1, image.Width());
  y1 = std::min(y1, image.Height());
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) image.SetPixels(x, y, colour);
}

// A pen of Width pixels (at least one) along the segment, with round ends.
void DrawLine(TDibGraphic& image, int x0, int y0, int x1, int y1, int width,
              std::uint32_t colour) {
  const double radius = std::max(width, 1) / 2.0;
  const double dx = x1 - x0, dy = y1 - y0;
  const double length2 = dx * dx + dy * dy;
  const int left = RoundToCoordinate(std::max(0.0, std::floor(std::min(x0, x1) - radius)));
  const int right = RoundToCoordinate(std::min(image.Width() - 1.0, std::ceil(std::max(x0, x1) + radius)));
  const int top = RoundToCoordinate(std::max(0.0, std::floor(std::min(y0, y1) - radius)));
  const int bottom = RoundToCoordinate(std::min(image.Height() - 1.0, std::ceil(std::max(y0, y1) + radius)));
  for (int y = top; y <= bottom; ++y)
    for (int x = left; x <= right; ++x) {
      const double t = length2 > 0 ? std::clamp(((x - x0) * dx + (y - y0) * dy) / length2, 0.0, 1.0) : 0;
      const double ex = x - (x0 + t * dx), ey = y - (y0 + t * dy);
      if (ex * ex + ey * ey <= radius * radius) image.SetPixels(x, y, colour);
    }
}

// The background that a mark of Colour leaves out: white, or black for a
// white mark, which would vanish on white.
std::uint32_t BackgroundFor(std::uint32_t colour) {
  return colour == kWhite ? 0 : kWhite;
}


std::unique_ptr<TDibGraphic> NewBitmap(const TMark& mark) {
  const long long width = static_cast<long long>(mark.markRect.Right) - mark.markRect.Left + 1;
  const long long height = static_cast<long long>(mark.markRect.Bottom) - mark.markRect.Top + 1;
  if (width < 1 || height < 1) throw ELumetraError("Invalid mark rectangle");
  if (static_cast<std::uint64_t>(width) * height * 3 > kMaxImageBytes)
    throw ELumetraError("Mark too large to draw");
  auto bitmap = std::make_unique<TDibGraphic>();
  bitmap->NewImage(static_cast<int>(width), static_cast<int>(height), ifTrueColor, nullptr, 0, 0);
  bitmap->Fill(kWhite);
  return bitmap;
}

void RenderStickNote(const TMark& mark, int resolution, double zoom, TRenderedMark& out) {
  TDibGraphic& b = *out.bitmap;
  const int w = b.Width(), h = b.Height();
  const std::uint32_t colour = GdiToColor(mark.color);
  const std::uint32_t background = colour == kGrey ? kWhite : kGrey;
  out.transparent = true;
  out.transparentColor = background;
  const int grow = zoom > 100 ? 1 : 0;
  FillArea(b, 0, 0, w - 1 + grow, h - 1 + grow, background);
  const int shadow = RoundToCoordinate(w * 0.025L);
  FillArea(b, shadow, shadow, w, h, 0);
  FillArea(b, 0, 0, w - shadow, h - shadow, colour);
  DrawMarkText(b, {0, 0, w - shadow, h - shadow}, mark.text, mark.font,
               RoundToCoordinate(static_cast<long double>(mark.font.size) * resolution / 72));
}

void RenderText(const TMark& mark, int resolution, TRenderedMark& out) {
  TDibGraphic& b = *out.bitmap;
  b.Fill(BackgroundFor(GdiToColor(mark.font.color)));
  DrawMarkText(b, {0, 0, b.Width(), b.Height()}, mark.text, mark.font,
               RoundToCoordinate(static_cast<long double>(mark.font.size) *
                        RoundToCoordinate(static_cast<long double>(resolution) / 96)));
  // The colour left out is the mark's own, not the background it filled.
  out.transparent = true;
  out.transparentColor = GdiToColor(mark.color);
}

void RenderRectangle(const TMark& mark, TRenderedMark& out) {
  TDibGraphic& b = *out.bitmap;
  const std::uint32_t colour = GdiToColor(mark.color);
  out.andMode = mark.highlight;
  if (mark.filled) {
    b.Fill(colour);
    return;
  }
  const std::uint32_t background = BackgroundFor(colour);
  b.Fill(background);
  out.transparent = true;
  out.transparentColor = background;
  // The pen runs along the bitmap's edges; half of it falls outside.
  const int inside = static_cast<int>((std::max<long long>(mark.penWidth, 1) + 1) / 2);
  const int w = b.Width(), h = b.Height();
  FillArea(b, 0, 0, w, inside, colour);
  FillArea(b, 0, h - inside, w, h, colour);
  FillArea(b, 0, 0, inside, h, colour);
  FillArea(b, w - inside, 0, w, h, colour);
}

void RenderLine(const TMark& mark, int gripSize, TRenderedMark& out) {
  TDibGraphic& b = *out.bitmap;
  const std::uint32_t colour = GdiToColor(mark.color);
  const std::uint32_t background = BackgroundFor(colour);
  b.Fill(background);
  out.transparent = true;
  out.transparentColor = background;
  const int w = b.Width(), h = b.Height(), g = gripSize;
  switch (mark.lineDirection) {
    case ldHorizontalTop: DrawLine(b, 0, g, w, g, mark.penWidth, colour); break;
    case ldVerticalRight: DrawLine(b, w - g, 0, w - g, h, mark.penWidth, colour); break;
    case ldTopLeftBottomRight: DrawLine(b, 0, 0, w, h, mark.penWidth, colour); break;
    case ldBottomLeftTopRight: DrawLine(b, 0, h, w, 0, mark.penWidth, colour); break;
    default: break;
  }
}

void RenderImage(const TMark& mark, TRenderedMark& out) {
  if (!mark.picture.empty()) {
    out.bitmap = std::make_unique<TDibGraphic>();
    out.bitmap->LoadFromDIBBlock(mark.picture.data(), mark.picture.size());
  } else {
    TDibGraphic& b = *out.bitmap;
    FillArea(b, 0, 0, b.Width() - 1, b.Height() - 1, GdiToColor(mark.color));
  }
  // A transparent picture leaves out the colour of its bottom-left pixel.
  out.transparent = mark.transparent;
  out.transparentColor = out.bitmap->Pixels(0, out.bitmap->Height() - 1);
}

}  // namespace

TRenderedMark RenderMark(const TMark& mark, int resolution, double zoom, int gripSize) {
  TRenderedMark out;
  if (!(mark.kind == mkImage && !mark.picture.empty())) out.bitmap = NewBitmap(mark);
  switch (mark.kind) {
    case mkStickNote: RenderStickNote(mark, resolution, zoom, out); break;
    case mkText: RenderText(mark, resolution, out); break;
    case mkRectangle: RenderRectangle(mark, out); break;
    case mkLine: RenderLine(mark, gripSize, out); break;
    case mkImage: RenderImage(mark, out); break;
  }
  return out;
}

void DrawRenderedMark(const TRenderedMark& mark, TDibGraphic& dest, const TRect& destRect) {
  const TDibGraphic& source = *mark.bitmap;
  const long long w = static_cast<long long>(destRect.Right) - destRect.Left;
  const long long h = static_cast<long long>(destRect.Bottom) - destRect.Top;
  if (w <= 0 || h <= 0 || source.Empty()) return;
  const int x0 = std::max(destRect.Left, 0), x1 = std::min(destRect.Right, dest.Width());
  const int y0 = std::max(destRect.Top, 0), y1 = std::min(destRect.Bottom, dest.Height());
  for (int y = y0; y < y1; ++y) {
    const int sy = static_cast<int>((y - static_cast<long long>(destRect.Top)) * source.Height() / h);
    for (int x = x0; x < x1; ++x) {
      const int sx = static_cast<int>((x - static_cast<long long>(destRect.Left)) * source.Width() / w);
      std::uint32_t colour = source.Pixels(sx, sy);
      if (mark.transparent && colour == mark.transparentColor) continue;
      if (mark.andMode) colour &= dest.Pixels(x, y);
      dest.SetPixels(x, y, colour);
    }
  }
}

void PaintMark(TDibGraphic& dest, const TMark& mark, const TRect& pageArea, double zoom,
               int resolution) {
  if (!mark.visible) return;
  TMark placed = mark;
  placed.markRect = ClampMarkRect(mark.markRect, pageArea);
  // A mark wholly off the page is clamped inside out: it shows nowhere.
  if (placed.markRect.Right < placed.markRect.Left ||
      placed.markRect.Bottom < placed.markRect.Top)
    return;
  const TRenderedMark rendered = RenderMark(placed, resolution, zoom);
  DrawRenderedMark(rendered, dest, MarkScreenBounds(placed.markRect, zoom, 0, 0));
}

void PaintMarks(TDibGraphic& dest, const std::vector<TMark>& marks, const TRect& pageArea,
                double zoom, int resolution) {
  for (const TMark& mark : marks) PaintMark(dest, mark, pageArea, zoom, resolution);
}

void BurnMarks(TDibGraphic& page, const std::vector<TMark>& marks, int resolution) {
  PaintMarks(page, marks, {0, 0, page.Width(), page.Height()}, 100, resolution);
}

void BurnPageAnnotations(TTiffGraphic& page, int resolution) {
  std::vector<TMark> marks;
  LoadMarksFromText(page.CustomTagValue(), marks);
  BurnMarks(page, marks, resolution);
  page.SetCustomTagValue("");
}

}  // namespace lumetra
