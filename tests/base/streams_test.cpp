#include "base/streams.h"

#include <gtest/gtest.h>

#include <numeric>

#include "base/exception.h"
#include "platform/platform.h"

namespace lumetra {
namespace {

std::vector<std::uint8_t> Bytes(std::size_t n) {
  std::vector<std::uint8_t> v(n);
  std::iota(v.begin(), v.end(), std::uint8_t{0});
  return v;
}

TEST(MemoryStream, WriteReadSeekAndGrowth) {
  TMemoryStream s;
  const auto data = Bytes(100000);
  s.WriteBuffer(data.data(), static_cast<std::int64_t>(data.size()));
  EXPECT_EQ(s.Size(), 100000);
  EXPECT_EQ(s.Position(), 100000);
  s.SetPosition(99990);
  std::uint8_t tail[20] = {};
  EXPECT_EQ(s.Read(tail, 20), 10);  // short read at the end, no error
  EXPECT_EQ(tail[9], data[99999]);
  EXPECT_THROW(s.ReadBuffer(tail, 1), EReadError);
  EXPECT_EQ(s.Seek(-5, soEnd), 99995);
  EXPECT_EQ(s.Seek(2, soCurrent), 99997);
}

TEST(MemoryStream, WritingPastTheEndZeroFillsTheGap) {
  TMemoryStream s;
  s.SetPosition(10);
  const std::uint8_t b = 0xAB;
  s.WriteBuffer(&b, 1);
  ASSERT_EQ(s.Size(), 11);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(s.Memory()[i], 0) << i;
  EXPECT_EQ(s.Memory()[10], 0xAB);
}

TEST(MemoryStream, SetSizeTruncatesAndClampsThePosition) {
  TMemoryStream s;
  const auto data = Bytes(64);
  s.WriteBuffer(data.data(), 64);
  s.SetSize(16);
  EXPECT_EQ(s.Size(), 16);
  EXPECT_EQ(s.Position(), 16);
  s.SetSize(32);
  EXPECT_EQ(s.Memory()[20], 0);
  EXPECT_EQ(s.Memory()[15], 15);
}

TEST(Stream, CopyFromCopiesACountOrTheWholeSource) {
  TMemoryStream source, dest;
  const auto data = Bytes(200000);
  source.WriteBuffer(data.data(), static_cast<std::int64_t>(data.size()));
  source.SetPosition(1000);
  EXPECT_EQ(dest.CopyFrom(source, 500), 500);
  EXPECT_EQ(dest.Memory()[0], data[1000]);
  EXPECT_EQ(source.Position(), 1500);

  TMemoryStream whole;
  EXPECT_EQ(whole.CopyFrom(source, 0), 200000);  // 0 = everything from the start
  EXPECT_TRUE(std::equal(data.begin(), data.end(), whole.Memory()));

  source.SetPosition(199990);
  TMemoryStream tooMuch;
  EXPECT_THROW(tooMuch.CopyFrom(source, 20), EReadError);
}

class FileStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    name_ = platform::TempDirectory() + "qv_stream_test_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".bin";
    platform::RemoveFile(name_);
  }
  void TearDown() override { platform::RemoveFile(name_); }
  std::string name_;
};

TEST_F(FileStreamTest, CreateWriteReopenRead) {
  const auto data = Bytes(70000);
  {
    TFileStream f(name_, fmCreate);
    f.WriteBuffer(data.data(), static_cast<std::int64_t>(data.size()));
    EXPECT_EQ(f.Size(), 70000);
  }
  EXPECT_TRUE(platform::FileExists(name_));
  TFileStream f(name_, fmOpenRead | fmShareDenyWrite);
  EXPECT_EQ(f.Size(), 70000);
  std::vector<std::uint8_t> back(70000);
  f.ReadBuffer(back.data(), 70000);
  EXPECT_EQ(back, data);
  EXPECT_EQ(f.Read(back.data(), 1), 0);
}

TEST_F(FileStreamTest, ReadWriteModeAppendsAndSetSizeTruncates) {
  { TFileStream f(name_, fmCreate); f.WriteBuffer("abcdef", 6); }
  {
    TFileStream f(name_, fmOpenReadWrite);
    f.Seek(0, soEnd);
    f.WriteBuffer("gh", 2);
    f.SetSize(4);
    EXPECT_EQ(f.Size(), 4);
  }
  TMemoryStream m;
  m.LoadFromFile(name_);
  ASSERT_EQ(m.Size(), 4);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(m.Memory()), 4), "abcd");
}

TEST_F(FileStreamTest, MissingFileAndBadDirectoryRaiseWithTheName) {
  try {
    TFileStream f(name_, fmOpenRead);
    FAIL();
  } catch (const EFOpenError& e) {
    EXPECT_NE(e.Message().find("Cannot open file \"" + name_ + "\""), std::string::npos)
        << e.Message();
  }
  const std::string bad = platform::TempDirectory() + "no_such_dir_qv" +
                          platform::PathDelimiter() + "x.bin";
  EXPECT_THROW(TFileStream(bad, fmCreate), EFCreateError);
}

#ifndef _WIN32
TEST(FileStream, AFullDiskIsNamedWithTheFile) {
  TFileStream full("/dev/full", fmOpenWrite);
  const auto data = Bytes(100);
  try {
    full.Write(data.data(), 100);
    FAIL() << "a write to a full disk answered as if it had succeeded";
  } catch (const EWriteError& e) {
    EXPECT_EQ(e.Message().rfind("Cannot write file \"/dev/full\": disk full", 0), 0u)
        << e.Message();
  }
}
#endif

// Whatever a save does before it fails, the old file stays as it was and
// no temporary file is left beside it.
TEST_F(FileStreamTest, SaveFileReplacingKeepsTheOldFileUnlessTheWriteCompletes) {
  { TFileStream f(name_, fmCreate); f.WriteBuffer("old contents", 12); }
  auto contents = [&] {
    TMemoryStream m;
    m.LoadFromFile(name_);
    return std::string(reinterpret_cast<char*>(m.Memory()), static_cast<std::size_t>(m.Size()));
  };
  EXPECT_THROW(SaveFileReplacing(name_,
                                 [](TStream& s) {
                                   s.WriteBuffer("half of the new", 15);
                                   throw EWriteError("the source failed");
                                 }),
               EWriteError);
  EXPECT_EQ(contents(), "old contents");
  EXPECT_FALSE(platform::FileExists(name_ + ".~qv0.tmp"));
  EXPECT_FALSE(platform::FileExists(name_ + ".~qv1.tmp"));

  SaveFileReplacing(name_, [](TStream& s) { s.WriteBuffer("new", 3); });
  EXPECT_EQ(contents(), "new");
}

}  // namespace
}  // namespace lumetra
