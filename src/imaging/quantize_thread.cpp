#include "imaging/quantize_thread.h"

#include <mutex>
#include <set>
#include <vector>

#include "imaging/color_reduction.h"

namespace lumetra {

namespace {

struct TCancelled {};

// Live quantizers, for DeliverFinished; workers not yet joined, for Running.
struct Quantizers {
  std::mutex lock;
  std::set<TQuantizeThread*> live;
  std::atomic<int> running{0};
};
Quantizers& Shared() {
  static Quantizers quantizers;
  return quantizers;
}

}  // namespace

TQuantizeThread::TQuantizeThread(TDibGraphic& graphic) : graphic_(graphic) {}

TQuantizeThread::~TQuantizeThread() {
  {
    std::lock_guard<std::mutex> guard(Shared().lock);
    Shared().live.erase(this);
  }
  cancel_.store(true);
  if (worker_.joinable()) {
    worker_.join();
    Shared().running.fetch_sub(1);
  }
  if (notifier_) quantize_platform::DestroyNotifier(notifier_);
}

void TQuantizeThread::Resume() {
  if (worker_.joinable() || Finished()) return;
  starter_ = std::this_thread::get_id();
  notifier_ = quantize_platform::CreateNotifier(this);
  {
    std::lock_guard<std::mutex> guard(Shared().lock);
    Shared().live.insert(this);
  }
  Shared().running.fetch_add(1);
  try {
    worker_ = std::thread([this] { Execute(); });
  } catch (...) {
    Shared().running.fetch_sub(1);
    throw;
  }
}

void TQuantizeThread::Execute() {
  try {
    TLogPalette palette;
    std::uint8_t state = 255;
    Quantize(graphic_, palette, 256, &state, [this](TObject*, std::uint8_t) {
      if (cancel_.load(std::memory_order_relaxed)) throw TCancelled{};
    });
    result_ = palette;
  } catch (...) {
    failed_ = true;  // cancelled, or out of memory: drawing keeps the halftone palette
  }
  finished_.store(true, std::memory_order_release);
  if (!cancel_.load()) quantize_platform::Notify(notifier_);
}

bool TQuantizeThread::Deliver() {
  if (delivered_) return true;
  if (!Finished()) return false;
  if (worker_.joinable()) {
    worker_.join();
    Shared().running.fetch_sub(1);
  }
  delivered_ = true;
  if (failed_) return true;
  graphic_.logPalette_ = result_;
  quantize_platform::GivePalette(graphic_, result_);
  graphic_.Changed();
  return true;
}

int TQuantizeThread::DeliverFinished() {
  const std::thread::id self = std::this_thread::get_id();
  std::vector<TQuantizeThread*> ready;
  {
    std::lock_guard<std::mutex> guard(Shared().lock);
    for (TQuantizeThread* thread : Shared().live) {
      if (thread->starter_ == self && thread->Finished() && !thread->Delivered()) {
        ready.push_back(thread);
      }
    }
  }
  // Only this thread frees what it started: the list stays valid.
  for (TQuantizeThread* thread : ready) thread->Deliver();
  return static_cast<int>(ready.size());
}

int TQuantizeThread::Running() noexcept { return Shared().running.load(); }

std::unique_ptr<TQuantizeThread> StartQuantizeThread(TDibGraphic& graphic) {
  auto thread = std::make_unique<TQuantizeThread>(graphic);
  thread->Resume();
  return thread;
}

}  // namespace lumetra
