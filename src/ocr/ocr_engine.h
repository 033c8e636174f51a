// OCR through an exchangeable driver: the engine owns one driver, made from a
// driver class; the console driver hands the page to an external recogniser
// through two temporary files and reads the recognised lines back.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/object.h"
#include "imaging/dib_graphic.h"
#include "imaging/lumisc.h"

namespace lumetra {

class TOcrDriver : public TObject {
 public:
  const char* ClassName() const noexcept override { return "TOcrDriver"; }
  // Lines receives the recognised text, one entry a line.
  virtual void Recognize(const TDibGraphic& graphic, std::vector<std::string>& lines,
                         const TLumetraProgressEvent& onProgress) = 0;
};

// A class reference to a driver: its virtual constructor and its name.
struct TOcrDriverClass {
  std::string className;
  std::function<std::unique_ptr<TOcrDriver>()> create;
};

template <class T>
TOcrDriverClass OcrDriverClassOf() {
  return TOcrDriverClass{T().ClassName(), [] { return std::make_unique<T>(); }};
}

class TConsoleOcrDriver : public TOcrDriver {
 public:
  const char* ClassName() const noexcept override { return "TConsoleOcrDriver"; }
  // Raises ELumetraError "OCR program not specified", "OCR input file format
  // not specified", the registry's message for an unknown format, and
  // "Unable to execute program, " + OcrProgram when the recogniser cannot be
  // started or waited for. Its exit code is not looked at.
  void Recognize(const TDibGraphic& graphic, std::vector<std::string>& lines,
                 const TLumetraProgressEvent& onProgress) override;

  // The command that starts the recogniser, possibly with fixed options.
  const std::string& OcrProgram() const { return ocrProgram_; }
  void SetOcrProgram(const std::string& value) { ocrProgram_ = value; }
  // The extension of the format the page is handed over in ("pbm" or ".pbm").
  const std::string& InputFormat() const { return inputFormat_; }
  void SetInputFormat(const std::string& value) { inputFormat_ = value; }

 private:
  std::string ocrProgram_;
  std::string inputFormat_;
};

class TOcrEngine : public TObject {
 public:
  explicit TOcrEngine(const TOcrDriverClass& driverClass);
  const char* ClassName() const noexcept override { return "TOcrEngine"; }
  TOcrDriver& Driver() { return *driver_; }
  void Recognize(const TDibGraphic& graphic, std::vector<std::string>& lines,
                 const TLumetraProgressEvent& onProgress);

 private:
  std::unique_ptr<TOcrDriver> driver_;
};

// The recogniser's command line: the output file follows a literal " > "
// token, which is a redirection only when Program starts a shell itself.
std::string OcrCommandLine(const std::string& program, const std::string& imageFile,
                           const std::string& outputFile);
// The lines of Text split at CR LF, LF or CR; a final line break ends the
// last line rather than starting an empty one.
std::vector<std::string> TextLines(const std::string& text);

}  // namespace lumetra
