#include "formats/buffered_stream.h"

#include <algorithm>
#include <cstring>

namespace lumetra {

bool TBufferedReader::Refill() {
  const std::int64_t got = stream_.Read(buffer_.data(), static_cast<std::int64_t>(buffer_.size()));
  next_ = 0;
  filled_ = got > 0 ? static_cast<std::size_t>(got) : 0;
  return filled_ > 0;
}

std::size_t TBufferedReader::Read(std::uint8_t* dest, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    if (next_ == filled_ && !Refill()) break;
    const std::size_t n = std::min(count - done, filled_ - next_);
    std::memcpy(dest + done, buffer_.data() + next_, n);
    next_ += n;
    done += n;
  }
  return done;
}

void TBufferedWriter::Write(const void* data, std::size_t count) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  if (buffer_.size() + count < blockSize_) {
    buffer_.insert(buffer_.end(), bytes, bytes + count);
    return;
  }
  Flush();
  stream_.WriteBuffer(bytes, static_cast<std::int64_t>(count));
}

void TBufferedWriter::Flush() {
  if (buffer_.empty()) return;
  stream_.WriteBuffer(buffer_.data(), static_cast<std::int64_t>(buffer_.size()));
  buffer_.clear();
}

}  // namespace lumetra
