#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "transforms/dialogs/crop_form.h"
#include "transforms/dialogs/format_conversion_form.h"
#include "transforms/dialogs/resize_form.h"
#include "support/ui_robot.h"

namespace lumetra {
namespace {

// The names of the controls Tab visits, from the first tab stop on.
std::vector<std::string> TabOrder(ui::TForm& form) {
  std::vector<std::string> names;
  HWND first = ::GetNextDlgTabItem(form.Handle(), nullptr, FALSE);
  for (HWND w = first; w && names.size() < 20;) {
    const ui::TControl* control = ui::TControl::FromHandle(w);
    names.push_back(control ? control->Name() : "?");
    w = ::GetNextDlgTabItem(form.Handle(), w, FALSE);
    if (w == first) break;
  }
  return names;
}

std::string FontFace(const ui::TControl& control, int& height) {
  LOGFONTA font{};
  auto handle = reinterpret_cast<HFONT>(::SendMessageA(control.Handle(), WM_GETFONT, 0, 0));
  ::GetObjectA(handle, sizeof font, &font);
  height = font.lfHeight;
  return font.lfFaceName;
}

std::unique_ptr<TDibGraphic> Image(int width, int height, TImageFormat format) {
  auto image = std::make_unique<TDibGraphic>();
  image->NewImage(width, height, format, nullptr, 300, 300);
  return image;
}

struct FormCase {
  const char* caption;
  int width, height;
  std::function<std::unique_ptr<ui::TForm>()> make;
  std::vector<std::string> tabOrder;
};

class DialogLayout : public testing::TestWithParam<FormCase> {};

TEST_P(DialogLayout, HasItsCaptionSizeBorderFontAndTabOrder) {
  const FormCase& c = GetParam();
  auto form = c.make();
  EXPECT_EQ(form->Caption(), c.caption);
  EXPECT_EQ(form->ClientWidth(), c.width);
  EXPECT_EQ(form->ClientHeight(), c.height);
  EXPECT_EQ(::GetWindowLongA(form->Handle(), GWL_STYLE) & WS_THICKFRAME, 0);
  auto* ok = dynamic_cast<ui::TButton*>(
      ui::TControl::FromHandle(qvtest::FindControl(form->Handle(), "Button", "OK")));
  auto* cancel = dynamic_cast<ui::TButton*>(
      ui::TControl::FromHandle(qvtest::FindControl(form->Handle(), "Button", "Cancel")));
  ASSERT_TRUE(ok && cancel);
  EXPECT_EQ(ok->Name(), "OkBtn");
  EXPECT_TRUE(ok->Default());
  EXPECT_TRUE(cancel->Cancel());
  int height = 0;
  EXPECT_EQ(FontFace(*ok, height), "MS Sans Serif");
  EXPECT_EQ(height, -13);
  EXPECT_EQ(TabOrder(*form), c.tabOrder);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, DialogLayout,
    testing::Values(FormCase{"Resize",
                             230,
                             262,
                             [] { return std::make_unique<TResizeForm>(); },
                             // The lists stay out of the way until Interpolated is checked.
                             {"OkBtn", "CancelBtn", "WidthFld", "HeightFld", "InterpolatedCB"}},
                    FormCase{"Format Conversion",
                             253,
                             269,
                             [] {
                               auto form = std::make_unique<TFormatConversionForm>();
                               form->SetImage(*Image(4, 4, ifColor16));
                               return form;
                             },
                             {"OkBtn", "CancelBtn", "DitherCB", "QuantizeCB", "BlackWhiteRB",
                              "Gray16RB", "Gray256RB", "Color256RB", "TrueColorRB"}},
                    FormCase{"Crop",
                             294,
                             143,
                             [] { return std::make_unique<TCropForm>(); },
                             {"OkBtn", "CancelBtn", "LeftFld", "TopFld", "RightFld", "BottomFld"}}),
    [](const testing::TestParamInfo<FormCase>& info) {
      std::string name = info.param.caption;
      std::erase(name, ' ');
      return name;
    });

TEST(ResizeForm, OpensWithTheImagesSizeAndFormatAndTheListsDisabled) {
  TResizeForm form;
  form.SetImage(*Image(2480, 3508, ifBlackWhite));
  EXPECT_EQ(form.WidthFld.Text(), "2480");
  EXPECT_EQ(form.HeightFld.Text(), "3508");
  EXPECT_FALSE(form.InterpolatedCB.Checked());
  EXPECT_EQ(form.FilterCB.Items(form.FilterCB.ItemIndex()), "Triangle");
  EXPECT_EQ(form.DestFormatCB.Items(form.DestFormatCB.ItemIndex()), "Black and white");
  for (ui::TControl* c : std::initializer_list<ui::TControl*>{
           &form.FilterCB, &form.FilterLbl, &form.DestFormatCB, &form.DestFormatLbl})
    EXPECT_FALSE(c->Enabled()) << c->Name();
  ::SendMessageA(form.InterpolatedCB.Handle(), BM_CLICK, 0, 0);
  EXPECT_TRUE(form.FilterCB.Enabled());
  EXPECT_TRUE(form.DestFormatLbl.Enabled());
}

struct ResizeCase {
  const char* name;
  TImageFormat imageFormat;
  bool interpolated;
  int filter, destFormat;
  bool warned;
  bool forceFormat;
  TImageFormat targetFormat;
};

class ResizeFormHandsOver : public testing::TestWithParam<ResizeCase> {};

TEST_P(ResizeFormHandsOver, TheFieldsAsTheTransformsParameters) {
  const ResizeCase& c = GetParam();
  TResizeForm form;
  form.SetImage(*Image(100, 80, c.imageFormat));
  form.WidthFld.SetText("640");
  form.HeightFld.SetText("480");
  form.InterpolatedCB.SetChecked(c.interpolated);
  form.FilterCB.SetItemIndex(c.filter);
  form.DestFormatCB.SetItemIndex(c.destFormat);
  std::string warning;
  std::optional<qvtest::Robot> robot;
  // Message boxes carry the application's title: a title of this test's own
  // keeps the robot off other programs' boxes.
  ui::Application().SetTitle("Quorvex resize warning");
  if (c.warned)
    robot.emplace("Quorvex resize warning", [&](HWND w) {
      warning = qvtest::MessageText(w);
      qvtest::PressButton(w, "OK");
    });
  TResizeTransform transform;
  form.GetParameters(transform);
  ui::Application().SetTitle("Quorvex");
  EXPECT_EQ(transform.NewWidth(), 640);
  EXPECT_EQ(transform.NewHeight(), 480);
  EXPECT_EQ(transform.Interpolate(), c.interpolated);
  EXPECT_EQ(transform.ResampleFilter(), c.interpolated ? c.filter : rfTriangle);
  EXPECT_EQ(transform.ForceFormat(), c.forceFormat);
  if (c.forceFormat) {
    EXPECT_EQ(transform.TargetFormat(), c.targetFormat);
  }
  if (c.warned) {
    EXPECT_TRUE(robot->Found());
    EXPECT_NE(warning.find("recommended to use the Format Conversion operation"), std::string::npos)
        << warning;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, ResizeFormHandsOver,
                         testing::Values(
                             // Unchecked: the format list is ignored whatever it shows.
                             ResizeCase{"PlainResizeKeepsTheFormat", ifTrueColor, false, 3,
                                        ifGray256, false, false, ifTrueColor},
                             ResizeCase{"InterpolatedSameFormatForcesNothing", ifTrueColor, true,
                                        rfLanczos3, ifTrueColor, false, false, ifTrueColor},
                             ResizeCase{"InterpolatedToGrey", ifTrueColor, true, rfMitchell,
                                        ifGray256, false, true, ifGray256},
                             ResizeCase{"InterpolatedToColor256Warns", ifTrueColor, true, rfBell,
                                        ifColor256, true, true, ifColor256}),
                         [](const testing::TestParamInfo<ResizeCase>& info) {
                           return info.param.name;
                         });

TEST(FormatConversionForm, DisablesTheImagesFormatAndDefaultsToTrueColour) {
  TFormatConversionForm form;
  form.SetImage(*Image(4, 4, ifColor16));
  EXPECT_FALSE(form.Color16RB.Enabled());
  EXPECT_TRUE(form.Color256RB.Enabled());
  for (ui::TCheckBox* b : std::initializer_list<ui::TCheckBox*>{
           &form.BlackWhiteRB, &form.Gray16RB, &form.Gray256RB, &form.Color16RB, &form.Color256RB,
           &form.TrueColorRB, &form.DitherCB, &form.QuantizeCB})
    EXPECT_FALSE(b->Checked()) << b->Name();
  TImageFormatTransform nothing;
  form.GetParameters(nothing);
  EXPECT_EQ(nothing.TargetFormat(), ifTrueColor);
  EXPECT_FALSE(nothing.Quantize());
  EXPECT_FALSE(nothing.Dither());

  ::SendMessageA(form.Gray256RB.Handle(), BM_CLICK, 0, 0);
  ::SendMessageA(form.DitherCB.Handle(), BM_CLICK, 0, 0);
  TImageFormatTransform grey;
  form.GetParameters(grey);
  EXPECT_EQ(grey.TargetFormat(), ifGray256);
  EXPECT_TRUE(grey.Dither());
  EXPECT_FALSE(grey.Quantize());
}

TEST(CropForm, HandsTheFourMarginsOverAsMargins) {
  TCropForm form;
  EXPECT_EQ(form.LeftFld.Text(), "0");
  EXPECT_NE(::GetWindowLongA(form.RightLbl.Handle(), GWL_STYLE) & SS_RIGHT, 0);
  EXPECT_NE(::GetWindowLongA(form.BottomLbl.Handle(), GWL_STYLE) & SS_RIGHT, 0);
  EXPECT_EQ(::GetWindowLongA(form.LeftLbl.Handle(), GWL_STYLE) & SS_RIGHT, 0);
  form.LeftFld.SetText("10");
  form.TopFld.SetText("5");
  form.RightFld.SetText("20");
  form.BottomFld.SetText("15");
  TCropTransform t;
  t.SetUseCoordinates(true);
  form.GetParameters(t);
  EXPECT_EQ(t.CropLeft(), 10);
  EXPECT_EQ(t.CropTop(), 5);
  EXPECT_EQ(t.CropRight(), 20);
  EXPECT_EQ(t.CropBottom(), 15);
  EXPECT_FALSE(t.UseCoordinates());
}

}  // namespace
}  // namespace lumetra
