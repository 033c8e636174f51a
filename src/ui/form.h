// TForm: a top-level window of the system (the scanning window, the
// dialogs). Modal (ShowModal, ended by a modal result or by hiding the
// form) or modeless (Show); centred on the screen or on its owner; fixed or
// sizeable border; sizes given as exact client sizes. Enter presses the
// default button, Escape the cancel button, Tab moves between controls and
// a label's accelerator focuses its control.
#pragma once

#include <string>

#include "ui/control.h"
#include "ui/controls.h"
#include "ui/menus.h"

namespace lumetra::ui {

enum TFormBorderStyle : std::uint8_t { bsNone = 0, bsSingle, bsSizeable, bsDialog, bsToolWindow };
enum TPosition : std::uint8_t { poDesigned = 0, poScreenCenter, poOwnerFormCenter };
enum TCloseAction : std::uint8_t { caNone = 0, caHide, caFree, caMinimize };

class TForm : public TControl {
 public:
  // A hidden form with the given caption and client size, centred on the
  // screen, with a sizeable border.
  TForm(const std::string& caption, int clientWidth, int clientHeight,
        TFormBorderStyle borderStyle = bsSizeable);
  ~TForm() override;
  const char* ClassName() const noexcept override { return "TForm"; }

  void SetClientSize(int clientWidth, int clientHeight);
  TFormBorderStyle BorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TFormBorderStyle value);
  TPosition Position() const { return position_; }
  void SetPosition(TPosition value) { position_ = value; }
  void SetMinSize(int width, int height);
  // The form whose window owns this one (stays below it; centring target).
  void SetOwnerWindow(HWND owner);

  void SetMenu(TMainMenu* menu);
  TMainMenu* Menu() const { return menu_; }
  // Called by a menu that is destroyed while it is the form's menu.
  void MenuGone(TMainMenu* menu) {
    if (menu_ == menu) menu_ = nullptr;
  }

  int ModalResult() const { return modalResult_; }
  // Non-zero ends ShowModal.
  void SetModalResult(int value);
  // Shows the form modally: every other window of the thread is disabled
  // until a modal result is set or the form is hidden. Answers the result
  // (mrCancel when the form was only hidden).
  int ShowModal();
  bool Modal() const { return modal_; }
  void SetVisible(bool value) override;
  // Asks OnCloseQuery, then OnClose decides: hide (the default), nothing,
  // or free (a modeless main form ends the application then).
  void Close();
  void Centre();

  TButton* DefaultButton() const;
  TButton* CancelButton() const;
  // Gives the form and every control already on it one font (a negative
  // height is the character height in pixels), for dialogs laid out in a
  // fixed font rather than the system's.
  void SetFont(const std::string& name, int height);

  TNotifyEvent OnShow;
  TNotifyEvent OnHide;
  std::function<void(TObject* sender, bool& canClose)> OnCloseQuery;
  std::function<void(TObject* sender, TCloseAction& action)> OnClose;

  // Accelerators and dialog keys of this form; the application calls it for
  // every queued message aimed at the form or one of its controls.
  virtual bool PreTranslateMessage(MSG& msg);

 protected:
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  DWORD Style() const;
  DWORD ExStyle() const;
  TButton* FindButton(bool wantDefault) const;
  TFormBorderStyle borderStyle_;
  TPosition position_ = poScreenCenter;
  TMainMenu* menu_ = nullptr;
  int modalResult_ = mrNone;
  bool modal_ = false;
  bool placed_ = false;
  int clientWidth_;
  int clientHeight_;
  int minWidth_ = 0;
  int minHeight_ = 0;
  UniqueGdiObject font_;
};

}  // namespace lumetra::ui
