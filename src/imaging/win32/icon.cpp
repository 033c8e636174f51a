#include "imaging/win32/icon.h"

#include "base/exception.h"
#include "base/little_endian.h"
#include "imaging/win32/canvas.h"

namespace lumetra {
namespace {

TIconFileWriter iconFileWriter = nullptr;

}  // namespace

void RaiseInvalidIcon() {
  throw EInvalidGraphic("Icon image is not valid");
}

void SetIconFileWriter(TIconFileWriter writer) {
  iconFileWriter = writer;
}

TIconFileWriter IconFileWriter() {
  return iconFileWriter;
}

void TIcon::SetWidth(int) {
  throw EInvalidGraphic("Cannot change the size of an icon");
}

void TIcon::SetHeight(int) {
  throw EInvalidGraphic("Cannot change the size of an icon");
}

void TIcon::Draw(TCanvas& canvas, const TRect& rect) {
  if (!icon_) return;
  ::DrawIconEx(canvas.Handle(), rect.Left, rect.Top, icon_.get(), width_, height_, 0, nullptr,
               DI_NORMAL);
  ::GdiFlush();
}

void TIcon::LoadFromStream(TStream& stream) {
  const std::int64_t size = stream.Size() - stream.Position();
  if (size < kIconDirectorySize + kIconEntrySize || size > (std::int64_t{64} << 20)) RaiseInvalidIcon();
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  stream.ReadBuffer(bytes.data(), size);
  const std::uint8_t* entry = bytes.data() + kIconDirectorySize;
  const int width = entry[0] ? entry[0] : 256, height = entry[1] ? entry[1] : 256;
  const std::uint32_t length = Le32(entry + 8), offset = Le32(entry + 12);
  if (Le16(bytes.data() + 4) == 0 || offset > bytes.size() || length > bytes.size() - offset ||
      length < sizeof(BITMAPINFOHEADER))
    RaiseInvalidIcon();
  HICON icon = ::CreateIconFromResourceEx(bytes.data() + offset, length, TRUE, 0x00030000, width,
                                          height, LR_DEFAULTCOLOR);
  if (!icon) RaiseInvalidIcon();
  icon_.reset(icon);
  width_ = width;
  height_ = height;
  file_ = std::move(bytes);
  Changed();
}

void TIcon::SaveToStream(TStream& stream) {
  if (file_.empty()) RaiseInvalidIcon();
  stream.WriteBuffer(file_.data(), static_cast<std::int64_t>(file_.size()));
}

}  // namespace lumetra
