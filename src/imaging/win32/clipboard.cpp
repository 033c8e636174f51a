#include "imaging/win32/clipboard.h"

#include <windows.h>

namespace lumetra {

namespace {
struct OpenClipboardGuard {
  OpenClipboardGuard() {
    // Another program may hold the clipboard for a moment: try a few times.
    for (int attempt = 0; attempt < 10; ++attempt) {
      if (::OpenClipboard(nullptr)) return;
      ::Sleep(10);
    }
    throw Exception("Cannot open clipboard");
  }
  ~OpenClipboardGuard() { ::CloseClipboard(); }
  OpenClipboardGuard(const OpenClipboardGuard&) = delete;
  OpenClipboardGuard& operator=(const OpenClipboardGuard&) = delete;
};
}  // namespace

void CopyToClipboard(const TDibGraphic& image) {
  std::uint16_t format = 0;
  void* data = nullptr;
  void* palette = nullptr;
  image.SaveToClipboardFormat(format, data, palette);
  OpenClipboardGuard open;
  ::EmptyClipboard();
  // Once set, the clipboard owns the bitmap; until then it is ours.
  if (!::SetClipboardData(format, static_cast<HANDLE>(data))) {
    ::DeleteObject(static_cast<HGDIOBJ>(data));
    throw Exception("Cannot open clipboard");
  }
}

bool ClipboardHasImage() {
  return ::IsClipboardFormatAvailable(CF_BITMAP) != FALSE;
}

void PasteFromClipboard(TDibGraphic& image) {
  image.ClearFrames();
  OpenClipboardGuard open;
  HANDLE bitmap = ::GetClipboardData(CF_BITMAP);
  HANDLE palette = ::GetClipboardData(CF_PALETTE);
  image.LoadFromClipboardFormat(CF_BITMAP, bitmap, palette);
}

}  // namespace lumetra
