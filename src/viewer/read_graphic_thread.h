// TReadGraphicThread: reads page 1 of the next file into an image object of
// its own at the lowest priority and hands it to the viewer through a slot.
// The slot is shared (the viewer may go before a read ends) and guarded by
// a mutex; each read carries a ticket, and only the read of the latest
// ticket may fill the slot, so a superseded read never replaces a newer one.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "imaging/dib_graphic.h"

namespace lumetra {

class TReadAheadSlot {
 public:
  // Empties the slot and answers the ticket of the read that may fill it.
  std::uint64_t Restart();
  // Stores Image if Ticket is still the latest; answers whether it did.
  bool Store(std::uint64_t ticket, const std::string& fileName, std::unique_ptr<TDibGraphic> image);
  // Takes the image read for FileName (compared without case), or null.
  std::unique_ptr<TDibGraphic> Take(const std::string& fileName);
  // Drops the image and makes every running read superseded.
  void Clear();
  bool Holds() const;

 private:
  mutable std::mutex mutex_;
  std::uint64_t ticket_ = 0;
  std::string fileName_;
  std::unique_ptr<TDibGraphic> image_;
};

class TReadGraphicThread {
 public:
  // Starts the read of FileName into Slot; the thread frees itself when it
  // ends. Errors of the read end the thread and leave the slot empty.
  static void Start(const std::string& fileName, std::shared_ptr<TReadAheadSlot> slot);
  // Reads still running in the process; each also holds a reference to the
  // module that contains this code, so it is not unloaded under them.
  static int Running() noexcept;
  // The reading itself, run on the worker: answers the loaded image or null.
  static std::unique_ptr<TDibGraphic> Read(const std::string& fileName) noexcept;
};

}  // namespace lumetra
