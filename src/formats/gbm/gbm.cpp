#include "formats/gbm/gbm.h"

#include <atomic>
#include <cctype>
#include <iterator>
#include <new>

#include "base/conversions.h"
#include "base/exception.h"
#include "formats/codec_limits.h"

namespace lumetra::gbm {
namespace {

// In code order, GBM_ERR_MEM first.
const char* const kErrorTexts[] = {
    "out of memory",
    "not supported",
    "bad option(s)",
    "not found",
    "bad magic number / signiture block",
    "bad bitmap size",
    "can't read file",
    "can't write file",
    "bad argument to gbm function",
    "general error",
};

// The file type numbers are positions in this table.
const GbmCodec* const kCodecs[] = {&kPcxCodec, &kTgaCodec, &kBmpCodec};
constexpr int kCodecCount = static_cast<int>(std::size(kCodecs));

std::atomic<int> initCount{0};

// Runs a codec entry: the streams raise on short reads and failed writes,
// memory may run out; each becomes the module's code.
template <class Call>
GbmError Guarded(int fileType, GbmError ioError, Call&& call) {
  if (fileType < 0 || fileType >= kCodecCount) return GBM_ERR_BAD_ARG;
  try {
    return call(*kCodecs[fileType]);
  } catch (const std::bad_alloc&) {
    return GBM_ERR_MEM;
  } catch (const EOutOfMemory&) {
    return GBM_ERR_MEM;
  } catch (const EStreamError&) {
    return ioError;
  }
}

}  // namespace

const char* gbm_err(GbmError code) {
  if (code == GBM_ERR_OK) return "OK";
  if (code < GBM_ERR_MEM || code > GBM_ERR_GENERAL) return "general error";
  return kErrorTexts[code - GBM_ERR_MEM];
}

GbmError gbm_init() {
  ++initCount;
  return GBM_ERR_OK;
}

GbmError gbm_deinit() {
  return initCount.fetch_sub(1) > 0 ? GBM_ERR_OK : GBM_ERR_BAD_ARG;
}

GbmError gbm_guess_filetype(const std::string& fileName, int& fileType) {
  const std::size_t dot = fileName.find_last_of(".\\/:");
  if (dot == std::string::npos || fileName[dot] != '.') return GBM_ERR_NOT_FOUND;
  const std::string extension = UpperCase(fileName.substr(dot + 1));
  if (extension.empty()) return GBM_ERR_NOT_FOUND;
  for (int t = 0; t < kCodecCount; ++t) {
    const std::string list = std::string(" ") + kCodecs[t]->info.extensions + " ";
    if (list.find(" " + extension + " ") != std::string::npos) {
      fileType = t;
      return GBM_ERR_OK;
    }
  }
  return GBM_ERR_NOT_FOUND;
}

int gbm_query_n_filetypes() {
  return kCodecCount;
}

GbmError gbm_query_filetype(int fileType, GbmFileType& info) {
  if (fileType < 0 || fileType >= kCodecCount) return GBM_ERR_BAD_ARG;
  info = kCodecs[fileType]->info;
  return GBM_ERR_OK;
}

GbmError gbm_read_header(TStream& stream, int fileType, const std::string& options,
                         GbmHeader& gbm) {
  gbm = GbmHeader{};
  return Guarded(fileType, GBM_ERR_READ,
                 [&](const GbmCodec& codec) { return codec.readHeader(stream, options, gbm); });
}

GbmError gbm_read_palette(TStream& stream, int fileType, GbmHeader& gbm, GbmRgb* palette) {
  if (!palette || gbm.bpp > 8) return GBM_ERR_BAD_ARG;
  for (int i = 0; i < (1 << gbm.bpp); ++i) palette[i] = GbmRgb{};
  return Guarded(fileType, GBM_ERR_READ,
                 [&](const GbmCodec& codec) { return codec.readPalette(stream, gbm, palette); });
}

GbmError gbm_read_data(TStream& stream, int fileType, GbmHeader& gbm, std::uint8_t* data,
                       const GbmProgress& progress) {
  if (!data || !gbm.priv) return GBM_ERR_BAD_ARG;
  return Guarded(fileType, GBM_ERR_READ, [&](const GbmCodec& codec) {
    return codec.readData(stream, gbm, data, progress);
  });
}

GbmError gbm_write(TStream& stream, int fileType, const GbmHeader& gbm, const GbmRgb* palette,
                   const std::uint8_t* data, const std::string& options) {
  if (!data || (gbm.bpp <= 8 && !palette)) return GBM_ERR_BAD_ARG;
  if (gbm.bpp != 1 && gbm.bpp != 4 && gbm.bpp != 8 && gbm.bpp != 24) return GBM_ERR_BAD_ARG;
  if (!gbm_size_allowed(gbm.w, gbm.h, gbm.bpp)) return GBM_ERR_BAD_SIZE;
  return Guarded(fileType, GBM_ERR_WRITE, [&](const GbmCodec& codec) {
    return codec.write(stream, gbm, palette, data, options);
  });
}

bool gbm_size_allowed(int w, int h, int bpp) {
  if (w <= 0 || h <= 0) return false;
  return gbm_stride(w, bpp) * static_cast<std::uint64_t>(h) <= kMaxImageBytes;
}

bool gbm_has_option(const std::string& options, const char* word) {
  std::string blanked = " " + UpperCase(options) + " ";
  for (char& c : blanked)
    if (c == ',' || c == '\t') c = ' ';
  return blanked.find(" " + UpperCase(word) + " ") != std::string::npos;
}

}  // namespace lumetra::gbm
