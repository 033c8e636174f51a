#include "ocr/ocr_engine.h"

#include <cstdint>

#include "base/streams.h"
#include "formats/registry.h"
#include "platform/platform.h"

namespace lumetra {

namespace {

// Deletes the temporary files of one recognition, whatever way it ends.
class TTempFiles {
 public:
  TTempFiles() = default;
  TTempFiles(const TTempFiles&) = delete;
  TTempFiles& operator=(const TTempFiles&) = delete;
  ~TTempFiles() {
    for (const std::string& name : names_) platform::RemoveFile(name);
  }
  std::string Add(std::string name) {
    names_.push_back(name);
    return name;
  }

 private:
  std::vector<std::string> names_;
};

// The program's name when Program starts with a bare one (no folder, no
// quotes), else empty.
std::string BareProgramName(const std::string& program) {
  const std::string name = program.substr(0, program.find(' '));
  if (name.find_first_of("\\/:\"") != std::string::npos) return {};
  return name;
}

// The normal program search of the system first. A bare name that it does
// not find is looked for beside the module that holds this code too, so that
// a recogniser installed beside the library is found whichever host loaded
// the library.
bool RunRecogniser(const std::string& program, const std::string& imageFile,
                   const std::string& outputFile) {
  std::uint32_t exitCode = 0;
  if (RunAndWait(OcrCommandLine(program, imageFile, outputFile), false, exitCode)) return true;
  const std::string name = BareProgramName(program);
  const std::string folder = platform::ModuleDirectory();
  if (name.empty() || folder.empty() || !platform::FileExists(folder + name)) return false;
  const std::string besideModule = "\"" + folder + name + "\"" + program.substr(name.size());
  return RunAndWait(OcrCommandLine(besideModule, imageFile, outputFile), false, exitCode);
}

}  // namespace

std::string OcrCommandLine(const std::string& program, const std::string& imageFile,
                           const std::string& outputFile) {
  return program + " " + imageFile + " > " + outputFile;
}

std::vector<std::string> TextLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
  }
  return lines;
}

void TConsoleOcrDriver::Recognize(const TDibGraphic& graphic, std::vector<std::string>& lines,
                                  const TLumetraProgressEvent& onProgress) {
  if (ocrProgram_.empty()) throw ELumetraError("OCR program not specified");
  if (inputFormat_.empty()) throw ELumetraError("OCR input file format not specified");
  std::uint8_t lastPercent = ReportProgress(this, 0, 0, 255, 100, onProgress);
  {
    TTempFiles temporary;
    // A name without its dot is taken as the extension itself.
    auto page = CreateGraphicForFile(inputFormat_[0] == '.' ? inputFormat_ : "." + inputFormat_);
    page->Assign(&graphic);
    const std::string imageFile = temporary.Add(CreateTempFileName("ocr", "tmp"));
    page->SaveToFile(imageFile);
    const std::string outputFile = temporary.Add(CreateTempFileName("ocr", "tmp"));
    TFileStream(outputFile, fmCreate);  // reserves the name
    if (!RunRecogniser(ocrProgram_, imageFile, outputFile))
      throw ELumetraError("Unable to execute program, " + ocrProgram_);
    TMemoryStream text;
    text.LoadFromFile(outputFile);
    lines = TextLines(std::string(reinterpret_cast<const char*>(text.Memory()),
                                  static_cast<std::size_t>(text.Size())));
  }
  ReportProgress(this, 100, 0, lastPercent, 100, onProgress);
}

TOcrEngine::TOcrEngine(const TOcrDriverClass& driverClass) : driver_(driverClass.create()) {}

void TOcrEngine::Recognize(const TDibGraphic& graphic, std::vector<std::string>& lines,
                           const TLumetraProgressEvent& onProgress) {
  driver_->Recognize(graphic, lines, onProgress);
}

}  // namespace lumetra
