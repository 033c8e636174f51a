#include "automation/registry_entries.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace quorvex::automation {
namespace {

TServerIdentity Identity() {
  TServerIdentity identity;
  identity.Clsid = "{C}";
  identity.Libid = "{L}";
  identity.ProgId = "Quorvex.Scanner";
  identity.Description = "Scanner Object";
  identity.LibraryHelp = "Quorvex Library";
  identity.Interfaces = {{"{I1}", "IScanner"}, {"{I2}", "IScannerEvents"}};
  identity.Lcid = 0x409;
  identity.LibFlags = 8;
  return identity;
}

TEST(RegistryEntries, ClassKeysAreExactlyTheServerContract) {
  const auto entries = ClassEntries(Identity(), "C:\\PROGRA~1\\Quorvex.dll");
  std::set<std::tuple<std::string, std::string, std::string>> got;
  for (const auto& e : entries) got.insert({e.Key, e.ValueName, e.Value});
  const std::set<std::tuple<std::string, std::string, std::string>> expected = {
      {"CLSID\\{C}", "", "Scanner Object"},
      {"CLSID\\{C}\\InprocServer32", "", "C:\\PROGRA~1\\Quorvex.dll"},
      {"CLSID\\{C}\\InprocServer32", "ThreadingModel", "Apartment"},
      {"CLSID\\{C}\\ProgID", "", "Quorvex.Scanner"},
      {"CLSID\\{C}\\Version", "", "1.0"},
      {"CLSID\\{C}\\TypeLib", "", "{L}"},
      {"Quorvex.Scanner", "", "Scanner Object"},
      {"Quorvex.Scanner\\Clsid", "", "{C}"},
      {"CLSID\\{C}", "AppID", "{C}"},
      {"AppID\\{C}", "", "Scanner Object"},
      {"AppID\\{C}", "DllSurrogate", ""},
  };
  EXPECT_EQ(got, expected);
  EXPECT_EQ(entries.size(), expected.size());
}

TEST(RegistryEntries, EveryWrittenKeyLiesUnderARemovedRoot) {
  const TServerIdentity identity = Identity();
  auto roots = ClassRootKeys(identity);
  const auto libRoots = TypeLibraryRootKeys(identity);
  roots.insert(roots.end(), libRoots.begin(), libRoots.end());
  auto entries = ClassEntries(identity, "C:\\q\\Quorvex.dll");
  const auto libEntries = TypeLibraryEntries(identity, "C:\\q\\Quorvex.dll");
  entries.insert(entries.end(), libEntries.begin(), libEntries.end());
  for (const auto& entry : entries) {
    bool covered = false;
    for (const auto& root : roots)
      covered = covered || entry.Key == root || entry.Key.rfind(root + "\\", 0) == 0;
    EXPECT_TRUE(covered) << entry.Key;
  }
}

TEST(RegistryEntries, PerUserTypeLibraryKeysPointAtTheServerAndMarshalItsInterfaces) {
  const auto entries = TypeLibraryEntries(Identity(), "C:\\q\\Quorvex.dll");
  auto value = [&](const std::string& key, const std::string& name = "") {
    for (const auto& e : entries)
      if (e.Key == key && e.ValueName == name) return e.Value;
    return std::string("<missing>");
  };
  EXPECT_EQ(value("TypeLib\\{L}\\1.0\\409\\win32"), "C:\\q\\Quorvex.dll");
  // The marshaller finds the library under the neutral locale too.
  EXPECT_EQ(value("TypeLib\\{L}\\1.0\\0\\win32"), "C:\\q\\Quorvex.dll");
  TServerIdentity win64 = Identity();
  win64.Platform = "win64";
  const auto entries64 = TypeLibraryEntries(win64, "C:\\q\\Quorvex.dll");
  EXPECT_NE(std::find_if(entries64.begin(), entries64.end(),
                         [](const auto& e) { return e.Key == "TypeLib\\{L}\\1.0\\409\\win64"; }),
            entries64.end());
  EXPECT_EQ(value("TypeLib\\{L}\\1.0\\FLAGS"), "8");
  EXPECT_EQ(value("TypeLib\\{L}\\1.0\\HELPDIR"), "C:\\q");
  for (const char* iid : {"{I1}", "{I2}"}) {
    const std::string key = std::string("Interface\\") + iid;
    EXPECT_EQ(value(key + "\\ProxyStubClsid32"), "{00020424-0000-0000-C000-000000000046}");
    EXPECT_EQ(value(key + "\\TypeLib"), "{L}");
    EXPECT_EQ(value(key + "\\TypeLib", "Version"), "1.0");
  }
}

}  // namespace
}  // namespace quorvex::automation
