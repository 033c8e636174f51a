#include "formats/gbm_wrapper.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  lumetra::TMemoryStream stream;
  lumetra::fuzz::Fill(stream, data, size);
  lumetra::TDibGraphic image;
  try {
    lumetra::ReadWithGbm(stream, image, "File.tga", "");
  } catch (const lumetra::Exception&) {
  }
  return 0;
}
