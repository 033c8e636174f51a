// One page of a TIFF file as the reader sees it: what its directory says,
// how its pixels become the image's, and the paths that decode them.
#pragma once

#include <tiffio.h>

#include <cstdint>

#include "formats/tiff_client.h"
#include "imaging/dib_graphic.h"

namespace lumetra::tiff_io {

// What a page's directory says about its pixels.
struct TiffPageHeader {
  std::uint32_t width = 0, height = 0;
  std::uint16_t photometric = 0, compression = COMPRESSION_NONE, bits = 0;
  std::uint16_t planar = PLANARCONFIG_CONTIG, orientation = ORIENTATION_TOPLEFT;
  std::uint16_t samplesPerPixel = 1, xDpi = 0, yDpi = 0;
  bool ccitt = false, tiled = false;
  std::uint64_t scanlineSize = 0;
  // Bits per sample times the samples a scanline holds per pixel.
  std::int64_t bitsTimesS = 0;
};

TiffPageHeader ReadPageHeader(TIFF* tif, const TiffClient& client);

// How a page's pixels become the image's: its format and palette, and the
// path that decodes them (the RGBA raster, 16-bit scanlines, or the stored
// bytes as they are).
struct TiffPageLayout {
  TImageFormat format = ifTrueColor;
  bool invert = false, sixteen = false, rgba = false;
  TLogPalette palette{};
  bool paletted = false;
};

TiffPageLayout ChoosePageLayout(TIFF* tif, const TiffPageHeader& header);

// A page whose rows decode in order may be left undecoded, for a caller that
// takes its rows one at a time: Wanted asks for that; Deferred says it was
// done, with what each row needs after decoding.
struct TiffDeferredRows {
  bool wanted = false;
  bool deferred = false;
  int width = 0;
  std::size_t rowBytes = 0;
  bool swap = false, invert = false;
};

// Decodes the page's pixels into Page, made in the layout's format, or
// leaves them to the caller as Deferred says.
void ReadPagePixels(TDibGraphic& page, TIFF* tif, TiffClient& client, Progress& progress,
                    const TiffPageHeader& header, const TiffPageLayout& layout,
                    TiffDeferredRows* deferred = nullptr);

}  // namespace lumetra::tiff_io
