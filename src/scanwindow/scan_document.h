// The scanning window's work on its document file, apart from the window:
// the compression each page gets, writing scanned pages one by one, the
// temporary names of Add Page and Delete Page, rewriting the document
// without one page, and the page box's number.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/streams.h"
#include "formats/tiff_graphic.h"

namespace quorvex::scanwindow {

// Group 4 for black and white, JPEG for true colour, PackBits otherwise.
lumetra::TTiffCompression CompressionForFormat(lumetra::TImageFormat format);

// What the acquisition layer hands to the page callback.
struct TScanContext {
  std::uint8_t multiPage = 0;
  lumetra::TTiffGraphic* encoder = nullptr;
  lumetra::TStream* stream = nullptr;
  std::int32_t pages = 0;
};

// Writes the encoder's image as the next page of the context's stream: the
// first one with SaveToStream, the others appended.
void WriteScannedPage(TScanContext& context, std::uint16_t xDpi, std::uint16_t yDpi);

// The status bar's count of the pages a scan has written.
std::string ScanStatusText(int pagesWritten);

// Add Page's temporary document: "doc.tif" gives "doc.tiff"; any other name
// gets a suffix that keeps a TIFF extension, so the file can be reloaded.
std::string AddPageFileName(const std::string& documentName);

// Delete Page's temporary file: Dir + "Quorvex" + the smallest free n + ".tiff".
std::string NumberedTempFileName(const std::string& tempDir,
                                 const std::function<bool(const std::string&)>& exists);

// The page box's text as a number: commas and blanks are ignored; raises
// EConvertError "'%s' is not a valid integer value" otherwise.
int PageBoxNumber(const std::string& text);

// The zoom box's text as a percentage; 100 when it is not a number.
int ZoomBoxPercent(const std::string& text);

// Writes every page of Document except SkipPage (1-based) to TempName, then
// copies it over the document. A failure leaves the document unchanged.
// Each page keeps the compression its image format gets when scanned.
void RewriteWithoutPage(const std::string& documentName, int pageCount, int skipPage,
                        const std::string& tempName);

// Appends every page of Source to Document (which is created when it is
// missing or empty), each with the compression its image format gets when
// scanned; answers how many pages were appended.
int AppendPages(const std::string& sourceName, const std::string& documentName);

// Removes Name when it is an empty file: a scan that wrote no page leaves
// no document behind.
void RemoveIfEmpty(const std::string& name);

}  // namespace quorvex::scanwindow
