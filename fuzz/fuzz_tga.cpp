#include "formats/tga_graphic.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  lumetra::TMemoryStream stream;
  lumetra::fuzz::Fill(stream, data, size);
  lumetra::TTgaGraphic reader;
  lumetra::fuzz::LoadPages(reader, stream, 1);
  return 0;
}
