#include "formats/pcx_graphic.h"

#include "base/little_endian.h"
#include "formats/gbm_wrapper.h"
#include "formats/registry.h"

namespace lumetra {
namespace {

constexpr int kPcxHeaderSize = 128;
constexpr std::int64_t kFirstPage = 4 + 4 * TDcxGraphic::kSlots;  // 4100

[[noreturn]] void HeaderNotValid() {
  throw EDcxError("The DCX file header is not valid");
}

// The next table slot; a short read is a damaged header.
std::uint32_t ReadSlot(TStream& stream) {
  std::uint8_t b[4];
  if (stream.Read(b, 4) != 4) HeaderNotValid();
  return Le32(b);
}

void WriteSlot(TStream& stream, std::uint32_t value) {
  std::uint8_t b[4];
  PutLe32(b, value);
  stream.WriteBuffer(b, 4);
}

void CheckMagic(TStream& stream) {
  stream.SetPosition(0);
  if (ReadSlot(stream) != TDcxGraphic::kMagic) HeaderNotValid();
}

}  // namespace

// --- TPcxGraphic ----------------------------------------------------------------

bool TPcxGraphic::IsValidStream(TStream& stream) {
  std::uint8_t h[kPcxHeaderSize];
  const std::int64_t got = stream.Read(h, kPcxHeaderSize);
  stream.Seek(-got, soCurrent);
  if (got != kPcxHeaderSize) return false;
  const bool version = h[1] == 0 || (h[1] >= 2 && h[1] <= 5);
  const bool bits = h[3] == 1 || h[3] == 2 || h[3] == 4 || h[3] == 8;
  return h[0] == 10 && version && h[2] == 1 && bits;
}

void TPcxGraphic::LoadImageFromStream(TStream& stream, int) {
  ReadFromOffsetZero(stream, [this](TStream& s) {
    const std::int64_t start = s.Position();
    std::uint8_t h[16] = {};
    s.Read(h, sizeof h);  // a short header fails in the codec below
    s.SetPosition(start);
    ReadWithGbm(s, *this, "File.pcx", "");
    // Files that leave the resolution out keep the screen's.
    if (const int x = h[12] | (h[13] << 8)) SetXDpi(static_cast<std::uint16_t>(x));
    if (const int y = h[14] | (h[15] << 8)) SetYDpi(static_cast<std::uint16_t>(y));
  });
}

void TPcxGraphic::SaveToStream(TStream& stream) {
  const std::int64_t start = stream.Position();
  WriteWithGbm(stream, *this, "File.pcx");
  const std::int64_t end = stream.Position();
  const std::uint16_t x = XDpi(), y = YDpi();
  const std::uint8_t words[4] = {std::uint8_t(x), std::uint8_t(x >> 8), std::uint8_t(y),
                                 std::uint8_t(y >> 8)};
  stream.SetPosition(start + 12);
  stream.WriteBuffer(words, sizeof words);
  stream.SetPosition(end);
}

// --- TDcxGraphic ----------------------------------------------------------------

bool TDcxGraphic::IsValidStream(TStream& stream) {
  std::uint8_t b[4];
  const std::int64_t got = stream.Read(b, 4);
  stream.Seek(-got, soCurrent);
  return got == 4 && Le32(b) == kMagic;
}

int TDcxGraphic::GetImageCount(TStream& stream) {
  CheckMagic(stream);
  // A table without its closing 0 would run on into the pages.
  for (int count = 0; count < kSlots; ++count)
    if (ReadSlot(stream) == 0) return count;
  HeaderNotValid();
}

void TDcxGraphic::LoadImageFromStream(TStream& stream, int imageIndex) {
  if (imageIndex < 1 || imageIndex >= kSlots) HeaderNotValid();
  CheckMagic(stream);
  std::uint32_t offset = 0;
  for (int slot = 1; slot <= imageIndex; ++slot)
    if ((offset = ReadSlot(stream)) == 0) HeaderNotValid();
  const std::int64_t size = stream.Size();
  const std::uint32_t next = ReadSlot(stream);
  const std::int64_t end = next ? std::int64_t{next} : size;
  if (end <= std::int64_t{offset} || end > size) HeaderNotValid();
  TMemoryStream page;
  stream.SetPosition(offset);
  try {
    page.CopyFrom(stream, end - offset);
  } catch (const EReadError&) {
    HeaderNotValid();
  }
  page.SetPosition(0);
  TPcxGraphic::LoadImageFromStream(page, 1);
}

void TDcxGraphic::SaveToStream(TStream& stream) {
  std::uint8_t table[kFirstPage] = {};
  PutLe32(table, kMagic);
  PutLe32(table + 4, static_cast<std::uint32_t>(kFirstPage));
  stream.WriteBuffer(table, sizeof table);
  TPcxGraphic::SaveToStream(stream);
}

void TDcxGraphic::AppendToStream(TStream& stream) {
  const std::int64_t size = stream.Size();
  if (size == 0) {
    SaveToStream(stream);
    return;
  }
  if (size > 0xFFFFFFFF) HeaderNotValid();  // the new offset would not fit its slot
  CheckMagic(stream);
  const std::uint32_t first = ReadSlot(stream);
  if (first == 0) HeaderNotValid();
  while (ReadSlot(stream) != 0)
    if (stream.Position() >= first) throw EDcxError("The DCX file header is full");
  if (stream.Position() >= first) throw EDcxError("The DCX file header is full");
  // The page is encoded before the table changes: a page that cannot be
  // written must not leave a slot pointing past the end of the file.
  TMemoryStream page;
  TPcxGraphic::SaveToStream(page);
  stream.Seek(-4, soCurrent);
  WriteSlot(stream, static_cast<std::uint32_t>(size));
  WriteSlot(stream, 0);
  stream.Seek(0, soEnd);
  stream.CopyFrom(page, 0);
}

}  // namespace lumetra
