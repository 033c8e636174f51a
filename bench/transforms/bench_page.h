// The benchmark page: 2480 x 3508 (A4 at 300 dpi), white paper with lines of
// dark "text" strokes and a photograph-like colour block with noise, made
// from a fixed seed so every run and every peer sees the same pixels.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "imaging/dib_graphic.h"

namespace lumetra::bench {

constexpr int kPageWidth = 2480, kPageHeight = 3508;

inline void MakePage(TDibGraphic& page) {
  page.NewImage(kPageWidth, kPageHeight, ifTrueColor, nullptr, 300, 300);
  std::uint32_t seed = 12345;
  auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
  for (int y = 0; y < kPageHeight; ++y) {
    std::uint8_t* row = page.ScanLine(y);
    const bool textLine = (y % 60) < 34 && y > 200 && y < 1700;
    for (int x = 0; x < kPageWidth; ++x) {
      std::uint8_t r = 250, g = 250, b = 246;
      if (textLine && x > 200 && x < 2280 && ((x / 7 + y / 5) * 2654435761u >> 28) < 6) {
        r = g = b = static_cast<std::uint8_t>(20 + (next() >> 28));
      } else if (y >= 1900 && y < 3300 && x >= 240 && x < 2240) {
        const int n = static_cast<int>(next() >> 27) - 16;
        r = static_cast<std::uint8_t>(std::clamp((x - 240) * 255 / 2000 + n, 0, 255));
        g = static_cast<std::uint8_t>(std::clamp((y - 1900) * 255 / 1400 + n, 0, 255));
        b = static_cast<std::uint8_t>(std::clamp(128 + ((x + y) % 256 - 128) / 2 + n, 0, 255));
      }
      row[3 * x] = b;
      row[3 * x + 1] = g;
      row[3 * x + 2] = r;
    }
  }
}

// The page thresholded to black and white (text black, paper white).
inline void MakeBlackWhitePage(const TDibGraphic& page, TDibGraphic& bw) {
  bw.NewImage(page.Width(), page.Height(), ifBlackWhite, nullptr, 300, 300);
  for (int y = 0; y < page.Height(); ++y) {
    const std::uint8_t* s = page.ScanLine(y);
    std::uint8_t* d = bw.ScanLine(y);
    for (int x = 0; x < page.Width(); ++x)
      if (s[3 * x] + s[3 * x + 1] + s[3 * x + 2] > 3 * 128) d[x >> 3] |= 0x80 >> (x & 7);
  }
}

// The page in grey levels (integer luma), as a scanner's grey mode gives it.
inline void MakeGreyPage(const TDibGraphic& page, TDibGraphic& grey) {
  grey.NewImage(page.Width(), page.Height(), ifGray256, nullptr, 300, 300);
  for (int y = 0; y < page.Height(); ++y) {
    const std::uint8_t* s = page.ScanLine(y);
    std::uint8_t* d = grey.ScanLine(y);
    for (int x = 0; x < page.Width(); ++x)
      d[x] = static_cast<std::uint8_t>((29 * s[3 * x] + 150 * s[3 * x + 1] + 77 * s[3 * x + 2]) >> 8);
  }
}

// Binary PPM (true colour) or PBM (black and white) for the peer tools.
inline bool WritePortable(const TDibGraphic& g, const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool bw = g.ImageFormat() == ifBlackWhite;
  std::fprintf(f, "%s\n%d %d\n%s", bw ? "P4" : "P6", g.Width(), g.Height(), bw ? "" : "255\n");
  std::string line(bw ? (g.Width() + 7) / 8 : 3 * g.Width(), '\0');
  for (int y = 0; y < g.Height(); ++y) {
    const std::uint8_t* s = g.ScanLine(y);
    for (std::size_t i = 0; i < line.size(); ++i) {
      if (bw)
        line[i] = static_cast<char>(~s[i]);  // PBM: 1 is black
      else
        line[i] = static_cast<char>(s[i - i % 3 + 2 - i % 3]);  // BGR -> RGB
    }
    std::fwrite(line.data(), 1, line.size(), f);
  }
  return std::fclose(f) == 0;
}

}  // namespace lumetra::bench
