// Appending pages to a TIFF document that a crash, a kill or a full disk
// may interrupt at any write: the document must stay readable as the pages
// before or the pages after, and the next append must add its page.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/format_images.h"
#include "formats/tiff_graphic.h"

namespace lumetra {
namespace {

using testing::MakePatterned;
using testing::SamePixels;

// A disk holding Bytes that the process dies on: its Kth write from now
// never happens, and from then on nothing reaches it (a killed process runs
// no clean-up).
class DyingDisk : public TMemoryStream {
 public:
  DyingDisk(TMemoryStream& bytes, int dieAtWrite) : dieAt_(dieAtWrite) {
    TMemoryStream::Write(bytes.Memory(), bytes.Size());
    SetPosition(0);
  }
  std::int64_t Write(const void* buffer, std::int64_t count) override {
    if (++writes_ >= dieAt_) throw EWriteError("killed");
    return TMemoryStream::Write(buffer, count);
  }
  void SetSize(std::int64_t newSize) override {
    if (writes_ >= dieAt_) throw EWriteError("killed");
    TMemoryStream::SetSize(newSize);
  }
  int Writes() const { return writes_; }

 private:
  int dieAt_;
  int writes_ = 0;
};

std::vector<std::unique_ptr<TTiffGraphic>> Pages() {
  std::vector<std::unique_ptr<TTiffGraphic>> pages;
  pages.push_back(MakePatterned<TTiffGraphic>(ifBlackWhite, 40, 30));
  pages.push_back(MakePatterned<TTiffGraphic>(ifGray256, 20, 12));
  pages.push_back(MakePatterned<TTiffGraphic>(ifTrueColor, 16, 9));
  pages.push_back(MakePatterned<TTiffGraphic>(ifColor16, 11, 7));
  return pages;
}

// Stream holds exactly the Expected pages, each readable and equal.
void ExpectPages(TMemoryStream& stream, const std::vector<const TDibGraphic*>& expected) {
  stream.SetPosition(0);
  ASSERT_EQ(TTiffGraphic().GetImageCount(stream), static_cast<int>(expected.size()));
  for (std::size_t i = 0; i < expected.size(); ++i) {
    TTiffGraphic page;
    stream.SetPosition(0);
    page.LoadImageFromStream(stream, static_cast<int>(i) + 1);
    EXPECT_TRUE(SamePixels(*expected[i], page)) << "page " << i + 1;
  }
}

TEST(TiffAppend, KilledAtAnyWriteLeavesTheOldOrTheNewDocumentAndTheNextAppendWorks) {
  auto pages = Pages();
  TMemoryStream document;
  pages[0]->SaveToStream(document);
  pages[1]->AppendToStream(document);

  DyingDisk whole(document, 1 << 30);
  pages[2]->AppendToStream(whole);
  const int writes = whole.Writes();
  ASSERT_GT(writes, 2);

  int sawOld = 0, sawNew = 0;
  for (int k = 1; k <= writes; ++k) {
    SCOPED_TRACE(::testing::Message() << "killed at write " << k << " of " << writes);
    DyingDisk disk(document, k);
    EXPECT_THROW(pages[2]->AppendToStream(disk), Exception);
    TMemoryStream left;
    left.WriteBuffer(disk.Memory(), disk.Size());
    left.SetPosition(0);
    const int count = TTiffGraphic().GetImageCount(left);
    ASSERT_TRUE(count == 2 || count == 3) << count;
    (count == 2 ? sawOld : sawNew)++;
    std::vector<const TDibGraphic*> expected{pages[0].get(), pages[1].get()};
    if (count == 3) expected.push_back(pages[2].get());
    ExpectPages(left, expected);

    pages[3]->AppendToStream(left);
    expected.push_back(pages[3].get());
    ExpectPages(left, expected);
  }
  // Only the very last write (the link) makes the page part of the document.
  EXPECT_EQ(sawNew, 0);
  EXPECT_EQ(sawOld, writes);
}

// What an append interrupted by an older writer (one that linked the page
// before writing it) leaves behind.
enum class Damage { PastTheEnd, ZeroedDirectory, LoopToTheFirst, CutDirectory };

class DamagedTail : public ::testing::TestWithParam<Damage> {};

TEST_P(DamagedTail, IsCutOnAppendAndThePageIsAdded) {
  auto pages = Pages();
  TMemoryStream document;
  pages[0]->SaveToStream(document);
  pages[1]->AppendToStream(document);
  // The classic little-endian chain: header link at 4, then each directory's.
  auto u32 = [&](std::int64_t at) {
    std::uint32_t v;
    std::memcpy(&v, document.Memory() + at, 4);
    return v;
  };
  auto put = [&](std::int64_t at, std::uint32_t v) { std::memcpy(document.Memory() + at, &v, 4); };
  const std::uint32_t first = u32(4);
  const std::uint32_t second = u32(first + 2 + 12 * (u32(first) & 0xFFFF));
  const std::int64_t lastLink = second + 2 + 12 * (u32(second) & 0xFFFF);
  ASSERT_EQ(u32(lastLink), 0u);
  const auto size = static_cast<std::uint32_t>(document.Size());
  switch (GetParam()) {
    case Damage::PastTheEnd:
      put(lastLink, size + 1000);
      break;
    case Damage::ZeroedDirectory: {
      const std::vector<std::uint8_t> zeros(600);
      document.SetPosition(size);
      document.WriteBuffer(zeros.data(), 600);
      put(lastLink, size + 100);
      break;
    }
    case Damage::LoopToTheFirst:
      put(lastLink, first);
      break;
    case Damage::CutDirectory: {
      const std::uint8_t count[2] = {20, 0};  // 20 entries, file ends after 3
      document.SetPosition(size);
      document.WriteBuffer(count, 2);
      const std::vector<std::uint8_t> entries(36, 1);
      document.WriteBuffer(entries.data(), 36);
      put(lastLink, size);
      break;
    }
  }
  ExpectPages(document, {pages[0].get(), pages[1].get()});
  pages[2]->AppendToStream(document);
  ExpectPages(document, {pages[0].get(), pages[1].get(), pages[2].get()});
  pages[3]->AppendToStream(document);
  ExpectPages(document, {pages[0].get(), pages[1].get(), pages[2].get(), pages[3].get()});
}

INSTANTIATE_TEST_SUITE_P(Tails, DamagedTail,
                         ::testing::Values(Damage::PastTheEnd, Damage::ZeroedDirectory,
                                           Damage::LoopToTheFirst, Damage::CutDirectory));

// A disk that fills up after Room bytes and says so.
class SmallDisk : public TMemoryStream {
 public:
  explicit SmallDisk(std::int64_t room) : room_(room) {}
  std::int64_t Write(const void* buffer, std::int64_t count) override {
    if (Position() + count > room_) throw EWriteError("Cannot write file \"doc.tif\": disk full");
    return TMemoryStream::Write(buffer, count);
  }

 private:
  std::int64_t room_;
};

TEST(TiffAppend, FullDiskLeavesTheDocumentByteForByteAndSaysWhy) {
  auto pages = Pages();
  TMemoryStream document;
  pages[0]->SaveToStream(document);
  SmallDisk disk(document.Size() + 300);
  disk.WriteBuffer(document.Memory(), document.Size());
  auto big = MakePatterned<TTiffGraphic>(ifTrueColor, 64, 64);
  big->SetCompression(tcNone);
  const std::string message = testing::MessageOf([&] { big->AppendToStream(disk); });
  EXPECT_NE(message.find("disk full"), std::string::npos) << message;
  EXPECT_TRUE(testing::StartsWith(message, "ETiffError "));
  ASSERT_EQ(disk.Size(), document.Size());
  EXPECT_EQ(std::memcmp(disk.Memory(), document.Memory(), document.Size()), 0);
}

}  // namespace
}  // namespace lumetra
