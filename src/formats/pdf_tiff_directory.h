// The two small TIFF directory tools of the PDF module: TTiffDecoder finds
// the encoded strip in a TIFF the TIFF writer produced (the PDF writer embeds
// exactly those bytes), and TTiffEncoder wraps a PDF image stream into a
// one-strip TIFF that the TIFF reader decodes.
#pragma once

#include <cstdint>
#include <vector>

#include "base/object.h"
#include "base/streams.h"

namespace lumetra {

class TTiffDecoder : public TObject {
 public:
  // Reads the 8-byte header at Stream's position, which is the TIFF's base.
  explicit TTiffDecoder(TStream& stream);
  const char* ClassName() const noexcept override { return "TTiffDecoder"; }

  // Loads directory PageIndex (0-based); raises Exception "Invalid TIFF Page
  // Number" when the chain has no such directory.
  void Select(int pageIndex);
  int IndexOfTag(std::uint16_t tag) const;
  // The value field of Tag; raises Exception "TIFF Tag Not Found: %d".
  std::uint32_t TagValue(std::uint16_t tag) const;
  // Offsets in the file are relative to this position of the stream.
  std::int64_t Base() const { return base_; }

 private:
  struct Entry {
    std::uint16_t tag, type;
    std::uint32_t count, value;
  };
  std::uint16_t Read16();
  std::uint32_t Read32();

  TStream& stream_;
  std::int64_t base_;
  bool bigEndian_ = false;
  std::uint32_t firstDirectory_ = 0;
  std::vector<Entry> entries_;
};

class TTiffEncoder : public TObject {
 public:
  // Writes an 8-byte placeholder for the header at Stream's position.
  explicit TTiffEncoder(TStream& stream);
  const char* ClassName() const noexcept override { return "TTiffEncoder"; }

  void BeginDirectory();
  void AddLong(std::uint16_t tag, std::uint32_t value);
  void AddShort(std::uint16_t tag, std::uint16_t value);
  // An array of SHORTs (a colour map): the values are written to the stream
  // at once, and the entry points at them.
  void AddShorts(std::uint16_t tag, const std::vector<std::uint16_t>& values);
  // Writes the entries in ascending tag order; the first directory is
  // linked from the header.
  void WriteDirectory();
  // The offset, relative to the TIFF's start, that the next byte written
  // will have.
  std::uint32_t Offset() const;

 private:
  struct Entry {
    std::uint16_t tag, type;
    std::uint32_t count, value;
  };
  void WordAlign();

  TStream& stream_;
  std::int64_t base_;
  std::vector<Entry> entries_;
  int directories_ = 0;
};

}  // namespace lumetra
