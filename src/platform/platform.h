// What the portable core needs from the operating system. Each function has a
// Win32 implementation (the real API) and a POSIX one (for the native build).
#pragma once

#include <cstdint>
#include <string>

namespace lumetra::platform {

// Pixels per logical inch of the screen, horizontally and vertically.
int ScreenDpiX();
int ScreenDpiY();
// True when the screen is a palette device (8 bits or fewer per pixel).
bool IsPaletteDevice();

// The directory for temporary files, ending in the path delimiter. Raises
// Exception "LuMisc.CreateTempFile.GetTempPath failed" when it cannot be had.
std::string TempDirectory();
char PathDelimiter();

bool FileExists(const std::string& fileName);
bool RemoveFile(const std::string& fileName);
// Renames Source to Dest in one step, replacing a Dest that exists; a reader
// of Dest sees the old file or the new one, never a mixture.
bool MoveFileOver(const std::string& source, const std::string& dest);

// The folder of the module (DLL or program) that holds this code, ending in
// the path delimiter; empty when it cannot be had.
std::string ModuleDirectory();

// Starts CommandLine (a Windows command line; on POSIX it is run by /bin/sh)
// with its window shown or hidden, waits for it without a time-out, and
// answers whether its exit code could be read.
bool RunAndWait(const std::string& commandLine, bool visible, std::uint32_t& exitCode);

// Switches the screen cursor between the hourglass and the default arrow.
void ShowBusyCursor(bool busy);

// The system's text for the last error code of the calling thread, or an
// empty string when there is none.
std::string LastErrorText();
// Whether the last error of the calling thread says the disk is full.
bool LastErrorIsDiskFull();

// A plain file handle for TFileStream.
class File {
 public:
  enum class Access { Read, Write, ReadWrite, Create };
  File() = default;
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Answers false and leaves LastErrorText set when the file cannot be opened.
  bool Open(const std::string& fileName, Access access, bool denyWrite);
  std::int64_t Read(void* buffer, std::int64_t count);
  std::int64_t Write(const void* buffer, std::int64_t count);
  std::int64_t Seek(std::int64_t offset, int origin);
  bool Truncate();  // at the current position
  void Close();
  bool IsOpen() const;

 private:
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
};

}  // namespace lumetra::platform
