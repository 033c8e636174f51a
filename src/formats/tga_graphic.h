// TTgaGraphic: Truevision Targa files through the bitmap codec layer.
#pragma once

#include "imaging/dib_graphic.h"

namespace lumetra {

LUMETRA_DECLARE_EXCEPTION(ETgaError, Exception);

class TTgaGraphic : public TGraphicOf<TTgaGraphic> {
 public:
  TTgaGraphic() = default;
  const char* ClassName() const noexcept override { return "TTgaGraphic"; }

  bool IsValidStream(TStream& stream) override;
  // A Targa file holds one image: LoadFromStream reads it directly, without
  // the frame handling of the base class.
  void LoadFromStream(TStream& stream) override;
  void LoadImageFromStream(TStream& stream, int imageIndex) override;
  // Raises ETgaError "TARGA image must be true color or 8 bit with palette"
  // for other formats before anything is written.
  void SaveToStream(TStream& stream) override;
};

}  // namespace lumetra
