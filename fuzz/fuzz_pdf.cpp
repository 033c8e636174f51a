// The PDF reader on hostile documents: page count, then every page.
#include "formats/pdf_graphic.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  lumetra::TMemoryStream stream;
  lumetra::fuzz::Fill(stream, data, size);
  lumetra::TPdfGraphic reader;
  lumetra::fuzz::LoadPages(reader, stream, 4);
  return 0;
}
