#include "imaging/bmp_decode.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "base/little_endian.h"

namespace lumetra {

namespace {

// The most a BMP stream may hold before it is refused unread: the pixel store
// takes at most 1 GiB, and a file is never much larger than its pixels.
constexpr std::int64_t kMaxBmpStreamBytes = std::int64_t{1} << 31;

[[noreturn]] void Invalid() {
  throw EInvalidGraphic("Bitmap image is not valid");
}

// One colour channel of a 16- or 32-bit pixel: where its bits lie and how
// many there are.
struct Channel {
  int shift = 0;
  int bits = 0;
  std::uint32_t mask = 0;

  explicit Channel(std::uint32_t m) {
    if (!m) return;
    while (!((m >> shift) & 1)) ++shift;
    const std::uint32_t v = m >> shift;
    while (bits < 32 && (v >> bits)) ++bits;
    mask = bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1;
  }

  // The channel widened (or narrowed) to 8 bits by repeating its top bits,
  // so that full scale stays full scale (31 -> 255 for five bits).
  std::uint8_t Expand(std::uint32_t pixel) const {
    if (!bits) return 0;
    const std::uint32_t v = (pixel >> shift) & mask;
    if (bits >= 8) return static_cast<std::uint8_t>(v >> (bits - 8));
    std::uint32_t r = 0;
    int filled = 0;
    while (filled < 8) {
      r = (r << bits) | v;
      filled += bits;
    }
    return static_cast<std::uint8_t>(r >> (filled - 8));
  }
};

// Rows is the bottom-up store of the DIB's own stride.
void DecodePlain(const std::uint8_t* bits, const TDibLayout& l, std::uint8_t* rows) {
  const std::size_t stride = ((std::size_t(l.width) * l.bitCount + 31) / 32) * 4;
  for (int r = 0; r < l.height; ++r) {
    const int y = l.topDown ? l.height - 1 - r : r;
    std::memcpy(rows + stride * y, bits + stride * r, stride);
  }
}

void DecodeMasked(const std::uint8_t* bits, const TDibLayout& l, TDibGraphic& dest) {
  const Channel red(l.masks[0]), green(l.masks[1]), blue(l.masks[2]);
  const std::size_t stride = ((std::size_t(l.width) * l.bitCount + 31) / 32) * 4;
  const int bytesPerPixel = l.bitCount / 8;
  for (int r = 0; r < l.height; ++r) {
    const std::uint8_t* src = bits + stride * r;
    std::uint8_t* out = dest.ScanLine(l.topDown ? r : l.height - 1 - r);
    for (int x = 0; x < l.width; ++x, src += bytesPerPixel, out += 3) {
      const std::uint32_t pixel = bytesPerPixel == 2 ? Le16(src) : Le32(src);
      out[0] = blue.Expand(pixel);
      out[1] = green.Expand(pixel);
      out[2] = red.Expand(pixel);
    }
  }
}

// Run-length data: rows from the bottom, runs of one index (or, in RLE4, of
// two alternating indices), escapes for end of line, end of bitmap, a jump
// and literal runs padded to 16 bits. Whatever falls outside the image is
// dropped; data that ends early leaves the rest of the image at index 0.
void DecodeRunLength(const std::uint8_t* p, const TDibLayout& l, std::uint8_t* rows) {
  const bool four = l.compression == kDibRle4;
  const std::uint8_t* const end = p + l.bitsSize;
  const std::size_t stride = ((std::size_t(l.width) * l.bitCount + 31) / 32) * 4;
  int x = 0, y = 0;  // y counts rows from the bottom, as the store does
  auto put = [&](int index) {
    if (x < l.width && y < l.height) {
      std::uint8_t* row = rows + stride * y;
      if (!four)
        row[x] = static_cast<std::uint8_t>(index);
      else if (x & 1)
        row[x >> 1] = static_cast<std::uint8_t>((row[x >> 1] & 0xF0) | (index & 0x0F));
      else
        row[x >> 1] = static_cast<std::uint8_t>((row[x >> 1] & 0x0F) | (index << 4));
    }
    if (x < l.width) ++x;
  };
  while (end - p >= 2 && y < l.height) {
    const int count = p[0], value = p[1];
    p += 2;
    if (count > 0) {
      for (int i = 0; i < count; ++i) put(four ? ((i & 1) ? value & 0x0F : value >> 4) : value);
      continue;
    }
    switch (value) {
      case 0:  // end of line
        x = 0;
        ++y;
        break;
      case 1:  // end of bitmap
        return;
      case 2:  // jump right and up
        if (end - p < 2) return;
        x += p[0];
        if (x > l.width) x = l.width;
        y += p[1];
        p += 2;
        break;
      default: {  // a literal run of Value pixels
        const std::ptrdiff_t bytes = four ? ((value + 3) / 4) * 2 : (value + 1) & ~1;
        const std::ptrdiff_t have = end - p < bytes ? end - p : bytes;
        for (int i = 0; i < value; ++i) {
          const std::ptrdiff_t at = four ? i / 2 : i;
          if (at >= have) break;
          put(four ? ((i & 1) ? p[at] & 0x0F : p[at] >> 4) : p[at]);
        }
        p += have;
        break;
      }
    }
  }
}

}  // namespace

TDibLayout ParseDibHeader(const std::uint8_t* block, std::size_t size, std::size_t bitsOffset) {
  if (!block || size < 12) Invalid();
  TDibLayout l;
  l.headerSize = Le32(block);
  std::uint32_t coloursUsed = 0, imageSize = 0;
  std::int32_t height = 0;
  if (l.headerSize == 12) {  // OS/2: 16-bit sizes, three-byte colour entries
    l.width = Le16(block + 4);
    height = Le16(block + 6);
    l.bitCount = Le16(block + 10);
    l.entrySize = 3;
  } else if (l.headerSize >= 40 && l.headerSize <= size) {
    l.width = static_cast<std::int32_t>(Le32(block + 4));
    height = static_cast<std::int32_t>(Le32(block + 8));
    l.bitCount = Le16(block + 14);
    l.compression = Le32(block + 16);
    imageSize = Le32(block + 20);
    l.xPelsPerMeter = static_cast<std::int32_t>(Le32(block + 24));
    l.yPelsPerMeter = static_cast<std::int32_t>(Le32(block + 28));
    coloursUsed = Le32(block + 32);
  } else {
    Invalid();
  }
  if (l.width <= 0 || height == 0 || height == INT32_MIN) Invalid();
  l.topDown = height < 0;
  l.height = l.topDown ? -height : height;

  switch (l.bitCount) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
      break;
    default:
      throw ELumetraError("Unsupported bit count");
  }
  switch (l.compression) {
    case kDibRgb:
      break;
    case kDibRle8:
    case kDibRle4:
      if (l.bitCount != (l.compression == kDibRle8 ? 8 : 4))
        throw ELumetraError("Unsupported compression");
      if (l.topDown) Invalid();  // run-length data is always stored bottom-up
      break;
    case kDibBitFields:
      if (l.bitCount != 16 && l.bitCount != 32) throw ELumetraError("Unsupported compression");
      break;
    default:
      throw ELumetraError("Unsupported compression");
  }

  // The channel masks: inside a long header, else in three words behind it.
  std::size_t maskBytes = 0;
  if (l.compression == kDibBitFields) {
    const std::size_t at = l.headerSize >= 52 ? 40 : l.headerSize;
    if (l.headerSize < 52) maskBytes = 12;
    if (at + 12 > size) Invalid();
    for (int i = 0; i < 3; ++i) l.masks[i] = Le32(block + at + 4 * i);
  } else if (l.bitCount == 16) {
    l.masks[0] = 0x7C00, l.masks[1] = 0x03E0, l.masks[2] = 0x001F;
  } else if (l.bitCount == 32) {
    l.masks[0] = 0xFF0000, l.masks[1] = 0x00FF00, l.masks[2] = 0x0000FF;
  }

  // The colour table: the entries in use (all 2^bits when none is said) up
  // to 8 bits; above, an optional table that no pixel refers to.
  l.tableOffset = l.headerSize + maskBytes;
  if (l.bitCount <= 8) {
    const std::uint32_t full = 1u << l.bitCount;
    if (coloursUsed > 256) Invalid();
    l.tableEntries = static_cast<int>(coloursUsed ? coloursUsed : full);
    l.paletteCount = static_cast<int>(l.tableEntries < int(full) ? l.tableEntries : int(full));
  } else {
    if (coloursUsed > 256) Invalid();
    l.tableEntries = static_cast<int>(coloursUsed);
  }
  const std::uint64_t tableEnd =
      std::uint64_t(l.tableOffset) + std::uint64_t(l.tableEntries) * l.entrySize;
  if (tableEnd > size) Invalid();

  l.bitsOffset = static_cast<std::size_t>(tableEnd);
  if (bitsOffset) {
    if (bitsOffset < l.headerSize || bitsOffset > size) Invalid();
    l.bitsOffset = bitsOffset;
  }
  const std::uint64_t available = size - l.bitsOffset;
  if (l.compression == kDibRle8 || l.compression == kDibRle4) {
    l.bitsSize =
        static_cast<std::size_t>(imageSize && imageSize < available ? imageSize : available);
  } else {
    const std::uint64_t stride = ((std::uint64_t(l.width) * l.bitCount + 31) / 32) * 4;
    const std::uint64_t needed = stride * std::uint64_t(l.height);
    if (needed > available) Invalid();
    l.bitsSize = static_cast<std::size_t>(needed);
  }
  return l;
}

TLogPalette DibPalette(const std::uint8_t* block, const TDibLayout& layout) {
  TLogPalette palette{};
  palette.palVersion = 0x300;
  if (layout.bitCount > 8) return palette;
  palette.palNumEntries = static_cast<std::uint16_t>(layout.paletteCount);
  for (int i = 0; i < layout.paletteCount; ++i) {
    const std::uint8_t* q = block + layout.tableOffset + std::size_t(i) * layout.entrySize;
    palette.palPalEntry[i] = {q[2], q[1], q[0], 0};
  }
  return palette;
}

bool IsGreyPalette(const TLogPalette& palette) {
  if (palette.palNumEntries == 0) return false;
  for (int i = 0; i < palette.palNumEntries && i < 256; ++i) {
    const TPaletteEntry& e = palette.palPalEntry[i];
    if (e.peRed != e.peGreen || e.peGreen != e.peBlue) return false;
  }
  return true;
}

std::uint16_t DpiFromPelsPerMetre(std::int32_t pelsPerMetre) {
  if (pelsPerMetre <= 0) return 0;
  const long double dpi = std::nearbyint(pelsPerMetre / kInchesPerMetre);
  return dpi > 65535.0L ? 0 : static_cast<std::uint16_t>(dpi);
}

void DecodeDib(const std::uint8_t* block, const TDibLayout& layout, TDibGraphic& dest) {
  const TLogPalette palette = DibPalette(block, layout);
  TImageFormat format = ifTrueColor;
  switch (layout.bitCount) {
    case 1:
      format = ifBlackWhite;
      break;
    case 4:
      format = IsGreyPalette(palette) ? ifGray16 : ifColor16;
      break;
    case 8:
      format = IsGreyPalette(palette) ? ifGray256 : ifColor256;
      break;
    default:
      break;
  }
  dest.NewImage(layout.width, layout.height, format, format == ifTrueColor ? nullptr : &palette,
                DpiFromPelsPerMetre(layout.xPelsPerMeter),
                DpiFromPelsPerMetre(layout.yPelsPerMeter));
  if (layout.bitCount == 16 || layout.bitCount == 32)
    DecodeMasked(block + layout.bitsOffset, layout, dest);
  else
    DecodeDibRows(block, layout, dest.PixelMemory());
}

void DecodeDibRows(const std::uint8_t* block, const TDibLayout& layout, std::uint8_t* rows) {
  const std::uint8_t* bits = block + layout.bitsOffset;
  if (layout.compression == kDibRle8 || layout.compression == kDibRle4)
    DecodeRunLength(bits, layout, rows);
  else
    DecodePlain(bits, layout, rows);
}

TBmpFile ReadBmpFile(TStream& stream) {
  std::uint8_t fileHeader[14];
  if (stream.Read(fileHeader, sizeof fileHeader) != sizeof fileHeader) Invalid();
  if (fileHeader[0] != 'B' || fileHeader[1] != 'M') Invalid();
  const std::uint32_t offset = Le32(fileHeader + 10);
  TBmpFile file;
  file.dibStart = stream.Position();
  const std::int64_t rest = stream.Size() - file.dibStart;
  if (rest <= 0 || rest > kMaxBmpStreamBytes) Invalid();
  file.dib.resize(static_cast<std::size_t>(rest));
  if (stream.Read(file.dib.data(), rest) != rest) Invalid();
  // An offset that points into the file header or past the end is ignored:
  // the pixels then follow the colour table, as they nearly always do.
  std::size_t bitsOffset = 0;
  if (offset >= sizeof fileHeader && offset - sizeof fileHeader < file.dib.size())
    bitsOffset = offset - sizeof fileHeader;
  try {
    file.layout = ParseDibHeader(file.dib.data(), file.dib.size(), bitsOffset);
  } catch (const EInvalidGraphic&) {
    if (!bitsOffset) throw;
    file.layout = ParseDibHeader(file.dib.data(), file.dib.size(), 0);
  }
  return file;
}

void ReadBmpStream(TStream& stream, TDibGraphic& dest) {
  const TBmpFile file = ReadBmpFile(stream);
  DecodeDib(file.dib.data(), file.layout, dest);
  stream.SetPosition(file.dibStart +
                     static_cast<std::int64_t>(file.layout.bitsOffset + file.layout.bitsSize));
}

}  // namespace lumetra
