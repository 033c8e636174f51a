// Assignment between images, packed DIB blocks, multi-image streams and the
// frame list: the portable part of the image exchange.
#include <cmath>
#include <cstring>

#include "base/format.h"
#include "imaging/bmp_decode.h"
#include "imaging/dib_graphic.h"

namespace lumetra {

TDibGraphic::~TDibGraphic() {
  SetAnimate(false);
  frames_.clear();
  try {
    ReleaseStore();
  } catch (...) {
    // A destructor cannot report that the system refused to delete the
    // memory context; everything else has been released by then.
  }
}

void TDibGraphic::CopyImageFrom(const TDibGraphic& source) {
  NewImage(source.Width(), source.Height(), source.ImageFormat(),
           IsIndexedFormat(source.ImageFormat()) ? source.LogPalette() : nullptr, source.XDpi(),
           source.YDpi());
  frameDelay_ = source.frameDelay_;
  std::memcpy(PixelMemory(), source.PixelMemory(),
              static_cast<std::size_t>(Height()) * RowStride());
}

void TDibGraphic::TakeImageFrom(TDibGraphic& source) {
  if (&source == this) return;
  ReleaseStore();
  // Nothing of Source may still look at its pixels when they change hands.
  source.quantizer_.reset();
  source.ReleasePlatformState();
  store_.Swap(source.store_);
  imageFormat_ = source.imageFormat_;
  header_ = source.header_;
  std::memcpy(colorTable_, source.colorTable_, sizeof colorTable_);
  logPalette_ = source.logPalette_;
  rowStride_ = source.rowStride_;
  reader_ = source.reader_;
  writer_ = source.writer_;
  frameDelay_ = source.frameDelay_;
  if (source.converter_) converter_ = std::make_unique<TRgbToPaletteConverter>(&logPalette_);
  source.ReleaseStore();
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
    // Source may be one of this image's own frames: it stays alive until
    // everything has been read from it.
    const int sourceFrame = dib->currentFrame_;
    std::vector<std::unique_ptr<TDibGraphic>> old = std::move(frames_);
    frames_ = std::move(copies);
    // The pixels now show the frame the source was showing.
    currentFrame_ = sourceFrame >= 1 && sourceFrame <= FrameCount() ? sourceFrame : -1;
    return;
  }
#ifdef _WIN32
  if (AssignFromPlatformGraphic(source)) return;
#endif
  TGraphic::Assign(source);
}

void TDibGraphic::AssignTo(TGraphic* dest) const {
  if (auto* dib = dynamic_cast<TDibGraphic*>(dest)) {
    dib->Assign(this);
    return;
  }
#ifdef _WIN32
  if (AssignToPlatformGraphic(dest)) return;
#endif
  throw ELumetraError(
      Format("Cannot assign a %s to a %s", "TDibGraphic", dest ? dest->ClassName() : "nil"));
}

// --- packed DIB blocks ------------------------------------------------------------

namespace {

[[noreturn]] void InvalidHdib() { throw ELumetraError("Invalid HDIB"); }

TBitmapInfoHeader ReadDibHeader(const void* block, std::size_t size) {
  if (!block || size < sizeof(TBitmapInfoHeader)) InvalidHdib();
  TBitmapInfoHeader h;
  std::memcpy(&h, block, sizeof h);
  if (h.biSize < sizeof(TBitmapInfoHeader) || h.biSize > size) InvalidHdib();
  return h;
}

// Entries of the colour table as the block holds them: the palette (colours
// used, or all 2^bits) up to 8 bits, and above that the optional table that
// colours used announces; bit-field DIBs with a plain 40-byte header keep
// their three masks in front of it.
std::uint64_t DibTableBytes(const TBitmapInfoHeader& h) {
  std::uint64_t bytes = 0;
  if (h.biBitCount <= 8)
    bytes = 4ull * (h.biClrUsed ? h.biClrUsed : 1u << h.biBitCount);
  else
    bytes = 4ull * h.biClrUsed;
  if (h.biCompression == 3 && h.biSize == sizeof(TBitmapInfoHeader)) bytes += 12;
  return bytes;
}

}  // namespace

std::uint64_t DIBBlockBytes(const void* block, std::size_t size) {
  const TBitmapInfoHeader h = ReadDibHeader(block, size);
  std::uint64_t imageSize = h.biSizeImage;
  if (h.biCompression == 0 || h.biCompression == 3) {
    // Uncompressed rows: the size follows from the shape, whatever the
    // header says.
    if (h.biWidth <= 0 || h.biBitCount == 0) InvalidHdib();
    const std::uint64_t height = h.biHeight < 0 ? -std::int64_t{h.biHeight} : h.biHeight;
    imageSize = ((std::uint64_t(h.biBitCount) * std::uint64_t(h.biWidth) + 31) >> 5) * 4 * height;
  } else if (imageSize == 0) {
    InvalidHdib();
  }
  const std::uint64_t bytes = std::uint64_t(h.biSize) + DibTableBytes(h) + imageSize;
  if (bytes > size) InvalidHdib();
  return bytes;
}

void SaveDIBBlockToStream(const void* block, std::size_t size, TStream& stream) {
  const std::uint64_t fileSize = 14 + DIBBlockBytes(block, size);
  if (fileSize > 0xFFFFFFFFull) InvalidHdib();
  const TBitmapInfoHeader h = ReadDibHeader(block, size);
  const std::uint64_t offset = 14 + std::uint64_t(h.biSize) + DibTableBytes(h);

  std::uint8_t fileHeader[14] = {'B', 'M'};
  auto put32 = [&](int at, std::uint64_t v) {
    for (int i = 0; i < 4; ++i) fileHeader[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  put32(2, fileSize);
  put32(10, offset);
  if (auto* memory = dynamic_cast<TMemoryStream*>(&stream))
    memory->SetSize(memory->Position() + static_cast<std::int64_t>(fileSize));
  stream.WriteBuffer(fileHeader, sizeof fileHeader);
  stream.WriteBuffer(block, static_cast<std::int64_t>(fileSize - 14));
}

void TDibGraphic::LoadFromDIBBlock(const void* block, std::size_t size) {
  const TBitmapInfoHeader h = ReadDibHeader(block, size);
  const int bits = h.biBitCount;
  switch (bits) {
    case 1: case 4: case 8: case 16: case 24: case 32: break;
    default: throw ELumetraError("Unsupported bit count");
  }
  const bool plain = h.biCompression == 0 && bits != 16 && bits != 32;
  if (!plain) {
    LoadFromBmpDib(static_cast<const std::uint8_t*>(block), size, h);
    return;
  }
  if (bits <= 8 && h.biClrUsed > 256) InvalidHdib();
  if (h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == INT32_MIN) InvalidHdib();
  const bool topDown = h.biHeight < 0;
  const int height = topDown ? -h.biHeight : h.biHeight;
  const std::uint64_t stride = ((std::uint64_t(h.biWidth) * bits + 31) / 32) * 4;
  const std::uint64_t dataOffset = h.biSize + DibTableBytes(h);
  if (dataOffset + stride * std::uint64_t(height) > size) InvalidHdib();

  // The palette: the colour table, at most one entry per possible index.
  const auto* bytes = static_cast<const std::uint8_t*>(block);
  TLogPalette palette{};
  palette.palVersion = 0x300;
  if (bits <= 8) {
    int count = h.biClrUsed ? static_cast<int>(h.biClrUsed) : 1 << bits;
    if (count > (1 << bits)) count = 1 << bits;
    palette.palNumEntries = static_cast<std::uint16_t>(count);
    for (int i = 0; i < count; ++i) {
      const std::uint8_t* q = bytes + h.biSize + 4 * i;
      palette.palPalEntry[i] = {q[2], q[1], q[0], 0};
    }
  }
  TImageFormat format = ifTrueColor;
  switch (bits) {
    case 1: format = ifBlackWhite; break;
    case 4: format = IsGreyPalette(palette) ? ifGray16 : ifColor16; break;
    case 8: format = IsGreyPalette(palette) ? ifGray256 : ifColor256; break;
    default: break;
  }
  NewImage(h.biWidth, height, format, bits <= 8 ? &palette : nullptr,
           DpiFromPelsPerMetre(h.biXPelsPerMeter), DpiFromPelsPerMetre(h.biYPelsPerMeter));
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
      LoadFrames(stream, start, count);
      if (!frames_.empty()) SetCurrentFrame(1);
      return;
    }
  }
  // Frames of an earlier load would otherwise replace the new image at the
  // next animation step.
  ClearFrames();
  LoadImageFromStream(stream, imageIndex_);
}

void TDibGraphic::LoadFrames(TStream& stream, std::int64_t start, int count) {
  for (int i = 1; i <= count; ++i) {
    auto frame = CreateNew();
    frame->OnReadWriteProgress = OnReadWriteProgress;
    frame->OnWarning = OnWarning;
    stream.SetPosition(start);
    frame->LoadImageFromStream(stream, i);
    frames_.push_back(std::move(frame));
  }
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
  // An empty frame (a page that held no image) leaves the pixels alone. The
  // frame is recorded with its pixels and no message is handled in between:
  // a handler could reload or free this image while it is half selected.
  if (frame->Width() >= 1 && frame->Height() >= 1) CopyImageFrom(*frame);
  currentFrame_ = index;
  Changed();
}

void TDibGraphic::AnimationTick() {
  if (frames_.empty()) return;
  int next = currentFrame_ + 1;
  if (next > FrameCount() || next < 1) next = 1;
  SetCurrentFrame(next);
}

}  // namespace lumetra
