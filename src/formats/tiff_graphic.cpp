#include "formats/tiff_graphic.h"

#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <new>
#include <unordered_set>
#include <vector>

#include "base/format.h"
#include "formats/codec_limits.h"
#include "formats/registry.h"
#include "imaging/row_bytes.h"

namespace lumetra {
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

struct TiffCloser {
  void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

struct OptionsFree {
  void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

[[noreturn]] void Fail(const std::string& detail) {
  throw ETiffError("ETiffError " + detail);
}

// Detail followed by what libtiff and the stream said about the failure.
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

// --- the directory chain ------------------------------------------------------------

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
    for (std::size_t at = 0; at < entries.size(); at += entrySize) {
      const auto tag = static_cast<std::uint32_t>(Number(entries.data() + at, 2));
      if (std::find(customTagNumbers.begin(), customTagNumbers.end(), tag) != customTagNumbers.end())
        return true;
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

// --- compression tables -----------------------------------------------------------

struct CompressionInfo {
  const char* name;
  std::uint16_t tiffCode;
  std::uint8_t allowedFormats;  // bit per TImageFormat
};
constexpr std::uint8_t kBW = 1 << ifBlackWhite, kG16 = 1 << ifGray16, kG256 = 1 << ifGray256,
                       kC16 = 1 << ifColor16, kC256 = 1 << ifColor256, kTC = 1 << ifTrueColor;
constexpr std::uint8_t kAll = kBW | kG16 | kG256 | kC16 | kC256 | kTC;
constexpr CompressionInfo kCompressions[] = {
    {"None", COMPRESSION_NONE, kAll},
    {"Packbits", COMPRESSION_PACKBITS, kAll},
    {"CCITT Group 3, 1D", COMPRESSION_CCITTFAX3, kBW},
    {"CCITT Group 3, 2D", COMPRESSION_CCITTFAX3, kBW},
    {"CCITT Group 4", COMPRESSION_CCITTFAX4, kBW},
    {"ZLib", COMPRESSION_ADOBE_DEFLATE, kAll},
    {"JPEG", COMPRESSION_JPEG, kG256 | kTC},
    {"LZW", COMPRESSION_LZW, kAll},
};

bool IsCcitt(TTiffCompression c) {
  return c == tcGroup3_1D || c == tcGroup3_2D || c == tcGroup4;
}

// Field setters of the writer; each names the rejected tag.
void SetIntField(TIFF* tif, ttag_t tag, std::uint32_t value) {
  if (!TIFFSetField(tif, tag, value)) Fail(Format("TIFFSetIntField: Tag = %u", tag));
}
void SetFloatField(TIFF* tif, ttag_t tag, float value) {
  if (!TIFFSetField(tif, tag, static_cast<double>(value)))
    Fail(Format("TIFFSetFloatField: Tag = %u", tag));
}
void SetStringField(TIFF* tif, ttag_t tag, const std::string& value) {
  if (!TIFFSetField(tif, tag, value.c_str())) Fail(Format("TIFFSetField: Tag = %u", tag));
}

std::uint16_t DpiFromTiff(float value, std::uint16_t unit) {
  long double dpi = value;
  if (unit == RESUNIT_CENTIMETER) dpi *= 2.54L;
  if (!(dpi > 0)) return 0;
  if (dpi > 65535) return 65535;
  return static_cast<std::uint16_t>(std::nearbyint(dpi));
}

// Encoded bytes gathered before each write to the file.
constexpr tmsize_t kWriteBuffer = 256 * 1024;

// Row conversions between the file's layout and the image's, one row at a
// time while it is in the cache. Plain indexed loops the compiler
// vectorises; Source and Dest may be the same row.
void SwapRedBlue(const std::uint8_t* source, std::uint8_t* dest, int width) {
  for (int x = 0; x < width; ++x) {
    const std::uint8_t first = source[3 * x], last = source[3 * x + 2];
    dest[3 * x] = last;
    dest[3 * x + 1] = source[3 * x + 1];
    dest[3 * x + 2] = first;
  }
}

// A half turn (rows and pixels in reverse order), in place.
void RotateHalfTurn(TDibGraphic& image) {
  const int width = image.Width(), height = image.Height();
  const int bits = BitsPerPixel(image.ImageFormat());
  const std::size_t stride = image.RowStride();
  std::vector<std::uint8_t> top(stride), bottom(stride);
  for (int y = 0; y < (height + 1) / 2; ++y) {
    const int other = height - 1 - y;
    std::memcpy(top.data(), image.ScanLine(y), stride);
    std::memcpy(bottom.data(), image.ScanLine(other), stride);
    ReverseRow(bottom.data(), image.ScanLine(y), width, bits);
    if (other != y) ReverseRow(top.data(), image.ScanLine(other), width, bits);
  }
}

std::string DateTimeNow() {
  const std::tm local = LocalTimeNow();
  return FormatDateWith("yyyy:mm:dd", local) + " " + FormatTimeWith("hh:nn:ss", local);
}

// The encoded bytes of one PackBits strip, read from the stream a block at a
// time; Next hands out a code's bytes in one piece (a literal is at most
// 128). A strip the file does not hold whole is an error, as in libtiff.
class TPackBitsSource {
 public:
  explicit TPackBitsSource(TStream& stream) : stream_(stream), block_(kBlock + 128) {}

  void Start(std::uint64_t offset, std::uint64_t count, bool reversed) {
    if (count == 0) Fail("TIFFReadEncodedStrip: Invalid strip byte count 0");
    offset_ = offset;
    left_ = count;
    reversed_ = reversed;
    next_ = end_ = 0;
  }
  // The next Count bytes, or nullptr when the strip holds fewer.
  const std::uint8_t* Next(std::size_t count) {
    if (end_ - next_ < count) {
      if (left_ == 0) return nullptr;
      const std::size_t kept = end_ - next_;
      std::memmove(block_.data(), block_.data() + next_, kept);
      const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left_, kBlock));
      stream_.SetPosition(static_cast<std::int64_t>(offset_));
      if (stream_.Read(block_.data() + kept, static_cast<std::int64_t>(want)) !=
          static_cast<std::int64_t>(want))
        Fail("TIFFReadEncodedStrip: Read error on strip");
      if (reversed_) TIFFReverseBits(block_.data() + kept, static_cast<tmsize_t>(want));
      offset_ += want;
      left_ -= want;
      next_ = 0;
      end_ = kept + want;
      if (end_ < count) return nullptr;
    }
    const std::uint8_t* bytes = block_.data() + next_;
    next_ += count;
    return bytes;
  }

 private:
  static constexpr std::size_t kBlock = 256 * 1024;
  TStream& stream_;
  std::vector<std::uint8_t> block_;
  std::uint64_t offset_ = 0, left_ = 0;
  bool reversed_ = false;
  std::size_t next_ = 0, end_ = 0;
};

struct Progress {
  TObject* sender;
  const TLumetraProgressEvent& event;
  std::uint8_t last = 255;
  void Report(long long position, long long end) {
    last = ReportProgress(sender, position, 0, last, end, event);
  }
  void Percent(int percent) { Report(percent, 100); }
};

}  // namespace

std::string TiffCompressionName(int compression) {
  if (compression < 0 || compression > tcLZW) return {};
  return kCompressions[compression].name;
}

bool IsCompressionAllowed(TTiffCompression compression, TImageFormat imageFormat) {
  if (compression > tcLZW || imageFormat > ifTrueColor) return false;
  return (kCompressions[compression].allowedFormats >> imageFormat) & 1;
}

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

// --- TTiffGraphic -------------------------------------------------------------------

TTiffGraphic::TTiffGraphic() {
  customTags_[0].enabled = true;
}

std::unique_ptr<TDibGraphic> TTiffGraphic::CreateNew() const {
  return std::make_unique<TTiffGraphic>();
}

void TTiffGraphic::SetCompression(TTiffCompression value) {
  if (!IsCompressionAllowed(value, ImageFormat()))
    throw ELumetraError(Format("%s compression not supported with %s images",
                               TiffCompressionName(value), ImageFormatName(ImageFormat())));
  compression_ = value;
}

void TTiffGraphic::SetRowsPerStrip(std::int64_t value) {
  if (value < 1) value = 1;
  if (value > 2147483647) value = 2147483647;
  rowsPerStrip_ = static_cast<std::int32_t>(value);
}

// A new image's compression: the one every reader of its format has.
static TTiffCompression DefaultCompression(TImageFormat format) {
  return format == ifBlackWhite ? tcGroup4 : tcPackbits;
}

void TTiffGraphic::NewImage(int width, int height, TImageFormat imageFormat,
                            const TLogPalette* palette, std::uint16_t xDpi, std::uint16_t yDpi) {
  TDibGraphic::NewImage(width, height, imageFormat, palette, xDpi, yDpi);
  compression_ = DefaultCompression(imageFormat);
}

void TTiffGraphic::TakeImageFrom(TDibGraphic& source) {
  TDibGraphic::TakeImageFrom(source);
  if (!Empty()) compression_ = DefaultCompression(ImageFormat());
}

void TTiffGraphic::Assign(const TGraphic* source) {
  TDibGraphic::Assign(source);
  if (const auto* tiff = dynamic_cast<const TTiffGraphic*>(source))
    rowsPerStrip_ = tiff->rowsPerStrip_;
}

bool TTiffGraphic::IsValidStream(TStream& stream) {
  std::uint8_t b[4] = {};
  const std::int64_t n = stream.Read(b, 4);
  if (n > 0) stream.Seek(-n, soCurrent);
  if (n != 4) return false;
  return (b[0] == 'I' && b[1] == 'I' && b[2] == 42 && b[3] == 0) ||
         (b[0] == 'M' && b[1] == 'M' && b[2] == 0 && b[3] == 42);
}

// One libtiff handle reading a stream, and the offsets of the directories
// found so far: page N is read straight from its offset, so going through
// every page of a document walks its chain once. The walk reads each
// directory without the custom tags; the page that is read gets them when
// its directory holds one (read again only then).
struct TTiffReadState {
  TMemoryStream copy;  // the file when the caller's stream is not at 0
  TiffClient client;
  TiffHandle handle;
  std::vector<std::uint64_t> offsets;
  std::size_t current = 0;  // the directory the handle holds
  bool currentHasTags = false;
  bool ended = false;
  std::string damage;
  // Set by the caller: a page whose rows decode in order is left with its
  // header read, and Rows decodes it row by row.
  bool rowsWanted = false;
  struct Rows : TPageRows {
    TTiffReadState* state = nullptr;
    std::uint32_t next = 0, height = 0;
    int width = 0;
    std::size_t rowBytes = 0;
    bool swap = false, invert = false;
    void ReadRow(std::uint8_t* row) override {
      if (next >= height) Fail("Read past the last row of the page");
      if (TIFFReadScanline(state->handle.get(), row, next++, 0) < 0)
        Fail("TIFFReadScanline: " + state->client.error);
      if (swap) SwapRedBlue(row, row, width);
      if (invert) NegateBytes(row, row, rowBytes);
    }
  } rows;

  explicit TTiffReadState(TStream& stream) {
    client.stream = &stream;
    if (stream.Position() != 0) {
      const std::int64_t rest = stream.Size() - stream.Position();
      if (rest > 0) copy.CopyFrom(stream, rest);
      copy.SetPosition(0);
      client.stream = &copy;
    }
    client.fixedSize = client.stream->Size();
    client.customTags = false;
    handle = OpenTiff(client, "rm");
    offsets.push_back(TIFFCurrentDirOffset(handle.get()));
  }

  // Walks the chain until page Index (1-based) is known or the chain ends.
  bool Reach(std::size_t index) {
    while (offsets.size() < index && !ended) {
      if (current != offsets.size() - 1) Select(offsets.size(), false);
      client.error.clear();
      client.warning.clear();
      client.customTags = false;
      if (TIFFReadDirectory(handle.get())) {
        offsets.push_back(TIFFCurrentDirOffset(handle.get()));
        current = offsets.size() - 1;
        currentHasTags = false;
      } else {
        ended = true;
        damage = client.error.empty() ? client.warning : client.error;
      }
    }
    return offsets.size() >= index;
  }

  // Makes page Index the handle's directory, with the custom tags it holds
  // when Tags is set.
  void Select(std::size_t index, bool tags) {
    client.error.clear();
    const bool wanted = tags && RawTiff(*client.stream).CarriesCustomTags(offsets[index - 1]);
    if (current != index - 1 || (wanted && !currentHasTags)) {
      client.customTags = wanted;
      const bool read = TIFFSetSubDirectory(handle.get(), offsets[index - 1]) != 0;
      client.customTags = false;
      if (!read) Fail(Format("Page %d cannot be read", static_cast<int>(index)), client);
      current = index - 1;
      currentHasTags = wanted;
    }
  }
};

TTiffPageReader::TTiffPageReader(TStream& stream)
    : state_(std::make_unique<TTiffReadState>(stream)) {}

TTiffPageReader::~TTiffPageReader() = default;

int TTiffPageReader::Count() {
  state_->Reach(65535);
  return static_cast<int>(state_->offsets.size());
}

const std::string& TTiffPageReader::Damage() {
  Count();
  return state_->damage;
}

void TTiffPageReader::Select(int index) {
  if (index < 1 || index > 65535 || !state_->Reach(static_cast<std::size_t>(index)))
    Fail(Format("Page %d does not exist", index));
  state_->Select(static_cast<std::size_t>(index), true);
  state_->rows.height = 0;
}

void TTiffPageReader::Read(int index, TTiffGraphic& page) {
  Select(index);
  state_->rowsWanted = false;
  page.ReadDirectory(*state_);
}

TPageRows* TTiffPageReader::ReadRows(int index, TTiffGraphic& page) {
  Select(index);
  state_->rowsWanted = true;
  page.ReadDirectory(*state_);
  return state_->rows.height > 0 ? &state_->rows : nullptr;
}

int TTiffGraphic::GetImageCount(TStream& stream) {
  return TTiffPageReader(stream).Count();
}

void TTiffGraphic::LoadImageFromStream(TStream& stream, int imageIndex) {
  TTiffPageReader(stream).Read(imageIndex, *this);
}

void TTiffGraphic::LoadFrames(TStream& stream, std::int64_t start, int count) {
  stream.SetPosition(start);
  TTiffPageReader reader(stream);
  for (int i = 1; i <= count; ++i) {
    auto frame = CreateNew();  // of this object's class, a TTiffGraphic
    frame->OnReadWriteProgress = OnReadWriteProgress;
    reader.Read(i, static_cast<TTiffGraphic&>(*frame));
    AddFrame(std::move(frame));
  }
}

void TTiffGraphic::ReadDirectory(TTiffReadState& state) {
  Progress progress{this, OnReadWriteProgress};
  progress.Percent(0);
  TiffClient& client = state.client;
  TIFF* tif = state.handle.get();

  std::uint32_t width = 0, height = 0;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
  std::uint16_t photometric = 0;
  if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric)) photometric = 0;
  std::uint16_t compression = COMPRESSION_NONE;
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  const bool ccitt = compression == COMPRESSION_CCITTRLE || compression == COMPRESSION_CCITTFAX3 ||
                     compression == COMPRESSION_CCITTFAX4 || compression == COMPRESSION_CCITTRLEW;
  std::uint16_t bits = 0;
  if (!TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bits)) {
    if (!ccitt) Fail("Bits per sample not specified");
    bits = 1;
  }
  std::uint16_t planar = PLANARCONFIG_CONTIG, orientation = ORIENTATION_TOPLEFT;
  std::uint16_t unit = RESUNIT_INCH, samplesPerPixel = 1;
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
  TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
  TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samplesPerPixel);
  float xResolution = 0, yResolution = 0;
  if (!TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xResolution)) xResolution = 0;
  if (!TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yResolution)) yResolution = 0;
  std::uint16_t xDpi = 0, yDpi = 0;
  if (unit == RESUNIT_NONE || unit == RESUNIT_INCH || unit == RESUNIT_CENTIMETER) {
    xDpi = DpiFromTiff(xResolution, unit);
    yDpi = DpiFromTiff(yResolution, unit);
  }
  if (width < 1 || height < 1 || width > 0x7FFFFFFF || height > 0x7FFFFFFF)
    Fail(Format("Invalid image size, %u x %u", width, height));

  const std::uint64_t scanlineSize = TIFFScanlineSize64(tif);
  if (scanlineSize == 0) Fail("TIFFScanlineSize: " + client.error);
  // A hostile header may give any scanline size for its width: keep the
  // product in 64 bits (it only has to be compared with 1, 4, 8 and 24).
  const std::int64_t samplesFactor = std::max<std::int64_t>(
      1, static_cast<std::int64_t>(std::nearbyint(
             std::min(static_cast<double>(scanlineSize) / width, 65536.0))));
  const std::int64_t bitsTimesS = bits * samplesFactor;
  const bool tiled = TIFFIsTiled(tif) != 0;
  // Tiles in a layout the rows take as they are are copied tile by tile:
  // libtiff 4.5.0's raster refuses uncompressed tiles whose byte counts are
  // not a multiple of 1024, and cannot read CCITT tiles at all.
  bool rgba = compression == COMPRESSION_JPEG || photometric == PHOTOMETRIC_SEPARATED ||
              photometric == PHOTOMETRIC_YCBCR || bits > 8 || planar > 1 ||
              !(bitsTimesS == 1 || bitsTimesS == 4 || bitsTimesS == 8 || bitsTimesS == 24);
  if (ccitt && photometric == PHOTOMETRIC_MINISBLACK) photometric = PHOTOMETRIC_MINISWHITE;

  TImageFormat format = ifTrueColor;
  bool invert = false, sixteen = false;
  if (bits == 1 && (photometric == 0 || photometric == 1)) {
    format = ifBlackWhite;
    invert = photometric == 0;
  } else if (bits == 4 && (photometric == 0 || photometric == 1)) {
    format = ifGray16;
    invert = photometric == 0;
  } else if (bits == 8 && (photometric == 0 || photometric == 1)) {
    format = ifGray256;
    invert = photometric == 0 && !rgba;
  } else if (photometric == PHOTOMETRIC_PALETTE) {
    format = bits <= 4 ? ifColor16 : ifColor256;
    sixteen = bits == 16;
  } else if (bits == 16 && (photometric == 0 || photometric == 1)) {
    format = ifGray256;
    sixteen = true;
    invert = photometric == 0;
  }
  // 16-bit samples are read a scanline at a time, which only works for one
  // contiguous sample in strips; anything else goes through the raster.
  if (sixteen && (samplesPerPixel != 1 || tiled || planar > 1 || compression == COMPRESSION_JPEG))
    sixteen = false;
  if (sixteen || ccitt) rgba = false;
  // Bytes are copied into rows only when their layout is the image's; any
  // other combination of bits and samples is decoded through the raster.
  if (!rgba && !sixteen && !ccitt && bitsTimesS != BitsPerPixel(format)) rgba = true;
  if (ccitt && (bits != 1 || samplesPerPixel != 1)) rgba = true;
  // The raster already honours the photometric interpretation: inverting
  // it again would spoil the page.
  if (rgba) invert = false;

  TLogPalette palette{};
  const TLogPalette* paletteToUse = nullptr;
  if (photometric == PHOTOMETRIC_PALETTE) {
    std::uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
    if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue) || !red || !green || !blue)
      Fail("TIFFGetField: Tag = 320");
    const long entries = bits >= 16 ? 65536L : 1L << bits;
    // A 16-bit table is narrowed to its high bytes: that is exact both for
    // the c * 256 this writer stores and for the c * 257 of other writers
    // (scaling by 255 / 65535 would turn our own 255 into 254).
    bool wide = false;
    for (long i = 0; i < entries && !wide; ++i)
      wide = red[i] >= 256 || green[i] >= 256 || blue[i] >= 256;
    const int count = format == ifColor16 ? 16 : 256;
    palette.palVersion = 0x300;
    palette.palNumEntries = static_cast<std::uint16_t>(count);
    for (long i = 0; i < entries && i < count; ++i) {
      auto scale = [wide](std::uint16_t v) {
        return static_cast<std::uint8_t>(wide ? v >> 8 : v & 0xFF);
      };
      palette.palPalEntry[i] = {scale(red[i]), scale(green[i]), scale(blue[i]), 0};
    }
    paletteToUse = &palette;
  }

  const std::uint64_t stride = (std::uint64_t{width} * BitsPerPixel(format) + 31) / 32 * 4;
  if (stride * height > kMaxImageBytes ||
      (rgba && std::uint64_t{width} * height * 4 > kMaxImageBytes))
    Fail(Format("Image too large, %u x %u", width, height));
  try {
    NewImage(static_cast<int>(width), static_cast<int>(height), format, paletteToUse, xDpi, yDpi);
  } catch (const EOutOfResources&) {
    // The process cannot hold a page this size (a 32-bit host): the file's fault.
    Fail(Format("Not enough memory for a %u x %u image", width, height));
  }

  struct AsciiTag {
    ttag_t tag;
    std::string TTiffGraphic::*field;
  };
  static const AsciiTag kAsciiTags[] = {
      {TIFFTAG_DOCUMENTNAME, &TTiffGraphic::DocumentName},
      {TIFFTAG_IMAGEDESCRIPTION, &TTiffGraphic::ImageDescription},
      {TIFFTAG_MAKE, &TTiffGraphic::Make},
      {TIFFTAG_MODEL, &TTiffGraphic::Model},
      {TIFFTAG_PAGENAME, &TTiffGraphic::PageName},
      {TIFFTAG_SOFTWARE, &TTiffGraphic::Software},
      {TIFFTAG_DATETIME, &TTiffGraphic::DateTime},
      {TIFFTAG_ARTIST, &TTiffGraphic::Artist},
      {TIFFTAG_HOSTCOMPUTER, &TTiffGraphic::HostComputer},
  };
  for (const AsciiTag& t : kAsciiTags) {
    const char* text = nullptr;
    this->*t.field = TIFFGetField(tif, t.tag, &text) && text ? text : "";
  }
  for (int i = 0; i < kCustomTiffTagCount; ++i) {
    std::uint32_t count = 0;
    const char* text = nullptr;
    customTags_[i].value.clear();
    // libtiff ends the value with a zero byte, which the count includes.
    if (customTags_[i].enabled && TIFFGetField(tif, customTagNumbers[i], &count, &text) && text &&
        count > 0)
      customTags_[i].value.assign(text, count - 1);
  }

  switch (compression) {
    case COMPRESSION_NONE:
      SetCompression(tcNone);
      break;
    case COMPRESSION_CCITTRLE:
    case COMPRESSION_CCITTRLEW:
      SetCompression(tcGroup3_1D);
      break;
    case COMPRESSION_CCITTFAX3: {
      std::uint32_t options = 0;
      const bool twoD = TIFFGetField(tif, TIFFTAG_T4OPTIONS, &options) && (options & 1);
      SetCompression(twoD ? tcGroup3_2D : tcGroup3_1D);
      break;
    }
    case COMPRESSION_CCITTFAX4:
      SetCompression(tcGroup4);
      break;
    case COMPRESSION_LZW:
      SetCompression(tcLZW);
      break;
    case COMPRESSION_JPEG:
      SetCompression(tcJPEG);
      break;
    case COMPRESSION_PACKBITS:
      SetCompression(tcPackbits);
      break;
    case COMPRESSION_ADOBE_DEFLATE:
      SetCompression(tcZLib);
      break;
    default:
      Fail(Format("Unsupported compression tag, %d", compression));
  }
  std::uint32_t fileRowsPerStrip = 0;
  if (!TIFFGetField(tif, TIFFTAG_ROWSPERSTRIP, &fileRowsPerStrip)) fileRowsPerStrip = 2147483647;
  if (fileRowsPerStrip == 4294967295u) fileRowsPerStrip = height;
  SetRowsPerStrip(fileRowsPerStrip);

  const int w = static_cast<int>(width), h = static_cast<int>(height);
  const int bitsPerPixel = BitsPerPixel(format);
  const std::size_t rowBytes = (static_cast<std::size_t>(w) * bitsPerPixel + 7) / 8;
  // Pixels X0 .. X0 + Count - 1 of image row Y from a row of file bytes.
  auto copyPixels = [&](const std::uint8_t* source, int y, std::uint32_t x0, std::uint32_t count) {
    std::uint8_t* row = ScanLine(y);
    if (samplesPerPixel == 3 && format == ifTrueColor) {
      SwapRedBlue(source, row + 3 * std::size_t{x0}, static_cast<int>(count));
    } else {
      // Tiles are 16 pixels wide at least: X0 starts a byte.
      const std::size_t offset = std::size_t{x0} * bitsPerPixel / 8;
      const std::size_t bytes = (std::size_t{count} * bitsPerPixel + 7) / 8;
      std::memcpy(row + offset, source, std::min<std::size_t>(bytes, RowStride() - offset));
    }
  };
  if (rgba) {
    progress.Percent(5);
    std::vector<std::uint32_t> raster;
    try {
      raster.resize(static_cast<std::size_t>(width) * height);
    } catch (const std::bad_alloc&) {
      Fail(Format("Not enough memory for a %u x %u raster", width, height));
    }
    progress.Percent(10);
    // Pages load as they are stored whatever their orientation: asking for
    // the file's own orientation keeps libtiff from flipping the raster.
    const int stored = orientation >= ORIENTATION_TOPLEFT && orientation <= ORIENTATION_LEFTBOT
                           ? orientation
                           : ORIENTATION_TOPLEFT;
    if (!TIFFReadRGBAImageOriented(tif, width, height, raster.data(), stored, 1))
      Fail("TIFFReadRGBAImage", client);
    progress.Percent(80);
    for (int y = 0; y < h; ++y) {
      const std::uint32_t* source = raster.data() + static_cast<std::size_t>(y) * width;
      if (format == ifTrueColor) {
        std::uint8_t* row = ScanLine(y);
        for (int x = 0; x < w; ++x) {
          row[3 * x] = static_cast<std::uint8_t>(TIFFGetB(source[x]));
          row[3 * x + 1] = static_cast<std::uint8_t>(TIFFGetG(source[x]));
          row[3 * x + 2] = static_cast<std::uint8_t>(TIFFGetR(source[x]));
        }
      } else {
        for (int x = 0; x < w; ++x)
          SetPixels(x, y,
                    (TIFFGetR(source[x]) << 16) | (TIFFGetG(source[x]) << 8) | TIFFGetB(source[x]));
      }
    }
    progress.Percent(90);
  } else if (tiled) {
    std::uint32_t tileWidth = 0, tileLength = 0;
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileLength);
    const tmsize_t tileSize = TIFFTileSize(tif), tileRowBytes = TIFFTileRowSize(tif);
    if (tileWidth == 0 || tileWidth % 8 != 0 || tileLength == 0 || tileSize <= 0 ||
        tileRowBytes <= 0 || static_cast<std::uint64_t>(tileSize) > kMaxCodecAlloc)
      Fail("TIFFTileSize", client);
    std::vector<std::uint8_t> tile(static_cast<std::size_t>(tileSize));
    for (std::uint32_t top = 0; top < height; top += tileLength) {
      for (std::uint32_t left = 0; left < width; left += tileWidth) {
        if (TIFFReadTile(tif, tile.data(), left, top, 0, 0) < 0) Fail("TIFFReadTile", client);
        const std::uint32_t rows = std::min(tileLength, height - top);
        for (std::uint32_t r = 0; r < rows; ++r)
          copyPixels(tile.data() + r * static_cast<std::size_t>(tileRowBytes),
                     static_cast<int>(top + r), left, std::min(tileWidth, width - left));
      }
      progress.Report(std::min<std::uint64_t>(top + tileLength, height), h);
    }
  } else if (sixteen) {
    std::vector<std::uint8_t> line(scanlineSize);
    for (int y = 0; y < h; ++y) {
      if (TIFFReadScanline(tif, line.data(), static_cast<std::uint32_t>(y), 0) < 0)
        Fail("TIFFReadScanline: " + client.error);
      std::uint8_t* row = ScanLine(y);
      const int samples = static_cast<int>(std::min<std::uint64_t>(w, scanlineSize / 2));
      for (int x = 0; x < samples; ++x) {
        std::uint16_t sample;
        std::memcpy(&sample, line.data() + 2 * x, 2);
        row[x] = static_cast<std::uint8_t>(sample >> 8);
      }
      if (invert) NegateBytes(row, row, rowBytes);
      progress.Report(y + 1, h);
    }
  } else if (compression == COMPRESSION_PACKBITS) {
    // Some writers let a PackBits run go on into the next row (a PDF's
    // run-length images always may), so a strip is decoded as one run of
    // bytes; they go straight into the image's rows, without a strip buffer.
    if (scanlineSize > static_cast<std::uint64_t>(RowStride())) Fail("TIFFScanlineSize: row too long");
    std::uint16_t fillOrder = FILLORDER_MSB2LSB;
    TIFFGetFieldDefaulted(tif, TIFFTAG_FILLORDER, &fillOrder);
    std::uint32_t rowsPerStrip = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    rowsPerStrip = std::clamp<std::uint32_t>(rowsPerStrip, 1, height);
    const std::size_t line = static_cast<std::size_t>(scanlineSize);
    TPackBitsSource source(*client.stream);
    for (std::uint32_t first = 0; first < height; first += rowsPerStrip) {
      const std::uint32_t strip = TIFFComputeStrip(tif, first, 0);
      source.Start(TIFFGetStrileOffset(tif, strip), TIFFGetStrileByteCount(tif, strip),
                   fillOrder == FILLORDER_LSB2MSB);
      const std::uint32_t rows = std::min(rowsPerStrip, height - first);
      std::uint32_t r = 0;
      std::size_t x = 0;
      std::uint8_t* row = ScanLine(static_cast<int>(first));
      // Fills Count bytes of the strip from Put (a run or a literal); bytes
      // past the strip's last row are dropped, as libtiff drops them.
      auto emit = [&](std::size_t count, auto put) {
        while (count > 0 && r < rows) {
          const std::size_t n = std::min(count, line - x);
          put(row + x, n);
          x += n;
          count -= n;
          if (x == line) {
            if (format == ifTrueColor) SwapRedBlue(row, row, w);
            if (invert) NegateBytes(row, row, rowBytes);
            const int y = static_cast<int>(first + r);
            progress.Report(y + 1, h);
            x = 0;
            if (++r < rows) row = ScanLine(y + 1);
          }
        }
        return count;
      };
      while (r < rows) {
        const std::uint8_t* code = source.Next(1);
        if (!code) break;
        const int n = static_cast<std::int8_t>(*code);
        if (n == -128) continue;
        if (n < 0) {
          const std::uint8_t* value = source.Next(1);
          if (!value) break;
          const std::uint8_t byte = *value;
          emit(static_cast<std::size_t>(1 - n), [byte](std::uint8_t* to, std::size_t k) { std::memset(to, byte, k); });
        } else {
          const std::uint8_t* literal = source.Next(static_cast<std::size_t>(n) + 1);
          if (!literal) break;
          emit(static_cast<std::size_t>(n) + 1, [&literal](std::uint8_t* to, std::size_t k) {
            std::memcpy(to, literal, k);
            literal += k;
          });
        }
      }
      if (r < rows)
        Fail(Format("TIFFReadEncodedStrip: PackBitsDecode: Not enough data for scanline %u", first + r));
    }
  } else {
    // Each row decodes straight into the image: the file's rows hold the
    // image's bytes (colour in red-green-blue order), so no strip buffer.
    if (scanlineSize > static_cast<std::uint64_t>(RowStride())) Fail("TIFFScanlineSize: row too long");
    if (state.rowsWanted && orientation != ORIENTATION_BOTRIGHT) {
      state.rows = {};
      state.rows.state = &state;
      state.rows.height = height;
      state.rows.width = w;
      state.rows.rowBytes = rowBytes;
      state.rows.swap = format == ifTrueColor;
      state.rows.invert = invert;
      return;
    }
    for (int y = 0; y < h; ++y) {
      std::uint8_t* row = ScanLine(y);
      if (TIFFReadScanline(tif, row, static_cast<std::uint32_t>(y), 0) < 0)
        Fail("TIFFReadScanline: " + client.error);
      if (format == ifTrueColor) SwapRedBlue(row, row, w);
      if (invert) NegateBytes(row, row, rowBytes);
      progress.Report(y + 1, h);
    }
  }

  // Tiles were copied as stored; rows were complemented as they came.
  if (invert && tiled)
    for (int y = 0; y < h; ++y) NegateBytes(ScanLine(y), ScanLine(y), rowBytes);
  if (orientation == ORIENTATION_BOTRIGHT) RotateHalfTurn(*this);
  progress.Percent(100);
}

void TTiffGraphic::SaveToStream(TStream& stream) {
  WriteAtOffsetZero(stream, [&](TStream& s) { WritePage(s, "w"); });
}

void TTiffGraphic::AppendToStream(TStream& stream) {
  const std::int64_t originalSize = stream.Size();
  if (originalSize == 0) {
    SaveToStream(stream);
    return;
  }
  try {
    const ChainEnd end = RepairChainEnd(stream);
    stream.SetPosition(0);
    WritePage(stream, "a", end.linkOffset);
  } catch (...) {
    // Everything of the new page went past the old end of the file and its
    // link was not written: cutting the file back restores it as it was.
    try {
      stream.SetSize(originalSize);
    } catch (...) {
    }
    throw;
  }
}

void TTiffGraphic::WritePage(TStream& stream, const char* mode, std::int64_t linkOffset) {
  if (Empty()) throw ELumetraError("Graphic is empty");
  const TImageFormat format = ImageFormat();
  if (!IsCompressionAllowed(compression_, format))
    throw ELumetraError(Format("%s compression not supported with %s images",
                               TiffCompressionName(compression_), ImageFormatName(format)));
  Progress progress{this, OnReadWriteProgress};
  progress.Percent(0);
  TiffClient client;
  client.stream = &stream;
  client.linkOffset = linkOffset;
  TiffHandle owner = OpenTiff(client, mode);
  TIFF* tif = owner.get();

  if (compression_ == tcGroup3_1D || compression_ == tcGroup3_2D) {
    SetIntField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
    SetIntField(tif, TIFFTAG_GROUP3OPTIONS, compression_ == tcGroup3_1D ? 4 : 5);
  }
  if (compression_ == tcJPEG)
    SetIntField(tif, TIFFTAG_ROWSPERSTRIP, 8);
  else if (rowsPerStrip_ > 0)
    SetIntField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<std::uint32_t>(rowsPerStrip_));
  SetIntField(tif, TIFFTAG_COMPRESSION, kCompressions[compression_].tiffCode);
  if (compression_ == tcJPEG) SetIntField(tif, TIFFTAG_JPEGQUALITY, jpegQuality_);
  SetIntField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);

  const std::pair<ttag_t, const std::string*> asciiTags[] = {
      {TIFFTAG_DOCUMENTNAME, &DocumentName},
      {TIFFTAG_IMAGEDESCRIPTION, &ImageDescription},
      {TIFFTAG_MAKE, &Make},
      {TIFFTAG_MODEL, &Model},
      {TIFFTAG_PAGENAME, &PageName},
      {TIFFTAG_SOFTWARE, &Software},
      {TIFFTAG_DATETIME, &DateTime},
      {TIFFTAG_ARTIST, &Artist},
      {TIFFTAG_HOSTCOMPUTER, &HostComputer},
  };
  for (const auto& [tag, value] : asciiTags)
    if (!value->empty()) SetStringField(tif, tag, *value);
  if (Software.empty()) SetStringField(tif, TIFFTAG_SOFTWARE, "quorv");
  if (DateTime.empty()) SetStringField(tif, TIFFTAG_DATETIME, DateTimeNow());
  SetIntField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  SetFloatField(tif, TIFFTAG_XRESOLUTION, XDpi());
  SetFloatField(tif, TIFFTAG_YRESOLUTION, YDpi());
  SetIntField(tif, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(Width()));
  SetIntField(tif, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(Height()));

  struct Layout {
    std::uint16_t bits, samples, photometric;
  };
  static const Layout kLayouts[] = {
      {1, 1, PHOTOMETRIC_MINISBLACK}, {4, 1, PHOTOMETRIC_MINISBLACK},
      {8, 1, PHOTOMETRIC_MINISBLACK}, {4, 1, PHOTOMETRIC_PALETTE},
      {8, 1, PHOTOMETRIC_PALETTE},    {8, 3, PHOTOMETRIC_RGB},
  };
  Layout layout = kLayouts[format];
  const bool ccitt = IsCcitt(compression_);
  if (format == ifBlackWhite && ccitt) layout.photometric = PHOTOMETRIC_MINISWHITE;
  SetIntField(tif, TIFFTAG_BITSPERSAMPLE, layout.bits);
  SetIntField(tif, TIFFTAG_SAMPLESPERPIXEL, layout.samples);
  SetIntField(tif, TIFFTAG_PHOTOMETRIC, layout.photometric);
  if (layout.photometric == PHOTOMETRIC_PALETTE) {
    std::vector<std::uint16_t> red(256), green(256), blue(256);
    const TLogPalette* palette = LogPalette();
    for (int i = 0; i < palette->palNumEntries && i < (1 << layout.bits); ++i) {
      red[i] = static_cast<std::uint16_t>(palette->palPalEntry[i].peRed * 256);
      green[i] = static_cast<std::uint16_t>(palette->palPalEntry[i].peGreen * 256);
      blue[i] = static_cast<std::uint16_t>(palette->palPalEntry[i].peBlue * 256);
    }
    if (!TIFFSetField(tif, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data()))
      Fail("TIFFSetColormap");
  }
  SetIntField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
  SetIntField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
  // Bits from the most significant down: TIFF keeps the other order for
  // 1-bit data alone, and readers that honour only this one would show any
  // other page as noise.
  SetIntField(tif, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
  // The viewer keeps a page's annotations in the custom tags: write the
  // enabled ones that hold text, or a saved page would lose its marks.
  for (int i = 0; i < kCustomTiffTagCount; ++i)
    if (customTags_[i].enabled && !customTags_[i].value.empty()) {
      const std::string& value = customTags_[i].value;
      if (value.size() >= 0x7FFFFFFFu ||
          !TIFFSetField(tif, customTagNumbers[i], static_cast<std::uint32_t>(value.size() + 1),
                        value.c_str()))
        Fail(Format("TIFFSetField: Tag = %u", customTagNumbers[i]));
    }

  // libtiff would gather the encoded page in a buffer of the whole strip
  // (the page, uncompressed) and write it at the end; a small one is written
  // out whenever it fills, onto the end of the same strip.
  if (!TIFFWriteBufferSetup(tif, nullptr, kWriteBuffer)) Fail("TIFFWriteBufferSetup: " + client.error);
  const int h = Height();
  const std::size_t rowBytes = TIFFScanlineSize(tif) > 0 ? TIFFScanlineSize(tif) : RowStride();
  std::vector<std::uint8_t> buffer, incoming;
  if ((format == ifBlackWhite && ccitt) || format == ifTrueColor)
    buffer.resize(std::max<std::size_t>(rowBytes, RowStride()));
  if (rowSource_) incoming.resize(std::max<std::size_t>(rowBytes, RowStride()));
  for (int y = 0; y < h; ++y) {
    std::uint8_t* row = ScanLine(y);
    if (rowSource_) {
      rowSource_->ReadRow(incoming.data());
      row = incoming.data();
    }
    if (format == ifBlackWhite && ccitt) {
      NegateBytes(row, buffer.data(), buffer.size());
      row = buffer.data();
    } else if (format == ifTrueColor) {
      SwapRedBlue(row, buffer.data(), Width());
      row = buffer.data();
    }
    if (TIFFWriteScanline(tif, row, static_cast<std::uint32_t>(y), 0) < 0)
      Fail("TIFFWriteScanLine", client);
    progress.Report(y + 1, h);
  }
  if (!TIFFWriteDirectory(tif)) Fail("TIFFWriteDirectory", client);
  owner.reset();
  // libtiff links a new directory before it writes it; the link was held
  // back, so an append cut short at any write leaves the pages before it
  // intact, and one write makes the new page part of the document.
  if (linkOffset >= 0) {
    if (client.link.empty()) Fail("TIFFWriteDirectory: the new directory was not linked");
    stream.SetPosition(linkOffset);
    stream.WriteBuffer(client.link.data(), static_cast<std::int64_t>(client.link.size()));
  }
  progress.Percent(100);
}

}  // namespace lumetra
