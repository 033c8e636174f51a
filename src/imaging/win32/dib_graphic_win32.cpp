// The Win32 side of TDibGraphic: canvas on the memory DC, drawing with
// StretchDIBits, palette handle, timers and the message pump.
#include <windows.h>

#include <cstring>

#include "imaging/dib_graphic.h"
#include "imaging/win32/canvas.h"

namespace lumetra {

struct TDibGraphic::Win32State {
  TCanvas canvas;
  HPALETTE palette = nullptr;
  ~Win32State() {
    if (palette) ::DeleteObject(palette);
  }
};

void TDibGraphic::Win32StateDeleter::operator()(Win32State* state) const { delete state; }

void TDibGraphic::ReleasePlatformState() {
  win32_.reset();
}

void TDibGraphic::ProcessPendingMessages() {
  MSG msg;
  while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
  }
}

void TDibGraphic::SetAnimate(bool value) { animate_ = value; }

TCanvas& TDibGraphic::Canvas() {
  if (!win32_) win32_ = std::unique_ptr<Win32State, Win32StateDeleter>(new Win32State);
  win32_->canvas.SetHandle(static_cast<HDC>(store_.DC()));
  return win32_->canvas;
}

void* TDibGraphic::PaletteHandle() { return win32_ ? win32_->palette : nullptr; }

void TDibGraphic::SetPaletteHandle(void* palette) {
  if (!win32_) win32_ = std::unique_ptr<Win32State, Win32StateDeleter>(new Win32State);
  if (win32_->palette) ::DeleteObject(win32_->palette);
  win32_->palette = static_cast<HPALETTE>(palette);
}

void TDibGraphic::Draw(TCanvas& canvas, const TRect& rect) {
  if (Empty()) return;
  HDC dc = canvas.Handle();
  const int oldMode = ::SetStretchBltMode(dc, COLORONCOLOR);
  struct {
    TBitmapInfoHeader header;
    TRgbQuad colours[256];
  } info;
  info.header = header_;
  std::memcpy(info.colours, colorTable_, sizeof info.colours);
  ::StretchDIBits(dc, rect.Left, rect.Top, rect.Right - rect.Left, rect.Bottom - rect.Top, 0, 0,
                  Width(), Height(), PixelMemory(), reinterpret_cast<BITMAPINFO*>(&info),
                  DIB_RGB_COLORS, SRCCOPY);
  ::SetStretchBltMode(dc, oldMode);
  if (OnAfterDraw) OnAfterDraw(this);
}

void TDibGraphic::LoadFromBitmapHandle(void*) { throw ELumetraError("Invalid bitmap"); }

void TDibGraphic::LoadFromDIBHandle(void* dib) {
  HGLOBAL block = static_cast<HGLOBAL>(dib);
  const SIZE_T size = ::GlobalSize(block);
  const void* p = ::GlobalLock(block);
  if (!p) throw ELumetraError("Invalid HDIB");
  try {
    LoadFromDIBBlock(p, size);
  } catch (...) {
    ::GlobalUnlock(block);
    throw;
  }
  ::GlobalUnlock(block);
}

void* TDibGraphic::SaveToDIBHandle() const {
  const std::vector<std::uint8_t> bytes = SaveToDIBBlock();
  HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE | GMEM_SHARE, bytes.size());
  if (!block) throw ELumetraError("GlobalAlloc failed");
  void* p = ::GlobalLock(block);
  std::memcpy(p, bytes.data(), bytes.size());
  ::GlobalUnlock(block);
  return block;
}

void TDibGraphic::LoadFromClipboardFormat(std::uint16_t, void*, void*) {
  throw EInvalidGraphic("Unknown clipboard format, 0");
}

void TDibGraphic::SaveToClipboardFormat(std::uint16_t&, void*&, void*&) const {
  throw ELumetraError("CopyBitmap: CreateBitmap failed");
}

}  // namespace lumetra
