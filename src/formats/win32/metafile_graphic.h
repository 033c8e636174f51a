// TMetaFileGraphic: Windows metafiles (placeable WMF) and enhanced
// metafiles, played by GDI into a true-colour image on the background
// colour. Writing makes an enhanced metafile that holds the image.
#pragma once

#include "imaging/dib_graphic.h"

namespace lumetra {

class TMetaFileGraphic : public TGraphicOf<TMetaFileGraphic> {
 public:
  TMetaFileGraphic() = default;
  const char* ClassName() const noexcept override { return "TMetaFileGraphic"; }

  // A placeable-metafile key or an enhanced-metafile signature.
  bool IsValidStream(TStream& stream) override;
  // Raises EInvalidGraphic "Invalid metafile" for data GDI does not take.
  void LoadImageFromStream(TStream& stream, int imageIndex) override;
  void SaveToStream(TStream& stream) override;

  std::uint32_t BackgroundColor = 0xFFFFFF;
};

}  // namespace lumetra
