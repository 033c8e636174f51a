// TPrintOptionForm: asks how an image is to be sized on the paper: one of
// six rules and, for the specific sizes, the width and height in inches.
#pragma once

#include "printing/print_geometry.h"
#include "ui/form.h"

namespace lumetra {

class TPrintOptionForm : public ui::TForm {
 public:
  TPrintOptionForm();
  const char* ClassName() const noexcept override { return "TPrintOptionForm"; }

  // The first checked rule in the order full page, original size, stretch,
  // specific width, specific height, specific width and height; full page
  // when none is checked.
  TPrintMode GetPrintMode() const;
  // Enables the width controls for the rules that use a width, the height
  // controls for those that use a height.
  void RBClick(TObject* sender);

  ui::TPanel Bevel{*this};
  ui::TRadioButton FullPageRB{Bevel, "Full &Page (respect aspect ratio)"};
  ui::TRadioButton OriginalSizeRB{Bevel, "&Original Size (based on graphic resolution)"};
  ui::TRadioButton StetchToPageRB{Bevel, "&Stretch to page (ignore aspect ratio)"};
  ui::TRadioButton SpecificWidthRB{Bevel, "Specific &Width (respect aspect ratio)"};
  ui::TRadioButton SpecificHeightRB{Bevel, "Specific &Height (respect aspect ratio)"};
  ui::TRadioButton SpecificWidthAndHeightRB{Bevel,
                                            "Specific Width &and Height (ignore aspect ratio)"};
  ui::TLabel WidthLbl{Bevel, "Width (inches)"};
  ui::TEdit WidthFld{Bevel, "5"};
  ui::TUpDown WidthUpDown{Bevel};
  ui::TLabel HeightLbl{Bevel, "Height (inches)"};
  ui::TEdit HeightFld{Bevel, "3"};
  ui::TUpDown HeightUpDown{Bevel};
  ui::TButton OkBtn{*this};
  ui::TButton BitBtn1{*this};
};

}  // namespace lumetra
