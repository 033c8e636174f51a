#include "viewer/picture_loader.h"

#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include <algorithm>

#include "base/conversions.h"
#include "imaging/win32/canvas.h"
#include "platform/platform.h"
#include "platform/win32/owners.h"

namespace lumetra {

namespace {

class ProgressReporter {
 public:
  ProgressReporter(TObject* sender, const TLumetraProgressEvent& event)
      : sender_(sender), event_(event) {}
  void operator()(std::uint8_t percent) {
    if (event_ && percent != last_) event_(sender_, percent);
    last_ = percent;
  }

 private:
  TObject* sender_;
  const TLumetraProgressEvent& event_;
  int last_ = -1;
};

}  // namespace

std::unique_ptr<TDibGraphic> LoadPicture(TStream& stream, const std::string& name,
                                         TObject* sender, const TLumetraProgressEvent& event) {
  ProgressReporter progress(sender, event);
  progress(0);
  std::string path = name;
  bool temporary = false;
  if (!platform::FileExists(name)) {
    path = CreateTempFileName("lu", name.find('.') == std::string::npos ? name : ExtractFileExt(name));
    TFileStream file(path, fmCreate);
    stream.SetPosition(0);
    file.CopyFrom(stream, 0);
    temporary = true;
  }
  struct RemoveTemp {
    const std::string& path;
    bool on;
    ~RemoveTemp() {
      if (on) platform::RemoveFile(path);
    }
  } removeTemp{path, temporary};
  progress(25);

  TMemoryStream bytes;
  bytes.LoadFromFile(path);
  win32::unique_hglobal block(
      ::GlobalAlloc(GMEM_MOVEABLE, static_cast<SIZE_T>(std::max<std::int64_t>(bytes.Size(), 1))));
  if (!block) throw EOutOfMemory("Out of memory");
  {
    win32::global_lock lock(block.get());
    if (!lock.get()) throw EOutOfMemory("Out of memory");
    std::copy_n(bytes.Memory(), bytes.Size(), static_cast<std::uint8_t*>(lock.get()));
  }
  win32::com_ptr<IStream> source;
  if (FAILED(::CreateStreamOnHGlobal(block.get(), TRUE, source.put())))
    throw EInvalidGraphic("Unknown picture file extension (" + ExtractFileExt(name) + ")");
  (void)block.release();  // the stream frees it now
  win32::com_ptr<IPicture> picture;
  const HRESULT hr = ::OleLoadPicture(source.get(), static_cast<LONG>(bytes.Size()), FALSE,
                                      IID_IPicture, picture.put_void());
  source.reset();
  if (FAILED(hr) || !picture)
    throw EInvalidGraphic("Unknown picture file extension (" + ExtractFileExt(name) + ")");
  progress(90);

  OLE_XSIZE_HIMETRIC hmWidth = 0;
  OLE_YSIZE_HIMETRIC hmHeight = 0;
  picture->get_Width(&hmWidth);
  picture->get_Height(&hmHeight);
  const int width = std::max(1, ::MulDiv(hmWidth, platform::ScreenDpiX(), 2540));
  const int height = std::max(1, ::MulDiv(hmHeight, platform::ScreenDpiY(), 2540));
  auto image = std::make_unique<TDibGraphic>();
  image->NewImage(width, height, ifTrueColor, nullptr, 0, 0);
  image->Fill(0xFFFFFF);
  HDC dc = image->Canvas().Handle();
  picture->Render(dc, 0, 0, width, height, 0, hmHeight, hmWidth, -hmHeight, nullptr);
  ::GdiFlush();
  progress(100);
  return image;
}

}  // namespace lumetra
