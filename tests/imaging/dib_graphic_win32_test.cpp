// The Win32 side of the image: drawing, palette and bitmap handles, global
// memory blocks, the clipboard, the canvas and the animation timer. Runs
// under Wine.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <functional>
#include <thread>

#include "base/format.h"
#include "imaging/dib_graphic.h"
#include "imaging/win32/bitmap.h"
#include "imaging/win32/canvas.h"
#include "imaging/win32/clipboard.h"
#include "support/error_text.h"

namespace lumetra {
namespace {

using testing::MessageOf;

// A true-colour target whose pixels the test reads back.
struct Target {
  TDibGraphic image;
  explicit Target(int w, int h, std::uint32_t colour = 0x000000) {
    image.NewImage(w, h, ifTrueColor, nullptr, 96, 96);
    image.Fill(colour);
  }
  std::uint32_t At(int x, int y) const { return image.Pixels(x, y); }
  TCanvas& Canvas() { return image.Canvas(); }
};

TEST(DibWin32, DrawStretchesThePixels) {
  TDibGraphic g;
  g.NewImage(2, 1, ifColor16, nullptr, 96, 96);
  g.SetPixels(0, 0, 0xFF5555);
  g.SetPixels(1, 0, 0x55FF55);
  int drawn = 0;
  g.OnAfterDraw = [&](TObject* sender) {
    EXPECT_EQ(sender, &g);
    ++drawn;
  };
  Target t(4, 2);
  g.Draw(t.Canvas(), {0, 0, 4, 2});
  EXPECT_EQ(t.At(0, 0), 0xFF5555u);
  EXPECT_EQ(t.At(1, 1), 0xFF5555u);
  EXPECT_EQ(t.At(2, 0), 0x55FF55u);
  EXPECT_EQ(t.At(3, 1), 0x55FF55u);
  EXPECT_EQ(drawn, 1);
}

struct TransparentCase {
  TTransparentPixel corner;
  int x, y;  // where the transparent colour sits in the 3 x 3 image
};

class DibTransparent : public ::testing::TestWithParam<TransparentCase> {};

TEST_P(DibTransparent, PixelsOfTheTransparentColourLeaveTheCanvasAlone) {
  TDibGraphic g;
  g.NewImage(3, 3, ifTrueColor, nullptr, 96, 96);
  g.Fill(0x0000FF);
  g.SetPixels(GetParam().x, GetParam().y, 0x123456);
  g.SetTransparentPixel(GetParam().corner);
  g.SetTransparentColor(0x123456);
  g.SetTransparent(true);
  Target t(3, 3, 0x00FF00);
  g.Draw(t.Canvas(), {0, 0, 3, 3});
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x)
      EXPECT_EQ(t.At(x, y), x == GetParam().x && y == GetParam().y ? 0x00FF00u : 0x0000FFu)
          << x << "," << y;
}

INSTANTIATE_TEST_SUITE_P(Corners, DibTransparent,
                         ::testing::Values(TransparentCase{tpTopLeft, 0, 0},
                                           TransparentCase{tpTopRight, 2, 0},
                                           TransparentCase{tpBottomLeft, 0, 2},
                                           TransparentCase{tpBottomRight, 2, 2},
                                           TransparentCase{tpFixedColor, 1, 1}));

TEST(DibWin32, UnknownTransparentPixelRaises) {
  TDibGraphic g;
  g.NewImage(2, 2, ifTrueColor, nullptr, 96, 96);
  g.SetTransparent(true);
  g.SetTransparentPixel(static_cast<TTransparentPixel>(5));
  Target t(2, 2);
  EXPECT_EQ(MessageOf([&] { g.Draw(t.Canvas(), {0, 0, 2, 2}); }), "Invalid TransparentPixel");
}

TEST(DibWin32, PaletteHandleComesFromTheLogicalPaletteOnFirstRequest) {
  TDibGraphic g;
  g.NewImage(4, 4, ifColor16, nullptr, 96, 96);
  HPALETTE palette = static_cast<HPALETTE>(g.PaletteHandle());
  ASSERT_NE(palette, nullptr);
  EXPECT_EQ(g.PaletteHandle(), palette);
  PALETTEENTRY entries[16];
  ASSERT_EQ(::GetPaletteEntries(palette, 0, 16, entries), 16u);
  EXPECT_EQ(entries[9].peRed, 85);
  EXPECT_EQ(entries[9].peBlue, 255);

  g.NewImage(4, 4, ifTrueColor, nullptr, 96, 96);
  EXPECT_EQ(g.PaletteHandle(), nullptr);
  // A true-colour image takes a display palette it is given.
  HDC screen = ::GetDC(nullptr);
  g.SetPaletteHandle(::CreateHalftonePalette(screen));
  ::ReleaseDC(nullptr, screen);
  EXPECT_NE(g.PaletteHandle(), nullptr);
}

HBITMAP MakeDibSection(int bits, int w, int h, const RGBQUAD* colours, int count, void** pixels,
                       LONG pelsPerMetre = 0) {
  struct {
    BITMAPINFOHEADER header;
    RGBQUAD colours[256];
  } info{};
  info.header.biSize = sizeof info.header;
  info.header.biWidth = w;
  info.header.biHeight = h;
  info.header.biPlanes = 1;
  info.header.biBitCount = static_cast<WORD>(bits);
  info.header.biClrUsed = static_cast<DWORD>(count);
  info.header.biXPelsPerMeter = info.header.biYPelsPerMeter = pelsPerMetre;
  if (count) std::memcpy(info.colours, colours, sizeof(RGBQUAD) * count);
  return ::CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, pixels,
                            nullptr, 0);
}

TEST(DibWin32, LoadFromBitmapHandleKeepsPaletteAndResolution) {
  const RGBQUAD colours[3] = {{0, 0, 0, 0}, {0x30, 0x20, 0x10, 0}, {0xFF, 0, 0xFF, 0}};
  void* bits = nullptr;
  HBITMAP bitmap = MakeDibSection(8, 3, 2, colours, 3, &bits, 11811);
  ASSERT_NE(bitmap, nullptr);
  static_cast<std::uint8_t*>(bits)[1] = 1;  // bottom row, x = 1
  static_cast<std::uint8_t*>(bits)[4] = 2;  // top row, x = 0
  TDibGraphic g;
  g.LoadFromBitmapHandle(bitmap);
  ::DeleteObject(bitmap);
  EXPECT_EQ(g.ImageFormat(), ifColor256);
  EXPECT_EQ(g.Width(), 3);
  EXPECT_EQ(g.XDpi(), 300);
  EXPECT_EQ(g.Pixels(1, 1), 0x102030u);
  EXPECT_EQ(g.Pixels(0, 0), 0xFF00FFu);
}

TEST(DibWin32, LoadFromBitmapHandleTurnsDeviceAndSixteenBitBitmapsIntoTrueColour) {
  // A screen bitmap: no resolution of its own, so the screen's.
  HDC screen = ::GetDC(nullptr);
  HBITMAP ddb = ::CreateCompatibleBitmap(screen, 5, 4);
  const int screenDpi = ::GetDeviceCaps(screen, LOGPIXELSX);
  const int screenBits = ::GetDeviceCaps(screen, BITSPIXEL) * ::GetDeviceCaps(screen, PLANES);
  ::ReleaseDC(nullptr, screen);
  {
    TBitmap owner;
    owner.SetHandle(ddb);
    TCanvas& canvas = owner.Canvas();
    canvas.SetBrushColor(ColorToGdi(0xFF8000));
    canvas.FillRect({0, 0, 5, 4});
    TDibGraphic g;
    g.LoadFromBitmapHandle(owner.Handle());
    EXPECT_EQ(g.XDpi(), screenDpi);
    if (screenBits > 8) {
      EXPECT_EQ(g.ImageFormat(), ifTrueColor);
      EXPECT_EQ(g.Pixels(4, 3), 0xFF8000u);
    } else {  // a palette screen's bitmaps hold indices into its palette
      EXPECT_EQ(g.ImageFormat(), ifColor256);
    }
  }
  void* bits = nullptr;
  HBITMAP sixteen = MakeDibSection(16, 2, 1, nullptr, 0, &bits);
  static_cast<std::uint16_t*>(bits)[1] = 0x7C00;
  TDibGraphic g;
  g.LoadFromBitmapHandle(sixteen);
  ::DeleteObject(sixteen);
  EXPECT_EQ(g.ImageFormat(), ifTrueColor);
  EXPECT_EQ(g.Pixels(0, 0), 0u);
  EXPECT_EQ(g.Pixels(1, 0) & 0xF80000, 0xF80000u);

  EXPECT_EQ(MessageOf([&] { g.LoadFromBitmapHandle(nullptr); }), "Invalid bitmap");
}

TEST(DibWin32, GlobalMemoryBlocksRoundTrip) {
  TDibGraphic g;
  EXPECT_EQ(MessageOf([&] { g.SaveToDIBHandle(); }), "Graphic is empty");
  g.NewImage(7, 3, ifGray16, nullptr, 200, 200);
  g.SetPixelIndex(6, 2, 9);
  HGLOBAL block = static_cast<HGLOBAL>(g.SaveToDIBHandle());
  ASSERT_NE(block, nullptr);
  TDibGraphic back;
  back.LoadFromDIBHandle(block);
  EXPECT_EQ(back.SaveToDIBBlock(), g.SaveToDIBBlock());
  TMemoryStream stream;
  SaveDIBHandleToStream(block, stream);
  EXPECT_EQ(stream.Size(), static_cast<std::int64_t>(14 + g.SaveToDIBBlock().size()));
  ::GlobalFree(block);

  EXPECT_EQ(MessageOf([&] { back.LoadFromDIBHandle(nullptr); }), "Invalid HDIB");
  HGLOBAL tiny = ::GlobalAlloc(GMEM_MOVEABLE, 10);
  EXPECT_EQ(MessageOf([&] { back.LoadFromDIBHandle(tiny); }), "Invalid HDIB");
  ::GlobalFree(tiny);
}

class DibClipboard : public ::testing::TestWithParam<TImageFormat> {};

TEST_P(DibClipboard, ImageComesBackFromTheClipboard) {
  TDibGraphic g;
  g.NewImage(9, 5, GetParam(), nullptr, 96, 96);
  g.Fill(0xFFFFFF);
  g.SetPixels(3, 2, 0x000000);
  CopyToClipboard(g);
  ASSERT_TRUE(ClipboardHasImage());
  TDibGraphic back;
  PasteFromClipboard(back);
  ASSERT_EQ(back.Width(), 9);
  ASSERT_EQ(back.Height(), 5);
  EXPECT_EQ(back.Pixels(3, 2), 0x000000u);
  EXPECT_EQ(back.Pixels(4, 2), 0xFFFFFFu);
}

INSTANTIATE_TEST_SUITE_P(Formats, DibClipboard,
                         ::testing::Values(ifBlackWhite, ifGray256, ifColor16, ifTrueColor));

TEST(DibWin32, OnlyBitmapsComeFromTheClipboard) {
  TDibGraphic g;
  EXPECT_EQ(MessageOf([&] { g.LoadFromClipboardFormat(CF_DIB, nullptr, nullptr); }),
            "Unknown clipboard format, 8");
  EXPECT_EQ(MessageOf([&] { g.LoadFromClipboardFormat(CF_BITMAP, nullptr, nullptr); }),
            "Unknown clipboard format, 2");

  // Black and white goes as a monochrome bitmap, all else as a screen bitmap.
  HDC screen = ::GetDC(nullptr);
  const int screenBits = ::GetDeviceCaps(screen, BITSPIXEL);
  ::ReleaseDC(nullptr, screen);
  for (TImageFormat f : {ifBlackWhite, ifColor16, ifTrueColor}) {
    g.NewImage(3, 2, f, nullptr, 96, 96);
    std::uint16_t format = 0;
    void* data = nullptr;
    void* palette = reinterpret_cast<void*>(1);
    g.SaveToClipboardFormat(format, data, palette);
    EXPECT_EQ(format, CF_BITMAP);
    EXPECT_EQ(palette, reinterpret_cast<void*>(1));  // left alone
    BITMAP description{};
    ASSERT_TRUE(::GetObjectA(static_cast<HBITMAP>(data), sizeof description, &description));
    EXPECT_EQ(description.bmBitsPixel, f == ifBlackWhite ? 1 : screenBits);
    EXPECT_EQ(description.bmWidth, 3);
    ::DeleteObject(static_cast<HGDIOBJ>(data));
  }
}

TEST(DibWin32, CanvasDrawsIntoThePixels) {
  Target t(20, 10, 0xFFFFFF);
  TCanvas& c = t.Canvas();
  c.SetBrushColor(ColorToGdi(0x0000FF));
  c.FillRect({0, 0, 5, 5});
  c.SetPenColor(ColorToGdi(0xFF0000));
  c.MoveTo(10, 0);
  c.LineTo(10, 9);
  c.SetBrushClear(true);
  c.Rectangle({12, 2, 18, 8});
  c.SetFontColor(ColorToGdi(0x00FF00));
  EXPECT_GT(c.TextWidth("Wm"), 0);
  EXPECT_EQ(t.At(4, 4), 0x0000FFu);
  EXPECT_EQ(t.At(5, 5), 0xFFFFFFu);
  EXPECT_EQ(t.At(10, 5), 0xFF0000u);
  EXPECT_EQ(t.At(12, 5), 0xFF0000u);  // outline
  EXPECT_EQ(t.At(15, 5), 0xFFFFFFu);  // clear inside
  EXPECT_EQ(GdiToColor(c.Pixel(10, 5)), 0xFF0000u);

  // A rubber band drawn twice in the NOT-XOR mix leaves the pixels as they were.
  const std::vector<std::uint8_t> before = t.image.SaveToDIBBlock();
  c.SetPenMode(R2_NOTXORPEN);
  c.SetPenColor(clBlack);
  for (int pass = 0; pass < 2; ++pass) c.Rectangle({1, 1, 19, 9});
  EXPECT_EQ(t.image.SaveToDIBBlock(), before);
}

TEST(DibWin32, AssignsToAndFromBitmapsAndOtherPictures) {
  TDibGraphic g;
  g.NewImage(6, 4, ifColor256, nullptr, 96, 96);
  g.Fill(0xFF0000);
  TBitmap bitmap;
  g.AssignTo(&bitmap);
  EXPECT_EQ(bitmap.Width(), 6);
  TDibGraphic back;
  back.Assign(&bitmap);
  EXPECT_EQ(back.ImageFormat(), ifTrueColor);
  EXPECT_EQ(back.Pixels(5, 3), 0xFF0000u);

  // Any other picture draws itself onto black.
  struct Square : TGraphic {
    int Width() const override { return 4; }
    int Height() const override { return 4; }
    void SetWidth(int) override {}
    void SetHeight(int) override {}
    bool Empty() const override { return false; }
    void LoadFromStream(TStream&) override {}
    void SaveToStream(TStream&) override {}
    void Draw(TCanvas& canvas, const TRect&) override {
      canvas.SetBrushColor(ColorToGdi(0x00FF00));
      canvas.FillRect({1, 1, 3, 3});
    }
  } square;
  back.Assign(&square);
  EXPECT_EQ(back.Pixels(0, 0), 0x000000u);
  EXPECT_EQ(back.Pixels(2, 2), 0x00FF00u);
}

TEST(DibWin32, AnimationTimerStepsThroughTheFrames) {
  TDibGraphic g;
  for (int level : {10, 20, 30}) {
    auto frame = std::make_unique<TDibGraphic>();
    frame->NewImage(2, 2, ifGray256, nullptr, 96, 96);
    frame->SetPixelIndex(0, 0, level);
    frame->SetFrameDelay(5);
    g.AddFrame(std::move(frame));
  }
  g.SetCurrentFrame(1);
  g.SetAnimate(true);
  int seen = 0;
  g.OnChange = [&](TObject*) { ++seen; };
  const DWORD start = ::GetTickCount();
  MSG msg;
  while (seen < 3 && ::GetTickCount() - start < 5000) {
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&msg);
  }
  EXPECT_GE(seen, 3);
  EXPECT_EQ(g.PixelIndex(0, 0), g.CurrentFrame() * 10);
  g.SetAnimate(false);
  const int stopped = seen;
  ::Sleep(50);
  while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&msg);
  EXPECT_EQ(seen, stopped);
}

TEST(DibWin32, AnimationSwitchedOffByAViewStops) {
  TDibGraphic g;
  for (int level : {1, 2}) {
    auto frame = std::make_unique<TDibGraphic>();
    frame->NewImage(1, 1, ifGray256, nullptr, 96, 96);
    frame->SetPixelIndex(0, 0, level);
    frame->SetFrameDelay(1);
    g.AddFrame(std::move(frame));
  }
  g.SetFrameDelay(1);
  int changes = 0;
  g.OnChange = [&](TObject*) {
    if (++changes == 2) g.SetAnimate(false);  // a view stops it from inside a step
  };
  g.SetAnimate(true);
  const DWORD start = ::GetTickCount();
  MSG msg;
  while (::GetTickCount() - start < 300) {
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&msg);
  }
  EXPECT_EQ(changes, 2);
  EXPECT_FALSE(g.Animate());
}

// On a palette display (an 8-bit screen) a true-colour image starts its
// quantizer once, draws through the halftone palette meanwhile, and adopts
// the quantizer's palette when the worker hands it over.
TEST(DibWin32, PaletteDisplayStartsTheQuantizerOnce) {
  if (!PaletteDevice()) GTEST_SKIP() << "the screen is not a palette device";
  TDibGraphic g;
  g.NewImage(4, 4, ifTrueColor, nullptr, 96, 96);
  int changes = 0;
  g.OnChange = [&](TObject*) { ++changes; };
  Target t(4, 4);
  g.Draw(t.Canvas(), {0, 0, 4, 4});
  const TObject* quantizer = g.Quantizer();
  g.Draw(t.Canvas(), {0, 0, 4, 4});
  ASSERT_NE(quantizer, nullptr);
  EXPECT_EQ(g.Quantizer(), quantizer);
  const DWORD start = ::GetTickCount();
  MSG msg;
  while (changes == 0 && ::GetTickCount() - start < 5000) {
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&msg);
  }
  EXPECT_EQ(changes, 1);
  EXPECT_NE(g.PaletteHandle(), nullptr);
}

TEST(DibWin32, ManyImagesLeakNoGdiObjects) {
  // Wine's table of GDI objects holds about 65 000 entries: a single leaked
  // object per round makes a later round fail to create its DIB section.
  TDibGraphic copy;
  Target t(8, 8);
  for (int round = 0; round < 80000; ++round) {
    TDibGraphic g;
    const auto format = static_cast<TImageFormat>(round % 6);
    g.NewImage(8 + round % 5, 8, format, nullptr, 96, 96);
    g.Fill(0x808080);
    if (round % 6 != ifTrueColor) g.PaletteHandle();
    if (round % 97 == 0) g.Canvas().FillRect({0, 0, 2, 2});
    copy.Assign(&g);
    copy.SetTransparent(round % 50 == 0);
    copy.Draw(t.Canvas(), {0, 0, 8, 8});
    ASSERT_FALSE(copy.Empty()) << round;
    // The handle and bitmap exchanges, less often.
    if (round % 8 == 1) {
      std::uint16_t clipFormat = 0;
      void* bitmap = nullptr;
      void* palette = nullptr;
      g.SaveToClipboardFormat(clipFormat, bitmap, palette);
      copy.LoadFromBitmapHandle(bitmap);
      ::DeleteObject(static_cast<HGDIOBJ>(bitmap));
    } else if (round % 8 == 3) {
      HGLOBAL block = static_cast<HGLOBAL>(g.SaveToDIBHandle());
      copy.LoadFromDIBHandle(block);
      ::GlobalFree(block);
    } else if (round % 8 == 5) {
      TBitmap bitmap;
      g.AssignTo(&bitmap);
      copy.Assign(&bitmap);
    }
  }
}

}  // namespace
}  // namespace lumetra
