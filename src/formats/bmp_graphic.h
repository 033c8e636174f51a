// TBitmapGraphic: Windows and OS/2 bitmap files. Reading goes through the
// bitmap codec layer, and whatever that layer does not take (16 and 32 bits,
// bit fields) through the image model's DIB reader; writing is the class's
// own, an uncompressed Windows 3 bitmap of the image as it is held.
#pragma once

#include "imaging/dib_graphic.h"

namespace lumetra {

class TBitmapGraphic : public TGraphicOf<TBitmapGraphic> {
 public:
  TBitmapGraphic() = default;
  const char* ClassName() const noexcept override { return "TBitmapGraphic"; }

  bool IsValidStream(TStream& stream) override;
  void LoadImageFromStream(TStream& stream, int imageIndex) override;
  void SaveToStream(TStream& stream) override;
};

}  // namespace lumetra
