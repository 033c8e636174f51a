// The Quorvex Virtual Scanner: a TWAIN 1.x data source (states 3 to 7) with
// native transfers. The source manager loads this DLL and calls DS_Entry;
// the source tells the application about ready images and close requests by
// posting a message of its own to the application's window, which comes back
// through MSG_PROCESSEVENT.
#include <windows.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bmp_page.h"
#include "page_painter.h"
#include "resource.h"
#include "settings.h"
#include "twain/twain_defs.h"

using namespace quorvex::twain;

namespace quorvex::vscan {
namespace {

HINSTANCE moduleInstance = nullptr;

constexpr char kProductName[] = "Quorvex Virtual Scanner";
constexpr char kIndicatorCaption[] = "Scanning - Quorvex Virtual Scanner";
constexpr char kSettingsVariable[] = "QUORVEX_VSCAN_SETTINGS";
constexpr int kMinDpi = 50;
constexpr int kMaxDpi = 1200;

struct CapabilityInfo {
  TW_UINT16 cap;
  TW_UINT16 itemType;
  TW_UINT32 defaultValue;
  bool settable;
};

// Every capability the source answers, with its default. FIX32 defaults are
// kept as the one-value item (whole part in the low word).
constexpr CapabilityInfo kCapabilities[] = {
    {CAP_XFERCOUNT, TWTY_INT16, 0xFFFFFFFF, true},
    {ICAP_COMPRESSION, TWTY_UINT16, TWCP_NONE, true},
    {ICAP_PIXELTYPE, TWTY_UINT16, TWPT_BW, true},
    {ICAP_UNITS, TWTY_UINT16, TWUN_INCHES, true},
    {ICAP_XFERMECH, TWTY_UINT16, TWSX_NATIVE, true},
    {CAP_FEEDERENABLED, TWTY_BOOL, 1, true},
    {CAP_FEEDERLOADED, TWTY_BOOL, 0, false},
    {CAP_SUPPORTEDCAPS, TWTY_UINT16, 0, false},
    {CAP_INDICATORS, TWTY_BOOL, 1, true},
    {CAP_UICONTROLLABLE, TWTY_BOOL, 1, false},
    {ICAP_PHYSICALWIDTH, TWTY_FIX32, Fix32Item(ToFix32(210.0 / 25.4)), false},
    {ICAP_PHYSICALHEIGHT, TWTY_FIX32, Fix32Item(ToFix32(297.0 / 25.4)), false},
    {ICAP_XRESOLUTION, TWTY_FIX32, 200, true},
    {ICAP_YRESOLUTION, TWTY_FIX32, 200, true},
    {ICAP_BITDEPTH, TWTY_UINT16, 1, true},
};
constexpr std::size_t kCapabilityCount = std::size(kCapabilities);

int CapabilityIndex(TW_UINT16 cap) {
  for (std::size_t i = 0; i < kCapabilityCount; ++i)
    if (kCapabilities[i].cap == cap) return static_cast<int>(i);
  return -1;
}

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

bool BitDepthFits(TW_UINT16 pixelType, TW_UINT32 depth) {
  switch (pixelType) {
    case TWPT_BW: return depth == 1;
    case TWPT_GRAY:
    case TWPT_PALETTE: return depth == 4 || depth == 8;
    case TWPT_RGB: return depth == 24;
    default: return false;
  }
}
TW_UINT16 DefaultBitDepth(TW_UINT16 pixelType) {
  switch (pixelType) {
    case TWPT_BW: return 1;
    case TWPT_RGB: return 24;
    default: return 8;
  }
}

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

// A BMP file of the folder source as a packed DIB.
bool ReadBmpAsDib(const std::string& path, std::vector<std::uint8_t>& dib) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  std::vector<std::uint8_t> file;
  std::uint8_t buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
    file.insert(file.end(), buffer, buffer + n);
    if (file.size() > (512u << 20)) break;
  }
  std::fclose(f);
  return BmpFileToPackedDib(file, dib);
}

class VirtualSource {
 public:
  TW_UINT16 Entry(TW_IDENTITY* origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data);
  INT_PTR DialogMessage(HWND dialog, UINT message, WPARAM wParam);

 private:
  TW_UINT16 Fail(TW_UINT16 condition) {
    condition_ = condition;
    if (condition == TWCC_SEQERROR) Log("SEQERROR state=%d", state_);
    return TWRC_FAILURE;
  }
  void Log(const char* pattern, ...);

  TW_UINT16 Identity(TW_IDENTITY* origin, TW_UINT16 msg, TW_IDENTITY* identity);
  TW_UINT16 Capability(TW_UINT16 msg, TW_CAPABILITY* cap);
  TW_UINT16 UserInterface(TW_UINT16 msg, TW_USERINTERFACE* ui);
  TW_UINT16 ProcessEvent(TW_EVENT* event);
  TW_UINT16 PendingTransfers(TW_UINT16 msg, TW_PENDINGXFERS* pending);
  TW_UINT16 ImageInfo(TW_IMAGEINFO* info);
  TW_UINT16 NativeTransfer(TW_HANDLE* handle);

  TW_UINT32 CurrentValue(TW_UINT16 cap) const;
  bool SetValue(TW_UINT16 cap, TW_UINT32 value);
  TW_UINT16 ReturnOneValue(TW_CAPABILITY* cap, TW_UINT16 itemType, TW_UINT32 value);
  TW_UINT16 ReturnSupportedCaps(TW_CAPABILITY* cap);

  void Notify(TW_UINT16 message);
  void StartBatch(int pages);
  void CloseDialog();
  // The progress window of a scan without the dialog, when indicators are on.
  void ShowIndicator();
  void HideIndicator();
  TPageRequest CurrentPage() const;
  bool LoadFolderPage(std::vector<std::uint8_t>& dib);

  int state_ = 3;
  TW_UINT16 condition_ = TWCC_SUCCESS;
  TW_IDENTITY application_{};
  TW_IDENTITY self_{};
  TScanSettings settings_;
  TW_UINT32 values_[kCapabilityCount]{};
  HWND parent_ = nullptr;
  HWND dialog_ = nullptr;
  HWND indicator_ = nullptr;
  HWND indicatorText_ = nullptr;
  bool showUI_ = false;
  UINT notifyMessage_ = 0;
  WPARAM cookie_ = 0;
  int batchPages_ = 0;
  int pagesDone_ = 0;
  int pagesSinceOpen_ = 0;
  bool endTransferFailed_ = false;
  bool closeFailed_ = false;
  std::vector<std::string> folderFiles_;
};

VirtualSource source;

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
      for (std::size_t i = 0; i < kCapabilityCount; ++i) values_[i] = kCapabilities[i].defaultValue;
      folderFiles_.clear();
      if (!settings_.folder.empty()) {
        WIN32_FIND_DATAA found;
        const std::string pattern = settings_.folder + "\\*.bmp";
        const HANDLE find = FindFirstFileA(pattern.c_str(), &found);
        if (find != INVALID_HANDLE_VALUE) {
          do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
              folderFiles_.push_back(settings_.folder + "\\" + found.cFileName);
          } while (FindNextFileA(find, &found));
          FindClose(find);
        }
        std::sort(folderFiles_.begin(), folderFiles_.end());
      }
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

TW_UINT32 VirtualSource::CurrentValue(TW_UINT16 cap) const {
  if (cap == CAP_FEEDERLOADED) return settings_.feederLoaded && folderFiles_.empty() ? 1 : 0;
  const int index = CapabilityIndex(cap);
  return index < 0 ? 0 : values_[index];
}

// Takes a value when the source can honour it.
bool VirtualSource::SetValue(TW_UINT16 cap, TW_UINT32 value) {
  const int index = CapabilityIndex(cap);
  if (index < 0 || !kCapabilities[index].settable) return false;
  switch (cap) {
    case CAP_XFERCOUNT: {
      // Read as the whole signed 32-bit item, as some drivers do: -1 must
      // arrive sign-extended.
      const auto count = static_cast<TW_INT32>(value);
      if (count == 0 || count < -1) return false;
      break;
    }
    case ICAP_COMPRESSION: if (value != TWCP_NONE) return false; break;
    case ICAP_UNITS: if (value != TWUN_INCHES) return false; break;
    case ICAP_XFERMECH: if (value != TWSX_NATIVE) return false; break;
    case CAP_FEEDERENABLED:
    case CAP_INDICATORS: value = (value & 0xffff) ? 1 : 0; break;
    case ICAP_XRESOLUTION:
    case ICAP_YRESOLUTION: {
      const TW_FIX32 fix = Fix32FromItem(value);
      const int dpi = static_cast<int>(FromFix32(fix) + 0.5);
      if (dpi < kMinDpi || dpi > kMaxDpi) return false;
      value = static_cast<TW_UINT32>(dpi);
      break;
    }
    case ICAP_PIXELTYPE:
      value &= 0xffff;
      if (value > TWPT_PALETTE) return false;
      values_[CapabilityIndex(ICAP_BITDEPTH)] = DefaultBitDepth(static_cast<TW_UINT16>(value));
      break;
    case ICAP_BITDEPTH:
      value &= 0xffff;
      if (!BitDepthFits(static_cast<TW_UINT16>(CurrentValue(ICAP_PIXELTYPE)), value)) return false;
      break;
    default: break;
  }
  values_[index] = value;
  return true;
}

TW_UINT16 VirtualSource::ReturnOneValue(TW_CAPABILITY* cap, TW_UINT16 itemType, TW_UINT32 value) {
  const HGLOBAL block = GlobalAlloc(GHND, sizeof(TW_ONEVALUE));
  if (!block) return Fail(TWCC_LOWMEMORY);
  const TW_ONEVALUE one{itemType, value};
  std::memcpy(GlobalLock(block), &one, sizeof one);
  GlobalUnlock(block);
  cap->ConType = TWON_ONEVALUE;
  cap->hContainer = reinterpret_cast<TW_HANDLE>(block);
  return TWRC_SUCCESS;
}

TW_UINT16 VirtualSource::ReturnSupportedCaps(TW_CAPABILITY* cap) {
  const std::size_t size = offsetof(TW_ARRAY, ItemList) + kCapabilityCount * sizeof(TW_UINT16);
  const HGLOBAL block = GlobalAlloc(GHND, size);
  if (!block) return Fail(TWCC_LOWMEMORY);
  auto* p = static_cast<std::uint8_t*>(GlobalLock(block));
  const TW_UINT16 type = TWTY_UINT16;
  const TW_UINT32 count = kCapabilityCount;
  std::memcpy(p, &type, 2);
  std::memcpy(p + 2, &count, 4);
  for (std::size_t i = 0; i < kCapabilityCount; ++i)
    std::memcpy(p + 6 + 2 * i, &kCapabilities[i].cap, 2);
  GlobalUnlock(block);
  cap->ConType = TWON_ARRAY;
  cap->hContainer = reinterpret_cast<TW_HANDLE>(block);
  return TWRC_SUCCESS;
}

TW_UINT16 VirtualSource::Capability(TW_UINT16 msg, TW_CAPABILITY* cap) {
  if (state_ < 4) return Fail(TWCC_SEQERROR);
  if (settings_.refuseCapabilities) {
    Log("REFUSED 0x%04x", cap->Cap);
    return Fail(TWCC_CAPUNSUPPORTED);
  }
  const int index = CapabilityIndex(cap->Cap);
  if (index < 0) {
    Log("UNSUPPORTED 0x%04x", cap->Cap);
    return Fail(TWCC_CAPUNSUPPORTED);
  }
  const CapabilityInfo& info = kCapabilities[index];
  switch (msg) {
    case MSG_GET:
    case MSG_GETCURRENT:
      Log("GET 0x%04x", cap->Cap);
      if (cap->Cap == CAP_SUPPORTEDCAPS) return ReturnSupportedCaps(cap);
      return ReturnOneValue(cap, info.itemType, CurrentValue(cap->Cap));
    case MSG_GETDEFAULT:
      if (cap->Cap == CAP_SUPPORTEDCAPS) return ReturnSupportedCaps(cap);
      return ReturnOneValue(cap, info.itemType,
                            cap->Cap == CAP_FEEDERLOADED ? CurrentValue(cap->Cap) : info.defaultValue);
    case MSG_QUERYSUPPORT: {
      TW_INT32 support = TWQC_GET | TWQC_GETCURRENT | TWQC_GETDEFAULT;
      if (info.settable) support |= TWQC_SET | TWQC_RESET;
      return ReturnOneValue(cap, TWTY_INT32, static_cast<TW_UINT32>(support));
    }
    case MSG_SET: {
      // Values can be negotiated in state 4 only, before the source is
      // enabled.
      if (state_ != 4) return Fail(TWCC_SEQERROR);
      const auto block = reinterpret_cast<HGLOBAL>(cap->hContainer);
      if (cap->ConType != TWON_ONEVALUE || !block || GlobalSize(block) < sizeof(TW_ONEVALUE))
        return Fail(TWCC_BADVALUE);
      TW_ONEVALUE one;
      const void* p = GlobalLock(block);
      if (!p) return Fail(TWCC_BADVALUE);
      std::memcpy(&one, p, sizeof one);
      GlobalUnlock(block);
      const bool typeFits = one.ItemType == info.itemType ||
                            (info.itemType == TWTY_INT16 && one.ItemType == TWTY_UINT16) ||
                            (info.itemType == TWTY_UINT16 && one.ItemType == TWTY_INT16);
      const bool taken = typeFits && SetValue(cap->Cap, one.Item);
      Log("SET 0x%04x %u %s", cap->Cap, static_cast<unsigned>(one.Item), taken ? "ok" : "refused");
      if (!taken) return Fail(info.settable ? TWCC_BADVALUE : TWCC_CAPBADOPERATION);
      if (settings_.checkStatusOnSet) {
        // "Taken, but not quite as asked", with a condition that says so.
        condition_ = TWCC_BADVALUE;
        return TWRC_CHECKSTATUS;
      }
      return TWRC_SUCCESS;
    }
    case MSG_RESET:
      if (state_ != 4) return Fail(TWCC_SEQERROR);
      if (!info.settable) return Fail(TWCC_CAPBADOPERATION);
      values_[index] = info.defaultValue;
      if (cap->Cap == ICAP_PIXELTYPE) values_[CapabilityIndex(ICAP_BITDEPTH)] = 1;
      return ReturnOneValue(cap, info.itemType, values_[index]);
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

bool VirtualSource::LoadFolderPage(std::vector<std::uint8_t>& dib) {
  if (pagesDone_ >= static_cast<int>(folderFiles_.size())) return false;
  if (!ReadBmpAsDib(folderFiles_[pagesDone_], dib)) return false;
  // The page is delivered at the resolution asked for.
  const auto xDpi = static_cast<std::int32_t>(CurrentValue(ICAP_XRESOLUTION) * 39.3700787 + 0.5);
  const auto yDpi = static_cast<std::int32_t>(CurrentValue(ICAP_YRESOLUTION) * 39.3700787 + 0.5);
  std::memcpy(dib.data() + 24, &xDpi, 4);
  std::memcpy(dib.data() + 28, &yDpi, 4);
  return true;
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

}  // namespace
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
