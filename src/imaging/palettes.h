// Image formats and the default palettes.
#pragma once

#include <cstdint>
#include <string>

namespace lumetra {

enum TImageFormat : std::uint8_t {
  ifBlackWhite = 0,
  ifGray16 = 1,
  ifGray256 = 2,
  ifColor16 = 3,
  ifColor256 = 4,
  ifTrueColor = 5,
};

// "Black and white" ... "True color"; empty for values outside 0..5.
std::string ImageFormatName(int imageFormat);
// Raise ELumetraError "Internal error: Invalid image format" outside 0..5.
int BitsPerPixel(int imageFormat);
int PaletteEntryCount(int imageFormat);  // 0 for true colour
bool IsIndexedFormat(int imageFormat);

// The Windows logical palette record: 1028 bytes.
struct TPaletteEntry {
  std::uint8_t peRed, peGreen, peBlue, peFlags;
};
struct TLogPalette {
  std::uint16_t palVersion;
  std::uint16_t palNumEntries;
  TPaletteEntry palPalEntry[256];
};
static_assert(sizeof(TLogPalette) == 1028);

// The default palette of an indexed format (black/white, 16 and 256 greys,
// the 16- and 256-colour tables); raises for true colour and bad values.
const TLogPalette& DefaultPalette(int imageFormat);

inline std::uint32_t PaletteColour(const TPaletteEntry& e) {
  return (std::uint32_t{e.peRed} << 16) | (std::uint32_t{e.peGreen} << 8) | e.peBlue;
}

}  // namespace lumetra
