#include "scanwindow/win32/scan_stop.h"

namespace quorvex::scanwindow {

using namespace lumetra::ui;

namespace {

// The scanner's message loop hands keys straight to the focused window, past
// the forms' dialog keys: the button takes Escape itself.
class TEscapeButton final : public TButton {
 public:
  using TButton::TButton;

 protected:
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override {
    if (msg == WM_KEYDOWN && wParam == VK_ESCAPE) {
      if (IsWindowEnabled(Handle())) Click();
      return 0;
    }
    return TButton::WndProc(msg, wParam, lParam);
  }
};

HWND TopLevelOf(const TControl& control) { return GetAncestor(control.Handle(), GA_ROOT); }

}  // namespace

TScanStop::TScanStop(TControl& place, std::function<void()> onStop)
    : TForm(kCaption, place.Width(), place.Height(), bsNone), onStop_(std::move(onStop)) {
  SetPosition(poDesigned);
  SetOwnerWindow(TopLevelOf(place));
  RECT screen{};
  GetWindowRect(place.Handle(), &screen);
  SetBounds(screen.left, screen.top, screen.right - screen.left, screen.bottom - screen.top);
  stop_ = std::make_unique<TEscapeButton>(*this, "Stop");
  stop_->SetBounds(0, 0, ClientWidth(), ClientHeight());
  // Escape through the application's own loop (pages being shown) too.
  stop_->SetCancel(true);
  stop_->OnClick = [this](lumetra::TObject*) {
    if (!stop_->Enabled()) return;
    stop_->SetEnabled(false);
    if (onStop_) onStop_();
  };
  Show();
  stop_->SetFocus();
}

TScanStop::~TScanStop() {
  // The owner gets the activation back, not some other program's window.
  if (Visible()) Hide();
}

}  // namespace quorvex::scanwindow
