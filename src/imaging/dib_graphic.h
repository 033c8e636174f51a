// TDibGraphic: the one in-memory image of the library. A bottom-up
// device-independent bitmap (rows padded to four bytes, 1-bit pixels MSB
// first, 4-bit pixels high nibble first, 24-bit pixels blue-green-red) with
// a format, a palette, a resolution and an optional list of frames. Every
// format class derives from it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "imaging/graphic.h"
#include "imaging/palettes.h"
#include "platform/pixel_store.h"

namespace lumetra {

class TDibGraphic;
class TQuantizeThread;

// The 40-byte BITMAPINFOHEADER, as it is laid out in memory and in files
// (every field is naturally aligned, so no packing is needed).
struct TBitmapInfoHeader {
  std::uint32_t biSize;
  std::int32_t biWidth;
  std::int32_t biHeight;
  std::uint16_t biPlanes;
  std::uint16_t biBitCount;
  std::uint32_t biCompression;
  std::uint32_t biSizeImage;
  std::int32_t biXPelsPerMeter;
  std::int32_t biYPelsPerMeter;
  std::uint32_t biClrUsed;
  std::uint32_t biClrImportant;
};
struct TRgbQuad {
  std::uint8_t rgbBlue, rgbGreen, rgbRed, rgbReserved;
};
static_assert(sizeof(TBitmapInfoHeader) == 40);
static_assert(sizeof(TRgbQuad) == 4);

// Images above this many pixel bytes are refused before anything is
// allocated: a hostile header must not exhaust a 32-bit host's address space.
// Work buffers of the transforms and codecs are held to it too.
constexpr std::uint64_t kMaxImageBytes = std::uint64_t{1} << 30;

// Pixels per metre <-> dots per inch.
constexpr long double kInchesPerMetre = 39.370078740157480317L;

enum TTransparentPixel : std::uint8_t {
  tpTopLeft = 0,
  tpTopRight = 1,
  tpBottomLeft = 2,
  tpBottomRight = 3,
  tpFixedColor = 4,
};

// GetImage callback of SaveImagesToStream: Index is 1-based; the callee sets
// FreeIt when the caller must free the returned graphic.
using TGetImageEvent = std::function<TGraphic*(int index, bool& freeIt)>;

// Bytes of the packed DIB in Block as its header describes it: header,
// masks, colour table and pixels. Raises ELumetraError "Invalid HDIB" when
// the block is not a DIB or holds less than that.
std::uint64_t DIBBlockBytes(const void* block, std::size_t size);
// Writes a packed DIB of Size bytes to Stream as a BMP file: the 14-byte file
// header, then the block's header, masks, colour table and pixels. Raises
// ELumetraError "Invalid HDIB" when the block is not a DIB or is shorter than
// its header says.
void SaveDIBBlockToStream(const void* block, std::size_t size, TStream& stream);
#ifdef _WIN32
// The same for a packed DIB in global memory (HGLOBAL).
void SaveDIBHandleToStream(void* dib, TStream& stream);
// The halftone palette (HPALETTE) drawing uses on palette devices for images
// that have no palette of their own yet.
void* HalftonePalette();
#endif

// Complements every pixel byte of an image in place (a negative of the
// indices, which for grey and black-and-white images is the negative image).
void NegatePixels(TDibGraphic& image);

// True when the screen is a palette device; read once, at first use.
bool PaletteDevice();
// Builds the default palettes, reads the palette-device flag and, on Win32,
// creates the halftone palette. Everything is also made on first use, so the
// call only moves that work to start-up; Finalize frees what Initialize made.
void InitializeImagingLibrary();
void FinalizeImagingLibrary();

// Maps 0x00RRGGBB colours to the nearest entry of one palette, through a
// direct-mapped cache of 1020 slots.
class TRgbToPaletteConverter : public TObject {
 public:
  static constexpr int kCacheSlots = 1020;
  explicit TRgbToPaletteConverter(const TLogPalette* palette);
  const char* ClassName() const noexcept override { return "TRgbToPaletteConverter"; }
  std::uint16_t FindNearestColor(std::uint32_t colour);
  std::uint32_t Hits() const { return hits_; }
  std::uint32_t Misses() const { return misses_; }

 private:
  struct Slot {
    std::uint32_t key;
    std::int16_t index;
  };
  const TLogPalette* palette_;
  std::uint32_t hits_ = 0;
  std::uint32_t misses_ = 0;
  Slot cache_[kCacheSlots];
};

class TDibGraphic : public TGraphic {
 public:
  TDibGraphic();
  ~TDibGraphic() override;
  TDibGraphic(const TDibGraphic&) = delete;
  TDibGraphic& operator=(const TDibGraphic&) = delete;
  const char* ClassName() const noexcept override { return "TDibGraphic"; }

  // The virtual constructor: a new, empty image of this object's own class
  // with that class's default settings.
  virtual std::unique_ptr<TDibGraphic> CreateNew() const;

  // --- shape ---------------------------------------------------------------
  int Width() const override { return header_.biWidth; }
  int Height() const override { return header_.biHeight; }
  // Raise ELumetraError "Dimensions must be change with the NewImage method".
  void SetWidth(int value) override;
  void SetHeight(int value) override;
  bool Empty() const override { return !store_.Exists(); }

  // The six slots every format class may override, in this order.
  virtual bool IsValidStream(TStream& stream);
  virtual int GetImageCount(TStream& stream);
  virtual void LoadImageFromStream(TStream& stream, int imageIndex);
  virtual void AppendToStream(TStream& stream);
  virtual void SaveImagesToStream(TStream& stream, int count, const TGetImageEvent& getImage);
  // (Re)creates the pixel store; the only way to set dimensions. Palette may
  // be null (the format's default palette); a dpi of 0 takes the screen's.
  virtual void NewImage(int width, int height, TImageFormat imageFormat,
                        const TLogPalette* palette, std::uint16_t xDpi, std::uint16_t yDpi);

  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) override;  // the base class writes nothing

  TImageFormat ImageFormat() const { return imageFormat_; }
  int RowStride() const { return rowStride_; }
  // Row Row counted from the top; no bounds check.
  std::uint8_t* ScanLine(int row) const {
    return store_.Bits() + static_cast<std::ptrdiff_t>(header_.biHeight - 1 - row) * rowStride_;
  }
  // Start of the pixel memory (the bottom row).
  std::uint8_t* PixelMemory() const { return store_.Bits(); }
  std::size_t ImageSize() const { return header_.biSizeImage; }
  const TBitmapInfoHeader& InfoHeader() const { return header_; }
  const TRgbQuad* ColorTable() const { return colorTable_; }
  int PaletteCount() const { return static_cast<int>(header_.biClrUsed); }
  TLogPalette* LogPalette() { return &logPalette_; }
  const TLogPalette* LogPalette() const { return &logPalette_; }

  std::uint16_t XDpi() const;
  std::uint16_t YDpi() const;
  void SetXDpi(std::uint16_t dpi);
  void SetYDpi(std::uint16_t dpi);

  // --- pixels (X from the left, Y from the top; no bounds checks) -----------
  std::uint32_t Pixels(int x, int y) const { return reader_(this, x, y); }
  void SetPixels(int x, int y, std::uint32_t colour) { writer_(this, x, y, colour); }
  // Raise ELumetraError "The image does not have a palette" on true colour.
  int PixelIndex(int x, int y) const;
  void SetPixelIndex(int x, int y, int index);
  void Fill(std::uint32_t colour);
  // The nearest-colour converter of an indexed image (null for true colour).
  TRgbToPaletteConverter* Converter() const { return converter_.get(); }

  // The background quantizer (TQuantizeThread) that gives a true-colour
  // image a display palette on palette devices: Draw starts it at most once
  // per image. The image owns it and destroys it (which waits for the
  // worker) before the pixels are released.
  bool QuantizerStarted() const { return quantizerStarted_; }
  const TObject* Quantizer() const { return quantizer_.get(); }

  // --- exchange ---------------------------------------------------------------
  void Assign(const TGraphic* source) override;
  void AssignTo(TGraphic* dest) const override;
  // Takes the pixels, format, palette and resolution of Source without
  // copying them; Source is left empty. Its frames stay where they are. A
  // format with settings that follow the image format (as NewImage sets
  // them) sets them here too.
  virtual void TakeImageFrom(TDibGraphic& source);
  // A packed DIB (header, colour table, bottom-up rows) of Size bytes, as
  // scanners deliver pages. The size is checked before anything is read.
  void LoadFromDIBBlock(const void* block, std::size_t size);
  // A packed DIB of this image; raises "Graphic is empty" when empty.
  std::vector<std::uint8_t> SaveToDIBBlock() const;

  // --- frames -----------------------------------------------------------------
  int FrameCount() const { return static_cast<int>(frames_.size()); }
  // 1-based; raises "Frame %d does not exist".
  TDibGraphic* Frames(int index) const;
  void AddFrame(std::unique_ptr<TDibGraphic> frame);
  void ClearFrames();
  int CurrentFrame() const { return currentFrame_; }
  void SetCurrentFrame(int index);
  int FrameDelay() const { return frameDelay_; }
  void SetFrameDelay(int milliseconds) { frameDelay_ = milliseconds; }
  bool Animate() const { return animate_; }
  void SetAnimate(bool value);
  // One animation step: the next frame (frame 1 after the last). The Win32
  // timer calls it every FrameDelay milliseconds while Animate is on.
  void AnimationTick();
  bool LoadAllFrames() const { return loadAllFrames_; }
  void SetLoadAllFrames(bool value) { loadAllFrames_ = value; }
  int ImageIndex() const { return imageIndex_; }
  void SetImageIndex(int value) { imageIndex_ = value; }

  TTransparentPixel TransparentPixel() const { return transparentPixel_; }
  void SetTransparentPixel(TTransparentPixel value) { transparentPixel_ = value; }
  std::uint32_t TransparentColor() const { return transparentColor_; }
  void SetTransparentColor(std::uint32_t value) { transparentColor_ = value; }

  TNotifyEvent OnAfterDraw;
  TLumetraProgressEvent OnReadWriteProgress;
  // Called on the thread that reads or writes, at most once per file, with
  // what the codec warned of; without a handler warnings are dropped. It
  // must not throw.
  TWarningEvent OnWarning;

#ifdef _WIN32
  void Draw(TCanvas& canvas, const TRect& rect) override;
  // The canvas on the memory DC: drawing on it changes the pixels.
  TCanvas& Canvas();
  void* DC() const { return store_.DC(); }          // HDC of the memory context
  void* DIBSection() const { return store_.Bitmap(); }  // HBITMAP
  void* PaletteHandle();                            // HPALETTE, or null
  void SetPaletteHandle(void* palette);             // takes ownership
  void LoadFromBitmapHandle(void* bitmap);          // HBITMAP
  void LoadFromDIBHandle(void* dib);                // HGLOBAL packed DIB
  void* SaveToDIBHandle() const;                    // HGLOBAL; the caller owns it
  void LoadFromClipboardFormat(std::uint16_t format, void* data, void* palette);
  void SaveToClipboardFormat(std::uint16_t& format, void*& data, void*& palette) const;
#endif

 private:
#ifdef _WIN32
  // Assignment from and to the pictures only Win32 has (bitmaps, any other
  // drawable graphic); false when Source / Dest is none of them.
  bool AssignFromPlatformGraphic(const TGraphic* source);
  bool AssignToPlatformGraphic(TGraphic* dest) const;
#endif

 protected:
  // Reads pages 1..Count of Stream, which starts at Start, into new frames.
  // A format that can read its pages in one pass overrides it.
  virtual void LoadFrames(TStream& stream, std::int64_t start, int count);
  // Releases the pixel store, the converter and the palette handle.
  void ReleaseStore();
  // The platform's part of the release: canvas, palette handle (Win32).
  void ReleasePlatformState();
  // 16/32-bit, run-length and bit-field DIBs go through a BMP stream.
  void LoadFromBmpDib(const std::uint8_t* block, std::size_t size, const TBitmapInfoHeader& h);
  // Copies pixels, format, palette, resolution and FrameDelay of Source.
  void CopyImageFrom(const TDibGraphic& source);

 private:
  using PixelReader = std::uint32_t (*)(const TDibGraphic*, int, int);
  using PixelWriter = void (*)(TDibGraphic*, int, int, std::uint32_t);
  friend struct DibPixelAccess;
  friend class TQuantizeThread;

  platform::PixelStore store_;
  TImageFormat imageFormat_ = ifBlackWhite;
  TBitmapInfoHeader header_{};
  TRgbQuad colorTable_[256]{};
  TLogPalette logPalette_{};
  int rowStride_ = 0;
  int imageIndex_ = 1;
  bool loadAllFrames_ = false;
  std::vector<std::unique_ptr<TDibGraphic>> frames_;
  int frameDelay_ = 200;
  bool animate_ = false;
  int currentFrame_ = -1;
  PixelReader reader_;
  PixelWriter writer_;
  std::unique_ptr<TRgbToPaletteConverter> converter_;
  TTransparentPixel transparentPixel_ = tpBottomLeft;
  std::uint32_t transparentColor_ = 0xFFFFFF;
  bool quantizerStarted_ = false;
  std::unique_ptr<TObject> quantizer_;
#ifdef _WIN32
  struct Win32State;
  struct Win32StateDeleter {
    void operator()(Win32State* state) const;
  };
  std::unique_ptr<Win32State, Win32StateDeleter> win32_;
  std::uintptr_t animationTimer_ = 0;
  void StartAnimationTimer();
  void StopAnimationTimer();
  friend struct DibAnimationTimers;
#endif
};

// The base of a format class: its CreateNew makes a new, empty object of
// the class itself (Derived), with the class's default settings.
template <class Derived, class Base = TDibGraphic>
class TGraphicOf : public Base {
 public:
  using Base::Base;
  std::unique_ptr<TDibGraphic> CreateNew() const override { return std::make_unique<Derived>(); }
};

}  // namespace lumetra
