#include "formats/bmp_graphic.h"

#include <cstring>

#include "base/little_endian.h"
#include "formats/gbm_wrapper.h"
#include "formats/registry.h"
#include "imaging/bmp_decode.h"

namespace lumetra {
namespace {

constexpr std::uint32_t kFileHeaderSize = 14;
constexpr std::uint32_t kInfoHeaderSize = 40;

}  // namespace

bool TBitmapGraphic::IsValidStream(TStream& stream) {
  char signature[2];
  const std::int64_t got = stream.Read(signature, 2);
  stream.Seek(-got, soCurrent);
  return got == 2 && signature[0] == 'B' && signature[1] == 'M';
}

void TBitmapGraphic::LoadImageFromStream(TStream& stream, int) {
  ReadFromOffsetZero(stream, [this](TStream& s) {
    const std::int64_t start = s.Position();
    // The resolution lives in the Windows headers only; an OS/2 header
    // (12 bytes) has pixels or colours where it would be.
    std::uint8_t head[46] = {};
    const bool windowsHeader = s.Read(head, sizeof head) == sizeof head && Le32(head + 14) >= 40;
    s.SetPosition(start);
    try {
      ReadWithGbm(s, *this, "File.bmp", "inv");
    } catch (const Exception&) {
      std::uint8_t last = ReportProgress(this, 5, 0, 255, 100, OnReadWriteProgress);
      s.SetPosition(start);
      ReadBmpStream(s, *this);
      last = ReportProgress(this, 95, 0, last, 100, OnReadWriteProgress);
      ReportProgress(this, 100, 0, last, 100, OnReadWriteProgress);
    }
    if (!windowsHeader) return;
    // A missing or absurd value keeps the screen resolution the image has.
    if (const std::uint16_t dpi = DpiFromPelsPerMetre(static_cast<std::int32_t>(Le32(head + 38))))
      SetXDpi(dpi);
    if (const std::uint16_t dpi = DpiFromPelsPerMetre(static_cast<std::int32_t>(Le32(head + 42))))
      SetYDpi(dpi);
  });
}

void TBitmapGraphic::SaveToStream(TStream& stream) {
  if (Empty()) throw EInvalidGraphic("Bitmap image is not valid");
  const std::uint32_t paletteBytes = static_cast<std::uint32_t>(PaletteCount()) * 4;
  const std::uint32_t bitsOffset = kFileHeaderSize + kInfoHeaderSize + paletteBytes;
  std::uint8_t fileHeader[kFileHeaderSize] = {'B', 'M'};
  PutLe32(fileHeader + 2, bitsOffset + static_cast<std::uint32_t>(ImageSize()));
  PutLe32(fileHeader + 10, bitsOffset);
  std::uint8_t last = ReportProgress(this, 0, 0, 255, 100, OnReadWriteProgress);
  stream.WriteBuffer(fileHeader, sizeof fileHeader);
  last = ReportProgress(this, 5, 0, last, 100, OnReadWriteProgress);

  const TBitmapInfoHeader& h = InfoHeader();
  std::uint8_t info[kInfoHeaderSize] = {};
  PutLe32(info, kInfoHeaderSize);
  PutLe32(info + 4, static_cast<std::uint32_t>(h.biWidth));
  PutLe32(info + 8, static_cast<std::uint32_t>(h.biHeight));
  PutLe16(info + 12, h.biPlanes);
  PutLe16(info + 14, h.biBitCount);
  PutLe32(info + 16, h.biCompression);
  PutLe32(info + 20, h.biSizeImage);
  PutLe32(info + 24, static_cast<std::uint32_t>(h.biXPelsPerMeter));
  PutLe32(info + 28, static_cast<std::uint32_t>(h.biYPelsPerMeter));
  PutLe32(info + 32, h.biClrUsed);
  PutLe32(info + 36, h.biClrImportant);
  stream.WriteBuffer(info, sizeof info);
  last = ReportProgress(this, 10, 0, last, 100, OnReadWriteProgress);

  if (paletteBytes) stream.WriteBuffer(ColorTable(), paletteBytes);
  stream.WriteBuffer(PixelMemory(), static_cast<std::int64_t>(ImageSize()));
  ReportProgress(this, 100, 0, last, 100, OnReadWriteProgress);
}

}  // namespace lumetra
