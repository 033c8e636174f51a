#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cstring>
#include <cmath>
#include <functional>
#include <thread>

#include "formats/registry.h"
#include "formats/tiff_graphic.h"
#include "platform/platform.h"
#include "support/png_warnings.h"
#include "ui/form.h"
#include "viewer/image_scroll_box.h"

using namespace lumetra;

namespace {

// A white 1-bit page with a few black "text lines".
std::unique_ptr<TTiffGraphic> MakePage(int width, int height) {
  auto page = std::make_unique<TTiffGraphic>();
  page->NewImage(width, height, ifBlackWhite, nullptr, 300, 300);
  page->Fill(0xFFFFFF);
  for (int y = height / 10; y + 4 < height * 9 / 10; y += 12) {
    for (int x = width / 10; x < width * 8 / 10; ++x) {
      for (int dy = 0; dy < 4; ++dy) page->SetPixels(x, y + dy, 0);
    }
  }
  return page;
}

std::string TempName(const std::string& stem) {
  return platform::TempDirectory() + "qvviewer_" + stem;
}

// Writes a TIFF whose pages have the given widths (height 60 each).
std::string WriteTiff(const std::string& stem, std::initializer_list<int> widths) {
  const std::string name = TempName(stem);
  bool first = true;
  for (int w : widths) {
    auto page = MakePage(w, 60);
    if (first) {
      TFileStream file(name, fmCreate);
      page->SaveToStream(file);
      first = false;
    } else {
      TFileStream file(name, fmOpenReadWrite);
      page->AppendToStream(file);
    }
  }
  return name;
}

class Viewer : public testing::Test {
 protected:
  Viewer() : form("Viewer test", 400, 300) {
    box.SetBounds(0, 0, 400, 300);
    box.OnRedraw = [this](TDibGraphic*) { ++redraws; };
    box.OnZoomChange = [this](TImageScrollBox*, float z) {
      ++zoomChanges;
      lastZoom = z;
    };
  }
  void Show(int width, int height) {
    auto page = MakePage(width, height);
    box.AssignGraphic(page.get());
  }
  void Pump(int milliseconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (std::chrono::steady_clock::now() < end) {
      ui::Application().ProcessMessages();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  int DisplayWidth() { return box.DisplayGraphic()->Width(); }
  int DisplayHeight() { return box.DisplayGraphic()->Height(); }

  ui::TForm form;
  TImageScrollBox box{form};
  int redraws = 0;
  int zoomChanges = 0;
  float lastZoom = 0;
};

TEST_F(Viewer, StartsAsTheComponentDeclaresIt) {
  EXPECT_EQ(box.ZoomMode(), zmOriginalSize);
  EXPECT_EQ(box.ZoomPercent(), 100);
  EXPECT_EQ(box.MouseMode(), mmDrag);
  EXPECT_NE(dynamic_cast<TDragMouseHandler*>(box.MouseHandler()), nullptr);
  EXPECT_EQ(box.Image().Cursor(), crHandOpened);
  EXPECT_TRUE(box.HorzScrollBar().Tracking());
  EXPECT_TRUE(box.Graphic()->Empty());
  EXPECT_FALSE(box.Image().Visible());
  // The cursor resources are in the program and registered as 100 and 101.
  EXPECT_NE(ui::Screen().Cursors(crHandOpened), ::LoadCursor(nullptr, IDC_ARROW));
  EXPECT_NE(ui::Screen().Cursors(crHandClosed), ui::Screen().Cursors(crHandOpened));
}

struct ZoomWrite {
  float written;
  bool accepted;
  float result;
};

class ViewerZoomWrite : public Viewer, public testing::WithParamInterface<ZoomWrite> {};

TEST_P(ViewerZoomWrite, IgnoresTinyValuesAndClampsLargeOnes) {
  Show(200, 100);
  box.SetZoomMode(zmFullPage);
  const float before = box.ZoomPercent();
  box.SetZoomPercent(GetParam().written);
  if (GetParam().accepted) {
    EXPECT_EQ(box.ZoomMode(), zmPercent);
    EXPECT_EQ(box.ZoomPercent(), GetParam().result);
  } else {
    EXPECT_EQ(box.ZoomMode(), zmFullPage);
    EXPECT_EQ(box.ZoomPercent(), before);
  }
}

INSTANTIATE_TEST_SUITE_P(Values, ViewerZoomWrite,
                         testing::Values(ZoomWrite{0.1f, false, 0}, ZoomWrite{0.0f, false, 0},
                                         ZoomWrite{std::nanf(""), false, 0},
                                         ZoomWrite{-5.0f, false, 0}, ZoomWrite{0.11f, true, 0.11f},
                                         ZoomWrite{250.0f, true, 250.0f},
                                         ZoomWrite{5000.0f, true, 1000.0f}));

TEST_F(Viewer, IgnoresZoomWritesOnAnEmptyImage) {
  box.SetZoomPercent(50);
  EXPECT_EQ(box.ZoomMode(), zmOriginalSize);
  EXPECT_EQ(zoomChanges, 0);
}

TEST_F(Viewer, TheSamePercentAgainNeitherRedrawsNorRaises) {
  Show(200, 100);
  box.SetZoomPercent(50);
  EXPECT_EQ(DisplayWidth(), 100);
  const int r = redraws, z = zoomChanges;
  box.SetZoomPercent(50);
  EXPECT_EQ(redraws, r);
  EXPECT_EQ(zoomChanges, z);

  // From a fit mode to the percent it happens to show: that redraws.
  box.SetZoomMode(zmFitWidth);
  const float fit = box.ZoomPercent();
  const int r2 = redraws, z2 = zoomChanges;
  box.SetZoomPercent(fit);
  EXPECT_EQ(box.ZoomMode(), zmPercent);
  EXPECT_GT(redraws, r2);
  EXPECT_GT(zoomChanges, z2);
}

TEST_F(Viewer, FitToPageNeverEnlargesButFullPageDoes) {
  Show(50, 40);
  box.SetZoomMode(zmFitToPage);
  EXPECT_EQ(box.ZoomPercent(), 100);
  EXPECT_EQ(DisplayWidth(), 50);

  box.SetZoomMode(zmFullPage);
  // Both scroll bars are hidden first, so the whole client area counts.
  const int cw = box.ClientWidth(), ch = box.ClientHeight();
  const float rx = static_cast<float>(static_cast<long double>(cw) / 50);
  const float ry = static_cast<float>(static_cast<long double>(ch) / 40);
  const float expected = static_cast<float>(100.0L * std::min(rx, ry));
  EXPECT_EQ(box.ZoomPercent(), expected);
  EXPECT_EQ(DisplayWidth(), static_cast<int>(std::trunc(50 * (static_cast<long double>(expected) / 100))));
  EXPECT_EQ(lastZoom, expected);
  EXPECT_FALSE(box.HorzScrollBar().Visible());
  EXPECT_FALSE(box.VertScrollBar().Visible());
}

TEST_F(Viewer, FitWidthAndFitHeightFollowTheirSide) {
  Show(1000, 2000);
  box.SetZoomMode(zmFitHeight);
  EXPECT_EQ(DisplayHeight(), box.ClientHeight());
  EXPECT_FALSE(box.VertScrollBar().Visible());
  // Fit width hides no bar first: it measures the client area as it is
  // (here without bars), in single precision, and the vertical bar that
  // the tall copy then needs covers the copy's right edge.
  const int cw = box.ClientWidth();
  box.SetZoomMode(zmFitWidth);
  const float zoom = static_cast<float>(100.0L * static_cast<float>(cw / 1000.0L));
  EXPECT_EQ(box.ZoomPercent(), zoom);
  EXPECT_EQ(DisplayWidth(), static_cast<int>(std::trunc(1000 * (static_cast<long double>(zoom) / 100))));
  EXPECT_TRUE(box.VertScrollBar().IsScrollBarVisible());
  EXPECT_LT(box.ClientWidth(), cw);
}

TEST_F(Viewer, ATinyImageKeepsAOnePixelDisplayCopy) {
  Show(1, 1);
  box.SetZoomPercent(1);
  EXPECT_EQ(DisplayWidth(), 1);
  EXPECT_EQ(DisplayHeight(), 1);
  EXPECT_EQ(box.ImageRect().Right, 1);
}

TEST_F(Viewer, CentresBySizeOfTheWholeBoxWithTruncatedHalves) {
  Show(101, 51);
  box.SetCentered(true);
  // The box's border makes its outer size larger than its client area.
  ASSERT_NE(box.Width(), box.ClientWidth());
  EXPECT_EQ(box.ImageRect().Left, (box.Width() - 101) / 2);
  EXPECT_EQ(box.ImageRect().Top, (box.Height() - 51) / 2);
  EXPECT_EQ(box.Image().Left(), box.ImageRect().Left);

  Show(1000, 1000);
  EXPECT_EQ(box.ImageRect().Left, 0);
  EXPECT_EQ(box.ImageRect().Top, 0);
}

TEST_F(Viewer, EveryRedrawScrollsBackToTheTopLeft) {
  Show(1000, 800);
  box.HorzScrollBar().SetPosition(120);
  box.VertScrollBar().SetPosition(90);
  EXPECT_EQ(box.HorzScrollBar().Position(), 120);
  EXPECT_EQ(box.Image().Left(), -120);
  box.Redraw(true);
  EXPECT_EQ(box.HorzScrollBar().Position(), 0);
  EXPECT_EQ(box.VertScrollBar().Position(), 0);
  EXPECT_EQ(box.Image().Left(), 0);
  EXPECT_EQ(box.HorzScrollBar().Range(), 1000);
  // Positions are bounded by the range beyond the client area.
  box.VertScrollBar().SetPosition(100000);
  EXPECT_EQ(box.VertScrollBar().Position(), 800 - box.ClientHeight());
}

// The vertical bar is decided with the client height left once the
// horizontal bar shows, whatever page was shown before.
TEST_F(Viewer, AWidePageGetsBothBarsAfterASmallOrALargePage) {
  for (int before : {100, 2000}) {
    Show(before, before);
    Show(1000, 291);
    ASSERT_TRUE(box.HorzScrollBar().IsScrollBarVisible()) << before;
    ASSERT_LT(box.ClientHeight(), 291) << before;
    EXPECT_TRUE(box.VertScrollBar().IsScrollBarVisible()) << before;
    box.VertScrollBar().SetPosition(100000);
    EXPECT_EQ(box.VertScrollBar().Position(), 291 - box.ClientHeight()) << before;
  }
}

TEST_F(Viewer, AnEmptyFileNameEmptiesTheViewer) {
  Show(1000, 800);
  ASSERT_TRUE(box.Image().Visible());
  box.SetFileName("");
  EXPECT_TRUE(box.Graphic()->Empty());
  EXPECT_TRUE(box.DisplayGraphic()->Empty());
  EXPECT_FALSE(box.Image().Visible());
  EXPECT_FALSE(box.HorzScrollBar().Visible());
  EXPECT_FALSE(box.VertScrollBar().Visible());
}

TEST_F(Viewer, AFailedLoadLeavesAnEmptyImageAndTheOldFileName) {
  const std::string good = WriteTiff("good.tif", {120});
  box.LoadFromFile(good, 1);
  ASSERT_EQ(box.FileName(), good);
  const std::string bad = TempName("bad.tif");
  {
    TFileStream file(bad, fmCreate);
    file.WriteBuffer("II*\0garbage-garbage-garbage", 27);
  }
  EXPECT_ANY_THROW(box.LoadFromFile(bad, 1));
  EXPECT_TRUE(box.Graphic()->Empty());
  EXPECT_EQ(box.FileName(), good);
  EXPECT_STREQ(box.Graphic()->ClassName(), "TDibGraphic");
  // The picture of the old document stays until the next redraw.
  EXPECT_FALSE(box.DisplayGraphic()->Empty());
  platform::RemoveFile(good);
  platform::RemoveFile(bad);
}

TEST_F(Viewer, PagesThroughAThreePageTiffAndWrapsAfterTheLast) {
  const std::string name = WriteTiff("three.tif", {100, 200, 300});
  EXPECT_EQ(box.GetPageCount(name), 3);
  box.LoadFromFile(name, 0);
  ASSERT_EQ(box.PageCount(), 3);
  box.SetCurrentPage(3);
  EXPECT_EQ(box.Graphic()->Width(), 300);
  EXPECT_EQ(DisplayWidth(), 300);
  EXPECT_THROW(box.SetCurrentPage(4), ELumetraError);

  box.LoadFromFile(name, 2);
  EXPECT_EQ(box.Graphic()->Width(), 200);
  EXPECT_EQ(box.PageCount(), 0);

  // Animation: a single page does not animate, three pages cycle 3 -> 1.
  box.SetAnimated(true);
  EXPECT_FALSE(box.Animated());
  box.LoadFromFile(name, 0);
  box.SetCurrentPage(3);
  box.Graphic()->SetFrameDelay(20);
  box.SetAnimated(true);
  EXPECT_TRUE(box.Animated());
  int seen = 0;
  box.OnRedraw = [&](TDibGraphic*) {
    if (seen == 0 && box.CurrentPage() == 1) seen = 1;
  };
  Pump(300);
  EXPECT_EQ(seen, 1);
  box.SetAnimated(false);
  platform::RemoveFile(name);
}

// Runs Work from the next message loop, as a message queued by the user
// or by another window would.
std::function<void()> queuedWork;
void CALLBACK RunQueuedWork(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  if (auto work = std::move(queuedWork)) work();
}
void QueueWork(std::function<void()> work) {
  queuedWork = std::move(work);
  SetTimer(nullptr, 0, 1, RunQueuedWork);
  Sleep(30);  // the timer is due before the next call looks at the queue
}

TEST_F(Viewer, APagedDocumentHoldsOnlyThePageItShows) {
  const std::string name = WriteTiff("paged.tif", {100, 200, 300, 400});
  box.LoadPages(name, 4);
  EXPECT_EQ(box.PageCount(), 4);
  EXPECT_EQ(box.CurrentPage(), 4);
  EXPECT_EQ(box.Graphic()->Width(), 400);
  EXPECT_EQ(box.Graphic()->FrameCount(), 0);
  EXPECT_EQ(box.FileName(), name);
  box.SetCurrentPage(2);
  EXPECT_EQ(box.Graphic()->Width(), 200);
  EXPECT_EQ(box.Graphic()->FrameCount(), 0);
  // A page that cannot be read leaves the page shown before.
  ASSERT_TRUE(platform::RemoveFile(name));
  EXPECT_ANY_THROW(box.SetCurrentPage(3));
  EXPECT_EQ(box.CurrentPage(), 2);
  EXPECT_EQ(box.Graphic()->Width(), 200);
  // A single image ends the paged document.
  Show(50, 40);
  EXPECT_EQ(box.PageCount(), 0);
}

// A message handled while a page is being selected must find the box in
// one piece, and the last change wins whatever arrives during the first.
enum class Queued { Reload, PageChange };
class ViewerPageOrder : public Viewer, public testing::WithParamInterface<Queued> {};

TEST_P(ViewerPageOrder, StateAndPixelsAgreeWhenAMessageArrivesDuringAPageChange) {
  const std::string name = WriteTiff("order.tif", {100, 200, 300});
  const std::string other = WriteTiff("order_other.tif", {70, 80});
  box.LoadFromFile(name, 0);
  if (GetParam() == Queued::Reload)
    QueueWork([&] { box.LoadFromFile(other, 0); });
  else
    QueueWork([&] { box.SetCurrentPage(2); });
  box.SetCurrentPage(3);
  // Nothing queued ran inside the change.
  EXPECT_EQ(box.CurrentPage(), 3);
  EXPECT_EQ(box.Graphic()->Width(), 300);
  Pump(100);
  EXPECT_FALSE(queuedWork);
  if (GetParam() == Queued::Reload) {
    EXPECT_EQ(box.FileName(), other);
    EXPECT_EQ(box.CurrentPage(), 1);
    EXPECT_EQ(box.Graphic()->Width(), 70);
  } else {
    EXPECT_EQ(box.CurrentPage(), 2);
    EXPECT_EQ(box.Graphic()->Width(), 200);
  }
  platform::RemoveFile(name);
  platform::RemoveFile(other);
}

INSTANTIATE_TEST_SUITE_P(Orders, ViewerPageOrder,
                         testing::Values(Queued::Reload, Queued::PageChange));

TEST_F(Viewer, TakesACompletedReadAheadWithoutReadingTheFileAgain) {
  const std::string name = WriteTiff("ahead.tif", {140, 70});
  box.SetReadAheadFileName(name);
  for (int i = 0; i < 400 && !box.ReadAheadReady(); ++i) Pump(10);
  ASSERT_TRUE(box.ReadAheadReady());
  // The file is gone, so only the read-ahead image can be shown.
  ASSERT_TRUE(platform::RemoveFile(name));
  std::string upper = name;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  box.LoadFromFile(upper, 1);
  EXPECT_EQ(box.Graphic()->Width(), 140);
  EXPECT_STREQ(box.Graphic()->ClassName(), "TTiffGraphic");
  EXPECT_EQ(box.ReadAheadFileName(), "");
  EXPECT_FALSE(box.ReadAheadReady());
  EXPECT_EQ(box.FileName(), upper);
  // Taken once: a second load reads the (missing) file.
  EXPECT_ANY_THROW(box.LoadFromFile(name, 1));
}

// A codec's warnings reach the box's handler on the box's thread, once per
// file: a read-ahead's when its image is taken (its worker never shows
// anything), a load's own as it reads.
TEST_F(Viewer, WarningsOfAReadAheadAndOfALoadReachTheBoxOnItsThread) {
  const std::string name = TempName("warns.png");
  png_warnings::WriteFile(name);
  std::vector<std::string> heard;
  const std::thread::id boxThread = std::this_thread::get_id();
  box.OnWarning = [&](TObject* sender, const std::string& message) {
    EXPECT_EQ(sender, &box);
    EXPECT_EQ(std::this_thread::get_id(), boxThread);
    heard.push_back(message);
  };
  box.SetReadAheadFileName(name);
  for (int i = 0; i < 400 && !box.ReadAheadReady(); ++i) Pump(10);
  ASSERT_TRUE(box.ReadAheadReady());
  EXPECT_TRUE(heard.empty()) << "a warning before the image was taken";
  box.LoadFromFile(name, 1);
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_NE(heard[0].find("1 more warnings"), std::string::npos) << heard[0];
  box.LoadFromFile(name, 1);  // read by the box itself this time
  ASSERT_EQ(heard.size(), 2u);
  EXPECT_EQ(heard[1], heard[0]);
  EXPECT_EQ(box.Graphic()->Width(), 20);
  platform::RemoveFile(name);
}

// A TIFF reader that holds every read off the test's own thread until the
// test opens the gate, so a read-ahead can be caught while it runs.
class TGatedTiff : public TTiffGraphic {
 public:
  static inline std::thread::id testThread;
  static inline std::mutex mutex;
  static inline std::condition_variable changed;
  static inline bool open = false;
  static inline bool waiting = false;
  void LoadImageFromStream(TStream& stream, int imageIndex) override {
    if (std::this_thread::get_id() != testThread) {
      std::unique_lock lock(mutex);
      waiting = true;
      changed.notify_all();
      changed.wait(lock, [] { return open; });
    }
    TTiffGraphic::LoadImageFromStream(stream, imageIndex);
  }
};

TEST_F(Viewer, LoadingTheFileItselfSupersedesARunningReadAhead) {
  TGatedTiff::testThread = std::this_thread::get_id();
  RegisterFileFormat("QVGATED", "Gated TIFF", TGraphicClass{"TTiffGraphic", [] {
                       return std::unique_ptr<TDibGraphic>(std::make_unique<TGatedTiff>());
                     }});
  const std::string tiff = WriteTiff("gated.tif", {140});
  const std::string name = TempName("gated.qvgated");
  ASSERT_TRUE(::CopyFileA(tiff.c_str(), name.c_str(), FALSE));
  box.SetReadAheadFileName(name);
  {
    std::unique_lock lock(TGatedTiff::mutex);
    ASSERT_TRUE(TGatedTiff::changed.wait_for(lock, std::chrono::seconds(20),
                                             [] { return TGatedTiff::waiting; }));
  }
  box.LoadFromFile(name, 1);
  EXPECT_EQ(box.Graphic()->Width(), 140);
  EXPECT_EQ(box.ReadAheadFileName(), "");
  // The held read ends now; what it read is older than the load above and
  // must never reach the slot, where a later load of the name would take it.
  {
    std::lock_guard lock(TGatedTiff::mutex);
    TGatedTiff::open = true;
  }
  TGatedTiff::changed.notify_all();
  Pump(300);
  EXPECT_FALSE(box.ReadAheadReady());
  platform::RemoveFile(tiff);
  platform::RemoveFile(name);
}

TEST_F(Viewer, AReadAheadOfAMissingFileLeavesTheSlotEmpty) {
  box.SetReadAheadFileName(TempName("missing.tif"));
  Pump(200);
  EXPECT_FALSE(box.ReadAheadReady());
}

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

TEST_F(Viewer, ScrollMessagesBracketAScrollWithBeginAndEnd) {
  Show(1000, 1000);
  int begins = 0, ends = 0;
  box.OnBeginScroll = [&](TObject*) { ++begins; };
  box.OnEndScroll = [&](TObject*) { ++ends; };
  ::SendMessageA(box.Handle(), WM_VSCROLL, SB_LINEDOWN, 0);
  ::SendMessageA(box.Handle(), WM_VSCROLL, SB_LINEDOWN, 0);
  EXPECT_EQ(box.VertScrollBar().Position(), 16);
  EXPECT_EQ(begins, 1);
  EXPECT_EQ(ends, 0);
  ::SendMessageA(box.Handle(), WM_VSCROLL, SB_ENDSCROLL, 0);
  ::SendMessageA(box.Handle(), WM_VSCROLL, SB_ENDSCROLL, 0);
  EXPECT_EQ(ends, 1);
  ::SendMessageA(box.Handle(), WM_HSCROLL, SB_PAGEDOWN, 0);
  EXPECT_EQ(box.HorzScrollBar().Position(), box.ClientWidth());
  EXPECT_EQ(begins, 2);
}

TEST_F(Viewer, SavesAndAppendsThroughTheRegistry) {
  Show(120, 80);
  box.SetAnnotationText("annotations of the page");
  std::string seenText;
  box.OnBeforeSave = [&](TImageScrollBox*, TDibGraphic* writer) {
    auto* tiff = dynamic_cast<TTiffGraphic*>(writer);
    ASSERT_NE(tiff, nullptr);
    seenText = tiff->CustomTagValue();
    EXPECT_EQ(writer->Width(), 120);
  };
  const std::string name = TempName("saved.tif");
  box.SaveToFile(name);
  EXPECT_EQ(box.FileName(), name);
  EXPECT_EQ(seenText, "annotations of the page");
  box.AppendToFile(name);
  EXPECT_EQ(box.FileName(), name);
  EXPECT_EQ(box.GetPageCount(name), 2);

  TMemoryStream stream;
  EXPECT_THROW(box.SaveToStream(stream, ".qqq"), ELumetraError);
  EXPECT_EQ(stream.Size(), 0);
  platform::RemoveFile(name);
}

TEST_F(Viewer, AFailedSaveLeavesAnExistingFileAsItWas) {
  const std::string name = TempName("keep.qqq");
  {
    TFileStream file(name, fmCreate);
    file.WriteBuffer("precious", 8);
  }
  Show(50, 50);
  EXPECT_THROW(box.SaveToFile(name), ELumetraError);
  TMemoryStream kept;
  kept.LoadFromFile(name);
  EXPECT_EQ(kept.Size(), 8);
  EXPECT_EQ(box.FileName(), "");
  platform::RemoveFile(name);
}

TEST_F(Viewer, CarriesTheTiffAnnotationTextFromLoadToSave) {
  const std::string name = TempName("annotated.tif");
  Show(80, 60);
  box.SetAnnotationText("Rect 1 2 3 4");
  box.SaveToFile(name);
  box.ClearGraphic();
  EXPECT_EQ(box.AnnotationText(), "");
  EXPECT_EQ(box.FileName(), "");
  std::vector<std::string> installed;
  box.OnNewGraphic = [&](TDibGraphic* g) { installed.push_back(g->ClassName()); };
  box.LoadFromFile(name, 1);
  EXPECT_EQ(box.AnnotationText(), "Rect 1 2 3 4");
  EXPECT_EQ(installed, std::vector<std::string>{"TTiffGraphic"});
  // An assigned image is a new, unnamed document without annotations, but
  // keeps the class of the last load.
  auto other = MakePage(30, 30);
  box.AssignGraphic(other.get());
  EXPECT_EQ(box.AnnotationText(), "");
  EXPECT_EQ(box.FileName(), "");
  EXPECT_STREQ(box.Graphic()->ClassName(), "TTiffGraphic");
  EXPECT_EQ(box.Graphic()->Width(), 30);
  platform::RemoveFile(name);
}

TEST_F(Viewer, AntiAliasesOnlyBlackAndWhitePages) {
  // One-pixel stripes: a plain half-size copy keeps black and white, the
  // anti-aliased one shows grey.
  auto page = std::make_unique<TDibGraphic>();
  page->NewImage(400, 400, ifBlackWhite, nullptr, 300, 300);
  for (int y = 0; y < 400; ++y) {
    for (int x = 0; x < 400; ++x) page->SetPixels(x, y, (x % 2) ? 0 : 0xFFFFFF);
  }
  box.AssignGraphic(page.get());
  box.SetZoomPercent(50);
  EXPECT_EQ(box.DisplayGraphic()->ImageFormat(), ifBlackWhite);
  const int r = redraws;
  box.SetAntiAliased(true);
  EXPECT_EQ(redraws, r + 1);
  ASSERT_EQ(DisplayWidth(), 200);
  EXPECT_NE(box.DisplayGraphic()->ImageFormat(), ifBlackWhite);
  const std::uint32_t grey = box.DisplayGraphic()->Pixels(100, 100);
  EXPECT_NE(grey, 0u);
  EXPECT_NE(grey, 0xFFFFFFu);

  // A colour image is resized plainly and keeps its format; switching the
  // option does not even redraw it.
  auto colour = std::make_unique<TDibGraphic>();
  colour->NewImage(100, 100, ifTrueColor, nullptr, 96, 96);
  colour->Fill(0x336699);
  box.AssignGraphic(colour.get());
  EXPECT_EQ(box.DisplayGraphic()->ImageFormat(), ifTrueColor);
  const int r2 = redraws;
  box.SetAntiAliased(false);
  EXPECT_EQ(redraws, r2);
}

TEST_F(Viewer, PaintsTheDisplayCopyWhereTheScrollPositionPutsIt) {
  form.Show();
  Show(1000, 1000);  // black lines at y = 100..103, 112..115, ... from x = 100
  ::UpdateWindow(form.Handle());
  Pump(50);
  HDC dc = ::GetDC(box.Image().Handle());
  EXPECT_EQ(::GetPixel(dc, 200, 101) & 0xFFFFFF, 0u);
  EXPECT_EQ(::GetPixel(dc, 200, 98) & 0xFFFFFF, 0xFFFFFFu);
  ::ReleaseDC(box.Image().Handle(), dc);
  // Scrolled down by 6 lines: the box shows the white gap where a line was.
  box.VertScrollBar().SetPosition(6);
  box.Repaint();
  box.Image().Update();
  HDC boxDc = ::GetDC(box.Handle());
  EXPECT_EQ(::GetPixel(boxDc, 200, 101 - 6) & 0xFFFFFF, 0u);
  EXPECT_EQ(::GetPixel(boxDc, 200, 108 - 6) & 0xFFFFFF, 0xFFFFFFu);
  ::ReleaseDC(box.Handle(), boxDc);
  form.Hide();
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

TEST_F(Viewer, LoadsOtherPicturesThroughThePlatformLoader) {
  // A BMP written by hand; the platform's picture loader reads it.
  auto page = MakePage(64, 32);
  const std::vector<std::uint8_t> dib = page->SaveToDIBBlock();
  const std::uint32_t offset = 14 + 40 + 2 * 4;
  const std::uint32_t size = 14 + static_cast<std::uint32_t>(dib.size());
  std::uint8_t header[14] = {'B', 'M'};
  std::memcpy(header + 2, &size, 4);
  std::memcpy(header + 10, &offset, 4);
  TMemoryStream bmp;
  bmp.WriteBuffer(header, 14);
  bmp.WriteBuffer(dib.data(), static_cast<std::int64_t>(dib.size()));
  bmp.SetPosition(0);
  std::vector<int> progress;
  box.OnReadWriteProgress = [&](TObject*, std::uint8_t p) { progress.push_back(p); };
  // A bare extension: the stream goes through a temporary file.
  box.LoadFromStream(bmp, "emf_or_bmp.bmp", 1);
  EXPECT_EQ(box.Graphic()->Width(), 64);
  EXPECT_EQ(box.Graphic()->Height(), 32);
  EXPECT_EQ(box.Graphic()->Pixels(0, 0), 0xFFFFFFu);
  EXPECT_EQ(box.Graphic()->Pixels(10, 3), 0u);
  if (!FindGraphicClass("x.bmp")) {
    EXPECT_EQ(progress, (std::vector<int>{0, 25, 90, 100}));
  }
}

}  // namespace
