// The pixel paths of the TIFF page reader: the RGBA raster, tiles, 16-bit
// scanlines, PackBits strips decoded straight into the rows, and rows as
// stored.
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "base/format.h"
#include "formats/codec_limits.h"
#include "formats/tiff_page.h"
#include "imaging/row_bytes.h"

namespace lumetra::tiff_io {
namespace {

// The encoded bytes of one PackBits strip, read from the stream a block at a
// time; Next hands out a code's bytes in one piece (a literal is at most
// 128). A strip the file does not hold whole is an error, as in libtiff.
class TPackBitsSource {
 public:
  explicit TPackBitsSource(TStream& stream) : stream_(stream), block_(kBlock + 128) {}

  void Start(std::uint64_t offset, std::uint64_t count, bool reversed) {
    if (count == 0) Fail("TIFFReadEncodedStrip: Invalid strip byte count 0");
    offset_ = offset;
    left_ = count;
    reversed_ = reversed;
    next_ = end_ = 0;
  }
  // The next Count bytes, or nullptr when the strip holds fewer.
  const std::uint8_t* Next(std::size_t count) {
    if (end_ - next_ < count) {
      if (left_ == 0) return nullptr;
      const std::size_t kept = end_ - next_;
      std::memmove(block_.data(), block_.data() + next_, kept);
      const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left_, kBlock));
      stream_.SetPosition(static_cast<std::int64_t>(offset_));
      if (stream_.Read(block_.data() + kept, static_cast<std::int64_t>(want)) !=
          static_cast<std::int64_t>(want))
        Fail("TIFFReadEncodedStrip: Read error on strip");
      if (reversed_) TIFFReverseBits(block_.data() + kept, static_cast<tmsize_t>(want));
      offset_ += want;
      left_ -= want;
      next_ = 0;
      end_ = kept + want;
      if (end_ < count) return nullptr;
    }
    const std::uint8_t* bytes = block_.data() + next_;
    next_ += count;
    return bytes;
  }

 private:
  static constexpr std::size_t kBlock = 256 * 1024;
  TStream& stream_;
  std::vector<std::uint8_t> block_;
  std::uint64_t offset_ = 0, left_ = 0;
  bool reversed_ = false;
  std::size_t next_ = 0, end_ = 0;
};

// The pixel paths: each decodes the page's pixels into the image's rows.
struct TiffPagePixels {
  TDibGraphic& page;
  TIFF* tif;
  TiffClient& client;
  Progress& progress;
  std::uint32_t width, height;
  std::uint16_t compression, samplesPerPixel;
  bool tiled;
  std::uint64_t scanlineSize;
  std::uint16_t orientation;
  TImageFormat format;
  bool invert, sixteen, rgba;
  int w, h, bitsPerPixel;
  std::size_t rowBytes;

  TiffPagePixels(TDibGraphic& image, TIFF* handle, TiffClient& tiffClient, Progress& pageProgress,
                 const TiffPageHeader& header, const TiffPageLayout& layout)
      : page(image),
        tif(handle),
        client(tiffClient),
        progress(pageProgress),
        width(header.width),
        height(header.height),
        compression(header.compression),
        samplesPerPixel(header.samplesPerPixel),
        tiled(header.tiled),
        scanlineSize(header.scanlineSize),
        orientation(header.orientation),
        format(layout.format),
        invert(layout.invert),
        sixteen(layout.sixteen),
        rgba(layout.rgba),
        w(static_cast<int>(width)),
        h(static_cast<int>(height)),
        bitsPerPixel(BitsPerPixel(format)),
        rowBytes((static_cast<std::size_t>(w) * bitsPerPixel + 7) / 8) {}

  void Read(TiffDeferredRows* deferred) {
    if (rgba)
      ThroughRaster();
    else if (tiled)
      Tiles();
    else if (sixteen)
      SixteenBitRows();
    else if (compression == COMPRESSION_PACKBITS)
      PackBitsStrips();
    else if (deferred && deferred->wanted)
      Defer(*deferred);
    else
      Rows();
    // Tiles were copied as stored; rows were complemented as they came.
    if (invert && tiled)
      for (int y = 0; y < h; ++y) NegateBytes(ScanLine(y), ScanLine(y), rowBytes);
  }

 private:
  std::uint8_t* ScanLine(int y) const { return page.ScanLine(y); }
  int RowStride() const { return page.RowStride(); }
  void SetPixels(int x, int y, std::uint32_t colour) const { page.SetPixels(x, y, colour); }

  // Pixels X0 .. X0 + Count - 1 of image row Y from a row of file bytes.
  void CopyPixels(const std::uint8_t* source, int y, std::uint32_t x0, std::uint32_t count) const {
    std::uint8_t* row = ScanLine(y);
    if (samplesPerPixel == 3 && format == ifTrueColor) {
      SwapRedBlue(source, row + 3 * std::size_t{x0}, static_cast<int>(count));
    } else {
      // Tiles are 16 pixels wide at least: X0 starts a byte.
      const std::size_t offset = std::size_t{x0} * bitsPerPixel / 8;
      const std::size_t bytes = (std::size_t{count} * bitsPerPixel + 7) / 8;
      std::memcpy(row + offset, source, std::min<std::size_t>(bytes, RowStride() - offset));
    }
  }

  void ThroughRaster() {
    progress.Percent(5);
    std::vector<std::uint32_t> raster;
    try {
      raster.resize(static_cast<std::size_t>(width) * height);
    } catch (const std::bad_alloc&) {
      Fail(Format("Not enough memory for a %u x %u raster", width, height));
    }
    progress.Percent(10);
    // Pages load as they are stored whatever their orientation: asking for
    // the file's own orientation keeps libtiff from flipping the raster.
    const int stored = orientation >= ORIENTATION_TOPLEFT && orientation <= ORIENTATION_LEFTBOT
                           ? orientation
                           : ORIENTATION_TOPLEFT;
    if (!TIFFReadRGBAImageOriented(tif, width, height, raster.data(), stored, 1))
      Fail("TIFFReadRGBAImage", client);
    progress.Percent(80);
    for (int y = 0; y < h; ++y) {
      const std::uint32_t* source = raster.data() + static_cast<std::size_t>(y) * width;
      if (format == ifTrueColor) {
        std::uint8_t* row = ScanLine(y);
        for (int x = 0; x < w; ++x) {
          row[3 * x] = static_cast<std::uint8_t>(TIFFGetB(source[x]));
          row[3 * x + 1] = static_cast<std::uint8_t>(TIFFGetG(source[x]));
          row[3 * x + 2] = static_cast<std::uint8_t>(TIFFGetR(source[x]));
        }
      } else {
        for (int x = 0; x < w; ++x)
          SetPixels(x, y,
                    (TIFFGetR(source[x]) << 16) | (TIFFGetG(source[x]) << 8) | TIFFGetB(source[x]));
      }
    }
    progress.Percent(90);
  }

  void Tiles() {
    std::uint32_t tileWidth = 0, tileLength = 0;
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileLength);
    const tmsize_t tileSize = TIFFTileSize(tif), tileRowBytes = TIFFTileRowSize(tif);
    if (tileWidth == 0 || tileWidth % 8 != 0 || tileLength == 0 || tileSize <= 0 ||
        tileRowBytes <= 0 || static_cast<std::uint64_t>(tileSize) > kMaxCodecAlloc)
      Fail("TIFFTileSize", client);
    std::vector<std::uint8_t> tile(static_cast<std::size_t>(tileSize));
    for (std::uint32_t top = 0; top < height; top += tileLength) {
      for (std::uint32_t left = 0; left < width; left += tileWidth) {
        if (TIFFReadTile(tif, tile.data(), left, top, 0, 0) < 0) Fail("TIFFReadTile", client);
        const std::uint32_t rows = std::min(tileLength, height - top);
        for (std::uint32_t r = 0; r < rows; ++r)
          CopyPixels(tile.data() + r * static_cast<std::size_t>(tileRowBytes),
                     static_cast<int>(top + r), left, std::min(tileWidth, width - left));
      }
      progress.Report(std::min<std::uint64_t>(top + tileLength, height), h);
    }
  }

  void SixteenBitRows() {
    std::vector<std::uint8_t> line(scanlineSize);
    for (int y = 0; y < h; ++y) {
      if (TIFFReadScanline(tif, line.data(), static_cast<std::uint32_t>(y), 0) < 0)
        Fail("TIFFReadScanline: " + client.error);
      std::uint8_t* row = ScanLine(y);
      const int samples = static_cast<int>(std::min<std::uint64_t>(w, scanlineSize / 2));
      for (int x = 0; x < samples; ++x) {
        std::uint16_t sample;
        std::memcpy(&sample, line.data() + 2 * x, 2);
        row[x] = static_cast<std::uint8_t>(sample >> 8);
      }
      if (invert) NegateBytes(row, row, rowBytes);
      progress.Report(y + 1, h);
    }
  }

  void PackBitsStrips() {
    // Some writers let a PackBits run go on into the next row (a PDF's
    // run-length images always may), so a strip is decoded as one run of
    // bytes; they go straight into the image's rows, without a strip buffer.
    if (scanlineSize > static_cast<std::uint64_t>(RowStride()))
      Fail("TIFFScanlineSize: row too long");
    std::uint16_t fillOrder = FILLORDER_MSB2LSB;
    TIFFGetFieldDefaulted(tif, TIFFTAG_FILLORDER, &fillOrder);
    std::uint32_t rowsPerStrip = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    rowsPerStrip = std::clamp<std::uint32_t>(rowsPerStrip, 1, height);
    const std::size_t line = static_cast<std::size_t>(scanlineSize);
    TPackBitsSource source(*client.stream);
    for (std::uint32_t first = 0; first < height; first += rowsPerStrip) {
      const std::uint32_t strip = TIFFComputeStrip(tif, first, 0);
      source.Start(TIFFGetStrileOffset(tif, strip), TIFFGetStrileByteCount(tif, strip),
                   fillOrder == FILLORDER_LSB2MSB);
      const std::uint32_t rows = std::min(rowsPerStrip, height - first);
      std::uint32_t r = 0;
      std::size_t x = 0;
      std::uint8_t* row = ScanLine(static_cast<int>(first));
      // Fills Count bytes of the strip from Put (a run or a literal); bytes
      // past the strip's last row are dropped, as libtiff drops them.
      auto emit = [&](std::size_t count, auto put) {
        while (count > 0 && r < rows) {
          const std::size_t n = std::min(count, line - x);
          put(row + x, n);
          x += n;
          count -= n;
          if (x == line) {
            if (format == ifTrueColor) SwapRedBlue(row, row, w);
            if (invert) NegateBytes(row, row, rowBytes);
            const int y = static_cast<int>(first + r);
            progress.Report(y + 1, h);
            x = 0;
            if (++r < rows) row = ScanLine(y + 1);
          }
        }
        return count;
      };
      while (r < rows) {
        const std::uint8_t* code = source.Next(1);
        if (!code) break;
        const int n = static_cast<std::int8_t>(*code);
        if (n == -128) continue;
        if (n < 0) {
          const std::uint8_t* value = source.Next(1);
          if (!value) break;
          const std::uint8_t byte = *value;
          emit(static_cast<std::size_t>(1 - n),
               [byte](std::uint8_t* to, std::size_t k) { std::memset(to, byte, k); });
        } else {
          const std::uint8_t* literal = source.Next(static_cast<std::size_t>(n) + 1);
          if (!literal) break;
          emit(static_cast<std::size_t>(n) + 1, [&literal](std::uint8_t* to, std::size_t k) {
            std::memcpy(to, literal, k);
            literal += k;
          });
        }
      }
      if (r < rows)
        Fail(Format("TIFFReadEncodedStrip: PackBitsDecode: Not enough data for scanline %u",
                    first + r));
    }
  }

  void Defer(TiffDeferredRows& deferred) const {
    if (scanlineSize > static_cast<std::uint64_t>(RowStride()))
      Fail("TIFFScanlineSize: row too long");
    deferred.deferred = true;
    deferred.width = w;
    deferred.rowBytes = rowBytes;
    deferred.swap = format == ifTrueColor;
    deferred.invert = invert;
  }

  void Rows() {
    // Each row decodes straight into the image: the file's rows hold the
    // image's bytes (colour in red-green-blue order), so no strip buffer.
    if (scanlineSize > static_cast<std::uint64_t>(RowStride()))
      Fail("TIFFScanlineSize: row too long");
    for (int y = 0; y < h; ++y) {
      std::uint8_t* row = ScanLine(y);
      if (TIFFReadScanline(tif, row, static_cast<std::uint32_t>(y), 0) < 0)
        Fail("TIFFReadScanline: " + client.error);
      if (format == ifTrueColor) SwapRedBlue(row, row, w);
      if (invert) NegateBytes(row, row, rowBytes);
      progress.Report(y + 1, h);
    }
  }
};

}  // namespace

void ReadPagePixels(TDibGraphic& page, TIFF* tif, TiffClient& client, Progress& progress,
                    const TiffPageHeader& header, const TiffPageLayout& layout,
                    TiffDeferredRows* deferred) {
  TiffPagePixels(page, tif, client, progress, header, layout).Read(deferred);
}

}  // namespace lumetra::tiff_io
