#include "formats/tiff_graphic.h"

#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <vector>

#include "base/format.h"
#include "formats/registry.h"
#include "formats/tiff_client.h"
#include "imaging/row_bytes.h"

namespace lumetra {

using namespace tiff_io;

namespace {

// --- compression tables -----------------------------------------------------------

struct CompressionInfo {
  const char* name;
  std::uint16_t tiffCode;
  std::uint8_t allowedFormats;  // bit per TImageFormat
};
constexpr std::uint8_t kBW = 1 << ifBlackWhite, kG16 = 1 << ifGray16, kG256 = 1 << ifGray256,
                       kC16 = 1 << ifColor16, kC256 = 1 << ifColor256, kTC = 1 << ifTrueColor;
constexpr std::uint8_t kAll = kBW | kG16 | kG256 | kC16 | kC256 | kTC;
constexpr CompressionInfo kCompressions[] = {
    {"None", COMPRESSION_NONE, kAll},
    {"Packbits", COMPRESSION_PACKBITS, kAll},
    {"CCITT Group 3, 1D", COMPRESSION_CCITTFAX3, kBW},
    {"CCITT Group 3, 2D", COMPRESSION_CCITTFAX3, kBW},
    {"CCITT Group 4", COMPRESSION_CCITTFAX4, kBW},
    {"ZLib", COMPRESSION_ADOBE_DEFLATE, kAll},
    {"JPEG", COMPRESSION_JPEG, kG256 | kTC},
    {"LZW", COMPRESSION_LZW, kAll},
};

bool IsCcitt(TTiffCompression c) {
  return c == tcGroup3_1D || c == tcGroup3_2D || c == tcGroup4;
}

// Field setters of the writer; each names the rejected tag.
void SetIntField(TIFF* tif, ttag_t tag, std::uint32_t value) {
  if (!TIFFSetField(tif, tag, value)) Fail(Format("TIFFSetIntField: Tag = %u", tag));
}
void SetFloatField(TIFF* tif, ttag_t tag, float value) {
  if (!TIFFSetField(tif, tag, static_cast<double>(value)))
    Fail(Format("TIFFSetFloatField: Tag = %u", tag));
}
void SetStringField(TIFF* tif, ttag_t tag, const std::string& value) {
  if (!TIFFSetField(tif, tag, value.c_str())) Fail(Format("TIFFSetField: Tag = %u", tag));
}

// Encoded bytes gathered before each write to the file.
constexpr tmsize_t kWriteBuffer = 256 * 1024;
std::string DateTimeNow() {
  const std::tm local = LocalTimeNow();
  return FormatDateWith("yyyy:mm:dd", local) + " " + FormatTimeWith("hh:nn:ss", local);
}

}  // namespace

std::string TiffCompressionName(int compression) {
  if (compression < 0 || compression > tcLZW) return {};
  return kCompressions[compression].name;
}

bool IsCompressionAllowed(TTiffCompression compression, TImageFormat imageFormat) {
  if (compression > tcLZW || imageFormat > ifTrueColor) return false;
  return (kCompressions[compression].allowedFormats >> imageFormat) & 1;
}

// --- TTiffGraphic -------------------------------------------------------------------

TTiffGraphic::TTiffGraphic() {
  customTags_[0].enabled = true;
}

void TTiffGraphic::SetCompression(TTiffCompression value) {
  if (!IsCompressionAllowed(value, ImageFormat()))
    throw ELumetraError(Format("%s compression not supported with %s images",
                               TiffCompressionName(value), ImageFormatName(ImageFormat())));
  compression_ = value;
}

void TTiffGraphic::SetRowsPerStrip(std::int64_t value) {
  if (value < 1) value = 1;
  if (value > 2147483647) value = 2147483647;
  rowsPerStrip_ = static_cast<std::int32_t>(value);
}

// A new image's compression: the one every reader of its format has.
static TTiffCompression DefaultCompression(TImageFormat format) {
  return format == ifBlackWhite ? tcGroup4 : tcPackbits;
}

void TTiffGraphic::NewImage(int width, int height, TImageFormat imageFormat,
                            const TLogPalette* palette, std::uint16_t xDpi, std::uint16_t yDpi) {
  TDibGraphic::NewImage(width, height, imageFormat, palette, xDpi, yDpi);
  compression_ = DefaultCompression(imageFormat);
}

void TTiffGraphic::TakeImageFrom(TDibGraphic& source) {
  TDibGraphic::TakeImageFrom(source);
  if (!Empty()) compression_ = DefaultCompression(ImageFormat());
}

void TTiffGraphic::Assign(const TGraphic* source) {
  TDibGraphic::Assign(source);
  if (const auto* tiff = dynamic_cast<const TTiffGraphic*>(source))
    rowsPerStrip_ = tiff->rowsPerStrip_;
}

bool TTiffGraphic::IsValidStream(TStream& stream) {
  std::uint8_t b[4] = {};
  const std::int64_t n = stream.Read(b, 4);
  if (n > 0) stream.Seek(-n, soCurrent);
  if (n != 4) return false;
  return (b[0] == 'I' && b[1] == 'I' && b[2] == 42 && b[3] == 0) ||
         (b[0] == 'M' && b[1] == 'M' && b[2] == 0 && b[3] == 42);
}
void TTiffGraphic::SaveToStream(TStream& stream) {
  WriteAtOffsetZero(stream, [&](TStream& s) { WritePage(s, "w"); });
}

void TTiffGraphic::AppendToStream(TStream& stream) {
  const std::int64_t originalSize = stream.Size();
  if (originalSize == 0) {
    SaveToStream(stream);
    return;
  }
  try {
    const ChainEnd end = RepairChainEnd(stream);
    stream.SetPosition(0);
    WritePage(stream, "a", end.linkOffset);
  } catch (...) {
    // Everything of the new page went past the old end of the file and its
    // link was not written: cutting the file back restores it as it was.
    try {
      stream.SetSize(originalSize);
    } catch (...) {
    }
    throw;
  }
}

void TTiffGraphic::WritePage(TStream& stream, const char* mode, std::int64_t linkOffset) {
  if (Empty()) throw ELumetraError("Graphic is empty");
  const TImageFormat format = ImageFormat();
  if (!IsCompressionAllowed(compression_, format))
    throw ELumetraError(Format("%s compression not supported with %s images",
                               TiffCompressionName(compression_), ImageFormatName(format)));
  Progress progress{this, OnReadWriteProgress};
  progress.Percent(0);
  TiffClient client;
  client.stream = &stream;
  client.linkOffset = linkOffset;
  TiffHandle owner = OpenTiff(client, mode);
  TIFF* tif = owner.get();

  if (compression_ == tcGroup3_1D || compression_ == tcGroup3_2D) {
    SetIntField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
    SetIntField(tif, TIFFTAG_GROUP3OPTIONS, compression_ == tcGroup3_1D ? 4 : 5);
  }
  if (compression_ == tcJPEG)
    SetIntField(tif, TIFFTAG_ROWSPERSTRIP, 8);
  else if (rowsPerStrip_ > 0)
    SetIntField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<std::uint32_t>(rowsPerStrip_));
  SetIntField(tif, TIFFTAG_COMPRESSION, kCompressions[compression_].tiffCode);
  if (compression_ == tcJPEG) SetIntField(tif, TIFFTAG_JPEGQUALITY, jpegQuality_);
  SetIntField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);

  const std::pair<ttag_t, const std::string*> asciiTags[] = {
      {TIFFTAG_DOCUMENTNAME, &DocumentName},
      {TIFFTAG_IMAGEDESCRIPTION, &ImageDescription},
      {TIFFTAG_MAKE, &Make},
      {TIFFTAG_MODEL, &Model},
      {TIFFTAG_PAGENAME, &PageName},
      {TIFFTAG_SOFTWARE, &Software},
      {TIFFTAG_DATETIME, &DateTime},
      {TIFFTAG_ARTIST, &Artist},
      {TIFFTAG_HOSTCOMPUTER, &HostComputer},
  };
  for (const auto& [tag, value] : asciiTags)
    if (!value->empty()) SetStringField(tif, tag, *value);
  if (Software.empty()) SetStringField(tif, TIFFTAG_SOFTWARE, "quorv");
  if (DateTime.empty()) SetStringField(tif, TIFFTAG_DATETIME, DateTimeNow());
  SetIntField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  SetFloatField(tif, TIFFTAG_XRESOLUTION, XDpi());
  SetFloatField(tif, TIFFTAG_YRESOLUTION, YDpi());
  SetIntField(tif, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(Width()));
  SetIntField(tif, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(Height()));

  struct Layout {
    std::uint16_t bits, samples, photometric;
  };
  static const Layout kLayouts[] = {
      {1, 1, PHOTOMETRIC_MINISBLACK}, {4, 1, PHOTOMETRIC_MINISBLACK},
      {8, 1, PHOTOMETRIC_MINISBLACK}, {4, 1, PHOTOMETRIC_PALETTE},
      {8, 1, PHOTOMETRIC_PALETTE},    {8, 3, PHOTOMETRIC_RGB},
  };
  Layout layout = kLayouts[format];
  const bool ccitt = IsCcitt(compression_);
  if (format == ifBlackWhite && ccitt) layout.photometric = PHOTOMETRIC_MINISWHITE;
  SetIntField(tif, TIFFTAG_BITSPERSAMPLE, layout.bits);
  SetIntField(tif, TIFFTAG_SAMPLESPERPIXEL, layout.samples);
  SetIntField(tif, TIFFTAG_PHOTOMETRIC, layout.photometric);
  if (layout.photometric == PHOTOMETRIC_PALETTE) {
    std::vector<std::uint16_t> red(256), green(256), blue(256);
    const TLogPalette* palette = LogPalette();
    for (int i = 0; i < palette->palNumEntries && i < (1 << layout.bits); ++i) {
      red[i] = static_cast<std::uint16_t>(palette->palPalEntry[i].peRed * 256);
      green[i] = static_cast<std::uint16_t>(palette->palPalEntry[i].peGreen * 256);
      blue[i] = static_cast<std::uint16_t>(palette->palPalEntry[i].peBlue * 256);
    }
    if (!TIFFSetField(tif, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data()))
      Fail("TIFFSetColormap");
  }
  SetIntField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
  SetIntField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
  // Bits from the most significant down: TIFF keeps the other order for
  // 1-bit data alone, and readers that honour only this one would show any
  // other page as noise.
  SetIntField(tif, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
  // The viewer keeps a page's annotations in the custom tags: write the
  // enabled ones that hold text, or a saved page would lose its marks.
  for (int i = 0; i < kCustomTiffTagCount; ++i)
    if (customTags_[i].enabled && !customTags_[i].value.empty()) {
      const std::string& value = customTags_[i].value;
      if (value.size() >= 0x7FFFFFFFu ||
          !TIFFSetField(tif, CustomTiffTagNumbers()[i],
                        static_cast<std::uint32_t>(value.size() + 1), value.c_str()))
        Fail(Format("TIFFSetField: Tag = %u", CustomTiffTagNumbers()[i]));
    }

  // libtiff would gather the encoded page in a buffer of the whole strip
  // (the page, uncompressed) and write it at the end; a small one is written
  // out whenever it fills, onto the end of the same strip.
  if (!TIFFWriteBufferSetup(tif, nullptr, kWriteBuffer))
    Fail("TIFFWriteBufferSetup: " + client.error);
  const int h = Height();
  const std::size_t rowBytes = TIFFScanlineSize(tif) > 0 ? TIFFScanlineSize(tif) : RowStride();
  std::vector<std::uint8_t> buffer, incoming;
  if ((format == ifBlackWhite && ccitt) || format == ifTrueColor)
    buffer.resize(std::max<std::size_t>(rowBytes, RowStride()));
  if (rowSource_) incoming.resize(std::max<std::size_t>(rowBytes, RowStride()));
  for (int y = 0; y < h; ++y) {
    std::uint8_t* row = ScanLine(y);
    if (rowSource_) {
      rowSource_->ReadRow(incoming.data());
      row = incoming.data();
    }
    if (format == ifBlackWhite && ccitt) {
      NegateBytes(row, buffer.data(), buffer.size());
      row = buffer.data();
    } else if (format == ifTrueColor) {
      SwapRedBlue(row, buffer.data(), Width());
      row = buffer.data();
    }
    if (TIFFWriteScanline(tif, row, static_cast<std::uint32_t>(y), 0) < 0)
      Fail("TIFFWriteScanLine", client);
    progress.Report(y + 1, h);
  }
  if (!TIFFWriteDirectory(tif)) Fail("TIFFWriteDirectory", client);
  owner.reset();
  // libtiff links a new directory before it writes it; the link was held
  // back, so an append cut short at any write leaves the pages before it
  // intact, and one write makes the new page part of the document.
  if (linkOffset >= 0) {
    if (client.link.empty()) Fail("TIFFWriteDirectory: the new directory was not linked");
    stream.SetPosition(linkOffset);
    stream.WriteBuffer(client.link.data(), static_cast<std::int64_t>(client.link.size()));
  }
  progress.Percent(100);
}

}  // namespace lumetra
