// A page's pixels a row at a time: a reader hands them out top to bottom
// and a writer takes them as they come, so converting a page between files
// holds a few rows instead of the whole page.
#pragma once

#include <cstdint>

namespace lumetra {

class TPageRows {
 public:
  virtual ~TPageRows() = default;
  // Decodes the page's next row into Row: RowStride bytes laid out as the
  // image's own rows. Raises the reader's error for damaged data.
  virtual void ReadRow(std::uint8_t* row) = 0;
};

}  // namespace lumetra
