#include <atomic>

#include "base/exception.h"
#include "base/format.h"
#include "base/streams.h"
#include "platform/platform.h"

namespace lumetra {
namespace {

// A name beside FileName that no other file has; beside it, so the final
// rename stays on one volume and cannot turn into a copy.
std::string FreeNameBeside(const std::string& fileName) {
  static std::atomic<unsigned> counter{0};
  for (;;) {
    const std::string name = Format("%s.~qv%u.tmp", fileName, counter++);
    if (!platform::FileExists(name)) return name;
  }
}

}  // namespace

void SaveFileReplacing(const std::string& fileName, const std::function<void(TStream&)>& write) {
  const std::string temporary = FreeNameBeside(fileName);
  try {
    {
      TFileStream stream(temporary, fmCreate);
      write(stream);
    }
    if (!platform::MoveFileOver(temporary, fileName))
      throw EWriteError(
          Format("Cannot replace file \"%s\". %s", fileName, platform::LastErrorText()));
  } catch (...) {
    platform::RemoveFile(temporary);
    throw;
  }
}

}  // namespace lumetra
