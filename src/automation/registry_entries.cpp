#include "automation/registry_entries.h"

#include "base/format.h"

namespace quorvex::automation {

namespace {

// The universal marshaller that serves every oleautomation interface.
constexpr const char* kOleAutomationProxy = "{00020424-0000-0000-C000-000000000046}";

std::string VersionText(const TServerIdentity& identity) {
  return lumetra::Format("%d.%d", identity.MajorVersion, identity.MinorVersion);
}

std::string DirectoryOf(const std::string& path) {
  const auto slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

std::vector<TRegistryEntry> ClassEntries(const TServerIdentity& identity,
                                         const std::string& serverPath) {
  const std::string clsidKey = "CLSID\\" + identity.Clsid;
  std::vector<TRegistryEntry> entries = {
      {clsidKey, "", identity.Description},
      {clsidKey + "\\InprocServer32", "", serverPath},
      {clsidKey + "\\InprocServer32", "ThreadingModel", "Apartment"},
      {clsidKey + "\\ProgID", "", identity.ProgId},
      {identity.ProgId, "", identity.Description},
      {identity.ProgId + "\\Clsid", "", identity.Clsid},
      {clsidKey + "\\Version", "", VersionText(identity)},
      {clsidKey + "\\TypeLib", "", identity.Libid},
      {clsidKey, "AppID", identity.Clsid},
  };
  for (auto& entry : SurrogateEntries(identity)) entries.push_back(std::move(entry));
  return entries;
}

std::vector<TRegistryEntry> SurrogateEntries(const TServerIdentity& identity) {
  // An empty DllSurrogate names the system's own surrogate, dllhost.exe.
  return {{SurrogateRootKey(identity), "", identity.Description},
          {SurrogateRootKey(identity), "DllSurrogate", ""}};
}

std::string SurrogateRootKey(const TServerIdentity& identity) {
  return "AppID\\" + identity.Clsid;
}

std::vector<TRegistryEntry> TypeLibraryEntries(const TServerIdentity& identity,
                                               const std::string& serverPath) {
  const std::string version = VersionText(identity);
  const std::string libKey = "TypeLib\\" + identity.Libid + "\\" + version;
  std::vector<TRegistryEntry> entries = {
      {libKey, "", identity.LibraryHelp},
      {libKey + "\\" + lumetra::Format("%x", identity.Lcid) + "\\" + identity.Platform, "", serverPath},
      {libKey + "\\FLAGS", "", lumetra::Format("%u", identity.LibFlags)},
      {libKey + "\\HELPDIR", "", DirectoryOf(serverPath)},
  };
  for (auto& entry : NeutralTypeLibraryEntries(identity, serverPath))
    entries.push_back(std::move(entry));
  for (const auto& itf : identity.Interfaces) {
    const std::string key = "Interface\\" + itf.Iid;
    entries.push_back({key, "", itf.Name});
    entries.push_back({key + "\\ProxyStubClsid", "", kOleAutomationProxy});
    entries.push_back({key + "\\ProxyStubClsid32", "", kOleAutomationProxy});
    entries.push_back({key + "\\TypeLib", "", identity.Libid});
    entries.push_back({key + "\\TypeLib", "Version", version});
  }
  return entries;
}

std::vector<TRegistryEntry> NeutralTypeLibraryEntries(const TServerIdentity& identity,
                                                      const std::string& serverPath) {
  if (identity.Lcid == 0) return {};
  return {{NeutralTypeLibraryKey(identity) + "\\" + identity.Platform, "", serverPath}};
}

std::string NeutralTypeLibraryKey(const TServerIdentity& identity) {
  return "TypeLib\\" + identity.Libid + "\\" + VersionText(identity) + "\\0";
}

std::vector<std::string> ClassRootKeys(const TServerIdentity& identity) {
  return {"CLSID\\" + identity.Clsid, identity.ProgId, SurrogateRootKey(identity)};
}

std::vector<std::string> TypeLibraryRootKeys(const TServerIdentity& identity) {
  std::vector<std::string> keys = {"TypeLib\\" + identity.Libid};
  for (const auto& itf : identity.Interfaces) keys.push_back("Interface\\" + itf.Iid);
  return keys;
}

}  // namespace quorvex::automation
