// regsvr32 registering and removing the server, machine-wide and per user:
// exactly the class keys, the type library, and nothing left behind.
#include <windows.h>

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "quorvex_h.h"
#include "wine/wine_paths.h"

using quorvex::testing_support::RunRegsvr32;
using quorvex::testing_support::WinePath;

namespace {

std::wstring Guid(REFGUID guid) {
  wchar_t text[40];
  StringFromGUID2(guid, text, 40);
  return text;
}

bool KeyExists(HKEY root, const std::wstring& key) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
  RegCloseKey(handle);
  return true;
}

std::wstring Value(HKEY root, const std::wstring& key, const wchar_t* name = nullptr) {
  wchar_t data[1024] = {};
  DWORD size = sizeof data;
  if (RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
    return L"<missing>";
  return data;
}

std::set<std::wstring> Subkeys(HKEY root, const std::wstring& key) {
  std::set<std::wstring> names;
  HKEY handle = nullptr;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return names;
  wchar_t name[256];
  for (DWORD i = 0;; ++i) {
    DWORD length = 256;
    if (RegEnumKeyExW(handle, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    names.insert(name);
  }
  RegCloseKey(handle);
  return names;
}

class RegistrationTest : public testing::Test {
 protected:
  void SetUp() override {
    dll_ = WinePath(QV_QUORVEX_DLL);
    clsidKey_ = L"CLSID\\" + Guid(CLSID_Scanner);
    typeLibKey_ = L"TypeLib\\" + Guid(LIBID_Quorvex);
    appIdKey_ = L"AppID\\" + Guid(CLSID_Scanner);
    RunRegsvr32(L"/u \"" + dll_ + L"\"");
    RunRegsvr32(L"/u /n /i:user \"" + dll_ + L"\"");
  }
  // The script hosts that run after this test find the server registered.
  void TearDown() override { RunRegsvr32(L"\"" + dll_ + L"\""); }

  // The class keys under one classes root, exactly as written.
  void ExpectClassKeys(HKEY root, const std::wstring& path) {
    EXPECT_EQ(Value(root, clsidKey_), L"Scanner Object");
    EXPECT_EQ(Subkeys(root, clsidKey_),
              (std::set<std::wstring>{L"InprocServer32", L"ProgID", L"Version", L"TypeLib"}));
    EXPECT_EQ(Value(root, clsidKey_ + L"\\InprocServer32"), path);
    EXPECT_EQ(Value(root, clsidKey_ + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
    EXPECT_EQ(Value(root, clsidKey_ + L"\\ProgID"), L"Quorvex.Scanner");
    EXPECT_EQ(Value(root, clsidKey_ + L"\\Version"), L"1.0");
    EXPECT_EQ(Value(root, clsidKey_ + L"\\TypeLib"), Guid(LIBID_Quorvex));
    EXPECT_EQ(Value(root, L"Quorvex.Scanner"), L"Scanner Object");
    EXPECT_EQ(Subkeys(root, L"Quorvex.Scanner"), std::set<std::wstring>{L"Clsid"});
    EXPECT_EQ(Value(root, L"Quorvex.Scanner\\Clsid"), Guid(CLSID_Scanner));
    const std::wstring platform = sizeof(void*) == 8 ? L"\\win64" : L"\\win32";
    EXPECT_EQ(Value(root, typeLibKey_ + L"\\1.0\\409" + platform), path);
    // Where the marshaller of the dual interface looks for the library.
    EXPECT_EQ(Value(root, typeLibKey_ + L"\\1.0\\0" + platform), path);
    // Hosts of the other bitness reach the class through the DLL surrogate.
    EXPECT_EQ(Value(root, clsidKey_, L"AppID"), Guid(CLSID_Scanner));
    EXPECT_EQ(Value(root, appIdKey_, L"DllSurrogate"), L"");
    EXPECT_TRUE(KeyExists(root, L"Interface\\" + Guid(IID_IScanner)));
    EXPECT_TRUE(KeyExists(root, L"Interface\\" + Guid(DIID_IScannerEvents)));
  }

  void ExpectNoKeys(HKEY root) {
    EXPECT_FALSE(KeyExists(root, clsidKey_));
    EXPECT_FALSE(KeyExists(root, L"Quorvex.Scanner"));
    EXPECT_FALSE(KeyExists(root, typeLibKey_));
    EXPECT_FALSE(KeyExists(root, appIdKey_));
  }

  std::wstring dll_, clsidKey_, typeLibKey_, appIdKey_;
};

TEST_F(RegistrationTest, MachineWideRegistrationWritesAndRemovesExactlyTheKeys) {
  ASSERT_EQ(RunRegsvr32(L"\"" + dll_ + L"\""), 0u);
  ExpectClassKeys(HKEY_CLASSES_ROOT, dll_);
  HKEY user = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, KEY_READ, &user),
            ERROR_SUCCESS);
  EXPECT_FALSE(KeyExists(user, clsidKey_));
  ASSERT_EQ(RunRegsvr32(L"/u \"" + dll_ + L"\""), 0u);
  ExpectNoKeys(HKEY_CLASSES_ROOT);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"Interface\\" + Guid(IID_IScanner)));
  RegCloseKey(user);
}

TEST_F(RegistrationTest, PerUserRegistrationWritesTheSameKeysUnderTheUsersClasses) {
  ASSERT_EQ(RunRegsvr32(L"/n /i:user \"" + dll_ + L"\""), 0u);
  HKEY user = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, KEY_READ, &user),
            ERROR_SUCCESS);
  ExpectClassKeys(user, dll_);
  HKEY machine = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes", 0, KEY_READ, &machine),
            ERROR_SUCCESS);
  EXPECT_FALSE(KeyExists(machine, clsidKey_));
  EXPECT_FALSE(KeyExists(machine, typeLibKey_));

  ASSERT_EQ(RunRegsvr32(L"/u /n /i:user \"" + dll_ + L"\""), 0u);
  ExpectNoKeys(user);
  EXPECT_FALSE(KeyExists(user, L"Interface\\" + Guid(IID_IScanner)));
  RegCloseKey(user);
  RegCloseKey(machine);
}

TEST_F(RegistrationTest, APathWithABlankIsRegisteredInItsShortForm) {
  wchar_t windows[MAX_PATH];
  GetWindowsDirectoryW(windows, MAX_PATH);
  const std::wstring dir = std::wstring(windows).substr(0, 3) + L"Quorvex Blank Dir";
  CreateDirectoryW(dir.c_str(), nullptr);
  const std::wstring copy = dir + L"\\Quorvex.dll";
  ASSERT_TRUE(CopyFileW(dll_.c_str(), copy.c_str(), FALSE));
  ASSERT_EQ(RunRegsvr32(L"\"" + copy + L"\""), 0u);
  const std::wstring registered = Value(HKEY_CLASSES_ROOT, clsidKey_ + L"\\InprocServer32");
  EXPECT_EQ(registered.find(L' '), std::wstring::npos) << registered;
  wchar_t longPath[MAX_PATH] = {};
  GetLongPathNameW(registered.c_str(), longPath, MAX_PATH);
  EXPECT_EQ(lstrcmpiW(longPath, copy.c_str()), 0);
  EXPECT_EQ(RunRegsvr32(L"/u \"" + copy + L"\""), 0u);
  ExpectNoKeys(HKEY_CLASSES_ROOT);
}

}  // namespace
