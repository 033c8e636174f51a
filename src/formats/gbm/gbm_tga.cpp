// The Truevision Targa codec: colour-mapped (8-bit indices into a map of
// 15, 16, 24 or 32-bit entries), true colour of 15/16, 24 and 32 bits and
// 8-bit grey, each plain or run-length coded, from either origin. Files are
// written plain from the top-left corner (readers that ignore the origin
// bit still see them upright): 8 bits with a 24-bit colour map, or 24 bits.
#include <algorithm>
#include <cstring>
#include <vector>

#include "base/little_endian.h"
#include "formats/buffered_stream.h"
#include "formats/gbm/gbm.h"

namespace lumetra::gbm {
namespace {

constexpr int kHeaderSize = 18;
constexpr std::size_t kBlock = 1 << 16;

enum : std::uint8_t {
  kMapped = 1,
  kTrueColour = 2,
  kGrey = 3,
  kRunLength = 8,  // added to the three above
  kRightToLeft = 0x10,
  kTopToBottom = 0x20,
};

std::uint8_t Expand5(int v) {
  return static_cast<std::uint8_t>((v << 3) | (v >> 2));
}

// A 15/16/24/32-bit little-endian entry (blue first) as a colour.
GbmRgb Colour(const std::uint8_t* p, int bytes) {
  if (bytes == 2) {
    const int v = Le16(p);
    return {Expand5((v >> 10) & 31), Expand5((v >> 5) & 31), Expand5(v & 31)};
  }
  return {p[2], p[1], p[0]};
}

struct TgaState : GbmPrivate {
  int type = 0;  // without the run-length flag
  bool runLength = false;
  int pixelBytes = 0;
  std::uint8_t descriptor = 0;
  GbmRgb palette[256];
  std::int64_t dataStart = 0;
};

bool ValidEntryBits(int bits) {
  return bits == 15 || bits == 16 || bits == 24 || bits == 32;
}

GbmError ReadHeader(TStream& stream, const std::string&, GbmHeader& gbm) {
  auto state = std::make_shared<TgaState>();
  std::uint8_t h[kHeaderSize];
  if (stream.Read(h, kHeaderSize) != kHeaderSize) return GBM_ERR_READ;
  const int mapType = h[1], mapFirst = Le16(h + 3), mapLength = Le16(h + 5), mapBits = h[7];
  const int w = Le16(h + 12), height = Le16(h + 14), depth = h[16];
  state->type = h[2] & ~kRunLength;
  state->runLength = (h[2] & kRunLength) != 0;
  state->descriptor = h[17];
  if (mapType > 1 || h[2] == 0 || (h[2] & ~(kRunLength | 3)) != 0) return GBM_ERR_BAD_MAGIC;
  // A colour map is skipped by its entry size even where the pixels do not
  // use it: a size of no bytes would leave the map unreadable.
  if (mapType == 1 && !ValidEntryBits(mapBits)) return GBM_ERR_NOT_SUPP;
  int bpp = 0;
  switch (state->type) {
    case kMapped:
      if (mapType != 1 || depth != 8 || !ValidEntryBits(mapBits)) return GBM_ERR_NOT_SUPP;
      bpp = 8;
      break;
    case kTrueColour:
      if (!ValidEntryBits(depth)) return GBM_ERR_NOT_SUPP;
      bpp = 24;
      break;
    case kGrey:
      if (depth != 8) return GBM_ERR_NOT_SUPP;
      bpp = 8;
      break;
    default:
      return GBM_ERR_NOT_SUPP;
  }
  if (!gbm_size_allowed(w, height, bpp)) return GBM_ERR_BAD_SIZE;
  state->pixelBytes = (depth + 7) / 8;

  // The image identification field, then the colour map.
  std::vector<std::uint8_t> skip(h[0]);
  if (stream.Read(skip.data(), h[0]) != h[0]) return GBM_ERR_READ;
  if (mapType == 1) {
    const int entryBytes = (mapBits + 7) / 8;
    std::vector<std::uint8_t> map(std::size_t(mapLength) * entryBytes);
    if (stream.Read(map.data(), std::int64_t(map.size())) != std::int64_t(map.size()))
      return GBM_ERR_READ;
    for (int i = 0; state->type == kMapped && i < mapLength && mapFirst + i < 256; ++i)
      state->palette[mapFirst + i] = Colour(map.data() + std::size_t(i) * entryBytes, entryBytes);
  }
  if (state->type == kGrey)
    for (int i = 0; i < 256; ++i)
      state->palette[i] = {std::uint8_t(i), std::uint8_t(i), std::uint8_t(i)};
  state->dataStart = stream.Position();
  // A packet of 1 + PixelBytes bytes covers at most 128 pixels: a file far
  // too short for its image is refused before the image is allocated.
  const std::uint64_t pixels = std::uint64_t(w) * std::uint64_t(height);
  const std::uint64_t available =
      std::uint64_t(std::max<std::int64_t>(stream.Size() - state->dataStart, 0));
  const std::uint64_t needed = state->runLength
                                   ? (pixels + 127) / 128 * (1 + std::uint64_t(state->pixelBytes))
                                   : pixels * std::uint64_t(state->pixelBytes);
  if (available < needed) return GBM_ERR_READ;
  gbm.w = w;
  gbm.h = height;
  gbm.bpp = bpp;
  gbm.priv = std::move(state);
  return GBM_ERR_OK;
}

GbmError ReadPalette(TStream&, GbmHeader& gbm, GbmRgb* palette) {
  const auto* state = dynamic_cast<const TgaState*>(gbm.priv.get());
  if (!state) return GBM_ERR_BAD_ARG;
  std::copy(std::begin(state->palette), std::end(state->palette), palette);
  return GBM_ERR_OK;
}

GbmError ReadData(TStream& stream, GbmHeader& gbm, std::uint8_t* data,
                  const GbmProgress& progress) {
  const auto* state = dynamic_cast<const TgaState*>(gbm.priv.get());
  if (!state) return GBM_ERR_BAD_ARG;
  const int n = state->pixelBytes;
  const std::size_t stride = gbm_stride(gbm.w, gbm.bpp);
  std::memset(data, 0, stride * std::size_t(gbm.h));
  stream.SetPosition(state->dataStart);
  TBufferedReader in(stream, kBlock);
  std::vector<std::uint8_t> line(std::size_t(gbm.w) * n);
  // Packets may run on from one line into the next.
  int packetLeft = 0;
  bool repeat = false;
  std::uint8_t pixel[4] = {};
  for (int r = 0; r < gbm.h; ++r) {
    if (!state->runLength) {
      if (in.Read(line.data(), line.size()) != line.size()) return GBM_ERR_READ;
    } else {
      for (int x = 0; x < gbm.w; ++x) {
        if (packetLeft == 0) {
          const int c = in.Get();
          if (c < 0) return GBM_ERR_READ;
          repeat = (c & 0x80) != 0;
          packetLeft = (c & 0x7F) + 1;
          if (repeat && in.Read(pixel, n) != std::size_t(n)) return GBM_ERR_READ;
        }
        std::uint8_t* p = line.data() + std::size_t(x) * n;
        if (repeat)
          std::memcpy(p, pixel, n);
        else if (in.Read(p, n) != std::size_t(n))
          return GBM_ERR_READ;
        --packetLeft;
      }
    }
    const int row = (state->descriptor & kTopToBottom) ? gbm.h - 1 - r : r;
    std::uint8_t* out = data + stride * std::size_t(row);
    const bool mirrored = (state->descriptor & kRightToLeft) != 0;
    for (int x = 0; x < gbm.w; ++x) {
      const std::uint8_t* p = line.data() + std::size_t(mirrored ? gbm.w - 1 - x : x) * n;
      if (gbm.bpp == 8) {
        out[x] = p[0];
      } else {
        const GbmRgb c = Colour(p, n);
        out[3 * x] = c.b;
        out[3 * x + 1] = c.g;
        out[3 * x + 2] = c.r;
      }
    }
    if (progress) progress(r + 1, gbm.h);
  }
  return GBM_ERR_OK;
}

GbmError Write(TStream& stream, const GbmHeader& gbm, const GbmRgb* palette,
               const std::uint8_t* data, const std::string&) {
  if (gbm.bpp != 8 && gbm.bpp != 24) return GBM_ERR_NOT_SUPP;
  if (gbm.w > 65535 || gbm.h > 65535) return GBM_ERR_BAD_SIZE;
  std::uint8_t h[kHeaderSize] = {};
  const bool mapped = gbm.bpp == 8;
  h[1] = mapped ? 1 : 0;
  h[2] = mapped ? kMapped : kTrueColour;
  if (mapped) {
    PutLe16(h + 5, 256);
    h[7] = 24;
  }
  PutLe16(h + 12, unsigned(gbm.w));
  PutLe16(h + 14, unsigned(gbm.h));
  h[16] = static_cast<std::uint8_t>(gbm.bpp);
  h[17] = kTopToBottom;
  TBufferedWriter out(stream, kBlock);
  out.Write(h, kHeaderSize);
  if (mapped)
    for (int i = 0; i < 256; ++i) {
      out.Put(palette[i].b);
      out.Put(palette[i].g);
      out.Put(palette[i].r);
    }
  const std::size_t stride = gbm_stride(gbm.w, gbm.bpp);
  const std::size_t rowBytes = std::size_t(gbm.w) * (gbm.bpp / 8);
  for (int y = gbm.h - 1; y >= 0; --y) out.Write(data + stride * std::size_t(y), rowBytes);
  out.Flush();
  return GBM_ERR_OK;
}

}  // namespace

const GbmCodec kTgaCodec = {{"Targa", "Truevision Targa/Vista bitmap", "TGA VST AFI"},
                            &ReadHeader,
                            &ReadPalette,
                            &ReadData,
                            &Write};

}  // namespace lumetra::gbm
