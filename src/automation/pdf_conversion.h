// The program's side of the PDF conversion: the converter's argument vector,
// built from the scanner's PDF settings, and the conversion step that deletes
// an old PDF and calls the external converter with that vector.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace quorvex::automation {

// The settings the conversion reads, as the automation object stores them.
struct TPdfSettings {
  std::string Filename;
  std::string PdfPaperSize;
  std::string PdfCreator;
  std::string PdfAuthor;
  std::string PdfTitle;
  std::string PdfSubject;
  std::string PdfKeywords;
};

// Results of the conversion step that do not come from the converter.
inline constexpr std::int32_t kPdfDeleteFailed = -2;   // old PDF could not be deleted
inline constexpr std::int32_t kPdfWouldOverwrite = -3; // the document itself is named .pdf

// The converter's third argument: the number of usable argument slots it may
// assume after the program name.
inline constexpr std::int32_t kConverterArgLimit = 25;

// Filename with its extension replaced by ".pdf" (appended when it has none).
std::string PdfOutputName(std::string_view filename);

// True when the PDF name would be the document itself (the document already
// carries a .pdf extension), so that deleting the old PDF would destroy the
// scanned pages.
bool PdfNameIsDocument(std::string_view filename);

// The argument vector handed to QVTiff2Pdf: 26 slots of separately allocated
// strings, null after the last argument. Owns its strings.
class TConverterArguments {
 public:
  static constexpr int kSlotCount = 26;

  explicit TConverterArguments(const TPdfSettings& settings);
  TConverterArguments(const TConverterArguments&) = delete;
  TConverterArguments& operator=(const TConverterArguments&) = delete;

  int Count() const noexcept { return count_; }
  char** Vector() noexcept { return slots_.data(); }
  const char* Slot(int index) const noexcept { return slots_.at(index); }

 private:
  void Append(std::string_view text);

  std::array<std::unique_ptr<char[]>, kSlotCount> owned_;
  std::array<char*, kSlotCount> slots_{};  // the vector the converter reads
  int count_ = 0;
};

// What the conversion step needs from the platform.
struct TConversionActions {
  std::function<bool(const std::string& path)> FileExists;
  std::function<bool(const std::string& path)> RemoveFile;
  std::function<std::int32_t(std::int32_t argc, char** argv, std::int32_t limit)> Convert;
};

// Runs the conversion: refuses a document named .pdf, deletes an existing
// PDF of the output name (kPdfDeleteFailed when it cannot), then calls the
// converter and returns its result (>= 0 success).
std::int32_t ConvertDocumentToPdf(const TPdfSettings& settings, const TConversionActions& actions);

}  // namespace quorvex::automation
