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

std::int64_t TFileStream::Read(void* buffer, std::int64_t count) {
  return count <= 0 ? 0 : handle_->file.Read(buffer, count);
}

std::int64_t TFileStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  const std::int64_t done = handle_->file.Write(buffer, count);
  // A short count would reach the user as a bare "Stream write error" or a
  // codec's complaint: say which file and what the system said.
  if (done < count) {
    const std::string reason = platform::LastErrorIsDiskFull()
                                   ? "disk full (" + platform::LastErrorText() + ")"
                                   : platform::LastErrorText();
    throw EWriteError(Format("Cannot write file \"%s\": %s", fileName_, reason));
  }
  return done;
}

std::int64_t TFileStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  return handle_->file.Seek(offset, origin);
}

void TFileStream::SetSize(std::int64_t newSize) {
  const std::int64_t position = Position();
  Seek(newSize, soBeginning);
  if (!handle_->file.Truncate())
    throw EStreamError(Format("Cannot set the size of file \"%s\"", fileName_));
  Seek(position < newSize ? position : newSize, soBeginning);
}

}  // namespace lumetra
