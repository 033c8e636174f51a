#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

#include "base/exception.h"
#include "platform/pixel_store.h"

namespace lumetra::platform {

namespace {
constexpr std::size_t kHuge = std::size_t{2} << 20;
constexpr std::size_t kPage = 4096;

std::size_t RoundUp(std::size_t value, std::size_t unit) {
  return (value + unit - 1) / unit * unit;
}
}  // namespace

void PixelStore::Create(const void*, std::size_t imageSize) {
  Release();
  // A page of a few megabytes in 2 MiB pages: a 4 KiB page fault for every
  // 4 KiB written costs a 300 dpi colour page more than decoding it. The
  // mapping starts on a 2 MiB boundary and ends with the pixels, so the
  // last part of a page is held in small pages and the store costs what
  // the pixels need, not a whole huge page more; fresh mappings are zeroed.
  if (imageSize >= kHuge) {
    const std::size_t length = RoundUp(imageSize, kPage);
    void* area =
        mmap(nullptr, length + kHuge, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (area != MAP_FAILED) {
      const auto start = reinterpret_cast<std::uintptr_t>(area);
      const std::uintptr_t aligned = RoundUp(start, kHuge);
      if (aligned > start) munmap(area, aligned - start);
      if (const std::size_t tail = start + kHuge - aligned; tail > 0)
        munmap(reinterpret_cast<void*>(aligned + length), tail);
      bits_ = reinterpret_cast<std::uint8_t*>(aligned);
      mapped_ = length;
      madvise(bits_, length, MADV_HUGEPAGE);
      return;
    }
  }
  bits_ = static_cast<std::uint8_t*>(std::calloc(imageSize ? imageSize : 1, 1));
  if (!bits_) throw EOutOfResources("Out of resources");
}

void PixelStore::Release() {
  if (mapped_)
    munmap(bits_, mapped_);
  else
    std::free(bits_);
  bits_ = nullptr;
  mapped_ = 0;
}

}  // namespace lumetra::platform
