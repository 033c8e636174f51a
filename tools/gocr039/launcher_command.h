// The command lines of gocr039.exe: what the OCR command hands it
// ("IMAGE > OUTPUT", names unquoted and possibly with spaces) and what it
// hands the recogniser.
#pragma once

#include <string>

namespace quorvex::gocr039 {

// The arguments of a Windows command line: what follows the program name
// (quoted or not) and the blanks after it.
std::string ArgumentsOf(const std::string& commandLine);

struct TImageAndOutput {
  std::string image;
  std::string output;
};

// Splits Arguments at the " > " token; each side loses its outer blanks
// and one pair of enclosing quotes. False when there is no token or a side is
// empty.
bool SplitImageAndOutput(const std::string& arguments, TImageAndOutput& files);

// The command line that runs gocr on Files.image with its text going to
// Files.output.
std::string GocrCommandLine(const std::string& gocrPath, const TImageAndOutput& files);

}  // namespace quorvex::gocr039
