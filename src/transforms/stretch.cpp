#include "transforms/stretch.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "transforms/pixel_rows.h"

namespace lumetra {

namespace {

bool SamePalette(const TDibGraphic& a, const TDibGraphic& b) {
  if (a.ImageFormat() != b.ImageFormat()) return false;
  if (!IsIndexedFormat(a.ImageFormat())) return true;
  const TLogPalette& pa = *a.LogPalette();
  const TLogPalette& pb = *b.LogPalette();
  return pa.palNumEntries == pb.palNumEntries &&
         std::memcmp(pa.palPalEntry, pb.palPalEntry, pa.palNumEntries * sizeof(TPaletteEntry)) == 0;
}

// Source column for each destination column: i * W div NW.
std::vector<int> SampleMap(int sourceSize, int destSize) {
  std::vector<int> map(rows::WorkCount(static_cast<std::uint64_t>(destSize), sizeof(int)));
  for (int i = 0; i < destSize; ++i)
    map[static_cast<std::size_t>(i)] =
        static_cast<int>(static_cast<long long>(i) * sourceSize / destSize);
  return map;
}

void StretchColorOnColor(const TDibGraphic& source, TDibGraphic& dest) {
  const int w = source.Width(), h = source.Height();
  const int w2 = dest.Width(), h2 = dest.Height();
  const std::vector<int> xs = SampleMap(w, w2), ys = SampleMap(h, h2);
  const int sourceBits = rows::Bits(source), destBits = rows::Bits(dest);

  if (SamePalette(source, dest)) {
    for (int j = 0; j < h2; ++j) {
      const std::uint8_t* s = source.ScanLine(ys[static_cast<std::size_t>(j)]);
      std::uint8_t* d = dest.ScanLine(j);
      if (sourceBits == 24) {
        for (int i = 0; i < w2; ++i) std::memcpy(d + 3 * i, s + 3 * xs[static_cast<std::size_t>(i)], 3);
      } else {
        for (int i = 0; i < w2; ++i)
          rows::SetIndex(d, destBits, i, rows::GetIndex(s, sourceBits, xs[static_cast<std::size_t>(i)]));
      }
    }
    return;
  }

  // Indexed source: every source index maps to one destination value.
  std::uint32_t indexMap[256];
  if (sourceBits != 24) {
    for (int i = 0; i < (1 << sourceBits); ++i) {
      const std::uint32_t c = rows::EntryColour(source, i);
      indexMap[i] = destBits == 24 ? c : dest.Converter()->FindNearestColor(c);
    }
  }
  std::vector<std::uint32_t> colours(static_cast<std::size_t>(w2));
  std::unique_ptr<TNearestColourIndex> nearest;
  if (destBits != 24) nearest = std::make_unique<TNearestColourIndex>(*dest.LogPalette());
  for (int j = 0; j < h2; ++j) {
    const std::uint8_t* s = source.ScanLine(ys[static_cast<std::size_t>(j)]);
    std::uint8_t* d = dest.ScanLine(j);
    if (sourceBits != 24) {
      for (int i = 0; i < w2; ++i) {
        const std::uint32_t v = indexMap[rows::GetIndex(s, sourceBits, xs[static_cast<std::size_t>(i)])];
        if (destBits == 24) {
          d[3 * i] = v & 0xFF;
          d[3 * i + 1] = (v >> 8) & 0xFF;
          d[3 * i + 2] = (v >> 16) & 0xFF;
        } else {
          rows::SetIndex(d, destBits, i, static_cast<int>(v));
        }
      }
    } else {
      for (int i = 0; i < w2; ++i) {
        const std::uint8_t* p = s + 3 * xs[static_cast<std::size_t>(i)];
        colours[static_cast<std::size_t>(i)] = rows::Rgb(p[2], p[1], p[0]);
      }
      rows::WriteColours(dest, j, colours.data(), nearest.get());
    }
  }
}

// Area averaging: destination pixel (i, j) is the rounded mean of the source
// pixels in columns [i*W/NW, ceil((i+1)*W/NW)) and the rows likewise, at
// least one pixel each way.
void StretchHalftone(const TDibGraphic& source, TDibGraphic& dest) {
  const int w = std::max(source.Width(), 1), h = source.Height();
  const int w2 = dest.Width(), h2 = dest.Height();
  auto span = [](int i, int size, int size2, int& first, int& end) {
    first = static_cast<int>(static_cast<long long>(i) * size / size2);
    end = static_cast<int>((static_cast<long long>(i + 1) * size + size2 - 1) / size2);
    end = std::max(end, first + 1);
  };
  std::vector<int> x0(static_cast<std::size_t>(w2)), x1(x0.size());
  for (int i = 0; i < w2; ++i) span(i, w, w2, x0[static_cast<std::size_t>(i)], x1[static_cast<std::size_t>(i)]);
  // Column sums over the rows of one destination row, then prefix sums along
  // the row so each destination pixel costs the same whatever its area.
  std::vector<std::uint64_t> prefix(rows::WorkCount(3 * (std::uint64_t{1} + w), sizeof(std::uint64_t)));
  std::vector<std::uint32_t> colours(static_cast<std::size_t>(w2));
  std::vector<std::uint64_t> columns(rows::WorkCount(3 * std::uint64_t{1} * w, sizeof(std::uint64_t)));
  std::unique_ptr<TNearestColourIndex> nearest;
  if (dest.ImageFormat() != ifTrueColor) nearest = std::make_unique<TNearestColourIndex>(*dest.LogPalette());
  for (int j = 0; j < h2; ++j) {
    int y0, y1;
    span(j, h, h2, y0, y1);
    std::fill(columns.begin(), columns.end(), 0);
    for (int y = y0; y < y1; ++y) {
      const std::uint8_t* s = source.ScanLine(y);
      for (std::size_t k = 0; k < columns.size(); ++k) columns[k] += s[k];
    }
    for (int c = 0; c < 3; ++c) prefix[static_cast<std::size_t>(c)] = 0;
    for (std::size_t x = 0; x < static_cast<std::size_t>(w); ++x)
      for (std::size_t c = 0; c < 3; ++c) prefix[3 * (x + 1) + c] = prefix[3 * x + c] + columns[3 * x + c];
    const std::uint64_t rowsCounted = static_cast<std::uint64_t>(y1 - y0);
    for (int i = 0; i < w2; ++i) {
      const std::size_t a = static_cast<std::size_t>(x0[static_cast<std::size_t>(i)]);
      const std::size_t b = static_cast<std::size_t>(x1[static_cast<std::size_t>(i)]);
      const std::uint64_t count = rowsCounted * (b - a);
      int v[3];
      for (std::size_t c = 0; c < 3; ++c)
        v[c] = static_cast<int>((prefix[3 * b + c] - prefix[3 * a + c] + count / 2) / count);
      colours[static_cast<std::size_t>(i)] = rows::Rgb(v[2], v[1], v[0]);
    }
    rows::WriteColours(dest, j, colours.data(), nearest.get());
  }
}

}  // namespace

void StretchImage(const TDibGraphic& source, TDibGraphic& dest, TStretchMode mode) {
  if (source.Empty() || dest.Empty()) return;
  if (mode == smHalftone && source.ImageFormat() == ifTrueColor)
    StretchHalftone(source, dest);
  else
    StretchColorOnColor(source, dest);
}

}  // namespace lumetra
