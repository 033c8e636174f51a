// The Win32 side of TDibGraphic: the canvas on the memory DC, drawing (with
// palettes on palette devices and transparency through a mask), palette
// handles, bitmap and global-memory handles, the clipboard, the animation
// timer and the message pump.
#include <windows.h>

#include <cstring>
#include <map>
#include <mutex>
#include <utility>
#include <set>
#include <string_view>

#include "base/format.h"
#include "imaging/bmp_decode.h"
#include "imaging/dib_graphic.h"
#include "imaging/quantize_thread.h"
#include "imaging/win32/bitmap.h"
#include "imaging/win32/canvas.h"
#include "imaging/win32/icon.h"
#include "platform/win32/owners.h"

namespace lumetra {

namespace {

using win32::global_lock;
using win32::memory_dc;
using win32::unique_gdi_object;
using win32::window_dc;

[[noreturn]] void OutOfResources() {
  throw EOutOfResources("Out of resources");
}

struct BitmapInfo256 {
  TBitmapInfoHeader header;
  TRgbQuad colours[256];
};

HPALETTE halftonePalette = nullptr;

}  // namespace

void* HalftonePalette() {
  if (!halftonePalette) {
    window_dc screen(nullptr);
    halftonePalette = ::CreateHalftonePalette(screen.get());
  }
  return halftonePalette;
}

void InitializeImagingLibrary() {
  for (int format = ifBlackWhite; format <= ifColor256; ++format) DefaultPalette(format);
  PaletteDevice();
  HalftonePalette();
}

void FinalizeImagingLibrary() {
  if (halftonePalette) ::DeleteObject(halftonePalette);
  halftonePalette = nullptr;
}

// --- canvas and palette handle -----------------------------------------------------

struct TDibGraphic::Win32State {
  TCanvas canvas;
  win32::unique_palette palette;
  ~Win32State() { canvas.SetHandle(nullptr); }
};

void TDibGraphic::Win32StateDeleter::operator()(Win32State* state) const {
  delete state;
}

void TDibGraphic::ReleasePlatformState() {
  win32_.reset();
}

TCanvas& TDibGraphic::Canvas() {
  if (!win32_) win32_ = std::unique_ptr<Win32State, Win32StateDeleter>(new Win32State);
  win32_->canvas.SetHandle(static_cast<HDC>(store_.DC()));
  return win32_->canvas;
}

void* TDibGraphic::PaletteHandle() {
  if (!win32_) win32_ = std::unique_ptr<Win32State, Win32StateDeleter>(new Win32State);
  if (!win32_->palette && !Empty() && IsIndexedFormat(imageFormat_) && logPalette_.palNumEntries)
    win32_->palette.reset(::CreatePalette(reinterpret_cast<const LOGPALETTE*>(&logPalette_)));
  return win32_->palette.get();
}

void TDibGraphic::SetPaletteHandle(void* palette) {
  if (!win32_) win32_ = std::unique_ptr<Win32State, Win32StateDeleter>(new Win32State);
  // Setting the handle it holds keeps it.
  if (win32_->palette.get() != palette) win32_->palette.reset(static_cast<HPALETTE>(palette));
}

// --- drawing ------------------------------------------------------------------------

namespace {

// Stretches the image into Rect through a monochrome mask so that pixels of
// exactly the transparent colour leave the destination as it was.
void DrawTransparent(HDC dest, const TRect& rect, HDC image, int width, int height,
                     COLORREF transparent) {
  const int rw = rect.Right - rect.Left, rh = rect.Bottom - rect.Top;
  if (rw <= 0 || rh <= 0) return;
  window_dc screen(nullptr);
  unique_gdi_object imageCopy(::CreateCompatibleBitmap(screen.get(), width, height));
  unique_gdi_object mask(::CreateBitmap(width, height, 1, 1, nullptr));
  unique_gdi_object destCopy(::CreateCompatibleBitmap(dest, rw, rh));
  memory_dc imageContext(screen.get()), maskContext(screen.get()), destContext(dest);
  if (!imageCopy || !mask || !destCopy || !imageContext || !maskContext || !destContext)
    OutOfResources();
  imageContext.select(imageCopy.get());
  maskContext.select(mask.get());
  destContext.select(destCopy.get());
  HDC imageDC = imageContext.get(), maskDC = maskContext.get(), destDC = destContext.get();

  ::BitBlt(imageDC, 0, 0, width, height, image, 0, 0, SRCCOPY);
  // Colour to monochrome: the background colour becomes 1, all else 0.
  ::SetBkColor(imageDC, transparent);
  ::BitBlt(maskDC, 0, 0, width, height, imageDC, 0, 0, SRCCOPY);
  // Monochrome to colour: 1 becomes the background (white), 0 the text colour
  // (black).
  for (HDC dc : {imageDC, destDC}) {
    ::SetBkColor(dc, RGB(255, 255, 255));
    ::SetTextColor(dc, RGB(0, 0, 0));
  }
  ::SetStretchBltMode(destDC, COLORONCOLOR);
  ::BitBlt(destDC, 0, 0, rw, rh, dest, rect.Left, rect.Top, SRCCOPY);
  ::StretchBlt(destDC, 0, 0, rw, rh, maskDC, 0, 0, width, height, SRCAND);
  ::BitBlt(imageDC, 0, 0, width, height, maskDC, 0, 0, 0x00220326);  // image AND NOT mask
  ::StretchBlt(destDC, 0, 0, rw, rh, imageDC, 0, 0, width, height, SRCPAINT);
  ::BitBlt(dest, rect.Left, rect.Top, rw, rh, destDC, 0, 0, SRCCOPY);
}

}  // namespace

void TDibGraphic::Draw(TCanvas& canvas, const TRect& rect) {
  HDC dc = canvas.Handle();
  if (Empty() || !dc) return;
  const int oldMode = ::SetStretchBltMode(dc, COLORONCOLOR);
  HPALETTE oldPalette = nullptr;
  if (PaletteDevice()) {
    if (imageFormat_ == ifTrueColor && !PaletteHandle() && !quantizerStarted_) {
      quantizerStarted_ = true;
      quantizer_ = StartQuantizeThread(*this);
    }
    HPALETTE palette = static_cast<HPALETTE>(PaletteHandle());
    if (!palette) palette = static_cast<HPALETTE>(HalftonePalette());
    if (palette) {
      oldPalette = ::SelectPalette(dc, palette, FALSE);
      ::RealizePalette(dc);
    }
  }
  struct Restore {
    HDC dc;
    int mode;
    HPALETTE palette;
    ~Restore() {
      if (palette) ::SelectPalette(dc, palette, TRUE);
      ::SetStretchBltMode(dc, mode);
    }
  } restore{dc, oldMode, oldPalette};

  if (Transparent()) {
    std::uint32_t colour = 0;
    const int w = Width(), h = Height();
    switch (transparentPixel_) {
      case tpTopLeft:
        colour = Pixels(0, 0);
        break;
      case tpTopRight:
        colour = Pixels(w - 1, 0);
        break;
      case tpBottomLeft:
        colour = Pixels(0, h - 1);
        break;
      case tpBottomRight:
        colour = Pixels(w - 1, h - 1);
        break;
      case tpFixedColor:
        colour = transparentColor_;
        break;
      default:
        throw Exception("Invalid TransparentPixel");
    }
    DrawTransparent(dc, rect, static_cast<HDC>(store_.DC()), w, h, ColorToGdi(colour) | 0x02000000);
  } else {
    BitmapInfo256 info;
    info.header = header_;
    std::memcpy(info.colours, colorTable_, sizeof info.colours);
    ::StretchDIBits(dc, rect.Left, rect.Top, rect.Right - rect.Left, rect.Bottom - rect.Top, 0, 0,
                    Width(), Height(), PixelMemory(), reinterpret_cast<BITMAPINFO*>(&info),
                    DIB_RGB_COLORS, SRCCOPY);
  }
  ::GdiFlush();
  if (OnAfterDraw) OnAfterDraw(this);
}

// --- bitmap handles -------------------------------------------------------------------

void TDibGraphic::LoadFromBitmapHandle(void* handle) {
  HBITMAP bitmap = static_cast<HBITMAP>(handle);
  DIBSECTION section{};
  const int got = bitmap ? ::GetObjectA(bitmap, sizeof section, &section) : 0;
  if (got < static_cast<int>(sizeof(BITMAP))) throw EInvalidGraphic("Invalid bitmap");

  BitmapInfo256 info{};
  TBitmapInfoHeader& h = info.header;
  if (got >= static_cast<int>(sizeof section) && section.dsBmih.biSize >= 40) {
    std::memcpy(&h, &section.dsBmih, sizeof h);
    h.biSize = 40;
  } else {
    h.biSize = 40;
    h.biWidth = section.dsBm.bmWidth;
    h.biHeight = section.dsBm.bmHeight;
    h.biBitCount = static_cast<std::uint16_t>(section.dsBm.bmPlanes * section.dsBm.bmBitsPixel);
  }
  h.biPlanes = 1;
  if (h.biBitCount == 16 || h.biBitCount == 32) h.biBitCount = 24;
  h.biCompression = BI_RGB;
  // Rows come back bottom-up, as the image keeps them, and the size is
  // always that of the rows asked for: a size left over from a 16-bit or
  // top-down original would not fit what GetDIBits writes.
  if (h.biHeight < 0) h.biHeight = -h.biHeight;
  if (h.biBitCount > 8) h.biClrUsed = 0;
  if (h.biWidth <= 0 || h.biHeight <= 0) throw EInvalidGraphic("Invalid bitmap");
  const std::uint64_t stride = ((std::uint64_t(h.biWidth) * h.biBitCount + 31) / 32) * 4;
  const std::uint64_t imageSize = stride * std::uint64_t(h.biHeight);
  if (imageSize > 0x7FFFFFFF) throw ELumetraError("GlobalAlloc failed");
  h.biSizeImage = static_cast<std::uint32_t>(imageSize);

  win32::unique_hglobal owner(::GlobalAlloc(GMEM_FIXED, static_cast<SIZE_T>(imageSize)));
  if (!owner) throw ELumetraError("GlobalAlloc failed");
  HGLOBAL pixels = owner.get();

  {
    window_dc screen(nullptr);
    if (!screen || !::GetDIBits(screen.get(), bitmap, 0, static_cast<UINT>(h.biHeight), pixels,
                                   reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS))
      throw ELumetraError("GetDIB failed");
  }
  if (h.biCompression != BI_RGB) throw ELumetraError("Unsupported compression");

  // GetDIBits fills the whole table of an indexed result even where it
  // leaves colours used at 0: take all 2^bits entries then.
  TLogPalette palette{};
  int entries = static_cast<int>(h.biClrUsed);
  if (entries == 0 && h.biBitCount <= 8) entries = 1 << h.biBitCount;
  const bool hasPalette = entries >= 1 && entries <= 256 && h.biBitCount <= 8;
  if (hasPalette) {
    palette.palVersion = 0x300;
    palette.palNumEntries = static_cast<std::uint16_t>(entries);
    for (int i = 0; i < entries; ++i)
      palette.palPalEntry[i] = {info.colours[i].rgbRed, info.colours[i].rgbGreen,
                                info.colours[i].rgbBlue, 0};
  }
  TImageFormat format;
  switch (h.biBitCount) {
    case 1:
      format = ifBlackWhite;
      break;
    case 4:
      format = ifColor16;
      break;
    case 8:
      format = ifColor256;
      break;
    case 24:
      format = ifTrueColor;
      break;
    default:
      throw ELumetraError("Unsupported bit count");
  }
  NewImage(h.biWidth, h.biHeight, format, hasPalette ? &palette : nullptr,
           DpiFromPelsPerMetre(h.biXPelsPerMeter), DpiFromPelsPerMetre(h.biYPelsPerMeter));
  std::memcpy(PixelMemory(), pixels, static_cast<std::size_t>(imageSize));
}

bool TDibGraphic::AssignFromPlatformGraphic(const TGraphic* source) {
  if (const auto* bitmap = dynamic_cast<const TBitmap*>(source)) {
    ClearFrames();
    if (bitmap->Empty()) {
      ReleaseStore();
      return true;
    }
    LoadFromBitmapHandle(bitmap->Handle());
    return true;
  }
  // Any other picture draws itself onto a black true-colour image.
  ClearFrames();
  if (source->Empty() || source->Width() <= 0 || source->Height() <= 0) {
    ReleaseStore();
    return true;
  }
  NewImage(source->Width(), source->Height(), ifTrueColor, nullptr, 0, 0);
  std::memset(PixelMemory(), 0, ImageSize());
  const_cast<TGraphic*>(source)->Draw(Canvas(), {0, 0, Width(), Height()});
  ::GdiFlush();
  return true;
}

bool TDibGraphic::AssignToPlatformGraphic(TGraphic* dest) const {
  if (auto* icon = dynamic_cast<TIcon*>(dest)) {
    // An icon only loads icon files: the image becomes one first, as it
    // saves itself when it is an icon already.
    const TIconFileWriter writer = IconFileWriter();
    if (!writer) return false;
    TMemoryStream file;
    if (std::string_view(ClassName()) == "TIconGraphic")
      const_cast<TDibGraphic*>(this)->SaveToStream(file);
    else
      writer(*this, file);
    file.SetPosition(0);
    icon->LoadFromStream(file);
    return true;
  }
  auto* bitmap = dynamic_cast<TBitmap*>(dest);
  if (!bitmap) return false;
  if (Empty()) {
    bitmap->SetHandle(nullptr);
    return true;
  }
  bitmap->SetSize(Width(), Height());
  const_cast<TDibGraphic*>(this)->Draw(bitmap->Canvas(), {0, 0, Width(), Height()});
  return true;
}

// --- global memory blocks --------------------------------------------------------------

void SaveDIBHandleToStream(void* dib, TStream& stream) {
  HGLOBAL block = static_cast<HGLOBAL>(dib);
  global_lock lock(block);
  if (!lock.get()) throw ELumetraError("Invalid HDIB");
  SaveDIBBlockToStream(lock.get(), ::GlobalSize(block), stream);
}

void TDibGraphic::LoadFromDIBHandle(void* dib) {
  HGLOBAL block = static_cast<HGLOBAL>(dib);
  global_lock lock(block);
  if (!lock.get()) throw ELumetraError("Invalid HDIB");
  LoadFromDIBBlock(lock.get(), ::GlobalSize(block));
}

void* TDibGraphic::SaveToDIBHandle() const {
  const std::vector<std::uint8_t> bytes = SaveToDIBBlock();
  win32::unique_hglobal block(::GlobalAlloc(GMEM_MOVEABLE | GMEM_SHARE, bytes.size()));
  if (!block) throw ELumetraError("GlobalAlloc failed");
  {
    global_lock lock(block.get());
    if (!lock.get()) throw ELumetraError("GlobalAlloc failed");
    std::memcpy(lock.get(), bytes.data(), bytes.size());
  }
  return block.release();
}

// --- clipboard ---------------------------------------------------------------------------

void TDibGraphic::LoadFromClipboardFormat(std::uint16_t format, void* data, void* palette) {
  if (format != CF_BITMAP || !data)
    throw EInvalidGraphic(Format("Unknown clipboard format, %d", format));
  if (!PaletteDevice()) {
    LoadFromBitmapHandle(data);
    return;
  }
  // On a palette device the bitmap's colours only mean something through its
  // palette: let GDI draw it into a true-colour image.
  BITMAP description{};
  if (!::GetObjectA(static_cast<HBITMAP>(data), sizeof description, &description))
    throw EInvalidGraphic("Invalid bitmap");
  ClearFrames();
  NewImage(description.bmWidth, description.bmHeight, ifTrueColor, nullptr, 0, 0);
  memory_dc source(static_cast<HDC>(store_.DC()));
  if (!source) OutOfResources();
  source.select(static_cast<HBITMAP>(data));
  HDC dest = static_cast<HDC>(store_.DC());
  HPALETTE oldSource = nullptr, oldDest = nullptr;
  if (palette) {
    oldSource = ::SelectPalette(source.get(), static_cast<HPALETTE>(palette), FALSE);
    ::RealizePalette(source.get());
    oldDest = ::SelectPalette(dest, static_cast<HPALETTE>(palette), FALSE);
    ::RealizePalette(dest);
  }
  ::BitBlt(dest, 0, 0, Width(), Height(), source.get(), 0, 0, SRCCOPY);
  if (oldSource) ::SelectPalette(source.get(), oldSource, TRUE);
  if (oldDest) ::SelectPalette(dest, oldDest, TRUE);
  ::GdiFlush();
}

void TDibGraphic::SaveToClipboardFormat(std::uint16_t& format, void*& data, void*& palette) const {
  format = CF_BITMAP;
  (void)palette;  // the bitmap carries its colours; no palette goes with it
  if (Empty()) throw ELumetraError("Graphic is empty");
  win32::unique_bitmap bitmap;
  if (imageFormat_ == ifBlackWhite) {
    bitmap.reset(::CreateBitmap(Width(), Height(), 1, 1, nullptr));
  } else {
    window_dc screen(nullptr);
    bitmap.reset(::CreateCompatibleBitmap(screen.get(), Width(), Height()));
  }
  if (!bitmap) throw ELumetraError("CopyBitmap: CreateBitmap failed");
  {
    memory_dc dest(static_cast<HDC>(store_.DC()));
    if (!dest) OutOfResources();
    dest.select(bitmap.get());
    ::BitBlt(dest.get(), 0, 0, Width(), Height(), static_cast<HDC>(store_.DC()), 0, 0, SRCCOPY);
    ::GdiFlush();
  }
  data = bitmap.release();
}

// --- animation ---------------------------------------------------------------------------

// The animation timers: thread timers whose callback runs from the message
// loop of the thread that set them and finds its image by thread and timer
// id (the ids of two threads may meet). Frame selection pumps messages, so
// an image may be switched off or even destroyed in the middle of its own
// tick: the ticking set tells. Threads share the tables, under a lock that
// is never held while an image ticks.
struct DibAnimationTimers {
  using Key = std::pair<DWORD, UINT_PTR>;
  static std::mutex& Lock() {
    static std::mutex lock;
    return lock;
  }
  static std::map<Key, TDibGraphic*>& Registry() {
    static std::map<Key, TDibGraphic*> registry;
    return registry;
  }
  static std::set<TDibGraphic*>& Ticking() {
    static std::set<TDibGraphic*> ticking;
    return ticking;
  }
  static void Add(UINT_PTR id, TDibGraphic* graphic) {
    std::lock_guard<std::mutex> guard(Lock());
    Registry()[{::GetCurrentThreadId(), id}] = graphic;
  }
  static void Remove(UINT_PTR id) {
    std::lock_guard<std::mutex> guard(Lock());
    Registry().erase({::GetCurrentThreadId(), id});
  }
  static void SetTicking(TDibGraphic* graphic, bool value) {
    std::lock_guard<std::mutex> guard(Lock());
    if (value) {
      Ticking().insert(graphic);
    } else {
      Ticking().erase(graphic);
    }
  }
  // Ends the tick: false when the image was switched off or freed meanwhile.
  static bool EndTick(TDibGraphic* graphic) {
    std::lock_guard<std::mutex> guard(Lock());
    return Ticking().erase(graphic) != 0;
  }
  static TDibGraphic* Find(UINT_PTR id) {
    std::lock_guard<std::mutex> guard(Lock());
    const auto found = Registry().find({::GetCurrentThreadId(), id});
    return found == Registry().end() ? nullptr : found->second;
  }

  static void CALLBACK Tick(HWND, UINT, UINT_PTR id, DWORD) noexcept {
    TDibGraphic* graphic = Find(id);
    if (!graphic) {
      ::KillTimer(nullptr, id);
      return;
    }
    graphic->StopAnimationTimer();
    SetTicking(graphic, true);
    try {
      graphic->AnimationTick();
    } catch (...) {
      // The next tick tries again; a timer callback has nobody to tell.
    }
    if (!EndTick(graphic)) return;  // switched off or gone meanwhile
    if (graphic->animate_ && !graphic->frames_.empty()) {
      try {
        graphic->StartAnimationTimer();
      } catch (...) {
      }
    }
  }
};

void TDibGraphic::StartAnimationTimer() {
  StopAnimationTimer();
  const UINT interval = frameDelay_ > 0 ? static_cast<UINT>(frameDelay_) : USER_TIMER_MINIMUM;
  const UINT_PTR id = ::SetTimer(nullptr, 0, interval, &DibAnimationTimers::Tick);
  if (!id) OutOfResources();
  animationTimer_ = id;
  DibAnimationTimers::Add(id, this);
}

void TDibGraphic::StopAnimationTimer() {
  if (!animationTimer_) return;
  ::KillTimer(nullptr, animationTimer_);
  DibAnimationTimers::Remove(animationTimer_);
  animationTimer_ = 0;
}

void TDibGraphic::SetAnimate(bool value) {
  animate_ = value;
  if (animate_ && !frames_.empty()) {
    StartAnimationTimer();
  } else {
    StopAnimationTimer();
    DibAnimationTimers::SetTicking(this, false);
  }
}

}  // namespace lumetra
