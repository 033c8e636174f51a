// Main and pop-up menus built from tables. A form describes its menu as an
// array of TMenuItemDef rows (nesting level, component name, caption,
// short-cut text, initial flags, handler); the menu walks the array once and
// keeps one TMenuItem per row. Short-cuts are matched by the form before a
// key reaches any control: an enabled item runs from its short-cut even
// while hidden, a disabled one does not.
//
//   const ui::TMenuItemDef rows[] = {
//     {0, "FileMenu", "&File"},
//     {1, "OpenMenu", "&Open ...", "Ctrl+O", 0, [this](TObject* s) { OpenMenuClick(s); }},
//     {1, "SaveMenu", "&Save", "Ctrl+S", ui::miHidden | ui::miDisabled},
//   };
//   MainMenu.Build(rows);
//   SetMenu(&MainMenu);
//   MainMenu["SaveMenu"].SetEnabled(true);
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "ui/control.h"

namespace lumetra::ui {

// A virtual key with the modifier bits of the component model.
using TShortCut = std::uint16_t;
enum : TShortCut { scShift = 0x2000, scCtrl = 0x4000, scAlt = 0x8000, scNone = 0 };
// "Ctrl+O", "Shift+Ctrl+S", "F1", "Del", "Ins", "Alt+BkSp"; "" gives scNone.
// Raises EConvertError "Invalid short-cut '%s'" for text that names no key.
TShortCut TextToShortCut(const std::string& text);
std::string ShortCutToText(TShortCut shortCut);

enum : unsigned {
  miHidden = 0x01,
  miDisabled = 0x02,
  miChecked = 0x04,
  miRadioItem = 0x08,  // checked items of one group show a bullet
};

struct TMenuItemDef {
  TMenuItemDef(int level, const char* name, const char* caption, const char* shortCut = "",
               unsigned flags = 0, TNotifyEvent onClick = {})
      : level(level), name(name), caption(caption), shortCut(shortCut), flags(flags),
        onClick(std::move(onClick)) {}
  int level = 0;             // 0 = item of the menu bar (or of the pop-up)
  const char* name = "";     // component name, for lookup
  const char* caption = "";  // "-" is a separator
  const char* shortCut = "";
  unsigned flags = 0;
  TNotifyEvent onClick;
};

class TMenu;

class TMenuItem : public TObject {
 public:
  TMenuItem(TMenu* owner, std::string name);
  TMenuItem(const TMenuItem&) = delete;
  TMenuItem& operator=(const TMenuItem&) = delete;
  const char* ClassName() const noexcept override { return "TMenuItem"; }

  const std::string& Name() const { return name_; }
  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& value);
  TShortCut ShortCut() const { return shortCut_; }
  void SetShortCut(TShortCut value);
  bool Visible() const { return visible_; }
  void SetVisible(bool value);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  bool Checked() const { return checked_; }
  void SetChecked(bool value);
  bool RadioItem() const { return radioItem_; }
  void SetRadioItem(bool value);
  bool IsSeparator() const { return caption_ == "-"; }

  int Count() const { return static_cast<int>(items_.size()); }
  TMenuItem& Items(int index) const { return *items_.at(static_cast<std::size_t>(index)); }
  TMenuItem* Parent() const { return parent_; }
  TMenuItem& Add(std::unique_ptr<TMenuItem> item);
  std::uint16_t Command() const { return command_; }

  // Runs the handler, as a click on the item does.
  void Click();
  TNotifyEvent OnClick;

 private:
  friend class TMenu;
  void Changed(bool structural);
  TMenu* owner_;
  TMenuItem* parent_ = nullptr;
  std::string name_;
  std::string caption_;
  TShortCut shortCut_ = scNone;
  bool visible_ = true;
  bool enabled_ = true;
  bool checked_ = false;
  bool radioItem_ = false;
  std::uint16_t command_;
  std::vector<std::unique_ptr<TMenuItem>> items_;
};

class TMenu : public TObject {
 public:
  TMenu(bool popup);
  ~TMenu() override;
  TMenu(const TMenu&) = delete;
  TMenu& operator=(const TMenu&) = delete;

  // Adds the rows of Defs to the items (a row's parent is the nearest row
  // above it with a lower level). Raises EInvalidOperation for a row whose
  // level jumps by more than one.
  void Build(std::span<const TMenuItemDef> defs);
  TMenuItem& Items() { return root_; }
  TMenuItem* Find(const std::string& name);
  // Raises EInvalidOperation "Menu item %s not found".
  TMenuItem& operator[](const std::string& name);
  TMenuItem* FindCommand(std::uint16_t command);
  TMenuItem* FindShortCut(TShortCut shortCut);

  HMENU Handle();
  // Runs the item of a WM_COMMAND id when it and its parents are enabled.
  bool DispatchCommand(std::uint16_t command);
  // Runs the item whose short-cut a key message carries; answers whether
  // one did.
  bool IsShortCut(const MSG& msg);

 protected:
  void Rebuild();
  virtual void HandleChanged() {}

 private:
  friend class TMenuItem;
  void ItemChanged(TMenuItem& item, bool structural);
  void Fill(HMENU menu, const TMenuItem& parent);
  TMenuItem root_;
  bool popup_;
  HMENU handle_ = nullptr;
};

// The menu bar of a form (TForm::SetMenu).
class TMainMenu : public TMenu {
 public:
  TMainMenu() : TMenu(false) {}
  // A form's menu is usually a member of the form and goes before it: it
  // takes itself off the window and out of the form first.
  ~TMainMenu() override;
  const char* ClassName() const noexcept override { return "TMainMenu"; }
  void AttachTo(HWND window);
  HWND Window() const { return window_; }

 protected:
  void HandleChanged() override;

 private:
  HWND window_ = nullptr;
};

class TPopupMenu : public TMenu {
 public:
  TPopupMenu() : TMenu(true) {}
  const char* ClassName() const noexcept override { return "TPopupMenu"; }
  // Shows the menu at a screen point and runs the chosen item.
  void Popup(int x, int y, HWND owner = nullptr);
};

}  // namespace lumetra::ui
