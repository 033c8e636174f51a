// The window classes of this module. Every class the product registers goes
// through here, under the module that holds the code (the program, or the
// server DLL a host loaded), so that a DLL can take its classes with it
// when it is unloaded: a class left behind points into unloaded code.
#pragma once

#include <windows.h>

namespace lumetra::win32 {

// The module (DLL or program) that holds this code.
HMODULE OwnModule() noexcept;

// Registers the class under OwnModule once for the process (its hInstance
// is set here); two threads making their first window at once do not both
// register it. False, with the system's last error, when it cannot be.
bool RequireWindowClass(WNDCLASSEXA windowClass) noexcept;

// Unregisters every class registered through RequireWindowClass: a DLL
// calls it before it is unloaded, once its windows are gone. A later
// RequireWindowClass registers afresh.
void UnregisterWindowClasses() noexcept;

}  // namespace lumetra::win32
