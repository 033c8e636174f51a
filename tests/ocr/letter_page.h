// A short business letter printed by GDI into an image, as a scanner would
// see a printed page, and how much of it a recogniser got right.
#pragma once

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "imaging/dib_graphic.h"

namespace qvtest {

inline const std::vector<std::string>& LetterLines() {
  static const std::vector<std::string> lines{
      "Dear Madam,",
      "Thank you for your letter of March 4.",
      "We are pleased to confirm your order",
      "of 12 boxes of paper and 3 printers.",
      "Yours sincerely,",
      "John Smith",
  };
  return lines;
}

// The letter in black on white, true colour or black and white, 1700 pixels wide (a text column of
// a 200 dpi page), in a 40-pixel serif face.
inline void PrintLetter(lumetra::TDibGraphic& page, lumetra::TImageFormat format) {
  const int lineHeight = 64;
  page.NewImage(1700, 80 + lineHeight * static_cast<int>(LetterLines().size()),
                lumetra::ifTrueColor, nullptr, 200, 200);
  page.Fill(0xFFFFFF);
  HDC dc = static_cast<HDC>(page.DC());
  HFONT font = ::CreateFontA(-40, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, NONANTIALIASED_QUALITY,
                             VARIABLE_PITCH | FF_ROMAN, "Times New Roman");
  HGDIOBJ old = ::SelectObject(dc, font);
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, RGB(0, 0, 0));
  int y = 40;
  for (const std::string& line : LetterLines()) {
    ::TextOutA(dc, 60, y, line.c_str(), static_cast<int>(line.size()));
    y += lineHeight;
  }
  ::SelectObject(dc, old);
  ::DeleteObject(font);
  ::GdiFlush();
  if (format != lumetra::ifBlackWhite) return;
  lumetra::TDibGraphic bw;
  bw.NewImage(page.Width(), page.Height(), lumetra::ifBlackWhite, nullptr, 200, 200);
  for (int row = 0; row < page.Height(); ++row)
    for (int x = 0; x < page.Width(); ++x)
      bw.SetPixels(x, row, (page.Pixels(x, row) & 0xFF) < 128 ? 0 : 0xFFFFFF);
  page.Assign(&bw);
}

// 1 - (edit distance / length of the expected text): the share of the
// letter's characters the recogniser got right.
inline double CharacterAccuracy(const std::vector<std::string>& expectedLines,
                                const std::vector<std::string>& gotLines) {
  auto join = [](const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
      if (!line.empty()) text += line + "\n";
    return text;
  };
  const std::string a = join(expectedLines), b = join(gotLines);
  std::vector<std::size_t> row(b.size() + 1), next(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    next[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j)
      next[j] = std::min({row[j] + 1, next[j - 1] + 1, row[j - 1] + (a[i - 1] != b[j - 1])});
    std::swap(row, next);
  }
  return 1.0 - static_cast<double>(row[b.size()]) / static_cast<double>(a.size());
}

// Whether Word appears in one of Lines.
inline bool HasWord(const std::vector<std::string>& lines, const std::string& word) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& line) { return line.find(word) != std::string::npos; });
}

}  // namespace qvtest
