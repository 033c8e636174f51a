// The PDF reader on hand-made documents, and on damaged or hostile ones:
// a clear error or a sound page, never anything worse.
#include <string>
#include <vector>

#include "formats/jpeg_graphic.h"
#include "formats/pdf_graphic.h"
#include "formats/pdf_tiff_directory.h"
#include "formats/tiff_graphic.h"
#include "pdf_documents.h"
#include "support/format_images.h"

namespace lumetra {
namespace {

using namespace std::string_literals;
using namespace testing;  // documents, patterns and comparators

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
