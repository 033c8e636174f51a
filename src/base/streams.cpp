#include "base/streams.h"

#include <algorithm>
#include <cstring>

#include "base/exception.h"

namespace lumetra {

std::int64_t TStream::Size() {
  const std::int64_t position = Seek(0, soCurrent);
  const std::int64_t size = Seek(0, soEnd);
  Seek(position, soBeginning);
  return size;
}

void TStream::ReadBuffer(void* buffer, std::int64_t count) {
  if (count != 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, std::int64_t count) {
  if (count != 0 && Write(buffer, count) != count) throw EWriteError("Stream write error");
}

std::int64_t TStream::CopyFrom(TStream& source, std::int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  const std::int64_t total = count;
  constexpr std::int64_t kChunk = 1 << 16;
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min(count, kChunk)));
  while (count > 0) {
    const std::int64_t n = std::min(count, kChunk);
    source.ReadBuffer(buffer.data(), n);
    WriteBuffer(buffer.data(), n);
    count -= n;
  }
  return total;
}

// --- TMemoryStream ---------------------------------------------------------

void TMemoryStream::Reserve(std::int64_t capacity) {
  if (capacity <= static_cast<std::int64_t>(data_.size())) return;
  // Grow geometrically so that appending row by row stays linear.
  std::int64_t grown = std::max<std::int64_t>(capacity, static_cast<std::int64_t>(data_.size()) * 3 / 2);
  try {
    data_.resize(static_cast<std::size_t>((grown + 8191) & ~std::int64_t{8191}));
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory("Out of memory while expanding memory stream");
  } catch (const std::length_error&) {
    throw EOutOfMemory("Out of memory while expanding memory stream");
  }
}

std::int64_t TMemoryStream::Read(void* buffer, std::int64_t count) {
  if (count <= 0 || position_ >= size_) return 0;
  const std::int64_t n = std::min(count, size_ - position_);
  std::memcpy(buffer, data_.data() + position_, static_cast<std::size_t>(n));
  position_ += n;
  return n;
}

std::int64_t TMemoryStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0 || position_ < 0) return 0;
  const std::int64_t end = position_ + count;
  if (end > size_) {
    Reserve(end);
    if (position_ > size_)
      std::memset(data_.data() + size_, 0, static_cast<std::size_t>(position_ - size_));
    size_ = end;
  }
  std::memcpy(data_.data() + position_, buffer, static_cast<std::size_t>(count));
  position_ = end;
  return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  switch (origin) {
    case soBeginning: position_ = offset; break;
    case soCurrent: position_ += offset; break;
    case soEnd: position_ = size_ + offset; break;
  }
  return position_;
}

void TMemoryStream::SetSize(std::int64_t newSize) {
  if (newSize < 0) newSize = 0;
  const std::int64_t old = size_;
  Reserve(newSize);
  if (newSize > old) std::memset(data_.data() + old, 0, static_cast<std::size_t>(newSize - old));
  size_ = newSize;
  if (position_ > newSize) position_ = newSize;
}

void TMemoryStream::Clear() {
  data_.clear();
  data_.shrink_to_fit();
  size_ = 0;
  position_ = 0;
}

void TMemoryStream::LoadFromStream(TStream& source) {
  source.SetPosition(0);
  const std::int64_t count = source.Size();
  SetSize(count);
  if (count != 0) source.ReadBuffer(data_.data(), count);
  position_ = 0;
}

void TMemoryStream::SaveToStream(TStream& dest) {
  dest.WriteBuffer(data_.data(), size_);
}

void TMemoryStream::LoadFromFile(const std::string& fileName) {
  TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(file);
}

void TMemoryStream::SaveToFile(const std::string& fileName) {
  SaveFileReplacing(fileName, [this](TStream& file) { SaveToStream(file); });
}

}  // namespace lumetra
