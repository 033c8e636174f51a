// The bitmap codec: Windows (3.x and the longer V4/V5 headers) and OS/2
// bitmaps of 1, 4, 8 and 24 bits per pixel, uncompressed, RLE8 and RLE4.
// Headers and pixels are those of the image model's DIB reader; this codec
// adds the module's protocol and the "inv" option. Other bit counts and
// bit-field data are "not supported": the bitmap class reads those through
// the DIB reader itself.
#include <cstring>

#include "base/exception.h"
#include "formats/gbm/gbm.h"
#include "imaging/bmp_decode.h"
#include "imaging/row_bytes.h"

namespace lumetra::gbm {
namespace {

struct BmpState : GbmPrivate {
  TBmpFile file;
  // "inv": a 1-bit bitmap comes with its palette entries swapped and its
  // bits inverted, the same picture with the other entry first.
  bool invert = false;
};

GbmError ReadHeader(TStream& stream, const std::string& options, GbmHeader& gbm) {
  auto state = std::make_shared<BmpState>();
  try {
    state->file = ReadBmpFile(stream);
  } catch (const EInvalidGraphic&) {
    return GBM_ERR_BAD_MAGIC;
  } catch (const ELumetraError&) {  // bit count or compression it cannot read
    return GBM_ERR_NOT_SUPP;
  }
  const TDibLayout& l = state->file.layout;
  if (l.bitCount != 1 && l.bitCount != 4 && l.bitCount != 8 && l.bitCount != 24)
    return GBM_ERR_NOT_SUPP;
  if (l.compression != kDibRgb && l.compression != kDibRle8 && l.compression != kDibRle4)
    return GBM_ERR_NOT_SUPP;
  if (!gbm_size_allowed(l.width, l.height, l.bitCount)) return GBM_ERR_BAD_SIZE;
  state->invert = l.bitCount == 1 && gbm_has_option(options, "inv");
  gbm.w = l.width;
  gbm.h = l.height;
  gbm.bpp = l.bitCount;
  gbm.priv = std::move(state);
  return GBM_ERR_OK;
}

GbmError ReadPalette(TStream&, GbmHeader& gbm, GbmRgb* palette) {
  const auto* state = dynamic_cast<const BmpState*>(gbm.priv.get());
  if (!state) return GBM_ERR_BAD_ARG;
  const TLogPalette table = DibPalette(state->file.dib.data(), state->file.layout);
  for (int i = 0; i < table.palNumEntries && i < (1 << gbm.bpp); ++i) {
    const TPaletteEntry& e = table.palPalEntry[state->invert ? i ^ 1 : i];
    palette[i] = {e.peRed, e.peGreen, e.peBlue};
  }
  return GBM_ERR_OK;
}

GbmError ReadData(TStream&, GbmHeader& gbm, std::uint8_t* data, const GbmProgress& progress) {
  const auto* state = dynamic_cast<const BmpState*>(gbm.priv.get());
  if (!state) return GBM_ERR_BAD_ARG;
  const std::size_t size = gbm_stride(gbm.w, gbm.bpp) * static_cast<std::size_t>(gbm.h);
  std::memset(data, 0, size);
  DecodeDibRows(state->file.dib.data(), state->file.layout, data);
  if (state->invert)
    NegateBytes(data, size);
  if (progress) progress(gbm.h, gbm.h);
  return GBM_ERR_OK;
}

// Bitmap files are written by the bitmap class itself.
GbmError Write(TStream&, const GbmHeader&, const GbmRgb*, const std::uint8_t*, const std::string&) {
  return GBM_ERR_NOT_SUPP;
}

}  // namespace

const GbmCodec kBmpCodec = {
    {"Bitmap", "OS/2 1.1, 1.2, 2.0 / Windows 3.0 bitmap", "BMP VGA BGA RLE DIB RL4 RL8"},
    &ReadHeader,
    &ReadPalette,
    &ReadData,
    &Write};

}  // namespace lumetra::gbm
