#include "ui/control.h"

#include <windowsx.h>

#include <algorithm>

#include "platform/platform.h"
#include "platform/win32/window_classes.h"
#include "ui/form.h"
#include "ui/menus.h"

namespace lumetra::ui {

namespace {

// Marks a window as one of ours. A property rather than the window procedure,
// because comctl32 subclasses some windows (an up-down's buddy) itself.
constexpr const char* kControlProperty = "QvControl";

HFONT DefaultFont() { return static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT)); }

}  // namespace

void RequireClass(WNDCLASSEXA wc) {
  if (!win32::RequireWindowClass(wc)) RaiseLastWin32Error("RegisterClass failed");
}

void RaiseLastWin32Error(const char* what) {
  std::string reason = platform::LastErrorText();
  throw EOutOfResources(reason.empty() ? std::string(what) : std::string(what) + ": " + reason);
}

TShiftState ShiftStateFromKeys(WPARAM keys) {
  TShiftState s = 0;
  if (keys & MK_SHIFT) s |= ssShift;
  if (keys & MK_CONTROL) s |= ssCtrl;
  if (keys & MK_LBUTTON) s |= ssLeft;
  if (keys & MK_RBUTTON) s |= ssRight;
  if (keys & MK_MBUTTON) s |= ssMiddle;
  if (::GetKeyState(VK_MENU) < 0) s |= ssAlt;
  return s;
}

// --- window procedures -------------------------------------------------------

LRESULT CALLBACK OwnWindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) noexcept {
  if (msg == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
    auto* control = static_cast<TControl*>(create->lpCreateParams);
    control->handle_ = window;
    ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(control));
    ::SetPropA(window, kControlProperty, control);
  }
  auto* control = reinterpret_cast<TControl*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
  if (!control) return ::DefWindowProcA(window, msg, wParam, lParam);
  return control->Dispatch(msg, wParam, lParam);
}

LRESULT CALLBACK SubclassProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) noexcept {
  auto* control = reinterpret_cast<TControl*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
  if (!control) return ::DefWindowProcA(window, msg, wParam, lParam);
  return control->Dispatch(msg, wParam, lParam);
}

TControl* TControl::FromHandle(HWND window) noexcept {
  if (!window || !::IsWindow(window)) return nullptr;
  return static_cast<TControl*>(::GetPropA(window, kControlProperty));
}

LRESULT TControl::Dispatch(UINT msg, WPARAM wParam, LPARAM lParam) noexcept {
  if (msg == WM_NCDESTROY) {
    const LRESULT result = CallDefault(msg, wParam, lParam);
    Unbind();
    return result;
  }
  try {
    return WndProc(msg, wParam, lParam);
  } catch (...) {
    Application().HandleException(this);
    return 0;
  }
}

void TControl::Unbind() noexcept {
  if (!handle_) return;
  ::RemovePropA(handle_, kControlProperty);
  ::SetWindowLongPtrA(handle_, GWLP_USERDATA, 0);
  if (systemProc_) {
    ::SetWindowLongPtrA(handle_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(systemProc_));
  }
  handle_ = nullptr;
}

LRESULT TControl::CallDefault(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (systemProc_) return ::CallWindowProcA(systemProc_, handle_, msg, wParam, lParam);
  return ::DefWindowProcA(handle_, msg, wParam, lParam);
}

// --- creation and destruction -----------------------------------------------

void TControl::CreateOwnWindow(TControl* parent, const char* className, DWORD style,
                               DWORD exStyle, UINT classStyle, HBRUSH background) {
  HINSTANCE instance = Application().Instance();
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  wc.style = classStyle;
  wc.lpfnWndProc = &OwnWindowProc;
  wc.hInstance = instance;
  wc.hCursor = nullptr;  // WM_SETCURSOR decides
  wc.hbrBackground = background;
  wc.lpszClassName = className;
  RequireClass(wc);
  parent_ = parent;
  HWND parentWindow = parent ? parent->Handle() : nullptr;
  if (parent) style |= WS_CHILD;
  if (!::CreateWindowExA(exStyle, className, "", style, 0, 0, 0, 0, parentWindow, nullptr,
                         instance, this)) {
    parent_ = nullptr;
    RaiseLastWin32Error("Error creating window");
  }
  if (parent) parent->children_.push_back(this);
  ::SendMessageA(handle_, WM_SETFONT, reinterpret_cast<WPARAM>(DefaultFont()), FALSE);
}

void TControl::CreateSystemWindow(TControl* parent, const char* className, DWORD style,
                                  DWORD exStyle, const char* text) {
  HWND parentWindow = parent ? parent->Handle() : nullptr;
  if (parent) style |= WS_CHILD;
  HWND window = ::CreateWindowExA(exStyle, className, text, style, 0, 0, 0, 0, parentWindow,
                                  nullptr, Application().Instance(), nullptr);
  if (!window) RaiseLastWin32Error("Error creating window");
  handle_ = window;
  parent_ = parent;
  ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  ::SetPropA(window, kControlProperty, this);
  systemProc_ = reinterpret_cast<WNDPROC>(
      ::SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&SubclassProc)));
  if (parent) parent->children_.push_back(this);
  ::SendMessageA(handle_, WM_SETFONT, reinterpret_cast<WPARAM>(DefaultFont()), FALSE);
}

TControl::~TControl() {
  for (TControl* child : children_) child->parent_ = nullptr;
  if (parent_) parent_->DetachChild(this);
  if (handle_) {
    DestroyingWindow();
    HWND window = handle_;
    Unbind();
    ::DestroyWindow(window);
  }
}

void TControl::SetParent(TControl& parent) {
  if (&parent == parent_ || !handle_) return;
  if (!::SetParent(handle_, parent.Handle())) RaiseLastWin32Error("SetParent failed");
  if (parent_) parent_->DetachChild(this);
  parent_ = &parent;
  parent.children_.push_back(this);
}

void TControl::DetachChild(TControl* child) {
  children_.erase(std::remove(children_.begin(), children_.end(), child), children_.end());
}

// --- geometry -----------------------------------------------------------------

RECT TControl::BoundsRect() const {
  RECT r{};
  if (!handle_) return r;
  ::GetWindowRect(handle_, &r);
  HWND parent = ::GetParent(handle_);
  if (parent && (::GetWindowLongA(handle_, GWL_STYLE) & WS_CHILD)) {
    ::MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&r), 2);
  }
  return r;
}

int TControl::Left() const { return BoundsRect().left; }
int TControl::Top() const { return BoundsRect().top; }
int TControl::Width() const {
  const RECT r = BoundsRect();
  return r.right - r.left;
}
int TControl::Height() const {
  const RECT r = BoundsRect();
  return r.bottom - r.top;
}
int TControl::ClientWidth() const {
  RECT r{};
  if (handle_) ::GetClientRect(handle_, &r);
  return r.right;
}
int TControl::ClientHeight() const {
  RECT r{};
  if (handle_) ::GetClientRect(handle_, &r);
  return r.bottom;
}

void TControl::SetBounds(int left, int top, int width, int height) {
  if (!handle_) return;
  ::SetWindowPos(handle_, nullptr, left, top, std::max(width, 0), std::max(height, 0),
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

void TControl::SetAlign(TAlign value) {
  align_ = value;
  if (parent_) parent_->Realign();
}

void TControl::Realign() {
  if (!handle_) return;
  RECT area{};
  ::GetClientRect(handle_, &area);
  auto place = [](TControl* c, int l, int t, int w, int h) { c->SetBounds(l, t, w, h); };
  for (TAlign pass : {alTop, alBottom, alLeft, alRight, alClient}) {
    for (TControl* c : children_) {
      if (c->align_ != pass || !c->Visible()) continue;
      const int w = area.right - area.left, h = area.bottom - area.top;
      switch (pass) {
        case alTop: {
          const int ch = c->Height();
          place(c, area.left, area.top, w, ch);
          area.top += ch;
          break;
        }
        case alBottom: {
          const int ch = c->Height();
          place(c, area.left, area.bottom - ch, w, ch);
          area.bottom -= ch;
          break;
        }
        case alLeft: {
          const int cw = c->Width();
          place(c, area.left, area.top, cw, h);
          area.left += cw;
          break;
        }
        case alRight: {
          const int cw = c->Width();
          place(c, area.right - cw, area.top, cw, h);
          area.right -= cw;
          break;
        }
        default:
          place(c, area.left, area.top, std::max(w, 0), std::max(h, 0));
          break;
      }
    }
  }
}

// --- state ----------------------------------------------------------------------

bool TControl::Visible() const {
  return handle_ && (::GetWindowLongA(handle_, GWL_STYLE) & WS_VISIBLE) != 0;
}

void TControl::SetVisible(bool value) {
  if (!handle_ || Visible() == value) return;
  ::ShowWindow(handle_, value ? SW_SHOW : SW_HIDE);
  if (parent_ && align_ != alNone) parent_->Realign();
}

bool TControl::Enabled() const { return handle_ && ::IsWindowEnabled(handle_); }
void TControl::SetEnabled(bool value) {
  if (handle_) ::EnableWindow(handle_, value);
}

std::string TControl::Caption() const {
  if (!handle_) return {};
  const int n = ::GetWindowTextLengthA(handle_);
  std::string text(static_cast<std::size_t>(n) + 1, '\0');
  const int got = ::GetWindowTextA(handle_, text.data(), n + 1);
  text.resize(static_cast<std::size_t>(std::max(got, 0)));
  return text;
}

void TControl::SetCaption(const std::string& text) {
  if (handle_ && Caption() != text) ::SetWindowTextA(handle_, text.c_str());
}

void TControl::SetCursor(TCursor value) {
  cursor_ = value;
  if (!handle_) return;
  POINT pt;
  if (::GetCursorPos(&pt) && ::WindowFromPoint(pt) == handle_ && Screen().Cursor() == crDefault) {
    ::SetCursor(CursorHandle());
  }
}

HCURSOR TControl::CursorHandle() const {
  return Screen().Cursors(cursor_ == crDefault ? crArrow : cursor_);
}

void TControl::SetFocus() {
  if (handle_) ::SetFocus(handle_);
}
bool TControl::Focused() const { return handle_ && ::GetFocus() == handle_; }
void TControl::BringToFront() {
  if (handle_) ::SetWindowPos(handle_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}
void TControl::Invalidate() {
  if (handle_) ::InvalidateRect(handle_, nullptr, TRUE);
}
void TControl::Update() {
  if (handle_) ::UpdateWindow(handle_);
}
void TControl::Repaint() {
  Invalidate();
  Update();
}
void TControl::SetRedraw(bool value) {
  if (handle_) ::SendMessageA(handle_, WM_SETREDRAW, value, 0);
}

// --- messages -----------------------------------------------------------------

void TControl::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  if (OnMouseDown) OnMouseDown(this, button, shift, x, y);
}
void TControl::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
  if (OnMouseUp) OnMouseUp(this, button, shift, x, y);
}
void TControl::MouseMove(TShiftState shift, int x, int y) {
  if (OnMouseMove) OnMouseMove(this, shift, x, y);
}
void TControl::Click() {
  if (OnClick) OnClick(this);
}
void TControl::DblClick() {
  if (OnDblClick) OnDblClick(this);
}
void TControl::Resize() {
  if (OnResize) OnResize(this);
}

LRESULT TControl::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  const bool own = systemProc_ == nullptr;
  switch (msg) {
    case WM_COMMAND:
      if (lParam) {
        if (TControl* child = FromHandle(reinterpret_cast<HWND>(lParam))) {
          child->CommandNotify(HIWORD(wParam));
          return 0;
        }
      }
      break;
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lParam);
      if (TControl* child = FromHandle(header->hwndFrom)) return child->NotifyNotify(header);
      break;
    }
    case WM_HSCROLL:
    case WM_VSCROLL:
      if (lParam) {
        if (TControl* child = FromHandle(reinterpret_cast<HWND>(lParam))) {
          child->ScrollNotify(LOWORD(wParam));
          return 0;
        }
      }
      break;
    case WM_SETCURSOR:
      if (reinterpret_cast<HWND>(wParam) == handle_ && LOWORD(lParam) == HTCLIENT) {
        if (BusyCursorDepth() > 0) {
          ::SetCursor(Screen().Cursors(crHourGlass));
        } else if (Screen().Cursor() != crDefault) {
          ::SetCursor(Screen().Cursors(Screen().Cursor()));
        } else if (own || cursor_ != crDefault) {
          ::SetCursor(CursorHandle());
        } else {
          break;
        }
        return TRUE;
      }
      break;
    case WM_SIZE:
      if (own) {
        Realign();
        Resize();
        return 0;
      }
      break;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDBLCLK:
      if (own) {
        const TMouseButton button = (msg == WM_LBUTTONDOWN || msg == WM_LBUTTONDBLCLK) ? mbLeft
                                    : (msg == WM_RBUTTONDOWN || msg == WM_RBUTTONDBLCLK)
                                        ? mbRight
                                        : mbMiddle;
        const bool dbl =
            msg == WM_LBUTTONDBLCLK || msg == WM_RBUTTONDBLCLK || msg == WM_MBUTTONDBLCLK;
        ::SetCapture(handle_);
        if (button == mbLeft) mouseDown_ = true;
        if (dbl && button == mbLeft) DblClick();
        MouseDown(button, ShiftStateFromKeys(wParam) | (dbl ? ssDouble : 0),
                  GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        return 0;
      }
      break;
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
      if (own) {
        const TMouseButton button =
            msg == WM_LBUTTONUP ? mbLeft : msg == WM_RBUTTONUP ? mbRight : mbMiddle;
        const int x = GET_X_LPARAM(lParam), y = GET_Y_LPARAM(lParam);
        if (!(wParam & (MK_LBUTTON | MK_RBUTTON | MK_MBUTTON)) && ::GetCapture() == handle_) {
          ::ReleaseCapture();
        }
        const bool clicked = button == mbLeft && mouseDown_;
        if (button == mbLeft) mouseDown_ = false;
        if (clicked) {
          RECT client;
          ::GetClientRect(handle_, &client);
          if (x >= 0 && y >= 0 && x < client.right && y < client.bottom) Click();
        }
        MouseUp(button, ShiftStateFromKeys(wParam), x, y);
        // The default procedure turns a right click into WM_CONTEXTMENU.
        if (button == mbRight) return CallDefault(msg, wParam, lParam);
        return 0;
      }
      break;
    case WM_MOUSEMOVE:
      if (own) {
        MouseMove(ShiftStateFromKeys(wParam), GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        return 0;
      }
      break;
    case WM_CONTEXTMENU:
      if (reinterpret_cast<HWND>(wParam) == handle_ && (popupMenu_ || OnContextPopup)) {
        POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        const bool fromKeyboard = pt.x == -1 && pt.y == -1;
        POINT client = pt;
        if (fromKeyboard) {
          client = POINT{-1, -1};
          pt = POINT{0, 0};
          ::ClientToScreen(handle_, &pt);
        } else {
          ::ScreenToClient(handle_, &client);
        }
        bool handled = false;
        if (OnContextPopup) OnContextPopup(this, client.x, client.y, handled);
        if (!handled && popupMenu_) popupMenu_->Popup(pt.x, pt.y, handle_);
        return 0;
      }
      break;
    case WM_CAPTURECHANGED:
      mouseDown_ = false;
      break;
    default:
      break;
  }
  return CallDefault(msg, wParam, lParam);
}

}  // namespace lumetra::ui
