// Reading the pages of a TIFF file: the directory walk, and each page's
// header, layout and pixels into the image.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "base/format.h"
#include "formats/codec_limits.h"
#include "formats/tiff_graphic.h"
#include "formats/tiff_page.h"
#include "imaging/row_bytes.h"

namespace lumetra {

using namespace tiff_io;

namespace {

std::uint16_t DpiFromTiff(float value, std::uint16_t unit) {
  long double dpi = value;
  if (unit == RESUNIT_CENTIMETER) dpi *= 2.54L;
  if (!(dpi > 0)) return 0;
  if (dpi > 65535) return 65535;
  return static_cast<std::uint16_t>(std::nearbyint(dpi));
}

// A half turn (rows and pixels in reverse order), in place.
void RotateHalfTurn(TDibGraphic& image) {
  const int width = image.Width(), height = image.Height();
  const int bits = BitsPerPixel(image.ImageFormat());
  const std::size_t stride = image.RowStride();
  std::vector<std::uint8_t> top(stride), bottom(stride);
  for (int y = 0; y < (height + 1) / 2; ++y) {
    const int other = height - 1 - y;
    std::memcpy(top.data(), image.ScanLine(y), stride);
    std::memcpy(bottom.data(), image.ScanLine(other), stride);
    ReverseRow(bottom.data(), image.ScanLine(y), width, bits);
    if (other != y) ReverseRow(top.data(), image.ScanLine(other), width, bits);
  }
}

}  // namespace

TiffPageHeader tiff_io::ReadPageHeader(TIFF* tif, const TiffClient& client) {
  std::uint32_t width = 0, height = 0;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
  std::uint16_t photometric = 0;
  if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric)) photometric = 0;
  std::uint16_t compression = COMPRESSION_NONE;
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  const bool ccitt = compression == COMPRESSION_CCITTRLE || compression == COMPRESSION_CCITTFAX3 ||
                     compression == COMPRESSION_CCITTFAX4 || compression == COMPRESSION_CCITTRLEW;
  std::uint16_t bits = 0;
  if (!TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bits)) {
    if (!ccitt) Fail("Bits per sample not specified");
    bits = 1;
  }
  std::uint16_t planar = PLANARCONFIG_CONTIG, orientation = ORIENTATION_TOPLEFT;
  std::uint16_t unit = RESUNIT_INCH, samplesPerPixel = 1;
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
  TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
  TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samplesPerPixel);
  float xResolution = 0, yResolution = 0;
  if (!TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xResolution)) xResolution = 0;
  if (!TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yResolution)) yResolution = 0;
  std::uint16_t xDpi = 0, yDpi = 0;
  if (unit == RESUNIT_NONE || unit == RESUNIT_INCH || unit == RESUNIT_CENTIMETER) {
    xDpi = DpiFromTiff(xResolution, unit);
    yDpi = DpiFromTiff(yResolution, unit);
  }
  if (width < 1 || height < 1 || width > 0x7FFFFFFF || height > 0x7FFFFFFF)
    Fail(Format("Invalid image size, %u x %u", width, height));

  const std::uint64_t scanlineSize = TIFFScanlineSize64(tif);
  if (scanlineSize == 0) Fail("TIFFScanlineSize: " + client.error);
  // A hostile header may give any scanline size for its width: keep the
  // product in 64 bits (it only has to be compared with 1, 4, 8 and 24).
  const std::int64_t samplesFactor = std::max<std::int64_t>(
      1, static_cast<std::int64_t>(
             std::nearbyint(std::min(static_cast<double>(scanlineSize) / width, 65536.0))));
  const std::int64_t bitsTimesS = bits * samplesFactor;
  const bool tiled = TIFFIsTiled(tif) != 0;
  return {width,           height, photometric, compression, bits,  planar,       orientation,
          samplesPerPixel, xDpi,   yDpi,        ccitt,       tiled, scanlineSize, bitsTimesS};
}

TiffPageLayout tiff_io::ChoosePageLayout(TIFF* tif, const TiffPageHeader& header) {
  const std::uint16_t bits = header.bits, planar = header.planar, compression = header.compression,
                      samplesPerPixel = header.samplesPerPixel;
  const bool ccitt = header.ccitt, tiled = header.tiled;
  const std::int64_t bitsTimesS = header.bitsTimesS;
  std::uint16_t photometric = header.photometric;
  // Tiles in a layout the rows take as they are are copied tile by tile:
  // libtiff 4.5.0's raster refuses uncompressed tiles whose byte counts are
  // not a multiple of 1024, and cannot read CCITT tiles at all.
  bool rgba = compression == COMPRESSION_JPEG || photometric == PHOTOMETRIC_SEPARATED ||
              photometric == PHOTOMETRIC_YCBCR || bits > 8 || planar > 1 ||
              !(bitsTimesS == 1 || bitsTimesS == 4 || bitsTimesS == 8 || bitsTimesS == 24);
  if (ccitt && photometric == PHOTOMETRIC_MINISBLACK) photometric = PHOTOMETRIC_MINISWHITE;

  TImageFormat format = ifTrueColor;
  bool invert = false, sixteen = false;
  if (bits == 1 && (photometric == 0 || photometric == 1)) {
    format = ifBlackWhite;
    invert = photometric == 0;
  } else if (bits == 4 && (photometric == 0 || photometric == 1)) {
    format = ifGray16;
    invert = photometric == 0;
  } else if (bits == 8 && (photometric == 0 || photometric == 1)) {
    format = ifGray256;
    invert = photometric == 0 && !rgba;
  } else if (photometric == PHOTOMETRIC_PALETTE) {
    format = bits <= 4 ? ifColor16 : ifColor256;
    sixteen = bits == 16;
  } else if (bits == 16 && (photometric == 0 || photometric == 1)) {
    format = ifGray256;
    sixteen = true;
    invert = photometric == 0;
  }
  // 16-bit samples are read a scanline at a time, which only works for one
  // contiguous sample in strips; anything else goes through the raster.
  if (sixteen && (samplesPerPixel != 1 || tiled || planar > 1 || compression == COMPRESSION_JPEG))
    sixteen = false;
  if (sixteen || ccitt) rgba = false;
  // Bytes are copied into rows only when their layout is the image's; any
  // other combination of bits and samples is decoded through the raster.
  if (!rgba && !sixteen && !ccitt && bitsTimesS != BitsPerPixel(format)) rgba = true;
  if (ccitt && (bits != 1 || samplesPerPixel != 1)) rgba = true;
  // The raster already honours the photometric interpretation: inverting
  // it again would spoil the page.
  if (rgba) invert = false;

  TLogPalette palette{};
  const TLogPalette* paletteToUse = nullptr;
  if (photometric == PHOTOMETRIC_PALETTE) {
    std::uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
    if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue) || !red || !green || !blue)
      Fail("TIFFGetField: Tag = 320");
    const long entries = bits >= 16 ? 65536L : 1L << bits;
    // A 16-bit table is narrowed to its high bytes: that is exact both for
    // the c * 256 this writer stores and for the c * 257 of other writers
    // (scaling by 255 / 65535 would turn our own 255 into 254).
    bool wide = false;
    for (long i = 0; i < entries && !wide; ++i)
      wide = red[i] >= 256 || green[i] >= 256 || blue[i] >= 256;
    const int count = format == ifColor16 ? 16 : 256;
    palette.palVersion = 0x300;
    palette.palNumEntries = static_cast<std::uint16_t>(count);
    for (long i = 0; i < entries && i < count; ++i) {
      auto scale = [wide](std::uint16_t v) {
        return static_cast<std::uint8_t>(wide ? v >> 8 : v & 0xFF);
      };
      palette.palPalEntry[i] = {scale(red[i]), scale(green[i]), scale(blue[i]), 0};
    }
    paletteToUse = &palette;
  }
  return {format, invert, sixteen, rgba, palette, paletteToUse != nullptr};
}

// One libtiff handle reading a stream, and the offsets of the directories
// found so far: page N is read straight from its offset, so going through
// every page of a document walks its chain once. The walk reads each
// directory without the custom tags; the page that is read gets them when
// its directory holds one (read again only then).
struct TTiffReadState {
  TMemoryStream copy;  // the file when the caller's stream is not at 0
  TiffClient client;
  TiffHandle handle;
  std::vector<std::uint64_t> offsets;
  std::size_t current = 0;  // the directory the handle holds
  bool currentHasTags = false;
  bool ended = false;
  std::string damage;
  // Set by the caller: a page whose rows decode in order is left with its
  // header read, and Rows decodes it row by row.
  bool rowsWanted = false;
  struct Rows : TPageRows {
    TTiffReadState* state = nullptr;
    std::uint32_t next = 0, height = 0;
    int width = 0;
    std::size_t rowBytes = 0;
    bool swap = false, invert = false;
    void ReadRow(std::uint8_t* row) override {
      if (next >= height) Fail("Read past the last row of the page");
      if (TIFFReadScanline(state->handle.get(), row, next++, 0) < 0)
        Fail("TIFFReadScanline: " + state->client.error);
      if (swap) SwapRedBlue(row, row, width);
      if (invert) NegateBytes(row, row, rowBytes);
    }
  } rows;

  explicit TTiffReadState(TStream& stream) {
    client.stream = &stream;
    if (stream.Position() != 0) {
      const std::int64_t rest = stream.Size() - stream.Position();
      if (rest > 0) copy.CopyFrom(stream, rest);
      copy.SetPosition(0);
      client.stream = &copy;
    }
    client.fixedSize = client.stream->Size();
    client.customTags = false;
    handle = OpenTiff(client, "rm");
    offsets.push_back(TIFFCurrentDirOffset(handle.get()));
  }

  // Walks the chain until page Index (1-based) is known or the chain ends.
  bool Reach(std::size_t index) {
    while (offsets.size() < index && !ended) {
      if (current != offsets.size() - 1) Select(offsets.size(), false);
      client.error.clear();
      client.warning.clear();
      client.customTags = false;
      if (TIFFReadDirectory(handle.get())) {
        offsets.push_back(TIFFCurrentDirOffset(handle.get()));
        current = offsets.size() - 1;
        currentHasTags = false;
      } else {
        ended = true;
        damage = client.error.empty() ? client.warning : client.error;
      }
    }
    return offsets.size() >= index;
  }

  // Makes page Index the handle's directory, with the custom tags it holds
  // when Tags is set.
  void Select(std::size_t index, bool tags) {
    client.error.clear();
    const bool wanted = tags && RawTiff(*client.stream).CarriesCustomTags(offsets[index - 1]);
    if (current != index - 1 || (wanted && !currentHasTags)) {
      client.customTags = wanted;
      const bool read = TIFFSetSubDirectory(handle.get(), offsets[index - 1]) != 0;
      client.customTags = false;
      if (!read) Fail(Format("Page %d cannot be read", static_cast<int>(index)), client);
      current = index - 1;
      currentHasTags = wanted;
    }
  }
};

TTiffPageReader::TTiffPageReader(TStream& stream)
    : state_(std::make_unique<TTiffReadState>(stream)) {}

TTiffPageReader::~TTiffPageReader() = default;

int TTiffPageReader::Count() {
  state_->Reach(65535);
  return static_cast<int>(state_->offsets.size());
}

const std::string& TTiffPageReader::Damage() {
  Count();
  return state_->damage;
}

void TTiffPageReader::Select(int index) {
  if (index < 1 || index > 65535 || !state_->Reach(static_cast<std::size_t>(index)))
    Fail(Format("Page %d does not exist", index));
  state_->Select(static_cast<std::size_t>(index), true);
  state_->rows.height = 0;
}

void TTiffPageReader::Read(int index, TTiffGraphic& page) {
  Select(index);
  state_->rowsWanted = false;
  page.ReadDirectory(*state_);
}

TPageRows* TTiffPageReader::ReadRows(int index, TTiffGraphic& page) {
  Select(index);
  state_->rowsWanted = true;
  page.ReadDirectory(*state_);
  return state_->rows.height > 0 ? &state_->rows : nullptr;
}

int TTiffGraphic::GetImageCount(TStream& stream) {
  return TTiffPageReader(stream).Count();
}

void TTiffGraphic::LoadImageFromStream(TStream& stream, int imageIndex) {
  TTiffPageReader(stream).Read(imageIndex, *this);
}

void TTiffGraphic::LoadFrames(TStream& stream, std::int64_t start, int count) {
  stream.SetPosition(start);
  TTiffPageReader reader(stream);
  for (int i = 1; i <= count; ++i) {
    auto frame = CreateNew();  // of this object's class, a TTiffGraphic
    frame->OnReadWriteProgress = OnReadWriteProgress;
    reader.Read(i, static_cast<TTiffGraphic&>(*frame));
    AddFrame(std::move(frame));
  }
}

void TTiffGraphic::ReadDirectory(TTiffReadState& state) {
  Progress progress{this, OnReadWriteProgress};
  progress.Percent(0);
  TiffClient& client = state.client;
  TIFF* tif = state.handle.get();

  const TiffPageHeader header = ReadPageHeader(tif, client);
  const std::uint32_t width = header.width, height = header.height;
  const TiffPageLayout layout = ChoosePageLayout(tif, header);
  const TImageFormat format = layout.format;
  const TLogPalette* paletteToUse = layout.paletted ? &layout.palette : nullptr;

  const std::uint64_t stride = (std::uint64_t{width} * BitsPerPixel(format) + 31) / 32 * 4;
  if (stride * height > kMaxImageBytes ||
      (layout.rgba && std::uint64_t{width} * height * 4 > kMaxImageBytes))
    Fail(Format("Image too large, %u x %u", width, height));
  try {
    NewImage(static_cast<int>(width), static_cast<int>(height), format, paletteToUse, header.xDpi,
             header.yDpi);
  } catch (const EOutOfResources&) {
    // The process cannot hold a page this size (a 32-bit host): the file's fault.
    Fail(Format("Not enough memory for a %u x %u image", width, height));
  }

  struct AsciiTag {
    ttag_t tag;
    std::string TTiffGraphic::*field;
  };
  static const AsciiTag kAsciiTags[] = {
      {TIFFTAG_DOCUMENTNAME, &TTiffGraphic::DocumentName},
      {TIFFTAG_IMAGEDESCRIPTION, &TTiffGraphic::ImageDescription},
      {TIFFTAG_MAKE, &TTiffGraphic::Make},
      {TIFFTAG_MODEL, &TTiffGraphic::Model},
      {TIFFTAG_PAGENAME, &TTiffGraphic::PageName},
      {TIFFTAG_SOFTWARE, &TTiffGraphic::Software},
      {TIFFTAG_DATETIME, &TTiffGraphic::DateTime},
      {TIFFTAG_ARTIST, &TTiffGraphic::Artist},
      {TIFFTAG_HOSTCOMPUTER, &TTiffGraphic::HostComputer},
  };
  for (const AsciiTag& t : kAsciiTags) {
    const char* text = nullptr;
    this->*t.field = TIFFGetField(tif, t.tag, &text) && text ? text : "";
  }
  for (int i = 0; i < kCustomTiffTagCount; ++i) {
    std::uint32_t count = 0;
    const char* text = nullptr;
    customTags_[i].value.clear();
    // libtiff ends the value with a zero byte, which the count includes.
    if (customTags_[i].enabled && TIFFGetField(tif, CustomTiffTagNumbers()[i], &count, &text) &&
        text && count > 0)
      customTags_[i].value.assign(text, count - 1);
  }

  switch (header.compression) {
    case COMPRESSION_NONE:
      SetCompression(tcNone);
      break;
    case COMPRESSION_CCITTRLE:
    case COMPRESSION_CCITTRLEW:
      SetCompression(tcGroup3_1D);
      break;
    case COMPRESSION_CCITTFAX3: {
      std::uint32_t options = 0;
      const bool twoD = TIFFGetField(tif, TIFFTAG_T4OPTIONS, &options) && (options & 1);
      SetCompression(twoD ? tcGroup3_2D : tcGroup3_1D);
      break;
    }
    case COMPRESSION_CCITTFAX4:
      SetCompression(tcGroup4);
      break;
    case COMPRESSION_LZW:
      SetCompression(tcLZW);
      break;
    case COMPRESSION_JPEG:
      SetCompression(tcJPEG);
      break;
    case COMPRESSION_PACKBITS:
      SetCompression(tcPackbits);
      break;
    case COMPRESSION_ADOBE_DEFLATE:
      SetCompression(tcZLib);
      break;
    default:
      Fail(Format("Unsupported compression tag, %d", header.compression));
  }
  std::uint32_t fileRowsPerStrip = 0;
  if (!TIFFGetField(tif, TIFFTAG_ROWSPERSTRIP, &fileRowsPerStrip)) fileRowsPerStrip = 2147483647;
  if (fileRowsPerStrip == 4294967295u) fileRowsPerStrip = height;
  SetRowsPerStrip(fileRowsPerStrip);

  TiffDeferredRows deferred;
  deferred.wanted = state.rowsWanted && header.orientation != ORIENTATION_BOTRIGHT;
  ReadPagePixels(*this, tif, client, progress, header, layout, &deferred);
  if (deferred.deferred) {
    state.rows = {};
    state.rows.state = &state;
    state.rows.height = height;
    state.rows.width = deferred.width;
    state.rows.rowBytes = deferred.rowBytes;
    state.rows.swap = deferred.swap;
    state.rows.invert = deferred.invert;
    return;
  }
  if (header.orientation == ORIENTATION_BOTRIGHT) RotateHalfTurn(*this);
  progress.Percent(100);
}

}  // namespace lumetra
