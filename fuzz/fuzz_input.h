// Shared by the fuzz targets: the fuzzer's bytes as a stream, and the one
// kind of failure a reader may answer hostile input with.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/exception.h"
#include "base/streams.h"
#include "formats/png_graphic.h"
#include "imaging/dib_graphic.h"

namespace lumetra::fuzz {

inline void Fill(TMemoryStream& stream, const std::uint8_t* data, std::size_t size) {
  if (size) stream.WriteBuffer(data, static_cast<std::int64_t>(size));
  stream.SetPosition(0);
}

// Every page the reader claims, at most a few: Exception is the only
// acceptable failure; anything else (a crash, another exception type, a
// sanitizer report) is a finding.
inline void LoadPages(TDibGraphic& reader, TStream& stream, int maxPages) {
  PngWarningHandler() = nullptr;
  try {
    stream.SetPosition(0);
    int pages = reader.GetImageCount(stream);
    if (pages > maxPages) pages = maxPages;
    for (int page = 1; page <= pages; ++page) {
      stream.SetPosition(0);
      reader.LoadImageFromStream(stream, page);
    }
  } catch (const Exception&) {
  }
}

}  // namespace lumetra::fuzz
