#include "formats/eps_graphic.h"

#include "base/little_endian.h"
#include "formats/registry.h"
#include "formats/tiff_graphic.h"

namespace lumetra {
namespace {

constexpr int kHeaderSize = 28;

[[noreturn]] void NoPreview() {
  throw EInvalidGraphic("EPS file does not have a preview");
}

}  // namespace

bool TEPSGraphic::IsValidStream(TStream& stream) {
  std::uint8_t b[4];
  const std::int64_t got = stream.Read(b, 4);
  stream.Seek(-got, soCurrent);
  return got == 4 && Le32(b) == kMagic;
}

void TEPSGraphic::LoadImageFromStream(TStream& stream, int) {
  std::uint8_t h[kHeaderSize];
  stream.SetPosition(0);
  if (stream.Read(h, kHeaderSize) != kHeaderSize || Le32(h) != kMagic) NoPreview();
  const std::uint32_t metafileOffset = Le32(h + 12), metafileLength = Le32(h + 16);
  const std::uint32_t tiffOffset = Le32(h + 20), tiffLength = Le32(h + 24);
  std::unique_ptr<TDibGraphic> preview;
  std::uint32_t offset = 0, length = 0;
  if (tiffLength) {
    preview = std::make_unique<TTiffGraphic>();
    offset = tiffOffset, length = tiffLength;
  } else if (metafileLength) {
    // The metafile class draws through the platform; where it is not
    // registered the preview cannot be shown.
    const TGraphicClass* metafile = FindGraphicClass("WMF");
    if (!metafile) NoPreview();
    preview = metafile->Create();
    offset = metafileOffset, length = metafileLength;
  } else {
    NoPreview();
  }
  if (std::int64_t{offset} + length > stream.Size()) NoPreview();
  TMemoryStream bytes;
  stream.SetPosition(offset);
  bytes.CopyFrom(stream, length);
  bytes.SetPosition(0);
  preview->OnReadWriteProgress = OnReadWriteProgress;
  preview->LoadFromStream(bytes);
  Assign(preview.get());
}

}  // namespace lumetra
