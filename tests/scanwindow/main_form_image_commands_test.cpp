// Every command of the scanning window's image menu as a person gives it: a
// WM_COMMAND with the menu item's id (what a click sends) or the item's
// short-cut, with a robot answering the dialogs, checked on the viewer's
// image; undo restores it byte for byte.
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <memory>
#include <vector>

#include "main_form_commands_fixture.h"
#include "support/ui_robot.h"
#include "transforms/convolution_transforms.h"
#include "transforms/format_transform.h"
#include "transforms/geometric_transforms.h"
#include "transforms/point_transforms.h"
#include "transforms/resize_transform.h"

namespace quorvex::scanwindow {
namespace {

using namespace lumetra;
using namespace commands_test;  // the window fixture and byte comparisons

using TMake = std::function<std::unique_ptr<TImageTransform>()>;

template <class T>
TMake Plain() {
  return [] { return std::unique_ptr<TImageTransform>(std::make_unique<T>()); };
}

TMake Rotation(double angle, bool blackBack) {
  return [=] {
    auto t = std::make_unique<TRotateTransform>();
    t->SetAngle(angle);
    if (blackBack) t->SetBackColor(0x000000);
    return std::unique_ptr<TImageTransform>(std::move(t));
  };
}

struct EditCase {
  EditCase(const char* name, const char* item, TMake expected, const char* dialog = nullptr,
           std::function<void(HWND)> answer = {})
      : name(name), item(item), expected(std::move(expected)), dialog(dialog),
        answer(std::move(answer)) {}
  const char* name;
  const char* item;
  TMake expected;      // the transform the command must apply
  const char* dialog;  // the dialog the command asks in
  std::function<void(HWND)> answer;
};

void PrintTo(const EditCase& c, std::ostream* os) { *os << c.name; }

class ImageCommand : public WindowCommands, public ::testing::WithParamInterface<EditCase> {};

std::function<void(HWND)> TypeAndOk(const char* text) {
  return [text](HWND w) {
    qvtest::TypeInto(w, 0, text);
    qvtest::PressButton(w, "OK");
  };
}

TEST_P(ImageCommand, EditsTheShownPageOnlyAndUndoRestoresItByteForByte) {
  const EditCase& c = GetParam();
  Idle();
  ASSERT_TRUE(Enabled(c.item));
  EXPECT_FALSE(Enabled("UndoMenu"));
  const std::vector<std::uint8_t> before = ImageBytes(Shown());
  const std::vector<char> fileBefore = FileBytes(document_);
  TDibGraphic original;
  original.Assign(&Shown());

  if (c.dialog) {
    qvtest::Robot robot(c.dialog, c.answer);
    Command(c.item);
    EXPECT_TRUE(robot.Found());
  } else {
    Command(c.item);
  }
  TDibGraphic expected;
  std::unique_ptr<TImageTransform> transform = c.expected();
  transform->ApplyOnDest(original, expected);
  EXPECT_TRUE(lumetra::testing::SameImage(Shown(), expected));
  EXPECT_NE(ImageBytes(Shown()), before);
  // The edit is the viewer's: the document on disk is as it was, and the
  // window still shows its page 2 of 2.
  EXPECT_EQ(FileBytes(document_), fileBefore);
  EXPECT_EQ(Viewer().PageCount(), 2);
  EXPECT_EQ(Viewer().CurrentPage(), 2);

  Idle();
  ASSERT_TRUE(Enabled("UndoMenu"));
  CtrlKey('Z');
  EXPECT_EQ(ImageBytes(Shown()), before);
  EXPECT_EQ(Viewer().PageCount(), 2);
  form_.PageEdit().SetText("1");  // the document can still be paged
  EXPECT_EQ(Shown().Width(), 41);
  Idle();
  EXPECT_FALSE(Enabled("UndoMenu"));
}

INSTANTIATE_TEST_SUITE_P(
    Commands, ImageCommand,
    ::testing::Values(
        EditCase{"Rotate90", "Rotate90Menu", Rotation(90, false)},
        EditCase{"Rotate180", "Rotate180Menu", Rotation(180, false)},
        EditCase{"Rotate270", "Rotate270Menu", Rotation(270, false)},
        EditCase{"RotateArbitrary", "RotateArbitraryMenu", Rotation(30, true), "Rotate",
                 TypeAndOk("30")},
        EditCase{"FlipHorizontal", "FlipHorizontalMenu", Plain<TFlipHorizontalTransform>()},
        EditCase{"FlipVertical", "FlipVerticalMenu", Plain<TFlipVerticalTransform>()},
        EditCase{"Negative", "NegativeMenu", Plain<TNegativeTransform>()},
        EditCase{"Sharpen", "SharpenMenu", Plain<TSharpenTransform>()},
        EditCase{"Smooth", "SmoothMenu", Plain<TSmoothTransform>()},
        EditCase{"EdgeDetection", "EdgeDetectionMenu", Plain<TEdgeTransform>()},
        EditCase{"Emboss", "EmbossMenu", Plain<TEmbossTransform>()},
        EditCase{"BrightnessUp", "IncreassBrightnessMenu",
                 [] {
                   auto t = std::make_unique<TBrightnessTransform>();
                   t->SetAmount(3);
                   return std::unique_ptr<TImageTransform>(std::move(t));
                 }},
        EditCase{"BrightnessDown", "DecreaseBrightnessMenu",
                 [] {
                   auto t = std::make_unique<TBrightnessTransform>();
                   t->SetAmount(-3);
                   return std::unique_ptr<TImageTransform>(std::move(t));
                 }},
        EditCase{"ContrastUp", "IncreaseContrastMenu",
                 [] {
                   auto t = std::make_unique<TContrastTransform>();
                   t->SetIncreaseContrast(true);
                   return std::unique_ptr<TImageTransform>(std::move(t));
                 }},
        EditCase{"ContrastDown", "DecreaseContrastMenu",
                 [] {
                   auto t = std::make_unique<TContrastTransform>();
                   t->SetIncreaseContrast(false);
                   return std::unique_ptr<TImageTransform>(std::move(t));
                 }},
        EditCase{"Gamma", "GammaMenu",
                 [] {
                   auto t = std::make_unique<TGammaTransform>();
                   t->SetGammaValue(2.2);
                   return std::unique_ptr<TImageTransform>(std::move(t));
                 },
                 "Gamma", TypeAndOk("2.2")},
        EditCase{"ConvertToGray", "ConvertToGrayMenu", Plain<TConvertToGrayTransform>()},
        EditCase{"Resize", "ResizeMenu",
                 [] {
                   auto t = std::make_unique<TResizeTransform>();
                   t->SetNewWidth(50);
                   t->SetNewHeight(40);
                   return std::unique_ptr<TImageTransform>(std::move(t));
                 },
                 "Resize",
                 [](HWND w) {
                   qvtest::TypeInto(w, 0, "50");
                   qvtest::TypeInto(w, 1, "40");
                   qvtest::PressButton(w, "OK");
                 }},
        EditCase{"Crop", "CropMenu",
                 [] {
                   auto t = std::make_unique<TCropTransform>();
                   t->SetCropLeft(2);
                   t->SetCropTop(3);
                   t->SetCropRight(4);
                   t->SetCropBottom(5);
                   return std::unique_ptr<TImageTransform>(std::move(t));
                 },
                 "Crop",
                 [](HWND w) {
                   const char* margins[] = {"2", "3", "4", "5"};
                   for (int i = 0; i < 4; ++i) qvtest::TypeInto(w, i, margins[i]);
                   qvtest::PressButton(w, "OK");
                 }},
        EditCase{"FormatConversion", "FormatConversionMenu",
                 [] {
                   auto t = std::make_unique<TImageFormatTransform>();
                   t->SetTargetFormat(ifGray256);
                   t->SetQuantize(false);  // the dialog's boxes start clear
                   t->SetDither(false);
                   return std::unique_ptr<TImageTransform>(std::move(t));
                 },
                 "Format Conversion",
                 [](HWND w) {
                   qvtest::ClickControl(w, "256 S&hades of Gray");
                   qvtest::PressButton(w, "OK");
                 }}),
    [](const ::testing::TestParamInfo<EditCase>& info) { return info.param.name; });

TEST_F(WindowCommands, ImageCommandsWaitForAnImageAndTypedNumbersAreChecked) {
  // Every item of the Image menu, and the file commands that write the
  // image, wait for one; without it they are disabled and do nothing.
  std::vector<const ui::TMenuItem*> needImage;
  const std::function<void(const ui::TMenuItem&)> collect = [&](const ui::TMenuItem& parent) {
    for (int i = 0; i < parent.Count(); ++i) {
      needImage.push_back(&parent.Items(i));
      collect(parent.Items(i));
    }
  };
  collect(form_.MainMenu()["ImageMenu"]);
  for (const char* item :
       {"SaveMenu", "SaveAsMenu", "AppendtoTIFFMenu", "AppendtoDCXMenu", "CopyMenu"})
    needImage.push_back(&form_.MainMenu()[item]);
  form_.DocumentFileName.clear();
  Viewer().ClearGraphic();
  Idle();
  for (const ui::TMenuItem* item : needImage) EXPECT_FALSE(item->Enabled()) << item->Name();
  Command("NegativeMenu");
  EXPECT_TRUE(Shown().Empty());

  form_.DocumentFileName = document_;
  form_.ShowDocument();
  Idle();
  for (const ui::TMenuItem* item : needImage) EXPECT_TRUE(item->Enabled()) << item->Name();
  const std::vector<std::uint8_t> shown = ImageBytes(Shown());
  Command("Rotate90Menu");
  // A bad angle is reported and leaves the image and the undo image alone;
  // Cancel in the gamma box too.
  qvtest::Robot error("Quorvex", [](HWND w) {
    EXPECT_EQ(qvtest::MessageText(w), "'abc' is not a valid floating point value");
    qvtest::PressButton(w, "OK");
  });
  CommandAnswered("RotateArbitraryMenu", "Rotate", TypeAndOk("abc"));
  EXPECT_TRUE(error.Found());
  CommandAnswered("GammaMenu", "Gamma", [](HWND w) { qvtest::PressButton(w, "Cancel"); });
  EXPECT_EQ(Shown().Width(), 30);
  Idle();
  Command("UndoMenu");
  EXPECT_EQ(ImageBytes(Shown()), shown);
}

TEST_F(WindowCommands, UndoOfACropToSelectionKeepsThePageOfItsDocument) {
  Command("SelectMenu");
  form_.ZoomEdit().SetText("100");
  const std::vector<std::uint8_t> before = ImageBytes(Shown());
  const HWND image = Viewer().Image().Handle();
  ::PostMessageA(image, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  ::PostMessageA(image, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(25, 20));
  ::PostMessageA(image, WM_LBUTTONUP, 0, MAKELPARAM(25, 20));
  Idle();
  Command("CroptoSelectionMenu");
  ASSERT_EQ(Shown().Width(), 20);
  Idle();
  Command("UndoMenu");
  EXPECT_EQ(ImageBytes(Shown()), before);
  EXPECT_EQ(Viewer().PageCount(), 2);
}

}  // namespace
}  // namespace quorvex::scanwindow
