// The ZSoft PC Paintbrush codec: versions 0 to 5, run-length coded (or
// plain) scan lines of 1 to 4 one-bit planes, packed 2, 4 and 8 bits, and
// 8-bit three- or four-plane true colour. Files are written as version 5:
// 1 bit in one plane, 4 bits in four planes, 8 bits with the 256-entry
// palette at the end, 24 bits in three planes.
#include <algorithm>
#include <cstring>
#include <vector>

#include "base/little_endian.h"
#include "formats/buffered_stream.h"
#include "formats/gbm/gbm.h"
#include "imaging/row_bytes.h"

namespace lumetra::gbm {
namespace {

constexpr int kHeaderSize = 128;
constexpr int kPaletteTrailer = 769;  // 0x0C and 256 red-green-blue triples
constexpr std::size_t kBlock = 1 << 16;

// What files of version 3 (and files with an empty header palette) show.
const GbmRgb kEgaPalette[16] = {
    {0, 0, 0},     {0, 0, 170},     {0, 170, 0},    {0, 170, 170},   {170, 0, 0},   {170, 0, 170},
    {170, 85, 0},  {170, 170, 170}, {85, 85, 85},   {85, 85, 255},   {85, 255, 85}, {85, 255, 255},
    {255, 85, 85}, {255, 85, 255},  {255, 255, 85}, {255, 255, 255},
};

int Brightness(const GbmRgb& c) {
  return 30 * c.r + 59 * c.g + 11 * c.b;
}

struct PcxState : GbmPrivate {
  std::uint8_t header[kHeaderSize];
  int bitsPerPlane = 0;
  int planes = 0;
  int bytesPerLine = 0;
  bool runLength = true;
  std::int64_t dataStart = 0;
  std::int64_t fileEnd = 0;
};

// Output bits per pixel of a plane layout, or 0 for one this codec does not read.
int OutputBits(int bitsPerPlane, int planes) {
  if (planes < 1) return 0;
  if (bitsPerPlane == 1 && planes == 1) return 1;
  if (bitsPerPlane == 1 && planes <= 4) return 4;
  if ((bitsPerPlane == 2 || bitsPerPlane == 4) && planes == 1) return 4;
  if (bitsPerPlane == 8 && planes == 1) return 8;
  if (bitsPerPlane == 8 && (planes == 3 || planes == 4)) return 24;
  return 0;
}

GbmError ReadHeader(TStream& stream, const std::string&, GbmHeader& gbm) {
  auto state = std::make_shared<PcxState>();
  std::uint8_t* h = state->header;
  if (stream.Read(h, kHeaderSize) != kHeaderSize) return GBM_ERR_READ;
  if (h[0] != 10 || h[1] > 5) return GBM_ERR_BAD_MAGIC;
  if (h[2] > 1) return GBM_ERR_NOT_SUPP;
  state->runLength = h[2] == 1;
  state->bitsPerPlane = h[3];
  state->planes = h[65];
  state->bytesPerLine = Le16(h + 66);
  const int bpp = OutputBits(state->bitsPerPlane, state->planes);
  if (!bpp) return GBM_ERR_NOT_SUPP;
  const int xMin = Le16(h + 4), yMin = Le16(h + 6), xMax = Le16(h + 8), yMax = Le16(h + 10);
  if (xMax < xMin || yMax < yMin) return GBM_ERR_BAD_SIZE;
  const int w = xMax - xMin + 1, height = yMax - yMin + 1;
  if (state->bytesPerLine < (w * state->bitsPerPlane + 7) / 8) return GBM_ERR_BAD_SIZE;
  if (!gbm_size_allowed(w, height, bpp)) return GBM_ERR_BAD_SIZE;
  state->dataStart = stream.Position();
  state->fileEnd = stream.Size();
  // A coded pair yields at most 63 bytes: a file far too short for the
  // image it claims is refused before the image is allocated.
  const std::uint64_t decoded =
      std::uint64_t(state->bytesPerLine) * state->planes * std::uint64_t(height);
  const std::uint64_t available =
      std::uint64_t(std::max<std::int64_t>(state->fileEnd - state->dataStart, 0));
  if ((state->runLength ? available * 63 / 2 : available) < decoded) return GBM_ERR_READ;
  gbm.w = w;
  gbm.h = height;
  gbm.bpp = bpp;
  gbm.priv = std::move(state);
  return GBM_ERR_OK;
}

GbmError ReadPalette(TStream& stream, GbmHeader& gbm, GbmRgb* palette) {
  const auto* state = dynamic_cast<const PcxState*>(gbm.priv.get());
  if (!state) return GBM_ERR_BAD_ARG;
  const std::uint8_t* h = state->header;
  if (gbm.bpp == 8) {
    // The palette trails the data behind a 0x0C marker; a file without one
    // is grey.
    std::uint8_t trailer[kPaletteTrailer];
    const std::int64_t at = state->fileEnd - kPaletteTrailer;
    bool found = false;
    if (at >= state->dataStart) {
      stream.SetPosition(at);
      found = stream.Read(trailer, kPaletteTrailer) == kPaletteTrailer && trailer[0] == 0x0C;
    }
    for (int i = 0; i < 256; ++i)
      palette[i] = found ? GbmRgb{trailer[1 + 3 * i], trailer[2 + 3 * i], trailer[3 + 3 * i]}
                         : GbmRgb{std::uint8_t(i), std::uint8_t(i), std::uint8_t(i)};
    stream.SetPosition(state->dataStart);
    return GBM_ERR_OK;
  }
  if (gbm.bpp == 24) return GBM_ERR_OK;
  const int entries = gbm.bpp == 1 ? 2 : 16;
  bool empty = true;
  for (int i = 3; i < 3 * entries; ++i) empty = empty && h[16 + i] == h[16 + i % 3];
  for (int i = 0; i < entries; ++i) palette[i] = {h[16 + 3 * i], h[17 + 3 * i], h[18 + 3 * i]};
  if (empty || h[1] == 3) {
    // No palette was stored: black and white, or the standard 16 colours.
    if (gbm.bpp == 1)
      palette[0] = {0, 0, 0}, palette[1] = {255, 255, 255};
    else
      std::copy(std::begin(kEgaPalette), std::end(kEgaPalette), palette);
  }
  return GBM_ERR_OK;
}

// Pixels of one decoded scan line (all planes) into one row of the store.
void ConvertLine(const PcxState& s, const std::uint8_t* line, int w, std::uint8_t* out) {
  const int bpl = s.bytesPerLine;
  if (s.bitsPerPlane == 8 && s.planes >= 3) {
    for (int x = 0; x < w; ++x, out += 3) {
      out[0] = line[2 * bpl + x];
      out[1] = line[bpl + x];
      out[2] = line[x];
    }
  } else if (s.planes == 1 && s.bitsPerPlane != 2) {
    std::memcpy(out, line, (std::size_t(w) * s.bitsPerPlane + 7) / 8);
  } else if (s.bitsPerPlane == 2) {
    for (int x = 0; x < w; ++x) {
      const int v = (line[x >> 2] >> (6 - 2 * (x & 3))) & 3;
      out[x >> 1] |= static_cast<std::uint8_t>((x & 1) ? v : v << 4);
    }
  } else {  // one-bit planes, plane 0 the lowest bit of the index
    for (int x = 0; x < w; ++x) {
      int v = 0;
      for (int p = 0; p < s.planes; ++p)
        v |= ((line[p * bpl + (x >> 3)] >> (7 - (x & 7))) & 1) << p;
      out[x >> 1] |= static_cast<std::uint8_t>((x & 1) ? v : v << 4);
    }
  }
}

GbmError ReadData(TStream& stream, GbmHeader& gbm, std::uint8_t* data,
                  const GbmProgress& progress) {
  const auto* state = dynamic_cast<const PcxState*>(gbm.priv.get());
  if (!state) return GBM_ERR_BAD_ARG;
  const std::size_t stride = gbm_stride(gbm.w, gbm.bpp);
  std::memset(data, 0, stride * std::size_t(gbm.h));
  stream.SetPosition(state->dataStart);
  TBufferedReader in(stream, kBlock);
  std::vector<std::uint8_t> line(std::size_t(state->bytesPerLine) * state->planes);
  // Some writers let a run go on into the next line; it is carried over.
  int runLeft = 0, runValue = 0;
  for (int y = 0; y < gbm.h; ++y) {
    if (!state->runLength) {
      if (in.Read(line.data(), line.size()) != line.size()) return GBM_ERR_READ;
    } else {
      for (std::size_t i = 0; i < line.size();) {
        if (runLeft == 0) {
          const int c = in.Get();
          if (c < 0) return GBM_ERR_READ;
          if ((c & 0xC0) == 0xC0) {
            runLeft = c & 0x3F;
            runValue = in.Get();
            if (runValue < 0) return GBM_ERR_READ;
          } else {
            runLeft = 1;
            runValue = c;
          }
        }
        const std::size_t n = std::min<std::size_t>(runLeft, line.size() - i);
        std::memset(line.data() + i, runValue, n);
        i += n;
        runLeft -= static_cast<int>(n);
      }
    }
    ConvertLine(*state, line.data(), gbm.w, data + stride * std::size_t(gbm.h - 1 - y));
    if (progress) progress(y + 1, gbm.h);
  }
  return GBM_ERR_OK;
}

// Runs of at most 63; a single byte with both top bits set needs a run of
// one, or it would read as a count.
void EncodeRuns(const std::uint8_t* p, std::size_t n, TBufferedWriter& out) {
  for (std::size_t i = 0; i < n;) {
    std::size_t run = 1;
    while (i + run < n && run < 63 && p[i + run] == p[i]) ++run;
    if (run > 1 || (p[i] & 0xC0) == 0xC0) out.Put(static_cast<std::uint8_t>(0xC0 | run));
    out.Put(p[i]);
    i += run;
  }
}

GbmError Write(TStream& stream, const GbmHeader& gbm, const GbmRgb* palette,
               const std::uint8_t* data, const std::string&) {
  const int bitsPerPlane = gbm.bpp == 1 || gbm.bpp == 4 ? 1 : 8;
  const int planes = gbm.bpp == 4 ? 4 : gbm.bpp == 24 ? 3 : 1;
  const int bpl = (((gbm.w * bitsPerPlane + 7) / 8) + 1) & ~1;  // even, as readers expect
  if (gbm.w > 65535 || gbm.h > 65535) return GBM_ERR_BAD_SIZE;
  std::uint8_t h[kHeaderSize] = {};
  h[0] = 10;
  h[1] = 5;
  h[2] = 1;
  h[3] = static_cast<std::uint8_t>(bitsPerPlane);
  PutLe16(h + 8, unsigned(gbm.w - 1));
  PutLe16(h + 10, unsigned(gbm.h - 1));
  PutLe16(h + 12, 96);
  PutLe16(h + 14, 96);
  // Many readers take a set bit of a one-bit file for black whatever the
  // palette says: a picture that has its brighter colour second goes out
  // inverted, with the palette swapped to match.
  const bool invert = gbm.bpp == 1 && Brightness(palette[1]) > Brightness(palette[0]);
  if (gbm.bpp <= 4)
    for (int i = 0; i < (1 << gbm.bpp); ++i) {
      const GbmRgb& c = palette[invert ? i ^ 1 : i];
      h[16 + 3 * i] = c.r;
      h[17 + 3 * i] = c.g;
      h[18 + 3 * i] = c.b;
    }
  h[65] = static_cast<std::uint8_t>(planes);
  PutLe16(h + 66, unsigned(bpl));
  PutLe16(h + 68, 1);
  TBufferedWriter out(stream, kBlock);
  out.Write(h, kHeaderSize);
  const std::size_t stride = gbm_stride(gbm.w, gbm.bpp);
  std::vector<std::uint8_t> line(std::size_t(bpl) * planes);
  for (int y = 0; y < gbm.h; ++y) {
    const std::uint8_t* row = data + stride * std::size_t(gbm.h - 1 - y);
    std::fill(line.begin(), line.end(), 0);
    if (gbm.bpp == 24) {
      for (int x = 0; x < gbm.w; ++x) {
        line[x] = row[3 * x + 2];
        line[bpl + x] = row[3 * x + 1];
        line[2 * bpl + x] = row[3 * x];
      }
    } else if (gbm.bpp == 4) {
      for (int x = 0; x < gbm.w; ++x) {
        const int v = (x & 1) ? row[x >> 1] & 0x0F : row[x >> 1] >> 4;
        for (int p = 0; p < 4; ++p)
          if ((v >> p) & 1) line[p * bpl + (x >> 3)] |= static_cast<std::uint8_t>(0x80 >> (x & 7));
      }
    } else {
      const int bytes = (gbm.w * gbm.bpp + 7) / 8;
      std::memcpy(line.data(), row, bytes);
      if (invert) NegateBytes(line.data(), static_cast<std::size_t>(bytes));
      if (gbm.bpp == 1 && (gbm.w & 7))  // bits past the right edge stay clear
        line[bytes - 1] &= static_cast<std::uint8_t>(0xFF00 >> (gbm.w & 7));
    }
    for (int p = 0; p < planes; ++p) EncodeRuns(line.data() + std::size_t(p) * bpl, bpl, out);
  }
  if (gbm.bpp == 8) {
    out.Put(0x0C);
    for (int i = 0; i < 256; ++i) {
      out.Put(palette[i].r);
      out.Put(palette[i].g);
      out.Put(palette[i].b);
    }
  }
  out.Flush();
  return GBM_ERR_OK;
}

}  // namespace

const GbmCodec kPcxCodec = {{"PCX", "ZSoft PC Paintbrush Image format", "PCX PCC"},
                            &ReadHeader,
                            &ReadPalette,
                            &ReadData,
                            &Write};

}  // namespace lumetra::gbm
