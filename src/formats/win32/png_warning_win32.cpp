// libpng warnings are shown to the user in a message box; reading goes on
// when it is closed.
#include <windows.h>

#include <string>

namespace lumetra {

void ShowPngWarning(const std::string& message) {
  MessageBoxA(nullptr, message.c_str(), "PNG Error", MB_OK | MB_ICONWARNING | MB_TASKMODAL);
}

}  // namespace lumetra
