// The automation object's view of the scanning window.
#include "automation/scan_window_link.h"

#include "base/exception.h"
#include "scanwindow/win32/main_form.h"

namespace quorvex::automation {

namespace {

class TMainFormLink final : public TScanWindowLink {
 public:
  TMainFormLink() : form_(std::make_unique<scanwindow::TfrmMain>()) {}
  void SetDocumentFileName(const std::string& fileName) override {
    form_->DocumentFileName = fileName;
  }
  void SetShowDialog(bool showDialog) override { form_->ShowDialog = showDialog; }
  void SetXDpi(std::int32_t dpi) override { form_->XDpi = dpi; }
  void SetYDpi(std::int32_t dpi) override { form_->YDpi = dpi; }
  void SetImageFormat(std::uint8_t format) override {
    form_->ImageFormat = static_cast<lumetra::TImageFormat>(format);
  }
  bool Visible() const override { return form_->Visible(); }
  void ShowModal() override {
    form_->ShowDocument();
    form_->ShowModal();
  }
  std::int32_t AcceptFlag() const override { return form_->AcceptFlag(); }

 private:
  std::unique_ptr<scanwindow::TfrmMain> form_;
};

}  // namespace

std::unique_ptr<TScanWindowLink> CreateScanWindow() { return std::make_unique<TMainFormLink>(); }

}  // namespace quorvex::automation
