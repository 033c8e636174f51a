// The scanning window's Resize, Format Conversion, Crop and Print commands
// as a person uses them: a robot fills the dialog and presses its button,
// and the image in the viewer shows the result.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "scanwindow/win32/main_form.h"
#include "support/ui_robot.h"

namespace quorvex::scanwindow {
namespace {

using namespace lumetra;

struct CommandCase {
  const char* name;
  const char* menu;
  const char* dialog;
  std::function<void(HWND)> robot;
  int width, height;
  TImageFormat format;
};

void PrintTo(const CommandCase& c, std::ostream* os) {
  *os << c.name;
}

class ImageDialogCommand : public testing::TestWithParam<CommandCase> {
 protected:
  void SetUp() override {
    form_ = std::make_unique<TfrmMain>();
    TDibGraphic image;
    image.NewImage(100, 100, ifTrueColor, nullptr, 300, 300);
    form_->ImageScrollBox().AssignGraphic(&image);
  }
  const TDibGraphic& Shown() { return *form_->ImageScrollBox().Graphic(); }
  void Run(const CommandCase& c) {
    qvtest::Robot robot(c.dialog, c.robot);
    form_->MainMenu()[c.menu].Click();
    EXPECT_TRUE(robot.Found());
  }
  void ExpectOriginal() {
    EXPECT_EQ(Shown().Width(), 100);
    EXPECT_EQ(Shown().Height(), 100);
    EXPECT_EQ(Shown().ImageFormat(), ifTrueColor);
  }
  std::unique_ptr<TfrmMain> form_;
};

TEST_P(ImageDialogCommand, ChangesTheShownImageAsTheFieldsAskAndUndoRestoresIt) {
  const CommandCase& c = GetParam();
  Run(c);
  EXPECT_EQ(Shown().Width(), c.width);
  EXPECT_EQ(Shown().Height(), c.height);
  EXPECT_EQ(Shown().ImageFormat(), c.format);
  form_->UndoMenuClick(nullptr);
  ExpectOriginal();
}

auto Type(std::initializer_list<const char*> texts, const char* press = "OK") {
  std::vector<const char*> values(texts);
  return [values, press](HWND w) {
    for (std::size_t i = 0; i < values.size(); ++i)
      if (values[i]) qvtest::TypeInto(w, static_cast<int>(i), values[i]);
    qvtest::PressButton(w, press);
  };
}

INSTANTIATE_TEST_SUITE_P(
    Commands, ImageDialogCommand,
    testing::Values(CommandCase{"Resize", "ResizeMenu", "Resize", Type({"50", "40"}), 50, 40,
                                ifTrueColor},
                    CommandCase{"ResizeInterpolatedToGrey", "ResizeMenu", "Resize",
                                [](HWND w) {
                                  qvtest::TypeInto(w, 0, "64");
                                  qvtest::TypeInto(w, 1, "48");
                                  qvtest::ClickControl(w, "&Interpolated");
                                  ::SendMessageA(qvtest::FindControl(w, "ComboBox", nullptr, 1),
                                                 CB_SETCURSEL, ifGray256, 0);
                                  qvtest::PressButton(w, "OK");
                                },
                                64, 48, ifGray256},
                    CommandCase{"FormatConversion", "FormatConversionMenu", "Format Conversion",
                                [](HWND w) {
                                  qvtest::ClickControl(w, "256 S&hades of Gray");
                                  qvtest::PressButton(w, "OK");
                                },
                                100, 100, ifGray256},
                    CommandCase{"Crop", "CropMenu", "Crop", Type({"10", "10", "10", "10"}), 80, 80,
                                ifTrueColor},
                    CommandCase{"CropMargins", "CropMenu", "Crop", Type({"5", "20", "15", "30"}),
                                80, 50, ifTrueColor}),
    [](const testing::TestParamInfo<CommandCase>& info) { return info.param.name; });

class ImageDialogCommandLeftAlone : public ImageDialogCommand {};

TEST_P(ImageDialogCommandLeftAlone, ChangesNothingAndKeepsTheEarlierUndo) {
  const CommandCase& c = GetParam();
  form_->MainMenu()["ConvertToGrayMenu"].Click();
  ASSERT_EQ(Shown().ImageFormat(), ifGray256);
  if (c.width < 0) {
    EXPECT_THROW(Run(c), EConvertError);
  } else {
    Run(c);
  }
  EXPECT_EQ(Shown().Width(), 100);
  EXPECT_EQ(Shown().Height(), 100);
  EXPECT_EQ(Shown().ImageFormat(), ifGray256);
  // The undo image is still the one before the grey conversion.
  form_->UndoMenuClick(nullptr);
  ExpectOriginal();
}

INSTANTIATE_TEST_SUITE_P(
    CancelAndBadNumbers, ImageDialogCommandLeftAlone,
    testing::Values(
        CommandCase{"ResizeCancel", "ResizeMenu", "Resize", Type({"50", "40"}, "Cancel"), 0, 0,
                    ifTrueColor},
        CommandCase{"FormatCancel", "FormatConversionMenu", "Format Conversion",
                    [](HWND w) {
                      qvtest::ClickControl(w, "&Black and White");
                      qvtest::PressButton(w, "Cancel");
                    },
                    0, 0, ifTrueColor},
        CommandCase{"CropCancel", "CropMenu", "Crop", Type({"10", "10", "10", "10"}, "Cancel"), 0,
                    0, ifTrueColor},
        CommandCase{"ResizeBadWidth", "ResizeMenu", "Resize", Type({"abc"}), -1, 0, ifTrueColor},
        CommandCase{"CropBadMargin", "CropMenu", "Crop", Type({nullptr, nullptr, "1.5"}), -1, 0,
                    ifTrueColor},
        // Nothing is printed, so no printer is needed.
        CommandCase{"PrintCancel", "PrintMenu", "Print Options",
                    [](HWND w) { qvtest::PressButton(w, "Cancel"); }, 0, 0, ifTrueColor}),
    [](const testing::TestParamInfo<CommandCase>& info) { return info.param.name; });

TEST(PrintCommand, ABadWidthIsAConversionErrorBeforeAnyPrinterIsAsked) {
  TfrmMain form;
  TDibGraphic image;
  image.NewImage(10, 10, ifBlackWhite, nullptr, 300, 300);
  form.ImageScrollBox().AssignGraphic(&image);
  qvtest::Robot robot("Print Options", [](HWND w) {
    qvtest::ClickControl(w, "Specific &Width (respect aspect ratio)");
    qvtest::TypeInto(w, 0, "five");
    qvtest::PressButton(w, "OK");
  });
  try {
    form.MainMenu()["PrintMenu"].Click();
    FAIL() << "no error";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'five' is not a valid floating point value");
  }
}

}  // namespace
}  // namespace quorvex::scanwindow
