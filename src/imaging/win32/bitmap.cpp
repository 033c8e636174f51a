#include "imaging/win32/bitmap.h"

#include <cstring>

#include "imaging/bmp_decode.h"
#include "imaging/dib_graphic.h"

namespace lumetra {

void TBitmap::FreeCanvas() const {
  canvas_.reset();   // puts the context's pens and brushes back
  context_.reset();  // then the bitmap comes out of the context
}

HBITMAP TBitmap::Handle() const {
  FreeCanvas();
  return bitmap_.get();
}

void TBitmap::SetHandle(HBITMAP bitmap) {
  FreeCanvas();
  if (bitmap != bitmap_.get()) bitmap_.reset(bitmap);
  Changed();
}

HBITMAP TBitmap::ReleaseHandle() {
  FreeCanvas();
  return bitmap_.release();
}

void TBitmap::SetPalette(HPALETTE palette) {
  if (palette != palette_.get()) palette_.reset(palette);
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
  return bitmap_ && ::GetObjectA(bitmap_.get(), sizeof description, &description) ? description.bmWidth
                                                                            : 0;
}

int TBitmap::Height() const {
  BITMAP description{};
  return bitmap_ && ::GetObjectA(bitmap_.get(), sizeof description, &description) ? description.bmHeight
                                                                            : 0;
}

TCanvas& TBitmap::Canvas() {
  if (!canvas_) {
    context_.emplace(nullptr);
    if (!*context_) {
      context_.reset();
      throw EOutOfResources("Out of resources");
    }
    if (bitmap_) context_->select(bitmap_.get());
    canvas_ = std::make_unique<TCanvas>(context_->get(), false);
  }
  return *canvas_;
}

void TBitmap::Draw(TCanvas& canvas, const TRect& rect) {
  if (!bitmap_) return;
  const int width = Width(), height = Height();
  HDC source = Canvas().Handle();
  HPALETTE oldPalette = nullptr;
  if (palette_) {
    oldPalette = ::SelectPalette(canvas.Handle(), palette_.get(), FALSE);
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
