// The image-only PDF writer: what it puts on each line, every pixel format
// read back through our reader, and appending pages to a document.
#include <cstdio>
#include <string>
#include <vector>

#include "formats/pdf_graphic.h"
#include "pdf_documents.h"
#include "support/format_images.h"

namespace lumetra {
namespace {

using namespace testing;  // documents, patterns and comparators

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

}  // namespace
}  // namespace lumetra
