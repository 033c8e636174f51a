// Image-only PDF documents for the tests: our writer's output as text, and
// hand-made documents with a correct cross-reference table.
#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "base/streams.h"
#include "formats/pdf_graphic.h"

namespace lumetra::testing {

inline std::string Text(TMemoryStream& s) {
  return {reinterpret_cast<const char*>(s.Memory()), static_cast<std::size_t>(s.Size())};
}

inline TMemoryStream& Fill(TMemoryStream& s, const std::string& bytes) {
  s.SetSize(0);
  s.SetPosition(0);
  if (!bytes.empty()) s.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  s.SetPosition(0);
  return s;
}

inline std::string Saved(TDibGraphic& image) {
  TPdfGraphic pdf;
  pdf.Assign(&image);
  TMemoryStream s;
  pdf.SaveToStream(s);
  return Text(s);
}

inline std::string SavedPages(const std::vector<TDibGraphic*>& pages) {
  TPdfGraphic pdf;
  TMemoryStream s;
  pdf.SaveImagesToStream(s, static_cast<int>(pages.size()), [&](int i, bool& freeIt) {
    freeIt = false;
    return static_cast<TGraphic*>(pages[i - 1]);
  });
  return Text(s);
}

inline int CountPages(const std::string& document) {
  TMemoryStream s;
  TPdfGraphic pdf;
  return pdf.GetImageCount(Fill(s, document));
}

inline std::unique_ptr<TPdfGraphic> LoadPage(const std::string& document, int page) {
  TMemoryStream s;
  auto pdf = std::make_unique<TPdfGraphic>();
  pdf->LoadImageFromStream(Fill(s, document), page);
  return pdf;
}

inline std::string TenDigits(std::size_t value) {
  const std::string digits = std::to_string(value);
  return std::string(10 - std::min<std::size_t>(10, digits.size()), '0') + digits;
}

// A document from object bodies (object N is Objects[N-1]) with a correct
// cross-reference table; the catalog is object 1 unless Trailer says more.
inline std::string BuildPdf(const std::vector<std::string>& objects,
                            const std::string& trailer = "") {
  std::string doc = "%PDF-1.4\n";
  std::vector<std::size_t> offsets;
  for (std::size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(doc.size());
    doc += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const std::size_t xref = doc.size();
  doc += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (std::size_t offset : offsets) doc += TenDigits(offset) + " 00000 n \n";
  doc += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R" + trailer +
         " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return doc;
}

// A grey 4 x 2 image object whose samples are 0x10 * (index + 1).
inline std::string GreyImageObject(const std::string& extra = "") {
  std::string data;
  for (int i = 0; i < 8; ++i) data += static_cast<char>(0x10 * (i + 1));
  return "<< /Type /XObject /Subtype /Image /Width 4 /Height 2 /BitsPerComponent 8 "
         "/ColorSpace /DeviceGray /Length 8" +
         extra + " >>\nstream\n" + data + "\nendstream";
}

// Catalog, one page tree node with the given media box, one page, image.
inline std::string OnePageDocument(const std::string& mediaBox, const std::string& image) {
  return BuildPdf({"<< /Type /Catalog /Pages 2 0 R >>",
                   "<< /Type /Pages /Kids [3 0 R] /Count 1 /MediaBox " + mediaBox + " >>",
                   "<< /Type /Page /Parent 2 0 R /Resources << /XObject << /Im1 4 0 R >> >> >>",
                   image});
}

}  // namespace lumetra::testing
