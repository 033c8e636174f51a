// The automation object's properties and its Scan, apart from COM: plain
// storage with the initial values hosts see, and the road from the window's
// accept flag to ScanResult.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "automation/pdf_conversion.h"
#include "automation/scan_window_link.h"

namespace quorvex::automation {

class TScannerState {
 public:
  using TWindowFactory = std::function<std::unique_ptr<TScanWindowLink>()>;
  using TConverter = std::function<std::int32_t(const TPdfSettings&)>;

  TScannerState(TWindowFactory windowFactory, TConverter converter);
  ~TScannerState();
  TScannerState(const TScannerState&) = delete;
  TScannerState& operator=(const TScannerState&) = delete;

  // Opens the scanning window modally and evaluates how it was left. Errors
  // propagate and leave ScanResult unchanged.
  void Scan();

  // Destroys the window (and with it the acquisition object) early.
  void ReleaseWindow() noexcept;
  bool HasWindow() const noexcept { return window_ != nullptr; }

  std::string Filename;
  bool ConvertToPdf = false;
  std::string PdfAuthor;
  std::string PdfCreator = "Quorv";
  std::string PdfKeywords;
  std::string PdfSubject;
  std::string PdfTitle;
  std::string PdfPaperSize = "a4";
  std::int32_t ScanImgFormat = 0;
  std::int32_t ScanXDpi = 200;
  std::int32_t ScanYDpi = 200;
  bool ShowScanUI = true;

  std::int32_t ScanResult() const noexcept { return scanResult_; }

 private:
  TPdfSettings PdfSettings() const;

  TWindowFactory windowFactory_;
  TConverter converter_;
  std::unique_ptr<TScanWindowLink> window_;
  std::int32_t scanResult_ = 0;
};

}  // namespace quorvex::automation
