// The Win32 hand-over of the quantizer's result: a message-only window made
// by the thread that started the quantizer receives a message posted by the
// worker, so the palette is stored and the change raised on the UI thread.
#include <windows.h>

#include "imaging/quantize_thread.h"

namespace lumetra {

void DeliverQuantizeResult(TQuantizeThread* thread);

namespace quantize_platform {

namespace {

constexpr UINT kDeliverMessage = WM_APP + 0x51;
constexpr char kClassName[] = "TQuantizeThreadNotifier";

LRESULT CALLBACK NotifierProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  if (message == kDeliverMessage) {
    auto* thread = reinterpret_cast<TQuantizeThread*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
    if (thread) {
      try {
        DeliverQuantizeResult(thread);  // may destroy this window
      } catch (...) {
        // An OnChange handler's failure must not unwind into the window
        // procedure; the palette is stored either way.
      }
    }
    return 0;
  }
  return ::DefWindowProcA(window, message, wParam, lParam);
}

bool RegisterNotifierClass() {
  static const bool registered = [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = NotifierProc;
    wc.hInstance = ::GetModuleHandleA(nullptr);
    wc.lpszClassName = kClassName;
    return ::RegisterClassA(&wc) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  }();
  return registered;
}

}  // namespace

void* CreateNotifier(TQuantizeThread* thread) {
  if (!RegisterNotifierClass()) return nullptr;
  HWND window = ::CreateWindowExA(0, kClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  ::GetModuleHandleA(nullptr), nullptr);
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

void StorePalette(TDibGraphic& graphic, const TLogPalette& palette) {
  HPALETTE handle = ::CreatePalette(reinterpret_cast<const LOGPALETTE*>(&palette));
  if (handle) graphic.SetPaletteHandle(handle);
}

}  // namespace quantize_platform
}  // namespace lumetra
