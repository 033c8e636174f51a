// Byte-level row operations shared by the transforms and the codecs: the
// image's packed rows (MSB-first bits, high nibble first, BGR) reversed,
// complemented and bit-mirrored.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lumetra {

// The bits of B in the opposite order (fill order 2 to fill order 1).
std::uint8_t ReverseBits(std::uint8_t b);
// The same through a 256-entry table built once.
const std::uint8_t* ReverseBitsTable();

// Dest pixel W - 1 - x := source pixel x for one row of W pixels of Bits
// (1, 4, 8 or 24). Source and Dest must not overlap; Dest's padding bits
// after the last pixel become 0.
void ReverseRow(const std::uint8_t* source, std::uint8_t* dest, int w, int bits);

// Dest[i] := ~Source[i] for Count bytes; Source and Dest may be the same.
void NegateBytes(const std::uint8_t* source, std::uint8_t* dest, std::size_t count);
inline void NegateBytes(std::uint8_t* bytes, std::size_t count) { NegateBytes(bytes, bytes, count); }

}  // namespace lumetra
