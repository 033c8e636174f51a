// TImageTransform: the base of every operation on an image. A transform is
// created, given its parameters and progress event, applied in place (Apply)
// or from a source into a destination image (ApplyOnDest), and freed.
#pragma once

#include <cstdint>

#include "imaging/dib_graphic.h"

namespace lumetra {

class TImageTransform : public TObject {
 public:
  const char* ClassName() const noexcept override { return "TImageTransform"; }

  // Transforms Graphic in place. The base runs ApplyOnDest into a temporary
  // image and assigns the result back.
  virtual void Apply(TDibGraphic& graphic);
  // Computes the result of Source into Dest; Source is left as it is. Dest's
  // pixels, format and palette are replaced. The base raises "Method %s not
  // implemented for %s class".
  virtual void ApplyOnDest(const TDibGraphic& source, TDibGraphic& dest);

  TLumetraProgressEvent OnProgress;

 protected:
  // The base's Apply: ApplyOnDest into a temporary, then assign it back. A
  // transform whose Source and Dest are one image goes through it too, so
  // that building the result never destroys the pixels it reads.
  void ApplyThroughCopy(TDibGraphic& graphic);
  // Starts a progress run: forgets the last percentage and reports 0.
  void StartProgress();
  void Progress(long long position, long long start, long long end);
  void EndProgress() { Progress(100, 0, 100); }

  std::uint8_t lastPercent_ = 255;
};

}  // namespace lumetra
