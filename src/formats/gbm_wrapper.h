// The two routines through which the format classes use the bitmap codec
// layer: they move header, palette and pixels between the layer and an
// image, and turn the layer's error codes into EGbmError.
#pragma once

#include <string>

#include "imaging/dib_graphic.h"

namespace lumetra {

LUMETRA_DECLARE_EXCEPTION(EGbmError, Exception);

// Decodes the file at Stream's position into Image with the codec that
// FileName's extension selects ("File.bmp", "File.pcx", "File.tga"); Options
// are the codec's ("inv" for bitmaps). Progress goes to the image's handler.
void ReadWithGbm(TStream& stream, TDibGraphic& image, const std::string& fileName,
                 const std::string& options);
// Encodes Image at Stream's position with the codec FileName selects.
void WriteWithGbm(TStream& stream, const TDibGraphic& image, const std::string& fileName);

}  // namespace lumetra
