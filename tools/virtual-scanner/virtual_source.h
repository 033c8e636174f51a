// The virtual scanner's data source: one object holding its TWAIN state
// (3 to 7), its capability values, its dialog and progress indicator, and the
// folder of pages it may deliver instead of painted ones. The state machine
// is data_source.cpp; the capability table, the dialog with the indicator,
// and the folder source each have a file of their own.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "page_painter.h"
#include "settings.h"
#include "twain/twain_defs.h"

namespace quorvex::vscan {

using namespace quorvex::twain;

extern HINSTANCE moduleInstance;

constexpr int kMinDpi = 50;
constexpr int kMaxDpi = 1200;

// The capabilities the source answers (source_capabilities.cpp).
constexpr std::size_t kCapabilityCount = 15;
// The index of Cap in the table, or -1.
int CapabilityIndex(TW_UINT16 cap);

// The source's name: the settings' or the default (data_source.cpp).
std::string ProductName(const TScanSettings& settings);

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM);

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
  // The capabilities' defaults, as a session starts.
  void ResetValues();
  // The folder source: the settings' folder's BMP files, in name order,
  // delivered as the pages instead of painted ones.
  void ListFolder();
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

}  // namespace quorvex::vscan
