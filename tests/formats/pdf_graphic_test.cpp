// The image-only PDF documents: what the writer puts on each line, what
// the reader makes of ours and of hand-made documents, appending, and
// damaged or hostile documents.
#include "formats/pdf_graphic.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "support/format_images.h"
#include "formats/jpeg_graphic.h"
#include "formats/pdf_tiff_directory.h"
#include "formats/registry.h"
#include "formats/tiff_graphic.h"

namespace lumetra {
namespace {

using namespace std::string_literals;
using testing::MakePatterned;
using testing::PaintFlatBlocks;
using testing::MessageOf;
using testing::SamePixels;

std::string Text(TMemoryStream& s) {
  return {reinterpret_cast<const char*>(s.Memory()), static_cast<std::size_t>(s.Size())};
}

TMemoryStream& Fill(TMemoryStream& s, const std::string& bytes) {
  s.SetSize(0);
  s.SetPosition(0);
  if (!bytes.empty()) s.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  s.SetPosition(0);
  return s;
}

std::string Saved(TDibGraphic& image) {
  TPdfGraphic pdf;
  pdf.Assign(&image);
  TMemoryStream s;
  pdf.SaveToStream(s);
  return Text(s);
}

std::string SavedPages(const std::vector<TDibGraphic*>& pages) {
  TPdfGraphic pdf;
  TMemoryStream s;
  pdf.SaveImagesToStream(s, static_cast<int>(pages.size()), [&](int i, bool& freeIt) {
    freeIt = false;
    return static_cast<TGraphic*>(pages[i - 1]);
  });
  return Text(s);
}

int CountPages(const std::string& document) {
  TMemoryStream s;
  TPdfGraphic pdf;
  return pdf.GetImageCount(Fill(s, document));
}

std::unique_ptr<TPdfGraphic> LoadPage(const std::string& document, int page) {
  TMemoryStream s;
  auto pdf = std::make_unique<TPdfGraphic>();
  pdf->LoadImageFromStream(Fill(s, document), page);
  return pdf;
}

std::string TenDigits(std::size_t value) {
  const std::string digits = std::to_string(value);
  return std::string(10 - std::min<std::size_t>(10, digits.size()), '0') + digits;
}

// A document from object bodies (object N is Objects[N-1]) with a correct
// cross-reference table; the catalog is object 1 unless Trailer says more.
std::string BuildPdf(const std::vector<std::string>& objects, const std::string& trailer = "") {
  std::string doc = "%PDF-1.4\n";
  std::vector<std::size_t> offsets;
  for (std::size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(doc.size());
    doc += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const std::size_t xref = doc.size();
  doc += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (std::size_t offset : offsets) doc += TenDigits(offset) + " 00000 n \n";
  doc += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R" + trailer +
         " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return doc;
}

// A grey 4 x 2 image object whose samples are 0x10 * (index + 1).
std::string GreyImageObject(const std::string& extra = "") {
  std::string data;
  for (int i = 0; i < 8; ++i) data += static_cast<char>(0x10 * (i + 1));
  return "<< /Type /XObject /Subtype /Image /Width 4 /Height 2 /BitsPerComponent 8 "
         "/ColorSpace /DeviceGray /Length 8" +
         extra + " >>\nstream\n" + data + "\nendstream";
}

// Catalog, one page tree node with the given media box, one page, image.
std::string OnePageDocument(const std::string& mediaBox, const std::string& image) {
  return BuildPdf({"<< /Type /Catalog /Pages 2 0 R >>",
                   "<< /Type /Pages /Kids [3 0 R] /Count 1 /MediaBox " + mediaBox + " >>",
                   "<< /Type /Page /Parent 2 0 R /Resources << /XObject << /Im1 4 0 R >> >> >>",
                   image});
}

// --- the writer's templates -------------------------------------------------------

TEST(PdfWriter, LetterPageAt200DpiHasTheLetterMediaBoxAndMatrix) {
  auto page = MakePatterned(ifBlackWhite, 1700, 2200, 200);
  const std::string doc = Saved(*page);
  EXPECT_EQ(doc.substr(0, 13), "%PDF-1.3\xFF\xFE\xFD\r\n");
  EXPECT_NE(doc.find("/MediaBox [0 0 612 792]\r\n"), std::string::npos);
  EXPECT_NE(doc.find("q\r\n1 0 0 1 0 0 cm\r\n612 0 0 792 0 0 cm\r\n/Im7 Do\r\nQ\r\n"),
            std::string::npos);
  EXPECT_NE(doc.find("<< /XObject << /Im7 7 0 R >>\r\n/Font << >>\r\n>>\r\n"), std::string::npos);
  EXPECT_NE(doc.find("/Filter [/CCITTFaxDecode] /DecodeParms[<< /Columns 1700 /Rows 2200 /K -1 "
                     ">>]\r\n"),
            std::string::npos);
  EXPECT_NE(doc.find("<</Creator (TPdfGraphic)\r\n/CreationDate (D:"), std::string::npos);
  EXPECT_NE(doc.find("/Producer (Lumetra Image Library)\r\n/Author ()\r\n/Title ()\r\n"
                     "/Subject ()\r\n/Keywords ()\r\n>>"),
            std::string::npos);
}

// The cross-reference entries are 20 bytes each and point at their objects;
// startxref points at "xref"; the size entry is 8 for one page, 4+4n else.
void ExpectConsistentXRef(const std::string& doc, int expectedSize, std::size_t base = 0) {
  const std::size_t eof = doc.rfind("startxref\r\n");
  ASSERT_NE(eof, std::string::npos);
  const std::size_t xref = std::stoul(doc.substr(eof + 11));
  ASSERT_EQ(doc.compare(base + xref, 6, "xref\r\n"), 0);
  const std::string header = "0 " + std::to_string(expectedSize) + "\r\n";
  ASSERT_EQ(doc.compare(base + xref + 6, header.size(), header), 0);
  std::size_t entry = base + xref + 6 + header.size();
  EXPECT_EQ(doc.substr(entry, 20), "0000000000 65535 f\r\n");
  for (int n = 1; n < expectedSize; ++n) {
    entry += 20;
    const std::string line = doc.substr(entry, 20);
    ASSERT_EQ(line.substr(10), " 00000 n\r\n") << "entry " << n;
    const std::string obj = std::to_string(n) + " 0 obj\r\n";
    EXPECT_EQ(doc.compare(base + std::stoul(line.substr(0, 10)), obj.size(), obj), 0) << n;
  }
  EXPECT_EQ(doc.compare(entry + 20, 9, "trailer\r\n"), 0);
  EXPECT_NE(doc.find("/Size " + std::to_string(expectedSize) + "\r\n"), std::string::npos);
}

TEST(PdfWriter, CrossReferenceSizeIsEightForOnePageAndFourPlusFourNForMany) {
  auto a = MakePatterned(ifGray256, 30, 20), b = MakePatterned(ifTrueColor, 20, 30),
       c = MakePatterned(ifBlackWhite, 40, 10);
  ExpectConsistentXRef(Saved(*a), 8);
  const std::string three = SavedPages({a.get(), b.get(), c.get()});
  ExpectConsistentXRef(three, 16);
  EXPECT_NE(three.find("/Kids [\r\n4 0 R\r\n8 0 R\r\n12 0 R\r\n]\r\n/Count 3\r\n"),
            std::string::npos);
  EXPECT_NE(three.find("/Root 3 0 R\r\n"), std::string::npos);
}

TEST(PdfWriter, HalfPointsRoundToEven) {
  // 25 px at 144 dpi is 12.5 pt, 75 px is 37.5 pt.
  auto image = MakePatterned(ifGray16, 25, 75, 144);
  EXPECT_NE(Saved(*image).find("/MediaBox [0 0 12 38]"), std::string::npos);
}

TEST(PdfWriter, DocumentAfterOtherBytesKeepsThemAndCountsFromItsOwnStart) {
  auto image = MakePatterned(ifColor256, 33, 17);
  TPdfGraphic pdf;
  pdf.Assign(image.get());
  TMemoryStream s;
  const std::string prefix(100, 'x');
  s.WriteBuffer(prefix.data(), 100);
  pdf.SaveToStream(s);
  const std::string all = Text(s);
  EXPECT_EQ(all.substr(0, 100), prefix);
  ExpectConsistentXRef(all.substr(100), 8);
  // The reader finds the document where the stream stands.
  s.SetPosition(100);
  TPdfGraphic back;
  back.LoadImageFromStream(s, 1);
  EXPECT_TRUE(SamePixels(back, *image));
}

TEST(PdfWriter, NothingToWrite) {
  TPdfGraphic empty;
  TMemoryStream s;
  EXPECT_THROW(empty.SaveToStream(s), ELumetraError);
  empty.SaveImagesToStream(s, 0, [](int, bool&) -> TGraphic* { return nullptr; });
  EXPECT_EQ(s.Size(), 0);
}

// The CCITT data must be most-significant-bit first. A white 8 x 4 page is
// four V0 codes (one bit each) and the end-of-block code: 1111 0000 0000
// 0001 0000 0000 0001, i.e. F0 01 00 10 — reversed bytes would be 0F 80.
TEST(PdfWriter, CcittDataIsMostSignificantBitFirst) {
  TDibGraphic white;
  white.NewImage(8, 4, ifBlackWhite, nullptr, 100, 100);
  white.Fill(0xFFFFFF);
  const auto encoded = TPdfGraphic::EncodeImage(white, {});
  ASSERT_GE(encoded.data.size(), 4u);
  EXPECT_EQ(encoded.data[0], 0xF0);
  EXPECT_EQ(encoded.data[1], 0x01);
}

TEST(PdfWriter, PalettePagesCarryTheirPalette) {
  auto image = MakePatterned(ifColor256, 10, 10);
  const std::string doc = Saved(*image);
  const std::size_t at = doc.find("/ColorSpace [/Indexed /DeviceRGB 255 <");
  ASSERT_NE(at, std::string::npos);
  const std::size_t end = doc.find(">]\r\n", at);
  EXPECT_EQ(end - (at + 38), 256u * 6);
  EXPECT_EQ(doc.find("DevicePalette"), std::string::npos);
}

// --- round trips through our own reader -----------------------------------------

struct RoundTrip {
  TImageFormat format;
  const char* filter;
  int tolerance;  // per channel; 0 for the lossless filters
};
const RoundTrip kRoundTrips[] = {
    {ifBlackWhite, "[/CCITTFaxDecode]", 0}, {ifGray16, "/FlateDecode", 0},
    {ifColor256, "/FlateDecode", 0},        {ifGray256, "/DCTDecode", 12},
    {ifColor16, "/DCTDecode", 40},          {ifTrueColor, "/DCTDecode", 40},
};

std::string FormatTestName(TImageFormat format) {
  static const char* const kNames[] = {"BlackWhite", "Gray16",   "Gray256",
                                       "Color16",    "Color256", "TrueColor"};
  return kNames[format];
}

class PdfRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

::testing::AssertionResult Near(const TDibGraphic& a, const TDibGraphic& b, int tolerance) {
  if (a.Width() != b.Width() || a.Height() != b.Height())
    return ::testing::AssertionFailure() << "size differs";
  long long total = 0;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x)
      for (int shift : {0, 8, 16}) {
        const int d =
            std::abs(int((a.Pixels(x, y) >> shift) & 0xFF) - int((b.Pixels(x, y) >> shift) & 0xFF));
        total += d;
        if (d > tolerance * 3)
          return ::testing::AssertionFailure() << "pixel (" << x << "," << y << ") off by " << d;
      }
  const double mean = double(total) / (3.0 * a.Width() * a.Height());
  if (mean > tolerance / 4.0) return ::testing::AssertionFailure() << "mean error " << mean;
  return ::testing::AssertionSuccess();
}

// JPEG keeps flat blocks aligned to its 16-pixel units nearly exact; fine
// patterns are for the lossless filters.
std::unique_ptr<TDibGraphic> PageFor(const RoundTrip& p, int width, int height, int dpi) {
  auto image = MakePatterned(p.format, width, height, static_cast<std::uint16_t>(dpi));
  if (p.tolerance) PaintFlatBlocks(*image);
  return image;
}

TEST_P(PdfRoundTrip, PagesReadBackAsWritten) {
  const RoundTrip& p = GetParam();
  // Sizes that make whole points, so that the resolution comes back exactly.
  auto first = PageFor(p, 50, 75, 150);
  auto second = PageFor(p, 75, 50, 300);
  const std::string doc = SavedPages({first.get(), second.get()});
  EXPECT_NE(doc.find("/Filter " + std::string(p.filter)), std::string::npos);
  ASSERT_EQ(CountPages(doc), 2);
  auto back = LoadPage(doc, 2);
  EXPECT_EQ(back->XDpi(), 300);
  EXPECT_EQ(back->YDpi(), 300);
  const TImageFormat expected = p.format == ifColor16 ? ifTrueColor : p.format;
  EXPECT_EQ(back->ImageFormat(), expected);
  if (p.tolerance == 0)
    EXPECT_TRUE(SamePixels(*back, *second));
  else
    EXPECT_TRUE(Near(*back, *second, p.tolerance));
  // An index beyond the document leaves the image alone.
  TMemoryStream s;
  back->LoadImageFromStream(Fill(s, doc), 3);
  EXPECT_EQ(back->Width(), 75);
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, PdfRoundTrip, ::testing::ValuesIn(kRoundTrips),
                         [](const auto& info) { return FormatTestName(info.param.format); });

// --- appending --------------------------------------------------------------------

// The raw bytes of each page's image stream.
std::vector<std::vector<std::uint8_t>> ImageStreams(const std::string& doc) {
  TMemoryStream s;
  Fill(s, doc);
  TPDFParser parser(s);
  parser.ReadHeader();
  parser.ReadXRefChain();
  parser.ReadPageTree();
  std::vector<std::vector<std::uint8_t>> streams;
  for (std::size_t i = 0; i < parser.Pages().size(); ++i) {
    streams.emplace_back();
    parser.ReadStreamData(parser.ReadObject(parser.FindFirstImageObject(int(i))), streams.back());
  }
  return streams;
}

TEST(PdfAppend, ExistingPagesKeepTheirBytesAndTheNewPageFollows) {
  auto colour = MakePatterned(ifTrueColor, 40, 30, 100);
  auto grey = MakePatterned(ifGray256, 50, 100, 200);
  auto bw = MakePatterned(ifBlackWhite, 64, 20, 300);
  TMemoryStream s;
  TPdfGraphic pdf;
  pdf.Assign(colour.get());
  pdf.AppendToStream(s);  // an empty stream gets a one-page document
  pdf.Assign(grey.get());
  pdf.AppendToStream(s);
  const auto before = ImageStreams(Text(s));
  std::vector<int> progress;
  pdf.OnReadWriteProgress = [&](TObject*, std::uint8_t p) { progress.push_back(p); };
  pdf.Assign(bw.get());
  pdf.AppendToStream(s);
  const std::string doc = Text(s);
  ExpectConsistentXRef(doc, 16);
  const auto after = ImageStreams(doc);
  ASSERT_EQ(after.size(), 3u);
  // JPEG pages are not decoded and encoded again on each append.
  EXPECT_EQ(after[0], before[0]);
  EXPECT_EQ(after[1], before[1]);
  EXPECT_TRUE(SamePixels(*LoadPage(doc, 3), *bw));
  EXPECT_EQ(LoadPage(doc, 2)->XDpi(), 200);
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.front(), 0);
  EXPECT_EQ(progress.back(), 100);
}

TEST(PdfAppend, TheStreamEndsWhereTheNewDocumentEnds) {
  auto page = MakePatterned<TPdfGraphic>(ifBlackWhite, 8, 8);
  TMemoryStream s;
  page->SaveToStream(s);
  const std::string padding(1000, '\n');  // after "%%EOF": the old document was longer
  s.WriteBuffer(padding.data(), 1000);
  const std::int64_t before = s.Size();
  page->AppendToStream(s);
  const std::string doc = Text(s);
  EXPECT_LT(s.Size(), before);
  EXPECT_EQ(doc.substr(doc.size() - 7), "%%EOF\r\n");
  EXPECT_EQ(CountPages(doc), 2);
}

TEST(PdfAppend, AStreamThatIsNoDocumentStaysUnchanged) {
  TMemoryStream s;
  const std::string junk = "not a PDF document at all";
  Fill(s, junk);
  auto page = MakePatterned<TPdfGraphic>(ifBlackWhite, 8, 8);
  EXPECT_THROW(page->AppendToStream(s), EPdfError);
  EXPECT_EQ(Text(s), junk);
}

// --- documents made by hand ---------------------------------------------------------

TEST(PdfReader, FractionalMediaBoxesAreNumbers) {
  // 4 px across 2.88 pt is 100 dpi; 2 px over 0.72 pt is 200 dpi.
  auto page = LoadPage(OnePageDocument("[0.0000 0.0000 2.8800 0.72]", GreyImageObject()), 1);
  EXPECT_EQ(page->XDpi(), 100);
  EXPECT_EQ(page->YDpi(), 200);
  EXPECT_EQ(page->ImageFormat(), ifGray256);
  EXPECT_EQ(page->Pixels(0, 0), 0x101010u);
  EXPECT_EQ(page->Pixels(3, 1), 0x808080u);
}

TEST(PdfReader, DecodeArrayFromOneToZeroInverts) {
  auto page = LoadPage(OnePageDocument("[0 0 4 2]", GreyImageObject(" /Decode [1 0]")), 1);
  EXPECT_EQ(page->Pixels(0, 0), 0xEFEFEFu);
}

TEST(PdfReader, IntermediateNodesListTheirLeavesInOrder) {
  const std::string image = GreyImageObject();
  const std::string res = " /Resources << /XObject << /X 7 0 R >> >>";
  const std::string doc = BuildPdf({
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R 4 0 R 6 0 R] /Count 4 /MediaBox [0 0 288 144] >>",
      "<< /Type /Page /Parent 2 0 R" + res + " >>",
      "<< /Type /Pages /Parent 2 0 R /Kids [5 0 R 8 0 R] /Count 2 /MediaBox [0 0 72 72] >>",
      "<< /Type /Page /Parent 4 0 R" + res + " >>",
      "<< /Type /Page /Parent 2 0 R" + res + " >>",
      image,
      "<< /Type /Page /Parent 4 0 R" + res + " /MediaBox [0 0 144 144] >>",
  });
  TMemoryStream s;
  TPDFParser parser(Fill(s, doc));
  parser.ReadHeader();
  parser.ReadXRefChain();
  parser.ReadPageTree();
  std::vector<int> numbers;
  for (const TPDFPage& p : parser.Pages()) numbers.push_back(p.Number);
  EXPECT_EQ(numbers, (std::vector<int>{3, 5, 8, 6}));
  EXPECT_EQ(parser.Pages()[1].MediaBox[2], 72);   // inherited from its own parent
  EXPECT_EQ(parser.Pages()[2].MediaBox[2], 144);  // its own
  EXPECT_EQ(parser.Pages()[3].MediaBox[2], 288);
  EXPECT_EQ(LoadPage(doc, 2)->XDpi(), 4);
}

TEST(PdfReader, IndirectLengthAndOneElementFilterArray) {
  std::string raw;
  for (int i = 0; i < 8; ++i) raw += static_cast<char>(0x20 * i);
  // RunLengthDecode: a literal run of 8 bytes, then the end marker.
  const std::string data = std::string(1, char(7)) + raw + std::string(1, char(0x80));
  const std::string doc = BuildPdf({
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 4 2] /Resources 5 0 R >>",
      "<< /Subtype /Image /Width 4 /Height 2 /BitsPerComponent 8 /ColorSpace /DeviceGray "
      "/Filter [/RunLengthDecode] /Length 6 0 R >>\nstream\r\n" +
          data + "\nendstream",
      "<< /XObject << /Im4 4 0 R >> >>",
      std::to_string(data.size()),
  });
  auto page = LoadPage(doc, 1);
  EXPECT_EQ(page->Pixels(1, 0), 0x202020u);
  EXPECT_EQ(page->Pixels(3, 1), 0xE0E0E0u);
}

TEST(PdfReader, IndexedImagesWithALookupStream) {
  const std::string doc = BuildPdf({
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 4 2] /Resources << /XObject << /I 4 0 R >> >> "
      ">>",
      "<< /Subtype /Image /Width 4 /Height 2 /BitsPerComponent 8 "
      "/ColorSpace [/Indexed /DeviceRGB 1 5 0 R] /Length 8 >>\nstream\n"
      "\x00\x01\x01\x00\x00\x00\x01\x01\nendstream"s,
      "<< /Length 6 >>\nstream\n\xFF\x00\x00\x00\x80\xFF\nendstream"s,
  });
  auto page = LoadPage(doc, 1);
  EXPECT_EQ(page->ImageFormat(), ifColor256);
  EXPECT_EQ(page->Pixels(0, 0), 0xFF0000u);
  EXPECT_EQ(page->Pixels(1, 0), 0x0080FFu);
}

TEST(PdfReader, ShortDocumentsAreReadWhole) {
  const std::string doc = OnePageDocument("[0 0 4 2]", GreyImageObject());
  ASSERT_LT(doc.size(), 1024u);
  EXPECT_EQ(CountPages(doc), 1);
}

// --- damaged and hostile documents ---------------------------------------------------

struct Hostile {
  const char* name;
  std::string (*make)();
  const char* message;  // part of the EPdfError text
};

std::string Chain(int depth) {
  // Each node's only kid is the next node; the last one is a page.
  std::vector<std::string> objects = {"<< /Type /Catalog /Pages 2 0 R >>"};
  for (int i = 0; i < depth; ++i)
    objects.push_back("<< /Type /Pages /Kids [" + std::to_string(i + 3) + " 0 R] >>");
  objects.push_back("<< /Type /Page >>");
  return BuildPdf(objects);
}

const Hostile kHostile[] = {
    {"NoHeader", [] { return std::string(2000, ' ') + "%%EOF"; }, "header not found"},
    {"NoEnd", [] { return std::string("%PDF-1.3\n") + std::string(3000, 'a'); }, "EOF not found"},
    {"NoOffset", [] { return std::string("%PDF-1.3\nstartxref\nabc\n%%EOF"); },
     "XREF offset not found"},
    {"OffsetBeyondTheFile", [] { return std::string("%PDF-1.3\nstartxref\n99999\n%%EOF"); },
     "XREF offset not found"},
    {"NoXRefAtTheOffset", [] { return std::string("%PDF-1.3\nhello\nstartxref\n9\n%%EOF"); },
     "\"xref\" not found"},
    {"CrossReferenceStream",
     [] {
       return std::string(
           "%PDF-1.5\n5 0 obj\n<< /Type /XRef /Size 6 >>\nstream\n\nendstream\nendobj\n"
           "startxref\n9\n%%EOF");
     },
     "cross-reference streams (PDF 1.5) are not supported"},
    {"CountBeyondTheFile",
     [] { return std::string("%PDF-1.3\nxref\n0 999999999\nstartxref\n9\n%%EOF"); },
     "cross-reference table damaged"},
    {"PrevLoops",
     [] {
       std::string doc = OnePageDocument("[0 0 4 2]", GreyImageObject());
       const std::size_t xref = std::stoul(doc.substr(doc.rfind("startxref") + 10));
       const std::size_t at = doc.find(" /Root");
       doc.insert(at, " /Prev " + std::to_string(xref));
       return doc;
     },
     nullptr},
    {"OffsetsSlightlyOff",  // as tiff2pdf writes them after JPEG pages
     [] {
       std::string doc = OnePageDocument("[0 0 4 2]", GreyImageObject());
       const std::size_t mark = doc.rfind("startxref\n") + 10;
       const std::size_t xref = std::stoul(doc.substr(mark));
       doc.replace(mark, std::to_string(xref).size(), std::to_string(xref - 2));
       const std::size_t entry = doc.find(" 00000 n", xref) - 10;  // the catalog's
       const std::size_t offset = std::stoul(doc.substr(entry, 10));
       doc.replace(entry, 10, TenDigits(offset + 3));
       return doc;
     },
     nullptr},
    {"PageTreeCycle",
     [] {
       return BuildPdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] >>",
                        "<< /Type /Pages /Kids [2 0 R] >>"});
     },
     "page tree refers to object 2 twice"},
    {"SharedNodes",
     [] {
       return BuildPdf({"<< /Type /Catalog /Pages 2 0 R >>",
                        "<< /Type /Pages /Kids [3 0 R 3 0 R] >>",
                        "<< /Type /Pages /Kids [4 0 R 4 0 R] >>", "<< /Type /Page >>"});
     },
     "twice"},
    {"DeepPageTree", [] { return Chain(5000); }, "page tree too deep"},
    {"ObjectOffsetZero",
     [] {
       std::string doc = OnePageDocument("[0 0 4 2]", GreyImageObject());
       const std::size_t entry = doc.find(" 00000 n", doc.find("xref")) - 10;
       doc.replace(entry, 10, "0000000000");  // the catalog's entry
       return doc;
     },
     "object offset 1 not valid"},
    {"NestedArrays",
     [] { return BuildPdf({"<< /Type /Catalog /Pages " + std::string(100000, '[') + " >>"}); },
     "nested too deeply"},
    {"NoXObject",
     [] {
       return BuildPdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] >>",
                        "<< /Type /Page /Resources << /Font << >> >> >>"});
     },
     "Parameter not found !"},
    {"ResourcesNotADictionary",
     [] {
       return BuildPdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] >>",
                        "<< /Type /Page /Resources 12 >>"});
     },
     "Parameter is not a dictionary !"},
    {"HugeImage",
     [] {
       return OnePageDocument("[0 0 4 2]",
                              "<< /Subtype /Image /Width 2000000000 /Height 2000000000"
                              " /BitsPerComponent 8 /ColorSpace /DeviceRGB /Length 0"
                              " >>\nstream\n\nendstream");
     },
     "too large"},
    {"LengthBeyondTheFile",
     [] {
       std::string image = GreyImageObject();
       image.replace(image.find("/Length 8"), 9, "/Length 9999999999");
       return OnePageDocument("[0 0 4 2]", image);
     },
     nullptr},  // the data runs to "endstream", as the length cannot be right
};

class PdfHostile : public ::testing::TestWithParam<Hostile> {};

TEST_P(PdfHostile, FailsWithAClearMessageOrReads) {
  const Hostile& h = GetParam();
  const std::string doc = h.make();
  std::string message;
  try {
    const int pages = CountPages(doc);
    for (int page = 1; page <= pages; ++page) LoadPage(doc, page);
  } catch (const EPdfError& e) {
    message = e.what();
  }
  if (h.message)
    EXPECT_NE(message.find(h.message), std::string::npos) << h.name << ": " << message;
  else
    EXPECT_EQ(message, "") << h.name;
}

INSTANTIATE_TEST_SUITE_P(Documents, PdfHostile, ::testing::ValuesIn(kHostile),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PdfReader, EncryptedDocumentsAreRefused) {
  const std::string doc = BuildPdf({"<< /Type /Catalog /Pages 2 0 R >>"}, " /Encrypt << >>");
  EXPECT_EQ(MessageOf([&] { CountPages(doc); }), "Encrypted PDF documents are not supported !");
}

// Every cut and many overwritten bytes of a two-page document of ours: the
// reader answers with an exception of the formats, never anything worse.
TEST(PdfReader, DamagedDocumentsNeverCrash) {
  auto bw = MakePatterned(ifBlackWhite, 50, 30);
  auto colour = MakePatterned(ifColor256, 30, 20);
  const std::string good = SavedPages({bw.get(), colour.get()});
  std::uint32_t seed = 99;
  for (int round = 0; round < 160; ++round) {
    std::string doc = good;
    if (round < 32) {
      doc.resize(doc.size() * round / 32);
    } else {
      for (int k = 0; k < 1 + round % 3; ++k) {
        seed = seed * 1103515245u + 12345u;
        doc[(seed >> 8) % doc.size()] = static_cast<char>(seed >> 24);
      }
    }
    try {
      const int pages = CountPages(doc);
      for (int page = 1; page <= pages; ++page) LoadPage(doc, page);
    } catch (const EPdfError&) {
    } catch (const ETiffError&) {
    } catch (const EJpegError&) {
    } catch (const std::exception& e) {
      ADD_FAILURE() << "round " << round << ": " << e.what();
    }
  }
}

TEST(TiffDecoder, FindsTagsOfTheSelectedDirectoryAndRefusesMissingOnes) {
  auto image = MakePatterned<TTiffGraphic>(ifGray256, 9, 7);
  image->SetCompression(tcNone);
  TMemoryStream s;
  image->SaveToStream(s);
  image->AppendToStream(s);
  s.SetPosition(0);
  TTiffDecoder decoder(s);
  decoder.Select(1);
  EXPECT_EQ(decoder.TagValue(256), 9u);
  EXPECT_EQ(decoder.TagValue(257), 7u);
  EXPECT_EQ(MessageOf([&] { decoder.TagValue(999); }), "TIFF Tag Not Found: 999");
  EXPECT_EQ(MessageOf([&] { decoder.Select(2); }), "Invalid TIFF Page Number");
}

}  // namespace
}  // namespace lumetra
