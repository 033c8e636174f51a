#include "automation/win32/com_support.h"

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

}  // namespace quorvex::automation
