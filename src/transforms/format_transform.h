// TImageFormatTransform: converts an image into any of the six formats,
// choosing a palette from the image's own colours for the 16- and 256-colour
// targets and placing colours by error diffusion when asked.
#pragma once

#include "transforms/image_transform.h"

namespace lumetra {

class TImageFormatTransform : public TImageTransform {
 public:
  TImageFormatTransform();
  const char* ClassName() const noexcept override { return "TImageFormatTransform"; }
  // Does nothing when Graphic already has TargetFormat.
  void Apply(TDibGraphic& graphic) override;
  void ApplyOnDest(const TDibGraphic& source, TDibGraphic& dest) override;

  TImageFormat TargetFormat() const { return targetFormat_; }
  void SetTargetFormat(TImageFormat value) { targetFormat_ = value; }
  // Used for colour targets when Quantize is off and its count is not 0;
  // receives the quantized or default palette otherwise.
  TLogPalette& Palette() { return palette_; }
  const TLogPalette& Palette() const { return palette_; }
  void SetPalette(const TLogPalette& value) { palette_ = value; }
  bool Quantize() const { return quantize_; }
  void SetQuantize(bool value) { quantize_ = value; }
  bool Dither() const { return dither_; }
  void SetDither(bool value) { dither_ = value; }

 private:
  TImageFormat targetFormat_ = ifTrueColor;
  TLogPalette palette_;
  bool quantize_ = true;
  bool dither_ = true;
};

}  // namespace lumetra
