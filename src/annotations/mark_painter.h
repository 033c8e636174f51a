// Paints annotation marks onto an image the way the viewer shows them: each
// mark is rendered at document scale into a bitmap of its own, which is then
// stretched into its place at any zoom. Burning the marks into a page makes
// them part of its pixels; a filled rectangle replaces what lay under it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "annotations/marks.h"
#include "formats/tiff_graphic.h"
#include "imaging/dib_graphic.h"

namespace lumetra {

// A mark rendered at document scale, and how it is laid onto an image:
// pixels of TransparentColor (0x00RRGGBB) are left out when Transparent;
// AndMode (a highlighter) ANDs the bitmap with what lies under it.
struct TRenderedMark {
  std::unique_ptr<TDibGraphic> bitmap;
  bool transparent = false;
  std::uint32_t transparentColor = 0;
  bool andMode = false;
};

// The inset of horizontal and vertical lines when no grip frame says otherwise.
constexpr int kDefaultGripSize = 5;

// Renders Mark into a true-colour bitmap of its MarkRect's size (an image
// mark with a picture: of the picture's size). Resolution is the display's
// pixels per inch, which scales the fonts; Zoom (percent) decides the sticky
// note's last background column. Raises ELumetraError "Mark too large to
// draw" for a mark whose bitmap the library would refuse, "Invalid mark
// rectangle" for one whose Right or Bottom lies before its Left or Top.
TRenderedMark RenderMark(const TMark& mark, int resolution, double zoom,
                         int gripSize = kDefaultGripSize);

// Stretches Mark onto Dest's rectangle DestRect (Right and Bottom excluded),
// clipped to Dest.
void DrawRenderedMark(const TRenderedMark& mark, TDibGraphic& dest, const TRect& destRect);

// Paints Mark, when visible, onto Dest as the viewer places it at Zoom
// percent: its MarkRect clamped to PageArea (the document's pixels), the
// corners scaled and rounded.
void PaintMark(TDibGraphic& dest, const TMark& mark, const TRect& pageArea, double zoom,
               int resolution);

// Paints the visible marks, in order, as PaintMark does.
void PaintMarks(TDibGraphic& dest, const std::vector<TMark>& marks, const TRect& pageArea,
                double zoom, int resolution);

// Makes the visible marks part of Page's pixels, as they look at 100 % on a
// display of Resolution pixels per inch. A black filled rectangle leaves
// nothing of the pixels it covers.
void BurnMarks(TDibGraphic& page, const std::vector<TMark>& marks, int resolution);

// Burns the marks a TIFF page carries in its annotation tag into its pixels
// and empties the tag, so that nothing of what they covered, and no mark
// that could be moved off it, is saved with the page. A damaged tag raises
// its error and leaves the page as it was.
void BurnPageAnnotations(TTiffGraphic& page, int resolution);

// Draws Text in Font (Size in points on a display of ScreenDpi) into Area of
// Image: transparent background, words wrapped, tabs expanded. GDI draws it
// on Win32; the portable build has no font rasterizer and draws no glyphs.
void DrawMarkText(TDibGraphic& image, const TRect& area, const std::string& text,
                  const TMarkFont& font, int size);

}  // namespace lumetra
