#include "viewer/rubberband.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace lumetra;

namespace {

// A band on a display copy of 200 x 100 that records its painting and
// its change events.
class Band : public testing::Test {
 protected:
  Band() {
    band.SetDisplaySize(200, 100);
    band.OnDraw = [this] { log += "D"; };
    band.OnErase = [this] { log += "E"; };
    band.OnChange = [this](const TRect& r) { changes.push_back(r); };
  }
  // Draws a band from (x1, y1) to (x2, y2) with the mouse.
  void Draw(int x1, int y1, int x2, int y2) {
    band.Press(x1, y1);
    band.Drag(x2, y2);
    band.Release();
  }
  void Reset() {
    log.clear();
    changes.clear();
  }

  TRubberband band;
  std::string log;
  std::vector<TRect> changes;
};

TEST_F(Band, DrawingNormalisesTheBandAndReportsEachStep) {
  Draw(150, 80, 40, 20);
  EXPECT_TRUE(band.Visible());
  EXPECT_EQ(band.Corners(), (TRect{40, 20, 150, 80}));
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0], (TRect{40, 20, 150, 80}));
  EXPECT_EQ(log, "D");
}

TEST_F(Band, APressOutsideDropsTheBandAndAClickLeavesNone) {
  band.Press(10, 10);
  band.Release();  // no band was shown: nothing to tell
  EXPECT_FALSE(band.Visible());
  EXPECT_TRUE(changes.empty());

  Draw(10, 10, 60, 60);
  Reset();
  band.Press(150, 90);
  band.Release();
  EXPECT_FALSE(band.Visible());
  EXPECT_EQ(changes, (std::vector<TRect>{TRect{}}));  // only the clearing event
  EXPECT_EQ(log, "E");
}

TEST_F(Band, ABandWithoutAreaIsErasedOnRelease) {
  Draw(10, 10, 60, 10);
  EXPECT_FALSE(band.Visible());
  EXPECT_EQ(changes.size(), 1u);  // the drag's, none for the erasing
  EXPECT_EQ(log, "DE");
}

TEST_F(Band, DragsAreClampedToTheLastPixelOfTheDisplayCopy) {
  Draw(10, 10, 500, -40);
  EXPECT_EQ(band.Corners(), (TRect{10, 0, 199, 10}));
}

struct HitCase {
  int x, y, handle;
};

class BandHit : public Band, public testing::WithParamInterface<HitCase> {};

TEST_P(BandHit, FindsCornersBeforeEdgesBeforeTheInterior) {
  Draw(50, 20, 150, 80);
  EXPECT_EQ(band.HitTest(GetParam().x, GetParam().y), GetParam().handle);
}

INSTANTIATE_TEST_SUITE_P(
    Handles, BandHit,
    testing::Values(HitCase{50, 20, ghTopLeft}, HitCase{47, 17, ghTopLeft},
                    HitCase{46, 20, ghNone}, HitCase{100, 22, ghTop},
                    HitCase{153, 17, ghTopRight}, HitCase{148, 50, ghRight},
                    HitCase{152, 83, ghBottomRight}, HitCase{100, 77, ghBottom},
                    HitCase{50, 80, ghBottomLeft}, HitCase{53, 50, ghLeft},
                    HitCase{100, 50, ghInterior}, HitCase{54, 50, ghInterior},
                    HitCase{146, 50, ghNone}, HitCase{100, 16, ghInterior},
                    HitCase{100, 84, ghNone}, HitCase{10, 10, ghNone}));

struct GripCase {
  int handle;
  int fromX, fromY, toX, toY;
  TRect result;
};

class BandGrip : public Band, public testing::WithParamInterface<GripCase> {};

TEST_P(BandGrip, DraggingAHandleMovesOnlyItsSides) {
  const GripCase& c = GetParam();
  Draw(50, 20, 150, 80);
  Reset();
  band.Press(c.fromX, c.fromY);
  EXPECT_EQ(band.GrabHandle(), c.handle);
  EXPECT_EQ(band.BandMovement(), GrabHandleToBandMovement(static_cast<std::uint8_t>(c.handle)));
  band.Drag(c.toX, c.toY);
  band.Release();
  EXPECT_EQ(band.Corners(), c.result);
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0], c.result);
  EXPECT_EQ(log, "ED");
}

// Each handle dragged by (+10, +5) from its own place; the opposite sides
// stay. A drag past the opposite side turns the band over.
INSTANTIATE_TEST_SUITE_P(
    EveryHandle, BandGrip,
    testing::Values(GripCase{ghTopLeft, 50, 20, 60, 25, {60, 25, 150, 80}},
                    GripCase{ghTop, 100, 20, 110, 25, {50, 25, 150, 80}},
                    GripCase{ghTopRight, 150, 20, 160, 25, {50, 25, 160, 80}},
                    GripCase{ghRight, 150, 50, 160, 55, {50, 20, 160, 80}},
                    GripCase{ghBottomRight, 150, 80, 160, 85, {50, 20, 160, 85}},
                    GripCase{ghBottom, 100, 80, 110, 85, {50, 20, 150, 85}},
                    GripCase{ghBottomLeft, 50, 80, 60, 85, {60, 20, 150, 85}},
                    GripCase{ghLeft, 50, 50, 60, 55, {60, 20, 150, 80}},
                    GripCase{ghInterior, 100, 50, 110, 55, {60, 25, 160, 85}},
                    GripCase{ghTopLeft, 50, 20, 170, 90, {150, 80, 170, 90}}));

TEST_F(Band, AMovedBandStopsAtTheEdges) {
  Draw(50, 20, 150, 80);
  band.Press(100, 50);
  band.Drag(300, 50);  // it would leave the copy: it stays
  EXPECT_EQ(band.Corners(), (TRect{50, 20, 150, 80}));
  band.Release();
  band.Press(100, 50);
  band.Drag(149, 50);  // x2 reaches 199, the last pixel
  EXPECT_EQ(band.Corners(), (TRect{99, 20, 199, 80}));
  band.Drag(150, 40);  // one more to the right: the whole step is refused
  EXPECT_EQ(band.Corners(), (TRect{99, 20, 199, 80}));
  band.Drag(150, 20);  // straight up to the first row
  EXPECT_EQ(band.Corners(), (TRect{99, 0, 199, 60}));
}

TEST_F(Band, FollowsARebuiltDisplayCopyTruncating) {
  band.SetDisplaySize(200, 100);
  Draw(10, 10, 101, 51);
  Reset();
  // From 100 % to 50 %: the viewer brackets its redraw inside the zoom
  // write's own bracket.
  band.BeforeRedraw();
  band.BeforeRedraw();
  band.SetDisplaySize(100, 50);
  band.AfterRedraw();
  EXPECT_TRUE(changes.empty());
  band.AfterRedraw();
  EXPECT_EQ(band.Corners(), (TRect{5, 5, 50, 25}));
  EXPECT_EQ(changes, (std::vector<TRect>{TRect{5, 5, 50, 25}}));
  EXPECT_EQ(log, "ED");
  // 37 % of 1000 x 1000 from 100 %: 370/1000 of each, truncated.
  band.SetDisplaySize(1000, 1000);
  Draw(101, 199, 999, 500);
  band.BeforeRedraw();
  band.SetDisplaySize(370, 370);
  band.AfterRedraw();
  EXPECT_EQ(band.Corners(), (TRect{37, 73, 369, 185}));
}

TEST_F(Band, ClearingTellsOnlyWhenABandWasShown) {
  band.Clear();
  EXPECT_TRUE(changes.empty());
  Draw(10, 10, 60, 60);
  Reset();
  band.Clear();
  EXPECT_FALSE(band.Visible());
  EXPECT_EQ(changes, (std::vector<TRect>{TRect{}}));
  EXPECT_EQ(log, "E");
}

struct MappingCase {
  int displayW, displayH, documentW, documentH;
  TRect bandRect, selection, copy;
};

class BandMapping : public Band, public testing::WithParamInterface<MappingCase> {};

TEST_P(BandMapping, MapsToDocumentPixels) {
  const MappingCase& c = GetParam();
  band.SetDisplaySize(c.displayW, c.displayH);
  Draw(c.bandRect.Left, c.bandRect.Top, c.bandRect.Right, c.bandRect.Bottom);
  EXPECT_EQ(band.SelectionRect(c.documentW, c.documentH), c.selection);
  EXPECT_EQ(band.CopyRect(c.documentW, c.documentH), c.copy);
}

INSTANTIATE_TEST_SUITE_P(
    Zooms, BandMapping,
    testing::Values(
        // 400 x 300 at 200 %: 150.5 and 100.5 round to even.
        MappingCase{800, 600, 400, 300, {100, 100, 301, 201}, {50, 50, 150, 100},
                    {50, 50, 150, 100}},
        // 1000 x 800 at 37 %: rounding and truncation part.
        MappingCase{370, 296, 1000, 800, {10, 20, 200, 150}, {27, 54, 541, 405},
                    {27, 54, 540, 405}},
        MappingCase{300, 200, 300, 200, {7, 9, 120, 80}, {7, 9, 120, 80}, {7, 9, 120, 80}},
        // 120 x 80 at 250 %.
        MappingCase{300, 200, 120, 80, {11, 13, 251, 187}, {4, 5, 100, 75}, {4, 5, 100, 74}}));

TEST(RubberbandErrors, SayWhatIsMissing) {
  TRubberband band;
  band.SetDisplaySize(10, 10);
  try {
    band.SelectionRect(10, 10);
    ADD_FAILURE() << "no error";
  } catch (const ERubberbandError& e) {
    EXPECT_STREQ(e.what(), "A region is not selected");
  }
  EXPECT_THROW(band.CopyRect(10, 10), ERubberbandError);
  try {
    GrabHandleToBandMovement(9);
    ADD_FAILURE() << "no error";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Invalid GrabHandle, GrabHandleToBandMovement");
  }
}

}  // namespace
