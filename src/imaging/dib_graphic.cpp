#include "imaging/dib_graphic.h"

#include <cmath>
#include <cstring>

#include "base/format.h"
#include "imaging/row_bytes.h"
#include "platform/platform.h"

namespace lumetra {

// --- TRgbToPaletteConverter ---------------------------------------------------

TRgbToPaletteConverter::TRgbToPaletteConverter(const TLogPalette* palette) : palette_(palette) {
  for (auto& slot : cache_) slot = {0, -1};
}

std::uint16_t TRgbToPaletteConverter::FindNearestColor(std::uint32_t colour) {
  Slot& slot = cache_[colour % kCacheSlots];
  if (slot.index != -1 && slot.key == colour) {
    ++hits_;
    return static_cast<std::uint16_t>(slot.index);
  }
  ++misses_;
  const int r = (colour >> 16) & 0xFF, g = (colour >> 8) & 0xFF, b = colour & 0xFF;
  const int count = palette_ ? palette_->palNumEntries : 0;
  int best = 0;
  long bestDistance = -1;
  for (int i = 0; i < count && i < 256; ++i) {
    const TPaletteEntry& e = palette_->palPalEntry[i];
    const long dr = r - e.peRed, dg = g - e.peGreen, db = b - e.peBlue;
    const long d = dr * dr + dg * dg + db * db;
    if (bestDistance < 0 || d < bestDistance) {
      bestDistance = d;
      best = i;
      if (d == 0) break;
    }
  }
  slot = {colour, static_cast<std::int16_t>(best)};
  return static_cast<std::uint16_t>(best);
}

// --- per-format pixel routines --------------------------------------------------

struct DibPixelAccess {
  static std::uint32_t Entry(const TDibGraphic* g, int index) {
    return PaletteColour(g->logPalette_.palPalEntry[index & 0xFF]);
  }
  static std::uint32_t Read1(const TDibGraphic* g, int x, int y) {
    return Entry(g, (g->ScanLine(y)[x >> 3] >> (7 - (x & 7))) & 1);
  }
  static std::uint32_t Read4(const TDibGraphic* g, int x, int y) {
    const std::uint8_t b = g->ScanLine(y)[x >> 1];
    return Entry(g, (x & 1) ? (b & 0x0F) : (b >> 4));
  }
  static std::uint32_t Read8(const TDibGraphic* g, int x, int y) {
    return Entry(g, g->ScanLine(y)[x]);
  }
  static std::uint32_t Read24(const TDibGraphic* g, int x, int y) {
    const std::uint8_t* p = g->ScanLine(y) + 3 * x;
    return (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) | p[0];
  }
  static void SetIndex1(TDibGraphic* g, int x, int y, int index) {
    std::uint8_t& b = g->ScanLine(y)[x >> 3];
    const std::uint8_t mask = static_cast<std::uint8_t>(0x80 >> (x & 7));
    b = (index & 0xFF) > 0 ? (b | mask) : (b & ~mask);
  }
  static void SetIndex4(TDibGraphic* g, int x, int y, int index) {
    std::uint8_t& b = g->ScanLine(y)[x >> 1];
    const std::uint8_t v = index & 0x0F;
    b = (x & 1) ? ((b & 0xF0) | v) : ((b & 0x0F) | (v << 4));
  }
  static void SetIndex8(TDibGraphic* g, int x, int y, int index) {
    g->ScanLine(y)[x] = static_cast<std::uint8_t>(index);
  }
  static void Write1(TDibGraphic* g, int x, int y, std::uint32_t c) {
    SetIndex1(g, x, y, g->converter_->FindNearestColor(c & 0xFFFFFF));
  }
  static void Write4(TDibGraphic* g, int x, int y, std::uint32_t c) {
    SetIndex4(g, x, y, g->converter_->FindNearestColor(c & 0xFFFFFF));
  }
  static void Write8(TDibGraphic* g, int x, int y, std::uint32_t c) {
    SetIndex8(g, x, y, g->converter_->FindNearestColor(c & 0xFFFFFF));
  }
  static void Write24(TDibGraphic* g, int x, int y, std::uint32_t c) {
    std::uint8_t* p = g->ScanLine(y) + 3 * x;
    p[0] = c & 0xFF;
    p[1] = (c >> 8) & 0xFF;
    p[2] = (c >> 16) & 0xFF;
  }
  static std::uint32_t ReadNone(const TDibGraphic*, int, int) { return 0; }
  static void WriteNone(TDibGraphic*, int, int, std::uint32_t) {}
};

// --- TDibGraphic ------------------------------------------------------------------


void NegatePixels(TDibGraphic& image) {
  const std::size_t bytes =
      (static_cast<std::size_t>(image.Width()) * BitsPerPixel(image.ImageFormat()) + 7) / 8;
  for (int y = 0; y < image.Height(); ++y) NegateBytes(image.ScanLine(y), bytes);
}

bool PaletteDevice() {
  static const bool paletteDevice = platform::IsPaletteDevice();
  return paletteDevice;
}

TDibGraphic::TDibGraphic() : reader_(&DibPixelAccess::ReadNone), writer_(&DibPixelAccess::WriteNone) {}

std::unique_ptr<TDibGraphic> TDibGraphic::CreateNew() const {
  return std::make_unique<TDibGraphic>();
}

void TDibGraphic::SetWidth(int) {
  throw ELumetraError("Dimensions must be change with the NewImage method");
}

void TDibGraphic::SetHeight(int) {
  throw ELumetraError("Dimensions must be change with the NewImage method");
}

bool TDibGraphic::IsValidStream(TStream&) { return false; }
int TDibGraphic::GetImageCount(TStream&) { return 1; }
void TDibGraphic::LoadImageFromStream(TStream&, int) {}
void TDibGraphic::SaveToStream(TStream&) {}

void TDibGraphic::AppendToStream(TStream&) {
  throw ELumetraError(Format("The %s format does not support multiple images", ClassName()));
}

void TDibGraphic::NewImage(int width, int height, TImageFormat imageFormat,
                           const TLogPalette* palette, std::uint16_t xDpi, std::uint16_t yDpi) {
  ReleaseStore();
  try {
    const int bits = BitsPerPixel(imageFormat);  // raises for a bad format
    if (width <= 0 || height <= 0) throw EOutOfResources("Out of resources");
    const std::uint64_t stride = ((std::uint64_t(width) * bits + 31) / 32) * 4;
    if (stride * std::uint64_t(height) > kMaxImageBytes) throw EOutOfResources("Out of resources");
    imageFormat_ = imageFormat;
    if (IsIndexedFormat(imageFormat) && !palette) palette = &DefaultPalette(imageFormat);
    if (!IsIndexedFormat(imageFormat)) palette = nullptr;

    header_ = {};
    header_.biSize = 40;
    header_.biWidth = width;
    header_.biHeight = height;
    header_.biPlanes = 1;
    header_.biBitCount = static_cast<std::uint16_t>(bits);
    header_.biCompression = 0;
    rowStride_ = static_cast<int>(stride);
    header_.biSizeImage = static_cast<std::uint32_t>(stride * height);
    std::memset(colorTable_, 0, sizeof colorTable_);
    if (palette) {
      int count = palette->palNumEntries;
      if (count > 256) count = 256;
      header_.biClrUsed = static_cast<std::uint32_t>(count);
      for (int i = 0; i < count; ++i) {
        const TPaletteEntry& e = palette->palPalEntry[i];
        colorTable_[i] = {e.peBlue, e.peGreen, e.peRed, 0};
      }
    }
    SetXDpi(xDpi ? xDpi : static_cast<std::uint16_t>(platform::ScreenDpiX()));
    SetYDpi(yDpi ? yDpi : static_cast<std::uint16_t>(platform::ScreenDpiY()));

    struct {
      TBitmapInfoHeader header;
      TRgbQuad colours[256];
    } info;
    info.header = header_;
    std::memcpy(info.colours, colorTable_, sizeof info.colours);
    store_.Create(&info, header_.biSizeImage);

    switch (bits) {
      case 1: reader_ = &DibPixelAccess::Read1; writer_ = &DibPixelAccess::Write1; break;
      case 4: reader_ = &DibPixelAccess::Read4; writer_ = &DibPixelAccess::Write4; break;
      case 8: reader_ = &DibPixelAccess::Read8; writer_ = &DibPixelAccess::Write8; break;
      default: reader_ = &DibPixelAccess::Read24; writer_ = &DibPixelAccess::Write24; break;
    }
    std::memset(&logPalette_, 0, sizeof logPalette_);
    if (palette) {
      logPalette_.palVersion = 0x300;
      logPalette_.palNumEntries = static_cast<std::uint16_t>(header_.biClrUsed);
      std::memcpy(logPalette_.palPalEntry, palette->palPalEntry,
                  header_.biClrUsed * sizeof(TPaletteEntry));
      converter_ = std::make_unique<TRgbToPaletteConverter>(&logPalette_);
    }
  } catch (...) {
    ReleaseStore();
    throw;
  }
}

void TDibGraphic::ReleaseStore() {
  // The quantizer reads these pixels: wait for it before they go.
  quantizer_.reset();
  converter_.reset();
  reader_ = &DibPixelAccess::ReadNone;
  writer_ = &DibPixelAccess::WriteNone;
  ReleasePlatformState();
  store_.Release();
  header_ = {};
  rowStride_ = 0;
  std::memset(colorTable_, 0, sizeof colorTable_);
  std::memset(&logPalette_, 0, sizeof logPalette_);
}

std::uint16_t TDibGraphic::XDpi() const {
  return static_cast<std::uint16_t>(std::nearbyint(header_.biXPelsPerMeter / kInchesPerMetre));
}

std::uint16_t TDibGraphic::YDpi() const {
  return static_cast<std::uint16_t>(std::nearbyint(header_.biYPelsPerMeter / kInchesPerMetre));
}

void TDibGraphic::SetXDpi(std::uint16_t dpi) {
  header_.biXPelsPerMeter = static_cast<std::int32_t>(std::nearbyint(dpi * kInchesPerMetre));
}

void TDibGraphic::SetYDpi(std::uint16_t dpi) {
  header_.biYPelsPerMeter = static_cast<std::int32_t>(std::nearbyint(dpi * kInchesPerMetre));
}

int TDibGraphic::PixelIndex(int x, int y) const {
  switch (header_.biBitCount) {
    case 1: return (ScanLine(y)[x >> 3] >> (7 - (x & 7))) & 1;
    case 4: return (x & 1) ? (ScanLine(y)[x >> 1] & 0x0F) : (ScanLine(y)[x >> 1] >> 4);
    case 8: return ScanLine(y)[x];
  }
  throw ELumetraError("The image does not have a palette");
}

void TDibGraphic::SetPixelIndex(int x, int y, int index) {
  switch (header_.biBitCount) {
    case 1: DibPixelAccess::SetIndex1(this, x, y, index); return;
    case 4: DibPixelAccess::SetIndex4(this, x, y, index); return;
    case 8: DibPixelAccess::SetIndex8(this, x, y, index); return;
  }
  throw ELumetraError("The image does not have a palette");
}

void TDibGraphic::Fill(std::uint32_t colour) {
  if (Empty()) return;
  const int w = Width(), h = Height();
  for (int x = 0; x < w; ++x) SetPixels(x, 0, colour);
  const std::uint8_t* first = ScanLine(0);
  for (int y = 1; y < h; ++y) std::memcpy(ScanLine(y), first, rowStride_);
}

}  // namespace lumetra
