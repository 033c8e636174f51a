// The generalised bitmap module: the library's own small codec layer for
// three classic bitmap formats (Windows/OS2 bitmaps, ZSoft PCX, Truevision
// Targa). A codec is chosen by a file name's extension; pixels travel in the
// image store's layout: bottom-up rows padded to four bytes, 1-bit pixels
// MSB first, 4-bit pixels high nibble first, 24-bit pixels blue-green-red.
//
// Calls answer an error code rather than raise: the wrappers turn codes into
// the library's exceptions. Every codec treats its input as hostile; sizes,
// offsets, counts and runs are checked against the file and the image.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/streams.h"

namespace lumetra::gbm {

enum GbmError : int {
  GBM_ERR_OK = 0,
  GBM_ERR_MEM,
  GBM_ERR_NOT_SUPP,
  GBM_ERR_BAD_OPTION,
  GBM_ERR_NOT_FOUND,
  GBM_ERR_BAD_MAGIC,
  GBM_ERR_BAD_SIZE,
  GBM_ERR_READ,
  GBM_ERR_WRITE,
  GBM_ERR_BAD_ARG,
  GBM_ERR_GENERAL,
};

// The module's text for Code ("out of memory" ... "general error").
const char* gbm_err(GbmError code);

// What a codec keeps between reading the header and reading the data.
struct GbmPrivate {
  virtual ~GbmPrivate() = default;
};

struct GbmHeader {
  int w = 0;
  int h = 0;
  int bpp = 0;  // 1, 4, 8 or 24
  std::shared_ptr<GbmPrivate> priv;
};

// One palette entry: red, green and blue in bytes 0, 1 and 2.
struct GbmRgb {
  std::uint8_t r = 0, g = 0, b = 0;
};

// Rows decoded so far out of the image's height.
using GbmProgress = std::function<void(int rowsDone, int rows)>;

// Bytes of one row of the pixel layout above.
inline std::size_t gbm_stride(int w, int bpp) {
  return ((static_cast<std::size_t>(w) * static_cast<std::size_t>(bpp) + 31) / 32) * 4;
}

// Module start and end; the codec table needs no set-up, so both only count.
GbmError gbm_init();
GbmError gbm_deinit();

// The codec whose extension list holds FileName's extension (any case).
GbmError gbm_guess_filetype(const std::string& fileName, int& fileType);
int gbm_query_n_filetypes();
struct GbmFileType {
  const char* shortName;
  const char* longName;
  const char* extensions;  // blank-separated, upper case
};
GbmError gbm_query_filetype(int fileType, GbmFileType& info);

// Reading, from the stream's current position (the file's first byte):
// the header, then the palette (2^bpp entries, for up to 8 bits), then the
// data into a buffer of gbm_stride(w, bpp) * h bytes.
GbmError gbm_read_header(TStream& stream, int fileType, const std::string& options, GbmHeader& gbm);
GbmError gbm_read_palette(TStream& stream, int fileType, GbmHeader& gbm, GbmRgb* palette);
GbmError gbm_read_data(TStream& stream, int fileType, GbmHeader& gbm, std::uint8_t* data,
                       const GbmProgress& progress);
// Writes a whole file at the stream's position.
GbmError gbm_write(TStream& stream, int fileType, const GbmHeader& gbm, const GbmRgb* palette,
                   const std::uint8_t* data, const std::string& options);

// --- for the codecs ------------------------------------------------------------

// The largest image a codec accepts: what the image store allocates at most.
bool gbm_size_allowed(int w, int h, int bpp);
// Whether Options (blank-separated words) holds Word, ignoring case.
bool gbm_has_option(const std::string& options, const char* word);

struct GbmCodec {
  GbmFileType info;
  GbmError (*readHeader)(TStream&, const std::string& options, GbmHeader&);
  GbmError (*readPalette)(TStream&, GbmHeader&, GbmRgb*);
  GbmError (*readData)(TStream&, GbmHeader&, std::uint8_t*, const GbmProgress&);
  GbmError (*write)(TStream&, const GbmHeader&, const GbmRgb*, const std::uint8_t*,
                    const std::string& options);
};
extern const GbmCodec kPcxCodec;
extern const GbmCodec kTgaCodec;
extern const GbmCodec kBmpCodec;

}  // namespace lumetra::gbm
