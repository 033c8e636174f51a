#include "lumetra_cli.h"

#include <cctype>
#include <memory>
#include <optional>

#include "base/conversions.h"
#include "base/format.h"
#include "formats/eps_graphic.h"
#include "formats/jpeg_graphic.h"
#include "formats/pcx_graphic.h"
#include "formats/registry.h"
#include "formats/tiff_graphic.h"
#include "platform/platform.h"

namespace lumetra::cli {
namespace {

constexpr int kFailed = 1;
constexpr int kUsage = 2;

const char* const kUsageText =
    "usage: lumetra info FILE\n"
    "       lumetra convert IN OUT [--page N] [--compression NAME] [--quality Q]\n"
    "       lumetra append IN OUT\n"
    "compression names (TIFF output): none, packbits, g3, g3-2d, g4, zlib, jpeg, lzw\n";

class UsageError : public Exception {
 public:
  using Exception::Exception;
};

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

struct CompressionName {
  const char* name;
  TTiffCompression value;
};
const CompressionName kCompressionNames[] = {
    {"none", tcNone},       {"packbits", tcPackbits}, {"g3", tcGroup3_1D}, {"g3-1d", tcGroup3_1D},
    {"g3-2d", tcGroup3_2D}, {"g4", tcGroup4},         {"zlib", tcZLib},    {"deflate", tcZLib},
    {"jpeg", tcJPEG},       {"lzw", tcLZW},
};

TTiffCompression ParseCompression(const std::string& text) {
  const std::string name = Lower(text);
  for (const CompressionName& c : kCompressionNames)
    if (name == c.name) return c.value;
  for (int c = tcNone; c <= tcLZW; ++c)
    if (name == Lower(TiffCompressionName(c))) return TTiffCompression(c);
  throw UsageError(Format("unknown compression '%s'", text));
}

int ParseNumber(const std::string& option, const std::string& text, int low, int high) {
  int value = 0;
  try {
    value = StrToInt(text);
  } catch (const EConvertError& e) {
    throw UsageError(Format("%s: %s", option, e.what()));
  }
  if (value < low || value > high)
    throw UsageError(Format("%s must be between %d and %d", option, low, high));
  return value;
}

// The formats that hold more than one page.
bool IsMultiPage(const TDibGraphic& writer) {
  return dynamic_cast<const TTiffGraphic*>(&writer) || dynamic_cast<const TDcxGraphic*>(&writer);
}

std::unique_ptr<TDibGraphic> ReaderFor(const std::string& fileName) {
  return CreateGraphicForFile(fileName);
}

int PageCount(const std::string& fileName) {
  auto probe = ReaderFor(fileName);
  TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
  return probe->GetImageCount(stream);
}

std::unique_ptr<TDibGraphic> LoadPage(const std::string& fileName, int page) {
  auto image = ReaderFor(fileName);
  TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
  image->LoadImageFromStream(stream, page);
  if (image->Empty()) throw ELumetraError(Format("%s: page %d holds no image", fileName, page));
  return image;
}

// JPEG holds only grey and true colour: anything else is widened first.
void WidenForJpeg(TDibGraphic& image) {
  if (image.ImageFormat() == ifGray256 || image.ImageFormat() == ifTrueColor) return;
  TDibGraphic wide;
  wide.NewImage(image.Width(), image.Height(), ifTrueColor, nullptr, image.XDpi(), image.YDpi());
  for (int y = 0; y < image.Height(); ++y)
    for (int x = 0; x < image.Width(); ++x) wide.SetPixels(x, y, image.Pixels(x, y));
  image.Assign(&wide);
}

struct WriteOptions {
  std::optional<TTiffCompression> compression;
  std::optional<int> quality;
};

// A writer for OutName holding Page, with the options applied.
std::unique_ptr<TDibGraphic> PrepareWriter(const std::string& outName, const TDibGraphic& page,
                                           const WriteOptions& options) {
  auto writer = CreateGraphicForFile(outName);
  auto* tiff = dynamic_cast<TTiffGraphic*>(writer.get());
  auto* jpeg = dynamic_cast<TJpegGraphic*>(writer.get());
  if (jpeg) {
    jpeg->Assign(&page);
    WidenForJpeg(*jpeg);
  } else {
    writer->Assign(&page);
  }
  if (tiff) {
    // A TIFF page keeps its compression when the new file allows it.
    if (const auto* source = dynamic_cast<const TTiffGraphic*>(&page);
        source && !options.compression &&
        IsCompressionAllowed(source->Compression(), tiff->ImageFormat()))
      tiff->SetCompression(source->Compression());
    if (options.compression) tiff->SetCompression(*options.compression);
    if (options.quality) tiff->SetJpegQuality(static_cast<std::uint8_t>(*options.quality));
  } else if (jpeg) {
    if (options.quality) jpeg->JpegQuality = static_cast<std::uint8_t>(*options.quality);
  }
  if (options.compression && !tiff) throw UsageError("--compression applies to TIFF output only");
  if (options.quality && !tiff && !jpeg)
    throw UsageError("--quality applies to TIFF and JPEG output only");
  return writer;
}

int Info(const std::string& fileName, std::ostream& out) {
  auto probe = ReaderFor(fileName);
  const int pages = PageCount(fileName);
  out << "file: " << fileName << "\n";
  out << "format: " << probe->ClassName() << "\n";
  out << "pages: " << pages << "\n";
  for (int page = 1; page <= pages; ++page) {
    auto image = LoadPage(fileName, page);
    out << "page " << page << ": " << image->Width() << " x " << image->Height() << ", "
        << ImageFormatName(image->ImageFormat()) << ", " << image->XDpi() << " x " << image->YDpi()
        << " dpi";
    if (const auto* tiff = dynamic_cast<const TTiffGraphic*>(image.get()))
      out << ", " << TiffCompressionName(tiff->Compression()) << " compression";
    out << "\n";
  }
  return 0;
}

int Convert(const std::string& inName, const std::string& outName, std::optional<int> page,
            const WriteOptions& options, std::ostream& out) {
  const int pages = PageCount(inName);
  if (page && *page > pages)
    throw ELumetraError(Format("%s has %d page(s), not %d", inName, pages, *page));
  std::vector<int> wanted;
  if (page)
    wanted.push_back(*page);
  else
    for (int p = 1; p <= pages; ++p) wanted.push_back(p);
  // Check the output class before the file is created.
  auto check = CreateGraphicForFile(outName);
  if (dynamic_cast<TEPSGraphic*>(check.get()))
    throw ELumetraError("EPS files are read for their preview; they cannot be written");
  if (wanted.size() > 1 && !IsMultiPage(*check))
    throw ELumetraError(
        Format("The %s format does not support multiple images; choose one page with --page",
               check->ClassName()));
  TMemoryStream result;
  for (std::size_t i = 0; i < wanted.size(); ++i) {
    auto source = LoadPage(inName, wanted[i]);
    auto writer = PrepareWriter(outName, *source, options);
    if (i == 0)
      writer->SaveToStream(result);
    else
      writer->AppendToStream(result);
  }
  // Only a complete result replaces the output file.
  result.SaveToFile(outName);
  out << "wrote " << wanted.size() << " page(s) to " << outName << "\n";
  return 0;
}

int Append(const std::string& inName, const std::string& outName, std::ostream& out) {
  const int pages = PageCount(inName);
  auto check = CreateGraphicForFile(outName);
  if (!IsMultiPage(*check))
    throw ELumetraError(
        Format("The %s format does not support multiple images", check->ClassName()));
  std::unique_ptr<TFileStream> stream;
  if (platform::FileExists(outName))
    stream = std::make_unique<TFileStream>(outName, fmOpenReadWrite);
  else
    stream = std::make_unique<TFileStream>(outName, fmCreate);
  for (int p = 1; p <= pages; ++p) {
    auto source = LoadPage(inName, p);
    auto writer = PrepareWriter(outName, *source, {});
    writer->AppendToStream(*stream);
  }
  out << "appended " << pages << " page(s) to " << outName << "\n";
  return 0;
}

}  // namespace

int Run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
  try {
    RegisterBuiltinFormats();
    RegisterExtraPictureFormats();
    if (arguments.empty()) throw UsageError("no command given");
    const std::string& command = arguments[0];
    std::vector<std::string> positional;
    std::optional<int> page;
    WriteOptions options;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
      const std::string& a = arguments[i];
      if (a.rfind("--", 0) == 0) {
        if (command != "convert") throw UsageError(Format("%s takes no option %s", command, a));
        if (i + 1 >= arguments.size()) throw UsageError(Format("%s needs a value", a));
        const std::string& value = arguments[++i];
        if (a == "--page")
          page = ParseNumber(a, value, 1, 65535);
        else if (a == "--compression")
          options.compression = ParseCompression(value);
        else if (a == "--quality")
          options.quality = ParseNumber(a, value, 1, 100);
        else
          throw UsageError(Format("unknown option %s", a));
      } else {
        positional.push_back(a);
      }
    }
    if (command == "info" && positional.size() == 1) return Info(positional[0], out);
    if (command == "convert" && positional.size() == 2)
      return Convert(positional[0], positional[1], page, options, out);
    if (command == "append" && positional.size() == 2)
      return Append(positional[0], positional[1], out);
    if (command == "-h" || command == "--help" || command == "help") {
      out << kUsageText;
      return 0;
    }
    throw UsageError(command == "info" || command == "convert" || command == "append"
                         ? Format("wrong number of arguments for %s", command)
                         : Format("unknown command '%s'", command));
  } catch (const UsageError& e) {
    err << "lumetra: " << e.what() << "\n" << kUsageText;
    return kUsage;
  } catch (const std::exception& e) {
    err << "lumetra: " << e.what() << "\n";
    return kFailed;
  }
}

}  // namespace lumetra::cli
