// TResizeForm: the parameters of the resize command: the new size and,
// when interpolated, the resampling filter and the destination format.
#pragma once

#include <memory>

#include "imaging/dib_graphic.h"
#include "transforms/resize_transform.h"
#include "ui/form.h"

namespace lumetra {

class TResizeForm : public ui::TForm {
 public:
  TResizeForm();
  const char* ClassName() const noexcept override { return "TResizeForm"; }

  // The filter and format lists are enabled exactly when interpolating.
  void InterpolatedCBClick(TObject* sender);
  // Before showing: the image's size and format.
  void SetImage(const TDibGraphic& image);
  // After OK: the size (EConvertError for text that is not an integer), the
  // interpolation and, when it changes the format, the destination format.
  // A 16- or 256-colour destination is warned about first.
  void GetParameters(TResizeTransform& transform) const;

  ui::TButton OkBtn{*this};
  ui::TButton CancelBtn{*this};
  ui::TLabel WidthLbl{*this, "&Width"};
  ui::TEdit WidthFld{*this, "100"};
  ui::TLabel HeightLbl{*this, "&Height"};
  ui::TEdit HeightFld{*this, "100"};
  ui::TPanel Bevel{*this};
  ui::TCheckBox InterpolatedCB{Bevel, "&Interpolated"};
  ui::TLabel FilterLbl{Bevel, "&Filter"};
  ui::TComboBox FilterCB{Bevel};
  ui::TLabel DestFormatLbl{Bevel, "&Destination format"};
  ui::TComboBox DestFormatCB{Bevel};

 private:
  void FormCreate();
  TImageFormat imageFormat_ = ifTrueColor;
};

// The resize command's dialog for Image: the transform it asks for, or null
// when it was not left with OK.
std::unique_ptr<TResizeTransform> ExecuteResizeDialog(const TDibGraphic& image);

}  // namespace lumetra
