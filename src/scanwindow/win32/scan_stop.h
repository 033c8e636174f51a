// While a scan runs the scanning window is disabled, so that nothing can
// change the document under the scanner. TScanStop is the one thing left to
// press: a small window lying over the window's Scan button with a Stop
// button that Escape presses too. It is for the scanner that never lets go
// by itself; a slow one is never cut off without the person asking.
#pragma once

#include <functional>
#include <memory>

#include "ui/controls.h"
#include "ui/form.h"

namespace quorvex::scanwindow {

class TScanStop final : public lumetra::ui::TForm {
 public:
  static constexpr const char* kCaption = "Quorvex - stop scanning";

  // Shows itself over Place (a control of the scanning window), owned by
  // that window; OnStop runs once, on the first press.
  TScanStop(lumetra::ui::TControl& place, std::function<void()> onStop);
  ~TScanStop() override;
  const char* ClassName() const noexcept override { return "TScanStop"; }

 private:
  std::unique_ptr<lumetra::ui::TButton> stop_;
  std::function<void()> onStop_;
};

}  // namespace quorvex::scanwindow
