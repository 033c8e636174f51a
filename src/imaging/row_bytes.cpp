#include "imaging/row_bytes.h"

#include <array>
#include <cstring>

namespace lumetra {

namespace {

// Shifts a packed row left by Shift bits (1..7), pulling bits in from the
// following byte.
void ShiftRowLeft(std::uint8_t* row, int bytes, int shift) {
  for (int i = 0; i + 1 < bytes; ++i)
    row[i] = static_cast<std::uint8_t>(row[i] << shift | row[i + 1] >> (8 - shift));
  row[bytes - 1] = static_cast<std::uint8_t>(row[bytes - 1] << shift);
}

}  // namespace

std::uint8_t ReverseBits(std::uint8_t b) {
  b = static_cast<std::uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
  b = static_cast<std::uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
  return static_cast<std::uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

const std::uint8_t* ReverseBitsTable() {
  static const auto table = [] {
    std::array<std::uint8_t, 256> t{};
    for (int i = 0; i < 256; ++i) t[i] = ReverseBits(static_cast<std::uint8_t>(i));
    return t;
  }();
  return table.data();
}

// Packed rows are reversed bytewise and then shifted by the unused bits of
// the last byte, so the padding never reaches a pixel.
void ReverseRow(const std::uint8_t* source, std::uint8_t* dest, int w, int bits) {
  switch (bits) {
    case 24: {
      // Inner pixels move as 4-byte words: slot k's fourth byte lands on
      // slot k + 1, which is written next. The end pixels, whose word would
      // reach past the row, move byte by byte at the end.
      for (int k = 1; k + 1 < w; ++k) {
        std::uint32_t v;
        std::memcpy(&v, source + 3 * (w - 1 - k), 4);
        std::memcpy(dest + 3 * k, &v, 4);
      }
      for (int k : {0, w - 1}) std::memcpy(dest + 3 * k, source + 3 * (w - 1 - k), 3);
      return;
    }
    case 8:
      for (int x = 0; x < w; ++x) dest[w - 1 - x] = source[x];
      return;
    case 4: {
      const int bytes = (w + 1) / 2;
      for (int i = 0; i < bytes; ++i) {
        const std::uint8_t b = source[bytes - 1 - i];
        dest[i] = static_cast<std::uint8_t>(b >> 4 | b << 4);
      }
      if (w & 1) ShiftRowLeft(dest, bytes, 4);
      return;
    }
    default: {
      const std::uint8_t* table = ReverseBitsTable();
      const int bytes = (w + 7) / 8;
      for (int i = 0; i < bytes; ++i) dest[i] = table[source[bytes - 1 - i]];
      const int pad = bytes * 8 - w;
      if (pad) ShiftRowLeft(dest, bytes, pad);
    }
  }
}

// A plain indexed loop the compiler vectorises.
void NegateBytes(const std::uint8_t* source, std::uint8_t* dest, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) dest[i] = static_cast<std::uint8_t>(~source[i]);
}

}  // namespace lumetra
