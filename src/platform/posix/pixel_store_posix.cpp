#include <cstdlib>

#include "base/exception.h"
#include "platform/pixel_store.h"

namespace lumetra::platform {

void PixelStore::Create(const void*, std::size_t imageSize) {
  Release();
  bits_ = static_cast<std::uint8_t*>(std::calloc(imageSize ? imageSize : 1, 1));
  if (!bits_) throw EOutOfResources("Out of resources");
}

void PixelStore::Release() {
  std::free(bits_);
  bits_ = nullptr;
}

}  // namespace lumetra::platform
