#include "page_painter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "imaging/dib_graphic.h"  // the DIB header records
#include "imaging/palettes.h"

namespace quorvex::vscan {

namespace {

constexpr double kA4WidthInches = 210.0 / 25.4;
constexpr double kA4HeightInches = 297.0 / 25.4;

struct Rgb {
  std::uint8_t r, g, b;
};
constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kInk{20, 20, 28};

struct Box {
  int x0, y0, x1, y1;  // half-open, in pixels
  Rgb colour;
};

// A small deterministic generator, so that page N always looks the same.
class Random {
 public:
  explicit Random(std::uint32_t seed) : state_(seed * 2654435761u + 1) {}
  double Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return (state_ & 0xffffff) / double(0x1000000);
  }

 private:
  std::uint32_t state_;
};

// The seven segments of a digit in a 4 x 7 cell grid: x0, y0, x1, y1.
constexpr int kSegments[7][4] = {
    {0, 0, 4, 1}, {3, 0, 4, 4}, {3, 3, 4, 7}, {0, 6, 4, 7},
    {0, 3, 1, 7}, {0, 0, 1, 4}, {0, 3, 4, 4},
};
// Segments a..g lit per digit.
constexpr std::uint8_t kDigitSegments[10] = {0x3f, 0x06, 0x5b, 0x4f, 0x66,
                                             0x6d, 0x7d, 0x07, 0x7f, 0x6f};

class Layout {
 public:
  explicit Layout(const TPageRequest& request)
      : request_(request), width_(PageWidth(request)), height_(PageHeight(request)) {
    const double margin = 1.0;
    const int left = X(margin);
    const int right = width_ - X(margin);
    const bool photo = request.colour || request.bitsPerPixel == 24;
    if (photo) photo_ = Box{X(4.4), Y(1.9), X(kA4WidthInches - margin), Y(4.6), kWhite};

    // Heading: one bold bar.
    boxes_.push_back(Box{left, Y(1.0), left + X(3.2), Y(1.0) + std::max(2, Y(0.22)), kInk});

    // Body: lines of words, paragraphs every few lines, ragged right edge.
    Random random(static_cast<std::uint32_t>(request.pageNumber));
    const double lineHeight = 0.12;
    const double pitch = 0.24;
    int lineInParagraph = 0;
    int paragraphLength = 4 + static_cast<int>(random.Next() * 5);
    for (double top = 1.6; top + lineHeight < 9.4; top += pitch) {
      if (lineInParagraph == paragraphLength) {
        lineInParagraph = 0;
        paragraphLength = 4 + static_cast<int>(random.Next() * 5);
        continue;
      }
      const int y0 = Y(top);
      const int y1 = std::max(y0 + 1, Y(top + lineHeight));
      int lineRight = right;
      if (photo && y1 > photo_.y0 && y0 < photo_.y1) lineRight = photo_.x0 - X(0.25);
      if (lineInParagraph == paragraphLength - 1)
        lineRight = left + static_cast<int>((lineRight - left) * (0.3 + 0.5 * random.Next()));
      int x = left + (lineInParagraph == 0 ? X(0.3) : 0);
      while (true) {
        const int word = std::max(1, X(0.15 + 0.75 * random.Next()));
        if (x + word > lineRight) break;
        boxes_.push_back(Box{x, y0, x + word, y1, kInk});
        x += word + std::max(1, X(0.08));
      }
      ++lineInParagraph;
    }

    // The page number, 1.4 inches tall, centred at the foot of the page.
    const int cell = std::max(1, Y(0.2));
    const int digitWidth = 4 * cell;
    int digits[6];
    int count = 0;
    for (int n = std::max(0, request.pageNumber); count < 6; n /= 10) {
      digits[count++] = n % 10;
      if (n < 10) break;
    }
    const int totalWidth = count * digitWidth + (count - 1) * cell * 2;
    int x = (width_ - totalWidth) / 2;
    const int top = Y(9.8);
    for (int i = count - 1; i >= 0; --i) {
      for (int s = 0; s < 7; ++s) {
        if (!(kDigitSegments[digits[i]] >> s & 1)) continue;
        const int* seg = kSegments[s];
        boxes_.push_back(Box{x + seg[0] * cell, top + seg[1] * cell, x + seg[2] * cell,
                             top + seg[3] * cell, kInk});
      }
      x += digitWidth + cell * 2;
    }
  }

  int Width() const { return width_; }
  int Height() const { return height_; }

  // Paints row Y (from the top) into Row (Width pixels).
  void PaintRow(int y, Rgb* row) const {
    std::fill(row, row + width_, kWhite);
    for (const Box& box : boxes_) {
      if (y < box.y0 || y >= box.y1) continue;
      std::fill(row + std::clamp(box.x0, 0, width_), row + std::clamp(box.x1, 0, width_),
                box.colour);
    }
    if (photo_.x1 > photo_.x0 && y >= photo_.y0 && y < photo_.y1) PaintPhotoRow(y, row);
  }

 private:
  int X(double inches) const { return static_cast<int>(inches * request_.xDpi); }
  int Y(double inches) const { return static_cast<int>(inches * request_.yDpi); }

  // A landscape: sky darkening upwards, a sun, green hills.
  void PaintPhotoRow(int y, Rgb* row) const {
    const double h = photo_.y1 - photo_.y0;
    const double w = photo_.x1 - photo_.x0;
    const double v = (y - photo_.y0) / h;
    const double sunX = 0.72, sunY = 0.28, sunR = 0.11;
    for (int x = std::max(0, photo_.x0); x < std::min(width_, photo_.x1); ++x) {
      const double u = (x - photo_.x0) / w;
      const double hill = 0.62 + 0.08 * std::sin(u * 9.0) + 0.05 * std::sin(u * 23.0 + 1.0);
      Rgb c;
      if (v > hill) {
        const double shade = 1.0 - (v - hill) * 1.5;
        c = Rgb{static_cast<std::uint8_t>(40 * shade), static_cast<std::uint8_t>(150 * shade + 40),
                static_cast<std::uint8_t>(50 * shade)};
      } else {
        const double du = (u - sunX) * w / h, dv = v - sunY;
        if (du * du + dv * dv < sunR * sunR) {
          c = Rgb{250, 215, 60};
        } else {
          c = Rgb{static_cast<std::uint8_t>(70 + 120 * v), static_cast<std::uint8_t>(120 + 100 * v),
                  static_cast<std::uint8_t>(230)};
        }
      }
      row[x] = c;
    }
  }

  TPageRequest request_;
  int width_;
  int height_;
  std::vector<Box> boxes_;
  Box photo_{0, 0, 0, 0, kWhite};
};

int RowStride(const TPageRequest& request) {
  return ((PageWidth(request) * request.bitsPerPixel + 31) / 32) * 4;
}

const lumetra::TLogPalette* PaletteOf(const TPageRequest& request) {
  switch (request.bitsPerPixel) {
    case 1: return &lumetra::DefaultPalette(lumetra::ifBlackWhite);
    case 4: return &lumetra::DefaultPalette(request.colour ? lumetra::ifColor16 : lumetra::ifGray16);
    case 8: return &lumetra::DefaultPalette(request.colour ? lumetra::ifColor256 : lumetra::ifGray256);
    default: return nullptr;
  }
}

// Nearest palette entry by squared distance, remembered per colour: a page
// has few distinct colours outside the photograph.
class NearestColour {
 public:
  explicit NearestColour(const lumetra::TLogPalette* palette) : palette_(palette) {
    for (auto& slot : cache_) slot.key = 0xffffffff;
  }
  int Find(std::uint32_t colour) {
    Slot& slot = cache_[(colour * 2654435761u) >> 20];
    if (slot.key == colour) return slot.index;
    const int r = colour >> 16 & 0xff, g = colour >> 8 & 0xff, b = colour & 0xff;
    int best = 0, bestDistance = 1 << 30;
    for (int i = 0; i < palette_->palNumEntries; ++i) {
      const auto& e = palette_->palPalEntry[i];
      const int d = (e.peRed - r) * (e.peRed - r) + (e.peGreen - g) * (e.peGreen - g) +
                    (e.peBlue - b) * (e.peBlue - b);
      if (d < bestDistance) {
        bestDistance = d;
        best = i;
      }
    }
    slot = Slot{colour, best};
    return best;
  }

 private:
  struct Slot {
    std::uint32_t key;
    int index;
  };
  const lumetra::TLogPalette* palette_;
  Slot cache_[4096];
};

int Luminance(Rgb c) { return (c.r * 299 + c.g * 587 + c.b * 114) / 1000; }

}  // namespace

int PageWidth(const TPageRequest& request) {
  if (request.width > 0) return request.width;
  return std::max(1, static_cast<int>(std::lround(kA4WidthInches * request.xDpi)));
}
int PageHeight(const TPageRequest& request) {
  if (request.height > 0) return request.height;
  return std::max(1, static_cast<int>(std::lround(kA4HeightInches * request.yDpi)));
}
int PaletteSize(const TPageRequest& request) {
  return request.bitsPerPixel <= 8 ? 1 << request.bitsPerPixel : 0;
}

std::size_t PackedDibSize(const TPageRequest& request) {
  return sizeof(lumetra::TBitmapInfoHeader) + PaletteSize(request) * sizeof(lumetra::TRgbQuad) +
         static_cast<std::size_t>(RowStride(request)) * PageHeight(request);
}

void PaintPage(const TPageRequest& request, std::uint8_t* dest) {
  const Layout layout(request);
  const int width = layout.Width();
  const int height = layout.Height();
  const int stride = RowStride(request);
  const int colours = PaletteSize(request);

  lumetra::TBitmapInfoHeader header{};
  header.biSize = sizeof header;
  header.biWidth = width;
  header.biHeight = height;
  header.biPlanes = 1;
  header.biBitCount = static_cast<std::uint16_t>(request.bitsPerPixel);
  header.biCompression = 0;
  header.biSizeImage = static_cast<std::uint32_t>(stride) * height;
  header.biXPelsPerMeter = static_cast<std::int32_t>(std::lround(request.xDpi * lumetra::kInchesPerMetre));
  header.biYPelsPerMeter = static_cast<std::int32_t>(std::lround(request.yDpi * lumetra::kInchesPerMetre));
  header.biClrUsed = static_cast<std::uint32_t>(colours);
  header.biClrImportant = 0;
  std::memcpy(dest, &header, sizeof header);

  const lumetra::TLogPalette* palette = PaletteOf(request);
  auto* table = reinterpret_cast<lumetra::TRgbQuad*>(dest + sizeof header);
  for (int i = 0; i < colours; ++i) {
    const auto& e = palette->palPalEntry[i];
    lumetra::TRgbQuad quad{e.peBlue, e.peGreen, e.peRed, 0};
    std::memcpy(&table[i], &quad, sizeof quad);
  }
  std::uint8_t* bits = dest + sizeof header + colours * sizeof(lumetra::TRgbQuad);

  // Indexed colour goes through the library's nearest-colour cache; greys and
  // black and white through the luminance.
  std::unique_ptr<NearestColour> converter;
  if (request.colour && palette) converter = std::make_unique<NearestColour>(palette);
  // The black-and-white palette may put black at either index.
  const int blackIndex =
      request.bitsPerPixel == 1 && palette->palPalEntry[0].peRed > palette->palPalEntry[1].peRed ? 1 : 0;

  auto encode = [&](const Rgb* row, std::uint8_t* out) {
    std::memset(out, 0, stride);
    switch (request.bitsPerPixel) {
      case 1:
        for (int x = 0; x < width; ++x) {
          const bool black = Luminance(row[x]) < 128;
          if (black != (blackIndex == 0)) out[x >> 3] |= static_cast<std::uint8_t>(0x80 >> (x & 7));
        }
        break;
      case 4:
        for (int x = 0; x < width; ++x) {
          const std::uint32_t c = row[x].r << 16 | row[x].g << 8 | row[x].b;
          const int index = converter ? converter->Find(c) : Luminance(row[x]) >> 4;
          out[x >> 1] |= static_cast<std::uint8_t>(x & 1 ? index : index << 4);
        }
        break;
      case 8:
        for (int x = 0; x < width; ++x) {
          const std::uint32_t c = row[x].r << 16 | row[x].g << 8 | row[x].b;
          out[x] = static_cast<std::uint8_t>(converter ? converter->Find(c)
                                                       : Luminance(row[x]));
        }
        break;
      default:
        for (int x = 0; x < width; ++x) {
          out[3 * x] = row[x].b;
          out[3 * x + 1] = row[x].g;
          out[3 * x + 2] = row[x].r;
        }
        break;
    }
  };

  std::vector<Rgb> row(width);
  if (request.blank) {
    std::fill(row.begin(), row.end(), kWhite);
    encode(row.data(), bits);
    for (int y = 1; y < height; ++y) std::memcpy(bits + static_cast<std::size_t>(y) * stride, bits, stride);
    return;
  }
  for (int y = 0; y < height; ++y) {
    layout.PaintRow(y, row.data());
    encode(row.data(), bits + static_cast<std::size_t>(height - 1 - y) * stride);
  }
}

}  // namespace quorvex::vscan
