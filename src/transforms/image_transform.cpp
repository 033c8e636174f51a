#include "transforms/image_transform.h"

#include "base/format.h"

namespace lumetra {

void TImageTransform::Apply(TDibGraphic& graphic) { ApplyThroughCopy(graphic); }

void TImageTransform::ApplyOnDest(const TDibGraphic&, TDibGraphic&) {
  throw ELumetraError(
      Format("Method %s not implemented for %s class", "\"ApplyOnDest\"", ClassName()));
}

void TImageTransform::ApplyThroughCopy(TDibGraphic& graphic) {
  // A plain image: assigning it back gives Graphic new pixels, format and
  // palette but leaves what its own class adds (a format's settings) alone.
  auto temporary = std::make_unique<TDibGraphic>();
  ApplyOnDest(graphic, *temporary);
  graphic.Assign(temporary.get());
}

void TImageTransform::StartProgress() {
  lastPercent_ = 255;
  Progress(0, 0, 100);
}

void TImageTransform::Progress(long long position, long long start, long long end) {
  lastPercent_ = ReportProgress(this, position, start, lastPercent_, end, OnProgress);
}

}  // namespace lumetra
