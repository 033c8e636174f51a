#include "automation/pdf_conversion.h"

#include <cstring>
#include <new>
#include <stdexcept>

namespace quorvex::automation {

namespace {

bool IsPathDelimiter(char c) { return c == '\\' || c == '/' || c == ':'; }

std::string LowerAscii(std::string_view text) {
  std::string result(text);
  for (char& c : result)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return result;
}

// The name as the file system resolves it: Windows ignores trailing dots and
// blanks and compares case-insensitively.
std::string FileSystemKey(std::string_view name) {
  std::string key = TrimControls(name);
  while (!key.empty() && (key.back() == '.' || key.back() == ' ')) key.pop_back();
  return LowerAscii(key);
}

}  // namespace

std::string TrimControls(std::string_view text) {
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && static_cast<unsigned char>(text[first]) <= 32) ++first;
  while (last > first && static_cast<unsigned char>(text[last - 1]) <= 32) --last;
  return std::string(text.substr(first, last - first));
}

std::string PdfOutputName(std::string_view filename) {
  std::size_t dot = std::string_view::npos;
  for (std::size_t i = filename.size(); i > 0; --i) {
    const char c = filename[i - 1];
    if (IsPathDelimiter(c)) break;
    if (c == '.') {
      dot = i - 1;
      break;
    }
  }
  std::string result(filename.substr(0, dot));
  result += ".pdf";
  return result;
}

bool PdfNameIsDocument(std::string_view filename) {
  const std::string document = FileSystemKey(filename);
  if (document.empty()) return false;
  const std::string output = PdfOutputName(filename);
  return FileSystemKey(output) == document;
}

TConverterArguments::TConverterArguments(const TPdfSettings& settings) {
  try {
    Append("tiff2pdf.exe");
    const std::string output = TrimControls(PdfOutputName(settings.Filename));
    if (output.size() >= 5) Append("-o" + output);
    const std::string paper = LowerAscii(TrimControls(settings.PdfPaperSize));
    if (paper == "a4" || paper == "letter" || paper == "legal") Append("-p" + paper);
    const struct {
      const char* option;
      const std::string& value;
    } texts[] = {{"-c", settings.PdfCreator}, {"-a", settings.PdfAuthor},
                 {"-t", settings.PdfTitle},   {"-s", settings.PdfSubject},
                 {"-k", settings.PdfKeywords}};
    for (const auto& text : texts) {
      const std::string value = TrimControls(text.value);
      if (!value.empty()) Append(text.option + value);
    }
    const std::string input = TrimControls(settings.Filename);
    if (input.size() >= 5) Append(input);
  } catch (...) {
    Release();
    throw;
  }
}

TConverterArguments::~TConverterArguments() { Release(); }

void TConverterArguments::Release() noexcept {
  for (char*& slot : slots_) {
    delete[] slot;
    slot = nullptr;
  }
  count_ = 0;
}

void TConverterArguments::Append(std::string_view text) {
  // The last slot always stays null: it terminates the vector.
  if (count_ >= kSlotCount - 1) throw std::length_error("too many converter arguments");
  char* copy = new char[text.size() + 1];
  std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
  slots_[count_++] = copy;
}

std::int32_t ConvertDocumentToPdf(const TPdfSettings& settings, const TConversionActions& actions) {
  // Deleting "the old PDF" would delete the scanned pages themselves.
  if (PdfNameIsDocument(settings.Filename)) return kPdfWouldOverwrite;
  const std::string output = PdfOutputName(settings.Filename);
  if (actions.FileExists(output) && !actions.RemoveFile(output)) return kPdfDeleteFailed;
  TConverterArguments arguments(settings);
  return actions.Convert(arguments.Count(), arguments.Vector(), kConverterArgLimit);
}

}  // namespace quorvex::automation
