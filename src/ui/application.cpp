// The thread's application (its message loop, idle handlers, exception
// handler and utility window), the timers it runs, and the screen's cursors.
#include <windows.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/window_classes.h"
#include "ui/control.h"
#include "ui/form.h"
#include "ui/menus.h"

namespace lumetra::ui {

namespace {

constexpr const char* kUtilityClass = "QvUtilityWindow";

// The table of the threads' applications.
struct SharedState {
  std::mutex lock;
  std::map<DWORD, std::unique_ptr<TApplication>> applications;
  // Counts the releases, so a thread's cached application from before one
  // is not used after it.
  std::atomic<unsigned> generation{1};
};
SharedState& Shared() {
  static SharedState state;
  return state;
}

}  // namespace

// --- timers -------------------------------------------------------------------

TTimer::TTimer() {}

TTimer::~TTimer() {
  SetEnabled(false);
}

void TTimer::SetEnabled(bool value) {
  enabled_ = value;
  Restart();
}

void TTimer::SetInterval(unsigned value) {
  interval_ = value;
  Restart();
}

void TTimer::Restart() {
  if (app_) {
    TApplication& app = *app_;
    app_ = nullptr;
    ::KillTimer(app.utility_, id_);
    app.timers_.erase(id_);
    id_ = 0;
    if (!enabled_ || interval_ == 0) {
      if (app.timers_.empty() && app.utility_) {
        ::DestroyWindow(app.utility_);
        app.utility_ = nullptr;
      }
      return;
    }
  }
  if (!enabled_ || interval_ == 0) return;
  TApplication& app = Application();
  const UINT_PTR id = app.nextTimerId_++;
  if (!::SetTimer(app.RequireUtilityWindow(), id, interval_, nullptr)) {
    RaiseLastWin32Error("Not enough timers available");
  }
  app.timers_[id] = this;
  app_ = &app;
  id_ = id;
}

// --- application ----------------------------------------------------------------

namespace {
// The calling thread's application as last looked up, with the release it
// belongs to (plain values: a DLL's thread-local objects must not need
// destruction, since the DLL may go before its threads).
thread_local TApplication* currentApplication = nullptr;
thread_local unsigned currentGeneration = 0;
}  // namespace

TApplication& Application() {
  SharedState& shared = Shared();
  const unsigned generation = shared.generation.load();
  if (currentApplication && currentGeneration == generation) return *currentApplication;
  std::lock_guard<std::mutex> guard(shared.lock);
  // An entry under this thread's id that this thread did not make belongs
  // to an ended thread whose id was reused: its windows went with it.
  auto& entry = shared.applications[::GetCurrentThreadId()];
  entry.reset(new TApplication());
  currentApplication = entry.get();
  currentGeneration = generation;
  return *entry;
}

TScreen& Screen() { return Application().Screen(); }

HINSTANCE TApplication::Instance() { return win32::OwnModule(); }

void TApplication::StopTimers() {
  std::vector<TTimer*> live;
  for (const auto& [id, timer] : timers_) live.push_back(timer);
  for (TTimer* timer : live) timer->SetEnabled(false);
  if (utility_) {
    ::DestroyWindow(utility_);
    utility_ = nullptr;
  }
}

void ReleaseUserInterface() {
  SharedState& shared = Shared();
  std::map<DWORD, std::unique_ptr<TApplication>> applications;
  {
    std::lock_guard<std::mutex> guard(shared.lock);
    applications.swap(shared.applications);
    shared.generation.fetch_add(1);
  }
  // Only the calling thread's windows can be destroyed here; another
  // thread's utility window exists only while one of its timers runs, which
  // belongs to a window that is gone by now.
  const auto own = applications.find(::GetCurrentThreadId());
  if (own != applications.end()) own->second->StopTimers();
}

LRESULT CALLBACK UtilityProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) noexcept {
  if (msg == WM_TIMER) {
    TApplication& app = Application();
    try {
      // The timer may be freed by its own handler: look it up each time.
      const auto it = app.timers_.find(wParam);
      if (it != app.timers_.end() && it->second->OnTimer) it->second->OnTimer(it->second);
    } catch (...) {
      app.HandleException(&app);
    }
    return 0;
  }
  return ::DefWindowProcA(window, msg, wParam, lParam);
}

HWND TApplication::RequireUtilityWindow() {
  if (utility_) return utility_;
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &UtilityProc;
  wc.hInstance = Instance();
  wc.lpszClassName = kUtilityClass;
  RequireClass(wc);
  utility_ = ::CreateWindowExA(0, kUtilityClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                               Instance(), nullptr);
  if (!utility_) RaiseLastWin32Error("Error creating window");
  return utility_;
}

void TApplication::Run() {
  while (!terminated_ && HandleMessage()) {
  }
}

void TApplication::Terminate() {
  terminated_ = true;
  ::PostQuitMessage(0);
}

bool TApplication::PreTranslate(MSG& msg) {
  HWND root = msg.hwnd ? ::GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
  if (auto* form = dynamic_cast<TForm*>(TControl::FromHandle(root))) {
    return form->PreTranslateMessage(msg);
  }
  return false;
}

void TApplication::Dispatch(MSG& msg) {
  if (PreTranslate(msg)) return;
  ::TranslateMessage(&msg);
  ::DispatchMessageA(&msg);
}

void TApplication::ProcessMessages() {
  MSG msg;
  while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      terminated_ = true;
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    Dispatch(msg);
  }
}

bool TApplication::HandleMessage() {
  MSG msg;
  if (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      terminated_ = true;
      return false;
    }
    Dispatch(msg);
    return true;
  }
  Idle();
  return true;
}

void TApplication::AddIdleHandler(const void* owner,
                                  std::function<void(TObject* sender, bool& done)> handler) {
  idleHandlers_[owner] = std::move(handler);
}

void TApplication::RemoveIdleHandler(const void* owner) { idleHandlers_.erase(owner); }

void TApplication::Idle() {
  bool done = true;
  auto run = [&](const std::function<void(TObject*, bool&)>& handler) {
    bool handlerDone = true;
    try {
      handler(this, handlerDone);
    } catch (...) {
      HandleException(this);
    }
    done = done && handlerDone;
  };
  if (OnIdle) run(OnIdle);
  // A handler may remove a window (and its handler) while they run.
  std::vector<const void*> owners;
  for (const auto& entry : idleHandlers_) owners.push_back(entry.first);
  for (const void* owner : owners) {
    const auto it = idleHandlers_.find(owner);
    if (it == idleHandlers_.end()) continue;
    const auto handler = it->second;
    run(handler);
  }
  // A bounded wait: a message sent from another thread is handled inside
  // the wait without waking it, and the state it changed must be seen.
  if (done) ::MsgWaitForMultipleObjectsEx(0, nullptr, 50, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

void TApplication::HandleException(TObject* sender) noexcept {
  try {
    throw;
  } catch (const std::exception& error) {
    if (OnException) {
      try {
        OnException(sender, error);
        return;
      } catch (const std::exception& nested) {
        ShowException(nested);
        return;
      } catch (...) {
      }
    }
    ShowException(error);
  } catch (...) {
    ShowException(Exception("Unknown exception"));
  }
}

void TApplication::ShowException(const std::exception& error) noexcept {
  ::MessageBoxA(::GetActiveWindow(), error.what(), title_.c_str(), MB_OK | MB_ICONSTOP);
}

void TApplication::BringToFront() {
  HWND active = ::GetActiveWindow();
  if (active) ::SetForegroundWindow(active);
}

HCURSOR TScreen::Cursors(TCursor index) const {
  if (index > 0) {
    auto it = cursors_.find(index);
    if (it != cursors_.end()) return it->second;
    return ::LoadCursor(nullptr, IDC_ARROW);
  }
  const char* id = IDC_ARROW;
  switch (index) {
    case crNone: return nullptr;
    case crCross: id = IDC_CROSS; break;
    case crIBeam: id = IDC_IBEAM; break;
    case crSizeNESW: id = IDC_SIZENESW; break;
    case crSizeNS: id = IDC_SIZENS; break;
    case crSizeNWSE: id = IDC_SIZENWSE; break;
    case crSizeWE: id = IDC_SIZEWE; break;
    case crUpArrow: id = IDC_UPARROW; break;
    case crHourGlass: id = IDC_WAIT; break;
    case crNo: id = IDC_NO; break;
    case crHandPoint: id = IDC_HAND; break;
    case crSizeAll: id = IDC_SIZEALL; break;
    default: break;
  }
  return ::LoadCursor(nullptr, id);
}

void TScreen::SetCursors(TCursor index, HCURSOR cursor) { cursors_[index] = cursor; }

void TScreen::SetCursor(TCursor value) {
  if (value == cursor_) return;
  cursor_ = value;
  if (value != crDefault) {
    ::SetCursor(Cursors(value));
    return;
  }
  // Back to the controls' own cursors: let the window under the mouse choose.
  POINT pt;
  if (::GetCursorPos(&pt)) {
    if (HWND window = ::WindowFromPoint(pt)) {
      ::SendMessageA(window, WM_SETCURSOR, reinterpret_cast<WPARAM>(window),
                     MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
      return;
    }
  }
  ::SetCursor(Cursors(crArrow));
}

}  // namespace lumetra::ui
