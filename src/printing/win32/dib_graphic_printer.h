// TDibGraphicPrinter: prints one image on the current printer, sized by one
// of six rules (print_geometry.h): it picks the orientation, reads the
// printer's metrics, computes the rectangle and stretches the image into it
// as a one-page job.
#pragma once

#include <string>

#include "base/object.h"
#include "imaging/dib_graphic.h"
#include "printing/print_geometry.h"

namespace lumetra {

class TDibGraphicPrinter : public TObject {
 public:
  // Full page, 5 x 5 inches, automatic job, no margins. Reads the printer's
  // metrics, so it raises EPrinter when there is no printer.
  TDibGraphicPrinter();
  const char* ClassName() const noexcept override { return "TDibGraphicPrinter"; }

  TPrintMode PrintMode() const { return layout_.PrintMode; }
  void SetPrintMode(TPrintMode value);
  double WidthInches() const { return layout_.WidthInches; }
  void SetWidthInches(double value) { layout_.WidthInches = value; }
  double HeightInches() const { return layout_.HeightInches; }
  void SetHeightInches(double value) { layout_.HeightInches = value; }
  // On: Print chooses the orientation and runs the job itself. Off: the
  // caller brackets one or more prints in a job of its own.
  bool AutoJob() const { return autoJob_; }
  void SetAutoJob(bool value) { autoJob_ = value; }
  double LeftMarginInches() const { return layout_.LeftMarginInches; }
  void SetLeftMarginInches(double value) { layout_.LeftMarginInches = value; }
  double TopMarginInches() const { return layout_.TopMarginInches; }
  void SetTopMarginInches(double value) { layout_.TopMarginInches = value; }
  const std::string& Title() const { return title_; }
  void SetTitle(const std::string& value) { title_ = value; }
  // The printer's metrics as last read.
  const TPrinterMetrics& Metrics() const { return metrics_; }

  void Print(TDibGraphic& graphic);

 private:
  TPrintLayout layout_;
  bool autoJob_ = true;
  TPrinterMetrics metrics_;
  std::string title_;
};

}  // namespace lumetra
