#include "platform/platform.h"

#include <gtest/gtest.h>

#include "base/streams.h"

namespace lumetra::platform {
namespace {

TEST(Platform, ScreenResolutionIsPlausible) {
  EXPECT_GE(ScreenDpiX(), 72);
  EXPECT_LE(ScreenDpiX(), 600);
  EXPECT_GE(ScreenDpiY(), 72);
}

TEST(Platform, TempDirectoryExistsAndEndsInTheDelimiter) {
  const std::string dir = TempDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), PathDelimiter());
  const std::string name = dir + "qv_platform_probe.txt";
  { TFileStream f(name, fmCreate); f.WriteBuffer("x", 1); }
  EXPECT_TRUE(FileExists(name));
  EXPECT_TRUE(RemoveFile(name));
  EXPECT_FALSE(FileExists(name));
  EXPECT_FALSE(RemoveFile(name));
}

#ifdef _WIN32
constexpr const char* kExit7 = "cmd.exe /c exit 7";
constexpr const char* kExit0 = "cmd.exe /c exit 0";
#else
constexpr const char* kExit7 = "exit 7";
constexpr const char* kExit0 = "true";
#endif

TEST(Platform, RunAndWaitReportsTheExitCode) {
  std::uint32_t code = 99;
  ASSERT_TRUE(RunAndWait(kExit7, false, code));
  EXPECT_EQ(code, 7u);
  ASSERT_TRUE(RunAndWait(kExit0, false, code));
  EXPECT_EQ(code, 0u);
}

#ifdef _WIN32
TEST(Platform, RunAndWaitFailsForAMissingProgram) {
  std::uint32_t code = 0;
  EXPECT_FALSE(RunAndWait("C:\\no\\such\\program.exe", false, code));
}
#endif

}  // namespace
}  // namespace lumetra::platform
