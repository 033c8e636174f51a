#include <algorithm>
#include <cstring>

#include "base/exception.h"
#include "base/format.h"
#include "base/streams.h"
#include "platform/platform.h"

namespace lumetra {

struct TFileStream::Handle {
  platform::File file;
};

TFileStream::TFileStream(const std::string& fileName, std::uint16_t mode)
    : fileName_(fileName), handle_(std::make_unique<Handle>()) {
  using Access = platform::File::Access;
  if (mode == fmCreate) {
    if (!handle_->file.Open(fileName, Access::Create, true))
      throw EFCreateError(
          Format("Cannot create file \"%s\". %s", fileName, platform::LastErrorText()));
    return;
  }
  const std::uint16_t accessBits = mode & 0x0003;
  const Access access = accessBits == fmOpenWrite       ? Access::Write
                        : accessBits == fmOpenReadWrite ? Access::ReadWrite
                                                        : Access::Read;
  const bool denyWrite = (mode & 0x00F0) == fmShareDenyWrite;
  if (!handle_->file.Open(fileName, access, denyWrite))
    throw EFOpenError(Format("Cannot open file \"%s\". %s", fileName, platform::LastErrorText()));
}

TFileStream::~TFileStream() = default;

void TFileStream::Settle() {
  blockLength_ = 0;
  if (filePointer_ == position_) return;
  const std::int64_t at = handle_->file.Seek(position_, soBeginning);
  filePointer_ = at;
  if (at != position_) throw EStreamError(Format("Cannot seek in file \"%s\"", fileName_));
}

std::int64_t TFileStream::Read(void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::int64_t done = 0;
  // What the block holds at the position first.
  if (position_ >= blockStart_ && position_ < blockStart_ + blockLength_) {
    done = std::min(count, blockStart_ + blockLength_ - position_);
    std::memcpy(out, block_.data() + (position_ - blockStart_), static_cast<std::size_t>(done));
    position_ += done;
    if (done == count) return done;
  }
  Settle();
  if (count - done >= kReadBlock) {
    const std::int64_t n = std::max<std::int64_t>(handle_->file.Read(out + done, count - done), 0);
    position_ += n;
    filePointer_ = position_;
    return done + n;
  }
  if (block_.empty()) block_.resize(static_cast<std::size_t>(kReadBlock));
  const std::int64_t got = std::max<std::int64_t>(handle_->file.Read(block_.data(), kReadBlock), 0);
  blockStart_ = position_;
  blockLength_ = got;
  filePointer_ = position_ + got;
  const std::int64_t n = std::min(count - done, got);
  std::memcpy(out + done, block_.data(), static_cast<std::size_t>(n));
  position_ += n;
  return done + n;
}

std::int64_t TFileStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  Settle();
  const std::int64_t done = std::max<std::int64_t>(handle_->file.Write(buffer, count), 0);
  position_ += done;
  filePointer_ = position_;
  // A short count would reach the user as a bare "Stream write error" or a
  // codec's complaint: say which file and what the system said.
  if (done < count) {
    const std::string reason = platform::LastErrorIsDiskFull()
                                   ? "disk full (" + platform::LastErrorText() + ")"
                                   : platform::LastErrorText();
    filePointer_ = handle_->file.Seek(0, soCurrent);
    throw EWriteError(Format("Cannot write file \"%s\": %s", fileName_, reason));
  }
  return done;
}

std::int64_t TFileStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  if (origin == soCurrent) {
    offset += position_;
    origin = soBeginning;
  }
  if (origin == soBeginning && blockLength_ > 0 && offset >= blockStart_ &&
      offset <= blockStart_ + blockLength_) {
    position_ = offset;  // inside the block: the file pointer stays where it is
    return position_;
  }
  const std::int64_t result = handle_->file.Seek(offset, origin);
  if (result < 0) return result;  // the file pointer did not move
  position_ = filePointer_ = result;
  return result;
}

std::int64_t TFileStream::Size() {
  const std::int64_t size = handle_->file.Seek(0, soEnd);
  filePointer_ = handle_->file.Seek(filePointer_ < 0 ? 0 : filePointer_, soBeginning);
  return size;
}

void TFileStream::SetSize(std::int64_t newSize) {
  const std::int64_t position = Position();
  blockLength_ = 0;
  Seek(newSize, soBeginning);
  if (!handle_->file.Truncate())
    throw EStreamError(Format("Cannot set the size of file \"%s\"", fileName_));
  Seek(position < newSize ? position : newSize, soBeginning);
}

}  // namespace lumetra
