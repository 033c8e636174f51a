// Putting an image on the clipboard and taking it off, as a bitmap
// (CF_BITMAP). The clipboard is opened and closed around each call, also
// when the call fails.
#pragma once

#include "imaging/dib_graphic.h"

namespace lumetra {

// Empties the clipboard and puts Image on it. Raises Exception "Cannot open
// clipboard" when another program holds it.
void CopyToClipboard(const TDibGraphic& image);
// True when the clipboard holds a bitmap.
bool ClipboardHasImage();
// Replaces Image by the clipboard's bitmap (its frames are freed). Raises
// EInvalidGraphic "Unknown clipboard format, 2" when there is no bitmap.
void PasteFromClipboard(TDibGraphic& image);

}  // namespace lumetra
