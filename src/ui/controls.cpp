#include "ui/controls.h"

#include <commctrl.h>

#include <cctype>

#include "platform/win32/owners.h"
#include "ui/form.h"

namespace lumetra::ui {

namespace {

void EnsureCommonControls() {
  static const bool done = [] {
    INITCOMMONCONTROLSEX icc{sizeof(INITCOMMONCONTROLSEX),
                             ICC_BAR_CLASSES | ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
    return ::InitCommonControlsEx(&icc) != FALSE;
  }();
  (void)done;
}

TForm* FormOf(const TControl& control) {
  HWND root = control.Handle() ? ::GetAncestor(control.Handle(), GA_ROOT) : nullptr;
  return dynamic_cast<TForm*>(TControl::FromHandle(root));
}

}  // namespace

// --- panel ----------------------------------------------------------------------

TPanel::TPanel(TControl& parent) {
  CreateOwnWindow(&parent, "QvPanel", WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS,
                  WS_EX_CONTROLPARENT, CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW,
                  reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
}

TShape::TShape(TControl& parent, bool visible) {
  CreateOwnWindow(&parent, "QvShape", (visible ? WS_VISIBLE : 0) | WS_CLIPSIBLINGS, 0, CS_DBLCLKS,
                  nullptr);
}

void TShape::SetBrushColor(TColor value) {
  color_ = value;
  Invalidate();
}

LRESULT TShape::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_ERASEBKGND) return 1;
  if (msg != WM_PAINT) return TControl::WndProc(msg, wParam, lParam);
  PAINTSTRUCT ps;
  HDC dc = ::BeginPaint(Handle(), &ps);
  RECT r;
  ::GetClientRect(Handle(), &r);
  const win32::unique_handle<win32::gdi_traits<HBRUSH>> brush(::CreateSolidBrush(color_));
  ::FillRect(dc, &r, brush.get());
  ::EndPaint(Handle(), &ps);
  return 0;
}

void TPanel::SetBevelOuter(TBevelCut value) {
  bevelOuter_ = value;
  Invalidate();
}

LRESULT TPanel::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_PAINT) {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(Handle(), &ps);
    RECT r;
    ::GetClientRect(Handle(), &r);
    if (bevelOuter_ != bvNone) {
      ::DrawEdge(dc, &r, bevelOuter_ == bvRaised ? BDR_RAISEDINNER : BDR_SUNKENOUTER, BF_RECT);
    }
    const std::string caption = Caption();
    if (!caption.empty()) {
      HGDIOBJ old = ::SelectObject(dc, ::GetStockObject(DEFAULT_GUI_FONT));
      ::SetBkMode(dc, TRANSPARENT);
      ::DrawTextA(dc, caption.c_str(), -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
      ::SelectObject(dc, old);
    }
    ::EndPaint(Handle(), &ps);
    return 0;
  }
  return TControl::WndProc(msg, wParam, lParam);
}

// --- button -----------------------------------------------------------------------

TButton::TButton(TControl& parent, const std::string& caption) {
  CreateSystemWindow(&parent, "BUTTON", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0,
                     caption.c_str());
}

void TButton::SetKind(TButtonKind kind) {
  if (kind == bkCustom) return;
  SetCaption(kind == bkOK ? "OK" : "Cancel");
  SetDefault(kind == bkOK);
  SetCancel(kind == bkCancel);
  SetModalResult(kind == bkOK ? mrOk : mrCancel);
}

void TButton::SetFlat(bool value) {
  LONG style = ::GetWindowLongA(Handle(), GWL_STYLE);
  style = value ? (style | BS_FLAT) : (style & ~BS_FLAT);
  ::SetWindowLongA(Handle(), GWL_STYLE, style);
  Invalidate();
}

void TButton::SetDefault(bool value) {
  default_ = value;
  ::SendMessageA(Handle(), BM_SETSTYLE, value ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
}

void TButton::Click() {
  if (TForm* form = FormOf(*this); form && modalResult_ != mrNone) {
    form->SetModalResult(modalResult_);
  }
  TControl::Click();
}

void TButton::CommandNotify(UINT code) {
  if (code == BN_CLICKED) Click();
}

// --- label ------------------------------------------------------------------------

TLabel::TLabel(TControl& parent, const std::string& caption) {
  CreateSystemWindow(&parent, "STATIC", WS_VISIBLE | SS_LEFT, 0, caption.c_str());
}

void TLabel::SetAlignment(TAlignment value) {
  constexpr LONG kStyles[] = {SS_LEFT, SS_RIGHT, SS_CENTER};
  const LONG style = ::GetWindowLongA(Handle(), GWL_STYLE) & ~(SS_LEFT | SS_RIGHT | SS_CENTER);
  ::SetWindowLongA(Handle(), GWL_STYLE, style | kStyles[value <= taCenter ? value : 0]);
  Invalidate();
}

char TLabel::Accelerator() const {
  const std::string text = Caption();
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] == '&') {
      if (text[i + 1] == '&') {
        ++i;
        continue;
      }
      return static_cast<char>(std::toupper(static_cast<unsigned char>(text[i + 1])));
    }
  }
  return 0;
}

// --- edit and memo ------------------------------------------------------------------

TEdit::TEdit(TControl& parent, const std::string& text) {
  CreateSystemWindow(&parent, "EDIT", WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL,
                     WS_EX_CLIENTEDGE, text.c_str());
}

TEdit::TEdit(TControl& parent, DWORD extraStyle) {
  CreateSystemWindow(&parent, "EDIT", WS_VISIBLE | WS_TABSTOP | extraStyle, WS_EX_CLIENTEDGE,
                     "");
}

void TEdit::SetMaxLength(int value) { ::SendMessageA(Handle(), EM_LIMITTEXT, value, 0); }
void TEdit::SetReadOnly(bool value) { ::SendMessageA(Handle(), EM_SETREADONLY, value, 0); }
void TEdit::SelectAll() { ::SendMessageA(Handle(), EM_SETSEL, 0, -1); }

void TEdit::CommandNotify(UINT code) {
  if (code == EN_CHANGE && OnChange) OnChange(this);
}

TMemo::TMemo(TControl& parent, bool wordWrap)
    : TEdit(parent, ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL | WS_VSCROLL |
                        (wordWrap ? 0 : ES_AUTOHSCROLL)) {}

std::vector<std::string> TMemo::Lines() const {
  std::vector<std::string> lines;
  const std::string text = Text();
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      if (start < text.size()) lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

void TMemo::SetLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  SetText(text);
}

void TMemo::Append(const std::string& line) {
  const int end = ::GetWindowTextLengthA(Handle());
  ::SendMessageA(Handle(), EM_SETSEL, end, end);
  const std::string text = line + "\r\n";
  ::SendMessageA(Handle(), EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
}

// --- up-down ----------------------------------------------------------------------

TUpDown::TUpDown(TControl& parent, bool wrap) {
  EnsureCommonControls();
  CreateSystemWindow(&parent, UPDOWN_CLASSA,
                     WS_VISIBLE | UDS_SETBUDDYINT | UDS_ALIGNRIGHT | UDS_ARROWKEYS |
                         UDS_NOTHOUSANDS | (wrap ? UDS_WRAP : 0),
                     0);
  ::SendMessageA(Handle(), UDM_SETRANGE32, min_, max_);
}

void TUpDown::SetAssociate(TEdit& edit) {
  ::SendMessageA(Handle(), UDM_SETBUDDY, reinterpret_cast<WPARAM>(edit.Handle()), 0);
}

void TUpDown::SetMin(int value) {
  min_ = value;
  ::SendMessageA(Handle(), UDM_SETRANGE32, min_, max_);
}

void TUpDown::SetMax(int value) {
  max_ = value;
  ::SendMessageA(Handle(), UDM_SETRANGE32, min_, max_);
}

int TUpDown::Position() const {
  return static_cast<int>(::SendMessageA(Handle(), UDM_GETPOS32, 0, 0));
}

void TUpDown::SetPosition(int value) { ::SendMessageA(Handle(), UDM_SETPOS32, 0, value); }

bool TUpDown::Wrap() const { return (::GetWindowLongA(Handle(), GWL_STYLE) & UDS_WRAP) != 0; }

LRESULT TUpDown::NotifyNotify(NMHDR*) { return 0; }

void TUpDown::ScrollNotify(UINT code) {
  if (code == SB_THUMBPOSITION && OnClick) OnClick(this);
}

// --- check box and radio button -------------------------------------------------------

TCheckBox::TCheckBox(TControl& parent, const std::string& caption)
    : TCheckBox(parent, caption, BS_AUTOCHECKBOX) {}

TCheckBox::TCheckBox(TControl& parent, const std::string& caption, DWORD style) {
  CreateSystemWindow(&parent, "BUTTON", WS_VISIBLE | WS_TABSTOP | style, 0, caption.c_str());
}

bool TCheckBox::Checked() const {
  return ::SendMessageA(Handle(), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TCheckBox::SetChecked(bool value) {
  ::SendMessageA(Handle(), BM_SETCHECK, value ? BST_CHECKED : BST_UNCHECKED, 0);
}

void TCheckBox::CommandNotify(UINT code) {
  if (code == BN_CLICKED) Click();
}

TRadioButton::TRadioButton(TControl& parent, const std::string& caption)
    : TCheckBox(parent, caption, BS_AUTORADIOBUTTON) {}

// --- combo box ----------------------------------------------------------------------

TComboBox::TComboBox(TControl& parent, TComboBoxStyle style) {
  CreateSystemWindow(&parent, "COMBOBOX",
                     WS_VISIBLE | WS_TABSTOP | WS_VSCROLL |
                         (style == csDropDownList ? CBS_DROPDOWNLIST : CBS_DROPDOWN),
                     0);
}

void TComboBox::SetBounds(int left, int top, int width, int dropDownHeight) {
  TControl::SetBounds(left, top, width, dropDownHeight);
}

void TComboBox::AddItem(const std::string& item) {
  ::SendMessageA(Handle(), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
}

void TComboBox::SetItems(const std::vector<std::string>& items) {
  Clear();
  for (const std::string& item : items) AddItem(item);
}

void TComboBox::Clear() { ::SendMessageA(Handle(), CB_RESETCONTENT, 0, 0); }

int TComboBox::ItemCount() const {
  return static_cast<int>(::SendMessageA(Handle(), CB_GETCOUNT, 0, 0));
}

std::string TComboBox::Items(int index) const {
  const LRESULT n = ::SendMessageA(Handle(), CB_GETLBTEXTLEN, index, 0);
  if (n == CB_ERR) return {};
  std::string text(static_cast<std::size_t>(n) + 1, '\0');
  ::SendMessageA(Handle(), CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(n));
  return text;
}

int TComboBox::ItemIndex() const {
  return static_cast<int>(::SendMessageA(Handle(), CB_GETCURSEL, 0, 0));
}

void TComboBox::SetItemIndex(int index) { ::SendMessageA(Handle(), CB_SETCURSEL, index, 0); }

void TComboBox::CommandNotify(UINT code) {
  if ((code == CBN_SELCHANGE || code == CBN_EDITCHANGE) && OnChange) OnChange(this);
}

// --- status bar ---------------------------------------------------------------------

TStatusBar::TStatusBar(TControl& parent) {
  EnsureCommonControls();
  CreateSystemWindow(&parent, STATUSCLASSNAMEA, WS_VISIBLE | SBARS_SIZEGRIP, 0);
  // The bar takes its own height from its first size message.
  ::SendMessageA(Handle(), WM_SIZE, 0, 0);
  SetAlign(alBottom);
}

void TStatusBar::SetPanels(const std::vector<int>& widths) {
  widths_ = widths;
  ApplyPanels();
}

void TStatusBar::ApplyPanels() {
  if (widths_.empty()) return;
  std::vector<int> edges;
  int x = 0;
  for (std::size_t i = 0; i < widths_.size(); ++i) {
    x += widths_[i];
    edges.push_back(i + 1 == widths_.size() ? -1 : x);
  }
  ::SendMessageA(Handle(), SB_SIMPLE, FALSE, 0);
  ::SendMessageA(Handle(), SB_SETPARTS, edges.size(), reinterpret_cast<LPARAM>(edges.data()));
}

void TStatusBar::SetPanelText(int index, const std::string& text) {
  ::SendMessageA(Handle(), SB_SETTEXTA, index, reinterpret_cast<LPARAM>(text.c_str()));
}

std::string TStatusBar::PanelText(int index) const {
  const LRESULT n = LOWORD(::SendMessageA(Handle(), SB_GETTEXTLENGTHA, index, 0));
  std::string text(static_cast<std::size_t>(n) + 1, '\0');
  ::SendMessageA(Handle(), SB_GETTEXTA, index, reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(n));
  return text;
}

void TStatusBar::SetSimpleText(const std::string& text) {
  ::SendMessageA(Handle(), SB_SIMPLE, TRUE, 0);
  ::SendMessageA(Handle(), SB_SETTEXTA, SB_SIMPLEID, reinterpret_cast<LPARAM>(text.c_str()));
}

LRESULT TStatusBar::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  return TControl::WndProc(msg, wParam, lParam);
}

}  // namespace lumetra::ui
