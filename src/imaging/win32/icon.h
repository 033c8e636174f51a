// TIcon: a picture held in an icon handle, the form in which Windows hands
// icons around (windows, resources, other components). It loads the first
// image of an icon file and keeps the file to save it again. TDibGraphic
// assigns to it through the icon file format.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "imaging/graphic.h"
#include "platform/win32/owners.h"

namespace lumetra {

class TDibGraphic;

// An icon file: a 6-byte directory header, then 16 bytes for each image.
constexpr int kIconDirectorySize = 6;
constexpr int kIconEntrySize = 16;
// Raises EInvalidGraphic "Icon image is not valid".
[[noreturn]] void RaiseInvalidIcon();

class TIcon : public TGraphic {
 public:
  TIcon() = default;
  const char* ClassName() const noexcept override { return "TIcon"; }

  HICON Handle() const { return icon_.get(); }
  int Width() const override { return width_; }
  int Height() const override { return height_; }
  // An icon keeps the size it was made with.
  void SetWidth(int) override;
  void SetHeight(int) override;
  bool Empty() const override { return !icon_; }

  // Draws the icon at its own size at Rect's top-left corner, its
  // transparent parts leaving the canvas as it was.
  void Draw(TCanvas& canvas, const TRect& rect) override;

  // Icon files (the rest of the stream); raises EInvalidGraphic "Icon image
  // is not valid" for anything Windows cannot make an icon of.
  void LoadFromStream(TStream& stream) override;
  // The file it was loaded from.
  void SaveToStream(TStream& stream) override;

 private:
  win32::unique_icon icon_;
  int width_ = 0, height_ = 0;
  std::vector<std::uint8_t> file_;
};

// How an image becomes an icon file, given by the format module that
// writes icons when it is initialised.
using TIconFileWriter = void (*)(const TDibGraphic& image, TStream& stream);
void SetIconFileWriter(TIconFileWriter writer);
TIconFileWriter IconFileWriter();

}  // namespace lumetra
