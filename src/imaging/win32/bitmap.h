// TBitmap: a picture held in a GDI bitmap handle, the form in which Windows
// hands bitmaps around (the clipboard, resources, other components). New
// bitmaps are 24-bit DIB sections; a handle given to it may be any bitmap.
// TDibGraphic assigns to and from it.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>

#include "imaging/graphic.h"
#include "imaging/win32/canvas.h"
#include "platform/win32/owners.h"

namespace lumetra {

class TBitmap : public TGraphic {
 public:
  TBitmap() = default;
  ~TBitmap() override { FreeCanvas(); }
  TBitmap(const TBitmap&) = delete;
  TBitmap& operator=(const TBitmap&) = delete;
  const char* ClassName() const noexcept override { return "TBitmap"; }

  // The bitmap, taken out of the canvas's context so that GDI calls that
  // refuse selected bitmaps (GetDIBits) accept it.
  HBITMAP Handle() const;
  // Takes ownership of Bitmap (null frees the current one).
  void SetHandle(HBITMAP bitmap);
  // Gives up ownership: the caller frees the returned handle.
  HBITMAP ReleaseHandle();
  HPALETTE Palette() const { return palette_.get(); }
  // Takes ownership of Palette.
  void SetPalette(HPALETTE palette);

  // A new 24-bit DIB section of that size, all black.
  void SetSize(int width, int height);
  int Width() const override;
  int Height() const override;
  void SetWidth(int value) override { SetSize(value, Height()); }
  void SetHeight(int value) override { SetSize(Width(), value); }
  bool Empty() const override { return !bitmap_; }

  // A canvas on a memory context with the bitmap selected.
  TCanvas& Canvas();
  void Draw(TCanvas& canvas, const TRect& rect) override;

  // BMP files.
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) override;
  void Assign(const TGraphic* source) override;

 private:
  void FreeCanvas() const;

  win32::unique_bitmap bitmap_;
  win32::unique_palette palette_;
  // The canvas's context with the bitmap selected, made when first asked for.
  mutable std::optional<win32::memory_dc> context_;
  mutable std::unique_ptr<TCanvas> canvas_;
};

}  // namespace lumetra
