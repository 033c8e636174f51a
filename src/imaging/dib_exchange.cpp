// Assignment between images, packed DIB blocks, multi-image streams and the
// frame list: the portable part of the image exchange.
#include <cmath>
#include <cstring>

#include "base/format.h"
#include "imaging/dib_graphic.h"

namespace lumetra {

TDibGraphic::~TDibGraphic() {
  animate_ = false;
  frames_.clear();
  ReleaseStore();
}

void TDibGraphic::CopyImageFrom(const TDibGraphic& source) {
  NewImage(source.Width(), source.Height(), source.ImageFormat(),
           IsIndexedFormat(source.ImageFormat()) ? source.LogPalette() : nullptr, source.XDpi(),
           source.YDpi());
  frameDelay_ = source.frameDelay_;
  std::memcpy(PixelMemory(), source.PixelMemory(),
              static_cast<std::size_t>(Height()) * RowStride());
}

void TDibGraphic::Assign(const TGraphic* source) {
  if (!source) {
    ReleaseStore();
    ClearFrames();
    return;
  }
  if (source == this) return;
  if (const auto* dib = dynamic_cast<const TDibGraphic*>(source)) {
    if (dib->Width() >= 1 && dib->Height() >= 1) CopyImageFrom(*dib);
    std::vector<std::unique_ptr<TDibGraphic>> copies;
    for (const auto& frame : dib->frames_) {
      auto copy = frame->CreateNew();
      if (frame->Width() >= 1 && frame->Height() >= 1) copy->CopyImageFrom(*frame);
      copies.push_back(std::move(copy));
    }
    frames_ = std::move(copies);
    if (frames_.empty()) currentFrame_ = -1;
    return;
  }
  TGraphic::Assign(source);
}

void TDibGraphic::AssignTo(TGraphic* dest) const {
  if (auto* dib = dynamic_cast<TDibGraphic*>(dest)) {
    dib->Assign(this);
    return;
  }
  throw ELumetraError(
      Format("Cannot assign a %s to a %s", "TDibGraphic", dest ? dest->ClassName() : "nil"));
}

// --- packed DIB blocks ------------------------------------------------------------

namespace {

int DibPaletteCount(const TBitmapInfoHeader& h) {
  if (h.biClrUsed != 0) return static_cast<int>(h.biClrUsed);
  return h.biBitCount <= 8 ? 1 << h.biBitCount : 0;
}

std::uint16_t DpiFromPelsPerMeter(std::int32_t ppm) {
  const long double dpi = std::nearbyint(ppm / kInchesPerMetre);
  return static_cast<std::uint16_t>(static_cast<long long>(dpi));
}

}  // namespace

void TDibGraphic::LoadFromDIBBlock(const void* block, std::size_t size) {
  if (!block || size < sizeof(TBitmapInfoHeader)) throw ELumetraError("Invalid HDIB");
  TBitmapInfoHeader h;
  std::memcpy(&h, block, sizeof h);
  if (h.biSize < sizeof(TBitmapInfoHeader) || h.biSize > size) throw ELumetraError("Invalid HDIB");
  const int bits = h.biBitCount;
  int paletteCount = bits <= 8 ? DibPaletteCount(h) : 0;
  if (paletteCount < 0 || paletteCount > 256) throw ELumetraError("Invalid HDIB");
  const auto* bytes = static_cast<const std::uint8_t*>(block);
  const std::size_t tableOffset = h.biSize;
  if (tableOffset + 4u * paletteCount > size) throw ELumetraError("Invalid HDIB");

  TLogPalette palette{};
  palette.palVersion = 0x300;
  palette.palNumEntries = static_cast<std::uint16_t>(paletteCount);
  bool allGrey = paletteCount > 0;
  for (int i = 0; i < paletteCount; ++i) {
    const std::uint8_t* q = bytes + tableOffset + 4 * i;
    palette.palPalEntry[i] = {q[2], q[1], q[0], 0};
    if (!(q[0] == q[1] && q[1] == q[2])) allGrey = false;
  }

  TImageFormat format;
  switch (bits) {
    case 1: format = ifBlackWhite; break;
    case 4: format = allGrey ? ifGray16 : ifColor16; break;
    case 8: format = allGrey ? ifGray256 : ifColor256; break;
    case 16:
    case 24:
    case 32: format = ifTrueColor; break;
    default: throw ELumetraError("Unsupported bit count");
  }
  const bool plain = h.biCompression == 0 && (bits == 1 || bits == 4 || bits == 8 || bits == 24);
  if (!plain) {
    LoadFromBmpDib(bytes, size, h);
    return;
  }
  if (h.biWidth <= 0 || h.biHeight == 0) throw ELumetraError("Invalid HDIB");
  const bool topDown = h.biHeight < 0;
  const int height = topDown ? -h.biHeight : h.biHeight;
  const std::uint64_t stride = ((std::uint64_t(h.biWidth) * bits + 31) / 32) * 4;
  const std::size_t dataOffset = tableOffset + 4u * paletteCount;
  if (dataOffset + stride * std::uint64_t(height) > size) throw ELumetraError("Invalid HDIB");
  NewImage(h.biWidth, height, format, paletteCount ? &palette : nullptr,
           DpiFromPelsPerMeter(h.biXPelsPerMeter), DpiFromPelsPerMeter(h.biYPelsPerMeter));
  if (!topDown) {
    std::memcpy(PixelMemory(), bytes + dataOffset, stride * height);
  } else {
    for (int y = 0; y < height; ++y)
      std::memcpy(ScanLine(y), bytes + dataOffset + stride * y, stride);
  }
}

std::vector<std::uint8_t> TDibGraphic::SaveToDIBBlock() const {
  if (Empty()) throw ELumetraError("Graphic is empty");
  const std::size_t tableBytes = 4u * PaletteCount();
  std::vector<std::uint8_t> block(sizeof header_ + tableBytes + header_.biSizeImage);
  std::memcpy(block.data(), &header_, sizeof header_);
  std::memcpy(block.data() + sizeof header_, colorTable_, tableBytes);
  std::memcpy(block.data() + sizeof header_ + tableBytes, PixelMemory(), header_.biSizeImage);
  return block;
}

// --- multi-image streams and frames ---------------------------------------------

void TDibGraphic::SaveImagesToStream(TStream& stream, int count, const TGetImageEvent& getImage) {
  for (int i = 1; i <= count; ++i) {
    bool freeIt = false;
    TGraphic* g = getImage(i, freeIt);
    std::unique_ptr<TGraphic> owner(freeIt ? g : nullptr);
    Assign(g);
    owner.reset();
    if (i == 1)
      SaveToStream(stream);
    else
      AppendToStream(stream);
  }
}

void TDibGraphic::LoadFromStream(TStream& stream) {
  const bool wasAnimating = animate_;
  SetAnimate(false);
  struct Restore {
    TDibGraphic* self;
    bool value;
    ~Restore() {
      try {
        self->SetAnimate(value);
      } catch (...) {
      }
    }
  } restore{this, wasAnimating};

  if (loadAllFrames_) {
    const std::int64_t start = stream.Position();
    const int count = GetImageCount(stream);
    if (count == 1) {
      loadAllFrames_ = false;
      stream.SetPosition(start);
    }
    if (loadAllFrames_) {
      ClearFrames();
      for (int i = 1; i <= count; ++i) {
        auto frame = CreateNew();
        frame->OnReadWriteProgress = OnReadWriteProgress;
        stream.SetPosition(start);
        frame->LoadImageFromStream(stream, i);
        frames_.push_back(std::move(frame));
      }
      if (!frames_.empty()) SetCurrentFrame(1);
      return;
    }
  }
  LoadImageFromStream(stream, imageIndex_);
}

TDibGraphic* TDibGraphic::Frames(int index) const {
  if (index < 1 || index > FrameCount())
    throw ELumetraError(Format("Frame %d does not exist", index));
  return frames_[index - 1].get();
}

void TDibGraphic::AddFrame(std::unique_ptr<TDibGraphic> frame) {
  frames_.push_back(std::move(frame));
}

void TDibGraphic::ClearFrames() {
  frames_.clear();
  currentFrame_ = -1;
}

void TDibGraphic::SetCurrentFrame(int index) {
  if (index == currentFrame_) return;
  TDibGraphic* frame = Frames(index);
  CopyImageFrom(*frame);
  Changed();
  ProcessPendingMessages();
  currentFrame_ = index;
}

void TDibGraphic::AnimationTick() {
  if (frames_.empty()) return;
  int next = currentFrame_ + 1;
  if (next > FrameCount() || next < 1) next = 1;
  SetCurrentFrame(next);
}

}  // namespace lumetra
