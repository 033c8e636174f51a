// TCanvas: a GDI device context with the drawing operations the library
// uses. It does not own the DC unless told so.
#pragma once

#include <windows.h>

namespace lumetra {

class TCanvas {
 public:
  explicit TCanvas(HDC dc = nullptr, bool owned = false) : dc_(dc), owned_(owned) {}
  ~TCanvas() {
    if (owned_ && dc_) ::DeleteDC(dc_);
  }
  TCanvas(const TCanvas&) = delete;
  TCanvas& operator=(const TCanvas&) = delete;
  HDC Handle() const { return dc_; }
  void SetHandle(HDC dc) { dc_ = dc; }

 private:
  HDC dc_;
  bool owned_;
};

}  // namespace lumetra
