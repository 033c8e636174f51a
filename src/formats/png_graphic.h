// TPngGraphic: single-image PNG files through libpng, over the library's
// streams.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "imaging/dib_graphic.h"

namespace lumetra {

LUMETRA_DECLARE_EXCEPTION(EPNGError, Exception);

// The screen gamma that file gammas are corrected for.
constexpr double kScreenGamma = 2.0;

struct TPngColor {
  std::uint8_t red = 0, green = 0, blue = 0;
  bool operator==(const TPngColor&) const = default;
};

class TPngGraphic : public TGraphicOf<TPngGraphic> {
 public:
  TPngGraphic() = default;
  const char* ClassName() const noexcept override { return "TPngGraphic"; }

  bool IsValidStream(TStream& stream) override;
  void LoadImageFromStream(TStream& stream, int imageIndex) override;
  void SaveToStream(TStream& stream) override;
  void Assign(const TGraphic* source) override;

  double Gamma = 0.5;
  TPngColor BackgroundColor;
  bool UseOwnBackground = false;
  int CompressionLevel = 1;  // 0, 1, 2: zlib levels 1, 5, 9
  bool Interlaced = true;
  bool HasBackground = false;
  bool HasTrns = false;
  TPngColor TrnsColor;
  // The rendering intent of an sRGB chunk, or -1 when the file had none.
  int SrgbIntent = -1;
};

}  // namespace lumetra
