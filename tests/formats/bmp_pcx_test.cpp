// Bitmap, PCX and DCX files, and the codec layer they go through.
#include <cstring>

#include "formats/bmp_graphic.h"
#include "support/format_images.h"
#include "formats/gbm_wrapper.h"
#include "formats/pcx_graphic.h"
#include "formats/registry.h"
#include "platform/platform.h"

namespace lumetra {
namespace {

using testing::MakePatterned;
using testing::MessageOf;

std::uint32_t Le32At(TMemoryStream& s, std::size_t at) {
  std::uint32_t v;
  std::memcpy(&v, s.Memory() + at, 4);
  return v;
}

std::uint16_t Le16At(TMemoryStream& s, std::size_t at) {
  std::uint16_t v;
  std::memcpy(&v, s.Memory() + at, 2);
  return v;
}

::testing::AssertionResult SameColours(const TDibGraphic& a, const TDibGraphic& b) {
  return testing::SamePixels(a, b, true);
}

template <class T>
std::unique_ptr<T> Reload(TMemoryStream& s, int page = 1) {
  auto image = std::make_unique<T>();
  s.SetPosition(0);
  image->LoadImageFromStream(s, page);
  return image;
}

// Every pixel format through every writer, at a width that leaves padding
// in the rows, and from a stream that does not start at offset 0.
class RoundTrip : public ::testing::TestWithParam<std::tuple<int, const char*>> {};

TEST_P(RoundTrip, KeepsEveryPixelAndTheResolution) {
  const TImageFormat format = TImageFormat(std::get<0>(GetParam()));
  const std::string extension = std::get<1>(GetParam());
  RegisterExtraPictureFormats();
  auto source = MakePatterned(format, 37, 23, 150);
  auto writer = CreateGraphicForFile(extension);
  writer->Assign(source.get());
  TMemoryStream s;
  s.WriteBuffer("junk", 4);
  writer->SaveToStream(s);
  TMemoryStream file;
  file.WriteBuffer(s.Memory() + 4, s.Size() - 4);
  auto reader = CreateGraphicForFile(extension);
  std::uint8_t first = 255, last = 255;
  reader->OnReadWriteProgress = [&](TObject*, std::uint8_t p) {
    if (first == 255) first = p;
    last = p;
  };
  if (extension != "dcx") {  // the container reads from offset 0 only
    s.SetPosition(4);
    reader->LoadImageFromStream(s, 1);
  } else {
    file.SetPosition(0);
    reader->LoadImageFromStream(file, 1);
  }
  EXPECT_TRUE(SameColours(*source, *reader));
  EXPECT_EQ(reader->XDpi(), 150);
  EXPECT_EQ(reader->YDpi(), 150);
  EXPECT_EQ(first, 0);
  EXPECT_EQ(last, 100);
}

INSTANTIATE_TEST_SUITE_P(AllFormats, RoundTrip,
                         ::testing::Combine(::testing::Range(0, 6),
                                            ::testing::Values("bmp", "pcx", "dcx")),
                         [](const auto& info) {
                           return std::get<1>(info.param) + std::to_string(std::get<0>(info.param));
                         });

TEST(Bitmap, FileHeaderResolutionAndPaletteSize) {
  auto image = MakePatterned<TBitmapGraphic>(ifColor256, 30, 10, 300);
  TMemoryStream s;
  image->SaveToStream(s);
  EXPECT_EQ(s.Memory()[0], 'B');
  EXPECT_EQ(s.Memory()[1], 'M');
  EXPECT_EQ(Le32At(s, 2), 54u + 1024u + 32u * 10u);
  EXPECT_EQ(Le32At(s, 2), std::uint32_t(s.Size()));
  EXPECT_EQ(Le32At(s, 10), 54u + 1024u);
  EXPECT_EQ(Le32At(s, 38), 11811u);
  EXPECT_EQ(Le32At(s, 42), 11811u);
  auto back = Reload<TBitmapGraphic>(s);
  EXPECT_EQ(back->XDpi(), 300);
}

// A 1-bit Windows bitmap of 8 x 2 pixels with the given colour table.
std::vector<std::uint8_t> OneBitBmp(std::initializer_list<std::uint8_t> table,
                                    std::uint8_t bottomRow, std::uint8_t topRow) {
  std::vector<std::uint8_t> b(62 + 8, 0);
  b[0] = 'B', b[1] = 'M', b[2] = std::uint8_t(b.size()), b[10] = 62;
  b[14] = 40, b[18] = 8, b[22] = 2, b[26] = 1, b[28] = 1;
  std::copy(table.begin(), table.end(), b.begin() + 54);
  b[62] = bottomRow, b[66] = topRow;
  return b;
}

TEST(Bitmap, WhiteFirstOneBitLoadsBlackFirstWithInvertedBits) {
  TMemoryStream s;
  const auto bytes = OneBitBmp({255, 255, 255, 0, 0, 0, 0, 0}, 0xF0, 0x0F);
  s.WriteBuffer(bytes.data(), std::int64_t(bytes.size()));
  auto image = Reload<TBitmapGraphic>(s);
  ASSERT_EQ(image->ImageFormat(), ifBlackWhite);
  EXPECT_EQ(PaletteColour(image->LogPalette()->palPalEntry[0]), 0x000000u);
  EXPECT_EQ(PaletteColour(image->LogPalette()->palPalEntry[1]), 0xFFFFFFu);
  // The same picture: bit 1 was black in the file and is index 0 now.
  EXPECT_EQ(image->ScanLine(1)[0], 0x0F);
  EXPECT_EQ(image->Pixels(0, 1), 0x000000u);
  EXPECT_EQ(image->Pixels(7, 1), 0xFFFFFFu);
  EXPECT_EQ(image->Pixels(0, 0), 0xFFFFFFu);
}

TEST(Bitmap, Os2HeaderKeepsTheScreenResolution) {
  // An OS/2 bitmap has colours and pixels where a Windows header keeps its
  // pixels per metre; they must not be taken for a resolution.
  std::vector<std::uint8_t> b(14 + 12 + 6 + 8, 0);
  b[0] = 'B', b[1] = 'M', b[2] = std::uint8_t(b.size()), b[10] = 32;
  b[14] = 12, b[18] = 8, b[20] = 2, b[22] = 1, b[24] = 1;
  b[29] = b[30] = b[31] = 255;  // white second entry
  b[38] = 0x23, b[39] = 0x2E;   // the pixel bytes read 11811 ...
  b[36] = 0xA5, b[32] = 0x5A;
  TMemoryStream s;
  s.WriteBuffer(b.data(), std::int64_t(b.size()));
  auto image = Reload<TBitmapGraphic>(s);
  EXPECT_EQ(image->XDpi(), platform::ScreenDpiX());
  EXPECT_EQ(image->YDpi(), platform::ScreenDpiY());
  EXPECT_EQ(image->ScanLine(1)[0], 0x5A);
}

TEST(Bitmap, SixteenBitFilesFallBackToTheDibReader) {
  // 5-5-5 pixels: the codec layer does not take them.
  std::vector<std::uint8_t> b(54 + 12 * 3, 0);
  b[0] = 'B', b[1] = 'M', b[10] = 54, b[14] = 40, b[18] = 5, b[22] = 3, b[26] = 1, b[28] = 16;
  b[54] = 0x1F;  // bottom-left pixel pure blue
  TMemoryStream s;
  s.WriteBuffer(b.data(), std::int64_t(b.size()));
  auto image = Reload<TBitmapGraphic>(s);
  EXPECT_EQ(image->ImageFormat(), ifTrueColor);
  EXPECT_EQ(image->Pixels(0, 2), 0x0000FFu);
}

TEST(Pcx, ResolutionWordsAndSignature) {
  auto image = MakePatterned<TPcxGraphic>(ifColor16, 20, 5);
  image->SetXDpi(200);
  image->SetYDpi(100);
  TMemoryStream s;
  image->SaveToStream(s);
  EXPECT_EQ(s.Position(), s.Size());
  EXPECT_EQ(Le16At(s, 12), 200);
  EXPECT_EQ(Le16At(s, 14), 100);
  s.SetPosition(0);
  EXPECT_TRUE(TPcxGraphic().IsValidStream(s));
  EXPECT_EQ(s.Position(), 0);
  EXPECT_FALSE(TDcxGraphic().IsValidStream(s));
  auto back = Reload<TPcxGraphic>(s);
  EXPECT_EQ(back->XDpi(), 200);
  EXPECT_EQ(back->YDpi(), 100);
}

TEST(Pcx, SixteenGreysAreAFourBitFileWithTheirPalette) {
  auto image = MakePatterned<TPcxGraphic>(ifGray16, 9, 4);
  TMemoryStream s;
  image->SaveToStream(s);
  EXPECT_EQ(s.Memory()[3] * s.Memory()[65], 4);  // bits per plane x planes
  for (int i = 0; i < 16; ++i) {
    const TPaletteEntry& e = image->LogPalette()->palPalEntry[i];
    EXPECT_EQ(s.Memory()[16 + 3 * i], e.peRed);
    EXPECT_EQ(s.Memory()[17 + 3 * i], e.peGreen);
    EXPECT_EQ(s.Memory()[18 + 3 * i], e.peBlue);
  }
}

// Headers the fuzzer found: a plane count of 0 once passed as an image of
// no data (any size) and was allocated in full.
TEST(Pcx, HeadersWithoutPlanesOrWithTooFewBytesPerLineAreRefused) {
  auto image = MakePatterned<TPcxGraphic>(ifBlackWhite, 64, 64);
  TMemoryStream good;
  image->SaveToStream(good);
  for (const auto& [at, value] : {std::pair{65, 0}, std::pair{65, 5}, std::pair{66, 7}}) {
    TMemoryStream s;
    s.WriteBuffer(good.Memory(), good.Size());
    s.Memory()[at] = std::uint8_t(value);
    TPcxGraphic back;
    s.SetPosition(0);
    EXPECT_EQ(MessageOf([&] { back.LoadImageFromStream(s, 1); }), "gbm_read_header failed.")
        << at << "=" << value;
  }
}

TEST(Gbm, UnknownExtensionsAndEmptyImages) {
  TMemoryStream s;
  TDibGraphic image;
  EXPECT_EQ(MessageOf([&] { ReadWithGbm(s, image, "File.xyz", ""); }),
            "gbm_guess_filetype failed.");
  EXPECT_EQ(MessageOf([&] { WriteWithGbm(s, image, "File"); }), "gbm_guess_filetype failed.");
  EXPECT_EQ(MessageOf([&] { WriteWithGbm(s, image, "File.pcx"); }), "gbm_write failed.");
  EXPECT_EQ(MessageOf([&] { ReadWithGbm(s, image, "File.pcx", ""); }), "gbm_read_header failed.");
  EXPECT_THROW(ReadWithGbm(s, image, "File.PCC", ""), EGbmError);
}

// Targa has no class of its own yet; its codec is reached directly.
class TargaCodec : public ::testing::TestWithParam<int> {};

TEST_P(TargaCodec, RoundTripsThroughTheCodecLayer) {
  auto source = MakePatterned(TImageFormat(GetParam()), 19, 7);
  TMemoryStream s;
  WriteWithGbm(s, *source, "x.TGA");
  TDibGraphic back;
  s.SetPosition(0);
  ReadWithGbm(s, back, "File.vst", "");
  EXPECT_TRUE(SameColours(*source, back));
}

INSTANTIATE_TEST_SUITE_P(EightAndTwentyFourBits, TargaCodec,
                         ::testing::Values(ifGray256, ifColor256, ifTrueColor));

// A DCX of Pages pages, each a small PCX page of its own pattern.
TMemoryStream& DcxOf(TMemoryStream& s, int pages) {
  for (int p = 0; p < pages; ++p)
    MakePatterned<TDcxGraphic>(ifGray256, 10 + p, 6)->AppendToStream(s);
  return s;
}

TEST(Dcx, AppendKeepsEarlierPagesAndCountsThem) {
  TMemoryStream s;
  DcxOf(s, 1);
  EXPECT_EQ(Le32At(s, 0), 987654321u);
  EXPECT_EQ(Le32At(s, 4), 4100u);
  EXPECT_EQ(Le32At(s, 8), 0u);
  const std::vector<std::uint8_t> before(s.Memory() + 4100, s.Memory() + s.Size());
  s.SetPosition(0);
  EXPECT_EQ(TDcxGraphic().GetImageCount(s), 1);
  MakePatterned<TDcxGraphic>(ifTrueColor, 12, 5)->AppendToStream(s);
  s.SetPosition(0);
  EXPECT_EQ(TDcxGraphic().GetImageCount(s), 2);
  EXPECT_EQ(std::memcmp(before.data(), s.Memory() + 4100, before.size()), 0);
  EXPECT_EQ(Le32At(s, 8), 4100u + before.size());
  EXPECT_TRUE(SameColours(*Reload<TDcxGraphic>(s, 1), *MakePatterned(ifGray256, 10, 6)));
  EXPECT_TRUE(SameColours(*Reload<TDcxGraphic>(s, 2), *MakePatterned(ifTrueColor, 12, 5)));
  EXPECT_EQ(MessageOf([&] { Reload<TDcxGraphic>(s, 3); }), "The DCX file header is not valid");
}

TEST(Dcx, FullTableRefusesAndWritesNothing) {
  TMemoryStream s;
  DcxOf(s, 1);
  for (int slot = 2; slot <= 1023; ++slot) {  // every slot but the last names the page
    const std::uint32_t first = 4100;
    s.SetPosition(4 * slot);
    s.WriteBuffer(&first, 4);
  }
  s.SetPosition(0);
  EXPECT_EQ(TDcxGraphic().GetImageCount(s), 1023);
  const std::int64_t size = s.Size();
  EXPECT_EQ(MessageOf([&] { MakePatterned<TDcxGraphic>(ifBlackWhite, 8, 8)->AppendToStream(s); }),
            "The DCX file header is full");
  EXPECT_EQ(s.Size(), size);
  EXPECT_EQ(Le32At(s, 4096), 0u);
}

TEST(Dcx, APageThatCannotBeWrittenLeavesTheTableAlone) {
  TMemoryStream s;
  DcxOf(s, 2);
  const std::vector<std::uint8_t> before(s.Memory(), s.Memory() + s.Size());
  TDcxGraphic empty;
  EXPECT_THROW(empty.AppendToStream(s), EGbmError);
  ASSERT_EQ(std::size_t(s.Size()), before.size());
  EXPECT_EQ(std::memcmp(before.data(), s.Memory(), before.size()), 0);
}

struct DamagedDcx {
  const char* name;
  std::size_t at;
  std::uint32_t value;
  int page;
};

class DcxHeader : public ::testing::TestWithParam<DamagedDcx> {};

TEST_P(DcxHeader, DamageIsReportedAsAnInvalidHeader) {
  TMemoryStream s;
  DcxOf(s, 2);
  s.SetPosition(GetParam().at);
  s.WriteBuffer(&GetParam().value, 4);
  const std::string message = "The DCX file header is not valid";
  EXPECT_EQ(MessageOf([&] { Reload<TDcxGraphic>(s, GetParam().page); }), message);
  if (GetParam().at == 0) {
    s.SetPosition(0);
    EXPECT_EQ(MessageOf([&] { TDcxGraphic().GetImageCount(s); }), message);
    EXPECT_EQ(MessageOf([&] { MakePatterned<TDcxGraphic>(ifGray256, 4, 4)->AppendToStream(s); }),
              message);
  }
}

INSTANTIATE_TEST_SUITE_P(Slots, DcxHeader,
                         ::testing::Values(DamagedDcx{"Magic", 0, 123, 1},
                                           DamagedDcx{"PageBeyondTheEnd", 8, 0x7FFFFFF0, 2},
                                           DamagedDcx{"MissingPage", 8, 0, 2},
                                           DamagedDcx{"PagesOutOfOrder", 4, 0x7FFFFFF0, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace lumetra
