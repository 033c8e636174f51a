#include "transforms/format_transform.h"

#include <cstring>

#include "imaging/color_reduction.h"
#include "transforms/pixel_rows.h"
#include "transforms/stretch.h"

namespace lumetra {

TImageFormatTransform::TImageFormatTransform() { std::memset(&palette_, 0, sizeof palette_); }

void TImageFormatTransform::Apply(TDibGraphic& graphic) {
  if (graphic.ImageFormat() == targetFormat_) return;
  ApplyThroughCopy(graphic);
}

void TImageFormatTransform::ApplyOnDest(const TDibGraphic& source, TDibGraphic& dest) {
  if (&source == &dest) return ApplyThroughCopy(dest);
  StartProgress();
  const TLogPalette* palette = nullptr;
  if (targetFormat_ == ifColor16 || targetFormat_ == ifColor256) {
    const int colours = targetFormat_ == ifColor16 ? 16 : 256;
    if (quantize_) {
      // The quantizer fills the first half of the run when dithering follows.
      const long long end = dither_ ? 200 : 99;
      std::uint8_t state = 255;
      lumetra::Quantize(
          source, palette_, colours, &state,
          [this, end](TObject*, std::uint8_t percent) { Progress(percent, 0, end); }, this);
    } else if (palette_.palNumEntries == 0) {
      palette_ = DefaultPalette(targetFormat_);
    }
    palette = &palette_;
  }
  rows::NewLike(dest, source, source.Width(), source.Height(), targetFormat_, palette);
  if (dither_ && targetFormat_ != ifTrueColor) {
    const int h = source.Height();
    const bool secondHalf = quantize_;
    DitherFloydSteinberg(source, dest, [&](int r) {
      Progress(secondHalf ? r + (h - 1 - r) / 2 : r, 0, h - 1);
    });
  } else {
    StretchImage(source, dest, smColorOnColor);
  }
  EndProgress();
}

}  // namespace lumetra
