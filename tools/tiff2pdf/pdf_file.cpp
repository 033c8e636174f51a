#include "pdf_file.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <stdexcept>

namespace quorvex::tiff2pdf {

namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\r' || c == '\n' || c == '\t' || c == '\f' || c == '\0';
}
bool IsDelimiter(char c) {
  return IsSpace(c) || std::strchr("()<>[]{}/%", c) != nullptr;
}

struct TBad : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A cursor over the file's bytes; every read is bounds-checked.
class TScanner {
 public:
  TScanner(const std::string& bytes, std::size_t at) : s_(bytes), at_(at) {}
  std::size_t At() const { return at_; }
  void SkipSpace() {
    while (at_ < s_.size()) {
      if (IsSpace(s_[at_])) {
        ++at_;
      } else if (s_[at_] == '%') {
        while (at_ < s_.size() && s_[at_] != '\n' && s_[at_] != '\r') ++at_;
      } else {
        break;
      }
    }
  }
  bool Keyword(const char* word) {
    SkipSpace();
    const std::size_t n = std::strlen(word);
    if (s_.compare(at_, n, word) != 0) return false;
    if (at_ + n < s_.size() && !IsDelimiter(s_[at_ + n])) return false;
    at_ += n;
    return true;
  }
  void Expect(const char* word, const std::string& what) {
    if (!Keyword(word)) throw TBad("expected \"" + std::string(word) + "\" " + what);
  }
  long long Integer(const std::string& what) {
    SkipSpace();
    std::size_t end = at_;
    if (end < s_.size() && (s_[end] == '-' || s_[end] == '+')) ++end;
    const std::size_t digits = end;
    while (end < s_.size() && s_[end] >= '0' && s_[end] <= '9') ++end;
    if (end == digits || end - digits > 12) throw TBad("expected a number " + what);
    const long long value = std::stoll(s_.substr(at_, end - at_));
    at_ = end;
    return value;
  }
  // One complete object (dictionary, array, string, name, number,
  // reference or keyword); answers its text.
  std::string Object() {
    SkipSpace();
    const std::size_t start = at_;
    SkipObject();
    return s_.substr(start, at_ - start);
  }
  void SkipObject() {
    SkipSpace();
    if (at_ >= s_.size()) throw TBad("unexpected end of file");
    const char c = s_[at_];
    if (c == '(') {
      SkipLiteral();
    } else if (c == '<' && at_ + 1 < s_.size() && s_[at_ + 1] == '<') {
      at_ += 2;
      for (;;) {
        SkipSpace();
        if (s_.compare(at_, 2, ">>") == 0) {
          at_ += 2;
          return;
        }
        SkipObject();
      }
    } else if (c == '<') {
      const std::size_t end = s_.find('>', at_);
      if (end == std::string::npos) throw TBad("unterminated hex string");
      at_ = end + 1;
    } else if (c == '[') {
      ++at_;
      for (;;) {
        SkipSpace();
        if (at_ < s_.size() && s_[at_] == ']') {
          ++at_;
          return;
        }
        SkipObject();
      }
    } else if (c == '/') {
      ++at_;
      while (at_ < s_.size() && !IsDelimiter(s_[at_])) ++at_;
    } else if (c == ')' || c == '>' || c == ']' || c == '{' || c == '}') {
      throw TBad(std::string("unexpected '") + c + "'");
    } else {
      const std::size_t start = at_;
      while (at_ < s_.size() && !IsDelimiter(s_[at_])) ++at_;
      // "n g R": a reference reads as one object.
      const std::size_t save = at_;
      if (IsNumber(start, at_)) {
        SkipSpace();
        const std::size_t g = at_;
        while (at_ < s_.size() && s_[at_] >= '0' && s_[at_] <= '9') ++at_;
        if (at_ > g && Keyword("R")) return;
      }
      at_ = save;
    }
  }

 private:
  bool IsNumber(std::size_t from, std::size_t to) const {
    for (std::size_t i = from; i < to; ++i)
      if ((s_[i] < '0' || s_[i] > '9') && s_[i] != '.' && s_[i] != '-' && s_[i] != '+')
        return false;
    return to > from;
  }
  void SkipLiteral() {
    int depth = 0;
    while (at_ < s_.size()) {
      const char c = s_[at_++];
      if (c == '\\') {
        ++at_;
      } else if (c == '(') {
        ++depth;
      } else if (c == ')' && --depth == 0) {
        return;
      }
    }
    throw TBad("unterminated string");
  }

  const std::string& s_;
  std::size_t at_;
};

// The value of /Key in a dictionary's text, as object text; none when absent.
std::optional<std::string> DictionaryValue(const std::string& dictionary, const std::string& key) {
  TScanner scan(dictionary, 0);
  if (!scan.Keyword("<<")) return std::nullopt;
  for (;;) {
    scan.SkipSpace();
    if (dictionary.compare(scan.At(), 2, ">>") == 0 || scan.At() >= dictionary.size())
      return std::nullopt;
    const std::string name = scan.Object();
    const std::string value = scan.Object();
    if (name == "/" + key) return value;
  }
}

// Every key and value of a dictionary's text, in order.
std::vector<std::pair<std::string, std::string>> DictionaryEntries(const std::string& dictionary) {
  std::vector<std::pair<std::string, std::string>> entries;
  TScanner scan(dictionary, 0);
  scan.Expect("<<", "at a dictionary");
  for (;;) {
    scan.SkipSpace();
    if (dictionary.compare(scan.At(), 2, ">>") == 0) return entries;
    std::string name = scan.Object();
    entries.emplace_back(std::move(name), scan.Object());
  }
}

struct TReference {
  long long number = -1;
};

TReference ParseReference(const std::string& text) {
  TScanner scan(text, 0);
  TReference r;
  r.number = scan.Integer("in a reference");
  scan.Integer("in a reference");
  scan.Expect("R", "in a reference");
  return r;
}

struct TObjectText {
  std::string dictionary;       // empty unless the object is a dictionary
  std::string value;            // the object's text
  std::size_t streamStart = 0;  // first byte of stream data; 0 for none
};

class TPdf {
 public:
  explicit TPdf(const std::string& bytes) : s_(bytes) {
    if (s_.compare(0, 5, "%PDF-") != 0) throw TBad("no PDF header");
    const std::size_t last = s_.rfind("startxref");
    if (last == std::string::npos) throw TBad("no startxref");
    if (s_.find("%%EOF", last) == std::string::npos) throw TBad("no %%EOF after startxref");
    TScanner scan(s_, last + 9);
    long long offset = scan.Integer("after startxref");
    lastXref_ = offset;
    // The newest section first; a /Prev leads to the one it updates.
    for (int sections = 0; offset >= 0; ++sections) {
      if (sections > 1000 || offset >= static_cast<long long>(s_.size()))
        throw TBad("cross-reference offset out of the file");
      offset = ReadSection(static_cast<std::size_t>(offset), sections == 0);
    }
  }

  const std::string& Trailer() const { return trailer_; }
  long long LastXref() const { return lastXref_; }
  const std::map<long long, std::size_t>& Objects() const { return objects_; }

  TObjectText Read(long long number) const {
    const auto it = objects_.find(number);
    if (it == objects_.end())
      throw TBad("object " + std::to_string(number) + " is not in the table");
    TScanner scan(s_, it->second);
    const std::string where = "at object " + std::to_string(number);
    if (scan.Integer(where) != number)
      throw TBad("the table points beside object " + std::to_string(number));
    scan.Integer(where);
    scan.Expect("obj", where);
    TObjectText object;
    object.value = scan.Object();
    if (object.value.compare(0, 2, "<<") == 0) object.dictionary = object.value;
    if (scan.Keyword("stream")) {
      std::size_t at = scan.At();
      if (s_.compare(at, 2, "\r\n") == 0)
        at += 2;
      else if (at < s_.size() && s_[at] == '\n')
        at += 1;
      else
        throw TBad("no end of line after \"stream\" " + where);
      object.streamStart = at;
    } else {
      scan.Expect("endobj", where);
    }
    return object;
  }

  long long Integer(const std::string& text) const {
    if (text.find('R') != std::string::npos) {
      const TObjectText target = Read(ParseReference(text).number);
      TScanner scan(target.value, 0);
      return scan.Integer("in an indirect length");
    }
    TScanner scan(text, 0);
    return scan.Integer("as a length");
  }

 private:
  long long ReadSection(std::size_t offset, bool newest) {
    TScanner scan(s_, offset);
    scan.Expect("xref", "where startxref points");
    for (;;) {
      if (scan.Keyword("trailer")) break;
      const long long first = scan.Integer("in the cross-reference table");
      const long long count = scan.Integer("in the cross-reference table");
      if (first < 0 || count < 0 || count > 10000000) throw TBad("bad cross-reference subsection");
      for (long long i = 0; i < count; ++i) {
        const long long at = scan.Integer("in a cross-reference entry");
        scan.Integer("in a cross-reference entry");
        const bool used = scan.Keyword("n");
        if (!used) scan.Expect("f", "in a cross-reference entry");
        if (used && !objects_.count(first + i)) {
          if (at <= 0 || at >= static_cast<long long>(s_.size()))
            throw TBad("object " + std::to_string(first + i) + " lies outside the file");
          objects_[first + i] = static_cast<std::size_t>(at);
        }
      }
    }
    const std::string trailer = scan.Object();
    if (newest) trailer_ = trailer;
    const auto prev = DictionaryValue(trailer, "Prev");
    if (!prev) return -1;
    TScanner number(*prev, 0);
    return number.Integer("as /Prev");
  }

  const std::string& s_;
  std::string trailer_;
  long long lastXref_ = -1;
  std::map<long long, std::size_t> objects_;
};

// A JPEG stream as a PDF reader's decoder needs it: one SOI, a frame, and
// well-formed marker segments up to the scan.
void CheckJpeg(const std::string& s, std::size_t at, std::size_t length, long long number) {
  const std::string where = " in the JPEG image of object " + std::to_string(number);
  const std::size_t end = at + length;
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  if (length < 4 || byte(at) != 0xFF || byte(at + 1) != 0xD8)
    throw TBad("no start of image" + where);
  std::size_t i = at + 2;
  bool frame = false;
  while (i + 4 <= end) {
    if (byte(i) != 0xFF) throw TBad("data between markers" + where);
    while (i < end && byte(i) == 0xFF) ++i;
    if (i >= end) break;
    const unsigned marker = byte(i++);
    if (marker == 0xD8) throw TBad("a second start of image" + where);
    if (marker == 0xD9) throw TBad("end of image before the scan" + where);
    if (i + 2 > end) break;
    const std::size_t segment = (byte(i) << 8) | byte(i + 1);
    if (segment < 2 || i + segment > end)
      throw TBad("a marker segment runs past the stream" + where);
    if ((marker >= 0xC0 && marker <= 0xCF) && marker != 0xC4 && marker != 0xC8 && marker != 0xCC)
      frame = true;
    if (marker == 0xDA) {
      if (!frame) throw TBad("a scan without a frame" + where);
      return;
    }
    i += segment;
  }
  throw TBad("no scan" + where);
}

bool IsPageDictionary(const std::string& dictionary) {
  const auto type = DictionaryValue(dictionary, "Type");
  return type && *type == "/Page";
}

}  // namespace

std::string CheckPdf(const std::string& bytes, int expectedPages) {
  try {
    const TPdf pdf(bytes);
    const auto root = DictionaryValue(pdf.Trailer(), "Root");
    if (!root) throw TBad("the trailer has no /Root");
    pdf.Read(ParseReference(*root).number);
    int pages = 0;
    for (const auto& [number, offset] : pdf.Objects()) {
      const TObjectText object = pdf.Read(number);
      if (IsPageDictionary(object.dictionary)) ++pages;
      if (!object.streamStart) continue;
      const auto lengthText = DictionaryValue(object.dictionary, "Length");
      if (!lengthText) throw TBad("a stream without /Length in object " + std::to_string(number));
      const long long length = pdf.Integer(*lengthText);
      if (length < 0 || object.streamStart + length > bytes.size())
        throw TBad("the stream of object " + std::to_string(number) + " runs past the file");
      TScanner after(bytes, object.streamStart + static_cast<std::size_t>(length));
      if (!after.Keyword("endstream"))
        throw TBad("the stream of object " + std::to_string(number) +
                   " is not as long as its /Length");
      const auto filter = DictionaryValue(object.dictionary, "Filter");
      if (filter && filter->find("/DCTDecode") != std::string::npos)
        CheckJpeg(bytes, object.streamStart, static_cast<std::size_t>(length), number);
    }
    if (expectedPages >= 0 && pages != expectedPages)
      throw TBad(std::to_string(pages) + " pages instead of " + std::to_string(expectedPages));
    return {};
  } catch (const std::exception& error) {
    return error.what();
  }
}

std::string PdfTextString(const std::u16string& text) {
  bool ascii = true;
  for (char16_t c : text) ascii = ascii && c >= 0x20 && c < 0x7F;
  std::string out;
  if (ascii) {
    out = "(";
    for (char16_t c : text) {
      if (c == '(' || c == ')' || c == '\\') out += '\\';
      out += static_cast<char>(c);
    }
    return out + ")";
  }
  out = "<FEFF";
  char hex[8];
  for (char16_t c : text) {
    std::snprintf(hex, sizeof hex, "%04X", static_cast<unsigned>(c));
    out += hex;
  }
  return out + ">";
}

std::string InfoUpdate(const std::string& bytes, const std::vector<TPdfText>& entries) {
  const TPdf pdf(bytes);
  std::vector<std::pair<std::string, std::string>> info;
  if (const auto old = DictionaryValue(pdf.Trailer(), "Info"))
    info = DictionaryEntries(pdf.Read(ParseReference(*old).number).dictionary);
  for (const TPdfText& entry : entries) {
    const std::string key = "/" + entry.key;
    const std::string value = PdfTextString(entry.value);
    bool replaced = false;
    for (auto& [name, text] : info)
      if (name == key) {
        text = value;
        replaced = true;
      }
    if (!replaced) info.emplace_back(key, value);
  }
  const auto sizeText = DictionaryValue(pdf.Trailer(), "Size");
  const auto root = DictionaryValue(pdf.Trailer(), "Root");
  if (!sizeText || !root) throw std::runtime_error("the PDF's trailer has no /Size or /Root");
  const long long number = pdf.Integer(*sizeText);

  std::string update = "\n";
  const std::size_t objectAt = bytes.size() + update.size();
  update += std::to_string(number) + " 0 obj\n<<\n";
  for (const auto& [name, text] : info) update += name + " " + text + "\n";
  update += ">>\nendobj\n";
  const std::size_t xrefAt = bytes.size() + update.size();
  char entry[32];
  std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", objectAt);
  update += "xref\n" + std::to_string(number) + " 1\n" + entry;
  update += "trailer\n<< /Size " + std::to_string(number + 1) + " /Root " + *root + " /Info " +
            std::to_string(number) + " 0 R";
  if (const auto id = DictionaryValue(pdf.Trailer(), "ID")) update += " /ID " + *id;
  update += " /Prev " + std::to_string(pdf.LastXref()) + " >>\nstartxref\n" +
            std::to_string(xrefAt) + "\n%%EOF\n";
  return update;
}

}  // namespace quorvex::tiff2pdf
