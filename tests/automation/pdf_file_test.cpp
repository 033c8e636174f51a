#include "pdf_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace quorvex::tiff2pdf {
namespace {

// Start of image, tables, frame, scan header, data, end of image.
const std::string kJpeg = std::string("\xFF\xD8", 2) + std::string("\xFF\xDB\x00\x04\x01\x02", 6) +
                          std::string("\xFF\xC0\x00\x05\x08\x00\x01", 7) +
                          std::string("\xFF\xDA\x00\x02\x11\x22\xFF\xD9", 8);

// A small PDF laid out as the tool lays out its files: one page whose
// image is a stream with an indirect /Length, and document information.
struct TPdfParts {
  std::string image = kJpeg;
  long long lengthDelta = 0;  // what /Length says beyond the real length
  long long xrefDelta = 0;    // how far the table misplaces object 3
};

std::string MakePdf(const TPdfParts& parts) {
  std::vector<std::string> objects = {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [4 0 R] /Count 1 >>",
      "<< /Length 5 0 R /Type /XObject /Subtype /Image /Filter /DCTDecode >>\nstream\n" +
          parts.image + "\nendstream",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents (x\\)y) >>",
      std::to_string(static_cast<long long>(parts.image.size()) + parts.lengthDelta),
      "<< /Producer (old \\(tool\\)) /Title (Plain) >>",
  };
  std::string pdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
  std::vector<std::size_t> offsets;
  for (std::size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const std::size_t xref = pdf.size();
  pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (std::size_t i = 0; i < offsets.size(); ++i) {
    char entry[32];
    const long long at = static_cast<long long>(offsets[i]) + (i == 2 ? parts.xrefDelta : 0);
    std::snprintf(entry, sizeof entry, "%010lld 00000 n \n", at);
    pdf += entry;
  }
  pdf += "trailer\n<< /Size 7 /Root 1 0 R /Info 6 0 R /ID [<AB><AB>] >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}

TEST(CheckPdf, AcceptsASoundFileAndCountsItsPages) {
  const std::string pdf = MakePdf({});
  EXPECT_EQ(CheckPdf(pdf, 1), "");
  EXPECT_EQ(CheckPdf(pdf, -1), "");
  EXPECT_NE(CheckPdf(pdf, 2), "");
}

struct TFault {
  const char* name;
  TPdfParts parts;
  const char* says;
};

void PrintTo(const TFault& fault, std::ostream* out) { *out << fault.name; }

class CheckPdfFault : public testing::TestWithParam<TFault> {};

TEST_P(CheckPdfFault, IsFoundAndNamed) {
  const std::string fault = CheckPdf(MakePdf(GetParam().parts), 1);
  EXPECT_NE(fault.find(GetParam().says), std::string::npos) << fault;
}

// The tables of one JPEG stream before a whole second one, as the tool's
// pass-through joins them.
const std::string kJoined = kJpeg.substr(0, 8) + kJpeg;

INSTANTIATE_TEST_SUITE_P(
    Faults, CheckPdfFault,
    testing::Values(
        TFault{"StreamLongerThanItsLength", {kJpeg, -3, 0}, "not as long as its /Length"},
        TFault{"LengthPastTheFile", {kJpeg, 100000, 0}, "runs past the file"},
        TFault{"TableMisplacesAnObject", {kJpeg, 0, 3}, "object 3"},
        TFault{"JoinedJpegStreams", {kJoined, 0, 0}, "second start of image"},
        TFault{"JpegWithoutStartOfImage", {kJpeg.substr(2), 0, 0}, "no start of image"},
        TFault{"JpegWithoutFrame",
               {kJpeg.substr(0, 8) + kJpeg.substr(15), 0, 0},
               "scan without a frame"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CheckPdf, RefusesWhatIsNoPdfOrHasNoTable) {
  const std::string pdf = MakePdf({});
  EXPECT_NE(CheckPdf("", 1), "");
  EXPECT_NE(CheckPdf(pdf.substr(0, pdf.size() / 2), 1), "");
  std::string badStart = pdf;
  badStart.replace(badStart.rfind("startxref\n") + 10, 1, "9");
  EXPECT_NE(CheckPdf(badStart, 1), "");
}

TEST(InfoUpdate, ReplacesThePropertiesAndKeepsTheOthersInASoundFile) {
  const std::string pdf = MakePdf({});
  // "Euro – “x”" as the system code page would give them.
  const std::string updated =
      pdf + InfoUpdate(pdf, {{"Title", u"\u20AC \u2013 \u201Cx\u201D"}, {"Author", u"Ann"}});
  EXPECT_EQ(CheckPdf(updated, 1), "");
  const std::string tail = updated.substr(pdf.size());
  EXPECT_NE(tail.find("/Title <FEFF20AC002020130020201C0078201D>"), std::string::npos) << tail;
  EXPECT_NE(tail.find("/Author (Ann)"), std::string::npos);
  EXPECT_NE(tail.find("/Producer (old \\(tool\\))"), std::string::npos);
  EXPECT_EQ(tail.find("(Plain)"), std::string::npos);
  EXPECT_NE(tail.find("/Info 7 0 R"), std::string::npos);
  // A second update chains to the first.
  const std::string twice = updated + InfoUpdate(updated, {{"Subject", u"\u00E9t\u00E9"}});
  EXPECT_EQ(CheckPdf(twice, 1), "");
  EXPECT_NE(twice.substr(updated.size()).find("/Title <FEFF20AC"), std::string::npos);
}

TEST(PdfTextString, WritesAsciiAsALiteralAndTheRestAsUtf16WithItsMark) {
  EXPECT_EQ(PdfTextString(u"Annual (draft) a\\b"), "(Annual \\(draft\\) a\\\\b)");
  EXPECT_EQ(PdfTextString(u"caf\u00E9"), "<FEFF00630061006600E9>");
  EXPECT_EQ(PdfTextString(u"tab\there"), "<FEFF00740061006200090068006500720065>");
}

}  // namespace
}  // namespace quorvex::tiff2pdf
