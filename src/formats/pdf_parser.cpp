// The reader of a PDF file's object syntax: a byte window, the lexer, the
// cross-reference chain, objects, streams and the page tree. One file on
// purpose, past the usual size: the lexer and the parser share the limits
// and failure helpers that bound a hostile document, and the lexer is
// private to the parser; apart, both would have to be published in a header
// that only this file includes.
#include "formats/pdf_parser.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>
#include <string_view>

#include "base/conversions.h"
#include "base/format.h"

namespace lumetra {
// Random access to the stream's bytes through a window, so that a lexer can
// look at any position without the whole file in memory. At() answers -1
// past the end.
class TPdfByteSource {
 public:
  TPdfByteSource(TStream& stream, std::int64_t size) : stream_(stream), size_(size) {}
  int At(std::int64_t position) {
    if (position < 0 || position >= size_) return -1;
    if (position < start_ || position >= start_ + static_cast<std::int64_t>(window_.size())) {
      start_ = position;
      window_.resize(static_cast<std::size_t>(std::min<std::int64_t>(kWindow, size_ - position)));
      stream_.SetPosition(position);
      stream_.ReadBuffer(window_.data(), static_cast<std::int64_t>(window_.size()));
    }
    return window_[static_cast<std::size_t>(position - start_)];
  }
  std::int64_t Size() const { return size_; }

 private:
  static constexpr std::int64_t kWindow = 64 * 1024;
  TStream& stream_;
  std::int64_t size_;
  std::int64_t start_ = 0;
  std::vector<std::uint8_t> window_;
};

namespace {

// Limits that keep a hostile document from exhausting the stack, the memory
// or the time of the host: real image-only documents stay far below them.
constexpr int kMaxNesting = 32;              // arrays and dictionaries inside each other
constexpr int kMaxValuesPerObject = 100000;  // values parsed for one object
constexpr std::int64_t kMaxStringBytes = 16 << 20;
constexpr int kMaxReferenceHops = 32;
constexpr int kMaxPageTreeDepth = 64;
constexpr int kMaxXRefSections = 1024;
constexpr std::size_t kMaxXRefEntries = 4 << 20;
constexpr std::int64_t kTailSize = 1024;

[[noreturn]] void Fail(const std::string& message) {
  throw EPdfError(message);
}
[[noreturn]] void ParameterNotFound() {
  Fail("Parameter not found !");
}
[[noreturn]] void NotADictionary() {
  Fail("Parameter is not a dictionary !");
}

bool IsWhite(int c) {
  return c == 0 || c == 9 || c == 10 || c == 12 || c == 13 || c == 32;
}
bool IsDelimiter(int c) {
  return c == '(' || c == ')' || c == '<' || c == '>' || c == '[' || c == ']' || c == '{' ||
         c == '}' || c == '/' || c == '%';
}
bool IsRegular(int c) {
  return c >= 0 && !IsWhite(c) && !IsDelimiter(c);
}
bool IsDigit(int c) {
  return c >= '0' && c <= '9';
}
int HexValue(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The PDF syntax of objects: numbers, names, strings, arrays, dictionaries
// and references, read from a position of a TPdfByteSource.
class Lexer {
 public:
  Lexer(TPdfByteSource& source, std::int64_t position) : source_(source), pos_(position) {}
  std::int64_t Position() const { return pos_; }
  int Peek(std::int64_t ahead = 0) { return source_.At(pos_ + ahead); }

  void SkipWhite() {
    for (;;) {
      const int c = Peek();
      if (IsWhite(c)) {
        ++pos_;
      } else if (c == '%') {
        while (Peek() >= 0 && Peek() != '\r' && Peek() != '\n') ++pos_;
      } else {
        return;
      }
    }
  }

  // A bare word ("obj", "stream", "trailer", "n") at the position.
  std::string Keyword() {
    SkipWhite();
    std::string word;
    while (IsRegular(Peek()) && word.size() < 64) word += static_cast<char>(source_.At(pos_++));
    return word;
  }

  bool TryUnsigned(std::int64_t& value) {
    SkipWhite();
    if (!IsDigit(Peek())) return false;
    value = 0;
    while (IsDigit(Peek())) {
      if (value > (std::int64_t{1} << 50)) return false;
      value = value * 10 + (source_.At(pos_++) - '0');
    }
    return !IsRegular(Peek());
  }

  TPdfValue Value(int depth = 0) {
    if (depth > kMaxNesting) Fail("Invalid PDF stream: objects nested too deeply !");
    if (++values_ > kMaxValuesPerObject) Fail("Invalid PDF stream: object too large !");
    SkipWhite();
    const int c = Peek();
    TPdfValue v;
    if (c < 0) Damaged();
    if (c == '/') {
      ++pos_;
      v.kind = TPdfValue::pvName;
      v.text = Name();
    } else if (c == '(') {
      v.kind = TPdfValue::pvString;
      v.text = LiteralString();
    } else if (c == '<' && Peek(1) == '<') {
      pos_ += 2;
      v.kind = TPdfValue::pvDictionary;
      for (;;) {
        SkipWhite();
        if (Peek() == '>' && Peek(1) == '>') {
          pos_ += 2;
          break;
        }
        if (Peek() != '/') Damaged();
        ++pos_;
        std::string key = Name();
        v.entries.push_back(TPdfEntry{std::move(key), Value(depth + 1)});
      }
    } else if (c == '<') {
      v.kind = TPdfValue::pvString;
      v.text = HexString();
    } else if (c == '[') {
      ++pos_;
      v.kind = TPdfValue::pvArray;
      for (;;) {
        SkipWhite();
        if (Peek() == ']') {
          ++pos_;
          break;
        }
        v.items.push_back(Value(depth + 1));
      }
    } else if (IsDigit(c) || c == '+' || c == '-' || c == '.') {
      v = Number();
    } else {
      const std::string word = Keyword();
      if (word == "true" || word == "false") {
        v.kind = TPdfValue::pvBoolean;
        v.boolean = word == "true";
      } else if (word != "null") {
        Damaged();
      }
    }
    return v;
  }

  [[noreturn]] void Damaged() {
    Fail(Format("Invalid PDF stream: damaged object syntax at offset %d !", pos_));
  }

 private:
  std::string Name() {
    std::string name;
    while (IsRegular(Peek())) {
      int c = source_.At(pos_++);
      if (c == '#' && HexValue(Peek()) >= 0 && HexValue(Peek(1)) >= 0) {
        c = HexValue(Peek()) * 16 + HexValue(Peek(1));
        pos_ += 2;
      }
      if (name.size() >= 256) Damaged();
      name += static_cast<char>(c);
    }
    return name;
  }

  void Append(std::string& text, int c) {
    if (static_cast<std::int64_t>(text.size()) >= kMaxStringBytes)
      Fail("Invalid PDF stream: object too large !");
    text += static_cast<char>(c);
  }

  std::string LiteralString() {
    ++pos_;
    std::string text;
    int open = 1;
    for (;;) {
      int c = source_.At(pos_++);
      if (c < 0) Damaged();
      if (c == '(') {
        ++open;
      } else if (c == ')') {
        if (--open == 0) break;
      } else if (c == '\\') {
        c = source_.At(pos_++);
        if (c < 0) Damaged();
        switch (c) {
          case 'n':
            c = '\n';
            break;
          case 'r':
            c = '\r';
            break;
          case 't':
            c = '\t';
            break;
          case 'b':
            c = '\b';
            break;
          case 'f':
            c = '\f';
            break;
          case '\r':
            if (Peek() == '\n') ++pos_;
            continue;
          case '\n':
            continue;
          default:
            if (c >= '0' && c <= '7') {
              int octal = c - '0';
              for (int i = 0; i < 2 && Peek() >= '0' && Peek() <= '7'; ++i)
                octal = octal * 8 + (source_.At(pos_++) - '0');
              c = octal & 0xFF;
            }
        }
      }
      Append(text, c);
    }
    return text;
  }

  std::string HexString() {
    ++pos_;
    std::string text;
    int high = -1;
    for (;;) {
      const int c = source_.At(pos_++);
      if (c == '>') break;
      if (c < 0) Damaged();
      if (IsWhite(c)) continue;
      const int h = HexValue(c);
      if (h < 0) Damaged();
      if (high < 0) {
        high = h;
      } else {
        Append(text, high * 16 + h);
        high = -1;
      }
    }
    if (high >= 0) Append(text, high * 16);
    return text;
  }

  // A number, or the reference "N G R" that starts with one.
  TPdfValue Number() {
    const std::int64_t start = pos_;
    std::string text;
    while ((IsDigit(Peek()) || Peek() == '.' || Peek() == '+' || Peek() == '-') && text.size() < 40)
      text += static_cast<char>(source_.At(pos_++));
    TPdfValue v;
    v.kind = TPdfValue::pvNumber;
    // Not strtod, which honours the C locale's decimal point: PDF numbers
    // never do, and they have no exponent.
    double value = 0, scale = 0;
    bool negative = false, any = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
      const char ch = text[i];
      if ((ch == '-' || ch == '+') && i == 0) {
        negative = ch == '-';
      } else if (ch == '.' && scale == 0) {
        scale = 1;
      } else if (IsDigit(ch)) {
        any = true;
        value = value * 10 + (ch - '0');
        if (scale != 0) scale *= 10;
      } else {
        break;  // "1-2" and the like: what came before counts
      }
    }
    if (!any) {
      pos_ = start;
      Damaged();
    }
    if (scale != 0) value /= scale;
    v.number = negative ? -value : value;
    v.integer = scale == 0;
    if (v.integer && !negative && value <= 2147483647.0) {
      // Look ahead for "G R".
      const std::int64_t after = pos_;
      std::int64_t generation = 0;
      if (TryUnsigned(generation) && generation <= 65535) {
        SkipWhite();
        if (Peek() == 'R' && !IsRegular(Peek(1))) {
          ++pos_;
          v.kind = TPdfValue::pvReference;
          v.objectNumber = static_cast<std::int32_t>(value);
          v.generation = static_cast<std::int32_t>(generation);
          return v;
        }
      }
      pos_ = after;
    }
    return v;
  }

  TPdfByteSource& source_;
  std::int64_t pos_;
  int values_ = 0;
};

// Some writers (tiff2pdf among them, for JPEG pages) record offsets a few
// bytes off. An object or table that is not where its offset says is looked
// for this far around it, nearest first.
constexpr std::int64_t kOffsetSlack = 64;

// The position near Offset where Found answers true, or -1.
template <class F>
std::int64_t FindNear(std::int64_t offset, std::int64_t size, F found) {
  for (std::int64_t distance = 0; distance <= kOffsetSlack; ++distance)
    for (std::int64_t at : {offset - distance, offset + distance})
      if (at >= 0 && at < size && (distance || at == offset) && found(at)) return at;
  return -1;
}

// Searches Needle in Haystack from the end; npos when absent.
std::size_t FindLast(std::string_view haystack, std::string_view needle, std::size_t before) {
  if (before > haystack.size()) before = haystack.size();
  return haystack.substr(0, before).rfind(needle);
}

// Integer value of a number, or the fallback.
bool AsInteger(const TPdfValue& v, std::int64_t& out) {
  if (!v.Is(TPdfValue::pvNumber) || !std::isfinite(v.number)) return false;
  if (v.number < -9e15 || v.number > 9e15) return false;
  out = static_cast<std::int64_t>(std::nearbyint(v.number));
  return true;
}

void AppendEscapedString(std::string& out, const std::string& text) {
  out += '<';
  static const char kHex[] = "0123456789ABCDEF";
  for (unsigned char c : text) {
    out += kHex[c >> 4];
    out += kHex[c & 15];
  }
  out += '>';
}

}  // namespace

const TPdfValue* TPdfValue::Find(const std::string& key) const {
  if (kind != pvDictionary) return nullptr;
  for (const auto& [name, value] : entries)
    if (name == key) return &value;
  return nullptr;
}

std::string PdfNumberText(long double value) {
  std::string text = FloatToStrF(value, 4);
  if (text.find('.') != std::string::npos) {
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
  }
  if (text == "-0") text = "0";
  return text;
}

std::string PdfValueText(const TPdfValue& value) {
  std::string out;
  switch (value.kind) {
    case TPdfValue::pvNull:
      return "null";
    case TPdfValue::pvBoolean:
      return value.boolean ? "true" : "false";
    case TPdfValue::pvNumber:
      return value.integer ? Format("%d", static_cast<long long>(value.number))
                           : PdfNumberText(value.number);
    case TPdfValue::pvName: {
      out = "/";
      for (unsigned char c : value.text) {
        if (IsRegular(c) && c > 32 && c < 127 && c != '#')
          out += static_cast<char>(c);
        else
          out += {'#', "0123456789abcdef"[c >> 4], "0123456789abcdef"[c & 15]};
      }
      return out;
    }
    case TPdfValue::pvString:
      AppendEscapedString(out, value.text);
      return out;
    case TPdfValue::pvArray:
      out = "[";
      for (std::size_t i = 0; i < value.items.size(); ++i) {
        if (i) out += ' ';
        out += PdfValueText(value.items[i]);
      }
      return out + "]";
    case TPdfValue::pvDictionary:
      out = "<<";
      for (const auto& [key, entry] : value.entries) {
        TPdfValue name;
        name.kind = TPdfValue::pvName;
        name.text = key;
        out += " " + PdfValueText(name) + " " + PdfValueText(entry);
      }
      return out + " >>";
    case TPdfValue::pvReference:
      return Format("%d %d R", value.objectNumber, value.generation);
  }
  return out;
}

// --- TPDFParser ---------------------------------------------------------------------

TPDFParser::TPDFParser(TStream& stream)
    : stream_(stream),
      start_(stream.Position()),
      size_(stream.Size()),
      source_(std::make_unique<TPdfByteSource>(stream, size_)) {}

TPDFParser::~TPDFParser() = default;

void TPDFParser::ReadHeader() {
  const std::int64_t count = std::min(kTailSize, size_ - start_);
  std::string head(static_cast<std::size_t>(std::max<std::int64_t>(count, 0)), '\0');
  stream_.SetPosition(start_);
  if (count > 0) stream_.ReadBuffer(head.data(), count);
  const std::size_t at = head.find("%PDF-");
  if (at == std::string::npos) Fail("Invalid PDF stream: header not found !");
  auto digit = [&](std::size_t i) {
    return i < head.size() && IsDigit(head[i]) ? head[i] - '0' : 0;
  };
  version_ = digit(at + 5) + digit(at + 7) / 10.0;
}

void TPDFParser::ReadXRefChain() {
  // Shorter documents than the tail are searched whole.
  const std::int64_t count = std::min(kTailSize, size_);
  std::string tail(static_cast<std::size_t>(count), '\0');
  stream_.SetPosition(size_ - count);
  if (count > 0) stream_.ReadBuffer(tail.data(), count);
  // The last end marker belongs to the newest revision of the document.
  const std::size_t eof = tail.rfind("%%EOF");
  if (eof == std::string::npos) Fail("Invalid PDF stream: EOF not found !");
  const std::size_t keyword = FindLast(tail, "startxref", eof);
  if (keyword == std::string::npos) Fail("Invalid PDF stream: XREF offset not found !");
  const std::string number = Trim(tail.substr(keyword + 9, eof - keyword - 9));
  std::int64_t offset = 0;
  for (char c : number) {
    if (!IsDigit(c) || offset > size_) {
      offset = 0;
      break;
    }
    offset = offset * 10 + (c - '0');
  }
  if (offset <= 0 || offset >= size_) Fail("Invalid PDF stream: XREF offset not found !");
  xrefOffset_ = offset;

  objects_.clear();
  std::set<std::int64_t> visited;
  for (std::int64_t table = offset; table > 0;) {
    if (!visited.insert(table).second) break;  // a /Prev that points back: done
    if (static_cast<int>(visited.size()) > kMaxXRefSections)
      Fail("Invalid PDF stream: too many cross-reference sections !");
    std::int64_t previous = 0;
    ReadXRefTable(table, previous);
    table = previous;
  }
  // Newest entries came first; a stable sort keeps them first per number.
  std::stable_sort(objects_.begin(), objects_.end(),
                   [](const TPDFObject& a, const TPDFObject& b) { return a.Number < b.Number; });
}

void TPDFParser::ReadXRefTable(std::int64_t offset, std::int64_t& previous) {
  if (offset >= size_) Fail("Invalid PDF stream: \"xref\" not found !");
  TPdfByteSource& source = *source_;
  const std::int64_t at = FindNear(offset, size_, [&](std::int64_t p) {
    Lexer probe(source, p);
    return (p == offset || IsWhite(source.At(p - 1))) && probe.Keyword() == "xref";
  });
  Lexer lexer(source, at < 0 ? offset : at);
  const std::string word = lexer.Keyword();
  if (word != "xref") {
    // "N G obj" in its place: a compressed cross-reference stream.
    Lexer probe(source, offset);
    std::int64_t n = 0, g = 0;
    if (probe.TryUnsigned(n) && probe.TryUnsigned(g) && probe.Keyword() == "obj")
      Fail("Invalid PDF stream: cross-reference streams (PDF 1.5) are not supported !");
    Fail("Invalid PDF stream: \"xref\" not found !");
  }
  for (;;) {
    lexer.SkipWhite();
    if (lexer.Peek() == 't') break;
    std::int64_t first = 0, count = 0;
    if (!lexer.TryUnsigned(first) || !lexer.TryUnsigned(count) || first + count > 2147483647 ||
        count > (size_ - lexer.Position()) / 18 + 1)
      Fail("Invalid PDF stream: cross-reference table damaged !");
    if (objects_.size() + count > kMaxXRefEntries) Fail("Invalid PDF stream: too many objects !");
    for (std::int64_t i = 0; i < count; ++i) {
      std::int64_t entryOffset = 0, generation = 0;
      if (!lexer.TryUnsigned(entryOffset) || !lexer.TryUnsigned(generation))
        Fail("Invalid PDF stream: cross-reference table damaged !");
      const std::string type = lexer.Keyword();
      if (type != "n" && type != "f") Fail("Invalid PDF stream: cross-reference table damaged !");
      objects_.emplace_back(static_cast<std::int32_t>(first + i),
                            static_cast<std::int32_t>(std::min<std::int64_t>(generation, 65535)),
                            type == "n" ? entryOffset : 0);
    }
  }
  if (lexer.Keyword() != "trailer") Fail("Invalid PDF stream: trailer not found !");
  const TPdfValue trailer = lexer.Value();
  if (!trailer.Is(TPdfValue::pvDictionary)) NotADictionary();
  if (trailer.Find("Encrypt")) Fail("Encrypted PDF documents are not supported !");
  std::int64_t prev = 0;
  if (const TPdfValue* p = trailer.Find("Prev"); p && AsInteger(*p, prev) && prev > 0)
    previous = prev;
  // The newest trailer is read first and its values stand.
  if (const TPdfValue* r = trailer.Find("Root"); r && r->Is(TPdfValue::pvReference) && root_ < 0)
    root_ = r->objectNumber;
  if (const TPdfValue* i = trailer.Find("Info"); i && i->Is(TPdfValue::pvReference) && info_ < 0)
    info_ = i->objectNumber;
}

const TPDFObject* TPDFParser::Lookup(std::int32_t number) const {
  auto it = std::lower_bound(objects_.begin(), objects_.end(), number,
                             [](const TPDFObject& o, std::int32_t n) { return o.Number < n; });
  return it != objects_.end() && it->Number == number ? &*it : nullptr;
}

TPdfIndirectObject TPDFParser::ReadObject(std::int32_t number) {
  TPdfIndirectObject object;
  object.number = number;
  const TPDFObject* entry = Lookup(number);
  if (!entry) return object;
  if (entry->Offset <= 0 || entry->Offset >= size_)
    Fail(Format("Invalid PDF stream: object offset %d not valid !", number));
  TPdfByteSource& source = *source_;
  const std::int64_t at = FindNear(entry->Offset, size_, [&](std::int64_t p) {
    if (p != entry->Offset && !IsWhite(source.At(p - 1))) return false;
    Lexer probe(source, p);
    std::int64_t n = 0, g = 0;
    return probe.TryUnsigned(n) && n == number && probe.TryUnsigned(g) && probe.Keyword() == "obj";
  });
  if (at < 0) Fail(Format("Invalid PDF stream: object offset %d not valid !", number));
  Lexer lexer(source, at);
  std::int64_t n = 0, g = 0;
  lexer.TryUnsigned(n);
  lexer.TryUnsigned(g);
  lexer.Keyword();
  object.value = lexer.Value();
  const std::int64_t afterValue = lexer.Position();
  if (lexer.Keyword() == "stream") {
    std::int64_t data = lexer.Position();
    if (source.At(data) == '\r') ++data;
    if (source.At(data) == '\n') ++data;
    object.isStream = true;
    object.dataOffset = data;
  } else {
    object.dataOffset = afterValue;
  }
  return object;
}

TPdfValue TPDFParser::Resolve(const TPdfValue& value) {
  TPdfValue v = value;
  for (int hops = 0; v.Is(TPdfValue::pvReference); ++hops) {
    if (hops >= kMaxReferenceHops) Fail("Invalid PDF stream: reference chain too long !");
    v = ReadObject(v.objectNumber).value;
  }
  return v;
}

void TPDFParser::ReadStreamData(const TPdfIndirectObject& object, std::vector<std::uint8_t>& dest) {
  if (!object.isStream) Fail("Stream not found !");
  const std::int64_t available = size_ - object.dataOffset;
  std::int64_t length = -1;
  if (const TPdfValue* l = object.value.Find("Length")) {
    const TPdfValue resolved = Resolve(*l);
    if (!AsInteger(resolved, length) || length < 0 || length > available) length = -1;
  }
  if (length < 0) {
    // A missing or impossible length: the data runs to "endstream".
    TPdfByteSource& source = *source_;
    static constexpr char kEnd[] = "endstream";
    std::int64_t at = object.dataOffset;
    for (; at + 9 <= size_; ++at) {
      int i = 0;
      while (i < 9 && source.At(at + i) == kEnd[i]) ++i;
      if (i == 9) break;
    }
    if (at + 9 > size_)
      Fail(Format("Invalid PDF stream: stream length of object %d not valid !", object.number));
    length = at - object.dataOffset;
    if (length > 0 && source.At(object.dataOffset + length - 1) == '\n') --length;
    if (length > 0 && source.At(object.dataOffset + length - 1) == '\r') --length;
  }
  dest.resize(static_cast<std::size_t>(length));
  stream_.SetPosition(object.dataOffset);
  if (length > 0) stream_.ReadBuffer(dest.data(), length);
}

void TPDFParser::ReadPageTree() {
  pages_.clear();
  const TPdfValue root = Resolve(ReadObject(root_).value);
  if (root.Is(TPdfValue::pvNull)) ParameterNotFound();
  if (!root.Is(TPdfValue::pvDictionary)) NotADictionary();
  const TPdfValue* pages = root.Find("Pages");
  if (!pages || !pages->Is(TPdfValue::pvReference)) ParameterNotFound();
  std::vector<std::int32_t> visited;
  WalkPages(pages->objectNumber, TPDFPage(), 0, visited);
}

void TPDFParser::WalkPages(std::int32_t node, const TPDFPage& inherited, int depth,
                           std::vector<std::int32_t>& visited) {
  if (depth > kMaxPageTreeDepth) Fail("Invalid PDF stream: page tree too deep !");
  // Every node may appear once: a cycle, or a node shared by many parents
  // (which multiplies the leaves), is refused.
  if (std::find(visited.begin(), visited.end(), node) != visited.end())
    Fail(Format("Invalid PDF stream: page tree refers to object %d twice !", node));
  visited.push_back(node);
  const TPdfValue value = ReadObject(node).value;
  if (!value.Is(TPdfValue::pvDictionary)) NotADictionary();
  TPDFPage page = inherited;
  page.Number = node;
  if (const TPdfValue* box = value.Find("MediaBox")) {
    const TPdfValue b = Resolve(*box);
    if (b.Is(TPdfValue::pvArray) && b.items.size() == 4 &&
        std::all_of(b.items.begin(), b.items.end(),
                    [](const TPdfValue& n) { return n.Is(TPdfValue::pvNumber); }))
      for (int i = 0; i < 4; ++i) page.MediaBox[i] = b.items[i].number;
  }
  if (const TPdfValue* resources = value.Find("Resources")) page.Resources = *resources;
  const TPdfValue* type = value.Find("Type");
  const bool intermediate = type ? type->IsName("Pages") : value.Find("Kids") != nullptr;
  if (!intermediate) {
    pages_.push_back(page);
    return;
  }
  const TPdfValue* kids = value.Find("Kids");
  if (!kids) ParameterNotFound();
  const TPdfValue list = Resolve(*kids);
  if (!list.Is(TPdfValue::pvArray)) ParameterNotFound();
  for (const TPdfValue& kid : list.items) {
    if (!kid.Is(TPdfValue::pvReference)) Fail("Invalid PDF stream: page tree damaged !");
    WalkPages(kid.objectNumber, page, depth + 1, visited);
  }
}

TPdfValue TPDFParser::FindPageResources(int pageIndex) {
  const TPdfValue resources = Resolve(pages_.at(static_cast<std::size_t>(pageIndex)).Resources);
  if (resources.Is(TPdfValue::pvNull)) ParameterNotFound();
  if (!resources.Is(TPdfValue::pvDictionary)) NotADictionary();
  return resources;
}

std::int32_t TPDFParser::FindFirstImageObject(int pageIndex) {
  const TPdfValue resources = FindPageResources(pageIndex);
  const TPdfValue* xobject = resources.Find("XObject");
  if (!xobject) ParameterNotFound();
  const TPdfValue xobjects = Resolve(*xobject);
  if (!xobjects.Is(TPdfValue::pvDictionary)) NotADictionary();
  for (const auto& [name, entry] : xobjects.entries) {
    if (!entry.Is(TPdfValue::pvReference)) continue;
    const TPdfValue object = ReadObject(entry.objectNumber).value;
    const TPdfValue* subtype = object.Find("Subtype");
    if (subtype && subtype->IsName("Image")) return entry.objectNumber;
  }
  ParameterNotFound();
}

}  // namespace lumetra
