#include "formats/win32/icon_graphic.h"

#include <windows.h>

#include <vector>

#include "base/little_endian.h"
#include "imaging/win32/icon.h"

namespace lumetra {
namespace {

bool IconSide(int side) {
  return side == 16 || side == 32 || side == 64;
}

}  // namespace

bool TIconGraphic::IsValidStream(TStream& stream) {
  std::uint8_t b[kIconDirectorySize + kIconEntrySize];
  const std::int64_t got = stream.Read(b, sizeof b);
  stream.Seek(-got, soCurrent);
  if (got != sizeof b) return false;
  const int type = Le16(b + 2), count = Le16(b + 4);
  return (type == 0 || type == 1) && count != 0 && IconSide(b[6]) && IconSide(b[7]);
}

void TIconGraphic::LoadImageFromStream(TStream& stream, int) {
  std::uint8_t last = ReportProgress(this, 0, 0, 255, 100, OnReadWriteProgress);
  TIcon icon;
  icon.LoadFromStream(stream);
  last = ReportProgress(this, 95, 0, last, 100, OnReadWriteProgress);
  NewImage(icon.Width(), icon.Height(), ifTrueColor, nullptr, 0, 0);
  Fill(BackgroundColor);
  icon.Draw(Canvas(), {0, 0, icon.Width(), icon.Height()});
  ReportProgress(this, 100, 0, last, 100, OnReadWriteProgress);
}

void WriteIconFile(const TDibGraphic& image, TStream& stream) {
  TIconGraphic icon;
  icon.Assign(&image);
  icon.SaveToStream(stream);
}

// One 24-bit image of the system icon size with an all-opaque mask: the
// image's top-left corner, unscaled, on black where it is smaller.
void TIconGraphic::SaveToStream(TStream& stream) {
  if (Empty()) RaiseInvalidIcon();
  std::uint8_t last = ReportProgress(this, 0, 0, 255, 100, OnReadWriteProgress);
  const int cx = ::GetSystemMetrics(SM_CXICON), cy = ::GetSystemMetrics(SM_CYICON);
  const std::uint32_t colourStride = (std::uint32_t(cx) * 24 + 31) / 32 * 4;
  const std::uint32_t maskStride = (std::uint32_t(cx) + 31) / 32 * 4;
  const std::uint32_t imageBytes = 40 + (colourStride + maskStride) * std::uint32_t(cy);
  std::vector<std::uint8_t> file(kIconDirectorySize + kIconEntrySize + imageBytes, 0);
  std::uint8_t* p = file.data();
  PutLe16(p + 2, 1);  // icon
  PutLe16(p + 4, 1);  // one image
  std::uint8_t* entry = p + kIconDirectorySize;
  entry[0] = static_cast<std::uint8_t>(cx >= 256 ? 0 : cx);
  entry[1] = static_cast<std::uint8_t>(cy >= 256 ? 0 : cy);
  PutLe16(entry + 4, 1);
  PutLe16(entry + 6, 24);
  PutLe32(entry + 8, imageBytes);
  PutLe32(entry + 12, kIconDirectorySize + kIconEntrySize);
  std::uint8_t* header = entry + kIconEntrySize;
  PutLe32(header, 40);
  PutLe32(header + 4, std::uint32_t(cx));
  PutLe32(header + 8, std::uint32_t(cy) * 2);  // colour rows, then mask rows
  PutLe16(header + 12, 1);
  PutLe16(header + 14, 24);
  PutLe32(header + 20, (colourStride + maskStride) * std::uint32_t(cy));
  std::uint8_t* colour = header + 40;
  for (int row = 0; row < cy; ++row) {  // bottom-up
    const int y = cy - 1 - row;
    std::uint8_t* out = colour + colourStride * std::uint32_t(row);
    for (int x = 0; x < cx && y < Height(); ++x) {
      if (x >= Width()) break;
      const std::uint32_t c = Pixels(x, y);
      out[3 * x] = static_cast<std::uint8_t>(c);
      out[3 * x + 1] = static_cast<std::uint8_t>(c >> 8);
      out[3 * x + 2] = static_cast<std::uint8_t>(c >> 16);
    }
  }
  last = ReportProgress(this, 10, 0, last, 100, OnReadWriteProgress);
  stream.WriteBuffer(file.data(), std::int64_t(file.size()));
  ReportProgress(this, 100, 0, last, 100, OnReadWriteProgress);
}

}  // namespace lumetra
