#include <windows.h>

#include "base/exception.h"
#include "platform/platform.h"
#include "platform/win32/owners.h"
#include "platform/win32/window_classes.h"

namespace lumetra::platform {

namespace {

int ScreenCaps(int index) {
  win32::window_dc screen(nullptr);
  return screen ? ::GetDeviceCaps(screen.get(), index) : 96;
}

}  // namespace

int ScreenDpiX() { return ScreenCaps(LOGPIXELSX); }
int ScreenDpiY() { return ScreenCaps(LOGPIXELSY); }
bool IsPaletteDevice() { return (ScreenCaps(RASTERCAPS) & RC_PALETTE) != 0; }

char PathDelimiter() { return '\\'; }

std::string TempDirectory() {
  char buffer[MAX_PATH + 1];
  const DWORD n = ::GetTempPathA(sizeof buffer, buffer);
  if (n == 0 || n > MAX_PATH) throw Exception("LuMisc.CreateTempFile.GetTempPath failed");
  std::string path(buffer, n);
  if (path.back() != '\\' && path.back() != ':') path += '\\';
  return path;
}

bool FileExists(const std::string& fileName) {
  const DWORD attributes = ::GetFileAttributesA(fileName.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool RemoveFile(const std::string& fileName) {
  return ::DeleteFileA(fileName.c_str()) != FALSE;
}

bool MoveFileOver(const std::string& source, const std::string& dest) {
  return ::MoveFileExA(source.c_str(), dest.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

std::string ModuleDirectory() {
  const HMODULE module = win32::OwnModule();
  char buffer[MAX_PATH + 1];
  const DWORD n = ::GetModuleFileNameA(module, buffer, sizeof buffer);
  if (n == 0 || n >= sizeof buffer) return {};
  std::string path(buffer, n);
  return path.substr(0, path.find_last_of("\\/") + 1);
}

bool RunAndWait(const std::string& commandLine, bool visible, std::uint32_t& exitCode) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = visible ? SW_SHOWNORMAL : SW_HIDE;
  std::string mutableLine = commandLine;  // CreateProcess may write into it
  PROCESS_INFORMATION info{};
  if (!::CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info))
    return false;
  const win32::unique_kernel_handle process(info.hProcess), thread(info.hThread);
  ::WaitForSingleObject(process.get(), INFINITE);
  DWORD code = 0;
  if (!::GetExitCodeProcess(process.get(), &code)) return false;
  exitCode = code;
  return true;
}

void ShowBusyCursor(bool busy) {
  ::SetCursor(::LoadCursor(nullptr, busy ? IDC_WAIT : IDC_ARROW));
}

bool LastErrorIsDiskFull() {
  const DWORD code = ::GetLastError();
  return code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL;
}

std::string LastErrorText() {
  const DWORD code = ::GetLastError();
  if (code == 0) return {};
  char* text = nullptr;
  const DWORD n = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text),
      0, nullptr);
  std::string result;
  if (n && text) {
    result.assign(text, n);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' ||
                               result.back() == ' ' || result.back() == '.'))
      result.pop_back();
  }
  if (text) ::LocalFree(text);
  return result;
}

File::~File() { Close(); }

bool File::Open(const std::string& fileName, Access access, bool denyWrite) {
  Close();
  DWORD desired = GENERIC_READ, disposition = OPEN_EXISTING;
  switch (access) {
    case Access::Read: desired = GENERIC_READ; break;
    case Access::Write: desired = GENERIC_WRITE; break;
    case Access::ReadWrite: desired = GENERIC_READ | GENERIC_WRITE; break;
    case Access::Create:
      desired = GENERIC_READ | GENERIC_WRITE;
      disposition = CREATE_ALWAYS;
      break;
  }
  const DWORD share = denyWrite ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE;
  HANDLE h = ::CreateFileA(fileName.c_str(), desired, share, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  handle_ = h;
  return true;
}

std::int64_t File::Read(void* buffer, std::int64_t count) {
  std::int64_t done = 0;
  auto* p = static_cast<char*>(buffer);
  while (done < count) {
    const DWORD want = static_cast<DWORD>(std::min<std::int64_t>(count - done, 1 << 30));
    DWORD got = 0;
    if (!::ReadFile(handle_, p + done, want, &got, nullptr) || got == 0) break;
    done += got;
  }
  return done;
}

std::int64_t File::Write(const void* buffer, std::int64_t count) {
  std::int64_t done = 0;
  const auto* p = static_cast<const char*>(buffer);
  while (done < count) {
    const DWORD want = static_cast<DWORD>(std::min<std::int64_t>(count - done, 1 << 30));
    DWORD put = 0;
    if (!::WriteFile(handle_, p + done, want, &put, nullptr) || put == 0) break;
    done += put;
  }
  return done;
}

std::int64_t File::Seek(std::int64_t offset, int origin) {
  LARGE_INTEGER distance, result;
  distance.QuadPart = offset;
  const DWORD method = origin == 0 ? FILE_BEGIN : origin == 1 ? FILE_CURRENT : FILE_END;
  if (!::SetFilePointerEx(handle_, distance, &result, method)) return -1;
  return result.QuadPart;
}

bool File::Truncate() { return ::SetEndOfFile(handle_) != FALSE; }

void File::Close() {
  if (handle_) ::CloseHandle(handle_);
  handle_ = nullptr;
}

bool File::IsOpen() const { return handle_ != nullptr; }

}  // namespace lumetra::platform
