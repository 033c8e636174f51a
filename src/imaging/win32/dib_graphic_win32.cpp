// The Win32 side of TDibGraphic: the canvas on the memory DC, drawing (with
// palettes on palette devices and transparency through a mask), palette
// handles, bitmap and global-memory handles, the clipboard, the animation
// timer and the message pump.
#include <windows.h>

#include <cstring>
#include <map>
#include <set>
#include <string_view>

#include "base/format.h"
#include "imaging/bmp_decode.h"
#include "imaging/dib_graphic.h"
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

// The quantizer works on another thread; its result reaches the UI thread as
// a message to a hidden window, which lets the image adopt the palette and
// tell its views. Only images whose quantizer is running are listed, so a
// message that arrives after its image has gone finds nothing.
constexpr UINT kPaletteHandedOver = WM_APP + 0x51;
std::atomic<HWND> notifyWindow{nullptr};

std::set<TDibGraphic*>& QuantizerTargets() {
  static std::set<TDibGraphic*> targets;
  return targets;
}

LRESULT CALLBACK NotifyWindowProc(HWND window, UINT message, WPARAM wParam,
                                  LPARAM lParam) noexcept {
  if (message != kPaletteHandedOver) return ::DefWindowProcA(window, message, wParam, lParam);
  auto* graphic = reinterpret_cast<TDibGraphic*>(lParam);
  if (QuantizerTargets().count(graphic)) {
    try {
      graphic->PaletteHandle();
      graphic->Changed();
    } catch (...) {
      // A view that fails to repaint has nobody to tell from here.
    }
  }
  return 0;
}

HWND NotifyWindow() {
  if (HWND window = notifyWindow.load()) return window;
  static const char* const kClassName = "LumetraImageNotify";
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = &NotifyWindowProc;
  windowClass.hInstance = ::GetModuleHandleA(nullptr);
  windowClass.lpszClassName = kClassName;
  ::RegisterClassA(&windowClass);  // fails harmlessly when already registered
  HWND window = ::CreateWindowExA(0, kClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  windowClass.hInstance, nullptr);
  notifyWindow.store(window);
  return window;
}

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
  if (HWND window = notifyWindow.exchange(nullptr)) ::DestroyWindow(window);
}

// --- canvas and palette handle -----------------------------------------------------

struct TDibGraphic::Win32State {
  TCanvas canvas;
  HPALETTE palette = nullptr;
  ~Win32State() {
    canvas.SetHandle(nullptr);
    if (palette) ::DeleteObject(palette);
  }
};

void TDibGraphic::Win32StateDeleter::operator()(Win32State* state) const {
  delete state;
}

void TDibGraphic::ReleasePlatformState() {
  QuantizerTargets().erase(this);
  win32_.reset();
  if (void* handed = handedPalette_.exchange(nullptr)) ::DeleteObject(static_cast<HGDIOBJ>(handed));
}

TCanvas& TDibGraphic::Canvas() {
  if (!win32_) win32_ = std::unique_ptr<Win32State, Win32StateDeleter>(new Win32State);
  win32_->canvas.SetHandle(static_cast<HDC>(store_.DC()));
  return win32_->canvas;
}

void* TDibGraphic::PaletteHandle() {
  if (void* handed = handedPalette_.exchange(nullptr)) SetPaletteHandle(handed);
  if (!win32_) win32_ = std::unique_ptr<Win32State, Win32StateDeleter>(new Win32State);
  if (!win32_->palette && !Empty() && IsIndexedFormat(imageFormat_) && logPalette_.palNumEntries)
    win32_->palette = ::CreatePalette(reinterpret_cast<const LOGPALETTE*>(&logPalette_));
  return win32_->palette;
}

void TDibGraphic::SetPaletteHandle(void* palette) {
  if (!win32_) win32_ = std::unique_ptr<Win32State, Win32StateDeleter>(new Win32State);
  if (win32_->palette && win32_->palette != palette) ::DeleteObject(win32_->palette);
  win32_->palette = static_cast<HPALETTE>(palette);
}

void TDibGraphic::HandOverPalette(void* palette) {
  if (void* old = handedPalette_.exchange(palette)) ::DeleteObject(static_cast<HGDIOBJ>(old));
  if (HWND window = notifyWindow.load())
    ::PostMessageA(window, kPaletteHandedOver, 0, reinterpret_cast<LPARAM>(this));
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
    if (imageFormat_ == ifTrueColor && !PaletteHandle() && !quantizerStarted_ && QuantizerStarter) {
      quantizerStarted_ = true;
      NotifyWindow();
      QuantizerTargets().insert(this);
      quantizer_ = QuantizerStarter(*this);
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

// The animation timers of the thread: thread-free Win32 timers whose
// callback runs from the message loop and finds its image by timer id.
// Frame selection pumps messages, so an image may be switched off or even
// destroyed in the middle of its own tick: the ticking set tells.
struct DibAnimationTimers {
  static std::map<UINT_PTR, TDibGraphic*>& Registry() {
    static std::map<UINT_PTR, TDibGraphic*> registry;
    return registry;
  }
  static std::set<TDibGraphic*>& Ticking() {
    static std::set<TDibGraphic*> ticking;
    return ticking;
  }

  static void CALLBACK Tick(HWND, UINT, UINT_PTR id, DWORD) noexcept {
    const auto found = Registry().find(id);
    if (found == Registry().end()) {
      ::KillTimer(nullptr, id);
      return;
    }
    TDibGraphic* graphic = found->second;
    graphic->StopAnimationTimer();
    Ticking().insert(graphic);
    try {
      graphic->AnimationTick();
    } catch (...) {
      // The next tick tries again; a timer callback has nobody to tell.
    }
    if (!Ticking().erase(graphic)) return;  // switched off or gone meanwhile
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
  DibAnimationTimers::Registry()[id] = this;
}

void TDibGraphic::StopAnimationTimer() {
  if (!animationTimer_) return;
  ::KillTimer(nullptr, animationTimer_);
  DibAnimationTimers::Registry().erase(animationTimer_);
  animationTimer_ = 0;
}

void TDibGraphic::SetAnimate(bool value) {
  animate_ = value;
  if (animate_ && !frames_.empty()) {
    StartAnimationTimer();
  } else {
    StopAnimationTimer();
    DibAnimationTimers::Ticking().erase(this);
  }
}

}  // namespace lumetra
