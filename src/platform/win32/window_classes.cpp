#include "platform/win32/window_classes.h"

#include <mutex>
#include <set>
#include <string>

namespace lumetra::win32 {

namespace {

struct Classes {
  std::mutex lock;
  std::set<std::string> names;
};
Classes& Registered() {
  static Classes classes;
  return classes;
}

}  // namespace

HMODULE OwnModule() noexcept {
  HMODULE module = nullptr;
  if (!::GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCSTR>(&OwnModule), &module))
    return ::GetModuleHandleA(nullptr);
  return module;
}

bool RequireWindowClass(WNDCLASSEXA windowClass) noexcept {
  windowClass.cbSize = sizeof windowClass;
  windowClass.hInstance = OwnModule();
  Classes& classes = Registered();
  try {
    std::lock_guard<std::mutex> guard(classes.lock);
    WNDCLASSEXA existing{};
    existing.cbSize = sizeof existing;
    if (::GetClassInfoExA(windowClass.hInstance, windowClass.lpszClassName, &existing)) {
      return true;
    }
    if (!::RegisterClassExA(&windowClass)) return false;
    classes.names.insert(windowClass.lpszClassName);
    return true;
  } catch (...) {
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
}

void UnregisterWindowClasses() noexcept {
  Classes& classes = Registered();
  std::lock_guard<std::mutex> guard(classes.lock);
  for (const std::string& name : classes.names) ::UnregisterClassA(name.c_str(), OwnModule());
  classes.names.clear();
}

}  // namespace lumetra::win32
