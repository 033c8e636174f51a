// Multi-page TIFF files in streams: appending, walking the pages, leaving
// the bytes around the file alone, and the errors a read or write reports.
#include "formats/tiff_graphic.h"

#include <tiffio.h>

#include <vector>

#include "raw_tiff.h"
#include "support/format_images.h"

namespace lumetra {
namespace {

using namespace testing;  // raw files, patterns and comparators

TEST(TiffGraphic, AppendToEmptyStreamWritesOnePage) {
  auto image = MakePatterned<TTiffGraphic>(ifGray256, 6, 6);
  TMemoryStream stream;
  image->AppendToStream(stream);
  stream.SetPosition(0);
  EXPECT_EQ(TTiffGraphic().GetImageCount(stream), 1);
}

TEST(TiffGraphic, AppendedPagesFollowInOrder) {
  TMemoryStream stream;
  std::vector<std::unique_ptr<TTiffGraphic>> pages;
  const TImageFormat formats[] = {ifBlackWhite, ifTrueColor, ifColor256, ifGray16};
  for (int i = 0; i < 4; ++i) {
    pages.push_back(MakePatterned<TTiffGraphic>(formats[i], 10 + i, 7 + i));
    if (i == 0)
      pages[0]->SaveToStream(stream);
    else
      pages[i]->AppendToStream(stream);
  }
  stream.SetPosition(0);
  EXPECT_EQ(TTiffGraphic().GetImageCount(stream), 4);
  for (int i = 0; i < 4; ++i) {
    stream.SetPosition(0);
    TTiffGraphic page;
    page.LoadImageFromStream(stream, i + 1);
    EXPECT_TRUE(SamePixels(*pages[i], page)) << "page " << i + 1;
  }
}

// Counts the stream calls a reader makes.
class CountingStream : public TMemoryStream {
 public:
  std::int64_t Read(void* buffer, std::int64_t count) override {
    ++calls;
    return TMemoryStream::Read(buffer, count);
  }
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override {
    ++calls;
    return TMemoryStream::Seek(offset, origin);
  }
  long calls = 0;
};

TEST(TiffGraphic, ReadingEveryPageWalksTheChainOnce) {
  CountingStream stream;
  auto page = MakePatterned<TTiffGraphic>(ifBlackWhite, 8, 2);
  constexpr int kPages = 400;
  page->SaveToStream(stream);
  for (int i = 1; i < kPages; ++i) page->AppendToStream(stream);
  stream.SetPosition(0);
  stream.calls = 0;
  TTiffPageReader reader(stream);
  ASSERT_EQ(reader.Count(), kPages);
  TTiffGraphic back;
  for (int i = 1; i <= kPages; ++i) reader.Read(i, back);
  EXPECT_TRUE(SamePixels(*page, back));
  EXPECT_EQ(reader.Damage(), "");
  // Walking from the first directory for every page would take some
  // hundred thousand calls here.
  EXPECT_LT(stream.calls, 40L * kPages);

  stream.SetPosition(0);
  stream.calls = 0;
  TTiffGraphic all;
  all.SetLoadAllFrames(true);
  all.LoadFromStream(stream);
  ASSERT_EQ(all.FrameCount(), kPages);
  EXPECT_TRUE(SamePixels(*page, *all.Frames(kPages)));
  EXPECT_LT(stream.calls, 60L * kPages);
}

// The walk reads directories without the custom tags; a page read after it,
// or straight in order, must still get its own annotation and no other's.
TEST(TiffGraphic, EachPageKeepsItsOwnAnnotationWhicheverWayItIsReached) {
  TMemoryStream stream;
  const char* notes[] = {"first", "", "third", ""};
  for (const char* note : notes) {
    auto page = MakePatterned<TTiffGraphic>(ifGray256, 4, 3);
    page->SetCustomTagValue(note);
    page->AppendToStream(stream);
  }
  for (const bool countFirst : {true, false}) {
    stream.SetPosition(0);
    TTiffPageReader reader(stream);
    if (countFirst) {
      ASSERT_EQ(reader.Count(), 4);
    }
    for (const int index : {3, 1, 2, 4, 3}) {
      TTiffGraphic page;
      reader.Read(index, page);
      EXPECT_EQ(page.CustomTagValue(), notes[index - 1]) << index << (countFirst ? " after a count" : "");
    }
    TTiffGraphic again;
    reader.Read(1, again);
    EXPECT_EQ(again.CustomTagValue(), "first");
  }
}

TEST(TiffGraphic, LoadAllFramesReadsEveryPage) {
  TMemoryStream stream;
  auto first = MakePatterned<TTiffGraphic>(ifGray256, 5, 5);
  auto second = MakePatterned<TTiffGraphic>(ifTrueColor, 3, 4);
  first->SaveToStream(stream);
  second->AppendToStream(stream);
  stream.SetPosition(0);
  TTiffGraphic all;
  all.SetLoadAllFrames(true);
  all.LoadFromStream(stream);
  ASSERT_EQ(all.FrameCount(), 2);
  EXPECT_TRUE(SamePixels(*second, *all.Frames(2)));
}

TEST(TiffGraphic, BytesBeforeTheFileStayUntouched) {
  TMemoryStream stream;
  std::vector<std::uint8_t> prefix(100);
  for (int i = 0; i < 100; ++i) prefix[i] = static_cast<std::uint8_t>(i * 7 + 1);
  stream.WriteBuffer(prefix.data(), 100);
  auto image = MakePatterned<TTiffGraphic>(ifTrueColor, 11, 9);
  image->DateTime = "2026:01:02 03:04:05";
  image->SaveToStream(stream);
  EXPECT_EQ(std::memcmp(stream.Memory(), prefix.data(), 100), 0);
  const std::vector<std::uint8_t> alone = Save(*image);
  ASSERT_EQ(stream.Size(), 100 + static_cast<std::int64_t>(alone.size()));
  EXPECT_EQ(std::memcmp(stream.Memory() + 100, alone.data(), alone.size()), 0);
  stream.SetPosition(100);
  EXPECT_EQ(TTiffGraphic().GetImageCount(stream), 1);
  stream.SetPosition(100);
  TTiffGraphic back;
  back.LoadImageFromStream(stream, 1);
  EXPECT_TRUE(SamePixels(*image, back));
}

TEST(TiffGraphic, SignatureCheckRewindsTheStream) {
  for (const char* head : {"II*\0", "MM\0*"}) {
    TMemoryStream s;
    s.WriteBuffer(head, 4);
    s.SetPosition(0);
    EXPECT_TRUE(TTiffGraphic().IsValidStream(s));
    EXPECT_EQ(s.Position(), 0);
  }
  TMemoryStream shortStream;
  shortStream.WriteBuffer("II*", 3);
  shortStream.SetPosition(0);
  EXPECT_FALSE(TTiffGraphic().IsValidStream(shortStream));
  EXPECT_EQ(shortStream.Position(), 0);
}

TEST(TiffGraphic, ProgressRunsFromZeroToHundred) {
  auto image = MakePatterned<TTiffGraphic>(ifGray256, 50, 300);
  std::vector<int> seen;
  image->OnReadWriteProgress = [&](TObject*, std::uint8_t p) { seen.push_back(p); };
  const auto bytes = Save(*image);
  ASSERT_GE(seen.size(), 3u);
  EXPECT_EQ(seen.front(), 0);
  EXPECT_EQ(seen.back(), 100);
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_EQ(std::adjacent_find(seen.begin(), seen.end()), seen.end());
}

// --- errors ---------------------------------------------------------------------------

TEST(TiffGraphic, ErrorTexts) {
  TMemoryStream garbage;
  garbage.WriteBuffer("not a tiff at all", 17);
  garbage.SetPosition(0);
  // libtiff's own reason follows the detail.
  EXPECT_TRUE(testing::StartsWith(MessageOf([&] { TTiffGraphic().LoadImageFromStream(garbage, 1); }),
                                  "ETiffError TIFFOpen: Stream: Not a TIFF"));

  RawTiff layout;
  layout.writeBits = false;
  layout.fill = [](std::uint8_t*, int) {};
  EXPECT_EQ(MessageOf([&] { Load(WriteRaw(layout)); }), "ETiffError Bits per sample not specified");

  RawTiff thunder;
  thunder.bits = 4;
  thunder.compression = COMPRESSION_THUNDERSCAN;
  thunder.fill = [](std::uint8_t*, int) {};
  EXPECT_EQ(MessageOf([&] { Load(WriteRaw(thunder)); }),
            "ETiffError Unsupported compression tag, 32809");
}

// A file stream that refuses writes after a number of bytes.
class FullDisk : public TMemoryStream {
 public:
  explicit FullDisk(std::int64_t room) : room_(room) {}
  std::int64_t Write(const void* buffer, std::int64_t count) override {
    if (Size() + count > room_) return 0;
    return TMemoryStream::Write(buffer, count);
  }

 private:
  std::int64_t room_;
};

TEST(TiffGraphic, FailedWriteIsReported) {
  auto image = MakePatterned<TTiffGraphic>(ifTrueColor, 800, 800);
  image->SetCompression(tcNone);
  image->SetRowsPerStrip(16);
  FullDisk disk(4096);
  EXPECT_TRUE(testing::StartsWith(MessageOf([&] { image->SaveToStream(disk); }),
                                  "ETiffError TIFFWriteScanLine: TIFFAppendToStrip: Write error"));
}

TEST(TiffGraphic, PageBeyondTheFileIsAnError) {
  auto image = MakePatterned<TTiffGraphic>(ifGray256, 4, 4);
  const auto bytes = Save(*image);
  EXPECT_THROW(Load(bytes, 2), ETiffError);
  EXPECT_THROW(Load(bytes, 0), ETiffError);
}

TEST(TiffGraphic, EmptyImageIsNotWritten) {
  TTiffGraphic empty;
  TMemoryStream s;
  EXPECT_THROW(empty.SaveToStream(s), ELumetraError);
  EXPECT_EQ(s.Size(), 0);
}

}  // namespace
}  // namespace lumetra
