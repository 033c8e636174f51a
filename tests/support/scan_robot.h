// A robot that uses the product's windows as a person would: it finds
// windows by caption and presses their buttons, reads the page box, and
// waits for the window to come back from scanning.
#pragma once

#include <windows.h>

#include <string>
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
//   sleep:MS
bool RunStep(const std::string& step, std::string& reason);
bool RunSteps(const std::vector<std::string>& steps, std::string& reason);
// The window the last "window:" step found.
HWND CurrentWindow();

}  // namespace quorvex::robot
