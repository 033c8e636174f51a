#include "lumetra_cli.h"

#include <cctype>
#include <functional>
#include <memory>
#include <optional>

#include "base/conversions.h"
#include "base/format.h"
#include "formats/eps_graphic.h"
#include "formats/jpeg_graphic.h"
#include "formats/pcx_graphic.h"
#include "formats/pdf_graphic.h"
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

// Formats whose files hold many pages.
bool HoldsManyPages(const TDibGraphic& format) {
  return dynamic_cast<const TTiffGraphic*>(&format) || dynamic_cast<const TPdfGraphic*>(&format) ||
         dynamic_cast<const TDcxGraphic*>(&format);
}

// A batch must not stop for a warning box: what a codec warns of while
// Image reads or writes File goes to standard error.
void WarnTo(TDibGraphic& image, const std::string& fileName, std::ostream& err) {
  image.OnWarning = [&err, fileName](TObject*, const std::string& message) {
    err << "lumetra: warning: " << fileName << ": " << message << "\n";
  };
}

// The pages of one input file, read in order over one open stream: a TIFF
// document's chain of directories is walked once, however many pages it has.
class PageSource {
 public:
  PageSource(const std::string& fileName, std::ostream& err)
      : fileName_(fileName),
        err_(err),
        probe_(CreateGraphicForFile(fileName)),
        stream_(fileName, fmOpenRead | fmShareDenyWrite) {
    if (dynamic_cast<TTiffGraphic*>(probe_.get())) {
      tiff_ = std::make_unique<TTiffPageReader>(stream_);
      count_ = tiff_->Count();
    } else {
      count_ = probe_->GetImageCount(stream_);
    }
  }
  const TDibGraphic& Probe() const { return *probe_; }
  int Count() const { return count_; }
  // Why a TIFF's directory chain broke off after Count pages, or "".
  std::string Damage() const { return tiff_ ? tiff_->Damage() : std::string(); }

  // With Rows, a page whose rows decode in order comes back with its header
  // alone and *Rows its reader, valid until the next Load; any other page
  // comes back decoded and *Rows null.
  std::unique_ptr<TDibGraphic> Load(int page, TPageRows** rows = nullptr) {
    auto image = probe_->CreateNew();
    WarnTo(*image, fileName_, err_);
    rows_.reader = nullptr;
    jpegRows_.reset();
    try {
      if (tiff_ && rows) {
        rows_.reader = tiff_->ReadRows(page, static_cast<TTiffGraphic&>(*image));
      } else if (tiff_) {
        tiff_->Read(page, static_cast<TTiffGraphic&>(*image));
      } else if (rows && dynamic_cast<TJpegGraphic*>(image.get())) {
        stream_.SetPosition(0);
        jpegRows_ = std::make_unique<TJpegRowReader>(stream_, static_cast<TJpegGraphic&>(*image));
        rows_.reader = jpegRows_.get();
      } else {
        stream_.SetPosition(0);
        image->LoadImageFromStream(stream_, page);
      }
    } catch (const std::exception& e) {
      throw ELumetraError(Format("%s, page %d: %s", fileName_, page, e.what()));
    }
    if (image->Empty())
      throw ELumetraError(Format("%s: page %d holds no image", fileName_, page));
    rows_.where = Format("%s, page %d", fileName_, page);
    if (rows) *rows = rows_.reader ? &rows_ : nullptr;
    return image;
  }

 private:
  std::string fileName_;
  std::ostream& err_;
  std::unique_ptr<TDibGraphic> probe_;
  TFileStream stream_;
  std::unique_ptr<TTiffPageReader> tiff_;
  int count_ = 0;
  std::unique_ptr<TJpegRowReader> jpegRows_;
  // The rows of the page last loaded; their errors name the file and page.
  struct NamedRows : TPageRows {
    TPageRows* reader = nullptr;
    std::string where;
    void ReadRow(std::uint8_t* row) override {
      try {
        reader->ReadRow(row);
      } catch (const std::exception& e) {
        throw ELumetraError(Format("%s: %s", where, e.what()));
      }
    }
  } rows_;
};

// A damaged chain is said once; the pages before the damage are still used.
void ReportDamage(const PageSource& source, const std::string& fileName, std::ostream& err) {
  const std::string damage = source.Damage();
  if (!damage.empty())
    err << "lumetra: warning: " << fileName << " is damaged after page " << source.Count() << ": "
        << damage << "\n";
}

// JPEG holds only grey and true colour: anything else is widened first.
void WidenForJpeg(TDibGraphic& image) {
  if (image.ImageFormat() == ifGray256 || image.ImageFormat() == ifTrueColor) return;
  TDibGraphic wide;
  wide.NewImage(image.Width(), image.Height(), ifTrueColor, nullptr, image.XDpi(), image.YDpi());
  for (int y = 0; y < image.Height(); ++y)
    for (int x = 0; x < image.Width(); ++x) wide.SetPixels(x, y, image.Pixels(x, y));
  image.TakeImageFrom(wide);
}

struct WriteOptions {
  std::optional<TTiffCompression> compression;
  std::optional<int> quality;
};

// The writer of OutName for Page, with the options applied. A page already
// of the output's class is written as it is, keeping its tags and settings
// (a TIFF page its descriptions and annotations); any other is copied.
std::unique_ptr<TDibGraphic> PrepareWriter(const std::string& outName,
                                           std::unique_ptr<TDibGraphic> page,
                                           const WriteOptions& options, std::ostream& err) {
  auto writer = CreateGraphicForFile(outName);
  if (std::string(writer->ClassName()) == page->ClassName()) {
    writer = std::move(page);
  } else if (page->FrameCount() == 0) {
    // A single page changes class without a second copy of its pixels.
    writer->TakeImageFrom(*page);
  } else {
    writer->Assign(page.get());
  }
  page.reset();
  WarnTo(*writer, outName, err);
  auto* tiff = dynamic_cast<TTiffGraphic*>(writer.get());
  auto* jpeg = dynamic_cast<TJpegGraphic*>(writer.get());
  if (jpeg) WidenForJpeg(*jpeg);
  if (tiff) {
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

// Runs Write, the whole of which builds OutName anew; its failure names the
// file and says that the file is as it was.
void WriteOutput(const std::string& outName, const std::function<void(TStream&)>& write) {
  try {
    SaveFileReplacing(outName, write);
  } catch (const UsageError&) {
    throw;
  } catch (const std::exception& e) {
    throw ELumetraError(Format("%s was not written: %s", outName, e.what()));
  }
}

int Info(const std::string& fileName, std::ostream& out, std::ostream& err) {
  PageSource source(fileName, err);
  const int pages = source.Count();
  out << "file: " << fileName << "\n";
  out << "format: " << source.Probe().ClassName() << "\n";
  out << "pages: " << pages << "\n";
  ReportDamage(source, fileName, err);
  for (int page = 1; page <= pages; ++page) {
    auto image = source.Load(page);
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
            const WriteOptions& options, std::ostream& out, std::ostream& err) {
  PageSource source(inName, err);
  const int pages = source.Count();
  if (page && *page > pages)
    throw ELumetraError(Format("%s has %d page(s), not %d", inName, pages, *page));
  // Check the output class before anything is written.
  auto check = CreateGraphicForFile(outName);
  if (dynamic_cast<TEPSGraphic*>(check.get()))
    throw ELumetraError("EPS files are read for their preview; they cannot be written");
  if (!page && pages > 1 && !HoldsManyPages(*check))
    throw ELumetraError(
        Format("The %s format does not support multiple images; choose one page with --page",
               check->ClassName()));
  ReportDamage(source, inName, err);
  const int first = page.value_or(1), last = page.value_or(pages);
  const bool pdf = dynamic_cast<TPdfGraphic*>(check.get()) != nullptr;
  if (pdf && options.compression) throw UsageError("--compression applies to TIFF output only");
  if (pdf && options.quality) throw UsageError("--quality applies to TIFF and JPEG output only");
  WriteOutput(outName, [&](TStream& stream) {
    if (pdf) {
      // One pass writes every page; page by page appends would copy the
      // pages written so far again each time.
      check->SaveImagesToStream(stream, last - first + 1, [&](int index, bool& freeIt) {
        freeIt = true;
        return static_cast<TGraphic*>(source.Load(first + index - 1).release());
      });
      return;
    }
    // A TIFF or JPEG page streams from the input's rows into the output's:
    // the conversion holds rows, not the page.
    const bool tiffOut = dynamic_cast<TTiffGraphic*>(check.get()) != nullptr;
    const bool jpegOut = dynamic_cast<TJpegGraphic*>(check.get()) != nullptr;
    for (int p = first; p <= last; ++p) {
      TPageRows* rows = nullptr;
      auto image = source.Load(p, tiffOut || jpegOut ? &rows : nullptr);
      if (rows && jpegOut && image->ImageFormat() != ifGray256 &&
          image->ImageFormat() != ifTrueColor) {
        // Widened for JPEG first, which takes the decoded page.
        for (int y = 0; y < image->Height(); ++y) rows->ReadRow(image->ScanLine(y));
        rows = nullptr;
      }
      auto writer = PrepareWriter(outName, std::move(image), options, err);
      if (auto* tiff = dynamic_cast<TTiffGraphic*>(writer.get()))
        tiff->SetRowSource(rows);
      else if (auto* jpeg = dynamic_cast<TJpegGraphic*>(writer.get()))
        jpeg->SetRowSource(rows);
      if (p == first)
        writer->SaveToStream(stream);
      else
        writer->AppendToStream(stream);
    }
  });
  out << "wrote " << last - first + 1 << " page(s) to " << outName << "\n";
  return 0;
}

int Append(const std::string& inName, const std::string& outName, std::ostream& out,
           std::ostream& err) {
  PageSource source(inName, err);
  const int pages = source.Count();
  auto check = CreateGraphicForFile(outName);
  if (!HoldsManyPages(*check))
    throw ELumetraError(
        Format("The %s format does not support multiple images", check->ClassName()));
  ReportDamage(source, inName, err);
  // The pages go to a copy that replaces the document only when all of them
  // are in: a page that fails to read or a full disk leaves it as it was.
  const bool exists = platform::FileExists(outName);
  WriteOutput(outName, [&](TStream& stream) {
    if (exists) {
      TFileStream old(outName, fmOpenRead | fmShareDenyWrite);
      stream.CopyFrom(old, 0);
    }
    for (int p = 1; p <= pages; ++p) {
      auto writer = PrepareWriter(outName, source.Load(p), {}, err);
      writer->AppendToStream(stream);
    }
  });
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
    if (command == "info" && positional.size() == 1) return Info(positional[0], out, err);
    if (command == "convert" && positional.size() == 2)
      return Convert(positional[0], positional[1], page, options, out, err);
    if (command == "append" && positional.size() == 2)
      return Append(positional[0], positional[1], out, err);
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
