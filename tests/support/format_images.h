// Shared helpers of the format tests: patterned images in every format and
// pixel-exact comparison.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif
#include <memory>
#include <string>

#include "base/streams.h"
#include "formats/png_graphic.h"
#include "imaging/dib_graphic.h"
#include "support/error_text.h"

namespace lumetra::testing {

// An image whose pixels differ from row to row and column to column, so a
// flipped, shifted or inverted copy never matches.
template <class T = TDibGraphic>
std::unique_ptr<T> MakePatterned(TImageFormat format, int width, int height,
                                 std::uint16_t dpi = 200) {
  auto image = std::make_unique<T>();
  image->NewImage(width, height, format, nullptr, dpi, dpi);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      if (format == ifTrueColor) {
        image->SetPixels(x, y,
                         (std::uint32_t((x * 7 + y) & 0xFF) << 16) |
                             (std::uint32_t((y * 5) & 0xFF) << 8) | ((x ^ y) & 0xFF));
      } else if (format == ifBlackWhite) {
        // Runs of two pixels at least: libtiff 4.5.0's Group 3 1D decoder
        // rejects rows in which every pixel is a run of its own.
        image->SetPixelIndex(x, y, (x / 2 + y / 3 + (x * y) / 37) % 2);
      } else {
        const int entries = PaletteEntryCount(format);
        image->SetPixelIndex(x, y, (x * 3 + y * 11 + (x * y) / 7) % entries);
      }
    }
  return image;
}

// Overwrites Image with flat 16-pixel blocks, which JPEG keeps nearly exact
// where fine patterns would be blurred.
inline void PaintFlatBlocks(TDibGraphic& image) {
  for (int y = 0; y < image.Height(); ++y)
    for (int x = 0; x < image.Width(); ++x) {
      const int block = (x / 16) * 5 + (y / 16) * 3;
      if (image.ImageFormat() == ifTrueColor)
        image.SetPixels(x, y,
                        (std::uint32_t(block * 37 & 0xFF) << 16) | ((block * 91 & 0xFF) << 8) |
                            (block * 53 & 0xFF));
      else
        image.SetPixelIndex(x, y, block * 7 % PaletteEntryCount(image.ImageFormat()));
    }
}

// Same size, format and pixels (only the bytes that hold pixels compare);
// with AnyFormat the colours alone (16 greys read back as 16 colours).
inline ::testing::AssertionResult SamePixels(const TDibGraphic& a, const TDibGraphic& b,
                                             bool anyFormat = false) {
  if (a.Width() != b.Width() || a.Height() != b.Height())
    return ::testing::AssertionFailure()
           << "size " << a.Width() << "x" << a.Height() << " vs " << b.Width() << "x" << b.Height();
  if (!anyFormat && a.ImageFormat() != b.ImageFormat())
    return ::testing::AssertionFailure()
           << "format " << int(a.ImageFormat()) << " vs " << int(b.ImageFormat());
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x)
      if (a.Pixels(x, y) != b.Pixels(x, y))
        return ::testing::AssertionFailure() << "pixel (" << x << "," << y << ") " << std::hex
                                             << a.Pixels(x, y) << " vs " << b.Pixels(x, y);
  return ::testing::AssertionSuccess();
}

// A temporary file of this process: CTest runs test cases side by side.
inline std::string TempPath(const std::string& name) {
  const char* base = std::getenv("TMPDIR");
  std::string dir = base && *base ? base : "/tmp";
#ifdef _WIN32
  if (const char* t = std::getenv("TEMP")) dir = t;
  return dir + "\\" + std::to_string(_getpid()) + "_" + name;
#else
  return dir + "/" + std::to_string(getpid()) + "_" + name;
#endif
}

inline ::testing::AssertionResult StartsWith(const std::string& text, const std::string& prefix) {
  if (text.rfind(prefix, 0) == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "\"" << text << "\" does not start with \"" << prefix
                                       << "\"";
}

}  // namespace lumetra::testing
