// TCropForm: the four margins the crop command cuts off the image.
#pragma once

#include <memory>

#include "transforms/geometric_transforms.h"
#include "ui/form.h"

namespace lumetra {

class TCropForm : public ui::TForm {
 public:
  TCropForm();
  const char* ClassName() const noexcept override { return "TCropForm"; }

  // After OK: the four margins (EConvertError for text that is not an
  // integer).
  void GetParameters(TCropTransform& transform) const;

  ui::TButton OkBtn{*this};
  ui::TButton CancelBtn{*this};
  ui::TLabel LeftLbl{*this, "&Left"};
  ui::TEdit LeftFld{*this, "0"};
  ui::TLabel TopLbl{*this, "&Top"};
  ui::TEdit TopFld{*this, "0"};
  ui::TLabel RightLbl{*this, "&Right"};
  ui::TEdit RightFld{*this, "0"};
  ui::TLabel BottomLbl{*this, "&Bottom"};
  ui::TEdit BottomFld{*this, "0"};
};

// The crop command's dialog: the transform it asks for, or null when it was
// not left with OK.
std::unique_ptr<TCropTransform> ExecuteCropDialog();

}  // namespace lumetra
