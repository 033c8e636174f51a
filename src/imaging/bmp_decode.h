// A small portable reader of device-independent bitmaps: the packed DIBs that
// scanners and the clipboard hand over, and BMP files (a 14-byte file header
// in front of one). It covers the Windows headers (40 bytes and the longer
// V4/V5 ones) and the OS/2 12-byte header with 1, 4, 8, 16, 24 and 32 bits
// per pixel, uncompressed, bit-field and run-length (RLE8, RLE4) data.
//
// Every input is treated as hostile: the header is checked against the bytes
// that are really there before a pixel is touched, and run-length data that
// ends early or points outside the image is cut off, never followed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/streams.h"
#include "imaging/dib_graphic.h"

namespace lumetra {

// Compression values of the DIB header.
enum : std::uint32_t {
  kDibRgb = 0,
  kDibRle8 = 1,
  kDibRle4 = 2,
  kDibBitFields = 3,
};

// Where the parts of a packed DIB lie, once its header has been checked.
struct TDibLayout {
  std::uint32_t headerSize = 0;  // 12 (OS/2), 40, or a longer Windows header
  std::int32_t width = 0;
  std::int32_t height = 0;  // always positive
  bool topDown = false;
  std::uint16_t bitCount = 0;
  std::uint32_t compression = kDibRgb;
  std::int32_t xPelsPerMeter = 0;
  std::int32_t yPelsPerMeter = 0;
  std::uint32_t masks[3] = {0, 0, 0};  // red, green, blue (16 and 32 bits)
  std::size_t tableOffset = 0;         // the first colour table entry
  int tableEntries = 0;                // entries physically present
  int paletteCount = 0;                // entries that make the palette (up to 8 bits)
  int entrySize = 4;                   // 4 bytes (blue, green, red, 0), or 3 for OS/2
  std::size_t bitsOffset = 0;          // the first byte of pixel data
  std::size_t bitsSize = 0;            // pixel bytes that are there to be read
};

// Reads and checks the header of a packed DIB of Size bytes. A non-zero
// BitsOffset (from a BMP file header, counted from the start of the block)
// says where the pixels start. Raises EInvalidGraphic "Bitmap image is not
// valid" for a header that does not fit the data, and ELumetraError
// "Unsupported bit count" / "Unsupported compression" for what it cannot read.
TDibLayout ParseDibHeader(const std::uint8_t* block, std::size_t size, std::size_t bitsOffset = 0);

// The colour table as a logical palette (bit counts up to 8; empty above).
TLogPalette DibPalette(const std::uint8_t* block, const TDibLayout& layout);

// True when the palette has entries and every one is a grey (red = green = blue).
bool IsGreyPalette(const TLogPalette& palette);

// The resolution of a pixels-per-metre field in dots per inch, rounded; 0
// (which makes NewImage take the screen's) for values that do not fit a
// 16-bit unsigned dpi.
std::uint16_t DpiFromPelsPerMetre(std::int32_t pelsPerMetre);

// Decodes a checked packed DIB into Dest, which is recreated with NewImage:
// 1 bit -> ifBlackWhite, 4 and 8 bits -> ifGray16/ifGray256 when the palette
// is all grey, else ifColor16/ifColor256; 16, 24 and 32 bits -> ifTrueColor.
void DecodeDib(const std::uint8_t* block, const TDibLayout& layout, TDibGraphic& dest);

// The pixels of a checked DIB of 1, 4, 8 or 24 bits per pixel (plain, RLE8
// or RLE4) into Rows: bottom-up rows of the DIB's own stride, zeroed
// beforehand (run-length data may leave pixels unvisited).
void DecodeDibRows(const std::uint8_t* block, const TDibLayout& layout, std::uint8_t* rows);

// A BMP file read whole: its DIB (all that follows the 14-byte file header)
// and the checked layout. Raises as ParseDibHeader does.
struct TBmpFile {
  std::vector<std::uint8_t> dib;
  TDibLayout layout;
  std::int64_t dibStart = 0;  // stream position of the DIB
};
TBmpFile ReadBmpFile(TStream& stream);

// Reads one BMP file (file header and DIB) from Stream at its position into
// Dest and leaves the stream just behind its pixel data. Raises
// EInvalidGraphic "Bitmap image is not valid" when it is not one.
void ReadBmpStream(TStream& stream, TDibGraphic& dest);

}  // namespace lumetra
