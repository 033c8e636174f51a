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

// Runs Call(Context) with a frame-based handler around it. A structured
// exception that nothing inside handles (an access violation in the
// converter, libtiff or a transform) leaves the call at once (without
// running its destructors on i386; x64 unwinds through them), and is
// described in Fault; the answer is then false. Breakpoints, debug output and other continuable codes pass by.
bool RunShielded(void (*call)(void*), void* context, std::string& fault) noexcept;

// Runs a member's work; any exception, and any structured exception too,
// becomes E_UNEXPECTED with its message: the host process never ends
// because of a member.
template <class F>
HRESULT GuardMember(REFGUID interfaceId, F&& work) noexcept {
  struct TCall {
    F& work;
    bool failed;
    std::string message;
  } call{work, false, {}};
  std::string fault;
  const bool completed = RunShielded(
      [](void* context) {
        auto& c = *static_cast<TCall*>(context);
        try {
          c.work();
        } catch (const std::exception& error) {
          c.failed = true;
          c.message = error.what();
        } catch (...) {
          c.failed = true;
          c.message = "Unknown error";
        }
      },
      &call, fault);
  if (!completed) return ReportError(fault, interfaceId);
  if (call.failed) return ReportError(call.message, interfaceId);
  return S_OK;
}

inline constexpr const char* kProgId = "Quorvex.Scanner";

}  // namespace quorvex::automation
