// PNG files that libpng reads with warnings, for the tests of who hears
// them.
#pragma once

#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "base/streams.h"
#include "formats/png_graphic.h"

namespace lumetra::png_warnings {

// Inserts Count ancillary chunks with a wrong CRC after a PNG's header:
// libpng warns of each and reads the image on.
inline void InsertBadChunks(std::vector<std::uint8_t>& png, int count) {
  const std::uint8_t chunk[] = {0, 0, 0, 1, 't', 'E', 'X', 't', 'x', 0, 0, 0, 0};
  for (int i = 0; i < count; ++i) png.insert(png.begin() + 33, std::begin(chunk), std::end(chunk));
}

// Writes a 20 x 10 true-colour PNG that reads with two warnings.
inline void WriteFile(const std::string& path) {
  TPngGraphic image;
  image.NewImage(20, 10, ifTrueColor, nullptr, 150, 150);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 20; ++x) image.SetPixels(x, y, std::uint32_t(x * 12) << 16 | y * 25);
  TMemoryStream bytes;
  image.SaveToStream(bytes);
  std::vector<std::uint8_t> png(bytes.Memory(), bytes.Memory() + bytes.Size());
  InsertBadChunks(png, 2);
  TFileStream file(path, fmCreate);
  file.WriteBuffer(png.data(), static_cast<std::int64_t>(png.size()));
}

}  // namespace lumetra::png_warnings
