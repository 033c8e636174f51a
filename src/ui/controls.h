// The standard controls of the system's forms, each a TControl over one
// user32 or comctl32 window: panel, button, label, edit, memo, up-down,
// check box, radio button, combo box and status bar. Each is created as a
// child of the control given to its constructor.
#pragma once

#include <string>
#include <vector>

#include "imaging/dib_graphic.h"
#include "ui/control.h"

namespace lumetra::ui {

// The modal results a button hands to its form.
enum TModalResult : int {
  mrNone = 0,
  mrOk = IDOK,
  mrCancel = IDCANCEL,
  mrAbort = IDABORT,
  mrRetry = IDRETRY,
  mrIgnore = IDIGNORE,
  mrYes = IDYES,
  mrNo = IDNO,
};

enum TBevelCut : std::uint8_t { bvNone = 0, bvLowered, bvRaised };

// A container with an optional bevel and a centred caption.
class TPanel : public TControl {
 public:
  explicit TPanel(TControl& parent);
  const char* ClassName() const noexcept override { return "TPanel"; }
  TBevelCut BevelOuter() const { return bevelOuter_; }
  void SetBevelOuter(TBevelCut value);

 protected:
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  TBevelCut bevelOuter_ = bvRaised;
};

// A rectangle filled with one colour (a GDI colour), without outline.
class TShape : public TControl {
 public:
  explicit TShape(TControl& parent, bool visible = true);
  const char* ClassName() const noexcept override { return "TShape"; }
  TColor BrushColor() const { return color_; }
  void SetBrushColor(TColor value);

 protected:
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  TColor color_ = clWhite;
};

// A picture painted at the control's top left corner at its own size, or
// stretched over the whole control.
class TImage : public TControl {
 public:
  TImage(TControl& parent, bool stretch, bool visible = true);
  const char* ClassName() const noexcept override { return "TImage"; }
  TDibGraphic& Picture() { return picture_; }

 protected:
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  bool stretch_;
  TDibGraphic picture_;
};

// The standard dialog buttons: OK is the default button and ends its form
// with mrOk, Cancel answers Escape and ends it with mrCancel.
enum TButtonKind : std::uint8_t { bkCustom = 0, bkOK, bkCancel };

class TButton : public TControl {
 public:
  explicit TButton(TControl& parent, const std::string& caption = "");
  const char* ClassName() const noexcept override { return "TButton"; }
  void SetKind(TButtonKind kind);
  // Flat look of the scanning window's tool buttons.
  void SetFlat(bool value);
  // The default button answers Enter; the cancel button answers Escape.
  bool Default() const { return default_; }
  void SetDefault(bool value);
  bool Cancel() const { return cancel_; }
  void SetCancel(bool value) { cancel_ = value; }
  int ModalResult() const { return modalResult_; }
  void SetModalResult(int value) { modalResult_ = value; }
  // Presses the button as a person would (raises OnClick, hands the modal
  // result to the form).
  void Click() override;

 protected:
  void CommandNotify(UINT code) override;

 private:
  bool default_ = false;
  bool cancel_ = false;
  int modalResult_ = mrNone;
};

enum TAlignment : std::uint8_t { taLeftJustify = 0, taRightJustify, taCenter };

// A static text; "&" marks the accelerator, which focuses FocusControl.
class TLabel : public TControl {
 public:
  explicit TLabel(TControl& parent, const std::string& caption = "");
  const char* ClassName() const noexcept override { return "TLabel"; }
  void SetAlignment(TAlignment value);
  TControl* FocusControl() const { return focusControl_; }
  void SetFocusControl(TControl* control) { focusControl_ = control; }
  // The accelerator character (upper case), or 0.
  char Accelerator() const;

 private:
  TControl* focusControl_ = nullptr;
};

class TEdit : public TControl {
 public:
  explicit TEdit(TControl& parent, const std::string& text = "");
  const char* ClassName() const noexcept override { return "TEdit"; }
  void SetMaxLength(int value);
  void SetReadOnly(bool value);
  void SelectAll();
  TNotifyEvent OnChange;

 protected:
  TEdit(TControl& parent, DWORD extraStyle);
  void CommandNotify(UINT code) override;
};

class TMemo : public TEdit {
 public:
  // Without word wrap a long line scrolls sideways instead of breaking.
  explicit TMemo(TControl& parent, bool wordWrap = true);
  const char* ClassName() const noexcept override { return "TMemo"; }
  std::vector<std::string> Lines() const;
  void SetLines(const std::vector<std::string>& lines);
  void Append(const std::string& line);
};

// An up-down control that keeps the text of its associated edit in step.
// Place the edit first: associating attaches the arrows to its right edge.
class TUpDown : public TControl {
 public:
  explicit TUpDown(TControl& parent, bool wrap = false);
  const char* ClassName() const noexcept override { return "TUpDown"; }
  void SetAssociate(TEdit& edit);
  int Min() const { return min_; }
  int Max() const { return max_; }
  void SetMin(int value);
  void SetMax(int value);
  int Position() const;
  void SetPosition(int value);
  bool Wrap() const;
  TNotifyEvent OnClick;

 protected:
  LRESULT NotifyNotify(NMHDR* header) override;
  void ScrollNotify(UINT code) override;

 private:
  int min_ = 0;
  int max_ = 100;
};

class TCheckBox : public TControl {
 public:
  explicit TCheckBox(TControl& parent, const std::string& caption = "");
  const char* ClassName() const noexcept override { return "TCheckBox"; }
  bool Checked() const;
  void SetChecked(bool value);

 protected:
  TCheckBox(TControl& parent, const std::string& caption, DWORD style);
  void CommandNotify(UINT code) override;
};

// Radio buttons with the same parent form one group.
class TRadioButton : public TCheckBox {
 public:
  explicit TRadioButton(TControl& parent, const std::string& caption = "");
  const char* ClassName() const noexcept override { return "TRadioButton"; }
};

enum TComboBoxStyle : std::uint8_t { csDropDown = 0, csDropDownList = 1 };

class TComboBox : public TControl {
 public:
  explicit TComboBox(TControl& parent, TComboBoxStyle style = csDropDownList);
  const char* ClassName() const noexcept override { return "TComboBox"; }
  void AddItem(const std::string& item);
  void SetItems(const std::vector<std::string>& items);
  void Clear();
  int ItemCount() const;
  std::string Items(int index) const;
  int ItemIndex() const;
  void SetItemIndex(int index);
  // The height of the closed box; the list drops down below it.
  void SetBounds(int left, int top, int width, int dropDownHeight);
  TNotifyEvent OnChange;

 protected:
  void CommandNotify(UINT code) override;
};

// A status bar along the bottom of its form, with fixed-width panels (the
// last one takes the rest) or one simple text.
class TStatusBar : public TControl {
 public:
  explicit TStatusBar(TControl& parent);
  const char* ClassName() const noexcept override { return "TStatusBar"; }
  void SetPanels(const std::vector<int>& widths);
  int PanelCount() const { return static_cast<int>(widths_.size()); }
  void SetPanelText(int index, const std::string& text);
  std::string PanelText(int index) const;
  void SetSimpleText(const std::string& text);

 protected:
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  void ApplyPanels();
  std::vector<int> widths_;
};

}  // namespace lumetra::ui
