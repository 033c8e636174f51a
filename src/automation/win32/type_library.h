// The embedded type library, loaded from the server's own TYPELIB resource
// once and cached for every object's IDispatch.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace quorvex::automation {

// The cached library (not AddRef'd for the caller), or null with the error.
[[nodiscard]] HRESULT ScannerTypeLib(ITypeLib** library) noexcept;
// The type information of one interface or coclass, AddRef'd for the caller.
[[nodiscard]] HRESULT ScannerTypeInfo(REFGUID id, ITypeInfo** info) noexcept;
void ReleaseTypeLibCache() noexcept;

}  // namespace quorvex::automation
