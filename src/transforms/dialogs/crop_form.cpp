#include "transforms/dialogs/crop_form.h"

#include "base/conversions.h"

namespace lumetra {

TCropForm::TCropForm() : TForm("Crop", 294, 143, ui::bsDialog) {
  SetName("CropForm");
  OkBtn.SetName("OkBtn");
  OkBtn.SetBounds(122, 104, 75, 25);
  OkBtn.SetKind(ui::bkOK);
  CancelBtn.SetName("CancelBtn");
  CancelBtn.SetBounds(207, 104, 75, 25);
  CancelBtn.SetKind(ui::bkCancel);
  struct Row {
    ui::TLabel& label;
    ui::TEdit& field;
    const char* labelName;
    const char* fieldName;
    int left, top;
    bool rightAligned;
  };
  const Row rows[] = {{LeftLbl, LeftFld, "LeftLbl", "LeftFld", 12, 18, false},
                      {TopLbl, TopFld, "TopLbl", "TopFld", 12, 56, false},
                      {RightLbl, RightFld, "RightLbl", "RightFld", 150, 18, true},
                      {BottomLbl, BottomFld, "BottomLbl", "BottomFld", 150, 56, true}};
  for (const Row& row : rows) {
    row.label.SetName(row.labelName);
    row.label.SetBounds(row.left, row.top + 3, 52, 16);
    if (row.rightAligned) row.label.SetAlignment(ui::taRightJustify);
    row.label.SetFocusControl(&row.field);
    row.field.SetName(row.fieldName);
    row.field.SetBounds(row.left + 58, row.top, 66, 21);
  }
  SetFont("MS Sans Serif", -13);
}

void TCropForm::GetParameters(TCropTransform& transform) const {
  const std::int32_t left = StrToInt(LeftFld.Text());
  const std::int32_t top = StrToInt(TopFld.Text());
  const std::int32_t right = StrToInt(RightFld.Text());
  const std::int32_t bottom = StrToInt(BottomFld.Text());
  transform.SetCropLeft(left);
  transform.SetCropTop(top);
  transform.SetCropRight(right);
  transform.SetCropBottom(bottom);
  transform.SetUseCoordinates(false);
}

std::unique_ptr<TCropTransform> ExecuteCropDialog() {
  TCropForm form;
  if (form.ShowModal() != ui::mrOk) return nullptr;
  auto transform = std::make_unique<TCropTransform>();
  form.GetParameters(*transform);
  return transform;
}

}  // namespace lumetra
