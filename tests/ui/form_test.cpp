#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <stdexcept>
#include <thread>

#include "ui/dialogs.h"
#include "ui/form.h"
#include "support/ui_robot.h"

namespace ui = lumetra::ui;
using lumetra::TObject;

namespace {

// The scanning window's frame: a top panel, a status bar and a client area.
class TLayoutForm : public ui::TForm {
 public:
  TLayoutForm() : TForm("Layout test", 783, 556) {
    const ui::TMenuItemDef rows[] = {{0, "FileMenu", "&File"}, {1, "ExitMenu", "E&xit"}};
    MainMenu.Build(rows);
    SetMenu(&MainMenu);
    Panel1.SetHeight(46);
    Panel1.SetAlign(ui::alTop);
    sbStatus.SetPanels({100, 100});
    Client.SetAlign(ui::alClient);
    sbAccept.SetBounds(2, 2, 97, 41);
    sbAccept.SetFlat(true);
    ZoomUpDown.SetAssociate(ZoomEdit);
    ZoomUpDown.SetMin(5);
    ZoomUpDown.SetMax(999);
    ZoomUpDown.SetPosition(100);
  }
  ui::TMainMenu MainMenu;
  ui::TPanel Panel1{*this};
  ui::TButton sbAccept{Panel1, "Accept"};
  ui::TEdit ZoomEdit{Panel1, "100"};
  ui::TUpDown ZoomUpDown{Panel1};
  ui::TStatusBar sbStatus{*this};
  ui::TPanel Client{*this};
};

TEST(Form, HasTheExactClientSizeAndLaysOutAlignedControls) {
  TLayoutForm form;
  EXPECT_EQ(form.ClientWidth(), 783);
  EXPECT_EQ(form.ClientHeight(), 556);
  EXPECT_EQ(form.Panel1.Width(), 783);
  EXPECT_EQ(form.Panel1.Top(), 0);
  EXPECT_GT(form.sbStatus.Height(), 0);
  EXPECT_EQ(form.sbStatus.Top() + form.sbStatus.Height(), 556);
  EXPECT_EQ(form.Client.Top(), 46);
  EXPECT_EQ(form.Client.Height(), 556 - 46 - form.sbStatus.Height());
  form.SetClientSize(600, 400);
  EXPECT_EQ(form.ClientWidth(), 600);
  EXPECT_EQ(form.Client.Width(), 600);
}

TEST(Form, UpDownKeepsItsEditInStepWithinItsRange) {
  TLayoutForm form;
  int changes = 0;
  form.ZoomEdit.OnChange = [&](TObject*) { ++changes; };
  form.ZoomUpDown.SetPosition(250);
  EXPECT_EQ(form.ZoomEdit.Text(), "250");
  EXPECT_GT(changes, 0);
  form.ZoomUpDown.SetPosition(5000);
  EXPECT_EQ(form.ZoomUpDown.Position(), 999);
}

TEST(Controls, RadioButtonsOfOneParentFormAGroupAndClicksReachHandlers) {
  ui::TForm form("Controls test", 300, 200);
  ui::TPanel group(form);
  group.SetBounds(0, 0, 300, 100);
  ui::TRadioButton dragMode(group, "&Drag");
  ui::TRadioButton selectMode(group, "&Select");
  ui::TCheckBox centered(form, "&Centered");
  dragMode.SetBounds(8, 8, 100, 20);
  selectMode.SetBounds(8, 32, 100, 20);
  centered.SetBounds(8, 120, 100, 20);
  int clicks = 0;
  centered.OnClick = [&](TObject*) { ++clicks; };
  dragMode.SetChecked(true);
  ::SendMessageA(selectMode.Handle(), BM_CLICK, 0, 0);
  EXPECT_TRUE(selectMode.Checked());
  EXPECT_FALSE(dragMode.Checked());
  ::SendMessageA(centered.Handle(), BM_CLICK, 0, 0);
  EXPECT_TRUE(centered.Checked());
  EXPECT_EQ(clicks, 1);
}

TEST(Controls, MemoLinesAndComboItemsRoundTrip) {
  ui::TForm form("Controls test", 300, 200);
  ui::TMemo memo(form);
  memo.SetLines({"first", "", "third"});
  memo.Append("fourth");
  EXPECT_EQ(memo.Lines(), (std::vector<std::string>{"first", "", "third", "fourth"}));
  ui::TComboBox zoom(form);
  zoom.SetItems({"Actual size", "Full page"});
  zoom.SetItemIndex(1);
  EXPECT_EQ(zoom.ItemCount(), 2);
  EXPECT_EQ(zoom.Items(zoom.ItemIndex()), "Full page");
  EXPECT_EQ(zoom.Items(5), "");
  ui::TStatusBar status(form);
  status.SetPanels({100});
  status.SetPanelText(0, "Page 1 of 3");
  EXPECT_EQ(status.PanelText(0), "Page 1 of 3");
}

TEST(Form, ShowModalEndsWithTheModalResultOfThePressedButton) {
  ui::TForm other("Other window", 200, 100);
  other.Show();
  ui::TForm form("Modal test", 300, 120, ui::bsDialog);
  ui::TButton ok(form, "OK");
  ok.SetBounds(10, 10, 75, 25);
  ok.SetModalResult(ui::mrOk);
  bool otherDisabled = false;
  ok.OnClick = [&](TObject*) { otherDisabled = !other.Enabled(); };
  qvtest::Robot robot("Modal test", [](HWND w) { qvtest::PressButton(w, "OK"); });
  EXPECT_EQ(form.ShowModal(), ui::mrOk);
  EXPECT_TRUE(robot.Found());
  EXPECT_TRUE(otherDisabled);
  EXPECT_TRUE(other.Enabled());
  EXPECT_FALSE(form.Visible());
}

TEST(Form, HidingAModalFormEndsItsLoopAndClosingCancels) {
  ui::TForm form("Hide test", 300, 120);
  ui::TButton hide(form, "Hide");
  hide.SetBounds(10, 10, 75, 25);
  hide.OnClick = [&](TObject*) { form.Hide(); };
  {
    qvtest::Robot robot("Hide test", [](HWND w) { qvtest::PressButton(w, "Hide"); });
    EXPECT_EQ(form.ShowModal(), ui::mrCancel);
  }
  bool asked = false;
  form.OnCloseQuery = [&](TObject*, bool& canClose) {
    canClose = asked;  // refuse the first time
    asked = true;
  };
  qvtest::Robot robot("Hide test", [](HWND w) {
    ::SendMessageA(w, WM_CLOSE, 0, 0);
    ::SendMessageA(w, WM_CLOSE, 0, 0);
  });
  EXPECT_EQ(form.ShowModal(), ui::mrCancel);
  EXPECT_TRUE(asked);
}

TEST(Form, AnExceptionInAHandlerIsShownAndTheFormStaysOpen) {
  ui::TForm form("Error test", 300, 120);
  ui::TButton fail(form, "Fail");
  ui::TButton ok(form, "OK");
  fail.SetBounds(10, 10, 75, 25);
  ok.SetBounds(100, 10, 75, 25);
  ok.SetModalResult(ui::mrOk);
  fail.OnClick = [](TObject*) { throw lumetra::Exception("Cannot open file \"x\""); };
  std::string shown;
  ui::Application().OnException = [&](TObject*, const std::exception& e) { shown = e.what(); };
  qvtest::Robot robot("Error test", [](HWND w) {
    qvtest::PressButton(w, "Fail");
    qvtest::PressButton(w, "OK");
  });
  EXPECT_EQ(form.ShowModal(), ui::mrOk);
  ui::Application().OnException = nullptr;
  EXPECT_EQ(shown, "Cannot open file \"x\"");
}

TEST(Form, DefaultErrorDisplayIsAMessageBoxWithTheText) {
  std::string boxText;
  qvtest::Robot robot("Quorvex", [&](HWND w) {
    HWND text = ::FindWindowExA(w, nullptr, "Static", nullptr);
    while (text) {
      char buf[256] = {};
      ::GetWindowTextA(text, buf, sizeof buf);
      if (buf[0]) boxText = buf;
      text = ::FindWindowExA(w, text, "Static", nullptr);
    }
    qvtest::PressButton(w, "OK");
  });
  try {
    throw lumetra::Exception("Graphic is empty");
  } catch (...) {
    ui::Application().HandleException(nullptr);
  }
  EXPECT_TRUE(robot.Found());
  EXPECT_EQ(boxText, "Graphic is empty");
}

TEST(Form, ALabelAcceleratorFocusesItsControl) {
  ui::TForm form("Accelerator test", 300, 120);
  ui::TEdit first(form);
  ui::TLabel label(form, "&Zoom");
  ui::TEdit other(form);
  ui::TEdit zoom(form);
  label.SetFocusControl(&zoom);
  EXPECT_EQ(label.Accelerator(), 'Z');
  form.Show();
  first.SetFocus();
  MSG msg{form.Handle(), WM_SYSCHAR, 'z', 0, 0, {}};
  EXPECT_TRUE(form.PreTranslateMessage(msg));
  EXPECT_TRUE(zoom.Focused());
  form.Hide();
}

struct DialogCase {
  const char* caption;
  bool pressOk;
  std::function<bool()> execute;
};

class CommonDialog : public testing::TestWithParam<DialogCase> {};

TEST_P(CommonDialog, AnswersWhetherTheUserConfirmed) {
  const DialogCase& c = GetParam();
  qvtest::Robot robot(c.caption, [&](HWND w) {
    ::PostMessageA(w, WM_COMMAND, c.pressOk ? IDOK : IDCANCEL, 0);
  });
  EXPECT_EQ(c.execute(), c.pressOk);
  EXPECT_TRUE(robot.Found());
}

INSTANTIATE_TEST_SUITE_P(
    Dialogs, CommonDialog,
    testing::Values(DialogCase{"Open", false, [] {
                                 ui::TOpenDialog d;
                                 d.Filter = "TIFF (*.tif)|*.tif";
                                 return d.Execute();
                               }},
                    DialogCase{"Color", true, [] {
                                 ui::TColorDialog d;
                                 d.Color = 0x123456;
                                 return d.Execute() && d.Color == 0x123456;
                               }},
                    DialogCase{"Color", false, [] {
                                 ui::TColorDialog d;
                                 return d.Execute();
                               }}));

struct Answer {
  const char* button;
  int result;
};

class MessageBoxAnswer : public testing::TestWithParam<Answer> {};

TEST_P(MessageBoxAnswer, AnswersTheButtonPressed) {
  qvtest::Robot robot("Quorvex", [](HWND w) { qvtest::PressButton(w, GetParam().button); });
  EXPECT_EQ(ui::MessageDlg("Image is not saved. Save it?", ui::mtConfirmation, ui::mbYesNoCancel),
            GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(Buttons, MessageBoxAnswer,
                         testing::Values(Answer{"&Yes", ui::mrYes}, Answer{"&No", ui::mrNo},
                                         Answer{"Cancel", ui::mrCancel}));

TEST(MessageBoxAnswer, RefusesButtonsAMessageBoxCannotShow) {
  EXPECT_THROW(ui::MessageDlg("x", ui::mtError, ui::mbYes | ui::mbIgnore),
               lumetra::EInvalidOperation);
}

TEST(Application, RunsTheIdleHandlerWhileAModalFormWaits) {
  ui::TForm form("Idle test", 200, 100);
  ui::TButton ok(form, "OK");
  ok.SetBounds(10, 10, 75, 25);
  int idles = 0;
  // The command-enabling pattern: the idle handler updates the controls.
  ui::Application().OnIdle = [&](TObject*, bool& done) {
    ++idles;
    ok.SetModalResult(idles >= 3 ? ui::mrOk : ui::mrNone);
    done = true;
  };
  qvtest::Robot robot("Idle test", [](HWND w) {
    for (int i = 0; i < 100 && ::IsWindowVisible(w); ++i) {
      qvtest::PressButton(w, "OK");
      ::Sleep(20);
    }
  });
  EXPECT_EQ(form.ShowModal(), ui::mrOk);
  ui::Application().OnIdle = nullptr;
  EXPECT_GE(idles, 3);
}

TEST(InputBox, ARobotTypesAnswersAndPressesOK) {
  qvtest::Robot robot("Zoom", [](HWND w) {
    HWND edit = qvtest::FindChild(w, "Edit", nullptr);
    ::SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("250"));
    qvtest::PressButton(w, "OK");
  });
  EXPECT_EQ(ui::InputBox("Zoom", "Zoom percent:", "100"), "250");
  EXPECT_TRUE(robot.Found());
}

TEST(InputBox, CancelKeepsTheValue) {
  qvtest::Robot robot("Rename", [](HWND w) {
    HWND edit = qvtest::FindChild(w, "Edit", nullptr);
    ::SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("changed"));
    qvtest::PressButton(w, "Cancel");
  });
  std::string value = "page.tif";
  EXPECT_FALSE(ui::InputQuery("Rename", "Name:", value));
  EXPECT_EQ(value, "page.tif");
}

TEST(Timer, TicksUntilDisabledAndNeverAfterDestruction) {
  int ticks = 0;
  auto timer = std::make_unique<ui::TTimer>();
  timer->SetInterval(10);
  timer->OnTimer = [&](TObject*) {
    if (++ticks == 3) timer.reset();  // freed inside its own handler
  };
  timer->SetEnabled(true);
  const DWORD start = ::GetTickCount();
  while (::GetTickCount() - start < 500) {
    ui::Application().ProcessMessages();
    ::Sleep(5);
  }
  EXPECT_EQ(ticks, 3);
}

// A host may drive windows from several threads: each has its own error
// display, title and timers, and the two make their first windows at once
// (the window classes are registered once between them).
TEST(Application, EachThreadHasItsOwnStateAndTimers) {
  ui::TApplication* const mainApplication = &ui::Application();
  struct Result {
    bool ownApplication = false;
    bool ownTitle = false;
    int ticks = 0;
    bool utilityWindowGone = false;
  } results[2];
  auto run = [&](Result& result, int index) {
    ui::TApplication& app = ui::Application();
    result.ownApplication = &app != mainApplication;
    app.SetTitle("Thread " + std::to_string(index));
    ui::TForm form("Thread form " + std::to_string(index), 200, 100);
    ui::TTimer timer;
    timer.SetInterval(10);
    timer.OnTimer = [&](TObject*) { ++result.ticks; };
    timer.SetEnabled(true);
    const DWORD start = ::GetTickCount();
    while (result.ticks < 3 && ::GetTickCount() - start < 5000) {
      app.ProcessMessages();
      ::Sleep(5);
    }
    result.ownTitle = ui::Application().Title() == "Thread " + std::to_string(index);
    timer.SetEnabled(false);
    result.utilityWindowGone = app.UtilityWindow() == nullptr;
  };
  std::thread first(run, std::ref(results[0]), 0);
  std::thread second(run, std::ref(results[1]), 1);
  first.join();
  second.join();
  for (const Result& result : results) {
    EXPECT_TRUE(result.ownApplication);
    EXPECT_TRUE(result.ownTitle);
    EXPECT_GE(result.ticks, 3);
    EXPECT_TRUE(result.utilityWindowGone);
  }
  EXPECT_EQ(ui::Application().Title(), "Quorvex");
}

}  // namespace
