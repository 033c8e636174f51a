// TQuantizeThread: gives a true-colour image a 256-colour display palette
// without holding up the thread that shows it. A worker std::thread runs
// the quantizer over the image's pixels; the result is handed over once,
// on the thread that started the worker (on Win32 through a message to a
// hidden window that the quantizer itself owns), where the image takes the
// logical palette (and on Win32 the GDI palette made from it) and raises its
// OnChange, so views repaint there.
//
// The image starts and owns its quantizer (TDibGraphic::Draw on a palette
// device) and destroys it before its pixels go; destruction stops and joins
// the worker and takes its window with it, so a hand-over that arrives
// later finds nothing.
#pragma once

#include <atomic>
#include <memory>
#include <thread>

#include "imaging/dib_graphic.h"

namespace lumetra {

class TQuantizeThread : public TObject {
 public:
  // Created suspended: nothing runs until Resume.
  explicit TQuantizeThread(TDibGraphic& graphic);
  // Stops the worker (it gives up at its next pick) and joins it.
  ~TQuantizeThread() override;
  TQuantizeThread(const TQuantizeThread&) = delete;
  TQuantizeThread& operator=(const TQuantizeThread&) = delete;
  const char* ClassName() const noexcept override { return "TQuantizeThread"; }

  void Resume();
  // The worker has its palette (or has given up).
  bool Finished() const { return finished_.load(std::memory_order_acquire); }
  // On the starting thread, once the worker has finished: gives the image
  // its palette and raises its OnChange. Answers whether the result has now
  // been delivered (false while the worker runs).
  bool Deliver();
  bool Delivered() const { return delivered_; }
  const TLogPalette& Result() const { return result_; }
  TDibGraphic& Graphic() const { return graphic_; }

  // Delivers every finished, undelivered quantizer that the calling thread
  // started; for hosts without a message loop. Answers how many.
  static int DeliverFinished();

  // Workers started and not yet joined, in the whole process: code of this
  // module may still run on them.
  static int Running() noexcept;

 private:
  void Execute();

  TDibGraphic& graphic_;
  std::thread worker_;
  std::thread::id starter_;
  std::atomic<bool> cancel_{false};
  std::atomic<bool> finished_{false};
  bool failed_ = false;
  bool delivered_ = false;
  TLogPalette result_{};
  void* notifier_ = nullptr;  // the platform's delivery target
};

// Creates and resumes the quantizer of Graphic.
std::unique_ptr<TQuantizeThread> StartQuantizeThread(TDibGraphic& graphic);

// The platform's part of the hand-over.
namespace quantize_platform {
void* CreateNotifier(TQuantizeThread* thread);  // on the starting thread
void Notify(void* notifier);                    // on the worker
void DestroyNotifier(void* notifier);           // on the starting thread
// On the starting thread: the platform's own form of the palette.
void GivePalette(TDibGraphic& graphic, const TLogPalette& palette);
}  // namespace quantize_platform

}  // namespace lumetra
