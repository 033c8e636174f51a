// The TIFF module's own side of libtiff, shared by its page reader and its
// writer: one client per libtiff handle (the stream, and what libtiff and
// the stream said about it), a handle opened over a stream, and the bytes of
// a file's directories read without libtiff.
#pragma once

#include <tiffio.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/streams.h"
#include "formats/tiff_graphic.h"
#include "imaging/lumisc.h"

namespace lumetra::tiff_io {

// What one libtiff handle works on: the stream and the first error libtiff
// reported for it. Each handle has its own, so two images may be read at once.
struct TiffClient {
  TStream* stream = nullptr;
  std::string error;
  std::string warning;  // the last one: libtiff only warns of a looping chain
  // Why the stream refused a write ("disk full"), kept for the message.
  std::string streamError;
  // An append holds back libtiff's write of the previous directory's link
  // (the bytes it would write at linkOffset) until the page is complete.
  std::int64_t linkOffset = -1;
  std::vector<std::uint8_t> link;
  // Whether the directory libtiff reads or writes next gets the custom tags.
  // libtiff drops every registered field at each directory and adding them
  // back sorts its field table and keeps a copy per directory for the
  // handle's life: a walk over a long chain would spend most of its time,
  // and grow, there. Only a directory that holds one of them needs them.
  bool customTags = true;
  // The stream's size, once known: a read never changes it, and libtiff
  // asks for it at every directory.
  std::int64_t fixedSize = -1;
};

struct TiffCloser {
  void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

[[noreturn]] void Fail(const std::string& detail);
// Detail followed by what libtiff and the stream said about the failure.
[[noreturn]] void Fail(const std::string& detail, const TiffClient& client);

// A libtiff handle over Client's stream; the client must outlive it.
TiffHandle OpenTiff(TiffClient& client, const char* mode);

// Where the last complete directory of a file keeps its link to the next.
struct ChainEnd {
  std::int64_t linkOffset;
  int linkSize;
};

// The byte layout of a classic or BigTIFF file, for the few places that
// look at its directories without libtiff.
struct RawTiff {
  TStream& stream;
  bool little = true;
  int linkSize = 4, countSize = 2, entrySize = 12;

  explicit RawTiff(TStream& s) : stream(s) {
    std::uint8_t header[4] = {};
    stream.SetPosition(0);
    if (stream.Read(header, 4) < 4) Fail("TIFFOpen: not a TIFF file");
    little = header[0] == 'I' && header[1] == 'I';
    if (!little && !(header[0] == 'M' && header[1] == 'M')) Fail("TIFFOpen: not a TIFF file");
    const auto version = Number(header + 2, 2);
    if (version != 42 && version != 43) Fail("TIFFOpen: not a TIFF file");
    if (version == 43) {
      linkSize = countSize = 8;
      entrySize = 20;
    }
  }
  std::uint64_t Number(const std::uint8_t* p, int bytes) const {
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= std::uint64_t{p[little ? i : bytes - 1 - i]} << (8 * i);
    return v;
  }
  // The number of Bytes bytes at Offset; all ones past the end.
  std::uint64_t ReadAt(std::uint64_t offset, int bytes) {
    std::uint8_t field[8];
    stream.SetPosition(static_cast<std::int64_t>(offset));
    return stream.Read(field, bytes) == bytes ? Number(field, bytes) : ~std::uint64_t{0};
  }
  // Whether the directory at Offset holds one of the custom tags; when its
  // entries cannot be read, libtiff is left to judge it with the tags.
  bool CarriesCustomTags(std::uint64_t offset) {
    const std::uint64_t count = ReadAt(offset, countSize);
    if (count > 0xFFFF) return true;
    std::vector<std::uint8_t> entries(static_cast<std::size_t>(count) * entrySize);
    if (stream.Read(entries.data(), static_cast<std::int64_t>(entries.size())) !=
        static_cast<std::int64_t>(entries.size()))
      return true;
    const auto& numbers = CustomTiffTagNumbers();
    for (std::size_t at = 0; at < entries.size(); at += entrySize) {
      const auto tag = static_cast<std::uint32_t>(Number(entries.data() + at, 2));
      if (std::find(numbers.begin(), numbers.end(), tag) != numbers.end()) return true;
    }
    return false;
  }
};

// Walks the directory chain of a classic or BigTIFF file without libtiff and
// answers where the next directory will be linked. A chain whose tail is
// unfinished (a link past the end of the file, into a zeroed or cut-off
// directory, or back into the chain: what an interrupted append leaves) is
// cut after its last complete directory, so the document reads as before
// the interrupted page and the next append adds its page where a reader
// finds it.
ChainEnd RepairChainEnd(TStream& stream);

// Row conversions between the file's layout and the image's, one row at a
// time while it is in the cache. Plain indexed loops the compiler
// vectorises; Source and Dest may be the same row.
void SwapRedBlue(const std::uint8_t* source, std::uint8_t* dest, int width);

struct Progress {
  TObject* sender;
  const TLumetraProgressEvent& event;
  std::uint8_t last = 255;
  void Report(long long position, long long end) {
    last = ReportProgress(sender, position, 0, last, end, event);
  }
  void Percent(int percent) { Report(percent, 100); }
};

}  // namespace lumetra::tiff_io
