#include "imaging/quantize_thread.h"

#include <mutex>
#include <set>
#include <vector>

#include "imaging/color_reduction.h"

namespace lumetra {

namespace {

struct TCancelled {};

// Live quantizers, for DeliverFinished.
std::mutex& RegistryLock() {
  static std::mutex lock;
  return lock;
}
std::set<TQuantizeThread*>& Registry() {
  static std::set<TQuantizeThread*> registry;
  return registry;
}

}  // namespace

TQuantizeThread::TQuantizeThread(TDibGraphic& graphic) : graphic_(graphic) {}

TQuantizeThread::~TQuantizeThread() {
  {
    std::lock_guard<std::mutex> guard(RegistryLock());
    Registry().erase(this);
  }
  cancel_.store(true);
  if (worker_.joinable()) worker_.join();
  if (notifier_) quantize_platform::DestroyNotifier(notifier_);
}

void TQuantizeThread::Resume() {
  if (worker_.joinable() || Finished()) return;
  notifier_ = quantize_platform::CreateNotifier(this);
  {
    std::lock_guard<std::mutex> guard(RegistryLock());
    Registry().insert(this);
  }
  worker_ = std::thread([this] { Execute(); });
}

void TQuantizeThread::Execute() {
  try {
    TLogPalette palette;
    std::uint8_t state = 255;
    Quantize(graphic_, palette, 256, &state, [this](TObject*, std::uint8_t) {
      if (cancel_.load(std::memory_order_relaxed)) throw TCancelled{};
    });
    result_ = palette;
    quantize_platform::HandOverPalette(graphic_, result_);
  } catch (...) {
    failed_ = true;  // cancelled, or out of memory: drawing keeps the halftone palette
  }
  finished_.store(true, std::memory_order_release);
  if (!cancel_.load()) quantize_platform::Notify(notifier_);
}

bool TQuantizeThread::Deliver() {
  if (delivered_) return true;
  if (!Finished()) return false;
  if (worker_.joinable()) worker_.join();
  delivered_ = true;
  if (failed_) return true;
  graphic_.logPalette_ = result_;
  graphic_.Changed();
  return true;
}

int TQuantizeThread::DeliverFinished() {
  std::vector<TQuantizeThread*> ready;
  {
    std::lock_guard<std::mutex> guard(RegistryLock());
    for (TQuantizeThread* thread : Registry())
      if (thread->Finished() && !thread->Delivered()) ready.push_back(thread);
  }
  for (TQuantizeThread* thread : ready) thread->Deliver();
  return static_cast<int>(ready.size());
}

std::unique_ptr<TQuantizeThread> StartQuantizeThread(TDibGraphic& graphic) {
  auto thread = std::make_unique<TQuantizeThread>(graphic);
  thread->Resume();
  return thread;
}

void InstallQuantizeThread() {
  TDibGraphic::QuantizerStarter = [](TDibGraphic& graphic) -> std::unique_ptr<TObject> {
    return StartQuantizeThread(graphic);
  };
}

}  // namespace lumetra
