// PCX files, and the same bytes as a DCX container (whose pages are PCX).
#include "formats/pcx_graphic.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  lumetra::TMemoryStream stream;
  lumetra::fuzz::Fill(stream, data, size);
  lumetra::TPcxGraphic pcx;
  lumetra::fuzz::LoadPages(pcx, stream, 1);
  lumetra::TDcxGraphic dcx;
  lumetra::fuzz::LoadPages(dcx, stream, 4);
  return 0;
}
