// Small images for the transform tests, one per format, with a pattern that
// uses every index the format has.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "imaging/dib_graphic.h"

namespace lumetra::testing {

constexpr TImageFormat kAllFormats[] = {ifBlackWhite, ifGray16,  ifGray256,
                                        ifColor16,    ifColor256, ifTrueColor};

inline std::string FormatLabel(const ::testing::TestParamInfo<TImageFormat>& info) {
  static const char* names[] = {"BlackWhite", "Gray16", "Gray256", "Color16", "Color256", "TrueColor"};
  return names[info.param];
}

// A pattern image: indexed formats cycle through their indices, true colour
// gets a different colour for nearly every pixel.
inline void MakePattern(TDibGraphic& g, TImageFormat format, int w, int h) {
  g.NewImage(w, h, format, nullptr, 300, 200);
  const int count = PaletteEntryCount(format);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      if (count)
        g.SetPixelIndex(x, y, (x * 7 + y * 13 + x * y) % count);
      else
        g.SetPixels(x, y, (std::uint32_t(x * 37 % 256) << 16) | (std::uint32_t(y * 53 % 256) << 8) |
                              std::uint32_t((x + y) * 11 % 256));
    }
}

// The value a pixel holds: its index in indexed images, its colour otherwise.
inline std::uint32_t Value(const TDibGraphic& g, int x, int y) {
  return IsIndexedFormat(g.ImageFormat()) ? std::uint32_t(g.PixelIndex(x, y)) : g.Pixels(x, y);
}

// Same size, format, palette and pixel values (row padding is not compared).
inline ::testing::AssertionResult SameImage(const TDibGraphic& a, const TDibGraphic& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height())
    return ::testing::AssertionFailure() << "size " << a.Width() << "x" << a.Height() << " vs "
                                         << b.Width() << "x" << b.Height();
  if (a.ImageFormat() != b.ImageFormat())
    return ::testing::AssertionFailure() << "format " << int(a.ImageFormat()) << " vs "
                                         << int(b.ImageFormat());
  for (int i = 0; i < PaletteEntryCount(a.ImageFormat()); ++i)
    if (PaletteColour(a.LogPalette()->palPalEntry[i]) != PaletteColour(b.LogPalette()->palPalEntry[i]))
      return ::testing::AssertionFailure() << "palette entry " << i;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x)
      if (Value(a, x, y) != Value(b, x, y))
        return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << "): " << Value(a, x, y)
                                             << " vs " << Value(b, x, y);
  return ::testing::AssertionSuccess();
}

// The true-colour pixels of Source in R (Right and Bottom excluded), copied
// one by one: what a crop of R must give.
inline std::unique_ptr<TDibGraphic> CropPixels(const TDibGraphic& source, const TRect& r) {
  auto cut = std::make_unique<TDibGraphic>();
  cut->NewImage(r.Right - r.Left, r.Bottom - r.Top, source.ImageFormat(), nullptr, 0, 0);
  for (int y = r.Top; y < r.Bottom; ++y)
    for (int x = r.Left; x < r.Right; ++x) cut->SetPixels(x - r.Left, y - r.Top, source.Pixels(x, y));
  return cut;
}

}  // namespace lumetra::testing
