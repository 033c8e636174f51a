// TQuantizeThread: gives a true-colour image a 256-colour display palette
// without holding up the UI thread. A worker std::thread runs the quantizer
// over the image's pixels and hands the GDI palette to the image atomically;
// the logical palette and the change notification reach the image on the
// thread that started the worker (on Win32 through a message to a hidden
// window that thread owns), so views repaint there.
//
// The image owns its quantizer (TDibGraphic::QuantizerStarter returns it)
// and destroys it before its pixels go; destruction stops and joins the
// worker.
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
  // On the starting thread, once the worker has finished: stores the
  // logical palette in the image and raises its OnChange. Answers whether
  // the result has now been delivered (false while the worker runs).
  bool Deliver();
  bool Delivered() const { return delivered_; }
  const TLogPalette& Result() const { return result_; }
  TDibGraphic& Graphic() const { return graphic_; }

  // Delivers every finished, undelivered quantizer on the calling thread;
  // for hosts without a message loop. Answers how many.
  static int DeliverFinished();

 private:
  void Execute();

  TDibGraphic& graphic_;
  std::thread worker_;
  std::atomic<bool> cancel_{false};
  std::atomic<bool> finished_{false};
  bool failed_ = false;
  bool delivered_ = false;
  TLogPalette result_{};
  void* notifier_ = nullptr;  // the platform's delivery target
};

// Creates and resumes the quantizer of Graphic.
std::unique_ptr<TQuantizeThread> StartQuantizeThread(TDibGraphic& graphic);
// Installs StartQuantizeThread as TDibGraphic::QuantizerStarter, so that
// drawing a true-colour image on a palette device starts its quantizer.
// Called once at library initialisation.
void InstallQuantizeThread();

// The platform's part of the hand-over.
namespace quantize_platform {
void* CreateNotifier(TQuantizeThread* thread);  // on the starting thread
void Notify(void* notifier);                    // on the worker
void DestroyNotifier(void* notifier);
// On the worker: the GDI palette, handed to the image atomically.
void HandOverPalette(TDibGraphic& graphic, const TLogPalette& palette);
}  // namespace quantize_platform

}  // namespace lumetra
