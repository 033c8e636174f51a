#include "ui/dialogs.h"

#include <commdlg.h>

#include <algorithm>
#include <vector>

#include "ui/form.h"

namespace lumetra::ui {

namespace {

struct ButtonSet {
  TMsgDlgButtons buttons;
  UINT style;
};
constexpr ButtonSet kButtonSets[] = {
    {mbOK, MB_OK},
    {mbOKCancel, MB_OKCANCEL},
    {mbYes | mbNo, MB_YESNO},
    {mbYesNoCancel, MB_YESNOCANCEL},
    {mbRetry | mbCancel, MB_RETRYCANCEL},
    {mbAbort | mbRetry | mbIgnore, MB_ABORTRETRYIGNORE},
};

constexpr UINT kIcons[] = {MB_ICONWARNING, MB_ICONERROR, MB_ICONINFORMATION, MB_ICONQUESTION,
                           0};

}  // namespace

int MessageDlg(const std::string& message, TMsgDlgType type, TMsgDlgButtons buttons) {
  const ButtonSet* set = nullptr;
  for (const ButtonSet& s : kButtonSets) {
    if (s.buttons == buttons) set = &s;
  }
  if (!set) throw EInvalidOperation("Unsupported set of message box buttons");
  const UINT icon = type <= mtCustom ? kIcons[type] : 0;
  return ::MessageBoxA(::GetActiveWindow(), message.c_str(), Application().Title().c_str(),
                       set->style | icon | MB_TASKMODAL);
}

void ShowMessage(const std::string& message) { MessageDlg(message, mtCustom, mbOK); }

// --- input box ------------------------------------------------------------------

namespace {

class TInputForm : public TForm {
 public:
  TInputForm(const std::string& caption, const std::string& prompt, const std::string& value)
      : TForm(caption, 300, 104, bsDialog) {
    Prompt.SetBounds(8, 8, 284, 16);
    Prompt.SetCaption(prompt);
    Edit.SetBounds(8, 28, 284, 22);
    Edit.SetText(value);
    Edit.SelectAll();
    OKButton.SetBounds(136, 66, 75, 25);
    OKButton.SetDefault(true);
    OKButton.SetModalResult(mrOk);
    CancelButton.SetBounds(217, 66, 75, 25);
    CancelButton.SetCancel(true);
    CancelButton.SetModalResult(mrCancel);
    OnShow = [this](TObject*) { Edit.SetFocus(); };
  }
  TLabel Prompt{*this};
  TEdit Edit{*this};
  TButton OKButton{*this, "OK"};
  TButton CancelButton{*this, "Cancel"};
};

}  // namespace

bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value) {
  TInputForm form(caption, prompt, value);
  form.SetOwnerWindow(::GetActiveWindow());
  if (form.ShowModal() != mrOk) return false;
  value = form.Edit.Text();
  return true;
}

std::string InputBox(const std::string& caption, const std::string& prompt,
                     const std::string& defaultValue) {
  std::string value = defaultValue;
  InputQuery(caption, prompt, value);
  return value;
}

// --- file dialogs -------------------------------------------------------------------

namespace {

// How long a selection rests before the dialog names it.
constexpr UINT kSelectionRestMs = 300;
constexpr UINT_PTR kSelectionTimer = 1;

// The explorer dialog's hook: the dialog is the hook window's parent.
UINT_PTR CALLBACK FileDialogHook(HWND hook, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_INITDIALOG: {
      const auto* ofn = reinterpret_cast<const OPENFILENAMEA*>(lParam);
      ::SetWindowLongPtrA(hook, GWLP_USERDATA, static_cast<LONG_PTR>(ofn->lCustData));
      return 0;
    }
    case WM_NOTIFY:
      if (reinterpret_cast<const NMHDR*>(lParam)->code == CDN_SELCHANGE)
        ::SetTimer(hook, kSelectionTimer, kSelectionRestMs, nullptr);
      return 0;
    case WM_TIMER: {
      if (wParam != kSelectionTimer) return 0;
      ::KillTimer(hook, kSelectionTimer);
      auto* dialog = reinterpret_cast<TOpenDialog*>(::GetWindowLongPtrA(hook, GWLP_USERDATA));
      std::vector<char> path(32768, '\0');
      const LRESULT length =
          ::SendMessageA(::GetParent(hook), CDM_GETFILEPATH, static_cast<WPARAM>(path.size()),
                         reinterpret_cast<LPARAM>(path.data()));
      if (!dialog || !dialog->OnSelectionChange || length <= 1) return 0;
      // A failure here must not end the dialog: the selection is a hint.
      try {
        dialog->OnSelectionChange(std::string(path.data()));
      } catch (...) {
      }
      return 0;
    }
    default:
      return 0;
  }
}

bool RunFileDialog(TOpenDialog& dialog, HWND owner, bool save) {
  // The filter's "|" become the NULs the API wants, with two at the end.
  std::string filter = dialog.Filter;
  std::replace(filter.begin(), filter.end(), '|', '\0');
  filter.append(2, '\0');
  std::vector<char> name(32768, '\0');
  dialog.FileName.copy(name.data(), std::min(dialog.FileName.size(), name.size() - 1));
  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner ? owner : ::GetActiveWindow();
  ofn.lpstrFilter = dialog.Filter.empty() ? nullptr : filter.c_str();
  ofn.nFilterIndex = static_cast<DWORD>(dialog.FilterIndex);
  ofn.lpstrFile = name.data();
  ofn.nMaxFile = static_cast<DWORD>(name.size());
  ofn.lpstrInitialDir = dialog.InitialDir.empty() ? nullptr : dialog.InitialDir.c_str();
  ofn.lpstrTitle = dialog.Title.empty() ? nullptr : dialog.Title.c_str();
  ofn.lpstrDefExt = dialog.DefaultExt.empty() ? nullptr : dialog.DefaultExt.c_str();
  ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING |
              (dialog.OverwritePrompt ? OFN_OVERWRITEPROMPT : 0) |
              (dialog.FileMustExist ? OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST : 0);
  if (dialog.OnSelectionChange) {
    ofn.Flags |= OFN_ENABLEHOOK;
    ofn.lpfnHook = FileDialogHook;
    ofn.lCustData = reinterpret_cast<LPARAM>(&dialog);
  }
  const BOOL ok = save ? ::GetSaveFileNameA(&ofn) : ::GetOpenFileNameA(&ofn);
  if (!ok) return false;
  dialog.FileName = name.data();
  dialog.FilterIndex = static_cast<int>(ofn.nFilterIndex);
  return true;
}

}  // namespace

bool TOpenDialog::Execute(HWND owner) { return RunFileDialog(*this, owner, false); }
bool TSaveDialog::Execute(HWND owner) { return RunFileDialog(*this, owner, true); }

bool TColorDialog::Execute(HWND owner) {
  CHOOSECOLORA cc{};
  cc.lStructSize = sizeof cc;
  cc.hwndOwner = owner ? owner : ::GetActiveWindow();
  cc.rgbResult = Color;
  cc.lpCustColors = custom_;
  cc.Flags = CC_RGBINIT | CC_FULLOPEN;
  if (!::ChooseColorA(&cc)) return false;
  Color = cc.rgbResult;
  return true;
}

bool TFontDialog::Execute(HWND owner) {
  const int dpi = ::GetDeviceCaps(win32::window_dc(nullptr).get(), LOGPIXELSY);
  LOGFONTA lf{};
  lf.lfHeight = -::MulDiv(Size, dpi, 72);
  lf.lfWeight = Bold ? FW_BOLD : FW_NORMAL;
  lf.lfItalic = Italic;
  lf.lfUnderline = Underline;
  lf.lfStrikeOut = StrikeOut;
  lf.lfCharSet = DEFAULT_CHARSET;
  Name.copy(lf.lfFaceName, std::min<std::size_t>(Name.size(), LF_FACESIZE - 1));
  CHOOSEFONTA cf{};
  cf.lStructSize = sizeof cf;
  cf.hwndOwner = owner ? owner : ::GetActiveWindow();
  cf.lpLogFont = &lf;
  cf.rgbColors = Color;
  cf.Flags = CF_SCREENFONTS | CF_EFFECTS | CF_INITTOLOGFONTSTRUCT;
  if (!::ChooseFontA(&cf)) return false;
  Name = lf.lfFaceName;
  Size = cf.iPointSize / 10;
  Bold = lf.lfWeight >= FW_BOLD;
  Italic = lf.lfItalic != 0;
  Underline = lf.lfUnderline != 0;
  StrikeOut = lf.lfStrikeOut != 0;
  Color = cf.rgbColors;
  return true;
}

bool TPrinterSetupDialog::Execute(HWND owner) {
  PRINTDLGA pd{};
  pd.lStructSize = sizeof pd;
  pd.hwndOwner = owner ? owner : ::GetActiveWindow();
  pd.hDevMode = devMode_.release();
  pd.hDevNames = devNames_.release();
  pd.Flags = PD_PRINTSETUP;
  const BOOL ok = ::PrintDlgA(&pd);
  // The dialog may hand back new blocks even when it reallocated the old.
  devMode_.reset(pd.hDevMode);
  devNames_.reset(pd.hDevNames);
  return ok != FALSE;
}

std::string TPrinterSetupDialog::PrinterName() const {
  const win32::global_lock names(devNames_.get());
  if (!names.get()) return {};
  const auto* header = static_cast<const DEVNAMES*>(names.get());
  return reinterpret_cast<const char*>(header) + header->wDeviceOffset;
}

std::vector<std::uint8_t> TPrinterSetupDialog::DevMode() const {
  const win32::global_lock mode(devMode_.get());
  if (!mode.get()) return {};
  const auto* bytes = static_cast<const std::uint8_t*>(mode.get());
  return std::vector<std::uint8_t>(bytes, bytes + ::GlobalSize(devMode_.get()));
}

void TPrinterSetupDialog::SetDevMode(const std::vector<std::uint8_t>& devMode) {
  win32::unique_hglobal block;
  if (!devMode.empty()) {
    block.reset(::GlobalAlloc(GMEM_MOVEABLE, devMode.size()));
    if (!block) RaiseLastWin32Error("GlobalAlloc");
    const win32::global_lock bytes(block.get());
    if (!bytes.get()) RaiseLastWin32Error("GlobalLock");
    std::copy(devMode.begin(), devMode.end(), static_cast<std::uint8_t*>(bytes.get()));
  }
  devMode_ = std::move(block);
  devNames_.reset();  // the printer is the one the settings name
}

}  // namespace lumetra::ui
