#include "imaging/win32/bitmap.h"

#include <cstring>

#include "imaging/bmp_decode.h"
#include "imaging/dib_graphic.h"

namespace lumetra {

TBitmap::~TBitmap() {
  SetHandle(nullptr);
  if (palette_) ::DeleteObject(palette_);
}

void TBitmap::FreeCanvas() const {
  if (!canvas_) return;
  HDC dc = canvas_->Handle();
  canvas_.reset();  // puts the context's pens and brushes back
  if (previous_) ::SelectObject(dc, previous_);
  previous_ = nullptr;
  ::DeleteDC(dc);
}

HBITMAP TBitmap::Handle() const {
  FreeCanvas();
  return bitmap_;
}

void TBitmap::SetHandle(HBITMAP bitmap) {
  FreeCanvas();
  if (bitmap_ && bitmap_ != bitmap) ::DeleteObject(bitmap_);
  bitmap_ = bitmap;
  Changed();
}

HBITMAP TBitmap::ReleaseHandle() {
  FreeCanvas();
  HBITMAP bitmap = bitmap_;
  bitmap_ = nullptr;
  return bitmap;
}

void TBitmap::SetPalette(HPALETTE palette) {
  if (palette_ && palette_ != palette) ::DeleteObject(palette_);
  palette_ = palette;
}

void TBitmap::SetSize(int width, int height) {
  if (width <= 0 || height <= 0) {
    SetHandle(nullptr);
    return;
  }
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  HBITMAP bitmap = ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bitmap) throw EOutOfResources("Out of resources");
  SetHandle(bitmap);
}

int TBitmap::Width() const {
  BITMAP description{};
  return bitmap_ && ::GetObjectA(bitmap_, sizeof description, &description) ? description.bmWidth
                                                                            : 0;
}

int TBitmap::Height() const {
  BITMAP description{};
  return bitmap_ && ::GetObjectA(bitmap_, sizeof description, &description) ? description.bmHeight
                                                                            : 0;
}

TCanvas& TBitmap::Canvas() {
  if (!canvas_) {
    HDC dc = ::CreateCompatibleDC(nullptr);
    if (!dc) throw EOutOfResources("Out of resources");
    previous_ = bitmap_ ? ::SelectObject(dc, bitmap_) : nullptr;
    canvas_ = std::make_unique<TCanvas>(dc, false);
  }
  return *canvas_;
}

void TBitmap::Draw(TCanvas& canvas, const TRect& rect) {
  if (!bitmap_) return;
  const int width = Width(), height = Height();
  HDC source = Canvas().Handle();
  HPALETTE oldPalette = nullptr;
  if (palette_) {
    oldPalette = ::SelectPalette(canvas.Handle(), palette_, FALSE);
    ::RealizePalette(canvas.Handle());
  }
  const int oldMode = ::SetStretchBltMode(canvas.Handle(), COLORONCOLOR);
  ::StretchBlt(canvas.Handle(), rect.Left, rect.Top, rect.Right - rect.Left, rect.Bottom - rect.Top,
               source, 0, 0, width, height, SRCCOPY);
  ::SetStretchBltMode(canvas.Handle(), oldMode);
  if (oldPalette) ::SelectPalette(canvas.Handle(), oldPalette, TRUE);
  ::GdiFlush();
}

void TBitmap::LoadFromStream(TStream& stream) {
  TDibGraphic image;
  ReadBmpStream(stream, image);
  SetSize(image.Width(), image.Height());
  TCanvas& canvas = Canvas();
  image.Draw(canvas, {0, 0, image.Width(), image.Height()});
}

void TBitmap::SaveToStream(TStream& stream) {
  TDibGraphic image;
  image.Assign(this);
  const std::vector<std::uint8_t> block = image.SaveToDIBBlock();
  SaveDIBBlockToStream(block.data(), block.size(), stream);
}

void TBitmap::Assign(const TGraphic* source) {
  if (const auto* other = dynamic_cast<const TBitmap*>(source)) {
    if (other == this) return;
    HBITMAP copy = other->bitmap_ ? static_cast<HBITMAP>(::CopyImage(other->Handle(), IMAGE_BITMAP,
                                                                     0, 0, LR_CREATEDIBSECTION))
                                  : nullptr;
    if (other->bitmap_ && !copy) throw EOutOfResources("Out of resources");
    SetHandle(copy);
    return;
  }
  TGraphic::Assign(source);
}

}  // namespace lumetra
