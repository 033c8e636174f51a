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
  if (filePointer_ == position_) return;
  const std::int64_t at = handle_->file.Seek(position_, soBeginning);
  filePointer_ = at;
  if (at != position_) throw EStreamError(Format("Cannot seek in file \"%s\"", fileName_));
}

void TFileStream::DropBlocks() {
  blocks_[0].length = blocks_[1].length = 0;
}

std::int64_t TFileStream::Read(void* buffer, std::int64_t count) {
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::int64_t done = 0;
  while (done < count) {
    int which = blocks_[0].Holds(position_) ? 0 : blocks_[1].Holds(position_) ? 1 : -1;
    if (which < 0) {
      Settle();
      if (count - done >= kReadBlock) {
        const std::int64_t n = std::max<std::int64_t>(handle_->file.Read(out + done, count - done), 0);
        position_ += n;
        filePointer_ = position_;
        return done + n;
      }
      // The block not used last is read again.
      which = 1 - lastUsed_;
      TBlock& block = blocks_[which];
      if (block.bytes.empty()) block.bytes.resize(static_cast<std::size_t>(kReadBlock));
      block.start = position_;
      block.length = std::max<std::int64_t>(handle_->file.Read(block.bytes.data(), kReadBlock), 0);
      filePointer_ = position_ + block.length;
      if (block.length == 0) return done;
    }
    const TBlock& block = blocks_[which];
    lastUsed_ = which;
    const std::int64_t n = std::min(count - done, block.start + block.length - position_);
    std::memcpy(out + done, block.bytes.data() + (position_ - block.start), static_cast<std::size_t>(n));
    position_ += n;
    done += n;
  }
  return done;
}

std::int64_t TFileStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  DropBlocks();
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
  for (const TBlock& block : blocks_) {
    if (origin == soBeginning && block.length > 0 && offset >= block.start &&
        offset <= block.start + block.length) {
      position_ = offset;  // inside a block: the file pointer stays where it is
      return position_;
    }
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
  DropBlocks();
  Seek(newSize, soBeginning);
  if (!handle_->file.Truncate())
    throw EStreamError(Format("Cannot set the size of file \"%s\"", fileName_));
  Seek(position < newSize ? position : newSize, soBeginning);
}

}  // namespace lumetra
