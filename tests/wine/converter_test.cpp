// tiff2pdf.dll called the way the server calls it: with the argument vector
// the server builds, repeatedly in one process, and with vectors that must
// fail without harming the host.
#include <windows.h>

#include <gtest/gtest.h>
#include <tiffio.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "automation/pdf_conversion.h"
#include "pdf_file.h"
#include "wine/wine_paths.h"

using quorvex::automation::TConverterArguments;
using quorvex::automation::TPdfSettings;
using quorvex::testing_support::WinePath;

namespace {

using TQVTiff2Pdf = int(__cdecl*)(int, char**, int);

std::string TempDir() { return quorvex::testing_support::TempFolder("qv_converter_test"); }

struct TPageLayout {
  uint16_t bits, samples, photometric, compression;
};
constexpr TPageLayout kBlackWhite{1, 1, PHOTOMETRIC_MINISWHITE, COMPRESSION_CCITTFAX4};
constexpr TPageLayout kTrueColour{8, 3, PHOTOMETRIC_RGB, COMPRESSION_JPEG};
constexpr TPageLayout kGrey{8, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_PACKBITS};

// Writes pages as the scanning window does (JPEG in strips of 8 rows), of
// Width x Height pixels at 300 dpi.
void WriteDocument(const std::string& path, std::initializer_list<TPageLayout> pages =
                                                {kBlackWhite, kTrueColour, kGrey},
                   uint32_t width = 64, uint32_t height = 48) {
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(tif, nullptr);
  for (const TPageLayout& page : pages) {
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, page.bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, page.samples);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, page.photometric);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, page.compression);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP,
                 page.compression == COMPRESSION_JPEG ? uint32_t{8} : height);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, 300.0f);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, 300.0f);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    const tmsize_t rowBytes = (width * page.bits * page.samples + 7) / 8;
    std::vector<unsigned char> row(rowBytes);
    for (uint32_t y = 0; y < height; ++y) {
      for (tmsize_t x = 0; x < rowBytes; ++x) row[x] = static_cast<unsigned char>((x * 7 + y) & 0xFF);
      ASSERT_EQ(TIFFWriteScanline(tif, row.data(), y, 0), 1);
    }
    ASSERT_TRUE(TIFFWriteDirectory(tif));
  }
  TIFFClose(tif);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

class ConverterTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    module_ = LoadLibraryW(WinePath(QV_TIFF2PDF_DLL).c_str());
    ASSERT_NE(module_, nullptr);
    convert_ = reinterpret_cast<TQVTiff2Pdf>(
        reinterpret_cast<void*>(GetProcAddress(module_, "QVTiff2Pdf")));
    ASSERT_NE(convert_, nullptr);
    dir_ = TempDir();
    WriteDocument(dir_ + "\\doc.tif");
  }

  int Convert(const TPdfSettings& settings) {
    TConverterArguments arguments(settings);
    return convert_(arguments.Count(), arguments.Vector(), 25);
  }

  static inline HMODULE module_ = nullptr;
  static inline TQVTiff2Pdf convert_ = nullptr;
  static inline std::string dir_;
};

TEST_F(ConverterTest, ConvertsEveryPageWithTheDocumentProperties) {
  TPdfSettings settings;
  settings.Filename = dir_ + "\\doc.tif";
  settings.PdfPaperSize = "letter";
  settings.PdfCreator = "Quorv";
  settings.PdfAuthor = "Ann Example";
  settings.PdfTitle = "Annual report";
  settings.PdfSubject = "Scans";
  settings.PdfKeywords = "alpha beta";
  // Twice in one process: the option parser must start afresh each time.
  for (int run = 0; run < 2; ++run) {
    DeleteFileA((dir_ + "\\doc.pdf").c_str());
    ASSERT_GE(Convert(settings), 0) << "run " << run;
    const std::string pdf = ReadFile(dir_ + "\\doc.pdf");
    EXPECT_EQ(quorvex::tiff2pdf::CheckPdf(pdf, 3), "");
    EXPECT_EQ(pdf.rfind("%PDF-", 0), 0u);
    EXPECT_NE(pdf.find("/Count 3"), std::string::npos);
    EXPECT_NE(pdf.find("(Annual report)"), std::string::npos);
    EXPECT_NE(pdf.find("(Ann Example)"), std::string::npos);
    EXPECT_NE(pdf.find("(alpha beta)"), std::string::npos);
    EXPECT_NE(pdf.find("/MediaBox [0.0000 0.0000 612.0000 792.0000]"), std::string::npos);
    EXPECT_NE(pdf.find("%%EOF"), std::string::npos);
  }
}

TEST_F(ConverterTest, FailuresAreNegativeAndLeaveNoOutput) {
  const std::string missing = dir_ + "\\missing.tif";
  const std::string output = dir_ + "\\missing.pdf";
  DeleteFileA(output.c_str());
  TPdfSettings settings;
  settings.Filename = missing;
  EXPECT_LT(Convert(settings), 0);
  EXPECT_FALSE(Exists(output));

  // Not a TIFF: the tool opens its output, then fails reading.
  const std::string junk = dir_ + "\\junk.tif";
  std::ofstream(junk, std::ios::binary) << "II*\0garbage that is not a directory";
  settings.Filename = junk;
  EXPECT_LT(Convert(settings), 0);
  EXPECT_FALSE(Exists(dir_ + "\\junk.pdf"));

  // A good call after failures still works.
  settings.Filename = dir_ + "\\doc.tif";
  EXPECT_GE(Convert(settings), 0);
}

TEST_F(ConverterTest, MalformedVectorsAreRefused) {
  std::string program = "tiff2pdf.exe", input = dir_ + "\\doc.tif";
  std::string output = "-o" + dir_ + "\\vector.pdf";
  // No "-o": the tool would write the PDF to the host's standard output.
  char* noOutput[] = {program.data(), input.data(), nullptr};
  EXPECT_LT(convert_(2, noOutput, 25), 0);
  // Not null-terminated where the count says.
  char* unterminated[] = {program.data(), output.data(), input.data(), input.data()};
  EXPECT_LT(convert_(3, unterminated, 25), 0);
  char* good[] = {program.data(), output.data(), input.data(), nullptr};
  EXPECT_LT(convert_(3, good, 2), 0) << "more arguments than the limit";
  EXPECT_LT(convert_(0, good, 25), 0);
  EXPECT_LT(convert_(3, nullptr, 25), 0);
  // Two inputs, unknown options: the tool's own refusals.
  char* twoInputs[] = {program.data(), output.data(), input.data(), input.data(), nullptr};
  EXPECT_LT(convert_(4, twoInputs, 25), 0);
  std::string unknown = "-Z";
  char* badOption[] = {program.data(), output.data(), unknown.data(), input.data(), nullptr};
  EXPECT_LT(convert_(4, badOption, 25), 0);
  // The caller's vector is only read.
  EXPECT_EQ(badOption[2], unknown.data());
  EXPECT_EQ(badOption[3], input.data());
  EXPECT_GE(convert_(3, good, 25), 0);
}

// Every page the window writes converts to a PDF that a reader can
// decode: colour pages in JPEG strips included.
TEST_F(ConverterTest, EveryKindOfPageGivesASoundPdf) {
  const struct {
    const char* name;
    std::initializer_list<TPageLayout> pages;
  } documents[] = {{"colour", {kTrueColour, kTrueColour}},
                   {"grey", {kGrey}},
                   {"bw", {kBlackWhite, kBlackWhite}},
                   {"mixed", {kTrueColour, kBlackWhite}}};
  for (const auto& document : documents) {
    const std::string tiff = dir_ + "\\" + document.name + ".tif";
    WriteDocument(tiff, document.pages, 200, 120);
    TPdfSettings settings;
    settings.Filename = tiff;
    ASSERT_GE(Convert(settings), 0) << document.name;
    EXPECT_EQ(quorvex::tiff2pdf::CheckPdf(ReadFile(dir_ + "\\" + document.name + ".pdf"),
                                          static_cast<int>(document.pages.size())),
              "")
        << document.name;
  }
}

// Document properties in the system code page (1252 here) that PDFDocEncoding
// would show as other glyphs are written as UTF-16BE with the byte-order mark.
TEST_F(ConverterTest, PropertiesOutsideAsciiAreWrittenAsUtf16) {
  ASSERT_EQ(GetACP(), 1252u);
  TPdfSettings settings;
  settings.Filename = dir_ + "\\doc.tif";
  settings.PdfTitle = "\x80 \x96 \x93x\x94";  // "€ – “x”"
  settings.PdfAuthor = "Ann";
  settings.PdfCreator = "Quorv";
  settings.PdfKeywords = "caf\xE9";
  ASSERT_GE(Convert(settings), 0);
  const std::string pdf = ReadFile(dir_ + "\\doc.pdf");
  EXPECT_EQ(quorvex::tiff2pdf::CheckPdf(pdf, 3), "");
  EXPECT_NE(pdf.find("/Title <FEFF20AC002020130020201C0078201D>"), std::string::npos);
  EXPECT_NE(pdf.find("/Keywords <FEFF00630061006600E9>"), std::string::npos);
  EXPECT_NE(pdf.find("/Author (Ann)"), std::string::npos);
  EXPECT_NE(pdf.find("/Creator (Quorv)"), std::string::npos);
}

}  // namespace
