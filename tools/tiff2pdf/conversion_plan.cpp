#include "conversion_plan.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>

namespace quorvex::tiff2pdf {

namespace {

struct TOption {
  char letter;
  std::string value;
};

bool TakesValue(char letter) {
  return std::strchr("moquxywlrpecatsk", letter) != nullptr;
}

// The options as the tool's getopt reads them (a value joined or in the next
// slot) and the operands.
void ParseArguments(const std::vector<std::string>& argv, std::vector<TOption>& options,
                    std::vector<std::string>& operands) {
  bool optionsEnd = false;
  for (std::size_t i = 1; i < argv.size(); ++i) {
    const std::string& arg = argv[i];
    if (optionsEnd || arg.size() < 2 || arg[0] != '-') {
      operands.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnd = true;
      continue;
    }
    for (std::size_t p = 1; p < arg.size(); ++p) {
      if (!TakesValue(arg[p])) {
        options.push_back({arg[p], {}});
        continue;
      }
      std::string value =
          p + 1 < arg.size() ? arg.substr(p + 1) : (i + 1 < argv.size() ? argv[++i] : "");
      options.push_back({arg[p], std::move(value)});
      break;
    }
  }
}

// The tool's paper sizes, in points.
bool PaperSize(const std::string& name, double& width, double& height) {
  static const struct {
    const char* name;
    double width, height;
  } papers[] = {{"a4", 595, 842}, {"letter", 612, 792}, {"legal", 612, 1008}};
  for (const auto& paper : papers)
    if (name == paper.name) {
      width = paper.width;
      height = paper.height;
      return true;
    }
  return false;
}

bool IsAscii(const std::string& text) {
  for (unsigned char c : text)
    if (c >= 0x80) return false;
  return true;
}

const char* InfoKey(char letter) {
  switch (letter) {
    case 'c':
      return "Creator";
    case 'a':
      return "Author";
    case 't':
      return "Title";
    case 's':
      return "Subject";
    case 'k':
      return "Keywords";
    default:
      return nullptr;
  }
}

}  // namespace

TInputSummary SummariseTiff(const std::string& name) {
  TInputSummary summary;
  TIFF* tif = TIFFOpen(name.c_str(), "r");
  if (!tif) return summary;
  summary.pages = 0;
  do {
    ++summary.pages;
    uint16_t compression = COMPRESSION_NONE, unit = RESUNIT_INCH;
    uint32_t width = 0, height = 0;
    float xres = 0, yres = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    if (!TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xres) || xres <= 0) xres = 72;
    if (!TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yres) || yres <= 0) yres = 72;
    const double perUnit = unit == RESUNIT_CENTIMETER ? 72 / 2.54 : 72;
    const double w = unit == RESUNIT_NONE ? width : width * perUnit / xres;
    const double h = unit == RESUNIT_NONE ? height : height * perUnit / yres;
    summary.maxWidth = std::max(summary.maxWidth, w);
    summary.maxHeight = std::max(summary.maxHeight, h);
    (compression == COMPRESSION_JPEG ? summary.jpeg : summary.other) = true;
  } while (TIFFReadDirectory(tif));
  TIFFClose(tif);
  return summary;
}

TConversionPlan PlanConversion(const std::vector<std::string>& argv) {
  std::vector<TOption> options;
  std::vector<std::string> operands;
  ParseArguments(argv, options, operands);
  TConversionPlan plan;
  for (const TOption& option : options)
    if (option.letter == 'o') plan.output = option.value;

  const TInputSummary input = operands.size() == 1 ? SummariseTiff(operands[0]) : TInputSummary{};
  plan.pages = input.pages;
  plan.tool.push_back(argv.empty() ? "tiff2pdf" : argv[0]);
  // A mixed document is encoded losslessly; JPEG pages alone stay JPEG.
  if (input.jpeg && input.other) {
    plan.tool.insert(plan.tool.end(), {"-n", "-z"});
  } else if (input.jpeg) {
    plan.tool.insert(plan.tool.end(), {"-n", "-j", "-q90"});
  }
  std::string paper;
  for (const TOption& option : options)
    if (option.letter == 'p') paper = option.value;
  double paperWidth = 0, paperHeight = 0;
  // A point of slack: an A4 scan at 300 dpi is 595.2 points wide.
  if (PaperSize(paper, paperWidth, paperHeight) &&
      (input.maxWidth > paperWidth + 1 || input.maxHeight > paperHeight + 1))
    plan.tool.push_back("-F");
  for (const TOption& option : options) {
    const char* key = InfoKey(option.letter);
    if (key && !IsAscii(option.value)) {
      plan.texts.push_back({key, option.value});
      continue;
    }
    plan.tool.push_back(std::string("-") + option.letter + option.value);
  }
  plan.tool.insert(plan.tool.end(), operands.begin(), operands.end());
  return plan;
}

}  // namespace quorvex::tiff2pdf
