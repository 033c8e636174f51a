#include "automation/win32/type_library.h"

#include "automation/win32/com_support.h"

namespace quorvex::automation {

namespace {
ITypeLib* volatile cachedLibrary = nullptr;
}

HRESULT ScannerTypeLib(ITypeLib** library) noexcept {
  if (!library) return E_POINTER;
  *library = cachedLibrary;
  if (*library) return S_OK;
  ITypeLib* loaded = nullptr;
  HRESULT hr;
  try {
    const std::wstring path = ServerModulePath();
    hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &loaded);
  } catch (...) {
    hr = E_OUTOFMEMORY;
  }
  if (FAILED(hr)) return hr;
  // Two threads may load at once: the first one stored wins, the other copy
  // is released.
  PVOID previous = InterlockedCompareExchangePointer(
      reinterpret_cast<PVOID volatile*>(&cachedLibrary), loaded, nullptr);
  if (previous) {
    loaded->Release();
    loaded = static_cast<ITypeLib*>(previous);
  }
  *library = loaded;
  return S_OK;
}

HRESULT ScannerTypeInfo(REFGUID id, ITypeInfo** info) noexcept {
  if (!info) return E_POINTER;
  *info = nullptr;
  ITypeLib* library = nullptr;
  const HRESULT hr = ScannerTypeLib(&library);
  if (FAILED(hr)) return hr;
  return library->GetTypeInfoOfGuid(id, info);
}

void ReleaseTypeLibCache() noexcept {
  PVOID library =
      InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&cachedLibrary), nullptr);
  if (library) static_cast<ITypeLib*>(library)->Release();
}

}  // namespace quorvex::automation
