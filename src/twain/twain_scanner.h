// TScanner drives a scanner through the TWAIN source manager: it loads the
// manager from the Windows directory, lists the sources, negotiates the scan
// settings, runs the source and hands every native transfer to a callback as
// a packed DIB. One instance may exist per process.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "base/exception.h"
#include "imaging/palettes.h"
#include "platform/win32/owners.h"
#include "twain/twain_defs.h"

namespace quorvex::twain {

// Errors of the source manager (EScannerError) and of a source (ETwainError).
class EScannerError : public lumetra::Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "EScannerError"; }
};
class ETwainError : public lumetra::Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "ETwainError"; }
};

// Called once per transferred image with a packed DIB (header, colour table,
// pixels) in a global memory block and the whole parts of the image's
// resolution. The handle is freed when the callback returns.
using TTwainPageEvent = void (*)(HWND window, HGLOBAL dib, std::uint16_t xResolution,
                                 void* context, std::uint16_t yResolution);

class TScanner {
 public:
  // A refused DAT_IMAGEINFO is asked again this many times before the
  // transfer is given up as failed.
  static constexpr int kImageInfoRetries = 16;
  // A refused MSG_ENDXFER leaves the source in state 7, from which nothing
  // but MSG_ENDXFER leads out: it is asked this often in all.
  static constexpr int kEndTransferAttempts = 3;

  // Raises EScannerError "Only one scanner object is permitted" while
  // another instance exists.
  TScanner();
  virtual ~TScanner();
  TScanner(const TScanner&) = delete;
  TScanner& operator=(const TScanner&) = delete;

  void SetProductName(const std::string& name);
  bool ShowUI() const { return showUI_; }
  void SetShowUI(bool value) { showUI_ = value; }
  std::uint16_t XDpi() const { return xDpi_; }
  void SetXDpi(std::uint16_t value) { xDpi_ = value; }
  std::uint16_t YDpi() const { return yDpi_; }
  void SetYDpi(std::uint16_t value) { yDpi_ = value; }
  lumetra::TImageFormat ImageFormat() const { return imageFormat_; }
  void SetImageFormat(lumetra::TImageFormat value) { imageFormat_ = value; }
  bool Indicators() const { return indicators_; }
  void SetIndicators(bool value) { indicators_ = value; }

  // The installed sources by product name, and the index of the one that
  // Acquire opens (-1: none).
  int SourceCount() const { return static_cast<int>(sources_.size()); }
  const std::string& SourceName(int index) const { return sources_.at(index).name; }
  int SelectedSource() const { return selected_; }
  const TW_IDENTITY& ApplicationIdentity() const { return application_; }

  // Whether a source manager can be used: loads and opens it when needed and
  // swallows any error.
  bool IsAvailable();
  void OpenSourceManager();
  void CloseSourceManager();
  // Shows the manager's selection dialog; answers whether the selection call
  // succeeded.
  bool SelectSource();
  void GetDefaultSource();
  // Opens the selected source, negotiates, runs it until it has no more
  // images or asks to be closed, and closes it again.
  // A failed transfer ends the batch with ETwainError naming its page, once
  // the source is closed; the pages before it stay delivered.
  void Acquire(void* context, TTwainPageEvent callback, HWND window);
  // Ends the running acquisition as soon as the source lets go of the
  // thread: the pending pages are reset, the source disabled and closed, and
  // Acquire returns normally. For a source that never asks to be closed;
  // nothing else ends an acquisition without the source's consent, however
  // long it takes. May be called from any thread.
  void Stop();

 protected:
  // The directory that holds the source manager, false when it cannot be
  // had: the Windows directory (TWAIN_32.DLL) for a 32-bit program, the
  // system directory (TWAINDSM.DLL, else the platform's TWAIN_32.DLL) for a
  // 64-bit one.
  virtual bool ManagerDirectory(std::string& directory) const;

 private:
  struct SourceEntry {
    std::string name;
    TW_IDENTITY identity;
  };

  bool Call(TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data,
            TW_UINT16* returnCode = nullptr);
  void OpenManagerSteps();
  // Makes the listed source of that product name the selected one, if any.
  void SelectByName(const std::string& name);
  void AcquireFromOpenSource(void* context, TTwainPageEvent callback, HWND window);
  void SetCapability(TW_UINT16 capability, TW_UINT16 itemType, TW_UINT32 value);
  void Negotiate();
  bool FeederLoaded();
  void DisableFeeder();
  void EventLoop(void* context, TTwainPageEvent callback, HWND window);
  // Transfers every pending image; the acquisition is done afterwards.
  void TransferLoop(void* context, TTwainPageEvent callback, HWND window);
  TW_UINT16 EndTransfer();
  void ResetTransfers();
  // Ends the current transfer and the batch after a failed page.
  [[noreturn]] void FailTransfer(int page);
  // Closes a source whose MSG_CLOSEDS failed in an earlier Acquire.
  void CloseLeftOpenSource();

  lumetra::win32::unique_module library_;
  DSMENTRYPROC entry_ = nullptr;
  // A TWAIN 2.x manager's entry points; empty for a 1.x manager.
  TW_ENTRYPOINT memory_{};
  lumetra::win32::unique_window window_;
  bool managerOpen_ = false;
  TW_IDENTITY application_{};
  TW_IDENTITY source_{};
  // The manager may give a source the Id 0, so whether one is open is kept
  // apart from its identity.
  bool sourceOpen_ = false;
  // A source that refused to be closed keeps its identity here, apart from
  // the one the next MSG_OPENDS sends, and is asked again later.
  TW_IDENTITY leftOpen_{};
  bool sourceLeftOpen_ = false;
  std::atomic<bool> stopRequested_{false};
  bool showUI_ = true;
  std::uint16_t xDpi_ = 200;
  std::uint16_t yDpi_ = 200;
  lumetra::TImageFormat imageFormat_ = lumetra::ifBlackWhite;
  bool ownsGuard_ = false;
  std::vector<SourceEntry> sources_;
  int selected_ = -1;
  bool indicators_ = true;
};

}  // namespace quorvex::twain
