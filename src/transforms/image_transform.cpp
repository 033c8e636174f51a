#include "transforms/image_transform.h"

#include "base/format.h"

namespace lumetra {

void TImageTransform::Apply(TDibGraphic& graphic) { ApplyThroughCopy(graphic); }

void TImageTransform::ApplyOnDest(const TDibGraphic&, TDibGraphic&) {
  throw ELumetraError(
      Format("Method %s not implemented for %s class", "\"ApplyOnDest\"", ClassName()));
}

void TImageTransform::ApplyThroughCopy(TDibGraphic& graphic) {
  // The temporary is of the image's own class so that nothing class-specific
  // is lost when it is assigned back.
  std::unique_ptr<TDibGraphic> temporary = graphic.CreateNew();
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
