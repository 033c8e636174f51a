// TTiffGraphic: single- and multi-page TIFF files through libtiff, over the
// library's streams. The scanning window keeps its documents in this format.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "formats/page_rows.h"
#include "imaging/dib_graphic.h"

namespace lumetra {

LUMETRA_DECLARE_EXCEPTION(ETiffError, Exception);

enum TTiffCompression : std::uint8_t {
  tcNone = 0,
  tcPackbits = 1,
  tcGroup3_1D = 2,
  tcGroup3_2D = 3,
  tcGroup4 = 4,
  tcZLib = 5,
  tcJPEG = 6,
  tcLZW = 7,
};

// "None", "Packbits", ... ; empty outside the enumeration.
std::string TiffCompressionName(int compression);
// Whether Compression may be used with images of ImageFormat.
bool IsCompressionAllowed(TTiffCompression compression, TImageFormat imageFormat);

// An extra ASCII tag read from files. Its tag number is the matching entry
// of CustomTiffTagNumbers().
struct TCustomTiffTag {
  bool enabled = false;
  std::string value;
};

constexpr int kCustomTiffTagCount = 20;
// The process-wide tag numbers of the custom tags (40000..40019 at start).
// Change them before the first TIFF is opened: libtiff learns them once.
std::array<std::uint32_t, kCustomTiffTagCount>& CustomTiffTagNumbers();
// Teaches libtiff the custom ASCII tags; idempotent and thread-safe.
void InitializeTiffModule();

struct TTiffReadState;
class TTiffGraphic;

// Reads the pages of one TIFF stream over one libtiff handle, from the
// stream's current position. The directory chain is walked once, so going
// through every page of a document takes time in proportion to its pages.
class TTiffPageReader {
 public:
  explicit TTiffPageReader(TStream& stream);  // the stream must outlive the reader
  ~TTiffPageReader();
  TTiffPageReader(const TTiffPageReader&) = delete;
  TTiffPageReader& operator=(const TTiffPageReader&) = delete;

  // The pages before the directory chain ends (or breaks off).
  int Count();
  // libtiff's reason when the chain breaks off before its end (a loop, a
  // link to nowhere); empty when it ends normally.
  const std::string& Damage();
  // Decodes page Index (1-based) into Page; raises ETiffError "Page %d does
  // not exist" beyond Count.
  void Read(int index, TTiffGraphic& page);
  // Reads page Index's header into Page, without its pixels, when its rows
  // can be decoded in order, and returns their reader (valid until the next
  // Read or ReadRows); otherwise decodes the page as Read and returns null.
  TPageRows* ReadRows(int index, TTiffGraphic& page);

 private:
  void Select(int index);
  std::unique_ptr<TTiffReadState> state_;
};

class TTiffGraphic : public TGraphicOf<TTiffGraphic> {
 public:
  TTiffGraphic();
  const char* ClassName() const noexcept override { return "TTiffGraphic"; }

  bool IsValidStream(TStream& stream) override;
  int GetImageCount(TStream& stream) override;
  void LoadImageFromStream(TStream& stream, int imageIndex) override;
  void SaveToStream(TStream& stream) override;
  void AppendToStream(TStream& stream) override;
  void Assign(const TGraphic* source) override;
  // Also resets Compression to the new format's default.
  void TakeImageFrom(TDibGraphic& source) override;
  void NewImage(int width, int height, TImageFormat imageFormat, const TLogPalette* palette,
                std::uint16_t xDpi, std::uint16_t yDpi) override;

  TTiffCompression Compression() const { return compression_; }
  // Raises ELumetraError "%s compression not supported with %s images" and
  // keeps the old value when the image format does not allow Value.
  void SetCompression(TTiffCompression value);
  std::int32_t RowsPerStrip() const { return rowsPerStrip_; }
  void SetRowsPerStrip(std::int64_t value);
  std::uint8_t JpegQuality() const { return jpegQuality_; }
  void SetJpegQuality(std::uint8_t value) { jpegQuality_ = value; }

  std::string DocumentName, ImageDescription, Make, Model, PageName, Software, DateTime, Artist,
      HostComputer;

  TCustomTiffTag& CustomTag(int index) { return customTags_.at(index); }
  const TCustomTiffTag& CustomTag(int index) const { return customTags_.at(index); }
  // The first custom tag (40000), where the viewer keeps a page's annotations.
  const std::string& CustomTagValue() const { return customTags_[0].value; }
  void SetCustomTagValue(const std::string& value) { customTags_[0].value = value; }
  // While set, saves write the rows Rows hands out, in order, instead of
  // this image's pixels (which the save leaves untouched); this image gives
  // the size, format, palette, resolution and tags.
  void SetRowSource(TPageRows* rows) { rowSource_ = rows; }

 protected:
  // Every page over one libtiff handle.
  void LoadFrames(TStream& stream, std::int64_t start, int count) override;

 private:
  friend class TTiffPageReader;
  void ReadDirectory(TTiffReadState& state);
  // LinkOffset >= 0: an append whose link to the new directory is written
  // there only when the page is complete.
  void WritePage(TStream& stream, const char* mode, std::int64_t linkOffset = -1);

  TTiffCompression compression_ = tcGroup4;
  std::int32_t rowsPerStrip_ = 2147483647;
  std::uint8_t jpegQuality_ = 70;
  std::array<TCustomTiffTag, kCustomTiffTagCount> customTags_;
  TPageRows* rowSource_ = nullptr;
};

}  // namespace lumetra
