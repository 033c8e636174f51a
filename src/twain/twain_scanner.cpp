#include "twain/twain_scanner.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>

#include "base/format.h"
#include "imaging/dib_graphic.h"

namespace quorvex::twain {

namespace {

// One TScanner per process: the source manager keeps one connection per
// application identity.
std::atomic<bool> scannerExists{false};

TW_HANDLE ToTwHandle(HANDLE handle) { return reinterpret_cast<TW_HANDLE>(handle); }
HGLOBAL FromTwHandle(TW_HANDLE handle) { return reinterpret_cast<HGLOBAL>(handle); }

std::string IdentityName(const TW_STR32& name) {
  return std::string(name, strnlen(name, sizeof(TW_STR32)));
}

// The memory functions for blocks that pass between application and source:
// a TWAIN 2.x manager's own once it has handed them over (its blocks are
// global memory on Windows, so their size is still GlobalSize's), else the
// global-memory functions of TWAIN 1.x.
HGLOBAL MemAllocate(const TW_ENTRYPOINT& memory, TW_UINT32 size) {
  if (memory.DSM_MemAllocate) return FromTwHandle(memory.DSM_MemAllocate(size));
  return GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
}
void* MemLock(const TW_ENTRYPOINT& memory, HGLOBAL block) {
  return memory.DSM_MemLock ? memory.DSM_MemLock(ToTwHandle(block)) : GlobalLock(block);
}
void MemUnlock(const TW_ENTRYPOINT& memory, HGLOBAL block) {
  if (memory.DSM_MemUnlock)
    memory.DSM_MemUnlock(ToTwHandle(block));
  else
    GlobalUnlock(block);
}

// Frees a block when it goes out of scope, whatever the callback did.
class GlobalBlock {
 public:
  GlobalBlock(const TW_ENTRYPOINT& memory, HGLOBAL handle) : memory_(memory), handle_(handle) {}
  ~GlobalBlock() {
    if (!handle_ || GlobalSize(handle_) == 0) return;
    if (memory_.DSM_MemFree)
      memory_.DSM_MemFree(ToTwHandle(handle_));
    else
      GlobalFree(handle_);
  }
  GlobalBlock(const GlobalBlock&) = delete;
  GlobalBlock& operator=(const GlobalBlock&) = delete;

 private:
  const TW_ENTRYPOINT& memory_;
  HGLOBAL handle_;
};

// Reads the one-value container a source returned, or fails when the
// container is something else or too small to be one.
bool ReadOneValue(const TW_ENTRYPOINT& memory, HGLOBAL container, TW_UINT16 conType,
                  TW_ONEVALUE& value) {
  if (!container || conType != TWON_ONEVALUE || GlobalSize(container) < sizeof(TW_ONEVALUE))
    return false;
  const void* p = MemLock(memory, container);
  if (!p) return false;
  std::memcpy(&value, p, sizeof value);
  MemUnlock(memory, container);
  return true;
}

// Whether a transferred block holds the whole packed DIB its header
// describes: a source may hand over less than it promised.
bool IsCompleteDib(const TW_ENTRYPOINT& memory, HGLOBAL block) {
  const SIZE_T size = GlobalSize(block);
  const void* p = size ? MemLock(memory, block) : nullptr;
  if (!p) return false;
  bool complete = true;
  try {
    lumetra::DIBBlockBytes(p, size);
  } catch (const lumetra::Exception&) {
    complete = false;
  }
  MemUnlock(memory, block);
  return complete;
}

}  // namespace

TScanner::TScanner() {
  bool expected = false;
  if (!scannerExists.compare_exchange_strong(expected, true))
    throw EScannerError("Only one scanner object is permitted");
  application_.Id = 0;
  application_.Version.MajorNum = 1;
  application_.Version.MinorNum = 0;
  application_.Version.Language = TWLG_ENGLISH;
  application_.Version.Country = TWCY_USA;
  application_.ProtocolMajor = 1;
  application_.ProtocolMinor = 5;
  application_.SupportedGroups = DG_CONTROL | DG_IMAGE;
#ifdef _WIN64
  // The 64-bit manager is TWAIN 2.x: it hands its memory functions to an
  // application that says it knows them.
  application_.SupportedGroups |= DF_APP2;
#endif
  ownsGuard_ = true;
}

TScanner::~TScanner() {
  CloseSourceManager();
  if (ownsGuard_) scannerExists = false;
}

void TScanner::SetProductName(const std::string& name) {
  std::memset(application_.ProductName, 0, sizeof application_.ProductName);
  std::memcpy(application_.ProductName, name.data(), std::min<std::size_t>(name.size(), 32));
}

bool TScanner::ManagerDirectory(std::string& directory) const {
  char buffer[255];
#ifdef _WIN64
  const UINT length = GetSystemDirectoryA(buffer, sizeof buffer);
#else
  const UINT length = GetWindowsDirectoryA(buffer, sizeof buffer);
#endif
  if (length == 0 || length >= sizeof buffer) return false;
  directory.assign(buffer, length);
  return true;
}

bool TScanner::Call(TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data,
                    TW_UINT16* returnCode) {
  const TW_UINT16 rc = entry_(&application_, dest, dg, dat, msg, data);
  if (returnCode) *returnCode = rc;
  if (rc == TWRC_SUCCESS) return true;
  TW_STATUS status{};
  entry_(&application_, dest, DG_CONTROL, DAT_STATUS, MSG_GET, &status);
  return rc == TWRC_CHECKSTATUS && status.ConditionCode == TWCC_SUCCESS;
}

bool TScanner::IsAvailable() {
  if (library_) return true;
  try {
    OpenSourceManager();
    return true;
  } catch (...) {
    return false;
  }
}

void TScanner::OpenSourceManager() {
  if (library_) return;
  try {
    OpenManagerSteps();
  } catch (...) {
    // A half-open manager would make IsAvailable answer true from then on
    // and let Acquire fail later for an unrelated reason: undo it all.
    CloseSourceManager();
    throw;
  }
}

void TScanner::OpenManagerSteps() {
  std::string path;
  if (!ManagerDirectory(path)) throw EScannerError("GetWindowsDirectory failed");
  if (path.empty() || (path.back() != '\\' && path.back() != ':')) path += '\\';
  HMODULE library = nullptr;
#ifdef _WIN64
  // Windows has no 64-bit TWAIN_32.DLL: 64-bit programs scan through the
  // TWAIN 2.x manager. Wine has only its own TWAIN_32.DLL, in both bitnesses.
  library = LoadLibraryA((path + "TWAINDSM.DLL").c_str());
#endif
  if (!library) {
    path += "TWAIN_32.DLL";
    library = LoadLibraryA(path.c_str());
    if (reinterpret_cast<std::uintptr_t>(library) <= 32)
      throw EScannerError("LoadLibrary(" + path + ") failed");
  }
  library_.reset(library);

  entry_ = reinterpret_cast<DSMENTRYPROC>(
      reinterpret_cast<void*>(GetProcAddress(library_.get(), "DSM_Entry")));
  if (!entry_) throw EScannerError(std::string("GetProcAddress failed: ") + "DSM_Entry");

  window_.reset(CreateWindowA("STATIC", "Twain Window", WS_POPUPWINDOW, CW_USEDEFAULT,
                              CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                              GetModuleHandleA(nullptr), nullptr));
  if (!window_) throw EScannerError("CreateWindow failed");

  HWND parent = window_.get();
  if (!Call(nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &parent))
    throw EScannerError("Unable to open TWAIN source manager");
  managerOpen_ = true;

  // A TWAIN 2.x manager says so in the identity it filled in; blocks a 2.x
  // source hands over then belong to the manager's memory functions.
  if (application_.SupportedGroups & DF_DSM2) {
    TW_ENTRYPOINT entry{};
    entry.Size = sizeof entry;
    if (Call(nullptr, DG_CONTROL, DAT_ENTRYPOINT, MSG_GET, &entry) && entry.DSM_MemAllocate &&
        entry.DSM_MemFree && entry.DSM_MemLock && entry.DSM_MemUnlock)
      memory_ = entry;
  }

  sources_.clear();
  selected_ = -1;
  TW_IDENTITY identity{};
  bool more = Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &identity);
  while (more) {
    sources_.push_back(SourceEntry{IdentityName(identity.ProductName), identity});
    identity = TW_IDENTITY{};
    more = Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &identity);
  }

  GetDefaultSource();
}

void TScanner::CloseSourceManager() {
  if (entry_) CloseLeftOpenSource();
  if (window_) {
    HWND parent = window_.get();
    if (managerOpen_ && entry_) Call(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &parent);
    managerOpen_ = false;
    window_.reset();
  }
  memory_ = TW_ENTRYPOINT{};
  library_.reset();
  entry_ = nullptr;
  sources_.clear();
  selected_ = -1;
}

bool TScanner::SelectSource() {
  OpenSourceManager();
  source_ = TW_IDENTITY{};
  const bool selected = Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_USERSELECT, &source_);
  GetDefaultSource();
  // The source the person chose is the one to scan with, whether or not the
  // manager makes it its default too (Wine's keeps its first source).
  if (selected) SelectByName(IdentityName(source_.ProductName));
  return selected;
}

void TScanner::GetDefaultSource() {
  TW_IDENTITY identity{};
  if (!entry_ || !Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT, &identity))
    throw EScannerError("Unable to get TWAIN default source");
  SelectByName(IdentityName(identity.ProductName));
}

void TScanner::SelectByName(const std::string& name) {
  for (std::size_t i = 0; i < sources_.size(); ++i) {
    if (lstrcmpiA(sources_[i].name.c_str(), name.c_str()) == 0) {
      selected_ = static_cast<int>(i);
      return;
    }
  }
}

void TScanner::SetCapability(TW_UINT16 capability, TW_UINT16 itemType, TW_UINT32 value) {
  const HGLOBAL block = MemAllocate(memory_, sizeof(TW_ONEVALUE));
  if (!block) throw lumetra::EOutOfResources("Out of resources");
  GlobalBlock owner(memory_, block);
  void* p = MemLock(memory_, block);
  if (!p) throw lumetra::EOutOfResources("Out of resources");
  const TW_ONEVALUE one{itemType, value};
  std::memcpy(p, &one, sizeof one);
  MemUnlock(memory_, block);
  TW_CAPABILITY cap{capability, TWON_ONEVALUE, ToTwHandle(block)};
  // A source that refuses a value keeps its own; the scan goes on with it.
  Call(&source_, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap);
}

void TScanner::Negotiate() {
  SetCapability(ICAP_XRESOLUTION, TWTY_FIX32, Fix32Item(TW_FIX32{static_cast<TW_INT16>(xDpi_), 0}));
  SetCapability(ICAP_YRESOLUTION, TWTY_FIX32, Fix32Item(TW_FIX32{static_cast<TW_INT16>(yDpi_), 0}));

  struct PixelSetting {
    TW_UINT16 pixelType;
    TW_UINT16 bitDepth;
  };
  static constexpr PixelSetting kPixelSettings[] = {
      {TWPT_BW, 1},      {TWPT_GRAY, 4},    {TWPT_GRAY, 8},
      {TWPT_PALETTE, 4}, {TWPT_PALETTE, 8}, {TWPT_RGB, 24},
  };
  const auto format = static_cast<unsigned>(imageFormat_);
  if (format >= std::size(kPixelSettings)) throw ETwainError("Invalid image type");
  SetCapability(ICAP_PIXELTYPE, TWTY_UINT16, kPixelSettings[format].pixelType);
  SetCapability(ICAP_BITDEPTH, TWTY_UINT16, kPixelSettings[format].bitDepth);

  SetCapability(CAP_INDICATORS, TWTY_BOOL, indicators_ ? 1 : 0);

  // With paper in the feeder and no dialog the program scans from the
  // flatbed.
  if (FeederLoaded()) DisableFeeder();
}

bool TScanner::FeederLoaded() {
  TW_CAPABILITY cap{CAP_FEEDERLOADED, TWON_DONTCARE16, 0};
  if (!Call(&source_, DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap)) return false;
  const HGLOBAL container = FromTwHandle(cap.hContainer);
  GlobalBlock owner(memory_, container);
  TW_ONEVALUE value{};
  return ReadOneValue(memory_, container, cap.ConType, value) && (value.Item & 0xff) == 1;
}

void TScanner::DisableFeeder() {
  TW_CAPABILITY cap{CAP_FEEDERENABLED, TWON_ONEVALUE, 0};
  if (!Call(&source_, DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap)) return;
  {
    const HGLOBAL container = FromTwHandle(cap.hContainer);
    GlobalBlock owner(memory_, container);
    TW_ONEVALUE value{};
    if (ReadOneValue(memory_, container, cap.ConType, value) && (value.Item & 0xff) == 1) {
      const TW_ONEVALUE off{TWTY_BOOL, 0};
      if (void* p = MemLock(memory_, container)) {
        std::memcpy(p, &off, sizeof off);
        MemUnlock(memory_, container);
        cap.ConType = TWON_ONEVALUE;
        Call(&source_, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap);
      }
    }
  }
  TW_CAPABILITY check{CAP_FEEDERENABLED, TWON_ONEVALUE, 0};
  if (Call(&source_, DG_CONTROL, DAT_CAPABILITY, MSG_GET, &check)) {
    GlobalBlock owner(memory_, FromTwHandle(check.hContainer));
  }
}

void TScanner::Stop() {
  stopRequested_ = true;
  // Wakes the event loop, which may be waiting for a message.
  if (HWND window = window_.get()) PostMessageA(window, WM_NULL, 0, 0);
}

void TScanner::CloseLeftOpenSource() {
  if (!sourceLeftOpen_) return;
  if (Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &leftOpen_)) {
    sourceLeftOpen_ = false;
    leftOpen_ = TW_IDENTITY{};
  }
}

void TScanner::Acquire(void* context, TTwainPageEvent callback, HWND window) {
  OpenSourceManager();
  stopRequested_ = false;
  CloseLeftOpenSource();
  // Without any source there is nothing to open; the manager is not asked
  // with a stale or empty identity.
  if (selected_ < 0 || selected_ >= static_cast<int>(sources_.size()))
    throw ETwainError("Unable to open TWAIN source");
  // Only the name chooses the source: whatever a previous session left in
  // the identity is not sent again.
  source_ = TW_IDENTITY{};
  std::memcpy(source_.ProductName, sources_[selected_].identity.ProductName,
              sizeof source_.ProductName);
  if (!Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source_)) {
    source_ = TW_IDENTITY{};
    throw ETwainError("Unable to open TWAIN source");
  }
  sourceOpen_ = true;

  std::exception_ptr failure;
  try {
    AcquireFromOpenSource(context, callback, window);
  } catch (...) {
    failure = std::current_exception();
  }

  const bool closed = Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source_);
  if (!closed) {
    leftOpen_ = source_;
    sourceLeftOpen_ = true;
  }
  sourceOpen_ = false;
  source_ = TW_IDENTITY{};
  if (failure) std::rethrow_exception(failure);
  if (!closed) throw ETwainError("Unable to close TWAIN data source");
}

void TScanner::AcquireFromOpenSource(void* context, TTwainPageEvent callback, HWND window) {
  struct WindowEnabler {
    HWND window;
    bool wasEnabled;
    ~WindowEnabler() { EnableWindow(window, wasEnabled); }
  };
  // EnableWindow answers whether the window was disabled before.
  const bool wasEnabled = !EnableWindow(window_.get(), FALSE);
  WindowEnabler enabler{window_.get(), wasEnabled};

  SetCapability(ICAP_XFERMECH, TWTY_UINT16, TWSX_NATIVE);
  // -1 (any number) fills the whole 32-bit item: a source may read it all.
  SetCapability(CAP_XFERCOUNT, TWTY_INT16, static_cast<TW_UINT32>(TW_INT32{-1}));
  SetCapability(ICAP_UNITS, TWTY_UINT16, TWUN_INCHES);
  if (!showUI_) Negotiate();

  TW_USERINTERFACE ui{};
  ui.ShowUI = showUI_ ? 0xFFFF : 0;
  ui.ModalUI = 0;
  ui.hParent = ToTwHandle(window_.get());
  TW_UINT16 rc = TWRC_FAILURE;
  Call(&source_, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui, &rc);
  // TWRC_CHECKSTATUS: enabled, though not quite as asked (a source that
  // cannot hide its dialog shows it), whatever condition it reports.
  if (rc != TWRC_SUCCESS && rc != TWRC_CHECKSTATUS)
    throw ETwainError("Unable to enable twain source.");

  struct SourceDisabler {
    TScanner* self;
    TW_USERINTERFACE* ui;
    ~SourceDisabler() {
      if (self->Call(&self->source_, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, ui)) return;
      // Stopped while a batch was announced but not yet begun: the source
      // is in state 6 and lets go only after its transfers are reset.
      if (self->stopRequested_) {
        self->ResetTransfers();
        self->Call(&self->source_, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, ui);
      }
    }
  };
  SourceDisabler disabler{this, &ui};
  EventLoop(context, callback, window);
}

void TScanner::EventLoop(void* context, TTwainPageEvent callback, HWND window) {
  bool done = false;
  MSG msg;
  while (!done) {
    const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got == 0) {
      // The quit message belongs to the loop around this one.
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    if (got == -1) return;

    TW_EVENT event{};
    event.pEvent = reinterpret_cast<TW_HANDLE>(&msg);
    event.TWMessage = MSG_NULL;
    TW_UINT16 rc = TWRC_NOTDSEVENT;
    Call(&source_, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event, &rc);
    const bool sourceEvent = rc == TWRC_DSEVENT;

    switch (event.TWMessage) {
      case MSG_XFERREADY:
        TransferLoop(context, callback, window);
        done = true;
        break;
      case MSG_CLOSEDSREQ:
      case MSG_CLOSEDSOK:
        done = true;
        break;
      default:
        break;
    }
    if (!sourceEvent) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    if (stopRequested_) done = true;
  }
}

void TScanner::TransferLoop(void* context, TTwainPageEvent callback, HWND window) {
  TW_UINT16 pending = 0xFFFF;  // unknown until the first MSG_ENDXFER
  int refusals = 0;
  int delivered = 0;
  while (pending != 0) {
    if (stopRequested_) {
      ResetTransfers();
      return;
    }
    TW_IMAGEINFO info{};
    TW_UINT16 rc = TWRC_FAILURE;
    Call(&source_, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info, &rc);
    if (rc != TWRC_SUCCESS) {
      // A source that never describes its image would keep this loop going
      // for ever: after a few refusals the transfer counts as failed.
      if (++refusals <= kImageInfoRetries) continue;
      FailTransfer(delivered + 1);
    }
    refusals = 0;

    // The source writes a whole handle: 8 bytes in a 64-bit process.
    TW_HANDLE handle = 0;
    Call(&source_, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle, &rc);
    GlobalBlock owner(memory_, FromTwHandle(handle));
    // A source that reports a transfer without a usable block has failed
    // it: the callback is never handed a dead handle, nor a block shorter
    // than its header says.
    if (rc == TWRC_XFERDONE && !IsCompleteDib(memory_, FromTwHandle(handle))) rc = TWRC_FAILURE;
    if (rc == TWRC_XFERDONE) {
      try {
        if (callback)
          callback(window, FromTwHandle(handle), static_cast<std::uint16_t>(info.XResolution.Whole),
                   context, static_cast<std::uint16_t>(info.YResolution.Whole));
      } catch (...) {
        // Leave the source in a state from which it can be disabled and
        // closed: a source stuck mid-transfer would refuse both and stay
        // open in the manager.
        if (EndTransfer() != 0) ResetTransfers();
        throw;
      }
      ++delivered;
      pending = EndTransfer();
      if (pending != 0 && stopRequested_) {
        ResetTransfers();
        return;
      }
    } else if (rc == TWRC_CANCEL) {
      // A cancelled page ends the batch: the rest is not wanted either.
      if (EndTransfer() != 0) ResetTransfers();
      return;
    } else {
      FailTransfer(delivered + 1);
    }
  }
}

void TScanner::FailTransfer(int page) {
  // With nothing pending the source is back in state 5, where a reset
  // would be out of sequence.
  if (EndTransfer() != 0) ResetTransfers();
  throw ETwainError(lumetra::Format("The scanner failed to transfer page %d", page));
}

TW_UINT16 TScanner::EndTransfer() {
  for (int attempt = 0; attempt < kEndTransferAttempts; ++attempt) {
    TW_PENDINGXFERS transfers{};
    TW_UINT16 rc = TWRC_FAILURE;
    Call(&source_, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &transfers, &rc);
    if (rc == TWRC_SUCCESS) return transfers.Count;
  }
  // Where the source stands is unknown now; a reset brings one that is in
  // state 6 back to 5, and the batch ends.
  ResetTransfers();
  return 0;
}

void TScanner::ResetTransfers() {
  TW_PENDINGXFERS transfers{};
  Call(&source_, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &transfers);
}

}  // namespace quorvex::twain
