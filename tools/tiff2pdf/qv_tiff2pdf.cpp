// tiff2pdf.dll: libtiff's own tiff2pdf tool, compiled with its main() renamed,
// behind the entry point QVTiff2Pdf(argc, argv, limit) that Quorvex calls.
//
// The tool is written as a program: it parses its options with getopt's
// global state, reports through libtiff's global handlers to the console and
// leaves a half-written output behind when it fails. The entry point makes it
// safe to call repeatedly from a host process: it checks the vector, resets
// the option parser, keeps libtiff's messages off the console (the host may
// have none), serialises calls, and removes a failed conversion's output.
// optreset is declared only for code that asks for BSD's getopt.
#define _BSD_SOURCE 1
#include <windows.h>
#include <getopt.h>
#include <tiffio.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

extern "C" int qv_tiff2pdf_main(int argc, char** argv);

// The tool's fprintf: to the debugger, never to a console.
extern "C" int qv_tool_fprintf(FILE*, const char* format, ...) {
  char text[4096];
  va_list args;
  va_start(args, format);
  const int length = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  OutputDebugStringA(text);
  return length;
}

namespace {

// Results besides the tool's own failure (-1).
constexpr int kToolFailed = -1;
constexpr int kBadVector = -4;
constexpr int kNoOutput = -5;
constexpr int kInternalError = -6;

std::mutex callLock;
std::string lastMessage;

void RecordMessage(const char* module, const char* format, va_list args) {
  char text[1024];
  std::vsnprintf(text, sizeof text, format, args);
  lastMessage = std::string(module ? module : "tiff2pdf") + ": " + text;
  OutputDebugStringA((lastMessage + "\n").c_str());
}

void ErrorHandler(const char* module, const char* format, va_list args) {
  RecordMessage(module, format, args);
}

void WarningHandler(const char* module, const char* format, va_list args) {
  // Warnings (an unknown paper size, say) do not fail the conversion; they
  // are only kept for the debugger.
  char text[1024];
  std::vsnprintf(text, sizeof text, format, args);
  OutputDebugStringA((std::string(module ? module : "tiff2pdf") + ": " + text + "\n").c_str());
}

// The file named by the "-o" option, as the tool's getopt would see it.
const char* OutputName(int argc, char** argv) {
  const char* name = nullptr;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (arg[0] != '-' || arg[1] == '\0') break;  // first operand: options end
    if (std::strcmp(arg, "--") == 0) break;
    if (arg[1] == 'o') name = arg[2] ? arg + 2 : (i + 1 < argc ? argv[i + 1] : nullptr);
  }
  return name;
}

}  // namespace

extern "C" __declspec(dllexport) int __cdecl QVTiff2Pdf(int argc, char** argv, int limit) {
  try {
    if (!argv || argc < 1 || limit < 1 || argc > limit) return kBadVector;
    for (int i = 0; i < argc; ++i)
      if (!argv[i]) return kBadVector;
    if (argv[argc] != nullptr) return kBadVector;

    // Without "-o" the tool would write the PDF to the host's standard output.
    const char* output = OutputName(argc, argv);
    if (!output || !*output) return kNoOutput;
    const std::string outputName = output;

    std::lock_guard<std::mutex> guard(callLock);
    // getopt may permute its vector; the caller's stays untouched.
    std::vector<char*> vector(argv, argv + argc + 1);

    // mingw's getopt restarts its scan when optreset is set.
    optreset = 1;
    optind = 1;
    opterr = 0;
    const TIFFErrorHandler oldError = TIFFSetErrorHandler(ErrorHandler);
    const TIFFErrorHandler oldWarning = TIFFSetWarningHandler(WarningHandler);
    lastMessage.clear();
    const int status = qv_tiff2pdf_main(argc, vector.data());
    TIFFSetErrorHandler(oldError);
    TIFFSetWarningHandler(oldWarning);
    optreset = 1;
    optind = 1;

    if (status != 0) {
      // What the tool wrote before failing is no PDF.
      std::remove(outputName.c_str());
      return kToolFailed;
    }
    return 0;
  } catch (...) {
    return kInternalError;
  }
}

// The last message libtiff or the tool reported (empty after a clean run).
extern "C" __declspec(dllexport) const char* __cdecl QVTiff2PdfLastError() {
  return lastMessage.c_str();
}
