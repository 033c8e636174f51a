// libtiff over the library's streams: the stream callbacks, the per-handle
// error and warning handlers, the custom tags and the directory chain.
#include "formats/tiff_client.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <unordered_set>

#include "formats/codec_limits.h"

namespace lumetra {

using namespace tiff_io;

namespace {

// --- the custom tags --------------------------------------------------------------

std::array<std::uint32_t, kCustomTiffTagCount> customTagNumbers = [] {
  std::array<std::uint32_t, kCustomTiffTagCount> numbers{};
  for (int i = 0; i < kCustomTiffTagCount; ++i) numbers[i] = 40000u + static_cast<std::uint32_t>(i);
  return numbers;
}();

char customTagNames[kCustomTiffTagCount][32];
TIFFFieldInfo customTagInfo[kCustomTiffTagCount];
TIFFExtendProc parentExtender = nullptr;

// --- stream callbacks -------------------------------------------------------------

TiffClient& ClientOf(thandle_t handle) {
  return *static_cast<TiffClient*>(handle);
}

// Nothing may unwind through libtiff: stream exceptions become short counts.
tmsize_t ReadProc(thandle_t handle, void* buffer, tmsize_t size) noexcept {
  try {
    return static_cast<tmsize_t>(ClientOf(handle).stream->Read(buffer, size));
  } catch (...) {
    return -1;
  }
}

tmsize_t WriteProc(thandle_t handle, void* buffer, tmsize_t size) noexcept {
  TiffClient& client = ClientOf(handle);
  try {
    if (client.linkOffset >= 0 && client.link.empty() && (size == 4 || size == 8) &&
        client.stream->Position() == client.linkOffset) {
      const auto* bytes = static_cast<const std::uint8_t*>(buffer);
      client.link.assign(bytes, bytes + size);
      client.stream->Seek(size, soCurrent);
      return size;
    }
    return static_cast<tmsize_t>(client.stream->Write(buffer, size));
  } catch (const std::exception& e) {
    if (client.streamError.empty()) client.streamError = e.what();
    return -1;
  }
}

toff_t SeekProc(thandle_t handle, toff_t offset, int whence) noexcept {
  TSeekOrigin origin = soBeginning;
  if (whence == SEEK_CUR) origin = soCurrent;
  if (whence == SEEK_END) origin = soEnd;
  const auto signedOffset = static_cast<std::int64_t>(offset);
  if (origin == soBeginning && signedOffset < 0) return static_cast<toff_t>(-1);
  try {
    const std::int64_t position = ClientOf(handle).stream->Seek(signedOffset, origin);
    return position < 0 ? static_cast<toff_t>(-1) : static_cast<toff_t>(position);
  } catch (...) {
    return static_cast<toff_t>(-1);
  }
}

int CloseProc(thandle_t) noexcept {
  return 0;
}  // the caller's stream stays open

toff_t SizeProc(thandle_t handle) noexcept {
  try {
    const TiffClient& client = ClientOf(handle);
    if (client.fixedSize >= 0) return static_cast<toff_t>(client.fixedSize);
    return static_cast<toff_t>(client.stream->Size());
  } catch (...) {
    return 0;
  }
}

int MapProc(thandle_t, void**, toff_t*) noexcept {
  return 0;
}
void UnmapProc(thandle_t, void*, toff_t) noexcept {}

std::string HandlerText(const char* module, const char* format, va_list args) {
  char text[512];
  std::vsnprintf(text, sizeof text, format, args);
  return std::string(module ? module : "") + ": " + text;
}

int ErrorHandler(TIFF*, void* userData, const char* module, const char* format,
                 va_list args) noexcept {
  auto* client = static_cast<TiffClient*>(userData);
  if (client && client->error.empty()) client->error = HandlerText(module, format, args);
  return 1;  // handled: the process-wide handler stays silent
}

int WarningHandler(TIFF*, void* userData, const char* module, const char* format,
                   va_list args) noexcept {
  if (auto* client = static_cast<TiffClient*>(userData))
    client->warning = HandlerText(module, format, args);
  return 1;
}

// The custom tags go into our own handles, when wanted; other handles in
// the process (a peer's) keep libtiff's fields alone.
void ExtendTags(TIFF* tif) {
  if (TIFFGetReadProc(tif) == &ReadProc && ClientOf(TIFFClientdata(tif)).customTags)
    TIFFMergeFieldInfo(tif, customTagInfo, kCustomTiffTagCount);
  if (parentExtender) parentExtender(tif);
}

struct OptionsFree {
  void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

}  // namespace

namespace tiff_io {

[[noreturn]] void Fail(const std::string& detail) {
  throw ETiffError("ETiffError " + detail);
}

[[noreturn]] void Fail(const std::string& detail, const TiffClient& client) {
  std::string text = detail;
  if (!client.error.empty()) text += ": " + client.error;
  if (!client.streamError.empty()) text += "; " + client.streamError;
  Fail(text);
}

TiffHandle OpenTiff(TiffClient& client, const char* mode) {
  InitializeTiffModule();
  std::unique_ptr<TIFFOpenOptions, OptionsFree> options(TIFFOpenOptionsAlloc());
  if (!options) Fail("TIFFOpen");
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), &ErrorHandler, &client);
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), &WarningHandler, &client);
  TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), static_cast<tmsize_t>(kMaxCodecAlloc));
  TiffHandle tif(TIFFClientOpenExt("Stream", mode, &client, &ReadProc, &WriteProc, &SeekProc,
                                   &CloseProc, &SizeProc, &MapProc, &UnmapProc, options.get()));
  if (!tif) Fail("TIFFOpen", client);
  return tif;
}

ChainEnd RepairChainEnd(TStream& stream) {
  const std::int64_t size = stream.Size();
  if (size < 8) Fail("TIFFOpen: not a TIFF file");
  RawTiff raw(stream);
  std::int64_t linkOffset = raw.linkSize == 8 ? 8 : 4;
  std::unordered_set<std::uint64_t> visited;
  for (std::uint64_t next = raw.ReadAt(linkOffset, raw.linkSize); next != 0;) {
    const std::uint64_t count =
        next < static_cast<std::uint64_t>(size) ? raw.ReadAt(next, raw.countSize) : 0;
    const std::uint64_t end = next + raw.countSize + count * raw.entrySize + raw.linkSize;
    const bool complete = count > 0 && count <= 0xFFFF && end <= static_cast<std::uint64_t>(size) &&
                          !visited.contains(next);
    if (!complete) {
      if (visited.empty()) Fail("TIFFOpen: the first directory of the file is damaged");
      const std::uint8_t zero[8] = {};
      stream.SetPosition(linkOffset);
      stream.WriteBuffer(zero, raw.linkSize);
      break;
    }
    visited.insert(next);
    linkOffset = static_cast<std::int64_t>(end) - raw.linkSize;
    next = raw.ReadAt(linkOffset, raw.linkSize);
  }
  return {linkOffset, raw.linkSize};
}

void SwapRedBlue(const std::uint8_t* source, std::uint8_t* dest, int width) {
  for (int x = 0; x < width; ++x) {
    const std::uint8_t first = source[3 * x], last = source[3 * x + 2];
    dest[3 * x] = last;
    dest[3 * x + 1] = source[3 * x + 1];
    dest[3 * x + 2] = first;
  }
}

}  // namespace tiff_io

std::array<std::uint32_t, kCustomTiffTagCount>& CustomTiffTagNumbers() {
  return customTagNumbers;
}

void InitializeTiffModule() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (int i = 0; i < kCustomTiffTagCount; ++i) {
      std::snprintf(customTagNames[i], sizeof customTagNames[i], "QuorvexCustom%d", i);
      // Counted, not zero-terminated: annotation text may hold zero bytes.
      customTagInfo[i] = {
          customTagNumbers[i], TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_ASCII, FIELD_CUSTOM, 1, 1,
          customTagNames[i]};
    }
    parentExtender = TIFFSetTagExtender(&ExtendTags);
  });
}

}  // namespace lumetra
