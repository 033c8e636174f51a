// The documents the image scroll box shows: loading, paging through and
// holding pages, read-aheads and their warnings, saving and appending.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>

#include "formats/registry.h"
#include "formats/tiff_graphic.h"
#include "image_scroll_box_fixture.h"
#include "platform/platform.h"
#include "support/png_warnings.h"
#include "viewer/image_scroll_box.h"

using namespace lumetra;

namespace {

using namespace viewer_test;  // the fixture and its pages

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
