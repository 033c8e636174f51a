#include "imaging/palettes.h"

#include "imaging/lumisc.h"

namespace lumetra {
namespace {

constexpr std::uint8_t kColor16[16][3] = {
    {0, 0, 0},      {0, 0, 170},    {0, 170, 0},    {0, 170, 170},
    {170, 0, 0},    {170, 0, 170},  {170, 85, 0},   {170, 170, 170},
    {85, 85, 85},   {85, 85, 255},  {85, 255, 85},  {85, 255, 255},
    {255, 85, 85},  {255, 85, 255}, {255, 255, 85}, {255, 255, 255},
};

constexpr int kGreyLevels[16] = {0, 5, 8, 11, 14, 17, 20, 24, 28, 32, 36, 40, 45, 50, 56, 63};

constexpr int kWheelSteps[9][5] = {
    {0, 16, 31, 47, 63}, {31, 39, 47, 55, 63}, {45, 49, 54, 58, 63},
    {0, 7, 14, 21, 28},  {14, 17, 21, 24, 28}, {20, 22, 24, 26, 28},
    {0, 4, 8, 12, 16},   {8, 10, 12, 14, 16},  {11, 12, 13, 15, 16},
};

// One wheel of 24 entries as indices into the five steps (red, green, blue).
constexpr std::uint8_t kWheel[24][3] = {
    {0, 0, 4}, {1, 0, 4}, {2, 0, 4}, {3, 0, 4}, {4, 0, 4}, {4, 0, 3}, {4, 0, 2}, {4, 0, 1},
    {4, 0, 0}, {4, 1, 0}, {4, 2, 0}, {4, 3, 0}, {4, 4, 0}, {3, 4, 0}, {2, 4, 0}, {1, 4, 0},
    {0, 4, 0}, {0, 4, 1}, {0, 4, 2}, {0, 4, 3}, {0, 4, 4}, {0, 3, 4}, {0, 2, 4}, {0, 1, 4},
};

std::uint8_t Widen(int v) { return static_cast<std::uint8_t>((v << 2) | (v >> 4)); }

void Set(TLogPalette& p, int i, int r, int g, int b) {
  p.palPalEntry[i] = {static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(g),
                      static_cast<std::uint8_t>(b), 0};
}

struct DefaultPalettes {
  TLogPalette blackWhite{}, gray16{}, gray256{}, color16{}, color256{};
  DefaultPalettes() {
    for (TLogPalette* p : {&blackWhite, &gray16, &gray256, &color16, &color256})
      p->palVersion = 0x300;
    blackWhite.palNumEntries = 2;
    Set(blackWhite, 0, 0, 0, 0);
    Set(blackWhite, 1, 255, 255, 255);
    gray16.palNumEntries = 16;
    for (int i = 0; i < 16; ++i) Set(gray16, i, 17 * i, 17 * i, 17 * i);
    gray256.palNumEntries = 256;
    for (int i = 0; i < 256; ++i) Set(gray256, i, i, i, i);
    color16.palNumEntries = 16;
    for (int i = 0; i < 16; ++i) Set(color16, i, kColor16[i][0], kColor16[i][1], kColor16[i][2]);
    color256.palNumEntries = 256;
    for (int i = 0; i < 16; ++i) Set(color256, i, kColor16[i][0], kColor16[i][1], kColor16[i][2]);
    for (int i = 0; i < 16; ++i) {
      const int v = Widen(kGreyLevels[i]);
      Set(color256, 16 + i, v, v, v);
    }
    for (int w = 0; w < 9; ++w)
      for (int k = 0; k < 24; ++k)
        Set(color256, 32 + w * 24 + k, Widen(kWheelSteps[w][kWheel[k][0]]),
            Widen(kWheelSteps[w][kWheel[k][1]]), Widen(kWheelSteps[w][kWheel[k][2]]));
    for (int i = 248; i < 256; ++i) Set(color256, i, 0, 0, 0);
    // Three entries of the table were tuned by hand and are kept as they are.
    Set(color256, 30, 227, 179, 179);
    Set(color256, 85, 223, 182, 235);
    Set(color256, 96, 182, 223, 182);
  }
};

const DefaultPalettes& Defaults() {
  static const DefaultPalettes palettes;
  return palettes;
}

[[noreturn]] void InvalidFormat() { throw ELumetraError("Internal error: Invalid image format"); }

}  // namespace

std::string ImageFormatName(int imageFormat) {
  static const char* const kNames[6] = {"Black and white", "16 shades of gray",
                                        "256 shades of gray", "16 color", "256 color",
                                        "True color"};
  return imageFormat >= 0 && imageFormat <= 5 ? kNames[imageFormat] : "";
}

int BitsPerPixel(int imageFormat) {
  static const int kBits[6] = {1, 4, 8, 4, 8, 24};
  if (imageFormat < 0 || imageFormat > 5) InvalidFormat();
  return kBits[imageFormat];
}

int PaletteEntryCount(int imageFormat) {
  static const int kEntries[6] = {2, 16, 256, 16, 256, 0};
  if (imageFormat < 0 || imageFormat > 5) InvalidFormat();
  return kEntries[imageFormat];
}

bool IsIndexedFormat(int imageFormat) { return PaletteEntryCount(imageFormat) != 0; }

const TLogPalette& DefaultPalette(int imageFormat) {
  const DefaultPalettes& d = Defaults();
  switch (imageFormat) {
    case ifBlackWhite: return d.blackWhite;
    case ifGray16: return d.gray16;
    case ifGray256: return d.gray256;
    case ifColor16: return d.color16;
    case ifColor256: return d.color256;
    default: InvalidFormat();
  }
}

}  // namespace lumetra
