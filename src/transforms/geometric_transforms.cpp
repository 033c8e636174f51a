#include "transforms/geometric_transforms.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

#include "base/conversions.h"
#include "base/format.h"
#include "imaging/row_bytes.h"
#include "transforms/pixel_rows.h"

namespace lumetra {

namespace {

// Copies one pixel between rows of the same format.
template <int Bits>
inline void CopyPixel(const std::uint8_t* source, int sx, std::uint8_t* dest, int dx) {
  if constexpr (Bits == 24) {
    const std::uint8_t* s = source + 3 * sx;
    std::uint8_t* d = dest + 3 * dx;
    d[0] = s[0];
    d[1] = s[1];
    d[2] = s[2];
  } else if constexpr (Bits == 8) {
    dest[dx] = source[sx];
  } else {
    rows::SetIndex(dest, Bits, dx, rows::GetIndex(source, Bits, sx));
  }
}

// A quarter turn, in square tiles so that both the reads and the scattered
// writes stay in cache. Clockwise: Dest(H-1-y, x) := Source(x, y);
// anticlockwise: Dest(y, W-1-x) := Source(x, y).
template <int Bits, class RowsDone>
void QuarterTurn(const TDibGraphic& source, TDibGraphic& dest, bool clockwise, RowsDone rowsDone) {
  constexpr int kTile = 64;
  const int w = source.Width(), h = source.Height();
  const std::uint8_t* sourceRows[kTile];
  for (int by = 0; by < h; by += kTile) {
    const int yEnd = std::min(by + kTile, h);
    for (int y = by; y < yEnd; ++y) sourceRows[y - by] = source.ScanLine(y);
    for (int bx = 0; bx < w; bx += kTile) {
      const int xEnd = std::min(bx + kTile, w);
      for (int x = bx; x < xEnd; ++x) {
        std::uint8_t* destRow = dest.ScanLine(clockwise ? x : w - 1 - x);
        if (clockwise) {
          for (int y = by; y < yEnd; ++y) CopyPixel<Bits>(sourceRows[y - by], x, destRow, h - 1 - y);
        } else {
          for (int y = by; y < yEnd; ++y) CopyPixel<Bits>(sourceRows[y - by], x, destRow, y);
        }
      }
    }
    rowsDone(yEnd - 1);
  }
}

}  // namespace

// --- flips ---------------------------------------------------------------------

void TFlipHorizontalTransform::ApplyOnDest(const TDibGraphic& source, TDibGraphic& dest) {
  if (&source == &dest) return ApplyThroughCopy(dest);
  if (source.Width() <= 1) {
    dest.Assign(&source);
    return;
  }
  StartProgress();
  const int w = source.Width(), h = source.Height();
  rows::NewLike(dest, source, w, h, source.ImageFormat(), rows::PaletteOf(source));
  const int bits = rows::Bits(source);
  for (int y = 0; y < h; ++y) {
    ReverseRow(source.ScanLine(y), dest.ScanLine(y), w, bits);
    Progress(y, 0, h - 1);
  }
  EndProgress();
}

void TFlipVerticalTransform::ApplyOnDest(const TDibGraphic& source, TDibGraphic& dest) {
  if (&source == &dest) return ApplyThroughCopy(dest);
  if (source.Height() <= 1) {
    dest.Assign(&source);
    return;
  }
  StartProgress();
  const int w = source.Width(), h = source.Height();
  rows::NewLike(dest, source, w, h, source.ImageFormat(), rows::PaletteOf(source));
  const std::size_t stride = static_cast<std::size_t>(source.RowStride());
  // Whole rows move; progress is counted in rows, which gives the same
  // percentages as counting the columns of the result.
  for (int y = 0; y < h; ++y) {
    std::memcpy(dest.ScanLine(h - 1 - y), source.ScanLine(y), stride);
    Progress(y, 0, h - 1);
  }
  EndProgress();
}

// --- rotation ------------------------------------------------------------------

void TRotateTransform::ApplyOnDest(const TDibGraphic& source, TDibGraphic& dest) {
  if (&source == &dest) return ApplyThroughCopy(dest);
  StartProgress();
  if (!std::isfinite(angle_)) SafeTrunc(angle_);  // raises the library's own error
  // The angle counts as whole when it is within 0.005 of an integer after
  // rounding to three decimals, so that 89.996 and 90.004 turn exactly.
  const long double a3 = StrToFloat(FloatToStrF(angle_, 3));
  const double n = std::nearbyint(angle_);
  int degrees = -1;
  if (std::fabs(static_cast<long double>(n) - a3) < 0.005L) {
    double d = std::fmod(n + 360.0, 360.0);
    while (d < 0) d = std::fmod(d + 360.0, 360.0);
    degrees = static_cast<int>(d);
  }
  const int w = source.Width(), h = source.Height();
  const int bits = rows::Bits(source);
  auto rowsDone = [&](int y) { Progress(y, 0, h - 1); };
  switch (degrees) {
    case 0:
      dest.Assign(&source);
      break;
    case 90:
    case 270: {
      const bool clockwise = degrees == 90;
      rows::NewLike(dest, source, h, w, source.ImageFormat(), rows::PaletteOf(source));
      switch (bits) {
        case 1: QuarterTurn<1>(source, dest, clockwise, rowsDone); break;
        case 4: QuarterTurn<4>(source, dest, clockwise, rowsDone); break;
        case 8: QuarterTurn<8>(source, dest, clockwise, rowsDone); break;
        default: QuarterTurn<24>(source, dest, clockwise, rowsDone); break;
      }
      break;
    }
    case 180:
      rows::NewLike(dest, source, w, h, source.ImageFormat(), rows::PaletteOf(source));
      for (int y = 0; y < h; ++y) {
        ReverseRow(source.ScanLine(y), dest.ScanLine(h - 1 - y), w, bits);
        rowsDone(y);
      }
      break;
    default:
      RotateArbitrary(source, dest);
      break;
  }
  EndProgress();
}

void TRotateTransform::RotateArbitrary(const TDibGraphic& source, TDibGraphic& dest) {
  const int w = source.Width(), h = source.Height();
  const long double theta = static_cast<long double>(angle_) * std::numbers::pi_v<long double> / 180.0L;
  const long double s = std::sin(theta), c = std::cos(theta);
  const int cx = w / 2, cy = h / 2;
  // Round and check: a result that does not fit raises instead of wrapping.
  auto round = [](long double v) { return SafeTrunc(std::nearbyint(v)); };
  const int corners[4][2] = {{0, 0}, {0, h - 1}, {w - 1, h - 1}, {w - 1, 0}};
  long long minX = 0, maxX = 0, minY = 0, maxY = 0;
  for (int i = 0; i < 4; ++i) {
    const long double x = corners[i][0] - cx, y = corners[i][1] - cy;
    const long long nx = round(x * c - y * s + cx), ny = round(x * s + y * c + cy);
    if (i == 0 || nx < minX) minX = nx;
    if (i == 0 || nx > maxX) maxX = nx;
    if (i == 0 || ny < minY) minY = ny;
    if (i == 0 || ny > maxY) maxY = ny;
  }
  const long long w2l = maxX - minX + 1, h2l = maxY - minY + 1;
  if (w2l > 0x7FFFFFFF || h2l > 0x7FFFFFFF) throw EOutOfResources("Out of resources");
  const int w2 = static_cast<int>(w2l), h2 = static_cast<int>(h2l);
  rows::NewLike(dest, source, w2, h2, source.ImageFormat(), rows::PaletteOf(source));
  const int ncx = w2 / 2, ncy = h2 / 2;
  const int bits = rows::Bits(source);
  const int backIndex =
      bits == 24 ? 0 : dest.Converter()->FindNearestColor(backColor_ & 0xFFFFFF);

  // Round to nearest, ties to even, in extended precision. rint gives what
  // nearbyint gives (they differ only in the inexact flag) but compiles to
  // one instruction instead of a library call per pixel.
  auto roundExtended = [](long double v) { return static_cast<long long>(std::rint(v)); };
  // The inverse mapping as column terms plus row terms.
  std::vector<long double> columnX(rows::WorkCount(2 * std::uint64_t{1} * w2, sizeof(long double)) / 2),
      columnY(columnX.size());
  for (int i = 0; i < w2; ++i) {
    const long double dx = i - ncx;
    columnX[static_cast<std::size_t>(i)] = dx * c;
    columnY[static_cast<std::size_t>(i)] = -dx * s;
  }
  for (int r = 0; r < h2; ++r) {
    const long double dy = r - ncy;
    const long double rowX = dy * s + cx, rowY = dy * c + cy;
    std::uint8_t* destRow = dest.ScanLine(r);
    for (int i = 0; i < w2; ++i) {
      long long sx = roundExtended(columnX[static_cast<std::size_t>(i)] + rowX);
      long long sy = roundExtended(columnY[static_cast<std::size_t>(i)] + rowY);
      if (sx == w) sx = w - 1;
      if (sy == h) sy = h - 1;
      if (sx < 0 || sx >= w || sy < 0 || sy >= h) {
        if (bits == 24) {
          destRow[3 * i] = backColor_ & 0xFF;
          destRow[3 * i + 1] = (backColor_ >> 8) & 0xFF;
          destRow[3 * i + 2] = (backColor_ >> 16) & 0xFF;
        } else {
          rows::SetIndex(destRow, bits, i, backIndex);
        }
        continue;
      }
      const std::uint8_t* sourceRow = source.ScanLine(static_cast<int>(sy));
      switch (bits) {
        case 1: CopyPixel<1>(sourceRow, static_cast<int>(sx), destRow, i); break;
        case 4: CopyPixel<4>(sourceRow, static_cast<int>(sx), destRow, i); break;
        case 8: CopyPixel<8>(sourceRow, static_cast<int>(sx), destRow, i); break;
        default: CopyPixel<24>(sourceRow, static_cast<int>(sx), destRow, i); break;
      }
    }
    Progress(r, 0, h2 - 1);
  }
}

// --- crop ----------------------------------------------------------------------

void TCropTransform::ApplyOnDest(const TDibGraphic& source, TDibGraphic& dest) {
  if (&source == &dest) return ApplyThroughCopy(dest);
  StartProgress();
  const long long w = source.Width(), h = source.Height();
  long long left = left_, top = top_, right, bottom;
  if (useCoordinates_) {
    right = right_;
    bottom = bottom_;
  } else {
    right = w - right_;
    bottom = h - bottom_;
  }
  // Whatever lies outside the image is clipped away, so a rectangle that
  // starts left of or above the image never reads outside it.
  left = std::max(left, 0LL);
  top = std::max(top, 0LL);
  right = std::min(right, w);
  bottom = std::min(bottom, h);
  if (top >= bottom || left >= right) throw ELumetraError("Invalid crop parameters");
  const int width = static_cast<int>(right - left), height = static_cast<int>(bottom - top);
  const int x0 = static_cast<int>(left), y0 = static_cast<int>(top);
  rows::NewLike(dest, source, width, height, source.ImageFormat(), rows::PaletteOf(source));
  const int bits = rows::Bits(source);
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* s = source.ScanLine(y + y0);
    std::uint8_t* d = dest.ScanLine(y);
    if (bits >= 8) {
      std::memcpy(d, s + static_cast<std::size_t>(x0) * (bits / 8),
                  static_cast<std::size_t>(width) * (bits / 8));
    } else {
      for (int x = 0; x < width; ++x) rows::SetIndex(d, bits, x, rows::GetIndex(s, bits, x + x0));
    }
    Progress(y, 0, height - 1);
  }
  EndProgress();
}

}  // namespace lumetra
