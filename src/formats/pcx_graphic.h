// TPcxGraphic: single-image ZSoft PC Paintbrush files through the bitmap
// codec layer, with their resolution. TDcxGraphic: the multi-page container
// of PCX pages behind a table of 1024 page offsets.
#pragma once

#include "imaging/dib_graphic.h"

namespace lumetra {

LUMETRA_DECLARE_EXCEPTION(EDcxError, Exception);

class TPcxGraphic : public TGraphicOf<TPcxGraphic> {
 public:
  TPcxGraphic() = default;
  const char* ClassName() const noexcept override { return "TPcxGraphic"; }

  bool IsValidStream(TStream& stream) override;
  void LoadImageFromStream(TStream& stream, int imageIndex) override;
  void SaveToStream(TStream& stream) override;
};

class TDcxGraphic : public TGraphicOf<TDcxGraphic, TPcxGraphic> {
 public:
  // The first four bytes of a DCX file, little-endian.
  static constexpr std::uint32_t kMagic = 987654321;
  // Table slots; one always stays 0 to end the table.
  static constexpr int kSlots = 1024;

  TDcxGraphic() = default;
  const char* ClassName() const noexcept override { return "TDcxGraphic"; }

  bool IsValidStream(TStream& stream) override;
  int GetImageCount(TStream& stream) override;
  void LoadImageFromStream(TStream& stream, int imageIndex) override;
  void SaveToStream(TStream& stream) override;
  // Raises EDcxError "The DCX file header is full" when no slot is left.
  void AppendToStream(TStream& stream) override;
};

}  // namespace lumetra
