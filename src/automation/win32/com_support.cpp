#include "automation/win32/com_support.h"

#include <csetjmp>
#include <cstdio>
#include <new>
#include <stdexcept>
#include <vector>

namespace quorvex::automation {

namespace {
HMODULE serverModule = nullptr;
LONG objectCount = 0;
LONG lockCount = 0;
}  // namespace

HMODULE ServerModule() noexcept { return serverModule; }
void SetServerModule(HMODULE module) noexcept { serverModule = module; }

std::wstring ServerModulePath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        GetModuleFileNameW(serverModule, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) throw std::runtime_error("GetModuleFileName failed");
    if (length < buffer.size()) return std::wstring(buffer.data(), length);
    buffer.resize(buffer.size() * 2);
  }
}

void ObjectCreated() noexcept { InterlockedIncrement(&objectCount); }
void ObjectDestroyed() noexcept { InterlockedDecrement(&objectCount); }
void ServerLocked() noexcept { InterlockedIncrement(&lockCount); }
void ServerUnlocked() noexcept { InterlockedDecrement(&lockCount); }
bool ServerInUse() noexcept {
  return InterlockedCompareExchange(&objectCount, 0, 0) != 0 ||
         InterlockedCompareExchange(&lockCount, 0, 0) != 0;
}

std::wstring Widen(const std::string& text, UINT codePage) {
  if (text.empty()) return {};
  const int length =
      MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) throw std::runtime_error("MultiByteToWideChar failed");
  std::wstring result(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), result.data(),
                      length);
  return result;
}

std::string Narrow(const std::wstring& text, UINT codePage) {
  if (text.empty()) return {};
  const int length = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  if (length <= 0) throw std::runtime_error("WideCharToMultiByte failed");
  std::string result(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), result.data(),
                      length, nullptr, nullptr);
  return result;
}

std::string FromBstr(BSTR value) {
  if (!value) return {};
  return Narrow(std::wstring(value, SysStringLen(value)));
}

HRESULT ToBstr(const std::string& value, BSTR* result) noexcept {
  if (!result) return E_POINTER;
  try {
    const std::wstring wide = Widen(value);
    *result = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    return *result ? S_OK : E_OUTOFMEMORY;
  } catch (...) {
    *result = nullptr;
    return E_OUTOFMEMORY;
  }
}

HRESULT ReportError(const std::string& message, REFGUID interfaceId) noexcept {
  ICreateErrorInfo* create = nullptr;
  if (SUCCEEDED(CreateErrorInfo(&create))) {
    try {
      std::wstring description = Widen(message);
      std::wstring source = Widen(kProgId);
      create->SetDescription(description.data());
      create->SetSource(source.data());
    } catch (...) {
    }
    create->SetGUID(interfaceId);
    IErrorInfo* info = nullptr;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
      SetErrorInfo(0, info);
      info->Release();
    }
    create->Release();
  }
  return E_UNEXPECTED;
}

namespace {

// Lives on the stack, as the system requires of a handler's record; the
// record comes first so the handler finds the rest from it.
struct TShieldFrame {
  EXCEPTION_REGISTRATION_RECORD record;
  std::jmp_buf jump;
  volatile DWORD code;
  void* volatile address;
  volatile ULONG_PTR access;
  void* volatile target;
};

bool IsFault(DWORD code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_DATATYPE_MISALIGNMENT:
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_OVERFLOW:
    case EXCEPTION_FLT_STACK_CHECK:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_OVERFLOW:
    case EXCEPTION_PRIV_INSTRUCTION:
      return true;
    default:
      return false;
  }
}

EXCEPTION_DISPOSITION NTAPI ShieldHandler(EXCEPTION_RECORD* record, void* frame, CONTEXT*,
                                          void*) {
  if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND))
    return ExceptionContinueSearch;
  if (!IsFault(record->ExceptionCode)) return ExceptionContinueSearch;
  auto* shield = static_cast<TShieldFrame*>(frame);
  shield->code = record->ExceptionCode;
  shield->address = record->ExceptionAddress;
  if (record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record->NumberParameters >= 2) {
    shield->access = record->ExceptionInformation[0];
    shield->target = reinterpret_cast<void*>(record->ExceptionInformation[1]);
  }
  std::longjmp(shield->jump, 1);
}

std::string DescribeFault(const TShieldFrame& shield) {
  char text[160];
  if (shield.code == EXCEPTION_ACCESS_VIOLATION) {
    std::snprintf(text, sizeof text, "Access violation at address %p: %s of address %p",
                  shield.address,
                  shield.access == 1 ? "write" : shield.access == 8 ? "execution" : "read",
                  shield.target);
  } else {
    std::snprintf(text, sizeof text, "Structured exception 0x%08lX at address %p",
                  static_cast<unsigned long>(shield.code), shield.address);
  }
  return text;
}

}  // namespace

bool RunShielded(void (*call)(void*), void* context, std::string& fault) noexcept {
#if defined(__i386__)
  TShieldFrame shield{};
  auto* const outer = reinterpret_cast<EXCEPTION_REGISTRATION_RECORD*>(__readfsdword(0));
  shield.record.Next = outer;
  shield.record.Handler = ShieldHandler;
  if (setjmp(shield.jump)) {
    // The frames the fault left behind are gone: the chain starts at ours
    // again.
    __writefsdword(0, reinterpret_cast<DWORD>(outer));
    try {
      fault = DescribeFault(shield);
    } catch (...) {
    }
    return false;
  }
  __writefsdword(0, reinterpret_cast<DWORD>(&shield.record));
  call(context);
  __writefsdword(0, reinterpret_cast<DWORD>(outer));
  return true;
#else
  (void)fault;
  call(context);
  return true;
#endif
}

}  // namespace quorvex::automation
