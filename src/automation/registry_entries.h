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
  std::string Platform = "win32";  // the server's bitness as type libraries name it
  struct Interface {
    std::string Iid;
    std::string Name;
  };
  std::vector<Interface> Interfaces;
};

// The class keys, in the order they are written. They include the class's
// AppID with DllSurrogate, so that a host of the other bitness can have the
// object made in the system's DLL surrogate process.
std::vector<TRegistryEntry> ClassEntries(const TServerIdentity& identity,
                                         const std::string& serverPath);

// The AppID keys alone (part of the class keys): a 32-bit server on a 64-bit
// system writes them into the 64-bit view too, where 64-bit hosts look.
std::vector<TRegistryEntry> SurrogateEntries(const TServerIdentity& identity);
std::string SurrogateRootKey(const TServerIdentity& identity);

// The type library keys (used where the system's registration cannot write
// per-user keys).
std::vector<TRegistryEntry> TypeLibraryEntries(const TServerIdentity& identity,
                                               const std::string& serverPath);

// The type library's key for the neutral locale (none when the library's
// own locale is neutral): Wine's marshaller of dual interfaces looks only
// there, whatever locale the library has, so without it the interface
// cannot cross to another process.
std::vector<TRegistryEntry> NeutralTypeLibraryEntries(const TServerIdentity& identity,
                                                      const std::string& serverPath);
std::string NeutralTypeLibraryKey(const TServerIdentity& identity);

// The top-level keys that unregistration removes with all their subkeys,
// the class's own key first.
std::vector<std::string> ClassRootKeys(const TServerIdentity& identity);
std::vector<std::string> TypeLibraryRootKeys(const TServerIdentity& identity);

}  // namespace quorvex::automation
