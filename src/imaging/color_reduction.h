// Colour reduction: the histogram quantizer that picks a palette from an
// image's own colours, and Floyd-Steinberg error diffusion onto a palette.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "imaging/dib_graphic.h"

namespace lumetra {

// Fills Out with a palette of MaxColours (at most 256) colours for Image:
// 5-bit-per-channel histogram, rare colours dropped as noise, then a greedy
// spread that keeps picking the candidate least crowded by those already
// picked. Progress (optional) is reported once per pick through
// ProgressState, the last percentage.
void Quantize(const TDibGraphic& image, TLogPalette& out, int maxColours,
              std::uint8_t* progressState = nullptr, const TLumetraProgressEvent& progress = {},
              TObject* sender = nullptr);

// The nearest entry of a palette by squared RGB distance, the first of equal
// ones: the same answer as TRgbToPaletteConverter, found faster by keeping,
// for each cube of 16 x 16 x 16 colours, the few entries that can be nearest
// anywhere inside it.
class TNearestColourIndex {
 public:
  explicit TNearestColourIndex(const TLogPalette& palette);
  int Find(int red, int green, int blue);

 private:
  struct Entry {
    int red, green, blue, index;
  };
  const std::vector<Entry>& CellEntries(int cell);
  std::vector<Entry> palette_;
  std::vector<std::vector<Entry>> cells_;
  std::vector<bool> built_;
  // The answers for recently asked colours, direct-mapped.
  struct Memo {
    std::uint32_t colour;
    int index;
  };
  std::vector<Memo> memo_;
};

// Error diffusion of Source into Dest, which has Source's size and an
// indexed format: rows from the top, each left to right, errors clamped as
// they accumulate, the first and last pixel of each row not diffused.
// RowDone (optional) is called after each row.
void DitherFloydSteinberg(const TDibGraphic& source, TDibGraphic& dest,
                          const std::function<void(int row)>& rowDone = {});

}  // namespace lumetra
