#include "formats/png_graphic.h"

#include <png.h>

#include <cmath>
#include <cstring>
#include <exception>
#include <vector>

#include "base/format.h"
#include "formats/codec_limits.h"

namespace lumetra {

namespace {

constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

// Everything the libpng adapter shares with its caller. The adapter
// functions below are the only frames libpng may jump across; they hold no
// object with a destructor, and every C++ call they make is noexcept.
struct PngJob {
  TPngGraphic* image;
  TStream* stream;
  char message[256];           // the error to raise, empty on success
  char warning[160];           // the first warning libpng gave
  int warnings;                // how many it gave
  std::exception_ptr failure;  // a C++ error met inside a callback
  std::uint8_t lastPercent;
  // Reading: the header the adapter found, then what Allocate made.
  std::uint32_t width, height;
  int bitDepth, colorType, passes;
  std::uint16_t xDpi, yDpi;
  TImageFormat format;
  TLogPalette palette;
  bool hasPalette;
  // Files whose values are not the image's pixel bytes (2-bit files, 1-bit
  // palettes other than black and white) are read whole and mapped.
  bool unpack;
  bool invertBits;                 // a [white, black] palette
  std::vector<std::uint8_t> rows;
  std::vector<png_bytep> rowPointers;
};

void SetMessage(PngJob& job, const char* text) {
  std::snprintf(job.message, sizeof job.message, "%s", text);
}

void PNGCBAPI ErrorFn(png_structp png, png_const_charp message) {
  auto* job = static_cast<PngJob*>(png_get_error_ptr(png));
  if (job->message[0] == 0) {
    // libpng gives the reason a header is refused as warnings first.
    if (message && std::strcmp(message, "Invalid IHDR data") == 0 && job->warnings)
      std::snprintf(job->message, sizeof job->message, "Invalid IHDR data: %.160s", job->warning);
    else
      SetMessage(*job, message ? message : "PNG error");
  }
  png_longjmp(png, 1);
}

// Warnings are kept, not reported from inside libpng: the image's handler
// hears them once the file is done (a box per warning would stop a batch
// for each).
void PNGCBAPI WarningFn(png_structp png, png_const_charp message) {
  auto* job = static_cast<PngJob*>(png_get_error_ptr(png));
  if (job->warnings++ == 0)
    std::snprintf(job->warning, sizeof job->warning, "%s", message ? message : "");
}

void ReportWarnings(const PngJob& job) noexcept {
  if (job.warnings == 0) return;
  try {
    std::string text = job.warning;
    if (job.warnings > 1) text += Format(" (and %d more warnings)", job.warnings - 1);
    if (job.image->OnWarning) job.image->OnWarning(job.image, text);
  } catch (...) {
  }
}

void PNGCBAPI ReadFn(png_structp png, png_bytep data, png_size_t length) {
  auto* job = static_cast<PngJob*>(png_get_io_ptr(png));
  std::int64_t got = -1;
  try {
    got = job->stream->Read(data, static_cast<std::int64_t>(length));
  } catch (...) {
    job->failure = std::current_exception();
  }
  if (got != static_cast<std::int64_t>(length)) png_error(png, "Read Error: the file is truncated");
}

void PNGCBAPI WriteFn(png_structp png, png_bytep data, png_size_t length) {
  auto* job = static_cast<PngJob*>(png_get_io_ptr(png));
  std::int64_t put = -1;
  try {
    put = job->stream->Write(data, static_cast<std::int64_t>(length));
  } catch (...) {
    job->failure = std::current_exception();
  }
  if (put != static_cast<std::int64_t>(length)) png_error(png, "Write Error");
}

void PNGCBAPI FlushFn(png_structp) {}

void Progress(PngJob& job, long long position, long long end) noexcept {
  try {
    job.lastPercent = ReportProgress(job.image, position, 0, job.lastPercent, end,
                                     job.image->OnReadWriteProgress);
  } catch (...) {
    if (!job.failure) job.failure = std::current_exception();
  }
}

// Refuses a header whose image or whose rows of RowBytes would not fit the
// process's limits; false with the failure kept.
bool SizeAllowed(PngJob& job, std::uint64_t rowBytes) noexcept {
  const std::uint64_t stride = (std::uint64_t{job.width} * BitsPerPixel(job.format) + 31) / 32 * 4;
  if (job.width <= 0x7FFFFFFF && job.height <= 0x7FFFFFFF && stride * job.height <= kMaxImageBytes &&
      rowBytes * job.height <= kMaxImageBytes)
    return true;
  try {
    throw EPNGError(Format("Image too large, %u x %u", job.width, job.height));
  } catch (...) {
    job.failure = std::current_exception();
  }
  return false;
}

// Allocates the image for the header the adapter found; false with the
// failure kept when that is refused.
bool Allocate(PngJob& job, std::size_t rowBytes) noexcept {
  if (!SizeAllowed(job, rowBytes)) return false;
  try {
    const std::uint64_t stride =
        (std::uint64_t{job.width} * BitsPerPixel(job.format) + 31) / 32 * 4;
    if (job.format != ifTrueColor && rowBytes > stride && !job.unpack)
      throw EPNGError("Invalid color type for bit depth");
    try {
      job.image->NewImage(static_cast<int>(job.width), static_cast<int>(job.height), job.format,
                          job.hasPalette ? &job.palette : nullptr, job.xDpi, job.yDpi);
    } catch (const EOutOfResources&) {
      throw EPNGError(Format("Not enough memory for a %u x %u image", job.width, job.height));
    }
    if (job.unpack) {
      job.rows.resize(rowBytes * job.height);
      job.rowPointers.resize(job.height);
      for (std::uint32_t y = 0; y < job.height; ++y)
        job.rowPointers[y] = job.rows.data() + rowBytes * y;
    }
    return true;
  } catch (...) {
    job.failure = std::current_exception();
    return false;
  }
}

// The reading adapter: 0 on success, else job.message or job.failure says why.
int ReadPng(PngJob* job) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, job, &ErrorFn, &WarningFn);
  if (!png) {
    SetMessage(*job, "png_create_read_struct failed");
    return 1;
  }
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    SetMessage(*job, "png_create_info_struct failed");
    return 1;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return 1;
  }
  TPngGraphic& image = *job->image;
  png_set_read_fn(png, job, &ReadFn);
  png_set_sig_bytes(png, 8);
  // libpng allocates its row buffers from the header alone: a row may not
  // be wider than the largest working buffer, nor a chunk larger.
  png_set_user_limits(png, static_cast<png_uint_32>(kMaxPngRowPixels), 0x7FFFFFFF);
  png_set_chunk_malloc_max(png, 16u << 20);
  // libpng only warns about an ancillary chunk over that size and then
  // allocates whatever its length claims (a 300-byte file asking for 2 GB).
  // The chunks that are read into a buffer of their length carry nothing we
  // use, so they are skipped unread.
  static const png_byte kSkipped[] = "sPLT\0pCAL\0sCAL\0tEXt\0zTXt\0iTXt\0eXIf\0";
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, kSkipped, 7);
  png_read_info(png, info);
  png_uint_32 width = 0, height = 0;
  int bitDepth = 0, colorType = 0, interlace = 0;
  png_get_IHDR(png, info, &width, &height, &bitDepth, &colorType, &interlace, nullptr, nullptr);
  job->width = width;
  job->height = height;
  job->bitDepth = bitDepth;
  job->colorType = colorType;

  const char* bad = nullptr;
  switch (bitDepth) {
    case 1:
      if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_PALETTE)
        job->format = ifBlackWhite;
      else
        bad = "Invalid color type for bit depth";
      break;
    case 2:
    case 4:
      if (colorType == PNG_COLOR_TYPE_GRAY)
        job->format = ifGray16;
      else if (colorType == PNG_COLOR_TYPE_PALETTE)
        job->format = ifColor16;
      else
        bad = "Invalid color type for bit depth";
      break;
    case 16:
      png_set_strip_16(png);
      png_set_swap(png);
      [[fallthrough]];
    case 8:
      if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA)
        job->format = ifGray256;
      else if (colorType == PNG_COLOR_TYPE_RGB || colorType == PNG_COLOR_TYPE_RGB_ALPHA)
        job->format = ifTrueColor;
      else if (colorType == PNG_COLOR_TYPE_PALETTE && bitDepth == 8)
        job->format = ifColor256;
      else
        bad = "Invalid color type for bit depth";
      break;
    default:
      bad = "Invalid bit depth";
  }
  if (bad) {
    SetMessage(*job, bad);
    png_destroy_read_struct(&png, &info, nullptr);
    return 1;
  }
  if (job->format == ifTrueColor) png_set_bgr(png);

  int intent = 0;
  if (png_get_sRGB(png, info, &intent)) {
    image.SrgbIntent = intent;
  } else if (bitDepth > 2) {
    double fileGamma = 0;
    if (png_get_gAMA(png, info, &fileGamma) && fileGamma != 0) {
      image.Gamma = fileGamma;
    } else {
      image.Gamma = 0.5;
    }
    png_set_gamma(png, kScreenGamma, image.Gamma);
  }

  image.HasBackground = false;
  png_color_16p fileBackground = nullptr;
  png_color_16 own{};
  own.red = image.BackgroundColor.red;
  own.green = image.BackgroundColor.green;
  own.blue = image.BackgroundColor.blue;
  own.gray = image.BackgroundColor.green;
  if (png_get_bKGD(png, info, &fileBackground) && fileBackground) {
    const int shift = bitDepth == 16 ? 8 : 0;
    image.BackgroundColor = {static_cast<std::uint8_t>(fileBackground->red >> shift),
                             static_cast<std::uint8_t>(fileBackground->green >> shift),
                             static_cast<std::uint8_t>(fileBackground->blue >> shift)};
    image.HasBackground = true;
    if (image.UseOwnBackground)
      png_set_background(png, &own, PNG_BACKGROUND_GAMMA_SCREEN, 0, 1.0);
    else
      png_set_background(png, fileBackground, PNG_BACKGROUND_GAMMA_FILE, 1, 1.0);
  } else {
    png_set_background(png, &own, PNG_BACKGROUND_GAMMA_SCREEN, 0, 1.0);
  }

  // Transparency is what a tRNS chunk says; a background colour is not.
  png_bytep trnsAlpha = nullptr;
  int trnsCount = 0;
  png_color_16p trnsColour = nullptr;
  image.HasTrns = png_get_tRNS(png, info, &trnsAlpha, &trnsCount, &trnsColour) != 0;
  if (image.HasTrns && colorType == PNG_COLOR_TYPE_PALETTE && trnsAlpha) {
    png_colorp entries = nullptr;
    int count = 0;
    if (png_get_PLTE(png, info, &entries, &count))
      for (int i = 0; i < trnsCount && i < count; ++i)
        if (trnsAlpha[i] == 0) {
          image.TrnsColor = {entries[i].red, entries[i].green, entries[i].blue};
          break;
        }
  } else if (image.HasTrns && trnsColour) {
    const int shift = bitDepth == 16 ? 8 : 0;
    if (colorType == PNG_COLOR_TYPE_GRAY) {
      const int scale = bitDepth < 8 ? 255 / ((1 << bitDepth) - 1) : 1;
      const auto grey = static_cast<std::uint8_t>((trnsColour->gray >> shift) * scale);
      image.TrnsColor = {grey, grey, grey};
    } else {
      image.TrnsColor = {static_cast<std::uint8_t>(trnsColour->red >> shift),
                         static_cast<std::uint8_t>(trnsColour->green >> shift),
                         static_cast<std::uint8_t>(trnsColour->blue >> shift)};
    }
  }

  png_uint_32 xPpm = 0, yPpm = 0;
  int unit = 0;
  std::uint16_t xDpi = 0, yDpi = 0;
  if (png_get_pHYs(png, info, &xPpm, &yPpm, &unit) && unit == PNG_RESOLUTION_METER) {
    xDpi = static_cast<std::uint16_t>(std::min(65535.0, std::nearbyint(xPpm * 0.0254)));
    yDpi = static_cast<std::uint16_t>(std::min(65535.0, std::nearbyint(yPpm * 0.0254)));
  }
  if (interlace == PNG_INTERLACE_NONE) {
    job->passes = 1;
  } else if (interlace == PNG_INTERLACE_ADAM7) {
    job->passes = png_set_interlace_handling(png);
  } else {
    SetMessage(*job, "Interlace type not valid");
    png_destroy_read_struct(&png, &info, nullptr);
    return 1;
  }
  // The file's own rows (up to 64 bits a pixel) and the image they become
  // must fit before libpng sizes its buffers for them.
  const int fileChannels = png_get_channels(png, info);
  if (!SizeAllowed(*job, (std::uint64_t{width} * fileChannels * bitDepth + 7) / 8)) {
    png_destroy_read_struct(&png, &info, nullptr);
    return 1;
  }
  png_read_update_info(png, info);
  // After the transformations the rows must be what the image format holds.
  const int channels = png_get_channels(png, info);
  const int outDepth = png_get_bit_depth(png, info);
  const bool shapeOk = job->format == ifTrueColor
                           ? channels == 3 && outDepth == 8
                           : channels == 1 && outDepth == (bitDepth == 16 ? 8 : bitDepth);
  if (!shapeOk) {
    SetMessage(*job, "Invalid color type for bit depth");
    png_destroy_read_struct(&png, &info, nullptr);
    return 1;
  }
  job->hasPalette = false;
  if (colorType == PNG_COLOR_TYPE_PALETTE) {
    png_colorp entries = nullptr;
    int count = 0;
    if (!png_get_PLTE(png, info, &entries, &count) || !entries) {
      SetMessage(*job, "png_get_PLTE failed");
      png_destroy_read_struct(&png, &info, nullptr);
      return 1;
    }
    // A 1-bit palette other than black and white keeps its colours.
    if (bitDepth == 1) {
      auto is = [&](int i, int v) {
        return entries[i].red == v && entries[i].green == v && entries[i].blue == v;
      };
      const bool blackWhite = count == 2 && is(0, 0) && is(1, 255);
      job->invertBits = count == 2 && is(0, 255) && is(1, 0);
      job->unpack = !blackWhite;
      if (!blackWhite && !job->invertBits) job->format = ifColor16;
    }
    const int limit = PaletteEntryCount(job->format);
    if (count > limit) count = limit;
    std::memset(&job->palette, 0, sizeof job->palette);
    job->palette.palVersion = 0x300;
    job->palette.palNumEntries = static_cast<std::uint16_t>(count);
    for (int i = 0; i < count; ++i)
      job->palette.palPalEntry[i] = {entries[i].red, entries[i].green, entries[i].blue, 0};
    job->hasPalette = count > 0 && job->format != ifBlackWhite;
  }
  if (bitDepth == 2) job->unpack = true;
  job->xDpi = xDpi;
  job->yDpi = yDpi;
  const std::size_t rowBytes = png_get_rowbytes(png, info);
  if (!Allocate(*job, rowBytes)) {
    png_destroy_read_struct(&png, &info, nullptr);
    return 1;
  }

  const int h = static_cast<int>(height), w = static_cast<int>(width);
  if (job->unpack) {
    png_read_image(png, job->rowPointers.data());
    const int grey = colorType == PNG_COLOR_TYPE_GRAY ? 5 : 1;
    const int perByte = 8 / bitDepth, mask = (1 << bitDepth) - 1;
    const int invert = job->invertBits ? 1 : 0;
    for (int y = 0; y < h; ++y) {
      const png_bytep source = job->rowPointers[y];
      for (int x = 0; x < w; ++x) {
        const int shift = 8 - bitDepth * (x % perByte + 1);
        const int value = (source[x / perByte] >> shift) & mask;
        image.SetPixelIndex(x, y, (value ^ invert) * grey);
      }
      Progress(*job, y + 1, h);
    }
  } else {
    const long long total = static_cast<long long>(h) * job->passes;
    long long done = 0;
    for (int pass = 0; pass < job->passes; ++pass)
      for (int y = 0; y < h; ++y) {
        png_read_row(png, image.ScanLine(y), nullptr);
        Progress(*job, ++done, total);
      }
  }
  png_destroy_read_struct(&png, &info, nullptr);
  return 0;
}

// The writing adapter: 0 on success.
int WritePng(PngJob* job) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, job, &ErrorFn, &WarningFn);
  if (!png) {
    SetMessage(*job, "png_create_write_struct failed");
    return 1;
  }
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    SetMessage(*job, "png_create_info_struct failed");
    return 1;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return 1;
  }
  TPngGraphic& image = *job->image;
  const TImageFormat format = image.ImageFormat();
  png_set_write_fn(png, job, &WriteFn, &FlushFn);
  static const int kDepth[] = {1, 4, 8, 4, 8, 8};
  static const int kColorType[] = {PNG_COLOR_TYPE_GRAY,    PNG_COLOR_TYPE_GRAY,
                                   PNG_COLOR_TYPE_GRAY,    PNG_COLOR_TYPE_PALETTE,
                                   PNG_COLOR_TYPE_PALETTE, PNG_COLOR_TYPE_RGB};
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.Width()),
               static_cast<png_uint_32>(image.Height()), kDepth[format], kColorType[format],
               image.Interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  const TLogPalette* palette = image.LogPalette();
  int paletteCount = palette->palNumEntries;
  if (paletteCount > (1 << kDepth[format])) paletteCount = 1 << kDepth[format];
  png_color entries[256];
  if (kColorType[format] == PNG_COLOR_TYPE_PALETTE) {
    for (int i = 0; i < paletteCount; ++i)
      entries[i] = {palette->palPalEntry[i].peRed, palette->palPalEntry[i].peGreen,
                    palette->palPalEntry[i].peBlue};
    png_set_PLTE(png, info, entries, paletteCount);
  }
  png_set_pHYs(png, info, static_cast<png_uint_32>(std::nearbyint(image.XDpi() / 0.0254)),
               static_cast<png_uint_32>(std::nearbyint(image.YDpi() / 0.0254)),
               PNG_RESOLUTION_METER);
  png_set_gAMA(png, info, image.Gamma);
  auto nearest = [&image](const TPngColor& c) -> png_byte {
    const std::uint32_t colour = (std::uint32_t{c.red} << 16) | (c.green << 8) | c.blue;
    return image.Converter() ? static_cast<png_byte>(image.Converter()->FindNearestColor(colour))
                             : 0;
  };
  if (image.HasBackground) {
    png_color_16 background{};
    if (format == ifTrueColor) {
      background.red = image.BackgroundColor.red;
      background.green = image.BackgroundColor.green;
      background.blue = image.BackgroundColor.blue;
    } else if (kColorType[format] == PNG_COLOR_TYPE_PALETTE) {
      background.index = nearest(image.BackgroundColor);
    } else {
      background.gray = nearest(image.BackgroundColor);
    }
    png_set_bKGD(png, info, &background);
  }
  png_byte alpha[256];
  if (image.HasTrns) {
    if (format == ifTrueColor) {
      png_color_16 colour{};
      colour.red = image.TrnsColor.red;
      colour.green = image.TrnsColor.green;
      colour.blue = image.TrnsColor.blue;
      png_set_tRNS(png, info, nullptr, 0, &colour);
    } else {
      std::memset(alpha, 255, sizeof alpha);
      alpha[nearest(image.TrnsColor)] = 0;
      png_set_tRNS(png, info, alpha, paletteCount, nullptr);
    }
  }
  static const int kLevels[] = {1, 5, 9};
  const int level = image.CompressionLevel < 0   ? 0
                    : image.CompressionLevel > 2 ? 2
                                                 : image.CompressionLevel;
  png_set_compression_level(png, kLevels[level]);
  png_write_info(png, info);
  if (format == ifTrueColor) png_set_bgr(png);
  const int passes = image.Interlaced ? png_set_interlace_handling(png) : 1;
  const int h = image.Height();
  const long long total = static_cast<long long>(h) * passes;
  long long done = 0;
  for (int pass = 0; pass < passes; ++pass)
    for (int y = 0; y < h; ++y) {
      png_write_row(png, image.ScanLine(y));
      Progress(*job, ++done, total);
    }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return 0;
}

void Raise(PngJob& job) {
  if (job.failure) std::rethrow_exception(job.failure);
  throw EPNGError(job.message[0] ? job.message : "PNG error");
}

}  // namespace

void TPngGraphic::Assign(const TGraphic* source) {
  TDibGraphic::Assign(source);
  if (const auto* png = dynamic_cast<const TPngGraphic*>(source)) {
    Gamma = png->Gamma;
    BackgroundColor = png->BackgroundColor;
    UseOwnBackground = png->UseOwnBackground;
    CompressionLevel = png->CompressionLevel;
    Interlaced = png->Interlaced;
    HasBackground = png->HasBackground;
    HasTrns = png->HasTrns;
    TrnsColor = png->TrnsColor;
  }
}

bool TPngGraphic::IsValidStream(TStream& stream) {
  std::uint8_t b[8] = {};
  const std::int64_t n = stream.Read(b, 8);
  if (n > 0) stream.Seek(-n, soCurrent);
  return n == 8 && std::memcmp(b, kSignature, 8) == 0;
}

void TPngGraphic::LoadImageFromStream(TStream& stream, int) {
  std::uint8_t signature[8] = {};
  if (stream.Read(signature, 8) != 8 || std::memcmp(signature, kSignature, 8) != 0)
    throw EPNGError("PNG file is not valid or corrupted");
  PngJob job{};
  job.image = this;
  job.stream = &stream;
  job.lastPercent = 255;
  Progress(job, 0, 1);
  const int result = ReadPng(&job);
  ReportWarnings(job);
  if (result != 0) Raise(job);
  if (job.failure) std::rethrow_exception(job.failure);
  Progress(job, 1, 1);
}

void TPngGraphic::SaveToStream(TStream& stream) {
  if (Empty()) throw ELumetraError("Graphic is empty");
  if (HasTrns &&
      (ImageFormat() == ifBlackWhite || ImageFormat() == ifGray16 || ImageFormat() == ifGray256))
    throw EPNGError(
        "Gray scale transparent PNG images are not supported.\rUse the ifColor16 or ifColor256 "
        "image format instead.");
  PngJob job{};
  job.image = this;
  job.stream = &stream;
  job.lastPercent = 255;
  Progress(job, 0, 1);
  const int result = WritePng(&job);
  ReportWarnings(job);
  if (result != 0) Raise(job);
  if (job.failure) std::rethrow_exception(job.failure);
  Progress(job, 1, 1);
}

}  // namespace lumetra
