// TOcrResultForm: shows the recognised lines in a memo in which the user can
// scroll, select and copy them.
#pragma once

#include <string>
#include <vector>

#include "ui/form.h"

namespace lumetra {

class TOcrResultForm : public ui::TForm {
 public:
  TOcrResultForm();
  const char* ClassName() const noexcept override { return "TOcrResultForm"; }

  ui::TMemo Memo{*this, false};
  ui::TPanel Panel1{*this};
  ui::TButton CloseBtn{Panel1, "&Close"};
};

// Shows Lines in a result window modally; the window is gone when it
// answers.
void ShowOcrResult(const std::vector<std::string>& lines);

}  // namespace lumetra
