// Finding the source manager and the sources through Wine's real
// TWAIN_32.DLL: the default source, a missing or broken manager, the TWAIN 2
// manager a 64-bit program prefers, and choosing between two sources.
#include <gtest/gtest.h>
#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "twain/twain_scanner.h"
#include "twain_scanner_fixture.h"

namespace quorvex::twain {
namespace {

using namespace scanner_test;  // the fixture, its pages and robots

TEST_F(TwainScannerTest, OnlyOneScannerAtATime) {
  {
    TScanner first;
    try {
      TScanner second;
      FAIL() << "a second scanner was created";
    } catch (const EScannerError& e) {
      EXPECT_STREQ(e.what(), "Only one scanner object is permitted");
    }
  }
  EXPECT_NO_THROW(TScanner again);
}

TEST_F(TwainScannerTest, FindsTheVirtualScannerAsDefaultSource) {
  TScanner scanner;
  ASSERT_TRUE(scanner.IsAvailable());
  ASSERT_GE(scanner.SelectedSource(), 0);
  EXPECT_EQ(scanner.SourceName(scanner.SelectedSource()), kSourceName);
}

// A scanner whose manager directory is a folder of the test's choosing.
class RelocatedScanner : public TScanner {
 public:
  explicit RelocatedScanner(std::string directory) : directory_(std::move(directory)) {}

 protected:
  bool ManagerDirectory(std::string& directory) const override {
    directory = directory_;
    return true;
  }

 private:
  std::string directory_;
};

TEST_F(TwainScannerTest, WithoutManagerInTheWindowsDirectoryNothingIsAvailable) {
  const std::string dir = TempPath("nomanager");
  CreateDirectoryA(dir.c_str(), nullptr);
  RelocatedScanner scanner(dir);
  EXPECT_FALSE(scanner.IsAvailable());
  try {
    scanner.OpenSourceManager();
    FAIL() << "opened a manager that is not there";
  } catch (const EScannerError& e) {
    EXPECT_EQ(std::string(e.what()), "LoadLibrary(" + dir + "\\TWAIN_32.DLL) failed");
  }
  RemoveDirectoryA(dir.c_str());
}

TEST_F(TwainScannerTest, ALibraryWithoutEntryPointStaysUnavailable) {
  // Once Wine's manager is loaded, a library of the same name resolves to
  // it; and Wine reads the override when the process starts.
  PreferNative preferNative("twain_32");
  if (DWORD exitCode; InFreshProcess(exitCode)) {
    EXPECT_EQ(exitCode, 0u);
    return;
  }
  // A DLL that is no source manager: it loads, but has no DSM_Entry.
  const std::string dir = TempPath("badmanager");
  CreateDirectoryA(dir.c_str(), nullptr);
  const std::string fake = dir + "\\TWAIN_32.DLL";
  ASSERT_TRUE(CopyFileA(kInstalledSource.c_str(), fake.c_str(), FALSE));
  {
    RelocatedScanner scanner(dir + "\\");  // a trailing backslash is not doubled
    try {
      scanner.OpenSourceManager();
      FAIL() << "opened a library without DSM_Entry";
    } catch (const EScannerError& e) {
      EXPECT_STREQ(e.what(), "GetProcAddress failed: DSM_Entry");
    }
    // The failed attempt must not leave the library loaded and answering.
    EXPECT_FALSE(scanner.IsAvailable());
    EXPECT_FALSE(scanner.IsAvailable());
  }
  EXPECT_TRUE(DeleteFileA(fake.c_str())) << "the library was left loaded";
  RemoveDirectoryA(dir.c_str());
}

#ifdef QV_FAKE_TWAINDSM_DIR
// Where TWAINDSM.DLL stands beside the platform's manager, a 64-bit program
// scans through it, and the blocks that capabilities and pages travel in go
// through the memory functions it hands over.
TEST_F(TwainScannerTest, ATwain2ManagerIsPreferredAndItsMemoryFunctionsUsed) {
  Configure("pages = 2\n");
  std::string dir = "Z:" QV_FAKE_TWAINDSM_DIR;
  std::replace(dir.begin(), dir.end(), '/', '\\');
  // Loaded here too, so that its counts outlive the scanner's hold on it.
  const HMODULE manager = LoadLibraryA((dir + "\\TWAINDSM.DLL").c_str());
  ASSERT_NE(manager, nullptr);
  Pages collected;
  {
    RelocatedScanner scanner(dir);
    scanner.SetShowUI(false);
    scanner.SetImageFormat(lumetra::ifGray256);
    ASSERT_TRUE(scanner.IsAvailable());
    scanner.Acquire(&collected, CollectPage, nullptr);
  }
  EXPECT_EQ(collected.pages.size(), 2u);
  long counts[4] = {};
  const auto countsOf = reinterpret_cast<void (*)(long*)>(
      reinterpret_cast<void*>(GetProcAddress(manager, "QvFakeDsmCounts")));
  ASSERT_NE(countsOf, nullptr);
  countsOf(counts);
  const long allocations = counts[0], frees = counts[1], locks = counts[2], unlocks = counts[3];
  EXPECT_GT(allocations, 0) << "capability containers were not the manager's";
  // Every container it made, and both pages, went back through it.
  EXPECT_GE(frees, allocations + 2);
  EXPECT_GE(locks, allocations + 2);
  EXPECT_EQ(locks, unlocks);
  ExpectSourceClosedCleanly();
  FreeLibrary(manager);
}
#endif

TEST_F(TwainScannerTest, TheManagersSelectionDialogChoosesTheSource) {
  TScanner scanner;
  {
    DialogRobot robot(IDCANCEL, "Select Source");
    EXPECT_FALSE(scanner.SelectSource());
    EXPECT_TRUE(robot.Found());
  }
  {
    DialogRobot robot(IDOK, "Select Source");
    EXPECT_TRUE(scanner.SelectSource());
    EXPECT_TRUE(robot.Found());
  }
  ASSERT_GE(scanner.SelectedSource(), 0);
  EXPECT_EQ(scanner.SourceName(scanner.SelectedSource()), kSourceName);
}

// Wine's manager loads exactly two sources, sane.ds and gphoto2.ds: a copy of
// the virtual scanner under the second name is a second scanner, named after
// its file. Neither keeps the default name here.
TEST_F(TwainScannerTest, OfTwoSourcesTheDefaultOrTheChosenOneScans) {
  const std::string second = std::string(quorvex::testing_support::TwainSourceFolder()) + "\\gphoto2.ds";
  PreferNative preferNative("gphoto2.ds");
  Configure("product_name = Acme Flatbed\npages = 1\n");
  if (DWORD exitCode; !GetEnvironmentVariableA("QV_TWAIN_FRESH_PROCESS", nullptr, 0)) {
    // Wine's own gphoto2.ds goes back in place afterwards.
    const std::string saved = TempPath("gphoto2.ds");
    const bool hadOne = CopyFileA(second.c_str(), saved.c_str(), FALSE);
    ASSERT_TRUE(CopyFileA(kInstalledSource.c_str(), second.c_str(), FALSE));
    InFreshProcess(exitCode);
    if (hadOne) {
      CopyFileA(saved.c_str(), second.c_str(), FALSE);
      DeleteFileA(saved.c_str());
    } else {
      DeleteFileA(second.c_str());
    }
    EXPECT_EQ(exitCode, 0u);
    return;
  }
  const std::string first = "Acme Flatbed", other = "Acme Flatbed (gphoto2)";
  auto scanner = NewScanner(false, lumetra::ifBlackWhite, 100, 100);
  ASSERT_TRUE(scanner->IsAvailable());
  ASSERT_EQ(scanner->SourceCount(), 2);
  EXPECT_EQ(std::set<std::string>({scanner->SourceName(0), scanner->SourceName(1)}),
            std::set<std::string>({first, other}));
  ASSERT_GE(scanner->SelectedSource(), 0);
  const std::string byDefault = scanner->SourceName(scanner->SelectedSource());
  Pages collected;
  scanner->Acquire(&collected, CollectPage, nullptr);
  EXPECT_EQ(collected.pages.size(), 1u);
  EXPECT_EQ(CountLines("OPENDS app=Quorvex source=" + byDefault), 1);

  // The person picks the other one in the manager's dialog.
  const std::string chosen = byDefault == first ? other : first;
  std::atomic<bool> picked{false};
  std::thread person([&] {
    for (int i = 0; i < 500 && !picked; ++i) {
      HWND dialog = FindWindowA(nullptr, "Select Source");
      HWND list = dialog ? FindWindowExA(dialog, nullptr, "ListBox", nullptr) : nullptr;
      if (list && IsWindowEnabled(dialog)) {
        const LRESULT index =
            SendMessageA(list, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                         reinterpret_cast<LPARAM>(chosen.c_str()));
        SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
        SendMessageA(dialog, WM_COMMAND,
                     MAKEWPARAM(GetDlgCtrlID(list), LBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        picked = true;
      }
      Sleep(20);
    }
  });
  EXPECT_TRUE(scanner->SelectSource());
  person.join();
  ASSERT_TRUE(picked);
  EXPECT_EQ(scanner->SourceName(scanner->SelectedSource()), chosen);
  collected = Pages{};
  scanner->Acquire(&collected, CollectPage, nullptr);
  EXPECT_EQ(collected.pages.size(), 1u);
  EXPECT_EQ(CountLines("OPENDS app=Quorvex source=" + chosen), 1);
  ExpectSourceClosedCleanly();
}

}  // namespace
}  // namespace quorvex::twain
