// TEPSGraphic: the preview image of an encapsulated PostScript file with a
// binary header (its TIFF preview, else its metafile preview). Read only:
// saving writes nothing.
#pragma once

#include "imaging/dib_graphic.h"

namespace lumetra {

class TEPSGraphic : public TGraphicOf<TEPSGraphic> {
 public:
  // The first four bytes of such a file, little-endian.
  static constexpr std::uint32_t kMagic = 0xC6D3D0C5;

  TEPSGraphic() = default;
  const char* ClassName() const noexcept override { return "TEPSGraphic"; }

  bool IsValidStream(TStream& stream) override;
  // Raises EInvalidGraphic "EPS file does not have a preview" when the
  // header is not one or names no preview that is there to be read.
  void LoadImageFromStream(TStream& stream, int imageIndex) override;
};

}  // namespace lumetra
