// The reading side of TPdfGraphic: the first image of a page, decoded by
// the JPEG reader or, wrapped into a one-strip TIFF, by the TIFF reader.
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/format.h"
#include "formats/codec_limits.h"
#include "formats/jpeg_graphic.h"
#include "formats/pdf_graphic.h"
#include "formats/pdf_tiff_directory.h"
#include "formats/registry.h"
#include "formats/tiff_graphic.h"

namespace lumetra {
namespace {

[[noreturn]] void Fail(const std::string& message) {
  throw EPdfError(message);
}

// A value's text for a message, kept short.
std::string Shown(const TPdfValue& value) {
  std::string text = PdfValueText(value);
  if (text.size() > 60) text = text.substr(0, 57) + "...";
  return text;
}

bool IntegerOf(const TPdfValue* value, std::int64_t& out) {
  if (!value || !value->Is(TPdfValue::pvNumber) || !std::isfinite(value->number) ||
      std::fabs(value->number) > 9e15)
    return false;
  out = static_cast<std::int64_t>(std::nearbyint(value->number));
  return true;
}

std::int64_t IntegerOr(const TPdfValue* value, std::int64_t fallback) {
  std::int64_t out = 0;
  return IntegerOf(value, out) ? out : fallback;
}

// Inflates zlib data, never producing more than Limit bytes: whatever a
// hostile stream claims, only the pixels the image can hold are kept. The
// output grows with what the stream really holds.
std::vector<std::uint8_t> Inflate(const std::vector<std::uint8_t>& input, std::size_t limit) {
  constexpr std::size_t kStep = std::size_t{1} << 20;
  std::vector<std::uint8_t> out;
  z_stream z{};
  if (inflateInit(&z) != Z_OK) Fail("Invalid PDF stream: cannot start the Flate decoder !");
  z.next_in = const_cast<Bytef*>(input.data());
  z.avail_in = static_cast<uInt>(std::min<std::size_t>(input.size(), 0xFFFFFFFFu));
  int status = Z_OK;
  while (out.size() < limit && status == Z_OK) {
    const std::size_t before = out.size();
    out.resize(std::min(limit, before + kStep));
    z.next_out = out.data() + before;
    z.avail_out = static_cast<uInt>(out.size() - before);
    status = inflate(&z, Z_NO_FLUSH);
    out.resize(out.size() - z.avail_out);
    if (status == Z_BUF_ERROR && z.avail_in > 0 && out.size() < limit) status = Z_OK;
  }
  inflateEnd(&z);
  // Damage after some rows keeps the rows that came before, as viewers do.
  if (out.empty() && limit != 0 && status != Z_STREAM_END && status != Z_OK)
    Fail("Invalid PDF stream: damaged Flate data !");
  return out;
}

int Paeth(int a, int b, int c) {
  const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return a;
  return pb <= pc ? b : c;
}

// Undoes the PNG row predictors (each row starts with its filter type).
std::vector<std::uint8_t> UndoPngPredictor(const std::vector<std::uint8_t>& input,
                                           std::size_t rowBytes, std::size_t pixelBytes,
                                           std::size_t rows) {
  std::vector<std::uint8_t> out(rowBytes * rows, 0);
  std::vector<std::uint8_t> previous(rowBytes, 0);
  std::size_t at = 0;
  for (std::size_t r = 0; r < rows && at < input.size(); ++r) {
    const int type = input[at++];
    std::uint8_t* row = out.data() + r * rowBytes;
    const std::size_t n = std::min(rowBytes, input.size() - at);
    std::memcpy(row, input.data() + at, n);
    at += n;
    for (std::size_t i = 0; i < rowBytes; ++i) {
      const int left = i >= pixelBytes ? row[i - pixelBytes] : 0;
      const int up = previous[i];
      const int upLeft = i >= pixelBytes ? previous[i - pixelBytes] : 0;
      int add = 0;
      switch (type) {
        case 1:
          add = left;
          break;
        case 2:
          add = up;
          break;
        case 3:
          add = (left + up) / 2;
          break;
        case 4:
          add = Paeth(left, up, upLeft);
          break;
        default:
          break;
      }
      row[i] = static_cast<std::uint8_t>(row[i] + add);
    }
    std::memcpy(previous.data(), row, rowBytes);
  }
  return out;
}

// The colour spaces the reader renders, reduced to what the TIFF wrapper
// needs.
struct ColourSpace {
  int components = 1;  // of the samples: 1 grey or index, 3 RGB, 4 CMYK
  bool indexed = false;
  int baseComponents = 0;  // of the palette entries
  int highIndex = 0;
  std::vector<std::uint8_t> lookup;
};

[[noreturn]] void UnsupportedColourSpace(const TPdfValue& value) {
  Fail("Unsupported PDF colour space: " + Shown(value));
}

int ComponentsOfFamily(const std::string& name) {
  if (name == "DeviceGray" || name == "G" || name == "CalGray") return 1;
  if (name == "DeviceRGB" || name == "RGB" || name == "CalRGB") return 3;
  if (name == "DeviceCMYK" || name == "CMYK" || name == "CalCMYK") return 4;
  return 0;
}

ColourSpace ParseColourSpace(TPDFParser& parser, const TPdfValue& given, bool allowIndexed) {
  const TPdfValue value = parser.Resolve(given);
  ColourSpace space;
  if (value.Is(TPdfValue::pvName)) {
    space.components = ComponentsOfFamily(value.text);
    if (!space.components) UnsupportedColourSpace(value);
    return space;
  }
  if (!value.Is(TPdfValue::pvArray) || value.items.empty() || !value.items[0].Is(TPdfValue::pvName))
    UnsupportedColourSpace(value);
  const std::string& family = value.items[0].text;
  if (family == "CalGray" || family == "CalRGB" || family == "CalCMYK") {
    space.components = ComponentsOfFamily(family);
    return space;
  }
  if (family == "ICCBased" && value.items.size() >= 2 &&
      value.items[1].Is(TPdfValue::pvReference)) {
    const TPdfValue profile = parser.ReadObject(value.items[1].objectNumber).value;
    const std::int64_t n = IntegerOr(profile.Find("N"), 0);
    if (n != 1 && n != 3 && n != 4) UnsupportedColourSpace(value);
    space.components = static_cast<int>(n);
    return space;
  }
  if ((family == "Indexed" || family == "I") && allowIndexed && value.items.size() == 4) {
    const ColourSpace base = ParseColourSpace(parser, value.items[1], false);
    std::int64_t high = 0;
    if (!IntegerOf(&value.items[2], high) || high < 0 || high > 255) UnsupportedColourSpace(value);
    space.indexed = true;
    space.baseComponents = base.components;
    space.highIndex = static_cast<int>(high);
    const std::size_t wanted = static_cast<std::size_t>(high + 1) * base.components;
    const TPdfValue& table = value.items[3];
    if (table.Is(TPdfValue::pvString)) {
      space.lookup.assign(table.text.begin(), table.text.end());
    } else if (table.Is(TPdfValue::pvReference)) {
      const TPdfIndirectObject object = parser.ReadObject(table.objectNumber);
      parser.ReadStreamData(object, space.lookup);
      const TPdfValue filter =
          parser.Resolve(object.value.Find("Filter") ? *object.value.Find("Filter") : TPdfValue());
      const bool flate = filter.IsName("FlateDecode") ||
                         (filter.Is(TPdfValue::pvArray) && filter.items.size() == 1 &&
                          filter.items[0].IsName("FlateDecode"));
      if (flate)
        space.lookup = Inflate(space.lookup, wanted);
      else if (!filter.Is(TPdfValue::pvNull))
        UnsupportedColourSpace(value);
    } else {
      UnsupportedColourSpace(value);
    }
    space.lookup.resize(wanted, 0);  // a short table leaves the rest black
    return space;
  }
  UnsupportedColourSpace(value);
}

// The filter of an image: a name, or an array of one name.
std::string FilterName(TPDFParser& parser, const TPdfValue& dict) {
  const TPdfValue* given = dict.Find("Filter");
  if (!given) return {};
  TPdfValue filter = parser.Resolve(*given);
  if (filter.Is(TPdfValue::pvArray)) {
    if (filter.items.empty()) return {};
    if (filter.items.size() > 1) Fail("Unsupported PDF image filter: " + Shown(filter));
    filter = parser.Resolve(filter.items[0]);
  }
  if (!filter.Is(TPdfValue::pvName)) Fail("Unsupported PDF image filter: " + Shown(filter));
  static const std::pair<const char*, const char*> kAbbreviations[] = {{"Fl", "FlateDecode"},
                                                                       {"DCT", "DCTDecode"},
                                                                       {"CCF", "CCITTFaxDecode"},
                                                                       {"RL", "RunLengthDecode"},
                                                                       {"LZW", "LZWDecode"}};
  for (const auto& [abbreviation, name] : kAbbreviations)
    if (filter.text == abbreviation) return name;
  return filter.text;
}

TPdfValue DecodeParms(TPDFParser& parser, const TPdfValue& dict) {
  const TPdfValue* given = dict.Find("DecodeParms");
  if (!given) return {};
  TPdfValue parms = parser.Resolve(*given);
  if (parms.Is(TPdfValue::pvArray))
    parms = parms.items.empty() ? TPdfValue() : parser.Resolve(parms.items[0]);
  return parms;
}

constexpr std::uint16_t kCompressionNone = 1, kCompressionCcitt3 = 3, kCompressionCcitt4 = 4,
                        kCompressionLzw = 5, kCompressionPackBits = 32773;

// Decodes the image object into Dest.
void DecodeImage(TPDFParser& parser, const TPdfIndirectObject& object, TDibGraphic& dest,
                 const TLumetraProgressEvent& progress) {
  const TPdfValue& dict = object.value;
  if (!dict.Is(TPdfValue::pvDictionary)) Fail("Parameter is not a dictionary !");
  std::int64_t width = 0, height = 0;
  if (!IntegerOf(dict.Find("Width"), width) || !IntegerOf(dict.Find("Height"), height))
    Fail("Parameter not found !");
  if (width < 1 || height < 1 || width > 0x7FFFFFFF || height > 0x7FFFFFFF)
    Fail(Format("Invalid PDF stream: image size %d x %d not valid !", width, height));
  const std::string filter = FilterName(parser, dict);
  const TPdfValue parms = DecodeParms(parser, dict);
  std::vector<std::uint8_t> data;
  parser.ReadStreamData(object, data);

  if (filter == "DCTDecode") {
    TJpegGraphic jpeg;
    jpeg.OnReadWriteProgress = progress;
    TMemoryStream encoded;
    if (!data.empty()) encoded.WriteBuffer(data.data(), static_cast<std::int64_t>(data.size()));
    encoded.SetPosition(0);
    jpeg.LoadImageFromStream(encoded, 1);
    dest.Assign(&jpeg);
    return;
  }

  const TPdfValue* mask = dict.Find("ImageMask");
  const bool imageMask = mask && mask->Is(TPdfValue::pvBoolean) && mask->boolean;
  ColourSpace space;
  if (!imageMask) {
    const TPdfValue* colourSpace = dict.Find("ColorSpace");
    if (!colourSpace) Fail("Parameter not found !");
    space = ParseColourSpace(parser, *colourSpace, true);
  }
  const bool ccitt = filter == "CCITTFaxDecode";
  const std::int64_t bits = imageMask || ccitt ? 1 : IntegerOr(dict.Find("BitsPerComponent"), 0);
  if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16)
    Fail(Format("Invalid PDF stream: %d bits per component not supported !", bits));
  // A decode array that runs from 1 to 0 shows the samples inverted.
  bool inverted = false;
  if (const TPdfValue* decode = dict.Find("Decode");
      decode && decode->Is(TPdfValue::pvArray) && decode->items.size() >= 2 &&
      decode->items[0].Is(TPdfValue::pvNumber) && decode->items[1].Is(TPdfValue::pvNumber))
    inverted = decode->items[0].number > decode->items[1].number;

  const std::uint64_t rowBytes =
      (static_cast<std::uint64_t>(width) * space.components * bits + 7) / 8;
  if (rowBytes > kMaxImageBytes / static_cast<std::uint64_t>(height))
    Fail(Format("Invalid PDF stream: image %d x %d too large !", width, height));
  const std::uint64_t rawBytes = rowBytes * static_cast<std::uint64_t>(height);

  std::uint16_t compression = kCompressionNone, photometric = 1, t4Options = 0, predictor = 1;
  bool invertAfter = false;
  if (filter.empty() || filter == "FlateDecode") {
    const std::int64_t png = IntegerOr(parms.Find("Predictor"), 1);
    if (filter == "FlateDecode") {
      const std::size_t limit = static_cast<std::size_t>(
          png >= 10 ? rawBytes + static_cast<std::uint64_t>(height) : rawBytes);
      data = Inflate(data, limit);
    }
    if (png >= 10) {
      const std::size_t pixelBytes =
          std::max<std::size_t>(1, static_cast<std::size_t>(space.components * bits / 8));
      data = UndoPngPredictor(data, static_cast<std::size_t>(rowBytes), pixelBytes,
                              static_cast<std::size_t>(height));
    } else if (png == 2) {
      if (bits != 8) Fail("Unsupported PDF image filter: TIFF predictor with these samples");
      const std::size_t step = static_cast<std::size_t>(space.components);
      for (std::size_t row = 0; row * rowBytes < data.size(); ++row) {
        std::uint8_t* p = data.data() + row * rowBytes;
        const std::size_t n = std::min<std::size_t>(rowBytes, data.size() - row * rowBytes);
        for (std::size_t i = step; i < n; ++i) p[i] = static_cast<std::uint8_t>(p[i] + p[i - step]);
      }
    }
    // Rows a damaged or short stream does not hold stay blank.
    data.resize(static_cast<std::size_t>(rawBytes), 0);
    // PDF samples of 16 bits are big-endian, the wrapper's little-endian.
    if (bits == 16)
      for (std::size_t i = 0; i + 1 < data.size(); i += 2) std::swap(data[i], data[i + 1]);
  } else if (filter == "RunLengthDecode") {
    compression = kCompressionPackBits;
  } else if (filter == "LZWDecode") {
    if (IntegerOr(parms.Find("EarlyChange"), 1) != 1)
      Fail("Unsupported PDF image filter: LZW without early change");
    compression = kCompressionLzw;
    const std::int64_t p = IntegerOr(parms.Find("Predictor"), 1);
    if (p == 2) predictor = 2;
    if (p >= 10) Fail("Unsupported PDF image filter: LZW with PNG predictors");
  } else if (ccitt) {
    const std::int64_t k = IntegerOr(parms.Find("K"), 0);
    compression = k < 0 ? kCompressionCcitt4 : kCompressionCcitt3;
    t4Options = k > 0 ? 1 : 0;
    const TPdfValue* blackIs1 = parms.Find("BlackIs1");
    // The wrapper shows white runs white; samples of 1 for black, or a
    // decode array that swaps the two, turn the page over.
    invertAfter = (blackIs1 && blackIs1->Is(TPdfValue::pvBoolean) && blackIs1->boolean) != inverted;
  } else {
    Fail("Unsupported PDF image filter: /" + filter);
  }

  if (ccitt) {
    photometric = 0;
    space = ColourSpace();
  } else if (space.indexed) {
    photometric = 3;
  } else if (space.components == 3) {
    photometric = 2;
  } else if (space.components == 4) {
    photometric = 5;
  } else {
    // Grey samples: 0 is black unless the decode array says otherwise.
    photometric = inverted ? 0 : 1;
  }

  TMemoryStream tiffStream;
  TTiffEncoder encoder(tiffStream);
  const std::uint32_t stripOffset = encoder.Offset();
  if (data.size() > 0xFFFF0000u) Fail("Invalid PDF stream: image data too large !");
  if (!data.empty()) tiffStream.WriteBuffer(data.data(), static_cast<std::int64_t>(data.size()));
  encoder.BeginDirectory();
  encoder.AddLong(256, static_cast<std::uint32_t>(width));
  encoder.AddLong(257, static_cast<std::uint32_t>(height));
  encoder.AddShort(258, static_cast<std::uint16_t>(bits));
  encoder.AddShort(259, compression);
  encoder.AddShort(262, photometric);
  encoder.AddShort(266, 1);
  encoder.AddLong(273, stripOffset);
  encoder.AddShort(277, static_cast<std::uint16_t>(space.components));
  encoder.AddLong(278, static_cast<std::uint32_t>(height));
  encoder.AddLong(279, static_cast<std::uint32_t>(data.size()));
  encoder.AddShort(292, t4Options);
  if (predictor != 1) encoder.AddShort(317, predictor);
  if (space.indexed) {
    const std::size_t entries = std::size_t{1} << bits;
    std::vector<std::uint16_t> map(3 * entries, 0);
    for (std::size_t i = 0; i < entries && static_cast<int>(i) <= space.highIndex; ++i) {
      const std::uint8_t* e = space.lookup.data() + i * space.baseComponents;
      std::uint8_t rgb[3];
      if (space.baseComponents == 1) {
        rgb[0] = rgb[1] = rgb[2] = e[0];
      } else if (space.baseComponents == 3) {
        std::memcpy(rgb, e, 3);
      } else {
        for (int c = 0; c < 3; ++c)
          rgb[c] = static_cast<std::uint8_t>(std::max(0, 255 - e[c] - e[3]));
      }
      for (int c = 0; c < 3; ++c) map[c * entries + i] = static_cast<std::uint16_t>(rgb[c] * 257);
    }
    encoder.AddShorts(320, map);
  }
  encoder.WriteDirectory();

  TTiffGraphic tiff;
  tiff.OnReadWriteProgress = progress;
  tiffStream.SetPosition(0);
  tiff.LoadImageFromStream(tiffStream, 1);
  dest.Assign(&tiff);
  if (invertAfter) NegatePixels(dest);
}

std::uint16_t DpiOf(int pixels, double points) {
  if (!(points > 0) || !std::isfinite(points)) return 0;
  const long double dpi = std::nearbyint(pixels / (static_cast<long double>(points) / 72));
  return static_cast<std::uint16_t>(std::clamp<long double>(dpi, 1, 65535));
}

void OpenDocument(TPDFParser& parser) {
  parser.ReadHeader();
  parser.ReadXRefChain();
  parser.ReadPageTree();
}

}  // namespace

int TPdfGraphic::GetImageCount(TStream& stream) {
  int count = 0;
  ReadFromOffsetZero(stream, [&](TStream& s) {
    TPDFParser parser(s);
    OpenDocument(parser);
    count = static_cast<int>(parser.Pages().size());
  });
  return count;
}

void TPdfGraphic::LoadImageFromStream(TStream& stream, int imageIndex) {
  ReadFromOffsetZero(stream, [&](TStream& s) {
    TPDFParser parser(s);
    OpenDocument(parser);
    if (imageIndex < 1 || imageIndex > static_cast<int>(parser.Pages().size())) return;
    const int index = imageIndex - 1;
    const TPdfIndirectObject image = parser.ReadObject(parser.FindFirstImageObject(index));
    TDibGraphic decoded;
    try {
      DecodeImage(parser, image, decoded, OnReadWriteProgress);
    } catch (const std::bad_alloc&) {
      // A 32-bit host cannot hold every page a document may claim.
      throw EPdfError("Invalid PDF stream: not enough memory for the page image !");
    }
    const TPDFPage& page = parser.Pages()[static_cast<std::size_t>(index)];
    if (const std::uint16_t x = DpiOf(decoded.Width(), page.MediaBox[2] - page.MediaBox[0]))
      decoded.SetXDpi(x);
    if (const std::uint16_t y = DpiOf(decoded.Height(), page.MediaBox[3] - page.MediaBox[1]))
      decoded.SetYDpi(y);
    Assign(&decoded);
  });
}

}  // namespace lumetra
