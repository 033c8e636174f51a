// TFormatConversionForm: the parameters of the format conversion command:
// the target format and whether colours are quantized and dithered.
#pragma once

#include <memory>

#include "imaging/dib_graphic.h"
#include "transforms/format_transform.h"
#include "ui/form.h"

namespace lumetra {

class TFormatConversionForm : public ui::TForm {
 public:
  TFormatConversionForm();
  const char* ClassName() const noexcept override { return "TFormatConversionForm"; }

  // Before showing: the image's own format cannot be chosen.
  void SetImage(const TDibGraphic& image);
  // After OK: the first checked format of the five reduced ones, else true
  // colour; the two options.
  void GetParameters(TImageFormatTransform& transform) const;

  ui::TButton OkBtn{*this};
  ui::TButton CancelBtn{*this};
  ui::TPanel OptionsBevel{*this};
  ui::TCheckBox DitherCB{OptionsBevel, "Floyd Steinberg &Dither"};
  ui::TCheckBox QuantizeCB{OptionsBevel, "&Quantize"};
  ui::TPanel FormatBevel{*this};
  ui::TRadioButton BlackWhiteRB{FormatBevel, "&Black and White"};
  ui::TRadioButton Gray16RB{FormatBevel, "16 &Shades of Gray"};
  ui::TRadioButton Gray256RB{FormatBevel, "256 S&hades of Gray"};
  ui::TRadioButton Color16RB{FormatBevel, "16 &Colors"};
  ui::TRadioButton Color256RB{FormatBevel, "256 C&olors"};
  ui::TRadioButton TrueColorRB{FormatBevel, "&True Color"};

 private:
  // The buttons in TImageFormat order.
  ui::TRadioButton* FormatButton(TImageFormat format);
  const ui::TRadioButton* FormatButton(TImageFormat format) const;
};

// The format conversion command's dialog for Image: the transform it asks
// for, or null when it was not left with OK.
std::unique_ptr<TImageFormatTransform> ExecuteFormatConversionDialog(const TDibGraphic& image);

}  // namespace lumetra
