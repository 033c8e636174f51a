// The registry's load path: the first byte picks the file name's extension,
// the rest is the file, read the way the viewer reads it (all frames), from
// a stream that does not start at offset 0.
#include <iterator>

#include "formats/registry.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const char* const kNames[] = {"page.tif",  "page.TIFF", "page.png", "page.jpg",
                                       "page.jpeg", "page.pdf",  "page.bmp", "page.pcx",
                                       "page.dcx",  "page.tga",  "page.ppm", "page.eps"};
  if (size < 1) return 0;
  const char* name = kNames[data[0] % std::size(kNames)];
  lumetra::TMemoryStream stream;
  stream.WriteBuffer("prefix", 6);
  if (size > 1) stream.WriteBuffer(data + 1, static_cast<std::int64_t>(size - 1));
  lumetra::PngWarningHandler() = nullptr;
  lumetra::RegisterExtraPictureFormats();
  try {
    auto image = lumetra::CreateGraphicForFile(name);
    stream.SetPosition(6);
    image->IsValidStream(stream);
    image->SetLoadAllFrames(data[0] & 0x80);
    stream.SetPosition(6);
    image->LoadFromStream(stream);
  } catch (const lumetra::Exception&) {
  }
  return 0;
}
