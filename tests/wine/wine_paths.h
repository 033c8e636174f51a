// Paths of the build's products as a program under Wine sees them.
#pragma once

#include <windows.h>

#include <filesystem>
#include <string>

namespace quorvex::testing_support {

// A Unix path of the build tree, on Wine's Z: drive.
inline std::wstring WinePath(const char* unixPath) {
  std::wstring path = L"Z:";
  for (const char* p = unixPath; *p; ++p) path += *p == '/' ? L'\\' : static_cast<wchar_t>(*p);
  return path;
}

// Windows' own programs (regsvr32, cscript) of this program's bitness: the
// 32-bit ones live in syswow64 on a 64-bit system.
inline std::wstring HostSystemFolder() {
  wchar_t windows[MAX_PATH];
  GetWindowsDirectoryW(windows, MAX_PATH);
  return std::wstring(windows) + (sizeof(void*) == 8 ? L"\\system32" : L"\\syswow64");
}

// Runs regsvr32 /s with Arguments, from Folder (Windows' own of this
// program's bitness by default), and answers its exit code: 0xFFFFFFFF when
// it could not start or did not finish within a minute.
inline DWORD RunRegsvr32(const std::wstring& arguments,
                         const std::wstring& folder = HostSystemFolder()) {
  std::wstring command = L"\"" + folder + L"\\regsvr32.exe\" /s " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process))
    return 0xFFFFFFFF;
  DWORD code = 0xFFFFFFFF;
  if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0)
    GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return code;
}

// Where Wine's TWAIN manager of this program's bitness finds its sources.
inline const char* TwainSourceFolder() {
  return sizeof(void*) == 8 ? "C:\\windows\\twain_64" : "C:\\windows\\twain_32";
}

// The description of the calling thread's error information, as a host
// reads it after a failed call.
inline std::wstring ErrorDescription() {
  IErrorInfo* info = nullptr;
  std::wstring text;
  if (GetErrorInfo(0, &info) == S_OK && info) {
    BSTR description = nullptr;
    info->GetDescription(&description);
    text = description ? description : L"";
    SysFreeString(description);
    info->Release();
  }
  return text;
}

// A folder Name in Wine's temporary folder, made if missing; Empty removes
// what an earlier run left in it first.
inline std::string TempFolder(const char* name, bool empty = false) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string dir = std::string(temp) + name;
  if (empty) {
    std::error_code error;
    std::filesystem::remove_all(dir, error);
  }
  CreateDirectoryA(dir.c_str(), nullptr);
  return dir;
}

inline std::string HrText(HRESULT hr) {
  char text[16];
  wsprintfA(text, "hr %#lx", static_cast<unsigned long>(hr));
  return text;
}

}  // namespace quorvex::testing_support
