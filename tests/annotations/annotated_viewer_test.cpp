// The viewer paints a page's marks into its display copy when it shows
// annotations, at whatever zoom the page is shown.
#include <gtest/gtest.h>

#include "annotations/annotation_text.h"
#include "formats/tiff_graphic.h"
#include "platform/platform.h"
#include "ui/form.h"
#include "viewer/image_scroll_box.h"

namespace lumetra {
namespace {

constexpr std::uint32_t kRed = 0xFF0000, kWhite = 0xFFFFFF;

class AnnotatedViewer : public ::testing::TestWithParam<float> {
 protected:
  AnnotatedViewer() : form("Annotated viewer test", 400, 300) { box.SetBounds(0, 0, 400, 300); }
  ui::TForm form;
  TImageScrollBox box{form};
};

TEST_P(AnnotatedViewer, PaintsTheMarksOfTheTiffPageAtTheZoom) {
  TTiffGraphic page;
  page.NewImage(160, 100, ifTrueColor, nullptr, 96, 96);
  page.Fill(kWhite);
  TMark box1 = NewMark(mkRectangle);
  box1.markRect = {10, 20, 110, 70};
  box1.color = ColorToGdi(kRed);
  box1.highlight = false;
  TMark hidden = box1;
  hidden.markRect = {120, 0, 150, 10};
  hidden.visible = false;
  page.SetCustomTagValue(SaveMarksToText({box1, hidden}));
  page.SetCompression(tcLZW);
  const std::string name = platform::TempDirectory() + "qv_annotated_viewer.tif";
  {
    TFileStream file(name, fmCreate);
    page.SaveToStream(file);
  }
  box.SetShowAnnotations(true);
  box.LoadFromFile(name, 1);
  box.SetZoomPercent(GetParam());
  const TDibGraphic& display = *box.DisplayGraphic();
  const double z = GetParam() / 100;
  const TRect expected{int(10 * z), int(20 * z), int(110 * z), int(70 * z)};
  for (int y = 0; y < display.Height(); ++y)
    for (int x = 0; x < display.Width(); ++x) {
      const bool inside =
          x >= expected.Left && x < expected.Right && y >= expected.Top && y < expected.Bottom;
      ASSERT_EQ(display.Pixels(x, y), inside ? kRed : kWhite) << x << "," << y;
    }
  box.SetShowAnnotations(false);
  box.SetMouseMode(mmNone);  // hides them
  EXPECT_EQ(box.DisplayGraphic()->Pixels(int(50 * z), int(40 * z)), kWhite);
  std::remove(name.c_str());
}

INSTANTIATE_TEST_SUITE_P(Zooms, AnnotatedViewer, ::testing::Values(50.0f, 200.0f));

}  // namespace
}  // namespace lumetra
