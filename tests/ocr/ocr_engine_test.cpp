// The console OCR driver: its checks, the temporary files it names and always
// removes, the lines it reads back; and the command line of our launcher.
#include "ocr/ocr_engine.h"

#include <gtest/gtest.h>

#include <fstream>

#include "launcher_command.h"
#include "ocr/ocr_test_support.h"

namespace lumetra {
namespace {

const TDibGraphic& SmallPage() {
  static TDibGraphic page;
  if (page.Empty()) {
    page.NewImage(16, 8, ifBlackWhite, nullptr, 300, 300);
    page.Fill(0xFFFFFF);
  }
  return page;
}

struct BadSetting {
  const char* name;
  const char* program;
  const char* format;
  const char* message;
};

void PrintTo(const BadSetting& c, std::ostream* os) {
  *os << c.name;
}

class ConsoleOcrDriverRefuses : public testing::TestWithParam<BadSetting> {};

TEST_P(ConsoleOcrDriverRefuses, WithItsMessageAndLeavesNoFile) {
  qvtest::TPrivateTempDir temp("qv_ocr_refuses");
  TOcrEngine engine(OcrDriverClassOf<TConsoleOcrDriver>());
  auto& driver = static_cast<TConsoleOcrDriver&>(engine.Driver());
  driver.SetOcrProgram(GetParam().program);
  driver.SetInputFormat(GetParam().format);
  std::vector<std::string> lines{"kept"};
  try {
    engine.Recognize(SmallPage(), lines, nullptr);
    FAIL() << "no error";
  } catch (const ELumetraError& e) {
    EXPECT_STREQ(e.what(), GetParam().message);
  }
  EXPECT_EQ(lines, std::vector<std::string>{"kept"});
  EXPECT_TRUE(temp.Files().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Settings, ConsoleOcrDriverRefuses,
    testing::Values(BadSetting{"NoProgram", "", "pbm", "OCR program not specified"},
                    BadSetting{"NoFormat", "gocr039.exe", "",
                               "OCR input file format not specified"},
                    BadSetting{"UnknownFormat", "gocr039.exe", "xyz",
                               "Graphic files of .xyz format are not supported or not registered"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(OcrCommandLine, PutsTheOutputAfterALiteralRedirectionToken) {
  EXPECT_EQ(OcrCommandLine("gocr039.exe -l 120", "C:\\T\\ocr0.tmp", "C:\\T\\ocr1.tmp"),
            "gocr039.exe -l 120 C:\\T\\ocr0.tmp > C:\\T\\ocr1.tmp");
}

struct LinesCase {
  const char* name;
  std::string text;
  std::vector<std::string> lines;
};

void PrintTo(const LinesCase& c, std::ostream* os) {
  *os << c.name;
}

class TextLinesOf : public testing::TestWithParam<LinesCase> {};

TEST_P(TextLinesOf, SplitsAtEveryKindOfLineBreak) {
  EXPECT_EQ(TextLines(GetParam().text), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, TextLinesOf,
    testing::Values(LinesCase{"Empty", "", {}},
                    LinesCase{"Windows", "Dear Sir\r\n\r\nyours\r\n", {"Dear Sir", "", "yours"}},
                    LinesCase{"UnixWithoutLastBreak", "a\nb", {"a", "b"}},
                    LinesCase{"OldMac", "a\rb\r", {"a", "b"}},
                    LinesCase{"OnlyABreak", "\r\n", {""}}),
    [](const auto& info) { return std::string(info.param.name); });

#ifndef _WIN32
// A recogniser made of a shell command: the POSIX build starts command lines
// through /bin/sh, so " > " sends its output into the output file there.
class ConsoleOcrDriverRuns : public testing::Test {
 protected:
  std::vector<std::string> Run(const std::string& program) {
    TConsoleOcrDriver driver;
    driver.SetOcrProgram(program);
    driver.SetInputFormat(".pbm");
    std::vector<std::string> lines{"old"};
    driver.Recognize(SmallPage(), lines, [&](TObject* sender, std::uint8_t percent) {
      EXPECT_EQ(sender, &driver);
      progress_.push_back(percent);
    });
    return lines;
  }
  qvtest::TPrivateTempDir temp_{"qv_ocr_runs"};
  std::vector<int> progress_;
};

TEST_F(ConsoleOcrDriverRuns, CountsPastAnExistingFileAndHandsOverAPlainBitmap) {
  std::ofstream((temp_.Path() / "ocr0.tmp").string()) << "someone else's";
  // The image's name, the folder while the recogniser runs, the signature.
  const auto lines =
      Run("f() { basename \"$1\"; ls \"$(dirname \"$1\")\"; head -c 2 \"$1\"; "
          "echo; }; f");
  const std::vector<std::string> expected{"ocr1.tmp", "ocr0.tmp", "ocr1.tmp", "ocr2.tmp", "P1"};
  EXPECT_EQ(lines, expected);
  EXPECT_EQ(progress_, (std::vector<int>{0, 100}));
  EXPECT_EQ(temp_.Files(), std::set<std::string>{"ocr0.tmp"});
}

TEST_F(ConsoleOcrDriverRuns, ARecogniserThatWritesNothingGivesNoLines) {
  EXPECT_TRUE(Run("false").empty());
  EXPECT_TRUE(temp_.Files().empty());
}

TEST_F(ConsoleOcrDriverRuns, ARecogniserThatCannotBeWaitedForIsAnErrorAndLeavesNoFile) {
  try {
    Run("kill -KILL $$;");
    FAIL() << "no error";
  } catch (const ELumetraError& e) {
    EXPECT_STREQ(e.what(), "Unable to execute program, kill -KILL $$;");
  }
  EXPECT_EQ(progress_, std::vector<int>{0});
  EXPECT_TRUE(temp_.Files().empty());
}
#endif

}  // namespace
}  // namespace lumetra

namespace quorvex::gocr039 {
namespace {

struct LaunchCase {
  const char* name;
  std::string commandLine;
  bool valid;
  std::string image, output;
};

void PrintTo(const LaunchCase& c, std::ostream* os) {
  *os << c.name;
}

class LauncherCommand : public testing::TestWithParam<LaunchCase> {};

TEST_P(LauncherCommand, FindsTheImageAndTheOutput) {
  const LaunchCase& c = GetParam();
  TImageAndOutput files;
  ASSERT_EQ(SplitImageAndOutput(ArgumentsOf(c.commandLine), files), c.valid);
  if (!c.valid) return;
  EXPECT_EQ(files.image, c.image);
  EXPECT_EQ(files.output, c.output);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, LauncherCommand,
    testing::Values(LaunchCase{"AsTheOcrCommandWritesIt",
                               "gocr039.exe C:\\T\\ocr0.tmp > C:\\T\\ocr1.tmp", true,
                               "C:\\T\\ocr0.tmp", "C:\\T\\ocr1.tmp"},
                    LaunchCase{"SpacesInTheTemporaryFolder",
                               "\"C:\\Program Files\\Q\\gocr039.exe\" C:\\Users\\A B\\ocr0.tmp > "
                               "C:\\Users\\A B\\ocr1.tmp",
                               true, "C:\\Users\\A B\\ocr0.tmp", "C:\\Users\\A B\\ocr1.tmp"},
                    LaunchCase{"QuotedNames", "gocr039  \"a b.pbm\"  >  \"c d.txt\" ", true,
                               "a b.pbm", "c d.txt"},
                    LaunchCase{"NoToken", "gocr039.exe image.pbm", false, "", ""},
                    LaunchCase{"NoImage", "gocr039.exe  > out.txt", false, "", ""},
                    LaunchCase{"OnlyTheProgram", "\"gocr039.exe\"", false, "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LauncherCommand, QuotesEveryNameItHandsToGocr) {
  EXPECT_EQ(GocrCommandLine("C:\\Q R\\gocr.exe", {"C:\\A B\\ocr0.tmp", "C:\\A B\\ocr1.tmp"}),
            "\"C:\\Q R\\gocr.exe\" -i \"C:\\A B\\ocr0.tmp\" -o \"C:\\A B\\ocr1.tmp\"");
}

}  // namespace
}  // namespace quorvex::gocr039
