#include "printing/win32/print_option_form.h"

#include <gtest/gtest.h>

#include "support/ui_robot.h"

namespace lumetra {
namespace {

TEST(PrintOptionForm, LaysOutSixRulesAboveTheSizesAndTheButtonsBelowTheBevel) {
  TPrintOptionForm form;
  EXPECT_EQ(form.Caption(), "Print Options");
  EXPECT_EQ(form.ClientWidth(), 364);
  EXPECT_EQ(form.ClientHeight(), 259);
  const ui::TRadioButton* order[] = {&form.FullPageRB,       &form.OriginalSizeRB,
                                     &form.StetchToPageRB,   &form.SpecificWidthRB,
                                     &form.SpecificHeightRB, &form.SpecificWidthAndHeightRB};
  for (int i = 1; i < 6; ++i) EXPECT_GT(order[i]->Top(), order[i - 1]->Top()) << i;
  EXPECT_GT(form.WidthLbl.Top(), form.SpecificWidthAndHeightRB.Top());
  EXPECT_GT(form.WidthFld.Top(), form.WidthLbl.Top());
  EXPECT_GT(form.HeightFld.Top(), form.HeightLbl.Top());
  EXPECT_GE(form.OkBtn.Top(), form.Bevel.Top() + form.Bevel.Height());
  EXPECT_EQ(form.FullPageRB.Caption(), "Full &Page (respect aspect ratio)");
  EXPECT_TRUE(form.FullPageRB.Checked());
  EXPECT_EQ(form.WidthFld.Text(), "5");
  EXPECT_EQ(form.HeightFld.Text(), "3");
  EXPECT_EQ(form.WidthUpDown.Max(), 24);
  EXPECT_EQ(form.HeightUpDown.Min(), 1);
  EXPECT_FALSE(form.WidthUpDown.Wrap());
  EXPECT_FALSE(form.WidthFld.Enabled());
  EXPECT_FALSE(form.HeightUpDown.Enabled());
  EXPECT_EQ(form.GetPrintMode(), pfFullPage);
  form.FullPageRB.SetChecked(false);
  EXPECT_EQ(form.GetPrintMode(), pfFullPage);
}

struct RuleCase {
  const char* caption;
  TPrintMode mode;
  bool width, height;
};

class PrintOptionRule : public testing::TestWithParam<RuleCase> {};

TEST_P(PrintOptionRule, ClickedGivesItsModeAndEnablesItsSizes) {
  const RuleCase& c = GetParam();
  TPrintOptionForm form;
  ::SendMessageA(qvtest::FindControl(form.Handle(), "Button", c.caption), BM_CLICK, 0, 0);
  EXPECT_EQ(form.GetPrintMode(), c.mode);
  EXPECT_EQ(form.WidthFld.Enabled(), c.width);
  EXPECT_EQ(form.WidthLbl.Enabled(), c.width);
  EXPECT_EQ(form.WidthUpDown.Enabled(), c.width);
  EXPECT_EQ(form.HeightFld.Enabled(), c.height);
  EXPECT_EQ(form.HeightLbl.Enabled(), c.height);
  EXPECT_EQ(form.HeightUpDown.Enabled(), c.height);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, PrintOptionRule,
    testing::Values(
        RuleCase{"&Original Size (based on graphic resolution)", pfOriginalSize, false, false},
        RuleCase{"Full &Page (respect aspect ratio)", pfFullPage, false, false},
        RuleCase{"Specific &Width (respect aspect ratio)", pfSpecificWidth, true, false},
        RuleCase{"Specific &Height (respect aspect ratio)", pfSpecificHeight, false, true},
        RuleCase{"Specific Width &and Height (ignore aspect ratio)", pfSpecificWidthAndHeight, true,
                 true},
        RuleCase{"&Stretch to page (ignore aspect ratio)", pfStretchToPage, false, false}));

TEST(PrintOptionForm, ARobotChoosesARuleAndTypesAWidth) {
  TPrintOptionForm form;
  qvtest::Robot robot("Print Options", [](HWND w) {
    qvtest::ClickControl(w, "Specific &Width (respect aspect ratio)");
    qvtest::TypeInto(w, 0, "7.5");
    qvtest::PressButton(w, "OK");
  });
  ASSERT_EQ(form.ShowModal(), ui::mrOk);
  EXPECT_TRUE(robot.Found());
  EXPECT_EQ(form.GetPrintMode(), pfSpecificWidth);
  EXPECT_EQ(form.WidthFld.Text(), "7.5");
}

TEST(PrintOptionForm, CancelEndsWithCancel) {
  TPrintOptionForm form;
  qvtest::Robot robot("Print Options", [](HWND w) { qvtest::PressButton(w, "Cancel"); });
  EXPECT_EQ(form.ShowModal(), ui::mrCancel);
  EXPECT_TRUE(robot.Found());
}

}  // namespace
}  // namespace lumetra
