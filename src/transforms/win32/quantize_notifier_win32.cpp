// The Win32 hand-over of the quantizer's result: a message-only window made
// by the thread that started the quantizer receives a message posted by the
// worker, so the logical palette is stored and the change raised on that
// thread. The GDI palette itself goes over atomically from the worker.
#include <windows.h>

#include "imaging/quantize_thread.h"

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

void HandOverPalette(TDibGraphic& graphic, const TLogPalette& palette) {
  if (HPALETTE handle = ::CreatePalette(reinterpret_cast<const LOGPALETTE*>(&palette)))
    graphic.HandOverPalette(handle);
}

}  // namespace lumetra::quantize_platform
