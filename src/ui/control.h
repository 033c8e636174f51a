// The window layer under every form of the system: TControl owns one HWND,
// binds itself to it, dispatches its messages through a noexcept procedure
// (an exception never unwinds into user32: it is shown by the application's
// error display) and lays out aligned children. TApplication runs the
// message loops, the idle handler and the error display; TScreen keeps the
// screen cursor and the registered cursors; TTimer wraps SetTimer.
//
// How to build a form (see form.h): derive from TForm, declare the
// controls as members in creation order (parents before children), give
// each its parent in the member initialiser, and set bounds, captions and
// handlers in the constructor body:
//
//   class TfrmAsk : public ui::TForm {
//    public:
//     TfrmAsk() : TForm("Ask", 300, 120) {
//       btnOk.SetBounds(110, 80, 75, 25);
//       btnOk.SetCaption("OK");
//       btnOk.SetDefault(true);
//       btnOk.OnClick = [this](TObject*) { SetModalResult(ui::mrOk); };
//     }
//     ui::TButton btnOk{*this};
//   };
//   TfrmAsk form; if (form.ShowModal() == ui::mrOk) ...
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/exception.h"
#include "base/object.h"
#include "imaging/lumisc.h"

namespace lumetra::ui {

using lumetra::TNotifyEvent;

enum TMouseButton : std::uint8_t { mbLeft = 0, mbRight = 1, mbMiddle = 2 };

// The set of shift keys and mouse buttons held during a mouse message.
using TShiftState = std::uint8_t;
enum : TShiftState {
  ssShift = 0x01,
  ssAlt = 0x02,
  ssCtrl = 0x04,
  ssLeft = 0x08,
  ssRight = 0x10,
  ssMiddle = 0x20,
  ssDouble = 0x40,
};
TShiftState ShiftStateFromKeys(WPARAM keys);

using TMouseEvent =
    std::function<void(TObject* sender, TMouseButton button, TShiftState shift, int x, int y)>;
using TMouseMoveEvent = std::function<void(TObject* sender, TShiftState shift, int x, int y)>;

// Cursor numbers as the component model knows them; positive numbers are
// the application's own cursors registered with TScreen.
using TCursor = int;
enum : TCursor {
  crDefault = 0,
  crNone = -1,
  crArrow = -2,
  crCross = -3,
  crIBeam = -4,
  crSizeNESW = -6,
  crSizeNS = -7,
  crSizeNWSE = -8,
  crSizeWE = -9,
  crUpArrow = -10,
  crHourGlass = -11,
  crNo = -18,
  crHandPoint = -21,
  crSizeAll = -22,
};

enum TAlign : std::uint8_t { alNone = 0, alTop, alBottom, alLeft, alRight, alClient };

// Handle owners.
struct GdiObjectDeleter {
  void operator()(HGDIOBJ object) const noexcept {
    if (object) ::DeleteObject(object);
  }
};
using UniqueGdiObject = std::unique_ptr<std::remove_pointer_t<HGDIOBJ>, GdiObjectDeleter>;

class TPopupMenu;

class TControl : public TObject {
 public:
  TControl(const TControl&) = delete;
  TControl& operator=(const TControl&) = delete;
  ~TControl() override;
  const char* ClassName() const noexcept override { return "TControl"; }

  HWND Handle() const noexcept { return handle_; }
  TControl* Parent() const noexcept { return parent_; }
  // Moves the control's window into another parent's client area.
  void SetParent(TControl& parent);
  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }

  int Left() const;
  int Top() const;
  int Width() const;
  int Height() const;
  int ClientWidth() const;
  int ClientHeight() const;
  void SetBounds(int left, int top, int width, int height);
  void SetLeft(int value) { SetBounds(value, Top(), Width(), Height()); }
  void SetTop(int value) { SetBounds(Left(), value, Width(), Height()); }
  void SetWidth(int value) { SetBounds(Left(), Top(), value, Height()); }
  void SetHeight(int value) { SetBounds(Left(), Top(), Width(), value); }
  // Window rectangle in the parent's client coordinates.
  RECT BoundsRect() const;

  bool Visible() const;
  virtual void SetVisible(bool value);
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  bool Enabled() const;
  void SetEnabled(bool value);
  std::string Caption() const;
  void SetCaption(const std::string& text);
  std::string Text() const { return Caption(); }
  void SetText(const std::string& text) { SetCaption(text); }
  TCursor Cursor() const { return cursor_; }
  void SetCursor(TCursor value);
  TAlign Align() const { return align_; }
  void SetAlign(TAlign value);
  // The menu a right click (or the menu key) pops up; not owned.
  TPopupMenu* PopupMenu() const { return popupMenu_; }
  void SetPopupMenu(TPopupMenu* menu) { popupMenu_ = menu; }

  void SetFocus();
  bool Focused() const;
  void BringToFront();
  void Invalidate();
  void Update();   // paints pending invalid regions now
  void Repaint();  // Invalidate + Update
  void SetRedraw(bool value);

  // Re-lays out the aligned children inside the client area.
  void Realign();

  TNotifyEvent OnClick;
  TNotifyEvent OnDblClick;
  TMouseEvent OnMouseDown;
  TMouseEvent OnMouseUp;
  TMouseMoveEvent OnMouseMove;
  TNotifyEvent OnResize;
  // Raised before the pop-up menu shows, with client coordinates (-1, -1
  // from the keyboard); Handled = true shows no menu.
  std::function<void(TObject* sender, int x, int y, bool& handled)> OnContextPopup;

  // The control that owns Window, when it is one of ours.
  static TControl* FromHandle(HWND window) noexcept;

 protected:
  TControl() = default;
  // Creates a window of one of the framework's own classes (registered on
  // first use with the given class style and background brush).
  void CreateOwnWindow(TControl* parent, const char* className, DWORD style, DWORD exStyle,
                       UINT classStyle = CS_DBLCLKS, HBRUSH background = nullptr);
  // Creates a window of a system class (BUTTON, EDIT, ...) and subclasses it.
  void CreateSystemWindow(TControl* parent, const char* className, DWORD style, DWORD exStyle,
                          const char* text = "");

  // Message handling; the default runs mouse events, cursors and layout
  // and then the default procedure.
  virtual LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT CallDefault(UINT msg, WPARAM wParam, LPARAM lParam);
  // A command notification (WM_COMMAND, WM_NOTIFY, WM_HSCROLL from a
  // trackbar or up-down) that the parent forwards to this control.
  virtual void CommandNotify(UINT /*code*/) {}
  virtual LRESULT NotifyNotify(NMHDR* /*header*/) { return 0; }
  virtual void ScrollNotify(UINT /*code*/) {}

  // Mouse hooks; the defaults raise the events.
  virtual void MouseDown(TMouseButton button, TShiftState shift, int x, int y);
  virtual void MouseUp(TMouseButton button, TShiftState shift, int x, int y);
  virtual void MouseMove(TShiftState shift, int x, int y);
  virtual void Click();
  virtual void DblClick();
  virtual void Resize();
  // The cursor the control shows when no screen cursor overrides it.
  virtual HCURSOR CursorHandle() const;
  // Called when the window is about to be destroyed.
  virtual void DestroyingWindow() {}

 private:
  friend LRESULT CALLBACK OwnWindowProc(HWND, UINT, WPARAM, LPARAM) noexcept;
  friend LRESULT CALLBACK SubclassProc(HWND, UINT, WPARAM, LPARAM) noexcept;
  LRESULT Dispatch(UINT msg, WPARAM wParam, LPARAM lParam) noexcept;
  void DetachChild(TControl* child);
  void Unbind() noexcept;

  HWND handle_ = nullptr;
  WNDPROC systemProc_ = nullptr;  // the class procedure of a subclassed system control
  TControl* parent_ = nullptr;
  std::vector<TControl*> children_;
  std::string name_;
  TCursor cursor_ = crDefault;
  TAlign align_ = alNone;
  TPopupMenu* popupMenu_ = nullptr;
  bool mouseDown_ = false;
};

// A timer on the utility window of the thread that starts it.
class TTimer : public TObject {
 public:
  TTimer();
  ~TTimer() override;
  TTimer(const TTimer&) = delete;
  TTimer& operator=(const TTimer&) = delete;
  const char* ClassName() const noexcept override { return "TTimer"; }
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  unsigned Interval() const { return interval_; }
  void SetInterval(unsigned value);
  TNotifyEvent OnTimer;

 private:
  friend class TApplication;
  void Restart();
  bool enabled_ = false;
  unsigned interval_ = 1000;
  class TApplication* app_ = nullptr;  // while running: the thread it runs on
  UINT_PTR id_ = 0;
};

// The screen cursor and the table of the application's cursors.
class TScreen {
 public:
  TCursor Cursor() const { return cursor_; }
  // A cursor other than crDefault overrides every control's own cursor.
  void SetCursor(TCursor value);
  HCURSOR Cursors(TCursor index) const;
  void SetCursors(TCursor index, HCURSOR cursor);  // takes no ownership
  bool HasCursor(TCursor index) const { return cursors_.count(index) != 0; }
  int Width() const { return ::GetSystemMetrics(SM_CXSCREEN); }
  int Height() const { return ::GetSystemMetrics(SM_CYSCREEN); }

 private:
  friend class TApplication;
  TScreen() = default;
  TCursor cursor_ = crDefault;
  std::map<TCursor, HCURSOR> cursors_;
};

class TForm;

// The user-interface state of one thread: its message loops, idle
// handlers, error display, timers (on a message-only utility window that
// lives while a timer runs) and screen cursor. A host may drive windows
// from several STA threads at once; each has its own, and nothing here is
// shared between them but the window classes.
class TApplication : public TObject {
 public:
  const char* ClassName() const noexcept override { return "TApplication"; }
  const std::string& Title() const { return title_; }
  void SetTitle(std::string title) { title_ = std::move(title); }
  // The module that holds this code: the program, or the server DLL a host
  // loaded; the window classes are registered under it.
  static HINSTANCE Instance();

  // Runs the main message loop until Terminate (or WM_QUIT).
  void Run();
  void Terminate();
  bool Terminated() const { return terminated_; }
  // Processes every pending message, then returns.
  void ProcessMessages();
  // Waits for and handles one message, running the idle handler first when
  // the queue is empty. Answers false on WM_QUIT.
  bool HandleMessage();

  // The default error display: OnException when assigned, else a message
  // box with the exception's text. Call it inside a catch block.
  void HandleException(TObject* sender) noexcept;
  void ShowException(const std::exception& error) noexcept;
  std::function<void(TObject* sender, const std::exception& error)> OnException;
  // Idle handler: runs when the queue becomes empty; Done = false asks to be
  // called again before waiting.
  std::function<void(TObject* sender, bool& done)> OnIdle;
  // Idle handlers of windows: each window installs its own under its
  // address and removes it when it goes; they run after OnIdle.
  void AddIdleHandler(const void* owner, std::function<void(TObject* sender, bool& done)> handler);
  void RemoveIdleHandler(const void* owner);

  void BringToFront();
  TScreen& Screen() { return screen_; }
  // The utility window exists while a timer of this thread runs.
  HWND UtilityWindow() const { return utility_; }

 private:
  friend TApplication& Application();
  friend void ReleaseUserInterface();
  friend class TTimer;
  friend class TForm;
  friend class TControl;
  friend LRESULT CALLBACK UtilityProc(HWND, UINT, WPARAM, LPARAM) noexcept;
  TApplication() = default;
  bool PreTranslate(MSG& msg);
  void Dispatch(MSG& msg);
  void Idle();
  HWND RequireUtilityWindow();
  void StopTimers();
  std::string title_ = "Quorvex";
  bool terminated_ = false;
  HWND utility_ = nullptr;
  std::map<UINT_PTR, TTimer*> timers_;
  std::map<const void*, std::function<void(TObject*, bool&)>> idleHandlers_;
  UINT_PTR nextTimerId_ = 1;
  TScreen screen_;
};
// The calling thread's application, made on first use.
TApplication& Application();
// The calling thread's screen.
TScreen& Screen();
// Stops the calling thread's timers and forgets every thread's application:
// a DLL calls it before it is unloaded, after its last window is gone, and
// then unregisters its window classes (win32::UnregisterWindowClasses). A
// later Application() starts afresh.
void ReleaseUserInterface();

// Raises EOutOfResources with the system's reason for a failed creation.
[[noreturn]] void RaiseLastWin32Error(const char* what);
// Registers an own window class once for the process: two threads making
// their first window at once must not both register it.
void RequireClass(WNDCLASSEXA wc);

}  // namespace lumetra::ui
