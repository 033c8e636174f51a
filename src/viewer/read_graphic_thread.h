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
#include <vector>

#include "imaging/dib_graphic.h"

namespace lumetra {

class TReadAheadSlot {
 public:
  // Empties the slot and answers the ticket of the read that may fill it.
  std::uint64_t Restart();
  // Stores Image, and what its codec warned of, if Ticket is still the
  // latest; answers whether it did.
  bool Store(std::uint64_t ticket, const std::string& fileName, std::unique_ptr<TDibGraphic> image,
             std::vector<std::string> warnings = {});
  // Takes the image read for FileName (compared without case), or null;
  // Warnings then holds what its codec warned of.
  std::unique_ptr<TDibGraphic> Take(const std::string& fileName,
                                    std::vector<std::string>* warnings = nullptr);
  // Drops the image and makes every running read superseded.
  void Clear();
  bool Holds() const;

 private:
  mutable std::mutex mutex_;
  std::uint64_t ticket_ = 0;
  std::string fileName_;
  std::unique_ptr<TDibGraphic> image_;
  std::vector<std::string> warnings_;
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
  // The codec's warnings are collected in Warnings, for the viewer to report
  // on its own thread: a worker never shows anything.
  static std::unique_ptr<TDibGraphic> Read(const std::string& fileName,
                                           std::vector<std::string>& warnings) noexcept;
};

}  // namespace lumetra
