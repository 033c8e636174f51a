#include "ui/form.h"

#include <cctype>
#include <vector>

namespace lumetra::ui {

namespace {

struct ThreadWindows {
  HWND except;
  std::vector<HWND> windows;
};

BOOL CALLBACK CollectEnabled(HWND window, LPARAM data) {
  auto* list = reinterpret_cast<ThreadWindows*>(data);
  if (window != list->except && ::IsWindowVisible(window) && ::IsWindowEnabled(window)) {
    list->windows.push_back(window);
  }
  return TRUE;
}

struct LabelSearch {
  char key;
  TLabel* found = nullptr;
};

BOOL CALLBACK FindLabelProc(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<LabelSearch*>(data);
  auto* label = dynamic_cast<TLabel*>(TControl::FromHandle(window));
  if (label && label->FocusControl() && ::IsWindowVisible(window) &&
      label->Accelerator() == search->key) {
    search->found = label;
    return FALSE;
  }
  return TRUE;
}

struct ButtonSearch {
  bool wantDefault;
  TButton* found = nullptr;
};

BOOL CALLBACK FindButtonProc(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<ButtonSearch*>(data);
  auto* button = dynamic_cast<TButton*>(TControl::FromHandle(window));
  if (button && ::IsWindowVisible(window) &&
      (search->wantDefault ? button->Default() : button->Cancel())) {
    search->found = button;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK SetFontProc(HWND window, LPARAM font) {
  ::SendMessageA(window, WM_SETFONT, static_cast<WPARAM>(font), FALSE);
  return TRUE;
}

}  // namespace

TForm::TForm(const std::string& caption, int clientWidth, int clientHeight,
             TFormBorderStyle borderStyle)
    : borderStyle_(borderStyle), clientWidth_(clientWidth), clientHeight_(clientHeight) {
  CreateOwnWindow(nullptr, "QvForm", Style(), ExStyle(), CS_DBLCLKS,
                  reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
  SetCaption(caption);
  SetClientSize(clientWidth, clientHeight);
}

TForm::~TForm() {
  if (menu_) menu_->AttachTo(nullptr);
  menu_ = nullptr;
  if (Handle()) ::SetMenu(Handle(), nullptr);  // the menu object owns its HMENU
}

DWORD TForm::Style() const {
  DWORD style = WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
  switch (borderStyle_) {
    case bsNone: style |= WS_POPUP; break;
    case bsSingle: style |= WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_BORDER; break;
    case bsSizeable:
      style |= WS_OVERLAPPEDWINDOW;
      break;
    case bsDialog: style |= WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | WS_POPUP; break;
    case bsToolWindow: style |= WS_CAPTION | WS_SYSMENU | WS_POPUP; break;
  }
  return style;
}

DWORD TForm::ExStyle() const {
  DWORD ex = WS_EX_CONTROLPARENT;
  if (borderStyle_ == bsDialog) ex |= WS_EX_DLGMODALFRAME;
  if (borderStyle_ == bsToolWindow) ex |= WS_EX_TOOLWINDOW;
  return ex;
}

void TForm::SetBorderStyle(TFormBorderStyle value) {
  borderStyle_ = value;
  ::SetWindowLongA(Handle(), GWL_STYLE,
                   static_cast<LONG>(Style() | (Visible() ? WS_VISIBLE : 0)));
  ::SetWindowLongA(Handle(), GWL_EXSTYLE, static_cast<LONG>(ExStyle()));
  SetClientSize(clientWidth_, clientHeight_);
}

void TForm::SetClientSize(int clientWidth, int clientHeight) {
  clientWidth_ = clientWidth;
  clientHeight_ = clientHeight;
  RECT r{0, 0, clientWidth, clientHeight};
  const DWORD style = static_cast<DWORD>(::GetWindowLongA(Handle(), GWL_STYLE));
  const DWORD ex = static_cast<DWORD>(::GetWindowLongA(Handle(), GWL_EXSTYLE));
  ::AdjustWindowRectEx(&r, style, ::GetMenu(Handle()) != nullptr, ex);
  ::SetWindowPos(Handle(), nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  // A menu bar that wraps takes more than one line: correct once by what
  // the window really got.
  const int dw = clientWidth - ClientWidth(), dh = clientHeight - ClientHeight();
  if (dw != 0 || dh != 0) {
    ::SetWindowPos(Handle(), nullptr, 0, 0, Width() + dw, Height() + dh,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

void TForm::SetMinSize(int width, int height) {
  minWidth_ = width;
  minHeight_ = height;
}

void TForm::SetOwnerWindow(HWND owner) {
  ::SetWindowLongPtrA(Handle(), GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(owner));
}

void TForm::SetMenu(TMainMenu* menu) {
  if (menu_) menu_->AttachTo(nullptr);
  menu_ = menu;
  if (menu_) {
    menu_->AttachTo(Handle());
  } else {
    ::SetMenu(Handle(), nullptr);
  }
  SetClientSize(clientWidth_, clientHeight_);
}

void TForm::Centre() {
  RECT area{};
  HWND owner = ::GetWindow(Handle(), GW_OWNER);
  if (position_ == poOwnerFormCenter && owner) {
    ::GetWindowRect(owner, &area);
  } else {
    ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
  }
  const int w = Width(), h = Height();
  int left = area.left + (area.right - area.left - w) / 2;
  int top = area.top + (area.bottom - area.top - h) / 2;
  if (left < 0) left = 0;
  if (top < 0) top = 0;
  ::SetWindowPos(Handle(), nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm::SetVisible(bool value) {
  if (value && !placed_ && position_ != poDesigned) {
    Centre();
    placed_ = true;
  }
  TControl::SetVisible(value);
  if (value) ::SetForegroundWindow(Handle());
  if (!value && modal_) ::PostMessageA(Handle(), WM_NULL, 0, 0);
}

void TForm::SetModalResult(int value) {
  modalResult_ = value;
  // The modal loop may be about to wait for a message: wake it.
  if (modal_) ::PostMessageA(Handle(), WM_NULL, 0, 0);
}

int TForm::ShowModal() {
  if (Visible() || modal_) throw EInvalidOperation("Cannot make a visible window modal");
  ThreadWindows others{Handle(), {}};
  ::EnumThreadWindows(::GetCurrentThreadId(), &CollectEnabled,
                      reinterpret_cast<LPARAM>(&others));
  for (HWND w : others.windows) ::EnableWindow(w, FALSE);
  modal_ = true;
  modalResult_ = mrNone;
  struct Restore {
    TForm& form;
    std::vector<HWND>& windows;
    ~Restore() {
      // Re-enable the others before hiding, so activation returns to them.
      for (HWND w : windows) {
        if (::IsWindow(w)) ::EnableWindow(w, TRUE);
      }
      form.modal_ = false;
      if (form.Visible()) form.TControl::SetVisible(false);
    }
  } restore{*this, others.windows};
  SetVisible(true);
  TApplication& app = Application();
  while (modalResult_ == mrNone && Visible()) {
    if (!app.HandleMessage()) {
      ::PostQuitMessage(0);  // leave WM_QUIT for the outer loop
      modalResult_ = mrCancel;
    }
  }
  return modalResult_ == mrNone ? mrCancel : modalResult_;
}

void TForm::Close() {
  bool canClose = true;
  if (OnCloseQuery) OnCloseQuery(this, canClose);
  if (!canClose) return;
  TCloseAction action = caHide;
  if (OnClose) OnClose(this, action);
  if (action == caNone) return;
  if (modal_) {
    if (modalResult_ == mrNone) SetModalResult(mrCancel);
    return;
  }
  switch (action) {
    case caMinimize: ::ShowWindow(Handle(), SW_MINIMIZE); break;
    case caFree:
      // A form cannot free itself here; a freed main form ends the
      // application, which then destroys it.
      Hide();
      Application().Terminate();
      break;
    default: Hide(); break;
  }
}

TButton* TForm::FindButton(bool wantDefault) const {
  ButtonSearch search{wantDefault};
  ::EnumChildWindows(Handle(), &FindButtonProc, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

void TForm::SetFont(const std::string& name, int height) {
  HFONT font = ::CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                             DEFAULT_PITCH | FF_DONTCARE, name.c_str());
  if (!font) RaiseLastWin32Error("CreateFont");
  ::SendMessageA(Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  ::EnumChildWindows(Handle(), &SetFontProc, reinterpret_cast<LPARAM>(font));
  font_.reset(font);  // the old font is in no control any more
}

TButton* TForm::DefaultButton() const { return FindButton(true); }
TButton* TForm::CancelButton() const { return FindButton(false); }

bool TForm::PreTranslateMessage(MSG& msg) {
  if (menu_ && menu_->IsShortCut(msg)) return true;
  if (msg.message == WM_SYSCHAR) {
    // Alt + a label's accelerator focuses the label's control.
    LabelSearch search{static_cast<char>(std::toupper(static_cast<int>(msg.wParam & 0xFF)))};
    ::EnumChildWindows(Handle(), &FindLabelProc, reinterpret_cast<LPARAM>(&search));
    if (search.found) {
      search.found->FocusControl()->SetFocus();
      return true;
    }
  }
  if (msg.message == WM_KEYDOWN && (msg.wParam == VK_RETURN || msg.wParam == VK_ESCAPE)) {
    HWND focus = ::GetFocus();
    const bool multiline =
        focus && (::GetWindowLongA(focus, GWL_STYLE) & ES_MULTILINE) &&
        ::SendMessageA(focus, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL;
    if (!(multiline && msg.wParam == VK_RETURN)) {
      TButton* button = msg.wParam == VK_RETURN ? DefaultButton() : CancelButton();
      if (button && button->Enabled()) {
        button->Click();
        return true;
      }
    }
  }
  return ::IsDialogMessageA(Handle(), &msg) != FALSE;
}

LRESULT TForm::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_CLOSE:
      Close();
      return 0;
    case WM_COMMAND:
      if (lParam == 0) {
        const auto id = LOWORD(wParam);
        if (menu_ && menu_->DispatchCommand(id)) return 0;
        if (id == IDOK || id == IDCANCEL) {
          TButton* button = id == IDOK ? DefaultButton() : CancelButton();
          if (button && button->Enabled()) button->Click();
          return 0;
        }
      }
      break;
    case WM_GETMINMAXINFO:
      if (minWidth_ > 0 || minHeight_ > 0) {
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        if (minWidth_ > 0) info->ptMinTrackSize.x = minWidth_;
        if (minHeight_ > 0) info->ptMinTrackSize.y = minHeight_;
        return 0;
      }
      break;
    case WM_SHOWWINDOW:
      if (wParam && OnShow) OnShow(this);
      if (!wParam && OnHide) OnHide(this);
      break;
    default:
      break;
  }
  return TControl::WndProc(msg, wParam, lParam);
}

}  // namespace lumetra::ui
