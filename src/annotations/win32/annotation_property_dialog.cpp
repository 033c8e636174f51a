#include "annotations/win32/annotation_property_dialog.h"

#include <windows.h>

#include "base/conversions.h"
#include "formats/registry.h"
#include "imaging/win32/canvas.h"
#include "transforms/resize_transform.h"

namespace lumetra {

namespace {

constexpr const char* kPictureFilter =
    "All (*.pbm;*.pgm;*.ppm;*.png;*.jpeg;*.jpg;*.dcx;*.eps;*.pcc;*.pcx;*.afi;*.vst;*.tga;*.bmp;"
    "*.tiff;*.tif;*.jpg;*.jpeg;*.bmp;*.ico;*.emf;*.wmf)|*.pbm;*.pgm;*.ppm;*.png;*.jpeg;*.jpg;"
    "*.dcx;*.eps;*.pcc;*.pcx;*.afi;*.vst;*.tga;*.bmp;*.tiff;*.tif;*.jpg;*.jpeg;*.bmp;*.ico;*.emf;"
    "*.wmf|Portable Bitmap (*.pbm)|*.pbm|Portable Greymap (*.pgm)|*.pgm|Portable Pixelmap "
    "(*.ppm)|*.ppm|Portable Network Graphic (*.png)|*.png|JPEG (*.jpeg)|*.jpeg|JPEG (*.jpg)|"
    "*.jpg|DCX file (*.dcx)|*.dcx|Encapsulated postscript (*.eps)|*.eps|ZSoft PC Paintbrush "
    "(*.pcc)|*.pcc|ZSoft PC Paintbrush (*.pcx)|*.pcx|Truevision Targa (*.afi)|*.afi|Truevision "
    "Vista (*.vst)|*.vst|Truevision Targa (*.tga)|*.tga|Bitmap file (*.bmp)|*.bmp|TIFF file "
    "(*.tiff)|*.tiff|TIFF file (*.tif)|*.tif|JPEG Image File (*.jpg)|*.jpg|JPEG Image File "
    "(*.jpeg)|*.jpeg|Bitmaps (*.bmp)|*.bmp|Icons (*.ico)|*.ico|Enhanced Metafiles (*.emf)|*.emf|"
    "Metafiles (*.wmf)|*.wmf";

int FieldValue(const ui::TEdit& edit) { return StrToInt(Trim(edit.Text())); }

bool IsTextKind(int kind) { return kind == mkStickNote || kind == mkText; }

}  // namespace

// --- the small controls --------------------------------------------------------------

TAnnotationsPropertyDialog::TMaskEdit::TMaskEdit(ui::TControl& parent)
    : TEdit(parent, ES_NUMBER) {
  SetMaxLength(5);
}

LRESULT TAnnotationsPropertyDialog::TTextSheet::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  // A read-only edit asks for its colours as a static control does.
  if ((msg == WM_CTLCOLORSTATIC || msg == WM_CTLCOLOREDIT) &&
      reinterpret_cast<HWND>(lParam) == dialog_.EditFont.Handle()) {
    HDC dc = reinterpret_cast<HDC>(wParam);
    ::SetTextColor(dc, dialog_.FontDialog.Color);
    ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
    return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
  }
  return TPanel::WndProc(msg, wParam, lParam);
}

// --- the dialog ----------------------------------------------------------------------

TAnnotationsPropertyDialog::TAnnotationsPropertyDialog()
    : TForm("Annotation Properties", 377, 307, ui::bsDialog) {
  SetName("AnnotationsPropertyDialog");
  SetPosition(ui::poScreenCenter);
  struct Place {
    ui::TControl& control;
    const char* name;
    int left, top, width, height;
  };
  const Place places[] = {
      {LabelLeft, "LabelLeft", 8, 10, 40, 16},
      {EditLeft, "EditLeft", 56, 8, 49, 21},
      {LabelTop, "LabelTop", 8, 38, 40, 16},
      {EditTop, "EditTop", 56, 36, 49, 21},
      {LabelRight, "LabelRight", 116, 10, 50, 16},
      {EditRight, "EditRight", 168, 8, 49, 21},
      {LabelBottom, "LabelBottom", 116, 38, 50, 16},
      {EditBottom, "EditBottom", 168, 36, 49, 21},
      {ColorShape, "ColorShape", 232, 8, 65, 49},
      {ColorButton, "ColorButton", 304, 20, 25, 25},
      {CheckBoxVisible, "CheckBoxVisible", 8, 66, 97, 17},
      {PageControl, "PageControl", 8, 90, 361, 177},
      {OkBtn, "OkBtn", 208, 275, 75, 25},
      {CancelBtn, "CancelBtn", 294, 275, 75, 25},
      {TabSheetText, "TabSheetText", 0, 0, 361, 177},
      {LabelText, "LabelText", 8, 8, 40, 16},
      {MemoText, "MemoText", 8, 26, 345, 97},
      {LabelFont, "LabelFont", 8, 132, 40, 16},
      {EditFont, "EditFont", 8, 150, 313, 21},
      {ButtonFont, "ButtonFont", 328, 148, 25, 25},
      {TabSheetRectangle, "TabSheetRectangle", 0, 0, 361, 177},
      {LabelRectanglePen, "LabelRectanglePen", 8, 10, 68, 16},
      {EditRectanglePen, "EditRectanglePen", 80, 8, 49, 21},
      {CheckBoxRectangleHightLight, "CheckBoxRectangleHightLight", 8, 40, 120, 17},
      {CheckBoxRectangleFilled, "CheckBoxRectangleFilled", 8, 64, 120, 17},
      {TabSheetLine, "TabSheetLine", 0, 0, 361, 177},
      {LabelLinePen, "LabelLinePen", 8, 10, 68, 16},
      {EditLinePen, "EditLinePen", 80, 8, 49, 21},
      {LineRG, "LineRG", 8, 40, 345, 105},
      {LineRG0, "LineRG0", 8, 6, 320, 20},
      {LineRG1, "LineRG1", 8, 30, 320, 20},
      {LineRG2, "LineRG2", 8, 54, 320, 20},
      {LineRG3, "LineRG3", 8, 78, 320, 20},
      {TabSheetImage, "TabSheetImage", 0, 0, 361, 177},
      {Image, "Image", 8, 26, 161, 137},
      {LabelImage, "LabelImage", 8, 8, 40, 16},
      {ButtonLoad, "ButtonLoad", 184, 26, 75, 25},
      {ButtonClear, "ButtonClear", 184, 58, 75, 25},
      {TransparentImageCB, "TransparentImageCB", 184, 96, 120, 17},
  };
  for (const Place& p : places) {
    p.control.SetName(p.name);
    p.control.SetBounds(p.left, p.top, p.width, p.height);
  }
  PageControl.SetBevelOuter(ui::bvLowered);
  EditFont.SetReadOnly(true);
  // Borderless: the sample reads as a line of text on the page.
  HWND sample = EditFont.Handle();
  ::SetWindowLongPtrA(sample, GWL_EXSTYLE,
                      ::GetWindowLongPtrA(sample, GWL_EXSTYLE) & ~LONG_PTR{WS_EX_CLIENTEDGE});
  ::SetWindowPos(sample, nullptr, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  OkBtn.SetKind(ui::bkOK);
  CancelBtn.SetKind(ui::bkCancel);
  ColorShape.SetBrushColor(clWhite);
  OpenPictureDialog.Filter = kPictureFilter;

  ColorButton.OnClick = [this](TObject*) {
    ColorDialog.Color = ColorShape.BrushColor();
    if (ColorDialog.Execute(Handle())) ColorShape.SetBrushColor(ColorDialog.Color);
  };
  ButtonFont.OnClick = [this](TObject*) {
    if (FontDialog.Execute(Handle())) {
      EditFont.SetText(FontDescription());
      EditFont.Invalidate();  // the same text may come in a new colour
    }
  };
  ButtonLoad.OnClick = [this](TObject*) {
    if (OpenPictureDialog.Execute(Handle())) LoadPicture(OpenPictureDialog.FileName);
  };
  ButtonClear.OnClick = [this](TObject*) {
    Image.Picture().Assign(nullptr);
    Image.Invalidate();
  };
  SetFont("MS Sans Serif", -13);
  ShowPage(TabSheetRectangle);
}

TAnnotationsPropertyDialog::~TAnnotationsPropertyDialog() = default;

void TAnnotationsPropertyDialog::ShowPage(ui::TControl& page) {
  ui::TControl* const sheets[] = {&TabSheetText, &TabSheetRectangle, &TabSheetLine,
                                  &TabSheetImage};
  for (ui::TControl* sheet : sheets) {
    sheet->SetVisible(sheet == &page);
  }
  activePage_ = &page;
}

int TAnnotationsPropertyDialog::LineDirection() const {
  const ui::TRadioButton* const items[] = {&LineRG0, &LineRG1, &LineRG2, &LineRG3};
  for (int i = 0; i < 4; ++i)
    if (items[i]->Checked()) return i;
  return -1;
}

void TAnnotationsPropertyDialog::SetLineDirection(int index) {
  ui::TRadioButton* const items[] = {&LineRG0, &LineRG1, &LineRG2, &LineRG3};
  for (int i = 0; i < 4; ++i) items[i]->SetChecked(i == index);
}

std::string TAnnotationsPropertyDialog::FontDescription() const {
  std::string text = FontDialog.Name + ", " + std::to_string(FontDialog.Size);
  if (FontDialog.Bold) text += ", Bold";
  if (FontDialog.Italic) text += ", Italic";
  if (FontDialog.Underline) text += ", Underline";
  if (FontDialog.StrikeOut) text += ", Strikeout";
  return text;
}

void TAnnotationsPropertyDialog::LoadPicture(const std::string& fileName) {
  std::unique_ptr<TDibGraphic> picture = CreateGraphicForFile(fileName);
  picture->LoadFromFile(fileName);
  Image.Picture().Assign(picture.get());
  Image.Invalidate();
}

void TAnnotationsPropertyDialog::LoadFromMark(const TMark& mark) {
  EditLeft.SetText(std::to_string(mark.markRect.Left));
  EditTop.SetText(std::to_string(mark.markRect.Top));
  EditRight.SetText(std::to_string(mark.markRect.Right));
  EditBottom.SetText(std::to_string(mark.markRect.Bottom));
  ColorShape.SetBrushColor(mark.color);
  CheckBoxVisible.SetChecked(mark.visible);
  if (IsTextKind(mark.kind)) {
    ShowPage(TabSheetText);
    FontDialog.Name = mark.font.name;
    FontDialog.Size = mark.font.size;
    FontDialog.Color = mark.font.color;
    FontDialog.Bold = mark.font.bold;
    FontDialog.Italic = mark.font.italic;
    FontDialog.Underline = mark.font.underline;
    FontDialog.StrikeOut = mark.font.strikeOut;
    EditFont.SetText(FontDescription());
    EditFont.Invalidate();
    MemoText.SetText(mark.text);
  } else if (mark.kind == mkRectangle) {
    ShowPage(TabSheetRectangle);
    CheckBoxRectangleFilled.SetChecked(mark.filled);
    CheckBoxRectangleHightLight.SetChecked(mark.highlight);
    EditRectanglePen.SetText(std::to_string(mark.penWidth));
  } else if (mark.kind == mkLine) {
    ShowPage(TabSheetLine);
    EditLinePen.SetText(std::to_string(mark.penWidth));
    SetLineDirection(mark.lineDirection);
  } else if (mark.kind == mkImage) {
    ShowPage(TabSheetImage);
    TransparentImageCB.SetChecked(mark.transparent);
    if (!mark.picture.empty()) {
      Image.Picture().LoadFromDIBBlock(mark.picture.data(), mark.picture.size());
    } else {
      Image.Picture().Assign(nullptr);
    }
    Image.Invalidate();
  }
}

void TAnnotationsPropertyDialog::ApplyToMark(TMark& mark, const TRect& boundingArea) {
  const TRect rect{FieldValue(EditLeft), FieldValue(EditTop), FieldValue(EditRight),
                   FieldValue(EditBottom)};
  mark.markRect = ClampMarkRect(rect, boundingArea);
  mark.color = ColorShape.BrushColor();
  mark.visible = CheckBoxVisible.Checked();
  if (IsTextKind(mark.kind)) {
    mark.font.name = FontDialog.Name;
    mark.font.size = FontDialog.Size;
    mark.font.color = FontDialog.Color;
    mark.font.bold = FontDialog.Bold;
    mark.font.italic = FontDialog.Italic;
    mark.font.underline = FontDialog.Underline;
    mark.font.strikeOut = FontDialog.StrikeOut;
    // The memo's lines joined with line breaks.
    std::string text;
    const std::vector<std::string> lines = MemoText.Lines();
    for (std::size_t i = 0; i < lines.size(); ++i) text += (i ? "\r\n" : "") + lines[i];
    mark.text = text;
  } else if (mark.kind == mkRectangle) {
    mark.filled = CheckBoxRectangleFilled.Checked();
    mark.highlight = CheckBoxRectangleHightLight.Checked();
    mark.penWidth = FieldValue(EditRectanglePen);
  } else if (mark.kind == mkLine) {
    mark.penWidth = FieldValue(EditLinePen);
    mark.lineDirection = LineDirection();
  } else if (mark.kind == mkImage) {
    mark.transparent = TransparentImageCB.Checked();
    TDibGraphic picture;
    picture.Assign(&Image.Picture());
    if (picture.Empty()) {
      mark.picture.clear();
      return;
    }
    const int w = mark.markRect.Right - mark.markRect.Left;
    const int h = mark.markRect.Bottom - mark.markRect.Top;
    // A picture larger than the mark is fitted to it exactly, without
    // interpolation; a smaller one keeps its size.
    if ((picture.Width() > w || picture.Height() > h) && w > 0 && h > 0) {
      TResizeTransform resize;
      resize.SetInterpolate(false);
      resize.SetNewWidth(w);
      resize.SetNewHeight(h);
      resize.Apply(picture);
    }
    mark.picture = picture.SaveToDIBBlock();
  }
}

}  // namespace lumetra
