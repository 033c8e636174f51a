// Ceilings that protect the host process from hostile files: a header may
// claim any size, but nothing larger than this is ever allocated for it.
#pragma once

#include <cstdint>

namespace lumetra {

// Pixel bytes of one image, as TDibGraphic::NewImage enforces; the format
// readers check it themselves first, so the refusal names the format.
constexpr std::uint64_t kMaxImageBytes = std::uint64_t{1} << 30;
// One working buffer inside a codec library (a strip, a coefficient array).
constexpr std::uint64_t kMaxCodecAlloc = std::uint64_t{512} << 20;

// The widest PNG row: libpng keeps two rows of up to 8 bytes a pixel.
constexpr std::uint64_t kMaxPngRowPixels = kMaxCodecAlloc / 32;

}  // namespace lumetra
