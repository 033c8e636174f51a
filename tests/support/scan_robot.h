// A robot that uses the product's windows as a person would: it finds
// windows by caption and presses their buttons, reads the page box, and
// waits for the window to come back from scanning.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace quorvex::robot {

// Runs one step; false (with a reason) when it did not succeed in time.
//   window:CAPTION      wait for a visible top-level window; it becomes current
//   click:TEXT          press the current window's enabled button TEXT
//   dialog:CAPTION=TEXT wait for window CAPTION and press its button TEXT
//   message:CAPTION=TEXT wait for a message box CAPTION saying TEXT (* any), press OK
//   page:N              wait until the window is enabled and the page box reads N
//   pagebox:TEXT        type TEXT into the page box
//   disabled:TEXT       once the window is enabled, its button TEXT stays disabled
//   reads:N             wait until the page box reads N, the window busy or not
//   status:TEXT         wait until the status bar reads TEXT
//   zoombelow:N         the zoom box holds a number below N now
//   idle                wait until the current window is enabled
//   menu:TEXT           run the current window's menu command TEXT ("Open ...")
//   pick:CAPTION=PATH   in open dialog CAPTION, select file PATH in its list
//   inuse:PATH          wait until some handle has file PATH open
//   sleep:MS
bool RunStep(const std::string& step, std::string& reason);
bool RunSteps(const std::vector<std::string>& steps, std::string& reason);
// The window the last "window:" step found.
HWND CurrentWindow();
// Picks Path in the open dialog Dialog as a person would: the folder typed
// into the name box and opened, then the file's name typed into the list.
bool PickFile(HWND dialog, const std::string& path, std::string& reason);
// Whether some handle has the file Path open.
bool FileInUse(const std::string& path);

// Ends a window the steps could not finish, as a person who gives up would:
// answers each box it shows (printing what it says; a question gets No),
// stops a running source and presses Cancel, until Returned reads true or
// a minute has passed. The host's call then returns and the test fails
// instead of hanging.
void GiveUp(const std::atomic<bool>& returned);

// A person at the window: runs Steps on a thread of its own while the
// host's thread is inside the call that shows the window (Scan). Steps
// that fail are printed and the window given up.
class TPerson {
 public:
  explicit TPerson(std::vector<std::string> steps);
  ~TPerson();
  TPerson(const TPerson&) = delete;
  TPerson& operator=(const TPerson&) = delete;
  // Call when the host's call has returned: true when every step ran.
  bool Finish(std::string& reason);

 private:
  std::atomic<bool> returned_{false};
  bool ok_ = false;
  std::string reason_;
  std::thread thread_;
};

}  // namespace quorvex::robot
