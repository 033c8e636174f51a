#include "formats/ppm_graphic.h"

#include <cstring>
#include <string>
#include <vector>

#include "formats/buffered_stream.h"
#include "formats/codec_limits.h"
#include "imaging/row_bytes.h"

namespace lumetra {
namespace {

constexpr std::size_t kBlock = 4096;
constexpr int kMaxLine = 70;

[[noreturn]] void NotValid() {
  throw ELumetraError("Not a valid PPM file");
}

// The characters of a portable map: at the end of the stream one line feed
// comes once (it ends a last number), and reading on is an error.
class TPpmReader {
 public:
  explicit TPpmReader(TStream& stream) : in_(stream, kBlock) {}

  int Get() {
    const int c = in_.Get();
    if (c >= 0) return c;
    if (endSeen_) NotValid();
    endSeen_ = true;
    return '\n';
  }

  // Skips blanks and comments up to the next digit.
  int SkipToDigit() {
    for (;;) {
      int c = Get();
      if (c == '#') {
        while (c != '\n' && c != '\r') c = Get();
      } else if (c >= '0' && c <= '9') {
        return c;
      }
    }
  }

  // The run of digits from here; the character after it is consumed.
  std::uint32_t Number(std::uint32_t limit) {
    std::uint64_t value = 0;
    for (int c = SkipToDigit(); c >= '0' && c <= '9'; c = Get()) {
      value = value * 10 + std::uint64_t(c - '0');
      if (value > limit) NotValid();
    }
    return static_cast<std::uint32_t>(value);
  }

  // A plain bitmap's sample: one character 0 or 1, whether or not blanks
  // separate the samples.
  int Bit() {
    const int c = SkipToDigit();
    if (c != '0' && c != '1') NotValid();
    return c - '0';
  }

  void Bytes(std::uint8_t* dest, std::size_t count) {
    if (in_.Read(dest, count) != count) NotValid();
  }

 private:
  TBufferedReader in_;
  bool endSeen_ = false;
};

// A sample of a map whose maximum is above 255, brought to 8 bits.
std::uint8_t Scaled(std::uint32_t value, std::uint32_t maxValue) {
  if (value >= maxValue) return 255;
  return static_cast<std::uint8_t>((value * 255u + maxValue / 2) / maxValue);
}

// Lines of at most 70 characters: a number that would not fit starts the
// next line.
class TPlainWriter {
 public:
  explicit TPlainWriter(TBufferedWriter& out) : out_(out) {}
  void Number(int value) {
    const std::string text = std::to_string(value);
    if (length_ > 0 && length_ + 1 + int(text.size()) > kMaxLine) {
      out_.Put('\n');
      length_ = 0;
    } else if (length_ > 0) {
      out_.Put(' ');
      ++length_;
    }
    out_.Write(text.data(), text.size());
    length_ += int(text.size());
  }
  void End() { out_.Put('\n'); }

 private:
  TBufferedWriter& out_;
  int length_ = 0;
};

void WriteLine(TBufferedWriter& out, const std::string& line) {
  out.Write(line.data(), line.size());
  out.Put('\n');
}

}  // namespace

void TPpmGraphic::Assign(const TGraphic* source) {
  TDibGraphic::Assign(source);
  if (const auto* ppm = dynamic_cast<const TPpmGraphic*>(source)) Binary = ppm->Binary;
}

bool TPpmGraphic::IsValidStream(TStream& stream) {
  char signature[2];
  const std::int64_t got = stream.Read(signature, 2);
  stream.Seek(-got, soCurrent);
  return got == 2 && signature[0] == 'P' && signature[1] >= '1' && signature[1] <= '6';
}

void TPpmGraphic::LoadImageFromStream(TStream& stream, int) {
  std::uint8_t last = ReportProgress(this, 0, 0, 255, 100, OnReadWriteProgress);
  const std::int64_t available = stream.Size() - stream.Position();
  TPpmReader in(stream);
  if (in.Get() != 'P') NotValid();
  const int variant = in.Get() - '0';
  if (variant < 1 || variant > 6) NotValid();
  const std::uint32_t width = in.Number(0x7FFFFFFF);
  const std::uint32_t height = in.Number(0x7FFFFFFF);
  const bool bitmap = variant == 1 || variant == 4;
  const std::uint32_t maxValue = bitmap ? 1 : in.Number(65535);
  if (width == 0 || height == 0 || maxValue == 0) NotValid();
  const TImageFormat format = bitmap                         ? ifBlackWhite
                              : variant == 2 || variant == 5 ? ifGray256
                                                             : ifTrueColor;
  const int channels = variant == 3 || variant == 6 ? 3 : 1;
  const std::uint64_t stride = (std::uint64_t{width} * BitsPerPixel(format) + 31) / 32 * 4;
  if (stride * height > kMaxImageBytes) NotValid();
  // Every sample takes a byte at least (raw bitmaps an eighth of one): a
  // file far too short for the size it claims is refused before allocating.
  const std::uint64_t samples = std::uint64_t{width} * height * channels;
  const std::uint64_t least = variant == 4 ? (std::uint64_t{width} + 7) / 8 * height
                                           : samples * (variant >= 5 && maxValue > 255 ? 2 : 1);
  if (available < 0 || least > std::uint64_t(available)) NotValid();
  Binary = variant >= 4;
  NewImage(int(width), int(height), format, nullptr, 0, 0);

  const bool wide = maxValue > 255;  // two bytes per raw sample, scaled
  const std::size_t rawBytes =
      variant == 4 ? (width + 7) / 8 : std::size_t(width) * channels * (wide ? 2 : 1);
  std::vector<std::uint8_t> raw(Binary ? rawBytes : 0);
  std::vector<std::uint8_t> samplesOfRow(std::size_t(width) * channels);
  for (std::uint32_t y = 0; y < height; ++y) {
    std::uint8_t* row = ScanLine(int(y));
    if (variant == 4) {
      in.Bytes(raw.data(), rawBytes);
      NegateBytes(raw.data(), row, rawBytes);
    } else if (variant == 1) {
      for (std::uint32_t x = 0; x < width; ++x)
        if (!in.Bit()) row[x >> 3] |= static_cast<std::uint8_t>(0x80 >> (x & 7));
    } else {
      std::uint8_t* s = samplesOfRow.data();
      if (Binary) {
        in.Bytes(raw.data(), rawBytes);
        for (std::size_t i = 0; i < samplesOfRow.size(); ++i)
          s[i] =
              wide ? Scaled((std::uint32_t{raw[2 * i]} << 8) | raw[2 * i + 1], maxValue) : raw[i];
      } else {
        // Plain samples up to 255 are taken as they are, whatever the
        // maximum; larger maxima are scaled.
        for (std::size_t i = 0; i < samplesOfRow.size(); ++i) {
          const std::uint32_t v = in.Number(0xFFFFFFF);
          s[i] = wide ? Scaled(v, maxValue) : static_cast<std::uint8_t>(v > 255 ? 255 : v);
        }
      }
      if (channels == 1) {
        std::memcpy(row, s, width);
      } else {
        for (std::uint32_t x = 0; x < width; ++x) {
          row[3 * x] = s[3 * x + 2];
          row[3 * x + 1] = s[3 * x + 1];
          row[3 * x + 2] = s[3 * x];
        }
      }
    }
    last = ReportProgress(this, y + 1, 0, last, height, OnReadWriteProgress);
  }
  ReportProgress(this, 100, 0, last, 100, OnReadWriteProgress);
}

void TPpmGraphic::SaveToStream(TStream& stream) {
  if (Empty()) NotValid();
  const TImageFormat format = ImageFormat();
  const bool bitmap = format == ifBlackWhite;
  const bool grey = format == ifGray16 || format == ifGray256;
  const int variant = (bitmap ? 1 : grey ? 2 : 3) + (Binary ? 3 : 0);
  std::uint8_t last = ReportProgress(this, 0, 0, 255, 100, OnReadWriteProgress);
  TBufferedWriter out(stream, kBlock);
  WriteLine(out, "P" + std::to_string(variant));
  WriteLine(out, "# Created By Lumetra Image Library");
  WriteLine(out, std::to_string(Width()) + " " + std::to_string(Height()));
  if (!bitmap) WriteLine(out, "255");
  TPlainWriter plain(out);
  const int w = Width();
  std::vector<std::uint8_t> raw(variant == 4 ? (w + 7) / 8 : std::size_t(w) * 3);
  for (int y = 0; y < Height(); ++y) {
    if (bitmap) {
      const std::uint8_t* row = ScanLine(y);
      if (Binary) {
        NegateBytes(row, raw.data(), raw.size());
        if (w & 7) raw.back() &= static_cast<std::uint8_t>(0xFF00 >> (w & 7));
        out.Write(raw.data(), raw.size());
      } else {
        for (int x = 0; x < w; ++x) plain.Number(((row[x >> 3] >> (7 - (x & 7))) & 1) ^ 1);
      }
      last = ReportProgress(this, y + 1, 0, last, Height(), OnReadWriteProgress);
      continue;
    }
    // Greys go out as their grey levels (the palette's), colours as red,
    // green and blue.
    std::size_t n = 0;
    for (int x = 0; x < w; ++x) {
      const std::uint32_t c = Pixels(x, y);
      if (grey) {
        raw[n++] = static_cast<std::uint8_t>(c >> 16);
      } else {
        raw[n++] = static_cast<std::uint8_t>(c >> 16);
        raw[n++] = static_cast<std::uint8_t>(c >> 8);
        raw[n++] = static_cast<std::uint8_t>(c);
      }
    }
    if (Binary)
      out.Write(raw.data(), n);
    else
      for (std::size_t i = 0; i < n; ++i) plain.Number(raw[i]);
    last = ReportProgress(this, y + 1, 0, last, Height(), OnReadWriteProgress);
  }
  if (!Binary) plain.End();
  out.Flush();
  ReportProgress(this, 100, 0, last, 100, OnReadWriteProgress);
}

}  // namespace lumetra
