#include "viewer/rubberband.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

namespace lumetra {

namespace {

constexpr int kNear = 3;

bool Near(int a, int b) { return std::abs(a - b) <= kNear; }

// Scales a coordinate by a ratio of sizes, truncating toward zero; in
// integers, so a ratio such as 37/100 cannot land a hair below a whole.
int ScaleTruncated(int value, int to, int from) {
  return static_cast<int>(static_cast<long long>(value) * to / from);
}

int ScaleRounded(int value, double ratio) {
  return static_cast<int>(std::nearbyint(value * ratio));
}

}  // namespace

TBandMovement GrabHandleToBandMovement(std::uint8_t grabHandle) {
  static constexpr TBandMovement kMovement[] = {bmFree,           bmVerticalOnly, bmFree,
                                                bmHorizontalOnly, bmFree,         bmVerticalOnly,
                                                bmFree,           bmHorizontalOnly, bmMoveBand};
  if (grabHandle >= std::size(kMovement)) {
    throw Exception("Invalid GrabHandle, GrabHandleToBandMovement");
  }
  return kMovement[grabHandle];
}

TRect TRubberband::Normalized() const {
  return {std::min(x1_, x2_), std::min(y1_, y2_), std::max(x1_, x2_), std::max(y1_, y2_)};
}

int TRubberband::HitTest(int x, int y) const {
  if (Near(x, x2_) && Near(y, y2_)) return ghBottomRight;
  if (Near(x, x1_) && Near(y, y1_)) return ghTopLeft;
  if (Near(x, x2_) && Near(y, y1_)) return ghTopRight;
  if (Near(x, x1_) && Near(y, y2_)) return ghBottomLeft;
  const bool withinX = x1_ <= x && x <= x2_;
  const bool withinY = y1_ <= y && y <= y2_;
  if (Near(y, y1_) && withinX) return ghTop;
  if (Near(y, y2_) && withinX) return ghBottom;
  if (Near(x, x1_) && withinY) return ghLeft;
  if (Near(x, x2_) && withinY) return ghRight;
  // The interior reaches past the top and bottom edges' own zones, as the
  // band has always answered.
  if (x1_ + 4 <= x && x < x2_ - 4 && y1_ - 4 <= y && y < y2_ + 4) return ghInterior;
  return ghNone;
}

void TRubberband::Press(int x, int y) {
  const int hit = visible_ ? HitTest(x, y) : ghNone;
  dragging_ = true;
  lastX_ = x;
  lastY_ = y;
  if (hit != ghNone) {
    grabHandle_ = static_cast<std::uint8_t>(hit);
    movement_ = GrabHandleToBandMovement(grabHandle_);
    // The dragged point becomes (x2, y2).
    switch (grabHandle_) {
      case ghTopLeft:
        std::swap(x1_, x2_);
        std::swap(y1_, y2_);
        break;
      case ghTop:
      case ghTopRight:
        std::swap(y1_, y2_);
        break;
      case ghBottomLeft:
      case ghLeft:
        std::swap(x1_, x2_);
        break;
      default:
        break;
    }
    return;
  }
  if (visible_) {
    Erase();
    Changed({});
  }
  movement_ = bmFree;
  grabHandle_ = ghBottomRight;
  x1_ = x2_ = x;
  y1_ = y2_ = y;
}

void TRubberband::Drag(int x, int y) {
  if (!dragging_ || displayWidth_ < 1 || displayHeight_ < 1) return;
  x = std::clamp(x, 0, displayWidth_ - 1);
  y = std::clamp(y, 0, displayHeight_ - 1);
  if (movement_ == bmVerticalOnly) x = x2_;
  if (movement_ == bmHorizontalOnly) y = y2_;
  Erase();
  if (movement_ == bmMoveBand) {
    const int dx = x - lastX_, dy = y - lastY_;
    lastX_ = x;
    lastY_ = y;
    // Against an edge the band stops: it moves only while it stays whole.
    if (x1_ + dx >= 0 && y1_ + dy >= 0 && x2_ + dx < displayWidth_ && y2_ + dy < displayHeight_) {
      x1_ += dx;
      x2_ += dx;
      y1_ += dy;
      y2_ += dy;
    }
    x1_ = std::clamp(x1_, 0, displayWidth_ - 1);
    x2_ = std::clamp(x2_, 0, displayWidth_ - 1);
    y1_ = std::clamp(y1_, 0, displayHeight_ - 1);
    y2_ = std::clamp(y2_, 0, displayHeight_ - 1);
  } else {
    x2_ = x;
    y2_ = y;
  }
  Draw();
  Changed(Normalized());
}

void TRubberband::Release() {
  if (!dragging_) return;
  dragging_ = false;
  if (!visible_) return;
  const TRect n = Normalized();
  x1_ = n.Left;
  y1_ = n.Top;
  x2_ = n.Right;
  y2_ = n.Bottom;
  if (x1_ == x2_ || y1_ == y2_) Erase();
}

void TRubberband::BeforeRedraw() {
  if (redrawDepth_++ > 0) return;
  if (!visible_) return;
  Erase();
  pending_ = true;
  savedWidth_ = displayWidth_;
  savedHeight_ = displayHeight_;
}

void TRubberband::AfterRedraw() {
  if (redrawDepth_ == 0 || --redrawDepth_ > 0 || !pending_) return;
  pending_ = false;
  if (savedWidth_ > 0 && savedHeight_ > 0) {
    x1_ = ScaleTruncated(x1_, displayWidth_, savedWidth_);
    x2_ = ScaleTruncated(x2_, displayWidth_, savedWidth_);
    y1_ = ScaleTruncated(y1_, displayHeight_, savedHeight_);
    y2_ = ScaleTruncated(y2_, displayHeight_, savedHeight_);
  }
  Draw();
  Changed(Normalized());
}

void TRubberband::Clear() {
  // Also the end of a rebuild that an error cut short: a new document
  // starts without a band and without a pending bracket.
  redrawDepth_ = 0;
  pending_ = false;
  dragging_ = false;
  if (!visible_) return;
  Erase();
  Changed({});
}

void TRubberband::RequireBand() const {
  if (!visible_ || displayWidth_ < 1 || displayHeight_ < 1) {
    throw ERubberbandError("A region is not selected");
  }
}

TRect TRubberband::SelectionRect(int documentWidth, int documentHeight) const {
  RequireBand();
  const TRect n = Normalized();
  const double sx = static_cast<double>(documentWidth) / displayWidth_;
  const double sy = static_cast<double>(documentHeight) / displayHeight_;
  return {ScaleRounded(n.Left, sx), ScaleRounded(n.Top, sy), ScaleRounded(n.Right, sx),
          ScaleRounded(n.Bottom, sy)};
}

TRect TRubberband::CopyRect(int documentWidth, int documentHeight) const {
  RequireBand();
  const int left = ScaleTruncated(x1_, documentWidth, displayWidth_);
  const int right = ScaleTruncated(x2_, documentWidth, displayWidth_);
  const int top = ScaleTruncated(y1_, documentHeight, displayHeight_);
  const int bottom = ScaleTruncated(y2_, documentHeight, displayHeight_);
  return {std::min(left, right), std::min(top, bottom), std::max(left, right),
          std::max(top, bottom)};
}

void TRubberband::Erase() {
  if (!visible_) return;
  if (OnErase) OnErase();
  visible_ = false;
}

void TRubberband::Draw() {
  if (OnDraw) OnDraw();
  visible_ = true;
}

void TRubberband::Changed(const TRect& rect) {
  if (OnChange) OnChange(rect);
}

}  // namespace lumetra
