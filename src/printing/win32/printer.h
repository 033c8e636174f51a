// TPrinter: the process's current printer, as the component model knows it:
// the printer chosen in the set-up dialog (else the system's default), its
// settings, its device context and one print job at a time on it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/exception.h"
#include "imaging/win32/canvas.h"
#include "printing/print_geometry.h"

namespace lumetra {

LUMETRA_DECLARE_EXCEPTION(EPrinter, Exception);

enum TPrinterOrientation : std::uint8_t { poPortrait = 0, poLandscape = 1 };

class TPrinter {
 public:
  TPrinter() = default;
  ~TPrinter();
  TPrinter(const TPrinter&) = delete;
  TPrinter& operator=(const TPrinter&) = delete;

  // The printer jobs go to. Raises EPrinter "There is no default printer
  // currently selected" when the system has none.
  std::string PrinterName();
  // Makes Name the current printer with the given settings (a DEVMODE as
  // the set-up dialog hands it back; empty: the printer's own defaults).
  void SetPrinter(const std::string& name, const std::vector<std::uint8_t>& devMode);
  // The current settings as a DEVMODE block.
  const std::vector<std::uint8_t>& DevMode();

  TPrinterOrientation Orientation();
  void SetOrientation(TPrinterOrientation value);
  // Read from the device context for the current settings.
  TPrinterMetrics Metrics();

  std::string Title;
  void BeginDoc();
  void EndDoc();
  void Abort();
  bool Printing() const { return printing_; }
  // The page being printed; raises EPrinter "Printer is not currently
  // printing" outside a job.
  TCanvas& Canvas();

 private:
  void Load();
  HDC Dc();
  void DropDc();
  void CheckNotPrinting() const;
  DEVMODEA* Mode() { return reinterpret_cast<DEVMODEA*>(devMode_.data()); }

  std::string name_;
  std::vector<std::uint8_t> devMode_;
  HDC dc_ = nullptr;
  bool printing_ = false;
  TCanvas canvas_;
};

// The process's one printer object.
TPrinter& Printer();

}  // namespace lumetra
