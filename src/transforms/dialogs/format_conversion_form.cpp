#include "transforms/dialogs/format_conversion_form.h"

namespace lumetra {

TFormatConversionForm::TFormatConversionForm()
    : TForm("Format Conversion", 253, 269, ui::bsDialog) {
  SetName("FormatConversionForm");
  OkBtn.SetName("OkBtn");
  OkBtn.SetBounds(176, 8, 69, 25);
  OkBtn.SetKind(ui::bkOK);
  CancelBtn.SetName("CancelBtn");
  CancelBtn.SetBounds(176, 40, 69, 25);
  CancelBtn.SetKind(ui::bkCancel);

  OptionsBevel.SetName("OptionsBevel");
  OptionsBevel.SetBevelOuter(ui::bvLowered);
  OptionsBevel.SetBounds(8, 190, 237, 70);
  DitherCB.SetName("DitherCB");
  DitherCB.SetBounds(12, 10, 210, 20);
  QuantizeCB.SetName("QuantizeCB");
  QuantizeCB.SetBounds(12, 38, 210, 20);

  FormatBevel.SetName("FormatBevel");
  FormatBevel.SetBevelOuter(ui::bvLowered);
  FormatBevel.SetBounds(8, 8, 162, 174);
  const char* const names[] = {"BlackWhiteRB", "Gray16RB",   "Gray256RB",
                               "Color16RB",    "Color256RB", "TrueColorRB"};
  for (int format = ifBlackWhite; format <= ifTrueColor; ++format) {
    ui::TRadioButton* button = FormatButton(static_cast<TImageFormat>(format));
    button->SetName(names[format]);
    button->SetBounds(8, 12 + 26 * format, 150, 20);
  }
  SetFont("MS Sans Serif", -13);
}

ui::TRadioButton* TFormatConversionForm::FormatButton(TImageFormat format) {
  ui::TRadioButton* const buttons[] = {&BlackWhiteRB, &Gray16RB,   &Gray256RB,
                                       &Color16RB,    &Color256RB, &TrueColorRB};
  return buttons[format <= ifTrueColor ? format : ifTrueColor];
}

const ui::TRadioButton* TFormatConversionForm::FormatButton(TImageFormat format) const {
  return const_cast<TFormatConversionForm*>(this)->FormatButton(format);
}

void TFormatConversionForm::SetImage(const TDibGraphic& image) {
  FormatButton(image.ImageFormat())->SetEnabled(false);
}

void TFormatConversionForm::GetParameters(TImageFormatTransform& transform) const {
  TImageFormat target = ifTrueColor;
  for (int format = ifBlackWhite; format < ifTrueColor; ++format) {
    if (FormatButton(static_cast<TImageFormat>(format))->Checked()) {
      target = static_cast<TImageFormat>(format);
      break;
    }
  }
  transform.SetTargetFormat(target);
  transform.SetQuantize(QuantizeCB.Checked());
  transform.SetDither(DitherCB.Checked());
}

std::unique_ptr<TImageFormatTransform> ExecuteFormatConversionDialog(const TDibGraphic& image) {
  TFormatConversionForm form;
  form.SetImage(image);
  if (form.ShowModal() != ui::mrOk) return nullptr;
  auto transform = std::make_unique<TImageFormatTransform>();
  form.GetParameters(*transform);
  return transform;
}

}  // namespace lumetra
