#include "formats/tga_graphic.h"

#include "formats/gbm_wrapper.h"
#include "formats/registry.h"

namespace lumetra {

bool TTgaGraphic::IsValidStream(TStream& stream) {
  std::uint8_t h[18];
  const std::int64_t got = stream.Read(h, sizeof h);
  stream.Seek(-got, soCurrent);
  if (got != sizeof h) return false;
  switch (h[2]) {
    case 1:
    case 9:
      return h[16] == 8 && h[7] == 24;
    case 2:
    case 10:
      return h[16] == 16 || h[16] == 24 || h[16] == 32;
    case 3:
    case 11:
      return h[16] == 8;
  }
  return false;
}

void TTgaGraphic::LoadFromStream(TStream& stream) {
  LoadImageFromStream(stream, 1);
}

void TTgaGraphic::LoadImageFromStream(TStream& stream, int) {
  ReadFromOffsetZero(stream, [this](TStream& s) { ReadWithGbm(s, *this, "File.tga", ""); });
}

void TTgaGraphic::SaveToStream(TStream& stream) {
  const TImageFormat format = ImageFormat();
  if (format != ifGray256 && format != ifColor256 && format != ifTrueColor)
    throw ETgaError("TARGA image must be true color or 8 bit with palette");
  WriteWithGbm(stream, *this, "File.tga");
}

}  // namespace lumetra
