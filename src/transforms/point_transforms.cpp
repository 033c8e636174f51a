#include "transforms/point_transforms.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>
#include <cstring>
#include <vector>

#include "imaging/row_bytes.h"
#include "transforms/pixel_rows.h"

namespace lumetra {

// --- negative ------------------------------------------------------------------

void TNegativeTransform::Apply(TDibGraphic& graphic) {
  StartProgress();
  if (!graphic.Empty()) {
    const int w = graphic.Width(), h = graphic.Height();
    switch (graphic.ImageFormat()) {
      case ifBlackWhite:
      case ifGray16:
      case ifGray256:
        // Whole rows, padding included: index i becomes 2^bits - 1 - i.
        for (int y = 0; y < h; ++y) {
          std::uint8_t* row = graphic.ScanLine(y);
          NegateBytes(row, static_cast<std::size_t>(graphic.RowStride()));
          Progress(y, 0, h - 1);
        }
        break;
      case ifColor16:
      case ifColor256: {
        // The indices stay; the palette is inverted and the image rebuilt
        // around it so that colour table and converter agree.
        TLogPalette inverted = *graphic.LogPalette();
        for (int i = 0; i < inverted.palNumEntries && i < 256; ++i) {
          TPaletteEntry& e = inverted.palPalEntry[i];
          e = {static_cast<std::uint8_t>(255 - e.peRed), static_cast<std::uint8_t>(255 - e.peGreen),
               static_cast<std::uint8_t>(255 - e.peBlue), 0};
        }
        inverted.palVersion = 0x300;
        const std::vector<std::uint8_t> bytes(graphic.PixelMemory(),
                                              graphic.PixelMemory() + graphic.ImageSize());
        const std::uint16_t xDpi = graphic.XDpi(), yDpi = graphic.YDpi();
        graphic.NewImage(w, h, graphic.ImageFormat(), &inverted, xDpi, yDpi);
        std::memcpy(graphic.PixelMemory(), bytes.data(), bytes.size());
        Progress(h - 1, 0, h - 1);
        break;
      }
      case ifTrueColor:
        for (int y = 0; y < h; ++y) {
          std::uint8_t* row = graphic.ScanLine(y);
          NegateBytes(row, 3 * static_cast<std::size_t>(w));
          Progress(y, 0, h - 1);
        }
        break;
    }
  }
  EndProgress();
}

void TNegativeTransform::ApplyOnDest(const TDibGraphic& source, TDibGraphic& dest) {
  dest.Assign(&source);
  Apply(dest);
}

// --- HSL ---------------------------------------------------------------------------

THsl RgbToHsl(int red, int green, int blue) {
  const int mx = std::max(red, std::max(green, blue));
  const int mn = std::min(red, std::min(green, blue));
  THsl result{-1.0f, 0.0f, static_cast<float>(mx + mn) / 510.0f};
  if (mx == mn) return result;
  const float M = mx / 255.0f, m = mn / 255.0f, delta = M - m;
  result.Saturation = result.Lightness > 0.5f ? delta / (2.0f - M - m) : delta / (M + m);
  const float r = (M - red / 255.0f) / delta;
  const float g = (M - green / 255.0f) / delta;
  const float b = (M - blue / 255.0f) / delta;
  float h;
  if (red == mx)
    h = green == mn ? 5.0f + b : 1.0f - g;
  else if (green == mx)
    h = blue == mn ? 1.0f + r : 3.0f - b;
  else
    h = red == mn ? 3.0f + g : 5.0f - r;
  result.Hue = h / 6.0f;
  return result;
}

namespace {

// Round(x * 255), ties to even; a float times 255 is exact in double.
int Channel(float x) {
  const double v = std::nearbyint(static_cast<double>(x) * 255.0);
  return v < 0 ? 0 : v > 255 ? 255 : static_cast<int>(v);
}

}  // namespace

std::uint32_t HslToRgb(const THsl& hsl) {
  const float L = hsl.Lightness, S = hsl.Saturation;
  const float v = L > 0.5f ? L + S - L * S : L * (1.0f + S);
  if (S == 0.0f || hsl.Hue == -1.0f) {
    long long grey = SafeTrunc(static_cast<double>(L) * 255.0 + 0.5);
    grey = grey < 0 ? 0 : grey > 255 ? 255 : grey;
    return rows::Rgb(int(grey), int(grey), int(grey));
  }
  const float h = hsl.Hue * 6.0f;
  const int sextant = static_cast<int>(SafeTrunc(h));
  const float m = 2.0f * L - v;
  const float f = h - static_cast<float>(sextant);
  const float d = (v - m) * f;
  const float up = m + d, down = v - d;
  float r, g, b;
  switch (sextant) {
    case 1: r = down; g = v; b = m; break;
    case 2: r = m; g = v; b = up; break;
    case 3: r = m; g = down; b = v; break;
    case 4: r = up; g = m; b = v; break;
    case 5: r = v; g = m; b = down; break;
    default: r = v; g = up; b = m; break;
  }
  return rows::Rgb(Channel(r), Channel(g), Channel(b));
}

namespace {

// Runs a lightness mapping over every pixel. Indexed images are re-matched
// to their own palette; since the result depends on the palette entry only,
// each entry is mapped once.
template <class Map>
void MapLightness(TDibGraphic& graphic, Map map, const std::function<void(int)>& rowDone) {
  if (graphic.Empty()) return;
  const int w = graphic.Width(), h = graphic.Height();
  auto convert = [&](std::uint32_t c) {
    THsl hsl = RgbToHsl(rows::Red(c), rows::Green(c), rows::Blue(c));
    hsl.Lightness = map(hsl.Lightness);
    return HslToRgb(hsl);
  };
  if (graphic.ImageFormat() == ifTrueColor) {
    // Pages repeat their colours (paper, ink): a direct-mapped memo of
    // recent conversions saves most of the HSL round trips.
    constexpr std::uint32_t kEmpty = 0xFFFFFFFF;
    std::vector<std::uint32_t> keys(1 << 14, kEmpty), values(1 << 14);
    for (int y = 0; y < h; ++y) {
      std::uint8_t* p = graphic.ScanLine(y);
      for (int x = 0; x < w; ++x, p += 3) {
        const std::uint32_t colour = rows::Rgb(p[2], p[1], p[0]);
        const std::uint32_t slot = (colour * 2654435761u) >> 18;
        if (keys[slot] != colour) {
          keys[slot] = colour;
          values[slot] = convert(colour);
        }
        const std::uint32_t c = values[slot];
        p[0] = c & 0xFF;
        p[1] = (c >> 8) & 0xFF;
        p[2] = (c >> 16) & 0xFF;
      }
      rowDone(y);
    }
    return;
  }
  const int bits = rows::Bits(graphic);
  int remap[256];
  for (int i = 0; i < (1 << bits); ++i)
    remap[i] = graphic.Converter()->FindNearestColor(convert(rows::EntryColour(graphic, i)));
  for (int y = 0; y < h; ++y) {
    std::uint8_t* row = graphic.ScanLine(y);
    for (int x = 0; x < w; ++x) rows::SetIndex(row, bits, x, remap[rows::GetIndex(row, bits, x)]);
    rowDone(y);
  }
}

float LimitUnit(double value) {
  if (value > 1.0) return 1.0f;
  if (value < 0.0) return 0.0f;
  return static_cast<float>(value);
}

}  // namespace

// --- brightness ------------------------------------------------------------------

void TBrightnessTransform::SetAmount(double value) {
  if (std::isnan(value)) return;
  amount_ = value < -100.0 ? -100.0 : value > 100.0 ? 100.0 : value;
}

void TBrightnessTransform::Apply(TDibGraphic& graphic) {
  StartProgress();
  const double shift = amount_ / 100.0;
  const int h = graphic.Height();
  MapLightness(
      graphic, [shift](float L) { return LimitUnit(static_cast<float>(L + shift)); },
      [&](int y) { Progress(y, 0, h - 1); });
  EndProgress();
}

void TBrightnessTransform::ApplyOnDest(const TDibGraphic& source, TDibGraphic& dest) {
  dest.Assign(&source);
  Apply(dest);
}

// --- contrast ----------------------------------------------------------------------

void TContrastTransform::Apply(TDibGraphic& graphic) {
  StartProgress();
  double k = strength_ / 5.0;
  if (!increase_) k = -k;
  const int h = graphic.Height();
  MapLightness(
      graphic,
      [k](float L) {
        const double target = (std::sin((L - 0.5) * std::numbers::pi) + 1.0) * 0.5;
        return LimitUnit(static_cast<float>(L + (target - L) * k * 0.5));
      },
      [&](int y) { Progress(y, 0, h - 1); });
  EndProgress();
}

void TContrastTransform::ApplyOnDest(const TDibGraphic& source, TDibGraphic& dest) {
  dest.Assign(&source);
  Apply(dest);
}

// --- gamma -------------------------------------------------------------------------

void TGammaTransform::SetGammaValue(double value) {
  if (std::isnan(value)) return;
  gamma_ = value < 0.1 ? 0.1 : value > 7.0 ? 7.0 : value;
}

void TGammaTransform::ApplyOnDest(const TDibGraphic& source, TDibGraphic& dest) {
  if (&source == &dest) return ApplyThroughCopy(dest);
  StartProgress();
  const int w = source.Width(), h = source.Height();
  rows::NewLike(dest, source, w, h, ifTrueColor, nullptr);
  std::uint8_t table[256];
  table[0] = 0;
  for (int i = 1; i < 256; ++i) {
    const long double v =
        std::nearbyint(std::exp(std::log(i / 255.0L) / static_cast<long double>(gamma_)) * 255.0L);
    table[i] = static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
  }
  std::vector<std::uint32_t> colours(static_cast<std::size_t>(w));
  for (int y = 0; y < h; ++y) {
    rows::ReadColours(source, y, colours.data());
    std::uint8_t* p = dest.ScanLine(y);
    for (int x = 0; x < w; ++x, p += 3) {
      const std::uint32_t c = colours[static_cast<std::size_t>(x)];
      p[0] = table[rows::Blue(c)];
      p[1] = table[rows::Green(c)];
      p[2] = table[rows::Red(c)];
    }
    Progress(y, 0, h - 1);
  }
  EndProgress();
}

// --- convert to grey -------------------------------------------------------------

void TConvertToGrayTransform::ApplyOnDest(const TDibGraphic& source, TDibGraphic& dest) {
  if (&source == &dest) return ApplyThroughCopy(dest);
  StartProgress();
  const int w = source.Width(), h = source.Height();
  rows::NewLike(dest, source, w, h, target_, nullptr);
  const long long wr = SafeTrunc(std::nearbyint(red_ * 1000.0));
  const long long wg = SafeTrunc(std::nearbyint(green_ * 1000.0));
  const long long wb = SafeTrunc(std::nearbyint(blue_ * 1000.0));
  // The colour (Y, Y, Y) as the target stores it, for every Y.
  std::uint32_t stored[256];
  const int bits = rows::Bits(dest);
  for (int v = 0; v < 256; ++v) {
    const std::uint32_t grey = rows::Rgb(v, v, v);
    stored[v] = bits == 24 ? grey : dest.Converter()->FindNearestColor(grey);
  }
  std::vector<std::uint32_t> colours(static_cast<std::size_t>(w));
  for (int y = 0; y < h; ++y) {
    rows::ReadColours(source, y, colours.data());
    std::uint8_t* row = dest.ScanLine(y);
    for (int x = 0; x < w; ++x) {
      const std::uint32_t c = colours[static_cast<std::size_t>(x)];
      long long lum = (wr * rows::Red(c) + wg * rows::Green(c) + wb * rows::Blue(c)) / 1000;
      // Negative weights must not wrap into a bogus colour.
      lum = lum > 255 ? 255 : lum < 0 ? 0 : lum;
      if (bits == 24) {
        row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = static_cast<std::uint8_t>(lum);
      } else {
        rows::SetIndex(row, bits, x, static_cast<int>(stored[lum]));
      }
    }
    Progress(y, 0, h - 1);
  }
  EndProgress();
}

}  // namespace lumetra
