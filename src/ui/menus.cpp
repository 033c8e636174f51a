#include "ui/menus.h"

#include <cctype>
#include <cstring>

#include "base/conversions.h"
#include "base/format.h"
#include "ui/form.h"

namespace lumetra::ui {

namespace {

std::uint16_t NextCommand() {
  // Menu command ids share WM_COMMAND with the dialog ids below 0x100.
  static std::uint16_t next = 0x100;
  if (next == 0xFFFF) next = 0x100;
  return next++;
}

struct KeyName {
  const char* name;
  std::uint16_t key;
};
// The names the component model prints for keys without a character.
constexpr KeyName kKeyNames[] = {
    {"BkSp", VK_BACK}, {"Tab", VK_TAB},     {"Enter", VK_RETURN}, {"Esc", VK_ESCAPE},
    {"Space", VK_SPACE}, {"PgUp", VK_PRIOR}, {"PgDn", VK_NEXT},   {"End", VK_END},
    {"Home", VK_HOME},   {"Left", VK_LEFT},  {"Up", VK_UP},       {"Right", VK_RIGHT},
    {"Down", VK_DOWN},   {"Ins", VK_INSERT}, {"Del", VK_DELETE},
};

TShortCut CurrentModifiers() {
  TShortCut s = 0;
  if (::GetKeyState(VK_SHIFT) < 0) s |= scShift;
  if (::GetKeyState(VK_CONTROL) < 0) s |= scCtrl;
  if (::GetKeyState(VK_MENU) < 0) s |= scAlt;
  return s;
}

}  // namespace

TShortCut TextToShortCut(const std::string& text) {
  if (text.empty()) return scNone;
  TShortCut modifiers = 0;
  std::string rest = text;
  for (;;) {
    const std::size_t plus = rest.find('+');
    if (plus == std::string::npos || plus + 1 == rest.size()) break;
    const std::string part = rest.substr(0, plus);
    if (SameText(part, "Shift")) modifiers |= scShift;
    else if (SameText(part, "Ctrl")) modifiers |= scCtrl;
    else if (SameText(part, "Alt")) modifiers |= scAlt;
    else break;
    rest = rest.substr(plus + 1);
  }
  std::uint16_t key = 0;
  if (rest.size() == 1 && std::isalnum(static_cast<unsigned char>(rest[0]))) {
    key = static_cast<std::uint16_t>(std::toupper(static_cast<unsigned char>(rest[0])));
  } else if (rest.size() >= 2 && (rest[0] == 'F' || rest[0] == 'f') &&
             std::isdigit(static_cast<unsigned char>(rest[1]))) {
    const int n = std::atoi(rest.c_str() + 1);
    if (n >= 1 && n <= 12 && std::to_string(n) == rest.substr(1)) {
      key = static_cast<std::uint16_t>(VK_F1 + n - 1);
    }
  } else {
    for (const KeyName& k : kKeyNames) {
      if (SameText(rest, k.name)) key = k.key;
    }
  }
  if (!key) throw EConvertError(Format("Invalid short-cut '%s'", text));
  return static_cast<TShortCut>(key | modifiers);
}

std::string ShortCutToText(TShortCut shortCut) {
  if (shortCut == scNone) return {};
  std::string text;
  if (shortCut & scShift) text += "Shift+";
  if (shortCut & scCtrl) text += "Ctrl+";
  if (shortCut & scAlt) text += "Alt+";
  const std::uint16_t key = shortCut & 0x1FFF;
  if ((key >= '0' && key <= '9') || (key >= 'A' && key <= 'Z')) {
    text += static_cast<char>(key);
  } else if (key >= VK_F1 && key <= VK_F12) {
    text += "F" + std::to_string(key - VK_F1 + 1);
  } else {
    for (const KeyName& k : kKeyNames) {
      if (k.key == key) return text + k.name;
    }
    return {};
  }
  return text;
}

// --- items ------------------------------------------------------------------------

TMenuItem::TMenuItem(TMenu* owner, std::string name)
    : owner_(owner), name_(std::move(name)), command_(NextCommand()) {}

void TMenuItem::Changed(bool structural) {
  if (owner_) owner_->ItemChanged(*this, structural);
}

void TMenuItem::SetCaption(const std::string& value) {
  if (caption_ == value) return;
  caption_ = value;
  Changed(true);
}
void TMenuItem::SetShortCut(TShortCut value) {
  if (shortCut_ == value) return;
  shortCut_ = value;
  Changed(true);
}
void TMenuItem::SetVisible(bool value) {
  if (visible_ == value) return;
  visible_ = value;
  Changed(true);
}
void TMenuItem::SetEnabled(bool value) {
  if (enabled_ == value) return;
  enabled_ = value;
  Changed(false);
}
void TMenuItem::SetChecked(bool value) {
  if (checked_ == value) return;
  checked_ = value;
  Changed(false);
}
void TMenuItem::SetRadioItem(bool value) {
  if (radioItem_ == value) return;
  radioItem_ = value;
  Changed(true);
}

TMenuItem& TMenuItem::Add(std::unique_ptr<TMenuItem> item) {
  item->parent_ = this;
  item->owner_ = owner_;
  items_.push_back(std::move(item));
  Changed(true);
  return *items_.back();
}

void TMenuItem::Click() {
  if (OnClick) OnClick(this);
}

// --- menus ------------------------------------------------------------------------

TMenu::TMenu(bool popup) : root_(this, ""), popup_(popup) {}

TMenu::~TMenu() {
  if (handle_) ::DestroyMenu(handle_);
}

void TMenu::Build(std::span<const TMenuItemDef> defs) {
  std::vector<TMenuItem*> path{&root_};
  for (const TMenuItemDef& def : defs) {
    if (def.level < 0 || def.level + 1 > static_cast<int>(path.size())) {
      throw EInvalidOperation(Format("Menu item %s is nested too deep", def.name));
    }
    path.resize(static_cast<std::size_t>(def.level) + 1);
    auto item = std::make_unique<TMenuItem>(this, def.name);
    item->caption_ = def.caption;
    item->shortCut_ = TextToShortCut(def.shortCut ? def.shortCut : "");
    item->visible_ = !(def.flags & miHidden);
    item->enabled_ = !(def.flags & miDisabled);
    item->checked_ = (def.flags & miChecked) != 0;
    item->radioItem_ = (def.flags & miRadioItem) != 0;
    item->OnClick = def.onClick;
    item->parent_ = path.back();
    path.back()->items_.push_back(std::move(item));
    path.push_back(path.back()->items_.back().get());
  }
  Rebuild();
}

namespace {
template <typename Pred>
TMenuItem* FindIn(TMenuItem& item, Pred pred) {
  for (int i = 0; i < item.Count(); ++i) {
    TMenuItem& child = item.Items(i);
    if (pred(child)) return &child;
    if (TMenuItem* found = FindIn(child, pred)) return found;
  }
  return nullptr;
}
}  // namespace

TMenuItem* TMenu::Find(const std::string& name) {
  return FindIn(root_, [&](const TMenuItem& i) { return i.Name() == name; });
}

TMenuItem& TMenu::operator[](const std::string& name) {
  if (TMenuItem* item = Find(name)) return *item;
  throw EInvalidOperation(Format("Menu item %s not found", name));
}

TMenuItem* TMenu::FindCommand(std::uint16_t command) {
  return FindIn(root_, [&](const TMenuItem& i) { return i.Command() == command; });
}

TMenuItem* TMenu::FindShortCut(TShortCut shortCut) {
  if (shortCut == scNone) return nullptr;
  return FindIn(root_, [&](const TMenuItem& i) { return i.ShortCut() == shortCut; });
}

namespace {
bool EnabledPath(const TMenuItem& item) {
  for (const TMenuItem* i = &item; i && i->Parent(); i = i->Parent()) {
    if (!i->Enabled()) return false;
  }
  return true;
}
}  // namespace

bool TMenu::DispatchCommand(std::uint16_t command) {
  TMenuItem* item = FindCommand(command);
  if (!item) return false;
  if (EnabledPath(*item) && item->Count() == 0) item->Click();
  return true;
}

bool TMenu::IsShortCut(const MSG& msg) {
  if (msg.message != WM_KEYDOWN && msg.message != WM_SYSKEYDOWN) return false;
  const auto key = static_cast<std::uint16_t>(msg.wParam & 0x1FFF);
  if (key == VK_SHIFT || key == VK_CONTROL || key == VK_MENU) return false;
  TMenuItem* item = FindShortCut(static_cast<TShortCut>(key | CurrentModifiers()));
  if (!item || item->Count() != 0) return false;
  if (EnabledPath(*item)) item->Click();
  return true;
}

void TMenu::Fill(HMENU menu, const TMenuItem& parent) {
  // A separator shows only between two visible items: hidden items leave
  // no line at either end of a menu, nor two lines in a row.
  bool separate = false;
  bool anyShown = false;
  for (int i = 0; i < parent.Count(); ++i) {
    const TMenuItem& item = parent.Items(i);
    if (!item.Visible()) continue;
    if (item.IsSeparator()) {
      separate = anyShown;
      continue;
    }
    if (separate) ::AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    separate = false;
    anyShown = true;
    std::string text = item.Caption();
    if (item.ShortCut() != scNone) text += "\t" + ShortCutToText(item.ShortCut());
    UINT flags = MF_STRING | (item.Enabled() ? MF_ENABLED : MF_GRAYED) |
                 (item.Checked() ? MF_CHECKED : MF_UNCHECKED);
    if (item.Count() > 0) {
      HMENU sub = ::CreatePopupMenu();
      Fill(sub, item);
      ::AppendMenuA(menu, flags | MF_POPUP, reinterpret_cast<UINT_PTR>(sub), text.c_str());
    } else {
      ::AppendMenuA(menu, flags, item.Command(), text.c_str());
      if (item.Checked() && item.RadioItem()) {
        const int pos = ::GetMenuItemCount(menu) - 1;
        ::CheckMenuRadioItem(menu, pos, pos, pos, MF_BYPOSITION);
      }
    }
  }
}

void TMenu::Rebuild() {
  HMENU old = handle_;
  handle_ = popup_ ? ::CreatePopupMenu() : ::CreateMenu();
  if (!handle_) RaiseLastWin32Error("CreateMenu failed");
  Fill(handle_, root_);
  HandleChanged();
  if (old) ::DestroyMenu(old);
}

HMENU TMenu::Handle() {
  if (!handle_) Rebuild();
  return handle_;
}

void TMenu::ItemChanged(TMenuItem& item, bool structural) {
  if (!handle_) return;
  if (structural) {
    Rebuild();
    return;
  }
  // Enabled and checked states change in place; the item may be in a
  // hidden part of the menu, where there is nothing to change.
  MENUITEMINFOA info{};
  info.cbSize = sizeof info;
  info.fMask = MIIM_STATE;
  info.fState = (item.Enabled() ? MFS_ENABLED : MFS_DISABLED) |
                (item.Checked() ? MFS_CHECKED : MFS_UNCHECKED);
  if (item.Count() > 0) {
    Rebuild();
    return;
  }
  ::SetMenuItemInfoA(handle_, item.Command(), FALSE, &info);
  HandleChanged();
}

TMainMenu::~TMainMenu() {
  if (window_ && ::IsWindow(window_)) {
    if (auto* form = dynamic_cast<TForm*>(TControl::FromHandle(window_))) form->MenuGone(this);
    ::SetMenu(window_, nullptr);
  }
}

void TMainMenu::AttachTo(HWND window) {
  window_ = window;
  if (window_) ::SetMenu(window_, Handle());
}

void TMainMenu::HandleChanged() {
  if (!window_) return;
  if (::GetMenu(window_) != Handle()) ::SetMenu(window_, Handle());
  ::DrawMenuBar(window_);
}

void TPopupMenu::Popup(int x, int y, HWND owner) {
  if (!owner) owner = ::GetActiveWindow();
  const UINT command = static_cast<UINT>(::TrackPopupMenu(
      Handle(), TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, x, y, 0, owner, nullptr));
  if (command) DispatchCommand(static_cast<std::uint16_t>(command));
}

}  // namespace lumetra::ui
