#include "viewer/read_graphic_thread.h"

#include <windows.h>

#include <cctype>
#include <thread>

#include "base/conversions.h"
#include "formats/registry.h"
#include "platform/platform.h"

namespace lumetra {

std::uint64_t TReadAheadSlot::Restart() {
  std::unique_ptr<TDibGraphic> old;
  std::lock_guard lock(mutex_);
  old = std::move(image_);  // freed after the lock is released
  fileName_.clear();
  return ++ticket_;
}

bool TReadAheadSlot::Store(std::uint64_t ticket, const std::string& fileName,
                           std::unique_ptr<TDibGraphic> image) {
  std::lock_guard lock(mutex_);
  if (ticket != ticket_) return false;
  fileName_ = fileName;
  image_ = std::move(image);
  return true;
}

std::unique_ptr<TDibGraphic> TReadAheadSlot::Take(const std::string& fileName) {
  std::lock_guard lock(mutex_);
  if (!image_ || !SameText(fileName, fileName_)) return nullptr;
  fileName_.clear();
  return std::move(image_);
}

void TReadAheadSlot::Clear() {
  std::unique_ptr<TDibGraphic> old;
  std::lock_guard lock(mutex_);
  old = std::move(image_);
  fileName_.clear();
  ++ticket_;
}

bool TReadAheadSlot::Holds() const {
  std::lock_guard lock(mutex_);
  return image_ != nullptr;
}

std::unique_ptr<TDibGraphic> TReadGraphicThread::Read(const std::string& fileName) noexcept {
  try {
    if (!platform::FileExists(fileName)) return nullptr;
    std::unique_ptr<TDibGraphic> image = CreateGraphicForFile(fileName);
    image->SetImageIndex(1);
    image->LoadFromFile(fileName);
    return image;
  } catch (...) {
    return nullptr;
  }
}

void TReadGraphicThread::Start(const std::string& fileName, std::shared_ptr<TReadAheadSlot> slot) {
  const std::uint64_t ticket = slot->Restart();
  std::thread([fileName, slot = std::move(slot), ticket] {
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_LOWEST);
    std::unique_ptr<TDibGraphic> image = Read(fileName);
    if (image) slot->Store(ticket, fileName, std::move(image));
  }).detach();
}

}  // namespace lumetra
