// TJpegGraphic: baseline and progressive JPEG (JFIF) files through
// libjpeg-turbo, over the library's streams.
#pragma once

#include <cstdint>

#include "imaging/dib_graphic.h"

namespace lumetra {

LUMETRA_DECLARE_EXCEPTION(EJpegError, Exception);

class TJpegGraphic : public TDibGraphic {
 public:
  TJpegGraphic() = default;
  const char* ClassName() const noexcept override { return "TJpegGraphic"; }
  std::unique_ptr<TDibGraphic> CreateNew() const override;

  bool IsValidStream(TStream& stream) override;
  void LoadImageFromStream(TStream& stream, int imageIndex) override;
  void SaveToStream(TStream& stream) override;

  std::uint8_t JpegQuality = 80;
  bool Progressive = false;
  bool OptimizeCoding = false;
};

}  // namespace lumetra
