// TQuantizeThread: gives a true-colour image a 256-colour display palette
// without holding up the UI thread. A worker std::thread runs the quantizer
// over the image's pixels; the result is handed to the image on the UI
// thread (on Win32 through a message to a hidden window created by the
// thread that started it), which stores the logical palette, creates the GDI
// palette and raises the image's change notification so views repaint.
#pragma once

#include <atomic>
#include <thread>

#include "imaging/dib_graphic.h"

namespace lumetra {

class TQuantizeThread {
 public:
  // Created suspended: nothing runs until Resume.
  explicit TQuantizeThread(TDibGraphic& graphic);
  // Stops the worker (it gives up at its next progress step) and joins it.
  ~TQuantizeThread();
  TQuantizeThread(const TQuantizeThread&) = delete;
  TQuantizeThread& operator=(const TQuantizeThread&) = delete;

  void Resume();
  // The worker has stored its palette (or given up).
  bool Finished() const { return finished_.load(std::memory_order_acquire); }
  // On the UI thread: when the worker has finished, hands its palette to the
  // image and answers true; the image's OnChange runs here.
  bool Deliver();
  const TLogPalette& Result() const { return result_; }
  TDibGraphic& Graphic() const { return graphic_; }

  // Starts the quantizer of a true-colour Graphic unless one is already
  // running for it: created, resumed and freed after its delivery. (Once
  // delivered, the image has a palette handle and Draw asks no more.)
  static void Start(TDibGraphic& graphic);
  // Stops and frees the thread working for Graphic, if any; an image calls
  // this before it changes or frees its pixels.
  static void Cancel(const TDibGraphic& graphic);
  // Delivers every finished thread started by Start on the calling thread
  // and frees it; for hosts without a message loop. Answers how many.
  static int DeliverFinished();
  static bool Running(const TDibGraphic& graphic);

 private:
  void Execute();
  // Called on the UI thread by the platform's notification: deliver, then
  // free a thread that Start created.
  friend void DeliverQuantizeResult(TQuantizeThread* thread);

  TDibGraphic& graphic_;
  std::thread worker_;
  std::atomic<bool> cancel_{false};
  std::atomic<bool> finished_{false};
  bool failed_ = false;
  bool delivered_ = false;
  TLogPalette result_{};
  void* notifier_ = nullptr;  // the platform's delivery target
};

// Starts the quantizer of a true-colour image that is drawn on a palette
// device and has no palette handle yet.
void StartQuantizeThread(TDibGraphic& graphic);

// The platform's part of the hand-over.
namespace quantize_platform {
void* CreateNotifier(TQuantizeThread* thread);  // on the starting (UI) thread
void Notify(void* notifier);                    // on the worker
void DestroyNotifier(void* notifier);
void StorePalette(TDibGraphic& graphic, const TLogPalette& palette);
}  // namespace quantize_platform

}  // namespace lumetra
