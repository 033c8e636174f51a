#include "printing/win32/print_option_form.h"

namespace lumetra {

TPrintOptionForm::TPrintOptionForm() : TForm("Print Options", 364, 259, ui::bsDialog) {
  SetName("PrintOptionForm");
  SetPosition(ui::poScreenCenter);
  Bevel.SetName("Bevel");
  Bevel.SetBevelOuter(ui::bvLowered);
  Bevel.SetBounds(8, 8, 348, 206);
  ui::TRadioButton* const buttons[] = {&FullPageRB,       &OriginalSizeRB,
                                       &StetchToPageRB,   &SpecificWidthRB,
                                       &SpecificHeightRB, &SpecificWidthAndHeightRB};
  const char* const names[] = {"FullPageRB",      "OriginalSizeRB",   "StetchToPageRB",
                               "SpecificWidthRB", "SpecificHeightRB", "SpecificWidthAndHeightRB"};
  for (int i = 0; i < 6; ++i) {
    buttons[i]->SetName(names[i]);
    buttons[i]->SetBounds(10, 10 + 22 * i, 332, 20);
    buttons[i]->OnClick = [this](TObject* sender) { RBClick(sender); };
  }
  FullPageRB.SetChecked(true);

  WidthLbl.SetName("WidthLbl");
  WidthLbl.SetBounds(32, 148, 120, 16);
  WidthFld.SetName("WidthFld");
  WidthFld.SetBounds(32, 166, 80, 21);
  WidthUpDown.SetName("WidthUpDown");
  WidthUpDown.SetAssociate(WidthFld);
  HeightLbl.SetName("HeightLbl");
  HeightLbl.SetBounds(184, 148, 120, 16);
  HeightFld.SetName("HeightFld");
  HeightFld.SetBounds(184, 166, 80, 21);
  HeightUpDown.SetName("HeightUpDown");
  HeightUpDown.SetAssociate(HeightFld);
  for (auto [upDown, position] : {std::pair{&WidthUpDown, 5}, std::pair{&HeightUpDown, 3}}) {
    upDown->SetMin(1);
    upDown->SetMax(24);
    upDown->SetPosition(position);
  }

  OkBtn.SetName("OkBtn");
  OkBtn.SetBounds(196, 224, 75, 25);
  OkBtn.SetKind(ui::bkOK);
  BitBtn1.SetName("BitBtn1");
  BitBtn1.SetBounds(281, 224, 75, 25);
  BitBtn1.SetKind(ui::bkCancel);
  SetFont("MS Sans Serif", -13);
  RBClick(this);
}

TPrintMode TPrintOptionForm::GetPrintMode() const {
  const std::pair<const ui::TRadioButton*, TPrintMode> order[] = {
      {&FullPageRB, pfFullPage},
      {&OriginalSizeRB, pfOriginalSize},
      {&StetchToPageRB, pfStretchToPage},
      {&SpecificWidthRB, pfSpecificWidth},
      {&SpecificHeightRB, pfSpecificHeight},
      {&SpecificWidthAndHeightRB, pfSpecificWidthAndHeight}};
  for (const auto& [button, mode] : order)
    if (button->Checked()) return mode;
  return pfFullPage;
}

void TPrintOptionForm::RBClick(TObject*) {
  const bool both = SpecificWidthAndHeightRB.Checked();
  const bool width = both || SpecificWidthRB.Checked();
  const bool height = both || SpecificHeightRB.Checked();
  for (ui::TControl* control :
       {static_cast<ui::TControl*>(&WidthFld), static_cast<ui::TControl*>(&WidthLbl),
        static_cast<ui::TControl*>(&WidthUpDown)})
    control->SetEnabled(width);
  for (ui::TControl* control :
       {static_cast<ui::TControl*>(&HeightFld), static_cast<ui::TControl*>(&HeightLbl),
        static_cast<ui::TControl*>(&HeightUpDown)})
    control->SetEnabled(height);
}

}  // namespace lumetra
