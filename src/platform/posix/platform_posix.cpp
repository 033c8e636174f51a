#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/exception.h"
#include "platform/platform.h"

extern char** environ;

namespace lumetra::platform {

namespace {
thread_local int lastError = 0;
}

int ScreenDpiX() { return 96; }
int ScreenDpiY() { return 96; }
bool IsPaletteDevice() { return false; }

char PathDelimiter() { return '/'; }

std::string TempDirectory() {
  const char* dir = std::getenv("TMPDIR");
  std::string path = dir && *dir ? dir : "/tmp";
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    throw Exception("LuMisc.CreateTempFile.GetTempPath failed");
  if (path.back() != '/') path += '/';
  return path;
}

bool FileExists(const std::string& fileName) {
  struct stat st {};
  return ::stat(fileName.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool RemoveFile(const std::string& fileName) {
  if (::unlink(fileName.c_str()) == 0) return true;
  lastError = errno;
  return false;
}

bool MoveFileOver(const std::string& source, const std::string& dest) {
  if (::rename(source.c_str(), dest.c_str()) == 0) return true;
  lastError = errno;
  return false;
}

std::string ModuleDirectory() {
  char buffer[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer);
  if (n <= 0 || n >= static_cast<ssize_t>(sizeof buffer)) return {};
  const std::string path(buffer, static_cast<std::size_t>(n));
  return path.substr(0, path.rfind('/') + 1);
}

bool RunAndWait(const std::string& commandLine, bool /*visible*/, std::uint32_t& exitCode) {
  pid_t pid = 0;
  const char* argv[] = {"/bin/sh", "-c", commandLine.c_str(), nullptr};
  if (::posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
    return false;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  if (!WIFEXITED(status)) return false;
  exitCode = static_cast<std::uint32_t>(WEXITSTATUS(status));
  return true;
}

void ShowBusyCursor(bool) {}

bool LastErrorIsDiskFull() {
  return lastError == ENOSPC || lastError == EDQUOT;
}

std::string LastErrorText() {
  return lastError ? std::strerror(lastError) : std::string();
}

File::~File() { Close(); }

bool File::Open(const std::string& fileName, Access access, bool /*denyWrite*/) {
  Close();
  int flags = O_RDONLY;
  switch (access) {
    case Access::Read: flags = O_RDONLY; break;
    case Access::Write: flags = O_WRONLY; break;
    case Access::ReadWrite: flags = O_RDWR; break;
    case Access::Create: flags = O_RDWR | O_CREAT | O_TRUNC; break;
  }
  fd_ = ::open(fileName.c_str(), flags | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    lastError = errno;
    return false;
  }
  struct stat st {};
  if (::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) {
    Close();
    lastError = EISDIR;
    return false;
  }
  return true;
}

std::int64_t File::Read(void* buffer, std::int64_t count) {
  std::int64_t done = 0;
  auto* p = static_cast<char*>(buffer);
  while (done < count) {
    const ssize_t n = ::read(fd_, p + done, static_cast<size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += n;
  }
  return done;
}

std::int64_t File::Write(const void* buffer, std::int64_t count) {
  std::int64_t done = 0;
  const auto* p = static_cast<const char*>(buffer);
  while (done < count) {
    const ssize_t n = ::write(fd_, p + done, static_cast<size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      lastError = errno;
      break;
    }
    done += n;
  }
  return done;
}

std::int64_t File::Seek(std::int64_t offset, int origin) {
  const int whence = origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : SEEK_END;
  const off_t r = ::lseek(fd_, static_cast<off_t>(offset), whence);
  return r < 0 ? -1 : static_cast<std::int64_t>(r);
}

bool File::Truncate() {
  const off_t here = ::lseek(fd_, 0, SEEK_CUR);
  return here >= 0 && ::ftruncate(fd_, here) == 0;
}

void File::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool File::IsOpen() const { return fd_ >= 0; }

}  // namespace lumetra::platform
