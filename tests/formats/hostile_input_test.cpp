// Damaged files: every reader must fail with its own exception class, or
// load what it can, and never crash, hang or leak.
#include <zlib.h>

#include <string>
#include <vector>

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

TEST(HostileInput, HugeDimensionsAreRefusedBeforeAllocating) {
  // A minimal TIFF claiming 100000 x 100000 true-colour pixels.
  auto image = MakePatterned<TTiffGraphic>(ifTrueColor, 4, 4);
  image->SetCompression(tcNone);
  TMemoryStream s;
  image->SaveToStream(s);
  // Patch ImageWidth and ImageLength in the directory (LONG or SHORT values).
  std::uint8_t* m = s.Memory();
  std::uint32_t ifd;
  std::memcpy(&ifd, m + 4, 4);
  std::uint16_t count;
  std::memcpy(&count, m + ifd, 2);
  for (int i = 0; i < count; ++i) {
    std::uint8_t* e = m + ifd + 2 + 12 * i;
    std::uint16_t tag, type;
    std::memcpy(&tag, e, 2);
    std::memcpy(&type, e + 2, 2);
    if (tag == 256 || tag == 257) {
      const std::uint32_t big = 100000;
      if (type == 4) std::memcpy(e + 8, &big, 4);
      if (type == 3) {
        const std::uint16_t v = 60000;
        std::memcpy(e + 8, &v, 2);
      }
    }
  }
  s.SetPosition(0);
  TTiffGraphic tiff;
  EXPECT_THROW(tiff.LoadImageFromStream(s, 1), ETiffError);

  // A PNG header claiming 2^30 x 2^30.
  auto png = MakePatterned<TPngGraphic>(ifGray256, 4, 4);
  std::vector<std::uint8_t> bytes = Bytes(*png);
  const std::uint8_t huge[8] = {0x40, 0, 0, 0, 0x40, 0, 0, 0};
  std::memcpy(bytes.data() + 16, huge, 8);
  const std::uint32_t crc = static_cast<std::uint32_t>(crc32(0, bytes.data() + 12, 17));
  const std::uint8_t crcBytes[4] = {std::uint8_t(crc >> 24), std::uint8_t(crc >> 16),
                                    std::uint8_t(crc >> 8), std::uint8_t(crc)};
  std::memcpy(bytes.data() + 29, crcBytes, 4);
  EXPECT_EQ(LoadOutcome("Png", bytes), "EPNGError");
}

}  // namespace
}  // namespace lumetra
