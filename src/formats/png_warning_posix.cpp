// Natively nobody is there to read a warning box: libpng warnings are
// dropped, and reading goes on.
#include <string>

namespace lumetra {

void ShowPngWarning(const std::string&) {}

}  // namespace lumetra
