// Metafiles and icons, which GDI draws: Windows only.
#include <windows.h>

#include <vector>

#include "support/format_images.h"
#include "formats/registry.h"
#include "formats/win32/icon_graphic.h"
#include "formats/win32/metafile_graphic.h"

namespace lumetra {
namespace {

using testing::MakePatterned;

// An enhanced metafile drawn by GDI: a red square in the left half of a
// frame of Width x Height screen pixels.
TMemoryStream& DrawnMetafile(TMemoryStream& s, int width, int height) {
  HDC screen = ::GetDC(nullptr);
  const RECT frame{
      0, 0,
      ::MulDiv(width, ::GetDeviceCaps(screen, HORZSIZE) * 100, ::GetDeviceCaps(screen, HORZRES)),
      ::MulDiv(height, ::GetDeviceCaps(screen, VERTSIZE) * 100, ::GetDeviceCaps(screen, VERTRES))};
  HDC recorder = ::CreateEnhMetaFileA(screen, nullptr, &frame, nullptr);
  ::ReleaseDC(nullptr, screen);
  HBRUSH red = ::CreateSolidBrush(RGB(255, 0, 0));
  const RECT square{0, 0, width / 2, height};
  ::FillRect(recorder, &square, red);
  ::DeleteObject(red);
  HENHMETAFILE metafile = ::CloseEnhMetaFile(recorder);
  std::vector<std::uint8_t> bytes(::GetEnhMetaFileBits(metafile, 0, nullptr));
  ::GetEnhMetaFileBits(metafile, UINT(bytes.size()), bytes.data());
  ::DeleteEnhMetaFile(metafile);
  s.WriteBuffer(bytes.data(), std::int64_t(bytes.size()));
  s.SetPosition(0);
  return s;
}

TEST(Metafile, ADrawnMetafileLoadsOnTheBackground) {
  TMemoryStream s;
  DrawnMetafile(s, 80, 40);
  TMetaFileGraphic image;
  EXPECT_TRUE(image.IsValidStream(s));
  EXPECT_EQ(s.Position(), 0);
  image.LoadImageFromStream(s, 1);
  EXPECT_NEAR(image.Width(), 80, 2);
  EXPECT_NEAR(image.Height(), 40, 2);
  EXPECT_EQ(image.ImageFormat(), ifTrueColor);
  EXPECT_EQ(image.Pixels(10, 20), 0xFF0000u);
  EXPECT_EQ(image.Pixels(image.Width() - 5, 20), 0xFFFFFFu);
}

TEST(Metafile, WrittenMetafilesHoldTheImage) {
  // One colour: a metafile may come back a pixel larger or smaller.
  auto image = MakePatterned<TMetaFileGraphic>(ifTrueColor, 60, 30);
  image->Fill(0x3366CC);
  TMemoryStream s;
  image->SaveToStream(s);
  s.SetPosition(0);
  TMetaFileGraphic back;
  ASSERT_TRUE(back.IsValidStream(s));
  back.LoadImageFromStream(s, 1);
  ASSERT_NEAR(back.Width(), 60, 2);
  ASSERT_NEAR(back.Height(), 30, 2);
  EXPECT_EQ(back.Pixels(30, 15), 0x3366CCu);
}

TEST(Icon, AnImageIsCutToTheSystemIconSizeFromItsTopLeftCorner) {
  auto image = MakePatterned<TIconGraphic>(ifTrueColor, 300, 300);
  TMemoryStream s;
  image->SaveToStream(s);
  s.SetPosition(0);
  TIconGraphic back;
  ASSERT_TRUE(back.IsValidStream(s));
  back.LoadImageFromStream(s, 1);
  const int cx = ::GetSystemMetrics(SM_CXICON), cy = ::GetSystemMetrics(SM_CYICON);
  ASSERT_EQ(back.Width(), cx);
  ASSERT_EQ(back.Height(), cy);
  for (int y = 0; y < cy; y += 3)
    for (int x = 0; x < cx; x += 3)
      ASSERT_EQ(back.Pixels(x, y), image->Pixels(x, y)) << x << "," << y;
}

TEST(Icon, RegisteredWithTheMetafilesAfterTheBitmaps) {
  RegisterExtraPictureFormats();
  ASSERT_NE(FindGraphicClass("a.ico"), nullptr);
  EXPECT_EQ(FindGraphicClass("a.ico")->className, "TIconGraphic");
  EXPECT_EQ(FindGraphicClass("a.emf")->className, "TMetaFileGraphic");
  EXPECT_EQ(FindGraphicClass("a.wmf")->className, "TMetaFileGraphic");
  TMemoryStream s;
  s.WriteBuffer("\0\0\1\0\1\0\x30\x30", 8);  // 48 x 48: not an icon size it takes
  s.SetSize(22);
  s.SetPosition(0);
  EXPECT_FALSE(TIconGraphic().IsValidStream(s));
}

}  // namespace
}  // namespace lumetra
