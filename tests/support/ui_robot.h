// A robot for UI tests: a thread that waits for a top-level window with a
// given caption, as a person would look for it, and then acts on it
// (presses a button, types into an edit) through ordinary window messages.
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace qvtest {

class Robot {
 public:
  Robot(std::string caption, std::function<void(HWND)> action)
      : thread_([this, caption = std::move(caption), action = std::move(action)] {
          const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
          while (std::chrono::steady_clock::now() < deadline) {
            HWND window = ::FindWindowA(nullptr, caption.c_str());
            if (window && ::IsWindowVisible(window)) {
              action(window);
              found_ = true;
              return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
          }
        }) {}
  ~Robot() {
    if (thread_.joinable()) thread_.join();
  }
  Robot(const Robot&) = delete;
  Robot& operator=(const Robot&) = delete;
  bool Found() {
    thread_.join();
    thread_ = std::thread();
    return found_;
  }

 private:
  std::atomic<bool> found_{false};
  std::thread thread_;
};

// The first child of Window of class ClassName whose text is Text (any
// text when Text is null).
inline HWND FindChild(HWND window, const char* className, const char* text) {
  return ::FindWindowExA(window, nullptr, className, text);
}

struct ControlSearch {
  const char* className;
  const char* text;
  int index;
  HWND found = nullptr;
};

inline BOOL CALLBACK FindControlProc(HWND child, LPARAM data) {
  auto& s = *reinterpret_cast<ControlSearch*>(data);
  char name[64] = {}, caption[256] = {};
  ::GetClassNameA(child, name, sizeof name);
  ::GetWindowTextA(child, caption, sizeof caption);
  if (::lstrcmpiA(name, s.className) == 0 && (!s.text || ::lstrcmpA(caption, s.text) == 0) &&
      s.index-- == 0) {
    s.found = child;
    return FALSE;
  }
  return TRUE;
}

// The Index-th (from 0) control of class ClassName anywhere inside Window,
// in creation order, whose text is Text (any text when Text is null): the
// controls of a form that sit on panels and frames too.
inline HWND FindControl(HWND window, const char* className, const char* text = nullptr,
                        int index = 0) {
  ControlSearch search{className, text, index};
  ::EnumChildWindows(window, &FindControlProc, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Types Text into the Index-th edit of Window, replacing what it held.
inline void TypeInto(HWND window, int index, const char* text) {
  ::SendMessageA(FindControl(window, "Edit", nullptr, index), WM_SETTEXT, 0,
                 reinterpret_cast<LPARAM>(text));
}

// Clicks a check box or radio button anywhere inside Window.
inline void ClickControl(HWND window, const char* caption) {
  if (HWND control = FindControl(window, "Button", caption)) {
    ::SendMessageA(control, BM_CLICK, 0, 0);
  }
}

// The text of a message box: its last static control with text.
inline std::string MessageText(HWND box) {
  std::string text;
  for (int i = 0;; ++i) {
    HWND label = FindControl(box, "Static", nullptr, i);
    if (!label) return text;
    char buf[1024] = {};
    ::GetWindowTextA(label, buf, sizeof buf);
    if (buf[0]) text = buf;
  }
}

inline void PressButton(HWND window, const char* caption) {
  if (HWND button = FindChild(window, "Button", caption)) {
    ::SendMessageA(button, BM_CLICK, 0, 0);
  }
}

}  // namespace qvtest
