// The writing side of TPdfGraphic.
#include <algorithm>
#include <cmath>

#include "base/format.h"
#include "formats/jpeg_graphic.h"
#include "formats/pdf_graphic.h"
#include "formats/pdf_tiff_directory.h"
#include "formats/registry.h"
#include "formats/tiff_graphic.h"
#include "imaging/row_bytes.h"

namespace lumetra {
namespace {

constexpr std::uint16_t kTagFillOrder = 266;
constexpr std::uint16_t kTagStripOffsets = 273;
constexpr std::uint16_t kTagStripByteCounts = 279;

std::string LocalDateTime() {
  const std::tm local = LocalTimeNow();
  return FormatDateWith("yyyymmdd", local) + FormatTimeWith("hhnnss", local);
}

std::string EscapePdfString(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '\r':
        out += "\\r";
        break;
      case '(':
        out += "\\(";
        break;
      case ')':
        out += "\\)";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string Ref(int number) {
  return Format("%d 0 R", number);
}

// The one strip of a TIFF the TIFF writer made, most significant bit first
// whatever fill order the file is labelled with: the PDF filters read bytes
// that way.
std::vector<std::uint8_t> StripOf(TMemoryStream& tiff) {
  tiff.SetPosition(0);
  TTiffDecoder decoder(tiff);
  decoder.Select(0);
  const std::uint32_t offset = decoder.TagValue(kTagStripOffsets);
  const std::uint32_t count = decoder.TagValue(kTagStripByteCounts);
  if (std::int64_t{offset} + count > tiff.Size()) throw Exception("Invalid TIFF Page Number");
  std::vector<std::uint8_t> data(tiff.Memory() + offset, tiff.Memory() + offset + count);
  if (decoder.IndexOfTag(kTagFillOrder) >= 0 && decoder.TagValue(kTagFillOrder) == 2) {
    const std::uint8_t* table = ReverseBitsTable();
    for (std::uint8_t& b : data) b = table[b];
  }
  return data;
}

std::vector<std::uint8_t> EncodeThroughTiff(const TDibGraphic& image, TTiffCompression compression,
                                            const TLumetraProgressEvent& progress) {
  TTiffGraphic tiff;
  tiff.Assign(&image);
  tiff.SetCompression(compression);
  tiff.SetRowsPerStrip(image.Height());
  tiff.OnReadWriteProgress = progress;
  TMemoryStream encoded;
  tiff.SaveToStream(encoded);
  return StripOf(encoded);
}

std::vector<std::uint8_t> EncodeJpeg(const TDibGraphic& image,
                                     const TLumetraProgressEvent& progress) {
  TJpegGraphic jpeg;
  jpeg.Assign(&image);
  if (jpeg.ImageFormat() != ifGray256 && jpeg.ImageFormat() != ifTrueColor) {
    TDibGraphic wide;
    wide.NewImage(image.Width(), image.Height(), ifTrueColor, nullptr, image.XDpi(), image.YDpi());
    for (int y = 0; y < image.Height(); ++y)
      for (int x = 0; x < image.Width(); ++x) wide.SetPixels(x, y, image.Pixels(x, y));
    jpeg.Assign(&wide);
  }
  jpeg.OnReadWriteProgress = progress;
  TMemoryStream encoded;
  jpeg.SaveToStream(encoded);
  return {encoded.Memory(), encoded.Memory() + encoded.Size()};
}

// The 256 entries of an indexed image as a PDF hex string; entries the
// palette does not have are black.
std::string PaletteHex(const TDibGraphic& image) {
  static const char kHex[] = "0123456789ABCDEF";
  const TLogPalette* palette = image.LogPalette();
  std::string hex = "<";
  for (int i = 0; i < 256; ++i) {
    std::uint8_t rgb[3] = {0, 0, 0};
    if (i < palette->palNumEntries) {
      const TPaletteEntry& e = palette->palPalEntry[i];
      rgb[0] = e.peRed;
      rgb[1] = e.peGreen;
      rgb[2] = e.peBlue;
    }
    for (std::uint8_t c : rgb) {
      hex += kHex[c >> 4];
      hex += kHex[c & 15];
    }
  }
  return hex + ">";
}

// Page size in points, rounded to the nearest integer, ties to even.
long double PagePoints(int pixels, std::uint16_t dpi) {
  if (dpi == 0) dpi = 72;
  return std::nearbyint(static_cast<long double>(pixels) * 72 / dpi);
}

// Writes a document object by object, remembering where each starts.
class PdfWriter {
 public:
  PdfWriter(TStream& out, int highestObject)
      : out_(out), base_(out.Position()), offsets_(static_cast<std::size_t>(highestObject) + 1) {}

  void Line(const std::string& text) {
    const std::string line = text + "\r\n";
    out_.WriteBuffer(line.data(), static_cast<std::int64_t>(line.size()));
  }

  void Header() { Line("%PDF-1.3\xFF\xFE\xFD"); }

  void Info(int number) {
    Begin(number);
    Line("<</Creator (TPdfGraphic)");
    Line("/CreationDate (" + EscapePdfString("D:" + LocalDateTime()) + ")");
    Line("/Producer (Lumetra Image Library)");
    Line("/Author ()");
    Line("/Title ()");
    Line("/Subject ()");
    Line("/Keywords ()");
    End();
  }

  void PageTree(int number, const std::vector<int>& pages) {
    Begin(number);
    Line("<</Type /Pages");
    Line("/Kids [");
    for (int page : pages) Line(Ref(page));
    Line("]");
    Line(Format("/Count %d", pages.size()));
    End();
  }

  void Page(int number, int parent, int resources, int content, long double width,
            long double height) {
    Begin(number);
    Line("<</Type /Page");
    Line("/Parent " + Ref(parent));
    Line("/Resources " + Ref(resources));
    Line(Format("/Contents [%d 0 R]", content));
    Line("/MediaBox [0 0 " + PdfNumberText(width) + " " + PdfNumberText(height) + "]");
    End();
  }

  void Resources(int number, int image) {
    Begin(number);
    Line(Format("<< /XObject << /Im%d %d 0 R >>", image, image));
    Line("/Font << >>");
    End();
  }

  void Content(int number, int image, long double width, long double height) {
    const std::string content = "q\r\n1 0 0 1 0 0 cm\r\n" + PdfNumberText(width) + " 0 0 " +
                                PdfNumberText(height) + " 0 0 cm\r\n" +
                                Format("/Im%d Do\r\nQ\r\n", image);
    Begin(number);
    Line(Format("<</Length %d", content.size()));
    Line(">>");
    Line("stream");
    Line(content);
    Line("endstream");
    Line("endobj");
  }

  void Image(int number, const TPdfGraphic::TEncodedImage& image) {
    Begin(number);
    Line("<</Type /XObject");
    Line("/Subtype /Image");
    Line(Format("/Name /Im%d", number));
    Line(Format("/Width %d", image.width));
    Line(Format("/Height %d", image.height));
    for (const std::string& line : image.layoutLines) Line(line);
    Line(Format("/Length %d", image.data.size()));
    if (!image.filter.empty()) Line("/Filter " + image.filter);
    for (const std::string& line : image.extraLines) Line(line);
    Line(">>");
    Line("stream");
    if (!image.data.empty())
      out_.WriteBuffer(image.data.data(), static_cast<std::int64_t>(image.data.size()));
    Line("");
    Line("endstream");
    Line("endobj");
  }

  void Catalog(int number, int pages) {
    Begin(number);
    Line("<</Type /Catalog");
    Line("/Pages " + Ref(pages));
    Line("/PageLayout /SinglePage");
    Line("/PageMode /UseNone");
    End();
  }

  void XRefAndTrailer(int root) {
    const std::int64_t xref = out_.Position() - base_;
    Line("xref");
    Line(Format("0 %d", offsets_.size()));
    Line("0000000000 65535 f");
    for (std::size_t i = 1; i < offsets_.size(); ++i) Line(Format("%.10d 00000 n", offsets_[i]));
    Line("trailer");
    Line("<<");
    Line(Format("/Size %d", offsets_.size()));
    Line("/Root " + Ref(root));
    Line("/Info " + Ref(1));
    Line(">>");
    Line("startxref");
    Line(Format("%d", xref));
    Line("%%EOF");
  }

 private:
  void Begin(int number) {
    offsets_.at(static_cast<std::size_t>(number)) = out_.Position() - base_;
    Line(Format("%d 0 obj", number));
  }
  void End() {
    Line(">>");
    Line("endobj");
  }

  TStream& out_;
  std::int64_t base_;
  std::vector<std::int64_t> offsets_;
};

// One page of a multi-page document: its object numbers and what it shows.
struct PageObjects {
  int page, content, resources, image;
};
PageObjects PageObjectsOf(int index) {
  return {4 + 4 * index, 5 + 4 * index, 6 + 4 * index, 7 + 4 * index};
}

std::vector<int> PageNumbers(int count) {
  std::vector<int> numbers;
  for (int i = 0; i < count; ++i) numbers.push_back(PageObjectsOf(i).page);
  return numbers;
}

struct PlacedImage {
  TPdfGraphic::TEncodedImage image;
  long double width, height;  // points
};

PlacedImage Place(const TDibGraphic& image, const TLumetraProgressEvent& progress) {
  return {TPdfGraphic::EncodeImage(image, progress), PagePoints(image.Width(), image.XDpi()),
          PagePoints(image.Height(), image.YDpi())};
}

// An image dictionary whose values are all direct (the length aside) can be
// written into another document unchanged; references would need the
// objects they point at.
bool HasReference(const TPdfValue& value) {
  if (value.Is(TPdfValue::pvReference)) return true;
  for (const TPdfValue& item : value.items)
    if (HasReference(item)) return true;
  for (const auto& [key, entry] : value.entries)
    if (key != "Length" && HasReference(entry)) return true;
  return false;
}

// An existing page of Stream as it will be written again: its image
// stream copied byte for byte when it can be, decoded and encoded anew
// otherwise.
PlacedImage ExistingPage(TPDFParser& parser, TStream& stream, int index) {
  const TPDFPage& page = parser.Pages()[static_cast<std::size_t>(index)];
  const TPdfIndirectObject object = parser.ReadObject(parser.FindFirstImageObject(index));
  const TPdfValue& dict = object.value;
  const TPdfValue* width = dict.Find("Width");
  const TPdfValue* height = dict.Find("Height");
  if (object.isStream && !HasReference(dict) && width && height && width->Is(TPdfValue::pvNumber) &&
      height->Is(TPdfValue::pvNumber) && width->number >= 1 && height->number >= 1 &&
      width->number <= 2147483647 && height->number <= 2147483647) {
    PlacedImage placed;
    TPdfGraphic::TEncodedImage& image = placed.image;
    image.width = static_cast<int>(width->number);
    image.height = static_cast<int>(height->number);
    for (const char* key : {"BitsPerComponent", "ColorSpace"})
      if (const TPdfValue* v = dict.Find(key))
        image.layoutLines.push_back(std::string("/") + key + " " + PdfValueText(*v));
    if (const TPdfValue* filter = dict.Find("Filter")) {
      image.filter = PdfValueText(*filter);
      if (const TPdfValue* parms = dict.Find("DecodeParms"))
        image.filter += " /DecodeParms" + PdfValueText(*parms);
    }
    for (const auto& [key, value] : dict.entries) {
      static const char* const kWritten[] = {"Type",   "Subtype",          "Name",       "Width",
                                             "Height", "BitsPerComponent", "ColorSpace", "Length",
                                             "Filter", "DecodeParms"};
      if (std::find(std::begin(kWritten), std::end(kWritten), key) != std::end(kWritten)) continue;
      TPdfValue name;
      name.kind = TPdfValue::pvName;
      name.text = key;
      image.extraLines.push_back(PdfValueText(name) + " " + PdfValueText(value));
    }
    parser.ReadStreamData(object, image.data);
    placed.width = page.MediaBox[2] - page.MediaBox[0];
    placed.height = page.MediaBox[3] - page.MediaBox[1];
    if (!(placed.width > 0) || !(placed.height > 0)) {
      placed.width = image.width;
      placed.height = image.height;
    }
    return placed;
  }
  TPdfGraphic scratch;
  stream.SetPosition(0);
  scratch.LoadImageFromStream(stream, index + 1);
  return Place(scratch, {});
}

}  // namespace

TPdfGraphic::TEncodedImage TPdfGraphic::EncodeImage(const TDibGraphic& image,
                                                    const TLumetraProgressEvent& progress) {
  if (image.Empty()) throw ELumetraError("Graphic is empty");
  TEncodedImage encoded;
  encoded.width = image.Width();
  encoded.height = image.Height();
  switch (image.ImageFormat()) {
    case ifBlackWhite:
      encoded.layoutLines = {"/BitsPerComponent 1", "/ColorSpace /DeviceGray"};
      encoded.filter = Format("[/CCITTFaxDecode] /DecodeParms[<< /Columns %d /Rows %d /K -1 >>]",
                              image.Width(), image.Height());
      encoded.data = EncodeThroughTiff(image, tcGroup4, progress);
      break;
    case ifGray16:
      encoded.layoutLines = {"/BitsPerComponent 4", "/ColorSpace /DeviceGray"};
      encoded.filter = "/FlateDecode";
      encoded.data = EncodeThroughTiff(image, tcZLib, progress);
      break;
    case ifColor256:
      // The palette travels with the page, so that every reader shows its
      // colours.
      encoded.layoutLines = {"/BitsPerComponent 8",
                             "/ColorSpace [/Indexed /DeviceRGB 255 " + PaletteHex(image) + "]"};
      encoded.filter = "/FlateDecode";
      encoded.data = EncodeThroughTiff(image, tcZLib, progress);
      break;
    case ifGray256:
      encoded.layoutLines = {"/BitsPerComponent 8", "/ColorSpace /DeviceGray"};
      encoded.filter = "/DCTDecode";
      encoded.data = EncodeJpeg(image, progress);
      break;
    default:  // 16 colours go as true colour
      encoded.layoutLines = {"/BitsPerComponent 8", "/ColorSpace /DeviceRGB"};
      encoded.filter = "/DCTDecode";
      encoded.data = EncodeJpeg(image, progress);
  }
  return encoded;
}

void TPdfGraphic::SaveToStream(TStream& stream) {
  const PlacedImage placed = Place(*this, OnReadWriteProgress);
  WriteAtOffsetZero(stream, [&](TStream& out) {
    PdfWriter w(out, 7);
    w.Header();
    w.Info(1);
    w.PageTree(2, {3});
    w.Page(3, 2, 4, 6, placed.width, placed.height);
    w.Resources(4, 7);
    w.Image(7, placed.image);
    w.Content(6, 7, placed.width, placed.height);
    w.Catalog(5, 2);
    w.XRefAndTrailer(5);
  });
}

void TPdfGraphic::SaveImagesToStream(TStream& stream, int count, const TGetImageEvent& getImage) {
  if (count <= 0) return;
  WriteAtOffsetZero(stream, [&](TStream& out) {
    PdfWriter w(out, 4 * count + 3);
    w.Header();
    w.Info(1);
    w.PageTree(2, PageNumbers(count));
    for (int i = 0; i < count; ++i) {
      bool freeIt = false;
      TGraphic* source = getImage(i + 1, freeIt);
      std::unique_ptr<TGraphic> owner(freeIt ? source : nullptr);
      Assign(source);
      owner.reset();
      const PlacedImage placed = Place(*this, {});
      const PageObjects o = PageObjectsOf(i);
      w.Page(o.page, 2, o.resources, o.content, placed.width, placed.height);
      w.Resources(o.resources, o.image);
      w.Content(o.content, o.image, placed.width, placed.height);
      w.Image(o.image, placed.image);
    }
    w.Catalog(3, 2);
    w.XRefAndTrailer(3);
  });
}

void TPdfGraphic::AppendToStream(TStream& stream) {
  if (stream.Size() == 0) {
    stream.SetPosition(0);
    SaveToStream(stream);
    return;
  }
  std::uint8_t last = ReportProgress(this, 0, 0, 255, 100, OnReadWriteProgress);
  const PlacedImage current = Place(*this, {});
  stream.SetPosition(0);
  TPDFParser parser(stream);
  parser.ReadHeader();
  parser.ReadXRefChain();
  parser.ReadPageTree();
  const int count = static_cast<int>(parser.Pages().size());

  TMemoryStream document;
  PdfWriter w(document, 4 * (count + 1) + 3);
  w.Header();
  w.Info(1);
  w.PageTree(2, PageNumbers(count + 1));
  for (int i = 0; i < count; ++i) {
    const PlacedImage placed = ExistingPage(parser, stream, i);
    const PageObjects o = PageObjectsOf(i);
    w.Page(o.page, 2, o.resources, o.content, placed.width, placed.height);
    w.Resources(o.resources, o.image);
    w.Content(o.content, o.image, placed.width, placed.height);
    w.Image(o.image, placed.image);
    last = ReportProgress(this, i + 1, 0, last, count + 1, OnReadWriteProgress);
  }
  const PageObjects o = PageObjectsOf(count);
  w.Page(o.page, 2, o.resources, o.content, current.width, current.height);
  w.Resources(o.resources, o.image);
  w.Image(o.image, current.image);
  w.Content(o.content, o.image, current.width, current.height);
  w.Catalog(3, 2);
  w.XRefAndTrailer(3);

  stream.SetPosition(0);
  document.SetPosition(0);
  stream.CopyFrom(document, 0);
  stream.SetSize(document.Size());
  ReportProgress(this, 100, 0, last, 100, OnReadWriteProgress);
}

}  // namespace lumetra
