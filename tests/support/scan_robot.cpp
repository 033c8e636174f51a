#include "support/scan_robot.h"

#include <cstdio>
#include <cstdlib>

namespace quorvex::robot {

namespace {

// How long a step waits: a minute, or QV_ROBOT_TIMEOUT_MS for long batches.
DWORD TimeoutMs() {
  static const DWORD timeout = [] {
    char text[16] = {};
    const DWORD n = GetEnvironmentVariableA("QV_ROBOT_TIMEOUT_MS", text, sizeof text);
    const long value = n > 0 && n < sizeof text ? std::atol(text) : 0;
    return value > 0 ? static_cast<DWORD>(value) : DWORD{60000};
  }();
  return timeout;
}
HWND current = nullptr;

std::string TextOf(HWND window) {
  char text[512] = {};
  // WM_GETTEXT works across processes for the window text of controls.
  SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                      SMTO_ABORTIFHUNG, 2000, nullptr);
  return text;
}

std::string ClassOf(HWND window) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

HWND FindButton(HWND parent, const std::string& text);

struct TFind {
  std::string caption;
  std::string button;  // when set, the window must have this button
  HWND found = nullptr;
};

BOOL CALLBACK FindTop(HWND window, LPARAM data) {
  auto& find = *reinterpret_cast<TFind*>(data);
  if (IsWindowVisible(window) && TextOf(window) == find.caption &&
      (find.button.empty() || FindButton(window, find.button))) {
    find.found = window;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK ListTop(HWND window, LPARAM) {
  if (IsWindowVisible(window))
    std::fprintf(stderr, "robot: window \"%s\" class %s\n", TextOf(window).c_str(),
                 ClassOf(window).c_str());
  return TRUE;
}

HWND WaitTopLevel(const std::string& caption, const std::string& button = "") {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < TimeoutMs()) {
    TFind find{caption, button};
    EnumWindows(FindTop, reinterpret_cast<LPARAM>(&find));
    if (find.found) return find.found;
    Sleep(50);
  }
  return nullptr;
}

struct TChildren {
  std::vector<HWND> list;
};

BOOL CALLBACK CollectChild(HWND window, LPARAM data) {
  reinterpret_cast<TChildren*>(data)->list.push_back(window);
  return TRUE;
}

std::vector<HWND> Children(HWND parent) {
  TChildren children;
  EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&children));
  return children.list;
}

HWND FindButton(HWND parent, const std::string& text) {
  for (HWND child : Children(parent)) {
    if (ClassOf(child) != "Button" || !IsWindowVisible(child)) continue;
    std::string caption = TextOf(child);
    std::string plain;
    for (char c : caption)
      if (c != '&') plain += c;
    if (plain == text) return child;
  }
  return nullptr;
}

// The N-th child of a class (1-based): the zoom box is the first edit of the
// top panel, the page box the second.
HWND NthChild(HWND form, const char* className, int n) {
  int seen = 0;
  for (HWND child : Children(form))
    if (ClassOf(child) == className && ++seen == n) return child;
  return nullptr;
}
HWND PageBox(HWND form) { return NthChild(form, "Edit", 2); }

// Waits until the text of the current window's child (found by Find) reads
// Expected, whatever the window's state.
template <class F>
bool WaitForText(F find, const std::string& expected, const char* what, bool needEnabled,
                 std::string& reason) {
  const DWORD start = GetTickCount();
  std::string seen;
  while (GetTickCount() - start < TimeoutMs()) {
    HWND child = current ? find(current) : nullptr;
    seen = child ? TextOf(child) : std::string("<none>");
    if (child && seen == expected && (!needEnabled || IsWindowEnabled(current))) return true;
    Sleep(50);
  }
  reason = std::string(what) + " reads \"" + seen + "\", expected \"" + expected + "\"";
  return false;
}

bool Press(HWND window, const std::string& text, std::string& reason);

// The command id of the menu item whose caption, without its '&' and
// shortcut, reads Text; 0 when there is none.
UINT FindMenuCommand(HMENU menu, const std::string& text) {
  for (int i = 0, n = GetMenuItemCount(menu); i < n; ++i) {
    if (HMENU sub = GetSubMenu(menu, i)) {
      if (UINT id = FindMenuCommand(sub, text)) return id;
      continue;
    }
    char caption[256] = {};
    GetMenuStringA(menu, static_cast<UINT>(i), caption, sizeof caption, MF_BYPOSITION);
    std::string plain;
    for (const char* c = caption; *c && *c != '\t'; ++c)
      if (*c != '&') plain += *c;
    if (plain == text) return GetMenuItemID(menu, i);
  }
  return 0;
}

bool Press(HWND window, const std::string& text, std::string& reason) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < TimeoutMs()) {
    HWND button = FindButton(window, text);
    if (button && IsWindowEnabled(button) && IsWindowEnabled(window)) {
      // Posted, as a mouse click would queue: the button's handler may run
      // a modal loop of its own.
      PostMessageA(button, BM_CLICK, 0, 0);
      Sleep(100);
      return true;
    }
    Sleep(50);
  }
  reason = "no enabled button \"" + text + "\"";
  return false;
}

}  // namespace

bool RunStep(const std::string& step, std::string& reason) {
  const auto colon = step.find(':');
  const std::string verb = step.substr(0, colon);
  const std::string arg = colon == std::string::npos ? "" : step.substr(colon + 1);
  if (verb == "window") {
    current = WaitTopLevel(arg);
    if (!current) reason = "no window \"" + arg + "\"";
    return current != nullptr;
  }
  if (verb == "click") {
    if (!current) {
      reason = "no current window";
      return false;
    }
    return Press(current, arg, reason);
  }
  if (verb == "dialog") {
    const auto equals = arg.find('=');
    HWND dialog = WaitTopLevel(arg.substr(0, equals), arg.substr(equals + 1));
    if (!dialog) {
      reason = "no dialog \"" + arg.substr(0, equals) + "\"";
      return false;
    }
    return Press(dialog, arg.substr(equals + 1), reason);
  }
  if (verb == "message") {
    // message:CAPTION=TEXT: a box CAPTION showing TEXT, closed with its OK.
    const auto equals = arg.find('=');
    const std::string caption = arg.substr(0, equals), text = arg.substr(equals + 1);
    HWND box = WaitTopLevel(caption, "OK");
    if (!box) {
      reason = "no message box \"" + caption + "\"";
      return false;
    }
    // TEXT "*" takes any message and prints it.
    bool shown = false;
    std::string says;
    for (HWND child : Children(box)) {
      if (ClassOf(child) == "Static" && !TextOf(child).empty()) says = TextOf(child);
      if (text == "*" && !says.empty()) {
        std::printf("robot: message \"%s\"\n", says.c_str());
        shown = true;
      }
      shown = shown || TextOf(child) == text;
    }
    if (!shown) {
      reason = "the box says \"" + says + "\", not \"" + text + "\"";
      return false;
    }
    return Press(box, "OK", reason);
  }
  if (verb == "page" || verb == "reads")
    return WaitForText(PageBox, arg, "page box", verb == "page", reason);
  if (verb == "status") {
    // The status bar answers WM_GETTEXT with its first panel.
    return WaitForText([](HWND form) { return NthChild(form, "msctls_statusbar32", 1); }, arg,
                       "status bar", false, reason);
  }
  if (verb == "zoombelow") {
    HWND box = current ? NthChild(current, "Edit", 1) : nullptr;
    const std::string text = box ? TextOf(box) : "";
    if (!text.empty() && atoi(text.c_str()) < atoi(arg.c_str())) return true;
    reason = "zoom box reads \"" + text + "\"";
    return false;
  }
  if (verb == "idle") {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < TimeoutMs()) {
      if (current && IsWindowEnabled(current)) return true;
      Sleep(50);
    }
    reason = "the window stays disabled";
    return false;
  }
  if (verb == "disabled") {
    const DWORD start = GetTickCount();
    while (current && !IsWindowEnabled(current) && GetTickCount() - start < TimeoutMs()) Sleep(50);
    // Long enough for the window's idle processing to have run.
    Sleep(500);
    HWND button = current ? FindButton(current, arg) : nullptr;
    if (!button) {
      reason = "no button \"" + arg + "\"";
      return false;
    }
    if (IsWindowEnabled(button)) {
      reason = "button \"" + arg + "\" is enabled";
      return false;
    }
    return true;
  }
  if (verb == "pagebox") {
    HWND box = current ? PageBox(current) : nullptr;
    if (!box) {
      reason = "no page box";
      return false;
    }
    SendMessageTimeoutA(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(arg.c_str()),
                        SMTO_ABORTIFHUNG, 5000, nullptr);
    return true;
  }
  if (verb == "menu") {
    const UINT id = current ? FindMenuCommand(GetMenu(current), arg) : 0;
    if (!id) {
      reason = "no menu command \"" + arg + "\"";
      return false;
    }
    PostMessageA(current, WM_COMMAND, MAKEWPARAM(id, 0), 0);
    return true;
  }
  if (verb == "pick") {
    const auto equals = arg.find('=');
    HWND dialog = WaitTopLevel(arg.substr(0, equals), "Cancel");
    if (!dialog) {
      reason = "no dialog \"" + arg.substr(0, equals) + "\"";
      return false;
    }
    return PickFile(dialog, arg.substr(equals + 1), reason);
  }
  if (verb == "inuse") {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < TimeoutMs()) {
      if (FileInUse(arg)) return true;
      Sleep(10);
    }
    reason = "nothing opened \"" + arg + "\"";
    return false;
  }
  if (verb == "list") {
    // For a person debugging a script: every visible top-level window.
    EnumWindows(ListTop, 0);
    return true;
  }
  if (verb == "sleep") {
    Sleep(static_cast<DWORD>(atoi(arg.c_str())));
    return true;
  }
  reason = "unknown step \"" + step + "\"";
  return false;
}

HWND CurrentWindow() { return current; }

// Picks Path in the open dialog Dialog as a person would: the folder typed
// into the name box and opened, then the file's name typed into the list
// (which selects it). True once the name box shows the selection.
bool PickFile(HWND dialog, const std::string& path, std::string& reason) {
  const auto slash = path.find_last_of("\\/");
  const std::string folder = path.substr(0, slash), name = path.substr(slash + 1);
  HWND nameBox = GetDlgItem(dialog, 0x47c);  // the name combo box
  if (!nameBox) nameBox = GetDlgItem(dialog, 0x480);  // or a plain edit
  if (!nameBox) {
    reason = "the dialog has no name box";
    return false;
  }
  SendMessageTimeoutA(nameBox, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(folder.c_str()),
                      SMTO_ABORTIFHUNG, 5000, nullptr);
  if (!Press(dialog, "Open", reason)) return false;
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < TimeoutMs()) {
    HWND list = nullptr;
    for (HWND child : Children(dialog))
      if (ClassOf(child) == "SysListView32") list = child;
    if (list && TextOf(nameBox) != name) {
      PostMessageA(list, WM_SETFOCUS, 0, 0);
      for (char c : name) PostMessageA(list, WM_CHAR, static_cast<unsigned char>(c), 1);
      Sleep(200);
    }
    if (TextOf(nameBox) == name) return true;
    Sleep(100);
  }
  reason = "the name box reads \"" + TextOf(nameBox) + "\", not \"" + name + "\"";
  return false;
}

bool FileInUse(const std::string& path) {
  // An open that shares nothing fails while any other handle is open.
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION;
  CloseHandle(file);
  return false;
}

bool RunSteps(const std::vector<std::string>& steps, std::string& reason) {
  for (const auto& step : steps)
    if (!RunStep(step, reason)) {
      reason = step + ": " + reason;
      return false;
    }
  return true;
}

namespace {

// Presses Text of Window when it is there and enabled now; no waiting.
bool PressNow(HWND window, const char* text) {
  HWND button = FindButton(window, text);
  if (!button || !IsWindowEnabled(button) || !IsWindowEnabled(window)) return false;
  PostMessageA(button, BM_CLICK, 0, 0);
  return true;
}

BOOL CALLBACK AnswerBox(HWND window, LPARAM) {
  if (!IsWindowVisible(window) || TextOf(window).rfind("Quorvex", 0) != 0) return TRUE;
  const bool question = FindButton(window, "No") != nullptr;
  if (!question && !FindButton(window, "OK")) return TRUE;
  for (HWND child : Children(window))
    if (ClassOf(child) == "Static" && !TextOf(child).empty())
      std::fprintf(stderr, "robot: gave up at \"%s\": %s\n", TextOf(window).c_str(),
                   TextOf(child).c_str());
  PressNow(window, question ? "No" : "OK");
  return TRUE;
}

// The scanning window whatever it is captioned (it names the document it
// shows): the visible top-level window with both Scan and Accept.
BOOL CALLBACK FindScanningWindow(HWND window, LPARAM data) {
  if (!IsWindowVisible(window) || !FindButton(window, "Scan") || !FindButton(window, "Accept"))
    return TRUE;
  *reinterpret_cast<HWND*>(data) = window;
  return FALSE;
}

}  // namespace

void GiveUp(const std::atomic<bool>& returned) {
  const DWORD start = GetTickCount();
  while (!returned && GetTickCount() - start < TimeoutMs()) {
    EnumWindows(AnswerBox, 0);
    if (HWND stop = FindWindowA(nullptr, "Quorvex - stop scanning")) PressNow(stop, "Stop");
    HWND window = current && IsWindowVisible(current) ? current : nullptr;
    if (!window) EnumWindows(FindScanningWindow, reinterpret_cast<LPARAM>(&window));
    if (window) PressNow(window, "Cancel");
    Sleep(300);
  }
}

TPerson::TPerson(std::vector<std::string> steps)
    : thread_([this, steps = std::move(steps)] {
        ok_ = RunSteps(steps, reason_);
        if (!ok_) {
          std::fprintf(stderr, "robot: %s\n", reason_.c_str());
          GiveUp(returned_);
        }
      }) {}

TPerson::~TPerson() {
  returned_ = true;
  if (thread_.joinable()) thread_.join();
}

bool TPerson::Finish(std::string& reason) {
  returned_ = true;
  thread_.join();
  reason = reason_;
  return ok_;
}

}  // namespace quorvex::robot
