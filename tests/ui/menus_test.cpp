#include <gtest/gtest.h>

#include <thread>

#include "ui/form.h"
#include "ui/menus.h"
#include "support/ui_robot.h"

namespace ui = lumetra::ui;

namespace {

struct ShortCutCase {
  const char* text;
  ui::TShortCut value;
};

class ShortCutText : public testing::TestWithParam<ShortCutCase> {};

TEST_P(ShortCutText, ParsesAndPrintsAlike) {
  EXPECT_EQ(ui::TextToShortCut(GetParam().text), GetParam().value);
  EXPECT_EQ(ui::ShortCutToText(GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, ShortCutText,
    testing::Values(ShortCutCase{"Ctrl+O", ui::scCtrl | 'O'},
                    ShortCutCase{"Shift+Ctrl+S", ui::scShift | ui::scCtrl | 'S'},
                    ShortCutCase{"F12", VK_F12}, ShortCutCase{"Del", VK_DELETE},
                    ShortCutCase{"Alt+BkSp", ui::scAlt | VK_BACK}, ShortCutCase{"", 0}));

TEST(ShortCutText, RejectsTextThatNamesNoKey) {
  for (const char* bad : {"Ctrl+", "Foo", "F13", "Ctrl+Foo"}) {
    EXPECT_THROW(ui::TextToShortCut(bad), lumetra::EConvertError) << bad;
  }
}

int OpenClicks = 0, SaveClicks = 0, UndoClicks = 0;

const ui::TMenuItemDef kRows[] = {
    {0, "FileMenu", "&File"},
    {1, "OpenMenu", "&Open ...", "Ctrl+O", 0, [](lumetra::TObject*) { ++OpenClicks; }},
    {1, "SaveMenu", "&Save", "Ctrl+S", ui::miHidden | ui::miDisabled,
     [](lumetra::TObject*) { ++SaveClicks; }},
    {1, "N1", "-"},
    {1, "ExitMenu", "E&xit"},
    {0, "EditMenu", "&Edit", "", ui::miHidden},
    {1, "UndoMenu", "&Undo", "F5", 0, [](lumetra::TObject*) { ++UndoClicks; }},
    {0, "ViewMenu", "&View"},
    {1, "CenteredMenu", "&Centered", "", ui::miChecked},
    {1, "MouseModeMenu", "&Mouse Mode"},
    {2, "DragMenu", "&Drag", "", ui::miRadioItem | ui::miChecked},
    {2, "SelectMenu", "&Select", "", ui::miRadioItem},
};

class MenuTable : public testing::Test {
 protected:
  void SetUp() override {
    OpenClicks = SaveClicks = UndoClicks = 0;
    menu.Build(kRows);
  }
  ui::TMainMenu menu;
};

TEST(MenuSeparators, ShowOnlyBetweenVisibleItems) {
  const ui::TMenuItemDef rows[] = {
      {0, "ViewMenu", "&View"},         {1, "N0", "-"},
      {1, "FullPageMenu", "&Full Page"}, {1, "N1", "-"},
      {1, "HiddenMenu", "Hidden", "", ui::miHidden},
      {1, "N2", "-"},                    {1, "FitWidthMenu", "Fit &Width"},
      {1, "N3", "-"},                    {1, "AnimatedMenu", "A&nimated", "", ui::miHidden},
  };
  ui::TMainMenu menu;
  menu.Build(rows);
  HMENU view = ::GetSubMenu(menu.Handle(), 0);
  ASSERT_EQ(::GetMenuItemCount(view), 3);  // Full Page, one line, Fit Width
  EXPECT_TRUE(::GetMenuState(view, 1, MF_BYPOSITION) & MF_SEPARATOR);
  menu["AnimatedMenu"].SetVisible(true);
  EXPECT_EQ(::GetMenuItemCount(::GetSubMenu(menu.Handle(), 0)), 5);
}

TEST_F(MenuTable, NestsRowsByLevelAndShowsOnlyVisibleItems) {
  EXPECT_EQ(menu.Items().Count(), 3);
  EXPECT_EQ(menu["MouseModeMenu"].Count(), 2);
  EXPECT_EQ(menu["DragMenu"].Parent(), &menu["MouseModeMenu"]);
  HMENU bar = menu.Handle();
  EXPECT_EQ(::GetMenuItemCount(bar), 2);  // Edit is hidden
  HMENU file = ::GetSubMenu(bar, 0);
  EXPECT_EQ(::GetMenuItemCount(file), 3);  // Open, separator, Exit
  char text[64] = {};
  ::GetMenuStringA(file, 0, text, sizeof text, MF_BYPOSITION);
  EXPECT_STREQ(text, "&Open ...\tCtrl+O");

  menu["SaveMenu"].SetVisible(true);
  file = ::GetSubMenu(menu.Handle(), 0);
  EXPECT_EQ(::GetMenuItemCount(file), 4);
  EXPECT_TRUE(::GetMenuState(file, menu["SaveMenu"].Command(), MF_BYCOMMAND) & MF_GRAYED);
}

TEST_F(MenuTable, KeepsCheckAndEnabledStatesInTheHandle) {
  HMENU bar = menu.Handle();
  const UINT centered = menu["CenteredMenu"].Command();
  EXPECT_TRUE(::GetMenuState(bar, centered, MF_BYCOMMAND) & MF_CHECKED);
  menu["CenteredMenu"].SetChecked(false);
  EXPECT_FALSE(::GetMenuState(menu.Handle(), centered, MF_BYCOMMAND) & MF_CHECKED);
  menu["OpenMenu"].SetEnabled(false);
  EXPECT_TRUE(::GetMenuState(menu.Handle(), menu["OpenMenu"].Command(), MF_BYCOMMAND) &
              MF_GRAYED);
}

TEST_F(MenuTable, RunsOnlyEnabledItemsFromCommandsAndShortCuts) {
  EXPECT_TRUE(menu.DispatchCommand(menu["OpenMenu"].Command()));
  EXPECT_EQ(OpenClicks, 1);
  EXPECT_TRUE(menu.DispatchCommand(menu["SaveMenu"].Command()));
  EXPECT_EQ(SaveClicks, 0);  // disabled
  EXPECT_FALSE(menu.DispatchCommand(0x7FFF));

  // A hidden but enabled item still answers its short-cut.
  MSG key{};
  key.message = WM_KEYDOWN;
  key.wParam = VK_F5;
  EXPECT_TRUE(menu.IsShortCut(key));
  EXPECT_EQ(UndoClicks, 1);
  menu["UndoMenu"].SetEnabled(false);
  EXPECT_TRUE(menu.IsShortCut(key));
  EXPECT_EQ(UndoClicks, 1);
  // Disabling the parent disables the child too.
  menu["UndoMenu"].SetEnabled(true);
  menu["EditMenu"].SetEnabled(false);
  menu.IsShortCut(key);
  EXPECT_EQ(UndoClicks, 1);
}

TEST(MenuTableErrors, RejectsLevelJumpsAndUnknownNames) {
  const ui::TMenuItemDef rows[] = {{0, "A", "&A"}, {2, "B", "&B"}};
  ui::TPopupMenu menu;
  EXPECT_THROW(menu.Build(rows), lumetra::EInvalidOperation);
  EXPECT_THROW(menu["Nothing"], lumetra::EInvalidOperation);
}

}  // namespace

namespace {

TEST(PopupMenu, ARightClickPopsItUpAndRunsTheChosenItem) {
  ui::TForm form("Popup test", 200, 150);
  ui::TPanel panel(form);
  panel.SetBounds(0, 0, 200, 150);
  int copies = 0, pastes = 0;
  const ui::TMenuItemDef rows[] = {
      {0, "CopyItem", "&Copy", "", 0, [&](lumetra::TObject*) { ++copies; }},
      {0, "HiddenItem", "&Hidden", "", ui::miHidden, [&](lumetra::TObject*) { ++pastes; }},
      {0, "PasteItem", "&Paste", "", 0, [&](lumetra::TObject*) { ++pastes; }},
  };
  ui::TPopupMenu popup;
  popup.Build(rows);
  panel.SetPopupMenu(&popup);
  form.Show();
  // The robot chooses the second visible item with the keyboard.
  std::thread chooser([] {
    for (int i = 0; i < 500; ++i) {
      HWND menu = ::FindWindowA("#32768", nullptr);
      if (menu && ::IsWindowVisible(menu)) {
        ::PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
        ::PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
        ::PostMessageA(menu, WM_KEYDOWN, VK_RETURN, 0);
        return;
      }
      ::Sleep(10);
    }
  });
  ::SendMessageA(panel.Handle(), WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(20, 20));
  ::SendMessageA(panel.Handle(), WM_RBUTTONUP, 0, MAKELPARAM(20, 20));
  chooser.join();
  EXPECT_EQ(copies, 0);
  EXPECT_EQ(pastes, 1);
  form.Hide();
}

}  // namespace
