// The Win32 hand-over of the quantizer's result: a message-only window made
// by the thread that started the quantizer receives a message posted by the
// worker, so the image takes its palette and raises its change on that
// thread. The window goes with its quantizer: a message posted to it after
// that is dropped by the system.
#include <windows.h>

#include "imaging/quantize_thread.h"
#include "platform/win32/window_classes.h"

namespace lumetra::quantize_platform {

namespace {

constexpr UINT kDeliverMessage = WM_APP + 0x51;
constexpr char kClassName[] = "TQuantizeThreadNotifier";

LRESULT CALLBACK NotifierProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  if (message == kDeliverMessage) {
    auto* thread = reinterpret_cast<TQuantizeThread*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
    if (thread) {
      try {
        thread->Deliver();
      } catch (...) {
        // An OnChange handler's failure must not unwind into the window
        // procedure; the palette is stored either way.
      }
    }
    return 0;
  }
  return ::DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

void* CreateNotifier(TQuantizeThread* thread) {
  WNDCLASSEXA wc{};
  wc.lpfnWndProc = NotifierProc;
  wc.lpszClassName = kClassName;
  if (!win32::RequireWindowClass(wc)) return nullptr;
  HWND window = ::CreateWindowExA(0, kClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  win32::OwnModule(), nullptr);
  if (window) ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(thread));
  return window;
}

void Notify(void* notifier) {
  if (notifier) ::PostMessageA(static_cast<HWND>(notifier), kDeliverMessage, 0, 0);
}

void DestroyNotifier(void* notifier) {
  HWND window = static_cast<HWND>(notifier);
  ::SetWindowLongPtrA(window, GWLP_USERDATA, 0);
  ::DestroyWindow(window);
}

void GivePalette(TDibGraphic& graphic, const TLogPalette& palette) {
  graphic.SetPaletteHandle(::CreatePalette(reinterpret_cast<const LOGPALETTE*>(&palette)));
}

}  // namespace lumetra::quantize_platform
