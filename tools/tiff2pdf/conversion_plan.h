// How the converter calls libtiff's tiff2pdf tool for a given vector: the
// tool's JPEG pass-through joins a page's strips into a stream no reader
// decodes, so JPEG pages are encoded anew; a page larger than the paper is
// scaled down to it instead of being cut off; text outside ASCII is kept
// back from the tool (which writes PDFDocEncoding) and written afterwards.
#pragma once

#include <string>
#include <vector>

namespace quorvex::tiff2pdf {

// What the input holds, as far as the tool's options go.
struct TInputSummary {
  int pages = -1;  // unknown: the input cannot be read, the tool says why
  bool jpeg = false;
  bool other = false;
  double maxWidth = 0, maxHeight = 0;  // in points
};

TInputSummary SummariseTiff(const std::string& name);

// A document property held back from the tool: its key ("Title") and its
// value in the system code page.
struct THeldText {
  std::string key;
  std::string value;
};

struct TConversionPlan {
  std::string output;             // the "-o" file; empty when there is none
  std::vector<std::string> tool;  // the tool's vector, program name first
  std::vector<THeldText> texts;   // to write after the tool
  int pages = -1;                 // pages the PDF must have; < 0: unknown
};

// Argv is the caller's vector (program name first, without the null).
TConversionPlan PlanConversion(const std::vector<std::string>& argv);

}  // namespace quorvex::tiff2pdf
