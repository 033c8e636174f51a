#include "printing/win32/dib_graphic_printer.h"

#include "printing/win32/printer.h"

namespace lumetra {

TDibGraphicPrinter::TDibGraphicPrinter() {
  SetPrintMode(pfFullPage);
}

void TDibGraphicPrinter::SetPrintMode(TPrintMode value) {
  TPrinter& printer = Printer();
  if (layout_.PrintMode == pfSpecificWidthAndHeight && autoJob_)
    printer.SetOrientation(layout_.WidthInches > layout_.HeightInches ? poLandscape : poPortrait);
  metrics_ = printer.Metrics();
  layout_.PrintMode = value;
}

void TDibGraphicPrinter::Print(TDibGraphic& graphic) {
  if (graphic.Empty()) throw ELumetraError("Graphic is empty");
  TPrinter& printer = Printer();
  const std::int32_t width = graphic.Width(), height = graphic.Height();
  if (autoJob_)
    printer.SetOrientation(PrintLandscape(layout_, width, height) ? poLandscape : poPortrait);
  metrics_ = printer.Metrics();
  const TRect rect =
      PrintRectangle(layout_, metrics_, width, height, graphic.XDpi(), graphic.YDpi());
  TBusyCursor busy;
  if (autoJob_) {
    printer.Title = title_;
    printer.BeginDoc();
  }
  try {
    graphic.Draw(printer.Canvas(), rect);
    if (autoJob_) printer.EndDoc();
  } catch (...) {
    if (autoJob_) printer.Abort();
    throw;
  }
}

}  // namespace lumetra
