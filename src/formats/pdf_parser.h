// TPDFParser: the reading side of the image-only PDF format. It reads the
// header, the classic cross-reference tables and trailers, walks the page
// tree and finds the first image of a page; it is no PDF interpreter. Its
// input is untrusted: every offset, length and count is checked against the
// stream, nesting is limited, and every failure is an EPdfError.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/exception.h"
#include "base/object.h"
#include "base/streams.h"

namespace lumetra {

LUMETRA_DECLARE_EXCEPTION(EPdfError, Exception);

struct TPdfEntry;

// One parsed PDF value. Names are kept without their slash, strings as
// their decoded bytes.
struct TPdfValue {
  enum TKind : std::uint8_t {
    pvNull,
    pvBoolean,
    pvNumber,
    pvName,
    pvString,
    pvArray,
    pvDictionary,
    pvReference
  };
  TKind kind = pvNull;
  bool boolean = false;
  double number = 0;
  bool integer = false;                           // written without a decimal point
  std::string text;                               // name or string
  std::vector<TPdfValue> items;                   // array
  std::vector<TPdfEntry> entries;                 // dictionary, in file order
  std::int32_t objectNumber = 0, generation = 0;  // reference

  bool Is(TKind k) const { return kind == k; }
  bool IsName(const char* name) const { return kind == pvName && text == name; }
  // The dictionary entry Key (without slash), or null.
  const TPdfValue* Find(const std::string& key) const;
};

struct TPdfEntry {
  std::string key;
  TPdfValue value;
};

// Serialises a value in PDF syntax (a copied image dictionary's entries).
std::string PdfValueText(const TPdfValue& value);
// "0.####": up to four decimals, "." whatever the locale.
std::string PdfNumberText(long double value);

// One cross-reference entry.
class TPDFObject : public TObject {
 public:
  TPDFObject(std::int32_t number, std::int32_t generation, std::int64_t offset)
      : Number(number), Generation(generation), Offset(offset) {}
  const char* ClassName() const noexcept override { return "TPDFObject"; }
  std::int32_t Number, Generation;
  std::int64_t Offset;
};

// One leaf of the page tree with what it inherits from its ancestors.
class TPDFPage : public TObject {
 public:
  const char* ClassName() const noexcept override { return "TPDFPage"; }
  std::int32_t Number = 0;
  double MediaBox[4] = {0, 0, 0, 0};  // left, bottom, right, top
  TPdfValue Resources;                // dictionary or reference; null when none
};

// An indirect object: its value and, for a stream, where its data lies.
struct TPdfIndirectObject {
  std::int32_t number = 0;
  TPdfValue value;
  bool isStream = false;
  std::int64_t dataOffset = 0;  // absolute position of the first data byte
};

class TPdfByteSource;

class TPDFParser : public TObject {
 public:
  explicit TPDFParser(TStream& stream);
  ~TPDFParser() override;
  const char* ClassName() const noexcept override { return "TPDFParser"; }

  void ReadHeader();
  void ReadXRefChain();
  void ReadPageTree();

  double Version() const { return version_; }
  std::int64_t XRefOffset() const { return xrefOffset_; }
  std::int32_t RootNumber() const { return root_; }
  std::int32_t InfoNumber() const { return info_; }
  const std::vector<TPDFObject>& Objects() const { return objects_; }
  const std::vector<TPDFPage>& Pages() const { return pages_; }

  // The object's value (and stream position); an object missing from the
  // tables reads as null.
  TPdfIndirectObject ReadObject(std::int32_t number);
  // Follows references (a bounded number of them) to a direct value.
  TPdfValue Resolve(const TPdfValue& value);
  // The stream's raw (still encoded) bytes, its /Length checked against the
  // stream; raises "Stream not found !" for an object without data.
  void ReadStreamData(const TPdfIndirectObject& object, std::vector<std::uint8_t>& dest);
  // The page's resources dictionary (PageIndex 0-based in Pages()).
  TPdfValue FindPageResources(int pageIndex);
  // The object number of the page's first image XObject.
  std::int32_t FindFirstImageObject(int pageIndex);

 private:
  void ReadXRefTable(std::int64_t offset, std::int64_t& previous);
  void WalkPages(std::int32_t node, const TPDFPage& inherited, int depth,
                 std::vector<std::int32_t>& path);
  const TPDFObject* Lookup(std::int32_t number) const;

  TStream& stream_;
  std::int64_t start_;
  std::int64_t size_;
  std::unique_ptr<TPdfByteSource> source_;  // the stream's bytes, read a window at a time
  double version_ = 0;
  std::int64_t xrefOffset_ = 0;
  std::vector<TPDFObject> objects_;  // sorted by number, newest entry first
  std::vector<TPDFPage> pages_;
  std::int32_t root_ = -1, info_ = -1;
};

}  // namespace lumetra
