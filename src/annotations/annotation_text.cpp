#include "annotations/annotation_text.h"

#include <cstdint>

#include "base/conversions.h"
#include "base/streams.h"
#include "formats/ppm_graphic.h"

namespace lumetra {

namespace {

// The shortest entry is a bare kind number: "(n)".
constexpr std::size_t kShortestEntry = 3;

class TextWriter {
 public:
  void Integer(std::int64_t value) {
    out_ += '(';
    out_ += IntToStr(value);
    out_ += ')';
  }
  void Boolean(bool value) { Integer(value ? 1 : 0); }
  void Colour(TColor value) { Integer(static_cast<std::int32_t>(value)); }
  void String(std::string_view value) {
    Integer(static_cast<std::int64_t>(value.size()));
    out_ += value;
  }
  void Rect(const TRect& r) {
    Integer(r.Left);
    Integer(r.Top);
    Integer(r.Right);
    Integer(r.Bottom);
  }
  void Font(const TMarkFont& font) {
    Colour(font.color);
    String(font.name);
    Integer(font.size);
    Boolean(font.italic);
    Boolean(font.underline);
    Boolean(font.strikeOut);
    Boolean(font.bold);
  }
  std::string& Result() { return out_; }

 private:
  std::string out_;
};

class TextReader {
 public:
  explicit TextReader(std::string_view text) : text_(text) {}

  std::int32_t Integer() {
    if (position_ >= text_.size()) throw ELumetraError("Invalid position in ReadInteger");
    if (text_[position_] != '(') throw ELumetraError("( expected in ReadInteger");
    const std::size_t close = text_.find(')', position_ + 1);
    if (close == std::string_view::npos) throw ELumetraError("Invalid position in ReadInteger");
    const std::string_view digits = text_.substr(position_ + 1, close - position_ - 1);
    position_ = close + 1;
    return StrToInt(digits);
  }
  bool Boolean() { return Integer() != 0; }
  TColor Colour() { return static_cast<TColor>(Integer()); }
  std::string String() {
    const std::int32_t length = Integer();
    if (length < 0 || static_cast<std::size_t>(length) > Remaining())
      throw ELumetraError("Invalid position in ReadString");
    std::string value(text_.substr(position_, static_cast<std::size_t>(length)));
    position_ += static_cast<std::size_t>(length);
    return value;
  }
  TRect Rect() {
    TRect r;
    r.Left = Integer();
    r.Top = Integer();
    r.Right = Integer();
    r.Bottom = Integer();
    return r;
  }
  void Font(TMarkFont& font) {
    font.color = Colour();
    font.name = String();
    font.size = Integer();
    font.italic = Boolean();
    font.underline = Boolean();
    font.strikeOut = Boolean();
    font.bold = Boolean();
  }
  std::size_t Remaining() const { return text_.size() - position_; }

 private:
  std::string_view text_;
  std::size_t position_ = 0;
};

// Pictures travel as plain portable anymaps: P1, P2 or P3 by image format.
std::string PictureToText(const std::vector<std::uint8_t>& picture) {
  TPpmGraphic image;
  image.LoadFromDIBBlock(picture.data(), picture.size());
  image.Binary = false;
  TMemoryStream stream;
  image.SaveToStream(stream);
  return std::string(reinterpret_cast<const char*>(stream.Memory()),
                     static_cast<std::size_t>(stream.Size()));
}

std::vector<std::uint8_t> PictureFromText(const std::string& text) {
  TMemoryStream stream;
  if (!text.empty()) stream.WriteBuffer(text.data(), static_cast<std::int64_t>(text.size()));
  stream.SetPosition(0);
  TPpmGraphic image;
  try {
    if (!image.IsValidStream(stream)) throw ELumetraError("Not a valid PPM file");
    stream.SetPosition(0);
    image.LoadImageFromStream(stream, 1);
  } catch (const Exception&) {
    throw ELumetraError("Invalid picture in ReadImage");
  }
  return image.SaveToDIBBlock();
}

void WriteMark(TextWriter& out, const TMark& mark) {
  out.Integer(mark.kind);
  out.Rect(mark.markRect);
  out.Boolean(mark.visible);
  out.Colour(mark.color);
  switch (mark.kind) {
    case mkStickNote:
    case mkText:
      out.String(mark.text);
      out.Font(mark.font);
      break;
    case mkRectangle:
      out.Boolean(mark.highlight);
      out.Boolean(mark.filled);
      out.Integer(mark.penWidth);
      break;
    case mkLine:
      out.Integer(mark.penWidth);
      out.Integer(mark.lineDirection);
      break;
    case mkImage:
      out.Boolean(mark.transparent);
      if (mark.picture.empty()) {
        out.Boolean(false);
      } else {
        const std::string picture = PictureToText(mark.picture);
        out.Boolean(true);
        out.Integer(static_cast<std::int64_t>(picture.size()));
        out.String(picture);
      }
      break;
  }
}

void ReadMark(TextReader& in, TMark& mark) {
  mark.markRect = in.Rect();
  mark.visible = in.Boolean();
  mark.color = in.Colour();
  switch (mark.kind) {
    case mkStickNote:
    case mkText:
      mark.text = in.String();
      in.Font(mark.font);
      break;
    case mkRectangle:
      mark.highlight = in.Boolean();
      mark.filled = in.Boolean();
      mark.penWidth = in.Integer();
      break;
    case mkLine:
      mark.penWidth = in.Integer();
      mark.lineDirection = in.Integer();
      break;
    case mkImage:
      mark.transparent = in.Boolean();
      if (in.Boolean()) {
        // The size comes twice, once on its own and once as the string's
        // length: two that differ mean the text was cut or spliced.
        const std::int32_t size = in.Integer();
        const std::string picture = in.String();
        if (size < 0 || static_cast<std::size_t>(size) != picture.size())
          throw ELumetraError("Invalid picture in ReadImage");
        mark.picture = PictureFromText(picture);
      }
      break;
  }
}

}  // namespace

std::string SaveMarksToText(const std::vector<TMark>& marks) {
  if (marks.empty()) return {};
  TextWriter out;
  out.Integer(static_cast<std::int64_t>(marks.size()));
  for (const TMark& mark : marks) WriteMark(out, mark);
  return std::move(out.Result());
}

void LoadMarksFromText(std::string_view text, std::vector<TMark>& marks) {
  if (text.empty()) return;
  TextReader in(text);
  const std::int32_t count = in.Integer();
  // Each entry takes at least a kind number: a count the rest of the text
  // cannot hold is damage, not a reason to reserve memory for it.
  if (count > 0 && static_cast<std::size_t>(count) > in.Remaining() / kShortestEntry)
    throw ELumetraError("Invalid mark count in LoadFromText");
  for (std::int32_t i = 0; i < count; ++i) {
    const std::int32_t kind = in.Integer();
    if (kind < mkStickNote || kind > mkImage) continue;
    marks.push_back(NewMark(static_cast<TMarkKind>(kind)));
    ReadMark(in, marks.back());
  }
}

}  // namespace lumetra
