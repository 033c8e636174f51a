// The native build has no GDI state, no message loop and no timer: an
// animation is stepped by whoever shows it, through AnimationTick.
#include "imaging/dib_graphic.h"

namespace lumetra {

void TDibGraphic::ReleasePlatformState() {}
void TDibGraphic::SetAnimate(bool value) { animate_ = value; }

void InitializeImagingLibrary() {
  for (int format = ifBlackWhite; format <= ifColor256; ++format) DefaultPalette(format);
  PaletteDevice();
}

void FinalizeImagingLibrary() {}

}  // namespace lumetra
