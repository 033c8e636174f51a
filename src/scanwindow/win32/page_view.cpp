#include "scanwindow/win32/page_view.h"

#include <algorithm>
#include <cmath>

#include "base/streams.h"

namespace quorvex::scanwindow {

using namespace lumetra;

TPageView::TPageView(ui::TControl& parent) : graphic_(std::make_unique<TTiffGraphic>()) {
  CreateOwnWindow(&parent, "QvPageView", WS_VISIBLE | WS_CHILD | WS_CLIPSIBLINGS, WS_EX_CLIENTEDGE,
                  CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW, nullptr);
}

int TPageView::GetPageCount(const std::string& fileName) {
  TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
  TTiffGraphic probe;
  return probe.GetImageCount(stream);
}

void TPageView::LoadFromFile(const std::string& fileName, int page) {
  auto loaded = std::make_unique<TTiffGraphic>();
  TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
  const int count = loaded->GetImageCount(stream);
  const int shown = page <= 0 ? 1 : page;
  stream.Seek(0, soBeginning);
  loaded->LoadImageFromStream(stream, shown);
  graphic_ = std::move(loaded);
  fileName_ = fileName;
  pageCount_ = page <= 0 ? count : 1;
  currentPage_ = shown;
  Invalidate();
}

void TPageView::SetCurrentPage(int page) {
  if (fileName_.empty() || page < 1 || page > pageCount_ || page == currentPage_) return;
  auto loaded = std::make_unique<TTiffGraphic>();
  TFileStream stream(fileName_, fmOpenRead | fmShareDenyWrite);
  loaded->LoadImageFromStream(stream, page);
  graphic_ = std::move(loaded);
  currentPage_ = page;
  Invalidate();
}

void TPageView::AppendToFile(const std::string& fileName) {
  TFileStream stream(fileName, fmOpenReadWrite);
  graphic_->AppendToStream(stream);
}

void TPageView::AssignGraphic(const TDibGraphic& graphic) {
  auto copy = std::make_unique<TTiffGraphic>();
  copy->Assign(&graphic);
  graphic_ = std::move(copy);
  fileName_.clear();
  pageCount_ = 1;
  currentPage_ = 1;
  Repaint();
}

void TPageView::SetZoomMode(TPageZoomMode mode) {
  zoomMode_ = mode;
  Invalidate();
}

double TPageView::ZoomPercent() const {
  if (zoomMode_ == pzPercent || graphic_->Empty()) return zoomPercent_;
  const double sx = (ClientWidth() - 8) * 100.0 / graphic_->Width();
  const double sy = (ClientHeight() - 8) * 100.0 / graphic_->Height();
  return std::max(1.0, std::min(sx, sy));
}

void TPageView::SetZoomPercent(double percent) {
  zoomPercent_ = std::clamp(percent, 1.0, 5000.0);
  zoomMode_ = pzPercent;
  Invalidate();
}

void TPageView::Resize() {
  ui::TControl::Resize();
  Invalidate();
}

LRESULT TPageView::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_ERASEBKGND) return 1;
  if (msg == WM_PAINT) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(Handle(), &paint);
    Paint(dc);
    EndPaint(Handle(), &paint);
    return 0;
  }
  return ui::TControl::WndProc(msg, wParam, lParam);
}

void TPageView::Paint(HDC dc) {
  RECT client;
  GetClientRect(Handle(), &client);
  HBRUSH background = GetSysColorBrush(COLOR_APPWORKSPACE);
  if (graphic_->Empty() || !graphic_->DC()) {
    FillRect(dc, &client, background);
    return;
  }
  const double scale = ZoomPercent() / 100.0;
  const int width = std::max(1, static_cast<int>(std::trunc(graphic_->Width() * scale)));
  const int height = std::max(1, static_cast<int>(std::trunc(graphic_->Height() * scale)));
  const int left = std::max(0, static_cast<int>((client.right - width) / 2));
  const int top = std::max(0, static_cast<int>((client.bottom - height) / 2));
  // Background around the page only, so that it does not flicker.
  ExcludeClipRect(dc, left, top, left + width, top + height);
  FillRect(dc, &client, background);
  SelectClipRgn(dc, nullptr);
  SetStretchBltMode(dc, HALFTONE);
  SetBrushOrgEx(dc, 0, 0, nullptr);
  StretchBlt(dc, left, top, width, height, static_cast<HDC>(graphic_->DC()), 0, 0,
             graphic_->Width(), graphic_->Height(), SRCCOPY);
}

}  // namespace quorvex::scanwindow
