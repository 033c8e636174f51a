// TIconGraphic: Windows icon files. Reading draws the first icon of the
// file through GDI on the background colour; writing keeps the top-left
// corner of the image at the system's icon size, all of it opaque.
#pragma once

#include "imaging/dib_graphic.h"

namespace lumetra {

class TIconGraphic : public TGraphicOf<TIconGraphic> {
 public:
  TIconGraphic() = default;
  const char* ClassName() const noexcept override { return "TIconGraphic"; }

  // An icon directory whose first entry has a size Windows accepts.
  bool IsValidStream(TStream& stream) override;
  // Raises EInvalidGraphic "Icon image is not valid" for a damaged file.
  void LoadImageFromStream(TStream& stream, int imageIndex) override;
  void SaveToStream(TStream& stream) override;

  std::uint32_t BackgroundColor = 0xFFFFFF;
};

// An image as an icon file, as TIconGraphic saves it.
void WriteIconFile(const TDibGraphic& image, TStream& stream);

}  // namespace lumetra
