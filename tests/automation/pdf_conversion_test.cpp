#include "automation/pdf_conversion.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorvex::automation {
namespace {

// Copies the vector the converter sees, checking its shape on the way.
struct TSeenCall {
  int count = -1;
  int limit = -1;
  std::vector<std::string> args;
  bool terminated = false;
};

TConversionActions Recorder(TSeenCall& seen, std::vector<std::string>& log, bool pdfExists = false,
                            bool deletable = true, std::int32_t result = 0) {
  TConversionActions actions;
  actions.FileExists = [&log, pdfExists](const std::string& path) {
    log.push_back("exists " + path);
    return pdfExists;
  };
  actions.RemoveFile = [&log, deletable](const std::string& path) {
    log.push_back("delete " + path);
    return deletable;
  };
  actions.Convert = [&seen, &log, result](std::int32_t argc, char** argv, std::int32_t limit) {
    log.push_back("convert");
    seen.count = argc;
    seen.limit = limit;
    for (int i = 0; i < argc; ++i) seen.args.emplace_back(argv[i]);
    seen.terminated = argv[argc] == nullptr;
    return result;
  };
  return actions;
}

TPdfSettings Defaults(std::string filename) {
  TPdfSettings settings;
  settings.Filename = std::move(filename);
  settings.PdfPaperSize = "a4";
  settings.PdfCreator = "Quorv";
  return settings;
}

std::vector<std::string> ArgsOf(const TPdfSettings& settings) {
  TConverterArguments arguments(settings);
  std::vector<std::string> result;
  for (int i = 0; i < arguments.Count(); ++i) result.emplace_back(arguments.Slot(i));
  EXPECT_EQ(arguments.Slot(arguments.Count()), nullptr);
  return result;
}

TEST(PdfOutputName, ReplacesOnlyTheExtensionOfTheFileName) {
  EXPECT_EQ(PdfOutputName("C:\\scan\\doc.tif"), "C:\\scan\\doc.pdf");
  EXPECT_EQ(PdfOutputName("C:\\scan\\doc.tiff"), "C:\\scan\\doc.pdf");
  EXPECT_EQ(PdfOutputName("C:\\scan.d\\doc"), "C:\\scan.d\\doc.pdf");
  EXPECT_EQ(PdfOutputName("archive.v2.tif"), "archive.v2.pdf");
  EXPECT_EQ(PdfOutputName(""), ".pdf");
}

TEST(ConverterArguments, DefaultsGiveTheDocumentedVector) {
  EXPECT_EQ(ArgsOf(Defaults("C:\\scan\\doc.tif")),
            (std::vector<std::string>{"tiff2pdf.exe", "-oC:\\scan\\doc.pdf", "-pa4", "-cQuorv",
                                      "C:\\scan\\doc.tif"}));
}

TEST(ConverterArguments, AllTextsInOptionOrderTrimmedAndUnsplit) {
  TPdfSettings settings = Defaults("  C:\\scan\\doc.tif\t");
  settings.PdfPaperSize = " Letter ";
  settings.PdfCreator = " Scan desk ";
  settings.PdfAuthor = "Ann";
  settings.PdfTitle = "Annual report";
  settings.PdfSubject = "\x01" "Finance\x1f";
  settings.PdfKeywords = "q1, q2";
  EXPECT_EQ(ArgsOf(settings),
            (std::vector<std::string>{"tiff2pdf.exe", "-oC:\\scan\\doc.pdf", "-pletter",
                                      "-cScan desk", "-aAnn", "-tAnnual report", "-sFinance",
                                      "-kq1, q2", "C:\\scan\\doc.tif"}));
}

struct PaperCase {
  const char* value;
  const char* argument;  // null: no paper argument
};

class PaperSizeTest : public testing::TestWithParam<PaperCase> {};

TEST_P(PaperSizeTest, OnlyTheThreeKnownSizesReachTheConverter) {
  TPdfSettings settings = Defaults("C:\\doc.tif");
  settings.PdfPaperSize = GetParam().value;
  const auto args = ArgsOf(settings);
  std::vector<std::string> paper;
  for (const auto& arg : args)
    if (arg.rfind("-p", 0) == 0) paper.push_back(arg);
  if (GetParam().argument)
    EXPECT_EQ(paper, std::vector<std::string>{GetParam().argument});
  else
    EXPECT_TRUE(paper.empty());
}

INSTANTIATE_TEST_SUITE_P(Sizes, PaperSizeTest,
                         testing::Values(PaperCase{"a4", "-pa4"}, PaperCase{"A4", "-pa4"},
                                         PaperCase{" Letter ", "-pletter"},
                                         PaperCase{"LEGAL", "-plegal"}, PaperCase{"A5", nullptr},
                                         PaperCase{"", nullptr}, PaperCase{"letter2", nullptr},
                                         PaperCase{"le tter", nullptr}));

TEST(ConverterArguments, EmptyOrBlankTextsAreLeftOut) {
  TPdfSettings settings = Defaults("C:\\doc.tif");
  settings.PdfCreator = "   ";
  settings.PdfTitle = "";
  settings.PdfAuthor = "\t\r\n";
  EXPECT_EQ(ArgsOf(settings),
            (std::vector<std::string>{"tiff2pdf.exe", "-oC:\\doc.pdf", "-pa4", "C:\\doc.tif"}));
}

struct NameCase {
  const char* filename;
  std::vector<std::string> args;
};

class FiveCharacterRuleTest : public testing::TestWithParam<NameCase> {};

TEST_P(FiveCharacterRuleTest, ShortNamesLoseOnlyTheirOwnArgument) {
  TPdfSettings settings = Defaults(GetParam().filename);
  settings.PdfCreator = "";
  settings.PdfPaperSize = "";
  EXPECT_EQ(ArgsOf(settings), GetParam().args);
}

INSTANTIATE_TEST_SUITE_P(
    Names, FiveCharacterRuleTest,
    testing::Values(NameCase{"a.tf", {"tiff2pdf.exe", "-oa.pdf"}},
                    NameCase{"", {"tiff2pdf.exe"}},
                    NameCase{"  a.tf  ", {"tiff2pdf.exe", "-oa.pdf"}},
                    NameCase{"ab.tf", {"tiff2pdf.exe", "-oab.pdf", "ab.tf"}},
                    NameCase{"abcd", {"tiff2pdf.exe", "-oabcd.pdf"}}));

TEST(ConvertDocumentToPdf, CallsTheConverterWithTheVectorAndPassesItsResultThrough) {
  for (std::int32_t result : {0, 7, -1, -99}) {
    TSeenCall seen;
    std::vector<std::string> log;
    const auto actions = Recorder(seen, log, false, true, result);
    EXPECT_EQ(ConvertDocumentToPdf(Defaults("C:\\scan\\doc.tif"), actions), result);
    EXPECT_EQ(seen.count, 5);
    EXPECT_EQ(seen.limit, 25);
    EXPECT_TRUE(seen.terminated);
    EXPECT_EQ(seen.args.back(), "C:\\scan\\doc.tif");
  }
}

TEST(ConvertDocumentToPdf, DeletesAnExistingPdfFirstEvenWhenTheConverterFails) {
  TSeenCall seen;
  std::vector<std::string> log;
  const auto actions = Recorder(seen, log, true, true, -1);
  EXPECT_EQ(ConvertDocumentToPdf(Defaults("C:\\scan\\doc.tif"), actions), -1);
  EXPECT_EQ(log, (std::vector<std::string>{"exists C:\\scan\\doc.pdf", "delete C:\\scan\\doc.pdf",
                                           "convert"}));
}

TEST(ConvertDocumentToPdf, UndeletablePdfGivesMinusTwoWithoutCallingTheConverter) {
  TSeenCall seen;
  std::vector<std::string> log;
  const auto actions = Recorder(seen, log, true, false);
  EXPECT_EQ(ConvertDocumentToPdf(Defaults("C:\\scan\\doc.tif"), actions), kPdfDeleteFailed);
  EXPECT_EQ(log.back(), "delete C:\\scan\\doc.pdf");
  EXPECT_EQ(seen.count, -1);
}

TEST(ConvertDocumentToPdf, ConvertsEvenWhenNeitherNameIsLongEnough) {
  TSeenCall seen;
  std::vector<std::string> log;
  EXPECT_EQ(ConvertDocumentToPdf(Defaults(""), Recorder(seen, log)), 0);
  EXPECT_EQ(seen.args, (std::vector<std::string>{"tiff2pdf.exe", "-pa4", "-cQuorv"}));
}

class PdfDocumentNameTest : public testing::TestWithParam<const char*> {};

// A document already named .pdf would be deleted as "the old PDF": the
// scanned pages must survive, so nothing is touched.
TEST_P(PdfDocumentNameTest, IsRefusedBeforeAnythingIsDeleted) {
  TSeenCall seen;
  std::vector<std::string> log;
  EXPECT_EQ(ConvertDocumentToPdf(Defaults(GetParam()), Recorder(seen, log, true)),
            kPdfWouldOverwrite);
  EXPECT_TRUE(log.empty());
}

INSTANTIATE_TEST_SUITE_P(Names, PdfDocumentNameTest,
                         testing::Values("C:\\scan\\doc.pdf", "C:\\scan\\DOC.PDF",
                                         "C:\\scan\\doc.pdf ", " C:\\scan\\doc.Pdf"));

TEST(PdfNameIsDocument, OtherExtensionsAreNotTheDocument) {
  EXPECT_FALSE(PdfNameIsDocument("C:\\scan\\doc.tif"));
  EXPECT_FALSE(PdfNameIsDocument("C:\\scan\\doc.pdf.tif"));
  EXPECT_FALSE(PdfNameIsDocument("C:\\scan\\doc"));
  EXPECT_FALSE(PdfNameIsDocument(""));
}

}  // namespace
}  // namespace quorvex::automation
