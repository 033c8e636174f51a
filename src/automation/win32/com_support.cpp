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
#if defined(__i386__)
  EXCEPTION_REGISTRATION_RECORD record;
  std::jmp_buf jump;
#endif
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

// Whether the shield takes the exception; if so, describes it in Shield.
bool TakeFault(const EXCEPTION_RECORD* record, TShieldFrame* shield) {
  if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) return false;
  if (!IsFault(record->ExceptionCode)) return false;
  shield->code = record->ExceptionCode;
  shield->address = record->ExceptionAddress;
  if (record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record->NumberParameters >= 2) {
    shield->access = record->ExceptionInformation[0];
    shield->target = reinterpret_cast<void*>(record->ExceptionInformation[1]);
  }
  return true;
}

#if defined(__i386__)
EXCEPTION_DISPOSITION NTAPI ShieldHandler(EXCEPTION_RECORD* record, void* frame, CONTEXT*,
                                          void*) {
  auto* shield = static_cast<TShieldFrame*>(frame);
  if (!TakeFault(record, shield)) return ExceptionContinueSearch;
  std::longjmp(shield->jump, 1);
}
#endif

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

#if defined(__x86_64__)
thread_local TShieldFrame* currentShield = nullptr;
#endif

}  // namespace

#if defined(__x86_64__)
// QvShieldedCall(call, context) calls call(context) in a frame whose unwind
// data names QvShieldHandler as its exception handler, and answers 1; after
// a fault the handler unwinds to QvShieldedCallFault, which answers 0.
extern "C" int QvShieldedCall(void (*call)(void*), void* context);
extern "C" void QvShieldedCallFault();
asm(R"(
    .text
    .globl QvShieldedCall
    .globl QvShieldedCallFault
    .def QvShieldedCall; .scl 2; .type 32; .endef
    .seh_proc QvShieldedCall
QvShieldedCall:
    subq $40, %rsp
    .seh_stackalloc 40
    .seh_endprologue
    .seh_handler QvShieldHandler, @except
    movq %rcx, %rax
    movq %rdx, %rcx
    call *%rax
    movl $1, %eax
    jmp 1f
QvShieldedCallFault:
    xorl %eax, %eax
1:
    addq $40, %rsp
    ret
    .seh_endproc
)");

// A proper unwind, not a jump out of the handler: the system's dispatcher
// keeps frames of its own while a handler runs, and only an unwind takes
// them down again.
extern "C" EXCEPTION_DISPOSITION QvShieldHandler(EXCEPTION_RECORD* record, void* frame,
                                                 CONTEXT* context, void* dispatch) {
  TShieldFrame* const shield = currentShield;
  if (!shield || !TakeFault(record, shield)) return ExceptionContinueSearch;
  RtlUnwindEx(frame, reinterpret_cast<void*>(&QvShieldedCallFault), record, nullptr, context,
              static_cast<DISPATCHER_CONTEXT*>(dispatch)->HistoryTable);
  return ExceptionContinueSearch;
}
#endif

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
#elif defined(__x86_64__)
  // x64 frames keep no handler chain on the stack: the handler hangs on the
  // small frame of QvShieldedCall through its unwind data, and the system
  // asks it only once every frame inside has declined, as on i386. The
  // shield itself is found through the thread. The unwind runs the
  // destructors of the frames it leaves.
  TShieldFrame shield{};
  TShieldFrame* const outer = currentShield;
  currentShield = &shield;
  const bool completed = QvShieldedCall(call, context) != 0;
  currentShield = outer;
  if (completed) return true;
  try {
    fault = DescribeFault(shield);
  } catch (...) {
  }
  return false;
#else
  (void)fault;
  call(context);
  return true;
#endif
}

}  // namespace quorvex::automation
