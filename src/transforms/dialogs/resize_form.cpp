#include "transforms/dialogs/resize_form.h"

#include "base/conversions.h"
#include "ui/dialogs.h"

namespace lumetra {

namespace {

constexpr const char* kQuantizeWarning =
    "When converting to 16 or 256 colors it is\rrecommended to use the Format Conversion "
    "operation\ras the Resize operation will not perform color\rquantization.";

}  // namespace

TResizeForm::TResizeForm() : TForm("Resize", 230, 262, ui::bsDialog) {
  SetName("ResizeForm");
  OkBtn.SetName("OkBtn");
  OkBtn.SetBounds(62, 226, 75, 25);
  OkBtn.SetKind(ui::bkOK);
  CancelBtn.SetName("CancelBtn");
  CancelBtn.SetBounds(145, 226, 75, 25);
  CancelBtn.SetKind(ui::bkCancel);
  WidthLbl.SetName("WidthLbl");
  WidthLbl.SetBounds(16, 12, 90, 16);
  WidthLbl.SetFocusControl(&WidthFld);
  WidthFld.SetName("WidthFld");
  WidthFld.SetBounds(16, 30, 90, 21);
  HeightLbl.SetName("HeightLbl");
  HeightLbl.SetBounds(124, 12, 90, 16);
  HeightLbl.SetFocusControl(&HeightFld);
  HeightFld.SetName("HeightFld");
  HeightFld.SetBounds(124, 30, 90, 21);

  Bevel.SetName("Bevel");
  Bevel.SetBevelOuter(ui::bvLowered);
  Bevel.SetBounds(8, 66, 214, 146);
  InterpolatedCB.SetName("InterpolatedCB");
  InterpolatedCB.SetBounds(10, 10, 190, 20);
  InterpolatedCB.OnClick = [this](TObject* sender) { InterpolatedCBClick(sender); };
  FilterLbl.SetName("FilterLbl");
  FilterLbl.SetBounds(10, 40, 190, 16);
  FilterLbl.SetFocusControl(&FilterCB);
  FilterCB.SetName("FilterCB");
  FilterCB.SetBounds(10, 58, 192, 160);
  for (int filter = rfTriangle; filter <= rfMitchell; ++filter)
    FilterCB.AddItem(ResampleFilterName(filter));
  DestFormatLbl.SetName("DestFormatLbl");
  DestFormatLbl.SetBounds(10, 90, 190, 16);
  DestFormatLbl.SetFocusControl(&DestFormatCB);
  DestFormatCB.SetName("DestFormatCB");
  DestFormatCB.SetBounds(10, 108, 192, 160);
  DestFormatCB.SetItems({"Black and white", "Gray scale 16", "Gray scale 256", "Color 16",
                         "Color 256", "True Color"});
  SetFont("MS Sans Serif", -13);
  FormCreate();
}

void TResizeForm::FormCreate() {
  FilterCB.SetItemIndex(0);
  InterpolatedCBClick(this);
}

void TResizeForm::InterpolatedCBClick(TObject*) {
  const bool interpolated = InterpolatedCB.Checked();
  FilterCB.SetEnabled(interpolated);
  FilterLbl.SetEnabled(interpolated);
  DestFormatCB.SetEnabled(interpolated);
  DestFormatLbl.SetEnabled(interpolated);
}

void TResizeForm::SetImage(const TDibGraphic& image) {
  WidthFld.SetText(std::to_string(image.Width()));
  HeightFld.SetText(std::to_string(image.Height()));
  imageFormat_ = image.ImageFormat();
  DestFormatCB.SetItemIndex(imageFormat_);
}

void TResizeForm::GetParameters(TResizeTransform& transform) const {
  // Both numbers first: a bad one ends the command before any question.
  const std::int32_t width = StrToInt(WidthFld.Text());
  const std::int32_t height = StrToInt(HeightFld.Text());
  transform.SetInterpolate(InterpolatedCB.Checked());
  if (InterpolatedCB.Checked()) {
    const int filter = FilterCB.ItemIndex();
    transform.SetResampleFilter(static_cast<TResampleFilter>(filter >= 0 ? filter : 0));
    const int format = DestFormatCB.ItemIndex();
    if (format >= ifBlackWhite && format <= ifTrueColor && format != imageFormat_) {
      transform.SetForceFormat(true);
      transform.SetTargetFormat(static_cast<TImageFormat>(format));
      if (format == ifColor16 || format == ifColor256)
        ui::MessageDlg(kQuantizeWarning, ui::mtWarning, ui::mbOK);
    }
  }
  transform.SetNewWidth(width);
  transform.SetNewHeight(height);
}

std::unique_ptr<TResizeTransform> ExecuteResizeDialog(const TDibGraphic& image) {
  TResizeForm form;
  form.SetImage(image);
  if (form.ShowModal() != ui::mrOk) return nullptr;
  auto transform = std::make_unique<TResizeTransform>();
  form.GetParameters(*transform);
  return transform;
}

}  // namespace lumetra
