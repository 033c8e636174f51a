// The in-process server's exports: the class factory of Scanner, the unload
// test, and registration (machine-wide, or per user through DllInstall).
#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include <mutex>
#include <new>
#include <string>

#include "automation/registry_entries.h"
#include "automation/win32/com_support.h"
#include "automation/win32/scanner_object.h"
#include "automation/win32/type_library.h"
#include "imaging/dib_graphic.h"
#include "imaging/quantize_thread.h"
#include "platform/win32/owners.h"
#include "platform/win32/window_classes.h"
#include "viewer/read_graphic_thread.h"
#include "ui/control.h"

namespace quorvex::automation {

namespace {

// The libraries' start-up (default and halftone palettes) runs with the
// first object and their finalisation when COM is told that the server may
// go, not in DllMain, where the loader lock forbids GDI, window and thread
// work. One lock orders the two against an object made meanwhile.
std::mutex lifetimeLock;
bool librariesStarted = false;

void StartLibraries() {
  if (librariesStarted) return;
  try {
    lumetra::InitializeImagingLibrary();
  } catch (...) {
    // Everything it sets up is also built on first use.
  }
  librariesStarted = true;
}

// Everything that would outlive the DLL pointing into it: the threads' UI
// state, the window classes, the cached type library, the GDI palette. A
// later object starts them again.
void FinishLibraries() noexcept {
  ReleaseTypeLibCache();
  lumetra::ui::ReleaseUserInterface();
  lumetra::FinalizeImagingLibrary();
  lumetra::win32::UnregisterWindowClasses();
  librariesStarted = false;
}

// A read-ahead may outlive the object whose viewer started it, and a
// quantizer's worker may still be ending.
bool WorkAlive() noexcept {
  return ServerInUse() || lumetra::TReadGraphicThread::Running() > 0 ||
         lumetra::TQuantizeThread::Running() > 0;
}

// The automation-object factory of Scanner: multi-instance (every request
// makes a new object), no aggregation. It is a static object; only
// LockServer counts towards keeping the server loaded.
class TAutoObjectFactory final : public IClassFactory {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *object = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    std::lock_guard<std::mutex> guard(lifetimeLock);
    StartLibraries();
    return TScanner::Create(riid, object);
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    if (lock)
      ServerLocked();
    else
      ServerUnlocked();
    return S_OK;
  }
};

TAutoObjectFactory scannerFactory;

std::string GuidText(REFGUID guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return Narrow(text, CP_UTF8);
}

TServerIdentity Identity() {
  TServerIdentity identity;
  identity.Clsid = GuidText(CLSID_Scanner);
  identity.Libid = GuidText(LIBID_Quorvex);
  identity.ProgId = kProgId;
  identity.Description = "Scanner Object";
  identity.LibraryHelp = "Quorvex Library";
  identity.Platform = sizeof(void*) == 8 ? "win64" : "win32";
  identity.Interfaces = {{GuidText(IID_IScanner), "IScanner"},
                         {GuidText(DIID_IScannerEvents), "IScannerEvents"}};
  ITypeLib* library = nullptr;
  TLIBATTR* attributes = nullptr;
  if (SUCCEEDED(ScannerTypeLib(&library)) && SUCCEEDED(library->GetLibAttr(&attributes))) {
    identity.MajorVersion = attributes->wMajorVerNum;
    identity.MinorVersion = attributes->wMinorVerNum;
    identity.Lcid = attributes->lcid;
    identity.LibFlags = attributes->wLibFlags;
    library->ReleaseTLibAttr(attributes);
  }
  return identity;
}

// The server's path as the registry records it: its short form when the
// full path has a blank, so that hosts that split command lines find it.
std::wstring RegisteredPath() {
  std::wstring path = ServerModulePath();
  if (path.find(L' ') != std::wstring::npos) {
    const DWORD length = GetShortPathNameW(path.c_str(), nullptr, 0);
    if (length == 0) throw std::runtime_error("GetShortPathName failed");
    std::wstring shortPath(length, L'\0');
    const DWORD written = GetShortPathNameW(path.c_str(), shortPath.data(), length);
    if (written == 0 || written >= length) throw std::runtime_error("GetShortPathName failed");
    shortPath.resize(written);
    path = shortPath;
  }
  return path;
}

// The registry view of a 64-bit system that hosts of the other bitness read:
// the 64-bit one for this 32-bit server under WOW64, the 32-bit one for a
// 64-bit server; 0 on a 32-bit system.
REGSAM OtherView() {
#ifdef _WIN64
  return KEY_WOW64_32KEY;
#else
  BOOL wow64 = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow64) && wow64 ? KEY_WOW64_64KEY : 0;
#endif
}

// Opens the classes root: HKEY_CLASSES_ROOT, or HKCU\Software\Classes for a
// per-user installation; in the registry view View when one is given.
LSTATUS OpenRoot(bool perUser, lumetra::win32::unique_hkey& root, REGSAM view = 0) {
  if (!perUser && view == 0)
    return RegOpenKeyExW(HKEY_CLASSES_ROOT, nullptr, 0, KEY_ALL_ACCESS, root.put());
  return RegCreateKeyExW(perUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, L"Software\\Classes",
                         0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, root.put(), nullptr);
}

// Whether the class is registered in the other view: the two servers share
// the program identifier and the AppID (one key in both views on Windows).
bool RegisteredInOtherView(bool perUser, const TServerIdentity& identity) {
  const REGSAM view = OtherView();
  lumetra::win32::unique_hkey root, key;
  return view != 0 && OpenRoot(perUser, root, view) == ERROR_SUCCESS &&
         RegOpenKeyExW(root.get(), Widen("CLSID\\" + identity.Clsid, CP_UTF8).c_str(), 0,
                       KEY_READ | view, key.put()) == ERROR_SUCCESS;
}

bool WriteEntries(HKEY root, const std::vector<TRegistryEntry>& entries, REGSAM view = 0) {
  for (const auto& entry : entries) {
    lumetra::win32::unique_hkey key;
    if (RegCreateKeyExW(root, Widen(entry.Key, CP_UTF8).c_str(), 0, nullptr, 0,
                        KEY_SET_VALUE | view, nullptr, key.put(), nullptr) != ERROR_SUCCESS)
      return false;
    const std::wstring value = Widen(entry.Value, CP_UTF8);
    const std::wstring name = Widen(entry.ValueName, CP_UTF8);
    if (RegSetValueExW(key.get(), name.empty() ? nullptr : name.c_str(), 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) != ERROR_SUCCESS)
      return false;
  }
  return true;
}

bool DeleteTrees(HKEY root, const std::vector<std::string>& keys) {
  bool ok = true;
  for (const auto& key : keys) {
    const LSTATUS status = RegDeleteTreeW(root, Widen(key, CP_UTF8).c_str());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) ok = false;
  }
  return ok;
}

HRESULT Register(bool perUser) noexcept {
  try {
    const TServerIdentity identity = Identity();
    const std::wstring path = RegisteredPath();
    const std::string pathText = Narrow(path, CP_UTF8);
    lumetra::win32::unique_hkey root;
    if (OpenRoot(perUser, root) != ERROR_SUCCESS) return E_FAIL;
    if (perUser) {
      // The system's type-library registration writes machine-wide keys;
      // a per-user installation writes the same keys itself.
      if (!WriteEntries(root.get(), TypeLibraryEntries(identity, pathText))) return E_FAIL;
    } else {
      ITypeLib* library = nullptr;
      if (FAILED(ScannerTypeLib(&library))) return E_FAIL;
      std::wstring libraryPath = path;
      std::wstring directory = path.substr(0, path.find_last_of(L"\\/"));
      if (FAILED(RegisterTypeLib(library, libraryPath.data(), directory.data()))) return E_FAIL;
      if (!WriteEntries(root.get(), NeutralTypeLibraryEntries(identity, pathText))) return E_FAIL;
    }
    if (!WriteEntries(root.get(), ClassEntries(identity, pathText))) return E_FAIL;
#ifndef _WIN64
    // 64-bit hosts look for the AppID in their own view; the class itself
    // they find in the 32-bit one.
    if (const REGSAM view = OtherView()) {
      lumetra::win32::unique_hkey other;
      if (OpenRoot(perUser, other, view) != ERROR_SUCCESS ||
          !WriteEntries(other.get(), SurrogateEntries(identity), view))
        return E_FAIL;
    }
#endif
    return S_OK;
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT Unregister(bool perUser) noexcept {
  try {
    const TServerIdentity identity = Identity();
    lumetra::win32::unique_hkey root;
    if (OpenRoot(perUser, root) != ERROR_SUCCESS) return E_FAIL;
    // The class key first: where a view is not redirected, the class then
    // no longer shows in the other view either. The keys both servers share
    // stay while the other one is still registered.
    std::vector<std::string> roots = ClassRootKeys(identity);
    bool ok = DeleteTrees(root.get(), {roots.front()});
    roots.erase(roots.begin());
    const bool shared = RegisteredInOtherView(perUser, identity);
    if (!shared) ok = DeleteTrees(root.get(), roots) && ok;
#ifndef _WIN64
    if (const REGSAM view = OtherView(); view && !shared) {
      lumetra::win32::unique_hkey other;
      if (OpenRoot(perUser, other, view) == ERROR_SUCCESS) {
        const LSTATUS status = RegDeleteKeyExW(
            other.get(), Widen(SurrogateRootKey(identity), CP_UTF8).c_str(), view, 0);
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) ok = false;
      }
    }
#endif
    if (perUser) {
      ok = DeleteTrees(root.get(), TypeLibraryRootKeys(identity)) && ok;
    } else {
      // The neutral key first: the system removes the version's key only
      // when nothing but its own keys is left in it.
      ok = DeleteTrees(root.get(), {NeutralTypeLibraryKey(identity)}) && ok;
      const HRESULT hr = UnRegisterTypeLib(LIBID_Quorvex, 1, 0, 0x0409,
                                           sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
      if (FAILED(hr) && hr != TYPE_E_REGISTRYACCESS && hr != TYPE_E_LIBNOTREGISTERED) ok = false;
    }
    return ok ? S_OK : E_FAIL;
  } catch (...) {
    return E_FAIL;
  }
}

}  // namespace

}  // namespace quorvex::automation

using namespace quorvex::automation;

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    SetServerModule(instance);
    DisableThreadLibraryCalls(instance);
  } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr && librariesStarted) {
    // Freed without COM asking DllCanUnloadNow first: at least the window
    // classes, which would point into unloaded code, go with the module.
    lumetra::win32::UnregisterWindowClasses();
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (clsid != CLSID_Scanner) return CLASS_E_CLASSNOTAVAILABLE;
  return scannerFactory.QueryInterface(riid, object);
}

// Answering S_OK, the server finishes its libraries here, outside the
// loader lock; the DLL is freed next.
STDAPI DllCanUnloadNow() {
  std::lock_guard<std::mutex> guard(lifetimeLock);
  if (WorkAlive()) return S_FALSE;
  if (librariesStarted) FinishLibraries();
  return S_OK;
}

STDAPI DllRegisterServer() { return Register(false); }

STDAPI DllUnregisterServer() { return Unregister(false); }

// regsvr32 /n /i:user registers for the current user only (no administrator
// needed); any other command line means the machine-wide registration.
STDAPI DllInstall(BOOL install, LPCWSTR commandLine) {
  const bool perUser = commandLine && lstrcmpiW(commandLine, L"user") == 0;
  return install ? Register(perUser) : Unregister(perUser);
}

}  // extern "C"
