#include "formats/win32/metafile_graphic.h"

#include <windows.h>

#include <cstring>
#include <vector>

#include "base/little_endian.h"
#include "imaging/win32/canvas.h"

namespace lumetra {
namespace {

constexpr std::uint32_t kPlaceableKey = 0x9AC6CDD7;
constexpr std::uint32_t kEmfSignature = 0x464D4520;  // " EMF"
constexpr std::int64_t kMaxMetafileBytes = std::int64_t{256} << 20;

[[noreturn]] void Invalid() {
  throw EInvalidGraphic("Invalid metafile");
}

struct EnhMetaFile {
  HENHMETAFILE handle;
  ~EnhMetaFile() {
    if (handle) ::DeleteEnhMetaFile(handle);
  }
};

struct ScreenDC {
  HDC dc = ::GetDC(nullptr);
  ~ScreenDC() { ::ReleaseDC(nullptr, dc); }
};

}  // namespace

bool TMetaFileGraphic::IsValidStream(TStream& stream) {
  std::uint8_t b[100] = {};
  const std::int64_t got = stream.Read(b, sizeof b);
  stream.Seek(-got, soCurrent);
  if (got >= 4 && Le32(b) == kPlaceableKey) return true;
  return got >= 44 && Le32(b) == 1 && Le32(b + 40) == kEmfSignature;
}

void TMetaFileGraphic::LoadImageFromStream(TStream& stream, int) {
  std::uint8_t last = ReportProgress(this, 0, 0, 255, 100, OnReadWriteProgress);
  const std::int64_t size = stream.Size() - stream.Position();
  if (size < 22 || size > kMaxMetafileBytes) Invalid();
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  stream.ReadBuffer(bytes.data(), size);
  EnhMetaFile metafile{nullptr};
  int width = 0, height = 0;
  const ScreenDC screen;
  if (Le32(bytes.data()) == kPlaceableKey) {
    // The placeable header: a bounding box in units of Inch per inch, then
    // an ordinary Windows metafile.
    const auto box = [&](int i) {
      return static_cast<std::int16_t>(Le16(bytes.data() + 6 + 2 * i));
    };
    const int inch = Le16(bytes.data() + 14);
    if (inch <= 0) Invalid();
    width = ::MulDiv(box(2) - box(0), ::GetDeviceCaps(screen.dc, LOGPIXELSX), inch);
    height = ::MulDiv(box(3) - box(1), ::GetDeviceCaps(screen.dc, LOGPIXELSY), inch);
    METAFILEPICT picture{MM_ANISOTROPIC, ::MulDiv(box(2) - box(0), 2540, inch),
                         ::MulDiv(box(3) - box(1), 2540, inch), nullptr};
    metafile.handle =
        ::SetWinMetaFileBits(static_cast<UINT>(size - 22), bytes.data() + 22, nullptr, &picture);
  } else {
    metafile.handle = ::SetEnhMetaFileBits(static_cast<UINT>(size), bytes.data());
    if (metafile.handle) {
      ENHMETAHEADER header{};
      ::GetEnhMetaFileHeader(metafile.handle, sizeof header, &header);
      // The picture frame is kept in hundredths of a millimetre.
      const int frameWidth = header.rclFrame.right - header.rclFrame.left;
      const int frameHeight = header.rclFrame.bottom - header.rclFrame.top;
      width = ::MulDiv(frameWidth, ::GetDeviceCaps(screen.dc, LOGPIXELSX), 2540);
      height = ::MulDiv(frameHeight, ::GetDeviceCaps(screen.dc, LOGPIXELSY), 2540);
    }
  }
  if (!metafile.handle || width <= 0 || height <= 0) Invalid();
  last = ReportProgress(this, 95, 0, last, 100, OnReadWriteProgress);
  NewImage(width, height, ifTrueColor, nullptr, 0, 0);
  Fill(BackgroundColor);
  const RECT rect{0, 0, width, height};
  ::PlayEnhMetaFile(static_cast<HDC>(DC()), metafile.handle, &rect);
  ::GdiFlush();
  ReportProgress(this, 100, 0, last, 100, OnReadWriteProgress);
}

void TMetaFileGraphic::SaveToStream(TStream& stream) {
  if (Empty()) Invalid();
  std::uint8_t last = ReportProgress(this, 0, 0, 255, 100, OnReadWriteProgress);
  const ScreenDC screen;
  // The frame in hundredths of a millimetre that the image covers on the
  // screen the metafile is made for.
  const RECT frame{0, 0,
                   ::MulDiv(Width(), ::GetDeviceCaps(screen.dc, HORZSIZE) * 100,
                            ::GetDeviceCaps(screen.dc, HORZRES)),
                   ::MulDiv(Height(), ::GetDeviceCaps(screen.dc, VERTSIZE) * 100,
                            ::GetDeviceCaps(screen.dc, VERTRES))};
  HDC recorder = ::CreateEnhMetaFileA(screen.dc, nullptr, &frame, nullptr);
  if (!recorder) throw EOutOfResources("Out of resources");
  struct {
    BITMAPINFOHEADER header;
    RGBQUAD colours[256];
  } info{};
  std::memcpy(&info.header, &InfoHeader(), sizeof info.header);
  std::memcpy(info.colours, ColorTable(), sizeof info.colours);
  ::StretchDIBits(recorder, 0, 0, Width(), Height(), 0, 0, Width(), Height(), PixelMemory(),
                  reinterpret_cast<const BITMAPINFO*>(&info), DIB_RGB_COLORS, SRCCOPY);
  last = ReportProgress(this, 5, 0, last, 100, OnReadWriteProgress);
  EnhMetaFile metafile{::CloseEnhMetaFile(recorder)};
  if (!metafile.handle) throw EOutOfResources("Out of resources");
  const UINT size = ::GetEnhMetaFileBits(metafile.handle, 0, nullptr);
  std::vector<std::uint8_t> bytes(size);
  if (!size || ::GetEnhMetaFileBits(metafile.handle, size, bytes.data()) != size)
    throw EOutOfResources("Out of resources");
  stream.WriteBuffer(bytes.data(), size);
  ReportProgress(this, 100, 0, last, 100, OnReadWriteProgress);
}

}  // namespace lumetra
