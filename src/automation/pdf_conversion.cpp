#include "automation/pdf_conversion.h"

#include <cstring>
#include <new>
#include <stdexcept>

#include "base/conversions.h"

namespace quorvex::automation {

using lumetra::LowerCase;
using lumetra::Trim;

namespace {

bool IsPathDelimiter(char c) { return c == '\\' || c == '/' || c == ':'; }

// The name as the file system resolves it: Windows ignores trailing dots and
// blanks and compares case-insensitively.
std::string FileSystemKey(std::string_view name) {
  std::string key = Trim(name);
  while (!key.empty() && (key.back() == '.' || key.back() == ' ')) key.pop_back();
  return LowerCase(key);
}

}  // namespace

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
  Append("tiff2pdf.exe");
  const std::string output = Trim(PdfOutputName(settings.Filename));
  if (output.size() >= 5) Append("-o" + output);
  const std::string paper = LowerCase(Trim(settings.PdfPaperSize));
  if (paper == "a4" || paper == "letter" || paper == "legal") Append("-p" + paper);
  const struct {
    const char* option;
    const std::string& value;
  } texts[] = {{"-c", settings.PdfCreator}, {"-a", settings.PdfAuthor},
               {"-t", settings.PdfTitle},   {"-s", settings.PdfSubject},
               {"-k", settings.PdfKeywords}};
  for (const auto& text : texts) {
    const std::string value = Trim(text.value);
    if (!value.empty()) Append(text.option + value);
  }
  const std::string input = Trim(settings.Filename);
  if (input.size() >= 5) Append(input);
}

void TConverterArguments::Append(std::string_view text) {
  // The last slot always stays null: it terminates the vector.
  if (count_ >= kSlotCount - 1) throw std::length_error("too many converter arguments");
  auto copy = std::make_unique<char[]>(text.size() + 1);
  std::memcpy(copy.get(), text.data(), text.size());
  slots_[count_] = copy.get();
  owned_[count_++] = std::move(copy);
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
