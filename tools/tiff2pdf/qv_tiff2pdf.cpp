// tiff2pdf.dll: libtiff's own tiff2pdf tool, compiled with its main() renamed,
// behind the entry point QVTiff2Pdf(argc, argv, limit) that Quorvex calls.
//
// The tool is written as a program: it parses its options with getopt's
// global state, reports through libtiff's global handlers to the console and
// leaves a half-written output behind when it fails. The entry point makes it
// safe to call repeatedly from a host process: it checks the vector, resets
// the option parser, keeps libtiff's messages off the console (the host may
// have none), serialises calls, and removes a failed conversion's output.
// It also chooses the tool's options so that every page comes out readable,
// and checks the PDF before calling the conversion done.
// optreset is declared only for code that asks for BSD's getopt.
#define _BSD_SOURCE 1
#include <windows.h>
#include <getopt.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "conversion_plan.h"
#include "pdf_file.h"

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
constexpr int kBadOutput = -7;

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

std::u16string SystemToUtf16(const std::string& text) {
  const int length =
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(std::max(length, 0)), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return std::u16string(wide.begin(), wide.end());
}

std::string ReadWholeFile(const std::string& name) {
  std::string bytes;
  if (FILE* file = std::fopen(name.c_str(), "rb")) {
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, n);
    std::fclose(file);
  }
  return bytes;
}

bool AppendToFile(const std::string& name, const std::string& bytes) {
  FILE* file = std::fopen(name.c_str(), "ab");
  if (!file) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

}  // namespace

extern "C" __declspec(dllexport) int __cdecl QVTiff2Pdf(int argc, char** argv, int limit) {
  try {
    if (!argv || argc < 1 || limit < 1 || argc > limit) return kBadVector;
    for (int i = 0; i < argc; ++i)
      if (!argv[i]) return kBadVector;
    if (argv[argc] != nullptr) return kBadVector;

    std::lock_guard<std::mutex> guard(callLock);
    lastMessage.clear();
    const TIFFErrorHandler oldError = TIFFSetErrorHandler(ErrorHandler);
    const TIFFErrorHandler oldWarning = TIFFSetWarningHandler(WarningHandler);
    struct TRestoreHandlers {
      TIFFErrorHandler error, warning;
      ~TRestoreHandlers() {
        TIFFSetErrorHandler(error);
        TIFFSetWarningHandler(warning);
      }
    } restore{oldError, oldWarning};

    quorvex::tiff2pdf::TConversionPlan plan =
        quorvex::tiff2pdf::PlanConversion(std::vector<std::string>(argv, argv + argc));
    // Without "-o" the tool would write the PDF to the host's standard output.
    if (plan.output.empty()) return kNoOutput;
    const std::string outputName = plan.output;
    std::vector<quorvex::tiff2pdf::TPdfText> texts;
    for (const auto& text : plan.texts) texts.push_back({text.key, SystemToUtf16(text.value)});
    std::vector<char*> vector;
    for (std::string& arg : plan.tool) vector.push_back(arg.data());
    vector.push_back(nullptr);

    // mingw's getopt restarts its scan when optreset is set.
    optreset = 1;
    optind = 1;
    opterr = 0;
    const int status = qv_tiff2pdf_main(static_cast<int>(plan.tool.size()), vector.data());
    optreset = 1;
    optind = 1;

    if (status != 0) {
      // What the tool wrote before failing is no PDF.
      std::remove(outputName.c_str());
      return kToolFailed;
    }
    std::string pdf = ReadWholeFile(outputName);
    if (!texts.empty()) {
      std::string update;
      try {
        update = quorvex::tiff2pdf::InfoUpdate(pdf, texts);
      } catch (const std::exception& error) {
        std::remove(outputName.c_str());
        lastMessage = std::string("tiff2pdf: the PDF written is unreadable: ") + error.what();
        return kBadOutput;
      }
      if (!AppendToFile(outputName, update)) {
        std::remove(outputName.c_str());
        lastMessage = "tiff2pdf: cannot write the document properties";
        return kToolFailed;
      }
      pdf += update;
    }
    const std::string fault = quorvex::tiff2pdf::CheckPdf(pdf, plan.pages);
    if (!fault.empty()) {
      std::remove(outputName.c_str());
      lastMessage = "tiff2pdf: the PDF written is unreadable: " + fault;
      OutputDebugStringA((lastMessage + "\n").c_str());
      return kBadOutput;
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
