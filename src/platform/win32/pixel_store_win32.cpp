#include <windows.h>

#include "base/exception.h"
#include "platform/pixel_store.h"
#include "platform/platform.h"
#include "platform/win32/owners.h"

namespace lumetra::platform {

namespace {
[[noreturn]] void RaiseLastError() {
  const std::string text = LastErrorText();
  if (text.empty()) throw Exception("Out of resources");
  throw EOutOfResources(text);
}
}  // namespace

void PixelStore::Create(const void* bitmapInfo, std::size_t) {
  Release();
  win32::unique_dc dc(::CreateCompatibleDC(nullptr));
  if (!dc) RaiseLastError();
  void* bits = nullptr;
  win32::unique_bitmap bitmap(::CreateDIBSection(
      dc.get(), static_cast<const BITMAPINFO*>(bitmapInfo), DIB_RGB_COLORS, &bits, nullptr, 0));
  HGDIOBJ previous = bitmap && bits ? ::SelectObject(dc.get(), bitmap.get()) : nullptr;
  // The error of the failing call, before the owners' clean-up changes it.
  if (!previous) RaiseLastError();
  dc_ = dc.release();
  bitmap_ = bitmap.release();
  previous_ = previous;
  bits_ = static_cast<std::uint8_t*>(bits);
}

void PixelStore::Release() {
  HDC dc = static_cast<HDC>(dc_);
  if (dc && previous_) ::SelectObject(dc, static_cast<HGDIOBJ>(previous_));
  if (bitmap_) ::DeleteObject(static_cast<HGDIOBJ>(bitmap_));
  dc_ = bitmap_ = previous_ = nullptr;
  bits_ = nullptr;
  if (dc && !::DeleteDC(dc)) RaiseLastError();
}

}  // namespace lumetra::platform
