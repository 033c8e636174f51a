// The registry entries of the in-process server, as data: the class keys that
// registration writes under the classes root, and for a per-user installation
// also the type library and interface keys that RegisterTypeLib would write
// machine-wide.
#pragma once

#include <string>
#include <vector>

namespace quorvex::automation {

struct TRegistryEntry {
  std::string Key;        // relative to the classes root
  std::string ValueName;  // empty: the key's default value
  std::string Value;
};

struct TServerIdentity {
  std::string Clsid;            // "{...}" registry form
  std::string Libid;
  std::string ProgId;           // "Quorvex.Scanner"
  std::string Description;      // "Scanner Object"
  std::string LibraryHelp;      // "Quorvex Library"
  int MajorVersion = 1;
  int MinorVersion = 0;
  unsigned Lcid = 0;      // the type library's locale
  unsigned LibFlags = 0;  // its LIBFLAGS
  struct Interface {
    std::string Iid;
    std::string Name;
  };
  std::vector<Interface> Interfaces;
};

// The class keys, in the order they are written.
std::vector<TRegistryEntry> ClassEntries(const TServerIdentity& identity,
                                         const std::string& serverPath);

// The type library keys (used where the system's registration cannot write
// per-user keys).
std::vector<TRegistryEntry> TypeLibraryEntries(const TServerIdentity& identity,
                                               const std::string& serverPath);

// The top-level keys that unregistration removes with all their subkeys.
std::vector<std::string> ClassRootKeys(const TServerIdentity& identity);
std::vector<std::string> TypeLibraryRootKeys(const TServerIdentity& identity);

}  // namespace quorvex::automation
