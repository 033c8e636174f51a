// The rubber-band selection of the viewer, without a window: the band's
// corners in display-copy pixels, what a press, a drag and a release do to
// them, how they follow a rebuilt display copy, and how they map to
// document pixels. The Win32 mouse mode paints what this decides.
#pragma once

#include <cstdint>
#include <functional>

#include "base/exception.h"
#include "imaging/lumisc.h"

namespace lumetra {

// The selection operations' error: "A region is not selected".
LUMETRA_DECLARE_EXCEPTION(ERubberbandError, Exception);

// What a drag changes: both coordinates, only y, only x, or the whole band.
enum TBandMovement : std::uint8_t {
  bmFree = 0,
  bmVerticalOnly = 1,
  bmHorizontalOnly = 2,
  bmMoveBand = 3,
};

// Grab handles: the corners and edges clockwise from the top left corner,
// then the interior.
enum : std::uint8_t {
  ghTopLeft = 0,
  ghTop = 1,
  ghTopRight = 2,
  ghRight = 3,
  ghBottomRight = 4,
  ghBottom = 5,
  ghBottomLeft = 6,
  ghLeft = 7,
  ghInterior = 8,
};
constexpr int ghNone = -1;

// Raises Exception "Invalid GrabHandle, GrabHandleToBandMovement" above 8.
TBandMovement GrabHandleToBandMovement(std::uint8_t grabHandle);

class TRubberband {
 public:
  // Painting is the owner's: draw the band at Corners(), or put back the
  // pixels under it.
  std::function<void()> OnDraw;
  std::function<void()> OnErase;
  // The band after a change, normalised; (0, 0, 0, 0) when it goes.
  std::function<void(const TRect&)> OnChange;

  // The size of the display copy the band lies on.
  void SetDisplaySize(int width, int height) {
    displayWidth_ = width;
    displayHeight_ = height;
  }
  int DisplayWidth() const { return displayWidth_; }
  int DisplayHeight() const { return displayHeight_; }

  bool Visible() const { return visible_; }
  bool Dragging() const { return dragging_; }
  // The corners as stored: (x1, y1) and (x2, y2), not ordered while dragging.
  TRect Corners() const { return {x1_, y1_, x2_, y2_}; }
  TRect Normalized() const;
  std::uint8_t GrabHandle() const { return grabHandle_; }
  TBandMovement BandMovement() const { return movement_; }

  // The handle at (X, Y), or ghNone: corners within 3 pixels first, then
  // the edges, then the interior.
  int HitTest(int x, int y) const;

  // The mouse in display-copy pixels. A press on the shown band takes hold
  // of the handle under it; elsewhere it drops the band and starts a new
  // one. Drag clamps the point to the display copy. A release keeps a band
  // with area, normalised.
  void Press(int x, int y);
  void Drag(int x, int y);
  void Release();

  // Around a rebuild of the display copy (calls may nest): the band is
  // taken off, then scaled to the new size (truncating) and put back.
  void BeforeRedraw();
  void AfterRedraw();

  // Removes a shown band and tells so.
  void Clear();

  // The band in document pixels, each side scaled and rounded to nearest
  // (ties to even). ERubberbandError without a band.
  TRect SelectionRect(int documentWidth, int documentHeight) const;
  // The band in document pixels by integer division (truncating), as the
  // copy command maps it. ERubberbandError without a band.
  TRect CopyRect(int documentWidth, int documentHeight) const;

 private:
  void RequireBand() const;
  void Erase();
  void Draw();
  void Changed(const TRect& rect);

  int x1_ = 0, y1_ = 0, x2_ = 0, y2_ = 0;
  int displayWidth_ = 0, displayHeight_ = 0;
  int lastX_ = 0, lastY_ = 0;
  int savedWidth_ = 0, savedHeight_ = 0;  // the display size before a rebuild
  int redrawDepth_ = 0;
  std::uint8_t grabHandle_ = ghBottomRight;
  TBandMovement movement_ = bmFree;
  bool visible_ = false;
  bool dragging_ = false;
  bool pending_ = false;  // taken off for a rebuild, to be put back after it
};

}  // namespace lumetra
