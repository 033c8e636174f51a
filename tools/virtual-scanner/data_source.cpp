// The Quorvex Virtual Scanner: a TWAIN 1.x data source (states 3 to 7) with
// native transfers. The source manager loads this DLL and calls DS_Entry;
// the source tells the application about ready images and close requests by
// posting a message of its own to the application's window, which comes back
// through MSG_PROCESSEVENT.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bmp_page.h"
#include "resource.h"
#include "virtual_source.h"

using namespace quorvex::twain;

namespace quorvex::vscan {

HINSTANCE moduleInstance = nullptr;

namespace {

constexpr char kProductName[] = "Quorvex Virtual Scanner";
constexpr char kSettingsVariable[] = "QUORVEX_VSCAN_SETTINGS";

std::string ReadTextFile(const std::string& path) {
  std::string text;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0 && text.size() < 65536)
      text.append(buffer, n);
    std::fclose(f);
  }
  return text;
}

TScanSettings ReadSettings() {
  char path[MAX_PATH];
  const DWORD length = GetEnvironmentVariableA(kSettingsVariable, path, sizeof path);
  return length > 0 && length < sizeof path ? ParseSettings(ReadTextFile(path)) : TScanSettings{};
}

// Waits as a slow scanner does (lamp warm-up, paper feed), handling the
// thread's messages meanwhile as a driver with a progress window must.
void PumpMessagesFor(int milliseconds) {
  const DWORD start = GetTickCount();
  for (DWORD elapsed = 0; elapsed < static_cast<DWORD>(milliseconds);
       elapsed = GetTickCount() - start) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds - elapsed, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(msg.wParam));
        return;
      }
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
}

VirtualSource source;

}  // namespace

// The name the source answers with: the settings' or the default; a copy
// installed under another file name than sane.ds adds that name, so that two
// copies make two sources.
std::string ProductName(const TScanSettings& settings) {
  std::string name = settings.productName.empty() ? kProductName : settings.productName;
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(moduleInstance, path, sizeof path);
  std::string file(path, length < sizeof path ? length : 0);
  file = file.substr(file.find_last_of("\\/") + 1);
  file = file.substr(0, file.find('.'));
  if (!file.empty() && lstrcmpiA(file.c_str(), "sane") != 0) name += " (" + file + ")";
  return name.substr(0, 32);
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  return source.DialogMessage(dialog, message, wParam);
}

void VirtualSource::Log(const char* pattern, ...) {
  if (settings_.log.empty()) return;
  char line[256];
  va_list args;
  va_start(args, pattern);
  std::vsnprintf(line, sizeof line, pattern, args);
  va_end(args);
  if (FILE* f = std::fopen(settings_.log.c_str(), "ab")) {
    std::fprintf(f, "%s\n", line);
    std::fclose(f);
  }
}

TW_UINT16 VirtualSource::Entry(TW_IDENTITY* origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                               void* data) {
  if (dg == DG_CONTROL && dat == DAT_STATUS && msg == MSG_GET) {
    if (!data) return TWRC_FAILURE;
    auto* status = static_cast<TW_STATUS*>(data);
    status->ConditionCode = condition_;
    status->Reserved = 0;
    condition_ = TWCC_SUCCESS;
    return TWRC_SUCCESS;
  }
  condition_ = TWCC_SUCCESS;
  if (!data && !(dg == DG_CONTROL && dat == DAT_NULL)) return Fail(TWCC_BADVALUE);
  if (dg == DG_CONTROL) {
    switch (dat) {
      case DAT_IDENTITY: return Identity(origin, msg, static_cast<TW_IDENTITY*>(data));
      case DAT_CAPABILITY: return Capability(msg, static_cast<TW_CAPABILITY*>(data));
      case DAT_USERINTERFACE: return UserInterface(msg, static_cast<TW_USERINTERFACE*>(data));
      case DAT_EVENT:
        if (msg != MSG_PROCESSEVENT) return Fail(TWCC_BADPROTOCOL);
        return ProcessEvent(static_cast<TW_EVENT*>(data));
      case DAT_PENDINGXFERS: return PendingTransfers(msg, static_cast<TW_PENDINGXFERS*>(data));
      case DAT_XFERGROUP:
        if (msg != MSG_GET) return Fail(TWCC_BADPROTOCOL);
        *static_cast<TW_UINT32*>(data) = DG_IMAGE;
        return TWRC_SUCCESS;
      default: return Fail(TWCC_BADPROTOCOL);
    }
  }
  if (dg == DG_IMAGE && msg == MSG_GET) {
    if (dat == DAT_IMAGEINFO) return ImageInfo(static_cast<TW_IMAGEINFO*>(data));
    if (dat == DAT_IMAGENATIVEXFER) return NativeTransfer(static_cast<TW_HANDLE*>(data));
  }
  return Fail(TWCC_BADPROTOCOL);
}

TW_UINT16 VirtualSource::Identity(TW_IDENTITY* origin, TW_UINT16 msg, TW_IDENTITY* identity) {
  switch (msg) {
    case MSG_GET: {
      const TW_UINT32 id = identity->Id;
      *identity = TW_IDENTITY{};
      identity->Id = id;
      identity->Version.MajorNum = 1;
      identity->Version.MinorNum = 0;
      identity->Version.Language = TWLG_ENGLISH;
      identity->Version.Country = TWCY_USA;
      std::strcpy(identity->Version.Info, "1.0");
      identity->ProtocolMajor = 1;
      identity->ProtocolMinor = 9;
      identity->SupportedGroups = DG_CONTROL | DG_IMAGE;
      std::strcpy(identity->Manufacturer, "Quorvex");
      std::strcpy(identity->ProductFamily, "Virtual Scanner");
      // Asked before any session: the name comes from the settings now.
      const std::string name = ProductName(ReadSettings());
      std::memcpy(identity->ProductName, name.c_str(), name.size() + 1);
      return TWRC_SUCCESS;
    }
    case MSG_OPENDS: {
      if (state_ != 3) return Fail(TWCC_MAXCONNECTIONS);
      if (origin) application_ = *origin;
      self_ = *identity;
      settings_ = ReadSettings();
      ResetValues();
      ListFolder();
      pagesSinceOpen_ = 0;
      endTransferFailed_ = false;
      state_ = 4;
      Log("OPENDS app=%.34s source=%.34s", application_.ProductName, self_.ProductName);
      return TWRC_SUCCESS;
    }
    case MSG_CLOSEDS:
      if (state_ != 4) return Fail(TWCC_SEQERROR);
      if (settings_.failCloseOnce && !closeFailed_) {
        // Busy with something of its own: it stays open until asked again.
        closeFailed_ = true;
        Log("CLOSEFAIL");
        return Fail(TWCC_BUMMER);
      }
      CloseDialog();
      state_ = 3;
      Log("CLOSEDS");
      return TWRC_SUCCESS;
    default: return Fail(TWCC_BADPROTOCOL);
  }
}

void VirtualSource::Notify(TW_UINT16 message) {
  if (message == MSG_CLOSEDSREQ && settings_.noCloseRequest) {
    Log("NOCLOSEREQ");
    return;
  }
  Log(message == MSG_XFERREADY ? "XFERREADY" : "CLOSEDSREQ");
  if (parent_) PostMessageA(parent_, notifyMessage_, cookie_, message);
  else PostThreadMessageA(GetCurrentThreadId(), notifyMessage_, cookie_, message);
}

void VirtualSource::StartBatch(int pages) {
  // A loaded feeder delivers its sheets; with the feeder switched off the
  // source scans the one sheet on the glass.
  if (!folderFiles_.empty()) pages = static_cast<int>(folderFiles_.size());
  else if (!CurrentValue(CAP_FEEDERENABLED)) pages = 1;
  const auto count = static_cast<TW_INT32>(CurrentValue(CAP_XFERCOUNT));
  if (count > 0) pages = std::min<int>(pages, count);
  if (pages <= 0) {
    Notify(MSG_CLOSEDSREQ);
    return;
  }
  batchPages_ = pages;
  pagesDone_ = 0;
  state_ = 6;
  if (dialog_) EnableWindow(dialog_, FALSE);
  ShowIndicator();
  Notify(MSG_XFERREADY);
}

TW_UINT16 VirtualSource::UserInterface(TW_UINT16 msg, TW_USERINTERFACE* ui) {
  switch (msg) {
    case MSG_ENABLEDS: {
      if (state_ != 4) return Fail(TWCC_SEQERROR);
      Log("ENABLEDS showui=%d", ui->ShowUI ? 1 : 0);
      if (settings_.failEnable) return Fail(TWCC_BUMMER);
      if (!notifyMessage_) notifyMessage_ = RegisterWindowMessageA("Quorvex Virtual Scanner Event");
      showUI_ = ui->ShowUI != 0;
      // A source that cannot hide its dialog shows it anyway and says so.
      const bool cannotHide = !showUI_ && settings_.checkStatusOnEnable;
      if (cannotHide) showUI_ = true;
      parent_ = reinterpret_cast<HWND>(ui->hParent);
      ++cookie_;
      state_ = 5;
      if (showUI_) {
        dialog_ = CreateDialogParamA(moduleInstance, MAKEINTRESOURCEA(IDD_SCAN), parent_,
                                     DialogProc, 0);
        if (!dialog_) {
          state_ = 4;
          return Fail(TWCC_LOWMEMORY);
        }
        SetWindowTextA(dialog_, ProductName(settings_).c_str());
        ShowWindow(dialog_, SW_SHOW);
      } else {
        StartBatch(settings_.pages);
      }
      if (cannotHide) {
        condition_ = TWCC_BADVALUE;
        return TWRC_CHECKSTATUS;
      }
      return TWRC_SUCCESS;
    }
    case MSG_DISABLEDS:
      if (state_ != 5) return Fail(TWCC_SEQERROR);
      CloseDialog();
      state_ = 4;
      Log("DISABLEDS");
      return TWRC_SUCCESS;
    default: return Fail(TWCC_BADPROTOCOL);
  }
}

TW_UINT16 VirtualSource::ProcessEvent(TW_EVENT* event) {
  event->TWMessage = MSG_NULL;
  if (state_ < 5) return TWRC_NOTDSEVENT;
  auto* msg = reinterpret_cast<MSG*>(event->pEvent);
  if (!msg) return TWRC_NOTDSEVENT;
  if (notifyMessage_ && msg->message == notifyMessage_) {
    // A notification of an earlier session is swallowed, not acted upon.
    if (msg->wParam == cookie_) event->TWMessage = static_cast<TW_UINT16>(msg->lParam);
    return TWRC_DSEVENT;
  }
  if (dialog_ && IsDialogMessageA(dialog_, msg)) return TWRC_DSEVENT;
  return TWRC_NOTDSEVENT;
}

TW_UINT16 VirtualSource::PendingTransfers(TW_UINT16 msg, TW_PENDINGXFERS* pending) {
  pending->Reserved = 0;
  switch (msg) {
    case MSG_GET:
      if (state_ < 4) return Fail(TWCC_SEQERROR);
      pending->Count = static_cast<TW_UINT16>(state_ >= 6 ? batchPages_ - pagesDone_ : 0);
      return TWRC_SUCCESS;
    case MSG_ENDXFER: {
      if (state_ != 6 && state_ != 7) return Fail(TWCC_SEQERROR);
      if (state_ == 7 && settings_.failEndTransferAt == pagesDone_ + 1 && !endTransferFailed_) {
        // The page went out, but ending it fails once: still in state 7.
        endTransferFailed_ = true;
        Log("ENDXFERFAIL page=%d", pagesDone_ + 1);
        return Fail(TWCC_BUMMER);
      }
      ++pagesDone_;
      const int remaining = std::max(0, batchPages_ - pagesDone_);
      // A feeder that cannot count its sheets says -1 until it is empty.
      pending->Count = static_cast<TW_UINT16>(remaining > 0 && settings_.pendingUnknown ? 0xFFFF
                                                                                       : remaining);
      Log("ENDXFER pending=%d", remaining);
      if (remaining > 0) {
        state_ = 6;
        ShowIndicator();
      } else {
        state_ = 5;
        HideIndicator();
        if (dialog_) EnableWindow(dialog_, TRUE);
      }
      return TWRC_SUCCESS;
    }
    case MSG_RESET:
      if (state_ != 6) return Fail(TWCC_SEQERROR);
      pending->Count = 0;
      batchPages_ = pagesDone_;
      state_ = 5;
      HideIndicator();
      if (dialog_) EnableWindow(dialog_, TRUE);
      Log("RESET");
      return TWRC_SUCCESS;
    default: return Fail(TWCC_BADPROTOCOL);
  }
}

TPageRequest VirtualSource::CurrentPage() const {
  TPageRequest request;
  request.pageNumber = pagesSinceOpen_ + 1;
  request.xDpi = static_cast<std::uint16_t>(CurrentValue(ICAP_XRESOLUTION));
  request.yDpi = static_cast<std::uint16_t>(CurrentValue(ICAP_YRESOLUTION));
  const auto pixelType = CurrentValue(ICAP_PIXELTYPE);
  request.bitsPerPixel = static_cast<int>(CurrentValue(ICAP_BITDEPTH));
  request.colour = pixelType == TWPT_PALETTE || pixelType == TWPT_RGB;
  if (settings_.hugePageAt == pagesDone_ + 1) {
    request.width = 20000;
    request.height = 30000;
    request.blank = true;
  }
  return request;
}
TW_UINT16 VirtualSource::ImageInfo(TW_IMAGEINFO* info) {
  if (state_ != 6) return Fail(TWCC_SEQERROR);
  Log("IMAGEINFO");
  if (settings_.refuseImageInfo) return Fail(TWCC_BUMMER);
  *info = TW_IMAGEINFO{};
  info->XResolution = TW_FIX32{static_cast<TW_INT16>(CurrentValue(ICAP_XRESOLUTION)), 0};
  info->YResolution = TW_FIX32{static_cast<TW_INT16>(CurrentValue(ICAP_YRESOLUTION)), 0};
  info->Planar = FALSE;
  info->Compression = TWCP_NONE;
  for (auto& bits : info->BitsPerSample) bits = 0;
  int bitsPerPixel;
  TW_INT16 pixelType;
  if (!folderFiles_.empty()) {
    std::vector<std::uint8_t> dib;
    if (!LoadFolderPage(dib)) return Fail(TWCC_OPERATIONERROR);
    std::int32_t width, height;
    std::uint16_t bitCount;
    std::memcpy(&width, dib.data() + 4, 4);
    std::memcpy(&height, dib.data() + 8, 4);
    std::memcpy(&bitCount, dib.data() + 14, 2);
    info->ImageWidth = width;
    info->ImageLength = height < 0 ? -height : height;
    bitsPerPixel = bitCount;
    pixelType = bitCount == 1 ? TWPT_BW : bitCount >= 16 ? TWPT_RGB : TWPT_PALETTE;
  } else {
    const TPageRequest request = CurrentPage();
    info->ImageWidth = PageWidth(request);
    info->ImageLength = PageHeight(request);
    bitsPerPixel = request.bitsPerPixel;
    pixelType = static_cast<TW_INT16>(CurrentValue(ICAP_PIXELTYPE));
  }
  info->PixelType = pixelType;
  info->BitsPerPixel = static_cast<TW_INT16>(bitsPerPixel);
  if (pixelType == TWPT_RGB) {
    info->SamplesPerPixel = 3;
    for (int i = 0; i < 3; ++i) info->BitsPerSample[i] = static_cast<TW_INT16>(bitsPerPixel / 3);
  } else {
    info->SamplesPerPixel = 1;
    info->BitsPerSample[0] = static_cast<TW_INT16>(bitsPerPixel);
  }
  return TWRC_SUCCESS;
}

TW_UINT16 VirtualSource::NativeTransfer(TW_HANDLE* handle) {
  if (state_ != 6) return Fail(TWCC_SEQERROR);
  *handle = 0;
  if (settings_.pauseMs > 0) {
    Log("PAUSE page=%d", pagesDone_ + 1);
    PumpMessagesFor(settings_.pauseMs);
  }
  if (settings_.failTransferAt == pagesDone_ + 1) {
    Log("NATIVEXFER fail page=%d", pagesDone_ + 1);
    return Fail(TWCC_OPERATIONERROR);
  }
  if (settings_.cancelAt == pagesDone_ + 1) {
    Log("NATIVEXFER cancel page=%d", pagesDone_ + 1);
    state_ = 7;
    return TWRC_CANCEL;
  }
  if (settings_.nullHandle) {
    // A broken driver: "done", but no image.
    state_ = 7;
    Log("NATIVEXFER null page=%d", pagesDone_ + 1);
    return TWRC_XFERDONE;
  }
  HGLOBAL block = nullptr;
  if (!folderFiles_.empty()) {
    std::vector<std::uint8_t> dib;
    if (!LoadFolderPage(dib)) return Fail(TWCC_OPERATIONERROR);
    block = GlobalAlloc(GMEM_MOVEABLE, dib.size());
    if (!block) return Fail(TWCC_LOWMEMORY);
    std::memcpy(GlobalLock(block), dib.data(), dib.size());
  } else {
    const TPageRequest request = CurrentPage();
    block = GlobalAlloc(GMEM_MOVEABLE, PackedDibSize(request));
    if (!block) {
      Log("NATIVEXFER lowmemory page=%d", pagesDone_ + 1);
      return Fail(TWCC_LOWMEMORY);
    }
    PaintPage(request, static_cast<std::uint8_t*>(GlobalLock(block)));
  }
  GlobalUnlock(block);
  if (settings_.shortBlockAt == pagesDone_ + 1) {
    // Half the pixels went missing on the way.
    if (HGLOBAL shorter = GlobalReAlloc(block, GlobalSize(block) / 2, GMEM_MOVEABLE))
      block = shorter;
    Log("SHORTBLOCK page=%d", pagesDone_ + 1);
  }
  *handle = reinterpret_cast<TW_HANDLE>(block);
  ++pagesSinceOpen_;
  state_ = 7;
  Log("NATIVEXFER page=%d", pagesDone_ + 1);
  return TWRC_XFERDONE;
}

}  // namespace quorvex::vscan

extern "C" __declspec(dllexport) TW_UINT16 WINAPI DS_Entry(TW_IDENTITY* origin, TW_UINT32 dg,
                                                           TW_UINT16 dat, TW_UINT16 msg,
                                                           void* data) noexcept {
  // Nothing may unwind into the source manager.
  try {
    return quorvex::vscan::source.Entry(origin, dg, dat, msg, data);
  } catch (...) {
    return TWRC_FAILURE;
  }
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    quorvex::vscan::moduleInstance = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}
