#include <sys/mman.h>

#include <cstdlib>
#include <cstring>

#include "base/exception.h"
#include "platform/pixel_store.h"

namespace lumetra::platform {

namespace {
constexpr std::size_t kHuge = std::size_t{2} << 20;
}

void PixelStore::Create(const void*, std::size_t imageSize) {
  Release();
  // A page of a few megabytes in 2 MiB pages: a 4 KiB page fault for every
  // 4 KiB written costs a 300 dpi colour page more than decoding it.
  if (imageSize >= kHuge) {
    const std::size_t rounded = (imageSize + kHuge - 1) / kHuge * kHuge;
    bits_ = static_cast<std::uint8_t*>(std::aligned_alloc(kHuge, rounded));
    if (bits_) {
      madvise(bits_, rounded, MADV_HUGEPAGE);
      std::memset(bits_, 0, imageSize);
      return;
    }
  }
  bits_ = static_cast<std::uint8_t*>(std::calloc(imageSize ? imageSize : 1, 1));
  if (!bits_) throw EOutOfResources("Out of resources");
}

void PixelStore::Release() {
  std::free(bits_);
  bits_ = nullptr;
}

}  // namespace lumetra::platform
