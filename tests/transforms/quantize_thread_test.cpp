#include "imaging/quantize_thread.h"

#include <chrono>
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "imaging/color_reduction.h"
#include "test_images.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace lumetra {
namespace {

// Waits for the hand-over the way the UI thread gets it: by the message
// loop on Win32, by collecting finished threads elsewhere.
bool PumpUntilDelivered(const TDibGraphic& graphic) {
  for (int i = 0; i < 2000 && TQuantizeThread::Running(graphic); ++i) {
#ifdef _WIN32
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&msg);
#else
    TQuantizeThread::DeliverFinished();
#endif
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return !TQuantizeThread::Running(graphic);
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
  StartQuantizeThread(image);
  StartQuantizeThread(image);  // one thread per image
  ASSERT_TRUE(PumpUntilDelivered(image));
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(0, std::memcmp(image.LogPalette(), &expected, sizeof expected));
#ifdef _WIN32
  EXPECT_NE(image.PaletteHandle(), nullptr);
#endif
}

TEST(QuantizeThread, CancelStopsAndFreesTheWorker) {
  auto image = std::make_unique<TDibGraphic>();
  testing::MakePattern(*image, ifTrueColor, 400, 300);
  bool changed = false;
  image->OnChange = [&](TObject*) { changed = true; };
  StartQuantizeThread(*image);
  TQuantizeThread::Cancel(*image);
  EXPECT_FALSE(TQuantizeThread::Running(*image));
  image.reset();  // freeing the image afterwards is safe
  TQuantizeThread::DeliverFinished();
  EXPECT_FALSE(changed);
}

TEST(QuantizeThread, OnlyTrueColourImagesGetOne) {
  TDibGraphic image;
  testing::MakePattern(image, ifColor256, 10, 10);
  StartQuantizeThread(image);
  EXPECT_FALSE(TQuantizeThread::Running(image));
}

}  // namespace
}  // namespace lumetra
