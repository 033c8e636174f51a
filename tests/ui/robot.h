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

inline void PressButton(HWND window, const char* caption) {
  if (HWND button = FindChild(window, "Button", caption)) {
    ::SendMessageA(button, BM_CLICK, 0, 0);
  }
}

}  // namespace qvtest
