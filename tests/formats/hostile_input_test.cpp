// Damaged files: every reader must fail with its own exception class, or
// load what it can, and never crash, hang or leak.
#include <zlib.h>
#ifdef __linux__
#include <sys/resource.h>
#endif

#include <cstring>

#include <string>
#include <vector>

#include "formats/bmp_graphic.h"
#include "formats/codec_limits.h"
#include "support/format_images.h"
#include "formats/gbm_wrapper.h"
#include "formats/jpeg_graphic.h"
#include "formats/pcx_graphic.h"
#include "formats/png_graphic.h"
#include "formats/ppm_graphic.h"
#include "formats/registry.h"
#include "formats/tga_graphic.h"
#include "formats/tiff_graphic.h"

namespace lumetra {
namespace {

using testing::MakePatterned;

struct Sample {
  const char* name;
  std::vector<std::uint8_t> (*make)();
};

template <class T>
std::vector<std::uint8_t> Bytes(T& image) {
  TMemoryStream s;
  image.SaveToStream(s);
  return {s.Memory(), s.Memory() + s.Size()};
}

std::vector<std::uint8_t> TiffWith(TImageFormat format, TTiffCompression c, int rowsPerStrip) {
  auto image = MakePatterned<TTiffGraphic>(format, 120, 90);
  image->SetCompression(c);
  image->SetRowsPerStrip(rowsPerStrip);
  TMemoryStream s;
  image->SaveToStream(s);
  image->AppendToStream(s);  // two pages: truncation also cuts directories
  return {s.Memory(), s.Memory() + s.Size()};
}

// An 8-bit bitmap in RLE8: runs of two pixels, an end-of-line per row.
std::vector<std::uint8_t> Rle8Bitmap() {
  auto image = MakePatterned<TBitmapGraphic>(ifColor256, 40, 30);
  std::vector<std::uint8_t> bytes = Bytes(*image);
  bytes.resize(54 + 1024);
  bytes[30] = 1;  // compression
  for (int y = image->Height() - 1; y >= 0; --y) {
    for (int x = 0; x < image->Width(); x += 2) {
      bytes.push_back(2);
      bytes.push_back(static_cast<std::uint8_t>(image->PixelIndex(x, y)));
    }
    bytes.push_back(0);
    bytes.push_back(0);
  }
  bytes.push_back(0);
  bytes.push_back(1);
  return bytes;
}

template <class T, TImageFormat format>
std::vector<std::uint8_t> Pattern() {
  auto image = MakePatterned<T>(format, 45, 33);
  return Bytes(*image);
}

std::vector<std::uint8_t> TwoPageDcx() {
  TMemoryStream s;
  MakePatterned<TDcxGraphic>(ifColor16, 30, 20)->AppendToStream(s);
  MakePatterned<TDcxGraphic>(ifTrueColor, 25, 20)->AppendToStream(s);
  return {s.Memory(), s.Memory() + s.Size()};
}

template <bool binary>
std::vector<std::uint8_t> PortableMap() {
  auto image = MakePatterned<TPpmGraphic>(ifTrueColor, 30, 20);
  image->Binary = binary;
  return Bytes(*image);
}

const Sample kSamples[] = {
    {"TiffGroup4", [] { return TiffWith(ifBlackWhite, tcGroup4, 2147483647); }},
    {"TiffGroup3", [] { return TiffWith(ifBlackWhite, tcGroup3_2D, 16); }},
    {"TiffPackbits", [] { return TiffWith(ifGray256, tcPackbits, 10); }},
    {"TiffLzwColour", [] { return TiffWith(ifTrueColor, tcLZW, 2147483647); }},
    {"TiffZlibPalette", [] { return TiffWith(ifColor16, tcZLib, 7); }},
    {"TiffJpeg", [] { return TiffWith(ifTrueColor, tcJPEG, 8); }},
    {"Png",
     [] {
       auto i = MakePatterned<TPngGraphic>(ifTrueColor, 90, 70);
       i->Interlaced = false;
       return Bytes(*i);
     }},
    {"PngInterlacedPalette",
     [] {
       auto i = MakePatterned<TPngGraphic>(ifColor256, 90, 70);
       return Bytes(*i);
     }},
    {"Jpeg",
     [] {
       auto i = MakePatterned<TJpegGraphic>(ifTrueColor, 90, 70);
       return Bytes(*i);
     }},
    {"JpegProgressive",
     [] {
       auto i = MakePatterned<TJpegGraphic>(ifGray256, 90, 70);
       i->Progressive = true;
       return Bytes(*i);
     }},
    {"BmpRle8", &Rle8Bitmap},
    {"Bmp1", &Pattern<TBitmapGraphic, ifBlackWhite>},
    {"Bmp24", &Pattern<TBitmapGraphic, ifTrueColor>},
    {"Pcx1", &Pattern<TPcxGraphic, ifBlackWhite>},
    {"Pcx4", &Pattern<TPcxGraphic, ifColor16>},
    {"Pcx8", &Pattern<TPcxGraphic, ifColor256>},
    {"Pcx24", &Pattern<TPcxGraphic, ifTrueColor>},
    {"Dcx", &TwoPageDcx},
    {"Tga8", &Pattern<TTgaGraphic, ifColor256>},
    {"Tga24", &Pattern<TTgaGraphic, ifTrueColor>},
    {"PpmRaw", &PortableMap<true>},
    {"PpmPlain", &PortableMap<false>},
};

const char* ExtensionOf(const std::string& name) {
  if (name.rfind("Tiff", 0) == 0) return "tif";
  if (name.rfind("Png", 0) == 0) return "png";
  if (name.rfind("Bmp", 0) == 0) return "bmp";
  if (name.rfind("Pcx", 0) == 0) return "pcx";
  if (name.rfind("Dcx", 0) == 0) return "dcx";
  if (name.rfind("Tga", 0) == 0) return "tga";
  if (name.rfind("Ppm", 0) == 0) return "ppm";
  return "jpg";
}

// Loads Bytes with the class for the sample's extension and, for TIFF,
// every page it claims; answers the exception class name or "" on success.
std::string LoadOutcome(const std::string& sample, const std::vector<std::uint8_t>& bytes) {
  RegisterExtraPictureFormats();
  auto image = CreateGraphicForFile(ExtensionOf(sample));
  TMemoryStream stream;
  if (!bytes.empty()) stream.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  try {
    stream.SetPosition(0);
    const int pages = image->GetImageCount(stream);
    for (int page = 1; page <= pages; ++page) {
      stream.SetPosition(0);
      image->LoadImageFromStream(stream, page);
    }
  } catch (const ETiffError& e) {
    return "ETiffError";
  } catch (const EPNGError& e) {
    return "EPNGError";
  } catch (const EJpegError& e) {
    return "EJpegError";
  } catch (const EGbmError& e) {
    return "EGbmError";
  } catch (const EDcxError& e) {
    return "EDcxError";
  } catch (const EInvalidGraphic& e) {
    return "EInvalidGraphic";
  } catch (const EOutOfResources& e) {
    return "EOutOfResources";
  } catch (const ELumetraError& e) {
    // A file whose compression does not suit its pixel layout.
    if (std::string(e.what()).find("compression not supported") != std::string::npos) return "";
    if (std::string(e.what()) == "Not a valid PPM file") return "ELumetraError";
    // A bitmap header naming a bit count or compression there is no reader for.
    if (std::string(e.what()).rfind("Unsupported ", 0) == 0) return "";
    return std::string("unexpected: ") + e.what();
  } catch (const std::exception& e) {
    return std::string("unexpected: ") + e.what();
  }
  return "";
}

// The exception classes a damaged file of Sample's format may raise: a
// bitmap the codec layer refuses goes on to the DIB reader, a DCX page is PCX.
std::string ExpectedClass(const std::string& sample) {
  const std::string ext = ExtensionOf(sample);
  // Run-length bitmaps cannot be bounded by their size: the image model
  // refuses what it will not allocate.
  if (ext == "bmp") return "EInvalidGraphic|EOutOfResources";
  if (ext == "pcx" || ext == "tga") return "EGbmError";
  if (ext == "ppm") return "ELumetraError";
  if (ext == "dcx") return "EDcxError|EGbmError";
  return ext == "tif" ? "ETiffError" : ext == "png" ? "EPNGError" : "EJpegError";
}

bool Expected(const std::string& outcome, const std::string& sample) {
  const std::string allowed = "|" + ExpectedClass(sample) + "|";
  return outcome.empty() || allowed.find("|" + outcome + "|") != std::string::npos;
}

class Truncation : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(Truncation, FailsWithTheFormatsErrorOrLoads) {
  const Sample& sample = kSamples[std::get<0>(GetParam())];
  const int sixteenths = std::get<1>(GetParam());
  std::vector<std::uint8_t> bytes = sample.make();
  bytes.resize(bytes.size() * sixteenths / 16);
  const std::string outcome = LoadOutcome(sample.name, bytes);
  if (sixteenths == 0) {
    EXPECT_FALSE(outcome.empty());
  }
  EXPECT_TRUE(Expected(outcome, sample.name))
      << sample.name << " cut at " << sixteenths << "/16: " << outcome;
}

INSTANTIATE_TEST_SUITE_P(EverySixteenth, Truncation,
                         ::testing::Combine(::testing::Range(0, int(std::size(kSamples))),
                                            ::testing::Range(0, 16)),
                         [](const auto& info) {
                           return std::string(kSamples[std::get<0>(info.param)].name) + "_" +
                                  std::to_string(std::get<1>(info.param));
                         });

class Corruption : public ::testing::TestWithParam<int> {};

// Bytes overwritten at many places: headers, tables and compressed data.
TEST_P(Corruption, DamagedBytesNeverCrash) {
  const Sample& sample = kSamples[GetParam()];
  const std::vector<std::uint8_t> good = sample.make();
  std::uint32_t seed = 12345;
  for (int round = 0; round < 40; ++round) {
    std::vector<std::uint8_t> bytes = good;
    for (int k = 0; k < 1 + round % 4; ++k) {
      seed = seed * 1103515245u + 12345u;
      const std::size_t at = (round < 20 ? (seed >> 8) % 64 : (seed >> 8)) % bytes.size();
      bytes[at] = static_cast<std::uint8_t>(seed >> 24);
    }
    const std::string outcome = LoadOutcome(sample.name, bytes);
    EXPECT_TRUE(Expected(outcome, sample.name))
        << sample.name << " round " << round << ": " << outcome;
  }
}

INSTANTIATE_TEST_SUITE_P(EverySample, Corruption, ::testing::Range(0, int(std::size(kSamples))),
                         [](const auto& info) { return std::string(kSamples[info.param].name); });

// --- hostile headers: each ends at once with a clear error, allocating little --------

void PutU16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
  std::memcpy(b.data() + at, &v, 2);
}
void PutU32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  std::memcpy(b.data() + at, &v, 4);
}

// A little-endian TIFF of Pages grey 1 x 1 pages sharing one pixel; the last
// directory links to LastLink.
std::vector<std::uint8_t> TinyPages(std::uint32_t pages, std::uint32_t width, std::uint32_t height,
                                    bool loopToFirst) {
  const std::uint16_t tags[][2] = {{256, 4}, {257, 4}, {258, 3}, {259, 3}, {262, 3},
                                   {273, 4}, {277, 3}, {278, 4}, {279, 4}};
  const std::uint32_t values[] = {width, height, 8, 1, 1, 8, 1, 1, 1};
  constexpr std::uint16_t kEntries = 9;
  const std::size_t dirSize = 2 + 12 * kEntries + 4;
  std::vector<std::uint8_t> b(10 + dirSize * pages, 0);
  b[0] = b[1] = 'I';
  PutU16(b, 2, 42);
  PutU32(b, 4, 10);
  b[8] = 0x80;  // the pixel
  for (std::uint32_t p = 0; p < pages; ++p) {
    const std::size_t at = 10 + dirSize * p;
    PutU16(b, at, kEntries);
    for (int e = 0; e < kEntries; ++e) {
      const std::size_t entry = at + 2 + 12 * e;
      PutU16(b, entry, tags[e][0]);
      PutU16(b, entry + 2, tags[e][1]);
      PutU32(b, entry + 4, 1);
      if (tags[e][1] == 3)
        PutU16(b, entry + 8, static_cast<std::uint16_t>(values[e]));
      else
        PutU32(b, entry + 8, values[e]);
    }
    const bool last = p + 1 == pages;
    PutU32(b, at + 2 + 12 * kEntries,
           last ? (loopToFirst ? 10u : 0u) : static_cast<std::uint32_t>(at + dirSize));
  }
  return b;
}

std::vector<std::uint8_t> PngOfSize(std::uint32_t width, std::uint32_t height) {
  auto png = MakePatterned<TPngGraphic>(ifGray256, 4, 4);
  std::vector<std::uint8_t> bytes = Bytes(*png);
  const std::uint8_t size[8] = {std::uint8_t(width >> 24),  std::uint8_t(width >> 16),
                                std::uint8_t(width >> 8),   std::uint8_t(width),
                                std::uint8_t(height >> 24), std::uint8_t(height >> 16),
                                std::uint8_t(height >> 8),  std::uint8_t(height)};
  std::memcpy(bytes.data() + 16, size, 8);
  const std::uint32_t crc = static_cast<std::uint32_t>(crc32(0, bytes.data() + 12, 17));
  const std::uint8_t crcBytes[4] = {std::uint8_t(crc >> 24), std::uint8_t(crc >> 16),
                                    std::uint8_t(crc >> 8), std::uint8_t(crc)};
  std::memcpy(bytes.data() + 29, crcBytes, 4);
  return bytes;
}

// A small PNG whose first chunk after the header claims `length` bytes of
// `type` and then ends: the reader must not allocate what the chunk claims.
std::vector<std::uint8_t> PngClaimingChunk(const char* type, std::uint32_t length) {
  std::vector<std::uint8_t> bytes = PngOfSize(4, 4);
  const std::uint8_t header[8] = {std::uint8_t(length >> 24), std::uint8_t(length >> 16),
                                  std::uint8_t(length >> 8),  std::uint8_t(length),
                                  std::uint8_t(type[0]),      std::uint8_t(type[1]),
                                  std::uint8_t(type[2]),      std::uint8_t(type[3])};
  bytes.insert(bytes.begin() + 33, header, header + 8);
  return bytes;
}

struct HostileHeader {
  const char* name;
  const char* extension;
  std::vector<std::uint8_t> (*make)();
  int pages;            // what the page count must answer (TIFF)
  const char* message;  // what the load of the last page must say; "" loads
};

// The peak memory of this process in bytes (0 where it cannot be had, and
// under AddressSanitizer, whose quarantine keeps freed blocks).
std::uint64_t PeakMemory() {
#if defined(__linux__) && !defined(__SANITIZE_ADDRESS__)
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<std::uint64_t>(usage.ru_maxrss) * 1024;
#else
  return 0;
#endif
}

class HostileHeaders : public ::testing::TestWithParam<HostileHeader> {};

TEST_P(HostileHeaders, EndWithAClearErrorBeforeAllocatingMuch) {
  const HostileHeader& c = GetParam();
  const std::vector<std::uint8_t> bytes = c.make();
  const std::uint64_t before = PeakMemory();
  auto image = CreateGraphicForFile(c.extension);
  TMemoryStream stream;
  stream.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  stream.SetPosition(0);
  const int pages = image->GetImageCount(stream);
  EXPECT_EQ(pages, c.pages);
  stream.SetPosition(0);
  const std::string outcome = testing::MessageOf([&] { image->LoadImageFromStream(stream, pages); });
  if (*c.message)
    EXPECT_NE(outcome.find(c.message), std::string::npos) << outcome;
  else
    EXPECT_EQ(outcome, "(no exception)");
  EXPECT_LT(PeakMemory() - before, std::uint64_t{300} << 20);
}

INSTANTIATE_TEST_SUITE_P(
    Corpus, HostileHeaders,
    ::testing::Values(
        HostileHeader{"TiffHugeDimensions", "tif",
                      [] { return TinyPages(1, 100000, 100000, false); }, 1,
                      "Image too large, 100000 x 100000"},
        HostileHeader{"TiffWidestRow", "tif", [] { return TinyPages(1, 0x7FFFFFFF, 1, false); },
                      1, "ETiffError"},
        HostileHeader{"TiffDirectoryLoop", "tif", [] { return TinyPages(3, 1, 1, true); }, 3, ""},
        HostileHeader{"Tiff65535Pages", "tif", [] { return TinyPages(65535, 1, 1, false); }, 65535,
                      ""},
        HostileHeader{"PngWidth2To31", "png", [] { return PngOfSize(0x7FFFFFFF, 1); }, 1,
                      "Image width exceeds user limit"},
        HostileHeader{"PngWidthAtTheLimit", "png",
                      [] { return PngOfSize(static_cast<std::uint32_t>(kMaxPngRowPixels), 100); },
                      1, "Image too large"},
        HostileHeader{"Png2To30Square", "png", [] { return PngOfSize(1u << 30, 1u << 30); }, 1,
                      "exceeds user limit"},
        HostileHeader{"PngScaleChunkOf1_3GB", "png",
                      [] { return PngClaimingChunk("sCAL", 0x504E470D); }, 1, "truncated"},
        HostileHeader{"PngTextChunkOf2GB", "png",
                      [] { return PngClaimingChunk("tEXt", 0x7FFFFFF0); }, 1, "truncated"},
        HostileHeader{"PngInternationalTextOf1GB", "png",
                      [] { return PngClaimingChunk("iTXt", 0x40000000); }, 1, "truncated"},
        HostileHeader{"PngExifOf1GB", "png", [] { return PngClaimingChunk("eXIf", 0x40000000); },
                      1, "truncated"},
        HostileHeader{"PngPrivateChunkOf1GB", "png",
                      [] { return PngClaimingChunk("prIv", 0x40000000); }, 1, "truncated"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HostileInput, ALoopingChainIsNamedAsDamage) {
  const std::vector<std::uint8_t> bytes = TinyPages(3, 1, 1, true);
  TMemoryStream stream;
  stream.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  stream.SetPosition(0);
  TTiffPageReader reader(stream);
  EXPECT_EQ(reader.Count(), 3);
  EXPECT_NE(reader.Damage().find("IFD looping"), std::string::npos) << reader.Damage();
}

TEST(HostileInput, BitmapHeadersClaimingHugeImagesAreRefused) {
  // A PCX header claiming 65535 x 65535 true colour in a few hundred bytes.
  std::vector<std::uint8_t> pcx = Pattern<TPcxGraphic, ifTrueColor>();
  pcx[8] = pcx[9] = pcx[10] = pcx[11] = 0xFF;
  pcx[66] = pcx[67] = 0xFF;
  EXPECT_EQ(LoadOutcome("Pcx", pcx), "EGbmError");
  // A bitmap of 2^30 x 2^30 pixels.
  std::vector<std::uint8_t> bmp = Pattern<TBitmapGraphic, ifTrueColor>();
  bmp[21] = bmp[25] = 0x40;
  EXPECT_EQ(LoadOutcome("Bmp", bmp), "EInvalidGraphic");
}

}  // namespace
}  // namespace lumetra
