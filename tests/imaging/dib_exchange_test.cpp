// Packed DIB blocks, BMP streams, assignment, multi-image streams and frames.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <tuple>
#include <random>
#include <vector>

#include "base/format.h"
#include "imaging/bmp_decode.h"
#include "imaging/dib_graphic.h"
#include "support/error_text.h"

namespace lumetra {
namespace {

using Bytes = std::vector<std::uint8_t>;

void Put16(Bytes& b, std::size_t at, std::uint16_t v) {
  b[at] = v & 0xFF;
  b[at + 1] = v >> 8;
}
void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = (v >> (8 * i)) & 0xFF;
}

// A packed DIB with a 40-byte header, the given table and pixel bytes.
Bytes MakeDib(int width, int height, int bits, std::uint32_t compression,
              const std::vector<std::uint32_t>& table, const Bytes& pixels,
              std::uint32_t coloursUsed = 0, std::int32_t pelsPerMetre = 11811) {
  Bytes b(40 + 4 * table.size());
  Put32(b, 0, 40);
  Put32(b, 4, static_cast<std::uint32_t>(width));
  Put32(b, 8, static_cast<std::uint32_t>(height));
  Put16(b, 12, 1);
  Put16(b, 14, static_cast<std::uint16_t>(bits));
  Put32(b, 16, compression);
  Put32(b, 20, static_cast<std::uint32_t>(pixels.size()));
  Put32(b, 24, static_cast<std::uint32_t>(pelsPerMetre));
  Put32(b, 28, static_cast<std::uint32_t>(pelsPerMetre));
  Put32(b, 32, coloursUsed);
  for (std::size_t i = 0; i < table.size(); ++i) Put32(b, 40 + 4 * i, table[i]);
  b.insert(b.end(), pixels.begin(), pixels.end());
  return b;
}

// Shortens a block (never grows it).
void Truncate(Bytes& b, std::size_t n) {
  if (n < b.size()) b.erase(b.begin() + static_cast<std::ptrdiff_t>(n), b.end());
}

std::vector<std::uint32_t> GreyTable(int n) {
  std::vector<std::uint32_t> t;
  for (int i = 0; i < n; ++i) {
    const std::uint32_t v = static_cast<std::uint32_t>(i * 255 / (n - 1));
    t.push_back(v | v << 8 | v << 16);
  }
  return t;
}

using testing::MessageOf;

// --- round trips -------------------------------------------------------------

class DibRoundTrip : public ::testing::TestWithParam<TImageFormat> {};

TEST_P(DibRoundTrip, PackedDibComesBackByteForByte) {
  TDibGraphic source;
  source.NewImage(13, 7, GetParam(), nullptr, 300, 200);
  std::mt19937 random(42);
  for (int y = 0; y < source.Height(); ++y)
    for (int i = 0; i < source.RowStride(); ++i) source.ScanLine(y)[i] = random() & 0xFF;
  const Bytes block = source.SaveToDIBBlock();
  ASSERT_EQ(block.size(), 40 + 4 * PaletteEntryCount(GetParam()) + source.ImageSize());

  TDibGraphic loaded;
  loaded.LoadFromDIBBlock(block.data(), block.size());
  EXPECT_EQ(loaded.ImageFormat(), GetParam());
  EXPECT_EQ(loaded.XDpi(), 300);
  EXPECT_EQ(loaded.YDpi(), 200);
  EXPECT_EQ(loaded.SaveToDIBBlock(), block);
}

INSTANTIATE_TEST_SUITE_P(AllFormats, DibRoundTrip,
                         ::testing::Values(ifBlackWhite, ifGray16, ifGray256, ifColor16, ifColor256,
                                           ifTrueColor));

TEST(DibBlock, AllGreyPaletteMakesGreyFormatsAndColourKeepsColour) {
  const Bytes pixels(4 * 2, 7);
  TDibGraphic g;
  const Bytes grey = MakeDib(4, 2, 8, 0, GreyTable(256), pixels);
  g.LoadFromDIBBlock(grey.data(), grey.size());
  EXPECT_EQ(g.ImageFormat(), ifGray256);

  auto table = GreyTable(256);
  table[200] = 0x123456;
  const Bytes colour = MakeDib(4, 2, 8, 0, table, pixels);
  g.LoadFromDIBBlock(colour.data(), colour.size());
  EXPECT_EQ(g.ImageFormat(), ifColor256);
  EXPECT_EQ(PaletteColour(g.LogPalette()->palPalEntry[200]), 0x123456u);
  EXPECT_EQ(g.Pixels(0, 0), PaletteColour(g.LogPalette()->palPalEntry[7]));

  const Bytes grey16 = MakeDib(4, 2, 4, 0, GreyTable(16), Bytes(8, 0x3C));
  g.LoadFromDIBBlock(grey16.data(), grey16.size());
  EXPECT_EQ(g.ImageFormat(), ifGray16);
  EXPECT_EQ(g.PixelIndex(0, 0), 3);
  EXPECT_EQ(g.PixelIndex(1, 0), 12);
}

TEST(DibBlock, ColoursUsedShortensThePaletteAndLocatesThePixels) {
  // Three entries, then the rows: the pixels must be read behind the third.
  Bytes pixels(4 * 2, 0);
  pixels[0] = 2;
  pixels[4] = 1;
  const Bytes b = MakeDib(3, 2, 8, 0, {0x0000FF, 0x00FF00, 0xFF0000}, pixels, 3);
  TDibGraphic g;
  g.LoadFromDIBBlock(b.data(), b.size());
  EXPECT_EQ(g.ImageFormat(), ifColor256);
  EXPECT_EQ(g.PaletteCount(), 3);
  EXPECT_EQ(g.Pixels(0, 1), 0xFF0000u);  // bottom row, first in memory
  EXPECT_EQ(g.Pixels(0, 0), 0x00FF00u);
}

TEST(DibBlock, TrueColourWithAnUnusedColourTableSkipsIt) {
  Bytes pixels(4, 0);
  pixels[0] = 0x11, pixels[1] = 0x22, pixels[2] = 0x33;
  const Bytes b = MakeDib(1, 1, 24, 0, {0xABCDEF, 0x123456}, pixels, 2);
  TDibGraphic g;
  g.LoadFromDIBBlock(b.data(), b.size());
  EXPECT_EQ(g.Pixels(0, 0), 0x332211u);
}

TEST(DibBlock, ResolutionOutOfRangeFallsBackToTheScreen) {
  TDibGraphic screen;
  screen.NewImage(1, 1, ifGray256, nullptr, 0, 0);
  for (std::int32_t ppm : {0, -11811, 0x7FFFFFFF}) {
    const Bytes b = MakeDib(1, 1, 8, 0, GreyTable(256), Bytes(4, 0), 0, ppm);
    TDibGraphic g;
    g.LoadFromDIBBlock(b.data(), b.size());
    EXPECT_EQ(g.XDpi(), screen.XDpi()) << ppm;
  }
}

TEST(DibBlock, SixteenBitLoadsAsTrueColour) {
  // 5-5-5: pure red, pure green, pure blue, white.
  Bytes pixels(8, 0);
  Put16(pixels, 0, 0x7C00);
  Put16(pixels, 2, 0x03E0);
  Put16(pixels, 4, 0x001F);
  Put16(pixels, 6, 0x7FFF);
  const Bytes b = MakeDib(4, 1, 16, 0, {}, pixels);
  TDibGraphic g;
  g.LoadFromDIBBlock(b.data(), b.size());
  EXPECT_EQ(g.ImageFormat(), ifTrueColor);
  EXPECT_EQ(g.Pixels(0, 0), 0xFF0000u);
  EXPECT_EQ(g.Pixels(1, 0), 0x00FF00u);
  EXPECT_EQ(g.Pixels(2, 0), 0x0000FFu);
  EXPECT_EQ(g.Pixels(3, 0), 0xFFFFFFu);
  EXPECT_EQ(g.XDpi(), 300);
}

TEST(DibBlock, BitFieldsFollowTheirMasks) {
  // 5-6-5 masks behind the 40-byte header; a 32-bit bit-field DIB as well.
  Bytes pixels(4, 0);
  Put16(pixels, 0, 0x07E0);  // full green
  Put16(pixels, 2, 0x8010);  // half red, half blue
  const Bytes b16 = MakeDib(2, 1, 16, 3, {0xF800, 0x07E0, 0x001F}, pixels);
  TDibGraphic g;
  g.LoadFromDIBBlock(b16.data(), b16.size());
  EXPECT_EQ(g.Pixels(0, 0), 0x00FF00u);
  EXPECT_EQ(g.Pixels(1, 0), 0x840084u);

  Bytes pixels32(4, 0);
  Put32(pixels32, 0, 0x00ABCDEF);  // stored as blue in the high byte
  const Bytes b32 = MakeDib(1, 1, 32, 3, {0x000000FF, 0x0000FF00, 0x00FF0000}, pixels32);
  g.LoadFromDIBBlock(b32.data(), b32.size());
  EXPECT_EQ(g.Pixels(0, 0), 0xEFCDABu);
}

TEST(DibBlock, RunLengthEightAndFour) {
  // 6 x 3, rows from the bottom: a run, a literal run, a jump, end of bitmap.
  const Bytes rle8 = {3, 5, 0, 3, 1, 2, 3, 0, 0, 0,  // row 0: 5 5 5 1 2 3
                      0, 2, 2, 1,                    // jump to (2, 2)
                      2, 9, 0, 1};                   // row 2: . . 9 9
  const Bytes b8 = MakeDib(6, 3, 8, 1, GreyTable(16), rle8, 16);
  TDibGraphic g;
  g.LoadFromDIBBlock(b8.data(), b8.size());
  EXPECT_EQ(g.ImageFormat(), ifGray256);
  const int bottom[6] = {5, 5, 5, 1, 2, 3};
  for (int x = 0; x < 6; ++x) EXPECT_EQ(g.PixelIndex(x, 2), bottom[x]) << x;
  EXPECT_EQ(g.PixelIndex(1, 0), 0);
  EXPECT_EQ(g.PixelIndex(2, 0), 9);
  EXPECT_EQ(g.PixelIndex(3, 0), 9);
  EXPECT_EQ(g.PixelIndex(4, 0), 0);

  const Bytes rle4 = {5, 0x12, 0, 3, 0xAB, 0xC0, 0, 1};  // 1 2 1 2 1 A B C
  const Bytes b4 = MakeDib(8, 1, 4, 2, GreyTable(16), rle4);
  g.LoadFromDIBBlock(b4.data(), b4.size());
  EXPECT_EQ(g.ImageFormat(), ifGray16);
  const int row[8] = {1, 2, 1, 2, 1, 10, 11, 12};
  for (int x = 0; x < 8; ++x) EXPECT_EQ(g.PixelIndex(x, 0), row[x]) << x;
}

TEST(DibBlock, RunLengthThatOverrunsTheImageIsCutOff) {
  // Runs past the right edge, jumps past the top, literal runs that end
  // early: nothing is written outside the image.
  const Bytes rle = {255, 7, 0, 2, 255, 255, 0, 200, 1, 2};
  const Bytes b = MakeDib(4, 2, 8, 1, GreyTable(256), rle);
  TDibGraphic g;
  g.LoadFromDIBBlock(b.data(), b.size());
  for (int x = 0; x < 4; ++x) EXPECT_EQ(g.PixelIndex(x, 1), 7);
}

struct Hostile {
  const char* name;
  std::function<void(Bytes&)> damage;
  const char* message;
};

void PrintTo(const Hostile& h, std::ostream* os) {
  *os << h.name;
}

class HostileDib : public ::testing::TestWithParam<Hostile> {};

TEST_P(HostileDib, Raises) {
  Bytes b = MakeDib(16, 16, 8, 0, GreyTable(256), Bytes(16 * 16, 1));
  GetParam().damage(b);
  TDibGraphic g;
  g.NewImage(2, 2, ifTrueColor, nullptr, 72, 72);
  EXPECT_EQ(MessageOf([&] { g.LoadFromDIBBlock(b.data(), b.size()); }), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, HostileDib,
    ::testing::Values(
        Hostile{"Short", [](Bytes& b) { Truncate(b, 39); }, "Invalid HDIB"},
        Hostile{"TruncatedRows", [](Bytes& b) { Truncate(b, b.size() - 1); }, "Invalid HDIB"},
        Hostile{"TruncatedTable", [](Bytes& b) { Truncate(b, 40 + 100); }, "Invalid HDIB"},
        Hostile{"SmallHeaderSize", [](Bytes& b) { Put32(b, 0, 12); }, "Invalid HDIB"},
        Hostile{"HugeHeaderSize", [](Bytes& b) { Put32(b, 0, 0x7FFFFFFF); }, "Invalid HDIB"},
        Hostile{"HugeWidth", [](Bytes& b) { Put32(b, 4, 0x7FFFFFFF); }, "Invalid HDIB"},
        Hostile{"NegativeWidth", [](Bytes& b) { Put32(b, 4, 0xFFFFFFF0); }, "Invalid HDIB"},
        Hostile{"ZeroHeight", [](Bytes& b) { Put32(b, 8, 0); }, "Invalid HDIB"},
        Hostile{"HugeHeight", [](Bytes& b) { Put32(b, 8, 0x40000000); }, "Invalid HDIB"},
        Hostile{"TooManyColours", [](Bytes& b) { Put32(b, 32, 0xFFFFFFFF); }, "Invalid HDIB"},
        Hostile{"BitCount2", [](Bytes& b) { Put16(b, 14, 2); }, "Unsupported bit count"},
        Hostile{"BitCount0", [](Bytes& b) { Put16(b, 14, 0); }, "Unsupported bit count"},
        Hostile{"Jpeg", [](Bytes& b) { Put32(b, 16, 4); }, "Unsupported compression"},
        Hostile{"Rle4On8Bits", [](Bytes& b) { Put32(b, 16, 2); }, "Unsupported compression"},
        Hostile{"RleWithoutSize", [](Bytes& b) { Put32(b, 16, 1), Put32(b, 20, 0); },
                "Invalid HDIB"},
        Hostile{"RleSizePastEnd", [](Bytes& b) { Put32(b, 16, 1), Put32(b, 20, 1 << 20); },
                "Invalid HDIB"},
        Hostile{"BitFieldsShort",
                [](Bytes& b) { Put16(b, 14, 32), Put32(b, 16, 3), Put32(b, 4, 32); },
                "Invalid HDIB"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DibBlock, RandomDamageNeverCrashes) {
  // Flipped header and data bytes: every outcome is an image or an
  // exception, never a read outside the block (ASan watches this one).
  const Bytes good[] = {
      MakeDib(9, 5, 8, 1, GreyTable(256), {3, 5, 0, 4, 1, 2, 3, 4, 0, 2, 1, 1, 2, 9, 0, 0, 0, 1}),
      MakeDib(9, 5, 4, 2, GreyTable(16), {3, 0x51, 0, 5, 1, 2, 3, 0, 0, 1}),
      MakeDib(3, 2, 16, 3, {0xF800, 0x07E0, 0x001F}, Bytes(16, 0x5A)),
      MakeDib(3, 2, 24, 0, {}, Bytes(24, 0x5A))};
  std::mt19937 random(7);
  for (int round = 0; round < 4000; ++round) {
    Bytes b = good[round % 4];
    const int flips = 1 + random() % 4;
    for (int i = 0; i < flips; ++i) b[random() % b.size()] = random() & 0xFF;
    if (random() % 3 == 0) Truncate(b, random() % b.size());
    TDibGraphic g;
    try {
      g.LoadFromDIBBlock(b.data(), b.size());
    } catch (const Exception&) {
    }
  }
}

// --- BMP streams -----------------------------------------------------------------

TEST(BmpStream, SavedBlockHasTheFileHeaderAndReadsBack) {
  TDibGraphic g;
  g.NewImage(5, 3, ifColor16, nullptr, 150, 150);
  g.SetPixels(4, 2, 0xFF55FF);
  const Bytes block = g.SaveToDIBBlock();
  TMemoryStream stream;
  SaveDIBBlockToStream(block.data(), block.size(), stream);
  ASSERT_EQ(stream.Size(), static_cast<std::int64_t>(14 + block.size()));
  const std::uint8_t* m = stream.Memory();
  EXPECT_EQ(m[0], 'B');
  EXPECT_EQ(m[1], 'M');
  auto at32 = [&](int i) { return m[i] | m[i + 1] << 8 | m[i + 2] << 16 | m[i + 3] << 24; };
  EXPECT_EQ(at32(2), 54 + 64 + 12);  // 16 colours, 3 rows of 4 bytes
  EXPECT_EQ(at32(6), 0);
  EXPECT_EQ(at32(10), 54 + 64);
  EXPECT_EQ(std::memcmp(m + 14, block.data(), block.size()), 0);

  stream.SetPosition(0);
  TDibGraphic back;
  ReadBmpStream(stream, back);
  EXPECT_EQ(back.SaveToDIBBlock(), block);
  EXPECT_EQ(back.Pixels(4, 2), 0xFF55FFu);
}

TEST(BmpStream, TwoBitmapsInOneStreamReadOneAfterTheOther) {
  TMemoryStream stream;
  for (std::uint32_t colour : {0x102030u, 0x405060u}) {
    TDibGraphic g;
    g.NewImage(3, 2, ifTrueColor, nullptr, 96, 96);
    g.Fill(colour);
    const Bytes block = g.SaveToDIBBlock();
    SaveDIBBlockToStream(block.data(), block.size(), stream);
  }
  stream.SetPosition(0);
  TDibGraphic first, second;
  ReadBmpStream(stream, first);
  ReadBmpStream(stream, second);
  EXPECT_EQ(first.Pixels(2, 1), 0x102030u);
  EXPECT_EQ(second.Pixels(2, 1), 0x405060u);
  EXPECT_EQ(stream.Position(), stream.Size());
}

TEST(DibBlock, ItsSizeIsWhatTheHeaderDescribesAndNoByteLess) {
  // 3 x 2 at 8 bits: 40 + 1024 + 2 rows of 4 bytes; 24 bits with masks.
  for (const auto& [bits, compression, expected] :
       {std::tuple{8, 0u, 40 + 1024 + 8}, std::tuple{24, 0u, 40 + 2 * 12},
        std::tuple{32, 3u, 40 + 12 + 2 * 12}}) {
    Bytes dib = MakeDib(3, 2, bits, compression, {}, {});
    dib.resize(expected + 5);  // a source may hand over a larger block
    EXPECT_EQ(DIBBlockBytes(dib.data(), dib.size()), static_cast<std::uint64_t>(expected)) << bits;
    const std::size_t shortBy1 = static_cast<std::size_t>(expected - 1);
    EXPECT_EQ(MessageOf([&] { DIBBlockBytes(dib.data(), shortBy1); }), "Invalid HDIB") << bits;
  }
}

TEST(BmpStream, CompressedBlockWithoutImageSizeIsInvalid) {
  Bytes b = MakeDib(2, 2, 8, 1, GreyTable(256), {0, 1});
  Put32(b, 20, 0);
  TMemoryStream stream;
  EXPECT_EQ(MessageOf([&] { SaveDIBBlockToStream(b.data(), b.size(), stream); }), "Invalid HDIB");
  EXPECT_EQ(stream.Size(), 0);
}

TEST(BmpStream, ReaderTakesOs2HeadersAndTopDownRows) {
  // OS/2: 12-byte header, three-byte colour entries.
  Bytes os2(12 + 6 + 4, 0);
  Put32(os2, 0, 12);
  Put16(os2, 4, 2);
  Put16(os2, 6, 1);
  Put16(os2, 8, 1);
  Put16(os2, 10, 1);
  os2[12] = 0x00, os2[13] = 0x00, os2[14] = 0xFF;  // entry 0: red
  os2[15] = 0xFF, os2[16] = 0x00, os2[17] = 0x00;  // entry 1: blue
  os2[18] = 0x40;                                  // pixels 0, 1
  TDibLayout l = ParseDibHeader(os2.data(), os2.size());
  TDibGraphic g;
  DecodeDib(os2.data(), l, g);
  EXPECT_EQ(g.Pixels(0, 0), 0xFF0000u);
  EXPECT_EQ(g.Pixels(1, 0), 0x0000FFu);

  // Top-down: the first row in the data is the top row.
  Bytes pixels(8, 0);
  pixels[0] = 0xAA;
  const Bytes topDown = MakeDib(1, -2, 24, 0, {}, pixels);
  g.LoadFromDIBBlock(topDown.data(), topDown.size());
  EXPECT_EQ(g.Height(), 2);
  EXPECT_EQ(g.Pixels(0, 0), 0x0000AAu);
  EXPECT_EQ(g.Pixels(0, 1), 0u);
}

TEST(BmpStream, NotABitmapIsRefused) {
  TMemoryStream stream;
  stream.WriteBuffer("PK\3\4 not a bitmap", 17);
  stream.SetPosition(0);
  TDibGraphic g;
  EXPECT_EQ(MessageOf([&] { ReadBmpStream(stream, g); }), "Bitmap image is not valid");
}

// --- assignment -------------------------------------------------------------------

TEST(DibAssign, CopiesPixelsPaletteResolutionDelayAndFrames) {
  TDibGraphic source;
  source.NewImage(3, 3, ifColor256, nullptr, 96, 120);
  source.SetPixels(1, 1, 0xAA00AA);
  source.SetFrameDelay(50);
  auto frame = std::make_unique<TDibGraphic>();
  frame->NewImage(2, 2, ifGray16, nullptr, 0, 0);
  source.AddFrame(std::move(frame));

  TDibGraphic dest;
  dest.Assign(&source);
  EXPECT_EQ(dest.SaveToDIBBlock(), source.SaveToDIBBlock());
  EXPECT_EQ(dest.FrameDelay(), 50);
  ASSERT_EQ(dest.FrameCount(), 1);
  EXPECT_NE(dest.Frames(1), source.Frames(1));
  EXPECT_EQ(dest.Frames(1)->ImageFormat(), ifGray16);

  TDibGraphic empty;
  dest.Assign(&empty);  // a 0 x 0 source: pixels stay, frames go
  EXPECT_EQ(dest.Width(), 3);
  EXPECT_EQ(dest.FrameCount(), 0);
  dest.Assign(nullptr);
  EXPECT_TRUE(dest.Empty());
  EXPECT_EQ(MessageOf([&] { (void)dest.SaveToDIBBlock(); }), "Graphic is empty");
}

TEST(DibAssign, FromOneOfItsOwnFrames) {
  TDibGraphic image;
  image.NewImage(3, 3, ifGray256, nullptr, 0, 0);
  for (int level : {40, 90}) {
    auto frame = std::make_unique<TDibGraphic>();
    frame->NewImage(2, 1, ifGray256, nullptr, 0, 0);
    frame->SetPixelIndex(1, 0, level);
    image.AddFrame(std::move(frame));
  }
  image.Assign(image.Frames(2));  // the frame is freed with the list it is read from
  EXPECT_EQ(image.Width(), 2);
  EXPECT_EQ(image.PixelIndex(1, 0), 90);
  EXPECT_EQ(image.FrameCount(), 0);
}

TEST(DibAssign, TakeImageMovesThePixelsAndEmptiesTheSource) {
  TDibGraphic source;
  source.NewImage(5, 4, ifColor256, nullptr, 150, 300);
  source.SetPixels(2, 3, 0xAA00AA);
  source.SetFrameDelay(70);
  const auto expected = source.SaveToDIBBlock();
  const std::uint8_t* pixels = source.PixelMemory();

  TDibGraphic dest;
  dest.NewImage(9, 9, ifTrueColor, nullptr, 0, 0);  // replaced, not mixed in
  dest.TakeImageFrom(source);
  EXPECT_EQ(dest.SaveToDIBBlock(), expected);
  EXPECT_EQ(dest.PixelMemory(), pixels);
  EXPECT_EQ(dest.FrameDelay(), 70);
  EXPECT_TRUE(source.Empty());
  // The taken palette still maps colours: the converter follows the pixels.
  dest.SetPixels(0, 0, 0xAA00AA);
  EXPECT_EQ(dest.Pixels(0, 0), dest.Pixels(2, 3));
  // The emptied source takes a new image as any other.
  source.NewImage(1, 1, ifGray256, nullptr, 0, 0);
  EXPECT_EQ(source.Width(), 1);
}

TEST(DibFrames, SelectingAnEmptyFrameLeavesThePixels) {
  TDibGraphic image;
  image.NewImage(2, 2, ifGray256, nullptr, 0, 0);
  image.SetPixelIndex(1, 1, 77);
  image.AddFrame(std::make_unique<TDibGraphic>());
  image.SetCurrentFrame(1);
  EXPECT_EQ(image.CurrentFrame(), 1);
  EXPECT_EQ(image.PixelIndex(1, 1), 77);
}

// --- multi-image streams and frames --------------------------------------------------

// A format whose stream is a count byte followed by one grey level per image,
// each image 2 x 1 pixels; it counts the calls it gets.
class TLevelGraphic : public TDibGraphic {
 public:
  const char* ClassName() const noexcept override { return "TLevelGraphic"; }
  std::unique_ptr<TDibGraphic> CreateNew() const override {
    return std::make_unique<TLevelGraphic>();
  }
  int GetImageCount(TStream& stream) override {
    std::uint8_t n = 0;
    stream.ReadBuffer(&n, 1);
    return n;
  }
  void LoadImageFromStream(TStream& stream, int index) override {
    Bytes all(static_cast<std::size_t>(stream.Size() - stream.Position()));
    stream.ReadBuffer(all.data(), static_cast<std::int64_t>(all.size()));
    NewImage(2, 1, ifGray256, nullptr, 0, 0);
    SetPixelIndex(0, 0, all.at(index));
    ++loads;
  }
  void SaveToStream(TStream& stream) override {
    ++saves;
    const std::uint8_t level = static_cast<std::uint8_t>(PixelIndex(0, 0));
    stream.WriteBuffer(&level, 1);
  }
  void AppendToStream(TStream& stream) override {
    ++appends;
    const std::uint8_t level = static_cast<std::uint8_t>(PixelIndex(0, 0));
    stream.WriteBuffer(&level, 1);
  }
  int loads = 0, saves = 0, appends = 0;
};

TEST(DibFrames, SaveImagesToStreamSavesOnceThenAppends) {
  TLevelGraphic writer;
  TMemoryStream stream;
  int freed = 0;
  struct Counted : TDibGraphic {
    int* freed;
    explicit Counted(int* f) : freed(f) {}
    ~Counted() override { ++*freed; }
  };
  auto get = [&](int index, bool& freeIt) -> TGraphic* {
    auto* g = new Counted(&freed);
    g->NewImage(2, 1, ifGray256, nullptr, 0, 0);
    g->SetPixelIndex(0, 0, 10 * index);
    freeIt = true;
    return g;
  };
  writer.SaveImagesToStream(stream, 0, get);
  EXPECT_EQ(stream.Size(), 0);
  writer.SaveImagesToStream(stream, 3, get);
  EXPECT_EQ(writer.saves, 1);
  EXPECT_EQ(writer.appends, 2);
  EXPECT_EQ(freed, 3);
  ASSERT_EQ(stream.Size(), 3);
  EXPECT_EQ(stream.Memory()[2], 30);
}

TEST(DibFrames, LoadAllFramesFillsTheListAndShowsFrameOne) {
  TMemoryStream stream;
  const std::uint8_t data[] = {3, 11, 22, 33};  // a count, then one level per image
  stream.WriteBuffer(data, sizeof data);
  stream.SetPosition(0);
  TLevelGraphic g;
  g.SetLoadAllFrames(true);
  g.LoadFromStream(stream);
  ASSERT_EQ(g.FrameCount(), 3);
  EXPECT_EQ(g.CurrentFrame(), 1);
  EXPECT_EQ(g.PixelIndex(0, 0), 11);
  EXPECT_STREQ(g.Frames(2)->ClassName(), "TLevelGraphic");
  EXPECT_EQ(g.Frames(3)->PixelIndex(0, 0), 33);
  for (int bad : {0, 4, -1})
    EXPECT_EQ(MessageOf([&] { g.Frames(bad); }), Format("Frame %d does not exist", bad));

  int changes = 0;
  g.OnChange = [&](TObject*) { ++changes; };
  g.AnimationTick();
  g.AnimationTick();
  EXPECT_EQ(g.CurrentFrame(), 3);
  EXPECT_EQ(g.PixelIndex(0, 0), 33);
  g.AnimationTick();  // after the last comes the first
  EXPECT_EQ(g.CurrentFrame(), 1);
  g.SetCurrentFrame(1);  // already shown: nothing happens
  EXPECT_EQ(changes, 3);
  EXPECT_EQ(MessageOf([&] { g.SetCurrentFrame(9); }), "Frame 9 does not exist");

  // A later single-image load frees the frames: no animation step may bring
  // an old frame back over the new image.
  stream.SetPosition(0);
  g.SetLoadAllFrames(false);
  g.SetImageIndex(2);
  g.LoadFromStream(stream);
  EXPECT_EQ(g.FrameCount(), 0);
  EXPECT_EQ(g.PixelIndex(0, 0), 22);
  g.AnimationTick();
  EXPECT_EQ(g.PixelIndex(0, 0), 22);
}

TEST(DibFrames, LoadAllFramesWithOneImageLoadsItDirectly) {
  TMemoryStream stream;
  const std::uint8_t data[] = {1, 44, 55};
  stream.WriteBuffer(data, sizeof data);
  stream.SetPosition(0);
  TLevelGraphic g;
  g.SetLoadAllFrames(true);
  g.SetImageIndex(1);
  g.LoadFromStream(stream);
  EXPECT_FALSE(g.LoadAllFrames());
  EXPECT_EQ(g.FrameCount(), 0);
  EXPECT_EQ(g.loads, 1);
  EXPECT_EQ(g.PixelIndex(0, 0), 44);  // read from the start again, image 1
}

TEST(DibFrames, BaseClassRefusesToAppend) {
  TDibGraphic g;
  TMemoryStream stream;
  EXPECT_EQ(MessageOf([&] { g.AppendToStream(stream); }),
            "The TDibGraphic format does not support multiple images");
  EXPECT_FALSE(g.IsValidStream(stream));
  EXPECT_EQ(g.GetImageCount(stream), 1);
}

}  // namespace
}  // namespace lumetra
