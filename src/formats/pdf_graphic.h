// TPdfGraphic: image-only PDF documents, one raster image filling each page.
// It writes PDF 1.3 with a cross-reference table (CCITT Group 4 for black
// and white, Deflate for 16 greys and 256 colours, JPEG otherwise), appends
// pages without re-encoding the existing ones, and reads back the first
// image of any page of such documents and of those peers write.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/pdf_parser.h"
#include "imaging/dib_graphic.h"

namespace lumetra {

class TPdfGraphic : public TGraphicOf<TPdfGraphic> {
 public:
  TPdfGraphic() = default;
  const char* ClassName() const noexcept override { return "TPdfGraphic"; }

  int GetImageCount(TStream& stream) override;
  // Decodes page ImageIndex (1-based); an index outside the document leaves
  // the image as it was.
  void LoadImageFromStream(TStream& stream, int imageIndex) override;
  void SaveToStream(TStream& stream) override;
  void AppendToStream(TStream& stream) override;
  void SaveImagesToStream(TStream& stream, int count, const TGetImageEvent& getImage) override;

  // An image XObject ready to be written: its dictionary lines between
  // /Height and /Length, its filter text and its encoded bytes.
  struct TEncodedImage {
    int width = 0, height = 0;
    std::vector<std::string> layoutLines;  // "/BitsPerComponent 1", "/ColorSpace ..."
    std::string filter;                    // the text after "/Filter ", may be empty
    std::vector<std::string> extraLines;   // lines after the filter (copied pages)
    std::vector<std::uint8_t> data;
  };
  // Encodes an image the way pages are embedded (exposed for the tests).
  static TEncodedImage EncodeImage(const TDibGraphic& image, const TLumetraProgressEvent& progress);
};

}  // namespace lumetra
