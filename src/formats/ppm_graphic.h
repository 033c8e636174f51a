// TPpmGraphic: the portable bitmap, greymap and pixmap files (P1 to P6),
// coded by the class itself.
#pragma once

#include "imaging/dib_graphic.h"

namespace lumetra {

class TPpmGraphic : public TGraphicOf<TPpmGraphic> {
 public:
  TPpmGraphic() = default;
  const char* ClassName() const noexcept override { return "TPpmGraphic"; }

  bool IsValidStream(TStream& stream) override;
  // Raises ELumetraError "Not a valid PPM file" for a bad signature, a
  // damaged header or a truncated file.
  void LoadImageFromStream(TStream& stream, int imageIndex) override;
  void SaveToStream(TStream& stream) override;
  void Assign(const TGraphic* source) override;

  // Raw (P4, P5, P6) rather than plain (P1, P2, P3) variants; reading sets
  // it from the file.
  bool Binary = false;
};

}  // namespace lumetra
