// The converter's own look at the PDF it wrote: the cross-reference chain,
// every object where the table says it is, every stream as long as it says,
// every JPEG stream a single well-formed image, one page per TIFF page. And
// document properties outside ASCII, which the tool can only write in
// PDFDocEncoding, replaced through an incremental update as UTF-16BE.
#pragma once

#include <string>
#include <vector>

namespace quorvex::tiff2pdf {

// Why a reader would refuse or misread Bytes; empty when the file is sound.
// ExpectedPages < 0 skips the page count.
std::string CheckPdf(const std::string& bytes, int expectedPages);

// A document property: its key without the slash ("Title") and its value in
// UTF-16.
struct TPdfText {
  std::string key;
  std::u16string value;
};

// The bytes to append to Bytes so that its document information holds
// Entries (replacing keys of the same name, keeping the others).
std::string InfoUpdate(const std::string& bytes, const std::vector<TPdfText>& entries);

// A PDF text string: a literal for printable ASCII, else UTF-16BE with its
// byte-order mark, written in hexadecimal.
std::string PdfTextString(const std::u16string& text);

}  // namespace quorvex::tiff2pdf
