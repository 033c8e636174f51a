// Without a window system the quantizer's result waits until the host
// collects it with TQuantizeThread::DeliverFinished; there is no GDI palette.
#include "imaging/quantize_thread.h"

namespace lumetra::quantize_platform {

void* CreateNotifier(TQuantizeThread*) { return nullptr; }
void Notify(void*) {}
void DestroyNotifier(void*) {}
void GivePalette(TDibGraphic&, const TLogPalette&) {}

}  // namespace lumetra::quantize_platform
