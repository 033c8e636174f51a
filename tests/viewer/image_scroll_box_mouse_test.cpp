// The image scroll box's mouse: dragging the page, and the modes (handlers)
// that hear of every redraw and offer a selection.
#include <gtest/gtest.h>

#include "image_scroll_box_fixture.h"
#include "viewer/image_scroll_box.h"

using namespace lumetra;

namespace {

using namespace viewer_test;  // the fixture and its pages

TEST_F(Viewer, DragsThePageWithSynthesisedMouseMessages) {
  Show(1000, 1000);
  HWND image = box.Image().Handle();
  ::SendMessageA(image, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(200, 150));
  EXPECT_EQ(ui::Screen().Cursor(), crHandClosed);
  ::SendMessageA(image, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(150, 100));
  EXPECT_EQ(box.HorzScrollBar().Position(), 50);
  EXPECT_EQ(box.VertScrollBar().Position(), 50);
  EXPECT_EQ(box.Image().Left(), -50);
  // The control moved with the page: the grabbed point is under the mouse
  // again at image (200, 150); a further move of 80 pixels adds 80.
  ::SendMessageA(image, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(120, 70));
  EXPECT_EQ(box.HorzScrollBar().Position(), 130);
  EXPECT_EQ(box.VertScrollBar().Position(), 130);
  ::SendMessageA(image, WM_LBUTTONUP, 0, MAKELPARAM(120, 70));
  EXPECT_EQ(ui::Screen().Cursor(), ui::crDefault);
  ::SendMessageA(image, WM_MOUSEMOVE, 0, MAKELPARAM(0, 0));
  EXPECT_EQ(box.HorzScrollBar().Position(), 130);

  // The right button does not drag.
  ::SendMessageA(image, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(200, 150));
  ::SendMessageA(image, WM_MOUSEMOVE, MK_RBUTTON, MAKELPARAM(100, 100));
  ::SendMessageA(image, WM_RBUTTONUP, 0, MAKELPARAM(100, 100));
  EXPECT_EQ(box.HorzScrollBar().Position(), 130);
}

TEST_F(Viewer, DoesNotDragAPageThatFits) {
  Show(100, 100);
  int downs = 0;
  box.OnImageMouseDown = [&](TObject* sender, ui::TMouseButton, ui::TShiftState, int x, int y) {
    EXPECT_EQ(sender, &box);
    EXPECT_EQ(x, 20);
    EXPECT_EQ(y, 30);
    ++downs;
  };
  HWND image = box.Image().Handle();
  ::SendMessageA(image, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, 30));
  EXPECT_EQ(ui::Screen().Cursor(), ui::crDefault);
  ::SendMessageA(image, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(0, 0));
  ::SendMessageA(image, WM_LBUTTONUP, 0, MAKELPARAM(0, 0));
  EXPECT_EQ(box.HorzScrollBar().Position(), 0);
  EXPECT_EQ(downs, 1);
}

TEST_F(Viewer, SelectionCommandsNeedTheRubberbandMode) {
  Show(100, 100);
  for (auto command : {+[](TImageScrollBox& b) { b.CopySelection(); },
                       +[](TImageScrollBox& b) { b.CropToSelection(); },
                       +[](TImageScrollBox& b) { b.PasteIntoSelection(nullptr); }}) {
    try {
      command(box);
      ADD_FAILURE() << "no error";
    } catch (const ELumetraError& e) {
      EXPECT_STREQ(e.what(), "Rubberband mouse handler not active");
    }
  }
}

// A mode that records what the viewer tells it, and offers a selection.
class TRecordingHandler : public TMouseHandler, public TRubberbandSelection {
 public:
  TRecordingHandler(TImageScrollBox& viewer, std::string& log) : TMouseHandler(viewer), log_(log) {}
  ~TRecordingHandler() override { log_ += "~"; }
  void BeforeRedraw() override { log_ += "B"; }
  void AfterRedraw() override { log_ += "A"; }
  void MouseDown(ui::TMouseButton b, ui::TShiftState s, int x, int y) override {
    TMouseHandler::MouseDown(b, s, x, y);
    log_ += "D";
  }
  void CopySelection() override { log_ += "copy"; }
  void CropToSelection() override { log_ += "crop"; }
  void ClearBand() override { log_ += "clear"; }
  TRect GetSelectionRect() override { return TRect{0, 0, 10, 10}; }

 private:
  std::string& log_;
};

TEST_F(Viewer, TellsTheModeAboutEveryRedrawThatChangesThePicture) {
  std::string log;
  box.RegisterMouseHandler(mmRubberband, [&](TImageScrollBox& v) {
    return std::make_unique<TRecordingHandler>(v, log);
  });
  Show(200, 100);
  box.SetMouseMode(mmRubberband);
  ASSERT_NE(dynamic_cast<TRecordingHandler*>(box.MouseHandler()), nullptr);
  box.SetZoomPercent(50);  // the write's own bracket around the redraw's
  EXPECT_EQ(log, "BBAA");
  log.clear();
  box.Redraw(false);  // nothing changed
  EXPECT_EQ(log, "");
  box.Redraw(true);
  EXPECT_EQ(log, "BA");
  log.clear();
  box.SetCentered(true);  // the centring step is bracketed as well
  EXPECT_EQ(log, "BBAA");
  log.clear();

  std::string order;
  box.OnImageMouseDown = [&](TObject*, ui::TMouseButton, ui::TShiftState, int, int) {
    order = log;
  };
  ::SendMessageA(box.Image().Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  ::SendMessageA(box.Image().Handle(), WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
  EXPECT_EQ(order, "D");  // the mode first, then the event
  log.clear();

  box.CopySelection();
  box.CropToSelection();  // the viewer then clears the band
  EXPECT_EQ(log, "copycropclear");
  log.clear();
  auto page = MakePage(20, 20);
  box.AssignGraphic(page.get());
  EXPECT_EQ(log.substr(0, 5), "clear");
  log.clear();
  box.SetMouseMode(mmDrag);  // the owned mode is freed
  EXPECT_EQ(log, "~");
  box.RegisterMouseHandler(mmRubberband, nullptr);
  EXPECT_THROW(box.SetMouseMode(mmRubberband), ELumetraError);
}

TEST_F(Viewer, KeepsAHandlerItDoesNotOwn) {
  std::string log;
  TRecordingHandler handler(box, log);
  box.SetMouseHandler(&handler);  // frees the owned drag handler
  box.SetMouseHandlerOwnership(false);
  box.SetMouseHandler(nullptr);
  EXPECT_EQ(log, "");
  EXPECT_THROW(box.SetMouseMode(mmAnnotation), ELumetraError);
  EXPECT_EQ(box.MouseMode(), mmDrag);
}

TEST_F(Viewer, ModeNoneLeavesNoHandlerAndTheDefaultCursor) {
  box.SetMouseMode(mmNone);
  EXPECT_EQ(box.MouseHandler(), nullptr);
  EXPECT_EQ(box.Image().Cursor(), ui::crDefault);
  box.SetMouseMode(mmDrag);
  EXPECT_EQ(box.Image().Cursor(), crHandOpened);
}

}  // namespace
