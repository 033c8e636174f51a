// A control's bounds as the library's rectangle, for UI tests that check
// where a layout put it.
#pragma once

#include "imaging/lumisc.h"
#include "ui/control.h"

namespace lumetra::testing {

inline TRect BoundsOf(const ui::TControl& control) {
  const RECT r = control.BoundsRect();
  return {r.left, r.top, r.right, r.bottom};
}

}  // namespace lumetra::testing
