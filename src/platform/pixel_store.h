// The memory behind an image's pixels. On Win32 it is a DIB section selected
// into a memory device context, so GDI can draw on the image; natively it is
// plain zeroed memory. The layout is the same on both: bottom-up rows padded
// to four bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

namespace lumetra::platform {

class PixelStore {
 public:
  PixelStore() = default;
  ~PixelStore() {
    try {
      Release();
    } catch (...) {
      // The memory context could not be deleted; nothing is left to free.
    }
  }
  PixelStore(const PixelStore&) = delete;
  PixelStore& operator=(const PixelStore&) = delete;

  // bitmapInfo is a BITMAPINFOHEADER followed by its colour table; imageSize
  // the number of pixel bytes. Raises EOutOfResources on failure and leaves
  // the store empty.
  void Create(const void* bitmapInfo, std::size_t imageSize);
  // Raises EOutOfResources when the system refuses to delete the context.
  void Release();
  bool Exists() const { return bits_ != nullptr; }
  // Exchanges the pixels (and on Win32 the context holding them) with Other.
  void Swap(PixelStore& other) noexcept {
    std::swap(bits_, other.bits_);
    std::swap(dc_, other.dc_);
    std::swap(bitmap_, other.bitmap_);
    std::swap(previous_, other.previous_);
    std::swap(mapped_, other.mapped_);
  }
  std::uint8_t* Bits() const { return bits_; }

  // Win32: the memory DC (HDC) and the DIB section (HBITMAP); null natively.
  void* DC() const { return dc_; }
  void* Bitmap() const { return bitmap_; }

 private:
  std::uint8_t* bits_ = nullptr;
  void* dc_ = nullptr;
  void* bitmap_ = nullptr;
  void* previous_ = nullptr;
  // Natively, the length of a store mapped on its own (0 for heap memory).
  std::size_t mapped_ = 0;
};

}  // namespace lumetra::platform
