// What the automation object needs from its scanning window: the settings it
// copies in before each showing, the modal showing itself, and the accept
// flag it reads afterwards.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace quorvex::automation {

class TScanWindowLink {
 public:
  virtual ~TScanWindowLink() = default;

  virtual void SetDocumentFileName(const std::string& fileName) = 0;
  virtual void SetShowDialog(bool showDialog) = 0;
  virtual void SetXDpi(std::int32_t dpi) = 0;
  virtual void SetYDpi(std::int32_t dpi) = 0;
  virtual void SetImageFormat(std::uint8_t format) = 0;

  // True while the window is showing (a Scan dispatched from inside its own
  // modal loop finds it so).
  virtual bool Visible() const = 0;
  // Shows the window modally; returns when it has been hidden again.
  virtual void ShowModal() = 0;
  // 1 after Accept, 0 after Cancel.
  virtual std::int32_t AcceptFlag() const = 0;
};

// Creates the product's scanning window (defined by the scanning window's
// module).
std::unique_ptr<TScanWindowLink> CreateScanWindow();

}  // namespace quorvex::automation
