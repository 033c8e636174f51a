#include <windows.h>

#include "annotations/mark_painter.h"

namespace lumetra {

namespace {

struct FontOwner {
  HFONT font;
  ~FontOwner() {
    if (font) DeleteObject(font);
  }
};

}  // namespace

void DrawMarkText(TDibGraphic& image, const TRect& area, const std::string& text,
                  const TMarkFont& font, int size) {
  if (text.empty() || area.Right <= area.Left || area.Bottom <= area.Top) return;
  HDC dc = static_cast<HDC>(image.DC());
  if (!dc) return;
  LOGFONTA logFont{};
  logFont.lfHeight = -MulDiv(size, GetDeviceCaps(dc, LOGPIXELSY), 72);
  logFont.lfWeight = font.bold ? FW_BOLD : FW_NORMAL;
  logFont.lfItalic = font.italic;
  logFont.lfUnderline = font.underline;
  logFont.lfStrikeOut = font.strikeOut;
  logFont.lfCharSet = DEFAULT_CHARSET;
  lstrcpynA(logFont.lfFaceName, font.name.c_str(), LF_FACESIZE);
  FontOwner owner{CreateFontIndirectA(&logFont)};
  if (!owner.font) return;
  const HGDIOBJ previous = SelectObject(dc, owner.font);
  const int previousMode = SetBkMode(dc, TRANSPARENT);
  const COLORREF previousColour = SetTextColor(dc, font.color & 0xFFFFFF);
  RECT rect{area.Left, area.Top, area.Right, area.Bottom};
  DrawTextA(dc, text.data(), static_cast<int>(text.size()), &rect,
            DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX);
  SetTextColor(dc, previousColour);
  SetBkMode(dc, previousMode);
  SelectObject(dc, previous);
  GdiFlush();
}

}  // namespace lumetra
