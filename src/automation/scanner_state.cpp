#include "automation/scanner_state.h"

#include "base/exception.h"

namespace quorvex::automation {

TScannerState::TScannerState(TWindowFactory windowFactory, TConverter converter)
    : windowFactory_(std::move(windowFactory)), converter_(std::move(converter)) {}

TScannerState::~TScannerState() { ReleaseWindow(); }

void TScannerState::ReleaseWindow() noexcept { window_.reset(); }

TPdfSettings TScannerState::PdfSettings() const {
  return TPdfSettings{Filename, PdfPaperSize, PdfCreator, PdfAuthor,
                      PdfTitle, PdfSubject,   PdfKeywords};
}

void TScannerState::Scan() {
  if (!window_) window_ = windowFactory_();
  if (!window_) throw lumetra::EInvalidOperation("The scanning window could not be created");

  window_->SetDocumentFileName(Filename);
  window_->SetShowDialog(ShowScanUI);
  window_->SetXDpi(ScanXDpi);
  window_->SetYDpi(ScanYDpi);
  window_->SetImageFormat(static_cast<std::uint8_t>(ScanImgFormat & 0xFF));

  // A Scan dispatched by the showing window's own message loop: the settings
  // above already reach that window, but it cannot be shown a second time.
  if (window_->Visible()) throw lumetra::EInvalidOperation("Cannot make a visible window modal");
  window_->ShowModal();

  std::int32_t result = 0;
  if (window_->AcceptFlag() == 1) {
    if (!ConvertToPdf)
      result = 1;
    else
      result = converter_(PdfSettings()) >= 0 ? 1 : 0;
  }
  scanResult_ = result;
}

}  // namespace quorvex::automation
