// The library's utility routines.
#include "imaging/lumisc.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <thread>
#include <vector>

#include "base/conversions.h"
#include "platform/platform.h"

namespace lumetra {
namespace {

TEST(ReportProgress, OnlyChangedPercentagesReachTheEvent) {
  std::vector<int> seen;
  const TLumetraProgressEvent event = [&](TObject*, std::uint8_t p) { seen.push_back(p); };
  std::uint8_t last = 255;
  for (int row = 0; row <= 7; ++row) last = ReportProgress(nullptr, row, 0, last, 7, event);
  EXPECT_EQ(seen, (std::vector<int>{0, 14, 28, 42, 57, 71, 85, 100}));
  seen.clear();
  last = 255;
  for (int row = 0; row < 1000; ++row) last = ReportProgress(nullptr, row, 0, last, 999, event);
  EXPECT_EQ(seen.size(), 101u);
  EXPECT_EQ(seen.front(), 0);
  EXPECT_EQ(seen.back(), 100);
  // No range, a position outside it, no event at all.
  EXPECT_EQ(ReportProgress(nullptr, 5, 3, 255, 3, event), 0);
  EXPECT_EQ(ReportProgress(nullptr, 50, 0, 255, 10, event), 100);
  EXPECT_EQ(ReportProgress(nullptr, -5, 0, 255, 10, event), 0);
  EXPECT_EQ(ReportProgress(nullptr, 5, 0, 255, 10, nullptr), 0);
}

TEST(LuMisc, ClampsAndRectangles) {
  EXPECT_EQ(IntClamp(-3, 0, 255), 0);
  EXPECT_EQ(IntClamp(300, 0, 255), 255);
  EXPECT_EQ(IntClamp(5, 10, 0), 0);  // raised to Low, then lowered to High
  EXPECT_EQ(FloatClamp(5.0L, 10.0L, 0.0L), 0.0L);
  EXPECT_EQ(IntMin(-1, 2), -1);
  EXPECT_EQ(IntMax(-1, 2), 2);
  int a = 1, b = 2;
  SwapInt(a, b);
  EXPECT_EQ(a * 10 + b, 21);
  EXPECT_EQ(RectWidth({10, 20, 19, 20}), 10);
  EXPECT_EQ(RectHeight({10, 20, 19, 20}), 1);
  EXPECT_TRUE(MaskTest(0xF0, 0x30));
  EXPECT_FALSE(MaskTest(0xF0, 0x31));
  EXPECT_TRUE(MaskTest(0, 0));
}

struct TruncCase {
  long double value;
  long long trunc, ceil, floor;
};

class SafeRounding : public ::testing::TestWithParam<TruncCase> {};

TEST_P(SafeRounding, TruncCeilFloor) {
  EXPECT_EQ(SafeTrunc(GetParam().value), GetParam().trunc);
  EXPECT_EQ(SafeCeil(GetParam().value), GetParam().ceil);
  EXPECT_EQ(SafeFloor(GetParam().value), GetParam().floor);
}

INSTANTIATE_TEST_SUITE_P(Values, SafeRounding,
                         ::testing::Values(TruncCase{2.5L, 2, 3, 2}, TruncCase{-2.5L, -2, -2, -3},
                                           TruncCase{3.0L, 3, 3, 3}, TruncCase{-0.1L, 0, 0, -1},
                                           TruncCase{1e-30L, 0, 1, 0}));

TEST(LuMisc, SafeTruncRefusesWhatDoesNotFit) {
  for (long double bad : {std::numeric_limits<long double>::infinity(),
                          std::numeric_limits<long double>::quiet_NaN(), 1e30L}) {
    try {
      SafeTrunc(bad);
      ADD_FAILURE();
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), "LuMisc unit: Error in SafeTrunc.");
    }
  }
}

TEST(LuMisc, PowerAndRoundTo) {
  EXPECT_NEAR(static_cast<double>(Power(2.0L, 10.0L)), 1024.0, 1e-9);
  EXPECT_NEAR(static_cast<double>(Power(9.0L, 0.5L)), 3.0, 1e-12);
  EXPECT_EQ(RoundTo(2.345678L, 2), StrToFloat("2.35"));
  EXPECT_EQ(RoundTo(-1.5L, 0), -2.0L);
}

class TrailingBackslash : public ::testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(TrailingBackslash, Appended) {
  EXPECT_EQ(IncludeTrailingBackslash(GetParam().first), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(Paths, TrailingBackslash,
                         ::testing::Values(std::pair{"", "\\"}, std::pair{"C:", "C:"},
                                           std::pair{"C:\\", "C:\\"},
                                           std::pair{"C:\\temp", "C:\\temp\\"}));

TEST(LuMisc, BusyCursorNests) {
  const int depth = BusyCursorDepth();
  {
    TBusyCursor outer;
    TBusyCursor inner;
    EXPECT_EQ(BusyCursorDepth(), depth + 2);
    // Another thread's windows keep their own cursor.
    int otherDepth = -1;
    std::thread([&] { otherDepth = BusyCursorDepth(); }).join();
    EXPECT_EQ(otherDepth, 0);
  }
  EXPECT_EQ(BusyCursorDepth(), depth);
}

TEST(LuMisc, TemporaryFileNamesSkipExistingFiles) {
  const std::string first = CreateTempFileName("qvlumisc", "tmp");
  EXPECT_EQ(first, platform::TempDirectory() + "qvlumisc0.tmp");
  std::FILE* f = std::fopen(first.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  EXPECT_EQ(CreateTempFileName("qvlumisc", ".tmp"), platform::TempDirectory() + "qvlumisc1.tmp");
  EXPECT_EQ(CreateTempFileName("qvlumisc", ""), platform::TempDirectory() + "qvlumisc0");
  platform::RemoveFile(first);
}

TEST(LuMisc, DateAndTimeWithAPattern) {
  std::tm t{};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 1;
  t.tm_mday = 3;
  t.tm_hour = 4;
  t.tm_min = 5;
  t.tm_sec = 6;
  EXPECT_EQ(FormatDateWith("yyyy:mm:dd", t), "2026:02:03");
  EXPECT_EQ(FormatDateWith("d/m/yy", t), "3/2/26");
  EXPECT_EQ(FormatTimeWith("hh:nn:ss", t), "04:05:06");
  EXPECT_EQ(FormatTimeWith("h:n:s", t), "4:5:6");
}

}  // namespace
}  // namespace lumetra
