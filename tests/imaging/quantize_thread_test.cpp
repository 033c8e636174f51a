#include "imaging/quantize_thread.h"

#include <chrono>
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "imaging/color_reduction.h"
#include "support/test_images.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace lumetra {
namespace {

// Waits for the hand-over the way the starting thread gets it: by its
// message loop on Win32, by collecting finished threads elsewhere.
bool PumpUntilDelivered(const TQuantizeThread& thread) {
  for (int i = 0; i < 2000 && !thread.Delivered(); ++i) {
#ifdef _WIN32
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&msg);
#else
    TQuantizeThread::DeliverFinished();
#endif
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return thread.Delivered();
}

TEST(QuantizeThread, DeliversTheQuantizedPaletteOnTheStartingThread) {
  TDibGraphic image;
  testing::MakePattern(image, ifTrueColor, 120, 90);
  TLogPalette expected;
  Quantize(image, expected, 256);

  const auto starter = std::this_thread::get_id();
  int changes = 0;
  image.OnChange = [&](TObject*) {
    EXPECT_EQ(std::this_thread::get_id(), starter);
    ++changes;
  };
  std::unique_ptr<TQuantizeThread> thread = StartQuantizeThread(image);
  EXPECT_EQ(TQuantizeThread::Running(), 1);
  ASSERT_TRUE(PumpUntilDelivered(*thread));
  EXPECT_EQ(TQuantizeThread::Running(), 0);  // joined on delivery
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(0, std::memcmp(image.LogPalette(), &expected, sizeof expected));
  EXPECT_EQ(0, std::memcmp(&thread->Result(), &expected, sizeof expected));
#ifdef _WIN32
  EXPECT_NE(image.PaletteHandle(), nullptr);
#endif
  EXPECT_EQ(TQuantizeThread::DeliverFinished(), 0);  // delivered once only
}

TEST(QuantizeThread, DestroyingItStopsTheWorkerBeforeTheImageGoes) {
  auto image = std::make_unique<TDibGraphic>();
  testing::MakePattern(*image, ifTrueColor, 400, 300);
  bool changed = false;
  image->OnChange = [&](TObject*) { changed = true; };
  const TLogPalette before = *image->LogPalette();
  auto thread = StartQuantizeThread(*image);
  // Let the worker get into its picks (the image takes it far longer).
  std::this_thread::sleep_for(std::chrono::milliseconds(3));
  thread.reset();  // stops and joins
  EXPECT_EQ(TQuantizeThread::Running(), 0);
  EXPECT_EQ(0, std::memcmp(image->LogPalette(), &before, sizeof before));
  image.reset();
  EXPECT_EQ(TQuantizeThread::DeliverFinished(), 0);
  EXPECT_FALSE(changed);
}

// The image's change is raised where its views live: another thread that
// collects finished quantizers does not take this one's.
TEST(QuantizeThread, AnotherThreadDoesNotTakeTheHandOver) {
  TDibGraphic image;
  testing::MakePattern(image, ifTrueColor, 60, 40);
  int changes = 0;
  image.OnChange = [&](TObject*) { ++changes; };
  auto thread = StartQuantizeThread(image);
  for (int i = 0; i < 2000 && !thread->Finished(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_TRUE(thread->Finished());
  int takenElsewhere = -1;
  std::thread([&] { takenElsewhere = TQuantizeThread::DeliverFinished(); }).join();
  EXPECT_EQ(takenElsewhere, 0);
  EXPECT_EQ(changes, 0);
  EXPECT_TRUE(PumpUntilDelivered(*thread));
  EXPECT_EQ(changes, 1);
}

TEST(QuantizeThread, StaysSuspendedUntilResumed) {
  TDibGraphic image;
  testing::MakePattern(image, ifTrueColor, 10, 10);
  TQuantizeThread thread(image);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(thread.Finished());
  EXPECT_FALSE(thread.Deliver());
  // ...and then it runs: a worker that never starts would pass the above.
  thread.Resume();
  EXPECT_TRUE(PumpUntilDelivered(thread));
  EXPECT_TRUE(thread.Finished());
}

}  // namespace
}  // namespace lumetra
