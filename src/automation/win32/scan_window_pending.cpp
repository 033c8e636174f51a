// Until the scanning window module links in, Scan reports that it has no
// window instead of pretending to scan.
#include "automation/scan_window_link.h"
#include "base/exception.h"

namespace quorvex::automation {

std::unique_ptr<TScanWindowLink> CreateScanWindow() {
  throw lumetra::EInvalidOperation("The scanning window is not available in this build");
}

}  // namespace quorvex::automation
