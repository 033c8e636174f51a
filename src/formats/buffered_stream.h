// Byte-at-a-time access to a stream through a block buffer, for the codecs
// that walk their files byte by byte (run-length data, text headers).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/streams.h"

namespace lumetra {

class TBufferedReader {
 public:
  explicit TBufferedReader(TStream& stream, std::size_t blockSize = 4096)
      : stream_(stream), buffer_(blockSize) {}

  // The next byte, or -1 at the end of the stream.
  int Get() {
    if (next_ == filled_ && !Refill()) return -1;
    return buffer_[next_++];
  }
  // Up to Count bytes; answers how many there were.
  std::size_t Read(std::uint8_t* dest, std::size_t count);

 private:
  bool Refill();

  TStream& stream_;
  std::vector<std::uint8_t> buffer_;
  std::size_t next_ = 0;
  std::size_t filled_ = 0;
};

// Collects bytes and writes them in blocks; Flush writes the rest (raising
// EWriteError "Stream write error" when the stream takes less).
class TBufferedWriter {
 public:
  explicit TBufferedWriter(TStream& stream, std::size_t blockSize = 4096)
      : stream_(stream), blockSize_(blockSize) {
    buffer_.reserve(blockSize);
  }

  void Put(std::uint8_t byte) {
    buffer_.push_back(byte);
    if (buffer_.size() >= blockSize_) Flush();
  }
  void Write(const void* data, std::size_t count);
  void Flush();

 private:
  TStream& stream_;
  std::size_t blockSize_;
  std::vector<std::uint8_t> buffer_;
};

}  // namespace lumetra
