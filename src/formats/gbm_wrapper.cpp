#include "formats/gbm_wrapper.h"

#include "formats/gbm/gbm.h"
#include "imaging/row_bytes.h"

namespace lumetra {
namespace {

using namespace gbm;

// The layer is started with the library and stopped with it.
struct GbmModule {
  GbmModule() { gbm_init(); }
  ~GbmModule() { gbm_deinit(); }
};
const GbmModule kModule;

int FileType(const std::string& fileName) {
  int type = 0;
  if (gbm_guess_filetype(fileName, type) != GBM_ERR_OK)
    throw EGbmError("gbm_guess_filetype failed.");
  return type;
}

TImageFormat FormatOfBits(int bpp) {
  switch (bpp) {
    case 1:
      return ifBlackWhite;
    case 4:
      return ifColor16;
    case 8:
      return ifColor256;
    case 24:
      return ifTrueColor;
  }
  throw EGbmError("Internal error: Invalid image format");
}

int BitsOfFormat(TImageFormat format) {
  switch (format) {
    case ifBlackWhite:
      return 1;
    case ifGray16:
    case ifColor16:
      return 4;
    case ifGray256:
    case ifColor256:
      return 8;
    case ifTrueColor:
      return 24;
  }
  throw EGbmError("Internal error: Invalid image format");
}

}  // namespace

void ReadWithGbm(TStream& stream, TDibGraphic& image, const std::string& fileName,
                 const std::string& options) {
  std::uint8_t lastPercent = ReportProgress(&image, 0, 0, 255, 100, image.OnReadWriteProgress);
  const int type = FileType(fileName);
  GbmHeader header;
  if (gbm_read_header(stream, type, options, header) != GBM_ERR_OK)
    throw EGbmError("gbm_read_header failed.");
  const TImageFormat format = FormatOfBits(header.bpp);

  TLogPalette palette{};
  palette.palVersion = 0x300;
  bool invert = false;
  if (header.bpp <= 8) {
    GbmRgb entries[256];
    if (gbm_read_palette(stream, type, header, entries) != GBM_ERR_OK)
      throw EGbmError("gbm_read_header failed.");
    // Black-and-white images keep black first; a file that has it the other
    // way round is read with its bits inverted, which shows the same picture.
    if (header.bpp == 1 && entries[1].r == 0 && entries[1].g == 0 && entries[1].b == 0) {
      invert = true;
      entries[0] = {0, 0, 0};
      entries[1] = {255, 255, 255};
    }
    palette.palNumEntries = static_cast<std::uint16_t>(1 << header.bpp);
    for (int i = 0; i < palette.palNumEntries; ++i)
      palette.palPalEntry[i] = {entries[i].r, entries[i].g, entries[i].b, 0};
  }
  image.NewImage(header.w, header.h, format, header.bpp <= 8 ? &palette : nullptr, 0, 0);

  const GbmProgress progress = [&](int done, int rows) {
    lastPercent = ReportProgress(&image, done, 0, lastPercent, rows, image.OnReadWriteProgress);
  };
  if (gbm_read_data(stream, type, header, image.PixelMemory(), progress) != GBM_ERR_OK)
    throw EGbmError("gbm_read_data failed.");
  if (invert) NegateBytes(image.PixelMemory(), image.ImageSize());
  ReportProgress(&image, 100, 0, lastPercent, 100, image.OnReadWriteProgress);
}

void WriteWithGbm(TStream& stream, const TDibGraphic& image, const std::string& fileName) {
  const int type = FileType(fileName);
  GbmHeader header;
  header.w = image.Width();
  header.h = image.Height();
  header.bpp = BitsOfFormat(image.ImageFormat());
  GbmRgb entries[256];
  const TLogPalette* palette = image.LogPalette();
  if (header.bpp <= 8)
    for (int i = 0; i < palette->palNumEntries && i < 256; ++i) {
      const TPaletteEntry& e = palette->palPalEntry[i];
      entries[i] = {e.peRed, e.peGreen, e.peBlue};
    }
  if (image.Empty() ||
      gbm_write(stream, type, header, entries, image.PixelMemory(), "") != GBM_ERR_OK)
    throw EGbmError("gbm_write failed.");
}

}  // namespace lumetra
