// The scanning window's page display: one page of a multi-page TIFF document
// at a time, drawn at full-page or a percentage zoom. It offers the viewer
// operations the window uses (LoadFromFile, CurrentPage, AppendToFile,
// AssignGraphic, ZoomMode, ZoomPercent).
#pragma once

#include <memory>
#include <string>

#include "formats/tiff_graphic.h"
#include "ui/control.h"

namespace quorvex::scanwindow {

enum TPageZoomMode : std::uint8_t { pzFullPage = 0, pzPercent };

class TPageView : public lumetra::ui::TControl {
 public:
  explicit TPageView(lumetra::ui::TControl& parent);
  const char* ClassName() const noexcept override { return "TPageView"; }

  // The page count of a TIFF file (0 when it holds none).
  static int GetPageCount(const std::string& fileName);
  // Page 0 means the whole document (the first page is shown).
  void LoadFromFile(const std::string& fileName, int page);
  void AppendToFile(const std::string& fileName);
  void AssignGraphic(const lumetra::TDibGraphic& graphic);

  const lumetra::TTiffGraphic& Graphic() const { return *graphic_; }
  bool Empty() const { return graphic_->Empty(); }
  int PageCount() const { return pageCount_; }
  int CurrentPage() const { return currentPage_; }
  void SetCurrentPage(int page);

  TPageZoomMode ZoomMode() const { return zoomMode_; }
  void SetZoomMode(TPageZoomMode mode);
  // In full-page mode, the scale that fits the page.
  double ZoomPercent() const;
  void SetZoomPercent(double percent);

 protected:
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
  void Resize() override;

 private:
  void Paint(HDC dc);

  std::unique_ptr<lumetra::TTiffGraphic> graphic_;
  std::string fileName_;
  int pageCount_ = 0;
  int currentPage_ = 0;
  TPageZoomMode zoomMode_ = pzFullPage;
  double zoomPercent_ = 100.0;
};

}  // namespace quorvex::scanwindow
