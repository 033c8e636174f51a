// Metafiles and icons, which GDI draws: Windows only.
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/format_images.h"
#include "formats/registry.h"
#include "formats/win32/icon_graphic.h"
#include "formats/win32/metafile_graphic.h"
#include "imaging/win32/icon.h"

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

// A Windows metafile recorded by GDI in twips behind a placeable header
// whose box is one inch by half an inch: the red left half on white, at
// the screen's resolution.
TEST(Metafile, APlaceableMetafileLoadsAtItsBoxSize) {
  HDC recorder = ::CreateMetaFileA(nullptr);
  ::SetWindowOrgEx(recorder, 0, 0, nullptr);
  ::SetWindowExtEx(recorder, 1440, 720, nullptr);
  HBRUSH red = ::CreateSolidBrush(RGB(255, 0, 0));
  const RECT half{0, 0, 720, 720};
  ::FillRect(recorder, &half, red);
  ::DeleteObject(red);
  HMETAFILE metafile = ::CloseMetaFile(recorder);
  std::vector<std::uint8_t> bytes(22 + ::GetMetaFileBitsEx(metafile, 0, nullptr));
  ::GetMetaFileBitsEx(metafile, UINT(bytes.size() - 22), bytes.data() + 22);
  ::DeleteMetaFile(metafile);
  const std::uint16_t header[10] = {0xCDD7, 0x9AC6, 0, 0, 0, 1440, 720, 1440, 0, 0};
  std::uint16_t checksum = 0;
  for (const std::uint16_t word : header) checksum ^= word;
  std::memcpy(bytes.data(), header, sizeof header);
  std::memcpy(bytes.data() + 20, &checksum, 2);
  TMemoryStream s;
  s.WriteBuffer(bytes.data(), std::int64_t(bytes.size()));
  s.SetPosition(0);
  TMetaFileGraphic image;
  ASSERT_TRUE(image.IsValidStream(s));
  image.LoadImageFromStream(s, 1);
  HDC screen = ::GetDC(nullptr);
  const int dpiX = ::GetDeviceCaps(screen, LOGPIXELSX), dpiY = ::GetDeviceCaps(screen, LOGPIXELSY);
  ::ReleaseDC(nullptr, screen);
  ASSERT_EQ(image.Width(), dpiX);
  ASSERT_EQ(image.Height(), dpiY / 2);
  EXPECT_EQ(image.Pixels(dpiX / 4, dpiY / 4), 0xFF0000u);
  EXPECT_EQ(image.Pixels(dpiX * 3 / 4, dpiY / 4), 0xFFFFFFu);
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

// Any image assigns to a platform icon through the icon file format, an
// icon image by saving itself; the icon draws back the image's top-left
// corner at the system icon size.
TEST(Icon, AnyImageAssignsToAPlatformIcon) {
  RegisterBuiltinFormats();
  const int cx = ::GetSystemMetrics(SM_CXICON), cy = ::GetSystemMetrics(SM_CYICON);
  auto plain = MakePatterned<TDibGraphic>(ifTrueColor, 100, 70);
  auto palette = MakePatterned<TDibGraphic>(ifColor256, 50, 50);
  auto icon = MakePatterned<TIconGraphic>(ifTrueColor, 40, 40);
  for (const TDibGraphic* source : {plain.get(), palette.get(), static_cast<TDibGraphic*>(icon.get())}) {
    TIcon platformIcon;
    platformIcon.Assign(source);
    ASSERT_FALSE(platformIcon.Empty()) << source->ClassName();
    ASSERT_EQ(platformIcon.Width(), cx);
    ASSERT_EQ(platformIcon.Height(), cy);
    TDibGraphic back;
    back.Assign(&platformIcon);
    ASSERT_EQ(back.Width(), cx);
    for (int y = 0; y < std::min(cy, source->Height()); y += 3)
      for (int x = 0; x < std::min(cx, source->Width()); x += 3)
        ASSERT_EQ(back.Pixels(x, y), source->Pixels(x, y)) << source->ClassName() << " " << x << "," << y;
  }
}

// Icons shared with ImageMagick on the host: win32_peer_files.sh runs this
// with QV_PEER_DIR holding ImageMagick's icon and the pixels it reads in it;
// ours is left there with the pixels ImageMagick must read in it.
TEST(PeerFiles, DISABLED_AnImageMagickIconLoadsAndOursIsLeftForIt) {
  const char* dir = std::getenv("QV_PEER_DIR");
  ASSERT_NE(dir, nullptr);
  const std::string base = std::string(dir) + "\\";
  TIconGraphic peer;
  peer.LoadFromFile(base + "peer.ico");
  std::ifstream in(base + "peer.rgb", std::ios::binary);
  const std::vector<std::uint8_t> rgb((std::istreambuf_iterator<char>(in)), {});
  ASSERT_EQ(rgb.size(), std::size_t(peer.Width()) * peer.Height() * 3);
  for (int y = 0; y < peer.Height(); ++y)
    for (int x = 0; x < peer.Width(); ++x) {
      const std::uint8_t* p = rgb.data() + (std::size_t(y) * peer.Width() + x) * 3;
      ASSERT_EQ(peer.Pixels(x, y), std::uint32_t(p[0] << 16 | p[1] << 8 | p[2])) << x << "," << y;
    }

  auto ours = MakePatterned<TIconGraphic>(ifTrueColor, 300, 300);
  ours->SaveToFile(base + "ours.ico");
  const int cx = ::GetSystemMetrics(SM_CXICON), cy = ::GetSystemMetrics(SM_CYICON);
  std::ofstream out(base + "ours.rgb", std::ios::binary);
  for (int y = 0; y < cy; ++y)
    for (int x = 0; x < cx; ++x) {
      const std::uint32_t c = ours->Pixels(x, y);
      const char bytes[3] = {char(c >> 16), char(c >> 8), char(c)};
      out.write(bytes, 3);
    }
  ASSERT_TRUE(out.good());
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
