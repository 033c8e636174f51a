#include "imaging/quantize_thread.h"

#include <map>
#include <mutex>
#include <vector>

#include "imaging/color_reduction.h"

namespace lumetra {

namespace {

struct TCancelled {};

// Threads created by Start, by the image they work for. Only the UI thread
// starts, cancels and delivers, but the lock keeps the map sound whoever
// calls.
std::mutex& RegistryLock() {
  static std::mutex lock;
  return lock;
}
std::map<const TDibGraphic*, TQuantizeThread*>& Registry() {
  static std::map<const TDibGraphic*, TQuantizeThread*> registry;
  return registry;
}

}  // namespace

TQuantizeThread::TQuantizeThread(TDibGraphic& graphic) : graphic_(graphic) {}

TQuantizeThread::~TQuantizeThread() {
  cancel_.store(true);
  if (worker_.joinable()) worker_.join();
  if (notifier_) quantize_platform::DestroyNotifier(notifier_);
}

void TQuantizeThread::Resume() {
  if (worker_.joinable()) return;
  notifier_ = quantize_platform::CreateNotifier(this);
  worker_ = std::thread([this] { Execute(); });
}

void TQuantizeThread::Execute() {
  try {
    TLogPalette palette;
    std::uint8_t state = 255;
    Quantize(
        graphic_, palette, 256, &state,
        [this](TObject*, std::uint8_t) {
          if (cancel_.load(std::memory_order_relaxed)) throw TCancelled{};
        });
    result_ = palette;
  } catch (...) {
    failed_ = true;  // cancelled, or out of memory: the image keeps the halftone palette
  }
  finished_.store(true, std::memory_order_release);
  if (!cancel_.load()) quantize_platform::Notify(notifier_);
}

bool TQuantizeThread::Deliver() {
  if (!Finished()) return false;
  if (worker_.joinable()) worker_.join();
  if (delivered_) return true;
  delivered_ = true;
  if (failed_) return true;
  graphic_.logPalette_ = result_;
  quantize_platform::StorePalette(graphic_, result_);
  graphic_.Changed();
  return true;
}

void DeliverQuantizeResult(TQuantizeThread* thread) {
  {
    std::lock_guard<std::mutex> guard(RegistryLock());
    auto it = Registry().find(&thread->Graphic());
    if (it == Registry().end() || it->second != thread) return;  // cancelled meanwhile
    Registry().erase(it);
  }
  std::unique_ptr<TQuantizeThread> owner(thread);
  owner->Deliver();
}

void TQuantizeThread::Start(TDibGraphic& graphic) {
  if (graphic.Empty() || graphic.ImageFormat() != ifTrueColor) return;
  std::lock_guard<std::mutex> guard(RegistryLock());
  if (Registry().count(&graphic)) return;
  auto thread = std::make_unique<TQuantizeThread>(graphic);
  thread->Resume();
  Registry()[&graphic] = thread.release();
}

void TQuantizeThread::Cancel(const TDibGraphic& graphic) {
  TQuantizeThread* thread = nullptr;
  {
    std::lock_guard<std::mutex> guard(RegistryLock());
    auto it = Registry().find(&graphic);
    if (it == Registry().end()) return;
    thread = it->second;
    Registry().erase(it);
  }
  delete thread;  // joins the worker
}

int TQuantizeThread::DeliverFinished() {
  std::vector<TQuantizeThread*> finished;
  {
    std::lock_guard<std::mutex> guard(RegistryLock());
    for (auto& [graphic, thread] : Registry())
      if (thread->Finished()) finished.push_back(thread);
  }
  for (TQuantizeThread* thread : finished) DeliverQuantizeResult(thread);
  return static_cast<int>(finished.size());
}

bool TQuantizeThread::Running(const TDibGraphic& graphic) {
  std::lock_guard<std::mutex> guard(RegistryLock());
  return Registry().count(&graphic) != 0;
}

void StartQuantizeThread(TDibGraphic& graphic) { TQuantizeThread::Start(graphic); }

}  // namespace lumetra
