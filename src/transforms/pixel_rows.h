// Row-wise pixel access shared by the transforms. Each routine gives exactly
// what Pixels / SetPixels / PixelIndex would give pixel by pixel, but walks a
// whole row at once so the hot loops avoid per-pixel indirect calls.
#pragma once

#include <cstdint>
#include <cstring>

#include "imaging/color_reduction.h"
#include "imaging/dib_graphic.h"
#include "imaging/lumisc.h"

namespace lumetra::rows {

inline std::uint32_t EntryColour(const TDibGraphic& g, int index) {
  return PaletteColour(g.LogPalette()->palPalEntry[index & 0xFF]);
}

inline int GetIndex(const std::uint8_t* row, int bits, int x) {
  switch (bits) {
    case 1: return (row[x >> 3] >> (7 - (x & 7))) & 1;
    case 4: return (x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4);
    default: return row[x];
  }
}

inline void SetIndex(std::uint8_t* row, int bits, int x, int index) {
  switch (bits) {
    case 1: {
      const std::uint8_t mask = static_cast<std::uint8_t>(0x80 >> (x & 7));
      row[x >> 3] = (index & 0xFF) > 0 ? (row[x >> 3] | mask) : (row[x >> 3] & ~mask);
      return;
    }
    case 4: {
      std::uint8_t& b = row[x >> 1];
      const std::uint8_t v = index & 0x0F;
      b = (x & 1) ? ((b & 0xF0) | v) : ((b & 0x0F) | (v << 4));
      return;
    }
    default: row[x] = static_cast<std::uint8_t>(index);
  }
}

inline std::uint32_t Rgb(int r, int g, int b) {
  return (std::uint32_t(r) << 16) | (std::uint32_t(g) << 8) | std::uint32_t(b);
}
inline int Red(std::uint32_t c) { return (c >> 16) & 0xFF; }
inline int Green(std::uint32_t c) { return (c >> 8) & 0xFF; }
inline int Blue(std::uint32_t c) { return c & 0xFF; }

inline int Bits(const TDibGraphic& g) { return g.InfoHeader().biBitCount; }

// The colours of row Y, as Pixels reads them.
inline void ReadColours(const TDibGraphic& g, int y, std::uint32_t* out) {
  const int w = g.Width();
  const std::uint8_t* row = g.ScanLine(y);
  const int bits = Bits(g);
  if (bits == 24) {
    for (int x = 0; x < w; ++x, row += 3)
      out[x] = (std::uint32_t{row[2]} << 16) | (std::uint32_t{row[1]} << 8) | row[0];
    return;
  }
  std::uint32_t table[256];
  const int count = bits == 8 ? 256 : (1 << bits);
  for (int i = 0; i < count; ++i) table[i] = EntryColour(g, i);
  if (bits == 8) {
    for (int x = 0; x < w; ++x) out[x] = table[row[x]];
  } else {
    for (int x = 0; x < w; ++x) out[x] = table[GetIndex(row, bits, x)];
  }
}

// Writes colours into row Y as SetPixels would: straight into a true-colour
// row, by nearest palette colour into an indexed one (through Nearest when
// given: the same answers as the image's converter, faster for many colours).
inline void WriteColours(TDibGraphic& g, int y, const std::uint32_t* in,
                         TNearestColourIndex* nearest = nullptr) {
  const int w = g.Width();
  std::uint8_t* row = g.ScanLine(y);
  const int bits = Bits(g);
  if (bits == 24) {
    for (int x = 0; x < w; ++x, row += 3) {
      row[0] = in[x] & 0xFF;
      row[1] = (in[x] >> 8) & 0xFF;
      row[2] = (in[x] >> 16) & 0xFF;
    }
    return;
  }
  if (nearest) {
    for (int x = 0; x < w; ++x) SetIndex(row, bits, x, nearest->Find(Red(in[x]), Green(in[x]), Blue(in[x])));
    return;
  }
  TRgbToPaletteConverter* converter = g.Converter();
  for (int x = 0; x < w; ++x) SetIndex(row, bits, x, converter->FindNearestColor(in[x] & 0xFFFFFF));
}


// Elements in a work buffer of Count elements of Size bytes each, counted in
// 64 bits and held to the image limit: a size product must not wrap in a
// 32-bit process, and a buffer too large fails as an ELumetraError, not as
// an allocation failure.
inline std::size_t WorkCount(std::uint64_t count, std::size_t size) {
  if (count > kMaxImageBytes / size) throw ELumetraError("Out of resources");
  return static_cast<std::size_t>(count);
}

// The palette of Source when it has one, else null (the format's default).
inline const TLogPalette* PaletteOf(const TDibGraphic& g) {
  return IsIndexedFormat(g.ImageFormat()) ? g.LogPalette() : nullptr;
}

// NewImage with Source's resolution.
inline void NewLike(TDibGraphic& dest, const TDibGraphic& source, int width, int height,
                    TImageFormat format, const TLogPalette* palette) {
  dest.NewImage(width, height, format, palette, source.XDpi(), source.YDpi());
}

}  // namespace lumetra::rows
