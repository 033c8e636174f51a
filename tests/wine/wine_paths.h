// Paths of the build's products as a program under Wine sees them.
#pragma once

#include <windows.h>

#include <string>

namespace quorvex::testing_support {

// A Unix path of the build tree, on Wine's Z: drive.
inline std::wstring WinePath(const char* unixPath) {
  std::wstring path = L"Z:";
  for (const char* p = unixPath; *p; ++p) path += *p == '/' ? L'\\' : static_cast<wchar_t>(*p);
  return path;
}

inline std::string HrText(HRESULT hr) {
  char text[16];
  wsprintfA(text, "hr %#lx", static_cast<unsigned long>(hr));
  return text;
}

}  // namespace quorvex::testing_support
