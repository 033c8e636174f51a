// Prints one dark image in every sizing mode on the current printer, one job
// per case titled "<tag>-<case>", and reports for each what the printer said
// and where the image was to land, for print_check.sh to compare with the
// PDF that arrives. Usage: print_host.exe TAG
#include <cstdio>
#include <exception>
#include <string>

#include "imaging/dib_graphic.h"
#include "printing/win32/dib_graphic_printer.h"
#include "printing/win32/printer.h"

using namespace lumetra;

namespace {

struct PrintCase {
  const char* name;
  TPrintMode mode;
  int width, height;  // pixels at 100 dpi
  double widthInches, heightInches, leftMargin, topMargin;
};

constexpr PrintCase kCases[] = {
    {"original", pfOriginalSize, 300, 400, 5, 5, 1.0, 0.5},
    {"fullpage", pfFullPage, 300, 400, 5, 5, 1.0, 0.5},
    {"width", pfSpecificWidth, 300, 400, 2.5, 5, 0, 0},
    {"height", pfSpecificHeight, 300, 400, 5, 3, 0, 0},
    // A portrait image: the inches choose landscape.
    {"widthheight", pfSpecificWidthAndHeight, 300, 400, 5, 3, 0, 0},
    {"stretch", pfStretchToPage, 300, 400, 5, 5, 0, 0},
    // A landscape image turns the paper.
    {"fullpage-landscape", pfFullPage, 400, 300, 5, 5, 0, 0},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: print_host TAG\n");
    return 2;
  }
  try {
    std::printf("printer=%s\n", Printer().PrinterName().c_str());
    for (const PrintCase& c : kCases) {
      TDibGraphic image;
      image.NewImage(c.width, c.height, ifTrueColor, nullptr, 100, 100);
      for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width * 3; ++x) image.ScanLine(y)[x] = 0x30;
      TDibGraphicPrinter printer;
      printer.SetPrintMode(c.mode);
      printer.SetWidthInches(c.widthInches);
      printer.SetHeightInches(c.heightInches);
      printer.SetLeftMarginInches(c.leftMargin);
      printer.SetTopMarginInches(c.topMargin);
      const std::string title = std::string(argv[1]) + "-" + c.name;
      printer.SetTitle(title);
      printer.Print(image);
      const TPrinterMetrics& m = printer.Metrics();
      TPrintLayout layout{c.mode, c.widthInches, c.heightInches, c.leftMargin, c.topMargin};
      const TRect r = PrintRectangle(layout, m, c.width, c.height, 100, 100);
      std::printf("%s %s %d %d %d %d %d %d %d %d %d %d %d %d %d\n", c.name, title.c_str(),
                  PrintLandscape(layout, c.width, c.height) ? 1 : 0, m.PixelsPerInchX,
                  m.PixelsPerInchY, m.OffsetX, m.OffsetY, m.PageWidth, m.PageHeight, r.Left, r.Top,
                  r.Right, r.Bottom, c.width, c.height);
      std::fflush(stdout);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "print_host: %s\n", e.what());
    return 1;
  }
  return 0;
}
