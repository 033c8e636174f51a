// What the virtual scanner shows: its dialog (resolution, pixel type and
// pages) and the progress indicator of a scan without the dialog.
#include <cstdio>
#include <iterator>

#include "resource.h"
#include "virtual_source.h"

namespace quorvex::vscan {
namespace {

constexpr char kIndicatorCaption[] = "Scanning - Quorvex Virtual Scanner";

// The pixel types of the dialog, in the order of the image formats.
struct PixelChoice {
  const char* name;
  TW_UINT16 pixelType;
  TW_UINT16 bitDepth;
};
constexpr PixelChoice kPixelChoices[] = {
    {"Black and white", TWPT_BW, 1},  {"16 greys", TWPT_GRAY, 4},
    {"256 greys", TWPT_GRAY, 8},      {"16 colours", TWPT_PALETTE, 4},
    {"256 colours", TWPT_PALETTE, 8}, {"True colour", TWPT_RGB, 24},
};

}  // namespace

void VirtualSource::ShowIndicator() {
  if (showUI_ || !CurrentValue(CAP_INDICATORS)) return;
  if (!indicator_) {
    const int width = 340, height = 90;
    // A bordered popup without caption: the window manager need not be
    // asked to place it, so it appears at once.
    indicator_ = CreateWindowExA(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, "STATIC", kIndicatorCaption,
                                 WS_POPUP | WS_BORDER | SS_CENTER, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                                 (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height,
                                 parent_, nullptr, moduleInstance, nullptr);
    if (!indicator_) return;  // scanning goes on without it
    indicatorText_ = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_CENTER, 10, 35,
                                     width - 22, 20, indicator_, nullptr, moduleInstance, nullptr);
    SendMessageA(indicatorText_, WM_SETFONT,
                 reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
  }
  char text[64];
  std::snprintf(text, sizeof text, "Scanning page %d of %d", pagesDone_ + 1, batchPages_);
  if (indicatorText_) SetWindowTextA(indicatorText_, text);
  ShowWindow(indicator_, SW_SHOWNOACTIVATE);
  // The application pumps no messages during a batch: paint now.
  RedrawWindow(indicator_, nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void VirtualSource::HideIndicator() {
  if (indicator_) {
    DestroyWindow(indicator_);
    indicator_ = nullptr;
    indicatorText_ = nullptr;
  }
}

void VirtualSource::CloseDialog() {
  HideIndicator();
  if (dialog_) {
    DestroyWindow(dialog_);
    dialog_ = nullptr;
  }
}

INT_PTR VirtualSource::DialogMessage(HWND dialog, UINT message, WPARAM wParam) {
  switch (message) {
    case WM_INITDIALOG: {
      SetDlgItemInt(dialog, IDC_RESOLUTION, CurrentValue(ICAP_XRESOLUTION), FALSE);
      SetDlgItemInt(dialog, IDC_PAGES, static_cast<UINT>(settings_.pages), FALSE);
      const HWND combo = GetDlgItem(dialog, IDC_PIXELTYPE);
      int selected = 0;
      for (std::size_t i = 0; i < std::size(kPixelChoices); ++i) {
        SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(kPixelChoices[i].name));
        if (kPixelChoices[i].pixelType == CurrentValue(ICAP_PIXELTYPE) &&
            kPixelChoices[i].bitDepth == CurrentValue(ICAP_BITDEPTH))
          selected = static_cast<int>(i);
      }
      SendMessageA(combo, CB_SETCURSEL, selected, 0);
      return TRUE;
    }
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK: {
          BOOL ok = FALSE;
          const UINT dpi = GetDlgItemInt(dialog, IDC_RESOLUTION, &ok, FALSE);
          BOOL pagesOk = FALSE;
          const UINT pages = GetDlgItemInt(dialog, IDC_PAGES, &pagesOk, FALSE);
          if (!ok || dpi < kMinDpi || dpi > kMaxDpi || !pagesOk || pages < 1 || pages > 9999) {
            MessageBeep(MB_ICONEXCLAMATION);
            return TRUE;
          }
          const auto choice = SendDlgItemMessageA(dialog, IDC_PIXELTYPE, CB_GETCURSEL, 0, 0);
          const PixelChoice& pixel =
              kPixelChoices[choice >= 0 && choice < 6 ? static_cast<std::size_t>(choice) : 0];
          values_[CapabilityIndex(ICAP_XRESOLUTION)] = dpi;
          values_[CapabilityIndex(ICAP_YRESOLUTION)] = dpi;
          values_[CapabilityIndex(ICAP_PIXELTYPE)] = pixel.pixelType;
          values_[CapabilityIndex(ICAP_BITDEPTH)] = pixel.bitDepth;
          Log("DIALOG scan dpi=%u type=%u depth=%u pages=%u", dpi, pixel.pixelType, pixel.bitDepth,
              pages);
          if (state_ == 5) StartBatch(static_cast<int>(pages));
          return TRUE;
        }
        case IDCANCEL:
          Log("DIALOG cancel");
          // A driver that forgets to ask for its close still hides itself.
          if (settings_.noCloseRequest) ShowWindow(dialog, SW_HIDE);
          if (state_ == 5) Notify(MSG_CLOSEDSREQ);
          return TRUE;
      }
      break;
    case WM_CLOSE:
      if (state_ == 5) Notify(MSG_CLOSEDSREQ);
      return TRUE;
  }
  return FALSE;
}

}  // namespace quorvex::vscan
