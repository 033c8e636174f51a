#include "printing/win32/printer.h"

#include <winspool.h>

#include <cstddef>

#include "platform/platform.h"

namespace lumetra {

namespace {

constexpr const char* kNoDefaultPrinter = "There is no default printer currently selected";

[[noreturn]] void RaisePrinterError(const char* what) {
  const std::string reason = platform::LastErrorText();
  throw EPrinter(reason.empty() ? std::string(what) : std::string(what) + ": " + reason);
}

struct PrinterHandle {
  HANDLE handle = nullptr;
  ~PrinterHandle() {
    if (handle) ::ClosePrinter(handle);
  }
};

// The printer's own default settings.
std::vector<std::uint8_t> DefaultDevMode(const std::string& name) {
  PrinterHandle printer;
  if (!::OpenPrinterA(const_cast<char*>(name.c_str()), &printer.handle, nullptr))
    RaisePrinterError(("Cannot open printer " + name).c_str());
  char* device = const_cast<char*>(name.c_str());
  const LONG size = ::DocumentPropertiesA(nullptr, printer.handle, device, nullptr, nullptr, 0);
  if (size < static_cast<LONG>(sizeof(DEVMODEA) - sizeof(DWORD) * 2))
    RaisePrinterError("Cannot read the printer settings");
  std::vector<std::uint8_t> mode(static_cast<std::size_t>(size));
  if (::DocumentPropertiesA(nullptr, printer.handle, device,
                            reinterpret_cast<DEVMODEA*>(mode.data()), nullptr,
                            DM_OUT_BUFFER) != IDOK)
    RaisePrinterError("Cannot read the printer settings");
  return mode;
}

}  // namespace

TPrinter::~TPrinter() {
  if (printing_) ::AbortDoc(dc_);
  DropDc();
}

void TPrinter::Load() {
  if (!name_.empty()) return;
  DWORD size = 0;
  ::GetDefaultPrinterA(nullptr, &size);
  std::string name(size, '\0');
  if (size == 0 || !::GetDefaultPrinterA(name.data(), &size)) throw EPrinter(kNoDefaultPrinter);
  name.resize(name.find('\0') == std::string::npos ? name.size() : name.find('\0'));
  devMode_ = DefaultDevMode(name);
  name_ = std::move(name);
}

std::string TPrinter::PrinterName() {
  Load();
  return name_;
}

void TPrinter::SetPrinter(const std::string& name, const std::vector<std::uint8_t>& devMode) {
  CheckNotPrinting();
  std::vector<std::uint8_t> mode = devMode.size() >= offsetof(DEVMODEA, dmFields) + sizeof(DWORD)
                                       ? devMode
                                       : DefaultDevMode(name);
  DropDc();
  name_ = name;
  devMode_ = std::move(mode);
}

const std::vector<std::uint8_t>& TPrinter::DevMode() {
  Load();
  return devMode_;
}

TPrinterOrientation TPrinter::Orientation() {
  Load();
  return (Mode()->dmFields & DM_ORIENTATION) && Mode()->dmOrientation == DMORIENT_LANDSCAPE
             ? poLandscape
             : poPortrait;
}

void TPrinter::SetOrientation(TPrinterOrientation value) {
  CheckNotPrinting();
  Load();
  const short orientation = value == poLandscape ? DMORIENT_LANDSCAPE : DMORIENT_PORTRAIT;
  if ((Mode()->dmFields & DM_ORIENTATION) && Mode()->dmOrientation == orientation) return;
  Mode()->dmFields |= DM_ORIENTATION;
  Mode()->dmOrientation = orientation;
  DropDc();  // the metrics change with the orientation
}

HDC TPrinter::Dc() {
  Load();
  if (!dc_) {
    dc_ = ::CreateDCA("WINSPOOL", name_.c_str(), nullptr, Mode());
    if (!dc_) RaisePrinterError(("Cannot open printer " + name_).c_str());
  }
  return dc_;
}

void TPrinter::DropDc() {
  canvas_.SetHandle(nullptr);
  if (dc_) ::DeleteDC(dc_);
  dc_ = nullptr;
}

void TPrinter::CheckNotPrinting() const {
  if (printing_) throw EPrinter("Printing in progress");
}

TPrinterMetrics TPrinter::Metrics() {
  HDC dc = Dc();
  TPrinterMetrics m;
  m.PageWidth = ::GetDeviceCaps(dc, HORZRES);
  m.PageHeight = ::GetDeviceCaps(dc, VERTRES);
  m.PixelsPerInchX = ::GetDeviceCaps(dc, LOGPIXELSX);
  m.PixelsPerInchY = ::GetDeviceCaps(dc, LOGPIXELSY);
  m.OffsetX = ::GetDeviceCaps(dc, PHYSICALOFFSETX);
  m.OffsetY = ::GetDeviceCaps(dc, PHYSICALOFFSETY);
  m.UnprintableRight = ::GetDeviceCaps(dc, PHYSICALWIDTH) - m.OffsetX - m.PageWidth;
  m.UnprintableBottom = ::GetDeviceCaps(dc, PHYSICALHEIGHT) - m.OffsetY - m.PageHeight;
  return m;
}

void TPrinter::BeginDoc() {
  CheckNotPrinting();
  HDC dc = Dc();
  DOCINFOA info{};
  info.cbSize = sizeof info;
  info.lpszDocName = Title.c_str();
  if (::StartDocA(dc, &info) <= 0) RaisePrinterError("Cannot start the print job");
  if (::StartPage(dc) <= 0) {
    ::AbortDoc(dc);
    DropDc();
    RaisePrinterError("Cannot start the page");
  }
  printing_ = true;
  canvas_.SetHandle(dc);
}

void TPrinter::EndDoc() {
  if (!printing_) throw EPrinter("Printer is not currently printing");
  HDC dc = dc_;
  const bool pageEnded = ::EndPage(dc) > 0;
  const bool ended = pageEnded && ::EndDoc(dc) > 0;
  if (!ended) {
    const std::string reason = platform::LastErrorText();
    ::AbortDoc(dc);
    printing_ = false;
    DropDc();
    throw EPrinter(reason.empty() ? "Cannot finish the print job"
                                  : "Cannot finish the print job: " + reason);
  }
  printing_ = false;
  // A device context serves one job.
  DropDc();
}

void TPrinter::Abort() {
  if (!printing_) return;
  ::AbortDoc(dc_);
  printing_ = false;
  DropDc();
}

TCanvas& TPrinter::Canvas() {
  if (!printing_) throw EPrinter("Printer is not currently printing");
  return canvas_;
}

TPrinter& Printer() {
  static TPrinter printer;
  return printer;
}

}  // namespace lumetra
