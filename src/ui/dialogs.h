// Message boxes, the input box and the common dialogs (open, save, colour,
// font, printer set-up). Every Execute answers false when the user cancels;
// a cancelled dialog ends the command silently.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/win32/owners.h"
#include "ui/controls.h"

namespace lumetra::ui {

enum TMsgDlgType : std::uint8_t { mtWarning = 0, mtError, mtInformation, mtConfirmation, mtCustom };
using TMsgDlgButtons = std::uint16_t;
enum : TMsgDlgButtons {
  mbYes = 0x01,
  mbNo = 0x02,
  mbOK = 0x04,
  mbCancel = 0x08,
  mbAbort = 0x10,
  mbRetry = 0x20,
  mbIgnore = 0x40,
  mbYesNoCancel = mbYes | mbNo | mbCancel,
  mbOKCancel = mbOK | mbCancel,
};

// A message box with the application's title; answers the mr* value of the
// button pressed. Raises EInvalidOperation for a set of buttons that a
// message box cannot show.
int MessageDlg(const std::string& message, TMsgDlgType type, TMsgDlgButtons buttons);
void ShowMessage(const std::string& message);

// A modal box with a prompt, an edit and OK/Cancel. InputQuery leaves Value
// unchanged and answers false on Cancel; InputBox answers Default then.
bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value);
std::string InputBox(const std::string& caption, const std::string& prompt,
                     const std::string& defaultValue);

class TOpenDialog {
 public:
  virtual ~TOpenDialog() = default;
  // "Description|*.ext;*.ext2|..." as the component model writes it.
  std::string Filter;
  int FilterIndex = 1;
  std::string FileName;
  std::string InitialDir;
  std::string Title;
  std::string DefaultExt;
  bool OverwritePrompt = false;
  bool FileMustExist = true;
  // The file the user has selected in the list, once the selection has
  // rested a moment (browsing with the arrow keys names only where it
  // stops); on the dialog's thread, while it shows.
  std::function<void(const std::string& fileName)> OnSelectionChange;
  virtual bool Execute(HWND owner = nullptr);
};

class TSaveDialog : public TOpenDialog {
 public:
  TSaveDialog() {
    OverwritePrompt = true;
    FileMustExist = false;
  }
  bool Execute(HWND owner = nullptr) override;
};

class TColorDialog {
 public:
  std::uint32_t Color = 0;  // 0x00BBGGRR as GDI keeps it
  bool Execute(HWND owner = nullptr);

 private:
  COLORREF custom_[16]{};
};

class TFontDialog {
 public:
  std::string Name = "Arial";
  int Size = 10;  // points
  bool Bold = false;
  bool Italic = false;
  bool Underline = false;
  bool StrikeOut = false;
  std::uint32_t Color = 0;
  bool Execute(HWND owner = nullptr);
};

// The printer set-up dialog; the chosen printer becomes the default one for
// this process.
class TPrinterSetupDialog {
 public:
  TPrinterSetupDialog() = default;
  bool Execute(HWND owner = nullptr);
  std::string PrinterName() const;
  // The chosen settings as a DEVMODE block; set before Execute, the dialog
  // starts from them (and from the printer they name).
  std::vector<std::uint8_t> DevMode() const;
  void SetDevMode(const std::vector<std::uint8_t>& devMode);

 private:
  win32::unique_hglobal devMode_;
  win32::unique_hglobal devNames_;
};

}  // namespace lumetra::ui
