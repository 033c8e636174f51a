// TGraphic: what every drawable, loadable picture offers; TDibGraphic and
// every format class derive from it.
#pragma once

#include <string>

#include "base/object.h"
#include "base/streams.h"
#include "imaging/lumisc.h"

namespace lumetra {

#ifdef _WIN32
class TCanvas;
#endif

class TGraphic : public TObject {
 public:
  const char* ClassName() const noexcept override { return "TGraphic"; }

  virtual int Width() const = 0;
  virtual int Height() const = 0;
  virtual void SetWidth(int value) = 0;
  virtual void SetHeight(int value) = 0;
  virtual bool Empty() const = 0;

  virtual void LoadFromStream(TStream& stream) = 0;
  virtual void SaveToStream(TStream& stream) = 0;
  virtual void LoadFromFile(const std::string& fileName);
  virtual void SaveToFile(const std::string& fileName);

  // The assignment protocol: Assign(source) asks the target first, then
  // falls back to source->AssignTo(this); neither knowing the other raises
  // "Cannot assign a %s to a %s".
  virtual void Assign(const TGraphic* source);
  virtual void AssignTo(TGraphic* dest) const;

#ifdef _WIN32
  // Paints the picture stretched into Rect (GDI coordinates: Right and
  // Bottom exclusive).
  virtual void Draw(TCanvas& canvas, const TRect& rect) = 0;
#endif

  bool Transparent() const { return transparent_; }
  void SetTransparent(bool value) { transparent_ = value; Changed(); }

  // Raises OnChange; views repaint from it.
  virtual void Changed() { if (OnChange) OnChange(this); }
  TNotifyEvent OnChange;

 private:
  bool transparent_ = false;
};

}  // namespace lumetra
