// TCanvas: a GDI device context with the drawing operations the library and
// its user interface use: pen, brush and font, lines, rectangles, text and
// pictures. It owns the pens, brushes and fonts it creates and puts the
// context's own objects back before it lets go of the context; it owns the
// context itself only when told so.
//
// Colours here are GDI colours (0x00BBGGRR), as the rest of the user
// interface knows them; rectangles are GDI rectangles (Right and Bottom
// excluded).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "imaging/lumisc.h"

namespace lumetra {

class TGraphic;

class TCanvas {
 public:
  explicit TCanvas(HDC dc = nullptr, bool owned = false) : dc_(dc), owned_(owned) {}
  ~TCanvas();
  TCanvas(const TCanvas&) = delete;
  TCanvas& operator=(const TCanvas&) = delete;

  HDC Handle() const { return dc_; }
  // Binds the canvas to another context (not owned); the old one gets its
  // own objects back first.
  void SetHandle(HDC dc);

  TColor PenColor() const { return penColor_; }
  void SetPenColor(TColor color);
  int PenWidth() const { return penWidth_; }
  void SetPenWidth(int width);
  // PS_SOLID, PS_DASH, PS_DOT ...; and the raster mix (R2_COPYPEN, R2_NOTXORPEN
  // for rubber bands that a second drawing erases).
  int PenStyle() const { return penStyle_; }
  void SetPenStyle(int style);
  int PenMode() const { return penMode_; }
  void SetPenMode(int mode) { penMode_ = mode; }
  TColor BrushColor() const { return brushColor_; }
  void SetBrushColor(TColor color);
  // A clear brush fills nothing and draws text without a background.
  bool BrushClear() const { return brushClear_; }
  void SetBrushClear(bool clear);
  TColor FontColor() const { return fontColor_; }
  void SetFontColor(TColor color);
  const std::string& FontName() const { return fontName_; }
  void SetFontName(const std::string& name);
  int FontSize() const { return fontSize_; }  // points
  void SetFontSize(int points);
  bool FontBold() const { return fontBold_; }
  void SetFontBold(bool bold);

  void MoveTo(int x, int y);
  void LineTo(int x, int y);
  void FillRect(const TRect& rect);   // with the brush
  void Rectangle(const TRect& rect);  // outlined with the pen, filled with the brush
  void FrameRect(const TRect& rect);  // a one-pixel frame in the brush colour
  void DrawFocusRect(const TRect& rect);
  void Ellipse(const TRect& rect);
  void Polyline(const POINT* points, int count);
  TColor Pixel(int x, int y) const;
  void SetPixel(int x, int y, TColor color);
  // Copies Source's SourceRect into Dest, stretching when the sizes differ.
  void CopyRect(const TRect& dest, TCanvas& source, const TRect& sourceRect);
  void TextOut(int x, int y, const std::string& text);
  int TextWidth(const std::string& text);
  int TextHeight(const std::string& text);
  // Pictures: at their own size at (X, Y), or stretched into Rect.
  void Draw(int x, int y, TGraphic& graphic);
  void StretchDraw(const TRect& rect, TGraphic& graphic);
  // Lets pending GDI work reach the pixels (DIB sections are read directly).
  void Flush() { ::GdiFlush(); }

 private:
  void UsePen();
  void UseBrush();
  void UseFont();
  void Deselect();

  HDC dc_;
  bool owned_;
  TColor penColor_ = clBlack;
  int penWidth_ = 1;
  int penStyle_ = PS_SOLID;
  int penMode_ = R2_COPYPEN;
  TColor brushColor_ = clWhite;
  bool brushClear_ = false;
  TColor fontColor_ = clBlack;
  std::string fontName_ = "MS Sans Serif";
  int fontSize_ = 8;
  bool fontBold_ = false;
  HPEN pen_ = nullptr;
  HBRUSH brush_ = nullptr;
  HFONT font_ = nullptr;
  bool penValid_ = false, brushValid_ = false, fontValid_ = false;
  HGDIOBJ oldPen_ = nullptr, oldBrush_ = nullptr, oldFont_ = nullptr;
};

}  // namespace lumetra
