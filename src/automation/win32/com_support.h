// Small helpers at the COM boundary: module identity and counts, BSTR and
// string conversion, and the error convention every member follows.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>

namespace quorvex::automation {

// The server module (set when the library is loaded).
HMODULE ServerModule() noexcept;
void SetServerModule(HMODULE module) noexcept;
std::wstring ServerModulePath();

// Live objects and factory locks; DllCanUnloadNow reports their sum.
void ObjectCreated() noexcept;
void ObjectDestroyed() noexcept;
void ServerLocked() noexcept;
void ServerUnlocked() noexcept;
bool ServerInUse() noexcept;

// Automation strings are 8-bit strings in the system code page inside.
std::string FromBstr(BSTR value);
[[nodiscard]] HRESULT ToBstr(const std::string& value, BSTR* result) noexcept;
std::wstring Widen(const std::string& text, UINT codePage = CP_ACP);
std::string Narrow(const std::wstring& text, UINT codePage = CP_ACP);

// Sets the thread's error information (description, source, interface) and
// returns E_UNEXPECTED.
HRESULT ReportError(const std::string& message, REFGUID interfaceId) noexcept;

// Runs a member's work; any exception becomes E_UNEXPECTED with its message.
template <class F>
HRESULT GuardMember(REFGUID interfaceId, F&& work) noexcept {
  try {
    work();
    return S_OK;
  } catch (const std::exception& error) {
    return ReportError(error.what(), interfaceId);
  } catch (...) {
    return ReportError("Unknown error", interfaceId);
  }
}

inline constexpr const char* kProgId = "Quorvex.Scanner";

}  // namespace quorvex::automation
