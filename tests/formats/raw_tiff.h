// TIFF files written with libtiff directly, for the reader's special cases,
// and the tags a written file holds as libtiff reads them.
#pragma once

#include <tiffio.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "base/streams.h"
#include "formats/tiff_graphic.h"
#include "support/format_images.h"

namespace lumetra::testing {

struct RawTiff {
  std::uint32_t width = 16, height = 8;
  std::uint16_t bits = 8, samples = 1, photometric = PHOTOMETRIC_MINISBLACK;
  std::uint16_t compression = COMPRESSION_NONE;
  bool writeBits = true;
  int orientation = 0;     // 0: no tag
  std::uint32_t tile = 0;  // 0: strips; else square tiles of this size
  int unit = 0;            // 0: no resolution tags
  int fillOrder = 0;       // 0: no tag
  float resolution = 0;
  std::vector<std::uint16_t> colormap;                 // red, green, blue tables one after another
  std::function<void(std::uint8_t* row, int y)> fill;  // one scanline of bytes
  // Encoded strips of RowsPerStrip rows written as they are, instead of Fill.
  std::vector<std::vector<std::uint8_t>> rawStrips;
  std::uint32_t rowsPerStrip = 0;
};

inline std::vector<std::uint8_t> WriteRaw(const RawTiff& layout) {
  const std::string path = TempPath("qv_raw_tiff.tif");
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  EXPECT_NE(tif, nullptr);
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, layout.width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, layout.height);
  if (layout.writeBits) TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, layout.bits);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, layout.samples);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, layout.photometric);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, layout.compression);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  if (layout.tile) {
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, layout.tile);
    TIFFSetField(tif, TIFFTAG_TILELENGTH, layout.tile);
  } else {
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP,
                 layout.rowsPerStrip ? layout.rowsPerStrip : layout.height);
  }
  if (layout.orientation) TIFFSetField(tif, TIFFTAG_ORIENTATION, layout.orientation);
  if (layout.fillOrder) TIFFSetField(tif, TIFFTAG_FILLORDER, layout.fillOrder);
  if (layout.unit) {
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, layout.unit);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, layout.resolution);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, layout.resolution);
  }
  if (!layout.colormap.empty()) {
    const std::size_t n = layout.colormap.size() / 3;
    std::vector<std::uint16_t> map = layout.colormap;
    TIFFSetField(tif, TIFFTAG_COLORMAP, map.data(), map.data() + n, map.data() + 2 * n);
  }
  for (std::size_t i = 0; i < layout.rawStrips.size(); ++i) {
    std::vector<std::uint8_t> strip = layout.rawStrips[i];
    TIFFWriteRawStrip(tif, static_cast<tstrip_t>(i), strip.data(),
                      static_cast<tmsize_t>(strip.size()));
  }
  const std::size_t rowBytes = TIFFScanlineSize(tif);
  std::vector<std::uint8_t> rows((rowBytes + 8) * layout.height, 0);
  if (layout.fill)
    for (std::uint32_t y = 0; y < layout.height; ++y)
      layout.fill(&rows[(rowBytes + 8) * y], int(y));
  if (layout.tile) {
    // Tile widths are multiples of 16, so every tile starts on a byte.
    const std::size_t pixelBits = std::size_t{layout.bits} * layout.samples;
    const std::size_t tileRow = TIFFTileRowSize(tif);
    std::vector<std::uint8_t> tile(TIFFTileSize(tif));
    for (std::uint32_t top = 0; top < layout.height; top += layout.tile)
      for (std::uint32_t left = 0; left < layout.width; left += layout.tile) {
        std::fill(tile.begin(), tile.end(), 0);
        for (std::uint32_t r = 0; r < layout.tile && top + r < layout.height; ++r) {
          const std::size_t start = left * pixelBits / 8;
          const std::size_t n = std::min(tileRow, rowBytes - start);
          std::memcpy(&tile[r * tileRow], &rows[(rowBytes + 8) * (top + r) + start], n);
        }
        TIFFWriteTile(tif, tile.data(), left, top, 0, 0);
      }
  } else if (layout.rawStrips.empty()) {
    for (std::uint32_t y = 0; y < layout.height; ++y)
      TIFFWriteScanline(tif, &rows[(rowBytes + 8) * y], y, 0);
  }
  TIFFClose(tif);
  TMemoryStream file;
  file.LoadFromFile(path);
  std::remove(path.c_str());
  return {file.Memory(), file.Memory() + file.Size()};
}

inline std::unique_ptr<TTiffGraphic> Load(const std::vector<std::uint8_t>& bytes, int page = 1) {
  TMemoryStream stream;
  stream.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  stream.SetPosition(0);
  auto image = std::make_unique<TTiffGraphic>();
  image->LoadImageFromStream(stream, page);
  return image;
}

inline std::vector<std::uint8_t> Save(TTiffGraphic& image) {
  TMemoryStream stream;
  image.SaveToStream(stream);
  return {stream.Memory(), stream.Memory() + stream.Size()};
}

// A tag of page 1 of a file, through libtiff.
inline std::uint32_t TagOf(const std::vector<std::uint8_t>& bytes, ttag_t tag) {
  const std::string path = TempPath("qv_tag_probe.tif");
  TMemoryStream s;
  s.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  s.SaveToFile(path);
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  std::uint32_t value = 0xDEADBEEF;
  if (tif) {
    if (tag == TIFFTAG_ROWSPERSTRIP || tag == TIFFTAG_SUBFILETYPE || tag == TIFFTAG_GROUP3OPTIONS) {
      std::uint32_t v32 = 0;
      if (TIFFGetField(tif, tag, &v32)) value = v32;
    } else if (tag == 273) {
      value = TIFFNumberOfStrips(tif);
    } else {
      std::uint16_t v16 = 0;
      if (TIFFGetField(tif, tag, &v16)) value = v16;
    }
    TIFFClose(tif);
  }
  std::remove(path.c_str());
  return value;
}

}  // namespace lumetra::testing
