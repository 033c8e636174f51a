// TAnnotationsPropertyDialog: the properties of one annotation mark: its
// rectangle, colour and visibility, and one page of kind-specific fields
// (text and font, rectangle pen and fill, line pen and direction, picture).
#pragma once

#include <memory>

#include "annotations/marks.h"
#include "imaging/dib_graphic.h"
#include "ui/controls.h"
#include "ui/dialogs.h"
#include "ui/form.h"

namespace lumetra {

class TAnnotationsPropertyDialog : public ui::TForm {
 public:
  TAnnotationsPropertyDialog();
  ~TAnnotationsPropertyDialog() override;
  const char* ClassName() const noexcept override { return "TAnnotationsPropertyDialog"; }

  void LoadFromMark(const TMark& mark);
  // Writes the fields into Mark in order: rectangle (held to BoundingArea),
  // colour and visibility, then the kind's fields. A blank or non-numeric
  // number raises the conversion error with what came before it applied.
  void ApplyToMark(TMark& mark, const TRect& boundingArea);

  // A digits-only edit of at most five characters.
  class TMaskEdit : public ui::TEdit {
   public:
    explicit TMaskEdit(ui::TControl& parent);
  };
  // The text page: it draws the font sample, EditFont, in the font's
  // colour on the button face.
  class TTextSheet : public ui::TPanel {
   public:
    TTextSheet(ui::TControl& parent, const TAnnotationsPropertyDialog& dialog)
        : TPanel(parent), dialog_(dialog) {}

   protected:
    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

   private:
    const TAnnotationsPropertyDialog& dialog_;
  };

  ui::TLabel LabelLeft{*this, "Left"};
  TMaskEdit EditLeft{*this};
  ui::TLabel LabelTop{*this, "Top"};
  TMaskEdit EditTop{*this};
  ui::TLabel LabelRight{*this, "Right"};
  TMaskEdit EditRight{*this};
  ui::TLabel LabelBottom{*this, "Bottom"};
  TMaskEdit EditBottom{*this};
  ui::TShape ColorShape{*this};
  ui::TButton ColorButton{*this, "..."};
  ui::TCheckBox CheckBoxVisible{*this, "Visible"};
  ui::TButton OkBtn{*this, "OK"};
  ui::TButton CancelBtn{*this, "Cancel"};

  // The page control, its tabs hidden: one panel per kind.
  ui::TPanel PageControl{*this};
  TTextSheet TabSheetText{PageControl, *this};
  ui::TLabel LabelText{TabSheetText, "Text"};
  ui::TMemo MemoText{TabSheetText};
  ui::TLabel LabelFont{TabSheetText, "Font"};
  ui::TEdit EditFont{TabSheetText};
  ui::TButton ButtonFont{TabSheetText, "..."};
  ui::TPanel TabSheetRectangle{static_cast<ui::TControl&>(PageControl)};
  ui::TLabel LabelRectanglePen{TabSheetRectangle, "Pen Width"};
  TMaskEdit EditRectanglePen{TabSheetRectangle};
  ui::TCheckBox CheckBoxRectangleHightLight{TabSheetRectangle, "Hightlight"};
  ui::TCheckBox CheckBoxRectangleFilled{TabSheetRectangle, "Filled"};
  ui::TPanel TabSheetLine{static_cast<ui::TControl&>(PageControl)};
  ui::TLabel LabelLinePen{TabSheetLine, "Pen Width"};
  TMaskEdit EditLinePen{TabSheetLine};
  ui::TPanel LineRG{static_cast<ui::TControl&>(TabSheetLine)};
  ui::TRadioButton LineRG0{LineRG, "Horizontal - Top"};
  ui::TRadioButton LineRG1{LineRG, "Vertical - Right"};
  ui::TRadioButton LineRG2{LineRG, "Top Left - Bottom Right"};
  ui::TRadioButton LineRG3{LineRG, "Bottom Left - Top Right"};
  ui::TPanel TabSheetImage{static_cast<ui::TControl&>(PageControl)};
  ui::TImage Image{TabSheetImage, true};  // the picture stretched over it
  ui::TLabel LabelImage{TabSheetImage, "Image"};
  ui::TButton ButtonLoad{TabSheetImage, "Load..."};
  ui::TButton ButtonClear{TabSheetImage, "Clear"};
  ui::TCheckBox TransparentImageCB{TabSheetImage, "Transparent"};

  ui::TFontDialog FontDialog;
  ui::TColorDialog ColorDialog;
  ui::TOpenDialog OpenPictureDialog;

  // The page shown (one of the four tab sheets), and the line direction
  // chosen in LineRG (-1 for none).
  ui::TControl* ActivePage() const { return activePage_; }
  int LineDirection() const;
  void SetLineDirection(int index);
  // "Arial, 12, Bold" for the font dialog's font.
  std::string FontDescription() const;

 private:
  void ShowPage(ui::TControl& page);
  void LoadPicture(const std::string& fileName);
  ui::TControl* activePage_ = nullptr;
};

}  // namespace lumetra
