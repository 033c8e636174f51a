// Packed DIBs that are not plain 1/4/8/24-bit rows (16 and 32 bits, bit
// fields, run-length data) take the same road as a BMP file: the block is
// written out as one and read back by the BMP reader.
#include "imaging/bmp_decode.h"
#include "imaging/dib_graphic.h"

namespace lumetra {

void TDibGraphic::LoadFromBmpDib(const std::uint8_t* block, std::size_t size,
                                 const TBitmapInfoHeader&) {
  TMemoryStream stream;
  SaveDIBBlockToStream(block, size, stream);
  stream.SetPosition(0);
  ReadBmpStream(stream, *this);
}

}  // namespace lumetra
