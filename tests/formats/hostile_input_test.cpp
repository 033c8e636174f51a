// Damaged files: every reader must fail with its own exception class, or
// load what it can, and never crash, hang or leak.
#include <zlib.h>
#ifdef __linux__
#include <sys/resource.h>
#endif

#include <cstring>

#include <string>
#include <vector>

#include "formats/codec_limits.h"
#include "formats/format_test_util.h"
#include "formats/jpeg_graphic.h"
#include "formats/png_graphic.h"
#include "formats/registry.h"
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
};

const char* ExtensionOf(const std::string& name) {
  if (name.rfind("Tiff", 0) == 0) return "tif";
  if (name.rfind("Png", 0) == 0) return "png";
  return "jpg";
}

// Loads Bytes with the class for the sample's extension and, for TIFF,
// every page it claims; answers the exception class name or "" on success.
std::string LoadOutcome(const std::string& sample, const std::vector<std::uint8_t>& bytes) {
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
  } catch (const ELumetraError& e) {
    // A file whose compression does not suit its pixel layout.
    if (std::string(e.what()).find("compression not supported") != std::string::npos) return "";
    return std::string("unexpected: ") + e.what();
  } catch (const std::exception& e) {
    return std::string("unexpected: ") + e.what();
  }
  return "";
}

std::string ExpectedClass(const std::string& sample) {
  const std::string ext = ExtensionOf(sample);
  return ext == "tif" ? "ETiffError" : ext == "png" ? "EPNGError" : "EJpegError";
}

class Truncation : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(Truncation, FailsWithTheFormatsErrorOrLoads) {
  const Sample& sample = kSamples[std::get<0>(GetParam())];
  const int sixteenths = std::get<1>(GetParam());
  std::vector<std::uint8_t> bytes = sample.make();
  bytes.resize(bytes.size() * sixteenths / 16);
  const std::string outcome = LoadOutcome(sample.name, bytes);
  if (sixteenths == 0) {
    EXPECT_EQ(outcome, ExpectedClass(sample.name));
  }
  EXPECT_TRUE(outcome.empty() || outcome == ExpectedClass(sample.name))
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
    EXPECT_TRUE(outcome.empty() || outcome == ExpectedClass(sample.name))
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
                      "exceeds user limit"}),
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

}  // namespace
}  // namespace lumetra
