#include "imaging/win32/canvas.h"

#include "base/exception.h"
#include "imaging/graphic.h"

namespace lumetra {

namespace {
[[noreturn]] void OutOfResources() {
  throw EOutOfResources("Out of resources");
}

// Selects Object into DC, remembers what was there first, and frees the
// object of ours that it replaces.
template <class Handle>
void Replace(HDC dc, Handle object, Handle& current, HGDIOBJ& original) {
  HGDIOBJ previous = ::SelectObject(dc, object);
  if (!original) original = previous;
  if (current) ::DeleteObject(current);
  current = object;
}
}  // namespace

TCanvas::~TCanvas() {
  Deselect();
  if (owned_ && dc_) ::DeleteDC(dc_);
}

void TCanvas::SetHandle(HDC dc) {
  if (dc == dc_) return;
  Deselect();
  if (owned_ && dc_) ::DeleteDC(dc_);
  dc_ = dc;
  owned_ = false;
}

void TCanvas::Deselect() {
  if (dc_) {
    if (oldPen_) ::SelectObject(dc_, oldPen_);
    if (oldBrush_) ::SelectObject(dc_, oldBrush_);
    if (oldFont_) ::SelectObject(dc_, oldFont_);
  }
  oldPen_ = oldBrush_ = oldFont_ = nullptr;
  if (pen_) ::DeleteObject(pen_);
  if (brush_) ::DeleteObject(brush_);
  if (font_) ::DeleteObject(font_);
  pen_ = nullptr;
  brush_ = nullptr;
  font_ = nullptr;
  penValid_ = brushValid_ = fontValid_ = false;
}

void TCanvas::SetPenColor(TColor color) {
  if (color != penColor_) penValid_ = false;
  penColor_ = color;
}

void TCanvas::SetPenWidth(int width) {
  if (width != penWidth_) penValid_ = false;
  penWidth_ = width;
}

void TCanvas::SetPenStyle(int style) {
  if (style != penStyle_) penValid_ = false;
  penStyle_ = style;
}

void TCanvas::SetBrushColor(TColor color) {
  if (color != brushColor_ || brushClear_) brushValid_ = false;
  brushColor_ = color;
  brushClear_ = false;
}

void TCanvas::SetBrushClear(bool clear) {
  if (clear != brushClear_) brushValid_ = false;
  brushClear_ = clear;
}

void TCanvas::SetFontColor(TColor color) {
  fontColor_ = color;
}

void TCanvas::SetFontName(const std::string& name) {
  if (name != fontName_) fontValid_ = false;
  fontName_ = name;
}

void TCanvas::SetFontSize(int points) {
  if (points != fontSize_) fontValid_ = false;
  fontSize_ = points;
}

void TCanvas::SetFontBold(bool bold) {
  if (bold != fontBold_) fontValid_ = false;
  fontBold_ = bold;
}

void TCanvas::UsePen() {
  if (!dc_) return;
  if (!penValid_) {
    HPEN pen = ::CreatePen(penStyle_, penWidth_, penColor_);
    if (!pen) OutOfResources();
    Replace(dc_, pen, pen_, oldPen_);
    penValid_ = true;
  }
  ::SetROP2(dc_, penMode_);
}

void TCanvas::UseBrush() {
  if (!dc_) return;
  if (!brushValid_) {
    LOGBRUSH description{};
    description.lbStyle = brushClear_ ? BS_NULL : BS_SOLID;
    description.lbColor = brushColor_;
    HBRUSH brush = ::CreateBrushIndirect(&description);
    if (!brush) OutOfResources();
    Replace(dc_, brush, brush_, oldBrush_);
    brushValid_ = true;
  }
  ::SetBkColor(dc_, brushColor_);
  ::SetBkMode(dc_, brushClear_ ? TRANSPARENT : OPAQUE);
}

void TCanvas::UseFont() {
  if (!dc_) return;
  if (!fontValid_) {
    const int height = -::MulDiv(fontSize_, ::GetDeviceCaps(dc_, LOGPIXELSY), 72);
    HFONT font = ::CreateFontA(height, 0, 0, 0, fontBold_ ? FW_BOLD : FW_NORMAL, FALSE, FALSE,
                               FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                               DEFAULT_QUALITY, DEFAULT_PITCH, fontName_.c_str());
    if (!font) OutOfResources();
    Replace(dc_, font, font_, oldFont_);
    fontValid_ = true;
  }
  ::SetTextColor(dc_, fontColor_);
}

void TCanvas::MoveTo(int x, int y) {
  if (dc_) ::MoveToEx(dc_, x, y, nullptr);
}

void TCanvas::LineTo(int x, int y) {
  if (!dc_) return;
  UsePen();
  ::LineTo(dc_, x, y);
  Flush();
}

void TCanvas::FillRect(const TRect& rect) {
  if (!dc_) return;
  UseBrush();
  if (brushClear_) return;
  const RECT r{rect.Left, rect.Top, rect.Right, rect.Bottom};
  ::FillRect(dc_, &r, brush_);
  Flush();
}

void TCanvas::Rectangle(const TRect& rect) {
  if (!dc_) return;
  UsePen();
  UseBrush();
  ::Rectangle(dc_, rect.Left, rect.Top, rect.Right, rect.Bottom);
  Flush();
}

void TCanvas::FrameRect(const TRect& rect) {
  if (!dc_) return;
  UseBrush();
  if (brushClear_) return;
  const RECT r{rect.Left, rect.Top, rect.Right, rect.Bottom};
  ::FrameRect(dc_, &r, brush_);
  Flush();
}

void TCanvas::DrawFocusRect(const TRect& rect) {
  if (!dc_) return;
  const RECT r{rect.Left, rect.Top, rect.Right, rect.Bottom};
  ::DrawFocusRect(dc_, &r);
  Flush();
}

void TCanvas::Ellipse(const TRect& rect) {
  if (!dc_) return;
  UsePen();
  UseBrush();
  ::Ellipse(dc_, rect.Left, rect.Top, rect.Right, rect.Bottom);
  Flush();
}

void TCanvas::Polyline(const POINT* points, int count) {
  if (!dc_ || count < 2) return;
  UsePen();
  ::Polyline(dc_, points, count);
  Flush();
}

TColor TCanvas::Pixel(int x, int y) const {
  if (!dc_) return clBlack;
  ::GdiFlush();
  return ::GetPixel(dc_, x, y);
}

void TCanvas::SetPixel(int x, int y, TColor color) {
  if (!dc_) return;
  ::SetPixel(dc_, x, y, color);
  Flush();
}

void TCanvas::CopyRect(const TRect& dest, TCanvas& source, const TRect& sourceRect) {
  if (!dc_ || !source.dc_) return;
  ::StretchBlt(dc_, dest.Left, dest.Top, dest.Right - dest.Left, dest.Bottom - dest.Top, source.dc_,
               sourceRect.Left, sourceRect.Top, sourceRect.Right - sourceRect.Left,
               sourceRect.Bottom - sourceRect.Top, SRCCOPY);
  Flush();
}

void TCanvas::TextOut(int x, int y, const std::string& text) {
  if (!dc_) return;
  UseFont();
  UseBrush();
  ::TextOutA(dc_, x, y, text.data(), static_cast<int>(text.size()));
  Flush();
}

int TCanvas::TextWidth(const std::string& text) {
  if (!dc_) return 0;
  UseFont();
  SIZE size{};
  ::GetTextExtentPoint32A(dc_, text.data(), static_cast<int>(text.size()), &size);
  return size.cx;
}

int TCanvas::TextHeight(const std::string& text) {
  if (!dc_) return 0;
  UseFont();
  SIZE size{};
  ::GetTextExtentPoint32A(dc_, text.data(), static_cast<int>(text.size()), &size);
  return size.cy;
}

void TCanvas::Draw(int x, int y, TGraphic& graphic) {
  StretchDraw({x, y, x + graphic.Width(), y + graphic.Height()}, graphic);
}

void TCanvas::StretchDraw(const TRect& rect, TGraphic& graphic) {
  if (!dc_ || graphic.Empty()) return;
  graphic.Draw(*this, rect);
  Flush();
}

}  // namespace lumetra
