#include "scanwindow/scan_document.h"

#include <cstdio>
#include <filesystem>

#include "base/conversions.h"
#include "base/exception.h"

namespace quorvex::scanwindow {

using namespace lumetra;

TTiffCompression CompressionForFormat(TImageFormat format) {
  switch (format) {
    case ifBlackWhite: return tcGroup4;
    case ifTrueColor: return tcJPEG;
    default: return tcPackbits;
  }
}

void WriteScannedPage(TScanContext& context, std::uint16_t xDpi, std::uint16_t yDpi) {
  TTiffGraphic& encoder = *context.encoder;
  encoder.SetXDpi(xDpi);
  encoder.SetYDpi(yDpi);
  encoder.SetCompression(CompressionForFormat(encoder.ImageFormat()));
  context.stream->Seek(0, soBeginning);
  if (context.pages == 0)
    encoder.SaveToStream(*context.stream);
  else
    encoder.AppendToStream(*context.stream);
}

std::string ScanStatusText(int pagesWritten) {
  if (pagesWritten == 0) return "No page scanned";
  return std::to_string(pagesWritten) + (pagesWritten == 1 ? " page scanned" : " pages scanned");
}

namespace {
bool EndsWithNoCase(const std::string& text, const std::string& suffix) {
  if (text.size() < suffix.size()) return false;
  for (std::size_t i = 0; i < suffix.size(); ++i) {
    char c = text[text.size() - suffix.size() + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != suffix[i]) return false;
  }
  return true;
}
}  // namespace

std::string AddPageFileName(const std::string& documentName) {
  if (EndsWithNoCase(documentName, ".tif")) return documentName + "f";
  return documentName + ".add.tif";
}

std::string NumberedTempFileName(const std::string& tempDir,
                                 const std::function<bool(const std::string&)>& exists) {
  for (int n = 0;; ++n) {
    std::string name = tempDir + "Quorvex" + std::to_string(n) + ".tiff";
    if (!exists(name)) return name;
  }
}

int PageBoxNumber(const std::string& text) {
  std::string digits;
  for (char c : text)
    if (c != ',' && c != ' ') digits += c;
  return StrToInt(digits);
}

int ZoomBoxPercent(const std::string& text) {
  try {
    return StrToInt(text);
  } catch (const EConvertError&) {
    return 100;
  }
}

void RewriteWithoutPage(const std::string& documentName, int pageCount, int skipPage,
                        const std::string& tempName) {
  {
    TFileStream source(documentName, fmOpenRead | fmShareDenyWrite);
    TFileStream dest(tempName, fmCreate);
    dest.Seek(0, soBeginning);
    bool first = true;
    for (int page = 1; page <= pageCount; ++page) {
      if (page == skipPage) continue;
      TTiffGraphic graphic;
      source.Seek(0, soBeginning);
      graphic.LoadImageFromStream(source, page);
      graphic.SetCompression(CompressionForFormat(graphic.ImageFormat()));
      dest.Seek(0, soBeginning);
      if (first)
        graphic.SaveToStream(dest);
      else
        graphic.AppendToStream(dest);
      first = false;
    }
  }
  // Copy the rewritten pages back over the document through our own
  // streams: std::filesystem::copy_file cannot overwrite under mingw.
  {
    TFileStream source(tempName, fmOpenRead | fmShareDenyWrite);
    TFileStream dest(documentName, fmCreate);
    dest.CopyFrom(source, 0);
  }
  std::error_code error;
  std::filesystem::remove(tempName, error);
}

namespace {
std::uintmax_t FileSize(const std::string& name) {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(name, error);
  return error ? 0 : size;
}
}  // namespace

int AppendPages(const std::string& sourceName, const std::string& documentName) {
  TFileStream source(sourceName, fmOpenRead | fmShareDenyWrite);
  const int count = TTiffGraphic().GetImageCount(source);
  const bool fresh = FileSize(documentName) == 0;
  TFileStream dest(documentName, fresh ? fmCreate : fmOpenReadWrite);
  for (int page = 1; page <= count; ++page) {
    TTiffGraphic graphic;
    source.Seek(0, soBeginning);
    graphic.LoadImageFromStream(source, page);
    graphic.SetCompression(CompressionForFormat(graphic.ImageFormat()));
    dest.Seek(0, soBeginning);
    if (fresh && page == 1)
      graphic.SaveToStream(dest);
    else
      graphic.AppendToStream(dest);
  }
  return count;
}

void RemoveIfEmpty(const std::string& name) {
  std::error_code error;
  if (std::filesystem::is_regular_file(name, error) && FileSize(name) == 0)
    std::filesystem::remove(name, error);
}

}  // namespace quorvex::scanwindow
